// The virtual screen: its mode, the display-mode switch, screen DCs,
// system metrics and the cursor's display count.
#include <atomic>
#include <charconv>
#include <cstddef>
#include <cstring>

#include "gdi_state.h"
#include "wm.h"

using namespace win32::gdi;
using win32::DisplayModeListener;
using win32::ScreenMode;

namespace {

std::atomic<int> cursor_count{0};

// A DEVMODE field as an int; anything past the largest screen is refused
// by the mode check anyway.
int field(DWORD value) { return value > 65536 ? -1 : int(value); }

}  // namespace

namespace win32 {

ScreenMode parse_screen_mode(const char* text, bool* ok) {
    if (ok) *ok = false;
    if (!text) return ScreenMode{};
    const char* p = text;
    const char* end = text + std::strlen(text);
    int values[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (p == end || *p < '0' || *p > '9') return ScreenMode{};
        auto [next, ec] = std::from_chars(p, end, values[i]);
        if (ec != std::errc()) return ScreenMode{};
        p = next;
        if (i < 2) {
            if (p == end || (*p != 'x' && *p != 'X')) return ScreenMode{};
            ++p;
        }
    }
    ScreenMode mode{values[0], values[1], values[2]};
    if (p != end || !valid_mode(mode)) return ScreenMode{};
    if (ok) *ok = true;
    return mode;
}

ScreenMode screen_mode() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.screen.mode;
}

ScreenMode stored_screen_mode() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.screen.stored;
}

bool reset_screen(const ScreenMode& mode) {
    DisplayModeListener listener;
    std::function<void()> follower;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        if (!set_screen_mode(s, mode)) return false;
        s.screen.stored = mode;
        listener = s.listener;
        follower = s.window_system_listener;
    }
    if (follower) follower();
    if (listener) listener(mode);
    return true;
}

uint32_t screen_pixel(int x, int y) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    const Surface& t = s.screen.surface;
    if (x < 0 || y < 0 || x >= t.width || y >= t.height) return 0xFFFFFFFFu;
    return surface_pixel(s, t, x, y);
}

ScreenMode read_screen(std::vector<uint32_t>& pixels) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    Surface& t = s.screen.surface;
    pixels.assign(size_t(t.width) * size_t(t.height), 0);
    Encoder rgb32 = Encoder::direct(format_888(32));
    RowConverter convert(t.format, colors_of(s, t), nullptr, rgb32);
    for (int y = 0; y < t.height; ++y) {
        auto* out = reinterpret_cast<uint8_t*>(pixels.data() + size_t(y) * size_t(t.width));
        convert.convert(t.row(y), 0, out, 0, t.width);
    }
    return s.screen.mode;
}

void set_display_mode_listener(DisplayModeListener listener) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.listener = std::move(listener);
}

int cursor_display_count() { return cursor_count.load(); }

HDC create_screen_dc(POINT origin, const RECT& clip) {
    return gdi::create_view_dc(origin, clip, nullptr);
}

}  // namespace win32

namespace win32::gdi {

HDC create_view_dc(POINT origin, const RECT& clip, std::shared_ptr<const Region> visible) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = make_dc(s, false);
    dc->from_get_dc = true;
    dc->origin = origin;
    dc->clipped = true;
    dc->clip = clip;
    dc->visible = std::move(visible);
    return reinterpret_cast<HDC>(dc->handle);
}

HDC create_window_dc(POINT origin, const Region& visible) {
    return create_view_dc(origin, visible.bounds(), std::make_shared<const Region>(visible));
}

bool set_window_dc_view(HDC hdc, POINT origin, const Region& visible) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc || dc->memory) return false;
    dc->origin = origin;
    dc->clipped = true;
    dc->clip = visible.bounds();
    dc->visible = std::make_shared<const Region>(visible);
    return true;
}

}  // namespace win32::gdi

namespace win32 {

bool set_screen_dc_view(HDC hdc, POINT origin, const RECT& clip) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc || dc->memory) return false;
    dc->origin = origin;
    dc->clipped = true;
    dc->clip = clip;
    dc->visible.reset();
    return true;
}

}  // namespace win32

extern "C" {

HDC WINAPI GetDC(HWND hWnd) {
    if (hWnd) return win32::wm::window_dc(hWnd);
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = make_dc(s, false);
    dc->from_get_dc = true;
    return reinterpret_cast<HDC>(dc->handle);
}

int WINAPI ReleaseDC(HWND, HDC hDC) {
    win32::wm::forget_dc(hDC);
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hDC);
    if (!dc || !dc->from_get_dc) return 0;
    release_dc_objects(*dc);
    s.objects.erase(dc->handle);
    return 1;
}

LONG WINAPI ChangeDisplaySettingsA(LPDEVMODEA lpDevMode, DWORD dwFlags) {
    DisplayModeListener listener;
    std::function<void()> follower;
    ScreenMode wanted;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        if (!lpDevMode) {
            wanted = s.screen.stored;
        } else {
            // The record must at least reach the fields that matter.
            if (lpDevMode->dmSize < offsetof(DEVMODEA, dmDisplayFlags)) return DISP_CHANGE_BADMODE;
            wanted = s.screen.mode;
            const DWORD f = lpDevMode->dmFields;
            if (f & DM_BITSPERPEL) wanted.bits_per_pixel = field(lpDevMode->dmBitsPerPel);
            if (f & DM_PELSWIDTH) wanted.width = field(lpDevMode->dmPelsWidth);
            if (f & DM_PELSHEIGHT) wanted.height = field(lpDevMode->dmPelsHeight);
        }
        if (!valid_mode(wanted)) return DISP_CHANGE_BADMODE;
        if (dwFlags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;
        if (wanted != s.screen.mode) {
            if (!set_screen_mode(s, wanted)) return DISP_CHANGE_FAILED;
            listener = s.listener;
            follower = s.window_system_listener;
        }
        if (lpDevMode && (dwFlags & CDS_UPDATEREGISTRY)) s.screen.stored = wanted;
    }
    if (follower) follower();
    if (listener) listener(wanted);
    return DISP_CHANGE_SUCCESSFUL;
}

int WINAPI GetSystemMetrics(int nIndex) {
    switch (nIndex) {
    case SM_CXSCREEN: return win32::screen_mode().width;
    case SM_CYSCREEN: return win32::screen_mode().height;
    case SM_MOUSEPRESENT: return 1;
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    default: return 0;
    }
}

int WINAPI ShowCursor(BOOL bShow) { return bShow ? ++cursor_count : --cursor_count; }

}  // extern "C"
