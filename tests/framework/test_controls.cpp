// Controls on a headless screen, driven through the window system's input:
// mouse routing to windowed and graphic controls, click detection, capture,
// focus and the tab order, keys and accelerators, painting, and the
// published defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "forms.h"
#include "stdctrls.h"
#include "streaming.h"
#include "win32/gui_ext.h"
#include "ui_support.h"

namespace {

using namespace ui_test;

using Log = std::vector<std::string>;

void click(int x, int y) {
    win32::post_mouse_button(win32::MouseButton::Left, true, x, y);
    win32::post_mouse_button(win32::MouseButton::Left, false, x, y);
    pump();
}

void key(int vk) {
    win32::post_key(vk, true);
    win32::post_key(vk, false);
    pump();
}

// Records the mouse events of a control under a name.
void watch(TControl* c, const std::string& name, Log& log) {
    c->OnMouseDown = [c, name, &log](TObject* s, TMouseButton b, TShiftState shift, int x, int y) {
        EXPECT_EQ(s, c);
        log.push_back(name + (b == mbLeft ? " down " : " rdown ") + std::to_string(x) + "," +
                      std::to_string(y) + (shift & ShiftBit(ssDouble) ? " double" : ""));
    };
    c->OnMouseUp = [c, name, &log](TObject* s, TMouseButton b, TShiftState, int x, int y) {
        EXPECT_EQ(s, c);
        log.push_back(name + (b == mbLeft ? " up " : " rup ") + std::to_string(x) + "," + std::to_string(y));
    };
    c->OnClick = [c, name, &log](TObject* s) {
        EXPECT_EQ(s, c);
        log.push_back(name + " click");
    };
    c->OnDblClick = [name, &log](TObject*) { log.push_back(name + " dblclick"); };
}

// A windowed control that fills itself with its colour and knows its
// accelerator, as a push button does.
class Probe : public TCustomControl {
public:
    Probe(TComponent* owner, TColor color) : TCustomControl(owner) { SetColor(color); }
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        Canvas()->Brush()->SetColor(Color());
        Canvas()->FillRect(ClientRect());
    }
    void CMDialogChar(char c, bool& handled) override {
        if (Enabled() && IsAccel(c, Caption())) {
            Click();
            handled = true;
            return;
        }
        TCustomControl::CMDialogChar(c, handled);
    }
};

// A graphic control that fills its area, marks its own (0, 0) and, when
// asked, tries to paint far beyond its bounds.
class Spot : public TGraphicControl {
public:
    Spot(TComponent* owner, TColor color) : TGraphicControl(owner) { SetColor(color); }
    int paints = 0;
    bool overreach = false;

protected:
    void Paint() override {
        ++paints;
        TCanvas* c = Canvas();
        c->Brush()->SetColor(Color());
        c->FillRect(overreach ? Rect(-100, -100, 1000, 1000) : ClientRect());
        c->SetPixels(0, 0, clBlack);
    }
};

// Frees itself when the button is released, as a handler closing a page may.
class SelfDestroying : public Spot {
public:
    using Spot::Spot;

protected:
    void MouseUp(TMouseButton b, TShiftState s, int x, int y) override {
        Spot::MouseUp(b, s, x, y);
        delete this;
    }
};

constexpr TColor kFormColor = clWhite;

class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen({320, 240, 32}));
        form = std::make_unique<TForm>(nullptr);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 240, 180);
        form->SetColor(kFormColor);
        form->AfterConstruction();
    }
    void TearDown() override {
        form.reset();
        pump();
        for (int vk : {VK_SHIFT, VK_MENU})
            if (GetKeyState(vk) & 0x8000) win32::post_key(vk, false);
        pump();
    }

    template <class T, class... A>
    T* add(int l, int t, int w, int h, A... a) {
        T* c = new T(form.get(), a...);
        c->SetBounds(l, t, w, h);
        c->SetParent(form.get());
        return c;
    }

    void show() {
        form->Show();
        pump();
    }

    std::unique_ptr<TForm> form;
    Log log;
};

// Windowed W1; graphic G1 and, above it, G2; windowed W2 over G2.
struct Layout {
    Probe* w1;
    Spot* g1;
    Spot* g2;
    Probe* w2;
};

