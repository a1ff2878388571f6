#include "ui/panes/HexDump.h"

#include <algorithm>

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

} // namespace

int hexOffsetDigits(std::int64_t totalLength) {
    int digits = kHexOffsetDigits;
    if (totalLength <= 0)
        return digits;
    const std::uint64_t lastLine =
        std::uint64_t(totalLength - 1) / kHexBytesPerLine * kHexBytesPerLine;
    while (digits < 16 && (lastLine >> (4 * digits)) != 0)
        ++digits;
    return digits;
}

std::int64_t hexLineCount(std::int64_t totalLength) {
    if (totalLength <= 0)
        return 0;
    return totalLength / kHexBytesPerLine + (totalLength % kHexBytesPerLine != 0);
}

int formatHexLine(char* out, std::int64_t line, std::int64_t totalLength, const HexCache& cache,
                  int offsetDigits) {
    const std::int64_t start = line * kHexBytesPerLine;
    char* p = out;
    for (int i = offsetDigits - 1; i >= 0; --i)
        *p++ = kLowerDigits[(std::uint64_t(start) >> (4 * i)) & 0xF];
    *p++ = ' ';
    *p++ = ' ';
    char* text = p + 3 * kHexBytesPerLine + 2; // past both groups and the space before the text
    const std::int64_t cacheEnd = cache.start + cache.length;
    for (int i = 0; i < kHexBytesPerLine; ++i) {
        if (i == kHexBytesPerLine / 2)
            *p++ = ' ';
        const std::int64_t position = start + i;
        if (position < totalLength && position >= cache.start && position < cacheEnd) {
            const unsigned char byte = cache.data[position - cache.start];
            *p++ = kUpperDigits[byte >> 4];
            *p++ = kUpperDigits[byte & 0xF];
            text[i] = byte >= 0x20 && byte <= 0x7E ? char(byte) : '.';
        } else {
            *p++ = ' ';
            *p++ = ' ';
            text[i] = ' ';
        }
        *p++ = ' ';
    }
    *p++ = ' ';
    return int(p - out) + kHexBytesPerLine;
}

int visibleLineCount(int clientHeight, int lineHeight) {
    if (lineHeight <= 0 || clientHeight <= 0)
        return 1;
    return std::max(1, (clientHeight + lineHeight - 1) / lineHeight);
}

HexCacheRead planCacheRead(std::int64_t firstLine, int visibleLines, std::int64_t cacheStart,
                           std::int64_t cacheLength, std::int64_t totalLength) {
    const std::int64_t lines = std::max(1, visibleLines);
    const std::int64_t first = firstLine * kHexBytesPerLine;
    std::int64_t back;
    if (first < cacheStart) {
        back = 128 * lines;
    } else {
        // The last screen of a body ends before a full screen does: what lies
        // past the end is never read, so it need not be cached either.
        const std::int64_t visibleEnd = std::min(first + kHexBytesPerLine * lines, totalLength);
        if (visibleEnd <= cacheStart + cacheLength)
            return {};
        back = 32 * lines;
    }
    HexCacheRead read;
    read.needed = true;
    read.start = std::clamp<std::int64_t>(first - back, 0, std::max<std::int64_t>(0, totalLength));
    read.size = std::int32_t(
        std::min<std::int64_t>(160 * lines, std::max<std::int64_t>(0, totalLength - read.start)));
    return read;
}

HexScrollLayout layoutScrollBars(const HexScrollInput& in) {
    HexScrollLayout out;
    int w = in.width;
    int h = in.height;
    const int lineHeight = std::max(1, in.lineHeight);
    // h < lines x lineHeight without the product, which could overflow.
    const auto tooTall = [&](int height) { return in.lines > std::max(0, height) / lineHeight; };
    bool needH = w < in.contentWidth;
    bool needV = tooTall(h);
    if (!needH && !needV)
        return out;
    if (needV && !needH) {
        needH = w - in.vBarWidth < in.contentWidth;
        if (needH)
            h -= in.hBarHeight;
    } else if (needH && needV) {
        h -= in.hBarHeight;
    } else {
        needV = tooTall(h - in.hBarHeight);
        h -= in.hBarHeight;
    }
    if (needV)
        w -= in.vBarWidth;
    out.needH = needH;
    out.needV = needV;
    if (needH) {
        out.hPage = std::max(w, 0);
        out.hPos = std::clamp(in.hPos, 0, std::max(0, in.contentWidth - out.hPage));
    }
    if (needV) {
        out.vPage = std::max(h / lineHeight, 0);
        out.vPos =
            std::clamp<std::int64_t>(in.vPos, 0, std::max<std::int64_t>(0, in.lines - out.vPage));
    }
    return out;
}

HexBarScale HexBarScale::forRange(std::int64_t maxPos, std::int64_t limit) {
    HexBarScale s;
    s.maxPos = std::max<std::int64_t>(0, maxPos);
    limit = std::max<std::int64_t>(1, limit);
    s.scale = s.maxPos <= limit ? 1 : (s.maxPos + limit - 1) / limit;
    s.barMax = int((s.maxPos + s.scale - 1) / s.scale);
    return s;
}

int HexBarScale::toBar(std::int64_t pos) const {
    if (pos >= maxPos)
        return barMax;
    return int(std::max<std::int64_t>(0, pos) / scale);
}

std::int64_t HexBarScale::fromBar(int value) const {
    if (value >= barMax)
        return maxPos;
    return std::max(0, value) * scale;
}

int HexBarScale::barPage(std::int64_t page) const {
    return int(std::clamp<std::int64_t>(page / scale, 1, std::max(1, barMax)));
}
