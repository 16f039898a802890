// Colours and the drawing tools: fonts, pens and brushes whose GDI handles
// are made on demand and remade after every change.
#include "graphics.h"

#include <algorithm>
#include <cstring>
#include <utility>

// --- Colours ----------------------------------------------------------------

COLORREF ColorToRGB(TColor color) {
    if (color < 0) return GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color);
}

namespace {

const IdentValue color_idents[] = {
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clScrollBar", clScrollBar},
    {"clBackground", clBackground},
    {"clActiveCaption", clActiveCaption},
    {"clInactiveCaption", clInactiveCaption},
    {"clMenu", clMenu},
    {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame},
    {"clMenuText", clMenuText},
    {"clWindowText", clWindowText},
    {"clCaptionText", clCaptionText},
    {"clActiveBorder", clActiveBorder},
    {"clInactiveBorder", clInactiveBorder},
    {"clAppWorkSpace", clAppWorkSpace},
    {"clHighlight", clHighlight},
    {"clHighlightText", clHighlightText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clGrayText", clGrayText},
    {"clBtnText", clBtnText},
    {"clInactiveCaptionText", clInactiveCaptionText},
    {"clBtnHighlight", clBtnHighlight},
    {"cl3DDkShadow", cl3DDkShadow},
    {"cl3DLight", cl3DLight},
    {"clInfoText", clInfoText},
    {"clInfoBk", clInfoBk},
    {"clNone", clNone},
    {"clDefault", clDefault},
};

const char* const font_style_names[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
const char* const font_pitch_names[] = {"fpDefault", "fpVariable", "fpFixed"};
const char* const pen_style_names[] = {"psSolid",      "psDash",  "psDot",        "psDashDot",
                                       "psDashDotDot", "psClear", "psInsideFrame"};
const char* const pen_mode_names[] = {
    "pmBlack", "pmWhite",      "pmNop",       "pmNot",         "pmCopy",       "pmNotCopy",
    "pmMergePenNot", "pmMaskPenNot", "pmMergeNotPen", "pmMaskNotPen", "pmMerge", "pmNotMerge",
    "pmMask",  "pmNotMask",    "pmXor",       "pmNotXor"};
const char* const brush_style_names[] = {"bsSolid",     "bsClear",     "bsHorizontal",
                                         "bsVertical",  "bsFDiagonal", "bsBDiagonal",
                                         "bsCross",     "bsDiagCross"};

const TypeInfo font_style_type{"TFontStyles", font_style_names, {}};
const TypeInfo font_pitch_type{"TFontPitch", font_pitch_names, {}};
const TypeInfo pen_style_type{"TPenStyle", pen_style_names, {}};
const TypeInfo pen_mode_type{"TPenMode", pen_mode_names, {}};
const TypeInfo brush_style_type{"TBrushStyle", brush_style_names, {}};

// Windows rounds these conversions to the nearest integer.
int mul_div(int a, int b, int c) {
    const int64_t p = int64_t(a) * b;
    const int64_t q = p >= 0 ? (p + c / 2) / c : (p - c / 2) / c;
    return static_cast<int>(q);
}

// Hatched brushes as 8x8 patterns (the stand-in has no hatch brushes): the
// lines in the brush colour on white.
bool hatch_bit(TBrushStyle style, int x, int y) {
    switch (style) {
    case bsHorizontal: return y == 3;
    case bsVertical: return x == 3;
    case bsFDiagonal: return x == y;
    case bsBDiagonal: return x == 7 - y;
    case bsCross: return x == 3 || y == 3;
    case bsDiagCross: return x == y || x == 7 - y;
    default: return true;
    }
}

HBRUSH make_hatch_brush(TBrushStyle style, COLORREF color) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = 8;
    bmi.bmiHeader.biHeight = -8;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp) return CreateSolidBrush(color);
    auto* px = static_cast<uint32_t*>(bits);
    const uint32_t line = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) px[y * 8 + x] = hatch_bit(style, x, y) ? line : 0xFFFFFFu;
    HBRUSH brush = CreatePatternBrush(bmp);
    DeleteObject(bmp);
    return brush ? brush : CreateSolidBrush(color);
}

// Frees a handle after the tool's users had the chance to select its
// replacement (GDI will not delete an object still selected into a DC).
struct StaleHandle {
    HGDIOBJ h = nullptr;
    ~StaleHandle() {
        if (h) DeleteObject(h);
    }
};

}  // namespace

