// Streams from disk in real time on the stand-in's devices.
//
// BM_OneStreamCpu: the processor time the library's threads (service,
// stream thread, device and completion threads) spend while one 44.1 kHz
// 16-bit stereo stream plays on the null device, as a percentage of one
// core: process CPU time minus the waiting main thread's, over wall time.
// The same measure with the driver open and nothing playing is given too;
// the stream's own share is the difference.
//
// BM_MostGapFreeStreams: the largest number of such streams that play at
// once without a gap. Every stream plays a file whose every value is 10,
// all at unity gain, into a wav: capture: while all of them play, every
// captured value is exactly 10 x N, and a stream that misses its turn
// leaves a smaller value. The device waits for a late output rather than
// play silence, so lateness shows in time instead: every stream's position
// must have advanced with the wall clock. A run is gap-free when, between
// the first and the last frame holding 10 x N, no frame holds anything
// else, that stretch covers the play time but for the start-up of the
// streams, and no stream's position is more than 250 ms behind the time
// since the last of them started. (Constant data shows gaps, not order:
// the order of the data is what the stream tests check.)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sonvex.h"
#include "win32/kernel.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRate = 44100;
constexpr int16_t kValue = 10;
constexpr int kFileSeconds = 8;

double seconds_of(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

fs::path scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("bench_stream-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void put16(std::string& b, uint32_t v) {
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8 & 0xFF));
}
void put32(std::string& b, uint32_t v) {
    put16(b, v);
    put16(b, v >> 16);
}

// A 16-bit stereo WAV of kFileSeconds whose every value is kValue.
std::string constant_wav() {
    const fs::path path = scratch() / "constant.wav";
    if (fs::exists(path)) return path.string();
    const uint32_t data = kRate * 4 * kFileSeconds;
    std::string b = "RIFF";
    put32(b, 36 + data);
    b += "WAVEfmt ";
    put32(b, 16);
    put16(b, 1);
    put16(b, 2);
    put32(b, kRate);
    put32(b, kRate * 4);
    put16(b, 4);
    put16(b, 16);
    b += "data";
    put32(b, data);
    for (uint32_t i = 0; i < data / 2; ++i) put16(b, uint16_t(kValue));
    std::ofstream(path, std::ios::binary).write(b.data(), std::streamsize(b.size()));
    return path.string();
}

// Takes this thread's messages (the waveOut writer is one of its timers)
// for `ms`.
void pump(uint32_t ms) {
    const uint32_t start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(10);
    }
}

struct Session {
    HDIGDRIVER driver = nullptr;
    std::vector<HSTREAM> streams;

    bool open(const std::string& audio, int count) {
        setenv("WIN32_AUDIO", audio.c_str(), 1);
        SVX_startup();
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
        SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, 0);
        SVX_set_preference(SVX_PREF_SAMPLE_HANDLES, std::max(count + 4, 16));
        const SVXPCMFORMAT format{1, 2, kRate, kRate * 4, 4, 16};
        if (SVX_waveOutOpen(&driver, nullptr, -1, &format) != 0) return false;
        const std::string file = constant_wav();
        for (int i = 0; i < count; ++i) {
            HSTREAM s = SVX_open_stream(driver, file.c_str(), 0);
            if (!s) return false;
            SVX_auto_service_stream(s, 1);
            streams.push_back(s);
        }
        return true;
    }
    void start() {
        for (HSTREAM s : streams) SVX_start_stream(s);
    }
    ~Session() {
        for (HSTREAM s : streams) SVX_close_stream(s);
        SVX_shutdown();
    }
};

// Percent of one core the process used beside this thread over `ms`.
double library_cpu_percent(uint32_t ms) {
    const double wall0 = seconds_of(CLOCK_MONOTONIC), process0 = seconds_of(CLOCK_PROCESS_CPUTIME_ID),
                 own0 = seconds_of(CLOCK_THREAD_CPUTIME_ID);
    pump(ms);
    const double wall = seconds_of(CLOCK_MONOTONIC) - wall0;
    const double others = (seconds_of(CLOCK_PROCESS_CPUTIME_ID) - process0) -
                          (seconds_of(CLOCK_THREAD_CPUTIME_ID) - own0);
    return 100.0 * others / wall;
}

