// The hex viewer's arithmetic without a window: line format, the cached
// window, the scroll ranges and the scaled vertical bar.
#include "ui/panes/HexDump.h"

#include <QtTest>

#include <vector>

namespace {

QString format(std::int64_t line, std::int64_t total, const std::vector<unsigned char>& bytes,
               std::int64_t cacheStart, int digits = kHexOffsetDigits) {
    char out[hexLineColumns(16)];
    const HexCache cache{cacheStart, bytes.data(), std::int64_t(bytes.size())};
    return QString::fromLatin1(out, formatHexLine(out, line, total, cache, digits));
}

using Bytes = std::vector<unsigned char>;

} // namespace

Q_DECLARE_METATYPE(Bytes)

class HexDumpTest : public QObject {
    Q_OBJECT

private slots:
    void lineFormat_data() {
        QTest::addColumn<qint64>("line");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<qint64>("cacheStart");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("expected");
        // Columns: offset 0-7, two spaces, bytes 0-7 at 10-33, separator 34,
        // bytes 8-15 at 35-58, space 59, characters 60-75.
        QTest::newRow("five bytes, the rest blank")
            << qint64(0) << qint64(5) << Bytes{0x41, 0x42, 0x00, 0x7F, 0x20} << qint64(0) << 8
            << QStringLiteral("00000000  41 42 00 7F 20                                    "
                              "AB..            ");
        QTest::newRow("lower-case offset, upper-case bytes")
            << qint64(0x1A) << qint64(0x1A1) << Bytes{0xAB} << qint64(0x1A0) << 8
            << QStringLiteral("000001a0  AB                                                "
                              ".               ");
        QTest::newRow("full line, printable edges")
            << qint64(0) << qint64(16) << Bytes{0x1F, 0x20, 0x21, 0x7E, 0x7F, 0x80, 0xFF, 0x30,
                                                0x39, 0x61, 0x7A, 0x25, 0x3C, 0x00, 0x0A, 0x0D}
            << qint64(0) << 8
            << QStringLiteral("00000000  1F 20 21 7E 7F 80 FF 30  39 61 7A 25 3C 00 0A 0D  "
                              ". !~...09az%<...");
        QTest::newRow("bytes outside the cache stay blank")
            << qint64(1) << qint64(64) << Bytes{0x31, 0x32, 0x33, 0x34} << qint64(20) << 8
            << QStringLiteral("00000010              31 32 33 34                           "
                              "    1234        ");
        QTest::newRow("past the 4 GiB mark the offset widens")
            << qint64(0x100000000LL / 16) << qint64(0x100000002LL) << Bytes{0x0D, 0x0A}
            << qint64(0x100000000LL) << 9
            << QStringLiteral("100000000  0D 0A                                             "
                              "..              ");
    }
    void lineFormat() {
        QFETCH(qint64, line);
        QFETCH(qint64, total);
        QFETCH(Bytes, bytes);
        QFETCH(qint64, cacheStart);
        QFETCH(int, digits);
        QFETCH(QString, expected);
        const QString text = format(line, total, bytes, cacheStart, digits);
        QCOMPARE(text, expected);
        QCOMPARE(text.size(), hexLineColumns(digits));
    }

    void lineCountsAndOffsetWidth() {
        const struct {
            std::int64_t total;
            std::int64_t lines;
            int digits;
        } cases[] = {
            {0, 0, 8},
            {1, 1, 8},
            {16, 1, 8},
            {17, 2, 8},
            {3LL << 30, (3LL << 30) / 16, 8},
            {1LL << 32, 1LL << 28, 8}, // last line 0xfffffff0
            {(1LL << 32) + 1, (1LL << 28) + 1, 9},
            {1LL << 40, 1LL << 36, 10},
        };
        for (const auto& c : cases) {
            QCOMPARE(hexLineCount(c.total), c.lines);
            QCOMPARE(hexOffsetDigits(c.total), c.digits);
        }
        QCOMPARE(hexLineColumns(8), 76);
        QCOMPARE(visibleLineCount(0, 13), 1);
        QCOMPARE(visibleLineCount(130, 13), 10);
        QCOMPARE(visibleLineCount(131, 13), 11);
    }

