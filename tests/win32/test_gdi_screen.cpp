// The virtual screen: mode text, display-mode switches, device caps,
// metrics, the cursor count, window DCs and screenshots.
#include <png.h>

#include <string>

#include "scratch_dir.h"
#include "test_gdi_support.h"

namespace {

using gdi_test::GdiTest;
using gdi_test::MemoryDc;
using gdi_test::ScreenDc;
using win32::ScreenMode;

struct ModeText {
    const char* text;
    ScreenMode expected;
};

TEST(ScreenModeText, ParsesOnlyWellFormedSaneModes) {
    const ScreenMode fallback{1024, 768, 32};
    const ModeText cases[] = {
        {"640x480x16", {640, 480, 16}},
        {"800X600X8", {800, 600, 8}},
        {"320x200x15", {320, 200, 15}},
        {"4096x4096x24", {4096, 4096, 24}},
        {nullptr, fallback},
        {"", fallback},
        {"640x480", fallback},
        {"640x480x12", fallback},     // no such depth
        {"319x200x32", fallback},     // too small
        {"640x4097x32", fallback},    // too tall
        {"640x480x16x", fallback},
        {"640x480x16 ", fallback},
        {"-640x480x16", fallback},
        {"+640x480x16", fallback},
        {"640xx480x16", fallback},
        {"99999999999x480x16", fallback},
    };
    for (const ModeText& c : cases)
        EXPECT_EQ(win32::parse_screen_mode(c.text), c.expected) << (c.text ? c.text : "(null)");
}

DEVMODEA mode_record(DWORD fields, DWORD width, DWORD height, DWORD bpp) {
    DEVMODEA dm{};
    dm.dmSize = sizeof dm;
    dm.dmFields = fields;
    dm.dmPelsWidth = width;
    dm.dmPelsHeight = height;
    dm.dmBitsPerPel = bpp;
    return dm;
}

constexpr DWORD kAllFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;

class DisplayModes : public GdiTest {};

TEST_F(DisplayModes, RecordIsTheClassic124Bytes) { EXPECT_EQ(sizeof(DEVMODEA), 124u); }

TEST_F(DisplayModes, AcceptedModeReplacesTheScreenWithABlackOne) {
    ScreenDc screen;
    MemoryDc memory;
    ASSERT_NE(SetPixel(screen, 5, 5, RGB(255, 255, 255)), CLR_INVALID);
    std::vector<ScreenMode> seen;
    win32::set_display_mode_listener([&](const ScreenMode& m) { seen.push_back(m); });

    DEVMODEA dm = mode_record(kAllFields, 640, 480, 16);
    EXPECT_EQ(ChangeDisplaySettingsA(&dm, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    win32::set_display_mode_listener(nullptr);

    EXPECT_EQ(win32::screen_mode(), (ScreenMode{640, 480, 16}));
    EXPECT_EQ(win32::stored_screen_mode(), (ScreenMode{1024, 768, 32})) << "temporary change";
    EXPECT_EQ(win32::screen_pixel(5, 5), 0u);
    EXPECT_EQ(win32::screen_pixel(640, 0), 0xFFFFFFFFu);
    EXPECT_EQ(seen, (std::vector<ScreenMode>{{640, 480, 16}}));
    // DCs taken before the switch draw on the new screen.
    for (HDC dc : {screen.dc, memory.dc}) {
        EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 640);
        EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 480);
        EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 16);
    }
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
    EXPECT_EQ(GetPixel(screen, 639, 479), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(screen, 640, 479), CLR_INVALID);
}

