// The small threading kit of the proxy and its connections.
#pragma once

#include <cstdint>
#include <memory>
#include <pthread.h>

class Runnable {
public:
    virtual ~Runnable() = default;
    virtual void run() = 0;
};

// Calls a member function taking and returning nothing on an object it does
// not own.
template <class T> class RunnableMethod : public Runnable {
public:
    using Method = void (T::*)();
    RunnableMethod(Method method, T* object) : method(method), object(object) {}
    void run() override { (object->*method)(); }

    Method method;
    T* object;
};

// Owns what it runs, not the thread: owners join it (join) before they start
// it again or destroy it, since destruction neither waits nor detaches.
class Thread {
public:
    Thread() = default;
    virtual ~Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Replaces the runnable and starts a thread on it. False (reason in
    // lastError()) when the thread cannot be created; the new runnable stays
    // and the handle is left as it was.
    template <class T> bool start(T* object, void (T::*method)()) {
        return startRunnable(std::make_unique<RunnableMethod<T>>(method, object));
    }
    // Waits for the thread last started and clears handle and id; true when
    // there was one.
    bool join();
    bool hasHandle() const { return threadId != 0; }

    pthread_t threadHandle{};
    std::uint32_t threadId = 0; // 0 when there is no thread to join
    std::unique_ptr<Runnable> runnable;

private:
    bool startRunnable(std::unique_ptr<Runnable> next);
};
