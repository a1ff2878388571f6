#include "resources/StringTable.h"
#include "sysproxy/SettingsFile.h"
#include "tls/BrowserLauncher.h"
#include "tls/CertificateAuthority.h"
#include "tls/Subprocess.h"
#include "tls/TrustStore.h"

#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string certutil(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"certutil"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(runProgram(command, output), 0) << output;
    return output;
}

void makeDatabase(const std::string& folder) {
    std::filesystem::create_directories(folder);
    certutil({"-N", "--empty-password", "-d", "sql:" + folder});
}

std::string listing(const std::string& folder) {
    return certutil({"-L", "-d", "sql:" + folder});
}

// The trust flags the database shows for `nickname`, empty when it has none.
std::string trustOf(const std::string& folder, const std::string& nickname) {
    std::istringstream lines(listing(folder));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(nickname, 0) != 0)
            continue;
        const std::size_t end = line.find_last_not_of(' ');
        const std::size_t start = line.find_last_of(' ', end);
        return line.substr(start + 1, end - start);
    }
    return {};
}

class TrustStores : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.create("tester@test"));
        writeText(pem, root.certificatePem());
        nickname = TrustStore::nickname(root);
    }

    TempFolder home;
    SettingsFile journal{home.path() + "/Tidewell.conf"};
    TrustStore store{journal, home.path()};
    CertificateAuthority root;
    std::string pem = home.path() + "/root.pem";
    std::string nickname;
};

// Every file below `folder` with its bytes.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> out;
    if (std::filesystem::exists(folder))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            out[entry.path().string()] = entry.is_regular_file() ? readText(entry.path()) : "";
    return out;
}

TEST_F(TrustStores, InstallsWhereBrowsersLookAndRemovalRestoresEveryDatabase) {
    const std::string chromium = home.path() + "/.pki/nssdb";
    const std::string firefox = home.path() + "/.mozilla/firefox/abc.default";
    const std::string unstarted = home.path() + "/.mozilla/firefox/new/work";
    const std::string snap = home.path() + "/snap/firefox/common/.mozilla/firefox/snap.default";
    makeDatabase(chromium);
    makeDatabase(firefox);
    makeDatabase(snap);
    std::filesystem::create_directories(unstarted);
    // Somebody else's root already in Chromium's database stays as it is.
    CertificateAuthority other;
    ASSERT_TRUE(other.create("other@test"));
    writeText(home.path() + "/other.pem", other.certificatePem());
    certutil({"-A", "-n", "Other CA", "-t", "CT,C,C", "-i", home.path() + "/other.pem", "-d",
              "sql:" + chromium});
    // Paths that lead out of the Firefox folder are never written.
    const std::string victim = home.path() + "/victim";
    std::filesystem::create_directories(victim);
    writeText(home.path() + "/.mozilla/firefox/profiles.ini",
              "[General]\nStartWithLastProfile=1\n\n"
              "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\nDefault=1\n\n"
              "[Profile1]\r\nName=work\r\nIsRelative=1\r\nPath=./new/../new/work/\r\n\r\n"
              "[Profile2]\nName=gone\nIsRelative=1\nPath=gone.default\n\n"
              "[Profile3]\nName=escape\nIsRelative=1\nPath=../../victim\n\n"
              "[Profile4]\nName=elsewhere\nIsRelative=0\nPath=" +
                  victim +
                  "\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=abc.default\n");
    writeText(home.path() + "/snap/firefox/common/.mozilla/firefox/profiles.ini",
              "[Profile0]\nName=snap\nPath=snap.default\n");

    std::vector<std::string> notes;
    const std::vector<NssDatabase> found = store.databases(&notes);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].folder, chromium);
    EXPECT_EQ(found[0].browser, "Chromium");
    EXPECT_EQ(found[1].folder, firefox);
    EXPECT_EQ(found[1].profile, "default");
    EXPECT_EQ(found[2].folder, unstarted);
    EXPECT_FALSE(found[2].exists);
    EXPECT_EQ(found[3].folder, snap);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("../../victim"), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find(victim), std::string::npos) << notes[1];

    const std::string before[] = {listing(chromium), listing(firefox), listing(snap)};
    const auto unstartedBefore = snapshot(unstarted);
    std::vector<std::string> report;
    ASSERT_TRUE(store.install(root, pem, store.planInstall(root), report));
    EXPECT_EQ(report.size(), 4u);
    for (const std::string& folder : {chromium, firefox, unstarted, snap})
        EXPECT_EQ(trustOf(folder, nickname), "C,,") << folder;
    EXPECT_EQ(store.installed().size(), 4u);
    EXPECT_TRUE(store.planInstall(root).empty());
    EXPECT_TRUE(std::filesystem::is_empty(victim));

    report.clear();
    ASSERT_TRUE(store.remove(report));
    EXPECT_EQ(report.size(), 4u);
    EXPECT_EQ(listing(chromium), before[0]);
    EXPECT_EQ(listing(firefox), before[1]);
    EXPECT_EQ(listing(snap), before[2]);
    // The database made for the profile is gone again.
    EXPECT_TRUE(snapshot(unstarted) == unstartedBefore);
    EXPECT_TRUE(store.installed().empty());
    EXPECT_FALSE(journal.keyExists(TrustStore::kJournalKey));
    EXPECT_FALSE(journal.keyExists(TrustStore::kCreatedKey));
    EXPECT_TRUE(std::filesystem::is_empty(victim));
}

