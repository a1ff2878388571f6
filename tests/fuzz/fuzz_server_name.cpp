// A client's hello, its server_name extension and the names taken from them:
// never read past the bytes given, and only names a certificate can safely
// carry pass.
#include "tls/HostName.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name;
    if (parseServerNameExtension(data, size, name) &&
        (name.empty() || name.size() + 5 > size ||
         std::string(reinterpret_cast<const char*>(data), size).find(name) == std::string::npos))
        std::abort();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string helloName;
    if (parseClientHelloServerName(text, helloName) && !helloName.empty() &&
        text.find(helloName) == std::string::npos)
        std::abort();
    std::string normal;
    if (classifyHost(text, normal) == HostKind::Dns) {
        if (normal.empty() || normal.size() > 253)
            std::abort();
        for (char c : normal)
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                  c == '.'))
                std::abort();
    }
    PassThroughList(text).matches(text);
    return 0;
}
