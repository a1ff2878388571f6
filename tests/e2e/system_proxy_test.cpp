// The capture command against the desktop's real proxy settings, GNOME's and
// KDE's: browsers that follow them are captured, and the settings come back
// exactly however the command ends (kill -9 included), without two running
// programs fighting over them.
#include "e2e/DesktopSession.h"
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "support/ScopedLanguage.h"
#include "support/StoredCaptures.h"
#include "support/TlsOrigin.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kCapture = TIDEWELL_BINARY_DIR "/cli/tidewell-capture";
const std::string kDesktopProgram = TIDEWELL_BINARY_DIR "/ui/tidewell";
const std::string kArtifacts = TIDEWELL_BINARY_DIR "/e2e";

// None: a desktop without proxy settings of its own (nor GNOME's schema).
enum class Desktop { Gnome, Kde, None };

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// One private desktop session: its home, its proxy settings, and capture
// commands run in it.
class Session {
public:
    Session(const fs::path& root, Desktop desktop) : root_(root), desktop_(desktop) {
        for (const char* dir : {"home/.config", "data", "cache", "runtime", "chromium"})
            fs::create_directories(root / dir);
        fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        env["PATH"] = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        env["LANG"] = "C.UTF-8";
        // The capture command's lines are read as the README quotes them.
        env["LANGUAGE"] = "en";
        env["HOME"] = (root / "home").string();
        // Where KDE and Chromium both look.
        env["XDG_CONFIG_HOME"] = (root / "home/.config").string();
        env["XDG_DATA_HOME"] = (root / "data").string();
        env["XDG_CACHE_HOME"] = (root / "cache").string();
        env["XDG_RUNTIME_DIR"] = (root / "runtime").string();
        env["GSETTINGS_BACKEND"] = "keyfile";
        env["TIDEWELL_UPDATE_SERVER"] = "";
        env["XDG_CURRENT_DESKTOP"] = desktop == Desktop::Gnome ? "GNOME"
                                     : desktop == Desktop::Kde ? "KDE"
                                                               : "XFCE";
        if (desktop == Desktop::Kde)
            env["KDE_SESSION_VERSION"] = "5";
        if (desktop == Desktop::None)
            env["XDG_DATA_DIRS"] = (root / "data").string();
    }

    const char* name() const {
        return desktop_ == Desktop::Gnome ? "GNOME" : desktop_ == Desktop::Kde ? "KDE" : "none";
    }

    std::string gsettings(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"gsettings"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        bool ok = false;
        std::string out = runProgram(argv, env, &ok);
        EXPECT_TRUE(ok) << "gsettings " << arguments.front();
        return out;
    }

    // The user's own settings, with the bypass list a test wants.
    void setUserSettings(const std::string& bypass) {
        if (desktop_ == Desktop::Gnome) {
            gsettings({"set", "org.gnome.system.proxy", "mode", "none"});
            gsettings({"set", "org.gnome.system.proxy", "ignore-hosts", "['" + bypass + "']"});
            gsettings({"set", "org.gnome.system.proxy.http", "host", "old-proxy.lan"});
            gsettings({"set", "org.gnome.system.proxy.http", "port", "3128"});
            gsettings({"set", "org.gnome.system.proxy.socks", "host", "socks.lan"});
        } else {
            std::ofstream(kioslaverc(), std::ios::binary)
                << "[Notification Messages]\nWarnOnLeaveSSLMode=false\n\n"
                   "[Proxy Settings]\nProxyType=0\nhttpProxy=http://old-proxy.lan:3128\n"
                   "NoProxyFor="
                << bypass << "\n\n[$Version]\nupdate_info=kioslave.upd:kioslave_5\n";
        }
    }

    // Everything of the desktop's proxy settings, to compare whole.
    std::string settings() {
        if (desktop_ == Desktop::Gnome)
            return gsettings({"list-recursively", "org.gnome.system.proxy"});
        return fs::exists(kioslaverc()) ? slurp(kioslaverc()) : "(no file)";
    }
    fs::path kioslaverc() const { return root_ / "home/.config/kioslaverc"; }

    std::uint32_t crashFlag() const {
        std::uint32_t flag = 0xFFFF;
        SettingsFile((root_ / "home/.config/Merovex/Tidewell.conf").string())
            .readDword(ProxySettings::kBackupKey, "", flag);
        return flag;
    }

