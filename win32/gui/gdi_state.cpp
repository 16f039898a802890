#include "gdi_state.h"

#include "win32/kernel_ext.h"

#include <algorithm>
#include <cstdlib>

namespace win32::gdi {

// Entries 0-9 and 246-255 of the system palette of every 8-bit screen.
const std::array<Rgb, 20> kStaticColors = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
    0xC0C0C0, 0xC0DCC0, 0xA6CAF0, 0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000,
    0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

namespace {

TEXTMETRICA metrics(LONG height, LONG ascent, LONG internal, LONG ave, LONG max, LONG weight,
                    BYTE first, BYTE pitch_family, BYTE charset) {
    TEXTMETRICA tm{};
    tm.tmHeight = height;
    tm.tmAscent = ascent;
    tm.tmDescent = height - ascent;
    tm.tmInternalLeading = internal;
    tm.tmExternalLeading = 0;
    tm.tmAveCharWidth = ave;
    tm.tmMaxCharWidth = max;
    tm.tmWeight = weight;
    tm.tmDigitizedAspectX = 96;
    tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = first;
    tm.tmLastChar = 0xFF;
    tm.tmDefaultChar = first == 0 ? 0x2E : 0x80;
    tm.tmBreakChar = 0x20;
    tm.tmPitchAndFamily = pitch_family;
    tm.tmCharSet = charset;
    return tm;
}

// Pitch-and-family bytes: bit 0 set means variable pitch.
constexpr BYTE kFixedModern = 0x30;
constexpr BYTE kVariableSwiss = 0x21;
constexpr BYTE kOemCharset = 255;
constexpr BYTE kAnsiCharset = 0;
constexpr BYTE kGb2312Charset = 134;

}  // namespace

State::State() {
    const char* env = std::getenv("WIN32_SCREEN");
    bool readable = false;
    ScreenMode mode = parse_screen_mode(env, &readable);
    if (env && *env && !readable)
        win32::warn_bad_setting("WIN32_SCREEN", env,
                         "WIDTHxHEIGHTxBPP, BPP one of 8, 15, 16, 24, 32 (1024x768x32)");
    if (!set_screen_mode(*this, mode)) set_screen_mode(*this, ScreenMode{});
    screen.stored = screen.mode;

    auto add_stock = [this](int index, std::shared_ptr<Object> o) {
        o->stock = true;
        stock[size_t(index)] = reinterpret_cast<HGDIOBJ>(add_object(*this, std::move(o)));
    };
    auto tool = [](Kind kind, COLORREF color, bool hollow) {
        auto t = std::make_shared<Tool>(kind);
        t->color = color;
        t->hollow = hollow;
        return t;
    };
    add_stock(WHITE_BRUSH, tool(Kind::Brush, RGB(255, 255, 255), false));
    add_stock(LTGRAY_BRUSH, tool(Kind::Brush, RGB(192, 192, 192), false));
    add_stock(GRAY_BRUSH, tool(Kind::Brush, RGB(128, 128, 128), false));
    add_stock(DKGRAY_BRUSH, tool(Kind::Brush, RGB(64, 64, 64), false));
    add_stock(BLACK_BRUSH, tool(Kind::Brush, RGB(0, 0, 0), false));
    add_stock(NULL_BRUSH, tool(Kind::Brush, 0, true));
    add_stock(WHITE_PEN, tool(Kind::Pen, RGB(255, 255, 255), false));
    add_stock(BLACK_PEN, tool(Kind::Pen, RGB(0, 0, 0), false));
    add_stock(NULL_PEN, tool(Kind::Pen, 0, true));

    // Metrics of the classic raster fonts; the Chinese edition's 16-pixel
    // system font, since the programs' texts are GBK. Text drawing brings
    // real faces later.
    auto font = [](const TEXTMETRICA& tm) {
        auto f = std::make_shared<Font>();
        f->metrics = tm;
        return f;
    };
    add_stock(OEM_FIXED_FONT, font(metrics(16, 14, 0, 8, 8, 400, 0, kFixedModern, kOemCharset)));
    add_stock(ANSI_FIXED_FONT, font(metrics(13, 11, 0, 8, 8, 400, 0x20, kFixedModern, kAnsiCharset)));
    add_stock(ANSI_VAR_FONT, font(metrics(13, 11, 0, 5, 11, 400, 0x20, kVariableSwiss, kAnsiCharset)));
    add_stock(SYSTEM_FONT, font(metrics(16, 14, 0, 8, 16, 400, 0x20, kVariableSwiss, kGb2312Charset)));
    add_stock(14 /* DEVICE_DEFAULT_FONT */,
              font(metrics(16, 14, 0, 8, 16, 400, 0x20, kVariableSwiss, kGb2312Charset)));
    add_stock(SYSTEM_FIXED_FONT, font(metrics(16, 14, 0, 8, 8, 400, 0x20, kFixedModern, kGb2312Charset)));
    add_stock(DEFAULT_GUI_FONT, font(metrics(12, 10, 0, 6, 12, 400, 0x20, kVariableSwiss, kGb2312Charset)));

    // The default palette holds the twenty static colours and always maps
    // onto their fixed slots.
    auto palette = std::make_shared<Palette>();
    for (unsigned i = 0; i < 20; ++i) {
        Rgb c = kStaticColors[i];
        palette->entries.push_back(
            PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), 0});
        palette->mapping.push_back(uint8_t(i < 10 ? i : i + 236));
    }
    palette->private_slot.assign(20, false);
    palette->fixed_mapping = true;
    add_stock(DEFAULT_PALETTE, palette);

    // Like Windows, every new memory DC starts with one shared 1x1
    // monochrome bitmap; it has no handle of its own to delete.
    default_bitmap = std::make_shared<Bitmap>();
    default_bitmap->stock = true;
    default_bitmap->surface.allocate(1, 1, format_indexed(1), true);
    default_bitmap->surface.colors = {0x000000, 0xFFFFFF};
    default_bitmap->surface.color_count = 2;
    default_bitmap->surface.monochrome = true;
    add_object(*this, default_bitmap);
}

