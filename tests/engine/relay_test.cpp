// The relay end to end: real curl or a raw client, through the proxy on
// loopback, to small origin servers the tests start.
#include "ProxyTestKit.h"

#include "engine/HttpConnection.h"
#include "engine/HttpReader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
// What the client gets for kOk: fields are written back as name ":" value.
const std::string kOkRelayed = "HTTP/1.1 200 OK\r\nContent-Length:2\r\n\r\nok";

// A head as forwarded, with the random part of our Via token as "*".
std::string maskedVia(std::string head) {
    const std::string token = "tidewell-";
    for (std::size_t at = head.find(token); at != std::string::npos; at = head.find(token, at + 1))
        head.replace(at + token.size(), 16, "*");
    return head;
}

std::string errorAnswer(const std::string& statusAndReason) {
    return "HTTP/1.1 " + statusAndReason + "\r\nConnection:close\r\n\r\n";
}

// `prefix` padded with letters to `length` bytes, so that a reader that stops
// at `length` has read every byte sent (unread bytes would reset the
// connection before the answer is read).
std::string paddedTo(std::size_t length, const std::string& prefix) {
    return prefix + std::string(length - prefix.size(), 'a');
}

std::vector<std::string> callsOf(const RecordingFilter& filter) {
    return filter.calls();
}

bool contains(const std::vector<std::string>& calls, const std::string& line) {
    return std::find(calls.begin(), calls.end(), line) != calls.end();
}

// A loopback port where nothing listens (bound, so nobody else takes it).
class ClosedPort {
public:
    ClosedPort() {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~ClosedPort() { ::close(socket_); }
    int port = 0;

private:
    int socket_ = -1;
};

} // namespace

TEST(RelayTest, KeepAliveForwardsInOriginFormOverOneOriginConnection) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        return sendAllBytes(
            socket, OriginServer::okResponse(request.target == "/a?b=1" ? "first" : "second"));
    });
    SeeingFilter filter;
    TestProxy proxy(&filter);

    const CurlResult result = curlVia(proxy, {origin.url("/a?b=1"), origin.url("/c")});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\nfirst"
                             "HTTP/1.1 200 OK\r\nContent-Length:6\r\n\r\nsecond");

    const auto requests = origin.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(origin.connections(), 1); // the origin connection was reused
    for (const auto& request : requests) {
        EXPECT_EQ(request.head.rfind(request.method + " " + request.target +
                                         " HTTP/1.1\r\nHost:" + origin.authority() + "\r\n",
                                     0),
                  0u)
            << request.head;
        EXPECT_NE(request.head.find("\r\nConnection:keep-alive\r\nVia:1.1 tidewell-"),
                  std::string::npos);
        EXPECT_EQ(request.head.find("Proxy-Connection"), std::string::npos);
    }
    EXPECT_EQ(requests[0].target, "/a?b=1");
    // Each request names us with a token of its own: nothing an origin could
    // link a user's requests by.
    const auto viaOf = [](const std::string& head) {
        const std::size_t at = head.find("\r\nVia:");
        return head.substr(at + 6, head.find("\r\n", at + 2) - at - 6);
    };
    EXPECT_EQ(viaOf(requests[0].head).size(), std::string("1.1 tidewell-").size() + 16);
    EXPECT_NE(viaOf(requests[0].head), viaOf(requests[1].head));

    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(callsOf(filter),
              (std::vector<std::string>{"acceptConnection 0", "beginRequest 0 1", "beginResponse 1",
                                        "responseData 1 5", "endExchange 1 0", "beginRequest 0 2",
                                        "beginResponse 2", "responseData 2 6", "endExchange 2 0",
                                        "connectionClosed 0"}));
    EXPECT_EQ(filter.seenRequests(),
              (std::vector<std::string>{"GET " + origin.url("/a?b=1"), "GET " + origin.url("/c")}));
}

TEST(RelayTest, RequestTargetsAndHostAreRewrittenForTheOrigin) {
    OriginServer origin(OriginServer::reply(kOk, false));
    TestProxy proxy(nullptr);
    const std::string at = origin.authority();
    // Every relayed request carries our token last.
    const std::string end = "Via:1.1 tidewell-*\r\n\r\n";
    struct Case {
        std::string request;
        std::string forwarded;
    };
    const std::vector<Case> cases = {
        {"GET http://" + at + "/a?b=1#c HTTP/1.1\r\nHost: elsewhere\r\nAccept: */*\r\n\r\n",
         "GET /a?b=1#c HTTP/1.1\r\nHost:" + at + "\r\nAccept:*/*\r\n" + end},
        {"GET /p HTTP/1.1\r\nHost: " + at + "\r\n\r\n",
         "GET /p HTTP/1.1\r\nHost:" + at + "\r\n" + end},
        // No path at all: origin form needs "/".
        {"GET http://" + at + "?q HTTP/1.1\r\n\r\n",
         "GET /?q HTTP/1.1\r\nHost:" + at + "\r\n" + end},
        // An earlier proxy's Via stays.
        {"GET http://" + at + "/x HTTP/1.1\r\nVia: 1.0 corp\r\n\r\n",
         "GET /x HTTP/1.1\r\nVia:1.0 corp\r\nHost:" + at + "\r\n" + end},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].request);
        EXPECT_EQ(rawExchange(proxy.port(), cases[i].request), kOkRelayed);
        origin.waitForRequests(i + 1);
        EXPECT_EQ(maskedVia(origin.requests()[i].head), cases[i].forwarded);
    }
}

