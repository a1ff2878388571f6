#include "StoreTestKit.h"

#include "engine/FileStream.h"
#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/ExtensionRecords.h"
#include "store/HttpResource.h"
#include "store/HttpResourceData.h"
#include "store/MemoryImage.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedStreams.h"
#include "support/StoredCaptures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct ResourceTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(folder.prepareCacheFolder()); }

    bool fileExists(std::uint32_t id) const { return isStored(folder.cacheFolder, id); }

    ScopedDataHome home;
    CacheFolder folder;
};

std::uint64_t field(const std::string& image, int at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(image[std::size_t(at + i)]);
    return value;
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";

} // namespace

TEST_F(ResourceTest, DerivesNamesFromTheRequest) {
    struct Case {
        std::string head;
        const char* url;
        const char* directory;
        const char* name;
        const char* referrer;
    };
    const Case cases[] = {
        {"GET /a/b.png HTTP/1.1\r\nHost: srv\r\n", "http://srv/a/b.png", "http://srv/a/", "b.png",
         ""},
        {"GET / HTTP/1.1\r\nHost: srv:81\r\n", "http://srv:81/", "http://srv:81/", "srv:81", ""},
        {"GET /a%20b/ HTTP/1.1\r\nHost: srv\r\n", "http://srv/a%20b/", "http://srv/a b/", "srv",
         ""},
        {"GET /p/%E4%B8%AD.txt?x=1#f HTTP/1.1\r\nHost: srv\r\n", "http://srv/p/%E4%B8%AD.txt?x=1#f",
         "http://srv/p/", "\xE4\xB8\xAD.txt", ""},
        // An absolute target keeps its own authority, whatever Host says.
        {"GET http://other:8080/x/y HTTP/1.1\r\nHost: srv\r\n", "http://other:8080/x/y",
         "http://other:8080/x/", "y", ""},
        // Without Host, an absolute target still names the resource.
        {"GET http://srv/x/y HTTP/1.0\r\nReferer: /z\r\n", "http://srv/x/y", "http://srv/x/", "y",
         "http://srv/z"},
        {"GET /q HTTP/1.1\r\nHost: srv\r\nReferer: /from/here\r\n", "http://srv/q", "http://srv/",
         "q", "http://srv/from/here"},
        {"GET /q HTTP/1.1\r\nHost: srv\r\nReferer: https://e.org/p?z\r\n", "http://srv/q",
         "http://srv/", "q", "https://e.org/p?z"},
        // A decrypted exchange names its scheme in the target.
        {"GET https://s.example:8443/a/b?x HTTP/1.1\r\nHost: s.example:8443\r\nReferer: /r\r\n",
         "https://s.example:8443/a/b?x", "https://s.example:8443/a/", "b",
         "https://s.example:8443/r"},
    };
    for (const Case& c : cases) {
        HttpResource resource(&folder);
        ASSERT_TRUE(resource.begin(1));
        ASSERT_TRUE(resource.writeRequestHeader(requestHead(c.head))) << c.head;
        EXPECT_EQ(resource.url.toString(), c.url) << c.head;
        EXPECT_EQ(resource.directory, c.directory) << c.head;
        EXPECT_EQ(resource.name, c.name) << c.head;
        EXPECT_EQ(resource.referrer.toString(), c.referrer) << c.head;
    }

    // The method, as the list filters by it: the usual ones by name, folded; others as Other.
    const std::pair<const char*, RequestMethod> methods[] = {{"GET", RequestMethod::Get},
                                                             {"post", RequestMethod::Post},
                                                             {"DELETE", RequestMethod::Delete},
                                                             {"PROPFIND", RequestMethod::Other},
                                                             {"CONNECT", RequestMethod::Connect}};
    for (const auto& [name, method] : methods) {
        HttpResource resource(&folder);
        ASSERT_TRUE(resource.begin(1));
        ASSERT_TRUE(resource.writeRequestHeader(
            requestHead(std::string(name) + " /a HTTP/1.1\r\nHost: srv\r\n")));
        EXPECT_EQ(resource.method, method) << name;
    }

    HttpResource noHost(&folder);
    ASSERT_TRUE(noHost.begin(1));
    EXPECT_FALSE(noHost.writeRequestHeader(requestHead("GET /a HTTP/1.1\r\nAccept: x\r\n")));
    EXPECT_EQ(lastError(), kErrorHostUnknown);
}

