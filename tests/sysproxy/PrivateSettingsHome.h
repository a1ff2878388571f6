// Points this process's per-user stores at a private folder. Meant as a
// namespace-scope object, so that it runs before any test and thus before
// GIO picks and caches its settings backend.
#pragma once

#include "support/ScopedDataHome.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>

class PrivateSettingsHome {
public:
    enum class Schemas { system, none };

    explicit PrivateSettingsHome(Schemas schemas = Schemas::system)
        : config_("XDG_CONFIG_HOME", made(folder_.path() + "/config").c_str()),
          home_("HOME", made(folder_.path() + "/home").c_str()),
          backend_("GSETTINGS_BACKEND", "keyfile"), schemaDir_("GSETTINGS_SCHEMA_DIR", nullptr),
          dataHome_("XDG_DATA_HOME",
                    made(folder_.path() + (schemas == Schemas::none ? "/empty" : "/data")).c_str()),
          dataDirs_("XDG_DATA_DIRS", schemas == Schemas::none ? (folder_.path() + "/empty").c_str()
                                                              : systemDirs()) {}

    // Where GIO's keyfile backend keeps the desktop settings.
    std::string desktopKeyfile() const {
        return folder_.path() + "/config/glib-2.0/settings/keyfile";
    }
    std::string settingsFile() const { return folder_.path() + "/config/Merovex/Tidewell.conf"; }

private:
    static std::string made(const std::string& path) {
        ::mkdir(path.c_str(), 0700);
        return path;
    }
    // Keeps the caller's list (it names where the schemas are installed).
    static const char* systemDirs() {
        const char* dirs = std::getenv("XDG_DATA_DIRS");
        return dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    }

    TempFolder folder_;
    ScopedEnv config_, home_, backend_, schemaDir_, dataHome_, dataDirs_;
};
