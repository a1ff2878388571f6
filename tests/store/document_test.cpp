#include "DocumentTestKit.h"
#include "StoreTestKit.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResourceData.h"
#include "store/QueuedEventDelivery.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedStreams.h"
#include "support/SmallDisk.h"
#include "support/StoredCaptures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Answer = DocumentUi::Answer;

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// The result its record carries.
std::uint32_t recordResult(const std::string& image) {
    std::uint32_t result = 0xFFFFFFFF;
    if (image.size() >= 12)
        std::memcpy(&result, image.data() + 8, 4);
    return result;
}

std::vector<std::uint32_t> listedIds(Document& document) {
    CaptureLocker lock(captureLock());
    std::vector<std::uint32_t> ids;
    for (HttpResource* r = document.resources.head; r; r = r->next)
        ids.push_back(r->id);
    return ids;
}

struct DocumentTest : ::testing::Test {
    std::unique_ptr<Document> open() {
        auto document = std::make_unique<Document>(ui, delivery, settings);
        EXPECT_TRUE(document->newDocument());
        return document;
    }

    // One exchange through the filter, as a connection thread drives it.
    // Returns the handle (the exchange stays open when `end` is false).
    static int exchange(HttpSnagger& filter, const std::string& path, const std::string& body,
                        bool end = true) {
        HttpRequestHeader request = requestHead("GET " + path + " HTTP/1.1\r\nHost: origin\r\n");
        const int handle = filter.beginRequest(0, request);
        EXPECT_NE(handle, -1);
        HttpResponseHeader response = responseHead(
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n");
        EXPECT_TRUE(filter.beginResponse(handle, response));
        if (!body.empty())
            filter.responseData(handle, body.data(), int(body.size()));
        if (end)
            filter.endExchange(handle, 0);
        return handle;
    }

    ScopedDataHome home;
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    MemorySettings settings;
};

} // namespace

TEST_F(DocumentTest, LoadsKeptCapturesInIdOrderAndNumbersAboveEveryFile) {
    std::string unreachable;
    {
        CacheFolder writer;
        ASSERT_TRUE(writer.prepareCacheFolder());
        // Files of an older build: one per capture, in the folder itself.
        for (std::uint32_t id : {3u, 1u, 2u}) {
            writer.nextId = id;
            auto resource =
                capture(writer, "GET /r" + std::to_string(id) + " HTTP/1.1\r\nHost: h\r\n", "",
                        "HTTP/1.1 200 OK\r\n", "");
            writeFile(writer.fileName(id), storedImage(*resource));
        }
        writer.runs.deleteOurs();
        // Not cache files, or damaged ones: left alone (and never overwritten).
        writeFile(writer.fileName(9), "short");
        writeFile(writer.cacheFolder + "notes.txt", "mine");
        writeFile(writer.cacheFolder + "R12.dat", std::string(100, 'x'));
        // A record claiming another id than its name.
        writeFile(writer.fileName(5), readFile(writer.fileName(1)));
        // A response head that cannot be reached.
        unreachable = readFile(writer.fileName(2));
        for (int i = 16; i < 24; ++i)
            unreachable[std::size_t(i)] = '\xff';
        writeFile(writer.fileName(6), unreachable);
        unreachable[4] = 6; // make the record's id match the name
        writeFile(writer.fileName(6), unreachable);
        mkdir(writer.fileName(8).c_str(), 0700); // a folder with a cache file's name
    }
    // Windows register while they are created, before the document starts.
    Document document0(ui, delivery, settings);
    Document* document = &document0;
    RecordingListener listener(*document);
    ASSERT_TRUE(document->newDocument());
    EXPECT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(document->resources.head->name, "r1");
    EXPECT_TRUE(document->resources.head->fromDisk);
    EXPECT_FALSE(document->modified);
    EXPECT_EQ(document->nextId, 10u);
    // Whatever could not be read is left as it was, counted and told, with
    // the folder; files of other names are none of ours.
    for (std::uint32_t id : {5u, 6u, 9u})
        EXPECT_TRUE(exists(document->fileName(id))) << id;
    EXPECT_EQ(readFile(document->fileName(6)), unreachable);
    EXPECT_TRUE(exists(document->cacheFolder + "notes.txt"));
    EXPECT_EQ(document->unreadableFiles, 4u);
    char note[1024];
    std::snprintf(note, sizeof note, loadString(IDS_FILES_SKIPPED), 4,
                  document->cacheFolder.c_str());
    EXPECT_EQ(ui.status, note);

    // The posted initialisation reaches listeners registered before delivery.
    delivery.dispatchPending();
    EXPECT_EQ(listener.events(), std::vector<DocumentEvent>{DocumentEvent::Initialised});

    // Exit with only earlier captures asks nothing and keeps their files.
    EXPECT_TRUE(document->saveModified());
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(document->resources.empty());
    for (std::uint32_t id : {1u, 2u, 3u})
        EXPECT_TRUE(exists(document->fileName(id)));
}

