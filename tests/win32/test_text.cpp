// Text: fonts from the bitmap faces, GBK strings, extents, TextOutA and
// DrawTextA with its layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "win32/gui_ext.h"
#include "win32/user.h"

namespace {

// "中文提示" and friends, in code page 936.
const char* const kZhong = "\xd6\xd0";
const char* const kZhongWen = "\xd6\xd0\xce\xc4";
// "请将光盘放入光驱中再运行本程序" (15 characters).
const char* const kHint =
    "\xc7\xeb\xbd\xab\xb9\xe2\xc5\xcc\xb7\xc5\xc8\xeb\xb9\xe2\xc7\xfd\xd6\xd0\xd4\xd9\xd4\xcb\xd0\xd0"
    "\xb1\xbe\xb3\xcc\xd0\xf2";

HFONT font(LONG height, LONG weight = FW_NORMAL, BYTE charset = DEFAULT_CHARSET,
           const char* face = "MS Sans Serif") {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = charset;
    std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    return CreateFontIndirectA(&lf);
}

// The screen as '#' (lit) and '.' rows over a box from the origin.
std::vector<std::string> screen_rows(int w, int h) {
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
        std::string row;
        for (int x = 0; x < w; ++x) row += win32::screen_pixel(x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        dc_ = GetDC(nullptr);
    }
    void TearDown() override {
        SelectObject(dc_, GetStockObject(SYSTEM_FONT));
        for (HFONT f : fonts_) DeleteObject(f);
        ReleaseDC(nullptr, dc_);
    }
    void use(HFONT f) {
        fonts_.push_back(f);
        SelectObject(dc_, f);
    }
    SIZE extent(const char* s) {
        SIZE size{-1, -1};
        EXPECT_TRUE(GetTextExtentPoint32A(dc_, s, int(std::strlen(s)), &size));
        return size;
    }
    HDC dc_ = nullptr;
    std::vector<HFONT> fonts_;
};

TEST_F(TextTest, ExtentsOfAsciiAndGbk) {
    struct Case {
        LONG height;
        LONG weight;
        BYTE charset;
        const char* text;
        SIZE want;
    };
    const Case cases[] = {
        {-12, FW_NORMAL, DEFAULT_CHARSET, "Hello", {23, 12}},
        {-12, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {24, 12}},
        {12, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {24, 12}},  // cell height, same strike
        {-12, FW_BOLD, DEFAULT_CHARSET, kZhongWen, {26, 12}},   // one more pixel a character
        {-16, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {32, 16}},
        {-16, FW_NORMAL, DEFAULT_CHARSET, "Hello", {33, 16}},
        // Above the strikes: twice the 12- and 16-pixel strikes...
        {-24, FW_NORMAL, DEFAULT_CHARSET, "Hello", {46, 24}},
        {-24, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {48, 24}},
        {-24, FW_BOLD, DEFAULT_CHARSET, kZhongWen, {50, 24}},
        {-32, FW_NORMAL, DEFAULT_CHARSET, "Hello", {66, 32}},
        {-32, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {64, 32}},
        // ...and 16 taken to 20 pixels, advances 9, 8, 4, 8 becoming 11, 10, 5, 10.
        {-20, FW_NORMAL, DEFAULT_CHARSET, "Hello", {41, 20}},
        {-20, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {40, 20}},
        // OEM: 8x16 cells, two for a double-byte character, whatever the height.
        {-12, FW_NORMAL, OEM_CHARSET, "Hello", {40, 16}},
        {-12, FW_NORMAL, OEM_CHARSET, kZhong, {16, 16}},
        {-30, FW_NORMAL, OEM_CHARSET, "A\xd6\xd0", {24, 16}},
        {-12, FW_NORMAL, DEFAULT_CHARSET, "", {0, 12}},
    };
    for (const Case& c : cases) {
        use(font(c.height, c.weight, c.charset));
        const SIZE got = extent(c.text);
        EXPECT_EQ(got.cx, c.want.cx) << c.height << " " << c.weight << " " << c.text;
        EXPECT_EQ(got.cy, c.want.cy) << c.height << " " << c.weight << " " << c.text;
    }
    SelectObject(dc_, GetStockObject(OEM_FIXED_FONT));
    EXPECT_EQ(extent("Hello").cx, 40);
    EXPECT_EQ(extent("Hello").cy, 16);
}

// A font asked for with -N pixels has an N-pixel character height and no
// internal leading, so its cell is N high; the ideographs fill it from the
// top and the baseline sits under them.
TEST_F(TextTest, MetricsOfEachHeight) {
    struct Case {
        LONG height;
        BYTE charset;
        LONG cell, ascent, ave, max;
    };
    const Case cases[] = {
        {-12, DEFAULT_CHARSET, 12, 10, 6, 12},
        {12, DEFAULT_CHARSET, 12, 10, 6, 12},
        {-16, DEFAULT_CHARSET, 16, 14, 8, 16},
        {-20, DEFAULT_CHARSET, 20, 17, 10, 20},
        {-24, DEFAULT_CHARSET, 24, 20, 12, 24},
        {-32, DEFAULT_CHARSET, 32, 28, 16, 32},
        {-12, OEM_CHARSET, 16, 14, 8, 16},
    };
    for (const Case& c : cases) {
        use(font(c.height, FW_NORMAL, c.charset));
        TEXTMETRICA tm{};
        ASSERT_TRUE(GetTextMetricsA(dc_, &tm));
        EXPECT_EQ(tm.tmHeight, c.cell) << c.height;
        EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, c.cell) << c.height;
        EXPECT_EQ(tm.tmAscent, c.ascent) << c.height;
        EXPECT_EQ(tm.tmDescent, c.cell - c.ascent) << c.height;
        EXPECT_EQ(tm.tmAveCharWidth, c.ave) << c.height;
        EXPECT_EQ(tm.tmMaxCharWidth, c.max) << c.height;
        EXPECT_EQ(extent("x").cy, c.cell) << c.height;
    }
    // The stock OEM font is the same 8x16 cell.
    SelectObject(dc_, GetStockObject(OEM_FIXED_FONT));
    TEXTMETRICA tm{};
    ASSERT_TRUE(GetTextMetricsA(dc_, &tm));
    EXPECT_EQ(tm.tmHeight, 16);
    EXPECT_EQ(tm.tmAscent, 14);
    EXPECT_EQ(tm.tmAveCharWidth, 8);
}

