// The balloon hint on a headless 640x480 screen: settings and their stored
// form, the switch of the application's hint window, the balloon's size and
// placement, its pixels (body, tail, corners, shadow) and when it goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Balloon.h"
#include "Dtutil.h"
#include "forms.h"
#include "scratch_dir.h"
#include "streaming.h"
#include "win32/gui_ext.h"
#include "win32/kernel.h"
#include "ui_support.h"

namespace {

using namespace ui_test;

// The screen colour under the balloons: not black, not white, so that the
// shadow's dark half and the kept half tell apart from everything else.
constexpr TColor kBackground = 0x30A060;  // RGB(0x60, 0xA0, 0x30)
constexpr uint32_t kBackgroundRgb = 0x60A030;

void move_cursor(int x, int y) {
    win32::post_mouse_move(x, y);
    pump();
}

// What the text of `text` measures in `font` wrapped at `width`.
SIZE measure(const TFont* font, const std::string& text, int width) {
    TBitmap b;
    b.SetSize(8, 8);
    b.Canvas()->Font()->Assign(font);
    RECT r{0, 0, width, 0};
    DrawTextA(b.Canvas()->Handle(), text.c_str(), int(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The text without the font's own lines, which are the font's business;
// where they stand is kept as one "Font" line.
std::string own_lines(const std::string& text) {
    std::string out;
    size_t at = 0;
    bool font_seen = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.find("    Font.") == 0) {
            if (!font_seen) out += "    Font\n";
            font_seen = true;
            continue;
        }
        out += line + "\n";
    }
    return out;
}

// A root that writes the components it owns, for the stored-form tests.
class THost : public TComponent {
public:
    explicit THost(TComponent* owner = nullptr) : TComponent(owner) {}
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const override {
        for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
    }
    FW_CLASS_INFO();
};

const ClassInfo& THost::StaticClassInfo() {
    static const PropInfo* const list[] = {&ControlProps::Name()};
    static const ClassInfo info{"THost", &TComponent::StaticClassInfo(), list, {}, {}};
    return info;
}

class Balloon : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen({640, 480, 32}));
        Application->SetShowHint(true);
        Application->SetHintColor(clInfoBk);
        // A full-screen form in one colour lies under every balloon.
        Application->CreateForm(form);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 640, 480);
        form->SetColor(kBackground);
        form->SetShowHint(false);
        form->Show();
        pump();
        ASSERT_EQ(win32::screen_pixel(5, 5), kBackgroundRgb);
    }
    void TearDown() override {
        Application->CancelHint();
        Application->DestroyComponents();
        Application->SetHintWindowClass(nullptr);
        Application->SetShowHint(false);
        Application->SetShowHint(true);
        for (auto b : {win32::MouseButton::Left, win32::MouseButton::Right, win32::MouseButton::Middle})
            win32::post_mouse_button(b, false, 600, 400);
        pump();
    }

    // A balloon component with the colours of `hsCustom`, easy to find on screen.
    TBalloonHint* make_hint() {
        auto* h = new TBalloonHint(form);
        h->SetStyle(hsCustom);
        h->SetColor(clYellow);
        h->SetBorderColor(clRed);
        h->Font()->SetColor(clBlue);
        return h;
    }

    TBalloonHintWindow* window() { return dynamic_cast<TBalloonHintWindow*>(Application->HintWindow()); }

    // Shows `text` with the cursor at (x, y); the window paints at once.
    TBalloonHintWindow* show_at(int x, int y, const std::string& text = "Hi") {
        move_cursor(x, y);
        TBalloonHintWindow* w = window();
        if (w) w->ActivateHint(Rect(0, 0, 0, 0), text);
        return w;
    }

    static RECT window_rect(TWinControl* w) {
        RECT r{};
        GetWindowRect(w->Handle(), &r);
        return r;
    }
    static uint32_t local_pixel(const RECT& r, int x, int y) { return win32::screen_pixel(r.left + x, r.top + y); }

    TForm* form = nullptr;
};

// --- Settings -------------------------------------------------------------------

