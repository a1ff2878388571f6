// Capture logs come from disk and may be cut off or damaged anywhere: reading
// one, loading its frames and reading back whatever loaded must fail cleanly,
// never crash, and never read outside a frame.
#include "engine/Stream.h"
#include "store/CacheFolder.h"
#include "store/CaptureLog.h"
#include "store/CaptureRuns.h"
#include "store/HttpResource.h"
#include "store/HttpResourceData.h"
#include "tests/fuzz/FuzzCacheFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct NullSink : OutputStream {
    bool write(const void*, std::int32_t) override { return true; }
};

CacheFolder* folder = nullptr;
const CaptureRun* run = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = newFuzzCacheFolder();
    const std::string name = "Run0000000001";
    if (::mkdir((folder->cacheFolder + name).c_str(), 0700) != 0)
        std::abort();
    run = folder->runs.found(name);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = run->logPath();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    std::size_t damaged = 0;
    CaptureLog::read(
        path,
        [&](const CaptureLog::Frame& frame) {
            HttpResource resource(folder);
            if (!resource.loadLogged(run, frame.offset, frame.image, frame.length))
                return;
            HttpRequestHeader request;
            HttpResponseHeader response;
            resource.readRequestHeader(request);
            resource.readResponseHeader(response);
            NullSink sink;
            resource.copyBody(sink, true);
            char bytes[4096];
            for (int which = 0; which < 2; ++which) {
                auto region = which == 0 ? HttpResourceData::requestBody(resource)
                                         : HttpResourceData::responseBody(resource);
                while (region && region->read(bytes, sizeof bytes) > 0) {
                }
            }
        },
        damaged);
    unlink(path.c_str());
    return 0;
}
