#include "Dtutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "win32/kernel.h"

namespace {

constexpr const char* hint_style_names[] = {"hsDefault", "hsCustom", "hsSystem"};

int red(TColor c) { return c & 0xFF; }
int green(TColor c) { return (c >> 8) & 0xFF; }
int blue(TColor c) { return (c >> 16) & 0xFF; }
TColor rgb(int r, int g, int b) { return static_cast<TColor>(RGB(r & 0xFF, g & 0xFF, b & 0xFF)); }

bool blank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

const TypeInfo HintStyleType{"THintStyle", hint_style_names, {}};

std::string LeftStr(const std::string& s, int n) { return Mid(s, 1, n); }

std::string Mid(const std::string& s, int start, int count) {
    if (count <= 0 || start > static_cast<int>(s.size())) return {};
    if (start < 1) start = 1;
    return s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}

std::string RightStr(const std::string& s, int n) {
    if (n <= 0) return {};
    size_t keep = std::min(s.size(), static_cast<size_t>(n));
    return s.substr(s.size() - keep);
}

std::string LTrim(const std::string& s) {
    auto first = std::find_if_not(s.begin(), s.end(), blank);
    return std::string(first, s.end());
}

std::string RTrim(const std::string& s) {
    auto last = std::find_if_not(s.rbegin(), s.rend(), blank);
    return std::string(s.begin(), last.base());
}

int ScaleNum(int a, int b, int percent) {
    return a + static_cast<int>(static_cast<int64_t>(b - a) * percent / 100);
}

TColor ScaleRGB(TColor c, int percent) {
    if (percent == 0) return c;
    int target = percent >= 1 ? 255 : 0;
    int p = percent >= 1 ? percent : -percent;
    return rgb(ScaleNum(red(c), target, p), ScaleNum(green(c), target, p), ScaleNum(blue(c), target, p));
}

TColor ScaleColor(TColor color, int percent) {
    return ScaleRGB(static_cast<TColor>(ColorToRGB(color)), percent);
}

TColor GetColorStep(TColor c1, TColor c2, int steps, int i) {
    auto step = [&](int a, int b) { return a + MulDiv(i, b - a, steps - 1); };
    return rgb(step(red(c1), red(c2)), step(green(c1), green(c2)), step(blue(c1), blue(c2)));
}

HPALETTE CreateFountainFillPalette(TColor c1, TColor c2, int entries) {
    TColor from = static_cast<TColor>(ColorToRGB(c1));
    TColor to = static_cast<TColor>(ColorToRGB(c2));
    if (entries < 2 || entries > 256 || from == to) return nullptr;
    std::vector<uint8_t> block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(entries));
    auto* pal = reinterpret_cast<LOGPALETTE*>(block.data());
    pal->palVersion = 0x300;
    pal->palNumEntries = static_cast<WORD>(entries);
    for (int i = 0; i < entries; ++i) {
        TColor c = GetColorStep(from, to, entries, i);
        pal->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(red(c)), static_cast<BYTE>(green(c)),
                                           static_cast<BYTE>(blue(c)), 0};
    }
    return CreatePalette(pal);
}

namespace {

void fountain_fill(TCanvas* canvas, TColor c1, TColor c2, int steps, TFountainStyle style,
                   int height, int width, HPALETTE palette) {
    TPenStyle pen_style = canvas->Pen()->Style();
    TColor brush_color = canvas->Brush()->Color();
    TBrushStyle brush_style = canvas->Brush()->Style();
    canvas->Brush()->SetStyle(bsSolid);
    TColor from = static_cast<TColor>(ColorToRGB(c1));
    TColor to = static_cast<TColor>(ColorToRGB(c2));
    if (steps < 2 || from == to) {
        canvas->Brush()->SetColor(c1);
        canvas->FillRect(Rect(0, 0, width, height));
        canvas->Brush()->SetColor(brush_color);
    } else {
        canvas->Pen()->SetStyle(psClear);
        const int diameter = static_cast<int>(std::lround(std::sqrt(double(height) * height + double(width) * width) + 0.5));
        for (int i = 0; i < steps; ++i) {
            TColor c = GetColorStep(from, to, steps, i);
            if (palette) c |= 0x02000000;
            canvas->Brush()->SetColor(c);
            switch (style) {
            case fsHorizontal:
                canvas->FillRect(Rect(0, MulDiv(i, height, steps), width, MulDiv(i + 1, height, steps)));
                break;
            case fsVertical:
                canvas->FillRect(Rect(MulDiv(i, width, steps), 0, MulDiv(i + 1, width, steps), height));
                break;
            case fsCircular: {
                int d = MulDiv(steps - i, diameter, steps);
                int left = width / 2 - d / 2, top = height / 2 - d / 2;
                canvas->Ellipse(left, top, left + d, top + d);
                break;
            }
            }
        }
    }
    canvas->Pen()->SetStyle(pen_style);
    canvas->Brush()->SetColor(brush_color);
    canvas->Brush()->SetStyle(brush_style);
}

void realize(TCanvas* canvas, HPALETTE palette) {
    if (!palette) return;
    SelectPalette(canvas->Handle(), palette, FALSE);
    RealizePalette(canvas->Handle());
}

}  // namespace

