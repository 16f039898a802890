// The analog clock on a headless screen and on bitmaps: face geometry and
// placement, hour marks, hand directions and lengths, the XOR second hand,
// whole repaints, the timer and its clock override, setters and form text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "Anaclock.h"
#include "forms.h"
#include "streaming.h"
#include "win32/gui_ext.h"
#include "win32/kernel.h"
#include "ui_support.h"

namespace {

using namespace ui_test;

// Colours that tell every part of the face apart.
constexpr TColor kBack = clYellow, kFace = clWhite, kOutline = clRed, kTick = clBlue, kHands = clLime,
                 kSecHand = clFuchsia;

// Exposes the drawing steps and counts whole paints.
class TestClock : public TAnalogClock {
public:
    using TAnalogClock::TAnalogClock;
    using TAnalogClock::DoPaint;
    using TAnalogClock::DrawSecHand;
    using TAnalogClock::TimerExpired;
    int paints = 0;

    void UseTestColours() {
        SetBackColor(kBack);
        SetFaceColor(kFace);
        SetOutlineColor(kOutline);
        SetTickColor(kTick);
        SetHandsColor(kHands);
        SetSecHandColor(kSecHand);
    }

protected:
    void Paint() override {
        ++paints;
        TAnalogClock::Paint();
    }
};

// The point at `tick` and `length` from a centre, as the face lays them out
// (used only where no exact half can come up).
TPoint tip(int cx, int cy, int tick, int length) {
    const double a = tick * std::numbers::pi / 30.0;
    return Point(cx + static_cast<LONG>(std::nearbyint(length * std::cos(a))),
                 cy + static_cast<LONG>(std::nearbyint(length * std::sin(a))));
}

// A face drawn off screen for a given time.
struct Drawn {
    std::unique_ptr<TestClock> clock;
    std::unique_ptr<TBitmap> bitmap;
    TColor at(int x, int y) const { return bitmap->Canvas()->Pixels(x, y); }
};

Drawn draw(int w, int h, int hour, int minute, TAnalogClockShape shape = csCircle) {
    Drawn d{std::make_unique<TestClock>(nullptr), std::make_unique<TBitmap>()};
    d.clock->SetBounds(0, 0, w, h);
    d.clock->UseTestColours();
    d.clock->SetShape(shape);
    d.bitmap->SetSize(w, h);
    d.clock->DoPaint(d.bitmap->Canvas(), hour, minute);
    return d;
}

class OffScreen : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(win32::reset_screen({320, 240, 32})); }
};

// --- Construction -------------------------------------------------------------

TEST_F(OffScreen, ConstructedDefaults) {
    TAnalogClock c(nullptr);
    EXPECT_EQ(c.Width(), 60);
    EXPECT_EQ(c.Height(), 60);
    EXPECT_EQ(c.Shape(), csCircle);
    EXPECT_EQ(c.FaceColor(), clWindow);
    EXPECT_EQ(c.BackColor(), clBtnFace);
    EXPECT_EQ(c.SecHandColor(), clWindowFrame);
    EXPECT_EQ(c.HandsColor(), clActiveCaption);
    EXPECT_EQ(c.TickColor(), clWindowFrame);
    EXPECT_EQ(c.OutlineColor(), clWindowFrame);
    EXPECT_TRUE(c.ShowSeconds());
    EXPECT_EQ(c.Interval(), 100);
    EXPECT_EQ(c.Align(), alNone);
    EXPECT_EQ(c.LastSecond(), -1);
    EXPECT_TRUE(c.Timer()->Enabled());
    EXPECT_EQ(c.Timer()->Interval(), 100);
    EXPECT_TRUE(c.HasStyle(csOpaque));
    EXPECT_EQ(csCircle, 0);
    EXPECT_EQ(csSquare, 1);
    EXPECT_EQ(IdentOf(&AnalogClockShapeType, csSquare), "csSquare");
}

// --- Face geometry ------------------------------------------------------------

