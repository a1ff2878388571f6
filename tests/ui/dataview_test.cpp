// The hex viewer and the two body panes: what they show for captured
// resources, how they scroll, and how little of a large body they read.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "store/QueuedEventDelivery.h"
#include "support/DocumentStandIns.h"
#include "tests/ui/FixtureStep.h"
#include "ui/panes/BinaryView.h"
#include "ui/panes/DataView.h"
#include "ui/panes/HexDump.h"

#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <cerrno>
#include <string>
#include <vector>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// Bytes that depend on every part of their position, so a position cut to
// 32 bits or read from the wrong place shows in the dump.
unsigned char patternByte(std::int64_t position) {
    const auto x = std::uint64_t(position);
    return static_cast<unsigned char>((x * 131) ^ (x >> 8) ^ (x >> 21) ^ (x >> 29) ^ (x >> 35));
}

std::string patternBytes(std::int64_t from, std::int64_t count) {
    std::string bytes(std::size_t(count), '\0');
    for (std::int64_t i = 0; i < count; ++i)
        bytes[std::size_t(i)] = char(patternByte(from + i));
    return bytes;
}

// The dump line a body of `total` pattern bytes starting at `base` must show.
QString expectedLine(std::int64_t line, std::int64_t total, std::int64_t base = 0) {
    const std::int64_t start = line * kHexBytesPerLine;
    const std::string bytes = patternBytes(base + start, kHexBytesPerLine);
    const HexCache cache{start, reinterpret_cast<const unsigned char*>(bytes.data()),
                         kHexBytesPerLine};
    char out[hexLineColumns(16)];
    return QString::fromLatin1(out, formatHexLine(out, line, total, cache, hexOffsetDigits(total)));
}

// A body of any size made up on the fly from its positions, counting what is
// read from it.
class PatternStream : public InputStream {
public:
    explicit PatternStream(std::int64_t size) : size_(size), reportedSize(size) {}

    std::int32_t read(void* buffer, std::int32_t count) override {
        if (failReads) {
            setLastError(EIO);
            return -1;
        }
        const std::int64_t n = std::min<std::int64_t>(count, size_ - position_);
        if (n <= 0)
            return 0;
        auto* out = static_cast<unsigned char*>(buffer);
        for (std::int64_t i = 0; i < n; ++i)
            out[i] = patternByte(position_ + i);
        position_ += n;
        bytesRead += n;
        return std::int32_t(n);
    }
    bool seek(std::int64_t position) override {
        if (position < 0 || position > size_) {
            setLastError(EINVAL);
            return false;
        }
        position_ = position;
        return true;
    }
    std::int64_t size() override { return reportedSize; }
    std::int64_t position() override { return position_; }

    std::int64_t bytesRead = 0;
    bool failReads = false;

private:
    std::int64_t size_;
    std::int64_t position_ = 0;

public:
    std::int64_t reportedSize;
};

// Paints now, the way the screen would.
QImage paint(QWidget& widget) {
    return widget.grab().toImage();
}

void saveShot(const QImage& image, const char* name) {
    const QByteArray folder = qgetenv("TIDEWELL_SHOTS");
    if (!folder.isEmpty())
        image.save(QString::fromUtf8(folder) + QStringLiteral("/hexview-") + QLatin1String(name) +
                   QStringLiteral(".png"));
}

// True when the image holds drawn (non-background) pixels inside `area`.
bool drawnIn(const QImage& image, const QRect& area, QColor background) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) != background)
                return true;
    return false;
}

void wheel(QWidget* target, int delta) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &event);
}

int visibleLines(BinaryView& view) {
    return visibleLineCount(view.viewport()->height(), view.lineHeight());
}

} // namespace

class DataViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir cacheDir;
    ScriptedDocumentUi ui;
    NoSettings settings;
    QueuedEventDelivery delivery;
    std::unique_ptr<Document> document;

    // A captured POST with these bodies, listed in the document. The response
    // body is written in pieces of up to 1 MiB, as a relay would.
    HttpResource* capture(const std::string& requestBody, std::int64_t responseLength,
                          bool finish = true, bool withResponse = true) {
        auto* resource = new HttpResource(document.get());
        std::string head = "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!requestBody.empty())
            head += "Content-Length: " + std::to_string(requestBody.size()) + "\r\n";
        HttpRequestHeader request;
        FIXTURE_STEP(parseRequestHeader(head.data(), std::int32_t(head.size()), request));
        FIXTURE_STEP(resource->begin(document->takeSequenceNumber()));
        FIXTURE_STEP(resource->writeRequestHeader(request));
        if (!requestBody.empty())
            FIXTURE_STEP(
                resource->writeData(requestBody.data(), std::uint32_t(requestBody.size())));
        if (withResponse) {
            const std::string responseHead =
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(responseLength) + "\r\n";
            HttpResponseHeader response;
            FIXTURE_STEP(parseResponseHeader(responseHead.data(), std::int32_t(responseHead.size()),
                                             response));
            FIXTURE_STEP(resource->writeResponseHeader(response));
            appendBody(resource, responseLength);
        }
        if (finish)
            FIXTURE_STEP(resource->finish());
        document->addResource(resource);
        return resource;
    }

    void appendBody(HttpResource* resource, std::int64_t count) {
        CaptureLocker lock(captureLock());
        const std::int64_t piece = 1 << 20;
        for (std::int64_t done = 0; done < count; done += piece) {
            const std::string bytes =
                patternBytes(resource->receivedSize, std::min(piece, count - done));
            FIXTURE_STEP(resource->writeData(bytes.data(), std::uint32_t(bytes.size())));
            resource->receivedSize += std::int64_t(bytes.size());
        }
    }