TEST(RelayTest, ReachesAnIpv6Origin) {
    OriginServer origin(OriginServer::reply(kOk, false), "::1");
    TestProxy proxy(nullptr);
    EXPECT_EQ(
        rawExchange(proxy.port(), "GET http://" + origin.authority() + "/v6 HTTP/1.1\r\n\r\n"),
        kOkRelayed);
    EXPECT_EQ(
        rawExchange(proxy.port(), "GET /h HTTP/1.1\r\nHost: " + origin.authority() + "\r\n\r\n"),
        kOkRelayed);
    ASSERT_EQ(origin.requests().size(), 2u);
    EXPECT_EQ(maskedVia(origin.requests()[0].head),
              "GET /v6 HTTP/1.1\r\nHost:" + origin.authority() + "\r\nVia:1.1 tidewell-*\r\n\r\n");
}

// The proxy's own answers, byte for byte, and what the filter hears of them.
TEST(RelayTest, ProxyAnswersFailuresItself) {
    OriginServer answering(OriginServer::reply(kOk, false));
    const std::string post = "POST " + answering.url("/") + " HTTP/1.1\r\n";
    struct Case {
        std::string request;
        std::string answer;
        bool followed; // whether the filter sees the exchange
    };
    const std::vector<Case> cases = {
        // A body the origin could frame otherwise than we do: it would wait
        // for bytes that never come, or take the rest for another request.
        {post + "Content-Length: 5\r\nContent-Length: 10\r\n\r\nhello",
         errorAnswer("400 Bad Request"), false},
        {post + "Content-Length: 5, 6\r\n\r\nhello", errorAnswer("400 Bad Request"), false},
        {post + "Content-Length: 5x\r\n\r\nhello", errorAnswer("400 Bad Request"), false},
        {post + "Content-Length: -5\r\n\r\nhello", errorAnswer("400 Bad Request"), false},
        {post + "Content-Length: 99999999999999999999\r\n\r\nhello", errorAnswer("400 Bad Request"),
         false},
        {post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         errorAnswer("400 Bad Request"), false},
        // Meant to travel encrypted (or not over HTTP at all): never sent
        // as plain HTTP.
        {"GET https://" + answering.authority() + "/ HTTP/1.1\r\n\r\n",
         errorAnswer("400 Bad Request"), false},
        {"GET ftp://" + answering.authority() + "/ HTTP/1.1\r\n\r\n",
         errorAnswer("400 Bad Request"), false},
        // A tunnel needs a target with a port that answers.
        {"CONNECT 127.0.0.1 HTTP/1.1\r\n\r\n", errorAnswer("400 Bad Request"), false},
        {"connect 127.0.0.1:0 HTTP/1.1\r\n\r\n", errorAnswer("400 Bad Request"), false},
        {"GET /x HTTP/1.1\r\nAccept: */*\r\n\r\n", errorAnswer("400 Bad Request"), false},
        {"GET /x HTTP/1.1\r\nHost: 127.0.0.1:80x\r\n\r\n", errorAnswer("400 Bad Request"), false},
        {"GET http://127.0.0.1:99999/ HTTP/1.1\r\n\r\n", errorAnswer("400 Bad Request"), false},
        // Request lines the origin would read otherwise than the client
        // meant, and credentials that would travel on to it.
        {"GET /a /b HTTP/1.1\r\nHost: " + answering.authority() + "\r\n\r\n",
         errorAnswer("400 Bad Request"), false},
        {"GET " + answering.url("/a") + std::string(1, '\0') + "b HTTP/1.1\r\n\r\n",
         errorAnswer("400 Bad Request"), false},
        {"GET " + answering.url("/a\x01") + " HTTP/1.1\r\n\r\n", errorAnswer("400 Bad Request"),
         false},
        {"G<T " + answering.url("/") + " HTTP/1.1\r\n\r\n", errorAnswer("400 Bad Request"), false},
        {"GET http://user:pass@" + answering.authority() + "/ HTTP/1.1\r\n\r\n",
         errorAnswer("400 Bad Request"), false},
        // Lines ended by bare LFs, with the client waiting for an answer.
        {"GET " + answering.url("/") + " HTTP/1.1\nHost: " + answering.authority() + "\n\n",
         errorAnswer("400 Bad Request"), false},
        // A head longer than the reader takes.
        {paddedTo(HttpReader::kMaxHeadLength, "GET / HTTP/1.1\r\nX: "),
         errorAnswer("400 Bad Request"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 80));
        RecordingFilter filter;
        TestProxy proxy(&filter);
        EXPECT_EQ(rawExchange(proxy.port(), c.request), c.answer);
        filter.waitFor("connectionClosed 0");
        const auto calls = callsOf(filter);
        if (c.followed) {
            EXPECT_EQ(calls[1], "beginRequest 0 1");
            EXPECT_EQ(calls[2].rfind("endExchange 1 ", 0), 0u);
            EXPECT_NE(calls[2], "endExchange 1 0");
        } else {
            EXPECT_EQ(calls,
                      (std::vector<std::string>{"acceptConnection 0", "connectionClosed 0"}));
        }
    }
    EXPECT_EQ(answering.connections(), 0);
}

