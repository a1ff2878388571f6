// HAR export against the plain body export of the same captures, measured in
// the same run: time, and how far resident memory rises while writing (the
// log streams, so a large body must not be held whole).
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/HarWriter.h"
#include "store/HttpResource.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

template <typename F> double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Resident memory now and at its peak since the last reset, in KiB.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Peak growth of resident memory while `f` runs, in MiB.
template <typename F> double peakGrowth(F&& f) {
    resetPeak();
    const long before = statusKiB("VmRSS:");
    f();
    return double(statusKiB("VmHWM:") - before) / 1024;
}

// A capture whose response body is produced piece by piece, never whole.
std::unique_ptr<HttpResource> capture(CacheFolder& folder, const std::string& responseHead,
                                      const std::function<bool(std::string&)>& nextPiece) {
    auto r = std::make_unique<HttpResource>(&folder);
    HttpRequestHeader request;
    const std::string requestText = "GET /data HTTP/1.1\r\nHost: bench\r\n";
    HttpResponseHeader response;
    if (!parseRequestHeader(requestText.data(), std::int32_t(requestText.size()), request) ||
        !parseResponseHeader(responseHead.data(), std::int32_t(responseHead.size()), response) ||
        !r->begin(folder.takeSequenceNumber()) || !r->writeRequestHeader(request) ||
        !r->writeResponseHeader(response))
        std::abort();
    std::string piece;
    while (nextPiece(piece)) {
        if (!r->writeData(piece.data(), std::uint32_t(piece.size())))
            std::abort();
        r->receivedSize += std::int64_t(piece.size());
    }
    if (!r->finish())
        std::abort();
    return r;
}

struct Case {
    const char* label;
    std::vector<std::unique_ptr<HttpResource>> resources;
    double decodedMiB = 0;
};

} // namespace

int main() {
    char pattern[] = "/tmp/tidewell-bench.XXXXXX";
    const std::string home = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    CacheFolder folder;
    if (!folder.prepareCacheFolder())
        return 1;
    std::vector<Case> cases;

    {
        // 64 MiB of bytes no coding shrinks, as an image: base64.
        Case c{"binary 64 MiB", {}, 64};
        std::mt19937 random(1);
        int left = 1024;
        c.resources.push_back(capture(folder,
                                      "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                      "Content-Length: 67108864\r\n",
                                      [&](std::string& piece) {
                                          if (left-- == 0)
                                              return false;
                                          piece.resize(65536);
                                          for (char& ch : piece)
                                              ch = char(random());
                                          return true;
                                      }));
        cases.push_back(std::move(c));
    }
    {
        // 32 MiB of JSON text, gzip in chunks: decoded, escaped, written as text.
        Case c{"gzip json 32 MiB", {}, 32};
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        int left = 512, row = 0;
        bool ended = false;
        c.resources.push_back(capture(
            folder,
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\n"
            "Transfer-Encoding: chunked\r\n",
            [&](std::string& piece) {
                if (ended)
                    return false;
                std::string plain;
                if (left-- > 0)
                    while (plain.size() < 65536)
                        plain +=
                            "{\"row\":" + std::to_string(row++) + ",\"text\":\"a \\\"b\\\" 中\"}\n";
                std::string out;
                z.next_in = reinterpret_cast<Bytef*>(plain.data());
                z.avail_in = uInt(plain.size());
                do {
                    char buffer[65536];
                    z.next_out = reinterpret_cast<Bytef*>(buffer);
                    z.avail_out = sizeof buffer;
                    deflate(&z, left >= 0 ? Z_NO_FLUSH : Z_FINISH);
                    out.append(buffer, sizeof buffer - z.avail_out);
                } while (z.avail_out == 0);
                char size[32];
                std::snprintf(size, sizeof size, "%zx\r\n", out.size());
                piece = out.empty() ? std::string() : size + out + "\r\n";
                if (left < 0) {
                    piece += "0\r\n\r\n";
                    ended = true;
                    deflateEnd(&z);
                }
                return true;
            }));
        cases.push_back(std::move(c));
    }
    {
        // Many small pages: the per-entry cost.
        Case c{"2,000 x 1 KiB html", {}, 2000.0 / 1024};
        const std::string body(1024, 'p');
        for (int i = 0; i < 2000; ++i) {
            bool given = false;
            c.resources.push_back(capture(folder,
                                          "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                          "Content-Length: 1024\r\n",
                                          [&](std::string& piece) {
                                              if (given)
                                                  return false;
                                              piece = body;
                                              return given = true;
                                          }));
        }
        cases.push_back(std::move(c));
    }

    std::printf("%-22s %14s %12s %8s %16s %16s\n", "captures", "export MiB/s", "HAR MiB/s", "ratio",
                "export peak MiB", "HAR peak MiB");
    for (Case& c : cases) {
        const std::string out = home + "/out";
        double exportSeconds = 0, harSeconds = 0, exportPeak = 0, harPeak = 0;
        exportPeak = peakGrowth([&] {
            exportSeconds = seconds([&] {
                for (auto& r : c.resources)
                    if (!r->exportBody(out, true))
                        std::printf("export failed: %s\n", errorText(lastError()).c_str());
            });
        });
        std::vector<HttpResource*> all;
        for (auto& r : c.resources)
            all.push_back(r.get());
        harPeak = peakGrowth([&] {
            harSeconds = seconds([&] {
                if (!writeHarFile(out + ".har", all, "bench"))
                    std::printf("HAR failed: %s\n", errorText(lastError()).c_str());
            });
        });
        std::printf("%-22s %14.0f %12.0f %8.2f %16.1f %16.1f\n", c.label,
                    c.decodedMiB / exportSeconds, c.decodedMiB / harSeconds,
                    harSeconds / exportSeconds, exportPeak, harPeak);
    }
    std::filesystem::remove_all(home);
    return 0;
}
