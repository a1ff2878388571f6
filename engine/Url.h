// URLs cut at their fixed delimiters, never rejected, and percent-decoding for
// display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The flags, not the emptiness of the texts, say which parts were present: a
// trailing "?" is an empty query that toString writes back. Nothing is
// decoded, validated or case-folded, so parse then toString gives back the
// text.
struct Url {
    enum Flags : std::uint32_t {
        HasScheme = 0x01,
        HasAuthority = 0x02,
        HasQuery = 0x40,
        HasFragment = 0x80,
    };

    std::string scheme;
    std::string authority;
    std::string path;
    std::string query;
    std::string fragment;
    std::uint32_t flags = 0;

    void parse(std::string_view text);
    std::string toString() const;
    // userInfo@host:port. Fails (outputs unchanged) without an authority, and
    // when anything follows the port's digits. The port stays when there is
    // no colon; callers pass the default.
    bool splitAuthority(std::string& userInfo, std::string& host, std::int32_t& port) const;
    // Part by part, ASCII letters folded; flags are not compared.
    int compare(const Url& other) const;
};

// Replaces runs of %XX escapes by the UTF-8 text they spell (invalid sequences
// become U+FFFD; a run ends at its first NUL). Other bytes, "+" and stray "%"
// are copied unchanged.
std::string percentDecode(std::string_view text);
