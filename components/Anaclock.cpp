#include "Anaclock.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>
#include <string>

#include "win32/kernel.h"

namespace {

constexpr const char* shape_names[] = {"csCircle", "csSquare"};
constexpr const char* align_names[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};

// Nearest, halves to even (the current rounding mode is never changed here).
int round_even(double v) { return static_cast<int>(std::nearbyint(v)); }

// Cosine of a tick (a sixtieth of a turn). The sixths of a turn give exact
// halves and wholes, so that a length times cos 60° that is a true half
// rounds to even rather than by the noise of the floating-point cosine.
double tick_cos(int tick) {
    switch (((tick % 60) + 60) % 60) {
    case 0: return 1.0;
    case 10: case 50: return 0.5;
    case 15: case 45: return 0.0;
    case 20: case 40: return -0.5;
    case 30: return -1.0;
    default: return std::cos(tick * std::numbers::pi / 30.0);
    }
}

double tick_sin(int tick) { return tick_cos(tick - 15); }

}  // namespace

const TypeInfo AnalogClockShapeType{"TAnalogClockShape", shape_names, {}};
const TypeInfo AlignType{"TAlign", align_names, {}};

TAnalogClock::TAnalogClock(TComponent* owner)
    : TCustomControl(owner), timer_(std::make_unique<TTimer>(nullptr)) {
    control_style_ |= StyleBit(csOpaque);
    SetWidth(60);
    SetHeight(60);
    timer_->SetInterval(interval_);
    timer_->SetOnTimer([this](TObject*) { TimerExpired(); });
}

TAnalogClock::~TAnalogClock() {
    // No tick may reach a clock that is half gone.
    timer_.reset();
}

// --- Properties -------------------------------------------------------------

void TAnalogClock::SetShape(TAnalogClockShape v) {
    if (v == shape_) return;
    shape_ = v;
    Invalidate();
}

void TAnalogClock::SetFaceColor(TColor v) {
    if (v == face_color_) return;
    face_color_ = v;
    Invalidate();
}

void TAnalogClock::SetBackColor(TColor v) {
    if (v == back_color_) return;
    back_color_ = v;
    Invalidate();
}

void TAnalogClock::SetSecHandColor(TColor v) {
    if (v == sec_hand_color_) return;
    sec_hand_color_ = v;
    Invalidate();
}

void TAnalogClock::SetHandsColor(TColor v) {
    if (v == hands_color_) return;
    hands_color_ = v;
    Invalidate();
}

void TAnalogClock::SetTickColor(TColor v) {
    if (v == tick_color_) return;
    tick_color_ = v;
    Invalidate();
}

void TAnalogClock::SetOutlineColor(TColor v) {
    if (v == outline_color_) return;
    outline_color_ = v;
    Invalidate();
}

void TAnalogClock::SetShowSeconds(bool v) {
    if (v == show_seconds_) return;
    show_seconds_ = v;
    Invalidate();
}

void TAnalogClock::SetInterval(uint16_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    timer_->SetInterval(ms);
}

void TAnalogClock::SetAlign(TAlign v) {
    if (v == align_) return;
    align_ = v;
    ApplyAlign();
}

void TAnalogClock::SetParent(TWinControl* parent) {
    TCustomControl::SetParent(parent);
    ApplyAlign();
}

void TAnalogClock::Loaded() {
    TCustomControl::Loaded();
    ApplyAlign();
}

void TAnalogClock::ApplyAlign() {
    if (align_ == alNone || !Parent() || HasState(csLoading)) return;
    const TRect area = Parent()->ClientRect();
    const int pw = area.right - area.left, ph = area.bottom - area.top;
    switch (align_) {
    case alNone: break;
    case alTop: SetBounds(area.left, area.top, pw, Height()); break;
    case alBottom: SetBounds(area.left, area.bottom - Height(), pw, Height()); break;
    case alLeft: SetBounds(area.left, area.top, Width(), ph); break;
    case alRight: SetBounds(area.right - Width(), area.top, Width(), ph); break;
    case alClient: SetBounds(area.left, area.top, pw, ph); break;
    }
}

void TAnalogClock::CMEnabledChanged() {
    timer_->SetEnabled(Enabled());
    TCustomControl::CMEnabledChanged();
}

// --- Messages ---------------------------------------------------------------

void TAnalogClock::WMEraseBkgnd(TMessage& m) {
    // Paint covers every pixel.
    m.Result = 1;
}

