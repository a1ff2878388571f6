// The system key over the desktop's proxy settings, in a private keyfile.
#include "PrivateSettingsHome.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <gio/gio.h>
#include <sstream>

namespace {

PrivateSettingsHome home;

const char* const kProtocols[] = {"http", "https", "ftp", "socks"};

// Everything of the desktop's proxy settings a capture may touch.
struct DesktopState {
    std::string mode = "none";
    std::string autoconfigUrl;
    std::vector<std::string> ignoreHosts{"localhost", "127.0.0.0/8", "::1"};
    std::string hosts[4];
    int ports[4] = {8080, 0, 0, 0};

    std::string describe() const {
        std::string out = "mode=" + mode + " url=" + autoconfigUrl + " ignore=";
        for (const auto& host : ignoreHosts)
            out += host + ",";
        for (int i = 0; i < 4; ++i)
            out +=
                std::string(" ") + kProtocols[i] + "=" + hosts[i] + ":" + std::to_string(ports[i]);
        return out;
    }
};

DesktopState loadState() {
    DesktopState state;
    GSettings* proxy = g_settings_new("org.gnome.system.proxy");
    gchar* text = g_settings_get_string(proxy, "mode");
    state.mode = text;
    g_free(text);
    text = g_settings_get_string(proxy, "autoconfig-url");
    state.autoconfigUrl = text;
    g_free(text);
    gchar** hosts = g_settings_get_strv(proxy, "ignore-hosts");
    state.ignoreHosts.assign(hosts, hosts + g_strv_length(hosts));
    g_strfreev(hosts);
    for (int i = 0; i < 4; ++i) {
        GSettings* child = g_settings_get_child(proxy, kProtocols[i]);
        text = g_settings_get_string(child, "host");
        state.hosts[i] = text;
        g_free(text);
        state.ports[i] = g_settings_get_int(child, "port");
        g_object_unref(child);
    }
    g_object_unref(proxy);
    return state;
}

void storeState(const DesktopState& state) {
    GSettings* proxy = g_settings_new("org.gnome.system.proxy");
    g_settings_set_string(proxy, "mode", state.mode.c_str());
    g_settings_set_string(proxy, "autoconfig-url", state.autoconfigUrl.c_str());
    std::vector<const gchar*> hosts;
    for (const auto& host : state.ignoreHosts)
        hosts.push_back(host.c_str());
    hosts.push_back(nullptr);
    g_settings_set_strv(proxy, "ignore-hosts", hosts.data());
    for (int i = 0; i < 4; ++i) {
        GSettings* child = g_settings_get_child(proxy, kProtocols[i]);
        g_settings_set_string(child, "host", state.hosts[i].c_str());
        g_settings_set_int(child, "port", state.ports[i]);
        g_object_unref(child);
    }
    g_object_unref(proxy);
    g_settings_sync();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class DesktopProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ProxySettings::usesDesktopSettings())
            GTEST_SKIP() << "the desktop's proxy schema is not installed";
        storeState(DesktopState{});
        SettingsFile().deleteKey("Software");
    }
};

TEST_F(DesktopProxyTest, ReadsTheDesktopSettingsAsTheFourValues) {
    DesktopState state;
    state.mode = "manual";
    state.ignoreHosts = {"localhost", "*.corp", "10.0.0.0/8"};
    state.hosts[0] = "proxy.lan";
    state.ports[0] = 3128;
    state.hosts[1] = "::1";
    state.ports[1] = 8443;
    state.ports[2] = 21; // a port without a host is no entry
    state.hosts[3] = "socks.lan";
    state.ports[3] = 0;
    storeState(state);

    ProxySettings settings;
    ASSERT_TRUE(settings.read(ProxySettings::kSystemKey));
    EXPECT_TRUE(settings.proxyEnable);
    EXPECT_TRUE(settings.proxyHttp11);
    EXPECT_EQ(settings.proxyServer, "http=proxy.lan:3128;https=[::1]:8443;socks=socks.lan");
    EXPECT_FALSE(settings.singleServer);
    EXPECT_EQ(settings.servers.size(), 3u);
    EXPECT_EQ(settings.proxyOverride, "localhost;*.corp;10.0.0.0/8");
    EXPECT_EQ(settings.proxyMode, "manual");
    std::string out;
    EXPECT_TRUE(settings.upstream("example.org:80", out));
    EXPECT_EQ(out, "proxy.lan:3128");
    EXPECT_FALSE(settings.upstream("db.corp:80", out));

    state.mode = "auto";
    storeState(state);
    ASSERT_TRUE(settings.read(ProxySettings::kSystemKey));
    EXPECT_FALSE(settings.proxyEnable);
    EXPECT_FALSE(settings.upstream("example.org:80", out));
}

