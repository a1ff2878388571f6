// HTTPS capture with real browsers in a private GNOME session: after
// --install-ca, Firefox ESR and Chromium, told only the desktop's proxy
// settings, load an HTTPS page through the capture command, which decrypts
// and captures it; --remove-ca then leaves every certificate database as it
// was before. A browser started with --browser trusts the root in a
// database of its own, and only certificates the root really signed.
#include "e2e/DesktopSession.h"
#include "engine/HttpConnection.h"
#include "engine/HttpMessageHeader.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "support/StoredCaptures.h"
#include "support/TlsOrigin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kCapture = TIDEWELL_BINARY_DIR "/cli/tidewell-capture";
const std::string kArtifacts = TIDEWELL_BINARY_DIR "/e2e";

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool isLoopback(const std::string& authority) {
    for (const char* host : {"127.0.0.1:", "localhost:", "[::1]:"})
        if (authority.rfind(host, 0) == 0)
            return true;
    return false;
}

class HttpsBrowsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The test origin writes to browsers that may hang up first.
        std::signal(SIGPIPE, SIG_IGN);
        for (const char* tool : {"gsettings", "certutil", "firefox-esr", "chromium"})
            if (findProgram(tool).empty())
                GTEST_SKIP() << tool << " is not installed";
        ASSERT_EQ(::access(kCapture.c_str(), X_OK), 0) << kCapture;
        char pattern[] = "/tmp/tidewell-https.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(kArtifacts);
        for (const char* dir : {"home/.config", "data", "cache", "runtime", "chromium", "none"})
            fs::create_directories(root / dir);
        fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        env["PATH"] = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        env["LANG"] = "C.UTF-8";
        // The capture command's lines are read as the README quotes them.
        env["LANGUAGE"] = "en";
        env["HOME"] = (root / "home").string();
        env["XDG_CONFIG_HOME"] = (root / "home/.config").string();
        env["XDG_DATA_HOME"] = (root / "data").string();
        env["XDG_CACHE_HOME"] = (root / "cache").string();
        env["XDG_RUNTIME_DIR"] = (root / "runtime").string();
        env["GSETTINGS_BACKEND"] = "keyfile";
        env["XDG_CURRENT_DESKTOP"] = "GNOME";
        env["TIDEWELL_UPDATE_SERVER"] = "";
    }
    void TearDown() override {
        if (!root.empty())
            fs::remove_all(root);
    }

    std::string run(const std::vector<std::string>& argv, std::chrono::milliseconds patience = 30s,
                    bool* ok = nullptr) {
        bool done = false;
        std::string out = runProgram(argv, env, &done, patience);
        if (ok)
            *ok = done;
        else
            EXPECT_TRUE(done) << argv.front() << " " << argv.at(1);
        return out;
    }
    void makeDatabase(const fs::path& folder) {
        fs::create_directories(folder);
        run({"certutil", "-N", "--empty-password", "-d", "sql:" + folder.string()});
    }
    std::string listing(const fs::path& folder) {
        return run({"certutil", "-L", "-d", "sql:" + folder.string()});
    }

    // What the capture command kept: each exchange's URL and status code.
    std::vector<std::pair<std::string, int>> kept() {
        std::vector<std::pair<std::string, int>> out;
        CacheFolder folder;
        folder.cacheFolder = (root / "data/Merovex/Tidewell/Cache/").string();
        for (const auto& [id, image] : storedImages(folder.cacheFolder)) {
            HttpResource resource(&folder);
            EXPECT_TRUE(resource.loadLogged(nullptr, -1, image.data(), std::uint32_t(image.size())))
                << id;
            // Nothing left the machine: a browser's own background request
            // is at most a row the proxy answered itself, failed.
            HttpResponseHeader response;
            const std::int64_t head = resource.responseHeaderOffset;
            const std::int64_t body = resource.responseBodyOffset;
            const bool answeredByUs =
                resource.result != 0 && head > 0 && body - head >= 4 &&
                body <= std::int64_t(image.size()) &&
                parseResponseHeader(image.data() + head, std::int32_t(body - head - 2), response) &&
                isProxyPage(response);
            EXPECT_TRUE(isLoopback(resource.url.authority) || answeredByUs)
                << resource.url.toString();
            out.emplace_back(resource.url.toString(), resource.statusCode);
        }
        return out;
    }

    fs::path root;
    Environment env;
};

} // namespace

