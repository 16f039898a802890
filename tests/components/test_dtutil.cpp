#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Dtutil.h"
#include "scratch_dir.h"
#include "win32/kernel.h"

namespace {

TEST(DtutilStrings, SliceAndTrim) {
    struct Case { std::string got, expected; } const cases[] = {
        {RightStr("abcdef", 2), "ef"},
        {RightStr("ab", 5), "ab"},
        {RightStr("ab", 0), ""},
        {LeftStr("ab", 5), "ab"},
        {LeftStr("abcdef", 3), "abc"},
        {LeftStr("abc", -1), ""},
        {Mid("abcdef", 2, 3), "bcd"},
        {Mid("abcdef", 5, 10), "ef"},
        {Mid("abcdef", 7, 1), ""},
        {Mid("abcdef", 0, 2), "ab"},
        {LTrim(" \t\r\nab c "), "ab c "},
        {RTrim(" ab c \x01\n"), " ab c"},
        {LTrim("   "), ""},
        {RTrim(""), ""},
        {RTrim("\xc4\xea"), "\xc4\xea"},  // GBK bytes are not blanks
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(DtutilColours, ScalingAndSteps) {
    struct Case { long got, expected; const char* what; } const cases[] = {
        {ScaleNum(10, 20, 50), 15, "halfway up"},
        {ScaleNum(20, 10, 55), 15, "-5.5 truncates toward zero"},
        {ScaleRGB(RGB(100, 100, 100), 50), RGB(177, 177, 177), "toward white"},
        {ScaleRGB(RGB(100, 100, 100), -50), RGB(50, 50, 50), "toward black"},
        {ScaleRGB(RGB(1, 2, 3), 0), RGB(1, 2, 3), "unchanged"},
        {ScaleRGB(RGB(10, 100, 200), 100), RGB(255, 255, 255), "all the way"},
        {GetColorStep(clBlack, clWhite, 3, 1), RGB(128, 128, 128), "middle step rounds"},
        {GetColorStep(clBlack, clWhite, 3, 2), RGB(255, 255, 255), "last step is the end"},
        {GetColorStep(RGB(200, 0, 50), RGB(0, 200, 50), 5, 1), RGB(150, 50, 50), "channels apart"},
        {ScaleColor(clBtnFace, 0), static_cast<long>(GetSysColor(COLOR_BTNFACE)), "system colour resolved"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(DtutilColours, FountainPaletteHoldsTheStepsOrNothing) {
    EXPECT_EQ(CreateFountainFillPalette(clBlack, clWhite, 1), nullptr);
    EXPECT_EQ(CreateFountainFillPalette(clWhite, clWhite, 16), nullptr);
    EXPECT_EQ(CreateFountainFillPalette(clBtnFace, static_cast<TColor>(GetSysColor(COLOR_BTNFACE)), 4), nullptr);
    HPALETTE pal = CreateFountainFillPalette(clBlack, clWhite, 3);
    ASSERT_NE(pal, nullptr);
    PALETTEENTRY e[3]{};
    ASSERT_EQ(GetPaletteEntries(pal, 0, 3, e), 3u);
    EXPECT_EQ(e[1].peRed, 128);
    EXPECT_EQ(e[2].peBlue, 255);
    EXPECT_EQ(e[1].peFlags, 0);
    DeleteObject(pal);
}

COLORREF pixel(TBitmap& b, int x, int y) { return GetPixel(b.Canvas()->Handle(), x, y); }

TEST(DtutilDrawing, FountainOfOneStepIsAPlainFillAndTwoStepsMakeBands) {
    for (bool direct : {false, true}) {
        TBitmap target;
        target.SetSize(20, 10);
        DrawFountainFill(target.Canvas(), clRed, clBlue, 1, fsHorizontal, 10, 20, nullptr, direct);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) ASSERT_EQ(pixel(target, x, y), RGB(255, 0, 0)) << x << "," << y;

        DrawFountainFill(target.Canvas(), clRed, clBlue, 2, fsVertical, 10, 20, nullptr, direct);
        EXPECT_EQ(pixel(target, 9, 5), RGB(255, 0, 0));
        EXPECT_EQ(pixel(target, 10, 5), RGB(0, 0, 255));
        // The canvas tools come back as they were.
        EXPECT_EQ(target.Canvas()->Brush()->Style(), bsSolid);
        EXPECT_EQ(target.Canvas()->Pen()->Style(), psSolid);
    }
}

TEST(DtutilDrawing, CircularFountainHasItsEndColourInTheMiddle) {
    TBitmap target;
    target.SetSize(20, 20);
    DrawFountainFill(target.Canvas(), clBlack, clWhite, 4, fsCircular, 20, 20, nullptr, false);
    EXPECT_EQ(pixel(target, 10, 10), RGB(255, 255, 255));
    EXPECT_EQ(pixel(target, 10, 1), RGB(85, 85, 85));  // second ring of four
}

TEST(DtutilDrawing, TileBitmapCutsTheLastRowAndColumn) {
    TBitmap tile;
    tile.SetSize(10, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) SetPixel(tile.Canvas()->Handle(), x, y, RGB(x * 20, y * 20, 7));
    TBitmap target;
    target.SetSize(40, 40);
    target.Canvas()->Brush()->SetColor(clWhite);
    target.Canvas()->FillRect(Rect(0, 0, 40, 40));
    TileBitmap(target.Canvas(), &tile, Rect(5, 5, 30, 30));

    struct Probe { int x, y; COLORREF expected; } const probes[] = {
        {5, 5, RGB(0, 0, 7)},       {15, 15, RGB(0, 0, 7)},     {25, 25, RGB(0, 0, 7)},
        {29, 29, RGB(80, 80, 7)},   {14, 27, RGB(180, 40, 7)},  {30, 30, RGB(255, 255, 255)},
        {4, 10, RGB(255, 255, 255)}, {29, 30, RGB(255, 255, 255)}, {30, 10, RGB(255, 255, 255)},
    };
    for (const Probe& p : probes) EXPECT_EQ(pixel(target, p.x, p.y), p.expected) << p.x << "," << p.y;

    TBitmap empty;
    TileBitmap(target.Canvas(), &empty, Rect(0, 0, 40, 40));  // draws nothing
    EXPECT_EQ(pixel(target, 0, 0), RGB(255, 255, 255));
}

class ToolTipProps : public ::testing::Test {
protected:
    testing_support::ScratchDrive drive;

    void store(const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, "StatusFont", 0, REG_BINARY, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static int text_height(HFONT font) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        TEXTMETRICA tm{};
        GetTextMetricsA(dc, &tm);
        SelectObject(dc, old);
        DeleteDC(dc);
        return tm.tmHeight;
    }
};

TEST_F(ToolTipProps, ReadsTheSmallRecordAndTheFullOne) {
    TLogFont16 small{};
    small.lfHeight = 24;
    small.lfWeight = 400;
    std::strcpy(small.lfFaceName, "MS Sans Serif");
    store(&small, sizeof small);
    HFONT font = nullptr;
    TColor back = 0, text = 0;
    SetSystemToolTipProps(font, 96, back, text);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(back, clInfoBk);
    EXPECT_EQ(text, clInfoText);
    const int big = text_height(font);
    DeleteObject(font);

    LOGFONTA full{};
    full.lfHeight = 9;
    full.lfWeight = 400;
    std::strcpy(full.lfFaceName, "MS Sans Serif");
    store(&full, sizeof full);
    font = nullptr;
    SetSystemToolTipProps(font, 96, back, text);
    ASSERT_NE(font, nullptr);
    const int normal = text_height(font);
    DeleteObject(font);
    // 24 points at 96 dpi is a 32-pixel font, 9 points a 12-pixel one.
    EXPECT_GT(big, normal + 10);
}

TEST_F(ToolTipProps, WithoutTheKeyTheFontIsLeftAlone) {
    HFONT font = reinterpret_cast<HFONT>(0x1234);
    TColor back = 0, text = 0;
    SetSystemToolTipProps(font, 96, back, text);
    EXPECT_EQ(font, reinterpret_cast<HFONT>(0x1234));
    EXPECT_EQ(back, clInfoBk);
    EXPECT_EQ(text, clInfoText);
}

}  // namespace
