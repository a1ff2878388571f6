#include "streams/SegmentFeed.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Passes on the bytes of [offset, offset + length) and refuses the rest,
// which ends the copy early.
class RangeSink : public OutputStream {
public:
    RangeSink(OutputStream& next, std::int64_t offset, std::int64_t length)
        : next_(next), skip_(offset), left_(length) {}
    bool write(const void* data, std::int32_t count) override {
        auto bytes = static_cast<const char*>(data);
        std::int64_t n = count;
        const std::int64_t skipped = std::min(skip_, n);
        skip_ -= skipped;
        bytes += skipped;
        n -= skipped;
        if (left_ >= 0)
            n = std::min(n, left_);
        if (n > 0 && !next_.write(bytes, std::int32_t(n))) {
            failed_ = true;
            return false;
        }
        if (left_ >= 0) {
            left_ -= n;
            if (left_ == 0) {
                done_ = true;
                return false;
            }
        }
        return true;
    }
    bool flush() override { return true; }
    bool done() const { return done_; }
    bool failed() const { return failed_; }
    // Bytes still owed of a bounded range.
    std::int64_t left() const { return std::max<std::int64_t>(0, left_); }

private:
    OutputStream& next_;
    std::int64_t skip_;
    std::int64_t left_;
    bool done_ = false;
    bool failed_ = false;
};

// AES-128-CBC with PKCS7 padding, undone piece by piece.
class DecryptSink : public OutputStream {
public:
    DecryptSink(OutputStream& next, const std::uint8_t* key, const std::uint8_t* iv)
        : next_(next), context_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {
        ok_ = context_ &&
              EVP_DecryptInit_ex(context_.get(), EVP_aes_128_cbc(), nullptr, key, iv) == 1;
    }
    bool write(const void* data, std::int32_t count) override {
        if (!ok_)
            return false;
        auto in = static_cast<const unsigned char*>(data);
        while (count > 0) {
            const int piece = std::min<std::int32_t>(count, kPiece);
            int produced = 0;
            if (EVP_DecryptUpdate(context_.get(), out_, &produced, in, piece) != 1) {
                ok_ = false;
                return false;
            }
            if (produced > 0 && !next_.write(out_, produced)) {
                downstreamFailed_ = true;
                return false;
            }
            in += piece;
            count -= piece;
        }
        return true;
    }
    bool flush() override { return true; }
    // The last block, its padding checked.
    bool finish() {
        int produced = 0;
        if (!ok_ || EVP_DecryptFinal_ex(context_.get(), out_, &produced) != 1)
            return false;
        return produced == 0 || next_.write(out_, produced);
    }
    bool downstreamFailed() const { return downstreamFailed_; }

private:
    static constexpr int kPiece = 65536;
    OutputStream& next_;
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> context_;
    unsigned char out_[kPiece + 16];
    bool ok_ = false;
    bool downstreamFailed_ = false;
};

class FeedSink : public OutputStream {
public:
    explicit FeedSink(std::function<bool(const std::uint8_t*, std::size_t)> put)
        : put_(std::move(put)) {}
    bool write(const void* data, std::int32_t count) override {
        return put_(static_cast<const std::uint8_t*>(data), std::size_t(count));
    }
    bool flush() override { return true; }

private:
    std::function<bool(const std::uint8_t*, std::size_t)> put_;
};

class StringSink : public OutputStream {
public:
    StringSink(std::string& out, std::size_t limit) : out_(out), limit_(limit) {}
    bool write(const void* data, std::int32_t count) override {
        if (out_.size() + std::size_t(count) > limit_)
            return false;
        out_.append(static_cast<const char*>(data), std::size_t(count));
        return true;
    }
    bool flush() override { return true; }

private:
    std::string& out_;
    std::size_t limit_;
};

std::string format(unsigned id, const std::string& a, const std::string& b = {}) {
    const char* pattern = loadString(id);
    std::string text = pattern ? pattern : "%s %s";
    for (const std::string* value : {&a, &b}) {
        const std::size_t at = text.find("%s");
        if (at == std::string::npos)
            break;
        text.replace(at, 2, *value);
    }
    return text;
}

} // namespace

