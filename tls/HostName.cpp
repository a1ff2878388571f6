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
