#include "sysproxy/ProxySettings.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "sysproxy/ProxySettingsStore.h"
#include "sysproxy/SettingsFile.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>

namespace {

constexpr const char* kEnable = "ProxyEnable";
constexpr const char* kHttp11 = "ProxyHttp1.1";
constexpr const char* kOverride = "ProxyOverride";
constexpr const char* kServer = "ProxyServer";
constexpr const char* kMode = "ProxyMode";
constexpr const char* kAutoConfigUrl = "AutoConfigURL";
constexpr const char* kUnusedPorts = "UnusedPorts";
constexpr const char* kBypassReversed = "BypassReversed";
constexpr const char* kDesktop = "Desktop";
constexpr const char* kDesktopValues = "DesktopValues";
constexpr const char* kProtocols[] = {"http", "https", "ftp", "socks"};

bool isSystemKey(const std::string& key) {
    return equalsIgnoreCase(key, ProxySettings::kSystemKey);
}

// A stored string ends at its first zero, as the platform's string values do.
std::string upToZero(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

// Other modes ("auto", KDE's "wpad" and "environment") are kept as they are.
std::string modeToWrite(const ProxySettings& settings) {
    if (settings.proxyEnable)
        return "manual";
    if (settings.proxyMode.empty() || settings.proxyMode == "manual")
        return "none";
    return settings.proxyMode;
}

// "host:port", "[v6]:port" or a bare host; port -1 when there is none.
void splitHost(std::string_view address, std::string_view& host, int& port) {
    host = address;
    port = -1;
    std::size_t colon = address.rfind(':');
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos)
            return;
        host = address.substr(1, close - 1);
        colon = close + 1 < address.size() && address[close + 1] == ':' ? close + 1
                                                                        : std::string_view::npos;
    } else if (colon != std::string_view::npos && address.find(':') != colon) {
        return; // a bare IPv6 address
    } else if (colon != std::string_view::npos) {
        host = address.substr(0, colon);
    }
    if (colon == std::string_view::npos)
        return;
    std::int32_t value = 0;
    if (parseInt32(address.substr(colon + 1), value) && value >= 0 && value <= 65535)
        port = value;
}

struct Address {
    int family = 0;
    unsigned char bytes[16] = {};
};

bool parseAddress(std::string_view text, Address& out) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > 64)
        return false;
    const std::string s(text);
    if (inet_pton(AF_INET, s.c_str(), out.bytes) == 1) {
        out.family = AF_INET;
        return true;
    }
    if (inet_pton(AF_INET6, s.c_str(), out.bytes) == 1) {
        out.family = AF_INET6;
        return true;
    }
    return false;
}

bool inRange(const Address& address, const Address& base, int prefix) {
    if (address.family != base.family)
        return false;
    const int bits = address.family == AF_INET ? 32 : 128;
    if (prefix < 0 || prefix > bits)
        return false;
    const int whole = prefix / 8;
    if (std::memcmp(address.bytes, base.bytes, static_cast<std::size_t>(whole)) != 0)
        return false;
    if (prefix % 8 == 0)
        return true;
    const unsigned mask = (0xFF00u >> (prefix % 8)) & 0xFF;
    return (address.bytes[whole] & mask) == (base.bytes[whole] & mask);
}

// "*" matches any run of characters; letters compare ignoring ASCII case.
// Backtracks only to the last star, so the cost stays linear in practice.
bool globMatch(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && asciiToLower(pattern[p]) == asciiToLower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string_view> bypassEntries(std::string_view list) {
    std::vector<std::string_view> entries;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        const bool separator = i == list.size() || list[i] == ';' || list[i] == ',' ||
                               list[i] == ' ' || list[i] == '\t' || list[i] == '\r' ||
                               list[i] == '\n';
        if (!separator)
            continue;
        if (i > start)
            entries.push_back(list.substr(start, i - start));
        start = i + 1;
    }
    return entries;
}

