// The canvas: a device context with the pen, brush and font selected into
// it, kept selected across tool changes and given back intact.
#include <algorithm>
#include <vector>

#include "graphics.h"

namespace {

int rop2_of(TPenMode mode) {
    static constexpr int table[] = {
        R2_BLACK,       R2_WHITE,      R2_NOP,         R2_NOT,       R2_COPYPEN,    R2_NOTCOPYPEN,
        R2_MERGEPENNOT, R2_MASKPENNOT, R2_MERGENOTPEN, R2_MASKNOTPEN, R2_MERGEPEN,  R2_NOTMERGEPEN,
        R2_MASKPEN,     R2_NOTMASKPEN, R2_XORPEN,      R2_NOTXORPEN};
    return mode <= pmNotXor ? table[mode] : R2_COPYPEN;
}

}  // namespace

struct TCanvas::Impl {
    HDC dc = nullptr;
    std::unique_ptr<TPen> pen = std::make_unique<TPen>();
    std::unique_ptr<TBrush> brush = std::make_unique<TBrush>();
    std::unique_ptr<TFont> font = std::make_unique<TFont>();
    // What the DC held before this canvas selected into it.
    HGDIOBJ old_pen = nullptr, old_brush = nullptr, old_font = nullptr;
    int old_rop2 = 0;
    DWORD copy_mode = SRCCOPY;
    TPoint pen_pos{0, 0};

    void select_pen() {
        HGDIOBJ prev = SelectObject(dc, pen->Handle());
        if (!old_pen) old_pen = prev;
        const int prev_rop = SetROP2(dc, rop2_of(pen->Mode()));
        if (!old_rop2) old_rop2 = prev_rop;
    }
    void select_brush() {
        HGDIOBJ prev = SelectObject(dc, brush->Handle());
        if (!old_brush) old_brush = prev;
        SetBkColor(dc, ColorToRGB(brush->Color()));
        SetBkMode(dc, brush->Style() == bsClear ? TRANSPARENT : OPAQUE);
    }
    void select_font() {
        HGDIOBJ prev = SelectObject(dc, font->Handle());
        if (!old_font) old_font = prev;
        SetTextColor(dc, ColorToRGB(font->Color()));
    }
    void restore() {
        if (old_pen) SelectObject(dc, old_pen);
        if (old_brush) SelectObject(dc, old_brush);
        if (old_font) SelectObject(dc, old_font);
        if (old_rop2) SetROP2(dc, old_rop2);
        old_pen = old_brush = old_font = nullptr;
        old_rop2 = 0;
    }
};

TCanvas::TCanvas() : d_(std::make_unique<Impl>()) {
    d_->pen->OnChange = [this](TObject*) {
        if (d_->dc) d_->select_pen();
    };
    d_->brush->OnChange = [this](TObject*) {
        if (d_->dc) d_->select_brush();
    };
    d_->font->OnChange = [this](TObject*) {
        if (d_->dc) d_->select_font();
    };
}

TCanvas::~TCanvas() {
    // The DC gets its own objects back before the tools free theirs.
    SetHandle(nullptr);
}

HDC TCanvas::Handle() {
    if (!d_->dc) CreateHandle();
    return d_->dc;
}

void TCanvas::SetHandle(HDC dc) {
    if (d_->dc == dc) return;
    if (d_->dc) d_->restore();
    d_->dc = dc;
    if (dc) {
        d_->select_pen();
        d_->select_brush();
        d_->select_font();
        MoveToEx(dc, d_->pen_pos.x, d_->pen_pos.y, nullptr);
    }
}

bool TCanvas::HandleAllocated() const { return d_->dc != nullptr; }

TPen* TCanvas::Pen() const { return d_->pen.get(); }
TBrush* TCanvas::Brush() const { return d_->brush.get(); }
TFont* TCanvas::Font() const { return d_->font.get(); }
DWORD TCanvas::CopyMode() const { return d_->copy_mode; }
void TCanvas::SetCopyMode(DWORD rop) { d_->copy_mode = rop; }
TPoint TCanvas::PenPos() const { return d_->pen_pos; }
void TCanvas::SetPenPos(TPoint p) { MoveTo(p.x, p.y); }

void TCanvas::RequiredState() {
    if (!d_->dc) CreateHandle();
    if (!d_->dc) throw EInvalidOperation("Canvas does not allow drawing");
}

