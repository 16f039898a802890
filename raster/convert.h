// Row converters: one unpacked image row into the active buffer's pixel
// format. A decoder picks its converter once per image.
#pragma once

#include <cstdint>

namespace raster {

enum class PixelFormat {
    Bits1,      // packed palette indices, most significant bit first
    Bits4,      // packed palette indices, high nibble first
    Bits8,      // one palette index per byte
    Bgr24,      // blue, green, red bytes
    Planes4,    // four bit planes, plane 0 the least significant bit
    PlanesRgb,  // red, green and blue byte planes
};

struct RowInput {
    const uint8_t* data;  // the row; planes follow each other plane_bytes apart
    int32_t first;        // pixel of `data` that lands on the first destination pixel
    int32_t plane_bytes;
    uint8_t index_offset;  // added to 1- and 4-bit indices
    const uint16_t* lookup16;
    const uint32_t* lookup32;
};

using RowConverter = void (*)(const RowInput& in, uint8_t* dst, int32_t count);

// Null when the pair cannot be converted (true colour into 8 bits).
RowConverter select_converter(PixelFormat format, int32_t depth);

}  // namespace raster
