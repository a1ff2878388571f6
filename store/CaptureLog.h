// A capture log: the cache images of many finished captures in one file.
#pragma once

#include "engine/Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A file per capture costs the file system an inode for every small
// exchange, far more than its bytes. Small captures are written into the log
// of their run instead: each one frame, appended whole with a single write
// once the exchange is over, so that a crash loses no finished capture and
// never leaves one half-written among the others.
//
// A frame (little-endian): "TWL1", the image length (32 bits), the time it
// was written (microseconds since 1970, 64 bits), the CRC-32 of the image,
// the CRC-32 of these 20 bytes, then the image itself, exactly as a cache
// file holds it (record header, heads, bodies, extension records). A frame
// cut off at the end of the log is one whose write never completed; a frame
// that fails a check in the middle is skipped up to the next frame that
// checks out.
class CaptureLog {
public:
    CaptureLog() = default;
    ~CaptureLog();
    CaptureLog(const CaptureLog&) = delete;
    CaptureLog& operator=(const CaptureLog&) = delete;

    // Creates the log at `path` for appending (a new file, readable by the
    // user alone). False (lastError()) when it cannot be made.
    bool create(const std::string& path);
    const std::string& path() const { return path_; }

    // Appends one image as a frame; returns where the image starts in the
    // log, or -1 (lastError()) when it could not be written whole, in which
    // case the log ends where it did before. Any thread.
    std::int64_t append(const void* image, std::uint32_t length, std::int64_t time);

    struct Frame {
        std::int64_t offset = 0; // of the image
        std::uint32_t length = 0;
        std::int64_t time = 0;
        const char* image = nullptr; // valid during the call only
    };
    // Calls `frame` for every frame of the log at `path` in order. Damaged
    // frames are skipped and counted in `damaged`; a frame cut off at the
    // end is not counted. False (lastError()) when the log cannot be read.
    static bool read(const std::string& path, const std::function<void(const Frame&)>& frame,
                     std::size_t& damaged);
    // The time the frame whose image starts at `offset` was written; 0 when
    // it cannot be read.
    static std::int64_t frameTime(const std::string& path, std::int64_t offset);

    static constexpr std::int32_t kFrameHeaderSize = 24;
    // Larger frames are taken for damage: the log holds images that stayed
    // in memory while captured, and a larger one gets a file of its own.
    static constexpr std::uint32_t kMaxImage = 1u << 20;

private:
    std::mutex mutex_;
    int fd_ = -1;
    std::int64_t end_ = 0;
    std::string path_;
};

// One image in a log, read through a descriptor of its own, as a stream whose
// positions are those of the image.
class CaptureLogImage : public Stream {
public:
    ~CaptureLogImage() override;
    // Null (lastError()) when the log cannot be opened or holds no frame
    // there.
    static std::unique_ptr<CaptureLogImage> open(const std::string& path, std::int64_t offset);

    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int64_t skip(std::int64_t count) override;
    std::int64_t available() override;
    bool write(const void* data, std::int32_t count) override;
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;

private:
    CaptureLogImage() = default;

    int fd_ = -1;
    std::int64_t base_ = 0;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
};
