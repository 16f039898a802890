// Device contexts and the objects selected into them.
#include <cstring>

#include "gdi_state.h"

using namespace win32::gdi;
using win32::ScreenMode;

namespace {

HGDIOBJ as_handle(const std::shared_ptr<Object>& o) {
    return o ? reinterpret_cast<HGDIOBJ>(o->handle) : nullptr;
}

// Puts `next` into the DC's slot of its kind and returns what was there.
template <typename T>
HGDIOBJ swap_into(std::shared_ptr<T>& slot, const std::shared_ptr<Object>& next) {
    HGDIOBJ previous = as_handle(slot);
    reselect(slot, std::static_pointer_cast<T>(next));
    return previous;
}

}  // namespace

extern "C" {

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    // Every DC here belongs to the one display, so any valid DC will do.
    if (hdc && !find_dc(s, hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HDC>(make_dc(s, true)->handle);
}

BOOL WINAPI DeleteDC(HDC hdc) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Selected objects survive their DC and become free to delete.
    release_dc_objects(*dc);
    s.objects.erase(dc->handle);
    return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    auto object = find_object(s, h);
    if (!dc || !object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    switch (object->kind) {
    case Kind::Bitmap:
        // Only memory DCs take bitmaps, and a bitmap sits in one DC at a time.
        if (!dc->memory) return nullptr;
        if (dc->bitmap == object) return h;
        if (!object->stock && object->selections > 0) return nullptr;
        return swap_into(dc->bitmap, object);
    case Kind::Font: return swap_into(dc->font, object);
    case Kind::Brush: return swap_into(dc->brush, object);
    case Kind::Pen: return swap_into(dc->pen, object);
    case Kind::Palette:  // SelectPalette's job
    case Kind::Region:   // clip regions are the window system's
    case Kind::DC: break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

// An object still selected into a DC is not deleted: FALSE, and it stays
// valid. (Windows answers TRUE and keeps it; pretending success would hide
// the leak, deleting it would leave the DC drawing on freed memory.)
// Bitmaps only: the size and layout of their pixels.
int WINAPI GetObjectA(HGDIOBJ h, int size, LPVOID out) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto bitmap = find_as<Bitmap>(s, h, Kind::Bitmap);
    if (!bitmap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!out) return int(sizeof(BITMAP));
    if (size < int(sizeof(BITMAP))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Surface& surface = bitmap->surface;
    BITMAP b{};
    b.bmWidth = surface.width;
    b.bmHeight = surface.height;
    // Device bitmaps report word-aligned rows, as GDI does; sections their own.
    const int64_t bits = int64_t(surface.width) * surface.format.bpp;
    b.bmWidthBytes = LONG(bitmap->dib_section ? surface.stride : (bits + 15) / 16 * 2);
    b.bmPlanes = 1;
    b.bmBitsPixel = WORD(surface.format.bpp);
    b.bmBits = bitmap->dib_section ? surface.bits : nullptr;
    std::memcpy(out, &b, sizeof b);
    return int(sizeof b);
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto object = find_object(s, ho);
    if (!object || object->kind == Kind::DC) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->stock) return TRUE;
    if (object->selections > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s.objects.erase(object->handle);
    return TRUE;
}

HGDIOBJ WINAPI GetStockObject(int i) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (i < 0 || size_t(i) >= s.stock.size()) return nullptr;
    return s.stock[size_t(i)];
}

// Memory DCs answer for the display they are compatible with.
int WINAPI GetDeviceCaps(HDC hdc, int index) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!find_dc(s, hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const ScreenMode& m = s.screen.mode;
    const bool palette = palette_screen(s);
    switch (index) {
    case HORZRES: return m.width;
    case VERTRES: return m.height;
    case BITSPIXEL: return m.bits_per_pixel;
    case PLANES: return 1;
    case NUMCOLORS: return palette ? 20 : -1;
    case RASTERCAPS:
        return RC_BITBLT | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | (palette ? RC_PALETTE : 0);
    case SIZEPALETTE: return palette ? 256 : 0;
    case NUMRESERVED: return palette ? 20 : 0;
    default: return 0;
    }
}

BOOL WINAPI GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc || !lptm || !dc->font) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lptm = dc->font->metrics;
    return TRUE;
}

}  // extern "C"