// A cache folder written by an earlier build (one file per exchange, made by
// its tidewell-capture through a loopback origin) lists, reads and numbers on
// as before; captures made now go beside it, and leaving without keeping them
// takes only those.
TEST_F(DocumentTest, EarlierBuildsCacheFolderStillLoads) {
    ASSERT_TRUE(CacheFolder().prepareCacheFolder());
    const std::string fixtures = TIDEWELL_SOURCE_DIR "/tests/store/fixtures/earlier-cache/";
    const auto name = [](std::uint32_t id) { return "R000000000" + std::to_string(id) + ".dat"; };
    const auto fixture = [&](std::uint32_t id) { return readFile(fixtures + name(id)); };
    for (std::uint32_t id = 1; id <= 4; ++id)
        writeFile(home.cacheFolder() + name(id), fixture(id));
    {
        auto document = open();
        ASSERT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2, 3, 4}));
        struct Expected {
            const char* path;
            int status;
            std::string body;
        };
        std::string lines;
        for (int i = 1; i <= 60; ++i)
            lines += "line " + std::to_string(i) + "\n";
        const Expected expected[] = {{"/a.txt", 200, "old body one"},
                                     {"/b.txt", 200, lines},
                                     {"/a.txt", 200, "old body one"},
                                     {"/missing", 404, ""}};
        const Expected* e = expected;
        for (HttpResource* r = document->resources.head; r; r = r->next, ++e) {
            EXPECT_EQ(r->url.path, e->path) << r->id;
            EXPECT_EQ(r->statusCode, e->status) << r->id;
            EXPECT_EQ(r->result, 0u) << r->id;
            if (e->body.empty())
                continue;
            CollectingOutputStream body;
            ASSERT_TRUE(r->copyBody(body, true)) << r->id;
            EXPECT_EQ(body.text, e->body) << r->id;
        }
        exchange(document->filter, "/now", "new");
        EXPECT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
        ui.yesNoAnswer = Answer::No;
        ASSERT_TRUE(document->saveModified());
    }
    const auto images = storedImages(home.cacheFolder());
    ASSERT_EQ(images.size(), 4u);
    for (std::uint32_t id = 1; id <= 4; ++id)
        EXPECT_EQ(images.at(id), fixture(id)) << id;
}

// Entries with cache file names that are not plain files: none is read or
// written through, and new captures are numbered above them all.
TEST_F(DocumentTest, EntriesThatAreNotPlainFilesAreNeverFollowed) {
    ASSERT_TRUE(CacheFolder().prepareCacheFolder());
    const std::string folder = home.cacheFolder();
    const std::string outside = home.path() + "/outside.txt";
    writeFile(outside, "the user's own file");
    ASSERT_EQ(symlink(outside.c_str(), (folder + "R0000000004.dat").c_str()), 0);
    ASSERT_EQ(mkdir((folder + "R0000000007.dat").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((folder + "R0000000002.dat").c_str(), 0600), 0);

    auto document = open();
    EXPECT_TRUE(listedIds(*document).empty());
    EXPECT_EQ(document->unreadableFiles, 3u);
    EXPECT_EQ(document->nextId, 8u);

    // A run folder's name taken by a link after the start is not written
    // through.
    const std::string outsideFolder = home.path() + "/outside";
    ASSERT_EQ(mkdir(outsideFolder.c_str(), 0700), 0);
    ASSERT_EQ(symlink(outsideFolder.c_str(), (folder + "Run0000000008").c_str()), 0);
    exchange(document->filter, "/a", std::string(64 * 1024, 'b'));
    exchange(document->filter, "/b", "small");
    EXPECT_EQ(readFile(outside), "the user's own file");
    EXPECT_TRUE(std::filesystem::is_empty(outsideFolder));
    EXPECT_TRUE(isStored(folder, 8));
    EXPECT_TRUE(isStored(folder, 9));
}

TEST_F(DocumentTest, NoCacheFolderEndsTheStartNamingTheFolder) {
    writeFile(home.path() + "/Merovex", "a file in the folder's place");
    for (auto use : {Document::FolderUse::Write, Document::FolderUse::Read}) {
        ui.messages.clear();
        Document document(ui, delivery, settings);
        EXPECT_FALSE(document.newDocument(use));
        ASSERT_EQ(ui.messages.size(), 1u);
        char text[1024];
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_UNUSABLE),
                      home.cacheFolder().c_str(), errorText(ENOTDIR).c_str());
        EXPECT_EQ(ui.messages[0], text);
    }
}

