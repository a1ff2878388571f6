#include "engine/HttpMessageHeader.h"
#include "engine/Text.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::string_literals;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields fieldsOf(const HttpMessageHeader& h) {
    Fields out;
    for (const HttpHeaderField& f : h.fields)
        out.emplace_back(f.name, f.value);
    return out;
}

bool parseRequest(const std::string& block, HttpRequestHeader& h) {
    return parseRequestHeader(block.data(), std::int32_t(block.size()), h);
}

bool parseResponse(const std::string& block, HttpResponseHeader& h) {
    return parseResponseHeader(block.data(), std::int32_t(block.size()), h);
}

std::string written(const HttpRequestHeader& h) {
    Buffer<char> b(16, 16);
    EXPECT_TRUE(appendRequestHeader(b, h));
    return std::string(b.data, std::size_t(b.length));
}

std::string written(const HttpResponseHeader& h) {
    Buffer<char> b;
    EXPECT_TRUE(appendResponseHeader(b, h));
    return std::string(b.data, std::size_t(b.length));
}

} // namespace

TEST(ParseRequest, CutsLinesAndFieldsByTheirRules) {
    struct Case {
        const char* name;
        std::string block;
        const char* method;
        const char* target;
        const char* version;
        Fields fields;
    };
    const Case cases[] = {
        {"plain",
         "GET /a?b HTTP/1.1\r\nHost: example.test\r\nAccept: */*\r\n",
         "GET",
         "/a?b",
         "HTTP/1.1",
         {{"Host", "example.test"}, {"Accept", "*/*"}}},
        {"absolute target",
         "POST http://h.test:81/x HTTP/1.0\r\n",
         "POST",
         "http://h.test:81/x",
         "HTTP/1.0",
         {}},
        {"later colons belong to the value",
         "GET / HTTP/1.1\r\nReferer: http://a:1/b\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"Referer", "http://a:1/b"}}},
        {"value trimmed, name trimmed",
         "GET / HTTP/1.1\r\n  X-A  :\t v  \t\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"X-A", "v"}}},
        {"line without colon is name and value",
         "GET / HTTP/1.1\r\n no colon here \r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"no colon here", "no colon here"}}},
        {"two-part request line", "GET /\r\n", "GET", "/", "/", {}},
        {"continuation lines stay separate fields",
         "GET / HTTP/1.1\r\nA: 1\r\n\t2\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"A", "1"}, {"2", "2"}}},
        {"bare LF is text",
         "GET / HTTP/1.1\r\nA: 1\nB: 2\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"A", "1\nB: 2"}}},
        {"empty name and value",
         "GET / HTTP/1.1\r\n:\r\nX:\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"", ""}, {"X", ""}}},
        {"duplicates in order",
         "GET / HTTP/1.1\r\nCookie: a\r\nX: 1\r\ncookie: b\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"Cookie", "a"}, {"X", "1"}, {"cookie", "b"}}},
        {"extra spaces in the request line", "GET  /  HTTP/1.1\r\n", "GET", "", "/  HTTP/1.1", {}},
        {"NUL and non-ASCII bytes kept",
         "GET /\xE4\xB8\xAD HTTP/1.1\r\nX: a\0b\r\n"s,
         "GET",
         "/\xE4\xB8\xAD",
         "HTTP/1.1",
         {{"X", std::string("a\0b", 3)}}},
        {"invalid UTF-8 kept byte for byte",
         "GET / HTTP/1.1\r\nX: caf\xE9\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"X", "caf\xE9"}}},
        {"Unicode spaces trimmed",
         "GET / HTTP/1.1\r\nX:\xE3\x80\x80v\xC2\xA0\r\n",
         "GET",
         "/",
         "HTTP/1.1",
         {{"X", "v"}}},
    };
    for (const Case& c : cases) {
        HttpRequestHeader h;
        ASSERT_TRUE(parseRequest(c.block, h)) << c.name;
        EXPECT_EQ(h.method, c.method) << c.name;
        EXPECT_EQ(h.target, c.target) << c.name;
        EXPECT_EQ(h.version, c.version) << c.name;
        EXPECT_EQ(fieldsOf(h), c.fields) << c.name;
    }
}

TEST(ParseRequest, FailuresLeaveTheFirstLineUnchanged) {
    // A one-word line is not a failure: each rule stops at the CR without
    // consuming it, so all three parts read the same word.
    HttpRequestHeader one;
    ASSERT_TRUE(parseRequest("GET\r\n", one));
    EXPECT_EQ(one.target, "GET");
    EXPECT_EQ(one.version, "GET");

    const char* const bad[] = {
        "",                 // nothing
        "GET",              // no CR at all
        "GET / HTTP/1.1",   // no CR LF
        "GET / HTTP/1.1\r", // CR without LF
    };
    for (const char* block : bad) {
        HttpRequestHeader h;
        h.target = "keep";
        EXPECT_FALSE(parseRequest(block, h)) << block;
        EXPECT_EQ(h.method, "GET");
        EXPECT_EQ(h.target, "keep") << block;
        EXPECT_EQ(h.version, "HTTP/1.1");
    }
    // A broken field line fails the parse; fields before it stay.
    HttpRequestHeader h;
    EXPECT_FALSE(parseRequest("PUT / HTTP/1.1\r\nA: 1\r\nB: 2", h));
    EXPECT_EQ(h.method, "PUT");
    EXPECT_EQ(fieldsOf(h), (Fields{{"A", "1"}}));
}

TEST(ParseResponse, StatusTextMustBeANumber) {
    struct Case {
        std::string block;
        bool ok;
        int code;
        const char* reason;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\n", true, 200, "OK"},
        {"HTTP/1.1 404 Not Found Here\r\n", true, 404, "Not Found Here"},
        {"HTTP/1.1 204\r\n", true, 204, "204"}, // no reason: the status text again
        {"HTTP/1.1 +301 Moved\r\n", true, 301, "Moved"},
        {"HTTP/1.1 99999999999 Big\r\n", true, std::numeric_limits<std::int32_t>::max(), "Big"},
        {"HTTP/1.1 2x0 OK\r\n", false, 0, ""},
        {"HTTP/1.1 OK\r\n", false, 0, ""},
        {"HTTP/1.1\r\n", false, 0, ""},
    };
    for (const Case& c : cases) {
        HttpResponseHeader h;
        EXPECT_EQ(parseResponse(c.block, h), c.ok) << c.block;
        EXPECT_EQ(h.statusCode, c.code) << c.block;
        if (c.ok) {
            EXPECT_EQ(h.version, "HTTP/1.1");
            EXPECT_EQ(h.reason, c.reason) << c.block;
        } else {
            EXPECT_EQ(h.version, "") << c.block;
        }
    }
}

TEST(HeadWriting, RoundTripsFieldsAndDropsTheSpaceAfterTheColon) {
    HttpRequestHeader req;
    ASSERT_TRUE(parseRequest("GET /\xE4\xB8\xAD?q HTTP/1.1\r\nAccept: text/html\r\nX-Dup: 1\r\n"
                             "x-dup: 2\r\nNote: caf\xC3\xA9\r\n",
                             req));
    EXPECT_EQ(written(req), "GET /\xE4\xB8\xAD?q HTTP/1.1\r\nAccept:text/html\r\nX-Dup:1\r\n"
                            "x-dup:2\r\nNote:caf\xC3\xA9\r\n\r\n");
    HttpRequestHeader again;
    const std::string w = written(req);
    ASSERT_TRUE(parseRequest(w.substr(0, w.size() - 2), again));
    EXPECT_EQ(fieldsOf(again), fieldsOf(req));

    HttpResponseHeader resp;
    ASSERT_TRUE(parseResponse("HTTP/1.1 302 Found\r\nLocation: /x\r\n", resp));
    EXPECT_EQ(written(resp), "HTTP/1.1 302 Found\r\nLocation:/x\r\n\r\n");

    HttpResponseHeader fresh; // empty texts add nothing
    EXPECT_EQ(written(fresh), " 0 \r\n\r\n");
    HttpRequestHeader defaults;
    EXPECT_EQ(written(defaults), "GET  HTTP/1.1\r\n\r\n");
}

TEST(HeaderFields, SetGetFindRemove) {
    HttpRequestHeader h;
    h.set("Host", "a", false);
    h.set("Connection", "close", false);
    h.set("HOST", "b", false);
    h.set("host", "c", true); // first Host only, name and place unchanged
    EXPECT_EQ(fieldsOf(h), (Fields{{"Host", "c"}, {"Connection", "close"}, {"HOST", "b"}}));
    h.set("Connection", "keep-alive", false); // appends even though one exists
    EXPECT_EQ(h.fields.back().value, "keep-alive");
    h.set("New", "v", true); // replace without a match appends
    EXPECT_EQ(h.fields.back().name, "New");

    EXPECT_EQ(h.find("host"), 0);
    EXPECT_EQ(h.find("host", 1), 2);
    EXPECT_EQ(h.find("host", 3), -1);
    EXPECT_EQ(h.find("Hos"), -1);
    ASSERT_NE(h.get("CONNECTION"), nullptr);
    EXPECT_EQ(h.get("CONNECTION")->value, "close");
    EXPECT_EQ(h.get("Pragma"), nullptr);

    h.set("Pragma", "no-cache", false);
    h.set("pragma", "x", false);
    h.remove("PRAGMA");
    h.remove("host");
    EXPECT_EQ(fieldsOf(h),
              (Fields{{"Connection", "close"}, {"Connection", "keep-alive"}, {"New", "v"}}));
    h.clear();
    EXPECT_TRUE(h.fields.empty());
}

TEST(HeaderFields, ContentLengthAndChunked) {
    struct Case {
        Fields fields;
        std::int64_t length;
        bool chunked;
    };
    const Case cases[] = {
        {{}, -1, false},
        {{{"Content-Length", "0012"}}, 12, false},
        {{{"content-length", "abc"}}, 0, false},
        {{{"Content-Length", " -7"}}, -7, false},
        {{{"Content-Length", "12abc"}}, 12, false},
        {{{"Content-Length", "99999999999999999999999"}},
         std::numeric_limits<std::int64_t>::max(),
         false},
        {{{"Content-Length", "5000000000"}, {"Content-Length", "1"}}, 5000000000, false},
        {{{"Transfer-Encoding", "chunked"}}, -1, true},
        {{{"Transfer-Encoding", "gzip, Chunked "}}, -1, true},
        {{{"Transfer-Encoding", "chunked, gzip"}}, -1, false},
        {{{"Transfer-Encoding", "gzip"}, {"Transfer-Encoding", "chunked"}}, -1, false},
        {{{"Transfer-Encoding", ""}}, -1, false},
    };
    for (const Case& c : cases) {
        HttpResponseHeader h;
        for (const auto& [n, v] : c.fields)
            h.set(n, v, false);
        EXPECT_EQ(h.contentLength(), c.length) << ::testing::PrintToString(c.fields);
        EXPECT_EQ(h.isChunked(), c.chunked) << ::testing::PrintToString(c.fields);
    }
}

TEST(TextFunctions, SplitHostPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        std::int32_t port;
    };
    const Case cases[] = {
        {"example.test:8080", true, "example.test", 8080},
        {"example.test", true, "example.test", 80},
        {"example.test:", true, "example.test", 0},
        {"example.test:80x", false, "unset", 80},
        {"[::1]:443", true, "[::1]", 443},
        {"a:b:99", true, "a:b", 99},
        {"h: 81", true, "h", 81},
        {"h:81 ", false, "unset", 81},
        {"", true, "", 80},
    };
    for (const Case& c : cases) {
        std::string host = "unset";
        std::int32_t port = 80;
        EXPECT_EQ(splitHostPort(c.text, host, port), c.ok) << c.text;
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

TEST(TextFunctions, SplitListKeepsEmptyPieces) {
    using List = std::vector<std::string>;
    EXPECT_EQ(splitList("a, b,,c", ','), (List{"a", "b", "", "c"}));
    EXPECT_EQ(splitList("", ','), (List{""}));
    EXPECT_EQ(splitList("/a/b/", '/'), (List{"", "a", "b", ""}));
    EXPECT_EQ(splitList(" x ", ';'), (List{"x"}));
}

TEST(TextFunctions, CaseFoldingIsAsciiOnly) {
    EXPECT_TRUE(equalsIgnoreCase("Keep-Alive", "keep-ALIVE"));
    EXPECT_FALSE(equalsIgnoreCase("\xC3\x89", "\xC3\xA9")); // É and é are different bytes
    EXPECT_FALSE(equalsIgnoreCase("close", "closed"));
    EXPECT_EQ(compareIgnoreCase("ABC", "abd"), -1);
    EXPECT_EQ(compareIgnoreCase("b", "A"), 1);
    EXPECT_EQ(compareIgnoreCase("ab", "AB"), 0);
    EXPECT_EQ(compareIgnoreCase("ab", "abc"), -1);
    EXPECT_EQ(compareIgnoreCase("_", "A"), -1);   // letters fold to lower case
    EXPECT_EQ(compareIgnoreCase("\xE4", "a"), 1); // bytes compare unsigned
}

TEST(TextFunctions, IntegerConversionSaturatesAndStops) {
    struct Case {
        const char* text;
        int base;
        std::int64_t value;
        std::size_t end;
    };
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {"123", 10, 123, 3},
        {"  -42x", 10, -42, 5},
        {"+", 10, 0, 0},
        {" ", 10, 0, 0},
        {"9223372036854775807", 10, max, 19},
        {"9223372036854775808", 10, max, 19},
        {"-9223372036854775808", 10, min, 20},
        {"-9223372036854775809", 10, min, 20},
        {"1aF;ext", 16, 0x1af, 3},
        {"0x10", 16, 0, 1}, // no prefix: stops at x
        {"fffffffffffffffff", 16, max, 17},
    };
    for (const Case& c : cases) {
        std::int64_t v = -1;
        EXPECT_EQ(parseInteger(c.text, c.base, min, max, v), c.end) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
}
