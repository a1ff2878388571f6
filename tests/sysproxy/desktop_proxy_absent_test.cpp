// Where the desktop's proxy schema is not installed, capturing works against
// a key of our own settings file and nothing outside the program changes.
#include "PrivateSettingsHome.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

PrivateSettingsHome home(PrivateSettingsHome::Schemas::none);

TEST(DesktopProxyAbsentTest, TheSystemKeyIsAKeyOfOurFile) {
    EXPECT_FALSE(ProxySettings::usesDesktopSettings());

    // Nothing stored yet: the defaults, not a failure.
    ProxySettings user;
    ASSERT_TRUE(user.read(ProxySettings::kSystemKey));
    EXPECT_FALSE(user.proxyEnable);
    EXPECT_TRUE(user.proxyServer.empty());
    EXPECT_TRUE(user.singleServer);
    ASSERT_TRUE(user.write(ProxySettings::kBackupKey));

    ProxySettings redirected = user;
    redirected.setLocalProxy("127.0.0.1:2861");
    redirected.proxyEnable = true;
    ASSERT_TRUE(redirected.apply());

    SettingsFile file;
    EXPECT_EQ(file.path(), home.settingsFile());
    std::uint32_t enable = 0;
    std::string server;
    ASSERT_TRUE(file.readDword(ProxySettings::kSystemKey, "ProxyEnable", enable));
    ASSERT_TRUE(file.readString(ProxySettings::kSystemKey, "ProxyServer", server));
    EXPECT_EQ(enable, 1u);
    EXPECT_EQ(server, "http=127.0.0.1:2861;https=127.0.0.1:2861");

    ProxySettings current;
    ASSERT_TRUE(current.read(ProxySettings::kSystemKey));
    std::string upstream;
    EXPECT_TRUE(current.upstream("example.org:80", upstream));
    EXPECT_EQ(upstream, "127.0.0.1:2861");

    // Restored from the backup, as after a crash.
    ProxySettings backup;
    ASSERT_TRUE(backup.read(ProxySettings::kBackupKey));
    ASSERT_TRUE(backup.apply());
    ASSERT_TRUE(current.read(ProxySettings::kSystemKey));
    EXPECT_FALSE(current.proxyEnable);
    EXPECT_EQ(current.proxyServer, "");
    EXPECT_EQ(current.proxyMode, "none");

    EXPECT_NE(::access(home.desktopKeyfile().c_str(), F_OK), 0);
}

} // namespace
