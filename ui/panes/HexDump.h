// The arithmetic of the hex viewer, apart from any window: the dump's line
// format, which stretch of the data to keep in memory, and where the scroll
// bars stand.
#pragma once

#include <cstdint>

// Line n shows the bytes 16n to 16n + 15:
//   "0000a1b0  41 42 00 7F 20 41 42 00  7F 20 41 42 00 7F 20 41  AB.. AB.. AB.. A"
// the offset in lower case, the bytes in upper case, then the bytes as
// characters (0x20 to 0x7E as themselves, anything else "."). Positions past
// the end stay blank, so every line of one body has the same width.
constexpr int kHexBytesPerLine = 16;
constexpr int kHexOffsetDigits = 8;
constexpr int kHexLineColumns = 76; // with the usual eight offset digits

// Offset digits for a body of `totalLength` bytes: eight, unless positions
// reach 4 GiB, and then as many as the last line's offset needs.
int hexOffsetDigits(std::int64_t totalLength);
// Line width for that many offset digits.
constexpr int hexLineColumns(int offsetDigits) {
    return offsetDigits + kHexLineColumns - kHexOffsetDigits;
}

// Lines of a body: (length + 15) / 16.
std::int64_t hexLineCount(std::int64_t totalLength);

// The cached stretch of the data: `length` bytes from position `start`.
struct HexCache {
    std::int64_t start = 0;
    const unsigned char* data = nullptr;
    std::int64_t length = 0;
};

// Formats `line` into `out` (hexLineColumns(offsetDigits) characters, no
// terminator) and returns the count. A byte shows when it lies below
// `totalLength` and inside `cache`; any other position stays blank.
int formatHexLine(char* out, std::int64_t line, std::int64_t totalLength, const HexCache& cache,
                  int offsetDigits = kHexOffsetDigits);

// Lines that fit a client area, counting a partly visible last one; at least 1.
int visibleLineCount(int clientHeight, int lineHeight);

// What to read before painting from `firstLine` with `visibleLines` lines on
// screen: nothing while the visible bytes are cached, else 160 bytes per
// visible line (ten screens) starting two screens above the first visible
// line, or eight screens above it when the view moved above the cache, so
// that going on in the same direction stays inside what was read.
struct HexCacheRead {
    bool needed = false;
    std::int64_t start = 0;
    std::int32_t size = 0;
};
HexCacheRead planCacheRead(std::int64_t firstLine, int visibleLines, std::int64_t cacheStart,
                           std::int64_t cacheLength, std::int64_t totalLength);

// The scroll bars of a client area of `width` x `height` pixels (without
// bars) showing `lines` lines of `contentWidth` pixels. Horizontal units are
// pixels, vertical units lines. A bar appears only where the content does not
// fit, taking its room from the other direction; positions are clamped to
// [0, extent - page] and go back to 0 where no bar is needed.
struct HexScrollInput {
    int width = 0;
    int height = 0;
    int contentWidth = 0;
    std::int64_t lines = 0;
    int lineHeight = 1;
    int vBarWidth = 0;
    int hBarHeight = 0;
    int hPos = 0;
    std::int64_t vPos = 0;
};
struct HexScrollLayout {
    bool needH = false;
    bool needV = false;
    int hPage = 0;          // pixels
    std::int64_t vPage = 0; // whole lines
    int hPos = 0;
    std::int64_t vPos = 0;
};
HexScrollLayout layoutScrollBars(const HexScrollInput& in);

// A line position range [0, maxPos] on a bar whose values are int: one bar
// step stands for `scale` lines when the range does not fit, and the bar's
// last value always stands for the last position so the end stays reachable.
struct HexBarScale {
    std::int64_t maxPos = 0;
    std::int64_t scale = 1;
    int barMax = 0;

    // `limit` is the largest bar value allowed (INT_MAX for a real bar).
    static HexBarScale forRange(std::int64_t maxPos, std::int64_t limit = 2147483647);
    int toBar(std::int64_t pos) const;
    std::int64_t fromBar(int value) const;
    // A page of lines in bar steps, at least 1.
    int barPage(std::int64_t page) const;
};