// An origin that cannot be reached or does not answer: the client reads a
// page naming the host and the reason (504 only when a wait ran out), and the
// exchange is a failed row with that reason, its page as the response.
TEST(RelayTest, FailedConnectionsAreFailedRowsWithAPage) {
    ClosedPort closed;
    OriginServer silent([](int, const OriginRequest&) { return true; });
    OriginServer closing([](int, const OriginRequest&) { return false; });
    OriginServer hugeHead([](int socket, const OriginRequest&) {
        sendAllBytes(socket,
                     "HTTP/1.1 200 OK\r\nX: " + std::string(HttpReader::kMaxHeadLength, 'a'));
        return false;
    });
    RelayTimeouts timeouts;
    timeouts.socket = std::chrono::milliseconds(300);
    const std::string refused = "127.0.0.1:" + std::to_string(closed.port);
    struct Case {
        std::vector<std::string> curl;
        std::string host;
        int status;
        std::uint32_t error;
    };
    const std::vector<Case> cases = {
        {{"http://" + refused + "/"}, refused, 502, kErrorConnectionRefused},
        {{"-X", "POST", "-d", "x=1", "http://no-such-host.invalid/"},
         "no-such-host.invalid",
         502,
         kErrorNameLookup},
        {{silent.url("/")}, silent.authority(), 504, kErrorNoAnswer},
        {{closing.url("/")}, closing.authority(), 502, kErrorOriginClosed},
        {{hugeHead.url("/")}, hugeHead.authority(), 502, kErrorHeadTooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        SeeingFilter filter;
        TestProxy proxy(&filter, timeouts);
        const CurlResult result = curlVia(proxy, c.curl);
        const std::string statusLine = "HTTP/1.1 " + std::to_string(c.status) + " " +
                                       (c.status == 504 ? "Gateway Timeout" : "Bad Gateway");
        EXPECT_EQ(result.output.rfind(statusLine + "\r\n", 0), 0u) << result.output;
        EXPECT_NE(result.output.find("Content-Type:text/html; charset=utf-8"), std::string::npos);
        EXPECT_NE(result.output.find(c.host), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(errorText(c.error)), std::string::npos) << result.output;
        filter.waitFor("connectionClosed 0");
        EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{c.status}));
        EXPECT_TRUE(contains(callsOf(filter), "endExchange 1 " + std::to_string(c.error)))
            << testing::PrintToString(callsOf(filter));
    }
    // A tunnel that cannot be opened is a row as well.
    SeeingFilter filter;
    TestProxy proxy(&filter, timeouts);
    const std::string answer =
        rawExchange(proxy.port(), "CONNECT " + refused + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find(refused), std::string::npos);
    EXPECT_NE(answer.find(errorText(kErrorConnectionRefused)), std::string::npos);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.seenRequests(), (std::vector<std::string>{"CONNECT " + refused}));
    EXPECT_TRUE(
        contains(callsOf(filter), "endExchange 1 " + std::to_string(kErrorConnectionRefused)));
}

// A chunk size that cannot be counted shows only after the head has gone out:
// the origin's connection is dropped (it would wait for a body that cannot
// end right), the client hears 400, and the exchange is a failed row.
TEST(RelayTest, ChunkFramingThatBreaksAfterTheHeadIsAnswered400) {
    OriginServer origin(OriginServer::reply(kOk, false));
    SeeingFilter filter;
    TestProxy proxy(&filter);
    const std::string answer =
        rawExchange(proxy.port(), "POST " + origin.url("/up") +
                                      " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                      "5\r\nhello\r\n10000000000000000\r\nsmuggled");
    EXPECT_EQ(answer.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find(errorText(kErrorBadChunk)), std::string::npos) << answer;
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{400}));
    EXPECT_TRUE(contains(callsOf(filter), "endExchange 1 " + std::to_string(kErrorBadChunk)));
    // The origin never saw a whole request, nor anything after the bad size.
    EXPECT_TRUE(origin.requests().empty());
}

