// The XMIDI sequencer: finding a sequence in an image, the service tick
// that plays it, the XMIDI controllers, channel locking, and positions.
// Every read of the image stays inside the EVNT chunk (and inside the
// memory block when the library knows its size).
#include "midi/sequence.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/ops.h"
#include "core/state.h"
#include "midi/mididrv.h"
#include "win32/kernel.h"

namespace svx::midi {

std::atomic<int32_t> service_guard{0};

namespace {

// Guard levels held by this thread.
thread_local int guard_depth = 0;

// Work under the guard or inside a tick must not wait for the guard: it
// would wait for itself.
bool must_not_wait() { return background_count > 0 || guard_depth > 0; }
bool in_background_work() { return background_count > 0; }

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// Room for `n` bytes at `p` before `end` (null: size unknown, trusted).
bool fits(const uint8_t* p, const uint8_t* end, uint64_t n) {
    return !end || (p <= end && uint64_t(end - p) >= n);
}

// The end of a chunk of `length` data bytes at `p`, cut at `limit`.
const uint8_t* chunk_end(const uint8_t* p, uint32_t length, const uint8_t* limit) {
    if (limit && (p > limit || uint64_t(limit - p) < uint64_t(length) + 8)) return limit;
    return p + 8 + length;
}

bool is_id(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// The "FORM"..."XMID" of sequence `number`, and its end.
const uint8_t* find_sequence(const uint8_t* image, const uint8_t* end, int32_t number,
                             const uint8_t*& form_end) {
    const uint8_t* p = image;
    for (;;) {
        if (!fits(p, end, 12)) return nullptr;
        if (!is_id(p, "FORM") && !is_id(p, "CAT ")) return nullptr;
        const uint32_t length = be32(p + 4);
        if (is_id(p + 8, "XMID")) break;
        if (end && uint64_t(end - p) < uint64_t(length) + 8) return nullptr;
        p += uint64_t(length) + 8;
    }
    const uint8_t* container_end = chunk_end(p, be32(p + 4), end);
    if (is_id(p, "FORM")) {
        form_end = container_end;
        return number == 0 ? p : nullptr;
    }
    int32_t found = 0;
    for (const uint8_t* q = p + 12; fits(q, container_end, 12);) {
        const uint32_t length = be32(q + 4);
        const uint8_t* next_end = chunk_end(q, length, container_end);
        if (is_id(q + 8, "XMID")) {
            if (found == number) {
                form_end = next_end;
                return q;
            }
            ++found;
        }
        if (next_end != q + 8 + uint64_t(length)) return nullptr;  // cut off
        q = next_end;
    }
    return nullptr;
}

int32_t service_rate() { return std::max(preference(SVX_PREF_MIDI_SERVICE_RATE), 1); }

int clamp7(int64_t v) { return int(std::clamp<int64_t>(v, 0, 127)); }

// One event of the stream, decoded without reading past the stream's end.
enum class Kind { interval, channel, sysex, meta, bad };
struct Event {
    Kind kind = Kind::bad;
    const uint8_t* next = nullptr;
    int status = 0, data1 = 0, data2 = 0;
    uint32_t duration = 0;  // note-on
    int meta_type = 0;
    const uint8_t* data = nullptr;
    uint32_t data_length = 0;
};

int message_length(int status) {
    const int kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
}

Event decode(const Sequence& s, const uint8_t* p) {
    Event e;
    const uint8_t* end = s.events_end;
    if (!p || !end || p < s.events_begin || p >= end) return e;
    const uint8_t b = *p;
    if (b < 0x80) {
        e.kind = Kind::interval;
        e.data1 = b;
        e.next = p + 1;
        return e;
    }
    if (b < 0xF0) {
        const int length = message_length(b);
        if (!fits(p, end, uint64_t(length))) return e;
        e.status = b;
        e.data1 = p[1];
        e.data2 = length == 3 ? p[2] : 0;
        e.next = p + length;
        if ((b & 0xF0) == 0x90 && !read_vlq(e.next, end, e.duration)) return Event{};
        e.kind = Kind::channel;
        return e;
    }
    const uint8_t* q = p + 1;
    uint32_t length = 0;
    if (b == 0xF0 || b == 0xF7) {
        if (!read_vlq(q, end, length) || !fits(q, end, length)) return e;
        e.kind = Kind::sysex;
        e.next = q + length;
        return e;
    }
    if (b == 0xFF) {
        if (!fits(q, end, 1)) return e;
        e.meta_type = *q++;
        if (!read_vlq(q, end, length) || !fits(q, end, length)) return e;
        e.kind = Kind::meta;
        e.data = q;
        e.data_length = length;
        e.next = q + length;
    }
    return e;
}

// Records a channel message in the controller shadow.
void record(Sequence& s, int ch, int kind, int data1, int data2) {
    auto& shadow = s.shadow;
    if (kind == 0xC0) {
        shadow[row_program][ch] = data1;
    } else if (kind == 0xE0) {
        shadow[row_bend_lsb][ch] = data1;
        shadow[row_bend_msb][ch] = data2;
    } else if (kind == 0xB0) {
        const int row = shadow_row_of(data1);
        if (row >= 0) shadow[row][ch] = data2;
        if (data1 == 6 && shadow[row_100][ch] == 0 && shadow[row_101][ch] == 0)
            shadow[row_bend_range][ch] = data2;
    }
}

void call_beat(Sequence& s, int beat, int measure) {
    if (SVXBEATCB cb = s.beat_callback.load())
        cb(handle_of(s.driver), handle_of(&s), beat, measure);
}

void call_sequence_callback(Sequence& s) {
    if (SVXSEQUENCECB cb = s.sequence_callback.load()) cb(handle_of(&s));
}

void position(const Sequence& s, int32_t& beat, int32_t& measure) {
    int64_t phase = s.beat_phase;
    beat = s.beat;
    measure = s.measure;
    const int32_t ahead = std::clamp(preference(SVX_PREF_BEAT_LOOKAHEAD), 0, 4096);
    for (int32_t i = 0; i < ahead; ++i) {
        phase += s.beat_increment;
        if (phase >= s.beat_length) {
            phase -= s.beat_length;
            if (++beat >= s.beats_per_measure) {
                beat = 0;
                ++measure;
            }
        }
    }
    measure = std::max(measure, 0);
}

void free_loops(Sequence& s) {
    for (int32_t& counter : s.loop_counter) counter = -1;
}

void branch(Sequence& s, int32_t marker) {
    if (!s.rbrn) return;
    const uint8_t* limit = chunk_end(s.rbrn, be32(s.rbrn + 4), s.image_end);
    if (!fits(s.rbrn + 8, limit, 2)) return;
    const int count = int16_t(le16(s.rbrn + 8));
    for (int i = 0; i < count; ++i) {
        const uint8_t* entry = s.rbrn + 10 + 6 * i;
        if (!fits(entry, limit, 6)) return;
        if (int32_t(le16(entry)) != marker) continue;
        const uint32_t offset = le32(entry + 2);
        // A target outside the events would be read as events.
        if (offset >= uint64_t(s.events_end - s.events_begin)) return;
        s.event = s.events_begin + offset;
        s.interval = 0;
        s.jumped = true;
        if (preference(SVX_PREF_BRANCHES_KEEP_LOOPS) == 0) free_loops(s);
        return;
    }
}

// Note-offs for queued notes of sequence channel `ch` (-1: all). Returns
// whether any was sent.
bool notes_off(Sequence& s, int ch) {
    bool sent = false;
    for (int i = 0; i < kQueueSlots && s.note_count > 0; ++i) {
        if (s.note_channel[i] < 0 || (ch >= 0 && s.note_channel[i] != ch)) continue;
        const int channel = s.note_channel[i];
        s.note_channel[i] = -1;
        --s.note_count;
        xmidi_message(s, 0x80 | channel, s.note_key[i], 0, false);
        sent = true;
    }
    return sent;
}

// Note-offs, straight to the device, for every queued note of any sequence
// of the driver that plays on physical channel `phys`.
void notes_off_physical(MidiDriver& d, int phys) {
    for (int32_t n = 0; n < d.sequence_count; ++n) {
        Sequence& s = d.sequences[n];
        if (s.status.load() == SVX_FREE) continue;
        for (int i = 0; i < kQueueSlots && s.note_count > 0; ++i) {
            const int ch = s.note_channel[i];
            if (ch < 0 || s.channel_map[ch] != phys) continue;
            s.note_channel[i] = -1;
            --s.note_count;
            --d.note_count[phys];
            send_short(d, 0x80 | phys, s.note_key[i], 0);
        }
    }
}

// Messages of the shadow's rows in the order they are restored.
void send_channel_state(Sequence& s, int ch, const int32_t (*kept)[kChannels]) {
    auto changed = [&](int row) {
        const int32_t v = s.shadow[row][ch];
        return v != -1 && (!kept || kept[row][ch] != v);
    };
    auto controller = [&](int row, int number) {
        if (changed(row)) xmidi_message(s, 0xB0 | ch, number, s.shadow[row][ch], false);
    };
    controller(row_32, 32);
    controller(row_0, 0);
    controller(row_114, 114);
    if (changed(row_program)) xmidi_message(s, 0xC0 | ch, s.shadow[row_program][ch], 0, false);
    if (changed(row_bend_lsb) || changed(row_bend_msb)) {
        const int lsb = std::max(s.shadow[row_bend_lsb][ch], 0);
        const int msb = s.shadow[row_bend_msb][ch] < 0 ? 64 : s.shadow[row_bend_msb][ch];
        xmidi_message(s, 0xE0 | ch, lsb, msb, false);
    }
    controller(row_107, 107);
    controller(row_111, 111);
    controller(row_112, 112);
    controller(row_1, 1);
    controller(row_7, 7);
    controller(row_10, 10);
    controller(row_11, 11);
    controller(row_64, 64);
    controller(row_91, 91);
    controller(row_93, 93);
    controller(row_bend_range, 106);
}

void stop_with_delay(Sequence& s) {
    s.status = SVX_STOPPED;
    if (notes_off(s, -1) && !in_background_work()) ::SVX_delay(3);
}

// Stops a sequence whose data cannot be read any further.
void stop_broken(Sequence& s) {
    stop_sequence(s);
    s.status = SVX_DONE;
    s.stop_flag = true;
    call_sequence_callback(s);
}

void step_toward(int32_t& value, int32_t target, int32_t& accumulator, int32_t period,
                 int32_t tick_period) {
    if (value == target) return;
    accumulator += tick_period;
    if (accumulator < period) return;
    const int64_t steps = period > 0 ? accumulator / period : int64_t(INT32_MAX);
    accumulator = period > 0 ? accumulator % period : 0;
    const int64_t distance = std::llabs(int64_t(target) - value);
    if (steps >= distance)
        value = target;
    else
        value += int32_t(target > value ? steps : -steps);
}

// Meta events: end of track (loop or end), tempo, time signature.
void meta_event(Sequence& s, const Event& e) {
    switch (e.meta_type) {
        case 0x2F:
            s.stop_flag = true;
            if (s.loop_count != 0 && --s.loop_count == 0) {
                s.loop_count = 1;
                stop_sequence(s);
                s.status = SVX_DONE;
                call_sequence_callback(s);
                return;
            }
            s.event = s.events_begin;
            s.beat = 0;
            s.measure = -1;
            s.beat_phase = 0;
            call_beat(s, 0, 0);
            return;
        case 0x51:
            if (e.data_length >= 3)
                s.beat_length = int64_t(e.data[0] << 16 | e.data[1] << 8 | e.data[2]) * 16;
            return;
        case 0x58: {
            if (e.data_length < 2) return;
            s.beats_per_measure = e.data[0];
            const int64_t base = 16000000 / service_rate();
            const int shift = std::clamp(int(e.data[1]) - 2, -30, 30);
            s.beat_increment = shift >= 0 ? base << shift : base >> -shift;
            s.beat_phase = -s.beat_increment;
            s.beat = 0;
            ++s.measure;
            call_beat(s, s.beat, s.measure);
            return;
        }
        default: return;
    }
}

// Events one sequence tick may read. Music puts far fewer at one instant;
// more means a loop or branch that passes no time (FOR 0 and its NEXT with
// no interval between, a branch to itself), which would hold the service
// thread, and the application thread it may have suspended, for ever.
constexpr int kMaxEventsPerTick = 4096;

// Reads events until an interval byte; false when the note queue overflowed
// and the whole tick has to end.
bool read_events(Sequence& s) {
    MidiDriver& d = *s.driver;
    for (int events = 0; !s.stop_flag; ++events) {
        if (events == kMaxEventsPerTick) {
            // Such data would play the same instant for ever: it ends as
            // data that cannot be read on.
            stop_broken(s);
            return true;
        }
        const uint8_t* at = s.event;
        const Event e = decode(s, at);
        switch (e.kind) {
            case Kind::bad: stop_broken(s); return true;
            case Kind::interval:
                s.interval = e.data1;
                s.event = e.next;
                return true;
            case Kind::channel: {
                s.message_end = e.next;
                s.jumped = false;
                const bool note = (e.status & 0xF0) == 0x90;
                xmidi_message(s, e.status, e.data1, e.data2, true);
                if (note) {
                    int slot = 0;
                    while (slot < kQueueSlots && s.note_channel[slot] >= 0) ++slot;
                    if (slot == kQueueSlots) {
                        ::SVX_set_error("Internal note queue overflow.");
                        stop_sequence(s);
                        s.status = SVX_DONE;
                        return false;
                    }
                    ++s.note_count;
                    s.note_channel[slot] = e.status & 0x0F;
                    s.note_key[slot] = e.data1;
                    s.note_ticks[slot] = int32_t(std::min<uint32_t>(e.duration, INT32_MAX));
                }
                if (s.status.load() != SVX_PLAYING)
                    s.stop_flag = true;
                else if (!s.jumped)
                    s.event = e.next;
                break;
            }
            case Kind::sysex:
                send_sysex(d, at, uint32_t(e.next - at));
                s.event = e.next;
                break;
            case Kind::meta:
                s.event = e.next;
                meta_event(s, e);
                break;
        }
    }
    return true;
}

void age_notes(Sequence& s) {
    for (int i = 0; i < kQueueSlots && s.note_count > 0; ++i) {
        if (s.note_channel[i] < 0) continue;
        if (--s.note_ticks[i] > 0) continue;
        const int ch = s.note_channel[i];
        s.note_channel[i] = -1;
        --s.note_count;
        xmidi_message(s, 0x80 | ch, s.note_key[i], 0, false);
    }
}

void count_beat(Sequence& s) {
    s.beat_phase += s.beat_increment;
    if (s.beat_phase < s.beat_length) return;
    s.beat_phase -= s.beat_length;
    if (++s.beat >= s.beats_per_measure) {
        s.beat = 0;
        ++s.measure;
    }
    if (s.beat_callback.load()) {
        int32_t beat, measure;
        position(s, beat, measure);
        call_beat(s, beat, measure);
    }
}

// One timer tick of one playing sequence; false ends the whole tick.
bool play(Sequence& s) {
    MidiDriver& d = *s.driver;
    s.stop_flag = false;
    ++s.tick_counter;
    s.tempo_phase += s.tempo;
    while (s.tempo_phase >= 100 && s.status.load() == SVX_PLAYING) {
        s.tempo_phase -= 100;
        age_notes(s);
        --s.interval;
        if (s.interval <= 0 && !s.stop_flag && !read_events(s)) return false;
        if (!s.stop_flag) count_beat(s);
    }
    if (s.stop_flag || s.status.load() != SVX_PLAYING) return true;
    if (s.volume != s.volume_target) {
        step_toward(s.volume, s.volume_target, s.volume_accumulator, s.volume_period,
                    d.tick_period);
        // The last steps of a ramp go out at once, not at the next re-send.
        if (s.tick_counter % 8 == 0 || s.volume == s.volume_target) resend_volumes(s);
    }
    step_toward(s.tempo, s.tempo_target, s.tempo_accumulator, s.tempo_period, d.tick_period);
    return true;
}

}  // namespace

int shadow_row_of(int controller) {
    switch (controller) {
        case 110: return row_110;
        case 111: return row_111;
        case 107: return row_107;
        case 112: return row_112;
        case 114: return row_114;
        case 32: return row_32;
        case 0: return row_0;
        case 115: return row_115;
        case 119: return row_119;
        case 1: return row_1;
        case 7: return row_7;
        case 10: return row_10;
        case 11: return row_11;
        case 64: return row_64;
        case 91: return row_91;
        case 93: return row_93;
        case 106: return row_bend_range;
        case 100: return row_100;
        case 101: return row_101;
        default: return -1;
    }
}

ServiceGuard::ServiceGuard() {
    if (must_not_wait()) {
        service_guard.fetch_add(1);
    } else {
        int32_t expected = 0;
        while (!service_guard.compare_exchange_weak(expected, 1)) {
            expected = 0;
            SwitchToThread();
        }
    }
    ++guard_depth;
}

ServiceGuard::~ServiceGuard() {
    --guard_depth;
    service_guard.fetch_sub(1);
}

Busy::Busy(MidiDriver* driver) : driver_(driver) {
    if (!driver_) return;
    driver_->busy_count.fetch_add(1);
    // A tick that started before the count went up finishes first.
    if (!must_not_wait())
        while (service_guard.load() != 0) SwitchToThread();
}

Busy::~Busy() {
    if (driver_) driver_->busy_count.fetch_sub(1);
}

void service_tick(MidiDriver* driver) {
    if (!driver || driver->busy_count.load() != 0) return;
    if (service_guard.fetch_add(1) != 0) {
        service_guard.fetch_sub(1);
        return;
    }
    ++guard_depth;
    // An API call may have raised the count between the two tests.
    if (driver->busy_count.load() == 0) {
        BackgroundWork background;
        for (int32_t i = 0; i < driver->sequence_count; ++i) {
            Sequence& s = driver->sequences[i];
            if (s.status.load() == SVX_PLAYING && !play(s)) break;
        }
    }
    --guard_depth;
    service_guard.fetch_sub(1);
}

void reset_sequence(Sequence& s) {
    for (int ch = 0; ch < kChannels; ++ch) s.channel_map[ch] = ch;
    for (auto& row : s.shadow)
        for (int32_t& v : row) v = -1;
    free_loops(s);
    for (int32_t& c : s.note_channel) c = -1;
    s.note_count = 0;
    s.measure = -1;
    s.beat = 0;
    s.beat_phase = 0;
    s.beat_increment = 0;
    s.beats_per_measure = 4;
    s.beat_length = 8000000;
    s.interval = 0;
    s.tick_counter = 0;
}

void stop_sequence(Sequence& s) {
    MidiDriver& d = *s.driver;
    stop_with_delay(s);
    for (int ch = 0; ch < kChannels; ++ch) {
        const int phys = s.channel_map[ch];
        if (s.shadow[row_64][ch] >= 64) send_short(d, 0xB0 | phys, 64, 0);
        if (s.shadow[row_111][ch] >= 64) d.lock_state[phys] = 0;
        if (s.shadow[row_112][ch] >= 64) send_short(d, 0xB0 | phys, 112, 0);
        if (s.shadow[row_110][ch] >= 64) release_channel(d, phys + 1);
    }
}

void resume_sequence(Sequence& s) {
    MidiDriver& d = *s.driver;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (s.shadow[row_110][ch] < 64) continue;
        s.channel_map[ch] = ch;
        if (int32_t got = lock_channel(d)) {
            s.channel_map[ch] = got - 1;
            d.locker[got - 1] = &s;
        }
    }
    for (int ch = 0; ch < kChannels; ++ch) send_channel_state(s, ch, nullptr);
}

void end_sequence(Sequence& s) {
    const int32_t status = s.status.load();
    if (status == SVX_FREE || status == SVX_DONE) return;
    if (status == SVX_PLAYING || status == SVX_SUSPENDED) stop_sequence(s);
    s.status = SVX_DONE;
    call_sequence_callback(s);
}

void resend_volumes(Sequence& s) {
    for (int ch = 0; ch < kChannels; ++ch)
        if (s.shadow[row_7][ch] != -1) xmidi_message(s, 0xB0 | ch, 7, s.shadow[row_7][ch], false);
}

void xmidi_message(Sequence& s, int status, int data1, int data2, bool from_stream) {
    MidiDriver& d = *s.driver;
    const int ch = status & 0x0F;
    const int kind = status & 0xF0;
    data1 &= 0x7F;
    data2 &= 0x7F;
    if (kind == 0xB0 || kind == 0xC0 || kind == 0xE0) record(s, ch, kind, data1, data2);

    if (kind == 0xB0) {
        int32_t& indirect = s.shadow[row_indirect][ch];
        if (from_stream && indirect != -1) {
            data2 = indirect & 0x7F;
            indirect = -1;
        }
        const int phys = s.channel_map[ch];
        switch (data1) {
            case 7:
                data2 = clamp7(int64_t(s.volume) * d.master_volume.load() * data2 / 16129);
                break;
            case 106:
                xmidi_message(s, 0xB0 | ch, 100, 0, false);
                xmidi_message(s, 0xB0 | ch, 101, 0, false);
                xmidi_message(s, 0xB0 | ch, 38, 0, false);
                break;
            case 108:
                if (SVXPREFIXCB cb = s.prefix_callback.load())
                    indirect = cb(handle_of(&s), ch, data2);
                break;
            case 109: branch(s, data2); return;
            case 110:
                if (data2 >= 64) {
                    if (d.lock_state[phys] != 1) {
                        if (int32_t got = lock_channel(d)) {
                            s.channel_map[ch] = got - 1;
                            d.locker[got - 1] = &s;
                        }
                    }
                } else if (d.lock_state[phys] == 1) {
                    notes_off(s, ch);
                    release_channel(d, phys + 1);
                    s.channel_map[ch] = ch;
                }
                return;
            case 111:
                if (d.lock_state[phys] != 1) d.lock_state[phys] = data2 >= 64 ? 2 : 0;
                return;
            case 115:
                if (s.ica) indirect = s.ica[data2];
                break;
            case 116:
                for (int i = 0; i < kLoopSlots; ++i) {
                    if (s.loop_counter[i] != -1) continue;
                    s.loop_counter[i] = data2;
                    s.loop_start[i] = s.message_end ? s.message_end : s.event;
                    break;
                }
                return;
            case 117:
                if (data2 < 64) return;
                for (int i = kLoopSlots - 1; i >= 0; --i) {
                    if (s.loop_counter[i] == -1) continue;
                    if (s.loop_counter[i] == 0 || --s.loop_counter[i] > 0) {
                        s.event = s.loop_start[i];
                        s.jumped = true;
                    } else {
                        s.loop_counter[i] = -1;
                    }
                    break;
                }
                return;
            case 118:
                s.beat = 0;
                s.measure = 0;
                s.beat_phase = -s.beat_increment;
                call_beat(s, 0, 0);
                return;
            case 119:
                if (SVXTRIGGERCB cb = s.trigger_callback.load()) cb(handle_of(&s), ch, data2);
                return;
            default: break;
        }
    }

    const int phys = s.channel_map[ch];
    if (d.lock_state[phys] == 1 && d.locker[phys] != &s) return;
    if (kind == 0x90)
        ++d.note_count[phys];
    else if (kind == 0x80)
        --d.note_count[phys];
    d.last_user[phys] = &s;
    if (kind == 0x90 && s.shadow[row_107][ch] >= 64) return;
    if (SVXEVENTCB cb = d.event_callback.load())
        if (cb(handle_of(&d), handle_of(&s), kind | phys, data1, data2) != 0) return;
    send_short(d, kind | phys, data1, data2);
}

// ---- channel locking ----

int32_t lock_channel(MidiDriver& d) {
    auto pick = [&](bool skip_protected) {
        int best = -1;
        for (int c = 8; c >= 1; --c) {
            if (d.lock_state[c] == 1 || (skip_protected && d.lock_state[c] == 2)) continue;
            if (best < 0 || d.note_count[c] < d.note_count[best]) best = c;
        }
        return best;
    };
    int c = pick(true);
    if (c < 0) c = pick(false);
    if (c < 0) return 0;
    send_short(d, 0xB0 | c, 64, 0);
    notes_off_physical(d, c);
    d.saved_lock_state[c] = d.lock_state[c];
    d.lock_state[c] = 1;
    d.locker[c] = nullptr;
    d.saved_last_user[c] = d.last_user[c];
    return c + 1;
}

void release_channel(MidiDriver& d, int32_t channel) {
    const int c = channel - 1;
    if (c < 0 || c >= kChannels || d.lock_state[c] != 1) return;
    d.lock_state[c] = d.saved_lock_state[c];
    d.last_user[c] = d.saved_last_user[c];
    send_short(d, 0xB0 | c, 64, 0);
    notes_off_physical(d, c);
    Sequence* user = d.last_user[c];
    if (user && user->status.load() != SVX_FREE) send_channel_state(*user, c, nullptr);
}

}  // namespace svx::midi

