// The command-line capture run as a user runs it: a real process, killed or
// interrupted, with its cache folder on a private data home (or a full disk),
// and real curl clients against a loopback origin.
#include "resources/StringTable.h"
#include "resources/Version.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResourceData.h"
#include "store/QueuedEventDelivery.h"
#include "support/DocumentStandIns.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"
#include "support/ScopedLanguage.h"
#include "support/ScriptedStreams.h"
#include "support/SmallDisk.h"
#include "support/StoredCaptures.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// tidewell-capture with its own data and configuration homes, its output
// gathered from pipes.
class CaptureProcess {
public:
    // `runAs` goes before the command: a program that runs it as another user.
    CaptureProcess(const std::string& dataHome, const std::string& configHome,
                   const std::vector<std::string>& runAs = {}) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("XDG_DATA_HOME=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0)
                env.push_back(entry);
        }
        env.push_back("XDG_DATA_HOME=" + dataHome);
        env.push_back("XDG_CONFIG_HOME=" + configHome);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> arguments = runAs;
        arguments.insert(arguments.end(), {TIDEWELL_BINARY_DIR "/cli/tidewell-capture",
                                           "--no-system-proxy", "--port", "0"});
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~CaptureProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // The proxy's port once the process says it captures; 0 when it ended
    // or did not say so within the time.
    int waitForPort() {
        const std::regex capturing("Capturing through http://127\\.0\\.0\\.1:([0-9]+)/");
        std::smatch match;
        while (!std::regex_search(output, match, capturing))
            if (!readSome(10s))
                return 0;
        return std::stoi(match[1]);
    }
    // Signals the process and gathers everything it writes until it ends;
    // its exit status, -1 when it was killed.
    int stop(int signal) {
        kill(pid_, signal);
        return finish();
    }
    int finish() {
        while (readSome(30s)) {
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output; // standard output
    std::string errors; // standard error

private:
    // False at the end of both streams or when nothing came in time.
    bool readSome(std::chrono::milliseconds timeout) {
        pollfd fds[2] = {{outOpen_ ? out_ : -1, POLLIN, 0}, {errOpen_ ? err_ : -1, POLLIN, 0}};
        if ((!outOpen_ && !errOpen_) || poll(fds, 2, int(timeout.count())) <= 0)
            return false;
        char bytes[4096];
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            const ssize_t n = read(fds[i].fd, bytes, sizeof bytes);
            if (n > 0)
                (i == 0 ? output : errors).append(bytes, std::size_t(n));
            else
                (i == 0 ? outOpen_ : errOpen_) = false;
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool outOpen_ = true, errOpen_ = true;
};

std::size_t cacheFiles(const std::string& folder) {
    return storedImages(folder).size();
}

// Waits until `done` holds, woken by the file system's changes in `folder`
// and in the run folders that appear below it.
bool waitInFolder(const std::string& folder, const std::function<bool()>& done) {
    const int watch = inotify_init1(IN_CLOEXEC);
    constexpr std::uint32_t kChanges = IN_CLOSE_WRITE | IN_CREATE | IN_MODIFY;
    inotify_add_watch(watch, folder.c_str(), kChanges);
    const auto watchRuns = [&] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (entry.is_directory(error))
                inotify_add_watch(watch, entry.path().c_str(), kChanges);
    };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool held;
    while ((watchRuns(), !(held = done())) && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{watch, POLLIN, 0};
        if (poll(&fd, 1, 1000) > 0) {
            char events[4096];
            [[maybe_unused]] auto n = read(watch, events, sizeof events);
        }
    }
    close(watch);
    return held;
}

bool waitForCacheFiles(const std::string& folder, std::size_t count) {
    return waitInFolder(folder, [&] { return cacheFiles(folder) >= count; });
}

// Until a file in `folder` holds at least `bytes`.
bool waitForStoredBytes(const std::string& folder, std::uintmax_t bytes) {
    return waitInFolder(folder, [&] {
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error))
            if (entry.is_regular_file(error) && entry.file_size(error) >= bytes && !error)
                return true;
        return false;
    });
}

std::vector<std::string> proxied(int port, const std::string& url, const std::string& output) {
    return {"--noproxy", "",     "--proxy", "http://127.0.0.1:" + std::to_string(port),
            "--output",  output, url};
}

