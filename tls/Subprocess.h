// Running the helper programs HTTPS capture needs (certutil, the browsers)
// without a shell and without blocking on a full pipe.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Looks `name` up in PATH; empty when it is not there.
std::string findProgram(const std::string& name);

// Runs `arguments` (the first is the program, looked up in PATH) to the end
// with standard input from /dev/null and standard output and error collected
// in `output`. The exit status, or -1 (lastError()) when it could not run or
// was killed by a signal.
int runProgram(const std::vector<std::string>& arguments, std::string& output);

// Starts `arguments` and returns at once; with `ownSession` it runs in a
// session of its own (it outlives this process and its terminal). Each
// "NAME=value" of `environment` is set for it. -1 (lastError()) when it could
// not be started.
pid_t startProgram(const std::vector<std::string>& arguments, bool ownSession,
                   const std::vector<std::string>& environment = {});
