// The colour bitmap button on a headless screen: bevel colours and their
// swap while pressed, auto-size, picture placement, the caption with its
// accelerator, keys, the disabled look, the focus rectangle, the clamps and
// repaint rules of the setters, and the button in a form text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Colorbutton.h"
#include "forms.h"
#include "streaming.h"
#include "win32/gui_ext.h"
#include "ui_support.h"

// Rectangles compare and print in failures.
bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
void PrintTo(const RECT& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace {

using namespace ui_test;

uint32_t rgb(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

// Reaches the protected input handlers and counts paints.
class TestButton : public TColorButton {
public:
    using TColorButton::TColorButton;
    using TColorButton::KeyDown;
    using TColorButton::KeyUp;
    using TColorButton::MouseDown;
    using TColorButton::MouseUp;
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        TColorButton::Paint();
    }
};

using Points = std::set<std::pair<int, int>>;

// A button of 100x40, silver face, black caption, no bevel shown unless asked.
class ColorButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen({640, 480, 32}));
        form = std::make_unique<TForm>(nullptr);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 600, 400);
        form->SetColor(clWhite);
        form->AfterConstruction();
    }
    void TearDown() override {
        form.reset();
        pump();
    }

    TestButton* add(int l, int t, int w, int h) {
        auto* b = new TestButton(form.get());
        b->SetParent(form.get());
        b->SetBounds(l, t, w, h);
        b->SetColor(clSilver);
        b->Font()->SetColor(clBlack);
        return b;
    }
    void show() {
        form->Show();
        pump();
    }

    // A pixel of the button, in its own coordinates.
    static uint32_t px(TControl* c, int x, int y) {
        const TPoint p = c->ClientToScreen(Point(x, y));
        return win32::screen_pixel(p.x, p.y);
    }
    // Points of the button (inside `inset`) that have colour `colour`.
    static Points find(TControl* c, uint32_t colour, int inset = 0) {
        Points out;
        for (int y = inset; y < c->Height() - inset; ++y)
            for (int x = inset; x < c->Width() - inset; ++x)
                if (px(c, x, y) == colour) out.insert({x, y});
        return out;
    }
    static TRect bounds_of(const Points& p) {
        TRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        for (auto [x, y] : p) {
            r.left = std::min<LONG>(r.left, x);
            r.top = std::min<LONG>(r.top, y);
            r.right = std::max<LONG>(r.right, x + 1);
            r.bottom = std::max<LONG>(r.bottom, y + 1);
        }
        return r;
    }

    std::unique_ptr<TForm> form;
};

// Text metrics and reference drawings in the button's font, on a bitmap.
struct TextRef {
    explicit TextRef(TFont* font) {
        bmp.SetSize(400, 100);
        bmp.Canvas()->SetFont(font);
    }
    int width(const std::string& s) { return bmp.Canvas()->TextWidth(s); }
    int height(const std::string& s) { return bmp.Canvas()->TextHeight(s); }
    // The pixels that `text` at (x, y) inks.
    Points ink(const std::string& text, int x, int y) {
        TCanvas* c = bmp.Canvas();
        c->Brush()->SetStyle(bsSolid);
        c->Brush()->SetColor(clWhite);
        c->FillRect(Rect(0, 0, 400, 100));
        c->Brush()->SetStyle(bsClear);
        c->Font()->SetColor(clBlack);
        c->TextOut(x, y, text);
        Points out;
        for (int yy = 0; yy < 100; ++yy)
            for (int xx = 0; xx < 400; ++xx)
                if (c->Pixels(xx, yy) == clBlack) out.insert({xx, yy});
        return out;
    }
    TBitmap bmp;
};

Points shifted(const Points& p, int dx, int dy) {
    Points out;
    for (auto [x, y] : p) out.insert({x + dx, y + dy});
    return out;
}
Points minus(const Points& a, const Points& b) {
    Points out;
    for (const auto& q : a)
        if (!b.count(q)) out.insert(q);
    return out;
}
Points row_of(const Points& p, int y) {
    Points out;
    for (const auto& q : p)
        if (q.second == y) out.insert(q);
    return out;
}
Points span(int x1, int x2, int y) {
    Points out;
    for (int x = x1; x < x2; ++x) out.insert({x, y});
    return out;
}

void fill_picture(TPicture* p, int w, int h, TColor colour) {
    TBitmap* b = p->Bitmap();
    b->SetSize(w, h);
    b->Canvas()->Brush()->SetColor(colour);
    b->Canvas()->FillRect(Rect(0, 0, w, h));
}

// --- Construction, setters ----------------------------------------------------------

