#include "store/NewFile.h"

#include "engine/FileStream.h"
#include "engine/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

bool writeNewFile(const std::string& path, const std::function<bool(OutputStream& out)>& write) {
    // A short temporary name, so that a target name near the file system's
    // limit can still be written.
    const std::size_t slash = path.rfind('/');
    std::string temporary =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
        ".tidewell-XXXXXX";
    const int fd = ::mkstemp(temporary.data()); // 0600
    if (fd < 0) {
        setLastErrorFromErrno();
        return false;
    }
    ::close(fd);
    bool ok;
    {
        FileStream file;
        ok = file.open(temporary, FileStream::OpenWrite) && write(file) && file.flush();
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        setLastErrorFromErrno();
        ok = false;
    }
    if (!ok) {
        const std::uint32_t error = lastError();
        ::unlink(temporary.c_str());
        setLastError(error);
    }
    return ok;
}
