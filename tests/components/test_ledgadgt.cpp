// LED gadgets on a headless screen: sizes, the segments each caption lights
// (read back from the screen), colours, repaint rules, alignment, the clock
// under a fixed local clock, and form text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Ledgadgt.h"
#include "forms.h"
#include "streaming.h"
#include "win32/gui_ext.h"
#include "win32/kernel_ext.h"
#include "ui_support.h"

namespace {

using namespace ui_test;

namespace fs = std::filesystem;

// A drive C: of our own, so that WIN.INI's time format is the test's.
struct TempDrive {
    fs::path root = fs::temp_directory_path() / ("ledgadgt-" + std::to_string(getpid()));
    TempDrive() {
        fs::create_directories(root / "WINDOWS");
        setenv("WIN32_ROOT", root.c_str(), 1);
        setenv("WIN32_VIDEO", "headless", 1);
    }
    ~TempDrive() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};
const TempDrive drive;

void set_time_format(const std::string& format) {
    std::ofstream ini(win32::host_path("C:\\WINDOWS\\WIN.INI"), std::ios::trunc);
    if (!format.empty()) ini << "[intl]\r\nsTimeFormat=" << format << "\r\ns1159=AM\r\ns2359=PM\r\n";
}

// Counts paints and caption changes.
template <class Base>
class Counting : public Base {
public:
    using Base::Base;
    int paints = 0, texts = 0;
    void CMTextChanged() override {
        ++texts;
        Base::CMTextChanged();
    }

protected:
    void Paint() override {
        ++paints;
        Base::Paint();
    }
};
using Label = Counting<TLEDLabel>;
using Clock = Counting<TLEDClock>;

// --- Segment probes ---------------------------------------------------------

// A point well inside each segment's polygon, in tenths of a unit; 16 is the
// comma's tail, apart from the point it shares with 15.
constexpr POINT probe_at[18] = {{70, 20},   {20, 80},   {45, 80},   {70, 80},   {95, 80},   {120, 80},
                                {45, 140},  {95, 140},  {20, 200},  {45, 205},  {70, 200},  {95, 205},
                                {120, 200}, {70, 260},  {150, 260}, {143, 280}, {70, 110},  {70, 170}};

struct Glyph {
    std::vector<int> lit;  // segment numbers
    bool colon = false;
};
const Glyph kBlank{};
const Glyph kColon{{}, true};

// What a cell of a polygon gadget should show at each probe: L lit, u unlit,
// b background. Unlit points and commas are not drawn; a colon shows only
// its two dots.
std::string expected_cell(const Glyph& g, bool unlit_shows = true) {
    std::string out;
    auto lit = [&](int n) { return std::find(g.lit.begin(), g.lit.end(), n) != g.lit.end(); };
    for (int n = 1; n <= 18; ++n) {
        char c;
        if (g.colon)
            c = n >= 17 ? 'L' : 'b';
        else if (n >= 17)
            c = '-';  // the dots lie on segments 4 and 11
        else if (n == 15)
            c = lit(15) || lit(16) ? 'L' : 'b';
        else if (n == 16)
            c = lit(16) ? 'L' : 'b';
        else
            c = lit(n) ? 'L' : (unlit_shows ? 'u' : 'b');
        out += c;
    }
    return out;
}

// Reads one cell of a polygon gadget from the screen.
std::string screen_cell(const TLEDGadget& g, int col, int row, bool colon_probes) {
    const int k = g.SegmentSize() - 1;
    const int x0 = g.Left() + g.SegmentSize() + col * 17 * k, y0 = g.Top() + row * 30 * k;
    std::string out;
    for (int n = 1; n <= 18; ++n) {
        if (n >= 17 && !colon_probes) {
            out += '-';
            continue;
        }
        const uint32_t p = win32::screen_pixel(x0 + (probe_at[n - 1].x * k + 5) / 10,
                                               y0 + (probe_at[n - 1].y * k + 5) / 10);
        out += p == rgb_of(g.LitColor()) ? 'L' : p == rgb_of(g.BackColor()) ? 'b'
               : p == rgb_of(g.UnlitColor())                                ? 'u'
                                                                            : '?';
    }
    return out;
}

void expect_cells(const TLEDGadget& g, int row, const std::vector<Glyph>& cells, bool unlit_shows = true) {
    for (size_t i = 0; i < cells.size(); ++i)
        EXPECT_EQ(screen_cell(g, int(i), row, cells[i].colon), expected_cell(cells[i], unlit_shows))
            << "caption \"" << g.Caption() << "\" row " << row << " cell " << i;
}

const Glyph g0{{1, 2, 5, 6, 9, 10, 13, 14}}, g1{{4, 11}}, g2{{1, 6, 7, 8, 9, 14}}, g5{{1, 2, 7, 8, 13, 14}},
    g7{{1, 6, 13}}, g9{{1, 2, 6, 7, 8, 13, 14}}, gA{{1, 2, 6, 7, 8, 9, 13}}, gK{{2, 5, 7, 9, 12}},
    gZ{{1, 5, 10, 14}}, gPoint{{15}}, gMinus{{7, 8}};
Glyph with(const Glyph& g, int seg) {
    Glyph r = g;
    r.lit.push_back(seg);
    return r;
}

// --- Fixture ----------------------------------------------------------------

constexpr TColor kFormColor = clWhite;

class Led : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen({640, 480, 32}));
        set_time_format("");
        form = std::make_unique<TForm>(nullptr);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 620, 460);
        form->SetColor(kFormColor);
        form->AfterConstruction();
    }
    void TearDown() override {
        form.reset();
        pump();
        unsetenv("WIN32_CLOCK");
    }

    template <class T = Label>
    T* add(int left, int top, const std::string& caption = {}, int segment_size = 4, int columns = 4,
           int rows = 1) {
        T* g = new T(form.get());
        g->SetLeft(left);
        g->SetTop(top);
        g->SetSegmentSize(segment_size);
        if constexpr (!std::is_base_of_v<TLEDClock, T>) {
            g->SetColumns(columns);
            g->SetRows(rows);
            g->SetCaption(caption);
        }
        g->SetParent(form.get());
        return g;
    }

    void show() {
        form->Show();
        pump();
    }

    std::unique_ptr<TForm> form;
};

