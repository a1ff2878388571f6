// Tunnels through the relay: CONNECT, directly or through the user's proxy,
// and upgraded connections; what they carry, how they end, and what the
// filter hears of them.
#include "ProxyTestKit.h"

#include "support/EchoServer.h"
#include "support/TestBytes.h"
#include "support/TlsOrigin.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kEstablished = "HTTP/1.1 200 Connection established\r\n\r\n";

std::string connectHead(const std::string& authority) {
    return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n";
}

// Sends `bytes`, ends the sending side, and returns all that comes back.
std::string echoed(int socket, const std::string& bytes) {
    std::thread writer([&] {
        sendAllBytes(socket, bytes);
        ::shutdown(socket, SHUT_WR);
    });
    std::string back = receiveBytes(socket, std::string::npos);
    writer.join();
    return back;
}

// Whether a connect to 127.0.0.1:port is waiting for its answer.
bool connectPending(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X 02", port);
    while (std::getline(table, line))
        if (line.find(wanted) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(TunnelTest, ConnectCarriesBothWaysUntilBothSidesClosed) {
    EchoServer echo;
    RecordingFilter filter;
    TestProxy proxy(&filter);

    // The client closes first: its end reaches the target, whose end comes
    // back. Bytes sent along with the CONNECT go ahead of the rest.
    const int client = connectLoopback(proxy.port());
    sendAllBytes(client, connectHead(echo.authority()) + "early");
    EXPECT_EQ(receiveBytes(client, kEstablished.size() + 5), kEstablished + "early");
    const std::string bulk = patterned(3 << 20);
    EXPECT_TRUE(echoed(client, bulk) == bulk); // no dump of megabytes on failure
    ::close(client);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.calls(), (std::vector<std::string>{"acceptConnection 0", "beginRequest 0 1",
                                                        "beginResponse 1", "tunnelEnd 1 client",
                                                        "endExchange 1 0", "connectionClosed 0"}));
    const std::int64_t carried = std::int64_t(bulk.size()) + 5;
    EXPECT_EQ(filter.tunnelBytes(1), std::make_pair(carried, carried));

    // The target speaks first and hangs up.
    EchoServer banner("220 ready\r\n", true);
    const int second = connectLoopback(proxy.port());
    sendAllBytes(second, connectHead(banner.authority()));
    EXPECT_EQ(receiveBytes(second, std::string::npos), kEstablished + "220 ready\r\n");
    ::close(second);
    filter.waitFor("connectionClosed 1");
    const auto calls = filter.calls();
    EXPECT_EQ(
        std::vector<std::string>(calls.begin() + 6, calls.end()),
        (std::vector<std::string>{"acceptConnection 1", "beginRequest 1 2", "beginResponse 2",
                                  "tunnelEnd 2 server", "endExchange 2 0", "connectionClosed 1"}));
    EXPECT_EQ(filter.tunnelBytes(2), std::make_pair(std::int64_t(0), std::int64_t(11)));
}

TEST(TunnelTest, HttpsPageThroughTheTunnel) {
    TlsOrigin origin("<p>secure page</p>");
    SeeingFilter filter;
    TestProxy proxy(&filter);
    const CurlResult result = runCurl({"-x", "http://" + proxy.address(), "--cacert",
                                       origin.caFile(), origin.url("/"), origin.url("/missing")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "<p>secure page</p>");
    EXPECT_EQ(origin.requests(), (std::vector<std::string>{"GET /", "GET /missing"}));
    filter.waitFor("connectionClosed 0");
    // One tunnel for both requests; what went through it is counted, not read.
    EXPECT_EQ(filter.seenRequests(),
              (std::vector<std::string>{"CONNECT 127.0.0.1:" + std::to_string(origin.port())}));
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{200}));
    EXPECT_EQ(filter.responseBody(1), "");
    EXPECT_GT(filter.tunnelBytes(1).first, 0);
    EXPECT_GT(filter.tunnelBytes(1).second, 0);
}

// The user's proxy for https (or, when there is none, for http, as the
// desktop's resolver reads the settings) gets the client's CONNECT.
TEST(TunnelTest, ConnectGoesThroughTheUsersProxyUnlessBypassed) {
    EchoServer echo;
    SeeingFilter upstreamFilter;
    TestProxy upstream(&upstreamFilter);
    struct Case {
        std::string server;
        std::string bypass;
        bool viaUpstream;
    };
    const std::vector<Case> cases = {
        {"http=127.0.0.1:9;https=http://" + upstream.address(), "", true},
        {"http=" + upstream.address(), "", true},
        {upstream.address(), "", true},
        {"https=" + upstream.address(), "localhost;127.0.0.1", false},
        {"ftp=" + upstream.address(), "", false},
    };
    std::size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server + " / " + c.bypass);
        TestProxy proxy(nullptr, c.server, c.bypass);
        const int client = connectLoopback(proxy.port());
        sendAllBytes(client, connectHead(echo.authority()));
        std::string answer = receiveBytes(client, kEstablished.size());
        EXPECT_EQ(answer, kEstablished);
        EXPECT_EQ(echoed(client, "through"), "through");
        ::close(client);
        seen += c.viaUpstream;
        ASSERT_EQ(upstreamFilter.seenRequests().size(), seen);
        if (c.viaUpstream) {
            EXPECT_EQ(upstreamFilter.seenRequests().back(), "CONNECT " + echo.authority());
        }
    }
}

