#include "tls/BrowserLauncher.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "tls/CertificateAuthority.h"
#include "tls/Subprocess.h"
#include "tls/TlsError.h"
#include "tls/TrustStore.h"
#include "tls/UserFiles.h"

#include <cstdlib>

namespace {

// Waits for the browser ("$@") and then deletes the profile ($1), also when
// interrupted; a signal meant for this shell alone leaves the browser running
// and the profile is deleted once it ends.
constexpr const char* kWatcherScript =
    "PATH=${PATH:+$PATH:}/usr/bin:/bin; profile=$1; shift; "
    "trap 'rm -rf -- \"$profile\"' EXIT; trap 'exit 130' INT TERM HUP; \"$@\"";

bool makeProfileFolder(const char* browser, std::string& folder) {
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
    std::string profile;
    if (!makeProfileFolder(name(browser), profile))
        return false;
    const std::string proxy =
        (proxyHost.find(':') != std::string::npos ? "[" + proxyHost + "]" : proxyHost) + ":" +
        formatInt(proxyPort);
    std::vector<std::string> command = {"/bin/sh",          "-c",    kWatcherScript,
                                        "tidewell-browser", profile, program};
    if (browser == Browser::Chromium) {
        command.insert(command.end(),
                       {"--user-data-dir=" + profile, "--proxy-server=http://" + proxy,
                        // Loopback pages are captured too.
                        "--proxy-bypass-list=<-loopback>",
                        "--ignore-certificate-errors-spki-list=" + root.spkiHash(),
                        "--no-first-run", "--no-default-browser-check"});
    } else {
        std::string output;
        const std::string db = "sql:" + profile;
        const bool ready =
            runProgram({"certutil", "-N", "--empty-password", "-d", db}, output) == 0 &&
            runProgram({"certutil", "-A", "-n", TrustStore::nickname(root), "-t", "C,,", "-i",
                        certificateFile, "-d", db},
                       output) == 0;
        if (!ready ||
            !writeWholeFile(profile + "/user.js", firefoxPreferences(proxyHost, proxyPort), 0600)) {
            removeTree(profile);
            setLastError(kErrorCertutil);
            return false;
        }
        command.insert(command.end(), {"--no-remote", "--new-instance", "--profile", profile});
    }
    command.insert(command.end(), extra.begin(), extra.end());
    if (!url.empty())
        command.push_back(url);
    const pid_t watcher = startProgram(command, ownSession);
    if (watcher < 0) {
        const std::uint32_t code = lastError();
        removeTree(profile);
        setLastError(code);
        return false;
    }
    out.watcher = watcher;
    out.profile = profile;
    return true;
}
