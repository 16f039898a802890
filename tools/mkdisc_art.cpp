// Texts here are code page 936 (the file is compiled with that execution
// character set) so that they reach TextOutA as GBK.
#include "mkdisc_art.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "win32/gdi.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t rgb(int r, int g, int b) {
    return uint32_t(std::clamp(r, 0, 255)) << 16 | uint32_t(std::clamp(g, 0, 255)) << 8 |
           uint32_t(std::clamp(b, 0, 255));
}
int red(uint32_t c) { return int(c >> 16 & 255); }
int green(uint32_t c) { return int(c >> 8 & 255); }
int blue(uint32_t c) { return int(c & 255); }
uint32_t mix(uint32_t a, uint32_t b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return rgb(int(std::lround(red(a) + (red(b) - red(a)) * t)), int(std::lround(green(a) + (green(b) - green(a)) * t)),
               int(std::lround(blue(a) + (blue(b) - blue(a)) * t)));
}

// A small fixed generator: the same disc every time.
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed) {}
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return int(next() % uint32_t(n)); }
};

// A 32-bit top-down DIB section: pixels by hand, text through GDI.
class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h) {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bmp_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!dc_ || !bmp_ || !bits) throw std::runtime_error("cannot make a drawing surface");
        bits_ = static_cast<uint32_t*>(bits);
        old_ = SelectObject(dc_, bmp_);
        SetBkMode(dc_, TRANSPARENT);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bmp_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int width() const { return w_; }
    int height() const { return h_; }
    void set(int x, int y, uint32_t c) {
        if (x >= 0 && y >= 0 && x < w_ && y < h_) bits_[size_t(y) * size_t(w_) + size_t(x)] = c;
    }
    uint32_t get(int x, int y) const { return bits_[size_t(y) * size_t(w_) + size_t(x)]; }
    void blend(int x, int y, uint32_t c, double a) {
        if (x >= 0 && y >= 0 && x < w_ && y < h_) set(x, y, mix(get(x, y), c, a));
    }

    void fill(uint32_t c) { rect(0, 0, w_, h_, c); }
    void rect(int x0, int y0, int x1, int y1, uint32_t c) {
        for (int y = std::max(0, y0); y < std::min(h_, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(w_, x1); ++x) set(x, y, c);
    }
    void shade(int x0, int y0, int x1, int y1, uint32_t c, double a) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) blend(x, y, c, a);
    }
    void frame(int x0, int y0, int x1, int y1, uint32_t c, int t = 1) {
        rect(x0, y0, x1, y0 + t, c);
        rect(x0, y1 - t, x1, y1, c);
        rect(x0, y0, x0 + t, y1, c);
        rect(x1 - t, y0, x1, y1, c);
    }
    void vgradient(int x0, int y0, int x1, int y1, uint32_t top, uint32_t bottom) {
        for (int y = y0; y < y1; ++y) rect(x0, y, x1, y + 1, mix(top, bottom, double(y - y0) / std::max(1, y1 - y0 - 1)));
    }
    void ellipse(double cx, double cy, double rx, double ry, uint32_t c) {
        for (int y = int(cy - ry); y <= int(cy + ry) + 1; ++y)
            for (int x = int(cx - rx); x <= int(cx + rx) + 1; ++x) {
                const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
                if (dx * dx + dy * dy <= 1.0) set(x, y, c);
            }
    }
    void disc(double cx, double cy, double r, uint32_t c) { ellipse(cx, cy, r, r, c); }
    void ring(double cx, double cy, double r0, double r1, uint32_t c) {
        for (int y = int(cy - r1); y <= int(cy + r1) + 1; ++y)
            for (int x = int(cx - r1); x <= int(cx + r1) + 1; ++x) {
                const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                if (d >= r0 && d <= r1) set(x, y, c);
            }
    }
    // A filled triangle.
    void triangle(double ax, double ay, double bx, double by, double cx, double cy, uint32_t c) {
        const int y0 = int(std::floor(std::min({ay, by, cy}))), y1 = int(std::ceil(std::max({ay, by, cy})));
        const int x0 = int(std::floor(std::min({ax, bx, cx}))), x1 = int(std::ceil(std::max({ax, bx, cx})));
        auto side = [](double px, double py, double qx, double qy, double x, double y) {
            return (qx - px) * (y - py) - (qy - py) * (x - px);
        };
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double s1 = side(ax, ay, bx, by, px, py), s2 = side(bx, by, cx, cy, px, py),
                             s3 = side(cx, cy, ax, ay, px, py);
                if ((s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0)) set(x, y, c);
            }
    }
    void star(double cx, double cy, double r, uint32_t c) {
        for (int i = 0; i < 5; ++i) {
            const double a = -kPi / 2 + i * 2 * kPi / 5;
            const double b = a + 2 * kPi / 5 * 2;
            triangle(cx + r * std::cos(a), cy + r * std::sin(a), cx + r * 0.38 * std::cos(a + kPi * 0.6),
                     cy + r * 0.38 * std::sin(a + kPi * 0.6), cx + r * 0.38 * std::cos(a - kPi * 0.6),
                     cy + r * 0.38 * std::sin(a - kPi * 0.6), c);
            (void)b;
        }
        disc(cx, cy, r * 0.4, c);
    }

    // Text of `px` pixels with its cell's top-left at (x, y).
    void text(int x, int y, const char* s, int px, uint32_t c, bool bold = false) {
        HFONT f = font(px, bold);
        HGDIOBJ old = SelectObject(dc_, f);
        SetTextColor(dc_, RGB(red(c), green(c), blue(c)));
        TextOutA(dc_, x, y, s, int(std::strlen(s)));
        SelectObject(dc_, old);
        DeleteObject(f);
    }
    int text_width(const char* s, int px, bool bold = false) {
        HFONT f = font(px, bold);
        HGDIOBJ old = SelectObject(dc_, f);
        SIZE size{};
        GetTextExtentPoint32A(dc_, s, int(std::strlen(s)), &size);
        SelectObject(dc_, old);
        DeleteObject(f);
        return size.cx;
    }
    // Text with a dark outline, readable on any picture.
    void outlined(int x, int y, const char* s, int px, uint32_t c, uint32_t edge, bool bold = false) {
        const int d = std::max(1, px / 16);
        for (int oy = -d; oy <= d; ++oy)
            for (int ox = -d; ox <= d; ++ox)
                if (ox || oy) text(x + ox, y + oy, s, px, edge, bold);
        text(x, y, s, px, c, bold);
    }
    void centred(int cx, int y, const char* s, int px, uint32_t c, uint32_t edge, bool bold = false) {
        outlined(cx - text_width(s, px, bold) / 2, y, s, px, c, edge, bold);
    }

    Pixels pixels(int x = 0, int y = 0, int w = -1, int h = -1) const {
        if (w < 0) w = w_;
        if (h < 0) h = h_;
        Pixels p{w, h, std::vector<uint32_t>(size_t(w) * size_t(h))};
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) p.px[size_t(j) * size_t(w) + size_t(i)] = get(x + i, y + j) & 0xFFFFFF;
        return p;
    }
    void paste(const Pixels& p, int x, int y) {
        for (int j = 0; j < p.height; ++j)
            for (int i = 0; i < p.width; ++i) set(x + i, y + j, p.at(i, j));
    }

