#include "streams/DashManifest.h"

#include "engine/Text.h"
#include "streams/StreamUrl.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// Beyond this a manifest is taken for garbage rather than held in memory.
constexpr std::size_t kMaxSegments = 1'000'000;

bool named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::optional<std::string> attr(const xmlNode* node, const char* name) {
    if (!node)
        return std::nullopt;
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value)
        return std::nullopt;
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

std::string textOf(const xmlNode* node) {
    xmlChar* value = xmlNodeGetContent(node);
    std::string text = value ? trim(reinterpret_cast<const char*>(value)) : std::string();
    xmlFree(value);
    return text;
}

const xmlNode* child(const xmlNode* node, const char* name) {
    if (!node)
        return nullptr;
    for (const xmlNode* c = node->children; c; c = c->next)
        if (named(c, name))
            return c;
    return nullptr;
}

std::int64_t toInteger(const std::optional<std::string>& text, std::int64_t fallback) {
    std::int64_t value = 0;
    if (!text || !parseInteger(*text, 10, INT64_MIN, INT64_MAX, value))
        return fallback;
    return value;
}

// "a-b" inclusive, as DASH writes byte ranges.
bool parseDashRange(const std::optional<std::string>& text, std::int64_t& offset,
                    std::int64_t& length) {
    if (!text)
        return false;
    const std::size_t dash = text->find('-');
    std::int64_t first = 0, last = 0;
    if (dash == std::string::npos ||
        !parseInteger(text->substr(0, dash), 10, 0, INT64_MAX, first) ||
        !parseInteger(text->substr(dash + 1), 10, 0, INT64_MAX, last) || last < first)
        return false;
    offset = first;
    length = last - first + 1;
    return true;
}

// The attributes of the SegmentTemplate, SegmentList or SegmentBase that
// applies: the representation's own over its adaptation set's over its
// period's.
struct Inherited {
    const xmlNode* levels[3] = {nullptr, nullptr, nullptr}; // representation first
    std::optional<std::string> get(const char* name) const {
        for (const xmlNode* level : levels)
            if (auto value = attr(level, name))
                return value;
        return std::nullopt;
    }
    const xmlNode* childOf(const char* name) const {
        for (const xmlNode* level : levels)
            if (const xmlNode* c = child(level, name))
                return c;
        return nullptr;
    }
    bool any() const { return levels[0] || levels[1] || levels[2]; }
};

Inherited inherited(const xmlNode* representation, const xmlNode* adaptation, const xmlNode* period,
                    const char* name) {
    Inherited out;
    out.levels[0] = child(representation, name);
    out.levels[1] = child(adaptation, name);
    out.levels[2] = child(period, name);
    return out;
}

// $RepresentationID$, $Number$, $Bandwidth$ and $Time$, with an optional
// %0Nd width; $$ is a dollar.
std::string expandTemplate(std::string_view pattern, const std::string& id, std::int64_t number,
                           std::int64_t bandwidth, std::int64_t time) {
    std::string out;
    std::size_t at = 0;
    while (at < pattern.size()) {
        const std::size_t open = pattern.find('$', at);
        if (open == std::string_view::npos) {
            out.append(pattern.substr(at));
            break;
        }
        out.append(pattern.substr(at, open - at));
        const std::size_t close = pattern.find('$', open + 1);
        if (close == std::string_view::npos) {
            out.append(pattern.substr(open));
            break;
        }
        const std::string_view name = pattern.substr(open + 1, close - open - 1);
        at = close + 1;
        if (name.empty()) {
            out += '$';
            continue;
        }
        const std::size_t percent = name.find('%');
        const std::string_view identifier = name.substr(0, percent);
        int width = 1;
        if (percent != std::string_view::npos) {
            std::int64_t w = 1;
            const std::string_view format = name.substr(percent + 1);
            if (format.size() >= 2 && format[0] == '0')
                parseInteger(format.substr(1), 10, 1, 32, w);
            width = int(w);
        }
        auto number_ = [&](std::int64_t value) {
            std::string digits = std::to_string(value);
            if (int(digits.size()) < width)
                digits.insert(0, std::size_t(width) - digits.size(), '0');
            out += digits;
        };
        if (identifier == "RepresentationID")
            out += id;
        else if (identifier == "Number")
            number_(number);
        else if (identifier == "Bandwidth")
            number_(bandwidth);
        else if (identifier == "Time")
            number_(time);
        else
            out.append(pattern.substr(open, close - open + 1));
    }
    return out;
}