void BM_OneStreamCpu(benchmark::State& state) {
    double idle = 0, playing = 0;
    for (auto _ : state) {
        {
            Session session;
            if (!session.open("null", 0)) {
                state.SkipWithError(SVX_last_error());
                return;
            }
            pump(300);
            idle = library_cpu_percent(3000);
        }
        Session session;
        if (!session.open("null", 1)) {
            state.SkipWithError(SVX_last_error());
            return;
        }
        session.start();
        pump(300);
        playing = library_cpu_percent(5000);
    }
    state.counters["cpu%_driver_idle"] = idle;
    state.counters["cpu%_one_stream"] = playing;
    state.counters["cpu%_stream_share"] = playing - idle;
    std::printf("one 44.1 kHz 16-bit stereo stream on the null device: %.2f%% of one core "
                "(driver open, nothing playing: %.2f%%; the stream's share: %.2f%%)\n",
                playing, idle, playing - idle);
}

struct Verdict {
    bool gap_free = false;
    size_t steady_frames = 0, gaps = 0;
    int32_t lag_ms = 0;
};

constexpr int32_t kMaxLagMs = 250;

// Plays `count` streams for `ms` into a capture and judges it.
Verdict play_streams(int count, uint32_t ms) {
    const fs::path capture = scratch() / ("capture" + std::to_string(count) + ".wav");
    int32_t lag_ms = 0;
    {
        Session session;
        if (!session.open("wav:" + capture.string(), count)) return {};
        session.start();
        const uint32_t started = SVX_ms_count();
        pump(ms);
        const int32_t elapsed = int32_t(SVX_ms_count() - started);
        for (HSTREAM s : session.streams) {
            int32_t current = 0;
            SVX_stream_ms_position(s, nullptr, &current);
            lag_ms = std::max(lag_ms, elapsed - current);
        }
    }
    std::ifstream in(capture, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    fs::remove(capture);
    const size_t data = file.find("data", 12);
    if (data == std::string::npos || file.size() <= data + 8) return {};
    const size_t frames = (file.size() - data - 8) / 4;
    auto left = [&](size_t f) {
        const size_t at = data + 8 + 4 * f;
        return int16_t(uint8_t(file[at]) | uint8_t(file[at + 1]) << 8);
    };
    const int16_t all = int16_t(kValue * count);
    size_t first = 0, last = 0;
    bool seen = false;
    for (size_t f = 0; f < frames; ++f)
        if (left(f) == all) {
            if (!seen) first = f;
            last = f;
            seen = true;
        }
    Verdict v;
    v.lag_ms = lag_ms;
    if (!seen) return v;
    for (size_t f = first; f <= last; ++f) v.gaps += left(f) != all;
    v.steady_frames = last - first + 1;
    // The streams start one after another; all must play together for the
    // play time less a second of start-up.
    const size_t needed = size_t(kRate) * (ms - 1000) / 1000;
    v.gap_free = v.gaps == 0 && v.steady_frames >= needed && v.lag_ms <= kMaxLagMs;
    return v;
}

void report(int n, const Verdict& v) {
    std::printf("  %4d streams: %s (%zu frames all together, %zu of them off; %d ms behind)\n", n,
                v.gap_free ? "gap-free" : "GAPS", v.steady_frames, v.gaps, v.lag_ms);
    std::fflush(stdout);
}

void BM_MostGapFreeStreams(benchmark::State& state) {
    constexpr uint32_t kPlayMs = 4000;
    int best = 0;
    for (auto _ : state) {
        int good = 0, bad = 0;
        // Doubling, then halving the interval between the last good and first bad count.
        for (int n = 1; n <= 4096; n *= 2) {
            const Verdict v = play_streams(n, kPlayMs);
            report(n, v);
            if (!v.gap_free) {
                bad = n;
                break;
            }
            good = n;
        }
        while (bad != 0 && bad - good > 1) {
            const int n = (good + bad) / 2;
            const Verdict v = play_streams(n, kPlayMs);
            report(n, v);
            (v.gap_free ? good : bad) = n;
        }
        best = good;
    }
    state.counters["gap_free_streams"] = best;
    std::printf("most simultaneous 44.1 kHz 16-bit stereo streams played gap-free: %d\n", best);
}

BENCHMARK(BM_OneStreamCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MostGapFreeStreams)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
