// The HTTPS options as the user left them, in the per-user settings file.
#pragma once

#include <string>

class SettingsFile;

struct HttpsOptions {
    static constexpr const char* kKey = "Software\\Merovex\\Tidewell\\HTTPS";

    // Off: every CONNECT is tunnelled as it is.
    bool decrypt = false;
    // Hosts never decrypted, one pattern a line (see PassThroughList).
    std::string passThrough;

    // Missing or unreadable values keep their defaults.
    static HttpsOptions load(const SettingsFile& settings);
    bool save(SettingsFile& settings) const;
};