struct CaptureCli : ::testing::Test {
    std::string cacheFolder(const std::string& dataHome) const {
        return dataHome + "/Merovex/Tidewell/Cache/";
    }

    // The command's lines are read as the README quotes them.
    ScopedLanguage english{Language::English};
    TempFolder data;
    TempFolder config;
    TempFolder scratch;
};

} // namespace

// Every exchange that was over is in the cache folder when the process is
// killed; the next start lists each with its body, and the folder is free
// again.
TEST_F(CaptureCli, KilledCaptureKeepsEveryFinishedExchange) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        return sendAllBytes(socket, OriginServer::okResponse("body of " + request.target));
    });
    CaptureProcess capture(data.path(), config.path());
    const int port = capture.waitForPort();
    ASSERT_NE(port, 0) << capture.output << capture.errors;
    constexpr int kExchanges = 11;
    for (int i = 0; i < kExchanges; ++i) {
        const std::string file = scratch.path() + "/out";
        ASSERT_EQ(runCurl(proxied(port, origin.url("/" + std::to_string(i)), file)).exitCode, 0);
    }
    ASSERT_TRUE(waitForCacheFiles(cacheFolder(data.path()), kExchanges));
    EXPECT_EQ(capture.stop(SIGKILL), -1);

    ScopedEnv dataHome("XDG_DATA_HOME", data.path().c_str());
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    NoSettings settings;
    Document document(ui, delivery, settings);
    ASSERT_TRUE(document.newDocument()) << (ui.messages.empty() ? "" : ui.messages[0]);
    ASSERT_EQ(document.resources.count, std::size_t(kExchanges));
    for (HttpResource* r = document.resources.head; r; r = r->next) {
        EXPECT_EQ(r->result, 0u);
        CollectingOutputStream body;
        ASSERT_TRUE(r->copyBody(body, true));
        EXPECT_EQ(body.text, "body of /" + r->name);
    }
}

// kill -9 in the middle of a large download: the next start lists it as
// interrupted with the bytes that arrived, never as complete, and its file
// is left as it was found.
TEST_F(CaptureCli, DownloadCutByKillNineIsListedAsInterrupted) {
    constexpr std::size_t kDeclared = 64 << 20, kSent = 3 << 20;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    OriginServer origin([&](int socket, const OriginRequest&) {
        if (!sendAllBytes(socket, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                  "Content-Length: " +
                                      std::to_string(kDeclared) + "\r\n\r\n" +
                                      std::string(kSent, 'd')))
            return false;
        std::unique_lock lock(mutex);
        released.wait_for(lock, 60s, [&] { return release; });
        return false;
    });
    CaptureProcess capture(data.path(), config.path());
    const int port = capture.waitForPort();
    ASSERT_NE(port, 0) << capture.output << capture.errors;
    std::thread download(
        [&] { runCurl(proxied(port, origin.url("/big.bin"), scratch.path() + "/big.bin")); });
    const bool stored = waitForStoredBytes(cacheFolder(data.path()), kSent);
    EXPECT_EQ(capture.stop(SIGKILL), -1);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    download.join();
    ASSERT_TRUE(stored) << capture.errors;

    // The cut capture's own file, in the run folder of the killed process.
    std::string file;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(cacheFolder(data.path())))
        if (entry.path().filename() == "R0000000001.dat")
            file = entry.path();
    ASSERT_FALSE(file.empty());
    const auto before = std::filesystem::file_size(file);
    ScopedEnv dataHome("XDG_DATA_HOME", data.path().c_str());
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    NoSettings settings;
    Document document(ui, delivery, settings);
    ASSERT_TRUE(document.newDocument(Document::FolderUse::Read));
    ASSERT_EQ(document.resources.count, 1u);
    HttpResource& cut = *document.resources.head;
    EXPECT_EQ(cut.result, kErrorCaptureInterrupted);
    EXPECT_EQ(cut.statusCode, 200);
    EXPECT_EQ(cut.contentLength, std::int64_t(kDeclared));
    EXPECT_GT(cut.receivedSize, std::int64_t(kSent) - 4096); // less only the heads
    EXPECT_LT(cut.receivedSize, std::int64_t(kDeclared));
    EXPECT_EQ(cut.receivedSize, std::int64_t(before) - cut.responseBodyOffset);
    CollectingOutputStream body;
    EXPECT_FALSE(cut.copyBody(body, false));
    EXPECT_EQ(std::filesystem::file_size(file), before);
}

