#include "mkdisc_files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

namespace {

void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void put_tag(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(tag[i]));
}

int distance(uint32_t a, uint32_t b) {
    const int dr = int(a >> 16 & 255) - int(b >> 16 & 255);
    const int dg = int(a >> 8 & 255) - int(b >> 8 & 255);
    const int db = int(a & 255) - int(b & 255);
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

uint8_t nearest(const std::vector<uint32_t>& palette, uint32_t c) {
    int best = 0;
    for (size_t i = 1; i < palette.size(); ++i)
        if (distance(palette[i], c) < distance(palette[size_t(best)], c)) best = int(i);
    return uint8_t(best);
}

uint32_t key15(uint32_t c) { return (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31); }

// BITMAPFILEHEADER and BITMAPINFOHEADER for a bottom-up picture.
Bytes bmp_header(int w, int h, int bits, int colours, size_t image_bytes) {
    Bytes b;
    const uint32_t offset = 14 + 40 + uint32_t(colours) * 4;
    put16(b, 0x4D42);
    put32(b, uint32_t(offset + image_bytes));
    put32(b, 0);
    put32(b, offset);
    put32(b, 40);
    put32(b, uint32_t(w));
    put32(b, uint32_t(h));
    put16(b, 1);
    put16(b, uint32_t(bits));
    put32(b, 0);
    put32(b, uint32_t(image_bytes));
    put32(b, 2835);
    put32(b, 2835);
    put32(b, uint32_t(colours));
    put32(b, 0);
    return b;
}

void put_palette(Bytes& b, const std::vector<uint32_t>& palette, size_t entries) {
    for (size_t i = 0; i < entries; ++i) {
        const uint32_t c = i < palette.size() ? palette[i] : 0;
        b.push_back(uint8_t(c));
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c >> 16));
        b.push_back(0);
    }
}

}  // namespace

Indexed MapToPalette(const Pixels& p, const std::vector<uint32_t>& palette) {
    Indexed out{p.width, p.height, std::vector<uint8_t>(p.px.size()), palette};
    std::map<uint32_t, uint8_t> cache;
    for (size_t i = 0; i < p.px.size(); ++i) {
        auto [it, added] = cache.try_emplace(p.px[i], 0);
        if (added) it->second = nearest(palette, p.px[i]);
        out.index[i] = it->second;
    }
    return out;
}

Indexed Reduce(const Pixels& p, int colours) {
    std::vector<uint32_t> counts(32768, 0);
    std::vector<uint64_t> r(32768), g(32768), b(32768);
    for (uint32_t c : p.px) {
        const uint32_t k = key15(c);
        ++counts[k];
        r[k] += c >> 16 & 255;
        g[k] += c >> 8 & 255;
        b[k] += c & 255;
    }
    std::vector<uint32_t> keys;
    for (uint32_t k = 0; k < 32768; ++k)
        if (counts[k]) keys.push_back(k);
    std::stable_sort(keys.begin(), keys.end(), [&](uint32_t a, uint32_t c) { return counts[a] > counts[c]; });
    if (keys.size() > size_t(colours)) keys.resize(size_t(colours));
    std::vector<uint32_t> palette;
    for (uint32_t k : keys)
        palette.push_back(uint32_t(r[k] / counts[k]) << 16 | uint32_t(g[k] / counts[k]) << 8 |
                          uint32_t(b[k] / counts[k]));
    if (palette.empty()) palette.push_back(0);
    // Map through the 15-bit key: pixels of one key share their entry.
    Indexed out{p.width, p.height, std::vector<uint8_t>(p.px.size()), palette};
    std::vector<int> entry(32768, -1);
    for (size_t i = 0; i < p.px.size(); ++i) {
        const uint32_t k = key15(p.px[i]);
        if (entry[k] < 0) entry[k] = nearest(palette, p.px[i]);
        out.index[i] = uint8_t(entry[k]);
    }
    return out;
}

const std::vector<uint32_t>& VgaPalette() {
    static const std::vector<uint32_t> vga = {
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
        0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
    };
    return vga;
}

Bytes Bmp24(const Pixels& p) {
    const size_t stride = (size_t(p.width) * 3 + 3) / 4 * 4;
    Bytes b = bmp_header(p.width, p.height, 24, 0, stride * size_t(p.height));
    for (int y = p.height - 1; y >= 0; --y) {
        size_t n = 0;
        for (int x = 0; x < p.width; ++x, n += 3) {
            const uint32_t c = p.at(x, y);
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
            b.push_back(uint8_t(c >> 16));
        }
        for (; n < stride; ++n) b.push_back(0);
    }
    return b;
}

Bytes Bmp8(const Indexed& p) {
    const size_t stride = (size_t(p.width) + 3) / 4 * 4;
    Bytes b = bmp_header(p.width, p.height, 8, 256, stride * size_t(p.height));
    put_palette(b, p.palette, 256);
    for (int y = p.height - 1; y >= 0; --y) {
        const uint8_t* row = p.index.data() + size_t(y) * size_t(p.width);
        b.insert(b.end(), row, row + p.width);
        for (size_t n = size_t(p.width); n < stride; ++n) b.push_back(0);
    }
    return b;
}

