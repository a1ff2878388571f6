// Proxy settings where the desktop keeps none: a key of our own settings
// file, which no other program reads.
#pragma once

#include "sysproxy/ProxySettingsStore.h"

class FileProxyStore : public ProxySettingsStore {
public:
    const char* id() const override { return "file"; }
    const char* displayName() const override { return "Tidewell"; }
    bool isDesktop() const override { return false; }
    // Nothing stored yet reads as the defaults.
    bool read(ProxySettings& settings) override;
    bool write(const ProxySettings& settings) override;
};
