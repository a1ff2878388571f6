// A D-Bus session bus of the test's own, set as this process's session bus.
// Meant as a namespace-scope object, like PrivateSettingsHome, so that GIO
// finds it at its first use of the session bus.
#pragma once

#include "support/ScopedDataHome.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/types.h>

class PrivateSessionBus {
public:
    PrivateSessionBus() {
        // --fork returns once the bus listens; it prints its address and pid.
        if (std::FILE* out = ::popen("dbus-daemon --session --fork --nopidfile "
                                     "--print-address=1 --print-pid=1 2>/dev/null",
                                     "r")) {
            char line[1024];
            if (std::fgets(line, sizeof line, out))
                address_ = trimmed(line);
            if (std::fgets(line, sizeof line, out))
                pid_ = static_cast<pid_t>(std::atol(line));
            ::pclose(out);
        }
        env_ = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS",
                                           address_.empty() ? nullptr : address_.c_str());
    }
    ~PrivateSessionBus() {
        if (pid_ > 0)
            ::kill(pid_, SIGTERM);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool ok() const { return !address_.empty() && pid_ > 0; }
    const std::string& address() const { return address_; }

private:
    static std::string trimmed(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return text;
    }

    std::string address_;
    pid_t pid_ = 0;
    std::unique_ptr<ScopedEnv> env_;
};
