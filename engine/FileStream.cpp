#include "engine/FileStream.h"

#include "engine/SystemCall.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileStream::~FileStream() {
    close();
}

void FileStream::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool FileStream::open(const std::string& path, unsigned flags) {
    close();
    int mode;
    switch (flags & (OpenRead | OpenWrite)) {
    case OpenRead:
        mode = O_RDONLY;
        break;
    case OpenWrite:
        mode = O_WRONLY;
        break;
    case OpenRead | OpenWrite:
        mode = O_RDWR;
        break;
    default:
        setLastError(EINVAL);
        return false;
    }
    if (flags & OpenCreate)
        mode |= O_CREAT | O_TRUNC;
    // Without blocking, a FIFO in the file's place cannot stall the open.
    if (flags & OpenPlainFile)
        mode |= O_NOFOLLOW | O_NONBLOCK;
    const int fd = retryInterrupted([&] { return ::open(path.c_str(), mode | O_CLOEXEC, 0600); });
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    if (flags & OpenPlainFile) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            setLastError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
            return false;
        }
        // Reads and writes of a plain file block as usual.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    fd_ = fd;
    return true;
}

std::int32_t FileStream::read(void* buffer, std::int32_t count) {
    if (count <= 0)
        return 0;
    const ssize_t n = retryInterrupted([&] { return ::read(fd_, buffer, std::size_t(count)); });
    if (n < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    return static_cast<std::int32_t>(n);
}

// A short write (disk full) must not pass for success, so write until every
// byte is down or the system reports why not.
bool FileStream::write(const void* data, std::int32_t count) {
    const std::size_t size = count > 0 ? std::size_t(count) : 0;
    if (size == 0 && fd_ < 0) {
        setLastError(EBADF);
        return false;
    }
    return putAll([this](const char* p, std::size_t left) { return ::write(fd_, p, left); }, data,
                  size);
}

std::int64_t FileStream::skip(std::int64_t count) {
    const off_t before = ::lseek(fd_, 0, SEEK_CUR);
    if (before < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    const off_t after = ::lseek(fd_, off_t(count), SEEK_CUR);
    if (after < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    return after - before;
}

bool FileStream::flush() {
    if (::fsync(fd_) != 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

bool FileStream::seek(std::int64_t p) {
    if (::lseek(fd_, off_t(p), SEEK_SET) < 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

std::int64_t FileStream::size() {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        setLastErrorFromErrno();
        return -1;
    }
    return st.st_size;
}

std::int64_t FileStream::position() {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0) {
        setLastErrorFromErrno();
        return -1;
    }
    return at;
}