TEST_F(OffScreen, CentreAndMarkRadiusFollowTheSmallerSide) {
    struct Case {
        int w, h;
        int cx, cy, tick_radius;
    };
    const Case cases[] = {
        {47, 47, 23, 23, 21},   // r 23, marks at round(20.7)
        {100, 60, 50, 30, 27},  // face 60 wide, 20 pixels in
        {60, 100, 30, 50, 27},
        {61, 61, 30, 30, 27},
        {50, 50, 25, 25, 22},   // r 25: 22.5 rounds to even
        {70, 70, 35, 35, 32},   // r 35: 31.5 rounds to even
        {1, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Drawn d = draw(c.w, c.h, 10, 10);
        EXPECT_EQ(d.clock->CenterX(), c.cx) << c.w << "x" << c.h;
        EXPECT_EQ(d.clock->CenterY(), c.cy) << c.w << "x" << c.h;
        EXPECT_EQ(d.clock->TickRadius(), c.tick_radius) << c.w << "x" << c.h;
    }
}

TEST_F(OffScreen, FaceSitsCentredOnTheBackground) {
    // Scanning one row or column through the centre: back colour up to the
    // face's box, then the outline, then the face.
    struct Case {
        int w, h;
        TAnalogClockShape shape;
        bool horizontal;
        int first, last;  // the face box along the scan
    };
    const Case cases[] = {
        {100, 60, csCircle, true, 20, 79}, {100, 60, csSquare, true, 20, 79},
        {60, 100, csCircle, false, 20, 79}, {60, 100, csSquare, false, 20, 79},
        {101, 60, csCircle, true, 20, 79},  // odd spare pixel goes right
        {47, 47, csSquare, true, 0, 46},
    };
    for (const Case& c : cases) {
        Drawn d = draw(c.w, c.h, 10, 10, c.shape);
        const int across = c.horizontal ? c.w : c.h;
        // Off the centre line so that no hand or mark is in the way.
        const int line = (c.horizontal ? c.h : c.w) / 2 + 2;
        auto at = [&](int i) { return c.horizontal ? d.at(i, line) : d.at(line, i); };
        const std::string where = std::to_string(c.w) + "x" + std::to_string(c.h) + " shape " +
                                  std::to_string(c.shape);
        for (int i = 0; i < c.first; ++i) EXPECT_EQ(at(i), kBack) << where << " at " << i;
        EXPECT_EQ(at(c.first), kOutline) << where;
        EXPECT_EQ(at(c.first + 1), kFace) << where;
        EXPECT_EQ(at(c.last - 1), kFace) << where;
        EXPECT_EQ(at(c.last), kOutline) << where;
        for (int i = c.last + 1; i < across; ++i) EXPECT_EQ(at(i), kBack) << where << " at " << i;
    }
}

TEST_F(OffScreen, CornersShowTheShape) {
    Drawn circle = draw(47, 47, 10, 10, csCircle);
    Drawn square = draw(47, 47, 10, 10, csSquare);
    for (auto [x, y] : {std::pair{0, 0}, {46, 0}, {0, 46}, {46, 46}}) {
        EXPECT_EQ(circle.at(x, y), kBack) << x << "," << y;
        EXPECT_EQ(square.at(x, y), kOutline) << x << "," << y;
    }
    EXPECT_EQ(square.at(2, 2), kFace);
}

TEST_F(OffScreen, HourMarksOnA47PixelFace) {
    Drawn d = draw(47, 47, 10, 10);
    struct Case {
        const char* what;
        int x, y;
        bool mark;
    };
    const Case cases[] = {
        // Quarter marks: 4x4 boxes round the point at radius 21.
        {"3 o'clock point", 44, 23, true},
        {"3 o'clock box left", 42, 22, true},
        {"3 o'clock box right", 45, 23, true},
        {"beyond 3 o'clock box", 46, 22, false},
        {"12 o'clock point", 23, 2, true},
        {"12 o'clock box top", 23, 0, true},
        {"6 o'clock point", 23, 44, true},
        {"9 o'clock point", 2, 23, true},
        // Other hours: 3x3 boxes from (x-1, y-2) to (x+1, y).
        {"4 o'clock point (41,33)", 41, 33, true},
        {"4 o'clock box top", 41, 31, true},
        {"below 4 o'clock box", 41, 34, false},
        // 21 x cos 60 = 10.5 rounds to 10: the 5 o'clock point is (33,41).
        {"5 o'clock box left", 32, 40, true},
        {"5 o'clock box right", 34, 40, true},
        {"right of 5 o'clock box", 35, 40, false},
        // Minute positions carry no mark.
        {"minute 16 point", 44, 25, false},
        {"minute 1 point", 25, 2, false},
    };
    for (const Case& c : cases) {
        if (c.mark)
            EXPECT_EQ(d.at(c.x, c.y), kTick) << c.what;
        else
            EXPECT_NE(d.at(c.x, c.y), kTick) << c.what;
    }
}

// --- Hands --------------------------------------------------------------------

TEST_F(OffScreen, HandsAt1540OnA47PixelFace) {
    Drawn d = draw(47, 47, 15, 40);
    // Minute hand: 19 long at tick 25; 19 x sin 150 = 9.5 rounds to 10.
    EXPECT_EQ(d.at(7, 33), clBlack);
    EXPECT_NE(d.at(6, 33), clBlack);
    // Hour hand: 13 long at tick 3, just past 3 o'clock.
    EXPECT_EQ(d.at(35, 27), clBlack);
    EXPECT_NE(d.at(36, 27), clBlack);
    EXPECT_NE(d.at(36, 23), clBlack);  // where a whole-hour hand would end
    // The diamonds are filled with the hands' colour.
    EXPECT_EQ(d.at(23, 23), kHands);
}

TEST_F(OffScreen, HandDirectionsByTime) {
    // A 400-pixel face: marks at 180, minute hand 162, hour hand 108.
    struct Case {
        int hour, minute;
        int hour_tick;
    };
    const Case cases[] = {
        {15, 40, 3},   // (5 x 3 + 40 / 12 + 45) mod 60
        {3, 40, 3},    {0, 5, 45}, {12, 59, 49}, {23, 36, 43},
        {9, 11, 30},   // five steps an hour: 11 / 12 = 0
        {9, 12, 31},   {6, 0, 15},
    };
    for (const Case& c : cases) {
        Drawn d = draw(400, 400, c.hour, c.minute);
        ASSERT_EQ(d.clock->TickRadius(), 180);
        const std::string when = std::to_string(c.hour) + ":" + std::to_string(c.minute);
        const int minute_tick = (c.minute + 45) % 60;
        auto at = [&](TPoint p) { return d.at(p.x, p.y); };
        EXPECT_EQ(at(tip(200, 200, minute_tick, 162)), clBlack) << when;
        EXPECT_NE(at(tip(200, 200, minute_tick, 164)), clBlack) << when;
        EXPECT_NE(at(tip(200, 200, minute_tick + 1, 162)), clBlack) << when;
        EXPECT_EQ(at(tip(200, 200, c.hour_tick, 108)), clBlack) << when;
        EXPECT_NE(at(tip(200, 200, c.hour_tick, 110)), clBlack) << when;
        EXPECT_NE(at(tip(200, 200, c.hour_tick + 1, 108)), clBlack) << when;
        EXPECT_NE(at(tip(200, 200, c.hour_tick - 1, 108)), clBlack) << when;
    }
}

// --- On the screen --------------------------------------------------------------

constexpr int kLeft = 10, kTop = 20;

class OnScreen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen({320, 240, 32}));
        set_clock("1999-04-01T15:40:30");
        form = std::make_unique<TForm>(nullptr);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 240, 180);
        form->SetColor(clGray);
        form->AfterConstruction();
    }
    void TearDown() override {
        form.reset();
        pump();
        unsetenv("WIN32_CLOCK");
    }

    // A clock whose timer is stopped, so that only the test moves it.
    TestClock* add(int w, int h) {
        auto* c = new TestClock(form.get());
        c->SetBounds(kLeft, kTop, w, h);
        c->UseTestColours();
        c->SetEnabled(false);
        c->SetParent(form.get());
        return c;
    }
    void show() {
        form->Show();
        pump();
    }
    static uint32_t px(int x, int y) { return win32::screen_pixel(kLeft + x, kTop + y); }
    static std::vector<uint32_t> snapshot(int w, int h) {
        std::vector<uint32_t> out;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) out.push_back(px(x, y));
        return out;
    }
    // Pixels 12..18 from the centre of a 47-pixel face, straight up, down
    // or left: clear of the hour and minute hands at the times used here.
    static bool second_hand_shows(int dy, uint32_t colour, int dx = 0) {
        for (int k = 12; k <= 18; ++k)
            if (px(23 + dx * k, 23 + dy * k) != colour) return false;
        return true;
    }

    std::unique_ptr<TForm> form;
};

