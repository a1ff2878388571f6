// HTTPS captured by decryption end to end: real curl through the real proxy
// and capture document, to loopback origins behind a TLS front with their own
// test CA, which the proxy trusts through SSL_CERT_FILE.
#include "engine/HttpConnection.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResourceData.h"
#include "store/QueuedEventDelivery.h"
#include "tls/HttpsInterception.h"
#include "tls/TlsError.h"

#include "store/DocumentTestKit.h"
#include "store/StoreTestKit.h"
#include "support/EchoServer.h"
#include "support/LoopbackServer.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"
#include "support/ScriptedStreams.h"
#include "support/TestBytes.h"
#include "support/TlsFront.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>

namespace {

std::string bodyOf(HttpResource& resource) {
    CollectingOutputStream out;
    EXPECT_TRUE(resource.copyBody(out, false)) << errorText(lastError());
    return out.text;
}

class HttpsCapture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(originAuthority.create("origin test CA"));
        ASSERT_TRUE(strangerAuthority.create("nobody trusts this"));
        writeFile(originCaFile, originAuthority.certificatePem());
        // The proxy trusts the test origins' CA and nothing else.
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

    // Waits, on the document's notices, until `count` rows are listed and
    // each has ended: a client may be done before the proxy is.
    void waitForEnded(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                CaptureLocker lock(captureLock());
                std::size_t ended = 0;
                for (HttpResource* r = document->resources.head; r; r = r->next)
                    ended += (r->flags & HttpResource::Ended) ? 1 : 0;
                if (ended >= count)
                    return;
            }
            delivery.waitForPending(std::chrono::milliseconds(200));
            delivery.dispatchPending();
        }
        ADD_FAILURE() << "rows did not end";
    }

    // curl through the proxy, trusting `cacert`; -i --raw: what it received.
    CurlResult curl(const std::vector<std::string>& urls, const std::string& cacert) {
        std::vector<std::string> arguments = {
            "--noproxy", "",
            "--proxy",   "http://127.0.0.1:" + std::to_string(document->proxy.port()),
            "--cacert",  cacert,
            "--capath",  scratch.path(),
            "-i",        "--raw"};
        arguments.insert(arguments.end(), urls.begin(), urls.end());
        return runCurl(arguments);
    }

    // CONNECT `target` on `socket` and TLS inside it, trusting our root; null
    // (with a failure recorded) when either fails.
    std::unique_ptr<TlsStream> openTunnel(int socket, const std::string& target) {
        EXPECT_TRUE(sendAllBytes(socket, "CONNECT " + target + " HTTP/1.1\r\nHost: " + target +
                                             "\r\n\r\n"));
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && ::recv(socket, &c, 1, 0) == 1)
            head += c;
        EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
        ScopedEnv trustRoot("SSL_CERT_FILE", https->certificateFile().c_str());
        TlsClientContext client;
        return client.connect(socket, target.substr(0, target.rfind(':')));
    }

    std::vector<HttpResource*> listed() {
        CaptureLocker lock(captureLock());
        std::vector<HttpResource*> out;
        for (HttpResource* r = document->resources.head; r; r = r->next)
            out.push_back(r);
        return out;
    }
    // The listed resources whose URL is https (the decrypted exchanges).
    std::vector<HttpResource*> decrypted() {
        std::vector<HttpResource*> out;
        for (HttpResource* r : listed())
            if (r->url.scheme == "https")
                out.push_back(r);
        return out;
    }

    ScopedDataHome home;
    TempFolder config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().c_str()};
    TempFolder scratch;
    std::string originCaFile = scratch.path() + "/origin-ca.pem";
    ScopedEnv certFile{"SSL_CERT_FILE", originCaFile.c_str()};
    ScopedEnv certDir{"SSL_CERT_DIR", scratch.path().c_str()};
    CertificateAuthority originAuthority;
    CertificateAuthority strangerAuthority;
    std::shared_ptr<HttpsInterception> https = std::make_shared<HttpsInterception>();
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    MemorySettings settings;
    std::unique_ptr<Document> document;
    std::unique_ptr<RecordingListener> listener;
};

} // namespace