private:
    static HFONT font(int px, bool bold) {
        LOGFONTA lf{};
        lf.lfHeight = -px;
        lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
        lf.lfCharSet = GB2312_CHARSET;
        std::strcpy(lf.lfFaceName, "SimSun");
        return CreateFontIndirectA(&lf);
    }

    int w_, h_;
    HDC dc_ = nullptr;
    HBITMAP bmp_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// Area-averaged reduction.
Pixels Shrink(const Pixels& src, int w, int h) {
    Pixels out{w, h, std::vector<uint32_t>(size_t(w) * size_t(h))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int x0 = x * src.width / w, x1 = std::max(x0 + 1, (x + 1) * src.width / w);
            const int y0 = y * src.height / h, y1 = std::max(y0 + 1, (y + 1) * src.height / h);
            long r = 0, g = 0, b = 0, n = 0;
            for (int j = y0; j < y1; ++j)
                for (int i = x0; i < x1; ++i) {
                    const uint32_t c = src.at(i, j);
                    r += red(c);
                    g += green(c);
                    b += blue(c);
                    ++n;
                }
            out.px[size_t(y) * size_t(w) + size_t(x)] = rgb(int(r / n), int(g / n), int(b / n));
        }
    return out;
}

void Stars(Canvas& c, uint32_t seed, int count, int y_limit) {
    Random r(seed);
    for (int i = 0; i < count; ++i) {
        const int x = r.below(c.width()), y = r.below(y_limit);
        const int b = 150 + r.below(106);
        c.set(x, y, rgb(b, b, std::min(255, b + 30)));
        if (r.below(9) == 0) {
            c.blend(x + 1, y, rgb(b, b, b), 0.5);
            c.blend(x - 1, y, rgb(b, b, b), 0.5);
            c.blend(x, y + 1, rgb(b, b, b), 0.5);
            c.blend(x, y - 1, rgb(b, b, b), 0.5);
        }
    }
}

