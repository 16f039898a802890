// SetDIBitsToDevice and BitBlt: which pixels go where, clipping, and the
// conversions between pixel formats.
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "test_gdi_support.h"

namespace {

using gdi_test::DibHeader;
using gdi_test::GdiTest;
using gdi_test::MemoryDc;
using gdi_test::ScreenDc;

// Each picture pixel names itself: (column + 1) << 12 | (row from the top + 1).
uint32_t label(int x, int row) { return uint32_t(x + 1) << 12 | uint32_t(row + 1); }

constexpr int kPicW = 640, kPicH = 480;

// A 32-bit picture of labels, rows in memory order.
std::vector<uint32_t> labelled_picture(bool top_down) {
    std::vector<uint32_t> px(size_t(kPicW) * kPicH);
    for (int m = 0; m < kPicH; ++m)
        for (int x = 0; x < kPicW; ++x)
            px[size_t(m) * kPicW + size_t(x)] = label(x, top_down ? m : kPicH - 1 - m);
    return px;
}

// Compares the whole screen with `drawn` showing the picture from `source`
// (its pixel at drawn's top-left) and black elsewhere.
std::string screen_mismatch(RECT drawn, POINT source) {
    std::vector<uint32_t> screen;
    const win32::ScreenMode m = win32::read_screen(screen);
    int wrong = 0;
    std::ostringstream first;
    for (int y = 0; y < m.height; ++y) {
        for (int x = 0; x < m.width; ++x) {
            const bool in = x >= drawn.left && x < drawn.right && y >= drawn.top && y < drawn.bottom;
            const uint32_t want = in ? label(source.x + x - drawn.left, source.y + y - drawn.top) : 0;
            const uint32_t got = screen[size_t(y) * size_t(m.width) + size_t(x)];
            if (got != want && wrong++ == 0)
                first << "first at (" << x << "," << y << "): got " << std::hex << got << " want "
                      << want;
        }
    }
    if (wrong == 0) return "";
    return std::to_string(wrong) + " wrong pixels, " + first.str();
}

struct DibCopy {
    const char* name;
    bool top_down;
    int x_dest, y_dest;
    DWORD w, h;
    int x_src, y_src;
    UINT start, lines;
    int result;
    RECT drawn;
    POINT source;
    bool window_dc = false;  // origin (100, 50), clip (100, 50)-(300, 250)
};

class SetDIBits : public GdiTest, public ::testing::WithParamInterface<DibCopy> {};

TEST_P(SetDIBits, CopiesExactlyTheRowsAndColumnsWindowsDoes) {
    const DibCopy c = GetParam();
    const std::vector<uint32_t> picture = labelled_picture(c.top_down);
    // The band holds exactly the scan lines passed, so reading past them
    // would show under the sanitizers.
    const size_t first = std::min<size_t>(c.start, kPicH);
    const size_t count = std::min<size_t>(c.lines, kPicH - first);
    std::vector<uint32_t> band(picture.begin() + ptrdiff_t(first * kPicW),
                               picture.begin() + ptrdiff_t((first + count) * kPicW));
    band.resize(std::max<size_t>(band.size(), 1));
    DibHeader dib(kPicW, c.top_down ? -kPicH : kPicH, 32);

    HDC dc = c.window_dc ? win32::create_screen_dc(POINT{100, 50}, RECT{100, 50, 300, 250})
                         : GetDC(nullptr);
    EXPECT_EQ(SetDIBitsToDevice(dc, c.x_dest, c.y_dest, c.w, c.h, c.x_src, c.y_src, c.start,
                                c.lines, band.data(), dib.info(), DIB_RGB_COLORS),
              c.result);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(screen_mismatch(c.drawn, c.source), "");
}

constexpr RECT kNothing{0, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, SetDIBits,
    ::testing::Values(
        DibCopy{"full_picture_at_top_left", false, 0, 0, 640, 480, 0, 0, 0, 480, 480,
                {0, 0, 640, 480}, {0, 0}},
        DibCopy{"top_left_10x10_with_ysrc_from_the_bottom", false, 100, 100, 10, 10, 0, 470, 0,
                480, 480, {100, 100, 110, 110}, {0, 0}},
        DibCopy{"inner_rectangle", false, 200, 300, 30, 20, 50, 100, 0, 480, 480,
                {200, 300, 230, 320}, {50, 360}},
        DibCopy{"band_of_scan_lines", false, 0, 0, 640, 480, 0, 0, 100, 50, 50,
                {0, 330, 640, 380}, {0, 330}},
        DibCopy{"rectangle_across_the_band_edge", false, 10, 10, 20, 20, 5, 140, 100, 50, 50,
                {10, 20, 30, 30}, {5, 330}},
        DibCopy{"lines_past_the_top_are_cut", false, 0, 0, 640, 480, 0, 0, 470, 100, 10,
                {0, 0, 640, 10}, {0, 0}},
        DibCopy{"start_past_the_top_draws_nothing", false, 0, 0, 640, 480, 0, 0, 480, 10, 0,
                kNothing, {0, 0}},
        DibCopy{"rectangle_above_the_picture", false, 0, 0, 10, 10, 0, 475, 0, 480, 480,
                {0, 5, 10, 10}, {0, 0}},
        DibCopy{"off_the_right_and_bottom", false, 1020, 760, 20, 20, 0, 460, 0, 480, 480,
                {1020, 760, 1024, 768}, {0, 0}},
        DibCopy{"off_the_left_and_top", false, -5, -3, 20, 20, 0, 460, 0, 480, 480,
                {0, 0, 15, 17}, {5, 3}},
        DibCopy{"source_past_the_right_edge", false, 0, 0, 20, 10, 630, 0, 0, 480, 480,
                {0, 0, 10, 10}, {630, 470}},
        DibCopy{"source_left_of_the_picture", false, 0, 0, 10, 10, -4, 0, 0, 480, 480,
                {4, 0, 10, 10}, {0, 470}},
        DibCopy{"huge_extent_is_clipped", false, 0, 0, 0xFFFFFFF0u, 0xFFFFFFF0u, 0, 0, 0, 480,
                480, kNothing, {0, 0}},
        DibCopy{"top_down_full", true, 0, 0, 640, 480, 0, 0, 0, 480, 480, {0, 0, 640, 480},
                {0, 0}},
        DibCopy{"top_down_ysrc_from_the_top", true, 100, 100, 10, 10, 3, 4, 0, 480, 480,
                {100, 100, 110, 110}, {3, 4}},
        DibCopy{"top_down_band", true, 0, 0, 640, 480, 0, 0, 100, 50, 50, {0, 100, 640, 150},
                {0, 100}},
        DibCopy{"window_dc_origin_and_clip", false, -10, -10, 640, 480, 0, 0, 0, 480, 480,
                {100, 50, 300, 250}, {10, 10}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiTest, SetDIBitsRefusesBadArguments) {
    ScreenDc screen;
    DibHeader good(4, 4, 32);
    const uint32_t bits[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    DibHeader rle(4, 4, 8, 40, BI_RLE8);
    EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 4, 4, 0, 0, 0, 4, nullptr, good.info(), 0), 0);
    EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 4, 4, 0, 0, 0, 4, bits, nullptr, 0), 0);
    EXPECT_EQ(SetDIBitsToDevice(reinterpret_cast<HDC>(0x99), 0, 0, 4, 4, 0, 0, 0, 4, bits,
                                good.info(), 0),
              0);
    EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 4, 4, 0, 0, 0, 4, bits, good.info(), 5), 0);
    EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 4, 4, 0, 0, 0, 4, bits, rle.info(), 0), 0);
    EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 4, 4, 0, 0, 0, 0, bits, good.info(), 0), 0);
    EXPECT_EQ(win32::screen_pixel(0, 3), 0u);
    EXPECT_EQ(SetDIBitsToDevice(screen, 0, 0, 4, 4, 0, 0, 0, 4, bits, good.info(), 0), 4);
    EXPECT_EQ(win32::screen_pixel(0, 3), 0xFFFFFFu);
}