// ---- the exports ----

namespace svx::op {
using namespace svx::midi;

namespace {

bool valid_channel(int32_t channel) { return channel >= 1 && channel <= kChannels; }

void ticks_walk(const Sequence& s, int64_t& total, int64_t& current) {
    total = 0;
    current = -1;
    for (const uint8_t* p = s.events_begin;;) {
        if (current < 0 && p >= s.event) current = total;
        const Event e = decode(s, p);
        if (e.kind == Kind::bad) break;
        if (e.kind == Kind::interval) total += e.data1;
        if (e.kind == Kind::meta && e.meta_type == 0x2F) break;
        p = e.next;
    }
    if (current < 0) current = total;
    if (s.interval > 0) current = std::max<int64_t>(current - s.interval, 0);
}

}  // namespace

HSEQUENCE SVX_allocate_sequence_handle(HMDIDRIVER handle) {
    MidiDriver* d = driver_of(handle);
    if (!d) return nullptr;
    LibraryLock lock;
    for (int32_t i = 0; i < d->sequence_count; ++i) {
        Sequence& s = d->sequences[i];
        if (s.status.load() != SVX_FREE) continue;
        s.status = SVX_DONE;
        reset_sequence(s);
        s.sequence_callback = nullptr;
        return handle_of(&s);
    }
    ::SVX_set_error("Out of sequence handles.");
    return nullptr;
}

void SVX_release_sequence_handle(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    const int32_t status = s->status.load();
    if (status == SVX_PLAYING || status == SVX_SUSPENDED) stop_sequence(*s);
    s->status = SVX_FREE;
}

int32_t SVX_init_sequence(HSEQUENCE handle, const void* image_data, int32_t number) {
    Sequence* s = sequence_of(handle);
    if (!s) return 0;
    Busy busy(s->driver);
    LibraryLock lock;
    const int32_t status = s->status.load();
    // Notes of the old data would hang for ever.
    if (status == SVX_PLAYING || status == SVX_SUSPENDED) stop_sequence(*s);
    s->status = SVX_DONE;
    s->timb = s->rbrn = s->evnt = nullptr;
    s->events_begin = s->events_end = s->event = nullptr;

    const uint8_t* image = static_cast<const uint8_t*>(image_data);
    const uint8_t* end = nullptr;
    if (image) {
        // A library block has a known size; the tick never asks for it.
        if (HGLOBAL block = GlobalHandle(image)) end = image + GlobalSize(block);
    }
    s->image_end = end;
    const uint8_t* form_end = nullptr;
    const uint8_t* form = image ? find_sequence(image, end, number, form_end) : nullptr;
    if (!form) {
        ::SVX_set_error("No valid XMIDI sequences present in file.");
        return 0;
    }
    const uint8_t* timb = nullptr;
    const uint8_t* timb_end = nullptr;
    for (const uint8_t* p = form + 12; fits(p, form_end, 8);) {
        const uint32_t length = be32(p + 4);
        const uint8_t* next = chunk_end(p, length, form_end);
        if (is_id(p, "TIMB")) {
            timb = p;
            timb_end = next;
        } else if (is_id(p, "RBRN")) {
            s->rbrn = p;
        } else if (is_id(p, "EVNT")) {
            s->evnt = p;
            s->events_begin = p + 8;
            s->events_end = next;
        }
        if (next != p + 8 + uint64_t(length)) break;  // cut off
        p = next;
    }
    s->timb = timb;
    if (!s->evnt) {
        ::SVX_set_error("Invalid XMIDI sequence.");
        return 0;
    }
    s->loop_count = 1;
    s->ica = nullptr;
    s->prefix_callback = nullptr;
    s->trigger_callback = nullptr;
    s->beat_callback = nullptr;
    s->sequence_callback = nullptr;
    reset_sequence(*s);
    s->event = s->events_begin;
    s->volume = s->volume_target = clamp7(preference(SVX_PREF_DEFAULT_SEQUENCE_VOLUME));
    s->tempo = s->tempo_target = 100;
    s->volume_accumulator = s->volume_period = 0;
    s->tempo_accumulator = s->tempo_period = 0;
    s->tempo_phase = 0;

    SVXTIMBRECB timbre = s->driver->timbre_callback.load();
    if (timb && timbre && fits(timb + 8, timb_end, 2)) {
        const uint8_t* limit = std::min(timb_end, timb + 1024);
        const uint32_t count = le16(timb + 8);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = timb + 10 + 2 * i;
            if (!fits(entry, limit, 2)) break;
            timbre(handle_of(s->driver), entry[1], entry[0]);
        }
    }
    return 1;
}