// --- Sizes and defaults -------------------------------------------------------

TEST_F(Led, ConstructionDefaults) {
    TLEDLabel l(nullptr);
    EXPECT_EQ(l.Width(), 75);
    EXPECT_EQ(l.Height(), 31);
    EXPECT_FALSE(l.ThinMode());
    EXPECT_EQ(l.Alignment(), taLeftJustify);
    EXPECT_EQ(l.BackColor(), clBlack);
    EXPECT_EQ(l.Columns(), 4);
    EXPECT_EQ(l.DrawMode(), dmPolygon);
    EXPECT_EQ(l.UnlitColor(), 16384);
    EXPECT_EQ(l.LitColor(), 65280);
    EXPECT_FALSE(l.DrawOnScreen());
    EXPECT_EQ(l.Rows(), 1);
    EXPECT_EQ(l.SegmentSize(), 2);
    for (TControlStyleFlag f : {csCaptureMouse, csClickEvents, csSetCaption, csOpaque, csDoubleClicks})
        EXPECT_TRUE(l.HasStyle(f)) << int(f);
    EXPECT_FALSE(l.HasStyle(csAcceptsControls));

    // The clock names its own caption and starts with eight columns.
    set_clock("2026-03-01T10:00:00");
    TLEDClock c(nullptr);
    EXPECT_FALSE(c.HasStyle(csSetCaption));
    EXPECT_TRUE(c.HasStyle(csOpaque));
    EXPECT_EQ(c.Columns(), 8);
    EXPECT_EQ(c.Width(), 136);
    EXPECT_EQ(c.Interval(), 100);
    EXPECT_TRUE(c.ShowSeconds());
    EXPECT_TRUE(c.Timer()->Enabled());
    EXPECT_EQ(c.Timer()->Interval(), 100);
}

TEST_F(Led, SizeFollowsSegmentSizeModeColumnsAndRows) {
    struct Case {
        TLEDDrawMode mode;
        int s, columns, rows, w, h;
    };
    const Case cases[] = {
        {dmPolygon, 1, 3, 1, 27, 20},  {dmPolygon, 1, 2, 1, 18, 20},   {dmPolygon, 1, 8, 1, 72, 20},
        {dmLine, 1, 3, 1, 27, 20},     {dmPolygon, 2, 4, 1, 68, 30},   {dmLine, 2, 4, 1, 58, 40},
        {dmPolygon, 4, 3, 1, 153, 90}, {dmPolygon, 5, 8, 1, 544, 120}, {dmPolygon, 3, 2, 3, 68, 180},
        {dmLine, 3, 2, 2, 33, 120},
    };
    for (const Case& c : cases) {
        TLEDLabel l(nullptr);
        l.SetBounds(7, 9, 75, 31);
        l.SetDrawMode(c.mode);
        l.ResetBounds(c.rows, c.columns, c.s);
        EXPECT_EQ(l.Width(), c.w) << int(c.mode) << " s" << c.s << " " << c.columns << "x" << c.rows;
        EXPECT_EQ(l.Height(), c.h) << int(c.mode) << " s" << c.s << " " << c.columns << "x" << c.rows;
        EXPECT_EQ(l.Left(), 7);
        EXPECT_EQ(l.Top(), 9);
    }
    // Only a change recomputes: a width set by hand stays until then.
    struct Change {
        const char* name;
        std::function<void(TLEDLabel&)> same, changed;
        int w, h;
    };
    const Change changes[] = {
        {"Columns", [](TLEDLabel& l) { l.SetColumns(4); }, [](TLEDLabel& l) { l.SetColumns(5); }, 85, 30},
        {"Rows", [](TLEDLabel& l) { l.SetRows(1); }, [](TLEDLabel& l) { l.SetRows(2); }, 68, 60},
        {"SegmentSize", [](TLEDLabel& l) { l.SetSegmentSize(2); }, [](TLEDLabel& l) { l.SetSegmentSize(3); },
         136, 60},
        {"DrawMode", [](TLEDLabel& l) { l.SetDrawMode(dmPolygon); }, [](TLEDLabel& l) { l.SetDrawMode(dmLine); },
         58, 40},
    };
    for (const Change& c : changes) {
        TLEDLabel l(nullptr);
        c.same(l);
        EXPECT_EQ(l.Width(), 75) << c.name;
        EXPECT_EQ(l.Height(), 31) << c.name;
        c.changed(l);
        EXPECT_EQ(l.Width(), c.w) << c.name;
        EXPECT_EQ(l.Height(), c.h) << c.name;
    }
}

