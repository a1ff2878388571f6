// A private temporary folder set as XDG_DATA_HOME for the lifetime of a test,
// so that cache folders never touch the real user's data.
#pragma once

#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Ends without "/".
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Sets an environment variable (or unsets it for nullptr) and restores the
// previous value on destruction.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_;
};

class ScopedDataHome {
public:
    ScopedDataHome() : env_("XDG_DATA_HOME", folder_.path().c_str()) {}
    const std::string& path() const { return folder_.path(); }
    // Where the cache folder goes below this data home, ending in "/".
    std::string cacheFolder() const { return folder_.path() + "/Merovex/Tidewell/Cache/"; }

private:
    TempFolder folder_;
    ScopedEnv env_;
};