void SVX_start_sequence(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s || s->status.load() == SVX_FREE) return;
    Busy busy(s->driver);
    const int32_t status = s->status.load();
    if (status == SVX_PLAYING || status == SVX_SUSPENDED) stop_sequence(*s);
    reset_sequence(*s);
    s->event = s->events_begin;
    s->status = s->driver->released.load() ? SVX_SUSPENDED : SVX_PLAYING;
}

void SVX_stop_sequence(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    const int32_t status = s->status.load();
    if (status == SVX_PLAYING || status == SVX_SUSPENDED) stop_sequence(*s);
}

void SVX_resume_sequence(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s || s->status.load() != SVX_STOPPED) return;
    Busy busy(s->driver);
    resume_sequence(*s);
    s->status = s->driver->released.load() ? SVX_SUSPENDED : SVX_PLAYING;
}

void SVX_end_sequence(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    end_sequence(*s);
}

static void start_ramp(int32_t value, int32_t milliseconds, int32_t& current, int32_t& target,
                       int32_t& accumulator, int32_t& period) {
    target = value;
    if (value == current) return;
    if (milliseconds <= 0) {
        current = value;
        return;
    }
    accumulator = 0;
    period = int32_t(int64_t(milliseconds) * 1000 / std::llabs(int64_t(current) - value));
}

