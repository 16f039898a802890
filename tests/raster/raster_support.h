// Shared set-up for the raster tests: a headless 640x480 screen bound as the
// library's DC, helpers to read and fill buffers, and builders for BMP and
// PCX files.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "raster/rl.h"
#include "raster/rl_ext.h"
#include "scratch_dir.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace raster_test {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t rgb565(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g >> 2) << 5) | (b >> 3));
}

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// An RGB picture, rows from the top.
struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The pixel value a buffer of `depth` bits holds for colour `c`.
inline uint32_t pixel_value(Rgb c, int depth) {
    if (depth == 16) return rgb565(c.r, c.g, c.b);
    return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

// Pixel (x, y), top-down, of a buffer view: index, 5-6-5 value or 0x00RRGGBB.
inline uint32_t buffer_pixel(const raster::BufferView& v, int x, int y) {
    const uint8_t* row = v.bits + static_cast<size_t>(v.height - 1 - y) * v.stride;
    switch (v.depth) {
    case 8: return row[x];
    case 16: return static_cast<uint32_t>(row[2 * x] | (row[2 * x + 1] << 8));
    case 24:
        return static_cast<uint32_t>(row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16));
    default: {
        const uint8_t* q = row + 4 * x;
        return static_cast<uint32_t>(q[0] | (q[1] << 8) | (q[2] << 16) | (q[3] << 24));
    }
    }
}

inline void set_buffer_pixel(const raster::BufferView& v, int x, int y, uint32_t value) {
    uint8_t* q = v.bits + static_cast<size_t>(v.height - 1 - y) * v.stride +
                 static_cast<size_t>(x) * (v.depth / 8);
    for (int i = 0; i < v.depth / 8; ++i) q[i] = static_cast<uint8_t>(value >> (8 * i));
}

// A value that differs per pixel and is never what a decoder writes by chance.
inline uint32_t sentinel(int x, int y, int depth) {
    const uint32_t v =
        0x5A3C00u ^ (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u);
    return depth == 8 ? (v & 0xFF) : depth == 16 ? (v & 0xFFFF) : (v & 0xFFFFFF);
}

inline void fill_sentinel(const raster::BufferView& v) {
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x) set_buffer_pixel(v, x, y, sentinel(x, y, v.depth));
}

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Number of pixels outside `drawn` that lost their sentinel value.
inline int changed_outside(const raster::BufferView& v, Rect drawn) {
    int changed = 0;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            if (!drawn.contains(x, y) && buffer_pixel(v, x, y) != sentinel(x, y, v.depth))
                ++changed;
    return changed;
}

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t get16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }
inline uint32_t get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

// ---- BMP ------------------------------------------------------------------

// A bitmap with a 40-byte header (or the 12-byte core one), rows of palette
// indices or (24 bits) colours given top-down.
struct BmpLayout {
    int width = 0, height = 0, bits = 8;
    bool core = false;
    uint32_t compression = 0;
    std::vector<Rgb> palette;
    std::vector<uint32_t> pixels;  // index, or 0x00RRGGBB at 24 bits; top-down
};

inline BmpLayout bmp_layout(int width, int height, int bits, bool core = false) {
    BmpLayout s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    s.core = core;
    return s;
}

