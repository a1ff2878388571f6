// Streams that misbehave on purpose: input delivered in chosen pieces, then an
// end or an error; output that fails after a number of bytes.
#pragma once

#include "engine/Stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Each read returns at most one piece (less when the caller asks for less).
// After the last piece the stream ends (0) or fails with `errorCode`.
class ScriptedInputStream : public InputStream {
public:
    explicit ScriptedInputStream(std::vector<std::string> pieces, std::uint32_t errorCode = 0);

    // The text cut into pieces of `size` bytes (the last may be shorter).
    static ScriptedInputStream inPiecesOf(const std::string& text, std::size_t size,
                                          std::uint32_t errorCode = 0);

    std::int32_t read(void* buffer, std::int32_t count) override;

    int readCalls() const { return readCalls_; }
    std::size_t delivered() const { return delivered_; }

private:
    std::vector<std::string> pieces_;
    std::size_t piece_ = 0;
    std::size_t offset_ = 0;
    std::uint32_t errorCode_;
    int readCalls_ = 0;
    std::size_t delivered_ = 0;
};

// Collects what is written; fails (with `errorCode`) once accepting a write
// would take the total beyond `limit`. Counts writes and flushes.
class CollectingOutputStream : public OutputStream {
public:
    explicit CollectingOutputStream(std::size_t limit = SIZE_MAX, std::uint32_t errorCode = EPIPE)
        : limit_(limit), errorCode_(errorCode) {}

    bool write(const void* data, std::int32_t count) override;
    bool flush() override;

    std::string text;
    int writes = 0;
    int flushes = 0;

private:
    std::size_t limit_;
    std::uint32_t errorCode_;
};

// Runs `check` with `input` delivered whole, split in two at every offset, and
// one byte at a time: the reader must not depend on how bytes arrive. `check`
// gets a label naming the delivery for failure messages.
void grind(const std::string& input,
           const std::function<void(InputStream& source, const std::string& label)>& check);