TEST_F(Controls, MouseReachesTheControlUnderItInOrderTopmostFirst) {
    Layout l{add<Probe>(10, 10, 60, 40, clRed), add<Spot>(100, 10, 60, 60, clGreen),
             add<Spot>(130, 40, 60, 60, clBlue), add<Probe>(150, 60, 50, 50, clYellow)};
    watch(l.w1, "W1", log);
    watch(l.g1, "G1", log);
    watch(l.g2, "G2", log);
    watch(l.w2, "W2", log);
    watch(form.get(), "F", log);
    show();
    struct Case {
        POINT at;
        std::string target;
        POINT local;
    };
    const Case cases[] = {
        {{20, 20}, "W1", {10, 10}},  {{110, 20}, "G1", {10, 10}},
        {{159, 39}, "G1", {59, 29}}, {{140, 50}, "G2", {10, 10}},  // G1 and G2 overlap
        {{130, 40}, "G2", {0, 0}},   {{160, 70}, "W2", {10, 10}},  // windows sit above
        {{135, 99}, "G2", {5, 59}},  {{5, 150}, "F", {5, 150}},
    };
    for (const Case& c : cases) {
        log.clear();
        click(c.at.x, c.at.y);
        const std::string xy = std::to_string(c.local.x) + "," + std::to_string(c.local.y);
        EXPECT_EQ(log, (Log{c.target + " down " + xy, c.target + " up " + xy, c.target + " click"}))
            << c.at.x << "," << c.at.y;
    }
    // The right button presses and releases but does not click.
    log.clear();
    win32::post_mouse_button(win32::MouseButton::Right, true, 110, 20);
    win32::post_mouse_button(win32::MouseButton::Right, false, 110, 20);
    pump();
    EXPECT_EQ(log, (Log{"G1 rdown 10,10", "G1 rup 10,10"}));
}

TEST_F(Controls, ADisabledControlGetsNoMouseEvents) {
    Probe* w = add<Probe>(10, 10, 60, 40, clRed);
    Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
    Spot* above = add<Spot>(100, 10, 60, 60, clBlue);  // disabled, over g
    watch(w, "W", log);
    watch(g, "G", log);
    watch(above, "A", log);
    watch(form.get(), "F", log);
    show();
    w->SetEnabled(false);
    above->SetEnabled(false);
    struct Case {
        TControl* disabled;
        POINT at;
        Log expected;
    };
    const Case cases[] = {
        {w, {20, 20}, {"F down 20,20", "F up 20,20", "F click"}},
        {above, {110, 20}, {"G down 10,10", "G up 10,10", "G click"}},  // passes to what is below
    };
    for (const Case& c : cases) {
        log.clear();
        click(c.at.x, c.at.y);
        EXPECT_EQ(log, c.expected);
    }
    // Disabled while the button is down: it lets the mouse go, and the
    // release is nobody's click.
    log.clear();
    win32::post_mouse_button(win32::MouseButton::Left, true, 150, 60);
    pump();
    g->SetEnabled(false);
    win32::post_mouse_button(win32::MouseButton::Left, false, 150, 60);
    pump();
    EXPECT_EQ(log, (Log{"G down 50,50", "F up 150,60"}));
}

TEST_F(Controls, ReleaseOutsideAfterPressInsideIsNoClickAndStaysWithTheControl) {
    Probe* w = add<Probe>(10, 10, 60, 40, clRed);
    Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
    watch(w, "W", log);
    watch(g, "G", log);
    watch(form.get(), "F", log);
    show();
    struct Case {
        POINT down, up;
        Log expected;
    };
    const Case cases[] = {
        {{110, 20}, {5, 150}, {"G down 10,10", "G move -95,140", "G up -95,140"}},
        {{20, 20}, {120, 30}, {"W down 10,10", "W move 110,20", "W up 110,20"}},
    };
    for (TControl* c : {static_cast<TControl*>(w), static_cast<TControl*>(g)}) {
        const std::string name = c == w ? "W" : "G";
        c->OnMouseMove = [name, this](TObject*, TShiftState, int x, int y) {
            log.push_back(name + " move " + std::to_string(x) + "," + std::to_string(y));
        };
    }
    for (const Case& c : cases) {
        log.clear();
        win32::post_mouse_move(c.down.x, c.down.y);
        pump();
        log.clear();
        win32::post_mouse_button(win32::MouseButton::Left, true, c.down.x, c.down.y);
        win32::post_mouse_move(c.up.x, c.up.y);
        win32::post_mouse_button(win32::MouseButton::Left, false, c.up.x, c.up.y);
        pump();
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(GetCapture(), nullptr);
    }
}

