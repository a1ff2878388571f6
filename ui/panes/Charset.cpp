#include "ui/panes/Charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

struct CharsetRow {
    int codePage;
    const char* aliases; // separated by single spaces
};

constexpr CharsetRow kCharsets[] = {
    {65001, "utf-8 utf8"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {28591, "latin1 ISO_8859-1 ISO-8859-1 CP819 IBM819 csISOLatin1 iso-ir-100 l1"},
    {28592, "latin2 ISO_8859-2 ISO-8859-2 csISOLatin2 iso-ir-101 l2"},
    {28593, "latin3 ISO_8859-3 ISO-8859-3 csISOLatin3 iso-ir-109 l3"},
    {28594, "latin4 ISO_8859-4 ISO-8859-4 csISOLatin4 iso-ir-110 l4"},
    {28595, "cyrillic ISO_8859-5 ISO-8859-5 csISOLatinCyrillic iso-ir-144"},
    {28596, "arabic ISO_8859-6 ISO-8859-6 csISOLatinArabic iso-ir-127 ASMO-708 ECMA-114"},
    {28597, "greek ISO_8859-7 ISO-8859-7 csISOLatinGreek greek8 iso-ir-126 ELOT_928 ECMA-118"},
    {28598, "hebrew ISO_8859-8 ISO-8859-8 csISOLatinHebrew iso-ir-138"},
    {28599, "latin5 ISO_8859-9 ISO-8859-9 csISOLatin5 iso-ir-148 l5"},
    {28600, "latin6 ISO_8859-10 ISO-8859-10 csISOLatin6 iso-ir-157 l6"},
    {28601, "ISO_8859-11 ISO-8859-11"},
    {28603, "ISO_8859-13 ISO-8859-13"},
    {28604, "iso-celtic latin8 ISO_8859-14 ISO-8859-14 l8 iso-ir-199"},
    {28605, "Latin-9 ISO_8859-15 ISO-8859-15"},
    {28606, "latin10 ISO_8859-16 ISO-8859-16 l10 iso-ir-226"},
    {437, "IBM437 cp437 437 csPC8CodePage437"},
    {720, "IBM720 cp720 oem720 720"},
    {737, "IBM737 cp737 oem737 737"},
    {775, "IBM775 cp775 oem775 775"},
    {850, "IBM850 cp850 oem850 850"},
    {852, "IBM852 cp852 oem852 852"},
    {855, "IBM855 cp855 oem855 855 csIBM855"},
    {857, "IBM857 cp857 oem857 857"},
    {858, "IBM858 cp858 oem858 858"},
    {860, "IBM860 cp860 oem860 860"},
    {861, "IBM861 cp861 oem861 861"},
    {862, "IBM862 cp862 oem862 862"},
    {863, "IBM863 cp863 oem863 863"},
    {865, "IBM865 cp865 oem865 865"},
    {866, "IBM866 cp866 oem866 866"},
    {869, "IBM869 cp869 oem869 869"},
    {950, "big5 csBig5"},
    {936, "gb2312 gbk csGB2312 gb18030"},
    {932, "Shift_JIS MS_Kanji csShiftJIS csWindows31J"},
    {949, "windows-949 korean"},
    {51949, "euc-kr csEUCKR"},
    {874, "tis-620"},
    {10007, "x-mac-cyrillic xmaccyrillic"},
    {21866, "koi8_u"},
    {20866, "koi8_r csKOI8R"},
};

struct IconvName {
    int codePage;
    const char* name;
};

// GB18030 is a superset of GBK and GB2312, and CP932/CP949/CP950 are the
// vendor supersets that pages labelled Shift_JIS, korean or big5 really use.
constexpr IconvName kIconvNames[] = {
    {65001, "UTF-8"},        {1200, "UTF-16LE"},     {1201, "UTF-16BE"},     {1250, "CP1250"},
    {1251, "CP1251"},        {1252, "CP1252"},       {1253, "CP1253"},       {1254, "CP1254"},
    {1255, "CP1255"},        {1256, "CP1256"},       {1257, "CP1257"},       {1258, "CP1258"},
    {28591, "ISO-8859-1"},   {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},   {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},   {28600, "ISO-8859-10"}, {28601, "ISO-8859-11"}, {28603, "ISO-8859-13"},
    {28604, "ISO-8859-14"},  {28605, "ISO-8859-15"}, {28606, "ISO-8859-16"}, {437, "CP437"},
    {737, "CP737"},          {775, "CP775"},         {850, "CP850"},         {852, "CP852"},
    {855, "CP855"},          {857, "CP857"},         {858, "CP858"},         {860, "CP860"},
    {861, "CP861"},          {862, "CP862"},         {863, "CP863"},         {865, "CP865"},
    {866, "CP866"},          {869, "CP869"},         {950, "CP950"},         {936, "GB18030"},
    {932, "CP932"},          {949, "CP949"},         {51949, "EUC-KR"},      {874, "CP874"},
    {10007, "MAC-CYRILLIC"}, {21866, "KOI8-U"},      {20866, "KOI8-R"},
};

// glibc has no converter for the Arabic DOS page, so it is mapped here.
constexpr std::uint16_t kCp720High[128] = {
    0x0080, 0x0081, 0x00E9, 0x00E2, 0x0084, 0x00E0, 0x0086, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x008D, 0x008E, 0x008F, 0x0090, 0x0651, 0x0652, 0x00F4, 0x00A4, 0x0640, 0x00FB, 0x00F9,
    0x0621, 0x0622, 0x0623, 0x0624, 0x00A3, 0x0625, 0x0626, 0x0627, 0x0628, 0x0629, 0x062A, 0x062B,
    0x062C, 0x062D, 0x062E, 0x062F, 0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0636, 0x0637, 0x0638, 0x0639, 0x063A, 0x0641, 0x00B5, 0x0642, 0x0643, 0x0644, 0x0645, 0x0646,
    0x0647, 0x0648, 0x0649, 0x064A, 0x2261, 0x064B, 0x064C, 0x064D, 0x064E, 0x064F, 0x0650, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

constexpr char kReplacement[] = "\xEF\xBF\xBD";

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Converts with iconv, replacing each invalid unit by U+FFFD. Returns false
// when there is no converter; `replaced` tells whether anything was invalid,
// `cutShort` whether the bytes ended inside a character (which is left out).
bool convert(std::string_view in, const char* from, std::size_t unit, std::string& out,
             bool& replaced, bool& cutShort) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == iconv_t(-1))
        return false;
    out.clear();
    replaced = false;
    cutShort = false;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t used = 0;
    while (srcLeft > 0) {
        if (out.size() - used < 16)
            out.resize(out.size() * 2);
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (rc != std::size_t(-1))
            break;
        if (errno == E2BIG)
            continue;
        if (errno == EILSEQ) {
            std::size_t skip = std::min(unit, srcLeft);
            src += skip;
            srcLeft -= skip;
            if (out.size() - used < 3)
                out.resize(out.size() * 2);
            out.replace(used, 3, kReplacement, 3);
            used += 3;
            replaced = true;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        cutShort = true; // EINVAL
        break;
    }
    // Stateful pages (Vietnamese) hold the last character back until told
    // that no combining mark follows.
    if (out.size() - used < 16)
        out.resize(out.size() + 16);
    char* dst = out.data() + used;
    std::size_t dstLeft = out.size() - used;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    used = out.size() - dstLeft;
    out.resize(used);
    iconv_close(cd);
    return true;
}

} // namespace

