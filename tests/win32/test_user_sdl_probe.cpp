// Shows a known picture through the SDL presentation, then photographs the
// X screen with xwd: run by test_user_sdl under xvfb-run.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "win32/gui_ext.h"
#include "win32/user.h"

namespace {

LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_PAINT) return DefWindowProcA(h, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    const COLORREF colors[] = {RGB(200, 0, 0), RGB(0, 160, 0), RGB(0, 0, 220), RGB(250, 250, 0)};
    for (int i = 0; i < 4; ++i) {
        HBRUSH b = CreateSolidBrush(colors[i]);
        HGDIOBJ old = SelectObject(dc, b);
        PatBlt(dc, (i % 2) * 160, (i / 2) * 120, 160, 120, PATCOPY);
        SelectObject(dc, old);
        DeleteObject(b);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 10, 10, "SDL \xd6\xd0\xce\xc4", 8);
    EndPaint(h, &ps);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    setenv("WIN32_VIDEO", "sdl", 1);
    setenv("WIN32_SCREEN", "320x240x32", 1);
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = "Probe";
    RegisterClassA(&wc);
    HWND h = CreateWindowExA(0, "Probe", "", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr,
                             nullptr, nullptr, nullptr);
    if (!h || std::string(win32::video_backend()) != "sdl") return 3;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    MSG m;
    while (std::chrono::steady_clock::now() < end) {
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!win32::save_screenshot((dir + "/screen.png").c_str())) return 4;
    const std::string cmd = "xwd -root -silent -out '" + dir + "/root.xwd'";
    return std::system(cmd.c_str()) == 0 ? 0 : 5;
}
