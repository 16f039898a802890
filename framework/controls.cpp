#include "controls.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "forms.h"

namespace cp = ControlProps;

#ifndef WM_NCPAINT
#define WM_NCPAINT 0x0085
#endif

// --- Type information -------------------------------------------------------

namespace {
const IdentValue kCursorIdents[] = {
    {"crDefault", crDefault},     {"crNone", crNone},           {"crArrow", crArrow},
    {"crCross", crCross},         {"crIBeam", crIBeam},         {"crSizeNESW", crSizeNESW},
    {"crSizeNS", crSizeNS},       {"crSizeNWSE", crSizeNWSE},   {"crSizeWE", crSizeWE},
    {"crUpArrow", crUpArrow},     {"crHourGlass", crHourGlass}, {"crDrag", crDrag},
    {"crNoDrop", crNoDrop},       {"crHSplit", crHSplit},       {"crVSplit", crVSplit},
    {"crMultiDrag", crMultiDrag}, {"crSQLWait", crSQLWait},     {"crNo", crNo},
    {"crAppStart", crAppStart},   {"crHelp", crHelp},           {"crHandPoint", crHandPoint},
    {"crSizeAll", crSizeAll},
};
const char* const kDragModeNames[] = {"dmManual", "dmAutomatic"};
const char* const kAlignmentNames[] = {"taLeftJustify", "taRightJustify", "taCenter"};
}  // namespace

const TypeInfo CursorType{"TCursor", {}, kCursorIdents};
const TypeInfo DragModeType{"TDragMode", kDragModeNames, {}};
const TypeInfo AlignmentType{"TAlignment", kAlignmentNames, {}};

bool IsAccel(char c, const std::string& caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        const char next = caption[i + 1];
        if (next == '&') {  // a literal ampersand
            ++i;
            continue;
        }
        auto lower = [](char ch) { return (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch; };
        return lower(next) == lower(c);
    }
    return false;
}

TShiftState KeysToShiftState(WPARAM keys) {
    TShiftState s = 0;
    if (keys & MK_SHIFT) s |= ShiftBit(ssShift);
    if (keys & MK_CONTROL) s |= ShiftBit(ssCtrl);
    if (keys & MK_LBUTTON) s |= ShiftBit(ssLeft);
    if (keys & MK_RBUTTON) s |= ShiftBit(ssRight);
    if (keys & MK_MBUTTON) s |= ShiftBit(ssMiddle);
    if (GetKeyState(VK_MENU) & 0x8000) s |= ShiftBit(ssAlt);
    return s;
}

TShiftState KeyboardShiftState() {
    TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) & 0x8000) s |= ShiftBit(ssShift);
    if (GetKeyState(VK_CONTROL) & 0x8000) s |= ShiftBit(ssCtrl);
    if (GetKeyState(VK_MENU) & 0x8000) s |= ShiftBit(ssAlt);
    if (GetKeyState(VK_LBUTTON) & 0x8000) s |= ShiftBit(ssLeft);
    if (GetKeyState(VK_RBUTTON) & 0x8000) s |= ShiftBit(ssRight);
    if (GetKeyState(VK_MBUTTON) & 0x8000) s |= ShiftBit(ssMiddle);
    return s;
}

namespace {

// The control holding the mouse (its window, or its parent's window for a
// graphic control), as the window system's capture only knows windows.
TControl* capture_control = nullptr;

// The last left press, to turn a quick second press into a double click
// (the window system sends no double-click messages).
struct LastPress {
    std::weak_ptr<bool> control;
    const TControl* who = nullptr;
    DWORD time = 0;
    int x = 0, y = 0;
};
LastPress last_press;
constexpr DWORD kDoubleClickTime = 500;
constexpr int kDoubleClickSlop = 4;

bool intersects(const TRect& a, const TRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Runs `f` when leaving scope, also when an exception passes.
template <class F>
struct Finally {
    F f;
    ~Finally() { f(); }
};
template <class F>
Finally(F) -> Finally<F>;

}  // namespace

// --- TControl ---------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner), font_(std::make_unique<TFont>()) {
    control_style_ = StyleBit(csCaptureMouse) | StyleBit(csClickEvents) | StyleBit(csSetCaption) |
                     StyleBit(csDoubleClicks);
    font_->OnChange = [this](TObject*) { FontChanged(); };
}

TControl::~TControl() {
    *alive_ = false;
    if (capture_control == this) SetMouseCapture(false);
    if (Application) Application->ControlDestroying(this);
    if (parent_) parent_->RemoveControl(this);
    font_->OnChange.Clear();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    // Even an opaque control no longer covers all of its old area.
    if (HWND h = PaintWindow(); h && Showing()) {
        const TPoint o = OriginInWindow();
        const TRect old = Rect(o.x, o.y, o.x + width_, o.y + height_);
        InvalidateRect(h, &old, TRUE);
    }
    left_ = left;
    top_ = top;
    width_ = width < 0 ? 0 : width;
    height_ = height < 0 ? 0 : height;
    Invalidate();
    Resize();
}

void TControl::SetPopupMenu(TComponent* menu) {
    if (menu == popup_menu_) return;
    popup_menu_ = menu;
    if (menu) menu->FreeNotification(this);
}