const TypeInfo ColorType{"TColor", {}, color_idents};

// --- TGraphicsObject --------------------------------------------------------

const ClassInfo& TGraphicsObject::StaticClassInfo() {
    static const ClassInfo info{"TGraphicsObject", &TPersistent::StaticClassInfo(), {}, {}, {}};
    return info;
}

void TGraphicsObject::Changed() { OnChange(this); }

// --- TFont ------------------------------------------------------------------

struct TFont::Impl {
    std::string name = "MS Sans Serif";
    int height = -11;
    TColor color = clWindowText;
    TFontStyles style = 0;
    TFontPitch pitch = fpDefault;
    uint8_t charset = DEFAULT_CHARSET;
    HFONT handle = nullptr;
};

TFont::TFont() : d_(std::make_unique<Impl>()) {}

TFont::~TFont() {
    if (d_->handle) DeleteObject(d_->handle);
}

const ClassInfo& TFont::StaticClassInfo() {
    static const PropInfo charset =
        props::Ord<&TFont::Charset, &TFont::SetCharset>("Charset", PropKind::Integer, DEFAULT_CHARSET);
    static const PropInfo color =
        props::Ord<&TFont::Color, &TFont::SetColor>("Color", PropKind::Integer, clWindowText, &ColorType);
    static const PropInfo height =
        props::Ord<&TFont::Height, &TFont::SetHeight>("Height", PropKind::Integer, -11);
    static const PropInfo name = props::Str<&TFont::Name, &TFont::SetName>("Name", "MS Sans Serif");
    static const PropInfo pitch =
        props::Ord<&TFont::Pitch, &TFont::SetPitch>("Pitch", PropKind::Enum, fpDefault, &font_pitch_type);
    static const PropInfo size = props::Ord<&TFont::Size, &TFont::SetSize>("Size", PropKind::Integer, 8);
    static const PropInfo style =
        props::Ord<&TFont::Style, &TFont::SetStyle>("Style", PropKind::Set, 0, &font_style_type);
    static const PropInfo* const list[] = {&charset, &color, &height, &name, &pitch, &size, &style};
    static const ClassInfo info{"TFont", &TGraphicsObject::StaticClassInfo(), list, {}, {}};
    return info;
}

void TFont::Assign(const TPersistent* source) {
    if (auto* f = dynamic_cast<const TFont*>(source)) {
        if (f == this) return;
        const Impl& s = *f->d_;
        Impl& t = *d_;
        if (s.name == t.name && s.height == t.height && s.color == t.color && s.style == t.style &&
            s.pitch == t.pitch && s.charset == t.charset)
            return;
        StaleHandle stale{std::exchange(t.handle, nullptr)};
        t.name = s.name;
        t.height = s.height;
        t.color = s.color;
        t.style = s.style;
        t.pitch = s.pitch;
        t.charset = s.charset;
        Changed();
        return;
    }
    TGraphicsObject::Assign(source);
}

std::string TFont::Name() const { return d_->name; }
int TFont::Height() const { return d_->height; }
int TFont::Size() const { return -mul_div(d_->height, 72, 96); }
TColor TFont::Color() const { return d_->color; }
TFontStyles TFont::Style() const { return d_->style; }
TFontPitch TFont::Pitch() const { return d_->pitch; }
uint8_t TFont::Charset() const { return d_->charset; }

namespace {
// One setter shape for every attribute of a tool: nothing happens when the
// value stays, otherwise the handle goes stale and OnChange fires.
template <class Impl, class V, class F>
bool change(Impl& d, V& field, const V& value, F&& changed) {
    if (field == value) return false;
    StaleHandle stale{std::exchange(d.handle, nullptr)};
    field = value;
    changed();
    return true;
}
}  // namespace

void TFont::SetName(const std::string& name) {
    // An empty or overlong face name cannot be made into a font.
    std::string n = name.substr(0, LF_FACESIZE - 1);
    if (n.empty()) n = "MS Sans Serif";
    change(*d_, d_->name, n, [this] { Changed(); });
}
void TFont::SetHeight(int height) { change(*d_, d_->height, height, [this] { Changed(); }); }
void TFont::SetSize(int size) { SetHeight(-mul_div(size, 96, 72)); }
void TFont::SetColor(TColor color) {
    // The colour is not part of the font handle; the canvas applies it.
    if (d_->color == color) return;
    d_->color = color;
    Changed();
}
void TFont::SetStyle(TFontStyles style) {
    change(*d_, d_->style, static_cast<TFontStyles>(style & 0x0F), [this] { Changed(); });
}
void TFont::SetPitch(TFontPitch pitch) {
    if (pitch > fpFixed) pitch = fpDefault;
    change(*d_, d_->pitch, pitch, [this] { Changed(); });
}
void TFont::SetCharset(uint8_t charset) { change(*d_, d_->charset, charset, [this] { Changed(); }); }

