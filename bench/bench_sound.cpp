// Cost of the call frame and regularity of the background timers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "sonvex.h"
#include "win32/kernel.h"

namespace {

void ExportedCallTracingOff(benchmark::State& state) {
    SVX_startup();
    int32_t sum = 0;
    for (auto _ : state) {
        sum += SVX_get_preference(SVX_PREF_SERVICE_PERIOD_MS);
        benchmark::DoNotOptimize(sum);
    }
    SVX_shutdown();
}
BENCHMARK(ExportedCallTracingOff);

void BareExport(benchmark::State& state) {
    for (auto _ : state) {
        SVX_lock();
        SVX_unlock();
    }
}
BENCHMARK(BareExport);

// Intervals between calls of a 200 Hz timer, as the callback sees them.
struct Intervals {
    std::vector<uint32_t> stamps;
    std::atomic<size_t> count{0};
};

void SVXCALLBACK record(uintptr_t user) {
    auto* i = reinterpret_cast<Intervals*>(user);
    size_t n = i->count.load(std::memory_order_relaxed);
    if (n < i->stamps.size()) {
        i->stamps[n] = SVX_us_count();
        i->count.store(n + 1, std::memory_order_release);
    }
}

void Timer200HzJitter(benchmark::State& state) {
    for (auto _ : state) {
        SVX_startup();
        Intervals intervals;
        intervals.stamps.resize(2000);  // 10 s
        HSVXTIMER timer = SVX_register_timer(record);
        SVX_set_timer_user(timer, reinterpret_cast<uintptr_t>(&intervals));
        SVX_set_timer_frequency(timer, 200);
        SVX_start_timer(timer);
        while (intervals.count.load(std::memory_order_acquire) < intervals.stamps.size()) Sleep(50);
        SVX_shutdown();
        double sum = 0;
        uint32_t worst = 0;
        for (size_t i = 1; i < intervals.stamps.size(); ++i) {
            uint32_t d = intervals.stamps[i] - intervals.stamps[i - 1];
            sum += d;
            worst = std::max(worst, d);
        }
        state.counters["mean_us"] = sum / double(intervals.stamps.size() - 1);
        state.counters["worst_us"] = worst;
    }
}
BENCHMARK(Timer200HzJitter)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
