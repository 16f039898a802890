// One generic conversion body, instantiated for every pair of source
// format and buffer depth and selected through a table.
#include "convert.h"

#include <array>
#include <cstring>

#include "state.h"

namespace raster {
namespace {

struct Index {
    uint8_t value;
};
struct Colour {
    uint8_t r, g, b;
};

inline uint8_t bit_at(const uint8_t* data, int32_t p) {
    return static_cast<uint8_t>((data[p >> 3] >> (7 - (p & 7))) & 1);
}

template <PixelFormat F>
struct Pixel;

template <>
struct Pixel<PixelFormat::Bits1> {
    static Index at(const RowInput& in, int32_t p) {
        return {static_cast<uint8_t>(bit_at(in.data, p) + in.index_offset)};
    }
};
template <>
struct Pixel<PixelFormat::Bits4> {
    static Index at(const RowInput& in, int32_t p) {
        const uint8_t byte = in.data[p >> 1];
        return {static_cast<uint8_t>(((p & 1) ? byte & 0x0F : byte >> 4) + in.index_offset)};
    }
};
template <>
struct Pixel<PixelFormat::Bits8> {
    static Index at(const RowInput& in, int32_t p) { return {in.data[p]}; }
};
template <>
struct Pixel<PixelFormat::Bgr24> {
    static Colour at(const RowInput& in, int32_t p) {
        const uint8_t* q = in.data + 3 * p;
        return {q[2], q[1], q[0]};
    }
};
template <>
struct Pixel<PixelFormat::Planes4> {
    static Index at(const RowInput& in, int32_t p) {
        uint8_t v = 0;
        for (int plane = 0; plane < 4; ++plane)
            v |= static_cast<uint8_t>(bit_at(in.data + plane * in.plane_bytes, p) << plane);
        return {static_cast<uint8_t>(v + in.index_offset)};
    }
};
template <>
struct Pixel<PixelFormat::PlanesRgb> {
    static Colour at(const RowInput& in, int32_t p) {
        return {in.data[p], in.data[in.plane_bytes + p], in.data[2 * in.plane_bytes + p]};
    }
};

template <typename T>
inline void put(uint8_t* dst, int32_t x, T value) {
    std::memcpy(dst + static_cast<size_t>(x) * sizeof(T), &value, sizeof(T));
}

inline void put24(uint8_t* dst, int32_t x, uint32_t rgb) {
    uint8_t* q = dst + static_cast<size_t>(x) * 3;
    q[0] = static_cast<uint8_t>(rgb);
    q[1] = static_cast<uint8_t>(rgb >> 8);
    q[2] = static_cast<uint8_t>(rgb >> 16);
}

template <int Depth>
inline void store(uint8_t* dst, int32_t x, Index i, const RowInput& in) {
    if constexpr (Depth == 8)
        dst[x] = i.value;
    else if constexpr (Depth == 16)
        put<uint16_t>(dst, x, in.lookup16[i.value]);
    else if constexpr (Depth == 24)
        put24(dst, x, in.lookup32[i.value]);
    else
        put<uint32_t>(dst, x, in.lookup32[i.value]);
}

template <int Depth>
inline void store(uint8_t* dst, int32_t x, Colour c, const RowInput&) {
    static_assert(Depth != 8, "true colour has no 8-bit form");
    if constexpr (Depth == 16)
        put<uint16_t>(dst, x, rgb565(c.r, c.g, c.b));
    else if constexpr (Depth == 24)
        put24(dst, x, rgb32(c.r, c.g, c.b));
    else
        put<uint32_t>(dst, x, rgb32(c.r, c.g, c.b));
}

template <PixelFormat F, int Depth>
void convert_row(const RowInput& row, uint8_t* dst, int32_t count) {
    // A copy the stores cannot alias, so its fields stay in registers.
    const RowInput in = row;
    if constexpr (F == PixelFormat::Bits8 && Depth == 16) {
        // Four pixels to one 64-bit store: menu pictures are mostly this.
        const uint8_t* src = in.data + in.first;
        const uint16_t* lut = in.lookup16;
        int32_t x = 0;
        for (; x + 4 <= count; x += 4) {
            const uint64_t v = uint64_t{lut[src[x]]} | uint64_t{lut[src[x + 1]]} << 16 |
                               uint64_t{lut[src[x + 2]]} << 32 | uint64_t{lut[src[x + 3]]} << 48;
            put<uint64_t>(dst, x / 4, v);
        }
        for (; x < count; ++x) put<uint16_t>(dst, x, lut[src[x]]);
        return;
    }
    for (int32_t x = 0; x < count; ++x) store<Depth>(dst, x, Pixel<F>::at(in, in.first + x), in);
}

template <PixelFormat F>
constexpr bool kTrueColour = F == PixelFormat::Bgr24 || F == PixelFormat::PlanesRgb;

// Converters of one format for depths 8, 16, 24, 32.
template <PixelFormat F>
constexpr std::array<RowConverter, 4> depths() {
    RowConverter eight = nullptr;
    if constexpr (!kTrueColour<F>) eight = &convert_row<F, 8>;
    return {eight, &convert_row<F, 16>, &convert_row<F, 24>, &convert_row<F, 32>};
}

constexpr std::array<std::array<RowConverter, 4>, 6> kConverters = {
    depths<PixelFormat::Bits1>(), depths<PixelFormat::Bits4>(),   depths<PixelFormat::Bits8>(),
    depths<PixelFormat::Bgr24>(), depths<PixelFormat::Planes4>(), depths<PixelFormat::PlanesRgb>(),
};

}  // namespace

RowConverter select_converter(PixelFormat format, int32_t depth) {
    int column;
    switch (depth) {
    case 8: column = 0; break;
    case 16: column = 1; break;
    case 24: column = 2; break;
    case 32: column = 3; break;
    default: return nullptr;
    }
    return kConverters[static_cast<size_t>(format)][column];
}

}  // namespace raster
