// The menu's drawing work: decoding a 640x480 8-bit BMP and a 640x480 PCX
// into a 16-bit buffer, and one full-screen paste. Goal: each under 2 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "raster/rl.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Blocks of colour with some texture, like a menu picture: runs of a few
// pixels to a few dozen.
uint8_t picture(int x, int y) {
    return static_cast<uint8_t>((x / 12 + (y / 10) * 7 + ((x * y) >> 11)) & 0xFF);
}

Bytes make_bmp() {
    const size_t data = 14 + 40 + 1024;
    Bytes b(data + size_t{kWidth} * kHeight, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(b.size()));
    put32(b, 10, static_cast<uint32_t>(data));
    put32(b, 14, 40);
    put32(b, 18, kWidth);
    put32(b, 22, kHeight);
    put16(b, 26, 1);
    put16(b, 28, 8);
    for (int i = 0; i < 256; ++i) {
        b[54 + 4 * i] = static_cast<uint8_t>(i);
        b[55 + 4 * i] = static_cast<uint8_t>(255 - i);
        b[56 + 4 * i] = static_cast<uint8_t>(i * 3);
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            b[data + size_t(kHeight - 1 - y) * kWidth + x] = picture(x, y);
    return b;
}

Bytes make_pcx() {
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    put16(b, 8, kWidth - 1);
    put16(b, 10, kHeight - 1);
    b[65] = 1;
    put16(b, 66, kWidth);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth;) {
            const uint8_t v = picture(x, y);
            int n = 1;
            while (x + n < kWidth && n < 63 && picture(x + n, y) == v) ++n;
            if (n > 1 || v >= 0xC0) b.push_back(static_cast<uint8_t>(0xC0 | n));
            b.push_back(v);
            x += n;
        }
    b.push_back(12);
    for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
    return b;
}

struct Setup {
    std::filesystem::path dir;
    std::string bmp, pcx;
    HDC dc = nullptr;
    int32_t buffer = -1;

    Setup() {
        setenv("WIN32_VIDEO", "headless", 1);
        dir = std::filesystem::temp_directory_path() / ("bench_raster_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        bmp = (dir / "picture.bmp").string();
        pcx = (dir / "picture.pcx").string();
        write(bmp, make_bmp());
        write(pcx, make_pcx());
        win32::reset_screen(win32::ScreenMode{kWidth, kHeight, 16});
        dc = GetDC(nullptr);
        rl_set_dc(dc);
        rl_realize_palette(rl_default_palette());
        rl_init();
        rl_buffer_depth(16);
        buffer = rl_buffer_alloc(kWidth, kHeight);
        rl_buffer_open(buffer);
    }
    ~Setup() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    static void write(const std::string& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void BM_DecodeBmp8Into16(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) benchmark::DoNotOptimize(rl_show_bmp(s.bmp.c_str(), 0));
}
BENCHMARK(BM_DecodeBmp8Into16)->Unit(benchmark::kMillisecond);

void BM_DecodePcx8Into16(benchmark::State& state) {
    Setup& s = setup();
    for (auto _ : state) benchmark::DoNotOptimize(rl_show_pcx(s.pcx.c_str(), 0));
}
BENCHMARK(BM_DecodePcx8Into16)->Unit(benchmark::kMillisecond);

// The screen at 16 bits (no conversion) and at 32 bits.
void BM_PasteFullScreen(benchmark::State& state) {
    setup();
    const int bits = static_cast<int>(state.range(0));
    win32::reset_screen(win32::ScreenMode{kWidth, kHeight, bits});
    for (auto _ : state)
        benchmark::DoNotOptimize(rl_buffer_paste(0, kWidth - 1, 0, kHeight - 1, 0, kHeight - 1));
}
BENCHMARK(BM_PasteFullScreen)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
