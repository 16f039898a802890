// The waveOut mixer: scale tables, the routine tables, runs and conversion.
#include "digital/mixer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "digital/mixer_routines.h"

namespace svx::mixer {
namespace {

template <uint32_t M>
constexpr MergeRoutine routine_for() {
    if constexpr (!mask_can_occur(M)) return nullptr;
    else if constexpr ((M & op_adpcm) != 0) return &merge<M, AdpcmReader<M>>;
    else return &merge<M, PcmReader<M>>;
}

template <size_t... I>
constexpr std::array<MergeRoutine, merge_table_size> make_merge_table(std::index_sequence<I...>) {
    return {routine_for<uint32_t(I)>()...};
}

constexpr auto merge_table = make_merge_table(std::make_index_sequence<merge_table_size>{});

using ConvertRoutine = void (*)(const int32_t*, size_t, uint8_t*);

template <size_t... I>
constexpr std::array<ConvertRoutine, conversion_count> make_convert_table(std::index_sequence<I...>) {
    return {&convert_frames<int(I)>...};
}

constexpr auto convert_table = make_convert_table(std::make_index_sequence<conversion_count>{});

bool stereo(const OutputFormat& output) { return output.channels == 2; }

}  // namespace

void build_scale(Scale& scale, int32_t volume, int32_t pan, int32_t master_volume,
                 uint32_t format, uint32_t flags, bool stereo_output) {
    volume = std::clamp(volume, 0, 127);
    pan = std::clamp(pan, 0, 127);
    const int32_t v = int32_t(std::clamp<int64_t>(int64_t(master_volume) * volume / 127, 0, 127));
    const int32_t l = pan_table[127 - pan];
    const int32_t r = pan_table[pan];

    if (format & (format_16bit | format_adpcm)) {
        scale.left[0] = v * l / 127;
        scale.right[0] = v * r / 127;
        return;
    }

    // 8-bit: a table from the raw byte to the scaled value. One more than
    // v so that full volume maps a byte to exactly byte * 256.
    const int32_t g = v + (v != 0 ? 1 : 0);
    const int32_t e = g * 256;
    const int32_t base = -g * 32768;
    const bool is_signed = (flags & flag_signed) != 0;
    auto raw = [&](int32_t i) {
        if (!is_signed) return base + i * e;
        return i < 128 ? i * e : base + (i - 128) * e;
    };
    if (stereo_output || (format & format_stereo)) {
        for (int32_t i = 0; i < 256; ++i) {
            scale.left[i] = (l * (raw(i) >> 7)) >> 7;
            scale.right[i] = (r * (raw(i) >> 7)) >> 7;
        }
    } else {
        // Mono to mono: pan means nothing; right mirrors left.
        for (int32_t i = 0; i < 256; ++i) scale.left[i] = scale.right[i] = raw(i) >> 7;
    }
}

uint32_t playback_step(int32_t playback_rate, int32_t output_rate) {
    const uint64_t rate = playback_rate <= 0 ? 1 : uint64_t(playback_rate);
    const uint64_t out = output_rate <= 0 ? 1 : uint64_t(output_rate);
    const uint64_t step = (rate << 32) / (out << 16);
    return uint32_t(std::min<uint64_t>(step, UINT32_MAX));
}

uint32_t operation_mask(const SampleRun& sample, const OutputFormat& output, int32_t tolerance) {
    const bool stereo_out = stereo(output);
    const bool stereo_in = (sample.format & format_stereo) != 0;
    const bool adpcm = (sample.format & format_adpcm) != 0;
    const bool eight_bit = (sample.format & (format_16bit | format_adpcm)) == 0;
    const bool is_signed = adpcm || (sample.flags & flag_signed) != 0;

    uint32_t mask = 0;
    if (stereo_out) mask |= op_stereo_output;
    if (stereo_in) mask |= op_stereo_sample;
    if (stereo_in && !adpcm && (sample.flags & flag_right_first)) mask |= op_right_first;
    if (eight_bit) mask |= op_8bit;
    if (adpcm) mask |= op_adpcm;

    const bool unity = (!stereo_in || stereo_out) && sample.volume == 127 &&
                       sample.master_volume == 127 && sample.pan == 64;
    if (!unity) mask |= op_scale;
    if (!is_signed || (eight_bit && !unity)) mask |= op_convert;

    const int64_t step = playback_step(sample.playback_rate, output.rate);
    if (std::abs(step - 65536) > int64_t(tolerance)) mask |= op_resample;
    return mask;
}

MergeRoutine merge_routine(uint32_t mask) {
    return mask < merge_table_size ? merge_table[mask] : nullptr;
}

uint32_t merge_run(SampleRun& sample, const OutputFormat& output, int32_t tolerance,
                   BuildBuffer build, uint32_t out_pos) {
    if (out_pos >= build.bytes || sample.bytes_left <= 0 || sample.start == nullptr) return out_pos;

    // Output starts at the next whole frame; a part frame at the end of the
    // buffer is never written, and counts as full so the caller moves on.
    const size_t channels = stereo(output) ? 2 : 1;
    const size_t total = build.bytes / 4;
    const size_t frame_bytes_out = 4 * channels;
    const size_t first = (size_t(out_pos) + frame_bytes_out - 1) / frame_bytes_out * channels;
    if (first >= total || total - first < channels) return build.bytes;
    const size_t room = (total - first) / channels * channels;

    // The source is [start, start + position + bytes_left); a position
    // before the start is not read from.
    const int64_t end = int64_t(sample.position) + sample.bytes_left;
    const int64_t begin = std::max<int64_t>(sample.position, 0);
    const int32_t end_position = int32_t(std::min<int64_t>(end, INT32_MAX));
    if (end <= begin) {
        sample.position = end_position;
        return out_pos;
    }

    const uint32_t mask = operation_mask(sample, output, tolerance);
    const bool adpcm = (mask & op_adpcm) != 0;
    const MergeRoutine routine = adpcm && sample.adpcm == nullptr ? nullptr : merge_routine(mask);
    if (routine == nullptr) {
        sample.position = end_position;
        return out_pos;
    }

    MergeState m;
    m.source = sample.start;
    m.source_pos = size_t(begin);
    m.source_end = size_t(end);
    m.dest = build.data + first;
    m.dest_end = m.dest + room;
    m.left = sample.scale->left;
    m.right = sample.scale->right;
    if (adpcm) {
        // A cache decoded elsewhere (another buffer, another position) is
        // of no use: decoding starts again with a block header.
        if (sample.adpcm->source != sample.start || sample.adpcm->position != m.source_pos)
            adpcm::reset(*sample.adpcm);
        m.adpcm = sample.adpcm;
        m.block_size = sample.adpcm_block_size;
    }
    const uint32_t frame_bytes = source_frame_bytes(mask);
    if (mask & op_resample) {
        const uint32_t step = playback_step(sample.playback_rate, output.rate);
        m.fraction_step = (step & 0xFFFFu) << 16;
        m.whole_step = (step >> 16) * frame_bytes;
        m.whole_step_plus_one = ((step >> 16) + 1) * frame_bytes;
    }
    routine(m);

    // A trailing part frame cannot be played; skip it so the buffer ends.
    // (The ADPCM reader passes a part word over itself.)
    if (!adpcm && m.source_pos < m.source_end && m.source_end - m.source_pos < frame_bytes)
        m.source_pos = m.source_end;
    sample.position = int32_t(std::min<size_t>(m.source_pos, INT32_MAX));

    const size_t written = size_t(m.dest - build.data);
    if (total - written < channels) return build.bytes;
    return uint32_t(written * 4);
}

void clear(BuildBuffer build) {
    if (build.data != nullptr) std::memset(build.data, 0, build.bytes);
}

int conversion_index(const OutputFormat& output, int32_t merged) {
    int index = 0;
    if (output.signed_output) index |= conv_signed;
    if (stereo(output)) index |= conv_stereo;
    if (output.bytes_per_sample == 2) index |= conv_16bit;
    const int kind = merged <= 0 ? conv_kind_silent : merged == 1 ? conv_kind_one : conv_kind_clamped;
    return index + 8 * kind;
}

void convert(BuildBuffer build, const OutputFormat& output, int32_t merged, void* dest,
             uint32_t dest_bytes) {
    if (dest == nullptr || (merged > 0 && build.data == nullptr)) return;
    const size_t channels = stereo(output) ? 2 : 1;
    const size_t bytes_per_sample = output.bytes_per_sample == 2 ? 2 : 1;
    const size_t samples = std::min<size_t>(build.bytes / 4, dest_bytes / bytes_per_sample);
    convert_table[conversion_index(output, merged)](build.data, samples / channels,
                                                    static_cast<uint8_t*>(dest));
}

}  // namespace svx::mixer
