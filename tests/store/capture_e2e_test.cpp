// Capturing end to end: the real proxy and capture filter between real curl
// processes and origins on 127.0.0.1.
#include "DocumentTestKit.h"
#include "StoreTestKit.h"

#include "engine/Platform.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/ExtensionRecords.h"
#include "store/HttpResourceData.h"
#include "store/QueuedEventDelivery.h"
#include "support/Compression.h"
#include "support/OriginServer.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedStreams.h"
#include "support/TestBytes.h"

#include "support/StoredCaptures.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <set>
#include <sys/stat.h>

namespace {

std::string fieldOf(const std::string& head, const std::string& name) {
    const std::string key = "\r\n" + name + ":";
    const auto at = head.find(key);
    if (at == std::string::npos)
        return "<none>";
    const auto end = head.find("\r\n", at + key.size());
    std::string value = head.substr(at + key.size(), end - at - key.size());
    while (!value.empty() && value.front() == ' ')
        value.erase(0, 1);
    return value;
}

struct ProxiedCurl {
    int exitCode = -1;
    std::string headers; // response heads as the client saw them
};

// Runs curl through the proxy at 127.0.0.1:proxyPort, saving the body to
// `output`. Extra arguments go before the URL.
ProxiedCurl runCurl(int proxyPort, const std::string& url, const std::string& output,
                    const std::vector<std::string>& extra = {}) {
    const std::string headerFile = output + ".headers";
    std::vector<std::string> arguments = {"--show-error",
                                          "--noproxy",
                                          "",
                                          "--proxy",
                                          "http://127.0.0.1:" + std::to_string(proxyPort),
                                          "--output",
                                          output,
                                          "--dump-header",
                                          headerFile};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(url);
    ProxiedCurl result;
    result.exitCode = ::runCurl(arguments).exitCode;
    result.headers = readFile(headerFile);
    return result;
}

std::string contentOf(HttpResource& resource, bool decode) {
    CollectingOutputStream out;
    EXPECT_TRUE(resource.copyBody(out, decode)) << errorText(lastError());
    return out.text;
}

struct CaptureEndToEnd : ::testing::Test {
    void SetUp() override {
        document = std::make_unique<Document>(ui, delivery, settings);
        ASSERT_TRUE(document->newDocument());
        document->proxy.manageSystemSettings = false;
        document->proxy.configuredPort = 0;
        ASSERT_TRUE(document->startCapture()) << errorText(lastError());
    }
    void TearDown() override {
        document->stopCapture();
        document->closeCaptures(false);
    }

    int port() const { return document->proxy.port(); }
    std::string output(const std::string& name) const { return scratch.path() + "/" + name; }

    std::vector<HttpResource*> listed() {
        CaptureLocker lock(captureLock());
        std::vector<HttpResource*> out;
        for (HttpResource* r = document->resources.head; r; r = r->next)
            out.push_back(r);
        return out;
    }

    ScopedDataHome home;
    TempFolder config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().c_str()};
    ScopedEnv gsettings{"GSETTINGS_BACKEND", "keyfile"};
    TempFolder scratch;
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    MemorySettings settings;
    std::unique_ptr<Document> document;
};

} // namespace

TEST_F(CaptureEndToEnd, ChunkedGzipIsStoredFramedAndDecodesToTheOriginsFile) {
    std::string page;
    for (int i = 0; page.size() < 200000; ++i)
        page += "<p>paragraph " + std::to_string(i) + "</p>\n";
    const std::string coded = gzipOf(page);
    const std::string framed = chunked(coded, 4000);
    OriginServer origin([&](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                             "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                 framed);
        return false; // one answer per connection
    });
    const ProxiedCurl curl = runCurl(port(), origin.url("/page.html"), output("page"));
    ASSERT_EQ(curl.exitCode, 0);
    EXPECT_EQ(readFile(output("page")), coded); // curl saw the coded bytes

    document->stopCapture(); // every exchange has ended
    const auto resources = listed();
    ASSERT_EQ(resources.size(), 1u);
    HttpResource& resource = *resources[0];
    EXPECT_EQ(resource.name, "page.html");
    EXPECT_EQ(resource.category, 6);
    EXPECT_EQ(resource.result, 0u);
    EXPECT_EQ(resource.receivedSize, std::int64_t(framed.size()));
    EXPECT_EQ(contentOf(resource, false), framed);
    EXPECT_EQ(contentOf(resource, true), page);
}

