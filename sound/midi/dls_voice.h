// Mixing one voice's wave into a 32-bit mix buffer, and turning a mix
// buffer into output samples. Integer work only: the step and gains come
// in ready-made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midi/dls_collection.h"

namespace svx::dls {

// The largest step the averaging mode takes: it adds at most 255 source
// frames per output frame, and the fraction carried in may add one more.
inline constexpr uint32_t kMaxAveragingStep = 255u << 16;

enum class Smoothing { plain, smoothed };

// Where a voice stands in its wave; carried from one run and call to the
// next.
struct Cursor {
    uint32_t frame = 0;     // source frame
    uint32_t fraction = 0;  // 16-bit fraction accumulator
    int32_t previous = 0;   // value of the last output frame
};

struct MixParams {
    uint32_t step = 0x10000;  // 16.16 source frames per output frame
    int32_t left_gain = 0;    // 2047 = 0 dB
    int32_t right_gain = 0;
    bool looping = false;
    Loop loop;  // frames; checked against the wave at parse time
    Smoothing smoothing = Smoothing::smoothed;
};

// Mixes `frames` output frames of `wave` from `cursor` into `out` (one slot
// per frame, or left and right slots with `stereo`). False when the wave
// ended on the way: the voice is over and the rest of `out` untouched.
bool mix_voice(Cursor& cursor, const Wave& wave, const MixParams& params, int32_t* out,
               uint32_t frames, bool stereo);

// One mix slot as output: v >> 11 clamped to 16 bits; 8-bit output is its
// high byte, unsigned.
void convert_slots(const int32_t* mix, size_t slots, void* out, bool sixteen_bit);
// The same, four slots at a time with saturating packs where the processor
// has them; the slots left over go through convert_slots.
void convert_slots_fast(const int32_t* mix, size_t slots, void* out, bool sixteen_bit);

}  // namespace svx::dls
