// A value one thread writes while others read it.
#pragma once

#include <atomic>

// Reads and writes are atomic, and reading one looks like reading a plain
// value. A write publishes what the writer did before it (release), and a
// read sees at least that (acquire): a reader that sees a count of stored
// bytes finds those bytes in the cache file. The constructor is explicit so
// that a conditional between a plain value and this one reads the value.
template <typename T> class SharedValue {
public:
    SharedValue() = default;
    explicit SharedValue(T value) : value_(value) {}
    SharedValue(const SharedValue&) = delete;
    SharedValue& operator=(const SharedValue&) = delete;

    operator T() const { return value_.load(std::memory_order_acquire); }
    T load() const { return value_.load(std::memory_order_acquire); }
    SharedValue& operator=(T value) {
        value_.store(value, std::memory_order_release);
        return *this;
    }
    T operator+=(T value) { return value_.fetch_add(value, std::memory_order_acq_rel) + value; }
    T operator|=(T bits) { return value_.fetch_or(bits, std::memory_order_acq_rel) | bits; }
    T operator&=(T bits) { return value_.fetch_and(bits, std::memory_order_acq_rel) & bits; }

private:
    std::atomic<T> value_{};
};
