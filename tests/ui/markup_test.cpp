// Span markup: scanning, measuring and layout on fixed metrics; TextRender and the off-screen
// painters on real fonts and images.
#include "resources/StringTable.h"
#include "ui/panes/Markup.h"
#include "ui/panes/MemoryDC.h"
#include "ui/panes/TextRender.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <QtTest>

Q_DECLARE_METATYPE(MarkupColor)

namespace {

// Every character 8 px (bold 9 px) wide; lines 16 px (bold 18 px) high; widest character 10 px
// (bold 12 px).
class FixedMetrics : public MarkupMetrics {
public:
    QSize extent(QStringView text, bool bold) const override {
        return {int(text.size()) * (bold ? 9 : 8), bold ? 18 : 16};
    }
    int maxCharWidth(bool bold) const override { return bold ? 12 : 10; }
};

QString message(const char* text) {
    return QString::asprintf(loadString(IDS_MARKUP_MESSAGE), text);
}

QString imageInfo(int width, int height, int pages) {
    return QString::asprintf(loadString(IDS_MARKUP_IMAGE_INFO), width, height, pages);
}

QList<MarkupOp> textOps(const QList<MarkupOp>& ops) {
    QList<MarkupOp> result;
    for (const MarkupOp& op : ops)
        if (op.kind == MarkupOp::Text)
            result.append(op);
    return result;
}

// Paints through MemoryPaintDC and remembers the area it got.
class PaintProbe : public QWidget {
public:
    bool passEvent = true;
    QRect lastArea;
    bool lastReady = false;

protected:
    void paintEvent(QPaintEvent* event) override {
        MemoryPaintDC dc(this, passEvent ? event : nullptr);
        lastArea = dc.area();
        lastReady = dc.isReady();
        dc.fillRect(rect(), Qt::red);
    }
};

} // namespace

class MarkupTest : public QObject {
    Q_OBJECT

private slots:
    void measure_data();
    void measure();
    void layoutRuns();
    void layoutClipsAtRightAndBottom();
    void layoutColours_data();
    void layoutColours();
    void pathologicalMarkupStaysLinear();
    void memoryDcCopiesOnlyItsArea();
    void memoryDcWithoutSurfaceCopiesNothing();
    void memoryPaintDcCoversTheUpdateArea();
    void textRenderOnRealFonts();
};

void MarkupTest::measure_data() {
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QSize>("size");

    QTest::newRow("empty") << QString() << QSize(0, 0);
    QTest::newRow("plain") << "abc" << QSize(24, 16);
    QTest::newRow("message template") << message("无数据") << QSize(27, 18);
    // 尺寸: (4 bold) + 640X480 (7) | 页数: (4 bold) + 1
    QTest::newRow("image info template") << imageInfo(640, 480, 1) << QSize(36 + 56, 36);
    QTest::newRow("box of 10 widest characters, reset by a span")
        << R"(<span width="10">ab<span>cd)" << QSize(100 + 16, 16);
    QTest::newRow("box uses the font current at the attribute")
        << R"(<span bold="true" width="10">a)" << QSize(120, 18);
    QTest::newRow("percent counts as own width") << R"(<span width="50%">ab)" << QSize(16, 16);
    QTest::newRow("width without digits is auto") << R"(<span width="x">ab)" << QSize(16, 16);
    QTest::newRow("huge width is capped")
        << R"(<span width="99999999999999">a)" << QSize(1 << 20, 16);
    QTest::newRow("bold persists through later spans")
        << R"(<span bold="true">a<span color="gray">b)" << QSize(18, 18);
    QTest::newRow("bold other than true is normal") << R"(<span bold="TRUE">a)" << QSize(8, 16);
    QTest::newRow("lines: widest line, heights summed") << "abc<br>de" << QSize(24, 32);
    QTest::newRow("empty lines add no height") << "a<br><br><br>b" << QSize(8, 32);
    QTest::newRow("only a break") << "<br>" << QSize(0, 0);
    QTest::newRow("tallest run sets the line height")
        << R"(a<span bold="true">b<br>c)" << QSize(17, 36);
    QTest::newRow("unknown tag drops only its <") << "<b>x" << QSize(24, 16);
    QTest::newRow("empty tag name") << "<>x" << QSize(16, 16);
    QTest::newRow("unterminated tag ends the text") << "ab<cd" << QSize(16, 16);
    QTest::newRow("br with a space: the rest is text") << "<br x>y" << QSize(24, 16);
    QTest::newRow("span without attributes") << "<span>abc" << QSize(24, 16);
    QTest::newRow("bare span takes the text up to the next = as an attribute name")
        << R"(<span>a<span bold="true">b)" << QSize(8, 16);
    QTest::newRow("span attribute without =: the rest is text, > included")
        << "<span bold>x" << QSize(48, 16);
    QTest::newRow("unterminated value shows from the value on")
        << R"(<span bold="true)" << QSize(40, 16);
    QTest::newRow("unknown attribute ignored")
        << R"(a<span foo="1" width="2">b)" << QSize(8 + 20, 16);
    QTest::newRow("names are case-sensitive") << R"(<span Width="10">a)" << QSize(8, 16);
    QTest::newRow("attribute name runs to the =") << R"(<span x bold="true">a)" << QSize(8, 16);
}