    // L = 10 visible lines: a window is 1600 bytes, a screen 160.
    void cacheWindow_data() {
        QTest::addColumn<qint64>("firstLine");
        QTest::addColumn<qint64>("cacheStart");
        QTest::addColumn<qint64>("cacheLength");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<bool>("needed");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<int>("size");
        const qint64 big = 1000000;
        QTest::newRow("first paint reads from the start")
            << qint64(0) << qint64(0) << qint64(0) << big << true << qint64(0) << 1600;
        QTest::newRow("visible lines cached: no read")
            << qint64(50) << qint64(0) << qint64(1600) << big << false << qint64(0) << 0;
        QTest::newRow("last cached screen: no read")
            << qint64(90) << qint64(0) << qint64(1600) << big << false << qint64(0) << 0;
        QTest::newRow("one line past the cache: two screens back")
            << qint64(91) << qint64(0) << qint64(1600) << big << true << qint64(1456 - 320) << 1600;
        QTest::newRow("above the cache: eight screens back")
            << qint64(1000) << qint64(16100) << qint64(1600) << big << true << qint64(16000 - 1280)
            << 1600;
        QTest::newRow("near the top the window starts at 0")
            << qint64(5) << qint64(16000) << qint64(1600) << big << true << qint64(0) << 1600;
        QTest::newRow("the window stops at the end")
            << qint64(6240) << qint64(0) << qint64(1600) << qint64(100000) << true
            << qint64(99840 - 320) << 480;
        QTest::newRow("a short last screen counts as cached")
            << qint64(6240) << qint64(99520) << qint64(480) << qint64(100000) << false << qint64(0)
            << 0;
        QTest::newRow("a body shorter than a screen is read once")
            << qint64(0) << qint64(0) << qint64(5) << qint64(5) << false << qint64(0) << 0;
        QTest::newRow("empty body: nothing to read")
            << qint64(0) << qint64(0) << qint64(0) << qint64(0) << false << qint64(0) << 0;
        QTest::newRow("beyond 2 GiB positions stay exact")
            << qint64(200000000) << qint64(0) << qint64(1600) << qint64(3LL << 30) << true
            << qint64(3200000000LL - 320) << 1600;
    }
    void cacheWindow() {
        QFETCH(qint64, firstLine);
        QFETCH(qint64, cacheStart);
        QFETCH(qint64, cacheLength);
        QFETCH(qint64, total);
        QFETCH(bool, needed);
        QFETCH(qint64, start);
        QFETCH(int, size);
        const HexCacheRead read = planCacheRead(firstLine, 10, cacheStart, cacheLength, total);
        QCOMPARE(read.needed, needed);
        if (needed) {
            QCOMPARE(read.start, start);
            QCOMPARE(read.size, size);
            // Whatever is read covers every visible byte.
            const std::int64_t first = firstLine * 16;
            QVERIFY(read.start <= first);
            QVERIFY(read.start + read.size >= std::min<std::int64_t>(first + 160, total));
        }
    }

