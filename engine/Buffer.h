// Growable array under every buffering object of the engine.
#pragma once

#include "engine/Platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

// The owner maintains `length`; the buffer only guarantees room. Capacity grows
// by at least `increment` so that appending small pieces does not reallocate
// every time, and never shrinks.
template <typename T> class Buffer {
    static_assert(std::is_trivially_copyable_v<T>, "Buffer moves its elements as raw bytes");

public:
    T* data = nullptr;
    std::int32_t length = 0;
    std::int32_t capacity = 0;
    std::int32_t increment = 0;

    explicit Buffer(std::int32_t initialCapacity = 0, std::int32_t growthStep = 4096)
        : increment(growthStep) {
        if (initialCapacity > 0) {
            data = allocate(nullptr, initialCapacity);
            capacity = initialCapacity;
        }
    }
    virtual ~Buffer() { std::free(data); }

    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept
        : data(std::exchange(other.data, nullptr)), length(std::exchange(other.length, 0)),
          capacity(std::exchange(other.capacity, 0)), increment(other.increment) {}
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            std::free(data);
            data = std::exchange(other.data, nullptr);
            length = std::exchange(other.length, 0);
            capacity = std::exchange(other.capacity, 0);
            increment = other.increment;
        }
        return *this;
    }

    // Makes room for `count` elements at `offset`, keeping the contents. Fails
    // with kErrorOutOfMemory only when the total does not fit the 32-bit
    // length; a failed allocation is fatal.
    bool makeRoom(std::int64_t offset, std::int64_t count) {
        const std::int64_t needed = offset + count;
        if (offset < 0 || count < 0 || needed > kMaxLength) {
            setLastError(kErrorOutOfMemory);
            return false;
        }
        if (needed <= capacity)
            return true;
        std::int64_t grown =
            std::int64_t(capacity) + std::max<std::int64_t>(increment, needed - capacity);
        if (grown > kMaxLength)
            grown = kMaxLength;
        data = allocate(data, grown);
        capacity = static_cast<std::int32_t>(grown);
        return true;
    }

    // Appends at `length`.
    bool append(const T* items, std::int32_t count) {
        if (count <= 0)
            return true;
        if (!makeRoom(length, count))
            return false;
        std::memcpy(data + length, items, std::size_t(count) * sizeof(T));
        length += count;
        return true;
    }

    // Drops the first `count` elements; the rest move to the front.
    void consume(std::int32_t count) {
        if (count <= 0)
            return;
        if (count >= length) {
            length = 0;
            return;
        }
        std::memmove(data, data + count, std::size_t(length - count) * sizeof(T));
        length -= count;
    }

    static constexpr std::int64_t kMaxLength = std::numeric_limits<std::int32_t>::max();

private:
    static T* allocate(T* old, std::int64_t count) {
        void* p = std::realloc(old, std::size_t(count) * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
};
