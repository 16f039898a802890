// The waveOut mixer: scale tables, merge runs, routine table and conversion.
// Expected values come from hand figures or from the small reference model
// below, which works per output frame with closed forms (source index from
// the total of the fractional steps, 8-bit values from the byte's value)
// instead of the mixer's tables and carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "digital/mixer.h"

namespace {

using namespace svx::mixer;

constexpr int32_t kTolerance = 655;  // preference 0's default

// ---- reference model -------------------------------------------------------

int32_t ref_pan(int i) { return i < 63 ? 2 * i : 128; }

int32_t ref_gain(int32_t volume, int32_t master) {
    volume = std::clamp(volume, 0, 127);
    return int32_t(std::clamp<int64_t>(int64_t(master) * volume / 127, 0, 127));
}

// Value of an 8-bit byte before the table's shifts: the byte's signal value
// times (gain + 1) * 256.
int32_t ref_raw8(int b, int32_t gain, bool is_signed) {
    const int32_t g = gain == 0 ? 0 : gain + 1;
    const int32_t value = is_signed ? int32_t(int8_t(uint8_t(b))) : b - 128;
    return value * g * 256;
}

int32_t ref_entry8(int b, int32_t gain, bool is_signed, int32_t pan_factor, bool two_tables) {
    const int32_t shifted = ref_raw8(b, gain, is_signed) >> 7;
    return two_tables ? (pan_factor * shifted) >> 7 : shifted;
}

struct Sound {
    std::vector<uint8_t> bytes;
    uint32_t format = 0;
    uint32_t flags = 0;
    int32_t rate = 22050;
    int32_t volume = 127;
    int32_t pan = 64;
    int32_t master = 127;
};

uint32_t frame_bytes(uint32_t format) { return (format & 1 ? 2 : 1) * (format & 2 ? 2 : 1); }

uint64_t ref_step(int32_t rate, int32_t out_rate) {
    return uint64_t(std::max(rate, 1)) * 65536 / uint64_t(out_rate);
}

struct Expected {
    std::vector<int32_t> build;
    uint32_t out_pos;
    int32_t position;
};

// Adds `s` to `build` (frames of `channels`) the way the mixer should.
Expected reference_mix(const Sound& s, int channels, int32_t out_rate, std::vector<int32_t> build) {
    const uint32_t fb = frame_bytes(s.format);
    const uint64_t frames = s.bytes.size() / fb;
    const uint64_t step = ref_step(s.rate, out_rate);
    const bool resample = (step > 65536 ? step - 65536 : 65536 - step) > uint64_t(kTolerance);
    auto source_frame = [&](uint64_t k) -> uint64_t {
        if (!resample) return k;
        return k * (step >> 16) + (((uint64_t(1) << 31) + k * ((step & 0xFFFF) << 16)) >> 32);
    };
    const bool stereo_in = s.format & 2, stereo_out = channels == 2;
    const bool wide = s.format & 1, is_signed = s.flags & 1;
    const bool unity = (!stereo_in || stereo_out) && s.volume == 127 && s.master == 127 && s.pan == 64;
    const int32_t gain = ref_gain(s.volume, s.master);
    const int pan = std::clamp(s.pan, 0, 127);
    const int32_t lf = ref_pan(127 - pan), rf = ref_pan(pan);
    auto channel = [&](uint64_t j, int c) -> int32_t {
        const size_t at = size_t(j * fb) + size_t(c) * (wide ? 2 : 1);
        if (!wide) return s.bytes[at];
        const int32_t word = s.bytes[at] | (s.bytes[at + 1] << 8);
        return is_signed ? int32_t(int16_t(uint16_t(word))) : word - 32768;
    };

    const uint64_t out_frames = build.size() / channels;
    uint64_t k = 0;
    for (; k < out_frames; ++k) {
        const uint64_t j = source_frame(k);
        if (j >= frames) break;
        int32_t a = channel(j, 0), b = stereo_in ? channel(j, 1) : a;
        if (stereo_in && (s.flags & 2)) std::swap(a, b);
        int32_t left, right, mono;
        if (!wide && unity) {
            auto value = [&](int32_t byte) {
                return (is_signed ? int32_t(int8_t(uint8_t(byte))) : byte - 128) * 256;
            };
            left = value(a), right = value(b), mono = left;
        } else if (!wide) {
            const bool two = stereo_in || stereo_out;
            left = ref_entry8(a, gain, is_signed, lf, two);
            right = ref_entry8(b, gain, is_signed, rf, two);
            mono = stereo_in ? left + right : left;
        } else if (unity) {
            left = a, right = b, mono = a;
        } else {
            const int32_t fl = gain * lf / 127, fr = gain * rf / 127;
            left = (a * fl) >> 7, right = (b * fr) >> 7;
            mono = stereo_in ? (a * fl + b * fr) >> 7 : left;
        }
        if (stereo_out) {
            build[2 * k] += left;
            build[2 * k + 1] += right;
        } else {
            build[k] += mono;
        }
    }
    const uint32_t size = uint32_t(s.bytes.size());
    uint32_t position = uint32_t(source_frame(k) * fb);
    if (position < size && size - position < fb) position = size;
    const uint32_t out_pos = k == out_frames ? uint32_t(build.size() * 4) : uint32_t(k * channels * 4);
    return {std::move(build), out_pos, int32_t(position)};
}

// ---- helpers to drive the mixer ---------------------------------------------

struct Run {
    Scale scale;
    SampleRun sample;
};

// A run over the whole of `s`, with its scale built for the output.
std::unique_ptr<Run> make_run(const Sound& s, int channels) {
    auto run = std::make_unique<Run>();
    build_scale(run->scale, s.volume, s.pan, s.master, s.format, s.flags, channels == 2);
    run->sample = {s.bytes.data(), 0, int32_t(s.bytes.size()), s.format, s.flags,
                   s.rate, s.volume, s.pan, s.master, &run->scale};
    return run;
}

OutputFormat output(int channels, int32_t rate = 22050) {
    return {rate, channels, 2, true};
}

std::vector<int32_t> mix_once(const Sound& s, int channels, size_t frames, int32_t out_rate = 22050) {
    std::vector<int32_t> build(frames * channels, 0);
    auto run = make_run(s, channels);
    merge_run(run->sample, output(channels, out_rate), kTolerance,
              {build.data(), uint32_t(build.size() * 4)}, 0);
    return build;
}

std::vector<uint8_t> words(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> bytes;
    for (int32_t v : values) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(uint32_t(v) >> 8));
    }
    return bytes;
}

