// The software mixer of the waveOut driver: per-sample scale tables, the
// merge of one run of sample data into the 32-bit build buffer, and the
// conversion of the build buffer into the device format.
//
// A fill of one output buffer is:
//     clear(build);
//     for each playing sample: merge_run(...) until the buffer is full or
//                              the sample's data ends (the mixing step);
//     convert(build, output, merged, data, bytes);
//
// Everything here is plain, allocation-free and thread-agnostic: the state
// of a merge lives on the caller's stack, so tests call it directly.
#pragma once

#include <array>
#include <cstdint>

namespace svx::adpcm {
struct State;
}

namespace svx::mixer {

// Sample format bits and flag bits, as the sample record stores them.
inline constexpr uint32_t format_16bit = 1;
inline constexpr uint32_t format_stereo = 2;
inline constexpr uint32_t format_adpcm = 4;
inline constexpr uint32_t flag_signed = 1;
inline constexpr uint32_t flag_right_first = 2;

// Pan table P: P[i] = 2i for i < 63, 128 from 63 on, so that the centre
// pan of 64 gives both channels 128 (unity after the shift by 7).
inline constexpr std::array<int32_t, 128> pan_table = [] {
    std::array<int32_t, 128> p{};
    for (int i = 0; i < 128; ++i) p[i] = i < 63 ? 2 * i : 128;
    return p;
}();

// Scale data of one sample (kept in the sample record). For 16-bit and
// ADPCM data only left[0] and right[0] are used, as factors in 1/128; for
// 8-bit data both are lookup tables from the raw byte to the scaled value
// in the 16-bit range. A mono sample on mono output uses `left` only.
struct Scale {
    int32_t left[256];
    int32_t right[256];
};

// Rebuilds `scale` after a change of volume, pan, type or master volume.
// Volume and pan are clamped to 0-127.
void build_scale(Scale& scale, int32_t volume, int32_t pan, int32_t master_volume,
                 uint32_t format, uint32_t flags, bool stereo_output);

// Operation bits of a merge routine; the mask indexes the routine table.
inline constexpr uint32_t op_stereo_output = 1;
inline constexpr uint32_t op_resample = 2;
inline constexpr uint32_t op_scale = 4;
inline constexpr uint32_t op_stereo_sample = 8;
inline constexpr uint32_t op_convert = 16;      // unsigned data, or 8-bit through the tables
inline constexpr uint32_t op_8bit = 32;
inline constexpr uint32_t op_right_first = 64;
inline constexpr uint32_t op_adpcm = 128;
inline constexpr uint32_t merge_table_size = 144;

// What one run needs from the sample record. `position` is read and then
// replaced by the position reached: copy it back into the record. It may
// pass position + bytes_left by less than one step (the buffer has ended).
struct SampleRun {
    const uint8_t* start = nullptr;  // data of the current buffer
    int32_t position = 0;            // byte offset of the next unplayed data
    int32_t bytes_left = 0;          // bytes to play from position on
    uint32_t format = 0;
    uint32_t flags = 0;
    int32_t playback_rate = 0;
    int32_t volume = 0;
    int32_t pan = 0;
    int32_t master_volume = 0;       // the driver's
    const Scale* scale = nullptr;    // built for the values above; never null
    // ADPCM data: the sample's decoder state, which carries the frames of
    // a code word over from one run to the next (null: the data is skipped),
    // and the block size. The position stays on a word while frames of it
    // are still to be played.
    adpcm::State* adpcm = nullptr;
    int64_t adpcm_block_size = 256;
};

// The device side of the driver. Merging uses rate and channels,
// conversion channels, bytes per sample and signedness.
struct OutputFormat {
    int32_t rate = 22050;
    int32_t channels = 1;           // 2 = stereo, anything else mono
    int32_t bytes_per_sample = 1;   // 2 = 16-bit, anything else 8-bit
    bool signed_output = false;
};

// The build buffer: one int32 accumulator per output sample, interleaved
// left/right for stereo. Only whole int32s inside `bytes` are touched.
struct BuildBuffer {
    int32_t* data = nullptr;
    uint32_t bytes = 0;
};

// Playback rate in 16.16 fixed point per output frame: rate * 65536 /
// output rate, truncated; rates <= 0 count as 1, and a step that does not
// fit 32 bits is held at 0xFFFFFFFF.
uint32_t playback_step(int32_t playback_rate, int32_t output_rate);

// The operation mask of a run. `tolerance` is preference 0: a step within
// it of 65536 plays one source frame per output frame (no op_resample).
// ADPCM data counts as signed and never right-first.
uint32_t operation_mask(const SampleRun& sample, const OutputFormat& output, int32_t tolerance);

// The routine for a mask, or null where none exists (masks that cannot
// occur).
struct MergeState;
using MergeRoutine = void (*)(MergeState&);
MergeRoutine merge_routine(uint32_t mask);

// Merges one run into `build` from byte offset `out_pos` on; returns the
// new output position and updates sample.position. The run stops when the
// build buffer has no room for another output frame (the result is then
// build.bytes) or the source has no whole frame left (a trailing part
// frame or part ADPCM word is skipped). Every run starts half-way between
// two source frames. ADPCM data without a decoder state is skipped, so the
// sample ends silently instead of stalling the mixing step.
uint32_t merge_run(SampleRun& sample, const OutputFormat& output, int32_t tolerance,
                   BuildBuffer build, uint32_t out_pos);

// Sets the whole build buffer to 0.
void clear(BuildBuffer build);

// Conversion routine index, 0-23:
//     1 signed output, 2 stereo output, 4 16-bit output,
//     + 8 x kind: 0 one sample merged (copied), 1 more than one (clamped
//     to -32768..32767 first), 2 none (silence, the build buffer unread).
// 8-bit output is ((v ^ 0x8000) >> 8) & 255 unsigned, (v >> 8) & 255
// signed; 16-bit output is the low 16 bits of v signed, of v ^ 0x8000
// unsigned; little-endian, left before right.
inline constexpr int conversion_count = 24;
int conversion_index(const OutputFormat& output, int32_t merged);

// Converts the build buffer into `dest` in the device format: as many
// whole frames as both buffers hold. `merged` is the number of samples
// mixed into this buffer.
void convert(BuildBuffer build, const OutputFormat& output, int32_t merged, void* dest,
             uint32_t dest_bytes);

}  // namespace svx::mixer
