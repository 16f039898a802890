// Text: fonts, TextOutA, GetTextExtentPoint32A and DrawTextA.
//
// Glyphs come only from bitmap fonts, so pixels do not depend on the
// rasterizer: the WenQuanYi bitmap song strikes (Chinese and ASCII, found
// through fontconfig in the font folder only, read with FreeType) and
// unifont's 8x16 and 16x16 cells for the OEM font. Heights above the largest
// strike are a strike scaled up. ANSI strings are code page 936, decoded with
// iconv. A character without a glyph draws the font's default box.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "gdi_state.h"

namespace win32::gdi {
namespace {

constexpr uint32_t kMissing = 0xFFFFFFFFu;
constexpr int kMaxPixelSize = 256;
constexpr const char* kBitmapFamily = "WenQuanYi Bitmap Song";
constexpr const char* kUnifont = "/usr/share/unifont/unifont.hex";
// Where Debian puts xfonts-wqy.
constexpr const char* kFontDir = "/usr/share/fonts/X11/misc";
// unifont cells: 8 or 16 wide, 16 high, baseline under row 13.
constexpr int kOemCellWidth = 8, kOemCellHeight = 16, kOemAscent = 14;
// Larger strikes are not taken, so glyph sizes stay bounded whatever a
// font file says.
constexpr int kMaxStrikePixels = 64;

struct Glyph {
    int advance = 0;
    int left = 0;  // from the pen position
    int top = 0;   // rows above the baseline
    int width = 0;
    int rows = 0;
    std::vector<uint8_t> bits;  // one byte per pixel, 0 or 1
};

// One bitmap strike of the song family, its glyphs at their own size.
struct Strike {
    FT_Face ft = nullptr;
    int pixels = 0;  // character height: the cell, no internal leading
    int ascent = 0;
    int half_width = 6;
    int full_width = 12;
    std::unordered_map<uint32_t, Glyph> glyphs;  // fitted to the cell
    ~Strike() {
        if (ft) FT_Done_Face(ft);
    }
};

// One font at one pixel size: a strike as it is, a strike scaled, or OEM.
struct Face {
    bool oem = false;
    Strike* strike = nullptr;
    int pixels = 0;  // cell height
    int ascent = 0;
    int descent = 0;
    int half_width = 6;
    int full_width = 12;
    std::unordered_map<uint64_t, Glyph> glyphs;
};

struct Unit {
    uint32_t cp;    // Unicode, or kMissing
    int bytes;      // 1 or 2
    bool underline = false;
};

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t ceil_div(int64_t a, int64_t b) { return -floor_div(-a, b); }

// Nearest-neighbour scaling of a strike of `from` rows to `to` rows, on
// pixel centres. Whole factors replicate each pixel; both are integer
// arithmetic, so the same pixels come out everywhere.
struct Scale {
    int64_t from = 1, to = 1;
    // The source pixel a destination pixel shows.
    int64_t source(int64_t d) const { return floor_div((2 * d + 1) * from, 2 * to); }
    // The first destination pixel showing source pixel n or later.
    int64_t edge(int64_t n) const { return ceil_div(2 * to * n - from, 2 * from); }
};

// Rows and columns of ink only, as a strike's bitmaps may carry blank ones.
void trim(Glyph& g) {
    int x0 = g.width, x1 = -1, y0 = g.rows, y1 = -1;
    for (int y = 0; y < g.rows; ++y)
        for (int x = 0; x < g.width; ++x)
            if (g.bits[size_t(y) * size_t(g.width) + size_t(x)]) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    if (x1 < 0) {
        g.width = g.rows = 0;
        g.bits.clear();
        return;
    }
    Glyph t = g;
    t.width = x1 - x0 + 1;
    t.rows = y1 - y0 + 1;
    t.left = g.left + x0;
    t.top = g.top - y0;
    t.bits.assign(size_t(t.width) * size_t(t.rows), 0);
    for (int y = 0; y < t.rows; ++y)
        for (int x = 0; x < t.width; ++x)
            t.bits[size_t(y) * size_t(t.width) + size_t(x)] =
                g.bits[size_t(y + y0) * size_t(g.width) + size_t(x + x0)];
    g = std::move(t);
}

// A bitmap font draws inside its cell: a glyph reaching out of it moves in
// as far as the room on the other side allows, and what still sticks out
// is cut. Then the cell is all the ink and an opaque background covers it.
void fit(Glyph& g, int ascent, int height) {
    trim(g);
    if (g.rows == 0) return;
    int y0 = ascent - g.top;  // cell row of the glyph's first row
    const int y1 = y0 + g.rows;
    if (y0 < 0) y0 += std::min(-y0, std::max(0, height - y1));
    else if (y1 > height) y0 -= std::min(y1 - height, y0);
    const int first = std::clamp(-y0, 0, g.rows);
    const int last = std::clamp(height - y0, first, g.rows);
    Glyph t = g;
    t.top = ascent - (y0 + first);
    t.rows = last - first;
    t.bits.assign(g.bits.begin() + std::ptrdiff_t(first) * g.width,
                  g.bits.begin() + std::ptrdiff_t(first + t.rows) * g.width);
    g = std::move(t);
}

// The font's default character: an empty box inside the cell, as wide as
// the character.
Glyph box(int advance, int ascent) {
    Glyph g;
    g.advance = advance;
    g.width = std::max(1, advance - 2);
    g.rows = std::max(2, ascent - 1);
    g.left = 1;
    g.top = ascent - 1;
    g.bits.assign(size_t(g.width) * size_t(g.rows), 0);
    for (int y = 0; y < g.rows; ++y)
        for (int x = 0; x < g.width; ++x)
            if (y == 0 || y == g.rows - 1 || x == 0 || x == g.width - 1)
                g.bits[size_t(y) * size_t(g.width) + size_t(x)] = 1;
    return g;
}

// A glyph of a strike's cell (ascent, height) drawn in a cell `s` times it.
Glyph scaled(const Glyph& g, int ascent, const Scale& s) {
    Glyph t;
    t.advance = int(s.edge(g.advance));
    if (g.rows == 0 || g.width == 0) return t;
    const int64_t y0 = ascent - g.top;  // source cell rows
    const int64_t dy0 = s.edge(y0), dy1 = s.edge(y0 + g.rows);
    const int64_t dx0 = s.edge(g.left), dx1 = s.edge(int64_t(g.left) + g.width);
    const int64_t dst_ascent = s.edge(ascent);
    t.left = int(dx0);
    t.top = int(dst_ascent - dy0);
    t.width = int(dx1 - dx0);
    t.rows = int(dy1 - dy0);
    t.bits.assign(size_t(t.width) * size_t(t.rows), 0);
    for (int64_t y = dy0; y < dy1; ++y) {
        const int64_t sy = std::clamp<int64_t>(s.source(y) - y0, 0, g.rows - 1);
        for (int64_t x = dx0; x < dx1; ++x) {
            const int64_t sx = std::clamp<int64_t>(s.source(x) - g.left, 0, g.width - 1);
            t.bits[size_t(y - dy0) * size_t(t.width) + size_t(x - dx0)] =
                g.bits[size_t(sy) * size_t(g.width) + size_t(sx)];
        }
    }
    return t;
}

// Bold from a regular bitmap, as GDI makes it: each pixel once more one
// to the right, and one pixel more of advance.
void embolden(Glyph& g) {
    Glyph b = g;
    b.width = g.width + 1;
    b.advance = g.advance + 1;
    b.bits.assign(size_t(b.width) * size_t(b.rows), 0);
    for (int y = 0; y < g.rows; ++y)
        for (int x = 0; x < g.width; ++x)
            if (g.bits[size_t(y) * size_t(g.width) + size_t(x)]) {
                b.bits[size_t(y) * size_t(b.width) + size_t(x)] = 1;
                b.bits[size_t(y) * size_t(b.width) + size_t(x) + 1] = 1;
            }
    g = std::move(b);
}

class Fonts {
public:
    static Fonts& get() {
        static auto* f = new Fonts;  // glyph caches live as long as the process
        return *f;
    }

