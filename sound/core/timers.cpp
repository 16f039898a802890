// Timer handles and the background service thread that runs them.
#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

#include "ops.h"
#include "state.h"
#include "timers.h"
#include "win32/kernel.h"

namespace svx {
namespace {

struct TimerEntry {
    std::atomic<int32_t> state{0};  // 0 free, 1 stopped, 2 running
    std::atomic<SVXTIMERCB> callback{nullptr};
    std::atomic<uintptr_t> user{0};
    std::atomic<int64_t> elapsed{0};  // microseconds towards the next call
    std::atomic<int32_t> period{10000};
};

struct Service {
    std::atomic<TimerEntry*> table{nullptr};
    int32_t count = 0;
    HANDLE thread = nullptr;
    HANDLE stop_event = nullptr;
    uint32_t last_tick_ms = 0;
    bool ticked = false;
    std::atomic<int32_t> loop_entries{0};
    std::atomic<int32_t> tick_entries{0};
    // The timer whose callback the tick is running, -1 between callbacks.
    std::atomic<int32_t> in_callback{-1};
};

Service& service() {
    static Service s;
    return s;
}

TimerEntry* entry(HSVXTIMER timer) {
    Service& s = service();
    TimerEntry* table = s.table.load(std::memory_order_acquire);
    if (!table || timer < 0 || timer >= s.count) return nullptr;
    return &table[timer];
}

// A period below 1 us would make the catch-up loop of a tick endless.
int32_t sane_period(int64_t microseconds) {
    return int32_t(std::clamp<int64_t>(microseconds, 1, INT32_MAX));
}

DWORD WINAPI service_thread(LPVOID) {
    Service& s = service();
    for (;;) {
        int32_t period = preference(SVX_PREF_SERVICE_PERIOD_MS);
        DWORD wait = WaitForSingleObject(s.stop_event, DWORD(std::max<int32_t>(period, 1)));
        if (wait != WAIT_TIMEOUT) break;
        if (s.loop_entries.fetch_add(1) == 0) service_tick(op::SVX_ms_count());
        s.loop_entries.fetch_sub(1);
    }
    return 0;
}

}  // namespace

void service_tick(uint32_t now) {
    Service& s = service();
    Library& lib = library();

    HANDLE foreground = lib.foreground_thread;
    bool suspended = false;
    if (preference(SVX_PREF_SUSPEND_FOREGROUND) != 0 && foreground) {
        if (SuspendThread(foreground) == DWORD(-1)) return;
        suspended = true;
    }

    const bool first = s.tick_entries.fetch_add(1) == 0;
    TimerEntry* table = s.table.load(std::memory_order_acquire);
    if (table && first && lib.lock_count.load(std::memory_order_acquire) <= 0) {
        BackgroundWork background;
        uint32_t step_ms = s.ticked ? std::min<uint32_t>(now - s.last_tick_ms, 100) : 0;
        s.ticked = true;
        s.last_tick_ms = now;
        const int64_t step = int64_t(step_ms) * 1000;
        for (int32_t i = 0; i < s.count; ++i) {
            TimerEntry& t = table[i];
            if (t.state.load(std::memory_order_relaxed) != 2) continue;
            int64_t elapsed = t.elapsed.load(std::memory_order_relaxed) + step;
            // A callback that stops or releases its timer ends the catch-up.
            while (t.state.load(std::memory_order_relaxed) == 2) {
                int32_t period = t.period.load(std::memory_order_relaxed);
                if (elapsed < period) break;
                elapsed -= period;
                t.elapsed.store(elapsed, std::memory_order_relaxed);
                if (SVXTIMERCB cb = t.callback.load(std::memory_order_relaxed)) {
                    s.in_callback.store(i, std::memory_order_seq_cst);
                    if (t.state.load(std::memory_order_seq_cst) == 2)
                        cb(t.user.load(std::memory_order_relaxed));
                    s.in_callback.store(-1, std::memory_order_release);
                }
                elapsed = t.elapsed.load(std::memory_order_relaxed);
            }
            t.elapsed.store(elapsed, std::memory_order_relaxed);
        }
    }
    s.tick_entries.fetch_sub(1);
    if (suspended) ResumeThread(foreground);
}

void stop_timer_service() {
    Service& s = service();
    if (!s.table.load(std::memory_order_acquire)) return;
    ::SVX_release_all_timers();
    SetEvent(s.stop_event);
    WaitForSingleObject(s.thread, INFINITE);
    CloseHandle(s.thread);
    CloseHandle(s.stop_event);
    s.thread = s.stop_event = nullptr;
    TimerEntry* table = s.table.exchange(nullptr, std::memory_order_acq_rel);
    delete[] table;
    s.count = 0;
    s.ticked = false;
    s.last_tick_ms = 0;
}

namespace op {

HSVXTIMER SVX_register_timer(SVXTIMERCB callback) {
    Service& s = service();
    if (!s.table.load(std::memory_order_acquire)) {
        int32_t count = preference(SVX_PREF_TIMER_HANDLES);
        if (count <= 0) return -1;
        TimerEntry* table = new (std::nothrow) TimerEntry[size_t(count)];
        if (!table) return -1;
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!stop) {
            delete[] table;
            return -1;
        }
        s.count = count;
        s.stop_event = stop;
        s.table.store(table, std::memory_order_release);
        s.thread = CreateThread(nullptr, 0, service_thread, nullptr, 0, nullptr);
        if (!s.thread) {
            s.table.store(nullptr, std::memory_order_release);
            delete[] table;
            CloseHandle(stop);
            s.stop_event = nullptr;
            s.count = 0;
            return -1;
        }
        SetThreadPriority(s.thread, THREAD_PRIORITY_TIME_CRITICAL);
    }
    TimerEntry* table = s.table.load(std::memory_order_acquire);
    for (int32_t i = 0; i < s.count; ++i) {
        int32_t expected = 0;
        if (table[i].state.load() != 0) continue;
        table[i].callback.store(callback, std::memory_order_relaxed);
        table[i].period.store(10000, std::memory_order_relaxed);
        table[i].elapsed.store(0, std::memory_order_relaxed);
        if (table[i].state.compare_exchange_strong(expected, 1)) return i;
    }
    return -1;
}

uintptr_t SVX_set_timer_user(HSVXTIMER timer, uintptr_t user) {
    TimerEntry* t = entry(timer);
    return t ? t->user.exchange(user, std::memory_order_relaxed) : 0;
}

void SVX_set_timer_period(HSVXTIMER timer, uint32_t microseconds) {
    TimerEntry* t = entry(timer);
    if (!t) return;
    LibraryLock lock;
    t->elapsed.store(0, std::memory_order_relaxed);
    t->period.store(sane_period(microseconds), std::memory_order_relaxed);
}

void SVX_set_timer_frequency(HSVXTIMER timer, uint32_t hertz) {
    if (hertz == 0) return;  // no period fits; keep the current one
    SVX_set_timer_period(timer, 1000000u / hertz);
}

void SVX_set_timer_divisor(HSVXTIMER timer, uint32_t divisor) {
    // A divisor of the 1,193,180 Hz clock; 0 stands for 65,536.
    SVX_set_timer_period(timer, divisor == 0 ? 54925u : uint32_t(uint64_t(divisor) * 10000 / 11932));
}

void SVX_start_timer(HSVXTIMER timer) {
    if (TimerEntry* t = entry(timer)) {
        int32_t stopped = 1;
        t->state.compare_exchange_strong(stopped, 2);
    }
}

void SVX_stop_timer(HSVXTIMER timer) {
    if (TimerEntry* t = entry(timer)) {
        int32_t running = 2;
        t->state.compare_exchange_strong(running, 1);
    }
}

void SVX_release_timer_handle(HSVXTIMER timer) {
    TimerEntry* t = entry(timer);
    if (!t) return;
    t->state.store(0, std::memory_order_seq_cst);
    // Once this returns the callback is not running and will not run again,
    // so its owner may free what the user value points to. The service
    // thread itself (a callback releasing a timer) never waits.
    if (background_count == 0)
        while (service().in_callback.load(std::memory_order_seq_cst) == timer) SwitchToThread();
}

void SVX_start_all_timers() {
    for (int32_t i = 0; i < service().count; ++i) ::SVX_start_timer(i);
}
void SVX_stop_all_timers() {
    for (int32_t i = 0; i < service().count; ++i) ::SVX_stop_timer(i);
}
void SVX_release_all_timers() {
    for (int32_t i = 0; i < service().count; ++i) ::SVX_release_timer_handle(i);
}

}  // namespace op
}  // namespace svx
