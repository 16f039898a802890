// Mouse and keyboard input: routing, capture, focus, activation, key state,
// and the get-message hook.
#include "test_user_support.h"

namespace {

using namespace user_test;
using win32::MouseButton;

POINT at(LPARAM lp) { return POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}; }

void click(int x, int y) {
    win32::post_mouse_button(MouseButton::Left, true, x, y);
    win32::post_mouse_button(MouseButton::Left, false, x, y);
    pump();
}

const std::vector<UINT> kMouse{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN,
                               WM_RBUTTONUP};

TEST_F(UserTest, MouseGoesToTheWindowUnderTheCursorInClientCoordinates) {
    HWND back = make_window({0, 0, 200, 200}, kRed);
    HWND child = make_window({20, 30, 60, 70}, kBlue, WS_CHILD | WS_VISIBLE, 0, back);
    HWND front = make_window({100, 100, 150, 150}, kGreen);
    pump();
    clear_log();
    struct Case {
        POINT screen;
        HWND target;
        POINT client;
    };
    const Case cases[] = {
        {{5, 5}, back, {5, 5}},
        {{25, 35}, child, {5, 5}},
        {{59, 69}, child, {39, 39}},
        {{60, 70}, back, {60, 70}},
        {{120, 110}, front, {20, 10}},
        {{199, 199}, back, {199, 199}},
    };
    for (const Case& c : cases) {
        clear_log();
        win32::post_mouse_move(c.screen.x, c.screen.y);
        pump();
        auto seen = messages(nullptr, kMouse);
        ASSERT_EQ(seen.size(), 1u) << c.screen.x << "," << c.screen.y;
        EXPECT_EQ(seen[0].hwnd, c.target) << c.screen.x << "," << c.screen.y;
        EXPECT_EQ(at(seen[0].lp).x, c.client.x);
        EXPECT_EQ(at(seen[0].lp).y, c.client.y);
        POINT p;
        ASSERT_TRUE(GetCursorPos(&p));
        EXPECT_EQ(p.x, c.screen.x);
    }
    clear_log();
    win32::post_mouse_move(250, 250);  // the desktop: nobody
    pump();
    EXPECT_TRUE(messages(nullptr, kMouse).empty());
}

TEST_F(UserTest, ButtonStateTravelsWithTheMessages) {
    HWND h = make_window({0, 0, 100, 100}, kRed);
    pump();
    clear_log();
    win32::post_mouse_button(MouseButton::Left, true, 10, 10);
    EXPECT_TRUE(GetAsyncKeyState(VK_LBUTTON) & 0x8000) << "the device is down at once";
    EXPECT_FALSE(GetKeyState(VK_LBUTTON) & 0x8000) << "the thread has not seen it yet";
    pump();
    EXPECT_TRUE(GetKeyState(VK_LBUTTON) & 0x8000);
    win32::post_mouse_move(20, 20);
    win32::post_mouse_button(MouseButton::Left, false, 20, 20);
    pump();
    auto seen = messages(h, kMouse);
    ASSERT_EQ(ids(seen), (std::vector<UINT>{WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP}));
    EXPECT_EQ(seen[1].wp & MK_LBUTTON, WPARAM(MK_LBUTTON)) << "dragging";
    EXPECT_EQ(seen[2].wp & MK_LBUTTON, 0u);
    EXPECT_FALSE(GetKeyState(VK_LBUTTON) & 0x8000);
}

