// Standard MIDI File (format 0 or 1) to XMIDI: the tracks merged into one
// stream timed in service ticks, note-offs folded into note durations,
// timbre requests and branch points collected.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "core/ops.h"
#include "core/state.h"
#include "services/chunks.h"
#include "services/outbuf.h"

namespace svx::midi {
namespace {

using services::be32;
using services::same_tag;

enum Code {
    undefined_error = 1,
    not_midi = 2,
    event_too_long = 3,
    illegal_status = 4,
    illegal_event = 5,
    too_many_tracks = 6,
    no_room = 7,
    unpaired_note = 8,
    too_many_notes = 9,
    too_many_branches = 10,
    too_many_timbres = 11,
    duplicate_branch = 12,
};

constexpr const char* kErrorText[] = {
    "",
    "Undefined file error.",
    "File not a standard MIDI file.",
    "MIDI event too long in file.",
    "Illegal MIDI status byte in file.",
    "Illegal MIDI event in file.",
    "Too many tracks in MIDI file.",
    "Insufficient memory to convert.",
    "Unpaired MIDI note-on event in file.",
    "Too many simultaneous notes in file.",
    "Too many branch point controllers in file.",
    "Too many timbre request controller pairs in file.",
    "Duplicate branch point controller in file.",
};

// Abandons the conversion; caught at the export.
struct Abandon {
    int code;
};

constexpr int kMaxTracks = 64;
constexpr int kNoteSlots = 32;
constexpr size_t kMaxTimbres = 16384;
constexpr size_t kMaxBranches = 128;
constexpr size_t kEventBuffer = 0x40000;
constexpr size_t kLongestEvent = 1536;
constexpr size_t kEventMargin = kLongestEvent + 16;

struct Track {
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    int running = 0;
    uint32_t delta = 0;
    bool active = false;
};

struct NoteSlot {
    bool used = false;
    int channel = 0, key = 0;
    uint64_t start = 0;
    size_t duration_at = 0;  // the duration's byte in the event buffer
};

struct Branch {
    uint16_t marker;
    uint32_t offset;
};

// Bytes a variable-length quantity of `v` (at most 28 bits) takes.
size_t vlq_size(uint32_t v) { return v < 0x80 ? 1 : v < 0x4000 ? 2 : v < 0x200000 ? 3 : 4; }

size_t put_vlq(uint8_t* out, uint32_t v) {
    const size_t n = vlq_size(v);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t group = uint8_t((v >> (7 * (n - 1 - i))) & 0x7F);
        out[i] = i + 1 < n ? uint8_t(group | 0x80) : group;
    }
    return n;
}

class Converter {
public:
    explicit Converter(bool tolerant) : tolerant_(tolerant), events_(kEventBuffer) {}

    void* convert(const uint8_t* image, size_t size, uint32_t* out_size) {
        read_header(image, size);
        merge();
        return write_image(out_size);
    }

private:
    // Records the error; abandons unless the tolerant flag lets it pass.
    void report(int code) {
        ::SVX_set_error(kErrorText[code]);
        const bool passes = code == unpaired_note || code == too_many_notes ||
                            code == too_many_branches || code == duplicate_branch;
        if (!tolerant_ || !passes) throw Abandon{code};
    }

    // ---- reading ----

    void read_header(const uint8_t* image, size_t size) {
        size_t at = 0;
        while (at + 4 <= size && !same_tag(image + at, "MThd")) ++at;
        if (at + 14 > size) throw Abandon{not_midi};
        const uint8_t* h = image + at;
        const uint32_t track_count = uint32_t(h[10]) << 8 | h[11];
        division_ = uint32_t(h[12]) << 8 | h[13];
        // No time can be measured in ticks of no length.
        if (division_ == 0) throw Abandon{not_midi};
        if (track_count > kMaxTracks) throw Abandon{too_many_tracks};
        uint64_t next = uint64_t(at) + 8 + be32(h + 4);
        while (track_count_ < int(track_count)) {
            if (next + 8 > size) throw Abandon{not_midi};
            const uint8_t* chunk = image + next;
            const uint64_t end = next + 8 + be32(chunk + 4);
            // A chunk that runs past the file is a file cut short.
            if (end > size) throw Abandon{not_midi};
            if (same_tag(chunk, "MTrk")) {
                Track& t = tracks_[size_t(track_count_++)];
                t.p = chunk + 8;
                t.end = image + end;
                t.active = true;
                read_delta(t);
            }
            next = end;
        }
    }

