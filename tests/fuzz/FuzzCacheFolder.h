// A cache folder of the fuzzer's own, under a scratch data home that lives as
// long as the process.
#pragma once

#include "store/CacheFolder.h"

#include <cstdlib>
#include <stdlib.h>
#include <string>

// The scratch data home, made once.
inline const std::string& fuzzDataHome() {
    static const std::string home = [] {
        char pattern[] = "/tmp/tidewell-fuzz.XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        setenv("XDG_DATA_HOME", pattern, 1);
        return std::string(pattern);
    }();
    return home;
}

// A cache folder ready for writing in that home; aborts when it cannot be made.
inline CacheFolder* newFuzzCacheFolder() {
    fuzzDataHome();
    auto* folder = new CacheFolder;
    if (!folder->prepareCacheFolder())
        std::abort();
    return folder;
}
