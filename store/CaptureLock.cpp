#include "store/CaptureLock.h"

std::recursive_mutex& captureLock() {
    // Never destroyed: connection threads may still take it while static
    // objects are torn down at exit.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}
