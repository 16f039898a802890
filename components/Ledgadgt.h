// LED segment gadgets: text drawn as lit and unlit segments of fourteen-
// segment cells with a decimal point, a comma and a two-dot colon. A label
// shows its caption; a clock shows the time of day and keeps it current.
#pragma once

#include <cstdint>
#include <string>

#include "controls.h"
#include "timer.h"

enum TLEDDrawMode : uint8_t { dmPolygon, dmLine };
extern const TypeInfo LEDDrawModeType;

// Scale of the glyph, 1..16.
using TSegmentSize = uint8_t;
constexpr int kMinSegmentSize = 1, kMaxSegmentSize = 16;
// Columns and Rows are kept within 0..kMaxCells so that a bad form cannot
// make a paint run for ever or the size overflow.
constexpr int kMaxCells = 1024;

class TLEDGadget : public TGraphicControl {
public:
    explicit TLEDGadget(TComponent* owner);

    // True during and after a paint that draws polygons as lines because
    // SegmentSize is 1.
    bool ThinMode() const { return thin_mode_; }

    // Where a row's characters sit among its cells: from the left (the
    // default), against the right edge, or centred.
    TTextAlignment Alignment() const { return alignment_; }
    void SetAlignment(TTextAlignment a);
    TColor BackColor() const { return back_color_; }
    void SetBackColor(TColor c);
    int Columns() const { return columns_; }
    void SetColumns(int n);
    TLEDDrawMode DrawMode() const { return draw_mode_; }
    void SetDrawMode(TLEDDrawMode m);
    TColor UnlitColor() const { return unlit_color_; }
    void SetUnlitColor(TColor c);
    TColor LitColor() const { return lit_color_; }
    void SetLitColor(TColor c);
    // Paint straight on the parent rather than through an off-screen bitmap.
    bool DrawOnScreen() const { return draw_on_screen_; }
    void SetDrawOnScreen(bool v);
    int Rows() const { return rows_; }
    void SetRows(int n);
    int SegmentSize() const { return segment_size_; }
    void SetSegmentSize(int s);  // kept within 1..16

    // Stores the three values and sizes the gadget to fit them, keeping its
    // left and top.
    void ResetBounds(int rows, int columns, int segment_size);

    void CMTextChanged() override;

    FW_CLASS_INFO();

protected:
    void Paint() override;

private:
    void DrawGadget(TCanvas* canvas);

    bool thin_mode_ = false;
    TTextAlignment alignment_ = taLeftJustify;
    TColor back_color_ = clBlack;
    int columns_ = 4;
    TLEDDrawMode draw_mode_ = dmPolygon;
    TColor unlit_color_ = 16384;  // RGB 0, 64, 0
    TColor lit_color_ = 65280;    // RGB 0, 255, 0
    bool draw_on_screen_ = false;
    int rows_ = 1;
    TSegmentSize segment_size_ = 2;
};

// Shows its caption; Caption, Columns and Rows are published.
class TLEDLabel : public TLEDGadget {
public:
    using TLEDGadget::TLEDGadget;
    FW_CLASS_INFO();
};

// Shows the time of day in the system's long time format, checked every
// Interval milliseconds while Enabled.
class TLEDClock : public TLEDGadget {
public:
    explicit TLEDClock(TComponent* owner);
    ~TLEDClock() override;

    // The time of day last shown, as a fraction of a day without
    // milliseconds; 0 before the first tick.
    double LastTime() const { return last_time_; }
    int Interval() const { return interval_; }
    void SetInterval(int ms);  // kept within 0..65535; 0 stops the ticks
    bool ShowSeconds() const { return show_seconds_; }
    void SetShowSeconds(bool v);
    TTimer* Timer() const { return timer_; }

    // One tick, as the timer runs it: shows the time if the second changed,
    // then fires OnTimer.
    void TimerTick(TObject* sender);

    void CMEnabledChanged() override;

    TNotifyEvent OnTimer;

    FW_CLASS_INFO();

private:
    double last_time_ = 0;
    TTimer* timer_ = nullptr;  // owned
    uint16_t interval_ = 100;
    bool show_seconds_ = true;
};

// The time of day in the system's long time format ("sTimeFormat" of the
// [intl] section of WIN.INI, "H:mm:ss" when there is none).
std::string FormatLongTime(int hour, int minute, int second);
