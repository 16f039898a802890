// Events, sleeping and the interlocked operations.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include <sched.h>
#include <time.h>

#include "handles.h"
#include "threads_internal.h"
#include "win32/kernel.h"

namespace win32::detail {
namespace {

// The state is the futex word itself, so waiting holds no lock that a
// suspended thread could be keeping from the thread that sets the event.
struct Event final : KernelObject {
    Event(bool manual_reset, bool initial) : manual(manual_reset), signalled(initial ? 1 : 0) {}

    DWORD wait(DWORD milliseconds) override {
        bool got = wait_on(signalled, milliseconds, [&] {
            if (manual) return signalled.load() != 0;
            uint32_t expected = 1;
            return signalled.compare_exchange_strong(expected, 0);  // takes it
        });
        return got ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

    void set() {
        signalled.store(1);
        // All waiters re-check; for an auto-reset event one of them wins it.
        futex_wake(signalled);
    }

    void reset() { signalled.store(0); }

    const bool manual;
    FutexWord signalled;
};

// Named events live as long as a handle to them is open.
struct Names {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<Event>> events;
};

Names& names() {
    static auto* n = new Names;
    return *n;
}

}  // namespace
}  // namespace win32::detail

using namespace win32::detail;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName) {
    (void)lpEventAttributes;
    try {
        if (!lpName || !*lpName)
            return add_handle(std::make_shared<Event>(bManualReset, bInitialState));

        std::shared_ptr<Event> event;
        bool existed = false;
        {
            auto& n = names();
            ShieldedLock lock(n.mutex);
            std::erase_if(n.events, [](const auto& entry) { return entry.second.expired(); });
            auto& slot = n.events[lpName];
            event = slot.lock();
            existed = event != nullptr;
            if (!event) {
                event = std::make_shared<Event>(bManualReset, bInitialState);
                slot = event;
            }
        }
        HANDLE handle = add_handle(std::move(event));
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    auto event = find_as<Event>(hEvent);
    if (!event) return FALSE;
    event->set();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
    auto event = find_as<Event>(hEvent);
    if (!event) return FALSE;
    event->reset();
    return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;) pause();
    }
    // Absolute, so that being suspended or signalled midway does not add to
    // the time asleep.
    timespec deadline = add_ms(monotonic_now(), dwMilliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

BOOL WINAPI SwitchToThread(void) { return sched_yield() == 0; }

LONG WINAPI InterlockedIncrement(LONG volatile* Addend) {
    if (!Addend) return 0;
    return std::atomic_ref<LONG>(const_cast<LONG&>(*Addend)).fetch_add(1) + 1;
}

LONG WINAPI InterlockedDecrement(LONG volatile* Addend) {
    if (!Addend) return 0;
    return std::atomic_ref<LONG>(const_cast<LONG&>(*Addend)).fetch_sub(1) - 1;
}

LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value) {
    if (!Target) return 0;
    return std::atomic_ref<LONG>(const_cast<LONG&>(*Target)).exchange(Value);
}

}  // extern "C"
