// Library-wide state of sonvex32 and the helpers every module shares.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "sonvex.h"
#include "win32/kernel.h"

namespace svx {

struct Library {
    std::atomic<bool> started{false};
    HANDLE foreground_thread = nullptr;  // real handle of the thread that started us

    // Clock base, fixed at load.
    bool high_resolution = false;
    int64_t counter_base = 0;
    int64_t counter_frequency = 1;

    char error_text[256] = {};
    std::atomic<int32_t> preferences[SVX_PREFERENCE_COUNT];

    // Trace log; written by the thread that makes the calls.
    FILE* log_file = nullptr;
    std::atomic<bool> log_enabled{false};
    bool log_nested = false;
    uint32_t log_start_ms = 0;

    // The library lock: a counter, never waited on.
    std::atomic<int32_t> lock_count{0};
};

// Constant-initialised, so that every call reaches it directly, without
// a guard or a function call.
extern constinit Library library_state;
inline Library& library() { return library_state; }

// Exported calls in progress on this thread's stack. Kept per thread so
// that background calls never disturb the nesting of the caller's trace.
// Initial-exec and constinit: one %fs-relative access, no wrapper call.
extern thread_local constinit int call_depth __attribute__((tls_model("initial-exec")));
// Non-zero while this thread runs background work (timer callbacks,
// output services).
extern thread_local constinit int background_count __attribute__((tls_model("initial-exec")));

void reset_preferences();
inline int32_t preference(int index) {
    return library().preferences[index].load(std::memory_order_relaxed);
}

// RAII form of the library lock for the library's own critical sections.
class LibraryLock {
public:
    LibraryLock() { library().lock_count.fetch_add(1, std::memory_order_acq_rel); }
    ~LibraryLock() { library().lock_count.fetch_sub(1, std::memory_order_acq_rel); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
};

// Marks the calling thread as doing background work for its lifetime.
class BackgroundWork {
public:
    BackgroundWork() { ++background_count; }
    ~BackgroundWork() { --background_count; }
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;
};

// Registers a callback in a record's slot and returns the one it replaces;
// a null record registers nothing.
template <typename Record, typename Callback>
Callback exchange_callback(Record* record, std::atomic<Callback> Record::*slot,
                           Callback callback) {
    return record ? (record->*slot).exchange(callback) : nullptr;
}

// Timer service, stopped by shutdown.
void stop_timer_service();

}  // namespace svx
