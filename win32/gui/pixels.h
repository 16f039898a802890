// Pixel formats of surfaces and DIBs, and the row conversions between them.
// Colours travel between formats as 0x00RRGGBB.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace win32::gdi {

using Rgb = uint32_t;  // 0x00RRGGBB

inline Rgb make_rgb(unsigned r, unsigned g, unsigned b) {
    return ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

struct PixelFormat {
    int bpp = 32;  // 1, 4, 8, 16, 24 or 32
    // Channel masks of the direct formats (16, 24, 32 bits); 0 when indexed.
    uint32_t red = 0, green = 0, blue = 0;

    bool indexed() const { return bpp <= 8; }
    bool operator==(const PixelFormat&) const = default;
};

PixelFormat format_indexed(int bpp);
PixelFormat format_555();
PixelFormat format_565();
PixelFormat format_888(int bpp);  // 24 or 32 bits
// The format a BI_RGB DIB of `bpp` bits has.
PixelFormat format_bi_rgb(int bpp);
// Three disjoint, contiguous channels of 1 to 8 bits inside `bpp` bits.
bool valid_masks(int bpp, uint32_t red, uint32_t green, uint32_t blue);

// Bytes of one row of `width` pixels, padded to 4 bytes.
inline int64_t row_bytes(int64_t width, int bpp) { return ((width * bpp + 31) / 32) * 4; }

// Raw pixel values, little-endian as on the original machines. Rows may be
// unaligned (callers hand in their own bits), hence memcpy.
inline uint32_t load_pixel(const uint8_t* row, int64_t x, int bpp) {
    switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu;
    case 8: return row[x];
    case 16: {
        uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        return v;
    }
    case 24: {
        const uint8_t* p = row + x * 3;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    }
    default: {
        uint32_t v;
        std::memcpy(&v, row + x * 4, 4);
        return v;
    }
    }
}

inline void store_pixel(uint8_t* row, int64_t x, int bpp, uint32_t value) {
    switch (bpp) {
    case 1: {
        uint8_t bit = uint8_t(0x80u >> (x & 7));
        uint8_t& b = row[x >> 3];
        b = (value & 1) ? uint8_t(b | bit) : uint8_t(b & ~bit);
        break;
    }
    case 4: {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | (value & 0x0F)) : uint8_t((b & 0x0F) | (value & 0x0F) << 4);
        break;
    }
    case 8: row[x] = uint8_t(value); break;
    case 16: {
        uint16_t v = uint16_t(value);
        std::memcpy(row + x * 2, &v, 2);
        break;
    }
    case 24: {
        uint8_t* p = row + x * 3;
        p[0] = uint8_t(value);
        p[1] = uint8_t(value >> 8);
        p[2] = uint8_t(value >> 16);
        break;
    }
    default: std::memcpy(row + x * 4, &value, 4); break;
    }
}

inline uint32_t pixel_value_mask(int bpp) { return bpp >= 32 ? 0xFFFFFFFFu : (1u << bpp) - 1; }

// Packing and unpacking of a direct format. Narrow channels widen by
// repeating their bits (5 bits abcde become abcdeabc), so full intensity
// stays full and a round trip through 8 bits gives the same value back;
// they narrow by dropping low bits.
class DirectCodec {
public:
    DirectCodec() = default;
    explicit DirectCodec(const PixelFormat& format);
    Rgb decode(uint32_t raw) const {
        return uint32_t(ch_[0].expand[(raw >> ch_[0].shift) & ch_[0].low]) << 16 |
               uint32_t(ch_[1].expand[(raw >> ch_[1].shift) & ch_[1].low]) << 8 |
               uint32_t(ch_[2].expand[(raw >> ch_[2].shift) & ch_[2].low]);
    }
    uint32_t encode(Rgb rgb) const {
        return ((rgb >> 16 & 0xFF) >> (8 - ch_[0].bits)) << ch_[0].shift |
               ((rgb >> 8 & 0xFF) >> (8 - ch_[1].bits)) << ch_[1].shift |
               ((rgb & 0xFF) >> (8 - ch_[2].bits)) << ch_[2].shift;
    }

private:
    struct Channel {
        int shift = 0;
        int bits = 8;
        uint32_t low = 0;
        const uint8_t* expand = nullptr;
    };
    std::array<Channel, 3> ch_{};
};

struct PaletteCandidate {
    Rgb rgb;
    uint8_t index;
};

// Turns colours into raw pixel values of one target format.
class Encoder {
public:
    static Encoder direct(const PixelFormat& format);
    // Indexed target: the nearest candidate (squared RGB distance, the
    // first of equals wins).
    static Encoder nearest(int bpp, std::vector<PaletteCandidate> candidates);
    // Monochrome device bitmap: the background colour becomes 1, all else 0.
    static Encoder background_rule(Rgb background);

    const PixelFormat& format() const { return format_; }
    uint32_t encode(Rgb rgb);
    // Remembers nearest-colour answers; worth it for whole blocks of pixels.
    void enable_cache();

private:
    enum class Kind { Direct, Nearest, Background };
    uint32_t find_nearest(Rgb rgb) const;

    Kind kind_ = Kind::Direct;
    PixelFormat format_;
    DirectCodec codec_;
    std::vector<PaletteCandidate> candidates_;
    Rgb background_ = 0;
    // Direct-mapped cache of nearest-colour answers; 0 marks an empty slot.
    std::unique_ptr<std::array<uint64_t, 4096>> cache_;
};

// Converts runs of pixels from one format to another.
class RowConverter {
public:
    // `table` holds the colour of every index of an indexed source
    // (1 << bpp entries; unused otherwise). `raw`, when given, fixes the
    // target value of every index instead (palette indices on a palette
    // device, identity between two surfaces of the system palette).
    RowConverter(const PixelFormat& source, const Rgb* table, const uint32_t* raw, Encoder& target);
    void convert(const uint8_t* src_row, int64_t sx, uint8_t* dst_row, int64_t dx, int64_t n);

private:
    enum class Mode { Copy, Indexed, Direct };
    Mode mode_ = Mode::Direct;
    PixelFormat src_;
    PixelFormat dst_;
    DirectCodec src_codec_;
    Encoder* target_;
    std::vector<uint32_t> index_raw_;
};

// A block of pixels: the screen, a device bitmap or a DIB section.
struct Surface {
    int width = 0;
    int height = 0;
    PixelFormat format;
    bool top_down = true;
    int64_t stride = 0;
    uint8_t* bits = nullptr;  // first row in memory
    std::unique_ptr<uint8_t[]> storage;
    // Colours of an indexed surface with its own table, 1 << bpp entries
    // (indices past the real table read as black); color_count are real.
    std::vector<Rgb> colors;
    int color_count = 0;
    bool device_palette = false;  // indices into the system palette
    bool monochrome = false;      // a monochrome device bitmap

    uint8_t* row(int64_t y) const { return bits + (top_down ? y : height - 1 - y) * stride; }
    // Zero-filled pixels; false when the size is absurd or memory short.
    bool allocate(int w, int h, const PixelFormat& f, bool rows_top_down);
};

// Largest pixel block the stand-in allocates for one surface.
inline constexpr int64_t kMaxSurfaceBytes = 256ll << 20;

}  // namespace win32::gdi
