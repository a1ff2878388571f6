// Host names as TLS sees them: the server name a client sends in its hello,
// which names a certificate may carry, and the pass-through patterns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The host_name entry of a server_name extension's body (RFC 6066). False
// for anything malformed or without a host name entry.
bool parseServerNameExtension(const unsigned char* data, std::size_t length, std::string& name);

// The server name a ClientHello handshake message asks for (RFC 8446, 4.1.2;
// `message` starts with its type and length, without record framing). False
// when the message is not a whole, well-formed ClientHello; true with an
// empty `name` when it names no server.
bool parseClientHelloServerName(std::string_view message, std::string& name);

enum class HostKind { Invalid, Dns, Ipv4, Ipv6 };

// What a host (a CONNECT host or a server name) is, and its normal form:
// lower case without a trailing dot, an IPv6 literal without brackets. Only
// names a certificate can safely carry pass as Dns: letters, digits, '-',
// '_' and dots, labels of 1 to 63 bytes, 253 bytes in all.
HostKind classifyHost(std::string_view host, std::string& normal);

// Hosts that are tunnelled, never decrypted: one pattern a line (or
// separated by commas or blanks), '*' and '?' as wildcards, letter case
// ignored. "*.example.com" matches every name below example.com.
class PassThroughList {
public:
    PassThroughList() = default;
    explicit PassThroughList(std::string_view text);

    bool matches(std::string_view host) const;
    bool empty() const { return patterns_.empty(); }
    const std::vector<std::string>& patterns() const { return patterns_; }
    // One pattern a line.
    std::string text() const;

private:
    std::vector<std::string> patterns_;
};
