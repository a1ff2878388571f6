// Finds the streams of a capture: HLS playlists and DASH manifests (by media
// type or content), and the captures that hold the segments they list.
#pragma once

#include "streams/CapturedStream.h"
#include "streams/DashManifest.h"
#include "streams/HlsPlaylist.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

class HttpResource;

// Fed every capture whose exchange is over, in any order; the resources must
// outlive the catalog or be dropped with clear(). One thread at a time.
class StreamCatalog {
public:
    // Notes a finished capture; a playlist or manifest is read now. True when
    // the streams may have changed.
    bool add(HttpResource& resource);
    void clear();
    // The streams, in the order their top playlists were captured; rebuilt
    // when something was added since the last call.
    const std::vector<CapturedStream>& streams();
    // Null when there is no stream with that id.
    const CapturedStream* find(std::uint32_t id);

    // Limits on what is read from a capture.
    static constexpr std::size_t kMaxPlaylistBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxPageBytes = 1024 * 1024;

private:
    struct Capture {
        HttpResource* resource;
        // A 206 answer: the part of the whole it holds.
        bool partial = false;
        std::int64_t first = 0;
        std::int64_t end = 0; // exclusive
        std::int64_t total = -1;
    };
    struct Listing {
        std::uint32_t id = 0;
        std::string url;
        std::string referrer;
        bool dash = false;
        HlsPlaylist hls;
        DashManifest manifest;
    };

    void rebuild();
    void buildHls(const std::vector<const Listing*>& ofUrl, std::vector<CapturedStream>& out,
                  const std::map<std::string, std::vector<const Listing*>>& byUrl,
                  std::map<std::string, bool>& claimed);
    StreamTrack hlsTrack(const std::string& url,
                         const std::map<std::string, std::vector<const Listing*>>& byUrl,
                         StreamTrack::Kind kind);
    void buildDash(const std::vector<const Listing*>& ofUrl, std::vector<CapturedStream>& out);
    void resolve(StreamTrack& track);
    CapturedPiece find(const SegmentRef& ref) const;
    std::string titleFor(const Listing& listing);

    std::unordered_map<std::string, std::vector<Capture>> byUrl_;
    std::vector<Listing> listings_;
    std::unordered_map<std::string, std::string> titles_;
    std::vector<CapturedStream> streams_;
    bool dirty_ = false;
};

// Up to `limit` bytes of the body of `resource` with its codings undone;
// false when none could be read.
bool readBodyText(HttpResource& resource, std::size_t limit, std::string& out);
// The text of the first <title> element of an HTML page, entities decoded,
// in UTF-8 (converted from the page's charset when it names another).
std::string htmlTitle(std::string_view page, std::string_view contentTypeCharset);
