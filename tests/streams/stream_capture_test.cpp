// Streams played through the proxy by a real player (ffmpeg reading the
// playlist with http_proxy set) from a loopback origin, then saved from the
// capture: the saved file's decoded pictures and sound equal the source's.
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/QueuedEventDelivery.h"
#include "store/StoreTestKit.h"
#include "streams/StreamCatalog.h"
#include "streams/StreamSaver.h"
#include "support/DocumentStandIns.h"
#include "support/OriginServer.h"
#include "support/RunProgram.h"
#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <regex>
#include <set>

namespace fs = std::filesystem;

namespace {

bool run(const std::vector<std::string>& arguments, const std::vector<std::string>& env = {}) {
    const ProgramResult result = runProgram(arguments, env);
    EXPECT_EQ(result.exitCode, 0) << arguments[0] << " " << arguments.back() << ": "
                                  << result.errors;
    return result.exitCode == 0;
}

// The hash of each decoded picture ("v") or block of sound ("a") of a file.
std::vector<std::string> frameHashes(const std::string& file, const char* kind) {
    const ProgramResult result =
        runProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", file, "-map",
                    std::string("0:") + kind, "-f", "framemd5", "-"});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    std::vector<std::string> hashes;
    std::size_t at = 0;
    while (at < result.output.size()) {
        std::size_t end = result.output.find('\n', at);
        if (end == std::string::npos)
            end = result.output.size();
        const std::string line = result.output.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
    }
    return hashes;
}

double durationOf(const std::string& file) {
    const ProgramResult result =
        runProgram({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                    "default=noprint_wrappers=1:nokey=1", file});
    return std::atof(result.output.c_str());
}

// The sources every fixture is cut from, made once: four seconds of a test
// picture with a tone, and a smaller rendition of it.
struct Sources {
    TempFolder folder;
    std::string main = folder.path() + "/source.mkv";
    std::string small = folder.path() + "/small.mkv";
    bool made = false;

    Sources() {
        made = run({"ffmpeg",
                    "-hide_banner",
                    "-loglevel",
                    "error",
                    "-nostdin",
                    "-f",
                    "lavfi",
                    "-i",
                    "testsrc=size=320x240:rate=25:duration=4",
                    "-f",
                    "lavfi",
                    "-i",
                    "sine=frequency=440:sample_rate=44100:duration=4",
                    "-c:v",
                    "libx264",
                    "-preset",
                    "ultrafast",
                    "-g",
                    "25",
                    "-pix_fmt",
                    "yuv420p",
                    "-c:a",
                    "aac",
                    "-b:a",
                    "64k",
                    "-shortest",
                    main}) &&
               run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", main, "-vf",
                    "scale=160:120", "-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a",
                    "copy", small});
    }
};

Sources& sources() {
    static Sources s;
    return s;
}

const char* mediaTypeOf(const std::string& path) {
    const std::string extension = fs::path(path).extension().string();
    if (extension == ".m3u8")
        return "application/vnd.apple.mpegurl";
    if (extension == ".mpd")
        return "application/dash+xml";
    if (extension == ".ts")
        return "video/mp2t";
    if (extension == ".html")
        return "text/html; charset=utf-8";
    if (extension == ".m4s" || extension == ".mp4")
        return "video/mp4";
    return "application/octet-stream";
}

std::string fieldOf(const std::string& head, const std::string& name) {
    std::string folded = head;
    for (char& c : folded)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const auto at = folded.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    const auto start = at + name.size() + 3;
    std::string value = head.substr(start, head.find("\r\n", start) - start);
    while (!value.empty() && value.front() == ' ')
        value.erase(0, 1);
    return value;
}

struct StreamCapture : ::testing::Test {
    void SetUp() override {
        if (!sources().made)
            GTEST_SKIP() << "ffmpeg could not make the sources";
        site = scratch.path() + "/site";
        fs::create_directories(site);
        document = std::make_unique<Document>(ui, delivery, settings);
        ASSERT_TRUE(document->newDocument());
        document->proxy.manageSystemSettings = false;
        document->proxy.configuredPort = 0;
        ASSERT_TRUE(document->startCapture()) << errorText(lastError());
    }
    void TearDown() override {
        if (document) {
            document->stopCapture();
            document->closeCaptures(false);
        }
    }

