// GDI regions (HRGN), region filling, PatBlt and solid brushes; the system
// colours and the desktop wallpaper setting.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "gdi_state.h"

using namespace win32::gdi;

namespace {

HRGN add_region(State& s, Region r) {
    auto o = std::make_shared<RegionObject>();
    o->region = std::move(r);
    return reinterpret_cast<HRGN>(add_object(s, std::move(o)));
}

int complexity(const Region& r) {
    if (r.empty()) return NULLREGION;
    return r.bands().size() == 1 && r.bands()[0].spans.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

std::shared_ptr<RegionObject> find_region(State& s, HRGN h) {
    return find_as<RegionObject>(s, h, Kind::Region);
}

// The region moved into the DC's target coordinates.
Region on_target(const Region& r, const DeviceContext& dc) {
    Region t = r;
    t.offset(dc.origin.x, dc.origin.y);
    return t;
}

bool solid_brush(State& s, HBRUSH h, Rgb& color) {
    auto b = find_as<Tool>(s, h, Kind::Brush);
    if (!b) return false;
    color = rgb_of(b->color);
    return !b->hollow;
}

// The Windows 98 standard scheme.
constexpr COLORREF kSysColors[] = {
    RGB(192, 192, 192),  // scroll bar
    RGB(0, 128, 128),    // desktop
    RGB(0, 0, 128),      // active caption
    RGB(128, 128, 128),  // inactive caption
    RGB(192, 192, 192),  // menu
    RGB(255, 255, 255),  // window
    RGB(0, 0, 0),        // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(255, 255, 255),  // caption text
    RGB(192, 192, 192),  // active border
    RGB(192, 192, 192),  // inactive border
    RGB(128, 128, 128),  // application workspace
    RGB(0, 0, 128),      // highlight
    RGB(255, 255, 255),  // highlight text
    RGB(192, 192, 192),  // button face
    RGB(128, 128, 128),  // button shadow
    RGB(128, 128, 128),  // grey text
    RGB(0, 0, 0),        // button text
    RGB(192, 192, 192),  // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(0, 0, 0),        // 3-D dark shadow
    RGB(223, 223, 223),  // 3-D light
    RGB(0, 0, 0),        // tooltip text
    RGB(255, 255, 225),  // tooltip background
    RGB(180, 180, 180),  // (unused index 25)
    RGB(0, 0, 255),      // hot-tracked item
    RGB(16, 132, 208),   // gradient of the active caption
    RGB(181, 181, 181),  // gradient of the inactive caption
};

std::mutex wallpaper_mutex;
std::string& current_wallpaper() {
    static auto* w = new std::string;
    return *w;
}

}  // namespace

extern "C" {

HRGN WINAPI CreateRectRgn(int x1, int y1, int x2, int y2) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return add_region(s, Region(RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2),
                                     std::max(y1, y2)}));
}

HRGN WINAPI CreateRoundRectRgn(int x1, int y1, int x2, int y2, int w, int h) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return add_region(s, Region::round_rect(RECT{x1, y1, x2, y2}, w, h));
}

HRGN WINAPI CreatePolygonRgn(const POINT* points, int count, int mode) {
    if (!points || count < 0 || count > 1000000 || (mode != ALTERNATE && mode != WINDING)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Rows times edges bounds the work; past it the region is refused
    // rather than computed for minutes.
    int64_t top = count ? points[0].y : 0, bottom = top;
    for (int i = 1; i < count; ++i) {
        top = std::min<int64_t>(top, points[i].y);
        bottom = std::max<int64_t>(bottom, points[i].y);
    }
    if (std::min<int64_t>(bottom - top, 2 << 20) * count > 100'000'000) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    State& s = state();
    std::lock_guard lock(s.mutex);
    return add_region(s, Region::polygon(points, count, mode == WINDING));
}

int WINAPI CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto d = find_region(s, dst);
    auto a = find_region(s, src1);
    auto b = mode == RGN_COPY ? a : find_region(s, src2);
    if (!d || !a || !b || mode < RGN_AND || mode > RGN_COPY) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR;
    }
    static constexpr RegionOp ops[] = {RegionOp::And, RegionOp::Or, RegionOp::Xor, RegionOp::Diff};
    d->region = mode == RGN_COPY ? a->region : a->region.combine(b->region, ops[mode - 1]);
    return complexity(d->region);
}

