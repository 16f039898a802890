// The waveOut service's work: one fill of an output buffer with 14 playing
// samples (the menu's pool), on a driver record that was never opened.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "digital/driver.h"
#include "digital/sample.h"
#include "sonvex.h"

namespace {

using namespace svx::digital;

// args: output channels, output bits, sample bits, sample rate
void BM_FillWith14Samples(benchmark::State& state) {
    SVX_startup();
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    const int32_t channels = int32_t(state.range(0));
    const int32_t bytes_per_sample = int32_t(state.range(1)) / 8;
    const bool sixteen = state.range(2) == 16;
    const int32_t rate = int32_t(state.range(3));

    DigitalDriver driver;
    std::memcpy(driver.tag, "HDIG", 4);
    driver.rate = 22050;
    driver.channels = channels;
    driver.bytes_per_sample = bytes_per_sample;
    driver.signed_output = bytes_per_sample == 2;
    // A 47 ms buffer: what a 10 ms device latency gives at 2048 bytes.
    const BufferSize size = output_buffer_size(10, driver.rate, channels, bytes_per_sample, 2048);
    std::vector<int32_t> build(size_t(size.samples));
    driver.build = build.data();
    driver.build_bytes = uint32_t(size.samples * 4);
    std::vector<char> out(size_t(size.bytes));
    WAVEHDR header{};
    header.lpData = out.data();
    header.dwBufferLength = uint32_t(size.bytes);

    constexpr int kCount = 14;
    std::unique_ptr<Sample[]> samples(new Sample[kCount]);
    driver.samples = samples.get();
    driver.sample_count = kCount;
    std::vector<uint8_t> data(1 << 20, 0x90);
    for (int i = 0; i < kCount; ++i) {
        samples[i].driver = &driver;
        HSAMPLE h = reinterpret_cast<HSAMPLE>(&samples[i]);
        SVX_init_sample(h);
        SVX_set_sample_address(h, data.data(), uint32_t(data.size()));
        SVX_set_sample_type(h, sixteen ? SVX_FORMAT_16BIT : 0, sixteen ? SVX_FLAG_SIGNED : 0);
        SVX_set_sample_playback_rate(h, rate);
        SVX_set_sample_loop_count(h, 0);
        SVX_set_sample_volume(h, 100);
        samples[i].status.store(SVX_PLAYING);
    }
    for (auto _ : state) {
        fill(driver, &header);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(size.frames) * double(state.iterations()), benchmark::Counter::kIsRate);
    SVX_shutdown();
}

BENCHMARK(BM_FillWith14Samples)
    ->ArgNames({"ch", "outbits", "inbits", "rate"})
    ->Args({1, 8, 8, 22050})
    ->Args({1, 8, 8, 22394})  // the menu's effects: 65/64 of their rate
    ->Args({2, 16, 16, 22050})
    ->Args({2, 16, 16, 44100});

}  // namespace

BENCHMARK_MAIN();
