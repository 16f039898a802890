// The DirectSound stand-in's software mixer: a thread per DirectSound
// object mixes every playing secondary buffer, a period at a time, into
// the primary format and writes it to the PCM sink of WIN32_AUDIO.
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
    std::unique_ptr<PcmSink> sink;
    MMRESULT result = open_pcm_sink(f, sink);
    if (result != MMSYSERR_NOERROR) return result;
    {
        std::lock_guard lock(mutex);
        format = f;
        written = 0;
        heard.store(0);
        output_failed = false;
        // The new sink counts from zero: playing buffers go on from where
        // they were mixed.
        for (Voice* v : voices) v->clear_marks();
    }
    sink_ = std::move(sink);
    stopping_.store(false);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        sink_.reset();
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

void Core::stop_output() {
    if (!thread_.joinable()) {
        sink_.reset();
        return;
    }
    stopping_.store(true);
    sink_->interrupt();
    thread_.join();
    sink_.reset();
}

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
    // The device plays one format at a time: the old one must go first.
    stop_output();
    MMRESULT result = start_output(f);
    if (result == MMSYSERR_NOERROR) return DS_OK;
    if (start_output(old) != MMSYSERR_NOERROR) {
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
    stop_output();
    return start_output(f) == MMSYSERR_NOERROR;
}

uint64_t Core::play_position(const Voice& v) const {
    if (!v.playing || v.primary) return v.pos;
    const uint64_t h = heard.load();
    for (size_t i = 0; i < v.mark_count; ++i) {
        const Mark& m = v.mark(i);
        if (h < m.sink) return m.pos;  // not heard yet
        if (h < m.sink + m.count) return (m.pos + (h - m.sink) * m.step) % v.limit();
    }
    return v.pos;
}

void Core::settle(Voice& v) const {
    const uint64_t h = heard.load();
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

void Core::mix(std::vector<int32_t>& acc, uint32_t count) {
    std::fill(acc.begin(), acc.end(), 0);
    const int out_channels = format.channels;
    for (Voice* v : voices) {
        if (v->primary || !v->playing || v->draining || v->lost || v->frames == 0) continue;
        Gains g = voice_gains(v->volume, out_channels == 2 ? v->pan : 0);
        const uint64_t step = (uint64_t(v->frequency) << kFracBits) / format.rate;
        const uint64_t start = v->pos;
        uint32_t filled = mix_fn(v->format)(*v, acc.data(), count, out_channels, g, step);
        v->add_mark(Mark{written, filled, start, step});
        if (filled < count || v->pos >= v->limit()) {
            v->draining = true;
            v->end_at = written + filled;
            v->pos = 0;
        }
    }
}

void Core::convert(const std::vector<int32_t>& acc, uint32_t count,
                   std::vector<uint8_t>& out) const {
    // The primary buffer's volume and pan act on the whole mix.
    Gains master{65536, 65536};
    for (const Voice* v : voices)
        if (v->primary) master = voice_gains(v->volume, format.channels == 2 ? v->pan : 0);
    const size_t n = size_t(count) * format.channels;
    out.resize(n * format.bits / 8);
    for (size_t i = 0; i < n; ++i) {
        const int32_t g = (format.channels == 2 && (i & 1)) ? master.right : master.left;
        const int32_t s = std::clamp<int32_t>(int32_t((int64_t(acc[i]) * g) >> 16), -32768, 32767);
        if (format.bits == 8) {
            out[i] = uint8_t((s >> 8) + 128);
        } else {
            out[2 * i] = uint8_t(s & 0xFF);
            out[2 * i + 1] = uint8_t((s >> 8) & 0xFF);
        }
    }
}

void Core::run() {
    std::vector<int32_t> acc;
    std::vector<uint8_t> out;
    const uint32_t period = sink_->period_frames();
    try {
        acc.resize(size_t(period) * sink_->format().channels);
        out.reserve(size_t(period) * sink_->format().frame_bytes());
    } catch (const std::bad_alloc&) {
        std::lock_guard lock(mutex);
        output_failed = true;
        lose_all();
        return;
    }
    while (!stopping_.load()) {
        {
            std::lock_guard lock(mutex);
            mix(acc, period);
            convert(acc, period, out);
        }
        SinkStatus status = sink_->write(out.data(), period);
        // Only stop_output interrupts.
        if (status == SinkStatus::interrupted) break;
        std::lock_guard lock(mutex);
        if (status == SinkStatus::failed) {
            output_failed = true;
            lose_all();
            return;
        }
        written += period;
        heard.store(sink_->played());
        for (Voice* v : voices) settle(*v);
    }
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
