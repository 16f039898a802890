// An analog clock face with twelve hour marks, diamond hour and minute
// hands and a thin second hand, driven by its own timer.
#pragma once

#include <cstdint>
#include <memory>

#include "controls.h"
#include "timer.h"

enum TAnalogClockShape : uint8_t { csCircle, csSquare };
extern const TypeInfo AnalogClockShapeType;

// Edge a control keeps to inside its parent. The framework's controls have
// no alignment of their own; the clock applies it when it is set, when the
// clock gets a parent and when a form has been read.
enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
extern const TypeInfo AlignType;

class TAnalogClock : public TCustomControl {
public:
    explicit TAnalogClock(TComponent* owner);
    ~TAnalogClock() override;

    TAnalogClockShape Shape() const { return shape_; }
    void SetShape(TAnalogClockShape v);
    TColor FaceColor() const { return face_color_; }
    void SetFaceColor(TColor v);
    TColor BackColor() const { return back_color_; }
    void SetBackColor(TColor v);
    TColor SecHandColor() const { return sec_hand_color_; }
    void SetSecHandColor(TColor v);
    TColor HandsColor() const { return hands_color_; }
    void SetHandsColor(TColor v);
    TColor TickColor() const { return tick_color_; }
    void SetTickColor(TColor v);
    TColor OutlineColor() const { return outline_color_; }
    void SetOutlineColor(TColor v);
    bool ShowSeconds() const { return show_seconds_; }
    void SetShowSeconds(bool v);
    uint16_t Interval() const { return interval_; }
    void SetInterval(uint16_t ms);
    TAlign Align() const { return align_; }
    void SetAlign(TAlign v);

    // Geometry of the last face drawn, in client coordinates.
    int CenterX() const { return center_x_; }
    int CenterY() const { return center_y_; }
    int TickRadius() const { return tick_radius_; }
    // Second at which the second hand stands now; -1 when none is drawn.
    int LastSecond() const { return last_second_; }
    const TTimer* Timer() const { return timer_.get(); }

    void SetParent(TWinControl* parent) override;
    void CMEnabledChanged() override;

    TNotifyEvent OnTimer;

    FW_CLASS_INFO();

protected:
    void Paint() override;
    void Loaded() override;
    void WMPaint(TMessage& m) override;
    void WMEraseBkgnd(TMessage& m) override;

    // Face and hands for the given time, on any canvas.
    void DoPaint(TCanvas* canvas, int hour, int minute);
    void DrawClock(TCanvas* canvas);
    void DrawHands(TCanvas* canvas, int hour, int minute);
    // XOR-draws the second hand on the control itself, erasing the old one.
    void DrawSecHand(int second);
    void PaintSecHand(int second, int length);
    // Each tick of the timer.
    void TimerExpired();

private:
    TPoint PointAt(int tick, int length) const;
    void ApplyAlign();

    int center_x_ = 0;
    int center_y_ = 0;
    int tick_radius_ = 0;
    int last_second_ = -1;
    int painted_minute_ = -1;  // minute of the day the hands show; -1 = none
    std::unique_ptr<TTimer> timer_;
    TAnalogClockShape shape_ = csCircle;
    TColor face_color_ = clWindow;
    TColor back_color_ = clBtnFace;
    TColor sec_hand_color_ = clWindowFrame;
    TColor hands_color_ = clActiveCaption;
    TColor tick_color_ = clWindowFrame;
    TColor outline_color_ = clWindowFrame;
    bool show_seconds_ = true;
    uint16_t interval_ = 100;
    TAlign align_ = alNone;
};