namespace {
// OnChanging before a drawing call, OnChange after it (also when it fails,
// since part of it may have been drawn).
struct DrawScope {
    TCanvas* canvas;
    TNotifyEvent& changed;
    DrawScope(TCanvas* c, TNotifyEvent& changing, TNotifyEvent& change) : canvas(c), changed(change) {
        changing(canvas);
    }
    ~DrawScope() { changed(canvas); }
};
}  // namespace

void TCanvas::MoveTo(int x, int y) {
    RequiredState();
    MoveToEx(d_->dc, x, y, nullptr);
    d_->pen_pos = Point(x, y);
}

void TCanvas::LineTo(int x, int y) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::LineTo(d_->dc, x, y);
    d_->pen_pos = Point(x, y);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::Rectangle(d_->dc, x1, y1, x2, y2);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::Ellipse(d_->dc, x1, y1, x2, y2);
}

void TCanvas::Polygon(std::span<const TPoint> points) {
    if (points.empty()) return;
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::Polygon(d_->dc, points.data(), static_cast<int>(std::min<size_t>(points.size(), INT32_MAX)));
}

void TCanvas::Polyline(std::span<const TPoint> points) {
    if (points.empty()) return;
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::Polyline(d_->dc, points.data(), static_cast<int>(std::min<size_t>(points.size(), INT32_MAX)));
}

void TCanvas::FillRect(const TRect& r) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::FillRect(d_->dc, &r, d_->brush->Handle());
}

void TCanvas::FrameRect(const TRect& r) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    HBRUSH b = d_->brush->Handle();
    const TRect edges[] = {
        Rect(r.left, r.top, r.right, r.top + 1),
        Rect(r.left, r.bottom - 1, r.right, r.bottom),
        Rect(r.left, r.top + 1, r.left + 1, r.bottom - 1),
        Rect(r.right - 1, r.top + 1, r.right, r.bottom - 1),
    };
    for (const TRect& e : edges)
        if (e.right > e.left && e.bottom > e.top) ::FillRect(d_->dc, &e, b);
}

void TCanvas::DrawFocusRect(const TRect& r) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    ::DrawFocusRect(d_->dc, &r);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    // The brush may have changed style since it was selected by another
    // route (a shared DC); the text background follows it now.
    SetBkMode(d_->dc, d_->brush->Style() == bsClear ? TRANSPARENT : OPAQUE);
    SetBkColor(d_->dc, ColorToRGB(d_->brush->Color()));
    const int n = static_cast<int>(std::min<size_t>(text.size(), INT32_MAX));
    ::TextOutA(d_->dc, x, y, text.data(), n);
    SIZE size{};
    GetTextExtentPoint32A(d_->dc, text.data(), n, &size);
    MoveTo(x + size.cx, y);
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    const bool clear = d_->brush->Style() == bsClear;
    if (!clear) ::FillRect(d_->dc, &r, d_->brush->Handle());
    // DrawTextA clips to its rectangle, which keeps the text inside r.
    RECT box = Rect(std::max<LONG>(x, r.left), std::max<LONG>(y, r.top), r.right, r.bottom);
    if (box.right <= box.left || box.bottom <= box.top) return;
    SetBkMode(d_->dc, TRANSPARENT);
    const int n = static_cast<int>(std::min<size_t>(text.size(), INT32_MAX));
    DrawTextA(d_->dc, text.data(), n, &box, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SetBkMode(d_->dc, clear ? TRANSPARENT : OPAQUE);
}

SIZE TCanvas::TextExtent(const std::string& text) {
    RequiredState();
    SIZE size{};
    const int n = static_cast<int>(std::min<size_t>(text.size(), INT32_MAX));
    if (!GetTextExtentPoint32A(d_->dc, text.data(), n, &size)) size = SIZE{0, 0};
    return size;
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
    if (!graphic || graphic->Empty()) return;
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    graphic->Draw(this, Rect(x, y, x + graphic->Width(), y + graphic->Height()));
}

void TCanvas::StretchDraw(const TRect& dest, TGraphic* graphic) {
    if (!graphic || graphic->Empty()) return;
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    graphic->Draw(this, dest);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas* source, const TRect& src) {
    if (!source) return;
    RequiredState();
    source->RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    StretchBlt(d_->dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top,
               source->d_->dc, src.left, src.top, src.right - src.left, src.bottom - src.top,
               d_->copy_mode);
}

TColor TCanvas::Pixels(int x, int y) {
    RequiredState();
    return static_cast<TColor>(GetPixel(d_->dc, x, y));
}

void TCanvas::SetPixels(int x, int y, TColor color) {
    RequiredState();
    DrawScope scope(this, OnChanging, OnChange);
    SetPixel(d_->dc, x, y, ColorToRGB(color));
}
