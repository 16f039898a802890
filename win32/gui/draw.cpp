// Pens, pattern brushes and the shapes GDI draws with them: lines,
// rectangles, ellipses, polygons, filled and focus rectangles.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

#include "gdi_state.h"

using namespace win32::gdi;

namespace {

// Shapes are clamped to what regions hold; past that they lie far off any
// surface anyway.
constexpr int64_t kCoordLimit = 1 << 20;
constexpr int kMaxPenWidth = 32767;

int64_t clamp_coord(int64_t v) { return std::clamp(v, -kCoordLimit, kCoordLimit); }

int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A binary raster operation on raw values: bit k of (code - 1) is the
// result for pen and destination bits (k = P*2 + D).
uint32_t rop2(int code, uint32_t p, uint32_t d) {
    const unsigned table = unsigned(code - 1) & 0xF;
    uint32_t out = 0;
    for (unsigned k = 0; k < 4; ++k)
        if (table >> k & 1) out |= (k & 2 ? p : ~p) & (k & 1 ? d : ~d);
    return out;
}

BrushPaint solid_paint(Encoder& encoder, COLORREF color) {
    BrushPaint p;
    p.raw[0] = encoder.encode(rgb_of(color));
    return p;
}

// Draws `area` (target coordinates) through the DC's clip with a binary
// raster operation.
void paint_area(State& s, DeviceContext& dc, const Region& area, const BrushPaint& paint, int code) {
    Surface& t = target_of(s, dc);
    const int bpp = t.format.bpp;
    const uint32_t mask = pixel_value_mask(bpp);
    const RECT c = clip_of(s, dc);
    std::vector<Span> spans, parts;
    for (const Band& band : area.bands()) {
        const int64_t top = std::max<int64_t>(band.top, c.top);
        const int64_t bottom = std::min<int64_t>(band.bottom, c.bottom);
        for (int64_t y = top; y < bottom; ++y) {
            clip_spans(s, dc, y, spans);
            if (spans.empty()) continue;
            parts = combine_spans(spans, band.spans, RegionOp::And);
            uint8_t* row = t.row(y);
            for (const Span& sp : parts)
                for (int64_t x = sp.left; x < sp.right; ++x) {
                    const uint32_t p = paint.at(x - dc.origin.x, y - dc.origin.y);
                    store_pixel(row, x, bpp, rop2(code, p, load_pixel(row, x, bpp)) & mask);
                }
        }
    }
}

using Rows = std::map<int64_t, std::vector<Span>>;

Region region_of(Rows& rows) {
    if (rows.empty()) return Region();
    const int64_t top = rows.begin()->first, bottom = rows.rbegin()->first + 1;
    std::vector<std::vector<Span>> dense(size_t(bottom - top));
    for (auto& [y, spans] : rows) dense[size_t(y - top)] = std::move(spans);
    return Region::from_rows(int32_t(top), std::move(dense));
}

// The pixels of a pen's strokes (target coordinates): `on` in the pen's
// colour, `off` the gaps of a styled pen.
struct Strokes {
    Rows on, off;
    int64_t drawn = 0;  // pixels along the path so far, for the style
};

struct PenInfo {
    bool visible = false;
    int width = 1;
    int style = PS_SOLID;
};

PenInfo pen_info(const DeviceContext& dc) {
    PenInfo p;
    if (!dc.pen || dc.pen->hollow || dc.pen->style == PS_NULL) return p;
    p.visible = true;
    p.width = std::max(1, dc.pen->width);
    // Styles only apply to one-pixel pens, as on Windows.
    p.style = p.width == 1 ? dc.pen->style : PS_SOLID;
    return p;
}

bool style_on(int style, int64_t k) {
    switch (style) {
    case PS_DASH: return k % 24 < 18;
    case PS_DOT: return k % 6 < 3;
    case PS_ALTERNATE: return k % 2 == 0;
    default: return true;
    }
}

// One line from (x0, y0) to (x1, y1) without its last pixel, as GDI draws
// it; only pixels inside `box` (target coordinates, the clip widened by
// the pen) are visited.
template <typename Visit>
void line_pixels(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const RECT& box, Visit&& visit) {
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int64_t n = std::max(std::abs(dx), std::abs(dy));
    if (n == 0) return;
    const bool x_major = std::abs(dx) >= std::abs(dy);
    const int64_t start = x_major ? x0 : y0, step = (x_major ? dx : dy) > 0 ? 1 : -1;
    const int64_t minor_start = x_major ? y0 : x0, minor_d = x_major ? dy : dx;
    const int64_t bmin = x_major ? box.left : box.top, bmax = x_major ? box.right : box.bottom;
    int64_t lo = 0, hi = n;
    if (step > 0) {
        lo = std::max(lo, bmin - start);
        hi = std::min(hi, bmax - start);
    } else {
        lo = std::max(lo, start - bmax + 1);
        hi = std::min(hi, start - bmin + 1);
    }
    for (int64_t i = lo; i < hi; ++i) {
        const int64_t major = start + step * i;
        const int64_t minor = minor_start + floor_div(2 * i * minor_d + n, 2 * n);
        const int64_t x = x_major ? major : minor, y = x_major ? minor : major;
        if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) visit(x, y, i);
    }
}

