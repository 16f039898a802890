// The library state: palette and lookup table, the buffer table, pastes to
// the screen, display modes, the cursor, the tick wait and colour merging.
#include <cstring>

#include "raster_support.h"

namespace raster_test {
namespace {

using RasterLibrary = RasterTest;

uint32_t colour_of(Rgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

TEST_F(RasterLibrary, DefaultPaletteHasStaticEgaAndVgaColoursAllAnimatable) {
    struct Entry {
        int index;
        uint32_t rgb;
    };
    const Entry expected[] = {
        {0, 0x000000},
        {1, 0x800000},
        {7, 0xC0C0C0},
        {8, 0xC0DCC0},
        {9, 0xA4C8F0},
        {10, 0x000000},
        {11, 0x0000AA},
        {16, 0xAA5500},
        {18, 0x555555},
        {25, 0xFFFFFF},
        {26, 0x000000},
        {27, 0x555555},
        {28, 0xAAAAAA},
        {29, 0xFFFFFF},
        // VGA 32 (blue), 36 (magenta), 40 (red), 56 (first pale blue)
        {30, 0x0000FF},
        {34, 0xFF00FF},
        {38, 0xFF0000},
        {54, 0x7D7DFF},
        // first entry of the darker thirds, and VGA 247
        {102, 0x000071},
        {174, 0x000040},
        {245, 0x2C3040},
        {246, 0xFFFBF0},
        {247, 0xA0A0A4},
        {248, 0x808080},
        {249, 0xFF0000},
        {255, 0xFFFFFF},
    };
    for (const Entry& e : expected)
        EXPECT_EQ(raster::palette_entry(e.index), e.rgb) << "entry " << e.index;

    PALETTEENTRY entries[256]{};
    ASSERT_EQ(GetPaletteEntries(palette_, 0, 256, entries), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(entries[i].peFlags, PC_RESERVED) << i;
        EXPECT_EQ(colour_of({entries[i].peRed, entries[i].peGreen, entries[i].peBlue}),
                  raster::palette_entry(i))
            << i;
    }
}

struct LookupCase {
    int depth;
    Rgb colour;
    uint32_t entry;
};

class RasterLookupTable : public RasterTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(RasterLookupTable, SetPaletteGivesThePixelValueOfTheActiveDepth) {
    const LookupCase c = GetParam();
    open_buffer(c.depth, 8, 8);
    const uint8_t triple[3] = {c.colour.r, c.colour.g, c.colour.b};
    EXPECT_EQ(rl_set_palette(0, 1, triple), 0);
    EXPECT_EQ(raster::lookup_entry(0), c.entry);
    // The realized palette is animated along with it.
    PALETTEENTRY e{};
    ASSERT_EQ(GetPaletteEntries(palette_, 0, 1, &e), 1u);
    EXPECT_EQ(colour_of({e.peRed, e.peGreen, e.peBlue}), colour_of(c.colour));
}

INSTANTIATE_TEST_SUITE_P(Depths, RasterLookupTable,
                         ::testing::Values(LookupCase{16, {255, 255, 255}, 0xFFFF},
                                           LookupCase{16, {255, 0, 0}, 0xF800},
                                           LookupCase{16, {0x07, 0xFE, 0x07}, 0x07E0},
                                           LookupCase{24, {0x12, 0x34, 0x56}, 0x123456},
                                           LookupCase{32, {0xAB, 0xCD, 0xEF}, 0xABCDEF}));

TEST_F(RasterLibrary, OpeningRebuildsTheLookupTableForTheNewDepth) {
    open_buffer(32, 8, 8);
    const uint8_t red[3] = {255, 0, 0};
    rl_set_palette(77, 1, red);
    rl_buffer_close();
    open_buffer(16, 8, 8);
    EXPECT_EQ(raster::lookup_entry(77), 0xF800u);
}

TEST_F(RasterLibrary, SetPaletteNeedsAnActiveBufferAndStopsAtEntry255) {
    const uint8_t white[3] = {255, 255, 255};
    rl_set_palette(3, 1, white);
    EXPECT_NE(raster::palette_entry(3), 0xFFFFFFu) << "no active buffer: nothing happens";

    open_buffer(16, 8, 8);
    std::vector<uint8_t> many(3 * 40, 0xFF);
    EXPECT_EQ(rl_set_palette(250, 40, many.data()), 0);
    EXPECT_EQ(raster::palette_entry(255), 0xFFFFFFu);
    EXPECT_EQ(raster::lookup_entry(255), 0xFFFFu);
    EXPECT_EQ(rl_set_palette(256, 1, white), 0);
    EXPECT_EQ(rl_set_palette(-1, 2, white), 0);
    EXPECT_NE(raster::palette_entry(0), 0xFFFFFFu);
}

TEST_F(RasterLibrary, ThirtyThirdAllocationFailsAndTheLowestFreeSlotIsReused) {
    rl_buffer_depth(16);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(rl_buffer_alloc(4, 4), i);
    EXPECT_EQ(rl_buffer_alloc(4, 4), -1);
    rl_buffer_free(7);
    rl_buffer_free(3);
    EXPECT_EQ(rl_buffer_alloc(4, 4), 3);
    EXPECT_EQ(rl_buffer_alloc(4, 4), 7);
}

TEST_F(RasterLibrary, SizesThatCannotBeBuffersLeaveTheSlotFree) {
    rl_buffer_depth(32);
    EXPECT_EQ(rl_buffer_alloc(0, 10), -2);
    EXPECT_EQ(rl_buffer_alloc(10, -1), -2);
    EXPECT_EQ(rl_buffer_alloc(0x7FFFFFFF, 0x7FFFFFFF), -2);
    EXPECT_EQ(rl_buffer_alloc(4, 4), 0);
}

TEST_F(RasterLibrary, WidthIsRoundedUpToAMultipleOfFour) {
    struct Case {
        int depth, asked, stored;
    };
    for (const Case c :
         {Case{16, 638, 640}, Case{16, 640, 640}, Case{8, 1, 4}, Case{24, 5, 8}, Case{32, 3, 4}}) {
        rl_buffer_depth(c.depth);
        const int32_t n = rl_buffer_alloc(c.asked, 3);
        ASSERT_GE(n, 0);
        const auto v = raster::buffer_view(n);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->width, c.stored) << c.asked;
        EXPECT_EQ(v->depth, c.depth);
        EXPECT_EQ(v->stride % 4, 0);
        rl_buffer_free(n);
    }
}

TEST_F(RasterLibrary, BuffersStartBlack) {
    const int32_t n = (rl_buffer_depth(16), rl_buffer_alloc(64, 64));
    const auto v = raster::buffer_view(n);
    ASSERT_TRUE(v);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(buffer_pixel(*v, x, y), 0u);
}

TEST_F(RasterLibrary, OpenChecksTheNumberAndTheSlot) {
    rl_buffer_depth(16);
    ASSERT_EQ(rl_buffer_alloc(8, 8), 0);
    EXPECT_EQ(rl_buffer_open(-1), -1);
    EXPECT_EQ(rl_buffer_open(32), -1);
    EXPECT_EQ(rl_buffer_open(5), -2);
    EXPECT_EQ(raster::active_buffer(), -1);
    EXPECT_EQ(rl_buffer_open(0), 0);
    EXPECT_EQ(raster::active_buffer(), 0);
}

TEST_F(RasterLibrary, FreeIgnoresTheActiveBufferAndBadNumbers) {
    rl_buffer_depth(16);
    ASSERT_EQ(rl_buffer_alloc(8, 8), 0);
    ASSERT_EQ(rl_buffer_open(0), 0);
    EXPECT_EQ(rl_buffer_free(0), 0);
    EXPECT_EQ(rl_buffer_free(-3), 0);
    EXPECT_EQ(rl_buffer_free(40), 0);
    EXPECT_TRUE(raster::buffer_view(0));
    rl_buffer_close();
    rl_buffer_free(0);
    EXPECT_FALSE(raster::buffer_view(0));
    rl_buffer_free(0);  // twice is harmless
}

TEST_F(RasterLibrary, FiniReleasesBuffersStillAllocated) {
    rl_buffer_depth(24);
    ASSERT_EQ(rl_buffer_alloc(8, 8), 0);
    ASSERT_EQ(rl_buffer_alloc(8, 8), 1);
    rl_buffer_open(1);
    EXPECT_EQ(rl_fini(), 0);
    EXPECT_EQ(raster::active_buffer(), -1);
    EXPECT_FALSE(raster::buffer_view(0));
    EXPECT_FALSE(raster::buffer_view(1));
    rl_init();
}

// ---- Pastes -----------------------------------------------------------------

// A colour per position, so that a misplaced pixel shows.
uint32_t position_colour(int x, int y) {
    return 0x100000u | (static_cast<uint32_t>(y) << 10) | static_cast<uint32_t>(x);
}

class RasterPaste : public RasterTest {
protected:
    raster::BufferView full_buffer() {
        const auto v = open_buffer(32, 640, 480);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) set_buffer_pixel(v, x, y, position_colour(x, y));
        return v;
    }
    static int screen_mismatches(Rect dest, int source_x, int source_y) {
        int wrong = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const uint32_t want =
                    dest.contains(x, y)
                        ? position_colour(x - dest.left + source_x, y - dest.top + source_y)
                        : 0u;
                if (win32::screen_pixel(x, y) != want) ++wrong;
            }
        return wrong;
    }
};

