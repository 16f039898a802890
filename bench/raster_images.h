// The pictures the raster benchmarks decode: a 640x480 8-bit BMP and PCX
// of blocks of colour with some texture, like a menu picture.
#pragma once

#include <cstdint>
#include <vector>

namespace bench_images {

constexpr int kWidth = 640, kHeight = 480;

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Blocks of colour with some texture, like a menu picture: runs of a few
// pixels to a few dozen.
inline uint8_t picture(int x, int y) {
    return static_cast<uint8_t>((x / 12 + (y / 10) * 7 + ((x * y) >> 11)) & 0xFF);
}

inline Bytes make_bmp() {
    const size_t data = 14 + 40 + 1024;
    Bytes b(data + size_t{kWidth} * kHeight, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, static_cast<uint32_t>(data));
    put32(b, 14, 40);
    put32(b, 18, kWidth);
    put32(b, 22, kHeight);
    put16(b, 26, 1);
    put16(b, 28, 8);
    for (int i = 0; i < 256; ++i) {
        b[54 + 4 * i] = static_cast<uint8_t>(i);
        b[55 + 4 * i] = static_cast<uint8_t>(255 - i);
        b[56 + 4 * i] = static_cast<uint8_t>(i * 3);
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            b[data + size_t(kHeight - 1 - y) * kWidth + x] = picture(x, y);
    return b;
}

inline Bytes make_pcx() {
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    put16(b, 8, kWidth - 1);
    put16(b, 10, kHeight - 1);
    b[65] = 1;
    put16(b, 66, kWidth);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth;) {
            const uint8_t v = picture(x, y);
            int n = 1;
            while (x + n < kWidth && n < 63 && picture(x + n, y) == v) ++n;
            if (n > 1 || v >= 0xC0) b.push_back(static_cast<uint8_t>(0xC0 | n));
            b.push_back(v);
            x += n;
        }
    b.push_back(12);
    for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
    return b;
}

}  // namespace bench_images
