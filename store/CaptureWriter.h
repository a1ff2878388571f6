// The thread that puts finished captures into their cache files.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Creating a file can take milliseconds on a busy disk, and on one folder the
// creations queue behind each other: done by the connection that captured,
// it would hold up that client's next request and every other connection's
// file. Here they run one after another on a thread of their own, in the
// order the exchanges ended, while the connections relay on. The queue is
// bounded: when the disk falls that far behind, post refuses and the
// connection does its own writing, which slows it down to what the disk
// takes instead of letting memory grow.
class CaptureWriter {
public:
    CaptureWriter() = default;
    ~CaptureWriter() { stop(); }
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    void start();
    // Runs what is queued, then ends the thread.
    void stop();

    // Queues `job`, which holds `bytes` of memory until it has run. False
    // when the thread is not running or the queue is full: the caller runs
    // the job itself.
    bool post(std::function<void()> job, std::size_t bytes);

    static constexpr std::size_t kMaxJobs = 16384;
    static constexpr std::size_t kMaxBytes = 64u << 20;

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<std::function<void()>, std::size_t>> jobs_;
    std::size_t queuedBytes_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};
