// Drawing objects checked by their pixels: canvas operations on DIB-section
// bitmaps, colours, tool handles, the BMP format (round trips, hostile
// files, an outside reader) and pictures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "graphics.h"
#include "win32/gui_ext.h"
#include "ui_support.h"

namespace {

using namespace ui_test;

constexpr TColor kPen = clBlack;
constexpr TColor kBrush = clBlue;

class Graphics : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(win32::reset_screen({1024, 768, 32})); }
};

// A white bitmap of the screen's depth with a black pen and a blue brush.
std::unique_ptr<TBitmap> white_bitmap(int w, int h) {
    auto b = std::make_unique<TBitmap>();
    b->SetSize(w, h);
    TCanvas* c = b->Canvas();
    c->Brush()->SetColor(clWhite);
    c->FillRect(Rect(0, 0, w, h));
    c->Brush()->SetColor(kBrush);
    c->Pen()->SetColor(kPen);
    return b;
}

// The top-left corner as rows: '#' pen, 'o' brush, '.' white, '?' other.
std::vector<std::string> picture(TCanvas* c, int w, int h) {
    std::vector<std::string> rows;
    for (int y = 0; y < h; ++y) {
        std::string row;
        for (int x = 0; x < w; ++x) {
            const TColor p = c->Pixels(x, y);
            row += p == kPen ? '#' : p == kBrush ? 'o' : p == clWhite ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

struct DrawCase {
    const char* name;
    std::function<void(TCanvas*)> draw;
    std::vector<std::string> expect;
};

TEST_F(Graphics, CanvasOperationsSetExactlyTheirPixels) {
    const std::vector<DrawCase> cases = {
        {"rectangle: pen frame, brush inside, right/bottom excluded",
         [](TCanvas* c) { c->Rectangle(1, 1, 6, 5); },
         {"........", ".#####..", ".#ooo#..", ".#ooo#..", ".#####..", "........"}},
        {"clear brush leaves the inside",
         [](TCanvas* c) {
             c->Brush()->SetStyle(bsClear);
             c->Rectangle(1, 1, 5, 4);
         },
         {"......", ".####.", ".#..#.", ".####.", "......"}},
        {"fill excludes right and bottom, no pen",
         [](TCanvas* c) { c->FillRect(Rect(1, 1, 4, 3)); },
         {"......", ".ooo..", ".ooo..", "......"}},
        {"frame is one pixel in the brush colour",
         [](TCanvas* c) { c->FrameRect(Rect(1, 1, 5, 5)); },
         {"......", ".oooo.", ".o..o.", ".o..o.", ".oooo.", "......"}},
        {"line excludes its end pixel and moves the pen",
         [](TCanvas* c) {
             c->MoveTo(1, 1);
             c->LineTo(5, 1);
             c->LineTo(5, 3);
         },
         {".......", ".#####.", ".....#.", ".......", "......."}},
        {"polyline excludes its last point",
         [](TCanvas* c) {
             const TPoint pts[] = {{0, 0}, {3, 0}, {3, 3}};
             c->Polyline(pts);
         },
         {"####", "...#", "...#", "...."}},
        {"polygon closes itself and fills",
         [](TCanvas* c) {
             const TPoint pts[] = {{1, 1}, {5, 1}, {5, 4}, {1, 4}};
             c->Polygon(pts);
         },
         {".......", ".#####.", ".#ooo#.", ".#ooo#.", ".#####.", "......."}},
        {"clear pen: the brush alone, one pixel short right and bottom",
         [](TCanvas* c) {
             c->Pen()->SetStyle(psClear);
             c->Rectangle(1, 1, 6, 5);
         },
         {"......", ".oooo.", ".oooo.", ".oooo.", "......"}},
        {"pixels", [](TCanvas* c) { c->SetPixels(2, 1, kBrush); }, {"....", "..o.", "...."}},
    };
    for (const DrawCase& k : cases) {
        SCOPED_TRACE(k.name);
        auto b = white_bitmap(16, 16);
        k.draw(b->Canvas());
        const int w = int(k.expect[0].size()), h = int(k.expect.size());
        const std::vector<std::string> got = picture(b->Canvas(), w, h);
        EXPECT_EQ(got, k.expect);
    }
}

TEST_F(Graphics, EllipseIsInsideItsBoxAndFilled) {
    auto b = white_bitmap(16, 16);
    TCanvas* c = b->Canvas();
    c->Ellipse(0, 0, 9, 9);
    EXPECT_EQ(c->Pixels(4, 4), kBrush);  // centre
    EXPECT_EQ(c->Pixels(4, 0), kPen);    // top and left of the outline
    EXPECT_EQ(c->Pixels(0, 4), kPen);
    EXPECT_EQ(c->Pixels(0, 0), clWhite);  // corners stay outside
    EXPECT_EQ(c->Pixels(8, 8), clWhite);
    EXPECT_EQ(c->Pixels(9, 4), clWhite);  // right edge excluded
}

TEST_F(Graphics, XorPenDrawnTwiceRestoresAndNotPenInverts) {
    auto b = white_bitmap(12, 4);
    TCanvas* c = b->Canvas();
    c->FillRect(Rect(0, 0, 6, 4));  // half blue, half white
    const auto before = picture(c, 12, 4);
    c->Pen()->SetColor(clWhite);
    c->Pen()->SetMode(pmXor);
    for (int pass = 0; pass < 2; ++pass) {
        c->MoveTo(0, 1);
        c->LineTo(12, 1);
        if (pass == 0) {
            EXPECT_EQ(c->Pixels(2, 1), TColor(0x00FFFF));  // blue ^ white
            EXPECT_EQ(c->Pixels(8, 1), clBlack);           // white ^ white
        }
    }
    EXPECT_EQ(picture(c, 12, 4), before);
    c->Pen()->SetMode(pmNot);
    c->MoveTo(0, 2);
    c->LineTo(12, 2);
    EXPECT_EQ(c->Pixels(8, 2), clBlack);
    EXPECT_EQ(c->Pixels(2, 2), TColor(0x00FFFF));
    c->Pen()->SetMode(pmCopy);
    c->MoveTo(0, 3);
    c->LineTo(12, 3);
    EXPECT_EQ(c->Pixels(8, 3), clWhite);  // the pen's own colour again
}

TEST_F(Graphics, FocusRectangleTogglesDottedFrame) {
    auto b = white_bitmap(10, 10);
    TCanvas* c = b->Canvas();
    const auto before = picture(c, 10, 10);
    c->DrawFocusRect(Rect(1, 1, 9, 9));
    const auto once = picture(c, 10, 10);
    EXPECT_NE(once, before);
    int changed = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool frame = (x == 1 || x == 8 || y == 1 || y == 8) && x >= 1 && x <= 8 && y >= 1 && y <= 8;
            if (once[y][x] != '.') {
                ++changed;
                EXPECT_TRUE(frame) << x << "," << y;
            }
        }
    // Dotted: about half of the 28 frame pixels.
    EXPECT_GE(changed, 12);
    EXPECT_LE(changed, 16);
    c->DrawFocusRect(Rect(1, 1, 9, 9));
    EXPECT_EQ(picture(c, 10, 10), before);
}

TEST_F(Graphics, TextIsOpaqueWithSolidBrushAndTransparentWithClear) {
    for (bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "clear brush" : "solid brush");
        auto b = white_bitmap(80, 30);
        TCanvas* c = b->Canvas();
        c->Font()->SetColor(clBlack);
        c->Font()->SetHeight(-16);
        if (clear) c->Brush()->SetStyle(bsClear);
        c->TextOut(5, 5, "Hi W");
        const SIZE size = c->TextExtent("Hi W");
        ASSERT_GT(size.cx, 0);
        ASSERT_GT(size.cy, 0);
        EXPECT_EQ(c->PenPos().x, 5 + size.cx);
        int ink = 0, background = 0, white = 0;
        for (int y = 5; y < 5 + size.cy; ++y)
            for (int x = 5; x < 5 + size.cx; ++x) {
                const TColor p = c->Pixels(x, y);
                ink += p == clBlack;
                background += p == kBrush;
                white += p == clWhite;
            }
        EXPECT_GT(ink, 0);
        if (clear) {
            EXPECT_EQ(background, 0);
            EXPECT_GT(white, 0);
        } else {
            EXPECT_GT(background, 0);
            EXPECT_EQ(white, 0);
        }
        EXPECT_EQ(c->Pixels(4, 5), clWhite);  // nothing left of the text
    }
}

TEST_F(Graphics, FontHandleIsRemadeAfterAChange) {
    auto b = white_bitmap(8, 8);
    TCanvas* c = b->Canvas();
    c->Font()->SetHeight(-11);
    const int small = c->TextWidth("Hello, world");
    const int small_h = c->TextHeight("Hello, world");
    c->Font()->SetHeight(-24);
    const int large = c->TextWidth("Hello, world");
    EXPECT_GT(large, small);
    EXPECT_GT(c->TextHeight("Hello, world"), small_h);
    c->Font()->SetSize(8);  // 8 points at 96 dpi is 11 pixels
    EXPECT_EQ(c->Font()->Height(), -11);
    EXPECT_EQ(c->TextWidth("Hello, world"), small);
}

TEST_F(Graphics, ToolsFireOnChangeOnlyOnRealChanges) {
    TFont font;
    TPen pen;
    TBrush brush;
    int changes = 0;
    auto count = [&](TObject*) { ++changes; };
    font.OnChange = count;
    pen.OnChange = count;
    brush.OnChange = count;
    struct Step {
        std::function<void()> act;
        int expect;
    };
    const std::vector<Step> steps = {
        {[&] { font.SetHeight(-11); }, 0},  // the default already
        {[&] { font.SetHeight(-13); }, 1},
        {[&] { font.SetName("MS Sans Serif"); }, 0},
        {[&] { font.SetName("Arial"); }, 1},
        {[&] { font.SetStyle(1u << fsBold); }, 1},
        {[&] { font.SetColor(clRed); }, 1},
        {[&] { pen.SetWidth(1); }, 0},
        {[&] { pen.SetWidth(3); }, 1},
        {[&] { pen.SetMode(pmXor); }, 1},
        {[&] { pen.SetStyle(psDot); }, 1},
        {[&] { brush.SetColor(clWhite); }, 0},
        {[&] { brush.SetStyle(bsClear); }, 1},
        {[&] { brush.SetStyle(bsClear); }, 0},
        {[&] { brush.SetColor(clWhite); }, 1},  // same colour, but solid again
        {[&] { brush.SetColor(clWhite); }, 0},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        changes = 0;
        steps[i].act();
        EXPECT_EQ(changes, steps[i].expect) << "step " << i;
    }
    EXPECT_EQ(brush.Style(), bsSolid);
    TFont copy;
    copy.Assign(&font);
    EXPECT_EQ(copy.Name(), "Arial");
    EXPECT_EQ(copy.Height(), -13);
    EXPECT_EQ(copy.Style(), 1u << fsBold);
    EXPECT_EQ(copy.Color(), clRed);
    EXPECT_THROW(copy.Assign(&pen), Exception);
}

TEST_F(Graphics, SystemColoursResolveThroughTheSystem) {
    EXPECT_EQ(ColorToRGB(clBtnFace), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(ColorToRGB(clInfoBk), GetSysColor(COLOR_INFOBK));
    EXPECT_EQ(ColorToRGB(clRed), RGB(255, 0, 0));
    EXPECT_EQ(ColorToRGB(0x02000000 | 0x123456), 0x02123456u);  // palette-relative kept

    auto b = white_bitmap(4, 4);
    b->Canvas()->Brush()->SetColor(clBtnShadow);
    b->Canvas()->FillRect(Rect(0, 0, 4, 4));
    EXPECT_EQ(COLORREF(b->Canvas()->Pixels(1, 1)), GetSysColor(COLOR_BTNSHADOW));

    EXPECT_EQ(IdentOf(&ColorType, clBtnFace), "clBtnFace");
    EXPECT_EQ(IdentOf(&ColorType, clWhite), "clWhite");
    EXPECT_EQ(IdentOf(&ColorType, 0x123456), "");
    EXPECT_EQ(ValueOf(&ColorType, "clinfobk"), clInfoBk);
    EXPECT_EQ(ValueOf(&ColorType, "clWindowText"), clWindowText);
}

TEST_F(Graphics, PublishedDefaultsAreTheConstructedValues) {
    TFont font;
    TPen pen;
    TBrush brush;
    struct Prop {
        TPersistent* object;
        const char* name;
        int64_t value;
    };
    const std::vector<Prop> props = {
        {&font, "Charset", DEFAULT_CHARSET}, {&font, "Color", clWindowText}, {&font, "Height", -11},
        {&font, "Pitch", fpDefault},         {&font, "Size", 8},             {&font, "Style", 0},
        {&pen, "Color", clBlack},            {&pen, "Mode", pmCopy},         {&pen, "Style", psSolid},
        {&pen, "Width", 1},                  {&brush, "Color", clWhite},     {&brush, "Style", bsSolid},
    };
    for (const Prop& p : props) {
        SCOPED_TRACE(std::string(p.object->ClassName()) + "." + p.name);
        const PropInfo* info = p.object->GetClassInfo()->FindProp(p.name);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->get_ord(p.object), p.value);
        ASSERT_TRUE(info->default_ord.has_value());
        EXPECT_EQ(*info->default_ord, p.value);
    }
    const PropInfo* name = font.GetClassInfo()->FindProp("Name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->get_str(&font), "MS Sans Serif");
    name->set_str(&font, "Courier New");
    EXPECT_EQ(font.Name(), "Courier New");
    EXPECT_EQ(IdentOf(font.GetClassInfo()->FindProp("Style")->type, fsItalic), "fsItalic");
    for (const char* cls : {"TFont", "TPen", "TBrush", "TBitmap", "TPicture"})
        EXPECT_NE(FindClass(cls), nullptr) << cls;
}

TEST_F(Graphics, PatternBrushRepeatsItsBitmap) {
    TBitmap pattern;
    pattern.SetSize(8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) pattern.Canvas()->SetPixels(x, y, (x + y) % 2 ? clRed : clLime);
    pattern.Canvas()->SetPixels(3, 2, clBlue);
    auto b = white_bitmap(20, 20);
    TCanvas* c = b->Canvas();
    c->Brush()->SetBitmap(&pattern);
    c->FillRect(Rect(0, 0, 20, 20));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const TColor want = (x % 8 == 3 && y % 8 == 2) ? clBlue : (x + y) % 2 ? clRed : clLime;
            ASSERT_EQ(c->Pixels(x, y), want) << x << "," << y;
        }
    c->Brush()->SetBitmap(nullptr);
    c->FillRect(Rect(0, 0, 2, 2));
    EXPECT_EQ(c->Pixels(0, 0), kBrush);
}

TEST_F(Graphics, CanvasGivesTheDcItsObjectsBack) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ own_brush = CreateSolidBrush(RGB(1, 2, 3));
    HGDIOBJ own_pen = CreatePen(PS_SOLID, 1, RGB(4, 5, 6));
    HGDIOBJ stock_brush = SelectObject(dc, own_brush);
    HGDIOBJ stock_pen = SelectObject(dc, own_pen);
    SetROP2(dc, R2_NOT);
    {
        TCanvas c;
        c.SetHandle(dc);
        EXPECT_EQ(GetROP2(dc), R2_COPYPEN);
        c.Pen()->SetMode(pmXor);
        EXPECT_EQ(GetROP2(dc), R2_XORPEN);
        c.Pen()->SetColor(clRed);  // reselected while in the DC
        c.Brush()->SetColor(clRed);
        c.SetHandle(nullptr);
        EXPECT_EQ(GetROP2(dc), R2_NOT);
        EXPECT_EQ(SelectObject(dc, own_brush), own_brush);
        EXPECT_EQ(SelectObject(dc, own_pen), own_pen);
        c.SetHandle(dc);
    }  // the destructor gives them back too
    EXPECT_EQ(SelectObject(dc, stock_brush), own_brush);
    EXPECT_EQ(SelectObject(dc, stock_pen), own_pen);
    EXPECT_TRUE(DeleteObject(own_brush));
    EXPECT_TRUE(DeleteObject(own_pen));
    DeleteDC(dc);
}

