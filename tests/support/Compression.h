// Coded bodies for tests: gzip, zlib, raw deflate, br and zstd data, and
// chunked transfer framing, built with the same libraries the decoders use.
#pragma once

#include <cstddef>
#include <string>

// `windowBits` as zlib takes it: 31 gzip member, 15 zlib wrapper, -15 raw deflate.
std::string deflated(const std::string& plain, int windowBits);
// One gzip member of `plain`.
std::string gzipOf(const std::string& plain);
std::string brotliOf(const std::string& plain);
std::string zstdOf(const std::string& plain);

// One chunk: hex size line, the data and its CRLF (no last chunk).
std::string chunkOf(const std::string& data);
// `data` in chunks of `piece` bytes, ended by the last chunk.
std::string chunked(const std::string& data, std::size_t piece);