TEST_F(ResourceTest, DerivesFactsFromTheResponse) {
    struct Case {
        std::string fields;
        std::int64_t contentLength;
        const char* contentType;
        std::int32_t category;
    };
    const Case cases[] = {
        {"Content-Type: Text/HTML; charset=utf-8\r\nContent-Length: 0012\r\n", 12, "Text/HTML", 6},
        {"Content-Type: image/png\r\nContent-Length: 0\r\n", 0, "image/png", 2},
        {"Content-Type: VIDEO/mp4 ;x\r\nContent-Length: 12abc\r\n", -1, "VIDEO/mp4", 7},
        {"Content-Type: nonsense\r\n", -1, "nonsense", 8},
        {"Content-Type: applications/x\r\n", -1, "applications/x", 8},
        {"Content-Length: 5\r\n", 5, "", 8},
    };
    for (const Case& c : cases) {
        HttpResource resource(&folder);
        ASSERT_TRUE(resource.begin(1));
        ASSERT_TRUE(resource.writeRequestHeader(requestHead("GET / HTTP/1.1\r\nHost: a\r\n")));
        ASSERT_TRUE(resource.writeResponseHeader(responseHead("HTTP/1.1 404 Gone\r\n" + c.fields)));
        EXPECT_EQ(resource.statusCode, 404);
        EXPECT_EQ(resource.contentLength, c.contentLength) << c.fields;
        EXPECT_EQ(resource.contentType, c.contentType) << c.fields;
        EXPECT_EQ(resource.category, c.category) << c.fields;
    }
}

TEST_F(ResourceTest, ImageSpillsToItsFileAfterExactly16384Bytes) {
    auto resource = capture(folder, "GET /big HTTP/1.1\r\nHost: a\r\n", "", kOk, "", false);
    const std::int32_t headsEnd = resource->memoryImage()->length();
    ASSERT_EQ(resource->responseBodyOffset, headsEnd);

    const std::string body(16384 - headsEnd, 'x');
    ASSERT_TRUE(resource->writeData(body.data(), std::uint32_t(body.size())));
    EXPECT_TRUE(resource->inMemory);
    EXPECT_FALSE(fileExists(resource->id));
    const std::string memoryImage(resource->memoryImage()->data(), 16384);

    ASSERT_TRUE(resource->writeData("y", 1));
    EXPECT_FALSE(resource->inMemory);
    // The same image, under a provisional record that says how far the
    // capture got, should the process end before it does.
    const std::string spilled = readFile(resource->storedPath());
    EXPECT_EQ(spilled.substr(40), memoryImage.substr(40) + "y");
    EXPECT_EQ(field(spilled, 4, 4), resource->id);
    EXPECT_EQ(field(spilled, 8, 4), kErrorCaptureInterrupted);
    EXPECT_EQ(field(spilled, 12, 4), resource->requestBodyOffset);
    EXPECT_EQ(field(spilled, 24, 8), std::uint64_t(headsEnd));
    EXPECT_EQ(field(spilled, 32, 8), 0u);
    resource->receivedSize = std::int64_t(body.size()) + 1;

    resource->result = 0xE0000069;
    ASSERT_TRUE(resource->finish());
    EXPECT_FALSE(resource->stream); // the file is closed
    EXPECT_EQ(resource->flags & HttpResource::Loading, 0u);
    const std::string image = readFile(resource->storedPath());
    // The timings record follows the body.
    ASSERT_EQ(image.size(), 16385u + records::kTimingsSize);
    EXPECT_EQ(image.substr(16385, 4), std::string(records::kTimings, 4));
    EXPECT_EQ(field(image, 0, 4), 1u);
    EXPECT_EQ(field(image, 4, 4), resource->id);
    EXPECT_EQ(field(image, 8, 4), 0xE0000069u);
    EXPECT_EQ(field(image, 12, 4), resource->requestBodyOffset);
    EXPECT_EQ(field(image, 16, 8), std::uint64_t(resource->responseHeaderOffset));
    EXPECT_EQ(field(image, 24, 8), std::uint64_t(headsEnd));
    EXPECT_EQ(field(image, 32, 8), body.size() + 1);
    EXPECT_EQ(image.substr(40, 5), "GET /");
}

