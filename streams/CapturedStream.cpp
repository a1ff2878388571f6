#include "streams/CapturedStream.h"

#include "store/JsonWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

std::size_t StreamTrack::capturedCount() const {
    std::size_t count = 0;
    for (const CapturedSegment& segment : segments)
        count += segment.present() ? 1 : 0;
    return count;
}

double StreamTrack::duration() const {
    double total = 0;
    for (const CapturedSegment& segment : segments)
        total += segment.duration;
    return total;
}

std::size_t StreamVariant::capturedCount() const {
    return main.capturedCount() + (audio ? audio->capturedCount() : 0);
}

std::size_t StreamVariant::listedCount() const {
    return main.segments.size() + (audio ? audio->segments.size() : 0);
}

Protection StreamVariant::protection() const {
    Protection p = main.protection;
    if (audio && int(audio->protection) > int(p))
        p = audio->protection;
    return p;
}

std::string StreamVariant::label() const {
    char text[48];
    if (width > 0 && height > 0)
        std::snprintf(text, sizeof text, "%dx%d", width, height);
    else if (bandwidth >= 1'000'000)
        std::snprintf(text, sizeof text, "%.1f Mbps", double(bandwidth) / 1e6);
    else if (bandwidth > 0)
        std::snprintf(text, sizeof text, "%lld kbps", static_cast<long long>(bandwidth / 1000));
    else
        return {};
    return text;
}

int CapturedStream::defaultVariant() const {
    int best = -1;
    for (int i = 0; i < int(variants.size()); ++i) {
        if (best < 0) {
            best = i;
            continue;
        }
        const StreamVariant& a = variants[std::size_t(i)];
        const StreamVariant& b = variants[std::size_t(best)];
        const auto score = [](const StreamVariant& v) {
            return std::make_tuple(v.capturedCount(), std::int64_t(v.width) * v.height,
                                   v.bandwidth);
        };
        if (score(a) > score(b))
            best = i;
    }
    return best;
}

double CapturedStream::duration() const {
    const int v = defaultVariant();
    return v < 0 ? 0 : variants[std::size_t(v)].main.duration();
}

std::string formatDuration(double seconds) {
    const long long total = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds) : 0;
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string suggestedVideoName(const CapturedStream& stream, int variant,
                               const std::string& extension) {
    // Characters nobody sees or that reorder the text around them are left
    // out, those file managers refuse become "_", and white space runs shrink.
    std::string safe;
    const std::string& title = stream.title;
    for (std::size_t i = 0; i < title.size();) {
        std::size_t length = 0;
        if (hiddenControl(std::string_view(title).substr(i), length) >= 0) {
            i += length;
            continue;
        }
        const std::size_t sequence = utf8SequenceLength(std::string_view(title).substr(i));
        if (sequence == 0) {
            ++i; // not UTF-8: left out rather than shown as garbage
            continue;
        }
        const char c = title[i];
        if (c == ' ' || c == '\t') {
            if (!safe.empty() && safe.back() != ' ')
                safe += ' ';
        } else {
            safe += std::strchr("\"*/:<>?\\|", c) ? std::string("_") : title.substr(i, sequence);
        }
        i += sequence;
    }
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.'))
        safe.pop_back();
    while (!safe.empty() && (safe.front() == '.' || safe.front() == ' '))
        safe.erase(0, 1);
    // Room for the resolution, a " (n)" and the extension within a file
    // name's 255 bytes; cut at a character boundary.
    constexpr std::size_t kMaxTitle = 180;
    if (safe.size() > kMaxTitle) {
        std::size_t keep = kMaxTitle;
        while (keep > 0 && (static_cast<unsigned char>(safe[keep]) & 0xC0) == 0x80)
            --keep;
        safe.resize(keep);
    }
    if (safe.empty())
        safe = "video";
    if (variant >= 0 && variant < int(stream.variants.size())) {
        const StreamVariant& v = stream.variants[std::size_t(variant)];
        if (v.width > 0 && v.height > 0)
            safe += " " + v.label();
    }
    return safe + extension;
}
