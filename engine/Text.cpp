#include "engine/Text.h"

#include <limits>

char asciiToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiToLower(a[i]) != asciiToLower(b[i]))
            return false;
    }
    return true;
}

int compareIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(asciiToLower(a[i]));
        const auto y = static_cast<unsigned char>(asciiToLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// UTF-8 encodings of the non-ASCII white space characters: NEL, NBSP,
// OGHAM SPACE MARK, EN QUAD..HAIR SPACE, LINE/PARAGRAPH SEPARATOR, NARROW
// NBSP, MEDIUM MATHEMATICAL SPACE, IDEOGRAPHIC SPACE.
std::size_t unicodeSpaceAt(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const std::size_t left = s.size() - i;
    if (left >= 2 && b(0) == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0))
        return 2;
    if (left < 3)
        return 0;
    const unsigned cp = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
    if ((b(0) & 0xF0) != 0xE0 || (b(1) & 0xC0) != 0x80 || (b(2) & 0xC0) != 0x80)
        return 0;
    if (cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 ||
        cp == 0x202F || cp == 0x205F || cp == 0x3000)
        return 3;
    return 0;
}

std::size_t unicodeSpaceBefore(std::string_view s, std::size_t end) {
    for (std::size_t len : {2u, 3u}) {
        if (end >= len && unicodeSpaceAt(s.substr(0, end), end - len) == len)
            return len;
    }
    return 0;
}

} // namespace

std::string_view trimView(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end) {
        if (isAsciiSpace(text[begin])) {
            ++begin;
        } else if (std::size_t n = unicodeSpaceAt(text.substr(0, end), begin)) {
            begin += n;
        } else {
            break;
        }
    }
    while (end > begin) {
        if (isAsciiSpace(text[end - 1])) {
            --end;
        } else if (std::size_t n = unicodeSpaceBefore(text.substr(begin), end - begin)) {
            end -= n;
        } else {
            break;
        }
    }
    return text.substr(begin, end - begin);
}

std::string trim(std::string_view text) {
    return std::string(trimView(text));
}

std::size_t parseInteger(std::string_view text, int base, std::int64_t min, std::int64_t max,
                         std::int64_t& value) {
    std::size_t i = 0;
    while (i < text.size() && isAsciiSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude towards the bound on the sign's side, so that
    // min itself is reachable and overflow saturates instead of wrapping.
    const std::uint64_t limit = negative ? std::uint64_t(-(min + 1)) + 1 : std::uint64_t(max);
    std::uint64_t magnitude = 0;
    bool saturated = false;
    const std::size_t firstDigit = i;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'z')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'Z')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= base)
            break;
        if (!saturated) {
            if (std::uint64_t(digit) > limit ||
                magnitude > (limit - std::uint64_t(digit)) / std::uint64_t(base))
                saturated = true;
            else
                magnitude = magnitude * std::uint64_t(base) + std::uint64_t(digit);
        }
    }
    if (i == firstDigit) {
        value = 0;
        return 0;
    }
    if (saturated)
        value = negative ? min : max;
    else
        value = negative ? -std::int64_t(magnitude - 1) - 1 : std::int64_t(magnitude);
    return i;
}

bool parseInt32(std::string_view text, std::int32_t& value) {
    std::int64_t v = 0;
    const std::size_t end = parseInteger(text, 10, std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max(), v);
    value = static_cast<std::int32_t>(v);
    return end == text.size();
}

std::string formatInt(std::int64_t value) {
    return std::to_string(value);
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
