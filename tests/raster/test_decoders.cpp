// The BMP and PCX decoders on files built here: refusals, lying headers,
// short files, placement and clipping, palettes and 8-bit buffers.
#include <unistd.h>

#include <functional>
#include <set>

#include "raster_support.h"

namespace raster_test {
namespace {

enum class Kind { Bmp, Pcx };

Rgb grey(int i) {
    return Rgb{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
}

std::vector<Rgb> grey_palette(int n) {
    std::vector<Rgb> p;
    for (int i = 0; i < n; ++i) p.push_back(grey(i));
    return p;
}

// 16x8, 8 bits, grey palette, pixel (x, y) = x + 16 y.
BmpLayout grey_bmp() {
    BmpLayout s = bmp_layout(16, 8, 8);
    s.palette = grey_palette(256);
    for (int i = 0; i < 16 * 8; ++i) s.pixels.push_back(static_cast<uint32_t>(i));
    return s;
}
constexpr size_t kGreyBmpData = 14 + 40 + 256 * 4;

// 16x8, 8 bits, one plane, literal bytes only: pixel (x, y) = x + 16 y.
PcxLayout grey_pcx() {
    PcxLayout s;
    s.max_x = 15;
    s.max_y = 7;
    s.bytes_per_line = 16;
    for (int i = 0; i < 16 * 8; ++i) s.lines.push_back(static_cast<uint8_t>(i));
    s.tail_palette = grey_palette(256);
    return s;
}

class RasterDecoders : public RasterTest {
protected:
    int32_t show(Kind kind, const Bytes& bytes, int32_t flags = 0) {
        const auto path = dir_.path() / (kind == Kind::Bmp ? "image.bmp" : "image.pcx");
        write_file(path, bytes);
        return kind == Kind::Bmp ? rl_show_bmp(path.c_str(), flags)
                                 : rl_show_pcx(path.c_str(), flags);
    }

    testing_support::ScratchDir dir_;
};

// ---- RasterRefusals ----------------------------------------------------------------

struct Refusal {
    const char* name;
    Kind kind;
    int depth;
    std::function<Bytes()> file;  // empty: no file at all
    int32_t result;
};

class RasterRefusals : public RasterDecoders, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RasterRefusals, LeaveBufferAndPaletteUnchanged) {
    const Refusal& r = GetParam();
    const auto v = open_buffer(r.depth, 64, 32);
    std::vector<uint32_t> palette;
    for (int i = 0; i < 256; ++i) palette.push_back(raster::palette_entry(i));
    int32_t result;
    if (r.file) {
        result = show(r.kind, r.file());
    } else {
        const auto missing = (dir_.path() / "missing.bmp").string();
        result =
            r.kind == Kind::Bmp ? rl_show_bmp(missing.c_str(), 0) : rl_show_pcx(missing.c_str(), 0);
    }
    EXPECT_EQ(result, r.result);
    EXPECT_EQ(changed_outside(v, {}), 0);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(raster::palette_entry(i), palette[i]) << "entry " << i;
}

Bytes true_colour_bmp(int bits) {
    BmpLayout s = bmp_layout(5, 3, bits);
    s.pixels.assign(15, 0x1234);
    return make_bmp(s);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RasterRefusals,
    ::testing::Values(
        Refusal{"Bmp16Bits", Kind::Bmp, 16, [] { return true_colour_bmp(16); }, RL_UNSUPPORTED},
        Refusal{"Bmp32Bits", Kind::Bmp, 32, [] { return true_colour_bmp(32); }, RL_UNSUPPORTED},
        Refusal{"Bmp24BitsInto8", Kind::Bmp, 8, [] { return true_colour_bmp(24); }, RL_UNSUPPORTED},
        Refusal{"BmpRunLength", Kind::Bmp, 16,
                [] {
                    BmpLayout s = grey_bmp();
                    s.compression = BI_RLE8;
                    return make_bmp(s);
                },
                RL_COMPRESSED},
        Refusal{"NotBm", Kind::Bmp, 16,
                [] {
                    Bytes b = make_bmp(grey_bmp());
                    b[1] = 'A';
                    return b;
                },
                RL_NOT_IMAGE},
        Refusal{"BmpMissing", Kind::Bmp, 16, nullptr, RL_CANNOT_OPEN},
        Refusal{"PcxMissing", Kind::Pcx, 16, nullptr, RL_CANNOT_OPEN},
        Refusal{"NotPcx", Kind::Pcx, 16, [] { return make_bmp(grey_bmp()); }, RL_NOT_IMAGE},
        Refusal{"PcxTrueColourInto8", Kind::Pcx, 8,
                [] {
                    PcxLayout s = grey_pcx();
                    s.planes = 3;
                    s.tail_palette.clear();
                    s.lines.resize(16 * 3 * 8, 7);
                    return make_pcx(s);
                },
                RL_UNSUPPORTED}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Files that lie ------------------------------------------------------------

struct BadInput {
    const char* name;
    Kind kind;
    std::function<Bytes()> file;
    int32_t result;
    Rect drawn;  // nothing outside it may change
};

class RasterBadInputs : public RasterDecoders, public ::testing::WithParamInterface<BadInput> {};

TEST_P(RasterBadInputs, GiveTheirResultAndStayInsideTheirArea) {
    const BadInput& c = GetParam();
    const auto v = open_buffer(16, 64, 32);
    EXPECT_EQ(show(c.kind, c.file()), c.result);
    EXPECT_EQ(changed_outside(v, c.drawn), 0);
}

Bytes bmp_with(std::function<void(Bytes&)> change) {
    Bytes b = make_bmp(grey_bmp());
    change(b);
    return b;
}

Bytes pcx_with(std::function<void(PcxLayout&)> change_layout,
               std::function<void(Bytes&)> change = {}) {
    PcxLayout s = grey_pcx();
    change_layout(s);
    Bytes b = make_pcx(s);
    if (change) change(b);
    return b;
}

// A bare 8-bit bitmap header without palette followed by `data` bytes.
Bytes bmp_header_only(int32_t width, int32_t height, size_t data) {
    BmpLayout s = bmp_layout(1, 1, 8);
    Bytes b = make_bmp(s);
    b.resize(54);
    put32(b, 18, static_cast<uint32_t>(width));
    put32(b, 22, static_cast<uint32_t>(height));
    for (size_t i = 0; i < data; ++i) b.push_back(static_cast<uint8_t>(i));
    return b;
}

const Rect kNothing{};

// File makers for the table: the grey bitmap or PCX with one field changed.
using Maker = std::function<Bytes()>;
Maker bmp16_at(size_t at, uint32_t v) {
    return [=] { return bmp_with([=](Bytes& b) { put16(b, at, v); }); };
}
Maker bmp32_at(size_t at, uint32_t v) {
    return [=] { return bmp_with([=](Bytes& b) { put32(b, at, v); }); };
}
Maker bmp_cut(size_t size) {
    return [=] { return bmp_with([=](Bytes& b) { b.resize(size); }); };
}
Maker pcx_changed(std::function<void(PcxLayout&)> change) {
    return [=] { return pcx_with(change); };
}
Maker pcx_bytes(std::function<void(Bytes&)> change) {
    return [=] { return pcx_with([](PcxLayout&) {}, change); };
}
Maker pcx_at(int32_t min_x, int32_t min_y) {
    return pcx_changed([=](PcxLayout& s) {
        s.min_x = min_x;
        s.max_x = min_x + 15;
        s.min_y = min_y;
        s.max_y = min_y + 7;
    });
}
// Without the tail palette, cut after `size` bytes.
Maker pcx_cut(size_t size, std::vector<uint8_t> tail = {}) {
    return [=] {
        return pcx_with([](PcxLayout& s) { s.tail_palette.clear(); },
                        [=](Bytes& b) {
                            b.resize(size);
                            b.insert(b.end(), tail.begin(), tail.end());
                        });
    };
}

Bytes core_bmp_of_huge_size() {
    Bytes b = make_bmp(bmp_layout(1, 1, 8, true));
    b.resize(26);
    put16(b, 18, 0xFFFF);
    put16(b, 20, 0xFFFF);
    b.insert(b.end(), 5000, 3);
    return b;
}

constexpr Kind B = Kind::Bmp, P = Kind::Pcx;

INSTANTIATE_TEST_SUITE_P(
    Files, RasterBadInputs,
    ::testing::Values(
        BadInput{"BmpEmpty", B, [] { return Bytes{}; }, RL_NOT_IMAGE, kNothing},
        BadInput{"BmpSignatureOnly", B,
                 [] {
                     return Bytes{'B', 'M'};
                 },
                 RL_NOT_IMAGE, kNothing},
        BadInput{"BmpInfoHeaderCut", B, bmp_cut(30), RL_NOT_IMAGE, kNothing},
        BadInput{"BmpInfoSizeZero", B, bmp32_at(14, 0), RL_NOT_IMAGE, kNothing},
        BadInput{"BmpInfoSize13", B, bmp32_at(14, 13), RL_NOT_IMAGE, kNothing},
        BadInput{"BmpBitCountZero", B, bmp16_at(28, 0), RL_UNSUPPORTED, kNothing},
        BadInput{"BmpBitCount7", B, bmp16_at(28, 7), RL_UNSUPPORTED, kNothing},
        BadInput{"BmpBitCountHuge", B, bmp16_at(28, 0xFFFF), RL_UNSUPPORTED, kNothing},
        BadInput{"BmpCompressionHuge", B, bmp32_at(30, 0xFFFFFFFF), RL_COMPRESSED, kNothing},
        BadInput{"BmpDataOffsetPastEnd", B, bmp32_at(10, 0xFFFFFFF0), RL_OK, kNothing},
        BadInput{"BmpDataOffsetZero", B, bmp32_at(10, 0), RL_OK, Rect{0, 0, 16, 8}},
        BadInput{"BmpPaletteLongerThanFile", B, bmp_cut(14 + 40 + 40), RL_OK, kNothing},
        BadInput{"BmpHugeWidthDrawsTheRowItHolds", B,
                 [] { return bmp_header_only(0x7FFFFFFF, 2, 64); }, RL_OK, Rect{0, 1, 64, 2}},
        BadInput{"BmpHugeHeight", B, [] { return bmp_header_only(16, 0x7FFFFFFF, 16 * 8); }, RL_OK,
                 kNothing},
        BadInput{"BmpHugeTopDownHeight", B, [] { return bmp_header_only(16, INT32_MIN, 16 * 8); },
                 RL_OK, Rect{0, 0, 16, 8}},
        BadInput{"BmpNegativeWidth", B, [] { return bmp_header_only(-16, 8, 16 * 8); }, RL_OK,
                 kNothing},
        BadInput{"BmpCoreHeaderHugeSize", B, core_bmp_of_huge_size, RL_OK, kNothing},
        BadInput{"BmpCutInsideARow", B, bmp_cut(kGreyBmpData + 3 * 16 + 5), RL_OK,
                 Rect{0, 5, 16, 8}},

        BadInput{"PcxEmpty", P, [] { return Bytes{}; }, RL_NOT_IMAGE, kNothing},
        BadInput{"PcxHeaderCut", P, pcx_bytes([](Bytes& b) { b.resize(127); }), RL_NOT_IMAGE,
                 kNothing},
        BadInput{"PcxMaxXBelowMinX", P, pcx_changed([](PcxLayout& s) { s.min_x = 20; }),
                 RL_NOT_IMAGE, kNothing},
        BadInput{"PcxMaxYBelowMinY", P, pcx_changed([](PcxLayout& s) { s.min_y = 9; }),
                 RL_NOT_IMAGE, kNothing},
        BadInput{"PcxBytesPerLineZero", P, pcx_changed([](PcxLayout& s) { s.bytes_per_line = 0; }),
                 RL_UNSUPPORTED, kNothing},
        BadInput{"PcxBytesPerLineBelowWidth", P, pcx_bytes([](Bytes& b) { put16(b, 66, 15); }),
                 RL_UNSUPPORTED, kNothing},
        BadInput{"PcxOneBitLineTooShort", P, pcx_changed([](PcxLayout& s) {
                     s.bits = 1;
                     s.bytes_per_line = 1;  // 16 pixels need 2
                     s.lines.resize(8);
                 }),
                 RL_UNSUPPORTED, kNothing},
        BadInput{"PcxBytesPerLineHuge", P, pcx_bytes([](Bytes& b) { put16(b, 66, 0xFFFF); }), RL_OK,
                 kNothing},
        BadInput{"PcxTwoPlanes", P, pcx_changed([](PcxLayout& s) { s.planes = 2; }), RL_UNSUPPORTED,
                 kNothing},
        BadInput{"PcxNoPlanes", P, pcx_bytes([](Bytes& b) { b[65] = 0; }), RL_UNSUPPORTED,
                 kNothing},
        BadInput{"PcxFourBits", P, pcx_changed([](PcxLayout& s) { s.bits = 4; }), RL_UNSUPPORTED,
                 kNothing},
        BadInput{"PcxFourPlanesOfBytes", P, pcx_changed([](PcxLayout& s) { s.planes = 4; }),
                 RL_UNSUPPORTED, kNothing},
        BadInput{"PcxHugeExtent", P, pcx_changed([](PcxLayout& s) {
                     s.max_x = 32766;
                     s.max_y = 32766;
                     s.bytes_per_line = 32767;
                     s.runs_cross_lines = true;
                 }),
                 RL_OK, kNothing},
        BadInput{"PcxCutInsideALine", P, pcx_cut(128 + 3 * 16 + 5), RL_OK, Rect{0, 0, 16, 3}},
        BadInput{"PcxRunWithoutValueAtEnd", P, pcx_cut(128 + 2 * 16, {0xC5}), RL_OK,
                 Rect{0, 0, 16, 2}},
        BadInput{"PcxLeftOfTheBuffer", P, pcx_at(-5, 0), RL_OK, Rect{0, 0, 11, 8}},
        BadInput{"PcxPastTheRightEdge", P, pcx_at(60, 0), RL_OK, Rect{60, 0, 64, 8}},
        BadInput{"PcxBelowTheBottom", P, pcx_at(0, 30), RL_OK, Rect{0, 30, 16, 32}},
        BadInput{"PcxEntirelyOutside", P, pcx_at(100, 0), RL_OK, kNothing}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Short files keep the rows after the end --------------------------------

TEST_F(RasterDecoders, ShortBmpDrawsItsBottomRowsOnly) {
    const auto v = open_buffer(16, 64, 32);
    Bytes b = make_bmp(grey_bmp());
    b.resize(kGreyBmpData + 3 * 16 + 5);
    ASSERT_EQ(show(Kind::Bmp, b), RL_OK);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint32_t want =
                y >= 5 ? rgb565(grey(x + 16 * y).r, grey(x + 16 * y).g, grey(x + 16 * y).b)
                       : sentinel(x, y, 16);
            ASSERT_EQ(buffer_pixel(v, x, y), want) << x << "," << y;
        }
}

TEST_F(RasterDecoders, ShortPcxDrawsItsTopLinesOnly) {
    const auto v = open_buffer(32, 64, 32);
    PcxLayout s = grey_pcx();
    s.tail_palette.clear();
    s.header_palette[3] = Rgb{1, 2, 3};
    s.lines.assign(16 * 8, 3);
    Bytes b = make_pcx(s);
    // Per line one run of 16: two bytes a line.
    b.resize(128 + 2 * 5 + 1);
    ASSERT_EQ(show(Kind::Pcx, b), RL_OK);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(buffer_pixel(v, x, y), y < 5 ? 0x010203u : sentinel(x, y, 32))
                << x << "," << y;
}

// ---- PCX run-length details ----------------------------------------------------

TEST_F(RasterDecoders, PcxRunCarriesOverIntoTheNextLine) {
    const auto v = open_buffer(16, 64, 32);
    PcxLayout s;
    s.max_x = 9;
    s.max_y = 3;
    s.bytes_per_line = 10;
    s.header_palette[1] = Rgb{255, 0, 0};
    s.header_palette[2] = Rgb{0, 255, 0};
    s.header_palette[3] = Rgb{0, 0, 255};
    // Lines 0, 1 and half of 2 are colour 1, then 2, then line 3 is colour 3.
    s.lines.assign(25, 1);
    s.lines.insert(s.lines.end(), 5, 2);
    s.lines.insert(s.lines.end(), 10, 3);
    s.runs_cross_lines = true;
    s.version = 3;
    const Bytes file = make_pcx(s);
    ASSERT_EQ(Bytes(file.begin() + 128, file.end()),
              (Bytes{0xC0 | 25, 1, 0xC0 | 5, 2, 0xC0 | 10, 3}));
    ASSERT_EQ(show(Kind::Pcx, file), RL_OK);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x) {
            const int i = y * 10 + x;
            const uint32_t want = i < 25 ? 0xF800 : i < 30 ? 0x07E0 : 0x001F;
            ASSERT_EQ(buffer_pixel(v, x, y), want) << x << "," << y;
        }
    EXPECT_EQ(changed_outside(v, {0, 0, 10, 4}), 0);
}

TEST_F(RasterDecoders, PcxEmptyRunAndHighLiteralsDecode) {
    const auto v = open_buffer(8, 64, 32);
    PcxLayout s;
    s.max_x = 3;
    s.max_y = 0;
    s.bytes_per_line = 4;
    s.version = 3;
    Bytes b = make_pcx(s);
    b.insert(b.end(), {0xC0, 0x77, 0x05, 0xC1, 0xC8, 0xC2, 0x09});  // empty run, 5, 0xC8, 9, 9
    ASSERT_EQ(show(Kind::Pcx, b, RL_KEEP_PALETTE), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 0, 0), 5u);
    EXPECT_EQ(buffer_pixel(v, 1, 0), 0xC8u);
    EXPECT_EQ(buffer_pixel(v, 2, 0), 9u);
    EXPECT_EQ(buffer_pixel(v, 3, 0), 9u);
}

// Runs are read from the 4096-byte block in hand: a run whose count byte
// ends one block and whose value starts the next must decode like any other.
TEST_F(RasterDecoders, PcxRunSplitAcrossReadBlocksDecodes) {
    for (const size_t code_at : {size_t{4094}, size_t{4095}, size_t{4096}}) {
        const auto v = open_buffer(8, 16, 256);
        PcxLayout s;
        s.max_x = 15;
        s.max_y = 248;
        s.bytes_per_line = 16;
        s.version = 3;
        Bytes b = make_pcx(s);
        Bytes want;
        while (b.size() < code_at) {
            b.push_back(uint8_t(want.size() % 150));
            want.push_back(b.back());
        }
        b.insert(b.end(), {0xC0 | 5, 0xC7});
        want.insert(want.end(), 5, 0xC7);
        while (want.size() < 16 * 249) {
            b.push_back(uint8_t(want.size() % 150));
            want.push_back(b.back());
        }
        ASSERT_EQ(show(Kind::Pcx, b, RL_KEEP_PALETTE), RL_OK);
        for (int y = 0; y < 249; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(buffer_pixel(v, x, y), want[size_t(y) * 16 + size_t(x)])
                    << "code at " << code_at << ", pixel " << x << "," << y;
    }
}

// ---- PCX palettes ---------------------------------------------------------------

struct PcxPaletteCase {
    const char* name;
    int version;
    bool tail;          // 256 colours appended
    bool marked;        // ... behind the byte 12
    uint32_t expected;  // colour of index 2 in a 32-bit buffer
};

class RasterPcxPalettes : public RasterDecoders,
                          public ::testing::WithParamInterface<PcxPaletteCase> {};

TEST_P(RasterPcxPalettes, TailPaletteOnlyForVersion5WithItsMark) {
    const PcxPaletteCase& c = GetParam();
    const auto v = open_buffer(32, 64, 32);
    PcxLayout s = grey_pcx();
    s.version = c.version;
    s.lines.assign(16 * 8, 2);
    s.header_palette[2] = Rgb{0x11, 0x22, 0x33};
    s.tail_palette.assign(256, Rgb{0xAA, 0xBB, 0xCC});
    if (!c.tail) s.tail_palette.clear();
    Bytes b = make_pcx(s);
    if (c.tail && !c.marked) b[b.size() - 769] = 13;
    ASSERT_EQ(show(Kind::Pcx, b), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 0, 0), c.expected);
    EXPECT_EQ(buffer_pixel(v, 15, 7), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RasterPcxPalettes,
    ::testing::Values(PcxPaletteCase{"Version5Marked", 5, true, true, 0xAABBCC},
                      PcxPaletteCase{"Version5Unmarked", 5, true, false, 0x112233},
                      PcxPaletteCase{"Version5WithoutTail", 5, false, false, 0x112233},
                      PcxPaletteCase{"Version3Marked", 3, true, true, 0x112233}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Placement and clipping ------------------------------------------------

struct PlacementCase {
    const char* name;
    int depth, bits;
    int32_t flags;
    int pos_x, pos_y;
    int left, top;  // where the image's (0, 0) lands
};

class RasterPlacements : public RasterDecoders,
                         public ::testing::WithParamInterface<PlacementCase> {};

// A 20x6 image whose pixel (x, y) has palette index (x + 3 y) % colours,
// colour i of the image palette being (i, 2 i, 255 - i).
TEST_P(RasterPlacements, ImageLandsAtItsPlaceAndIsCut) {
    const PlacementCase& c = GetParam();
    const auto v = open_buffer(c.depth, 64, 32);
    const int colours = 1 << c.bits;
    BmpLayout s = bmp_layout(20, 6, c.bits);
    for (int i = 0; i < colours; ++i)
        s.palette.push_back(Rgb{static_cast<uint8_t>(i), static_cast<uint8_t>(2 * i),
                                static_cast<uint8_t>(255 - i)});
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 20; ++x)
            s.pixels.push_back(static_cast<uint32_t>((x + 3 * y) % colours));
    rl_set_position(c.pos_x, c.pos_y);
    ASSERT_EQ(show(Kind::Bmp, make_bmp(s), c.flags), RL_OK);
    const Rect drawn{std::max(c.left, 0), std::max(c.top, 0), std::min(c.left + 20, 64),
                     std::min(c.top + 6, 32)};
    for (int y = drawn.top; y < drawn.bottom; ++y)
        for (int x = drawn.left; x < drawn.right; ++x) {
            const int i = (x - c.left + 3 * (y - c.top)) % colours;
            ASSERT_EQ(buffer_pixel(v, x, y), pixel_value(s.palette[i], c.depth)) << x << "," << y;
        }
    EXPECT_EQ(changed_outside(v, drawn), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RasterPlacements,
    ::testing::Values(PlacementCase{"Origin", 16, 8, 0, 30, 20, 0, 0},
                      PlacementCase{"CurrentPosition", 16, 8, RL_AT_POSITION, 30, 20, 30, 20},
                      PlacementCase{"CutRightAndBottom", 24, 8, RL_AT_POSITION, 50, 29, 50, 29},
                      PlacementCase{"CutLeftMidByte4Bits", 32, 4, RL_AT_POSITION, -3, -2, -3, -2},
                      PlacementCase{"CutLeftMidByte1Bit", 16, 1, RL_AT_POSITION, -5, 1, -5, 1},
                      PlacementCase{"NothingInside", 16, 8, RL_AT_POSITION, 64, 0, 64, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RasterDecoders, WideTrueColourImageIsCutAtTheRightEdge) {
    const auto v = open_buffer(16, 64, 32);
    BmpLayout s = bmp_layout(70, 3, 24);
    for (int i = 0; i < 70 * 3; ++i)
        s.pixels.push_back(static_cast<uint32_t>(i * 0x010307) & 0xFFFFFF);
    ASSERT_EQ(show(Kind::Bmp, make_bmp(s)), RL_OK);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint32_t c = s.pixels[static_cast<size_t>(y) * 70 + x];
            ASSERT_EQ(buffer_pixel(v, x, y), rgb565(c >> 16, (c >> 8) & 0xFF, c & 0xFF))
                << x << "," << y;
        }
    EXPECT_EQ(changed_outside(v, {0, 0, 64, 3}), 0);
}

TEST_F(RasterDecoders, PcxHeaderPositionOrCurrentPosition) {
    const auto v = open_buffer(16, 64, 32);
    PcxLayout s = grey_pcx();
    s.min_x = 40;
    s.max_x = 55;
    s.min_y = 10;
    s.max_y = 17;
    ASSERT_EQ(show(Kind::Pcx, make_pcx(s)), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 40, 10), 0u);
    EXPECT_EQ(buffer_pixel(v, 55, 17), rgb565(127, 127, 127));
    EXPECT_EQ(changed_outside(v, {40, 10, 56, 18}), 0);

    fill_sentinel(v);
    rl_set_position(2, 3);
    ASSERT_EQ(show(Kind::Pcx, make_pcx(s), RL_AT_POSITION), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 17, 10), rgb565(127, 127, 127));
    EXPECT_EQ(changed_outside(v, {2, 3, 18, 11}), 0);
}

// ---- Palettes ---------------------------------------------------------------

TEST_F(RasterDecoders, SmallImagesTakeTheEntriesFromTen) {
    open_buffer(32, 64, 32);
    BmpLayout s = bmp_layout(8, 1, 4);
    for (int i = 0; i < 16; ++i) s.palette.push_back(Rgb{static_cast<uint8_t>(i), 7, 9});
    s.pixels.assign(8, 15);
    ASSERT_EQ(show(Kind::Bmp, make_bmp(s)), RL_OK);
    EXPECT_EQ(raster::palette_entry(10), 0x000709u);
    EXPECT_EQ(raster::palette_entry(25), 0x0F0709u);
    EXPECT_EQ(raster::palette_entry(9), 0xA4C8F0u) << "entries below 10 keep their colour";
}

TEST_F(RasterDecoders, PaletteEntriesMissingFromTheFileAreNotUsed) {
    open_buffer(32, 64, 32);
    Bytes b = make_bmp(grey_bmp());
    // Room for 256 entries, but the file ends after 10 of them.
    for (size_t i = 14 + 40; i < 14 + 40 + 40; ++i) b[i] = 0x40;
    b.resize(14 + 40 + 40);
    const uint8_t marker[3] = {9, 8, 7};
    rl_set_palette(10, 1, marker);
    ASSERT_EQ(show(Kind::Bmp, b), RL_OK);
    EXPECT_EQ(raster::palette_entry(9), 0x404040u);
    EXPECT_EQ(raster::palette_entry(10), 0x090807u);
}

TEST_F(RasterDecoders, KeepPaletteFlagUsesTheCurrentColours) {
    const auto v = open_buffer(16, 64, 32);
    BmpLayout s = grey_bmp();
    s.pixels.assign(16 * 8, 249);  // red in the default palette
    ASSERT_EQ(show(Kind::Bmp, make_bmp(s), RL_KEEP_PALETTE), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 3, 3), 0xF800u);
    EXPECT_EQ(raster::palette_entry(249), 0xFF0000u);
}

// ---- 8-bit buffers --------------------------------------------------------------

// 16x16 image using `used` of its 256 colours, all different.
BmpLayout many_colours(int used) {
    BmpLayout s = bmp_layout(16, 16, 8);
    for (int i = 0; i < 256; ++i)
        s.palette.push_back(Rgb{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7),
                                static_cast<uint8_t>(i * 13)});
    for (int i = 0; i < 256; ++i) s.pixels.push_back(static_cast<uint32_t>((i * 37) % used));
    return s;
}

TEST_F(RasterDecoders, EightBitBufferKeepsUpTo236ColoursExactly) {
    const auto v = open_buffer(8, 64, 32);
    const BmpLayout s = many_colours(200);
    ASSERT_EQ(show(Kind::Bmp, make_bmp(s)), RL_OK);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint32_t index = buffer_pixel(v, x, y);
            ASSERT_GE(index, 10u);
            ASSERT_LT(index, 210u);
            const Rgb want = s.palette[s.pixels[static_cast<size_t>(y) * 16 + x]];
            ASSERT_EQ(raster::palette_entry(static_cast<int>(index)), pixel_value(want, 32))
                << x << "," << y;
        }
    EXPECT_EQ(changed_outside(v, {0, 0, 16, 16}), 0);
}

TEST_F(RasterDecoders, EightBitBufferMergesAFullPaletteInto236) {
    const auto v = open_buffer(8, 64, 32);
    ASSERT_EQ(show(Kind::Bmp, make_bmp(many_colours(256))), RL_OK);
    std::set<uint32_t> seen;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) seen.insert(buffer_pixel(v, x, y));
    EXPECT_EQ(seen.size(), 236u);
    EXPECT_EQ(*seen.begin(), 10u);
    EXPECT_EQ(*seen.rbegin(), 245u);
    EXPECT_EQ(changed_outside(v, {0, 0, 16, 16}), 0);
}

TEST_F(RasterDecoders, EightBitBufferWithoutReductionCopiesIndices) {
    const auto v = open_buffer(8, 64, 32);
    const BmpLayout s = many_colours(256);
    ASSERT_EQ(show(Kind::Bmp, make_bmp(s), RL_NO_REDUCE), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 5, 0), s.pixels[5]);
    EXPECT_EQ(raster::palette_entry(100), pixel_value(s.palette[100], 32));
    EXPECT_EQ(raster::palette_entry(250), 0x00FF00u) << "static colours stay";
}