// A mascot's head filling a 54x54 hot spot at (x, y), shoulders below it.
void Mascot(Canvas& c, int x, int y, uint32_t hair, uint32_t eyes, uint32_t dress, bool twin_tails) {
    const double cx = x + 27, cy = y + 29;
    const uint32_t skin = rgb(255, 224, 196), outline = rgb(60, 30, 30);
    // Shoulders and dress.
    c.ellipse(cx, y + 78, 30, 26, outline);
    c.ellipse(cx, y + 78, 28, 24, dress);
    c.rect(x - 6, y + 80, x + 60, y + 104, dress);
    // Hair behind the head.
    c.ellipse(cx, cy + 2, 27, 28, hair);
    if (twin_tails) {
        c.ellipse(cx - 27, cy + 14, 8, 18, hair);
        c.ellipse(cx + 27, cy + 14, 8, 18, hair);
    }
    // Face.
    c.ellipse(cx, cy + 5, 20, 21, outline);
    c.ellipse(cx, cy + 5, 19, 20, skin);
    // Fringe.
    c.ellipse(cx, cy - 12, 22, 11, hair);
    c.triangle(cx - 14, cy - 6, cx - 4, cy - 6, cx - 10, cy + 2, hair);
    c.triangle(cx + 4, cy - 6, cx + 14, cy - 6, cx + 9, cy + 2, hair);
    // Big eyes.
    for (int side : {-1, 1}) {
        const double ex = cx + side * 8.5, ey = cy + 6;
        c.ellipse(ex, ey, 5.5, 7, rgb(255, 255, 255));
        c.ellipse(ex, ey + 1, 4, 5.5, eyes);
        c.ellipse(ex, ey + 2, 2, 3, rgb(20, 10, 30));
        c.disc(ex - 1.5, ey - 2, 1.5, rgb(255, 255, 255));
        c.rect(int(ex - 4), int(ey - 9), int(ex + 4), int(ey - 8), outline);  // brow
        c.ellipse(ex, ey + 10, 3, 1.5, rgb(255, 170, 170));  // blush
    }
    // Smile.
    for (int i = -4; i <= 4; ++i) {
        c.set(int(cx) + i, int(cy + 21 - i * i / 6.0), rgb(200, 60, 70));
        c.set(int(cx) + i, int(cy + 22 - i * i / 6.0), rgb(200, 60, 70));
    }
}

