// Threads: creation, ids, priorities, handles that name threads, and real
// suspension.
//
// Suspension. SuspendThread raises the target's suspend count and, unless
// the target is already parked, sends it a real-time signal; the handler
// parks the thread on a futex until the count is back to 0. The count and a
// "parked" bit share one futex word, so the suspender can wait for the
// acknowledgement and the handler can decide to leave without a lock. A
// second word counts suspenders that are about to signal; a thread at its
// end clears its "alive" bit and waits for them to finish, so no signal is
// ever sent to a thread that has gone. Between the signal and the
// acknowledgement the suspender only touches atomics and makes futex and
// tgkill calls.
//
// Handles. Each handle naming a thread is a small object of its own, kept
// in a list that SuspendThread and ResumeThread search under a lock taken
// shielded from suspension. So neither ever needs the general handle
// table, whose lock a suspended thread may hold.
#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include "handles.h"
#include "threads_internal.h"
#include "win32/kernel.h"

namespace win32::detail {
namespace {

constexpr uint32_t kParked = 1u << 31;  // in ThreadState::suspend
constexpr uint32_t kCountMask = kParked - 1;
constexpr uint32_t kAlive = 1u << 31;  // in ThreadState::life
constexpr uint32_t kMaxSuspendCount = 127;  // MAXIMUM_SUSPEND_COUNT
constexpr DWORD kErrorSignalRefcountExceeded = 159;
constexpr int kPriorityErrorReturn = INT_MAX;  // THREAD_PRIORITY_ERROR_RETURN
constexpr DWORD kFailed = 0xFFFFFFFFu;

struct ThreadState {
    explicit ThreadState(DWORD thread_id) : id(thread_id) {}