    // The face for a pixel size: the nearest strike up to the largest one;
    // above it a strike scaled (see base_for).
    Face& face(int pixels, bool oem) {
        pixels = oem ? 0 : std::clamp(pixels, 1, kMaxPixelSize);
        auto it = faces_.find(pixels);
        if (it != faces_.end()) return *it->second;
        auto f = std::make_unique<Face>();
        f->oem = oem;
        if (oem) {
            f->pixels = kOemCellHeight;
            f->ascent = kOemAscent;
            f->half_width = kOemCellWidth;
            f->full_width = 2 * kOemCellWidth;
        } else if (Strike* s = base_for(pixels)) {
            f->strike = s;
            const int64_t to = pixels > s->pixels ? pixels : s->pixels;
            const Scale scale{s->pixels, to};
            f->pixels = int(to);
            f->ascent = int(scale.edge(s->ascent));
            f->half_width = int(scale.edge(s->half_width));
            f->full_width = int(scale.edge(s->full_width));
        } else {  // no strike installed: boxes in a cell of the size asked
            f->pixels = pixels;
            f->ascent = pixels * 5 / 6;
            f->half_width = std::max(1, pixels / 2);
            f->full_width = pixels;
        }
        f->descent = f->pixels - f->ascent;
        Face& ref = *f;
        faces_.emplace(pixels, std::move(f));
        return ref;
    }