TEST_F(DesktopProxyTest, WritesTheFourValuesOntoTheDesktop) {
    const struct {
        const char* server;
        const char* hosts[4];
        int ports[4];
    } cases[] = {
        {"https=a:1;HTTP=[::1]:3128;gopher=g:70;ftp=", {"::1", "a", "", ""}, {3128, 1, 21, 1080}},
        {"proxy:8080", {"proxy", "proxy", "proxy", "proxy"}, {8080, 8080, 8080, 8080}},
        {"http=plainhost;socks=s:1080", {"plainhost", "", "", "s"}, {0, 0, 21, 1080}},
        {"", {"", "", "", ""}, {8080, 0, 21, 1080}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        DesktopState before;
        before.hosts[2] = "old-ftp";
        before.ports[2] = 21;
        before.ports[3] = 1080;
        storeState(before);

        ProxySettings settings;
        settings.proxyEnable = true;
        settings.proxyServer = c.server;
        settings.proxyOverride = " x.example ; ;y.example";
        settings.parseProxyServer();
        ASSERT_TRUE(settings.write(ProxySettings::kSystemKey));

        DesktopState expected;
        expected.mode = "manual";
        expected.ignoreHosts = {"x.example", "y.example"};
        for (int i = 0; i < 4; ++i) {
            expected.hosts[i] = c.hosts[i];
            expected.ports[i] = c.ports[i];
        }
        EXPECT_EQ(loadState().describe(), expected.describe());
    }
}

// Capturing: the user's settings are read and backed up, a redirected copy is
// applied, and the user gets back exactly what they had, both when capturing
// stops and from the backup after a crash.
TEST_F(DesktopProxyTest, CapturingGivesTheUserBackExactlyWhatTheyHad) {
    DesktopState autoConfig;
    autoConfig.mode = "auto";
    autoConfig.autoconfigUrl = "http://wpad.example/wpad.dat";
    DesktopState none;
    none.hosts[0] = "old-proxy";
    none.ports[0] = 3128;
    none.hosts[3] = "old-socks";
    none.ports[3] = 1080;
    none.ignoreHosts = {};
    DesktopState manual;
    manual.mode = "manual";
    manual.hosts[0] = "proxy";
    manual.ports[0] = 8080;
    manual.hosts[1] = "secure-proxy";
    manual.ports[1] = 8443;
    manual.ignoreHosts = {"<local>", "*.intranet"};

    for (const DesktopState& original : {autoConfig, none, manual}) {
        SCOPED_TRACE(original.describe());
        storeState(original);

        ProxySettings user;
        ASSERT_TRUE(user.read(ProxySettings::kSystemKey));
        ASSERT_TRUE(user.write(ProxySettings::kBackupKey));

        ProxySettings redirected = user;
        redirected.setLocalProxy("127.0.0.1:2861");
        redirected.proxyEnable = true;
        ASSERT_TRUE(redirected.apply());
        DesktopState capturing = original;
        capturing.mode = "manual";
        capturing.hosts[0] = capturing.hosts[1] = "127.0.0.1";
        capturing.ports[0] = capturing.ports[1] = 2861;
        EXPECT_EQ(loadState().describe(), capturing.describe());
        // Other programs read the stored file, not this process's memory.
        const std::string stored = slurp(home.desktopKeyfile());
        EXPECT_NE(stored.find("mode='manual'"), std::string::npos) << stored;
        EXPECT_NE(stored.find("host='127.0.0.1'"), std::string::npos) << stored;
        EXPECT_NE(stored.find("port=2861"), std::string::npos) << stored;

        // Capture stops.
        ASSERT_TRUE(user.write(ProxySettings::kSystemKey));
        EXPECT_EQ(loadState().describe(), original.describe());

        // Capture runs again and the program dies; the next start restores.
        ASSERT_TRUE(redirected.apply());
        ProxySettings backup;
        ASSERT_TRUE(backup.read(ProxySettings::kBackupKey));
        ASSERT_TRUE(backup.apply());
        EXPECT_EQ(loadState().describe(), original.describe());
    }
}

} // namespace