TEST_F(OnScreen, PaintShowsTheTimeWithTheSecondHand) {
    TestClock* c = add(47, 47);
    show();
    EXPECT_GE(c->paints, 1);
    EXPECT_EQ(c->LastSecond(), 30);
    EXPECT_EQ(px(7, 33), rgb_of(clBlack));   // minute hand tip
    EXPECT_EQ(px(35, 27), rgb_of(clBlack));  // hour hand tip
    EXPECT_EQ(px(0, 0), rgb_of(kBack));
    EXPECT_EQ(px(23, 2), rgb_of(kTick));
    // Second 30 points down, 19 long; the end point stays out (it would
    // touch the 6 o'clock mark).
    EXPECT_TRUE(second_hand_shows(+1, rgb_of(kSecHand)));
    EXPECT_EQ(px(23, 42), rgb_of(kTick));
    EXPECT_TRUE(second_hand_shows(-1, rgb_of(kFace)));
}

TEST_F(OnScreen, SecondHandIsXorDrawnInItsColourAndErasesCleanly) {
    struct Case {
        TColor face, hand;
    };
    const Case cases[] = {
        {clWhite, clFuchsia}, {clWindow, clRed},  // a system colour is resolved first
        {clAqua, clNavy},     {clBlack, clWhite},
    };
    TestClock* c = add(47, 47);
    show();
    for (const Case& k : cases) {
        set_clock("1999-04-01T15:40:30");
        c->SetFaceColor(k.face);
        c->SetSecHandColor(k.hand);
        pump();  // whole repaint: hand at 30, pointing down
        ASSERT_EQ(c->LastSecond(), 30);
        const std::string which = std::to_string(k.face) + "/" + std::to_string(k.hand);
        EXPECT_TRUE(second_hand_shows(+1, rgb_of(k.hand))) << which;
        const std::vector<uint32_t> with_hand_at_30 = snapshot(47, 47);

        c->DrawSecHand(0);  // erases the hand at 30, draws it up
        EXPECT_EQ(c->LastSecond(), 0);
        EXPECT_TRUE(second_hand_shows(+1, rgb_of(k.face))) << which;
        EXPECT_TRUE(second_hand_shows(-1, rgb_of(k.hand))) << which;

        c->DrawSecHand(30);  // and back: the face is exactly as it was
        EXPECT_EQ(snapshot(47, 47), with_hand_at_30) << which;
    }
}

