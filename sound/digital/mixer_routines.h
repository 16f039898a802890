// The generic bodies behind the merge and conversion tables. Each table
// slot is one instantiation for one mask, so the inner loops never test a
// format bit at run time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "digital/adpcm.h"
#include "digital/mixer.h"

namespace svx::mixer {

// State of one merge, set up by merge_run. Source positions are byte
// offsets from `source`, so a step past the end never forms a stray pointer.
struct MergeState {
    const uint8_t* source = nullptr;
    size_t source_pos = 0;
    size_t source_end = 0;
    int32_t* dest = nullptr;
    int32_t* dest_end = nullptr;  // end of the last whole output frame
    const int32_t* left = nullptr;
    const int32_t* right = nullptr;
    // Resampling: the step's fraction in the high 16 bits, and the whole
    // step and whole step + 1 in source bytes.
    uint32_t fraction_step = 0;
    uint32_t whole_step = 0;
    uint32_t whole_step_plus_one = 0;
    // ADPCM data: the sample's decoder state and block size.
    adpcm::State* adpcm = nullptr;
    int64_t block_size = 0;
};

// Can a mask occur? A stereo sample on mono output is always scaled, the
// right-first bit needs a stereo sample, and scaled 8-bit data always goes
// through the tables. ADPCM data is signed and never right-first.
constexpr bool mask_can_occur(uint32_t m) {
    if (m >= merge_table_size) return false;
    if ((m & op_stereo_sample) && !(m & op_stereo_output) && !(m & op_scale)) return false;
    if ((m & op_right_first) && !(m & op_stereo_sample)) return false;
    if ((m & op_8bit) && (m & op_scale) && !(m & op_convert)) return false;
    return true;
}

constexpr uint32_t source_frame_bytes(uint32_t m) {
    return ((m & op_8bit) ? 1u : 2u) * ((m & op_stereo_sample) ? 2u : 1u);
}

// A source reader walks the data of one run for the merge body:
//   Reader(const MergeState&)   starts at source_pos
//   has_frame()                 a whole frame is left before source_end
//   channel(c)                  channel c (0, or 1 for stereo data, as stored)
//                               of the current frame: the raw byte for table
//                               lookups, else a value in the 16-bit range
//   advance(bytes)              moves on by source bytes (for a decoding
//                               reader: bytes of the decoded 16-bit frames)
//   finish(MergeState&)         stores the position reached
// AdpcmReader below does the same for masks 128-143.
template <uint32_t M>
class PcmReader {
public:
    static constexpr bool eight_bit = (M & op_8bit) != 0;
    static constexpr uint32_t frame_bytes = source_frame_bytes(M);

    explicit PcmReader(const MergeState& m)
        : data_(m.source), pos_(m.source_pos), end_(m.source_end) {}

    bool has_frame() const { return pos_ + frame_bytes <= end_; }

    int32_t channel(int c) const {
        const uint8_t* p = data_ + pos_ + c * (eight_bit ? 1 : 2);
        if constexpr (eight_bit) {
            if constexpr ((M & op_scale) != 0) return *p;
            else if constexpr ((M & op_convert) != 0) return (int32_t(*p) - 128) * 256;
            else return int32_t(int8_t(*p)) * 256;
        } else {
            const uint16_t word = uint16_t(p[0] | (p[1] << 8));
            if constexpr ((M & op_convert) != 0) return int32_t(word) - 32768;
            else return int16_t(word);
        }
    }

    void advance(uint32_t bytes) { pos_ += bytes; }
    void finish(MergeState& m) const { m.source_pos = pos_; }

private:
    const uint8_t* data_;
    size_t pos_;
    size_t end_;
};

// IMA ADPCM data, decoded a unit at a time (a block header, or one code
// word per channel) into the decoder state's cache. Positions stay on the
// unit whose frames are being played and move past it once they are all
// used, so a run that stops mid-word resumes there; frame_bytes are those
// of the decoded 16-bit frames, which is what the stepping counts.
template <uint32_t M>
class AdpcmReader {
public:
    static constexpr int channels = (M & op_stereo_sample) ? 2 : 1;
    static constexpr uint32_t frame_bytes = source_frame_bytes(M);
    static_assert((M & (op_8bit | op_convert | op_right_first)) == 0);

    explicit AdpcmReader(const MergeState& m)
        : data_(m.source), pos_(m.source_pos), end_(m.source_end), block_(m.block_size), s_(*m.adpcm) {}

    bool has_frame() { return s_.codes_left > 0 || next_unit(); }

    int32_t channel(int c) const { return s_.cache[s_.next * channels + c]; }

