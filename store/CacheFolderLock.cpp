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
    holderProgram_.clear();
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
            char text[128] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            if (n > 0) {
                char program[64] = {};
                if (std::sscanf(text, "%d %63s", &holder_, program) == 2)
                    holderProgram_ = program;
            }
        }
        ::close(fd);
        setLastError(error == EWOULDBLOCK ? kErrorCacheFolderBusy : std::uint32_t(error));
        return false;
    }
    // Who holds it and which program that is, for the message another process
    // shows (a writer that only knows the number reads the first field).
    char text[128];
    const int length =
        std::snprintf(text, sizeof text, "%d %s\n", int(::getpid()), program_invocation_short_name);
    if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
        auto n = ::pwrite(fd, text, std::size_t(length), 0);
    fd_ = fd;
    return true;
}

std::string cacheFolderBusyText(const std::string& folder, int holder, const std::string& program) {
    char text[4096];
    // The two programs say what they hold the folder for; any other holder
    // (an older build, a test) is named by its number alone.
    if (holder > 0 && program == "tidewell-capture")
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_BUSY_CAPTURE), folder.c_str(),
                      holder);
    else if (holder > 0 && program == "tidewell")
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_BUSY_DESKTOP), folder.c_str(),
                      holder);
    else if (holder > 0)
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_BUSY_PID), folder.c_str(),
                      holder);
    else
        std::snprintf(text, sizeof text, loadString(IDS_CACHE_FOLDER_BUSY_FOLDER), folder.c_str());
    return text;
}
