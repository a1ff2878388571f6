// Files written whole or not at all.
#pragma once

#include "engine/Stream.h"

#include <functional>
#include <string>

// Creates the file at `path` through a temporary file beside it, readable by
// the user alone: `write` fills it, the bytes go to the disk, and only then
// does it take the place of `path`. When anything fails (lastError()),
// nothing is left behind and a file already at `path` is untouched.
bool writeNewFile(const std::string& path, const std::function<bool(OutputStream& out)>& write);
