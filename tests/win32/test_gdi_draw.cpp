// Pens, brushes and shapes: the pixels each one sets, XOR drawing undone by
// drawing again, clipping by window regions, focus rectangles, pattern
// brushes in BitBlt, StretchBlt and hostile arguments.
#include <array>
#include <climits>
#include <functional>
#include <string>

#include "test_user_support.h"

namespace {

using namespace user_test;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kPen = RGB(0, 0, 0);
constexpr COLORREF kBrush = RGB(0, 0, 255);

// The screen's top-left corner as rows: '#' pen, 'o' brush, '.' background
// (white), '?' anything else.
std::vector<std::string> screen_picture(int w, int h) {
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
        std::string row;
        for (int x = 0; x < w; ++x) {
            const uint32_t p = win32::screen_pixel(x, y);
            row += p == rgb(kPen) ? '#' : p == rgb(kBrush) ? 'o' : p == rgb(kWhite) ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<uint32_t> screen_block(int w, int h) {
    std::vector<uint32_t> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.push_back(win32::screen_pixel(x, y));
    return out;
}

class GdiDraw : public UserTest {
protected:
    void SetUp() override {
        UserTest::SetUp();
        dc = GetDC(nullptr);
        brush = CreateSolidBrush(kBrush);
        old_brush = SelectObject(dc, brush);
        PatBlt(dc, 0, 0, 320, 240, WHITENESS);
    }
    void TearDown() override {
        SelectObject(dc, old_brush);
        DeleteObject(brush);
        ReleaseDC(nullptr, dc);
        UserTest::TearDown();
    }
    HDC dc = nullptr;
    HBRUSH brush = nullptr;
    HGDIOBJ old_brush = nullptr;
};

struct ShapeCase {
    const char* name;
    std::function<void(HDC)> draw;
    std::vector<std::string> expected;
};

TEST_F(GdiDraw, EachShapeSetsItsPixels) {
    const std::string blank = "..........";
    const std::vector<ShapeCase> cases = {
        {"rectangle: pen on left..right-1, top..bottom-1, brush inside",
         [](HDC d) { Rectangle(d, 1, 1, 6, 5); },
         {blank, ".#####....", ".#ooo#....", ".#ooo#....", ".#####....", blank}},
        {"rectangle given right to left and bottom to top",
         [](HDC d) { Rectangle(d, 6, 5, 1, 1); },
         {blank, ".#####....", ".#ooo#....", ".#ooo#....", ".#####....", blank}},
        {"rectangle with a null pen is one pixel smaller",
         [](HDC d) {
             SelectObject(d, GetStockObject(NULL_PEN));
             Rectangle(d, 1, 1, 6, 5);
         },
         {blank, ".oooo.....", ".oooo.....", ".oooo.....", blank, blank}},
        {"rectangle with a clear brush keeps its inside",
         [](HDC d) {
             SelectObject(d, GetStockObject(NULL_BRUSH));
             Rectangle(d, 1, 1, 6, 5);
         },
         {blank, ".#####....", ".#...#....", ".#...#....", ".#####....", blank}},
        {"fill rect excludes right and bottom",
         [](HDC d) {
             const RECT r{1, 1, 6, 5};
             HBRUSH blue = CreateSolidBrush(kBrush);
             FillRect(d, &r, blue);
             DeleteObject(blue);
         },
         {blank, ".ooooo....", ".ooooo....", ".ooooo....", ".ooooo....", blank}},
        {"horizontal line without its last pixel",
         [](HDC d) {
             MoveToEx(d, 1, 1, nullptr);
             LineTo(d, 6, 1);
         },
         {blank, ".#####....", blank, blank, blank, blank}},
        {"vertical line upwards",
         [](HDC d) {
             MoveToEx(d, 2, 4, nullptr);
             LineTo(d, 2, 0);
         },
         {blank, "..#.......", "..#.......", "..#.......", "..#.......", blank}},
        {"diagonal",
         [](HDC d) {
             MoveToEx(d, 1, 1, nullptr);
             LineTo(d, 5, 5);
         },
         {blank, ".#........", "..#.......", "...#......", "....#.....", blank}},
        // y = 2x/7 rounded to the nearest row; no pixel is a tie.
        {"shallow line",
         [](HDC d) {
             MoveToEx(d, 0, 0, nullptr);
             LineTo(d, 7, 2);
         },
         {"##........", "..####....", "......#...", blank, blank, blank}},
        {"polyline leaves out only its last point",
         [](HDC d) {
             const POINT p[] = {{1, 1}, {5, 1}, {5, 4}};
             Polyline(d, p, 3);
         },
         {blank, ".#####....", ".....#....", ".....#....", blank, blank}},
        // Edge from (8,1) to (1,5): centres inside when 4x + 7y <= 33; the
        // outline rounds y = 1 + 4i/7 along it.
        {"triangle: outline and alternate fill",
         [](HDC d) {
             const POINT p[] = {{1, 1}, {8, 1}, {1, 5}};
             Polygon(d, p, 3);
         },
         {blank, ".########.", ".#ooo.##..", ".#oo##....", ".###......", ".#........"}},
        {"wide pen: a 3x3 square around every pixel of the line",
         [](HDC d) {
             HPEN pen = CreatePen(PS_SOLID, 3, kPen);
             HGDIOBJ old = SelectObject(d, pen);
             MoveToEx(d, 2, 2, nullptr);
             LineTo(d, 6, 2);
             SelectObject(d, old);
             DeleteObject(pen);
         },
         {blank, ".######...", ".######...", ".######...", blank, blank}},
    };
    for (const ShapeCase& c : cases) {
        PatBlt(dc, 0, 0, 20, 20, WHITENESS);
        SelectObject(dc, GetStockObject(BLACK_PEN));
        SelectObject(dc, brush);
        c.draw(dc);
        EXPECT_EQ(screen_picture(10, int(c.expected.size())), c.expected) << c.name;
    }
}

// The ellipse covers the same pixels as the elliptic region of its
// rectangle, its pen being the pixels with a neighbour outside it.
TEST_F(GdiDraw, EllipseMatchesTheEllipticRegion) {
    for (RECT r : {RECT{2, 3, 19, 12}, RECT{0, 0, 8, 8}, RECT{5, 1, 7, 14}}) {
        PatBlt(dc, 0, 0, 30, 30, WHITENESS);
        SelectObject(dc, GetStockObject(BLACK_PEN));
        ASSERT_TRUE(Ellipse(dc, r.left, r.top, r.right, r.bottom));
        HRGN shape = CreateRoundRectRgn(r.left, r.top, r.right, r.bottom, r.right - r.left,
                                        r.bottom - r.top);
        bool touches_left = false, touches_right = false;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x) {
                const bool in = PtInRegion(shape, x, y);
                const bool edge = in && (!PtInRegion(shape, x - 1, y) || !PtInRegion(shape, x + 1, y) ||
                                         !PtInRegion(shape, x, y - 1) || !PtInRegion(shape, x, y + 1));
                const uint32_t want = edge ? rgb(kPen) : in ? rgb(kBrush) : rgb(kWhite);
                ASSERT_EQ(win32::screen_pixel(x, y), want) << x << "," << y;
                touches_left |= in && x == r.left;
                touches_right |= in && x == r.right - 1;
            }
        EXPECT_TRUE(touches_left && touches_right) << "spans left .. right-1";
        DeleteObject(shape);
    }
}

// Every shape drawn twice with R2_XORPEN gives the surface back.
TEST_F(GdiDraw, XorDrawingTwiceRestores) {
    const std::vector<std::pair<const char*, std::function<void(HDC)>>> draws = {
        {"rectangle", [](HDC d) { Rectangle(d, 3, 4, 30, 25); }},
        {"ellipse", [](HDC d) { Ellipse(d, 2, 2, 37, 21); }},
        {"star", [](HDC d) {
             const POINT star[] = {{20, 0}, {32, 36}, {1, 14}, {39, 14}, {8, 36}};
             Polygon(d, star, 5);
         }},
        {"polyline", [](HDC d) {
             const POINT p[] = {{0, 0}, {39, 39}, {0, 39}, {39, 0}};
             Polyline(d, p, 4);
         }},
        {"line", [](HDC d) {
             MoveToEx(d, 38, 1, nullptr);
             LineTo(d, 2, 30);
         }},
        {"focus rectangle", [](HDC d) {
             const RECT r{4, 4, 33, 17};
             DrawFocusRect(d, &r);
         }},
    };
    // A surface of many colours, so that no pixel is special.
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) SetPixel(dc, x, y, RGB(x * 6, y * 6, (x * y) & 0xFF));
    const auto before = screen_block(40, 40);
    HPEN wide = CreatePen(PS_SOLID, 5, RGB(0x35, 0x99, 0xC3));
    HPEN dotted = CreatePen(PS_DOT, 1, RGB(0x81, 0x22, 0x10));
    HPEN thin = CreatePen(PS_SOLID, 1, RGB(0x44, 0x55, 0x66));
    HBRUSH hatch = CreateSolidBrush(RGB(0x0F, 0xF0, 0x5A));
    SelectObject(dc, hatch);
    ASSERT_EQ(SetROP2(dc, R2_XORPEN), R2_COPYPEN);
    for (HPEN pen : {thin, wide, dotted}) {
        SelectObject(dc, pen);
        for (const auto& [name, draw] : draws) {
            draw(dc);
            EXPECT_NE(screen_block(40, 40), before) << name << " changes something";
            draw(dc);
            EXPECT_EQ(screen_block(40, 40), before) << name << " undone";
        }
    }
    EXPECT_EQ(GetROP2(dc), R2_XORPEN);
    SetROP2(dc, R2_COPYPEN);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, brush);
    DeleteObject(wide);
    DeleteObject(dotted);
    DeleteObject(thin);
    DeleteObject(hatch);
}

