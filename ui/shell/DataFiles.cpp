#include "ui/shell/DataFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

static void registerShellResources() {
    Q_INIT_RESOURCE(shell);
}

void loadProgramResources() {
    static const bool registered = (registerShellResources(), true);
    (void)registered;
}

QStringList dataFolders() {
    QStringList folders;
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (!programFolder.isEmpty()) {
        folders << programFolder;
        folders << QDir::cleanPath(programFolder + QStringLiteral("/../share/tidewell"));
    }
#ifdef TIDEWELL_DATADIR
    folders << QStringLiteral(TIDEWELL_DATADIR);
#endif
#ifdef TIDEWELL_SOURCE_RESOURCES
    folders << QStringLiteral(TIDEWELL_SOURCE_RESOURCES);
#endif
    folders.removeDuplicates();
    return folders;
}

QString dataFilePath(const QString& name) {
    for (const QString& folder : dataFolders()) {
        const QString path = folder + QLatin1Char('/') + name;
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}
