// Any kioslaverc reads without harm; redirecting it and writing back what
// was read leaves it byte for byte as it was.
#include "sysproxy/KdeProxyStore.h"
#include "sysproxy/ProxySettings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Folder {
    Folder() {
        if (!mkdtemp(path.data()))
            std::abort();
        // Nobody to tell on a session bus.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("XDG_RUNTIME_DIR");
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    // In memory where there is such a folder: every write is synced.
    std::string path = std::filesystem::is_directory("/dev/shm")
                           ? "/dev/shm/tidewell-fuzz-kioslaverc.XXXXXX"
                           : "/tmp/tidewell-fuzz-kioslaverc.XXXXXX";
};

const std::string& folder() {
    static const Folder made;
    return made.path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string path = folder() + "/kioslaverc";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    KdeProxyStore store(path);

    ProxySettings user;
    if (!store.read(user))
        std::abort();
    ProxySettings redirected = user;
    redirected.setLocalProxy("127.0.0.1:2861");
    redirected.proxyEnable = true;
    if (!store.write(redirected))
        std::abort();
    ProxySettings during;
    std::string server;
    if (!store.read(during) || !during.upstreamServer("https", server) ||
        server != "127.0.0.1:2861")
        std::abort();
    if (!store.write(user) || slurp(path) != text)
        std::abort();
    return 0;
}