TEST_F(GdiDraw, NotInvertsWhatThePenCovers) {
    PatBlt(dc, 0, 0, 10, 10, BLACKNESS);
    SetROP2(dc, R2_NOT);
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, 4, 0);
    SetROP2(dc, R2_COPYPEN);
    EXPECT_EQ(win32::screen_pixel(3, 0), 0xFFFFFFu);
    EXPECT_EQ(win32::screen_pixel(4, 0), 0u);
    EXPECT_EQ(SetROP2(dc, 0), 0) << "no such operation";
    EXPECT_EQ(SetROP2(dc, 17), 0);
}

TEST_F(GdiDraw, FocusRectangleIsDottedAndToggles) {
    PatBlt(dc, 0, 0, 20, 20, BLACKNESS);
    const RECT r{2, 3, 11, 9};
    ASSERT_TRUE(DrawFocusRect(dc, &r));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 14; ++x) {
            const bool frame = x >= 2 && x <= 10 && y >= 3 && y <= 8 &&
                               (x == 2 || x == 10 || y == 3 || y == 8);
            const bool dot = frame && (x + y) % 2 == 0;
            EXPECT_EQ(win32::screen_pixel(x, y), dot ? 0xFFFFFFu : 0u) << x << "," << y;
        }
    ASSERT_TRUE(DrawFocusRect(dc, &r));
    EXPECT_EQ(screen_block(14, 12), std::vector<uint32_t>(14 * 12, 0u));
    EXPECT_FALSE(DrawFocusRect(nullptr, &r));
    EXPECT_FALSE(DrawFocusRect(dc, nullptr));
}

