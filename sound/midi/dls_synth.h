// The built-in DLS engine: the collections, channel state, event queue and
// voices, and the renderer that mixes the voices and hands the mix to the
// front end. One instance in the library.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/dls_collection.h"
#include "midi/dls_envelope.h"
#include "midi/dls_voice.h"
#include "sonvex.h"

namespace svx::dls {

inline constexpr int kChannels = 16;
inline constexpr int kDrumChannel = 9;
inline constexpr uint32_t kQueueSize = 4096;
inline constexpr int kPendingSlots = 3;

struct ChannelState {
    int bank_lsb = 0, bank_msb = 0, program = 0;
    const Instrument* instrument = nullptr;
    uint8_t controllers[128] = {};
    double bend_range = 200;  // cents
    double fine_tune = 0;     // cents
    int coarse_tune = 0;      // semitones
    double bend = 0;          // cents
};

struct QueuedEvent {
    uint8_t status = 0, channel = 0, data1 = 0, data2 = 0;
    const Instrument* instrument = nullptr;
};

struct Voice {
    bool active = false;
    int channel = 0;
    int note = 0;  // the key of the note-on
    int key = 0;   // after coarse tuning
    int velocity = 0;
    const Instrument* instrument = nullptr;
    const Region* region = nullptr;
    const Wave* wave = nullptr;
    uint32_t collection = 0;
    bool released = false;
    bool sustained = false;  // note-off seen while the pedal was down
    uint64_t started = 0;
    Cursor cursor;
    MixParams mix;
    Envelope volume, pitch;
    Lfo lfo;
};

// What the renderer hands the mix to: a free output buffer (or -1), its
// memory, and the call that passes a filled one on.
struct Output {
    void* user = nullptr;
    SVXDLSBUFFERREADY ready = nullptr;
    SVXDLSBUFFERADDRESS address = nullptr;
    SVXDLSBUFFERLOAD load = nullptr;
};

struct Synth {
    std::mutex mutex;
    HMDIDRIVER midi = nullptr;
    // The driver's callbacks before ours; the driver may call ours before
    // these are stored.
    std::atomic<SVXEVENTCB> previous_event{nullptr};
    std::atomic<SVXTIMBRECB> previous_timbre{nullptr};
    Output output;
    int32_t rate = 22050;
    bool stereo = true, sixteen_bit = true;
    uint32_t buffer_bytes = 0;   // one output buffer
    uint32_t buffer_frames = 0;  // frames of one mix buffer
    double tick_us = 1e6 / 120;
    bool use_fast_convert = false;

    std::vector<std::unique_ptr<Collection>> collections;
    uint32_t next_collection = 1;

    ChannelState channels[kChannels];
    std::vector<QueuedEvent> queue = std::vector<QueuedEvent>(kQueueSize);
    uint32_t queue_write = 0, queue_read = 0;
    std::atomic<bool> enabled{true};
    std::vector<uint8_t> sysex;  // bytes of the message being reported
    bool sysex_open = false;

    std::vector<Voice> voices;
    uint64_t voice_serial = 0;
    bool pedal[kChannels] = {};  // the sustain pedal as the queue has it

    std::vector<int32_t> mix;  // the mix buffer being filled
    uint32_t mix_fill = 0;     // frames
    std::array<std::vector<int32_t>, kPendingSlots> pending;
    int pending_head = 0, pending_count = 0;
    uint64_t mixes_made = 0;
    std::vector<std::vector<int32_t>> reverb;  // delay buffers
    uint64_t budget = 0;  // frames owed to the output

    HSVXTIMER timer = -1;
    uint32_t last_ms = 0;
    // CPU meter: time spent rendering since the meter last looked.
    std::atomic<uint64_t> render_us{0};
    uint32_t meter_ms = 0;
    int32_t cpu = 0;
    std::mutex meter_mutex;
};

// Makes an engine for a MIDI driver (null: no driver hooks) with an
// output of `buffer_bytes` per buffer. Null when out of memory.
std::unique_ptr<Synth> make_synth(HMDIDRIVER midi, uint32_t format_flags, int32_t rate,
                                  uint32_t buffer_bytes, const Output& output);

// Loads a collection image; the engine frees it at unload when `owned`.
int32_t load_collection(Synth& s, const uint8_t* image, size_t size, const char* name, bool owned,
                        uint32_t& id);
int32_t unload_collection(Synth& s, uint32_t id);
void unload_all(Synth& s);

// The event and timbre callbacks' work.
int32_t intercept_event(Synth& s, HSEQUENCE sequence, int status, int data1, int data2);
int32_t has_timbre(Synth& s, int bank, int patch);
void reset_channel(Synth& s, int channel, int reset_value, bool full);

// One render call, `elapsed_ms` after the last: drains the event queue,
// advances the voices one tick, mixes what the elapsed time owes the output
// and hands finished mix buffers to the output.
void render(Synth& s, uint32_t elapsed_ms);

// The instrument (bank | drum bit, patch) plays, with the drum fall-back.
const Instrument* find_instrument(const Synth& s, uint32_t bank, uint32_t patch);

}  // namespace svx::dls