HFONT TFont::Handle() {
    if (!d_->handle) {
        LOGFONTA lf{};
        lf.lfHeight = d_->height;
        lf.lfWeight = (d_->style & (1u << fsBold)) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (d_->style & (1u << fsItalic)) ? 1 : 0;
        lf.lfUnderline = (d_->style & (1u << fsUnderline)) ? 1 : 0;
        lf.lfStrikeOut = (d_->style & (1u << fsStrikeOut)) ? 1 : 0;
        lf.lfCharSet = d_->charset;
        lf.lfPitchAndFamily = d_->pitch == fpFixed ? 1 : d_->pitch == fpVariable ? 2 : 0;
        std::strncpy(lf.lfFaceName, d_->name.c_str(), LF_FACESIZE - 1);
        d_->handle = CreateFontIndirectA(&lf);
    }
    return d_->handle;
}

// --- TPen -------------------------------------------------------------------

struct TPen::Impl {
    TColor color = clBlack;
    int width = 1;
    TPenStyle style = psSolid;
    TPenMode mode = pmCopy;
    HPEN handle = nullptr;
};

TPen::TPen() : d_(std::make_unique<Impl>()) {}

TPen::~TPen() {
    if (d_->handle) DeleteObject(d_->handle);
}

const ClassInfo& TPen::StaticClassInfo() {
    static const PropInfo color =
        props::Ord<&TPen::Color, &TPen::SetColor>("Color", PropKind::Integer, clBlack, &ColorType);
    static const PropInfo mode =
        props::Ord<&TPen::Mode, &TPen::SetMode>("Mode", PropKind::Enum, pmCopy, &pen_mode_type);
    static const PropInfo style =
        props::Ord<&TPen::Style, &TPen::SetStyle>("Style", PropKind::Enum, psSolid, &pen_style_type);
    static const PropInfo width = props::Ord<&TPen::Width, &TPen::SetWidth>("Width", PropKind::Integer, 1);
    static const PropInfo* const list[] = {&color, &mode, &style, &width};
    static const ClassInfo info{"TPen", &TGraphicsObject::StaticClassInfo(), list, {}, {}};
    return info;
}

void TPen::Assign(const TPersistent* source) {
    if (auto* p = dynamic_cast<const TPen*>(source)) {
        if (p == this) return;
        const Impl& s = *p->d_;
        if (s.color == d_->color && s.width == d_->width && s.style == d_->style && s.mode == d_->mode)
            return;
        StaleHandle stale{std::exchange(d_->handle, nullptr)};
        d_->color = s.color;
        d_->width = s.width;
        d_->style = s.style;
        d_->mode = s.mode;
        Changed();
        return;
    }
    TGraphicsObject::Assign(source);
}

TColor TPen::Color() const { return d_->color; }
int TPen::Width() const { return d_->width; }
TPenStyle TPen::Style() const { return d_->style; }
TPenMode TPen::Mode() const { return d_->mode; }

void TPen::SetColor(TColor color) { change(*d_, d_->color, color, [this] { Changed(); }); }
void TPen::SetWidth(int width) {
    change(*d_, d_->width, std::clamp(width, 1, 1000), [this] { Changed(); });
}
void TPen::SetStyle(TPenStyle style) {
    if (style > psInsideFrame) style = psSolid;
    change(*d_, d_->style, style, [this] { Changed(); });
}
void TPen::SetMode(TPenMode mode) {
    // The mode lives in the DC, not in the pen handle.
    if (mode > pmNotXor) mode = pmCopy;
    if (d_->mode == mode) return;
    d_->mode = mode;
    Changed();
}