TEST_F(DisplayModes, UnmarkedFieldsKeepTheirValues) {
    DEVMODEA dm = mode_record(DM_BITSPERPEL, 1, 1, 8);  // sizes unmarked: ignored
    EXPECT_EQ(ChangeDisplaySettingsA(&dm, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (ScreenMode{1024, 768, 8}));
    dm = mode_record(DM_PELSWIDTH | DM_PELSHEIGHT, 800, 600, 99);
    EXPECT_EQ(ChangeDisplaySettingsA(&dm, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (ScreenMode{800, 600, 8}));
}

TEST_F(DisplayModes, RefusedModeLeavesTheScreenAsItWas) {
    ScreenDc screen;
    ASSERT_EQ(SetPixel(screen, 7, 3, RGB(0x12, 0x34, 0x56)), RGB(0x12, 0x34, 0x56));
    DEVMODEA short_record = mode_record(kAllFields, 640, 480, 16);
    short_record.dmSize = 40;
    DEVMODEA refused[] = {
        mode_record(kAllFields, 640, 480, 12),
        mode_record(kAllFields, 640, 480, 0),
        mode_record(kAllFields, 100, 100, 16),
        mode_record(kAllFields, 8192, 480, 16),
        mode_record(kAllFields, 0xFFFFFFFFu, 480, 16),
        mode_record(DM_PELSHEIGHT, 0, 199, 0),
        short_record,
    };
    for (DEVMODEA& dm : refused) {
        EXPECT_EQ(ChangeDisplaySettingsA(&dm, CDS_UPDATEREGISTRY), DISP_CHANGE_BADMODE)
            << dm.dmPelsWidth << "x" << dm.dmPelsHeight << "x" << dm.dmBitsPerPel;
        EXPECT_EQ(win32::screen_mode(), (ScreenMode{1024, 768, 32}));
        EXPECT_EQ(win32::stored_screen_mode(), (ScreenMode{1024, 768, 32}));
        EXPECT_EQ(win32::screen_pixel(7, 3), 0x123456u);
    }
}

TEST_F(DisplayModes, TestFlagAndSameModeChangeNothing) {
    ScreenDc screen;
    SetPixel(screen, 1, 1, RGB(255, 0, 0));
    DEVMODEA other = mode_record(kAllFields, 640, 480, 8);
    EXPECT_EQ(ChangeDisplaySettingsA(&other, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    DEVMODEA same = mode_record(kAllFields, 1024, 768, 32);
    EXPECT_EQ(ChangeDisplaySettingsA(&same, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (ScreenMode{1024, 768, 32}));
    EXPECT_EQ(win32::screen_pixel(1, 1), 0xFF0000u) << "an unchanged mode keeps the picture";
}

TEST_F(DisplayModes, NullRecordReturnsToTheStoredMode) {
    DEVMODEA dm = mode_record(kAllFields, 640, 480, 16);
    ASSERT_EQ(ChangeDisplaySettingsA(&dm, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (ScreenMode{1024, 768, 32}));

    // CDS_UPDATEREGISTRY makes the new mode the one to return to.
    dm = mode_record(kAllFields, 800, 600, 24);
    ASSERT_EQ(ChangeDisplaySettingsA(&dm, CDS_UPDATEREGISTRY), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::stored_screen_mode(), (ScreenMode{800, 600, 24}));
    dm = mode_record(kAllFields, 640, 480, 8);
    ASSERT_EQ(ChangeDisplaySettingsA(&dm, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(win32::screen_mode(), (ScreenMode{800, 600, 24}));
}

struct Caps {
    int bpp;
    bool palette;
};

class DeviceCaps : public GdiTest, public ::testing::WithParamInterface<Caps> {};

TEST_P(DeviceCaps, ScreenAndMemoryDcsDescribeTheScreen) {
    const Caps c = GetParam();
    use_screen(800, 600, c.bpp);
    ScreenDc screen;
    MemoryDc memory;
    for (HDC dc : {screen.dc, memory.dc}) {
        EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), c.bpp);
        EXPECT_EQ(GetDeviceCaps(dc, PLANES), 1);
        EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 800);
        EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 600);
        EXPECT_EQ((GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0, c.palette);
        EXPECT_NE(GetDeviceCaps(dc, RASTERCAPS) & RC_DIBTODEV, 0);
        EXPECT_EQ(GetDeviceCaps(dc, SIZEPALETTE), c.palette ? 256 : 0);
        EXPECT_EQ(GetDeviceCaps(dc, NUMRESERVED), c.palette ? 20 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, DeviceCaps,
                         ::testing::Values(Caps{8, true}, Caps{15, false}, Caps{16, false},
                                           Caps{24, false}, Caps{32, false}));

TEST_F(GdiTest, BadDcsAndIndicesReportNothing) {
    ScreenDc screen;
    EXPECT_EQ(GetDeviceCaps(nullptr, BITSPIXEL), 0);
    EXPECT_EQ(GetDeviceCaps(reinterpret_cast<HDC>(0x1234), HORZRES), 0);
    EXPECT_EQ(GetDeviceCaps(screen, 9999), 0);
    EXPECT_EQ(GetSystemMetrics(9999), 0);
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x42)), nullptr);
    EXPECT_EQ(ReleaseDC(nullptr, reinterpret_cast<HDC>(0x1234)), 0);
    MemoryDc memory;
    EXPECT_EQ(ReleaseDC(nullptr, memory), 0) << "memory DCs go with DeleteDC";
}

TEST(SystemMetrics, MouseAndCursor) {
    EXPECT_EQ(GetSystemMetrics(SM_MOUSEPRESENT), 1);
    EXPECT_EQ(GetSystemMetrics(SM_CXCURSOR), 32);
    EXPECT_EQ(GetSystemMetrics(SM_CYCURSOR), 32);
}

TEST(Cursor, DisplayCountStartsAtZeroAndCounts) {
    const int start = win32::cursor_display_count();
    EXPECT_EQ(ShowCursor(FALSE), start - 1);
    EXPECT_EQ(ShowCursor(FALSE), start - 2);
    EXPECT_EQ(win32::cursor_display_count(), start - 2);
    EXPECT_EQ(ShowCursor(TRUE), start - 1);
    EXPECT_EQ(ShowCursor(TRUE), start);
}

TEST_F(GdiTest, WindowDcDrawsThroughItsOriginAndClip) {
    HDC dc = win32::create_screen_dc(POINT{100, 50}, RECT{90, 40, 110, 60});
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(SetPixel(dc, 0, 0, RGB(255, 0, 0)), RGB(255, 0, 0));
    EXPECT_EQ(win32::screen_pixel(100, 50), 0xFF0000u);
    EXPECT_EQ(SetPixel(dc, -10, -10, RGB(0, 255, 0)), RGB(0, 255, 0));
    EXPECT_EQ(win32::screen_pixel(90, 40), 0x00FF00u);
    EXPECT_EQ(SetPixel(dc, 10, 0, RGB(0, 0, 255)), CLR_INVALID) << "right of the clip";
    EXPECT_EQ(SetPixel(dc, -11, 0, RGB(0, 0, 255)), CLR_INVALID) << "left of the clip";
    EXPECT_EQ(win32::screen_pixel(110, 50), 0u);
    EXPECT_EQ(win32::screen_pixel(89, 50), 0u);

    ASSERT_TRUE(win32::set_screen_dc_view(dc, POINT{0, 0}, RECT{0, 0, 1024, 768}));
    EXPECT_EQ(GetPixel(dc, 100, 50), RGB(255, 0, 0));
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
    EXPECT_EQ(GetPixel(dc, 100, 50), CLR_INVALID);
}

// Reads a PNG back as 0x00RRGGBB pixels.
bool read_png(const std::string& path, int& width, int& height, std::vector<uint32_t>& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
    width = int(image.width);
    height = int(image.height);
    out.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint32_t(rgb[i * 3]) << 16 | uint32_t(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
    return true;
}

struct ShotCase {
    int bpp;
    COLORREF drawn;
    uint32_t shown;
};

class Screenshot : public GdiTest, public ::testing::WithParamInterface<ShotCase> {};

TEST_P(Screenshot, PngHoldsTheVisibleScreen) {
    const ShotCase c = GetParam();
    use_screen(320, 200, c.bpp);
    {
        ScreenDc screen;
        SetPixel(screen, 0, 0, c.drawn);
        SetPixel(screen, 319, 199, RGB(255, 255, 255));
        SetPixel(screen, 160, 7, c.drawn);
    }
    testing_support::ScratchDir dir;
    const std::string path = (dir.path() / "shot.png").string();
    ASSERT_TRUE(win32::save_screenshot(path.c_str()));
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(read_png(path, w, h, px));
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 200);
    EXPECT_EQ(px[0], c.shown);
    EXPECT_EQ(px[7 * 320 + 160], c.shown);
    EXPECT_EQ(px[199 * 320 + 319], 0xFFFFFFu);
    EXPECT_EQ(px[1], 0u);
    EXPECT_EQ(px[7 * 320 + 161], 0u);
}

// The 8-bit screen shows the static colour nearest to what was drawn.
INSTANTIATE_TEST_SUITE_P(Depths, Screenshot,
                         ::testing::Values(ShotCase{32, RGB(0x12, 0x34, 0x56), 0x123456},
                                           ShotCase{24, RGB(0x12, 0x34, 0x56), 0x123456},
                                           ShotCase{16, RGB(0xFF, 0x80, 0x08), 0xFF8208},
                                           ShotCase{15, RGB(0xFF, 0x80, 0x08), 0xFF8408},
                                           ShotCase{8, RGB(0x7F, 0x01, 0x02), 0x800000}));

TEST_F(GdiTest, ScreenshotToAnUnwritablePlaceFails) {
    EXPECT_FALSE(win32::save_screenshot("/nonexistent-folder/x/shot.png"));
    EXPECT_FALSE(win32::save_screenshot(nullptr));
}

}  // namespace