TEST_F(ColorButtonTest, ConstructedDefaultsAndThePublishedList) {
    TColorButton b(nullptr);
    EXPECT_EQ(b.Width(), 75);
    EXPECT_EQ(b.Height(), 25);
    EXPECT_TRUE(b.Enabled());
    EXPECT_TRUE(b.TabStop());
    EXPECT_EQ(b.Alignment(), alMiddleCenter);
    EXPECT_EQ(b.BevelStyle(), bbRaised);
    EXPECT_EQ(b.BevelSize(), 2);
    EXPECT_EQ(b.Color(), clBtnFace);
    EXPECT_EQ(b.Spacing(), 2);
    EXPECT_EQ(b.Style(), ButtonStyleBit(bsCenter) | ButtonStyleBit(bsShowFocus) | ButtonStyleBit(bsShowKey));
    EXPECT_EQ(b.State(), TButtonState::Up);
    EXPECT_FALSE(b.Focused());
    ASSERT_NE(b.Picture(), nullptr);
    EXPECT_EQ(b.Picture()->Graphic(), nullptr);

    std::vector<std::string> names;
    for (const PropInfo* p : b.GetClassInfo()->props) names.push_back(p->name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "Alignment", "BevelStyle", "BevelSize", "Caption", "Color", "Cursor",
                         "DragCursor", "DragMode", "Enabled", "Font", "Height", "Hint", "Left", "Name",
                         "Picture", "ShowHint", "Spacing", "Style", "Tag", "TabOrder", "TabStop", "Top",
                         "Visible", "Width", "OnClick", "OnDblClick", "OnDragDrop", "OnDragOver",
                         "OnEndDrag", "OnEnter", "OnExit", "OnKeyDown", "OnKeyPress", "OnKeyUp",
                         "OnMouseDown", "OnMouseMove", "OnMouseUp", "OnStartDrag"}));
    EXPECT_EQ(FindClass("TColorButton"), &TColorButton::StaticClassInfo());
}

TEST_F(ColorButtonTest, OutOfRangeValuesAreClampedOrRefused) {
    TColorButton b(nullptr);
    struct Case {
        int bevel, spacing;
        int want_bevel, want_spacing;
    };
    for (const Case& c : {Case{0, -5, 1, 0}, Case{-7, -1, 1, 0}, Case{1, 0, 1, 0}, Case{9, 4, 9, 4}}) {
        b.SetBevelSize(c.bevel);
        b.SetSpacing(c.spacing);
        EXPECT_EQ(b.BevelSize(), c.want_bevel) << c.bevel;
        EXPECT_EQ(b.Spacing(), c.want_spacing) << c.spacing;
    }
    // Bits beyond the five styles and values beyond the enumerations are not kept.
    b.SetStyle(0xFF);
    EXPECT_EQ(b.Style(), 0x1F);
    b.SetAlignment(alTopRight);
    b.SetAlignment(static_cast<TAlignment>(9));
    EXPECT_EQ(b.Alignment(), alTopRight);
    b.SetBevelStyle(bbNone);
    b.SetBevelStyle(static_cast<TButtonBevel>(3));
    EXPECT_EQ(b.BevelStyle(), bbNone);
}

TEST_F(ColorButtonTest, SettersRepaintAtOnceAndSomeOnlyOnAChange) {
    TestButton* b = add(10, 10, 80, 30);
    show();
    TPicture other;
    fill_picture(&other, 4, 4, clRed);
    struct Case {
        const char* what;
        std::function<void()> set;
        int paints;
    };
    const Case cases[] = {
        {"same alignment", [&] { b->SetAlignment(b->Alignment()); }, 1},
        {"same bevel style", [&] { b->SetBevelStyle(b->BevelStyle()); }, 1},
        {"same colour", [&] { b->SetColor(b->Color()); }, 1},
        {"same bevel size", [&] { b->SetBevelSize(b->BevelSize()); }, 1},
        {"same spacing", [&] { b->SetSpacing(b->Spacing()); }, 0},
        {"clamped to the same spacing", [&] { b->SetSpacing(-3); b->SetSpacing(-4); }, 1},
        {"new spacing", [&] { b->SetSpacing(5); }, 1},
        {"same style", [&] { b->SetStyle(b->Style()); }, 0},
        {"new style", [&] { b->SetStyle(ButtonStyleBit(bsStretch)); }, 1},
        {"own picture", [&] { b->SetPicture(b->Picture()); }, 0},
        {"caption", [&] { b->SetCaption("Go"); }, 1},
        {"font", [&] { b->Font()->SetHeight(-13); }, 1},
    };
    for (const Case& c : cases) {
        const int before = b->paints;
        c.set();
        EXPECT_EQ(b->paints - before, c.paints) << c.what;
    }
    // A picture changed in place shows at once.
    int before_fill = b->paints;
    fill_picture(b->Picture(), 2, 2, clBlue);
    EXPECT_GE(b->paints - before_fill, 1);
    EXPECT_EQ(px(b, 10, 10), rgb(0, 0, 255));

    // Another picture is copied, not shared, and shows.
    const int before = b->paints;
    b->SetPicture(&other);
    EXPECT_GE(b->paints - before, 1);
    EXPECT_NE(b->Picture()->Graphic(), other.Graphic());
    EXPECT_EQ(b->Picture()->Width(), 4);
    EXPECT_EQ(px(b, 10, 10), rgb(255, 0, 0));  // stretched over the face
}

