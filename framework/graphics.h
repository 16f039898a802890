// Drawing objects of the framework: colours, fonts, pens, brushes, the
// canvas over a device context, bitmaps and pictures.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "classes.h"
#include "win32/gdi.h"
#include "win32/user.h"

// Colours: 0x00BBGGRR, or 0x80000000 + n for system colour n (resolved when
// drawn or compared); 0x02000000 marks a palette-relative colour.
using TColor = int32_t;
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;
constexpr TColor clScrollBar = clSystemColor | COLOR_SCROLLBAR;
constexpr TColor clBackground = clSystemColor | COLOR_BACKGROUND;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;
constexpr TColor clActiveCaption = clSystemColor | COLOR_ACTIVECAPTION;
constexpr TColor clInactiveCaption = clSystemColor | COLOR_INACTIVECAPTION;
constexpr TColor clMenu = clSystemColor | COLOR_MENU;
constexpr TColor clWindowFrame = clSystemColor | COLOR_WINDOWFRAME;
constexpr TColor clMenuText = clSystemColor | COLOR_MENUTEXT;
constexpr TColor clCaptionText = clSystemColor | COLOR_CAPTIONTEXT;
constexpr TColor clActiveBorder = clSystemColor | COLOR_ACTIVEBORDER;
constexpr TColor clInactiveBorder = clSystemColor | COLOR_INACTIVEBORDER;
constexpr TColor clAppWorkSpace = clSystemColor | COLOR_APPWORKSPACE;
constexpr TColor clInactiveCaptionText = clSystemColor | COLOR_INACTIVECAPTIONTEXT;
constexpr TColor cl3DDkShadow = clSystemColor | COLOR_3DDKSHADOW;
constexpr TColor cl3DLight = clSystemColor | COLOR_3DLIGHT;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// Plain RGB of a colour, system colours resolved through GetSysColor.
COLORREF ColorToRGB(TColor color);
// Colour names for streaming ("clBtnFace"); also usable by property tables.
extern const TypeInfo ColorType;

// --- Drawing tools ----------------------------------------------------------

// A tool tells its canvas through OnChange; the canvas then reselects it.
class TGraphicsObject : public TPersistent {
public:
    TNotifyEvent OnChange;
    FW_CLASS_INFO();

protected:
    void Changed();
};

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = uint8_t;  // bit n = style n
enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };

class TFont : public TGraphicsObject {
public:
    TFont();  // "MS Sans Serif", height -11, clWindowText
    ~TFont() override;
    void Assign(const TPersistent* source) override;

    std::string Name() const;
    void SetName(const std::string& name);
    int Height() const;  // negative: character height in pixels
    void SetHeight(int height);
    int Size() const;  // points at 96 dpi
    void SetSize(int size);
    TColor Color() const;
    void SetColor(TColor color);
    TFontStyles Style() const;
    void SetStyle(TFontStyles style);
    TFontPitch Pitch() const;
    void SetPitch(TFontPitch pitch);
    uint8_t Charset() const;
    void SetCharset(uint8_t charset);

