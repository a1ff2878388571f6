// The streams of the capture as the resource list shows them: fed every
// finished capture, it keeps the catalog and words each stream's row and
// each variant's.
#pragma once

#include "streams/StreamCatalog.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class HttpResource;

class StreamRows {
public:
    // Takes a listed resource in once its exchange is over; true when the
    // streams may have changed.
    bool note(HttpResource& resource);
    void clear();
    StreamCatalog& catalog() { return catalog_; }

    // Column texts in display order: title, kind, id, duration, segments
    // captured / listed, playlist address.
    static std::vector<std::string> streamCells(const CapturedStream& stream);
    static std::vector<std::string> variantCells(const CapturedStream& stream, int variant);
    // Nothing listed is missing.
    static bool complete(const StreamVariant& variant);

private:
    StreamCatalog catalog_;
    std::unordered_set<std::uint32_t> noted_;
};
