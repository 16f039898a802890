// Seams of the gui part for the rest of the stand-in (window system,
// presentations) and for tests. Not Windows API: code above win32/ does not
// use it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win32/gdi.h"
#include "win32/user.h"

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
ScreenMode parse_screen_mode(const char* text, bool* ok = nullptr);
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

// ---- Input (headless screens, presentations and tests) -------------------
// Device events as the mouse and keyboard make them. The cursor moves at
// once (GetCursorPos); the messages reach the window under the cursor, the
// capture or the focus window when its thread next takes messages.
enum class MouseButton { Left, Right, Middle };
void post_mouse_move(int x, int y);
void post_mouse_button(MouseButton button, bool down, int x, int y);
void post_key(int virtual_key, bool down);
// True while device events wait to become messages.
bool input_pending();
// Top-level windows, top of the z-order first.
std::vector<HWND> top_level_windows();

// ---- Presentation, scripts and message boxes ----------------------------
// The screen the window system shows: "sdl" or "headless" (WIN32_VIDEO,
// chosen when the first window, hook or input appears).
const char* video_backend();
// Runs lines of the input-script language (as in WIN32_SCRIPT: "move x y",
// "down left x y", "up left x y", "click left x y", "key 27", "wait ms",
// "answer yes", "shot file.png", "quit") on a thread of its own. False,
// and nothing runs, when a line cannot be read.
bool start_script(const std::string& text);
// Waits for the running script to finish.
void wait_script();
// Blocks until the window system has nothing left to do (no input, posted
// message or paint waiting), at most `timeout_ms`; false on time-out.
bool wait_until_idle(int timeout_ms);
// The answer of the next message box (IDOK, IDYES, ...). In headless runs
// a box with no answer queued and no script running answers its default.
void queue_message_box_answer(int answer);

// ---- Cursors -------------------------------------------------------------
// A cursor resource of the program (the bytes of a .CUR file), found by
// LoadCursorA under its name (case-insensitive) or MAKEINTRESOURCE number.
void register_cursor_resource(const char* name, std::vector<uint8_t> cur_file);
// An icon resource of the program (the bytes of a .ICO file), found by
// LoadIconA in the same way.
void register_icon_resource(const char* name, std::vector<uint8_t> ico_file);
struct CursorImage {
    int width = 0, height = 0;
    int hot_x = 0, hot_y = 0;
    // Per pixel, row by row: AND mask bit and XOR mask bit.
    std::vector<uint8_t> and_mask, xor_mask;
};
// The image of a cursor handle; false for a bad handle.
bool cursor_image(HCURSOR cursor, CursorImage& out);

}  // namespace win32