HPEN TPen::Handle() {
    if (!d_->handle) {
        int style = PS_SOLID;
        switch (d_->style) {
        case psSolid: style = PS_SOLID; break;
        case psDash: style = PS_DASH; break;
        case psDot: style = PS_DOT; break;
        // The stand-in draws no dash-dot patterns; dashes are closest.
        case psDashDot:
        case psDashDotDot: style = PS_DASH; break;
        case psClear: style = PS_NULL; break;
        case psInsideFrame: style = PS_INSIDEFRAME; break;
        }
        d_->handle = CreatePen(style, d_->width, ColorToRGB(d_->color));
    }
    return d_->handle;
}

// --- TBrush -----------------------------------------------------------------

struct TBrush::Impl {
    TColor color = clWhite;
    TBrushStyle style = bsSolid;
    TBitmap* bitmap = nullptr;
    HBRUSH handle = nullptr;
    bool stock = false;  // the null brush is never deleted
};

TBrush::TBrush() : d_(std::make_unique<Impl>()) {}

TBrush::~TBrush() {
    if (d_->handle && !d_->stock) DeleteObject(d_->handle);
}

const ClassInfo& TBrush::StaticClassInfo() {
    static const PropInfo color =
        props::Ord<&TBrush::Color, &TBrush::SetColor>("Color", PropKind::Integer, clWhite, &ColorType);
    static const PropInfo style =
        props::Ord<&TBrush::Style, &TBrush::SetStyle>("Style", PropKind::Enum, bsSolid, &brush_style_type);
    static const PropInfo* const list[] = {&color, &style};
    static const ClassInfo info{"TBrush", &TGraphicsObject::StaticClassInfo(), list, {}, {}};
    return info;
}

namespace {
HGDIOBJ take_brush(HBRUSH& handle, bool& stock) {
    HGDIOBJ h = std::exchange(handle, nullptr);
    if (std::exchange(stock, false)) return nullptr;
    return h;
}
}  // namespace

void TBrush::Assign(const TPersistent* source) {
    if (auto* b = dynamic_cast<const TBrush*>(source)) {
        if (b == this) return;
        const Impl& s = *b->d_;
        if (s.color == d_->color && s.style == d_->style && s.bitmap == d_->bitmap) return;
        StaleHandle stale{take_brush(d_->handle, d_->stock)};
        d_->color = s.color;
        d_->style = s.style;
        d_->bitmap = s.bitmap;
        Changed();
        return;
    }
    TGraphicsObject::Assign(source);
}

TColor TBrush::Color() const { return d_->color; }
TBrushStyle TBrush::Style() const { return d_->style; }
TBitmap* TBrush::Bitmap() const { return d_->bitmap; }

void TBrush::SetColor(TColor color) {
    if (d_->color == color && d_->style != bsClear) return;
    StaleHandle stale{take_brush(d_->handle, d_->stock)};
    d_->color = color;
    // A clear brush that is given a colour, even its own, becomes solid:
    // painting code clears the brush for text and sets the colour again to
    // fill on the next paint.
    if (d_->style == bsClear) d_->style = bsSolid;
    Changed();
}

void TBrush::SetStyle(TBrushStyle style) {
    if (style > bsDiagCross) style = bsSolid;
    if (d_->style == style) return;
    StaleHandle stale{take_brush(d_->handle, d_->stock)};
    d_->style = style;
    Changed();
}

void TBrush::SetBitmap(TBitmap* bitmap) {
    StaleHandle stale{take_brush(d_->handle, d_->stock)};
    d_->bitmap = bitmap;
    Changed();
}

HBRUSH TBrush::Handle() {
    if (!d_->handle) {
        const COLORREF rgb = ColorToRGB(d_->color);
        if (d_->bitmap && !d_->bitmap->Empty()) {
            d_->handle = CreatePatternBrush(d_->bitmap->Handle());
        } else if (d_->style == bsClear) {
            d_->handle = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
            d_->stock = true;
        } else if (d_->style == bsSolid) {
            d_->handle = CreateSolidBrush(rgb);
        } else {
            d_->handle = make_hatch_brush(d_->style, rgb);
        }
    }
    return d_->handle;
}

// The form reader finds these by name; kept here, in the unit every canvas
// links, so the registration cannot be left out of a program.
namespace {
const bool graphics_registered = [] {
    RegisterClass(TFont::StaticClassInfo());
    RegisterClass(TPen::StaticClassInfo());
    RegisterClass(TBrush::StaticClassInfo());
    RegisterClass(TBitmap::StaticClassInfo());
    RegisterClass(TPicture::StaticClassInfo());
    return true;
}();
}  // namespace
