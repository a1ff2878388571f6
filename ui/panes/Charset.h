// Choosing the character encoding of a text body and turning it into UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Code pages are numbered the way Windows numbers them, since that is how the
// charset table and the byte-order-mark results are expressed.
constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageUtf16Le = 1200;
constexpr int kCodePageUtf16Be = 1201;

// At most this many bytes of a body are shown.
constexpr std::size_t kTextViewLimit = 2097152;

// The code page of a charset name (matched case-insensitively against every
// alias of the table), or -1 when the name is not in the table.
int codePageForCharset(std::string_view name);

// 65001 for a UTF-8 byte-order mark, 1200/1201 for UTF-16 LE/BE, else 0.
int codePageFromBom(const unsigned char* bytes, std::size_t count);

// The charset parameter of a Content-Type value, when the value has exactly
// the form "type; charset=name" (one optional space, charset last).
std::optional<std::string> charsetFromContentType(const std::string& value);

// The iconv name of a code page, or nullptr when it is not one we convert.
const char* iconvNameForCodePage(int codePage);

// Converts a body in `codePage` to UTF-8 for display. The text ends at the
// first zero character; UTF-16 is decoded by code units, so its zero bytes
// do not cut it short. A byte-order mark is dropped. Code page 0 (nothing
// known) shows UTF-8 when the bytes are valid UTF-8 and Windows-1252
// otherwise. Bytes that are invalid in the code page become U+FFFD, and a
// character cut off at the end of the bytes is left out.
std::string textToUtf8(std::string_view bytes, int codePage);