TEST(TunnelTest, TheUsersProxyRefusingTheConnectIsAnsweredWhole) {
    const std::string refusal = "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                "Proxy-Authenticate: Basic realm=\"corp\"\r\n"
                                "Content-Length: 6\r\n\r\ndenied";
    OriginServer upstream(OriginServer::reply(refusal));
    RecordingFilter filter;
    TestProxy proxy(&filter, "https=" + upstream.authority());
    EXPECT_EQ(rawExchange(proxy.port(), connectHead("example.test:443")),
              "HTTP/1.1 407 Proxy Authentication Required\r\n"
              "Proxy-Authenticate:Basic realm=\"corp\"\r\nContent-Length:6\r\n\r\ndenied");
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.calls(), (std::vector<std::string>{"acceptConnection 0", "beginRequest 0 1",
                                                        "beginResponse 1", "responseData 1 6",
                                                        "endExchange 1 0", "connectionClosed 0"}));
    ASSERT_EQ(upstream.requests().size(), 1u);
    EXPECT_EQ(upstream.requests()[0].target, "example.test:443");
}

TEST(TunnelTest, StoppingEndsOpenTunnels) {
    EchoServer echo;
    RecordingFilter filter;
    auto proxy = std::make_unique<TestProxy>(&filter);
    const int client = connectLoopback(proxy->port());
    sendAllBytes(client, connectHead(echo.authority()) + "ping");
    EXPECT_EQ(receiveBytes(client, kEstablished.size() + 4), kEstablished + "ping");

    proxy->proxy.stop();
    EXPECT_EQ(receiveBytes(client, 1), "");
    ::close(client);
    const auto calls = filter.calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(calls.end() - 3, calls.end()),
        (std::vector<std::string>{"tunnelEnd 1 stopped", "endExchange 1 0", "connectionClosed 0"}));
}

// Nothing answers the connect (the target's queue is full, so its SYN goes
// unanswered): stopping must not wait for the system to give up on it.
TEST(TunnelTest, StoppingInterruptsAConnectInProgress) {
    const int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(full, 0), 0);
    ::getsockname(full, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    const int queued = connectLoopback(port);
    ASSERT_GE(queued, 0);

    RecordingFilter filter;
    auto proxy = std::make_unique<TestProxy>(&filter);
    const int client = connectLoopback(proxy->port());
    sendAllBytes(client, connectHead("127.0.0.1:" + std::to_string(port)));
    while (!connectPending(port))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    const auto before = std::chrono::steady_clock::now();
    proxy->proxy.stop();
    // The system would retry the SYN for about two minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_EQ(receiveBytes(client, std::string::npos), ""); // shut down with the rest
    EXPECT_EQ(filter.calls(),
              (std::vector<std::string>{"acceptConnection 0", "connectionClosed 0"}));
    for (int fd : {client, queued, full})
        ::close(fd);
}

TEST(TunnelTest, UpgradedConnectionBecomesATunnel) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        if (request.target != "/chat")
            return sendAllBytes(socket, OriginServer::okResponse("plain"));
        // The first frame goes out with the switch.
        sendAllBytes(socket, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                             "Connection: Upgrade\r\n\r\n\x81\x02hi");
        char bytes[4096];
        ssize_t n;
        while ((n = ::recv(socket, bytes, sizeof bytes, 0)) > 0)
            sendAllBytes(socket, std::string_view(bytes, std::size_t(n)));
        return false;
    });
    RecordingFilter filter;
    TestProxy proxy(&filter);
    const int client = connectLoopback(proxy.port());
    // A plain exchange first: the same client connection then upgrades.
    sendAllBytes(client, "GET " + origin.url("/") +
                             " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n"
                             "GET " +
                             origin.url("/chat") +
                             " HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                             "Sec-WebSocket-Version: 13\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    const std::string switched = "HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nplain"
                                 "HTTP/1.1 101 Switching Protocols\r\nUpgrade:websocket\r\n"
                                 "Connection:Upgrade\r\n\r\n\x81\x02hi";
    EXPECT_EQ(receiveBytes(client, switched.size()), switched);
    const std::string frames = "\x81\x85mask" + patterned(100000);
    EXPECT_TRUE(echoed(client, frames) == frames);
    ::close(client);

    filter.waitFor("connectionClosed 0");
    const auto calls = filter.calls();
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 5, calls.end()),
              (std::vector<std::string>{"beginRequest 0 2", "beginResponse 2", "tunnelEnd 2 client",
                                        "endExchange 2 0", "connectionClosed 0"}));
    EXPECT_EQ(filter.tunnelBytes(2),
              std::make_pair(std::int64_t(frames.size()), std::int64_t(frames.size() + 4)));
    ASSERT_EQ(origin.requests().size(), 2u);
    const std::string head = origin.requests()[1].head;
    EXPECT_NE(head.find("\r\nConnection:Upgrade\r\nUpgrade:websocket\r\n"), std::string::npos);
}
