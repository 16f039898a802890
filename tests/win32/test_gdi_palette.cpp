// Logical palettes, the system palette of 8-bit screens, realization and
// palette animation.
#include <algorithm>
#include <array>

#include "test_gdi_support.h"

namespace {

using gdi_test::DibHeader;
using gdi_test::GdiTest;
using gdi_test::MemoryDc;
using gdi_test::ScreenDc;

const std::array<uint32_t, 20> kStatics = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
    0xC0C0C0, 0xC0DCC0, 0xA6CAF0, 0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000,
    0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

uint32_t rgb(const PALETTEENTRY& e) { return uint32_t(e.peRed) << 16 | uint32_t(e.peGreen) << 8 | e.peBlue; }
PALETTEENTRY entry(uint32_t c, BYTE flags) { return PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), flags}; }

// A LOGPALETTE with room for its entries.
struct LogPalette {
    std::vector<uint8_t> block;
    explicit LogPalette(const std::vector<PALETTEENTRY>& entries, WORD version = 0x300)
        : block(4 + 4 * std::max<size_t>(entries.size(), 1)) {
        auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
        lp->palVersion = version;
        lp->palNumEntries = WORD(entries.size());
        std::copy(entries.begin(), entries.end(), lp->palPalEntry);
    }
    const LOGPALETTE* get() const { return reinterpret_cast<const LOGPALETTE*>(block.data()); }
};

HPALETTE make_palette(const std::vector<PALETTEENTRY>& entries) {
    return CreatePalette(LogPalette(entries).get());
}

// Colours 10..245 of the identity palette.
uint32_t free_colour(int i) { return uint32_t(i) << 16 | uint32_t(255 - i) << 8 | uint32_t(i / 2 + 1); }

// 256 entries around the static colours, all animatable, as a program that
// wants every slot builds it.
std::vector<PALETTEENTRY> identity_entries() {
    std::vector<PALETTEENTRY> e(256);
    for (int i = 0; i < 256; ++i) {
        const uint32_t c = i < 10 ? kStatics[size_t(i)] : i >= 246 ? kStatics[size_t(i - 236)] : free_colour(i);
        e[size_t(i)] = entry(c, PC_RESERVED);
    }
    return e;
}

// Draws palette index `index` at (x, y) through the DC's palette.
void draw_index(HDC dc, int x, int y, uint8_t index) {
    DibHeader dib(1, 1, 8);
    for (int i = 0; i < 256; ++i) dib.palette_index(i, uint16_t(i));
    const uint32_t bits = index;
    ASSERT_EQ(SetDIBitsToDevice(dc, x, y, 1, 1, 0, 0, 0, 1, &bits, dib.info(), DIB_PAL_COLORS), 1);
}

std::vector<PALETTEENTRY> system_palette(HDC dc) {
    std::vector<PALETTEENTRY> e(256);
    EXPECT_EQ(GetSystemPaletteEntries(dc, 0, 256, e.data()), 256u);
    return e;
}

class PaletteScreen : public GdiTest {
protected:
    void SetUp() override { use_screen(640, 480, 8); }
};

TEST_F(PaletteScreen, SystemPaletteHoldsTheTwentyStaticColours) {
    ScreenDc screen;
    const auto sys = system_palette(screen);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(rgb(sys[size_t(i)]), kStatics[size_t(i)]) << i;
        EXPECT_EQ(rgb(sys[size_t(246 + i)]), kStatics[size_t(10 + i)]) << 246 + i;
        EXPECT_EQ(sys[size_t(i)].peFlags, 0);
    }
    EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 0, nullptr), 256u);
    std::array<PALETTEENTRY, 10> tail{};
    EXPECT_EQ(GetSystemPaletteEntries(screen, 250, 10, tail.data()), 6u);
    EXPECT_EQ(rgb(tail[5]), 0xFFFFFFu);
    EXPECT_EQ(GetSystemPaletteEntries(screen, 256, 1, tail.data()), 0u);
    EXPECT_EQ(GetSystemPaletteEntries(reinterpret_cast<HDC>(0x99), 0, 1, tail.data()), 0u);
}