TEST_F(Led, OutOfRangeValuesAreKeptInRange) {
    struct Case {
        int segment_size, columns, rows;
        int want_s, want_columns, want_rows;
    };
    const Case cases[] = {
        {0, 4, 1, 1, 4, 1},        {-7, 4, 1, 1, 4, 1},       {17, 4, 1, 16, 4, 1},
        {300, 4, 1, 16, 4, 1},     {2, -3, 1, 2, 0, 1},       {2, 4, -1, 2, 4, 0},
        {2, 1 << 30, 1, 2, kMaxCells, 1}, {2, 1, 1 << 30, 2, 1, kMaxCells},
    };
    for (const Case& c : cases) {
        TLEDLabel l(nullptr);
        l.SetSegmentSize(c.segment_size);
        l.SetColumns(c.columns);
        l.SetRows(c.rows);
        EXPECT_EQ(l.SegmentSize(), c.want_s);
        EXPECT_EQ(l.Columns(), c.want_columns);
        EXPECT_EQ(l.Rows(), c.want_rows);
        EXPECT_GE(l.Width(), 0);
        EXPECT_GE(l.Height(), 0);
    }
}

// --- Captions on the screen ---------------------------------------------------

TEST_F(Led, CaptionsLightTheirSegments) {
    struct Case {
        std::string caption;
        int columns;
        std::vector<Glyph> cells;
    };
    const Case cases[] = {
        // The point joins the cell before it and takes no column.
        {"12.5", 4, {g1, with(g2, 15), g5, kBlank}},
        // A leading point gets a blank cell to sit in.
        {".5", 3, {gPoint, g5, kBlank}},
        // A second point gets a cell of its own, still no column.
        {"1..2", 4, {with(g1, 15), gPoint, g2, kBlank}},
        // Eight columns show the first eight of nine zeros.
        {"000000000", 8, {g0, g0, g0, g0, g0, g0, g0, g0}},
        // Lower case draws as upper case; ';' has no glyph; the comma has a tail.
        {"a;k,", 4, {gA, kBlank, with(gK, 16), kBlank}},
        {"-9:7", 4, {gMinus, g9, kColon, g7}},
        {"z", 2, {gZ, kBlank}},
        // A point that fills the row still joins its digit.
        {"12.", 2, {g1, with(g2, 15)}},
        {"", 2, {kBlank, kBlank}},
    };
    TLEDLabel* l = add(8, 8);
    show();
    for (const Case& c : cases) {
        l->SetColumns(c.columns);
        l->SetCaption(c.caption);
        pump();
        expect_cells(*l, 0, c.cells);
    }
}

TEST_F(Led, CarriageReturnStartsARowAndWrappingStopsAfterTheLast) {
    struct Case {
        std::string caption;
        int columns, rows;
        std::vector<std::vector<Glyph>> cells;  // by row
    };
    const Case cases[] = {
        {"1\r\n2", 3, 2, {{g1, kBlank, kBlank}, {g2, kBlank, kBlank}}},
        {"125", 2, 2, {{g1, g2}, {g5, kBlank}}},
        {"12\r5\r7", 2, 2, {{g1, g2}, {g5, kBlank}}},
        // Rows the caption never reaches are blank, points or not.
        {"1.2.", 2, 2, {{with(g1, 15), with(g2, 15)}, {kBlank, kBlank}}},
        // A line feed is skipped and does not swallow the digit before a point.
        {"12\n.5", 3, 1, {{g1, with(g2, 15), g5}}},
        // A point at the start of a row sits in a blank cell.
        {"1\r.5", 2, 2, {{g1, kBlank}, {gPoint, g5}}},
    };
    TLEDLabel* l = add(8, 8);
    show();
    for (const Case& c : cases) {
        l->SetColumns(c.columns);
        l->SetRows(c.rows);
        l->SetCaption(c.caption);
        pump();
        for (size_t r = 0; r < c.cells.size(); ++r) expect_cells(*l, int(r), c.cells[r]);
    }
    // Nothing of the gadget shows outside its bounds.
    l->SetColumns(2);
    l->SetRows(1);
    l->SetCaption("12345");
    pump();
    EXPECT_EQ(win32::screen_pixel(l->Left() + l->Width(), l->Top() + 10), rgb_of(kFormColor));
    EXPECT_EQ(win32::screen_pixel(l->Left() + 10, l->Top() + l->Height()), rgb_of(kFormColor));
}

