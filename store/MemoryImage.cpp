#include "store/MemoryImage.h"

#include "engine/Platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

char* reallocate(char* old, std::int64_t size) {
    void* p = std::realloc(old, std::size_t(size));
    if (!p && size > 0)
        throw std::bad_alloc();
    return static_cast<char*>(p);
}

} // namespace

MemoryImage::MemoryImage() : data_(reallocate(nullptr, kIncrement)), capacity_(kIncrement) {}

MemoryImage::~MemoryImage() {
    std::free(data_);
}

std::int32_t MemoryImage::read(void* buffer, std::int32_t count) {
    const std::int32_t n = std::min(count, length_ - position_);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, data_ + position_, std::size_t(n));
    position_ += n;
    return n;
}

std::int64_t MemoryImage::skip(std::int64_t count) {
    const std::int64_t n = std::min<std::int64_t>(count, length_ - position_);
    if (n <= 0)
        return 0;
    position_ += std::int32_t(n);
    return n;
}

std::int64_t MemoryImage::available() {
    return length_ - position_;
}

bool MemoryImage::write(const void* data, std::int32_t count) {
    if (count <= 0)
        return true;
    const std::int64_t needed = std::int64_t(position_) + count;
    if (needed > std::numeric_limits<std::int32_t>::max()) {
        setLastError(kErrorOutOfMemory);
        return false;
    }
    if (needed > capacity_) {
        const std::int64_t grown = std::min<std::int64_t>(
            std::int64_t(capacity_) + std::max<std::int64_t>(kIncrement, needed - capacity_),
            std::numeric_limits<std::int32_t>::max());
        data_ = reallocate(data_, grown);
        capacity_ = std::int32_t(grown);
    }
    std::memcpy(data_ + position_, data, std::size_t(count));
    position_ += count;
    length_ = std::max(length_, position_);
    return true;
}

bool MemoryImage::seek(std::int64_t position) {
    if (position < 0 || position > length_)
        return false;
    position_ = std::int32_t(position);
    return true;
}

std::int64_t MemoryImage::size() {
    return length_;
}

std::int64_t MemoryImage::position() {
    return position_;
}
