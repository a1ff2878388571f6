// Runs a program to its end, collecting what it writes, and the HAR checker
// script on a written file.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProgramResult {
    int exitCode = -1;  // -1 when it could not start or did not exit normally
    std::string output; // standard output
    std::string errors; // standard error
};

// `arguments[0]` is looked up in PATH. `environment` entries ("NAME=value")
// are added to this process's environment, replacing those of the same name.
ProgramResult runProgram(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {});

struct HarCheck {
    bool ran = false;
    std::string problems;           // the checker's complaints; empty for a valid file
    std::vector<std::string> lines; // "<entry> <what> <value>"
    // Decoded bodies by entry number.
    std::map<int, std::string> contents;
    std::map<int, std::string> posts;

    // The lines of one entry starting with `what`, without the prefix.
    std::vector<std::string> facts(int entry, const std::string& what) const;
};

// Checks `harPath` against the HAR 1.2 structure with tests/support/har_check.py
// (python3) and reads back what it holds.
HarCheck checkHar(const std::string& harPath);
// Hex of the bytes, as the checker prints texts.
std::string hexOf(const std::string& bytes);