// --- Bevel ---------------------------------------------------------------------------

// Every pixel of frame i (i < size) is `top` on its left column and top
// row, `bottom` on its right column and bottom row; inside is the face.
void expect_bevel(TControl* b, int size, uint32_t top, uint32_t bottom, uint32_t face, const std::string& what) {
    const int w = b->Width(), h = b->Height();
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = std::min(std::min(x, y), std::min(w - 1 - x, h - 1 - y));  // frame index
            uint32_t want = face;
            if (i < size) want = (x == w - 1 - i || y == h - 1 - i) ? bottom : top;
            const uint32_t got = [&] {
                const TPoint p = b->ClientToScreen(Point(x, y));
                return win32::screen_pixel(p.x, p.y);
            }();
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << std::hex << got << ", want "
                              << want;
        }
    EXPECT_EQ(wrong, 0) << what;
}

TEST_F(ColorButtonTest, BevelColoursSwapWhilePressedAndWhenLowered) {
    TestButton* b = add(20, 20, 40, 24);
    b->SetBevelSize(3);
    show();
    // Lighten and Darken move each channel by 64 and stop at 0 and 255.
    struct Colour {
        TColor color;
        uint32_t face, light, dark;
    };
    const COLORREF sys = ColorToRGB(clBtnFace);
    auto sat = [](int v) { return std::clamp(v, 0, 255); };
    const Colour colours[] = {
        {static_cast<TColor>(RGB(10, 100, 220)), rgb(10, 100, 220), rgb(74, 164, 255), rgb(0, 36, 156)},
        {clBtnFace, rgb_of(clBtnFace),
         rgb(sat(GetRValue(sys) + 64), sat(GetGValue(sys) + 64), sat(GetBValue(sys) + 64)),
         rgb(sat(GetRValue(sys) - 64), sat(GetGValue(sys) - 64), sat(GetBValue(sys) - 64))},
    };
    struct Case {
        TButtonBevel style;
        bool pressed;
        bool sunken;
    };
    const Case cases[] = {
        {bbRaised, false, false}, {bbRaised, true, true}, {bbLowered, false, true}, {bbLowered, true, false}};
    const TPoint inside = b->ClientToScreen(Point(20, 12));
    for (const Colour& col : colours) {
        b->SetColor(col.color);
        for (const Case& c : cases) {
            b->SetBevelStyle(c.style);
            if (c.pressed) {
                win32::post_mouse_button(win32::MouseButton::Left, true, inside.x, inside.y);
                pump();
                ASSERT_EQ(b->State(), TButtonState::Down);
            }
            const std::string what = std::string(c.style == bbRaised ? "raised" : "lowered") +
                                     (c.pressed ? " pressed" : "") + " on " + std::to_string(col.face);
            expect_bevel(b, 3, c.sunken ? col.dark : col.light, c.sunken ? col.light : col.dark, col.face, what);
            if (c.pressed) {
                win32::post_mouse_button(win32::MouseButton::Left, false, inside.x, inside.y);
                pump();
                EXPECT_EQ(b->State(), TButtonState::Up);
                expect_bevel(b, 3, c.style == bbRaised ? col.light : col.dark,
                             c.style == bbRaised ? col.dark : col.light, col.face, what + " released");
            }
        }
    }
    // No bevel: the face reaches the edge, pressed or not.
    b->SetBevelStyle(bbNone);
    expect_bevel(b, 0, 0, 0, colours[1].face, "no bevel");
    win32::post_mouse_button(win32::MouseButton::Left, true, inside.x, inside.y);
    pump();
    expect_bevel(b, 0, 0, 0, colours[1].face, "no bevel pressed");
    win32::post_mouse_button(win32::MouseButton::Left, false, inside.x, inside.y);
    pump();
}

// --- Picture -------------------------------------------------------------------------

