// The user's internet proxy settings as one value: read, redirected to the
// local proxy, applied, backed up and restored, and asked for the upstream.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Keys name where a value set lives: kSystemKey is the desktop's own
// per-user proxy settings, read and written through the store of this desktop
// (ProxySettingsStore: GNOME, KDE, or a key of our settings file where the
// desktop has none, so that capturing still works but nothing outside the
// program changes). Every other key is a key of our settings file
// (SettingsFile), such as kBackupKey, which holds every member below.
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
    // The desktop's proxy mode as read ("none", "manual", "auto", KDE's
    // "wpad" and "environment"), empty when the source had none. Written back
    // as "manual" when proxyEnable is set, "none" in place of a "manual"
    // without it, else as it is.
    std::string proxyMode;
    std::string autoConfigUrl;
    // The ports the desktop keeps for protocols without a host, as
    // "protocol=port" joined by ";": redirecting http fills its port in, and
    // stopping must put the old one back.
    std::string unusedPorts;
    // True when proxyOverride lists the hosts that do use the proxy (KDE's
    // ReversedException).
    bool bypassReversed = false;
    // The store these settings were read from ("gnome", "kde", "file"),
    // empty for a value made by hand: writing kSystemKey goes back there.
    std::string desktop;
    // The desktop's own keys as read, for that store alone, so that what was
    // not changed is written back as it stood (absent keys included).
    std::string desktopValues;

    // Reads the values of `key` and parses proxyServer. Missing values take
    // the defaults; a missing file key fails (ENOENT), a missing system key
    // does not.
    bool read(const std::string& key);
    // Writes the values to `key`, proxyServer as stored. A file key gets all
    // of them in one rewrite.
    bool write(const std::string& key) const;
    // read and write for a key of our settings file; with `missingIsEmpty`
    // an absent key reads as the defaults.
    bool readFromSettingsFile(const std::string& key, bool missingIsEmpty);
    bool writeToSettingsFile(const std::string& key) const;
    // write(kSystemKey) and makes the change visible to every other program
    // of the user at once.
    bool apply() const;

    // Rebuilds `servers` and `singleServer` from `proxyServer`.
    void parseProxyServer();
    // Rebuilds `proxyServer` from `servers` (protocol=address joined by ";").
    void buildProxyServer();
    // Points the http and https entries at `address` ("host:port"), keeping
    // the others: desktops send https to the http proxy when no https one is
    // set, so both must lead to us for every program to behave alike.
    void setLocalProxy(const std::string& address);

    // The address configured for `protocol`, empty when none.
    std::string serverFor(std::string_view protocol) const;

    // The address configured for http, if any and if enabled.
    bool upstreamServer(std::string& out) const;
    // The same for `protocol` ("http", "https"). Https without a proxy of
    // its own goes through the http one, as GIO and the browsers that follow
    // GNOME do, except under KDE, whose programs then go direct.
    bool upstreamServer(std::string_view protocol, std::string& out) const;
    // Where the relay connects for a request whose own "host:port" is
    // `defaultAddress`: the upstream proxy (without any "scheme://" prefix)
    // and true, or `defaultAddress` and false when there is none or the host
    // is in the bypass list (taken from `defaultAddress`, see bypasses()).
    bool upstream(const std::string& defaultAddress, std::string& out) const;
    // The same with the request's host name given apart (for hosts whose
    // "host:port" text is ambiguous, such as bare IPv6 addresses).
    bool upstream(std::string_view host, const std::string& defaultAddress, std::string& out) const;
    // Where a `protocol` request (a CONNECT tunnel asks for "https") to
    // `host` goes, as upstream() does for http.
    bool upstreamFor(std::string_view protocol, std::string_view host,
                     const std::string& defaultAddress, std::string& out) const;

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
    // a key of our own settings file (no desktop store here).
    static bool usesDesktopSettings();
};
