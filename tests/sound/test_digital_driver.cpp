// The waveOut digital driver: buffer sizing, open and its fall-back, the
// description, release and reacquire, silence handling and trace lines.
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "core/state.h"
#include "digital/driver.h"
#include "digital_support.h"
#include "win32/kernel.h"
#include "win32/winmm.h"

namespace {

using testing_support::Bytes;
using testing_support::pcm_format;
using namespace svx::digital;

struct SizeCase {
    const char* name;
    int64_t measured_ms;
    int32_t rate, channels, bytes_per_sample, min_bytes;
    int64_t latency_ms, frames, bytes;
};

class BufferSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BufferSizes, GrowTheLatencyUntilABufferIsBigEnough) {
    const SizeCase& c = GetParam();
    const BufferSize size =
        output_buffer_size(c.measured_ms, c.rate, c.channels, c.bytes_per_sample, c.min_bytes);
    EXPECT_EQ(size.latency_ms, c.latency_ms);
    EXPECT_EQ(size.frames, c.frames);
    EXPECT_EQ(size.samples, c.frames * c.channels);
    EXPECT_EQ(size.bytes, c.bytes);
}

// 30 ms at 22,050 Hz 8-bit mono: 34 -> 752 frames, 38 -> 840, ... 87 -> 1920,
// and 96 ms -> 2116 frames, the first size of at least 2048 bytes.
INSTANTIATE_TEST_SUITE_P(
    Cases, BufferSizes,
    ::testing::Values(SizeCase{"Example30ms", 30, 22050, 1, 1, 2048, 96, 2116, 2116},
                      // One round when the first size is big enough: 34 ms,
                      // 1499.4 -> 1500 frames of 4 bytes.
                      SizeCase{"Stereo16", 30, 44100, 2, 2, 2048, 34, 1500, 6000},
                      // 0 ms still grows: 1 ms -> 22 -> 24 frames.
                      SizeCase{"Instant", 0, 22050, 1, 2, 0, 1, 24, 48}),
    [](const auto& info) { return info.param.name; });

TEST(BufferCount, TotalOverOneBufferAndNeverBelowFour) {
    EXPECT_EQ(output_buffer_count(49152, 2116), 23);
    EXPECT_EQ(output_buffer_count(4000, 2116), 4);
    EXPECT_EQ(output_buffer_count(-1, 2116), 4);
}

TEST(BufferSizesEdge, AFormatWithoutDataGivesNoSize) {
    EXPECT_EQ(output_buffer_size(30, 0, 1, 1, 2048).bytes, 0);
}

using Driver = testing_support::DigitalLibrary;

TEST_F(Driver, DirectSoundFailsAndTheFallBackOpensWaveOutAt22050) {
    // Part of the menu's search: DirectSound first, then waveOut. Here the
    // machine has no DirectSound module.
    setenv("WIN32_DSOUND", "absent", 1);
    struct Restore {
        ~Restore() { unsetenv("WIN32_DSOUND"); }
    } restore;
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 0);
    const SVXPCMFORMAT format = pcm_format(22050, 1, 8);
    HDIGDRIVER driver = nullptr;
    EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &format), 1);
    EXPECT_STREQ(SVX_last_error(), "The DirectSound DLL could not be loaded.");
    EXPECT_EQ(driver, nullptr);

    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    void* handle_address = nullptr;
    ASSERT_EQ(SVX_waveOutOpen(&driver, &handle_address, -1, &format), 0) << SVX_last_error();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(std::memcmp(driver, "HDIG", 4), 0);
    EXPECT_EQ(handle_address, &driver_of(driver)->device);
    EXPECT_NE(*static_cast<HWAVEOUT*>(handle_address), nullptr);

    int32_t rate = 0, output = -1;
    char text[128] = "Device: ";
    SVX_digital_configuration(driver, &rate, &output, text + 8);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(output, SVX_OUTPUT_8_MONO);
    EXPECT_STREQ(text, "Device: WaveOut - Null audio device");
    EXPECT_EQ(SVX_allocate_sample_handle(driver) != nullptr, true);
    SVX_waveOutClose(driver);
}