TEST_F(HttpsBrowsersTest, TrustInstalledIsUsedCapturedAndTakenBackExactly) {
    // The user's desktop proxies nothing; loopback pages may go through a proxy.
    run({"gsettings", "set", "org.gnome.system.proxy", "mode", "none"});
    run({"gsettings", "set", "org.gnome.system.proxy", "ignore-hosts", "['<-loopback>']"});

    // Both browsers have been used before: their databases exist.
    const fs::path chromiumDb = root / "home/.pki/nssdb";
    const fs::path firefoxProfile = root / "home/.mozilla/firefox/test.default";
    makeDatabase(chromiumDb);
    makeDatabase(firefoxProfile);
    // A second profile already trusts nothing of the root, which the user
    // added under a name of their own.
    const fs::path ownProfile = root / "home/.mozilla/firefox/own.default";
    makeDatabase(ownProfile);
    const std::string rootPem = run({kCapture, "--export-ca", "-"});
    std::ofstream(root / "root.pem") << rootPem;
    run({"certutil", "-A", "-n", "My own name for it", "-t", ",,", "-i",
         (root / "root.pem").string(), "-d", "sql:" + ownProfile.string()});
    std::ofstream(root / "home/.mozilla/firefox/profiles.ini")
        << "[Profile0]\nName=default\nIsRelative=1\nPath=test.default\nDefault=1\n"
           "[Profile1]\nName=own\nIsRelative=1\nPath=own.default\n";
    {
        // Follows the desktop's settings, proxies loopback, keeps to itself.
        std::ofstream prefs(firefoxProfile / "user.js");
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
    }
    const std::string chromiumBefore = listing(chromiumDb);
    const std::string firefoxBefore = listing(firefoxProfile);
    const std::string ownBefore = listing(ownProfile);

    const std::string installed = run({kCapture, "--install-ca", "--yes"});
    EXPECT_NE(installed.find(chromiumDb.string()), std::string::npos) << installed;
    EXPECT_NE(installed.find(firefoxProfile.string()), std::string::npos) << installed;
    EXPECT_NE(installed.find("My own name for it"), std::string::npos) << installed;
    EXPECT_EQ(listing(ownProfile), ownBefore);

    // The origin's own CA is trusted by the capture command alone.
    TlsOrigin secure("<html><body><p>decrypted page</p></body></html>");
    const std::string page = "https://localhost:" + std::to_string(secure.port()) + "/";
    Environment captureEnv = env;
    captureEnv["SSL_CERT_FILE"] = secure.caFile();
    captureEnv["SSL_CERT_DIR"] = (root / "none").string();
    ChildProcess capture(
        {"sh", "-c", "exec \"$0\" \"$@\" 1>&2", kCapture, "--port", "0", "--https", "decrypt"},
        captureEnv, kArtifacts + "/https-capture.log", true);
    ASSERT_FALSE(capture.waitForLine("Capturing through", 30s).empty());

    bool ok = false;
    run({"firefox-esr", "--headless", "--no-remote", "--profile", firefoxProfile.string(),
         "--screenshot", kArtifacts + "/https-firefox.png", page},
        120s, &ok);
    EXPECT_TRUE(ok) << "Firefox did not load " << page;
    const std::size_t afterFirefox = secure.requests().size();
    EXPECT_GE(afterFirefox, 1u);

    std::vector<std::string> chromium = quietChromiumArguments(findProgram("chromium"));
    chromium.insert(chromium.end(),
                    {"--user-data-dir=" + (root / "chromium").string(), "--dump-dom", page});
    const std::string dom = run(chromium, 60s, &ok);
    EXPECT_TRUE(ok);
    EXPECT_NE(dom.find("decrypted page"), std::string::npos) << dom;
    EXPECT_GT(secure.requests().size(), afterFirefox);

    capture.signal(SIGINT);
    ASSERT_TRUE(capture.wait(30s));
    EXPECT_EQ(capture.exitCode(), 0);

    // What the command kept: the page twice, decrypted.
    int pages = 0;
    for (const auto& [url, status] : kept())
        pages += url == page && status == 200;
    EXPECT_EQ(pages, 2);

    run({kCapture, "--remove-ca"});
    EXPECT_EQ(listing(chromiumDb), chromiumBefore);
    EXPECT_EQ(listing(firefoxProfile), firefoxBefore);
    EXPECT_EQ(listing(ownProfile), ownBefore);
}

