// tidewell-capture: captures from the command line, without a window. Starts
// capturing as the desktop program's start command does, shows a live count,
// and on SIGINT, SIGTERM or SIGHUP stops and keeps every capture in the cache
// folder, where the desktop program finds them at its next start. With --har it
// writes the captures kept in the cache folder as a HAR file instead; with
// --streams and --save-stream it lists their video streams or saves one.
#include "cli/CertificateCommands.h"
#include "cli/StreamCommands.h"
#include "engine/PathErrorText.h"
#include "engine/Platform.h"
#include "engine/Text.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HarWriter.h"
#include "store/QueuedEventDelivery.h"
#include "sysproxy/ProxyGuardian.h"
#include "sysproxy/ProxySettingsStore.h"
#include "sysproxy/SettingsFile.h"
#include "sysproxy/SystemProxy.h"
#include "tls/BrowserLauncher.h"
#include "tls/HttpsInterception.h"
#include "tls/HttpsOptions.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
std::atomic<bool> saveCancelled{false};

void onStopSignal(int) {
    stopRequested = 1;
    saveCancelled = true;
}

// Interrupt, stop and the terminal closing end the run the same way, so that
// what was captured (or saved so far) is kept.
void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void printUsage(std::FILE* out) {
    std::fprintf(
        out,
        "Usage: tidewell-capture [--port N] [--no-system-proxy] [--https decrypt|tunnel]\n"
        "                        [--pass-through HOSTS] [--browser chromium|firefox]\n"
        "       tidewell-capture --install-ca [--yes] | --remove-ca | --export-ca FILE\n"
        "       tidewell-capture --har FILE|-\n"
        "       tidewell-capture --streams | --save-stream ID FILE [--variant N]\n"
        "\n"
        "Runs the capturing proxy until interrupted (Ctrl+C or SIGTERM), then keeps\n"
        "every capture in the cache folder for the desktop program.\n"
        "\n"
        "  --port N            first port to try (default 2861; the next free one is used;\n"
        "                      0 takes any free port)\n"
        "  --no-system-proxy   leave the system proxy settings alone\n"
        "  --https MODE        decrypt: capture HTTPS by decrypting it with Tidewell's root\n"
        "                      certificate; tunnel (default): relay it unread\n"
        "  --pass-through HOSTS  hosts never decrypted, comma-separated, * and ? as wildcards\n"
        "                      (added to the list the desktop program keeps)\n"
        "  --browser NAME      start chromium or firefox with a temporary profile set up for\n"
        "                      this capture (its own certificate database trusts the root;\n"
        "                      none of yours is touched); implies --https decrypt; capturing\n"
        "                      stops when it is closed, and fails when it quits at once\n"
        "  --install-ca        trust Tidewell's root certificate in your browsers' certificate\n"
        "                      databases (lists them and asks first; --yes does not ask)\n"
        "  --remove-ca         give every database back as --install-ca found it\n"
        "  --export-ca FILE    write the root certificate (PEM) to FILE (- for standard output)\n"
        "  --har FILE          write every capture kept in the cache folder to FILE as a\n"
        "                      HAR 1.2 log (readable by you alone; - for standard output)\n"
        "                      and exit; it only reads the folder, so it works beside a\n"
        "                      running capture or desktop program and on a read-only disk\n"
        "  --streams           list the video and audio streams (HLS, DASH) of the captures\n"
        "                      kept in the cache folder, one line each, with its id\n"
        "  --save-stream ID FILE  save stream ID as one playable file, without re-encoding:\n"
        "                      MP4, or MPEG-TS or Matroska when FILE ends in .ts or .mkv\n"
        "  --variant N         the variant to save (as numbered by --streams; default: the\n"
        "                      one with most segments captured)\n"
        "  --help              show this text\n"
        "\n"
        "Exit status: 0 when every capture was kept (or exported), 1 when capturing or\n"
        "the export could not start (another process captures into the cache folder,\n"
        "the folder cannot be used, or the browser quit at once, for three),\n"
        "2 for a usage error (an unknown option, an option without its value or with a\n"
        "wrong one), 3 when some captures could not be stored (or, with --har, some\n"
        "cache files could not be read). --save-stream: 0 saved whole, 3 saved with\n"
        "segments missing (named on standard error), 1 not saved.\n"
        "\n"
        "The proxy serves your own programs only: another user's get 403 Forbidden.\n");
}