    HFONT Handle();  // made on demand, freed when an attribute changes
    FW_CLASS_INFO();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : uint8_t {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

class TPen : public TGraphicsObject {
public:
    TPen();  // black, width 1, solid, pmCopy
    ~TPen() override;
    void Assign(const TPersistent* source) override;

    TColor Color() const;
    void SetColor(TColor color);
    int Width() const;
    void SetWidth(int width);
    TPenStyle Style() const;
    void SetStyle(TPenStyle style);
    TPenMode Mode() const;  // applied by the canvas as the ROP2 mode
    void SetMode(TPenMode mode);

    HPEN Handle();
    FW_CLASS_INFO();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

class TBitmap;

enum TBrushStyle : uint8_t {
    bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross
};

class TBrush : public TGraphicsObject {
public:
    TBrush();  // white, solid
    ~TBrush() override;
    void Assign(const TPersistent* source) override;

    TColor Color() const;
    void SetColor(TColor color);
    TBrushStyle Style() const;
    void SetStyle(TBrushStyle style);
    // An 8x8 pattern; the brush does not own it, and it wins over Style.
    TBitmap* Bitmap() const;
    void SetBitmap(TBitmap* bitmap);

    HBRUSH Handle();
    FW_CLASS_INFO();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// --- Canvas -----------------------------------------------------------------

class TGraphic;

// A canvas draws with its pen, brush and font on a device context. A
// control's canvas gets its context on demand (CreateHandle) and gives it up
// when the control says so.
class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;

    HDC Handle();
    void SetHandle(HDC dc);  // selects the tools into it; 0 deselects them
    bool HandleAllocated() const;

    TPen* Pen() const;
    TBrush* Brush() const;
    TFont* Font() const;
    void SetFont(const TFont* font) { Font()->Assign(font); }
    DWORD CopyMode() const;  // raster operation of Draw/CopyRect, SRCCOPY by default
    void SetCopyMode(DWORD rop);
    TPoint PenPos() const;
    void SetPenPos(TPoint p);

    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Rectangle(int x1, int y1, int x2, int y2);
    void Rectangle(const TRect& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
    void Ellipse(int x1, int y1, int x2, int y2);
    void Polygon(std::span<const TPoint> points);
    void Polyline(std::span<const TPoint> points);
    void FillRect(const TRect& r);  // brush only
    void FrameRect(const TRect& r);  // brush colour, one pixel
    void DrawFocusRect(const TRect& r);

    // Text in the font's colour; the background is the brush colour unless
    // the brush is clear.
    void TextOut(int x, int y, const std::string& text);
    void TextRect(const TRect& r, int x, int y, const std::string& text);
    SIZE TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }

    void Draw(int x, int y, TGraphic* graphic);
    void StretchDraw(const TRect& dest, TGraphic* graphic);
    void CopyRect(const TRect& dest, TCanvas* source, const TRect& src);

    TColor Pixels(int x, int y);
    void SetPixels(int x, int y, TColor color);

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    virtual void CreateHandle() {}
    // Every drawing call first makes sure the handle and the tools are there.
    void RequiredState();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// --- Graphics ---------------------------------------------------------------

class TGraphic : public TPersistent {
public:
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int w) = 0;
    virtual void SetHeight(int h) = 0;
    virtual void LoadFromStream(std::istream& in) = 0;  // raises EInvalidGraphic
    virtual void SaveToStream(std::ostream& out) const = 0;
    void LoadFromFile(const std::string& path);  // a Windows path
    void SaveToFile(const std::string& path) const;

    TNotifyEvent OnChange;
    FW_CLASS_INFO();

protected:
    friend class TCanvas;
    virtual void Draw(TCanvas* canvas, const TRect& dest) = 0;
    void Changed();
};

class EInvalidGraphic : public Exception { using Exception::Exception; };

// A Windows bitmap held as a DIB section in the screen's format (or the
// depth it was loaded with), with its own memory canvas.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    void Assign(const TPersistent* source) override;

    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    void SetWidth(int w) override;
    void SetHeight(int h) override;
    void SetSize(int w, int h);
    void LoadFromStream(std::istream& in) override;  // a BMP file image
    void SaveToStream(std::ostream& out) const override;

    TCanvas* Canvas();
    HBITMAP Handle() const;
    void SetHandle(HBITMAP bitmap);  // takes ownership
    HPALETTE Palette() const;

    FW_CLASS_INFO();

protected:
    void Draw(TCanvas* canvas, const TRect& dest) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Holds one graphic (a bitmap here); streamed in forms as the class name of
// the graphic followed by its file image.
class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    void Assign(const TPersistent* source) override;  // a picture, a graphic or null

    TGraphic* Graphic() const;
    void SetGraphic(TGraphic* graphic);  // copies it
    TBitmap* Bitmap();  // makes the picture a bitmap if it holds none
    int Width() const;
    int Height() const;
    void LoadFromFile(const std::string& path);  // raises EInvalidGraphic
    void SaveToFile(const std::string& path) const;

    bool HasData() const override { return true; }
    std::vector<uint8_t> WriteData() const override;
    void ReadData(std::span<const uint8_t> data) override;

    TNotifyEvent OnChange;
    FW_CLASS_INFO();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
