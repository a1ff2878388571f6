// Where the desktop keeps the user's proxy settings: one backend per desktop
// behind one interface.
#pragma once

#include <string>

class ProxySettings;

// A backend reads the desktop's settings into a ProxySettings value and
// writes such a value back, telling running programs of the change. What the
// four values cannot hold (modes, absent keys, text as the user wrote it)
// travels in the value's desktop-specific members, so that writing back what
// was read leaves the desktop exactly as it was. Failures return false with
// the reason in lastError().
class ProxySettingsStore {
public:
    virtual ~ProxySettingsStore() = default;

    // "gnome", "kde" or "file": kept with a backup so that it goes back to
    // the store it came from.
    virtual const char* id() const = 0;
    // What the user calls it ("GNOME", "KDE").
    virtual const char* displayName() const = 0;
    // False for our own settings file, which no other program reads.
    virtual bool isDesktop() const { return true; }

    virtual bool read(ProxySettings& settings) = 0;
    virtual bool write(const ProxySettings& settings) = 0;

    // The store of the session this process runs in, chosen once from
    // XDG_CURRENT_DESKTOP and what is installed: KDE when the desktop names
    // it, else GNOME when its settings schema is installed, else our file.
    static ProxySettingsStore& forThisDesktop();
    // The store with `id` when it can be used here, else forThisDesktop().
    static ProxySettingsStore& named(const std::string& id);
};
