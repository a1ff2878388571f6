// WebSocket conversations through the real proxy and capture document, from a
// client of our own to a loopback echo origin: addressed to the proxy, inside
// a CONNECT tunnel as browsers send ws:// through a proxy, and inside a
// decrypted tunnel; with permessage-deflate and without. The capture reads
// back as the conversation, also from its cache files at the next start.
#include "engine/Platform.h"
#include "engine/SocketStream.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HarWriter.h"
#include "store/QueuedEventDelivery.h"
#include "store/WebSocketLog.h"
#include "tls/HttpsInterception.h"
#include "tls/TlsStream.h"

#include "store/DocumentTestKit.h"
#include "store/StoreTestKit.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"
#include "support/TlsFront.h"
#include "support/WebSocketPeer.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

enum class Route { ToProxy, Connect, Decrypted };

struct Case {
    const char* label;
    Route route;
    bool deflate;
};

class WebSocketThroughProxy : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        ASSERT_TRUE(originAuthority.create("origin test CA"));
        writeFile(originCaFile, originAuthority.certificatePem());
        ASSERT_TRUE(https->prepare());
        https->setDecrypt(true);
        startDocument();
    }
    void TearDown() override {
        listener.reset();
        document->stopCapture();
        document->closeCaptures(false);
    }

    void startDocument() {
        document = std::make_unique<Document>(ui, delivery, settings);
        ASSERT_TRUE(document->newDocument());
        document->proxy.manageSystemSettings = false;
        document->proxy.configuredPort = 0;
        document->proxy.https = https;
        listener = std::make_unique<RecordingListener>(*document);
        ASSERT_TRUE(document->startCapture()) << errorText(lastError());
    }

    // Waits on the document's notices until `count` rows have ended.
    void waitForEnded(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (rows(true).size() >= count)
                return;
            delivery.waitForPending(std::chrono::milliseconds(200));
            delivery.dispatchPending();
        }
        ADD_FAILURE() << "rows did not end";
    }
    std::vector<HttpResource*> rows(bool endedOnly = false) {
        CaptureLocker lock(captureLock());
        std::vector<HttpResource*> out;
        for (HttpResource* r = document->resources.head; r; r = r->next)
            if (!endedOnly || (r->flags & HttpResource::Ended))
                out.push_back(r);
        return out;
    }
    HttpResource* webSocketRow() {
        for (HttpResource* r : rows())
            if (r->statusCode == 101)
                return r;
        return nullptr;
    }

    // Reads up to the end of an answer's head; the rest goes to `after`.
    static bool readHead(Stream& stream, std::string& head, std::string& after) {
        std::string bytes;
        char buffer[4096];
        while (bytes.find("\r\n\r\n") == std::string::npos) {
            const std::int32_t n = stream.read(buffer, sizeof buffer);
            if (n <= 0)
                return false;
            bytes.append(buffer, std::size_t(n));
        }
        const std::size_t end = bytes.find("\r\n\r\n") + 4;
        head = bytes.substr(0, end);
        after = bytes.substr(end);
        return true;
    }

    ScopedDataHome home;
    TempFolder config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().c_str()};
    TempFolder scratch;
    std::string originCaFile = scratch.path() + "/origin-ca.pem";
    ScopedEnv certFile{"SSL_CERT_FILE", originCaFile.c_str()};
    ScopedEnv certDir{"SSL_CERT_DIR", scratch.path().c_str()};
    CertificateAuthority originAuthority;
    std::shared_ptr<HttpsInterception> https = std::make_shared<HttpsInterception>();
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    MemorySettings settings;
    std::unique_ptr<Document> document;
    std::unique_ptr<RecordingListener> listener;
};

} // namespace

