#include "sysproxy/GnomeProxyStore.h"

#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "engine/Text.h"
#include "sysproxy/ProxySettings.h"

#include <cerrno>
#include <gio/gio.h>
#include <vector>

namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";
constexpr const char* kProtocols[] = {"http", "https", "ftp", "socks"};

// Owns one reference of a GObject.
template <typename T> class Ref {
public:
    explicit Ref(T* object) : object_(object) {}
    ~Ref() {
        if (object_)
            g_object_unref(object_);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return object_; }

private:
    T* object_;
};

std::string takeString(gchar* text) {
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

bool schemaHasKeys(GSettingsSchemaSource* source, const std::string& id,
                   std::initializer_list<const char*> keys) {
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, id.c_str(), TRUE);
    if (!schema)
        return false;
    bool ok = true;
    for (const char* key : keys)
        ok = ok && g_settings_schema_has_key(schema, key);
    g_settings_schema_unref(schema);
    return ok;
}

bool schemaInstalled() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default(); // not owned
    if (!source || !schemaHasKeys(source, kSchema, {"mode", "autoconfig-url", "ignore-hosts"}))
        return false;
    for (const char* protocol : kProtocols) {
        if (!schemaHasKeys(source, std::string(kSchema) + "." + protocol, {"host", "port"}))
            return false;
    }
    return true;
}

// The desktop keeps host and port apart; an IPv6 host gets its brackets back
// so that the address reads unambiguously.
std::string joinAddress(const std::string& host, int port) {
    if (port == 0)
        return host;
    const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
    return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// The inverse of joinAddress; an address without a usable port keeps port 0.
void splitAddress(const std::string& address, std::string& host, int& port) {
    host = address;
    port = 0;
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 == address.size() || address.size() - colon > 6)
        return;
    int value = 0;
    for (std::size_t i = colon + 1; i < address.size(); ++i) {
        if (address[i] < '0' || address[i] > '9')
            return;
        value = value * 10 + (address[i] - '0');
    }
    std::string name = address.substr(0, colon);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    else if (name.find(':') != std::string::npos)
        return; // a bare IPv6 address has no port
    if (value > 65535)
        return;
    host = name;
    port = value;
}

bool setString(GSettings* settings, const char* key, const std::string& value) {
    if (takeString(g_settings_get_string(settings, key)) == value)
        return true;
    if (g_settings_set_string(settings, key, value.c_str()))
        return true;
    setLastError(EACCES);
    return false;
}

bool setInt(GSettings* settings, const char* key, int value) {
    if (g_settings_get_int(settings, key) == value || g_settings_set_int(settings, key, value))
        return true;
    setLastError(EACCES);
    return false;
}

bool setList(GSettings* settings, const char* key, const std::vector<std::string>& value) {
    gchar** current = g_settings_get_strv(settings, key);
    bool same = g_strv_length(current) == value.size();
    for (std::size_t i = 0; same && i < value.size(); ++i)
        same = value[i] == current[i];
    g_strfreev(current);
    if (same)
        return true;
    std::vector<const gchar*> items;
    for (const std::string& item : value)
        items.push_back(item.c_str());
    items.push_back(nullptr);
    if (g_settings_set_strv(settings, key, items.data()))
        return true;
    setLastError(EACCES);
    return false;
}

// The address `settings` gives `protocol`, empty when none.
std::string addressFor(const ProxySettings& settings, std::string_view protocol) {
    if (settings.singleServer)
        return settings.proxyServer;
    for (const auto& [name, address] : settings.servers) {
        if (equalsIgnoreCase(name, protocol))
            return address;
    }
    return {};
}

bool unusedPort(const ProxySettings& settings, std::string_view protocol, int& port) {
    for (const std::string& item : splitList(settings.unusedPorts, ';')) {
        const std::size_t equals = item.find('=');
        std::int32_t value = 0;
        if (equals != std::string::npos &&
            equalsIgnoreCase(trimView(item.substr(0, equals)), protocol) &&
            parseInt32(item.substr(equals + 1), value) && value >= 0 && value <= 65535) {
            port = value;
            return true;
        }
    }
    return false;
}

} // namespace

bool GnomeProxyStore::available() {
    static const bool installed = schemaInstalled();
    return installed;
}

bool GnomeProxyStore::read(ProxySettings& settings) {
    settings.desktop = id();
    settings.desktopValues.clear();
    settings.bypassReversed = false;
    Ref<GSettings> proxy(g_settings_new(kSchema));
    settings.proxyMode = takeString(g_settings_get_string(proxy.get(), "mode"));
    settings.autoConfigUrl = takeString(g_settings_get_string(proxy.get(), "autoconfig-url"));
    settings.proxyEnable = settings.proxyMode == "manual";
    settings.proxyHttp11 = true;

    gchar** hosts = g_settings_get_strv(proxy.get(), "ignore-hosts");
    settings.proxyOverride.clear();
    for (gchar** host = hosts; *host; ++host) {
        if (!settings.proxyOverride.empty())
            settings.proxyOverride += ';';
        settings.proxyOverride += *host;
    }
    g_strfreev(hosts);

    settings.proxyServer.clear();
    settings.unusedPorts.clear();
    for (const char* protocol : kProtocols) {
        Ref<GSettings> child(g_settings_get_child(proxy.get(), protocol));
        const std::string host = takeString(g_settings_get_string(child.get(), "host"));
        const int port = g_settings_get_int(child.get(), "port");
        std::string& list = host.empty() ? settings.unusedPorts : settings.proxyServer;
        if (!list.empty())
            list += ';';
        list += std::string(protocol) + "=" +
                (host.empty() ? std::to_string(port) : joinAddress(host, port));
    }
    settings.parseProxyServer();
    return true;
}

bool GnomeProxyStore::write(const ProxySettings& settings) {
    std::string mode = "none";
    if (settings.proxyEnable)
        mode = "manual";
    else if (settings.proxyMode == "auto")
        mode = "auto";
    Ref<GSettings> proxy(g_settings_new(kSchema));
    bool ok = true;
    for (const char* protocol : kProtocols) {
        Ref<GSettings> child(g_settings_get_child(proxy.get(), protocol));
        const std::string address = addressFor(settings, protocol);
        std::string host;
        int port = 0;
        splitAddress(address, host, port);
        // A protocol without an entry gets back the port it had without a
        // host, or keeps the one it has.
        if (host.empty() && !unusedPort(settings, protocol, port))
            port = g_settings_get_int(child.get(), "port");
        ok = ok && setString(child.get(), "host", host) && setInt(child.get(), "port", port);
    }

    std::vector<std::string> hosts = splitList(settings.proxyOverride, ';');
    std::erase(hosts, std::string());
    // The mode goes last so that a program reacting to it finds the hosts set.
    ok = ok && setList(proxy.get(), "ignore-hosts", hosts) &&
         setString(proxy.get(), "autoconfig-url", settings.autoConfigUrl) &&
         setString(proxy.get(), "mode", mode);
    g_settings_sync();
    return ok;
}