    uint32_t read_vlq(Track& t) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            if (t.p >= t.end) throw Abandon{illegal_event};
            const uint8_t b = *t.p++;
            v = v << 7 | (b & 0x7F);
            if (!(b & 0x80)) return v;
        }
        throw Abandon{illegal_event};
    }

    // The delta before the track's next event; the track ends with its data.
    void read_delta(Track& t) {
        if (t.p >= t.end) {
            t.active = false;
            return;
        }
        t.delta = read_vlq(t);
        if (t.p >= t.end) t.active = false;
    }

    // ---- time ----

    void advance(uint32_t delta) {
        // Exact integer time: service ticks = microseconds * rate / 10^6,
        // microseconds = tempo * delta / division.
        const int64_t unit = int64_t(division_) * 1000000;
        const int64_t span = int64_t(tempo_) * delta;
        const int64_t rate = rate_;
        const int64_t part = (span % unit) * rate + remainder_;
        const uint64_t ticks = uint64_t(span / unit) * uint64_t(rate) + uint64_t(part / unit);
        remainder_ = part % unit;
        now_ += ticks;
        pending_ += ticks;
    }

    // ---- writing ----

    // Room for an event of `bytes` and the intervals in front of it, then
    // the intervals.
    void begin_event() {
        const uint64_t interval_bytes = pending_ / 127 + 1;
        if (kEventBuffer - used_ < kEventMargin + interval_bytes) throw Abandon{no_room};
        while (pending_ > 127) {
            events_[used_++] = 127;
            pending_ -= 127;
        }
        if (pending_ > 0) events_[used_++] = uint8_t(pending_);
        pending_ = 0;
    }
    void put(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) events_[used_++] = b;
    }

    void request_timbre(int patch, int bank) {
        const size_t key = size_t(patch & 0xFF) << 8 | size_t(bank & 0xFF);
        if (timbre_seen_[key]) return;
        if (timbres_.size() == kMaxTimbres) report(too_many_timbres);
        timbre_seen_[key] = true;
        timbres_.push_back({uint8_t(patch), uint8_t(bank)});
    }

    void note_off(int channel, int key) {
        for (NoteSlot& slot : slots_) {
            if (!slot.used || slot.channel != channel || slot.key != key) continue;
            slot.used = false;
            const uint32_t duration = uint32_t(std::min<uint64_t>(now_ - slot.start, 0x0FFFFFFF));
            const size_t n = vlq_size(duration);
            if (n > 1) {
                const size_t shift = n - 1;
                if (kEventBuffer - used_ < shift) throw Abandon{no_room};
                const size_t from = slot.duration_at + 1;
                std::memmove(&events_[from + shift], &events_[from], used_ - from);
                used_ += shift;
                for (NoteSlot& other : slots_)
                    if (other.used && other.duration_at > slot.duration_at) other.duration_at += shift;
                for (Branch& b : branches_)
                    if (b.offset > slot.duration_at) b.offset += uint32_t(shift);
            }
            put_vlq(&events_[slot.duration_at], duration);
        }
    }

    void note_on(int status, int key, int velocity) {
        const int channel = status & 15;
        if (rhythm_[size_t(channel)]) request_timbre(key, rhythm_[size_t(channel)]);
        NoteSlot* slot = nullptr;
        for (NoteSlot& s : slots_)
            if (!s.used) {
                slot = &s;
                break;
            }
        if (!slot) {
            report(too_many_notes);
            return;
        }
        begin_event();
        put({uint8_t(status), uint8_t(key), uint8_t(velocity), 0});
        *slot = {true, channel, key, now_, used_ - 1};
    }

    void controller(int status, int number, int value) {
        begin_event();
        put({uint8_t(status), uint8_t(number), uint8_t(value)});
        if (number == 114) bank_[size_t(status & 15)] = value;
        if (number != 120) return;
        if (branches_.size() == kMaxBranches) {
            report(too_many_branches);
            return;
        }
        for (const Branch& b : branches_)
            if (b.marker == value) {
                report(duplicate_branch);
                return;
            }
        branches_.push_back({uint16_t(value), uint32_t(used_)});
    }

    // One event of track `t`, read and converted.
    void convert_event(Track& t) {
        if (t.p >= t.end) throw Abandon{illegal_event};
        int status = *t.p;
        if (status < 0x80) {
            // Running status: the byte is the first data byte.
            if (t.running < 0x80) throw Abandon{illegal_event};
            status = t.running;
        } else {
            ++t.p;
        }
        if (status < 0xF0) {
            t.running = status;
            const int kind = status & 0xF0;
            const int count = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
            if (t.end - t.p < count) throw Abandon{illegal_event};
            const int d1 = t.p[0], d2 = count == 2 ? t.p[1] : 0;
            t.p += count;
            switch (kind) {
            case 0x80: note_off(status & 15, d1); break;
            case 0x90:
                if (d2 == 0)
                    note_off(status & 15, d1);
                else
                    note_on(status, d1, d2);
                break;
            case 0xB0: controller(status, d1, d2); break;
            case 0xC0:
                request_timbre(d1, bank_[size_t(status & 15)]);
                begin_event();
                put({uint8_t(status), uint8_t(d1)});
                break;
            default:
                begin_event();
                if (count == 2)
                    put({uint8_t(status), uint8_t(d1), uint8_t(d2)});
                else
                    put({uint8_t(status), uint8_t(d1)});
                break;
            }
            return;
        }
        int type = -1;
        if (status == 0xFF) {
            if (t.p >= t.end) throw Abandon{illegal_event};
            type = *t.p++;
        } else if (status != 0xF0 && status != 0xF7) {
            throw Abandon{illegal_status};
        }
        const uint32_t length = read_vlq(t);
        if (length > kLongestEvent) throw Abandon{event_too_long};
        if (uint64_t(t.end - t.p) < length) throw Abandon{illegal_event};
        const uint8_t* data = t.p;
        t.p += length;
        if (type == 0x2F) {
            t.active = false;
            return;
        }
        if (type == 0x51 && length == 3) tempo_ = uint32_t(data[0]) << 16 | data[1] << 8 | data[2];
        if (type == 3 || type == 4) return;
        begin_event();
        events_[used_++] = uint8_t(status);
        if (type >= 0) events_[used_++] = uint8_t(type);
        used_ += put_vlq(&events_[used_], length);
        std::memcpy(&events_[used_], data, length);
        used_ += length;
    }

    void merge() {
        rate_ = std::clamp(preference(SVX_PREF_MIDI_SERVICE_RATE), 1, 1 << 20);
        rhythm_[9] = 127;
        int last = track_count_ - 1;
        for (;;) {
            int chosen = -1;
            for (int i = 1; i <= track_count_; ++i) {
                const int k = (last + i) % track_count_;
                if (tracks_[size_t(k)].active &&
                    (chosen < 0 || tracks_[size_t(k)].delta < tracks_[size_t(chosen)].delta))
                    chosen = k;
            }
            if (chosen < 0) break;
            Track& t = tracks_[size_t(chosen)];
            const uint32_t delta = t.delta;
            for (Track& other : tracks_)
                if (other.active) other.delta -= delta;
            // The wait before an event runs at the tempo in force before
            // it, even when the event changes the tempo.
            advance(delta);
            convert_event(t);
            if (t.active) read_delta(t);
            last = chosen;
        }
        begin_event();
        put({0xFF, 0x2F, 0x00});
        for (const NoteSlot& s : slots_)
            if (s.used) {
                report(unpaired_note);
                break;
            }
    }

    void* write_image(uint32_t* out_size) {
        const size_t pad = used_ & 1;
        const uint32_t timb = timbres_.empty() ? 0 : uint32_t(8 + 2 + 2 * timbres_.size());
        const uint32_t rbrn = branches_.empty() ? 0 : uint32_t(8 + 2 + 6 * branches_.size());
        const uint32_t form = uint32_t(4 + timb + rbrn + 8 + used_ + pad);
        services::OutputBuffer out;
        out.write("FORM", 4);
        out.write_be32(14);
        out.write("XDIRINFO", 8);
        out.write_be32(2);
        out.write("\x01\x00", 2);
        out.write("CAT ", 4);
        out.write_be32(4 + 8 + form);
        out.write("XMIDFORM", 8);
        out.write_be32(form);
        out.write("XMID", 4);
        if (timb) {
            out.write("TIMB", 4);
            out.write_be32(timb - 8);
            const uint8_t count[2] = {uint8_t(timbres_.size()), uint8_t(timbres_.size() >> 8)};
            out.write(count, 2);
            for (const auto& entry : timbres_) out.write(entry.data(), 2);
        }
        if (rbrn) {
            out.write("RBRN", 4);
            out.write_be32(rbrn - 8);
            const uint8_t count[2] = {uint8_t(branches_.size()), uint8_t(branches_.size() >> 8)};
            out.write(count, 2);
            for (const Branch& b : branches_) {
                const uint8_t e[6] = {uint8_t(b.marker),      uint8_t(b.marker >> 8),
                                      uint8_t(b.offset),      uint8_t(b.offset >> 8),
                                      uint8_t(b.offset >> 16), uint8_t(b.offset >> 24)};
                out.write(e, 6);
            }
        }
        out.write("EVNT", 4);
        out.write_be32(uint32_t(used_));
        out.write(events_.data(), used_);
        if (pad) out.write_byte(0);
        void* block = out.finish(out_size);
        if (!block) throw Abandon{undefined_error};
        return block;
    }

    bool tolerant_;
    std::array<Track, kMaxTracks> tracks_{};
    int track_count_ = 0;
    uint32_t division_ = 1;
    uint32_t tempo_ = 500000;  // microseconds per quarter note
    int32_t rate_ = 120;
    int64_t remainder_ = 0;
    uint64_t now_ = 0, pending_ = 0;
    std::array<int, 16> bank_{};
    std::array<int, 16> rhythm_{};
    std::array<NoteSlot, kNoteSlots> slots_{};
    std::vector<std::array<uint8_t, 2>> timbres_;
    std::vector<bool> timbre_seen_ = std::vector<bool>(0x10000);
    std::vector<Branch> branches_;
    std::vector<uint8_t> events_;
    size_t used_ = 0;
};

}  // namespace
}  // namespace svx::midi

namespace svx::op {

int32_t SVX_MIDI_to_XMI(const void* image, uint32_t size, void** xmidi, uint32_t* xmidi_size,
                        uint32_t flags) {
    if (xmidi) *xmidi = nullptr;
    if (xmidi_size) *xmidi_size = 0;
    try {
        midi::Converter converter((flags & SVX_MIDI_TOLERANT) != 0);
        uint32_t bytes = 0;
        void* block = converter.convert(static_cast<const uint8_t*>(image), image ? size : 0, &bytes);
        if (xmidi) *xmidi = block; else ::SVX_mem_free_lock(block);
        if (xmidi_size) *xmidi_size = bytes;
        return 1;
    } catch (const midi::Abandon& a) {
        // The output buffer fails only when memory runs out.
        ::SVX_set_error(a.code == midi::undefined_error ? "Out of memory." : midi::kErrorText[a.code]);
        return 0;
    } catch (const std::bad_alloc&) {
        ::SVX_set_error("Out of memory.");
        return 0;
    }
}

}  // namespace svx::op
