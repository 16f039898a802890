// Windows, their messages, painting and compositing on the virtual screen.
#include <atomic>
#include <thread>

#include "test_user_support.h"

namespace {

using namespace user_test;

// The screen pixel at each point, against the colour expected there.
void expect_pixels(const std::vector<std::pair<POINT, uint32_t>>& table) {
    for (const auto& [p, want] : table)
        EXPECT_EQ(win32::screen_pixel(p.x, p.y), want) << "at " << p.x << "," << p.y;
}

TEST_F(UserTest, CreationSendsItsMessagesInOrder) {
    int param = 42;
    struct Seen {
        static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
            if (msg == WM_CREATE) {
                auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
                SetWindowLongPtrA(h, GWL_USERDATA, *static_cast<int*>(cs->lpCreateParams));
            }
            return recording_proc(h, msg, wp, lp);
        }
    };
    WNDCLASSA wc{};
    wc.lpfnWndProc = Seen::proc;
    wc.lpszClassName = "KdCreation";
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a class registers once";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));

    HWND h = CreateWindowExA(0, "kdcreation", "Title", WS_POPUP | WS_VISIBLE, 10, 20, 30, 40,
                             nullptr, nullptr, nullptr, &param);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(h, GWL_USERDATA), 42);
    EXPECT_EQ(ids(messages(h, {WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE, WM_SHOWWINDOW, WM_ACTIVATE})),
              (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE, WM_SHOWWINDOW, WM_ACTIVATE}));
    char text[8];
    EXPECT_EQ(GetWindowTextA(h, text, sizeof text), 5);
    EXPECT_STREQ(text, "Title");
    EXPECT_EQ(GetWindowTextA(h, text, 3), 2) << "cut to the buffer";
    EXPECT_STREQ(text, "Ti");
    RECT r;
    ASSERT_TRUE(GetWindowRect(h, &r));
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.bottom, 60);
    EXPECT_EQ(GetActiveWindow(), h);
    EXPECT_EQ(GetFocus(), h);

    clear_log();
    ASSERT_TRUE(DestroyWindow(h));
    EXPECT_EQ(ids(messages(h, {WM_DESTROY, WM_NCDESTROY})),
              (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_TRUE(UnregisterClassA("KdCreation", nullptr));
}

TEST_F(UserTest, CreateFailsWhenTheProcedureRefuses) {
    struct Refuse {
        static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
            if (msg == WM_CREATE) return -1;
            return DefWindowProcA(h, msg, wp, lp);
        }
    };
    WNDCLASSA wc{};
    wc.lpfnWndProc = Refuse::proc;
    wc.lpszClassName = "KdRefuse";
    RegisterClassA(&wc);
    EXPECT_EQ(CreateWindowExA(0, "KdRefuse", "", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_TRUE(win32::top_level_windows().empty());
}

TEST_F(UserTest, BadHandlesAndArgumentsFailCleanly) {
    const HWND bogus = reinterpret_cast<HWND>(uintptr_t(0x1234));
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_EQ(CreateWindowExA(0, recording_class(), "", WS_CHILD, 0, 0, 5, 5, bogus, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(CreateWindowExA(0, nullptr, "", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_EQ(RegisterClassA(nullptr), 0);
    EXPECT_FALSE(DestroyWindow(bogus));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageA(bogus, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(bogus, WM_USER, 0, 0));
    EXPECT_EQ(GetDC(bogus), nullptr);
    EXPECT_EQ(BeginPaint(bogus, nullptr), nullptr);
    PAINTSTRUCT ps;
    EXPECT_EQ(BeginPaint(bogus, &ps), nullptr);
    EXPECT_FALSE(InvalidateRect(bogus, nullptr, TRUE));
    EXPECT_FALSE(ShowWindow(bogus, SW_SHOW));
    EXPECT_FALSE(SetWindowPos(bogus, nullptr, 0, 0, 1, 1, 0));
    EXPECT_EQ(SetCapture(bogus), nullptr);
    EXPECT_EQ(SetFocus(bogus), nullptr);
    EXPECT_FALSE(GetCursorPos(nullptr));
    EXPECT_FALSE(GetWindowRect(bogus, nullptr));
    HWND h = make_window({0, 0, 10, 10}, kRed);
    EXPECT_FALSE(GetClientRect(h, nullptr));
    EXPECT_EQ(GetWindowLongPtrA(h, 1000), 0) << "past the extra bytes";
    EXPECT_EQ(GetWindowTextA(h, nullptr, 10), 0);
    EXPECT_FALSE(SetWindowLongA(h, GWL_WNDPROC, 0)) << "a procedure does not fit 32 bits";
}

TEST_F(UserTest, TopLevelWindowsCompositeInZOrder) {
    HWND back = make_window({20, 20, 120, 120}, kRed);
    HWND front = make_window({80, 80, 180, 180}, kGreen);
    pump();
    expect_pixels({{{30, 30}, rgb(kRed)},
                   {{100, 100}, rgb(kGreen)},  // overlap: the later, active window
                   {{170, 170}, rgb(kGreen)},
                   {{10, 10}, 0x000000}});  // the screen as it was

    // Activating the back window brings it to the front; it repaints.
    SetActiveWindow(back);
    pump();
    expect_pixels({{{100, 100}, rgb(kRed)}, {{150, 150}, rgb(kGreen)}});

    // A topmost window stays above windows activated after it.
    HWND top = make_window({100, 0, 140, 200}, kBlue, WS_POPUP | WS_VISIBLE, WS_EX_TOPMOST);
    SetActiveWindow(front);
    pump();
    expect_pixels({{{110, 100}, rgb(kBlue)}, {{150, 100}, rgb(kGreen)}});

    // What a hidden window uncovers: the windows below repaint it, the
    // desktop colour fills the rest.
    ShowWindow(front, SW_HIDE);
    pump();
    expect_pixels({{{90, 90}, rgb(kRed)}, {{150, 150}, kDesktop}, {{110, 150}, rgb(kBlue)}});
    EXPECT_EQ(GetActiveWindow(), top) << "activation passes to the next visible window";
}

TEST_F(UserTest, ZOrderWalksAndTheBuiltInUserModule) {
    HWND back = make_window({0, 0, 50, 50}, kRed);
    HWND front = make_window({10, 10, 60, 60}, kGreen);
    HWND kid = make_window({1, 1, 5, 5}, kBlue, WS_CHILD | WS_VISIBLE, 0, front);
    EXPECT_EQ(GetTopWindow(nullptr), front);
    EXPECT_EQ(GetWindow(front, GW_HWNDNEXT), back);
    EXPECT_EQ(GetWindow(back, GW_HWNDPREV), front);
    EXPECT_EQ(GetWindow(back, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(GetWindow(back, GW_HWNDFIRST), front);
    EXPECT_EQ(GetWindow(front, GW_HWNDLAST), back);
    EXPECT_EQ(GetWindow(front, GW_CHILD), kid);
    EXPECT_EQ(GetTopWindow(front), kid);
    EXPECT_EQ(GetWindow(kid, GW_HWNDNEXT), nullptr) << "siblings are the parent's children";
    DWORD process = 0;
    EXPECT_EQ(GetWindowThreadProcessId(kid, &process), GetCurrentThreadId());
    EXPECT_EQ(process, GetCurrentProcessId());
    EXPECT_EQ(GetWindowThreadProcessId(reinterpret_cast<HWND>(0x1), &process), 0u);
    EXPECT_EQ(GetWindow(reinterpret_cast<HWND>(0x1), GW_HWNDNEXT), nullptr);

    // Code that does not link the window system finds these by name.
    HMODULE user = LoadLibraryA("user32.dll");
    ASSERT_NE(user, nullptr);
    using Top = HWND(WINAPI*)(HWND);
    auto top = reinterpret_cast<Top>(reinterpret_cast<void (*)()>(GetProcAddress(user, "GetTopWindow")));
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top(nullptr), front);
    EXPECT_EQ(GetProcAddress(user, "NoSuchCall"), nullptr);
    FreeLibrary(user);
}

TEST_F(UserTest, MovingAWindowRepaintsBothPlaces) {
    HWND back = make_window({0, 0, 200, 200}, kRed);
    HWND w = make_window({10, 10, 60, 60}, kGreen);
    pump();
    clear_log();
    ASSERT_TRUE(SetWindowPos(w, nullptr, 100, 100, 40, 30, SWP_NOZORDER));
    EXPECT_EQ(ids(messages(w, {WM_MOVE, WM_SIZE})), (std::vector<UINT>{WM_MOVE, WM_SIZE}));
    pump();
    expect_pixels({{{20, 20}, rgb(kRed)},
                   {{100, 100}, rgb(kGreen)},
                   {{139, 129}, rgb(kGreen)},
                   {{140, 129}, rgb(kRed)},
                   {{139, 130}, rgb(kRed)}});
    EXPECT_EQ(messages(back, {WM_PAINT}).size(), 1u);
}

TEST_F(UserTest, ChildWindowsDrawInsideTheirParent) {
    HWND parent = make_window({50, 50, 150, 150}, kRed);
    HWND child = make_window({80, 80, 140, 140}, kBlue, WS_CHILD | WS_VISIBLE, 0, parent);
    pump();
    POINT p{0, 0};
    ClientToScreen(child, &p);
    EXPECT_EQ(p.x, 130);
    EXPECT_EQ(GetParent(child), parent);
    // The child pokes out of its parent; only the inside shows.
    expect_pixels({{{140, 140}, rgb(kBlue)},
                   {{149, 149}, rgb(kBlue)},
                   {{150, 140}, 0x000000},
                   {{120, 120}, rgb(kRed)}});
    // Painting the parent paints over its children, which then repaint.
    clear_log();
    InvalidateRect(parent, nullptr, TRUE);
    pump();
    EXPECT_EQ(ids(messages(nullptr, {WM_PAINT})), (std::vector<UINT>{WM_PAINT, WM_PAINT}));
    EXPECT_EQ(messages(nullptr, {WM_PAINT})[0].hwnd, parent);
    EXPECT_EQ(win32::screen_pixel(140, 140), rgb(kBlue));
    // Destroying the parent takes the child with it.
    DestroyWindow(parent);
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(UserTest, PaintComesFromTheUpdateRegionWhenTheQueueIsEmpty) {
    HWND h = make_window({0, 0, 100, 100}, kRed);
    pump();
    clear_log();
    const RECT part{10, 20, 30, 40};
    InvalidateRect(h, &part, FALSE);
    InvalidateRect(h, &part, FALSE);
    PostMessageA(h, WM_USER + 1, 7, 8);
    RECT u;
    EXPECT_TRUE(GetUpdateRect(h, &u, FALSE));
    EXPECT_EQ(u.left, 10);
    EXPECT_EQ(u.bottom, 40);
    pump();
    // Posted messages first, then one paint for both invalidations; no erase
    // was asked for.
    EXPECT_EQ(ids(messages(h, {WM_USER + 1, WM_PAINT, WM_ERASEBKGND})),
              (std::vector<UINT>{WM_USER + 1, WM_PAINT}));
    EXPECT_FALSE(GetUpdateRect(h, &u, FALSE));

    // Erasing: the erase message carries the paint DC.
    clear_log();
    InvalidateRect(h, nullptr, TRUE);
    pump();
    auto seen = messages(h, {WM_PAINT, WM_ERASEBKGND});
    ASSERT_EQ(ids(seen), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
    EXPECT_NE(seen[1].wp, 0u);

    // Validated before the queue is looked at: no paint.
    clear_log();
    InvalidateRect(h, nullptr, FALSE);
    ValidateRect(h, nullptr);
    pump();
    EXPECT_TRUE(messages(h, {WM_PAINT}).empty());
}

TEST_F(UserTest, PaintDrawsOnlyTheInvalidPart) {
    HWND h = make_window({0, 0, 100, 100}, kRed);
    pump();
    SetWindowLongPtrA(h, GWL_USERDATA, LONG_PTR(kGreen));
    const RECT part{10, 10, 20, 20};
    InvalidateRect(h, &part, FALSE);
    ASSERT_TRUE(UpdateWindow(h)) << "paints at once, without the queue";
    expect_pixels({{{10, 10}, rgb(kGreen)}, {{19, 19}, rgb(kGreen)}, {{20, 19}, rgb(kRed)},
                   {{9, 15}, rgb(kRed)}});
}

TEST_F(UserTest, PaintMessageWithADcDrawsThereAndValidatesNothing) {
    HWND h = make_window({0, 0, 50, 50}, kBlue);
    pump();
    InvalidateRect(h, nullptr, FALSE);
    HDC mem = CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 50, -50, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    SendMessageA(h, WM_PAINT, reinterpret_cast<WPARAM>(mem), 0);
    EXPECT_EQ(static_cast<uint32_t*>(bits)[49 * 50 + 49], rgb(kBlue));
    RECT u;
    EXPECT_TRUE(GetUpdateRect(h, &u, FALSE));
    // DefWindowProc leaves such a message alone as well.
    DefWindowProcA(h, WM_PAINT, reinterpret_cast<WPARAM>(mem), 0);
    EXPECT_TRUE(GetUpdateRect(h, &u, FALSE));
    DefWindowProcA(h, WM_PAINT, 0, 0);
    EXPECT_FALSE(GetUpdateRect(h, &u, FALSE));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
}

TEST_F(UserTest, WindowDcUsesTheClientOriginAndVisiblePart) {
    HWND below = make_window({0, 0, 100, 100}, kRed);
    make_window({50, 0, 100, 100}, kGreen);
    pump();
    HDC dc = GetDC(below);
    ASSERT_NE(dc, nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    PatBlt(dc, 40, 10, 20, 10, PATCOPY);
    SelectObject(dc, old);
    ReleaseDC(below, dc);
    // The covered part of the lower window stays the upper window's.
    expect_pixels({{{40, 10}, 0xFFFFFF}, {{49, 19}, 0xFFFFFF}, {{50, 10}, rgb(kGreen)},
                   {{40, 20}, rgb(kRed)}});
}

TEST_F(UserTest, ClassBackgroundErasesWithSystemColour) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "KdBackground";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(uintptr_t(COLOR_BTNFACE + 1));
    RegisterClassA(&wc);
    HWND h = CreateWindowExA(0, "KdBackground", "", WS_POPUP | WS_VISIBLE, 5, 5, 20, 20, nullptr,
                             nullptr, nullptr, nullptr);
    pump();
    EXPECT_EQ(win32::screen_pixel(5, 5), 0xC0C0C0u);
    EXPECT_EQ(win32::screen_pixel(24, 24), 0xC0C0C0u);
    EXPECT_EQ(win32::screen_pixel(25, 25), 0u);
    DestroyWindow(h);
}

TEST_F(UserTest, SendAndPostAcrossThreads) {
    std::atomic<HWND> other{nullptr};
    std::atomic<bool> stop{false};
    std::thread ui([&] {
        other = make_window({0, 0, 10, 10}, kRed, WS_POPUP);
        MSG m;
        while (!stop) {
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        DestroyWindow(other);
    });
    while (!other) std::this_thread::yield();
    clear_log();
    SendMessageA(other, WM_USER + 5, 1, 2);
    PostMessageA(other, WM_USER + 6, 3, 4);
    for (int i = 0; i < 1000 && messages(other, {WM_USER + 6}).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto seen = messages(other, {WM_USER + 5, WM_USER + 6});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].thread, GetCurrentThreadId()) << "a sent message runs on the window's thread";
    EXPECT_EQ(seen[0].thread, seen[1].thread);
    EXPECT_EQ(seen[1].wp, 3u);
    stop = true;
    ui.join();
}

TEST_F(UserTest, WindowTimersReachTheirWindowAtTheirInterval) {
    HWND h = make_window({0, 0, 10, 10}, kRed, WS_POPUP);
    ASSERT_EQ(SetTimer(h, 7, 30, nullptr), 7u);
    const auto start = std::chrono::steady_clock::now();
    MSG m;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(320)) {
        if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    KillTimer(h, 7);
    auto ticks = messages(h, {WM_TIMER});
    EXPECT_GE(ticks.size(), 7u);
    EXPECT_LE(ticks.size(), 11u);
    for (const Record& r : ticks) {
        EXPECT_EQ(r.wp, 7u);
        EXPECT_EQ(r.thread, GetCurrentThreadId());
    }
}

TEST_F(UserTest, TimersOfADestroyedWindowStop) {
    HWND h = make_window({0, 0, 10, 10}, kRed, WS_POPUP);
    SetTimer(h, 1, 10, nullptr);
    DestroyWindow(h);
    const auto start = std::chrono::steady_clock::now();
    MSG m;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(60)) {
        if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(KillTimer(h, 1)) << "already gone";
    EXPECT_TRUE(messages(h, {WM_TIMER}).empty());
}

TEST_F(UserTest, AbsurdCoordinatesStayBounded) {
    HWND h = make_window({0, 0, 1, 1}, kRed);
    ASSERT_TRUE(SetWindowPos(h, nullptr, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, SWP_NOZORDER));
    RECT r;
    ASSERT_TRUE(GetWindowRect(h, &r));
    EXPECT_GT(r.left, 0);
    EXPECT_LT(r.top, 0);
    EXPECT_GE(r.right, r.left);
    HWND kid = make_window({INT32_MAX - 1, INT32_MAX - 1, INT32_MAX, INT32_MAX}, kBlue,
                           WS_CHILD | WS_VISIBLE, 0, h);
    ASSERT_NE(kid, nullptr);
    POINT p{INT32_MAX, INT32_MAX};
    EXPECT_TRUE(ClientToScreen(kid, &p));
    EXPECT_EQ(p.x, INT32_MAX) << "saturates";
    POINT q{INT32_MIN, 0};
    EXPECT_TRUE(ScreenToClient(kid, &q));
    EXPECT_EQ(q.x, INT32_MIN);
    SetWindowPos(h, nullptr, -5, -5, 50, 50, SWP_NOZORDER);
    pump();
    EXPECT_EQ(win32::screen_pixel(0, 0), rgb(kRed));
    EXPECT_EQ(win32::screen_pixel(45, 45), 0u);
}

TEST_F(UserTest, DisplayModeChangeRepaintsWindows) {
    make_window({0, 0, 40, 40}, kRed);
    pump();
    clear_log();
    DEVMODEA dm{};
    dm.dmSize = sizeof dm;
    dm.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
    dm.dmPelsWidth = 640;
    dm.dmPelsHeight = 480;
    dm.dmBitsPerPel = 16;
    ASSERT_EQ(ChangeDisplaySettingsA(&dm, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_pixel(5, 5), 0u) << "a new mode starts black";
    pump();
    // 200 keeps its top five bits, widened by repeating them.
    EXPECT_EQ(win32::screen_pixel(5, 5), 0xCE0000u);
    auto change = messages(nullptr, {WM_DISPLAYCHANGE});
    ASSERT_EQ(change.size(), 1u);
    EXPECT_EQ(change[0].wp, 16u);
    EXPECT_EQ(LOWORD(change[0].lp), 640);
    EXPECT_EQ(HIWORD(change[0].lp), 480);
}

}  // namespace
