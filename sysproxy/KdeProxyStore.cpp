#include "sysproxy/KdeProxyStore.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "sysproxy/KdeConfigFile.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/TextFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kGroup = "Proxy Settings";
constexpr const char* kType = "ProxyType";
constexpr const char* kNoProxyFor = "NoProxyFor";
constexpr const char* kReversed = "ReversedException";
constexpr const char* kScript = "Proxy Config Script";
constexpr const char* kProtocols[] = {"http", "https", "ftp", "socks"};
constexpr const char* kKeys[] = {kType,        "httpProxy", "httpsProxy", "ftpProxy",
                                 "socksProxy", kNoProxyFor, kReversed,    kScript};
// Markers in desktopValues for a file and a group that existed.
constexpr const char* kFileMarker = "[file]";
constexpr const char* kGroupMarker = "[group]";

// Far beyond any real kioslaverc; refusing more keeps memory bounded.
constexpr off_t kMaxFileSize = 4 * 1024 * 1024;

enum Type { None = 0, Manual = 1, Pac = 2, Wpad = 3, Environment = 4 };

// The keys as desktopValues records them.
struct Values {
    bool file = false;
    bool group = false;
    KdeConfigFile lines; // one [Proxy Settings] group of the recorded lines

    bool line(const char* key, std::string& out) const { return lines.line(kGroup, key, out); }
    std::string value(const char* key) const {
        std::string out;
        lines.value(kGroup, key, out);
        return out;
    }
};

Values parseValues(const std::string& text) {
    Values values;
    std::string body = std::string("[") + kGroup + "]\n";
    // Lines as recorded, white space and all.
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (line == kFileMarker)
            values.file = true;
        else if (line == kGroupMarker)
            values.group = true;
        else if (!line.empty())
            body.append(line).append("\n");
        start = end + 1;
    }
    values.lines = KdeConfigFile(body);
    return values;
}

std::string recordValues(const KdeConfigFile& file, bool exists) {
    std::string out;
    if (exists)
        out += std::string(kFileMarker) + "\n";
    if (file.hasGroup(kGroup))
        out += std::string(kGroupMarker) + "\n";
    std::string line;
    for (const char* key : kKeys) {
        if (file.line(kGroup, key, line))
            out += line + "\n";
    }
    return out;
}

bool kdeTrue(std::string_view text) {
    const std::string_view value = trimView(text);
    return equalsIgnoreCase(value, "true") || equalsIgnoreCase(value, "on") ||
           equalsIgnoreCase(value, "yes") || value == "1";
}

// "http://host port", "http://host:port", "host port", "[::1] 8080" as
// "host:port" (IPv6 in brackets), the way ProxySettings keeps addresses.
std::string addressOf(std::string_view entry) {
    std::string_view text = trimView(entry);
    if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    const std::size_t space = text.find_first_of(" \t");
    if (space == std::string_view::npos)
        return std::string(text);
    std::string host(trimView(text.substr(0, space)));
    const std::string port(trimView(text.substr(space + 1)));
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return port.empty() ? host : host + ":" + port;
}

// The inverse of addressOf, in the form KDE writes.
std::string entryOf(std::string_view protocol, const std::string& address) {
    std::string host = address, port;
    const std::size_t colon = address.rfind(':');
    const std::size_t bracket = address.rfind(']');
    const bool bareV6 = address.find(':') != colon && address.front() != '[';
    if (colon != std::string::npos && !bareV6 &&
        (bracket == std::string::npos || colon > bracket)) {
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string scheme = protocol == "socks" ? "socks://" : "http://";
    return port.empty() ? scheme + host : scheme + host + " " + port;
}

int typeOf(const Values& values) {
    std::int32_t type = None;
    if (!parseInt32(trimView(values.value(kType)), type) || type < None || type > Environment)
        return None;
    return type;
}

// What a variable named by an entry holds, for type 4.
std::string fromEnvironment(const std::string& name) {
    const std::string_view trimmed = trimView(name);
    if (trimmed.empty())
        return {};
    const char* value = std::getenv(std::string(trimmed).c_str());
    return value ? value : "";
}

// The settings the recorded keys stand for.
void decode(const Values& values, ProxySettings& settings) {
    const int type = typeOf(values);
    static const char* const kModes[] = {"none", "manual", "auto", "wpad", "environment"};
    settings.proxyMode = kModes[type];
    settings.proxyHttp11 = true;
    settings.autoConfigUrl = values.value(kScript);
    settings.bypassReversed = kdeTrue(values.value(kReversed));
    settings.proxyOverride = values.value(kNoProxyFor);
    if (type == Environment)
        settings.proxyOverride = fromEnvironment(settings.proxyOverride);
    settings.unusedPorts.clear();
    settings.servers.clear();
    for (const char* protocol : kProtocols) {
        std::string entry = values.value((std::string(protocol) + "Proxy").c_str());
        if (type == Environment)
            entry = fromEnvironment(entry);
        const std::string address = addressOf(entry);
        if (!address.empty())
            settings.servers.emplace_back(protocol, address);
    }
    settings.buildProxyServer();
    if (settings.servers.empty())
        settings.singleServer = true;
    settings.proxyEnable = type == Manual || (type == Environment && !settings.servers.empty());
}

bool sameSettings(const ProxySettings& a, const ProxySettings& b) {
    for (const char* protocol : kProtocols) {
        if (a.serverFor(protocol) != b.serverFor(protocol))
            return false;
    }
    return a.proxyEnable == b.proxyEnable && a.proxyOverride == b.proxyOverride &&
           a.bypassReversed == b.bypassReversed && a.autoConfigUrl == b.autoConfigUrl;
}

int typeToWrite(const ProxySettings& settings, int recorded) {
    if (settings.proxyEnable)
        return Manual;
    if (settings.proxyMode == "auto")
        return Pac;
    if (settings.proxyMode == "wpad")
        return Wpad;
    return recorded == Pac || recorded == Wpad ? recorded : None;
}

// A link (a dotfile manager's) is followed: its target changes, the link
// stays.
std::string resolved(const std::string& path) {
    char target[PATH_MAX];
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(path.c_str(), target))
        return target;
    return path;
}