TEST_F(Controls, AQuickSecondPressIsADoubleClickNotASecondClick) {
    Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
    watch(g, "G", log);
    show();
    click(110, 20);
    click(111, 21);
    EXPECT_EQ(log, (Log{"G down 10,10", "G up 10,10", "G click", "G dblclick", "G down 11,11 double",
                        "G up 11,11"}));
    // Without the style the second press is a plain one.
    log.clear();
    g->SetControlStyle(g->ControlStyle() & ~StyleBit(csDoubleClicks));
    click(110, 20);
    click(110, 20);
    EXPECT_EQ(log, (Log{"G down 10,10", "G up 10,10", "G click", "G down 10,10", "G up 10,10", "G click"}));
}

TEST_F(Controls, AControlFreedByItsOwnHandlerIsLeftAlone) {
    auto* g = add<SelfDestroying>(100, 10, 60, 60, clGreen);
    watch(g, "G", log);
    watch(form.get(), "F", log);
    show();
    click(110, 20);
    EXPECT_EQ(log, (Log{"G down 10,10", "G up 10,10"}));
    EXPECT_EQ(form->ControlCount(), 0);
    log.clear();
    click(110, 20);
    EXPECT_EQ(log, (Log{"F down 110,20", "F up 110,20", "F click"}));
}

TEST_F(Controls, TabFollowsTheTabOrderSkippingWhatCannotTakeTheFocus) {
    Probe* a = add<Probe>(10, 10, 30, 20, clRed);
    Probe* b = add<Probe>(50, 10, 30, 20, clRed);
    Probe* c = add<Probe>(90, 10, 30, 20, clRed);
    Probe* disabled = add<Probe>(130, 10, 30, 20, clRed);
    Probe* hidden = add<Probe>(170, 10, 30, 20, clRed);
    Probe* no_stop = add<Probe>(10, 50, 30, 20, clRed);
    const std::pair<Probe*, std::string> all[] = {{a, "A"},        {b, "B"},      {c, "C"},
                                                  {disabled, "D"}, {hidden, "H"}, {no_stop, "N"}};
    for (auto& [p, name] : all) {
        p->SetTabStop(p != no_stop);
        p->OnEnter = [this, name = name](TObject*) { log.push_back(name + " enter"); };
        p->OnExit = [this, name = name](TObject*) { log.push_back(name + " exit"); };
    }
    // Tab order B, D, C, H, A, N.
    b->SetTabOrder(0);
    disabled->SetTabOrder(1);
    c->SetTabOrder(2);
    hidden->SetTabOrder(3);
    a->SetTabOrder(4);
    EXPECT_EQ(no_stop->TabOrder(), 5);
    disabled->SetEnabled(false);
    hidden->SetVisible(false);
    show();
    b->SetFocus();
    pump();
    EXPECT_TRUE(b->Focused());
    EXPECT_EQ(form->ActiveControl(), b);
    log.clear();
    key(VK_TAB);
    key(VK_TAB);
    EXPECT_TRUE(a->Focused());
    key(VK_TAB);  // round to the start
    EXPECT_TRUE(b->Focused());
    win32::post_key(VK_SHIFT, true);
    key(VK_TAB);  // and back
    win32::post_key(VK_SHIFT, false);
    pump();
    EXPECT_TRUE(a->Focused());
    EXPECT_EQ(log, (Log{"B exit", "C enter", "C exit", "A enter", "A exit", "B enter", "B exit", "A enter"}));
    EXPECT_THROW(hidden->SetFocus(), EInvalidOperation);
}

TEST_F(Controls, KeysGoToTheFocusedControlAfterTheFormPreviewsThem) {
    Probe* p = add<Probe>(10, 10, 30, 20, clRed);
    p->OnKeyDown = [this](TObject*, uint16_t& k, TShiftState) {
        log.push_back("P down " + std::to_string(k));
    };
    p->OnKeyUp = [this](TObject*, uint16_t& k, TShiftState) { log.push_back("P up " + std::to_string(k)); };
    p->OnKeyPress = [this](TObject*, char& c) { log.push_back(std::string("P press ") + c); };
    form->OnKeyDown = [this](TObject* s, uint16_t& k, TShiftState) {
        EXPECT_EQ(s, form.get());
        log.push_back("F down " + std::to_string(k));
        if (k == 'Q') k = 0;  // the form keeps this one
    };
    form->OnKeyPress = [this](TObject*, char& c) {
        log.push_back(std::string("F press ") + c);
        if (c == 'b') c = 'c';  // and changes this one
    };
    show();
    p->SetFocus();
    pump();
    struct Case {
        bool preview;
        int vk;
        Log expected;
    };
    const Case cases[] = {
        {false, 'A', {"P down 65", "P press a", "P up 65"}},
        {true, 'A', {"F down 65", "P down 65", "F press a", "P press a", "P up 65"}},
        {true, 'Q', {"F down 81", "F press q", "P press q", "P up 81"}},
        {true, 'B', {"F down 66", "P down 66", "F press b", "P press c", "P up 66"}},
    };
    for (const Case& c : cases) {
        form->SetKeyPreview(c.preview);
        log.clear();
        key(c.vk);
        EXPECT_EQ(log, c.expected) << char(c.vk);
    }
}

