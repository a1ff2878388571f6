#include "ui/panes/TextView.h"

#include "ui/panes/Charset.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>

#include <optional>

namespace {

std::optional<StyleTable>& sharedStyles() {
    static std::optional<StyleTable> table;
    return table;
}

QString& styleFileOverride() {
    static QString path;
    return path;
}

bool ensureStyles() {
    if (sharedStyles())
        return true;
    const QStringList candidates = styleFileOverride().isEmpty() ? TextView::styleFileCandidates()
                                                                 : QStringList{styleFileOverride()};
    for (const QString& path : candidates) {
        if (!QFile::exists(path))
            continue;
        StyleTable table;
        if (!loadStyleFile(path, table))
            return false;
        sharedStyles() = std::move(table);
        return true;
    }
    return false;
}

// Where script inside HTML is styled: the HTML lexer's client-script styles
// for each style of the C-like lexer.
int htmlScriptStyle(int cppStyle) {
    switch (cppStyle) {
    case 0:
        return 41;
    case 1:
        return 42;
    case 2:
        return 43;
    case 3:
        return 44;
    case 4:
        return 45;
    case 5:
        return 47;
    case 6:
        return 48;
    case 7:
        return 49;
    case 10:
        return 50;
    case 11:
        return 46;
    case 14:
        return 52;
    default:
        return cppStyle;
    }
}

// The desktop's fixed-width font, by the name of the face it resolves to:
// the component takes a single family, so the simplified-Chinese face is
// registered behind that one (otherwise Qt falls back on the Japanese glyph
// shapes for Chinese pages).
const QByteArray& textFamily() {
    static const QByteArray family = [] {
        const QString name =
            QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
        QFont::insertSubstitution(name, QStringLiteral("Noto Sans CJK SC"));
        return name.toUtf8();
    }();
    return family;
}

} // namespace

QStringList TextView::styleFileCandidates() {
    const QString name = QStringLiteral("/scintilla_style.xml");
    return {QCoreApplication::applicationDirPath() + name, QStringLiteral(TIDEWELL_DATADIR) + name,
            QStringLiteral(TIDEWELL_SOURCE_RESOURCES) + name};
}

void TextView::setStyleFilePath(const QString& path) {
    styleFileOverride() = path;
    sharedStyles().reset();
}

const StyleTable* TextView::styleTable() {
    return sharedStyles() ? &*sharedStyles() : nullptr;
}

TextView::TextView(QWidget* parent) : QsciScintillaBase(parent) {
    // Every style starts from the default one, so a fixed-width face here
    // is what the whole text is shown in unless the style file says else.
    SendScintilla(SCI_STYLESETFONT, STYLE_DEFAULT, textFamily().constData());
    SendScintilla(SCI_STYLESETSIZE, STYLE_DEFAULT, 10L);
    SendScintilla(SCI_SETMARGINWIDTHN, 1, 0L);
    SendScintilla(SCI_SETMARGINLEFT, 0, 6L);
    // A little air between lines makes dense markup easier to read.
    SendScintilla(SCI_SETEXTRAASCENT, 1L);
    SendScintilla(SCI_SETEXTRADESCENT, 1L);
    // A wrapped line goes on one step (four columns, as web sources are
    // mostly indented) further in than it began, so that wrapping does not
    // look like a new line of the document.
    SendScintilla(SCI_SETWRAPINDENTMODE, SC_WRAPINDENT_INDENT);
    SendScintilla(SCI_SETTABWIDTH, 4L);
    // The pane frames it already, and the picture view next to it has no
    // frame either: switching between them should not make the edge jump.
    setFrameShape(QFrame::NoFrame);
}

TextView* TextView::create(const QRect& rect, QWidget* parent) {
    if (!ensureStyles())
        return nullptr;
    auto* view = new TextView(parent);
    view->setGeometry(rect);
    view->show();
    return view;
}

void TextView::applyStyle(int style, const StyleRecord& record) {
    SendScintilla(SCI_STYLESETFORE, style, long(record.foreground));
    SendScintilla(SCI_STYLESETBACK, style, long(record.background));
    if (!record.fontName.isEmpty())
        SendScintilla(SCI_STYLESETFONT, style, record.fontName.toUtf8().constData());
    if (record.fontStyle != 0) {
        SendScintilla(SCI_STYLESETBOLD, style, long((record.fontStyle & 1) != 0));
        SendScintilla(SCI_STYLESETITALIC, style, long((record.fontStyle & 2) != 0));
        SendScintilla(SCI_STYLESETUNDERLINE, style, long((record.fontStyle & 4) != 0));
    }
    if (record.fontSize > 0)
        SendScintilla(SCI_STYLESETSIZE, style, long(record.fontSize));
}

void TextView::setLanguage(const QString& name) {
    const StyleTable* table = styleTable();
    SendScintilla(SCI_STYLECLEARALL);
    if (name == u"javascript") {
        SendScintilla(SCI_SETLEXER, SCLEX_CPP);
        // Template literals are everywhere in today's scripts: the C-like
        // lexer colours them as strings (style 20) only when asked to.
        SendScintilla(SCI_SETPROPERTY, "lexer.cpp.backquoted.strings", "1");
        for (int style : {0, 2, 1, 3})
            SendScintilla(SCI_STYLESETEOLFILLED, style, 1L);
    } else if (name == u"html") {
        SendScintilla(SCI_SETLEXER, SCLEX_HTML);
        if (table != nullptr) {
            auto script = table->find(QStringLiteral("javascript"));
            if (script != table->end()) {
                for (const StyleRecord& record : script->second.styles)
                    applyStyle(htmlScriptStyle(record.styleId), record);
                SendScintilla(SCI_SETKEYWORDS, uintptr_t(1), script->second.keywords.constData());
            }
        }
        for (int style : {41, 42, 44})
            SendScintilla(SCI_STYLESETEOLFILLED, style, 1L);
    } else if (name == u"xml") {
        SendScintilla(SCI_SETLEXER, SCLEX_XML);
    } else if (name == u"css") {
        SendScintilla(SCI_SETLEXER, SCLEX_CSS);
    }
    if (table == nullptr)
        return;
    auto it = table->find(name);
    if (it == table->end())
        return;
    for (const StyleRecord& record : it->second.styles)
        applyStyle(record.styleId, record);
    SendScintilla(SCI_SETKEYWORDS, uintptr_t(0), it->second.keywords.constData());
}

bool TextView::loadFile(const QString& path, int codePage) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = std::min<qint64>(file.size(), qint64(kTextViewLimit));
    if (size <= 0)
        return false;
    const QByteArray bytes = file.read(size);
    if (bytes.size() != size)
        return false;
    if (codePage == -1)
        codePage = codePageFromBom(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   std::size_t(bytes.size()));
    // The component works in UTF-8 here, so the body is converted instead
    // of handing the component its original code page.
    const std::string text =
        textToUtf8(std::string_view(bytes.constData(), bytes.size()), codePage);
    SendScintilla(SCI_SETCODEPAGE, SC_CP_UTF8);
    SendScintilla(SCI_SETTEXT, uintptr_t(0), text.c_str());
    return true;
}