TEST_F(OnScreen, ANewMinuteRepaintsTheWholeFaceOnce) {
    struct Case {
        bool seconds;
        const char* next;  // the first tick of the new minute
        int second;
    };
    const Case cases[] = {
        {true, "1999-04-01T10:21:00", 0},
        {false, "1999-04-01T10:21:00", 0},
        // Ticks slower than a second may miss second 0; the hands follow all
        // the same.
        {true, "1999-04-01T10:21:02", 2},
    };
    for (const Case& k : cases) {
        const std::string which = std::string(k.next) + (k.seconds ? " with seconds" : "");
        set_clock("1999-04-01T10:20:58");
        TestClock* c = add(47, 47);
        c->SetShowSeconds(k.seconds);
        show();
        // 10:20: minute hand at tick 5 ends at (39,33).
        ASSERT_EQ(px(39, 33), rgb_of(clBlack)) << which;
        EXPECT_EQ(c->LastSecond(), k.seconds ? 58 : -1) << which;

        // A new second moves only the second hand.
        set_clock("1999-04-01T10:20:59");
        const int paints = c->paints;
        c->TimerExpired();
        pump();
        EXPECT_EQ(c->paints, paints) << which;
        EXPECT_EQ(c->LastSecond(), k.seconds ? 59 : -1) << which;

        set_clock(k.next);
        for (int i = 0; i < 3; ++i) {  // more ticks within the same second
            c->TimerExpired();
            pump();
        }
        EXPECT_EQ(c->paints, paints + 1) << which;
        // 10:21: the minute hand has moved to tick 6, ending at (38,34).
        EXPECT_EQ(px(38, 34), rgb_of(clBlack)) << which;
        EXPECT_NE(px(39, 33), rgb_of(clBlack)) << which;
        EXPECT_EQ(c->LastSecond(), k.seconds ? k.second : -1) << which;
        if (k.second == 0) {
            // The second hand stands at 12 o'clock again, or nowhere.
            EXPECT_EQ(second_hand_shows(-1, rgb_of(kSecHand)), k.seconds) << which;
            EXPECT_TRUE(second_hand_shows(+1, rgb_of(kFace))) << which;
        }
        delete c;
        pump();
    }
}

