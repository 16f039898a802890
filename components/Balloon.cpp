// The balloon hint component and its hint windows.
#include "Balloon.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "controls.h"
#include "win32/gdi.h"
#include "win32/kernel.h"
#include "win32/user.h"


PBalloonProps ActiveBalloonProps = nullptr;

namespace {

constexpr const char* kShapeNames[] = {"bsRoundRect", "bsRectangle"};
constexpr const char* kShadowStyleNames[] = {"ssShaded", "ssSolid"};
constexpr const char* kPositionNames[] = {"bpAboveLeft", "bpAboveRight", "bpBelowLeft", "bpBelowRight"};
constexpr const char* kBehaviorNames[] = {"bbNoShowMouseDown", "bbUseRegions", "bbHideOnPaint"};

// Geometry of the balloon: the corner ellipse, the room the tail takes
// beside and below the body, the text margin, and the smallest width.
constexpr int kCornerEllipse = 18;
constexpr int kTailWidth = 15;
constexpr int kTailHeight = 19;
constexpr int kTextMargin = 9;
constexpr int kExtraWidth = 33;
constexpr int kExtraHeight = 38;
constexpr int kMinWidth = 59;
constexpr size_t kMaxTextBytes = 255;
// Destination AND pattern: the pattern's black pixels blacken what is there.
constexpr DWORD kPatternAnd = 0x00A000C9u;

// The hook and the balloon that shows without regions; at most one of each.
struct HookState {
    HHOOK hook = nullptr;
    HWND showing = nullptr;
    TBalloonWindow* owner = nullptr;
};
HookState& hook_state() {
    static HookState state;
    return state;
}

// Balloon windows alive now, so a component going away can unhook them
// from its settings.
std::vector<TBalloonWindow*>& live_windows() {
    static std::vector<TBalloonWindow*> list;
    return list;
}

int screen_width() { return GetSystemMetrics(SM_CXSCREEN); }
int screen_height() { return GetSystemMetrics(SM_CYSCREEN); }

// 8x8, black where x + y is even: half the pixels of the shadow go dark.
TBitmap* shadow_pattern() {
    static const std::unique_ptr<TBitmap> pattern = [] {
        auto b = std::make_unique<TBitmap>();
        b->SetSize(8, 8);
        TCanvas* c = b->Canvas();
        c->Brush()->SetStyle(bsSolid);
        c->Brush()->SetColor(clWhite);
        c->FillRect(Rect(0, 0, 8, 8));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if ((x + y) % 2 == 0) c->SetPixels(x, y, clBlack);
        return b;
    }();
    return pattern.get();
}

bool mouse_button_down() {
    for (int vk : {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON})
        if (GetKeyState(vk) & 0x8000) return true;
    return false;
}

bool rects_meet(const RECT& a, const RECT& b) {
    return a.left < a.right && a.top < a.bottom && b.left < b.right && b.top < b.bottom &&
           a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TRect moved(TRect r, int dx, int dy) { return Rect(r.left + dx, r.top + dy, r.right + dx, r.bottom + dy); }

struct GdiObject {
    HGDIOBJ handle;
    ~GdiObject() {
        if (handle) DeleteObject(handle);
    }
};

}  // namespace

const TypeInfo BalloonShapeType{"TBalloonShape", kShapeNames, {}};
const TypeInfo BalloonShadowStyleType{"TBalloonShadowStyle", kShadowStyleNames, {}};
const TypeInfo BalloonPositionType{"TBalloonPosition", kPositionNames, {}};
const TypeInfo BalloonBehaviorsType{"TBalloonBehaviors", kBehaviorNames, {}};

TRect AdjustPositionToPoint(TBalloonPosition position, TPoint p, int width, int height) {
    switch (position) {
    case bpAboveLeft: return Rect(p.x - width, p.y - height, p.x, p.y);
    case bpAboveRight: return Rect(p.x, p.y - height, p.x + width, p.y);
    case bpBelowLeft: return Rect(p.x - width, p.y, p.x, p.y + height);
    case bpBelowRight: break;
    }
    // Clear of the cursor's hot spot.
    return Rect(p.x + 1, p.y + 1, p.x + 1 + width, p.y + 1 + height);
}

// --- TBalloonBase -----------------------------------------------------------------

TBalloonBase::TBalloonBase(TComponent* owner) : TComponent(owner), font_(std::make_unique<TFont>()) {
    props_.Font = font_.get();
    props_.Color = Application ? Application->HintColor() : clInfoBk;
    SetMaxWidth(-4);
}

TBalloonBase::~TBalloonBase() {
    // A window still pointing here falls back to the defaults.
    for (TBalloonWindow* w : live_windows())
        if (w->BalloonProps() == &props_) w->SetBalloonProps(nullptr);
    if (ActiveBalloonProps == &props_) ActiveBalloonProps = nullptr;
}

void TBalloonBase::SetFont(const TFont* font) {
    if (font) font_->Assign(font);
}

void TBalloonBase::SetMaxWidth(int32_t value) {
    const int sw = screen_width();
    if (value >= sw) value = sw;
    props_.MaxWidth = value;
    // 64-bit: the most negative value has no 32-bit magnitude.
    props_.MaxWidthPixels =
        value >= 0 ? value : static_cast<int32_t>(sw / -static_cast<int64_t>(value));
}

void TBalloonBase::SetShadowDepth(int depth) {
    props_.ShadowDepth = static_cast<TShadowDepth>(std::clamp(depth, 0, kMaxShadowDepth));
}

const ClassInfo& TBalloonBase::StaticClassInfo() {
    using B = TBalloonBase;
    static const PropInfo border = props::Ord<&B::BorderColor, &B::SetBorderColor>(
        "BorderColor", PropKind::Integer, std::nullopt, &ColorType);
    static const PropInfo color =
        props::Ord<&B::Color, &B::SetColor>("Color", PropKind::Integer, std::nullopt, &ColorType);
    static const PropInfo font = props::Obj<&B::Font>("Font");
    static const PropInfo max_width = props::Ord<&B::MaxWidth, &B::SetMaxWidth>("MaxWidth", PropKind::Integer);
    static const PropInfo behavior = props::Ord<&B::Behavior, &B::SetBehavior>(
        "Behavior", PropKind::Set, std::nullopt, &BalloonBehaviorsType);
    static const PropInfo position = props::Ord<&B::Position, &B::SetPosition>(
        "Position", PropKind::Enum, std::nullopt, &BalloonPositionType);
    static const PropInfo depth =
        props::Ord<&B::ShadowDepth, &B::SetShadowDepth>("ShadowDepth", PropKind::Integer);
    static const PropInfo shadow_style = props::Ord<&B::ShadowStyle, &B::SetShadowStyle>(
        "ShadowStyle", PropKind::Enum, ssShaded, &BalloonShadowStyleType);
    static const PropInfo shape =
        props::Ord<&B::Shape, &B::SetShape>("Shape", PropKind::Enum, std::nullopt, &BalloonShapeType);
    static const PropInfo style =
        props::Ord<&B::Style, &B::SetStyle>("Style", PropKind::Enum, hsDefault, &HintStyleType);
    static const PropInfo* const list[] = {&ControlProps::Name(), &ControlProps::Tag(), &border, &color,
                                           &font, &max_width, &behavior, &position, &depth,
                                           &shadow_style, &shape, &style};
    static const ClassInfo info{"TBalloonBase", &TComponent::StaticClassInfo(), list, {}, {}};
    return info;
}

// --- TBalloonHint -----------------------------------------------------------------

TBalloonHint::TBalloonHint(TComponent* owner) : TBalloonBase(owner) {
    ActiveBalloonProps = &props_;
    SetActive(true);
}

TBalloonHint::~TBalloonHint() {
    if (ActiveBalloonProps == &props_) ActiveBalloonProps = nullptr;
    SetActive(false);
}

void TBalloonHint::SetActive(bool on) {
    active_ = on;
    if (HasState(csDesigning) || !Application || Application->HasState(csDestroying)) return;
    // Turning the hints off and on again makes the application build its
    // hint window anew, of the class set in between.
    const bool show = Application->ShowHint();
    Application->SetShowHint(false);
    if (on)
        Application->SetHintWindowClass(
            [](TComponent* owner) -> THintWindow* { return new TBalloonHintWindow(owner); });
    else
        Application->SetHintWindowClass(nullptr);  // the standard one
    Application->SetShowHint(show);
}

const ClassInfo& TBalloonHint::StaticClassInfo() {
    static const PropInfo active =
        props::Ord<&TBalloonHint::Active, &TBalloonHint::SetActive>("Active", PropKind::Boolean);
    static const std::vector<const PropInfo*> list = [] {
        auto base = TBalloonBase::StaticClassInfo().props;
        std::vector<const PropInfo*> v(base.begin(), base.end());
        v.push_back(&active);
        return v;
    }();
    static const ClassInfo info{"TBalloonHint", &TBalloonBase::StaticClassInfo(), list, {}, {},
                                &props::Create<TBalloonHint>};
    return info;
}

namespace {
const bool registered = [] {
    RegisterClass(TBalloonHint::StaticClassInfo());
    return true;
}();
}  // namespace

// --- TBalloonWindow ---------------------------------------------------------------

void TBalloonWindow::FontDeleter::operator()(HFONT f) const {
    if (f) DeleteObject(f);
}

TBalloonWindow::TBalloonWindow(TComponent* owner) : THintWindow(owner) { live_windows().push_back(this); }

TBalloonWindow::~TBalloonWindow() {
    auto& list = live_windows();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    HookState& st = hook_state();
    if (st.owner == this) {
        st.owner = nullptr;
        st.showing = nullptr;
        RemoveHook();
    }
}

const TBalloonProps& TBalloonWindow::Settings() const {
    if (props_) return *props_;
    static TBalloonProps defaults;
    defaults.MaxWidthPixels = screen_width() / 4;
    return defaults;
}

void TBalloonWindow::CreateParams(TCreateParams& params) {
    THintWindow::CreateParams(params);
    params.Style = WS_POPUP | WS_DISABLED;
}

void TBalloonWindow::CMTextChanged() {
    THintWindow::CMTextChanged();
    CalcBounds();
}

void TBalloonWindow::WMEraseBkgnd(TMessage& m) {
    // The paint copies what lies beneath; erasing would lose it.
    m.Result = 1;
}

void TBalloonWindow::WMNCPaint(TMessage& m) { m.Result = 0; }

void TBalloonWindow::WMNCHitTest(TMessage& m) {
    // Not the hint window's see-through answer: the balloon is a window of
    // its own under the mouse.
    DefaultHandler(m);
}

void TBalloonWindow::WMShowWindow(TMessage& m) {
    THintWindow::WMShowWindow(m);
    if (m.WParam) return;
    HookState& st = hook_state();
    if (st.owner == this || !st.owner) {
        st.owner = nullptr;
        st.showing = nullptr;
        RemoveHook();
    }
}

void TBalloonWindow::RemoveHook() {
    HookState& st = hook_state();
    if (st.hook) UnhookWindowsHookEx(st.hook);
    st.hook = nullptr;
}

LRESULT CALLBACK TBalloonWindow::MessageHook(int code, WPARAM wp, LPARAM lp) {
    HookState& st = hook_state();
    const LRESULT result = CallNextHookEx(st.hook, code, wp, lp);
    if (code != HC_ACTION || !lp || !st.owner || !st.showing) return result;
    const MSG& msg = *reinterpret_cast<const MSG*>(lp);
    bool cancel = false;
    switch (msg.message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN: cancel = true; break;
    case WM_PAINT: {
        if (msg.hwnd == st.showing || !(st.owner->Settings().Behavior & BalloonBehaviorBit(bbHideOnPaint)))
            break;
        RECT update{};
        if (!GetUpdateRect(msg.hwnd, &update, FALSE)) break;
        POINT a{update.left, update.top}, b{update.right, update.bottom};
        ::ClientToScreen(msg.hwnd, &a);
        ::ClientToScreen(msg.hwnd, &b);
        RECT balloon{};
        if (!GetWindowRect(st.showing, &balloon)) break;
        cancel = rects_meet(RECT{a.x, a.y, b.x, b.y}, balloon);
        break;
    }
    default: break;
    }
    if (cancel && Application) Application->CancelHint();
    return result;
}

std::string TBalloonWindow::DrawnText() const {
    const std::string& caption = Caption();
    if (caption.size() <= kMaxTextBytes) return caption;
    // Cut to 255 bytes without splitting a double-byte character.
    size_t n = 0;
    while (n < kMaxTextBytes) {
        const size_t len = static_cast<unsigned char>(caption[n]) >= 0x81 ? 2 : 1;
        if (n + len > kMaxTextBytes) break;
        n += len;
    }
    return caption.substr(0, n);
}

HGDIOBJ TBalloonWindow::SelectTextFont(HDC dc) {
    return system_font_ && dc ? SelectObject(dc, system_font_.get()) : nullptr;
}

void TBalloonWindow::CalcBounds() {
    const TBalloonProps& p = Settings();
    const int d = p.ShadowDepth, e = d + kExtraWidth;
    POINT cursor{};
    GetCursorPos(&cursor);
    const int sw = screen_width();
    const int room = std::max<int>(cursor.x, sw - cursor.x);
    const int w = std::min(room, p.MaxWidthPixels);
    // A balloon too narrow for its frame still wraps at every word.
    RECT r{0, 0, std::max(1, w - e), 0};
    const std::string text = DrawnText();
    if (HDC dc = Canvas()->Handle()) {
        HGDIOBJ old = SelectTextFont(dc);
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        if (old) SelectObject(dc, old);
    }
    SetBounds(Left(), Top(), std::max<int>(r.right - r.left + e, kMinWidth), r.bottom - r.top + kExtraHeight + d);
}

TRect TBalloonWindow::CalcHintRect(int, const std::string&) { return Rect(0, 0, Width(), Height()); }

TBalloonWindow::Metrics TBalloonWindow::CalcDrawMetrics() {
    const int w = ClientWidth(), h = ClientHeight(), d = Settings().ShadowDepth;
    Metrics m{};
    m.Body = Rect(0, 0, w - d - kTailWidth, h - d - kTailHeight);
    TPoint tip{};
    int dx = 0, dy = 0, sx = 1, sy = 1;
    switch (position_) {
    case bpAboveLeft:
        tip = Point(w - d, h - d);
        sx = -1;
        sy = -1;
        break;
    case bpAboveRight:
        dx = kTailWidth;
        tip = Point(0, h - d);
        sy = -1;
        break;
    case bpBelowLeft:
        dy = kTailHeight;
        tip = Point(w - d, 0);
        sx = -1;
        break;
    case bpBelowRight:
        dx = kTailWidth;
        dy = kTailHeight;
        tip = Point(0, 0);
        break;
    }
    m.Body = moved(m.Body, dx, dy);
    // The tail rises 20 pixels to a body above the tip, or drops 19 to one below.
    const int rise = sy < 0 ? -20 : 19;
    m.Tail[0] = tip;
    m.Tail[1] = Point(tip.x + sx * 21, tip.y + rise);
    m.Tail[2] = Point(tip.x + sx * 41, tip.y + rise);
    m.Text = Rect(m.Body.left + kTextMargin, m.Body.top + kTextMargin, m.Body.right - kTextMargin,
                  m.Body.bottom - kTextMargin);
    return m;
}

HRGN TBalloonWindow::CreateBalloonRegion(const TRect& body, const TPoint (&tail)[3], int offset) {
    TRect b = body;
    TPoint t[3] = {tail[0], tail[1], tail[2]};
    if (offset > 0) {
        b = moved(b, offset, offset);
        for (TPoint& p : t) p = Point(p.x + offset, p.y + offset);
    }
    GdiObject body_rgn{Settings().Shape == bsRoundRect
                           ? CreateRoundRectRgn(b.left, b.top, b.right, b.bottom, kCornerEllipse, kCornerEllipse)
                           : CreateRectRgn(b.left, b.top, b.right, b.bottom)};
    GdiObject tail_rgn{CreatePolygonRgn(t, 3, ALTERNATE)};
    if (!body_rgn.handle || !tail_rgn.handle) return nullptr;
    HRGN result = CreateRectRgn(0, 0, 0, 0);
    if (!result) return nullptr;
    if (CombineRgn(result, static_cast<HRGN>(tail_rgn.handle), static_cast<HRGN>(body_rgn.handle), RGN_OR) ==
        ERROR) {
        DeleteObject(result);
        return nullptr;
    }
    return result;
}

void TBalloonWindow::DrawBalloon(TCanvas* canvas, const TRect& body, const TPoint (&tail)[3], int offset,
                                 TColor fill, TColor frame) {
    GdiObject region{CreateBalloonRegion(body, tail, offset)};
    HDC dc = canvas->Handle();
    if (!region.handle || !dc) return;
    GdiObject fill_brush{CreateSolidBrush(ColorToRGB(fill))};
    GdiObject frame_brush{CreateSolidBrush(ColorToRGB(frame))};
    const auto rgn = static_cast<HRGN>(region.handle);
    if (fill_brush.handle) FillRgn(dc, rgn, static_cast<HBRUSH>(fill_brush.handle));
    if (frame_brush.handle) FrameRgn(dc, rgn, static_cast<HBRUSH>(frame_brush.handle), 1, 1);
}

void TBalloonWindow::Paint() {
    const int w = ClientWidth(), h = ClientHeight();
    HDC window_dc = Canvas()->Handle();
    if (w <= 0 || h <= 0 || !window_dc) return;
    const TBalloonProps& p = Settings();
    const Metrics m = CalcDrawMetrics();
    // Everything is drawn off screen, then copied in one go.
    TBitmap a, mask, shape;
    for (TBitmap* b : {&a, &mask, &shape}) b->SetSize(w, h);
    HDC adc = a.Canvas()->Handle();
    BitBlt(adc, 0, 0, w, h, window_dc, 0, 0, SRCCOPY);

    const int d = p.ShadowDepth;
    if (d > 0) {
        if (p.ShadowStyle == ssSolid) {
            DrawBalloon(a.Canvas(), m.Body, m.Tail, d, clBlack, clBlack);
        } else {
            // mask: the background with every other pixel black, white
            // outside balloon and shadow; ANDed in, it darkens the shadow
            // area by half and leaves the rest.
            HDC mdc = mask.Canvas()->Handle();
            BitBlt(mdc, 0, 0, w, h, adc, 0, 0, SRCCOPY);
            mask.Canvas()->Brush()->SetBitmap(shadow_pattern());
            PatBlt(mdc, 0, 0, w, h, kPatternAnd);
            mask.Canvas()->Brush()->SetBitmap(nullptr);
            TCanvas* sc = shape.Canvas();
            sc->Brush()->SetStyle(bsSolid);
            sc->Brush()->SetColor(clWhite);
            sc->FillRect(Rect(0, 0, w, h));
            sc->Brush()->SetColor(clBlack);
            sc->Pen()->SetColor(clBlack);
            DrawBalloon(sc, m.Body, m.Tail, 0, clBlack, clBlack);
            DrawBalloon(sc, m.Body, m.Tail, d, clBlack, clBlack);
            BitBlt(mdc, 0, 0, w, h, sc->Handle(), 0, 0, SRCPAINT);
            BitBlt(adc, 0, 0, w, h, mdc, 0, 0, SRCAND);
        }
    }
    DrawBalloon(a.Canvas(), m.Body, m.Tail, 0, fill_color_, frame_color_);

    TCanvas* ac = a.Canvas();
    ac->Font()->Assign(Canvas()->Font());
    ac->Brush()->SetStyle(bsClear);
    HGDIOBJ old = SelectTextFont(adc);
    SetBkMode(adc, TRANSPARENT);
    SetTextColor(adc, ColorToRGB(ac->Font()->Color()));
    const std::string text = DrawnText();
    RECT tr = m.Text;
    DrawTextA(adc, text.c_str(), static_cast<int>(text.size()), &tr, DT_WORDBREAK | DT_NOPREFIX);
    if (old) SelectObject(adc, old);

    Canvas()->Draw(0, 0, &a);
}

const ClassInfo& TBalloonWindow::StaticClassInfo() {
    static const ClassInfo info{"TBalloonWindow", &THintWindow::StaticClassInfo(),
                                THintWindow::StaticClassInfo().props, {}, {}};
    return info;
}

// --- TBalloonHintWindow -----------------------------------------------------------

TBalloonHintWindow::TBalloonHintWindow(TComponent* owner) : TBalloonWindow(owner) {
    props_ = ActiveBalloonProps;
}

void TBalloonHintWindow::ActivateHint(const TRect&, const std::string& text) {
    const TBalloonProps& p = Settings();
    if ((p.Behavior & BalloonBehaviorBit(bbNoShowMouseDown)) && mouse_button_down()) {
        if (Application) Application->CancelHint();
        return;
    }
    SetCaption(text);

    TFont* font = Canvas()->Font();
    switch (p.Style) {
    case hsCustom:
        if (p.Font) font->Assign(p.Font);
        system_font_.reset();
        fill_color_ = p.Color;
        frame_color_ = p.BorderColor;
        break;
    case hsSystem: {
        HFONT tooltip = nullptr;
        TColor background = clInfoBk, text_color = clInfoText;
        SetSystemToolTipProps(tooltip, 96, background, text_color);
        // No readable font leaves the one there was.
        if (tooltip) system_font_.reset(tooltip);
        font->SetColor(text_color);
        fill_color_ = background;
        frame_color_ = clWindowFrame;
        break;
    }
    case hsDefault:
    default:
        font->Assign(DefaultHintFont());
        system_font_.reset();
        fill_color_ = Application ? Application->HintColor() : clInfoBk;
        frame_color_ = clWindowFrame;
        break;
    }
    CalcBounds();

    POINT cursor{};
    GetCursorPos(&cursor);
    const int w = Width(), h = Height();
    position_ = p.Position;
    TRect r = AdjustPositionToPoint(position_, cursor, w, h);
    int below = (position_ >> 1) & 1, right = position_ & 1;
    if (r.top + h > screen_height()) below = 0;
    if (r.top < 0) below = 1;
    if (r.left + w > screen_width()) right = 0;
    if (r.left < 0) right = 1;
    position_ = static_cast<TBalloonPosition>(2 * below + right);
    if (position_ != p.Position) r = AdjustPositionToPoint(position_, cursor, w, h);

    HandleNeeded();
    SetBounds(r.left, r.top, w, h);
    SetWindowPos(handle_, HWND_TOPMOST, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    SetVisible(true);  // so that hiding it goes through the framework

    HookState& st = hook_state();
    if (p.Behavior & BalloonBehaviorBit(bbUseRegions)) {
        if (st.owner == this) {
            st.owner = nullptr;
            st.showing = nullptr;
            RemoveHook();
        }
        const Metrics m = CalcDrawMetrics();
        HRGN region = CreateBalloonRegion(m.Body, m.Tail, 0);
        if (region && p.ShadowDepth > 0) {
            GdiObject shadow{CreateBalloonRegion(m.Body, m.Tail, p.ShadowDepth)};
            if (shadow.handle) CombineRgn(region, region, static_cast<HRGN>(shadow.handle), RGN_OR);
        }
        SetWindowRgn(handle_, region, TRUE);  // the window owns it now
    } else {
        if (!st.hook) st.hook = SetWindowsHookExA(WH_GETMESSAGE, &TBalloonWindow::MessageHook, nullptr,
                                                  GetCurrentThreadId());
        SetWindowRgn(handle_, nullptr, TRUE);
        st.showing = handle_;
        st.owner = this;
    }
    // On screen before the caller goes on, as the standard hint is.
    Invalidate();
    Update();
}

const ClassInfo& TBalloonHintWindow::StaticClassInfo() {
    static const ClassInfo info{"TBalloonHintWindow", &TBalloonWindow::StaticClassInfo(),
                                TBalloonWindow::StaticClassInfo().props, {}, {}};
    return info;
}
