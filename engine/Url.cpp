#include "engine/Url.h"

#include "engine/Text.h"

#include <limits>

void Url::parse(std::string_view text) {
    scheme.clear();
    authority.clear();
    path.clear();
    query.clear();
    fragment.clear();
    flags = 0;

    std::size_t cursor = 0;
    const std::size_t schemeEnd = text.find_first_of(":/?#");
    if (schemeEnd != std::string_view::npos && text[schemeEnd] == ':') {
        scheme = text.substr(0, schemeEnd);
        flags |= HasScheme;
        cursor = schemeEnd + 1;
    }
    if (text.substr(cursor, 2) == "//") {
        cursor += 2;
        const std::size_t stop = std::min(text.find_first_of("/?#", cursor), text.size());
        authority = text.substr(cursor, stop - cursor);
        flags |= HasAuthority;
        cursor = stop;
    }
    const std::size_t pathEnd = std::min(text.find_first_of("?#", cursor), text.size());
    path = text.substr(cursor, pathEnd - cursor);
    cursor = pathEnd;
    if (cursor < text.size() && text[cursor] == '?') {
        const std::size_t stop = std::min(text.find('#', cursor + 1), text.size());
        query = text.substr(cursor + 1, stop - cursor - 1);
        flags |= HasQuery;
        cursor = stop;
    }
    if (cursor < text.size() && text[cursor] == '#') {
        fragment = text.substr(cursor + 1);
        flags |= HasFragment;
    }
}

std::string Url::toString() const {
    std::string out;
    out.reserve(scheme.size() + authority.size() + path.size() + query.size() + fragment.size() +
                5);
    if (flags & HasScheme)
        out.append(scheme).append(":");
    if (flags & HasAuthority)
        out.append("//").append(authority);
    out.append(path);
    if (flags & HasQuery)
        out.append("?").append(query);
    if (flags & HasFragment)
        out.append("#").append(fragment);
    return out;
}

bool Url::splitAuthority(std::string& userInfo, std::string& host, std::int32_t& port) const {
    if (!(flags & HasAuthority))
        return false;
    std::string_view rest = authority;
    std::string_view user;
    if (const std::size_t at = rest.find('@'); at != std::string_view::npos) {
        user = rest.substr(0, at);
        rest = rest.substr(at + 1);
    }
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        userInfo = user;
        host = rest;
        return true;
    }
    const std::string_view portText = rest.substr(colon + 1);
    std::int64_t value = 0;
    const std::size_t end = parseInteger(portText, 10, std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max(), value);
    userInfo = user;
    host = rest.substr(0, colon);
    port = static_cast<std::int32_t>(value);
    return end == portText.size();
}

int Url::compare(const Url& other) const {
    for (auto part : {&Url::scheme, &Url::authority, &Url::path, &Url::query, &Url::fragment}) {
        if (const int c = compareIgnoreCase(this->*part, other.*part))
            return c;
    }
    return 0;
}

namespace {

bool escapeAt(std::string_view text, std::size_t i) {
    return i + 2 < text.size() && text[i] == '%' && hexDigitValue(text[i + 1]) >= 0 &&
           hexDigitValue(text[i + 2]) >= 0;
}

// Appends `bytes` as UTF-8, each maximal invalid subpart replaced by U+FFFD;
// stops at the first NUL.
void appendLenientUtf8(std::string& out, std::string_view bytes) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 == 0)
            return;
        if (b0 < 0x80) {
            out.push_back(char(b0));
            ++i;
            continue;
        }
        // Lead byte: sequence length and the valid range of the second byte
        // (excludes overlong forms, surrogates and values beyond U+10FFFF).
        std::size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 3;
            if (b0 == 0xE0)
                lo = 0xA0;
            if (b0 == 0xED)
                hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 4;
            if (b0 == 0xF0)
                lo = 0x90;
            if (b0 == 0xF4)
                hi = 0x8F;
        }
        if (need == 0) {
            out.append(kReplacement);
            ++i;
            continue;
        }
        std::size_t len = 1;
        while (len < need && i + len < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[i + len]);
            const unsigned char l = len == 1 ? lo : 0x80;
            const unsigned char h = len == 1 ? hi : 0xBF;
            if (b < l || b > h)
                break;
            ++len;
        }
        if (len == need)
            out.append(bytes.substr(i, len));
        else
            out.append(kReplacement);
        i += len;
    }
}

} // namespace

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::string run;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!escapeAt(text, i)) {
            out.push_back(text[i]);
            ++i;
            continue;
        }
        run.clear();
        while (escapeAt(text, i)) {
            run.push_back(char(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
            i += 3;
        }
        appendLenientUtf8(out, run);
    }
    return out;
}
