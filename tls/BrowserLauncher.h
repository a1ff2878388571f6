// Starts a browser already set up for this capture, touching no trust store
// of the user's: a fresh temporary profile that sends everything through our
// listener and trusts our root the way the browser trusts any authority,
// deleted when the browser exits.
#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

class CertificateAuthority;

class BrowserLauncher {
public:
    enum class Browser { Chromium, Firefox };

    struct Launched {
        pid_t watcher = -1; // ends after the browser (and its folder) are gone
        std::string folder; // the temporary folder: the profile and all it needs
    };

    // A browser that ends within this time after its start, with a failure,
    // did not really start.
    static constexpr int kStartWindowMs = 3000;

    // The installed program for `browser`, empty when there is none.
    static std::string executable(Browser browser);
    static const char* name(Browser browser); // "chromium", "firefox"
    // "chromium" or "firefox" (any case); false for anything else.
    static bool parse(const std::string& text, Browser& browser);

    // Both get a profile of their own in a new temporary folder, told to use
    // host:port (loopback included) as their proxy, and a certificate
    // database of their own that trusts our root for websites. Firefox keeps
    // it in the profile. Chromium reads it from $HOME/.pki/nssdb, so it runs
    // with a home of its own inside the folder; the user's own folders
    // (settings, data, the X authority, downloads) stay where they are.
    // `extra` goes before `url` on the command line. A small shell waits for
    // the browser and deletes the folder, so it goes even after this program
    // has ended; with `ownSession` the browser outlives this program's
    // terminal too. False with lastError() (kErrorNoBrowser when it is not
    // installed, kErrorCertutil when the database could not be made).
    static bool launch(Browser browser, const std::string& proxyHost, int proxyPort,
                       const CertificateAuthority& root, const std::string& certificateFile,
                       const std::vector<std::string>& extra, const std::string& url,
                       bool ownSession, Launched& out);

    // Waits until the browser has run for kStartWindowMs, or has ended, or
    // `cancel` is set. True when it ended: then the watcher is reaped and
    // `status` is its wait status, which carries the browser's exit status.
    static bool endedAtStart(pid_t watcher, int& status,
                             const volatile std::sig_atomic_t* cancel = nullptr);
    // Whether the wait status of a watcher that ended says the browser failed.
    static bool failed(int status);
    // What to tell the user about a browser that ended at once with `status`.
    static std::string failureText(Browser browser, int status);
};