TEST_F(OnScreen, EveryPaintRedrawsTheWholeFace) {
    TestClock* c = add(47, 47);
    show();
    // Spoil the whole clock, then ask for a 2x2 corner only.
    HDC dc = GetDC(c->Handle());
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    const RECT all{0, 0, 47, 47};
    FillRect(dc, &all, green);
    DeleteObject(green);
    ReleaseDC(c->Handle(), dc);
    ASSERT_EQ(px(23, 10), 0x00FF00u);
    const RECT corner{0, 0, 2, 2};
    InvalidateRect(c->Handle(), &corner, FALSE);
    UpdateWindow(c->Handle());
    pump();
    EXPECT_EQ(px(23, 10), rgb_of(kFace));
    EXPECT_EQ(px(46, 46), rgb_of(kBack));
    EXPECT_TRUE(second_hand_shows(+1, rgb_of(kSecHand)));
}

TEST_F(OnScreen, EraseBackgroundDrawsNothing) {
    TestClock* c = add(47, 47);
    show();
    TBitmap target;
    target.SetSize(8, 8);
    target.Canvas()->Brush()->SetColor(clMaroon);
    target.Canvas()->FillRect(Rect(0, 0, 8, 8));
    const LRESULT r = SendMessageA(c->Handle(), WM_ERASEBKGND,
                                   reinterpret_cast<WPARAM>(target.Canvas()->Handle()), 0);
    EXPECT_NE(r, 0);
    EXPECT_EQ(target.Canvas()->Pixels(3, 3), clMaroon);
}

TEST_F(OnScreen, SettersRepaintOnlyOnChange) {
    TestClock* c = add(47, 47);
    show();
    struct Case {
        const char* name;
        std::function<void()> same, change;
    };
    const Case cases[] = {
        {"Shape", [c] { c->SetShape(csCircle); }, [c] { c->SetShape(csSquare); }},
        {"FaceColor", [c] { c->SetFaceColor(kFace); }, [c] { c->SetFaceColor(clAqua); }},
        {"BackColor", [c] { c->SetBackColor(kBack); }, [c] { c->SetBackColor(clTeal); }},
        {"OutlineColor", [c] { c->SetOutlineColor(kOutline); }, [c] { c->SetOutlineColor(clNavy); }},
        {"SecHandColor", [c] { c->SetSecHandColor(kSecHand); }, [c] { c->SetSecHandColor(clGreen); }},
        {"HandsColor", [c] { c->SetHandsColor(kHands); }, [c] { c->SetHandsColor(clPurple); }},
        {"TickColor", [c] { c->SetTickColor(kTick); }, [c] { c->SetTickColor(clOlive); }},
        {"ShowSeconds", [c] { c->SetShowSeconds(true); }, [c] { c->SetShowSeconds(false); }},
    };
    for (const Case& k : cases) {
        int paints = c->paints;
        k.same();
        pump();
        EXPECT_EQ(c->paints, paints) << k.name;
        k.change();
        pump();
        EXPECT_EQ(c->paints, paints + 1) << k.name;
    }
    // What was set shows.
    EXPECT_EQ(px(0, 0), rgb_of(clNavy));  // square outline
    EXPECT_EQ(px(3, 10), rgb_of(clAqua));
    EXPECT_EQ(px(23, 2), rgb_of(clOlive));
    EXPECT_TRUE(second_hand_shows(+1, rgb_of(clAqua)));  // no second hand

    // The period goes to the timer and nothing is repainted.
    int paints = c->paints;
    c->SetInterval(250);
    pump();
    EXPECT_EQ(c->Interval(), 250);
    EXPECT_EQ(c->Timer()->Interval(), 250);
    EXPECT_EQ(c->paints, paints);
}

