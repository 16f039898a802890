// Helpers of the tests that run framework code on the headless screen.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "forms.h"
#include "win32/gui_ext.h"
#include "win32/kernel.h"

namespace ui_test {

// Every test program here draws on the in-memory screen, display or not.
inline const bool headless_screen = [] {
    setenv("WIN32_VIDEO", "headless", 1);
    return true;
}();

// Handles what is waiting, input included, as the application's loop would.
inline void pump() {
    for (int i = 0; i < 1000; ++i) {
        Application->ProcessMessages();
        if (!win32::input_pending()) break;
    }
    Application->ProcessMessages();
}

// A colour as the screen reports it, 0x00RRGGBB.
inline uint32_t rgb_of(TColor c) {
    const COLORREF r = ColorToRGB(c);
    return uint32_t(GetRValue(r)) << 16 | uint32_t(GetGValue(r)) << 8 | GetBValue(r);
}

// The stand-in's local clock starts at `iso` when next read and runs on.
// Only a new setting restarts it, so another one is read first.
inline void set_clock(const char* iso) {
    SYSTEMTIME st;
    setenv("WIN32_CLOCK", "2000-01-01T00:00:00", 1);
    GetLocalTime(&st);
    setenv("WIN32_CLOCK", iso, 1);
    GetLocalTime(&st);
}

}  // namespace ui_test