// A database that already holds the root under a name of the user's is left
// exactly as it is, by install and by remove; a database install had to make
// goes again with the folders made for it.
TEST_F(TrustStores, TrustItDidNotAddIsNeverChanged) {
    if (BrowserLauncher::executable(BrowserLauncher::Browser::Chromium).empty())
        GTEST_SKIP() << "a Chromium database is made only when Chromium is installed";
    const std::string firefox = home.path() + "/.mozilla/firefox/p.default";
    makeDatabase(firefox);
    writeText(home.path() + "/.mozilla/firefox/profiles.ini", "[Profile0]\nPath=p.default\n");
    certutil({"-A", "-n", "My own name", "-t", ",,", "-i", pem, "-d", "sql:" + firefox});
    const std::string firefoxBefore = listing(firefox);

    std::vector<std::string> notes;
    const std::vector<NssDatabase> plan = store.planInstall(root, &notes);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].folder, home.path() + "/.pki/nssdb");
    EXPECT_FALSE(plan[0].exists);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find(firefox), std::string::npos) << notes[0];
    EXPECT_NE(notes[0].find("My own name"), std::string::npos) << notes[0];

    // Even a plan that names it (made before the user added the root by
    // hand) changes nothing there.
    std::vector<NssDatabase> stale = plan;
    stale.push_back({"Firefox", "p", firefox, true});
    std::vector<std::string> report;
    EXPECT_TRUE(store.install(root, pem, stale, report));
    EXPECT_EQ(listing(firefox), firefoxBefore);
    EXPECT_EQ(trustOf(firefox, "My own name"), ",,");
    ASSERT_EQ(store.installed().size(), 1u);
    EXPECT_EQ(trustOf(home.path() + "/.pki/nssdb", nickname), "C,,");

    report.clear();
    ASSERT_TRUE(store.remove(report));
    EXPECT_EQ(listing(firefox), firefoxBefore);
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/.pki"));
    EXPECT_TRUE(store.installed().empty());
}

// What a user added to a database install made is not deleted with it.
TEST_F(TrustStores, AMadeDatabaseThatWasUsedSinceIsKept) {
    if (BrowserLauncher::executable(BrowserLauncher::Browser::Chromium).empty())
        GTEST_SKIP() << "a Chromium database is made only when Chromium is installed";
    std::vector<std::string> report;
    ASSERT_TRUE(store.install(root, pem, store.planInstall(root), report));
    const std::string chromium = home.path() + "/.pki/nssdb";
    CertificateAuthority other;
    ASSERT_TRUE(other.create("other@test"));
    writeText(home.path() + "/other.pem", other.certificatePem());
    certutil({"-A", "-n", "Added later", "-t", "C,,", "-i", home.path() + "/other.pem", "-d",
              "sql:" + chromium});
    report.clear();
    ASSERT_TRUE(store.remove(report));
    EXPECT_EQ(trustOf(chromium, nickname), "");
    EXPECT_EQ(trustOf(chromium, "Added later"), "C,,");
    EXPECT_TRUE(store.installed().empty());
}