TEST_F(HttpsCapture, ExchangesAreCapturedByteForByteWithHttpsAddresses) {
    const std::string one = patterned(300000);
    const std::string two = "second body";
    OriginServer origin([&](int socket, const OriginRequest& request) {
        const std::string& body = request.target == "/a/one.bin" ? one : two;
        return sendAllBytes(socket, OriginServer::okResponse(body, "Content-Type: x/y\r\n"));
    });
    TlsFront front(origin.port(), originAuthority, "localhost");
    const std::string base = "https://localhost:" + std::to_string(front.port());
    const CurlResult result =
        curl({base + "/a/one.bin", base + "/a/two.bin?q=1"}, https->certificateFile());
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find(one), std::string::npos);
    // Both went over one TLS connection to the origin, in origin form.
    EXPECT_EQ(front.handshakes(), 1)
        << listed().size() << " rows, origin connections " << origin.connections();
    const auto requests = origin.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/a/one.bin");
    EXPECT_NE(requests[0].head.find("\r\nHost:localhost:" + std::to_string(front.port())),
              std::string::npos)
        << requests[0].head;

    // A later client connection finds the origin's session and resumes it.
    ASSERT_EQ(curl({base + "/a/two.bin"}, https->certificateFile()).exitCode, 0);
    EXPECT_EQ(front.handshakes(), 2);
    EXPECT_EQ(front.resumed(), 1);

    document->stopCapture();
    auto rows = decrypted();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0]->url.toString(), base + "/a/one.bin");
    EXPECT_EQ(rows[0]->directory, base + "/a/");
    EXPECT_EQ(rows[0]->name, "one.bin");
    EXPECT_EQ(rows[0]->statusCode, 200);
    EXPECT_EQ(rows[0]->result, 0u);
    EXPECT_TRUE(bodyOf(*rows[0]) == one);
    EXPECT_EQ(rows[1]->url.toString(), base + "/a/two.bin?q=1");
    EXPECT_EQ(bodyOf(*rows[1]), two);

    // Kept and loaded at the next start, the capture still reads https.
    const std::uint32_t id = rows[0]->id;
    listener.reset();
    document->closeCaptures(true);
    document.reset();
    startDocument();
    HttpResource* again = nullptr;
    {
        CaptureLocker lock(captureLock());
        again = document->findResource(id);
    }
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->url.toString(), base + "/a/one.bin");
    EXPECT_EQ(again->directory, base + "/a/");
    EXPECT_TRUE(bodyOf(*again) == one);
}

TEST_F(HttpsCapture, OriginFailingVerificationGets502AndAFailedRow) {
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("secret")));
    struct Row {
        const char* what;
        const CertificateAuthority* authority;
        const char* fallbackName;
        const char* host;
        std::uint32_t error;
    } rows[] = {
        {"unknown CA", &strangerAuthority, "localhost", "localhost", kErrorOriginUntrusted},
        {"another name", &originAuthority, "other.test", "127.0.0.1", kErrorOriginNameMismatch},
    };
    std::vector<std::string> urls;
    for (const Row& row : rows) {
        TlsFront front(origin.port(), *row.authority, row.fallbackName);
        urls.push_back(std::string("https://") + row.host + ":" + std::to_string(front.port()) +
                       "/s");
        const CurlResult result = curl({urls.back()}, https->certificateFile());
        EXPECT_EQ(result.exitCode, 0) << row.what;
        // After the tunnel's own 200, the answer from inside it.
        EXPECT_NE(result.output.find("\r\n\r\nHTTP/1.1 502 Bad Gateway\r\n"), std::string::npos)
            << row.what << result.output;
        EXPECT_NE(result.output.find(errorText(row.error)), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("secret"), std::string::npos) << row.what;
    }
    document->stopCapture(); // every exchange has ended
    const auto failed = decrypted();
    ASSERT_EQ(failed.size(), 2u);
    for (std::size_t i = 0; i < failed.size(); ++i) {
        EXPECT_EQ(failed[i]->url.toString(), urls[i]);
        EXPECT_EQ(failed[i]->statusCode, 502) << rows[i].what;
        EXPECT_EQ(failed[i]->result, rows[i].error) << rows[i].what;
    }
    EXPECT_TRUE(origin.requests().empty());
}

// An origin that takes the connection and says nothing is given up on when
// the handshake's own wait runs out: 504 inside the tunnel, and a failed row.
TEST_F(HttpsCapture, SilentOriginGets504WhenTheHandshakeWaitRunsOut) {
    OriginServer silent([](int, const OriginRequest&) { return false; });
    document->stopCapture();
    document->proxy.timeouts.originHandshake = std::chrono::milliseconds(300);
    ASSERT_TRUE(document->startCapture()) << errorText(lastError());
    const std::string url = "https://127.0.0.1:" + std::to_string(silent.port()) + "/s";
    const CurlResult result = curl({url}, https->certificateFile());
    EXPECT_NE(result.output.find("\r\n\r\nHTTP/1.1 504 Gateway Timeout\r\n"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(errorText(kErrorHandshakeTimeout)), std::string::npos)
        << result.output;
    document->stopCapture(); // every exchange has ended
    const auto failed = decrypted();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0]->statusCode, 504);
    EXPECT_EQ(failed[0]->result, kErrorHandshakeTimeout);
}

