// The library's process-wide drawing state, shared by its modules.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "win32/gdi.h"
#include "win32/kernel.h"

namespace raster {

constexpr int kSlots = 32;
constexpr int kIoBlockSize = 4096;

struct Slot {
    HBITMAP bitmap = nullptr;
    HGLOBAL header_block = nullptr;
    BITMAPINFO* header = nullptr;
    uint8_t* bits = nullptr;  // non-null exactly when the slot is in use
    int32_t depth = 0;
    int32_t width = 0;
    int32_t height = 0;
    UINT colour_usage = DIB_RGB_COLORS;
};

struct Area {
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool empty() const { return right <= left || bottom <= top; }
};

struct Geometry {
    uint8_t* bits = nullptr;
    BITMAPINFO* header = nullptr;
    int32_t width = 0, height = 0;
    int32_t max_x = -1, max_y = -1;
    int32_t depth = 0;
    int32_t row_bytes = 0;
    int32_t pixel_bytes = 0;
    UINT colour_usage = DIB_RGB_COLORS;

    // Start of buffer row r (top-down) in the bottom-up bitmap.
    uint8_t* row(int32_t r) const {
        return bits + static_cast<size_t>(height - 1 - r) * static_cast<size_t>(row_bytes);
    }
};

struct State {
    HDC bound_dc = nullptr;
    HDC memory_dc = nullptr;
    HGDIOBJ saved_bitmap = nullptr;
    bool saved_bitmap_known = false;

    std::array<PALETTEENTRY, 256> palette{};
    std::array<RGBQUAD, 256> mirror{};
    std::array<uint16_t, 256> lookup16{};
    std::array<uint32_t, 256> lookup32{};  // 0x00RRGGBB: B, G, R, 0 in memory
    std::array<uint16_t, 256> index_table{};
    HPALETTE realized = nullptr;
    HPALETTE first_palette = nullptr;
    bool first_palette_known = false;

    int32_t creation_depth = 8;
    int32_t header_size = 40;
    int32_t block_size = 40 + 1024;
    UINT colour_usage = DIB_RGB_COLORS;

    int32_t active = -1;
    Geometry geometry;
    Area image_area;  // where the last decode drew; rl_reduce_palette works on it

    int32_t pos_x = 0, pos_y = 0;
    const uint8_t* memory_image = nullptr;
    int32_t memory_image_size = 0;

    std::array<uint8_t, kIoBlockSize> io_block{};
    std::vector<uint8_t> line;

    bool nt = true;
    bool mouse_present = false;
    bool cursor_shown = false;
    int32_t cursor_width = 0, cursor_height = 0;

    HGDIOBJ font = nullptr;
    int32_t font_height = 0, font_leading = 0, font_width = 0;

    std::array<Slot, kSlots> slots{};

    bool has_active() const { return active >= 0 && geometry.bits != nullptr; }
};

State& state();

// 8-bit red, green, blue to the 5-6-5 pixel.
constexpr uint16_t rgb565(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g >> 2) << 5) | (b >> 3));
}

constexpr uint32_t rgb32(uint8_t r, uint8_t g, uint8_t b) {
    return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
}

// Clipped placement of a w x h image at (x, y) in the active buffer: the
// visible part in image coordinates and where it lands.
struct Placement {
    int32_t image_x = 0, image_y = 0;    // first visible image column and row
    int32_t width = 0, height = 0;       // visible size (0 when nothing shows)
    int32_t buffer_x = 0, buffer_y = 0;  // where (image_x, image_y) lands
    bool empty() const { return width <= 0 || height <= 0; }
};
Placement place(int64_t x, int64_t y, int64_t w, int64_t h, const Geometry& g);

// Image area after a decode of `p`.
void set_image_area(const Placement& p);

}  // namespace raster