TEST_F(Balloon, ConstructionGivesTheDefaultsAndMakesItTheActiveBalloon) {
    Application->SetHintColor(clAqua);
    auto* h = new TBalloonHint(form);
    EXPECT_EQ(h->BorderColor(), clBlack);
    EXPECT_EQ(h->Color(), clAqua);
    EXPECT_EQ(h->MaxWidth(), -4);
    EXPECT_EQ(h->MaxWidthPixels(), 160);
    EXPECT_EQ(h->Behavior(), BalloonBehaviorBit(bbNoShowMouseDown) | BalloonBehaviorBit(bbUseRegions) |
                                 BalloonBehaviorBit(bbHideOnPaint));
    EXPECT_EQ(h->Position(), bpAboveRight);
    EXPECT_EQ(h->ShadowDepth(), 8);
    EXPECT_EQ(h->ShadowStyle(), ssShaded);
    EXPECT_EQ(h->Shape(), bsRoundRect);
    EXPECT_EQ(h->Style(), hsDefault);
    EXPECT_TRUE(h->Active());
    EXPECT_EQ(ActiveBalloonProps, h->Props());
    EXPECT_EQ(h->Props()->Font, h->Font());
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->BalloonProps(), h->Props());
}

TEST_F(Balloon, MaxWidthIsCappedAtTheScreenAndNegativeValuesAreFractionsOfIt) {
    auto* h = new TBalloonHint(form);
    struct Case {
        int32_t set, stored, pixels;
    } cases[] = {
        {-4, -4, 160}, {-3, -3, 213}, {-1, -1, 640},   {100, 100, 100},       {0, 0, 0},
        {639, 639, 639}, {640, 640, 640}, {5000, 640, 640}, {INT32_MIN, INT32_MIN, 0},
    };
    for (const Case& c : cases) {
        h->SetMaxWidth(c.set);
        EXPECT_EQ(h->MaxWidth(), c.stored) << c.set;
        EXPECT_EQ(h->MaxWidthPixels(), c.pixels) << c.set;
    }
}

TEST_F(Balloon, ShadowDepthStaysInItsRangeAndTheFontIsCopiedNotShared) {
    auto* h = new TBalloonHint(form);
    h->SetShadowDepth(40);
    EXPECT_EQ(h->ShadowDepth(), 16);
    h->SetShadowDepth(-3);
    EXPECT_EQ(h->ShadowDepth(), 0);

    TFont f;
    f.SetName("Fixedsys");
    f.SetHeight(-12);
    TFont* own = h->Font();
    h->SetFont(&f);
    EXPECT_EQ(h->Font(), own);
    EXPECT_EQ(h->Font()->Name(), "Fixedsys");
    EXPECT_EQ(h->Font()->Height(), -12);
    f.SetHeight(-20);
    EXPECT_EQ(h->Font()->Height(), -12);
    h->SetFont(nullptr);
    EXPECT_EQ(h->Font()->Name(), "Fixedsys");
}