void DrawFountainFill(TCanvas* canvas, TColor c1, TColor c2, int steps, TFountainStyle style,
                      int height, int width, HPALETTE palette, bool direct) {
    if (!canvas) return;
    if (direct) {
        realize(canvas, palette);
        fountain_fill(canvas, c1, c2, steps, style, height, width, palette);
        return;
    }
    try {
        TBitmap bitmap;
        bitmap.SetSize(width, height);
        TCanvas* bc = bitmap.Canvas();
        HPALETTE old = palette ? SelectPalette(bc->Handle(), palette, FALSE) : nullptr;
        if (palette) RealizePalette(bc->Handle());
        fountain_fill(bc, c1, c2, steps, style, height, width, palette);
        if (palette) SelectPalette(bc->Handle(), old, FALSE);
        canvas->SetCopyMode(SRCCOPY);
        realize(canvas, palette);
        canvas->Draw(0, 0, &bitmap);
    } catch (const std::exception&) {
        // Drawing through the bitmap is best effort.
    }
}

void TileBitmap(TCanvas* canvas, TBitmap* bitmap, const TRect& rect) {
    if (!canvas || !bitmap) return;
    const int bw = bitmap->Width(), bh = bitmap->Height();
    if (bw <= 0 || bh <= 0) return;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const int rows = std::max(1, height / bh + (height % bh ? 1 : 0));
    const int columns = std::max(1, width / bw + (width % bw ? 1 : 0));
    for (int row = 0; row < rows; ++row) {
        const int top = rect.top + row * bh;
        const int h = std::min(bh, rect.bottom - top);
        for (int column = 0; column < columns; ++column) {
            const int left = rect.left + column * bw;
            const int w = std::min(bw, rect.right - left);
            if (w <= 0 || h <= 0) continue;
            canvas->CopyRect(Rect(left, top, left + w, top + h), bitmap->Canvas(), Rect(0, 0, w, h));
        }
    }
}

TFont* DefaultHintFont() {
    static const std::unique_ptr<TFont> font = [] {
        auto f = std::make_unique<TFont>();
        f->SetName("MS Sans Serif");
        f->SetSize(8);
        return f;
    }();
    return font.get();
}

void SetSystemToolTipProps(HFONT& font, int pixels_per_inch, TColor& background, TColor& text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        LOGFONTA lf{};
        bool read = false;
        DWORD size = 0, type = 0;
        if (RegQueryValueExA(key, "StatusFont", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            if (size == sizeof(TLogFont16)) {
                TLogFont16 small{};
                DWORD got = sizeof small;
                if (RegQueryValueExA(key, "StatusFont", nullptr, nullptr, reinterpret_cast<BYTE*>(&small),
                                     &got) == ERROR_SUCCESS) {
                    lf.lfHeight = small.lfHeight;
                    lf.lfWidth = small.lfWidth;
                    lf.lfEscapement = small.lfEscapement;
                    lf.lfOrientation = small.lfOrientation;
                    lf.lfWeight = small.lfWeight;
                    lf.lfItalic = small.lfItalic;
                    lf.lfUnderline = small.lfUnderline;
                    lf.lfStrikeOut = small.lfStrikeOut;
                    lf.lfCharSet = small.lfCharSet;
                    lf.lfOutPrecision = small.lfOutPrecision;
                    lf.lfClipPrecision = small.lfClipPrecision;
                    lf.lfQuality = small.lfQuality;
                    lf.lfPitchAndFamily = small.lfPitchAndFamily;
                    std::memcpy(lf.lfFaceName, small.lfFaceName, sizeof small.lfFaceName);
                    read = true;
                }
            } else {
                // Any other size is read as the full record, cut to its size.
                std::vector<BYTE> raw(std::max<DWORD>(size, sizeof lf));
                DWORD got = static_cast<DWORD>(raw.size());
                if (RegQueryValueExA(key, "StatusFont", nullptr, nullptr, raw.data(), &got) == ERROR_SUCCESS) {
                    std::memcpy(&lf, raw.data(), std::min<size_t>(got, sizeof lf));
                    read = true;
                }
            }
        }
        RegCloseKey(key);
        if (read) {
            lf.lfFaceName[sizeof lf.lfFaceName - 1] = '\0';
            lf.lfHeight = -lf.lfHeight * pixels_per_inch / 72;
            font = CreateFontIndirectA(&lf);
        }
    }
    text = clInfoText;
    background = clInfoBk;
}
