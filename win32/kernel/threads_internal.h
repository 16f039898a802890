// Waiting and suspension helpers shared by the thread, event and queue
// parts of the kernel. Internal to win32_kernel.
//
// A thread stopped by SuspendThread may be stopped anywhere, including
// inside one of our own locked sections. So waits are futex-based (nothing
// is held while sleeping), and every short section that holds a lock other
// threads need runs shielded: the suspension is then taken right after the
// lock is released, never while it is held.
#pragma once

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <mutex>

#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "win32/types.h"

namespace win32::detail {

using FutexWord = std::atomic<uint32_t>;
static_assert(sizeof(FutexWord) == sizeof(uint32_t) && FutexWord::is_always_lock_free);

inline uint32_t* futex_address(FutexWord& word) { return reinterpret_cast<uint32_t*>(&word); }

// Sleeps while `word` still holds `expected`, until woken, a signal, or the
// absolute CLOCK_MONOTONIC `deadline` (null: no limit). Returns false only
// when the deadline has passed. Async-signal-safe apart from errno, which
// the caller saves where that matters.
inline bool futex_wait(FutexWord& word, uint32_t expected, const timespec* deadline = nullptr) {
    long rc = syscall(SYS_futex, futex_address(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG,
                      expected, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    return !(rc == -1 && errno == ETIMEDOUT);
}

inline void futex_wake(FutexWord& word, int count = INT_MAX) {
    syscall(SYS_futex, futex_address(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, count, nullptr,
            nullptr, 0);
}

inline timespec monotonic_now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

inline timespec add_ms(timespec t, uint64_t ms) {
    t.tv_sec += time_t(ms / 1000);
    t.tv_nsec += long(ms % 1000) * 1'000'000;
    if (t.tv_nsec >= 1'000'000'000) {
        t.tv_sec += 1;
        t.tv_nsec -= 1'000'000'000;
    }
    return t;
}

inline bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Waits until `ready()` holds, sleeping on `word` in between. `ready` must
// be true once whoever changes its inputs has also changed `word` and woken
// it. INFINITE waits for ever; returns false on timeout.
template <typename Ready>
bool wait_on(FutexWord& word, DWORD milliseconds, Ready ready) {
    constexpr DWORD kInfinite = 0xFFFFFFFFu;
    timespec deadline{};
    if (milliseconds != kInfinite) deadline = add_ms(monotonic_now(), milliseconds);
    for (;;) {
        uint32_t seen = word.load(std::memory_order_acquire);
        if (ready()) return true;
        if (milliseconds == 0) return false;
        if (milliseconds != kInfinite && !before(monotonic_now(), deadline)) return ready();
        futex_wait(word, seen, milliseconds == kInfinite ? nullptr : &deadline);
    }
}

// The real-time signal that stops a thread for SuspendThread.
int suspend_signal();

// Shielded sections the calling thread is in, and whether a suspension
// arrived during one: the signal handler then only notes it, and the
// thread parks when it leaves its outermost section. This defers the
// signal as blocking it would, without two system calls per section.
extern thread_local constinit int shield_depth __attribute__((tls_model("initial-exec")));
extern thread_local constinit volatile sig_atomic_t suspend_deferred
    __attribute__((tls_model("initial-exec")));
void take_deferred_suspension();

// Defers the suspend signal in the calling thread for its lifetime.
class SuspendShield {
public:
    SuspendShield() {
        ++shield_depth;
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    ~SuspendShield() {
        std::atomic_signal_fence(std::memory_order_seq_cst);
        if (--shield_depth == 0) {
            std::atomic_signal_fence(std::memory_order_seq_cst);
            if (suspend_deferred) take_deferred_suspension();
        }
    }
    SuspendShield(const SuspendShield&) = delete;
    SuspendShield& operator=(const SuspendShield&) = delete;
};

// A lock that cannot be held by a suspended thread: the shield is raised
// before the mutex is taken and dropped after it is released.
class ShieldedLock {
public:
    explicit ShieldedLock(std::mutex& mutex) : lock_(mutex) {}

private:
    SuspendShield shield_;
    std::lock_guard<std::mutex> lock_;
};

}  // namespace win32::detail