TEST_F(DocumentTest, SecondWriterOfTheFolderIsRefusedWithTheFolderNamed) {
    auto first = open();
    Document second(ui, delivery, settings);
    EXPECT_FALSE(second.newDocument());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], cacheFolderBusyText(home.cacheFolder(), getpid()));
    EXPECT_TRUE(second.resources.empty());
}

TEST_F(DocumentTest, CapturedExchangeIsListedAndAnnounced) {
    auto document = open();
    RecordingListener listener(*document);
    delivery.dispatchPending();
    listener.seen.clear();

    const std::string body(30000, 'b');
    HttpRequestHeader request = requestHead("POST /up HTTP/1.1\r\nHost: origin\r\n");
    const int handle = document->filter.beginRequest(0, request);
    ASSERT_NE(handle, -1);
    document->filter.requestData(handle, "payload", 7);
    EXPECT_TRUE(document->resources.empty()); // not before its response head
    HttpResponseHeader response = responseHead("HTTP/1.1 201 Created\r\nContent-Length: 30000\r\n");
    ASSERT_TRUE(document->filter.beginResponse(handle, response));
    document->filter.responseData(handle, body.data(), 10000);
    document->filter.responseData(handle, body.data(), 20000);
    document->filter.endExchange(handle, 0);

    ASSERT_EQ(listedIds(*document), std::vector<std::uint32_t>{1});
    HttpResource* resource = document->resources.head;
    EXPECT_EQ(resource->receivedSize, 30000);
    EXPECT_EQ(resource->statusCode, 201);
    EXPECT_EQ(resource->flags & HttpResource::Loading, 0u);
    EXPECT_TRUE(document->modified);
    CollectingOutputStream out;
    ASSERT_TRUE(resource->copyBody(out, true));
    EXPECT_EQ(out.text, body);

    // Event 2 once, then the changes (queued changes of one resource merge).
    delivery.dispatchPending();
    ASSERT_GE(listener.seen.size(), 2u);
    EXPECT_EQ(listener.seen[0].event, DocumentEvent::ResourceAdded);
    for (const auto& seen : listener.seen) {
        EXPECT_EQ(seen.id, 1u);
        EXPECT_TRUE(seen.found);
    }
    EXPECT_EQ(listener.seen.back().event, DocumentEvent::ResourceChanged);
    EXPECT_EQ(listener.seen.back().received, 30000);
}

