// KDE Plasma's proxy settings in a private kioslaverc, and the notice to
// running programs on a private session bus.
#include "PrivateSessionBus.h"
#include "PrivateSettingsHome.h"
#include "sysproxy/KdeProxyStore.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/ProxySettingsStore.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <gio/gio.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Before anything picks the store of this desktop.
ScopedEnv desktop("XDG_CURRENT_DESKTOP", "ubuntu:KDE");
PrivateSettingsHome home;
PrivateSessionBus bus;

std::string kioslaverc() {
    return KdeProxyStore::defaultPath();
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void store(const char* text) {
    ::unlink(kioslaverc().c_str());
    if (text) {
        std::ofstream(kioslaverc(), std::ios::binary) << text;
    }
}

class KdeProxyTest : public ::testing::Test {
protected:
    void SetUp() override { SettingsFile().deleteKey("Software"); }
};

TEST_F(KdeProxyTest, TheDesktopNamedKdeGetsTheKdeStore) {
    EXPECT_STREQ(ProxySettingsStore::forThisDesktop().id(), "kde");
    EXPECT_TRUE(ProxySettings::usesDesktopSettings());
    EXPECT_EQ(kioslaverc(),
              home.settingsFile().substr(0, home.settingsFile().find("/Merovex")) + "/kioslaverc");
}

// Capturing on KDE: the user's file is read, backed up, redirected, and
// comes back byte for byte, both when capturing stops and from the backup.
TEST_F(KdeProxyTest, RedirectAndRestoreLeaveTheFileAsItWas) {
    ScopedEnv httpVariable("TW_TEST_HTTP_PROXY", "http://envproxy:3128");
    ScopedEnv noProxyVariable("TW_TEST_NO_PROXY", "localhost");
    ScopedEnv unsetVariable("TW_TEST_HTTPS_PROXY", nullptr);
    const char* const redirectedPair = "httpProxy=http://127.0.0.1 2861\n"
                                       "httpsProxy=http://127.0.0.1 2861\n";
    const struct {
        const char* name;
        const char* before; // nullptr: no file
        std::string redirected;
        const char* upstream; // of the user's settings for origin.example; nullptr: direct
    } cases[] = {
        {"no file at all", nullptr, std::string("[Proxy Settings]\nProxyType=1\n") + redirectedPair,
         nullptr},
        {"other groups only, no final newline", "# written by hand\n[General]\nlang=zh",
         // The file's own missing newline stays missing at its end.
         "# written by hand\n[General]\nlang=zh\n\n[Proxy Settings]\nProxyType=1\n"
         "httpProxy=http://127.0.0.1 2861\nhttpsProxy=http://127.0.0.1 2861",
         nullptr},
        {"none, stale entries and spacing kept",
         "[Proxy Settings]\nProxyType = 0\nhttpProxy=http://old 3128\nftpProxy=ftp://f 21\n"
         "NoProxyFor=localhost,127.0.0.1\n\n[$Version]\nupdate_info=kio.upd:x\n",
         "[Proxy Settings]\nProxyType=1\nhttpProxy=http://127.0.0.1 2861\nftpProxy=ftp://f 21\n"
         "NoProxyFor=localhost,127.0.0.1\nhttpsProxy=http://127.0.0.1 2861\n\n[$Version]\n"
         "update_info=kio.upd:x\n",
         nullptr},
        {"manual, colon form, reversed list",
         "[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy:3128/\nNoProxyFor=origin.example\n"
         "ReversedException=true\n",
         std::string("[Proxy Settings]\nProxyType=1\nhttpProxy=http://127.0.0.1 2861\n"
                     "NoProxyFor=origin.example\nReversedException=true\n"
                     "httpsProxy=http://127.0.0.1 2861\n"),
         "proxy:3128"},
        {"PAC script",
         "[Proxy Settings]\nProxy Config Script=http://wpad.lan/p.pac\nProxyType=2\n"
         "socksProxy=socks://s 1080\n",
         std::string("[Proxy Settings]\nProxy Config Script=http://wpad.lan/p.pac\nProxyType=1\n"
                     "socksProxy=socks://s 1080\n") +
             redirectedPair,
         nullptr},
        {"environment variables",
         "[Proxy Settings]\nProxyType=4\nhttpProxy=TW_TEST_HTTP_PROXY\n"
         "httpsProxy=TW_TEST_HTTPS_PROXY\nNoProxyFor=TW_TEST_NO_PROXY\n",
         std::string("[Proxy Settings]\nProxyType=1\n") + redirectedPair + "NoProxyFor=localhost\n",
         "envproxy:3128"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store(c.before);

        ProxySettings user;
        ASSERT_TRUE(user.read(ProxySettings::kSystemKey));
        EXPECT_EQ(user.desktop, "kde");
        std::string out;
        EXPECT_EQ(user.upstream("origin.example:80", out), c.upstream != nullptr);
        EXPECT_EQ(out, c.upstream ? c.upstream : "origin.example:80");
        ASSERT_TRUE(user.write(ProxySettings::kBackupKey));

        ProxySettings redirected = user;
        redirected.setLocalProxy("127.0.0.1:2861");
        redirected.proxyEnable = true;
        ASSERT_TRUE(redirected.apply());
        EXPECT_EQ(slurp(kioslaverc()), c.redirected);
        ProxySettings during;
        ASSERT_TRUE(during.read(ProxySettings::kSystemKey));
        EXPECT_TRUE(during.upstreamServer("https", out));
        EXPECT_EQ(out, "127.0.0.1:2861");
        EXPECT_EQ(during.proxyMode, "manual");

        // Capture stops.
        ASSERT_TRUE(user.apply());
        ASSERT_EQ(exists(kioslaverc()), c.before != nullptr);
        if (c.before) {
            EXPECT_EQ(slurp(kioslaverc()), c.before);
        }

        // Capture again, and the program dies: the backup restores.
        ASSERT_TRUE(redirected.apply());
        ProxySettings backup;
        ASSERT_TRUE(backup.read(ProxySettings::kBackupKey));
        ASSERT_TRUE(backup.apply());
        ASSERT_EQ(exists(kioslaverc()), c.before != nullptr);
        if (c.before) {
            EXPECT_EQ(slurp(kioslaverc()), c.before);
        }
    }
}

TEST_F(KdeProxyTest, KeepsTheFilesPermissionsAndFollowsALink) {
    const std::string target = home.settingsFile() + ".kioslaverc";
    std::ofstream(target) << "[Proxy Settings]\nProxyType=0\n";
    ::chmod(target.c_str(), 0640);
    ::unlink(kioslaverc().c_str());
    ASSERT_EQ(::symlink(target.c_str(), kioslaverc().c_str()), 0);

    ProxySettings settings;
    ASSERT_TRUE(settings.read(ProxySettings::kSystemKey));
    settings.setLocalProxy("127.0.0.1:2861");
    settings.proxyEnable = true;
    ASSERT_TRUE(settings.apply());

    struct stat st {};
    ASSERT_EQ(::lstat(kioslaverc().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(slurp(target).find("ProxyType=1"), std::string::npos);
    ::unlink(kioslaverc().c_str());
}

TEST_F(KdeProxyTest, AFileThatCannotBeReadIsNeverOverwritten) {
    ::unlink(kioslaverc().c_str());
    ASSERT_EQ(::mkdir(kioslaverc().c_str(), 0700), 0);
    ProxySettings settings;
    EXPECT_FALSE(settings.read(ProxySettings::kSystemKey));
    settings.proxyEnable = true;
    settings.setLocalProxy("127.0.0.1:2861");
    EXPECT_FALSE(settings.apply());
    ::rmdir(kioslaverc().c_str());
}

struct Signals {
    int count = 0;
    std::string argument;
    std::string path;
};

void onSignal(GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar*,
              GVariant* parameters, gpointer data) {
    auto* seen = static_cast<Signals*>(data);
    ++seen->count;
    seen->path = path;
    if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
        const gchar* text = nullptr;
        g_variant_get(parameters, "(&s)", &text);
        seen->argument = text;
    }
}

gboolean onTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

TEST_F(KdeProxyTest, RunningProgramsAreToldOnTheSessionBus) {
    ASSERT_TRUE(bus.ok()) << "dbus-daemon did not start";
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GError* error = nullptr;
    GDBusConnection* listener = g_dbus_connection_new_for_address_sync(
        bus.address().c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    ASSERT_NE(listener, nullptr) << (error ? error->message : "");
    Signals seen;
    const guint subscription = g_dbus_connection_signal_subscribe(
        listener, nullptr, "org.kde.KIO.Scheduler", "reparseSlaveConfiguration", nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, onSignal, &seen, nullptr);
    // A round trip after the subscription: the bus has the match rule once
    // the answer is back.
    GVariant* id = g_dbus_connection_call_sync(
        listener, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
        nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (id)
        g_variant_unref(id);

    store("[Proxy Settings]\nProxyType=0\n");
    ProxySettings settings;
    ASSERT_TRUE(settings.read(ProxySettings::kSystemKey));
    ProxySettings redirected = settings;
    redirected.setLocalProxy("127.0.0.1:2861");
    redirected.proxyEnable = true;
    ASSERT_TRUE(redirected.apply());

    bool late = false;
    GSource* timeout = g_timeout_source_new(10000);
    g_source_set_callback(timeout, onTimeout, &late, nullptr);
    g_source_attach(timeout, context);
    while (seen.count == 0 && !late)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.path, "/KIO/Scheduler");
    EXPECT_EQ(seen.argument, "");

    g_dbus_connection_signal_unsubscribe(listener, subscription);
    g_object_unref(listener);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
}

} // namespace
