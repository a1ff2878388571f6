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
#include "resources/Version.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HarWriter.h"
#include "store/QueuedEventDelivery.h"
#include "sysproxy/LanguageSetting.h"
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
    std::fputs(loadString(IDS_CLI_USAGE), out);
}

// Says why the command line was not understood, then exits with status 2.
[[noreturn]] void usageError(const std::string& text) {
    std::fprintf(stderr, "tidewell-capture: %s\n", text.c_str());
    std::exit(2);
}

// The language of the run, from --lang (anywhere on the command line, so that every complaint
// about the others is already in it), the saved choice or the locale.
void chooseRunLanguage(int argc, char** argv) {
    Language flag = Language::English;
    const char* badValue = nullptr;
    bool given = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lang") != 0)
            continue;
        const char* value = i + 1 < argc ? argv[++i] : "";
        if (parseLanguageName(value, flag))
            given = true;
        else
            badValue = value;
    }
    LanguageSetting::apply(given ? &flag : nullptr);
    if (badValue)
        usageError(formatString(IDS_LANG_TAKES, badValue));
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
        written = writeHar(out, resources, programVersion(), &skipped);
    } else {
        written = writeHarFile(path, resources, programVersion(), &skipped);
    }
    const std::string target = toStandardOutput ? std::string("-") : path;
    if (!written) {
        std::fprintf(
            stderr, "tidewell-capture: %s\n",
            formatString(IDS_CLI_CANNOT_WRITE, target.c_str(), errorText(lastError()).c_str())
                .c_str());
        return 1;
    }
    // Written to our own standard output, the log is all that goes there.
    struct stat file {
    }, out{};
    const bool toStdout = toStandardOutput ||
                          (::stat(path.c_str(), &file) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
                           file.st_dev == out.st_dev && file.st_ino == out.st_ino);
    std::fprintf(toStdout ? stderr : stdout, "%s\n",
                 formatString(IDS_CLI_HAR_WRITTEN, resources.size() - skipped,
                              document.cacheFolder.c_str(), target.c_str())
                     .c_str());
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
        redirected ? formatString(IDS_CLI_REDIRECTED, store.displayName()) : std::string();
    std::printf("%s\n",
                formatString(IDS_CLI_CAPTURING, proxy.address().c_str(), proxy.port(), note.c_str())
                    .c_str());
    if (systemProxy && !redirected)
        std::printf(
            "%s\n",
            formatString(IDS_CLI_SET_BY_HAND, proxy.address().c_str(), proxy.port()).c_str());
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

// Columns the text takes on a terminal: Chinese characters and full-width
// punctuation take two.
std::size_t displayWidth(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte
        // Three-byte sequences from U+3000 (lead 0xE3) to U+FFFF hold the wide characters.
        width += byte >= 0xE3 && byte <= 0xEF ? 2 : 1;
    }
    return width;
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
    std::string line = formatString(IDS_CLI_COUNT, t.exchanges, formatBytes(t.bytes).c_str());
    if (t.loading)
        line += formatString(IDS_CLI_COUNT_LOADING, t.loading);
    if (t.notStored)
        line += formatString(IDS_CLI_COUNT_NOT_STORED, t.notStored);
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
    chooseRunLanguage(argc, argv);
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
        } else if (arg == "--version") {
            std::printf("tidewell-capture %s\n", programVersion());
            return 0;
        } else if (arg == "--lang" && i + 1 < argc) {
            ++i; // taken before the others
        } else if (arg == "--har" && i + 1 < argc && *argv[i + 1]) {
            harPath = argv[++i];
        } else if (arg == "--streams") {
            listStreamsAsked = true;
        } else if (arg == "--save-stream") {
            std::int32_t id = 0;
            if (!parseInt32(argv[++i], id) || id <= 0) {
                usageError(formatString(IDS_CLI_NOT_A_STREAM, argv[i]));
            }
            streamId = std::uint32_t(id);
            streamFile = argv[++i];
            saveStreamAsked = true;
        } else if (arg == "--variant") {
            if (!parseInt32(argv[++i], variant) || variant <= 0) {
                usageError(formatString(IDS_CLI_NOT_A_VARIANT, argv[i]));
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
        } else if (arg == "--https" && i + 1 < argc) {
            const std::string mode = argv[++i];
            if (mode != "decrypt" && mode != "tunnel")
                usageError(formatString(IDS_CLI_HTTPS_TAKES, mode.c_str()));
            decrypt = mode == "decrypt";
        } else if (arg == "--pass-through" && i + 1 < argc) {
            passThrough += std::string(argv[++i]) + "\n";
        } else if (arg == "--browser" && i + 1 < argc) {
            if (!BrowserLauncher::parse(argv[++i], browser))
                usageError(formatString(IDS_CLI_BROWSER_TAKES, argv[i]));
            withBrowser = true;
        } else if (arg == "--port") {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (!*argv[i] || *end || value < 0 || value > 65535)
                usageError(formatString(IDS_CLI_NOT_A_PORT, argv[i]));
            port = int(value);
        } else {
            std::fprintf(stderr, "tidewell-capture: %s\n",
                         formatString(IDS_CLI_UNKNOWN_ARGUMENT, arg.c_str()).c_str());
            printUsage(stderr);
            return 2;
        }
    }
    if (harPath) {
        if (port >= 0 || !systemProxy)
            usageError(loadString(IDS_CLI_HAR_ALONE));
        std::signal(SIGPIPE, SIG_IGN);
        return exportHar(harPath);
    }

    if (listStreamsAsked || saveStreamAsked) {
        if (port >= 0 || !systemProxy || harPath || (listStreamsAsked && saveStreamAsked))
            usageError(loadString(IDS_CLI_STREAMS_ALONE));
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
    if (variant)
        usageError(loadString(IDS_CLI_VARIANT_ALONE));

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
                std::fprintf(stderr, "tidewell-capture: %s\n",
                             loadString(IDS_CLI_SETTINGS_GIVEN_BACK));
        }
    }
    catchStopSignals();

    // HTTPS: decrypted only when asked for; the pass-through hosts are the
    // desktop program's list and this run's additions.
    auto https = std::make_shared<HttpsInterception>();
    const bool decrypting = decrypt == 1 || (decrypt == -1 && withBrowser);
    if ((decrypting || withBrowser) && !https->prepare()) {
        std::fprintf(
            stderr, "tidewell-capture: %s\n",
            formatString(IDS_CLI_ROOT_CERTIFICATE, errorText(lastError()).c_str()).c_str());
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
        std::printf("%s\n", formatString(IDS_CLI_DECRYPTING, https->certificateFile().c_str(),
                                         https->root().fingerprint().c_str())
                                .c_str());
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
        std::printf("%s\n",
                    formatString(IDS_CLI_BROWSER_STARTED, BrowserLauncher::name(browser)).c_str());
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
            const std::size_t width = displayWidth(line);
            std::printf("\r%s%*s", line.c_str(), int(lastWidth > width ? lastWidth - width : 0),
                        "");
            lastWidth = width;
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
    std::string line = formatString(
        IDS_CLI_STOPPED,
        formatString(IDS_CLI_COUNT, captured.exchanges, formatBytes(captured.bytes).c_str())
            .c_str(),
        std::size_t(closed.kept), document.cacheFolder.c_str());
    if (closed.notStored)
        line += formatString(IDS_CLI_STOPPED_NOT_STORED, std::size_t(closed.notStored),
                             errorText(closed.firstError).c_str());
    std::printf("%s\n", line.c_str());
    return closed.notStored ? 3 : 0;
}