TEST_F(Led, ColoursAndTheBackgroundFill) {
    TLEDLabel* l = add(8, 8, "8");
    l->SetBackColor(clNavy);
    l->SetLitColor(clYellow);
    l->SetUnlitColor(clGray);
    show();
    expect_cells(*l, 0, {{{1, 2, 6, 7, 8, 9, 13, 14}}, kBlank, kBlank, kBlank});
    // Corners of the gadget are background.
    for (POINT p : {POINT{0, 0}, POINT{l->Width() - 1, l->Height() - 1}})
        EXPECT_EQ(win32::screen_pixel(l->Left() + p.x, l->Top() + p.y), rgb_of(clNavy));
}

TEST_F(Led, UnlitSegmentsInTheBackgroundColourAreNotDrawn) {
    // Lines of width 2 overlap where segments meet: an unlit segment drawn
    // after a lit one would take pixels from it even in the background colour.
    auto count = [](const TLEDGadget& g, uint32_t colour) {
        int n = 0, other = 0;
        for (int y = 0; y < g.Height(); ++y)
            for (int x = 0; x < g.Width(); ++x) {
                const uint32_t p = win32::screen_pixel(g.Left() + x, g.Top() + y);
                if (p == colour) ++n;
                else if (p != rgb_of(g.BackColor()) && p != rgb_of(g.UnlitColor())) ++other;
            }
        EXPECT_EQ(other, 0);
        return n;
    };
    TLEDLabel* l = add(8, 8, "LMW", 2, 3);
    l->SetDrawMode(dmLine);
    l->SetBackColor(clBtnFace);  // a system colour, compared by its RGB
    l->SetLitColor(clRed);
    show();
    const int lit_with_unlit_shown = count(*l, rgb_of(clRed));
    l->SetUnlitColor(static_cast<TColor>(ColorToRGB(clBtnFace)));
    pump();
    const int lit_alone = count(*l, rgb_of(clRed));
    EXPECT_GT(lit_alone, lit_with_unlit_shown);

    // Polygons: every unlit probe shows the background.
    TLEDLabel* p = add(8, 200, "7");
    p->SetUnlitColor(clBlack);
    pump();
    expect_cells(*p, 0, {g7, kBlank}, false);
}

TEST_F(Led, SegmentSizeOneDrawsOnePixelLinesInEitherMode) {
    for (TLEDDrawMode mode : {dmPolygon, dmLine}) {
        TLEDLabel* l = add(8, 8, "1:", 1, 3);
        l->SetDrawMode(mode);
        show();
        EXPECT_EQ(l->ThinMode(), mode == dmPolygon);
        const int x = l->Left() + 1, y = l->Top();  // cells start at X = 1
        auto px = [&](int cx, int cy) { return win32::screen_pixel(x + cx, y + cy); };
        // '1': segment 4 is the line (4,3)-(4,7) without its last pixel.
        for (int cy = 3; cy < 7; ++cy) EXPECT_EQ(px(4, cy), rgb_of(l->LitColor())) << cy;
        // Segments 1 and 14 are unlit rows of one pixel.
        for (int cy : {2, 14}) {
            EXPECT_EQ(px(3, cy - 1), rgb_of(l->BackColor())) << cy;
            EXPECT_EQ(px(3, cy), rgb_of(l->UnlitColor())) << cy;
            EXPECT_EQ(px(3, cy + 1), rgb_of(l->BackColor())) << cy;
        }
        // The colon in the next cell, 8 pixels on: two dots and nothing else.
        EXPECT_EQ(px(8 + 4, 5), rgb_of(l->LitColor()));
        EXPECT_EQ(px(8 + 4, 9), rgb_of(l->LitColor()));
        EXPECT_EQ(px(8 + 3, 2), rgb_of(l->BackColor()));
        delete l;
    }
}