void SVX_set_sequence_tempo(HSEQUENCE handle, int32_t tempo, int32_t milliseconds) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    // Tempo is a percentage; a negative one would run time backwards.
    start_ramp(std::max(tempo, 0), milliseconds, s->tempo, s->tempo_target, s->tempo_accumulator,
               s->tempo_period);
}

void SVX_set_sequence_volume(HSEQUENCE handle, int32_t volume, int32_t milliseconds) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    const int32_t before = s->volume;
    start_ramp(clamp7(volume), milliseconds, s->volume, s->volume_target, s->volume_accumulator,
               s->volume_period);
    if (s->volume != before) resend_volumes(*s);
}

int32_t SVX_sequence_tempo(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s) return 0;
    Busy busy(s->driver);
    return s->tempo;
}

int32_t SVX_sequence_volume(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s) return 0;
    Busy busy(s->driver);
    return s->volume;
}

int32_t SVX_sequence_status(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    return s ? s->status.load() : 0;
}

void SVX_set_sequence_loop_count(HSEQUENCE handle, int32_t count) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    s->loop_count = count;
}

int32_t SVX_sequence_loop_count(HSEQUENCE handle) {
    Sequence* s = sequence_of(handle);
    if (!s) return -1;
    Busy busy(s->driver);
    return s->loop_count;
}

