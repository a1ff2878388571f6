#include "SmallDisk.h"

#include <sys/mount.h>

SmallDisk::SmallDisk(std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    mounted_ = ::mount("tmpfs", folder_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                       options.c_str()) == 0;
}

bool SmallDisk::remountReadOnly() {
    return mounted_ && ::mount("tmpfs", folder_.path().c_str(), "tmpfs",
                               MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_)
        ::umount2(folder_.path().c_str(), MNT_DETACH);
}
