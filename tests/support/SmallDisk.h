// A small file system of its own for tests of a full disk.
#pragma once

#include "ScopedDataHome.h"

#include <cstddef>
#include <string>

// A tmpfs of `bytes` mounted on a fresh temporary folder, unmounted at the
// end. Mounting needs root: check mounted() and skip without it.
class SmallDisk {
public:
    explicit SmallDisk(std::size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    // Ends without "/".
    const std::string& path() const { return folder_.path(); }

private:
    TempFolder folder_;
    bool mounted_ = false;
};