TEST_F(Balloon, TheStoredFormOmitsOnlyTheTwoDefaultsAndReadsBack) {
    THost host;
    host.SetName("Host1");
    auto* h = new TBalloonHint(&host);
    h->SetName("BalloonHint1");
    h->SetColor(clInfoBk);
    h->Font()->SetName("Fixedsys");
    h->Font()->SetHeight(-12);
    h->SetPosition(bpBelowLeft);
    const std::string text = own_lines(WriteComponentToText(&host));
    const std::string expected =
        "object Host1: THost\n"
        "  object BalloonHint1: TBalloonHint\n"
        "    BorderColor = clBlack\n"
        "    Color = clInfoBk\n"
        "    Font\n"
        "    MaxWidth = -4\n"
        "    Behavior = [bbNoShowMouseDown, bbUseRegions, bbHideOnPaint]\n"
        "    Position = bpBelowLeft\n"
        "    ShadowDepth = 8\n"
        "    Shape = bsRoundRect\n"
        "    Active = True\n"
        "  end\n"
        "end\n";
    EXPECT_EQ(text, expected);

    // The other values of every property come back as they were written.
    h->SetBorderColor(clNavy);
    h->SetColor(0x123456);
    h->SetMaxWidth(300);
    h->SetBehavior(BalloonBehaviorBit(bbHideOnPaint));
    h->SetShadowDepth(0);
    h->SetShadowStyle(ssSolid);
    h->SetShape(bsRectangle);
    h->SetStyle(hsSystem);
    h->SetActive(false);
    const std::string changed = WriteComponentToText(&host);
    EXPECT_NE(changed.find("ShadowStyle = ssSolid\n"), std::string::npos);
    EXPECT_NE(changed.find("Style = hsSystem\n"), std::string::npos);

    THost copy;
    ReadComponentFromText(changed, &copy);
    auto* r = dynamic_cast<TBalloonHint*>(copy.FindComponent("BalloonHint1"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->BorderColor(), clNavy);
    EXPECT_EQ(r->Color(), 0x123456);
    EXPECT_EQ(r->Font()->Name(), "Fixedsys");
    EXPECT_EQ(r->MaxWidth(), 300);
    EXPECT_EQ(r->MaxWidthPixels(), 300);
    EXPECT_EQ(r->Behavior(), BalloonBehaviorBit(bbHideOnPaint));
    EXPECT_EQ(r->Position(), bpBelowLeft);
    EXPECT_EQ(r->ShadowDepth(), 0);
    EXPECT_EQ(r->ShadowStyle(), ssSolid);
    EXPECT_EQ(r->Shape(), bsRectangle);
    EXPECT_EQ(r->Style(), hsSystem);
    EXPECT_FALSE(r->Active());
    EXPECT_EQ(WriteComponentToText(&copy), changed);
}

TEST_F(Balloon, AStoredFormOutOfRangeIsClampedOrRefused) {
    THost host;
    ReadComponentFromText("object H: THost\n  object B: TBalloonHint\n    ShadowDepth = 200\n"
                          "    MaxWidth = 99999\n  end\nend\n",
                          &host);
    auto* b = dynamic_cast<TBalloonHint*>(host.FindComponent("B"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->ShadowDepth(), 16);
    EXPECT_EQ(b->MaxWidth(), 640);

    THost other;
    for (const char* bad : {"Position = bpNowhere", "Behavior = [bbFly]", "Shape = 1x", "Style = hsNone"}) {
        const std::string text = std::string("object H: THost\n  object B: TBalloonHint\n    ") + bad +
                                 "\n  end\nend\n";
        EXPECT_THROW(ReadComponentFromText(text, &other), EReadError) << bad;
        EXPECT_EQ(other.ComponentCount(), 0) << bad;
    }
}

// --- The application's hint window ----------------------------------------------

TEST_F(Balloon, ActiveSwitchesTheHintWindowClassAndKeepsTheShowHintSwitch) {
    ASSERT_EQ(window(), nullptr);
    auto* h = new TBalloonHint(form);
    EXPECT_NE(window(), nullptr);
    EXPECT_TRUE(Application->ShowHint());

    h->SetActive(false);
    ASSERT_NE(Application->HintWindow(), nullptr);
    EXPECT_EQ(window(), nullptr) << "the standard hint window is back";
    EXPECT_TRUE(Application->ShowHint());

    // With hints off the switch stays off; the class still changes.
    Application->SetShowHint(false);
    h->SetActive(true);
    EXPECT_FALSE(Application->ShowHint());
    EXPECT_EQ(Application->HintWindow(), nullptr);
    Application->SetShowHint(true);
    EXPECT_NE(window(), nullptr);

    // While designing nothing is switched.
    h->SetDesigning(true);
    h->SetActive(false);
    EXPECT_FALSE(h->Active());
    EXPECT_NE(window(), nullptr);
}

TEST_F(Balloon, DestroyingTheComponentRestoresTheStandardHintWindow) {
    auto* first = new TBalloonHint(form);
    auto* second = new TBalloonHint(form);
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->BalloonProps(), second->Props()) << "the last one created wins";

    delete second;
    EXPECT_EQ(window(), nullptr);
    ASSERT_NE(Application->HintWindow(), nullptr);
    EXPECT_EQ(ActiveBalloonProps, nullptr);
    (void)first;
}

TEST_F(Balloon, AWindowOutlivingItsComponentFallsBackToTheDefaults) {
    // Application shut-down leaves the hint window alone.
    auto* h = new TBalloonHint(form);
    TBalloonHintWindow* w = window();
    ASSERT_NE(w, nullptr);
    Application->SetState(csDestroying, true);
    delete h;
    Application->SetState(csDestroying, false);
    ASSERT_EQ(window(), w);
    EXPECT_EQ(w->BalloonProps(), nullptr);
    move_cursor(320, 240);
    w->ActivateHint(Rect(0, 0, 0, 0), "still works");
    EXPECT_TRUE(w->IsHintShowing());
    EXPECT_EQ(w->CurrentPosition(), bpAboveRight);
}

TEST_F(Balloon, TheApplicationShowsABalloonAtTheCursorWhenTheMouseRests) {
    testing_support::ScratchDrive drive;  // no tooltip font in the registry
    auto* h = make_hint();
    h->Font()->SetHeight(-20);
    form->SetShowHint(true);
    form->SetHint("Hello balloon");
    Application->SetHintPause(50);
    const auto rest_until_shown = [&](int x, int y) {
        move_cursor(x, y);
        for (int i = 0; i < 200 && !Application->HintShowing(); ++i) {
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return Application->HintShowing();
    };
    ASSERT_TRUE(rest_until_shown(300, 300));
    TBalloonHintWindow* w = window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->Caption(), "Hello balloon");
    const RECT r = window_rect(w);
    EXPECT_EQ(r.left, 300);
    EXPECT_EQ(r.bottom, 300);
    EXPECT_EQ(w->Height(), measure(h->Font(), "Hello balloon", 119).cy + 46);
    const int custom_height = w->Height();
    Application->CancelHint();
    EXPECT_FALSE(w->IsHintShowing());

    // The system style without a readable font keeps the font there was,
    // whatever the application measured with in between.
    h->SetStyle(hsSystem);
    ASSERT_TRUE(rest_until_shown(310, 310));
    EXPECT_EQ(window()->Height(), custom_height);
}

// --- Size and placement ---------------------------------------------------------

TEST_F(Balloon, TheTextWrapsAtTheRoomLeftByMaxWidthShadowAndFrame) {
    auto* h = new TBalloonHint(form);
    const std::string text =
        "one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen "
        "seventeen eighteen nineteen twenty twenty-one twenty-two twenty-three twenty-four twenty-five";
    struct Case {
        int32_t max_width;
        int depth;
        int cursor_x;
        int wrap;  // width the text is wrapped at
    } cases[] = {
        {-4, 8, 320, 119},   // a quarter of 640, less 8 + 33
        {-4, 0, 320, 127},
        {-4, 16, 100, 111},
        {300, 8, 100, 259},  // room 540 to the right
        {600, 8, 400, 359},  // room 400 to the left only
        {500, 8, 250, 349},  // room 390 to the right
    };
    for (const Case& c : cases) {
        h->SetMaxWidth(c.max_width);
        h->SetShadowDepth(c.depth);
        TBalloonHintWindow* w = show_at(c.cursor_x, 470, text);
        ASSERT_NE(w, nullptr);
        const SIZE at = measure(DefaultHintFont(), text, c.wrap);
        // The case tells a wrong wrap width apart.
        const SIZE wider = measure(DefaultHintFont(), text, c.wrap + 12);
        ASSERT_TRUE(at.cx != wider.cx || at.cy != wider.cy) << c.wrap;
        EXPECT_EQ(w->Width(), std::max<int>(at.cx + c.depth + 33, 59)) << c.wrap;
        EXPECT_EQ(w->Height(), at.cy + 38 + c.depth) << c.wrap;
        Application->CancelHint();
    }
}

TEST_F(Balloon, AOneWordHintGivesTheMinimumWidth) {
    auto* h = new TBalloonHint(form);
    const int line = measure(DefaultHintFont(), "Hi", 500).cy;
    for (int depth : {8, 0, 16}) {
        h->SetShadowDepth(depth);
        TBalloonHintWindow* w = show_at(320, 240, "Hi");
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->Width(), 59) << depth;
        EXPECT_EQ(w->Height(), line + 38 + depth) << depth;
        Application->CancelHint();
    }
}

