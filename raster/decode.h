// Pieces shared by the BMP and PCX decoders.
#pragma once

#include <array>
#include <cstdint>

#include "convert.h"
#include "raster/rl.h"
#include "state.h"

namespace raster {

using Triples = std::array<uint8_t, 256 * 3>;

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline RowInput row_input(const uint8_t* data, int32_t first, int32_t plane_bytes,
                          uint8_t index_offset) {
    const State& s = state();
    return RowInput{data, first, plane_bytes, index_offset, s.lookup16.data(), s.lookup32.data()};
}

// Places a w x h image at the current position when the flags ask for it,
// else at (x, y), and makes its visible part the image area.
inline Placement place_image(int32_t flags, int64_t x, int64_t y, int64_t w, int64_t h) {
    const State& s = state();
    if (flags & RL_AT_POSITION) {
        x = s.pos_x;
        y = s.pos_y;
    }
    const Placement p = place(x, y, w, h, s.geometry);
    set_image_area(p);
    return p;
}

// Destination of visible row `row` (0 = first visible) of placement `p`.
inline uint8_t* destination(const Placement& p, int32_t row) {
    const Geometry& g = state().geometry;
    return g.row(p.buffer_y + row) + static_cast<size_t>(p.buffer_x) * g.pixel_bytes;
}

// An 8-bit buffer takes the image's palette after its pixels: a 256-colour
// palette is merged into the 236 free entries (unless `reduce` is false)
// and set at 10..245; a smaller one is set from entry 10.
void apply_palette_to_8bit(Triples& triples, int32_t count, bool reduce);

}  // namespace raster
