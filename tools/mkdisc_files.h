// File images the disc maker writes: BMP (4, 8 and 24 bits), 8-bit PCX
// with its palette at the end, 8-bit mono WAV, 32x32 monochrome cursors
// and a 16-colour icon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Pixels as 0x00RRGGBB, rows from the top.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
};

// An image reduced to at most 256 colours: indices and the palette.
struct Indexed {
    int width = 0, height = 0;
    std::vector<uint8_t> index;
    std::vector<uint32_t> palette;
};

// The most used colours (at 5 bits a channel), every pixel mapped to the
// nearest of them.
Indexed Reduce(const Pixels& p, int colours);
// Nearest entries of a fixed palette.
Indexed MapToPalette(const Pixels& p, const std::vector<uint32_t>& palette);
// The 16 colours of a standard VGA display.
const std::vector<uint32_t>& VgaPalette();

Bytes Bmp24(const Pixels& p);
Bytes Bmp8(const Indexed& p);
Bytes Bmp4(const Indexed& p);
Bytes Pcx8(const Indexed& p);
// 8-bit unsigned mono samples at `rate`.
Bytes Wav8(const std::vector<uint8_t>& samples, int rate);
// A cursor from 32 rows of art: '#' black, 'o' white, else transparent.
Bytes Cursor(const std::vector<std::string>& art, int hot_x, int hot_y);
// A 32x32 icon of 16 colours.
Bytes Icon16(const Indexed& p);

bool SaveBytes(const std::string& path, const Bytes& bytes);