// A control-like canvas that finds its DC when first drawn on.
class OnDemandCanvas : public TCanvas {
public:
    explicit OnDemandCanvas(HDC dc) : dc_(dc) {}
    ~OnDemandCanvas() override { SetHandle(nullptr); }
    int created = 0;

protected:
    void CreateHandle() override {
        ++created;
        SetHandle(dc_);
    }

private:
    HDC dc_;
};

TEST_F(Graphics, CanvasWithoutDcAsksForOneAndNotifiesAroundDrawing) {
    auto b = white_bitmap(8, 8);
    OnDemandCanvas c(b->Canvas()->Handle());
    std::string events;
    c.OnChanging = [&](TObject*) { events += '<'; };
    c.OnChange = [&](TObject*) { events += '>'; };
    c.Brush()->SetColor(clRed);
    c.FillRect(Rect(0, 0, 2, 2));
    c.FillRect(Rect(2, 2, 3, 3));
    EXPECT_EQ(c.created, 1);
    EXPECT_EQ(events, "<><>");
    EXPECT_EQ(b->Canvas()->Pixels(1, 1), clRed);

    TCanvas bare;
    EXPECT_THROW(bare.FillRect(Rect(0, 0, 1, 1)), EInvalidOperation);
}

TEST_F(Graphics, DrawStretchDrawAndCopyRectPlaceTheImage) {
    TBitmap src;
    src.SetSize(2, 2);
    const TColor q[4] = {clRed, clLime, clBlue, clYellow};
    for (int i = 0; i < 4; ++i) src.Canvas()->SetPixels(i % 2, i / 2, q[i]);

    auto b = white_bitmap(10, 10);
    TCanvas* c = b->Canvas();
    c->Draw(3, 4, &src);
    EXPECT_EQ(c->Pixels(3, 4), clRed);
    EXPECT_EQ(c->Pixels(4, 4), clLime);
    EXPECT_EQ(c->Pixels(3, 5), clBlue);
    EXPECT_EQ(c->Pixels(4, 5), clYellow);
    EXPECT_EQ(c->Pixels(2, 4), clWhite);
    EXPECT_EQ(c->Pixels(5, 5), clWhite);
    EXPECT_EQ(c->Pixels(3, 6), clWhite);

    c->StretchDraw(Rect(0, 0, 4, 4), &src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(c->Pixels(x, y), q[(y / 2) * 2 + x / 2]) << x << "," << y;

    c->SetCopyMode(NOTSRCCOPY);
    c->Draw(6, 6, &src);
    EXPECT_EQ(c->Pixels(6, 6), TColor(0xFFFF00));  // not red
    c->SetCopyMode(SRCCOPY);

    auto d = white_bitmap(4, 4);
    d->Canvas()->CopyRect(Rect(0, 0, 2, 1), c, Rect(0, 0, 4, 2));
    EXPECT_EQ(d->Canvas()->Pixels(0, 0), clRed);
    EXPECT_EQ(d->Canvas()->Pixels(1, 0), clLime);
    EXPECT_EQ(d->Canvas()->Pixels(0, 1), clWhite);

    TBitmap empty;
    c->Draw(0, 0, &empty);  // nothing to draw, no failure
    c->Draw(0, 0, nullptr);
}

TEST_F(Graphics, ResizingKeepsTheOverlapAndWhitensTheRest) {
    TBitmap b;
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.SetSize(4, 4);
    b.Canvas()->SetPixels(1, 1, clRed);
    b.Canvas()->SetPixels(3, 3, clBlue);
    b.SetSize(6, 3);
    EXPECT_EQ(b.Width(), 6);
    EXPECT_EQ(b.Height(), 3);
    EXPECT_EQ(b.Canvas()->Pixels(1, 1), clRed);
    EXPECT_EQ(b.Canvas()->Pixels(5, 2), clWhite);
    EXPECT_EQ(b.Canvas()->Pixels(0, 0), clWhite);  // a new bitmap starts white too
    b.SetHeight(5);
    EXPECT_EQ(b.Canvas()->Pixels(3, 3), clWhite);  // cut off before, not remembered
    EXPECT_GT(changes, 0);
    b.SetSize(0, 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_THROW(b.SetSize(100000, 100000), EInvalidGraphic);
    EXPECT_TRUE(b.Empty());
}

// --- BMP files built in the test ---------------------------------------------

struct BmpSpec {
    int width, height, bpp;
    DWORD compression = BI_RGB;
    bool top_down = false;
    std::vector<uint32_t> masks = {};
};

void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

// Pixel (x, y) gets palette index (x + 2y) mod colours, or a colour made
// from x and y for direct formats, written as each format stores it.
uint32_t test_colour(int x, int y) { return RGB(40 * x + 10, 50 * y + 20, 200 - 30 * x); }

std::vector<uint8_t> make_bmp(const BmpSpec& s) {
    const int colours = s.bpp <= 8 ? 1 << s.bpp : 0;
    const int64_t stride = ((int64_t(s.width) * s.bpp + 31) / 32) * 4;
    const uint32_t masks = s.compression == BI_BITFIELDS ? 12 : 0;
    const uint32_t off = 14 + 40 + masks + uint32_t(colours) * 4;
    std::vector<uint8_t> v;
    put16(v, 0x4D42);
    put32(v, off + uint32_t(stride * s.height));
    put32(v, 0);
    put32(v, off);
    put32(v, 40);
    put32(v, uint32_t(s.width));
    put32(v, uint32_t(s.top_down ? -s.height : s.height));
    put16(v, 1);
    put16(v, uint16_t(s.bpp));
    put32(v, s.compression);
    put32(v, uint32_t(stride * s.height));
    put32(v, 0);
    put32(v, 0);
    put32(v, 0);
    put32(v, 0);
    for (uint32_t m : s.masks) put32(v, m);
    for (int i = 0; i < colours; ++i) {  // entry i: a distinct colour
        v.push_back(uint8_t(i * 37));       // blue
        v.push_back(uint8_t(255 - i * 11));  // green
        v.push_back(uint8_t(i * 5 + 3));    // red
        v.push_back(0);
    }
    std::vector<uint8_t> rows(size_t(stride * s.height), 0);
    for (int fy = 0; fy < s.height; ++fy) {
        const int y = s.top_down ? fy : s.height - 1 - fy;  // image row of file row fy
        uint8_t* r = rows.data() + fy * stride;
        for (int x = 0; x < s.width; ++x) {
            const COLORREF c = test_colour(x, y);
            const int idx = colours ? (x + 2 * y) % colours : 0;
            switch (s.bpp) {
            case 1: r[x / 8] |= uint8_t(idx << (7 - x % 8)); break;
            case 4: r[x / 2] |= uint8_t(idx << (x % 2 ? 0 : 4)); break;
            case 8: r[x] = uint8_t(idx); break;
            case 16: {
                uint16_t p;
                if (s.compression == BI_BITFIELDS)  // 5-6-5
                    p = uint16_t(((GetRValue(c) >> 3) << 11) | ((GetGValue(c) >> 2) << 5) | (GetBValue(c) >> 3));
                else
                    p = uint16_t(((GetRValue(c) >> 3) << 10) | ((GetGValue(c) >> 3) << 5) | (GetBValue(c) >> 3));
                r[2 * x] = uint8_t(p);
                r[2 * x + 1] = uint8_t(p >> 8);
                break;
            }
            case 24:
                r[3 * x] = GetBValue(c);
                r[3 * x + 1] = GetGValue(c);
                r[3 * x + 2] = GetRValue(c);
                break;
            case 32:
                r[4 * x] = GetBValue(c);
                r[4 * x + 1] = GetGValue(c);
                r[4 * x + 2] = GetRValue(c);
                break;
            }
        }
    }
    v.insert(v.end(), rows.begin(), rows.end());
    return v;
}

// The colour the file means at (x, y), as the format can hold it.
TColor expected_colour(const BmpSpec& s, int x, int y) {
    if (s.bpp <= 8) {
        const int i = (x + 2 * y) % (1 << s.bpp);
        return TColor(RGB(uint8_t(i * 5 + 3), uint8_t(255 - i * 11), uint8_t(i * 37)));
    }
    const COLORREF c = test_colour(x, y);
    if (s.bpp == 16) {
        auto widen = [](int v, int bits) { return (v << (8 - bits)) | (v >> (2 * bits - 8)); };
        const bool g6 = s.compression == BI_BITFIELDS;
        return TColor(RGB(widen(GetRValue(c) >> 3, 5), widen(GetGValue(c) >> (g6 ? 2 : 3), g6 ? 6 : 5),
                          widen(GetBValue(c) >> 3, 5)));
    }
    return TColor(c);
}

std::string bytes_of(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

void load(TBitmap& b, const std::vector<uint8_t>& file) {
    std::istringstream in(bytes_of(file));
    b.LoadFromStream(in);
}

std::string save(const TBitmap& b) {
    std::ostringstream out;
    b.SaveToStream(out);
    return out.str();
}

const std::vector<BmpSpec> depth_cases = {
    {5, 3, 1}, {5, 3, 4}, {5, 3, 8}, {5, 3, 16}, {5, 3, 16, BI_BITFIELDS, false, {0xF800, 0x07E0, 0x001F}},
    {5, 3, 24}, {5, 3, 32}, {3, 4, 24, BI_RGB, true}, {7, 2, 8, BI_RGB, true},
};

std::string spec_name(const BmpSpec& s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) + "x" + std::to_string(s.bpp) +
           (s.compression == BI_BITFIELDS ? " bitfields" : "") + (s.top_down ? " top-down" : "");
}

void expect_pixels(TBitmap& b, const BmpSpec& s) {
    ASSERT_EQ(b.Width(), s.width);
    ASSERT_EQ(b.Height(), s.height);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            EXPECT_EQ(b.Canvas()->Pixels(x, y), expected_colour(s, x, y)) << x << "," << y;
}

TEST_F(Graphics, BmpLoadsAndRoundTripsAtEveryDepth) {
    for (const BmpSpec& s : depth_cases) {
        SCOPED_TRACE(spec_name(s));
        TBitmap b;
        load(b, make_bmp(s));
        expect_pixels(b, s);
        if (s.bpp == 8) {
            EXPECT_NE(b.Palette(), nullptr);
        }
        const std::string saved = save(b);
        ASSERT_GE(saved.size(), 54u);
        EXPECT_EQ(saved.substr(0, 2), "BM");
        TBitmap again;
        std::istringstream in(saved);
        again.LoadFromStream(in);
        expect_pixels(again, s);
        EXPECT_EQ(save(again), saved);  // the depth and table are kept
    }
}

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

TEST_F(Graphics, SavedBmpIsReadByAnOutsideReaderAndItsBmpByUs) {
    if (access("/usr/bin/convert", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/convert";
    char dir_template[] = "/tmp/fw_graphics_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    for (const BmpSpec& s : {BmpSpec{5, 3, 8}, BmpSpec{5, 3, 24}, BmpSpec{5, 3, 32}, BmpSpec{5, 3, 4}}) {
        SCOPED_TRACE(spec_name(s));
        TBitmap b;
        load(b, make_bmp(s));
        const std::string path = dir + "/out.bmp";
        b.SaveToFile(path);  // a host path goes through unchanged
        const std::string txt = run("/usr/bin/convert " + path + " txt:- 2>&1");
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                const TColor c = expected_colour(s, x, y);
                char hex[64];
                std::snprintf(hex, sizeof hex, "%d,%d: (%d,%d,%d", x, y, GetRValue(c), GetGValue(c), GetBValue(c));
                EXPECT_NE(txt.find(hex), std::string::npos) << hex << "\n" << txt;
            }
    }
    // And the other way: its BMP through our loader.
    const std::string in = dir + "/in.bmp";
    run("/usr/bin/convert -size 3x2 xc:'rgb(10,20,30)' -fill 'rgb(200,100,50)' -draw 'point 2,1' BMP3:" + in);
    TBitmap b;
    b.LoadFromFile(in);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Canvas()->Pixels(0, 0), TColor(RGB(10, 20, 30)));
    EXPECT_EQ(b.Canvas()->Pixels(2, 1), TColor(RGB(200, 100, 50)));
    std::remove(in.c_str());
    std::remove((dir + "/out.bmp").c_str());
    rmdir(dir.c_str());
}

void set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}
void set16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}

