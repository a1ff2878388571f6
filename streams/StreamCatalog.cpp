#include "streams/StreamCatalog.h"

#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "engine/Text.h"
#include "store/HttpResource.h"
#include "store/JsonWriter.h"
#include "streams/StreamUrl.h"

#include <algorithm>
#include <cstring>
#include <iconv.h>
#include <set>

namespace {

// Keeps the first `limit` bytes and then refuses more, which ends the copy.
class LimitedCollector : public OutputStream {
public:
    explicit LimitedCollector(std::string& out, std::size_t limit) : out_(out), limit_(limit) {}
    bool write(const void* data, std::int32_t count) override {
        const std::size_t room = limit_ - out_.size();
        const std::size_t take = std::min<std::size_t>(room, std::size_t(count));
        out_.append(static_cast<const char*>(data), take);
        full_ = take < std::size_t(count) || out_.size() == limit_;
        return !full_;
    }
    bool flush() override { return true; }
    bool full() const { return full_; }

private:
    std::string& out_;
    std::size_t limit_;
    bool full_ = false;
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiToLower(c);
    return out;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

enum class Listed { No, Maybe, Yes };

// Whether a capture may be a playlist or manifest, from its media type and
// name; "Maybe" ones are sniffed.
Listed mayBePlaylist(const HttpResource& r) {
    static const char* const kPlaylistTypes[] = {
        "application/vnd.apple.mpegurl",
        "application/x-mpegurl",
        "audio/mpegurl",
        "audio/x-mpegurl",
        "application/dash+xml",
        "video/vnd.mpeg.dash.mpd",
    };
    for (const char* type : kPlaylistTypes)
        if (equalsIgnoreCase(r.contentType, type))
            return Listed::Yes;
    if (endsWith(r.url.path, ".m3u8") || endsWith(r.url.path, ".m3u") ||
        endsWith(r.url.path, ".mpd"))
        return Listed::Yes;
    static const char* const kVagueTypes[] = {
        "",
        "text/plain",
        "application/octet-stream",
        "binary/octet-stream",
        "application/xml",
        "text/xml",
    };
    for (const char* type : kVagueTypes)
        if (equalsIgnoreCase(r.contentType, type))
            return Listed::Maybe;
    return Listed::No;
}

// "bytes first-last/total" of a 206 answer.
bool contentRange(HttpResource& r, std::int64_t& first, std::int64_t& end, std::int64_t& total) {
    HttpResponseHeader head;
    if (!r.readResponseHeader(head))
        return false;
    const HttpHeaderField* field = head.get("Content-Range");
    if (!field)
        return false;
    std::string_view value = trimView(field->value);
    if (!equalsIgnoreCase(value.substr(0, 6), "bytes "))
        return false;
    value.remove_prefix(6);
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    std::int64_t a = 0, b = 0, t = -1;
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash ||
        !parseInteger(value.substr(0, dash), 10, 0, INT64_MAX - 1, a) ||
        !parseInteger(value.substr(dash + 1, slash - dash - 1), 10, 0, INT64_MAX - 1, b) || b < a)
        return false;
    if (value.substr(slash + 1) != "*" &&
        !parseInteger(value.substr(slash + 1), 10, 0, INT64_MAX, t))
        return false;
    first = a;
    end = b + 1;
    total = t;
    return true;
}

std::string charsetOf(std::string_view contentType) {
    const std::string text = lower(contentType);
    const std::size_t at = text.find("charset=");
    if (at == std::string::npos)
        return {};
    std::size_t from = at + 8;
    if (from < text.size() && (text[from] == '"' || text[from] == '\''))
        ++from;
    std::size_t to = from;
    while (to < text.size() && (std::isalnum(static_cast<unsigned char>(text[to])) ||
                                text[to] == '-' || text[to] == '_' || text[to] == ':'))
        ++to;
    return text.substr(from, to - from);
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// The character references and the few named entities titles use.
std::string decodeEntities(std::string_view text) {
    static const std::pair<const char*, std::uint32_t> kNamed[] = {
        {"amp", '&'},       {"lt", '<'},      {"gt", '>'},       {"quot", '"'},
        {"apos", '\''},     {"nbsp", 0xA0},   {"mdash", 0x2014}, {"ndash", 0x2013},
        {"hellip", 0x2026}, {"middot", 0xB7}, {"laquo", 0xAB},   {"raquo", 0xBB},
        {"copy", 0xA9},     {"reg", 0xAE},    {"trade", 0x2122},
    };
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '&') {
            const std::size_t semicolon = text.find(';', i + 1);
            if (semicolon != std::string_view::npos && semicolon - i <= 10) {
                const std::string_view name = text.substr(i + 1, semicolon - i - 1);
                std::int64_t code = -1;
                if (name.size() > 1 && name[0] == '#') {
                    const bool hex = name[1] == 'x' || name[1] == 'X';
                    std::int64_t value = 0;
                    const std::string_view digits = name.substr(hex ? 2 : 1);
                    if (!digits.empty() &&
                        parseInteger(digits, hex ? 16 : 10, 0, 0x10FFFF, value) == digits.size())
                        code = value;
                } else {
                    for (const auto& [entity, value] : kNamed)
                        if (name == entity)
                            code = value;
                }
                if (code >= 0) {
                    appendUtf8(out, std::uint32_t(code));
                    i = semicolon + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

std::string toUtf8(std::string_view bytes, const std::string& charset) {
    if (charset.empty() || charset == "utf-8" || charset == "utf8" || isValidUtf8(bytes) ||
        bytes.empty())
        return std::string(bytes);
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == iconv_t(-1))
        return std::string(bytes);
    std::string out(bytes.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* to = out.data();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (done == std::size_t(-1))
        return std::string(bytes);
    out.resize(out.size() - outLeft);
    return out;
}

bool isPage(const HttpResource& r) {
    return equalsIgnoreCase(r.contentType, "text/html") ||
           equalsIgnoreCase(r.contentType, "application/xhtml+xml");
}

template <typename T> void strengthen(Protection& current, T found) {
    if (int(found) > int(current))
        current = found;
}

std::string pieceKey(const SegmentRef& ref) {
    return ref.url + '\n' + std::to_string(ref.rangeOffset) + '\n' +
           std::to_string(ref.rangeLength);
}

// Adds `init` to `inits` once and returns its place.
int internInit(std::vector<CapturedSegment>& inits, std::map<std::string, int>& known,
               const SegmentRef& init) {
    const std::string key = pieceKey(init);
    const auto it = known.find(key);
    if (it != known.end())
        return it->second;
    CapturedSegment segment;
    static_cast<SegmentRef&>(segment) = init;
    inits.push_back(std::move(segment));
    known.emplace(key, int(inits.size()) - 1);
    return int(inits.size()) - 1;
}

void assignStarts(StreamTrack& track) {
    double start = 0;
    for (CapturedSegment& segment : track.segments) {
        segment.start = start;
        start += segment.duration;
    }
}

} // namespace

bool readBodyText(HttpResource& resource, std::size_t limit, std::string& out) {
    out.clear();
    LimitedCollector collector(out, limit);
    return resource.copyBody(collector, true) || collector.full();
}

std::string htmlTitle(std::string_view page, std::string_view contentTypeCharset) {
    const std::string folded = lower(page);
    std::size_t open = 0;
    for (;;) {
        open = folded.find("<title", open);
        if (open == std::string::npos)
            return {};
        const char after = open + 6 < folded.size() ? folded[open + 6] : '\0';
        if (after == '>' || after == ' ' || after == '\t' || after == '\n' || after == '\r')
            break;
        open += 6;
    }
    const std::size_t start = folded.find('>', open);
    if (start == std::string::npos)
        return {};
    const std::size_t close = folded.find("</title", start);
    if (close == std::string::npos)
        return {};
    std::string charset(contentTypeCharset);
    if (charset.empty()) {
        // A <meta charset> or http-equiv declaration near the top.
        const std::size_t meta = folded.find("charset=");
        if (meta != std::string::npos && meta < 4096)
            charset = charsetOf(std::string_view(folded).substr(meta));
    }
    const std::string text =
        decodeEntities(toUtf8(page.substr(start + 1, close - start - 1), charset));
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    // "\xC2\xA0" from &nbsp; at either end is white space too.
    while (out.size() >= 2 && out.compare(out.size() - 2, 2, "\xC2\xA0") == 0)
        out.resize(out.size() - 2);
    while (out.size() >= 2 && out.compare(0, 2, "\xC2\xA0") == 0)
        out.erase(0, 2);
    return out;
}

bool StreamCatalog::add(HttpResource& resource) {
    if ((resource.flags & HttpResource::Loading) || resource.tunnel || resource.result != 0 ||
        (resource.statusCode != 200 && resource.statusCode != 206))
        return false;
    const std::string url = withoutFragment(resource.url.toString());
    Capture capture{&resource};
    if (resource.statusCode == 206) {
        if (!contentRange(resource, capture.first, capture.end, capture.total))
            return false; // a part of something, but no telling which part
        // Players ask for "bytes=0-" and servers answer 206 with all of it.
        capture.partial = !(capture.first == 0 && capture.end == capture.total);
    }
    byUrl_[url].push_back(capture);
    dirty_ = dirty_ || !listings_.empty();

    const Listed listed = capture.partial ? Listed::No : mayBePlaylist(resource);
    if (listed == Listed::No)
        return dirty_;
    std::string text;
    if (listed == Listed::Maybe) {
        if (!readBodyText(resource, 4096, text) ||
            !(looksLikeHlsPlaylist(text) || looksLikeDashManifest(text)))
            return dirty_;
    }
    if (!readBodyText(resource, kMaxPlaylistBytes, text) || text.size() >= kMaxPlaylistBytes)
        return dirty_;
    Listing listing;
    listing.id = resource.id;
    listing.url = url;
    listing.referrer = withoutFragment(resource.referrer.toString());
    std::string error;
    if (looksLikeHlsPlaylist(text)) {
        if (!parseHlsPlaylist(text, url, listing.hls, error))
            return dirty_;
    } else if (looksLikeDashManifest(text)) {
        listing.dash = true;
        if (!parseDashManifest(text, url, listing.manifest, error))
            return dirty_;
    } else {
        return dirty_;
    }
    listings_.push_back(std::move(listing));
    dirty_ = true;
    return true;
}

void StreamCatalog::clear() {
    byUrl_.clear();
    listings_.clear();
    titles_.clear();
    streams_.clear();
    dirty_ = false;
}

const std::vector<CapturedStream>& StreamCatalog::streams() {
    if (dirty_)
        rebuild();
    return streams_;
}

const CapturedStream* StreamCatalog::find(std::uint32_t id) {
    for (const CapturedStream& stream : streams())
        if (stream.id == id)
            return &stream;
    return nullptr;
}

CapturedPiece StreamCatalog::find(const SegmentRef& ref) const {
    const auto it = byUrl_.find(ref.url);
    if (it == byUrl_.end())
        return {};
    // The latest capture first: a refetch is the one the player kept.
    for (auto c = it->second.rbegin(); c != it->second.rend(); ++c) {
        if (!c->partial) {
            if (ref.rangeLength < 0)
                return {c->resource, 0, -1};
            const std::int64_t length = c->resource->contentLength;
            if (length < 0 || ref.rangeOffset + ref.rangeLength <= length)
                return {c->resource, ref.rangeOffset, ref.rangeLength};
        } else if (ref.rangeLength < 0) {
            if (c->first == 0 && c->total >= 0 && c->end == c->total)
                return {c->resource, 0, -1};
        } else if (c->first <= ref.rangeOffset && ref.rangeOffset + ref.rangeLength <= c->end) {
            return {c->resource, ref.rangeOffset - c->first, ref.rangeLength};
        }
    }
    return {};
}

void StreamCatalog::resolve(StreamTrack& track) {
    auto resolveOne = [&](CapturedSegment& segment) {
        segment.piece = find(segment);
        if (segment.key.aes128) {
            SegmentRef key;
            key.url = segment.key.uri;
            segment.keyPiece = find(key);
        }
    };
    for (CapturedSegment& init : track.inits)
        resolveOne(init);
    for (CapturedSegment& segment : track.segments)
        resolveOne(segment);
}

std::string StreamCatalog::titleFor(const Listing& listing) {
    if (!listing.referrer.empty()) {
        const auto cached = titles_.find(listing.referrer);
        if (cached != titles_.end())
            return cached->second;
        const auto it = byUrl_.find(listing.referrer);
        if (it != byUrl_.end()) {
            for (auto c = it->second.rbegin(); c != it->second.rend(); ++c) {
                if (c->partial || !isPage(*c->resource))
                    continue;
                std::string page;
                if (!readBodyText(*c->resource, kMaxPageBytes, page))
                    continue;
                HttpResponseHeader head;
                std::string charset;
                if (c->resource->readResponseHeader(head))
                    if (const HttpHeaderField* type = head.get("Content-Type"))
                        charset = charsetOf(type->value);
                std::string title = htmlTitle(page, charset);
                if (!title.empty()) {
                    titles_[listing.referrer] = title;
                    return title;
                }
            }
        }
    }
    return baseNameOf(listing.url);
}

StreamTrack StreamCatalog::hlsTrack(const std::string& url,
                                    const std::map<std::string, std::vector<const Listing*>>& byUrl,
                                    StreamTrack::Kind kind) {
    StreamTrack track;
    track.kind = kind;
    track.url = url;
    const auto it = byUrl.find(url);
    if (it == byUrl.end())
        return track;
    // Every listing of a live playlist adds what it lists, by media sequence
    // number; the first listing of a number decides its details.
    std::map<std::int64_t, CapturedSegment> segments;
    std::map<std::string, int> knownInits;
    std::size_t largest = 0;
    for (const Listing* listing : it->second) {
        if (listing->dash || listing->hls.master)
            continue;
        track.listed = true;
        strengthen(track.protection, listing->hls.protection);
        largest = std::max(largest, listing->hls.segments.size());
        for (const ListedSegment& listed : listing->hls.segments) {
            if (segments.count(listed.sequence))
                continue;
            CapturedSegment segment;
            static_cast<ListedSegment&>(segment) = listed;
            if (listed.initIndex >= 0 && listed.initIndex < int(listing->hls.inits.size()))
                segment.initIndex = internInit(track.inits, knownInits,
                                               listing->hls.inits[std::size_t(listed.initIndex)]);
            segments.emplace(listed.sequence, std::move(segment));
        }
    }
    track.grew = segments.size() > largest;
    for (auto& [sequence, segment] : segments)
        track.segments.push_back(std::move(segment));
    assignStarts(track);
    resolve(track);
    return track;
}

void StreamCatalog::buildHls(const std::vector<const Listing*>& ofUrl,
                             std::vector<CapturedStream>& out,
                             const std::map<std::string, std::vector<const Listing*>>& byUrl,
                             std::map<std::string, bool>& claimed) {
    const Listing& master = *ofUrl.back();
    CapturedStream stream;
    stream.id = ofUrl.front()->id;
    stream.kind = CapturedStream::Hls;
    stream.url = master.url;
    stream.title = titleFor(*ofUrl.front());
    for (const HlsPlaylist::Rendition& rendition : master.hls.renditions)
        if (!rendition.uri.empty())
            claimed[rendition.uri] = true;
    for (const HlsPlaylist::Variant& entry : master.hls.variants) {
        claimed[entry.uri] = true;
        StreamVariant variant;
        variant.width = entry.width;
        variant.height = entry.height;
        variant.bandwidth = entry.bandwidth;
        variant.codecs = entry.codecs;
        variant.main = hlsTrack(entry.uri, byUrl,
                                entry.audioGroup.empty() ? StreamTrack::Muxed : StreamTrack::Video);
        strengthen(variant.main.protection, master.hls.protection);
        // The group's rendition with most captured, the default of equals;
        // a group without URIs is muxed into the variant.
        std::optional<StreamTrack> best;
        bool bestDefault = false;
        for (const HlsPlaylist::Rendition& rendition : master.hls.renditions) {
            if (rendition.type != "AUDIO" || rendition.groupId != entry.audioGroup ||
                rendition.uri.empty() || entry.audioGroup.empty())
                continue;
            StreamTrack audio = hlsTrack(rendition.uri, byUrl, StreamTrack::Audio);
            const auto score = std::make_pair(audio.capturedCount(), rendition.isDefault);
            if (!best || score > std::make_pair(best->capturedCount(), bestDefault)) {
                best = std::move(audio);
                bestDefault = rendition.isDefault;
            }
        }
        if (best) {
            strengthen(best->protection, master.hls.protection);
            variant.audio = std::move(best);
        } else {
            variant.main.kind = StreamTrack::Muxed;
        }
        stream.variants.push_back(std::move(variant));
    }
    out.push_back(std::move(stream));
}

void StreamCatalog::buildDash(const std::vector<const Listing*>& ofUrl,
                              std::vector<CapturedStream>& out) {
    CapturedStream stream;
    stream.id = ofUrl.front()->id;
    stream.kind = CapturedStream::Dash;
    stream.url = ofUrl.front()->url;
    stream.title = titleFor(*ofUrl.front());

    // Representations by id over every listing; a live manifest's listings
    // add their segments (by start time), a static one's latest stands.
    struct Merged {
        DashManifest::Representation facts;
        StreamTrack track;
        std::map<std::string, int> knownInits;
        std::map<std::int64_t, CapturedSegment> timed;
        std::set<std::string> seen;
    };
    std::vector<Merged> merged;
    const bool live = ofUrl.back()->manifest.dynamic;
    const auto listings = live ? ofUrl : std::vector<const Listing*>{ofUrl.back()};
    std::size_t largest = 0;
    for (const Listing* listing : listings) {
        for (const DashManifest::Representation& rep : listing->manifest.representations) {
            auto at = std::find_if(merged.begin(), merged.end(),
                                   [&](const Merged& m) { return m.facts.id == rep.id; });
            if (at == merged.end()) {
                merged.push_back(Merged{});
                at = merged.end() - 1;
                at->facts = rep;
                at->facts.segments.clear();
                at->track.url = listing->url;
                at->track.listed = true;
            }
            strengthen(at->track.protection, rep.protection);
            largest = std::max(largest, rep.segments.size());
            for (const ListedSegment& listed : rep.segments) {
                const std::string key = pieceKey(listed);
                if (!at->seen.insert(key).second)
                    continue;
                CapturedSegment segment;
                static_cast<ListedSegment&>(segment) = listed;
                if (listed.initIndex >= 0 && listed.initIndex < int(rep.inits.size()))
                    segment.initIndex = internInit(at->track.inits, at->knownInits,
                                                   rep.inits[std::size_t(listed.initIndex)]);
                if (live)
                    at->timed.emplace(listed.sequence, std::move(segment));
                else
                    at->track.segments.push_back(std::move(segment));
            }
        }
    }
    std::vector<std::size_t> video, audio;
    for (std::size_t i = 0; i < merged.size(); ++i) {
        Merged& m = merged[i];
        for (auto& [time, segment] : m.timed)
            m.track.segments.push_back(std::move(segment));
        m.track.grew = m.track.segments.size() > largest;
        assignStarts(m.track);
        resolve(m.track);
        const std::string& type = m.facts.contentType;
        const std::string codecs = m.facts.codecs.substr(0, 4);
        if (type == "audio" || (type.empty() && (codecs == "mp4a" || codecs == "opus" ||
                                                 codecs == "ac-3" || codecs == "ec-3"))) {
            m.track.kind = StreamTrack::Audio;
            audio.push_back(i);
        } else if (type == "video" || (type.empty() && m.facts.width > 0)) {
            m.track.kind = StreamTrack::Video;
            video.push_back(i);
        }
    }
    // Each picture with the sound most captured, the richer of equals.
    std::optional<std::size_t> bestAudio;
    for (std::size_t i : audio) {
        const auto score = [&](std::size_t k) {
            return std::make_pair(merged[k].track.capturedCount(), merged[k].facts.bandwidth);
        };
        if (!bestAudio || score(i) > score(*bestAudio))
            bestAudio = i;
    }
    auto variantOf = [&](std::size_t i) {
        StreamVariant variant;
        variant.width = merged[i].facts.width;
        variant.height = merged[i].facts.height;
        variant.bandwidth = merged[i].facts.bandwidth;
        variant.codecs = merged[i].facts.codecs;
        variant.main = merged[i].track;
        return variant;
    };
    for (std::size_t i : video) {
        StreamVariant variant = variantOf(i);
        if (bestAudio)
            variant.audio = merged[*bestAudio].track;
        stream.variants.push_back(std::move(variant));
    }
    if (video.empty())
        for (std::size_t i : audio)
            stream.variants.push_back(variantOf(i));
    if (!stream.variants.empty())
        out.push_back(std::move(stream));
}

void StreamCatalog::rebuild() {
    dirty_ = false;
    streams_.clear();
    std::map<std::string, std::vector<const Listing*>> byUrl;
    for (const Listing& listing : listings_)
        byUrl[listing.url].push_back(&listing);
    for (auto& [url, ofUrl] : byUrl)
        std::sort(ofUrl.begin(), ofUrl.end(),
                  [](const Listing* a, const Listing* b) { return a->id < b->id; });

    std::map<std::string, bool> claimed;
    for (const auto& [url, ofUrl] : byUrl) {
        if (ofUrl.back()->dash) {
            buildDash(ofUrl, streams_);
            continue;
        }
        const bool master =
            std::any_of(ofUrl.begin(), ofUrl.end(), [](const Listing* l) { return l->hls.master; });
        if (master) {
            std::vector<const Listing*> masters;
            for (const Listing* l : ofUrl)
                if (l->hls.master)
                    masters.push_back(l);
            buildHls(masters, streams_, byUrl, claimed);
        }
    }
    // Media playlists no master playlist names are streams of their own.
    for (const auto& [url, ofUrl] : byUrl) {
        if (ofUrl.back()->dash || claimed.count(url))
            continue;
        if (std::none_of(ofUrl.begin(), ofUrl.end(),
                         [](const Listing* l) { return !l->hls.master; }))
            continue;
        CapturedStream stream;
        stream.id = ofUrl.front()->id;
        stream.kind = CapturedStream::Hls;
        stream.url = url;
        stream.title = titleFor(*ofUrl.front());
        StreamVariant variant;
        variant.main = hlsTrack(url, byUrl, StreamTrack::Muxed);
        stream.variants.push_back(std::move(variant));
        streams_.push_back(std::move(stream));
    }
    std::sort(streams_.begin(), streams_.end(),
              [](const CapturedStream& a, const CapturedStream& b) { return a.id < b.id; });
}
