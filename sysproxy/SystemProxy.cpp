#include "sysproxy/SystemProxy.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "sysproxy/SettingsFile.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* kRecordAddress = "LocalProxy";
constexpr const char* kRecordOwner = "LocalProxyOwner";

struct Endpoint {
    std::string host; // without brackets
    int port = -1;
};

// "host:port", "[v6]:port", with or without "scheme://" and a final "/".
Endpoint endpointOf(std::string_view address) {
    Endpoint out;
    address = trimView(address);
    if (const std::size_t scheme = address.find("://"); scheme != std::string_view::npos)
        address.remove_prefix(scheme + 3);
    while (!address.empty() && address.back() == '/')
        address.remove_suffix(1);
    std::string_view host = address, port;
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos)
            return out;
        host = address.substr(1, close - 1);
        if (close + 1 < address.size() && address[close + 1] == ':')
            port = address.substr(close + 2);
    } else if (const std::size_t colon = address.rfind(':');
               colon != std::string_view::npos && address.find(':') == colon) {
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
    }
    out.host = std::string(host);
    std::int32_t value = 0;
    if (parseInt32(port, value) && value > 0 && value <= 65535)
        out.port = value;
    return out;
}

bool isLoopback(std::string host) {
    if (host.size() > 1 && host.back() == '.')
        host.pop_back();
    for (char& c : host)
        c = asciiToLower(c);
    if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost")))
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

bool sameEndpoint(std::string_view a, std::string_view b) {
    const Endpoint x = endpointOf(a), y = endpointOf(b);
    return x.port > 0 && x.port == y.port && equalsIgnoreCase(x.host, y.host);
}

std::string recordedAddress(pid_t* owner = nullptr) {
    SettingsFile file;
    std::string address;
    if (!file.readString(ProxySettings::kBackupKey, kRecordAddress, address))
        return {};
    if (owner) {
        std::uint32_t pid = 0;
        *owner = file.readDword(ProxySettings::kBackupKey, kRecordOwner, pid) ? pid_t(pid) : 0;
    }
    return address;
}

void dropRecord(pid_t onlyOf) {
    pid_t owner = 0;
    if (recordedAddress(&owner).empty() || (onlyOf && owner != onlyOf))
        return;
    using Type = SettingsFile::Type;
    SettingsFile().writeValues(ProxySettings::kBackupKey, {{kRecordAddress, Type::string, 0, {}},
                                                           {kRecordOwner, Type::dword, 0, {}}});
}

// Every address the settings hold, enabled or not.
std::vector<std::string> addresses(const ProxySettings& settings) {
    std::vector<std::string> out;
    if (settings.singleServer) {
        if (!settings.proxyServer.empty())
            out.push_back(settings.proxyServer);
        return out;
    }
    for (const auto& entry : settings.servers)
        out.push_back(entry.second);
    return out;
}

bool pointsAt(const ProxySettings& settings, const std::string& address) {
    for (const std::string& entry : addresses(settings)) {
        if (sameEndpoint(entry, address))
            return true;
    }
    return false;
}

// Whether something accepts connections at the address (a live listener).
bool answers(const std::string& address) {
    const Endpoint endpoint = endpointOf(address);
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    std::string host = endpoint.host;
    if (equalsIgnoreCase(host, "localhost") || host.ends_with(".localhost"))
        host = "127.0.0.1";
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(endpoint.port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(endpoint.port));
        length = sizeof *v6;
    } else {
        return false;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Loopback answers at once: connected, or refused.
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0;
    ::close(fd);
    return connected;
}

} // namespace

bool SystemProxy::isTidewellListener(std::string_view address) {
    const Endpoint endpoint = endpointOf(address);
    if (endpoint.port <= 0 || !isLoopback(endpoint.host))
        return false;
    if (endpoint.port >= kFirstPort && endpoint.port < kFirstPort + kPortCount)
        return true;
    const std::string recorded = recordedAddress();
    return !recorded.empty() && sameEndpoint(recorded, address);
}

bool SystemProxy::pointsAtTidewell(const ProxySettings& settings) {
    for (const std::string& entry : addresses(settings)) {
        if (isTidewellListener(entry))
            return true;
    }
    return false;
}

