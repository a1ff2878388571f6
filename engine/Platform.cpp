#include "engine/Platform.h"

#include "resources/StringTable.h"

#include <cstdio>
#include <cstring>

namespace {
thread_local std::uint32_t tlsLastError = 0;
}

std::uint32_t lastError() { return tlsLastError; }

void setLastError(std::uint32_t code) { tlsLastError = code; }

void setLastErrorFromErrno() { tlsLastError = static_cast<std::uint32_t>(errno); }

std::string errorText(std::uint32_t code) {
    if (isCustomError(code)) {
        if (const char* text = loadString(code & 0xFFFF))
            return text;
    } else if (code != 0 && code < 4096) {
        char buf[256];
        // GNU strerror_r returns the message (possibly not in buf).
        const char* msg = strerror_r(static_cast<int>(code), buf, sizeof buf);
        if (msg && std::strncmp(msg, "Unknown error", 13) != 0)
            return msg;
    }
    char out[256];
    std::snprintf(out, sizeof out, loadString(102), static_cast<unsigned>(code));
    return out;
}
