// MIDI to XMIDI conversion speed in MB/s of MIDI input, on the largest
// real MIDI file installed (the test packages bring them), against
// libsmf, the C library a program would otherwise load the same file with
// and walk its events in time order (it keeps every event in an allocation
// of its own and gives each its time in seconds). The last line is the
// ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <smf.h>
}

#include "sonvex.h"

namespace {

namespace fs = std::filesystem;

struct File {
    std::string path;
    std::vector<uint8_t> bytes;
};

// The largest MIDI file of the folders the test packages fill.
const File& largest() {
    static File file = [] {
        File f;
        uintmax_t best = 0;
        for (const char* dir : {"/usr/share/planetblupi/music", "/usr/share/games/openttd/baseset/openmsx",
                                "/usr/share/doc/mma/examples"}) {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
                 it.increment(ec)) {
                if (it->path().extension() != ".mid" || it->file_size() <= best) continue;
                best = it->file_size();
                f.path = it->path().string();
            }
        }
        std::ifstream in(f.path, std::ios::binary);
        f.bytes.assign(std::istreambuf_iterator<char>(in), {});
        return f;
    }();
    return file;
}

void Ours(benchmark::State& state) {
    const File& f = largest();
    if (f.bytes.empty()) {
        state.SkipWithError("no MIDI file installed (tools/deps.sh test)");
        return;
    }
    for (auto _ : state) {
        void* out = nullptr;
        uint32_t size = 0;
        if (!SVX_MIDI_to_XMI(f.bytes.data(), uint32_t(f.bytes.size()), &out, &size, 0)) {
            state.SkipWithError(SVX_last_error());
            break;
        }
        benchmark::DoNotOptimize(out);
        SVX_mem_free_lock(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes.size()));
    state.SetLabel(fs::path(f.path).filename().string());
}
BENCHMARK(Ours)->Unit(benchmark::kMillisecond);

void Libsmf(benchmark::State& state) {
    const File& f = largest();
    if (f.bytes.empty()) {
        state.SkipWithError("no MIDI file installed (tools/deps.sh test)");
        return;
    }
    for (auto _ : state) {
        smf_t* smf = smf_load_from_memory(f.bytes.data(), int(f.bytes.size()));
        if (!smf) {
            state.SkipWithError("libsmf cannot load the file");
            break;
        }
        size_t events = 0;
        while (smf_event_t* event = smf_get_next_event(smf)) {
            benchmark::DoNotOptimize(event->time_seconds);
            ++events;
        }
        benchmark::DoNotOptimize(events);
        smf_delete(smf);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes.size()));
}
BENCHMARK(Libsmf)->Unit(benchmark::kMillisecond);

// Prints the ratio of our throughput to libsmf's after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates_[run.benchmark_name()] = it->second;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (rates_["Libsmf"] > 0 && rates_["Ours"] > 0)
            std::printf("Ours: %.1f MB/s, libsmf: %.1f MB/s, ours / libsmf: %.2f\n", rates_["Ours"] / 1e6,
                        rates_["Libsmf"] / 1e6, rates_["Ours"] / rates_["Libsmf"]);
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SVX_startup();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    SVX_shutdown();
    benchmark::Shutdown();
    return 0;
}