// Adds one segment of a path (target coordinates) to the strokes.
void stroke_segment(Strokes& out, const PenInfo& pen, const RECT& clip, int64_t x0, int64_t y0,
                    int64_t x1, int64_t y1) {
    const int w = pen.width, half = pen.width / 2;
    const RECT box{LONG(clip.left - w), LONG(clip.top - w), LONG(clip.right + w),
                   LONG(clip.bottom + w)};
    const int64_t base = out.drawn;
    out.drawn += std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    if (w == 1) {
        line_pixels(x0, y0, x1, y1, box, [&](int64_t x, int64_t y, int64_t i) {
            Rows& rows = style_on(pen.style, base + i) ? out.on : out.off;
            rows[y].push_back({int32_t(x), int32_t(x + 1)});
        });
        return;
    }
    // A wide pen: a w x w square around every pixel of the line. Each row
    // of one segment is a single run, so only its ends are kept.
    const int64_t top = std::max<int64_t>(std::min(y0, y1) - half, clip.top);
    const int64_t bottom = std::min<int64_t>(std::max(y0, y1) - half + w, clip.bottom);
    if (top >= bottom) return;
    std::vector<std::pair<int64_t, int64_t>> runs(size_t(bottom - top), {INT64_MAX, INT64_MIN});
    auto stamp = [&](int64_t x, int64_t y) {
        const int64_t a = std::max(y - half, top), b = std::min(y - half + w, bottom);
        for (int64_t r = a; r < b; ++r) {
            auto& run = runs[size_t(r - top)];
            run.first = std::min(run.first, x - half);
            run.second = std::max(run.second, x - half + w);
        }
    };
    if (x0 == x1 && y0 == y1) return;
    line_pixels(x0, y0, x1, y1, box, [&](int64_t x, int64_t y, int64_t) { stamp(x, y); });
    for (size_t r = 0; r < runs.size(); ++r) {
        const auto [a, b] = runs[r];
        if (a >= b) continue;
        const int64_t l = std::max<int64_t>(a, clip.left), rt = std::min<int64_t>(b, clip.right);
        if (l < rt) out.on[top + int64_t(r)].push_back({int32_t(l), int32_t(rt)});
    }
}

// Draws the strokes with the DC's pen and ROP2; the gaps of a styled pen
// take the background colour when the background mode is opaque.
void draw_strokes(State& s, DeviceContext& dc, Strokes& strokes, Encoder& encoder, Region* drawn) {
    Region on = region_of(strokes.on), off = region_of(strokes.off);
    paint_area(s, dc, on, solid_paint(encoder, dc.pen->color), dc.rop2);
    if (dc.bk_mode == OPAQUE) paint_area(s, dc, off, solid_paint(encoder, dc.bk_color), dc.rop2);
    if (drawn) *drawn = on.combine(off, RegionOp::Or);
}

