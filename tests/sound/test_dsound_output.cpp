// DirectSound output as heard: samples played through the stand-in's
// software mixer onto the wav: device, and the capture compared with the
// sample's data at its rate, volume and pan. At equal rates and 0 dB the
// stand-in passes 16-bit values through and widens an 8-bit byte b to
// (b - 128) x 256.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "test_dsound_support.h"
#include "win32/dsound_support.h"

namespace {

using namespace svx::digital;
using dstesting::Bytes;
using dstesting::DsLibrary;
using dstesting::wait_for;

class DirectSoundOutput : public DsLibrary {
protected:
    void SetUp() override {
        DsLibrary::SetUp();
        capture_ = (drive_.path() / "capture.wav").string();
        setenv("WIN32_AUDIO", ("wav:" + capture_).c_str(), 1);
    }

    // Waits for the sample to finish, closes the driver and reads what the
    // device played.
    dstest::Capture finish(HDIGDRIVER driver, HSAMPLE s) {
        EXPECT_TRUE(wait_for([&] { return SVX_sample_status(s) == SVX_DONE; }));
        SVX_waveOutClose(driver);
        return dstest::read_capture(capture_);
    }

    // The channel values of the captured sound, from its first audible
    // frame, `frames` long.
    static std::vector<int32_t> channel(const dstest::Capture& c, int ch, size_t frames) {
        const dstest::Span span = dstest::sounding(c);
        std::vector<int32_t> out;
        for (size_t f = span.begin; f < span.begin + frames && f < c.frames(); ++f)
            out.push_back(c.at(f, ch));
        return out;
    }