TEST_F(Driver, ADeviceRefusingFastRatesLeadsTheDownwardSearchTo11025) {
    setenv("WIN32_AUDIO", "null:maxrate=11025", 1);
    HDIGDRIVER driver = nullptr;
    int32_t result = -1;
    uint32_t rate = 22050;
    for (; rate >= 11025; rate /= 2) {
        const SVXPCMFORMAT format = pcm_format(rate, 1, 8);
        result = SVX_waveOutOpen(&driver, nullptr, -1, &format);
        if (result == 0) break;
        EXPECT_EQ(result, WAVERR_BADFORMAT);
        EXPECT_STREQ(SVX_last_error(), "waveOutOpen() failed.");
        EXPECT_EQ(driver, nullptr);
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(rate, 11025u);
    int32_t opened = 0;
    SVX_digital_configuration(driver, &opened, nullptr, nullptr);
    EXPECT_EQ(opened, 11025);
}

struct FormatCase {
    const char* name;
    SVXPCMFORMAT format;
    const char* message;
};

class RejectedFormats : public testing_support::DigitalLibrary,
                        public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RejectedFormats, FailWithResult1AndTheirMessage) {
    HDIGDRIVER driver = nullptr;
    EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &GetParam().format), 1);
    EXPECT_STREQ(SVX_last_error(), GetParam().message);
    EXPECT_EQ(driver, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectedFormats,
    ::testing::Values(
        FormatCase{"NotPcm", {2, 1, 22050, 22050, 1, 8}, "Non-PCM wave data type not supported."},
        FormatCase{"ThreeChannels", pcm_format(22050, 3, 8), "Unsupported PCM data format."},
        FormatCase{"TwentyFourBits", pcm_format(22050, 2, 24), "Unsupported PCM data format."}),
    [](const auto& info) { return info.param.name; });

TEST_F(Driver, TheDescriptionNeverRunsPastTheCallersBytes) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    char buffer[200];
    std::memset(buffer, '#', sizeof buffer);
    std::memset(buffer, 'x', 120);
    buffer[120] = '\0';
    SVX_digital_configuration(driver, nullptr, nullptr, buffer);
    EXPECT_EQ(std::string(buffer), std::string(120, 'x') + "WaveOut");
    for (size_t i = 128; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '#') << i;

    int32_t rate = 0, output = 0;
    SVX_digital_configuration(driver, &rate, &output, nullptr);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(output, SVX_OUTPUT_16_STEREO);
}

TEST_F(Driver, NullHandlesDoNothing) {
    EXPECT_EQ(SVX_digital_handle_release(nullptr), 0);
    EXPECT_EQ(SVX_digital_handle_reacquire(nullptr), 0);
    EXPECT_EQ(SVX_allocate_sample_handle(nullptr), nullptr);
    EXPECT_EQ(SVX_digital_master_volume(nullptr), 0);
    SVX_waveOutClose(nullptr);
    int32_t rate = 7;
    SVX_digital_configuration(nullptr, &rate, nullptr, nullptr);
    EXPECT_EQ(rate, 7);
}

// The service thread parked, so that only the test fills buffers.
class QuietDriver : public testing_support::DigitalLibrary {
protected:
    void SetUp() override {
        DigitalLibrary::SetUp();
        SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000);
    }
    // Starts output with a sample longer than the four buffers mixed at
    // the start, then ends it: no silent buffer is counted yet.
    void play_and_end(HDIGDRIVER driver) {
        static const uint8_t data[1 << 17] = {};
        HSAMPLE sample = SVX_allocate_sample_handle(driver);
        ASSERT_NE(sample, nullptr);
        SVX_set_sample_address(sample, data, sizeof data);
        SVX_start_sample(sample);
        SVX_end_sample(sample);
        ASSERT_EQ(driver_of(driver)->playing.load(), 1);
    }
    // The buffer the device reaches last: filling it from the test does not
    // race the device reading the first ones.
    static WAVEHDR* last_buffer(DigitalDriver& driver) {
        WAVEHDR* header = driver.ring;
        for (;;) {
            WAVEHDR* next = reinterpret_cast<svx::digital::HeaderUser*>(header->dwUser)->next;
            if (next == driver.ring) return header;
            header = next;
        }
    }
};

