// The BMP and PCX targets: a headless screen bound as the raster library's
// DC, and one decode of the image into a buffer of each depth (8, 16, 24,
// 32 bits), of a size, place and flags the input's hash picks. The decoder
// reads the image from memory of exactly its size, which it is told.
#pragma once

#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "raster/rl.h"
#include "raster/rl_ext.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace fuzz {

inline void start_raster() {
    static const bool started = [] {
        setenv("WIN32_VIDEO", "headless", 1);
        scratch_drive();
        if (!win32::reset_screen(win32::ScreenMode{640, 480, 32})) return false;
        HDC dc = GetDC(nullptr);
        if (!dc) return false;
        rl_set_dc(dc);
        rl_realize_palette(rl_default_palette());
        return rl_init() == 0;
    }();
    if (!started) std::abort();
}

using Decoder = int32_t (*)(const char* name, int32_t flags);

inline void decode_into_each_depth(Decoder decode, const uint8_t* data, size_t size) {
    start_raster();
    if (size > (1u << 20)) return;
    Choices pick(data, size);
    const std::vector<uint8_t> image(data, data + size);
    rl_set_memory_image(image.empty() ? nullptr : image.data(), int32_t(size));
    for (int32_t depth : {8, 16, 24, 32}) {
        rl_buffer_depth(depth);
        // One pick a statement: compilers evaluate arguments in different orders.
        const int32_t width = 1 + int32_t(pick.pick(160));
        const int32_t height = 1 + int32_t(pick.pick(120));
        const int32_t n = rl_buffer_alloc(width, height);
        if (n < 0) std::abort();
        FUZZ_CHECK(rl_buffer_open(n) == 0);
        const int32_t x = int32_t(pick.pick(200)) - 40;
        const int32_t y = int32_t(pick.pick(160)) - 40;
        rl_set_position(x, y);
        const int32_t flags = RL_FROM_MEMORY | int32_t(pick.pick(16) & ~RL_FROM_MEMORY);
        const int32_t result = decode("", flags);
        FUZZ_CHECK(result >= RL_OK && result <= RL_COMPRESSED);
        if (depth == 8 && result == RL_OK && pick.chance(2)) {
            uint8_t triples[256 * 3] = {};
            const int32_t offset = int32_t(pick.pick(20));
            rl_reduce_palette(offset, int32_t(pick.pick(256)), triples);
        }
        rl_buffer_close();
        rl_buffer_free(n);
    }
    rl_set_memory_image(nullptr, 0);
}

}  // namespace fuzz
