// The temporary file a preview is shown from.
#pragma once

#include <string>

// Preview files hold decoded bodies (cookies, passwords): they live in a
// folder of the user's alone, $XDG_CACHE_HOME/Merovex/Tidewell/Preview/
// (0700), as "~<process id>-XXXXXX.tmp" (0600). The file is locked for as
// long as it is open, so a file left by a process that died (a crash, a kill)
// is told from one in use and removed by the next sweep, which every start
// of the preview runs.
class PreviewFile {
public:
    PreviewFile() = default;
    ~PreviewFile() { remove(); }
    PreviewFile(const PreviewFile&) = delete;
    PreviewFile& operator=(const PreviewFile&) = delete;

    // A new empty file, replacing (and removing) any earlier one; false when
    // it cannot be made (lastError()).
    bool create();
    // Removes the file, if any.
    void remove();
    // Empty when there is none.
    const std::string& path() const { return path_; }

    // The folder, ending in "/" (made when missing); empty when there is no
    // home to put it in.
    static std::string folder();
    // Deletes the preview files no living process holds.
    static void removeStale();

private:
    std::string path_;
    int fd_ = -1; // holds the lock
};
