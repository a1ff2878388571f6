// Hooks by which whole-program tests watch the running program.
#pragma once

// When the environment variable TIDEWELL_TEST_TRACE is set, writes
// "tidewell-<what>" as one line to standard error (start-up finished,
// commands from a second instance, ...). Test hook only; silent otherwise.
void traceEvent(const char* what);