TEST_F(GdiDraw, StyledPensLeaveGapsInTheBackgroundColour) {
    struct Case {
        int style;
        int mode;
        std::string expected;  // '#' pen, 'w' background colour, 'r' untouched
    };
    const std::vector<Case> cases = {
        {PS_DOT, OPAQUE, "###www###www"},
        {PS_DOT, TRANSPARENT, "###rrr###rrr"},
        {PS_ALTERNATE, OPAQUE, "#w#w#w#w#w#w"},
        {PS_SOLID, OPAQUE, "############"},
    };
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    SelectObject(dc, red);
    for (const Case& c : cases) {
        PatBlt(dc, 0, 0, 20, 2, PATCOPY);
        HPEN pen = CreatePen(c.style, 1, kPen);
        ASSERT_NE(pen, nullptr);
        SelectObject(dc, pen);
        SetBkMode(dc, c.mode);
        SetBkColor(dc, kWhite);
        MoveToEx(dc, 0, 0, nullptr);
        LineTo(dc, 12, 0);
        std::string got;
        for (int x = 0; x < 12; ++x) {
            const uint32_t p = win32::screen_pixel(x, 0);
            got += p == 0 ? '#' : p == 0xFFFFFF ? 'w' : p == 0xFF0000 ? 'r' : '?';
        }
        EXPECT_EQ(got, c.expected) << c.style << " " << c.mode;
        EXPECT_EQ(win32::screen_pixel(12, 0), 0xFF0000u);
        SelectObject(dc, GetStockObject(BLACK_PEN));
        DeleteObject(pen);
    }
    SetBkMode(dc, OPAQUE);
    SelectObject(dc, brush);
    DeleteObject(red);
}