TEST_F(OnScreen, TimerFollowsEnabledAndFiresOnTimerEveryTick) {
    TestClock* c = add(47, 47);
    EXPECT_FALSE(c->Timer()->Enabled());
    c->SetEnabled(true);
    EXPECT_TRUE(c->Timer()->Enabled());
    show();

    std::vector<TObject*> senders;
    c->OnTimer = [&senders](TObject* s) { senders.push_back(s); };
    // Within one second: no hand moves, yet every tick reports.
    for (int i = 0; i < 3; ++i) c->TimerExpired();
    EXPECT_EQ(senders, (std::vector<TObject*>{c, c, c}));

    // The clock's own timer drives it, whatever its period; what it shows
    // still comes from the wall clock.
    senders.clear();
    c->SetInterval(15);
    for (int i = 0; i < 400 && senders.size() < 3; ++i) {
        pump();
        Sleep(5);
    }
    EXPECT_GE(senders.size(), 3u);
    set_clock("1999-04-01T15:40:45");
    senders.clear();
    for (int i = 0; i < 400 && senders.empty(); ++i) {
        pump();
        Sleep(5);
    }
    EXPECT_EQ(c->LastSecond(), 45);
    EXPECT_TRUE(second_hand_shows(0, rgb_of(kSecHand), -1));  // second 45 points left
    c->SetEnabled(false);
    EXPECT_FALSE(c->Timer()->Enabled());
}

TEST_F(OnScreen, MouseUpAndClickReachTheClock) {
    TestClock* c = add(47, 47);
    c->SetEnabled(true);
    show();
    std::vector<std::string> log;
    c->OnMouseUp = [&log, c](TObject* s, TMouseButton b, TShiftState, int x, int y) {
        log.push_back(std::string(s == c ? "clock" : "other") + (b == mbLeft ? " up " : " rup ") +
                      std::to_string(x) + "," + std::to_string(y));
    };
    c->OnClick = [&log](TObject*) { log.push_back("click"); };
    win32::post_mouse_button(win32::MouseButton::Left, true, kLeft + 5, kTop + 6);
    win32::post_mouse_button(win32::MouseButton::Left, false, kLeft + 5, kTop + 6);
    pump();
    EXPECT_EQ(log, (std::vector<std::string>{"clock up 5,6", "click"}));
    // A disabled clock lets the mouse go to the form.
    log.clear();
    c->SetEnabled(false);
    win32::post_mouse_button(win32::MouseButton::Left, true, kLeft + 5, kTop + 6);
    win32::post_mouse_button(win32::MouseButton::Left, false, kLeft + 5, kTop + 6);
    pump();
    EXPECT_TRUE(log.empty());
}

TEST_F(OnScreen, AHiddenClockDrawsNoSecondHand) {
    TestClock* c = add(47, 47);
    show();
    c->Hide();
    pump();
    const std::vector<uint32_t> before = snapshot(47, 47);
    set_clock("1999-04-01T15:40:40");
    c->TimerExpired();
    pump();
    EXPECT_EQ(snapshot(47, 47), before);
    // Shown again it paints the current time whole.
    c->Show();
    pump();
    EXPECT_EQ(c->LastSecond(), 40);
}

