// Block transfers: DIB bits to a device, and BitBlt between DCs.
#include <algorithm>
#include <utility>

#include "dib.h"
#include "gdi_state.h"

using namespace win32::gdi;

namespace {

// A ternary raster operation on raw pixel values: bit k of `code` is the
// result for pattern, source and destination bits (k = P*4 + S*2 + D).
uint32_t rop3(unsigned code, uint32_t p, uint32_t s, uint32_t d) {
    uint32_t out = 0;
    for (unsigned k = 0; k < 8; ++k)
        if (code >> k & 1) out |= (k & 4 ? p : ~p) & (k & 2 ? s : ~s) & (k & 1 ? d : ~d);
    return out;
}

constexpr unsigned kSrcCopy = 0xCC;

// How a source surface's pixels become colours for a destination surface;
// outlives the RowConverter that points into it.
struct SourceColors {
    const Rgb* table;
    std::vector<uint32_t> raw;
    std::vector<Rgb> mono;

    SourceColors(const State& s, const Surface& from, const Surface& to, const DeviceContext& src,
                 const DeviceContext& dst, Encoder& encoder)
        : table(colors_of(s, from)) {
        if (from.device_palette && to.device_palette) {
            // Both hold system palette indices: copied as they are.
            raw.resize(256);
            for (uint32_t i = 0; i < 256; ++i) raw[i] = i;
        } else if (from.monochrome && !to.monochrome) {
            // Monochrome to colour: 0 takes the text colour, 1 the background.
            mono = {rgb_of(dst.text_color), rgb_of(dst.bk_color)};
            table = mono.data();
        } else if (to.monochrome && !from.monochrome) {
            // Colour to monochrome: the source DC's background colour is white.
            encoder = Encoder::background_rule(rgb_of(src.bk_color));
        }
    }
    const uint32_t* raw_table() const { return raw.empty() ? nullptr : raw.data(); }
};

}  // namespace

extern "C" {

// Rows of a bottom-up DIB count from the bottom: ySrc is the lowest row of
// the source rectangle and the bits hold scan lines StartScan .. StartScan
// + cLines - 1 upwards. A top-down DIB counts from the top for both. Only
// rows that are both in the rectangle and in the bits are drawn.
int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc,
                             int ySrc, UINT StartScan, UINT cLines, const void* lpvBits,
                             const BITMAPINFO* lpbmi, UINT ColorUse) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    DibInfo info;
    if (!lpvBits || !parse_dib(lpbmi, ColorUse, info)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (int64_t(StartScan) >= info.height || cLines == 0) return 0;
    const int64_t lines = std::min<int64_t>(cLines, info.height - int64_t(StartScan));
    const int64_t lo = StartScan, hi = lo + lines;

    Surface& t = target_of(s, *dc);
    const RECT clip = clip_of(s, *dc);
    const int64_t x0 = int64_t(xDest) + dc->origin.x, y0 = int64_t(yDest) + dc->origin.y;
    // Column i of the rectangle is source x xSrc + i and target x x0 + i;
    // row j counts down from the rectangle's top on the target.
    const int64_t i0 = std::max({int64_t(0), -int64_t(xSrc), clip.left - x0});
    const int64_t i1 = std::min({int64_t(w), info.width - int64_t(xSrc), clip.right - x0});
    int64_t j0 = std::max(int64_t(0), clip.top - y0);
    int64_t j1 = std::min(int64_t(h), clip.bottom - y0);
    if (info.top_down) {  // row j shows scan line ySrc + j
        j0 = std::max(j0, lo - ySrc);
        j1 = std::min(j1, hi - ySrc);
    } else {  // row j shows scan line ySrc + h - 1 - j
        j0 = std::max(j0, int64_t(ySrc) + int64_t(h) - hi);
        j1 = std::min(j1, int64_t(ySrc) + int64_t(h) - lo);
    }
    if (i0 >= i1 || j0 >= j1) return int(lines);

    Encoder encoder = encoder_for(s, *dc);
    std::vector<uint32_t> raw;
    if (info.pal_colors && info.format.indexed()) {
        raw.resize(info.indices.size());
        for (size_t i = 0; i < raw.size(); ++i)
            raw[i] = palette_index_value(s, *dc, encoder, info.indices[i]);
    }
    RowConverter convert(info.format, info.colors.data(), raw.empty() ? nullptr : raw.data(),
                         encoder);
    const auto* bits = static_cast<const uint8_t*>(lpvBits);
    std::vector<Span> spans;
    for (int64_t j = j0; j < j1; ++j) {
        const int64_t scan = info.top_down ? ySrc + j : int64_t(ySrc) + int64_t(h) - 1 - j;
        clip_spans(s, *dc, y0 + j, spans);
        for (const Span& sp : spans) {
            const int64_t a = std::max(i0, sp.left - x0), b = std::min(i1, sp.right - x0);
            if (a < b)
                convert.convert(bits + (scan - lo) * info.stride, xSrc + a, t.row(y0 + j), x0 + a,
                                b - a);
        }
    }
    return int(lines);
}