// Two captures on one cache folder would number alike and overwrite each
// other: the second refuses at once, naming the folder.
TEST_F(CaptureCli, SecondCaptureOnTheFolderRefuses) {
    CaptureProcess first(data.path(), config.path());
    ASSERT_NE(first.waitForPort(), 0) << first.errors;
    CaptureProcess second(data.path(), config.path());
    EXPECT_EQ(second.finish(), 1);
    EXPECT_NE(second.errors.find(cacheFolder(data.path())), std::string::npos) << second.errors;
    EXPECT_EQ(second.output.find("Capturing"), std::string::npos);
    EXPECT_EQ(first.stop(SIGINT), 0) << first.errors;
    EXPECT_NE(first.output.find("0 exchanges captured"), std::string::npos) << first.output;
}

// The proxy serves the user who runs it, whoever that is: run by nobody, it
// refuses root's programs as it would anyone else's.
TEST_F(CaptureCli, TheProxyServesItsOwnUserOnly) {
    if (!canRunAsNobody())
        GTEST_SKIP() << "running the capture as another user needs root and setpriv";
    for (const TempFolder* folder : {&data, &config})
        ASSERT_EQ(::chown(folder->path().c_str(), 65534, 65534), 0);
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("secret")));
    CaptureProcess nobodys(data.path(), config.path(), asNobody());
    const int port = nobodys.waitForPort();
    ASSERT_NE(port, 0) << nobodys.errors;
    const CurlResult result =
        runCurl({"-i", "--noproxy", "", "--proxy", "http://127.0.0.1:" + std::to_string(port),
                 "http://127.0.0.1:" + std::to_string(origin.port()) + "/"});
    EXPECT_EQ(result.output.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << result.output;
    EXPECT_NE(result.output.find(loadString(IDS_OWN_USER_ONLY)), std::string::npos);
    EXPECT_TRUE(origin.requests().empty());
    EXPECT_EQ(nobodys.stop(SIGINT), 0) << nobodys.errors;
    char told[512];
    std::snprintf(told, sizeof told, loadString(IDS_USER_REFUSED), 0u);
    EXPECT_NE(nobodys.errors.find(told), std::string::npos) << nobodys.errors;
    EXPECT_NE(nobodys.output.find("0 exchanges captured"), std::string::npos) << nobodys.output;
}

// A browser that quits as soon as it starts (Chromium as root without
// --no-sandbox, a broken install) fails the command, saying so.
TEST_F(CaptureCli, ABrowserThatQuitsAtOnceFailsTheCapture) {
    const std::string chromium = scratch.path() + "/chromium";
    {
        std::ofstream script(chromium);
        script << "#!/bin/sh\necho 'Running as root without --no-sandbox is not supported.' >&2\n"
                  "exit 1\n";
    }
    std::filesystem::permissions(chromium, std::filesystem::perms::owner_all);
    const ProgramResult run =
        runProgram({TIDEWELL_BINARY_DIR "/cli/tidewell-capture", "--no-system-proxy", "--port", "0",
                    "--browser", "chromium"},
                   {"XDG_DATA_HOME=" + data.path(), "XDG_CONFIG_HOME=" + config.path(),
                    "TMPDIR=" + scratch.path(), "PATH=" + scratch.path() + ":/usr/bin:/bin"});
    EXPECT_EQ(run.exitCode, 1) << run.output << run.errors;
    EXPECT_EQ(run.output.find("Started"), std::string::npos) << run.output;
    char expected[256];
    std::snprintf(expected, sizeof expected, loadString(IDS_BROWSER_EXITED), "Chromium", 1);
    EXPECT_NE(run.errors.find(expected), std::string::npos) << run.errors;
}