    // Starts the capture command and waits until it captures; its start line
    // (standard output, sent to the standard error pipe) in `line`.
    // `dataHome` other than the session's lets a second capture run beside
    // the first: a cache folder takes one capture at a time.
    std::unique_ptr<ChildProcess> capture(std::string& line, const std::string& expectFirst = {},
                                          const std::string& dataHome = {}) {
        Environment own = env;
        if (!dataHome.empty())
            own["XDG_DATA_HOME"] = (root_ / dataHome).string();
        auto program = std::make_unique<ChildProcess>(
            std::vector<std::string>{"sh", "-c", "exec \"$0\" \"$@\" 1>&2", kCapture, "--port",
                                     "0"},
            own, kArtifacts + "/capture-" + name() + ".log", true);
        if (!expectFirst.empty()) {
            EXPECT_FALSE(program->waitForLine(expectFirst, 30s).empty())
                << "no line " << expectFirst;
        }
        line = program->waitForLine("Capturing through", 30s);
        EXPECT_FALSE(line.empty()) << "the capture command did not start";
        return program;
    }

    Environment env;

private:
    fs::path root_;
    Desktop desktop_;
};

class DesktopSettingsTest : public ::testing::Test {
protected:
    // The programs run in English (their sessions say so); the texts looked up here match.
    ScopedLanguage english{Language::English};

    void SetUp() override {
        if (findProgram("gsettings").empty())
            GTEST_SKIP() << "gsettings is not installed";
        ASSERT_EQ(::access(kCapture.c_str(), X_OK), 0) << kCapture;
        char pattern[] = "/tmp/tidewell-sysproxy.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(kArtifacts);
    }
    void TearDown() override {
        if (!root.empty())
            fs::remove_all(root);
    }

    fs::path root;
};

TEST_F(DesktopSettingsTest, KillNineOfTheCaptureCommandGivesTheSettingsBackAtOnce) {
    for (Desktop desktop : {Desktop::Gnome, Desktop::Kde}) {
        Session session(root / (desktop == Desktop::Gnome ? "gnome" : "kde"), desktop);
        SCOPED_TRACE(session.name());
        session.setUserSettings("localhost");
        const std::string user = session.settings();

        std::string line;
        auto program = session.capture(line);
        EXPECT_NE(
            line.find(std::string("(system proxy redirected: ") + session.name() + " settings)"),
            std::string::npos)
            << line;
        const std::string redirected = session.settings();
        EXPECT_NE(redirected, user);
        EXPECT_EQ(session.crashFlag(), 1u);
        const pid_t guardian = guardianOf(program->pid());
        ASSERT_GT(guardian, 0) << "no guardian runs";

        const auto killed = Clock::now();
        program->signal(SIGKILL);
        EXPECT_TRUE(waitForEnd(guardian, 2s)) << "the guardian did not finish within 2 s";
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed);
        EXPECT_EQ(session.settings(), user);
        EXPECT_EQ(session.crashFlag(), 0u);
        std::printf("%s: settings back %lld ms after kill -9\n", session.name(),
                    static_cast<long long>(took.count()));
        RecordProperty(std::string(session.name()) + "_restore_ms", int(took.count()));
    }
}

// A second capture command takes the settings over; the first one's end,
// even by kill -9, does not take them from it, and the second gives the
// user's own back, not the first one's listener.
TEST_F(DesktopSettingsTest, TwoCapturesDoNotFightOverTheSettings) {
    Session session(root, Desktop::Gnome);
    session.setUserSettings("localhost");
    const std::string user = session.settings();

    std::string firstLine, secondLine;
    auto first = session.capture(firstLine);
    const std::string firstSettings = session.settings();
    auto second = session.capture(secondLine, {}, "second-data");
    const std::string secondSettings = session.settings();
    ASSERT_NE(secondSettings, firstSettings);

    const pid_t firstGuardian = guardianOf(first->pid());
    ASSERT_GT(firstGuardian, 0);
    first->signal(SIGKILL);
    ASSERT_TRUE(waitForEnd(firstGuardian, 10s));
    EXPECT_EQ(session.settings(), secondSettings);

    const pid_t secondGuardian = guardianOf(second->pid());
    second->signal(SIGINT);
    ASSERT_TRUE(second->wait(30s));
    EXPECT_EQ(second->exitCode(), 0);
    // Its guardian ends with it and finds nothing to do.
    ASSERT_TRUE(waitForEnd(secondGuardian, 10s));
    EXPECT_EQ(session.settings(), user);
    EXPECT_EQ(session.crashFlag(), 0u);
}