bool entryMatches(std::string_view entry, std::string_view host, bool hostIsAddress,
                  const Address& hostAddress, int port) {
    if (equalsIgnoreCase(entry, "<local>"))
        return !hostIsAddress && host.find('.') == std::string_view::npos;
    if (entry.front() == '<')
        return false;
    if (const std::size_t scheme = entry.find("://"); scheme != std::string_view::npos) {
        if (!equalsIgnoreCase(entry.substr(0, scheme), "http"))
            return false;
        entry.remove_prefix(scheme + 3);
    }

    int prefix = -1;
    if (const std::size_t slash = entry.rfind('/'); slash != std::string_view::npos) {
        std::int32_t value = 0;
        if (!parseInt32(entry.substr(slash + 1), value))
            return false;
        prefix = value;
        entry = entry.substr(0, slash);
    }
    std::string_view name = entry;
    int entryPort = -1;
    splitHost(entry, name, entryPort);
    if (entryPort < 0 && name.size() != entry.size() && entry.front() != '[')
        return false; // "name:junk"
    if (entryPort >= 0 && entryPort != port)
        return false;
    if (name.empty())
        return false;

    Address base;
    if (parseAddress(name, base)) {
        if (!hostIsAddress)
            return false;
        return inRange(hostAddress, base,
                       prefix < 0 ? (base.family == AF_INET ? 32 : 128) : prefix);
    }
    if (prefix >= 0)
        return false;
    if (name.front() == '.')
        return globMatch(std::string("*") + std::string(name), host);
    return globMatch(name, host);
}

} // namespace

bool ProxySettings::usesDesktopSettings() {
    return ProxySettingsStore::forThisDesktop().isDesktop();
}

bool ProxySettings::read(const std::string& key) {
    if (isSystemKey(key))
        return ProxySettingsStore::forThisDesktop().read(*this);
    return readFromSettingsFile(key, false);
}

bool ProxySettings::write(const std::string& key) const {
    if (isSystemKey(key))
        return ProxySettingsStore::named(desktop).write(*this);
    return writeToSettingsFile(key);
}

bool ProxySettings::readFromSettingsFile(const std::string& key, bool missingIsEmpty) {
    std::vector<SettingsFile::Value> values;
    if (!SettingsFile().listValues(key, values) && !(lastError() == ENOENT && missingIsEmpty))
        return false;
    *this = ProxySettings();
    using Type = SettingsFile::Type;
    for (const SettingsFile::Value& value : values) {
        if (value.type == Type::dword) {
            if (equalsIgnoreCase(value.name, kEnable))
                proxyEnable = value.dword != 0;
            else if (equalsIgnoreCase(value.name, kHttp11))
                proxyHttp11 = value.dword != 0;
            else if (equalsIgnoreCase(value.name, kBypassReversed))
                bypassReversed = value.dword != 0;
        } else if (value.type == Type::string) {
            const std::string text = upToZero(value.data);
            if (equalsIgnoreCase(value.name, kOverride))
                proxyOverride = text;
            else if (equalsIgnoreCase(value.name, kServer))
                proxyServer = text;
            else if (equalsIgnoreCase(value.name, kMode))
                proxyMode = text;
            else if (equalsIgnoreCase(value.name, kAutoConfigUrl))
                autoConfigUrl = text;
            else if (equalsIgnoreCase(value.name, kUnusedPorts))
                unusedPorts = text;
            else if (equalsIgnoreCase(value.name, kDesktop))
                desktop = text;
            else if (equalsIgnoreCase(value.name, kDesktopValues))
                desktopValues = value.data; // may hold any byte
        }
    }
    parseProxyServer();
    return true;
}

bool ProxySettings::writeToSettingsFile(const std::string& key) const {
    using Type = SettingsFile::Type;
    return SettingsFile().writeValues(
        key, {
                 {kEnable, Type::dword, proxyEnable ? 1u : 0u, {}},
                 {kHttp11, Type::dword, proxyHttp11 ? 1u : 0u, {}},
                 {kOverride, Type::string, 0, proxyOverride},
                 {kServer, Type::string, 0, proxyServer},
                 {kMode, Type::string, 0, modeToWrite(*this)},
                 {kAutoConfigUrl, Type::string, 0, autoConfigUrl},
                 {kUnusedPorts, Type::string, 0, unusedPorts},
                 {kBypassReversed, Type::dword, bypassReversed ? 1u : 0u, {}},
                 {kDesktop, Type::string, 0, desktop},
                 {kDesktopValues, Type::string, 0, desktopValues},
             });
}

