// The desktop's proxy settings while Tidewell captures: pointing them at our
// listener and back, the backup and crash flag that survive a crash, and
// telling Tidewell's own listeners from the user's proxies.
#pragma once

#include "sysproxy/ProxySettings.h"

#include <string>
#include <string_view>
#include <sys/types.h>

// The backup key (ProxySettings::kBackupKey) holds the user's settings as
// last read before a redirect, the crash flag as its default value (1 while a
// program runs), and a record of the redirect in force: "LocalProxy" (the
// address written) and "LocalProxyOwner" (the process that wrote it).
//
// Settings that point at a Tidewell listener, such as those a crash left
// behind, are never the user's: they are neither backed up nor asked for an
// upstream. A listener is recognised by a loopback host with a port of the
// range our listeners take (kFirstPort and up), or by the recorded address
// (any port given by hand).
class SystemProxy {
public:
    static constexpr int kFirstPort = 2861;
    static constexpr int kPortCount = 100;

    static bool isTidewellListener(std::string_view address);
    // Whether any entry of `settings`, enabled or not, is such a listener.
    static bool pointsAtTidewell(const ProxySettings& settings);
    // `settings` with every entry that is such a listener taken out.
    static ProxySettings withoutTidewell(const ProxySettings& settings);

    // The user's own settings: the desktop's as they are, or, where they
    // point at a Tidewell listener, the backup (when it is clean and from
    // the same desktop), or else the desktop's without those entries.
    static bool readUserSettings(ProxySettings& out);
    // Backs `user` up with a record of `address`, then applies a copy whose
    // http and https entries point at `address`. False (with lastError())
    // when applying fails; a failed backup alone does not stop capturing.
    static bool redirect(const ProxySettings& user, const std::string& address);
    // Gives `user` back after redirect(..., `address`) and drops the record.
    // Settings that now point at another Tidewell listener (a second
    // program capturing since) are left to that program.
    static bool restore(const ProxySettings& user, const std::string& address);

    // At program start: the user's settings into the backup, then the
    // crash flag set. False when either fails.
    static bool backUp();
    static bool crashFlag();
    static void clearCrashFlag();
    // Applies the backup (without any Tidewell listener in it) to the desktop
    // it came from and drops the record.
    static bool restoreBackup();
    // True when the desktop's settings point at a Tidewell listener that no
    // longer answers: what a crash without recovery leaves.
    static bool leftBehind();
    // True when they point at a Tidewell listener that answers: another
    // program captures now, and the crash flag is that run's.
    static bool heldByRunningCapture();

    // For the guardian of process `pid`, once it has ended: when its redirect
    // is still in force, applies the backup, drops the record and clears the
    // crash flag. `restored` tells whether it did. False when that failed.
    static bool recoverAfter(pid_t pid, bool& restored);
};