void SVX_set_XMIDI_master_volume(HMDIDRIVER handle, int32_t volume) {
    MidiDriver* d = driver_of(handle);
    if (!d) return;
    Busy busy(d);
    volume = clamp7(volume);
    if (d->master_volume.exchange(volume) == volume) return;
    for (int32_t i = 0; i < d->sequence_count; ++i) {
        const int32_t status = d->sequences[i].status.load();
        if (status == SVX_PLAYING || status == SVX_SUSPENDED) resend_volumes(d->sequences[i]);
    }
}

int32_t SVX_XMIDI_master_volume(HMDIDRIVER handle) {
    MidiDriver* d = driver_of(handle);
    return d ? d->master_volume.load() : 0;
}

int32_t SVX_active_sequence_count(HMDIDRIVER handle) {
    MidiDriver* d = driver_of(handle);
    if (!d) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < d->sequence_count; ++i) {
        const int32_t status = d->sequences[i].status.load();
        count += status == SVX_PLAYING || status == SVX_SUSPENDED;
    }
    return count;
}

int32_t SVX_controller_value(HSEQUENCE handle, int32_t channel, int32_t controller) {
    Sequence* s = sequence_of(handle);
    const int row = shadow_row_of(controller);
    if (!s || !valid_channel(channel) || row < 0) return -1;
    Busy busy(s->driver);
    return s->shadow[row][channel - 1];
}

