// Whole playback through the waveOut stand-in's WAV writer: what the device
// was given is compared with the output worked out here from the input
// data. At unity gain an unsigned byte b becomes (b - 128) * 256, a 16-bit
// value stays, 8-bit output is the high byte of the value + 32768, and
// silence is 0 (16-bit output) or 0x80 (8-bit output).
#include <algorithm>
#include <string>
#include <vector>

#include "digital/driver.h"
#include "digital_support.h"
#include "thread_checker.h"
#include "win32/kernel.h"

namespace {

using testing_support::Bytes;
using testing_support::get16;
using testing_support::put16;

using testing_support::wait_for;

int32_t from_unsigned8(uint8_t b) { return (int32_t(b) - 128) * 256; }

// 8-bit data that is never silence.
Bytes loud8(size_t count, int seed) {
    Bytes data(count);
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = uint8_t((i * 7 + size_t(seed) * 31) % 256);
        data[i] = b == 0x80 ? 0x81 : b;
    }
    return data;
}

class Playback : public testing_support::DigitalLibrary {
protected:
    void SetUp() override {
        DigitalLibrary::SetUp();
        capture_ = drive_.path() / "capture.wav";
        setenv("WIN32_AUDIO", ("wav:" + capture_.string()).c_str(), 1);
    }

    // Waits for the output to fall silent and stop, closes the driver, and
    // returns the device's values: signed 16-bit ones, or 8-bit bytes.
    std::vector<int32_t> finish(HDIGDRIVER driver, int bits) {
        EXPECT_TRUE(wait_for([&] { return svx::digital::driver_of(driver)->playing.load() == 0; }));
        SVX_waveOutClose(driver);
        const Bytes data = testing_support::wav_data(testing_support::read_bytes(capture_));
        std::vector<int32_t> values;
        if (bits == 8) {
            values.assign(data.begin(), data.end());
        } else {
            for (size_t i = 0; i + 1 < data.size(); i += 2) values.push_back(int16_t(get16(&data[i])));
        }
        return values;
    }

    // The captured values from the first non-silent one, trailing silence
    // dropped.
    static std::vector<int32_t> sound_of(const std::vector<int32_t>& values, int32_t silence) {
        auto first = std::find_if(values.begin(), values.end(), [&](int32_t v) { return v != silence; });
        auto last = std::find_if(values.rbegin(), values.rend(), [&](int32_t v) { return v != silence; });
        if (first == values.end()) return {};
        return std::vector<int32_t>(first, last.base());
    }

    const void* sox_wav(const Bytes& raw, const std::string& raw_format) {
        const auto in = drive_.path() / "in.raw";
        const auto out = drive_.path() / "in.wav";
        testing_support::write_bytes(in, raw);
        EXPECT_TRUE(testing_support::run("sox -t raw " + raw_format + " '" + in.string() + "' '" +
                                         out.string() + "'"));
        return image(testing_support::read_bytes(out));
    }

    // As the menu plays an effect: a file image at volume 127, pan 64, once.
    HSAMPLE play_file(HDIGDRIVER driver, const void* wav) {
        HSAMPLE s = SVX_allocate_sample_handle(driver);
        EXPECT_NE(s, nullptr);
        SVX_init_sample(s);
        EXPECT_EQ(SVX_set_sample_file(s, wav, 0), 1) << SVX_last_error();
        SVX_set_sample_volume(s, 127);
        SVX_set_sample_pan(s, 64);
        SVX_set_sample_loop_count(s, 1);
        SVX_start_sample(s);
        return s;
    }

    std::filesystem::path capture_;
};

struct WavCase {
    const char* name;
    int sample_bits;
    uint16_t output_channels, output_bits;
};

class SoxWav : public Playback, public ::testing::WithParamInterface<WavCase> {};

