// The process's one audio output, as a sound card is one device: every
// waveOut device and DirectSound object is a source that the output pulls
// a period at a time, mixes, and plays through the sink of WIN32_AUDIO.
// The sink opens with the first source, in that source's format, and
// closes once the last source has gone and what it gave has been played.
// Internal to win32_multimedia.
#pragma once

#include <cstdint>
#include <vector>

#include "pcm_sink.h"

namespace win32::mm {

class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Adds up to `count` frames to `mix` (the output's channels, signed
    // 16-bit scale) and returns how many it had. `position` is the output
    // frame of mix[0].
    virtual uint32_t render(int32_t* mix, uint32_t count, const PcmFormat& output,
                            uint64_t position) = 0;
    // Whether render would give anything now.
    virtual bool has_data() = 0;
    // The output has played every frame before `position`.
    virtual void heard(uint64_t position) = 0;
    // The output failed: the source is detached and hears nothing more.
    virtual void failed() = 0;
};

// The calls below run on the output's thread with the output's source
// lock held: a source takes its own lock inside them and never calls
// attach, detach or reformat while holding it.

// Adds a source; the first one opens the output in `format`. The format
// the output really plays goes to `output` (a capture file keeps the
// format it started with). Same results as opening a waveOut device.
MMRESULT attach_source(AudioSource* source, const PcmFormat& format, PcmFormat* output);
// Removes a source; none of its calls runs after this returns. Nothing
// for a source that is not attached.
void detach_source(AudioSource* source);
// A source has new data: the output stops waiting.
void wake_output();
// What the output has done since the process began, for soak runs: the
// frames its sinks played (at each one's rate), and how often a sink ran
// dry between frames the sources gave, a gap the listener heard.
struct OutputCounters {
    uint64_t frames_played = 0;
    uint64_t underruns = 0;
};
OutputCounters output_counters();
// When `source` is the only one, plays `format` from now on; otherwise the
// output keeps its format. The format in use goes to `output`.
MMRESULT reformat_output(AudioSource* source, const PcmFormat& format, PcmFormat* output);

// Adds `frames` of PCM in `from` to `mix` in the output's format: equal
// formats add unchanged, other channel counts and depths are converted.
// The rates must be equal.
void add_frames(int32_t* mix, const uint8_t* frames, uint32_t count, const PcmFormat& from,
                uint16_t output_channels);

// Turns a source's frames at its own rate into frames at the output's
// rate, interpolating between neighbours; equal rates pass unchanged.
class RateConverter {
public:
    // What gives the source's frames: up to `count` into `to`, how many.
    using Pull = uint32_t (*)(void* context, uint8_t* to, uint32_t count);

    // Adds up to `count` output frames to `mix`; returns how many.
    uint32_t render(int32_t* mix, uint32_t count, const PcmFormat& from, const PcmFormat& output,
                    Pull pull, void* context);
    // Forgets the frames it holds (after a reset).
    void clear();

private:
    std::vector<int32_t> held_;  // source frames not yet passed, in the output's channels
    uint64_t position_ = 0;      // 32.32 frames into held_
    std::vector<uint8_t> bytes_;
};

}  // namespace win32::mm
