#include "forms.h"

#include <algorithm>

#include "streaming.h"

namespace cp = ControlProps;

#ifndef WM_DISPLAYCHANGE
#define WM_DISPLAYCHANGE 0x007E
#endif

namespace {
const char* const kBorderStyleNames[] = {"bsNone",   "bsSingle",     "bsSizeable",
                                         "bsDialog", "bsToolWindow", "bsSizeToolWin"};
const char* const kBorderIconNames[] = {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"};
const char* const kFormStyleNames[] = {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"};
const char* const kWindowStateNames[] = {"wsNormal", "wsMinimized", "wsMaximized"};
}  // namespace

const TypeInfo FormBorderStyleType{"TFormBorderStyle", kBorderStyleNames, {}};
const TypeInfo BorderIconsType{"TBorderIcons", kBorderIconNames, {}};
const TypeInfo FormStyleType{"TFormStyle", kFormStyleNames, {}};
const TypeInfo WindowStateType{"TWindowState", kWindowStateNames, {}};

// --- TControlScrollBar --------------------------------------------------------

const ClassInfo& TControlScrollBar::StaticClassInfo() {
    static const PropInfo visible = props::Ord<&TControlScrollBar::Visible, &TControlScrollBar::SetVisible>(
        "Visible", PropKind::Boolean, 1);
    static const PropInfo* const list[] = {&visible};
    static const ClassInfo info{"TControlScrollBar", &TPersistent::StaticClassInfo(), list, {}, {}};
    return info;
}

// --- TForm --------------------------------------------------------------------

TForm::TForm(TComponent* owner)
    : TWinControl(owner),
      horz_(std::make_unique<TControlScrollBar>()),
      vert_(std::make_unique<TControlScrollBar>()),
      canvas_(std::make_unique<TControlCanvas>(this)) {
    control_style_ |= StyleBit(csAcceptsControls);
    SetVisible(false);
    SetColor(clBtnFace);
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    DoDestroy();
    if (Application) Application->ControlDestroying(this);
    if (Screen && Screen->active_form_ == this) Screen->active_form_ = nullptr;
    canvas_->FreeHandle();
}

void TForm::AfterConstruction() {
    // A form without a resource of its class name is built in code.
    InitInheritedComponent(this);
    DoCreate();
    if (Visible()) UpdateShowing();
}

void TForm::DoCreate() {
    try {
        OnCreate(this);
    } catch (...) {
        // The form stays as far as it was built; the application shows why.
        if (Application) Application->HandleException(this);
    }
}

void TForm::DoDestroy() {
    if (destroy_fired_) return;
    destroy_fired_ = true;
    try {
        OnDestroy(this);
    } catch (...) {
        if (Application) Application->HandleException(this);
    }
}

void TForm::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WndParent = nullptr;
    // Shown by UpdateShowing, once the window state has placed it.
    params.Style = border_style_ == bsNone ? DWORD(WS_POPUP) : DWORD(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU);
    params.Style |= WS_CLIPCHILDREN;
    if (!Enabled()) params.Style |= WS_DISABLED;
    params.ExStyle = form_style_ == fsStayOnTop ? DWORD(WS_EX_TOPMOST) : 0;
    if (border_style_ == bsToolWindow || border_style_ == bsSizeToolWin) params.ExStyle |= WS_EX_TOOLWINDOW;
}

void TForm::SetBorderStyle(TFormBorderStyle s) {
    if (s == border_style_) return;
    border_style_ = s;
    if (HandleAllocated()) {
        TCreateParams params;
        CreateParams(params);
        if (IsWindowVisible(handle_)) params.Style |= WS_VISIBLE;
        SetWindowLongA(handle_, GWL_STYLE, LONG(params.Style));
        SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
}

void TForm::SetFormStyle(TFormStyle s) {
    if (s == form_style_) return;
    form_style_ = s;
    if (HandleAllocated())
        SetWindowPos(handle_, s == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TForm::SetWindowState(TWindowState s) {
    if (s == window_state_) return;
    window_state_ = s;
    if (HandleAllocated() && Visible()) UpdateShowing();
}

void TForm::ApplyWindowState() {
    if (window_state_ == wsMaximized) {
        // Maximized fills the whole screen; the normal bounds come back later.
        if (!bounds_saved_) {
            normal_bounds_ = BoundsRect();
            bounds_saved_ = true;
        }
        TWinControl::SetBounds(0, 0, Screen->Width(), Screen->Height());
    } else if (bounds_saved_) {
        bounds_saved_ = false;
        SetBoundsRect(normal_bounds_);
    }
}

void TForm::UpdateShowing() {
    // Reading the form shows it once everything is read.
    if (HasState(csLoading)) return;
    if (!Visible()) {
        if (HandleAllocated()) ShowWindow(handle_, SW_HIDE);
        return;
    }
    HandleNeeded();
    ApplyWindowState();
    ShowWindow(handle_, window_state_ == wsMinimized ? SW_MINIMIZE : SW_SHOW);
}

void TForm::Show() {
    SetVisible(true);
    if (HandleAllocated() && window_state_ != wsMinimized) {
        SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetActiveWindow(handle_);
    }
}

void TForm::Close() {
    if (Application && Application->MainForm() == this) {
        Application->Terminate();
        return;
    }
    Hide();
}

void TForm::SetActiveControl(TWinControl* c) {
    if (c == this) c = nullptr;
    if (active_control_ == c) return;
    if (active_control_) RemoveFreeNotification(active_control_);
    active_control_ = c;
    if (c) FreeNotification(c);
}

void TForm::Notification(TComponent* component, TOperation operation) {
    TWinControl::Notification(component, operation);
    if (operation == opRemove && component == active_control_) active_control_ = nullptr;
}

void TForm::SelectNext(TWinControl* current, bool forward) {
    std::vector<TWinControl*> list;
    GetTabOrderList(list);
    const int n = static_cast<int>(list.size());
    if (n == 0) return;
    const auto it = std::find(list.begin(), list.end(), current);
    const int at = it == list.end() ? -1 : static_cast<int>(it - list.begin());
    for (int step = 1; step <= n; ++step) {
        const int i = forward ? (at + step) % n : ((at < 0 ? n : at) - step + n) % n;
        TWinControl* c = list[static_cast<size_t>(i)];
        if (c != current && c->TabStop() && c->CanFocus()) {
            c->SetFocus();
            return;
        }
    }
}

void TForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const {
    TWinControl::GetChildren(proc, root);
    if (root != this) return;
    for (int i = 0; i < ComponentCount(); ++i) {
        TComponent* c = Components(i);
        if (!dynamic_cast<TControl*>(c)) proc(c);
    }
}

bool TForm::DialogChar(char c) {
    bool handled = false;
    CMDialogChar(c, handled);
    return handled;
}

void TForm::PaintWindowContent(HDC dc, const TRect&) {
    canvas_->FreeHandle();
    canvas_->SetHandle(dc);
    struct Release {
        TControlCanvas* c;
        ~Release() { c->SetHandle(nullptr); }
    } release{canvas_.get()};
    Paint();
}

void TForm::Paint() { OnPaint(this); }

void TForm::WndProc(TMessage& m) {
    switch (m.Msg) {
        case WM_CLOSE:
            Close();
            m.Result = 0;
            return;
        case WM_ACTIVATE:
            DefaultHandler(m);
            if (LOWORD(m.WParam) != WA_INACTIVE) {
                if (Screen) Screen->active_form_ = this;
                if (active_control_ && active_control_->CanFocus() && !active_control_->Focused())
                    ::SetFocus(active_control_->Handle());
                Activate();
            } else {
                Deactivate();
            }
            return;
        case WM_DISPLAYCHANGE:
            if (window_state_ == wsMaximized && HandleAllocated())
                TWinControl::SetBounds(0, 0, LOWORD(m.LParam), HIWORD(m.LParam));
            DefaultHandler(m);
            return;
        case WM_SHOWWINDOW:
            DefaultHandler(m);
            if (m.WParam)
                OnShow(this);
            else
                OnHide(this);
            return;
        default:
            TWinControl::WndProc(m);
            return;
    }
}

void TForm::Loaded() {
    TWinControl::Loaded();
    if (Visible()) UpdateShowing();
}

const ClassInfo& TForm::StaticClassInfo() {
    static const PropInfo border_icons = props::Ord<&TForm::BorderIcons, &TForm::SetBorderIcons>(
        "BorderIcons", PropKind::Set, 0x07, &BorderIconsType);
    static const PropInfo border_style = props::Ord<&TForm::BorderStyle, &TForm::SetBorderStyle>(
        "BorderStyle", PropKind::Enum, bsSizeable, &FormBorderStyleType);
    static const PropInfo client_width =
        props::Ord<&TForm::ClientWidth, &TForm::SetClientWidth>("ClientWidth", PropKind::Integer);
    static const PropInfo client_height =
        props::Ord<&TForm::ClientHeight, &TForm::SetClientHeight>("ClientHeight", PropKind::Integer);
    static const PropInfo color =
        props::Ord<&TForm::Color, &TForm::SetColor>("Color", PropKind::Integer, clBtnFace, &ColorType);
    static const PropInfo form_style = props::Ord<&TForm::FormStyle, &TForm::SetFormStyle>(
        "FormStyle", PropKind::Enum, fsNormal, &FormStyleType);
    static const PropInfo horz = props::Obj<&TForm::HorzScrollBar>("HorzScrollBar");
    static const PropInfo vert = props::Obj<&TForm::VertScrollBar>("VertScrollBar");
    static const PropInfo key_preview =
        props::Ord<&TForm::KeyPreview, &TForm::SetKeyPreview>("KeyPreview", PropKind::Boolean, 0);
    static const PropInfo pixels_per_inch =
        props::Ord<&TForm::PixelsPerInch, &TForm::SetPixelsPerInch>("PixelsPerInch", PropKind::Integer, 96);
    static const PropInfo scaled =
        props::Ord<&TForm::Scaled, &TForm::SetScaled>("Scaled", PropKind::Boolean, 1);
    static const PropInfo visible =
        props::Ord<&TForm::Visible, &TForm::SetVisible>("Visible", PropKind::Boolean, 0);
    static const PropInfo window_state = props::Ord<&TForm::WindowState, &TForm::SetWindowState>(
        "WindowState", PropKind::Enum, wsNormal, &WindowStateType);
    static const PropInfo on_activate = props::Evt<&TForm::OnActivate>("OnActivate");
    static const PropInfo on_create = props::Evt<&TForm::OnCreate>("OnCreate");
    static const PropInfo on_deactivate = props::Evt<&TForm::OnDeactivate>("OnDeactivate");
    static const PropInfo on_destroy = props::Evt<&TForm::OnDestroy>("OnDestroy");
    static const PropInfo on_hide = props::Evt<&TForm::OnHide>("OnHide");
    static const PropInfo on_paint = props::Evt<&TForm::OnPaint>("OnPaint");
    static const PropInfo on_show = props::Evt<&TForm::OnShow>("OnShow");
    static const PropInfo* const list[] = {&cp::Name(),
                                           &cp::Tag(),
                                           &cp::Left(),
                                           &cp::Top(),
                                           &client_width,
                                           &client_height,
                                           &border_icons,
                                           &border_style,
                                           &cp::Caption(),
                                           &color,
                                           &cp::Cursor(),
                                           &cp::Enabled(),
                                           &cp::Font(),
                                           &form_style,
                                           &cp::Hint(),
                                           &horz,
                                           &vert,
                                           &key_preview,
                                           &pixels_per_inch,
                                           &scaled,
                                           &cp::ShowHint(),
                                           &visible,
                                           &window_state,
                                           &cp::OnClick(),
                                           &on_activate,
                                           &on_create,
                                           &on_deactivate,
                                           &on_destroy,
                                           &cp::OnDblClick(),
                                           &on_hide,
                                           &cp::OnKeyDown(),
                                           &cp::OnKeyPress(),
                                           &cp::OnKeyUp(),
                                           &cp::OnMouseDown(),
                                           &cp::OnMouseMove(),
                                           &cp::OnMouseUp(),
                                           &on_paint,
                                           &on_show};
    static const ClassInfo info{
        "TForm", &TWinControl::StaticClassInfo(), list, {}, {}, &props::Create<TForm>};
    return info;
}

// --- TScreen --------------------------------------------------------------------

int TScreen::Width() const { return GetSystemMetrics(SM_CXSCREEN); }
int TScreen::Height() const { return GetSystemMetrics(SM_CYSCREEN); }

void TScreen::LoadDefaults() const {
    if (!cursors_.empty()) return;
    struct Std {
        int index;
        LPCSTR id;
    };
    const Std table[] = {
        {crDefault, IDC_ARROW},    {crArrow, IDC_ARROW},     {crCross, IDC_CROSS},
        {crIBeam, IDC_IBEAM},      {crSizeAll, IDC_SIZEALL}, {crUpArrow, IDC_UPARROW},
        {crHourGlass, IDC_WAIT},   {crNo, IDC_NO},           {crAppStart, IDC_APPSTARTING},
        {crHandPoint, IDC_HAND},   {crDrag, IDC_ARROW},      {crNoDrop, IDC_NO},
        {crMultiDrag, IDC_ARROW},  {crSQLWait, IDC_WAIT},    {crHelp, IDC_ARROW},
        {crSizeNESW, IDC_SIZEALL}, {crSizeNS, IDC_SIZEALL},  {crSizeNWSE, IDC_SIZEALL},
        {crSizeWE, IDC_SIZEALL},   {crHSplit, IDC_SIZEALL},  {crVSplit, IDC_SIZEALL},
    };
    for (const Std& s : table) cursors_[s.index] = LoadCursorA(nullptr, s.id);
    cursors_[crNone] = nullptr;
}

HCURSOR TScreen::Cursors(int index) const {
    LoadDefaults();
    auto it = cursors_.find(index);
    if (it != cursors_.end()) return it->second;
    return cursors_[crDefault];
}

void TScreen::SetCursors(int index, HCURSOR cursor) {
    LoadDefaults();
    if (!cursor && index != crNone) {
        // Clearing an entry brings back the default arrow for it.
        if (index == crDefault)
            cursors_[crDefault] = LoadCursorA(nullptr, IDC_ARROW);
        else
            cursors_.erase(index);
        return;
    }
    cursors_[index] = cursor;
}

// --- THintWindow ----------------------------------------------------------------

THintWindow::THintWindow(TComponent* owner) : TCustomControl(owner) {
    SetVisible(false);
    SetColor(Application ? Application->HintColor() : clInfoBk);
    Font()->SetColor(clInfoText);
}

THintWindow::~THintWindow() = default;

void THintWindow::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.Style = WS_POPUP | WS_BORDER;
    params.ExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE;
    params.WndParent = nullptr;
}

TRect THintWindow::CalcHintRect(int max_width, const std::string& text) {
    TRect r = Rect(0, 0, max_width > 0 ? max_width : 1, 0);
    Canvas()->Font()->Assign(Font());
    HDC dc = Canvas()->Handle();
    if (dc) {
        SelectObject(dc, Canvas()->Font()->Handle());
        DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    }
    // Room for the frame and a small margin around the text.
    r.right += 6;
    r.bottom += 2;
    return r;
}

void THintWindow::ActivateHint(const TRect& rect, const std::string& text) {
    SetCaption(text);
    HandleNeeded();
    SetBoundsRect(rect);
    SetWindowPos(handle_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetVisible(true);
    if (!IsWindowVisible(handle_)) ShowWindow(handle_, SW_SHOWNA);
    Invalidate();
    Update();
}

void THintWindow::ReleaseHandle() {
    // Hidden first, so that a subclass hears of it through WM_SHOWWINDOW
    // however it showed itself.
    if (HandleAllocated() && IsWindowVisible(handle_)) ShowWindow(handle_, SW_HIDE);
    SetVisible(false);
    DestroyHandle();
}

bool THintWindow::IsHintShowing() { return HandleAllocated() && IsWindowVisible(handle_); }

void THintWindow::Paint() {
    TCanvas* c = Canvas();
    TRect r = ClientRect();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(Color());
    c->FillRect(r);
    c->Brush()->SetColor(clBlack);
    c->FrameRect(r);
    c->Font()->Assign(Font());
    HDC dc = c->Handle();
    if (!dc) return;
    SelectObject(dc, c->Font()->Handle());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColorToRGB(Font()->Color()));
    r.left += 2;
    r.top += 1;
    r.right -= 2;
    const std::string& text = Caption();
    DrawTextA(dc, text.c_str(), -1, &r, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

const ClassInfo& THintWindow::StaticClassInfo() {
    static const ClassInfo info{
        "THintWindow", &TCustomControl::StaticClassInfo(), TCustomControl::StaticClassInfo().props, {}, {}};
    return info;
}