TEST_F(OffScreen, ATickWithoutAParentMakesNoWindow) {
    // A clock made but not yet placed must not pop up a window of its own.
    set_clock("1999-04-01T15:40:41");
    TestClock c(nullptr);
    std::vector<TObject*> senders;
    c.OnTimer = [&senders](TObject* s) { senders.push_back(s); };
    c.TimerExpired();
    EXPECT_FALSE(c.HandleAllocated());
    EXPECT_EQ(senders, std::vector<TObject*>{&c});
    unsetenv("WIN32_CLOCK");
}

TEST_F(OnScreen, AFaceTooLargeForABitmapIsDrawnDirectly) {
    // 9000 x 9000 pixels is past what one bitmap may hold.
    TestClock* c = add(9000, 9000);
    show();
    EXPECT_EQ(c->paints, 1);
    EXPECT_EQ(px(0, 0), rgb_of(kBack));
    EXPECT_EQ(px(150, 150), rgb_of(kBack));
    EXPECT_EQ(c->CenterX(), 4500);
    EXPECT_EQ(c->TickRadius(), 4050);
}

TEST_F(OnScreen, TinyAndEmptyClocksStayInsideTheirBounds) {
    // Marks round a centre near the edge reach outside the control; none of
    // that may show on the form around it.
    const uint32_t form_colour = rgb_of(clGray);
    for (auto [w, h] : {std::pair{0, 0}, {1, 1}, {0, 30}, {3, 150}, {6, 6}}) {
        TestClock* c = add(w, h);
        show();
        c->Repaint();
        pump();
        set_clock("1999-04-01T15:40:50");
        c->TimerExpired();
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        if (w > 0 && h > 0) {
            EXPECT_GE(c->paints, 1) << size;
        }
        for (int x = -3; x < w + 3; ++x) {
            EXPECT_EQ(px(x, -1), form_colour) << size << " above, x " << x;
            EXPECT_EQ(px(x, h), form_colour) << size << " below, x " << x;
        }
        for (int y = -3; y < h + 3; ++y) {
            EXPECT_EQ(px(-1, y), form_colour) << size << " left, y " << y;
            EXPECT_EQ(px(w, y), form_colour) << size << " right, y " << y;
        }
        delete c;
        pump();
        set_clock("1999-04-01T15:40:30");
    }
}

// --- Form text --------------------------------------------------------------------

class TClockForm : public TComponent {
public:
    explicit TClockForm(TComponent* owner = nullptr) : TComponent(owner) {}
    int ticks = 0;
    void ClockTick(TObject*) { ++ticks; }
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const override {
        for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
    }
    FW_CLASS_INFO();
};

const ClassInfo& TClockForm::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&TClockForm::ClockTick>("ClockTick")};
    static const ClassInfo info{"TClockForm", &TComponent::StaticClassInfo(),
                                TComponent::StaticClassInfo().props, methods, {}};
    return info;
}