// Answers as a user who keeps everything; texts go to the terminal.
class TerminalUi : public DocumentUi {
public:
    bool askOkCancel(const std::string&) override { return true; }
    Answer askYesNoCancel(const std::string&) override { return Answer::Yes; }
    void showMessage(const std::string& text) override {
        std::fprintf(stderr, "tidewell-capture: %s\n", text.c_str());
    }
    void setStatusText(const std::string& text) override { status = text; }
    void showFolderNote(const std::string& text) override {
        if (folderNotes)
            std::fprintf(stderr, "tidewell-capture: %s\n", text.c_str());
    }
    // A line of its own, even in the middle of the live count.
    void showStorageProblem(const std::string& text) override {
        std::fflush(stdout);
        std::fprintf(stderr, "%stidewell-capture: %s\n", liveLine ? "\n" : "", text.c_str());
    }
    void showUserRefused(const std::string& text) override { showStorageProblem(text); }

    std::string status;
    bool liveLine = false; // the live count is being rewritten in place
    bool folderNotes = true;
};

// Standard output as a stream, for `--har -`.
class StandardOutput : public OutputStream {
public:
    bool write(const void* data, std::int32_t count) override {
        auto bytes = static_cast<const char*>(data);
        while (count > 0) {
            const ssize_t n = ::write(STDOUT_FILENO, bytes, std::size_t(count));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                setLastErrorFromErrno();
                return false;
            }
            bytes += n;
            count -= std::int32_t(n);
        }
        return true;
    }
};

void printUsageError(unsigned id, const std::string& argument) {
    char text[1024];
    std::snprintf(text, sizeof text, loadString(id), argument.c_str());
    std::fprintf(stderr, "tidewell-capture: %s\n%s\n", text, loadString(IDS_SEE_HELP));
}

// The application's settings live under one key per section of the
// per-user settings file.
class FileSettings : public DocumentSettings {
public:
    int readInt(const std::string& section, const std::string& name, int defaultValue) override {
        std::uint32_t value = 0;
        return file.readDword(key(section), name, value) ? int(value) : defaultValue;
    }
    void writeInt(const std::string& section, const std::string& name, int value) override {
        file.writeDword(key(section), name, std::uint32_t(value));
    }

private:
    static std::string key(const std::string& section) {
        return "Software\\Merovex\\Tidewell\\" + section;
    }

    SettingsFile file;
};

// Reads the defaults and keeps nothing: an export changes no setting.
class ReadOnlySettings : public DocumentSettings {
public:
    int readInt(const std::string&, const std::string&, int defaultValue) override {
        return defaultValue;
    }
    void writeInt(const std::string&, const std::string&, int) override {}
};

// The kept captures as a HAR log at `path` (`-` for standard output).
int writeHarLog(const std::string& path, Document& document,
                const std::vector<HttpResource*>& resources) {
    std::size_t skipped = 0;
    const bool toStandardOutput = path == "-";
    bool written;
    if (toStandardOutput) {
        StandardOutput out;
        written = writeHar(out, resources, TIDEWELL_VERSION, &skipped);
    } else {
        written = writeHarFile(path, resources, TIDEWELL_VERSION, &skipped);
    }
    if (!written) {
        std::fprintf(stderr, "tidewell-capture: cannot write %s: %s\n",
                     toStandardOutput ? "to standard output" : path.c_str(),
                     errorText(lastError()).c_str());
        return 1;
    }
    // Written to our own standard output, the log is all that goes there.
    struct stat target {
    }, out{};
    const bool toStdout =
        toStandardOutput ||
        (::stat(path.c_str(), &target) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
         target.st_dev == out.st_dev && target.st_ino == out.st_ino);
    std::fprintf(toStdout ? stderr : stdout, "Wrote %zu exchanges from %s to %s\n",
                 resources.size() - skipped, document.cacheFolder.c_str(),
                 toStandardOutput ? "standard output" : path.c_str());
    // Files that could not be read at all, and captures whose file went or
    // broke since: left where they are, and said.
    const std::size_t unreadable = document.unreadableFiles + skipped;
    if (unreadable)
        std::fprintf(stderr, "tidewell-capture: %s\n",
                     skippedFilesText(unreadable, document.cacheFolder).c_str());
    return unreadable ? 3 : 0;
}