State& state() {
    static State* s = new State;  // outlives threads still drawing at exit
    return *s;
}

uintptr_t add_object(State& s, std::shared_ptr<Object> object) {
    uintptr_t value = s.next_handle;
    s.next_handle += 4;
    object->handle = value;
    s.objects.emplace(value, std::move(object));
    return value;
}

std::shared_ptr<Object> find_object(State& s, const void* handle) {
    auto it = s.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == s.objects.end() ? nullptr : it->second;
}

std::shared_ptr<DeviceContext> find_dc(State& s, HDC hdc) {
    return find_as<DeviceContext>(s, hdc, Kind::DC);
}

std::shared_ptr<DeviceContext> make_dc(State& s, bool memory) {
    auto dc = std::make_shared<DeviceContext>();
    dc->memory = memory;
    if (memory) reselect(dc->bitmap, s.default_bitmap);
    reselect(dc->palette, find_as<Palette>(s, s.stock[DEFAULT_PALETTE], Kind::Palette));
    reselect(dc->font, find_as<Font>(s, s.stock[SYSTEM_FONT], Kind::Font));
    reselect(dc->brush, find_as<Tool>(s, s.stock[WHITE_BRUSH], Kind::Brush));
    reselect(dc->pen, find_as<Tool>(s, s.stock[BLACK_PEN], Kind::Pen));
    add_object(s, dc);
    return dc;
}

void release_dc_objects(DeviceContext& dc) {
    reselect(dc.bitmap, std::shared_ptr<Bitmap>());
    reselect(dc.palette, std::shared_ptr<Palette>());
    reselect(dc.font, std::shared_ptr<Font>());
    reselect(dc.brush, std::shared_ptr<Tool>());
    reselect(dc.pen, std::shared_ptr<Tool>());
}

Surface& target_of(State& s, DeviceContext& dc) {
    if (dc.memory && dc.bitmap) return dc.bitmap->surface;
    return s.screen.surface;
}

RECT clip_of(State& s, DeviceContext& dc) {
    const Surface& t = target_of(s, dc);
    RECT r{0, 0, t.width, t.height};
    if (dc.clipped) {
        r.left = std::max(r.left, dc.clip.left);
        r.top = std::max(r.top, dc.clip.top);
        r.right = std::min(r.right, dc.clip.right);
        r.bottom = std::min(r.bottom, dc.clip.bottom);
    }
    return r;
}

void clip_spans(State& s, DeviceContext& dc, int64_t y, std::vector<Span>& out) {
    out.clear();
    const RECT c = clip_of(s, dc);
    if (y < c.top || y >= c.bottom || c.left >= c.right) return;
    if (!dc.visible) {
        out.push_back({c.left, c.right});
        return;
    }
    const auto* row = dc.visible->row(y);
    if (!row) return;
    for (const Span& sp : *row) {
        const int32_t l = std::max<int32_t>(sp.left, c.left), r = std::min<int32_t>(sp.right, c.right);
        if (l < r) out.push_back({l, r});
    }
}

bool clip_contains(State& s, DeviceContext& dc, int64_t x, int64_t y) {
    const RECT c = clip_of(s, dc);
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) return false;
    return !dc.visible || dc.visible->contains(x, y);
}