TEST_F(RasterPaste, FullScreenPasteCoversTheTopLeft640x480) {
    full_buffer();
    EXPECT_EQ(rl_buffer_paste(0, 639, 0, 479, 0, 479), 0);
    EXPECT_EQ(screen_mismatches({0, 0, 640, 480}, 0, 0), 0);
}

TEST_F(RasterPaste, CornerGoesToTheLowerLeftPoint) {
    full_buffer();
    rl_buffer_paste(0, 9, 0, 9, 100, 109);
    EXPECT_EQ(screen_mismatches({100, 100, 110, 110}, 0, 0), 0);
}

TEST_F(RasterPaste, InnerRectangleKeepsItsSourcePosition) {
    full_buffer();
    rl_buffer_paste(200, 219, 300, 304, 10, 24);
    EXPECT_EQ(screen_mismatches({10, 20, 30, 25}, 200, 300), 0);
}

TEST_F(RasterPaste, RectangleReachingOutsideTheBufferIsCut) {
    full_buffer();
    // Columns 600..700 and rows 470..500 asked; 600..639 and 470..479 exist.
    rl_buffer_paste(600, 700, 470, 500, 0, 100);
    EXPECT_EQ(screen_mismatches({0, 70, 40, 80}, 600, 470), 0);
    rl_buffer_paste(-5, 3, -5, 3, 300, 300);
    EXPECT_EQ(screen_mismatches({0, 70, 40, 80}, 600, 470), 16) << "only 4x4 pixels more";
    EXPECT_EQ(win32::screen_pixel(305, 297), position_colour(0, 0));
    EXPECT_EQ(win32::screen_pixel(308, 300), position_colour(3, 3));
}

