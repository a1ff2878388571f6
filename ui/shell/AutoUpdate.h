// The background update check and the uninstall notification: two HTTP/1.0
// exchanges with the vendor's web service, written directly against sockets.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

struct Url;

// One check per main frame. The thread touches only this object; it sets
// updateUrl and then available before it calls the notify function, and the
// destructor cancels and joins it, so notify never runs after destruction.
// Without Qt, so that it can be driven from any loop; UpdateNotifier turns
// the notification into a queued signal.
class AutoUpdate {
public:
    using Notify = std::function<void()>;

    AutoUpdate() = default;
    AutoUpdate(const AutoUpdate&) = delete;
    AutoUpdate& operator=(const AutoUpdate&) = delete;
    virtual ~AutoUpdate();

    // Starts the check thread against the check address (string 171 filled
    // with the two values). `notify` is called on the check thread, once,
    // only when the answer carried "Update-URL". False when nothing started.
    bool start(Notify notify, const std::string& productVersion, const std::string& userId);

    // Waits for the check to end by itself, without cancelling it.
    void wait();

    // A string-table web address with each "%s" replaced, in order, by the
    // given values.
    static std::string formatAddress(unsigned stringId, const std::string& first,
                                     const std::string& second = std::string());
    // The request head of both exchanges.
    static std::string requestText(const Url& url, const char* userAgent);
    // Sends string 173 with "User-Agent: Tidewell" and discards the answer.
    // Reports nothing; gives up after kUninstallTimeoutMs.
    static void sendUninstallNotification(const std::string& productVersion,
                                          const std::string& userId);

    // Where both exchanges connect: the vendor's host from the address, or,
    // when the environment variable TIDEWELL_UPDATE_SERVER holds "host:port",
    // that server (the Host field then names it too). An empty value turns
    // both exchanges off.
    static constexpr const char* kServerVariable = "TIDEWELL_UPDATE_SERVER";
    static constexpr int kUninstallTimeoutMs = 10000;

    std::atomic<bool> available{false};
    std::string updateUrl;

private:
    void run(const std::string& address);

    Notify notify_;
    std::thread thread_;
    int cancelFd_ = -1; // an eventfd, signalled to abort the check
};