// A drop shadow under a control's place, so the buttons stand off the page.
void Shadow(Canvas& c, int x, int y, int w, int h) { c.shade(x + 6, y + 6, x + w + 6, y + h + 6, 0, 0.55); }

}  // namespace

// --- Pages ------------------------------------------------------------------------

Pixels MenuPage() {
    Canvas c(640, 480);
    c.vgradient(0, 0, 640, 480, rgb(8, 16, 64), rgb(96, 32, 112));
    Stars(c, 1999, 260, 480);
    // Light rays from the top right.
    for (int i = 0; i < 7; ++i) {
        const double a = kPi * (0.55 + i * 0.07);
        c.triangle(640, 0, 640 + 900 * std::cos(a), 900 * std::sin(a), 640 + 900 * std::cos(a + 0.025),
                   900 * std::sin(a + 0.025), rgb(120, 90, 180));
    }
    // Masthead.
    c.rect(0, 0, 640, 118, rgb(10, 10, 40));
    c.vgradient(0, 114, 640, 122, rgb(255, 200, 40), rgb(200, 80, 20));
    c.outlined(24, 14, "Kelvora", 64, rgb(255, 220, 40), rgb(180, 30, 20), true);
    c.outlined(290, 22, "1999年4月号", 32, rgb(255, 255, 255), rgb(40, 40, 120));
    c.outlined(292, 66, "电脑游戏月刊  附赠光盘", 24, rgb(150, 220, 255), rgb(20, 20, 60));
    c.star(600, 40, 22, rgb(255, 230, 80));
    c.outlined(30, 138, "本期精彩内容", 24, rgb(255, 255, 255), rgb(60, 20, 90));
    c.outlined(250, 146, "按一下图片进入", 16, rgb(255, 230, 120), rgb(40, 20, 60));
    // Places of the picture buttons.
    Shadow(c, 145, 180, 173, 233);
    Shadow(c, 333, 180, 173, 233);
    Shadow(c, 530, 422, 75, 35);
    // The two mascots over their hot spots, with name tags.
    Mascot(c, 60, 272, rgb(120, 60, 20), rgb(40, 120, 200), rgb(220, 60, 90), false);
    c.outlined(66, 380, "Mirel", 16, rgb(255, 255, 255), rgb(160, 40, 80));
    Mascot(c, 537, 258, rgb(250, 150, 200), rgb(120, 40, 160), rgb(80, 120, 230), true);
    c.outlined(546, 366, "LUMA", 16, rgb(255, 255, 255), rgb(60, 60, 160));
    // Under the clock.
    c.frame(17, 422, 70, 475, rgb(255, 220, 80), 2);
    c.outlined(76, 428, "按时钟看", 16, rgb(255, 255, 255), rgb(30, 30, 80));
    c.outlined(76, 448, "2000倒数", 16, rgb(255, 220, 80), rgb(30, 30, 80));
    c.outlined(200, 452, "Kelvora杂志社 出品 (C)1999", 12, rgb(200, 200, 230), rgb(10, 10, 40));
    return c.pixels();
}