TEST_F(HttpsBrowsersTest, BrowserStartedForTheCaptureTrustsOnlyCertificatesTheRootSigned) {
    // `--browser chromium` starts what PATH calls chromium: here the real one,
    // headless, told to print the page, behind everything the launcher adds.
    std::string script = "#!/bin/sh\nexec";
    for (const std::string& argument : quietChromiumArguments(findProgram("chromium")))
        script += " '" + argument + "'";
    script += " \"$@\" --dump-dom \"$TEST_PAGE\" > '" + (root / "dom.html").string() + "'\n";
    fs::create_directories(root / "bin");
    std::ofstream(root / "bin/chromium") << script;
    fs::permissions(root / "bin/chromium", fs::perms::owner_all, fs::perm_options::replace);

    // The user's own database, which nothing may change.
    const fs::path userDb = root / "home/.pki/nssdb";
    makeDatabase(userDb);
    std::map<std::string, std::string> userDbBefore;
    for (const auto& entry : fs::directory_iterator(userDb))
        userDbBefore[entry.path().filename()] = readBytes(entry.path());

    // A host on the pass-through list presenting a forged chain: a
    // certificate for another name from an authority nobody trusts, with our
    // root (which is public) sent behind it.
    const std::string ourRoot = run({kCapture, "--export-ca", "-"});
    ASSERT_NE(ourRoot.find("BEGIN CERTIFICATE"), std::string::npos) << ourRoot;
    const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04"
                          "\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
                          "D\x01\x00;",
                          43);
    TlsOrigin forged(gif, "image/gif", "DNS:forged.test", ourRoot);
    const std::string forgedUrl = "https://127.0.0.1:" + std::to_string(forged.port()) + "/";

    TlsOrigin secure(
        "<html><body><p>page for the started browser</p><img src=\"" + forgedUrl +
        "\" onload=\"document.body.append('forged image ' + 'shown')\" "
        "onerror=\"document.body.append('forged image ' + 'refused')\"></body></html>");
    Environment captureEnv = env;
    captureEnv["PATH"] = (root / "bin").string() + ":" + env["PATH"];
    captureEnv["TMPDIR"] = root.string();
    const std::string page = "https://localhost:" + std::to_string(secure.port()) + "/";
    captureEnv["TEST_PAGE"] = page;
    captureEnv["SSL_CERT_FILE"] = secure.caFile();
    captureEnv["SSL_CERT_DIR"] = (root / "none").string();
    ChildProcess capture({"sh", "-c", "exec \"$0\" \"$@\" 1>&2", kCapture, "--port", "0",
                          "--no-system-proxy", "--pass-through", "127.0.0.1", "--browser",
                          "chromium"},
                         captureEnv, kArtifacts + "/https-browser.log", true);
    ASSERT_FALSE(capture.waitForLine("Started chromium", 30s).empty());
    // Capturing ends with the browser.
    ASSERT_TRUE(capture.wait(90s));
    EXPECT_EQ(capture.exitCode(), 0);

    std::ifstream dom(root / "dom.html");
    const std::string shown((std::istreambuf_iterator<char>(dom)), {});
    EXPECT_NE(shown.find("page for the started browser"), std::string::npos) << shown;
    EXPECT_NE(shown.find("forged image refused"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("forged image shown"), std::string::npos) << shown;
    EXPECT_TRUE(forged.requests().empty());
    EXPECT_FALSE(secure.requests().empty());
    const auto exchanges = kept();
    EXPECT_NE(std::find(exchanges.begin(), exchanges.end(), std::make_pair(page, 200)),
              exchanges.end());
    // Tunnelled, not decrypted.
    for (const auto& [url, status] : exchanges)
        EXPECT_EQ(url.find("https://127.0.0.1:" + std::to_string(forged.port())), std::string::npos)
            << url;

    // The user's database is as it was, byte for byte, and the browser's
    // temporary folder is gone.
    std::map<std::string, std::string> userDbAfter;
    for (const auto& entry : fs::directory_iterator(userDb))
        userDbAfter[entry.path().filename()] = readBytes(entry.path());
    EXPECT_TRUE(userDbAfter == userDbBefore);
    for (const auto& entry : fs::directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().rfind("tidewell-chromium.", 0),
                  std::string::npos)
            << entry.path();
}
