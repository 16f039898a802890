// Regions clipping drawing and hit testing, PatBlt, the system colours and
// the desktop wallpaper setting.
#include <cmath>

#include "scratch_dir.h"
#include "test_user_support.h"

namespace {

using namespace user_test;

// The region as rows of '#' and '.', over a box from (0, 0).
std::vector<std::string> picture(HRGN r, int w, int h) {
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
        std::string row;
        for (int x = 0; x < w; ++x) row += PtInRegion(r, x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

TEST_F(UserTest, RectRegionExcludesRightAndBottomEdges) {
    HRGN r = CreateRectRgn(2, 1, 5, 3);
    EXPECT_EQ(picture(r, 6, 4), (std::vector<std::string>{"......", "..###.", "..###.", "......"}));
    RECT box;
    EXPECT_EQ(GetRgnBox(r, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 5);
    HRGN flipped = CreateRectRgn(5, 3, 2, 1);
    EXPECT_EQ(picture(flipped, 6, 4), picture(r, 6, 4)) << "corners in any order";
    DeleteObject(r);
    DeleteObject(flipped);
}

TEST_F(UserTest, RoundRectRegionCutsEllipticCorners) {
    HRGN r = CreateRoundRectRgn(0, 0, 40, 30, 18, 18);
    const auto rows = picture(r, 40, 30);
    // The corner of an 18x18 ellipse: each row's first pixel.
    std::vector<int> insets;
    for (int y = 0; y < 10; ++y) insets.push_back(int(rows[size_t(y)].find('#')));
    EXPECT_EQ(insets, (std::vector<int>{6, 4, 3, 2, 1, 1, 0, 0, 0, 0}));
    // Four mirror-image corners.
    for (int y = 0; y < 30; ++y) {
        const std::string& row = rows[size_t(y)];
        EXPECT_EQ(row, std::string(row.rbegin(), row.rend())) << y;
        EXPECT_EQ(row, rows[size_t(29 - y)]) << y;
    }
    // Its area is the rectangle's less the four corners outside the ellipse.
    int area = 0;
    for (const auto& row : rows) area += int(std::count(row.begin(), row.end(), '#'));
    const double expected = 40 * 30 - (4 - M_PI) * 9 * 9;
    EXPECT_NEAR(area, expected, 8);
    DeleteObject(r);
}

TEST_F(UserTest, PolygonRegionAlternateAndWindingFill) {
    // A five-pointed star drawn in one stroke: its centre is crossed twice.
    const POINT star[] = {{50, 0}, {79, 90}, {2, 35}, {98, 35}, {21, 90}};
    HRGN alt = CreatePolygonRgn(star, 5, ALTERNATE);
    HRGN wind = CreatePolygonRgn(star, 5, WINDING);
    struct Case {
        POINT p;
        bool alternate, winding;
    };
    const Case cases[] = {
        {{50, 50}, false, true},  // the pentagon in the middle
        {{50, 10}, true, true},   // the top point
        {{10, 37}, true, true},   // the left point
        {{5, 80}, false, false},  // outside
        {{50, 95}, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bool(PtInRegion(alt, c.p.x, c.p.y)), c.alternate) << c.p.x << "," << c.p.y;
        EXPECT_EQ(bool(PtInRegion(wind, c.p.x, c.p.y)), c.winding) << c.p.x << "," << c.p.y;
    }
    // Pixels whose centres lie inside, not on the right edge.
    const POINT tri[] = {{0, 0}, {4, 0}, {0, 4}};
    HRGN t = CreatePolygonRgn(tri, 3, ALTERNATE);
    EXPECT_EQ(picture(t, 5, 5), (std::vector<std::string>{"###..", "##...", "#....", ".....", "....."}));
    // Extreme corners neither overflow nor run for ever.
    const POINT wide[] = {{INT32_MIN, 0}, {INT32_MAX, 1}, {0, 3}};
    HRGN big = CreatePolygonRgn(wide, 3, ALTERNATE);
    ASSERT_NE(big, nullptr);
    EXPECT_TRUE(PtInRegion(big, 0, 1));
    DeleteObject(big);
    std::vector<POINT> many(100000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = {LONG(i % 7), LONG(i % 2 ? 1000000 : -1000000)};
    EXPECT_EQ(CreatePolygonRgn(many.data(), int(many.size()), ALTERNATE), nullptr);
    EXPECT_EQ(CreatePolygonRgn(nullptr, 3, ALTERNATE), nullptr);
    EXPECT_EQ(CreatePolygonRgn(tri, 3, 7), nullptr);
    for (HRGN r : {alt, wind, t}) DeleteObject(r);
}

TEST_F(UserTest, CombineRegionModes) {
    HRGN a = CreateRectRgn(0, 0, 4, 2);
    HRGN b = CreateRectRgn(2, 0, 6, 2);
    HRGN out = CreateRectRgn(0, 0, 0, 0);
    struct Case {
        int mode;
        int result;
        std::string row;
    };
    const Case cases[] = {
        {RGN_AND, SIMPLEREGION, "..##..."},
        {RGN_OR, SIMPLEREGION, "######."},
        {RGN_XOR, COMPLEXREGION, "##..##."},
        {RGN_DIFF, SIMPLEREGION, "##....."},
        {RGN_COPY, SIMPLEREGION, "####..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CombineRgn(out, a, b, c.mode), c.result) << c.mode;
        EXPECT_EQ(picture(out, 7, 1)[0], c.row) << c.mode;
    }
    EXPECT_EQ(CombineRgn(out, a, a, RGN_DIFF), NULLREGION);
    EXPECT_EQ(CombineRgn(out, a, nullptr, RGN_AND), ERROR);
    EXPECT_EQ(CombineRgn(out, a, b, 9), ERROR);
    EXPECT_EQ(OffsetRgn(a, 10, 20), SIMPLEREGION);
    EXPECT_TRUE(PtInRegion(a, 10, 20));
    EXPECT_FALSE(PtInRegion(a, 0, 0));
    EXPECT_EQ(OffsetRgn(nullptr, 1, 1), ERROR);
    // Absurd offsets stay bounded rather than wrapping around.
    EXPECT_NE(OffsetRgn(a, 0x7FFFFFFF, 0x7FFFFFFF), ERROR);
    EXPECT_FALSE(PtInRegion(a, 10, 20));
    for (HRGN r : {a, b, out}) EXPECT_TRUE(DeleteObject(r));
    EXPECT_FALSE(DeleteObject(a)) << "already gone";
}

TEST_F(UserTest, FillAndFrameRegionOnTheScreen) {
    HDC dc = GetDC(nullptr);
    HBRUSH red = CreateSolidBrush(kRed);
    HRGN r = CreateRectRgn(10, 10, 20, 16);
    ASSERT_TRUE(FrameRgn(dc, r, red, 2, 1));
    const char* want[] = {
        "..........", "##########", "##......##", "##......##", "##......##", "##......##",
        "##########", "..........",
    };
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(win32::screen_pixel(10 + x, 9 + y) != 0, want[y][x] == '#') << x << "," << y;
    OffsetRgn(r, 100, 0);
    ASSERT_TRUE(FillRgn(dc, r, red));
    EXPECT_EQ(win32::screen_pixel(110, 10), rgb(kRed));
    EXPECT_EQ(win32::screen_pixel(119, 15), rgb(kRed));
    EXPECT_EQ(win32::screen_pixel(120, 15), 0u);
    EXPECT_FALSE(FillRgn(dc, r, nullptr));
    EXPECT_FALSE(FillRgn(nullptr, r, red));
    EXPECT_FALSE(FrameRgn(dc, r, red, -1, 1));
    DeleteObject(r);
    DeleteObject(red);
    ReleaseDC(nullptr, dc);
}

TEST_F(UserTest, WindowRegionClipsDrawingAndHitTesting) {
    // Clicking the lower window must not raise it over the balloon.
    HWND below = make_window({0, 0, 100, 100}, kRed, WS_POPUP | WS_VISIBLE, WS_EX_NOACTIVATE);
    HWND balloon = make_window({10, 10, 60, 60}, kGreen);
    HRGN shape = CreateRoundRectRgn(0, 0, 50, 50, 18, 18);
    HRGN tail = CreatePolygonRgn(std::vector<POINT>{{20, 49}, {30, 49}, {25, 49}}.data(), 3, ALTERNATE);
    CombineRgn(shape, shape, tail, RGN_OR);
    DeleteObject(tail);
    ASSERT_TRUE(SetWindowRgn(balloon, shape, TRUE));
    pump();
    // The cut-off corner shows the window below, drawn and clicked.
    EXPECT_EQ(win32::screen_pixel(10, 10), rgb(kRed));
    EXPECT_EQ(win32::screen_pixel(35, 35), rgb(kGreen));
    EXPECT_EQ(win32::screen_pixel(16, 10), rgb(kGreen)) << "the first pixel of the top row";
    EXPECT_EQ(win32::screen_pixel(15, 10), rgb(kRed));
    EXPECT_EQ(WindowFromPoint(POINT{10, 10}), below);
    EXPECT_EQ(WindowFromPoint(POINT{16, 10}), balloon);
    clear_log();
    win32::post_mouse_button(win32::MouseButton::Left, true, 11, 11);
    win32::post_mouse_button(win32::MouseButton::Left, false, 11, 11);
    pump();
    EXPECT_EQ(messages(below, {WM_LBUTTONDOWN}).size(), 1u);
    EXPECT_TRUE(messages(balloon, {WM_LBUTTONDOWN}).empty());
    // Taking the shape away gives back the whole rectangle.
    SetWindowRgn(balloon, nullptr, TRUE);
    pump();
    EXPECT_EQ(win32::screen_pixel(10, 10), rgb(kGreen));
    EXPECT_EQ(SetWindowRgn(nullptr, nullptr, TRUE), 0);
}

TEST_F(UserTest, PatBltOperations) {
    HDC dc = GetDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
    HGDIOBJ old = SelectObject(dc, brush);
    ASSERT_TRUE(PatBlt(dc, 0, 0, 4, 4, PATCOPY));
    EXPECT_EQ(win32::screen_pixel(3, 3), 0x123456u);
    EXPECT_EQ(win32::screen_pixel(4, 3), 0u);
    // XOR twice gives the surface back.
    ASSERT_TRUE(PatBlt(dc, 2, 2, 4, 4, PATINVERT));
    EXPECT_EQ(win32::screen_pixel(3, 3), 0u);
    EXPECT_EQ(win32::screen_pixel(5, 5), 0x123456u);
    ASSERT_TRUE(PatBlt(dc, 2, 2, 4, 4, PATINVERT));
    EXPECT_EQ(win32::screen_pixel(3, 3), 0x123456u);
    EXPECT_EQ(win32::screen_pixel(5, 5), 0u);
    ASSERT_TRUE(PatBlt(dc, 5, 5, -2, -2, DSTINVERT)) << "negative sizes count back";
    EXPECT_EQ(win32::screen_pixel(3, 3), 0xEDCBA9u);
    EXPECT_EQ(win32::screen_pixel(4, 4), 0xFFFFFFu);
    EXPECT_FALSE(PatBlt(dc, 0, 0, 4, 4, SRCCOPY)) << "no source to copy";
    EXPECT_FALSE(PatBlt(nullptr, 0, 0, 4, 4, PATCOPY));
    SelectObject(dc, old);
    DeleteObject(brush);
    ReleaseDC(nullptr, dc);
}

TEST(UserSystem, Windows98StandardColours) {
    const std::pair<int, COLORREF> table[] = {
        {COLOR_BACKGROUND, RGB(0, 128, 128)},  {COLOR_ACTIVECAPTION, RGB(0, 0, 128)},
        {COLOR_WINDOW, RGB(255, 255, 255)},    {COLOR_BTNFACE, RGB(192, 192, 192)},
        {COLOR_BTNSHADOW, RGB(128, 128, 128)}, {COLOR_HIGHLIGHT, RGB(0, 0, 128)},
        {COLOR_INFOBK, RGB(255, 255, 225)},    {COLOR_WINDOWTEXT, RGB(0, 0, 0)},
    };
    for (auto [index, color] : table) EXPECT_EQ(GetSysColor(index), color) << index;
    EXPECT_EQ(GetSysColor(-1), 0u);
    EXPECT_EQ(GetSysColor(1000), 0u);
}

TEST(UserSystem, WallpaperIsRecordedInTheRegistry) {
    testing_support::ScratchDrive drive;
    char path[] = "C:\\WINDOWS\\990401.bmp";
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, path,
                                      SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char value[64] = {};
    DWORD size = sizeof value, type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Wallpaper", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_STREQ(value, path);
    char current[8];
    ASSERT_TRUE(SystemParametersInfoA(0x0073 /* SPI_GETDESKWALLPAPER */, sizeof current, current, 0));
    EXPECT_STREQ(current, "C:\\WIND") << "cut to the buffer";
    EXPECT_FALSE(SystemParametersInfoA(0x9999, 0, nullptr, 0));
}

}  // namespace