    // `wide`: the character was two bytes, two cells of a fixed-pitch face.
    const Glyph& glyph(Face& f, uint32_t cp, bool wide, bool bold) {
        const uint64_t key = uint64_t(cp) << 2 | uint64_t(f.oem && wide) << 1 | uint64_t(bold);
        auto it = f.glyphs.find(key);
        if (it != f.glyphs.end()) return it->second;
        Glyph g;
        if (f.oem) {
            g = oem_glyph(cp, wide);
        } else if (f.strike) {
            Strike& s = *f.strike;
            g = strike_glyph(s, cp);
            if (f.pixels != s.pixels) g = scaled(g, s.ascent, Scale{s.pixels, f.pixels});
        } else {
            g = box(cp < 0x80 ? f.half_width : f.full_width, f.ascent);
        }
        if (bold) embolden(g);
        return f.glyphs.emplace(key, std::move(g)).first->second;
    }

private:
    Fonts() {
        if (FT_Init_FreeType(&lib_)) lib_ = nullptr;
        find_strikes();
    }

    // A configuration of the font folder alone: a user's aliases and
    // substitutions must not change which glyphs the text gets.
    static FcConfig* font_config() {
        static FcConfig* config = [] {
            FcConfig* c = FcConfigCreate();
            if (!c) return c;
            std::string xml = "<fontconfig><cachedir prefix=\"xdg\">fontconfig</cachedir>";
            xml += std::string("<dir>") + kFontDir + "</dir></fontconfig>";
            FcConfigParseAndLoadFromMemory(c, reinterpret_cast<const FcChar8*>(xml.c_str()), FcFalse);
            FcConfigBuildFonts(c);
            return c;
        }();
        return config;
    }

