// Library state, the buffer table, the palette and lookup table, pastes,
// display modes, the mouse cursor and the tick wait.
#include <algorithm>
#include <cstring>
#include <limits>

#include "raster/rl.h"
#include "raster/rl_ext.h"
#include "state.h"
#include "win32/user.h"

namespace raster {

State& state() {
    static State s;
    return s;
}

namespace {

// ---- The default palette ------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
};

// Windows' static colours: the first and the last ten entries.
constexpr Rgb kStaticFirst[10] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0xC0, 0xDC, 0xC0}, {0xA4, 0xC8, 0xF0},
};
constexpr Rgb kStaticLast[10] = {
    {0xFF, 0xFB, 0xF0}, {0xA0, 0xA0, 0xA4}, {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00},
    {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00}, {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF},
    {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
};
// The sixteen EGA colours in EGA order; 1- and 4-bit images land here.
constexpr Rgb kEga[16] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0xAA}, {0x00, 0xAA, 0x00}, {0x00, 0xAA, 0xAA},
    {0xAA, 0x00, 0x00}, {0xAA, 0x00, 0xAA}, {0xAA, 0x55, 0x00}, {0xAA, 0xAA, 0xAA},
    {0x55, 0x55, 0x55}, {0x55, 0x55, 0xFF}, {0x55, 0xFF, 0x55}, {0x55, 0xFF, 0xFF},
    {0xFF, 0x55, 0x55}, {0xFF, 0x55, 0xFF}, {0xFF, 0xFF, 0x55}, {0xFF, 0xFF, 0xFF},
};
constexpr uint8_t kGreys[4] = {0x00, 0x55, 0xAA, 0xFF};
// The VGA default palette's entries 32..247 are nine circles of 24 hues:
// three intensities, each at three saturations. A circle walks the colour
// wheel through five 6-bit levels (lowest first).
constexpr uint8_t kVgaLevels[9][5] = {
    {0x00, 0x10, 0x1F, 0x2F, 0x3F}, {0x1F, 0x27, 0x2F, 0x37, 0x3F}, {0x2D, 0x31, 0x36, 0x3A, 0x3F},
    {0x00, 0x07, 0x0E, 0x15, 0x1C}, {0x0E, 0x11, 0x15, 0x18, 0x1C}, {0x14, 0x16, 0x18, 0x1A, 0x1C},
    {0x00, 0x04, 0x08, 0x0C, 0x10}, {0x08, 0x0A, 0x0C, 0x0E, 0x10}, {0x0B, 0x0C, 0x0D, 0x0F, 0x10},
};
// Level numbers of red, green and blue around one circle, from blue.
constexpr uint8_t kHueWalk[24][3] = {
    {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
    {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
    {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
};

constexpr std::array<Rgb, 256> make_default_palette() {
    std::array<Rgb, 256> p{};
    for (int i = 0; i < 10; ++i) p[i] = kStaticFirst[i];
    for (int i = 0; i < 16; ++i) p[10 + i] = kEga[i];
    for (int i = 0; i < 4; ++i) p[26 + i] = Rgb{kGreys[i], kGreys[i], kGreys[i]};
    auto eight_bit = [](uint8_t v) { return static_cast<uint8_t>(v * 255 / 63); };
    for (int c = 0; c < 9; ++c)
        for (int h = 0; h < 24; ++h) {
            const uint8_t* lv = kVgaLevels[c];
            p[30 + c * 24 + h] = Rgb{eight_bit(lv[kHueWalk[h][0]]), eight_bit(lv[kHueWalk[h][1]]),
                                     eight_bit(lv[kHueWalk[h][2]])};
        }
    for (int i = 0; i < 10; ++i) p[246 + i] = kStaticLast[i];
    return p;
}

constexpr std::array<Rgb, 256> kDefaultPalette = make_default_palette();
static_assert(kDefaultPalette[30 + 4].r == 0xFF && kDefaultPalette[30 + 72 + 4].r == 0x71 &&
              kDefaultPalette[30 + 144 + 4].r == 0x40);

// ---- Helpers -------------------------------------------------------------

// Device capability of the bound DC, or of the screen before one is bound.
int screen_caps(int index) {
    State& s = state();
    if (s.bound_dc) return GetDeviceCaps(s.bound_dc, index);
    HDC screen = GetDC(nullptr);
    int value = GetDeviceCaps(screen, index);
    ReleaseDC(nullptr, screen);
    return value;
}

int display_depth() {
    int bits = screen_caps(BITSPIXEL) * screen_caps(PLANES);
    return bits == 15 ? 16 : bits;
}

// Polls the tick count without sleeping.
void busy_wait_ms(uint64_t ms) {
    const DWORD limit = static_cast<DWORD>(std::min<uint64_t>(ms, 0xFFFFFFFEu));
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit) {
    }
}

// Header size, header block size and colour usage for the creation depth.
void update_header_sizes() {
    State& s = state();
    switch (s.creation_depth) {
    case 16:
    case 32:
        s.header_size = s.nt ? 40 : 108;
        s.block_size = 108;
        s.colour_usage = DIB_RGB_COLORS;
        break;
    case 24:
        s.header_size = s.block_size = 40;
        s.colour_usage = DIB_RGB_COLORS;
        break;
    default:
        s.header_size = 40;
        if (display_depth() > 8) {
            s.block_size = 40 + 1024;
            s.colour_usage = DIB_RGB_COLORS;
        } else {
            s.block_size = 40 + 512;
            s.colour_usage = DIB_PAL_COLORS;
        }
        break;
    }
}

void fill_mirror(int first, int count) {
    State& s = state();
    for (int i = first; i < first + count; ++i) {
        const PALETTEENTRY& e = s.palette[i];
        s.mirror[i] = RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0};
    }
}

uint8_t* colour_table(const Slot& slot) {
    return reinterpret_cast<uint8_t*>(slot.header) + sizeof(BITMAPINFOHEADER);
}

// Lookup entries first .. first + count - 1 for the active depth; an 8-bit
// buffer with RGB colours gets the mirror as its colour table instead.
void update_lookup(int first, int count) {
    State& s = state();
    if (!s.has_active()) return;
    const Slot& slot = s.slots[s.active];
    switch (s.geometry.depth) {
    case 16:
        for (int i = first; i < first + count; ++i) {
            const PALETTEENTRY& e = s.palette[i];
            s.lookup16[i] = rgb565(e.peRed, e.peGreen, e.peBlue);
        }
        break;
    case 24:
    case 32:
        for (int i = first; i < first + count; ++i) {
            const PALETTEENTRY& e = s.palette[i];
            s.lookup32[i] = rgb32(e.peRed, e.peGreen, e.peBlue);
        }
        break;
    default:
        if (slot.colour_usage == DIB_RGB_COLORS)
            std::memcpy(colour_table(slot), s.mirror.data(), sizeof s.mirror);
        break;
    }
}

void release_slot(Slot& slot) {
    slot.bits = nullptr;
    if (slot.bitmap) DeleteObject(slot.bitmap);
    if (slot.header_block) {
        GlobalUnlock(slot.header_block);
        GlobalFree(slot.header_block);
    }
    slot = Slot{};
}

void release_all_slots() {
    for (Slot& slot : state().slots)
        if (slot.bits) release_slot(slot);
}

}  // namespace