// Outline pixels of a filled shape for a pen of width w: those within w
// pixels of its edge, so the pen stays inside the shape.
Region inner_frame(const Region& shape, int w) {
    Region inner = shape;
    for (auto [dx, dy] : {std::pair{w, 0}, std::pair{-w, 0}, std::pair{0, w}, std::pair{0, -w}}) {
        Region moved = shape;
        moved.offset(dx, dy);
        inner = inner.combine(moved, RegionOp::And);
    }
    return shape.combine(inner, RegionOp::Diff);
}

void fill_shape(State& s, DeviceContext& dc, const Region& area, Encoder& encoder) {
    BrushPaint paint;
    if (brush_paint(s, dc, dc.brush.get(), encoder, paint)) paint_area(s, dc, area, paint, dc.rop2);
}

// The DC's target coordinates of a logical point, clamped.
POINT on_target(const DeviceContext& dc, int64_t x, int64_t y) {
    return POINT{LONG(clamp_coord(x + dc.origin.x)), LONG(clamp_coord(y + dc.origin.y))};
}

RECT normalized_target(const DeviceContext& dc, int l, int t, int r, int b) {
    const POINT a = on_target(dc, std::min(l, r), std::min(t, b));
    const POINT z = on_target(dc, std::max(l, r), std::max(t, b));
    return RECT{a.x, a.y, z.x, z.y};
}

// Draws a path of points (logical) with the pen; `closed` returns to the
// first point. Pixels the pen drew go to `drawn`.
void stroke_path(State& s, DeviceContext& dc, const POINT* pts, int count, bool closed,
                 Encoder& encoder, Region* drawn) {
    const PenInfo pen = pen_info(dc);
    if (!pen.visible || count < 2) return;
    const RECT clip = clip_of(s, dc);
    Strokes strokes;
    for (int k = 0; k + 1 < count + (closed ? 1 : 0); ++k) {
        const POINT a = on_target(dc, pts[k].x, pts[k].y);
        const POINT b = on_target(dc, pts[(k + 1) % count].x, pts[(k + 1) % count].y);
        stroke_segment(strokes, pen, clip, a.x, a.y, b.x, b.y);
    }
    draw_strokes(s, dc, strokes, encoder, drawn);
}

}  // namespace

namespace win32::gdi {

bool brush_paint(State& s, DeviceContext& dc, const Tool* tool, Encoder& encoder, BrushPaint& out) {
    (void)s;
    if (!tool || tool->hollow) return false;
    out = BrushPaint{};
    if (tool->pattern_width <= 0 || tool->pattern_height <= 0) {
        out.raw[0] = encoder.encode(rgb_of(tool->color));
        return true;
    }
    out.width = tool->pattern_width;
    out.height = tool->pattern_height;
    const size_t n = size_t(out.width * out.height);
    for (size_t i = 0; i < n && i < tool->pattern.size(); ++i) {
        Rgb c = tool->pattern[i];
        if (tool->pattern_mono) c = rgb_of(c ? dc.bk_color : dc.text_color);
        out.raw[i] = encoder.encode(c);
    }
    return true;
}

}  // namespace win32::gdi

extern "C" {

HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color) {
    const int style = iStyle & 0xF;
    if ((style != PS_SOLID && style != PS_DASH && style != PS_DOT && style != PS_NULL &&
         style != PS_INSIDEFRAME && style != PS_ALTERNATE) ||
        cWidth > kMaxPenWidth) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto t = std::make_shared<Tool>(Kind::Pen);
    t->color = color & 0xFFFFFF;
    t->style = style == PS_INSIDEFRAME ? PS_SOLID : style;
    t->width = std::max(1, cWidth);  // 0 and below: one pixel
    t->hollow = style == PS_NULL;
    return reinterpret_cast<HPEN>(add_object(s, std::move(t)));
}

