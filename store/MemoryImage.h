// The in-memory cache image of a resource while its exchange runs.
#pragma once

#include "engine/Stream.h"

#include <cstdint>

// Grows like every buffer of the engine (by at least 4096 bytes). A finished
// capture goes to its cache file and its image is freed.
class MemoryImage : public Stream {
public:
    MemoryImage();
    ~MemoryImage() override;
    MemoryImage(const MemoryImage&) = delete;
    MemoryImage& operator=(const MemoryImage&) = delete;

    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int64_t skip(std::int64_t count) override;
    std::int64_t available() override;
    bool write(const void* data, std::int32_t count) override;
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;

    const char* data() const { return data_; }
    std::int32_t length() const { return length_; }
    std::int32_t capacity() const { return capacity_; }

    static constexpr std::int32_t kIncrement = 4096;

private:
    char* data_ = nullptr;
    std::int32_t length_ = 0;
    std::int32_t capacity_ = 0;
    std::int32_t position_ = 0;
};