TEST_F(CaptureEndToEnd, LargeBodySpillsToItsFileAndReadsBackIdentically) {
    const std::string body = patterned(5 * 1024 * 1024);
    OriginServer origin([&](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Length: " +
                                 std::to_string(body.size()) + "\r\n\r\n" + body);
        return false; // one answer per connection
    });
    ASSERT_EQ(runCurl(port(), origin.url("/big.bin"), output("big")).exitCode, 0);
    document->stopCapture();
    const auto resources = listed();
    ASSERT_EQ(resources.size(), 1u);
    HttpResource& resource = *resources[0];
    EXPECT_FALSE(resource.inMemory);
    const std::string file = readFile(resource.storedPath());
    // The body as it came, then the exchange's timings.
    EXPECT_EQ(std::int64_t(file.size()),
              resource.responseBodyOffset + std::int64_t(body.size() + records::kTimingsSize));
    EXPECT_TRUE(file.compare(std::size_t(resource.responseBodyOffset), body.size(), body) == 0);

    auto data = HttpResourceData::responseBody(resource);
    ASSERT_TRUE(data);
    std::string readBack(body.size(), '\0');
    std::size_t got = 0;
    while (got < readBack.size()) {
        const std::int32_t n = data->read(readBack.data() + got, 100000);
        ASSERT_GT(n, 0);
        got += std::size_t(n);
    }
    EXPECT_EQ(data->read(readBack.data(), 1), 0);
    EXPECT_EQ(readBack, body);
}

TEST_F(CaptureEndToEnd, CachePreventionEditsWhatBothSidesSee) {
    document->togglePreventCache();
    OriginServer origin([](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nETag: \"abc\"\r\nExpires: Thu, 01 Jan 2037\r\n"
                             "Cache-Control: max-age=86400\r\nContent-Length: 2\r\n\r\nok");
        return false; // one answer per connection
    });
    const std::vector<std::string> validators = {"-H", "If-None-Match: \"abc\"",
                                                 "-H", "If-Modified-Since: Mon, 01 Jan 2024",
                                                 "-H", "Pragma: no-cache",
                                                 "-H", "Cache-Control: max-age=0",
                                                 "-H", "If-Match: *",
                                                 "-H", "If-Unmodified-Since: Mon, 01 Jan 2024",
                                                 "-H", "X-Keep: yes"};
    const ProxiedCurl curl = runCurl(port(), origin.url("/cached"), output("cached"), validators);
    ASSERT_EQ(curl.exitCode, 0);
    const auto requests = origin.requests();
    ASSERT_EQ(requests.size(), 1u);
    for (const char* name : {"If-None-Match", "If-Modified-Since", "Pragma", "Cache-Control",
                             "If-Match", "If-Unmodified-Since"})
        EXPECT_EQ(fieldOf(requests[0].head, name), "<none>") << name;
    EXPECT_EQ(fieldOf(requests[0].head, "X-Keep"), "yes");
    EXPECT_EQ(fieldOf(curl.headers, "Cache-Control"), "no-cache");
    EXPECT_EQ(fieldOf(curl.headers, "ETag"), "<none>");
    EXPECT_EQ(fieldOf(curl.headers, "Expires"), "<none>");

    document->togglePreventCache();
    ASSERT_EQ(runCurl(port(), origin.url("/cached"), output("again"), validators).exitCode, 0);
    EXPECT_EQ(fieldOf(origin.requests()[1].head, "If-None-Match"), "\"abc\"");
}