void TControl::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == popup_menu_) popup_menu_ = nullptr;
}

TPoint TControl::OriginInWindow() const {
    TPoint p{0, 0};
    for (const TControl* c = this; c && !dynamic_cast<const TWinControl*>(c); c = c->parent_) {
        p.x += c->left_;
        p.y += c->top_;
    }
    return p;
}

TPoint TControl::ClientToScreen(TPoint p) const {
    if (auto* w = dynamic_cast<const TWinControl*>(this)) {
        if (w->handle_) {
            ::ClientToScreen(w->handle_, &p);
            return p;
        }
        if (!parent_) return Point(p.x + left_, p.y + top_);
    }
    if (!parent_) return p;
    return parent_->ClientToScreen(Point(p.x + left_, p.y + top_));
}

TPoint TControl::ScreenToClient(TPoint p) const {
    const TPoint origin = ClientToScreen(Point(0, 0));
    return Point(p.x - origin.x, p.y - origin.y);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    for (const TControl* p = parent; p; p = p->parent_)
        if (p == this) throw EInvalidOperation("A control cannot be its own parent.");
    if (parent_) parent_->RemoveControl(this);
    if (parent) parent->InsertControl(this);
}

TForm* TControl::ParentForm() const {
    const TControl* c = this;
    while (c->parent_) c = c->parent_;
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetName(const std::string& name) {
    const bool follow =
        HasStyle(csSetCaption) && HasState(csDesigning) && !HasState(csLoading) && Name() == caption_;
    TComponent::SetName(name);
    if (follow) SetCaption(name);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetParentComponent(TComponent* parent) {
    if (auto* w = dynamic_cast<TWinControl*>(parent)) SetParent(w);
}

bool TControl::Showing() const {
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->visible_) return false;
    return true;
}

bool TControl::EffectivelyEnabled() const {
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->enabled_) return false;
    return true;
}

void TControl::SetVisible(bool v) {
    if (v == visible_) return;
    VisibleChanging();
    if (!v) Invalidate();  // the area it leaves
    visible_ = v;
    if (v) Invalidate();
    if (!v && capture_control == this) SetMouseCapture(false);
    CMVisibleChanged();
}

void TControl::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    if (!v && capture_control == this) SetMouseCapture(false);
    if (auto* w = dynamic_cast<TWinControl*>(this); w && w->handle_) EnableWindow(w->handle_, v);
    CMEnabledChanged();
}

void TControl::SetCaption(const std::string& text) {
    if (text == caption_) return;
    caption_ = text;
    if (auto* w = dynamic_cast<TWinControl*>(this); w && w->handle_) SetWindowTextA(w->handle_, text.c_str());
    CMTextChanged();
}

void TControl::FontChanged() {
    if (!font_from_parent_) parent_font_ = false;
    CMFontChanged();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        for (TControl* c : w->controls_) c->CMParentFontChanged();
}

void TControl::SetParentFont(bool v) {
    parent_font_ = v;
    if (v) CMParentFontChanged();
}

void TControl::CMParentFontChanged() {
    if (!parent_font_ || !parent_) return;
    font_from_parent_ = true;
    Finally reset{[this] { font_from_parent_ = false; }};
    font_->Assign(parent_->Font());
}

void TControl::SetColor(TColor c) {
    if (c == color_) return;
    color_ = c;
    CMColorChanged();
}

void TControl::SetShowHint(bool v) {
    parent_show_hint_ = false;
    if (v == show_hint_) return;
    show_hint_ = v;
    if (auto* w = dynamic_cast<TWinControl*>(this))
        for (TControl* c : w->controls_) c->CMParentShowHintChanged();
}

void TControl::SetParentShowHint(bool v) {
    parent_show_hint_ = v;
    if (v) CMParentShowHintChanged();
}

void TControl::CMParentShowHintChanged() {
    if (parent_show_hint_ && parent_) show_hint_ = parent_->ShowHint();
}

void TControl::SetCursor(TCursor c) { cursor_ = c; }

void TControl::SetControlStateFlag(TControlStateFlag f, bool on) {
    if (on)
        control_state_ |= 1u << f;
    else
        control_state_ &= ~(1u << f);
}

HWND TControl::PaintWindow() const {
    return parent_ && parent_->HandleAllocated() ? parent_->handle_ : nullptr;
}

void TControl::Invalidate() {
    HWND h = PaintWindow();
    if (!h || !Showing()) return;
    const TPoint o = OriginInWindow();
    const TRect r = Rect(o.x, o.y, o.x + width_, o.y + height_);
    InvalidateRect(h, &r, HasStyle(csOpaque) ? FALSE : TRUE);
}

void TControl::Update() {
    if (parent_) parent_->Update();
}

void TControl::Repaint() {
    Invalidate();
    Update();
}