class NoSystemPalette : public GdiTest, public ::testing::WithParamInterface<int> {};

TEST_P(NoSystemPalette, DeeperScreensFillNothing) {
    use_screen(640, 480, GetParam());
    ScreenDc screen;
    std::array<PALETTEENTRY, 4> e;
    e.fill(PALETTEENTRY{0xAB, 0xAB, 0xAB, 0xAB});
    EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 4, e.data()), 0u);
    EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 0, nullptr), 0u);
    for (const auto& x : e) EXPECT_EQ(rgb(x), 0xABABABu);

    HPALETTE palette = make_palette(identity_entries());
    SelectPalette(screen, palette, FALSE);
    EXPECT_EQ(RealizePalette(screen), 0u);
    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(palette);
}

INSTANTIATE_TEST_SUITE_P(Depths, NoSystemPalette, ::testing::Values(15, 16, 24, 32));

TEST_F(GdiTest, CreatePaletteRefusesBadRecords) {
    EXPECT_EQ(CreatePalette(nullptr), nullptr);
    EXPECT_EQ(CreatePalette(LogPalette({entry(1, 0)}, 0x200).get()), nullptr);
    EXPECT_EQ(CreatePalette(LogPalette({}).get()), nullptr);
    EXPECT_EQ(CreatePalette(LogPalette(std::vector<PALETTEENTRY>(257)).get()), nullptr);
    HPALETTE full = CreatePalette(LogPalette(std::vector<PALETTEENTRY>(256)).get());
    EXPECT_NE(full, nullptr);
    EXPECT_TRUE(DeleteObject(full));
}

TEST_F(GdiTest, PaletteEntriesReadBackInRange) {
    HPALETTE palette = make_palette({entry(0x010203, 0), entry(0x040506, PC_RESERVED), entry(0x070809, 0)});
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 3u);
    std::array<PALETTEENTRY, 4> e{};
    EXPECT_EQ(GetPaletteEntries(palette, 1, 4, e.data()), 2u);
    EXPECT_EQ(rgb(e[0]), 0x040506u);
    EXPECT_EQ(e[0].peFlags, PC_RESERVED);
    EXPECT_EQ(rgb(e[1]), 0x070809u);
    EXPECT_EQ(GetPaletteEntries(palette, 3, 1, e.data()), 0u);
    EXPECT_EQ(GetPaletteEntries(reinterpret_cast<HPALETTE>(0x99), 0, 1, e.data()), 0u);
    EXPECT_TRUE(DeleteObject(palette));
}

TEST_F(GdiTest, SelectPaletteReturnsThePreviousPalette) {
    ScreenDc screen;
    HPALETTE palette = make_palette({entry(0x010203, 0)});
    HPALETTE stock = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    EXPECT_EQ(SelectPalette(screen, palette, FALSE), stock);
    EXPECT_FALSE(DeleteObject(palette)) << "selected";
    EXPECT_EQ(SelectPalette(screen, stock, FALSE), palette);
    EXPECT_EQ(SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(BLACK_BRUSH)), FALSE), nullptr);
    EXPECT_EQ(SelectPalette(reinterpret_cast<HDC>(0x99), palette, FALSE), nullptr);
    EXPECT_EQ(RealizePalette(reinterpret_cast<HDC>(0x99)), GDI_ERROR);
    EXPECT_TRUE(DeleteObject(palette));
    EXPECT_EQ(SelectPalette(screen, palette, FALSE), nullptr) << "deleted";
}