// A window whose shape is a region: drawing through its DC lands only
// inside the region, and the mouse finds the window only there too.
TEST_F(GdiDraw, WindowRegionsClipDrawingAndHitTesting) {
    const POINT triangle[] = {{0, 0}, {40, 10}, {5, 40}};
    const std::vector<std::pair<const char*, std::function<HRGN()>>> shapes = {
        {"round rectangle, 18x18 corners", [] { return CreateRoundRectRgn(0, 0, 40, 40, 18, 18); }},
        {"polygon", [&] { return CreatePolygonRgn(triangle, 3, ALTERNATE); }},
    };
    const COLORREF below_color = RGB(0, 128, 0);
    HWND below = make_window({0, 0, 120, 120}, below_color, WS_POPUP | WS_VISIBLE, WS_EX_NOACTIVATE);
    for (const auto& [name, make] : shapes) {
        HWND shaped = make_window({30, 20, 70, 60}, RGB(255, 255, 0));
        ASSERT_TRUE(SetWindowRgn(shaped, make(), TRUE));
        pump();
        HDC wdc = GetDC(shaped);
        HBRUSH blue = CreateSolidBrush(kBrush);
        const RECT all{-10, -10, 60, 60};
        FillRect(wdc, &all, blue);
        SelectObject(wdc, GetStockObject(BLACK_PEN));
        MoveToEx(wdc, 0, 20, nullptr);
        LineTo(wdc, 40, 20);
        ReleaseDC(shaped, wdc);
        HRGN check = make();
        for (int y = -5; y < 45; ++y)
            for (int x = -5; x < 45; ++x) {
                const bool inside = PtInRegion(check, x, y);
                const uint32_t want = !inside ? rgb(below_color) : y == 20 ? rgb(kPen) : rgb(kBrush);
                ASSERT_EQ(win32::screen_pixel(30 + x, 20 + y), want) << name << " " << x << "," << y;
                ASSERT_EQ(WindowFromPoint(POINT{30 + x, 20 + y}), inside ? shaped : below)
                    << name << " " << x << "," << y;
            }
        DeleteObject(check);
        DeleteObject(blue);
        DestroyWindow(shaped);
        pump();
    }
    DestroyWindow(below);
}

// A 32-bit DIB section in a memory DC, for reading raw values.
struct DibDc {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
    int width;
    DibDc(int w, int h) : width(w) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* p = nullptr;
        bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<uint32_t*>(p);
        old = SelectObject(dc, bitmap);
    }
    ~DibDc() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    uint32_t& at(int x, int y) { return bits[y * width + x]; }
};

// An 8x8 pattern: pixel (x, y) is x * 16 + y in blue, y * 16 in green.
HBRUSH make_pattern() {
    DibDc p(8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) p.at(x, y) = uint32_t(y * 16) << 8 | uint32_t(x * 16 + y);
    return CreatePatternBrush(p.bitmap);  // a copy: the bitmap goes away
}