// The origin refuses an upload before its body and closes: inside the
// tunnel too, the client hears that answer, not a reset.
TEST_F(HttpsCapture, AnAnswerGivenBeforeTheBodyReachesTheClient) {
    HostCertificateCache certificates(originAuthority);
    TlsServerContext context(certificates);
    LoopbackServer origin([&](int socket, int) {
        std::unique_ptr<TlsStream> tls = context.accept(socket, "localhost");
        std::string head;
        char c;
        while (tls && head.find("\r\n\r\n") == std::string::npos && tls->read(&c, 1) == 1)
            head += c;
        const std::string refusal = "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 9\r\n"
                                    "Connection: close\r\n\r\ntoo large";
        if (tls && tls->write(refusal.data(), std::int32_t(refusal.size())))
            tls->closeNotify();
        // The body still coming is answered with a reset.
        ::shutdown(socket, SHUT_RDWR);
    });
    const std::string upload = scratch.path() + "/upload";
    writeFile(upload, std::string(16 << 20, 'u'));
    const CurlResult result = curl({"-H", "Expect:", "--data-binary", "@" + upload,
                                    "https://localhost:" + std::to_string(origin.port()) + "/up"},
                                   https->certificateFile());
    EXPECT_NE(result.output.find("\r\n\r\nHTTP/1.1 413 Payload Too Large\r\n"), std::string::npos)
        << result.exitCode << result.output;
    EXPECT_EQ(result.output.substr(result.output.size() - 9), "too large");
    waitForEnded(2);
    document->stopCapture();
    const auto rows = decrypted();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->statusCode, 413);
    EXPECT_EQ(bodyOf(*rows[0]), "too large");
}

TEST_F(HttpsCapture, PassThroughHostsAreTunnelledUnread) {
    https->setPassThrough("*.example, localh?st");
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("end to end")));
    TlsFront front(origin.port(), originAuthority, "localhost");
    // The client sees the origin's own certificate.
    const CurlResult result =
        curl({"https://localhost:" + std::to_string(front.port()) + "/p"}, originCaFile);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("end to end"), std::string::npos);
    document->stopCapture();
    EXPECT_TRUE(decrypted().empty());
}

// The tunnel is asked for one host and TLS for another: either on the list
// keeps the connection from being decrypted.
TEST_F(HttpsCapture, PassThroughByTheServerNameAsWellAsTheConnectHost) {
    https->setPassThrough("pinned.test");
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("end to end")));
    TlsFront front(origin.port(), originAuthority, "localhost");
    const std::string port = std::to_string(front.port());
    // CONNECT localhost:port, server name pinned.test: the client sees the
    // origin's own certificate for pinned.test.
    const CurlResult result = curl({"--connect-to", "pinned.test:" + port + ":localhost:" + port,
                                    "https://pinned.test:" + port + "/p"},
                                   originCaFile);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("end to end"), std::string::npos);
    EXPECT_EQ(origin.requests().size(), 1u);
    document->stopCapture();
    EXPECT_TRUE(decrypted().empty());
    const auto rows = listed();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->url.authority, "localhost:" + port);
    ASSERT_TRUE(rows[0]->tunnel);
    EXPECT_GT(rows[0]->tunnel->toServer, 0);
}

// Another user's program would have its HTTPS decrypted and kept in this
// user's cache: it is refused at its CONNECT, and the user is told once.
TEST_F(HttpsCapture, AnotherUsersProgramIsNeitherDecryptedNorCaptured) {
    if (!canRunAsNobody())
        GTEST_SKIP() << "running curl as another user needs root and setpriv";
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("their secret")));
    TlsFront front(origin.port(), originAuthority, "localhost");
    for (int attempt = 0; attempt < 2; ++attempt) {
        // -k: taking whatever certificate it is shown, as a careless client would.
        // -w: the status the proxy answered the CONNECT with, alone on stdout.
        const CurlResult refused =
            runCurlAs(asNobody(), {"-k", "--noproxy", "", "--proxy",
                                   "http://127.0.0.1:" + std::to_string(document->proxy.port()),
                                   "https://localhost:" + std::to_string(front.port()) + "/", "-H",
                                   "Cookie: theirs", "-w", "%{http_connect}"});
        EXPECT_EQ(refused.exitCode, 56) << refused.output; // curl: the CONNECT was refused
        EXPECT_EQ(refused.output, "403");
    }
    document->stopCapture();
    EXPECT_TRUE(listed().empty());
    EXPECT_TRUE(origin.requests().empty());
    delivery.dispatchPending();
    char told[512];
    std::snprintf(told, sizeof told, loadString(IDS_USER_REFUSED), 65534u);
    EXPECT_EQ(ui.messages, std::vector<std::string>{told});
}

