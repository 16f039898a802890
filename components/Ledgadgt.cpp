#include "Ledgadgt.h"

#include <algorithm>
#include <array>
#include <exception>
#include <initializer_list>
#include <vector>

#include "win32/kernel.h"

namespace {

constexpr const char* draw_mode_names[] = {"dmPolygon", "dmLine"};

constexpr int kSegments = 18;
constexpr int kCorners = 6;
constexpr uint16_t kColon = 0xFFFF;

// Shapes in tenths of a unit, so that scaling and rounding stay exact.
struct Pt10 {
    int x, y;
};

constexpr Pt10 polygon_shapes[kSegments][kCorners] = {
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
    {{60, 100}, {80, 100}, {80, 120}, {60, 120}},
    {{60, 160}, {80, 160}, {80, 180}, {60, 180}},
};
constexpr int polygon_corners[kSegments] = {6, 6, 4, 6, 4, 6, 6, 6, 6, 4, 6, 4, 6, 6, 4, 5, 4, 4};

constexpr Pt10 line_shapes[kSegments][2] = {
    {{20, 20}, {60, 20}},  {{20, 30}, {20, 70}},  {{20, 30}, {35, 70}},  {{40, 30}, {40, 70}},
    {{60, 30}, {45, 70}},  {{60, 30}, {60, 70}},  {{20, 80}, {40, 80}},  {{40, 80}, {60, 80}},
    {{20, 90}, {20, 130}}, {{35, 90}, {20, 130}}, {{40, 90}, {40, 130}}, {{45, 90}, {60, 130}},
    {{60, 90}, {60, 130}}, {{20, 140}, {60, 140}}, {{70, 140}, {75, 140}}, {{70, 140}, {60, 160}},
    {{40, 50}, {40, 60}},  {{40, 90}, {40, 100}},
};

constexpr uint16_t segs(std::initializer_list<int> lit) {
    uint16_t m = 0;
    for (int n : lit) m |= uint16_t(0x8000u >> (n - 1));
    return m;
}

// The mask of a character that has a glyph; -1 for any other.
int glyph_of(unsigned char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    switch (c) {
    case '*': return segs({3, 4, 5, 7, 8, 10, 11, 12});
    case '+': return segs({4, 7, 8, 11});
    case ',': return segs({16});
    case '-': return segs({7, 8});
    case '.': return segs({15});
    case '/': return segs({5, 10});
    case '0': return segs({1, 2, 5, 6, 9, 10, 13, 14});
    case '1': return segs({4, 11});
    case '2': return segs({1, 6, 7, 8, 9, 14});
    case '3': return segs({1, 6, 7, 8, 13, 14});
    case '4': return segs({2, 6, 7, 8, 13});
    case '5': return segs({1, 2, 7, 8, 13, 14});
    case '6': return segs({1, 2, 7, 8, 9, 13, 14});
    case '7': return segs({1, 6, 13});
    case '8': return segs({1, 2, 6, 7, 8, 9, 13, 14});
    case '9': return segs({1, 2, 6, 7, 8, 13, 14});
    case ':': return kColon;
    case '<': return segs({5, 12});
    case '>': return segs({3, 10});
    case '\\': return segs({3, 12});
    case 'A': return segs({1, 2, 6, 7, 8, 9, 13});
    case 'B': return segs({1, 4, 6, 8, 11, 13, 14});
    case 'C': return segs({1, 2, 9, 14});
    case 'D': return segs({1, 4, 6, 11, 13, 14});
    case 'E': return segs({1, 2, 7, 8, 9, 14});
    case 'F': return segs({1, 2, 7, 8, 9});
    case 'G': return segs({1, 2, 8, 9, 13, 14});
    case 'H': return segs({2, 6, 7, 8, 9, 13});
    case 'I': return segs({1, 4, 11, 14});
    case 'J': return segs({6, 9, 13, 14});
    case 'K': return segs({2, 5, 7, 9, 12});
    case 'L': return segs({2, 9, 14});
    case 'M': return segs({2, 3, 5, 6, 9, 13});
    case 'N': return segs({2, 3, 6, 9, 12, 13});
    case 'O': return segs({1, 2, 6, 9, 13, 14});
    case 'P': return segs({1, 2, 6, 7, 8, 9});
    case 'Q': return segs({1, 2, 6, 9, 12, 13, 14, 15});
    case 'R': return segs({1, 2, 6, 7, 8, 9, 12});
    case 'S': return segs({1, 2, 7, 12, 14});
    case 'T': return segs({1, 4, 11});
    case 'U': return segs({2, 6, 9, 13, 14});
    case 'V': return segs({2, 5, 9, 10});
    case 'W': return segs({2, 6, 9, 10, 12, 13});
    case 'X': return segs({3, 5, 10, 12});
    case 'Y': return segs({3, 5, 11});
    case 'Z': return segs({1, 5, 10, 14});
    default: return -1;
    }
}

bool is_point(unsigned char c) { return c == '.' || c == ','; }

// v tenths times k, to the nearest integer, halves to even.
int scale_round(int v10, int k) {
    const int n = v10 * k;
    int q = n / 10;
    const int r = n % 10;
    if (r > 5 || (r == 5 && (q & 1))) ++q;
    return q;
}

// The scaled corners of every segment for one paint, on the stack.
struct SegmentTable {
    std::array<std::array<TPoint, kCorners>, kSegments> pt{};
};

// A cell the layout places: its row and cell index within the row, the
// mask, and whether it only fills the rest of a row.
struct Placed {
    int row, cell;
    uint16_t mask;
    bool fill;
};

// Lays a caption out in cells, row by row, calling emit for each; stops
// after the last row.
template <class Emit>
void layout_caption(const std::string& caption, int columns, int rows, Emit emit) {
    if (columns < 1 || rows < 1) return;
    std::string t = caption;
    if (!t.empty() && is_point(static_cast<unsigned char>(t[0]))) t.insert(t.begin(), ' ');
    int row = 0, col = 0, cell = 0;
    int prev = -1;            // previous character
    uint16_t prev_mask = 0;   // what the row's last cell shows
    auto put = [&](uint16_t mask, bool fill) {
        emit(Placed{row, cell, mask, fill});
        prev_mask = mask;
        ++cell;
    };
    auto fill_row = [&] {
        while (col < columns) {
            put(0, true);
            ++col;
        }
    };
    auto next_row = [&] {
        ++row;
        cell = col = 0;
        return row < rows;
    };
    for (char ch : t) {
        const auto c = static_cast<unsigned char>(ch);
        const int glyph = glyph_of(c);
        if (c == '\n') {
            // Skipped; CR alone breaks the line.
        } else if (c == '\r') {
            fill_row();
            if (!next_row()) return;
        } else if (glyph >= 0 && is_point(c) && !(prev >= 0 && is_point(static_cast<unsigned char>(prev)))) {
            // The point joins the cell before it in this row, which needs no
            // new column; at the start of a row it gets a blank cell of its own.
            if (cell > 0) {
                --cell;
                put(static_cast<uint16_t>(prev_mask | glyph), false);
            } else {
                put(static_cast<uint16_t>(glyph), false);
                ++col;
            }
        } else {
            if (col == columns && !next_row()) return;
            if (glyph >= 0 && is_point(c)) {
                put(static_cast<uint16_t>(glyph), false);  // a point after a point: not a column
            } else {
                put(glyph >= 0 ? static_cast<uint16_t>(glyph) : 0, false);
                ++col;
            }
        }
        prev = c;
    }
    fill_row();
    // The rows below are shown as blank cells.
    while (next_row()) fill_row();
}

// WIN.INI's [intl] setting, or the given default.
std::string intl_setting(const char* key, const char* fallback) {
    char buf[81] = {};
    GetProfileStringA("intl", key, fallback, buf, sizeof buf);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

}  // namespace

const TypeInfo LEDDrawModeType{"TLEDDrawMode", draw_mode_names, {}};

std::string FormatLongTime(int hour, int minute, int second) {
    const std::string fmt = intl_setting("sTimeFormat", "H:mm:ss");
    std::string out;
    auto two = [&](int v, bool pad) {
        if (pad && v < 10) out += '0';
        out += std::to_string(v);
    };
    for (size_t i = 0; i < fmt.size();) {
        const char c = fmt[i];
        if (c == '\'') {
            // Quoted text, '' for a quote.
            ++i;
            while (i < fmt.size()) {
                if (fmt[i] == '\'') {
                    if (i + 1 < fmt.size() && fmt[i + 1] == '\'') {
                        out += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out += fmt[i++];
            }
            continue;
        }
        size_t run = 1;
        while (i + run < fmt.size() && fmt[i + run] == c) ++run;
        const bool pad = run >= 2;
        switch (c) {
        case 'H': two(hour, pad); break;
        case 'h': two(hour % 12 == 0 ? 12 : hour % 12, pad); break;
        case 'm': two(minute, pad); break;
        case 's': two(second, pad); break;
        case 't': {
            const std::string mark = intl_setting(hour < 12 ? "s1159" : "s2359", hour < 12 ? "AM" : "PM");
            out += pad ? mark : mark.substr(0, 1);
            break;
        }
        default: out.append(run, c); break;
        }
        i += run;
    }
    return out;
}

// --- TLEDGadget ---------------------------------------------------------------

TLEDGadget::TLEDGadget(TComponent* owner) : TGraphicControl(owner) {
    control_style_ = StyleBit(csCaptureMouse) | StyleBit(csClickEvents) | StyleBit(csSetCaption) |
                     StyleBit(csOpaque) | StyleBit(csDoubleClicks);
    SetBounds(Left(), Top(), 75, 31);
}

void TLEDGadget::SetAlignment(TTextAlignment a) {
    if (a == alignment_ || a > taCenter) return;
    alignment_ = a;
    Invalidate();
}

void TLEDGadget::SetBackColor(TColor c) {
    if (c == back_color_) return;
    back_color_ = c;
    Invalidate();
}

void TLEDGadget::SetUnlitColor(TColor c) {
    if (c == unlit_color_) return;
    unlit_color_ = c;
    Invalidate();
}

void TLEDGadget::SetLitColor(TColor c) {
    if (c == lit_color_) return;
    lit_color_ = c;
    Invalidate();
}

void TLEDGadget::SetDrawOnScreen(bool v) {
    draw_on_screen_ = v;
    Invalidate();
}

void TLEDGadget::SetColumns(int n) {
    if (n != columns_) ResetBounds(rows_, n, segment_size_);
}

void TLEDGadget::SetRows(int n) {
    if (n != rows_) ResetBounds(n, columns_, segment_size_);
}

void TLEDGadget::SetSegmentSize(int s) {
    if (s != segment_size_) ResetBounds(rows_, columns_, s);
}

void TLEDGadget::SetDrawMode(TLEDDrawMode m) {
    if (m == draw_mode_ || m > dmLine) return;
    draw_mode_ = m;
    ResetBounds(rows_, columns_, segment_size_);
}

void TLEDGadget::ResetBounds(int rows, int columns, int segment_size) {
    rows_ = std::clamp(rows, 0, kMaxCells);
    columns_ = std::clamp(columns, 0, kMaxCells);
    segment_size_ = static_cast<TSegmentSize>(std::clamp(segment_size, kMinSegmentSize, kMaxSegmentSize));
    const int s = segment_size_, c = columns_, r = rows_;
    int w, h;
    if (s == 1) {
        w = 9 * c;
        h = 20 * r;
    } else if (draw_mode_ == dmPolygon) {
        w = 17 * (s - 1) * c;
        h = 30 * (s - 1) * r;
    } else {
        w = (9 * c - 7) * s;
        h = 20 * s * r;
    }
    SetBounds(Left(), Top(), w, h);
    Invalidate();
}

void TLEDGadget::CMTextChanged() {
    TGraphicControl::CMTextChanged();
    Invalidate();
}

void TLEDGadget::Paint() {
    if (Width() <= 0 || Height() <= 0) return;
    if (!draw_on_screen_) {
        // Through one bitmap, so that the cells never show half drawn.
        try {
            TBitmap bitmap;
            bitmap.SetSize(Width(), Height());
            if (bitmap.Canvas()->Handle()) {
                DrawGadget(bitmap.Canvas());
                Canvas()->SetCopyMode(SRCCOPY);
                Canvas()->Draw(0, 0, &bitmap);
                return;
            }
        } catch (const std::exception&) {
            // No bitmap: draw in place instead.
        }
    }
    DrawGadget(Canvas());
}

void TLEDGadget::DrawGadget(TCanvas* canvas) {
    const int s = segment_size_;
    thin_mode_ = false;
    SegmentTable table;
    if (draw_mode_ == dmLine || s == 1) {
        thin_mode_ = draw_mode_ == dmPolygon;
        for (int n = 0; n < kSegments; ++n)
            for (int k = 0; k < 2; ++k)
                table.pt[n][k] = Point(scale_round(line_shapes[n][k].x, s), scale_round(line_shapes[n][k].y, s));
    } else {
        for (int n = 0; n < kSegments; ++n)
            for (int k = 0; k < polygon_corners[n]; ++k)
                table.pt[n][k] =
                    Point(scale_round(polygon_shapes[n][k].x, s - 1), scale_round(polygon_shapes[n][k].y, s - 1));
    }
    const bool lines = draw_mode_ == dmLine || thin_mode_;
    const int cell_w = lines ? 8 * s : 17 * (s - 1);
    const int row_h = lines ? 20 * s : 30 * (s - 1);

    canvas->Pen()->SetMode(pmCopy);
    canvas->Brush()->SetStyle(bsSolid);
    canvas->Brush()->SetColor(back_color_);
    canvas->FillRect(ClientRect());

    const COLORREF back_rgb = ColorToRGB(back_color_);
    const bool unlit_shows = ColorToRGB(unlit_color_) != back_rgb;
    const bool lit_shows = ColorToRGB(lit_color_) != back_rgb;
    const int width = Width(), height = Height();

    auto paint_seg = [&](int n, TColor color, int x, int y) {
        const auto& p = table.pt[size_t(n)];
        if (lines) {
            canvas->Pen()->SetStyle(psSolid);
            canvas->Pen()->SetColor(color);
            canvas->Pen()->SetWidth(s);
            canvas->MoveTo(p[0].x + x, p[0].y + y);
            canvas->LineTo(p[1].x + x, p[1].y + y);
        } else {
            std::array<TPoint, kCorners> q;
            const int k = polygon_corners[n];
            for (int i = 0; i < k; ++i) q[size_t(i)] = Point(p[size_t(i)].x + x, p[size_t(i)].y + y);
            canvas->Pen()->SetStyle(psClear);
            canvas->Brush()->SetStyle(bsSolid);
            canvas->Brush()->SetColor(color);
            canvas->Polygon(std::span<const TPoint>(q.data(), size_t(k)));
        }
    };
    auto draw_cell = [&](uint16_t mask, int x, int y) {
        // Cells wholly outside the gadget cost nothing.
        if (x >= width || y >= height || x + cell_w + s <= 0) return;
        if (mask == kColon) {
            paint_seg(16, lit_color_, x, y);
            paint_seg(17, lit_color_, x, y);
            return;
        }
        for (int n = 0; n < 16; ++n) {
            const bool lit = mask & (0x8000u >> n);
            if (!lit && n >= 14) continue;  // unlit point and comma are not drawn
            if (lit ? !lit_shows : !unlit_shows) continue;
            paint_seg(n, lit ? lit_color_ : unlit_color_, x, y);
        }
    };

    const int columns = columns_, rows = rows_;
    const std::string& text = Caption();
    auto at = [&](const Placed& p, int shift) {
        draw_cell(p.mask, s + (p.cell + shift) * cell_w, p.row * row_h);
    };
    if (alignment_ == taLeftJustify) {
        layout_caption(text, columns, rows, [&](const Placed& p) { at(p, 0); });
        return;
    }
    // Right or centre: blank rows first, then each row's cells moved by
    // the columns it leaves free.
    std::vector<int> used(size_t(rows), 0);
    layout_caption(text, columns, rows, [&](const Placed& p) {
        if (!p.fill) used[size_t(p.row)] = std::max(used[size_t(p.row)], p.cell + 1);
    });
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) at(Placed{r, c, 0, true}, 0);
    layout_caption(text, columns, rows, [&](const Placed& p) {
        if (p.fill) return;
        const int free_cells = std::max(0, columns - used[size_t(p.row)]);
        at(p, alignment_ == taRightJustify ? free_cells : free_cells / 2);
    });
}

const ClassInfo& TLEDGadget::StaticClassInfo() {
    static const PropInfo back_color = props::Ord<&TLEDGadget::BackColor, &TLEDGadget::SetBackColor>(
        "BackColor", PropKind::Integer, clBlack, &ColorType);
    static const PropInfo draw_mode = props::Ord<&TLEDGadget::DrawMode, &TLEDGadget::SetDrawMode>(
        "DrawMode", PropKind::Enum, dmPolygon, &LEDDrawModeType);
    static const PropInfo draw_on_screen = props::Ord<&TLEDGadget::DrawOnScreen, &TLEDGadget::SetDrawOnScreen>(
        "DrawOnScreen", PropKind::Boolean, 0);
    static const PropInfo unlit_color = props::Ord<&TLEDGadget::UnlitColor, &TLEDGadget::SetUnlitColor>(
        "UnlitColor", PropKind::Integer, 16384, &ColorType);
    static const PropInfo lit_color = props::Ord<&TLEDGadget::LitColor, &TLEDGadget::SetLitColor>(
        "LitColor", PropKind::Integer, 65280, &ColorType);
    static const PropInfo segment_size = props::Ord<&TLEDGadget::SegmentSize, &TLEDGadget::SetSegmentSize>(
        "SegmentSize", PropKind::Integer, 2);
    static const PropInfo* const list[] = {
        &ControlProps::Name(), &ControlProps::Tag(), &ControlProps::Left(), &ControlProps::Top(),
        &ControlProps::Width(), &ControlProps::Height(), &back_color, &draw_mode, &draw_on_screen,
        &unlit_color, &lit_color, &ControlProps::ParentShowHint(), &ControlProps::PopupMenu(), &segment_size, &ControlProps::ShowHint(),
        &ControlProps::Visible(), &ControlProps::OnClick(), &ControlProps::OnDblClick(),
        &ControlProps::OnDragDrop(), &ControlProps::OnDragOver(), &ControlProps::OnEndDrag(),
        &ControlProps::OnMouseDown(), &ControlProps::OnMouseMove(), &ControlProps::OnMouseUp()};
    static const ClassInfo info{"TLEDGadget", &TGraphicControl::StaticClassInfo(), list, {}, {},
                                &props::Create<TLEDGadget>};
    return info;
}

// --- TLEDLabel ----------------------------------------------------------------

const ClassInfo& TLEDLabel::StaticClassInfo() {
    static const PropInfo columns =
        props::Ord<&TLEDLabel::Columns, &TLEDLabel::SetColumns>("Columns", PropKind::Integer, 4);
    static const PropInfo rows = props::Ord<&TLEDLabel::Rows, &TLEDLabel::SetRows>("Rows", PropKind::Integer, 1);
    static const std::vector<const PropInfo*> list = [] {
        const auto base = TLEDGadget::StaticClassInfo().props;
        std::vector<const PropInfo*> v(base.begin(), base.end());
        v.insert(v.end(), {&ControlProps::Caption(), &columns, &rows});
        return v;
    }();
    static const ClassInfo info{"TLEDLabel", &TLEDGadget::StaticClassInfo(), list, {}, {},
                                &props::Create<TLEDLabel>};
    return info;
}

// --- TLEDClock ----------------------------------------------------------------

TLEDClock::TLEDClock(TComponent* owner) : TLEDGadget(owner) {
    // The clock names its own caption.
    control_style_ &= ~StyleBit(csSetCaption);
    timer_ = new TTimer(this);
    TNotifyEvent tick;
    tick.Bind(this, &TLEDClock::TimerTick);
    timer_->SetOnTimer(tick);
    timer_->SetInterval(interval_);
    timer_->SetEnabled(true);
    SetColumns(8);
    TimerTick(this);
}

TLEDClock::~TLEDClock() {
    delete timer_;  // leaves the owner's list as it goes
    timer_ = nullptr;
}

void TLEDClock::SetInterval(int ms) {
    const auto v = static_cast<uint16_t>(std::clamp(ms, 0, 0xFFFF));
    if (v == interval_) return;
    interval_ = v;
    timer_->SetInterval(v);
}

void TLEDClock::SetShowSeconds(bool v) {
    if (v == show_seconds_) return;
    show_seconds_ = v;
    SetColumns(v ? 8 : 5);
    Invalidate();
}

void TLEDClock::CMEnabledChanged() {
    TLEDGadget::CMEnabledChanged();
    if (timer_) timer_->SetEnabled(Enabled());
}

void TLEDClock::TimerTick(TObject*) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    const double now = (st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond) / 86400.0;
    if (now != last_time_) {
        last_time_ = now;
        std::string text = FormatLongTime(st.wHour, st.wMinute, st.wSecond);
        // A one-digit hour keeps the width of two.
        if (text.size() < 2 || text[1] < '0' || text[1] > '9') text.insert(text.begin(), ' ');
        SetCaption(text);
    }
    OnTimer(this);
}

const ClassInfo& TLEDClock::StaticClassInfo() {
    static const PropInfo on_timer = props::Evt<&TLEDClock::OnTimer>("OnTimer");
    static const PropInfo interval =
        props::Ord<&TLEDClock::Interval, &TLEDClock::SetInterval>("Interval", PropKind::Integer, 100);
    static const PropInfo show_seconds = props::Ord<&TLEDClock::ShowSeconds, &TLEDClock::SetShowSeconds>(
        "ShowSeconds", PropKind::Boolean, 1);
    static const std::vector<const PropInfo*> list = [] {
        const auto base = TLEDGadget::StaticClassInfo().props;
        std::vector<const PropInfo*> v(base.begin(), base.end());
        v.insert(v.end(), {&on_timer, &ControlProps::Enabled(), &interval, &show_seconds});
        return v;
    }();
    static const ClassInfo info{"TLEDClock", &TLEDGadget::StaticClassInfo(), list, {}, {},
                                &props::Create<TLEDClock>};
    return info;
}

namespace {
// Forms create the gadgets by class name.
const bool registered = [] {
    RegisterClass(TLEDGadget::StaticClassInfo());
    RegisterClass(TLEDLabel::StaticClassInfo());
    RegisterClass(TLEDClock::StaticClassInfo());
    return true;
}();
}  // namespace
