// IMA ADPCM playback: the mixer's ADPCM routines give exactly what the same
// routines give for the decoded PCM, the decoder starts afresh at position
// changes, loop restarts and buffer switches, and an ADPCM WAV played
// through the waveOut stand-in's WAV writer is its decoded sound.
#include <cmath>
#include <string>
#include <vector>

#include "digital/adpcm.h"
#include "digital/mixer.h"
#include "fake_driver.h"
#include "win32/kernel.h"

namespace {

using namespace svx::mixer;
using testing_support::Bytes;
using testing_support::get16;
using testing_support::get32;
using testing_support::put16;
using testing_support::put32;
using testing_support::put_text;

constexpr int32_t kTolerance = 655;

// The block data of a sound compressed by SVX_compress_ADPCM, and the
// block size. The sound is a chirp, a little different per channel.
struct Compressed {
    Bytes data;
    uint32_t block = 0;
};

Compressed compress(size_t frames, int channels, uint32_t rate) {
    Bytes pcm;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            put16(
                pcm,
                uint16_t(int16_t(std::lround(20000 * std::sin(0.0004 * double(i * i) / (c + 1) + c)))));
    const SoundFileInfo info{1,  pcm.data(),         uint32_t(pcm.size()), rate,
                             16, uint32_t(channels), uint32_t(frames),     0};
    void* image = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(SVX_compress_ADPCM(&info, &image, &size), 1);
    if (!image) return {};
    const auto* p = static_cast<const uint8_t*>(image);
    Compressed out{Bytes(p + 60, p + size), get16(p + 32)};
    SVX_mem_free_lock(image);
    return out;
}

// Every frame the blocks hold, padding included: what playback plays.
std::vector<int16_t> decoded(const Bytes& data, uint32_t block, int channels) {
    std::vector<int16_t> out(data.size() * 2 + 16);
    out.resize(svx::adpcm::decode_data(data.data(), data.size(), block, channels, out.data(),
                                       out.size() / size_t(channels)) *
               size_t(channels));
    return out;
}

Bytes bytes_of(const std::vector<int16_t>& values) {
    Bytes b;
    for (int16_t v : values) put16(b, uint16_t(v));
    return b;
}

// ---- the merge routines -------------------------------------------------------

struct MergeCase {
    const char* name;
    int sample_channels;
    int output_channels;
    int32_t volume, pan, rate;
};

// Mixes the whole of `data` the way the mixing step does, `frames` output
// frames per build buffer (so runs stop inside code words), and returns
// all build buffers in a row.
std::vector<int32_t> mix_all(const Bytes& data, uint32_t format, const MergeCase& c,
                             svx::adpcm::State* state, uint32_t block, uint32_t frames) {
    Scale scale;
    build_scale(scale, c.volume, c.pan, 127, format, SVX_FLAG_SIGNED, c.output_channels == 2);
    const OutputFormat out{22050, c.output_channels, 2, true};
    SampleRun run{data.data(), 0,     0,   format, SVX_FLAG_SIGNED, c.rate,
                  c.volume,    c.pan, 127, &scale, state,           block};
    std::vector<int32_t> all;
    for (int buffers = 0; run.position < int32_t(data.size()); ++buffers) {
        if (buffers > 100000) {
            ADD_FAILURE() << "the mixing does not end";
            break;
        }
        std::vector<int32_t> build(frames * size_t(c.output_channels), 0);
        const BuildBuffer target{build.data(), uint32_t(build.size() * 4)};
        uint32_t pos = 0;
        while (pos < target.bytes && run.position < int32_t(data.size())) {
            run.bytes_left = int32_t(data.size()) - run.position;
            pos = merge_run(run, out, kTolerance, target, pos);
        }
        all.insert(all.end(), build.begin(), build.end());
    }
    return all;
}

class AdpcmMerge : public testing_support::DigitalLibrary,
                   public ::testing::WithParamInterface<MergeCase> {};

TEST_P(AdpcmMerge, MixesLikeItsDecodedPcm) {
    const MergeCase& c = GetParam();
    const Compressed adpcm = compress(3000, c.sample_channels, 22050);
    const Bytes pcm = bytes_of(decoded(adpcm.data, adpcm.block, c.sample_channels));
    const uint32_t stereo = c.sample_channels == 2 ? SVX_FORMAT_STEREO : 0;
    const uint32_t adpcm_format = SVX_FORMAT_ADPCM | SVX_FORMAT_16BIT | stereo;
    const uint32_t pcm_format = SVX_FORMAT_16BIT | stereo;
    {
        // The case picks the routine it means to.
        const SampleRun probe{nullptr, 0, 0, adpcm_format, 1, c.rate, c.volume, c.pan, 127, nullptr};
        const uint32_t mask = operation_mask(probe, {22050, c.output_channels, 2, true}, kTolerance);
        EXPECT_EQ(mask & (op_adpcm | op_stereo_sample | op_stereo_output),
                  op_adpcm | (stereo ? op_stereo_sample : 0) |
                      (c.output_channels == 2 ? op_stereo_output : 0));
        EXPECT_EQ((mask & op_scale) != 0,
                  c.volume != 127 || c.pan != 64 || (stereo && c.output_channels == 1));
        EXPECT_EQ((mask & op_resample) != 0, c.rate != 22050);
        EXPECT_NE(merge_routine(mask), nullptr);
    }
    for (uint32_t frames : {37u, 256u, 1031u}) {
        SCOPED_TRACE(frames);
        svx::adpcm::State state;
        const std::vector<int32_t> ours =
            mix_all(adpcm.data, adpcm_format, c, &state, adpcm.block, frames);
        const std::vector<int32_t> expected = mix_all(pcm, pcm_format, c, nullptr, 0, frames);
        ASSERT_EQ(ours.size(), expected.size());
        EXPECT_EQ(ours, expected);
        EXPECT_NE(std::count(ours.begin(), ours.end(), 0), long(ours.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Routines, AdpcmMerge,
    ::testing::Values(MergeCase{"MonoOnMono", 1, 1, 127, 64, 22050},
                      MergeCase{"MonoOnStereo", 1, 2, 127, 64, 22050},
                      MergeCase{"StereoOnStereo", 2, 2, 127, 64, 22050},
                      MergeCase{"StereoOnMono", 2, 1, 127, 64, 22050},
                      MergeCase{"MonoScaledOnMono", 1, 1, 90, 64, 22050},
                      MergeCase{"MonoScaledOnStereo", 1, 2, 127, 20, 22050},
                      MergeCase{"StereoScaledOnStereo", 2, 2, 100, 100, 22050},
                      MergeCase{"MonoResampledSlowerOnMono", 1, 1, 127, 64, 11025},
                      MergeCase{"MonoResampledFasterOnStereo", 1, 2, 127, 64, 30000},
                      MergeCase{"StereoResampledOnStereo", 2, 2, 127, 64, 16000},
                      MergeCase{"StereoResampledScaledOnMono", 2, 1, 80, 30, 44100},
                      MergeCase{"MonoResampledScaledOnStereo", 1, 2, 60, 90, 8000},
                      MergeCase{"StereoResampledFarFasterOnStereo", 2, 2, 127, 64, 200000}),
    [](const auto& info) { return info.param.name; });

// Data ending anywhere, blocks of any size, a loop end inside a word: the
// merge ends, reads nothing outside the data (exact-size copies for the
// address checker) and writes nothing past the build buffer.
TEST(AdpcmMergeEdges, NeverReadsOrWritesOutsideItsBuffers) {
    constexpr int32_t kGuard = 0x5A5A5A5A;
    for (uint32_t format : {5u, 7u})
        for (int channels : {1, 2})
            for (int32_t rate : {1, 22050, 30000, 0x7FFFFFFF})
                for (int64_t block : {0, 5, 8, 36, 256})
                    for (uint32_t length : {1u, 3u, 4u, 7u, 8u, 13u, 40u, 77u})
                        for (uint32_t build_bytes : {4u, 7u, 8u, 36u, 100u}) {
                            SCOPED_TRACE(::testing::Message()
                                         << format << " " << channels << " " << rate << " " << block
                                         << " " << length << " " << build_bytes);
                            auto data = std::make_unique<uint8_t[]>(length);
                            for (uint32_t i = 0; i < length; ++i) data[i] = uint8_t(0x97 * i + 3);
                            Scale scale;
                            build_scale(scale, 100, 64, 127, format, 1, channels == 2);
                            svx::adpcm::State state;
                            SampleRun run{data.get(), 0,  0,   format, 1,      rate,
                                          100,        64, 127, &scale, &state, block};
                            std::vector<int32_t> build(build_bytes / 4 + 2, kGuard);
                            std::fill_n(build.begin(), build_bytes / 4, 0);
                            const OutputFormat out{22050, channels, 2, true};
                            uint32_t pos = 0;
                            int runs = 0;
                            while (pos < build_bytes && run.position < int32_t(length)) {
                                ASSERT_LT(++runs, 100);
                                run.bytes_left = int32_t(length) - run.position;
                                pos = merge_run(run, out, kTolerance, {build.data(), build_bytes}, pos);
                            }
                            EXPECT_EQ(build[build_bytes / 4], kGuard);
                            EXPECT_EQ(build[build_bytes / 4 + 1], kGuard);
                        }
}

// ---- the mixing step: resets of the decoder --------------------------------------

class AdpcmSamples : public testing_support::FakeDriver {
protected:
    void SetUp() override {
        FakeDriver::SetUp();
        configure(22050, 1, 2);
        adpcm_ = compress(1500, 1, 11025);  // 256-byte blocks of 505 frames
        ASSERT_EQ(adpcm_.block, 256u);
        decoded_ = decoded(adpcm_.data, 256, 1);
    }
    HSAMPLE adpcm_sample() {
        HSAMPLE s = allocate();
        SVX_set_sample_address(s, adpcm_.data.data(), uint32_t(adpcm_.data.size()));
        SVX_set_sample_type(s, SVX_FORMAT_ADPCM | SVX_FORMAT_16BIT, SVX_FLAG_SIGNED);
        SVX_set_sample_adpcm_block_size(s, 256);
        SVX_set_sample_playback_rate(s, 22050);
        SVX_set_sample_pan(s, 64);
        return s;
    }
    // Decoded frames [from, to).
    std::vector<int32_t> frames(size_t from, size_t to) const {
        return std::vector<int32_t>(decoded_.begin() + long(from), decoded_.begin() + long(to));
    }
    static void append(std::vector<int32_t>& a, const std::vector<int32_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
    }

    Compressed adpcm_;
    std::vector<int16_t> decoded_;
};

TEST_F(AdpcmSamples, PlaysEveryDecodedFrameThenEnds) {
    HSAMPLE s = adpcm_sample();
    SVX_start_sample(s);
    std::vector<int32_t> out = mix_to_end(s, 99);
    ASSERT_GE(out.size(), decoded_.size());
    EXPECT_EQ(frames(0, decoded_.size()),
              std::vector<int32_t>(out.begin(), out.begin() + long(decoded_.size())));
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
}

TEST_F(AdpcmSamples, APositionChangeStartsDecodingAtItsBlock) {
    HSAMPLE s = adpcm_sample();
    SVX_start_sample(s);
    const std::vector<int32_t> first = mix(s, 100);  // stops inside a word
    EXPECT_EQ(first, frames(0, 100));
    // 300 rounds to the block at 256: its header comes first.
    SVX_set_sample_position(s, 300);
    EXPECT_EQ(SVX_sample_position(s), 256u);
    EXPECT_EQ(mix(s, 700), frames(505, 1205));
}

TEST_F(AdpcmSamples, EveryLoopRestartStartsWithABlockHeader) {
    HSAMPLE s = adpcm_sample();
    // The loop end lies inside the 6th word of the second block: the block
    // plays its header and 5 words, then the loop starts again at its start.
    SVX_set_sample_loop_block(s, 256, 256 + 4 + 5 * 4 + 2);
    SVX_set_sample_loop_count(s, 3);
    SVX_start_sample(s);
    const std::vector<int32_t> out = mix_to_end(s, 64);
    std::vector<int32_t> expected = frames(0, 505 + 41);
    append(expected, frames(505, 505 + 41));
    append(expected, frames(505, decoded_.size()));
    ASSERT_GE(out.size(), expected.size());
    EXPECT_EQ(std::vector<int32_t>(out.begin(), out.begin() + long(expected.size())), expected);
}

TEST_F(AdpcmSamples, DoubleBuffersDecodeEachBufferFromItsStart) {
    HSAMPLE s = adpcm_sample();
    const Bytes first(adpcm_.data.begin(),
                      adpcm_.data.begin() + 256 + 4 + 4 * 10 + 1);  // ends in a word
    const Bytes second(adpcm_.data.begin() + 256, adpcm_.data.end());
    SVX_load_sample_buffer(s, 0, first.data(), uint32_t(first.size()));
    SVX_load_sample_buffer(s, 1, second.data(), uint32_t(second.size()));
    std::vector<int32_t> out = mix(s, 505 + 81 + 700);
    std::vector<int32_t> expected = frames(0, 505 + 81);
    append(expected, frames(505, 505 + 700));
    EXPECT_EQ(out, expected);
}

// ---- whole playback through the waveOut stand-in ----------------------------------

constexpr uint32_t kWaitMs = 20000;

class AdpcmCapture : public testing_support::DigitalLibrary {
protected:
    void SetUp() override {
        DigitalLibrary::SetUp();
        capture_ = drive_.path() / "capture.wav";
        setenv("WIN32_AUDIO", ("wav:" + capture_.string()).c_str(), 1);
    }
    std::vector<int32_t> captured(HDIGDRIVER driver) {
        const uint32_t start = SVX_ms_count();
        while (svx::digital::driver_of(driver)->playing.load() != 0 && SVX_ms_count() - start < kWaitMs)
            Sleep(5);
        SVX_waveOutClose(driver);
        const Bytes data = testing_support::wav_data(testing_support::read_bytes(capture_));
        std::vector<int32_t> values;
        for (size_t i = 0; i + 1 < data.size(); i += 2) values.push_back(int16_t(get16(&data[i])));
        return sound_of(values);
    }
    // From the first non-zero value to the last.
    static std::vector<int32_t> sound_of(const std::vector<int32_t>& values) {
        auto first = std::find_if(values.begin(), values.end(), [](int32_t v) { return v != 0; });
        auto last = std::find_if(values.rbegin(), values.rend(), [](int32_t v) { return v != 0; });
        if (first == values.end()) return {};
        return std::vector<int32_t>(first, last.base());
    }
    std::filesystem::path capture_;
};

struct CaptureCase {
    const char* name;
    int file_channels, output_channels;
};

class AdpcmCaptureCases : public AdpcmCapture, public ::testing::WithParamInterface<CaptureCase> {};

// A file sox encodes, played as the menu plays an effect: at unity and the
// file's own rate the device gets exactly the decoded values.
TEST_P(AdpcmCaptureCases, PlaysItsDecodedSound) {
    ASSERT_TRUE(testing_support::have_tool("sox"));
    const CaptureCase& c = GetParam();
    const auto wav_path = drive_.path() / "ima.wav";
    ASSERT_TRUE(testing_support::run("sox -n -r 22050 -c " + std::to_string(c.file_channels) +
                                     " -e ima-adpcm '" + wav_path.string() +
                                     "' synth 0.4 sine 200-3000 sine 500 vol 0.8"));
    const void* wav = image(testing_support::read_bytes(wav_path));
    SoundFileInfo info{};
    ASSERT_EQ(SVX_WAV_info(wav, &info), 1);
    ASSERT_EQ(info.format_tag, 17u);
    const auto* data = static_cast<const uint8_t*>(info.data);
    const std::vector<int16_t> values =
        decoded(Bytes(data, data + info.data_length), info.block_size, c.file_channels);

    HDIGDRIVER driver = open(22050, uint16_t(c.output_channels), 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = SVX_allocate_sample_handle(driver);
    ASSERT_EQ(SVX_set_sample_file(s, wav, 0), 1) << SVX_last_error();
    SVX_set_sample_volume(s, 127);
    SVX_set_sample_pan(s, 64);
    SVX_start_sample(s);

    std::vector<int32_t> expected;
    for (size_t f = 0; f < values.size() / size_t(c.file_channels); ++f) {
        const int32_t l = values[f * size_t(c.file_channels)];
        const int32_t r = values[f * size_t(c.file_channels) + size_t(c.file_channels - 1)];
        if (c.output_channels == 2) {
            expected.push_back(l);
            expected.push_back(r);
        } else {
            expected.push_back(l);  // mono from mono: unchanged
        }
    }
    EXPECT_GT(expected.size(), 8000u);
    EXPECT_EQ(captured(driver), sound_of(expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, AdpcmCaptureCases,
                         ::testing::Values(CaptureCase{"MonoOnMono", 1, 1},
                                           CaptureCase{"MonoOnStereo", 1, 2},
                                           CaptureCase{"StereoOnStereo", 2, 2}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
