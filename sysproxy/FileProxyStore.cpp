#include "sysproxy/FileProxyStore.h"

#include "sysproxy/ProxySettings.h"

bool FileProxyStore::read(ProxySettings& settings) {
    if (!settings.readFromSettingsFile(ProxySettings::kSystemKey, true))
        return false;
    settings.desktop = id();
    return true;
}

bool FileProxyStore::write(const ProxySettings& settings) {
    return settings.writeToSettingsFile(ProxySettings::kSystemKey);
}
