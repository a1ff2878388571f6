#include "store/CaptureLog.h"

#include "engine/Platform.h"
#include "engine/SystemCall.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr char kMagic[4] = {'T', 'W', 'L', '1'};

void put(unsigned char* out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t get(const unsigned char* in, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

std::uint32_t crc(const void* bytes, std::size_t length, std::uint32_t start = 0) {
    return std::uint32_t(crc32(uLong(start), static_cast<const Bytef*>(bytes), uInt(length)));
}

// magic, length, time, image CRC, then the CRC of those 20 bytes: a damaged
// length is told from a real one without reading the bytes it claims.
struct FrameHeader {
    std::uint32_t length = 0;
    std::int64_t time = 0;
    std::uint32_t imageCrc = 0;

    void encode(unsigned char* out) const {
        std::memcpy(out, kMagic, 4);
        put(out + 4, length, 4);
        put(out + 8, std::uint64_t(time), 8);
        put(out + 16, imageCrc, 4);
        put(out + 20, crc(out, 20), 4);
    }
    // False when the bytes cannot start a frame.
    bool decode(const unsigned char* in) {
        if (std::memcmp(in, kMagic, 4) != 0 || get(in + 20, 4) != crc(in, 20))
            return false;
        length = std::uint32_t(get(in + 4, 4));
        time = std::int64_t(get(in + 8, 8));
        imageCrc = std::uint32_t(get(in + 16, 4));
        return length <= CaptureLog::kMaxImage;
    }
};

int openForReading(const std::string& path) {
    const int fd = retryInterrupted(
        [&] { return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setLastError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return -1;
    }
    return fd;
}

// Reads exactly `count` bytes at `offset`; false at the end of the file or on
// an error.
bool readAt(int fd, void* buffer, std::size_t count, std::int64_t offset) {
    auto* bytes = static_cast<char*>(buffer);
    while (count > 0) {
        const ssize_t n =
            retryInterrupted([&] { return ::pread(fd, bytes, count, off_t(offset)); });
        if (n < 0)
            setLastErrorFromErrno();
        if (n <= 0)
            return false;
        bytes += n;
        offset += n;
        count -= std::size_t(n);
    }
    return true;
}

// The log read front to back through one buffer that holds whole frames.
class Window {
public:
    explicit Window(int fd) : fd_(fd), bytes_(kChunk) {}

    // Makes [offset, offset + count) available; false when the file ends
    // first (or cannot be read: error() then says why).
    bool ensure(std::int64_t offset, std::size_t count) {
        if (offset >= start_ && offset + std::int64_t(count) <= start_ + std::int64_t(length_))
            return true;
        if (bytes_.size() < count)
            bytes_.resize(count);
        start_ = offset;
        length_ = 0;
        while (length_ < bytes_.size()) {
            const ssize_t n = retryInterrupted([&] {
                return ::pread(fd_, bytes_.data() + length_, bytes_.size() - length_,
                               off_t(offset + std::int64_t(length_)));
            });
            if (n < 0) {
                setLastErrorFromErrno();
                failed_ = true;
                break;
            }
            if (n == 0)
                break;
            length_ += std::size_t(n);
        }
        return length_ >= count;
    }
    const unsigned char* at(std::int64_t offset) const {
        return reinterpret_cast<const unsigned char*>(bytes_.data()) + (offset - start_);
    }
    // The first "TWL1" at or after `offset` within what is buffered, or -1.
    std::int64_t findMagic(std::int64_t offset) const {
        const char* from = bytes_.data() + (offset - start_);
        const char* end = bytes_.data() + length_;
        const void* found =
            end - from >= 4 ? memmem(from, std::size_t(end - from), kMagic, 4) : nullptr;
        return found ? start_ + (static_cast<const char*>(found) - bytes_.data()) : -1;
    }
    std::int64_t bufferedEnd() const { return start_ + std::int64_t(length_); }
    bool failed() const { return failed_; }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    int fd_;
    std::vector<char> bytes_;
    std::int64_t start_ = 0;
    std::size_t length_ = 0;
    bool failed_ = false;
};

enum class Check { Good, CutOff, Damaged };

// What the bytes at `offset` are.
Check checkFrame(Window& window, std::int64_t offset, FrameHeader& header) {
    if (!window.ensure(offset, CaptureLog::kFrameHeaderSize))
        return Check::CutOff;
    if (!header.decode(window.at(offset)))
        return Check::Damaged;
    if (!window.ensure(offset, CaptureLog::kFrameHeaderSize + std::size_t(header.length)))
        return Check::CutOff;
    const unsigned char* image = window.at(offset) + CaptureLog::kFrameHeaderSize;
    return crc(image, header.length) == header.imageCrc ? Check::Good : Check::Damaged;
}

// The first frame at or after `offset` that checks out, or -1.
std::int64_t nextGoodFrame(Window& window, std::int64_t offset) {
    for (;;) {
        if (!window.ensure(offset, 4))
            return -1;
        const std::int64_t found = window.findMagic(offset);
        if (found < 0) {
            offset = window.bufferedEnd() - 3;
            continue;
        }
        FrameHeader header;
        if (checkFrame(window, found, header) == Check::Good)
            return found;
        offset = found + 1;
    }
}

} // namespace

CaptureLog::~CaptureLog() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool CaptureLog::create(const std::string& path) {
    const int fd = retryInterrupted([&] {
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    fd_ = fd;
    end_ = 0;
    path_ = path;
    return true;
}

std::int64_t CaptureLog::append(const void* image, std::uint32_t length, std::int64_t time) {
    if (length > kMaxImage) {
        setLastError(EFBIG);
        return -1;
    }
    FrameHeader frame;
    frame.length = length;
    frame.time = time;
    frame.imageCrc = crc(image, length);
    unsigned char header[kFrameHeaderSize];
    frame.encode(header);

    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        setLastError(EBADF);
        return -1;
    }
    // At our own end rather than O_APPEND: should a write fail half-way, the
    // next frame goes where this one should have been.
    iovec pieces[2] = {{header, std::size_t(kFrameHeaderSize)}, {const_cast<void*>(image), length}};
    std::size_t left = kFrameHeaderSize + std::size_t(length);
    std::int64_t at = end_;
    int first = 0;
    while (left > 0) {
        const ssize_t n =
            retryInterrupted([&] { return ::pwritev(fd_, pieces + first, 2 - first, off_t(at)); });
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            setLastErrorFromErrno();
            const std::uint32_t error = lastError();
            [[maybe_unused]] const int ignored = ::ftruncate(fd_, off_t(end_));
            setLastError(error);
            return -1;
        }
        at += n;
        left -= std::size_t(n);
        for (std::size_t done = std::size_t(n); done > 0 && first < 2;) {
            const std::size_t part = std::min(done, pieces[first].iov_len);
            pieces[first].iov_base = static_cast<char*>(pieces[first].iov_base) + part;
            pieces[first].iov_len -= part;
            done -= part;
            if (pieces[first].iov_len == 0)
                ++first;
        }
    }
    const std::int64_t offset = end_ + kFrameHeaderSize;
    end_ = at;
    return offset;
}

bool CaptureLog::read(const std::string& path, const std::function<void(const Frame&)>& frame,
                      std::size_t& damaged) {
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    Window window(fd);
    std::int64_t offset = 0;
    for (;;) {
        FrameHeader header;
        const Check check = checkFrame(window, offset, header);
        if (check != Check::Good) {
            // A frame that fails its check, or whose length runs past the end
            // (a damaged length reads like a frame cut off), is one damaged
            // stretch up to the next frame that checks out. With none after
            // it, a frame cut off is the last write, which never completed.
            const std::int64_t next = nextGoodFrame(window, offset + 1);
            if (next >= 0 || check == Check::Damaged)
                ++damaged;
            if (next < 0)
                break;
            offset = next;
            continue;
        }
        Frame found;
        found.offset = offset + kFrameHeaderSize;
        found.length = header.length;
        found.time = header.time;
        found.image = reinterpret_cast<const char*>(window.at(found.offset));
        frame(found);
        offset = found.offset + header.length;
    }
    const bool ok = !window.failed();
    const std::uint32_t error = lastError();
    ::close(fd);
    setLastError(error);
    return ok;
}

std::int64_t CaptureLog::frameTime(const std::string& path, std::int64_t offset) {
    const int fd = openForReading(path);
    if (fd < 0)
        return 0;
    unsigned char bytes[kFrameHeaderSize];
    FrameHeader header;
    const bool ok = offset >= kFrameHeaderSize &&
                    readAt(fd, bytes, sizeof bytes, offset - kFrameHeaderSize) &&
                    header.decode(bytes);
    ::close(fd);
    return ok ? header.time : 0;
}

CaptureLogImage::~CaptureLogImage() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<CaptureLogImage> CaptureLogImage::open(const std::string& path,
                                                       std::int64_t offset) {
    std::unique_ptr<CaptureLogImage> image(new CaptureLogImage);
    image->fd_ = openForReading(path);
    if (image->fd_ < 0)
        return nullptr;
    unsigned char bytes[CaptureLog::kFrameHeaderSize];
    FrameHeader header;
    if (offset < CaptureLog::kFrameHeaderSize ||
        !readAt(image->fd_, bytes, sizeof bytes, offset - CaptureLog::kFrameHeaderSize)) {
        setLastError(kErrorInvalidData);
        return nullptr;
    }
    if (!header.decode(bytes)) {
        setLastError(kErrorInvalidData);
        return nullptr;
    }
    image->base_ = offset;
    image->length_ = header.length;
    return image;
}

std::int32_t CaptureLogImage::read(void* buffer, std::int32_t count) {
    const std::int64_t n = std::min<std::int64_t>(count, length_ - position_);
    if (n <= 0)
        return 0;
    const ssize_t got = retryInterrupted(
        [&] { return ::pread(fd_, buffer, std::size_t(n), off_t(base_ + position_)); });
    if (got < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    position_ += got;
    return std::int32_t(got);
}

std::int64_t CaptureLogImage::skip(std::int64_t count) {
    const std::int64_t n = std::min(count, length_ - position_);
    if (n <= 0)
        return 0;
    position_ += n;
    return n;
}

std::int64_t CaptureLogImage::available() {
    return length_ - position_;
}

bool CaptureLogImage::write(const void*, std::int32_t) {
    setLastError(kErrorNotImplemented);
    return false;
}

bool CaptureLogImage::seek(std::int64_t position) {
    if (position < 0 || position > length_) {
        setLastError(EINVAL);
        return false;
    }
    position_ = position;
    return true;
}

std::int64_t CaptureLogImage::size() {
    return length_;
}

std::int64_t CaptureLogImage::position() {
    return position_;
}
