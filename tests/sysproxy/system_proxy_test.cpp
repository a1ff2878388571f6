// Redirecting and restoring the desktop's settings with the backup, the
// record of the redirect and the crash flag; settings that point at a
// Tidewell listener are never taken for the user's.
#include "PrivateSettingsHome.h"
#include "engine/HttpProxy.h"
#include "support/OriginServer.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"
#include "sysproxy/SystemProxy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

ScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
PrivateSettingsHome home;

static_assert(SystemProxy::kFirstPort == HttpProxy::kDefaultPort &&
              SystemProxy::kPortCount == HttpProxy::kPortSearchLength);

// Everything of the desktop's proxy settings, as the settings tool lists it.
std::string desktopSettings() {
    std::string out;
    if (std::FILE* tool = ::popen("gsettings list-recursively org.gnome.system.proxy", "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, tool))
            out.append(buffer, n);
        ::pclose(tool);
    }
    return out;
}

ProxySettings manual(const std::string& server, const std::string& bypass = {}) {
    ProxySettings settings;
    settings.proxyEnable = !server.empty();
    settings.proxyMode = server.empty() ? "none" : "manual";
    settings.proxyServer = server;
    settings.proxyOverride = bypass;
    settings.parseProxyServer();
    return settings;
}

// A loopback port nothing listens on (for a while).
int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class SystemProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ProxySettings::usesDesktopSettings())
            GTEST_SKIP() << "the desktop's proxy schema is not installed";
        SettingsFile().deleteKey("Software");
        ASSERT_TRUE(manual("").apply());
    }
    // The user's own settings, and what a crash while capturing leaves.
    const ProxySettings user = manual("http=proxy.lan:3128;https=proxy.lan:3129", "<local>;*.lan");
    const ProxySettings leftover = manual("http=127.0.0.1:2861;https=127.0.0.1:2861");
};