TEST_F(ColorButtonTest, AutoSizeFitsThePictureAndBevelAtTheFirstPaint) {
    TestButton* b = add(5, 5, 75, 25);
    b->SetBevelSize(4);
    b->SetSpacing(7);  // not part of the size
    b->SetStyle(ButtonStyleBit(bsAutoSize) | ButtonStyleBit(bsCenter));
    fill_picture(b->Picture(), 165, 225, clRed);
    EXPECT_EQ(b->Width(), 75);  // nothing shown yet
    show();
    EXPECT_EQ(b->Width(), 173);
    EXPECT_EQ(b->Height(), 233);
    // The whole new area is painted: bevel at the far corner, picture inside.
    EXPECT_EQ(px(b, 172, 232), rgb(128, 128, 128));
    EXPECT_EQ(px(b, 3, 3), rgb(255, 255, 255));
    EXPECT_EQ(bounds_of(find(b, rgb(255, 0, 0))), Rect(4, 4, 169, 229));

    // Without an image the size stays.
    TestButton* empty = add(200, 5, 60, 30);
    empty->SetStyle(ButtonStyleBit(bsAutoSize));
    empty->Repaint();
    EXPECT_GT(empty->paints, 0);
    EXPECT_EQ(empty->Width(), 60);
    EXPECT_EQ(empty->Height(), 30);
}

TEST_F(ColorButtonTest, PicturePlacementByStyleAndAlignment) {
    // 101 x 61, BevelSize 3 + Spacing 2: margin 5; picture 20 x 10.
    TestButton* b = add(10, 10, 101, 61);
    b->SetBevelSize(3);
    b->SetSpacing(2);
    fill_picture(b->Picture(), 20, 10, clRed);
    show();
    constexpr TButtonStyle none = 0;
    const TButtonStyle stretch = ButtonStyleBit(bsStretch), center = ButtonStyleBit(bsCenter);
    struct Case {
        TButtonStyle style;
        TAlignment align;
        TRect want;
    };
    const Case cases[] = {
        {stretch, alTopLeft, Rect(5, 5, 96, 56)},
        {stretch | center, alMiddleLeft, Rect(5, 5, 96, 56)},  // stretch wins
        {center, alTopLeft, Rect(40, 25, 60, 35)},             // alignment does not matter
        {none, alTopLeft, Rect(40, 46, 60, 56)},               // caption above: picture at the bottom
        {none, alTopCenter, Rect(40, 46, 60, 56)},
        {none, alTopRight, Rect(40, 46, 60, 56)},
        {none, alMiddleLeft, Rect(76, 25, 96, 35)},  // caption left: picture right
        {none, alMiddleCenter, Rect(40, 25, 60, 35)},
        {none, alMiddleRight, Rect(5, 25, 25, 35)},
        {none, alBottomLeft, Rect(40, 5, 60, 15)},
        {none, alBottomCenter, Rect(40, 5, 60, 15)},
        {none, alBottomRight, Rect(40, 5, 60, 15)},
    };
    for (const Case& c : cases) {
        b->SetStyle(c.style);
        b->SetAlignment(c.align);
        const TRect got = bounds_of(find(b, rgb(255, 0, 0)));
        EXPECT_EQ(got, c.want) << "style " << int(c.style) << " alignment " << int(c.align);
    }
}

TEST_F(ColorButtonTest, CentringTruncatesTowardZeroAndATooSmallButtonDrawsNoStretchedPicture) {
    // 33 wide on 30: left is -3/2 = -1, so the picture's column 1 lands on x 0.
    TestButton* b = add(10, 10, 30, 20);
    b->SetBevelStyle(bbNone);
    TBitmap* bmp = b->Picture()->Bitmap();
    bmp->SetSize(33, 4);
    bmp->Canvas()->Brush()->SetColor(clRed);
    bmp->Canvas()->FillRect(Rect(0, 0, 33, 4));
    bmp->Canvas()->Brush()->SetColor(clLime);
    bmp->Canvas()->FillRect(Rect(1, 0, 2, 4));
    b->SetStyle(ButtonStyleBit(bsCenter));
    show();
    EXPECT_EQ(px(b, 0, 8), rgb(0, 255, 0));
    EXPECT_EQ(px(b, 1, 8), rgb(255, 0, 0));

    // Margins of 5 on a button 8 wide leave no room; a reversed rectangle
    // would mirror the picture over the face.
    b->SetBounds(10, 10, 8, 20);
    b->SetBevelSize(3);
    b->SetStyle(ButtonStyleBit(bsStretch));
    pump();
    EXPECT_TRUE(find(b, rgb(255, 0, 0)).empty());
    EXPECT_TRUE(find(b, rgb(0, 255, 0)).empty());
}

// --- Caption -------------------------------------------------------------------------