std::string baseUrlOf(const xmlNode* node, const std::string& base) {
    const xmlNode* b = child(node, "BaseURL");
    if (!b)
        return base;
    const std::string text = textOf(b);
    return text.empty() ? base : resolveUrl(base, text);
}

bool hasProtection(const xmlNode* node) {
    return child(node, "ContentProtection") != nullptr;
}

struct PeriodContext {
    std::string base;
    double start = 0;
    double duration = 0; // 0 when unknown
};

// Segments of one representation within one period.
bool listSegments(const xmlNode* representation, const xmlNode* adaptation, const xmlNode* period,
                  const PeriodContext& context, const std::string& base,
                  DashManifest::Representation& out, bool continues, std::string& error) {
    const int initIndex = int(out.inits.size());
    auto addInit = [&](SegmentRef init) {
        out.inits.push_back(std::move(init));
        return initIndex;
    };
    // Each run of segments carries its own init segment and marks only its
    // first segment as a new timeline.
    auto add = [&](ListedSegment segment, int init, bool& discontinuity) {
        segment.initIndex = init;
        segment.discontinuity = discontinuity;
        discontinuity = false;
        if (out.segments.size() >= kMaxSegments) {
            error = "too many segments";
            return false;
        }
        out.segments.push_back(std::move(segment));
        return true;
    };
    // The first segment of a later period starts a new timeline.
    auto mark = [&]() { return continues && !out.segments.empty(); };

    if (const Inherited tmpl = inherited(representation, adaptation, period, "SegmentTemplate");
        tmpl.any()) {
        const std::int64_t timescale =
            std::max<std::int64_t>(1, toInteger(tmpl.get("timescale"), 1));
        const std::int64_t startNumber = toInteger(tmpl.get("startNumber"), 1);
        const std::optional<std::string> media = tmpl.get("media");
        if (!media) {
            error = "SegmentTemplate without media";
            return false;
        }
        int init = -1;
        if (auto initialization = tmpl.get("initialization")) {
            SegmentRef ref;
            ref.url = resolveUrl(
                base, expandTemplate(*initialization, out.id, startNumber, out.bandwidth, 0));
            init = addInit(std::move(ref));
        }
        bool discontinuity = mark();
        std::int64_t number = startNumber;
        if (const xmlNode* timeline = tmpl.childOf("SegmentTimeline")) {
            std::int64_t time = 0;
            for (const xmlNode* s = timeline->children; s; s = s->next) {
                if (!named(s, "S"))
                    continue;
                time = toInteger(attr(s, "t"), time);
                const std::int64_t d = toInteger(attr(s, "d"), 0);
                std::int64_t repeat = toInteger(attr(s, "r"), 0);
                if (d <= 0)
                    continue;
                if (repeat < 0) {
                    // Until the next S, or the end of the period.
                    std::int64_t until = -1;
                    for (const xmlNode* n = s->next; n; n = n->next)
                        if (named(n, "S")) {
                            until = toInteger(attr(n, "t"), -1);
                            break;
                        }
                    if (until < 0 && context.duration > 0)
                        until = toInteger(tmpl.get("presentationTimeOffset"), 0) +
                                std::int64_t(context.duration * double(timescale));
                    repeat = until > time ? (until - time + d - 1) / d - 1 : 0;
                }
                for (std::int64_t i = 0; i <= repeat; ++i) {
                    ListedSegment segment;
                    segment.url = resolveUrl(
                        base, expandTemplate(*media, out.id, number, out.bandwidth, time));
                    segment.duration = double(d) / double(timescale);
                    segment.sequence = time;
                    if (!add(std::move(segment), init, discontinuity))
                        return false;
                    time += d;
                    ++number;
                }
            }
            return true;
        }
        const std::int64_t d = toInteger(tmpl.get("duration"), 0);
        if (d <= 0 || context.duration <= 0)
            return true; // a live template without a timeline: nothing can be listed
        const double seconds = double(d) / double(timescale);
        const std::int64_t count = std::int64_t(std::ceil(context.duration / seconds - 1e-6));
        for (std::int64_t i = 0; i < count; ++i) {
            ListedSegment segment;
            segment.url =
                resolveUrl(base, expandTemplate(*media, out.id, number, out.bandwidth, i * d));
            segment.duration = std::min(seconds, context.duration - double(i) * seconds);
            segment.sequence = number++;
            if (!add(std::move(segment), init, discontinuity))
                return false;
        }
        return true;
    }

    if (const Inherited list = inherited(representation, adaptation, period, "SegmentList");
        list.any()) {
        const std::int64_t timescale =
            std::max<std::int64_t>(1, toInteger(list.get("timescale"), 1));
        const double seconds = double(toInteger(list.get("duration"), 0)) / double(timescale);
        int init = -1;
        if (const xmlNode* initialization = list.childOf("Initialization")) {
            SegmentRef ref;
            ref.url = resolveUrl(base, attr(initialization, "sourceURL").value_or(""));
            parseDashRange(attr(initialization, "range"), ref.rangeOffset, ref.rangeLength);
            init = addInit(std::move(ref));
        }
        const xmlNode* owner = list.levels[0]   ? list.levels[0]
                               : list.levels[1] ? list.levels[1]
                                                : list.levels[2];
        bool discontinuity = mark();
        std::int64_t number = 0;
        for (const xmlNode* s = owner->children; s; s = s->next) {
            if (!named(s, "SegmentURL"))
                continue;
            ListedSegment segment;
            segment.url = resolveUrl(base, attr(s, "media").value_or(""));
            parseDashRange(attr(s, "mediaRange"), segment.rangeOffset, segment.rangeLength);
            segment.duration = seconds;
            segment.sequence = number++;
            if (!add(std::move(segment), init, discontinuity))
                return false;
        }
        return true;
    }

    // SegmentBase or a bare BaseURL: the whole file is the one segment, its
    // header included.
    ListedSegment whole;
    whole.url = base;
    whole.duration = context.duration;
    bool discontinuity = mark();
    return add(std::move(whole), -1, discontinuity);
}

} // namespace

