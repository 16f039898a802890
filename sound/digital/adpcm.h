// IMA ADPCM: the decoding tables, the decoder state a sample or stream
// keeps while it plays, and the encoder used by SVX_compress_ADPCM.
//
// Block layout (block size B, c channels): per channel a 4-byte header
// (first sample, signed 16-bit; step index; one reserved byte), then 32-bit
// words of 8 codes, lowest nibble first; stereo alternates a left word and
// a right word. A block holds (B - 4c) * 8 / (4c) + 1 frames.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace svx::adpcm {

inline constexpr int max_index = 88;

inline constexpr std::array<int32_t, max_index + 1> step_table = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Step index change by code magnitude (bits 0-2).
inline constexpr std::array<int32_t, 8> index_table = {-1, -1, -1, -1, 2, 4, 6, 8};

// What one code does at one step index: the signed difference added to
// the previous value, and the next step index.
struct Transition {
    int32_t difference;
    int32_t next;
};

// Derived once from the two tables above: one lookup per decoded code.
inline constexpr auto transitions = [] {
    std::array<std::array<Transition, 16>, max_index + 1> table{};
    for (int i = 0; i <= max_index; ++i) {
        const int32_t step = step_table[size_t(i)];
        for (int code = 0; code < 16; ++code) {
            int32_t d = step >> 3;
            if (code & 4) d += step;
            if (code & 2) d += step >> 1;
            if (code & 1) d += step >> 2;
            const int32_t next = std::clamp(i + index_table[size_t(code & 7)], 0, max_index);
            table[size_t(i)][size_t(code)] = {(code & 8) ? -d : d, next};
        }
    }
    return table;
}();

// The predictor of one channel.
struct Channel {
    int32_t value = 0;
    int32_t index = 0;
};

// The difference has the sign of code bit 3, so clamping both ways
// saturates to -32768 or 32767 as that bit says.
inline int32_t decode(Channel& ch, uint32_t code) {
    const Transition& t = transitions[size_t(ch.index)][code & 15];
    ch.value = std::clamp(ch.value + t.difference, -32768, 32767);
    ch.index = t.next;
    return ch.value;
}

inline uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A block header: per channel the first sample (also the first output
// frame, into `out` interleaved) and the step index, clamped to the table.
template <int Channels>
inline void read_header(Channel* ch, const uint8_t* header, int16_t* out) {
    for (int c = 0; c < Channels; ++c) {
        const uint8_t* p = header + 4 * c;
        ch[c].value = int16_t(uint16_t(p[0] | p[1] << 8));
        ch[c].index = std::min<int32_t>(p[2], max_index);
        out[c] = int16_t(ch[c].value);
    }
}

// The 8 codes of one word per channel, into `out` interleaved. The
// channels of a frame are decoded side by side: they do not depend on
// each other.
template <int Channels>
inline void decode_words(Channel* ch, const uint8_t* words, int16_t* out) {
    uint32_t w[Channels];
    for (int c = 0; c < Channels; ++c) w[c] = read32(words + 4 * c);
    for (int k = 0; k < 8; ++k)
        for (int c = 0; c < Channels; ++c)
            out[k * Channels + c] = int16_t(decode(ch[c], (w[c] >> (4 * k)) & 15));
}

// The code for `sample` from the predictor; the predictor moves on to what
// a decoder will reconstruct.
inline uint32_t encode(Channel& ch, int32_t sample) {
    int32_t diff = sample - ch.value;
    uint32_t code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    const int32_t step = step_table[size_t(ch.index)];
    if (diff >= step) {
        code |= 4;
        diff -= step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
    }
    if (diff >= step >> 2) code |= 1;
    decode(ch, code);
    return code;
}

// Frames in a block of `block_size` bytes; 0 when the block cannot hold
// its headers.
inline int64_t frames_per_block(int64_t block_size, int channels) {
    const int64_t header = 4 * int64_t(channels);
    if (block_size < header) return 0;
    return (block_size - header) * 8 / header + 1;
}

// Decoder state of a playing sample or a whole-image decode. The cache
// holds the frames of one unit: a block header (1 frame) or one word per
// channel (8 frames); `unit` is its size in bytes, so that a position can
// stay on the unit while frames of it are still to be played.
struct State {
    int64_t block_left = 0;  // bytes of the current block after the cached unit; 0: a header comes next
    int32_t codes_left = 0;  // cached frames still to be played
    int32_t next = 0;        // cache index of the next frame
    uint32_t unit = 0;
    Channel channel[2] = {};
    int16_t cache[16] = {};
    // Where the cache belongs: data start and the position of its unit.
    const uint8_t* source = nullptr;
    size_t position = 0;
};

// Forgets everything decoded: the next unit read is a block header.
inline void reset(State& s) { s = State{}; }

// Decodes the unit at data[pos] into the cache. A block remainder too short
// for a word is passed over. Returns false, with pos = end, when no whole
// unit is left before `end`: data that stops inside a unit ends there.
template <int Channels>
bool fill(State& s, const uint8_t* data, size_t& pos, size_t end, int64_t block_size) {
    static_assert(Channels == 1 || Channels == 2);
    constexpr size_t unit = 4 * Channels;
    if (s.block_left > 0 && s.block_left < int64_t(unit)) {
        pos += size_t(std::min<int64_t>(s.block_left, int64_t(end - std::min(pos, end))));
        s.block_left = 0;
    }
    if (pos >= end || end - pos < unit) {
        pos = end;
        s.codes_left = 0;
        return false;
    }
    const uint8_t* p = data + pos;
    s.unit = unit;
    s.next = 0;
    if (s.block_left <= 0) {
        read_header<Channels>(s.channel, p, s.cache);
        s.codes_left = 1;
        s.block_left = std::max<int64_t>(block_size - int64_t(unit), 0);
        return true;
    }
    decode_words<Channels>(s.channel, p, s.cache);
    s.codes_left = 8;
    s.block_left -= int64_t(unit);
    return true;
}

// Decodes up to `frames` frames of `channels` (1 or 2) interleaved into
// `out`; returns the frames written.
size_t decode_data(const uint8_t* data, size_t bytes, int64_t block_size, int channels, int16_t* out,
                   size_t frames);

}  // namespace svx::adpcm
