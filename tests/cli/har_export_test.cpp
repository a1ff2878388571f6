// `tidewell-capture --har FILE`: exchanges captured through the real proxy
// with curl, kept in the cache folder, come out of the command as a HAR file
// whose bodies are the bytes the origin sent and the client posted.
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/CaptureRuns.h"
#include "store/Document.h"
#include "store/QueuedEventDelivery.h"
#include "support/Compression.h"
#include "support/DocumentStandIns.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"
#include "support/ScopedLanguage.h"
#include "support/SmallDisk.h"
#include "support/StoredCaptures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kCommand = TIDEWELL_BINARY_DIR "/cli/tidewell-capture";

std::string noise(std::size_t length) {
    std::mt19937 random(11);
    std::string out(length, '\0');
    for (char& c : out)
        c = char(random());
    return out;
}

struct HarExport : ::testing::Test {
    // Captures `run` through a capturing document and keeps them in the cache
    // folder, as a capture session that ended would.
    void captureAndKeep(const std::function<void(int proxyPort)>& run) {
        ScriptedDocumentUi ui;
        QueuedEventDelivery delivery;
        NoSettings settings;
        Document document(ui, delivery, settings);
        ASSERT_TRUE(document.newDocument());
        document.proxy.manageSystemSettings = false;
        document.proxy.configuredPort = 0;
        ASSERT_TRUE(document.startCapture()) << errorText(lastError());
        run(document.proxy.port());
        document.stopCapture(); // every exchange has ended
        document.closeCaptures(true);
    }

    // A GET of `url` through the capture at `port`, as a user's client sends it.
    static void fetch(int port, const std::string& url) {
        ASSERT_EQ(
            runCurl({"--proxy", "http://127.0.0.1:" + std::to_string(port), "-o", "/dev/null", url})
                .exitCode,
            0)
            << url;
    }

    ProgramResult exportTo(const std::string& path) {
        return runProgram({kCommand, "--har", path});
    }

    // The command's lines are read as the README quotes them.
    ScopedLanguage english{Language::English};
    ScopedDataHome home;
    TempFolder config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().c_str()};
    ScopedEnv gsettings{"GSETTINGS_BACKEND", "keyfile"};
    TempFolder scratch;
};

} // namespace

TEST_F(HarExport, KeptCapturesComeOutWithTheirBytes) {
    const std::string page = "<html>" + std::string(30000, 'x') + "中文</html>";
    const std::string image = noise(100000);
    OriginServer origin([&](int socket, const OriginRequest& request) {
        std::string answer;
        if (request.target == "/page")
            answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                     "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
                     chunked(gzipOf(page), 4096);
        else if (request.target == "/image.png")
            answer = OriginServer::okResponse(image, "Content-Type: image/png\r\n");
        else if (request.target == "/upload")
            answer =
                OriginServer::okResponse("{\"ok\":true}", "Content-Type: application/json\r\n");
        else
            answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        sendAllBytes(socket, answer);
        return true;
    });
    const std::string upload = noise(5000);
    std::ofstream(scratch.path() + "/upload", std::ios::binary) << upload;
    captureAndKeep([&](int port) {
        for (const char* path : {"/page", "/image.png", "/missing"})
            ASSERT_EQ(runCurl({"--proxy", "http://127.0.0.1:" + std::to_string(port), "-o",
                               "/dev/null", origin.url(path)})
                          .exitCode,
                      0);
        ASSERT_EQ(runCurl({"--proxy", "http://127.0.0.1:" + std::to_string(port), "-o", "/dev/null",
                           "-H", "Content-Type: application/octet-stream", "--data-binary",
                           "@" + scratch.path() + "/upload", origin.url("/upload")})
                      .exitCode,
                  0);
    });

    const std::string har = scratch.path() + "/all.har";
    const ProgramResult run = exportTo(har);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("Wrote 4 exchanges"), std::string::npos) << run.output;
    const HarCheck check = checkHar(har);
    ASSERT_EQ(check.problems, "");
    using Facts = std::vector<std::string>;
    EXPECT_EQ(check.facts(0, "url"), Facts{origin.url("/page")});
    EXPECT_EQ(check.contents.at(0), page);
    EXPECT_EQ(check.facts(0, "content")[0].substr(0, 5), "text ");
    EXPECT_EQ(check.contents.at(1), image);
    EXPECT_EQ(check.facts(2, "status")[0].substr(0, 4), "404 ");
    EXPECT_EQ(check.posts.at(3), upload);
    EXPECT_EQ(check.contents.at(3), "{\"ok\":true}");
    // The request heads are the ones the proxy received from curl.
    bool sawAgent = false;
    for (const std::string& header : check.facts(3, "request-header"))
        sawAgent = sawAgent || header.starts_with(hexOf("User-Agent") + " " + hexOf("curl/"));
    EXPECT_TRUE(sawAgent);
    // The captures are still there for the desktop program.
    EXPECT_TRUE(isStored(home.cacheFolder(), 1));
}