// The brush keeps a copy of the bitmap's top-left 8x8 pixels (fewer when
// the bitmap is smaller), so the bitmap may be deleted afterwards.
HBRUSH WINAPI CreatePatternBrush(HBITMAP hbm) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto bitmap = find_as<Bitmap>(s, hbm, Kind::Bitmap);
    if (!bitmap || bitmap->surface.width <= 0 || bitmap->surface.height <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const Surface& from = bitmap->surface;
    auto t = std::make_shared<Tool>(Kind::Brush);
    t->pattern_width = std::min(from.width, 8);
    t->pattern_height = std::min(from.height, 8);
    t->pattern_mono = from.monochrome;
    for (int y = 0; y < t->pattern_height; ++y)
        for (int x = 0; x < t->pattern_width; ++x)
            t->pattern.push_back(from.monochrome ? load_pixel(from.row(y), x, 1)
                                                 : surface_pixel(s, from, x, y));
    return reinterpret_cast<HBRUSH>(add_object(s, std::move(t)));
}

int WINAPI SetROP2(HDC hdc, int rop2) {
    return with_dc(hdc, 0, [&](State&, DeviceContext& dc) -> int {
        if (rop2 < R2_BLACK || rop2 > R2_WHITE) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        return std::exchange(dc.rop2, rop2);
    });
}

int WINAPI GetROP2(HDC hdc) {
    return with_dc(hdc, 0, [](State&, DeviceContext& dc) { return dc.rop2; });
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, POINT* lppt) {
    return with_dc(hdc, BOOL(FALSE), [&](State&, DeviceContext& dc) -> BOOL {
        if (lppt) *lppt = dc.position;
        dc.position = POINT{x, y};
        return TRUE;
    });
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
    return with_dc(hdc, BOOL(FALSE), [&](State& s, DeviceContext& dc) -> BOOL {
        const POINT pts[2] = {dc.position, POINT{x, y}};
        Encoder encoder = encoder_for(s, dc);
        stroke_path(s, dc, pts, 2, false, encoder, nullptr);
        dc.position = pts[1];
        return TRUE;
    });
}

BOOL WINAPI Polyline(HDC hdc, const POINT* apt, int cpt) {
    return with_dc(hdc, BOOL(FALSE), [&](State& s, DeviceContext& dc) -> BOOL {
        if (!apt || cpt < 2) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        Encoder encoder = encoder_for(s, dc);
        stroke_path(s, dc, apt, cpt, false, encoder, nullptr);
        return TRUE;
    });
}

// Alternate fill; the pen outlines the polygon back to its first point and
// the brush fills what the pen left.
BOOL WINAPI Polygon(HDC hdc, const POINT* apt, int cpt) {
    return with_dc(hdc, BOOL(FALSE), [&](State& s, DeviceContext& dc) -> BOOL {
        if (!apt || cpt < 2) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        Encoder encoder = encoder_for(s, dc);
        std::vector<POINT> target(static_cast<size_t>(cpt));
        for (int k = 0; k < cpt; ++k) target[size_t(k)] = on_target(dc, apt[k].x, apt[k].y);
        Region outline;
        stroke_path(s, dc, apt, cpt, true, encoder, &outline);
        const RECT clip = clip_of(s, dc);
        Region fill = Region::polygon(target.data(), cpt, false, clip.top, clip.bottom);
        fill_shape(s, dc, fill.combine(outline, RegionOp::Diff), encoder);
        return TRUE;
    });
}