TEST_F(QuietDriver, TheFourthSilentBufferInARowStopsOutput) {
    HDIGDRIVER handle = open(22050, 1, 8);
    ASSERT_NE(handle, nullptr);
    DigitalDriver& driver = *driver_of(handle);
    play_and_end(handle);
    WAVEHDR* last = last_buffer(driver);
    for (int i = 0; i < 3; ++i) fill(driver, last);
    EXPECT_EQ(driver.playing.load(), 1);
    fill(driver, last);
    EXPECT_EQ(driver.playing.load(), 0);
    // The silent buffer holds unsigned 8-bit silence.
    EXPECT_EQ(static_cast<uint8_t>(last->lpData[0]), 0x80);
}

TEST_F(QuietDriver, FromBackgroundWorkTheStopWaitsForTheWriter) {
    HDIGDRIVER handle = open(22050, 1, 16);
    ASSERT_NE(handle, nullptr);
    DigitalDriver& driver = *driver_of(handle);
    play_and_end(handle);
    {
        svx::BackgroundWork background;
        for (int i = 0; i < 4; ++i) fill(driver, last_buffer(driver));
    }
    EXPECT_EQ(driver.playing.load(), 1);
    EXPECT_EQ(driver.reset_pending.load(), 1);
    SVX_serve();
    EXPECT_EQ(driver.playing.load(), 0);
    EXPECT_EQ(driver.reset_pending.load(), 0);
}

TEST_F(QuietDriver, ResetZeroInWinIniKeepsOutputRunning) {
    write_win_ini("[SONVEX]\r\nReset=0\r\n");
    HDIGDRIVER handle = open(22050, 1, 8);
    ASSERT_NE(handle, nullptr);
    DigitalDriver& driver = *driver_of(handle);
    play_and_end(handle);
    for (int i = 0; i < 8; ++i) fill(driver, last_buffer(driver));
    EXPECT_EQ(driver.playing.load(), 1);
}

TEST_F(QuietDriver, ReleasedDriverSuspendsStartsAndReacquirePlaysThem) {
    HDIGDRIVER handle = open(22050, 1, 8);
    ASSERT_NE(handle, nullptr);
    static const uint8_t data[4096] = {};
    HSAMPLE sample = SVX_allocate_sample_handle(handle);
    SVX_set_sample_address(sample, data, sizeof data);

    EXPECT_EQ(SVX_digital_handle_release(handle), 1);
    EXPECT_EQ(SVX_digital_handle_release(handle), 1);
    EXPECT_EQ(driver_of(handle)->device, nullptr);
    SVX_start_sample(sample);
    EXPECT_EQ(SVX_sample_status(sample), SVX_SUSPENDED);
    EXPECT_EQ(SVX_active_sample_count(handle), 1);

    EXPECT_EQ(SVX_digital_handle_reacquire(handle), 1);
    EXPECT_EQ(SVX_digital_handle_reacquire(handle), 1);
    EXPECT_EQ(SVX_sample_status(sample), SVX_PLAYING);
    EXPECT_EQ(driver_of(handle)->playing.load(), 1);

    // A playing sample is suspended by a release, and plays on after.
    EXPECT_EQ(SVX_digital_handle_release(handle), 1);
    EXPECT_EQ(SVX_sample_status(sample), SVX_SUSPENDED);
    EXPECT_EQ(SVX_digital_handle_reacquire(handle), 1);
    EXPECT_EQ(SVX_sample_status(sample), SVX_PLAYING);
}

