// The built-in engine's core: event interception, the event queue, notes,
// voice parameters once per call, and the renderer.
#include "midi/dls_synth.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/ops.h"
#include "core/state.h"
#include "midi/mididrv.h"

namespace svx::dls {

namespace {

uint32_t bank_of(const ChannelState& c, int channel) {
    return uint32_t(c.bank_msb * 128 + c.bank_lsb) | (channel == kDrumChannel ? kDrumBank : 0);
}

void look_up(Synth& s, int channel) {
    ChannelState& c = s.channels[channel];
    c.instrument = find_instrument(s, bank_of(c, channel), uint32_t(c.program));
}

const Collection* collection_of(const Synth& s, uint32_t id) {
    for (const auto& c : s.collections)
        if (c->id == id) return c.get();
    return nullptr;
}

void release_voice(Voice& v) {
    v.released = true;
    v.sustained = false;
    v.volume.release_now();
    v.pitch.release_now();
}

// A voice for a note on `channel`: a free one, else one stolen from the
// highest channel at or above it. Channel 10 keeps its voices and may
// take any other channel's.
Voice* take_voice(Synth& s, int channel) {
    for (Voice& v : s.voices)
        if (!v.active) return &v;
    Voice* best = nullptr;
    for (Voice& v : s.voices) {
        if (v.channel == kDrumChannel) continue;
        if (channel != kDrumChannel && v.channel < channel) continue;
        if (!best || v.channel > best->channel ||
            (v.channel == best->channel && v.started < best->started))
            best = &v;
    }
    return best;
}

double eg_ticks(int32_t base, int32_t modifier, int by, double tick_us) {
    if (base == kAbsent) return 0;
    int64_t tc = base;
    if (modifier != kAbsent) tc += int64_t(modifier) * by / 128;
    return ticks_of_timecents(int32_t(std::clamp<int64_t>(tc, INT32_MIN + 1, INT32_MAX)), tick_us);
}

// Volume EG range in dB: what "EG to attenuation" spans.
double eg_range(const Articulation& a) {
    const double r = -decibels_of(a[kEg1ToAttenuation]);
    return r > 0 ? r : 96.0;
}

void note_on(Synth& s, const QueuedEvent& e) {
    const Instrument* ins = e.instrument;
    const int channel = e.channel;
    int key = e.data1;
    if (channel != kDrumChannel) key = std::clamp(key + s.channels[channel].coarse_tune, 0, 127);
    const Region* region = nullptr;
    for (const Region& r : ins->regions)
        if (key >= r.key_low && key <= r.key_high) {
            region = &r;
            break;
        }
    if (!region) return;
    const Collection* collection = collection_of(s, ins->collection);
    const Wave* wave = collection ? collection->wave_of(*region) : nullptr;
    if (!wave || wave->frames() == 0) return;
    Voice* voice = take_voice(s, channel);
    if (!voice) return;
    voice->active = false;
    for (Voice& v : s.voices) {
        if (!v.active || v.instrument != ins || v.released) continue;
        if (!(region->options & 1) && v.channel == channel && v.note == e.data1) release_voice(v);
        else if (region->key_group != 0 && v.region->key_group == region->key_group) release_voice(v);
    }
    Voice& v = *voice;
    v = Voice{};
    v.active = true;
    v.channel = channel;
    v.note = e.data1;
    v.key = key;
    v.velocity = e.data2;
    v.instrument = ins;
    v.region = region;
    v.wave = wave;
    v.collection = ins->collection;
    v.started = ++s.voice_serial;
    v.mix.looping = region->sample.loop_count > 0;
    v.mix.loop = region->sample.loop;
    const Articulation& a = region->articulation;
    const double range = eg_range(a);
    const double sustain_percent = units_of(a[kEg1Sustain]) / 10.0;
    const double sustain_db =
        sustain_percent <= 0 ? range : std::min(range, -20.0 * std::log10(std::min(sustain_percent, 100.0) / 100.0));
    v.volume.start(eg_ticks(a[kEg1Attack], a[kEg1VelocityToAttack], v.velocity, s.tick_us),
                   eg_ticks(a[kEg1Decay], a[kEg1KeyToDecay], key, s.tick_us), 1.0 - sustain_db / range,
                   eg_ticks(a[kEg1Release], kAbsent, 0, s.tick_us));
    v.pitch.start(eg_ticks(a[kEg2Attack], a[kEg2VelocityToAttack], v.velocity, s.tick_us),
                  eg_ticks(a[kEg2Decay], a[kEg2KeyToDecay], key, s.tick_us),
                  units_of(a[kEg2Sustain]) / 1000.0, eg_ticks(a[kEg2Release], kAbsent, 0, s.tick_us));
    v.lfo.start(lfo_hertz(a[kLfoFrequency]), ticks_of_timecents(a[kLfoDelay], s.tick_us), s.tick_us);
}

void note_off(Synth& s, int channel, int note) {
    for (Voice& v : s.voices) {
        if (!v.active || v.released || v.channel != channel || v.note != note) continue;
        if (s.pedal[channel]) v.sustained = true;
        else release_voice(v);
    }
}

void drain_events(Synth& s) {
    while (s.queue_read != s.queue_write) {
        const QueuedEvent e = s.queue[s.queue_read];
        s.queue_read = (s.queue_read + 1) % kQueueSize;
        if (!e.instrument) continue;  // its collection is gone
        const int kind = e.status & 0xF0;
        if (kind == 0x90 && e.data2 > 0) {
            note_on(s, e);
        } else if (kind == 0x80 || kind == 0x90) {
            note_off(s, e.channel, e.data1);
        } else if (kind == 0xB0 && (e.data1 == 64 || e.data1 == 121)) {
            s.pedal[e.channel] = e.data1 == 64 && e.data2 >= 64;
            if (!s.pedal[e.channel])
                for (Voice& v : s.voices)
                    if (v.active && v.sustained && v.channel == e.channel) release_voice(v);
        } else if (kind == 0xB0 && (e.data1 == 123 || e.data1 == 120)) {
            for (Voice& v : s.voices)
                if (v.active && v.channel == e.channel) release_voice(v);
        }
    }
}

// Step and gains of a voice for this call; false when it has died away.
bool set_up_voice(Synth& s, Voice& v) {
    if (v.volume.state == Envelope::done) return false;
    const ChannelState& c = s.channels[v.channel];
    const Articulation& a = v.region->articulation;
    const SampleParams& sp = v.region->sample;
    const double mod = c.controllers[1] / 128.0;
    const double lfo = v.lfo.value();

    double cents = (v.key - int(sp.unity_note)) * 100.0 + sp.fine_tune + c.bend + c.fine_tune;
    cents += v.pitch.level * units_of(a[kEg2ToPitch]);
    cents += lfo * (units_of(a[kLfoToPitch]) + mod * units_of(a[kModToLfoPitch]));
    const double step = std::exp2(cents / 1200.0) * v.wave->rate * 65536.0 / s.rate;
    v.mix.step = uint32_t(std::clamp(step, 1.0, double(INT32_MAX)));

    double db = decibels_of(sp.attenuation);
    db += (1.0 - v.volume.level) * eg_range(a);
    db += lfo * (decibels_of(a[kLfoToAttenuation]) + mod * decibels_of(a[kModToLfoAttenuation]));
    db += square_law_decibels(c.controllers[7]) + square_law_decibels(c.controllers[11]);
    db += square_law_decibels(v.velocity);
    db -= preference(SVX_PREF_DLS_ATTENUATION);
    db = std::max(db, 0.0);
    if (s.stereo) {
        const double pan = std::clamp(c.controllers[10] + units_of(a[kDefaultPan]) / 1000.0 * 127.0, 0.0, 127.0);
        const double left = pan >= 127 ? 999 : 20.0 * std::log10(std::sqrt(127.0 / (127.0 - pan)));
        const double right = pan <= 0 ? 999 : 20.0 * std::log10(std::sqrt(127.0 / pan));
        v.mix.left_gain = gain_of(db + left);
        v.mix.right_gain = gain_of(db + right);
    } else {
        v.mix.left_gain = gain_of(db);
        v.mix.right_gain = 0;
    }
    if (v.released && v.mix.left_gain == 0 && v.mix.right_gain == 0) return false;
    v.mix.smoothing = preference(SVX_PREF_DLS_SMOOTH) ? Smoothing::smoothed : Smoothing::plain;
    return true;
}

void begin_mix(Synth& s) {
    const bool reverb = preference(SVX_PREF_DLS_REVERB) != 0 && !s.reverb.empty();
    if (!reverb) {
        std::fill(s.mix.begin(), s.mix.end(), 0);
        return;
    }
    const int64_t level = preference(SVX_PREF_DLS_REVERB_LEVEL);
    const std::vector<int32_t>& d = s.reverb.back();
    for (size_t i = 0; i < s.mix.size(); ++i) s.mix[i] = int32_t((d[i] * level) >> 7);
}

void finish_mix(Synth& s) {
    const int slot = (s.pending_head + s.pending_count) % kPendingSlots;
    s.pending[size_t(slot)] = s.mix;
    ++s.pending_count;
    ++s.mixes_made;
    s.mix_fill = 0;
    if (preference(SVX_PREF_DLS_REVERB) != 0 && !s.reverb.empty()) {
        // Older buffers move on first, so the last one is as many buffer
        // periods behind as there are delay buffers.
        for (size_t i = s.reverb.size() - 1; i > 0; --i) s.reverb[i] = s.reverb[i - 1];
        s.reverb[0] = s.mix;
    }
}

void deliver(Synth& s) {
    if (!s.output.ready) return;
    if (preference(SVX_PREF_DLS_DOUBLE_BUFFER) != 0 && s.mixes_made < 2) return;
    const uint32_t bytes = s.buffer_frames * (s.stereo ? 2 : 1) * (s.sixteen_bit ? 2 : 1);
    while (s.pending_count > 0) {
        const int32_t n = s.output.ready(s.output.user);
        if (n < 0) break;
        void* memory = s.output.address(s.output.user, n);
        if (!memory) break;
        const std::vector<int32_t>& m = s.pending[size_t(s.pending_head)];
        if (s.use_fast_convert) convert_slots_fast(m.data(), m.size(), memory, s.sixteen_bit);
        else convert_slots(m.data(), m.size(), memory, s.sixteen_bit);
        s.pending_head = (s.pending_head + 1) % kPendingSlots;
        --s.pending_count;
        s.output.load(s.output.user, n, bytes);
    }
}

}  // namespace

const Instrument* find_instrument(const Synth& s, uint32_t bank, uint32_t patch) {
    for (const auto& c : s.collections)
        for (const Instrument& i : c->instruments)
            if (i.bank == bank && i.patch == patch) return &i;
    if ((bank & kDrumBank) && bank != kDrumBank) return find_instrument(s, kDrumBank, patch);
    return nullptr;
}

std::unique_ptr<Synth> make_synth(HMDIDRIVER midi, uint32_t format_flags, int32_t rate,
                                  uint32_t buffer_bytes, const Output& output) {
    try {
        auto s = std::make_unique<Synth>();
        s->midi = midi;
        s->output = output;
        s->rate = rate > 0 ? rate : 22050;
        s->stereo = (format_flags & 2) != 0;
        s->sixteen_bit = (format_flags & 1) != 0;
        const uint32_t frame = (s->stereo ? 2u : 1u) * (s->sixteen_bit ? 2u : 1u);
        s->buffer_bytes = buffer_bytes;
        s->buffer_frames = std::max(1u, buffer_bytes / frame);
        const int32_t render_rate = std::max(1, preference(SVX_PREF_DLS_SERVICE_RATE));
        s->tick_us = 1e6 / render_rate;
        const size_t slots = size_t(s->buffer_frames) * (s->stereo ? 2 : 1);
        s->mix.assign(slots, 0);
        if (preference(SVX_PREF_DLS_REVERB) != 0)
            s->reverb.assign(size_t(std::clamp(preference(SVX_PREF_DLS_REVERB_BUFFERS), 1, 64)),
                             std::vector<int32_t>(slots, 0));
        s->voices.resize(size_t(std::clamp(preference(SVX_PREF_DLS_VOICES), 1, 256)));
        for (int ch = 0; ch < kChannels; ++ch) reset_channel(*s, ch, 127, true);
        return s;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void reset_channel(Synth& s, int channel, int reset_value, bool full) {
    ChannelState& c = s.channels[channel];
    c.bend = 0;
    c.bend_range = preference(SVX_PREF_PITCH_BEND_RANGE) * 100.0;
    c.fine_tune = 0;
    c.coarse_tune = 0;
    for (int n : {1, 6, 38, 64, 93, 100, 101, 0, 32}) c.controllers[n] = 0;
    c.controllers[91] = 40;
    if (reset_value == 127) {
        c.controllers[7] = 100;
        c.controllers[10] = 64;
        c.controllers[11] = 127;
    }
    if (full) {
        c.bank_lsb = c.bank_msb = c.program = 0;
        look_up(s, channel);
    }
}

int32_t load_collection(Synth& s, const uint8_t* image, size_t size, const char* name, bool owned,
                        uint32_t& id) {
    std::unique_ptr<Collection> c;
    try {
        c = std::make_unique<Collection>();
        c->name = name ? name : "";
    } catch (const std::bad_alloc&) {
        if (owned) op::SVX_mem_free_lock(const_cast<uint8_t*>(image));
        return kOutOfMemory;
    }
    std::lock_guard lock(s.mutex);
    c->id = s.next_collection;
    const int32_t result = parse_collection(image, size, *c);
    if (result != kOk) {
        if (owned) op::SVX_mem_free_lock(const_cast<uint8_t*>(image));
        return result;
    }
    c->owned = owned;
    try {
        s.collections.push_back(std::move(c));
    } catch (const std::bad_alloc&) {
        if (owned) op::SVX_mem_free_lock(const_cast<uint8_t*>(image));
        return kOutOfMemory;
    }
    id = s.next_collection++;
    if (s.next_collection == 0) s.next_collection = 1;
    return kOk;
}

int32_t unload_collection(Synth& s, uint32_t id) {
    std::unique_ptr<Collection> gone;
    {
        std::lock_guard lock(s.mutex);
        auto at = std::find_if(s.collections.begin(), s.collections.end(),
                               [&](const auto& c) { return c->id == id; });
        if (at == s.collections.end()) return kBadHandle;
        // Silence first: nothing may play from the image once it is freed.
        for (Voice& v : s.voices)
            if (v.active && v.collection == id) v.active = false;
        for (QueuedEvent& e : s.queue)
            if (e.instrument && e.instrument->collection == id) e.instrument = nullptr;
        gone = std::move(*at);
        s.collections.erase(at);
        for (int ch = 0; ch < kChannels; ++ch)
            if (s.channels[ch].instrument && s.channels[ch].instrument->collection == id) look_up(s, ch);
    }
    op::SVX_delay(1);
    if (gone->owned) op::SVX_mem_free_lock(const_cast<uint8_t*>(gone->image));
    return kOk;
}

void unload_all(Synth& s) {
    for (;;) {
        uint32_t id;
        {
            std::lock_guard lock(s.mutex);
            if (s.collections.empty()) return;
            id = s.collections.front()->id;
        }
        unload_collection(s, id);
    }
}

int32_t has_timbre(Synth& s, int bank, int patch) {
    {
        std::lock_guard lock(s.mutex);
        if (find_instrument(s, uint32_t(bank), uint32_t(patch))) return 1;
    }
    const SVXTIMBRECB previous = s.previous_timbre.load();
    return previous ? previous(s.midi, bank, patch) : 0;
}

int32_t intercept_event(Synth& s, HSEQUENCE sequence, int status, int data1, int data2) {
    const bool pass = preference(SVX_PREF_DLS_PASS_MIDI) != 0;
    const int original = status;
    auto decline = [&]() -> int32_t {
        if (!pass) return 1;
        const SVXEVENTCB previous = s.previous_event.load();
        return previous ? previous(s.midi, sequence, original, data1, data2) : 0;
    };
    const int kind = status & 0xF0, channel = status & 0x0F;

    std::unique_lock lock(s.mutex);
    // System-exclusive bytes come as controller-105 reports: bytes above
    // 0x80 on the second channel with their top bit taken off.
    if (kind == 0xB0 && data1 == 105 && channel <= 1) {
        const uint8_t byte = uint8_t(channel == 1 ? (data2 | 0x80) : data2);
        if (byte == 0xF0) {
            s.sysex.assign(1, byte);
            s.sysex_open = true;
        } else if (s.sysex_open) {
            s.sysex.push_back(byte);
            if (byte == 0xF7 || s.sysex.size() >= 6) {
                static const uint8_t on[] = {0xF0, 0x7E, 0x7F, 0x0A, 0x01, 0xF7};
                static const uint8_t off[] = {0xF0, 0x7E, 0x7F, 0x0A, 0x02, 0xF7};
                if (std::equal(s.sysex.begin(), s.sysex.end(), std::begin(on), std::end(on)))
                    s.enabled = true;
                if (std::equal(s.sysex.begin(), s.sysex.end(), std::begin(off), std::end(off)))
                    s.enabled = false;
                s.sysex_open = false;
            }
        }
        return 0;
    }
    if (!s.enabled || kind == 0xA0 || kind < 0x80 || kind == 0xF0) {
        lock.unlock();
        return decline();
    }
    if (kind == 0x90 && data2 == 0) status = 0x80 | channel;
    ChannelState& c = s.channels[channel];
    bool look_again = c.instrument == nullptr;
    switch (kind) {
        case 0xC0:
            c.program = data1 & 0x7F;
            look_again = true;
            break;
        case 0xE0: c.bend = ((data2 * 128 + data1) - 8192) / 8192.0 * c.bend_range; break;
        case 0xB0: {
            const int n = data1 & 0x7F, value = data2 & 0x7F;
            c.controllers[n] = uint8_t(value);
            if (n == 0) c.bank_msb = value, look_again = true;
            if (n == 32) c.bank_lsb = value, look_again = true;
            if (n == 114 && preference(SVX_PREF_DLS_BANK_SELECT_114) != 0)
                c.bank_lsb = value, c.bank_msb = 0, look_again = true;
            if (n == 6 || n == 38) {
                const int rpn = c.controllers[101] * 128 + c.controllers[100];
                const int both = c.controllers[6] * 128 + c.controllers[38];
                if (rpn == 0) c.bend_range = both * 0.78125;
                if (rpn == 1) c.fine_tune = (both - 8192) * 0.01220703125;
                if (rpn == 2) c.coarse_tune = c.controllers[6] - 64;
            }
            if (n == 121) reset_channel(s, channel, 127, false);
            break;
        }
        default: break;
    }
    if (look_again) look_up(s, channel);
    if (!c.instrument) {
        lock.unlock();
        return decline();
    }
    QueuedEvent& e = s.queue[s.queue_write];
    e = {uint8_t(status), uint8_t(channel), uint8_t(data1 & 0x7F), uint8_t(data2 & 0x7F), c.instrument};
    s.queue_write = (s.queue_write + 1) % kQueueSize;
    // A full queue loses its oldest event rather than all of them.
    if (s.queue_write == s.queue_read) s.queue_read = (s.queue_read + 1) % kQueueSize;
    const int note_kind = status & 0xF0;
    if (note_kind == 0x80 || note_kind == 0x90) return 1;
    lock.unlock();
    return decline();
}

void render(Synth& s, uint32_t elapsed_ms) {
    std::lock_guard lock(s.mutex);
    const uint64_t cap = uint64_t(s.buffer_frames) * (kPendingSlots + 1);
    s.budget = std::min<uint64_t>(s.budget + uint64_t(elapsed_ms) * uint64_t(s.rate) / 1000, cap);
    drain_events(s);
    for (Voice& v : s.voices)
        if (v.active && !set_up_voice(s, v)) v.active = false;
    const uint32_t width = s.stereo ? 2 : 1;
    while (s.budget > 0 && s.pending_count < kPendingSlots) {
        if (s.mix_fill == 0) begin_mix(s);
        const uint32_t n = uint32_t(std::min<uint64_t>(s.budget, s.buffer_frames - s.mix_fill));
        int32_t* at = s.mix.data() + size_t(s.mix_fill) * width;
        for (Voice& v : s.voices)
            if (v.active && !mix_voice(v.cursor, *v.wave, v.mix, at, n, s.stereo)) v.active = false;
        s.mix_fill += n;
        s.budget -= n;
        if (s.mix_fill == s.buffer_frames) finish_mix(s);
    }
    for (Voice& v : s.voices)
        if (v.active) {
            v.volume.advance();
            v.pitch.advance();
            v.lfo.advance();
        }
    deliver(s);
}

}  // namespace svx::dls