    // Skipped frames are decoded all the same: each code moves the predictor.
    void advance(uint32_t bytes) {
        for (uint32_t frames = bytes / frame_bytes; frames > 0;) {
            if (s_.codes_left == 0 && !next_unit()) return;
            const uint32_t n = std::min(frames, uint32_t(s_.codes_left));
            s_.codes_left -= int32_t(n);
            s_.next += int32_t(n);
            frames -= n;
        }
    }

    void finish(MergeState& m) {
        if (s_.codes_left == 0) {
            pos_ += s_.unit;
            s_.unit = 0;
        }
        m.source_pos = pos_;
        s_.source = data_;
        s_.position = pos_;
    }

private:
    bool next_unit() {
        pos_ += s_.unit;
        s_.unit = 0;
        return adpcm::fill<channels>(s_, data_, pos_, end_, block_);
    }

    const uint8_t* data_;
    size_t pos_;
    size_t end_;
    int64_t block_;
    adpcm::State& s_;
};

// Sums wrap like the machine's adds instead of overflowing.
inline void accumulate(int32_t& slot, int32_t value) {
    slot = int32_t(uint32_t(slot) + uint32_t(value));
}

template <uint32_t M, class Reader>
void merge(MergeState& m) {
    constexpr bool stereo_out = (M & op_stereo_output) != 0;
    constexpr bool resample = (M & op_resample) != 0;
    constexpr bool scaled = (M & op_scale) != 0;
    constexpr bool stereo_in = (M & op_stereo_sample) != 0;
    constexpr bool tabled = scaled && (M & op_8bit) != 0;
    constexpr bool swapped = (M & op_right_first) != 0;
    static_assert(mask_can_occur(M));

    Reader in(m);
    int32_t* d = m.dest;
    int32_t* const d_end = m.dest_end;
    const int32_t* const left = m.left;
    const int32_t* const right = m.right;
    const int32_t left_scale = left[0];
    const int32_t right_scale = right[0];
    uint32_t fraction = 0x80000000u;  // every run starts half-way

    while (d < d_end && in.has_frame()) {
        int32_t a = in.channel(0);
        [[maybe_unused]] int32_t b = a;
        if constexpr (stereo_in) b = in.channel(1);
        if constexpr (swapped) std::swap(a, b);

        if constexpr (stereo_out) {
            int32_t l = a, r = b;
            if constexpr (tabled) {
                l = left[a];
                r = right[b];
            } else if constexpr (scaled) {
                l = (a * left_scale) >> 7;
                r = (b * right_scale) >> 7;
            }
            accumulate(d[0], l);
            accumulate(d[1], r);
            d += 2;
        } else {
            int32_t v = a;
            if constexpr (stereo_in) {
                v = tabled ? left[a] + right[b] : (a * left_scale + b * right_scale) >> 7;
            } else if constexpr (tabled) {
                v = left[a];
            } else if constexpr (scaled) {
                v = (a * left_scale) >> 7;
            }
            accumulate(d[0], v);
            d += 1;
        }

        if constexpr (resample) {
            const uint32_t before = fraction;
            fraction += m.fraction_step;
            in.advance(fraction < before ? m.whole_step_plus_one : m.whole_step);
        } else {
            in.advance(Reader::frame_bytes);
        }
    }
    m.dest = d;
    in.finish(m);
}

// Conversion routine bits (see conversion_index).
inline constexpr int conv_signed = 1;
inline constexpr int conv_stereo = 2;
inline constexpr int conv_16bit = 4;
inline constexpr int conv_kind_one = 0;
inline constexpr int conv_kind_clamped = 1;
inline constexpr int conv_kind_silent = 2;

template <int K>
void convert_frames(const int32_t* build, size_t frames, uint8_t* out) {
    constexpr bool is_signed = (K & conv_signed) != 0;
    constexpr bool wide = (K & conv_16bit) != 0;
    constexpr int kind = K / 8;
    const size_t count = frames * ((K & conv_stereo) ? 2 : 1);
    for (size_t i = 0; i < count; ++i) {
        int32_t v = 0;
        if constexpr (kind != conv_kind_silent) v = build[i];
        if constexpr (kind == conv_kind_clamped) v = std::clamp(v, -32768, 32767);
        const uint32_t bits = is_signed ? uint32_t(v) : uint32_t(v) ^ 0x8000u;
        if constexpr (wide) {
            out[2 * i] = uint8_t(bits);
            out[2 * i + 1] = uint8_t(bits >> 8);
        } else {
            out[i] = uint8_t(bits >> 8);
        }
    }
}

}  // namespace svx::mixer