Pixels InstallPage() {
    Canvas c(640, 480);
    c.vgradient(0, 0, 640, 480, rgb(70, 10, 10), rgb(10, 0, 0));
    // A scene from the game: moon, hills and a castle.
    c.rect(30, 110, 330, 330, rgb(20, 20, 50));
    c.vgradient(32, 112, 328, 328, rgb(30, 30, 90), rgb(200, 100, 60));
    c.disc(250, 170, 34, rgb(255, 220, 150));
    for (int x = 32; x < 328; ++x) {
        const int h = int(260 + 25 * std::sin(x / 23.0) + 10 * std::sin(x / 7.0));
        c.rect(x, h, x + 1, 328, rgb(30, 50, 30));
    }
    c.rect(90, 200, 170, 300, rgb(25, 20, 30));
    for (int i = 0; i < 5; ++i) c.rect(90 + i * 17, 190, 90 + i * 17 + 10, 200, rgb(25, 20, 30));
    c.rect(70, 170, 95, 300, rgb(25, 20, 30));
    c.triangle(66, 170, 99, 170, 82, 140, rgb(25, 20, 30));
    c.rect(165, 175, 190, 300, rgb(25, 20, 30));
    c.triangle(161, 175, 194, 175, 177, 145, rgb(25, 20, 30));
    c.rect(124, 260, 138, 300, rgb(255, 200, 90));
    c.frame(30, 110, 330, 330, rgb(220, 180, 80), 2);

    c.outlined(30, 20, "Orvanth 4", 64, rgb(255, 210, 60), rgb(90, 0, 0), true);
    c.outlined(380, 40, "奇幻角色扮演游戏", 24, rgb(255, 255, 255), rgb(60, 0, 0));
    const char* lines[] = {
        "本期光盘收录完整游戏!",      "广阔的大陆, 上百个角色,", "四位主角的命运交织在一起.",
        "全新的即时战斗系统,",         "精美的手绘场景与动画.",   "",
        "系统需求:",                   "Windows 95/98/NT",       "Pentium 133, 16MB 内存",
        "100MB 硬盘空间, 增强色显示",
    };
    int y = 116;
    for (const char* line : lines) {
        c.outlined(350, y, line, 16, rgb(255, 240, 210), rgb(40, 0, 0));
        y += 22;
    }
    c.outlined(30, 350, "按 [安装游戏] 开始安装, 安装程序会在光盘主画面旁执行.", 16, rgb(255, 220, 120),
               rgb(40, 0, 0));
    Shadow(c, 410, 415, 97, 42);
    Shadow(c, 520, 415, 97, 42);
    return c.pixels();
}

Pixels GalleryPage() {
    Canvas c(640, 480);
    c.vgradient(0, 0, 640, 480, rgb(0, 80, 90), rgb(0, 20, 50));
    for (int y = 0; y < 480; y += 8) c.shade(0, y, 640, y + 1, rgb(255, 255, 255), 0.06);
    c.outlined(12, 12, "1999年4 - 6月桌布集", 32, rgb(255, 255, 180), rgb(0, 40, 60));
    c.outlined(400, 28, "十二张精选桌布", 16, rgb(200, 255, 255), rgb(0, 40, 60));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 4; ++col) Shadow(c, 10 + col * 155, 62 + row * 114, 147, 112);
    c.outlined(14, 422, "左键: 设定为桌布", 16, rgb(255, 255, 255), rgb(0, 30, 50));
    c.outlined(14, 446, "右键: 全屏预览", 16, rgb(255, 255, 255), rgb(0, 30, 50));
    c.outlined(220, 434, "Kelvora 1999", 16, rgb(150, 220, 230), rgb(0, 30, 50));
    Shadow(c, 520, 420, 97, 42);
    return c.pixels();
}

namespace {
Pixels CountBackground(bool seconds) {
    Canvas c(640, 480);
    c.vgradient(0, 0, 640, 480, rgb(0, 0, 0), rgb(20, 40, 90));
    Stars(c, seconds ? 77 : 76, 180, 480);
    c.disc(560, 90, 50, rgb(255, 250, 220));
    c.disc(540, 80, 46, rgb(0, 4, 12));
    c.centred(320, 60, "距离公元2000年还有", 32, rgb(255, 230, 90), rgb(90, 20, 0));
    c.centred(320, 110, "千禧年倒数计时", 24, rgb(150, 220, 255), rgb(0, 20, 60));
    if (!seconds) {
        // Units beside the four LED labels.
        const struct { int x; const char* unit; } units[] = {{162, "天"}, {306, "时"}, {451, "分"}, {596, "秒"}};
        for (const auto& u : units) c.outlined(u.x, 226, u.unit, 32, rgb(255, 255, 255), rgb(0, 60, 0));
        c.frame(1, 196, 639, 294, rgb(60, 200, 60), 1);
    } else {
        c.outlined(576, 262, "秒", 32, rgb(255, 255, 255), rgb(0, 60, 0));
        c.frame(21, 216, 573, 344, rgb(60, 200, 60), 1);
    }
    c.centred(320, 400, "按 Esc 或空白键返回主画面", 16, rgb(200, 200, 200), rgb(0, 0, 0));
    return c.pixels();
}
}  // namespace

