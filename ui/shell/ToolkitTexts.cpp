#include "ui/shell/ToolkitTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

QString toolkitTextsFile() {
    // The program speaks simplified Chinese whatever the desktop's language is.
    return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        .filePath(QStringLiteral("qtbase_zh_CN.qm"));
}

bool installToolkitTexts(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(toolkitTextsFile()) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
