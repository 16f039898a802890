// DIB sections, device bitmaps, DCs and the objects selected into them.
#include <algorithm>
#include <cstdlib>

#include "test_gdi_support.h"

namespace {

using gdi_test::DibHeader;
using gdi_test::GdiTest;
using gdi_test::MemoryDc;
using gdi_test::ScreenDc;

// Pixel (x, row-in-memory) of a block of DIB rows, any depth.
uint32_t raw_pixel(const uint8_t* bits, size_t stride, int x, int row, int bpp) {
    const uint8_t* r = bits + stride * size_t(row);
    switch (bpp) {
    case 1: return (r[x / 8] >> (7 - x % 8)) & 1u;
    case 4: return (r[x / 2] >> (x % 2 ? 0 : 4)) & 0xFu;
    default: return gdi_test::raw_at(r + size_t(x) * size_t(bpp / 8), bpp);
    }
}

void set_raw_pixel(uint8_t* bits, size_t stride, int x, int row, int bpp, uint32_t v) {
    uint8_t* r = bits + stride * size_t(row);
    switch (bpp) {
    case 1: r[x / 8] = uint8_t((r[x / 8] & ~(0x80 >> (x % 8))) | (v & 1) << (7 - x % 8)); break;
    case 4: r[x / 2] = uint8_t(x % 2 ? (r[x / 2] & 0xF0) | (v & 0xF) : (r[x / 2] & 0x0F) | (v & 0xF) << 4); break;
    default: gdi_test::put_raw(r + size_t(x) * size_t(bpp / 8), bpp, v);
    }
}

struct DibCase {
    const char* name;
    int bpp;
    DWORD header;
    DWORD compression;
    DWORD red, green, blue;
    bool top_down;
    uint32_t raw;  // what 0x8410FF is stored as
};

constexpr uint32_t kColour = 0x8410FF;  // exact in 5-5-5 and 5-6-5 too
constexpr int kW = 13, kH = 7;          // odd width: rows carry padding

class DibSections : public GdiTest, public ::testing::WithParamInterface<DibCase> {};

TEST_P(DibSections, PixelsRoundTripThroughGdiAndTheBitsPointer) {
    const DibCase c = GetParam();
    DibHeader dib(kW, c.top_down ? -kH : kH, c.bpp, c.header, c.compression);
    if (c.compression == BI_BITFIELDS) dib.masks(c.red, c.green, c.blue);
    if (c.bpp <= 8) {
        // A grey ramp with the colour at the index the case expects.
        for (int i = 0; i < (1 << c.bpp); ++i) dib.color(i, uint32_t(i) * 0x010101u);
        dib.color(int(c.raw), kColour);
    }
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP bitmap = CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(bits, nullptr);
    auto* bytes = static_cast<uint8_t*>(bits);
    const size_t stride = gdi_test::stride_of(kW, c.bpp);
    EXPECT_TRUE(std::all_of(bytes, bytes + stride * kH, [](uint8_t b) { return b == 0; }));

    BITMAP described{};
    ASSERT_EQ(GetObjectA(bitmap, sizeof described, &described), int(sizeof described));
    EXPECT_EQ(described.bmWidth, kW);
    EXPECT_EQ(described.bmHeight, kH) << "rows, whichever way they run";
    EXPECT_EQ(described.bmBitsPixel, c.bpp);
    EXPECT_EQ(size_t(described.bmWidthBytes), stride);
    EXPECT_EQ(described.bmBits, bits);

    MemoryDc memory;
    ASSERT_NE(SelectObject(memory, bitmap), nullptr);
    auto row_of = [&](int y) { return c.top_down ? y : kH - 1 - y; };

    EXPECT_EQ(SetPixel(memory, 5, 2, gdi_test::cref(kColour)), gdi_test::cref(kColour));
    EXPECT_EQ(GetPixel(memory, 5, 2), gdi_test::cref(kColour));
    EXPECT_EQ(raw_pixel(bytes, stride, 5, row_of(2), c.bpp), c.raw);
    set_raw_pixel(bytes, stride, 5, row_of(2), c.bpp, 0);
    EXPECT_TRUE(std::all_of(bytes, bytes + stride * kH, [](uint8_t b) { return b == 0; }))
        << "SetPixel touched only its own pixel";

    // The last pixel of the last row, written by hand, reads back.
    set_raw_pixel(bytes, stride, kW - 1, row_of(kH - 1), c.bpp, c.raw);
    EXPECT_EQ(GetPixel(memory, kW - 1, kH - 1), gdi_test::cref(kColour));
    EXPECT_EQ(GetPixel(memory, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(memory, kW, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(memory, 0, kH), CLR_INVALID);
    EXPECT_EQ(GetPixel(memory, -1, 0), CLR_INVALID);

    SelectObject(memory, GetStockObject(BLACK_BRUSH));  // unrelated kind: bitmap stays
    EXPECT_EQ(GetPixel(memory, kW - 1, kH - 1), gdi_test::cref(kColour));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DibSections,
    ::testing::Values(
        DibCase{"mono", 1, 40, BI_RGB, 0, 0, 0, false, 1},
        DibCase{"nibbles", 4, 40, BI_RGB, 0, 0, 0, false, 7},
        DibCase{"indexed_bottom_up", 8, 40, BI_RGB, 0, 0, 0, false, 200},
        DibCase{"indexed_top_down", 8, 40, BI_RGB, 0, 0, 0, true, 200},
        DibCase{"rgb555", 16, 40, BI_RGB, 0, 0, 0, false, 0x405F},
        DibCase{"fields565_top_down", 16, 40, BI_BITFIELDS, 0xF800, 0x07E0, 0x001F, true, 0x809F},
        DibCase{"v4_565", 16, 108, BI_BITFIELDS, 0xF800, 0x07E0, 0x001F, false, 0x809F},
        DibCase{"v4_555", 16, 108, BI_BITFIELDS, 0x7C00, 0x03E0, 0x001F, true, 0x405F},
        DibCase{"rgb24_bottom_up", 24, 40, BI_RGB, 0, 0, 0, false, kColour},
        DibCase{"rgb24_top_down", 24, 40, BI_RGB, 0, 0, 0, true, kColour},
        DibCase{"rgb32", 32, 40, BI_RGB, 0, 0, 0, false, kColour},
        DibCase{"fields32", 32, 40, BI_BITFIELDS, 0xFF0000, 0xFF00, 0xFF, false, kColour},
        DibCase{"v4_32_top_down", 32, 108, BI_BITFIELDS, 0xFF0000, 0xFF00, 0xFF, true, kColour}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadHeader {
    const char* name;
    DibHeader dib;
    UINT usage;
};

TEST_F(GdiTest, GetObjectDescribesBitmapsAndNothingElse) {
    ScreenDc screen;
    HBITMAP device = CreateCompatibleBitmap(screen, 13, 5);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(GetObjectA(device, 0, nullptr), int(sizeof(BITMAP))) << "asks for the size";
    BITMAP b{};
    EXPECT_EQ(GetObjectA(device, sizeof b - 1, &b), 0) << "a short buffer";
    ASSERT_EQ(GetObjectA(device, sizeof b, &b), int(sizeof b));
    EXPECT_EQ(b.bmWidth, 13);
    EXPECT_EQ(b.bmHeight, 5);
    EXPECT_EQ(b.bmPlanes, 1);
    EXPECT_EQ(b.bmWidthBytes % 2, 0) << "device rows are word aligned";
    EXPECT_GE(b.bmWidthBytes, 13 * b.bmBitsPixel / 8);
    EXPECT_EQ(b.bmBits, nullptr) << "a device bitmap shows no bits";
    EXPECT_EQ(GetObjectA(GetStockObject(BLACK_BRUSH), sizeof b, &b), 0);
    EXPECT_EQ(GetObjectA(reinterpret_cast<HGDIOBJ>(0x1234), sizeof b, &b), 0);
    DeleteObject(device);
}

TEST_F(GdiTest, DibSectionRefusesHeadersThatLie) {
    auto with = [](DibHeader d, auto change) {
        change(d.header());
        return d;
    };
    const BadHeader cases[] = {
        {"core_header", DibHeader(8, 8, 24, 12), DIB_RGB_COLORS},
        {"odd_header", DibHeader(8, 8, 24, 41), DIB_RGB_COLORS},
        {"two_planes", with(DibHeader(8, 8, 24), [](auto& h) { h.biPlanes = 2; }), DIB_RGB_COLORS},
        {"bpp7", DibHeader(8, 8, 7), DIB_RGB_COLORS},
        {"bpp0", DibHeader(8, 8, 0), DIB_RGB_COLORS},
        {"rle8", DibHeader(8, 8, 8, 40, BI_RLE8), DIB_RGB_COLORS},
        {"fields_on_24", DibHeader(8, 8, 24, 40, BI_BITFIELDS).masks(0xFF0000, 0xFF00, 0xFF), DIB_RGB_COLORS},
        {"fields_on_8", DibHeader(8, 8, 8, 40, BI_BITFIELDS).masks(0xE0, 0x1C, 0x3), DIB_RGB_COLORS},
        {"no_masks", DibHeader(8, 8, 16, 40, BI_BITFIELDS), DIB_RGB_COLORS},
        {"overlapping", DibHeader(8, 8, 16, 40, BI_BITFIELDS).masks(0xF800, 0x0FE0, 0x1F), DIB_RGB_COLORS},
        {"gappy", DibHeader(8, 8, 16, 40, BI_BITFIELDS).masks(0xF100, 0x07E0, 0x1F), DIB_RGB_COLORS},
        {"mask_past_16", DibHeader(8, 8, 16, 108, BI_BITFIELDS).masks(0x1F0000, 0x07E0, 0x1F), DIB_RGB_COLORS},
        {"zero_width", DibHeader(0, 8, 24), DIB_RGB_COLORS},
        {"negative_width", DibHeader(-8, 8, 24), DIB_RGB_COLORS},
        {"zero_height", DibHeader(8, 0, 24), DIB_RGB_COLORS},
        {"lowest_height", DibHeader(8, INT32_MIN, 24), DIB_RGB_COLORS},
        {"absurd_size", DibHeader(30000, 30000, 32), DIB_RGB_COLORS},
        {"bad_usage", DibHeader(8, 8, 8), 2},
        {"palette_usage_without_dc", DibHeader(8, 8, 8), DIB_PAL_COLORS},
    };
    for (const BadHeader& c : cases) {
        void* bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(nullptr, c.dib.info(), c.usage, &bits, nullptr, 0), nullptr)
            << c.name;
        EXPECT_EQ(bits, nullptr) << c.name;
    }
    void* bits = nullptr;
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    // Only the size field is read from a header of unknown size.
    std::vector<uint8_t> core{12, 0, 0, 0};
    EXPECT_EQ(CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(core.data()),
                               DIB_RGB_COLORS, &bits, nullptr, 0),
              nullptr);
    EXPECT_EQ(CreateDIBSection(reinterpret_cast<HDC>(0x99), DibHeader(8, 8, 24).info(),
                               DIB_RGB_COLORS, &bits, nullptr, 0),
              nullptr);
    HANDLE section = reinterpret_cast<HANDLE>(0x10);
    EXPECT_EQ(CreateDIBSection(nullptr, DibHeader(8, 8, 24).info(), DIB_RGB_COLORS, &bits, section, 0),
              nullptr);
}

TEST_F(GdiTest, PaletteIndexTablesResolveThroughTheDcPalette) {
    LOGPALETTE* lp = static_cast<LOGPALETTE*>(std::calloc(1, sizeof(LOGPALETTE) + 3 * sizeof(PALETTEENTRY)));
    lp->palVersion = 0x300;
    lp->palNumEntries = 3;
    lp->palPalEntry[0] = PALETTEENTRY{0x11, 0x22, 0x33, 0};
    lp->palPalEntry[1] = PALETTEENTRY{0x44, 0x55, 0x66, 0};
    lp->palPalEntry[2] = PALETTEENTRY{0x77, 0x88, 0x99, 0};
    HPALETTE palette = CreatePalette(lp);
    std::free(lp);
    ASSERT_NE(palette, nullptr);
    MemoryDc bound;
    HPALETTE old = SelectPalette(bound, palette, FALSE);

    DibHeader dib(4, 1, 8);
    dib.header().biClrUsed = 3;
    dib.palette_index(0, 2).palette_index(1, 0).palette_index(2, 7);  // 7: past the palette
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(bound, dib.info(), DIB_PAL_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    auto* px = static_cast<uint8_t*>(bits);
    px[0] = 0;
    px[1] = 1;
    px[2] = 2;
    px[3] = 3;  // past the table
    MemoryDc memory;
    HGDIOBJ initial = SelectObject(memory, bitmap);
    EXPECT_EQ(GetPixel(memory, 0, 0), RGB(0x77, 0x88, 0x99));
    EXPECT_EQ(GetPixel(memory, 1, 0), RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(GetPixel(memory, 2, 0), RGB(0x11, 0x22, 0x33)) << "a stray index takes entry 0";
    EXPECT_EQ(GetPixel(memory, 3, 0), RGB(0, 0, 0));

    SelectPalette(bound, old, FALSE);
    SelectObject(memory, initial);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(palette));
}

TEST_F(GdiTest, IndexedTargetsTakeTheNearestTableColour) {
    DibHeader dib(2, 1, 8);
    dib.header().biClrUsed = 4;
    dib.color(0, 0x000000).color(1, 0xFF0000).color(2, 0x808080).color(3, 0xFFFFFF);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    MemoryDc memory;
    SelectObject(memory, bitmap);
    EXPECT_EQ(SetPixel(memory, 0, 0, RGB(0x70, 0x70, 0x70)), RGB(0x80, 0x80, 0x80));
    EXPECT_EQ(static_cast<uint8_t*>(bits)[0], 2);
    EXPECT_EQ(SetPixel(memory, 1, 0, RGB(0xF0, 0x30, 0x10)), RGB(0xFF, 0, 0));
    EXPECT_EQ(static_cast<uint8_t*>(bits)[1], 1);
}

struct CompatibleCase {
    const char* name;
    int screen_bpp;
    int model;  // 0 the screen DC, 1 a fresh memory DC, 2 a memory DC holding a 5-5-5 section
    COLORREF set;
    COLORREF got;
};

class CompatibleBitmaps : public GdiTest, public ::testing::WithParamInterface<CompatibleCase> {};

TEST_P(CompatibleBitmaps, TakeTheFormatOfWhatTheDcDrawsOn) {
    const CompatibleCase c = GetParam();
    use_screen(640, 480, c.screen_bpp);
    ScreenDc screen;
    MemoryDc model;
    HBITMAP section = nullptr;
    if (c.model == 2) {
        DibHeader dib(4, 4, 16);
        section = CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, nullptr, nullptr, 0);
        SelectObject(model, section);
    }
    HBITMAP bitmap = CreateCompatibleBitmap(c.model == 0 ? screen.dc : model.dc, 16, 16);
    ASSERT_NE(bitmap, nullptr);
    MemoryDc memory;
    ASSERT_NE(SelectObject(memory, bitmap), nullptr);
    EXPECT_EQ(SetPixel(memory, 15, 15, c.set), c.got);
    EXPECT_EQ(GetPixel(memory, 15, 15), c.got);
    EXPECT_EQ(GetPixel(memory, 16, 15), CLR_INVALID);
}

INSTANTIATE_TEST_SUITE_P(
    Models, CompatibleBitmaps,
    ::testing::Values(
        CompatibleCase{"screen565", 16, 0, RGB(0x12, 0x34, 0x56), RGB(0x10, 0x34, 0x52)},
        CompatibleCase{"screen32", 32, 0, RGB(0x12, 0x34, 0x56), RGB(0x12, 0x34, 0x56)},
        CompatibleCase{"screen8", 8, 0, RGB(250, 3, 0), RGB(255, 0, 0)},
        CompatibleCase{"fresh_memory_dc_is_mono_grey", 32, 1, RGB(0xC0, 0xC0, 0xC0), RGB(0, 0, 0)},
        CompatibleCase{"fresh_memory_dc_is_mono_white", 32, 1, RGB(255, 255, 255), RGB(255, 255, 255)},
        CompatibleCase{"section555", 32, 2, RGB(0xFF, 0x80, 0x08), RGB(0xFF, 0x84, 0x08)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiTest, CompatibleBitmapSizes) {
    ScreenDc screen;
    MemoryDc memory;
    HBITMAP empty = CreateCompatibleBitmap(screen, 0, 5);
    ASSERT_NE(empty, nullptr);
    SelectObject(memory, empty);
    EXPECT_EQ(SetPixel(memory, 0, 0, RGB(255, 255, 255)), RGB(255, 255, 255));
    EXPECT_EQ(SetPixel(memory, 0, 0, RGB(1, 2, 3)), RGB(0, 0, 0)) << "monochrome";
    EXPECT_EQ(GetPixel(memory, 1, 0), CLR_INVALID);
    EXPECT_EQ(CreateCompatibleBitmap(screen, -1, 5), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 100000, 100000), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(reinterpret_cast<HDC>(0x77), 5, 5), nullptr);
}

TEST_F(GdiTest, SelectObjectReturnsThePreviousObjectOfItsKind) {
    MemoryDc memory;
    HGDIOBJ oem = GetStockObject(OEM_FIXED_FONT);
    EXPECT_EQ(SelectObject(memory, oem), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(SelectObject(memory, GetStockObject(BLACK_BRUSH)), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(SelectObject(memory, GetStockObject(NULL_PEN)), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(memory, GetStockObject(ANSI_VAR_FONT)), oem);

    // The default bitmap: 1x1 monochrome, shared by memory DCs.
    HBITMAP section = CreateDIBSection(nullptr, DibHeader(4, 4, 32).info(), DIB_RGB_COLORS,
                                       nullptr, nullptr, 0);
    EXPECT_EQ(GetPixel(memory, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(memory, 1, 0), CLR_INVALID);
    HGDIOBJ initial = SelectObject(memory, section);
    ASSERT_NE(initial, nullptr);
    EXPECT_EQ(SelectObject(memory, section), section) << "already there";
    MemoryDc other;
    EXPECT_EQ(SelectObject(other, section), nullptr) << "a bitmap sits in one DC";
    EXPECT_EQ(SelectObject(other, initial), initial);
    EXPECT_EQ(SelectObject(memory, initial), section);
    EXPECT_EQ(SelectObject(other, section), initial);

    ScreenDc screen;
    EXPECT_EQ(SelectObject(screen, initial), nullptr) << "screen DCs take no bitmap";
    HPALETTE palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    EXPECT_EQ(SelectObject(memory, palette), nullptr) << "palettes go through SelectPalette";
    EXPECT_EQ(SelectObject(memory, reinterpret_cast<HGDIOBJ>(0x55)), nullptr);
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(0x55), oem), nullptr);
    EXPECT_EQ(SelectObject(memory, reinterpret_cast<HGDIOBJ>(memory.dc)), nullptr);
}

TEST_F(GdiTest, SelectedObjectsAreNotDeleted) {
    HBITMAP section = CreateDIBSection(nullptr, DibHeader(4, 4, 32).info(), DIB_RGB_COLORS,
                                       nullptr, nullptr, 0);
    {
        MemoryDc memory;
        HGDIOBJ initial = SelectObject(memory, section);
        SetPixel(memory, 1, 1, RGB(9, 8, 7));
        EXPECT_FALSE(DeleteObject(section));
        EXPECT_EQ(GetPixel(memory, 1, 1), RGB(9, 8, 7)) << "still drawable";
        SelectObject(memory, initial);
        EXPECT_TRUE(DeleteObject(initial)) << "stock: TRUE, nothing happens";
        EXPECT_EQ(SelectObject(memory, section), initial);
    }  // DeleteDC gives the bitmap up
    EXPECT_TRUE(DeleteObject(section));
    EXPECT_FALSE(DeleteObject(section));
    MemoryDc memory;
    EXPECT_EQ(SelectObject(memory, section), nullptr);

    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(SelectObject(memory, GetStockObject(BLACK_BRUSH)), GetStockObject(WHITE_BRUSH));
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(memory.dc)));
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_FALSE(DeleteDC(reinterpret_cast<HDC>(0x99)));
}

TEST_F(GdiTest, StockObjectsExistForTheirIndicesOnly) {
    for (int i : {WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH,
                  WHITE_PEN, BLACK_PEN, NULL_PEN, OEM_FIXED_FONT, ANSI_FIXED_FONT, ANSI_VAR_FONT,
                  SYSTEM_FONT, DEFAULT_PALETTE, SYSTEM_FIXED_FONT, DEFAULT_GUI_FONT})
        EXPECT_NE(GetStockObject(i), nullptr) << i;
    EXPECT_EQ(GetStockObject(OEM_FIXED_FONT), GetStockObject(OEM_FIXED_FONT));
    EXPECT_EQ(GetStockObject(9), nullptr);
    EXPECT_EQ(GetStockObject(-1), nullptr);
    EXPECT_EQ(GetStockObject(1000), nullptr);
}

TEST_F(GdiTest, TextMetricsFollowTheSelectedFont) {
    ScreenDc screen;
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(screen, &tm));
    const BYTE system_charset = tm.tmCharSet;
    SelectObject(screen, GetStockObject(OEM_FIXED_FONT));
    ASSERT_TRUE(GetTextMetricsA(screen, &tm));
    EXPECT_EQ(tm.tmHeight, 16);  // unifont's 8x16 cells
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, 16);
    EXPECT_EQ(tm.tmAveCharWidth, 8);
    EXPECT_EQ(tm.tmMaxCharWidth, 8);
    EXPECT_EQ(tm.tmExternalLeading, 0);
    EXPECT_EQ(tm.tmPitchAndFamily & 1, 0) << "fixed pitch";
    // Both are 16 high; the character set tells them apart.
    EXPECT_NE(tm.tmCharSet, system_charset);
    EXPECT_EQ(tm.tmCharSet, OEM_CHARSET);
    EXPECT_FALSE(GetTextMetricsA(screen, nullptr));
    EXPECT_FALSE(GetTextMetricsA(reinterpret_cast<HDC>(0x99), &tm));
}

}  // namespace