Pixels CountdownPage() { return CountBackground(false); }
Pixels SecondsPage() { return CountBackground(true); }

// --- Wallpapers ---------------------------------------------------------------------

Pixels Wallpaper(int n) {
    Canvas c(640, 480);
    static const char* const names[13] = {"",     "夕阳", "棋盘", "涟漪", "星夜", "斜纹", "幻彩",
                                          "山峦", "泡泡", "积木", "网格", "海浪", "千禧"};
    switch (n) {
        case 1:  // sunset over the sea
            c.vgradient(0, 0, 640, 300, rgb(40, 20, 90), rgb(255, 140, 60));
            c.disc(320, 300, 80, rgb(255, 220, 120));
            c.vgradient(0, 300, 640, 480, rgb(60, 40, 110), rgb(10, 10, 50));
            for (int y = 305; y < 480; y += 9) c.rect(320 - (y - 280), y, 320 + (y - 280), y + 3, rgb(255, 180, 90));
            break;
        case 2:  // chequers
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x)
                    c.set(x, y, ((x / 40 + y / 40) % 2) ? rgb(30, 60, 160) : mix(rgb(250, 250, 250), rgb(180, 200, 255), y / 480.0));
            break;
        case 3:  // ripples
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x) {
                    const double d = std::hypot(x - 320.0, y - 240.0);
                    const double v = 0.5 + 0.5 * std::sin(d / 9.0);
                    c.set(x, y, mix(rgb(0, 60, 80), rgb(120, 230, 230), v));
                }
            break;
        case 4:  // starry night
            c.vgradient(0, 0, 640, 480, rgb(0, 0, 20), rgb(20, 30, 80));
            Stars(c, 404, 700, 480);
            c.disc(480, 110, 60, rgb(250, 245, 200));
            c.disc(455, 95, 56, rgb(2, 3, 28));
            for (int x = 0; x < 640; ++x) c.rect(x, int(420 + 20 * std::sin(x / 60.0)), x + 1, 480, rgb(0, 0, 0));
            break;
        case 5:  // diagonal stripes
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x) {
                    const int band = ((x + y) / 32) % 4;
                    const uint32_t colours[4] = {rgb(240, 80, 80), rgb(250, 200, 60), rgb(70, 180, 90), rgb(60, 120, 220)};
                    c.set(x, y, colours[band]);
                }
            break;
        case 6:  // plasma
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x) {
                    const double v = std::sin(x / 37.0) + std::sin(y / 23.0) + std::sin((x + y) / 51.0) +
                                     std::sin(std::hypot(x - 200.0, y - 300.0) / 29.0);
                    c.set(x, y, rgb(int(128 + 127 * std::sin(v * 1.3)), int(128 + 127 * std::sin(v * 1.3 + 2.1)),
                                    int(128 + 127 * std::sin(v * 1.3 + 4.2))));
                }
            break;
        case 7:  // mountains
            c.vgradient(0, 0, 640, 480, rgb(140, 200, 255), rgb(255, 240, 220));
            for (int layer = 0; layer < 3; ++layer) {
                const uint32_t colour = mix(rgb(150, 160, 200), rgb(30, 60, 50), layer / 2.0);
                for (int x = 0; x < 640; ++x) {
                    const double h = 200 + layer * 70 + 50 * std::sin(x / (70.0 - layer * 15) + layer) +
                                     25 * std::sin(x / 19.0 + layer * 2);
                    c.rect(x, int(h), x + 1, 480, colour);
                }
            }
            c.disc(110, 90, 36, rgb(255, 255, 230));
            break;
        case 8: {  // bubbles
            c.vgradient(0, 0, 640, 480, rgb(0, 120, 180), rgb(0, 30, 90));
            Random r(808);
            for (int i = 0; i < 60; ++i) {
                const double x = r.below(640), y = r.below(480), rr = 8 + r.below(40);
                c.ring(x, y, rr - 2, rr, rgb(200, 240, 255));
                c.disc(x - rr / 3, y - rr / 3, rr / 5, rgb(255, 255, 255));
            }
            break;
        }
        case 9: {  // blocks in the sixteen display colours
            const std::vector<uint32_t>& vga = VgaPalette();
            c.fill(vga[15]);
            Random r(909);
            for (int i = 0; i < 40; ++i) {
                const int x = r.below(600), y = r.below(440), w = 30 + r.below(160), h = 30 + r.below(120);
                c.rect(x, y, x + w, y + h, vga[size_t(1 + r.below(14))]);
                c.frame(x, y, x + w, y + h, vga[0], 4);
            }
            break;
        }
        case 10:  // perspective grid
            c.vgradient(0, 0, 640, 240, rgb(10, 0, 40), rgb(200, 40, 140));
            c.rect(0, 240, 640, 480, rgb(10, 0, 30));
            for (int i = 1; i < 20; ++i) {
                const int y = 240 + int(240 * std::pow(i / 20.0, 2));
                c.rect(0, y, 640, y + 1, rgb(0, 255, 255));
            }
            for (int i = -16; i <= 16; ++i)
                for (int y = 240; y < 480; ++y) c.set(320 + int(i * 40 * (y - 240) / 240.0), y, rgb(0, 255, 255));
            c.disc(320, 200, 70, rgb(255, 200, 60));
            for (int y = 150; y < 240; y += 10) c.rect(240, y, 400, y + 3, mix(rgb(10, 0, 40), rgb(200, 40, 140), (y - 0) / 240.0));
            break;
        case 11:  // waves
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x) {
                    const double v = std::sin(y / 14.0 + 3 * std::sin(x / 90.0));
                    c.set(x, y, mix(rgb(10, 40, 120), rgb(90, 200, 240), 0.5 + 0.5 * v));
                }
            break;
        default: {  // the millennium
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x)
                    c.set(x, y, mix(rgb(255, 230, 120), rgb(120, 20, 60), std::hypot(x - 320.0, y - 240.0) / 400.0));
            c.centred(320, 150, "2000", 128, rgb(255, 255, 255), rgb(120, 20, 60), true);
            break;
        }
    }
    c.outlined(20, 20, names[std::clamp(n, 1, 12)], 48, rgb(255, 255, 255), rgb(30, 30, 30));
    char caption[64];
    std::snprintf(caption, sizeof caption, "Kelvora 1999.04  桌布 No.%02d", n);
    c.outlined(640 - 12 - c.text_width(caption, 16), 452, caption, 16, rgb(255, 255, 255), rgb(30, 30, 30));
    return c.pixels();
}