std::vector<uint8_t> test_bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes = {0x00, 0xFF, 0x80, 0x7F, 0x01, 0x81};
    while (bytes.size() < n) {
        seed = seed * 1664525u + 1013904223u;
        bytes.push_back(uint8_t(seed >> 24));
    }
    bytes.resize(n);
    return bytes;
}

// ---- pan table, step, mask ---------------------------------------------------

TEST(MixerPanTable, DoublesUpTo62ThenHoldsAt128) {
    for (int i = 0; i < 128; ++i) EXPECT_EQ(pan_table[i], ref_pan(i)) << i;
    EXPECT_EQ(pan_table[62], 124);
    EXPECT_EQ(pan_table[63], 128);
}

TEST(MixerStep, RateToStepAndResamplingDecision) {
    struct Case {
        int32_t rate;
        int32_t out_rate;
        uint32_t step;
        bool resampled;
    };
    const Case cases[] = {
        {22050, 22050, 65536, false},
        {22270, 22050, 66189, false},   // 653 above: within 655
        {22280, 22050, 66219, true},    // 683 above
        {21830, 22050, 64882, false},   // 654 below
        {21829, 22050, 64879, true},    // 657 below
        {8080, 8000, 66191, false},     // exactly 655 above
        {8081, 8000, 66199, true},
        {11025, 22050, 32768, true},
        {44100, 22050, 131072, true},
        {48000, 22050, 142663, true},
        {0, 22050, 2, true},            // rate <= 0 counts as 1
        {-7, 22050, 2, true},
        {0x7FFFFFFF, 1, 0xFFFFFFFFu, true},  // held at the largest step
        {44100, 44100, 65536, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " on " + std::to_string(c.out_rate));
        EXPECT_EQ(playback_step(c.rate, c.out_rate), c.step);
        if (c.step != 0xFFFFFFFFu) {
            EXPECT_EQ(c.step, ref_step(c.rate, c.out_rate));
        }
        SampleRun s;
        s.format = 1, s.flags = 1, s.playback_rate = c.rate, s.volume = 127, s.pan = 64, s.master_volume = 127;
        EXPECT_EQ((operation_mask(s, output(1, c.out_rate), kTolerance) & op_resample) != 0, c.resampled);
    }
}

