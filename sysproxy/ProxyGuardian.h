// A small process that gives the user's proxy settings back at once when
// the program that redirected them dies without doing so (kill -9, abort,
// out of memory).
#pragma once

// The guardian is forked from the program and watches it through a pipe:
// the program holds the only writing end, so the guardian reads end-of-file
// exactly when the program has ended, however it ended. It then asks
// SystemProxy::recoverAfter for the program's process: a program that
// restored the settings itself has dropped its record, and one whose
// redirect has been replaced by a second instance's is no longer the
// owner, so neither is touched. The guardian leaves the terminal's process
// group and ignores termination signals, so that Ctrl+C or a hang-up that
// ends the program does not end its guardian first; it never outlives the
// program by more than that check.
class ProxyGuardian {
public:
    // Starts the guardian of this process. Call it once, before any other
    // thread starts and before GIO is used: the guardian runs on a copy of
    // this process as it is then. False when it could not be started;
    // capturing works without it, only the immediate recovery is missing.
    static bool start();
    // The guardian's process id, 0 when none runs.
    static int pid();
};
