// The process-wide capture lock shared by connection threads and the
// user-interface thread.
#pragma once

#include <mutex>

// Re-entrant: a reader that holds it may open a cache file, which takes it
// again. It guards the sequence numbers, the document's resource list, its
// current resource, the walk over its listeners and every resource the
// document can see.
std::recursive_mutex& captureLock();

using CaptureLocker = std::lock_guard<std::recursive_mutex>;