// With the cache folder on a disk that fills up: every client gets every
// byte, the capture says once that captures are not being stored and why, and
// what it says it kept is what is in the folder.
TEST_F(CaptureCli, FullDiskIsReportedAndCountedTruly) {
    SmallDisk disk(6 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const std::string big(1500000, 'B'), small(20000, 's');
    OriginServer origin([&](int socket, const OriginRequest& request) {
        return sendAllBytes(socket,
                            OriginServer::okResponse(request.target == "/big" ? big : small));
    });
    CaptureProcess capture(disk.path(), config.path());
    const int port = capture.waitForPort();
    ASSERT_NE(port, 0) << capture.errors;
    constexpr int kDownloads = 12;
    for (int i = 0; i < kDownloads; ++i) {
        const std::string file = scratch.path() + "/download";
        const bool isBig = i % 2 == 0;
        ASSERT_EQ(runCurl(proxied(port, origin.url(isBig ? "/big" : "/small"), file)).exitCode, 0);
        EXPECT_EQ(std::filesystem::file_size(file), (isBig ? big : small).size()) << i;
    }
    const int status = capture.stop(SIGINT);
    const std::regex stopped("Stopped\\. ([0-9]+) exchanges captured.*; ([0-9]+) kept in .*; "
                             "([0-9]+) could not be stored: (.*)\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(capture.output, match, stopped)) << capture.output;
    EXPECT_EQ(std::stoi(match[1]), kDownloads);
    const std::size_t kept = std::stoul(match[2]);
    EXPECT_EQ(kept, cacheFiles(cacheFolder(disk.path())));
    EXPECT_EQ(kept + std::stoul(match[3]), std::size_t(kDownloads));
    EXPECT_EQ(match[4], errorText(ENOSPC));
    EXPECT_EQ(status, 3);
    // Told once, on a line of its own.
    const std::string problem = errorText(ENOSPC) + "\n";
    const auto first = capture.errors.find(problem);
    ASSERT_NE(first, std::string::npos) << capture.errors;
    EXPECT_EQ(capture.errors.find(problem, first + 1), std::string::npos) << capture.errors;
}

// The command speaks the user's language: --lang first, then the choice saved by the desktop
// program, then the locale; every line of one run in the same language.
TEST_F(CaptureCli, SpeaksTheLanguageOfTheUser) {
    const std::string command = TIDEWELL_BINARY_DIR "/cli/tidewell-capture";
    const std::string configHome = "XDG_CONFIG_HOME=" + config.path();
    const std::string chinese = loadString(IDS_CLI_USAGE, Language::Chinese);
    const std::string english = loadString(IDS_CLI_USAGE, Language::English);
    struct Case {
        std::vector<std::string> arguments;
        const char* locale;
        const std::string& help;
    };
    const Case cases[] = {
        {{"--help"}, "zh_CN.UTF-8", chinese},
        {{"--help"}, "en_US.UTF-8", english},
        {{"--help"}, "de_DE.UTF-8", english},
        {{"--help", "--lang", "en"}, "zh_CN.UTF-8", english},
        {{"--lang", "zh", "--help"}, "en_US.UTF-8", chinese},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{command};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProgramResult run =
            runProgram(arguments, {configHome, "LANGUAGE=", std::string("LANG=") + c.locale});
        EXPECT_EQ(run.exitCode, 0) << c.locale;
        EXPECT_EQ(run.output, c.help) << c.locale << " " << c.arguments.back();
    }

    // A complaint about the command line comes in the language asked for, wherever --lang is.
    ProgramResult run = runProgram({command, "--port", "x", "--lang", "zh"}, {configHome});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.errors, "tidewell-capture: 不是端口号：x\n");
    run = runProgram({command, "--lang", "fr"}, {configHome});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.errors.find("--lang"), std::string::npos) << run.errors;

    // The desktop program's choice holds over the locale, --lang over both.
    ASSERT_TRUE(SettingsFile(config.path() + "/Merovex/Tidewell.conf")
                    .writeString("Software\\Merovex\\Tidewell\\Settings", "Language", "zh"));
    run = runProgram({command, "--help"}, {configHome, "LANGUAGE=en"});
    EXPECT_EQ(run.output, chinese);
    run = runProgram({command, "--help", "--lang", "en"}, {configHome});
    EXPECT_EQ(run.output, english);

    run = runProgram({command, "--version"}, {configHome});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, std::string("tidewell-capture ") + programVersion() + "\n");
}
