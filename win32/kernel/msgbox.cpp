// The message box of a program without a window system: the text goes to
// standard error and the box answers with its default button. The window
// system installs a real dialog through the handler.
#include <cstdio>
#include <mutex>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

std::mutex handler_mutex;
win32::MessageBoxHandler& handler() {
    static win32::MessageBoxHandler* h = new win32::MessageBoxHandler;
    return *h;
}

}  // namespace

void win32::set_message_box_handler(MessageBoxHandler h) {
    std::lock_guard lock(handler_mutex);
    handler() = std::move(h);
}

int win32::default_message_box_answer(UINT type) {
    // The buttons of each box kind, left to right; 0 where there is none.
    static const int buttons[][3] = {
        {IDOK, 0, 0},                  // MB_OK
        {IDOK, IDCANCEL, 0},           // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},  // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},       // MB_YESNOCANCEL
        {IDYES, IDNO, 0},              // MB_YESNO
        {IDRETRY, IDCANCEL, 0},        // MB_RETRYCANCEL
    };
    UINT kind = type & 0xF;
    if (kind >= sizeof buttons / sizeof buttons[0]) kind = 0;
    UINT button = (type >> 8) & 0xF;
    // A default beyond the last button falls back to the first, as Windows does.
    if (button > 2 || buttons[kind][button] == 0) button = 0;
    return buttons[kind][button];
}

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    win32::MessageBoxHandler h;
    {
        std::lock_guard lock(handler_mutex);
        h = handler();
    }
    if (h) return h(hWnd, lpText, lpCaption, uType);
    std::fprintf(stderr, "%s: %s\n", lpCaption ? lpCaption : "Error", lpText ? lpText : "");
    return win32::default_message_box_answer(uType);
}