TEST(MixerMask, BitsFromFormatFlagsAndGain) {
    struct Case {
        const char* what;
        uint32_t format, flags;
        int32_t volume, pan, master, rate, channels;
        uint32_t mask;
    };
    const Case cases[] = {
        {"16-bit mono signed, unity, mono out", 1, 1, 127, 64, 127, 22050, 1, 0},
        {"16-bit mono signed, unity, stereo out", 1, 1, 127, 64, 127, 22050, 2, 1},
        {"16-bit mono unsigned", 1, 0, 127, 64, 127, 22050, 1, 16},
        {"16-bit pan 63", 1, 1, 127, 63, 127, 22050, 1, 4},
        {"16-bit master 126", 1, 1, 127, 64, 126, 22050, 1, 4},
        {"16-bit half rate", 1, 1, 127, 64, 127, 11025, 1, 2},
        {"8-bit signed unity", 0, 1, 127, 64, 127, 22050, 1, 32},
        {"8-bit unsigned unity", 0, 0, 127, 64, 127, 22050, 1, 48},
        {"8-bit signed scaled", 0, 1, 100, 64, 127, 22050, 1, 52},
        {"8-bit unsigned scaled", 0, 0, 127, 0, 127, 22050, 2, 53},
        {"stereo sample on mono out at unity", 3, 1, 127, 64, 127, 22050, 1, 12},
        {"8-bit stereo on mono out at unity", 2, 1, 127, 64, 127, 22050, 1, 60},
        {"stereo right first, stereo out", 3, 3, 127, 64, 127, 22050, 2, 73},
        {"right-first flag on mono data", 1, 3, 127, 64, 127, 22050, 2, 1},
        {"everything 8-bit", 2, 2, 90, 10, 127, 30000, 2, 127},
        {"ADPCM mono", 5, 1, 127, 64, 127, 22050, 2, 129},
        {"ADPCM stereo on mono out", 7, 1, 127, 64, 127, 22050, 1, 140},
        {"ADPCM with unsupported flags", 7, 2, 127, 64, 127, 11025, 2, 139},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SampleRun s;
        s.format = c.format, s.flags = c.flags, s.volume = c.volume, s.pan = c.pan;
        s.master_volume = c.master, s.playback_rate = c.rate;
        EXPECT_EQ(operation_mask(s, output(c.channels), kTolerance), c.mask);
    }
}

// The 82 masks that can occur: a stereo sample on mono output is always
// scaled, 64 needs 8, scaled 8-bit always converts; ADPCM (128-143) has
// no 16, 32 or 64.
TEST(MixerTable, RoutinesExactlyWhereMasksCanOccur) {
    auto occurs = [](uint32_t m) {
        const bool stereo_out = m & 1, scaled = m & 4, stereo_in = m & 8, conv = m & 16,
                   eight = m & 32, right_first = m & 64, adpcm = m & 128;
        if (m >= 144) return false;
        if (adpcm && (conv || eight || right_first)) return false;
        if (stereo_in && !stereo_out && !scaled) return false;
        if (right_first && !stereo_in) return false;
        if (eight && scaled && !conv) return false;
        return true;
    };
    int occurring = 0, adpcm_occurring = 0;
    for (uint32_t m = 0; m < 160; ++m) {
        SCOPED_TRACE(m);
        occurring += occurs(m);
        if (m >= 128) adpcm_occurring += occurs(m);
        EXPECT_EQ(merge_routine(m) != nullptr, occurs(m));
    }
    EXPECT_EQ(occurring, 82);
    EXPECT_EQ(adpcm_occurring, 14);
}

// ---- scale tables ------------------------------------------------------------

TEST(MixerScale, TablesAndFactorsMatchTheFormula) {
    struct Case {
        int32_t volume, pan, master;
        uint32_t format, flags;
        bool stereo_out;
    };
    const Case cases[] = {
        {127, 64, 127, 0, 0, true},  {127, 64, 127, 0, 1, true},   {127, 0, 127, 0, 0, true},
        {127, 127, 127, 0, 1, false}, {100, 20, 127, 2, 0, false}, {50, 100, 90, 0, 1, true},
        {1, 64, 127, 0, 0, true},    {0, 64, 127, 0, 0, true},     {127, 64, 127, 0, 0, false},
        {80, 30, 127, 0, 1, false},  {200, -5, 127, 0, 0, true},   {127, 64, 300, 0, 0, true},
        {127, 64, -10, 0, 0, true},  {127, 64, 127, 1, 1, true},   {100, 20, 127, 1, 1, false},
        {64, 127, 100, 5, 1, true},  {127, 200, 127, 3, 1, true},  {127, 63, 127, 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "volume " << c.volume << " pan " << c.pan << " master "
                                          << c.master << " format " << c.format << " flags " << c.flags
                                          << " stereo out " << c.stereo_out);
        Scale scale;
        build_scale(scale, c.volume, c.pan, c.master, c.format, c.flags, c.stereo_out);
        const int32_t gain = ref_gain(c.volume, c.master);
        const int pan = std::clamp(c.pan, 0, 127);
        const int32_t lf = ref_pan(127 - pan), rf = ref_pan(pan);
        if (c.format & 5) {
            EXPECT_EQ(scale.left[0], gain * lf / 127);
            EXPECT_EQ(scale.right[0], gain * rf / 127);
            continue;
        }
        const bool two = c.stereo_out || (c.format & 2);
        for (int b = 0; b < 256; ++b) {
            ASSERT_EQ(scale.left[b], ref_entry8(b, gain, c.flags & 1, lf, two)) << "byte " << b;
            if (two) {
                ASSERT_EQ(scale.right[b], ref_entry8(b, gain, c.flags & 1, rf, two)) << "byte " << b;
            }
        }
    }
}