TEST_P(WebSocketThroughProxy, MessagesAndTimingsAreCapturedAndComeBackAfterARestart) {
    const Case& c = GetParam();
    OriginServer origin(webSocketEcho(c.deflate));
    std::unique_ptr<TlsFront> front;
    if (c.route == Route::Decrypted)
        front = std::make_unique<TlsFront>(origin.port(), originAuthority, "localhost");
    const std::string host = c.route == Route::Decrypted
                                 ? "localhost:" + std::to_string(front->port())
                                 : "127.0.0.1:" + std::to_string(origin.port());

    const int socket = connectLoopback(document->proxy.port());
    ASSERT_GE(socket, 0);
    SocketStream plain(socket);
    std::unique_ptr<TlsStream> tls;
    std::string head, early;
    if (c.route != Route::ToProxy) {
        ASSERT_TRUE(
            sendAllBytes(socket, "CONNECT " + host + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n"));
        ASSERT_TRUE(readHead(plain, head, early));
        ASSERT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    }
    if (c.route == Route::Decrypted) {
        ScopedEnv trustRoot("SSL_CERT_FILE", https->certificateFile().c_str());
        TlsClientContext client;
        tls = client.connect(socket, "localhost");
        ASSERT_TRUE(tls);
    }
    Stream& stream = tls ? static_cast<Stream&>(*tls) : plain;
    const std::string target =
        c.route == Route::ToProxy ? "http://" + host + "/feed?x=1" : "/feed?x=1";
    const std::string request = webSocketRequest(target, host, c.deflate);
    ASSERT_TRUE(stream.write(request.data(), std::int32_t(request.size())));
    ASSERT_TRUE(readHead(stream, head, early));
    ASSERT_EQ(head.rfind("HTTP/1.1 101 ", 0), 0u) << head;
    std::vector<std::string> expected;
    {
        WebSocketPeer client(stream, true, c.deflate, true, early);
        ASSERT_TRUE(holdEchoConversation(client, c.deflate, expected));
    }
    if (tls)
        tls->closeNotify();
    ::shutdown(socket, SHUT_WR);
    char rest[4096];
    while (stream.read(rest, sizeof rest) > 0) {
    }
    ::close(socket);

    const std::size_t rowCount = c.route == Route::ToProxy ? 1 : 2;
    waitForEnded(rowCount);
    document->stopCapture();
    ASSERT_EQ(rows().size(), rowCount);

    const std::string scheme = c.route == Route::Decrypted ? "https://" : "http://";
    ExchangeTimings timings;
    std::int64_t duration = -1;
    std::int64_t toServer = 0;
    {
        HttpResource* row = webSocketRow();
        ASSERT_TRUE(row);
        CaptureLocker lock(captureLock());
        EXPECT_EQ(row->url.toString(), scheme + host + "/feed?x=1");
        ASSERT_TRUE(row->tunnel);
        // The client sent the first close, whoever dropped the connection.
        EXPECT_EQ(row->tunnel->end, TunnelEnd::ClientClosed);
        // The large message each way, compressed far below its size or not.
        const std::int64_t least = c.deflate ? 10000 : 200000;
        EXPECT_GT(row->tunnel->toServer, least);
        EXPECT_GT(row->tunnel->toClient, least);
        toServer = row->tunnel->toServer;
        timings = row->timings;
        duration = row->duration;
    }
    // The phases in their order, each once.
    EXPECT_TRUE(timings.known());
    EXPECT_GE(timings.connected, 0);
    EXPECT_GE(timings.sent, timings.connected);
    EXPECT_GE(timings.firstByte, timings.sent);
    EXPECT_GE(duration, timings.firstByte);
    EXPECT_EQ(timings.tls >= 0, c.route == Route::Decrypted);

    auto conversation = [&](const char* when) {
        SCOPED_TRACE(when);
        HttpResource* row = webSocketRow();
        ASSERT_TRUE(row);
        WebSocketLog log;
        ASSERT_TRUE(readWebSocketLog(*row, log)) << errorText(lastError());
        EXPECT_EQ(describeMessages(log.messages), expected);
        EXPECT_EQ(log.perMessageDeflate, c.deflate);
        EXPECT_FALSE(log.cut);
        ASSERT_TRUE(log.haveTotals);
        EXPECT_EQ(log.totals.fromClient.messages, 6u);
        EXPECT_EQ(log.totals.fromServer.messages, 6u);
        EXPECT_EQ(log.totals.fromClient.error, WebSocketFrameParser::Error::None);
    };
    conversation("captured");

    document->closeCaptures(true);
    listener.reset();
    document.reset();
    startDocument();
    conversation("loaded at the next start");
    HttpResource* row = webSocketRow();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->tunnel->toServer, toServer);
    EXPECT_EQ(row->timings.start, timings.start);
    EXPECT_EQ(row->timings.connected, timings.connected);
    EXPECT_EQ(row->timings.firstByte, timings.firstByte);
    EXPECT_EQ(row->duration, duration);

    const std::string har = scratch.path() + "/ws.har";
    ASSERT_TRUE(writeHarFile(har, {row}, "test")) << errorText(lastError());
    const HarCheck check = checkHar(har);
    EXPECT_EQ(check.problems, "");
    EXPECT_EQ(check.facts(0, "resource-type"), std::vector<std::string>{"websocket"});
    // Text and binary messages only, decompressed, in the order they went.
    std::vector<std::string> kinds;
    for (const std::string& line : check.facts(0, "ws"))
        kinds.push_back(line.substr(0, line.find(' ', line.find(' ') + 1)));
    const std::vector<std::string> sendReceive = {"send 1", "receive 1", "send 2", "receive 2",
                                                  "send 1", "receive 1", "send 1", "receive 1"};
    EXPECT_EQ(kinds, sendReceive);
    EXPECT_EQ(check.facts(0, "ws")[0],
              R"(send 1 "{\"op\":\"subscribe\",\"channel\":\"tides\",\"ids\":[1,2,3]}")");
    EXPECT_EQ(check.facts(0, "ws")[2], R"(send 2 "000102ff")");
}

INSTANTIATE_TEST_SUITE_P(Routes, WebSocketThroughProxy,
                         ::testing::Values(Case{"ToProxyCompressed", Route::ToProxy, true},
                                           Case{"ToProxyPlain", Route::ToProxy, false},
                                           Case{"ConnectCompressed", Route::Connect, true},
                                           Case{"ConnectPlain", Route::Connect, false},
                                           Case{"DecryptedCompressed", Route::Decrypted, true},
                                           Case{"DecryptedPlain", Route::Decrypted, false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.label);
                         });
