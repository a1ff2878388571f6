#include "store/CacheFolderLock.h"

#include "engine/SystemCall.h"
#include "resources/StringTable.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CacheFolderLock::~CacheFolderLock() {
    release();
}

void CacheFolderLock::release() {
    if (fd_ >= 0) {
        ::close(fd_); // closing the only descriptor drops the lock
        fd_ = -1;
    }
}

bool CacheFolderLock::acquire(const std::string& folder) {
    release();
    folder_ = folder;
    holder_ = 0;
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += kFileName;
    const int fd = retryInterrupted(
        [&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600); });
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    if (retryInterrupted([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            char text[32] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            holder_ = n > 0 ? std::atoi(text) : 0;
        }
        ::close(fd);
        setLastError(error == EWOULDBLOCK ? kErrorCacheFolderBusy : std::uint32_t(error));
        return false;
    }
    // Who holds it, for the message another process shows.
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%d\n", int(::getpid()));
    if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
        auto n = ::pwrite(fd, text, std::size_t(length), 0);
    fd_ = fd;
    return true;
}

std::string cacheFolderBusyText(const std::string& folder, int holder) {
    char text[4096];
    if (holder > 0)
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_BUSY_PID), folder.c_str(),
                      holder);
    else
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_BUSY_FOLDER), folder.c_str());
    return text;
}
