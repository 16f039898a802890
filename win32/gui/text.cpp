// Text: fonts, TextOutA, GetTextExtentPoint32A and DrawTextA.
//
// Glyphs are bitmaps, so that pixels do not change with the rasterizer:
// the WenQuanYi bitmap song strikes (12, 13, 15 and 16 pixels, Chinese and
// ASCII) found through fontconfig (in the font folders only) and read with
// FreeType, a scalable CJK
// face rendered in monochrome only above those sizes, and unifont's 8x16
// ASCII cut down to the OEM font's 8x12 cells. ANSI strings are code page
// 936, decoded with iconv. A character without a glyph draws a box.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "gdi_state.h"

namespace win32::gdi {
namespace {

constexpr uint32_t kMissing = 0xFFFFFFFFu;
constexpr int kLargestBitmapStrike = 16;
constexpr int kMaxPixelSize = 256;
constexpr const char* kBitmapFamily = "WenQuanYi Bitmap Song";
constexpr const char* kScalableFamily = "WenQuanYi Zen Hei";
constexpr const char* kUnifont = "/usr/share/unifont/unifont.hex";
// Where Debian puts xfonts-wqy and fonts-wqy-zenhei.
constexpr const char* kFontDirs[] = {"/usr/share/fonts/X11/misc", "/usr/share/fonts/truetype/wqy"};
// The OEM cells take unifont rows 4 to 15: capitals and descenders fit.
constexpr int kOemFirstRow = 4;
constexpr int kOemCellWidth = 8, kOemCellHeight = 12, kOemAscent = 10;

struct Glyph {
    int advance = 0;
    int left = 0;  // from the pen position
    int top = 0;   // rows above the baseline
    int width = 0;
    int rows = 0;
    std::vector<uint8_t> bits;  // one byte per pixel, 0 or 1
};

// One font at one pixel size.
struct Face {
    FT_Face ft = nullptr;
    bool oem = false;
    int ascent = 0;
    int descent = 0;
    int half_width = 6;
    int full_width = 12;
    std::unordered_map<uint32_t, Glyph> glyphs;
    ~Face() {
        if (ft) FT_Done_Face(ft);
    }
};

struct Unit {
    uint32_t cp;    // Unicode, or kMissing
    int bytes;      // 1 or 2
    bool underline = false;
};

class Fonts {
public:
    static Fonts& get() {
        static auto* f = new Fonts;  // glyph caches live as long as the process
        return *f;
    }

    // The face for a pixel size (nearest bitmap strike up to 16 pixels).
    Face& face(int pixels, bool oem) {
        pixels = std::clamp(pixels, 1, kMaxPixelSize);
        if (oem) pixels = 12;
        auto key = std::make_pair(oem ? -1 : pixels, std::string());
        auto it = faces_.find(key);
        if (it != faces_.end()) return *it->second;
        auto f = std::make_unique<Face>();
        f->oem = oem;
        open(*f, pixels);
        if (oem) {
            f->ascent = kOemAscent;
            f->descent = kOemCellHeight - kOemAscent;
            f->half_width = kOemCellWidth;
            f->full_width = 2 * kOemCellWidth;
        }
        Face& ref = *f;
        faces_.emplace(key, std::move(f));
        return ref;
    }

    const Glyph& glyph(Face& f, uint32_t cp, bool bold) {
        const uint32_t key = cp ^ (bold ? 0x80000000u : 0);
        auto it = f.glyphs.find(key);
        if (it != f.glyphs.end()) return it->second;
        Glyph g;
        if (f.oem && cp < 0x80 && oem_glyph(cp, g)) {
        } else if (ft_glyph(f, cp, g)) {
            if (f.oem) {
                // Other characters take two cells, from the top of the cell.
                g.left += (2 * kOemCellWidth - g.advance) / 2;
                g.advance = 2 * kOemCellWidth;
                g.top = kOemAscent;
            }
        } else {
            g = box(f, cp);
        }
        if (bold) embolden(g);
        return f.glyphs.emplace(key, std::move(g)).first->second;
    }

private:
    Fonts() {
        if (FT_Init_FreeType(&lib_)) lib_ = nullptr;
    }