TEST_F(Balloon, TheTextMeasuredStopsAt255Bytes) {
    new TBalloonHint(form);
    std::string words;
    while (words.size() < 400) words += "word ";
    TBalloonHintWindow* w = show_at(320, 470, words.substr(0, 255));
    ASSERT_NE(w, nullptr);
    const int height_255 = w->Height();
    w->ActivateHint(Rect(0, 0, 0, 0), words);
    EXPECT_EQ(w->Height(), height_255);
    EXPECT_LT(w->Height(), measure(DefaultHintFont(), words, 119).cy + 46);
}

TEST_F(Balloon, TheBalloonSitsBesideTheCursorAndFlipsAtTheScreenEdges) {
    auto* h = new TBalloonHint(form);
    struct Case {
        TBalloonPosition wanted;
        int x, y;
        TBalloonPosition got;
    } cases[] = {
        {bpAboveRight, 320, 240, bpAboveRight}, {bpAboveRight, 630, 240, bpAboveLeft},
        {bpAboveRight, 320, 10, bpBelowRight},  {bpAboveRight, 630, 10, bpBelowLeft},
        {bpAboveLeft, 320, 240, bpAboveLeft},   {bpAboveLeft, 10, 240, bpAboveRight},
        {bpBelowLeft, 320, 240, bpBelowLeft},   {bpBelowLeft, 10, 470, bpAboveRight},
        {bpBelowRight, 320, 240, bpBelowRight}, {bpBelowRight, 630, 470, bpAboveLeft},
    };
    for (const Case& c : cases) {
        h->SetPosition(c.wanted);
        TBalloonHintWindow* w = show_at(c.x, c.y);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->CurrentPosition(), c.got) << c.x << "," << c.y;
        const RECT r = window_rect(w);
        EXPECT_EQ(r.right - r.left, w->Width());
        const TRect want = AdjustPositionToPoint(c.got, Point(c.x, c.y), w->Width(), w->Height());
        EXPECT_EQ(r.left, want.left) << c.x << "," << c.y;
        EXPECT_EQ(r.top, want.top) << c.x << "," << c.y;
        switch (c.got) {
        case bpAboveLeft: EXPECT_TRUE(r.right == c.x && r.bottom == c.y); break;
        case bpAboveRight: EXPECT_TRUE(r.left == c.x && r.bottom == c.y); break;
        case bpBelowLeft: EXPECT_TRUE(r.right == c.x && r.top == c.y); break;
        case bpBelowRight: EXPECT_TRUE(r.left == c.x + 1 && r.top == c.y + 1); break;
        }
        Application->CancelHint();
    }
}

