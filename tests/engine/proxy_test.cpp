// The listener: ports, refusals, name resolution, the user's settings, and
// stopping with clients in flight.
#include "ProxyTestKit.h"

#include "../sysproxy/PrivateSettingsHome.h"
#include "engine/HttpConnection.h"
#include "engine/Platform.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Before any test, so that GIO picks the private keyfile backend.
PrivateSettingsHome settingsHome;

// Holds 127.0.0.1:port; `held` is false when someone else has it already.
struct HeldPort {
    explicit HeldPort(int port) {
        socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        held = ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~HeldPort() { ::close(socket); }
    int socket;
    bool held;
};

int countEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count - 1; // the listing's own descriptor or nothing; compared, not absolute
}

std::string smallResponse() {
    return "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
}
std::string smallRelayed() {
    return "HTTP/1.1 200 OK\r\nContent-Length:2\r\n\r\nok";
}

} // namespace

TEST(ProxyTest, ListensOnLoopbackAndStartsOnce) {
    HttpProxy proxy;
    proxy.manageSystemSettings = false;
    EXPECT_EQ(proxy.configuredPort, HttpProxy::kDefaultPort);
    // Ports of the test's own, below the ephemeral range: the default port and those above it
    // may be taken and given up at any moment by programs running beside this test.
    std::unique_ptr<HeldPort> taken;
    int first = 0;
    for (int base = 24000; base < 30000 && first == 0; base += HttpProxy::kPortSearchLength) {
        taken = std::make_unique<HeldPort>(base);
        if (taken->held && HeldPort(base + 1).held)
            first = base;
    }
    ASSERT_NE(first, 0) << "no free pair of ports to use";
    proxy.configuredPort = first;
    ASSERT_TRUE(proxy.start(nullptr));
    EXPECT_EQ(proxy.address(), "127.0.0.1");
    // The first port is held by the test: the next free one above it is used.
    EXPECT_EQ(proxy.port(), first + 1);
    const int port = proxy.port();
    EXPECT_TRUE(proxy.start(nullptr));
    EXPECT_EQ(proxy.port(), port);
    proxy.stop();
    EXPECT_FALSE(proxy.listening());
    proxy.stop(); // harmless when stopped
}

TEST(ProxyTest, NoFreePortInTheRangeIsAClearError) {
    // A whole block of ports below the ephemeral range, held by the test.
    std::vector<std::unique_ptr<HeldPort>> held;
    int first = 0;
    for (int base = 20000; base < 30000 && first == 0; base += HttpProxy::kPortSearchLength) {
        held.clear();
        for (int i = 0; i < HttpProxy::kPortSearchLength; ++i) {
            held.push_back(std::make_unique<HeldPort>(base + i));
            if (!held.back()->held)
                break;
        }
        if (held.back()->held && int(held.size()) == HttpProxy::kPortSearchLength)
            first = base;
    }
    if (first == 0)
        GTEST_SKIP() << "no free block of ports to hold";
    HttpProxy proxy;
    proxy.manageSystemSettings = false;
    proxy.configuredPort = first;
    EXPECT_FALSE(proxy.start(nullptr));
    EXPECT_EQ(lastError(), kErrorNoFreePort);
    EXPECT_FALSE(errorText(kErrorNoFreePort).empty());
    EXPECT_EQ(errorText(kErrorNoFreePort).find("0xe0"), std::string::npos);
}

