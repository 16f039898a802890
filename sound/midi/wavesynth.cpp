// The wave synthesizer: hooks a MIDI driver's event and timbre callbacks;
// notes with a library entry play as samples and are kept from the device.
#include "midi/wavesynth.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/ops.h"
#include "core/records.h"
#include "core/state.h"
#include "digital/sample.h"
#include "midi/mididrv.h"

namespace svx::wavesynth {

namespace {

struct Channel {
    int32_t program;
    int32_t bend_lsb, bend_msb;
    uint8_t controllers[128];
};

struct Voice {
    int32_t channel;  // -1: never used
    int32_t key, root_key, rate, velocity;
    uint32_t order;
};

struct Synth {
    HMDIDRIVER midi;
    HDIGDRIVER digital;
    const uint8_t* library;
    std::atomic<SVXEVENTCB> previous_event;
    std::atomic<SVXTIMBRECB> previous_timbre;
    Channel channels[16];
    const Entry* instrument[16];
    HSAMPLE samples[kMaxVoices];
    Voice voices[kMaxVoices];
    int32_t voice_count;
    uint32_t counter;
    size_t library_size;
};

// Callbacks inside a synthesizer right now: destroy waits for them, as the
// driver may be calling from its own service tick.
std::atomic<int> g_in_callback{0};
struct InCallback {
    InCallback() { g_in_callback.fetch_add(1); }
    ~InCallback() { g_in_callback.fetch_sub(1); }
};

Synth* synth_of(HMDIDRIVER driver) {
    midi::MidiDriver* d = midi::driver_of(driver);
    return d ? static_cast<Synth*>(d->wave_synthesizer) : nullptr;
}

bool playing(HSAMPLE s) { return ::SVX_sample_status(s) == SVX_PLAYING; }

void set_pitch(Synth& w, int v) {
    const Voice& voice = w.voices[v];
    const Channel& c = w.channels[voice.channel];
    const int bend = c.bend_msb * 128 + c.bend_lsb;
    ::SVX_set_sample_playback_rate(w.samples[v],
                                   voice_rate(voice.key, voice.root_key, voice.rate, bend,
                                              c.controllers[6], voice.channel == 9));
}

void set_volume(Synth& w, int v) {
    const Voice& voice = w.voices[v];
    const Channel& c = w.channels[voice.channel];
    const int32_t volume = c.controllers[11] * c.controllers[7] / 127 * voice.velocity / 127;
    ::SVX_set_sample_volume(w.samples[v], volume);
    ::SVX_set_sample_pan(w.samples[v], c.controllers[10]);
}

template <typename F>
void for_playing(Synth& w, int channel, F f) {
    for (int v = 0; v < w.voice_count; ++v)
        if (w.voices[v].channel == channel && playing(w.samples[v])) f(v);
}

int32_t note_on(Synth& w, int channel, int key, int velocity) {
    const Entry* e = channel == 9 ? find_entry(w.library, w.library_size, 127, key) : w.instrument[channel];
    if (!e || w.voice_count == 0) return 0;
    int v = -1;
    for (int i = 0; i < w.voice_count && v < 0; ++i)
        if (::SVX_sample_status(w.samples[i]) == SVX_DONE) v = i;
    if (v < 0) {
        // The voice started longest ago; the later of equals.
        v = 0;
        for (int i = 1; i < w.voice_count; ++i)
            if (w.voices[i].order <= w.voices[v].order) v = i;
        ::SVX_end_sample(w.samples[v]);
    }
    w.voices[v] = Voice{channel, key, e->root_key, e->rate, velocity, ++w.counter};
    HSAMPLE s = w.samples[v];
    ::SVX_init_sample(s);
    ::SVX_set_sample_type(s, e->format, e->is_signed ? SVX_FLAG_SIGNED : 0);
    ::SVX_set_sample_address(s, w.library + e->offset, uint32_t(e->size));
    set_pitch(w, v);
    set_volume(w, v);
    ::SVX_start_sample(s);
    return 1;
}

int32_t SVXCALLBACK on_event(HMDIDRIVER driver, HSEQUENCE sequence, int32_t status, int32_t data1,
                             int32_t data2) {
    InCallback in;
    Synth* w = synth_of(driver);
    if (!w) return 0;
    auto pass = [&]() -> int32_t {
        const SVXEVENTCB previous = w->previous_event.load();
        return previous ? previous(driver, sequence, status, data1, data2) : 0;
    };
    const int kind = status & 0xF0, channel = status & 0x0F;
    Channel& c = w->channels[channel];
    data1 &= 0x7F;
    data2 &= 0x7F;
    switch (kind) {
        case 0xC0:
            c.program = data1;
            w->instrument[channel] = find_entry(w->library, w->library_size, c.controllers[114], data1);
            return pass();
        case 0xE0:
            c.bend_lsb = data1;
            c.bend_msb = data2;
            for_playing(*w, channel, [&](int v) { set_pitch(*w, v); });
            return pass();
        case 0xB0:
            switch (data1) {
                case 1: case 6: case 7: case 10: case 11: case 64: case 91: case 93: case 110:
                case 111: case 112: case 114: case 115: case 119:
                    c.controllers[data1] = uint8_t(data2);
                    break;
                default: break;
            }
            if (data1 == 6) for_playing(*w, channel, [&](int v) { set_pitch(*w, v); });
            if (data1 == 7 || data1 == 10 || data1 == 11)
                for_playing(*w, channel, [&](int v) { set_volume(*w, v); });
            if (data1 == 123) for_playing(*w, channel, [&](int v) { ::SVX_end_sample(w->samples[v]); });
            return pass();
        case 0x90:
            if (data2 > 0) {
                if (note_on(*w, channel, data1, data2)) return 1;
                return pass();
            }
            [[fallthrough]];
        case 0x80:
            // Drum samples play to their end; their note-offs were never the
            // device's business either.
            if (channel == 9) return find_entry(w->library, w->library_size, 127, data1) ? 1 : pass();
            for (int v = 0; v < w->voice_count; ++v)
                if (w->voices[v].channel == channel && w->voices[v].key == data1 && playing(w->samples[v])) {
                    ::SVX_end_sample(w->samples[v]);
                    return 1;
                }
            return pass();
        default: return pass();
    }
}

int32_t SVXCALLBACK on_timbre(HMDIDRIVER driver, int32_t bank, int32_t patch) {
    InCallback in;
    Synth* w = synth_of(driver);
    if (!w) return 0;
    return find_entry(w->library, w->library_size, bank, patch) ? 1 : 0;
}

}  // namespace

const Entry* find_entry(const uint8_t* library, size_t size, int32_t bank, int32_t patch) {
    if (!library) return nullptr;
    const size_t count = std::min<size_t>(kMaxEntries, size / sizeof(Entry));
    for (size_t i = 0; i < count; ++i) {
        const auto* e = reinterpret_cast<const Entry*>(library + i * sizeof(Entry));
        if (e->bank == -1) return nullptr;
        if (e->bank != bank || e->patch != patch) continue;
        if (e->offset < 0 || e->size < 0) continue;
        if (size != SIZE_MAX && (size_t(e->offset) > size || size_t(e->size) > size - size_t(e->offset)))
            continue;
        return e;
    }
    return nullptr;
}

int32_t voice_rate(int key, int root_key, int32_t rate, int bend, int range, bool drum) {
    key = std::clamp(key, 0, 127);
    root_key = std::clamp(root_key, 0, 127);
    int target = key;
    int64_t fraction = 0;
    if (bend < 8192) {
        target = key - range;
        fraction = 8192 - bend;
    } else if (bend > 8192) {
        target = key + range;
        fraction = bend - 8191;
    }
    target = std::clamp(target, 0, 127);
    const int64_t fk = kFrequency[size_t(key)];
    const int64_t f = fk + (kFrequency[size_t(target)] - fk) * fraction / 8192;
    // 64-bit: the product of a rate and two frequencies passes 32 bits.
    const int64_t r = drum ? int64_t(rate) * f / fk
                           : int64_t(rate) * fk / kFrequency[size_t(root_key)] * f / fk;
    return int32_t(std::clamp<int64_t>(r, 0, INT32_MAX));
}

}  // namespace svx::wavesynth