TEST_F(CaptureEndToEnd, ConcurrentConnectionsAreNumberedInOrder) {
    OriginServer origin([](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
        return false; // one answer per connection
    });
    constexpr int kClients = 4, kEach = 6;
    std::vector<std::future<int>> clients;
    for (int c = 0; c < kClients; ++c)
        clients.push_back(std::async(std::launch::async, [&, c] {
            // One curl per client asks its URLs in turn over one connection.
            std::vector<std::string> extra;
            for (int i = 0; i + 1 < kEach; ++i) {
                extra.push_back(origin.url("/" + std::to_string(c) + "/" + std::to_string(i)));
                extra.push_back("--output");
                extra.push_back(output(std::to_string(c) + "-" + std::to_string(i)));
            }
            return runCurl(port(),
                           origin.url("/" + std::to_string(c) + "/" + std::to_string(kEach - 1)),
                           output(std::to_string(c)), extra)
                .exitCode;
        }));
    for (auto& client : clients)
        EXPECT_EQ(client.get(), 0);
    document->stopCapture();
    const auto resources = listed();
    ASSERT_EQ(resources.size(), std::size_t(kClients * kEach));
    std::map<std::string, std::map<int, std::uint32_t>> byClient;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        EXPECT_EQ(resources[i]->id, i + 1);
        byClient[resources[i]->directory][std::stoi(resources[i]->name)] = resources[i]->id;
    }
    ASSERT_EQ(byClient.size(), std::size_t(kClients));
    for (const auto& [directory, ids] : byClient) {
        std::uint32_t previous = 0;
        for (const auto& [index, id] : ids) {
            EXPECT_GT(id, previous) << directory << index;
            previous = id;
        }
    }
}

TEST_F(CaptureEndToEnd, ClearingDuringADownloadLeavesItToItsThread) {
    const std::string body = patterned(2 * 1024 * 1024);
    std::mutex mutex;
    std::condition_variable changed;
    bool firstHalfSent = false, mayFinish = false;
    OriginServer origin([&](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\n\r\n" + body.substr(0, body.size() / 2));
        std::unique_lock<std::mutex> lock(mutex);
        firstHalfSent = true;
        changed.notify_all();
        changed.wait(lock, [&] { return mayFinish; });
        lock.unlock();
        sendAllBytes(socket, body.substr(body.size() / 2));
        return false; // one answer per connection
    });
    RecordingListener listener(*document);
    auto download = std::async(std::launch::async, [&] {
        return runCurl(port(), origin.url("/dl"), output("dl")).exitCode;
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return firstHalfSent; });
    }
    // The resource is listed once its response head has passed.
    std::uint32_t id = 0;
    while (id == 0) {
        delivery.waitForPending(std::chrono::seconds(5));
        delivery.dispatchPending();
        for (const auto& seen : listener.seen)
            if (seen.event == DocumentEvent::ResourceAdded)
                id = seen.id;
    }
    {
        CaptureLocker lock(captureLock());
        HttpResource* resource = document->findResource(id);
        ASSERT_TRUE(resource);
        EXPECT_TRUE(resource->flags & HttpResource::Loading);
    }
    document->clearAll();
    EXPECT_TRUE(document->resources.empty());
    EXPECT_EQ(document->findResource(id), nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex);
        mayFinish = true;
    }
    changed.notify_all();
    EXPECT_EQ(download.get(), 0);
    EXPECT_EQ(readFile(output("dl")), body); // the client got everything
    document->stopCapture();                 // its thread has ended the exchange
    EXPECT_FALSE(isStored(document->cacheFolder, id));
    EXPECT_TRUE(document->resources.empty());
    // Late notices name a resource that is gone; the listener finds nothing.
    listener.seen.clear();
    delivery.dispatchPending();
    for (const auto& seen : listener.seen)
        EXPECT_FALSE(seen.found);
}

TEST_F(CaptureEndToEnd, KeptCapturesComeBackAndNumberingContinues) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        const std::string& body = request.target;
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\n\r\n" + body);
        return false; // one answer per connection
    });
    for (const char* path : {"/one", "/two"})
        ASSERT_EQ(runCurl(port(), origin.url(path), output("x")).exitCode, 0);
    document->stopCapture();
    document->closeCaptures(true);
    document.reset();

    SetUp();
    auto resources = listed();
    ASSERT_EQ(resources.size(), 2u);
    EXPECT_EQ(resources[0]->name, "one");
    EXPECT_EQ(resources[1]->name, "two");
    EXPECT_EQ(contentOf(*resources[1], true), "/two");
    ASSERT_EQ(runCurl(port(), origin.url("/three"), output("x")).exitCode, 0);
    document->stopCapture();
    resources = listed();
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_EQ(resources[2]->name, "three");
    EXPECT_GT(resources[2]->id, resources[1]->id);
}
