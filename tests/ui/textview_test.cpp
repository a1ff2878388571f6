// The text view: lexers and styles per language, and loading bodies in
// their character encodings.
#include "ui/panes/Charset.h"
#include "ui/panes/TextView.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray viewText(const TextView& view) {
    const long length = view.SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH);
    QByteArray text(length + 1, '\0');
    view.SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(length + 1),
                       static_cast<void*>(text.data()));
    text.resize(length);
    return text;
}

int styleAt(const TextView& view, const QByteArray& word) {
    const int pos = int(viewText(view).indexOf(word));
    view.SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
    return int(
        view.SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(pos)));
}

long foreground(const TextView& view, int style) {
    return view.SendScintilla(QsciScintillaBase::SCI_STYLEGETFORE,
                              static_cast<unsigned long>(style));
}

const StyleRecord* findStyle(const QString& language, int id) {
    for (const StyleRecord& r : TextView::styleTable()->at(language).styles)
        if (r.styleId == id)
            return &r;
    return nullptr;
}

} // namespace

class TextViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QWidget parent;

    QString writeBody(const QByteArray& bytes) {
        static int n = 0;
        const QString path = dir.filePath(QStringLiteral("body%1").arg(++n));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the body");
        return path;
    }

    // As the preview does it: language, word wrap, the text, read-only.
    std::unique_ptr<TextView> show(const QString& language, const QByteArray& body,
                                   int codePage = -1) {
        std::unique_ptr<TextView> view(TextView::create(QRect(0, 0, 480, 240), &parent));
        if (!view)
            return view;
        view->setLanguage(language);
        view->SendScintilla(QsciScintillaBase::SCI_SETWRAPMODE, QsciScintillaBase::SC_WRAP_WORD);
        view->loadFile(writeBody(body), codePage);
        view->SendScintilla(QsciScintillaBase::SCI_SETREADONLY, 1);
        return view;
    }

    void screenshot(TextView& view, const char* name) {
        parent.resize(view.size());
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        view.grab().save(QStringLiteral("/tmp/tidewell_textview_%1.png").arg(QLatin1String(name)));
    }

private slots:
    void missingStyleFileFailsCreation() {
        TextView::setStyleFilePath(dir.filePath(QStringLiteral("none.xml")));
        QVERIFY(TextView::create(QRect(0, 0, 10, 10), &parent) == nullptr);
        QVERIFY(TextView::styleTable() == nullptr);
        TextView::setStyleFilePath(QString());
        std::unique_ptr<TextView> view(TextView::create(QRect(0, 0, 10, 10), &parent));
        QVERIFY(view);
        QVERIFY(TextView::styleTable()->count(QStringLiteral("html")));
    }

    void jsonUsesTheScriptLexer() {
        auto view = show(
            QStringLiteral("javascript"),
            "{\"name\": \"tidewell\", \"count\": 42, \"ok\": true, \"list\": [1, 2.5, null]}\n");
        QVERIFY(view);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETLEXER),
                 long(QsciScintillaBase::SCLEX_CPP));
        QCOMPARE(styleAt(*view, "42"), 4);   // number
        QCOMPARE(styleAt(*view, "true"), 5); // keyword from the style file
        QCOMPARE(foreground(*view, 5),
                 long(findStyle(QStringLiteral("javascript"), 5)->foreground));
        QVERIFY(view->SendScintilla(QsciScintillaBase::SCI_STYLEGETEOLFILLED, 2UL));
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETREADONLY), 1L);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETWRAPMODE),
                 long(QsciScintillaBase::SC_WRAP_WORD));
        screenshot(*view, "json");
    }

    void scriptTemplateLiteralsAreStrings() {
        auto view = show(QStringLiteral("javascript"), "const url = `/api?id=${id}`;\n");
        QVERIFY(view);
        QCOMPARE(styleAt(*view, "`/api"), 20);
        QCOMPARE(foreground(*view, 20),
                 long(findStyle(QStringLiteral("javascript"), 20)->foreground));
    }

    // Script inside HTML is coloured like JavaScript through the mapped styles.
    void htmlColoursEmbeddedScript() {
        auto view = show(
            QStringLiteral("html"),
            "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head><title>Test</title>\n"
            "<script>\n// greet\nvar n = 10;\nfunction hi() { return \"hello\"; }\n</script>\n"
            "</head>\n<body class=\"main\"><p>Text &amp; more</p><!-- note --></body>\n</html>\n");
        QVERIFY(view);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETLEXER),
                 long(QsciScintillaBase::SCLEX_HTML));
        QCOMPARE(styleAt(*view, "var"), 47);
        QCOMPARE(styleAt(*view, "body"), 1);
        QCOMPARE(foreground(*view, 47),
                 long(findStyle(QStringLiteral("javascript"), 5)->foreground));
        QCOMPARE(foreground(*view, 1), long(findStyle(QStringLiteral("html"), 1)->foreground));
        for (unsigned long style : {41UL, 42UL, 44UL})
            QVERIFY(view->SendScintilla(QsciScintillaBase::SCI_STYLEGETEOLFILLED, style));
        screenshot(*view, "html");
    }

    void otherLanguages_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("lexer");
        QTest::newRow("xml") << "xml" << int(QsciScintillaBase::SCLEX_XML);
        QTest::newRow("css") << "css" << int(QsciScintillaBase::SCLEX_CSS);
        QTest::newRow("unknown keeps plain text")
            << "x-mpegURL" << int(QsciScintillaBase::SCLEX_CONTAINER);
    }
    void otherLanguages() {
        QFETCH(QString, language);
        QFETCH(int, lexer);
        auto view = show(language, "a { color: red; }\n");
        QVERIFY(view);
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETLEXER), long(lexer));
    }

    void gbkPageShowsChinese() {
        const auto charset = charsetFromContentType("text/html; charset=gbk");
        QVERIFY(charset);
        // "<p>你好，世界</p>" in GBK
        auto view =
            show(QStringLiteral("html"), "<p>\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7</p>\n",
                 codePageForCharset(*charset));
        QVERIFY(view);
        QCOMPARE(QString::fromUtf8(viewText(*view)), QStringLiteral("<p>你好，世界</p>\n"));
        screenshot(*view, "gbk");
    }

    void utf16BodyByItsByteOrderMark() {
        const QString text = QStringLiteral("{\"city\": \"北京\"}\n");
        QByteArray body("\xFF\xFE");
        body += QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        auto view = show(QStringLiteral("javascript"), body);
        QVERIFY(view);
        QCOMPARE(QString::fromUtf8(viewText(*view)), text);
    }

    void loadLimitsAndFailures() {
        std::unique_ptr<TextView> view(TextView::create(QRect(0, 0, 100, 100), &parent));
        QVERIFY(view);
        QVERIFY(!view->loadFile(writeBody(QByteArray()), -1));
        QVERIFY(!view->loadFile(dir.filePath(QStringLiteral("missing")), -1));
        QVERIFY(view->loadFile(writeBody(QByteArray(3 * 1024 * 1024, 'x')), -1));
        QCOMPARE(view->SendScintilla(QsciScintillaBase::SCI_GETTEXTLENGTH), long(kTextViewLimit));
        QVERIFY(view->loadFile(writeBody(QByteArray("before\0after", 12)), -1));
        QCOMPARE(viewText(*view), QByteArray("before"));
    }
};

QTEST_MAIN(TextViewTest)
#include "textview_test.moc"
