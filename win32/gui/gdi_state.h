// The GDI's process-wide state: the object table behind every HGDIOBJ and
// HDC, the virtual screen with its system palette, and the stock objects.
// One lock guards it all; every entry point takes it once and the helpers
// here expect it held.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "pixels.h"
#include "region.h"
#include "win32/gdi.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace win32::gdi {

enum class Kind { Bitmap, Palette, Font, Brush, Pen, DC, Region };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    uintptr_t handle = 0;
    bool stock = false;   // never deleted, may sit in any number of DCs
    int selections = 0;   // DCs it is selected into
};

struct DeviceContext;

struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    Surface surface;
    bool dib_section = false;
};

struct Palette : Object {
    Palette() : Object(Kind::Palette) {}
    std::vector<PALETTEENTRY> entries;
    // Where each entry went in the system palette at the last realization;
    // valid while mapped_epoch matches the screen's (or always, for the
    // default palette, whose entries are the static colours).
    std::vector<uint8_t> mapping;
    std::vector<bool> private_slot;  // entry owns its system slot (animates)
    uint64_t mapped_epoch = 0;
    bool fixed_mapping = false;
};

struct Font : Object {
    Font() : Object(Kind::Font) {}
    TEXTMETRICA metrics{};
    // Created fonts: the font file and pixel size their glyphs come from.
    // Stock fonts find theirs from their metrics when text is drawn.
    std::string file;
    int pixel_size = 0;
    bool underline = false;
};

// Brushes and pens.
struct Tool : Object {
    explicit Tool(Kind k) : Object(k) {}
    COLORREF color = 0;
    bool hollow = false;
    int style = 0;  // pens: PS_SOLID, PS_DOT, PS_ALTERNATE
    int width = 1;  // pens
    // Pattern brushes: up to 8x8 pixels, row by row, copied at creation.
    // Colour bitmaps keep colours; monochrome ones keep bits, which take
    // the DC's text (0) and background (1) colours when drawn.
    int pattern_width = 0, pattern_height = 0;
    std::vector<Rgb> pattern;
    bool pattern_mono = false;
};

// A brush as raw pixel values of one target, repeating every width x
// height pixels from the DC's logical origin.
struct BrushPaint {
    int width = 1, height = 1;
    std::array<uint32_t, 64> raw{};
    uint32_t at(int64_t lx, int64_t ly) const {
        const int64_t px = ((lx % width) + width) % width, py = ((ly % height) + height) % height;
        return raw[size_t(py * width + px)];
    }
};

struct RegionObject : Object {
    RegionObject() : Object(Kind::Region) {}
    Region region;
};

struct DeviceContext : Object {
    DeviceContext() : Object(Kind::DC) {}
    bool memory = false;       // draws on its selected bitmap, else on the screen
    bool from_get_dc = false;  // given back with ReleaseDC
    std::shared_ptr<Bitmap> bitmap;
    std::shared_ptr<Palette> palette;
    std::shared_ptr<Font> font;
    std::shared_ptr<Tool> brush;
    std::shared_ptr<Tool> pen;
    bool palette_background = false;
    // Window DCs: logical (0, 0) sits at `origin` on the target, and drawing
    // stays inside `clip` (target coordinates).
    POINT origin{0, 0};
    bool clipped = false;
    RECT clip{0, 0, 0, 0};
    // The window's visible part (target coordinates) inside `clip`, when
    // it is not a plain rectangle: windows above it, its shape, the part
    // being painted.
    std::shared_ptr<const Region> visible;
    COLORREF text_color = 0x000000;
    COLORREF bk_color = 0xFFFFFF;
    int bk_mode = 2;  // OPAQUE
    int rop2 = 13;    // R2_COPYPEN
    int stretch_mode = 1;  // BLACKONWHITE
    POINT position{0, 0};  // MoveToEx / LineTo
};

struct Screen {
    ScreenMode mode;
    ScreenMode stored;
    Surface surface;
    std::array<Rgb, 256> system_palette{};
    std::array<bool, 256> slot_used{};
    // Bumped whenever the free part of the system palette is handed out
    // anew; palettes realized before then map by nearest colour.
    uint64_t epoch = 1;
};

