// Reading the BITMAPINFO that callers hand to CreateDIBSection and
// SetDIBitsToDevice.
#pragma once

#include <vector>

#include "pixels.h"
#include "win32/gdi.h"

namespace win32::gdi {

struct DibInfo {
    int width = 0;
    int height = 0;  // rows, always positive
    bool top_down = false;
    PixelFormat format;
    int64_t stride = 0;
    bool pal_colors = false;  // the table holds palette indices
    int color_count = 0;      // real entries of the table
    std::vector<Rgb> colors;        // DIB_RGB_COLORS: 1 << bpp entries, the rest black
    std::vector<uint16_t> indices;  // DIB_PAL_COLORS: 1 << bpp entries, the rest 0
};

// False for a header Windows would refuse: unknown size, planes other than
// 1, a bit count or compression it cannot draw, masks that make no sense,
// absurd dimensions.
bool parse_dib(const BITMAPINFO* bmi, UINT usage, DibInfo& out);

}  // namespace win32::gdi
