// A video or audio stream found in the capture: its variants, and for each
// the segments its playlists listed, with the captures that hold them.
#pragma once

#include "streams/StreamModel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class HttpResource;

// Where a listed piece was captured: the body of `resource` (codings undone)
// from `offset`, `length` bytes (-1: to its end). Null resource: missing.
struct CapturedPiece {
    HttpResource* resource = nullptr;
    std::int64_t offset = 0;
    std::int64_t length = -1;
};

struct CapturedSegment : ListedSegment {
    double start = 0; // seconds from the first listed segment
    CapturedPiece piece;
    CapturedPiece keyPiece; // for AES-128: the captured key
    bool present() const { return piece.resource && (!key.aes128 || keyPiece.resource); }
};

// One media playlist or DASH representation: what a player fetches for one
// picture or one sound.
struct StreamTrack {
    enum Kind { Muxed, Video, Audio };
    Kind kind = Muxed;
    std::string url;     // the media playlist, or the manifest
    bool listed = false; // its playlist was captured
    bool grew = false;   // captured more than once with different segments (live)
    Protection protection = Protection::None;
    std::vector<CapturedSegment> inits;
    std::vector<CapturedSegment> segments;

    std::size_t capturedCount() const;
    double duration() const;
};

struct StreamVariant {
    int width = 0;
    int height = 0;
    std::int64_t bandwidth = 0;
    std::string codecs;
    StreamTrack main;
    std::optional<StreamTrack> audio; // a separate audio track, muxed in when saved

    std::size_t capturedCount() const;
    std::size_t listedCount() const;
    Protection protection() const;
    // "1920x1080", or the bit rate ("128 kbps") when the size is not known.
    std::string label() const;
};

struct CapturedStream {
    enum Kind { Hls, Dash };
    std::uint32_t id = 0; // the sequence number of the capture of its top playlist
    Kind kind = Hls;
    std::string url;
    std::string title; // the referring page's title, else the playlist's name
    std::vector<StreamVariant> variants;

    // The variant saved unless another is asked for: the one with most
    // segments captured, the larger of equals. -1 without variants.
    int defaultVariant() const;
    // Of the default variant.
    double duration() const;
};

// "1:02:03" or "2:03".
std::string formatDuration(double seconds);
// `title` made safe for a file name, then the variant's resolution and the
// extension: "Big Buck Bunny 1280x720.mp4".
std::string suggestedVideoName(const CapturedStream& stream, int variant,
                               const std::string& extension);