// Any ternary raster operation works on raw pixel values, as on Windows
// (BLACKNESS writes pixel value 0, WHITENESS all ones, DSTINVERT flips
// bits); the source is converted to the target's format first. Pixels
// outside either DC's surface are left alone.
BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
                   DWORD rop) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dst = find_dc(s, hdc);
    const unsigned code = (rop >> 16) & 0xFF;
    const bool uses_src = (((code >> 2) ^ code) & 0x33) != 0;
    const bool uses_pat = (((code >> 4) ^ code) & 0x0F) != 0;
    std::shared_ptr<DeviceContext> src = uses_src ? find_dc(s, hdcSrc) : nullptr;
    if (!dst || (uses_src && !src)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int64_t w = cx, h = cy, dx = x, dy = y, sx = x1, sy = y1;
    if (w < 0) {
        dx += w;
        sx += w;
        w = -w;
    }
    if (h < 0) {
        dy += h;
        sy += h;
        h = -h;
    }
    Surface& d = target_of(s, *dst);
    const RECT dclip = clip_of(s, *dst);
    dx += dst->origin.x;
    dy += dst->origin.y;
    int64_t i0 = std::max(int64_t(0), dclip.left - dx), i1 = std::min(w, dclip.right - dx);
    int64_t j0 = std::max(int64_t(0), dclip.top - dy), j1 = std::min(h, dclip.bottom - dy);
    if (src) {
        const RECT sclip = clip_of(s, *src);
        sx += src->origin.x;
        sy += src->origin.y;
        i0 = std::max(i0, sclip.left - sx);
        i1 = std::min(i1, sclip.right - sx);
        j0 = std::max(j0, sclip.top - sy);
        j1 = std::min(j1, sclip.bottom - sy);
    }
    if (i0 >= i1 || j0 >= j1) return TRUE;

    const int bpp = d.format.bpp;
    const uint32_t value_mask = pixel_value_mask(bpp);
    const int64_t n = i1 - i0;
    Encoder encoder = encoder_for(s, *dst);
    BrushPaint paint;
    // A hollow brush paints nothing.
    if (uses_pat && !brush_paint(s, *dst, dst->brush.get(), encoder, paint)) return TRUE;
    // Patterns line up with the DC's logical origin.
    auto pattern = [&](int64_t i, int64_t j) {
        return uses_pat ? paint.at(dx + i - dst->origin.x, dy + j - dst->origin.y) : 0u;
    };

    std::vector<Span> spans;
    // Columns [a, b) of the rectangle that row j may change.
    auto each_span = [&](int64_t j, auto&& body) {
        clip_spans(s, *dst, dy + j, spans);
        for (const Span& sp : spans) {
            const int64_t a = std::max(i0, sp.left - dx), b = std::min(i1, sp.right - dx);
            if (a < b) body(a, b);
        }
    };
    if (!src) {
        for (int64_t j = j0; j < j1; ++j) {
            uint8_t* row = d.row(dy + j);
            each_span(j, [&](int64_t a, int64_t b) {
                for (int64_t i = a; i < b; ++i) {
                    uint32_t v = rop3(code, pattern(i, j), 0, load_pixel(row, dx + i, bpp));
                    store_pixel(row, dx + i, bpp, v & value_mask);
                }
            });
        }
        return TRUE;
    }

    Surface& from = target_of(s, *src);
    SourceColors colors(s, from, d, *src, *dst, encoder);
    RowConverter convert(from.format, colors.table, colors.raw_table(), encoder);
    std::vector<uint8_t> line(size_t(row_bytes(n, bpp)));
    // Within one surface, copy rows away from the overlap first.
    const bool upward = &from == &d && dy > sy;
    for (int64_t k = 0; k < j1 - j0; ++k) {
        const int64_t j = upward ? j1 - 1 - k : j0 + k;
        convert.convert(from.row(sy + j), sx + i0, line.data(), 0, n);
        uint8_t* row = d.row(dy + j);
        each_span(j, [&](int64_t a, int64_t b) {
            if (code == kSrcCopy && bpp >= 8) {
                std::memcpy(row + (dx + a) * (bpp / 8), line.data() + (a - i0) * (bpp / 8),
                            size_t((b - a) * (bpp / 8)));
                return;
            }
            for (int64_t i = a - i0; i < b - i0; ++i) {
                const int64_t at = dx + i0 + i;
                uint32_t v = rop3(code, pattern(i0 + i, j), load_pixel(line.data(), i, bpp),
                                  load_pixel(row, at, bpp));
                store_pixel(row, at, bpp, v & value_mask);
            }
        });
    }
    return TRUE;
}

