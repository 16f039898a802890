// Forms, the screen, the hint window and the application object with its
// message loop.
#pragma once

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "controls.h"

enum TFormBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : uint8_t { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = uint8_t;  // bit n = icon n
enum TFormStyle : uint8_t { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };
extern const TypeInfo FormBorderStyleType, BorderIconsType, FormStyleType, WindowStateType;

// A form's scroll bar: never shown here; only the setting is kept.
class TControlScrollBar : public TPersistent {
public:
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    FW_CLASS_INFO();

private:
    bool visible_ = true;
};

// --- TForm ------------------------------------------------------------------

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    // Reads the form's resource, then fires OnCreate. TApplication::CreateForm
    // calls it once the derived constructor is done; forms made with `new`
    // call it themselves.
    virtual void AfterConstruction();

    TFormBorderStyle BorderStyle() const { return border_style_; }
    void SetBorderStyle(TFormBorderStyle s);
    TBorderIcons BorderIcons() const { return border_icons_; }
    void SetBorderIcons(TBorderIcons icons) { border_icons_ = icons; }
    TFormStyle FormStyle() const { return form_style_; }
    void SetFormStyle(TFormStyle s);
    TWindowState WindowState() const { return window_state_; }
    void SetWindowState(TWindowState s);
    TControlScrollBar* HorzScrollBar() const { return horz_.get(); }
    TControlScrollBar* VertScrollBar() const { return vert_.get(); }
    HICON Icon() const { return icon_; }
    void SetIcon(HICON icon) { icon_ = icon; }
    bool Scaled() const { return scaled_; }
    void SetScaled(bool v) { scaled_ = v; }
    int PixelsPerInch() const { return 96; }
    void SetPixelsPerInch(int) {}
    bool KeyPreview() const { return key_preview_; }
    void SetKeyPreview(bool v) { key_preview_ = v; }
    TCanvas* Canvas() const { return canvas_.get(); }

    TWinControl* ActiveControl() const { return active_control_; }
    void SetActiveControl(TWinControl* c);
    // Moves the focus to the next (or previous) tab stop after `current`.
    void SelectNext(TWinControl* current, bool forward);
    // Its controls, then the components it owns that sit on no parent.
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;

    // Offers a character to the accelerators of the form's controls.
    bool DialogChar(char c);

    void Show();
    void Hide() { SetVisible(false); }
    // Hides the form; closing the main form ends the application.
    void Close();

    TNotifyEvent OnCreate, OnActivate, OnDeactivate, OnPaint, OnDestroy, OnShow, OnHide;

    FW_CLASS_INFO();

protected:
    friend class TWinControl;
    void CreateParams(TCreateParams& params) override;
    void WndProc(TMessage& m) override;
    void UpdateShowing() override;
    void PaintWindowContent(HDC dc, const TRect& update) override;
    void Paint() override;
    void Loaded() override;
    // OnDestroy fires here, while a derived form's handlers still have
    // their object; a form freed without it fires OnDestroy as it goes.
    void BeforeDestruction() override { DoDestroy(); }
    virtual void DoCreate();
    virtual void DoDestroy();
    virtual void Activate() { OnActivate(this); }
    virtual void Deactivate() { OnDeactivate(this); }
    void Notification(TComponent* component, TOperation operation) override;

private:
    void ApplyWindowState();

    TFormBorderStyle border_style_ = bsSizeable;
    TBorderIcons border_icons_ = 0x07;
    TFormStyle form_style_ = fsNormal;
    TWindowState window_state_ = wsNormal;
    TRect normal_bounds_{};
    bool bounds_saved_ = false;
    std::unique_ptr<TControlScrollBar> horz_, vert_;
    HICON icon_ = nullptr;
    bool scaled_ = true;
    bool key_preview_ = false;
    bool destroy_fired_ = false;
    std::unique_ptr<TControlCanvas> canvas_;
    TWinControl* active_control_ = nullptr;
};

// --- TScreen ----------------------------------------------------------------

class TScreen : public TComponent {
public:
    explicit TScreen(TComponent* owner) : TComponent(owner) {}
    int Width() const;
    int Height() const;
    // The cursor table: the system's cursors under the negative crXxx
    // numbers, the program's own under the numbers it chooses.
    HCURSOR Cursors(int index) const;
    void SetCursors(int index, HCURSOR cursor);
    void SetCursor(int index, HCURSOR cursor) { SetCursors(index, cursor); }
    TForm* ActiveForm() const { return active_form_; }

private:
    friend class TForm;
    void LoadDefaults() const;
    mutable std::map<int, HCURSOR> cursors_;
    TForm* active_form_ = nullptr;
};