bool ProxySettings::apply() const {
    return write(kSystemKey);
}

void ProxySettings::parseProxyServer() {
    servers.clear();
    if (proxyServer.empty() || proxyServer.find('=') == std::string::npos) {
        singleServer = true;
        return;
    }
    singleServer = false;
    const std::string_view text = proxyServer;
    std::size_t start = 0;
    for (;;) {
        const std::size_t equals = text.find('=', start);
        if (equals == std::string_view::npos)
            return;
        const std::size_t semicolon = text.find(';', equals + 1);
        const std::size_t end = semicolon == std::string_view::npos ? text.size() : semicolon;
        servers.emplace_back(trim(text.substr(start, equals - start)),
                             trim(text.substr(equals + 1, end - equals - 1)));
        if (semicolon == std::string_view::npos)
            return;
        start = semicolon + 1;
    }
}

void ProxySettings::buildProxyServer() {
    singleServer = false;
    proxyServer.clear();
    for (const auto& [protocol, server] : servers) {
        if (!proxyServer.empty())
            proxyServer += ';';
        proxyServer += protocol + "=" + server;
    }
}

void ProxySettings::setLocalProxy(const std::string& address) {
    if (singleServer && !proxyServer.empty()) {
        servers.clear();
        for (const char* protocol : kProtocols)
            servers.emplace_back(protocol, proxyServer);
    }
    for (const char* redirected : {"http", "https"}) {
        bool found = false;
        for (auto& [protocol, server] : servers) {
            if (equalsIgnoreCase(protocol, redirected)) {
                server = address;
                found = true;
                break;
            }
        }
        if (!found)
            servers.emplace_back(redirected, address);
    }
    buildProxyServer();
}

std::string ProxySettings::serverFor(std::string_view protocol) const {
    if (singleServer)
        return proxyServer;
    for (const auto& [name, server] : servers) {
        if (equalsIgnoreCase(name, protocol))
            return server;
    }
    return {};
}

bool ProxySettings::upstreamServer(std::string& out) const {
    return upstreamServer("http", out);
}

bool ProxySettings::upstreamServer(std::string_view protocol, std::string& out) const {
    if (!proxyEnable)
        return false;
    if (singleServer) {
        if (proxyServer.empty())
            return false;
        out = proxyServer;
        return true;
    }
    // An entry without an address names no proxy.
    for (const auto& [name, server] : servers) {
        if (equalsIgnoreCase(name, protocol) && !trimView(server).empty()) {
            out = server;
            return true;
        }
    }
    // KDE sends https direct when only http has a proxy; GNOME's resolver,
    // Firefox and hand-made settings use the http one.
    if (desktop != "kde" && equalsIgnoreCase(protocol, "https"))
        return upstreamServer("http", out);
    return false;
}

bool ProxySettings::upstream(const std::string& defaultAddress, std::string& out) const {
    std::string_view host;
    int port = -1;
    splitHost(defaultAddress, host, port);
    return upstream(host, defaultAddress, out);
}

bool ProxySettings::upstream(std::string_view host, const std::string& defaultAddress,
                             std::string& out) const {
    return upstreamFor("http", host, defaultAddress, out);
}

bool ProxySettings::upstreamFor(std::string_view protocol, std::string_view host,
                                const std::string& defaultAddress, std::string& out) const {
    std::string server;
    std::string_view ignored;
    int port = -1;
    splitHost(defaultAddress, ignored, port);
    if (upstreamServer(protocol, server) && bypasses(host, port) == bypassReversed) {
        const std::size_t scheme = server.find("://");
        out = scheme == std::string::npos ? server : server.substr(scheme + 3);
        return true;
    }
    out = defaultAddress;
    return false;
}

bool ProxySettings::bypasses(std::string_view host, int port) const {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.size() > 1 && host.back() == '.')
        host.remove_suffix(1);
    if (host.empty())
        return false;
    Address hostAddress;
    const bool hostIsAddress = parseAddress(host, hostAddress);
    for (std::string_view entry : bypassEntries(proxyOverride)) {
        if (entryMatches(entry, host, hostIsAddress, hostAddress, port))
            return true;
    }
    return false;
}
