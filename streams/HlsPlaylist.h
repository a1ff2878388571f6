// HLS playlists (RFC 8216): master playlists with their variants and
// renditions, media playlists with their segments.
#pragma once

#include "streams/StreamModel.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct HlsPlaylist {
    struct Variant {
        std::string uri; // resolved
        std::int64_t bandwidth = 0;
        int width = 0;
        int height = 0;
        std::string codecs;
        std::string audioGroup;
    };
    struct Rendition {
        std::string type; // AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS
        std::string groupId;
        std::string name;
        std::string language;
        std::string uri; // resolved; empty when the rendition is muxed into the variant
        bool isDefault = false;
    };

    bool master = false;
    std::vector<Variant> variants;
    std::vector<Rendition> renditions;
    // The strongest protection any key (or session key) names.
    Protection protection = Protection::None;

    double targetDuration = 0;
    std::int64_t mediaSequence = 0;
    bool endList = false;
    std::vector<SegmentRef> inits; // EXT-X-MAP sections, in order
    std::vector<ListedSegment> segments;
};

// Fills `out` from the playlist text fetched from `url` (URIs in it are
// resolved against it). False with a reason in `error` when the text is no
// playlist; unknown tags are ignored, as clients must.
bool parseHlsPlaylist(std::string_view text, std::string_view url, HlsPlaylist& out,
                      std::string& error);
// True when `text` starts as a playlist does ("#EXTM3U", after a byte-order
// mark or white space).
bool looksLikeHlsPlaylist(std::string_view text);
