// Windows bitmap decoder: 1, 4, 8 and 24 bits, uncompressed, with the core
// (12-byte) or a longer info header.
#include <algorithm>
#include <cstring>

#include "decode.h"
#include "raster/rl.h"
#include "source.h"

namespace raster {
namespace {

struct BmpHeader {
    int64_t data_offset = 0;
    int64_t info_size = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative: rows stored top-down
    int32_t bits = 0;
    uint32_t compression = 0;
    int32_t entry_size = 4;
};

// Reads the file and info headers; false when this is not a bitmap.
bool read_header(ImageSource& src, BmpHeader& h) {
    uint8_t b[14 + 40] = {};
    const size_t got = src.read(b, sizeof b);
    if (got < 18 || b[0] != 'B' || b[1] != 'M') return false;
    h.data_offset = le32(b + 10);
    h.info_size = le32(b + 14);
    if (h.info_size == 12) {
        if (got < 14 + 12) return false;
        h.width = le16(b + 18);
        h.height = le16(b + 20);
        h.bits = le16(b + 24);
        h.entry_size = 3;
        return true;
    }
    // Short OS/2 headers end before the compression field, which is then 0.
    if (h.info_size < 16 || got < 14 + 16) return false;
    h.width = static_cast<int32_t>(le32(b + 18));
    h.height = static_cast<int32_t>(le32(b + 22));
    h.bits = le16(b + 28);
    if (h.info_size >= 20) {
        if (got < 14 + 20) return false;
        h.compression = le32(b + 30);
    }
    return true;
}

// The palette between the info header and the pixel data, as triples.
// Entries the file does not hold are not counted.
int32_t read_palette(ImageSource& src, const BmpHeader& h, Triples& triples) {
    const int64_t room = (h.data_offset - 14 - h.info_size) / h.entry_size;
    const int64_t wanted = std::clamp<int64_t>(room, 0, int64_t{1} << h.bits);
    uint8_t raw[256 * 4];
    src.seek(14 + h.info_size);
    const int32_t count = static_cast<int32_t>(
        src.read(raw, static_cast<size_t>(wanted * h.entry_size)) / h.entry_size);
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* e = raw + i * h.entry_size;
        triples[3 * i] = e[2];
        triples[3 * i + 1] = e[1];
        triples[3 * i + 2] = e[0];
    }
    return count;
}

PixelFormat format_of(int32_t bits) {
    switch (bits) {
    case 1: return PixelFormat::Bits1;
    case 4: return PixelFormat::Bits4;
    case 8: return PixelFormat::Bits8;
    default: return PixelFormat::Bgr24;
    }
}

}  // namespace
}  // namespace raster

using namespace raster;

extern "C" int32_t rl_show_bmp(const char* name, int32_t flags) {
    State& s = state();
    if (!s.has_active()) return RL_OK;
    ImageSource src;
    if (!src.open(name, flags)) return RL_CANNOT_OPEN;
    BmpHeader h;
    if (!read_header(src, h)) return RL_NOT_IMAGE;
    if (h.compression != BI_RGB) return RL_COMPRESSED;
    const Geometry& g = s.geometry;
    const bool supported = h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 24;
    if (!supported || (h.bits == 24 && g.depth <= 8)) return RL_UNSUPPORTED;
    const RowConverter convert = select_converter(format_of(h.bits), g.depth);
    if (!convert) return RL_UNSUPPORTED;

    // 1- and 4-bit images use the entries from 10 on.
    const int32_t palette_base = h.bits < 8 ? 10 : 0;
    Triples triples{};
    int32_t colours = 0;
    if (!(flags & RL_KEEP_PALETTE) && h.bits <= 8) {
        colours = read_palette(src, h, triples);
        if (g.depth > 8 && colours > 0) rl_set_palette(palette_base, colours, triples.data());
    }

    const bool bottom_up = h.height > 0;
    const int64_t rows = bottom_up ? h.height : -h.height;
    const Placement p = place_image(flags, 0, 0, h.width, rows);

    if (!p.empty()) {
        const int64_t row_bytes = (h.width * h.bits + 31) / 32 * 4;
        // Only the bytes of the visible columns are read.
        const int64_t first_bit = int64_t{p.image_x} * h.bits;
        const int64_t span_start = first_bit / 8;
        const int64_t span_end = ((int64_t{p.image_x} + p.width) * h.bits + 7) / 8;
        const auto span = static_cast<size_t>(span_end - span_start);
        const auto first = static_cast<int32_t>((first_bit % 8) / h.bits);
        s.line.resize(span);
        const RowInput in = row_input(s.line.data(), first, 0, static_cast<uint8_t>(palette_base));
        // Rows in file order, so that a short file draws the rows it holds.
        for (int32_t n = 0; n < p.height; ++n) {
            const int32_t row = bottom_up ? p.height - 1 - n : n;
            const int64_t file_row = bottom_up ? rows - 1 - (p.image_y + row) : p.image_y + row;
            if (file_row > src.size() / row_bytes) break;
            src.seek(h.data_offset + file_row * row_bytes + span_start);
            // A row inside the block in hand converts from there; one that
            // crosses into the next block is gathered in the line first.
            size_t avail = 0;
            const uint8_t* held = src.buffered(avail);
            if (avail >= span) {
                RowInput direct = in;
                direct.data = held;
                convert(direct, destination(p, row), p.width);
                src.advance(span);
                continue;
            }
            if (src.read(s.line.data(), span) < span) break;
            convert(in, destination(p, row), p.width);
        }
    }

    if (g.depth == 8 && !(flags & RL_KEEP_PALETTE) && h.bits <= 8)
        apply_palette_to_8bit(triples, h.bits == 8 ? 256 : colours, !(flags & RL_NO_REDUCE));
    return RL_OK;
}
