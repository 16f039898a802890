// Seams of the gui part for the rest of the stand-in (window system,
// presentations) and for tests. Not Windows API: code above win32/ does not
// use it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "win32/gdi.h"

namespace win32 {

// ---- The virtual screen --------------------------------------------------
struct ScreenMode {
    int width = 1024;
    int height = 768;
    int bits_per_pixel = 32;  // 8, 15, 16, 24 or 32
    bool operator==(const ScreenMode&) const = default;
};

// "WxHxBPP" (as in WIN32_SCREEN); anything malformed or out of range gives
// the default 1024x768x32.
ScreenMode parse_screen_mode(const char* text);
ScreenMode screen_mode();
// The mode ChangeDisplaySettingsA(NULL, 0) returns to.
ScreenMode stored_screen_mode();
// Makes `mode` both the current and the stored mode with a black screen and
// the default system palette, as at start-up. False for a mode the screen
// cannot take (nothing changes then).
bool reset_screen(const ScreenMode& mode);

// A screen pixel as 0x00RRGGBB (through the system palette on 8-bit
// screens); 0xFFFFFFFF outside the screen.
uint32_t screen_pixel(int x, int y);
// The whole screen as 0x00RRGGBB, row by row from the top.
ScreenMode read_screen(std::vector<uint32_t>& pixels);
// Writes the visible screen as an RGB PNG; the path is a host path or a
// Windows one. False if it cannot be written.
bool save_screenshot(const char* png_path);

// Called after every change of the screen's mode (the SDL window follows).
using DisplayModeListener = std::function<void(const ScreenMode&)>;
void set_display_mode_listener(DisplayModeListener listener);

// ShowCursor's display count; the cursor shows while it is >= 0.
int cursor_display_count();

// ---- Window DCs ----------------------------------------------------------
// A DC on the screen whose logical (0, 0) is `origin` and whose drawing
// stays inside `clip` (screen coordinates); given back with ReleaseDC.
HDC create_screen_dc(POINT origin, const RECT& clip);
// Moves such a DC's origin and clip (the window moved or was resized).
bool set_screen_dc_view(HDC hdc, POINT origin, const RECT& clip);

}  // namespace win32
