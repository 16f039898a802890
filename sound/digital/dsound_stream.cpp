// DirectSound streaming of one sample: segment sizes, the secondary buffer
// slots, the fill of a segment (with loops, double buffers and ADPCM
// decoding), end detection by the bytes still to be heard, volume and pan.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "core/state.h"
#include "digital/dsound_driver.h"

namespace svx::digital::ds {
namespace {

constexpr uint32_t kUnset = UINT32_MAX;
constexpr int32_t kServicePeriodMs = 10;
constexpr DWORD kSecondaryFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                                  DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;

bool sixteen_bit(uint32_t format) {
    return (format & (SVX_FORMAT_16BIT | SVX_FORMAT_ADPCM)) != 0;
}
int channels_of(uint32_t format) {
    return (format & SVX_FORMAT_STEREO) ? 2 : 1;
}
uint8_t silence_byte(uint32_t format) {
    return sixteen_bit(format) ? 0 : 0x80;
}

// DirectSound refuses frequencies outside its range.
DWORD frequency_of(int32_t rate) {
    return DWORD(std::clamp<int32_t>(rate, DSBFREQUENCY_MIN, DSBFREQUENCY_MAX));
}

// Lock that restores a lost buffer once and tries again.
HRESULT lock(IDirectSoundBuffer* buffer, DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2,
             DWORD* n2, DWORD flags) {
    HRESULT hr = buffer->Lock(offset, bytes, p1, n1, p2, n2, flags);
    if (hr == DSERR_BUFFERLOST && buffer->Restore() == DS_OK)
        hr = buffer->Lock(offset, bytes, p1, n1, p2, n2, flags);
    return hr;
}

// The whole buffer silent for the data format it was made for.
void fill_silence(IDirectSoundBuffer* buffer, uint32_t format) {
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    if (lock(buffer, 0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER) != DS_OK) return;
    std::memset(p1, silence_byte(format), n1);
    if (p2) std::memset(p2, silence_byte(format), n2);
    buffer->Unlock(p1, n1, p2, n2);
}

void call(std::atomic<SVXSAMPLECB>& slot, Sample& sample, int times) {
    for (int i = 0; i < times; ++i)
        if (SVXSAMPLECB callback = slot.load(std::memory_order_relaxed))
            callback(handle_of(&sample));
}

struct Counts {
    int starts = 0;
    int ends_of_buffer = 0;
};

// What one copy achieved: bytes written to the segment, source position
// reached.
struct Copied {
    uint32_t written = 0;
    int64_t position = 0;
};

// PCM data into the buffer's format: 8-bit unsigned, 16-bit signed, left
// channel first, as DirectSound plays them.
Copied copy_pcm(const uint8_t* start, int64_t position, int64_t remaining, uint32_t format,
                uint32_t flags, uint8_t* out, uint32_t room) {
    const int32_t sample_bytes = (format & SVX_FORMAT_16BIT) ? 2 : 1;
    const int32_t frame = sample_bytes * channels_of(format);
    const int64_t bytes = std::min<int64_t>(remaining, room) / frame * frame;
    if (bytes <= 0) return {0, position + remaining};  // a part frame cannot be played
    std::memcpy(out, start + position, size_t(bytes));
    const bool is_signed = (flags & SVX_FLAG_SIGNED) != 0;
    if (sample_bytes == 1 && is_signed) {
        for (int64_t i = 0; i < bytes; ++i) out[i] ^= 0x80;
    } else if (sample_bytes == 2 && !is_signed) {
        for (int64_t i = 1; i < bytes; i += 2) out[i] ^= 0x80;
    }
    if ((format & SVX_FORMAT_STEREO) && (flags & SVX_FLAG_RIGHT_FIRST)) {
        const int32_t half = frame / 2;
        uint8_t t[2];
        for (int64_t f = 0; f < bytes; f += frame) {
            std::memcpy(t, out + f, size_t(half));
            std::memmove(out + f, out + f + half, size_t(half));
            std::memcpy(out + f + half, t, size_t(half));
        }
    }
    return {uint32_t(bytes), position + bytes};
}

// IMA ADPCM decoded into 16-bit frames. The decoder state carries a part
// word over to the next copy, as in the mixer.
template <int Channels>
Copied decode_adpcm(Sample& sample, const uint8_t* start, int64_t position, int64_t remaining,
                    uint8_t* out, uint32_t room) {
    adpcm::State& s = sample.adpcm;
    const uint32_t stamp = sample.adpcm_reset_stamp.load(std::memory_order_acquire);
    if (stamp != sample.adpcm_reset_seen) {
        adpcm::reset(s);
        sample.adpcm_reset_seen = stamp;
    }
    size_t pos = size_t(position);
    const size_t end = size_t(position + remaining);
    if (s.source != start || s.position != pos) adpcm::reset(s);
    const int64_t block = sample.adpcm_block_size.load(std::memory_order_relaxed);
    constexpr uint32_t frame = 2 * Channels;
    uint32_t frames = room / frame, done = 0;
    while (done < frames) {
        if (s.codes_left == 0) {
            pos += s.unit;
            s.unit = 0;
            if (!adpcm::fill<Channels>(s, start, pos, end, block)) break;
        }
        const uint32_t n = std::min<uint32_t>(uint32_t(s.codes_left), frames - done);
        std::memcpy(out + done * frame, s.cache + s.next * Channels, n * frame);
        s.next += int32_t(n);
        s.codes_left -= int32_t(n);
        done += n;
    }
    if (s.codes_left == 0) {
        pos += s.unit;
        s.unit = 0;
    }
    s.source = start;
    s.position = pos;
    return {done * frame, int64_t(std::min(pos, end))};
}

// Moves a VOC file sample on to its next sound block when that plays in
// the buffer it has (same format and rate); true when it did.
bool continue_voc_in_place(Sample& sample) {
    if (sample.end_of_sample.load(std::memory_order_relaxed) != &voc_continuation) return false;
    VocCursor cursor = sample.voc;
    VocData data;
    if (!voc_next_sound(cursor, data)) return false;
    if (data.format != sample.format.load(std::memory_order_relaxed) ||
        data.flags != sample.flags.load(std::memory_order_relaxed) ||
        data.rate != sample.rate.load(std::memory_order_relaxed))
        return false;  // the continuation restarts it in a matching buffer
    sample.voc = cursor;
    set_address(sample, data.data, data.length);
    sample.current.store(0, std::memory_order_relaxed);
    sample.position[0].store(0, std::memory_order_relaxed);
    return true;
}

// Writes up to `room` bytes of the sample's sound at `out`, following
// loops and the double-buffer switch as the mixing step does. Returns the
// bytes written; `ended` tells whether the sample's data is finished (a
// double-buffered sample waiting for its next buffer is not).
uint32_t produce(Sample& sample, uint8_t* out, uint32_t room, Counts& counts, bool& ended) {
    ended = false;
    uint32_t written = 0;
    bool wrapped = false, progressed_since_wrap = false;
    while (written < room) {
        const int32_t cur = sample.current.load(std::memory_order_relaxed) & 1;
        const int64_t position = sample.position[cur].load(std::memory_order_relaxed);
        const int64_t remaining = bytes_to_play(sample, cur, position);

        if (remaining > 0) {
            if (sample.start_of_block.load(std::memory_order_relaxed)) ++counts.starts;
            const uint8_t* start = sample.start[cur].load(std::memory_order_relaxed);
            const uint32_t format = sample.format.load(std::memory_order_relaxed);
            Copied copied{0, position + remaining};
            if (start && position >= 0) {
                if (format & SVX_FORMAT_ADPCM) {
                    copied = (format & SVX_FORMAT_STEREO)
                                 ? decode_adpcm<2>(sample, start, position, remaining,
                                                   out + written, room - written)
                                 : decode_adpcm<1>(sample, start, position, remaining,
                                                   out + written, room - written);
                } else {
                    copied = copy_pcm(start, position, remaining, format,
                                      sample.flags.load(std::memory_order_relaxed), out + written,
                                      room - written);
                }
            }
            // Data that cannot be played (no address, a part frame) is
            // passed over, so the fill always moves on.
            if (copied.written == 0 && copied.position == position)
                copied.position = position + remaining;
            sample.position[cur].store(
                int32_t(std::clamp<int64_t>(copied.position, INT32_MIN, INT32_MAX)),
                std::memory_order_relaxed);
            written += copied.written;
            // Only sound counts as progress: passing over a part frame
            // would otherwise wrap the loop for ever.
            if (copied.written != 0) progressed_since_wrap = true;
            continue;
        }

        if (sample.end_of_buffer.load(std::memory_order_relaxed)) ++counts.ends_of_buffer;
        const BufferEnd end = at_buffer_end(sample, wrapped, progressed_since_wrap);
        if (end == BufferEnd::Again) continue;
        if (end == BufferEnd::Starved) break;
        if (continue_voc_in_place(sample)) continue;
        sample.starved.store(1, std::memory_order_relaxed);
        ended = true;
        break;
    }
    return written;
}

}  // namespace

// ---- sizes and formulas ----

int64_t stream_bytes_per_second(uint32_t format, int32_t rate, int32_t lowest_rate) {
    const int64_t r = std::max<int64_t>(std::max(rate, lowest_rate), 0);
    return int64_t(channels_of(format)) * (sixteen_bit(format) ? 2 : 1) * r;
}

uint32_t nearest_segment(int64_t target, uint32_t limit) {
    uint32_t best = 1024;
    for (uint32_t size = 2048; size <= 16384; size *= 2)
        if (std::llabs(int64_t(size) - target) < std::llabs(int64_t(best) - target)) best = size;
    return std::min(best, limit);
}

uint32_t segment_size(uint32_t buffer_bytes, int64_t bytes_per_second, bool double_buffered) {
    const uint32_t half = buffer_bytes / 2 / 4 * 4;  // whole frames of every format
    if (!double_buffered || half == 0) return half;
    const uint32_t size = nearest_segment(bytes_per_second / 10, half);
    return size != 0 && buffer_bytes % size == 0 ? size : half;
}

int32_t service_interval(int64_t bytes_per_second, uint32_t segment_bytes) {
    if (bytes_per_second <= 0 || segment_bytes == 0) return kServicePeriodMs;
    const int64_t divisor = bytes_per_second / segment_bytes;
    const int64_t ms =
        divisor > 0 ? 250 / divisor : 250 * int64_t(segment_bytes) / bytes_per_second;
    return int32_t(std::clamp<int64_t>(ms, 1, INT32_MAX));
}

LONG buffer_volume(int32_t master_volume, int32_t volume) {
    const int64_t v =
        std::clamp<int64_t>(int64_t(master_volume) * std::clamp(volume, 0, 127) / 127, 0, 127);
    if (v == 0) return DSBVOLUME_MIN;
    return std::max<LONG>(LONG(2000.0 * std::log10(double(v) / 127.0)), DSBVOLUME_MIN);
}

LONG buffer_pan(int32_t pan) {
    pan = std::clamp(pan, 0, 127);
    if (pan == 64) return DSBPAN_CENTER;
    if (pan == 0) return DSBPAN_LEFT;
    if (pan == 127) return DSBPAN_RIGHT;
    const double db = pan < 64 ? 2000.0 * std::log10(double(pan) / 63.0)
                               : -2000.0 * std::log10(double(127 - pan) / 63.0);
    return std::clamp<LONG>(LONG(db), DSBPAN_LEFT, DSBPAN_RIGHT);
}

// ---- slots ----

IDirectSoundBuffer* buffer_of(const Sample& sample) {
    const DigitalDriver* driver = sample.driver;
    const int32_t slot = sample.ds_slot.load(std::memory_order_relaxed);
    if (!is_ds_driver(driver) || slot < 0 || slot >= driver->ds_slots) return nullptr;
    if (driver->ds_owners[slot] != &sample) return nullptr;
    return driver->ds_buffers[slot];
}

void silence(Sample& sample, IDirectSoundBuffer* buffer) {
    const DigitalDriver* driver = sample.driver;
    const int32_t slot = sample.ds_slot.load(std::memory_order_relaxed);
    if (driver && slot >= 0 && slot < driver->ds_slots)
        fill_silence(buffer, driver->ds_formats[slot]);
}

void give_up_buffer(Sample& sample, DigitalDriver& driver) {
    const int32_t slot = sample.ds_slot.exchange(-1, std::memory_order_relaxed);
    if (!is_ds_driver(&driver) || slot < 0 || slot >= driver.ds_slots) return;
    if (driver.ds_owners[slot] != &sample) return;
    if (IDirectSoundBuffer* buffer = driver.ds_buffers[slot]) {
        buffer->Stop();
        fill_silence(buffer, driver.ds_formats[slot]);
    }
    driver.ds_owners[slot] = nullptr;
}

bool acquire_buffer(Sample& sample, DigitalDriver& driver) {
    if (!is_ds_driver(&driver) || !driver.ds_object) return false;
    const uint32_t format = sample.format.load(std::memory_order_relaxed);
    if (buffer_of(sample)) {
        const int32_t slot = sample.ds_slot.load(std::memory_order_relaxed);
        // A buffer of another format would play the data as noise.
        if (driver.ds_formats[slot] == format) return true;
        give_up_buffer(sample, driver);
    }
    int32_t remembered = -1, reuse = -1, empty = -1;
    for (int32_t i = 0; i < driver.ds_slots; ++i) {
        if (!driver.ds_buffers[i]) {
            empty = i;
            continue;
        }
        const Sample* owner = driver.ds_owners[i];
        const int32_t status = owner ? owner->status.load() : SVX_FREE;
        if (status != SVX_DONE && status != SVX_FREE) continue;
        remembered = i;
        if (driver.ds_formats[i] == format) {
            reuse = i;
            break;
        }
    }
    auto take_from_owner = [&](int32_t slot) {
        if (Sample* owner = driver.ds_owners[slot])
            owner->ds_slot.store(-1, std::memory_order_relaxed);
        driver.ds_owners[slot] = nullptr;
    };
    if (reuse >= 0) {
        take_from_owner(reuse);
        driver.ds_buffers[reuse]->Stop();
        driver.ds_owners[reuse] = &sample;
        sample.ds_slot.store(reuse, std::memory_order_relaxed);
        return true;
    }
    int32_t slot = empty;
    if (slot < 0) {
        if (remembered < 0) return false;
        slot = remembered;
        take_from_owner(slot);
        driver.ds_buffers[slot]->Release();
        driver.ds_buffers[slot] = nullptr;
    }
    const WORD channels = WORD(channels_of(format));
    const WORD bits = sixteen_bit(format) ? 16 : 8;
    const DWORD rate = frequency_of(sample.rate.load(std::memory_order_relaxed));
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = channels;
    wave.nSamplesPerSec = rate;
    wave.nBlockAlign = WORD(channels * bits / 8);
    wave.nAvgBytesPerSec = rate * wave.nBlockAlign;
    wave.wBitsPerSample = bits;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = kSecondaryFlags;
    desc.dwBufferBytes = driver.buffer_bytes;
    desc.lpwfxFormat = &wave;
    IDirectSoundBuffer* buffer = nullptr;
    if (driver.ds_object->CreateSoundBuffer(&desc, &buffer, nullptr) != DS_OK || !buffer)
        return false;
    driver.ds_buffers[slot] = buffer;
    driver.ds_formats[slot] = format;
    driver.ds_owners[slot] = &sample;
    sample.ds_slot.store(slot, std::memory_order_relaxed);
    return true;
}

// ---- streaming ----

void size_segments(Sample& sample, const DigitalDriver& driver) {
    const int64_t per_second = stream_bytes_per_second(
        sample.format.load(std::memory_order_relaxed), sample.rate.load(std::memory_order_relaxed),
        preference(SVX_PREF_DS_LOWEST_RATE));
    const uint32_t size = segment_size(driver.buffer_bytes, per_second,
                                       sample.buffer_mode.load(std::memory_order_relaxed) == 2);
    sample.ds_segment_size.store(size, std::memory_order_relaxed);
    sample.ds_interval.store(service_interval(per_second, size), std::memory_order_relaxed);
}

void fill_segment(Sample& sample, DigitalDriver& driver, uint32_t index, uint32_t cursor) {
    IDirectSoundBuffer* buffer = buffer_of(sample);
    const uint32_t size = sample.ds_segment_size.load(std::memory_order_relaxed);
    const uint32_t total = driver.buffer_bytes;
    if (!buffer || size == 0 || uint64_t(index + 1) * size > total) return;
    const uint32_t offset = index * size;
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    if (lock(buffer, offset, size, &p1, &n1, &p2, &n2, 0) != DS_OK) return;
    auto* out = static_cast<uint8_t*>(p1);
    Counts counts;
    uint32_t written = 0;
    // Once the data has ended, later segments only hold silence.
    if (sample.ds_remaining.load(std::memory_order_relaxed) == kUnset) {
        bool ended = false;
        written = produce(sample, out, n1, counts, ended);
        if (ended) {
            const uint32_t end = (offset + written) % total;
            sample.ds_remaining.store((end + total - cursor % total) % total,
                                      std::memory_order_relaxed);
            sample.ds_interval.store(kServicePeriodMs, std::memory_order_relaxed);
        }
    }
    const int32_t slot = sample.ds_slot.load(std::memory_order_relaxed);
    std::memset(out + written, silence_byte(driver.ds_formats[slot]), n1 - written);
    buffer->Unlock(p1, n1, p2, n2);
    call(sample.start_of_block, sample, counts.starts);
    call(sample.end_of_buffer, sample, counts.ends_of_buffer);
}

void apply_volume(Sample& sample, const DigitalDriver& driver) {
    if (IDirectSoundBuffer* buffer = buffer_of(sample))
        buffer->SetVolume(buffer_volume(driver.master_volume.load(std::memory_order_relaxed),
                                        sample.volume.load(std::memory_order_relaxed)));
}

void apply_pan(Sample& sample, const DigitalDriver& driver) {
    if (driver.channels != 2) return;
    if (IDirectSoundBuffer* buffer = buffer_of(sample))
        buffer->SetPan(buffer_pan(sample.pan.load(std::memory_order_relaxed)));
}

bool play_from_position(Sample& sample, DigitalDriver& driver) {
    IDirectSoundBuffer* buffer = buffer_of(sample);
    if (!buffer) return false;
    buffer->Stop();
    size_segments(sample, driver);
    silence(sample, buffer);
    buffer->SetCurrentPosition(0);
    sample.ds_segment = 0;
    sample.ds_last_cursor = 0;
    sample.ds_remaining.store(kUnset, std::memory_order_relaxed);
    sample.ds_countdown = sample.ds_interval.load(std::memory_order_relaxed);
    sample.status.store(SVX_PLAYING);
    const uint32_t seen = drivers_changed();
    fill_segment(sample, driver, 0, 0);
    fill_segment(sample, driver, 1, 0);
    // A callback closed a driver or took the buffer away.
    if (drivers_changed() != seen || buffer_of(sample) != buffer) return false;
    buffer->SetFrequency(frequency_of(sample.rate.load(std::memory_order_relaxed)));
    apply_volume(sample, driver);
    apply_pan(sample, driver);
    const DWORD flags =
        sample.ds_control.load(std::memory_order_relaxed) == 1 ? 0 : DSBPLAY_LOOPING;
    HRESULT hr = buffer->Play(0, 0, flags);
    if (hr == DSERR_BUFFERLOST && buffer->Restore() == DS_OK) hr = buffer->Play(0, 0, flags);
    return hr == DS_OK;
}

void service_sample(Sample& sample, DigitalDriver& driver, int32_t elapsed_ms) {
    const int32_t interval = std::max(sample.ds_interval.load(std::memory_order_relaxed), 1);
    sample.ds_countdown -= elapsed_ms;
    if (sample.ds_countdown > 0) return;
    // Late looks are not owed: the countdown never sinks below one interval.
    sample.ds_countdown = std::max(sample.ds_countdown + interval, 0);
    if (sample.ds_control.load(std::memory_order_relaxed) != 0) return;
    IDirectSoundBuffer* buffer = buffer_of(sample);
    const uint32_t size = sample.ds_segment_size.load(std::memory_order_relaxed);
    const uint32_t total = driver.buffer_bytes;
    if (!buffer || size == 0 || total == 0) return;
    DWORD play = 0;
    if (buffer->GetCurrentPosition(&play, nullptr) != DS_OK) return;
    play %= total;
    const uint32_t played = (play + total - sample.ds_last_cursor % total) % total;
    sample.ds_last_cursor = play;
    const uint32_t remaining = sample.ds_remaining.load(std::memory_order_relaxed);
    if (remaining == kUnset || int64_t(remaining) - played > 0) {
        if (remaining != kUnset)
            sample.ds_remaining.store(remaining - played, std::memory_order_relaxed);
        const uint32_t segments = total / size;
        const uint32_t now = std::min(play / size, segments - 1);
        // Each segment passed is refilled in turn, so the data stays in
        // order even when a look comes late.
        const uint32_t seen = drivers_changed();
        for (uint32_t step = 0; step < segments && sample.ds_segment != now; ++step) {
            sample.ds_segment = (sample.ds_segment + 1) % segments;
            fill_segment(sample, driver, (sample.ds_segment + 1) % segments, play);
            if (drivers_changed() != seen || buffer_of(sample) != buffer) return;
        }
        return;
    }
    buffer->Stop();
    silence(sample, buffer);
    sample.ds_remaining.store(kUnset, std::memory_order_relaxed);
    sample.starved.store(1, std::memory_order_relaxed);
    sample.status.store(SVX_DONE);
    call(sample.end_of_sample, sample, 1);
}

}  // namespace svx::digital::ds