TEST_P(SoxWav, PlaysExactlyItsData) {
    ASSERT_TRUE(testing_support::have_tool("sox"));
    const WavCase& c = GetParam();
    Bytes raw;
    std::vector<int32_t> values;  // per sample frame, before the output format
    if (c.sample_bits == 16) {
        for (int i = 0; i < 6000; ++i) {
            const int16_t v = int16_t(((i * 997) % 60000) - 30000);
            put16(raw, uint16_t(v == 0 ? 1 : v));
            values.push_back(v == 0 ? 1 : v);
        }
    } else {
        raw = loud8(6000, 1);
        for (uint8_t b : raw) values.push_back(from_unsigned8(b));
    }
    const void* wav = sox_wav(raw, c.sample_bits == 16 ? "-r 22050 -e signed -b 16 -c 1"
                                                       : "-r 22050 -e unsigned -b 8 -c 1");
    HDIGDRIVER driver = open(22050, c.output_channels, c.output_bits);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = play_file(driver, wav);
    ASSERT_TRUE(wait_for([&] { return SVX_sample_status(s) == SVX_DONE; }));

    std::vector<int32_t> expected;
    for (int32_t v : values) {
        const int32_t device = c.output_bits == 8 ? ((v ^ 0x8000) >> 8) & 255 : v;
        for (int ch = 0; ch < c.output_channels; ++ch) expected.push_back(device);
    }
    const int32_t silence = c.output_bits == 8 ? 0x80 : 0;
    EXPECT_EQ(sound_of(finish(driver, c.output_bits), silence), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SoxWav,
                         ::testing::Values(WavCase{"Sixteen_On16Mono", 16, 1, 16},
                                           WavCase{"Eight_On16Stereo", 8, 2, 16},
                                           WavCase{"Sixteen_On8Mono", 16, 1, 8}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Playback, OverlappingSamplesSumWithClipping) {
    HDIGDRIVER driver = open(22050, 1, 16);
    ASSERT_NE(driver, nullptr);
    // A silent loop keeps output running, so that both samples can be
    // started between two buffers.
    static const Bytes quiet(2000, 0x80);
    HSAMPLE keep = SVX_allocate_sample_handle(driver);
    SVX_set_sample_address(keep, quiet.data(), uint32_t(quiet.size()));
    SVX_set_sample_playback_rate(keep, 22050);
    SVX_set_sample_loop_count(keep, 0);
    SVX_start_sample(keep);

    std::vector<int16_t> a, b;
    for (int i = 0; i < 4000; ++i) {
        a.push_back(int16_t(i % 2 ? 30000 - i : -30000 + i));
        b.push_back(int16_t(i % 3 ? 9000 : -9000));
    }
    b.resize(3000);
    HSAMPLE sa = SVX_allocate_sample_handle(driver);
    HSAMPLE sb = SVX_allocate_sample_handle(driver);
    for (auto [s, data] : {std::pair{sa, &a}, std::pair{sb, &b}}) {
        SVX_set_sample_address(s, data->data(), uint32_t(data->size() * 2));
        SVX_set_sample_type(s, SVX_FORMAT_16BIT, SVX_FLAG_SIGNED);
        SVX_set_sample_playback_rate(s, 22050);
        SVX_set_sample_pan(s, 64);
    }
    SVX_lock();  // no buffer is mixed between the two starts
    SVX_start_sample(sa);
    SVX_start_sample(sb);
    SVX_unlock();
    ASSERT_TRUE(wait_for([&] { return SVX_sample_status(sa) == SVX_DONE; }));
    SVX_end_sample(keep);

    std::vector<int32_t> expected;
    for (size_t i = 0; i < a.size(); ++i) {
        const int32_t sum = a[i] + (i < b.size() ? b[i] : 0);
        expected.push_back(std::clamp(sum, -32768, 32767));
    }
    ASSERT_GT(std::count(expected.begin(), expected.end(), 32767), 100);
    ASSERT_GT(std::count(expected.begin(), expected.end(), -32768), 100);
    EXPECT_EQ(sound_of(finish(driver, 16), 0), expected);
}

TEST_F(Playback, OneStereoSampleOnMonoOutputIsClampedNotWrapped) {
    HDIGDRIVER driver = open(22050, 1, 16);
    ASSERT_NE(driver, nullptr);
    // Both channels loud and alike: at the centre their sum is twice full
    // scale, which wraps to the opposite sign unless it is clamped.
    std::vector<int16_t> frames;
    for (int i = 0; i < 3000; ++i) {
        const int16_t v = int16_t(i % 2 ? 30000 : -30000 + i);
        frames.push_back(v);
        frames.push_back(v);
    }
    HSAMPLE s = SVX_allocate_sample_handle(driver);
    SVX_set_sample_address(s, frames.data(), uint32_t(frames.size() * 2));
    SVX_set_sample_type(s, SVX_FORMAT_16BIT | SVX_FORMAT_STEREO, SVX_FLAG_SIGNED);
    SVX_set_sample_playback_rate(s, 22050);
    SVX_set_sample_pan(s, 64);
    SVX_start_sample(s);
    ASSERT_TRUE(wait_for([&] { return SVX_sample_status(s) == SVX_DONE; }));

    std::vector<int32_t> expected;
    for (size_t i = 0; i < frames.size(); i += 2)
        expected.push_back(std::clamp(int32_t(frames[i]) + frames[i + 1], -32768, 32767));
    EXPECT_EQ(sound_of(finish(driver, 16), 0), expected);
}

TEST_F(Playback, LoopBlockWithLoopCountZeroRepeats) {
    HDIGDRIVER driver = open(22050, 1, 16);
    ASSERT_NE(driver, nullptr);
    const Bytes data = loud8(300, 2);
    HSAMPLE s = SVX_allocate_sample_handle(driver);
    SVX_set_sample_address(s, data.data(), uint32_t(data.size()));
    SVX_set_sample_playback_rate(s, 22050);
    SVX_set_sample_loop_block(s, 100, 200);
    SVX_set_sample_loop_count(s, 0);
    SVX_start_sample(s);
    Sleep(400);  // thousands of loops
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    SVX_end_sample(s);

    const std::vector<int32_t> sound = sound_of(finish(driver, 16), 0);
    ASSERT_GT(sound.size(), 200u + 20 * 100);
    for (size_t k = 0; k < sound.size(); ++k) {
        const size_t index = k < 200 ? k : 100 + (k - 200) % 100;
        ASSERT_EQ(sound[k], from_unsigned8(data[index])) << k;
    }
}

TEST_F(Playback, ADoubleBufferedSampleNotFedStarvesSilentlyAndGoesOnWithTheNextLoad) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    HDIGDRIVER driver = open(22050, 1, 16);
    ASSERT_NE(driver, nullptr);
    const Bytes first = loud8(3000, 3), second = loud8(2000, 4);
    HSAMPLE s = SVX_allocate_sample_handle(driver);
    SVX_set_sample_playback_rate(s, 22050);
    ASSERT_EQ(SVX_sample_buffer_ready(s), 0);
    SVX_load_sample_buffer(s, 0, first.data(), uint32_t(first.size()));
    ASSERT_EQ(SVX_sample_buffer_ready(s), 1);  // not loaded in time

    ASSERT_TRUE(wait_for([&] { return SVX_sample_buffer_info(s, nullptr, nullptr, nullptr, nullptr) == 1; }));
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    Sleep(300);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    SVX_load_sample_buffer(s, 1, second.data(), uint32_t(second.size()));
    ASSERT_TRUE(wait_for([&] {
        uint32_t position = 0;
        SVX_sample_buffer_info(s, nullptr, nullptr, &position, nullptr);
        return position >= second.size();
    }));
    SVX_end_sample(s);

    const std::vector<int32_t> sound = sound_of(finish(driver, 16), 0);
    ASSERT_GT(sound.size(), first.size() + second.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(sound[i], from_unsigned8(first[i])) << i;
    const size_t gap = sound.size() - first.size() - second.size();
    EXPECT_GT(gap, 22050u / 10);  // the 300 ms of starving, give or take
    for (size_t i = first.size(); i < first.size() + gap; ++i) ASSERT_EQ(sound[i], 0) << i;
    for (size_t i = 0; i < second.size(); ++i)
        ASSERT_EQ(sound[first.size() + gap + i], from_unsigned8(second[i])) << i;
}

TEST_F(Playback, AnAllocatedFileSampleReleasesItselfAtTheEnd) {
    HDIGDRIVER driver = open(22050, 1, 16);
    ASSERT_NE(driver, nullptr);
    Bytes wav;
    testing_support::put_text(wav, "RIFF");
    testing_support::put32(wav, 36 + 2000);
    testing_support::put_text(wav, "WAVEfmt ");
    testing_support::put32(wav, 16);
    const Bytes fmt = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x22, 0x56, 0, 0, 1, 0, 8, 0};
    wav.insert(wav.end(), fmt.begin(), fmt.end());
    testing_support::put_text(wav, "data");
    testing_support::put32(wav, 2000);
    const Bytes data = loud8(2000, 5);
    wav.insert(wav.end(), data.begin(), data.end());

    HSAMPLE s = SVX_allocate_file_sample(driver, image(wav), -1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    SVX_start_sample(s);
    ASSERT_TRUE(wait_for([&] { return SVX_sample_status(s) == SVX_FREE; }));
    std::vector<int32_t> expected;
    for (uint8_t b : data) expected.push_back(from_unsigned8(b));
    EXPECT_EQ(sound_of(finish(driver, 16), 0), expected);
}

// Released and reacquired while playing, on waveOut and on DirectSound:
// the capture keeps what was heard before, and the sample goes on after.
TEST_F(Playback, ReleaseAndReacquireKeepWhatWasHeardInOneCapture) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    for (int waveout : {1, 0}) {
        SCOPED_TRACE(waveout ? "waveOut" : "DirectSound");
        const auto capture = drive_.path() / (waveout ? "waveout.wav" : "dsound.wav");
        setenv("WIN32_AUDIO", ("wav:" + capture.string()).c_str(), 1);
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, waveout);
        SVX_set_DirectSound_HWND(nullptr, GetConsoleWindow());
        HDIGDRIVER driver = open(22050, 1, 16);
        ASSERT_NE(driver, nullptr);
        // Two seconds of values that rise by one a frame and are never 0, so
        // that order and origin of every captured value can be told.
        constexpr int kFrames = 44100;
        Bytes data;
        for (int i = 0; i < kFrames; ++i)
            put16(data, uint16_t(i < kFrames / 2 ? i - kFrames / 2 : i - kFrames / 2 + 1));
        HSAMPLE s = SVX_allocate_sample_handle(driver);
        ASSERT_NE(s, nullptr);
        SVX_init_sample(s);
        SVX_set_sample_address(s, data.data(), uint32_t(data.size()));
        SVX_set_sample_type(s, SVX_FORMAT_16BIT, 1);
        SVX_set_sample_playback_rate(s, 22050);
        SVX_set_sample_pan(s, 64);
        SVX_start_sample(s);
        Sleep(400);
        ASSERT_EQ(SVX_digital_handle_release(driver), 1);
        Sleep(200);
        ASSERT_EQ(SVX_digital_handle_reacquire(driver), 1);
        ASSERT_TRUE(wait_for([&] { return SVX_sample_status(s) == SVX_DONE; }));
        Sleep(300);
        SVX_waveOutClose(driver);

        const Bytes bytes = testing_support::wav_data(testing_support::read_bytes(capture));
        std::vector<int32_t> heard;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            if (int32_t v = int16_t(get16(&bytes[i])); v != 0) heard.push_back(v);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.front(), -kFrames / 2) << "the start is kept";
        EXPECT_EQ(heard.back(), kFrames / 2) << "the end is heard";
        EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end())) << "in the order played";
        // At most what was mixed ahead of the device is lost at the release:
        // a few output buffers on waveOut, up to the sample's own secondary
        // buffer on DirectSound, which goes on from where its data stood.
        const size_t ahead = waveout ? kFrames / 4 : SVX_get_preference(16) / 2 + 2205;
        EXPECT_GT(heard.size(), size_t(kFrames) - ahead);
    }
}

}  // namespace
