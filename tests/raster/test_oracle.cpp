// The decoders against real tools: files written by ImageMagick and netpbm,
// decoded into 16-, 24- and 32-bit buffers, must give exactly the pixels
// the tools read back (5-6-5 of them for 16 bits).
#include <cstdio>
#include <sstream>

#include "raster_support.h"

namespace raster_test {
namespace {

constexpr const char* kConvert = "/usr/bin/convert";  // not the one earlier on PATH
constexpr const char* kPpmToPcx = "/usr/bin/ppmtopcx";
constexpr const char* kPcxToPpm = "/usr/bin/pcxtoppm";

// Runs a shell command and returns its standard output; fails the test when
// the command does not succeed.
Bytes run(const std::string& command) {
    Bytes out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot start: " << command;
        return out;
    }
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.insert(out.end(), chunk, chunk + n);
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command;
    return out;
}

std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

void require_tools() {
    for (const char* tool : {kConvert, kPpmToPcx, kPcxToPpm})
        ASSERT_TRUE(std::filesystem::exists(tool))
            << tool << " is missing (packages imagemagick, netpbm)";
}

Picture parse_ppm(const Bytes& data) {
    Picture p;
    std::string head(data.begin(),
                     data.begin() + static_cast<long>(std::min<size_t>(data.size(), 64)));
    std::istringstream in(head);
    std::string magic;
    int maxval = 0;
    in >> magic >> p.width >> p.height >> maxval;
    EXPECT_EQ(magic, "P6");
    EXPECT_EQ(maxval, 255);
    const size_t start = static_cast<size_t>(in.tellg()) + 1;
    const size_t count = static_cast<size_t>(p.width) * p.height;
    EXPECT_EQ(data.size(), start + 3 * count);
    for (size_t i = 0; i < count && start + 3 * i + 2 < data.size(); ++i)
        p.pixels.push_back(
            Rgb{data[start + 3 * i], data[start + 3 * i + 1], data[start + 3 * i + 2]});
    return p;
}

Picture read_back_bmp(const std::filesystem::path& file, int width, int height) {
    const Bytes raw = run(std::string(kConvert) + " " + quoted(file) + " -depth 8 rgb:-");
    Picture p{width, height, {}};
    EXPECT_EQ(raw.size(), static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i + 2 < raw.size(); i += 3)
        p.pixels.push_back(Rgb{raw[i], raw[i + 1], raw[i + 2]});
    return p;
}

Picture read_back_pcx(const std::filesystem::path& file) {
    return parse_ppm(run(std::string(kPcxToPpm) + " -quiet " + quoted(file)));
}

// The fields of a written file that say which decoder path it takes.
struct Format {
    int header;  // BMP info header size; PCX version
    int bits;
    int planes;  // PCX only
    bool operator==(const Format&) const = default;
};

Format format_of(const Bytes& f, bool bmp) {
    if (bmp) {
        const int header = static_cast<int>(get32(f, 14));
        return Format{header, static_cast<int>(get16(f, header == 12 ? 24 : 28)), 1};
    }
    return Format{f[1], f[3], f[65]};
}

std::ostream& operator<<(std::ostream& os, const Format& f) {
    return os << "header/version " << f.header << ", bits " << f.bits << ", planes " << f.planes;
}

struct ToolCase {
    const char* name;
    bool bmp;
    // Shell command making {out} from {src}, a 37x23 plasma PPM.
    std::string make;
    Format format;
};

std::string expand(std::string text, const std::filesystem::path& src,
                   const std::filesystem::path& out, const std::filesystem::path& tmp) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"{src}", quoted(src)}, {"{out}", quoted(out)}, {"{tmp}", quoted(tmp)}};
    for (const auto& [key, value] : names)
        for (size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    return text;
}

const std::string Magick = kConvert;
const std::string ToPcx = std::string(kPpmToPcx) + " -quiet";

