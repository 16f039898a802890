// Threads, suspension, handles naming threads, events and the interlocked
// operations of the kernel stand-in.
//
// While a thread is suspended the tests only read atomics and sleep: the
// stopped thread may hold the allocator's lock.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "win32/kernel.h"

namespace {

constexpr DWORD kFailed = 0xFFFFFFFFu;

struct Body {
    std::function<DWORD()> run;
};

DWORD WINAPI run_body(LPVOID parameter) {
    std::unique_ptr<Body> body(static_cast<Body*>(parameter));
    return body->run();
}

HANDLE start(std::function<DWORD()> run, DWORD flags = 0, DWORD* id = nullptr) {
    return CreateThread(nullptr, 0, run_body, new Body{std::move(run)}, flags, id);
}

// Polls with Sleep only, so it is safe while another thread is suspended.
template <typename Predicate>
bool eventually(Predicate holds, DWORD limit_ms = 5000) {
    DWORD begun = GetTickCount();
    while (!holds()) {
        if (GetTickCount() - begun > limit_ms) return false;
        Sleep(1);
    }
    return true;
}

// A thread counting as fast as it can.
struct BusyThread {
    BusyThread() {
        handle = start([this] {
            while (!stop.load()) count.fetch_add(1, std::memory_order_relaxed);
            return DWORD(0);
        });
    }
    ~BusyThread() {
        stop = true;
        for (DWORD count = 1; count != 0 && count != kFailed;) count = ResumeThread(handle);
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
    }
    bool running() {
        uint64_t mark = count.load();
        return eventually([&] { return count.load() != mark; });
    }

    std::atomic<uint64_t> count{0};
    std::atomic<bool> stop{false};
    HANDLE handle = nullptr;
};

// Whether a counter stays still over an interval.
bool frozen(const std::atomic<uint64_t>& count, DWORD interval_ms = 150) {
    uint64_t before = count.load();
    Sleep(interval_ms);
    return count.load() == before;
}

TEST(Threads, RunWaitAndExitCode) {
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> inside_id{0};
    DWORD id = 0;
    HANDLE thread = start(
        [&] {
            inside_id = GetCurrentThreadId();
            WaitForSingleObject(gate, INFINITE);
            return DWORD(42);
        },
        0, &id);
    ASSERT_NE(thread, nullptr);

    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);

    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(inside_id.load(), id);
    CloseHandle(thread);
    CloseHandle(gate);
}

TEST(Threads, IdsAreStableDistinctAndNonZero) {
    const DWORD main_id = GetCurrentThreadId();
    EXPECT_NE(main_id, 0u);
    EXPECT_EQ(GetCurrentThreadId(), main_id);

    std::set<DWORD> ids{main_id};
    for (int i = 0; i < 2; ++i) {
        std::atomic<DWORD> first{0}, second{0};
        DWORD out = 0;
        HANDLE thread = start(
            [&] {
                first = GetCurrentThreadId();
                second = GetCurrentThreadId();
                return DWORD(0);
            },
            0, &out);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_EQ(first.load(), out);
        EXPECT_EQ(second.load(), out);
        ids.insert(out);
    }
    // A thread the stand-in did not start gets one too.
    DWORD foreign = 0;
    std::thread([&] { foreign = GetCurrentThreadId(); }).join();
    EXPECT_NE(foreign, 0u);
    ids.insert(foreign);
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(GetCurrentProcessId(), DWORD(getpid()));
}

TEST(Threads, CreateSuspendedRunsOnlyAfterResume) {
    std::atomic<bool> ran{false};
    HANDLE thread = start([&] { return DWORD(ran = true); }, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    Sleep(100);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran.load());
    CloseHandle(thread);
}

TEST(Threads, PrioritiesReadBack) {
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = start([&] { return WaitForSingleObject(gate, INFINITE); });
    // Without the rights for a higher priority the call still succeeds.
    for (int priority : {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST,
                         THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_BELOW_NORMAL,
                         THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_IDLE, THREAD_PRIORITY_NORMAL}) {
        EXPECT_TRUE(SetThreadPriority(thread, priority)) << priority;
        EXPECT_EQ(GetThreadPriority(thread), priority);
    }
    EXPECT_FALSE(SetThreadPriority(thread, 99));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
    SetEvent(gate);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(gate);
}