// The hello is read whole before anything is decided, however the client
// cuts it into records and sends; what cannot be read is never decrypted.
// Through a tunnel to an echo server, a tunnelled hello comes back as sent;
// a decrypted one is answered with our ServerHello.
TEST_F(HttpsCapture, TheHelloIsReadWholeWhereverItIsCut) {
    https->setPassThrough("pinned.test");
    EchoServer echo;
    const auto record = [](const std::string& payload) {
        return std::string("\x16\x03\x01", 3) + char(payload.size() >> 8) +
               char(payload.size() & 0xFF) + payload;
    };
    const std::string hello = clientHelloOf("pinned.test");
    const std::string firstRecord = record(hello.substr(0, 100));
    const struct {
        const char* what;
        std::vector<std::string> sends;
        bool byteWise;
        bool tunnelled;
    } rows[] = {
        {"two records, three sends",
         {firstRecord.substr(0, 3), firstRecord.substr(3), record(hello.substr(100))},
         false,
         true},
        {"one record a byte at a time", {record(hello)}, true, true},
        {"not a handshake record after its first byte",
         {"\x16\x01\x02\x03\x04\x05 plain"},
         false,
         true},
        {"a name not on the list", {record(clientHelloOf("free.test"))}, false, false},
    };
    for (const auto& row : rows) {
        const int socket = connectLoopback(document->proxy.port());
        ASSERT_GE(socket, 0);
        const timeval limit{30, 0}; // a proxy that holds the hello fails the row, not the run
        ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ASSERT_TRUE(sendAllBytes(socket, "CONNECT " + echo.authority() + " HTTP/1.1\r\n\r\n"));
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos && ::recv(socket, &c, 1, 0) == 1)
            head += c;
        EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << row.what << head;
        std::string sent;
        for (const std::string& piece : row.sends) {
            const std::size_t step = row.byteWise ? 1 : piece.size();
            for (std::size_t at = 0; at < piece.size(); at += step)
                ASSERT_TRUE(sendAllBytes(socket, piece.substr(at, step)));
            sent += piece;
        }
        std::string back(sent.size(), '\0');
        const ssize_t got = ::recv(socket, back.data(), back.size(), MSG_WAITALL);
        ::close(socket);
        back.resize(std::size_t(std::max<ssize_t>(got, 0)));
        if (row.tunnelled) {
            EXPECT_EQ(back, sent) << row.what;
        } else {
            constexpr char kServerHello = 2;
            ASSERT_GT(back.size(), 5u) << row.what;
            EXPECT_EQ(back[0], 0x16) << row.what;
            EXPECT_EQ(back[5], kServerHello) << row.what;
        }
    }
}

TEST_F(HttpsCapture, ClientRefusingOurCertificateIsNamedOnItsRow) {
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("never")));
    TlsFront front(origin.port(), originAuthority, "localhost");
    const CurlResult result =
        curl({"https://localhost:" + std::to_string(front.port()) + "/p"}, originCaFile);
    EXPECT_EQ(result.exitCode, 60); // curl: peer certificate cannot be authenticated
    waitForEnded(1);
    document->stopCapture();
    const auto rows = listed();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->result, kErrorClientDistrustsRoot) << int(rows[0]->tunnel->end.load());
    EXPECT_EQ(errorText(rows[0]->result), "客户端不信任根证书");
    EXPECT_TRUE(origin.requests().empty());
}