    // The family's bitmap files by pixel size; scalable files are not taken.
    void find_strikes() {
        FcConfig* config = font_config();
        if (!config) return;
        FcPattern* p = FcPatternCreate();
        FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(kBitmapFamily));
        FcObjectSet* os = FcObjectSetBuild(FC_FILE, FC_PIXEL_SIZE, FC_SCALABLE, nullptr);
        FcFontSet* set = FcFontList(config, p, os);
        for (int i = 0; set && i < set->nfont; ++i) {
            FcChar8* path = nullptr;
            double size = 0;
            FcBool scalable = FcFalse;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &path) != FcResultMatch) continue;
            if (FcPatternGetDouble(set->fonts[i], FC_PIXEL_SIZE, 0, &size) != FcResultMatch) continue;
            if (FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch && scalable)
                continue;
            const int pixels = int(size + 0.5);
            if (pixels < 1 || pixels > kMaxStrikePixels) continue;
            const std::string file = reinterpret_cast<const char*>(path);
            auto [at, added] = files_.emplace(pixels, file);
            if (!added && file < at->second) at->second = file;  // the same choice every run
        }
        if (set) FcFontSetDestroy(set);
        FcObjectSetDestroy(os);
        FcPatternDestroy(p);
    }

    // The strike a height is drawn from: up to the largest strike, the
    // nearest one (the smaller of two as near), unscaled. Above it, a strike
    // the height is a whole multiple of (the largest such), replicated, since
    // whole factors keep every stroke equally thick; else the largest strike,
    // nearest-neighbour scaled.
    Strike* base_for(int pixels) {
        if (files_.empty()) return nullptr;
        const int largest = files_.rbegin()->first;
        int chosen = 0;
        if (pixels <= largest) {
            for (const auto& [size, file] : files_)
                if (!chosen || std::abs(size - pixels) < std::abs(chosen - pixels)) chosen = size;
        } else {
            for (const auto& [size, file] : files_)
                if (pixels % size == 0) chosen = size;
            if (!chosen) chosen = largest;
        }
        return strike(chosen);
    }

    Strike* strike(int pixels) {
        auto it = strikes_.find(pixels);
        if (it != strikes_.end()) return it->second.get();
        auto s = std::make_unique<Strike>();
        s->pixels = pixels;
        const std::string& file = files_.at(pixels);
        if (!lib_ || FT_New_Face(lib_, file.c_str(), 0, &s->ft) || s->ft->num_fixed_sizes < 1) {
            if (s->ft) FT_Done_Face(s->ft);
            s->ft = nullptr;
        } else {
            int best = 0;
            for (int i = 1; i < s->ft->num_fixed_sizes; ++i)
                if (std::abs(s->ft->available_sizes[i].height - pixels) <
                    std::abs(s->ft->available_sizes[best].height - pixels))
                    best = i;
            if (FT_Select_Size(s->ft, best)) {
                FT_Done_Face(s->ft);
                s->ft = nullptr;
            }
        }
        // The baseline sits under the ideographs, which fill the cell from
        // its top; the rest of the character height is the descent.
        Glyph ideograph;
        if (ft_glyph(*s, 0x4E2D, ideograph)) {
            trim(ideograph);
            s->ascent = ideograph.top;
            s->full_width = ideograph.advance;
        } else if (s->ft && s->ft->size) {
            const int64_t a = s->ft->size->metrics.ascender >> 6, d = -s->ft->size->metrics.descender >> 6;
            s->ascent = a + d > 0 ? int(a * pixels / (a + d)) : pixels * 5 / 6;
            s->full_width = pixels;
        } else {
            s->ascent = pixels * 5 / 6;
            s->full_width = pixels;
        }
        s->ascent = std::clamp(s->ascent, 1, pixels);
        s->full_width = std::clamp(s->full_width, 1, 4 * kMaxStrikePixels);
        Glyph zero;
        s->half_width = ft_glyph(*s, '0', zero) ? std::clamp(zero.advance, 1, 4 * kMaxStrikePixels)
                                                 : std::max(1, s->full_width / 2);
        Strike* ref = s.get();
        strikes_.emplace(pixels, std::move(s));
        return ref;
    }

    const Glyph& strike_glyph(Strike& s, uint32_t cp) {
        auto it = s.glyphs.find(cp);
        if (it != s.glyphs.end()) return it->second;
        Glyph g;
        if (ft_glyph(s, cp, g)) fit(g, s.ascent, s.pixels);
        else g = box(cp < 0x80 ? s.half_width : s.full_width, s.ascent);
        return s.glyphs.emplace(cp, std::move(g)).first->second;
    }

    bool ft_glyph(Strike& s, uint32_t cp, Glyph& g) {
        if (!s.ft || cp == kMissing || FT_Get_Char_Index(s.ft, cp) == 0) return false;
        if (FT_Load_Char(s.ft, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME))
            return false;
        const FT_GlyphSlot slot = s.ft->glyph;
        const FT_Bitmap& b = slot->bitmap;
        // Whatever the file says, a glyph stays a few cells in size.
        const int limit = 4 * kMaxStrikePixels;
        const bool mono = b.pixel_mode == FT_PIXEL_MODE_MONO;
        if (int(b.width) > limit || int(b.rows) > limit || std::abs(slot->bitmap_left) > limit ||
            std::abs(slot->bitmap_top) > limit || (!mono && b.pixel_mode != FT_PIXEL_MODE_GRAY))
            return false;
        if (b.rows && b.width && (!b.buffer || b.pitch < int(mono ? (b.width + 7) / 8 : b.width)))
            return false;  // rows stored bottom-up or shorter than the width
        g.advance = std::clamp(int(slot->advance.x >> 6), 0, limit);
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = int(b.width);
        g.rows = int(b.rows);
        g.bits.assign(size_t(g.width) * size_t(g.rows), 0);
        for (int y = 0; y < g.rows; ++y) {
            const unsigned char* row = b.buffer + std::ptrdiff_t(y) * b.pitch;
            for (int x = 0; x < g.width; ++x) {
                const bool on = mono ? (row[x >> 3] >> (7 - (x & 7))) & 1 : row[x] >= 128;
                g.bits[size_t(y) * size_t(g.width) + size_t(x)] = on ? 1 : 0;
            }
        }
        return true;
    }

    // A unifont cell as it is: one cell for a narrow glyph, two for a wide
    // one or a two-byte character (a narrow glyph centred in them).
    Glyph oem_glyph(uint32_t cp, bool wide) {
        load_unifont();
        auto it = unifont_.find(cp);
        const int cells = wide ? 2 : 1;
        if (it == unifont_.end())
            return box(cells * kOemCellWidth, kOemAscent);
        const std::vector<uint8_t>& rows = it->second;
        const int width = int(rows.size()) / kOemCellHeight * 8;  // 8 or 16
        Glyph g;
        g.advance = std::max(cells * kOemCellWidth, width);
        g.left = (g.advance - width) / 2;
        g.top = kOemAscent;
        g.width = width;
        g.rows = kOemCellHeight;
        g.bits.assign(size_t(g.width) * size_t(g.rows), 0);
        const int bytes = width / 8;
        for (int y = 0; y < kOemCellHeight; ++y)
            for (int x = 0; x < width; ++x)
                g.bits[size_t(y * width + x)] = (rows[size_t(y * bytes + x / 8)] >> (7 - x % 8)) & 1;
        return g;
    }

    // unifont.hex: "XXXX:" then 32 hex digits (8 wide) or 64 (16 wide); a
    // line of any other shape is skipped.
    void load_unifont() {
        if (unifont_loaded_) return;
        unifont_loaded_ = true;
        std::ifstream in(kUnifont);
        std::string line;
        auto hex = [](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const size_t colon = line.find(':');
            if (colon == std::string::npos || colon == 0 || colon > 6) continue;
            const size_t digits = line.size() - colon - 1;
            if (digits != 2 * kOemCellHeight && digits != 4 * kOemCellHeight) continue;
            uint32_t cp = 0;
            bool ok = true;
            for (size_t i = 0; i < colon && ok; ++i) {
                const int v = hex(line[i]);
                ok = v >= 0;
                cp = cp << 4 | uint32_t(v < 0 ? 0 : v);
            }
            std::vector<uint8_t> rows(digits / 2);
            for (size_t i = 0; i < rows.size() && ok; ++i) {
                const int hi = hex(line[colon + 1 + 2 * i]), lo = hex(line[colon + 2 + 2 * i]);
                ok = hi >= 0 && lo >= 0;
                rows[i] = uint8_t(hi << 4 | (lo < 0 ? 0 : lo));
            }
            if (ok && cp <= 0x10FFFF) unifont_[cp] = std::move(rows);
        }
    }

    FT_Library lib_ = nullptr;
    std::map<int, std::string> files_;  // strike files by pixel size
    std::map<int, std::unique_ptr<Strike>> strikes_;
    std::map<int, std::unique_ptr<Face>> faces_;  // by pixel size, 0 for OEM
    std::unordered_map<uint32_t, std::vector<uint8_t>> unifont_;
    bool unifont_loaded_ = false;
};