TEST_F(ColorButtonTest, CaptionPositionByAlignment) {
    TestButton* b = add(10, 10, 120, 60);
    b->SetBevelSize(3);
    b->SetSpacing(4);  // margin 7
    b->SetCaption("Hi");
    show();
    TextRef ref(b->Font());
    const int w = ref.width("Hi"), h = ref.height("Hi");
    const int left = 7, centre = (120 - 14 - w) / 2 + 7, right = 120 - 7 - w;
    const int top = 7, middle = (60 - 14 - h) / 2 + 7, bottom = 60 - 7 - h;
    const struct {
        TAlignment align;
        int x, y;
    } cases[] = {
        {alTopLeft, left, top},       {alTopCenter, centre, top},       {alTopRight, right, top},
        {alMiddleLeft, left, middle}, {alMiddleCenter, centre, middle}, {alMiddleRight, right, middle},
        {alBottomLeft, left, bottom}, {alBottomCenter, centre, bottom}, {alBottomRight, right, bottom},
    };
    for (const auto& c : cases) {
        b->SetAlignment(c.align);
        const Points want = ref.ink("Hi", c.x, c.y);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(find(b, 0), want) << "alignment " << int(c.align);
    }
}

TEST_F(ColorButtonTest, AcceleratorIsUnderlinedOnlyWithShowKeyAndASecondAmpersandStays) {
    TestButton* b = add(10, 10, 100, 40);
    b->SetCaption("&Exit");
    show();
    TextRef ref(b->Font());
    const int m = 4;
    auto origin = [&](const std::string& text) {
        return std::make_pair((100 - 2 * m - ref.width(text)) / 2 + m, (40 - 2 * m - ref.height(text)) / 2 + m);
    };
    const int line_h = ref.height("ABC");

    auto [x, y] = origin("Exit");
    const Points text = ref.ink("Exit", x, y);
    ASSERT_FALSE(text.empty());
    const Points underline = span(x, x + ref.width("E"), y + line_h);
    ASSERT_TRUE(row_of(text, y + line_h).empty());  // the line is below the text
    Points with_line = text;
    with_line.insert(underline.begin(), underline.end());
    EXPECT_EQ(find(b, 0), with_line);

    b->SetStyle(b->Style() & ~ButtonStyleBit(bsShowKey));
    EXPECT_EQ(find(b, 0), text);

    // Only the first '&' goes: "A&B&C" shows "AB&C" with the B underlined.
    b->SetStyle(b->Style() | ButtonStyleBit(bsShowKey));
    b->SetCaption("A&B&C");
    std::tie(x, y) = origin("AB&C");
    Points want = ref.ink("AB&C", x, y);
    const Points key = span(x + ref.width("A"), x + ref.width("AB"), y + line_h);
    want.insert(key.begin(), key.end());
    EXPECT_EQ(find(b, 0), want);

    // A double-byte accelerator is underlined whole.
    const std::string ni = "\xC4\xE3";
    b->SetCaption("&" + ni + "A");
    std::tie(x, y) = origin(ni + "A");
    EXPECT_EQ(row_of(find(b, 0), y + line_h), span(x, x + ref.width(ni), y + line_h));

    // An '&' at the very end underlines nothing.
    b->SetCaption("Exit&");
    std::tie(x, y) = origin("Exit");
    EXPECT_EQ(find(b, 0), ref.ink("Exit", x, y));
}

TEST_F(ColorButtonTest, DialogCharacterClicksTheEnabledButtonAndIsMarkedHandled) {
    TestButton* b = add(10, 10, 80, 30);
    b->SetCaption("&Exit");
    int clicks = 0;
    b->OnClick = [&](TObject*) { ++clicks; };
    show();
    const struct {
        char c;
        bool enabled;
        bool handled;
    } cases[] = {
        {'e', true, true}, {'E', true, true}, {'x', true, false}, {'&', true, false}, {'e', false, false},
    };
    for (const auto& c : cases) {
        b->SetEnabled(c.enabled);
        const int before = clicks;
        bool handled = false;
        b->CMDialogChar(c.c, handled);
        EXPECT_EQ(handled, c.handled) << c.c << c.enabled;
        EXPECT_EQ(clicks - before, c.handled ? 1 : 0) << c.c << c.enabled;
        // The form offers it the same way.
        EXPECT_EQ(form->DialogChar(c.c), c.handled) << c.c << c.enabled;
    }
}

// --- Keys, mouse, disabled, focus --------------------------------------------------------