// With the service parked nothing but the writer hands buffers back to the
// device: its 50 ms timer runs while the opening thread takes messages.
TEST_F(QuietDriver, TheWriterTimerOfTheOpeningThreadKeepsTheRingQueued) {
    HDIGDRIVER handle = open(22050, 2, 16);
    ASSERT_NE(handle, nullptr);
    DigitalDriver& driver = *driver_of(handle);
    auto busy_buffers = [&] {
        int busy = 0;
        WAVEHDR* header = driver.ring;
        for (int32_t i = 0; i < driver.buffer_count; ++i) {
            if (!(std::atomic_ref<DWORD>(header->dwFlags).load() & WHDR_DONE)) ++busy;
            header = reinterpret_cast<HeaderUser*>(header->dwUser)->next;
        }
        return busy;
    };
    auto ring_ms = [&] { return uint32_t(driver.buffer_count * driver.frames_per_buffer * 1000 / 22050); };
    auto pump = [](uint32_t ms) {
        const uint32_t start = SVX_ms_count();
        while (SVX_ms_count() - start < ms) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            Sleep(5);
        }
    };
    static const uint8_t data[256] = {};
    HSAMPLE sample = SVX_allocate_sample_handle(handle);
    SVX_set_sample_address(sample, data, sizeof data);
    SVX_set_sample_loop_count(sample, 0);  // never silent, so output never stops
    SVX_start_sample(sample);
    EXPECT_EQ(busy_buffers(), driver.buffer_count);  // the whole ring is queued

    Sleep(2 * ring_ms() + 500);  // no messages taken: the device runs dry
    EXPECT_EQ(busy_buffers(), 0);
    pump(300);
    EXPECT_GT(busy_buffers(), 0);
}

TEST_F(QuietDriver, MasterVolumeIsKeptPerDriver) {
    HDIGDRIVER handle = open(22050, 1, 8);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(SVX_digital_master_volume(handle), 127);
    SVX_set_digital_master_volume(handle, 40);
    EXPECT_EQ(SVX_digital_master_volume(handle), 40);
}

TEST_F(Driver, ShutdownClosesEveryDriver) {
    ASSERT_NE(open(22050, 1, 8), nullptr);
    ASSERT_NE(open(11025, 1, 8), nullptr);
    EXPECT_TRUE(any_driver_open());
    SVX_shutdown();
    EXPECT_FALSE(any_driver_open());
}

TEST_F(Driver, TraceLinesOfDigitalExports) {
    SVX_shutdown();
    write_win_ini("[SONVEX]\r\nSONVEXDebug=C:\\digital.log\r\n");
    ASSERT_EQ(SVX_startup(), 1);
    auto hex = [](const void* p) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
        return std::string(text);
    };
    std::string expected = "[T] SVX_startup()\r\n";
    auto line = [&](const std::string& text) { expected += "[T] " + text + "\r\n"; };
    auto result = [&](const std::string& text) { expected += std::string(15, ' ') + text + "\r\n"; };

    const SVXPCMFORMAT format = pcm_format(22050, 1, 8);
    HDIGDRIVER driver = nullptr;
    EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &format), 1);  // DirectSound by default
    line("SVX_waveOutOpen(" + hex(&driver) + ", 0x0, -1, " + hex(&format) + ")");
    result("Result = 0x1");
    SVX_set_sample_ms_position(nullptr, 250);
    line("SVX_set_sample_ms_position(0x0,0x250)");
    EXPECT_EQ(SVX_sample_status(nullptr), 0);
    line("SVX_sample_status(0x0)");
    result("Result = 0");
    SVX_load_sample_buffer(nullptr, 1, nullptr, 100);
    line("SVX_load_sample_buffer(0x0,1,0x0,100)");
    SVX_set_digital_master_volume(nullptr, 100);
    line("SVX_set_digital_master_volume(0x0,100)");
    EXPECT_EQ(SVX_sample_loop_count(nullptr), -1);
    line("SVX_sample_loop_count(0x0)");
    result("Result = -1");
    SVX_set_sample_type(nullptr, 3, 1);
    line("SVX_set_sample_type(0x0,3,1)");
    EXPECT_EQ(SVX_WAV_info(nullptr, nullptr), 0);
    line("SVX_WAV_info(0x0,0x0)");
    result("Result = 0");
    SVX_shutdown();
    line("SVX_shutdown()");

    std::string text = read_file(drive_.path() / "drive_c" / "digital.log");
    text = text.substr(text.find("\r\n\r\n") + 4);
    text = std::regex_replace(text, std::regex(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] )"), "[T] ");
    EXPECT_EQ(text, expected);
}

}  // namespace