TEST_F(PaletteScreen, IdentityPaletteRealizesOneToOneAndAnimates) {
    ScreenDc screen;
    HPALETTE palette = make_palette(identity_entries());
    ASSERT_NE(palette, nullptr);
    SelectPalette(screen, palette, FALSE);
    EXPECT_EQ(RealizePalette(screen), 256u);
    const auto sys = system_palette(screen);
    for (int i = 0; i < 256; ++i) {
        const uint32_t want = i < 10 ? kStatics[size_t(i)] : i >= 246 ? kStatics[size_t(i - 236)] : free_colour(i);
        ASSERT_EQ(rgb(sys[size_t(i)]), want) << i;
    }
    for (int i : {5, 100, 101, 250}) draw_index(screen, i, 0, uint8_t(i));
    EXPECT_EQ(win32::screen_pixel(100, 0), free_colour(100));
    EXPECT_EQ(win32::screen_pixel(250, 0), 0x00FF00u);

    // Entry 100 changes on the screen without being drawn again; the
    // static colours stay what they are.
    const PALETTEENTRY changed[] = {entry(0xABCDEF, PC_RESERVED)};
    EXPECT_TRUE(AnimatePalette(palette, 100, 1, changed));
    EXPECT_TRUE(AnimatePalette(palette, 5, 1, changed));
    EXPECT_EQ(win32::screen_pixel(100, 0), 0xABCDEFu);
    EXPECT_EQ(win32::screen_pixel(101, 0), free_colour(101));
    EXPECT_EQ(win32::screen_pixel(5, 0), 0x800080u);
    PALETTEENTRY logical{};
    GetPaletteEntries(palette, 5, 1, &logical);
    EXPECT_EQ(rgb(logical), 0xABCDEFu);

    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    EXPECT_TRUE(DeleteObject(palette));
}

TEST_F(PaletteScreen, OnlyReservedEntriesAnimate) {
    ScreenDc screen;
    HPALETTE palette = make_palette({entry(0x102030, 0), entry(0x102030, PC_RESERVED),
                                     entry(0x102030, PC_RESERVED), entry(0x102030, 0)});
    SelectPalette(screen, palette, FALSE);
    EXPECT_EQ(RealizePalette(screen), 4u);
    // Plain entries of one colour share a slot; reserved ones each get their own.
    const auto sys = system_palette(screen);
    EXPECT_EQ(std::count_if(sys.begin(), sys.end(), [](auto& e) { return rgb(e) == 0x102030; }), 3);
    for (uint8_t i = 0; i < 4; ++i) draw_index(screen, i, 0, i);

    const PALETTEENTRY now[] = {entry(0xFF0000, 0), entry(0x00FF00, 0), entry(0x0000FF, 0),
                                entry(0xFFFFFF, 0)};
    EXPECT_TRUE(AnimatePalette(palette, 0, 4, now));
    EXPECT_EQ(win32::screen_pixel(0, 0), 0x102030u);
    EXPECT_EQ(win32::screen_pixel(1, 0), 0x00FF00u);
    EXPECT_EQ(win32::screen_pixel(2, 0), 0x0000FFu);
    EXPECT_EQ(win32::screen_pixel(3, 0), 0x102030u);
    std::array<PALETTEENTRY, 4> e{};
    GetPaletteEntries(palette, 0, 4, e.data());
    EXPECT_EQ(rgb(e[0]), 0x102030u);
    EXPECT_EQ(rgb(e[1]), 0x00FF00u);
    EXPECT_EQ(e[1].peFlags, PC_RESERVED) << "still animatable";

    EXPECT_TRUE(AnimatePalette(palette, 3, 100, now)) << "count is cut to the palette";
    EXPECT_FALSE(AnimatePalette(palette, 4, 1, now));
    EXPECT_FALSE(AnimatePalette(palette, 0, 1, nullptr));
    EXPECT_FALSE(AnimatePalette(reinterpret_cast<HPALETTE>(0x99), 0, 1, now));
    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(palette);
}

