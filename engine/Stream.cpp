#include "engine/Stream.h"

#include <algorithm>
#include <cstring>

std::int64_t InputStream::skip(std::int64_t count) {
    if (count <= 0)
        return 0;
    char scratch[4096];
    std::int64_t skipped = 0;
    while (skipped < count) {
        const auto want = static_cast<std::int32_t>(
            std::min<std::int64_t>(count - skipped, std::int64_t(sizeof scratch)));
        const std::int32_t got = read(scratch, want);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        skipped += got;
    }
    return skipped;
}

std::int64_t InputStream::available() {
    const std::int64_t total = size();
    if (total == -1)
        return -1;
    const std::int64_t at = position();
    if (at == -1)
        return -1;
    return total - at;
}

bool InputStream::seek(std::int64_t) {
    setLastError(kErrorNotImplemented);
    return false;
}

std::int64_t InputStream::size() {
    setLastError(kErrorNotImplemented);
    return -1;
}

std::int64_t InputStream::position() {
    setLastError(kErrorNotImplemented);
    return -1;
}

bool OutputStream::flush() {
    return true;
}

bool OutputStream::seek(std::int64_t) {
    setLastError(kErrorNotImplemented);
    return false;
}

std::int64_t OutputStream::size() {
    setLastError(kErrorNotImplemented);
    return -1;
}

std::int64_t OutputStream::position() {
    setLastError(kErrorNotImplemented);
    return -1;
}

bool Stream::seek(std::int64_t p) {
    return InputStream::seek(p);
}
std::int64_t Stream::size() {
    return InputStream::size();
}
std::int64_t Stream::position() {
    return InputStream::position();
}

namespace {

// Shared by the two memory readers: copy from `position`, clamped to `length`.
std::int32_t readBlock(const char* data, std::int32_t length, std::int32_t& position, void* buffer,
                       std::int32_t count) {
    const std::int32_t n = std::min(count, length - position);
    if (n <= 0)
        return n < 0 ? 0 : n;
    std::memcpy(buffer, data + position, std::size_t(n));
    position += n;
    return n;
}

std::int64_t skipBlock(std::int32_t length, std::int32_t& position, std::int64_t count) {
    const std::int64_t n = std::min<std::int64_t>(count, length - position);
    if (n <= 0)
        return 0;
    position += static_cast<std::int32_t>(n);
    return n;
}

bool seekBlock(std::int32_t length, std::int32_t& position, std::int64_t p) {
    if (p < 0 || p > length)
        return false;
    position = static_cast<std::int32_t>(p);
    return true;
}

} // namespace

BufferInputStream::BufferInputStream(const void* data, std::int32_t length)
    : data_(static_cast<const char*>(data)), length_(length < 0 ? 0 : length) {}

std::int32_t BufferInputStream::read(void* buffer, std::int32_t count) {
    return readBlock(data_, length_, position_, buffer, count);
}

std::int64_t BufferInputStream::skip(std::int64_t count) {
    return skipBlock(length_, position_, count);
}

std::int64_t BufferInputStream::available() {
    return length_ - position_;
}

bool BufferInputStream::seek(std::int64_t p) {
    return seekBlock(length_, position_, p);
}

std::int64_t BufferInputStream::size() {
    return length_;
}

std::int64_t BufferInputStream::position() {
    return position_;
}

MemoryStream::MemoryStream() : buffer_(4096, 4096) {}

std::int32_t MemoryStream::read(void* buffer, std::int32_t count) {
    return readBlock(buffer_.data, buffer_.length, position_, buffer, count);
}

std::int64_t MemoryStream::skip(std::int64_t count) {
    return skipBlock(buffer_.length, position_, count);
}

std::int64_t MemoryStream::available() {
    return buffer_.length - position_;
}

bool MemoryStream::write(const void* data, std::int32_t count) {
    if (count <= 0)
        return true;
    if (!buffer_.makeRoom(position_, count))
        return false;
    std::memcpy(buffer_.data + position_, data, std::size_t(count));
    position_ += count;
    if (position_ > buffer_.length)
        buffer_.length = position_;
    return true;
}

bool MemoryStream::seek(std::int64_t p) {
    return seekBlock(buffer_.length, position_, p);
}

std::int64_t MemoryStream::size() {
    return buffer_.length;
}

std::int64_t MemoryStream::position() {
    return position_;
}