TEST_F(Controls, AcceleratorCharactersClickTheVisibleEnabledControlThatOwnsThem) {
    Probe* focus = add<Probe>(10, 10, 30, 20, clRed);
    Probe* save = add<Probe>(50, 10, 30, 20, clRed);
    Probe* exit_hidden = add<Probe>(90, 10, 30, 20, clRed);
    Probe* open_disabled = add<Probe>(130, 10, 30, 20, clRed);
    save->SetCaption("&Save");
    exit_hidden->SetCaption("E&xit");
    exit_hidden->SetVisible(false);
    open_disabled->SetCaption("&Open");
    open_disabled->SetEnabled(false);
    for (auto [p, name] : {std::pair{save, "S"}, {exit_hidden, "X"}, {open_disabled, "O"}})
        p->OnClick = [this, name = std::string(name)](TObject*) { log.push_back(name + " click"); };
    show();
    focus->SetFocus();
    pump();
    struct Case {
        bool alt;
        int vk;
        Log expected;
    };
    const Case cases[] = {
        {true, 'S', {"S click"}}, {false, 'S', {"S click"}},  // the focused control takes no text
        {true, 'X', {}},          {true, 'O', {}},           {true, 'A', {}},
    };
    for (const Case& c : cases) {
        log.clear();
        if (c.alt) win32::post_key(VK_MENU, true);
        key(c.vk);
        if (c.alt) win32::post_key(VK_MENU, false);
        pump();
        EXPECT_EQ(log, c.expected) << char(c.vk) << (c.alt ? " with Alt" : "");
    }
}

