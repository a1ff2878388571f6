#include "tls/UserFiles.h"

#include "engine/Platform.h"
#include "engine/SystemCall.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

bool createUserFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (part.empty() || part.back() == '/')
            continue;
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            setLastErrorFromErrno();
            return false;
        }
    }
    return true;
}

bool readWholeFile(const std::string& path, std::string& text, std::size_t limit) {
    const int fd = retryInterrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    text.clear();
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = retryInterrupted([&] { return ::read(fd, chunk, sizeof chunk); });
        if (n < 0) {
            setLastErrorFromErrno();
            ok = false;
            break;
        }
        if (n == 0)
            break;
        text.append(chunk, std::size_t(n));
        if (text.size() > limit) {
            setLastError(EFBIG);
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

bool writeWholeFile(const std::string& path, const std::string& text, mode_t mode) {
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd = retryInterrupted(
        [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); });
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    if (!ok)
        setLastErrorFromErrno();
    ok = ok && putAll([fd](const char* p, std::size_t n) { return ::write(fd, p, n); }, text.data(),
                      text.size());
    if (ok && ::fsync(fd) != 0) {
        setLastErrorFromErrno();
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        setLastErrorFromErrno();
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        setLastErrorFromErrno();
        ok = false;
    }
    if (!ok) {
        const std::uint32_t code = lastError();
        ::unlink(temporary.c_str());
        setLastError(code);
    }
    return ok;
}

std::string userHomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return {};
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
