// GNOME's per-user proxy settings, through GIO GSettings.
#pragma once

#include "sysproxy/ProxySettingsStore.h"

// org.gnome.system.proxy and its http/https/ftp/socks children. ProxyEnable
// is mode "manual"; ProxyServer lists, as protocol=host:port in the order
// http, https, ftp, socks, every protocol whose host is set; ProxyOverride is
// ignore-hosts joined by ";". A user in mode "auto" (with its
// autoconfig-url) or "none" gets exactly that back: the mode, the URL and the
// ports of protocols without a host travel in proxyMode, autoConfigUrl and
// unusedPorts.
class GnomeProxyStore : public ProxySettingsStore {
public:
    // Whether the schema is installed. Looked up once per process: creating
    // settings for a missing schema would abort the process.
    static bool available();

    const char* id() const override { return "gnome"; }
    const char* displayName() const override { return "GNOME"; }
    // Only call these when available().
    bool read(ProxySettings& settings) override;
    // Keys whose value is already right are left alone; waits until the
    // change is stored where other programs see it, which is all the notice
    // they need.
    bool write(const ProxySettings& settings) override;
};