TEST(Accelerators, TheCharacterAfterAnAmpersandWithoutRegardToCase) {
    struct Case {
        const char* caption;
        char c;
        bool accel;
    };
    const Case cases[] = {
        {"&Exit", 'e', true}, {"&Exit", 'E', true}, {"&Exit", 'x', false},    {"E&xit", 'X', true},
        {"A&&B", 'b', false}, {"A&&&B", 'b', true}, {"&&", '&', false},       {"Exit&", 'e', false},
        {"", 'a', false},     {"&1st", '1', true},  {"No accel", 'n', false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsAccel(c.c, c.caption), c.accel) << c.caption << " " << c.c;
}

TEST_F(Controls, RepaintPaintsAtOnceWhileInvalidateWaitsForTheLoop) {
    Probe* w = add<Probe>(10, 10, 60, 40, clRed);
    Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
    show();
    for (auto [name, paints, ctl] :
         {std::tuple{"windowed", &w->paints, static_cast<TControl*>(w)}, {"graphic", &g->paints, g}}) {
        const int before = *paints;
        ctl->Invalidate();
        EXPECT_EQ(*paints, before) << name;
        pump();
        EXPECT_EQ(*paints, before + 1) << name;
        ctl->Repaint();
        EXPECT_EQ(*paints, before + 2) << name;
    }
}

// Shows itself pressed while a button is held, repainting from its handlers.
class PressProbe : public Probe {
public:
    using Probe::Probe;
    bool down = false;

protected:
    void MouseDown(TMouseButton b, TShiftState s, int x, int y) override {
        Probe::MouseDown(b, s, x, y);
        down = true;
        Repaint();
    }
    void MouseUp(TMouseButton b, TShiftState s, int x, int y) override {
        Probe::MouseUp(b, s, x, y);
        down = false;
        Repaint();
    }
    void Paint() override {
        ++paints;
        Canvas()->Brush()->SetColor(down ? clRed : Color());
        Canvas()->FillRect(ClientRect());
    }
};

TEST_F(Controls, ARepaintInsideAMouseHandlerShowsWhileTheButtonIsHeld) {
    auto* p = add<PressProbe>(10, 10, 50, 30, clBlue);
    show();
    for (int i = 0; i < 3; ++i) {  // quick presses, double clicks among them
        win32::post_mouse_button(win32::MouseButton::Left, true, 20, 20);
        pump();
        EXPECT_EQ(win32::screen_pixel(10, 10), rgb_of(clRed)) << i;
        win32::post_mouse_button(win32::MouseButton::Left, false, 20, 20);
        pump();
        EXPECT_EQ(win32::screen_pixel(10, 10), rgb_of(clBlue)) << i;
    }
    EXPECT_GE(p->paints, 7);
}

TEST_F(Controls, InvalidatingAGraphicControlRepaintsOnlyWhatItCovers) {
    Probe* w = add<Probe>(10, 100, 40, 40, clRed);
    Spot* g1 = add<Spot>(100, 10, 60, 60, clGreen);
    Spot* g2 = add<Spot>(130, 40, 60, 60, clBlue);  // overlaps g1
    Spot* g3 = add<Spot>(100, 120, 40, 40, clYellow);
    int form_paints = 0;
    form->OnPaint = [&](TObject*) { ++form_paints; };
    show();
    w->paints = g1->paints = g2->paints = g3->paints = 0;
    form_paints = 0;
    g1->Invalidate();
    pump();
    EXPECT_EQ(g1->paints, 1);
    EXPECT_EQ(g2->paints, 1) << "overlapping, so painted again on top";
    EXPECT_EQ(g3->paints, 0);
    EXPECT_EQ(w->paints, 0);
    EXPECT_EQ(form_paints, 1);
    // What the screen shows: z order, local coordinates, and nothing outside.
    struct Pixel {
        int x, y;
        TColor color;
    };
    g3->overreach = true;
    g3->Repaint();
    const Pixel pixels[] = {
        {110, 20, clGreen},     {140, 50, clBlue},      {100, 10, clBlack},    {130, 40, clBlack},
        {170, 20, kFormColor},  {110, 125, clYellow},   {99, 130, kFormColor}, {140, 130, kFormColor},
        {120, 119, kFormColor}, {120, 160, kFormColor}, {20, 110, clRed},
    };
    for (const Pixel& p : pixels)
        EXPECT_EQ(win32::screen_pixel(p.x, p.y), rgb_of(p.color)) << p.x << "," << p.y;
}

TEST_F(Controls, DrawingOnAGraphicControlOutsideAPaintStaysInItsBounds) {
    Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
    show();
    TCanvas* c = g->Canvas();
    c->Brush()->SetColor(clRed);
    c->FillRect(Rect(10, 10, 500, 500));
    c->SetPixels(0, 0, clBlue);
    Application->ProcessMessages();  // the drawing shows once the message is done
    struct Pixel {
        int x, y;
        TColor color;
    };
    const Pixel pixels[] = {{100, 10, clBlue}, {105, 15, clGreen},    {110, 20, clRed},
                            {159, 69, clRed},  {160, 30, kFormColor}, {130, 70, kFormColor}};
    for (const Pixel& p : pixels)
        EXPECT_EQ(win32::screen_pixel(p.x, p.y), rgb_of(p.color)) << p.x << "," << p.y;
    // XOR twice gives back what was there.
    c->Pen()->SetMode(pmXor);
    c->Pen()->SetColor(clWhite);
    for (int i = 0; i < 2; ++i) {
        c->MoveTo(0, 30);
        c->LineTo(60, 30);
        Application->ProcessMessages();
        EXPECT_EQ(win32::screen_pixel(105, 40), i == 0 ? rgb_of(clGreen) ^ 0xFFFFFFu : rgb_of(clGreen)) << i;
    }
    // A hidden control shows nothing of what it draws.
    g->SetVisible(false);
    pump();
    c->Pen()->SetMode(pmCopy);
    c->FillRect(Rect(0, 0, 60, 60));
    Application->ProcessMessages();
    EXPECT_EQ(win32::screen_pixel(130, 40), rgb_of(kFormColor));
}

TEST_F(Controls, HidingAGraphicControlUncoversWhatIsBeneath) {
    Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
    show();
    EXPECT_EQ(win32::screen_pixel(120, 30), rgb_of(clGreen));
    g->SetVisible(false);
    pump();
    EXPECT_EQ(win32::screen_pixel(120, 30), rgb_of(kFormColor));
    g->SetBounds(20, 20, 30, 30);
    g->SetVisible(true);
    pump();
    EXPECT_EQ(win32::screen_pixel(30, 30), rgb_of(clGreen));
    EXPECT_EQ(win32::screen_pixel(120, 30), rgb_of(kFormColor));
}

TEST_F(Controls, AnOpaqueControlThatShrinksOrMovesUncoversItsOldArea) {
    for (bool opaque : {true, false}) {
        Spot* g = add<Spot>(100, 10, 60, 60, clGreen);
        if (opaque) g->SetControlStyle(g->ControlStyle() | StyleBit(csOpaque));
        show();
        ASSERT_EQ(win32::screen_pixel(150, 60), rgb_of(clGreen));
        g->SetBounds(100, 10, 30, 30);
        pump();
        EXPECT_EQ(win32::screen_pixel(150, 60), rgb_of(kFormColor)) << "opaque " << opaque;
        EXPECT_EQ(win32::screen_pixel(120, 30), rgb_of(clGreen));
        g->SetLeft(10);
        pump();
        EXPECT_EQ(win32::screen_pixel(120, 30), rgb_of(kFormColor)) << "opaque " << opaque;
        delete g;
        pump();
    }
}

TEST_F(Controls, ATransparentLabelShowsWhatLiesBeneathAnOpaqueOneItsColour) {
    Spot* back = add<Spot>(0, 0, 240, 180, clTeal);
    (void)back;
    TLabel* label = add<TLabel>(50, 50, 54, 54);
    label->SetAutoSize(false);
    label->SetColor(clOlive);
    show();
    EXPECT_EQ(win32::screen_pixel(70, 70), rgb_of(clOlive));
    label->SetTransparent(true);
    pump();
    EXPECT_EQ(win32::screen_pixel(70, 70), rgb_of(clTeal));
    EXPECT_EQ(label->Width(), 54);
}

TEST_F(Controls, AnAutoSizeLabelFitsItsCaption) {
    TLabel* label = add<TLabel>(10, 10, 100, 100);
    show();
    label->SetCaption("Hi");
    const int narrow = label->Width();
    EXPECT_GT(narrow, 0);
    EXPECT_GT(label->Height(), 5);
    EXPECT_LT(label->Height(), 40);
    label->SetCaption("Hi there, a longer caption");
    EXPECT_GT(label->Width(), narrow);
    label->SetAutoSize(false);
    label->SetBounds(10, 10, 30, 30);
    label->SetCaption("Hi there, an even longer caption");
    EXPECT_EQ(label->Width(), 30);
    // Text is drawn in the font colour on the label.
    label->SetAutoSize(true);
    label->SetCaption("WWWW");
    label->Font()->SetColor(clRed);
    label->SetColor(clWhite);
    pump();
    int red = 0;
    for (int y = 10; y < 10 + label->Height(); ++y)
        for (int x = 10; x < 10 + label->Width(); ++x) red += win32::screen_pixel(x, y) == rgb_of(clRed);
    EXPECT_GT(red, 10);
}

TEST_F(Controls, HintSwitchAndFontFollowTheParentUntilSetOwn) {
    Probe* follows = add<Probe>(10, 10, 30, 20, clRed);
    Probe* own = add<Probe>(50, 10, 30, 20, clRed);
    Spot* graphic = add<Spot>(90, 10, 30, 20, clRed);
    own->SetShowHint(false);
    EXPECT_FALSE(own->ParentShowHint());
    own->Font()->SetHeight(-20);
    EXPECT_FALSE(own->ParentFont());
    form->SetShowHint(true);
    form->Font()->SetHeight(-15);
    EXPECT_TRUE(follows->ShowHint());
    EXPECT_TRUE(graphic->ShowHint());
    EXPECT_FALSE(own->ShowHint());
    EXPECT_EQ(follows->Font()->Height(), -15);
    EXPECT_EQ(graphic->Font()->Height(), -15);
    EXPECT_EQ(own->Font()->Height(), -20);
    EXPECT_TRUE(follows->ParentFont());
    // Back to the parent's.
    own->SetParentShowHint(true);
    own->SetParentFont(true);
    EXPECT_TRUE(own->ShowHint());
    EXPECT_EQ(own->Font()->Height(), -15);
    // A control placed later takes the parent's at once.
    Spot* late = new Spot(form.get(), clRed);
    late->SetParent(form.get());
    EXPECT_TRUE(late->ShowHint());
    EXPECT_EQ(late->Font()->Height(), -15);
}

TEST_F(Controls, MaximizedFillsTheScreenAndFollowsItsSize) {
    form->SetBounds(251, 103, 100, 80);
    form->SetWindowState(wsMaximized);
    show();
    RECT r;
    ASSERT_TRUE(GetWindowRect(form->Handle(), &r));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(r.bottom, 240);
    EXPECT_EQ(form->ClientWidth(), 320);
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = 400;
    mode.dmPelsHeight = 300;
    ASSERT_EQ(ChangeDisplaySettingsA(&mode, 0), DISP_CHANGE_SUCCESSFUL);
    pump();
    ASSERT_TRUE(GetWindowRect(form->Handle(), &r));
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.bottom, 300);
    form->SetWindowState(wsNormal);
    EXPECT_EQ(form->BoundsRect().left, 251);
    EXPECT_EQ(form->Width(), 100);
    form->SetWindowState(wsMinimized);
    EXPECT_FALSE(IsWindowVisible(form->Handle()));
}