const ToolCase kCases[] = {
    {"Bmp2_1", true, Magick + " {src} -colors 2 -type Palette BMP2:{out}", {12, 1, 1}},
    {"Bmp2_4", true, Magick + " {src} -colors 16 -type Palette BMP2:{out}", {12, 4, 1}},
    {"Bmp2_8", true, Magick + " {src} -colors 256 -type Palette BMP2:{out}", {12, 8, 1}},
    {"Bmp2_24", true, Magick + " {src} -type TrueColor BMP2:{out}", {12, 24, 1}},
    {"Bmp3_1",
     true,
     Magick + " {src} -colors 2 -type Palette -compress None BMP3:{out}",
     {40, 1, 1}},
    {"Bmp3_4",
     true,
     Magick + " {src} -colors 16 -type Palette -compress None BMP3:{out}",
     {40, 4, 1}},
    {"Bmp3_8",
     true,
     Magick + " {src} -colors 256 -type Palette -compress None BMP3:{out}",
     {40, 8, 1}},
    {"Bmp3_24", true, Magick + " {src} -type TrueColor -compress None BMP3:{out}", {40, 24, 1}},
    {"PcxMagick8", false, Magick + " {src} -colors 256 -type Palette PCX:{out}", {5, 8, 1}},
    {"PcxNetpbm8",
     false,
     Magick + " {src} -colors 256 {tmp} && " + ToPcx + " -8bit {tmp} > {out}",
     {5, 8, 1}},
    {"PcxNetpbm24", false, ToPcx + " -24bit {src} > {out}", {5, 8, 3}},
    {"PcxNetpbm1",
     false,
     Magick + " {src} -colors 2 {tmp} && " + ToPcx + " {tmp} > {out}",
     {5, 1, 1}},
    {"PcxNetpbm4Planes",
     false,
     Magick + " {src} -colors 16 {tmp} && " + ToPcx + " -planes=4 {tmp} > {out}",
     {5, 1, 4}},
};

class RasterToolTest : public RasterTest {
protected:
    std::filesystem::path plasma() {
        const auto src = dir_.path() / "src.ppm";
        run(Magick + " -seed 1999 -size 37x23 plasma:fractal " + quoted(src));
        return src;
    }
    testing_support::ScratchDir dir_;
};

class RasterToolFiles : public RasterToolTest,
                        public ::testing::WithParamInterface<std::tuple<ToolCase, int>> {};

TEST_P(RasterToolFiles, DecodeToThePixelsTheToolsReadBack) {
    ASSERT_NO_FATAL_FAILURE(require_tools());
    const auto& [c, depth] = GetParam();
    const auto src = plasma();
    const auto out = dir_.path() / (c.bmp ? "image.bmp" : "image.pcx");
    run(expand(c.make, src, out, dir_.path() / "reduced.ppm"));
    const Bytes file = read_file(out);
    ASSERT_GT(file.size(), 128u);
    ASSERT_EQ(format_of(file, c.bmp), c.format) << "the tool wrote another kind of file";

    const Picture want = c.bmp ? read_back_bmp(out, 37, 23) : read_back_pcx(out);
    ASSERT_EQ(want.width, 37);
    ASSERT_EQ(want.height, 23);
    ASSERT_EQ(want.pixels.size(), 37u * 23u);

    const auto v = open_buffer(depth, 64, 32);
    ASSERT_EQ(c.bmp ? rl_show_bmp(out.c_str(), 0) : rl_show_pcx(out.c_str(), 0), RL_OK);
    int wrong = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            if (buffer_pixel(v, x, y) != pixel_value(want.at(x, y), depth) && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex
                              << buffer_pixel(v, x, y) << " instead of "
                              << pixel_value(want.at(x, y), depth);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(changed_outside(v, {0, 0, 37, 23}), 0);
}

INSTANTIATE_TEST_SUITE_P(Tools, RasterToolFiles,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(16, 24, 32)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST_F(RasterToolTest, RunLengthBmpFromImageMagickIsRefused) {
    ASSERT_NO_FATAL_FAILURE(require_tools());
    const auto out = dir_.path() / "rle.bmp";
    run(Magick + " " + quoted(plasma()) +
        " -colors 256 -type Palette -compress RLE BMP3:" + quoted(out));
    ASSERT_EQ(get32(read_file(out), 30), uint32_t{BI_RLE8});
    const auto v = open_buffer(16, 64, 32);
    EXPECT_EQ(rl_show_bmp(out.c_str(), 0), RL_COMPRESSED);
    EXPECT_EQ(changed_outside(v, {}), 0);
}

// Bands three lines high whose last ten columns already take the colour of
// the next line's start, so that runs cross every line end.
std::filesystem::path write_bands(const std::filesystem::path& dir) {
    const Rgb bands[] = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {90, 90, 90}};
    std::string ppm = "P6\n40 12\n255\n";
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 40; ++x) {
            const Rgb c = x < 30 ? bands[(y / 3) % 4] : bands[((y + 1) / 3) % 4];
            ppm += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
        }
    const auto path = dir / "bands.ppm";
    write_file(path, Bytes(ppm.begin(), ppm.end()));
    return path;
}

