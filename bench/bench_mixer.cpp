// Throughput of the waveOut mixer on one core, in output frames per second:
// one merge run per routine family, and the conversion to the device.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "digital/mixer.h"

namespace {

using namespace svx::mixer;

constexpr uint32_t kFrames = 2048;  // a typical output buffer

// Arguments: bits (8/16), sample channels, resampled, scaled, output channels.
void Merge(benchmark::State& state) {
    const bool wide = state.range(0) == 16;
    const bool stereo_in = state.range(1) == 2;
    const bool resampled = state.range(2) != 0;
    const bool scaled = state.range(3) != 0;
    const int channels = int(state.range(4));

    const uint32_t format = (wide ? format_16bit : 0) | (stereo_in ? format_stereo : 0);
    const uint32_t flags = wide ? flag_signed : 0;
    const int32_t volume = scaled ? 100 : 127;
    const int32_t rate = resampled ? 30000 : 22050;
    std::vector<uint8_t> data(kFrames * 2 * (wide ? 2 : 1) * (stereo_in ? 2 : 1));
    uint32_t seed = 1;
    for (uint8_t& b : data) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);

    Scale scale;
    build_scale(scale, volume, 64, 127, format, flags, channels == 2);
    const OutputFormat out{22050, channels, 2, true};
    std::vector<int32_t> build(kFrames * channels, 0);
    const BuildBuffer target{build.data(), uint32_t(build.size() * 4)};

    SampleRun sample{data.data(), 0, 0, format, flags, rate, volume, 64, 127, &scale};
    state.SetLabel("mask " + std::to_string(operation_mask(sample, out, 655)));
    for (auto _ : state) {
        sample.position = 0;
        sample.bytes_left = int32_t(data.size());
        benchmark::DoNotOptimize(merge_run(sample, out, 655, target, 0));
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void MergeFamilies(benchmark::internal::Benchmark* b) {
    b->ArgNames({"bits", "in_ch", "resample", "scale", "out_ch"});
    for (int bits : {8, 16})
        for (int in_ch : {1, 2})
            for (int resample : {0, 1})
                for (int scale : {0, 1})
                    for (int out_ch : {1, 2}) {
                        if (in_ch == 2 && out_ch == 1 && scale == 0) continue;  // always scaled
                        b->Args({bits, in_ch, resample, scale, out_ch});
                    }
}
BENCHMARK(Merge)->Apply(MergeFamilies);

// Arguments: output bytes per sample, output channels, samples merged.
void Convert(benchmark::State& state) {
    const OutputFormat out{22050, int32_t(state.range(1)), int32_t(state.range(0)), state.range(0) == 2};
    const int32_t merged = int32_t(state.range(2));
    std::vector<int32_t> build(kFrames * out.channels);
    int32_t v = 0;
    for (int32_t& x : build) x = (v += 7919) % 80000 - 40000;
    std::vector<uint8_t> device(build.size() * out.bytes_per_sample);
    for (auto _ : state) {
        convert({build.data(), uint32_t(build.size() * 4)}, out, merged, device.data(), uint32_t(device.size()));
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(Convert)
    ->ArgNames({"bytes", "ch", "merged"})
    ->ArgsProduct({{1, 2}, {1, 2}, {1, 2}});

// A whole fill: clear, eight 16-bit mono samples at assorted rates and
// pans on 16-bit stereo output, and the clamped conversion.
void Fill(benchmark::State& state) {
    constexpr int kSamples = 8;
    const OutputFormat out{22050, 2, 2, true};
    std::vector<uint8_t> data(kFrames * 4);
    uint32_t seed = 7;
    for (uint8_t& b : data) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    std::vector<Scale> scales(kSamples);
    std::vector<SampleRun> samples(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        build_scale(scales[i], 100, 16 * i, 127, format_16bit, flag_signed, true);
        samples[i] = {data.data(), 0, 0, format_16bit, flag_signed, 11025 + 2000 * i, 100, 16 * i, 127, &scales[i]};
    }
    std::vector<int32_t> build(kFrames * 2);
    std::vector<uint8_t> device(kFrames * 4);
    const BuildBuffer target{build.data(), uint32_t(build.size() * 4)};
    for (auto _ : state) {
        clear(target);
        for (SampleRun& s : samples) {
            s.position = 0;
            s.bytes_left = int32_t(data.size());
            merge_run(s, out, 655, target, 0);
        }
        convert(target, out, kSamples, device.data(), uint32_t(device.size()));
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(Fill);

}  // namespace

BENCHMARK_MAIN();
