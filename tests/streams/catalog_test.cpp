// Finding streams among captures: playlists by type or content, variants and
// renditions, live listings united, byte ranges, keys, and what is refused.
#include "resources/StringTable.h"
#include "store/CacheFolder.h"
#include "store/StoreTestKit.h"
#include "streams/StreamCatalog.h"
#include "streams/StreamSaver.h"
#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

namespace {

struct Catalog : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(folder.prepareCacheFolder()); }

    // One finished GET of `url` answered with `body`, handed to the catalog.
    HttpResource* add(const std::string& url, const std::string& type, const std::string& body,
                      const std::string& referer = {}, const std::string& answer = "200 OK",
                      const std::string& extra = {}) {
        std::string request = "GET " + url + " HTTP/1.1\r\nHost: h\r\n";
        if (!referer.empty())
            request += "Referer: " + referer + "\r\n";
        const std::string response = "HTTP/1.1 " + answer + "\r\nContent-Type: " + type +
                                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                                     extra;
        kept.push_back(capture(folder, request, "", response, body));
        catalog.add(*kept.back());
        return kept.back().get();
    }

    ScopedDataHome home;
    CacheFolder folder;
    std::vector<std::unique_ptr<HttpResource>> kept;
    StreamCatalog catalog;
};

std::string mediaPlaylist(std::int64_t first, int count, bool end,
                          const std::string& prefix = "s") {
    std::string text =
        "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(first) + "\n";
    for (int i = 0; i < count; ++i)
        text += "#EXTINF:4.0,\n" + prefix + std::to_string(first + i) + ".ts\n";
    return text + (end ? "#EXT-X-ENDLIST\n" : "");
}

TEST_F(Catalog, MasterPlaylistWithVariantsAudioAndThePagesTitle) {
    add("http://h/watch", "text/html; charset=utf-8",
        "<html><head><title>My Show &#124; Site</title></head></html>");
    HttpResource* master =
        add("http://h/v/master.m3u8", "application/vnd.apple.mpegurl",
            "#EXTM3U\n"
            "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",DEFAULT=YES,"
            "URI=\"audio.m3u8\"\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=3000000,RESOLUTION=1280x720,AUDIO=\"a\"\n"
            "hi.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360,AUDIO=\"a\"\n"
            "lo.m3u8\n",
            "http://h/watch");
    add("http://h/v/hi.m3u8", "application/x-mpegURL", mediaPlaylist(0, 3, true, "hi"),
        "http://h/watch");
    // Found by its content although served as plain text.
    add("http://h/v/audio.m3u8", "text/plain", mediaPlaylist(0, 3, true, "au"), "http://h/watch");
    add("http://h/v/hi0.ts", "application/octet-stream", "\x47 segment 0");
    add("http://h/v/hi2.ts", "video/mp2t", "\x47 segment 2");
    for (int i = 0; i < 3; ++i)
        add("http://h/v/au" + std::to_string(i) + ".ts", "video/mp2t", "\x47 audio");

    const auto& streams = catalog.streams();
    ASSERT_EQ(streams.size(), 1u);
    const CapturedStream& stream = streams[0];
    EXPECT_EQ(stream.id, master->id);
    EXPECT_EQ(stream.kind, CapturedStream::Hls);
    EXPECT_EQ(stream.title, "My Show | Site");
    ASSERT_EQ(stream.variants.size(), 2u);
    const StreamVariant& hi = stream.variants[0];
    EXPECT_EQ(hi.label(), "1280x720");
    EXPECT_EQ(hi.main.kind, StreamTrack::Video);
    ASSERT_TRUE(hi.audio);
    EXPECT_EQ(hi.audio->kind, StreamTrack::Audio);
    EXPECT_EQ(hi.capturedCount(), 5u);
    EXPECT_EQ(hi.listedCount(), 6u);
    EXPECT_FALSE(stream.variants[1].main.listed);
    EXPECT_EQ(stream.defaultVariant(), 0);
    EXPECT_DOUBLE_EQ(stream.duration(), 12);
    EXPECT_EQ(suggestedVideoName(stream, 0, ".mp4"), "My Show _ Site 1280x720.mp4");

    const auto runs = missingRuns(hi);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].firstSequence, 1);
    EXPECT_DOUBLE_EQ(runs[0].start, 4);
    EXPECT_DOUBLE_EQ(runs[0].end, 8);
    EXPECT_NE(describeMissing(hi, runs).find("0:04\u20130:08"), std::string::npos);

    // A variant whose playlist never arrived cannot be saved.
    const SaveResult result = saveStream(stream.variants[1], home.path() + "/lo.mp4", {});
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.error, loadString(IDS_STREAM_PLAYLIST_MISSING));
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/lo.mp4"));
}