TEST_F(RasterToolTest, RunsAcrossLineEndsDecodeLikeTheLineByLineFile) {
    ASSERT_NO_FATAL_FAILURE(require_tools());
    const auto original = dir_.path() / "lines.pcx";
    run(ToPcx + " -8bit " + quoted(write_bands(dir_.path())) + " > " + quoted(original));
    const Bytes file = read_file(original);
    ASSERT_EQ(format_of(file, false), (Format{5, 8, 1}));
    const int line = static_cast<int>(get16(file, 66));
    ASSERT_EQ(line, 40);

    // The same lines coded as one stream: a run now spans the end of a line.
    PcxLayout s;
    s.max_x = 39;
    s.max_y = 11;
    s.bytes_per_line = line;
    s.lines = pcx_lines(file, 12, 40);
    s.runs_cross_lines = true;
    for (int i = 0; i < 16; ++i)
        s.header_palette[i] = Rgb{file[16 + 3 * i], file[17 + 3 * i], file[18 + 3 * i]};
    for (size_t i = file.size() - 768; i < file.size(); i += 3)
        s.tail_palette.push_back(Rgb{file[i], file[i + 1], file[i + 2]});
    const Bytes crossing = make_pcx(s);
    size_t decoded = 0;
    bool crosses = false;
    for (size_t i = 128; i < crossing.size() - 769; ++i) {
        const size_t n = crossing[i] >= 0xC0 ? crossing[i++] & 0x3F : 1;
        crosses |= decoded / 40 != (decoded + n - 1) / 40;
        decoded += n;
    }
    ASSERT_TRUE(crosses);
    const auto crossing_path = dir_.path() / "crossing.pcx";
    write_file(crossing_path, crossing);

    const Picture want = read_back_pcx(original);
    for (int depth : {16, 32}) {
        const auto v = open_buffer(depth, 64, 32);
        ASSERT_EQ(rl_show_pcx(crossing_path.c_str(), 0), RL_OK);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(buffer_pixel(v, x, y), pixel_value(want.at(x, y), depth))
                    << x << "," << y;
        EXPECT_EQ(changed_outside(v, {0, 0, 40, 12}), 0);
        rl_buffer_close();
    }
}

TEST_F(RasterToolTest, PcxPlacedByItsHeaderIsDrawnThere) {
    ASSERT_NO_FATAL_FAILURE(require_tools());
    const auto reduced = dir_.path() / "reduced.ppm";
    const auto out = dir_.path() / "placed.pcx";
    run(Magick + " " + quoted(plasma()) + " -colors 16 " + quoted(reduced));
    run(ToPcx + " -xpos=100 -ypos=50 " + quoted(reduced) + " > " + quoted(out));
    const Picture want = read_back_pcx(out);
    ASSERT_EQ(want.width, 37);

    const auto v = open_buffer(16, 640, 480);
    ASSERT_EQ(rl_show_pcx(out.c_str(), 0), RL_OK);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(buffer_pixel(v, 100 + x, 50 + y), pixel_value(want.at(x, y), 16))
                << x << "," << y;
    EXPECT_EQ(changed_outside(v, {100, 50, 137, 73}), 0);

    fill_sentinel(v);
    rl_set_position(5, 6);
    ASSERT_EQ(rl_show_pcx(out.c_str(), RL_AT_POSITION), RL_OK);
    EXPECT_EQ(buffer_pixel(v, 5 + 36, 6 + 22), pixel_value(want.at(36, 22), 16));
    EXPECT_EQ(changed_outside(v, {5, 6, 42, 29}), 0);
}

}  // namespace
}  // namespace raster_test
