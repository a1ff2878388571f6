// Byte-text helpers shared by the head, URL and relay code. Texts are UTF-8
// bytes; only ASCII letters fold, so no locale can change a comparison.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

char asciiToLower(char c);
// Case-insensitive equality, folding A-Z and a-z only.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Three-way, case-insensitive (letters folded to lower case), bytes unsigned.
int compareIgnoreCase(std::string_view a, std::string_view b);

// Removes leading and trailing white space: the ASCII space characters
// (space, tab, CR, LF, VT, FF) and the UTF-8 encoded Unicode space characters.
std::string_view trimView(std::string_view text);
std::string trim(std::string_view text);

// Converts like the C library's strtoll: leading ASCII white space, an
// optional sign, digits of the base (no "0x" prefix), stopping at the first
// other byte; out-of-range values saturate at min/max. Returns the offset just
// past the last digit used, or 0 when no digit was found.
std::size_t parseInteger(std::string_view text, int base, std::int64_t min, std::int64_t max,
                         std::int64_t& value);

// Same, for a 32-bit value. True when the conversion consumed the whole text.
bool parseInt32(std::string_view text, std::int32_t& value);

// "%d".
std::string formatInt(std::int64_t value);

// The value of one hexadecimal digit, or -1 when c is not one.
int hexDigitValue(char c);
