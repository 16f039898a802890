// Controls: the visual base class, windowed controls with a window of their
// own, custom controls that paint on their own canvas, and graphic controls
// that paint on their parent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classes.h"
#include "graphics.h"
#include "win32/user.h"

class TWinControl;
class TForm;

// --- Cursors ----------------------------------------------------------------

using TCursor = int16_t;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6,
                  crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11,
                  crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15, crMultiDrag = -16,
                  crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20, crHandPoint = -21,
                  crSizeAll = -22;
// Cursor names for streaming ("crHandPoint").
extern const TypeInfo CursorType;

// --- Styles, states, messages -----------------------------------------------

enum TControlStyleFlag : uint8_t {
    csAcceptsControls,
    csCaptureMouse,
    csDesignInteractive,
    csClickEvents,
    csFramed,
    csSetCaption,
    csOpaque,
    csDoubleClicks,
    csFixedWidth,
    csFixedHeight,
    csNoDesignVisible,
    csReplicatable,
    csNoStdEvents,
    csDisplayDragImage,
    csReflector,
    csActionClient,
};
using TControlStyle = uint32_t;  // bit n = flag n
constexpr TControlStyle StyleBit(TControlStyleFlag f) { return TControlStyle(1u << f); }

enum TControlStateFlag : uint8_t {
    csLButtonDown,
    csClicked,
    csPalette,
    csReadingState,
    csAlignmentNeeded,
    csFocusing,
    csCreating,
    csPaintCopy,
    csCustomPaint,
    csDestroyingHandle,
    csDocking,
};
using TControlState = uint32_t;

enum TDragMode : uint8_t { dmManual, dmAutomatic };
extern const TypeInfo DragModeType;

// Text alignment (named apart from the components' own alignment types).
enum TTextAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
extern const TypeInfo AlignmentType;

// A window message as the controls see it.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result = 0;
};

// How a windowed control's window is made; subclasses adjust it.
struct TCreateParams {
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    UINT ClassStyle = 0;
    std::string WinClassName;  // one window class per name, all run the framework's procedure
};

// True when `c` is the accelerator of `caption`: the character after an '&'
// ("&&" is a literal ampersand), compared without regard to case.
bool IsAccel(char c, const std::string& caption);

// --- TControl ---------------------------------------------------------------

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    // Bounds in the parent's client coordinates.
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Rect(left_, top_, left_ + width_, top_ + height_); }
    void SetBoundsRect(const TRect& r) { SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top); }
    virtual TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }
    virtual int ClientWidth() const { return width_; }
    virtual int ClientHeight() const { return height_; }
    void SetClientWidth(int v) { SetWidth(width_ - ClientWidth() + v); }
    void SetClientHeight(int v) { SetHeight(height_ - ClientHeight() + v); }
    // Client point to screen and back.
    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;
    // Offset of this control's client origin in its nearest window.
    TPoint OriginInWindow() const;

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);
    // The form this control sits on (the control itself for a form).
    TForm* ParentForm() const;

    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible and all parents visible.
    bool Showing() const;
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    // Enabled and all parents enabled.
    bool EffectivelyEnabled() const;

    const std::string& Caption() const { return caption_; }
    std::string CaptionValue() const { return caption_; }
    void SetCaption(const std::string& text);

    TFont* Font() const { return font_.get(); }
    void SetFont(const TFont* font) { font_->Assign(font); }
    bool ParentFont() const { return parent_font_; }
    void SetParentFont(bool v);
    TColor Color() const { return color_; }
    void SetColor(TColor c);

    std::string Hint() const { return hint_; }
    void SetHint(const std::string& text) { hint_ = text; }
    bool ShowHint() const { return show_hint_; }
    void SetShowHint(bool v);
    bool ParentShowHint() const { return parent_show_hint_; }
    void SetParentShowHint(bool v);

    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor c);
    TCursor DragCursor() const { return drag_cursor_; }
    void SetDragCursor(TCursor c) { drag_cursor_ = c; }
    TDragMode DragMode() const { return drag_mode_; }
    void SetDragMode(TDragMode m) { drag_mode_ = m; }
    // A pop-up menu is never shown here; the slot keeps what a form sets.
    // A slot for a pop-up menu component; nothing shows it yet.
    TComponent* PopupMenu() const { return popup_menu_; }
    void SetPopupMenu(TComponent* menu);

    TControlStyle ControlStyle() const { return control_style_; }
    void SetControlStyle(TControlStyle s) { control_style_ = s; }
    bool HasStyle(TControlStyleFlag f) const { return (control_style_ >> f) & 1u; }
    TControlState ControlState() const { return control_state_; }
    bool HasControlState(TControlStateFlag f) const { return (control_state_ >> f) & 1u; }

    // Marks the control for painting; Update paints what is marked now;
    // Repaint does both.
    virtual void Invalidate();
    virtual void Update();
    void Repaint();
    void Refresh() { Repaint(); }
    void BringToFront();

    // Captures the mouse for this control (its window, or its parent's for a
    // graphic control) so that moves and the release come here.
    bool MouseCapture() const;
    void SetMouseCapture(bool on);

    // Entry points of the mouse from the window procedure, in client
    // coordinates; they run the virtual hooks below.
    void DispatchMouse(UINT msg, WPARAM keys, int x, int y);

    TNotifyEvent OnClick, OnDblClick;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    // Drag and drop does not happen here; the slots keep what a form binds.
    TNotifyEvent OnDragDrop, OnDragOver, OnEndDrag, OnStartDrag;

    // While designing, a control whose caption was its name follows a rename
    // (csSetCaption).
    void SetName(const std::string& name) override;

    TComponent* GetParentComponent() const override;
    void SetParentComponent(TComponent* parent) override;

    // Notifications. Overrides usually run the inherited handling too.
    virtual void CMTextChanged() { Invalidate(); }
    virtual void CMFontChanged() { Invalidate(); }
    virtual void CMColorChanged() { Invalidate(); }
    virtual void CMEnabledChanged() { Invalidate(); }
    virtual void CMVisibleChanged() {}
    virtual void CMDialogChar(char, bool& /*handled*/) {}
    virtual void CMMouseEnter() {}
    virtual void CMMouseLeave() {}
    virtual void CMHintShow() {}
    // The parent's font or hint switch changed.
    virtual void CMParentFontChanged();
    virtual void CMParentShowHintChanged();

    // True for a control whose liveness a handler might end (see Alive()).
    std::weak_ptr<bool> AliveToken() const { return alive_; }

    FW_CLASS_INFO();

