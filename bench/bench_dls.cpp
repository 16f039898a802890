// The DLS renderer: 24 looping voices (pitches from an octave down to an
// octave up, so every mixing mode runs) rendered for 10 s of 22,050 Hz
// stereo output in 10 ms calls, as the library timer would. The counter
// `real_time` is the render time as a fraction of the 10 s it makes;
// `per_voice` divides it by the voices.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "midi/dls_synth.h"
#include "sonvex.h"

namespace {

using namespace svx::dls;
using Bytes = std::vector<uint8_t>;

void le(Bytes& b, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
Bytes chunk(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    le(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
Bytes list(const char* type, const std::vector<Bytes>& parts) {
    Bytes data(type, type + 4);
    for (const Bytes& p : parts) data.insert(data.end(), p.begin(), p.end());
    return chunk("LIST", data);
}

// One instrument whose region plays a looped 16-bit wave of 2000 frames.
Bytes collection() {
    Bytes fmt, data, wsmp, insh, rgnh, wlnk, colh, ptbl;
    le(fmt, 1, 2);
    le(fmt, 1, 2);
    le(fmt, 22050);
    le(fmt, 44100);
    le(fmt, 2, 2);
    le(fmt, 16, 2);
    for (int i = 0; i < 2000; ++i) le(data, uint16_t(int16_t(8000 * std::sin(i * 0.0627))), 2);
    for (uint32_t v : {20u, 60u, 0u, 0u, 1u, 16u, 0u, 100u, 1800u}) le(wsmp, v);
    for (uint32_t v : {1u, 0u, 0u}) le(insh, v);
    for (uint32_t v : {0u, 127u, 0u, 127u, 0u, 0u}) le(rgnh, v, 2);
    le(wlnk, 0, 2);
    le(wlnk, 0, 2);
    le(wlnk, 1);
    le(wlnk, 0);
    le(colh, 1);
    for (uint32_t v : {8u, 1u, 0u}) le(ptbl, v);
    Bytes wave = list("wave", {chunk("fmt ", fmt), chunk("data", data), chunk("wsmp", wsmp)});
    Bytes ins = list("ins ", {chunk("insh", insh),
                              list("lrgn", {list("rgn ", {chunk("rgnh", rgnh), chunk("wlnk", wlnk)})})});
    Bytes body = {'D', 'L', 'S', ' '};
    for (const Bytes& part : {chunk("colh", colh), list("lins", {ins}), chunk("ptbl", ptbl), list("wvpl", {wave})})
        body.insert(body.end(), part.begin(), part.end());
    return chunk("RIFF", body);
}

std::vector<int16_t> output(8192);
int32_t SVXCALLBACK ready(void*) { return 0; }
void* SVXCALLBACK address(void*, int32_t) { return output.data(); }
void SVXCALLBACK load(void*, int32_t, uint32_t) {}

void BM_Render24Voices10Seconds(benchmark::State& state) {
    SVX_startup();
    SVX_set_preference(SVX_PREF_DLS_SMOOTH, int32_t(state.range(0)));
    const Bytes image = collection();
    const int kVoices = 24;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto synth = make_synth(nullptr, 3, 22050, 8192, Output{nullptr, &ready, &address, &load});
        uint32_t id = 0;
        load_collection(*synth, image.data(), image.size(), "bench", false, id);
        for (int v = 0; v < kVoices; ++v) intercept_event(*synth, nullptr, 0x90 | (v % 4), 48 + v, 100);
        render(*synth, 0);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        for (int call = 0; call < 1000; ++call) render(*synth, 10);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        unload_all(*synth);
        synth.reset();
        state.ResumeTiming();
    }
    const double fraction = seconds / double(state.iterations()) / 10.0;
    state.counters["real_time"] = fraction;
    state.counters["per_voice"] = fraction / kVoices;
    SVX_shutdown();
}
BENCHMARK(BM_Render24Voices10Seconds)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
