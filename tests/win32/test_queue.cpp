// The per-thread message queue, its timers and the window system's seams.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Timer procedures are plain functions, so what they see goes here.
std::atomic<DWORD> g_owner{0};
std::atomic<int> g_fires{0};
std::atomic<int> g_foreign_fires{0};
std::atomic<UINT_PTR> g_last_id{0};

void CALLBACK count_fire(HWND, UINT message, UINT_PTR id, DWORD) {
    if (message != WM_TIMER) return;
    g_last_id = id;
    if (GetCurrentThreadId() == g_owner.load())
        ++g_fires;
    else
        ++g_foreign_fires;
}

// Takes and dispatches messages for a while without ever blocking.
void pump_for(milliseconds span) {
    auto until = Clock::now() + span;
    MSG message;
    while (Clock::now() < until) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        else
            Sleep(1);
    }
}

// Every test starts with an empty queue on the main thread and no seams.
class Queue : public testing::Test {
protected:
    void SetUp() override {
        clear();
        g_owner = GetCurrentThreadId();
        g_fires = 0;
        g_foreign_fires = 0;
        g_last_id = 0;
    }
    void TearDown() override { clear(); }

    static void clear() {
        win32::set_window_dispatcher({});
        win32::set_get_message_hook({});
        win32::set_idle_source({});
        MSG message;
        for (int i = 0; i < 100 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        }
    }

    static void post(UINT message, WPARAM w = 0, LPARAM l = 0) {
        ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), message, w, l));
    }
};

// Posts WM_QUIT to a thread unless disarmed in time, so that a broken
// GetMessageA fails the test instead of hanging it.
class Watchdog {
public:
    Watchdog(DWORD thread_id, DWORD limit_ms)
        : disarmed_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, thread_id, limit_ms] {
              if (WaitForSingleObject(disarmed_, limit_ms) == WAIT_TIMEOUT)
                  PostThreadMessageA(thread_id, WM_QUIT, 0, 0);
          }) {}
    ~Watchdog() {
        SetEvent(disarmed_);
        thread_.join();
        CloseHandle(disarmed_);
    }

private:
    HANDLE disarmed_;
    std::thread thread_;
};

TEST_F(Queue, TimerFiresTwentyTimesASecondOnlyOnItsThread) {
    // Another thread pumping its own queue meanwhile must see none of it.
    std::atomic<bool> stop{false};
    std::atomic<int> other_timers{0};
    std::thread other([&] {
        MSG message;
        while (!stop.load()) {
            if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_TIMER) ++other_timers;
                DispatchMessageA(&message);
            } else {
                Sleep(1);
            }
        }
    });

    UINT_PTR id = SetTimer(nullptr, 0, 50, count_fire);
    ASSERT_NE(id, 0u);
    {
        Watchdog watchdog(GetCurrentThreadId(), 10000);
        auto until = Clock::now() + milliseconds(1000);
        MSG message;
        while (Clock::now() < until && GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
    }
    EXPECT_TRUE(KillTimer(nullptr, id));
    stop = true;
    other.join();

    EXPECT_GE(g_fires.load(), 15);
    EXPECT_LE(g_fires.load(), 22);
    EXPECT_EQ(g_last_id.load(), id);
    EXPECT_EQ(g_foreign_fires.load(), 0);
    EXPECT_EQ(other_timers.load(), 0);
}

TEST_F(Queue, KillTimerStopsIt) {
    UINT_PTR id = SetTimer(nullptr, 0, 20, count_fire);
    ASSERT_NE(id, 0u);
    pump_for(milliseconds(200));
    EXPECT_GT(g_fires.load(), 0);

    EXPECT_TRUE(KillTimer(nullptr, id));
    int fired = g_fires.load();
    pump_for(milliseconds(200));
    EXPECT_EQ(g_fires.load(), fired);

    EXPECT_FALSE(KillTimer(nullptr, id));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_TIMER_ID));
}

TEST_F(Queue, ShortPeriodsAreRaisedToTenMilliseconds) {
    UINT_PTR id = SetTimer(nullptr, 0, 1, count_fire);
    pump_for(milliseconds(300));
    KillTimer(nullptr, id);
    EXPECT_GE(g_fires.load(), 5);
    EXPECT_LE(g_fires.load(), 40);  // about 30, where 1 ms would give hundreds
}