// The shapes in tenths of a unit, to draw the expected cell independently.
const std::vector<std::vector<POINT>> kPolygons = {
    {{20, 20}, {30, 10}, {110, 10}, {120, 20}, {110, 30}, {30, 30}},
    {{20, 30}, {30, 40}, {30, 120}, {20, 130}, {10, 120}, {10, 40}},
    {{35, 28}, {55, 78}, {55, 130}, {35, 80}},
    {{70, 30}, {80, 40}, {80, 120}, {70, 130}, {60, 120}, {60, 40}},
    {{105, 28}, {105, 80}, {85, 130}, {85, 78}},
    {{120, 30}, {130, 40}, {130, 120}, {120, 130}, {110, 120}, {110, 40}},
    {{20, 140}, {30, 130}, {60, 130}, {70, 140}, {60, 150}, {30, 150}},
    {{70, 140}, {80, 130}, {110, 130}, {120, 140}, {110, 150}, {80, 150}},
    {{20, 150}, {30, 160}, {30, 240}, {20, 250}, {10, 240}, {10, 160}},
    {{55, 150}, {55, 202}, {35, 252}, {35, 200}},
    {{70, 150}, {80, 160}, {80, 240}, {70, 250}, {60, 240}, {60, 160}},
    {{85, 150}, {105, 200}, {105, 252}, {85, 202}},
    {{120, 150}, {130, 160}, {130, 240}, {120, 250}, {110, 240}, {110, 160}},
    {{20, 260}, {30, 250}, {110, 250}, {120, 260}, {110, 270}, {30, 270}},
    {{140, 250}, {160, 250}, {160, 270}, {140, 270}},
    {{140, 250}, {160, 250}, {160, 270}, {130, 300}, {140, 270}},
};
const POINT kLines[16][2] = {
    {{20, 20}, {60, 20}},   {{20, 30}, {20, 70}},   {{20, 30}, {35, 70}},  {{40, 30}, {40, 70}},
    {{60, 30}, {45, 70}},   {{60, 30}, {60, 70}},   {{20, 80}, {40, 80}},  {{40, 80}, {60, 80}},
    {{20, 90}, {20, 130}},  {{35, 90}, {20, 130}},  {{40, 90}, {40, 130}}, {{45, 90}, {60, 130}},
    {{60, 90}, {60, 130}},  {{20, 140}, {60, 140}}, {{70, 140}, {75, 140}}, {{70, 140}, {60, 160}},
};

// Tenths times k, to the nearest integer with halves to even.
int scaled(int tenths, int k) {
    const double v = tenths * k / 10.0;
    const double f = std::floor(v);
    if (v - f != 0.5) return int(std::lround(v));
    return int(f) % 2 == 0 ? int(f) : int(f) + 1;
}

TEST_F(Led, CellGeometryMatchesTheScaledShapes) {
    // "8," lights 1-14 less 3, 4, 5, 10, 11, 12 and the comma; with lit and
    // unlit alike every segment but the unlit point shows in one colour.
    struct Case {
        TLEDDrawMode mode;
        int s;
    };
    for (const Case c : {Case{dmPolygon, 2}, Case{dmPolygon, 3}, Case{dmPolygon, 5}, Case{dmLine, 3},
                         Case{dmLine, 2}}) {
        TLEDLabel* l = add(8, 8, "8,", c.s, 1);
        l->SetDrawMode(c.mode);
        l->SetLitColor(clWhite);
        l->SetUnlitColor(clWhite);
        show();
        TBitmap want;
        want.SetSize(l->Width(), l->Height());
        TCanvas* cv = want.Canvas();
        cv->Brush()->SetColor(clBlack);
        cv->FillRect(Rect(0, 0, l->Width(), l->Height()));
        const int x0 = c.s;  // the first cell starts at X = SegmentSize
        for (int n = 0; n < 16; ++n) {
            if (n == 14) continue;  // the unlit point
            if (c.mode == dmPolygon) {
                std::vector<TPoint> pts;
                for (POINT p : kPolygons[size_t(n)])
                    pts.push_back(Point(x0 + scaled(p.x, c.s - 1), scaled(p.y, c.s - 1)));
                cv->Pen()->SetStyle(psClear);
                cv->Brush()->SetColor(clWhite);
                cv->Polygon(pts);
            } else {
                cv->Pen()->SetStyle(psSolid);
                cv->Pen()->SetColor(clWhite);
                cv->Pen()->SetWidth(c.s);
                cv->MoveTo(x0 + scaled(kLines[n][0].x, c.s), scaled(kLines[n][0].y, c.s));
                cv->LineTo(x0 + scaled(kLines[n][1].x, c.s), scaled(kLines[n][1].y, c.s));
            }
        }
        int differ = 0;
        for (int y = 0; y < l->Height(); ++y)
            for (int x = 0; x < l->Width(); ++x)
                if (win32::screen_pixel(l->Left() + x, l->Top() + y) != rgb_of(cv->Pixels(x, y))) ++differ;
        EXPECT_EQ(differ, 0) << "mode " << int(c.mode) << " s" << c.s;
        delete l;
    }
}

TEST_F(Led, DrawingOnScreenLooksTheSame) {
    TLEDLabel* l = add(8, 8, "12.5");
    show();
    std::vector<uint32_t> through_bitmap, direct;
    win32::read_screen(through_bitmap);
    const int paints = [&] {
        auto* c = static_cast<Label*>(l);
        const int before = c->paints;
        l->SetDrawOnScreen(false);  // the same value still repaints
        pump();
        return c->paints - before;
    }();
    EXPECT_EQ(paints, 1);
    l->SetDrawOnScreen(true);
    pump();
    win32::read_screen(direct);
    EXPECT_EQ(direct, through_bitmap);
}

