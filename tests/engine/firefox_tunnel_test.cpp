// A browser that follows the desktop's proxy settings loads an HTTPS page
// while we capture: its CONNECT reaches our listener and must be carried.
#include "ProxyTestKit.h"

#include "../sysproxy/PrivateSettingsHome.h"
#include "support/TlsOrigin.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Before any test, so that GIO picks the private keyfile backend.
PrivateSettingsHome settingsHome;

// Runs a program to its end (killed after `seconds`); its exit status.
int run(std::vector<std::string> arguments, int seconds) {
    arguments.insert(arguments.begin(), {"timeout", "-k", "5", std::to_string(seconds)});
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int error = posix_spawnp(&pid, "timeout", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A profile that follows the system settings, proxies loopback, trusts the
// test's authority, and keeps to itself.
std::string makeProfile(const std::string& home, const std::string& caFile) {
    const std::string profile = home + "/firefox-profile";
    ::mkdir(profile.c_str(), 0700);
    std::ofstream prefs(profile + "/user.js");
    prefs << "user_pref(\"network.proxy.type\", 5);\n"
             "user_pref(\"network.proxy.allow_hijacking_localhost\", true);\n"
             "user_pref(\"services.settings.server\", \"http://127.0.0.1:9/\");\n";
    for (const char* off :
         {"app.update.enabled", "toolkit.telemetry.enabled",
          "datareporting.policy.dataSubmissionEnabled", "browser.safebrowsing.malware.enabled",
          "browser.safebrowsing.phishing.enabled", "network.captive-portal-service.enabled",
          "network.connectivity-service.enabled", "extensions.update.enabled",
          "browser.search.update"})
        prefs << "user_pref(\"" << off << "\", false);\n";
    prefs.close();
    const std::string database = "sql:" + profile;
    EXPECT_EQ(run({"certutil", "-N", "--empty-password", "-d", database}, 30), 0);
    EXPECT_EQ(
        run({"certutil", "-A", "-n", "tidewell-test", "-t", "C,,", "-i", caFile, "-d", database},
            30),
        0);
    return profile;
}

bool targetsLoopback(const std::string& requestLine) {
    const std::string target = requestLine.substr(requestLine.find(' ') + 1);
    for (const char* prefix : {"127.0.0.1:", "http://127.0.0.1:", "https://127.0.0.1:"})
        if (target.rfind(prefix, 0) == 0)
            return true;
    return false;
}

} // namespace

TEST(FirefoxTunnelTest, LoadsAnHttpsPageThroughTheRedirectedSettings) {
    // The desktop proxies nothing, and loopback is not exempt, so the page
    // can only be reached through us once we point the settings at us.
    ProxySettings before;
    before.proxyEnable = false;
    before.proxyMode = "none";
    before.parseProxyServer();
    ASSERT_TRUE(before.apply());

    TlsOrigin origin("<html><body>secure</body></html>");
    const char* home = std::getenv("HOME");
    ASSERT_TRUE(home);
    const std::string profile = makeProfile(home, origin.caFile());

    SeeingFilter filter;
    HttpProxy proxy;
    proxy.configuredPort = 0;
    ASSERT_TRUE(proxy.start(&filter));
    const int status = run({"firefox-esr", "--headless", "--no-remote", "--profile", profile,
                            "--screenshot", profile + "/page.png", origin.url("/")},
                           120);
    proxy.stop();
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(origin.requests().empty());
    EXPECT_EQ(origin.requests().front(), "GET /");
    const auto seen = filter.seenRequests();
    EXPECT_NE(
        std::find(seen.begin(), seen.end(), "CONNECT 127.0.0.1:" + std::to_string(origin.port())),
        seen.end());
    // Firefox's own background requests may be seen, answered by us as
    // failed (there is no name service here): nothing left the machine.
    for (const std::string& line : filter.relayedRequests())
        EXPECT_TRUE(targetsLoopback(line)) << line;

    ProxySettings after;
    ASSERT_TRUE(after.read(ProxySettings::kSystemKey));
    EXPECT_FALSE(after.proxyEnable);
    EXPECT_EQ(after.proxyOverride, "");
}
