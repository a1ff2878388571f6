#include "PrivateSettingsHome.h"
#include "engine/Platform.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

namespace {

PrivateSettingsHome home;

using Servers = std::vector<std::pair<std::string, std::string>>;

ProxySettings withServer(const std::string& server, bool enable = true,
                         const std::string& override = {}) {
    ProxySettings settings;
    settings.proxyEnable = enable;
    settings.proxyServer = server;
    settings.proxyOverride = override;
    settings.parseProxyServer();
    return settings;
}

TEST(ProxySettingsTest, StartsWithTheDefaults) {
    const ProxySettings settings;
    EXPECT_FALSE(settings.proxyEnable);
    EXPECT_TRUE(settings.proxyHttp11);
    EXPECT_TRUE(settings.proxyOverride.empty());
    EXPECT_TRUE(settings.proxyServer.empty());
    EXPECT_FALSE(settings.singleServer);
    EXPECT_TRUE(settings.servers.empty());
}

TEST(ProxySettingsTest, ParsesTheServerList) {
    const struct {
        const char* server;
        bool single;
        Servers servers;
    } cases[] = {
        {"", true, {}},
        {"proxy:8080", true, {}},
        {"http=a:1", false, {{"http", "a:1"}}},
        {" https = a:1 ; http=b:2 ", false, {{"https", "a:1"}, {"http", "b:2"}}},
        {"http=a:1;", false, {{"http", "a:1"}}},
        {"http=a:1;trailing words", false, {{"http", "a:1"}}},
        {"http=;ftp=c:3", false, {{"http", ""}, {"ftp", "c:3"}}},
        {"=x", false, {{"", "x"}}},
        {"http=http://b:2", false, {{"http", "http://b:2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        ProxySettings settings = withServer(c.server);
        settings.servers.emplace_back("stale", "entry"); // parsing starts afresh
        settings.parseProxyServer();
        EXPECT_EQ(settings.singleServer, c.single);
        EXPECT_EQ(settings.servers, c.servers);
    }
}

TEST(ProxySettingsTest, RedirectsTheHttpAndHttpsEntriesOnly) {
    const struct {
        const char* server;
        const char* redirected;
    } cases[] = {
        {"", "http=127.0.0.1:2861;https=127.0.0.1:2861"},
        {"proxy:8080", "http=127.0.0.1:2861;https=127.0.0.1:2861;ftp=proxy:8080;socks=proxy:8080"},
        {"https=a:1;http=b:2", "https=127.0.0.1:2861;http=127.0.0.1:2861"},
        {"HTTP=b:2;ftp=c:3;http=d:4", "HTTP=127.0.0.1:2861;ftp=c:3;http=d:4;https=127.0.0.1:2861"},
        {"ftp=c:3", "ftp=c:3;http=127.0.0.1:2861;https=127.0.0.1:2861"},
        {" socks = s:1 ", "socks=s:1;http=127.0.0.1:2861;https=127.0.0.1:2861"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        ProxySettings settings = withServer(c.server, false, "localhost;<local>");
        settings.setLocalProxy("127.0.0.1:2861");
        EXPECT_EQ(settings.proxyServer, c.redirected);
        EXPECT_FALSE(settings.singleServer);
        EXPECT_EQ(settings.proxyOverride, "localhost;<local>");
        const Servers built = settings.servers;
        settings.parseProxyServer();
        EXPECT_EQ(settings.servers, built);
    }
}

TEST(ProxySettingsTest, UpstreamIsTheUsersHttpProxyWhenEnabled) {
    const struct {
        bool enable;
        const char* server;
        const char* upstream; // nullptr: none, the default comes back
    } cases[] = {
        {true, "proxy:8080", "proxy:8080"},
        {true, "https=a:1;http=b:2", "b:2"},
        {true, "http=http://b:2", "b:2"},
        {true, "proxy.example:3128", "proxy.example:3128"},
        {true, "socks://s:1", "s:1"},
        {true, "ftp=c:3", nullptr},
        {true, "", nullptr},
        {false, "proxy:8080", nullptr},
        {false, "http=b:2", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        const ProxySettings settings = withServer(c.server, c.enable);
        std::string out = "untouched";
        EXPECT_EQ(settings.upstream("origin.example:80", out), c.upstream != nullptr);
        EXPECT_EQ(out, c.upstream ? c.upstream : "origin.example:80");
        std::string server;
        EXPECT_EQ(settings.upstreamServer(server), c.upstream != nullptr);
    }
}

// A tunnel asks for the https proxy. GNOME programs send https to the http
// proxy when none of its own is set; KDE's then go direct. KDE's reversed
// list names the hosts that do use the proxy.
TEST(ProxySettingsTest, HttpsUpstreamFollowsTheDesktop) {
    const struct {
        const char* desktop;
        const char* server;
        bool reversed;
        const char* host;
        const char* upstream; // nullptr: direct
    } cases[] = {
        {"gnome", "http=h:1;https=s:2", false, "a.example", "s:2"},
        {"gnome", "http=h:1", false, "a.example", "h:1"},
        {"kde", "http=h:1", false, "a.example", nullptr},
        {"file", "http=h:1", false, "a.example", "h:1"},
        {"", "http=h:1", false, "a.example", "h:1"},
        {"", "https=;http=h:1", false, "a.example", "h:1"},
        {"file", "single:3", false, "a.example", "single:3"},
        {"kde", "https=s:2", false, "skip.example", nullptr},
        {"kde", "https=s:2", true, "skip.example", "s:2"},
        {"kde", "https=s:2", true, "a.example", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.desktop) + " " + c.server + " " + c.host);
        ProxySettings settings = withServer(c.server, true, "skip.example");
        settings.desktop = c.desktop;
        settings.bypassReversed = c.reversed;
        std::string out;
        const std::string target = std::string(c.host) + ":443";
        EXPECT_EQ(settings.upstreamFor("https", c.host, target, out), c.upstream != nullptr);
        EXPECT_EQ(out, c.upstream ? c.upstream : target);
    }
}

TEST(ProxySettingsTest, BypassListMatchesLikeBrowsers) {
    const struct {
        const char* list;
        const char* host;
        int port;
        bool bypassed;
    } cases[] = {
        {"<local>", "intranet", -1, true},
        {"<local>", "intranet.corp", -1, false},
        {"<local>", "::1", -1, false},
        {"<local>", "127.0.0.1", -1, false},
        {"*.example.com", "www.example.com", -1, true},
        {"*.example.com", "WWW.Example.COM", -1, true},
        {"*.example.com", "example.com", -1, false},
        {"*.example.com", "badexample.com", -1, false},
        {".example.com", "a.b.example.com", -1, true},
        {"example.com", "example.com", -1, true},
        {"example.com", "www.example.com", -1, false},
        {"example.com", "example.com.", -1, true},
        {"*", "anything.at.all", -1, true},
        {"*ample*", "example.org", -1, true},
        {"10.*", "10.2.3.4", -1, true},
        {"localhost", "LocalHost", -1, true},
        {"localhost", "localhost.example", -1, false},
        {"127.0.0.0/8", "127.1.2.3", -1, true},
        {"127.0.0.0/8", "128.0.0.1", -1, false},
        {"127.0.0.0/8", "localhost", -1, false},
        {"192.168.0.0/23", "192.168.1.200", -1, true},
        {"192.168.0.0/23", "192.168.2.1", -1, false},
        {"192.168.1.1", "192.168.1.1", -1, true},
        {"192.168.1.1", "192.168.1.10", -1, false},
        {"::1", "::1", -1, true},
        {"::1", "[::1]", -1, true},
        {"::1", "0:0:0:0:0:0:0:1", -1, true},
        {"::1", "127.0.0.1", -1, false},
        {"fe80::/10", "fe80::1", -1, true},
        {"fe80::/10", "fec0::1", -1, false},
        {"[fe80::]/10", "[febf::2]", -1, true},
        {"example.com:8080", "example.com", 8080, true},
        {"example.com:8080", "example.com", 80, false},
        {"example.com:8080", "example.com", -1, false},
        {"[::1]:8080", "::1", 8080, true},
        {"http://plain.example", "plain.example", -1, true},
        {"https://secure.example", "secure.example", -1, false},
        {"a.example; b.example ,c.example\td.example", "c.example", -1, true},
        {"a.example; b.example ,c.example\td.example", "d.example", -1, true},
        {";;", "x", -1, false},
        {"", "x", -1, false},
        {"<-loopback>", "localhost", -1, false},
        {"name:junk", "name", -1, false},
        {"10.0.0.0/abc", "10.0.0.1", -1, false},
        {"10.0.0.0/33", "10.0.0.1", -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " / " + c.host);
        EXPECT_EQ(withServer("http=up:3128", true, c.list).bypasses(c.host, c.port), c.bypassed);
    }
}

TEST(ProxySettingsTest, BypassedHostsGoDirect) {
    const ProxySettings settings =
        withServer("http=up:3128", true, "localhost;127.0.0.0/8;::1;*.internal;<local>");
    const struct {
        const char* address;
        const char* out;
    } cases[] = {
        {"localhost:8000", "localhost:8000"},
        {"127.0.0.1:80", "127.0.0.1:80"},
        {"[::1]:80", "[::1]:80"},
        {"api.internal:80", "api.internal:80"},
        {"printer:631", "printer:631"},
        {"www.example.org:80", "up:3128"},
        {"[2001:db8::1]:80", "up:3128"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        std::string out;
        EXPECT_EQ(settings.upstream(c.address, out), std::string(c.out) == "up:3128");
        EXPECT_EQ(out, c.out);
    }
    std::string out;
    EXPECT_FALSE(settings.upstream("::1", "[::1]:443", out));
    EXPECT_EQ(out, "[::1]:443");
    EXPECT_TRUE(settings.upstream("example.org", "example.org:80", out));
    EXPECT_EQ(out, "up:3128");
}

// Keys of our own settings file, such as the backup key.
class ProxySettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { SettingsFile().deleteKey("Software"); }
    SettingsFile file;
    const std::string key = ProxySettings::kBackupKey;
};

TEST_F(ProxySettingsFileTest, WritesTheValuesInOrderAndReadsThemBack) {
    ASSERT_TRUE(file.writeDword(key, "", 1)); // the backup flag
    ProxySettings settings = withServer("https=a:1;http=b:2", true, "localhost;*.corp");
    settings.proxyHttp11 = false;
    settings.proxyMode = "auto";
    settings.autoConfigUrl = "http://wpad/wpad.dat";
    settings.unusedPorts = "ftp=21";
    settings.bypassReversed = true;
    settings.desktop = "kde";
    settings.desktopValues = "[group]\nProxyType=1\n";
    ASSERT_TRUE(settings.write(key));

    std::vector<SettingsFile::Value> values;
    ASSERT_TRUE(file.listValues(key, values));
    std::vector<std::string> names;
    for (const auto& value : values)
        names.push_back(value.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"", "ProxyEnable", "ProxyHttp1.1", "ProxyOverride",
                                        "ProxyServer", "ProxyMode", "AutoConfigURL", "UnusedPorts",
                                        "BypassReversed", "Desktop", "DesktopValues"}));
    EXPECT_EQ(values[1].type, SettingsFile::Type::dword);
    EXPECT_EQ(values[1].dword, 1u);
    EXPECT_EQ(values[2].dword, 0u);
    EXPECT_EQ(values[5].data, "manual"); // enabled wins over the mode as read

    ProxySettings back;
    ASSERT_TRUE(back.read(key));
    EXPECT_TRUE(back.proxyEnable);
    EXPECT_FALSE(back.proxyHttp11);
    EXPECT_EQ(back.proxyOverride, "localhost;*.corp");
    EXPECT_EQ(back.proxyServer, "https=a:1;http=b:2");
    EXPECT_EQ(back.servers, settings.servers);
    EXPECT_EQ(back.proxyMode, "manual");
    EXPECT_EQ(back.autoConfigUrl, "http://wpad/wpad.dat");
    EXPECT_EQ(back.unusedPorts, "ftp=21");
    EXPECT_TRUE(back.bypassReversed);
    EXPECT_EQ(back.desktop, "kde");
    EXPECT_EQ(back.desktopValues, settings.desktopValues);

    // Disabled, "manual" and no mode become "none"; other modes stay.
    back.proxyEnable = false;
    for (const char* mode : {"auto", "wpad", "manual", "none", ""}) {
        back.proxyMode = mode;
        ASSERT_TRUE(back.write(key));
        std::string stored;
        ASSERT_TRUE(file.readString(key, "ProxyMode", stored));
        const std::string m = mode;
        EXPECT_EQ(stored, m == "manual" || m.empty() ? "none" : m) << mode;
    }
}

TEST_F(ProxySettingsFileTest, ValuesOfTheWrongTypeReadAsDefaults) {
    ASSERT_TRUE(file.writeString(key, "ProxyEnable", "1"));
    ASSERT_TRUE(file.writeBinary(key, "ProxyHttp1.1", std::string(4, '\0')));
    ASSERT_TRUE(file.writeDword(key, "ProxyOverride", 5));
    ASSERT_TRUE(file.writeString(key, "ProxyServer", std::string("http=a:1\0garbage", 16)));

    ProxySettings settings = withServer("stale:1", true, "stale");
    ASSERT_TRUE(settings.read(key));
    EXPECT_FALSE(settings.proxyEnable);
    EXPECT_TRUE(settings.proxyHttp11);
    EXPECT_EQ(settings.proxyOverride, "");
    EXPECT_EQ(settings.proxyServer, "http=a:1");
    EXPECT_EQ(settings.servers, (Servers{{"http", "a:1"}}));

    // A missing ProxyHttp1.1 is written back as 1.
    ASSERT_TRUE(file.deleteValue(key, "ProxyHttp1.1"));
    ASSERT_TRUE(settings.read(key));
    ASSERT_TRUE(settings.write(key));
    std::uint32_t http11 = 0;
    ASSERT_TRUE(file.readDword(key, "ProxyHttp1.1", http11));
    EXPECT_EQ(http11, 1u);
}

TEST_F(ProxySettingsFileTest, AMissingKeyFailsToRead) {
    ProxySettings settings = withServer("keep:1");
    EXPECT_FALSE(settings.read(key));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(settings.proxyServer, "keep:1");
}

} // namespace
