// Reading the text view's style file.
#include "ui/panes/StyleFile.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QString writeFile(const QTemporaryDir& dir, const QByteArray& content) {
    const QString path = dir.filePath(QStringLiteral("scintilla_style.xml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write the style file");
    return path;
}

} // namespace

class StyleFileTest : public QObject {
    Q_OBJECT

private slots:
    void colors_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("color");
        QTest::newRow("red") << "FF0000" << 0x0000FFu;
        QTest::newRow("blue with hash, lower case") << "#0000ff" << 0xFF0000u;
        QTest::newRow("green") << "00Ff00" << 0x00FF00u;
        QTest::newRow("mixed") << "123456" << 0x563412u;
        QTest::newRow("stops at non-digit") << "12zz" << 0x120000u;
        QTest::newRow("hash only first") << "##FF" << 0u;
        QTest::newRow("empty") << "" << 0u;
    }
    void colors() {
        QFETCH(QString, text);
        QFETCH(uint, color);
        QCOMPARE(parseStyleColor(text), color);
    }

    void integers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "12" << 12;
        QTest::newRow("leading space and sign") << "  -3" << -3;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("trailing junk") << "12px" << 0;
        QTest::newRow("trailing space") << "12 " << 0;
        QTest::newRow("overflow") << "99999999999" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("not a number") << "bold" << 0;
    }
    void integers() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(parseStyleInt(text), value);
    }

    void readsLanguagesStylesAndKeywords() {
        QTemporaryDir dir;
        const QString path = writeFile(
            dir,
            "<?xml version='1.0'?>\n"
            "<Anything>\n"
            "  <Lang name='javascript'>\n"
            "    <Keywords>var let</Keywords>\n"
            "    <WordsStyle styleID='5' fgColor='FF0000' fontStyle='3' fontSize='11' "
            "fontName='Mono' />\n"
            "    <WordsStyle styleID='x' bgColor='#0000ff' />\n"
            "    <Other styleID='9' />\n"
            "    <Group><WordsStyle styleID='8' /></Group>\n"
            "  </Lang>\n"
            "  <Lang><WordsStyle styleID='1' /></Lang>\n"
            "  <WordsStyle name='stray' styleID='2' />\n"
            "  <!-- comment -->\n"
            "  <Lang name='css'>\n"
            "    <WordsStyle styleID='1' fontName='0123456789012345678901234567890123456789' />\n"
            "  </Lang>\n"
            "  <Lang name='javascript'>\n"
            "    <WordsStyle styleID='6' />\n"
            "    <Keywords>const</Keywords>\n"
            "  </Lang>\n"
            "</Anything>\n");
        StyleTable table;
        QVERIFY(loadStyleFile(path, table));

        // A child without a name is ignored; one with a name is a language
        // whatever its tag, even when it holds no usable styles.
        QCOMPARE(table.size(), std::size_t(3));
        QVERIFY(table.count(QStringLiteral("stray")));
        QVERIFY(table.at(QStringLiteral("stray")).styles.empty());

        const LanguageStyles& js = table.at(QStringLiteral("javascript"));
        QCOMPARE(js.keywords, QByteArray("const"));
        QCOMPARE(js.styles.size(), std::size_t(3));
        const StyleRecord& first = js.styles[0];
        QCOMPARE(first.styleId, 5);
        QCOMPARE(first.foreground, 0x0000FFu);
        QCOMPARE(first.background, 0u); // missing: black
        QCOMPARE(first.fontStyle, 3);
        QCOMPARE(first.fontSize, 11);
        QCOMPARE(first.fontName, QStringLiteral("Mono"));
        const StyleRecord& second = js.styles[1];
        QCOMPARE(second.styleId, 0);
        QCOMPARE(second.background, 0xFF0000u);
        QCOMPARE(second.fontStyle, 0);
        QVERIFY(second.fontName.isEmpty());
        QCOMPARE(js.styles[2].styleId, 6); // the repeated name appends

        QCOMPARE(table.at(QStringLiteral("css")).styles[0].fontName.size(), kStyleFontNameMax);
        QVERIFY(table.at(QStringLiteral("css")).keywords.isEmpty());
    }

    void failures() {
        QTemporaryDir dir;
        StyleTable table;
        QVERIFY(!loadStyleFile(dir.filePath(QStringLiteral("missing.xml")), table));
        QVERIFY(!loadStyleFile(writeFile(dir, "<a><b name='x'></a>"), table));
        QVERIFY(!loadStyleFile(writeFile(dir, ""), table));
        QVERIFY(table.empty());
        QVERIFY(loadStyleFile(writeFile(dir, "<root/>"), table));
        QVERIFY(table.empty());
    }

    // The file we ship parses, names every language the view handles, and
    // gives every style a background (a missing one would be black).
    void shippedFile() {
        StyleTable table;
        QVERIFY(loadStyleFile(QStringLiteral(TIDEWELL_SOURCE_DIR "/resources/scintilla_style.xml"),
                              table));
        for (const char* name : {"javascript", "html", "xml", "css"}) {
            QVERIFY2(table.count(QString::fromLatin1(name)), name);
            for (const StyleRecord& r : table.at(QString::fromLatin1(name)).styles)
                QVERIFY(r.background != 0);
        }
    }
};

QTEST_APPLESS_MAIN(StyleFileTest)
#include "stylefile_test.moc"