TEST_F(Queue, PostedMessagesComeBeforeTimers) {
    UINT_PTR id = SetTimer(nullptr, 0, 10, count_fire);
    Sleep(100);  // overdue by several periods
    for (WPARAM i = 1; i <= 3; ++i) post(WM_USER + UINT(i), i);

    MSG message{};
    for (WPARAM i = 1; i <= 3; ++i) {
        ASSERT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
        EXPECT_EQ(message.message, WM_USER + UINT(i));
        EXPECT_EQ(message.wParam, i);
    }
    ASSERT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, UINT(WM_TIMER));
    EXPECT_EQ(message.wParam, id);
    EXPECT_EQ(message.lParam, reinterpret_cast<LPARAM>(count_fire));
    // One message for a late timer, not one per period missed.
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    KillTimer(nullptr, id);
}

TEST_F(Queue, QuitEndsGetMessageAfterEarlierPosts) {
    post(WM_USER + 1);
    post(WM_USER + 2);
    PostQuitMessage(7);
    MSG message{};
    EXPECT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, WM_USER + 1u);
    EXPECT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, WM_USER + 2u);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, UINT(WM_QUIT));
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));  // taken once
}

TEST_F(Queue, PeekNoRemoveLeavesTheMessage) {
    post(WM_USER + 5, 55);
    MSG message{};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(message.message, WM_USER + 5u);
    }
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_USER + 5u);
    EXPECT_EQ(message.wParam, 55u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Queue, Filters) {
    post(0x401);
    post(0x402);
    post(0x500);
    const HWND thread_only = reinterpret_cast<HWND>(intptr_t(-1));
    const HWND some_window = reinterpret_cast<HWND>(uintptr_t(0x3000));
    struct Case {
        HWND hwnd;
        UINT min, max;
        UINT expected;  // 0: nothing
    } cases[] = {
        {nullptr, 0, 0, 0x401},         {nullptr, 0x402, 0x402, 0x402},
        {nullptr, 0x450, 0x600, 0x500}, {nullptr, 0x403, 0x4FF, 0},
        {nullptr, 0x500, 0x401, 0x401},  // reversed: everything outside the gap
        {nullptr, 0x500, 0x400, 0x500}, {thread_only, 0, 0, 0x401},
        {some_window, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.min << ".." << c.max);
        MSG message{};
        BOOL found = PeekMessageA(&message, c.hwnd, c.min, c.max, PM_NOREMOVE);
        EXPECT_EQ(found != FALSE, c.expected != 0);
        if (found) {
            EXPECT_EQ(message.message, c.expected);
        }
    }
    // Removal with a filter takes the matching message out of the middle.
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0x402, 0x402, PM_REMOVE));
    std::vector<UINT> rest;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) rest.push_back(message.message);
    EXPECT_EQ(rest, (std::vector<UINT>{0x401, 0x500}));
}

TEST_F(Queue, PostWakesABlockedGetMessageOnAnotherThread) {
    HANDLE listening = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> id{0};
    std::atomic<UINT> got{0};
    std::atomic<WPARAM> got_w{0};
    std::thread listener([&] {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
        id = GetCurrentThreadId();
        SetEvent(listening);
        GetMessageA(&message, nullptr, 0, 0);
        got = message.message;
        got_w = message.wParam;
        SetEvent(finished);
    });
    WaitForSingleObject(listening, INFINITE);
    Sleep(50);
    EXPECT_TRUE(PostThreadMessageA(id, WM_USER + 9, 99, 0));
    bool woke = WaitForSingleObject(finished, 5000) == WAIT_OBJECT_0;
    if (!woke) PostThreadMessageA(id, WM_QUIT, 0, 0);
    listener.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(got.load(), WM_USER + 9u);
    EXPECT_EQ(got_w.load(), 99u);
    CloseHandle(listening);
    CloseHandle(finished);
}

TEST_F(Queue, PostsToThreadsWithoutAQueueFail) {
    DWORD never_listened = 0;
    std::thread([&] { never_listened = GetCurrentThreadId(); }).join();
    DWORD ended = 0;
    std::thread([&] {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        ended = GetCurrentThreadId();
    }).join();
    for (DWORD id : {DWORD(0), never_listened, ended, DWORD(0xFFFFFFF0)}) {
        SetLastError(0);
        EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0)) << id;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID)) << id;
    }
}

TEST_F(Queue, BadArguments) {
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
    EXPECT_FALSE(KillTimer(nullptr, 0xDEAD));

    // A WM_TIMER naming a procedure but no live timer is not called.
    post(WM_TIMER, 777, reinterpret_cast<LPARAM>(count_fire));
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&message), 0);
    EXPECT_EQ(g_fires.load(), 0);
}