    // Files of the site folder, byte ranges answered 206; a path in `refused`
    // is answered 404, and `dynamic` may answer any path itself.
    OriginServer::Handler files() {
        return [this](int socket, const OriginRequest& request) {
            const std::string path = request.target.substr(0, request.target.find('?'));
            if (dynamic) {
                std::string body;
                if (dynamic(path, body))
                    return sendAllBytes(
                        socket,
                        OriginServer::okResponse(
                            body, "Content-Type: " + std::string(mediaTypeOf(path)) + "\r\n"));
            }
            const std::string file = site + path;
            if (refused.count(path) || !fs::is_regular_file(file))
                return sendAllBytes(socket, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            const std::string bytes = readFile(file);
            const std::string type = std::string("Content-Type: ") + mediaTypeOf(path) + "\r\n";
            std::smatch range;
            const std::string rangeField = fieldOf(request.head, "range");
            if (std::regex_match(rangeField, range, std::regex("bytes=([0-9]+)-([0-9]*)"))) {
                const std::size_t first = std::stoul(range[1]);
                std::size_t last = range[2].length() ? std::stoul(range[2]) : bytes.size() - 1;
                last = std::min(last, bytes.size() - 1);
                const std::string part = bytes.substr(first, last - first + 1);
                return sendAllBytes(socket,
                                    "HTTP/1.1 206 Partial Content\r\n" + type +
                                        "Content-Range: bytes " + std::to_string(first) + "-" +
                                        std::to_string(last) + "/" + std::to_string(bytes.size()) +
                                        "\r\nContent-Length: " + std::to_string(part.size()) +
                                        "\r\n\r\n" + part);
            }
            return sendAllBytes(socket, OriginServer::okResponse(bytes, type));
        };
    }

    // Plays `url` through the proxy as a player would, fetching every
    // stream of it.
    void play(const std::string& url, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"ffmpeg", "-hide_banner", "-loglevel", "error",
                                              "-nostdin"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        for (const char* a : {"-i", "URL", "-map", "0", "-c", "copy", "-f", "null", "-"})
            arguments.push_back(a);
        arguments[arguments.size() - 8] = url;
        const ProgramResult result = runProgram(
            arguments, {"http_proxy=http://127.0.0.1:" + std::to_string(document->proxy.port())});
        EXPECT_EQ(result.exitCode, 0) << result.errors;
    }

    void ffmpeg(std::vector<std::string> arguments, const std::string& folder) {
        arguments.insert(arguments.begin(),
                         {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin"});
        const std::string here = fs::current_path();
        fs::current_path(folder);
        run(arguments);
        fs::current_path(here);
    }

    // Stops capturing and finds the streams of everything captured.
    const std::vector<CapturedStream>& streams() {
        document->stopCapture();
        CaptureLocker lock(captureLock());
        for (HttpResource* r = document->resources.head; r; r = r->next)
            catalog.add(*r);
        return catalog.streams();
    }

    // The saved file holds every picture and sound of `source` (hashes equal,
    // and as long within one segment).
    void expectSameMedia(const std::string& saved, const std::string& source,
                         double segment = 1.0) {
        EXPECT_EQ(frameHashes(saved, "v"), frameHashes(source, "v")) << saved;
        EXPECT_EQ(frameHashes(saved, "a"), frameHashes(source, "a")) << saved;
        EXPECT_NEAR(durationOf(saved), durationOf(source), segment) << saved;
    }

    SaveResult save(const StreamVariant& variant, const std::string& path) {
        SaveOptions options;
        options.container = containerForPath(path);
        SaveResult result = saveStream(variant, path, options);
        EXPECT_TRUE(result.saved) << result.error;
        return result;
    }

    std::string output(const std::string& name) const { return scratch.path() + "/" + name; }

    ScopedDataHome home;
    TempFolder config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().c_str()};
    ScopedEnv gsettings{"GSETTINGS_BACKEND", "keyfile"};
    ScopedEnv noProxy{"no_proxy", nullptr};
    ScopedEnv noProxyUpper{"NO_PROXY", nullptr};
    TempFolder scratch;
    std::string site;
    std::set<std::string> refused;
    std::function<bool(const std::string& path, std::string& body)> dynamic;
    ScriptedDocumentUi ui;
    QueuedEventDelivery delivery;
    MemorySettings settings;
    std::unique_ptr<Document> document;
    StreamCatalog catalog;
};

// One-second segments of `source` as an HLS media playlist in `folder`.
const std::vector<std::string> kHlsTs = {
    "-c", "copy", "-f", "hls", "-hls_time", "1", "-hls_list_size", "0", "-hls_playlist_type",
    "vod"};

TEST_F(StreamCapture, HlsTransportStreamVariantsSavedInEachContainerAndByTheCommand) {
    fs::create_directories(site + "/hi");
    fs::create_directories(site + "/lo");
    auto hls = kHlsTs;
    hls.insert(hls.begin(), {"-i", sources().main});
    hls.push_back("index.m3u8");
    ffmpeg(hls, site + "/hi");
    hls[1] = sources().small;
    ffmpeg(hls, site + "/lo");
    writeFile(site + "/master.m3u8",
              "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x240\nhi/index.m3u8\n"
              "#EXT-X-STREAM-INF:BANDWIDTH=100000,RESOLUTION=160x120\nlo/index.m3u8\n");
    writeFile(site + "/watch.html", "<html><head><title>Fixture: Page</title></head></html>");
    OriginServer origin(files());
    ASSERT_EQ(runCurl({"--noproxy", "", "--proxy",
                       "http://127.0.0.1:" + std::to_string(document->proxy.port()), "--output",
                       output("page.html"), origin.url("/watch.html")})
                  .exitCode,
              0);
    play(origin.url("/master.m3u8"),
         {"-headers", "Referer: " + origin.url("/watch.html") + "\r\n"});

    const auto& found = streams();
    ASSERT_EQ(found.size(), 1u);
    const CapturedStream& stream = found[0];
    EXPECT_EQ(stream.title, "Fixture: Page");
    ASSERT_EQ(stream.variants.size(), 2u);
    EXPECT_EQ(stream.variants[0].capturedCount(), stream.variants[0].listedCount());
    EXPECT_EQ(stream.variants[1].capturedCount(), 4u);
    EXPECT_NEAR(stream.duration(), 4, 0.1);
    ASSERT_EQ(stream.defaultVariant(), 0);
    EXPECT_EQ(suggestedVideoName(stream, 0, ".mp4"), "Fixture_ Page 320x240.mp4");
    for (const char* name : {"hi.mp4", "hi.ts", "hi.mkv"}) {
        const SaveResult result = save(stream.variants[0], output(name));
        EXPECT_TRUE(result.missing.empty());
        expectSameMedia(output(name), sources().main);
        EXPECT_EQ(fs::status(output(name)).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }

    // The command reads the cache folder as the desktop program left it.
    document->closeCaptures(true);
    document.reset();
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + home.path(),
                                          "XDG_CONFIG_HOME=" + config.path()};
    const std::string program = TIDEWELL_BINARY_DIR "/cli/tidewell-capture";
    const ProgramResult list = runProgram({program, "--streams"}, env);
    ASSERT_EQ(list.exitCode, 0) << list.errors;
    const std::string id = std::to_string(stream.id);
    EXPECT_EQ(list.output, id + "\tHLS\t0:04\tFixture: Page\t[1] 320x240 4/4 segments\t"
                                "[2] 160x120 4/4 segments\n");
    const ProgramResult saved = runProgram(
        {program, "--lang", "en", "--save-stream", id, output("lo.mkv"), "--variant", "2"}, env);
    ASSERT_EQ(saved.exitCode, 0) << saved.errors;
    EXPECT_NE(saved.output.find("Saved " + output("lo.mkv") + " (0:04, 160x120)."),
              std::string::npos)
        << saved.output;
    expectSameMedia(output("lo.mkv"), sources().small);
    const ProgramResult unknown =
        runProgram({program, "--save-stream", "99999", output("x.mp4")}, env);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_FALSE(fs::exists(output("x.mp4")));
}

// AES-128-CBC with PKCS7 padding, as HLS encrypts whole segments.
std::string encrypt(const std::string& plain, const unsigned char* key, const unsigned char* iv) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    std::string out(plain.size() + 16, '\0');
    int n = 0, m = 0;
    EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr, key, iv);
    EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(out.data()), &n,
                      reinterpret_cast<const unsigned char*>(plain.data()), int(plain.size()));
    EVP_EncryptFinal_ex(context, reinterpret_cast<unsigned char*>(out.data()) + n, &m);
    EVP_CIPHER_CTX_free(context);
    out.resize(std::size_t(n + m));
    return out;
}

