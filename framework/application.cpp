// The application object: message loop, idle handling, exception display and
// the hint machinery.
#include <cstdlib>

#include "forms.h"

TApplication* Application = new TApplication(nullptr);
TScreen* Screen = new TScreen(nullptr);

namespace {

// The hint sits below the cursor's hot spot, clear of the cursor image.
constexpr int kHintCursorMargin = 20;

// The control whose hint applies at `c`: the first one up the parent chain
// that shows hints.
TControl* hint_target(TControl* c) {
    while (c && !c->ShowHint()) c = c->Parent();
    if (c && c->HasState(csDesigning)) return nullptr;
    return c;
}

bool is_hint_cancel_message(UINT msg) {
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            return true;
        default:
            return false;
    }
}

}  // namespace

TApplication::TApplication(TComponent* owner)
    : TComponent(owner), hint_class_([](TComponent* o) { return new THintWindow(o); }) {}

TApplication::~TApplication() {
    StopHintTimer();
    hint_window_ = nullptr;
}

void TApplication::Initialize() {}

void TApplication::FormCreated(TForm* form) {
    if (!main_form_) main_form_ = form;
    // The forms go before the window system does at exit, so that their
    // OnDestroy handlers still find their windows.
    static const bool registered = [] {
        std::atexit([] {
            if (Application) Application->DestroyComponents();
        });
        return true;
    }();
    (void)registered;
}

void TApplication::DestroyComponents() {
    // Components going now can tell that the application is closing down.
    SetState(csDestroying, true);
    CancelHint();
    while (ComponentCount() > 0) {
        TComponent* c = Components(ComponentCount() - 1);
        c->BeforeDestruction();
        delete c;
    }
    hint_window_ = nullptr;
    main_form_ = nullptr;
    SetState(csDestroying, false);
}

void TApplication::Run() {
    // A quit message posted before the loop (a failed start) still ends it.
    terminated_ = false;
    // A start that already asked to quit ends without showing the form.
    MSG quit;
    const bool quitting = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
    if (main_form_ && !main_form_->Visible() && !quitting) {
        try {
            main_form_->Show();
        } catch (...) {
            HandleException(this);
        }
    }
    do {
        HandleMessage();
    } while (!terminated_);
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (ProcessMessage(msg)) {
    }
    TControlCanvas::FreeDeviceContexts();
}

void TApplication::HandleMessage() {
    try {
        MSG msg;
        if (!ProcessMessage(msg)) Idle();
    } catch (...) {
        HandleException(this);
    }
}

bool TApplication::ProcessMessage(MSG& msg) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return true;
    }
    try {
        Dispatch(msg);
    } catch (...) {
        HandleException(this);
    }
    return true;
}

void TApplication::Dispatch(MSG& msg) {
    if (is_hint_cancel_message(msg.message)) CancelHint();
    if (msg.message == WM_MOUSEMOVE) {
        // Before the control sees the move: a hint text its handler changes
        // shows at the next move.
        TControl* under = nullptr;
        if (TWinControl* w = TWinControl::FindControl(msg.hwnd)) {
            const TPoint p = Point(GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam));
            TControl* c = w->ControlAtPos(p, false);
            under = c && !dynamic_cast<TWinControl*>(c) ? c : w;
        }
        HintMouseMessage(under, msg.pt);
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    TControlCanvas::FreeDeviceContexts();
}

void TApplication::Idle() {
    if (hint_control_) {
        // The mouse may have left for a window that is not ours.
        POINT p;
        if (GetCursorPos(&p) && hint_target(FindControlAt(p)) != hint_control_) CancelHint();
    }
    bool done = true;
    try {
        OnIdle(this, done);
    } catch (...) {
        HandleException(this);
    }
    TControlCanvas::FreeDeviceContexts();
    if (!done) return;
    MSG msg;
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
        terminated_ = true;
        return;
    }
    try {
        Dispatch(msg);
    } catch (...) {
        HandleException(this);
    }
}

void TApplication::Terminate() { PostQuitMessage(0); }

// --- Exceptions ---------------------------------------------------------------

void TApplication::HandleException(TObject* sender) {
    std::exception_ptr current = std::current_exception();
    if (!current) return;
    auto report = [&](const std::exception& e) {
        if (!OnException) {
            ShowException(e);
            return;
        }
        try {
            OnException(sender, e);
        } catch (const std::exception& again) {
            ShowException(again);
        } catch (...) {
            ShowException(Exception("Unknown error in the exception handler"));
        }
    };
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        report(e);
    } catch (...) {
        report(Exception("Unknown error"));
    }
}