TEST_F(DocumentTest, CachePreventionEditsBothHeads) {
    auto document = open();
    const std::string requestText =
        "GET / HTTP/1.1\r\nHost: o\r\nIf-None-Match: \"x\"\r\nif-modified-since: Mon\r\n"
        "Pragma: no-cache\r\nCache-Control: max-age=0\r\nIf-Match: *\r\nIf-Unmodified-Since: "
        "Tue\r\n"
        "Accept: */*\r\nPRAGMA: again\r\n";
    const std::string responseText =
        "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nCache-Control: max-age=600\r\n"
        "Expires: Wed\r\nContent-Length: 0\r\netag: \"v2\"\r\n";
    for (bool prevent : {true, false}) {
        if (document->preventCache() != prevent)
            document->togglePreventCache();
        HttpRequestHeader request = requestHead(requestText);
        const int handle = document->filter.beginRequest(0, request);
        HttpResponseHeader response = responseHead(responseText);
        ASSERT_TRUE(document->filter.beginResponse(handle, response));
        document->filter.endExchange(handle, 0);
        if (prevent) {
            ASSERT_EQ(request.fields.size(), 2u);
            EXPECT_EQ(request.fields[0].name, "Host");
            EXPECT_EQ(request.fields[1].name, "Accept");
            ASSERT_EQ(response.fields.size(), 2u);
            EXPECT_EQ(response.fields[0].name, "Cache-Control");
            EXPECT_EQ(response.fields[0].value, "no-cache");
            EXPECT_EQ(response.fields[1].name, "Content-Length");
        } else {
            EXPECT_EQ(request.fields.size(), 9u);
            EXPECT_EQ(response.fields.size(), 5u);
        }
        // What was captured is what was forwarded.
        HttpRequestHeader stored;
        ASSERT_TRUE(document->resources.tail->readRequestHeader(stored));
        EXPECT_EQ(stored.fields.size(), request.fields.size());
        HttpResponseHeader storedResponse;
        ASSERT_TRUE(document->resources.tail->readResponseHeader(storedResponse));
        EXPECT_EQ(storedResponse.fields.size(), response.fields.size());
    }
}

TEST_F(DocumentTest, ExchangeEndingBeforeItsResponseIsFreed) {
    auto document = open();
    RecordingListener listener(*document);
    HttpRequestHeader request = requestHead("POST / HTTP/1.1\r\nHost: o\r\n");
    const int handle = document->filter.beginRequest(0, request);
    const std::string body(20000, 'r');
    document->filter.requestData(handle, body.data(), int(body.size()));
    const std::uint32_t id = document->nextId - 1;
    EXPECT_TRUE(isStored(home.cacheFolder(), id)); // the request body spilled
    document->filter.endExchange(handle, kErrorDataIncomplete);
    EXPECT_TRUE(document->resources.empty());
    EXPECT_FALSE(isStored(home.cacheFolder(), id));
    // Leak checkers see the resource freed; handles are reused.
    HttpRequestHeader again = requestHead("GET / HTTP/1.1\r\nHost: o\r\n");
    EXPECT_EQ(document->filter.beginRequest(0, again), handle);
    document->filter.endExchange(handle, 0);

    // A request without Host is relayed but not captured.
    HttpRequestHeader noHost = requestHead("GET / HTTP/1.1\r\nAccept: x\r\n");
    EXPECT_EQ(document->filter.beginRequest(0, noHost), -1);
}

TEST_F(DocumentTest, ClearingDetachesLoadingResourcesAndTheirThreadFreesThem) {
    auto document = open();
    RecordingListener listener(*document);
    exchange(document->filter, "/done", std::string(20000, 'd'));
    const int loading = exchange(document->filter, "/loading", std::string(20000, 'l'), false);
    const std::uint32_t doneId = 1, loadingId = 2;
    ASSERT_EQ(listedIds(*document), (std::vector<std::uint32_t>{doneId, loadingId}));
    document->setCurrentResource(document->resources.tail);

    ui.okAnswer = false;
    document->clearAll();
    EXPECT_EQ(document->resources.count, 2u);

    ui.okAnswer = true;
    listener.seen.clear();
    document->clearAll();
    EXPECT_EQ(ui.questions.back(), loadString(121));
    EXPECT_TRUE(document->resources.empty());
    EXPECT_EQ(document->currentResource, nullptr);
    EXPECT_EQ(document->findResource(loadingId), nullptr);
    EXPECT_FALSE(isStored(home.cacheFolder(), doneId));
    EXPECT_TRUE(isStored(home.cacheFolder(), loadingId)); // still being written
    // Sent, in order, before anything was destroyed.
    ASSERT_EQ(listener.events(),
              (std::vector<DocumentEvent>{DocumentEvent::CurrentChanged, DocumentEvent::Clearing}));

    // The capture goes on unseen, then its thread frees it and its file.
    document->filter.responseData(loading, "more", 4);
    document->filter.endExchange(loading, 0);
    EXPECT_TRUE(storedImages(home.cacheFolder()).empty());
    EXPECT_TRUE(document->resources.empty());

    // Notices posted before the clear arrive after it and find nothing.
    listener.seen.clear();
    delivery.dispatchPending();
    ASSERT_FALSE(listener.seen.empty());
    for (const auto& seen : listener.seen)
        EXPECT_FALSE(seen.found);
}