// --- Button pictures ----------------------------------------------------------------

Pixels ButtonPicture(int n) {
    if (n >= 6 && n <= 17) return Shrink(Wallpaper(n - 5), 143, 108);
    if (n == 1) {
        Canvas c(165, 225);
        c.vgradient(0, 0, 165, 225, rgb(120, 10, 10), rgb(10, 0, 0));
        c.disc(115, 95, 36, rgb(255, 170, 60));
        c.rect(30, 110, 100, 190, rgb(20, 10, 10));
        c.rect(20, 90, 40, 190, rgb(20, 10, 10));
        c.triangle(16, 90, 44, 90, 30, 62, rgb(20, 10, 10));
        c.rect(95, 100, 115, 190, rgb(20, 10, 10));
        c.triangle(91, 100, 119, 100, 105, 74, rgb(20, 10, 10));
        c.rect(0, 185, 165, 225, rgb(20, 10, 10));
        c.outlined(8, 8, "Orvanth", 32, rgb(255, 210, 60), rgb(90, 0, 0), true);
        c.outlined(128, 36, "4", 32, rgb(255, 255, 255), rgb(90, 0, 0), true);
        c.centred(82, 196, "安装游戏", 16, rgb(255, 255, 255), rgb(90, 0, 0));
        return c.pixels();
    }
    if (n == 2) {
        Canvas c(165, 225);
        c.vgradient(0, 0, 165, 225, rgb(0, 120, 130), rgb(0, 20, 60));
        for (int i = 0; i < 6; ++i) {
            const Pixels t = Shrink(Wallpaper(i + 1), 70, 52);
            const int x = 9 + (i % 2) * 77, y = 54 + (i / 2) * 56;
            c.rect(x - 1, y - 1, x + 71, y + 53, rgb(255, 255, 255));
            c.paste(t, x, y);
        }
        c.centred(82, 6, "桌布集", 32, rgb(255, 255, 180), rgb(0, 40, 60));
        c.centred(82, 204, "1999年4-6月", 16, rgb(255, 255, 255), rgb(0, 40, 60));
        return c.pixels();
    }
    struct Small {
        int w, h;
        uint32_t top, bottom;
        const char* text;
    };
    const Small small = n == 3   ? Small{69, 29, rgb(230, 60, 50), rgb(120, 10, 10), "结束"}
                        : n == 4 ? Small{91, 36, rgb(60, 180, 70), rgb(10, 70, 20), "安装游戏"}
                                 : Small{91, 36, rgb(70, 120, 230), rgb(10, 30, 110), "返回主画面"};
    Canvas c(small.w, small.h);
    c.vgradient(0, 0, small.w, small.h, small.top, small.bottom);
    c.centred(small.w / 2, (small.h - 16) / 2, small.text, 16, rgb(255, 255, 255), rgb(0, 0, 0));
    return c.pixels();
}