// Keeps an existing file's permissions; a new one is the user's alone.
bool save(const std::string& path, const std::string& text) {
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    return TextFile::makeFolders(TextFile::folderOf(path)) && TextFile::replace(path, text, mode);
}

// Without a session bus there is nobody to tell, and GIO must not start
// one of its own.
bool sessionBusAround() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    return runtime && *runtime && ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
           S_ISSOCK(st.st_mode);
}

// KIO's running programs read the file again on this signal.
void tellRunningPrograms() {
    if (!sessionBusAround())
        return;
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return;
    }
    if (g_dbus_connection_emit_signal(bus, nullptr, "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                      "reparseSlaveConfiguration", g_variant_new("(s)", ""),
                                      &error))
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    g_clear_error(&error);
    g_object_unref(bus);
}

} // namespace

KdeProxyStore::KdeProxyStore(std::string path) : path_(std::move(path)) {}

std::string KdeProxyStore::defaultPath() {
    return TextFile::configFolder() + "/kioslaverc";
}

std::string KdeProxyStore::path() const {
    return path_.empty() ? defaultPath() : path_;
}

bool KdeProxyStore::read(ProxySettings& settings) {
    std::string text;
    bool exists = false;
    if (!TextFile::read(resolved(path()), kMaxFileSize, text, exists))
        return false;
    settings = ProxySettings();
    settings.desktop = id();
    settings.desktopValues = recordValues(KdeConfigFile(text), exists);
    decode(parseValues(settings.desktopValues), settings);
    return true;
}

bool KdeProxyStore::write(const ProxySettings& settings) {
    const std::string target = resolved(path());
    std::string text;
    bool exists = false;
    if (!TextFile::read(target, kMaxFileSize, text, exists))
        return false;
    KdeConfigFile file(text);
    // What the settings were read as; a value made by hand changes the
    // file as it is now.
    const Values recorded =
        parseValues(settings.desktop == id() ? settings.desktopValues : recordValues(file, exists));
    ProxySettings before;
    decode(recorded, before);

    const bool unchanged = sameSettings(settings, before);
    const int recordedType = typeOf(recorded);
    const int type = unchanged ? recordedType : typeToWrite(settings, recordedType);
    // Leaving type 4 turns variable names into addresses.
    const bool leavesEnvironment = recordedType == Environment && type != Environment;

    std::string line;
    auto keep = [&](const char* key) {
        if (recorded.line(key, line))
            file.setLine(kGroup, key, line);
        else
            file.removeKey(kGroup, key);
    };
    auto put = [&](const char* key, const std::string& value) {
        // An absent key that would be written empty stays absent.
        if (value.empty() && !recorded.line(key, line))
            file.removeKey(kGroup, key);
        else
            file.setValue(kGroup, key, value);
    };

    if (type == recordedType)
        keep(kType);
    else
        file.setValue(kGroup, kType, std::to_string(type));
    for (const char* protocol : kProtocols) {
        const std::string key = std::string(protocol) + "Proxy";
        const std::string address = settings.serverFor(protocol);
        if (!leavesEnvironment && address == before.serverFor(protocol))
            keep(key.c_str());
        else
            put(key.c_str(), address.empty() ? std::string() : entryOf(protocol, address));
    }
    if (!leavesEnvironment && settings.proxyOverride == before.proxyOverride)
        keep(kNoProxyFor);
    else
        put(kNoProxyFor, settings.proxyOverride);
    if (settings.bypassReversed == before.bypassReversed)
        keep(kReversed);
    else
        file.setValue(kGroup, kReversed, settings.bypassReversed ? "true" : "false");
    if (settings.autoConfigUrl == before.autoConfigUrl)
        keep(kScript);
    else
        put(kScript, settings.autoConfigUrl);
    if (!recorded.group)
        file.removeGroupIfEmpty(kGroup);

    const std::string changed = file.text();
    if (exists && changed == text)
        return true;
    if (!exists && changed.empty())
        return true;
    if (!recorded.file && changed.empty()) {
        if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
            setLastErrorFromErrno();
            return false;
        }
    } else if (!save(target, changed)) {
        return false;
    }
    tellRunningPrograms();
    return true;
}
