// The DirectSound stand-in's software mixer: the process's output asks
// every DirectSound object for a period at a time, and the object mixes
// its playing secondary buffers in the output's format.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "dsound_core.h"
#include "dsound_seam.h"

namespace win32::mm::ds {

namespace {

std::mutex& cores_mutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

std::set<Core*>& cores() {
    static auto* s = new std::set<Core*>;
    return *s;
}

struct Gains {
    int32_t left = 0;
    int32_t right = 0;
};

// Pan attenuates the side away from it; mono output ignores pan.
Gains voice_gains(LONG volume, LONG pan) {
    Gains g;
    int32_t v = attenuation_gain(volume);
    g.left = pan > 0 ? int32_t((int64_t(v) * attenuation_gain(-pan)) >> 16) : v;
    g.right = pan < 0 ? int32_t((int64_t(v) * attenuation_gain(pan)) >> 16) : v;
    return g;
}

template <int Bits>
int32_t sample_at(const uint8_t* data, size_t index) {
    if constexpr (Bits == 8) {
        return (int32_t(data[index]) - 128) * 256;
    } else {
        const uint8_t* p = data + index * 2;
        return int16_t(uint16_t(p[0] | p[1] << 8));
    }
}

// Mixes `count` sink frames of one voice into `acc`; returns how many it
// filled (fewer when a once-buffer ends).
template <int Bits, int Channels>
uint32_t mix_voice(Voice& v, int32_t* acc, uint32_t count, int out_channels, Gains g,
                   uint64_t step) {
    const uint8_t* data = v.storage->data.data();
    const uint64_t limit = v.limit();
    uint64_t pos = v.pos;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = size_t(pos >> kFracBits);
        const size_t next = at + 1 < v.frames ? at + 1 : (v.looping ? 0 : at);
        const int64_t frac = int64_t((pos >> 16) & 0xFFFF);
        int32_t s[2];
        for (int c = 0; c < Channels; ++c) {
            int32_t a = sample_at<Bits>(data, at * Channels + c);
            int32_t b = sample_at<Bits>(data, next * Channels + c);
            s[c] = a + int32_t(((b - a) * frac) >> 16);
        }
        if (Channels == 1) s[1] = s[0];
        if (out_channels == 2) {
            acc[2 * i] += int32_t((int64_t(s[0]) * g.left) >> 16);
            acc[2 * i + 1] += int32_t((int64_t(s[1]) * g.right) >> 16);
        } else {
            int32_t mono = Channels == 1 ? s[0] : (s[0] + s[1]) / 2;
            acc[i] += int32_t((int64_t(mono) * g.left) >> 16);
        }
        pos += step;
        if (pos >= limit) {
            if (!v.looping) {
                v.pos = pos;
                return i + 1;
            }
            pos %= limit;
        }
    }
    v.pos = pos;
    return count;
}

using MixFn = uint32_t (*)(Voice&, int32_t*, uint32_t, int, Gains, uint64_t);

MixFn mix_fn(const PcmFormat& f) {
    if (f.bits == 8) return f.channels == 1 ? mix_voice<8, 1> : mix_voice<8, 2>;
    return f.channels == 1 ? mix_voice<16, 1> : mix_voice<16, 2>;
}

}  // namespace

int32_t attenuation_gain(LONG hundredths) {
    if (hundredths <= DSBVOLUME_MIN) return 0;
    if (hundredths >= 0) return 65536;
    return int32_t(std::lround(std::pow(10.0, double(hundredths) / 2000.0) * 65536.0));
}

void Voice::add_mark(const Mark& m) {
    if (mark_count == kMarks) {  // never heard yet: keep the newest
        first_mark = (first_mark + 1) % kMarks;
        --mark_count;
    }
    marks[(first_mark + mark_count) % kMarks] = m;
    ++mark_count;
}

Core::Core(bool emulated_driver) : emulated(emulated_driver) {
    std::lock_guard lock(cores_mutex());
    cores().insert(this);
}

Core::~Core() {
    {
        std::lock_guard lock(control);
        stop_output();
    }
    std::lock_guard lock(cores_mutex());
    cores().erase(this);
}

MMRESULT Core::start_output(const PcmFormat& f) {
    {
        std::lock_guard lock(mutex);
        format = f;
        output_failed = false;
        // Positions of a new output count from where it stands: playing
        // buffers go on from where they were mixed.
        for (Voice* v : voices) v->clear_marks();
    }
    MMRESULT result = attach_source(this, f, nullptr);
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex);
        output_failed = true;
    }
    return result;
}

void Core::stop_output() { detach_source(this); }