TEST_F(Catalog, LivePlaylistListingsAreUnited) {
    const std::string url = "http://h/live/index.m3u8";
    add(url, "application/vnd.apple.mpegurl", mediaPlaylist(10, 3, false));
    add(url, "application/vnd.apple.mpegurl", mediaPlaylist(11, 3, false));
    add(url, "application/vnd.apple.mpegurl", mediaPlaylist(13, 3, true));
    for (int i = 10; i < 16; ++i)
        add("http://h/live/s" + std::to_string(i) + ".ts", "video/mp2t", "\x47");
    const auto& streams = catalog.streams();
    ASSERT_EQ(streams.size(), 1u);
    const StreamTrack& track = streams[0].variants.at(0).main;
    EXPECT_TRUE(track.grew);
    ASSERT_EQ(track.segments.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(track.segments[i].sequence, std::int64_t(10 + i));
        EXPECT_DOUBLE_EQ(track.segments[i].start, 4.0 * double(i));
    }
    EXPECT_EQ(track.capturedCount(), 6u);
    EXPECT_EQ(streams[0].title, "index");
}

TEST_F(Catalog, ByteRangesFromPartialAnswersOrTheWholeFile) {
    add("http://h/one.m3u8", "application/vnd.apple.mpegurl",
        "#EXTM3U\n#EXTINF:2,\n#EXT-X-BYTERANGE:4@0\nall.ts\n#EXTINF:2,\n#EXT-X-BYTERANGE:4\n"
        "all.ts\n#EXTINF:2,\n#EXT-X-BYTERANGE:2\nall.ts\n#EXT-X-ENDLIST\n");
    add("http://h/all.ts", "video/mp2t", "abcdEFGH", {}, "206 Partial Content",
        "Content-Range: bytes 0-7/10\r\n");
    {
        const auto& track = catalog.streams().at(0).variants.at(0).main;
        ASSERT_EQ(track.segments.size(), 3u);
        EXPECT_EQ(track.segments[1].piece.offset, 4);
        EXPECT_EQ(track.segments[1].piece.length, 4);
        EXPECT_FALSE(track.segments[2].present()); // bytes 8-9 were never fetched
    }
    HttpResource* whole = add("http://h/all.ts", "video/mp2t", "abcdEFGHij");
    const auto& track = catalog.streams().at(0).variants.at(0).main;
    EXPECT_EQ(track.segments[2].piece.resource, whole);
    EXPECT_EQ(track.segments[2].piece.offset, 8);
    EXPECT_EQ(track.capturedCount(), 3u);
}

TEST_F(Catalog, AKeyNotCapturedLeavesItsSegmentsMissing) {
    add("http://h/enc.m3u8", "application/vnd.apple.mpegurl",
        "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k.bin\"\n#EXTINF:2,\na.ts\n"
        "#EXT-X-KEY:METHOD=NONE\n#EXTINF:2,\nb.ts\n#EXT-X-ENDLIST\n");
    add("http://h/a.ts", "video/mp2t", "encrypted");
    add("http://h/b.ts", "video/mp2t", "plain");
    const auto& track = catalog.streams().at(0).variants.at(0).main;
    EXPECT_FALSE(track.segments[0].present());
    EXPECT_TRUE(track.segments[1].present());
    add("http://h/k.bin", "application/octet-stream", "0123456789abcdef");
    EXPECT_TRUE(catalog.streams().at(0).variants.at(0).main.segments[0].present());
}

TEST_F(Catalog, ProtectedStreamsAreRefusedAndNothingIsWritten) {
    add("http://h/sa.m3u8", "application/vnd.apple.mpegurl",
        "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n");
    add("http://h/drm.mpd", "application/dash+xml",
        "<MPD type=\"static\" mediaPresentationDuration=\"PT2S\"><Period><AdaptationSet "
        "contentType=\"video\"><ContentProtection schemeIdUri=\"urn:uuid:edef8ba9-79d6-4ace-a3c8-"
        "27dcd51d21ed\"/><Representation id=\"v\" width=\"8\" height=\"8\"><BaseURL>v.mp4</BaseURL>"
        "</Representation></AdaptationSet></Period></MPD>");
    add("http://h/a.ts", "video/mp2t", "x");
    add("http://h/v.mp4", "video/mp4", "x");
    const auto& streams = catalog.streams();
    ASSERT_EQ(streams.size(), 2u);
    const std::string target = home.path() + "/out.mp4";
    const SaveResult sampleAes = saveStream(streams[0].variants.at(0), target, {});
    EXPECT_EQ(sampleAes.error, loadString(IDS_STREAM_SAMPLE_AES));
    const SaveResult drm = saveStream(streams[1].variants.at(0), target, {});
    EXPECT_EQ(drm.error, loadString(IDS_STREAM_DRM));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(Catalog, OtherCapturesAreNoStreams) {
    add("http://h/page", "text/html", "#EXTM3U\n#EXTINF:1,\na.ts\n");
    add("http://h/data", "application/octet-stream", std::string(8192, '\x47'));
    add("http://h/x.m3u8", "application/vnd.apple.mpegurl", "not a playlist");
    add("http://h/gone.m3u8", "application/vnd.apple.mpegurl", mediaPlaylist(0, 1, true), {},
        "404 Not Found");
    EXPECT_TRUE(catalog.streams().empty());
    catalog.clear();
    EXPECT_TRUE(catalog.streams().empty());
}

} // namespace