protected:
    friend class TWinControl;
    void Notification(TComponent* component, TOperation operation) override;
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void Click();
    virtual void DblClick();
    virtual void Paint() {}
    // Called after the bounds changed.
    virtual void Resize() {}
    virtual void VisibleChanging() {}
    // The window that shows this control: its own, or the parent's.
    virtual HWND PaintWindow() const;

    void SetControlStateFlag(TControlStateFlag f, bool on);
    TControlStyle control_style_ = 0;
    TControlState control_state_ = 0;

private:
    void FontChanged();

    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    std::string caption_;
    std::unique_ptr<TFont> font_;
    bool parent_font_ = true;
    bool font_from_parent_ = false;
    TColor color_ = clWindow;
    std::string hint_;
    bool show_hint_ = false;
    bool parent_show_hint_ = true;
    TCursor cursor_ = crDefault;
    TCursor drag_cursor_ = crDrag;
    TDragMode drag_mode_ = dmManual;
    TComponent* popup_menu_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// --- TWinControl ------------------------------------------------------------

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    // The window, made on demand (the parent's first).
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    void HandleNeeded() { Handle(); }
    // Destroys the window (it is made again on demand); children's too.
    void DestroyHandle();
    // The control of a framework window, or null.
    static TWinControl* FindControl(HWND window);

    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int i) const { return controls_.at(static_cast<size_t>(i)); }
    void InsertControl(TControl* c);
    void RemoveControl(TControl* c);
    // The topmost visible child control at a client point; disabled ones
    // only when asked for.
    TControl* ControlAtPos(TPoint p, bool allow_disabled) const;
    bool ContainsControl(const TControl* c) const;

    void SetBounds(int left, int top, int width, int height) override;
    void Invalidate() override;
    void Update() override;
    TRect ClientRect() const override;
    int ClientWidth() const override;
    int ClientHeight() const override;

    // Focus and tab order.
    virtual bool CanFocus() const;
    bool Focused() const;
    virtual void SetFocus();
    int TabOrder() const;
    void SetTabOrder(int order);
    bool TabStop() const { return tab_stop_; }
    void SetTabStop(bool v) { tab_stop_ = v; }
    // Tab-stop controls inside this one, depth first in tab order.
    void GetTabOrderList(std::vector<TWinControl*>& list) const;
    // Characters a control takes as text rather than as accelerators.
    virtual bool WantsChars() const { return false; }

    TNotifyEvent OnEnter, OnExit;
    TKeyEvent OnKeyDown, OnKeyUp;
    TKeyPressEvent OnKeyPress;

    // Dispatches a message to this control: the window procedure of every
    // framework window ends here; overrides handle theirs and pass the rest.
    virtual void WndProc(TMessage& m);
    // Windows' own handling.
    void DefaultHandler(TMessage& m);

    // The child controls the root owns, in z order, for the form writer.
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) const override;

    void CMDialogChar(char c, bool& handled) override;  // asks the children
    void CMParentShowHintChanged() override;
    void CMEnabledChanged() override;
    void CMVisibleChanged() override { UpdateShowing(); }
    virtual void CMEnter() { DoEnter(); }
    virtual void CMExit() { DoExit(); }

    FW_CLASS_INFO();

