// Sample handles on a driver that was never opened: the state machine, the
// mixing step with loops and double buffering, callbacks, positions.
// Expected output is worked out here from the data: at unity gain an
// unsigned byte b becomes (b - 128) * 256 and a signed 16-bit value stays.
#include <string>
#include <vector>

#include "fake_driver.h"

namespace {

using testing_support::Bytes;

std::vector<std::string> events;
void SVXCALLBACK on_sob(HSAMPLE) { events.push_back("SOB"); }
void SVXCALLBACK on_eob(HSAMPLE) { events.push_back("EOB"); }
void SVXCALLBACK on_eos(HSAMPLE) { events.push_back("EOS"); }

int32_t unsigned8(uint8_t b) { return (int32_t(b) - 128) * 256; }

class Samples : public testing_support::FakeDriver {
protected:
    void SetUp() override {
        FakeDriver::SetUp();
        events.clear();
        ramp_.resize(250);
        for (size_t i = 0; i < ramp_.size(); ++i) ramp_[i] = uint8_t(i);
    }
    // An 8-bit unsigned sample over the ramp 0, 1, ... 249 at the output rate.
    HSAMPLE ramp_sample() {
        HSAMPLE s = allocate();
        SVX_set_sample_address(s, ramp_.data(), uint32_t(ramp_.size()));
        SVX_set_sample_playback_rate(s, 22050);
        return s;
    }
    // The output of playing ramp bytes with these indices.
    std::vector<int32_t> ramp_output(const std::vector<size_t>& indices, size_t total) {
        std::vector<int32_t> out(total, 0);
        for (size_t i = 0; i < indices.size() && i < total; ++i) out[i] = unsigned8(ramp_[indices[i]]);
        return out;
    }
    Bytes ramp_;
};

TEST_F(Samples, AllocatedHandlesStartDoneWithTheirDefaults) {
    HSAMPLE s = allocate();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s, "HSAM", 4), 0);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    EXPECT_EQ(SVX_sample_playback_rate(s), 11025);
    EXPECT_EQ(SVX_sample_volume(s), 127);
    EXPECT_EQ(SVX_sample_pan(s), 0);  // mono output
    EXPECT_EQ(SVX_sample_loop_count(s), 1);
    EXPECT_EQ(SVX_sample_granularity(s), 1);

    configure(22050, 2, 2);
    SVX_init_sample(s);
    EXPECT_EQ(SVX_sample_pan(s), 64);  // stereo output
}