// Reads from `socket` until `count` bytes came, the peer closed, or 20 s
// passed (a test that fails must not hang).
std::string readCount(int socket, std::size_t count) {
    const timeval limit{20, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string bytes;
    char chunk[4096];
    while (bytes.size() < count) {
        const ssize_t n = ::recv(socket, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
        if (n <= 0)
            break;
        bytes.append(chunk, std::size_t(n));
    }
    return bytes;
}

// Whether the peer closed `socket` (rather than the 20 s running out).
bool closedByPeer(int socket) {
    const timeval limit{20, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char byte;
    return ::recv(socket, &byte, 1, 0) == 0;
}

// A client that stalls inside its head, or keeps its connection without a
// request, is let go; TLS bytes where HTTP belongs are refused at once.
TEST(RelayTest, StalledIdleAndTlsClientsAreLetGo) {
    OriginServer origin(OriginServer::reply(kOk, true));
    RelayTimeouts timeouts;
    timeouts.requestHead = std::chrono::milliseconds(200);
    timeouts.idleClient = std::chrono::milliseconds(300);
    RecordingFilter filter;
    TestProxy proxy(&filter, timeouts);

    const int stalled = connectLoopback(proxy.port());
    ASSERT_TRUE(sendAllBytes(stalled, "GET " + origin.url("/") + " HT"));
    const int idle = connectLoopback(proxy.port());
    ASSERT_TRUE(sendAllBytes(idle, "GET " + origin.url("/") +
                                       " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n"));
    EXPECT_EQ(readCount(idle, kOkRelayed.size()), kOkRelayed);
    EXPECT_TRUE(closedByPeer(stalled));
    EXPECT_TRUE(closedByPeer(idle));
    ::close(stalled);
    ::close(idle);

    // Waits as long as users get: the refusal must not wait for any of them.
    TestProxy patient(&filter);
    const int tls = connectLoopback(patient.port());
    ASSERT_TRUE(sendAllBytes(tls, std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)));
    const std::string refusal = errorAnswer("400 Bad Request");
    EXPECT_EQ(readCount(tls, refusal.size()), refusal);
    EXPECT_TRUE(closedByPeer(tls));
    ::close(tls);
    EXPECT_EQ(origin.connections(), 1);
}

// At the cap on clients, a new one is served: the client that has waited
// longest for its next request makes room.
TEST(RelayTest, AtTheConnectionCapTheLongestWaitingClientMakesRoom) {
    OriginServer origin(OriginServer::reply(kOk, true));
    TestProxy proxy(nullptr, RelayTimeouts(), 3);
    const std::string keepAlive =
        "GET " + origin.url("/") + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n";
    std::vector<int> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(connectLoopback(proxy.port()));
        ASSERT_TRUE(sendAllBytes(waiting.back(), keepAlive));
        ASSERT_EQ(readCount(waiting.back(), kOkRelayed.size()), kOkRelayed);
    }
    EXPECT_EQ(rawExchange(proxy.port(), "GET " + origin.url("/new") + " HTTP/1.1\r\n\r\n"),
              kOkRelayed);
    EXPECT_TRUE(closedByPeer(waiting[0]));
    // The others still carry requests.
    ASSERT_TRUE(sendAllBytes(waiting[2], keepAlive));
    EXPECT_EQ(readCount(waiting[2], kOkRelayed.size()), kOkRelayed);
    for (const int socket : waiting)
        ::close(socket);
}

TEST(RelayTest, BodiesFollowTheirFraming) {
    const std::string chunked = "5\r\nhello\r\n6;x=y\r\n world\r\n0\r\nTrailer: 1\r\n\r\n";
    const std::string untilClose(100000, 'u');
    OriginServer origin([&](int socket, const OriginRequest& request) {
        if (request.target == "/chunked")
            return sendAllBytes(socket,
                                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked);
        if (request.target == "/head")
            return sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        if (request.target == "/204")
            return sendAllBytes(socket, "HTTP/1.1 204 No Content\r\n\r\n");
        if (request.target == "/304")
            return sendAllBytes(socket, "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n");
        if (request.target == "/empty")
            return sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        sendAllBytes(socket, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + untilClose);
        return false;
    });
    SeeingFilter filter;
    TestProxy proxy(&filter);

    // One client connection: every framing must end where it ends, or the
    // next exchange would hang or read garbage.
    CurlResult result =
        curlVia(proxy, {origin.url("/chunked"), origin.url("/204"), origin.url("/304"),
                        origin.url("/empty"), origin.url("/close")});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "HTTP/1.1 200 OK\r\nTransfer-Encoding:chunked\r\n\r\n" + chunked +
                                 "HTTP/1.1 204 No Content\r\n\r\n"
                                 "HTTP/1.1 304 Not Modified\r\nContent-Length:9\r\n\r\n"
                                 "HTTP/1.1 200 OK\r\nContent-Length:0\r\n\r\n"
                                 "HTTP/1.0 200 OK\r\nContent-Type:text/plain\r\n\r\n" +
                                 untilClose);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.responseBody(1), chunked);
    EXPECT_EQ(filter.responseBody(5), untilClose);
    for (int handle = 1; handle <= 5; ++handle)
        EXPECT_TRUE(contains(filter.calls(), "endExchange " + std::to_string(handle) + " 0"));

    // HEAD: a length, no body, and no waiting for one.
    result = curlVia(proxy, {"-I", origin.url("/head")});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "HTTP/1.1 200 OK\r\nContent-Length:1000\r\n\r\n");
    filter.waitFor("endExchange 6 0");
    EXPECT_EQ(filter.responseBody(6), "");
}

TEST(RelayTest, BodyUntilCloseEndsTheClientConnection) {
    OriginServer origin([](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\n\r\nall of it");
        return false;
    });
    RecordingFilter filter;
    TestProxy proxy(&filter);
    // The client asked to keep the connection, but only the close could tell
    // it where the body ended.
    EXPECT_EQ(rawExchange(proxy.port(), "GET " + origin.url("/") +
                                            " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n"),
              "HTTP/1.1 200 OK\r\n\r\nall of it");
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.responseBody(1), "all of it");
}

