// The window manager's entry points for the GDI files (window DCs).
#pragma once

#include <vector>

#include "win32/user.h"

namespace win32::wm {

// A DC on the window's client area, clipped to its visible part; null
// (ERROR_INVALID_WINDOW_HANDLE) for a bad window.
HDC window_dc(HWND hwnd);
// A window DC goes back: the window stops updating its view.
void forget_dc(HDC hdc);

// True when no input, posted or sent message waits and no shown window
// needs painting.
bool window_system_idle();
// The threads that own windows.
std::vector<DWORD> window_threads();
// Makes sure the window system's seams and its screen are in place.
void ensure_window_system();
// Chooses and starts the screen presentation (WIN32_VIDEO) and the input
// script (WIN32_SCRIPT); called once.
void start_presentation();
bool headless();

}  // namespace win32::wm