TEST_F(PaletteScreen, ANewForegroundPaletteTakesOverTheFreeSlots) {
    ScreenDc screen;
    HPALETTE first = make_palette({entry(0x111111, PC_RESERVED), entry(0x222222, PC_RESERVED)});
    HPALETTE second = make_palette({entry(0x333333, PC_RESERVED)});
    SelectPalette(screen, first, FALSE);
    RealizePalette(screen);
    EXPECT_EQ(rgb(system_palette(screen)[10]), 0x111111u);
    SelectPalette(screen, second, FALSE);
    RealizePalette(screen);
    EXPECT_EQ(rgb(system_palette(screen)[10]), 0x333333u);
    // The first palette no longer owns slot 10: animating it leaves it be.
    const PALETTEENTRY changed[] = {entry(0xABCDEF, PC_RESERVED)};
    EXPECT_TRUE(AnimatePalette(first, 0, 1, changed));
    EXPECT_EQ(rgb(system_palette(screen)[10]), 0x333333u);
    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(first);
    DeleteObject(second);
}

TEST_F(PaletteScreen, BackgroundAndMemoryRealizationLeaveTheSystemPaletteAlone) {
    ScreenDc screen;
    MemoryDc memory;
    HPALETTE palette = make_palette({entry(0x123456, PC_RESERVED), entry(0xF00000, PC_RESERVED)});
    const auto before = system_palette(screen);
    SelectPalette(memory, palette, FALSE);
    EXPECT_EQ(RealizePalette(memory), 2u);
    SelectPalette(screen, palette, TRUE);
    EXPECT_EQ(RealizePalette(screen), 2u);
    const auto after = system_palette(screen);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(rgb(after[size_t(i)]), rgb(before[size_t(i)])) << i;
    draw_index(screen, 0, 0, 1);
    EXPECT_EQ(win32::screen_pixel(0, 0), 0xFF0000u) << "nearest colour present";

    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    SelectPalette(memory, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(palette);
}

TEST_F(PaletteScreen, ModeChangeResetsTheSystemPalette) {
    ScreenDc screen;
    HPALETTE palette = make_palette(identity_entries());
    SelectPalette(screen, palette, FALSE);
    RealizePalette(screen);
    DEVMODEA dm{};
    dm.dmSize = sizeof dm;
    dm.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    dm.dmPelsWidth = 800;
    dm.dmPelsHeight = 600;
    ASSERT_EQ(ChangeDisplaySettingsA(&dm, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(rgb(system_palette(screen)[100]), 0u);
    // Until realized again the palette draws with the colours present.
    draw_index(screen, 0, 0, 100);
    const PALETTEENTRY changed[] = {entry(0xABCDEF, PC_RESERVED)};
    AnimatePalette(palette, 100, 1, changed);
    EXPECT_EQ(rgb(system_palette(screen)[100]), 0u);
    EXPECT_EQ(RealizePalette(screen), 256u);
    EXPECT_EQ(rgb(system_palette(screen)[100]), 0xABCDEFu);
    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(palette);
}

TEST_F(GdiTest, AnimationOnADeeperScreenChangesOnlyTheLogicalPalette) {
    ScreenDc screen;
    HPALETTE palette = make_palette({entry(0x102030, PC_RESERVED)});
    SelectPalette(screen, palette, FALSE);
    EXPECT_EQ(RealizePalette(screen), 0u);
    draw_index(screen, 0, 0, 0);
    EXPECT_EQ(win32::screen_pixel(0, 0), 0x102030u);
    const PALETTEENTRY changed[] = {entry(0xABCDEF, PC_RESERVED)};
    EXPECT_TRUE(AnimatePalette(palette, 0, 1, changed));
    EXPECT_EQ(win32::screen_pixel(0, 0), 0x102030u);
    draw_index(screen, 1, 0, 0);
    EXPECT_EQ(win32::screen_pixel(1, 0), 0xABCDEFu);
    SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    DeleteObject(palette);
}

}  // namespace