TEST(RelayTest, InterimResponsesGoAheadOfTheFinalOne) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        const std::string interim = request.method == "POST"
                                        ? "HTTP/1.1 100 Continue\r\n\r\n"
                                        : "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n";
        return sendAllBytes(socket, interim + kOk);
    });
    SeeingFilter filter;
    TestProxy proxy(&filter);
    const std::string keep = "\r\nProxy-Connection: keep-alive\r\n\r\n";
    const std::string both = "GET " + origin.url("/") + " HTTP/1.1" + keep + "POST " +
                             origin.url("/") + " HTTP/1.1\r\nContent-Length: 3" + keep + "abc";
    EXPECT_EQ(rawExchange(proxy.port(), both), "HTTP/1.1 103 Early Hints\r\nLink:</s.css>\r\n\r\n" +
                                                   kOkRelayed + "HTTP/1.1 100 Continue\r\n\r\n" +
                                                   kOkRelayed);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{200, 200}));
    EXPECT_EQ(filter.requestBody(2), "abc");
    EXPECT_EQ(filter.responseBody(1), "ok");
    EXPECT_EQ(origin.requests().at(1).body, "abc");
}

// An origin that refuses a body it will not read (413, 401) answers at once
// and closes: the client hears that answer, as it would without us, instead
// of a connection that breaks under its upload.
// An origin that answers before it has read the body, as careful servers do: the answer, then
// the end of what it sends, and the body neither read nor refused until the test is done. (A
// server that shut its reading side instead would reset what still arrives, and on a busy
// machine the reset can overtake the answer on its way: the client would hear 502.)
class EarlyAnswer {
public:
    explicit EarlyAnswer(std::string answer) : answer_(std::move(answer)) {}
    OriginServer::Handler handler() {
        return [this](int socket, const OriginRequest&) {
            sendAllBytes(socket, answer_);
            ::shutdown(socket, SHUT_WR);
            std::unique_lock lock(mutex_);
            done_.wait_for(lock, std::chrono::seconds(30), [&] { return finished_; });
            return false;
        };
    }
    // Lets the origin's connection go; called when the test's guard ends.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
    }
    // Declared after the origin: ends before the origin waits for its connections.
    struct Guard {
        EarlyAnswer& early;
        ~Guard() { early.finish(); }
    };

private:
    std::string answer_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
};

TEST(RelayTest, AnAnswerGivenBeforeTheBodyReachesTheClient) {
    EarlyAnswer early("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 9\r\n"
                      "Connection: close\r\n\r\ntoo large");
    OriginServer origin(early.handler());
    const EarlyAnswer::Guard release{early};
    origin.readBodies = false;
    char upload[] = "/tmp/tidewell-upload.XXXXXX";
    const int fd = ::mkstemp(upload);
    ASSERT_GE(fd, 0);
    const std::string piece(1 << 20, 'u');
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(::write(fd, piece.data(), piece.size()), ssize_t(piece.size()));
    ::close(fd);
    SeeingFilter filter;
    TestProxy proxy(&filter);

    const CurlResult result = curlVia(proxy, {"--max-time", "20", "-H", "Expect:", "--data-binary",
                                              std::string("@") + upload, origin.url("/up")});
    ::unlink(upload);
    EXPECT_EQ(result.output, "HTTP/1.1 413 Payload Too Large\r\nContent-Length:9\r\n"
                             "Connection:close\r\n\r\ntoo large");
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{413}));
    EXPECT_EQ(filter.responseBody(1), "too large");
}

// An origin that breaks off an upload without a word: the client hears 502 with the reason,
// never an empty end, and the row is failed.
TEST(RelayTest, AnOriginThatBreaksOffAnUploadSilentlyIsABadGateway) {
    // A reset, with no answer before it: the connection is dropped at once with nothing said
    // (its number stays taken by /dev/null until the server closes it).
    OriginServer origin([](int socket, const OriginRequest&) {
        const linger abort{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(nothing, socket);
        ::close(nothing);
        return false;
    });
    origin.readBodies = false;
    char upload[] = "/tmp/tidewell-upload.XXXXXX";
    const int fd = ::mkstemp(upload);
    ASSERT_GE(fd, 0);
    const std::string piece(1 << 20, 'u');
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(::write(fd, piece.data(), piece.size()), ssize_t(piece.size()));
    ::close(fd);
    SeeingFilter filter;
    TestProxy proxy(&filter);

    const CurlResult result = curlVia(proxy, {"--max-time", "20", "-H", "Expect:", "--data-binary",
                                              std::string("@") + upload, origin.url("/up")});
    ::unlink(upload);
    EXPECT_EQ(result.output.substr(0, 13), "HTTP/1.1 502 ") << result.output;
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{502}));
}

