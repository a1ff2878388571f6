// Errors about a file or folder, naming it.
#pragma once

#include <cstdint>
#include <string>

// String-table text `textId` with its two "%s" filled by `path` and the
// errorText of `code`.
std::string pathErrorText(unsigned textId, const std::string& path, std::uint32_t code);
