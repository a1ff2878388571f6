#pragma once

#include "resources/Language.h"

#include <QString>

class QCoreApplication;

// The toolkit's own texts (file dialogs, standard buttons, edit menus) in the
// program's language, so that they match the rest of the window. False when the
// toolkit's translation cannot be found; the texts then stay English.
bool installToolkitTexts(QCoreApplication& application, Language language);

// The file installToolkitTexts() loads for Chinese, for telling the user what is missing.
QString toolkitTextsFile();