Bytes Bmp4(const Indexed& p) {
    const size_t stride = (size_t(p.width) + 7) / 8 * 4;
    Bytes b = bmp_header(p.width, p.height, 4, 16, stride * size_t(p.height));
    put_palette(b, p.palette, 16);
    for (int y = p.height - 1; y >= 0; --y) {
        Bytes row(stride, 0);
        for (int x = 0; x < p.width; ++x) {
            const uint8_t v = p.index[size_t(y) * size_t(p.width) + size_t(x)] & 15;
            row[size_t(x / 2)] |= x % 2 ? v : uint8_t(v << 4);
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

Bytes Pcx8(const Indexed& p) {
    Bytes b;
    b.push_back(10);  // ZSoft
    b.push_back(5);   // version with a 256-colour palette
    b.push_back(1);   // run-length encoded
    b.push_back(8);
    put16(b, 0);
    put16(b, 0);
    put16(b, uint32_t(p.width - 1));
    put16(b, uint32_t(p.height - 1));
    put16(b, 72);
    put16(b, 72);
    b.insert(b.end(), 48, 0);
    b.push_back(0);
    b.push_back(1);  // planes
    const int line = (p.width + 1) / 2 * 2;
    put16(b, uint32_t(line));
    put16(b, 1);
    b.resize(128, 0);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = p.index.data() + size_t(y) * size_t(p.width);
        int x = 0;
        while (x < line) {
            const uint8_t v = x < p.width ? row[x] : 0;
            int run = 1;
            while (x + run < line && run < 63 && (x + run < p.width ? row[x + run] : 0) == v) ++run;
            if (run > 1 || v >= 0xC0) b.push_back(uint8_t(0xC0 | run));
            b.push_back(v);
            x += run;
        }
    }
    b.push_back(12);
    for (size_t i = 0; i < 256; ++i) {
        const uint32_t c = i < p.palette.size() ? p.palette[i] : 0;
        b.push_back(uint8_t(c >> 16));
        b.push_back(uint8_t(c >> 8));
        b.push_back(uint8_t(c));
    }
    return b;
}

Bytes Wav8(const std::vector<uint8_t>& samples, int rate) {
    Bytes b;
    put_tag(b, "RIFF");
    put32(b, uint32_t(36 + samples.size() + samples.size() % 2));
    put_tag(b, "WAVE");
    put_tag(b, "fmt ");
    put32(b, 16);
    put16(b, 1);
    put16(b, 1);
    put32(b, uint32_t(rate));
    put32(b, uint32_t(rate));
    put16(b, 1);
    put16(b, 8);
    put_tag(b, "data");
    put32(b, uint32_t(samples.size()));
    b.insert(b.end(), samples.begin(), samples.end());
    if (samples.size() % 2) b.push_back(128);
    return b;
}

Bytes Cursor(const std::vector<std::string>& art, int hot_x, int hot_y) {
    Bytes image;
    put32(image, 40);
    put32(image, 32);
    put32(image, 64);
    put16(image, 1);
    put16(image, 1);
    put32(image, 0);
    put32(image, 0);
    put32(image, 0);
    put32(image, 0);
    put32(image, 2);
    put32(image, 0);
    put32(image, 0x000000);
    put32(image, 0xFFFFFF);
    auto mask = [&](bool xor_mask) {
        for (int y = 31; y >= 0; --y) {
            uint32_t bits = 0;
            for (int x = 0; x < 32; ++x) {
                const char c = y < int(art.size()) && x < int(art[size_t(y)].size()) ? art[size_t(y)][size_t(x)] : ' ';
                const bool on = xor_mask ? c == 'o' : !(c == '#' || c == 'o');
                if (on) bits |= 1u << (31 - x);
            }
            image.push_back(uint8_t(bits >> 24));
            image.push_back(uint8_t(bits >> 16));
            image.push_back(uint8_t(bits >> 8));
            image.push_back(uint8_t(bits));
        }
    };
    mask(true);
    mask(false);
    Bytes b;
    put16(b, 0);
    put16(b, 2);  // cursor
    put16(b, 1);
    b.push_back(32);
    b.push_back(32);
    b.push_back(0);
    b.push_back(0);
    put16(b, uint32_t(hot_x));
    put16(b, uint32_t(hot_y));
    put32(b, uint32_t(image.size()));
    put32(b, 22);
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

Bytes Icon16(const Indexed& p) {
    Bytes image;
    put32(image, 40);
    put32(image, 32);
    put32(image, 64);
    put16(image, 1);
    put16(image, 4);
    put32(image, 0);
    put32(image, 32 * 16 + 32 * 4);
    put32(image, 0);
    put32(image, 0);
    put32(image, 16);
    put32(image, 0);
    put_palette(image, p.palette, 16);
    for (int y = 31; y >= 0; --y)
        for (int x = 0; x < 32; x += 2)
            image.push_back(uint8_t((p.index[size_t(y * 32 + x)] & 15) << 4 | (p.index[size_t(y * 32 + x + 1)] & 15)));
    image.insert(image.end(), 32 * 4, 0);  // opaque everywhere
    Bytes b;
    put16(b, 0);
    put16(b, 1);  // icon
    put16(b, 1);
    b.push_back(32);
    b.push_back(32);
    b.push_back(16);
    b.push_back(0);
    put16(b, 1);
    put16(b, 4);
    put32(b, uint32_t(image.size()));
    put32(b, 22);
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

bool SaveBytes(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