// Every glyph stays inside its cell, even those the strike draws taller
// than it: brackets, quotes, box drawing, the slash, descenders.
TEST_F(TextTest, InkStaysInsideTheCell) {
    // "/(gy|" and "（“─〈" in code page 936.
    const std::string text = std::string("/(gy|") + "\xa3\xa8\xa1\xb0\xa9\xa4\xa1\xb4";
    const std::pair<LONG, BYTE> fonts[] = {{-12, DEFAULT_CHARSET}, {-13, DEFAULT_CHARSET},
                                           {-14, DEFAULT_CHARSET}, {-16, DEFAULT_CHARSET},
                                           {-20, DEFAULT_CHARSET}, {-24, DEFAULT_CHARSET},
                                           {-12, OEM_CHARSET}};
    for (auto [height, charset] : fonts) {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        HDC dc = GetDC(nullptr);
        HFONT f = font(height, FW_NORMAL, charset);
        SelectObject(dc, f);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        SIZE size{};
        ASSERT_TRUE(GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &size));
        ASSERT_TRUE(TextOutA(dc, 10, 50, text.c_str(), int(text.size())));
        int inside = 0, outside = 0;
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                if (!win32::screen_pixel(x, y)) continue;
                const bool in = x >= 10 && x < 10 + size.cx && y >= 50 && y < 50 + size.cy;
                (in ? inside : outside) += 1;
            }
        EXPECT_GT(inside, 0) << height;
        EXPECT_EQ(outside, 0) << height;
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(f);
        ReleaseDC(nullptr, dc);
    }
}

// Whole factors replicate the strike: each pixel of the 12-pixel drawing
// becomes a 2x2 block at 24 pixels.
TEST_F(TextTest, TwiceTheHeightIsTheStrikeReplicated) {
    const std::string text = std::string("Ag") + kZhongWen;
    auto draw = [&](LONG height, int w, int h) {
        EXPECT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        HDC dc = GetDC(nullptr);
        HFONT f = font(height);
        SelectObject(dc, f);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        TextOutA(dc, 0, 0, text.c_str(), int(text.size()));
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(f);
        ReleaseDC(nullptr, dc);
        return screen_rows(w, h);
    };
    const std::vector<std::string> small = draw(-12, 60, 12);
    const std::vector<std::string> large = draw(-24, 120, 24);
    int lit = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 120; ++x) {
            ASSERT_EQ(large[size_t(y)][size_t(x)], small[size_t(y / 2)][size_t(x / 2)]) << x << "," << y;
            lit += large[size_t(y)][size_t(x)] == '#';
        }
    EXPECT_GT(lit, 100);
}