TEST_F(StreamCapture, HlsFragmentedMp4DecryptedWithTheCapturedKey) {
    ffmpeg({"-i", sources().main, "-c", "copy", "-f", "hls", "-hls_time", "1", "-hls_list_size",
            "0", "-hls_playlist_type", "vod", "-hls_segment_type", "fmp4", "index.m3u8"},
           site);
    // The first two segments carry their IV in the playlist; the rest use
    // their media sequence number.
    const unsigned char key[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                   '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    writeFile(site + "/key.bin", std::string(reinterpret_cast<const char*>(key), 16));
    const std::string listed = readFile(site + "/index.m3u8");
    std::string rewritten;
    std::int64_t sequence = 0;
    std::size_t at = 0;
    while (at < listed.size()) {
        const std::size_t end = listed.find('\n', at);
        const std::string line = listed.substr(at, end - at);
        at = end == std::string::npos ? listed.size() : end + 1;
        if (line.rfind("#EXTINF", 0) == 0 && sequence == 0)
            rewritten +=
                "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\",IV=0x000102030405060708090a0b0c0d0e0f\n";
        if (line.rfind("#EXTINF", 0) == 0 && sequence == 2)
            rewritten += "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\"\n";
        if (!line.empty() && line[0] != '#') {
            unsigned char iv[16] = {};
            if (sequence < 2)
                for (int i = 0; i < 16; ++i)
                    iv[i] = static_cast<unsigned char>(i);
            else
                iv[15] = static_cast<unsigned char>(sequence);
            writeFile(site + "/" + line, encrypt(readFile(site + "/" + line), key, iv));
            ++sequence;
        }
        rewritten += line + "\n";
    }
    writeFile(site + "/index.m3u8", rewritten);
    OriginServer origin(files());
    play(origin.url("/index.m3u8"), {"-allowed_extensions", "ALL"});

    const auto& found = streams();
    ASSERT_EQ(found.size(), 1u);
    const StreamVariant& variant = found[0].variants.at(0);
    EXPECT_EQ(variant.capturedCount(), variant.listedCount());
    ASSERT_EQ(variant.main.inits.size(), 1u);
    EXPECT_TRUE(variant.main.segments.at(0).key.aes128);
    save(variant, output("fmp4.mp4"));
    expectSameMedia(output("fmp4.mp4"), sources().main);
}

TEST_F(StreamCapture, DashSeparateAudioAndVideoMuxedIntoOneFile) {
    ffmpeg({"-i", sources().main, "-c", "copy", "-f", "dash", "-seg_duration", "1",
            "-adaptation_sets", "id=0,streams=v id=1,streams=a", "stream.mpd"},
           site);
    OriginServer origin(files());
    play(origin.url("/stream.mpd"));

    const auto& found = streams();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, CapturedStream::Dash);
    const StreamVariant& variant = found[0].variants.at(0);
    EXPECT_EQ(variant.label(), "320x240");
    ASSERT_TRUE(variant.audio);
    EXPECT_EQ(variant.capturedCount(), variant.listedCount());
    save(variant, output("dash.mp4"));
    expectSameMedia(output("dash.mp4"), sources().main);
}

