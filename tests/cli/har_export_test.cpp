// `tidewell-capture --har FILE`: exchanges captured through the real proxy
// with curl, kept in the cache folder, come out of the command as a HAR file
// whose bodies are the bytes the origin sent and the client posted.
#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/QueuedEventDelivery.h"
#include "support/Compression.h"
#include "support/DocumentStandIns.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"
#include "support/ScopedLanguage.h"

#include <gtest/gtest.h>

#include <fstream>
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
    struct stat st {};
    EXPECT_EQ(::stat((home.cacheFolder() + "R0000000001.dat").c_str(), &st), 0);
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

TEST_F(HarExport, RefusesWhileAnotherProcessHoldsTheFolder) {
    CacheFolder holder; // this test process captures into the folder
    ASSERT_TRUE(holder.prepareCacheFolder());
    const std::string har = scratch.path() + "/busy.har";
    const ProgramResult run = exportTo(har);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find(cacheFolderBusyText(home.cacheFolder(), int(::getpid()))),
              std::string::npos)
        << run.errors;
    struct stat st {};
    EXPECT_NE(::stat(har.c_str(), &st), 0);
}