HRESULT Core::change_format(const PcmFormat& f) {
    PcmFormat old;
    {
        std::lock_guard lock(mutex);
        old = format;
        if (!output_failed && f.rate == old.rate && f.channels == old.channels &&
            f.bits == old.bits) {
            return DS_OK;
        }
    }
    MMRESULT result =
        output_failed ? start_output(f) : reformat_output(this, f, nullptr);
    if (result == MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex);
        format = f;
        return DS_OK;
    }
    // The output may have gone with the old format: come back to it.
    if (attach_source(this, old, nullptr) != MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex);
        output_failed = true;
        lose_all();
    }
    if (result == WAVERR_BADFORMAT) return DSERR_BADFORMAT;
    if (result == MMSYSERR_ALLOCATED) return DSERR_ALLOCATED;
    if (result == MMSYSERR_NOMEM) return DSERR_OUTOFMEMORY;
    return DSERR_NODRIVER;
}

bool Core::revive_output() {
    PcmFormat f;
    {
        std::lock_guard lock(mutex);
        if (!output_failed) return true;
        f = format;
    }
    return start_output(f) == MMSYSERR_NOERROR;
}

uint64_t Core::play_position(const Voice& v) const {
    if (!v.playing || v.primary) return v.pos;
    const uint64_t h = heard_frames.load();
    for (size_t i = 0; i < v.mark_count; ++i) {
        const Mark& m = v.mark(i);
        if (h < m.sink) return m.pos;  // not heard yet
        if (h < m.sink + m.count) return (m.pos + (h - m.sink) * m.step) % v.limit();
    }
    return v.pos;
}

void Core::settle(Voice& v) const {
    const uint64_t h = heard_frames.load();
    if (v.draining && h >= v.end_at) {
        v.playing = v.draining = false;
        v.pos = 0;
        v.clear_marks();
    }
    while (v.mark_count > 0 && v.mark(0).sink + v.mark(0).count <= h) {
        v.first_mark = (v.first_mark + 1) % Voice::kMarks;
        --v.mark_count;
    }
}

void Core::lose_all() {
    for (Voice* v : voices) {
        v->lost = true;
        v->playing = v->draining = false;
        v->clear_marks();
        if (v->storage)
            std::fill(v->storage->data.begin(), v->storage->data.end(), v->storage->silence);
    }
}

void Core::mix(uint32_t count, const PcmFormat& output) {
    acc_.assign(size_t(count) * output.channels, 0);
    const int out_channels = output.channels;
    for (Voice* v : voices) {
        if (v->primary || !v->playing || v->draining || v->lost || v->frames == 0) continue;
        Gains g = voice_gains(v->volume, out_channels == 2 ? v->pan : 0);
        const uint64_t step = (uint64_t(v->frequency) << kFracBits) / output.rate;
        const uint64_t start = v->pos;
        uint32_t filled = mix_fn(v->format)(*v, acc_.data(), count, out_channels, g, step);
        v->add_mark(Mark{written, filled, start, step});
        if (filled < count || v->pos >= v->limit()) {
            v->draining = true;
            v->end_at = written + filled;
            v->pos = 0;
        }
    }
}

uint32_t Core::render(int32_t* out, uint32_t count, const PcmFormat& output, uint64_t position) {
    std::lock_guard lock(mutex);
    if (!alive || output_failed) return 0;
    written = position;
    mix(count, output);
    written = position + count;
    // The primary buffer's volume and pan act on the whole mix, which is
    // clipped as one device would clip it.
    Gains master{65536, 65536};
    for (const Voice* v : voices)
        if (v->primary) master = voice_gains(v->volume, output.channels == 2 ? v->pan : 0);
    const size_t n = size_t(count) * output.channels;
    for (size_t i = 0; i < n; ++i) {
        const int32_t g = (output.channels == 2 && (i & 1)) ? master.right : master.left;
        out[i] += std::clamp<int32_t>(int32_t((int64_t(acc_[i]) * g) >> 16), -32768, 32767);
    }
    return count;
}

void Core::heard(uint64_t position) {
    std::lock_guard lock(mutex);
    heard_frames.store(position);
    for (Voice* v : voices) settle(*v);
}

void Core::failed() {
    std::lock_guard lock(mutex);
    output_failed = true;
    lose_all();
}

void for_each_core(void (*fn)(Core&)) {
    std::lock_guard lock(cores_mutex());
    for (Core* c : cores()) fn(*c);
}

}  // namespace win32::mm::ds

void win32::mm::dsound_lose_buffers() {
    ds::for_each_core([](ds::Core& core) {
        std::lock_guard lock(core.mutex);
        core.lose_all();
    });
}