    // A configuration of the font folders alone: a user's aliases and
    // substitutions must not change which glyphs the text gets.
    static FcConfig* font_config() {
        static FcConfig* config = [] {
            FcConfig* c = FcConfigCreate();
            if (!c) return c;
            std::string xml = "<fontconfig><cachedir prefix=\"xdg\">fontconfig</cachedir>";
            for (const char* dir : kFontDirs) xml += std::string("<dir>") + dir + "</dir>";
            xml += "</fontconfig>";
            FcConfigParseAndLoadFromMemory(c, reinterpret_cast<const FcChar8*>(xml.c_str()), FcFalse);
            FcConfigBuildFonts(c);
            return c;
        }();
        return config;
    }

    // The file of the family whose pixel size is nearest (the smaller of
    // two as near); a scalable file answers any size.
    static std::string match_file(const char* family, int pixels) {
        std::string file;
        FcConfig* config = font_config();
        if (!config) return file;
        FcPattern* p = FcPatternCreate();
        FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
        FcObjectSet* os = FcObjectSetBuild(FC_FILE, FC_PIXEL_SIZE, nullptr);
        FcFontSet* set = FcFontList(config, p, os);
        double best = 1e9, best_size = 0;
        for (int i = 0; set && i < set->nfont; ++i) {
            FcChar8* path = nullptr;
            double size = 0;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &path) != FcResultMatch) continue;
            const bool scalable = FcPatternGetDouble(set->fonts[i], FC_PIXEL_SIZE, 0, &size) != FcResultMatch;
            const double distance = scalable ? 0.5 : std::abs(size - pixels);
            const std::string candidate = reinterpret_cast<const char*>(path);
            if (distance < best || (distance == best && (size < best_size ||
                                                         (size == best_size && candidate < file)))) {
                best = distance;
                best_size = size;
                file = candidate;
            }
        }
        if (set) FcFontSetDestroy(set);
        FcObjectSetDestroy(os);
        FcPatternDestroy(p);
        return file;
    }

    void open(Face& f, int pixels) {
        if (!lib_) return;
        const bool bitmap = pixels <= kLargestBitmapStrike;
        const std::string file = match_file(bitmap ? kBitmapFamily : kScalableFamily, pixels);
        if (file.empty() || FT_New_Face(lib_, file.c_str(), 0, &f.ft)) {
            f.ft = nullptr;
        } else if (bitmap && f.ft->num_fixed_sizes > 0) {
            int best = 0;
            for (int i = 1; i < f.ft->num_fixed_sizes; ++i)
                if (std::abs(f.ft->available_sizes[i].height - pixels) <
                    std::abs(f.ft->available_sizes[best].height - pixels))
                    best = i;
            FT_Select_Size(f.ft, best);
        } else {
            FT_Set_Pixel_Sizes(f.ft, 0, FT_UInt(pixels));
        }
        if (f.ft && f.ft->size) {
            f.ascent = int(f.ft->size->metrics.ascender >> 6);
            f.descent = int(-f.ft->size->metrics.descender >> 6);
        }
        if (f.ascent + f.descent <= 0) {
            f.ascent = pixels * 5 / 6;
            f.descent = pixels - f.ascent;
        }
        const int height = f.ascent + f.descent;
        f.full_width = height;
        f.half_width = std::max(1, height / 2);
        if (f.ft) {
            if (!FT_Load_Char(f.ft, '0', FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO))
                f.half_width = int(f.ft->glyph->advance.x >> 6);
            if (!FT_Load_Char(f.ft, 0x4E2D, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO))
                f.full_width = int(f.ft->glyph->advance.x >> 6);
        }
    }

    bool ft_glyph(Face& f, uint32_t cp, Glyph& g) {
        if (!f.ft || cp == kMissing || FT_Get_Char_Index(f.ft, cp) == 0) return false;
        if (FT_Load_Char(f.ft, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME))
            return false;
        const FT_GlyphSlot s = f.ft->glyph;
        const FT_Bitmap& b = s->bitmap;
        g.advance = int(s->advance.x >> 6);
        g.left = s->bitmap_left;
        g.top = s->bitmap_top;
        g.width = int(b.width);
        g.rows = int(b.rows);
        g.bits.assign(size_t(g.width) * size_t(g.rows), 0);
        for (int y = 0; y < g.rows; ++y) {
            const unsigned char* row = b.buffer + std::ptrdiff_t(y) * b.pitch;
            for (int x = 0; x < g.width; ++x) {
                const bool on = b.pixel_mode == FT_PIXEL_MODE_MONO ? (row[x >> 3] >> (7 - (x & 7))) & 1
                                                                     : row[x] >= 128;
                g.bits[size_t(y) * size_t(g.width) + size_t(x)] = on ? 1 : 0;
            }
        }
        return true;
    }