// Until HTTP/2 is spoken, a client that wants nothing else is refused at
// once, and its row says why.
TEST_F(HttpsCapture, ClientsSpeakingOnlyHttp2AreRefusedWithFailedRows) {
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("never")));
    TlsFront front(origin.port(), originAuthority, "localhost");
    const std::string target = "localhost:" + std::to_string(front.port());
    // Its ALPN offers h2 alone: the handshake ends with no_application_protocol.
    const ProgramResult refused = runProgram({"openssl", "s_client", "-proxy",
                                              "127.0.0.1:" + std::to_string(document->proxy.port()),
                                              "-connect", target, "-servername", "localhost",
                                              "-alpn", "h2", "-CAfile", https->certificateFile()});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE((refused.output + refused.errors).find("no application protocol"), std::string::npos)
        << refused.output << refused.errors;

    // No ALPN at all, and the HTTP/2 preface inside the tunnel: 505.
    const int socket = connectLoopback(document->proxy.port());
    ASSERT_GE(socket, 0);
    std::unique_ptr<TlsStream> tls = openTunnel(socket, target);
    ASSERT_TRUE(tls);
    const std::string preface = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
    ASSERT_TRUE(tls->write(preface.data(), std::int32_t(preface.size())));
    std::string answer;
    char buffer[4096];
    for (std::int32_t n; (n = tls->read(buffer, sizeof buffer)) > 0;)
        answer.append(buffer, std::size_t(n));
    ::close(socket);
    EXPECT_EQ(answer.rfind("HTTP/1.1 505 HTTP Version Not Supported\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find(loadString(IDS_HTTP_VERSION_PAGE)), std::string::npos) << answer;

    waitForEnded(3);
    document->stopCapture();
    EXPECT_TRUE(origin.requests().empty());
    const auto rows = listed();
    ASSERT_EQ(rows.size(), 3u);
    CaptureLocker lock(captureLock());
    EXPECT_EQ(rows[0]->result, kErrorClientNoHttp11) << errorText(rows[0]->result);
    EXPECT_EQ(rows[2]->url.toString(), "https://" + target + "/*");
    EXPECT_EQ(rows[2]->statusCode, 505);
    EXPECT_EQ(rows[2]->result, kErrorHttpVersion) << errorText(rows[2]->result);
}

TEST_F(HttpsCapture, UpgradeInsideADecryptedConnectionCarriesBothWays) {
    // A WebSocket origin needs no library: 101, then every byte echoed.
    OriginServer origin([](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\n\r\n");
        char chunk[16384];
        ssize_t n;
        while ((n = ::recv(socket, chunk, sizeof chunk, 0)) > 0)
            if (!sendAllBytes(socket, std::string_view(chunk, std::size_t(n))))
                break;
        return false;
    });
    TlsFront front(origin.port(), originAuthority, "localhost");
    const std::string target = "localhost:" + std::to_string(front.port());

    const int socket = connectLoopback(document->proxy.port());
    ASSERT_GE(socket, 0);
    std::unique_ptr<TlsStream> tls = openTunnel(socket, target);
    ASSERT_TRUE(tls);
    const std::string upgrade = "GET /ws HTTP/1.1\r\nHost: " + target +
                                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n";
    ASSERT_TRUE(tls->write(upgrade.data(), std::int32_t(upgrade.size())));
    std::string received;
    char buffer[16384];
    while (received.find("\r\n\r\n") == std::string::npos) {
        const std::int32_t n = tls->read(buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        received.append(buffer, std::size_t(n));
    }
    ASSERT_EQ(received.rfind("HTTP/1.1 101 ", 0), 0u) << received;
    received.erase(0, received.find("\r\n\r\n") + 4);

    // More than the pumps hold at once, while the echo comes back.
    const std::string frames = patterned(400000);
    std::thread writer([&] { tls->write(frames.data(), std::int32_t(frames.size())); });
    while (received.size() < frames.size()) {
        const std::int32_t n = tls->read(buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        received.append(buffer, std::size_t(n));
    }
    writer.join();
    EXPECT_TRUE(received == frames);
    tls->closeNotify();
    ::shutdown(socket, SHUT_WR);
    while (tls->read(buffer, sizeof buffer) > 0) {
    }
    ::close(socket);

    waitForEnded(2);
    document->stopCapture();
    const auto rows = decrypted();
    ASSERT_EQ(rows.size(), 1u);
    CaptureLocker lock(captureLock());
    EXPECT_EQ(rows[0]->statusCode, 101);
    EXPECT_EQ(rows[0]->url.toString(), "https://" + target + "/ws");
    ASSERT_TRUE(rows[0]->tunnel);
    EXPECT_EQ(rows[0]->tunnel->toServer, std::int64_t(frames.size()));
    EXPECT_EQ(rows[0]->tunnel->toClient, std::int64_t(frames.size()));
    EXPECT_EQ(rows[0]->result, 0u);
}

TEST_F(HttpsCapture, ClientSpeakingSomethingElseIsCarriedAsItIs) {
    // Plain HTTP through a CONNECT, with decryption on: not TLS, so tunnelled.
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("plain"), false));
    const std::string target = "127.0.0.1:" + std::to_string(origin.port());
    const CurlResult result = runCurl({"--noproxy", "", "--proxytunnel", "--proxy",
                                       "http://127.0.0.1:" + std::to_string(document->proxy.port()),
                                       "http://" + target + "/p"});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "plain");
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(origin.requests()[0].target, "/p");
}