TEST_F(TrustStores, LeavesWhatItDidNotAddAndForgetsDatabasesThatWent) {
    // Newer Chromium's place, with our root added by hand beforehand.
    const std::string chromium = home.path() + "/.local/share/pki/nssdb";
    makeDatabase(chromium);
    certutil({"-A", "-n", nickname, "-t", "C,,", "-i", pem, "-d", "sql:" + chromium});
    const std::string firefox = home.path() + "/.mozilla/firefox/p.default";
    makeDatabase(firefox);
    writeText(home.path() + "/.mozilla/firefox/profiles.ini", "[Profile0]\nPath=p.default\n");

    const std::vector<NssDatabase> plan = store.planInstall(root);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].folder, firefox);
    std::vector<std::string> report;
    ASSERT_TRUE(store.install(root, pem, plan, report));

    std::filesystem::remove_all(firefox); // the profile was deleted meanwhile
    report.clear();
    EXPECT_TRUE(store.remove(report));
    EXPECT_TRUE(store.installed().empty());
    EXPECT_EQ(trustOf(chromium, nickname), "C,,");
}

TEST_F(TrustStores, ChromiumDatabaseIsPlannedOnlyWhenChromiumIsInstalled) {
    const std::vector<NssDatabase> found = store.databases();
    const bool installed = !BrowserLauncher::executable(BrowserLauncher::Browser::Chromium).empty();
    ASSERT_EQ(found.size(), installed ? 1u : 0u);
    if (installed) {
        EXPECT_EQ(found[0].folder, home.path() + "/.pki/nssdb");
        EXPECT_FALSE(found[0].exists);
    }
}

// Stand-in browsers that write down how they were started, what their
// profile and their home hold, then exit with $STAND_IN_EXIT.
class Launches : public TrustStores {
protected:
    void SetUp() override {
        TrustStores::SetUp();
        const std::string out = home.path() + "/seen";
        const std::string script =
            "#!/bin/sh\n"
            "out=" +
            out +
            "\n"
            "printf '%s\\n' \"$@\" > \"$out.args\"\n"
            "for a; do case $prev in --profile) p=$a;; esac; prev=$a; "
            "case $a in --user-data-dir=*) p=${a#*=};; esac; done\n"
            "echo \"$p\" > \"$out.profile\"\n"
            "env > \"$out.env\"\n"
            "[ -f \"$p/user.js\" ] && cp \"$p/user.js\" \"$out.prefs\"\n"
            "[ -f \"$p/Default/Preferences\" ] && cp \"$p/Default/Preferences\" \"$out.prefs\"\n"
            "db=$p; [ -f \"$HOME/.pki/nssdb/cert9.db\" ] && db=$HOME/.pki/nssdb\n"
            "[ -f \"$db/cert9.db\" ] && certutil -L -d sql:\"$db\" > \"$out.certs\"\n"
            "exit ${STAND_IN_EXIT:-0}\n";
        for (const char* name : {"chromium", "firefox"}) {
            writeText(bin.path() + "/" + name, script);
            ::chmod((bin.path() + "/" + name).c_str(), 0755);
        }
    }

    BrowserLauncher::Launched launch(BrowserLauncher::Browser browser) {
        BrowserLauncher::Launched launched;
        EXPECT_TRUE(BrowserLauncher::launch(browser, "127.0.0.1", 2861, root, pem, {"--extra"},
                                            "https://example.test/", false, launched));
        int status = 0;
        EXPECT_EQ(::waitpid(launched.watcher, &status, 0), launched.watcher);
        return launched;
    }
    // The value the stand-in saw for `name`.
    std::string seenVariable(const std::string& name) {
        std::istringstream lines(readText(home.path() + "/seen.env"));
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind(name + "=", 0) == 0)
                return line.substr(name.size() + 1);
        return {};
    }

    TempFolder bin;
    ScopedEnv homeEnv{"HOME", home.path().c_str()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", nullptr};
    ScopedEnv dataEnv{"XDG_DATA_HOME", nullptr};
    ScopedEnv xauthority{"XAUTHORITY", nullptr};
    ScopedEnv path{"PATH", (bin.path() + ":" + std::getenv("PATH")).c_str()};
};