void TAnalogClock::WMPaint(TMessage& m) {
    // The face goes through one bitmap and the second hand is XOR-drawn:
    // a partial paint would leave hands half drawn, so every paint is whole.
    if (!m.WParam && HandleAllocated()) InvalidateRect(handle_, nullptr, FALSE);
    TCustomControl::WMPaint(m);
}

// --- Drawing ----------------------------------------------------------------

TPoint TAnalogClock::PointAt(int tick, int length) const {
    return Point(center_x_ + round_even(length * tick_cos(tick)),
                 center_y_ + round_even(length * tick_sin(tick)));
}

void TAnalogClock::Paint() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    bool drawn = false;
    try {
        TBitmap bitmap;
        bitmap.SetSize(Width(), Height());
        DoPaint(bitmap.Canvas(), now.wHour, now.wMinute);
        Canvas()->Draw(0, 0, &bitmap);
        drawn = true;
    } catch (const std::exception&) {
        // No off-screen bitmap: draw straight on the control instead.
    }
    if (!drawn) DoPaint(Canvas(), now.wHour, now.wMinute);
    painted_minute_ = now.wHour * 60 + now.wMinute;
    last_second_ = -1;
    DrawSecHand(now.wSecond);
}

void TAnalogClock::DoPaint(TCanvas* canvas, int hour, int minute) {
    DrawClock(canvas);
    DrawHands(canvas, hour, minute);
}

void TAnalogClock::DrawClock(TCanvas* canvas) {
    const int size = std::min(Width(), Height());
    const int x0 = (Width() - size) / 2;
    const int y0 = (Height() - size) / 2;

    canvas->Brush()->SetColor(back_color_);
    canvas->FillRect(ClientRect());

    // The control's canvas may still be in XOR mode from the second hand.
    canvas->Pen()->SetMode(pmCopy);
    canvas->Brush()->SetColor(face_color_);
    canvas->Pen()->SetColor(outline_color_);
    if (shape_ == csCircle)
        canvas->Ellipse(x0, y0, x0 + size, y0 + size);
    else
        canvas->Rectangle(x0, y0, x0 + size, y0 + size);

    const int r = size / 2;
    center_x_ = x0 + r;
    center_y_ = y0 + r;
    const int t = round_even(r * 0.9);

    canvas->Pen()->SetColor(tick_color_);
    canvas->Brush()->SetColor(tick_color_);
    for (int i = 0; i < 60; ++i) {
        const TPoint p = PointAt(i, t);
        if (i == 0) tick_radius_ = p.x - center_x_;
        if (i % 15 == 0)
            canvas->Ellipse(p.x - 2, p.y - 2, p.x + 2, p.y + 2);
        else if (i % 5 == 0)
            canvas->Ellipse(p.x - 1, p.y - 2, p.x + 2, p.y + 1);
    }
}

void TAnalogClock::DrawHands(TCanvas* canvas, int hour, int minute) {
    canvas->Pen()->SetColor(clBlack);
    canvas->Pen()->SetMode(pmCopy);
    canvas->Brush()->SetColor(hands_color_);

    auto hand = [&](int tick, int length) {
        const int half_width = round_even(length * 0.0625);
        const TPoint tip = PointAt(tick, length);
        const TPoint points[] = {tip, PointAt(tick + 15, half_width), PointAt(tick + 30, half_width),
                                 PointAt(tick + 45, half_width), tip};
        canvas->Polygon(points);
    };
    hand((minute + 45) % 60, round_even(tick_radius_ * 0.9));
    const int h = hour > 12 ? hour - 12 : hour;
    hand((5 * h + minute / 12 + 45) % 60, round_even(tick_radius_ * 0.6));
}

void TAnalogClock::DrawSecHand(int second) {
    if (!show_seconds_) return;
    const int length = round_even(tick_radius_ * 0.9);
    TCanvas* canvas = Canvas();
    canvas->Pen()->SetMode(pmXor);
    canvas->Pen()->SetColor(static_cast<TColor>(ColorToRGB(face_color_) ^ ColorToRGB(sec_hand_color_)));
    if (last_second_ != -1) PaintSecHand(last_second_, length);
    last_second_ = second;
    PaintSecHand(second, length);
}

void TAnalogClock::PaintSecHand(int second, int length) {
    const int tick = second > 15 ? second - 15 : second + 45;
    const TPoint end = PointAt(tick, length);
    Canvas()->MoveTo(center_x_, center_y_);
    Canvas()->LineTo(end.x, end.y);
}