TEST_F(ColorButtonTest, SpaceShowsThePressedStateAndClicksOnReleaseReturnOnlyClicks) {
    TestButton* b = add(10, 10, 60, 30);
    int clicks = 0;
    b->OnClick = [&](TObject*) { ++clicks; };
    show();
    b->SetFocus();
    pump();
    ASSERT_TRUE(b->Focused());
    const uint32_t light = rgb(255, 255, 255), dark = rgb(128, 128, 128);

    win32::post_key(VK_SPACE, true);
    pump();
    EXPECT_EQ(b->State(), TButtonState::Down);
    EXPECT_EQ(px(b, 0, 10), dark);  // sunken
    EXPECT_EQ(clicks, 0);
    win32::post_key(VK_SPACE, false);
    pump();
    EXPECT_EQ(b->State(), TButtonState::Up);
    EXPECT_EQ(px(b, 0, 10), light);
    EXPECT_EQ(clicks, 1);

    win32::post_key(VK_RETURN, true);
    pump();
    EXPECT_EQ(b->State(), TButtonState::Up);
    EXPECT_EQ(px(b, 0, 10), light);
    EXPECT_EQ(clicks, 1);  // not on the press
    win32::post_key(VK_RETURN, false);
    pump();
    EXPECT_EQ(clicks, 2);

    // Other keys do nothing but reach the events.
    uint16_t key = 'A';
    b->KeyDown(key, 0);
    b->KeyUp(key, 0);
    EXPECT_EQ(b->State(), TButtonState::Up);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ColorButtonTest, MouseEventsSeeThePressedStateAndTheClickComesOnce) {
    TestButton* b = add(10, 10, 60, 30);
    std::vector<std::string> log;
    auto name = [](TButtonState s) { return s == TButtonState::Up ? "up" : s == TButtonState::Down ? "down" : "disabled"; };
    b->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { log.push_back(std::string("MouseDown ") + name(b->State())); };
    b->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { log.push_back(std::string("MouseUp ") + name(b->State())); };
    b->OnClick = [&](TObject*) { log.push_back("Click"); };
    show();
    const TPoint p = b->ClientToScreen(Point(30, 15));
    win32::post_mouse_button(win32::MouseButton::Left, true, p.x, p.y);
    win32::post_mouse_button(win32::MouseButton::Left, false, p.x, p.y);
    pump();
    EXPECT_EQ(log, (std::vector<std::string>{"MouseDown up", "MouseUp down", "Click"}));
    EXPECT_EQ(b->State(), TButtonState::Up);

    // The right button presses too, without a click.
    log.clear();
    win32::post_mouse_button(win32::MouseButton::Right, true, p.x, p.y);
    pump();
    EXPECT_EQ(b->State(), TButtonState::Down);
    win32::post_mouse_button(win32::MouseButton::Right, false, p.x, p.y);
    pump();
    EXPECT_EQ(log, (std::vector<std::string>{"MouseDown up", "MouseUp down"}));
    EXPECT_EQ(b->State(), TButtonState::Up);
}

TEST_F(ColorButtonTest, DisabledButtonIsEngravedIgnoresPressesAndShowsNoFocus) {
    TestButton* b = add(10, 10, 100, 40);
    b->SetCaption("Exit");
    b->SetSpacing(3);
    show();
    b->SetFocus();
    pump();
    const int inset = 2;
    const Points ink = find(b, 0, inset);
    ASSERT_FALSE(ink.empty());
    const uint32_t face = rgb(192, 192, 192), white = rgb(255, 255, 255), grey = rgb(128, 128, 128);
    EXPECT_FALSE(find(b, face ^ 0xFFFFFF, inset).empty());  // the focus rectangle, while enabled

    b->SetEnabled(false);
    pump();
    EXPECT_EQ(b->State(), TButtonState::Disabled);
    // Dark where the text was, light one pixel down and right where it shows.
    EXPECT_EQ(find(b, grey, inset), ink);
    EXPECT_EQ(find(b, white, inset), minus(shifted(ink, 1, 1), ink));
    EXPECT_TRUE(find(b, 0, inset).empty());
    EXPECT_TRUE(find(b, face ^ 0xFFFFFF, inset).empty());  // no focus rectangle

    // Presses change nothing, on screen or in the state; no click.
    int clicks = 0;
    b->OnClick = [&](TObject*) { ++clicks; };
    uint16_t space = VK_SPACE, enter = VK_RETURN;
    b->MouseDown(mbLeft, 0, 5, 5);
    b->KeyDown(space, 0);
    EXPECT_EQ(b->State(), TButtonState::Disabled);
    EXPECT_EQ(px(b, 0, 10), white);
    b->MouseUp(mbLeft, 0, 5, 5);
    b->KeyUp(space, 0);
    b->KeyUp(enter, 0);
    EXPECT_EQ(b->State(), TButtonState::Disabled);
    EXPECT_EQ(clicks, 0);

    // Enabled again it is up, with its plain caption.
    b->SetEnabled(true);
    pump();
    EXPECT_EQ(b->State(), TButtonState::Up);
    EXPECT_EQ(find(b, 0, inset), ink);

    // While designing, a disabled button is painted as enabled.
    b->SetDesigning(true);
    b->SetEnabled(false);
    pump();
    EXPECT_EQ(find(b, 0, inset), ink);
    EXPECT_TRUE(find(b, grey, inset).empty());
}

