#include "ui/shell/ToolkitTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

QString toolkitTextsFile() {
    return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        .filePath(QStringLiteral("qtbase_zh_CN.qm"));
}

bool installToolkitTexts(QCoreApplication& application, Language language) {
    // The toolkit speaks English of its own.
    if (language == Language::English)
        return true;
    auto* translator = new QTranslator(&application);
    if (!translator->load(toolkitTextsFile()) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
