// Cache files come from disk and may be truncated or damaged: loading one,
// and reading back whatever loaded, must fail cleanly, never crash.
#include "engine/Stream.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"
#include "store/HttpResourceData.h"
#include "tests/fuzz/FuzzCacheFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

struct NullSink : OutputStream {
    bool write(const void*, std::int32_t) override { return true; }
};

CacheFolder* folder = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = newFuzzCacheFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Named after the id the image claims, so reads that reopen the file by
    // id reach it.
    std::uint32_t id = 1;
    if (size >= 8)
        id = std::uint32_t(data[4]) | std::uint32_t(data[5]) << 8 | std::uint32_t(data[6]) << 16 |
             std::uint32_t(data[7]) << 24;
    const std::string path = folder->fileName(id);
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    HttpResource resource(folder);
    if (resource.load(path)) {
        HttpRequestHeader request;
        HttpResponseHeader response;
        resource.readRequestHeader(request);
        resource.readResponseHeader(response);
        NullSink sink;
        resource.copyBody(sink, false);
        resource.copyBody(sink, true);
        char bytes[4096];
        for (int which = 0; which < 2; ++which) {
            auto region = which == 0 ? HttpResourceData::requestBody(resource)
                                     : HttpResourceData::responseBody(resource);
            while (region && region->read(bytes, sizeof bytes) > 0) {
            }
        }
        resource.suggestedFileName();
    }
    unlink(path.c_str());
    return 0;
}