TEST_F(Balloon, BodyTailAndTextRectangleFollowThePosition) {
    auto* h = new TBalloonHint(form);
    h->SetShadowDepth(6);
    // An 80 x 80 window with shadow depth 6.
    struct Case {
        TBalloonPosition pos;
        int cx, cy;  // a cursor that keeps this position
        TRect body;
        TPoint tail[3];
    } cases[] = {
        {bpAboveLeft, 500, 300, Rect(0, 0, 59, 55), {{74, 74}, {53, 54}, {33, 54}}},
        {bpAboveRight, 100, 300, Rect(15, 0, 74, 55), {{0, 74}, {21, 54}, {41, 54}}},
        {bpBelowLeft, 500, 100, Rect(0, 19, 59, 74), {{74, 0}, {53, 19}, {33, 19}}},
        {bpBelowRight, 100, 100, Rect(15, 19, 74, 74), {{0, 0}, {21, 19}, {41, 19}}},
    };
    for (const Case& c : cases) {
        h->SetPosition(c.pos);
        TBalloonHintWindow* w = show_at(c.cx, c.cy, "Hi");
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(w->CurrentPosition(), c.pos);
        w->SetBounds(w->Left(), w->Top(), 80, 80);
        const TBalloonWindow::Metrics m = w->CalcDrawMetrics();
        EXPECT_EQ(m.Body.left, c.body.left) << int(c.pos);
        EXPECT_EQ(m.Body.top, c.body.top) << int(c.pos);
        EXPECT_EQ(m.Body.right, c.body.right) << int(c.pos);
        EXPECT_EQ(m.Body.bottom, c.body.bottom) << int(c.pos);
        EXPECT_EQ(m.Text.left, c.body.left + 9);
        EXPECT_EQ(m.Text.top, c.body.top + 9);
        EXPECT_EQ(m.Text.right, c.body.right - 9);
        EXPECT_EQ(m.Text.bottom, c.body.bottom - 9);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(m.Tail[i].x, c.tail[i].x) << int(c.pos) << " point " << i;
            EXPECT_EQ(m.Tail[i].y, c.tail[i].y) << int(c.pos) << " point " << i;
        }
        Application->CancelHint();
    }
}

// --- Pixels ---------------------------------------------------------------------

