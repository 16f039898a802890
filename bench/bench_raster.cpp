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
#include "raster_images.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace {

using namespace bench_images;

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