TEST_F(RasterDecoders, EightBitBufferGetsSmallImagesFromTen) {
    const auto v = open_buffer(8, 64, 32);
    PcxLayout s;
    s.bits = 1;
    s.planes = 4;
    s.max_x = 7;
    s.max_y = 0;
    s.bytes_per_line = 1;
    s.header_palette[5] = Rgb{50, 60, 70};
    s.lines = {0xFF, 0x00, 0xFF, 0x00};  // planes 0 and 2: index 5
    ASSERT_EQ(show(Kind::Pcx, make_pcx(s)), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 7, 0), 15u);
    EXPECT_EQ(raster::palette_entry(15), 0x323C46u);
}

// ---- Sources and the active buffer ------------------------------------------------

TEST_F(RasterDecoders, MemoryImageDecodesLikeTheFile) {
    const auto v = open_buffer(16, 64, 32);
    const Bytes bmp = make_bmp(grey_bmp());
    ASSERT_EQ(show(Kind::Bmp, bmp), RL_OK);
    std::vector<uint32_t> from_file;
    for (int i = 0; i < 64 * 32; ++i) from_file.push_back(buffer_pixel(v, i % 64, i / 64));

    fill_sentinel(v);
    EXPECT_EQ(rl_show_bmp("no such file", RL_FROM_MEMORY), RL_CANNOT_OPEN) << "no memory image yet";
    rl_set_memory_image(bmp.data(), static_cast<int32_t>(bmp.size()));
    ASSERT_EQ(rl_show_bmp("no such file", RL_FROM_MEMORY), RL_OK);
    for (int i = 0; i < 64 * 32; ++i) ASSERT_EQ(buffer_pixel(v, i % 64, i / 64), from_file[i]) << i;

    // The memory image's size bounds the reading like a file's end.
    fill_sentinel(v);
    rl_set_memory_image(bmp.data(), static_cast<int32_t>(kGreyBmpData + 2 * 16));
    ASSERT_EQ(rl_show_bmp(nullptr, RL_FROM_MEMORY), RL_OK);
    EXPECT_EQ(changed_outside(v, {0, 6, 16, 8}), 0);
}

TEST_F(RasterDecoders, WindowsRelativePathIsFound) {
    const auto v = open_buffer(16, 64, 32);
    std::filesystem::create_directories(dir_.path() / "system");
    write_file(dir_.path() / "system" / "Menu.bmp", make_bmp(grey_bmp()));
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    EXPECT_EQ(rl_show_bmp("system\\Menu.bmp", 0), RL_OK);
    EXPECT_EQ(rl_show_pcx("system\\none.pcx", 0), RL_CANNOT_OPEN);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(buffer_pixel(v, 15, 7), rgb565(127, 127, 127));
}

TEST_F(RasterDecoders, NothingHappensWithoutAnActiveBuffer) {
    const auto v = open_buffer(16, 64, 32);
    rl_buffer_close();
    EXPECT_EQ(show(Kind::Bmp, make_bmp(grey_bmp())), RL_OK);
    EXPECT_EQ(show(Kind::Pcx, make_pcx(grey_pcx())), RL_OK);
    EXPECT_EQ(rl_show_bmp("missing.bmp", 0), RL_OK);
    EXPECT_EQ(changed_outside(v, {}), 0);
}

}  // namespace
}  // namespace raster_test
