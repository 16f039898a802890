// The balloon hint: a speech balloon with a tail pointing at the cursor, an
// optional drop shadow and the hint text word-wrapped inside. Placing an
// active TBalloonHint on a form makes every application hint a balloon.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "Dtutil.h"
#include "classes.h"
#include "forms.h"
#include "graphics.h"

enum TBalloonShape : uint8_t { bsRoundRect, bsRectangle };
enum TBalloonShadowStyle : uint8_t { ssShaded, ssSolid };
// Bit 1: below the cursor; bit 0: to its right.
enum TBalloonPosition : uint8_t { bpAboveLeft, bpAboveRight, bpBelowLeft, bpBelowRight };
enum TBalloonBehavior : uint8_t { bbNoShowMouseDown, bbUseRegions, bbHideOnPaint };
using TBalloonBehaviors = uint8_t;  // bit n = behaviour n
using TShadowDepth = uint8_t;       // 0..16

constexpr TBalloonBehaviors BalloonBehaviorBit(TBalloonBehavior b) {
    return TBalloonBehaviors(1u << b);
}
constexpr TBalloonBehaviors bbAllBehaviors = 0x07;
constexpr int kMaxShadowDepth = 16;

extern const TypeInfo BalloonShapeType, BalloonShadowStyleType, BalloonPositionType,
    BalloonBehaviorsType;

struct TBalloonProps {
    TColor BorderColor = clBlack;
    TColor Color = clInfoBk;
    TFont* Font = nullptr;  // owned by the component
    int32_t MaxWidth = -4;
    int32_t MaxWidthPixels = 0;
    TBalloonBehaviors Behavior = bbAllBehaviors;
    TBalloonPosition Position = bpAboveRight;
    TShadowDepth ShadowDepth = 8;
    TBalloonShadowStyle ShadowStyle = ssShaded;
    TBalloonShape Shape = bsRoundRect;
    THintStyle Style = hsDefault;
};
using PBalloonProps = TBalloonProps*;

// The settings of the active balloon component (the last one created), or null.
extern PBalloonProps ActiveBalloonProps;

// --- Components -----------------------------------------------------------------

class TBalloonBase : public TComponent {
public:
    explicit TBalloonBase(TComponent* owner);
    ~TBalloonBase() override;

    TColor BorderColor() const { return props_.BorderColor; }
    void SetBorderColor(TColor c) { props_.BorderColor = c; }
    TColor Color() const { return props_.Color; }
    void SetColor(TColor c) { props_.Color = c; }
    TFont* Font() const { return font_.get(); }
    void SetFont(const TFont* font);
    int32_t MaxWidth() const { return props_.MaxWidth; }
    void SetMaxWidth(int32_t value);
    int32_t MaxWidthPixels() const { return props_.MaxWidthPixels; }
    TBalloonBehaviors Behavior() const { return props_.Behavior; }
    void SetBehavior(TBalloonBehaviors b) { props_.Behavior = TBalloonBehaviors(b & bbAllBehaviors); }
    TBalloonPosition Position() const { return props_.Position; }
    void SetPosition(TBalloonPosition p) { props_.Position = TBalloonPosition(p & 3); }
    TShadowDepth ShadowDepth() const { return props_.ShadowDepth; }
    void SetShadowDepth(int depth);
    TBalloonShadowStyle ShadowStyle() const { return props_.ShadowStyle; }
    void SetShadowStyle(TBalloonShadowStyle s) { props_.ShadowStyle = s == ssSolid ? ssSolid : ssShaded; }
    TBalloonShape Shape() const { return props_.Shape; }
    void SetShape(TBalloonShape s) { props_.Shape = s == bsRectangle ? bsRectangle : bsRoundRect; }
    THintStyle Style() const { return props_.Style; }
    void SetStyle(THintStyle s) { props_.Style = s <= hsSystem ? s : hsDefault; }

    TBalloonProps* Props() { return &props_; }

    FW_CLASS_INFO();

protected:
    TBalloonProps props_;

private:
    std::unique_ptr<TFont> font_;
};

class TBalloonHint : public TBalloonBase {
public:
    explicit TBalloonHint(TComponent* owner);
    ~TBalloonHint() override;

    bool Active() const { return active_; }
    void SetActive(bool on);

    FW_CLASS_INFO();

private:
    bool active_ = false;
};

// --- Windows --------------------------------------------------------------------

class TBalloonWindow : public THintWindow {
public:
    explicit TBalloonWindow(TComponent* owner);
    ~TBalloonWindow() override;

    PBalloonProps BalloonProps() const { return props_; }
    void SetBalloonProps(PBalloonProps p) { props_ = p; }
    // The side the balloon is on now, after the screen fit.
    TBalloonPosition CurrentPosition() const { return position_; }
    TColor FillColor() const { return fill_color_; }
    TColor FrameColor() const { return frame_color_; }

    // Sizes the window to its caption.
    void CalcBounds();
    // The balloon sizes and places itself; the framework's measuring would
    // only replace the canvas font.
    TRect CalcHintRect(int max_width, const std::string& text) override;

    // Body rectangle, tail (tip first) and text rectangle for the current
    // client size and position.
    struct Metrics {
        TRect Body;
        TPoint Tail[3];
        TRect Text;
    };
    Metrics CalcDrawMetrics();
    // A new region of body and tail, moved by `offset` when positive; the
    // caller owns it.
    HRGN CreateBalloonRegion(const TRect& body, const TPoint (&tail)[3], int offset);

    FW_CLASS_INFO();

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;
    void CMTextChanged() override;
    void WMEraseBkgnd(TMessage& m) override;
    void WMShowWindow(TMessage& m) override;
    void WMNCPaint(TMessage& m) override;
    void WMNCHitTest(TMessage& m) override;

    // The settings in use: the component's, or the defaults when there is none.
    const TBalloonProps& Settings() const;
    void DrawBalloon(TCanvas* canvas, const TRect& body, const TPoint (&tail)[3], int offset,
                     TColor fill, TColor frame);
    // The caption as measured and drawn.
    std::string DrawnText() const;
    // Selects the tooltip font (hsSystem) into `dc`; returns what it replaced.
    HGDIOBJ SelectTextFont(HDC dc);

    PBalloonProps props_ = nullptr;
    TBalloonPosition position_ = bpAboveRight;
    TColor fill_color_ = clInfoBk;
    TColor frame_color_ = clWindowFrame;

    // Sees every message taken from the thread's queue while a balloon
    // without regions shows.
    static LRESULT CALLBACK MessageHook(int code, WPARAM wp, LPARAM lp);
    static void RemoveHook();

    struct FontDeleter {
        void operator()(HFONT f) const;
    };
    // The tooltip font of hsSystem: the canvas font cannot take a handle.
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> system_font_;
};

class TBalloonHintWindow : public TBalloonWindow {
public:
    explicit TBalloonHintWindow(TComponent* owner);
    // The proposed rectangle is ignored: the balloon places itself at the cursor.
    void ActivateHint(const TRect& rect, const std::string& text) override;
    FW_CLASS_INFO();
};

// Where a balloon of `width` x `height` goes for the cursor at `p`.
TRect AdjustPositionToPoint(TBalloonPosition position, TPoint p, int width, int height);
