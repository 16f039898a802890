#include "Colorbutton.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const kAlignmentNames[] = {
    "alTopLeft",    "alTopCenter",    "alTopRight",    "alMiddleLeft", "alMiddleCenter",
    "alMiddleRight", "alBottomLeft", "alBottomCenter", "alBottomRight",
};
const char* const kBevelNames[] = {"bbLowered", "bbNone", "bbRaised"};
const char* const kStyleNames[] = {"bsAutoSize", "bsCenter", "bsStretch", "bsShowFocus", "bsShowKey"};
constexpr TButtonStyle kAllStyles = (1u << std::size(kStyleNames)) - 1;

// A form may ask for any BevelSize or Spacing; geometry is worked out in 64
// bits and kept to coordinates the drawing calls take without overflow.
constexpr int64_t kFar = int64_t(1) << 24;
int Coord(int64_t v) { return static_cast<int>(std::clamp(v, -kFar, kFar)); }

TColor Lighten(TColor color) {
    const COLORREF c = ColorToRGB(color);
    return static_cast<TColor>(RGB(std::min(GetRValue(c) + 64, 255), std::min(GetGValue(c) + 64, 255),
                                   std::min(GetBValue(c) + 64, 255)));
}

TColor Darken(TColor color) {
    const COLORREF c = ColorToRGB(color);
    return static_cast<TColor>(RGB(std::max(GetRValue(c) - 64, 0), std::max(GetGValue(c) - 64, 0),
                                   std::max(GetBValue(c) - 64, 0)));
}

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

}  // namespace

const TypeInfo ButtonAlignmentType{"TAlignment", kAlignmentNames, {}};
const TypeInfo ButtonBevelType{"TButtonBevel", kBevelNames, {}};
const TypeInfo ButtonStyleType{"TButtonStyles", kStyleNames, {}};

TColorButton::TColorButton(TComponent* owner)
    : TCustomControl(owner), picture_(std::make_unique<TPicture>()) {
    control_style_ |= StyleBit(csOpaque);
    // A picture changed in place (loaded, drawn on) shows at once too.
    picture_->OnChange = [this](TObject*) { Repaint(); };
    SetBounds(Left(), Top(), 75, 25);
    SetEnabled(true);
    SetTabStop(true);
}

TColorButton::~TColorButton() {
    picture_->OnChange.Clear();
    picture_.reset();
}

// --- Properties ---------------------------------------------------------------

void TColorButton::SetAlignment(TAlignment value) {
    if (value > alBottomRight) return;  // not a member: nothing to place by
    alignment_ = value;
    Repaint();
}

void TColorButton::SetBevelStyle(TButtonBevel value) {
    if (value > bbRaised) return;
    bevel_style_ = value;
    Repaint();
}

void TColorButton::SetBevelSize(int value) {
    bevel_size_ = std::max(value, 1);
    Repaint();
}

void TColorButton::SetColor(TColor value) {
    color_ = value;
    Repaint();
}

void TColorButton::SetPicture(const TPicture* value) {
    if (value == picture_.get()) return;
    picture_->Assign(value);
    Repaint();
}

void TColorButton::SetSpacing(int value) {
    value = std::max(value, 0);
    if (value == spacing_) return;
    spacing_ = value;
    Repaint();
}

void TColorButton::SetStyle(TButtonStyle value) {
    value &= kAllStyles;
    if (value == style_) return;
    style_ = value;
    Repaint();
}

// --- Notifications --------------------------------------------------------------

void TColorButton::Loaded() {
    TCustomControl::Loaded();
    state_ = Enabled() ? TButtonState::Up : TButtonState::Disabled;
}

void TColorButton::CMTextChanged() { Repaint(); }

void TColorButton::CMEnabledChanged() {
    // Leaving a disabled button moves the focus, whose handlers may free it.
    const std::shared_ptr<bool> alive = AliveToken().lock();
    TCustomControl::CMEnabledChanged();
    if (!*alive) return;
    state_ = Enabled() ? TButtonState::Up : TButtonState::Disabled;
    Repaint();
}

void TColorButton::CMFontChanged() {
    TCustomControl::CMFontChanged();
    Repaint();
}