void TControl::BringToFront() {
    if (!parent_) {
        if (auto* w = dynamic_cast<TWinControl*>(this); w && w->handle_)
            SetWindowPos(w->handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return;
    }
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    list.push_back(this);
    if (auto* w = dynamic_cast<TWinControl*>(this); w && w->handle_)
        SetWindowPos(w->handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Invalidate();
}

bool TControl::MouseCapture() const { return capture_control == this; }

void TControl::SetMouseCapture(bool on) {
    if (on) {
        HWND h = PaintWindow();
        if (!h) return;
        capture_control = this;
        ::SetCapture(h);
    } else if (capture_control == this) {
        capture_control = nullptr;
        ::ReleaseCapture();
    }
}

void TControl::DispatchMouse(UINT msg, WPARAM keys, int x, int y) {
    if (!EffectivelyEnabled()) return;
    // A handler may free this control; nothing below touches it then.
    std::shared_ptr<bool> alive = alive_;
    TShiftState shift = KeysToShiftState(keys);
    switch (msg) {
        case WM_MOUSEMOVE:
            MouseMove(shift, x, y);
            return;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: {
            const TMouseButton button = msg == WM_LBUTTONDOWN   ? mbLeft
                                        : msg == WM_RBUTTONDOWN ? mbRight
                                                                : mbMiddle;
            bool dbl = false;
            if (button == mbLeft) {
                const DWORD now = GetTickCount();
                dbl = HasStyle(csDoubleClicks) && last_press.who == this && !last_press.control.expired() &&
                      now - last_press.time <= kDoubleClickTime &&
                      std::abs(x - last_press.x) <= kDoubleClickSlop &&
                      std::abs(y - last_press.y) <= kDoubleClickSlop;
                if (dbl)
                    last_press = LastPress{};
                else
                    last_press = LastPress{alive_, this, now, x, y};
            }
            if (HasStyle(csCaptureMouse)) SetMouseCapture(true);
            if (button == mbLeft) {
                if (dbl) {
                    shift |= ShiftBit(ssDouble);
                    if (HasStyle(csClickEvents)) DblClick();
                    if (!*alive) return;
                } else if (HasStyle(csClickEvents)) {
                    SetControlStateFlag(csClicked, true);
                }
            }
            MouseDown(button, shift, x, y);
            return;
        }
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP: {
            const TMouseButton button = msg == WM_LBUTTONUP   ? mbLeft
                                        : msg == WM_RBUTTONUP ? mbRight
                                                              : mbMiddle;
            if (HasStyle(csCaptureMouse)) SetMouseCapture(false);
            const bool clicked = button == mbLeft && HasControlState(csClicked);
            if (button == mbLeft) SetControlStateFlag(csClicked, false);
            MouseUp(button, shift, x, y);
            if (!*alive) return;
            if (clicked && x >= 0 && y >= 0 && x < width_ && y < height_ && EffectivelyEnabled()) Click();
            return;
        }
        default:
            return;
    }
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    OnMouseUp(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) { OnMouseMove(this, shift, x, y); }
void TControl::Click() { OnClick(this); }
void TControl::DblClick() { OnDblClick(this); }

// --- TWinControl ------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    // Leave the parent while this is still a windowed control, so it drops
    // it from its tab order too.
    if (Parent()) Parent()->RemoveControl(this);
    // Children go with their parent, as their windows do.
    while (!controls_.empty()) {
        TControl* c = controls_.back();
        RemoveControl(c);
        delete c;
    }
    DestroyHandle();
}

namespace {

std::set<std::string>& registered_classes() {
    static std::set<std::string> names;
    return names;
}

}  // namespace

LRESULT CALLBACK TWinControl::WindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    TWinControl* c = nullptr;
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lp);
        c = cs ? static_cast<TWinControl*>(cs->lpCreateParams) : nullptr;
        SetWindowLongPtrA(h, GWL_USERDATA, reinterpret_cast<LONG_PTR>(c));
        if (c) c->handle_ = h;
    } else {
        c = reinterpret_cast<TWinControl*>(GetWindowLongPtrA(h, GWL_USERDATA));
    }
    if (!c) return DefWindowProcA(h, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(h, GWL_USERDATA, 0);
        if (c->handle_ == h) c->handle_ = nullptr;
        return DefWindowProcA(h, msg, wp, lp);
    }
    TMessage m{msg, wp, lp, 0};
    try {
        c->WndProc(m);
    } catch (...) {
        if (Application) Application->HandleException(c);
    }
    return m.Result;
}

TWinControl* TWinControl::FindControl(HWND window) {
    if (!window || !IsWindow(window)) return nullptr;
    if (GetWindowLongPtrA(window, GWL_WNDPROC) != reinterpret_cast<LONG_PTR>(&WindowProc)) return nullptr;
    return reinterpret_cast<TWinControl*>(GetWindowLongPtrA(window, GWL_USERDATA));
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.Caption = Caption();
    params.Style = WS_CHILD | WS_CLIPSIBLINGS;
    if (Visible()) params.Style |= WS_VISIBLE;
    if (!Enabled()) params.Style |= WS_DISABLED;
    if (tab_stop_) params.Style |= WS_TABSTOP;
    params.X = Left();
    params.Y = Top();
    params.Width = Width();
    params.Height = Height();
    params.WndParent = Parent() ? Parent()->Handle() : nullptr;
    params.WinClassName = ClassName();
}