TEST_F(TextTest, BadArgumentsFail) {
    SIZE size;
    EXPECT_FALSE(GetTextExtentPoint32A(nullptr, "a", 1, &size));
    EXPECT_FALSE(GetTextExtentPoint32A(dc_, "a", 1, nullptr));
    EXPECT_FALSE(GetTextExtentPoint32A(dc_, nullptr, 3, &size));
    EXPECT_FALSE(GetTextExtentPoint32A(dc_, "a", -1, &size));
    EXPECT_FALSE(TextOutA(dc_, 0, 0, nullptr, 4));
    EXPECT_FALSE(TextOutA(reinterpret_cast<HDC>(uintptr_t(0x99)), 0, 0, "a", 1));
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(DrawTextA(dc_, "a", 1, nullptr, 0), 0);
    EXPECT_EQ(DrawTextA(dc_, nullptr, 5, &r, 0), 0);
    EXPECT_EQ(CreateFontIndirectA(nullptr), nullptr);
    EXPECT_EQ(SetBkMode(dc_, 7), 0);
    // A lead byte at the very end is a character of its own, not a read
    // past the string.
    use(font(-12));
    EXPECT_TRUE(GetTextExtentPoint32A(dc_, "\xd6", 1, &size));
    EXPECT_GT(size.cx, 0);
}

TEST_F(TextTest, LineOfTextMatchesTheReference) {
    use(font(-12));
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    const std::string text = std::string("Win98 ") + kZhongWen;
    ASSERT_TRUE(TextOutA(dc_, 0, 0, text.c_str(), int(text.size())));
    const std::vector<std::string> reference = {
        ".........................................#..........#.......",
        ".........................................#...........#......",
        "#...#...#.#........###...###.........#########..###########.",
        "#...#...#.........#...#.#...#........#...#...#.....#...#....",
        "#...#...#.#.####..#...#.#...#........#...#...#.....#...#....",
        ".#.#.#.#..#.#...#.#...#..###.........#...#...#.....#...#....",
        ".#.#.#.#..#.#...#..####.#...#........#########......#.#.....",
        ".#.#.#.#..#.#...#.....#.#...#........#...#...#......#.#.....",
        "..#...#...#.#...#.#...#.#...#............#...........#......",
        "..#...#...#.#...#..###...###.............#.........##.##....",
        ".........................................#......###.....###.",
        "............................................................",
    };
    EXPECT_EQ(screen_rows(60, 12), reference);
}

TEST_F(TextTest, OemCellsComeFromUnifontAscii) {
    SelectObject(dc_, GetStockObject(OEM_FIXED_FONT));
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    ASSERT_TRUE(TextOutA(dc_, 0, 0, "Ag|", 3));
    // Whole 8x16 cells, baseline under row 13: nothing cut off.
    const std::vector<std::string> reference = {
        "........................",
        "........................",
        "....................#...",
        "....................#...",
        "...##...............#...",
        "..#..#........#.....#...",
        "..#..#....###.#.....#...",
        ".#....#..#...#......#...",
        ".#....#..#...#......#...",
        ".######..#...#......#...",
        ".#....#...###.......#...",
        ".#....#...#.........#...",
        ".#....#...####......#...",
        ".#....#..#....#.....#...",
        ".........#....#.....#...",
        "..........####......#...",
    };
    EXPECT_EQ(screen_rows(24, 16), reference);
    // A wide glyph fills two cells: unifont's 16x16 U+4E2D.
    ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
    HDC dc = GetDC(nullptr);
    SelectObject(dc, GetStockObject(OEM_FIXED_FONT));
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    ASSERT_TRUE(TextOutA(dc, 0, 0, kZhong, 2));
    const uint16_t zhong[16] = {0x0100, 0x0100, 0x0100, 0x0100, 0x3FF8, 0x2108, 0x2108, 0x2108,
                                0x2108, 0x2108, 0x3FF8, 0x2108, 0x0100, 0x0100, 0x0100, 0x0100};
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 17; ++x) {
            const bool want = y < 16 && x < 16 && (zhong[y] >> (15 - x)) & 1;
            EXPECT_EQ(win32::screen_pixel(x, y) != 0, want) << x << "," << y;
        }
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    ReleaseDC(nullptr, dc);
}