TEST_F(Led, AGadgetTooLargeForABitmapDrawsDirectly) {
    // 547 rows of 60 pixels: taller than any bitmap may be.
    TLEDLabel* l = add(8, 8, "8.", 3, 1, 547);
    ASSERT_GT(l->Height(), 32767);
    show();
    expect_cells(*l, 0, {with(Glyph{{1, 2, 6, 7, 8, 9, 13, 14}}, 15)});
    expect_cells(*l, 1, {kBlank});
}

// --- Repaint rules ------------------------------------------------------------

TEST_F(Led, SettersRepaintOnlyOnChange) {
    Label* l = add(8, 8, "1");
    show();
    struct Case {
        const char* name;
        std::function<void()> same, changed;
    };
    const Case cases[] = {
        {"BackColor", [&] { l->SetBackColor(clBlack); }, [&] { l->SetBackColor(clMaroon); }},
        {"UnlitColor", [&] { l->SetUnlitColor(16384); }, [&] { l->SetUnlitColor(clGray); }},
        {"LitColor", [&] { l->SetLitColor(65280); }, [&] { l->SetLitColor(clRed); }},
        {"Columns", [&] { l->SetColumns(4); }, [&] { l->SetColumns(3); }},
        {"Rows", [&] { l->SetRows(1); }, [&] { l->SetRows(2); }},
        {"SegmentSize", [&] { l->SetSegmentSize(4); }, [&] { l->SetSegmentSize(3); }},
        {"DrawMode", [&] { l->SetDrawMode(dmPolygon); }, [&] { l->SetDrawMode(dmLine); }},
        {"Alignment", [&] { l->SetAlignment(taLeftJustify); }, [&] { l->SetAlignment(taCenter); }},
        {"Caption", [&] { l->SetCaption("1"); }, [&] { l->SetCaption("2"); }},
    };
    for (const Case& c : cases) {
        pump();
        int before = l->paints;
        c.same();
        pump();
        EXPECT_EQ(l->paints, before) << c.name;
        c.changed();
        pump();
        EXPECT_EQ(l->paints, before + 1) << c.name;
    }
}

// --- Alignment ----------------------------------------------------------------

TEST_F(Led, AlignmentPlacesEachRowsCharacters) {
    struct Case {
        TTextAlignment alignment;
        std::string caption;
        std::vector<std::vector<Glyph>> cells;
    };
    const Case cases[] = {
        {taLeftJustify, "12\r5", {{g1, g2, kBlank, kBlank}, {g5, kBlank, kBlank, kBlank}}},
        {taRightJustify, "12\r5", {{kBlank, kBlank, g1, g2}, {kBlank, kBlank, kBlank, g5}}},
        {taCenter, "12\r5", {{kBlank, g1, g2, kBlank}, {kBlank, g5, kBlank, kBlank}}},
        {taRightJustify, "1.2", {{kBlank, kBlank, with(g1, 15), g2}, {kBlank, kBlank, kBlank, kBlank}}},
    };
    TLEDLabel* l = add(8, 8, "", 4, 4, 2);
    show();
    for (const Case& c : cases) {
        l->SetAlignment(c.alignment);
        l->SetCaption(c.caption);
        pump();
        for (size_t r = 0; r < c.cells.size(); ++r) expect_cells(*l, int(r), c.cells[r]);
    }
}

// --- Clock --------------------------------------------------------------------

TEST_F(Led, ClockShowsTheTimeInTheSystemFormat) {
    struct Case {
        const char* clock;
        std::string format;  // empty: no setting
        std::string caption;
    };
    const Case cases[] = {
        {"2026-05-04T09:05:07", "", " 9:05:07"},
        {"2026-05-04T09:05:07", "HH:mm:ss", "09:05:07"},
        {"2026-05-04T21:05:07", "h:mm:ss tt", " 9:05:07 PM"},
        {"2026-05-04T00:30:00", "h.mm.ss' h'", "12.30.00 h"},
        {"2026-05-04T23:59:59", "H:mm:ss", "23:59:59"},
    };
    for (const Case& c : cases) {
        set_time_format(c.format);
        set_clock(c.clock);
        TLEDClock clock(nullptr);
        EXPECT_EQ(clock.Caption(), c.caption) << c.clock << " " << c.format;
    }
}

TEST_F(Led, ClockAtNineOhFiveWithAndWithoutSeconds) {
    set_clock("2026-05-04T09:05:07");
    Clock* c = add<Clock>(8, 8, "", 4);
    show();
    EXPECT_DOUBLE_EQ(c->LastTime(), (9 * 3600 + 5 * 60 + 7) / 86400.0);
    EXPECT_EQ(c->Width(), 8 * 51);
    expect_cells(*c, 0, {kBlank, g9, kColon, g0, g5, kColon, g0, g7});

    c->SetShowSeconds(false);
    pump();
    EXPECT_EQ(c->Columns(), 5);
    EXPECT_EQ(c->Width(), 5 * 51);
    expect_cells(*c, 0, {kBlank, g9, kColon, g0, g5});
    // What lay beyond the fifth cell is the form again.
    EXPECT_EQ(win32::screen_pixel(c->Left() + 5 * 51 + 20, c->Top() + 6), rgb_of(kFormColor));
    c->SetShowSeconds(true);
    EXPECT_EQ(c->Columns(), 8);
}