int32_t SVX_channel_notes(HSEQUENCE handle, int32_t channel) {
    Sequence* s = sequence_of(handle);
    if (!s || !valid_channel(channel)) return 0;
    Busy busy(s->driver);
    return int32_t(std::count(std::begin(s->note_channel), std::end(s->note_channel), channel - 1));
}

void SVX_sequence_position(HSEQUENCE handle, int32_t* beat, int32_t* measure) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    int32_t b, m;
    position(*s, b, m);
    if (beat) *beat = b;
    if (measure) *measure = m;
}

void SVX_branch_index(HSEQUENCE handle, uint32_t marker) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    branch(*s, int32_t(marker));
}

SVXPREFIXCB SVX_register_prefix_callback(HSEQUENCE handle, SVXPREFIXCB callback) {
    return exchange_callback(sequence_of(handle), &Sequence::prefix_callback, callback);
}
SVXTRIGGERCB SVX_register_trigger_callback(HSEQUENCE handle, SVXTRIGGERCB callback) {
    return exchange_callback(sequence_of(handle), &Sequence::trigger_callback, callback);
}
SVXSEQUENCECB SVX_register_sequence_callback(HSEQUENCE handle, SVXSEQUENCECB callback) {
    return exchange_callback(sequence_of(handle), &Sequence::sequence_callback, callback);
}
SVXBEATCB SVX_register_beat_callback(HSEQUENCE handle, SVXBEATCB callback) {
    return exchange_callback(sequence_of(handle), &Sequence::beat_callback, callback);
}

