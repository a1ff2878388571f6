// Small per-user configuration files read whole and replaced whole.
#pragma once

#include <string>
#include <sys/types.h>

// Failures return false with the reason in lastError().
class TextFile {
public:
    // Reads all of `path`; a missing file reads as empty with `exists`
    // false. Refuses what is not a regular file (EISDIR, EINVAL: a FIFO in
    // its place would stall the open) and what is larger than `maxSize`
    // (EFBIG), without reading it.
    static bool read(const std::string& path, off_t maxSize, std::string& text, bool& exists);
    // Replaces `path` through a synced temporary file and a rename, so that
    // no reader ever sees half a file. The new file has `mode`.
    static bool replace(const std::string& path, const std::string& text, mode_t mode);
    // Creates `folder` and its missing parents, each readable by the user
    // alone; an existing folder is fine.
    static bool makeFolders(const std::string& folder);
    // $XDG_CONFIG_HOME, else ~/.config, without a final "/".
    static std::string configFolder();
    // The folder part of `path` ("." when there is none).
    static std::string folderOf(const std::string& path);
};