TEST_F(UserTest, CaptureTakesTheMouseWhereverItGoes) {
    HWND a = make_window({0, 0, 100, 100}, kRed);
    HWND b = make_window({100, 0, 200, 100}, kGreen);
    pump();
    EXPECT_EQ(SetCapture(a), nullptr);
    EXPECT_EQ(GetCapture(), a);
    clear_log();
    win32::post_mouse_move(150, 50);
    click(150, 50);
    auto seen = messages(nullptr, kMouse);
    ASSERT_EQ(seen.size(), 3u);
    for (const Record& r : seen) {
        EXPECT_EQ(r.hwnd, a);
        EXPECT_EQ(at(r.lp).x, 150) << "relative to the capturing window";
    }
    clear_log();
    EXPECT_TRUE(ReleaseCapture());
    auto changed = messages(a, {WM_CAPTURECHANGED});
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].lp, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    win32::post_mouse_move(151, 50);
    pump();
    EXPECT_EQ(messages(nullptr, kMouse).at(0).hwnd, b);

    // Destroying the capture window ends the capture.
    SetCapture(b);
    DestroyWindow(b);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(UserTest, ClickActivatesAndFocusesUnlessTheWindowDeclines) {
    HWND a = make_window({0, 0, 100, 100}, kRed);
    HWND b = make_window({100, 0, 200, 100}, kGreen);
    HWND quiet = make_window({0, 100, 100, 200}, kBlue, WS_POPUP | WS_VISIBLE, WS_EX_NOACTIVATE);
    pump();
    EXPECT_EQ(GetActiveWindow(), b) << "shown last, active; the no-activate window was not";
    clear_log();
    click(50, 50);
    EXPECT_EQ(GetActiveWindow(), a);
    EXPECT_EQ(GetFocus(), a);
    auto act = messages(nullptr, {WM_ACTIVATE});
    ASSERT_EQ(act.size(), 2u);
    EXPECT_EQ(act[0].hwnd, b);
    EXPECT_EQ(LOWORD(act[0].wp), WA_INACTIVE);
    EXPECT_EQ(act[1].hwnd, a);
    EXPECT_EQ(LOWORD(act[1].wp), WA_CLICKACTIVE);
    EXPECT_EQ(act[1].lp, reinterpret_cast<LPARAM>(b));
    auto order = ids(messages(a, {WM_MOUSEACTIVATE, WM_ACTIVATE, WM_SETFOCUS, WM_LBUTTONDOWN}));
    EXPECT_EQ(order, (std::vector<UINT>{WM_MOUSEACTIVATE, WM_ACTIVATE, WM_SETFOCUS, WM_LBUTTONDOWN}));
    clear_log();
    click(50, 150);
    EXPECT_EQ(GetActiveWindow(), a) << "the no-activate window takes the click only";
    EXPECT_EQ(messages(quiet, {WM_LBUTTONDOWN}).size(), 1u);
}

