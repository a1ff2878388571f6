#include "store/CaptureWriter.h"

void CaptureWriter::start() {
    std::lock_guard lock(mutex_);
    if (running_)
        return;
    running_ = true;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void CaptureWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return;
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lock(mutex_);
    running_ = false;
}

bool CaptureWriter::post(std::function<void()> job, std::size_t bytes) {
    bool wasEmpty;
    {
        std::lock_guard lock(mutex_);
        if (!running_ || stopping_ || jobs_.size() >= kMaxJobs ||
            (queuedBytes_ > 0 && queuedBytes_ + bytes > kMaxBytes))
            return false;
        wasEmpty = jobs_.empty();
        jobs_.emplace_back(std::move(job), bytes);
        queuedBytes_ += bytes;
    }
    // A writer with jobs left is awake and finds this one; waking it for
    // each would cost a switch per exchange.
    if (wasEmpty)
        wake_.notify_one();
    return true;
}

void CaptureWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping, and everything is written
        auto [job, bytes] = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
        queuedBytes_ -= bytes;
    }
}