TEST_F(Balloon, TheBodyIsFilledAndFramedWithRoundCornersAndTheTailTouchesTheCursor) {
    auto* h = make_hint();
    TBalloonHintWindow* w = show_at(200, 300, "Hi there");
    ASSERT_NE(w, nullptr);
    const RECT r = window_rect(w);
    const auto m = w->CalcDrawMetrics();
    const int midy = (m.Body.top + m.Body.bottom) / 2;
    const uint32_t yellow = rgb_of(clYellow), red = rgb_of(clRed), blue = rgb_of(clBlue);
    EXPECT_EQ(w->FillColor(), clYellow);
    EXPECT_EQ(w->FrameColor(), clRed);

    EXPECT_EQ(local_pixel(r, m.Body.left, midy), red);
    EXPECT_EQ(local_pixel(r, m.Body.right - 1, midy), red);
    EXPECT_EQ(local_pixel(r, m.Body.left + 3, midy), yellow);
    EXPECT_EQ(local_pixel(r, m.Body.left + 1, m.Body.top + 1), kBackgroundRgb) << "a round corner";
    EXPECT_EQ(local_pixel(r, m.Body.left + 20, m.Body.top), red);
    // The tail: filled between its sides, down to a pixel by the tip.
    EXPECT_EQ(local_pixel(r, 28, m.Body.bottom + 2), yellow);
    EXPECT_EQ(local_pixel(r, 10, m.Body.bottom + 2), kBackgroundRgb);
    int tail_rows = 0;
    for (int y = m.Body.bottom; y < w->Height() - h->ShadowDepth(); ++y)
        for (int x = 0; x < 45; ++x)
            if (local_pixel(r, x, y) == red || local_pixel(r, x, y) == yellow) {
                ++tail_rows;
                break;
            }
    EXPECT_GE(tail_rows, 18);

    // The text is in the font's colour and stays inside the text rectangle.
    int inside = 0, outside = 0;
    for (int y = m.Body.top; y < m.Body.bottom; ++y)
        for (int x = m.Body.left; x < m.Body.right; ++x) {
            if (local_pixel(r, x, y) != blue) continue;
            const bool in = x >= m.Text.left && x < m.Text.right && y >= m.Text.top && y < m.Text.bottom;
            (in ? inside : outside)++;
        }
    EXPECT_GT(inside, 10);
    EXPECT_EQ(outside, 0);

    // A rectangle has square corners and the same tail.
    Application->CancelHint();
    pump();
    h->SetShape(bsRectangle);
    w = show_at(200, 300, "Hi there");
    ASSERT_NE(w, nullptr);
    const RECT q = window_rect(w);
    EXPECT_EQ(local_pixel(q, m.Body.left, m.Body.top), red);
    EXPECT_EQ(local_pixel(q, m.Body.left + 1, m.Body.top + 1), yellow);
    EXPECT_EQ(local_pixel(q, 28, m.Body.bottom + 2), yellow);
    EXPECT_EQ(local_pixel(q, 10, m.Body.bottom + 2), kBackgroundRgb);
}

TEST_F(Balloon, TheShadedShadowIsACheckerboardOfTheBackground) {
    make_hint();
    TBalloonHintWindow* w = show_at(200, 300, "Shaded shadow here");
    ASSERT_NE(w, nullptr);
    const RECT r = window_rect(w);
    const auto m = w->CalcDrawMetrics();
    // Right of the body and below it, where only the shadow lies.
    std::vector<std::pair<int, int>> spots;
    for (int y = m.Body.top + 20; y < m.Body.top + 26; ++y)
        for (int x = m.Body.right + 1; x < m.Body.right + 7; ++x) spots.emplace_back(x, y);
    for (int y = m.Body.bottom + 1; y < m.Body.bottom + 7; ++y)
        for (int x = m.Body.right - 20; x < m.Body.right - 10; ++x) spots.emplace_back(x, y);
    for (auto [x, y] : spots) {
        const uint32_t want = (x + y) % 2 == 0 ? 0x000000u : kBackgroundRgb;
        EXPECT_EQ(local_pixel(r, x, y), want) << x << "," << y;
    }
    // Beyond the shadow the background is as it was.
    EXPECT_EQ(local_pixel(r, w->Width() - 1, 0), kBackgroundRgb);
    EXPECT_EQ(local_pixel(r, m.Body.right + 10, m.Body.top + 20), kBackgroundRgb);
}

TEST_F(Balloon, ASolidShadowIsBlack) {
    auto* h = make_hint();
    h->SetShadowStyle(ssSolid);
    TBalloonHintWindow* w = show_at(200, 300, "Solid");
    ASSERT_NE(w, nullptr);
    const RECT r = window_rect(w);
    const auto m = w->CalcDrawMetrics();
    for (int y = m.Body.top + 20; y < m.Body.top + 24; ++y)
        for (int x = m.Body.right + 1; x < m.Body.right + 7; ++x) EXPECT_EQ(local_pixel(r, x, y), 0u);
}

