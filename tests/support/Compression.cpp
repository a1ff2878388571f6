#include "Compression.h"

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>

// An encoder that fails would leave a test checking garbage; stop it loudly instead.
std::string deflated(const std::string& plain, int windowBits) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&z, uLong(plain.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

std::string gzipOf(const std::string& plain) {
    return deflated(plain, 31);
}

std::string brotliOf(const std::string& plain) {
    std::size_t size = BrotliEncoderMaxCompressedSize(plain.size());
    std::string out(size, '\0');
    if (!BrotliEncoderCompress(5, 22, BROTLI_MODE_GENERIC, plain.size(),
                               reinterpret_cast<const std::uint8_t*>(plain.data()), &size,
                               reinterpret_cast<std::uint8_t*>(out.data())))
        throw std::runtime_error("BrotliEncoderCompress failed");
    out.resize(size);
    return out;
}

std::string zstdOf(const std::string& plain) {
    std::string out(ZSTD_compressBound(plain.size()), '\0');
    const std::size_t size = ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 3);
    if (ZSTD_isError(size))
        throw std::runtime_error("ZSTD_compress failed");
    out.resize(size);
    return out;
}

std::string chunkOf(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

std::string chunked(const std::string& data, std::size_t piece) {
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += piece)
        out += chunkOf(data.substr(at, piece));
    return out + "0\r\n\r\n";
}