TEST_F(HarExport, EmptyFoldersAndBadTargets) {
    const std::string har = scratch.path() + "/empty.har";
    ProgramResult run = exportTo(har);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(checkHar(har).problems, "");

    run = exportTo(scratch.path() + "/missing/x.har");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("cannot write"), std::string::npos) << run.errors;

    run = runProgram({kCommand, "--har", har, "--port", "0"});
    EXPECT_EQ(run.exitCode, 2);
    run = runProgram({kCommand, "--har"});
    EXPECT_EQ(run.exitCode, 2);
}

// A pipe (`--har /dev/stdout | jq`, a shell's >(...)) is written into, not
// replaced by a file beside its reader; the count then goes to standard error.
TEST_F(HarExport, WritesIntoAPipe) {
    const ProgramResult run =
        runProgram({"sh", "-c", "exec \"$0\" --har /dev/fd/1 | cat", kCommand});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.errors.find("Wrote 0 exchanges"), std::string::npos) << run.errors;
    const std::string har = scratch.path() + "/piped.har";
    std::ofstream(har, std::ios::binary) << run.output;
    EXPECT_EQ(checkHar(har).problems, "") << run.output;
}

// Export only reads: beside the process that writes the folder (a running
// capture or the open desktop program), it exports without waiting for it.
TEST_F(HarExport, ReadsBesideTheProcessThatWritesTheFolder) {
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("kept")));
    captureAndKeep([&](int port) { fetch(port, origin.url("/kept")); });
    CacheFolder holder; // this test process writes the folder
    ASSERT_TRUE(holder.prepareCacheFolder());
    const std::string har = scratch.path() + "/beside.har";
    const ProgramResult run = exportTo(har);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.output.find("Wrote 1 exchanges"), std::string::npos) << run.output;
    EXPECT_EQ(checkHar(har).problems, "");
}