void TColorButton::CMDialogChar(char c, bool& handled) {
    if (IsAccel(c, Caption()) && Enabled()) {
        Click();
        handled = true;
        return;
    }
    TCustomControl::CMDialogChar(c, handled);
}

void TColorButton::WMSetFocus(TMessage& m) {
    const std::shared_ptr<bool> alive = AliveToken().lock();
    TCustomControl::WMSetFocus(m);
    if (!*alive) return;
    focused_ = true;
    Repaint();
}

void TColorButton::WMKillFocus(TMessage& m) {
    const std::shared_ptr<bool> alive = AliveToken().lock();
    TCustomControl::WMKillFocus(m);
    if (!*alive) return;
    focused_ = false;
    Repaint();
}

// --- Input ----------------------------------------------------------------------
// Every handler may free the button (a page closes); nothing touches it then.

void TColorButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    const std::shared_ptr<bool> alive = AliveToken().lock();
    TCustomControl::MouseDown(button, shift, x, y);
    if (!*alive || !Enabled()) return;
    state_ = TButtonState::Down;
    Repaint();
}

void TColorButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    const std::shared_ptr<bool> alive = AliveToken().lock();
    // OnMouseUp still sees the button pressed.
    TCustomControl::MouseUp(button, shift, x, y);
    if (!*alive || !Enabled()) return;
    state_ = TButtonState::Up;
    Repaint();
}

void TColorButton::DoEnter() {
    focused_ = true;
    Repaint();
    TCustomControl::DoEnter();
}

void TColorButton::DoExit() {
    focused_ = false;
    Repaint();
    TCustomControl::DoExit();
}

void TColorButton::KeyDown(uint16_t& key, TShiftState shift) {
    const std::shared_ptr<bool> alive = AliveToken().lock();
    TCustomControl::KeyDown(key, shift);
    if (!*alive || key != VK_SPACE || !Enabled()) return;
    state_ = TButtonState::Down;
    Repaint();
}

void TColorButton::KeyUp(uint16_t& key, TShiftState shift) {
    const std::shared_ptr<bool> alive = AliveToken().lock();
    TCustomControl::KeyUp(key, shift);
    if (!*alive) return;
    if (key == VK_SPACE && Enabled()) {
        state_ = TButtonState::Up;
        Click();
        if (!*alive) return;
        Repaint();
    }
    // Return clicks on release only, without a pressed look.
    if (key == VK_RETURN && state_ != TButtonState::Disabled) Click();
}

// --- Painting -------------------------------------------------------------------