TEST_F(Balloon, DepthZeroDrawsNoShadowAndTheRegionIsTheBalloonAlone) {
    auto* h = make_hint();
    for (int depth : {8, 0}) {
        h->SetShadowDepth(depth);
        TBalloonHintWindow* w = show_at(200, 300, "Region");
        ASSERT_NE(w, nullptr);
        const RECT r = window_rect(w);
        const auto m = w->CalcDrawMetrics();
        const POINT in_shadow{r.left + m.Body.right + 3, r.top + m.Body.top + 20};
        const POINT in_body{r.left + m.Body.left + 3, r.top + (m.Body.top + m.Body.bottom) / 2};
        const POINT corner{r.left + m.Body.left + 1, r.top + m.Body.top + 1};
        EXPECT_EQ(WindowFromPoint(in_body), w->Handle()) << depth;
        EXPECT_EQ(WindowFromPoint(corner), form->Handle()) << depth;
        if (depth == 0) {
            EXPECT_EQ(WindowFromPoint(in_shadow), form->Handle());
            for (int x = 1; x < 7; ++x)
                EXPECT_EQ(local_pixel(r, m.Body.right + x, m.Body.top + 20), kBackgroundRgb);
            EXPECT_EQ(w->Width(), m.Body.right + 0);
        } else {
            EXPECT_EQ(WindowFromPoint(in_shadow), w->Handle());
        }
        Application->CancelHint();
        pump();
    }
}

TEST_F(Balloon, WithoutRegionsTheWindowShowsTheScreenBeneathAroundTheBalloon) {
    auto* h = make_hint();
    h->SetBehavior(0);
    TBalloonHintWindow* w = show_at(200, 300, "Plain");
    ASSERT_NE(w, nullptr);
    const RECT r = window_rect(w);
    const auto m = w->CalcDrawMetrics();
    // The whole rectangle is the window, yet its corners show the form.
    EXPECT_EQ(WindowFromPoint(POINT{r.left + 1, r.top + 1}), w->Handle());
    EXPECT_EQ(local_pixel(r, 1, 1), kBackgroundRgb);
    EXPECT_EQ(local_pixel(r, w->Width() - 1, 0), kBackgroundRgb);
    EXPECT_EQ(local_pixel(r, m.Body.left + 3, (m.Body.top + m.Body.bottom) / 2), rgb_of(clYellow));
}

// --- When it shows and when it goes -----------------------------------------------

TEST_F(Balloon, AButtonHeldDownKeepsTheBalloonAwayWithNoShowMouseDown) {
    auto* h = make_hint();
    struct Case {
        win32::MouseButton button;
        TBalloonBehaviors behavior;
        bool shows;
    } cases[] = {
        {win32::MouseButton::Left, bbAllBehaviors, false},
        {win32::MouseButton::Right, bbAllBehaviors, false},
        {win32::MouseButton::Middle, bbAllBehaviors, false},
        {win32::MouseButton::Left, BalloonBehaviorBit(bbUseRegions), true},
    };
    for (const Case& c : cases) {
        h->SetBehavior(c.behavior);
        move_cursor(200, 300);
        win32::post_mouse_button(c.button, true, 200, 300);
        pump();
        TBalloonHintWindow* w = window();
        ASSERT_NE(w, nullptr);
        w->ActivateHint(Rect(0, 0, 0, 0), "Pressed");
        EXPECT_EQ(w->IsHintShowing(), c.shows) << int(c.button);
        win32::post_mouse_button(c.button, false, 200, 300);
        pump();
        Application->CancelHint();
        pump();
        // Released, it shows again.
        w = show_at(200, 300, "Released");
        EXPECT_TRUE(w->IsHintShowing());
        Application->CancelHint();
        pump();
    }
}

