// The user's internet proxy settings as one value: read, redirected to the
// local proxy, applied, backed up and restored, and asked for the upstream.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Keys name where a value set lives:
//  - kSystemKey is the desktop's own per-user proxy settings (GNOME,
//    org.gnome.system.proxy and its http/https/ftp/socks children). Where that
//    schema is not installed it is a key of our settings file instead, so that
//    capturing still works but nothing outside the program changes
//    (usesDesktopSettings() tells the user interface to say "set your browser
//    by hand").
//  - every other key is a key of our settings file (SettingsFile), such as
//    kBackupKey.
//
// On the desktop: ProxyEnable is mode "manual"; ProxyServer lists, as
// protocol=host:port in the order http, https, ftp, socks, every protocol
// whose host is set; ProxyOverride is ignore-hosts joined by ";";
// ProxyHttp1.1 has no counterpart and reads as true. A user in mode "auto"
// (with its autoconfig-url) or "none" must get exactly that back after
// capturing, so what the four values cannot hold travels with them
// (proxyMode, autoConfigUrl, unusedPorts) and is kept in file keys as
// "ProxyMode", "AutoConfigURL" and "UnusedPorts" after the four values.
//
// Failures return false with the reason in lastError().
class ProxySettings {
public:
    static constexpr const char* kSystemKey =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    static constexpr const char* kBackupKey = "Software\\Merovex\\Tidewell\\Backup\\Proxy";

    bool proxyEnable = false;
    bool proxyHttp11 = true;
    std::string proxyOverride; // the bypass list, kept verbatim
    std::string proxyServer;
    bool singleServer = false; // proxyServer is one address for every protocol
    std::vector<std::pair<std::string, std::string>> servers; // (protocol, address)
    // The desktop's proxy mode as read ("none", "manual", "auto"), empty when
    // the source had none. Written back as "manual" when proxyEnable is set,
    // else "auto" if it was "auto", else "none".
    std::string proxyMode;
    std::string autoConfigUrl;
    // The ports the desktop keeps for protocols without a host, as
    // "protocol=port" joined by ";": redirecting http fills its port in, and
    // stopping must put the old one back.
    std::string unusedPorts;

    // Reads the values of `key` and parses proxyServer. Missing values take
    // the defaults; a missing file key fails (ENOENT), a missing system key
    // does not.
    bool read(const std::string& key);
    // Writes the values to `key`, proxyServer as stored. A file key gets all
    // of them in one rewrite.
    bool write(const std::string& key) const;
    // write(kSystemKey) and makes the change visible to every other program
    // of the user at once.
    bool apply() const;

    // Rebuilds `servers` and `singleServer` from `proxyServer`.
    void parseProxyServer();
    // Points the http entry at `address` ("host:port"), keeping the others.
    void setLocalProxy(const std::string& address);

    // The address configured for http, if any and if enabled.
    bool upstreamServer(std::string& out) const;
    // Where the relay connects for a request whose own "host:port" is
    // `defaultAddress`: the upstream proxy (without any "scheme://" prefix)
    // and true, or `defaultAddress` and false when there is none or the host
    // is in the bypass list (taken from `defaultAddress`, see bypasses()).
    bool upstream(const std::string& defaultAddress, std::string& out) const;
    // The same with the request's host name given apart (for hosts whose
    // "host:port" text is ambiguous, such as bare IPv6 addresses).
    bool upstream(std::string_view host, const std::string& defaultAddress, std::string& out) const;

    // Whether proxyOverride sends `host` (a name or address literal, IPv6
    // with or without brackets) direct, as browsers read the same list.
    // Entries are separated by ";", "," or white space and are:
    //  - "<local>": a name without a dot (not an address literal);
    //  - a name, with "*" matching any run of characters ("*.example.com"
    //    matches the subdomains, not example.com itself), ignoring case;
    //    ".example.com" is the same as "*.example.com";
    //  - an IPv4 or IPv6 address, or a range such as "127.0.0.0/8" or
    //    "fe80::/10": matches address literals only (names are not resolved);
    //  - any of these with ":port" (IPv6 as "[addr]:port"): only that port,
    //    and with an "http://" prefix; entries for other schemes are ignored.
    // `port` < 0 means unknown: entries with a port then do not match.
    bool bypasses(std::string_view host, int port = -1) const;

    // True when kSystemKey is the desktop's proxy settings, false when it is
    // a key of our own settings file (the GNOME schema is not installed).
    static bool usesDesktopSettings();
};