TEST(MixerScale, HandFiguresAtFullVolume) {
    Scale scale;
    build_scale(scale, 127, 64, 127, 0, 0, true);
    EXPECT_EQ(scale.left[0], -32768);
    EXPECT_EQ(scale.left[128], 0);
    EXPECT_EQ(scale.right[255], 32512);
    build_scale(scale, 127, 64, 127, 0, 1, true);  // signed bytes
    EXPECT_EQ(scale.left[0x7F], 32512);
    EXPECT_EQ(scale.left[0x80], -32768);
    EXPECT_EQ(scale.left[0xFF], -256);
    build_scale(scale, 127, 63, 127, 1, 1, true);  // P[64] = P[63] = 128
    EXPECT_EQ(scale.left[0], 128);
    EXPECT_EQ(scale.right[0], 128);
    build_scale(scale, 127, 0, 127, 1, 1, true);  // hard left
    EXPECT_EQ(scale.left[0], 128);
    EXPECT_EQ(scale.right[0], 0);
}

// ---- merge runs ---------------------------------------------------------------

// Every PCM routine against the reference model: all formats, signedness,
// channel orders, outputs, gains and steps, with the source ending first
// or the build buffer filling first, onto a buffer that already holds sums.
TEST(MixerMerge, AllRoutinesMatchTheReference) {
    struct Gain {
        int32_t volume, pan, master;
    };
    const Gain gains[] = {{127, 64, 127}, {127, 63, 127}, {100, 20, 127}, {127, 64, 90},
                          {0, 64, 127},   {127, 0, 127},  {127, 127, 127}};
    const int32_t rates[] = {22050, 22270, 11025, 22280, 30000, 44100, 7000};
    std::set<uint32_t> masks_seen;
    for (uint32_t format = 0; format < 4; ++format)
        for (uint32_t flags = 0; flags < 4; ++flags)
            for (int channels = 1; channels <= 2; ++channels)
                for (const Gain& g : gains)
                    for (int32_t rate : rates)
                        for (size_t frames : {16u, 48u}) {
                            Sound s;
                            s.bytes = test_bytes(37 * frame_bytes(format) + (format & 1), format * 7 + flags);
                            s.format = format, s.flags = flags, s.rate = rate;
                            s.volume = g.volume, s.pan = g.pan, s.master = g.master;
                            SCOPED_TRACE(::testing::Message()
                                         << "format " << format << " flags " << flags << " channels "
                                         << channels << " volume " << g.volume << " pan " << g.pan
                                         << " master " << g.master << " rate " << rate << " frames " << frames);
                            std::vector<int32_t> build(frames * channels);
                            for (size_t i = 0; i < build.size(); ++i) build[i] = int32_t(i * 37) - 500;
                            const Expected want = reference_mix(s, channels, 22050, build);

                            auto run = make_run(s, channels);
                            masks_seen.insert(operation_mask(run->sample, output(channels), kTolerance));
                            const uint32_t out_pos = merge_run(run->sample, output(channels), kTolerance,
                                                               {build.data(), uint32_t(build.size() * 4)}, 0);
                            ASSERT_EQ(build, want.build);
                            ASSERT_EQ(out_pos, want.out_pos);
                            ASSERT_EQ(run->sample.position, want.position);
                        }
    std::set<uint32_t> pcm_routines;
    for (uint32_t m = 0; m < 128; ++m)
        if (merge_routine(m)) pcm_routines.insert(m);
    EXPECT_EQ(masks_seen, pcm_routines);
}

