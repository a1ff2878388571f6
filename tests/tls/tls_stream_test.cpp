#include "tls/CertificateAuthority.h"
#include "tls/TlsError.h"
#include "tls/TlsStream.h"

#include "support/LoopbackServer.h"
#include "support/OriginServer.h"
#include "support/ScopedDataHome.h"
#include "support/SocketPair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace {

// A proxy root, and origin clients that trust it (or nothing at all) through
// SSL_CERT_FILE, as a test origin's own CA would be trusted.
class TlsStreams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.create("tester@test"));
        std::ofstream(folder.path() + "/root.pem") << root.certificatePem();
        std::ofstream(folder.path() + "/none.pem");
    }

    std::unique_ptr<TlsClientContext> client(bool trustRoot) {
        ScopedEnv file("SSL_CERT_FILE",
                       (folder.path() + (trustRoot ? "/root.pem" : "/none.pem")).c_str());
        ScopedEnv dir("SSL_CERT_DIR", folder.path().c_str());
        return std::make_unique<TlsClientContext>();
    }

    struct Result {
        std::unique_ptr<TlsStream> clientEnd;
        std::uint32_t clientError = 0;
        std::string clientDetail;
        std::unique_ptr<TlsStream> serverEnd;
        std::uint32_t serverError = 0;
        std::string serverName;
    };

    // Both handshakes at once over a loopback TCP connection.
    Result handshake(const std::string& host, const std::string& fallback, bool trustRoot = true) {
        Result r;
        auto origin = client(trustRoot);
        auto server = std::async(std::launch::async, [&] {
            auto end = proxy.accept(pair.second, fallback, &r.serverName);
            r.serverError = end ? 0 : lastError();
            if (!end)
                ::shutdown(pair.second, SHUT_RDWR);
            return end;
        });
        r.clientEnd = origin->connect(pair.first, host, &r.clientDetail);
        r.clientError = r.clientEnd ? 0 : lastError();
        if (!r.clientEnd)
            ::shutdown(pair.first, SHUT_RDWR);
        r.serverEnd = server.get();
        return r;
    }

    TempFolder folder;
    CertificateAuthority root;
    HostCertificateCache certificates{root};
    TlsServerContext proxy{certificates};
    SocketPair pair{true};
};

