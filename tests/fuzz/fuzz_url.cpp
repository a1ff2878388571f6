// URL parsing never rejects and gives back the text it was given.
#include "engine/Url.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Url u;
    u.parse(text);
    if (u.toString() != text)
        std::abort();
    Url again;
    again.parse(u.toString());
    if (again.flags != u.flags || again.scheme != u.scheme || again.authority != u.authority ||
        again.path != u.path || again.query != u.query || again.fragment != u.fragment)
        std::abort();
    if (u.compare(again) != 0)
        std::abort();
    std::string user = "-", host = "-";
    std::int32_t port = 80;
    const bool split = u.splitAuthority(user, host, port);
    if (!(u.flags & Url::HasAuthority)) {
        if (split || user != "-" || host != "-" || port != 80)
            std::abort();
    } else if (u.authority.find(host) == std::string::npos ||
               u.authority.find(user) == std::string::npos) {
        std::abort(); // host and user information are pieces of the authority
    }
    return 0;
}