private slots:
    void init() {
        document = std::make_unique<Document>(ui, delivery, settings);
        document->cacheFolder = cacheDir.path().toStdString() + "/";
    }
    void cleanup() { document.reset(); }

    void panesAreNamedAndHoldAHexView() {
        QWidget frame;
        RequestDataView request(&frame);
        ResponseDataView response(&frame);
        QCOMPARE(request.objectName(), QStringLiteral("RequestDataView"));
        QCOMPARE(response.objectName(), QStringLiteral("ResponseDataView"));
        QCOMPARE(request.windowTitle(), text(IDS_PANE_REQUEST_DATA));
        QCOMPARE(response.windowTitle(), text(IDS_PANE_RESPONSE_DATA));
        QCOMPARE(request.child(), request.binaryView());
        QCOMPARE(response.child(), response.binaryView());
        QVERIFY(request.binaryView()->emptyText.isEmpty());
        // The columns only line up in a fixed-pitch face.
        const QFontMetrics metrics(request.binaryView()->dumpFont());
        QVERIFY(QFontInfo(request.binaryView()->dumpFont()).fixedPitch());
        QCOMPARE(metrics.horizontalAdvance(QStringLiteral("iiii")),
                 metrics.horizontalAdvance(QStringLiteral("WW.W")));
    }

    // Selecting resources through the document: small and large, still
    // loading, without bodies, with a lost file, and none.
    void panesFollowTheCurrentResource() {
        RequestDataView request;
        ResponseDataView response;
        request.attach(document.get());
        response.attach(document.get());
        for (DataView* pane :
             {static_cast<DataView*>(&request), static_cast<DataView*>(&response)}) {
            pane->resize(660, 260);
            pane->show();
            QVERIFY(QTest::qWaitForWindowExposed(pane));
        }
        BinaryView* requestView = request.binaryView();
        BinaryView* responseView = response.binaryView();

        const std::string form = "name=Tidewell&note=%E4%BD%A0%E5%A5%BD&x=1\x01\xFF";
        HttpResource* small = capture(form, 100);
        HttpResource* spilled = capture("", 40000);
        HttpResource* loading = capture("", 30000, false);
        HttpResource* bare = capture("", 0);
        HttpResource* lost = capture("", 20000);
        // Finished captures are read from their files, small ones too.
        QVERIFY(!small->inMemory);
        QVERIFY(!spilled->inMemory);

        document->setCurrentResource(small);
        QCOMPARE(requestView->totalLength(), std::int64_t(form.size()));
        QCOMPARE(requestView->emptyText, text(IDS_NO_REQUEST_DATA));
        QCOMPARE(responseView->totalLength(), 100);
        QCOMPARE(responseView->emptyText, text(IDS_NO_RESPONSE_BODY));
        saveShot(paint(request), "request-pane");
        saveShot(paint(response), "response-pane");
        QCOMPARE(requestView->lineText(0),
                 QStringLiteral("00000000  6E 61 6D 65 3D 54 69 64  65 77 65 6C 6C 26 6E 6F  "
                                "name=Tidewell&no"));
        QCOMPARE(requestView->lineText(2).right(16), QStringLiteral("A5%BD&x=1..     "));
        QCOMPARE(responseView->lineText(6), expectedLine(6, 100));

        document->setCurrentResource(spilled);
        paint(response);
        QCOMPARE(responseView->totalLength(), 40000);
        QCOMPARE(responseView->verticalPosition(), 0);
        responseView->scrollToLine(2400);
        paint(response);
        QCOMPARE(responseView->lineText(2400), expectedLine(2400, 40000));
        QCOMPARE(responseView->lineText(2499), expectedLine(2499, 40000));
        // Without a request body the request pane says so.
        const QImage noRequest = paint(*requestView);
        saveShot(noRequest, "request-pane-empty");
        QCOMPARE(requestView->cacheLength(), 0);
        const QColor base = requestView->palette().color(QPalette::Base);
        const QRect client = requestView->viewport()->rect();
        QVERIFY(drawnIn(noRequest, QRect(client.center() - QPoint(30, 5), QSize(60, 10)), base));
        QVERIFY(!drawnIn(noRequest, QRect(0, 0, 100, 40), base));

        // A loading resource shows what had arrived when it was selected.
        document->setCurrentResource(loading);
        appendBody(loading, 5000);
        paint(response);
        QCOMPARE(responseView->totalLength(), 30000);
        responseView->scrollToLine(1000000000);
        paint(response);
        QCOMPARE(responseView->lineText(1874), expectedLine(1874, 30000));
        // Once it has finished the response pane shows every byte; the request pane had its
        // whole body from the start and stays as it is.
        responseView->scrollToLine(3);
        FIXTURE_STEP(loading->finish());
        InputStream* requestData = requestView->data();
        request.resourceCompleted(loading);
        response.resourceCompleted(loading);
        QCOMPARE(requestView->data(), requestData);
        QCOMPARE(responseView->totalLength(), 35000);
        responseView->scrollToLine(1000000000);
        paint(response);
        QCOMPARE(responseView->lineText(2187), expectedLine(2187, 35000));

        document->setCurrentResource(bare);
        paint(response);
        QCOMPARE(responseView->emptyText, text(IDS_NO_RESPONSE_BODY));
        QCOMPARE(responseView->cacheLength(), 0);
        QCOMPARE(responseView->verticalScrollBar()->maximum(), 0);

        QVERIFY(QFile::remove(QString::fromStdString(lost->storedPath())));
        document->setCurrentResource(lost);
        QVERIFY(!responseView->data());
        QCOMPARE(responseView->emptyText, text(IDS_DATA_LOAD_FAILED));
        saveShot(paint(response), "response-pane-failed");

        // Nothing current: nothing shown, the last note kept.
        document->setCurrentResource(small);
        document->setCurrentResource(nullptr);
        QVERIFY(!requestView->data());
        QVERIFY(!responseView->data());
        QCOMPARE(responseView->emptyText, text(IDS_NO_RESPONSE_BODY));
        paint(response);
        QCOMPARE(responseView->cacheLength(), 0);

        // A resource the capture has not answered yet has no response body.
        HttpResource* waiting = capture("a=1", 0, false, false);
        document->setCurrentResource(waiting);
        QCOMPARE(requestView->totalLength(), 3);
        QCOMPARE(responseView->totalLength(), 0);
        QCOMPARE(responseView->emptyText, text(IDS_NO_RESPONSE_BODY));
    }

    // 3 GiB made up on the fly: the end is reachable by the bar, its last
    // line is exact, and only cache windows are ever read.
    void threeGiBScrollToTheEnd() {
        const std::int64_t total = 3LL << 30;
        PatternStream source(total);
        BinaryView view;
        view.resize(700, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setData(&source);
        paint(view);
        const int lines = visibleLines(view);
        const std::int64_t window = 160LL * lines;
        QCOMPARE(source.bytesRead, window);
        QCOMPARE(view.lineText(0), expectedLine(0, total));

        QScrollBar* bar = view.verticalScrollBar();
        QVERIFY(bar->isVisible());
        const std::int64_t lineCount = total / 16;
        // Dragging the thumb to the bottom.
        bar->setSliderDown(true);
        bar->setSliderPosition(bar->maximum());
        bar->setSliderDown(false);
        QCOMPARE(view.verticalPosition(), lineCount - view.pageLines());
        const QImage end = paint(view);
        saveShot(end, "3gib-end");
        QCOMPARE(view.lineText(lineCount - 1).left(10), QStringLiteral("bffffff0  "));
        QCOMPARE(view.lineText(lineCount - 1), expectedLine(lineCount - 1, total));
        QVERIFY(source.bytesRead <= 2 * window);

        // Two pages up stay inside the window read two screens back; the
        // third reloads once, eight screens back.
        const std::int64_t before = source.bytesRead;
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        paint(view);
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        paint(view);
        QCOMPARE(source.bytesRead, before);
        QCOMPARE(view.verticalPosition(), lineCount - 3 * view.pageLines());
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        paint(view);
        QCOMPARE(source.bytesRead, before + window);
        QCOMPARE(view.cacheStart(), (lineCount - 4 * view.pageLines()) * 16 - 128LL * lines);
        const std::int64_t first = view.verticalPosition();
        QCOMPARE(view.lineText(first), expectedLine(first, total));

        // Steps past the end change nothing.
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(view.verticalPosition(), lineCount - view.pageLines());
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(view.verticalPosition(), 0);
    }

    // More lines than a bar has values: one bar step stands for several
    // lines, yet line and page steps stay exact and the end is reachable.
    void scaledBarForHugeBodies() {
        const std::int64_t total = 1LL << 36; // 2^32 lines
        PatternStream source(total);
        BinaryView view;
        view.resize(700, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setData(&source);
        QScrollBar* bar = view.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        const std::int64_t last = (total / 16) - view.pageLines();
        QCOMPARE(view.verticalPosition(), last);
        QCOMPARE(bar->value(), bar->maximum());
        paint(view);
        QCOMPARE(view.lineText(total / 16 - 1).left(11), QStringLiteral("ffffffff0  "));
        QCOMPARE(view.lineText(total / 16 - 1), expectedLine(total / 16 - 1, total));
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(view.verticalPosition(), last - 1);
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(view.verticalPosition(), last - 1 - view.pageLines());
        bar->setSliderDown(true);
        bar->setSliderPosition(bar->maximum() / 2);
        bar->setSliderDown(false);
        const std::int64_t middle = view.verticalPosition();
        QVERIFY(qAbs(middle - total / 32) < total / 16 / 1000);
        paint(view);
        QCOMPARE(view.lineText(middle), expectedLine(middle, total));
        QVERIFY(source.bytesRead <= 3 * 160LL * visibleLines(view));
    }

    void wheelKeysAndResizing() {
        const std::int64_t total = 10000; // 625 lines
        PatternStream source(total);
        BinaryView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setData(&source);
        QWidget* surface = view.viewport();

        wheel(surface, -240);
        QCOMPARE(view.verticalPosition(), 2);
        wheel(surface, 120);
        QCOMPARE(view.verticalPosition(), 1);
        // Fractions of a notch add up.
        wheel(surface, -40);
        wheel(surface, -40);
        QCOMPARE(view.verticalPosition(), 1);
        wheel(surface, -40);
        QCOMPARE(view.verticalPosition(), 2);
        wheel(surface, 120 * 50);
        QCOMPARE(view.verticalPosition(), 0);
        // A click takes the focus; keys do nothing.
        QWidget other;
        other.show();
        other.activateWindow();
        view.activateWindow();
        QTest::mouseClick(surface, Qt::LeftButton);
        QVERIFY(view.hasFocus());
        QTest::keyClick(&view, Qt::Key_PageDown);
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(view.verticalPosition(), 0);

        // Scrolled to the last page, then taller: still within [0, lines - page].
        view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(view.verticalPosition(), 625 - view.pageLines());
        view.resize(400, 600);
        QCOMPARE(view.verticalPosition(), 625 - view.pageLines());
        paint(view);
        QCOMPARE(view.lineText(624), expectedLine(624, total));
        // Scrolled right, then wider: back within [0, width - page].
        QScrollBar* hBar = view.horizontalScrollBar();
        QVERIFY(hBar->isVisible());
        hBar->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(view.horizontalPosition(), hBar->maximum());
        QVERIFY(view.horizontalPosition() > 0);
        // The dump moves left by the position, in pixels.
        const int shift = view.horizontalPosition();
        const QImage right = paint(*view.viewport());
        hBar->triggerAction(QAbstractSlider::SliderToMinimum);
        const QImage left = paint(*view.viewport());
        QCOMPARE(right.copy(0, 0, left.width() - shift, left.height()),
                 left.copy(shift, 0, left.width() - shift, left.height()));
        hBar->triggerAction(QAbstractSlider::SliderToMaximum);
        view.resize(view.contentWidth() + 200, 600);
        QVERIFY(!hBar->isVisible());
        QCOMPARE(view.horizontalPosition(), 0);
        // Big enough for everything: the dump starts at line 0 again.
        view.resize(view.contentWidth() + 200, view.lineHeight() * 700);
        QVERIFY(!view.verticalScrollBar()->isVisible());
        QCOMPARE(view.verticalPosition(), 0);
        wheel(surface, -120);
        QCOMPARE(view.verticalPosition(), 0);
    }

    void readFailures() {
        BinaryView view;
        view.resize(400, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        PatternStream broken(5000);
        broken.failReads = true;
        view.emptyText = text(IDS_NO_RESPONSE_BODY);
        view.setData(&broken);
        QCOMPARE(view.totalLength(), 5000);
        const QImage shot = paint(view);
        QCOMPARE(view.emptyText, text(IDS_DATA_LOAD_FAILED));
        QCOMPARE(view.cacheLength(), 0);
        saveShot(shot, "read-failed");

        PatternStream unknown(5000);
        unknown.reportedSize = -1;
        view.emptyText = text(IDS_NO_RESPONSE_BODY);
        view.setData(&unknown);
        QCOMPARE(view.totalLength(), 0);
        QCOMPARE(view.emptyText, text(IDS_DATA_LOAD_FAILED));
        paint(view);
        QCOMPARE(unknown.bytesRead, 0);
    }

    // A 100 MiB body in its cache file: the pane reads a window at a time.
    void largeSpilledBodyReadsOnlyItsWindow() {
        const std::int64_t total = 100LL << 20;
        HttpResource* big = capture("", total);
        QVERIFY(!big->inMemory);
        ResponseDataView pane;
        pane.attach(document.get());
        pane.resize(700, 400);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        document->setCurrentResource(big);
        BinaryView* view = pane.binaryView();
        paint(pane);
        const std::int64_t window = 160LL * visibleLines(*view);
        QCOMPARE(view->bytesRead(), window);
        view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        paint(pane);
        const std::int64_t lastLine = total / 16 - 1;
        QCOMPARE(view->lineText(lastLine).left(10), QStringLiteral("063ffff0  "));
        QCOMPARE(view->lineText(lastLine), expectedLine(lastLine, total));
        view->scrollToLine(lastLine / 2);
        paint(pane);
        QCOMPARE(view->lineText(lastLine / 2), expectedLine(lastLine / 2, total));
        QVERIFY(view->bytesRead() <= 3 * window);
        saveShot(paint(pane), "100mib-middle");
    }
};

QTEST_MAIN(DataViewTest)
#include "dataview_test.moc"
