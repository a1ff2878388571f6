// Where the program's data files (the text view's style file and the like)
// are found, run from the build tree or installed.
#pragma once

#include <QString>
#include <QStringList>

// The folders searched, in order: the program's own folder, the installed
// data folder beside it (<bin>/../share/tidewell), the data folder the build
// was configured for, and the source tree's resources folder.
QStringList dataFolders();
// The first existing `name` in dataFolders(); empty when there is none.
QString dataFilePath(const QString& name);

// Registers the icons compiled into the user-interface library (a static
// library, whose resource initialiser the linker would otherwise drop).
// Safe to call more than once.
void loadProgramResources();