TEST_F(TextTest, OpaqueBackgroundFillsTheCellTransparentDoesNot) {
    use(font(-12));
    SetTextColor(dc_, RGB(255, 0, 0));
    SetBkColor(dc_, RGB(0, 0, 255));
    EXPECT_EQ(GetBkMode(dc_), OPAQUE);
    TextOutA(dc_, 10, 10, "i", 1);
    const SIZE one = extent("i");
    int ink = 0, paper = 0;
    for (int y = 10; y < 10 + one.cy; ++y)
        for (int x = 10; x < 10 + one.cx; ++x) {
            const uint32_t p = win32::screen_pixel(x, y);
            ink += p == 0xFF0000;
            paper += p == 0x0000FF;
        }
    EXPECT_GT(ink, 0);
    EXPECT_EQ(ink + paper, one.cx * one.cy) << "the whole cell is painted";
    EXPECT_EQ(win32::screen_pixel(10 + one.cx, 10), 0u);
    EXPECT_EQ(SetBkMode(dc_, TRANSPARENT), OPAQUE);
    TextOutA(dc_, 100, 10, "i", 1);
    for (int y = 10; y < 10 + one.cy; ++y)
        for (int x = 100; x < 100 + one.cx; ++x) EXPECT_NE(win32::screen_pixel(x, y), 0x0000FFu);
}

TEST_F(TextTest, MissingGlyphDrawsABox) {
    use(font(-12));
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    // 0x80 alone and an undefined GBK pair have no character.
    for (const char* s : {"\x80", "\xa2\xa0"}) {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        HDC dc = GetDC(nullptr);
        SelectObject(dc, fonts_.back());
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        TextOutA(dc, 0, 0, s, int(std::strlen(s)));
        int lit = 0;
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 12; ++x) lit += win32::screen_pixel(x, y) != 0;
        EXPECT_GT(lit, 20) << "an outline, never nothing";
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        ReleaseDC(nullptr, dc);
    }
}

// The default box of a character without a glyph, at every kind of size:
// a strike as it is, replicated, nearest-neighbour scaled, and the OEM cells.
// Its outline is the given rectangle (cell coordinates), its inside empty.
TEST_F(TextTest, MissingGlyphDrawsTheDefaultBoxAtEverySize) {
    struct Case {
        LONG height;
        BYTE charset;
        RECT outline;  // inclusive
        int line;      // thickness
    };
    const Case cases[] = {
        {-12, DEFAULT_CHARSET, {1, 1, 10, 9}, 1},
        {-16, DEFAULT_CHARSET, {1, 1, 14, 13}, 1},
        {-24, DEFAULT_CHARSET, {2, 2, 21, 19}, 2},   // the 12-pixel box twice
        {-32, DEFAULT_CHARSET, {2, 2, 29, 27}, 2},   // the 16-pixel box twice
        {-20, DEFAULT_CHARSET, {1, 1, 18, 16}, 1},   // 16 to 20: some lines one, some two
        {-12, OEM_CHARSET, {1, 1, 14, 13}, 1},       // two cells for a two-byte code
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        HDC dc = GetDC(nullptr);
        HFONT f = font(c.height, FW_NORMAL, c.charset);
        SelectObject(dc, f);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        // An undefined code page 936 pair.
        ASSERT_TRUE(TextOutA(dc, 0, 0, "\xa2\xa0", 2));
        const RECT& o = c.outline;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool lit = win32::screen_pixel(x, y) != 0;
                const bool in_box = x >= o.left && x <= o.right && y >= o.top && y <= o.bottom;
                const bool inside = x >= o.left + 2 && x <= o.right - 2 && y >= o.top + 2 &&
                                    y <= o.bottom - 2;
                const bool edge = in_box && (x < o.left + c.line || x > o.right - c.line ||
                                             y < o.top + c.line || y > o.bottom - c.line);
                if (!in_box || inside) {
                    EXPECT_FALSE(lit) << c.height << ": " << x << "," << y;
                }
                if (edge) {
                    EXPECT_TRUE(lit) << c.height << ": " << x << "," << y;
                }
            }
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(f);
        ReleaseDC(nullptr, dc);
    }
}