bool is_oem(const Font& f) { return f.metrics.tmCharSet == 255; }
bool is_bold(const Font& f) { return f.metrics.tmWeight >= 600; }

Face& face_of(const Font& f) {
    const int pixels = f.pixel_size ? f.pixel_size : int(f.metrics.tmHeight);
    return Fonts::get().face(pixels, is_oem(f));
}

// Code page 936 into characters; a byte sequence that is not GBK becomes a
// missing character, one per byte.
std::vector<Unit> decode(const char* text, size_t len) {
    std::vector<Unit> out;
    iconv_t cd = iconv_open("UTF-32LE", "CP936");
    auto convert = [&](const char* p, size_t n) -> uint32_t {
        if (cd == iconv_t(-1)) return kMissing;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in[2];
        std::memcpy(in, p, n);
        char* ip = in;
        size_t il = n;
        uint32_t cp = 0;
        char* op = reinterpret_cast<char*>(&cp);
        size_t ol = sizeof cp;
        if (iconv(cd, &ip, &il, &op, &ol) == size_t(-1) || ol != 0) return kMissing;
        return cp;
    };
    const auto* u = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < len;) {
        if (u[i] < 0x80) {
            out.push_back({u[i], 1});
            ++i;
        } else if (u[i] >= 0x81 && u[i] <= 0xFE && i + 1 < len && u[i + 1] >= 0x40 &&
                   u[i + 1] <= 0xFE && u[i + 1] != 0x7F) {
            out.push_back({convert(text + i, 2), 2});
            i += 2;
        } else {
            out.push_back({convert(text + i, 1), 1});
            ++i;
        }
    }
    if (cd != iconv_t(-1)) iconv_close(cd);
    return out;
}