void TAnalogClock::TimerExpired() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    // A hidden clock draws nothing: its window's area belongs to whatever
    // shows there, and it is painted whole when it shows again.
    if (HandleAllocated() && Showing()) {
        // A new minute repaints the face, normally at second 0. Going by the
        // minute shown rather than by second 0 alone keeps the hands right
        // when ticks are slower than a second and skip it, and repaints once
        // a minute also without a second hand.
        if (now.wHour * 60 + now.wMinute != painted_minute_)
            Invalidate();
        else if (now.wSecond != last_second_)
            DrawSecHand(now.wSecond);
    }
    OnTimer(this);
}

// --- Class information ------------------------------------------------------

const ClassInfo& TAnalogClock::StaticClassInfo() {
    using C = TAnalogClock;
    static const PropInfo width = props::Ord<&TControl::Width, &TControl::SetWidth>("Width", PropKind::Integer, 60);
    static const PropInfo height =
        props::Ord<&TControl::Height, &TControl::SetHeight>("Height", PropKind::Integer, 60);
    static const PropInfo on_timer = props::Evt<&C::OnTimer>("OnTimer");
    static const PropInfo align = props::Ord<&C::Align, &C::SetAlign>("Align", PropKind::Enum, alNone, &AlignType);
    static const PropInfo back_color =
        props::Ord<&C::BackColor, &C::SetBackColor>("BackColor", PropKind::Integer, clBtnFace, &ColorType);
    static const PropInfo face_color =
        props::Ord<&C::FaceColor, &C::SetFaceColor>("FaceColor", PropKind::Integer, clWindow, &ColorType);
    static const PropInfo hands_color = props::Ord<&C::HandsColor, &C::SetHandsColor>(
        "HandsColor", PropKind::Integer, clActiveCaption, &ColorType);
    static const PropInfo interval = [] {
        PropInfo p = props::Ord<&C::Interval, &C::SetInterval>("Interval", PropKind::Integer, 100);
        // The period is 16 bits: a form value outside it is refused, not cut.
        p.set_ord = [](TPersistent* o, int64_t v) {
            if (v < 0 || v > 0xFFFF) throw Exception("Interval must be 0 to 65535, not " + std::to_string(v));
            static_cast<C*>(o)->SetInterval(static_cast<uint16_t>(v));
        };
        return p;
    }();
    static const PropInfo outline_color = props::Ord<&C::OutlineColor, &C::SetOutlineColor>(
        "OutlineColor", PropKind::Integer, clWindowFrame, &ColorType);
    static const PropInfo sec_hand_color = props::Ord<&C::SecHandColor, &C::SetSecHandColor>(
        "SecHandColor", PropKind::Integer, clWindowFrame, &ColorType);
    static const PropInfo shape =
        props::Ord<&C::Shape, &C::SetShape>("Shape", PropKind::Enum, csCircle, &AnalogClockShapeType);
    static const PropInfo show_seconds =
        props::Ord<&C::ShowSeconds, &C::SetShowSeconds>("ShowSeconds", PropKind::Boolean, 1);
    static const PropInfo tick_color =
        props::Ord<&C::TickColor, &C::SetTickColor>("TickColor", PropKind::Integer, clWindowFrame, &ColorType);

    static const PropInfo* const list[] = {
        &ControlProps::Name(), &ControlProps::Tag(), &ControlProps::Left(), &ControlProps::Top(), &width,
        &height, &ControlProps::OnClick(), &ControlProps::OnDblClick(), &ControlProps::OnDragDrop(),
        &ControlProps::OnDragOver(), &ControlProps::OnEndDrag(), &ControlProps::OnMouseDown(),
        &ControlProps::OnMouseMove(), &ControlProps::OnMouseUp(), &on_timer, &align, &back_color,
        &ControlProps::Enabled(), &face_color, &hands_color, &interval, &outline_color,
        &ControlProps::ParentShowHint(), &ControlProps::PopupMenu(), &sec_hand_color, &shape, &ControlProps::ShowHint(), &show_seconds,
        &tick_color, &ControlProps::Visible()};
    static const ClassInfo info{"TAnalogClock", &TCustomControl::StaticClassInfo(), list, {}, {},
                                &props::Create<TAnalogClock>};
    return info;
}

namespace {
// Forms create clocks by class name.
const bool registered = [] {
    RegisterClass(TAnalogClock::StaticClassInfo());
    return true;
}();
}  // namespace