TEST_F(Led, ClockChangesItsCaptionOncePerSecondAndFiresEveryTick) {
    set_clock("2026-05-04T09:05:07");
    Clock c(nullptr);
    int fired = 0;
    c.OnTimer = [&](TObject* sender) {
        EXPECT_EQ(sender, &c);
        ++fired;
    };
    const int texts = c.texts;
    c.TimerTick(c.Timer());
    c.TimerTick(c.Timer());
    EXPECT_EQ(c.texts, texts);  // the same second: no new caption
    EXPECT_EQ(fired, 2);
    set_clock("2026-05-04T09:05:08");
    c.TimerTick(c.Timer());
    EXPECT_EQ(c.texts, texts + 1);
    EXPECT_EQ(c.Caption(), " 9:05:08");
    EXPECT_EQ(fired, 3);
}

TEST_F(Led, ClockTimerFollowsEnabledAndInterval) {
    set_clock("2026-05-04T09:05:07");
    TLEDClock* c = add<TLEDClock>(8, 8);
    int fired = 0;
    c->OnTimer = [&](TObject*) { ++fired; };
    c->SetInterval(10);
    EXPECT_EQ(c->Timer()->Interval(), 10);
    show();
    auto run_for = [&](std::chrono::milliseconds d, bool until_fired) {
        const auto end = std::chrono::steady_clock::now() + d;
        while (std::chrono::steady_clock::now() < end && !(until_fired && fired > 0)) {
            pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    run_for(std::chrono::milliseconds(5000), true);
    EXPECT_GT(fired, 0);

    c->SetEnabled(false);
    EXPECT_FALSE(c->Timer()->Enabled());
    fired = 0;
    run_for(std::chrono::milliseconds(100), false);
    EXPECT_EQ(fired, 0);
    c->SetEnabled(true);
    EXPECT_TRUE(c->Timer()->Enabled());

    // 16 bits, no more.
    c->SetInterval(70000);
    EXPECT_EQ(c->Interval(), 65535);
    c->SetInterval(-5);
    EXPECT_EQ(c->Interval(), 0);
    // Freed while its timer runs.
    c->SetInterval(10);
    delete c;
    fired = 0;
    run_for(std::chrono::milliseconds(50), false);
    EXPECT_EQ(fired, 0);
}

// --- Mouse --------------------------------------------------------------------

TEST_F(Led, ClicksReachTheGadget) {
    TLEDLabel* l = add(40, 40, "1");
    int clicks = 0, dbl = 0;
    l->OnClick = [&](TObject* s) {
        EXPECT_EQ(s, l);
        ++clicks;
    };
    l->OnDblClick = [&](TObject*) { ++dbl; };
    show();
    win32::post_mouse_button(win32::MouseButton::Left, true, 60, 60);
    win32::post_mouse_button(win32::MouseButton::Left, false, 60, 60);
    pump();
    EXPECT_EQ(clicks, 1);
    win32::post_mouse_button(win32::MouseButton::Left, true, 60, 60);
    win32::post_mouse_button(win32::MouseButton::Left, false, 60, 60);
    pump();
    EXPECT_EQ(dbl, 1);
}

// --- Form text ----------------------------------------------------------------

// A root that writes and reads the gadgets it owns.
class TLedForm : public TComponent {
public:
    using TComponent::TComponent;
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const override {
        for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
    }
    void Label1Click(TObject*) {}
    FW_CLASS_INFO();
};

const ClassInfo& TLedForm::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&TLedForm::Label1Click>("Label1Click")};
    static const ClassInfo info{"TLedForm", &TComponent::StaticClassInfo(), TComponent::StaticClassInfo().props,
                                methods, {}};
    return info;
}

std::vector<std::string> prop_names(const ClassInfo& info) {
    std::vector<std::string> out;
    for (const PropInfo* p : info.props) out.push_back(p->name);
    return out;
}

TEST_F(Led, PublishedPropertiesInOrder) {
    const std::vector<std::string> base = {
        "Name",        "Tag",        "Left",         "Top",          "Width",          "Height",
        "BackColor",   "DrawMode",   "DrawOnScreen", "UnlitColor",   "LitColor",       "ParentShowHint",
        "PopupMenu",   "SegmentSize", "ShowHint",  "Visible",      "OnClick",        "OnDblClick",
        "OnDragDrop",  "OnDragOver", "OnEndDrag",   "OnMouseDown",  "OnMouseMove",    "OnMouseUp"};
    EXPECT_EQ(prop_names(TLEDGadget::StaticClassInfo()), base);
    auto label = base;
    label.insert(label.end(), {"Caption", "Columns", "Rows"});
    EXPECT_EQ(prop_names(TLEDLabel::StaticClassInfo()), label);
    auto clock = base;
    clock.insert(clock.end(), {"OnTimer", "Enabled", "Interval", "ShowSeconds"});
    EXPECT_EQ(prop_names(TLEDClock::StaticClassInfo()), clock);
    for (const char* name : {"TLEDGadget", "TLEDLabel", "TLEDClock"}) EXPECT_NE(FindClass(name), nullptr) << name;
    EXPECT_EQ(IdentOf(&LEDDrawModeType, dmLine), "dmLine");
}