TEST_F(Queue, TimerIdsWithAndWithoutAWindow) {
    // Without a window: fresh ids; an existing id of this thread is replaced.
    UINT_PTR a = SetTimer(nullptr, 0, 5000, count_fire);
    UINT_PTR b = SetTimer(nullptr, 0, 5000, count_fire);
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(SetTimer(nullptr, a, 20, count_fire), a);
    pump_for(milliseconds(300));
    EXPECT_GE(g_fires.load(), 3);
    EXPECT_EQ(g_last_id.load(), a);
    for (UINT_PTR id : {a, b}) {
        EXPECT_TRUE(KillTimer(nullptr, id));
        EXPECT_FALSE(KillTimer(nullptr, id));
    }

    // With a window: the caller's id, and setting it again replaces it.
    HWND window = reinterpret_cast<HWND>(uintptr_t(0x1000));
    g_fires = 0;
    EXPECT_EQ(SetTimer(window, 7, 5000, count_fire), 7u);
    EXPECT_EQ(SetTimer(window, 7, 20, count_fire), 7u);
    pump_for(milliseconds(300));
    EXPECT_GE(g_fires.load(), 3);
    EXPECT_FALSE(KillTimer(nullptr, 7));  // not the window's timer
    EXPECT_TRUE(KillTimer(window, 7));
    EXPECT_FALSE(KillTimer(window, 7));  // there was only one
}

TEST_F(Queue, WindowSystemSeams) {
    const HWND window = reinterpret_cast<HWND>(uintptr_t(0x2000));
    std::vector<UINT> hooked;
    win32::set_get_message_hook([&](MSG& m) {
        hooked.push_back(m.message);
        if (m.message == WM_USER + 20) m.wParam = 99;
    });
    int asked = 0;
    win32::set_idle_source([&](MSG& m) {
        if (asked++) return false;
        m = MSG{window, WM_USER + 20, 1, 0, 0, {}};
        return true;
    });
    std::vector<MSG> dispatched;
    win32::set_window_dispatcher([&](const MSG& m) {
        dispatched.push_back(m);
        return LRESULT(55);
    });

    post(WM_USER + 21);
    MSG message{};
    ASSERT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, WM_USER + 21u);
    EXPECT_EQ(asked, 0);  // not asked while posted messages wait
    EXPECT_EQ(DispatchMessageA(&message), 0);  // a thread message has no window

    ASSERT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, WM_USER + 20u);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.wParam, 99u);  // as the hook left it
    EXPECT_EQ(DispatchMessageA(&message), 55);
    ASSERT_EQ(dispatched.size(), 1u);
    EXPECT_EQ(dispatched[0].hwnd, window);

    post(WM_USER + 22);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(hooked, (std::vector<UINT>{WM_USER + 21, WM_USER + 20}));  // not for a peek
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(hooked, (std::vector<UINT>{WM_USER + 21, WM_USER + 20, WM_USER + 22}));

    // A window timer without a procedure goes to the window.
    SetTimer(window, 3, 10, nullptr);
    Sleep(30);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, UINT(WM_TIMER));
    EXPECT_EQ(DispatchMessageA(&message), 55);
    ASSERT_EQ(dispatched.size(), 2u);
    EXPECT_EQ(dispatched[1].wParam, 3u);
    KillTimer(window, 3);
}

TEST_F(Queue, WakeThreadMakesGetMessageLookAgain) {
    std::atomic<DWORD> id{0};
    std::atomic<bool> produce{false};
    win32::set_idle_source([&](MSG& m) {
        if (GetCurrentThreadId() != id.load() || !produce.exchange(false)) return false;
        m = MSG{nullptr, WM_USER + 30, 0, 0, 0, {}};
        return true;
    });
    HANDLE listening = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<UINT> got{0};
    std::thread listener([&] {
        id = GetCurrentThreadId();
        SetEvent(listening);
        MSG message;
        GetMessageA(&message, nullptr, 0, 0);
        got = message.message;
        SetEvent(finished);
    });
    WaitForSingleObject(listening, INFINITE);
    Sleep(100);  // asleep in GetMessageA, the source having nothing
    produce = true;
    win32::wake_thread(id);
    bool woke = WaitForSingleObject(finished, 5000) == WAIT_OBJECT_0;
    if (!woke) PostThreadMessageA(id, WM_QUIT, 0, 0);
    listener.join();
    EXPECT_TRUE(woke);
    EXPECT_EQ(got.load(), WM_USER + 30u);
    CloseHandle(listening);
    CloseHandle(finished);
}

}  // namespace