TEST(MixerMerge, SlightlyOffRateIsNotResampledButFurtherOffIs) {
    Sound s;
    std::vector<int32_t> values;
    for (int i = 0; i < 200; ++i) values.push_back(i * 100 - 10000);
    for (int32_t v : values) {
        s.bytes.push_back(uint8_t(v));
        s.bytes.push_back(uint8_t(uint32_t(v) >> 8));
    }
    s.format = 1, s.flags = 1;

    s.rate = 22270;  // one source frame per output frame
    EXPECT_EQ(mix_once(s, 1, 200), values);

    s.rate = 22280;  // step 66219: a frame is skipped every ~96 output frames, first after 48
    const std::vector<int32_t> got = mix_once(s, 1, 150);
    const uint64_t fraction = uint64_t(66219 - 65536) << 16;
    for (uint64_t k = 0; k < got.size(); ++k) {
        const uint64_t j = k + (((uint64_t(1) << 31) + k * fraction) >> 32);
        ASSERT_EQ(got[k], values[j]) << "output frame " << k;
    }
    EXPECT_NE(got, std::vector<int32_t>(values.begin(), values.begin() + 150));
}

TEST(MixerMerge, HalfRateUsesEachFrameTwiceAfterTheHalfStart) {
    Sound s;
    s.bytes = words({100, 200, 300, 400});
    s.format = 1, s.flags = 1, s.rate = 11025;
    // The fraction starts at one half, so the first carry comes at once.
    EXPECT_EQ(mix_once(s, 1, 10), (std::vector<int32_t>{100, 200, 200, 300, 300, 400, 400, 0, 0, 0}));
    s.bytes = {0x10, 0x20, 0x30};  // 8-bit signed mono: integer step 0, carry every other frame
    s.format = 0;
    EXPECT_EQ(mix_once(s, 2, 6),
              (std::vector<int32_t>{0x1000, 0x1000, 0x2000, 0x2000, 0x2000, 0x2000, 0x3000, 0x3000,
                                    0x3000, 0x3000, 0, 0}));
}

TEST(MixerMerge, EachRunStartsAtHalfAgain) {
    Sound s;
    s.bytes = words({1, 2, 3, 4, 5, 6});
    s.format = 1, s.flags = 1, s.rate = 11025;
    std::vector<int32_t> build(6, 0);
    auto run = make_run(s, 1);
    const OutputFormat out = output(1);
    uint32_t pos = merge_run(run->sample, out, kTolerance, {build.data(), 12}, 0);
    EXPECT_EQ(pos, 12u);
    EXPECT_EQ(run->sample.position, 4);  // two frames on: 1, 2, 2
    run->sample.bytes_left = 12 - run->sample.position;
    pos = merge_run(run->sample, out, kTolerance, {build.data(), 24}, pos);
    EXPECT_EQ(pos, 24u);
    EXPECT_EQ(build, (std::vector<int32_t>{1, 2, 2, 3, 4, 4}));
}

TEST(MixerMerge, FullVolumeAtPan63Or64LeavesValuesUnchanged) {
    Sound wide;
    wide.bytes = words({-32768, -1, 0, 1, 12345, 32767});
    wide.format = 1, wide.flags = 1;
    Sound narrow;
    narrow.bytes = {0x00, 0x01, 0x7F, 0x80, 0x81, 0xFF};
    const std::vector<int32_t> wide_values = {-32768, -1, 0, 1, 12345, 32767};
    const std::vector<int32_t> narrow_values = {-32768, -32512, -256, 0, 256, 32512};
    for (int pan : {63, 64}) {
        SCOPED_TRACE(pan);
        wide.pan = narrow.pan = pan;
        auto mask = [&](const Sound& s) { return operation_mask(make_run(s, 2)->sample, output(2), kTolerance); };
        EXPECT_EQ((mask(wide) & op_scale) != 0, pan == 63);
        EXPECT_EQ((mask(narrow) & op_scale) != 0, pan == 63);
        const std::vector<int32_t> w = mix_once(wide, 2, 6), n = mix_once(narrow, 2, 6);
        for (size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(w[2 * i], wide_values[i]);
            EXPECT_EQ(w[2 * i + 1], wide_values[i]);
            EXPECT_EQ(n[2 * i], narrow_values[i]);
            EXPECT_EQ(n[2 * i + 1], narrow_values[i]);
        }
    }
}

TEST(MixerMerge, UnsignedSilenceAddsNothing) {
    Sound s;
    s.bytes.assign(33, 0x80);
    for (uint32_t format : {0u, 2u})
        for (int channels = 1; channels <= 2; ++channels)
            for (int volume : {0, 1, 64, 127})
                for (int pan : {0, 40, 64, 127}) {
                    s.format = format, s.volume = volume, s.pan = pan;
                    SCOPED_TRACE(::testing::Message() << format << "/" << channels << "/" << volume << "/" << pan);
                    EXPECT_EQ(mix_once(s, channels, 8), std::vector<int32_t>(8 * channels, 0));
                }
}

