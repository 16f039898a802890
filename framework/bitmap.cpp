// Bitmaps as DIB sections with their own memory canvas, the BMP file
// format, and pictures that hold a graphic.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <sstream>
#include <vector>

#include "graphics.h"
#include "win32/kernel.h"

namespace {

// Largest pixel block a bitmap may have; a file asking for more is refused
// before anything is allocated.
constexpr uint64_t kMaxPixelBytes = 256ull << 20;
constexpr int kMaxSide = 32767;
// A BMP file may carry some slack past its pixels, not gigabytes of it.
constexpr uint64_t kMaxFileBytes = kMaxPixelBytes + (1u << 20);

struct Format {
    int bpp = 32;
    DWORD compression = BI_RGB;
    std::array<DWORD, 3> masks{};
    std::vector<RGBQUAD> colors;  // indexed formats only
};

int64_t stride_of(int width, int bpp) { return ((int64_t(width) * bpp + 31) / 32) * 4; }

// The header, masks and colour table a DIB section of `fmt` needs.
std::vector<uint8_t> info_block(int width, int height, const Format& fmt) {
    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + 12 + 256 * sizeof(RGBQUAD), 0);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;  // bottom-up, as the file stores it
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(fmt.bpp);
    h.biCompression = fmt.compression;
    h.biSizeImage = static_cast<DWORD>(stride_of(width, fmt.bpp) * height);
    h.biClrUsed = static_cast<DWORD>(fmt.colors.size());
    std::memcpy(block.data(), &h, sizeof h);
    size_t at = sizeof h;
    if (fmt.compression == BI_BITFIELDS) {
        std::memcpy(block.data() + at, fmt.masks.data(), 12);
        at += 12;
    }
    const size_t n = std::min<size_t>(fmt.colors.size(), 256);
    if (n) std::memcpy(block.data() + at, fmt.colors.data(), n * sizeof(RGBQUAD));
    return block;
}

struct Dib {
    HBITMAP bmp = nullptr;
    uint8_t* bits = nullptr;
};

Dib make_dib(int width, int height, const Format& fmt) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        uint64_t(stride_of(width, fmt.bpp)) * uint64_t(height) > kMaxPixelBytes)
        return {};
    const std::vector<uint8_t> block = info_block(width, height, fmt);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(block.data()),
                                   DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits) {
        if (bmp) DeleteObject(bmp);
        return {};
    }
    return {bmp, static_cast<uint8_t*>(bits)};
}

// New bitmaps take the screen's depth so that drawing them costs no
// conversion.
Format screen_format() {
    Format f;
    HDC screen = GetDC(nullptr);
    const int bpp = screen ? GetDeviceCaps(screen, BITSPIXEL) : 32;
    switch (bpp) {
    case 8: {
        f.bpp = 8;
        std::array<PALETTEENTRY, 256> entries{};
        const UINT n = screen ? GetSystemPaletteEntries(screen, 0, 256, entries.data()) : 0;
        for (UINT i = 0; i < 256; ++i) {
            const PALETTEENTRY& e = entries[i];
            f.colors.push_back(i < n ? RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0} : RGBQUAD{0, 0, 0, 0});
        }
        break;
    }
    case 15: f.bpp = 16; break;
    case 16:
        f.bpp = 16;
        f.compression = BI_BITFIELDS;
        f.masks = {0xF800, 0x07E0, 0x001F};
        break;
    case 24: f.bpp = 24; break;
    default: f.bpp = 32; break;
    }
    if (screen) ReleaseDC(nullptr, screen);
    return f;
}

[[noreturn]] void invalid(const std::string& why) {
    throw EInvalidGraphic("Bitmap image is not valid: " + why);
}

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> read_all(std::istream& in) {
    std::vector<uint8_t> data;
    char chunk[65536];
    while (in) {
        in.read(chunk, sizeof chunk);
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        if (data.size() + size_t(got) > kMaxFileBytes) invalid("the file is too large");
        data.insert(data.end(), chunk, chunk + got);
    }
    return data;
}

// A BMP file image checked field by field; the pixel rows it points at are
// inside `file`.
struct ParsedBmp {
    int width = 0, height = 0;
    bool top_down = false;
    Format format;
    const uint8_t* pixels = nullptr;
    int64_t stride = 0;
};

