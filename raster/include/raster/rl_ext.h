// Read-only views of the raster library's state for tests and tools. Not
// part of the flat interface: the menu does not use it.
#pragma once

#include <cstdint>
#include <optional>

namespace raster {

struct BufferView {
    uint8_t* bits;  // bottom-up rows: buffer row r is memory line height - 1 - r
    int32_t width;  // as stored (a multiple of 4)
    int32_t height;
    int32_t depth;   // bits per pixel
    int32_t stride;  // bytes per memory line
};

// The buffer in slot `number`, or nothing when the slot is not in use.
std::optional<BufferView> buffer_view(int32_t number);
// Number of the active buffer, -1 when none.
int32_t active_buffer();
// Colour lookup entry for the active depth (16-bit value for 16-bit
// buffers, 0x00RRGGBB for 24 and 32 bits).
uint32_t lookup_entry(int32_t index);
// The logical palette entry as 0x00RRGGBB.
uint32_t palette_entry(int32_t index);

}  // namespace raster