void SVX_register_ICA_array(HSEQUENCE handle, const uint8_t* array) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    s->ica = array;
}

// Indices outside the 20 slots are refused rather than written past them.
void SVX_set_sequence_user_data(HSEQUENCE handle, uint32_t index, uintptr_t value) {
    Sequence* s = sequence_of(handle);
    if (s && index < uint32_t(kUserSlots)) s->user_data[index] = value;
}

uintptr_t SVX_sequence_user_data(HSEQUENCE handle, uint32_t index) {
    Sequence* s = sequence_of(handle);
    return s && index < uint32_t(kUserSlots) ? s->user_data[index] : 0;
}

int32_t SVX_lock_channel(HMDIDRIVER handle) {
    MidiDriver* d = driver_of(handle);
    if (!d) return 0;
    Busy busy(d);
    return lock_channel(*d);
}

void SVX_release_channel(HMDIDRIVER handle, int32_t channel) {
    MidiDriver* d = driver_of(handle);
    if (!d) return;
    Busy busy(d);
    release_channel(*d, channel);
}

void SVX_map_sequence_channel(HSEQUENCE handle, int32_t sequence_channel,
                              int32_t physical_channel) {
    Sequence* s = sequence_of(handle);
    if (!s || !valid_channel(sequence_channel) || !valid_channel(physical_channel)) return;
    Busy busy(s->driver);
    const int phys = physical_channel - 1;
    s->channel_map[sequence_channel - 1] = phys;
    if (s->driver->lock_state[phys] == 1) s->driver->locker[phys] = s;
}

