// Shared set-up for the window-system tests: a window class whose windows
// record every message and paint themselves in a colour of their own, a
// message pump, and a fresh screen per test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "win32/gui_ext.h"
#include "win32/user.h"

namespace user_test {

// The tests look at the in-memory screen, whatever display is around.
inline const bool headless_screen = [] {
    setenv("WIN32_VIDEO", "headless", 1);
    return true;
}();

struct Record {
    HWND hwnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    DWORD thread;
};

inline std::mutex log_mutex;
inline std::vector<Record> log;

inline void clear_log() {
    std::lock_guard lock(log_mutex);
    log.clear();
}

// The messages of one window (or all), in order, optionally only some kinds.
inline std::vector<Record> messages(HWND h = nullptr, std::vector<UINT> kinds = {}) {
    std::lock_guard lock(log_mutex);
    std::vector<Record> out;
    for (const Record& r : log) {
        if (h && r.hwnd != h) continue;
        if (!kinds.empty() && std::find(kinds.begin(), kinds.end(), r.msg) == kinds.end()) continue;
        out.push_back(r);
    }
    return out;
}

inline std::vector<UINT> ids(const std::vector<Record>& records) {
    std::vector<UINT> out;
    for (const Record& r : records) out.push_back(r.msg);
    return out;
}

// Paints its whole update region in the colour kept in GWL_USERDATA.
inline LRESULT CALLBACK recording_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    {
        std::lock_guard lock(log_mutex);
        log.push_back({h, msg, wp, lp, GetCurrentThreadId()});
    }
    if (msg == WM_PAINT && !wp) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        HBRUSH brush = CreateSolidBrush(COLORREF(GetWindowLongPtrA(h, GWL_USERDATA)));
        HGDIOBJ old = SelectObject(dc, brush);
        RECT c;
        GetClientRect(h, &c);
        PatBlt(dc, 0, 0, c.right, c.bottom, PATCOPY);
        SelectObject(dc, old);
        DeleteObject(brush);
        EndPaint(h, &ps);
        return 0;
    }
    if (msg == WM_PAINT && wp) {
        // A paint message that brings its own DC: paint there, validate nothing.
        HBRUSH brush = CreateSolidBrush(COLORREF(GetWindowLongPtrA(h, GWL_USERDATA)));
        HGDIOBJ old = SelectObject(reinterpret_cast<HDC>(wp), brush);
        RECT c;
        GetClientRect(h, &c);
        PatBlt(reinterpret_cast<HDC>(wp), 0, 0, c.right, c.bottom, PATCOPY);
        SelectObject(reinterpret_cast<HDC>(wp), old);
        DeleteObject(brush);
        return 0;
    }
    return DefWindowProcA(h, msg, wp, lp);
}

inline const char* recording_class() {
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = recording_proc;
        wc.lpszClassName = "KdRecording";
        RegisterClassA(&wc);
        return "KdRecording";
    }();
    return name;
}

inline HWND make_window(RECT r, COLORREF color, DWORD style = WS_POPUP | WS_VISIBLE,
                        DWORD ex = 0, HWND parent = nullptr) {
    HWND h = CreateWindowExA(ex, recording_class(), "", style & ~DWORD(WS_VISIBLE), r.left, r.top,
                             r.right - r.left, r.bottom - r.top, parent, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(h, GWL_USERDATA, LONG_PTR(color));
    if (style & WS_VISIBLE) ShowWindow(h, (ex & WS_EX_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
    return h;
}

// Takes and dispatches messages until the queue stays empty.
inline void pump() {
    MSG m;
    for (int rounds = 0; rounds < 10000; ++rounds) {
        if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (!win32::input_pending()) return;
            continue;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

inline uint32_t rgb(COLORREF c) {
    return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
}

constexpr COLORREF kRed = RGB(200, 0, 0);
constexpr COLORREF kGreen = RGB(0, 160, 0);
constexpr COLORREF kBlue = RGB(0, 0, 220);
constexpr uint32_t kDesktop = 0x008080;

class UserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        clear_log();
    }
    void TearDown() override {
        ReleaseCapture();
        for (HWND h : win32::top_level_windows()) DestroyWindow(h);
        pump();
        for (int vk : {VK_LBUTTON, VK_RBUTTON})
            if (GetKeyState(vk) & 0x8000) win32::post_mouse_button(
                vk == VK_LBUTTON ? win32::MouseButton::Left : win32::MouseButton::Right, false, 0, 0);
        pump();
        clear_log();
    }
};

}  // namespace user_test