TEST_F(Graphics, MalformedBmpIsRefusedAndTheBitmapKept) {
    const std::vector<uint8_t> good = make_bmp({4, 4, 8});  // 1078 bytes: 54 + 1024 + 16... padded
    const std::vector<uint8_t> good16 = make_bmp({4, 2, 16, BI_BITFIELDS, false, {0xF800, 0x07E0, 0x001F}});
    using Mutation = std::function<std::vector<uint8_t>()>;
    auto with = [&](std::function<void(std::vector<uint8_t>&)> f, const std::vector<uint8_t>& base) {
        return Mutation([f, base] {
            auto v = base;
            f(v);
            return v;
        });
    };
    auto cut = [&](size_t n) { return Mutation([n, good] { return std::vector<uint8_t>(good.begin(), good.begin() + n); }); };
    const std::vector<std::pair<const char*, Mutation>> cases = {
        {"empty", cut(0)},
        {"file header only", cut(14)},
        {"half an info header", cut(30)},
        {"colour table cut", cut(54 + 500)},
        {"last pixel byte missing", cut(good.size() - 1)},
        {"not BM", with([](auto& v) { v[0] = 'X'; }, good)},
        {"huge width", with([](auto& v) { set32(v, 18, 0x7FFFFFFF); }, good)},
        {"huge height", with([](auto& v) { set32(v, 22, 0x40000000); }, good)},
        {"height INT_MIN", with([](auto& v) { set32(v, 22, 0x80000000u); }, good)},
        {"zero width", with([](auto& v) { set32(v, 18, 0); }, good)},
        {"negative width", with([](auto& v) { set32(v, 18, uint32_t(-4)); }, good)},
        {"zero height", with([](auto& v) { set32(v, 22, 0); }, good)},
        {"area too large", with([](auto& v) { set32(v, 18, 30000), set32(v, 22, 30000); }, good)},
        {"pixel offset past the end", with([](auto& v) { set32(v, 10, 0xFFFFFFF0u); }, good)},
        {"pixel offset inside the header", with([](auto& v) { set32(v, 10, 20); }, good)},
        {"pixel offset inside the table", with([](auto& v) { set32(v, 10, 54 + 100); }, good)},
        {"pixel offset leaves too few bytes", with([](auto& v) { set32(v, 10, uint32_t(v.size() - 8)); }, good)},
        {"palette overflow", with([](auto& v) { set32(v, 46, 257); }, good)},
        {"palette count huge", with([](auto& v) { set32(v, 46, 0xFFFFFFFFu); }, good)},
        {"bit count 7", with([](auto& v) { set16(v, 28, 7); }, good)},
        {"bit count 0", with([](auto& v) { set16(v, 28, 0); }, good)},
        {"two planes", with([](auto& v) { set16(v, 26, 2); }, good)},
        {"RLE8", with([](auto& v) { set32(v, 30, BI_RLE8); }, good)},
        {"unknown compression", with([](auto& v) { set32(v, 30, 9); }, good)},
        {"bitfields on 8 bits", with([](auto& v) { set32(v, 30, BI_BITFIELDS); }, good)},
        {"header size 1000", with([](auto& v) { set32(v, 14, 1000); }, good)},
        {"header size huge", with([](auto& v) { set32(v, 14, 0xFFFFFFF0u); }, good)},
        {"header size 12", with([](auto& v) { set32(v, 14, 12); }, good)},
        {"zero colour masks", with([](auto& v) { set32(v, 54, 0), set32(v, 58, 0), set32(v, 62, 0); }, good16)},
        {"overlapping colour masks", with([](auto& v) { set32(v, 54, 0xFFFF); }, good16)},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        TBitmap b;
        b.SetSize(3, 2);
        b.Canvas()->SetPixels(1, 1, clRed);
        EXPECT_THROW(load(b, make()), EInvalidGraphic);
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.Height(), 2);
        EXPECT_EQ(b.Canvas()->Pixels(1, 1), clRed);
    }
    TBitmap b;
    EXPECT_NO_THROW(load(b, good));  // the base case is sound
    TBitmap missing;
    EXPECT_THROW(missing.LoadFromFile("C:\\no such folder\\none.bmp"), EInvalidGraphic);
}