// One DIB pixel drawn on screens of each depth. 5-6-5 and 5-5-5 channels
// widen by repeating their top bits and narrow by dropping low bits.
struct Conversion {
    const char* name;
    int dib_bpp;
    DWORD compression;
    DWORD red, green, blue;
    uint32_t raw;  // the DIB pixel (an index into a table holding kTableColour)
    int screen_bpp;
    uint32_t shown;
};

constexpr uint32_t kTableColour = 0x123456;
constexpr uint32_t kStaticGrey = 0xA0A0A4;

class Conversions : public GdiTest, public ::testing::WithParamInterface<Conversion> {};

TEST_P(Conversions, KnownColoursArriveAsExpected) {
    const Conversion c = GetParam();
    use_screen(320, 200, c.screen_bpp);
    DibHeader dib(1, 1, c.dib_bpp, 40, c.compression);
    if (c.compression == BI_BITFIELDS) dib.masks(c.red, c.green, c.blue);
    if (c.dib_bpp == 8) dib.color(5, kTableColour).color(3, kStaticGrey);
    uint32_t bits = c.raw;
    ScreenDc screen;
    ASSERT_EQ(SetDIBitsToDevice(screen, 7, 9, 1, 1, 0, 0, 0, 1, &bits, dib.info(), DIB_RGB_COLORS), 1);
    EXPECT_EQ(win32::screen_pixel(7, 9), c.shown) << std::hex << win32::screen_pixel(7, 9);
    EXPECT_EQ(GetPixel(screen, 7, 9), gdi_test::cref(c.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Conversions,
    ::testing::Values(
        Conversion{"f565_to_32_grey", 16, BI_BITFIELDS, 0xF800, 0x7E0, 0x1F, 0x8410, 32, 0x848284},
        Conversion{"f565_to_32_red", 16, BI_BITFIELDS, 0xF800, 0x7E0, 0x1F, 0xF800, 32, 0xFF0000},
        Conversion{"f565_to_16", 16, BI_BITFIELDS, 0xF800, 0x7E0, 0x1F, 0x8410, 16, 0x848284},
        Conversion{"f565_to_15", 16, BI_BITFIELDS, 0xF800, 0x7E0, 0x1F, 0x8410, 15, 0x848484},
        Conversion{"f555_to_24_grey", 16, BI_RGB, 0, 0, 0, 0x4210, 24, 0x848484},
        Conversion{"f555_to_24_white", 16, BI_RGB, 0, 0, 0, 0x7FFF, 24, 0xFFFFFF},
        Conversion{"f32_to_16", 32, BI_RGB, 0, 0, 0, 0x123456, 16, 0x103452},
        Conversion{"f24_to_15", 24, BI_RGB, 0, 0, 0, 0x123456, 15, 0x103152},
        Conversion{"f24_to_32", 24, BI_RGB, 0, 0, 0, 0x123456, 32, 0x123456},
        Conversion{"f32_to_24", 32, BI_BITFIELDS, 0xFF0000, 0xFF00, 0xFF, 0xABCDEF, 24, 0xABCDEF},
        Conversion{"table_to_32", 8, BI_RGB, 0, 0, 0, 5, 32, kTableColour},
        Conversion{"table_to_16", 8, BI_RGB, 0, 0, 0, 5, 16, 0x103452},
        Conversion{"table_to_8", 8, BI_RGB, 0, 0, 0, 3, 8, kStaticGrey},
        Conversion{"f32_to_8_red", 32, BI_RGB, 0, 0, 0, 0xFE0101, 8, 0xFF0000},
        Conversion{"f32_to_8_grey", 32, BI_RGB, 0, 0, 0, 0x7F7F7F, 8, 0x808080},
        Conversion{"f32_to_8_dark", 32, BI_RGB, 0, 0, 0, 0x0A0A0A, 8, 0x000000},
        Conversion{"f565_to_8_blue", 16, BI_BITFIELDS, 0xF800, 0x7E0, 0x1F, 0x001F, 8, 0x0000FF}),
    [](const auto& info) { return std::string(info.param.name); });

// A DIB section selected into its own memory DC.
struct Section {
    MemoryDc dc;
    HBITMAP bitmap = nullptr;
    uint8_t* bits = nullptr;
    HGDIOBJ initial = nullptr;
    explicit Section(const DibHeader& dib) {
        void* p = nullptr;
        bitmap = CreateDIBSection(nullptr, dib.info(), DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<uint8_t*>(p);
        initial = SelectObject(dc, bitmap);
    }
    ~Section() {
        SelectObject(dc, initial);
        DeleteObject(bitmap);
    }
};

TEST_F(GdiTest, BitBltConvertsBetweenSectionsOfEveryDepth) {
    Section s565(DibHeader(2, 1, 16, 108, BI_BITFIELDS).masks(0xF800, 0x7E0, 0x1F));
    Section s24(DibHeader(2, 1, 24));
    Section s32(DibHeader(2, 1, 32));
    Section back(DibHeader(2, 1, 16, 108, BI_BITFIELDS).masks(0xF800, 0x7E0, 0x1F));
    Section s8(DibHeader(2, 1, 8).color(1, 0x848284).color(2, 0xFF0000));
    ASSERT_TRUE(s565.bits && s24.bits && s32.bits && back.bits && s8.bits);
    gdi_test::put_raw(s565.bits, 16, 0x8410);
    gdi_test::put_raw(s565.bits + 2, 16, 0xF820);

    ASSERT_TRUE(BitBlt(s24.dc, 0, 0, 2, 1, s565.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(gdi_test::raw_at(s24.bits, 24), 0x848284u);
    EXPECT_EQ(gdi_test::raw_at(s24.bits + 3, 24), 0xFF0400u);
    ASSERT_TRUE(BitBlt(s32.dc, 0, 0, 2, 1, s24.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(gdi_test::raw_at(s32.bits, 32), 0x848284u);
    ASSERT_TRUE(BitBlt(back.dc, 0, 0, 2, 1, s32.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(gdi_test::raw_at(back.bits, 16), 0x8410u) << "5-6-5 survives 24 and 32 bits";
    EXPECT_EQ(gdi_test::raw_at(back.bits + 2, 16), 0xF820u);
    ASSERT_TRUE(BitBlt(s8.dc, 0, 0, 2, 1, s32.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(s8.bits[0], 1) << "exact table colour";
    EXPECT_EQ(s8.bits[1], 2) << "nearest of black, grey and red";
    ASSERT_TRUE(BitBlt(s32.dc, 0, 0, 2, 1, s8.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(gdi_test::raw_at(s32.bits + 4, 32), 0xFF0000u);
}

// The source is a 64x48 section of labels, placed at a DC position.
struct BlitCase {
    const char* name;
    int x, y, cx, cy, x1, y1;
    RECT drawn;
    POINT source;
};

class BitBltClipping : public GdiTest, public ::testing::WithParamInterface<BlitCase> {};

TEST_P(BitBltClipping, ClipsOnBothSides) {
    const BlitCase c = GetParam();
    Section source(DibHeader(64, -48, 32));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            gdi_test::put_raw(source.bits + size_t(y) * 256 + size_t(x) * 4, 32, label(x, y));
    ScreenDc screen;
    EXPECT_TRUE(BitBlt(screen, c.x, c.y, c.cx, c.cy, source.dc, c.x1, c.y1, SRCCOPY));
    EXPECT_EQ(screen_mismatch(c.drawn, c.source), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitBltClipping,
    ::testing::Values(BlitCase{"inside", 10, 20, 64, 48, 0, 0, {10, 20, 74, 68}, {0, 0}},
                      BlitCase{"off_the_top_left", -10, -20, 64, 48, 0, 0, {0, 0, 54, 28}, {10, 20}},
                      BlitCase{"off_the_bottom_right", 1000, 750, 64, 48, 0, 0,
                               {1000, 750, 1024, 768}, {0, 0}},
                      BlitCase{"source_partly_outside", 100, 100, 64, 48, 40, -8,
                               {100, 108, 124, 148}, {40, 0}},
                      BlitCase{"negative_extent", 110, 100, -10, -10, 10, 10, {100, 90, 110, 100},
                               {0, 0}},
                      BlitCase{"nowhere", 2000, 0, 64, 48, 0, 0, {0, 0, 0, 0}, {0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiTest, BitBltFromTheScreenLeavesWhatIsOffScreenAlone) {
    ScreenDc screen;
    const std::vector<uint32_t> picture = labelled_picture(false);
    DibHeader dib(kPicW, kPicH, 32);
    ASSERT_EQ(SetDIBitsToDevice(screen, 400, 300, kPicW, kPicH, 0, 0, 0, kPicH, picture.data(),
                                dib.info(), DIB_RGB_COLORS),
              kPicH);
    Section target(DibHeader(64, -48, 32));
    for (int i = 0; i < 64 * 48; ++i) gdi_test::put_raw(target.bits + i * 4, 32, 0x777777);
    ASSERT_TRUE(BitBlt(target.dc, 0, 0, 64, 48, screen, 1000, 740, SRCCOPY));
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const uint32_t got = gdi_test::raw_at(target.bits + size_t(y) * 256 + size_t(x) * 4, 32);
            const uint32_t want = x < 24 && y < 28 ? label(600 + x, 440 + y) : 0x777777u;
            ASSERT_EQ(got, want) << x << "," << y;
        }
    }
}

struct Scroll {
    const char* name;
    int dx, dy;
};

class ScreenScroll : public GdiTest, public ::testing::WithParamInterface<Scroll> {};

TEST_P(ScreenScroll, OverlappingCopyOnOneSurface) {
    const Scroll c = GetParam();
    ScreenDc screen;
    const std::vector<uint32_t> picture = labelled_picture(false);
    DibHeader dib(kPicW, kPicH, 32);
    SetDIBitsToDevice(screen, 0, 0, kPicW, kPicH, 0, 0, 0, kPicH, picture.data(), dib.info(),
                      DIB_RGB_COLORS);
    // Moves the picture by (dx, dy) inside its own area.
    const int w = kPicW - std::abs(c.dx), h = kPicH - std::abs(c.dy);
    const int sx = std::max(0, -c.dx), sy = std::max(0, -c.dy);
    ASSERT_TRUE(BitBlt(screen, sx + c.dx, sy + c.dy, w, h, screen, sx, sy, SRCCOPY));
    std::vector<uint32_t> px;
    win32::read_screen(px);
    for (int y = sy + c.dy; y < sy + c.dy + h; ++y)
        for (int x = sx + c.dx; x < sx + c.dx + w; ++x)
            ASSERT_EQ(px[size_t(y) * 1024 + size_t(x)], label(x - c.dx, y - c.dy)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Directions, ScreenScroll,
                         ::testing::Values(Scroll{"down", 0, 10}, Scroll{"up", 0, -10},
                                           Scroll{"right", 7, 0}, Scroll{"left", -7, 0},
                                           Scroll{"down_right", 3, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GdiTest, RasterOperationsWorkOnPixelValues) {
    ScreenDc screen;
    SetPixel(screen, 0, 0, RGB(0x12, 0x34, 0x56));
    SetPixel(screen, 1, 0, RGB(0x12, 0x34, 0x56));
    EXPECT_TRUE(BitBlt(screen, 0, 0, 1, 1, nullptr, 0, 0, DSTINVERT));
    EXPECT_EQ(win32::screen_pixel(0, 0), 0xEDCBA9u);
    EXPECT_EQ(win32::screen_pixel(1, 0), 0x123456u);
    EXPECT_TRUE(BitBlt(screen, 0, 1, 2, 1, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(win32::screen_pixel(1, 1), 0xFFFFFFu);
    EXPECT_TRUE(BitBlt(screen, 1, 1, 1, 1, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(win32::screen_pixel(1, 1), 0u);
    EXPECT_EQ(win32::screen_pixel(0, 1), 0xFFFFFFu);
    // Source XOR destination: a copy onto itself clears.
    EXPECT_TRUE(BitBlt(screen, 0, 0, 2, 1, screen, 0, 0, SRCINVERT));
    EXPECT_EQ(win32::screen_pixel(1, 0), 0u);
    SelectObject(screen, GetStockObject(GRAY_BRUSH));
    EXPECT_TRUE(BitBlt(screen, 5, 5, 2, 2, nullptr, 0, 0, PATCOPY));
    EXPECT_EQ(win32::screen_pixel(6, 6), 0x808080u);
    EXPECT_FALSE(BitBlt(screen, 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY)) << "needs a source";
    EXPECT_FALSE(BitBlt(reinterpret_cast<HDC>(0x99), 0, 0, 2, 2, nullptr, 0, 0, BLACKNESS));
}

TEST_F(GdiTest, RasterOperationsOnAPaletteScreenUseIndices) {
    use_screen(640, 480, 8);
    ScreenDc screen;
    EXPECT_EQ(SetPixel(screen, 0, 0, RGB(255, 0, 0)), RGB(255, 0, 0));
    EXPECT_TRUE(BitBlt(screen, 0, 0, 1, 1, nullptr, 0, 0, DSTINVERT));
    EXPECT_EQ(win32::screen_pixel(0, 0), 0x008080u) << "index 249 becomes 6";
    EXPECT_TRUE(BitBlt(screen, 0, 0, 1, 1, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(win32::screen_pixel(0, 0), 0xFFFFFFu);
}

}  // namespace