// --- THintWindow ------------------------------------------------------------

// The rectangular hint: a borderless top-level pop-up that lets the mouse
// through and paints its text on the hint colour.
class THintWindow : public TCustomControl {
public:
    explicit THintWindow(TComponent* owner);
    ~THintWindow() override;
    // Shows `text` in `rect` (screen coordinates) without taking the focus.
    virtual void ActivateHint(const TRect& rect, const std::string& text);
    // The size the text needs, at most `max_width` wide, placed at (0, 0).
    virtual TRect CalcHintRect(int max_width, const std::string& text);
    virtual void ReleaseHandle();
    bool IsHintShowing();
    FW_CLASS_INFO();

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;
    void WMNCHitTest(TMessage& m) override { m.Result = HTTRANSPARENT; }
    void WMNCPaint(TMessage& m) override { m.Result = 0; }
};

// --- TApplication -----------------------------------------------------------

using TExceptionEvent = Event<TObject*, const std::exception&>;
using THintWindowClass = std::function<THintWindow*(TComponent* owner)>;

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* owner);
    ~TApplication() override;

    void Initialize();
    std::string Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }

    // Makes a form owned by the application, stores it in `ref` before its
    // OnCreate runs; the first one becomes the main form.
    template <class T>
    void CreateForm(T*& ref) {
        T* form = new T(this);
        ref = form;
        FormCreated(form);
        form->AfterConstruction();
    }
    TForm* MainForm() const { return main_form_; }

    // The message loop: returns once the quit message is taken.
    void Run();
    // Handles every waiting message, then returns.
    void ProcessMessages();
    // Handles one message, or runs the idle handling when there is none.
    void HandleMessage();
    // Posts the quit message; Run returns when it is taken.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Frees the forms and everything else the application owns.
    void DestroyComponents();

    // Called while the queue is empty; leaving `done` false keeps the loop
    // from waiting for the next message.
    TIdleEvent OnIdle;
    TExceptionEvent OnException;
    // Inside a catch block: the current exception goes to OnException, else
    // to ShowException; the loop then carries on.
    void HandleException(TObject* sender);
    void ShowException(const std::exception& e);
    int MessageBox(const std::string& text, const std::string& caption, UINT flags);

    // Hints.
    int HintPause() const { return hint_pause_; }
    void SetHintPause(int ms) { hint_pause_ = ms < 0 ? 0 : ms; }
    int HintHidePause() const { return hint_hide_pause_; }
    void SetHintHidePause(int ms) { hint_hide_pause_ = ms < 0 ? 0 : ms; }
    TColor HintColor() const { return hint_color_; }
    void SetHintColor(TColor c);
    bool ShowHint() const { return show_hint_; }
    // Off frees the hint window; on makes one of the current class.
    void SetShowHint(bool on);
    const THintWindowClass& HintWindowClass() const { return hint_class_; }
    // The next hint shown uses the new class.
    void SetHintWindowClass(THintWindowClass cls);
    THintWindow* HintWindow() const { return hint_window_; }
    TControl* HintControl() const;
    // Shows the hint of the control under the mouse now, at `cursor_pos`.
    void ActivateHint(TPoint cursor_pos);
    void CancelHint();
    bool HintShowing() const;

    // The control a mouse message at a screen point is for, or null.
    static TControl* FindControlAt(TPoint screen_pos);
    // Controls tell the application they are going.
    void ControlDestroying(TControl* control);

private:
    bool ProcessMessage(MSG& msg);
    void Dispatch(MSG& msg);
    void Idle();
    void FormCreated(TForm* form);
    void HintMouseMessage(TControl* control, TPoint screen_pos);
    void StartHintTimer(int ms, bool hide);
    void StopHintTimer();
    void HintTimerExpired();
    void HideHint();
    THintWindow* EnsureHintWindow();
    static void CALLBACK HintTimerProc(HWND, UINT, UINT_PTR, DWORD);

    std::string title_;
    TForm* main_form_ = nullptr;
    bool terminated_ = false;
    int hint_pause_ = 500;
    int hint_hide_pause_ = 2500;
    TColor hint_color_ = clInfoBk;
    bool show_hint_ = true;
    THintWindowClass hint_class_;
    bool hint_class_changed_ = false;
    THintWindow* hint_window_ = nullptr;
    TControl* hint_control_ = nullptr;
    std::string hint_shown_text_;
    bool hint_active_ = false;
    UINT_PTR hint_timer_ = 0;
    bool hint_timer_hides_ = false;
    bool hint_timed_out_ = false;
};

extern TApplication* Application;
extern TScreen* Screen;