int advance_of(Face& face, bool bold, const Unit& u) {
    return Fonts::get().glyph(face, u.cp, u.bytes == 2, bold).advance;
}

int width_of(Face& face, bool bold, const std::vector<Unit>& units) {
    int w = 0;
    for (const Unit& u : units) w += advance_of(face, bold, u);
    return w;
}

// Draws a run with its cell's top-left at logical (x, y); `limit` (logical,
// may be null) clips further.
void draw_run(State& s, DeviceContext& dc, const Font& font, int x, int y,
              const std::vector<Unit>& units, const RECT* limit) {
    Face& face = face_of(font);
    const bool bold = is_bold(font);
    const int height = face.ascent + face.descent;
    const int64_t ox = dc.origin.x, oy = dc.origin.y;
    RECT bound{LONG(-(1 << 30)), LONG(-(1 << 30)), LONG(1 << 30), LONG(1 << 30)};
    if (limit) bound = RECT{LONG(limit->left + ox), LONG(limit->top + oy), LONG(limit->right + ox),
                            LONG(limit->bottom + oy)};
    if (dc.bk_mode == OPAQUE) {
        const int w = width_of(face, bold, units);
        RECT cell{LONG(x + ox), LONG(y + oy), LONG(x + ox + w), LONG(y + oy + height)};
        Region r(cell);
        fill_region(s, dc, r.combine(Region(bound), RegionOp::And), rgb_of(dc.bk_color));
    }
    Surface& t = target_of(s, dc);
    Encoder encoder = encoder_for(s, dc);
    const uint32_t ink = encoder.encode(rgb_of(dc.text_color));
    auto plot = [&](int64_t px, int64_t py) {
        if (px < bound.left || px >= bound.right || py < bound.top || py >= bound.bottom) return;
        if (!clip_contains(s, dc, px, py)) return;
        store_pixel(t.row(py), px, t.format.bpp, ink);
    };
    int64_t pen = int64_t(x) + ox;
    const int64_t baseline = int64_t(y) + oy + face.ascent;
    for (const Unit& u : units) {
        const Glyph& g = Fonts::get().glyph(face, u.cp, u.bytes == 2, bold);
        for (int gy = 0; gy < g.rows; ++gy)
            for (int gx = 0; gx < g.width; ++gx)
                if (g.bits[size_t(gy * g.width + gx)]) plot(pen + g.left + gx, baseline - g.top + gy);
        if (u.underline || font.underline)
            for (int gx = 0; gx < g.advance; ++gx) plot(pen + gx, baseline + 1);
        pen += g.advance;
    }
}

std::shared_ptr<DeviceContext> dc_with_font(State& s, HDC hdc) {
    auto dc = find_dc(s, hdc);
    if (!dc || !dc->font) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return dc;
}

size_t length_of(LPCSTR text, int count) {
    if (count >= 0) return size_t(count);
    return text ? strnlen(text, 1u << 24) : 0;
}