void TWinControl::CreateWnd() {
    TCreateParams params;
    CreateParams(params);
    if ((params.Style & WS_CHILD) && !params.WndParent)
        throw EInvalidOperation(std::string("Control '") + Name() + "' has no parent window.");
    if (params.WinClassName.empty()) params.WinClassName = "TWinControl";
    if (!registered_classes().count(params.WinClassName)) {
        WNDCLASSA wc{};
        wc.style = params.ClassStyle;
        wc.lpfnWndProc = &WindowProc;
        wc.lpszClassName = params.WinClassName.c_str();
        RegisterClassA(&wc);  // already there from an earlier run: fine too
        registered_classes().insert(params.WinClassName);
    }
    HWND h = CreateWindowExA(params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(),
                             params.Style, params.X, params.Y, params.Width, params.Height, params.WndParent,
                             nullptr, nullptr, this);
    if (!h) throw EInvalidOperation(std::string("Cannot create the window of '") + Name() + "'.");
    handle_ = h;
    for (TControl* c : controls_)
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->HandleNeeded();
}

HWND TWinControl::Handle() {
    if (!handle_) CreateWnd();
    return handle_;
}

void TWinControl::DestroyWnd() {
    HWND h = handle_;
    handle_ = nullptr;
    if (h && IsWindow(h)) {
        SetWindowLongPtrA(h, GWL_USERDATA, 0);
        DestroyWindow(h);
    }
}

void TWinControl::DestroyHandle() {
    if (!handle_) return;
    if (capture_control && (capture_control == this || capture_control->Parent() == this))
        capture_control->SetMouseCapture(false);
    for (TControl* c : controls_)
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
    DestroyWnd();
}

void TWinControl::InsertControl(TControl* c) {
    if (!c || c->parent_ == this) return;
    controls_.push_back(c);
    c->parent_ = this;
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
        tab_list_.push_back(w);
        if (w->pending_tab_order_ >= 0) w->SetTabOrder(w->pending_tab_order_);
        w->pending_tab_order_ = -1;
    }
    c->CMParentFontChanged();
    c->CMParentShowHintChanged();
    if (auto* w = dynamic_cast<TWinControl*>(c); w && handle_) w->HandleNeeded();
    c->Invalidate();
}

void TWinControl::RemoveControl(TControl* c) {
    auto it = std::find(controls_.begin(), controls_.end(), c);
    if (it == controls_.end()) return;
    c->Invalidate();
    if (capture_control == c) c->SetMouseCapture(false);
    if (mouse_control_ == c) mouse_control_ = nullptr;
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
        // The window system cannot move a window to another parent; it is
        // made again under the new one.
        w->DestroyHandle();
        w->pending_tab_order_ = -1;
        tab_list_.erase(std::remove(tab_list_.begin(), tab_list_.end(), w), tab_list_.end());
        if (TForm* form = ParentForm())
            if (form->ActiveControl() == w || w->ContainsControl(form->ActiveControl()))
                form->SetActiveControl(nullptr);
    }
    controls_.erase(std::find(controls_.begin(), controls_.end(), c));
    c->parent_ = nullptr;
}

bool TWinControl::ContainsControl(const TControl* c) const {
    for (; c; c = c->parent_)
        if (c == this) return true;
    return false;
}

TControl* TWinControl::ControlAtPos(TPoint p, bool allow_disabled) const {
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        TControl* c = *it;
        if (!c->Visible() || (!allow_disabled && !c->Enabled())) continue;
        if (p.x >= c->Left() && p.y >= c->Top() && p.x < c->Left() + c->Width() &&
            p.y < c->Top() + c->Height())
            return c;
    }
    return nullptr;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (left == Left() && top == Top() && width == Width() && height == Height()) return;
    if (!handle_) {
        TControl::SetBounds(left, top, width, height);
        return;
    }
    left_ = left;
    top_ = top;
    width_ = width < 0 ? 0 : width;
    height_ = height < 0 ? 0 : height;
    SetWindowPos(handle_, nullptr, left_, top_, width_, height_, SWP_NOZORDER | SWP_NOACTIVATE);
    Resize();
}

TRect TWinControl::ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }

int TWinControl::ClientWidth() const {
    RECT r;
    if (handle_ && GetClientRect(handle_, &r)) return r.right - r.left;
    return Width();
}

int TWinControl::ClientHeight() const {
    RECT r;
    if (handle_ && GetClientRect(handle_, &r)) return r.bottom - r.top;
    return Height();
}

void TWinControl::Invalidate() {
    if (handle_) InvalidateRect(handle_, nullptr, HasStyle(csOpaque) ? FALSE : TRUE);
}

void TWinControl::Update() {
    if (handle_) UpdateWindow(handle_);
}