TEST_F(Samples, HandlesRunOutAndComeBackWhenReleased) {
    std::vector<HSAMPLE> handles;
    for (int i = 0; i < kSamples; ++i) handles.push_back(allocate());
    for (HSAMPLE h : handles) EXPECT_NE(h, nullptr);
    EXPECT_EQ(allocate(), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Out of sample handles.");
    SVX_release_sample_handle(handles[2]);
    EXPECT_EQ(SVX_sample_status(handles[2]), SVX_FREE);
    EXPECT_EQ(allocate(), handles[2]);
}

TEST_F(Samples, StartWithoutAnAddressDoesNothing) {
    HSAMPLE s = allocate();
    SVX_start_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    EXPECT_EQ(driver_.playing.load(), 0);
}

TEST_F(Samples, SixteenBitDataPlaysUnchangedThenEndsWithItsCallbacks) {
    const std::vector<int16_t> data = {1000, -1000, 32767, -32768, 5, 0, -7, 12345};
    HSAMPLE s = allocate();
    SVX_set_sample_address(s, data.data(), uint32_t(data.size() * 2));
    SVX_set_sample_type(s, SVX_FORMAT_16BIT, SVX_FLAG_SIGNED);
    SVX_set_sample_playback_rate(s, 22050);
    SVX_register_SOB_callback(s, on_sob);
    SVX_register_EOB_callback(s, on_eob);
    EXPECT_EQ(SVX_register_EOS_callback(s, on_eos), nullptr);
    SVX_start_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    EXPECT_EQ(driver_.playing.load(), 1);

    std::vector<int32_t> expected(data.begin(), data.end());
    expected.resize(12, 0);
    EXPECT_EQ(mix(s, 12), expected);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    EXPECT_EQ(events, (std::vector<std::string>{"SOB", "EOB", "EOS"}));
}

TEST_F(Samples, LoopBlockWithCountZeroRepeatsForEver) {
    HSAMPLE s = ramp_sample();
    SVX_set_sample_loop_block(s, 100, 200);
    SVX_set_sample_loop_count(s, 0);
    SVX_start_sample(s);
    std::vector<int32_t> out;
    for (int step = 0; step < 4; ++step) {  // across several output buffers
        std::vector<int32_t> part = mix(s, 170);
        out.insert(out.end(), part.begin(), part.end());
    }
    std::vector<size_t> indices;
    for (size_t k = 0; k < out.size(); ++k) indices.push_back(k < 200 ? k : 100 + (k - 200) % 100);
    EXPECT_EQ(out, ramp_output(indices, out.size()));
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    EXPECT_EQ(SVX_sample_loop_count(s), 0);
}

TEST_F(Samples, LoopCountThreePlaysTheRangeThreeTimesThenTheRest) {
    HSAMPLE s = ramp_sample();
    SVX_set_sample_loop_block(s, 100, 200);
    SVX_set_sample_loop_count(s, 3);
    SVX_start_sample(s);
    const std::vector<int32_t> out = mix_to_end(s, 128);
    std::vector<size_t> indices;
    for (size_t i = 0; i < 200; ++i) indices.push_back(i);
    for (size_t i = 100; i < 200; ++i) indices.push_back(i);
    for (size_t i = 100; i < 250; ++i) indices.push_back(i);
    EXPECT_EQ(out, ramp_output(indices, out.size()));
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
}

TEST_F(Samples, ALoopRangeWithNothingInItNeitherHangsNorPlays) {
    for (auto [start, end] : {std::pair{100, 100}, std::pair{300, -1}, std::pair{150, 120}}) {
        HSAMPLE s = ramp_sample();
        SVX_register_EOB_callback(s, on_eob);
        SVX_set_sample_loop_block(s, start, end);
        SVX_set_sample_loop_count(s, 0);
        SVX_start_sample(s);
        (void)mix(s, 400);
        const std::vector<int32_t> second = mix(s, 400);
        EXPECT_EQ(second, std::vector<int32_t>(400, 0)) << start << "," << end;
        EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
        SVX_release_sample_handle(s);
    }
}

TEST_F(Samples, EndCallsBackOnlyForASampleThatIsGoing) {
    HSAMPLE s = ramp_sample();
    SVX_register_EOB_callback(s, on_eob);
    SVX_register_EOS_callback(s, on_eos);
    SVX_end_sample(s);  // done: nothing
    EXPECT_TRUE(events.empty());
    SVX_start_sample(s);
    SVX_end_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    EXPECT_EQ(events, (std::vector<std::string>{"EOB", "EOS"}));
}

TEST_F(Samples, StopHoldsThePlaceAndResumeGoesOn) {
    HSAMPLE s = ramp_sample();
    SVX_start_sample(s);
    std::vector<int32_t> first = mix(s, 100);
    SVX_stop_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_STOPPED);
    EXPECT_EQ(mix(s, 100), std::vector<int32_t>(100, 0));
    SVX_resume_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    std::vector<int32_t> second = mix(s, 100);
    std::vector<size_t> indices;
    for (size_t i = 100; i < 200; ++i) indices.push_back(i);
    EXPECT_EQ(second, ramp_output(indices, 100));

    // From done, resume does not rewind: the position is at the end.
    (void)mix_to_end(s, 100);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    SVX_resume_sample(s);
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    EXPECT_EQ(mix(s, 10), std::vector<int32_t>(10, 0));
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
}