TEST_F(TlsStreams, CarryBytesBothWaysWithTheRequestedName) {
    Result r = handshake("www.Example.test", "fallback.test");
    ASSERT_TRUE(r.clientEnd) << errorText(r.clientError) << " " << r.clientDetail;
    ASSERT_TRUE(r.serverEnd) << errorText(r.serverError);
    EXPECT_EQ(r.serverName, "www.example.test");
    EXPECT_EQ(r.clientEnd->protocol(), "http/1.1");
    EXPECT_EQ(r.serverEnd->protocol(), "http/1.1");
    // The host's certificate alone: a client trusts the root it has, never
    // one it is shown.
    STACK_OF(X509)* shown = SSL_get_peer_cert_chain(r.clientEnd->ssl());
    ASSERT_TRUE(shown);
    EXPECT_EQ(sk_X509_num(shown), 1);

    // More than fits in one record, and in the socket buffers, while the other
    // side reads.
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    auto reader = std::async(std::launch::async, [&] {
        std::string got;
        char chunk[16384];
        std::int32_t n;
        while ((n = r.serverEnd->read(chunk, sizeof chunk)) > 0)
            got.append(chunk, std::size_t(n));
        return std::make_pair(n, got);
    });
    ASSERT_TRUE(r.clientEnd->write(big.data(), std::int32_t(big.size())));
    r.clientEnd->closeNotify();
    auto [last, got] = reader.get();
    EXPECT_EQ(last, 0);
    EXPECT_TRUE(got == big);

    // A peer that just closes, without close_notify, also ends the stream.
    ASSERT_TRUE(r.serverEnd->write("bye", 3));
    ::shutdown(pair.second, SHUT_RDWR);
    char buffer[16];
    EXPECT_EQ(r.clientEnd->read(buffer, sizeof buffer), 3);
    EXPECT_FALSE(r.clientEnd->hasBufferedInput());
    EXPECT_EQ(r.clientEnd->read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(r.clientEnd->write("x", 1));
}

TEST_F(TlsStreams, NonBlockingReadsAndWritesSayWhenToWait) {
    Result r = handshake("a.test", "a.test");
    ASSERT_TRUE(r.clientEnd && r.serverEnd);
    for (int fd : {pair.first, pair.second})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[65536];
    EXPECT_EQ(r.serverEnd->readSome(buffer, sizeof buffer), SecureStream::kWouldBlock);

    // Writes until the sockets are full, then the reader empties them while
    // the same bytes are offered again until all are through.
    pair.shrinkBuffers(32768);
    const std::string big(1 << 20, 'x');
    std::size_t sent = 0;
    std::size_t got = 0;
    bool blocked = false;
    while (!blocked && sent < big.size()) {
        const std::int32_t n = r.clientEnd->writeSome(big.data() + sent, 16384);
        ASSERT_NE(n, -1);
        blocked = n == SecureStream::kWouldBlock;
        if (!blocked)
            sent += std::size_t(n);
    }
    while (got < big.size()) {
        if (sent < big.size()) {
            const std::int32_t n = r.clientEnd->writeSome(
                big.data() + sent, std::int32_t(std::min<std::size_t>(big.size() - sent, 16384)));
            ASSERT_NE(n, -1);
            if (n > 0)
                sent += std::size_t(n);
        }
        const std::int32_t n = r.serverEnd->readSome(buffer, sizeof buffer);
        ASSERT_NE(n, -1);
        ASSERT_NE(n, 0);
        if (n > 0)
            got += std::size_t(n);
    }
    EXPECT_TRUE(blocked);
    r.clientEnd->closeNotify();
    pollfd wait{pair.second, POLLIN, 0};
    ::poll(&wait, 1, 5000);
    EXPECT_EQ(r.serverEnd->readSome(buffer, sizeof buffer), 0);
}

TEST_F(TlsStreams, WithoutServerNameTheConnectHostIsCertified) {
    Result r = handshake("127.0.0.1", "127.0.0.1");
    ASSERT_TRUE(r.clientEnd) << r.clientDetail;
    ASSERT_TRUE(r.serverEnd);
    EXPECT_EQ(r.serverName, "");
}

TEST_F(TlsStreams, FailuresSayWhichSideRefusedAndWhy) {
    struct Row {
        const char* what;
        const char* host;
        const char* fallback;
        bool trustRoot;
        std::uint32_t clientError;
        std::uint32_t serverError;
        const char* detail;
    } rows[] = {
        {"client without our root", "a.test", "a.test", false, kErrorOriginUntrusted,
         kErrorClientDistrustsRoot, "unable to get local issuer certificate"},
        {"certificate for another name", "127.0.0.1", "other.test", true, kErrorOriginNameMismatch,
         kErrorClientDistrustsRoot, "IP address mismatch"},
        {"no name to certify", "127.0.0.1", "bad name", true, kErrorOriginHandshake, kErrorHostName,
         ""},
    };
    for (const Row& row : rows) {
        SocketPair fresh(true);
        std::swap(pair.first, fresh.first);
        std::swap(pair.second, fresh.second);
        Result r = handshake(row.host, row.fallback, row.trustRoot);
        EXPECT_FALSE(r.clientEnd) << row.what;
        EXPECT_FALSE(r.serverEnd) << row.what;
        EXPECT_EQ(r.clientError, row.clientError)
            << row.what << ": " << errorText(r.clientError) << " " << r.clientDetail;
        EXPECT_EQ(r.serverError, row.serverError) << row.what << ": " << errorText(r.serverError);
        EXPECT_NE(r.clientDetail.find(row.detail), std::string::npos)
            << row.what << ": " << r.clientDetail;
    }
    // What the row of a refused connection says.
    EXPECT_EQ(errorText(kErrorClientDistrustsRoot), "客户端不信任根证书");
}

TEST_F(TlsStreams, BytesReadAlongWithTheConnectStartTheHandshake) {
    auto origin = client(true);
    auto server = std::async(std::launch::async, [&] {
        // The relay's reader took the hello's first bytes with the CONNECT head.
        char early[7];
        std::size_t got = 0;
        while (got < sizeof early) {
            const ssize_t n = ::recv(pair.second, early + got, sizeof early - got, 0);
            if (n <= 0)
                return std::unique_ptr<TlsStream>();
            got += std::size_t(n);
        }
        return proxy.accept(pair.second, "a.test", nullptr, nullptr,
                            std::string_view(early, sizeof early));
    });
    auto clientEnd = origin->connect(pair.first, "a.test");
    auto serverEnd = server.get();
    ASSERT_TRUE(clientEnd);
    ASSERT_TRUE(serverEnd);
    ASSERT_TRUE(clientEnd->write("ping", 4));
    char buffer[8];
    EXPECT_EQ(serverEnd->read(buffer, sizeof buffer), 4);
}

TEST_F(TlsStreams, ClientSpeakingPlainHttpFailsTheHandshake) {
    auto server = std::async(
        std::launch::async, [&] { return proxy.accept(pair.second, "a.test") ? 0u : lastError(); });
    ASSERT_TRUE(writeAll(pair.first, "GET / HTTP/1.1\r\nHost: a.test\r\n\r\n"));
    EXPECT_EQ(server.get(), kErrorClientHandshake);
}

} // namespace

TEST_F(TlsStreams, ASecondConnectionToAnOriginResumesItsSession) {
    std::atomic<int> resumed{0};
    LoopbackServer server([&](int socket, int) {
        auto end = proxy.accept(socket, "a.test");
        if (!end)
            return;
        resumed += SSL_session_reused(end->ssl());
        char buffer[64];
        while (end->read(buffer, sizeof buffer) > 0) {
        }
    });
    auto origin = client(true);
    for (int i = 0; i < 2; ++i) {
        const int socket = connectLoopback(server.port());
        auto end = origin->connect(socket, "a.test");
        ASSERT_TRUE(end);
        EXPECT_EQ(SSL_session_reused(end->ssl()), i);
        // The origin's tickets come after its handshake; they are taken in
        // with what is read next.
        ASSERT_TRUE(end->write("x", 1));
        pollfd wait{socket, POLLIN, 0};
        ::poll(&wait, 1, 1000);
        ::fcntl(socket, F_SETFL, O_NONBLOCK);
        char buffer[8];
        EXPECT_EQ(end->readSome(buffer, sizeof buffer), SecureStream::kWouldBlock);
        end->closeNotify();
        ::close(socket);
    }
    EXPECT_EQ(origin->sessions(), 1u);
}
