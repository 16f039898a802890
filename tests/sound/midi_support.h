// Helpers of the MIDI tests: a builder of small XMIDI images, a reader of
// the Standard MIDI Files the `smf:` device writes, and a fixture whose
// driver is ticked by the test (the service thread is parked).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "midi/mididrv.h"
#include "midi/sequence.h"
#include "sonvex.h"
#include "sound_fixture.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// ---- XMIDI images ----

inline void put_be32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}
inline void put_vlq(Bytes& b, uint32_t v) {
    Bytes groups;
    do {
        groups.insert(groups.begin(), uint8_t(v & 0x7F));
        v >>= 7;
    } while (v);
    for (size_t i = 0; i + 1 < groups.size(); ++i) groups[i] |= 0x80;
    b.insert(b.end(), groups.begin(), groups.end());
}
inline Bytes chunk(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    put_be32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
// "FORM"/"CAT " of a type holding `parts` one after the other.
inline Bytes container(const char* id, const char* type, std::initializer_list<Bytes> parts) {
    Bytes data(type, type + 4);
    for (const Bytes& p : parts) data.insert(data.end(), p.begin(), p.end());
    return chunk(id, data);
}

// The event stream of an EVNT chunk.
struct Events {
    Bytes b;
    // Interval bytes for `ticks` (runs of 127 for longer waits).
    Events& wait(int ticks) {
        while (ticks > 127) {
            b.push_back(127);
            ticks -= 127;
        }
        b.push_back(uint8_t(ticks));
        return *this;
    }
    Events& note(int ch, int key, int velocity, uint32_t duration) {
        b.insert(b.end(), {uint8_t(0x90 | ch), uint8_t(key), uint8_t(velocity)});
        put_vlq(b, duration);
        return *this;
    }
    Events& cc(int ch, int controller, int value) {
        b.insert(b.end(), {uint8_t(0xB0 | ch), uint8_t(controller), uint8_t(value)});
        return *this;
    }
    Events& program(int ch, int patch) {
        b.insert(b.end(), {uint8_t(0xC0 | ch), uint8_t(patch)});
        return *this;
    }
    Events& bend(int ch, int lsb, int msb) {
        b.insert(b.end(), {uint8_t(0xE0 | ch), uint8_t(lsb), uint8_t(msb)});
        return *this;
    }
    Events& meta(int type, const Bytes& data) {
        b.insert(b.end(), {0xFF, uint8_t(type)});
        put_vlq(b, uint32_t(data.size()));
        b.insert(b.end(), data.begin(), data.end());
        return *this;
    }
    Events& time_signature(int numerator, int power) {
        return meta(0x58, {uint8_t(numerator), uint8_t(power), 24, 8});
    }
    Events& sysex(const Bytes& data) {
        b.push_back(0xF0);
        put_vlq(b, uint32_t(data.size()));
        b.insert(b.end(), data.begin(), data.end());
        return *this;
    }
    Events& end() { return meta(0x2F, {}); }
    size_t size() const { return b.size(); }
};

struct Branch {
    uint16_t marker;
    uint32_t offset;
};

inline Bytes xmidi_form(const Events& events, const std::vector<Branch>& branches = {},
                        const Bytes& timb = {}) {
    Bytes parts;
    if (!timb.empty()) {
        Bytes t = chunk("TIMB", timb);
        parts.insert(parts.end(), t.begin(), t.end());
    }
    if (!branches.empty()) {
        Bytes r = {uint8_t(branches.size()), uint8_t(branches.size() >> 8)};
        for (const Branch& br : branches) {
            r.insert(r.end(), {uint8_t(br.marker), uint8_t(br.marker >> 8)});
            for (int i = 0; i < 4; ++i) r.push_back(uint8_t(br.offset >> (8 * i)));
        }
        Bytes c = chunk("RBRN", r);
        parts.insert(parts.end(), c.begin(), c.end());
    }
    Bytes e = chunk("EVNT", events.b);
    parts.insert(parts.end(), e.begin(), e.end());
    Bytes data = {'X', 'M', 'I', 'D'};
    data.insert(data.end(), parts.begin(), parts.end());
    return chunk("FORM", data);
}

// A tune that loops through a branch and carries a FOR/NEXT loop, so that
// the sequencer jumps while the test changes it.
inline Bytes branching_tune() {
    Events e;
    e.program(0, 5).cc(0, 7, 100).wait(0);
    const uint32_t top = uint32_t(e.size());
    e.cc(0, 116, 3);  // FOR 3 times
    for (int k = 0; k < 4; ++k) e.note(0, 60 + k, 90, 20).wait(10).note(9, 36 + k, 100, 5).wait(10);
    e.cc(0, 117, 127).wait(5);  // NEXT
    e.bend(0, 0, 70).cc(0, 120, 0).wait(5);
    e.end();
    return xmidi_form(e, {{0, top}});
}

// An XMIDI file: its "FORM XDIR" header and the "CAT " holding the form.
inline Bytes xmidi_file(const Bytes& form) {
    Bytes b = container("FORM", "XDIR", {chunk("INFO", {1, 0})});
    const Bytes cat = container("CAT ", "XMID", {form});
    b.insert(b.end(), cat.begin(), cat.end());
    return b;
}

// ---- what the device received ----

struct SmfEvent {
    uint64_t ms;
    Bytes bytes;  // status and data; a sysex as F0 and its data
    bool operator==(const SmfEvent&) const = default;
};

// Reads the one track of a format 0 file; meta events are left out.
inline std::vector<SmfEvent> read_smf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes f{std::istreambuf_iterator<char>(in), {}};
    std::vector<SmfEvent> out;
    if (f.size() < 22 || std::memcmp(f.data(), "MThd", 4) != 0) return out;
    size_t p = 22;
    uint64_t now = 0;
    auto vlq = [&]() {
        uint32_t v = 0;
        while (p < f.size()) {
            uint8_t b = f[p++];
            v = v << 7 | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        return v;
    };
    while (p < f.size()) {
        now += vlq();
        if (p >= f.size()) break;
        uint8_t status = f[p++];
        if (status == 0xFF) {
            p++;
            p += vlq();
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            uint32_t n = vlq();
            Bytes b;
            if (status == 0xF0) b.push_back(0xF0);
            b.insert(b.end(), f.begin() + long(p), f.begin() + long(std::min(p + n, f.size())));
            p += n;
            out.push_back({now, b});
            continue;
        }
        int length = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        Bytes b{status};
        for (int i = 0; i < length && p < f.size(); ++i) b.push_back(f[p++]);
        out.push_back({now, b});
    }
    return out;
}

// ---- a driver on the MIDI file device, ticked by the test ----

struct Message {
    int tick;
    int status, data1, data2;
    bool operator==(const Message&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Message& m) {
    return os << "{tick " << m.tick << ": " << std::hex << m.status << std::dec << " " << m.data1
              << " " << m.data2 << "}";
}

class MidiTest : public SoundLibrary {
protected:
    void SetUp() override {
        SVX_startup();
        // Park the service thread: only the test ticks.
        SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000);
        capture_ = drive_.path() / "capture.mid";
        setenv("WIN32_MIDI", ("smf:" + capture_.string()).c_str(), 1);
        current_ = this;
    }
    void TearDown() override {
        SoundLibrary::TearDown();
        unsetenv("WIN32_MIDI");
        current_ = nullptr;
    }

    HMDIDRIVER open(int32_t device = -1) {
        HMDIDRIVER d = nullptr;
        EXPECT_EQ(SVX_midiOutOpen(&d, nullptr, device), 0) << SVX_last_error();
        if (d) SVX_register_event_callback(d, &record_event);
        return d;
    }
    // The driver's messages since open, as the device got them (the channel
    // reset of the open left out); closes the driver.
    std::vector<SmfEvent> device_messages(HMDIDRIVER d, size_t skip = 16 * 17) {
        SVX_midiOutClose(d);
        return strip_device_reset(read_smf(capture_), skip);
    }
    // Leaves out the first `skip` messages and the sustain and all-notes-off
    // pairs the device sends itself when it is reset at close.
    static std::vector<SmfEvent> strip_device_reset(std::vector<SmfEvent> all, size_t skip) {
        if (all.size() < skip + 32) {
            ADD_FAILURE() << "only " << all.size() << " messages";
            return {};
        }
        for (int ch = 0; ch < 16; ++ch) {
            const size_t at = all.size() - 32 + size_t(2 * ch);
            EXPECT_EQ(all[at].bytes, (Bytes{uint8_t(0xB0 | ch), 64, 0}));
            EXPECT_EQ(all[at + 1].bytes, (Bytes{uint8_t(0xB0 | ch), 123, 0}));
        }
        return {all.begin() + long(skip), all.end() - 32};
    }

    HSEQUENCE play(HMDIDRIVER d, const Bytes& image, int32_t number = 0) {
        image_ = image;
        HSEQUENCE s = SVX_allocate_sequence_handle(d);
        EXPECT_EQ(SVX_init_sequence(s, image_.data(), number), 1) << SVX_last_error();
        return s;
    }
    void start(HSEQUENCE s) { SVX_start_sequence(s); }

    void tick(HMDIDRIVER d, int count = 1) {
        for (int i = 0; i < count; ++i) {
            ++ticks_;
            svx::midi::service_tick(svx::midi::driver_of(d));
        }
    }

    // Channel messages the driver passed on, stamped with the test's tick.
    std::vector<Message> sent_;
    int ticks_ = 0;
    Bytes image_;
    std::filesystem::path capture_;
    static inline MidiTest* current_ = nullptr;

    static int32_t SVXCALLBACK record_event(HMDIDRIVER, HSEQUENCE, int32_t status, int32_t d1,
                                            int32_t d2) {
        if (current_) current_->sent_.push_back({current_->ticks_, status, d1, d2});
        return 0;
    }
    // Messages of one kind (high nibble) only.
    std::vector<Message> of_kind(int kind) const {
        std::vector<Message> out;
        for (const Message& m : sent_)
            if ((m.status & 0xF0) == kind) out.push_back(m);
        return out;
    }
};

}  // namespace testing_support