int WINAPI OffsetRgn(HRGN h, int x, int y) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto r = find_region(s, h);
    if (!r) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR;
    }
    r->region.offset(x, y);
    return complexity(r->region);
}

BOOL WINAPI PtInRegion(HRGN h, int x, int y) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto r = find_region(s, h);
    return r && r->region.contains(x, y);
}

int WINAPI GetRgnBox(HRGN h, RECT* box) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto r = find_region(s, h);
    if (!r || !box) return ERROR;
    *box = r->region.bounds();
    return complexity(r->region);
}

BOOL WINAPI FillRgn(HDC hdc, HRGN h, HBRUSH brush) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    auto r = find_region(s, h);
    Rgb color = 0;
    if (!dc || !r || !find_as<Tool>(s, brush, Kind::Brush)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (solid_brush(s, brush, color)) fill_region(s, *dc, on_target(r->region, *dc), color);
    return TRUE;
}

// The border of a region: what is left when the region, moved w across and
// h down both ways, no longer covers it.
BOOL WINAPI FrameRgn(HDC hdc, HRGN h, HBRUSH brush, int w, int ht) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    auto r = find_region(s, h);
    Rgb color = 0;
    if (!dc || !r || !find_as<Tool>(s, brush, Kind::Brush) || w < 0 || ht < 0 || w > 65535 ||
        ht > 65535) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!solid_brush(s, brush, color)) return TRUE;
    Region inner = r->region;
    for (auto [dx, dy] : {std::pair{w, 0}, std::pair{-w, 0}, std::pair{0, ht}, std::pair{0, -ht}}) {
        Region moved = r->region;
        moved.offset(dx, dy);
        inner = inner.combine(moved, RegionOp::And);
    }
    fill_region(s, *dc, on_target(r->region.combine(inner, RegionOp::Diff), *dc), color);
    return TRUE;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto t = std::make_shared<Tool>(Kind::Brush);
    t->color = color & 0xFFFFFF;
    return reinterpret_cast<HBRUSH>(add_object(s, std::move(t)));
}

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    const unsigned code = (rop >> 16) & 0xFF;
    // Only operations of pattern and destination; one that reads a source
    // is refused rather than given a made-up one.
    if (((code >> 2) ^ code) & 0x33) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return BitBlt(hdc, x, y, w, h, nullptr, 0, 0, rop);
}

DWORD WINAPI GetSysColor(int index) {
    if (index < 0 || size_t(index) >= sizeof kSysColors / sizeof kSysColors[0]) return 0;
    return kSysColors[index];
}

// The wallpaper is recorded, not shown: the stand-in's desktop is the
// virtual screen's background colour.
BOOL WINAPI SystemParametersInfoA(UINT action, UINT param, LPVOID pv, UINT winini) {
    constexpr UINT kGetDeskWallpaper = 0x0073;
    if (action == SPI_SETDESKWALLPAPER) {
        const char* path = static_cast<const char*>(pv);
        std::string value = path ? std::string(path, strnlen(path, MAX_PATH)) : std::string();
        if (winini & SPIF_UPDATEINIFILE) {
            HKEY key = nullptr;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\desktop", 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
                return FALSE;
            LSTATUS st = RegSetValueExA(key, "Wallpaper", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(value.c_str()),
                                        DWORD(value.size() + 1));
            RegCloseKey(key);
            if (st != ERROR_SUCCESS) return FALSE;
        }
        std::lock_guard lock(wallpaper_mutex);
        current_wallpaper() = std::move(value);
        return TRUE;
    }
    if (action == kGetDeskWallpaper) {
        auto* out = static_cast<char*>(pv);
        if (!out || param == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard lock(wallpaper_mutex);
        const std::string& w = current_wallpaper();
        const size_t n = std::min<size_t>(w.size(), param - 1);
        std::memcpy(out, w.data(), n);
        out[n] = '\0';
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

}  // extern "C"
