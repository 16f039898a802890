// IMA ADPCM decoding throughput on one core, in decoded samples (one per
// channel per frame) per second: our whole-image decoder, the mixer's
// ADPCM routine at unity, and sox decoding the same file (its CPU time,
// taken from the child's resource usage). The last line is the ratio of
// ours to sox's.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "digital/adpcm.h"
#include "digital/mixer.h"
#include "sonvex.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr int kChannels = 2;
constexpr uint32_t kFrames = kRate * 60;  // a minute of stereo

struct Image {
    std::vector<uint8_t> file;
    const uint8_t* data = nullptr;
    uint32_t data_bytes = 0;
    uint32_t block = 0;
    std::string path;
};

// A minute of stereo music-like sound compressed by SVX_compress_ADPCM,
// kept in memory and in a file for sox.
const Image& image() {
    static Image img = [] {
        Image i;
        std::vector<int16_t> pcm;
        pcm.reserve(size_t(kFrames) * kChannels);
        for (uint32_t f = 0; f < kFrames; ++f) {
            const double t = double(f) / kRate;
            for (int c = 0; c < kChannels; ++c)
                pcm.push_back(int16_t(8000 * std::sin(2 * M_PI * (220 + 110 * c) * t) +
                                      4000 * std::sin(2 * M_PI * 1760 * t * (1 + 0.1 * std::sin(t)))));
        }
        const SoundFileInfo info{1,       pcm.data(), uint32_t(pcm.size() * 2), kRate, 16, kChannels,
                                 kFrames, 0};
        void* out = nullptr;
        uint32_t size = 0;
        if (!SVX_compress_ADPCM(&info, &out, &size)) std::abort();
        const auto* p = static_cast<const uint8_t*>(out);
        i.file.assign(p, p + size);
        SVX_mem_free_lock(out);
        i.data = i.file.data() + 60;
        i.data_bytes = uint32_t(size - 60);
        i.block = uint32_t(i.file[32] | i.file[33] << 8);
        i.path = (std::filesystem::temp_directory_path() / "bench_adpcm.wav").string();
        std::ofstream(i.path, std::ios::binary)
            .write(reinterpret_cast<const char*>(i.file.data()), std::streamsize(i.file.size()));
        return i;
    }();
    return img;
}

void Ours(benchmark::State& state) {
    const Image& img = image();
    std::vector<int16_t> out(size_t(kFrames) * kChannels);
    for (auto _ : state) {
        const size_t frames =
            svx::adpcm::decode_data(img.data, img.data_bytes, img.block, kChannels, out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        if (frames != kFrames) state.SkipWithError("short decode");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFrames * kChannels);
}
BENCHMARK(Ours)->Unit(benchmark::kMillisecond);

// The mixer's stereo ADPCM to stereo output routine, unscaled, over an
// output buffer of 2048 frames at a time.
void Mixer(benchmark::State& state) {
    using namespace svx::mixer;
    const Image& img = image();
    Scale scale;
    build_scale(scale, 127, 64, 127, 7, 1, true);
    const OutputFormat out{int32_t(kRate), 2, 2, true};
    std::vector<int32_t> build(2048 * 2);
    const BuildBuffer target{build.data(), uint32_t(build.size() * 4)};
    int64_t frames = 0;
    for (auto _ : state) {
        svx::adpcm::State decoder;
        SampleRun run{img.data, 0, 0, 7, 1, int32_t(kRate), 127, 64, 127, &scale, &decoder, img.block};
        while (run.position < int32_t(img.data_bytes)) {
            clear(target);
            run.bytes_left = int32_t(img.data_bytes) - run.position;
            frames += merge_run(run, out, 655, target, 0) / 8;
        }
        benchmark::DoNotOptimize(build.data());
    }
    state.SetItemsProcessed(frames * kChannels);
}
BENCHMARK(Mixer)->Unit(benchmark::kMillisecond);

double child_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Sox(benchmark::State& state) {
    const Image& img = image();
    const std::string command = "sox '" + img.path + "' -t s16 /dev/null";
    for (auto _ : state) {
        const double before = child_cpu_seconds();
        if (std::system(command.c_str()) != 0) state.SkipWithError("sox failed");
        state.SetIterationTime(child_cpu_seconds() - before);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFrames * kChannels);
}
BENCHMARK(Sox)->Unit(benchmark::kMillisecond)->UseManualTime();

// Prints the ratio of our throughputs to sox's after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates_[run.benchmark_name()] = it->second;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double sox = rates_["Sox/manual_time"];
        if (sox <= 0) return;
        for (const char* name : {"Ours", "Mixer"})
            if (rates_.count(name))
                std::printf("%s / sox decoding throughput: %.2f\n", name, rates_[name] / sox);
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::filesystem::remove(image().path);
    benchmark::Shutdown();
    return 0;
}
