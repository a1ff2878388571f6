#include "streams/HlsPlaylist.h"

#include "engine/Text.h"
#include "streams/StreamUrl.h"

#include <cstdlib>
#include <map>

namespace {

// Beyond these a playlist is taken for garbage rather than held in memory.
constexpr std::size_t kMaxSegments = 1'000'000;
constexpr std::size_t kMaxVariants = 10'000;

std::string_view skipBomAndSpace(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                             text.front() == '\n'))
        text.remove_prefix(1);
    return text;
}

// NAME=value pairs separated by commas; quoted values may hold commas.
std::map<std::string, std::string> parseAttributes(std::string_view list) {
    std::map<std::string, std::string> out;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t eq = list.find('=', at);
        if (eq == std::string_view::npos)
            break;
        std::string name = trim(list.substr(at, eq - at));
        std::size_t cursor = eq + 1;
        std::string value;
        if (cursor < list.size() && list[cursor] == '"') {
            const std::size_t close = list.find('"', cursor + 1);
            const std::size_t end = close == std::string_view::npos ? list.size() : close;
            value = list.substr(cursor + 1, end - cursor - 1);
            cursor = close == std::string_view::npos ? list.size() : close + 1;
            const std::size_t comma = list.find(',', cursor);
            cursor = comma == std::string_view::npos ? list.size() : comma + 1;
        } else {
            const std::size_t comma = list.find(',', cursor);
            const std::size_t end = comma == std::string_view::npos ? list.size() : comma;
            value = trim(list.substr(cursor, end - cursor));
            cursor = comma == std::string_view::npos ? list.size() : comma + 1;
        }
        out[std::move(name)] = std::move(value);
        at = cursor;
    }
    return out;
}

std::string attribute(const std::map<std::string, std::string>& attributes, const char* name) {
    const auto it = attributes.find(name);
    return it == attributes.end() ? std::string() : it->second;
}

std::int64_t toInteger(std::string_view text, std::int64_t fallback = 0) {
    std::int64_t value = 0;
    return parseInteger(text, 10, 0, INT64_MAX, value) ? value : fallback;
}

double toSeconds(std::string_view text) {
    const std::string copy = trim(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    // A negative, infinite or absurd duration is no duration.
    return end != copy.c_str() && value >= 0 && value < 1e7 ? value : 0;
}

// "0x" and 32 hex digits; shorter values are right-aligned as numbers are.
bool parseIv(std::string_view text, std::array<std::uint8_t, 16>& iv) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    text.remove_prefix(2);
    if (text.size() > 32)
        return false;
    iv.fill(0);
    int nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int digit = hexDigitValue(text[text.size() - 1 - i]);
        if (digit < 0)
            return false;
        iv[15 - nibble / 2] |= std::uint8_t(nibble % 2 ? digit << 4 : digit);
        ++nibble;
    }
    return true;
}

// "n[@o]"; without an offset the range follows the previous one.
bool parseRange(std::string_view text, std::int64_t previousEnd, std::int64_t& offset,
                std::int64_t& length) {
    const std::size_t at = text.find('@');
    std::int64_t n = 0;
    if (!parseInteger(text.substr(0, at), 10, 0, INT64_MAX, n))
        return false;
    length = n;
    offset = previousEnd;
    if (at != std::string_view::npos) {
        std::int64_t o = 0;
        if (!parseInteger(text.substr(at + 1), 10, 0, INT64_MAX, o))
            return false;
        offset = o;
    }
    return true;
}

Protection protectionOf(const std::map<std::string, std::string>& attributes) {
    const std::string method = attribute(attributes, "METHOD");
    const std::string format = attribute(attributes, "KEYFORMAT");
    if (method.empty() || equalsIgnoreCase(method, "NONE"))
        return Protection::None;
    if (!format.empty() && !equalsIgnoreCase(format, "identity"))
        return Protection::Drm;
    if (equalsIgnoreCase(method, "AES-128"))
        return Protection::None;
    return equalsIgnoreCase(method.substr(0, 10), "SAMPLE-AES") ? Protection::SampleAes
                                                                : Protection::Drm;
}

void strengthen(Protection& current, Protection found) {
    if (int(found) > int(current))
        current = found;
}

} // namespace

bool looksLikeHlsPlaylist(std::string_view text) {
    return skipBomAndSpace(text).substr(0, 7) == "#EXTM3U";
}