// A capture that cannot be stored never gets a hole: once a write failed,
// later pieces are refused, and at the end only its facts remain, failed
// with the reason, and nothing of it reads back as if it were whole.
TEST_F(ResourceTest, ImageThatCannotBeStoredKeepsNoHole) {
    // A large capture makes the run's folder, and no log yet.
    auto opener =
        capture(folder, "GET /o HTTP/1.1\r\nHost: a\r\n", "", kOk, std::string(20000, 'o'));
    ASSERT_TRUE(opener->run);
    for (bool spilling : {true, false}) {
        auto resource = capture(folder, "GET /a.png HTTP/1.1\r\nHost: a\r\n", "",
                                kOk + "Content-Length: 20004\r\n", "", false);
        // A folder in the place of the file (or the log) makes creating it
        // fail, even for root.
        const std::string obstacle =
            spilling ? opener->run->fileName(resource->id) : opener->run->logPath();
        ASSERT_EQ(mkdir(obstacle.c_str(), 0700), 0);
        // A log is only ever made anew.
        const std::uint32_t error = spilling ? EISDIR : EEXIST;
        const std::string body(spilling ? 20000 : 100, 'x');
        EXPECT_EQ(resource->writeData(body.data(), std::uint32_t(body.size())), !spilling);
        if (spilling) {
            EXPECT_EQ(lastError(), error);
            EXPECT_FALSE(resource->writeData("tail", 4));
        }
        resource->result = 0;
        EXPECT_FALSE(resource->finish());
        EXPECT_EQ(resource->storeError, error);
        EXPECT_EQ(resource->result, error);
        EXPECT_TRUE(resource->flags & HttpResource::Unstored);
        EXPECT_FALSE(resource->flags & HttpResource::Loading);
        EXPECT_EQ(resource->name, "a.png"); // the facts stay for the list
        EXPECT_FALSE(resource->stream);
        HttpResponseHeader head;
        EXPECT_FALSE(resource->readResponseHeader(head));
        EXPECT_EQ(lastError(), error);
        CollectingOutputStream out;
        EXPECT_FALSE(resource->copyBody(out, false));
        EXPECT_TRUE(out.text.empty());
        ASSERT_EQ(rmdir(obstacle.c_str()), 0);
    }
}

