// The pieces a stream is listed in, as its playlist or manifest names them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Why a stream cannot be saved as it was captured.
enum class Protection {
    None,
    SampleAes, // HLS SAMPLE-AES: the samples inside the container are encrypted
    Drm,       // a key system (Widevine, PlayReady, FairPlay, Common Encryption)
};

// What the user is shown for it; empty for None.
inline const char* protectionName(Protection protection) {
    switch (protection) {
    case Protection::SampleAes:
        return "SAMPLE-AES";
    case Protection::Drm:
        return "DRM";
    case Protection::None:
        break;
    }
    return "";
}

// Whole-segment AES-128-CBC with PKCS7 padding (HLS METHOD=AES-128).
struct SegmentKey {
    bool aes128 = false;
    std::string uri; // resolved
    bool hasIv = false;
    std::array<std::uint8_t, 16> iv{};
};

// One listed piece: a whole resource or a byte range of it.
struct SegmentRef {
    std::string url; // resolved, without fragment
    std::int64_t rangeOffset = 0;
    std::int64_t rangeLength = -1; // -1: the whole resource
    SegmentKey key;
};

struct ListedSegment : SegmentRef {
    double duration = 0;       // seconds, as listed
    std::int64_t sequence = 0; // HLS media sequence number; DASH number or start time
    bool discontinuity = false;
    int initIndex = -1; // the init segment (EXT-X-MAP, DASH initialization) it follows
};