void TApplication::ShowException(const std::exception& e) {
    MessageBox(e.what(), title_, MB_OK | MB_ICONHAND);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    HWND owner = main_form_ && main_form_->HandleAllocated() ? main_form_->Handle() : nullptr;
    return MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

// --- Hints ----------------------------------------------------------------------

TControl* TApplication::FindControlAt(TPoint screen_pos) {
    TWinControl* w = TWinControl::FindControl(WindowFromPoint(screen_pos));
    if (!w) return nullptr;
    TControl* c = w->ControlAtPos(w->ScreenToClient(screen_pos), false);
    return c && !dynamic_cast<TWinControl*>(c) ? c : w;
}

TControl* TApplication::HintControl() const { return hint_control_; }

bool TApplication::HintShowing() const {
    return hint_active_ && hint_window_ && hint_window_->IsHintShowing();
}

void TApplication::SetHintColor(TColor c) {
    hint_color_ = c;
    if (hint_window_) hint_window_->SetColor(c);
}

void TApplication::SetShowHint(bool on) {
    if (on == show_hint_) return;
    show_hint_ = on;
    if (!on) {
        CancelHint();
        delete hint_window_;  // clears hint_window_ through ControlDestroying
        hint_window_ = nullptr;
        return;
    }
    hint_class_changed_ = false;
    if (hint_class_) {
        hint_window_ = hint_class_(this);
        if (hint_window_) hint_window_->SetColor(hint_color_);
    }
}

void TApplication::SetHintWindowClass(THintWindowClass cls) {
    hint_class_ = cls ? std::move(cls) : [](TComponent* o) { return new THintWindow(o); };
    hint_class_changed_ = true;
}

THintWindow* TApplication::EnsureHintWindow() {
    if (hint_class_changed_) {
        hint_class_changed_ = false;
        if (hint_window_) {
            HideHint();
            delete hint_window_;
            hint_window_ = nullptr;
        }
    }
    if (!hint_window_ && hint_class_) {
        hint_window_ = hint_class_(this);
        if (hint_window_) hint_window_->SetColor(hint_color_);
    }
    return hint_window_;
}

void TApplication::HintMouseMessage(TControl* control, TPoint screen_pos) {
    if (!show_hint_) return;
    TControl* target = hint_target(control);
    if (!target) {
        CancelHint();
        return;
    }
    if (target != hint_control_) {
        CancelHint();
        hint_control_ = target;
        StartHintTimer(hint_pause_, false);
        return;
    }
    if (hint_active_) {
        if (target->Hint() != hint_shown_text_) ActivateHint(screen_pos);
        return;
    }
    // Resting again after a pause that found no text, or after a click.
    if (!hint_timer_ && !hint_timed_out_) StartHintTimer(hint_pause_, false);
}

void TApplication::ActivateHint(TPoint cursor_pos) {
    if (!show_hint_ || !hint_control_) return;
    const std::string text = hint_control_->Hint();
    if (text.empty()) {
        HideHint();
        return;
    }
    hint_control_->CMHintShow();
    THintWindow* w = EnsureHintWindow();
    if (!w) return;
    const int sw = Screen->Width(), sh = Screen->Height();
    const TRect size = w->CalcHintRect(sw, text);
    const int width = size.right - size.left, height = size.bottom - size.top;
    int x = cursor_pos.x, y = cursor_pos.y + kHintCursorMargin;
    if (x + width > sw) x = sw - width;
    if (y + height > sh) y = cursor_pos.y - height - 4;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    w->SetColor(hint_color_);
    hint_active_ = true;
    hint_shown_text_ = text;
    w->ActivateHint(Rect(x, y, x + width, y + height), text);
}

void TApplication::HideHint() {
    hint_active_ = false;
    hint_shown_text_.clear();
    if (hint_window_) hint_window_->ReleaseHandle();
}

void TApplication::CancelHint() {
    StopHintTimer();
    if (hint_active_ || (hint_window_ && hint_window_->HandleAllocated())) HideHint();
    hint_control_ = nullptr;
    hint_timed_out_ = false;
}

void TApplication::StartHintTimer(int ms, bool hide) {
    StopHintTimer();
    hint_timer_hides_ = hide;
    hint_timer_ = SetTimer(nullptr, 0, UINT(ms > 0 ? ms : 1), &HintTimerProc);
}

void TApplication::StopHintTimer() {
    if (hint_timer_) KillTimer(nullptr, hint_timer_);
    hint_timer_ = 0;
}

void CALLBACK TApplication::HintTimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    if (Application && id == Application->hint_timer_) Application->HintTimerExpired();
}

void TApplication::HintTimerExpired() {
    const bool hide = hint_timer_hides_;
    StopHintTimer();
    if (hide) {
        HideHint();
        hint_timed_out_ = true;  // stays hidden until the mouse leaves the control
        return;
    }
    POINT p{};
    GetCursorPos(&p);
    if (!hint_control_ || hint_target(FindControlAt(p)) != hint_control_) {
        CancelHint();
        return;
    }
    ActivateHint(p);
    if (hint_active_ && hint_hide_pause_ > 0) StartHintTimer(hint_hide_pause_, true);
}

void TApplication::ControlDestroying(TControl* control) {
    if (control == hint_control_) CancelHint();
    if (control == hint_window_) {
        hint_window_ = nullptr;
        hint_active_ = false;
    }
    if (control == main_form_) main_form_ = nullptr;
}
