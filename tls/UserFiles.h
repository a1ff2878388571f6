// Small file operations of the HTTPS parts: folders only the user may enter,
// whole files written without ever leaving half of one.
#pragma once

#include <string>
#include <sys/types.h>

// Creates `path` and its missing parents, each 0700; an existing folder is
// fine. False with lastError().
bool createUserFolders(const std::string& path);
// The whole file (at most `limit` bytes; EFBIG beyond). False with lastError().
bool readWholeFile(const std::string& path, std::string& text, std::size_t limit = 1 << 20);
// Writes `text` under a temporary name beside `path` and renames it over
// `path`: readers see the old file or the new one, never a part.
bool writeWholeFile(const std::string& path, const std::string& text, mode_t mode);
// The user's home: $HOME when it is an absolute path, else the password
// database's; empty when neither says.
std::string userHomeFolder();
// Deletes `path` and everything below it without following links out of it.
void removeTree(const std::string& path);