inline Bytes make_bmp(const BmpLayout& s) {
    const size_t info = s.core ? 12 : 40;
    const size_t entry = s.core ? 3 : 4;
    const size_t data_offset = 14 + info + entry * s.palette.size();
    const size_t row_bytes = (static_cast<size_t>(s.width) * s.bits + 31) / 32 * 4;
    Bytes b(data_offset + row_bytes * static_cast<size_t>(s.height), 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, static_cast<uint32_t>(data_offset));
    put32(b, 14, static_cast<uint32_t>(info));
    if (s.core) {
        put16(b, 18, static_cast<uint32_t>(s.width));
        put16(b, 20, static_cast<uint32_t>(s.height));
        put16(b, 22, 1);
        put16(b, 24, static_cast<uint32_t>(s.bits));
    } else {
        put32(b, 18, static_cast<uint32_t>(s.width));
        put32(b, 22, static_cast<uint32_t>(s.height));
        put16(b, 26, 1);
        put16(b, 28, static_cast<uint32_t>(s.bits));
        put32(b, 30, s.compression);
    }
    for (size_t i = 0; i < s.palette.size(); ++i) {
        uint8_t* e = &b[14 + info + entry * i];
        e[0] = s.palette[i].b;
        e[1] = s.palette[i].g;
        e[2] = s.palette[i].r;
    }
    for (int y = 0; y < s.height && !s.pixels.empty(); ++y) {
        uint8_t* row = &b[data_offset + row_bytes * static_cast<size_t>(s.height - 1 - y)];
        for (int x = 0; x < s.width; ++x) {
            const uint32_t v = s.pixels[static_cast<size_t>(y) * s.width + x];
            switch (s.bits) {
            case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
            case 4: row[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = static_cast<uint8_t>(v); break;
            case 16: put16(b, static_cast<size_t>(row - b.data()) + 2 * x, v); break;
            case 24:
                row[3 * x] = static_cast<uint8_t>(v);
                row[3 * x + 1] = static_cast<uint8_t>(v >> 8);
                row[3 * x + 2] = static_cast<uint8_t>(v >> 16);
                break;
            case 32: put32(b, static_cast<size_t>(row - b.data()) + 4 * x, v); break;
            }
        }
    }
    return b;
}

// ---- PCX ------------------------------------------------------------------

struct PcxLayout {
    int version = 5, bits = 8, planes = 1;
    int min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    int bytes_per_line = 0;  // per plane
    std::array<Rgb, 16> header_palette{};
    std::vector<Rgb> tail_palette;  // 256 entries appended with the mark 12
    // Decoded lines, each bytes_per_line * planes bytes, concatenated.
    Bytes lines;
    // Runs may cross line ends (the encoder sees one long stream).
    bool runs_cross_lines = false;
};

// PCX run-length coding of `data`; literals of 192 and above take a run of 1.
inline void rle_encode(const uint8_t* data, size_t size, Bytes& out) {
    for (size_t i = 0; i < size;) {
        size_t n = 1;
        while (i + n < size && n < 63 && data[i + n] == data[i]) ++n;
        if (n > 1 || data[i] >= 0xC0) {
            out.push_back(static_cast<uint8_t>(0xC0 | n));
        }
        out.push_back(data[i]);
        i += n;
    }
}

inline Bytes make_pcx(const PcxLayout& s) {
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = static_cast<uint8_t>(s.version);
    b[2] = 1;
    b[3] = static_cast<uint8_t>(s.bits);
    put16(b, 4, static_cast<uint16_t>(s.min_x));
    put16(b, 6, static_cast<uint16_t>(s.min_y));
    put16(b, 8, static_cast<uint16_t>(s.max_x));
    put16(b, 10, static_cast<uint16_t>(s.max_y));
    for (int i = 0; i < 16; ++i) {
        b[16 + 3 * i] = s.header_palette[i].r;
        b[17 + 3 * i] = s.header_palette[i].g;
        b[18 + 3 * i] = s.header_palette[i].b;
    }
    b[65] = static_cast<uint8_t>(s.planes);
    put16(b, 66, static_cast<uint16_t>(s.bytes_per_line));
    put16(b, 68, 1);
    const size_t line = static_cast<size_t>(s.bytes_per_line) * s.planes;
    if (s.runs_cross_lines || line == 0) {
        rle_encode(s.lines.data(), s.lines.size(), b);
    } else {
        for (size_t at = 0; at < s.lines.size(); at += line)
            rle_encode(s.lines.data() + at, std::min(line, s.lines.size() - at), b);
    }
    if (!s.tail_palette.empty()) {
        b.push_back(12);
        for (const Rgb& c : s.tail_palette) b.insert(b.end(), {c.r, c.g, c.b});
    }
    return b;
}

// Decodes the run-length stream of a PCX file: its header and lines.
inline Bytes pcx_lines(const Bytes& file, size_t line_count, size_t line_size) {
    Bytes out;
    size_t i = 128;
    while (out.size() < line_count * line_size && i < file.size()) {
        const uint8_t c = file[i++];
        if (c >= 0xC0 && i < file.size())
            out.insert(out.end(), c & 0x3F, file[i++]);
        else
            out.push_back(c);
    }
    out.resize(std::min(out.size(), line_count * line_size));
    return out;
}

// ---- Library set-up -------------------------------------------------------

// A 640x480 screen of `screen_bits`, bound as the library's DC, with the
// default palette realized and the library initialised.
class RasterTest : public ::testing::Test {
protected:
    void SetUp() override { start(32); }
    void TearDown() override { stop(); }

    void start(int screen_bits) {
        setenv("WIN32_VIDEO", "headless", 1);
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{640, 480, screen_bits}));
        dc_ = GetDC(nullptr);
        ASSERT_NE(dc_, nullptr);
        rl_set_dc(dc_);
        palette_ = rl_default_palette();
        ASSERT_NE(palette_, nullptr);
        rl_realize_palette(palette_);
        rl_init();
    }

    void stop() {
        rl_buffer_close();
        rl_fini();
        if (palette_) DeleteObject(palette_);
        palette_ = nullptr;
        if (dc_) ReleaseDC(nullptr, dc_);
        dc_ = nullptr;
        rl_set_memory_image(nullptr, 0);
    }

    // Allocates and opens a buffer of `depth` bits, filled with the sentinel.
    raster::BufferView open_buffer(int depth, int width, int height) {
        EXPECT_EQ(rl_buffer_depth(depth), 0);
        const int32_t n = rl_buffer_alloc(width, height);
        EXPECT_GE(n, 0);
        EXPECT_EQ(rl_buffer_open(n), 0);
        const auto view = raster::buffer_view(n);
        EXPECT_TRUE(view.has_value());
        if (!view) return raster::BufferView{};
        fill_sentinel(*view);
        return *view;
    }

    HDC dc_ = nullptr;
    HPALETTE palette_ = nullptr;
};

}  // namespace raster_test
