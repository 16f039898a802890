// The MIDI service tick: 8 sequences of dense music (16 channels, a chord
// and controller changes every tick, loop for ever) on one driver, with the
// device stand-in's `null` backend behind midiOut or no device at all.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "midi/mididrv.h"
#include "midi/sequence.h"
#include "sonvex.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes dense_music() {
    Bytes events;
    for (int t = 0; t < 480; ++t) {
        const uint8_t ch = uint8_t(t % 16);
        for (int k = 0; k < 3; ++k)
            events.insert(events.end(),
                          {uint8_t(0x90 | ch), uint8_t(48 + (t + 4 * k) % 36), 100, 6});
        events.insert(events.end(), {uint8_t(0xB0 | ch), 10, uint8_t(t % 128)});
        events.insert(events.end(), {uint8_t(0xE0 | ch), 0, uint8_t(64 + t % 8)});
        events.push_back(1);
    }
    events.insert(events.end(), {0xFF, 0x2F, 0x00});
    auto chunk = [](const char* id, const Bytes& data) {
        Bytes b(id, id + 4);
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(data.size() >> shift));
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    Bytes form = {'X', 'M', 'I', 'D'};
    Bytes evnt = chunk("EVNT", events);
    form.insert(form.end(), evnt.begin(), evnt.end());
    return chunk("FORM", form);
}

// arg: device number (-1 the null device, -2 none)
void BM_ServiceTick8Sequences(benchmark::State& state) {
    setenv("WIN32_MIDI", "null", 1);
    SVX_startup();
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000);  // only the benchmark ticks
    HMDIDRIVER driver = nullptr;
    if (SVX_midiOutOpen(&driver, nullptr, int32_t(state.range(0))) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    const Bytes image = dense_music();
    for (int i = 0; i < 8; ++i) {
        HSEQUENCE s = SVX_allocate_sequence_handle(driver);
        SVX_init_sequence(s, image.data(), 0);
        SVX_set_sequence_loop_count(s, 0);
        SVX_start_sequence(s);
    }
    svx::midi::MidiDriver* d = svx::midi::driver_of(driver);
    for (auto _ : state) svx::midi::service_tick(d);
    state.SetItemsProcessed(state.iterations() * 8);
    SVX_shutdown();
}
BENCHMARK(BM_ServiceTick8Sequences)->Arg(-1)->Arg(-2)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