TEST_F(ColorButtonTest, FocusRectangleSitsSpacingInsideTheBevelAndGoesWithTheFocus) {
    TestButton* b = add(10, 10, 80, 40);
    TestButton* other = add(10, 60, 80, 40);
    b->SetBevelSize(2);
    b->SetSpacing(3);
    show();
    const uint32_t face = rgb(192, 192, 192), inverted = face ^ 0xFFFFFF;
    EXPECT_TRUE(find(b, inverted).empty());
    // The events come after the button has taken the new state.
    std::vector<std::string> log;
    b->OnEnter = [&](TObject*) { log.push_back(std::string("enter ") + (b->Focused() ? "focused" : "not")); };
    b->OnExit = [&](TObject*) { log.push_back(std::string("exit ") + (b->Focused() ? "focused" : "not")); };

    b->SetFocus();
    pump();
    ASSERT_TRUE(b->Focused());
    // (2 + 3 - 1, ..., 80 - 2 - 3 + 1, 40 - 2 - 3 + 1): a dotted frame on 4..75 x 4..35.
    const Points dots = find(b, inverted);
    EXPECT_EQ(bounds_of(dots), Rect(4, 4, 76, 36));
    for (auto [x, y] : dots) EXPECT_TRUE(x == 4 || x == 75 || y == 4 || y == 35) << x << "," << y;
    for (int x = 4; x < 75; ++x) EXPECT_NE(px(b, x, 4) == inverted, px(b, x + 1, 4) == inverted) << x;
    for (int y = 4; y < 35; ++y) EXPECT_NE(px(b, 4, y) == inverted, px(b, 4, y + 1) == inverted) << y;

    b->SetStyle(b->Style() & ~ButtonStyleBit(bsShowFocus));
    EXPECT_TRUE(find(b, inverted).empty());
    b->SetStyle(b->Style() | ButtonStyleBit(bsShowFocus));
    EXPECT_FALSE(find(b, inverted).empty());

    other->SetFocus();
    pump();
    EXPECT_FALSE(b->Focused());
    EXPECT_TRUE(find(b, inverted).empty());
    EXPECT_TRUE(other->Focused());
    EXPECT_FALSE(find(other, inverted).empty());
    EXPECT_EQ(log, (std::vector<std::string>{"enter focused", "exit not"}));
}

TEST_F(ColorButtonTest, AHandlerMayFreeTheButton) {
    TestButton* b = add(10, 10, 60, 30);
    show();
    b->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { delete b; };
    const TPoint p = b->ClientToScreen(Point(30, 15));
    win32::post_mouse_button(win32::MouseButton::Left, true, p.x, p.y);
    win32::post_mouse_button(win32::MouseButton::Left, false, p.x, p.y);
    pump();
    EXPECT_EQ(form->ControlCount(), 0);

    TestButton* c = add(10, 10, 60, 30);
    c->OnClick = [&](TObject*) { delete c; };
    pump();
    c->SetFocus();
    pump();
    win32::post_key(VK_SPACE, true);
    win32::post_key(VK_SPACE, false);
    pump();
    EXPECT_EQ(form->ControlCount(), 0);
}

// --- Form text -----------------------------------------------------------------------

