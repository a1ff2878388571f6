// Tunnels as resources: one row per tunnel with its counts, kept in a cache
// file that readers knowing nothing of tunnels still load.
#include "DocumentTestKit.h"
#include "StoreTestKit.h"

#include "engine/Platform.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/ExtensionRecords.h"
#include "store/QueuedEventDelivery.h"
#include "support/OriginServer.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedStreams.h"

#include "support/StoredCaptures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

std::uint64_t field(const std::string& image, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(image[at + std::size_t(i)]);
    return value;
}

struct TunnelRecordTest : ::testing::Test {
    std::unique_ptr<Document> open() {
        auto document = std::make_unique<Document>(ui, delivery, settings);
        EXPECT_TRUE(document->newDocument());
        return document;
    }

    ScopedDataHome home;
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    MemorySettings settings;
};

} // namespace

TEST_F(TunnelRecordTest, WhichExchangesAreTunnels) {
    CacheFolder folder;
    ASSERT_TRUE(folder.prepareCacheFolder());
    struct Case {
        std::string request;
        std::string response;
        bool tunnel;
    };
    const Case cases[] = {
        {"CONNECT example.com:443 HTTP/1.1\r\n", "HTTP/1.1 200 Connection established\r\n", true},
        {"CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n",
         "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n", false},
        {"GET /chat HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\n",
         "HTTP/1.1 101 Switching Protocols\r\n", true},
        {"GET /chat HTTP/1.1\r\nHost: a\r\n", "HTTP/1.1 200 OK\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request + c.response);
        auto resource = capture(folder, c.request, "", c.response, "");
        EXPECT_EQ(resource->tunnel != nullptr, c.tunnel);
    }
}

TEST_F(TunnelRecordTest, TunnelRowKeepsItsCountsAcrossARestart) {
    std::uint32_t id = 0;
    {
        auto document = open();
        HttpSnagger& filter = document->filter;
        HttpRequestHeader request =
            requestHead("CONNECT example.com:443 HTTP/1.1\r\nUser-Agent: test\r\n");
        const int handle = filter.beginRequest(0, request);
        ASSERT_NE(handle, -1);
        HttpResponseHeader response = responseHead("HTTP/1.1 200 Connection established\r\n");
        ASSERT_TRUE(filter.beginResponse(handle, response));
        filter.tunnelData(handle, 517, 4000, TunnelEnd::Open);
        filter.tunnelData(handle, 90, 60000, TunnelEnd::Open);
        filter.tunnelData(handle, 0, 0, TunnelEnd::ServerClosed);
        filter.endExchange(handle, 0);

        CaptureLocker lock(captureLock());
        HttpResource* resource = document->resources.head;
        ASSERT_TRUE(resource && resource->tunnel);
        id = resource->id;
        EXPECT_EQ(resource->name, "example.com:443");
        EXPECT_EQ(resource->directory, "example.com:443");
        EXPECT_EQ(resource->tunnel->toServer, 607);
        EXPECT_EQ(resource->tunnel->toClient, 64000);
        EXPECT_EQ(resource->tunnel->end, TunnelEnd::ServerClosed);
        EXPECT_EQ(resource->receivedSize, 0); // nothing of it is stored
        CollectingOutputStream out;
        EXPECT_FALSE(resource->copyBody(out, false));
        EXPECT_EQ(lastError(), kErrorNoResponseData);
        ui.yesNoAnswer = DocumentUi::Answer::Yes;
        ASSERT_TRUE(document->saveModified());
    }

    // A reader that knows only the record header finds an empty body where
    // the file's body starts; the tunnel record lies beyond it, and the
    // exchange's timings after that.
    auto document = open();
    const std::string image = storedImages(document->cacheFolder).at(id);
    const std::uint64_t bodyOffset = field(image, 24, 8);
    EXPECT_EQ(field(image, 32, 8), 0u);
    EXPECT_EQ(image.size(), bodyOffset + HttpResource::kTunnelRecordSize + records::kTimingsSize);

    CaptureLocker lock(captureLock());
    HttpResource* loaded = document->resources.head;
    ASSERT_TRUE(loaded && loaded->tunnel);
    EXPECT_EQ(loaded->name, "example.com:443");
    EXPECT_EQ(loaded->tunnel->toServer, 607);
    EXPECT_EQ(loaded->tunnel->toClient, 64000);
    EXPECT_EQ(loaded->tunnel->end, TunnelEnd::ServerClosed);
    HttpRequestHeader request;
    ASSERT_TRUE(loaded->readRequestHeader(request));
    EXPECT_EQ(request.method + " " + request.target, "CONNECT example.com:443");

    // Without its record (a file cut short) the row still loads, counts unknown.
    const std::string path = home.path() + "/cut.dat";
    writeFile(path, image.substr(0, bodyOffset + HttpResource::kTunnelRecordSize - 1));
    HttpResource cut(loaded->folder);
    ASSERT_TRUE(cut.load(path));
    ASSERT_TRUE(cut.tunnel);
    EXPECT_EQ(cut.tunnel->toClient, 0);
    EXPECT_EQ(cut.tunnel->end, TunnelEnd::Open);
}

// Through the real proxy: curl asks for a tunnel and sends its request in it.
TEST_F(TunnelRecordTest, CapturedTunnelIsOneRowAndItsRequestIsNotReadInside) {
    // The origin keeps the connection: curl, done, closes first.
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("inside")));
    TempFolder config;
    ScopedEnv configHome("XDG_CONFIG_HOME", config.path().c_str());
    auto document = open();
    document->proxy.manageSystemSettings = false;
    document->proxy.configuredPort = 0;
    ASSERT_TRUE(document->startCapture()) << errorText(lastError());
    const CurlResult curl = runCurl({"--proxytunnel", "-x",
                                     "http://127.0.0.1:" + std::to_string(document->proxy.port()),
                                     origin.url("/page")});
    // curl is gone; the tunnel ends once the origin has answered its close.
    for (bool open = true; open; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        CaptureLocker lock(captureLock());
        open =
            !document->resources.head || (document->resources.head->flags & HttpResource::Loading);
    }
    document->stopCapture();
    EXPECT_EQ(curl.exitCode, 0);
    EXPECT_EQ(curl.output, "inside");

    CaptureLocker lock(captureLock());
    ASSERT_EQ(document->resources.count, 1u);
    HttpResource* resource = document->resources.head;
    ASSERT_TRUE(resource->tunnel);
    EXPECT_EQ(resource->name, origin.authority());
    EXPECT_EQ(resource->statusCode, 200);
    EXPECT_EQ(resource->result, 0u);
    EXPECT_EQ(resource->flags & HttpResource::Loading, 0u);
    const std::int64_t request = std::int64_t(origin.requests().at(0).head.size());
    EXPECT_EQ(resource->tunnel->toServer, request);
    EXPECT_EQ(resource->tunnel->toClient, std::int64_t(OriginServer::okResponse("inside").size()));
    EXPECT_EQ(resource->tunnel->end, TunnelEnd::ClientClosed);
    document->closeCaptures(false);
}