ParsedBmp parse_bmp(std::span<const uint8_t> file) {
    const uint64_t size = file.size();
    if (size < 14 + 4) invalid("truncated header");
    const uint8_t* p = file.data();
    if (p[0] != 'B' || p[1] != 'M') invalid("not a bitmap file");
    const uint64_t off_bits = le32(p + 10);
    const uint32_t header_size = le32(p + 14);
    if (header_size == 12) invalid("OS/2 headers are not supported");
    if (header_size != 40 && header_size != 52 && header_size != 56 && header_size != 108 &&
        header_size != 124)
        invalid("unknown header size");
    if (14 + uint64_t(header_size) > size) invalid("truncated header");
    const uint8_t* h = p + 14;
    const int32_t width = static_cast<int32_t>(le32(h + 4));
    const int32_t height = static_cast<int32_t>(le32(h + 8));
    const uint16_t planes = le16(h + 12);
    const uint16_t bpp = le16(h + 14);
    const uint32_t compression = le32(h + 16);
    const uint32_t clr_used = le32(h + 32);

    ParsedBmp out;
    if (width <= 0 || height == 0 || height == INT32_MIN) invalid("bad dimensions");
    out.width = width;
    out.top_down = height < 0;
    out.height = height < 0 ? -height : height;
    if (out.width > kMaxSide || out.height > kMaxSide) invalid("dimensions too large");
    if (planes != 1) invalid("bad plane count");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        invalid("unsupported bit count");
    if (compression == BI_RLE4 || compression == BI_RLE8) invalid("compressed bitmaps are not supported");
    if (compression != BI_RGB && !(compression == BI_BITFIELDS && (bpp == 16 || bpp == 32)))
        invalid("unsupported compression");
    out.stride = stride_of(out.width, bpp);
    const uint64_t pixel_bytes = uint64_t(out.stride) * uint64_t(out.height);
    if (pixel_bytes > kMaxPixelBytes) invalid("dimensions too large");

    Format& f = out.format;
    f.bpp = bpp;
    f.compression = compression;
    uint64_t table = 14 + uint64_t(header_size);
    if (compression == BI_BITFIELDS) {
        if (header_size == 40) {
            if (table + 12 > size) invalid("truncated colour masks");
            table += 12;
        }
        for (int i = 0; i < 3; ++i) f.masks[i] = le32(h + 40 + 4 * i);
        if (!f.masks[0] || !f.masks[1] || !f.masks[2]) invalid("bad colour masks");
    }
    uint64_t table_end = table;
    if (bpp <= 8) {
        const uint64_t max_colors = 1u << bpp;
        const uint64_t count = clr_used ? clr_used : max_colors;
        if (count > max_colors) invalid("colour table too large");
        table_end = table + count * 4;
        if (table_end > size) invalid("truncated colour table");
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* c = p + table + i * 4;
            f.colors.push_back(RGBQUAD{c[0], c[1], c[2], 0});
        }
    }
    if (off_bits < table_end || off_bits > size) invalid("bad pixel offset");
    if (size - off_bits < pixel_bytes) invalid("truncated pixel data");
    out.pixels = p + off_bits;
    return out;
}

}  // namespace

// --- TGraphic ---------------------------------------------------------------

const ClassInfo& TGraphic::StaticClassInfo() {
    static const ClassInfo info{"TGraphic", &TPersistent::StaticClassInfo(), {}, {}, {}};
    return info;
}

void TGraphic::Changed() { OnChange(this); }

namespace {
struct FileHandle {
    HANDLE h;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
}  // namespace

void TGraphic::LoadFromFile(const std::string& path) {
    FileHandle f{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) throw EInvalidGraphic("Cannot open file \"" + path + "\"");
    DWORD high = 0;
    const DWORD low = GetFileSize(f.h, &high);
    if (high || low > kMaxFileBytes) invalid("the file is too large");
    std::string data(low, '\0');
    DWORD got = 0;
    if (low && (!ReadFile(f.h, data.data(), low, &got, nullptr) || got != low))
        throw EInvalidGraphic("Cannot read file \"" + path + "\"");
    std::istringstream in(std::move(data));
    LoadFromStream(in);
}

void TGraphic::SaveToFile(const std::string& path) const {
    std::ostringstream out;
    SaveToStream(out);
    const std::string data = out.str();
    FileHandle f{CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) throw Exception("Cannot create file \"" + path + "\"");
    DWORD written = 0;
    if (!data.empty() &&
        (!WriteFile(f.h, data.data(), DWORD(data.size()), &written, nullptr) || written != data.size()))
        throw Exception("Cannot write file \"" + path + "\"");
}

// --- TBitmap ----------------------------------------------------------------

struct TBitmap::Impl {
    int width = 0, height = 0;
    Format format = screen_format();
    HBITMAP bmp = nullptr;
    uint8_t* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ dc_original = nullptr;  // the DC's own bitmap, given back at the end
    HPALETTE palette = nullptr;
    std::unique_ptr<TCanvas> canvas;