    // Characters 8 px wide, lines 10 px high: content 608 px wide; bars 15 px.
    void scrollBars_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<int>("hPos");
        QTest::addColumn<qint64>("vPos");
        QTest::addColumn<bool>("needH");
        QTest::addColumn<bool>("needV");
        QTest::addColumn<int>("hPage");
        QTest::addColumn<qint64>("vPage");
        QTest::addColumn<int>("hPosOut");
        QTest::addColumn<qint64>("vPosOut");
        QTest::newRow("everything fits: positions back to 0")
            << 700 << 200 << qint64(20) << 50 << qint64(7) << false << false << 0 << qint64(0) << 0
            << qint64(0);
        QTest::newRow("tall only") << 700 << 200 << qint64(100) << 0 << qint64(30) << false << true
                                   << 0 << qint64(20) << 0 << qint64(30);
        QTest::newRow("the vertical bar's width makes it too narrow")
            << 620 << 200 << qint64(100) << 0 << qint64(0) << true << true << 605 << qint64(18) << 0
            << qint64(0);
        QTest::newRow("wide only") << 300 << 200 << qint64(10) << 400 << qint64(0) << true << false
                                   << 300 << qint64(0) << 308 << qint64(0);
        QTest::newRow("the horizontal bar's height makes it too short")
            << 300 << 200 << qint64(19) << 0 << qint64(5) << true << true << 285 << qint64(18) << 0
            << qint64(1);
        QTest::newRow("taller after scrolling to the end: clamped to lines - page")
            << 700 << 500 << qint64(100) << 0 << qint64(80) << false << true << 0 << qint64(50) << 0
            << qint64(50);
        QTest::newRow("negative positions rise to 0")
            << 100 << 100 << qint64(100) << -5 << qint64(-3) << true << true << 85 << qint64(8) << 0
            << qint64(0);
        QTest::newRow("billions of lines")
            << 700 << 200 << qint64(1LL << 36) << 0 << qint64(1LL << 40) << false << true << 0
            << qint64(20) << 0 << qint64((1LL << 36) - 20);
    }
    void scrollBars() {
        HexScrollInput in;
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(qint64, lines);
        QFETCH(int, hPos);
        QFETCH(qint64, vPos);
        in.width = width;
        in.height = height;
        in.contentWidth = 608;
        in.lines = lines;
        in.lineHeight = 10;
        in.vBarWidth = 15;
        in.hBarHeight = 15;
        in.hPos = hPos;
        in.vPos = vPos;
        const HexScrollLayout out = layoutScrollBars(in);
        QTEST(out.needH, "needH");
        QTEST(out.needV, "needV");
        QTEST(out.hPage, "hPage");
        QTEST(qint64(out.vPage), "vPage");
        QTEST(out.hPos, "hPosOut");
        QTEST(qint64(out.vPos), "vPosOut");
    }

    void barScale() {
        // Fits: one bar value per line.
        const HexBarScale small = HexBarScale::forRange(1000);
        QCOMPARE(small.scale, 1);
        QCOMPARE(small.barMax, 1000);
        QCOMPARE(small.toBar(437), 437);
        QCOMPARE(small.fromBar(437), 437);
        QCOMPARE(small.barPage(20), 20);

        for (const std::int64_t maxPos : {std::int64_t(2147483647) + 1, std::int64_t(1) << 36,
                                          (std::int64_t(1) << 40) + 12345}) {
            const HexBarScale s = HexBarScale::forRange(maxPos);
            QVERIFY(s.scale > 1);
            QVERIFY(s.barMax <= 2147483647);
            // Both ends exact, and the last bar value reaches the last line.
            QCOMPARE(s.toBar(0), 0);
            QCOMPARE(s.fromBar(0), 0);
            QCOMPARE(s.toBar(maxPos), s.barMax);
            QCOMPARE(s.fromBar(s.barMax), maxPos);
            // Round trips stay within one step and never pass the end.
            for (const std::int64_t pos : {std::int64_t(1), maxPos / 3, maxPos - 1}) {
                const std::int64_t back = s.fromBar(s.toBar(pos));
                QVERIFY(back <= pos && pos - back < s.scale);
                QVERIFY(back <= maxPos);
            }
            QVERIFY(s.barPage(20) >= 1 && s.barPage(20) <= 20);
        }
        // A small limit shows the same on small numbers.
        const HexBarScale tiny = HexBarScale::forRange(1001, 100);
        QCOMPARE(tiny.scale, 11);
        QCOMPARE(tiny.barMax, 91);
        QCOMPARE(tiny.fromBar(90), 990);
        QCOMPARE(tiny.fromBar(91), 1001);
        QCOMPARE(tiny.barPage(50), 4);
    }
};

QTEST_APPLESS_MAIN(HexDumpTest)
#include "hexdump_test.moc"
