// Starts a browser already set up for this capture, touching no trust store:
// a fresh temporary profile that sends everything through our listener and
// accepts our root, deleted when the browser exits.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class CertificateAuthority;

class BrowserLauncher {
public:
    enum class Browser { Chromium, Firefox };

    struct Launched {
        pid_t watcher = -1;  // ends after the browser (and its profile) are gone
        std::string profile; // the temporary profile folder
    };

    // The installed program for `browser`, empty when there is none.
    static std::string executable(Browser browser);
    static const char* name(Browser browser); // "chromium", "firefox"
    // "chromium" or "firefox" (any case); false for anything else.
    static bool parse(const std::string& text, Browser& browser);

    // Chromium: --user-data-dir with the temporary profile, --proxy-server at
    // host:port (loopback included) and --ignore-certificate-errors-spki-list
    // with our root's key hash, which Chromium honours only with its own
    // user-data-dir. Firefox: a temporary profile whose own certificate
    // database trusts our root and whose preferences point at host:port.
    // `extra` goes before `url` on the command line. A small shell waits for
    // the browser and deletes the profile, so it goes even after this program
    // has ended; with `ownSession` the browser outlives this program's
    // terminal too. False with lastError() (kErrorNoBrowser when it is not
    // installed, kErrorCertutil when Firefox's profile could not be made).
    static bool launch(Browser browser, const std::string& proxyHost, int proxyPort,
                       const CertificateAuthority& root, const std::string& certificateFile,
                       const std::vector<std::string>& extra, const std::string& url,
                       bool ownSession, Launched& out);
};