// A second start on the same cache folder is refused, and must leave the
// running capture's crash flag and redirect as they were: a later
// crash of the first still finds what it needs.
TEST_F(DesktopSettingsTest, ARefusedSecondStartLeavesTheRunningCaptureAlone) {
    Session session(root, Desktop::Gnome);
    session.setUserSettings("localhost");
    const std::string user = session.settings();

    std::string line;
    auto first = session.capture(line);
    const std::string redirected = session.settings();
    ASSERT_EQ(session.crashFlag(), 1u);

    bool ok = true;
    runProgram({kCapture, "--port", "0"}, session.env, &ok);
    EXPECT_FALSE(ok) << "a second capture on the same cache folder started";
    EXPECT_EQ(session.crashFlag(), 1u);
    EXPECT_EQ(session.settings(), redirected);

    first->signal(SIGINT);
    ASSERT_TRUE(first->wait(30s));
    EXPECT_EQ(session.settings(), user);
    EXPECT_EQ(session.crashFlag(), 0u);
}

// The desktop program started while the capture command runs finds the
// crash flag set by a live run, not by a crash: it neither offers to give the
// settings back (which would end that capture's redirect) nor clears the
// flag when it gives way.
TEST_F(DesktopSettingsTest, TheDesktopProgramLeavesALiveCaptureItsSettings) {
    ASSERT_EQ(::access(kDesktopProgram.c_str(), X_OK), 0) << kDesktopProgram;
    Session session(root, Desktop::Gnome);
    session.setUserSettings("localhost");
    const std::string user = session.settings();

    std::string line;
    auto capture = session.capture(line);
    const std::string redirected = session.settings();

    Environment env = session.env;
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["TIDEWELL_AUTO_ANSWER"] = "yes";
    // It cannot take the cache folder the capture writes, says so and ends with status 1.
    bool ok = true;
    const std::string said = runProgram({kDesktopProgram}, env, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(said.find(loadString(IDS_RESTORE_PROXY)), std::string::npos) << said;
    EXPECT_EQ(session.settings(), redirected);
    EXPECT_EQ(session.crashFlag(), 1u);

    capture->signal(SIGINT);
    ASSERT_TRUE(capture->wait(30s));
    EXPECT_EQ(session.settings(), user);
    EXPECT_EQ(session.crashFlag(), 0u);
}

// Closing the terminal the command runs in (SIGHUP) ends it like Ctrl+C:
// what it captured is kept, and it gives the settings back itself.
TEST_F(DesktopSettingsTest, ClosingTheTerminalKeepsTheCaptures) {
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("small"), false));
    Session session(root, Desktop::Gnome);
    session.setUserSettings("localhost");
    const std::string user = session.settings();

    std::string line;
    auto program = session.capture(line);
    const std::size_t at = line.find("http://127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << line;
    const std::string proxy = line.substr(at, line.find('/', at + 7) - at);
    bool ok = false;
    EXPECT_EQ(runProgram({"curl", "-s", "-x", proxy, origin.url("/kept")}, session.env, &ok),
              "small");
    ASSERT_TRUE(ok);

    program->signal(SIGHUP);
    ASSERT_TRUE(program->wait(30s));
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_EQ(session.settings(), user);
    EXPECT_EQ(session.crashFlag(), 0u);
    const std::string har = (root / "kept.har").string();
    EXPECT_NE(runProgram({kCapture, "--har", har}, session.env).find("Wrote 1 exchanges"),
              std::string::npos);
}

// The same for the desktop program started from a terminal.
TEST_F(DesktopSettingsTest, TheDesktopProgramEndsCleanlyWhenItsTerminalCloses) {
    ASSERT_EQ(::access(kDesktopProgram.c_str(), X_OK), 0) << kDesktopProgram;
    Session session(root, Desktop::Gnome);
    Environment env = session.env;
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["TIDEWELL_TEST_TRACE"] = "1";
    ChildProcess program({kDesktopProgram}, env, kArtifacts + "/desktop-sighup.log", true);
    ASSERT_FALSE(program.waitForLine("tidewell-ready", 30s).empty());
    program.signal(SIGHUP);
    EXPECT_FALSE(program.waitForLine("tidewell-terminating", 30s).empty());
    ASSERT_TRUE(program.wait(30s));
    EXPECT_EQ(program.exitCode(), 0);
}