// When the exchange ends the whole image is in its cache file, the record
// final, and the resource holds no image of its own any more.
TEST_F(ResourceTest, FinishedCaptureIsWholeInItsFile) {
    auto resource = capture(folder, "POST /s.txt HTTP/1.1\r\nHost: a\r\n", "sent",
                            kOk + "Content-Length: 5\r\n", "small", false);
    EXPECT_FALSE(fileExists(resource->id)); // small captures wait in memory
    const std::string memoryImage(resource->memoryImage()->data(),
                                  std::size_t(resource->memoryImage()->length()));
    resource->result = 0;
    ASSERT_TRUE(resource->finish());
    EXPECT_FALSE(resource->inMemory);
    EXPECT_FALSE(resource->stream);
    const std::string image = storedImage(*resource);
    EXPECT_EQ(image.substr(40, memoryImage.size() - 40), memoryImage.substr(40));
    // and after the body, the exchange's timings
    EXPECT_EQ(image.size(), memoryImage.size() + records::kTimingsSize);
    EXPECT_EQ(image.substr(memoryImage.size(), 4), std::string(records::kTimings, 4));
    EXPECT_EQ(field(image, 8, 4), 0u);
    EXPECT_EQ(field(image, 16, 8), std::uint64_t(resource->responseHeaderOffset));
    EXPECT_EQ(field(image, 32, 8), 5u);
    EXPECT_EQ(resource->storedTime(), resource->endTime()); // the time HAR gives it after a restart
    struct stat st {};
    ASSERT_EQ(stat(resource->storedPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(resource->run->folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Read back from the file, again and again.
    for (int i = 0; i < 2; ++i) {
        HttpRequestHeader request;
        ASSERT_TRUE(resource->readRequestHeader(request));
        EXPECT_EQ(request.target, "/s.txt");
        CollectingOutputStream out;
        ASSERT_TRUE(resource->copyBody(out, false));
        EXPECT_EQ(out.text, "small");
    }
    EXPECT_TRUE(resource->saveToCacheFile()); // nothing left to save
}

TEST_F(ResourceTest, HeadsReadBackWhileLoadingAndCaptureGoesOn) {
    for (std::size_t firstBody : {100u, 20000u}) { // in memory, then in its file
        auto resource = capture(folder, "POST /f HTTP/1.1\r\nHost: a\r\nX-A: 1\r\nX-A: 2\r\n",
                                "req-body", kOk + "Content-Length: 99\r\n", "", false);
        const std::string first(firstBody, 'a');
        ASSERT_TRUE(resource->writeData(first.data(), std::uint32_t(first.size())));

        HttpRequestHeader request;
        ASSERT_TRUE(resource->readRequestHeader(request)) << firstBody;
        EXPECT_EQ(request.method, "POST");
        ASSERT_EQ(request.fields.size(), 3u);
        EXPECT_EQ(request.fields[2].value, "2");
        HttpResponseHeader response;
        ASSERT_TRUE(resource->readResponseHeader(response)) << firstBody;
        EXPECT_EQ(response.contentLength(), 99);

        ASSERT_TRUE(resource->writeData("tail", 4));
        resource->receivedSize = std::int64_t(firstBody) + 4;
        ASSERT_TRUE(resource->finish());
        std::string image = resource->inMemory
                                ? std::string(resource->memoryImage()->data(),
                                              std::size_t(resource->memoryImage()->length()))
                                : storedImage(*resource);
        // The body, then the timings record.
        EXPECT_EQ(image.substr(std::size_t(resource->responseBodyOffset)),
                  first + "tail" + image.substr(image.size() - records::kTimingsSize));
        EXPECT_EQ(image.substr(image.size() - records::kTimingsSize, 4),
                  std::string(records::kTimings, 4));
        EXPECT_EQ(image.substr(resource->requestBodyOffset, 8), "req-body");
    }
}

TEST_F(ResourceTest, LoadsWhatWasSaved) {
    auto big = capture(folder, "GET /big.bin HTTP/1.1\r\nHost: a\r\nReferer: /r\r\n", "",
                       "HTTP/1.1 206 Part\r\nContent-Type: audio/ogg\r\nContent-Length: 30000\r\n",
                       std::string(30000, 'b'));
    auto small = capture(folder, "GET /s.txt HTTP/1.1\r\nHost: a\r\n", "", kOk, "small");

    for (HttpResource* original : {big.get(), small.get()}) {
        HttpResource loaded(&folder);
        ASSERT_TRUE(loadStored(loaded, *original));
        EXPECT_EQ(loaded.id, original->id);
        EXPECT_TRUE(loaded.fromDisk);
        EXPECT_FALSE(loaded.inMemory);
        EXPECT_FALSE(loaded.stream);
        EXPECT_EQ(loaded.flags, 0u);
        EXPECT_EQ(loaded.url.toString(), original->url.toString());
        EXPECT_EQ(loaded.name, original->name);
        EXPECT_EQ(loaded.referrer.toString(), original->referrer.toString());
        EXPECT_EQ(loaded.statusCode, original->statusCode);
        EXPECT_EQ(loaded.contentType, original->contentType);
        EXPECT_EQ(loaded.category, original->category);
        EXPECT_EQ(loaded.contentLength, original->contentLength);
        EXPECT_EQ(loaded.receivedSize, original->receivedSize);
        EXPECT_EQ(loaded.requestBodyOffset, original->requestBodyOffset);
        EXPECT_EQ(loaded.responseHeaderOffset, original->responseHeaderOffset);
        EXPECT_EQ(loaded.responseBodyOffset, original->responseBodyOffset);
        HttpResponseHeader response;
        ASSERT_TRUE(loaded.readResponseHeader(response));
        EXPECT_EQ(response.statusCode, original->statusCode);
    }
}

TEST_F(ResourceTest, DamagedCacheFilesFailToLoad) {
    auto good = capture(folder, "GET /g HTTP/1.1\r\nHost: a\r\n", "", kOk, "body");
    ASSERT_TRUE(good->saveToCacheFile());
    const std::string image = storedImage(*good);
    auto withField = [&](int at, std::uint64_t value, int size) {
        std::string bytes = image;
        for (int i = 0; i < size; ++i)
            bytes[std::size_t(at + i)] = char(value >> (8 * i));
        return bytes;
    };
    struct Case {
        const char* label;
        std::string bytes;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"empty", "", kErrorDataIncomplete},
        {"shorter than the record header", image.substr(0, 39), kErrorDataIncomplete},
        {"other version", withField(0, 2, 4), kErrorInvalidData},
        {"response head unreachable", withField(16, std::uint64_t(-5), 8), kErrorResourceNotReady},
        {"body beyond the end", withField(32, 1000, 8), kErrorInvalidData},
        {"huge received size", withField(32, 0x7FFFFFFFFFFFFFFFull, 8), kErrorInvalidData},
        {"request body before the head", withField(12, 3, 4), kErrorInvalidData},
        {"cut in the request head", image.substr(0, 50), kErrorDataIncomplete},
    };
    for (const Case& c : cases) {
        const std::string path = home.path() + "/damaged.dat";
        writeFile(path, c.bytes);
        HttpResource resource(&folder);
        setLastError(0);
        EXPECT_FALSE(resource.load(path)) << c.label;
        EXPECT_EQ(lastError(), c.error) << c.label;
        EXPECT_EQ(readFile(path), c.bytes) << c.label; // left exactly as it was
    }
}

// A cache file whose record was never finished (the process ended during the
// capture) is listed as an interrupted capture with the bytes that arrived;
// one cut before its response head as an exchange without an answer. Loading
// only reads: the file stays as it was, and loads the same again.
TEST_F(ResourceTest, InterruptedCaptureLoadsWithTheBytesThatArrived) {
    const std::string body = std::string(20000, 'b');
    auto inProgress = capture(folder, "GET /big HTTP/1.1\r\nHost: a\r\n", "",
                              kOk + "Content-Length: 30000\r\n", body, false);
    auto finished = [&](const std::string& requestHead, const std::string& requestBody) {
        auto done = capture(folder, requestHead, requestBody, kOk, "tail-bytes");
        std::string image = storedImage(*done);
        // As older builds left it: no timings after the body, the record unfinished.
        image.resize(image.size() - records::kTimingsSize);
        std::fill(image.begin() + 8, image.begin() + 40, '\0');
        return std::make_pair(std::move(done), image);
    };
    auto [plain, plainImage] =
        finished("POST /p HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\n", "abc");
    auto [chunked, chunkedImage] = finished(
        "POST /c HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n");
    HttpResource uploading(&folder);
    ASSERT_TRUE(uploading.begin(folder.takeSequenceNumber()));
    ASSERT_TRUE(uploading.writeRequestHeader(
        requestHead("POST /up HTTP/1.1\r\nHost: a\r\nContent-Length: 90000\r\n")));
    ASSERT_TRUE(uploading.writeData(body.data(), std::uint32_t(body.size())));

    struct Case {
        const char* label;
        std::string bytes;
        const HttpResource* original; // null: refused
        std::int64_t received;
        std::int32_t status;
    };
    const Case cases[] = {
        {"ours, cut in the body", readFile(inProgress->storedPath()), inProgress.get(),
         std::int64_t(body.size()), 200},
        {"older build, body by length", plainImage, plain.get(), 10, 200},
        {"older build, chunked request body", chunkedImage, chunked.get(), 10, 200},
        {"cut in the request body", readFile(uploading.storedPath()), &uploading, 0, 0},
        {"cut in the request head", plainImage.substr(0, 50), nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        const std::string path = home.path() + "/interrupted.dat";
        writeFile(path, c.bytes);
        for (int time = 0; time < 2; ++time) {
            HttpResource loaded(&folder);
            if (!c.original) {
                EXPECT_FALSE(loaded.load(path)) << c.label;
                continue;
            }
            ASSERT_TRUE(loaded.load(path)) << c.label << ": " << errorText(lastError());
            EXPECT_EQ(loaded.result, kErrorCaptureInterrupted) << c.label;
            EXPECT_EQ(loaded.statusCode, c.status) << c.label;
            EXPECT_EQ(loaded.receivedSize, c.received) << c.label;
            EXPECT_EQ(loaded.requestBodyOffset, c.original->requestBodyOffset) << c.label;
            EXPECT_EQ(loaded.responseHeaderOffset, c.original->responseHeaderOffset) << c.label;
            EXPECT_EQ(loaded.responseBodyOffset, c.original->responseBodyOffset) << c.label;
            EXPECT_EQ(loaded.name, c.original->name) << c.label;
            if (c.status == 0) {
                // No answer: the request body as far as it came, and no response body.
                loaded.run = c.original->run; // read from its run's file, as listed
                auto posted = HttpResourceData::requestBody(loaded);
                ASSERT_TRUE(posted) << c.label;
                EXPECT_EQ(posted->size(), std::int64_t(body.size())) << c.label;
                CollectingOutputStream out;
                EXPECT_FALSE(loaded.copyBody(out, true)) << c.label;
                EXPECT_EQ(lastError(), kErrorNoResponseData) << c.label;
            }
        }
        EXPECT_EQ(readFile(path), c.bytes) << c.label;
    }
}