TEST_F(Led, FormTextKeepsPropertiesAndOmitsDefaults) {
    set_clock("2026-05-04T09:05:07");
    TLedForm root(nullptr);
    root.SetName("Form1");
    auto* l = new TLEDLabel(&root);
    l->SetName("LEDLabel1");
    l->SetLeft(10);
    l->SetTop(20);
    l->SetBackColor(clNavy);
    l->SetUnlitColor(clBtnFace);
    l->SetSegmentSize(1);
    l->SetColumns(8);
    l->SetCaption("000000000");
    l->OnClick.Bind(&root, &TLedForm::Label1Click, "Label1Click");
    auto* d = new TLEDLabel(&root);  // all defaults
    d->SetName("LEDLabel2");
    auto* c = new TLEDClock(&root);
    c->SetName("LEDClock1");
    c->SetDrawMode(dmLine);
    c->SetShowSeconds(false);
    c->SetInterval(500);
    c->SetEnabled(false);

    const std::string text = WriteComponentToText(&root);
    EXPECT_EQ(text,
              "object Form1: TLedForm\n"
              "  object LEDLabel1: TLEDLabel\n"
              "    Left = 10\n"
              "    Top = 20\n"
              "    Width = 72\n"
              "    Height = 20\n"
              "    BackColor = clNavy\n"
              "    UnlitColor = clBtnFace\n"
              "    SegmentSize = 1\n"
              "    OnClick = Label1Click\n"
              "    Caption = '000000000'\n"
              "    Columns = 8\n"
              "  end\n"
              "  object LEDLabel2: TLEDLabel\n"
              "    Left = 0\n"
              "    Top = 0\n"
              "    Width = 75\n"
              "    Height = 31\n"
              "  end\n"
              "  object LEDClock1: TLEDClock\n"
              "    Left = 0\n"
              "    Top = 0\n"
              "    Width = 76\n"
              "    Height = 40\n"
              "    DrawMode = dmLine\n"
              "    Enabled = False\n"
              "    Interval = 500\n"
              "    ShowSeconds = False\n"
              "  end\n"
              "end\n");

    TLedForm copy(nullptr);
    ReadComponentFromText(text, &copy);
    auto* l2 = dynamic_cast<TLEDLabel*>(copy.FindComponent("LEDLabel1"));
    auto* c2 = dynamic_cast<TLEDClock*>(copy.FindComponent("LEDClock1"));
    ASSERT_NE(l2, nullptr);
    ASSERT_NE(c2, nullptr);
    EXPECT_EQ(l2->BackColor(), clNavy);
    EXPECT_EQ(l2->UnlitColor(), clBtnFace);
    EXPECT_EQ(l2->SegmentSize(), 1);
    EXPECT_EQ(l2->Columns(), 8);
    EXPECT_EQ(l2->Caption(), "000000000");
    EXPECT_TRUE(l2->OnClick.Assigned());
    EXPECT_EQ(c2->DrawMode(), dmLine);
    EXPECT_FALSE(c2->ShowSeconds());
    EXPECT_EQ(c2->Columns(), 5);
    EXPECT_FALSE(c2->Timer()->Enabled());
    EXPECT_EQ(c2->Timer()->Interval(), 500);
    EXPECT_EQ(WriteComponentToText(&copy), text);
}

TEST_F(Led, FormTextWithBadValues) {
    // Out of range numbers are kept in range; a member that does not exist
    // is an error naming the line, and nothing is left behind.
    TLedForm root(nullptr);
    ReadComponentFromText("object Form1: TLedForm\n"
                          "  object L: TLEDLabel\n"
                          "    SegmentSize = 99\n"
                          "    Columns = -4\n"
                          "    Rows = 2147483647\n"
                          "  end\n"
                          "end\n",
                          &root);
    auto* l = dynamic_cast<TLEDLabel*>(root.FindComponent("L"));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->SegmentSize(), 16);
    EXPECT_EQ(l->Columns(), 0);
    EXPECT_EQ(l->Rows(), kMaxCells);

    TLedForm bad(nullptr);
    EXPECT_THROW(ReadComponentFromText("object Form1: TLedForm\n"
                                       "  object L: TLEDLabel\n"
                                       "    DrawMode = dmSpline\n"
                                       "  end\n"
                                       "end\n",
                                       &bad),
                 EReadError);
    EXPECT_EQ(bad.ComponentCount(), 0);
}

}  // namespace