// Connections go on storing captures while the user clears: every capture
// listed after the clear is stored and readable, and none of those cleared is
// left on disk, whatever the order in which they met.
TEST_F(DocumentTest, ClearingWhileCapturesAreStoredLeavesNothingBehind) {
    auto document = open();
    std::atomic<bool> cleared{false};
    std::thread connection([&] {
        for (int i = 0; i < 400 || !cleared; ++i)
            exchange(document->filter, "/" + std::to_string(i),
                     std::string(std::size_t(i % 40) * 700, 'w'));
    });
    while (document->nextId < 150)
        std::this_thread::yield();
    document->clearAll();
    cleared = true;
    connection.join();
    const auto images = storedImages(home.cacheFolder());
    std::vector<std::uint32_t> onDisk;
    for (const auto& [id, image] : images)
        onDisk.push_back(id);
    EXPECT_EQ(onDisk, listedIds(*document));
    EXPECT_GT(onDisk.front(), 1u);
    for (HttpResource* r = document->resources.head; r; r = r->next) {
        EXPECT_FALSE(r->flags & HttpResource::Loading);
        CollectingOutputStream out;
        const std::size_t size = std::size_t(std::stoi(r->name) % 40) * 700;
        if (size == 0)
            continue;
        ASSERT_TRUE(r->copyBody(out, false)) << r->id;
        EXPECT_EQ(out.text, std::string(size, 'w')) << r->id;
    }
}

TEST_F(DocumentTest, ExitKeepsOrDeletesThisRunsCaptures) {
    {
        auto document = open();
        exchange(document->filter, "/small", "tiny");
        exchange(document->filter, "/big", std::string(20000, 'b'));
        ui.yesNoAnswer = Answer::Cancel;
        EXPECT_FALSE(document->saveModified());
        EXPECT_EQ(document->resources.count, 2u);
        EXPECT_EQ(ui.questions.back(), loadString(164));
        ui.yesNoAnswer = Answer::Yes;
        ASSERT_TRUE(document->saveModified());
        EXPECT_TRUE(isStored(home.cacheFolder(), 1));
        EXPECT_TRUE(isStored(home.cacheFolder(), 2));
    }
    {
        // Kept captures come back; new ones are numbered above them. Exit
        // with No deletes only this run's files.
        auto document = open();
        ASSERT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2}));
        CollectingOutputStream out;
        ASSERT_TRUE(document->resources.head->copyBody(out, false));
        EXPECT_EQ(out.text, "tiny");
        exchange(document->filter, "/new", std::string(20000, 'n'));
        exchange(document->filter, "/new-small", "n");
        EXPECT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2, 3, 4}));
        // Each on disk, whole, as soon as its exchange is over: a crash from
        // here on loses none of them.
        const auto images = storedImages(home.cacheFolder());
        for (std::uint32_t id : {3u, 4u}) {
            ASSERT_EQ(images.count(id), 1u) << id;
            EXPECT_EQ(recordResult(images.at(id)), 0u) << id;
        }
        ui.yesNoAnswer = Answer::No;
        ASSERT_TRUE(document->saveModified());
        std::vector<std::uint32_t> kept;
        for (const auto& [id, image] : storedImages(home.cacheFolder()))
            kept.push_back(id);
        EXPECT_EQ(kept, (std::vector<std::uint32_t>{1, 2}));
    }
    // The next start finds only what was kept.
    auto document = open();
    EXPECT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2}));
}