// Splits one line into pieces that may not be broken: ASCII words, runs of
// spaces, and single double-byte characters.
std::vector<std::vector<Unit>> break_points(const std::vector<Unit>& line) {
    std::vector<std::vector<Unit>> tokens;
    for (const Unit& u : line) {
        const bool space = u.cp == ' ';
        const bool wide = u.bytes == 2;
        if (!tokens.empty() && !wide && tokens.back().back().bytes == 1 &&
            (tokens.back().back().cp == ' ') == space) {
            tokens.back().push_back(u);
        } else {
            tokens.push_back({u});
        }
    }
    return tokens;
}

}  // namespace
}  // namespace win32::gdi

using namespace win32::gdi;

extern "C" {

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lf) {
    if (!lf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto font = std::make_shared<Font>();
    char face_name[LF_FACESIZE + 1] = {};
    std::memcpy(face_name, lf->lfFaceName, LF_FACESIZE);
    std::string face = face_name;
    for (char& c : face) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const bool oem = lf->lfCharSet == OEM_CHARSET || face == "terminal";
    // Negative heights ask for the character height, positive ones for the
    // cell; the bitmap faces have no internal leading, so both are the same.
    int64_t h = lf->lfHeight < 0 ? -int64_t(lf->lfHeight) : int64_t(lf->lfHeight);
    if (h == 0) h = 12;
    font->pixel_size = int(std::clamp<int64_t>(h, 1, kMaxPixelSize));
    font->underline = lf->lfUnderline != 0;
    TEXTMETRICA& tm = font->metrics;
    tm.tmCharSet = oem ? 255 : 134;
    tm.tmWeight = lf->lfWeight == 0 ? FW_NORMAL : std::clamp<LONG>(lf->lfWeight, 1, 1000);
    Face& f = face_of(*font);
    const bool bold = tm.tmWeight >= 600;
    tm.tmHeight = f.ascent + f.descent;
    tm.tmAscent = f.ascent;
    tm.tmDescent = f.descent;
    tm.tmAveCharWidth = f.half_width + (bold ? 1 : 0);
    tm.tmMaxCharWidth = f.full_width + (bold ? 1 : 0);
    tm.tmOverhang = bold ? 1 : 0;
    tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = oem ? 0 : 0x20;
    tm.tmLastChar = 0xFF;
    tm.tmDefaultChar = oem ? 0x2E : 0x80;
    tm.tmBreakChar = 0x20;
    tm.tmItalic = lf->lfItalic ? 1 : 0;
    tm.tmUnderlined = lf->lfUnderline ? 1 : 0;
    tm.tmPitchAndFamily = oem ? 0x30 : 0x21;
    return reinterpret_cast<HFONT>(add_object(s, std::move(font)));
}

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
    return with_dc(hdc, COLORREF(CLR_INVALID),
                   [&](State&, DeviceContext& dc) { return std::exchange(dc.text_color, color & 0xFFFFFF); });
}

COLORREF WINAPI GetTextColor(HDC hdc) {
    return with_dc(hdc, COLORREF(CLR_INVALID), [](State&, DeviceContext& dc) { return dc.text_color; });
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    return with_dc(hdc, COLORREF(CLR_INVALID),
                   [&](State&, DeviceContext& dc) { return std::exchange(dc.bk_color, color & 0xFFFFFF); });
}

COLORREF WINAPI GetBkColor(HDC hdc) {
    return with_dc(hdc, COLORREF(CLR_INVALID), [](State&, DeviceContext& dc) { return dc.bk_color; });
}

int WINAPI SetBkMode(HDC hdc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return with_dc(hdc, 0, [&](State&, DeviceContext& dc) { return std::exchange(dc.bk_mode, mode); });
}

int WINAPI GetBkMode(HDC hdc) {
    return with_dc(hdc, 0, [](State&, DeviceContext& dc) { return dc.bk_mode; });
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR text, int count) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = dc_with_font(s, hdc);
    if (!dc || count < 0 || (!text && count > 0)) {
        if (dc) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    draw_run(s, *dc, *dc->font, x, y, decode(text, size_t(count)), nullptr);
    return TRUE;
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR text, int count, LPSIZE size) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = dc_with_font(s, hdc);
    if (!dc || !size || count < 0 || (!text && count > 0)) {
        if (dc) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Face& face = face_of(*dc->font);
    size->cx = width_of(face, is_bold(*dc->font), decode(text, size_t(count)));
    size->cy = face.ascent + face.descent;
    return TRUE;
}