int codePageForCharset(std::string_view name) {
    if (name.empty())
        return -1;
    for (const CharsetRow& row : kCharsets) {
        std::string_view aliases = row.aliases;
        while (!aliases.empty()) {
            std::size_t space = aliases.find(' ');
            if (equalsFolded(aliases.substr(0, space), name))
                return row.codePage;
            aliases =
                space == std::string_view::npos ? std::string_view() : aliases.substr(space + 1);
        }
    }
    return -1;
}

int codePageFromBom(const unsigned char* bytes, std::size_t count) {
    if (count > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return kCodePageUtf8;
    if (count > 1) {
        if (bytes[0] == 0xFE && bytes[1] == 0xFF)
            return kCodePageUtf16Be;
        if (bytes[0] == 0xFF && bytes[1] == 0xFE)
            return kCodePageUtf16Le;
    }
    return 0;
}

// Matches the whole value against ([^;]+);\s?charset=([^;]+) and returns the
// second group. Written out because the library's regular expressions recurse
// once per character and overflow the stack on a long header value; the
// pattern cannot backtrack (the first group ends at the first ';'), so one
// pass decides it.
std::optional<std::string> charsetFromContentType(const std::string& value) {
    const std::size_t semicolon = value.find(';');
    if (semicolon == 0 || semicolon == std::string::npos)
        return std::nullopt;
    std::size_t pos = semicolon + 1;
    if (pos < value.size() && std::strchr(" \t\n\v\f\r", value[pos]) != nullptr &&
        value[pos] != '\0')
        ++pos;
    constexpr std::string_view key = "charset=";
    if (value.compare(pos, key.size(), key) != 0)
        return std::nullopt;
    pos += key.size();
    if (pos == value.size() || value.find(';', pos) != std::string::npos)
        return std::nullopt;
    return value.substr(pos);
}

const char* iconvNameForCodePage(int codePage) {
    for (const IconvName& entry : kIconvNames)
        if (entry.codePage == codePage)
            return entry.name;
    return nullptr;
}

std::string textToUtf8(std::string_view bytes, int codePage) {
    std::string out;
    bool replaced = false;
    bool cutShort = false;
    if (codePage == 720) {
        for (unsigned char c : bytes) {
            if (c == 0)
                break;
            appendUtf8(out, c < 0x80 ? c : kCp720High[c - 0x80]);
        }
        return out;
    }
    const bool utf16 = codePage == kCodePageUtf16Le || codePage == kCodePageUtf16Be;
    if (!utf16)
        bytes = bytes.substr(0, bytes.find('\0'));
    const char* name = iconvNameForCodePage(codePage);
    if (name == nullptr || !convert(bytes, name, utf16 ? 2 : 1, out, replaced, cutShort)) {
        // No known page: keep it if it reads as UTF-8, else take the most
        // common single-byte page of the web. A character cut off by the
        // size limit does not count against UTF-8.
        convert(bytes, "UTF-8", 1, out, replaced, cutShort);
        if (replaced || (cutShort && bytes.size() < kTextViewLimit))
            convert(bytes, "CP1252", 1, out, replaced, cutShort);
    }
    out.resize(std::min(out.size(), out.find('\0')));
    if (out.starts_with("\xEF\xBB\xBF"))
        out.erase(0, 3);
    return out;
}
