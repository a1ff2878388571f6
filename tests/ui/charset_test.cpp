// Charset choice and conversion of text bodies to UTF-8.
#include "ui/panes/Charset.h"

#include <QTest>

class CharsetTest : public QObject {
    Q_OBJECT

private slots:
    void charsetFromContentType_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("matches");
        QTest::addColumn<QString>("charset");
        QTest::newRow("one space") << "text/html; charset=UTF-8" << true << "UTF-8";
        QTest::newRow("no space") << "text/html;charset=gbk" << true << "gbk";
        QTest::newRow("tab") << "text/html;\tcharset=gbk" << true << "gbk";
        QTest::newRow("two spaces") << "text/html;  charset=gbk" << false << "";
        QTest::newRow("charset not last")
            << "text/html; charset=utf-8; format=flowed" << false << "";
        QTest::newRow("charset not first")
            << "text/plain; format=flowed; charset=utf-8" << false << "";
        QTest::newRow("upper-case key") << "text/html; Charset=utf-8" << false << "";
        QTest::newRow("quoted keeps quotes")
            << "text/html; charset=\"utf-8\"" << true << "\"utf-8\"";
        QTest::newRow("no parameters") << "text/html" << false << "";
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("nothing before the semicolon") << "; charset=utf-8" << false << "";
        QTest::newRow("empty charset") << "text/html; charset=" << false << "";
        QTest::newRow("space inside the charset kept")
            << "text/html; charset=utf 8" << true << "utf 8";
        QTest::newRow("space is not the one allowed")
            << QString::fromUtf8("text/html;\u00A0charset=gbk") << false << "";
        QTest::newRow("huge value") << QString(1 << 20, u'a') + "; charset=big5" << true << "big5";
    }
    void charsetFromContentType() {
        QFETCH(QString, value);
        QFETCH(bool, matches);
        QFETCH(QString, charset);
        auto result = ::charsetFromContentType(value.toStdString());
        QCOMPARE(result.has_value(), matches);
        if (matches)
            QCOMPARE(QString::fromStdString(*result), charset);
    }

    void codePageForCharset_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codePage");
        QTest::newRow("utf-8 any case") << "UTF-8" << 65001;
        QTest::newRow("second alias") << "utf8" << 65001;
        QTest::newRow("Latin1") << "Latin1" << 28591;
        QTest::newRow("gbk") << "GBK" << 936;
        QTest::newRow("gb18030") << "gb18030" << 936;
        QTest::newRow("big5") << "Big5" << 950;
        QTest::newRow("shift_jis") << "shift_jis" << 932;
        QTest::newRow("windows-1251") << "Windows-1251" << 1251;
        QTest::newRow("last row") << "cskoi8r" << 20866;
        QTest::newRow("last alias of a row") << "csPC8CodePage437" << 437;
        QTest::newRow("utf-16 not in table") << "utf-16" << -1;
        QTest::newRow("prefix of an alias") << "utf" << -1;
        QTest::newRow("alias plus more") << "utf-8x" << -1;
        QTest::newRow("quoted") << "\"utf-8\"" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void codePageForCharset() {
        QFETCH(QString, name);
        QFETCH(int, codePage);
        QCOMPARE(::codePageForCharset(name.toStdString()), codePage);
    }

    void codePageFromBom_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("codePage");
        QTest::newRow("utf-8") << QByteArray("\xEF\xBB\xBFx") << 65001;
        QTest::newRow("utf-8 bom alone is too short") << QByteArray("\xEF\xBB\xBF") << 65001;
        QTest::newRow("utf-8 cut") << QByteArray("\xEF\xBB") << 0;
        QTest::newRow("utf-16le") << QByteArray("\xFF\xFE") << 1200;
        QTest::newRow("utf-16be") << QByteArray("\xFE\xFF"
                                                "\0a",
                                                4)
                                  << 1201;
        QTest::newRow("ascii") << QByteArray("plain") << 0;
        QTest::newRow("one byte") << QByteArray("\xFF") << 0;
    }
    void codePageFromBom() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, codePage);
        QCOMPARE(::codePageFromBom(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   std::size_t(bytes.size())),
                 codePage);
    }

    // Every page the table names converts (720 by our own table).
    void everyTablePageConverts() {
        for (int cp : {1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  28591,
                       28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28600, 28601,
                       28603, 28604, 28605, 28606, 437,   737,   775,   850,   852,   855,
                       857,   858,   860,   861,   862,   863,   865,   866,   869,   950,
                       936,   932,   949,   51949, 874,   10007, 21866, 20866, 65001}) {
            QVERIFY2(iconvNameForCodePage(cp) != nullptr, QByteArray::number(cp));
            QVERIFY2(::textToUtf8("abc", cp) == "abc", QByteArray::number(cp));
        }
        QCOMPARE(::textToUtf8("a\x9F", 720), std::string("a\xD8\xA7")); // ARABIC LETTER ALEF
    }

    void textToUtf8_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QString>("text");
        QTest::newRow("gbk") << QByteArray("\xC4\xE3\xBA\xC3") << 936 << QString::fromUtf8("你好");
        QTest::newRow("big5") << QByteArray("\xA7\x41\xA6\x6E") << 950 << QString::fromUtf8("你好");
        QTest::newRow("shift_jis")
            << QByteArray("\x82\xB1\x82\xF1") << 932 << QString::fromUtf8("こん");
        QTest::newRow("windows-1251")
            << QByteArray("\xCF\xF0\xE8") << 1251 << QString::fromUtf8("При");
        QTest::newRow("windows-1252 euro") << QByteArray("\x80") << 1252 << QString::fromUtf8("€");
        QTest::newRow("latin1") << QByteArray("caf\xE9") << 28591 << QString::fromUtf8("café");
        QTest::newRow("koi8-r") << QByteArray("\xF0\xD2\xC9") << 20866 << QString::fromUtf8("При");
        QTest::newRow("utf-8 bom dropped") << QByteArray("\xEF\xBB\xBFok") << 65001 << "ok";
        QTest::newRow("ends at zero byte") << QByteArray("ab\0cd", 5) << 0 << "ab";
        QTest::newRow("utf-16le whole text") << QByteArray("\xFF\xFEh\0i\0!\0", 8) << 1200 << "hi!";
        QTest::newRow("utf-16be whole text") << QByteArray("\xFE\xFF\0h\0i", 6) << 1201 << "hi";
        QTest::newRow("utf-16 ends at zero unit")
            << QByteArray("\xFF\xFEh\0\0\0i\0", 8) << 1200 << "h";
        QTest::newRow("utf-16 odd byte at end") << QByteArray("\xFF\xFEh\0i", 5) << 1200 << "h";
        QTest::newRow("unknown page, valid utf-8")
            << QByteArray("\xE4\xBD\xA0") << 0 << QString::fromUtf8("你");
        QTest::newRow("unknown page, not utf-8")
            << QByteArray("caf\xE9") << 0 << QString::fromUtf8("café");
        QTest::newRow("invalid bytes replaced") << QByteArray("a\xFF"
                                                              "b")
                                                << 65001 << QString::fromUtf8("a\uFFFDb");
        QTest::newRow("gbk cut inside a character")
            << QByteArray("\xC4\xE3\xBA") << 936 << QString::fromUtf8("你");
    }
    void textToUtf8() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, codePage);
        QFETCH(QString, text);
        const std::string out =
            ::textToUtf8(std::string_view(bytes.constData(), std::size_t(bytes.size())), codePage);
        QCOMPARE(QString::fromStdString(out), text);
    }
};

QTEST_APPLESS_MAIN(CharsetTest)
#include "charset_test.moc"
