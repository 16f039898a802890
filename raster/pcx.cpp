// PCX decoder: 256 colours in one plane, two colours in one plane, 16
// colours in four bit planes, true colour in three byte planes.
#include <algorithm>
#include <cstring>

#include "decode.h"
#include "raster/rl.h"
#include "source.h"

namespace raster {
namespace {

constexpr int kHeaderSize = 128;
constexpr int kTailPaletteSize = 1 + 256 * 3;
constexpr uint8_t kTailPaletteMark = 12;

// Run-length decoding of consecutive lines; a run may carry on into the
// next line.
class LineDecoder {
public:
    explicit LineDecoder(ImageSource& src) : src_(src) {}

    // Fills `line` completely; false when the data end first. `line` has
    // room for kLineSlack bytes past `size`, which run fills may scribble.
    bool next(uint8_t* line, size_t size) {
        size_t filled = 0;
        while (filled < size) {
            if (run_ > 0) {
                const size_t n = std::min(run_, size - filled);
                fill(line + filled, value_, n);
                filled += n;
                run_ -= n;
                continue;
            }
            // Codes are read in place from the block in hand; a run whose
            // value lies in the next block goes the byte-wise way below.
            size_t avail = 0;
            const uint8_t* const begin = src_.buffered(avail);
            if (avail == 0) return false;
            const uint8_t* p = begin;
            const uint8_t* const end = begin + avail;
            while (filled < size && p < end) {
                const uint8_t byte = *p;
                if (byte < 0xC0) {
                    line[filled++] = byte;
                    ++p;
                    continue;
                }
                if (end - p < 2) break;
                const size_t count = byte & 0x3F;
                const size_t n = std::min(count, size - filled);
                fill(line + filled, p[1], n);
                filled += n;
                run_ = count - n;
                value_ = p[1];
                p += 2;
            }
            src_.advance(size_t(p - begin));
            if (filled < size && run_ == 0 && p + 1 == end) {
                const int code = src_.get();
                const int value = src_.get();
                if (value < 0) return false;
                run_ = static_cast<size_t>(code & 0x3F);
                value_ = static_cast<uint8_t>(value);
            }
        }
        return true;
    }

    static constexpr size_t kLineSlack = 8;

private:
    // Runs are short (a few to 63 bytes): whole 8-byte stores beat a call.
    static void fill(uint8_t* dst, uint8_t value, size_t n) {
        const uint64_t pattern = value * 0x0101010101010101ull;
        for (size_t i = 0; i < n; i += 8) std::memcpy(dst + i, &pattern, 8);
    }

    ImageSource& src_;
    size_t run_ = 0;
    uint8_t value_ = 0;
};

// The 256 colours after the image data of a version 5 file; 0 without.
int32_t read_tail_palette(ImageSource& src, Triples& triples) {
    if (src.size() < kTailPaletteSize) return 0;
    uint8_t tail[kTailPaletteSize];
    src.seek(src.size() - kTailPaletteSize);
    if (src.read(tail, sizeof tail) < sizeof tail || tail[0] != kTailPaletteMark) return 0;
    std::memcpy(triples.data(), tail + 1, triples.size());
    return 256;
}

}  // namespace
}  // namespace raster

using namespace raster;

extern "C" int32_t rl_show_pcx(const char* name, int32_t flags) {
    State& s = state();
    if (!s.has_active()) return RL_OK;
    ImageSource src;
    if (!src.open(name, flags)) return RL_CANNOT_OPEN;
    uint8_t h[kHeaderSize];
    if (src.read(h, sizeof h) < sizeof h || h[0] != 10) return RL_NOT_IMAGE;

    const int version = h[1];
    const int bits = h[3];
    // Positions are signed: writers may place an image left of or above the origin.
    const auto min_x = static_cast<int16_t>(le16(h + 4));
    const auto min_y = static_cast<int16_t>(le16(h + 6));
    const auto max_x = static_cast<int16_t>(le16(h + 8));
    const auto max_y = static_cast<int16_t>(le16(h + 10));
    const int planes = h[65];
    const int32_t line_plane_bytes = le16(h + 66);
    if (max_x < min_x || max_y < min_y) return RL_NOT_IMAGE;
    const int32_t width = max_x - min_x + 1;
    const int32_t height = max_y - min_y + 1;

    PixelFormat format;
    if (planes == 4 && bits == 1)
        format = PixelFormat::Planes4;
    else if (planes == 3 && bits == 8)
        format = PixelFormat::PlanesRgb;
    else if (planes == 1 && bits == 8)
        format = PixelFormat::Bits8;
    else if (planes == 1 && bits == 1)
        format = PixelFormat::Bits1;
    else
        return RL_UNSUPPORTED;
    const Geometry& g = s.geometry;
    const RowConverter convert = select_converter(format, g.depth);
    if (!convert) return RL_UNSUPPORTED;
    // A line that cannot hold the width would make us read past it.
    if (line_plane_bytes < (bits == 8 ? width : (width + 7) / 8)) return RL_UNSUPPORTED;

    Triples triples{};
    int32_t colours = 0;
    if (!(flags & RL_KEEP_PALETTE) && format != PixelFormat::PlanesRgb) {
        if (version == 5) colours = read_tail_palette(src, triples);
        if (colours == 0) {
            std::memcpy(triples.data(), h + 16, 16 * 3);
            colours = 16;
        }
        if (g.depth > 8) rl_set_palette(0, colours, triples.data());
    }

    const Placement p = place_image(flags, min_x, min_y, width, height);

    if (!p.empty()) {
        const size_t line_size = static_cast<size_t>(line_plane_bytes) * planes;
        s.line.assign(line_size + LineDecoder::kLineSlack, 0);
        const bool packed = format == PixelFormat::Bits1 || format == PixelFormat::Planes4;
        const auto offset = static_cast<uint8_t>(g.depth == 8 && packed ? 10 : 0);
        const RowInput in = row_input(s.line.data(), p.image_x, line_plane_bytes, offset);
        src.seek(kHeaderSize);
        LineDecoder lines(src);
        // Lines above the buffer are decoded and dropped.
        const int32_t last = p.image_y + p.height;
        for (int32_t y = 0; y < last; ++y) {
            if (!lines.next(s.line.data(), line_size)) break;
            if (y >= p.image_y) convert(in, destination(p, y - p.image_y), p.width);
        }
    }

    if (g.depth == 8 && colours > 0)
        apply_palette_to_8bit(triples, colours, !(flags & RL_NO_REDUCE));
    return RL_OK;
}