    const DWORD id;
    std::atomic<pid_t> tid{0};
    FutexWord suspend{0};  // suspend count | kParked
    FutexWord life{0};     // kAlive | suspenders in the middle of signalling
    FutexWord ready{0};    // set once a new thread can be signalled
    FutexWord finished{0};
    std::atomic<DWORD> exit_code{STILL_ACTIVE};
    std::atomic<int> priority{THREAD_PRIORITY_NORMAL};
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
};

// Read by the signal handler, so it must not need a lazy TLS allocation.
thread_local ThreadState* tls_self __attribute__((tls_model("initial-exec"))) = nullptr;
// Kept after the thread's state is torn down, for thread-local destructors
// that still ask for the id.
thread_local DWORD tls_id = 0;
thread_local bool tls_retired = false;

DWORD new_thread_id() {
    // Multiples of 4 like Windows', small and never reused.
    static std::atomic<DWORD> next{4};
    return next.fetch_add(4);
}

pid_t kernel_tid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// ---- Parking (async-signal-safe) ----------------------------------------

void park(ThreadState& self) {
    self.suspend.fetch_or(kParked);
    futex_wake(self.suspend);  // the acknowledgement
    for (;;) {
        uint32_t word = self.suspend.load();
        if ((word & kCountMask) == 0) {
            // Leaving must not race a suspender that has just counted on the
            // parked bit: the exchange fails if the count moved meanwhile.
            if (self.suspend.compare_exchange_weak(word, word & ~kParked)) return;
            continue;
        }
        futex_wait(self.suspend, word);
    }
}

extern "C" void on_suspend_signal(int) {
    int saved = errno;
    if (shield_depth > 0)
        suspend_deferred = 1;
    else if (ThreadState* self = tls_self)
        park(*self);
    errno = saved;
}

bool enter_signaller(ThreadState& target) {
    uint32_t word = target.life.load();
    do {
        if (!(word & kAlive)) return false;
    } while (!target.life.compare_exchange_weak(word, word + 1));
    return true;
}

void leave_signaller(ThreadState& target) {
    if (target.life.fetch_sub(1) - 1 == 0) futex_wake(target.life);
}

void unblock_suspend_signal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, suspend_signal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// ---- Life of a thread ---------------------------------------------------

// Runs on the thread itself, before anyone may signal it.
void begin(ThreadState& self) {
    self.tid.store(kernel_tid());
    tls_self = &self;
    tls_id = self.id;
    unblock_suspend_signal();
    self.life.fetch_or(kAlive);
}

// Runs on the thread itself at its end: after this it cannot be signalled,
// and waits on its handles are over.
void end(ThreadState& self, DWORD exit_code) {
    if (tls_self != &self) return;
    self.exit_code.store(exit_code);
    // A suspender already signalling gets its acknowledgement (the signal
    // must be deliverable for that); later ones see the thread has gone.
    unblock_suspend_signal();
    self.life.fetch_and(~kAlive);
    for (uint32_t word; (word = self.life.load()) != 0;) futex_wait(self.life, word);
    tls_self = nullptr;
    tls_retired = true;
    self.finished.store(1);
    futex_wake(self.finished);
}

// Owns the state of the calling thread; ends a thread not made by
// CreateThread (the main thread, library threads) at its thread exit.
struct Adoption {
    std::shared_ptr<ThreadState> state;
    ~Adoption() {
        if (state) end(*state, 0);
    }
};

Adoption& adoption() {
    static thread_local Adoption a;
    return a;
}

// Null once the thread has ended (its adoption may be gone already), or if
// there is no memory for it.
std::shared_ptr<ThreadState> current_state() {
    if (tls_retired) return nullptr;
    Adoption& a = adoption();
    if (!a.state) {
        try {
            auto state = std::make_shared<ThreadState>(new_thread_id());
            begin(*state);
            a.state = std::move(state);
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    return a.state;
}

void* thread_main(void* arg) {
    std::shared_ptr<ThreadState> state;
    {
        std::unique_ptr<std::shared_ptr<ThreadState>> handed(
            static_cast<std::shared_ptr<ThreadState>*>(arg));
        state = *handed;
    }
    adoption().state = state;
    begin(*state);
    state->ready.store(1);
    futex_wake(state->ready);
    if (state->suspend.load() & kCountMask) park(*state);  // CREATE_SUSPENDED
    DWORD code = state->start(state->parameter);
    end(*state, code);
    return nullptr;
}

// ---- Suspend and resume -------------------------------------------------

// Lowers the count by one; the thread runs again when it reaches 0.
DWORD release(ThreadState& target) {
    uint32_t word = target.suspend.load();
    do {
        if ((word & kCountMask) == 0) return 0;
    } while (!target.suspend.compare_exchange_weak(word, word - 1));
    if ((word & kCountMask) == 1) futex_wake(target.suspend);
    return word & kCountMask;
}

DWORD suspend(ThreadState& target) {
    uint32_t word = target.suspend.load();
    do {
        if ((word & kCountMask) >= kMaxSuspendCount) {
            SetLastError(kErrorSignalRefcountExceeded);
            return kFailed;
        }
    } while (!target.suspend.compare_exchange_weak(word, word + 1));
    const DWORD previous = word & kCountMask;

    if (&target == tls_self) {
        park(target);  // until another thread resumes us
        return previous;
    }
    // Parked already: our count keeps it there.
    if (word & kParked) return previous;

    if (!enter_signaller(target)) {
        release(target);
        SetLastError(ERROR_ACCESS_DENIED);
        return kFailed;
    }
    bool sent = syscall(SYS_tgkill, getpid(), target.tid.load(), suspend_signal()) == 0;
    if (sent) {
        // Until the handler has parked (or a racing resume made the count
        // 0 again). Nothing here may block on anything the target holds.
        wait_on(target.suspend, INFINITE, [&] {
            uint32_t now = target.suspend.load();
            return (now & kParked) || (now & kCountMask) == 0;
        });
    }
    leave_signaller(target);
    if (!sent) {
        release(target);
        SetLastError(ERROR_ACCESS_DENIED);
        return kFailed;
    }
    return previous;
}

// ---- Handles naming threads ---------------------------------------------

struct ThreadHandle;

struct HandleList {
    std::mutex mutex;
    ThreadHandle* head = nullptr;
};

HandleList& handle_list() {
    static auto* list = new HandleList;  // used by threads still running at exit
    return *list;
}

struct ThreadHandle final : KernelObject {
    explicit ThreadHandle(std::shared_ptr<ThreadState> s) : state(std::move(s)) {}
    ~ThreadHandle() override;

    DWORD wait(DWORD milliseconds) override {
        bool done = wait_on(state->finished, milliseconds,
                            [&] { return state->finished.load() != 0; });
        return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

    const std::shared_ptr<ThreadState> state;
    uintptr_t value = 0;  // the handle, once listed
    ThreadHandle* next = nullptr;
};

ThreadHandle::~ThreadHandle() {
    if (!value) return;
    auto& list = handle_list();
    ShieldedLock lock(list.mutex);
    for (ThreadHandle** link = &list.head; *link; link = &(*link)->next) {
        if (*link == this) {
            *link = next;
            break;
        }
    }
}

HANDLE issue_handle(std::shared_ptr<ThreadState> state) {
    auto object = std::make_shared<ThreadHandle>(std::move(state));
    HANDLE handle = add_handle(object);
    auto& list = handle_list();
    ShieldedLock lock(list.mutex);
    object->value = reinterpret_cast<uintptr_t>(handle);
    object->next = list.head;
    list.head = object.get();
    return handle;
}

// The thread a handle names, without the general handle table.
std::shared_ptr<ThreadState> thread_of(HANDLE handle) {
    if (handle == kCurrentThread) return current_state();
    std::shared_ptr<ThreadState> found;
    {
        auto& list = handle_list();
        ShieldedLock lock(list.mutex);
        for (ThreadHandle* h = list.head; h; h = h->next) {
            if (h->value == reinterpret_cast<uintptr_t>(handle)) {
                found = h->state;
                break;
            }
        }
    }
    if (!found) SetLastError(ERROR_INVALID_HANDLE);
    return found;
}

// The process handle DuplicateHandle makes from GetCurrentProcess(): the
// process cannot end while its own threads wait on it.
struct ProcessObject final : KernelObject {
    DWORD wait(DWORD milliseconds) override {
        FutexWord never{0};
        wait_on(never, milliseconds, [] { return false; });
        return WAIT_TIMEOUT;
    }
};

// ---- Priorities ---------------------------------------------------------

bool valid_priority(int priority) {
    switch (priority) {
        case THREAD_PRIORITY_IDLE:
        case THREAD_PRIORITY_LOWEST:
        case THREAD_PRIORITY_BELOW_NORMAL:
        case THREAD_PRIORITY_NORMAL:
        case THREAD_PRIORITY_ABOVE_NORMAL:
        case THREAD_PRIORITY_HIGHEST:
        case THREAD_PRIORITY_TIME_CRITICAL:
            return true;
        default:
            return false;
    }
}

// Nice value for a priority, relative to the process's own as Windows'
// priorities are relative to the priority class.
int nice_for(int priority) {
    static const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    int offset = 0;
    switch (priority) {
        case THREAD_PRIORITY_IDLE: offset = 19; break;
        case THREAD_PRIORITY_LOWEST: offset = 2; break;
        case THREAD_PRIORITY_BELOW_NORMAL: offset = 1; break;
        case THREAD_PRIORITY_ABOVE_NORMAL: offset = -1; break;
        case THREAD_PRIORITY_HIGHEST: offset = -2; break;
        default: break;
    }
    return std::clamp(base + offset, -20, 19);
}

// Best effort: without the rights for it the host keeps what it has, and
// the program goes on as Windows would have let it.
void apply_priority(pid_t tid, int priority) {
    if (priority == THREAD_PRIORITY_TIME_CRITICAL) {
        // The highest normal priority, not a real-time policy: a real-time
        // thread busy in a long callback keeps ordinary threads off its
        // processor entirely, where Windows would still run them beside it.
        for (int nice = -20; nice < 0; nice += 4)
            if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) return;
        return;
    }
    sched_param param{};
    sched_setscheduler(tid, SCHED_OTHER, &param);  // undo an earlier time-critical
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice_for(priority));
}

}  // namespace

thread_local constinit int shield_depth __attribute__((tls_model("initial-exec"))) = 0;
thread_local constinit volatile sig_atomic_t suspend_deferred
    __attribute__((tls_model("initial-exec"))) = 0;

void take_deferred_suspension() {
    suspend_deferred = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    // A resume may have come first: park then returns at once.
    if (ThreadState* self = tls_self) park(*self);
}

int suspend_signal() {
    static const int signal_number = [] {
        // Well clear of the real-time signals the C library keeps for itself.
        int number = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_handler = on_suspend_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(number, &action, nullptr);
        return number;
    }();
    return signal_number;
}

std::shared_ptr<KernelObject> current_thread_object() {
    auto state = current_state();
    if (!state) return nullptr;
    try {
        return std::make_shared<ThreadHandle>(std::move(state));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace win32::detail

using namespace win32::detail;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
    (void)lpThreadAttributes;
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    suspend_signal();  // the handler is in place before any thread can be signalled
    std::shared_ptr<ThreadState> state;
    HANDLE handle = nullptr;
    std::shared_ptr<ThreadState>* handed = nullptr;
    try {
        state = std::make_shared<ThreadState>(new_thread_id());
        state->start = lpStartAddress;
        state->parameter = lpParameter;
        if (dwCreationFlags & CREATE_SUSPENDED) state->suspend.store(1);
        handle = issue_handle(state);
        handed = new std::shared_ptr<ThreadState>(state);
    } catch (const std::bad_alloc&) {
        if (handle) CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // Windows reserves at least the default stack; only ask for more.
    size_t host_default = 0;
    pthread_attr_getstacksize(&attributes, &host_default);
    if (dwStackSize > host_default) pthread_attr_setstacksize(&attributes, dwStackSize);

    pthread_t thread;
    int rc = pthread_create(&thread, &attributes, thread_main, handed);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete handed;
        CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Until the thread can be signalled, so that SuspendThread works at once.
    wait_on(state->ready, INFINITE, [&] { return state->ready.load() != 0; });
    if (lpThreadId) *lpThreadId = state->id;
    return handle;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
    auto object = find_as<ThreadHandle>(hThread);
    if (!object) return FALSE;
    if (!valid_priority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ThreadState& target = *object->state;
    target.priority.store(nPriority);
    // Held so that the kernel id still names this thread during the change.
    if (enter_signaller(target)) {
        apply_priority(target.tid.load(), nPriority);
        leave_signaller(target);
    }
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread) {
    auto object = find_as<ThreadHandle>(hThread);
    if (!object) return kPriorityErrorReturn;
    return object->state->priority.load();
}

HANDLE WINAPI GetCurrentThread(void) { return kCurrentThread; }

HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }

DWORD WINAPI GetCurrentThreadId(void) {
    if (tls_id) return tls_id;
    auto state = current_state();
    return state ? state->id : 0;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                            HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                            DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
    (void)dwDesiredAccess;
    (void)bInheritHandle;
    // Windows closes the source whatever happens to the copy.
    struct CloseSource {
        HANDLE handle;
        bool wanted;
        ~CloseSource() {
            if (wanted) CloseHandle(handle);
        }
    } close_source{hSourceHandle, (dwOptions & DUPLICATE_CLOSE_SOURCE) != 0};

    if (hSourceProcessHandle != kCurrentProcess || hTargetProcessHandle != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpTargetHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        if (hSourceHandle == kCurrentProcess) {
            *lpTargetHandle = add_handle(std::make_shared<ProcessObject>());
            return TRUE;
        }
        auto object = find_handle(hSourceHandle);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        // A thread gets a handle object of its own, so that SuspendThread
        // can find it without the general table.
        if (auto thread = std::dynamic_pointer_cast<ThreadHandle>(object))
            *lpTargetHandle = issue_handle(thread->state);
        else
            *lpTargetHandle = add_handle(std::move(object));
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

DWORD WINAPI SuspendThread(HANDLE hThread) {
    auto target = thread_of(hThread);
    if (!target) return kFailed;
    return suspend(*target);
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
    auto target = thread_of(hThread);
    if (!target) return kFailed;
    return release(*target);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto object = find_as<ThreadHandle>(hThread);
    if (!object) return FALSE;
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ThreadState& state = *object->state;
    *lpExitCode = state.finished.load() ? state.exit_code.load() : STILL_ACTIVE;
    return TRUE;
}

}  // extern "C"