bool parseHlsPlaylist(std::string_view text, std::string_view url, HlsPlaylist& out,
                      std::string& error) {
    out = HlsPlaylist{};
    text = skipBomAndSpace(text);
    if (text.substr(0, 7) != "#EXTM3U") {
        error = "no #EXTM3U line";
        return false;
    }
    SegmentKey key;
    bool pendingVariant = false;
    HlsPlaylist::Variant variant;
    ListedSegment segment;
    std::int64_t sequence = 0;
    std::int64_t previousRangeEnd = 0;
    std::string previousRangeUrl;
    int currentInit = -1;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trimView(text.substr(at, end - at));
        at = end + 1;
        if (line.empty())
            continue;
        if (line.front() != '#') {
            const std::string resolved = resolveUrl(url, line);
            if (pendingVariant) {
                if (out.variants.size() < kMaxVariants) {
                    variant.uri = resolved;
                    out.variants.push_back(variant);
                }
                pendingVariant = false;
            } else {
                if (out.segments.size() >= kMaxSegments) {
                    error = "too many segments";
                    return false;
                }
                segment.url = resolved;
                segment.key = key;
                segment.sequence = sequence++;
                segment.initIndex = currentInit;
                if (segment.rangeLength >= 0) {
                    if (segment.rangeOffset < 0)
                        segment.rangeOffset = previousRangeUrl == resolved ? previousRangeEnd : 0;
                    previousRangeEnd = segment.rangeOffset + segment.rangeLength;
                    previousRangeUrl = resolved;
                }
                out.segments.push_back(std::move(segment));
                segment = ListedSegment{};
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        const std::string_view tag = line.substr(0, colon);
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
        if (tag == "#EXT-X-STREAM-INF") {
            const auto attributes = parseAttributes(value);
            variant = HlsPlaylist::Variant{};
            variant.bandwidth = toInteger(attribute(attributes, "BANDWIDTH"));
            const std::string resolution = attribute(attributes, "RESOLUTION");
            const std::size_t x = resolution.find_first_of("xX");
            if (x != std::string::npos) {
                variant.width =
                    int(std::min<std::int64_t>(toInteger(resolution.substr(0, x)), 1 << 16));
                variant.height =
                    int(std::min<std::int64_t>(toInteger(resolution.substr(x + 1)), 1 << 16));
            }
            variant.codecs = attribute(attributes, "CODECS");
            variant.audioGroup = attribute(attributes, "AUDIO");
            pendingVariant = true;
            out.master = true;
        } else if (tag == "#EXT-X-MEDIA") {
            const auto attributes = parseAttributes(value);
            HlsPlaylist::Rendition rendition;
            rendition.type = attribute(attributes, "TYPE");
            rendition.groupId = attribute(attributes, "GROUP-ID");
            rendition.name = attribute(attributes, "NAME");
            rendition.language = attribute(attributes, "LANGUAGE");
            const std::string uri = attribute(attributes, "URI");
            if (!uri.empty())
                rendition.uri = resolveUrl(url, uri);
            rendition.isDefault = equalsIgnoreCase(attribute(attributes, "DEFAULT"), "YES");
            if (out.renditions.size() < kMaxVariants)
                out.renditions.push_back(std::move(rendition));
            out.master = true;
        } else if (tag == "#EXT-X-SESSION-KEY") {
            strengthen(out.protection, protectionOf(parseAttributes(value)));
        } else if (tag == "#EXT-X-TARGETDURATION") {
            out.targetDuration = toSeconds(value);
        } else if (tag == "#EXT-X-MEDIA-SEQUENCE") {
            out.mediaSequence = toInteger(value);
            sequence = out.mediaSequence;
        } else if (tag == "#EXTINF") {
            segment.duration = toSeconds(value.substr(0, value.find(',')));
        } else if (tag == "#EXT-X-BYTERANGE") {
            std::int64_t offset = 0, length = 0;
            if (parseRange(value, -1, offset, length)) {
                segment.rangeLength = length;
                segment.rangeOffset = offset;
            }
        } else if (tag == "#EXT-X-DISCONTINUITY") {
            segment.discontinuity = true;
        } else if (tag == "#EXT-X-KEY") {
            const auto attributes = parseAttributes(value);
            const Protection protection = protectionOf(attributes);
            strengthen(out.protection, protection);
            // A key of another key system beside the identity key leaves the
            // identity key in force.
            const std::string format = attribute(attributes, "KEYFORMAT");
            if (!format.empty() && !equalsIgnoreCase(format, "identity"))
                continue;
            key = SegmentKey{};
            const std::string method = attribute(attributes, "METHOD");
            if (equalsIgnoreCase(method, "AES-128")) {
                key.aes128 = true;
                key.uri = resolveUrl(url, attribute(attributes, "URI"));
                const std::string iv = attribute(attributes, "IV");
                key.hasIv = !iv.empty() && parseIv(iv, key.iv);
            }
        } else if (tag == "#EXT-X-MAP") {
            const auto attributes = parseAttributes(value);
            SegmentRef init;
            init.url = resolveUrl(url, attribute(attributes, "URI"));
            const std::string range = attribute(attributes, "BYTERANGE");
            if (!range.empty() && !parseRange(range, 0, init.rangeOffset, init.rangeLength))
                init.rangeLength = -1;
            init.key = key;
            out.inits.push_back(std::move(init));
            currentInit = int(out.inits.size()) - 1;
        } else if (tag == "#EXT-X-ENDLIST") {
            out.endList = true;
        }
    }
    if (out.master && !out.segments.empty()) {
        error = "both variants and segments";
        return false;
    }
    return true;
}