double parseIsoDuration(std::string_view text) {
    text = trimView(text);
    if (text.empty() || text.front() != 'P')
        return -1;
    text.remove_prefix(1);
    double total = 0;
    bool inTime = false;
    while (!text.empty()) {
        if (text.front() == 'T') {
            inTime = true;
            text.remove_prefix(1);
            continue;
        }
        const std::string number(text.substr(0, text.find_first_not_of("0123456789.")));
        if (number.empty() || number.size() >= text.size())
            return -1;
        const double value = std::strtod(number.c_str(), nullptr);
        const char unit = text[number.size()];
        text.remove_prefix(number.size() + 1);
        if (unit == 'D' && !inTime)
            total += value * 86400;
        else if (unit == 'H' && inTime)
            total += value * 3600;
        else if (unit == 'M' && inTime)
            total += value * 60;
        else if (unit == 'S' && inTime)
            total += value;
        else if (unit == 'Y' || (unit == 'M' && !inTime))
            return -1; // calendar lengths vary: no manifest needs them
        else
            return -1;
    }
    return std::isfinite(total) ? total : -1;
}

bool looksLikeDashManifest(std::string_view text) {
    const std::string_view head = text.substr(0, 4096);
    return head.find("<MPD") != std::string_view::npos;
}

bool parseDashManifest(std::string_view text, std::string_view url, DashManifest& out,
                       std::string& error) {
    out = DashManifest{};
    if (text.size() > 64 * 1024 * 1024) {
        error = "manifest too large";
        return false;
    }
    // No network, no entity substitution, no DTD loading: the text is all
    // there is.
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    const xmlNode* mpd = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!mpd || !named(mpd, "MPD")) {
        error = "no MPD element";
        return false;
    }
    out.dynamic = attr(mpd, "type").value_or("static") == "dynamic";
    out.duration =
        std::max(0.0, parseIsoDuration(attr(mpd, "mediaPresentationDuration").value_or("")));
    const std::string mpdBase = baseUrlOf(mpd, std::string(url));

    std::vector<const xmlNode*> periods;
    for (const xmlNode* p = mpd->children; p; p = p->next)
        if (named(p, "Period"))
            periods.push_back(p);
    double periodStart = 0;
    for (std::size_t pi = 0; pi < periods.size(); ++pi) {
        const xmlNode* period = periods[pi];
        PeriodContext context;
        context.base = baseUrlOf(period, mpdBase);
        const double start = parseIsoDuration(attr(period, "start").value_or(""));
        context.start = start >= 0 ? start : periodStart;
        double duration = parseIsoDuration(attr(period, "duration").value_or(""));
        if (duration < 0 && pi + 1 < periods.size()) {
            const double next = parseIsoDuration(attr(periods[pi + 1], "start").value_or(""));
            if (next > context.start)
                duration = next - context.start;
        }
        if (duration < 0 && pi + 1 == periods.size() && out.duration > context.start)
            duration = out.duration - context.start;
        context.duration = std::max(0.0, duration);
        periodStart = context.start + context.duration;

        for (const xmlNode* adaptation = period->children; adaptation;
             adaptation = adaptation->next) {
            if (!named(adaptation, "AdaptationSet"))
                continue;
            const std::string adaptationBase = baseUrlOf(adaptation, context.base);
            for (const xmlNode* representation = adaptation->children; representation;
                 representation = representation->next) {
                if (!named(representation, "Representation"))
                    continue;
                const std::string id = attr(representation, "id").value_or("");
                DashManifest::Representation* target = nullptr;
                bool first = false;
                for (auto& existing : out.representations)
                    if (pi > 0 && !id.empty() && existing.id == id)
                        target = &existing;
                if (!target) {
                    out.representations.emplace_back();
                    target = &out.representations.back();
                    target->id = id;
                    first = true;
                }
                auto pick = [&](const char* name) {
                    auto value = attr(representation, name);
                    return value ? value : attr(adaptation, name);
                };
                std::string type = pick("contentType").value_or("");
                const std::string mime = pick("mimeType").value_or("");
                if (type.empty())
                    type = mime.substr(0, mime.find('/'));
                if (first) {
                    target->contentType = type;
                    target->codecs = pick("codecs").value_or("");
                    target->bandwidth = std::max<std::int64_t>(0, toInteger(pick("bandwidth"), 0));
                    target->width =
                        int(std::clamp<std::int64_t>(toInteger(pick("width"), 0), 0, 1 << 16));
                    target->height =
                        int(std::clamp<std::int64_t>(toInteger(pick("height"), 0), 0, 1 << 16));
                }
                if (hasProtection(adaptation) || hasProtection(representation))
                    target->protection = Protection::Drm;
                const std::string base = baseUrlOf(representation, adaptationBase);
                if (!listSegments(representation, adaptation, period, context, base, *target,
                                  !first, error))
                    return false;
            }
        }
    }
    if (out.representations.empty()) {
        error = "no representation";
        return false;
    }
    return true;
}