TEST_F(Launches, ChromiumTrustsTheRootInAHomeOfItsOwn) {
    writeText(home.path() + "/.config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched \\\"x\\\"\"\n");
    const auto launched = launch(BrowserLauncher::Browser::Chromium);
    const std::string args = readText(home.path() + "/seen.args");
    for (const std::string& expected : {"--user-data-dir=" + launched.folder + "/profile\n",
                                        std::string("--proxy-server=http://127.0.0.1:2861\n"),
                                        std::string("--extra\nhttps://example.test/\n")})
        EXPECT_NE(args.find(expected), std::string::npos) << expected << " in\n" << args;
    // Nothing that would take any chain holding our root's key.
    EXPECT_EQ(args.find("--ignore-certificate-errors"), std::string::npos) << args;

    // Its own certificate database trusts the root; the user's folders are
    // still the user's.
    EXPECT_EQ(seenVariable("HOME"), launched.folder + "/home");
    const std::string certs = readText(home.path() + "/seen.certs");
    EXPECT_NE(certs.find(nickname), std::string::npos) << certs;
    EXPECT_NE(certs.find("C,,"), std::string::npos) << certs;
    EXPECT_EQ(seenVariable("XDG_CONFIG_HOME"), home.path() + "/.config");
    EXPECT_EQ(seenVariable("XDG_DATA_HOME"), home.path() + "/.local/share");
    EXPECT_EQ(seenVariable("XAUTHORITY"), home.path() + "/.Xauthority");
    // What it saves goes to the user's downloads, not into the folder it deletes.
    EXPECT_NE(readText(home.path() + "/seen.prefs")
                  .find("\"default_directory\":\"" + home.path() + "/Fetched \\\\\\\"x\\\\\\\"\""),
              std::string::npos)
        << readText(home.path() + "/seen.prefs");

    EXPECT_FALSE(std::filesystem::exists(launched.folder)); // gone with the browser
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/.pki"));
    EXPECT_TRUE(store.installed().empty());
}

TEST_F(Launches, FirefoxProfileTrustsTheRootAndPointsAtTheListener) {
    const auto launched = launch(BrowserLauncher::Browser::Firefox);
    const std::string args = readText(home.path() + "/seen.args");
    EXPECT_NE(
        args.find("--profile\n" + launched.folder + "/profile\n--extra\nhttps://example.test/\n"),
        std::string::npos)
        << args;
    const std::string prefs = readText(home.path() + "/seen.prefs");
    for (const char* expected : {"user_pref(\"network.proxy.type\", 1);",
                                 "user_pref(\"network.proxy.http\", \"127.0.0.1\");",
                                 "user_pref(\"network.proxy.ssl_port\", 2861);",
                                 "user_pref(\"network.proxy.allow_hijacking_localhost\", true);"})
        EXPECT_NE(prefs.find(expected), std::string::npos) << expected;
    const std::string certs = readText(home.path() + "/seen.certs");
    EXPECT_NE(certs.find(nickname), std::string::npos) << certs;
    EXPECT_NE(certs.find("C,,"), std::string::npos) << certs;
    EXPECT_EQ(seenVariable("HOME"), home.path());
    EXPECT_FALSE(std::filesystem::exists(launched.folder));
    // Nothing of the user's own was touched.
    EXPECT_TRUE(store.installed().empty());
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/.pki"));
}

TEST_F(Launches, ABrowserThatQuitsAtOnceIsAFailedStart) {
    struct Row {
        const char* exitCode;
        bool failed;
        unsigned text;
    } rows[] = {
        {"0", false, 0},
        {"1", true, IDS_BROWSER_EXITED},    // Chromium refusing root, say
        {"127", true, IDS_BROWSER_NOT_RUN}, // what a shell says of a missing program
    };
    for (const Row& row : rows) {
        ScopedEnv exitCode("STAND_IN_EXIT", row.exitCode);
        BrowserLauncher::Launched launched;
        ASSERT_TRUE(BrowserLauncher::launch(BrowserLauncher::Browser::Chromium, "127.0.0.1", 2861,
                                            root, pem, {}, {}, false, launched));
        int status = 0;
        ASSERT_TRUE(BrowserLauncher::endedAtStart(launched.watcher, status)) << row.exitCode;
        EXPECT_EQ(BrowserLauncher::failed(status), row.failed) << row.exitCode;
        if (!row.failed)
            continue;
        char expected[256];
        std::snprintf(expected, sizeof expected, loadString(row.text), "Chromium",
                      std::atoi(row.exitCode));
        EXPECT_EQ(BrowserLauncher::failureText(BrowserLauncher::Browser::Chromium, status)
                      .rfind(expected, 0),
                  0u)
            << BrowserLauncher::failureText(BrowserLauncher::Browser::Chromium, status);
    }
}

} // namespace