bool readPiece(const CapturedPiece& piece, std::string& out, std::size_t limit) {
    out.clear();
    StringSink sink(out, limit);
    RangeSink range(sink, piece.offset, piece.length);
    if (!piece.resource->copyBody(range, true) && !range.done())
        return false;
    if (range.left() > 0) {
        setLastError(kErrorDataIncomplete);
        return false;
    }
    return true;
}

SegmentFeed::SegmentFeed(std::vector<Piece> pieces, std::size_t capacity)
    : pieces_(std::move(pieces)), ring_(capacity) {
    for (const Piece& p : pieces_)
        expected_ +=
            p.piece.length >= 0 ? p.piece.length : std::int64_t(p.piece.resource->receivedSize);
    starts_.reserve(pieces_.size());
}

SegmentFeed::~SegmentFeed() {
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void SegmentFeed::start() {
    thread_ = std::thread([this] { run(); });
}

void SegmentFeed::cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
    }
    readable_.notify_all();
    writable_.notify_all();
}

std::string SegmentFeed::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

int SegmentFeed::pieceAt(std::int64_t position) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), position);
    return int(it - starts_.begin()) - 1;
}

bool SegmentFeed::put(const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        writable_.wait(lock, [&] { return cancelled_ || size_ < ring_.size(); });
        if (cancelled_)
            return false;
        const std::size_t tail = (head_ + size_) % ring_.size();
        const std::size_t n = std::min({count, ring_.size() - size_, ring_.size() - tail});
        std::copy(data, data + n, ring_.begin() + std::ptrdiff_t(tail));
        size_ += n;
        produced_ += std::int64_t(n);
        data += n;
        count -= n;
        lock.unlock();
        readable_.notify_one();
    }
    return true;
}

int SegmentFeed::read(std::uint8_t* buffer, int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    readable_.wait(lock, [&] { return cancelled_ || size_ > 0 || ended_; });
    if (cancelled_ || (size_ == 0 && !error_.empty()))
        return -1;
    if (size_ == 0)
        return 0;
    const std::size_t n = std::min({std::size_t(count), size_, ring_.size() - head_});
    std::copy(ring_.begin() + std::ptrdiff_t(head_), ring_.begin() + std::ptrdiff_t(head_ + n),
              buffer);
    head_ = (head_ + n) % ring_.size();
    size_ -= n;
    consumed_ += std::int64_t(n);
    lock.unlock();
    writable_.notify_one();
    return int(n);
}

void SegmentFeed::fail(std::string message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.empty())
            error_ = std::move(message);
        ended_ = true;
    }
    readable_.notify_all();
}

void SegmentFeed::run() {
    FeedSink feed([this](const std::uint8_t* data, std::size_t count) { return put(data, count); });
    for (const Piece& p : pieces_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (cancelled_)
                return;
            starts_.push_back(produced_);
        }
        std::unique_ptr<DecryptSink> decrypt;
        OutputStream* target = &feed;
        if (p.encrypted) {
            decrypt = std::make_unique<DecryptSink>(feed, p.key.data(), p.iv.data());
            target = decrypt.get();
        }
        RangeSink range(*target, p.piece.offset, p.piece.length);
        const bool copied = p.piece.resource->copyBody(range, true);
        const std::uint32_t reason = lastError();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (cancelled_)
                return;
        }
        if (!copied && !range.done()) {
            if (decrypt && range.failed() && !decrypt->downstreamFailed())
                return fail(format(IDS_STREAM_DECRYPT_FAILED, p.url));
            return fail(format(IDS_STREAM_SEGMENT_UNREADABLE, p.url, errorText(reason)));
        }
        if (range.left() > 0)
            return fail(
                format(IDS_STREAM_SEGMENT_UNREADABLE, p.url, errorText(kErrorDataIncomplete)));
        if (decrypt && !decrypt->finish())
            return fail(format(IDS_STREAM_DECRYPT_FAILED, p.url));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    readable_.notify_all();
}
