#include "stdctrls.h"

namespace cp = ControlProps;

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
    control_style_ |= StyleBit(csOpaque) | StyleBit(csReplicatable);
    SetColor(clBtnFace);
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetAlignment(TTextAlignment a) {
    if (a == alignment_) return;
    alignment_ = a;
    Invalidate();
}

void TLabel::SetAutoSize(bool v) {
    if (v == auto_size_) return;
    auto_size_ = v;
    AdjustBounds();
}

void TLabel::SetTransparent(bool v) {
    if (v == transparent_) return;
    transparent_ = v;
    // A transparent label does not cover its whole area.
    if (v)
        control_style_ &= ~StyleBit(csOpaque);
    else
        control_style_ |= StyleBit(csOpaque);
    Invalidate();
}

void TLabel::SetWordWrap(bool v) {
    if (v == word_wrap_) return;
    word_wrap_ = v;
    AdjustBounds();
    Invalidate();
}

void TLabel::SetShowAccelChar(bool v) {
    if (v == show_accel_char_) return;
    show_accel_char_ = v;
    AdjustBounds();
    Invalidate();
}

void TLabel::CMTextChanged() {
    Invalidate();
    AdjustBounds();
}

void TLabel::CMFontChanged() {
    TGraphicControl::CMFontChanged();
    AdjustBounds();
}

UINT TLabel::DrawFlags() const {
    UINT flags = DT_EXPANDTABS;
    if (word_wrap_) flags |= DT_WORDBREAK;
    if (!show_accel_char_) flags |= DT_NOPREFIX;
    if (alignment_ == taRightJustify) flags |= DT_RIGHT;
    if (alignment_ == taCenter) flags |= DT_CENTER;
    return flags;
}

void TLabel::AdjustBounds() {
    // The size read from a form stays as it was stored.
    if (!auto_size_ || HasState(csLoading) || HasState(csReading)) return;
    HDC dc = GetDC(nullptr);
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, Font()->Handle());
    // An empty caption still gets the height of a line.
    const std::string text = Caption().empty() ? std::string(" ") : Caption();
    RECT r = Rect(0, 0, word_wrap_ ? Width() : 0x7FFF, 0);
    DrawTextA(dc, text.c_str(), -1, &r, DrawFlags() | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const int w = word_wrap_ ? Width() : int(r.right - r.left);
    const int h = int(r.bottom - r.top);
    // A right-aligned label keeps its right edge where it was.
    const int left = alignment_ == taRightJustify ? Left() + Width() - w : Left();
    SetBounds(left, Top(), w, h);
}

void TLabel::Paint() {
    TCanvas* c = Canvas();
    TRect r = ClientRect();
    if (!transparent_) {
        c->Brush()->SetStyle(bsSolid);
        c->Brush()->SetColor(Color());
        c->FillRect(r);
    }
    if (Caption().empty()) return;
    c->Font()->Assign(Font());
    c->Brush()->SetStyle(bsClear);
    HDC dc = c->Handle();
    if (!dc) return;
    SelectObject(dc, c->Font()->Handle());
    SetBkMode(dc, TRANSPARENT);
    const TColor color = Enabled() ? Font()->Color() : clGrayText;
    SetTextColor(dc, ColorToRGB(color));
    const std::string& text = Caption();
    DrawTextA(dc, text.c_str(), -1, &r, DrawFlags());
}

const ClassInfo& TLabel::StaticClassInfo() {
    static const PropInfo alignment = props::Ord<&TLabel::Alignment, &TLabel::SetAlignment>(
        "Alignment", PropKind::Enum, taLeftJustify, &AlignmentType);
    static const PropInfo auto_size =
        props::Ord<&TLabel::AutoSize, &TLabel::SetAutoSize>("AutoSize", PropKind::Boolean, 1);
    static const PropInfo color =
        props::Ord<&TLabel::Color, &TLabel::SetColor>("Color", PropKind::Integer, clBtnFace, &ColorType);
    static const PropInfo show_accel =
        props::Ord<&TLabel::ShowAccelChar, &TLabel::SetShowAccelChar>("ShowAccelChar", PropKind::Boolean, 1);
    static const PropInfo transparent =
        props::Ord<&TLabel::Transparent, &TLabel::SetTransparent>("Transparent", PropKind::Boolean, 0);
    static const PropInfo word_wrap =
        props::Ord<&TLabel::WordWrap, &TLabel::SetWordWrap>("WordWrap", PropKind::Boolean, 0);
    static const PropInfo* const list[] = {&cp::Name(),        &cp::Tag(),
                                           &alignment,         &auto_size,
                                           &cp::Caption(),     &color,
                                           &cp::Cursor(),      &cp::DragCursor(),
                                           &cp::DragMode(),    &cp::Enabled(),
                                           &cp::Font(),        &cp::Height(),
                                           &cp::Hint(),        &cp::Left(),
                                           &cp::ParentFont(),  &cp::ParentShowHint(),
                                           &show_accel,        &cp::ShowHint(),
                                           &cp::Top(),         &transparent,
                                           &cp::Visible(),     &cp::Width(),
                                           &word_wrap,         &cp::OnClick(),
                                           &cp::OnDblClick(),  &cp::OnDragDrop(),
                                           &cp::OnDragOver(),  &cp::OnEndDrag(),
                                           &cp::OnMouseDown(), &cp::OnMouseMove(),
                                           &cp::OnMouseUp(),   &cp::OnStartDrag()};
    static const ClassInfo info{
        "TLabel", &TGraphicControl::StaticClassInfo(), list, {}, {}, &props::Create<TLabel>};
    return info;
}

namespace {
// The form reader creates labels by class name.
const bool registered = [] {
    RegisterClass(TLabel::StaticClassInfo());
    return true;
}();
}  // namespace