// The client goes on uploading after the early answer, as curl does until it
// reads it. Closed at once, the proxy's socket would still hold unread body
// bytes and the kernel would reset the connection, which can destroy the
// answer before the client reads it: the connection ends with a clean end of
// stream, and what the client still sends is taken, not refused.
TEST(RelayTest, AClientStillUploadingAfterAnEarlyAnswerSeesACleanEnd) {
    EarlyAnswer early("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 9\r\n"
                      "Connection: close\r\n\r\ntoo large");
    OriginServer origin(early.handler());
    const EarlyAnswer::Guard release{early};
    origin.readBodies = false;
    SeeingFilter filter;
    TestProxy proxy(&filter);

    const std::size_t bodySize = 8 << 20;
    const int client = connectLoopback(proxy.port());
    ASSERT_GE(client, 0);
    std::atomic<bool> uploaded{false};
    std::thread uploader([&] {
        const std::string piece(1 << 16, 'u');
        bool ok =
            sendAllBytes(client, "POST " + origin.url("/up") + " HTTP/1.1\r\nContent-Length: " +
                                     std::to_string(bodySize) + "\r\n\r\n");
        for (std::size_t sent = 0; ok && sent < bodySize; sent += piece.size())
            ok = sendAllBytes(client, piece);
        uploaded = ok;
        ::shutdown(client, SHUT_WR);
    });
    std::string answer;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(client, chunk, sizeof chunk, 0)) > 0)
        answer.append(chunk, std::size_t(n));
    const int readError = n < 0 ? errno : 0;
    uploader.join();
    ::close(client);
    EXPECT_EQ(answer, "HTTP/1.1 413 Payload Too Large\r\nContent-Length:9\r\n"
                      "Connection:close\r\n\r\ntoo large");
    EXPECT_EQ(readError, 0) << std::strerror(readError);
    EXPECT_TRUE(uploaded);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{413}));
}

TEST(RelayTest, ContinueReachesAClientThatWaitsForIt) {
    const std::string body(2000, 'b');
    OriginServer origin([&](int socket, const OriginRequest& request) {
        if (request.target == "/refuse") {
            sendAllBytes(socket, "HTTP/1.1 417 Expectation Failed\r\nContent-Length: 0\r\n\r\n");
            return false;
        }
        sendAllBytes(socket, "HTTP/1.1 100 Continue\r\n\r\n");
        return receiveBytes(socket, body.size()) == body && sendAllBytes(socket, kOk);
    });
    origin.readBodies = false;
    SeeingFilter filter;
    TestProxy proxy(&filter);

    // curl holds the body back until the 100 arrives (or, here, for longer
    // than it may run at all).
    const CurlResult result =
        curlVia(proxy, {"--expect100-timeout", "60", "--max-time", "20", "-H",
                        "Expect: 100-continue", "--data-binary", body, origin.url("/post")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "HTTP/1.1 100 Continue\r\n\r\n" + kOkRelayed);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(filter.requestBody(1), body);

    // The origin refuses before the body: its answer goes back and the
    // connection ends, since the client's body would otherwise be read as
    // the next request.
    const int client = connectLoopback(proxy.port());
    sendAllBytes(client, "POST " + origin.url("/refuse") +
                             " HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n"
                             "Proxy-Connection: keep-alive\r\n\r\n");
    EXPECT_EQ(receiveBytes(client, std::string::npos),
              "HTTP/1.1 417 Expectation Failed\r\nContent-Length:0\r\n\r\n");
    ::close(client);
    filter.waitFor("connectionClosed 1");
    EXPECT_EQ(filter.seenStatuses(), (std::vector<int>{200, 417}));
}

TEST(RelayTest, PipelinedRequestsAreKeptForTheNextExchange) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        return sendAllBytes(socket, OriginServer::okResponse(request.target));
    });
    TestProxy proxy(nullptr);
    const std::string host = "Host: " + origin.authority() + "\r\n";
    EXPECT_EQ(
        rawExchange(proxy.port(), "POST /one HTTP/1.1\r\n" + host +
                                      "Content-Length: 2\r\nProxy-Connection: keep-alive\r\n\r\n"
                                      "xyGET /two HTTP/1.1\r\n" +
                                      host + "\r\n"),
        "HTTP/1.1 200 OK\r\nContent-Length:4\r\n\r\n/one"
        "HTTP/1.1 200 OK\r\nContent-Length:4\r\n\r\n/two");
}

TEST(RelayTest, OriginClosingMidBodyEndsTheExchangeWithDataIncomplete) {
    const std::string part(300000, 'p');
    OriginServer origin([&](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + part);
        return false;
    });
    RecordingFilter filter;
    TestProxy proxy(&filter);
    EXPECT_EQ(rawExchange(proxy.port(), "GET " + origin.url("/") + " HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nContent-Length:1000000\r\n\r\n" + part);
    filter.waitFor("connectionClosed 0");
    EXPECT_TRUE(contains(filter.calls(), "endExchange 1 " + std::to_string(kErrorDataIncomplete)));
    EXPECT_EQ(filter.responseBody(1), part);
}

