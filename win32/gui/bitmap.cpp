// Bitmaps: DIB sections, device bitmaps, single pixels.
#include <climits>
#include <cstring>

#include "dib.h"
#include "gdi_state.h"

using namespace win32::gdi;

namespace win32::gdi {

bool parse_dib(const BITMAPINFO* bmi, UINT usage, DibInfo& out) {
    if (!bmi || (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS)) return false;
    // The 40-byte header and its later extensions (52, 56, 108, 124 bytes);
    // the size is checked before the rest is read.
    DWORD size;
    std::memcpy(&size, bmi, sizeof size);
    if (size != 40 && size != 52 && size != 56 && size != 108 && size != 124) return false;
    BITMAPINFOHEADER h;
    std::memcpy(&h, bmi, sizeof h);
    if (h.biPlanes != 1) return false;
    const int bpp = h.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    // Dimensions beyond 32767 are refused, which keeps every offset below
    // well inside 64-bit arithmetic.
    if (h.biWidth <= 0 || h.biWidth > 32767) return false;
    if (h.biHeight == 0 || h.biHeight < -32767 || h.biHeight > 32767) return false;

    const auto* raw = reinterpret_cast<const uint8_t*>(bmi);
    DWORD table_offset = size;
    if (h.biCompression == BI_RGB) {
        out.format = format_bi_rgb(bpp);
    } else if (h.biCompression == BI_BITFIELDS) {
        // The masks follow a 40-byte header and sit inside the longer ones:
        // at offset 40 either way.
        DWORD masks[3];
        std::memcpy(masks, raw + 40, sizeof masks);
        if (!valid_masks(bpp, masks[0], masks[1], masks[2]) || bpp == 24) return false;
        out.format = PixelFormat{bpp, masks[0], masks[1], masks[2]};
        if (size == 40) table_offset += 12;
    } else {
        return false;  // compressed DIBs are not drawn here
    }

    out.width = h.biWidth;
    out.top_down = h.biHeight < 0;
    out.height = out.top_down ? -h.biHeight : h.biHeight;
    out.stride = row_bytes(out.width, bpp);
    out.pal_colors = usage == DIB_PAL_COLORS;
    out.colors.clear();
    out.indices.clear();
    out.color_count = 0;
    if (bpp <= 8) {
        const DWORD full = 1u << bpp;
        const DWORD used = h.biClrUsed == 0 || h.biClrUsed > full ? full : h.biClrUsed;
        out.color_count = int(used);
        if (out.pal_colors) {
            out.indices.assign(full, 0);
            std::memcpy(out.indices.data(), raw + table_offset, used * sizeof(uint16_t));
        } else {
            out.colors.assign(full, 0);
            for (DWORD i = 0; i < used; ++i) {
                RGBQUAD q;
                std::memcpy(&q, raw + table_offset + i * sizeof q, sizeof q);
                out.colors[i] = make_rgb(q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
        }
    }
    return true;
}

}  // namespace win32::gdi

namespace {

// Target coordinates of a logical point, when it lies inside the DC's clip.
bool locate(State& s, DeviceContext& dc, int x, int y, int64_t& tx, int64_t& ty) {
    tx = int64_t(x) + dc.origin.x;
    ty = int64_t(y) + dc.origin.y;
    return clip_contains(s, dc, tx, ty);
}

}  // namespace

extern "C" {

HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                HANDLE hSection, DWORD offset) {
    (void)offset;
    if (ppvBits) *ppvBits = nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    DibInfo info;
    // File-mapping sections are not offered.
    if (hSection || !parse_dib(pbmi, usage, info)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The DC is needed for palette indices only, but a bad one is an error
    // either way.
    std::shared_ptr<DeviceContext> dc = hdc ? find_dc(s, hdc) : nullptr;
    const bool needs_dc = info.pal_colors && info.format.indexed();
    if ((hdc || needs_dc) && !dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto bitmap = std::make_shared<Bitmap>();
    Surface& t = bitmap->surface;
    if (!t.allocate(info.width, info.height, info.format, info.top_down)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (info.format.indexed()) {
        t.color_count = info.color_count;
        if (needs_dc) {
            // Palette indices are resolved once, through the DC's palette now.
            const std::vector<PALETTEENTRY> none;
            const auto& entries = dc->palette ? dc->palette->entries : none;
            for (int i = 0; i < info.color_count && !entries.empty(); ++i) {
                unsigned index = info.indices[size_t(i)];
                if (index >= entries.size()) index = 0;
                t.colors[size_t(i)] = rgb_of(entries[index]);
            }
        } else {
            t.colors = info.colors;
        }
    }
    bitmap->dib_section = true;
    add_object(s, bitmap);
    if (ppvBits) *ppvBits = t.bits;
    return reinterpret_cast<HBITMAP>(bitmap->handle);
}

// A bitmap in the format of what the DC draws on: the screen's, or that of
// the bitmap selected into a memory DC (so a fresh memory DC gives a
// monochrome one, as on Windows).
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (cx < 0 || cy < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const Surface& model = target_of(s, *dc);
    auto bitmap = std::make_shared<Bitmap>();
    Surface& t = bitmap->surface;
    // A zero size gives Windows' 1x1 monochrome bitmap.
    const bool empty = cx == 0 || cy == 0;
    if (empty) cx = cy = 1;
    const bool mono = empty || model.monochrome;
    const PixelFormat format = mono ? format_indexed(1) : model.format;
    if (!t.allocate(cx, cy, format, true)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (mono) {
        t.monochrome = true;
        t.colors = {0x000000, 0xFFFFFF};
        t.color_count = 2;
    } else if (model.device_palette) {
        t.device_palette = true;
    } else if (format.indexed()) {
        t.colors = model.colors;
        t.color_count = model.color_count;
    }
    add_object(s, bitmap);
    return reinterpret_cast<HBITMAP>(bitmap->handle);
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    int64_t tx, ty;
    if (!dc || !locate(s, *dc, x, y, tx, ty)) return CLR_INVALID;
    return colorref_of(surface_pixel(s, target_of(s, *dc), tx, ty));
}

// Takes RGB colours and PALETTEINDEX values; returns the colour the pixel
// actually got.
COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    int64_t tx, ty;
    if (!dc || !locate(s, *dc, x, y, tx, ty)) return CLR_INVALID;
    Surface& t = target_of(s, *dc);
    Encoder encoder = encoder_for(s, *dc);
    const uint32_t value = (color >> 24) == 0x01
                               ? palette_index_value(s, *dc, encoder, color & 0xFFFF)
                               : encoder.encode(rgb_of(color));
    store_pixel(t.row(ty), tx, t.format.bpp, value);
    return colorref_of(surface_pixel(s, t, tx, ty));
}

}  // extern "C"