    std::string capture_;
};

TEST_F(DirectSoundOutput, SixteenBitSampleIsHeardExactlyOnBothChannels) {
    // More than a buffer's worth: heard across several segment refills.
    const std::vector<int16_t> values = dstesting::loud16(30000, 1);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = file_sample(driver, dstesting::pcm_wav(22050, 1, 16, dstesting::bytes_of(values)));
    SVX_start_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    const dstest::Capture c = finish(driver, s);
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(c.rate, 22050u);
    EXPECT_EQ(c.channels, 2);
    EXPECT_EQ(dstest::sounding(c).length(), values.size());
    const std::vector<int32_t> expected(values.begin(), values.end());
    EXPECT_EQ(channel(c, 0, values.size()), expected);
    EXPECT_EQ(channel(c, 1, values.size()), expected);
}

struct EightBitCase {
    const char* name;
    int32_t rate;  // the sample's; the output runs at 22,050 Hz
    int32_t volume, pan;
};

class EightBit : public DirectSoundOutput, public ::testing::WithParamInterface<EightBitCase> {};

TEST_P(EightBit, HeardAtItsRateVolumeAndPan) {
    const EightBitCase& k = GetParam();
    const Bytes data = dstesting::loud8(9000, 2);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s =
        file_sample(driver, dstesting::pcm_wav(uint32_t(k.rate), 1, 8, data), k.volume, k.pan);
    SVX_start_sample(s);
    const dstest::Capture c = finish(driver, s);
    ASSERT_EQ(c.error, "");

    const size_t stretch = size_t(22050 / k.rate);  // output frames per sample frame
    const dstest::Span span = dstest::sounding(c);
    EXPECT_NEAR(double(span.length()), double(data.size() * stretch), double(stretch));
    // Gains in DirectSound's meaning: hundredths of a decibel.
    const double gain = std::pow(10.0, ds::buffer_volume(127, k.volume) / 2000.0);
    const LONG pan = ds::buffer_pan(k.pan);
    const double left = gain * (pan > 0 ? std::pow(10.0, -pan / 2000.0) : 1.0);
    const double right =
        gain * (pan < 0 ? (pan <= -10000 ? 0.0 : std::pow(10.0, pan / 2000.0)) : 1.0);
    size_t checked = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        const size_t f = span.begin + i * stretch;  // on a sample frame: no interpolation
        if (f >= c.frames()) break;
        const double value = (int32_t(data[i]) - 128) * 256.0;
        ASSERT_NEAR(c.at(f, 0), value * left, 1.0 + std::fabs(value) * 1e-4) << "frame " << i;
        ASSERT_NEAR(c.at(f, 1), value * right, 1.0 + std::fabs(value) * 1e-4) << "frame " << i;
        ++checked;
    }
    EXPECT_EQ(checked, data.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, EightBit,
                         ::testing::Values(EightBitCase{"Unity", 22050, 127, 64},
                                           EightBitCase{"HalfRate", 11025, 127, 64},
                                           EightBitCase{"QuieterLeftOnly", 22050, 64, 0},
                                           EightBitCase{"RightLeaning", 22050, 127, 96}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DirectSoundOutput, ALoopHoldingLessThanAFrameDoesNotHoldTheService) {
    // 16-bit stereo data whose last frame is cut short, looped for ever
    // from that part frame: each pass copies nothing.
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = file_sample(driver, dstesting::pcm_wav(22050, 2, 16, testing_support::Bytes(689, 0x11)));
    SVX_set_sample_loop_count(s, 0);
    SVX_set_sample_loop_block(s, 688, -1);
    SVX_start_sample(s);
    Sleep(100);  // the service fills its segments meanwhile, and returns
    SVX_end_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    SVX_waveOutClose(driver);
}

TEST_F(DirectSoundOutput, AdpcmSampleIsDecodedIntoItsBuffer) {
    const std::vector<int16_t> values = dstesting::loud16(26000, 5);
    const Bytes pcm = dstesting::pcm_wav(22050, 1, 16, dstesting::bytes_of(values));
    SoundFileInfo info{};
    ASSERT_EQ(SVX_WAV_info(image(pcm), &info), 1);
    void* adpcm = nullptr;
    uint32_t adpcm_size = 0;
    ASSERT_EQ(SVX_compress_ADPCM(&info, &adpcm, &adpcm_size), 1);
    const Bytes compressed(static_cast<uint8_t*>(adpcm), static_cast<uint8_t*>(adpcm) + adpcm_size);
    SVX_mem_free_lock(adpcm);
    // What the library's own whole-image decoder makes of it.
    SoundFileInfo packed{};
    ASSERT_EQ(SVX_WAV_info(image(compressed), &packed), 1);
    void* decoded = nullptr;
    uint32_t decoded_size = 0;
    ASSERT_EQ(SVX_decompress_ADPCM(&packed, &decoded, &decoded_size), 1);
    std::vector<int32_t> expected;
    for (uint32_t at = 44; at + 1 < decoded_size; at += 2)
        expected.push_back(int16_t(testing_support::get16(static_cast<uint8_t*>(decoded) + at)));
    SVX_mem_free_lock(decoded);
    while (!expected.empty() && expected.back() == 0) expected.pop_back();
    ASSERT_GT(expected.size(), 20000u);
    ASSERT_NE(expected.front(), 0);

    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = file_sample(driver, compressed);
    EXPECT_EQ(SVX_sample_granularity(s), 512);
    SVX_start_sample(s);
    const dstest::Capture c = finish(driver, s);
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(channel(c, 0, expected.size()), expected);
    // The last block is decoded to its last whole word.
    EXPECT_GE(dstest::sounding(c).length(), expected.size());
    EXPECT_LT(dstest::sounding(c).length(), expected.size() + 8);
}

TEST_F(DirectSoundOutput, EndInsideASegmentIsDoneOnceTheCursorPassesIt) {
    // 20,000 bytes end inside the second of two 16,384-byte segments.
    const Bytes data = dstesting::loud8(20000, 9);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = file_sample(driver, dstesting::pcm_wav(22050, 1, 8, data));
    // The test looks at the cursor itself: the background service waits.
    SVX_stop_all_timers();
    SVX_start_sample(s);
    IDirectSoundBuffer* buffer = buffer_of(s);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(record(s).ds_segment_size.load(), 16384u);

    // The rest of the segment after the data is silence.
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(buffer->Lock(16384, 16384, &p1, &n1, &p2, &n2, 0), DS_OK);
    const Bytes second(static_cast<const uint8_t*>(p1), static_cast<const uint8_t*>(p1) + n1);
    buffer->Unlock(p1, n1, p2, n2);
    ASSERT_EQ(second.size(), 16384u);
    EXPECT_TRUE(std::equal(second.begin(), second.begin() + (20000 - 16384), data.begin() + 16384));
    EXPECT_TRUE(std::all_of(second.begin() + (20000 - 16384), second.end(),
                            [](uint8_t b) { return b == 0x80; }));

    bool saw_playing_past_end = false;
    const bool finished = wait_for([&] {
        DWORD before = 0;
        buffer->GetCurrentPosition(&before, nullptr);
        ds::service_sample(record(s), record(driver), 10);
        const int32_t status = SVX_sample_status(s);
        if (status == SVX_PLAYING && before >= 20000) saw_playing_past_end = true;
        return status == SVX_DONE;
    });
    ASSERT_TRUE(finished);
    EXPECT_FALSE(saw_playing_past_end);
    DWORD stopped_at = 0;
    buffer->GetCurrentPosition(&stopped_at, nullptr);
    EXPECT_GE(stopped_at, 20000u);
    EXPECT_LT(stopped_at, 32768u);

    SVX_start_all_timers();
    const dstest::Capture c = finish(driver, s);
    EXPECT_EQ(dstest::sounding(c).length(), data.size());
}

std::atomic<int> ends_of_buffer{0}, ends_of_file{0};
void SVXCALLBACK count_end_of_buffer(HSAMPLE) {
    ++ends_of_buffer;
}
void SVXCALLBACK count_end_of_file(HSAMPLE) {
    ++ends_of_file;
}

TEST_F(DirectSoundOutput, LoopsAreHeardInFullAndAFileSampleFreesItself) {
    // 7,000 frames three times over: the loop wraps inside segments.
    const std::vector<int16_t> values = dstesting::loud16(7000, 21);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = SVX_allocate_file_sample(
        driver, image(dstesting::pcm_wav(22050, 1, 16, dstesting::bytes_of(values))), 0);
    ASSERT_NE(s, nullptr) << SVX_last_error();
    ends_of_buffer = 0;
    ends_of_file = 0;
    SVX_register_EOB_callback(s, &count_end_of_buffer);
    SVX_register_EOF_callback(s, &count_end_of_file);
    SVX_set_sample_loop_count(s, 3);
    SVX_start_sample(s);
    ASSERT_TRUE(wait_for([&] { return SVX_sample_status(s) == SVX_FREE; }));
    EXPECT_EQ(ends_of_buffer.load(), 3);
    EXPECT_EQ(ends_of_file.load(), 1);
    SVX_waveOutClose(driver);
    const dstest::Capture c = dstest::read_capture(capture_);
    std::vector<int32_t> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), values.begin(), values.end());
    EXPECT_EQ(channel(c, 0, expected.size()), expected);
    EXPECT_EQ(dstest::sounding(c).length(), expected.size());
}

