#include "tls/HostName.h"

#include "support/TlsFront.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> bytes(std::initializer_list<int> values) {
    return std::vector<unsigned char>(values.begin(), values.end());
}

struct ServerNameRow {
    const char* what;
    std::vector<unsigned char> extension;
    bool ok;
    const char* name;
};

TEST(ServerNameExtension, TableOfBodies) {
    const ServerNameRow rows[] = {
        {"one host name", bytes({0, 8, 0, 0, 5, 'a', '.', 'b', 'c', 'd'}), true, "a.bcd"},
        {"an unknown type first", bytes({0, 9, 7, 0, 1, 'x', 0, 0, 2, 'h', 'i'}), true, "hi"},
        {"list length disagrees", bytes({0, 9, 0, 0, 5, 'a', '.', 'b', 'c', 'd'}), false, ""},
        {"name runs past the end", bytes({0, 5, 0, 0, 9, 'a', 'b'}), false, ""},
        {"no host name entry", bytes({0, 4, 7, 0, 1, 'x'}), false, ""},
        {"empty name", bytes({0, 3, 0, 0, 0}), false, ""},
        {"truncated", bytes({0}), false, ""},
        {"empty", {}, false, ""},
    };
    for (const ServerNameRow& row : rows) {
        std::string name;
        EXPECT_EQ(parseServerNameExtension(row.extension.data(), row.extension.size(), name),
                  row.ok)
            << row.what;
        if (row.ok) {
            EXPECT_EQ(name, row.name) << row.what;
        }
    }
}

// A ClientHello made by hand around `extensions` (each with its type and
// length already).
std::string handMadeHello(const std::string& extensions, bool withExtensions = true) {
    std::string body = std::string("\x03\x03", 2) + std::string(32, 'r') + std::string("\x00", 1) +
                       std::string("\x00\x02\x13\x01", 4) + std::string("\x01\x00", 2);
    if (withExtensions) {
        body += char(extensions.size() >> 8);
        body += char(extensions.size() & 0xFF);
        body += extensions;
    }
    std::string message = "\x01";
    message += char(body.size() >> 16);
    message += char((body.size() >> 8) & 0xFF);
    message += char(body.size() & 0xFF);
    return message + body;
}

std::string serverNameExtension(const std::string& name) {
    std::string entry = std::string("\x00", 1) + char(name.size() >> 8) + char(name.size()) + name;
    std::string list = std::string(1, char(entry.size() >> 8)) + char(entry.size()) + entry;
    return std::string("\x00\x00", 2) + char(list.size() >> 8) + char(list.size()) + list;
}

TEST(ClientHelloServerName, TableOfHellos) {
    const std::string grease = std::string("\x0a\x0a\x00\x00", 4);
    struct Row {
        const char* what;
        std::string message;
        bool ok;
        const char* name;
    } rows[] = {
        {"OpenSSL asking for a name", clientHelloOf("pinned.test"), true, "pinned.test"},
        {"OpenSSL for an address names none", clientHelloOf("127.0.0.1"), true, ""},
        {"name among other extensions",
         handMadeHello(grease + serverNameExtension("a.test") + grease), true, "a.test"},
        {"no extensions", handMadeHello("", false), true, ""},
        {"empty extensions", handMadeHello(""), true, ""},
        {"two names", handMadeHello(serverNameExtension("a.test") + serverNameExtension("b.test")),
         false, ""},
        {"not a ClientHello", "\x02" + handMadeHello("").substr(1), false, ""},
        {"longer than it says", handMadeHello("") + "x", false, ""},
        {"extensions longer than the message",
         handMadeHello(serverNameExtension("a.test")).substr(0, 60), false, ""},
    };
    for (const Row& row : rows) {
        std::string name = "left over";
        EXPECT_EQ(parseClientHelloServerName(row.message, name), row.ok) << row.what;
        if (row.ok) {
            EXPECT_EQ(name, row.name) << row.what;
        }
    }
    // Any message cut short is refused, wherever it is cut.
    const std::string whole = rows[0].message;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        std::string name;
        EXPECT_FALSE(parseClientHelloServerName(whole.substr(0, cut), name)) << cut;
    }
}

TEST(ClassifyHost, NamesCertificatesMayCarry) {
    struct Row {
        const char* host;
        HostKind kind;
        const char* normal;
    } rows[] = {
        {"Example.COM", HostKind::Dns, "example.com"},
        {"example.com.", HostKind::Dns, "example.com"},
        {"my_host-1.local", HostKind::Dns, "my_host-1.local"},
        {"127.0.0.1", HostKind::Ipv4, "127.0.0.1"},
        {"[::1]", HostKind::Ipv6, "::1"},
        {"0:0::1", HostKind::Ipv6, "::1"},
        // Anything that could smuggle text into a certificate is refused.
        {"a.com,DNS:evil.com", HostKind::Invalid, ""},
        {"a.com/x", HostKind::Invalid, ""},
        {"*.example.com", HostKind::Invalid, ""},
        {"a..b", HostKind::Invalid, ""},
        {".a", HostKind::Invalid, ""},
        {"", HostKind::Invalid, ""},
        {"fe80::1%eth0", HostKind::Invalid, ""},
        {"h\xc3\xa9.com", HostKind::Invalid, ""},
    };
    for (const Row& row : rows) {
        std::string normal;
        EXPECT_EQ(classifyHost(row.host, normal), row.kind) << row.host;
        EXPECT_EQ(normal, row.normal) << row.host;
    }
    std::string normal;
    EXPECT_EQ(classifyHost(std::string(64, 'a') + ".com", normal), HostKind::Invalid);
    EXPECT_EQ(classifyHost(std::string(63, 'a') + ".com", normal), HostKind::Dns);
    std::string longName;
    while (longName.size() < 260)
        longName += "abcdefghi.";
    EXPECT_EQ(classifyHost(longName, normal), HostKind::Invalid);
}

TEST(PassThroughList, WildcardsAndSeparators) {
    const PassThroughList list("*.Bank.example\n  pinned.test, 10.0.0.?\r\n[::1]\n\n");
    EXPECT_EQ(list.patterns(),
              (std::vector<std::string>{"*.bank.example", "pinned.test", "10.0.0.?", "[::1]"}));
    struct Row {
        const char* host;
        bool matches;
    } rows[] = {
        {"www.bank.example", true},
        {"a.b.BANK.example", true},
        {"bank.example", false},
        {"pinned.test", true},
        {"pinned.test.", true},
        {"xpinned.test", false},
        {"10.0.0.7", true},
        {"10.0.0.17", false},
        {"::1", true},
        {"[::1]", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(list.matches(row.host), row.matches) << row.host;
    EXPECT_FALSE(PassThroughList("").matches("anything"));
    EXPECT_TRUE(PassThroughList("").empty());
    EXPECT_EQ(PassThroughList(list.text()).patterns(), list.patterns());
}

} // namespace