Pixels IconPicture() {
    Canvas c(32, 32);
    c.fill(VgaPalette()[4]);
    c.disc(16, 16, 14, VgaPalette()[7]);
    c.disc(16, 16, 4, VgaPalette()[4]);
    c.ring(16, 16, 8, 9, VgaPalette()[8]);
    c.text(3, 8, "K", 16, VgaPalette()[14], true);
    return c.pixels();
}

// --- Sounds -------------------------------------------------------------------------

namespace {
// A tone that sweeps from f0 to f1 Hz under a fast attack and a decay,
// then silence, as unsigned 8-bit samples at 22050 Hz.
std::vector<uint8_t> Blip(size_t count, double f0, double f1, double length, double harmonic) {
    std::vector<uint8_t> s(count, 128);
    double phase = 0;
    const double rate = 22050;
    for (size_t i = 0; i < count; ++i) {
        const double t = double(i) / rate;
        if (t >= length) break;
        const double f = f0 + (f1 - f0) * (t / length);
        phase += 2 * kPi * f / rate;
        const double env = std::min(1.0, t / 0.004) * std::exp(-t / (length / 4)) * (1 - t / length);
        const double v = std::sin(phase) + harmonic * std::sin(2 * phase);
        s[i] = uint8_t(std::clamp(128 + int(std::lround(100 * env * v / (1 + harmonic))), 1, 255));
    }
    return s;
}
}  // namespace

// 44 bytes of header; the rest is the sound.
std::vector<uint8_t> ClickSamples() { return Blip(15482 - 44, 1400, 700, 0.30, 0.35); }
std::vector<uint8_t> CloseSamples() { return Blip(15920 - 44, 520, 260, 0.45, 0.25); }
