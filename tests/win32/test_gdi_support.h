// Shared set-up for the GDI tests: a fresh screen per test, DCs that give
// themselves back, and BITMAPINFO blocks built field by field.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "win32/gdi.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace gdi_test {

struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() { ReleaseDC(nullptr, dc); }
    operator HDC() const { return dc; }
};

struct MemoryDc {
    HDC dc = CreateCompatibleDC(nullptr);
    MemoryDc() = default;
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    ~MemoryDc() { DeleteDC(dc); }
    operator HDC() const { return dc; }
};

// A BITMAPINFO with room for the longest header, masks and a full table.
struct DibHeader {
    std::vector<uint8_t> block = std::vector<uint8_t>(124 + 12 + 1024, 0);

    DibHeader(int width, int height, int bpp, DWORD header_size = 40,
              DWORD compression = BI_RGB) {
        BITMAPINFOHEADER h{};
        h.biSize = header_size;
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = WORD(bpp);
        h.biCompression = compression;
        std::memcpy(block.data(), &h, sizeof h);
    }
    BITMAPINFOHEADER& header() { return *reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }
    // At offset 40: after a 40-byte header, or inside the longer ones.
    DibHeader& masks(DWORD red, DWORD green, DWORD blue) {
        const DWORD m[3] = {red, green, blue};
        std::memcpy(block.data() + 40, m, sizeof m);
        return *this;
    }
    size_t table_offset() const {
        const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(block.data());
        return h->biSize + (h->biSize == 40 && h->biCompression == BI_BITFIELDS ? 12 : 0);
    }
    DibHeader& color(int index, uint32_t rgb) {
        RGBQUAD q{BYTE(rgb), BYTE(rgb >> 8), BYTE(rgb >> 16), 0};
        std::memcpy(block.data() + table_offset() + size_t(index) * 4, &q, 4);
        return *this;
    }
    DibHeader& palette_index(int index, uint16_t value) {
        std::memcpy(block.data() + table_offset() + size_t(index) * 2, &value, 2);
        return *this;
    }
    const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(block.data()); }
};

inline size_t stride_of(int width, int bpp) { return (size_t(width) * size_t(bpp) + 31) / 32 * 4; }

// Raw little-endian pixel access in a block of DIB rows.
inline uint32_t raw_at(const uint8_t* p, int bpp) {
    uint32_t v = 0;
    std::memcpy(&v, p, size_t(bpp / 8));
    return v;
}
inline void put_raw(uint8_t* p, int bpp, uint32_t v) { std::memcpy(p, &v, size_t(bpp / 8)); }

// COLORREF of a 0x00RRGGBB value and back.
inline COLORREF cref(uint32_t rgb) { return RGB(rgb >> 16, rgb >> 8, rgb); }
inline uint32_t rgb_of(COLORREF c) {
    return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
}

class GdiTest : public ::testing::Test {
protected:
    void SetUp() override { use_screen(1024, 768, 32); }
    void use_screen(int w, int h, int bpp) {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{w, h, bpp}));
    }
};

}  // namespace gdi_test