TEST(Suspend, BusyThreadStopsUntilResumed) {
    BusyThread busy;
    ASSERT_TRUE(busy.running());
    for (int round = 0; round < 3; ++round) {
        // Sampled right after the call: it returns only once the thread has
        // stopped.
        DWORD previous = SuspendThread(busy.handle);
        bool still = frozen(busy.count);
        DWORD resumed = ResumeThread(busy.handle);
        EXPECT_EQ(previous, 0u);
        EXPECT_TRUE(still) << "round " << round;
        EXPECT_EQ(resumed, 1u);
        EXPECT_TRUE(busy.running());
    }
}

// A thread inside a handler that blocks every signal cannot stop until the
// handler ends; SuspendThread must wait for that rather than return early.
std::atomic<bool> g_in_masked_handler{false};

void masked_handler(int) {
    g_in_masked_handler = true;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    while (std::chrono::steady_clock::now() < until) {
    }
    g_in_masked_handler = false;
}

TEST(Suspend, WaitsUntilTheTargetCanStop) {
    struct sigaction action {}, previous{};
    action.sa_handler = masked_handler;
    sigfillset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> count{0};
    std::atomic<pthread_t> self{};
    std::atomic<bool> started{false};
    HANDLE thread = start([&] {
        self = pthread_self();
        started = true;
        while (!stop.load()) count.fetch_add(1, std::memory_order_relaxed);
        return DWORD(0);
    });
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    pthread_kill(self.load(), SIGUSR1);
    ASSERT_TRUE(eventually([&] { return g_in_masked_handler.load(); }));

    DWORD previous_count = SuspendThread(thread);
    bool handler_running = g_in_masked_handler.load();
    bool still = frozen(count);
    ResumeThread(thread);
    stop = true;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(previous_count, 0u);
    EXPECT_FALSE(handler_running);
    EXPECT_TRUE(still);
}

TEST(Suspend, CountsNest) {
    BusyThread busy;
    ASSERT_TRUE(busy.running());
    DWORD s0 = SuspendThread(busy.handle);
    DWORD s1 = SuspendThread(busy.handle);
    DWORD s2 = SuspendThread(busy.handle);
    DWORD r3 = ResumeThread(busy.handle);
    DWORD r2 = ResumeThread(busy.handle);
    bool still = frozen(busy.count);
    DWORD r1 = ResumeThread(busy.handle);
    EXPECT_EQ(s0, 0u);
    EXPECT_EQ(s1, 1u);
    EXPECT_EQ(s2, 2u);
    EXPECT_EQ(r3, 3u);
    EXPECT_EQ(r2, 2u);
    EXPECT_TRUE(still);
    EXPECT_EQ(r1, 1u);
    EXPECT_TRUE(busy.running());
    EXPECT_EQ(ResumeThread(busy.handle), 0u);  // not suspended
}

TEST(Suspend, MainThreadThroughDuplicatedHandle) {
    HANDLE main_thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                &main_thread, 0, FALSE, DUPLICATE_SAME_ACCESS));
    std::atomic<uint64_t> count{0};
    std::atomic<bool> done{false};
    struct {
        DWORD alive_wait = 0, suspended = 0, resumed = 0;
        bool still = false, moved = false;
    } seen;
    HANDLE helper = start([&] {
        eventually([&] { return count.load() > 1000; });
        seen.alive_wait = WaitForSingleObject(main_thread, 0);
        seen.suspended = SuspendThread(main_thread);
        seen.still = frozen(count);
        seen.resumed = ResumeThread(main_thread);
        uint64_t mark = count.load();
        seen.moved = eventually([&] { return count.load() != mark; });
        done = true;
        return DWORD(0);
    });
    while (!done.load()) count.fetch_add(1, std::memory_order_relaxed);
    WaitForSingleObject(helper, INFINITE);
    CloseHandle(helper);
    CloseHandle(main_thread);

    EXPECT_EQ(seen.alive_wait, WAIT_TIMEOUT);
    EXPECT_EQ(seen.suspended, 0u);
    EXPECT_TRUE(seen.still);
    EXPECT_EQ(seen.resumed, 1u);
    EXPECT_TRUE(seen.moved);
}

TEST(Suspend, SelfSuspensionLastsUntilAnotherThreadResumes) {
    std::atomic<int> stage{0};
    std::atomic<DWORD> returned{99};
    HANDLE thread = start([&] {
        stage = 1;
        returned = SuspendThread(GetCurrentThread());
        stage = 2;
        return DWORD(0);
    });
    ASSERT_TRUE(eventually([&] { return stage.load() == 1; }));
    Sleep(200);
    EXPECT_EQ(stage.load(), 1);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(stage.load(), 2);
    EXPECT_EQ(returned.load(), 0u);
    CloseHandle(thread);
}

TEST(Suspend, ThreadBlockedInAWaitStaysStoppedWhenWoken) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer holds a signal back until the thread next enters a
    // function it intercepts; a wait on a raw futex never does.
    GTEST_SKIP() << "signals are deferred under ThreadSanitizer";
