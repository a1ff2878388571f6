// DASH manifests (ISO/IEC 23009-1 MPD): the representations and the segments
// each is fetched in.
#pragma once

#include "streams/StreamModel.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct DashManifest {
    struct Representation {
        std::string id;
        std::string contentType; // "video", "audio", "text" or empty
        std::string codecs;
        std::int64_t bandwidth = 0;
        int width = 0;
        int height = 0;
        Protection protection = Protection::None;
        std::vector<SegmentRef> inits; // at most one per period
        std::vector<ListedSegment> segments;
    };

    bool dynamic = false; // a live manifest, fetched again as it grows
    double duration = 0;  // seconds; 0 when unknown
    // Periods one after another: a representation of a later period with the
    // same id continues the earlier one.
    std::vector<Representation> representations;
};

// Fills `out` from the manifest text fetched from `url`. False with a reason
// in `error` when it is not a manifest.
bool parseDashManifest(std::string_view text, std::string_view url, DashManifest& out,
                       std::string& error);
// True when the start of `text` holds an MPD element.
bool looksLikeDashManifest(std::string_view text);
// An ISO 8601 duration ("PT1H2M3.5S") in seconds; -1 when it is not one.
double parseIsoDuration(std::string_view text);