    ~Impl() {
        if (canvas) canvas->SetHandle(nullptr);
        if (dc && dc_original) SelectObject(dc, dc_original);
        if (bmp) DeleteObject(bmp);
        if (dc) DeleteDC(dc);
        if (palette) DeleteObject(palette);
    }

    // Puts a new DIB (or none) in place and frees the old one.
    void install(Dib dib, int w, int h, Format f) {
        HGDIOBJ prev = SelectObject(dc, dib.bmp ? dib.bmp : dc_original);
        if (!dc_original && dib.bmp) dc_original = prev;
        if (bmp) DeleteObject(bmp);
        bmp = dib.bmp;
        bits = dib.bits;
        width = w;
        height = h;
        const bool new_palette =
            !palette || f.colors.size() != format.colors.size() ||
            std::memcmp(f.colors.data(), format.colors.data(), f.colors.size() * sizeof(RGBQUAD)) != 0;
        format = std::move(f);
        if (new_palette) make_palette();
    }

    void make_palette() {
        if (palette) DeleteObject(palette);
        palette = nullptr;
        if (format.colors.empty()) return;
        std::vector<uint8_t> block(sizeof(LOGPALETTE) + format.colors.size() * sizeof(PALETTEENTRY));
        auto* lp = reinterpret_cast<LOGPALETTE*>(block.data());
        lp->palVersion = 0x300;
        lp->palNumEntries = static_cast<WORD>(format.colors.size());
        for (size_t i = 0; i < format.colors.size(); ++i) {
            const RGBQUAD& c = format.colors[i];
            lp->palPalEntry[i] = PALETTEENTRY{c.rgbRed, c.rgbGreen, c.rgbBlue, 0};
        }
        palette = CreatePalette(lp);
    }