void TColorButton::Paint() {
    if (!Enabled() && !Designing())
        state_ = TButtonState::Disabled;
    else if (state_ == TButtonState::Disabled)
        state_ = TButtonState::Up;

    TGraphic* image = picture_->Graphic();
    const bool has_image = image && !image->Empty();
    if (HasButtonStyle(bsAutoSize) && has_image) {
        const int64_t frame = 2 * int64_t(bevel_size_);
        SetBounds(Left(), Top(), Coord(picture_->Width() + frame), Coord(picture_->Height() + frame));
    }

    const int64_t width = Width(), height = Height();
    TCanvas* canvas = Canvas();
    canvas->SetFont(Font());
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Brush()->SetColor(color_);
    canvas->FillRect(Rect(0, 0, Coord(width), Coord(height)));

    int64_t left = 0, top = 0, right = width, bottom = height;
    if (bevel_style_ != bbNone) {
        const bool sunken = (state_ == TButtonState::Down) != (bevel_style_ == bbLowered);
        const TColor top_color = sunken ? Darken(color_) : Lighten(color_);
        const TColor bottom_color = sunken ? Lighten(color_) : Darken(color_);
        TPen* pen = canvas->Pen();
        pen->SetWidth(1);
        for (const auto& [first, last] : VisibleFrames()) {
            for (int64_t i = first; i < last; ++i) {
                const int64_t l = left + i, t = top + i, r = right - 1 - i, b = bottom - 1 - i;
                pen->SetColor(top_color);
                const TPoint upper[] = {Point(Coord(l), Coord(b)), Point(Coord(l), Coord(t)),
                                        Point(Coord(r), Coord(t))};
                canvas->Polyline(upper);
                pen->SetColor(bottom_color);
                const TPoint lower[] = {Point(Coord(r), Coord(t)), Point(Coord(r), Coord(b)),
                                        Point(Coord(l - 1), Coord(b))};
                canvas->Polyline(lower);
            }
        }
        left += bevel_size_;
        top += bevel_size_;
        right -= bevel_size_;
        bottom -= bevel_size_;
    }

    if (focused_ && HasButtonStyle(bsShowFocus) && Enabled()) {
        canvas->DrawFocusRect(Rect(Coord(left + spacing_ - 1), Coord(top + spacing_ - 1),
                                   Coord(right - spacing_ + 1), Coord(bottom - spacing_ + 1)));
    }

    if (has_image) {
        const int64_t m = int64_t(bevel_size_) + spacing_;
        const int64_t pw = picture_->Width(), ph = picture_->Height();
        int64_t x = (width - pw) / 2, y = (height - ph) / 2;
        int64_t x2 = 0, y2 = 0;
        if (HasButtonStyle(bsStretch)) {
            x = m;
            y = m;
            x2 = width - m;
            y2 = height - m;
        } else {
            if (!HasButtonStyle(bsCenter)) {
                // The picture keeps clear of the caption.
                switch (alignment_) {
                case alTopLeft:
                case alTopCenter:
                case alTopRight: y = height - m - ph; break;
                case alMiddleLeft: x = width - m - pw; break;
                case alMiddleRight: x = m; break;
                case alBottomLeft:
                case alBottomCenter:
                case alBottomRight: y = m; break;
                case alMiddleCenter: break;
                }
            }
            x2 = x + pw;
            y2 = y + ph;
        }
        // A button smaller than its margins has no room: a reversed
        // rectangle would draw the picture mirrored.
        if (x2 > x && y2 > y) canvas->StretchDraw(Rect(Coord(x), Coord(y), Coord(x2), Coord(y2)), image);
    }

    if (!Caption().empty()) {
        canvas->Brush()->SetStyle(bsClear);
        if (!Enabled() && !Designing()) {
            // Engraved: a light copy one pixel down and right, dark on top.
            canvas->Font()->SetColor(Lighten(color_));
            DrawCaption(1);
            canvas->Font()->SetColor(Darken(color_));
            DrawCaption(0);
        } else {
            DrawCaption(0);
        }
    }
}

std::vector<std::pair<int64_t, int64_t>> TColorButton::VisibleFrames() const {
    // Frame i lies on columns i and Width-1-i and rows i and Height-1-i; only
    // those that can cross the part of the button on the screen are drawn,
    // so that a huge BevelSize on a huge button costs no more than a small
    // one. Ranges are [first, last), in drawing order.
    const int64_t width = Width(), height = Height();
    const int64_t frames = std::min<int64_t>(bevel_size_, std::max(width, height));
    const TPoint origin = ClientToScreen(Point(0, 0));
    const int64_t x0 = std::max<int64_t>(0, -int64_t(origin.x));
    const int64_t y0 = std::max<int64_t>(0, -int64_t(origin.y));
    const int64_t x1 = std::min<int64_t>(width, int64_t(GetSystemMetrics(SM_CXSCREEN)) - origin.x);
    const int64_t y1 = std::min<int64_t>(height, int64_t(GetSystemMetrics(SM_CYSCREEN)) - origin.y);
    std::vector<std::pair<int64_t, int64_t>> spans = {
        {x0, x1}, {width - x1, width - x0}, {y0, y1}, {height - y1, height - y0}};
    for (auto& [a, b] : spans) {
        a = std::clamp<int64_t>(a, 0, frames);
        b = std::clamp<int64_t>(b, 0, frames);
    }
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<int64_t, int64_t>> merged;
    for (const auto& [a, b] : spans) {
        if (a >= b) continue;
        if (!merged.empty() && a <= merged.back().second)
            merged.back().second = std::max(merged.back().second, b);
        else
            merged.emplace_back(a, b);
    }
    return merged;
}

