#include "engine/PathErrorText.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"

std::string pathErrorText(unsigned textId, const std::string& path, std::uint32_t code) {
    // Filled in by hand: a path may hold '%', and has no length limit.
    const char* pattern = loadString(textId);
    if (!pattern)
        return path + ": " + errorText(code);
    const std::string arguments[] = {path, errorText(code)};
    std::string text;
    std::size_t next = 0;
    for (const char* c = pattern; *c; ++c) {
        if (c[0] == '%' && c[1] == 's' && next < 2) {
            text += arguments[next++];
            ++c;
        } else {
            text += *c;
        }
    }
    return text;
}
