// A focusable push button that shows a picture and a caption on a flat face
// of one colour inside a bevel of configurable width.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "controls.h"
#include "graphics.h"

// Where the caption sits; the picture keeps clear of it. Not the framework's
// three-value text alignment.
enum TAlignment : uint8_t {
    alTopLeft, alTopCenter, alTopRight,
    alMiddleLeft, alMiddleCenter, alMiddleRight,
    alBottomLeft, alBottomCenter, alBottomRight,
};
enum TButtonBevel : uint8_t { bbLowered, bbNone, bbRaised };
enum TButtonStyles : uint8_t { bsAutoSize, bsCenter, bsStretch, bsShowFocus, bsShowKey };
using TButtonStyle = uint8_t;  // bit n = TButtonStyles n
constexpr TButtonStyle ButtonStyleBit(TButtonStyles s) { return TButtonStyle(1u << s); }

// The visual state; not published.
enum class TButtonState : uint8_t { Up = 0, Down = 1, Disabled = 2 };

extern const TypeInfo ButtonAlignmentType;
extern const TypeInfo ButtonBevelType;
extern const TypeInfo ButtonStyleType;

class TColorButton : public TCustomControl {
public:
    explicit TColorButton(TComponent* owner);
    ~TColorButton() override;

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    TButtonBevel BevelStyle() const { return bevel_style_; }
    void SetBevelStyle(TButtonBevel value);
    int BevelSize() const { return bevel_size_; }
    void SetBevelSize(int value);  // below 1 becomes 1
    // The face colour, the button's own (the control's Color is not used).
    TColor Color() const { return color_; }
    void SetColor(TColor value);
    TPicture* Picture() const { return picture_.get(); }
    void SetPicture(const TPicture* value);  // copies the contents
    int Spacing() const { return spacing_; }
    void SetSpacing(int value);  // below 0 becomes 0
    TButtonStyle Style() const { return style_; }
    void SetStyle(TButtonStyle value);
    bool HasButtonStyle(TButtonStyles s) const { return (style_ & ButtonStyleBit(s)) != 0; }

    // The button's own record of holding the focus, as its paint sees it.
    bool Focused() const { return focused_; }
    TButtonState State() const { return state_; }

    void Loaded() override;
    void CMTextChanged() override;
    void CMEnabledChanged() override;
    void CMFontChanged() override;
    void CMDialogChar(char c, bool& handled) override;

    FW_CLASS_INFO();

protected:
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void DoEnter() override;
    void DoExit() override;
    void KeyDown(uint16_t& key, TShiftState shift) override;
    void KeyUp(uint16_t& key, TShiftState shift) override;
    void Paint() override;
    void WMSetFocus(TMessage& m) override;
    void WMKillFocus(TMessage& m) override;
    // The paint covers the whole face; erasing first would only flicker.
    void WMEraseBkgnd(TMessage& m) override { m.Result = 1; }

private:
    void DrawCaption(int offset);
    std::vector<std::pair<int64_t, int64_t>> VisibleFrames() const;
    bool Designing() const { return HasState(csDesigning); }

    TAlignment alignment_ = alMiddleCenter;
    TButtonBevel bevel_style_ = bbRaised;
    int bevel_size_ = 2;
    TColor color_ = clBtnFace;
    std::unique_ptr<TPicture> picture_;
    int spacing_ = 2;
    TButtonStyle style_ = ButtonStyleBit(bsCenter) | ButtonStyleBit(bsShowFocus) | ButtonStyleBit(bsShowKey);
    bool focused_ = false;
    TButtonState state_ = TButtonState::Up;
};