TEST_F(ColorButtonTest, FormTextKeepsThePropertiesAndLeavesOutDefaults) {
    form->SetName("Form1");
    TestButton* plain = add(10, 10, 75, 25);
    plain->SetName("ColorButton1");
    plain->SetColor(clBtnFace);
    TestButton* b = add(10, 50, 60, 30);
    b->SetName("ColorButton2");
    b->SetAlignment(alTopLeft);
    b->SetBevelStyle(bbLowered);
    b->SetBevelSize(4);
    b->SetSpacing(0);
    b->SetStyle(ButtonStyleBit(bsAutoSize) | ButtonStyleBit(bsStretch));
    b->SetCaption("&Exit");
    fill_picture(b->Picture(), 3, 2, clRed);
    b->Picture()->Bitmap()->Canvas()->SetPixels(2, 1, clLime);

    const std::string text = WriteComponentToText(form.get());
    const size_t first = text.find("object ColorButton1: TColorButton");
    const size_t second = text.find("object ColorButton2: TColorButton");
    ASSERT_NE(first, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    const std::string plain_text = text.substr(first, second - first);
    for (const char* name : {"Alignment", "BevelStyle", "BevelSize", "Color", "Spacing", "Style", "Cursor",
                             "DragCursor", "DragMode", "Enabled", "Visible", "ShowHint", "Caption"})
        EXPECT_EQ(plain_text.find(std::string("  ") + name + " ="), std::string::npos) << name << "\n" << plain_text;
    EXPECT_NE(plain_text.find("TabStop = True"), std::string::npos) << plain_text;

    const std::string b_text = text.substr(second);
    const char* const lines[] = {"Alignment = alTopLeft",           "BevelStyle = bbLowered",
                                 "BevelSize = 4",                   "Caption = '&Exit'",
                                 "Color = clSilver",                "Picture.Data",
                                 "Spacing = 0",                     "Style = [bsAutoSize, bsStretch]",
                                 "TabStop = True"};
    size_t at = 0;
    for (const char* line : lines) {
        const size_t found = b_text.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << " in order\n" << b_text;
        if (found != std::string::npos) at = found;
    }

    TForm copy(nullptr);
    ReadComponentFromText(text, &copy);
    auto* r = dynamic_cast<TColorButton*>(copy.FindComponent("ColorButton2"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Alignment(), alTopLeft);
    EXPECT_EQ(r->BevelStyle(), bbLowered);
    EXPECT_EQ(r->BevelSize(), 4);
    EXPECT_EQ(r->Spacing(), 0);
    EXPECT_EQ(r->Style(), ButtonStyleBit(bsAutoSize) | ButtonStyleBit(bsStretch));
    EXPECT_EQ(r->Color(), clSilver);
    EXPECT_EQ(r->Caption(), "&Exit");
    EXPECT_TRUE(r->TabStop());
    ASSERT_EQ(r->Picture()->Width(), 3);
    ASSERT_EQ(r->Picture()->Height(), 2);
    EXPECT_EQ(r->Picture()->Bitmap()->Canvas()->Pixels(2, 1), clLime);
    EXPECT_EQ(r->Picture()->Bitmap()->Canvas()->Pixels(0, 0), clRed);
    auto* p = dynamic_cast<TColorButton*>(copy.FindComponent("ColorButton1"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Color(), clBtnFace);
    EXPECT_EQ(p->Style(), ButtonStyleBit(bsCenter) | ButtonStyleBit(bsShowFocus) | ButtonStyleBit(bsShowKey));
    EXPECT_EQ(WriteComponentToText(&copy), text);
}

TEST_F(ColorButtonTest, ReadDisabledIsDisabledAndHugeSizesFromATextStillPaint) {
    form->SetName("Form1");
    ReadComponentFromText("object Form1: TForm\n"
                          "  object B1: TColorButton\n"
                          "    Left = 10\n    Top = 10\n    Width = 50\n    Height = 20\n"
                          "    Enabled = False\n"
                          "  end\n"
                          "  object B2: TColorButton\n"
                          "    Left = 70\n    Top = 10\n    Width = 50\n    Height = 20\n"
                          "    BevelSize = 2147483647\n    Spacing = 2147483647\n"
                          "    Style = [bsAutoSize, bsStretch, bsShowKey]\n"
                          "    Caption = 'A&'\n"
                          "  end\n"
                          "end\n",
                          form.get());
    auto* b1 = dynamic_cast<TColorButton*>(form->FindComponent("B1"));
    auto* b2 = dynamic_cast<TColorButton*>(form->FindComponent("B2"));
    ASSERT_TRUE(b1 && b2);
    EXPECT_EQ(b1->State(), TButtonState::Disabled);
    EXPECT_EQ(b2->BevelSize(), 2147483647);
    fill_picture(b2->Picture(), 4, 4, clRed);
    show();
    EXPECT_EQ(b1->State(), TButtonState::Disabled);
    // Sized to the picture and the bevel as far as a window can go; the
    // paint finished and left bevel colours at the corner.
    EXPECT_GT(b2->Width(), 1000000);
    EXPECT_GT(b2->Height(), 1000000);
    const COLORREF face = ColorToRGB(clBtnFace);
    const uint32_t dark = rgb(std::max(GetRValue(face) - 64, 0), std::max(GetGValue(face) - 64, 0),
                              std::max(GetBValue(face) - 64, 0));
    const uint32_t light = rgb(std::min(GetRValue(face) + 64, 255), std::min(GetGValue(face) + 64, 255),
                               std::min(GetBValue(face) + 64, 255));
    EXPECT_TRUE(px(b2, 0, 0) == dark || px(b2, 0, 0) == light) << std::hex << px(b2, 0, 0);
}

}  // namespace
