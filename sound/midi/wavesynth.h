// The wave synthesizer: MIDI notes played as digital samples from a wave
// library image, one sample handle per voice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sonvex.h"

namespace svx::wavesynth {

inline constexpr int kMaxVoices = 16;
inline constexpr int kMaxEntries = 512;

// Whole hertz of MIDI key k + 12 (entry 0: 8).
inline constexpr std::array<int32_t, 128> kFrequency = {
    8,     17,    18,    19,    21,    22,    23,    24,    26,    28,    29,    31,
    33,    35,    37,    39,    41,    44,    46,    49,    52,    55,    58,    62,
    65,    69,    73,    78,    82,    87,    92,    98,    104,   110,   117,   123,
    131,   139,   147,   156,   165,   175,   185,   196,   208,   220,   233,   247,
    262,   277,   294,   311,   330,   349,   370,   392,   415,   440,   466,   494,
    523,   554,   587,   622,   659,   698,   740,   784,   831,   880,   932,   988,
    1047,  1109,  1175,  1245,  1319,  1397,  1480,  1568,  1661,  1760,  1865,  1976,
    2093,  2217,  2349,  2489,  2637,  2794,  2960,  3136,  3322,  3520,  3729,  3951,
    4186,  4435,  4699,  4978,  5274,  5588,  5920,  6272,  6645,  7040,  7459,  7902,
    8372,  8870,  9397,  9956,  10548, 11175, 11840, 12544, 13290, 14080, 14917, 15804,
    16744, 17740, 18795, 19912, 21096, 22351, 23680, 25088,
};

// One 32-byte entry of a wave library.
struct Entry {
    int32_t bank, patch, root_key, offset, size, format, is_signed, rate;
};
static_assert(sizeof(Entry) == 32);

// The entry for (bank, patch) in a library of `size` bytes (SIZE_MAX:
// unknown), or null; entries whose data leaves a known image are skipped.
const Entry* find_entry(const uint8_t* library, size_t size, int32_t bank, int32_t patch);

// Playback rate of a voice: key, root key, entry rate, bend (0-16383),
// bend range in semitones, drum channel.
int32_t voice_rate(int key, int root_key, int32_t rate, int bend, int range, bool drum);

}  // namespace svx::wavesynth
