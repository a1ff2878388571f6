// A file read and written through one owned descriptor.
#pragma once

#include "engine/Stream.h"

#include <string>

// The position is the descriptor's file offset, shared by both sides. Files
// the stream creates are readable by the user alone: they hold captured
// cookies and passwords.
class FileStream : public Stream {
public:
    enum OpenFlags : unsigned {
        OpenRead = 0x02,
        OpenWrite = 0x04,
        OpenCreate = 0x08, // create, or truncate an existing file
        OpenExclusive = 0x10,
        // Only a plain file reached without a symbolic link in its last step;
        // anything else fails rather than being read, written or waited on.
        OpenPlainFile = 0x20,
    };

    FileStream() = default;
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Closes any open file first; false (closed) when the path cannot be opened.
    bool open(const std::string& path, unsigned flags);
    bool isOpen() const { return fd_ >= 0; }

    std::int32_t read(void* buffer, std::int32_t count) override;
    // Moves the offset by `count` (past the end is allowed) and returns the
    // distance moved.
    std::int64_t skip(std::int64_t count) override;
    bool write(const void* data, std::int32_t count) override;
    bool flush() override;
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;

private:
    void close();

    int fd_ = -1;
};
