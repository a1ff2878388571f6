// The streams of a capture in the resource list and their save dialog: the 媒体流 group of the
// by-type arrangement kept in step with the captures, its menu, and a save through the dialog
// with a missing segment named, driven offscreen.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/CommandIds.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "support/DocumentStandIns.h"
#include "support/RunProgram.h"
#include "tests/ui/FixtureStep.h"
#include "ui/browser/ListTreeImages.h"
#include "ui/browser/ResourceListView.h"
#include "ui/browser/StreamSaveDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <sstream>

namespace {

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Fixture {
    Fixture() : document(ui, delivery, settings) {
        document.cacheFolder = cacheDir.path().toStdString() + "/";
        view = new ResourceListView;
        view->resize(900, 400);
        view->attach(&document);
        document.notify(DocumentEvent::Initialised, nullptr, true);
        delivery.deliver();
    }
    ~Fixture() { delete view; } // before the document frees the resources

    // A finished GET of http://h/`path` answered with `body`, announced as the capture filter
    // does: added while loading, changed once complete.
    HttpResource* add(const std::string& path, const std::string& type, const std::string& body,
                      const std::string& referer = {}) {
        auto* r = new HttpResource(&document);
        std::string request = "GET http://h/" + path + " HTTP/1.1\r\nHost: h\r\n";
        if (!referer.empty())
            request += "Referer: " + referer + "\r\n";
        const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: " + type +
                                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
        HttpRequestHeader requestHead;
        HttpResponseHeader responseHead;
        FIXTURE_STEP(parseRequestHeader(request.data(), std::int32_t(request.size()), requestHead));
        FIXTURE_STEP(
            parseResponseHeader(response.data(), std::int32_t(response.size()), responseHead));
        FIXTURE_STEP(r->begin(document.takeSequenceNumber()));
        FIXTURE_STEP(r->writeRequestHeader(requestHead));
        {
            CaptureLocker lock(captureLock());
            document.addResource(r);
            document.notify(DocumentEvent::ResourceAdded, r, true);
        }
        FIXTURE_STEP(r->writeResponseHeader(responseHead));
        if (!body.empty())
            FIXTURE_STEP(r->writeData(body.data(), std::uint32_t(body.size())));
        r->receivedSize = std::int64_t(body.size());
        FIXTURE_STEP(r->finish());
        {
            CaptureLocker lock(captureLock());
            document.notify(DocumentEvent::ResourceChanged, r, true);
        }
        delivery.deliver();
        return r;
    }

    ListTreeCtrl* tree() const { return view->tree(); }
    std::string text(ListTreeItem item, int column = 0) const {
        return view->adaptor().GetItemText(item->data, column);
    }
    ListTreeItem top(const std::string& name) const {
        for (ListTreeItem c = tree()->childItem(nullptr); c; c = tree()->nextSibling(c))
            if (text(c) == name)
                return c;
        return nullptr;
    }
    // Column-0 texts of the rows under `parent`, and theirs in brackets.
    std::string shape(ListTreeItem parent) const {
        std::string out;
        for (ListTreeItem c = tree()->childItem(parent); c; c = tree()->nextSibling(c)) {
            out += (out.empty() ? "" : " ") + text(c);
            if (tree()->hasChildren(c))
                out += "(" + shape(c) + ")";
        }
        return out;
    }

    QTemporaryDir cacheDir;
    ScriptedDocumentUi ui;
    MemorySettings settings;
    QueueDelivery delivery;
    Document document;
    ResourceListView* view = nullptr;
};

std::string mediaPlaylist(const std::string& prefix, int count) {
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n";
    for (int i = 0; i < count; ++i)
        text += "#EXTINF:2.0,\n" + prefix + std::to_string(i) + ".ts\n";
    return text + "#EXT-X-ENDLIST\n";
}

const char* const kMaster = "#EXTM3U\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=3000000,RESOLUTION=1280x720\n"
                            "hi.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360\n"
                            "lo.m3u8\n";

} // namespace

class StreamRowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The dialog's closing message boxes answer themselves.
        qputenv("TIDEWELL_AUTO_ANSWER", "ok");
    }

    // The group follows the captures in the by-type arrangement only, after the media types;
    // segments arriving later update the counts and icons; clearing takes it away.
    void groupFollowsTheCapture() {
        Fixture fx;
        fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
        fx.add("page.html", "text/html", "<title>Sea &amp; Sky</title>");
        fx.add("v/master.m3u8", "application/vnd.apple.mpegurl", kMaster, "http://h/page.html");
        fx.add("v/hi.m3u8", "application/vnd.apple.mpegurl", mediaPlaylist("hi", 3));
        fx.add("v/hi0.ts", "video/mp2t", "\x47 zero");
        const std::string group = loadString(IDS_STREAM_GROUP);
        QTRY_VERIFY(fx.top(group) != nullptr);
        QCOMPARE(fx.tree()->nextSibling(fx.top(group)), ListTreeItem(nullptr));
        ListTreeItem stream = fx.tree()->childItem(fx.top(group));
        QCOMPARE(fx.shape(fx.top(group)), std::string("Sea & Sky(1280x720 · 3.0 Mbps 640x360 · "
                                                      "800 kbps)"));
        const int status = resourceColumnOfKind(StatusColumn);
        QCOMPARE(fx.text(stream, status), std::string("1 / 3 个片段"));
        QCOMPARE(fx.text(stream, resourceColumnOfKind(TypeColumn)), std::string("HLS"));
        QCOMPARE(fx.text(stream, resourceColumnOfKind(UrlColumn)),
                 std::string("http://h/v/master.m3u8"));
        ListTreeItem lo = fx.tree()->nextSibling(fx.tree()->childItem(stream));
        QCOMPARE(fx.text(lo, status), std::string("0 / 0 个片段"));

        fx.add("v/hi1.ts", "video/mp2t", "\x47 one");
        fx.add("v/hi2.ts", "video/mp2t", "\x47 two");
        QTRY_COMPARE(fx.text(stream, status), std::string("3 / 3 个片段"));
        QCOMPARE(ItemImage(*ResourceListItem::of(stream->data)), int(DoneImage));
        QCOMPARE(ItemImage(*ResourceListItem::of(lo->data)), int(BlankPageImage));

        // The row's menu offers the save, for the stream's default variant or the one chosen.
        int opened = 0, variant = -2;
        fx.view->openStreamSave = [&](const CapturedStream& s, int v) {
            ++opened;
            variant = v;
            QCOMPARE(s.variants.size(), std::size_t(2));
        };
        fx.tree()->SelectItem(stream, false);
        QCOMPARE(fx.view->contextMenuId(), int(ResourceListView::kStreamMenu));
        fx.view->contextCommand(ID_SAVE_STREAM);
        fx.tree()->SelectItem(lo, false);
        fx.view->contextCommand(ID_SAVE_STREAM);
        QCOMPARE(opened, 2);
        QCOMPARE(variant, 1);

        // Rebuilt by mode: gone by order, back by type.
        fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_ORDER);
        QCOMPARE(fx.top(group), ListTreeItem(nullptr));
        fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
        QVERIFY(fx.top(group) != nullptr);
        QCOMPARE(fx.text(fx.tree()->childItem(fx.top(group)), status), std::string("3 / 3 个片段"));

        fx.ui.okAnswer = true;
        fx.document.clearAll();
        QCOMPARE(fx.tree()->childItem(nullptr), ListTreeItem(nullptr));
        fx.add("other.js", "text/javascript", "x");
        QTest::qWait(400); // the group's timer would have run
        QCOMPARE(fx.top(group), ListTreeItem(nullptr));
    }

    // Saved on the dialog's thread from segments ffmpeg made, one of them not captured: the
    // dialog names the gap before the save, the format picks the extension, and the file is
    // written.
    void dialogSavesWithAGap() {
        QTemporaryDir made;
        const std::string dir = made.path().toStdString();
        // Four one-second segments of a test picture.
        std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error"};
        for (const char* a :
             {"-nostdin", "-f", "lavfi", "-i", "testsrc=duration=4:size=64x48:rate=10", "-c:v",
              "mpeg2video", "-f", "hls", "-hls_time", "1", "-hls_list_size", "0",
              "-hls_segment_filename"})
            arguments.push_back(a);
        arguments.push_back(dir + "/s%d.ts");
        arguments.push_back(dir + "/index.m3u8");
        const ProgramResult ffmpeg = runProgram(arguments);
        if (ffmpeg.exitCode != 0)
            QSKIP("ffmpeg could not make the segments");
        Fixture fx;
        fx.view->onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE);
        const HttpResource* playlist =
            fx.add("v/index.m3u8", "application/vnd.apple.mpegurl", fileBytes(dir + "/index.m3u8"));
        int listed = 0;
        for (; QFile::exists(QString::fromStdString(dir + "/s" + std::to_string(listed) + ".ts"));
             ++listed)
            if (listed != 1)
                fx.add("v/s" + std::to_string(listed) + ".ts", "video/mp2t",
                       fileBytes(dir + "/s" + std::to_string(listed) + ".ts"));
        QVERIFY(listed >= 3);
        const CapturedStream* stream = fx.view->streamRows().catalog().find(playlist->id);
        QVERIFY(stream);

        QTemporaryDir out;
        StreamSaveDialog dialog(*stream, -1);
        auto* path = dialog.findChild<QLineEdit*>();
        QString missing;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            if (label->isVisibleTo(&dialog) && label->text().contains("缺少"))
                missing = label->text();
        QVERIFY(path);
        QVERIFY(path->text().endsWith(".mp4"));
        QVERIFY2(missing.contains("缺少 1 个片段"), qPrintable(missing));
        dialog.findChildren<QComboBox*>().at(1)->setCurrentIndex(2);
        QVERIFY(path->text().endsWith(".mkv"));
        path->setText(out.filePath("saved.mkv"));
        dialog.save();
        QVERIFY(dialog.saving());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.saving(), 30000);
        QCOMPARE(dialog.savedPath(), out.filePath("saved.mkv"));
        QVERIFY(QFileInfo(out.filePath("saved.mkv")).size() > 1000);
    }
};

QTEST_MAIN(StreamRowsTest)
#include "stream_rows_test.moc"