TEST_F(UserTest, DisabledWindowsTakeNoInput) {
    HWND h = make_window({0, 0, 100, 100}, kRed);
    HWND kid = make_window({10, 10, 50, 50}, kBlue, WS_CHILD | WS_VISIBLE, 0, h);
    pump();
    SetFocus(kid);
    clear_log();
    EXPECT_FALSE(EnableWindow(kid, FALSE));
    EXPECT_EQ(GetFocus(), nullptr) << "a disabled window loses the focus";
    EXPECT_FALSE(IsWindowEnabled(kid));
    click(20, 20);  // falls through to the parent
    EXPECT_EQ(messages(h, {WM_LBUTTONDOWN}).size(), 1u);
    EXPECT_TRUE(messages(kid, {WM_LBUTTONDOWN}).empty());
    EXPECT_EQ(messages(kid, {WM_ENABLE}).size(), 1u);
    EXPECT_EQ(SetFocus(kid), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_FALSE(EnableWindow(h, FALSE));
    clear_log();
    click(80, 80);
    EXPECT_TRUE(messages(nullptr, kMouse).empty());
    EXPECT_TRUE(EnableWindow(h, TRUE)) << "it was disabled";
}

TEST_F(UserTest, KeysGoToTheFocusWindowAndSetKeyState) {
    HWND h = make_window({0, 0, 100, 100}, kRed);
    HWND edit = make_window({0, 0, 50, 50}, kBlue, WS_CHILD | WS_VISIBLE, 0, h);
    pump();
    EXPECT_EQ(SetFocus(edit), h);
    clear_log();
    const SHORT caps_before = GetKeyState(VK_CAPITAL) & 1;
    win32::post_key(VK_CAPITAL, true);
    win32::post_key(VK_CAPITAL, false);
    win32::post_key('A', true);
    win32::post_key('A', false);
    win32::post_key(VK_ESCAPE, true);
    pump();
    auto keys = messages(nullptr, {WM_KEYDOWN, WM_KEYUP, WM_CHAR});
    ASSERT_EQ(keys.size(), 7u);
    for (const Record& r : keys) EXPECT_EQ(r.hwnd, edit);
    EXPECT_EQ(keys[2].msg, UINT(WM_KEYDOWN));
    EXPECT_EQ(keys[2].wp, WPARAM('A'));
    EXPECT_EQ(keys[3].msg, UINT(WM_CHAR)) << "TranslateMessage";
    EXPECT_EQ(keys[3].wp, WPARAM('a'));
    EXPECT_EQ(keys[4].msg, UINT(WM_KEYUP));
    EXPECT_EQ(uint32_t(keys[4].lp) >> 30, 3u) << "previous state and transition bits";
    EXPECT_TRUE(GetKeyState(VK_ESCAPE) & 0x8000);
    EXPECT_NE(GetKeyState(VK_CAPITAL) & 1, caps_before) << "toggled";
    win32::post_key(VK_ESCAPE, false);
    pump();
    EXPECT_FALSE(GetKeyState(VK_ESCAPE) & 0x8000);
}

TEST_F(UserTest, TransparentHitTestLetsTheMouseThrough) {
    struct Through {
        static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
            if (msg == WM_NCHITTEST) return HTTRANSPARENT;
            return recording_proc(h, msg, wp, lp);
        }
    };
    WNDCLASSA wc{};
    wc.lpfnWndProc = Through::proc;
    wc.lpszClassName = "KdThrough";
    RegisterClassA(&wc);
    HWND below = make_window({0, 0, 100, 100}, kRed);
    HWND hint = CreateWindowExA(WS_EX_TOPMOST, "KdThrough", "", WS_POPUP, 10, 10, 50, 50, nullptr,
                                nullptr, nullptr, nullptr);
    SetWindowPos(hint, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
    pump();
    EXPECT_EQ(GetActiveWindow(), below);
    clear_log();
    click(20, 20);
    EXPECT_EQ(messages(below, {WM_LBUTTONDOWN}).size(), 1u);
    EXPECT_TRUE(messages(hint, {WM_LBUTTONDOWN}).empty());
}

std::vector<MSG> hooked;
HHOOK first_hook, second_hook;
int second_calls = 0;
LRESULT CALLBACK first_hook_proc(int code, WPARAM wp, LPARAM lp) {
    hooked.push_back(*reinterpret_cast<MSG*>(lp));
    return CallNextHookEx(first_hook, code, wp, lp);
}
LRESULT CALLBACK second_hook_proc(int code, WPARAM wp, LPARAM lp) {
    ++second_calls;
    return CallNextHookEx(second_hook, code, wp, lp);
}

TEST_F(UserTest, GetMessageHookSeesEveryMessageTaken) {
    HWND h = make_window({0, 0, 100, 100}, kRed);
    pump();
    hooked.clear();
    second_calls = 0;
    EXPECT_EQ(SetWindowsHookExA(99, first_hook_proc, nullptr, 0), nullptr) << "unknown kind";
    EXPECT_EQ(SetWindowsHookExA(WH_GETMESSAGE, nullptr, nullptr, 0), nullptr);
    second_hook = SetWindowsHookExA(WH_GETMESSAGE, second_hook_proc, nullptr, GetCurrentThreadId());
    first_hook = SetWindowsHookExA(WH_GETMESSAGE, first_hook_proc, nullptr, GetCurrentThreadId());
    ASSERT_NE(first_hook, nullptr);
    PostMessageA(h, WM_USER, 1, 2);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
    win32::post_mouse_move(5, 5);
    InvalidateRect(h, nullptr, FALSE);
    SetTimer(h, 3, 10, nullptr);
    std::vector<UINT> dispatched;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        dispatched.push_back(m.message);
        DispatchMessageA(&m);
        if (m.message == WM_TIMER) break;
    }
    KillTimer(h, 3);
    std::vector<UINT> seen;
    for (const MSG& x : hooked) seen.push_back(x.message);
    EXPECT_EQ(seen, dispatched);
    for (UINT want : {UINT(WM_USER), UINT(WM_USER + 1), UINT(WM_MOUSEMOVE), UINT(WM_PAINT), UINT(WM_TIMER)})
        EXPECT_NE(std::find(seen.begin(), seen.end(), want), seen.end()) << want;
    EXPECT_EQ(size_t(second_calls), hooked.size()) << "the chain goes on";

    ASSERT_TRUE(UnhookWindowsHookEx(first_hook));
    EXPECT_FALSE(UnhookWindowsHookEx(first_hook));
    ASSERT_TRUE(UnhookWindowsHookEx(second_hook));
    hooked.clear();
    PostMessageA(h, WM_USER, 0, 0);
    pump();
    EXPECT_TRUE(hooked.empty());
}

}  // namespace