Placement place(int64_t x, int64_t y, int64_t w, int64_t h, const Geometry& g) {
    const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + w, g.width);
    const int64_t bottom = std::min<int64_t>(y + h, g.height);
    if (right <= left || bottom <= top) return {};
    return Placement{static_cast<int32_t>(left - x),     static_cast<int32_t>(top - y),
                     static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top),
                     static_cast<int32_t>(left),         static_cast<int32_t>(top)};
}

void set_image_area(const Placement& p) {
    state().image_area = Area{p.buffer_x, p.buffer_y, p.buffer_x + p.width, p.buffer_y + p.height};
}

// ---- Views for tests -----------------------------------------------------

std::optional<BufferView> buffer_view(int32_t number) {
    if (static_cast<uint32_t>(number) >= kSlots) return std::nullopt;
    const Slot& slot = state().slots[number];
    if (!slot.bits) return std::nullopt;
    return BufferView{slot.bits, slot.width, slot.height, slot.depth, slot.width * slot.depth / 8};
}

int32_t active_buffer() { return state().active; }

uint32_t lookup_entry(int32_t index) {
    const State& s = state();
    const auto i = static_cast<uint8_t>(index);
    return s.geometry.depth == 16 ? s.lookup16[i] : s.lookup32[i];
}

uint32_t palette_entry(int32_t index) {
    const PALETTEENTRY& e = state().palette[static_cast<uint8_t>(index)];
    return rgb32(e.peRed, e.peGreen, e.peBlue);
}

}  // namespace raster