// One damaged field of one record: that capture is left out, its file left
// exactly as it was, and the command says so with the folder, and exits 3.
TEST_F(HarExport, DamagedFileIsLeftCountedAndSaid) {
    OriginServer origin([](int socket, const OriginRequest& request) {
        return sendAllBytes(socket, OriginServer::okResponse("body of " + request.target));
    });
    captureAndKeep([&](int port) {
        for (const char* path : {"/1", "/2", "/3", "/4"})
            fetch(port, origin.url(path));
    });
    // The second capture's frame in the run's log, one byte of its image
    // changed.
    std::string damaged;
    for (const auto& entry : std::filesystem::directory_iterator(home.cacheFolder()))
        if (entry.is_directory())
            damaged = entry.path().string() + "/" + CaptureRuns::kLogName;
    std::vector<std::int64_t> offsets;
    std::size_t alreadyDamaged = 0;
    CaptureLog::read(
        damaged, [&](const CaptureLog::Frame& frame) { offsets.push_back(frame.offset); },
        alreadyDamaged);
    ASSERT_EQ(offsets.size(), 4u);
    std::string bytes;
    {
        std::ifstream in(damaged, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    bytes[std::size_t(offsets[1]) + 30] ^= 0x5a;
    std::ofstream(damaged, std::ios::binary) << bytes;

    const std::string har = scratch.path() + "/damaged.har";
    const ProgramResult run = exportTo(har);
    EXPECT_EQ(run.exitCode, 3) << run.errors;
    EXPECT_NE(run.output.find("Wrote 3 exchanges"), std::string::npos) << run.output;
    char said[1024];
    std::snprintf(said, sizeof said, loadString(IDS_FILE_SKIPPED), home.cacheFolder().c_str());
    EXPECT_NE(run.errors.find(said), std::string::npos) << run.errors;
    const HarCheck check = checkHar(har);
    ASSERT_EQ(check.problems, "");
    EXPECT_EQ(check.contents.at(1), "body of /3");
    std::ifstream in(damaged, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
}

// `--har -`: the log is all that goes to standard output.
TEST_F(HarExport, DashIsStandardOutput) {
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("to stdout")));
    captureAndKeep([&](int port) { fetch(port, origin.url("/out")); });
    const ProgramResult run = exportTo("-");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_NE(run.errors.find("Wrote 1 exchanges"), std::string::npos) << run.errors;
    const std::string har = scratch.path() + "/stdout.har";
    std::ofstream(har, std::ios::binary) << run.output;
    const HarCheck check = checkHar(har);
    ASSERT_EQ(check.problems, "") << run.output;
    EXPECT_EQ(check.contents.at(0), "to stdout");
    struct stat st {};
    EXPECT_NE(::stat((scratch.path() + "/-").c_str(), &st), 0);
}

// A cache folder on a read-only file system is exported; capturing into it
// refuses at once, naming the folder and saying what still works.
TEST_F(HarExport, ReadOnlyFolderIsExportedAndNotCapturedInto) {
    SmallDisk disk(1 << 20);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ScopedEnv dataHome("XDG_DATA_HOME", disk.path().c_str());
    OriginServer origin(OriginServer::reply(OriginServer::okResponse("read only")));
    captureAndKeep([&](int port) { fetch(port, origin.url("/ro")); });
    ASSERT_TRUE(disk.remountReadOnly());
    const std::string har = scratch.path() + "/ro.har";
    ProgramResult run = exportTo(har);
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(checkHar(har).contents.at(0), "read only");

    run = runProgram({kCommand, "--no-system-proxy", "--port", "0"});
    EXPECT_EQ(run.exitCode, 1);
    char said[1024];
    std::snprintf(said, sizeof said, loadString(IDS_CACHE_FOLDER_READ_ONLY),
                  (disk.path() + "/Merovex/Tidewell/Cache/").c_str());
    EXPECT_NE(run.errors.find(said), std::string::npos) << run.errors;
    EXPECT_EQ(run.output.find("Capturing"), std::string::npos) << run.output;
}

// Usage errors exit 2 and say what was wrong.
TEST_F(HarExport, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> arguments;
        unsigned text;
        const char* argument;
    };
    const Case cases[] = {
        {{"--port"}, IDS_OPTION_NEEDS_VALUE, "--port"},
        {{"--har", ""}, IDS_OPTION_NEEDS_VALUE, "--har"},
        {{"--no-system-proxy", "--browser"}, IDS_OPTION_NEEDS_VALUE, "--browser"},
        {{"--colour"}, IDS_CLI_UNKNOWN_ARGUMENT, "--colour"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{kCommand};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProgramResult run = runProgram(arguments);
        EXPECT_EQ(run.exitCode, 2) << c.argument;
        char said[256];
        std::snprintf(said, sizeof said, loadString(c.text), c.argument);
        EXPECT_NE(run.errors.find(said), std::string::npos) << run.errors;
        EXPECT_EQ(run.output, "") << c.argument;
    }
    const ProgramResult help = runProgram({kCommand, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("2 for a usage error"), std::string::npos) << help.output;
}