struct State {
    State();
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
    uintptr_t next_handle = 0x00C00010;
    Screen screen;
    std::array<HGDIOBJ, 18> stock{};  // by GetStockObject index
    std::shared_ptr<Bitmap> default_bitmap;  // 1x1 monochrome of new memory DCs
    DisplayModeListener listener;
    // The window system's own follower of mode changes (repaints windows).
    std::function<void()> window_system_listener;
};

// The state, created on first use from WIN32_SCREEN.
State& state();

inline Rgb rgb_of(COLORREF c) { return make_rgb(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline COLORREF colorref_of(Rgb c) { return RGB(c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF); }
inline Rgb rgb_of(const PALETTEENTRY& e) { return make_rgb(e.peRed, e.peGreen, e.peBlue); }

uintptr_t add_object(State& s, std::shared_ptr<Object> object);
std::shared_ptr<Object> find_object(State& s, const void* handle);
template <typename T>
std::shared_ptr<T> find_as(State& s, const void* handle, Kind kind) {
    auto object = find_object(s, handle);
    if (!object || object->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(object);
}
std::shared_ptr<DeviceContext> find_dc(State& s, HDC hdc);

// Runs body(state, dc) under the GDI lock on the live DC `hdc`; without one
// sets ERROR_INVALID_HANDLE and returns `fail`.
template <typename R, typename F>
R with_dc(HDC hdc, R fail, F&& body) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return fail;
    }
    return body(s, *dc);
}

// Puts `next` in `slot`, keeping the selection counts right.
template <typename T>
void reselect(std::shared_ptr<T>& slot, std::shared_ptr<T> next) {
    if (slot) --slot->selections;
    slot = std::move(next);
    if (slot) ++slot->selections;
}

// A DC with the stock objects selected.
std::shared_ptr<DeviceContext> make_dc(State& s, bool memory);
void release_dc_objects(DeviceContext& dc);

Surface& target_of(State& s, DeviceContext& dc);
// The drawable part of the DC's target, in target coordinates.
RECT clip_of(State& s, DeviceContext& dc);

// The drawable spans of target row y (clip rectangle and visible region),
// left to right.
void clip_spans(State& s, DeviceContext& dc, int64_t y, std::vector<Span>& out);
bool clip_contains(State& s, DeviceContext& dc, int64_t x, int64_t y);

// Window DCs: on the screen, `origin` as logical (0, 0), drawing only in
// `visible` (screen coordinates).
HDC create_window_dc(POINT origin, const Region& visible);
// A DC onto the screen at `origin`, clipped to `clip` and, when given, to
// the visible region.
HDC create_view_dc(POINT origin, const RECT& clip, std::shared_ptr<const Region> visible);
bool set_window_dc_view(HDC hdc, POINT origin, const Region& visible);
// Fills the region (target coordinates, further clipped by the DC) with a
// colour.
void fill_region(State& s, DeviceContext& dc, const Region& area, Rgb color);

// The DC's brush (or `tool`) as raw values of its target; false when
// hollow or missing.
bool brush_paint(State& s, DeviceContext& dc, const Tool* tool, Encoder& encoder, BrushPaint& out);

bool palette_screen(const State& s);
bool mapping_valid(const State& s, const Palette& p);
// The colour of every index of a surface (its table or the system palette).
const Rgb* colors_of(const State& s, const Surface& surface);
// How colours become pixel values on this DC's target.
Encoder encoder_for(State& s, DeviceContext& dc);
// Target value of a logical palette index drawn through the DC.
uint32_t palette_index_value(State& s, DeviceContext& dc, Encoder& encoder, unsigned index);

// The colour of one pixel of a surface (inside it).
Rgb surface_pixel(const State& s, const Surface& t, int64_t x, int64_t y);

// Screen modes.
bool valid_mode(const ScreenMode& m);
PixelFormat screen_format(int bits_per_pixel);
// Replaces the screen with a black one of the mode; false (screen kept)
// when memory is short.
bool set_screen_mode(State& s, const ScreenMode& m);
void reset_system_palette(State& s);
extern const std::array<Rgb, 20> kStaticColors;
inline bool static_slot(unsigned i) { return i < 10 || i >= 246; }

}  // namespace win32::gdi