void MarkupTest::measure() {
    QFETCH(QString, markup);
    QFETCH(QSize, size);
    QCOMPARE(measureMarkup(markup, FixedMetrics()), size);
}

void MarkupTest::layoutRuns() {
    const FixedMetrics m;
    {
        const auto ops = layoutMarkup(message("无数据"), m, QRect(0, 0, 100, 50));
        QCOMPARE(ops.size(), 3);
        QCOMPARE(ops[0].kind, MarkupOp::SetBold);
        QVERIFY(ops[0].bold);
        QCOMPARE(ops[1].kind, MarkupOp::SetTextColor);
        QCOMPARE(ops[1].color, MarkupColor{MarkupColor::GrayText});
        QCOMPARE(ops[2].text, QStringLiteral("无数据"));
        QCOMPARE(ops[2].box, QRect(0, 0, 27, 18));
        QCOMPARE(ops[2].clip, ops[2].box);
        QVERIFY(ops[2].bold);
    }
    {
        // Fixed box with alignment; a new span resets both; percent of the rectangle.
        const auto ops = textOps(layoutMarkup(
            uR"(<span width="10" align="right">ab<span align="left">cd<span width="50%" align="center">e)",
            m, QRect(5, 7, 300, 100)));
        QCOMPARE(ops.size(), 3);
        QCOMPARE(ops[0].box, QRect(5, 7, 100, 16));
        QCOMPARE(ops[0].align, MarkupAlign::Right);
        QCOMPARE(ops[1].box, QRect(105, 7, 16, 16));
        QCOMPARE(ops[1].align, MarkupAlign::Left);
        QCOMPARE(ops[2].box, QRect(121, 7, 150, 16));
        QCOMPARE(ops[2].align, MarkupAlign::Center);
    }
    {
        // Lines: the next starts at the left, below the tallest run of the previous one.
        const auto ops = textOps(layoutMarkup(imageInfo(640, 480, 1), m, QRect(10, 20, 92, 36)));
        QCOMPARE(ops.size(), 4);
        QCOMPARE(ops[0].text, QStringLiteral("尺寸: "));
        QVERIFY(ops[0].bold);
        QCOMPARE(ops[1].text, QStringLiteral("640X480"));
        QVERIFY(!ops[1].bold);
        QCOMPARE(ops[1].box, QRect(46, 20, 56, 16));
        QCOMPARE(ops[2].box, QRect(10, 38, 36, 18));
        QCOMPARE(ops[3].box, QRect(46, 38, 8, 16));
    }
    {
        // An alignment without a span reset carries on to later runs of the same span only.
        const auto ops =
            textOps(layoutMarkup(uR"(<span align="right">a<br>b)", m, QRect(0, 0, 50, 50)));
        QCOMPARE(ops.size(), 2);
        QCOMPARE(ops[1].align, MarkupAlign::Right);
        QCOMPARE(ops[1].box, QRect(0, 16, 8, 16));
    }
}