TEST_F(RasterPaste, NothingIsDrawnWithoutAnActiveBuffer) {
    full_buffer();
    rl_buffer_close();
    EXPECT_EQ(rl_buffer_open(12), -2);
    EXPECT_EQ(rl_buffer_paste(0, 639, 0, 479, 0, 479), 0);
    EXPECT_EQ(screen_mismatches({0, 0, 0, 0}, 0, 0), 0);
}

TEST_F(RasterPaste, SixteenBitBufferShowsItsColours) {
    const auto v = open_buffer(16, 640, 480);
    const uint16_t colours[] = {0x0000, 0xF800, 0x07E0, 0x001F, 0xFFFF};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) set_buffer_pixel(v, x, y, colours[(x / 7 + y / 5) % 5]);
    rl_buffer_paste(0, 639, 0, 479, 0, 479);
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const uint16_t c = colours[(x / 7 + y / 5) % 5];
            const uint32_t s = win32::screen_pixel(x, y);
            // Full channels become at least 0xF8 whatever the expansion.
            const bool r = ((s >> 16) & 0xFF) >= 0xF8, g = ((s >> 8) & 0xFF) >= 0xF8,
                       b = (s & 0xFF) >= 0xF8;
            const bool r0 = ((s >> 16) & 0xFF) == 0, g0 = ((s >> 8) & 0xFF) == 0,
                       b0 = (s & 0xFF) == 0;
            const bool ok =
                ((c & 0xF800) ? r : r0) && ((c & 0x07E0) ? g : g0) && ((c & 0x001F) ? b : b0);
            if (!ok) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(RasterPaste, EightBitBufferShowsThePaletteColour) {
    const auto v = open_buffer(8, 16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) set_buffer_pixel(v, x, y, 20);
    const uint8_t colour[3] = {0x12, 0x34, 0x56};
    rl_set_palette(20, 1, colour);
    rl_buffer_paste(0, 15, 0, 15, 0, 15);
    EXPECT_EQ(win32::screen_pixel(0, 0), 0x123456u);
    EXPECT_EQ(win32::screen_pixel(15, 15), 0x123456u);
}

TEST_F(RasterPaste, TrueColourBufferShowsItsColour) {
    const auto v = open_buffer(24, 16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) set_buffer_pixel(v, x, y, 0xA1B2C3);
    rl_buffer_paste(0, 15, 0, 15, 0, 15);
    EXPECT_EQ(win32::screen_pixel(0, 0), 0xA1B2C3u);
    EXPECT_EQ(win32::screen_pixel(15, 15), 0xA1B2C3u);
    EXPECT_EQ(win32::screen_pixel(16, 15), 0u);
}