TEST_F(Controls, TheCursorShownIsTheScreenTableEntryOfTheControlOrItsParent) {
    Spot* own = add<Spot>(20, 20, 40, 40, clRed);
    Spot* inherits = add<Spot>(100, 20, 40, 40, clRed);
    HCURSOR hand = LoadCursorA(nullptr, IDC_HAND);
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    ASSERT_NE(hand, cross);
    Screen->SetCursors(2, hand);
    Screen->SetCursors(1, cross);
    own->SetCursor(2);
    form->SetCursor(1);
    EXPECT_EQ(inherits->Cursor(), crDefault);
    show();
    struct Case {
        POINT at;
        HCURSOR shown;
    };
    const Case cases[] = {{{30, 30}, hand}, {{110, 30}, cross}, {{200, 150}, cross}};
    for (const Case& c : cases) {
        win32::post_mouse_move(c.at.x, c.at.y);
        pump();
        EXPECT_EQ(GetCursor(), c.shown) << c.at.x << "," << c.at.y;
    }
    // Without an entry of its own a number shows the default arrow.
    EXPECT_EQ(Screen->Cursors(7), Screen->Cursors(crDefault));
    Screen->SetCursors(2, nullptr);
    EXPECT_EQ(Screen->Cursors(2), Screen->Cursors(crDefault));
}