// A crash that not even the guardian survived leaves the settings on a dead
// listener; the next capture command gives the user's back at its start and
// never backs the dead listener up as theirs.
TEST_F(DesktopSettingsTest, SettingsLeftOnADeadListenerAreGivenBack) {
    Session session(root, Desktop::Kde);
    session.setUserSettings("localhost");
    const std::string user = session.settings();

    std::string line;
    {
        auto crashed = session.capture(line);
        const pid_t guardian = guardianOf(crashed->pid());
        ASSERT_GT(guardian, 0);
        ::kill(guardian, SIGKILL);
        ASSERT_TRUE(waitForEnd(guardian, 10s));
        crashed->signal(SIGKILL);
        ASSERT_TRUE(crashed->wait(10s));
    }
    const std::string left = session.settings();
    ASSERT_NE(left, user);
    EXPECT_EQ(session.crashFlag(), 1u);

    auto next = session.capture(line, "tidewell-capture: gave back the proxy settings");
    next->signal(SIGINT);
    ASSERT_TRUE(next->wait(30s));
    EXPECT_EQ(next->exitCode(), 0);
    EXPECT_EQ(session.settings(), user);
    EXPECT_EQ(session.crashFlag(), 0u);
}

// Headless Chromium told only the desktop (GNOME settings, or kioslaverc
// under KDE) loads a loopback page through the capture command, and with it
// an https frame through a tunnel; both are captured, and nothing captured
// goes anywhere but loopback.
TEST_F(DesktopSettingsTest, ChromiumFollowingTheDesktopIsCaptured) {
    const std::string chromium = findProgram("chromium");
    if (chromium.empty())
        GTEST_SKIP() << "chromium is not installed";
    TlsOrigin secure("<p>secure frame</p>");
    const std::string secureAuthority = "127.0.0.1:" + std::to_string(secure.port());
    OriginServer origin(OriginServer::reply(
        OriginServer::okResponse("<html><body><p>through the desktop settings</p><iframe src=\"" +
                                     secure.url("/") + "\"></iframe></body></html>",
                                 "Content-Type: text/html\r\n")));
    for (Desktop desktop : {Desktop::Gnome, Desktop::Kde}) {
        Session session(root / (desktop == Desktop::Gnome ? "gnome" : "kde"), desktop);
        SCOPED_TRACE(session.name());
        // Loopback pages go through the proxy only when the user's list
        // says so.
        session.setUserSettings("<-loopback>");
        const std::string user = session.settings();
        const std::size_t before = origin.requests().size();

        std::string line;
        auto program = session.capture(line);
        const std::size_t secureBefore = secure.requests().size();
        std::vector<std::string> argv = quietChromiumArguments(chromium);
        // The test's own origin certificate; loopback only.
        argv.insert(argv.end(), {"--ignore-certificate-errors",
                                 "--user-data-dir=" + (root / session.name()).string(),
                                 "--dump-dom", origin.url("/page.html")});
        bool ok = false;
        const std::string dom = runProgram(argv, session.env, &ok, 60s);
        EXPECT_TRUE(ok);
        EXPECT_NE(dom.find("through the desktop settings"), std::string::npos) << dom;
        ASSERT_GT(origin.requests().size(), before);
        const std::string head = origin.requests().back().head;
        EXPECT_NE(head.find("/page.html"), std::string::npos) << head;
        // The frame's request arrived decrypted at its origin: the tunnel
        // carried the whole TLS exchange.
        EXPECT_GT(secure.requests().size(), secureBefore);

        program->signal(SIGINT);
        ASSERT_TRUE(program->wait(30s));
        EXPECT_EQ(session.settings(), user);

        // The cache files the command kept.
        CacheFolder folder;
        folder.cacheFolder =
            (root / (desktop == Desktop::Gnome ? "gnome" : "kde") / "data/Merovex/Tidewell/Cache/")
                .string();
        int pages = 0, tunnels = 0, files = 0;
        for (const auto& resource : storedCaptures(folder)) {
            ++files;
            EXPECT_TRUE(resource->url.authority == origin.authority() ||
                        resource->url.authority == secureAuthority)
                << resource->url.authority << resource->url.path;
            pages += resource->url.path == "/page.html";
            tunnels += resource->url.authority == secureAuthority;
        }
        EXPECT_EQ(pages, 1) << files << " files";
        EXPECT_GE(tunnels, 1) << files << " files";
    }
}

// Where the desktop keeps no proxy settings, the command changes nothing
// outside itself and says so instead of claiming a redirect.
TEST_F(DesktopSettingsTest, WithoutDesktopSettingsTheCommandSaysWhatToDo) {
    Session session(root, Desktop::None);
    std::string line;
    auto program = session.capture(line);
    EXPECT_EQ(line.find("redirected"), std::string::npos) << line;
    EXPECT_FALSE(program->waitForLine("This desktop has no proxy settings", 10s).empty());
    program->signal(SIGINT);
    ASSERT_TRUE(program->wait(30s));
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_FALSE(fs::exists(root / "home/.config/glib-2.0"));
    EXPECT_FALSE(fs::exists(session.kioslaverc()));
}

} // namespace