void fill_region(State& s, DeviceContext& dc, const Region& area, Rgb color) {
    Surface& t = target_of(s, dc);
    Encoder encoder = encoder_for(s, dc);
    const uint32_t value = encoder.encode(color);
    std::vector<Span> spans, parts;
    for (const Band& band : area.bands()) {
        for (int64_t y = band.top; y < band.bottom; ++y) {
            clip_spans(s, dc, y, spans);
            if (spans.empty()) continue;
            parts = combine_spans(spans, band.spans, RegionOp::And);
            uint8_t* row = t.row(y);
            for (const Span& sp : parts)
                for (int64_t x = sp.left; x < sp.right; ++x) store_pixel(row, x, t.format.bpp, value);
        }
    }
}

bool palette_screen(const State& s) { return s.screen.mode.bits_per_pixel == 8; }

bool mapping_valid(const State& s, const Palette& p) {
    if (p.mapping.size() != p.entries.size()) return false;
    return p.fixed_mapping || (palette_screen(s) && p.mapped_epoch == s.screen.epoch);
}

const Rgb* colors_of(const State& s, const Surface& surface) {
    return surface.device_palette ? s.screen.system_palette.data() : surface.colors.data();
}

Encoder encoder_for(State& s, DeviceContext& dc) {
    Surface& t = target_of(s, dc);
    if (!t.format.indexed()) return Encoder::direct(t.format);
    if (t.monochrome) return Encoder::background_rule(rgb_of(dc.bk_color));
    std::vector<PaletteCandidate> candidates;
    if (t.device_palette) {
        // A palette device shows the DC's palette as it was realized;
        // otherwise whatever the system palette holds now.
        const Palette* p = dc.palette.get();
        if (p && mapping_valid(s, *p)) {
            for (size_t i = 0; i < p->entries.size(); ++i)
                candidates.push_back({rgb_of(p->entries[i]), p->mapping[i]});
        } else {
            for (unsigned slot = 0; slot < 256; ++slot)
                if (s.screen.slot_used[slot])
                    candidates.push_back({s.screen.system_palette[slot], uint8_t(slot)});
        }
    } else {
        for (int i = 0; i < t.color_count; ++i) candidates.push_back({t.colors[size_t(i)], uint8_t(i)});
    }
    return Encoder::nearest(t.format.bpp, std::move(candidates));
}

uint32_t palette_index_value(State& s, DeviceContext& dc, Encoder& encoder, unsigned index) {
    const Palette* p = dc.palette.get();
    if (!p || p->entries.empty()) return encoder.encode(0);
    if (index >= p->entries.size()) index = 0;
    if (target_of(s, dc).device_palette && mapping_valid(s, *p)) return p->mapping[index];
    return encoder.encode(rgb_of(p->entries[index]));
}

Rgb surface_pixel(const State& s, const Surface& t, int64_t x, int64_t y) {
    uint32_t raw = load_pixel(t.row(y), x, t.format.bpp);
    if (t.format.indexed()) return colors_of(s, t)[raw];
    return DirectCodec(t.format).decode(raw);
}

bool valid_mode(const ScreenMode& m) {
    const int b = m.bits_per_pixel;
    return m.width >= 320 && m.width <= 4096 && m.height >= 200 && m.height <= 4096 &&
           (b == 8 || b == 15 || b == 16 || b == 24 || b == 32);
}

PixelFormat screen_format(int bits_per_pixel) {
    switch (bits_per_pixel) {
    case 8: return format_indexed(8);
    case 15: return format_555();
    case 16: return format_565();
    case 24: return format_888(24);
    default: return format_888(32);
    }
}

void reset_system_palette(State& s) {
    Screen& sc = s.screen;
    sc.system_palette.fill(0);
    sc.slot_used.fill(false);
    for (unsigned i = 0; i < 10; ++i) {
        sc.system_palette[i] = kStaticColors[i];
        sc.system_palette[246 + i] = kStaticColors[10 + i];
        sc.slot_used[i] = sc.slot_used[246 + i] = true;
    }
    ++sc.epoch;
}

bool set_screen_mode(State& s, const ScreenMode& m) {
    if (!valid_mode(m)) return false;
    Surface fresh;
    if (!fresh.allocate(m.width, m.height, screen_format(m.bits_per_pixel), true)) return false;
    fresh.device_palette = m.bits_per_pixel == 8;
    s.screen.surface = std::move(fresh);
    s.screen.mode = m;
    reset_system_palette(s);
    return true;
}

}  // namespace win32::gdi