#endif
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> woke{false};
    HANDLE thread = start([&] {
        WaitForSingleObject(event, INFINITE);
        woke = true;
        return DWORD(0);
    });
    Sleep(50);
    EXPECT_EQ(SuspendThread(thread), 0u);
    SetEvent(event);
    Sleep(150);
    EXPECT_FALSE(woke.load());
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(woke.load());
    CloseHandle(thread);
    CloseHandle(event);
}

TEST(Suspend, EndedThreadFailsCleanly) {
    HANDLE created = start([] { return DWORD(7); });
    HANDLE foreign = nullptr;
    std::thread([&] {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &foreign, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
    }).join();
    ASSERT_NE(foreign, nullptr);
    for (HANDLE thread : {created, foreign}) {
        EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
        SetLastError(0);
        EXPECT_EQ(SuspendThread(thread), kFailed);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(ResumeThread(thread), 0u);
        CloseHandle(thread);
    }
}

// Suspenders racing each other, and a target that keeps taking the locks
// SuspendThread and ResumeThread need: neither may deadlock, and the count
// ends where it began.
TEST(Suspend, RacingSuspendersAndABusyTargetStayBalanced) {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> count{0};
    HANDLE target = start([&] {
        while (!stop.load()) {
            HANDLE self = nullptr;
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0,
                            FALSE, DUPLICATE_SAME_ACCESS);
            CloseHandle(self);
            count.fetch_add(1);
        }
        return DWORD(0);
    });
    std::atomic<int> failures{0};
    auto hammer = [&] {
        for (int i = 0; i < 1000; ++i) {
            if (SuspendThread(target) == kFailed) ++failures;
            if (ResumeThread(target) == kFailed) ++failures;
        }
        return DWORD(0);
    };
    HANDLE a = start(hammer);
    HANDLE b = start(hammer);
    EXPECT_EQ(WaitForSingleObject(a, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(failures.load(), 0);

    EXPECT_EQ(SuspendThread(target), 0u);
    EXPECT_EQ(ResumeThread(target), 1u);
    uint64_t mark = count.load();
    EXPECT_TRUE(eventually([&] { return count.load() != mark; }));
    stop = true;
    EXPECT_EQ(WaitForSingleObject(target, 10000), WAIT_OBJECT_0);
    for (HANDLE h : {a, b, target}) CloseHandle(h);
}

TEST(Handles, DuplicatesNameTheSameObject) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    EXPECT_NE(copy, event);
    SetEvent(copy);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    HANDLE moved = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), copy, GetCurrentProcess(), &moved, 0, FALSE,
                                DUPLICATE_CLOSE_SOURCE));
    EXPECT_FALSE(SetEvent(copy));  // the source is gone
    EXPECT_TRUE(ResetEvent(moved));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(moved);
    CloseHandle(event);

    // The current-thread pseudo-handle duplicated on a thread names that
    // thread, wherever the copy is used later.
    HANDLE named = nullptr;
    HANDLE thread = start([&] {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &named, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        return DWORD(5);
    });
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(WaitForSingleObject(named, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(named, &code));
    EXPECT_EQ(code, 5u);
    CloseHandle(named);
}

TEST(Handles, InvalidOnesGiveErrors) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    HANDLE thread = start([] { return DWORD(0); });
    WaitForSingleObject(thread, INFINITE);
    HANDLE bogus = reinterpret_cast<HANDLE>(uintptr_t(0x7654320));
    DWORD code = 0;
    HANDLE out = nullptr;

    const HANDLE self = GetCurrentProcess();
    constexpr DWORD bad_handle = ERROR_INVALID_HANDLE;
    constexpr DWORD bad_parameter = ERROR_INVALID_PARAMETER;
    struct Case {
        const char* call;
        DWORD error;
        std::function<bool()> failed;
    } cases[] = {
        {"SuspendThread(bogus)", bad_handle, [&] { return SuspendThread(bogus) == kFailed; }},
        {"ResumeThread(bogus)", bad_handle, [&] { return ResumeThread(bogus) == kFailed; }},
        {"SuspendThread(event)", bad_handle, [&] { return SuspendThread(event) == kFailed; }},
        {"GetExitCodeThread(event)", bad_handle, [&] { return !GetExitCodeThread(event, &code); }},
        {"SetThreadPriority(bogus)", bad_handle, [&] { return !SetThreadPriority(bogus, 0); }},
        {"GetThreadPriority(bogus)", bad_handle,
         [&] { return GetThreadPriority(bogus) == 0x7FFFFFFF; }},
        {"SetEvent(thread)", bad_handle, [&] { return !SetEvent(thread); }},
        {"SetEvent(closed)", bad_handle, [&] { return !SetEvent(closed); }},
        {"ResetEvent(bogus)", bad_handle, [&] { return !ResetEvent(bogus); }},
        {"WaitForSingleObject(closed)", bad_handle,
         [&] { return WaitForSingleObject(closed, 0) == WAIT_FAILED; }},
        {"CloseHandle(closed)", bad_handle, [&] { return !CloseHandle(closed); }},
        {"DuplicateHandle(bogus)", bad_handle,
         [&] { return !DuplicateHandle(self, bogus, self, &out, 0, FALSE, 0); }},
        {"GetExitCodeThread(null out)", bad_parameter,
         [&] { return !GetExitCodeThread(thread, nullptr); }},
        {"CreateThread(no routine)", bad_parameter,
         [&] { return !CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr); }},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_TRUE(c.failed()) << c.call;
        EXPECT_EQ(GetLastError(), c.error) << c.call;
    }
    CloseHandle(thread);
    CloseHandle(event);
}