TEST(ProxyTest, RefusedClientsAreClosedAtOnce) {
    RecordingFilter filter;
    filter.refuse = true;
    TestProxy proxy(&filter);
    EXPECT_EQ(rawExchange(proxy.port(), "GET http://127.0.0.1:9/ HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(filter.calls(), (std::vector<std::string>{"acceptConnection -1"}));
}

TEST(ProxyTest, ResolvesBothFamiliesAndRoutesThroughTheUpstream) {
    HttpProxy proxy;
    struct Case {
        std::string upstream;
        std::string host;
        bool ok;
        int family;
        bool viaUpstream;
        int port;
    };
    const std::vector<Case> cases = {
        {"", "127.0.0.1", true, AF_INET, false, 8080},
        {"", "::1", true, AF_INET6, false, 8080},
        {"", "LocalHost", true, 0, false, 8080},
        {"", "nothing.invalid", false, 0, false, 0},
        {"[::1]:3128", "example.test", true, AF_INET6, true, 3128},
        {"http://127.0.0.1:3128", "example.test", true, AF_INET, true, 3128},
        {"127.0.0.1:31x", "example.test", false, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.upstream + " " + c.host);
        proxy.settings = ProxySettings();
        proxy.settings.proxyEnable = !c.upstream.empty();
        proxy.settings.proxyServer = c.upstream;
        proxy.settings.parseProxyServer();
        std::vector<ResolvedAddress> addresses;
        bool viaUpstream = !c.viaUpstream;
        ASSERT_EQ(proxy.resolve(c.host, 8080, addresses, viaUpstream), c.ok);
        if (!c.ok) {
            EXPECT_EQ(lastError(), kErrorHostUnknown);
            continue;
        }
        EXPECT_EQ(viaUpstream, c.viaUpstream);
        ASSERT_FALSE(addresses.empty());
        if (c.family != 0) {
            EXPECT_EQ(addresses[0].family, c.family);
        }
        const auto& address = addresses[0].address;
        const int port = address.ss_family == AF_INET6
                             ? ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port)
                             : ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        EXPECT_EQ(port, c.port);
    }
}

TEST(ProxyTest, PointsTheUsersSettingsAtItselfAndRestoresThem) {
    ProxySettings before;
    before.proxyEnable = false;
    before.proxyServer = "proxy.test:8080";
    before.proxyOverride = "localhost";
    before.parseProxyServer();
    ASSERT_TRUE(before.apply());
    ASSERT_TRUE(before.read(ProxySettings::kSystemKey)); // as the desktop keeps it

    HttpProxy proxy;
    proxy.configuredPort = 0;
    ASSERT_TRUE(proxy.start(nullptr));
    ProxySettings during;
    ASSERT_TRUE(during.read(ProxySettings::kSystemKey));
    EXPECT_TRUE(during.proxyEnable);
    std::string local;
    EXPECT_TRUE(during.upstreamServer(local));
    EXPECT_EQ(local, "127.0.0.1:" + std::to_string(proxy.port()));

    proxy.stop();
    ProxySettings after;
    ASSERT_TRUE(after.read(ProxySettings::kSystemKey));
    EXPECT_FALSE(after.proxyEnable);
    EXPECT_EQ(after.proxyServer, before.proxyServer);
    EXPECT_EQ(after.proxyOverride, before.proxyOverride);
}

TEST(ProxyTest, StopEndsADownloadInFlight) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    OriginServer origin([&](int socket, const OriginRequest&) {
        sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n" +
                                 std::string(65536, 'd'));
        // Stalls mid-body until the test ends.
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return false;
    });
    RecordingFilter filter;
    auto proxy = std::make_unique<TestProxy>(&filter);
    const int client = connectLoopback(proxy->port());
    ASSERT_GE(client, 0);
    sendAllBytes(client, "GET " + origin.url("/big") + " HTTP/1.1\r\n\r\n");
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length:100000000\r\n\r\n";
    EXPECT_EQ(receiveBytes(client, head.size() + 65536).size(), head.size() + 65536);

    proxy->proxy.stop();
    EXPECT_EQ(receiveBytes(client, 1), ""); // the client sees the end
    filter.waitFor("connectionClosed 0");
    const auto calls = filter.calls();
    EXPECT_NE(calls[calls.size() - 2].rfind("endExchange 1 ", 0), std::string::npos);
    EXPECT_NE(calls[calls.size() - 2], "endExchange 1 0");
    ::close(client);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
}

TEST(ProxyTest, ThousandConnectionsLeaveNoThreadOrDescriptor) {
    const int threadsBefore = countEntries("/proc/self/task");
    const int descriptorsBefore = countEntries("/proc/self/fd");
    {
        OriginServer origin(OriginServer::reply(smallResponse()));
        TestProxy proxy(nullptr);
        const std::string request =
            "GET " + origin.url("/") + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n";
        std::atomic<int> answered{0};
        std::vector<std::thread> clients;
        for (int t = 0; t < 8; ++t) {
            clients.emplace_back([&] {
                for (int i = 0; i < 125; ++i)
                    answered += rawExchange(proxy.port(), request) == smallRelayed();
            });
        }
        for (auto& client : clients)
            client.join();
        EXPECT_EQ(answered, 1000);
        proxy.proxy.stop();
    }
    EXPECT_EQ(countEntries("/proc/self/task"), threadsBefore);
    EXPECT_EQ(countEntries("/proc/self/fd"), descriptorsBefore);
}

TEST(ProxyTest, StartRaisesTheOpenFileLimit) {
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    if (original.rlim_max <= 1024)
        GTEST_SKIP() << "the hard limit leaves nothing to raise";
    // What desktops give the programs they start.
    rlimit desktop{1024, original.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &desktop), 0);
    {
        TestProxy proxy(nullptr);
        rlimit now{};
        ::getrlimit(RLIMIT_NOFILE, &now);
        EXPECT_EQ(now.rlim_cur, original.rlim_max);
    }
    ::setrlimit(RLIMIT_NOFILE, &original);
}

// A pooled connection between clients keeps no descriptor of its own.
TEST(ProxyTest, IdleConnectionsHoldNoDescriptor) {
    OriginServer origin(OriginServer::reply(smallResponse(), false));
    RecordingFilter filter;
    TestProxy proxy(&filter);
    const int before = countEntries("/proc/self/fd");
    // Five at once, so that the pool holds five connections.
    std::vector<int> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(connectLoopback(proxy.port()));
        sendAllBytes(clients.back(), "GET " + origin.url("/") + " HTTP/1.1\r\n\r\n");
    }
    for (int client : clients) {
        EXPECT_EQ(receiveBytes(client, std::string::npos), smallRelayed());
        ::close(client);
    }
    for (int i = 0; i < 5; ++i)
        filter.waitFor("connectionClosed " + std::to_string(i));
    // The origin keeps its ends until it is destroyed.
    EXPECT_EQ(countEntries("/proc/self/fd"), before + origin.connections());
}
