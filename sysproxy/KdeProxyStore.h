// KDE Plasma's per-user proxy settings: group [Proxy Settings] of kioslaverc.
#pragma once

#include "sysproxy/ProxySettingsStore.h"

#include <string>

// ProxyType 0 none, 1 manual, 2 PAC ("Proxy Config Script"), 3 WPAD,
// 4 environment (the entries then name environment variables); httpProxy,
// httpsProxy, ftpProxy, socksProxy as "http://host port"; NoProxyFor and
// ReversedException. ProxyEnable is type 1, or type 4 with a variable set;
// proxyMode is "none", "manual", "auto", "wpad" or "environment".
//
// desktopValues keeps the lines of these keys as they stood, so that writing
// back the settings as read puts back those very lines, removes the keys that
// were absent, and the group and the file when they were absent too; every
// other line of the file stays as it is. After a change, running programs
// are told on the session bus (when there is one).
class KdeProxyStore : public ProxySettingsStore {
public:
    // An empty path means $XDG_CONFIG_HOME/kioslaverc (~/.config/kioslaverc),
    // looked up at each call.
    explicit KdeProxyStore(std::string path = {});

    static std::string defaultPath();

    const char* id() const override { return "kde"; }
    const char* displayName() const override { return "KDE"; }
    bool read(ProxySettings& settings) override;
    bool write(const ProxySettings& settings) override;

private:
    std::string path() const;

    std::string path_;
};