// The outline covers left .. right-1 and top .. bottom-1; with a null pen
// the fill is one pixel narrower and shorter, as on Windows.
BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    return with_dc(hdc, BOOL(FALSE), [&](State& s, DeviceContext& dc) -> BOOL {
        Encoder encoder = encoder_for(s, dc);
        const RECT r = normalized_target(dc, left, top, right, bottom);
        if (r.right - r.left < 1 || r.bottom - r.top < 1) return TRUE;
        Region outline;
        if (pen_info(dc).visible) {
            // The path in logical coordinates: stroke_path moves it.
            const LONG l = std::min(left, right), t = std::min(top, bottom);
            const LONG rt = std::max(left, right) - 1, b = std::max(top, bottom) - 1;
            const POINT path[4] = {{l, t}, {rt, t}, {rt, b}, {l, b}};
            if (rt == l || b == t) {
                // One pixel wide or high: the pen covers it all.
                outline = Region(r);
                paint_area(s, dc, outline, solid_paint(encoder, dc.pen->color), dc.rop2);
            } else {
                stroke_path(s, dc, path, 4, true, encoder, &outline);
            }
            fill_shape(s, dc, Region(r).combine(outline, RegionOp::Diff), encoder);
        } else {
            fill_shape(s, dc, Region(RECT{r.left, r.top, r.right - 1, r.bottom - 1}), encoder);
        }
        return TRUE;
    });
}

// The ellipse inscribed in [left, right) x [top, bottom); the pen draws
// inside it, solid.
BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    return with_dc(hdc, BOOL(FALSE), [&](State& s, DeviceContext& dc) -> BOOL {
        Encoder encoder = encoder_for(s, dc);
        RECT r = normalized_target(dc, left, top, right, bottom);
        const PenInfo pen = pen_info(dc);
        if (!pen.visible) {
            --r.right;
            --r.bottom;
        }
        if (r.right - r.left < 1 || r.bottom - r.top < 1) return TRUE;
        // Rows a pen's width beyond the clip still shape the outline inside it.
        const RECT clip = clip_of(s, dc);
        const int64_t margin = pen.visible ? pen.width : 0;
        const Region shape = Region::round_rect(r, r.right - r.left, r.bottom - r.top,
                                                int64_t(clip.top) - margin, int64_t(clip.bottom) + margin);
        Region outline;
        if (pen.visible) {
            outline = inner_frame(shape, pen.width);
            paint_area(s, dc, outline, solid_paint(encoder, dc.pen->color), dc.rop2);
        }
        fill_shape(s, dc, shape.combine(outline, RegionOp::Diff), encoder);
        return TRUE;
    });
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    const auto value = reinterpret_cast<uintptr_t>(hbr);
    const bool system_color = value >= 1 && value <= 31;  // (HBRUSH)(COLOR_xxx + 1)
    const COLORREF sys = system_color ? GetSysColor(int(value - 1)) : 0;
    return with_dc(hDC, 0, [&](State& s, DeviceContext& dc) -> int {
        auto tool = system_color ? nullptr : find_as<Tool>(s, hbr, Kind::Brush);
        if (!lprc || (!system_color && !tool)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (lprc->right <= lprc->left || lprc->bottom <= lprc->top) return 1;
        Encoder encoder = encoder_for(s, dc);
        BrushPaint paint;
        if (system_color)
            paint = solid_paint(encoder, sys);
        else if (!brush_paint(s, dc, tool.get(), encoder, paint))
            return 1;
        const RECT r = normalized_target(dc, lprc->left, lprc->top, lprc->right, lprc->bottom);
        paint_area(s, dc, Region(r), paint, R2_COPYPEN);
        return 1;
    });
}

// A one-pixel frame whose every other pixel (by x + y on the DC) is
// inverted, so drawing it again restores what was there.
BOOL WINAPI DrawFocusRect(HDC hDC, const RECT* lprc) {
    return with_dc(hDC, BOOL(FALSE), [&](State& s, DeviceContext& dc) -> BOOL {
        if (!lprc) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (lprc->right <= lprc->left || lprc->bottom <= lprc->top) return TRUE;
        const RECT r = normalized_target(dc, lprc->left, lprc->top, lprc->right, lprc->bottom);
        const Region shape(r);
        BrushPaint checker;
        checker.width = checker.height = 2;
        const uint32_t all = pixel_value_mask(target_of(s, dc).format.bpp);
        checker.raw = {};
        checker.raw[0] = all;  // (0, 0)
        checker.raw[3] = all;  // (1, 1)
        paint_area(s, dc, inner_frame(shape, 1), checker, R2_XORPEN);
        return TRUE;
    });
}

}  // extern "C"