// Opens the cache folder only to read it (no lock, no file changed) and hands
// its kept captures, in order, to `use`; 1 when the folder cannot be opened,
// else what `use` returns. `folderNotes`: files that could not be read are
// told as the folder opens, rather than counted by `use`.
template <typename Use> int withKeptCaptures(bool folderNotes, Use use) {
    TerminalUi ui;
    ui.folderNotes = folderNotes;
    QueuedEventDelivery delivery;
    ReadOnlySettings settings;
    Document document(ui, delivery, settings);
    if (!document.newDocument(Document::FolderUse::Read))
        return 1;
    std::vector<HttpResource*> resources;
    {
        CaptureLocker lock(captureLock());
        for (HttpResource* r = document.resources.head; r; r = r->next)
            resources.push_back(r);
    }
    return use(document, resources);
}

// The captures kept in the cache folder as a HAR log at `path`.
int exportHar(const std::string& path) {
    return withKeptCaptures(false,
                            [&](Document& document, const std::vector<HttpResource*>& resources) {
                                return writeHarLog(path, document, resources);
                            });
}

// Says "redirected" only when the desktop's settings were: without a desktop
// store, our own file took the change and no program follows it.
void printStart(const HttpProxy& proxy, bool systemProxy) {
    const ProxySettingsStore& store = ProxySettingsStore::forThisDesktop();
    const bool redirected = systemProxy && store.isDesktop();
    const std::string note =
        redirected ? std::string(" (system proxy redirected: ") + store.displayName() + " settings)"
                   : std::string();
    std::printf("Capturing through http://%s:%d/%s. Stop with Ctrl+C.\n", proxy.address().c_str(),
                proxy.port(), note.c_str());
    if (systemProxy && !redirected)
        std::printf("This desktop has no proxy settings Tidewell can change: set the HTTP and "
                    "HTTPS proxy of your programs to http://%s:%d/ by hand.\n",
                    proxy.address().c_str(), proxy.port());
}

// The crash flag says a run is active; a clean end, however it comes,
// clears it.
class RunFlag {
public:
    explicit RunFlag(bool active) : active_(active) {
        if (active_)
            SystemProxy::backUp();
    }
    ~RunFlag() {
        if (active_)
            SystemProxy::clearCrashFlag();
    }
    RunFlag(const RunFlag&) = delete;
    RunFlag& operator=(const RunFlag&) = delete;

private:
    bool active_;
};

std::string formatBytes(std::int64_t bytes) {
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", double(bytes) / 1024);
    else if (bytes < 1024ll * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.2f GiB", double(bytes) / (1024.0 * 1024 * 1024));
    return text;
}

struct Totals {
    std::size_t exchanges = 0;
    std::size_t loading = 0;
    std::size_t notStored = 0;
    std::int64_t bytes = 0;
};

// This run's captures; those kept from earlier runs are not counted.
Totals totals(Document& document) {
    CaptureLocker lock(captureLock());
    Totals t;
    for (const HttpResource* r = document.resources.head; r; r = r->next) {
        if (r->fromDisk)
            continue;
        ++t.exchanges;
        t.bytes += r->receivedSize;
        if (r->flags & HttpResource::Loading)
            ++t.loading;
        if (r->flags & HttpResource::Unstored)
            ++t.notStored;
    }
    return t;
}

std::string describe(const Totals& t) {
    std::string line = std::to_string(t.exchanges) + " exchanges captured, " +
                       formatBytes(t.bytes) + " of response bodies";
    if (t.loading)
        line += ", " + std::to_string(t.loading) + " loading";
    if (t.notStored)
        line += ", " + std::to_string(t.notStored) + " not stored";
    return line;
}

} // namespace