void MarkupTest::layoutClipsAtRightAndBottom() {
    const auto ops =
        textOps(layoutMarkup(u"abc<span>de<br>f", FixedMetrics(), QRect(0, 0, 20, 10)));
    // "de" starts right of the rectangle and "f" below it: neither is drawn.
    QCOMPARE(ops.size(), 1);
    QCOMPARE(ops[0].box, QRect(0, 0, 24, 16));
    QCOMPARE(ops[0].clip, QRect(0, 0, 20, 10));
}

void MarkupTest::layoutColours_data() {
    QTest::addColumn<QString>("markup");
    QTest::addColumn<int>("kind");
    QTest::addColumn<MarkupColor>("color");

    const int text = MarkupOp::SetTextColor, back = MarkupOp::SetBackground;
    QTest::newRow("gray") << R"(<span color="gray">)" << text << MarkupColor{MarkupColor::GrayText};
    QTest::newRow("auto text") << R"(<span color="auto">)" << text
                               << MarkupColor{MarkupColor::WindowText};
    QTest::newRow("rgb, red first")
        << R"(<span color="#FF8001">)" << text << MarkupColor{MarkupColor::Rgb, qRgb(255, 128, 1)};
    QTest::newRow("any two leading characters, mixed case")
        << R"(<span color=xx0a0B0c>)" << text << MarkupColor{MarkupColor::Rgb, qRgb(10, 11, 12)};
    QTest::newRow("digits stop at the first other character")
        << R"(<span color="#12z456">)" << text << MarkupColor{MarkupColor::Rgb, qRgb(0, 0, 0x12)};
    QTest::newRow("too many digits saturate") << R"(<span color="#123456789">)" << text
                                              << MarkupColor{MarkupColor::Rgb, qRgb(255, 255, 255)};
    QTest::newRow("short value") << R"(<span color=">)" << text
                                 << MarkupColor{MarkupColor::Rgb, qRgb(0, 0, 0)};
    QTest::newRow("auto background")
        << R"(<span bkcolor="auto">)" << back << MarkupColor{MarkupColor::Window};
    QTest::newRow("transparent") << R"(<span bkcolor="transparent">)" << back
                                 << MarkupColor{MarkupColor::Transparent};
    QTest::newRow("rgb background")
        << R"(<span bkcolor="#000080">)" << back << MarkupColor{MarkupColor::Rgb, qRgb(0, 0, 128)};
}

void MarkupTest::layoutColours() {
    QFETCH(QString, markup);
    QFETCH(int, kind);
    QFETCH(MarkupColor, color);
    const auto ops = layoutMarkup(markup, FixedMetrics(), QRect(0, 0, 100, 100));
    QCOMPARE(ops.size(), 1);
    QCOMPARE(int(ops[0].kind), kind);
    QCOMPARE(ops[0].color, color);
}

void MarkupTest::pathologicalMarkupStaysLinear() {
    // Each of these would make a naive scanner rescan the rest of the text at every character.
    const int n = 200000;
    const QString lts = QString(n, u'<') + u' ';
    QCOMPARE(measureMarkup(lts, FixedMetrics()), QSize(8, 16));
    const QString equals = "<span a" + QString(n, u'=');
    QCOMPARE(measureMarkup(equals, FixedMetrics()), QSize(0, 0));
    // One span: the later "<span a" are attribute names.
    const QString spans = QString("<span a=b ").repeated(n / 10) + "x";
    QCOMPARE(measureMarkup(spans, FixedMetrics()), QSize(8, 16));
}