TEST(Events, ManualAndAutoReset) {
    struct Case {
        BOOL manual, initial;
        DWORD first, second;  // two waits in a row, right after creation
    } cases[] = {
        {TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},
        {FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},
        {TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
        {FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "manual " << c.manual << " initial " << c.initial);
        HANDLE event = CreateEventA(nullptr, c.manual, c.initial, nullptr);
        EXPECT_EQ(WaitForSingleObject(event, 0), c.first);
        EXPECT_EQ(WaitForSingleObject(event, 0), c.second);

        EXPECT_TRUE(SetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(event, 0), c.manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);

        SetEvent(event);
        EXPECT_TRUE(ResetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        CloseHandle(event);
    }
}

TEST(Events, WaitTimesOutAfterTheTimeAsked) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 150), WAIT_TIMEOUT);
    auto waited = std::chrono::steady_clock::now() - begun;
    EXPECT_GE(waited, std::chrono::milliseconds(149));
    EXPECT_LT(waited, std::chrono::seconds(3));
    CloseHandle(event);
}

TEST(Events, SetWakesWaiters) {
    // Manual reset: every waiter goes. Auto reset: one per set.
    for (BOOL manual : {TRUE, FALSE}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
        std::atomic<int> woken{0};
        auto waiter = [&] {
            if (WaitForSingleObject(event, 20000) == WAIT_OBJECT_0) ++woken;
            return DWORD(0);
        };
        HANDLE a = start(waiter);
        HANDLE b = start(waiter);
        Sleep(50);
        EXPECT_EQ(woken.load(), 0);
        SetEvent(event);
        EXPECT_TRUE(eventually([&] { return woken.load() >= 1; }));
        Sleep(150);
        EXPECT_EQ(woken.load(), manual ? 2 : 1);
        SetEvent(event);
        EXPECT_EQ(WaitForSingleObject(a, 10000), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(b, 10000), WAIT_OBJECT_0);
        EXPECT_EQ(woken.load(), 2);
        for (HANDLE h : {a, b, event}) CloseHandle(h);
    }
}

TEST(Events, NamedEventsAreShared) {
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, "kd-test-event");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    HANDLE second = CreateEventA(nullptr, TRUE, FALSE, "kd-test-event");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
    // Gone with its last handle.
    HANDLE again = CreateEventA(nullptr, TRUE, FALSE, "kd-test-event");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);
    CloseHandle(again);
}

TEST(Sleeping, SleepLastsAtLeastTheTimeAsked) {
    auto begun = std::chrono::steady_clock::now();
    Sleep(100);
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(100));
}

TEST(Interlocked, OperationsAreAtomic) {
    LONG volatile value = 0;
    auto add = [&] {
        for (int i = 0; i < 100000; ++i) InterlockedIncrement(&value);
        return DWORD(0);
    };
    HANDLE a = start(add);
    HANDLE b = start(add);
    for (int i = 0; i < 50000; ++i) InterlockedDecrement(&value);
    WaitForSingleObject(a, INFINITE);
    WaitForSingleObject(b, INFINITE);
    CloseHandle(a);
    CloseHandle(b);
    EXPECT_EQ(value, 150000);
    EXPECT_EQ(InterlockedIncrement(&value), 150001);
    EXPECT_EQ(InterlockedDecrement(&value), 150000);
    EXPECT_EQ(InterlockedExchange(&value, -3), 150000);
    EXPECT_EQ(value, -3);
}

}  // namespace
