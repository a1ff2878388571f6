// Reading playlists and manifests, resolving their addresses, and naming the
// saved file: tables of inputs and what must come out.
#include "streams/CapturedStream.h"
#include "streams/DashManifest.h"
#include "streams/HlsPlaylist.h"
#include "streams/StreamCatalog.h"
#include "streams/StreamUrl.h"

#include <gtest/gtest.h>

namespace {

TEST(StreamUrl, ResolvesReferencesAsRfc3986Does) {
    const char* base = "http://a/b/c/d;p?q";
    const struct {
        const char* reference;
        const char* expected;
    } rows[] = {
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g#s", "http://a/b/c/g"},
        {"", "http://a/b/c/d;p?q"},
        {"../g", "http://a/b/g"},
        {"../../../g", "http://a/g"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"https://cdn/x.ts", "https://cdn/x.ts"},
        {".", "http://a/b/c/"},
        {"..", "http://a/b/"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(resolveUrl(base, row.reference), row.expected) << row.reference;
    EXPECT_EQ(baseNameOf("http://h/videos/My%20Clip.m3u8?x=1"), "My Clip");
    EXPECT_EQ(baseNameOf("http://h/"), "h");
}

TEST(HlsPlaylist, MasterListsVariantsAndRenditionsResolved) {
    const std::string text = "\xEF\xBB\xBF#EXTM3U\r\n"
                             "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"English, main\","
                             "DEFAULT=YES,URI=\"audio/en.m3u8\"\r\n"
                             "#EXT-X-STREAM-INF:BANDWIDTH=2000000,RESOLUTION=1280x720,"
                             "CODECS=\"avc1.64001f,mp4a.40.2\",AUDIO=\"aud\"\r\n"
                             "hi/index.m3u8\r\n"
                             "#EXT-X-STREAM-INF:BANDWIDTH=500000\r\n"
                             "/lo.m3u8?t=1\r\n";
    HlsPlaylist playlist;
    std::string error;
    ASSERT_TRUE(parseHlsPlaylist(text, "http://h/v/master.m3u8", playlist, error)) << error;
    EXPECT_TRUE(playlist.master);
    ASSERT_EQ(playlist.variants.size(), 2u);
    EXPECT_EQ(playlist.variants[0].uri, "http://h/v/hi/index.m3u8");
    EXPECT_EQ(playlist.variants[0].width, 1280);
    EXPECT_EQ(playlist.variants[0].height, 720);
    EXPECT_EQ(playlist.variants[0].codecs, "avc1.64001f,mp4a.40.2");
    EXPECT_EQ(playlist.variants[0].audioGroup, "aud");
    EXPECT_EQ(playlist.variants[1].uri, "http://h/lo.m3u8?t=1");
    EXPECT_EQ(playlist.variants[1].bandwidth, 500000);
    ASSERT_EQ(playlist.renditions.size(), 1u);
    EXPECT_EQ(playlist.renditions[0].name, "English, main");
    EXPECT_EQ(playlist.renditions[0].uri, "http://h/v/audio/en.m3u8");
    EXPECT_TRUE(playlist.renditions[0].isDefault);
}

TEST(HlsPlaylist, MediaPlaylistSegmentsKeysRangesAndMaps) {
    const std::string text = "#EXTM3U\n"
                             "#EXT-X-TARGETDURATION:4\n"
                             "#EXT-X-MEDIA-SEQUENCE:7\n"
                             "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\n"
                             "#EXT-X-KEY:METHOD=AES-128,URI=\"k1\",IV=0x0102\n"
                             "#EXTINF:4.0,\n"
                             "#EXT-X-BYTERANGE:1000@720\n"
                             "all.mp4\n"
                             "#EXTINF:3.5,title\n"
                             "#EXT-X-BYTERANGE:500\n"
                             "all.mp4\n"
                             "#EXT-X-KEY:METHOD=NONE\n"
                             "#EXT-X-DISCONTINUITY\n"
                             "#EXTINF:2,\n"
                             "seg3.m4s\n"
                             "#EXT-X-ENDLIST\n";
    HlsPlaylist p;
    std::string error;
    ASSERT_TRUE(parseHlsPlaylist(text, "http://h/a/b.m3u8", p, error)) << error;
    EXPECT_FALSE(p.master);
    EXPECT_TRUE(p.endList);
    EXPECT_EQ(p.targetDuration, 4);
    ASSERT_EQ(p.inits.size(), 1u);
    EXPECT_EQ(p.inits[0].url, "http://h/a/init.mp4");
    EXPECT_EQ(p.inits[0].rangeLength, 720);
    ASSERT_EQ(p.segments.size(), 3u);
    const auto& s = p.segments;
    EXPECT_EQ(s[0].sequence, 7);
    EXPECT_EQ(s[2].sequence, 9);
    EXPECT_EQ(s[0].rangeOffset, 720);
    EXPECT_EQ(s[0].rangeLength, 1000);
    EXPECT_EQ(s[1].rangeOffset, 1720); // follows the previous range of the same resource
    EXPECT_EQ(s[1].rangeLength, 500);
    EXPECT_EQ(s[2].rangeLength, -1);
    EXPECT_DOUBLE_EQ(s[1].duration, 3.5);
    EXPECT_TRUE(s[0].key.aes128);
    EXPECT_TRUE(s[0].key.hasIv);
    EXPECT_EQ(s[0].key.iv[14], 0x01);
    EXPECT_EQ(s[0].key.iv[15], 0x02);
    EXPECT_EQ(s[0].key.uri, "http://h/a/k1");
    EXPECT_FALSE(s[2].key.aes128); // METHOD=NONE ends it
    EXPECT_TRUE(s[2].discontinuity);
    EXPECT_EQ(s[2].initIndex, 0);
    EXPECT_EQ(p.protection, Protection::None);
}

TEST(HlsPlaylist, ProtectionFromKeysAndSessionKeys) {
    const struct {
        const char* lines;
        Protection expected;
        bool identityKeyStays;
    } rows[] = {
        {"#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n", Protection::None, true},
        {"#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n", Protection::SampleAes, false},
        {"#EXT-X-KEY:METHOD=SAMPLE-AES-CTR,URI=\"k\"\n", Protection::SampleAes, false},
        {"#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n"
         "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://"
         "x\",KEYFORMAT=\"com.apple.streamingkeydelivery\"\n",
         Protection::Drm, true},
        {"#EXT-X-SESSION-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n", Protection::SampleAes, false},
    };
    for (const auto& row : rows) {
        HlsPlaylist p;
        std::string error;
        ASSERT_TRUE(parseHlsPlaylist(std::string("#EXTM3U\n") + row.lines + "#EXTINF:1,\ns.ts\n",
                                     "http://h/p.m3u8", p, error));
        EXPECT_EQ(p.protection, row.expected) << row.lines;
        ASSERT_EQ(p.segments.size(), 1u);
        EXPECT_EQ(p.segments[0].key.aes128, row.identityKeyStays) << row.lines;
    }
}

TEST(HlsPlaylist, RefusesWhatIsNoPlaylistAndBoundsWildValues) {
    HlsPlaylist p;
    std::string error;
    EXPECT_FALSE(parseHlsPlaylist("<html>", "http://h/", p, error));
    EXPECT_FALSE(parseHlsPlaylist("", "http://h/", p, error));
    ASSERT_TRUE(parseHlsPlaylist("#EXTM3U\n#EXT-X-STREAM-INF:RESOLUTION=99999999999x-5,"
                                 "BANDWIDTH=\n#EXTINF:-3,\n#EXTINF:nan\n#EXT-X-KEY:METHOD=AES-128,"
                                 "IV=0xZZ\n#EXT-X-BYTERANGE:x@y\nv.m3u8\n",
                                 "http://h/", p, error));
    ASSERT_EQ(p.variants.size(), 1u);
    EXPECT_LE(p.variants[0].width, 1 << 16);
    EXPECT_GE(p.variants[0].height, 0);
}

TEST(DashManifest, SegmentTemplateWithTimelineAndNumbers) {
    const std::string mpd = R"(<?xml version="1.0"?>
<MPD xmlns="urn:mpeg:dash:schema:mpd:2011" type="static" mediaPresentationDuration="PT6.0S">
 <BaseURL>media/</BaseURL>
 <Period id="0">
  <AdaptationSet contentType="video">
   <SegmentTemplate timescale="1000" initialization="init-$RepresentationID$.m4s"
     media="c-$RepresentationID$-$Number%05d$-$Time$.m4s" startNumber="3">
    <SegmentTimeline><S t="100" d="2000" r="1"/><S d="1000" r="-1"/></SegmentTimeline>
   </SegmentTemplate>
   <Representation id="v1" bandwidth="800000" width="640" height="360" codecs="avc1"/>
  </AdaptationSet>
  <AdaptationSet mimeType="audio/mp4">
   <Representation id="a1" bandwidth="64000">
    <SegmentTemplate timescale="10" duration="25" media="a$Number$.m4s" initialization="ai.m4s"/>
   </Representation>
  </AdaptationSet>
 </Period>
</MPD>)";
    DashManifest m;
    std::string error;
    ASSERT_TRUE(parseDashManifest(mpd, "http://h/x/stream.mpd", m, error)) << error;
    ASSERT_EQ(m.representations.size(), 2u);
    const auto& v = m.representations[0];
    EXPECT_EQ(v.contentType, "video");
    EXPECT_EQ(v.width, 640);
    ASSERT_EQ(v.inits.size(), 1u);
    EXPECT_EQ(v.inits[0].url, "http://h/x/media/init-v1.m4s");
    // 2 s twice, then 1 s until the end of the 6 s period: 100 + 4000 .. 6000.
    ASSERT_EQ(v.segments.size(), 4u);
    EXPECT_EQ(v.segments[0].url, "http://h/x/media/c-v1-00003-100.m4s");
    EXPECT_EQ(v.segments[1].url, "http://h/x/media/c-v1-00004-2100.m4s");
    EXPECT_EQ(v.segments[2].url, "http://h/x/media/c-v1-00005-4100.m4s");
    EXPECT_DOUBLE_EQ(v.segments[2].duration, 1.0);
    const auto& a = m.representations[1];
    EXPECT_EQ(a.contentType, "audio");
    ASSERT_EQ(a.segments.size(), 3u); // 2.5 s each over 6 s
    EXPECT_EQ(a.segments[0].url, "http://h/x/media/a1.m4s");
    EXPECT_DOUBLE_EQ(a.segments[2].duration, 1.0);
}

TEST(DashManifest, SegmentListBaseProtectionAndPeriods) {
    const std::string mpd = R"(<MPD type="static" mediaPresentationDuration="PT10S">
 <Period duration="PT4S">
  <AdaptationSet contentType="video">
   <ContentProtection schemeIdUri="urn:mpeg:dash:mp4protection:2011" value="cenc"/>
   <Representation id="v" bandwidth="1">
    <BaseURL>https://cdn/v.mp4</BaseURL>
    <SegmentList timescale="1" duration="2">
     <Initialization sourceURL="v.mp4" range="0-99"/>
     <SegmentURL media="v.mp4" mediaRange="100-199"/>
     <SegmentURL media="v.mp4" mediaRange="200-299"/>
    </SegmentList>
   </Representation>
  </AdaptationSet>
  <AdaptationSet contentType="audio">
   <Representation id="a" bandwidth="1"><BaseURL>a.mp4</BaseURL><SegmentBase indexRange="0-10"/></Representation>
  </AdaptationSet>
 </Period>
 <Period duration="PT6S">
  <AdaptationSet contentType="audio">
   <Representation id="a" bandwidth="1"><BaseURL>a2.mp4</BaseURL></Representation>
  </AdaptationSet>
 </Period>
</MPD>)";
    DashManifest m;
    std::string error;
    ASSERT_TRUE(parseDashManifest(mpd, "http://h/m.mpd", m, error)) << error;
    ASSERT_EQ(m.representations.size(), 2u);
    const auto& v = m.representations[0];
    EXPECT_EQ(v.protection, Protection::Drm);
    ASSERT_EQ(v.segments.size(), 2u);
    EXPECT_EQ(v.inits[0].rangeLength, 100);
    EXPECT_EQ(v.segments[1].url, "https://cdn/v.mp4");
    EXPECT_EQ(v.segments[1].rangeOffset, 200);
    EXPECT_EQ(v.segments[1].rangeLength, 100);
    const auto& a = m.representations[1]; // both periods, one after the other
    ASSERT_EQ(a.segments.size(), 2u);
    EXPECT_EQ(a.segments[0].url, "http://h/a.mp4");
    EXPECT_DOUBLE_EQ(a.segments[0].duration, 4);
    EXPECT_EQ(a.segments[1].url, "http://h/a2.mp4");
    EXPECT_TRUE(a.segments[1].discontinuity);
    EXPECT_EQ(a.protection, Protection::None);

    EXPECT_FALSE(parseDashManifest("<html/>", "http://h/", m, error));
    EXPECT_FALSE(parseDashManifest("<MPD><unclosed", "http://h/", m, error));
}

TEST(DashManifest, IsoDurations) {
    const struct {
        const char* text;
        double seconds;
    } rows[] = {{"PT6.0S", 6}, {"PT1H2M3.5S", 3723.5}, {"P1DT1S", 86401}, {"PT", 0}, {"6S", -1},
                {"P1M", -1},   {"PTxS", -1},           {"", -1}};
    for (const auto& row : rows)
        EXPECT_DOUBLE_EQ(parseIsoDuration(row.text), row.seconds) << row.text;
}

TEST(StreamNames, PageTitleAndFileName) {
    EXPECT_EQ(
        htmlTitle("<html><head><TITLE lang=en>\n  Tom &amp; Jerry &#8211; &#x41;\n</title>", ""),
        "Tom & Jerry \u2013 A");
    EXPECT_EQ(htmlTitle("<titles>no</titles>", ""), "");
    // GBK bytes of 视频, named by the page itself.
    EXPECT_EQ(htmlTitle("<meta charset=\"gbk\"><title>\xCA\xD3\xC6\xB5</title>", ""), "视频");
    EXPECT_EQ(htmlTitle("<title>\xCA\xD3\xC6\xB5</title>", "gb2312"), "视频");

    CapturedStream stream;
    StreamVariant variant;
    variant.width = 1280;
    variant.height = 720;
    stream.variants.push_back(variant);
    const struct {
        std::string title;
        std::string expected;
    } rows[] = {
        {"Big Buck Bunny", "Big Buck Bunny 1280x720.mp4"},
        {"a/b:c*d?\"e\"<f>|g\\h", "a_b_c_d__e__f__g_h 1280x720.mp4"},
        {"..hidden  \t name..", "hidden name 1280x720.mp4"},
        {"\xE2\x80\xAEgpj.exe\x01", "gpj.exe 1280x720.mp4"},
        {"", "video 1280x720.mp4"},
        {"\xFF\xFE", "video 1280x720.mp4"},
    };
    for (const auto& row : rows) {
        stream.title = row.title;
        EXPECT_EQ(suggestedVideoName(stream, 0, ".mp4"), row.expected) << row.title;
    }
    stream.title = std::string(300, 'x') + "视频";
    const std::string cut = suggestedVideoName(stream, 0, ".mkv");
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 13), " 1280x720.mkv");
    EXPECT_EQ(formatDuration(3723.4), "1:02:03");
    EXPECT_EQ(formatDuration(59.6), "1:00");
}

} // namespace