TEST_F(StreamCapture, LivePlaylistCapturedAsItGrew) {
    ffmpeg({"-i", sources().main, "-c", "copy", "-f", "hls", "-hls_time", "1", "-hls_list_size",
            "0", "-hls_segment_filename", "s%d.ts", "full.m3u8"},
           site);
    std::vector<std::pair<std::string, std::string>> segments; // EXTINF line, name
    {
        const std::string listed = readFile(site + "/full.m3u8");
        std::smatch m;
        std::string rest = listed;
        while (std::regex_search(rest, m, std::regex("(#EXTINF:[^\n]*)\n([^#\n][^\n]*)\n"))) {
            segments.emplace_back(m[1], m[2]);
            rest = m.suffix();
        }
    }
    ASSERT_GE(segments.size(), 4u);
    // Each fetch of the playlist shows a window of three that moved on by
    // one, until the last one ends the list.
    std::mutex mutex;
    std::size_t fetches = 0;
    dynamic = [&](const std::string& path, std::string& body) {
        if (path != "/live.m3u8")
            return false;
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t first = std::min(fetches++, segments.size() - 3);
        body = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:" +
               std::to_string(first) + "\n";
        for (std::size_t i = first; i < first + 3; ++i)
            body += segments[i].first + "\n" + segments[i].second + "\n";
        if (first + 3 == segments.size())
            body += "#EXT-X-ENDLIST\n";
        return true;
    };
    OriginServer origin(files());
    play(origin.url("/live.m3u8"), {"-live_start_index", "0"});

    const auto& found = streams();
    ASSERT_EQ(found.size(), 1u);
    const StreamTrack& track = found[0].variants.at(0).main;
    EXPECT_TRUE(track.grew);
    EXPECT_EQ(track.segments.size(), segments.size());
    EXPECT_EQ(track.capturedCount(), segments.size());
    save(found[0].variants[0], output("live.mp4"));
    expectSameMedia(output("live.mp4"), sources().main);
}