protected:
    friend class TControl;
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    virtual void DestroyWnd();
    HWND PaintWindow() const override { return handle_; }

    virtual void DoEnter() { OnEnter(this); }
    virtual void DoExit() { OnExit(this); }
    virtual void KeyDown(uint16_t& key, TShiftState shift);
    virtual void KeyUp(uint16_t& key, TShiftState shift);
    virtual void KeyPress(char& key);

    // Message handlers subclasses may replace.
    virtual void WMPaint(TMessage& m);
    virtual void WMEraseBkgnd(TMessage& m);
    virtual void WMNCPaint(TMessage& m) { DefaultHandler(m); }
    virtual void WMNCHitTest(TMessage& m) { DefaultHandler(m); }
    virtual void WMShowWindow(TMessage& m) { DefaultHandler(m); }
    virtual void WMSetFocus(TMessage& m);
    virtual void WMKillFocus(TMessage& m);
    virtual void WMSetCursor(TMessage& m);
    // Shows or hides the window as Visible says.
    virtual void UpdateShowing();
    // Paints this window's own face on `dc` (custom controls use their canvas).
    virtual void PaintWindowContent(HDC dc, const TRect& update);
    // Paints the graphic children that meet `update` on `dc`.
    void PaintControls(HDC dc, const TRect& update);

    // A key that a control handles itself instead of the form.
    virtual bool WantsTab() const { return false; }

    HWND handle_ = nullptr;

private:
    void RouteMouse(TMessage& m);
    void HandleKey(TMessage& m);
    static LRESULT CALLBACK WindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

    std::vector<TControl*> controls_;  // z order, bottom first
    std::vector<TWinControl*> tab_list_;
    int pending_tab_order_ = -1;
    bool tab_stop_ = false;
    TControl* mouse_control_ = nullptr;  // the child under the mouse, for enter/leave
};

// A canvas on a control: during a paint it draws on the paint's DC, at
// other times on a DC of the control's window taken on demand.
class TControlCanvas : public TCanvas {
public:
    explicit TControlCanvas(TControl* control) : control_(control) {}
    ~TControlCanvas() override;
    TControl* Control() const { return control_; }
    // Gives back a DC taken on demand (after a message was handled).
    virtual void FreeHandle();
    // Every control canvas gives back its on-demand DC.
    static void FreeDeviceContexts();

protected:
    void CreateHandle() override;
    // On the list of canvases whose DC FreeDeviceContexts gives back.
    void Track();
    void Untrack();

private:
    TControl* control_;
    HWND dc_window_ = nullptr;
    HDC own_dc_ = nullptr;
};

// A graphic control's canvas outside a paint: it draws off screen over a copy
// of the control's area and copies the result into place when the DC is
// given back, so the control keeps its own coordinates and bounds.
class TGraphicControlCanvas : public TControlCanvas {
public:
    explicit TGraphicControlCanvas(TControl* control) : TControlCanvas(control) {}
    ~TGraphicControlCanvas() override;
    void FreeHandle() override;

protected:
    void CreateHandle() override;

private:
    HWND window_ = nullptr;
    HDC mem_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    TPoint origin_{0, 0};
    int width_ = 0, height_ = 0;
};

class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner);
    ~TCustomControl() override;
    TCanvas* Canvas() const { return canvas_.get(); }
    FW_CLASS_INFO();

protected:
    void PaintWindowContent(HDC dc, const TRect& update) override;

private:
    std::unique_ptr<TControlCanvas> canvas_;
};

// No window: paints on its parent inside its own bounds, takes no focus.
class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* owner);
    ~TGraphicControl() override;
    TCanvas* Canvas() const { return canvas_.get(); }
    FW_CLASS_INFO();

protected:
    friend class TWinControl;
    // Paints on `dc` of the parent window: the canvas sees the control's own
    // coordinates and cannot draw outside its bounds.
    void PaintOn(HDC dc);

private:
    std::unique_ptr<TGraphicControlCanvas> canvas_;
};

// --- Published property entries ---------------------------------------------

// Table entries of the standard properties, declared once; classes list the
// ones they publish in their own order.
namespace ControlProps {
const PropInfo& Name();
const PropInfo& Tag();
const PropInfo& Left();
const PropInfo& Top();
const PropInfo& Width();
const PropInfo& Height();
const PropInfo& Caption();
const PropInfo& Color();  // default clWindow
const PropInfo& Font();
const PropInfo& ParentFont();
const PropInfo& Enabled();
const PropInfo& Visible();
const PropInfo& Hint();
const PropInfo& ShowHint();  // stored while not following the parent
const PropInfo& ParentShowHint();
const PropInfo& Cursor();
const PropInfo& DragCursor();
const PropInfo& DragMode();
const PropInfo& PopupMenu();
const PropInfo& TabOrder();
const PropInfo& TabStop();
const PropInfo& OnClick();
const PropInfo& OnDblClick();
const PropInfo& OnMouseDown();
const PropInfo& OnMouseMove();
const PropInfo& OnMouseUp();
const PropInfo& OnDragDrop();
const PropInfo& OnDragOver();
const PropInfo& OnEndDrag();
const PropInfo& OnStartDrag();
const PropInfo& OnEnter();
const PropInfo& OnExit();
const PropInfo& OnKeyDown();
const PropInfo& OnKeyPress();
const PropInfo& OnKeyUp();
}  // namespace ControlProps

// The key-state byte of the current message's modifiers and buttons.
TShiftState KeysToShiftState(WPARAM keys);
TShiftState KeyboardShiftState();