TEST(MixerMerge, UnsignedByteIsOffsetAndTimes256AtUnity) {
    Sound s;
    for (int b = 0; b < 256; ++b) s.bytes.push_back(uint8_t(b));
    // Unity routine on either output, and the table routine of a mono
    // output at pan 0 (which has no pan).
    for (auto [channels, pan] : {std::pair{1, 64}, std::pair{2, 64}, std::pair{1, 0}}) {
        s.pan = pan;
        SCOPED_TRACE(::testing::Message() << channels << " channels, pan " << pan);
        const std::vector<int32_t> got = mix_once(s, channels, 256);
        for (int b = 0; b < 256; ++b)
            for (int c = 0; c < channels; ++c) ASSERT_EQ(got[b * channels + c], (b - 128) * 256) << b;
    }
}

TEST(MixerMerge, StereoSampleOnMonoOutputIsAlwaysScaledAndSummed) {
    Sound s;
    s.bytes = words({1000, 24, -3000, 7});
    s.format = 3, s.flags = 1;
    auto run = make_run(s, 1);
    EXPECT_NE(operation_mask(run->sample, output(1), kTolerance) & op_scale, 0u);
    // Both factors are 128 at the centre: the two channels add.
    EXPECT_EQ(mix_once(s, 1, 2), (std::vector<int32_t>{1024, -2993}));
    s.pan = 0;  // hard left: P[127] = 128, P[0] = 0
    EXPECT_EQ(mix_once(s, 1, 2), (std::vector<int32_t>{1000, -3000}));
    s.pan = 64, s.volume = 64;  // factors 64 * 128 / 127 = 64; one shift of the sum
    EXPECT_EQ(mix_once(s, 1, 2), (std::vector<int32_t>{(1000 * 64 + 24 * 64) >> 7, (-3000 * 64 + 7 * 64) >> 7}));
}

TEST(MixerMerge, RightChannelFirstDataSwaps) {
    Sound s;
    s.bytes = words({10, 20, 30, 40});
    s.format = 3, s.flags = 1 | 2;
    EXPECT_EQ(mix_once(s, 2, 2), (std::vector<int32_t>{20, 10, 40, 30}));
    s.pan = 0;  // scaled: the stored second value goes to the (full) left side
    EXPECT_EQ(mix_once(s, 2, 2), (std::vector<int32_t>{20, 0, 40, 0}));
    s.bytes = {0x90, 0x70};  // 8-bit unsigned through the tables
    s.format = 2, s.flags = 2, s.pan = 64;
    s.volume = 126;
    EXPECT_EQ(mix_once(s, 2, 1), (std::vector<int32_t>{ref_entry8(0x70, 126, false, 128, true),
                                                        ref_entry8(0x90, 126, false, 128, true)}));
}

TEST(MixerMerge, StartsAtTheGivenPositionsAndRoundsOutputUpToAFrame) {
    Sound s;
    s.bytes = words({1, 2, 3, 4, 5});
    s.format = 1, s.flags = 1;
    std::vector<int32_t> build(8, 0);
    auto run = make_run(s, 2);
    run->sample.position = 4;
    run->sample.bytes_left = 6;
    // Output byte 9 is inside frame 1; merging starts at frame 2.
    const uint32_t pos = merge_run(run->sample, output(2), kTolerance, {build.data(), 32}, 9);
    EXPECT_EQ(build, (std::vector<int32_t>{0, 0, 0, 0, 3, 3, 4, 4}));
    EXPECT_EQ(pos, 32u);
    EXPECT_EQ(run->sample.position, 8);
}

TEST(MixerMerge, PartFrameLeftAtTheEndCountsAsFull) {
    Sound s;
    s.bytes = words({1, 2, 3, 4});
    s.format = 1, s.flags = 1;
    std::vector<int32_t> build(4, 0);  // 13 bytes: one stereo frame and a part
    auto run = make_run(s, 2);
    EXPECT_EQ(merge_run(run->sample, output(2), kTolerance, {build.data(), 13}, 0), 13u);
    EXPECT_EQ(run->sample.position, 2);
    EXPECT_EQ(build, (std::vector<int32_t>{1, 1, 0, 0}));
    EXPECT_EQ(merge_run(run->sample, output(2), kTolerance, {build.data(), 13}, 8), 13u);
    EXPECT_EQ(run->sample.position, 2);
}

TEST(MixerMerge, NegativePositionIsNotReadBeforeTheStart) {
    auto data = std::make_unique<uint8_t[]>(4);  // exact size for the address checker
    data[0] = 0x10, data[1] = 0x20, data[2] = 0x30, data[3] = 0x40;
    Scale scale;
    build_scale(scale, 127, 64, 127, 0, 1, false);
    SampleRun sample{data.get(), -3, 7, 0, 1, 22050, 127, 64, 127, &scale};
    std::vector<int32_t> build(8, 0);
    const uint32_t pos = merge_run(sample, output(1), kTolerance, {build.data(), 32}, 0);
    EXPECT_EQ(pos, 16u);
    EXPECT_EQ(sample.position, 4);
    EXPECT_EQ(build, (std::vector<int32_t>{0x1000, 0x2000, 0x3000, 0x4000, 0, 0, 0, 0}));
}