void MarkupTest::memoryDcCopiesOnlyItsArea() {
    QImage target(100, 100, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    {
        MemoryDC dc(&painter, QRect(10, 20, 30, 40));
        QVERIFY(dc.isReady());
        dc.fillRect(QRect(0, 0, 100, 100), Qt::red);
        dc.fillRect(QRect(10, 20, 1, 1), Qt::blue); // the area's own coordinates
        QCOMPARE(target.pixel(15, 25), qRgb(255, 255, 255));
    }
    painter.end();
    QCOMPARE(target.pixel(10, 20), qRgb(0, 0, 255));
    QCOMPARE(target.pixel(39, 59), qRgb(255, 0, 0));
    QCOMPARE(target.pixel(9, 20), qRgb(255, 255, 255));
    QCOMPARE(target.pixel(40, 20), qRgb(255, 255, 255));
    QCOMPARE(target.pixel(10, 60), qRgb(255, 255, 255));
}

void MarkupTest::memoryDcWithoutSurfaceCopiesNothing() {
    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    {
        MemoryDC dc(&painter, QRect(2, 2, 0, 5));
        QVERIFY(!dc.isReady());
    }
    {
        MemoryDC dc(nullptr, QRect(0, 0, 5, 5));
        QVERIFY(!dc.isReady());
    }
    painter.end();
    QCOMPARE(target.pixel(2, 2), qRgb(255, 255, 255));
}

void MarkupTest::memoryPaintDcCoversTheUpdateArea() {
    PaintProbe probe;
    probe.resize(60, 40);
    probe.show();
    QVERIFY(QTest::qWaitForWindowExposed(&probe));
    probe.repaint(QRect(3, 4, 5, 6));
    QVERIFY(probe.lastReady);
    QCOMPARE(probe.lastArea, QRect(3, 4, 5, 6));

    // Without an update area the whole client area is painted.
    probe.passEvent = false;
    probe.repaint(QRect(3, 4, 5, 6));
    QCOMPARE(probe.lastArea, QRect(0, 0, 60, 40));

    probe.passEvent = true;
    const QImage shot = probe.grab().toImage();
    QCOMPARE(QColor(shot.pixel(30, 20)), QColor(Qt::red));
}

void MarkupTest::textRenderOnRealFonts() {
    TextRender* render = TextRender::createShared();
    QCOMPARE(TextRender::createShared(), render);
    QVERIFY(render->normalFont().families().contains("Noto Sans CJK SC"));
    QCOMPARE(render->boldFont().weight(), QFont::Bold);

    QImage image(400, 160, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QFont callerFont("DejaVu Serif", 20);
    painter.setFont(callerFont);
    painter.setPen(Qt::black);

    // A message drawn centred: bold grey pixels only inside the measured box.
    const QString note = message("无数据");
    const QSize size = render->measure(&painter, note);
    QVERIFY(size.width() > 0 && size.height() > 0);
    const QRect box(QPoint((image.width() - size.width()) / 2, 10), size);
    render->draw(&painter, note, box);
    QCOMPARE(painter.font(), callerFont);
    QCOMPARE(painter.pen().color(),
             QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText));

    // Two lines of image information; the box is as tall as both lines.
    painter.setPen(Qt::black);
    const QString info = imageInfo(640, 480, 1);
    const QSize infoSize = render->measure(&painter, info);
    const QSize oneLine = render->measure(&painter, imageInfo(640, 480, 1).section("<br>", 0, 0));
    QCOMPARE(infoSize.height(), 2 * oneLine.height());
    QCOMPARE(infoSize.width(), oneLine.width());
    const QRect infoBox(QPoint((image.width() - infoSize.width()) / 2, 60), infoSize);
    render->draw(&painter, info, infoBox);

    // Opaque background of a span, and a 50% box aligned right.
    render->draw(&painter,
                 R"(<span bkcolor="#FFE080" color="#C00000" width="50%" align="right">右对齐)",
                 QRect(0, 120, 400, 30));
    painter.end();

    if (qEnvironmentVariableIsSet("TIDEWELL_SAVE_RENDER"))
        image.save(qEnvironmentVariable("TIDEWELL_SAVE_RENDER"));

    int inked = 0;
    for (int y = 0; y < 55; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == qRgb(255, 255, 255))
                continue;
            QVERIFY2(box.contains(x, y), qPrintable(QString("ink at %1,%2").arg(x).arg(y)));
            ++inked;
        }
    }
    QVERIFY(inked > 20);
    // The background fills behind the text only, which sits at the right of the left half.
    int leftHalf = 0, rightQuarter = 0, outside = 0;
    for (int y = 120; y < 150; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != qRgb(0xFF, 0xE0, 0x80))
                continue;
            (x < 100 ? leftHalf : x >= 150 && x < 200 ? rightQuarter : outside) += 1;
        }
    }
    QCOMPARE(leftHalf, 0);
    QVERIFY(rightQuarter > 0);
    QCOMPARE(outside, 0);

    TextRender::deleteShared();
    QCOMPARE(TextRender::shared(), nullptr);
}

QTEST_MAIN(MarkupTest)
#include "markup_test.moc"
