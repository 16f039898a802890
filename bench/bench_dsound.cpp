// DirectSound output: the work of one 100 Hz service run with the menu's
// 14 samples playing, the fill of one segment, and the time from
// SVX_start_sample until the device first plays sound, on DirectSound and
// on waveOut (both captured through the wav: device, whose clock plays in
// real time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "digital/dsound_driver.h"
#include "sonvex.h"

namespace {

using namespace svx::digital;
using Clock = std::chrono::steady_clock;

constexpr int kSamples = 14;
HWND bench_window() {
    return reinterpret_cast<HWND>(uintptr_t(0x5A5A0));
}

std::vector<uint8_t> loud(size_t bytes) {
    std::vector<uint8_t> data(bytes);
    uint32_t seed = 7;
    for (auto& b : data) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24) | 1;
    }
    return data;
}

struct Session {
    HDIGDRIVER driver = nullptr;
    std::vector<HSAMPLE> samples;

    explicit Session(int use_waveout, const char* audio) {
        setenv("WIN32_AUDIO", audio, 1);
        SVX_startup();
        // The bench thread calls the service itself: no suspension noise.
        SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, 0);
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, use_waveout);
        SVX_set_DirectSound_HWND(nullptr, bench_window());
        SVXPCMFORMAT format{1, 2, 22050, 22050 * 4, 4, 16};
        if (SVX_waveOutOpen(&driver, nullptr, -1, &format) != 0) driver = nullptr;
    }
    ~Session() { SVX_shutdown(); }
};

// A sample of `data` in `format`, playing in an endless loop.
HSAMPLE start_looping(HDIGDRIVER driver, const std::vector<uint8_t>& data, uint32_t format,
                      int32_t rate = 0) {
    HSAMPLE s = SVX_allocate_sample_handle(driver);
    SVX_set_sample_address(s, data.data(), uint32_t(data.size()));
    SVX_set_sample_type(s, int32_t(format), format ? SVX_FLAG_SIGNED : 0);
    if (format & SVX_FORMAT_ADPCM) SVX_set_sample_adpcm_block_size(s, 512);
    if (rate) SVX_set_sample_playback_rate(s, rate);
    SVX_set_sample_loop_count(s, 0);
    SVX_start_sample(s);
    return s;
}

// args: sample format (0 8-bit, 1 16-bit, 5 ADPCM)
void BM_ServiceWith14Samples(benchmark::State& state) {
    Session session(0, "null");
    if (!session.driver) {
        state.SkipWithError(SVX_last_error());
        return;
    }
    const uint32_t format = uint32_t(state.range(0));
    const std::vector<uint8_t> data = loud(1 << 20);
    for (int i = 0; i < kSamples; ++i) start_looping(session.driver, data, format, 22050);
    SVX_stop_all_timers();
    // One run every 10 ms, as the timer makes them, so that the play
    // cursors move and segments are refilled as often as in use.
    auto next = Clock::now();
    for (auto _ : state) {
        state.PauseTiming();
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
        state.ResumeTiming();
        ds::service(0);
    }
}
BENCHMARK(BM_ServiceWith14Samples)
    ->ArgName("format")
    ->Arg(0)
    ->Arg(1)
    ->Arg(5)
    ->Iterations(300)
    ->Unit(benchmark::kMicrosecond);

// One 16,384-byte segment (a single-buffered sample's half buffer).
void BM_FillSegment(benchmark::State& state) {
    Session session(0, "null");
    if (!session.driver) {
        state.SkipWithError(SVX_last_error());
        return;
    }
    const uint32_t format = uint32_t(state.range(0));
    const std::vector<uint8_t> data = loud(1 << 20);
    HSAMPLE s = start_looping(session.driver, data, format);
    SVX_stop_all_timers();
    Sample& sample = *sample_of(s);
    DigitalDriver& driver = *driver_of(session.driver);
    ds::Guard guard;
    for (auto _ : state) ds::fill_segment(sample, driver, 0, 16384);
    state.SetBytesProcessed(int64_t(state.iterations()) * 16384);
}
BENCHMARK(BM_FillSegment)->ArgName("format")->Arg(0)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);

// Sound frames (16-bit stereo) in the capture from byte `from` of its data.
bool sound_after(const std::string& path, size_t from) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(44 + from));
    std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        if (bytes[i] != 0 || bytes[i + 1] != 0) return true;
    return false;
}

size_t captured(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = static_cast<std::streamoff>(in.tellg());
    return size > 44 ? size_t(size - 44) / 4 * 4 : 0;
}

// args: preference 15 (0 DirectSound, 1 waveOut)
void BM_StartToSound(benchmark::State& state) {
    const std::string path = "/tmp/bench_dsound_" + std::to_string(getpid()) + ".wav";
    Session session(int(state.range(0)), ("wav:" + path).c_str());
    if (!session.driver) {
        state.SkipWithError(SVX_last_error());
        return;
    }
    const std::vector<uint8_t> data = loud(22050 / 5 * 2);
    HSAMPLE s = SVX_allocate_sample_handle(session.driver);
    SVX_set_sample_address(s, data.data(), uint32_t(data.size()));
    SVX_set_sample_type(s, SVX_FORMAT_16BIT, SVX_FLAG_SIGNED);
    SVX_set_sample_playback_rate(s, 22050);
    for (auto _ : state) {
        // Whatever was queued has played out: the capture is silent again.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const size_t from = captured(path);
        const auto start = Clock::now();
        SVX_start_sample(s);
        while (!sound_after(path, from)) {
            if (Clock::now() - start > std::chrono::seconds(5)) {
                state.SkipWithError("no sound within 5 s");
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        SVX_end_sample(s);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_StartToSound)
    ->ArgName("waveout")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