TEST(RelayTest, AnOriginThatDroppedTheIdleConnectionIsDialledAgain) {
    // Answers with keep-alive framing, then hangs up anyway.
    OriginServer origin(OriginServer::reply(kOk, false));
    TestProxy proxy(nullptr);
    const CurlResult result = curlVia(proxy, {origin.url("/1"), origin.url("/2")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, kOkRelayed + kOkRelayed);
    EXPECT_EQ(origin.connections(), 2);
}

TEST(RelayTest, ARequestLostOnAReusedConnectionIsSentOnceMore) {
    // Takes a second request on a connection, then hangs up without a word.
    OriginServer origin([](int socket, const OriginRequest&) {
        thread_local int served = 0;
        return ++served == 1 && sendAllBytes(socket, kOk);
    });
    RecordingFilter filter;
    TestProxy proxy(&filter);
    const CurlResult result = curlVia(proxy, {origin.url("/1"), origin.url("/2")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, kOkRelayed + kOkRelayed);
    ASSERT_EQ(origin.requests().size(), 3u);
    EXPECT_EQ(origin.requests()[2].target, "/2");
    EXPECT_EQ(origin.requests()[2].connection, 2);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(callsOf(filter),
              (std::vector<std::string>{"acceptConnection 0", "beginRequest 0 1", "beginResponse 1",
                                        "responseData 1 2", "endExchange 1 0", "beginRequest 0 2",
                                        "beginResponse 2", "responseData 2 2", "endExchange 2 0",
                                        "connectionClosed 0"}));
}

// Sent once more only when sending it twice does no harm (RFC 9110, 9.2.2):
// a lost POST is answered 502, never repeated.
TEST(RelayTest, OnlyIdempotentRequestsAreSentAgain) {
    struct Case {
        std::string method;
        bool again;
    };
    const Case cases[] = {{"GET", true},   {"DELETE", true}, {"OPTIONS", true},
                          {"POST", false}, {"PATCH", false}, {"LOCK", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        OriginServer origin([](int socket, const OriginRequest&) {
            thread_local int served = 0;
            return ++served == 1 && sendAllBytes(socket, kOk);
        });
        TestProxy proxy(nullptr);
        const std::string keep = " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n";
        const std::string answer =
            rawExchange(proxy.port(), "GET " + origin.url("/1") + keep + "\r\n" + c.method + " " +
                                          origin.url("/2") + keep + "Content-Length: 0\r\n\r\n");
        if (c.again) {
            EXPECT_EQ(answer, kOkRelayed + kOkRelayed);
        } else {
            EXPECT_EQ(answer.rfind(kOkRelayed + "HTTP/1.1 502 Bad Gateway\r\n", 0), 0u) << answer;
            EXPECT_NE(answer.find(errorText(kErrorOriginClosed)), std::string::npos);
        }
        const auto requests = origin.requests();
        ASSERT_EQ(requests.size(), c.again ? 3u : 2u);
        EXPECT_EQ(requests[1].method, c.method);
        EXPECT_EQ(requests.back().target, "/2");
    }
}

TEST(RelayTest, FilterThatDeclinesTheResponseHearsNoMore) {
    OriginServer origin(OriginServer::reply(kOk));
    RecordingFilter filter;
    filter.followResponses = false;
    TestProxy proxy(&filter);
    EXPECT_EQ(rawExchange(proxy.port(),
                          "POST " + origin.url("/") + " HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody"),
              kOkRelayed);
    filter.waitFor("connectionClosed 0");
    EXPECT_EQ(callsOf(filter),
              (std::vector<std::string>{"acceptConnection 0", "beginRequest 0 1", "requestData 1 4",
                                        "beginResponse 1", "connectionClosed 0"}));
}

// An upstream proxy that is itself one of ours; the bypass list sends some
// hosts straight to the origin.
TEST(RelayTest, UpstreamProxyUnlessBypassed) {
    OriginServer origin(OriginServer::reply(kOk));
    SeeingFilter upstreamFilter;
    TestProxy upstream(&upstreamFilter);
    struct Case {
        std::string server;
        std::string bypass;
        bool viaUpstream;
    };
    const std::vector<Case> cases = {
        {upstream.address(), "", true},
        {"http=http://" + upstream.address() + ";https=127.0.0.1:9", "<local>", true},
        {upstream.address(), "localhost;127.0.0.1", false},
    };
    int seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server + " / " + c.bypass);
        TestProxy proxy(nullptr, c.server, c.bypass);
        const CurlResult result = curlVia(proxy, {origin.url("/up")});
        EXPECT_EQ(result.output, kOkRelayed);
        if (c.viaUpstream) {
            ++seen;
            // Forwarded as received: absolute target, the client's own fields.
            ASSERT_EQ(upstreamFilter.seenRequests().size(), std::size_t(seen));
            EXPECT_EQ(upstreamFilter.seenRequests().back(), "GET " + origin.url("/up"));
        }
        EXPECT_EQ(upstreamFilter.seenRequests().size(), std::size_t(seen));
    }
}

// A client that assumes HTTP/2 on the proxy port hears at once that it is
// not spoken here, and the exchange is a failed row that says so.
TEST(RelayTest, Http2IsAnswered505WithAFailedRow) {
    RecordingFilter filter;
    TestProxy proxy(&filter);
    const CurlResult assumed =
        runCurl({"--http2-prior-knowledge", "http://" + proxy.address() + "/x"});
    EXPECT_NE(assumed.exitCode, 0);
    const std::string answer = rawExchange(proxy.port(), "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 505 HTTP Version Not Supported\r\nServer:Tidewell\r\n", 0), 0u)
        << answer;
    EXPECT_NE(answer.find(loadString(IDS_HTTP_VERSION_PAGE)), std::string::npos);
    // curl may be gone before its connection's thread has ended the exchange.
    filter.waitFor("connectionClosed 0");
    filter.waitFor("connectionClosed 1");
    const std::vector<std::string> calls = filter.calls();
    const std::string failed = " " + std::to_string(kErrorHttpVersion);
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [&](const std::string& call) {
                                return call.starts_with("endExchange") && call.ends_with(failed);
                            }),
              2)
        << ::testing::PrintToString(calls);
}

