#include "tls/HostName.h"

#include "engine/Text.h"

#include <arpa/inet.h>
#include <fnmatch.h>

namespace {

std::size_t be16(const unsigned char* p) {
    return std::size_t(p[0]) << 8 | p[1];
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiToLower(c);
    return out;
}

bool isNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

} // namespace

bool parseServerNameExtension(const unsigned char* data, std::size_t length, std::string& name) {
    if (length < 2 || be16(data) != length - 2)
        return false;
    std::size_t at = 2;
    while (at + 3 <= length) {
        const unsigned type = data[at];
        const std::size_t size = be16(data + at + 1);
        at += 3;
        if (size > length - at)
            return false;
        if (type == 0) {
            name.assign(reinterpret_cast<const char*>(data + at), size);
            return size > 0;
        }
        at += size;
    }
    return false;
}

bool parseClientHelloServerName(std::string_view message, std::string& name) {
    name.clear();
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    const std::size_t size = message.size();
    constexpr unsigned char kClientHello = 1;
    if (size < 4 || data[0] != kClientHello ||
        (std::size_t(data[1]) << 16 | be16(data + 2)) != size - 4)
        return false;
    // Version and random, then three fields of their own length.
    std::size_t at = 4 + 2 + 32;
    for (const std::size_t lengthBytes : {1, 2, 1}) {
        if (at + lengthBytes > size)
            return false;
        const std::size_t length = lengthBytes == 1 ? data[at] : be16(data + at);
        at += lengthBytes + length;
        if (at > size)
            return false;
    }
    if (at == size)
        return true; // no extensions at all
    if (at + 2 > size || be16(data + at) != size - at - 2)
        return false;
    at += 2;
    bool named = false;
    while (at < size) {
        if (at + 4 > size)
            return false;
        const std::size_t type = be16(data + at);
        const std::size_t length = be16(data + at + 2);
        at += 4;
        if (length > size - at)
            return false;
        constexpr std::size_t kServerName = 0;
        if (type == kServerName) {
            // Twice would let two readers see two names.
            if (named || !parseServerNameExtension(data + at, length, name))
                return false;
            named = true;
        }
        at += length;
    }
    return true;
}

HostKind classifyHost(std::string_view host, std::string& normal) {
    normal.clear();
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty() || host.size() > 253 + 1)
        return HostKind::Invalid;
    if (host.find(':') != std::string_view::npos) {
        // inet_pton needs a terminated string; a zone ("%eth0") is refused.
        const std::string text(host);
        unsigned char address[16];
        if (inet_pton(AF_INET6, text.c_str(), address) != 1)
            return HostKind::Invalid;
        char canonical[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, address, canonical, sizeof canonical);
        normal = canonical;
        return HostKind::Ipv6;
    }
    std::string lower = lowered(host);
    if (lower.back() == '.')
        lower.pop_back();
    if (lower.empty() || lower.size() > 253)
        return HostKind::Invalid;
    unsigned char v4[4];
    if (inet_pton(AF_INET, lower.c_str(), v4) == 1) {
        normal = lower;
        return HostKind::Ipv4;
    }
    std::size_t label = 0;
    for (char c : lower) {
        if (c == '.') {
            if (label == 0)
                return HostKind::Invalid;
            label = 0;
        } else if (isNameByte(c) && ++label <= 63) {
        } else {
            return HostKind::Invalid;
        }
    }
    normal = std::move(lower);
    return HostKind::Dns;
}

PassThroughList::PassThroughList(std::string_view text) {
    std::string current;
    auto flush = [&] {
        if (!current.empty())
            patterns_.push_back(lowered(current));
        current.clear();
    };
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == ',' || c == ' ' || c == '\t')
            flush();
        else
            current += c;
    }
    flush();
}

bool PassThroughList::matches(std::string_view host) const {
    if (patterns_.empty())
        return false;
    std::string normal;
    if (classifyHost(host, normal) == HostKind::Invalid)
        normal = lowered(host);
    for (const std::string& pattern : patterns_) {
        std::string bare = pattern;
        if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
            bare = bare.substr(1, bare.size() - 2);
        if (fnmatch(bare.c_str(), normal.c_str(), FNM_CASEFOLD) == 0)
            return true;
    }
    return false;
}

std::string PassThroughList::text() const {
    std::string out;
    for (const std::string& pattern : patterns_)
        out += pattern + "\n";
    return out;
}