TEST_F(DirectSoundOutput, DoubleBufferedStreamPlaysWithoutGaps) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    // Each buffer holds what the start of the stream fills at once.
    const int32_t part = SVX_minimum_sample_buffer_size(driver, 22050, 0);
    ASSERT_EQ(part, 8192);
    const Bytes all = dstesting::loud8(4 * size_t(part), 11);
    std::vector<Bytes> parts;
    for (size_t i = 0; i < all.size(); i += size_t(part))
        parts.emplace_back(all.begin() + long(i), all.begin() + long(i) + part);
    HSAMPLE s = SVX_allocate_sample_handle(driver);
    ASSERT_NE(s, nullptr);
    SVX_set_sample_type(s, 0, 0);
    SVX_set_sample_playback_rate(s, 22050);
    size_t next = 0;
    auto feed = [&] {
        const int32_t n = SVX_sample_buffer_ready(s);
        if (n < 0) return;
        SVX_load_sample_buffer(s, n, next < parts.size() ? parts[next].data() : nullptr,
                               next < parts.size() ? uint32_t(parts[next].size()) : 0);
        ++next;
    };
    feed();
    feed();
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    // A tenth of a second of 8-bit sound at (at least) 44,100 Hz.
    EXPECT_EQ(record(s).ds_segment_size.load(), 4096u);
    ASSERT_TRUE(wait_for([&] {
        if (next <= parts.size()) feed();
        return SVX_sample_status(s) == SVX_DONE;
    }));
    const dstest::Capture c = finish(driver, s);
    std::vector<int32_t> expected;
    for (uint8_t b : all) expected.push_back((int32_t(b) - 128) * 256);
    EXPECT_EQ(channel(c, 0, expected.size()), expected);
    EXPECT_EQ(dstest::sounding(c).length(), expected.size());
}

TEST_F(DirectSoundOutput, StartedWhileReleasedPlaysFromItsStartAfterReacquire) {
    const std::vector<int16_t> values = dstesting::loud16(12000, 13);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = file_sample(driver, dstesting::pcm_wav(22050, 1, 16, dstesting::bytes_of(values)));
    ASSERT_EQ(SVX_digital_handle_release(driver), 1);
    SVX_start_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_SUSPENDED);
    ASSERT_EQ(SVX_digital_handle_reacquire(driver), 1);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    // The device was opened afresh: the capture holds what came after.
    const dstest::Capture c = finish(driver, s);
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(channel(c, 0, values.size()), std::vector<int32_t>(values.begin(), values.end()));
}

TEST_F(DirectSoundOutput, StopAndResumeLoseNothing) {
    const std::vector<int16_t> values = dstesting::loud16(30000, 17);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = file_sample(driver, dstesting::pcm_wav(22050, 1, 16, dstesting::bytes_of(values)));
    SVX_start_sample(s);
    Sleep(300);
    SVX_stop_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_STOPPED);
    Sleep(200);
    SVX_resume_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    const dstest::Capture c = finish(driver, s);
    ASSERT_EQ(c.error, "");
    // The pause is silence in the middle; the sound around it is the data.
    std::vector<int32_t> heard;
    for (size_t f = 0; f < c.frames(); ++f)
        if (c.at(f, 0) != 0) heard.push_back(c.at(f, 0));
    // The device plays out what it had queued when the buffer stopped, and
    // the buffer goes on from where it was heard: a few ms may come twice,
    // but nothing is skipped and the rest follows in order.
    const std::vector<int32_t> expected(values.begin(), values.end());
    size_t stop = 0;
    while (stop < std::min(heard.size(), expected.size()) && heard[stop] == expected[stop]) ++stop;
    ASSERT_GT(stop, 0u);
    ASSERT_LT(stop, expected.size()) << "the pause was not heard";
    const size_t repeated = heard.size() - expected.size();
    ASSERT_LE(repeated, 22050u / 20) << "more than 50 ms heard twice";
    ASSERT_LE(repeated, stop);
    EXPECT_TRUE(std::equal(heard.begin() + long(stop), heard.end(),
                           expected.begin() + long(stop - repeated)));
}

}  // namespace