// On the other platform family the 16- and 32-bit headers are 108 bytes long.
TEST_F(RasterPaste, LongHeaderOfTheOtherPlatformFamilyPastesToo) {
    stop();
    setenv("WIN32_PLATFORM", "9x", 1);
    start(32);
    unsetenv("WIN32_PLATFORM");
    for (int depth : {16, 32}) {
        const auto v = open_buffer(depth, 8, 8);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) set_buffer_pixel(v, x, y, depth == 16 ? 0xF800 : 0xFF0000);
        rl_buffer_paste(0, 7, 0, 7, 0, 7);
        EXPECT_GE(win32::screen_pixel(3, 3) >> 16, 0xF8u) << depth;
        EXPECT_EQ(win32::screen_pixel(3, 3) & 0xFFFF, 0u) << depth;
        rl_buffer_close();
    }
}

// ---- Display, cursor, ticks ---------------------------------------------------

TEST_F(RasterLibrary, DisplayModeSwitchesAndRestores) {
    EXPECT_EQ(rl_color_depth(), 32);
    EXPECT_EQ(rl_set_display_mode(800, 600, 16, 1), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (win32::ScreenMode{800, 600, 16}));
    EXPECT_EQ(rl_color_depth(), 16);
    EXPECT_EQ(rl_set_display_mode(0, 0, 0, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (win32::ScreenMode{640, 480, 32}));
}

// An 8-bit display keeps its static colours in the default palette.
TEST_F(RasterLibrary, DefaultPaletteOnAnEightBitDisplayTakesTheSystemColours) {
    stop();
    start(8);
    PALETTEENTRY system[256]{};
    ASSERT_EQ(GetSystemPaletteEntries(dc_, 0, 256, system), 256u);
    for (int i : {0, 5, 9, 246, 250, 255})
        EXPECT_EQ(raster::palette_entry(i),
                  colour_of({system[i].peRed, system[i].peGreen, system[i].peBlue}))
            << i;
    EXPECT_EQ(raster::palette_entry(16), 0xAA5500u);
    EXPECT_EQ(raster::palette_entry(30), 0x0000FFu);

    // Its 8-bit buffers hold indices into the realized palette.
    const auto v = open_buffer(8, 8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) set_buffer_pixel(v, x, y, 20);
    rl_buffer_paste(0, 7, 0, 7, 0, 7);
    EXPECT_EQ(win32::screen_pixel(2, 2), 0x55FF55u);
}

TEST_F(RasterLibrary, FifteenBitsCountAsSixteen) {
    stop();
    start(15);
    EXPECT_EQ(rl_color_depth(), 16);
}

TEST_F(RasterLibrary, CursorIsShownAndHiddenOncePerChange) {
    ASSERT_EQ(rl_mouse_init(), 1);
    const int shown = win32::cursor_display_count();
    rl_mouse_visible(1);
    EXPECT_EQ(win32::cursor_display_count(), shown);
    rl_mouse_visible(0);
    rl_mouse_visible(2);  // only the low bit counts
    EXPECT_EQ(win32::cursor_display_count(), shown - 1);
    rl_mouse_visible(3);
    EXPECT_EQ(win32::cursor_display_count(), shown);
}

TEST_F(RasterLibrary, WaitTicksWaitsFiftyFiveMillisecondsEach) {
    const DWORD start = GetTickCount();
    EXPECT_EQ(rl_wait_ticks(2), 0);
    EXPECT_GE(GetTickCount() - start, 110u);
    const DWORD again = GetTickCount();
    rl_wait_ticks(-5);
    EXPECT_LT(GetTickCount() - again, 50u);
}

// ---- Colour merging -------------------------------------------------------

struct ReduceCase {
    const char* name;
    int offset, limit;
    std::vector<uint8_t> pixels;               // one row of 8
    std::vector<std::pair<int, Rgb>> colours;  // the image's triples
    std::vector<uint8_t> pixels_after;
    std::vector<std::pair<int, Rgb>> colours_after;
};

class RasterReduce : public RasterTest, public ::testing::WithParamInterface<ReduceCase> {};

TEST_P(RasterReduce, MergesTheClosestPairsAndRenumbers) {
    const ReduceCase& c = GetParam();
    const auto v = open_buffer(8, 8, 1);
    for (int x = 0; x < 8; ++x) set_buffer_pixel(v, x, 0, c.pixels[x]);
    uint8_t triples[768];
    for (int i = 0; i < 256; ++i)
        triples[3 * i] = triples[3 * i + 1] = triples[3 * i + 2] = static_cast<uint8_t>(i ^ 0x55);
    for (auto [i, rgb] : c.colours) {
        triples[3 * i] = rgb.r;
        triples[3 * i + 1] = rgb.g;
        triples[3 * i + 2] = rgb.b;
    }
    EXPECT_EQ(rl_reduce_palette(c.offset, c.limit, triples), 0);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(buffer_pixel(v, x, 0), c.pixels_after[x]) << "pixel " << x;
    // Entries below the offset and from offset + limit on are black; the
    // ones between the merged colours and the limit are not looked at.
    for (int i = 0; i < 256; ++i) {
        if (i >= c.offset && i < c.offset + c.limit) continue;
        EXPECT_EQ((Rgb{triples[3 * i], triples[3 * i + 1], triples[3 * i + 2]}), Rgb{})
            << "entry " << i;
    }
    for (auto [i, rgb] : c.colours_after)
        EXPECT_EQ((Rgb{triples[3 * i], triples[3 * i + 1], triples[3 * i + 2]}), rgb)
            << "entry " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RasterReduce,
    ::testing::Values(
        // Colours 1 (x3), 2 (x2), 5 (x1), 7 (x2) to two. Pairs 1-2 and 2-5 are
        // equally close; 2-5 wins because 5 has fewer pixels than either of
        // 1-2, so 5 folds into 2. Then 1 and 2 tie on count 3: the first, 1,
        // folds into 2.
        ReduceCase{"tie",
                   10,
                   2,
                   {1, 1, 1, 2, 2, 5, 7, 7},
                   {{1, {0, 0, 0}}, {2, {10, 0, 0}}, {5, {20, 0, 0}}, {7, {200, 0, 0}}},
                   {10, 10, 10, 10, 10, 10, 11, 11},
                   {{10, {10, 0, 0}}, {11, {200, 0, 0}}}},
        // Pairs 1-2 and 2-5 equally close again, but 5 has as many pixels as
        // 1, not fewer: the first pair stays and 1 folds into 2.
        ReduceCase{"tie_kept",
                   10,
                   3,
                   {1, 1, 2, 2, 2, 5, 5, 7},
                   {{1, {0, 0, 0}}, {2, {10, 0, 0}}, {5, {20, 0, 0}}, {7, {200, 0, 0}}},
                   {10, 10, 10, 10, 10, 11, 11, 12},
                   {{10, {10, 0, 0}}, {11, {20, 0, 0}}, {12, {200, 0, 0}}}},
        // Few enough colours: only renumbered from the offset.
        ReduceCase{"renumber",
                   10,
                   236,
                   {200, 3, 9, 3, 3, 200, 9, 9},
                   {{3, {1, 2, 3}}, {9, {4, 5, 6}}, {200, {7, 8, 9}}},
                   {12, 10, 11, 10, 10, 12, 11, 11},
                   {{10, {1, 2, 3}}, {11, {4, 5, 6}}, {12, {7, 8, 9}}}},
        // Down to one colour: the one with more pixels survives.
        ReduceCase{"single",
                   0,
                   1,
                   {4, 4, 4, 4, 4, 6, 6, 6},
                   {{4, {50, 50, 50}}, {6, {60, 60, 60}}},
                   {0, 0, 0, 0, 0, 0, 0, 0},
                   {{0, {50, 50, 50}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// 70000 pixels count as 65535, still more than 61072: the first colour
// survives the merge.
TEST_F(RasterLibrary, ReducePixelCountsStopAt65535) {
    const auto v = open_buffer(8, 512, 256);
    for (int i = 0; i < 512 * 256; ++i) set_buffer_pixel(v, i % 512, i / 512, i < 70000 ? 1 : 2);
    uint8_t triples[768]{};
    triples[3] = 11;
    triples[6] = 22;
    EXPECT_EQ(rl_reduce_palette(0, 1, triples), 0);
    EXPECT_EQ(triples[0], 11);
    EXPECT_EQ(buffer_pixel(v, 0, 0), 0u);
    EXPECT_EQ(buffer_pixel(v, 511, 255), 0u);
}

TEST_F(RasterLibrary, ReduceTouchesOnlyEightBitBuffers) {
    const auto v = open_buffer(16, 8, 1);
    uint8_t triples[768]{};
    EXPECT_EQ(rl_reduce_palette(10, 2, triples), 0);
    EXPECT_EQ(changed_outside(v, {}), 0);
}

}  // namespace
}  // namespace raster_test
