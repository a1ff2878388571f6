#include "engine/HttpMessageHeader.h"
#include "engine/Url.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(Url, ParseCutsAtFixedDelimitersAndRoundTrips) {
    struct Case {
        std::string text;
        const char* scheme;
        const char* authority;
        const char* path;
        const char* query;
        const char* fragment;
        std::uint32_t flags;
    };
    constexpr std::uint32_t S = Url::HasScheme, A = Url::HasAuthority, Q = Url::HasQuery,
                            F = Url::HasFragment;
    const Case cases[] = {
        {"http://u:pw@h.test:8080/a/b?x=1&y#frag", "http", "u:pw@h.test:8080", "/a/b", "x=1&y",
         "frag", S | A | Q | F},
        {"", "", "", "", "", "", 0},
        {"#", "", "", "", "", "", F},
        {"?", "", "", "", "", "", Q},
        {"/p?q#f", "", "", "/p", "q", "f", Q | F},
        {"/a:b", "", "", "/a:b", "", "", 0},
        {"host:8080/x", "host", "", "8080/x", "", "", S},
        {"//h", "", "h", "", "", "", A},
        {"http://", "http", "", "", "", "", S | A},
        {"http://h?#", "http", "h", "", "", "", S | A | Q | F},
        {"mailto:a@b", "mailto", "", "a@b", "", "", S},
        {"a?b?c#d#e", "", "", "a", "b?c", "d#e", Q | F},
        {":x", "", "", "x", "", "", S},
        {"HTTP://H/%41\xE4", "HTTP", "H", "/%41\xE4", "", "", S | A},
        {"x#a?b", "", "", "x", "", "a?b", F},
    };
    for (const Case& c : cases) {
        Url u;
        u.scheme = "stale";
        u.flags = 0xFF;
        u.parse(c.text);
        EXPECT_EQ(u.scheme, c.scheme) << c.text;
        EXPECT_EQ(u.authority, c.authority) << c.text;
        EXPECT_EQ(u.path, c.path) << c.text;
        EXPECT_EQ(u.query, c.query) << c.text;
        EXPECT_EQ(u.fragment, c.fragment) << c.text;
        EXPECT_EQ(u.flags, c.flags) << c.text;
        EXPECT_EQ(u.toString(), c.text);
    }
}

TEST(Url, ClearingSchemeAndAuthorityGivesOriginForm) {
    Url u;
    u.parse("http://h.test/p?q#f");
    u.flags &= ~std::uint32_t(Url::HasScheme | Url::HasAuthority);
    EXPECT_EQ(u.toString(), "/p?q#f");
}

TEST(Url, SplitAuthority) {
    struct Case {
        const char* url;
        bool ok;
        const char* user;
        const char* host;
        std::int32_t port;
    };
    const Case cases[] = {
        {"http://user:pw@host:8080/", true, "user:pw", "host", 8080},
        {"http://host/", true, "", "host", 80},
        {"http://host:8080x/", false, "", "host", 8080},
        {"http://host:/", true, "", "host", 0},
        {"http://[::1]:8080/", false, "", "[", 0},
        {"http://a@b@c:1", true, "a", "b@c", 1},
        {"http://@h", true, "", "h", 80},
        {"http:///p", true, "", "", 80},
    };
    for (const Case& c : cases) {
        Url u;
        u.parse(c.url);
        std::string user = "unset", host = "unset";
        std::int32_t port = 80;
        EXPECT_EQ(u.splitAuthority(user, host, port), c.ok) << c.url;
        EXPECT_EQ(user, c.user) << c.url;
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
    }
    Url origin;
    origin.parse("/only/path");
    std::string user = "unset", host = "unset";
    std::int32_t port = 80;
    EXPECT_FALSE(origin.splitAuthority(user, host, port));
    EXPECT_EQ(user, "unset");
    EXPECT_EQ(host, "unset");
    EXPECT_EQ(port, 80);
}

TEST(Url, CompareFoldsAsciiCasePartByPart) {
    auto cmp = [](const char* a, const char* b) {
        Url x, y;
        x.parse(a);
        y.parse(b);
        const int c = x.compare(y);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    };
    EXPECT_EQ(cmp("http://Example.TEST/a", "http://example.test/a"), 0);
    EXPECT_EQ(cmp("http://a/z", "http://b/a"), -1); // authority before path
    EXPECT_EQ(cmp("https://a/", "http://b/"), 1);
    EXPECT_EQ(cmp("http://a/p?", "http://a/p"), 0); // flags are not compared
    EXPECT_EQ(cmp("/p?a#x", "/p?b#a"), -1);
}

TEST(PercentDecode, DecodesEscapeRunsAsUtf8) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"a%20b", "a b"},
        {"%E4%B8%AD", "\xE4\xB8\xAD"},
        {"%e4%b8%ad%E6%96%87.txt", "\xE4\xB8\xAD\xE6\x96\x87.txt"},
        {"100%", "100%"},
        {"%zz", "%zz"},
        {"x%4", "x%4"},
        {"%%41", "%A"},
        {"%41%00%42", "A"},
        {"%41%00%42 c%43", "A c"
                           "C"},
        {"a+b", "a+b"},
        {"%FF", "\xEF\xBF\xBD"},
        {"%E4%B8", "\xEF\xBF\xBD"},                  // truncated sequence: one replacement
        {"%E4%B8x%AD", "\xEF\xBF\xBDx\xEF\xBF\xBD"}, // runs convert separately
        {"%C0%AF", "\xEF\xBF\xBD\xEF\xBF\xBD"},      // overlong form
        {"%ED%A0%80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // surrogate
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
        {"raw \xE9 kept", "raw \xE9 kept"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(percentDecode(c.in), c.out) << c.in;
}
