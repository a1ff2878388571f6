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
    // Makes the file system read-only from now on (a remount, as a full
    // disk's owner or a damaged disk's kernel does).
    bool remountReadOnly();
    // Ends without "/".
    const std::string& path() const { return folder_.path(); }

private:
    TempFolder folder_;
    bool mounted_ = false;
};