ProxySettings SystemProxy::withoutTidewell(const ProxySettings& settings) {
    ProxySettings out = settings;
    if (out.singleServer) {
        if (isTidewellListener(out.proxyServer))
            out.proxyServer.clear();
    } else {
        std::erase_if(out.servers,
                      [](const auto& entry) { return isTidewellListener(entry.second); });
        out.buildProxyServer();
        out.parseProxyServer();
    }
    if (out.proxyEnable && addresses(out).empty()) {
        out.proxyEnable = false;
        if (out.proxyMode == "manual")
            out.proxyMode = "none";
    }
    return out;
}

bool SystemProxy::readUserSettings(ProxySettings& out) {
    ProxySettings current;
    if (!current.read(ProxySettings::kSystemKey))
        return false;
    if (!pointsAtTidewell(current)) {
        out = current;
        return true;
    }
    ProxySettings backup;
    if (backup.read(ProxySettings::kBackupKey) &&
        (backup.desktop.empty() || backup.desktop == current.desktop) &&
        !pointsAtTidewell(backup)) {
        out = backup;
        return true;
    }
    out = withoutTidewell(current);
    return true;
}

bool SystemProxy::redirect(const ProxySettings& user, const std::string& address) {
    using Type = SettingsFile::Type;
    // Backup first, then the record, then the change: a crash at any point
    // leaves what the guardian or the next start needs.
    if (user.write(ProxySettings::kBackupKey))
        SettingsFile().writeValues(ProxySettings::kBackupKey,
                                   {{kRecordAddress, Type::string, 0, address},
                                    {kRecordOwner, Type::dword, std::uint32_t(::getpid()), {}}});
    ProxySettings redirected = user;
    redirected.setLocalProxy(address);
    redirected.proxyEnable = true;
    return redirected.apply();
}

bool SystemProxy::restore(const ProxySettings& user, const std::string& address) {
    ProxySettings current;
    const bool elsewhere = current.read(ProxySettings::kSystemKey) && !pointsAt(current, address) &&
                           pointsAtTidewell(current);
    const bool ok = elsewhere || user.apply();
    if (ok)
        dropRecord(::getpid());
    return ok;
}

bool SystemProxy::backUp() {
    ProxySettings user;
    return readUserSettings(user) && user.write(ProxySettings::kBackupKey) &&
           SettingsFile().writeDword(ProxySettings::kBackupKey, "", 1);
}

bool SystemProxy::crashFlag() {
    std::uint32_t flag = 0;
    return SettingsFile().readDword(ProxySettings::kBackupKey, "", flag) && flag != 0;
}

void SystemProxy::clearCrashFlag() {
    SettingsFile().writeDword(ProxySettings::kBackupKey, "", 0);
}

bool SystemProxy::restoreBackup() {
    ProxySettings saved;
    // A backup an older version took of a redirect gives back none of it.
    if (!saved.read(ProxySettings::kBackupKey) || !withoutTidewell(saved).apply())
        return false;
    dropRecord(0);
    return true;
}

bool SystemProxy::leftBehind() {
    ProxySettings current;
    if (!current.read(ProxySettings::kSystemKey) || !pointsAtTidewell(current))
        return false;
    for (const std::string& entry : addresses(current)) {
        if (isTidewellListener(entry) && answers(entry))
            return false;
    }
    return true;
}

bool SystemProxy::heldByRunningCapture() {
    ProxySettings current;
    if (!current.read(ProxySettings::kSystemKey))
        return false;
    for (const std::string& entry : addresses(current)) {
        if (isTidewellListener(entry) && answers(entry))
            return true;
    }
    return false;
}

bool SystemProxy::recoverAfter(pid_t pid, bool& restored) {
    restored = false;
    pid_t owner = 0;
    const std::string address = recordedAddress(&owner);
    if (address.empty() || owner != pid)
        return true;
    ProxySettings current;
    if (!current.read(ProxySettings::kSystemKey))
        return false;
    if (!pointsAt(current, address)) {
        dropRecord(pid); // someone else has changed them since
        return true;
    }
    ProxySettings saved;
    if (!saved.read(ProxySettings::kBackupKey) || !saved.apply())
        return false;
    dropRecord(pid);
    clearCrashFlag();
    restored = true;
    return true;
}
