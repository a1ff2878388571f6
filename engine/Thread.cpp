#include "engine/Thread.h"

#include "engine/Platform.h"

#include <atomic>

namespace {

std::atomic<std::uint32_t> nextThreadId{1};

void* threadEntry(void* argument) {
    static_cast<Runnable*>(argument)->run();
    return nullptr;
}

} // namespace

bool Thread::startRunnable(std::unique_ptr<Runnable> next) {
    runnable = std::move(next);
    pthread_t handle;
    // The runnable, not this object, is the argument: it stays alive until the
    // owner joins, while the Thread may be moved between owners' fields.
    const int error = pthread_create(&handle, nullptr, threadEntry, runnable.get());
    if (error != 0) {
        setLastError(static_cast<std::uint32_t>(error));
        return false;
    }
    threadHandle = handle;
    std::uint32_t id = nextThreadId.fetch_add(1);
    if (id == 0)
        id = nextThreadId.fetch_add(1);
    threadId = id;
    return true;
}

bool Thread::join() {
    if (threadId == 0)
        return false;
    pthread_join(threadHandle, nullptr);
    threadHandle = pthread_t{};
    threadId = 0;
    return true;
}