TEST_F(StreamCapture, MissingSegmentLeavesAGapNamedInTheResult) {
    auto hls = kHlsTs;
    hls.insert(hls.begin(), {"-i", sources().main});
    hls.push_back("index.m3u8");
    ffmpeg(hls, site);
    refused = {"/index2.ts"};
    OriginServer origin(files());
    play(origin.url("/index.m3u8"));

    const auto& found = streams();
    ASSERT_EQ(found.size(), 1u);
    const StreamVariant& variant = found[0].variants.at(0);
    EXPECT_EQ(variant.capturedCount() + 1, variant.listedCount());
    const SaveResult result = save(variant, output("gap.mp4"));
    ASSERT_EQ(result.missing.size(), 1u);
    EXPECT_EQ(result.missing[0].firstSequence, 2);
    EXPECT_NE(describeMissing(variant, result.missing).find("0:02\u20130:03"), std::string::npos);
    // Every picture but the second second's, and the time kept.
    std::vector<std::string> expected = frameHashes(sources().main, "v");
    expected.erase(expected.begin() + 50, expected.begin() + 75);
    EXPECT_EQ(frameHashes(output("gap.mp4"), "v"), expected);
    EXPECT_NEAR(durationOf(output("gap.mp4")), 4, 1.0);

    // Cancelled half-way, or unable to write: nothing is left behind.
    std::atomic<bool> cancel{false};
    SaveOptions options;
    options.cancel = &cancel;
    options.progress = [&](std::int64_t, std::int64_t) { cancel = true; };
    const SaveResult cancelled = saveStream(variant, output("cancel.mp4"), options);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.saved);
    const SaveResult unwritable = saveStream(variant, output("no/such/folder.mp4"), {});
    EXPECT_FALSE(unwritable.saved);
    EXPECT_NE(unwritable.error.find(output("no/such/folder.mp4")), std::string::npos);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(scratch.path()))
        left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"site", "gap.mp4"}));
}

} // namespace