TEST_F(Samples, DoubleBufferStarvesPlayingAndSilentThenGoesOnWithTheNextLoad) {
    HSAMPLE s = allocate();
    SVX_set_sample_playback_rate(s, 22050);
    const Bytes a(ramp_.begin(), ramp_.begin() + 100), b(ramp_.begin() + 100, ramp_.begin() + 150);

    EXPECT_EQ(SVX_sample_buffer_ready(s), 0);
    SVX_load_sample_buffer(s, 0, a.data(), uint32_t(a.size()));
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    EXPECT_EQ(SVX_sample_buffer_ready(s), 1);
    EXPECT_EQ(SVX_sample_buffer_ready(s), -1);

    std::vector<size_t> indices;
    for (size_t i = 0; i < 100; ++i) indices.push_back(i);
    EXPECT_EQ(mix(s, 160), ramp_output(indices, 160));
    EXPECT_EQ(SVX_sample_status(s), SVX_PLAYING);
    uint32_t p0 = 0, l0 = 0, p1 = 9, l1 = 9;
    EXPECT_EQ(SVX_sample_buffer_info(s, &p0, &l0, &p1, &l1), 1);  // starved
    EXPECT_EQ(p0, 100u);
    EXPECT_EQ(l0, 100u);
    EXPECT_EQ(l1, 0u);
    EXPECT_EQ(mix(s, 50), std::vector<int32_t>(50, 0));  // silent while starved

    SVX_load_sample_buffer(s, 1, b.data(), uint32_t(b.size()));
    EXPECT_EQ(SVX_sample_buffer_info(s, nullptr, nullptr, nullptr, nullptr), 0);
    indices.clear();
    for (size_t i = 100; i < 150; ++i) indices.push_back(i);
    EXPECT_EQ(mix(s, 80), ramp_output(indices, 80));
    EXPECT_EQ(SVX_sample_buffer_ready(s), 0);  // buffer 1 plays: load 0 next

    // A load of length 0 ends the stream.
    SVX_register_EOS_callback(s, on_eos);
    SVX_load_sample_buffer(s, 0, nullptr, 0);
    (void)mix(s, 10);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    EXPECT_EQ(events, std::vector<std::string>{"EOS"});
}

TEST_F(Samples, VolumeAndMasterVolumeRescaleTheNextMix) {
    const std::vector<int16_t> data = {1000, -1001, 32767, -32768, 3, -3};
    HSAMPLE s = allocate();
    SVX_set_sample_address(s, data.data(), uint32_t(data.size() * 2));
    SVX_set_sample_type(s, SVX_FORMAT_16BIT, SVX_FLAG_SIGNED);
    SVX_set_sample_playback_rate(s, 22050);
    // Half volume on mono output: factor 64 * 128 / 127 = 64, in 1/128.
    std::vector<int32_t> half;
    for (int16_t v : data) half.push_back((int32_t(v) * 64) >> 7);

    SVX_set_sample_volume(s, 64);
    SVX_start_sample(s);
    EXPECT_EQ(mix(s, 6), half);

    SVX_set_sample_volume(s, 127);
    SVX_set_digital_master_volume(handle(), 64);
    SVX_start_sample(s);
    EXPECT_EQ(mix(s, 6), half);
}

struct GranularityCase {
    int32_t format;
    int32_t granularity;
};

TEST_F(Samples, GranularityFollowsTheFormat) {
    HSAMPLE s = allocate();
    SVX_set_sample_adpcm_block_size(s, 512);
    for (auto [format, expected] : {GranularityCase{0, 1}, GranularityCase{1, 2}, GranularityCase{2, 2},
                                    GranularityCase{3, 4}, GranularityCase{5, 512}, GranularityCase{7, 512}}) {
        SVX_set_sample_type(s, format, 1);
        EXPECT_EQ(SVX_sample_granularity(s), expected) << format;
    }
    EXPECT_EQ(SVX_sample_granularity(nullptr), 0);
}

TEST_F(Samples, PositionsRoundToTheNearestUnit) {
    HSAMPLE s = allocate();
    SVX_set_sample_type(s, SVX_FORMAT_16BIT | SVX_FORMAT_STEREO, SVX_FLAG_SIGNED);
    for (auto [asked, stored] : {std::pair{7u, 8u}, std::pair{6u, 8u}, std::pair{5u, 4u}, std::pair{0u, 0u}}) {
        SVX_set_sample_position(s, asked);
        EXPECT_EQ(SVX_sample_position(s), stored) << asked;
    }
    SVX_set_sample_loop_block(s, 5, 7);
    SVX_set_sample_loop_count(s, 0);
    // The loop start is rounded like a position, the end kept as given.
    EXPECT_EQ(svx::digital::sample_of(s)->loop_start.load(), 4);
    EXPECT_EQ(svx::digital::sample_of(s)->loop_end.load(), 7);
}

