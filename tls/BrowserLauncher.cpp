#include "tls/BrowserLauncher.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "resources/StringTable.h"
#include "tls/CertificateAuthority.h"
#include "tls/Subprocess.h"
#include "tls/TlsError.h"
#include "tls/TrustStore.h"
#include "tls/UserFiles.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Waits for the browser ("$@") and then deletes the folder ($1), also when
// interrupted; a signal meant for this shell alone leaves the browser running
// and the folder is deleted once it ends. Its exit status is the browser's.
constexpr const char* kWatcherScript =
    "PATH=${PATH:+$PATH:}/usr/bin:/bin; folder=$1; shift; "
    "trap 'rm -rf -- \"$folder\"' EXIT; trap 'exit 130' INT TERM HUP; \"$@\"";

bool makeTemporaryFolder(const char* browser, std::string& folder) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base == '/' ? base : "/tmp") + "/tidewell-" + browser + ".XXXXXX";
    if (!mkdtemp(pattern.data())) { // 0700
        setLastErrorFromErrno();
        return false;
    }
    folder = pattern;
    return true;
}

// A new certificate database in `folder` that trusts our root for websites,
// made as the browser itself would make one (no password).
bool makeTrustingDatabase(const std::string& folder, const CertificateAuthority& root,
                          const std::string& certificateFile) {
    std::string output;
    const std::string db = "sql:" + folder;
    if (createUserFolders(folder) &&
        runProgram({"certutil", "-N", "--empty-password", "-d", db}, output) == 0 &&
        runProgram({"certutil", "-A", "-n", TrustStore::nickname(root), "-t", "C,,", "-i",
                    certificateFile, "-d", db},
                   output) == 0)
        return true;
    setLastError(kErrorCertutil);
    return false;
}

std::string firefoxPreferences(const std::string& host, int port) {
    const std::string quotedHost = "\"" + host + "\"";
    const std::string portText = formatInt(port);
    std::string prefs;
    auto pref = [&](const char* name, const std::string& value) {
        prefs += std::string("user_pref(\"") + name + "\", " + value + ");\n";
    };
    pref("network.proxy.type", "1");
    pref("network.proxy.http", quotedHost);
    pref("network.proxy.http_port", portText);
    pref("network.proxy.ssl", quotedHost);
    pref("network.proxy.ssl_port", portText);
    pref("network.proxy.share_proxy_settings", "true");
    pref("network.proxy.no_proxies_on", "\"\"");
    pref("network.proxy.allow_hijacking_localhost", "true");
    pref("browser.shell.checkDefaultBrowser", "false");
    pref("browser.aboutwelcome.enabled", "false");
    pref("datareporting.policy.dataSubmissionPolicyBypassNotification", "true");
    return prefs;
}

// $NAME when it is an absolute path, else `home` + `fallback`.
std::string userFolder(const char* name, const std::string& home, const char* fallback) {
    if (const char* value = std::getenv(name); value && value[0] == '/')
        return value;
    return home + fallback;
}