TEST_F(Balloon, WithoutRegionsAClickOrAPaintBeneathHidesTheBalloon) {
    auto* h = make_hint();
    struct Case {
        const char* what;
        TBalloonBehaviors behavior;
        int event;  // 0: non-client click, 1: paint under it, 2: paint elsewhere, 3: its own paint
        bool hides;
    } cases[] = {
        {"nc click", 0, 0, true},
        {"paint under", BalloonBehaviorBit(bbHideOnPaint), 1, true},
        {"paint elsewhere", BalloonBehaviorBit(bbHideOnPaint), 2, false},
        {"its own paint", BalloonBehaviorBit(bbHideOnPaint), 3, false},
        {"paint under, no hide on paint", 0, 1, false},
        {"nc click, regions", BalloonBehaviorBit(bbUseRegions), 0, false},
        {"paint under, regions", BalloonBehaviorBit(bbUseRegions) | BalloonBehaviorBit(bbHideOnPaint), 1, false},
    };
    for (const Case& c : cases) {
        h->SetBehavior(c.behavior);
        TBalloonHintWindow* w = show_at(300, 300, "Hook");
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(w->IsHintShowing());
        const RECT r = window_rect(w);
        switch (c.event) {
        case 0: PostMessageA(form->Handle(), 0x00A1 /* WM_NCLBUTTONDOWN */, 0, 0); break;
        case 1: {
            RECT under{r.left + 5, r.top + 5, r.left + 15, r.top + 15};
            InvalidateRect(form->Handle(), &under, FALSE);
            break;
        }
        case 3: InvalidateRect(w->Handle(), nullptr, FALSE); break;
        default: {
            RECT away{5, 200, 20, 220};
            InvalidateRect(form->Handle(), &away, FALSE);
            break;
        }
        }
        pump();
        EXPECT_EQ(w->IsHintShowing(), !c.hides) << c.what;
        Application->CancelHint();
        pump();
    }
    // Once hidden, nothing is watched any more: a click ends no later balloon
    // that has regions.
    h->SetBehavior(0);
    show_at(300, 300, "first");
    Application->CancelHint();
    pump();
    h->SetBehavior(BalloonBehaviorBit(bbUseRegions));
    TBalloonHintWindow* w = show_at(300, 300, "second");
    PostMessageA(form->Handle(), 0x00A1, 0, 0);
    pump();
    EXPECT_TRUE(w->IsHintShowing());
}

TEST_F(Balloon, TheHintStyleChoosesFontAndColours) {
    auto* h = make_hint();
    h->Font()->SetName("Fixedsys");
    h->Font()->SetHeight(-12);
    Application->SetHintColor(clLime);

    h->SetStyle(hsDefault);
    TBalloonHintWindow* w = show_at(200, 300, "Style");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->FillColor(), clLime);
    EXPECT_EQ(w->FrameColor(), clWindowFrame);
    EXPECT_EQ(w->Canvas()->Font()->Name(), DefaultHintFont()->Name());
    const auto m = w->CalcDrawMetrics();
    EXPECT_EQ(local_pixel(window_rect(w), m.Body.left + 3, (m.Body.top + m.Body.bottom) / 2), rgb_of(clLime));
    Application->CancelHint();

    h->SetStyle(hsCustom);
    w = show_at(200, 300, "Style");
    EXPECT_EQ(w->FillColor(), clYellow);
    EXPECT_EQ(w->FrameColor(), clRed);
    EXPECT_EQ(w->Canvas()->Font()->Name(), "Fixedsys");
    EXPECT_EQ(w->Canvas()->Font()->Height(), -12);
    Application->CancelHint();

    h->SetStyle(hsSystem);
    w = show_at(200, 300, "Style");
    EXPECT_EQ(w->FillColor(), clInfoBk);
    EXPECT_EQ(w->FrameColor(), clWindowFrame);
    EXPECT_EQ(w->Canvas()->Font()->Color(), clInfoText);
}

TEST_F(Balloon, TheSystemStyleTakesTheStatusFontAndKeepsTheFontWhenThereIsNone) {
    testing_support::ScratchDrive drive;
    auto* h = make_hint();
    h->Font()->SetHeight(-20);
    const auto height_with = [&](THintStyle style) {
        h->SetStyle(style);
        TBalloonHintWindow* w = show_at(320, 300, "Hi");
        const int height = w ? w->Height() : -1;
        Application->CancelHint();
        return height;
    };
    const int custom = height_with(hsCustom);
    const int standard = height_with(hsDefault);
    ASSERT_NE(custom, standard);
    EXPECT_EQ(height_with(hsCustom), custom);
    // No registry key: the font stays what it was.
    EXPECT_EQ(height_with(hsSystem), custom);

    TLogFont16 status{};
    status.lfHeight = 24;  // points: a 32-pixel font at 96 dpi
    status.lfWeight = 400;
    std::strcpy(status.lfFaceName, "MS Sans Serif");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "StatusFont", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&status),
                             sizeof status),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const int system = height_with(hsSystem);
    EXPECT_GE(system, 32 + 38 + 8);
    EXPECT_GT(system, custom);
    TBalloonHintWindow* w = window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->FillColor(), clInfoBk);
    EXPECT_EQ(w->Canvas()->Font()->Color(), clInfoText);
    // Leaving the system style drops the tooltip font.
    EXPECT_EQ(height_with(hsDefault), standard);
}

}  // namespace