TEST_F(OffScreen, FormTextKeepsWhatDiffersFromTheDefaults) {
    TClockForm form;
    form.SetName("Form1");
    auto* clock = new TAnalogClock(&form);
    clock->SetName("AnalogClock1");
    clock->SetBounds(5, 7, 60, 60);
    EXPECT_EQ(WriteComponentToText(&form),
              "object Form1: TClockForm\n"
              "  object AnalogClock1: TAnalogClock\n"
              "    Left = 5\n"
              "    Top = 7\n"
              "  end\n"
              "end\n");

    clock->SetBounds(529, 0, 47, 47);
    clock->OnTimer.Bind(&form, &TClockForm::ClockTick, "ClockTick");
    clock->SetBackColor(clAqua);
    clock->SetEnabled(false);
    clock->SetFaceColor(clBtnFace);
    clock->SetHandsColor(clBlack);
    clock->SetInterval(1000);
    clock->SetOutlineColor(clNone);
    clock->SetSecHandColor(0x123456);
    clock->SetShape(csSquare);
    clock->SetShowHint(true);
    clock->SetShowSeconds(false);
    clock->SetTickColor(clWhite);
    clock->SetVisible(false);
    const std::string text = WriteComponentToText(&form);
    EXPECT_EQ(text,
              "object Form1: TClockForm\n"
              "  object AnalogClock1: TAnalogClock\n"
              "    Left = 529\n"
              "    Top = 0\n"
              "    Width = 47\n"
              "    Height = 47\n"
              "    OnTimer = ClockTick\n"
              "    BackColor = clAqua\n"
              "    Enabled = False\n"
              "    FaceColor = clBtnFace\n"
              "    HandsColor = clBlack\n"
              "    Interval = 1000\n"
              "    OutlineColor = clNone\n"
              "    ParentShowHint = False\n"
              "    SecHandColor = 1193046\n"
              "    Shape = csSquare\n"
              "    ShowHint = True\n"
              "    ShowSeconds = False\n"
              "    TickColor = clWhite\n"
              "    Visible = False\n"
              "  end\n"
              "end\n");

    TClockForm copy;
    ReadComponentFromText(text, &copy);
    auto* read = dynamic_cast<TAnalogClock*>(copy.FindComponent("AnalogClock1"));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->BoundsRect().left, 529);
    EXPECT_EQ(read->Width(), 47);
    EXPECT_EQ(read->BackColor(), clAqua);
    EXPECT_FALSE(read->Enabled());
    EXPECT_FALSE(read->Timer()->Enabled());
    EXPECT_EQ(read->FaceColor(), clBtnFace);
    EXPECT_EQ(read->HandsColor(), clBlack);
    EXPECT_EQ(read->Interval(), 1000);
    EXPECT_EQ(read->Timer()->Interval(), 1000);
    EXPECT_EQ(read->OutlineColor(), clNone);
    EXPECT_EQ(read->SecHandColor(), 0x123456);
    EXPECT_EQ(read->Shape(), csSquare);
    EXPECT_FALSE(read->ShowSeconds());
    EXPECT_EQ(read->TickColor(), clWhite);
    EXPECT_FALSE(read->Visible());
    read->OnTimer(read);
    EXPECT_EQ(copy.ticks, 1);
    EXPECT_EQ(WriteComponentToText(&copy), text);
}

TEST_F(OffScreen, FormTextRefusesBadValues) {
    const char* bad[] = {
        "Interval = 65536", "Interval = -1", "Shape = csOval", "Shape = 1",
        "Align = alMiddle", "ShowSeconds = 1", "BackColor = clNoSuchColour",
    };
    for (const char* line : bad) {
        TClockForm form;
        const std::string text =
            std::string("object Form1: TClockForm\n  object C: TAnalogClock\n    ") + line + "\n  end\nend\n";
        EXPECT_THROW(ReadComponentFromText(text, &form), EReadError) << line;
        EXPECT_EQ(form.ComponentCount(), 0) << line;
    }
    TClockForm form;
    ReadComponentFromText("object Form1: TClockForm\n  object C: TAnalogClock\n    Interval = 65535\n"
                          "    Align = alClient\n  end\nend\n",
                          &form);
    auto* c = dynamic_cast<TAnalogClock*>(form.FindComponent("C"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Interval(), 65535);
    EXPECT_EQ(c->Align(), alClient);
}

TEST_F(OnScreen, AlignFillsTheParentEdge) {
    struct Case {
        TAlign align;
        TRect bounds;  // the form's client area is 240x180
    };
    const Case cases[] = {
        {alTop, {0, 0, 240, 47}},      {alBottom, {0, 133, 240, 180}}, {alLeft, {0, 0, 47, 180}},
        {alRight, {193, 0, 240, 180}}, {alClient, {0, 0, 240, 180}},
    };
    for (const Case& k : cases) {
        TestClock* c = add(47, 47);
        c->SetAlign(k.align);
        const TRect r = c->BoundsRect();
        EXPECT_EQ(r.left, k.bounds.left) << int(k.align);
        EXPECT_EQ(r.top, k.bounds.top) << int(k.align);
        EXPECT_EQ(r.right, k.bounds.right) << int(k.align);
        EXPECT_EQ(r.bottom, k.bounds.bottom) << int(k.align);
        delete c;
    }
}

}  // namespace