// The user's download folder as the desktop names it (XDG_DOWNLOAD_DIR in
// user-dirs.dirs), else ~/Downloads.
std::string downloadFolder(const std::string& home, const std::string& configHome) {
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR=\"";
    while (std::getline(in, line)) {
        if (line.rfind(kKey, 0) != 0 || line.size() < kKey.size() + 1 || line.back() != '"')
            continue;
        const std::string value = line.substr(kKey.size(), line.size() - kKey.size() - 1);
        if (value.rfind("$HOME/", 0) == 0)
            return home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return home + "/Downloads";
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Chromium's home is the temporary one: everything else it reads from the
// user's home (settings, fonts, themes, the X authority) is named for it, and
// what it saves goes where the user's own downloads go, not into a folder
// that is deleted with it.
bool prepareChromium(const std::string& folder, const CertificateAuthority& root,
                     const std::string& certificateFile, std::vector<std::string>& environment) {
    const std::string home = folder + "/home";
    if (!makeTrustingDatabase(home + "/.pki/nssdb", root, certificateFile))
        return false;
    const std::string userHome = userHomeFolder();
    const std::string configHome = userFolder("XDG_CONFIG_HOME", userHome, "/.config");
    environment = {"HOME=" + home, "XDG_CONFIG_HOME=" + configHome,
                   "XDG_DATA_HOME=" + userFolder("XDG_DATA_HOME", userHome, "/.local/share"),
                   "XDG_CACHE_HOME=" + userFolder("XDG_CACHE_HOME", userHome, "/.cache"),
                   "XDG_STATE_HOME=" + userFolder("XDG_STATE_HOME", userHome, "/.local/state")};
    const char* xauthority = std::getenv("XAUTHORITY");
    if ((!xauthority || !*xauthority) && !userHome.empty())
        environment.push_back("XAUTHORITY=" + userHome + "/.Xauthority");
    const std::string downloads = jsonString(downloadFolder(userHome, configHome));
    const std::string preferences = "{\"download\":{\"default_directory\":" + downloads +
                                    ",\"directory_upgrade\":true},"
                                    "\"savefile\":{\"default_directory\":" +
                                    downloads + "}}\n";
    if (!createUserFolders(folder + "/profile/Default") ||
        !writeWholeFile(folder + "/profile/Default/Preferences", preferences, 0600))
        return false;
    return true;
}

} // namespace

const char* BrowserLauncher::name(Browser browser) {
    return browser == Browser::Chromium ? "chromium" : "firefox";
}

bool BrowserLauncher::parse(const std::string& text, Browser& browser) {
    if (equalsIgnoreCase(text, "chromium")) {
        browser = Browser::Chromium;
        return true;
    }
    if (equalsIgnoreCase(text, "firefox")) {
        browser = Browser::Firefox;
        return true;
    }
    return false;
}

std::string BrowserLauncher::executable(Browser browser) {
    const std::vector<const char*> names =
        browser == Browser::Chromium
            ? std::vector<const char*>{"chromium", "chromium-browser", "google-chrome",
                                       "google-chrome-stable"}
            : std::vector<const char*>{"firefox", "firefox-esr"};
    for (const char* candidate : names)
        if (std::string path = findProgram(candidate); !path.empty())
            return path;
    return {};
}

bool BrowserLauncher::launch(Browser browser, const std::string& proxyHost, int proxyPort,
                             const CertificateAuthority& root, const std::string& certificateFile,
                             const std::vector<std::string>& extra, const std::string& url,
                             bool ownSession, Launched& out) {
    const std::string program = executable(browser);
    if (program.empty()) {
        setLastError(kErrorNoBrowser);
        return false;
    }
    std::string folder;
    if (!makeTemporaryFolder(name(browser), folder))
        return false;
    const std::string proxy =
        (proxyHost.find(':') != std::string::npos ? "[" + proxyHost + "]" : proxyHost) + ":" +
        formatInt(proxyPort);
    std::vector<std::string> command = {"/bin/sh",          "-c",   kWatcherScript,
                                        "tidewell-browser", folder, program};
    std::vector<std::string> environment;
    bool ready;
    if (browser == Browser::Chromium) {
        ready = prepareChromium(folder, root, certificateFile, environment);
        command.insert(command.end(),
                       {"--user-data-dir=" + folder + "/profile", "--proxy-server=http://" + proxy,
                        // Loopback pages are captured too.
                        "--proxy-bypass-list=<-loopback>", "--no-first-run",
                        "--no-default-browser-check"});
    } else {
        const std::string profile = folder + "/profile";
        ready =
            makeTrustingDatabase(profile, root, certificateFile) &&
            writeWholeFile(profile + "/user.js", firefoxPreferences(proxyHost, proxyPort), 0600);
        command.insert(command.end(), {"--no-remote", "--new-instance", "--profile", profile});
    }
    if (!ready) {
        const std::uint32_t code = lastError();
        removeTree(folder);
        setLastError(code);
        return false;
    }
    command.insert(command.end(), extra.begin(), extra.end());
    if (!url.empty())
        command.push_back(url);
    const pid_t watcher = startProgram(command, ownSession, environment);
    if (watcher < 0) {
        const std::uint32_t code = lastError();
        removeTree(folder);
        setLastError(code);
        return false;
    }
    out.watcher = watcher;
    out.folder = folder;
    return true;
}

bool BrowserLauncher::failed(int status) {
    return !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}

bool BrowserLauncher::endedAtStart(pid_t watcher, int& status,
                                   const volatile std::sig_atomic_t* cancel) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartWindowMs);
    while (std::chrono::steady_clock::now() < end && !(cancel && *cancel)) {
        const pid_t ended = ::waitpid(watcher, &status, WNOHANG);
        if (ended == watcher)
            return true;
        if (ended < 0 && errno != EINTR)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string BrowserLauncher::failureText(Browser browser, int status) {
    const char* shown = browser == Browser::Chromium ? "Chromium" : "Firefox";
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // 126 and 127: the shell could not run the program at all.
    const bool notRun = code == 126 || code == 127;
    char text[512];
    std::snprintf(text, sizeof text, loadString(notRun ? IDS_BROWSER_NOT_RUN : IDS_BROWSER_EXITED),
                  shown, code);
    std::string out = text;
    if (!notRun && browser == Browser::Chromium && ::geteuid() == 0)
        out += std::string("\n") + loadString(IDS_BROWSER_CHROMIUM_AS_ROOT);
    return out;
}