int WINAPI DrawTextA(HDC hdc, LPCSTR text, int count, RECT* rect, UINT format) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = dc_with_font(s, hdc);
    if (!dc || !rect || (!text && count != 0)) {
        if (dc) SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Font& font = *dc->font;
    Face& face = face_of(font);
    const bool bold = is_bold(font);
    const int line_height = face.ascent + face.descent;
    std::vector<Unit> units = decode(text, length_of(text, count));

    // Prefixes: "&x" underlines x, "&&" is one ampersand.
    if (!(format & DT_NOPREFIX)) {
        std::vector<Unit> plain;
        for (size_t i = 0; i < units.size(); ++i) {
            if (units[i].cp == '&' && i + 1 < units.size()) {
                ++i;
                Unit u = units[i];
                u.underline = u.cp != '&';
                plain.push_back(u);
            } else if (units[i].cp != '&') {
                plain.push_back(units[i]);
            }
        }
        units = std::move(plain);
    }
    // Tabs and line ends.
    std::vector<std::vector<Unit>> hard_lines(1);
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t c = units[i].cp;
        if ((c == '\r' || c == '\n')) {
            if (format & DT_SINGLELINE) continue;
            if (c == '\r' && i + 1 < units.size() && units[i + 1].cp == '\n') ++i;
            hard_lines.emplace_back();
            continue;
        }
        if (c == '\t' && (format & DT_EXPANDTABS)) {
            for (int k = 0; k < 8; ++k) hard_lines.back().push_back({' ', 1});
            continue;
        }
        hard_lines.back().push_back(units[i]);
    }
    const int64_t box_width = int64_t(rect->right) - rect->left;
    std::vector<std::vector<Unit>> lines;
    for (auto& line : hard_lines) {
        if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) {
            lines.push_back(std::move(line));
            continue;
        }
        std::vector<Unit> current;
        int64_t width = 0;
        for (auto& token : break_points(line)) {
            const bool space = token.front().cp == ' ' && token.front().bytes == 1;
            const int w = width_of(face, bold, token);
            if (!current.empty() && !space && width + w > box_width) {
                while (!current.empty() && current.back().cp == ' ') current.pop_back();
                lines.push_back(std::move(current));
                current.clear();
                width = 0;
            }
            if (space && current.empty() && !lines.empty()) continue;  // no leading spaces
            current.insert(current.end(), token.begin(), token.end());
            width += w;
        }
        lines.push_back(std::move(current));
    }

    int widest = 0;
    for (const auto& line : lines) widest = std::max(widest, width_of(face, bold, line));
    const int64_t total = int64_t(line_height) * int64_t(lines.size());
    int64_t top = rect->top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER) top = rect->top + (int64_t(rect->bottom) - rect->top - line_height) / 2;
        else if (format & DT_BOTTOM) top = int64_t(rect->bottom) - line_height;
    }
    if (format & DT_CALCRECT) {
        rect->right = LONG(std::clamp<int64_t>(int64_t(rect->left) + widest, INT32_MIN, INT32_MAX));
        rect->bottom = LONG(std::clamp<int64_t>(int64_t(rect->top) + total, INT32_MIN, INT32_MAX));
        return int(std::min<int64_t>(total, INT32_MAX));
    }
    const RECT* limit = (format & DT_NOCLIP) ? nullptr : rect;
    int64_t y = top;
    for (const auto& line : lines) {
        const int w = width_of(face, bold, line);
        int64_t x = rect->left;
        if (format & DT_CENTER) x = rect->left + (box_width - w) / 2;
        else if (format & DT_RIGHT) x = int64_t(rect->right) - w;
        if (y > INT32_MAX || y < INT32_MIN) break;
        draw_run(s, *dc, font, int(std::clamp<int64_t>(x, INT32_MIN / 2, INT32_MAX / 2)), int(y), line,
                 limit);
        y += line_height;
    }
    const int64_t result = (format & (DT_VCENTER | DT_BOTTOM)) && (format & DT_SINGLELINE)
                               ? top - rect->top + total
                               : total;
    return int(std::clamp<int64_t>(result, 0, INT32_MAX));
}

}  // extern "C"