TEST_F(SystemProxyTest, RecognisesTidewellListeners) {
    const int recorded = unusedPort();
    const struct {
        std::string address;
        bool ours;
    } cases[] = {
        {"127.0.0.1:2861", true},
        {"127.0.0.1:2960", true},
        {"127.0.0.1:2961", false},
        {"127.0.0.1:2860", false},
        {"127.42.0.1:2900", true},
        {"LocalHost.:2870", true},
        {"tidewell.localhost:2870", true},
        {"[::1]:2862", true},
        {"[::ffff:127.0.0.1]:2862", true},
        {"http://127.0.0.1:2861/", true},
        {"127.0.0.1", false},
        {"10.0.0.1:2861", false},
        {"proxy.lan:2861", false},
        {"[fe80::1]:2861", false},
        {"127.0.0.1:" + std::to_string(recorded), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(SystemProxy::isTidewellListener(c.address), c.ours);
    }
    // A port given by hand is ours once a redirect recorded it.
    ASSERT_TRUE(SystemProxy::redirect(user, "127.0.0.1:" + std::to_string(recorded)));
    EXPECT_TRUE(SystemProxy::isTidewellListener("127.0.0.1:" + std::to_string(recorded)));
    EXPECT_TRUE(SystemProxy::restore(user, "127.0.0.1:" + std::to_string(recorded)));
    EXPECT_FALSE(SystemProxy::isTidewellListener("127.0.0.1:" + std::to_string(recorded)));
}

// The next start after a crash that nothing repaired: whatever it finds, the
// user's settings are what capturing gives back, and no request is sent to
// a dead listener as if it were the user's proxy.
TEST_F(SystemProxyTest, ALeftoverRedirectIsNeverTheUsersSettings) {
    const struct {
        const char* name;
        ProxySettings desktop;
        const ProxySettings* backup; // nullptr: none
        std::string userServer;      // what readUserSettings finds
        bool enabled;
    } cases[] = {
        {"the user's own", user, nullptr, user.proxyServer, true},
        {"a leftover with the user's backup", leftover, &user, user.proxyServer, true},
        {"a leftover without a backup", leftover, nullptr, "", false},
        {"a leftover whose backup is a leftover too", leftover, &leftover, "", false},
        {"a leftover beside the user's socks proxy",
         manual("http=127.0.0.1:2861;https=127.0.0.1:2861;socks=s.lan:1080"), nullptr,
         "socks=s.lan:1080", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFile().deleteKey("Software");
        if (c.backup) {
            ASSERT_TRUE(c.backup->write(ProxySettings::kBackupKey));
            ASSERT_TRUE(SettingsFile().writeDword(ProxySettings::kBackupKey, "", 1));
        }
        ASSERT_TRUE(c.desktop.apply());

        ProxySettings found;
        ASSERT_TRUE(SystemProxy::readUserSettings(found));
        EXPECT_EQ(found.proxyServer, c.userServer);
        EXPECT_EQ(found.proxyEnable, c.enabled);
        EXPECT_FALSE(SystemProxy::pointsAtTidewell(found));

        // The start-up backup keeps the user's settings too.
        ASSERT_TRUE(SystemProxy::backUp());
        ProxySettings backup;
        ASSERT_TRUE(backup.read(ProxySettings::kBackupKey));
        EXPECT_EQ(backup.proxyServer, c.userServer);
        EXPECT_TRUE(SystemProxy::crashFlag());
    }
}

TEST_F(SystemProxyTest, CapturingAfterALeftoverRelaysAndGivesTheUserBackTheirSettings) {
    ASSERT_TRUE(user.apply());
    const std::string original = desktopSettings();
    ASSERT_NE(original.find("proxy.lan"), std::string::npos) << original;
    ASSERT_TRUE(user.write(ProxySettings::kBackupKey));
    // A crash left the settings on a listener that is gone, and this time
    // pointed the bypass list at nothing.
    ProxySettings crashed = leftover;
    crashed.proxyOverride = "<-loopback>";
    ASSERT_TRUE(crashed.apply());

    OriginServer origin(OriginServer::reply(OriginServer::okResponse("from the origin")));
    HttpProxy proxy;
    proxy.configuredPort = 0;
    ASSERT_TRUE(proxy.start(nullptr));
    // proxy.lan resolves nowhere here: the route shows the upstream.
    std::string host;
    int port = 0;
    bool viaUpstream = false;
    ASSERT_TRUE(proxy.route("example.test", 80, host, port, viaUpstream));
    EXPECT_TRUE(viaUpstream);
    EXPECT_EQ(host + ":" + std::to_string(port), "proxy.lan:3128");
    proxy.stop();
    EXPECT_EQ(desktopSettings(), original);

    // Without a backup: no upstream at all, so requests reach the origin.
    SettingsFile().deleteKey("Software");
    ASSERT_TRUE(crashed.apply());
    ASSERT_TRUE(proxy.start(nullptr));
    ASSERT_TRUE(proxy.route("example.test", 80, host, port, viaUpstream));
    EXPECT_FALSE(viaUpstream);
    const CurlResult result =
        runCurl({"-x", "http://127.0.0.1:" + std::to_string(proxy.port()), origin.url("/")});
    EXPECT_EQ(result.output, "from the origin");
    proxy.stop();
    ProxySettings after;
    ASSERT_TRUE(after.read(ProxySettings::kSystemKey));
    EXPECT_FALSE(SystemProxy::pointsAtTidewell(after));
    EXPECT_FALSE(after.proxyEnable);
}

TEST_F(SystemProxyTest, RedirectKeepsABackupAndARecordThatRestoreDrops) {
    ASSERT_TRUE(user.apply());
    const std::string original = desktopSettings();
    ProxySettings read;
    ASSERT_TRUE(SystemProxy::readUserSettings(read));

    ASSERT_TRUE(SystemProxy::redirect(read, "127.0.0.1:2861"));
    ProxySettings during, backup;
    ASSERT_TRUE(during.read(ProxySettings::kSystemKey));
    EXPECT_EQ(during.proxyServer, "http=127.0.0.1:2861;https=127.0.0.1:2861");
    ASSERT_TRUE(backup.read(ProxySettings::kBackupKey));
    EXPECT_EQ(backup.proxyServer, user.proxyServer);
    std::string address;
    std::uint32_t owner = 0;
    ASSERT_TRUE(SettingsFile().readString(ProxySettings::kBackupKey, "LocalProxy", address));
    ASSERT_TRUE(SettingsFile().readDword(ProxySettings::kBackupKey, "LocalProxyOwner", owner));
    EXPECT_EQ(address, "127.0.0.1:2861");
    EXPECT_EQ(owner, std::uint32_t(::getpid()));

    ASSERT_TRUE(SystemProxy::restore(read, "127.0.0.1:2861"));
    EXPECT_EQ(desktopSettings(), original);
    ASSERT_TRUE(SettingsFile().readString(ProxySettings::kBackupKey, "LocalProxy", address));
    EXPECT_EQ(address, "");

    // A second program took the settings over meanwhile: they are its to
    // give back, not ours to take away under it.
    ASSERT_TRUE(SystemProxy::redirect(read, "127.0.0.1:2861"));
    ASSERT_TRUE(manual("http=127.0.0.1:2862;https=127.0.0.1:2862").apply());
    const std::string second = desktopSettings();
    ASSERT_TRUE(SystemProxy::restore(read, "127.0.0.1:2861"));
    EXPECT_EQ(desktopSettings(), second);
}

TEST_F(SystemProxyTest, TheGuardianRestoresOnlyARedirectStillInForce) {
    ASSERT_TRUE(user.apply());
    const std::string original = desktopSettings();
    const pid_t self = ::getpid();
    bool restored = true;

    // Nothing recorded: a program that ended without capturing.
    ASSERT_TRUE(SystemProxy::recoverAfter(self, restored));
    EXPECT_FALSE(restored);

    // Another process's redirect.
    ASSERT_TRUE(SystemProxy::redirect(user, "127.0.0.1:2861"));
    ASSERT_TRUE(SystemProxy::recoverAfter(self + 1, restored));
    EXPECT_FALSE(restored);
    EXPECT_NE(desktopSettings(), original);

    // Ours, but the settings were changed since: left as they are.
    ASSERT_TRUE(manual("http=elsewhere.lan:8080").apply());
    const std::string changed = desktopSettings();
    ASSERT_TRUE(SystemProxy::recoverAfter(self, restored));
    EXPECT_FALSE(restored);
    EXPECT_EQ(desktopSettings(), changed);

    // Ours and in force: restored, and the crash flag needs no offer.
    ASSERT_TRUE(SystemProxy::redirect(user, "127.0.0.1:2861"));
    ASSERT_TRUE(SettingsFile().writeDword(ProxySettings::kBackupKey, "", 1));
    ASSERT_TRUE(SystemProxy::recoverAfter(self, restored));
    EXPECT_TRUE(restored);
    EXPECT_EQ(desktopSettings(), original);
    EXPECT_FALSE(SystemProxy::crashFlag());
}

// The restore offered after a crash: the user's settings exactly, and never
// a listener that an older version backed up.
TEST_F(SystemProxyTest, RestoringTheBackupNeverBringsBackAListener) {
    ASSERT_TRUE(user.apply());
    const std::string original = desktopSettings();
    ASSERT_TRUE(user.write(ProxySettings::kBackupKey));
    ASSERT_TRUE(leftover.apply());
    ASSERT_TRUE(SystemProxy::restoreBackup());
    EXPECT_EQ(desktopSettings(), original);

    ASSERT_TRUE(manual("http=127.0.0.1:2861;socks=s.lan:1080").write(ProxySettings::kBackupKey));
    ASSERT_TRUE(SystemProxy::restoreBackup());
    ProxySettings current;
    ASSERT_TRUE(current.read(ProxySettings::kSystemKey));
    EXPECT_EQ(current.proxyServer, "socks=s.lan:1080");
}

TEST_F(SystemProxyTest, ALeftoverIsOneWhoseListenerIsGone) {
    const int port = unusedPort();
    const std::string address = "127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(SystemProxy::redirect(user, address)); // records the port as ours
    EXPECT_TRUE(SystemProxy::leftBehind());

    OriginServer live(OriginServer::reply(OriginServer::okResponse("")));
    const std::string liveAddress = "127.0.0.1:" + std::to_string(live.port());
    ASSERT_TRUE(SystemProxy::redirect(user, liveAddress));
    EXPECT_FALSE(SystemProxy::leftBehind());

    ASSERT_TRUE(user.apply());
    EXPECT_FALSE(SystemProxy::leftBehind());
}

} // namespace