TEST(MixerMerge, AdpcmWithoutDecoderStateIsSkippedSoTheSampleEnds) {
    std::vector<uint8_t> data(256, 0x77);
    Scale scale;
    build_scale(scale, 127, 64, 127, 5, 1, true);
    SampleRun sample{data.data(), 0, 256, 5, 1, 22050, 127, 64, 127, &scale};
    std::vector<int32_t> build(16, 0);
    EXPECT_EQ(merge_run(sample, output(2), kTolerance, {build.data(), 64}, 8), 8u);
    EXPECT_EQ(sample.position, 256);
    EXPECT_EQ(build, std::vector<int32_t>(16, 0));
}

// Odd source and build sizes and huge steps, driven by a mixing loop of the
// kind the driver runs: the loop always ends, nothing is read past the
// source (exact-size allocations for the address checker) and nothing is
// written past the build size (guard words after it).
TEST(MixerMerge, NeverReadsOrWritesOutsideItsBuffers) {
    constexpr int32_t kGuard = 0x5A5A5A5A;
    const int32_t rates[] = {1, 11025, 22050, 22280, 44100, 1000000, 0x7FFFFFFF};
    for (uint32_t format = 0; format < 4; ++format)
        for (uint32_t flags : {0u, 1u, 3u})
            for (int channels = 1; channels <= 2; ++channels)
                for (int32_t rate : rates)
                    for (uint32_t length = 1; length <= 9; ++length)
                        for (uint32_t build_bytes : {1u, 3u, 4u, 5u, 7u, 8u, 11u, 13u, 30u})
                            for (int32_t volume : {127, 90}) {
                                SCOPED_TRACE(::testing::Message()
                                             << "format " << format << " flags " << flags << " channels "
                                             << channels << " rate " << rate << " length " << length
                                             << " build " << build_bytes << " volume " << volume);
                                auto data = std::make_unique<uint8_t[]>(length);
                                for (uint32_t i = 0; i < length; ++i) data[i] = uint8_t(0xF0 + i);
                                Scale scale;
                                build_scale(scale, volume, 64, 127, format, flags, channels == 2);
                                SampleRun sample{data.get(), 0, 0, format, flags, rate, volume, 64, 127, &scale};
                                std::vector<int32_t> build(build_bytes / 4 + 2, kGuard);
                                std::fill_n(build.begin(), build_bytes / 4, 0);
                                const OutputFormat out = output(channels);
                                uint32_t out_pos = 0;
                                int runs = 0;
                                while (out_pos < build_bytes && sample.position < int32_t(length)) {
                                    ASSERT_LT(++runs, 20);
                                    sample.bytes_left = int32_t(length) - sample.position;
                                    out_pos = merge_run(sample, out, kTolerance, {build.data(), build_bytes}, out_pos);
                                    ASSERT_LE(out_pos, build_bytes);
                                }
                                for (size_t i = build_bytes / 4; i < build.size(); ++i) ASSERT_EQ(build[i], kGuard);
                                const uint64_t step = playback_step(rate, 22050);
                                ASSERT_LE(uint64_t(sample.position), length + ((step >> 16) + 1) * frame_bytes(format));
                            }
}

// ---- conversion -----------------------------------------------------------------

// Device bytes for one accumulator value.
std::vector<uint8_t> ref_device(int32_t v, const OutputFormat& f, int32_t merged) {
    if (merged <= 0) v = 0;
    if (merged > 1) v = std::clamp(v, -32768, 32767);
    if (f.bytes_per_sample == 2) {
        const int32_t w = f.signed_output ? v : v ^ 0x8000;
        return {uint8_t(w & 255), uint8_t((w >> 8) & 255)};
    }
    return {uint8_t(((f.signed_output ? v : v ^ 0x8000) >> 8) & 255)};
}