TEST(ControlNames, OnlyADesignedControlTakesItsNewNameAsCaption) {
    struct Case {
        bool designing;
        bool set_caption_style;
        const char* caption_after;
    };
    const Case cases[] = {{true, true, "Button2"}, {false, true, "Button1"}, {true, false, "Button1"}};
    for (const Case& c : cases) {
        TControl ctl(nullptr);
        ctl.SetName("Button1");
        ctl.SetCaption("Button1");
        if (!c.set_caption_style) ctl.SetControlStyle(ctl.ControlStyle() & ~StyleBit(csSetCaption));
        ctl.SetDesigning(c.designing);
        ctl.SetName("Button2");
        EXPECT_EQ(ctl.Caption(), c.caption_after);
    }
}

TEST_F(Controls, AFormWithALabelIsWrittenWithoutDefaultsAndReadsBack) {
    form->SetName("Form1");
    form->SetCaption("Menu");
    form->SetShowHint(true);
    form->SetWindowState(wsMinimized);
    form->HorzScrollBar()->SetVisible(false);
    TLabel* label = add<TLabel>(60, 272, 54, 54);
    label->SetName("Label1");
    label->SetAutoSize(false);
    label->SetTransparent(true);
    label->SetColor(clTeal);
    label->SetCursor(crHandPoint);
    label->SetHint("hi");
    TLabel* no_hints = add<TLabel>(10, 10, 20, 20);
    no_hints->SetName("Label2");
    no_hints->SetShowHint(false);  // its own, against the form's
    const std::string text = WriteComponentToText(form.get());
    for (const char* present :
         {"BorderStyle = bsNone", "WindowState = wsMinimized", "HorzScrollBar.Visible = False",
          "ShowHint = True", "Transparent = True", "AutoSize = False", "Color = clTeal",
          "Cursor = crHandPoint", "Left = 60", "Width = 54"})
        EXPECT_NE(text.find(present), std::string::npos) << present << " in\n" << text;
    for (const char* absent : {"Enabled", "DragCursor", "DragMode", "ParentFont", "VertScrollBar", "Scaled"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent << " in\n" << text;

    TForm copy(nullptr);
    ReadComponentFromText(text, &copy);
    auto* read = dynamic_cast<TLabel*>(copy.FindComponent("Label1"));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Parent(), &copy);
    EXPECT_EQ(read->BoundsRect().left, 60);
    EXPECT_EQ(read->Height(), 54) << "a label read from a form keeps its stored size";
    EXPECT_TRUE(read->Transparent());
    EXPECT_EQ(read->Cursor(), crHandPoint);
    EXPECT_TRUE(read->ShowHint()) << "from the form";
    EXPECT_TRUE(read->ParentShowHint());
    auto* read2 = dynamic_cast<TLabel*>(copy.FindComponent("Label2"));
    ASSERT_NE(read2, nullptr);
    EXPECT_FALSE(read2->ShowHint());
    EXPECT_FALSE(read2->ParentShowHint());
    EXPECT_EQ(copy.WindowState(), wsMinimized);
    EXPECT_FALSE(copy.HorzScrollBar()->Visible());
    EXPECT_EQ(WriteComponentToText(&copy), text);
}

TEST(ControlProps, ConstructedValuesEqualTheDeclaredDefaults) {
    // A default that differs from the constructed value would lose the
    // value on a write and read back.
    std::vector<std::unique_ptr<TComponent>> made;
    made.push_back(std::make_unique<TControl>(nullptr));
    made.push_back(std::make_unique<TWinControl>(nullptr));
    made.push_back(std::make_unique<TCustomControl>(nullptr));
    made.push_back(std::make_unique<TGraphicControl>(nullptr));
    made.push_back(std::make_unique<TLabel>(nullptr));
    made.push_back(std::make_unique<TForm>(nullptr));
    for (auto& c : made) {
        int checked = 0;
        for (const PropInfo* p : c->GetClassInfo()->props) {
            if (!p->default_ord || !p->get_ord) continue;
            EXPECT_EQ(p->get_ord(c.get()), *p->default_ord) << c->ClassName() << "." << p->name;
            ++checked;
        }
        EXPECT_GT(checked, 5) << c->ClassName();
    }
    EXPECT_EQ(ControlProps::DragCursor().default_ord, crDrag);
    EXPECT_EQ(ControlProps::TabOrder().default_ord, -1);
    EXPECT_FALSE(ControlProps::Left().default_ord) << "bounds are always stored";
}

TEST(ControlProps, CursorsHaveNamesForStreaming) {
    const std::pair<const char*, int> names[] = {
        {"crDefault", 0}, {"crArrow", -2}, {"crDrag", -12}, {"crHandPoint", -21}, {"crSizeAll", -22}};
    for (auto [name, value] : names) {
        EXPECT_EQ(IdentOf(&CursorType, value), name);
        EXPECT_EQ(ValueOf(&CursorType, name), value);
    }
    EXPECT_EQ(IdentOf(&CursorType, 2), "") << "the program's own cursors have numbers only";
}

}  // namespace