TEST_F(GdiDraw, PatternBrushesInBlitsAndShapes) {
    HBRUSH pattern = make_pattern();
    ASSERT_NE(pattern, nullptr);
    auto pat = [](int x, int y) {
        x &= 7;
        y &= 7;
        return uint32_t(y * 16) << 8 | uint32_t(x * 16 + y);
    };
    struct Case {
        const char* name;
        DWORD rop;
        std::function<uint32_t(uint32_t p, uint32_t s, uint32_t d)> result;
    };
    const std::vector<Case> cases = {
        {"SRCCOPY", SRCCOPY, [](uint32_t, uint32_t s, uint32_t) { return s; }},
        {"SRCAND", SRCAND, [](uint32_t, uint32_t s, uint32_t d) { return s & d; }},
        {"SRCPAINT", SRCPAINT, [](uint32_t, uint32_t s, uint32_t d) { return s | d; }},
        {"PATCOPY", PATCOPY, [](uint32_t p, uint32_t, uint32_t) { return p; }},
        {"MERGECOPY", MERGECOPY, [](uint32_t p, uint32_t s, uint32_t) { return p & s; }},
        {"pattern AND destination", 0x00A000C9u, [](uint32_t p, uint32_t, uint32_t d) { return p & d; }},
        {"PATINVERT", PATINVERT, [](uint32_t p, uint32_t, uint32_t d) { return p ^ d; }},
    };
    DibDc src(20, 12), dst(20, 12);
    SelectObject(dst.dc, pattern);
    for (const Case& c : cases) {
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) {
                src.at(x, y) = uint32_t(x * 0x0B0301 + y * 0x010A05) & 0xFFFFFF;
                dst.at(x, y) = uint32_t(0xF0F0F0 ^ (x * 0x110000 + y * 0x1111)) & 0xFFFFFF;
            }
        const auto original = std::vector<uint32_t>(dst.bits, dst.bits + 20 * 12);
        ASSERT_TRUE(BitBlt(dst.dc, 3, 2, 10, 7, src.dc, 1, 4, c.rop)) << c.name;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) {
                const uint32_t d = original[size_t(y * 20 + x)];
                const bool in = x >= 3 && x < 13 && y >= 2 && y < 9;
                const uint32_t want =
                    in ? c.result(pat(x, y), src.at(x - 2, y + 2), d) & 0xFFFFFF : d;
                ASSERT_EQ(dst.at(x, y) & 0xFFFFFF, want) << c.name << " " << x << "," << y;
            }
    }
    // Shapes fill with the pattern from the DC's origin too.
    FillRect(dst.dc, std::array<RECT, 1>{RECT{0, 0, 20, 12}}.data(), pattern);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(dst.at(x, y) & 0xFFFFFF, pat(x, y));
    SelectObject(dst.dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(pattern);
    EXPECT_EQ(CreatePatternBrush(nullptr), nullptr);
}