// Files left by captures a crash cut off: listed, with what arrived, as
// interrupted captures; a file without even a request head is left and
// counted; a clear removes the interrupted ones with the rest, and only what
// it listed.
TEST_F(DocumentTest, InterruptedCapturesAreListedAndClearedWithTheRest) {
    {
        CacheFolder writer;
        ASSERT_TRUE(writer.prepareCacheFolder());
        auto done = capture(writer, "GET /done HTTP/1.1\r\nHost: h\r\n", "",
                            "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n", "done");
        auto cut =
            capture(writer, "GET /cut HTTP/1.1\r\nHost: h\r\n", "",
                    "HTTP/1.1 200 OK\r\nContent-Length: 90000\r\n", std::string(30000, 'c'), false);
        cut.reset(); // the process ends here, without finishing
        std::string headless = storedImage(*done).substr(0, 45);
        std::fill(headless.begin() + 8, headless.begin() + 40, '\0');
        headless[4] = 3;
        writeFile(writer.fileName(3), headless);
    }
    auto document = open();
    ASSERT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2}));
    HttpResource* interrupted = document->resources.tail;
    EXPECT_EQ(interrupted->name, "cut");
    EXPECT_EQ(interrupted->result, kErrorCaptureInterrupted);
    EXPECT_EQ(interrupted->receivedSize, 30000);
    EXPECT_EQ(errorText(interrupted->result), loadString(IDS_CAPTURE_INTERRUPTED));
    auto body = HttpResourceData::responseBody(*interrupted);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->size(), 30000);
    EXPECT_TRUE(exists(document->fileName(3)));
    EXPECT_EQ(document->unreadableFiles, 1u);
    EXPECT_EQ(document->nextId, 4u);

    document->clearAll();
    // The file without a request head could not be read: it stays.
    const auto left = storedImages(home.cacheFolder());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.count(3), 1u);
}

// A clear takes an earlier run's folder away whole, unless it holds what
// could not be read: that stays, and only what was listed goes.
TEST_F(DocumentTest, ClearingLeavesWhatAnEarlierRunHeldUnread) {
    std::string readable, unread;
    for (std::uint32_t first : {1u, 3u}) {
        CacheFolder writer; // one process each
        ASSERT_TRUE(writer.prepareCacheFolder());
        writer.nextId = first;
        auto small = capture(writer, "GET /s HTTP/1.1\r\nHost: h\r\n", "",
                             "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n", "s");
        auto big = capture(writer, "GET /b HTTP/1.1\r\nHost: h\r\n", "",
                           "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n", std::string(20000, 'b'));
        ASSERT_TRUE(small->run && small->run == big->run);
        (first == 1 ? readable : unread) = small->run->folder;
    }
    writeFile(unread + "R0000000009.dat", "short");
    writeFile(unread + "notes.txt", "mine");

    auto document = open();
    ASSERT_EQ(listedIds(*document), (std::vector<std::uint32_t>{1, 2, 3, 4}));
    document->clearAll();
    EXPECT_TRUE(listedIds(*document).empty());
    const auto images = storedImages(home.cacheFolder());
    ASSERT_EQ(images.size(), 1u); // only the file nobody could read
    EXPECT_EQ(images.begin()->second, "short");
    EXPECT_FALSE(exists(readable));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(unread))
        left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"R0000000009.dat", "notes.txt"}));
    EXPECT_EQ(readFile(unread + "notes.txt"), "mine");
}

