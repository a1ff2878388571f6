// Head parsing: never crashes, and a parsed head written out parses back to
// the same head (what the relay forwards is what it understood).
#include "engine/HttpMessageHeader.h"
#include "engine/HttpReader.h"
#include "engine/Stream.h"

#include <cstdlib>
#include <string>

namespace {

std::string written(const HttpRequestHeader& h) {
    Buffer<char> b;
    if (!appendRequestHeader(b, h))
        std::abort();
    return std::string(b.data, std::size_t(b.length));
}

std::string written(const HttpResponseHeader& h) {
    Buffer<char> b;
    if (!appendResponseHeader(b, h))
        std::abort();
    return std::string(b.data, std::size_t(b.length));
}

bool sameFields(const HttpMessageHeader& a, const HttpMessageHeader& b) {
    if (a.fields.size() != b.fields.size())
        return false;
    for (std::size_t i = 0; i < a.fields.size(); ++i) {
        if (a.fields[i].name != b.fields[i].name || a.fields[i].value != b.fields[i].value)
            return false;
    }
    return true;
}

// The written head without its empty line is the block a reader would parse.
std::string block(const std::string& head) {
    return head.substr(0, head.size() - 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    const auto length = static_cast<std::int32_t>(size);

    HttpRequestHeader req;
    if (parseRequestHeader(bytes, length, req)) {
        const std::string w = written(req);
        HttpRequestHeader again;
        const std::string b = block(w);
        if (!parseRequestHeader(b.data(), std::int32_t(b.size()), again))
            std::abort();
        if (again.method != req.method || again.target != req.target ||
            again.version != req.version || !sameFields(again, req) || written(again) != w)
            std::abort();
        (void)req.contentLength();
        (void)req.isChunked();
    }

    HttpResponseHeader resp;
    if (parseResponseHeader(bytes, length, resp)) {
        const std::string w = written(resp);
        HttpResponseHeader again;
        const std::string b = block(w);
        if (!parseResponseHeader(b.data(), std::int32_t(b.size()), again))
            std::abort();
        if (again.version != resp.version || again.statusCode != resp.statusCode ||
            again.reason != resp.reason || !sameFields(again, resp) || written(again) != w)
            std::abort();
    }

    // The same bytes through the reader, as a stream of pipelined heads.
    BufferInputStream source(bytes, length);
    HttpReader reader(&source, 64, 64);
    for (int i = 0; i < 64; ++i) {
        HttpRequestHeader h;
        if (!reader.readRequestHeader(h))
            break;
    }
    return 0;
}
