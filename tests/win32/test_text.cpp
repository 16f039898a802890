// Text: fonts from the bitmap faces, GBK strings, extents, TextOutA and
// DrawTextA with its layouts.
#include <gtest/gtest.h>

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
        {-12, FW_NORMAL, DEFAULT_CHARSET, "Hello", {23, 15}},
        {-12, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {24, 15}},
        {12, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {24, 15}},  // cell height, same strike
        {-12, FW_BOLD, DEFAULT_CHARSET, kZhongWen, {26, 15}},   // one more pixel a character
        {-16, FW_NORMAL, DEFAULT_CHARSET, kZhongWen, {32, 18}},
        {-12, FW_NORMAL, OEM_CHARSET, "Hello", {40, 12}},       // 8x12 cells
        {-12, FW_NORMAL, OEM_CHARSET, kZhong, {16, 12}},        // two cells
        {-12, FW_NORMAL, DEFAULT_CHARSET, "", {0, 15}},
    };
    for (const Case& c : cases) {
        use(font(c.height, c.weight, c.charset));
        const SIZE got = extent(c.text);
        EXPECT_EQ(got.cx, c.want.cx) << c.height << " " << c.weight << " " << c.text;
        EXPECT_EQ(got.cy, c.want.cy) << c.height << " " << c.weight << " " << c.text;
    }
    SelectObject(dc_, GetStockObject(OEM_FIXED_FONT));
    EXPECT_EQ(extent("Hello").cx, 40);
    TEXTMETRICA tm;
    use(font(-12));
    ASSERT_TRUE(GetTextMetricsA(dc_, &tm));
    EXPECT_EQ(tm.tmHeight, 15);
    EXPECT_EQ(tm.tmAscent, 12);
    EXPECT_EQ(tm.tmMaxCharWidth, 12);
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
        "............................................................",
        "............................................................",
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
        "............................................................",
    };
    EXPECT_EQ(screen_rows(60, 15), reference);
}

TEST_F(TextTest, OemCellsComeFromUnifontAscii) {
    SelectObject(dc_, GetStockObject(OEM_FIXED_FONT));
    SetTextColor(dc_, RGB(255, 255, 255));
    SetBkMode(dc_, TRANSPARENT);
    ASSERT_TRUE(TextOutA(dc_, 0, 0, "Ag|", 3));
    const std::vector<std::string> reference = {
        "...##...............#...", "..#..#........#.....#...", "..#..#....###.#.....#...",
        ".#....#..#...#......#...", ".#....#..#...#......#...", ".######..#...#......#...",
        ".#....#...###.......#...", ".#....#...#.........#...", ".#....#...####......#...",
        ".#....#..#....#.....#...", ".........#....#.....#...", "..........####......#...",
    };
    EXPECT_EQ(screen_rows(24, 12), reference);
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

TEST_F(TextTest, DrawTextWordBreaksChineseIntoTheWidth) {
    use(font(-12));
    // Fifteen characters of 12 pixels in 50 pixels: four to a line.
    RECT r{0, 0, 50, 0};
    const int h = DrawTextA(dc_, kHint, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    EXPECT_EQ(h, 4 * 15);
    EXPECT_EQ(r.bottom, 60);
    EXPECT_EQ(r.right, 48);
    // Latin words stay whole; spaces at a break vanish.
    RECT w{0, 0, 40, 0};
    DrawTextA(dc_, "aaa bbb aaa", -1, &w, DT_CALCRECT | DT_WORDBREAK);
    SIZE word = extent("aaa bbb");
    EXPECT_GT(word.cx, 40);
    EXPECT_EQ(w.bottom, 3 * 15);
    EXPECT_EQ(w.right, extent("aaa").cx);
    // Hard line breaks, and none at all on a single line.
    RECT lines{0, 0, 200, 0};
    EXPECT_EQ(DrawTextA(dc_, "a\r\nb\nc", -1, &lines, DT_CALCRECT), 45);
    RECT single{0, 0, 200, 0};
    EXPECT_EQ(DrawTextA(dc_, "a\r\nb\nc", -1, &single, DT_CALCRECT | DT_SINGLELINE), 15);
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
    RECT line{0, 0, 100, 15};
    DrawTextA(dc_, "&x", -1, &line, DT_SINGLELINE);
    EXPECT_NE(win32::screen_pixel(1, 13), 0u) << "the underline under x";
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
        EXPECT_GE(top, (30 - 15) / 2) << "vertically centred";
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        ReleaseDC(nullptr, dc);
    }
}

}  // namespace