// Nearest pixel: destination pixel i takes source pixel floor((i + 0.5) *
// sw / dw); a width of opposite sign mirrors. Every stretch mode acts as
// COLORONCOLOR. Destination pixels whose source lies outside the source
// surface are left alone.
BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                       int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
    const unsigned code = (rop >> 16) & 0xFF;
    const bool uses_src = (((code >> 2) ^ code) & 0x33) != 0;
    if (!uses_src || (wDest == wSrc && hDest == hSrc))
        return BitBlt(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, rop);
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dst = find_dc(s, hdcDest);
    auto src = find_dc(s, hdcSrc);
    if (!dst || !src) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Sizes past 2^28 are refused, which keeps the scaling products in range.
    constexpr int64_t kMaxSize = 1 << 28;
    for (int64_t size : {int64_t(wDest), int64_t(hDest), int64_t(wSrc), int64_t(hSrc)})
        if (size > kMaxSize || size < -kMaxSize) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    if (wDest == 0 || hDest == 0 || wSrc == 0 || hSrc == 0) return TRUE;
    int64_t dx = xDest, dy = yDest, dw = wDest, dh = hDest;
    int64_t sx = xSrc, sy = ySrc, sw = wSrc, sh = hSrc;
    bool flip_x = false, flip_y = false;
    auto normalize = [](int64_t& at, int64_t& size, bool& flip) {
        if (size < 0) {
            at += size;
            size = -size;
            flip = !flip;
        }
    };
    normalize(dx, dw, flip_x);
    normalize(sx, sw, flip_x);
    normalize(dy, dh, flip_y);
    normalize(sy, sh, flip_y);
    dx += dst->origin.x;
    dy += dst->origin.y;
    sx += src->origin.x;
    sy += src->origin.y;
    Surface& d = target_of(s, *dst);
    Surface& from = target_of(s, *src);
    const RECT dclip = clip_of(s, *dst);
    const RECT sclip = clip_of(s, *src);
    const int64_t i0 = std::max(int64_t(0), dclip.left - dx), i1 = std::min(dw, dclip.right - dx);
    const int64_t j0 = std::max(int64_t(0), dclip.top - dy), j1 = std::min(dh, dclip.bottom - dy);
    if (i0 >= i1 || j0 >= j1) return TRUE;
    auto source_of = [](int64_t i, int64_t size, int64_t from_size, bool flip) {
        int64_t k = (2 * i + 1) * from_size / (2 * size);
        return flip ? from_size - 1 - k : k;
    };

    const int bpp = d.format.bpp;
    const uint32_t value_mask = pixel_value_mask(bpp);
    Encoder encoder = encoder_for(s, *dst);
    encoder.enable_cache();
    BrushPaint paint;
    const bool uses_pat = (((code >> 4) ^ code) & 0x0F) != 0;
    if (uses_pat && !brush_paint(s, *dst, dst->brush.get(), encoder, paint)) return TRUE;
    SourceColors colors(s, from, d, *src, *dst, encoder);
    RowConverter convert(from.format, colors.table, colors.raw_table(), encoder);
    // The source columns the clipped destination reads, converted once per row.
    const int64_t k_lo = std::min(source_of(i0, dw, sw, flip_x), source_of(i1 - 1, dw, sw, flip_x));
    const int64_t k_hi = std::max(source_of(i0, dw, sw, flip_x), source_of(i1 - 1, dw, sw, flip_x));
    const int64_t c0 = std::max(sx + k_lo, int64_t(sclip.left));
    const int64_t c1 = std::min(sx + k_hi + 1, int64_t(sclip.right));
    if (c0 >= c1) return TRUE;
    std::vector<uint8_t> line(size_t(row_bytes(c1 - c0, bpp)));
    std::vector<Span> spans;
    for (int64_t j = j0; j < j1; ++j) {
        const int64_t srow = sy + source_of(j, dh, sh, flip_y);
        if (srow < sclip.top || srow >= sclip.bottom) continue;
        convert.convert(from.row(srow), c0, line.data(), 0, c1 - c0);
        clip_spans(s, *dst, dy + j, spans);
        uint8_t* row = d.row(dy + j);
        for (const Span& sp : spans) {
            const int64_t a = std::max(i0, sp.left - dx), b = std::min(i1, sp.right - dx);
            for (int64_t i = a; i < b; ++i) {
                const int64_t col = sx + source_of(i, dw, sw, flip_x);
                if (col < c0 || col >= c1) continue;
                const uint32_t p = uses_pat ? paint.at(dx + i - dst->origin.x, dy + j - dst->origin.y) : 0;
                const uint32_t v = rop3(code, p, load_pixel(line.data(), col - c0, bpp),
                                        load_pixel(row, dx + i, bpp));
                store_pixel(row, dx + i, bpp, v & value_mask);
            }
        }
    }
    return TRUE;
}

int WINAPI SetStretchBltMode(HDC hdc, int mode) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    return std::exchange(dc->stretch_mode, mode);
}

}  // extern "C"
