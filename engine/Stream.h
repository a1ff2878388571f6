// The two byte interfaces every mover of the system is written against, their
// combination, and the in-memory streams.
#pragma once

#include "engine/Buffer.h"

#include <cstdint>

// Failures return -1 or false and leave the reason in lastError(); operations a
// stream does not support leave kErrorNotImplemented.
class InputStream {
public:
    virtual ~InputStream() = default;
    // Bytes read, 0 at the end of the stream, -1 on error.
    virtual std::int32_t read(void* buffer, std::int32_t count) = 0;
    // Bytes skipped (fewer at the end of the stream), -1 on error. The default
    // reads and discards through a stack area.
    virtual std::int64_t skip(std::int64_t count);
    // size() - position(), -1 when either is unknown.
    virtual std::int64_t available();
    virtual bool seek(std::int64_t position);
    virtual std::int64_t size();
    virtual std::int64_t position();
};

class OutputStream {
public:
    virtual ~OutputStream() = default;
    // True when all bytes were accepted.
    virtual bool write(const void* data, std::int32_t count) = 0;
    virtual bool flush();
    virtual bool seek(std::int64_t position);
    virtual std::int64_t size();
    virtual std::int64_t position();
};

// Both interfaces over one position: seek, size and position answer the same
// through either side (each override here serves both bases).
class Stream : public InputStream, public OutputStream {
public:
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;
};

// Reads a block the caller owns and keeps alive.
class BufferInputStream : public InputStream {
public:
    BufferInputStream(const void* data, std::int32_t length);

    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int64_t skip(std::int64_t count) override;
    std::int64_t available() override;
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;

private:
    const char* data_;
    std::int32_t length_;
    std::int32_t position_ = 0;
};

// An owned, growable block read and written at one shared position; a write
// in the middle overwrites without inserting.
class MemoryStream : public Stream {
public:
    MemoryStream();

    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int64_t skip(std::int64_t count) override;
    std::int64_t available() override;
    bool write(const void* data, std::int32_t count) override;
    bool seek(std::int64_t position) override;
    std::int64_t size() override;
    std::int64_t position() override;

    // The whole content, independent of the position.
    const char* data() const { return buffer_.data; }
    std::int32_t length() const { return buffer_.length; }

private:
    Buffer<char> buffer_;
    std::int32_t position_ = 0;
};