TEST_F(Samples, MillisecondPositions) {
    static uint8_t data[176400];
    HSAMPLE s = allocate();
    SVX_set_sample_type(s, SVX_FORMAT_16BIT | SVX_FORMAT_STEREO, SVX_FLAG_SIGNED);
    SVX_set_sample_playback_rate(s, 44100);
    SVX_set_sample_address(s, data, sizeof data);
    SVX_set_sample_ms_position(s, 250);
    EXPECT_EQ(SVX_sample_position(s), 44100u);
    int32_t total = 0, current = 0;
    SVX_sample_ms_position(s, &total, &current);
    EXPECT_EQ(total, 1000);
    EXPECT_EQ(current, 250);

    // IMA ADPCM mono, 256-byte blocks of 505 samples at 22,050 Hz:
    // 11,177.8 bytes a second.
    SVX_set_sample_type(s, 5, 1);
    SVX_set_sample_adpcm_block_size(s, 256);
    SVX_set_sample_playback_rate(s, 22050);
    SVX_set_sample_address(s, data, 11177);
    SVX_sample_ms_position(s, &total, nullptr);
    EXPECT_EQ(total, 999);
    // A block too small for its header has no rate: 0 rather than a fault.
    SVX_set_sample_adpcm_block_size(s, 2);
    SVX_sample_ms_position(s, &total, nullptr);
    EXPECT_EQ(total, 0);
}

TEST_F(Samples, MinimumDoubleBufferSize) {
    driver_.rate = 22050;
    driver_.channels = 1;
    driver_.bytes_per_sample = 1;
    driver_.buffer_bytes = 2116;
    struct Case {
        int32_t rate, format, bytes;
    };
    // e = rate * (h * 2116 / 2) / 22050, plus 655/32768 of it, plus 4 off
    // the output rate and its half and quarter; rounded up to 256, times 4.
    for (auto [rate, format, bytes] : {Case{22050, 0, 9216}, Case{11025, 0, 5120},
                                       Case{16000, 0, 7168}, Case{22050, 3, 34816}}) {
        EXPECT_EQ(SVX_minimum_sample_buffer_size(handle(), rate, format), bytes) << rate;
    }
}

TEST_F(Samples, UserDataHasEightSlots) {
    HSAMPLE s = allocate();
    for (uint32_t i = 0; i < 8; ++i) SVX_set_sample_user_data(s, i, 100 + i);
    SVX_set_sample_user_data(s, 8, 999);
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(SVX_sample_user_data(s, i), 100u + i);
    EXPECT_EQ(SVX_sample_user_data(s, 8), 0u);
    SVX_init_sample(s);  // user data survives
    EXPECT_EQ(SVX_sample_user_data(s, 3), 103u);
}

TEST_F(Samples, NullSamplesDoNothing) {
    SVX_start_sample(nullptr);
    SVX_end_sample(nullptr);
    SVX_load_sample_buffer(nullptr, 0, nullptr, 10);
    EXPECT_EQ(SVX_sample_status(nullptr), 0);
    EXPECT_EQ(SVX_sample_loop_count(nullptr), -1);
    EXPECT_EQ(SVX_sample_position(nullptr), 0u);
    EXPECT_EQ(SVX_sample_buffer_ready(nullptr), 0);
    EXPECT_EQ(SVX_set_sample_file(nullptr, nullptr, -1), 0);
    EXPECT_EQ(SVX_register_EOS_callback(nullptr, on_eos), nullptr);
}

TEST_F(Samples, ALoadOfAnOutOfRangeBufferNumberIsIgnored) {
    HSAMPLE s = allocate();
    SVX_load_sample_buffer(s, 2, ramp_.data(), 10);
    SVX_load_sample_buffer(s, -1, ramp_.data(), 10);
    EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
}

}  // namespace