TEST_F(GdiDraw, StretchBltTakesTheNearestPixel) {
    DibDc src(4, 2), dst(8, 4);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) src.at(x, y) = uint32_t(0x10 * (y * 4 + x + 1));
    struct Case {
        const char* name;
        int dx, dy, dw, dh, sx, sy, sw, sh;
        std::vector<std::string> expected;  // source pixel index + 1 per target pixel, '.' untouched
    };
    const std::vector<Case> cases = {
        {"double", 0, 0, 8, 4, 0, 0, 4, 2, {"11223344", "11223344", "55667788", "55667788"}},
        {"halve", 0, 0, 2, 1, 0, 0, 4, 2, {"68......", "........", "........", "........"}},
        {"mirrored", 0, 0, 4, 2, 4, 0, -4, 2, {"4321....", "8765....", "........", "........"}},
        {"upside down", 0, 0, 4, 2, 0, 2, 4, -2, {"5678....", "1234....", "........", "........"}},
        {"clipped", 6, 2, 4, 4, 0, 0, 2, 2, {"........", "........", "......11", "......11"}},
    };
    for (const Case& c : cases) {
        std::fill(dst.bits, dst.bits + 32, 0u);
        ASSERT_TRUE(StretchBlt(dst.dc, c.dx, c.dy, c.dw, c.dh, src.dc, c.sx, c.sy, c.sw, c.sh, SRCCOPY))
            << c.name;
        std::vector<std::string> got;
        for (int y = 0; y < 4; ++y) {
            std::string row;
            for (int x = 0; x < 8; ++x)
                row += dst.at(x, y) == 0 ? '.' : char('0' + dst.at(x, y) / 0x10);
            got.push_back(row);
        }
        EXPECT_EQ(got, c.expected) << c.name;
    }
    EXPECT_EQ(SetStretchBltMode(dst.dc, COLORONCOLOR), BLACKONWHITE);
    EXPECT_FALSE(StretchBlt(nullptr, 0, 0, 4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
}

// Hostile arguments fail or are clipped; nothing is written outside the
// surface (the sanitizer build watches the small DIB).
TEST_F(GdiDraw, HostileArgumentsAreRefusedOrClipped) {
    EXPECT_EQ(CreatePen(PS_SOLID, INT_MAX, kPen), nullptr);
    EXPECT_EQ(CreatePen(77, 1, kPen), nullptr);
    EXPECT_FALSE(Rectangle(nullptr, 0, 0, 5, 5));
    EXPECT_FALSE(Ellipse(reinterpret_cast<HDC>(brush), 0, 0, 5, 5));
    EXPECT_FALSE(LineTo(nullptr, 1, 1));
    EXPECT_FALSE(Polygon(dc, nullptr, 3));
    EXPECT_FALSE(Polyline(dc, std::array<POINT, 1>{}.data(), 1));
    EXPECT_EQ(FillRect(dc, nullptr, brush), 0);
    EXPECT_EQ(FillRect(dc, std::array<RECT, 1>{RECT{0, 0, 2, 2}}.data(), reinterpret_cast<HBRUSH>(dc)), 0);

    DibDc small(5, 3);
    std::fill(small.bits, small.bits + 15, 0x123456u);
    HPEN wide = CreatePen(PS_SOLID, 30000, kPen);
    ASSERT_NE(wide, nullptr);
    for (HGDIOBJ pen : {GetStockObject(BLACK_PEN), HGDIOBJ(wide)}) {
        SelectObject(small.dc, pen);
        SelectObject(small.dc, brush);
        EXPECT_TRUE(Rectangle(small.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX));
        EXPECT_TRUE(Ellipse(small.dc, INT_MAX, INT_MAX, INT_MIN, INT_MIN));
        EXPECT_TRUE(Ellipse(small.dc, -500000, -400000, 500000, 400000));
        MoveToEx(small.dc, INT_MIN, INT_MAX, nullptr);
        EXPECT_TRUE(LineTo(small.dc, INT_MAX, INT_MIN));
        const POINT far[] = {{INT_MIN, 0}, {INT_MAX, 1}, {2, INT_MAX}, {-3, INT_MIN}};
        EXPECT_TRUE(Polygon(small.dc, far, 4));
        EXPECT_TRUE(Polyline(small.dc, far, 4));
        const RECT huge{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
        EXPECT_TRUE(DrawFocusRect(small.dc, &huge));
        EXPECT_TRUE(StretchBlt(small.dc, -1000000, -5, 1 << 28, 7, dc, 0, 0, 3, 3, SRCCOPY));
        EXPECT_FALSE(StretchBlt(small.dc, 0, 0, INT_MAX, 7, dc, 0, 0, INT_MIN, 3, SRCCOPY));
    }
    SelectObject(small.dc, GetStockObject(BLACK_PEN));
    SelectObject(small.dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(wide);
    // The whole small surface was inside the huge rectangle.
    EXPECT_NE(small.at(2, 1), 0x123456u);
}

}  // namespace

namespace {

using namespace user_test;

// On a palette screen the pen takes the nearest static colour and XOR works
// on the palette indices, so drawing twice still restores.
TEST_F(UserTest, GdiDrawOnAPaletteScreen) {
    ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 8}));
    HDC dc = GetDC(nullptr);
    PatBlt(dc, 0, 0, 40, 40, WHITENESS);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(250, 10, 10));
    HGDIOBJ old_pen = SelectObject(dc, red);
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(GRAY_BRUSH));
    Rectangle(dc, 2, 2, 12, 9);
    EXPECT_EQ(win32::screen_pixel(2, 2), 0xFF0000u);
    EXPECT_EQ(win32::screen_pixel(11, 8), 0xFF0000u);
    EXPECT_EQ(win32::screen_pixel(5, 5), 0x808080u);
    EXPECT_EQ(win32::screen_pixel(12, 9), 0xFFFFFFu);
    std::vector<uint32_t> before;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) before.push_back(win32::screen_pixel(x, y));
    SetROP2(dc, R2_XORPEN);
    for (int round = 0; round < 2; ++round) {
        Ellipse(dc, 0, 0, 30, 20);
        MoveToEx(dc, 39, 0, nullptr);
        LineTo(dc, 0, 39);
    }
    SetROP2(dc, R2_COPYPEN);
    std::vector<uint32_t> after;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) after.push_back(win32::screen_pixel(x, y));
    EXPECT_EQ(after, before);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    DeleteObject(red);
    ReleaseDC(nullptr, dc);
}

}  // namespace