namespace {

// A component a control can point at, and a control that publishes the
// pointer, both creatable by name.
class TTestMenu : public TComponent {
public:
    using TComponent::TComponent;
    FW_CLASS_INFO();
};
const ClassInfo& TTestMenu::StaticClassInfo() {
    static const PropInfo* const list[] = {&ControlProps::Name()};
    static const ClassInfo info{"TTestMenu", &TComponent::StaticClassInfo(), list, {}, {}, &props::Create<TTestMenu>};
    return info;
}

class TPopupSpot : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    FW_CLASS_INFO();
};
const ClassInfo& TPopupSpot::StaticClassInfo() {
    static const PropInfo* const list[] = {&ControlProps::Name(), &ControlProps::Left(), &ControlProps::Top(),
                                           &ControlProps::PopupMenu()};
    static const ClassInfo info{"TPopupSpot", &TGraphicControl::StaticClassInfo(), list, {}, {},
                                &props::Create<TPopupSpot>};
    return info;
}

TEST(ComponentReferences, AreWrittenByNameFoundAfterReadingAndClearedWhenTheTargetGoes) {
    RegisterClass(TTestMenu::StaticClassInfo());
    RegisterClass(TPopupSpot::StaticClassInfo());
    TForm form(nullptr);
    form.SetName("Form1");
    auto* spot = new TPopupSpot(&form);
    spot->SetName("Spot1");
    spot->SetParent(&form);
    auto* menu = new TTestMenu(&form);
    menu->SetName("Menu1");
    spot->SetPopupMenu(menu);
    const std::string text = WriteComponentToText(&form);
    EXPECT_NE(text.find("PopupMenu = Menu1"), std::string::npos) << text;
    // The control comes before the menu it names: found once all is read.
    EXPECT_LT(text.find("Spot1"), text.find("object Menu1"));

    TForm copy(nullptr);
    ReadComponentFromText(text, &copy);
    auto* read_spot = dynamic_cast<TPopupSpot*>(copy.FindComponent("Spot1"));
    ASSERT_NE(read_spot, nullptr);
    TComponent* read_menu = copy.FindComponent("Menu1");
    ASSERT_NE(read_menu, nullptr);
    EXPECT_EQ(read_spot->PopupMenu(), read_menu);
    delete read_menu;
    EXPECT_EQ(read_spot->PopupMenu(), nullptr) << "no pointer to a freed component";

    std::string missing = text;
    missing.replace(missing.find("PopupMenu = Menu1"), 17, "PopupMenu = Menu9");
    TForm bad(nullptr);
    EXPECT_THROW(ReadComponentFromText(missing, &bad), EReadError);
    EXPECT_EQ(bad.ComponentCount(), 0) << "a failed read leaves nothing behind";
}

}  // namespace