void TColorButton::DrawCaption(int offset) {
    TCanvas* canvas = Canvas();
    std::string text = Caption();
    size_t key = 0;  // 1-based position of the accelerator in `text`, 0 for none
    if (const size_t amp = text.find('&'); amp != std::string::npos) {
        text.erase(amp, 1);
        key = amp + 1;
    }

    const int64_t m = int64_t(bevel_size_) + spacing_;
    const SIZE extent = canvas->TextExtent(text);
    const int64_t w = extent.cx, h = extent.cy;
    const int64_t width = Width(), height = Height();
    const int column = alignment_ % 3, row = alignment_ / 3;
    const int64_t x = column == 0   ? m + offset
                      : column == 1 ? (width - 2 * m - w) / 2 + m + offset
                                    : width - m - w + offset;
    const int64_t y = row == 0   ? m + offset
                      : row == 1 ? (height - 2 * m - h) / 2 + m + offset
                                 : height - m - h + offset;
    canvas->TextOut(Coord(x), Coord(y), text);

    if (key > 0 && HasButtonStyle(bsShowKey)) {
        // A double-byte accelerator is underlined whole.
        size_t end = key;
        if (end < text.size() && IsLeadByte(static_cast<unsigned char>(text[key - 1])) &&
            IsTrailByte(static_cast<unsigned char>(text[key])))
            ++end;
        const int64_t from = x + canvas->TextWidth(text.substr(0, key - 1));
        const int64_t to = x + canvas->TextWidth(text.substr(0, end));
        const int64_t line = y + canvas->TextHeight("ABC");
        canvas->Pen()->SetColor(canvas->Font()->Color());
        canvas->Pen()->SetWidth(1);
        canvas->MoveTo(Coord(from), Coord(line));
        canvas->LineTo(Coord(to), Coord(line));
    }
}

// --- Class information ------------------------------------------------------------

const ClassInfo& TColorButton::StaticClassInfo() {
    using B = TColorButton;
    static const PropInfo alignment = props::Ord<&B::Alignment, &B::SetAlignment>(
        "Alignment", PropKind::Enum, alMiddleCenter, &ButtonAlignmentType);
    static const PropInfo bevel_style = props::Ord<&B::BevelStyle, &B::SetBevelStyle>(
        "BevelStyle", PropKind::Enum, bbRaised, &ButtonBevelType);
    static const PropInfo bevel_size =
        props::Ord<&B::BevelSize, &B::SetBevelSize>("BevelSize", PropKind::Integer, 2);
    static const PropInfo color =
        props::Ord<&B::Color, &B::SetColor>("Color", PropKind::Integer, clBtnFace, &ColorType);
    static const PropInfo picture = props::Obj<&B::Picture>("Picture");
    static const PropInfo spacing = props::Ord<&B::Spacing, &B::SetSpacing>("Spacing", PropKind::Integer, 2);
    static const PropInfo style = props::Ord<&B::Style, &B::SetStyle>(
        "Style", PropKind::Set,
        ButtonStyleBit(bsCenter) | ButtonStyleBit(bsShowFocus) | ButtonStyleBit(bsShowKey), &ButtonStyleType);
    namespace P = ControlProps;
    static const PropInfo* const list[] = {
        &alignment,        &bevel_style,       &bevel_size,     &P::Caption(),     &color,
        &P::Cursor(),      &P::DragCursor(),   &P::DragMode(),  &P::Enabled(),     &P::Font(),
        &P::Height(),      &P::Hint(),         &P::Left(),      &P::Name(),        &picture,
        &P::ShowHint(),    &spacing,           &style,          &P::Tag(),         &P::TabOrder(),
        &P::TabStop(),     &P::Top(),          &P::Visible(),   &P::Width(),       &P::OnClick(),
        &P::OnDblClick(),  &P::OnDragDrop(),   &P::OnDragOver(), &P::OnEndDrag(),  &P::OnEnter(),
        &P::OnExit(),      &P::OnKeyDown(),    &P::OnKeyPress(), &P::OnKeyUp(),    &P::OnMouseDown(),
        &P::OnMouseMove(), &P::OnMouseUp(),    &P::OnStartDrag(),
    };
    static const ClassInfo info{"TColorButton", &TCustomControl::StaticClassInfo(), list, {}, {},
                                &props::Create<TColorButton>};
    return info;
}

namespace {
// The form reader creates buttons by class name.
const bool registered = [] {
    RegisterClass(TColorButton::StaticClassInfo());
    return true;
}();
}  // namespace
