// Chunked body copying over a memory source delivered in fuzzer-chosen
// pieces: never crashes, and whatever it moves is exactly the input's prefix.
#include "engine/HttpReader.h"
#include "engine/Stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Serves `data` in reads no larger than the sizes taken in turn from `sizes`.
class PieceSource : public InputStream {
public:
    PieceSource(std::string_view data, std::string_view sizes) : data_(data), sizes_(sizes) {}

    std::int32_t read(void* buffer, std::int32_t count) override {
        std::size_t limit = std::size_t(count);
        if (!sizes_.empty()) {
            limit = std::min<std::size_t>(
                limit, std::size_t(std::uint8_t(sizes_[turn_ % sizes_.size()])) * 7 + 1);
            ++turn_;
        }
        const std::size_t n = std::min(limit, data_.size() - offset_);
        std::memcpy(buffer, data_.data() + offset_, n);
        offset_ += n;
        return static_cast<std::int32_t>(n);
    }

private:
    std::string_view data_;
    std::string_view sizes_;
    std::size_t offset_ = 0;
    std::size_t turn_ = 0;
};

class Collect : public OutputStream {
public:
    bool write(const void* data, std::int32_t count) override {
        if (count < 0)
            std::abort();
        text.append(static_cast<const char*>(data), std::size_t(count));
        return true;
    }
    std::string text;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // First byte: how many of the next bytes choose read sizes.
    std::string_view all(reinterpret_cast<const char*>(data), size);
    std::size_t control = 0;
    if (!all.empty()) {
        control = std::min<std::size_t>(std::uint8_t(all[0]) % 8, all.size() - 1);
        all.remove_prefix(1);
    }
    const std::string_view sizes = all.substr(0, control);
    const std::string_view body = all.substr(control);

    PieceSource source(body, sizes);
    HttpReader reader(&source, 16, 16);
    Collect sink;
    for (int i = 0; i < 8; ++i) {
        const bool ok = reader.copyChunkedBody(sink);
        const std::string_view left(reader.buffer.data, std::size_t(reader.buffer.length));
        // Moved bytes, then the unconsumed ones, are always a prefix of the
        // input, in order.
        if (sink.text.size() + left.size() > body.size() ||
            body.substr(0, sink.text.size()) != sink.text ||
            body.substr(sink.text.size(), left.size()) != left)
            std::abort();
        if (!ok)
            break;
    }
    return 0;
}
