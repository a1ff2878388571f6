// The desktop's per-user proxy settings (GNOME, through GIO GSettings).
#pragma once

#include <string>

class ProxySettings;

// Whether the org.gnome.system.proxy schema is installed. Looked up once per
// process: creating settings for a missing schema would abort the process.
bool desktopProxyAvailable();

// Fills the four values, proxyMode and autoConfigUrl, and parses
// proxyServer. Only call when desktopProxyAvailable().
bool readDesktopProxy(ProxySettings& settings);

// Writes the hosts, ports and bypass list of `settings`, then `mode`, and
// waits until the change is stored where other programs see it. Keys whose
// value is already right are left alone.
bool writeDesktopProxy(const ProxySettings& settings, const std::string& mode);
