// Voice mixing in runs: a run ends at the loop end (the position goes back
// to the loop start, the fraction carries over) or at the wave's end.
#include "midi/dls_voice.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace svx::dls {

namespace {

// R[n] = 65536 / n: the averaging mode's divisions.
constexpr auto kReciprocal = [] {
    std::array<uint32_t, 256> r{};
    r[0] = 65536;
    for (uint32_t n = 1; n < 256; ++n) r[n] = 65536 / n;
    return r;
}();

inline int32_t source(const Wave& w, uint32_t frame) {
    const uint8_t* p = w.data + size_t(frame) * w.frame_bytes();
    if (w.format & 1) return int16_t(uint16_t(p[0] | p[1] << 8));
    return (int32_t(p[0]) - 128) * 256;
}

inline void put(int32_t*& out, int32_t v, const MixParams& m, bool stereo) {
    if (stereo) {
        out[0] += v * m.left_gain;
        out[1] += v * m.right_gain;
        out += 2;
    } else {
        *out++ += v * m.left_gain;
    }
}

// One run: output frames until `frames` are done or the position reaches
// `end`. Returns the output frames made.
uint32_t run(Cursor& c, const Wave& w, const MixParams& m, int32_t*& out, uint32_t frames,
             uint32_t end, bool stereo) {
    const uint32_t whole = m.step >> 16, part = m.step & 0xFFFF;
    uint32_t made = 0;
    if (m.smoothing == Smoothing::plain) {
        while (made < frames && c.frame < end) {
            const int32_t v = source(w, c.frame);
            put(out, v, m, stereo);
            c.previous = v;
            ++made;
            c.fraction += part;
            c.frame += whole + (c.fraction >> 16);
            c.fraction &= 0xFFFF;
        }
    } else if (m.step <= 0x10000) {
        while (made < frames && c.frame < end) {
            const int32_t cur = source(w, c.frame);
            const int32_t f = int32_t(c.fraction);
            const int32_t v = ((c.previous * (65535 - f)) >> 16) + ((cur * f) >> 16);
            put(out, v, m, stereo);
            c.previous = cur;
            ++made;
            c.fraction += part;
            c.frame += whole + (c.fraction >> 16);
            c.fraction &= 0xFFFF;
        }
    } else {
        const uint32_t step = std::min(m.step, kMaxAveragingStep);
        int64_t sum = 0;
        uint32_t count = 0;
        bool first = true;
        while (made < frames && c.frame < end) {
            const int32_t v = first ? source(w, c.frame)
                                    : int32_t((sum * int64_t(kReciprocal[count])) >> 16);
            first = false;
            put(out, v, m, stereo);
            c.previous = v;
            ++made;
            sum = 0;
            count = 0;
            c.fraction += step;
            while (c.fraction >= 0x10000) {
                c.fraction -= 0x10000;
                if (++c.frame >= end) break;
                sum += source(w, c.frame);
                ++count;
            }
            // Past the end the rest of the step is dropped, as at a loop.
            if (c.frame >= end) c.fraction &= 0xFFFF;
        }
    }
    return made;
}

}  // namespace

bool mix_voice(Cursor& c, const Wave& w, const MixParams& m, int32_t* out, uint32_t frames,
               bool stereo) {
    const uint32_t total = w.frames();
    const uint32_t loop_end = m.loop.start + m.loop.length;
    const bool loops = m.looping && m.loop.length > 0 && loop_end <= total;
    while (frames > 0) {
        const bool to_loop_end = loops && c.frame < loop_end;
        const uint32_t end = to_loop_end ? loop_end : total;
        const uint32_t made = run(c, w, m, out, frames, end, stereo);
        frames -= made;
        if (c.frame < end) continue;  // the buffer is full
        if (!to_loop_end) return false;
        c.frame = m.loop.start;
        // A loop that moves nothing would spin here for ever.
        if (made == 0) return false;
    }
    return true;
}

void convert_slots(const int32_t* mix, size_t slots, void* out, bool sixteen_bit) {
    if (sixteen_bit) {
        auto* o = static_cast<int16_t*>(out);
        for (size_t i = 0; i < slots; ++i) o[i] = int16_t(std::clamp(mix[i] >> 11, -32768, 32767));
    } else {
        auto* o = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < slots; ++i) {
            const int32_t v = std::clamp(mix[i] >> 11, -32768, 32767);
            o[i] = uint8_t((uint16_t(v) ^ 0x8000) >> 8);
        }
    }
}

void convert_slots_fast(const int32_t* mix, size_t slots, void* out, bool sixteen_bit) {
    size_t done = 0;
#if defined(__SSE2__)
    if (sixteen_bit) {
        auto* o = static_cast<int16_t*>(out);
        for (; done + 4 <= slots; done += 4) {
            const __m128i v = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mix + done)), 11);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + done), _mm_packs_epi32(v, v));
        }
    } else {
        auto* o = static_cast<uint8_t*>(out);
        const __m128i flip = _mm_set1_epi16(int16_t(0x8000));
        for (; done + 4 <= slots; done += 4) {
            const __m128i v = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mix + done)), 11);
            const __m128i h = _mm_srli_epi16(_mm_xor_si128(_mm_packs_epi32(v, v), flip), 8);
            const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(h, h));
            for (int b = 0; b < 4; ++b) o[done + size_t(b)] = uint8_t(uint32_t(four) >> (8 * b));
        }
    }
#endif
    const size_t unit = sixteen_bit ? 2 : 1;
    convert_slots(mix + done, slots - done, static_cast<uint8_t*>(out) + done * unit, sixteen_bit);
}

}  // namespace svx::dls