void TWinControl::UpdateShowing() {
    if (!handle_) return;
    ShowWindow(handle_, Visible() ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::CMEnabledChanged() {
    if (!Enabled() && Focused()) {
        if (TForm* form = ParentForm(); form && form != this) form->SelectNext(this, true);
    }
    Invalidate();
}

bool TWinControl::CanFocus() const {
    for (const TControl* c = this; c; c = c->Parent())
        if (!c->Visible() || !c->Enabled()) return false;
    return true;
}

bool TWinControl::Focused() const { return handle_ && GetFocus() == handle_; }

void TWinControl::SetFocus() {
    if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window.");
    TForm* form = ParentForm();
    if (form && form != this) form->SetActiveControl(this);
    ::SetFocus(Handle());
}

int TWinControl::TabOrder() const {
    if (!Parent()) return pending_tab_order_;
    const auto& list = Parent()->tab_list_;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int order) {
    if (!Parent()) {
        pending_tab_order_ = order;
        return;
    }
    auto& list = Parent()->tab_list_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    const size_t at = order < 0 ? list.size() : std::min(static_cast<size_t>(order), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) const {
    for (TWinControl* c : tab_list_) {
        list.push_back(c);
        c->GetTabOrderList(list);
    }
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const {
    for (TControl* c : controls_)
        if (c->Owner() == root) proc(c);
}

void TWinControl::CMDialogChar(char c, bool& handled) {
    for (size_t i = 0; i < controls_.size() && !handled; ++i) {
        TControl* child = controls_[i];
        if (child->Visible()) child->CMDialogChar(c, handled);
    }
}

void TWinControl::CMParentShowHintChanged() {
    if (!ParentShowHint() || !Parent()) return;
    const bool was = ShowHint();
    TControl::CMParentShowHintChanged();
    if (ShowHint() != was)
        for (TControl* c : controls_) c->CMParentShowHintChanged();
}

void TWinControl::KeyDown(uint16_t& key, TShiftState shift) { OnKeyDown(this, key, shift); }
void TWinControl::KeyUp(uint16_t& key, TShiftState shift) { OnKeyUp(this, key, shift); }
void TWinControl::KeyPress(char& key) { OnKeyPress(this, key); }

void TWinControl::DefaultHandler(TMessage& m) {
    m.Result = handle_ ? DefWindowProcA(handle_, m.Msg, m.WParam, m.LParam) : 0;
}

void TWinControl::WndProc(TMessage& m) {
    switch (m.Msg) {
        case WM_PAINT:
            WMPaint(m);
            return;
        case WM_ERASEBKGND:
            WMEraseBkgnd(m);
            return;
        case WM_NCPAINT:
            WMNCPaint(m);
            return;
        case WM_NCHITTEST:
            WMNCHitTest(m);
            return;
        case WM_SHOWWINDOW:
            WMShowWindow(m);
            return;
        case WM_SETFOCUS:
            WMSetFocus(m);
            return;
        case WM_KILLFOCUS:
            WMKillFocus(m);
            return;
        case WM_SETCURSOR:
            WMSetCursor(m);
            return;
        case WM_CAPTURECHANGED:
            if (capture_control && (capture_control == this || capture_control->Parent() == this) &&
                reinterpret_cast<HWND>(m.LParam) != handle_)
                capture_control = nullptr;
            DefaultHandler(m);
            return;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            RouteMouse(m);
            return;
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR:
            HandleKey(m);
            return;
        default:
            DefaultHandler(m);
            return;
    }
}

void TWinControl::RouteMouse(TMessage& m) {
    const int x = GET_X_LPARAM(m.LParam), y = GET_Y_LPARAM(m.LParam);
    TControl* target = this;
    if (capture_control && capture_control != this) {
        // The window holds the capture for one of its graphic children.
        if (capture_control->Parent() == this) target = capture_control;
    } else if (!capture_control) {
        TControl* c = ControlAtPos(Point(x, y), false);
        if (c && !dynamic_cast<TWinControl*>(c)) target = c;
    }
    if (m.Msg == WM_MOUSEMOVE && target != mouse_control_) {
        TControl* old = mouse_control_;
        mouse_control_ = target;
        if (old) old->CMMouseLeave();
        target->CMMouseEnter();
    }
    const int cx = target == this ? x : x - target->Left();
    const int cy = target == this ? y : y - target->Top();
    target->DispatchMouse(m.Msg, m.WParam, cx, cy);
    m.Result = 0;
}

void TWinControl::HandleKey(TMessage& m) {
    std::shared_ptr<bool> alive = AliveToken().lock();
    TForm* form = ParentForm();
    TWinControl* preview = form && form != this && form->KeyPreview() ? form : nullptr;
    if (m.Msg == WM_KEYDOWN || m.Msg == WM_KEYUP) {
        uint16_t key = static_cast<uint16_t>(m.WParam);
        const TShiftState shift = KeyboardShiftState();
        if (key == VK_TAB && !WantsTab() && form) {
            if (m.Msg == WM_KEYDOWN) form->SelectNext(this, !(shift & ShiftBit(ssShift)));
            return;
        }
        if (m.Msg == WM_KEYDOWN) {
            if (preview) preview->KeyDown(key, shift);
            if (key && *alive) KeyDown(key, shift);
        } else {
            if (preview) preview->KeyUp(key, shift);
            if (key && *alive) KeyUp(key, shift);
        }
        return;
    }
    char c = static_cast<char>(m.WParam);
    if (c == '\t' && !WantsTab()) return;
    if (preview) preview->KeyPress(c);
    if (c && *alive) KeyPress(c);
    if (!c || !*alive || !form) return;
    // Alt with a character, or a character that the focused control does
    // not take as text, goes to the accelerators.
    if ((GetKeyState(VK_MENU) & 0x8000) || !WantsChars()) form->DialogChar(c);
}

void TWinControl::WMPaint(TMessage& m) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(handle_, &ps);
    if (!dc) return;
    Finally end{[&] { EndPaint(handle_, &ps); }};
    PaintWindowContent(dc, ps.rcPaint);
    PaintControls(dc, ps.rcPaint);
    m.Result = 0;
}

void TWinControl::WMEraseBkgnd(TMessage& m) {
    HDC dc = reinterpret_cast<HDC>(m.WParam);
    if (!dc) return;
    HBRUSH brush = CreateSolidBrush(ColorToRGB(Color()));
    const TRect r = Rect(0, 0, std::max(Width(), ClientWidth()), std::max(Height(), ClientHeight()));
    ::FillRect(dc, &r, brush);
    DeleteObject(brush);
    m.Result = 1;
}

void TWinControl::WMSetFocus(TMessage& m) {
    DefaultHandler(m);
    TForm* form = ParentForm();
    if (form && form != this) form->SetActiveControl(this);
    CMEnter();
}

void TWinControl::WMKillFocus(TMessage& m) {
    DefaultHandler(m);
    CMExit();
}

void TWinControl::WMSetCursor(TMessage& m) {
    TControl* c = this;
    POINT p;
    if (GetCursorPos(&p)) {
        const TPoint local = ScreenToClient(p);
        if (TControl* child = ControlAtPos(local, true); child && !dynamic_cast<TWinControl*>(child))
            c = child;
    }
    TCursor cursor = crDefault;
    for (const TControl* k = c; k && cursor == crDefault; k = k->Parent()) cursor = k->Cursor();
    if (cursor == crDefault) cursor = crArrow;
    ::SetCursor(Screen->Cursors(cursor));
    m.Result = TRUE;
}

void TWinControl::PaintWindowContent(HDC, const TRect&) {}

void TWinControl::PaintControls(HDC dc, const TRect& update) {
    // A child's paint may hide or free later children; work on a copy and
    // check each one is still there.
    const std::vector<TControl*> list = controls_;
    for (TControl* c : list) {
        if (std::find(controls_.begin(), controls_.end(), c) == controls_.end()) continue;
        auto* g = dynamic_cast<TGraphicControl*>(c);
        if (!g || !g->Visible() || g->Width() <= 0 || g->Height() <= 0) continue;
        if (!intersects(g->BoundsRect(), update)) continue;
        g->PaintOn(dc);
    }
}

// --- TControlCanvas -----------------------------------------------------------

namespace {
std::vector<TControlCanvas*>& canvases_with_dc() {
    static std::vector<TControlCanvas*> list;
    return list;
}
}  // namespace

TControlCanvas::~TControlCanvas() { TControlCanvas::FreeHandle(); }

void TControlCanvas::Track() { canvases_with_dc().push_back(this); }

void TControlCanvas::Untrack() {
    auto& list = canvases_with_dc();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TControlCanvas::CreateHandle() {
    auto* w = dynamic_cast<TWinControl*>(control_);
    HWND h = w ? w->Handle() : nullptr;
    if (!h) return;
    own_dc_ = GetDC(h);
    dc_window_ = h;
    if (!own_dc_) return;
    Track();
    SetHandle(own_dc_);
}

void TControlCanvas::FreeHandle() {
    if (!own_dc_) return;
    HDC dc = own_dc_;
    own_dc_ = nullptr;
    SetHandle(nullptr);
    ReleaseDC(dc_window_, dc);
    dc_window_ = nullptr;
    Untrack();
}

void TControlCanvas::FreeDeviceContexts() {
    auto list = canvases_with_dc();
    for (TControlCanvas* c : list) c->FreeHandle();
}

// --- TGraphicControlCanvas ------------------------------------------------------

TGraphicControlCanvas::~TGraphicControlCanvas() { TGraphicControlCanvas::FreeHandle(); }

void TGraphicControlCanvas::CreateHandle() {
    TControl* c = Control();
    TWinControl* parent = c->Parent();
    if (!parent || c->Width() <= 0 || c->Height() <= 0) return;
    HWND h = parent->Handle();
    HDC screen = GetDC(h);
    if (!screen) return;
    width_ = c->Width();
    height_ = c->Height();
    origin_ = c->OriginInWindow();
    mem_ = CreateCompatibleDC(screen);
    bitmap_ = mem_ ? CreateCompatibleBitmap(screen, width_, height_) : nullptr;
    if (!bitmap_) {
        if (mem_) DeleteDC(mem_);
        mem_ = nullptr;
        ReleaseDC(h, screen);
        return;
    }
    old_bitmap_ = SelectObject(mem_, bitmap_);
    // Starts from what is shown, so that XOR drawing and partial drawing work.
    BitBlt(mem_, 0, 0, width_, height_, screen, origin_.x, origin_.y, SRCCOPY);
    ReleaseDC(h, screen);
    window_ = h;
    Track();
    SetHandle(mem_);
}

void TGraphicControlCanvas::FreeHandle() {
    if (!mem_) return;
    SetHandle(nullptr);
    Untrack();
    // A control hidden or moved meanwhile does not show what it drew.
    TControl* c = Control();
    const TPoint now = c->OriginInWindow();
    if (IsWindow(window_) && c->Showing() && now.x == origin_.x && now.y == origin_.y) {
        if (HDC screen = GetDC(window_)) {
            BitBlt(screen, origin_.x, origin_.y, width_, height_, mem_, 0, 0, SRCCOPY);
            ReleaseDC(window_, screen);
        }
    }
    SelectObject(mem_, old_bitmap_);
    DeleteObject(bitmap_);
    DeleteDC(mem_);
    mem_ = nullptr;
    bitmap_ = nullptr;
    old_bitmap_ = nullptr;
    window_ = nullptr;
}

// --- TCustomControl -----------------------------------------------------------

TCustomControl::TCustomControl(TComponent* owner)
    : TWinControl(owner), canvas_(std::make_unique<TControlCanvas>(this)) {}

TCustomControl::~TCustomControl() { canvas_->FreeHandle(); }

void TCustomControl::PaintWindowContent(HDC dc, const TRect&) {
    canvas_->FreeHandle();
    canvas_->SetHandle(dc);
    Finally release{[this] { canvas_->SetHandle(nullptr); }};
    Paint();
}

// --- TGraphicControl ----------------------------------------------------------

TGraphicControl::TGraphicControl(TComponent* owner)
    : TControl(owner), canvas_(std::make_unique<TGraphicControlCanvas>(this)) {}

TGraphicControl::~TGraphicControl() { canvas_->FreeHandle(); }

void TGraphicControl::PaintOn(HDC dc) {
    // Drawn off screen over a copy of what lies beneath, then copied into
    // place: the control sees its own coordinates, cannot draw outside its
    // bounds, and a transparent one keeps its background.
    canvas_->FreeHandle();  // drawing done outside a paint goes first
    const int w = Width(), h = Height();
    const TPoint o = OriginInWindow();
    HDC mem = CreateCompatibleDC(dc);
    if (!mem) return;
    HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
    if (!bmp) {
        DeleteDC(mem);
        return;
    }
    HGDIOBJ old = SelectObject(mem, bmp);
    Finally cleanup{[&] {
        canvas_->SetHandle(nullptr);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
    }};
    BitBlt(mem, 0, 0, w, h, dc, o.x, o.y, SRCCOPY);
    canvas_->SetHandle(mem);
    Paint();
    canvas_->SetHandle(nullptr);
    BitBlt(dc, o.x, o.y, w, h, mem, 0, 0, SRCCOPY);
}

// --- Class information ----------------------------------------------------------

namespace ControlProps {

#define FW_PROP(name, ...)                        \
    const PropInfo& name() {                      \
        static const PropInfo info = __VA_ARGS__; \
        return info;                              \
    }

const PropInfo& Name() { return *TComponent::StaticClassInfo().FindProp("Name"); }
FW_PROP(Tag, props::Ord<&TComponent::Tag, &TComponent::SetTag>("Tag", PropKind::Integer, 0))
FW_PROP(Left, props::Ord<&TControl::Left, &TControl::SetLeft>("Left", PropKind::Integer))
FW_PROP(Top, props::Ord<&TControl::Top, &TControl::SetTop>("Top", PropKind::Integer))
FW_PROP(Width, props::Ord<&TControl::Width, &TControl::SetWidth>("Width", PropKind::Integer))
FW_PROP(Height, props::Ord<&TControl::Height, &TControl::SetHeight>("Height", PropKind::Integer))
FW_PROP(Caption, props::Str<&TControl::CaptionValue, &TControl::SetCaption>("Caption"))
FW_PROP(Color,
        props::Ord<&TControl::Color, &TControl::SetColor>("Color", PropKind::Integer, clWindow, &ColorType))
FW_PROP(Font, props::Obj<&TControl::Font>("Font"))
FW_PROP(ParentFont,
        props::Ord<&TControl::ParentFont, &TControl::SetParentFont>("ParentFont", PropKind::Boolean, 1))
FW_PROP(Enabled, props::Ord<&TControl::Enabled, &TControl::SetEnabled>("Enabled", PropKind::Boolean, 1))
FW_PROP(Visible, props::Ord<&TControl::Visible, &TControl::SetVisible>("Visible", PropKind::Boolean, 1))
FW_PROP(Hint, props::Str<&TControl::Hint, &TControl::SetHint>("Hint"))
// ShowHint is written only while the control has a setting of its own; one
// that follows its parent reads -1 here (never a stored value), so that after
// a read it still follows the parent, and an own False is not lost as a
// default. In the text it reads False or True like any boolean.
const PropInfo& ShowHint() {
    static const char* const names[] = {"False", "True"};
    static const TypeInfo own_boolean{"Boolean", names, {}};
    static const PropInfo info = [] {
        PropInfo p{"ShowHint", PropKind::Enum, &own_boolean, -1};
        p.get_ord = [](const TPersistent* o) -> int64_t {
            const auto* c = static_cast<const TControl*>(o);
            return c->ParentShowHint() ? -1 : int64_t(c->ShowHint());
        };
        p.set_ord = [](TPersistent* o, int64_t v) { static_cast<TControl*>(o)->SetShowHint(v != 0); };
        return p;
    }();
    return info;
}
FW_PROP(ParentShowHint,
        props::Ord<&TControl::ParentShowHint, &TControl::SetParentShowHint>("ParentShowHint",
                                                                            PropKind::Boolean, 1))
FW_PROP(Cursor, props::Ord<&TControl::Cursor, &TControl::SetCursor>("Cursor", PropKind::Integer, crDefault,
                                                                    &CursorType))
FW_PROP(DragCursor,
        props::Ord<&TControl::DragCursor, &TControl::SetDragCursor>("DragCursor", PropKind::Integer, crDrag,
                                                                    &CursorType))
FW_PROP(DragMode, props::Ord<&TControl::DragMode, &TControl::SetDragMode>("DragMode", PropKind::Enum,
                                                                          dmManual, &DragModeType))
FW_PROP(PopupMenu, props::Ref<&TControl::PopupMenu, &TControl::SetPopupMenu>("PopupMenu"))
FW_PROP(TabOrder,
        props::Ord<&TWinControl::TabOrder, &TWinControl::SetTabOrder>("TabOrder", PropKind::Integer, -1))
FW_PROP(TabStop, props::Ord<&TWinControl::TabStop, &TWinControl::SetTabStop>("TabStop", PropKind::Boolean, 0))
FW_PROP(OnClick, props::Evt<&TControl::OnClick>("OnClick"))
FW_PROP(OnDblClick, props::Evt<&TControl::OnDblClick>("OnDblClick"))
FW_PROP(OnMouseDown, props::Evt<&TControl::OnMouseDown>("OnMouseDown"))
FW_PROP(OnMouseMove, props::Evt<&TControl::OnMouseMove>("OnMouseMove"))
FW_PROP(OnMouseUp, props::Evt<&TControl::OnMouseUp>("OnMouseUp"))
FW_PROP(OnDragDrop, props::Evt<&TControl::OnDragDrop>("OnDragDrop"))
FW_PROP(OnDragOver, props::Evt<&TControl::OnDragOver>("OnDragOver"))
FW_PROP(OnEndDrag, props::Evt<&TControl::OnEndDrag>("OnEndDrag"))
FW_PROP(OnStartDrag, props::Evt<&TControl::OnStartDrag>("OnStartDrag"))
FW_PROP(OnEnter, props::Evt<&TWinControl::OnEnter>("OnEnter"))
FW_PROP(OnExit, props::Evt<&TWinControl::OnExit>("OnExit"))
FW_PROP(OnKeyDown, props::Evt<&TWinControl::OnKeyDown>("OnKeyDown"))
FW_PROP(OnKeyPress, props::Evt<&TWinControl::OnKeyPress>("OnKeyPress"))
FW_PROP(OnKeyUp, props::Evt<&TWinControl::OnKeyUp>("OnKeyUp"))

#undef FW_PROP

}  // namespace ControlProps

const ClassInfo& TControl::StaticClassInfo() {
    static const PropInfo* const list[] = {
        &cp::Name(),           &cp::Tag(),         &cp::Left(),     &cp::Top(),
        &cp::Width(),          &cp::Height(),      &cp::Caption(),  &cp::Color(),
        &cp::Cursor(),         &cp::DragCursor(),  &cp::DragMode(), &cp::Enabled(),
        &cp::Font(),           &cp::ParentFont(),  &cp::Hint(),     &cp::ShowHint(),
        &cp::ParentShowHint(), &cp::Visible(),     &cp::OnClick(),  &cp::OnDblClick(),
        &cp::OnMouseDown(),    &cp::OnMouseMove(), &cp::OnMouseUp()};
    static const ClassInfo info{"TControl", &TComponent::StaticClassInfo(), list, {}, {}};
    return info;
}

const ClassInfo& TWinControl::StaticClassInfo() {
    static const PropInfo* const list[] = {
        &cp::Name(),           &cp::Tag(),        &cp::Left(),     &cp::Top(),
        &cp::Width(),          &cp::Height(),     &cp::Caption(),  &cp::Color(),
        &cp::Cursor(),         &cp::DragCursor(), &cp::DragMode(), &cp::Enabled(),
        &cp::Font(),           &cp::ParentFont(), &cp::Hint(),     &cp::ShowHint(),
        &cp::ParentShowHint(), &cp::TabOrder(),   &cp::TabStop(),  &cp::Visible(),
        &cp::OnClick(),        &cp::OnDblClick(), &cp::OnEnter(),  &cp::OnExit(),
        &cp::OnKeyDown(),      &cp::OnKeyPress(), &cp::OnKeyUp(),  &cp::OnMouseDown(),
        &cp::OnMouseMove(),    &cp::OnMouseUp()};
    static const ClassInfo info{"TWinControl", &TControl::StaticClassInfo(), list, {}, {}};
    return info;
}

const ClassInfo& TCustomControl::StaticClassInfo() {
    static const ClassInfo info{
        "TCustomControl", &TWinControl::StaticClassInfo(), TWinControl::StaticClassInfo().props, {}, {}};
    return info;
}

const ClassInfo& TGraphicControl::StaticClassInfo() {
    static const ClassInfo info{
        "TGraphicControl", &TControl::StaticClassInfo(), TControl::StaticClassInfo().props, {}, {}};
    return info;
}