// Browsing and export only read the folder: beside the process that writes
// it, without creating it, and on a read-only file system, where capturing
// and clearing refuse and say why, naming the folder.
TEST_F(DocumentTest, ReadersNeedNoClaimAndChangeNothing) {
    {
        Document reader(ui, delivery, settings);
        ASSERT_TRUE(reader.newDocument(Document::FolderUse::Read));
        EXPECT_TRUE(reader.resources.empty());
        EXPECT_FALSE(exists(home.cacheFolder())); // not even made
    }
    auto writer = open();
    exchange(writer->filter, "/kept", std::string(20000, 'k'));
    ui.status.clear();
    Document reader(ui, delivery, settings);
    ASSERT_TRUE(reader.newDocument(Document::FolderUse::Read)) << ui.messages.back();
    EXPECT_EQ(listedIds(reader), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(ui.status, ""); // a folder that can be written is not called read-only
    CollectingOutputStream body;
    ASSERT_TRUE(reader.resources.head->copyBody(body, true));
    EXPECT_EQ(body.text, std::string(20000, 'k'));
    // The writer keeps its claim: a second writer is still refused.
    Document second(ui, delivery, settings);
    EXPECT_FALSE(second.newDocument(Document::FolderUse::WriteOrRead));
}

TEST_F(DocumentTest, ReadOnlyFolderIsBrowsedButNeitherCapturedIntoNorCleared) {
    SmallDisk disk(1 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ScopedEnv dataHome("XDG_DATA_HOME", disk.path().c_str());
    {
        auto writer = open();
        exchange(writer->filter, "/a", std::string(30000, 'a'));
        exchange(writer->filter, "/b", "b");
        writer->closeCaptures(true);
    }
    ASSERT_TRUE(disk.remountReadOnly());
    const std::string folder = disk.path() + "/Merovex/Tidewell/Cache/";
    char readOnly[1024];
    std::snprintf(readOnly, sizeof readOnly, loadString(IDS_CACHE_FOLDER_READ_ONLY),
                  folder.c_str());

    Document writer(ui, delivery, settings);
    EXPECT_FALSE(writer.newDocument(Document::FolderUse::Write));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], readOnly);

    ui.messages.clear();
    Document document(ui, delivery, settings);
    ASSERT_TRUE(document.newDocument(Document::FolderUse::WriteOrRead));
    EXPECT_TRUE(document.readOnly);
    EXPECT_EQ(ui.status, readOnly);
    EXPECT_EQ(listedIds(document), (std::vector<std::uint32_t>{1, 2}));
    CollectingOutputStream body;
    ASSERT_TRUE(document.resources.head->copyBody(body, true));
    EXPECT_EQ(body.text, std::string(30000, 'a'));

    document.proxy.manageSystemSettings = false;
    document.proxy.configuredPort = 0;
    EXPECT_FALSE(document.startCapture());
    EXPECT_FALSE(document.isCapturing());
    document.clearAll();
    EXPECT_TRUE(ui.questions.empty()); // refused before asking
    EXPECT_EQ(ui.messages, (std::vector<std::string>{readOnly, readOnly}));
    EXPECT_EQ(listedIds(document), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_TRUE(document.saveModified());
    EXPECT_TRUE(isStored(folder, 1));
}

// A disk that fills up while capturing: relaying goes on, a capture that
// could not be stored whole is failed with the reason and never passes for
// complete, the user hears of it once, and the count of kept captures is the
// count of cache files.
TEST_F(DocumentTest, FullDiskFailsCapturesAndCountsOnlyWhatIsStored) {
    SmallDisk disk(1 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ScopedEnv dataHome("XDG_DATA_HOME", disk.path().c_str());
    struct ProblemUi : ScriptedDocumentUi {
        void showStorageProblem(const std::string& text) override { problems.push_back(text); }
        std::vector<std::string> problems;
    } problemUi;
    std::map<std::uint32_t, std::string> bodies;
    Document::CloseSummary closed;
    {
        Document document(problemUi, delivery, settings);
        ASSERT_TRUE(document.newDocument());
        for (int i = 0; i < 24; ++i) {
            const std::size_t size = i % 3 == 0 ? 300000 : i % 3 == 1 ? 20000 : 900;
            std::string body(size, char('a' + i));
            body[size / 2] = '#';
            const std::uint32_t id = document.nextId;
            HttpRequestHeader request =
                requestHead("GET /" + std::to_string(i) + " HTTP/1.1\r\nHost: origin\r\n");
            const int handle = document.filter.beginRequest(0, request);
            ASSERT_NE(handle, -1);
            HttpResponseHeader response =
                responseHead("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n");
            ASSERT_TRUE(document.filter.beginResponse(handle, response));
            for (std::size_t at = 0; at < size; at += 65536)
                document.filter.responseData(handle, body.data() + at,
                                             int(std::min<std::size_t>(65536, size - at)));
            document.filter.endExchange(handle, 0);
            bodies[id] = body;
        }
        ASSERT_EQ(document.resources.count, bodies.size()); // every exchange is listed
        int complete = 0, failed = 0;
        for (HttpResource* r = document.resources.head; r; r = r->next) {
            const std::string& body = bodies[r->id];
            CollectingOutputStream out;
            const bool copied = r->copyBody(out, false);
            if (r->result == 0) {
                ++complete;
                EXPECT_TRUE(copied) << r->id;
                EXPECT_EQ(out.text, body) << r->id;
                continue;
            }
            ++failed;
            EXPECT_EQ(r->result, std::uint32_t(ENOSPC)) << r->id;
            EXPECT_FALSE(copied) << r->id;
            // What is kept of a failed capture is the start of its body.
            EXPECT_EQ(out.text, body.substr(0, out.text.size())) << r->id;
        }
        EXPECT_GT(complete, 0);
        EXPECT_GT(failed, 0);
        delivery.dispatchPending();
        ASSERT_EQ(problemUi.problems.size(), 1u);
        EXPECT_NE(problemUi.problems[0].find(errorText(ENOSPC)), std::string::npos);
        closed = document.closeCaptures(true);
        EXPECT_EQ(closed.kept + closed.notStored, bodies.size());
        EXPECT_GT(closed.notStored, 0u);
        EXPECT_EQ(closed.firstError, std::uint32_t(ENOSPC));
    }
    EXPECT_EQ(storedImages(disk.path() + "/Merovex/Tidewell/Cache/").size(), closed.kept);

    // What was kept loads again, whole or as the failed capture it was.
    auto reopened = open();
    EXPECT_EQ(reopened->resources.count, closed.kept);
    for (HttpResource* r = reopened->resources.head; r; r = r->next) {
        CollectingOutputStream out;
        const bool copied = r->copyBody(out, false);
        EXPECT_EQ(copied, r->result == 0) << r->id;
        EXPECT_EQ(out.text, bodies[r->id].substr(0, out.text.size())) << r->id;
    }
    // Loaded again, a failed capture still says it was not stored and
    // counts what was.
    for (HttpResource* r = reopened->resources.head; r; r = r->next) {
        EXPECT_EQ(r->notStored(), r->result != 0) << r->id;
        if (r->result != 0) {
            EXPECT_LT(r->receivedSize, std::int64_t(bodies[r->id].size())) << r->id;
        }
    }
    reopened->closeCaptures(false);
}

TEST_F(DocumentTest, ConcurrentExchangesGetIncreasingNumbers) {
    auto document = open();
    constexpr int kThreads = 6, kEach = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                exchange(document->filter, "/" + std::to_string(t) + "/" + std::to_string(i),
                         "abc");
        });
    for (auto& thread : threads)
        thread.join();
    const std::vector<std::uint32_t> ids = listedIds(*document);
    ASSERT_EQ(ids.size(), std::size_t(kThreads * kEach));
    for (std::size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(ids[i], i + 1);
    // Each connection's requests are numbered in the order they were made.
    std::vector<std::vector<std::uint32_t>> perThread(kThreads);
    for (HttpResource* r = document->resources.head; r; r = r->next) {
        const int t = std::stoi(r->directory.substr(std::string("http://origin/").size()));
        const std::size_t i = std::stoul(r->name);
        perThread[std::size_t(t)].resize(std::max(perThread[std::size_t(t)].size(), i + 1));
        perThread[std::size_t(t)][i] = r->id;
    }
    for (const auto& ids : perThread)
        for (std::size_t i = 1; i < ids.size(); ++i)
            EXPECT_LT(ids[i - 1], ids[i]);
}

TEST_F(DocumentTest, ListenersThatLeaveGetNothingMore) {
    auto document = open();
    auto leaving = std::make_unique<RecordingListener>(*document);
    RecordingListener staying(*document);
    exchange(document->filter, "/a", "x");
    leaving.reset(); // queued notices for it are dropped, not delivered to freed memory
    delivery.dispatchPending();
    EXPECT_FALSE(staying.seen.empty());
}

TEST_F(DocumentTest, CachePreventionSurvivesARestart) {
    {
        Document document(ui, delivery, settings);
        EXPECT_FALSE(document.preventCache());
        document.togglePreventCache();
    }
    EXPECT_EQ(settings.values["Settings|Disable Agent Cache"], 1);
    {
        Document document(ui, delivery, settings);
        EXPECT_TRUE(document.preventCache());
        document.togglePreventCache();
    }
    EXPECT_EQ(settings.values["Settings|Disable Agent Cache"], 0);
}