// A program of another user is refused before anything it sends is read,
// relayed or followed; the filter hears who it was, for every try.
TEST(RelayTest, AnotherUsersProgramIsRefused) {
    if (!canRunAsNobody())
        GTEST_SKIP() << "running curl as another user needs root and setpriv";
    OriginServer origin(OriginServer::reply(kOk));
    RecordingFilter filter;
    TestProxy proxy(&filter);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const CurlResult refused =
            runCurlAs(asNobody(), {"-i", "-x", "http://" + proxy.address(), origin.url("/x"), "-H",
                                   "Cookie: theirs"});
        EXPECT_EQ(refused.output.rfind("HTTP/1.1 403 Forbidden\r\nServer:Tidewell\r\n", 0), 0u)
            << refused.output;
        EXPECT_NE(refused.output.find(loadString(IDS_OWN_USER_ONLY)), std::string::npos);
        filter.waitFor("connectionClosed " + std::to_string(attempt));
    }
    EXPECT_TRUE(origin.requests().empty());
    EXPECT_EQ(filter.calls(),
              (std::vector<std::string>{"acceptConnection 0", "userRefused 65534",
                                        "connectionClosed 0", "acceptConnection 1",
                                        "userRefused 65534", "connectionClosed 1"}));
    // Its own user's programs are served as ever.
    EXPECT_EQ(curlVia(proxy, {origin.url("/mine")}).output, kOkRelayed);
}

// Relaying these would come back to us without end: each is refused at once,
// without a row, whatever name or address it uses for our listener.
TEST(RelayTest, RequestsThatWouldLoopAreRefused) {
    OriginServer origin(OriginServer::reply(kOk));
    RecordingFilter filter;
    TestProxy proxy(&filter);
    const std::string port = std::to_string(proxy.port());
    const std::vector<std::string> requests = {
        "GET http://127.0.0.1:" + port + "/ HTTP/1.1\r\n\r\n",
        "GET http://LocalHost.:" + port + "/x HTTP/1.1\r\n\r\n",
        "GET http://127.1.2.3:" + port + "/ HTTP/1.1\r\n\r\n",
        "GET http://[::1]:" + port + "/ HTTP/1.1\r\n\r\n",
        "GET http://0.0.0.0:" + port + "/ HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n",
        "CONNECT localhost:" + port + " HTTP/1.1\r\n\r\n",
    };
    int context = 0;
    for (const std::string& request : requests) {
        SCOPED_TRACE(request);
        const std::string answer = rawExchange(proxy.port(), request);
        EXPECT_EQ(answer.rfind("HTTP/1.1 508 Loop Detected\r\nServer:Tidewell\r\n", 0), 0u);
        EXPECT_NE(answer.find(loadString(IDS_LOOP_REFUSED)), std::string::npos);
        const std::string closed = "connectionClosed " + std::to_string(context);
        filter.waitFor(closed);
        EXPECT_EQ(filter.calls().back(), closed);
        EXPECT_EQ(filter.calls().size(), 2u * std::size_t(++context));
    }
    EXPECT_TRUE(origin.requests().empty());

    // Come round through the user's proxy, which sends what it gets back to
    // us: refused the second time round, and that answer goes back.
    OriginServer bouncing([&](int socket, const OriginRequest& request) {
        return sendAllBytes(socket, rawExchange(proxy.port(), request.head + request.body));
    });
    proxy.proxy.settings.proxyEnable = true;
    proxy.proxy.settings.proxyServer = "127.0.0.1:" + std::to_string(bouncing.port());
    proxy.proxy.settings.parseProxyServer();
    EXPECT_EQ(rawExchange(proxy.port(), "GET " + origin.url("/") + " HTTP/1.1\r\n\r\n")
                  .rfind("HTTP/1.1 508 ", 0),
              0u);
    EXPECT_TRUE(origin.requests().empty());

    // An upstream proxy that is this listener.
    proxy.proxy.settings.proxyEnable = true;
    proxy.proxy.settings.proxyServer = proxy.address();
    proxy.proxy.settings.parseProxyServer();
    EXPECT_EQ(rawExchange(proxy.port(), "GET " + origin.url("/") + " HTTP/1.1\r\n\r\n")
                  .rfind("HTTP/1.1 508 ", 0),
              0u);
    EXPECT_TRUE(origin.requests().empty());

    // Others can tell our listener from anything else without relaying.
    EXPECT_TRUE(isTidewellListener("127.0.0.1", proxy.port()));
    EXPECT_TRUE(isTidewellListener("localhost", proxy.port()));
    EXPECT_FALSE(isTidewellListener("127.0.0.1", origin.port()));
    EXPECT_FALSE(isTidewellListener("example.com", proxy.port())); // never dialled
}
