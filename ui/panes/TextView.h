// Read-only text with syntax colouring, on the Scintilla component.
#pragma once

#include "ui/panes/StyleFile.h"

#include <Qsci/qsciscintillabase.h>

class TextView : public QsciScintillaBase {
    Q_OBJECT

public:
    // A view over `rect` of `parent`, or nullptr when the style file cannot
    // be read (the next call tries again).
    static TextView* create(const QRect& rect, QWidget* parent);

    // Lexer and styles for "javascript", "html", "xml", "css"; any other
    // name keeps the component's plain-text lexer.
    void setLanguage(const QString& name);

    // Shows the first 2 MiB of the file in `codePage` (-1: from the
    // byte-order mark). False when the file is empty or unreadable.
    bool loadFile(const QString& path, int codePage);

    // Where the style file is looked for: next to the program, then the
    // installed data folder, then the source tree (for runs from the build).
    static QStringList styleFileCandidates();
    // Used instead of the candidates when not empty.
    static void setStyleFilePath(const QString& path);
    // The process-wide table, or nullptr before the first successful creation.
    static const StyleTable* styleTable();

private:
    explicit TextView(QWidget* parent);
    void applyStyle(int style, const StyleRecord& record);
};
