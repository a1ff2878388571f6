// Throughput of moving chunked bodies through HttpReader, by chunk size,
// against a plain counted copy of the same bytes. Small chunks should cost a
// constant factor, not grow with the read size.
#include "engine/HttpReader.h"
#include "engine/Stream.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

class NullSink : public OutputStream {
public:
    bool write(const void*, std::int32_t count) override {
        bytes += count;
        return true;
    }
    std::int64_t bytes = 0;
};

std::string chunkedBody(std::size_t total, std::size_t chunk) {
    std::string out;
    out.reserve(total * 2);
    const std::string data(chunk, 'x');
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk);
    for (std::size_t n = 0; n < total; n += chunk)
        out.append(size).append(data).append("\r\n");
    return out + "0\r\n\r\n";
}

template <typename F> double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    const std::size_t total = 32 << 20;
    std::printf("%-10s %12s %12s %8s\n", "chunk", "chunked MB/s", "counted MB/s", "ratio");
    for (std::size_t chunk : {1u, 16u, 256u, 4096u, 65536u}) {
        const std::string body = chunkedBody(chunk == 1 ? total / 8 : total, chunk);
        NullSink a, b;
        const double tc = seconds([&] {
            BufferInputStream in(body.data(), std::int32_t(body.size()));
            HttpReader r(&in);
            if (!r.copyChunkedBody(a))
                std::printf("copyChunkedBody failed\n");
        });
        const double tb = seconds([&] {
            BufferInputStream in(body.data(), std::int32_t(body.size()));
            HttpReader r(&in);
            if (!r.copyBody(b, std::int64_t(body.size())))
                std::printf("copyBody failed\n");
        });
        const double mb = double(body.size()) / (1 << 20);
        std::printf("%-10zu %12.0f %12.0f %8.1f\n", chunk, mb / tc, mb / tb, tc / tb);
    }
    return 0;
}