    // An 8x16 unifont glyph cut to the OEM cell.
    bool oem_glyph(uint32_t cp, Glyph& g) {
        load_unifont();
        auto it = unifont_.find(cp);
        if (it == unifont_.end()) return false;
        g.advance = kOemCellWidth;
        g.left = 0;
        g.top = kOemAscent;
        g.width = kOemCellWidth;
        g.rows = kOemCellHeight;
        g.bits.assign(size_t(g.width * g.rows), 0);
        for (int y = 0; y < kOemCellHeight; ++y)
            for (int x = 0; x < kOemCellWidth; ++x)
                g.bits[size_t(y * g.width + x)] = (it->second[size_t(y + kOemFirstRow)] >> (7 - x)) & 1;
        return true;
    }

    void load_unifont() {
        if (unifont_loaded_) return;
        unifont_loaded_ = true;
        std::ifstream in(kUnifont);
        std::string line;
        auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        while (std::getline(in, line)) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos || line.size() != colon + 33) continue;  // 8 wide only
            const uint32_t cp = uint32_t(std::strtoul(line.substr(0, colon).c_str(), nullptr, 16));
            if (cp >= 0x80) break;  // the cells hold ASCII only
            std::array<uint8_t, 16> rows{};
            for (size_t i = 0; i < 16; ++i)
                rows[i] = uint8_t(hex(line[colon + 1 + 2 * i]) << 4 | hex(line[colon + 2 + 2 * i]));
            unifont_[cp] = rows;
        }
    }

    // The font's default character: an empty box as wide as the character.
    static Glyph box(const Face& f, uint32_t cp) {
        Glyph g;
        g.advance = cp < 0x80 ? f.half_width : f.full_width;
        g.width = std::max(1, g.advance - 2);
        g.rows = std::max(2, f.ascent - 1);
        g.left = 1;
        g.top = f.ascent - 1;
        g.bits.assign(size_t(g.width * g.rows), 0);
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                if (y == 0 || y == g.rows - 1 || x == 0 || x == g.width - 1)
                    g.bits[size_t(y * g.width + x)] = 1;
        return g;
    }

    // Bold from a regular bitmap, as GDI makes it: each pixel once more one
    // to the right, and one pixel more of advance.
    static void embolden(Glyph& g) {
        Glyph b = g;
        b.width = g.width + 1;
        b.advance = g.advance + 1;
        b.bits.assign(size_t(b.width * b.rows), 0);
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                if (g.bits[size_t(y * g.width + x)]) {
                    b.bits[size_t(y * b.width + x)] = 1;
                    b.bits[size_t(y * b.width + x + 1)] = 1;
                }
        g = std::move(b);
    }

    FT_Library lib_ = nullptr;
    std::map<std::pair<int, std::string>, std::unique_ptr<Face>> faces_;
    std::unordered_map<uint32_t, std::array<uint8_t, 16>> unifont_;
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

int advance_of(Face& face, bool bold, uint32_t cp) { return Fonts::get().glyph(face, cp, bold).advance; }

int width_of(Face& face, bool bold, const std::vector<Unit>& units) {
    int w = 0;
    for (const Unit& u : units) w += advance_of(face, bold, u.cp);
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
        const Glyph& g = Fonts::get().glyph(face, u.cp, bold);
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
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc) return CLR_INVALID;
    const COLORREF old = dc->text_color;
    dc->text_color = color & 0xFFFFFF;
    return old;
}

COLORREF WINAPI GetTextColor(HDC hdc) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    return dc ? dc->text_color : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc) return CLR_INVALID;
    const COLORREF old = dc->bk_color;
    dc->bk_color = color & 0xFFFFFF;
    return old;
}

COLORREF WINAPI GetBkColor(HDC hdc) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    return dc ? dc->bk_color : CLR_INVALID;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    const int old = dc->bk_mode;
    dc->bk_mode = mode;
    return old;
}

int WINAPI GetBkMode(HDC hdc) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto dc = find_dc(s, hdc);
    return dc ? dc->bk_mode : 0;
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
