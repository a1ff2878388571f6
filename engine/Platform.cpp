#include "engine/Platform.h"

#include "resources/StringTable.h"

#include <cstdio>
#include <cstring>
#include <locale.h>

namespace {

thread_local std::uint32_t tlsLastError = 0;

const char* englishMessage(int code) {
    static const locale_t c = newlocale(LC_MESSAGES_MASK, "C", locale_t(0));
    const char* text = c ? strerror_l(code, c) : nullptr;
    return text && std::strncmp(text, "Unknown error", 13) != 0 ? text : nullptr;
}

// The C library speaks Chinese only where its translations and a Chinese locale are installed;
// elsewhere the table's texts for the common codes stand in.
std::string chineseMessage(int code, const char* english) {
    static const locale_t zh = newlocale(LC_MESSAGES_MASK, "zh_CN.UTF-8", locale_t(0));
    if (zh && english) {
        const char* text = strerror_l(code, zh);
        if (text && std::strcmp(text, english) != 0)
            return text;
    }
    const unsigned id = IDS_SYSTEM_ERROR_FIRST + unsigned(code);
    if (id <= IDS_SYSTEM_ERROR_LAST) {
        if (const char* text = loadString(id, Language::Chinese))
            return text;
    }
    return english ? english : "";
}

} // namespace

std::uint32_t lastError() { return tlsLastError; }

void setLastError(std::uint32_t code) { tlsLastError = code; }

void setLastErrorFromErrno() { tlsLastError = static_cast<std::uint32_t>(errno); }

std::string systemErrorText(int code) {
    const char* english = englishMessage(code);
    if (currentLanguage() == Language::Chinese)
        return chineseMessage(code, english);
    return english ? english : "";
}

std::string errorText(std::uint32_t code) {
    if (isCustomError(code)) {
        if (const char* text = loadString(code & 0xFFFF))
            return text;
    } else if (code != 0 && code < 4096) {
        std::string text = systemErrorText(int(code));
        if (!text.empty())
            return text;
    }
    char out[256];
    std::snprintf(out, sizeof out, loadString(102), static_cast<unsigned>(code));
    return out;
}