TEST_F(TextTest, DrawTextWordBreaksChineseIntoTheWidth) {
    use(font(-12));
    // Fifteen characters of 12 pixels in 50 pixels: four to a line.
    RECT r{0, 0, 50, 0};
    const int h = DrawTextA(dc_, kHint, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    EXPECT_EQ(h, 4 * 12);
    EXPECT_EQ(r.bottom, 48);
    EXPECT_EQ(r.right, 48);
    // Latin words stay whole; spaces at a break vanish.
    RECT w{0, 0, 40, 0};
    DrawTextA(dc_, "aaa bbb aaa", -1, &w, DT_CALCRECT | DT_WORDBREAK);
    SIZE word = extent("aaa bbb");
    EXPECT_GT(word.cx, 40);
    EXPECT_EQ(w.bottom, 3 * 12);
    EXPECT_EQ(w.right, extent("aaa").cx);
    // Hard line breaks, and none at all on a single line.
    RECT lines{0, 0, 200, 0};
    EXPECT_EQ(DrawTextA(dc_, "a\r\nb\nc", -1, &lines, DT_CALCRECT), 36);
    RECT single{0, 0, 200, 0};
    EXPECT_EQ(DrawTextA(dc_, "a\r\nb\nc", -1, &single, DT_CALCRECT | DT_SINGLELINE), 12);
}

TEST_F(TextTest, DrawTextDrawsWhereCalculatedAndClips) {
    use(font(-12));
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    RECT r{20, 20, 70, 200};
    DrawTextA(dc_, kHint, -1, &r, DT_WORDBREAK | DT_NOPREFIX);
    // Four lines of ink inside the box, none to its right or below.
    int rows_with_ink = 0;
    for (int y = 0; y < 240; ++y) {
        bool any = false;
        for (int x = 0; x < 320; ++x) {
            if (!win32::screen_pixel(x, y)) continue;
            any = true;
            EXPECT_TRUE(x >= 20 && x < 68 && y >= 20 && y < 80) << x << "," << y;
        }
        rows_with_ink += any;
    }
    EXPECT_GT(rows_with_ink, 30);

    // Clipped to the rectangle unless asked not to.
    ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
    HDC dc = GetDC(nullptr);
    SelectObject(dc, fonts_.back());
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    RECT small{0, 0, 10, 8};
    DrawTextA(dc, kZhongWen, -1, &small, DT_SINGLELINE);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            if (x >= 10 || y >= 8) {
                EXPECT_EQ(win32::screen_pixel(x, y), 0u) << x << "," << y;
            }
        }
    DrawTextA(dc, kZhongWen, -1, &small, DT_SINGLELINE | DT_NOCLIP);
    int outside = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 10; x < 30; ++x) outside += win32::screen_pixel(x, y) != 0;
    EXPECT_GT(outside, 0);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    ReleaseDC(nullptr, dc);
}

TEST_F(TextTest, PrefixAndAlignment) {
    use(font(-12));
    // "&&" is one ampersand, "&x" underlines x; with DT_NOPREFIX both stay.
    RECT a{0, 0, 300, 0}, b{0, 0, 300, 0}, c{0, 0, 300, 0};
    DrawTextA(dc_, "A&&B&C", -1, &a, DT_CALCRECT | DT_SINGLELINE);
    DrawTextA(dc_, "A&BC", -1, &b, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextA(dc_, "A&&B&C", -1, &c, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    EXPECT_EQ(a.right, b.right);
    EXPECT_EQ(c.right, extent("A&&B&C").cx);
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    RECT line{0, 0, 100, 12};
    DrawTextA(dc_, "&x", -1, &line, DT_SINGLELINE);
    EXPECT_NE(win32::screen_pixel(1, 11), 0u) << "the underline under x, in the cell";
    // Centred and right-aligned text sits where its width says.
    const int w = extent(kZhongWen).cx;
    const std::pair<UINT, int> alignments[] = {{DT_CENTER, (200 - w) / 2}, {DT_RIGHT, 200 - w}};
    for (auto [format, left] : alignments) {
        ASSERT_TRUE(win32::reset_screen(win32::ScreenMode{320, 240, 32}));
        HDC dc = GetDC(nullptr);
        SelectObject(dc, fonts_.back());
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        RECT box{0, 0, 200, 30};
        DrawTextA(dc, kZhongWen, -1, &box, format | DT_SINGLELINE | DT_VCENTER);
        int first = -1, top = -1;
        for (int x = 0; x < 200 && first < 0; ++x) {
            for (int y = 0; y < 30 && first < 0; ++y)
                if (win32::screen_pixel(x, y)) first = x;
        }
        for (int y = 0; y < 30 && top < 0; ++y) {
            for (int x = 0; x < 200 && top < 0; ++x)
                if (win32::screen_pixel(x, y)) top = y;
        }
        EXPECT_GE(first, left);
        EXPECT_LE(first, left + 2);
        EXPECT_GE(top, (30 - 12) / 2) << "vertically centred";
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        ReleaseDC(nullptr, dc);
    }
}

}  // namespace