namespace svx::op {
using namespace svx::wavesynth;

HWAVESYNTH SVX_create_wave_synthesizer(HDIGDRIVER digital, HMDIDRIVER midi, const void* library,
                                       int32_t voices) {
    midi::MidiDriver* driver = midi::driver_of(midi);
    if (!driver) return nullptr;
    auto* w = static_cast<Synth*>(SVX_mem_alloc_lock(int32_t(sizeof(Synth))));
    if (!w) {
        SVX_set_error("Insufficient memory for HWAVESYNTH descriptor.");
        return nullptr;
    }
    new (w) Synth{};
    w->midi = midi;
    w->digital = digital;
    w->library = static_cast<const uint8_t*>(library);
    w->library_size = library ? digital::image_size(library) : 0;
    for (Channel& c : w->channels) {
        c.bend_msb = 64;
        c.controllers[7] = 127;
        c.controllers[10] = 64;
        c.controllers[11] = 127;
        c.controllers[6] = uint8_t(std::clamp(preference(SVX_PREF_PITCH_BEND_RANGE), 0, 127));
    }
    w->voice_count = std::clamp(voices, 0, kMaxVoices);
    for (int i = 0; i < w->voice_count; ++i) {
        w->samples[i] = ::SVX_allocate_sample_handle(digital);
        if (!w->samples[i]) {
            SVX_set_error("Could not allocate enough SAMPLE handles.");
            for (int j = 0; j < i; ++j) ::SVX_release_sample_handle(w->samples[j]);
            SVX_mem_free_lock(w);
            return nullptr;
        }
    }
    for (Voice& v : w->voices) v.channel = -1;
    driver->wave_synthesizer = w;
    w->previous_event = op::SVX_register_event_callback(midi, &on_event);
    w->previous_timbre = op::SVX_register_timbre_callback(midi, &on_timbre);
    return reinterpret_cast<HWAVESYNTH>(w);
}

void SVX_destroy_wave_synthesizer(HWAVESYNTH handle) {
    auto* w = reinterpret_cast<Synth*>(handle);
    if (!w) return;
    op::SVX_register_event_callback(w->midi, w->previous_event.load());
    op::SVX_register_timbre_callback(w->midi, w->previous_timbre.load());
    midi::MidiDriver* driver = midi::driver_of(w->midi);
    if (driver && driver->wave_synthesizer == w) driver->wave_synthesizer = nullptr;
    if (background_count == 0)
        for (int i = 0; i < 10000 && g_in_callback.load() != 0; ++i) Sleep(1);
    for (int i = 0; i < w->voice_count; ++i) ::SVX_release_sample_handle(w->samples[i]);
    SVX_mem_free_lock(w);
}

}  // namespace svx::op