int32_t SVX_true_sequence_channel(HSEQUENCE handle, int32_t sequence_channel) {
    Sequence* s = sequence_of(handle);
    if (!s || !valid_channel(sequence_channel)) return 0;
    Busy busy(s->driver);
    return s->channel_map[sequence_channel - 1] + 1;
}

void SVX_send_channel_voice_message(HMDIDRIVER handle, HSEQUENCE sequence, int32_t status,
                                    int32_t data1, int32_t data2) {
    Sequence* s = sequence_of(sequence);
    MidiDriver* d = s && !handle ? s->driver : driver_of(handle);
    if (!d || status < 0x80 || status >= 0xF0) return;
    Busy busy(d);
    if (s) {
        s->message_end = nullptr;
        xmidi_message(*s, status, data1, data2, false);
        return;
    }
    if ((status & 0xF0) == 0xB0 && data1 == 7)
        data2 = clamp7(int64_t(data2) * d->master_volume.load() / 127);
    if (SVXEVENTCB cb = d->event_callback.load())
        if (cb(handle, nullptr, status, data1, data2) != 0) return;
    send_short(*d, status, data1, data2);
}

void SVX_sequence_ms_position(HSEQUENCE handle, int32_t* total_ms, int32_t* current_ms) {
    Sequence* s = sequence_of(handle);
    if (!s) return;
    Busy busy(s->driver);
    int64_t total, current;
    ticks_walk(*s, total, current);
    const int64_t rate = service_rate();
    if (total_ms) *total_ms = int32_t(total * 1000 / rate);
    if (current_ms) *current_ms = int32_t(current * 1000 / rate);
}

void SVX_set_sequence_ms_position(HSEQUENCE handle, int32_t milliseconds) {
    Sequence* s = sequence_of(handle);
    if (!s || !s->events_begin) return;
    MidiDriver& d = *s->driver;
    Busy busy(&d);
    const int64_t target = int64_t(std::max(milliseconds, 0)) * service_rate() / 1000;
    int32_t kept[shadow_rows][kChannels];
    std::memcpy(kept, s->shadow, sizeof kept);

    if (notes_off(*s, -1) && !in_background_work()) ::SVX_delay(3);
    for (int ch = 0; ch < kChannels; ++ch)
        if (s->shadow[row_64][ch] >= 64) send_short(d, 0xB0 | s->channel_map[ch], 64, 0);

    int64_t sum = 0;
    const uint8_t* p = s->events_begin;
    for (;;) {
        const Event e = decode(*s, p);
        if (e.kind == Kind::bad) break;
        if (e.kind == Kind::interval) {
            if (sum >= target) break;
            sum += e.data1;
        } else {
            if (sum >= target) break;
            if (e.kind == Kind::meta && e.meta_type == 0x2F) break;
            if (e.kind == Kind::channel)
                record(*s, e.status & 0x0F, e.status & 0xF0, e.data1, e.data2);
        }
        p = e.next;
    }
    s->event = p;
    s->interval = int32_t(std::max<int64_t>(sum - target, 0));

    for (int ch = 0; ch < kChannels; ++ch) {
        send_channel_state(*s, ch, kept);
        if (ch % 4 == 3 && !in_background_work()) ::SVX_delay(1);
    }
}

}  // namespace svx::op
