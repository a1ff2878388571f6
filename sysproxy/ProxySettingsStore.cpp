#include "sysproxy/ProxySettingsStore.h"

#include "engine/HttpMessageHeader.h"
#include "engine/Text.h"
#include "sysproxy/FileProxyStore.h"
#include "sysproxy/GnomeProxyStore.h"
#include "sysproxy/KdeProxyStore.h"

#include <cstdlib>

namespace {

bool desktopNamesKde() {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    if (!desktops)
        return false;
    for (const std::string& name : splitList(desktops, ':')) {
        if (equalsIgnoreCase(trimView(name), "KDE"))
            return true;
    }
    return false;
}

FileProxyStore& fileStore() {
    static FileProxyStore store;
    return store;
}

GnomeProxyStore* gnomeStore() {
    if (!GnomeProxyStore::available())
        return nullptr;
    static GnomeProxyStore store;
    return &store;
}

KdeProxyStore& kdeStore() {
    static KdeProxyStore store;
    return store;
}

} // namespace

ProxySettingsStore& ProxySettingsStore::forThisDesktop() {
    static ProxySettingsStore* const chosen = []() -> ProxySettingsStore* {
        if (desktopNamesKde())
            return &kdeStore();
        if (GnomeProxyStore* gnome = gnomeStore())
            return gnome;
        return &fileStore();
    }();
    return *chosen;
}

ProxySettingsStore& ProxySettingsStore::named(const std::string& id) {
    if (id == "kde")
        return kdeStore();
    if (id == "gnome") {
        if (GnomeProxyStore* gnome = gnomeStore())
            return *gnome;
    }
    if (id == "file")
        return fileStore();
    return forThisDesktop();
}