int main(int argc, char** argv) {
    int port = -1; // the proxy's own first port
    bool systemProxy = true;
    enum class CertificateCommand { None, Install, Remove, Export } certificateCommand{};
    std::string exportFile;
    bool assumeYes = false;
    int decrypt = -1; // -1: as --browser wants it
    std::string passThrough;
    bool withBrowser = false;
    BrowserLauncher::Browser browser = BrowserLauncher::Browser::Chromium;
    const char* harPath = nullptr;
    bool listStreamsAsked = false;
    bool saveStreamAsked = false;
    std::uint32_t streamId = 0;
    std::string streamFile;
    int variant = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // An option that takes a value and has none is told so, not taken
        // for an unknown one.
        const bool takesValue = arg == "--har" || arg == "--export-ca" || arg == "--https" ||
                                arg == "--pass-through" || arg == "--browser" || arg == "--port" ||
                                arg == "--variant";
        if ((takesValue && (i + 1 >= argc || !*argv[i + 1])) ||
            (arg == "--save-stream" && (i + 2 >= argc || !*argv[i + 2]))) {
            printUsageError(IDS_OPTION_NEEDS_VALUE, arg);
            return 2;
        }
        const char* given = nullptr;
        const auto value = [&](const char* option, const char*& out) {
            if (arg != option)
                return false;
            out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        } else if (value("--har", given)) {
            harPath = given;
        } else if (arg == "--streams") {
            listStreamsAsked = true;
        } else if (arg == "--save-stream") {
            std::int32_t id = 0;
            if (!parseInt32(argv[++i], id) || id <= 0) {
                std::fprintf(stderr, "tidewell-capture: not a stream id: %s\n", argv[i]);
                return 2;
            }
            streamId = std::uint32_t(id);
            streamFile = argv[++i];
            saveStreamAsked = true;
        } else if (arg == "--variant") {
            if (!parseInt32(argv[++i], variant) || variant <= 0) {
                std::fprintf(stderr, "tidewell-capture: not a variant number: %s\n", argv[i]);
                return 2;
            }
        } else if (arg == "--no-system-proxy") {
            systemProxy = false;
        } else if (arg == "--install-ca") {
            certificateCommand = CertificateCommand::Install;
        } else if (arg == "--remove-ca") {
            certificateCommand = CertificateCommand::Remove;
        } else if (value("--export-ca", given)) {
            certificateCommand = CertificateCommand::Export;
            exportFile = given;
        } else if (arg == "--yes") {
            assumeYes = true;
        } else if (value("--https", given)) {
            const std::string mode = given;
            if (mode != "decrypt" && mode != "tunnel") {
                std::fprintf(stderr, "tidewell-capture: --https takes decrypt or tunnel: %s\n",
                             mode.c_str());
                return 2;
            }
            decrypt = mode == "decrypt";
        } else if (value("--pass-through", given)) {
            passThrough += std::string(given) + "\n";
        } else if (value("--browser", given)) {
            if (!BrowserLauncher::parse(given, browser)) {
                std::fprintf(stderr, "tidewell-capture: --browser takes chromium or firefox: %s\n",
                             given);
                return 2;
            }
            withBrowser = true;
        } else if (value("--port", given)) {
            char* end = nullptr;
            const long number = std::strtol(given, &end, 10);
            if (*end || number < 0 || number > 65535) {
                std::fprintf(stderr, "tidewell-capture: not a port number: %s\n", given);
                return 2;
            }
            port = int(number);
        } else {
            printUsageError(IDS_UNKNOWN_ARGUMENT, arg);
            return 2;
        }
    }
    if (harPath) {
        if (port >= 0 || !systemProxy) {
            std::fprintf(stderr, "tidewell-capture: --har takes no other option\n");
            return 2;
        }
        std::signal(SIGPIPE, SIG_IGN);
        return exportHar(harPath);
    }

    if (listStreamsAsked || saveStreamAsked) {
        if (port >= 0 || !systemProxy || harPath || (listStreamsAsked && saveStreamAsked)) {
            std::fprintf(stderr,
                         "tidewell-capture: --streams and --save-stream take no other option\n");
            return 2;
        }
        if (listStreamsAsked)
            return withKeptCaptures(true,
                                    [](Document&, const std::vector<HttpResource*>& captures) {
                                        return listStreams(captures);
                                    });
        catchStopSignals();
        return withKeptCaptures(true, [&](Document&, const std::vector<HttpResource*>& captures) {
            return saveStreamCommand(captures, streamId, streamFile, variant, saveCancelled);
        });
    }
    if (variant) {
        std::fprintf(stderr, "tidewell-capture: --variant goes with --save-stream\n");
        return 2;
    }

    switch (certificateCommand) {
    case CertificateCommand::Install:
        return installRootCertificate(assumeYes, stdin);
    case CertificateCommand::Remove:
        return removeRootCertificate();
    case CertificateCommand::Export:
        return exportRootCertificate(exportFile);
    case CertificateCommand::None:
        break;
    }

    if (systemProxy) {
        // Forked before any thread starts.
        ProxyGuardian::start();
        // No one to ask here: settings left pointing at a listener that is
        // gone are given back at once.
        if (SystemProxy::leftBehind()) {
            if (SystemProxy::restoreBackup())
                std::fprintf(stderr, "tidewell-capture: gave back the proxy settings an earlier "
                                     "run left pointing at its listener\n");
        }
    }
    catchStopSignals();

    // HTTPS: decrypted only when asked for; the pass-through hosts are the
    // desktop program's list and this run's additions.
    auto https = std::make_shared<HttpsInterception>();
    const bool decrypting = decrypt == 1 || (decrypt == -1 && withBrowser);
    if ((decrypting || withBrowser) && !https->prepare()) {
        const std::uint32_t error = lastError();
        const std::string folder = https->folder();
        std::fprintf(stderr, "tidewell-capture: %s\n",
                     (folder.empty() ? errorText(error)
                                     : pathErrorText(IDS_ROOT_FOLDER_UNUSABLE, folder, error))
                         .c_str());
        return 1;
    }
    https->setDecrypt(decrypting);
    https->setPassThrough(HttpsOptions::load(SettingsFile()).passThrough + "\n" + passThrough);

    TerminalUi ui;
    QueuedEventDelivery delivery;
    FileSettings settings;
    Document document(ui, delivery, settings);
    if (!document.newDocument())
        return 1;
    // Only once the cache folder is ours: a start refused because another
    // capture holds it must not clear that capture's flag.
    const RunFlag runFlag(systemProxy);
    if (port >= 0)
        document.proxy.configuredPort = port;
    document.proxy.manageSystemSettings = systemProxy;
    document.proxy.https = https;
    if (!document.startCapture())
        return 1;
    std::printf("%s\n", ui.status.c_str());
    printStart(document.proxy, systemProxy);
    if (decrypting)
        std::printf("Decrypting HTTPS with the root certificate %s (SHA-256 %s).\n",
                    https->certificateFile().c_str(), https->root().fingerprint().c_str());
    pid_t browserWatcher = -1;
    bool browserEnded = false;
    if (withBrowser) {
        BrowserLauncher::Launched launched;
        if (!BrowserLauncher::launch(browser, document.proxy.address(), document.proxy.port(),
                                     https->root(), https->certificateFile(), {}, {}, false,
                                     launched)) {
            std::fprintf(stderr, "tidewell-capture: %s: %s\n", BrowserLauncher::name(browser),
                         errorText(lastError()).c_str());
            document.stopCapture();
            document.closeCaptures(true);
            return 1;
        }
        browserWatcher = launched.watcher;
        // A browser that quits at once (Chromium as root, a broken install)
        // is a failed start, not a capture that ended.
        int status = 0;
        browserEnded = BrowserLauncher::endedAtStart(browserWatcher, status, &stopRequested);
        if (browserEnded && BrowserLauncher::failed(status)) {
            std::fprintf(stderr, "tidewell-capture: %s\n",
                         BrowserLauncher::failureText(browser, status).c_str());
            document.stopCapture();
            document.closeCaptures(true);
            return 1;
        }
        std::printf("Started %s with a temporary profile; capturing stops when it is closed.\n",
                    BrowserLauncher::name(browser));
    }
    std::fflush(stdout);

    const bool tty = isatty(STDOUT_FILENO);
    const auto period = tty ? std::chrono::milliseconds(250) : std::chrono::seconds(5);
    auto nextReport = std::chrono::steady_clock::now();
    std::size_t lastWidth = 0;
    while (!stopRequested && !browserEnded) {
        int status = 0;
        if (browserWatcher > 0 && ::waitpid(browserWatcher, &status, WNOHANG) == browserWatcher)
            break;
        delivery.waitForPending(std::chrono::milliseconds(250));
        delivery.dispatchPending();
        const auto now = std::chrono::steady_clock::now();
        if (now < nextReport)
            continue;
        nextReport = now + period;
        const std::string line = describe(totals(document));
        if (tty) {
            // One line rewritten in place; pad over a longer previous text.
            std::printf("\r%s%*s", line.c_str(),
                        int(lastWidth > line.size() ? lastWidth - line.size() : 0), "");
            lastWidth = line.size();
            ui.liveLine = true;
        } else {
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    if (tty)
        std::printf("\n");

    document.stopCapture();
    delivery.dispatchPending();
    ui.liveLine = false;
    const Totals captured = totals(document);
    // What is really in the cache folder now, not what was relayed.
    const Document::CloseSummary closed = document.closeCaptures(true);
    std::string line = std::to_string(captured.exchanges) + " exchanges captured, " +
                       formatBytes(captured.bytes) + " of response bodies; " +
                       std::to_string(closed.kept) + " kept in " + document.cacheFolder;
    if (closed.notStored)
        line += "; " + std::to_string(closed.notStored) +
                " could not be stored: " + errorText(closed.firstError);
    std::printf("Stopped. %s\n", line.c_str());
    return closed.notStored ? 3 : 0;
}