TEST_F(Graphics, BitmapHandleTakenOverKeepsSizeAndPixels) {
    HDC screen = GetDC(nullptr);
    HBITMAP raw = CreateCompatibleBitmap(screen, 7, 5);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(raw, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, raw);
    SetPixel(dc, 6, 4, RGB(255, 0, 0));
    SelectObject(dc, old);
    DeleteDC(dc);
    TBitmap b;
    b.SetHandle(raw);
    EXPECT_EQ(b.Width(), 7);
    EXPECT_EQ(b.Height(), 5);
    EXPECT_EQ(b.Canvas()->Pixels(6, 4), clRed);
}

TEST_F(Graphics, PictureAssignCopiesAndDataRoundTrips) {
    TPicture p1;
    int changes = 0;
    p1.OnChange = [&](TObject*) { ++changes; };
    TBitmap* b = p1.Bitmap();
    b->SetSize(3, 3);
    b->Canvas()->Brush()->SetColor(clLime);
    b->Canvas()->FillRect(Rect(0, 0, 3, 3));
    b->Canvas()->SetPixels(2, 1, clRed);
    EXPECT_GT(changes, 0);  // the bitmap's changes reach the picture

    TPicture p2;
    p2.Assign(&p1);
    ASSERT_NE(p2.Graphic(), nullptr);
    EXPECT_NE(p2.Graphic(), p1.Graphic());
    p1.Bitmap()->Canvas()->SetPixels(2, 1, clBlue);
    EXPECT_EQ(p2.Bitmap()->Canvas()->Pixels(2, 1), clRed);  // not shared

    const std::vector<uint8_t> data = p2.WriteData();
    ASSERT_GT(data.size(), 10u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 10), std::string("\x07TBitmapBM"));
    TPicture p3;
    int p3_changes = 0;
    p3.OnChange = [&](TObject*) { ++p3_changes; };
    p3.ReadData(data);
    EXPECT_GT(p3_changes, 0);
    EXPECT_EQ(p3.Width(), 3);
    EXPECT_EQ(p3.Height(), 3);
    EXPECT_EQ(p3.Bitmap()->Canvas()->Pixels(2, 1), clRed);
    EXPECT_EQ(p3.Bitmap()->Canvas()->Pixels(0, 0), clLime);

    TPicture from_bitmap;
    from_bitmap.Assign(p1.Bitmap());
    EXPECT_EQ(from_bitmap.Bitmap()->Canvas()->Pixels(2, 1), clBlue);
    from_bitmap.Assign(nullptr);
    EXPECT_EQ(from_bitmap.Graphic(), nullptr);
    EXPECT_TRUE(from_bitmap.WriteData().empty()) << "an empty picture is not stored in a form";

    struct Bad {
        const char* name;
        std::string bytes;
    };
    const std::vector<Bad> bad = {
        {"unknown class", std::string("\x08TMetafile") + "BM"},
        {"name longer than the data", std::string("\x20TBitmap")},
        {"bitmap bytes not a bitmap", std::string("\x07TBitmapXYZ")},
        {"bitmap cut short", std::string(data.begin(), data.begin() + 40)},
    };
    for (const Bad& k : bad) {
        SCOPED_TRACE(k.name);
        const auto* bytes = reinterpret_cast<const uint8_t*>(k.bytes.data());
        EXPECT_THROW(p3.ReadData(std::span<const uint8_t>(bytes, k.bytes.size())), EInvalidGraphic);
        EXPECT_EQ(p3.Width(), 3);  // the old picture stays
    }
    EXPECT_THROW(p3.LoadFromFile("C:\\picture.gif"), EInvalidGraphic);
    EXPECT_EQ(p3.Width(), 3);

    // A picture file is chosen by its extension, whatever its case.
    char path[] = "/tmp/fw_picture_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string bmp_path = std::string(path) + ".BMP";
    p2.SaveToFile(bmp_path);
    TPicture loaded;
    loaded.LoadFromFile(bmp_path);
    EXPECT_EQ(loaded.Width(), 3);
    EXPECT_EQ(loaded.Bitmap()->Canvas()->Pixels(2, 1), clRed);
    std::remove(bmp_path.c_str());
    std::remove(path);
}

}  // namespace
