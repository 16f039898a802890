// The per-thread message queue and its timers.
//
// A queue belongs to one thread and is made the first time that thread
// uses it. Posted messages come first, then the quit request, then
// whatever the window system's idle source produces, and only then timers:
// a timer is a deadline, not a message, and becomes a WM_TIMER when its
// thread takes messages and nothing else is waiting, so it can never pile
// up. A thread blocked in GetMessageA sleeps on a futex word that every
// post, timer change and wake_thread bumps, with the next timer's due time
// as its deadline.
#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "threads_internal.h"
#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace win32::detail {
namespace {

constexpr size_t kMaxPosted = 10000;  // Windows' default quota per queue
constexpr DWORD kErrorNotEnoughQuota = 1816;
constexpr UINT kMinElapse = 10;           // USER_TIMER_MINIMUM
constexpr UINT kMaxElapse = 0x7FFFFFFFu;  // USER_TIMER_MAXIMUM
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

int64_t now_ns() {
    timespec t = monotonic_now();
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

timespec to_timespec(int64_t ns) {
    return timespec{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    TIMERPROC proc;
    int64_t period_ns;
    int64_t due_ns;
};

struct Queue {
    explicit Queue(DWORD thread_id) : owner(thread_id) {}

    // Makes a thread waiting in GetMessageA look again.
    void poke() {
        changes.fetch_add(1);
        futex_wake(changes);
    }

    const DWORD owner;
    std::mutex mutex;  // taken only through ShieldedLock
    std::deque<MSG> posted;
    std::vector<Timer> timers;
    bool quit = false;
    int quit_code = 0;
    FutexWord changes{0};
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
};

Registry& registry() {
    static auto* r = new Registry;  // threads may still post during exit
    return *r;
}

std::shared_ptr<Queue> find_queue(DWORD thread_id) {
    auto& r = registry();
    ShieldedLock lock(r.mutex);
    auto it = r.queues.find(thread_id);
    return it == r.queues.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Queue>> all_queues() {
    auto& r = registry();
    ShieldedLock lock(r.mutex);
    std::vector<std::shared_ptr<Queue>> out;
    out.reserve(r.queues.size());
    for (auto& entry : r.queues) out.push_back(entry.second);
    return out;
}

thread_local bool tls_queue_gone = false;

// The calling thread's queue leaves the registry when the thread ends, so
// posts to it fail from then on like posts to any unknown thread.
struct QueueOwner {
    std::shared_ptr<Queue> queue;
    ~QueueOwner() {
        tls_queue_gone = true;
        if (!queue) return;
        auto& r = registry();
        ShieldedLock lock(r.mutex);
        r.queues.erase(queue->owner);
    }
};

// Null only at thread exit or without memory.
Queue* own_queue() {
    static thread_local QueueOwner owner;
    if (owner.queue || tls_queue_gone) return owner.queue.get();
    try {
        auto queue = std::make_shared<Queue>(GetCurrentThreadId());
        auto& r = registry();
        ShieldedLock lock(r.mutex);
        r.queues[queue->owner] = queue;
        owner.queue = std::move(queue);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return owner.queue.get();
}

// ---- The window system's seams ------------------------------------------

struct Seams {
    std::mutex mutex;
    std::shared_ptr<const WindowDispatcher> dispatcher;
    std::shared_ptr<const GetMessageHook> hook;
    std::shared_ptr<const IdleSource> idle;
};

Seams& seams() {
    static auto* s = new Seams;
    return *s;
}

// Copies out under the lock, so that callbacks run without it.
template <typename T>
std::shared_ptr<const T> load(std::shared_ptr<const T> Seams::*slot) {
    auto& s = seams();
    ShieldedLock lock(s.mutex);
    return s.*slot;
}

template <typename T>
void store(std::shared_ptr<const T> Seams::*slot, T value) {
    std::shared_ptr<const T> replacement;
    if (value) replacement = std::make_shared<const T>(std::move(value));
    auto& s = seams();
    ShieldedLock lock(s.mutex);
    (s.*slot).swap(replacement);
}  // the old one goes here, outside the lock

// ---- Taking messages ----------------------------------------------------

struct Filter {
    HWND hwnd;
    UINT min;
    UINT max;

    bool wants(HWND message_hwnd, UINT message) const {
        if (hwnd == kThreadMessagesOnly) {
            if (message_hwnd) return false;
        } else if (hwnd && message_hwnd != hwnd) {
            return false;
        }
        if (min == 0 && max == 0) return true;
        // A reversed range is Windows' way of excluding the middle.
        return min <= max ? (message >= min && message <= max)
                          : (message >= min || message <= max);
    }
};

// Called with the queue locked.
bool take_posted(Queue& q, MSG& out, const Filter& filter, bool remove) {
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (!filter.wants(it->hwnd, it->message)) continue;
        out = *it;
        if (remove) q.posted.erase(it);
        return true;
    }
    return false;
}

// The next message for the calling thread, if any. Otherwise `next_due_ns`
// gets the due time of the first timer the filter lets through (-1: none).
bool take(Queue& q, MSG& out, const Filter& filter, bool remove, int64_t& next_due_ns) {
    next_due_ns = -1;
    {
        ShieldedLock lock(q.mutex);
        if (take_posted(q, out, filter, remove)) return true;
        if (q.quit) {
            // Whatever the filter: a quit request is never held back.
            out = MSG{nullptr, WM_QUIT, WPARAM(q.quit_code), 0, GetTickCount(), {}};
            if (remove) q.quit = false;
            return true;
        }
    }
    if (auto source = load(&Seams::idle)) {
        MSG made{};
        if ((*source)(made)) {
            // Queued rather than returned, so that a filter or PM_NOREMOVE
            // treats it like any other message.
            ShieldedLock lock(q.mutex);
            q.posted.push_back(made);
            if (take_posted(q, out, filter, remove)) return true;
        }
    }
    ShieldedLock lock(q.mutex);
    Timer* first = nullptr;
    for (Timer& t : q.timers) {
        if (filter.wants(t.hwnd, WM_TIMER) && (!first || t.due_ns < first->due_ns)) first = &t;
    }
    if (!first) return false;
    int64_t now = now_ns();
    if (first->due_ns > now) {
        next_due_ns = first->due_ns;
        return false;
    }
    out = MSG{first->hwnd, WM_TIMER, first->id, reinterpret_cast<LPARAM>(first->proc),
              GetTickCount(), {}};
    // Counted from delivery: a late thread gets one WM_TIMER, not a burst.
    if (remove) first->due_ns = now + first->period_ns;
    return true;
}

void after_removal(MSG& message) {
    if (auto hook = load(&Seams::hook)) (*hook)(message);
}

// The timer with this window and id: in the calling thread's queue first,
// then in any other (a window's timer can be replaced or killed from
// anywhere). Null when there is none; `owner` gets its queue and `lock`
// its lock. The caller holds a SuspendShield.
Timer* locate(HWND hwnd, UINT_PTR id, Queue* own, std::shared_ptr<Queue>& owner,
              std::unique_lock<std::mutex>& lock) {
    auto search = [&](Queue& q) -> Timer* {
        std::unique_lock<std::mutex> held(q.mutex);
        for (Timer& t : q.timers) {
            if (t.hwnd == hwnd && t.id == id) {
                lock = std::move(held);
                return &t;
            }
        }
        return nullptr;
    };
    if (own && (owner = find_queue(own->owner))) {
        if (Timer* t = search(*owner)) return t;
    }
    for (auto& q : all_queues()) {
        if (q.get() == own) continue;
        if (Timer* t = search(*q)) {
            owner = q;
            return t;
        }
    }
    owner.reset();
    return nullptr;
}

UINT_PTR fresh_timer_id() {
    // Never 0, never reused in practice, and the same series for every
    // thread so that KillTimer(NULL, id) names one timer.
    static std::atomic<UINT_PTR> next{1};
    UINT_PTR id;
    while ((id = next.fetch_add(1)) == 0) {
    }
    return id;
}

}  // namespace
}  // namespace win32::detail

namespace win32 {

using namespace win32::detail;

void set_window_dispatcher(WindowDispatcher dispatcher) {
    store(&Seams::dispatcher, std::move(dispatcher));
}

void set_get_message_hook(GetMessageHook hook) { store(&Seams::hook, std::move(hook)); }

void set_idle_source(IdleSource source) { store(&Seams::idle, std::move(source)); }

void wake_thread(DWORD thread_id) {
    if (auto q = find_queue(thread_id)) q->poke();
}

}  // namespace win32

using namespace win32::detail;

extern "C" {

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    auto q = find_queue(idThread);
    if (!q) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    try {
        ShieldedLock lock(q->mutex);
        if (q->posted.size() >= kMaxPosted) {
            SetLastError(kErrorNotEnoughQuota);
            return FALSE;
        }
        q->posted.push_back(MSG{nullptr, Msg, wParam, lParam, GetTickCount(), {}});
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    q->poke();
    return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    Queue* q = own_queue();
    if (!q) return -1;
    const Filter filter{hWnd, wMsgFilterMin, wMsgFilterMax};
    try {
        for (;;) {
            // Read before looking, so a change made after the look still
            // wakes the wait below.
            uint32_t seen = q->changes.load();
            int64_t due = -1;
            if (take(*q, *lpMsg, filter, true, due)) break;
            timespec deadline = to_timespec(due);
            futex_wait(q->changes, seen, due >= 0 ? &deadline : nullptr);
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    after_removal(*lpMsg);
    return lpMsg->message == WM_QUIT ? 0 : 1;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Queue* q = own_queue();
    if (!q) return FALSE;
    const bool remove = (wRemoveMsg & PM_REMOVE) != 0;
    int64_t due = -1;
    try {
        if (!take(*q, *lpMsg, Filter{hWnd, wMsgFilterMin, wMsgFilterMax}, remove, due))
            return FALSE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (remove) after_removal(*lpMsg);
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg) return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam) {
        // Only the procedure of a live timer of this thread is called: a
        // posted WM_TIMER with a made-up address must not be jumped to.
        auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        bool live = false;
        if (Queue* q = own_queue()) {
            ShieldedLock lock(q->mutex);
            live = std::any_of(q->timers.begin(), q->timers.end(), [&](const Timer& t) {
                return t.hwnd == lpMsg->hwnd && t.id == lpMsg->wParam && t.proc == proc;
            });
        }
        if (live) proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    if (!lpMsg->hwnd) return 0;
    auto dispatcher = load(&Seams::dispatcher);
    if (!dispatcher) return 0;
    try {
        return (*dispatcher)(*lpMsg);
    } catch (...) {
        // Window procedures deal with their own failures; none may unwind
        // into the caller's C message loop.
        return 0;
    }
}

void WINAPI PostQuitMessage(int nExitCode) {
    Queue* q = own_queue();
    if (!q) return;
    {
        ShieldedLock lock(q->mutex);
        q->quit = true;
        q->quit_code = nExitCode;
    }
    q->poke();
}

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    Queue* own = own_queue();
    if (!own) return 0;
    const int64_t period_ns = int64_t(std::clamp(uElapse, kMinElapse, kMaxElapse)) * 1'000'000;
    try {
        // An existing timer of the same window and id is replaced in place;
        // without a window only the calling thread's timers are candidates.
        {
            SuspendShield shield;  // outlives the lock
            std::shared_ptr<Queue> owner;
            std::unique_lock<std::mutex> lock;
            Timer* t = hWnd ? locate(hWnd, nIDEvent, own, owner, lock) : nullptr;
            if (!hWnd && nIDEvent) {
                lock = std::unique_lock<std::mutex>(own->mutex);
                for (Timer& candidate : own->timers)
                    if (!candidate.hwnd && candidate.id == nIDEvent) t = &candidate;
                if (!t) lock.unlock();
            }
            if (t) {
                t->proc = lpTimerFunc;
                t->period_ns = period_ns;
                t->due_ns = now_ns() + period_ns;
                lock.unlock();
                if (owner) owner->poke();
                return hWnd ? (nIDEvent ? nIDEvent : 1) : nIDEvent;
            }
        }
        const UINT_PTR id = hWnd ? nIDEvent : fresh_timer_id();
        {
            ShieldedLock lock(own->mutex);
            own->timers.push_back(Timer{hWnd, id, lpTimerFunc, period_ns, now_ns() + period_ns});
        }
        own->poke();
        // With a window the caller already knows the id; only 0 would read
        // as failure.
        return hWnd && id == 0 ? 1 : id;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    try {
        SuspendShield shield;  // outlives the lock
        std::shared_ptr<Queue> owner;
        std::unique_lock<std::mutex> lock;
        Timer* t = locate(hWnd, uIDEvent, own_queue(), owner, lock);
        if (!t) {
            SetLastError(ERROR_INVALID_TIMER_ID);
            return FALSE;
        }
        auto& timers = owner->timers;
        timers.erase(timers.begin() + (t - timers.data()));
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

}  // extern "C"