    // A bitmap of the new size in the same format: the old pixels where the
    // two overlap, white elsewhere.
    void resize(int w, int h) {
        w = std::max(w, 0);
        h = std::max(h, 0);
        if (w == width && h == height) return;
        if (w == 0 || h == 0) {
            install({}, w, h, format);
            return;
        }
        Dib dib = make_dib(w, h, format);
        if (!dib.bmp) throw EInvalidGraphic("Cannot make a bitmap of " + std::to_string(w) + "x" + std::to_string(h));
        HDC tmp = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(tmp, dib.bmp);
        PatBlt(tmp, 0, 0, w, h, WHITENESS);
        if (bmp) BitBlt(tmp, 0, 0, std::min(w, width), std::min(h, height), dc, 0, 0, SRCCOPY);
        SelectObject(tmp, old);
        DeleteDC(tmp);
        install(dib, w, h, format);
    }
};

TBitmap::TBitmap() : d_(std::make_unique<Impl>()) {}
TBitmap::~TBitmap() = default;

const ClassInfo& TBitmap::StaticClassInfo() {
    static const ClassInfo info{"TBitmap", &TGraphic::StaticClassInfo(), {}, {}, {}};
    return info;
}

void TBitmap::Assign(const TPersistent* source) {
    if (!source) {
        if (Empty() && d_->width == 0 && d_->height == 0) return;  // already empty
        d_->install({}, 0, 0, d_->format);
        Changed();
        return;
    }
    if (auto* b = dynamic_cast<const TBitmap*>(source)) {
        if (b == this) return;
        const Impl& s = *b->d_;
        if (!s.bmp) {
            d_->install({}, s.width, s.height, s.format);
        } else {
            Dib dib = make_dib(s.width, s.height, s.format);
            if (!dib.bmp) throw EInvalidGraphic("Cannot copy the bitmap");
            std::memcpy(dib.bits, s.bits, size_t(stride_of(s.width, s.format.bpp) * s.height));
            d_->install(dib, s.width, s.height, s.format);
        }
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TBitmap::Empty() const { return d_->bmp == nullptr; }
int TBitmap::Width() const { return d_->width; }
int TBitmap::Height() const { return d_->height; }
void TBitmap::SetWidth(int w) { SetSize(w, d_->height); }
void TBitmap::SetHeight(int h) { SetSize(d_->width, h); }

void TBitmap::SetSize(int w, int h) {
    if (std::max(w, 0) == d_->width && std::max(h, 0) == d_->height) return;
    d_->resize(w, h);
    Changed();
}

void TBitmap::LoadFromStream(std::istream& in) {
    const std::vector<uint8_t> file = read_all(in);
    const ParsedBmp bmp = parse_bmp(file);
    Dib dib = make_dib(bmp.width, bmp.height, bmp.format);
    if (!dib.bmp) invalid("the pixel format cannot be drawn");
    const size_t row = size_t(bmp.stride);
    for (int y = 0; y < bmp.height; ++y) {
        // Kept bottom-up in memory whatever the file's row order.
        const int from = bmp.top_down ? bmp.height - 1 - y : y;
        std::memcpy(dib.bits + size_t(y) * row, bmp.pixels + size_t(from) * row, row);
    }
    d_->install(dib, bmp.width, bmp.height, bmp.format);
    Changed();
}

void TBitmap::SaveToStream(std::ostream& out) const {
    if (Empty()) return;
    const Format& f = d_->format;
    const uint32_t masks = f.compression == BI_BITFIELDS ? 12 : 0;
    const uint32_t table = uint32_t(f.colors.size() * 4);
    const uint32_t off = 14 + 40 + masks + table;
    const uint32_t pixels = uint32_t(stride_of(d_->width, f.bpp) * d_->height);
    std::vector<uint8_t> head;
    head.reserve(off);
    put16(head, 0x4D42);  // "BM"
    put32(head, off + pixels);
    put32(head, 0);
    put32(head, off);
    put32(head, 40);
    put32(head, uint32_t(d_->width));
    put32(head, uint32_t(d_->height));
    put16(head, 1);
    put16(head, uint16_t(f.bpp));
    put32(head, f.compression);
    put32(head, pixels);
    put32(head, 3780);  // 96 dpi
    put32(head, 3780);
    put32(head, uint32_t(f.colors.size()));
    put32(head, 0);
    if (masks)
        for (DWORD m : f.masks) put32(head, m);
    for (const RGBQUAD& c : f.colors) {
        head.push_back(c.rgbBlue);
        head.push_back(c.rgbGreen);
        head.push_back(c.rgbRed);
        head.push_back(0);
    }
    out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    out.write(reinterpret_cast<const char*>(d_->bits), std::streamsize(pixels));
    if (!out) throw Exception("Cannot write the bitmap");
}

TCanvas* TBitmap::Canvas() {
    if (!d_->canvas) {
        d_->canvas = std::make_unique<TCanvas>();
        d_->canvas->SetHandle(d_->dc);
        d_->canvas->OnChange = [this](TObject*) { Changed(); };
    }
    return d_->canvas.get();
}

HBITMAP TBitmap::Handle() const { return d_->bmp; }

void TBitmap::SetHandle(HBITMAP bitmap) {
    if (!bitmap) {
        Assign(nullptr);
        return;
    }
    if (bitmap == d_->bmp) return;
    BITMAP described{};
    if (GetObjectA(bitmap, sizeof described, &described) != int(sizeof described))
        throw EInvalidGraphic("Not a bitmap handle");
    HDC source = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(source, bitmap);
    if (!old) {
        DeleteDC(source);
        throw EInvalidGraphic("Not a bitmap handle");
    }
    const int w = std::clamp<int>(described.bmWidth, 0, kMaxSide);
    const int h = std::clamp<int>(described.bmHeight, 0, kMaxSide);
    Format f = screen_format();
    Dib dib = w && h ? make_dib(w, h, f) : Dib{};
    if (dib.bmp) {
        HDC tmp = CreateCompatibleDC(nullptr);
        HGDIOBJ prev = SelectObject(tmp, dib.bmp);
        BitBlt(tmp, 0, 0, w, h, source, 0, 0, SRCCOPY);
        SelectObject(tmp, prev);
        DeleteDC(tmp);
    }
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(bitmap);  // ours now, and copied
    d_->install(dib, dib.bmp ? w : 0, dib.bmp ? h : 0, f);
    Changed();
}

HPALETTE TBitmap::Palette() const { return d_->palette; }

void TBitmap::Draw(TCanvas* canvas, const TRect& dest) {
    if (Empty() || !canvas) return;
    StretchBlt(canvas->Handle(), dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top,
               d_->dc, 0, 0, d_->width, d_->height, canvas->CopyMode());
}

// --- TPicture ---------------------------------------------------------------

struct TPicture::Impl {
    std::unique_ptr<TGraphic> graphic;
};

TPicture::TPicture() : d_(std::make_unique<Impl>()) {}
TPicture::~TPicture() = default;

const ClassInfo& TPicture::StaticClassInfo() {
    static const ClassInfo info{"TPicture", &TPersistent::StaticClassInfo(), {}, {}, {}};
    return info;
}

namespace {
void adopt(TPicture* picture, std::unique_ptr<TGraphic>& slot, std::unique_ptr<TGraphic> graphic) {
    if (graphic) graphic->OnChange = [picture](TObject*) { picture->OnChange(picture); };
    slot = std::move(graphic);
    picture->OnChange(picture);
}
}  // namespace

void TPicture::Assign(const TPersistent* source) {
    if (!source) {
        SetGraphic(nullptr);
    } else if (auto* p = dynamic_cast<const TPicture*>(source)) {
        if (p != this) SetGraphic(p->Graphic());
    } else if (auto* g = dynamic_cast<const TGraphic*>(source)) {
        SetGraphic(const_cast<TGraphic*>(g));
    } else {
        TPersistent::Assign(source);
    }
}

TGraphic* TPicture::Graphic() const { return d_->graphic.get(); }

void TPicture::SetGraphic(TGraphic* graphic) {
    if (!graphic) {
        if (d_->graphic) adopt(this, d_->graphic, nullptr);
        return;
    }
    if (graphic == d_->graphic.get()) return;
    auto* b = dynamic_cast<TBitmap*>(graphic);
    if (!b) throw EInvalidGraphic(std::string("Unknown graphic class ") + graphic->ClassName());
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(b);
    adopt(this, d_->graphic, std::move(copy));
}

TBitmap* TPicture::Bitmap() {
    if (auto* b = dynamic_cast<TBitmap*>(d_->graphic.get())) return b;
    adopt(this, d_->graphic, std::make_unique<TBitmap>());
    return static_cast<TBitmap*>(d_->graphic.get());
}

int TPicture::Width() const { return d_->graphic ? d_->graphic->Width() : 0; }
int TPicture::Height() const { return d_->graphic ? d_->graphic->Height() : 0; }

void TPicture::LoadFromFile(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("\\/");
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                          ? std::string()
                          : path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext != ".bmp") throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
    auto b = std::make_unique<TBitmap>();
    b->LoadFromFile(path);
    adopt(this, d_->graphic, std::move(b));
}

void TPicture::SaveToFile(const std::string& path) const {
    if (d_->graphic) d_->graphic->SaveToFile(path);
}

std::vector<uint8_t> TPicture::WriteData() const {
    std::vector<uint8_t> out;
    if (!d_->graphic || d_->graphic->Empty()) return out;  // nothing worth storing
    const std::string name = d_->graphic->ClassName();
    out.push_back(static_cast<uint8_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    std::ostringstream image;
    d_->graphic->SaveToStream(image);
    const std::string bytes = image.str();
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

void TPicture::ReadData(std::span<const uint8_t> data) {
    if (data.empty() || data[0] == 0) {
        SetGraphic(nullptr);
        return;
    }
    const size_t n = data[0];
    if (data.size() < 1 + n) throw EInvalidGraphic("Picture data is truncated");
    const std::string name(reinterpret_cast<const char*>(data.data() + 1), n);
    if (name != "TBitmap") throw EInvalidGraphic("Unknown picture format " + name);
    auto b = std::make_unique<TBitmap>();
    const std::span<const uint8_t> image = data.subspan(1 + n);
    if (!image.empty()) {
        std::istringstream in(std::string(reinterpret_cast<const char*>(image.data()), image.size()));
        b->LoadFromStream(in);
    }
    adopt(this, d_->graphic, std::move(b));
}