using namespace raster;

extern "C" {

int32_t rl_set_dc(HDC dc) {
    state().bound_dc = dc;
    return 0;
}

int32_t rl_init(void) {
    State& s = state();
    if (s.memory_dc) {
        rl_buffer_close();
        DeleteDC(s.memory_dc);
    }
    release_all_slots();
    for (int i = 0; i < 256; ++i) s.index_table[i] = static_cast<uint16_t>(i);
    s.memory_dc = CreateCompatibleDC(nullptr);
    s.saved_bitmap = nullptr;
    s.saved_bitmap_known = false;
    s.creation_depth = 8;
    s.active = -1;
    s.geometry = Geometry{};
    s.image_area = Area{};
    s.pos_x = s.pos_y = 0;
    s.nt = (GetVersion() & 0x80000000u) == 0;
    update_header_sizes();

    s.font = GetStockObject(OEM_FIXED_FONT);
    if (s.bound_dc && s.font) {
        SelectObject(s.bound_dc, s.font);
        TEXTMETRICA tm{};
        if (GetTextMetricsA(s.bound_dc, &tm)) {
            s.font_height = tm.tmHeight + tm.tmExternalLeading;
            s.font_leading = tm.tmExternalLeading;
            s.font_width = tm.tmAveCharWidth;
        }
    }
    return 0;
}

int32_t rl_fini(void) {
    State& s = state();
    rl_buffer_close();
    release_all_slots();
    if (s.first_palette_known && s.first_palette && s.bound_dc)
        SelectPalette(s.bound_dc, s.first_palette, FALSE);
    s.first_palette = nullptr;
    s.first_palette_known = false;
    s.realized = nullptr;  // the caller deletes it next
    if (s.memory_dc) DeleteDC(s.memory_dc);
    s.memory_dc = nullptr;
    s.saved_bitmap = nullptr;
    s.saved_bitmap_known = false;
    return 0;
}

int32_t rl_color_depth(void) { return display_depth(); }

HPALETTE rl_default_palette(void) {
    State& s = state();
    for (int i = 0; i < 256; ++i)
        s.palette[i] = PALETTEENTRY{kDefaultPalette[i].r, kDefaultPalette[i].g,
                                    kDefaultPalette[i].b, PC_RESERVED};
    const int depth = display_depth();
    if (depth <= 8) {
        HDC dc = s.bound_dc ? s.bound_dc : GetDC(nullptr);
        PALETTEENTRY system[256]{};
        if (depth == 8) {
            GetSystemPaletteEntries(dc, 0, 10, system);
            GetSystemPaletteEntries(dc, 246, 10, system + 246);
            std::copy(system, system + 10, s.palette.begin());
            std::copy(system + 246, system + 256, s.palette.begin() + 246);
        } else {
            // Fewer than 256 colours: the system's 16 are split 8 + 8.
            GetSystemPaletteEntries(dc, 0, 16, system);
            std::copy(system, system + 8, s.palette.begin());
            std::copy(system + 8, system + 16, s.palette.begin() + 248);
        }
        if (!s.bound_dc) ReleaseDC(nullptr, dc);
        for (PALETTEENTRY& e : s.palette) e.peFlags = PC_RESERVED;
    }
    fill_mirror(0, 256);

    std::vector<uint8_t> block(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
    auto* log = reinterpret_cast<LOGPALETTE*>(block.data());
    log->palVersion = 0x300;
    log->palNumEntries = 256;
    std::copy(s.palette.begin(), s.palette.end(), log->palPalEntry);
    return CreatePalette(log);
}

int32_t rl_realize_palette(HPALETTE palette) {
    State& s = state();
    HPALETTE previous = SelectPalette(s.bound_dc, palette, FALSE);
    RealizePalette(s.bound_dc);
    s.realized = palette;
    if (!s.first_palette_known) {
        s.first_palette = previous;
        s.first_palette_known = true;
    }
    return 0;
}

int32_t rl_set_display_mode(int32_t width, int32_t height, int32_t bits, int32_t full_screen) {
    static_assert(sizeof(DEVMODEA) == 124);
    if (bits == 0) {
        LONG result = ChangeDisplaySettingsA(nullptr, 0);
        busy_wait_ms(200);
        return result;
    }
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = static_cast<DWORD>(bits);
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    busy_wait_ms(200);
    return ChangeDisplaySettingsA(&mode, full_screen ? CDS_FULLSCREEN : 0);
}

int32_t rl_set_palette(int32_t first, int32_t count, const uint8_t* triples) {
    State& s = state();
    if (!s.has_active() || count <= 0 || !triples || first < 0 || first > 255) return 0;
    count = std::min(count, 256 - first);
    for (int i = 0; i < count; ++i)
        s.palette[first + i] =
            PALETTEENTRY{triples[3 * i], triples[3 * i + 1], triples[3 * i + 2], PC_RESERVED};
    fill_mirror(first, count);
    if (s.realized)
        AnimatePalette(s.realized, static_cast<UINT>(first), static_cast<UINT>(count),
                       &s.palette[first]);
    update_lookup(first, count);
    return 0;
}

int32_t rl_buffer_depth(int32_t bits) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return RL_UNSUPPORTED;
    state().creation_depth = bits;
    update_header_sizes();
    return 0;
}

int32_t rl_buffer_alloc(int32_t width, int32_t height) {
    State& s = state();
    auto free_slot = std::find_if(s.slots.begin(), s.slots.end(),
                                  [](const Slot& slot) { return slot.bits == nullptr; });
    if (free_slot == s.slots.end()) return -1;
    if (width <= 0 || height <= 0) return -2;
    const int64_t stored_width = (int64_t{width} + 3) & ~int64_t{3};
    const int64_t row_bytes = stored_width * s.creation_depth / 8;
    // Rows and offsets into the bits are 32-bit quantities.
    if (row_bytes > std::numeric_limits<int32_t>::max() / height) return -2;

    HGLOBAL block = GlobalAlloc(GHND, static_cast<SIZE_T>(s.block_size));
    auto* header = block ? static_cast<BITMAPINFO*>(GlobalLock(block)) : nullptr;
    if (!header) {
        if (block) GlobalFree(block);
        return -2;
    }
    BITMAPINFOHEADER& h = header->bmiHeader;
    h.biSize = static_cast<DWORD>(s.header_size);
    h.biWidth = static_cast<LONG>(stored_width);
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(s.creation_depth);
    auto* extra = reinterpret_cast<uint8_t*>(header) + sizeof(BITMAPINFOHEADER);
    if (s.creation_depth == 16 || s.creation_depth == 32) {
        h.biCompression = BI_BITFIELDS;
        const DWORD masks16[4] = {0xF800, 0x07E0, 0x001F, 0};
        const DWORD masks32[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
        std::memcpy(extra, s.creation_depth == 16 ? masks16 : masks32, sizeof masks16);
    } else if (s.creation_depth == 8) {
        if (s.colour_usage == DIB_RGB_COLORS)
            std::memcpy(extra, s.mirror.data(), sizeof s.mirror);
        else
            std::memcpy(extra, s.index_table.data(), sizeof s.index_table);
    }

    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(s.bound_dc, header, s.colour_usage, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        GlobalUnlock(block);
        GlobalFree(block);
        return -2;
    }
    *free_slot = Slot{bitmap,           block,
                      header,           static_cast<uint8_t*>(bits),
                      s.creation_depth, static_cast<int32_t>(stored_width),
                      height,           s.colour_usage};
    return static_cast<int32_t>(free_slot - s.slots.begin());
}

int32_t rl_buffer_open(int32_t number) {
    State& s = state();
    if (static_cast<uint32_t>(number) >= kSlots) return -1;
    const Slot& slot = s.slots[number];
    if (!slot.bits) return -2;
    HGDIOBJ previous = SelectObject(s.memory_dc, slot.bitmap);
    if (!s.saved_bitmap_known) {
        s.saved_bitmap = previous;
        s.saved_bitmap_known = true;
    }
    s.active = number;
    Geometry& g = s.geometry;
    g.bits = slot.bits;
    g.header = slot.header;
    g.width = slot.width;
    g.height = slot.height;
    g.max_x = slot.width - 1;
    g.max_y = slot.height - 1;
    g.depth = slot.depth;
    g.row_bytes = slot.width * slot.depth / 8;
    g.pixel_bytes = slot.depth / 8;
    g.colour_usage = slot.colour_usage;
    s.image_area = Area{0, 0, slot.width, slot.height};
    update_lookup(0, 256);
    return 0;
}

int32_t rl_buffer_close(void) {
    State& s = state();
    s.active = -1;
    s.geometry = Geometry{};
    if (s.saved_bitmap_known && s.memory_dc) SelectObject(s.memory_dc, s.saved_bitmap);
    return 0;
}

int32_t rl_buffer_free(int32_t number) {
    State& s = state();
    if (static_cast<uint32_t>(number) >= kSlots || number == s.active) return 0;
    Slot& slot = s.slots[number];
    if (slot.bits) release_slot(slot);
    return 0;
}

int32_t rl_buffer_paste(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y, int32_t x,
                        int32_t y) {
    State& s = state();
    if (!s.has_active()) return 0;
    const Geometry& g = s.geometry;
    // Clip the source to the buffer; the destination keeps its alignment.
    const int64_t left = std::max<int64_t>(min_x, 0), right = std::min<int64_t>(max_x, g.max_x);
    const int64_t top = std::max<int64_t>(min_y, 0), bottom = std::min<int64_t>(max_y, g.max_y);
    if (right < left || bottom < top) return 0;
    const int64_t dest_left = int64_t{x} + (left - min_x);
    const int64_t dest_top = int64_t{y} - (int64_t{max_y} - min_y) + (top - min_y);
    SetDIBitsToDevice(s.bound_dc, static_cast<int>(dest_left), static_cast<int>(dest_top),
                      static_cast<DWORD>(right - left + 1), static_cast<DWORD>(bottom - top + 1),
                      static_cast<int>(left), static_cast<int>(g.max_y - bottom), 0,
                      static_cast<UINT>(g.height), g.bits, g.header, g.colour_usage);
    return 0;
}

int32_t rl_mouse_init(void) {
    State& s = state();
    if (!GetSystemMetrics(SM_MOUSEPRESENT)) return -1;
    s.cursor_width = GetSystemMetrics(SM_CXCURSOR);
    s.cursor_height = GetSystemMetrics(SM_CYCURSOR);
    s.mouse_present = true;
    s.cursor_shown = true;
    return 1;
}

int32_t rl_mouse_visible(int32_t visible) {
    State& s = state();
    const bool show = (visible & 1) != 0;
    if (s.mouse_present && show != s.cursor_shown) {
        ShowCursor(show ? TRUE : FALSE);
        s.cursor_shown = show;
    }
    return 0;
}

int32_t rl_wait_ticks(int32_t n) {
    if (n > 0) busy_wait_ms(uint64_t(n) * 55u);
    return 0;
}

int32_t rl_set_position(int32_t x, int32_t y) {
    state().pos_x = x;
    state().pos_y = y;
    return 0;
}

int32_t rl_set_memory_image(const void* data, int32_t size) {
    State& s = state();
    const bool valid = data != nullptr && size >= 0;
    s.memory_image = valid ? static_cast<const uint8_t*>(data) : nullptr;
    s.memory_image_size = valid ? size : 0;
    return 0;
}

}  // extern "C"