TEST(MixerConvert, HandFigures) {
    struct Case {
        int32_t value;
        int32_t bytes;
        bool is_signed;
        int32_t merged;
        std::vector<uint8_t> out;
    };
    const Case cases[] = {
        {0, 1, false, 1, {0x80}},           {-32768, 1, false, 1, {0x00}},
        {32767, 1, false, 1, {0xFF}},       {256, 1, false, 1, {0x81}},
        {-1, 1, false, 1, {0x7F}},          {-2, 2, true, 1, {0xFE, 0xFF}},
        {32767, 2, true, 1, {0xFF, 0x7F}},  {0, 2, false, 1, {0x00, 0x80}},
        {65534, 2, true, 1, {0xFE, 0xFF}},  // one sample: no clamp, low 16 bits
        {65534, 2, true, 2, {0xFF, 0x7F}},  // two: clamped
        {-65536, 2, true, 3, {0x00, 0x80}}, {65534, 1, false, 2, {0xFF}},
        {-40000, 1, false, 2, {0x00}},      {1234, 2, true, 0, {0x00, 0x00}},
        {1234, 1, false, 0, {0x80}},        {-256, 1, true, 1, {0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.value << " " << c.bytes << " " << c.is_signed << " " << c.merged);
        int32_t build[1] = {c.value};
        uint8_t out[2] = {0xAA, 0xAA};
        convert({build, 4}, {22050, 1, c.bytes, c.is_signed}, c.merged, out, uint32_t(c.bytes));
        EXPECT_EQ(std::vector<uint8_t>(out, out + c.bytes), c.out);
    }
}

TEST(MixerConvert, TwoFullScaleSamplesClampAndOneDoesNot) {
    Sound s;
    s.bytes = words({32767, -32768, 32767, -32768});
    s.format = 3, s.flags = 1;
    const OutputFormat out{22050, 2, 2, true};
    std::vector<int32_t> build(4);
    clear({build.data(), 16});
    auto first = make_run(s, 2);
    merge_run(first->sample, out, kTolerance, {build.data(), 16}, 0);
    uint8_t device[8];
    convert({build.data(), 16}, out, 1, device, 8);
    EXPECT_EQ(std::vector<uint8_t>(device, device + 8),
              (std::vector<uint8_t>{0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x80}));

    auto second = make_run(s, 2);
    merge_run(second->sample, out, kTolerance, {build.data(), 16}, 0);
    EXPECT_EQ(build, (std::vector<int32_t>{65534, -65536, 65534, -65536}));
    convert({build.data(), 16}, out, 2, device, 8);
    EXPECT_EQ(std::vector<uint8_t>(device, device + 8),
              (std::vector<uint8_t>{0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x80}));
}

// All 24 routines over values around the 16-bit limits, into destinations
// of odd sizes: whole frames only, nothing past them.
TEST(MixerConvert, AllRoutinesMatchTheFormulaAndStayInTheDestination) {
    const std::vector<int32_t> values = {0,     1,      -1,     127,   128,    255,    256,    -256,
                                         32767, -32768, 32768,  -32769, 65535, -65536, 100000, -12345};
    std::set<int> indices;
    for (int channels = 1; channels <= 2; ++channels)
        for (int32_t bytes = 1; bytes <= 2; ++bytes)
            for (bool is_signed : {false, true})
                for (int32_t merged : {0, 1, 2, 5}) {
                    const OutputFormat f{22050, channels, bytes, is_signed};
                    indices.insert(conversion_index(f, merged));
                    for (uint32_t dest_bytes : {uint32_t(values.size() * bytes), 7u, 1u}) {
                        SCOPED_TRACE(::testing::Message() << channels << " ch, " << bytes << " bytes, signed "
                                                          << is_signed << ", merged " << merged << ", dest "
                                                          << dest_bytes);
                        std::vector<int32_t> build = values;
                        auto dest = std::make_unique<uint8_t[]>(dest_bytes);
                        std::fill_n(dest.get(), dest_bytes, 0xAA);
                        convert({build.data(), uint32_t(build.size() * 4)}, f, merged, dest.get(), dest_bytes);
                        const size_t frame = size_t(channels * bytes);
                        const size_t done = dest_bytes / frame * frame;
                        std::vector<uint8_t> want;
                        for (size_t i = 0; want.size() < done; ++i)
                            for (uint8_t b : ref_device(values[i], f, merged)) want.push_back(b);
                        want.resize(dest_bytes, 0xAA);
                        EXPECT_EQ(std::vector<uint8_t>(dest.get(), dest.get() + dest_bytes), want);
                    }
                }
    EXPECT_EQ(indices.size(), size_t(conversion_count));
    EXPECT_EQ(*indices.begin(), 0);
    EXPECT_EQ(*indices.rbegin(), conversion_count - 1);
}

TEST(MixerClear, ZeroesTheWholeBuffer) {
    std::vector<int32_t> build = {5, -6, 7, 8, 9};
    clear({build.data(), 16});
    EXPECT_EQ(build, (std::vector<int32_t>{0, 0, 0, 0, 9}));
}

}  // namespace
