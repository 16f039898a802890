// Small routines shared by the components: string slicing and trimming,
// colour scaling and gradient steps, fountain fills, bitmap tiling, and the
// hint font and tooltip settings.
#pragma once

#include <cstdint>
#include <string>

#include "graphics.h"

enum TFountainStyle : uint8_t { fsHorizontal, fsVertical, fsCircular };
enum THintStyle : uint8_t { hsDefault, hsCustom, hsSystem };
extern const TypeInfo HintStyleType;

// The 50-byte logical font of the 16-bit system, as "StatusFont" may hold it.
#pragma pack(push, 1)
struct TLogFont16 {
    int16_t lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight;
    uint8_t lfItalic, lfUnderline, lfStrikeOut, lfCharSet;
    uint8_t lfOutPrecision, lfClipPrecision, lfQuality, lfPitchAndFamily;
    char lfFaceName[32];
};
#pragma pack(pop)
static_assert(sizeof(TLogFont16) == 50);

// Positions are 1-based; the text is copied.
std::string LeftStr(const std::string& s, int n);
std::string Mid(const std::string& s, int start, int count);
std::string RightStr(const std::string& s, int n);
std::string LTrim(const std::string& s);  // blanks and control characters
std::string RTrim(const std::string& s);

int ScaleNum(int a, int b, int percent);
TColor ScaleRGB(TColor rgb, int percent);  // toward white when > 0, black when < 0
TColor ScaleColor(TColor color, int percent);
TColor GetColorStep(TColor rgb1, TColor rgb2, int steps, int i);
HPALETTE CreateFountainFillPalette(TColor c1, TColor c2, int entries);  // caller owns it

void DrawFountainFill(TCanvas* canvas, TColor c1, TColor c2, int steps, TFountainStyle style,
                      int height, int width, HPALETTE palette, bool direct);
void TileBitmap(TCanvas* canvas, TBitmap* bitmap, const TRect& rect);

TFont* DefaultHintFont();  // "MS Sans Serif", 8 points; owned by the module
void SetSystemToolTipProps(HFONT& font, int pixels_per_inch, TColor& background, TColor& text);
