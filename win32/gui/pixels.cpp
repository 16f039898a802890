#include "pixels.h"

#include <algorithm>
#include <bit>
#include <new>

namespace win32::gdi {
namespace {

// Widening tables for channels of 1 to 8 bits: the value's bits repeated
// until they fill a byte.
struct ExpandTables {
    std::array<std::array<uint8_t, 256>, 9> t{};
    ExpandTables() {
        for (int bits = 1; bits <= 8; ++bits) {
            for (uint32_t v = 0; v < (1u << bits); ++v) {
                uint32_t out = 0;
                int filled = 0;
                while (filled < 8) {
                    out = (out << bits) | v;
                    filled += bits;
                }
                t[bits][v] = uint8_t(out >> (filled - 8));
            }
        }
    }
};

const uint8_t* expand_table(int bits) {
    static const ExpandTables tables;
    return tables.t[bits].data();
}

bool channel_of(uint32_t mask, int& shift, int& bits) {
    if (mask == 0) return false;
    shift = std::countr_zero(mask);
    uint32_t m = mask >> shift;
    if ((m & (m + 1)) != 0) return false;  // not contiguous
    bits = std::popcount(m);
    return bits <= 8;
}

}  // namespace

PixelFormat format_indexed(int bpp) { return PixelFormat{bpp, 0, 0, 0}; }
PixelFormat format_555() { return PixelFormat{16, 0x7C00, 0x03E0, 0x001F}; }
PixelFormat format_565() { return PixelFormat{16, 0xF800, 0x07E0, 0x001F}; }
PixelFormat format_888(int bpp) { return PixelFormat{bpp, 0xFF0000, 0x00FF00, 0x0000FF}; }

PixelFormat format_bi_rgb(int bpp) {
    if (bpp <= 8) return format_indexed(bpp);
    if (bpp == 16) return format_555();
    return format_888(bpp);
}

bool valid_masks(int bpp, uint32_t red, uint32_t green, uint32_t blue) {
    if (bpp != 16 && bpp != 24 && bpp != 32) return false;
    int shift, bits;
    for (uint32_t m : {red, green, blue}) {
        if (!channel_of(m, shift, bits)) return false;
        if (bpp < 32 && (m >> bpp) != 0) return false;
    }
    return (red & green) == 0 && (red & blue) == 0 && (green & blue) == 0;
}

DirectCodec::DirectCodec(const PixelFormat& format) {
    const uint32_t masks[3] = {format.red, format.green, format.blue};
    for (int i = 0; i < 3; ++i) {
        Channel& c = ch_[i];
        if (!channel_of(masks[i], c.shift, c.bits)) {
            c.shift = 0;
            c.bits = 8;
            c.low = 0;  // a channel that is not there reads as 0
        } else {
            c.low = (1u << c.bits) - 1;
        }
        c.expand = expand_table(c.bits);
    }
}

Encoder Encoder::direct(const PixelFormat& format) {
    Encoder e;
    e.kind_ = Kind::Direct;
    e.format_ = format;
    e.codec_ = DirectCodec(format);
    return e;
}

Encoder Encoder::nearest(int bpp, std::vector<PaletteCandidate> candidates) {
    Encoder e;
    e.kind_ = Kind::Nearest;
    e.format_ = format_indexed(bpp);
    e.candidates_ = std::move(candidates);
    if (e.candidates_.empty()) e.candidates_.push_back({0, 0});
    return e;
}

Encoder Encoder::background_rule(Rgb background) {
    Encoder e;
    e.kind_ = Kind::Background;
    e.format_ = format_indexed(1);
    e.background_ = background;
    return e;
}

void Encoder::enable_cache() {
    if (kind_ == Kind::Nearest && !cache_) cache_.reset(new (std::nothrow) std::array<uint64_t, 4096>());
}

uint32_t Encoder::find_nearest(Rgb rgb) const {
    const int r = int(rgb >> 16 & 0xFF), g = int(rgb >> 8 & 0xFF), b = int(rgb & 0xFF);
    int best = 0x7FFFFFFF;
    uint32_t index = candidates_.front().index;
    for (const PaletteCandidate& c : candidates_) {
        int dr = r - int(c.rgb >> 16 & 0xFF), dg = g - int(c.rgb >> 8 & 0xFF),
            db = b - int(c.rgb & 0xFF);
        int d = dr * dr + dg * dg + db * db;
        if (d < best) {
            best = d;
            index = c.index;
            if (d == 0) break;
        }
    }
    return index;
}

uint32_t Encoder::encode(Rgb rgb) {
    switch (kind_) {
    case Kind::Direct: return codec_.encode(rgb);
    case Kind::Background: return (rgb & 0xFFFFFF) == background_ ? 1u : 0u;
    case Kind::Nearest: break;
    }
    rgb &= 0xFFFFFF;
    if (!cache_) return find_nearest(rgb);
    uint64_t& slot = (*cache_)[(rgb * 2654435761u) >> 20];
    if (slot != 0 && uint32_t(slot >> 8) == rgb + 1) return uint32_t(slot & 0xFF);
    uint32_t index = find_nearest(rgb);
    slot = uint64_t(rgb + 1) << 8 | index;
    return index;
}

RowConverter::RowConverter(const PixelFormat& source, const Rgb* table, const uint32_t* raw,
                           Encoder& target)
    : src_(source), dst_(target.format()), target_(&target) {
    target.enable_cache();
    if (src_.indexed()) {
        const size_t n = size_t(1) << src_.bpp;
        index_raw_.resize(n);
        bool identity = src_.bpp == dst_.bpp;
        for (size_t i = 0; i < n; ++i) {
            index_raw_[i] = raw ? raw[i] & pixel_value_mask(dst_.bpp) : target.encode(table[i]);
            identity = identity && index_raw_[i] == i;
        }
        mode_ = identity && src_.bpp >= 8 ? Mode::Copy : Mode::Indexed;
    } else {
        src_codec_ = DirectCodec(src_);
        mode_ = src_ == dst_ ? Mode::Copy : Mode::Direct;
    }
}

void RowConverter::convert(const uint8_t* src_row, int64_t sx, uint8_t* dst_row, int64_t dx,
                           int64_t n) {
    switch (mode_) {
    case Mode::Copy: {
        const int bytes = src_.bpp / 8;
        std::memmove(dst_row + dx * bytes, src_row + sx * bytes, size_t(n * bytes));
        break;
    }
    case Mode::Indexed:
        for (int64_t i = 0; i < n; ++i)
            store_pixel(dst_row, dx + i, dst_.bpp, index_raw_[load_pixel(src_row, sx + i, src_.bpp)]);
        break;
    case Mode::Direct:
        for (int64_t i = 0; i < n; ++i) {
            Rgb rgb = src_codec_.decode(load_pixel(src_row, sx + i, src_.bpp));
            store_pixel(dst_row, dx + i, dst_.bpp, target_->encode(rgb));
        }
        break;
    }
}

bool Surface::allocate(int w, int h, const PixelFormat& f, bool rows_top_down) {
    if (w <= 0 || h <= 0) return false;
    const int64_t s = row_bytes(w, f.bpp);
    if (s <= 0 || s * h > kMaxSurfaceBytes) return false;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size_t(s * h)]());
    if (!block) return false;
    storage = std::move(block);
    bits = storage.get();
    width = w;
    height = h;
    format = f;
    stride = s;
    top_down = rows_top_down;
    if (f.indexed()) {
        colors.assign(size_t(1) << f.bpp, 0);
    } else {
        colors.clear();
    }
    color_count = 0;
    return true;
}

}  // namespace win32::gdi
