// HTTP request and response heads: the first line and an ordered field list
// that keeps duplicates and the order of arrival. Texts are the exact bytes of
// the wire, so a head parsed and written again is the same head.
#pragma once

#include "engine/Buffer.h"
#include "engine/Text.h" // formatInt and the case-insensitive comparisons

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct HttpHeaderField {
    std::string name;
    std::string value;
};

class HttpMessageHeader {
public:
    virtual ~HttpMessageHeader() = default;

    // Names compare case-insensitively (ASCII letters only). Pointers returned
    // by get() stay valid until the field list next changes.
    std::int32_t find(std::string_view name, std::int32_t start = 0) const;
    HttpHeaderField* get(std::string_view name);
    const HttpHeaderField* get(std::string_view name) const;
    // replace: the first field of that name takes the value in place;
    // otherwise (or when there is none) a new field is appended.
    void set(std::string_view name, std::string_view value, bool replace);
    void remove(std::string_view name);
    void clear() { fields.clear(); }

    // The first Content-Length as a decimal number (saturating), -1 without one.
    std::int64_t contentLength() const;
    // The last coding of the first Transfer-Encoding field is "chunked".
    bool isChunked() const;

    std::vector<HttpHeaderField> fields;
};

class HttpRequestHeader : public HttpMessageHeader {
public:
    std::string method = "GET";
    std::string target; // as sent: origin form, absolute URL, or anything else
    std::string version = "HTTP/1.1";
};

class HttpResponseHeader : public HttpMessageHeader {
public:
    std::string version;
    std::int32_t statusCode = 0;
    std::string reason;
};

// Parse a head block: everything up to and including the CR LF of its last
// line, without the empty line. On failure in the first line the header is
// unchanged; fields parsed before a failing field line stay.
bool parseRequestHeader(const char* bytes, std::int32_t length, HttpRequestHeader& header);
bool parseResponseHeader(const char* bytes, std::int32_t length, HttpResponseHeader& header);

// Append the serialised head, empty line included, to `buffer`. Field lines are
// written as name ":" value with no space. False only when the buffer cannot
// grow (lastError() is set).
bool appendRequestHeader(Buffer<char>& buffer, const HttpRequestHeader& header);
bool appendResponseHeader(Buffer<char>& buffer, const HttpResponseHeader& header);

// Splits "host:port" at the last colon. Without a colon the port stays (callers
// pass the default); fails when the text after the colon is not all number.
bool splitHostPort(std::string_view text, std::string& host, std::int32_t& port);

// Cuts at every separator; pieces are trimmed and kept, empty ones included.
std::vector<std::string> splitList(std::string_view text, char separator);
