// The DirectSound driver without listening: the volume, pan and segment
// formulas, what open accepts and how it describes the device, the
// fall-back a caller makes from an emulated or missing DirectSound, the
// rules by which samples get, keep, hand over and give up their secondary
// buffers, and release and reacquire.
#include <algorithm>
#include <cstring>
#include <string>

#include "test_dsound_support.h"
#include "win32/user.h"

namespace {

using namespace svx::digital;
using dstesting::Bytes;
using dstesting::DsLibrary;

// ---- formulas ----

struct VolumeCase {
    int32_t master, volume;
    LONG expected;
};

TEST(DirectSoundFormulas, VolumeInHundredthsOfADecibel) {
    const VolumeCase cases[] = {
        {127, 0, -10000},  {127, 127, 0},   {127, 64, -595},  {127, 1, -4207},
        {127, 100, -207},  {64, 127, -595}, {0, 127, -10000}, {127, 500, 0},
        {127, -3, -10000}, {300, 127, 0},   {64, 64, -1197},  // 64 x 64 / 127 = 32
    };
    for (const VolumeCase& c : cases)
        EXPECT_EQ(ds::buffer_volume(c.master, c.volume), c.expected)
            << "master " << c.master << " volume " << c.volume;
}

TEST(DirectSoundFormulas, PanInHundredthsOfADecibel) {
    const std::pair<int32_t, LONG> cases[] = {
        {0, -10000}, {1, -3598},  {32, -588},   {63, 0},       {64, 0},       {65, 13},
        {96, 615},   {126, 3598}, {127, 10000}, {-40, -10000}, {1000, 10000},
    };
    for (auto [pan, expected] : cases) EXPECT_EQ(ds::buffer_pan(pan), expected) << "pan " << pan;
}

TEST(DirectSoundFormulas, SegmentsAndServiceInterval) {
    // A tenth of a second, to the nearest power of two; the smaller on a tie.
    EXPECT_EQ(ds::nearest_segment(4410, 16384), 4096u);
    EXPECT_EQ(ds::nearest_segment(3072, 16384), 2048u);
    EXPECT_EQ(ds::nearest_segment(500, 16384), 1024u);
    EXPECT_EQ(ds::nearest_segment(176400, 16384), 16384u);
    EXPECT_EQ(ds::nearest_segment(176400, 8192), 8192u);
    // 16-bit stereo at 44,100 Hz; 8-bit mono counts at least 44,100 Hz.
    EXPECT_EQ(ds::stream_bytes_per_second(SVX_FORMAT_16BIT | SVX_FORMAT_STEREO, 44100, 44100),
              176400);
    EXPECT_EQ(ds::stream_bytes_per_second(0, 11025, 44100), 44100);
    EXPECT_EQ(ds::stream_bytes_per_second(SVX_FORMAT_ADPCM | SVX_FORMAT_16BIT, 8000, 0), 16000);
    // A single buffer streams by halves; a double-buffered one by tenths
    // of a second, unless those would not tile the buffer.
    EXPECT_EQ(ds::segment_size(32768, 44100, false), 16384u);
    EXPECT_EQ(ds::segment_size(32768, 44100, true), 4096u);
    EXPECT_EQ(ds::segment_size(40000, 44100, true), 20000u);
    // A quarter of a segment's time: 250 / (176400 / 16384) = 25 ms.
    EXPECT_EQ(ds::service_interval(176400, 16384), 25);
    EXPECT_EQ(ds::service_interval(44100, 16384), 125);
    // A segment longer than a second: the plain divisor is 0.
    EXPECT_EQ(ds::service_interval(44100, 65536), 371);
    // Tiny segments: never below 1 ms.
    EXPECT_EQ(ds::service_interval(176400, 256), 1);
}

// ---- open, formats, descriptions ----

class DirectSoundOpen : public DsLibrary {};

TEST_F(DirectSoundOpen, RejectsFormatsItCannotPlay) {
    const struct {
        SVXPCMFORMAT format;
        const char* message;
    } cases[] = {
        {{2, 1, 22050, 22050, 1, 8}, "Non-PCM wave data type not supported."},
        {{1, 3, 22050, 66150, 3, 8}, "Unsupported PCM data format."},
        {{1, 2, 44100, 264600, 6, 24}, "Unsupported PCM data format."},
    };
    for (const auto& c : cases) {
        HDIGDRIVER driver = reinterpret_cast<HDIGDRIVER>(uintptr_t(1));
        EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &c.format), 1);
        EXPECT_EQ(driver, nullptr);
        EXPECT_STREQ(SVX_last_error(), c.message);
    }
    // Nothing was left behind: a good open still works.
    EXPECT_NE(open(22050, 2, 16), nullptr);
}

TEST_F(DirectSoundOpen, FailuresLeaveNothingOpen) {
    const struct {
        int preference, value;
        int32_t result;
        const char* message;
    } cases[] = {
        {SVX_PREF_TIMER_HANDLES, 0, 7, "Out of timer handles."},
        {SVX_PREF_SAMPLE_HANDLES, 0, 7, "Could not allocate SAMPLE structures."},
    };
    const SVXPCMFORMAT format = testing_support::pcm_format(22050, 2, 16);
    for (const auto& c : cases) {
        const int32_t old = SVX_set_preference(c.preference, c.value);
        HDIGDRIVER driver = reinterpret_cast<HDIGDRIVER>(uintptr_t(1));
        EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &format), c.result);
        EXPECT_EQ(driver, nullptr);
        EXPECT_STREQ(SVX_last_error(), c.message);
        SVX_set_preference(c.preference, old);
    }
    // The next open is the first again: it registers the service.
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    EXPECT_GE(record(driver).timer, 0);
}

TEST_F(DirectSoundOpen, DescribesTheDeviceByItsId) {
    const SVXPCMFORMAT format = testing_support::pcm_format(22050, 2, 16);
    const struct {
        int32_t device;
        const char* text;  // null: the open fails
    } cases[] = {
        {-1, "DirectSound - Primary Sound Driver"},
        {0xFFFF, "DirectSound - Primary Sound Driver"},
        {0, "DirectSound - Primary Sound Driver"},
        {1, "DirectSound - Null audio device"},
        {7, nullptr},
    };
    for (const auto& c : cases) {
        HDIGDRIVER driver = nullptr;
        const int32_t result = SVX_waveOutOpen(&driver, nullptr, c.device, &format);
        if (!c.text) {
            EXPECT_EQ(result, 1);
            EXPECT_STREQ(SVX_last_error(), "DirectSoundCreate() failed.");
            continue;
        }
        ASSERT_EQ(result, 0) << SVX_last_error();
        char text[128];
        std::memset(text, 'x', sizeof text);
        int32_t rate = 0, output = -1;
        SVX_digital_configuration(driver, &rate, &output, text);
        EXPECT_STREQ(text, c.text) << "device " << c.device;
        EXPECT_EQ(rate, 22050);
        EXPECT_EQ(output, SVX_OUTPUT_16_STEREO);
        EXPECT_EQ(record(driver).emulated, 0);
        SVX_waveOutClose(driver);
    }
}

TEST_F(DirectSoundOpen, NoFormatAndEightBitMonoLeaveThePrimaryAlone) {
    const SVXPCMFORMAT plain = testing_support::pcm_format(22050, 1, 8);
    for (const SVXPCMFORMAT* format : {static_cast<const SVXPCMFORMAT*>(nullptr), &plain}) {
        HDIGDRIVER driver = nullptr;
        ASSERT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, format), 0) << SVX_last_error();
        EXPECT_EQ(record(driver).primary, nullptr);
        EXPECT_FALSE(record(driver).ds_format_in_use);
        int32_t rate = 0, output = -1;
        char text[128] = "";
        SVX_digital_configuration(driver, &rate, &output, text);
        EXPECT_EQ(rate, 22050);
        EXPECT_EQ(output, SVX_OUTPUT_8_MONO);
        EXPECT_STREQ(text, "DirectSound - Primary Sound Driver");
        SVX_waveOutClose(driver);
    }
    HDIGDRIVER driver = open(44100, 2, 16);
    ASSERT_NE(driver, nullptr);
    EXPECT_NE(record(driver).primary, nullptr);
}

TEST_F(DirectSoundOpen, WindowIsNeededForTheCooperativeLevel) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(SVX_set_DirectSound_HWND(driver, nullptr), 0);
    EXPECT_EQ(SVX_set_DirectSound_HWND(driver, dstesting::test_window()), 1);
    EXPECT_EQ(record(driver).window, dstesting::test_window());
    // waveOut has no window to set.
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    EXPECT_EQ(SVX_set_DirectSound_HWND(driver, dstesting::test_window()), 0);
}

TEST_F(DirectSoundOpen, FindsTheProgramsOwnWindowWhenNoneWasSet) {
    SVX_set_DirectSound_HWND(nullptr, nullptr);
    // No window at all: the cooperative level cannot be set.
    HDIGDRIVER none = nullptr;
    const SVXPCMFORMAT format = testing_support::pcm_format(22050, 2, 16);
    EXPECT_NE(SVX_waveOutOpen(&none, nullptr, -1, &format), 0);
    EXPECT_STREQ(SVX_last_error(), "SetCooperativeLevel() failed.");

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "KdSoundOwner";
    RegisterClassA(&wc);
    HWND own = CreateWindowExA(0, "KdSoundOwner", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(own, nullptr);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(record(driver).window, own);
    SVX_waveOutClose(driver);
    DestroyWindow(own);
}

// What the menu does with the description: an emulated DirectSound, or
// none at all, sends it to waveOut with the same format.
HDIGDRIVER open_like_the_menu(const SVXPCMFORMAT& format, std::string& description) {
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        HDIGDRIVER driver = nullptr;
        if (SVX_waveOutOpen(&driver, nullptr, -1, &format) == 0) {
            char text[128] = "Device: ";
            SVX_digital_configuration(driver, nullptr, nullptr, text + 8);
            description = text;
            if (SVX_get_preference(SVX_PREF_USE_WAVEOUT) != 0 ||
                description.find("Emulated") == std::string::npos)
                return driver;
            SVX_waveOutClose(driver);
        }
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    }
    return nullptr;
}

TEST_F(DirectSoundOpen, EmulatedDeviceSendsTheMenuToWaveOut) {
    setenv("WIN32_DSOUND", "emulated", 1);
    const SVXPCMFORMAT format = testing_support::pcm_format(22050, 1, 8);
    HDIGDRIVER first = nullptr;
    ASSERT_EQ(SVX_waveOutOpen(&first, nullptr, -1, &format), 0) << SVX_last_error();
    char text[128] = "";
    SVX_digital_configuration(first, nullptr, nullptr, text);
    EXPECT_EQ(std::string(text).rfind("Emulated DirectSound - ", 0), 0u) << text;
    SVX_waveOutClose(first);

    std::string description;
    HDIGDRIVER driver = open_like_the_menu(format, description);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(SVX_get_preference(SVX_PREF_USE_WAVEOUT), 1);
    EXPECT_EQ(description.rfind("Device: WaveOut - ", 0), 0u) << description;
    int32_t rate = 0, output = -1;
    SVX_digital_configuration(driver, &rate, &output, nullptr);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(output, SVX_OUTPUT_8_MONO);
    SVX_waveOutClose(driver);
}

TEST_F(DirectSoundOpen, MissingModuleSendsTheMenuToWaveOut) {
    setenv("WIN32_DSOUND", "absent", 1);
    const SVXPCMFORMAT format = testing_support::pcm_format(22050, 1, 8);
    HDIGDRIVER driver = nullptr;
    EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &format), 1);
    EXPECT_EQ(driver, nullptr);
    EXPECT_STREQ(SVX_last_error(), "The DirectSound DLL could not be loaded.");

    std::string description;
    driver = open_like_the_menu(format, description);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(description.rfind("Device: WaveOut - ", 0), 0u) << description;
}

TEST_F(DirectSoundOpen, ShutdownClosesDriversOfBothKindsWhateverThePreference) {
    HDIGDRIVER ds = open(22050, 2, 16);
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    HDIGDRIVER wave = open(22050, 1, 8);
    ASSERT_NE(ds, nullptr);
    ASSERT_NE(wave, nullptr);
    // With preference 15 back at 0 the export would take the waveOut
    // driver to DirectSound: shutdown must still close it, not spin.
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 0);
    SVX_shutdown();
    EXPECT_EQ(SVX_startup(), 1);
    SVX_set_DirectSound_HWND(nullptr, dstesting::test_window());
    EXPECT_NE(open(22050, 2, 16), nullptr);
}

// ---- secondary buffers ----

class DirectSoundBuffers : public DsLibrary {
protected:
    HSAMPLE sample_of_format(HDIGDRIVER driver, uint32_t format, bool looping) {
        HSAMPLE s = SVX_allocate_sample_handle(driver);
        EXPECT_NE(s, nullptr);
        SVX_set_sample_address(s, data_.data(), uint32_t(data_.size()));
        SVX_set_sample_type(s, int32_t(format), format & SVX_FORMAT_16BIT ? SVX_FLAG_SIGNED : 0);
        SVX_set_sample_playback_rate(s, 22050);
        if (looping) SVX_set_sample_loop_count(s, 0);
        return s;
    }
    Bytes data_ = dstesting::loud8(65536, 3);
};

TEST_F(DirectSoundBuffers, SampleKeepsItsBufferOnRestartAndGivesItUpOnInit) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = sample_of_format(driver, SVX_FORMAT_16BIT, true);
    SVX_start_sample(s);
    ASSERT_EQ(SVX_sample_status(s), SVX_PLAYING);
    IDirectSoundBuffer* first = buffer_of(s);
    const int32_t slot = record(s).ds_slot.load();
    ASSERT_NE(first, nullptr);
    SVX_start_sample(s);
    EXPECT_EQ(buffer_of(s), first);
    EXPECT_EQ(record(s).ds_slot.load(), slot);

    SVX_init_sample(s);
    EXPECT_EQ(record(s).ds_slot.load(), -1);
    EXPECT_EQ(buffer_of(s), nullptr);
    EXPECT_EQ(record(driver).ds_owners[slot], nullptr);
    // The buffer stays in its slot for the next sample of its format.
    EXPECT_EQ(record(driver).ds_buffers[slot], first);
}

TEST_F(DirectSoundBuffers, NewFormatWithoutInitGetsAMatchingBuffer) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = sample_of_format(driver, 0, true);
    SVX_start_sample(s);
    const int32_t eight = record(s).ds_slot.load();
    ASSERT_GE(eight, 0);
    EXPECT_EQ(record(driver).ds_formats[eight], 0u);
    SVX_set_sample_type(s, SVX_FORMAT_16BIT, SVX_FLAG_SIGNED);
    SVX_start_sample(s);
    const int32_t sixteen = record(s).ds_slot.load();
    ASSERT_GE(sixteen, 0);
    EXPECT_EQ(record(driver).ds_formats[sixteen], uint32_t(SVX_FORMAT_16BIT));
}

TEST_F(DirectSoundBuffers, FinishedSamplesBufferIsHandedOverToTheSameFormat) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE a = sample_of_format(driver, SVX_FORMAT_16BIT, true);
    HSAMPLE other = sample_of_format(driver, 0, true);
    SVX_start_sample(a);
    SVX_start_sample(other);
    IDirectSoundBuffer* first = buffer_of(a);
    const int32_t slot = record(a).ds_slot.load();
    SVX_end_sample(a);
    EXPECT_EQ(SVX_sample_status(a), SVX_DONE);

    HSAMPLE b = sample_of_format(driver, SVX_FORMAT_16BIT, false);
    SVX_start_sample(b);
    EXPECT_EQ(SVX_sample_status(b), SVX_PLAYING);
    EXPECT_EQ(buffer_of(b), first);
    EXPECT_EQ(record(b).ds_slot.load(), slot);
    EXPECT_EQ(record(a).ds_slot.load(), -1);
    EXPECT_EQ(buffer_of(a), nullptr);
    // The other format's owner is not disturbed.
    EXPECT_NE(buffer_of(other), nullptr);
    EXPECT_EQ(SVX_sample_status(other), SVX_PLAYING);
}

TEST_F(DirectSoundBuffers, WithoutAnEmptySlotABufferOfAnotherFormatIsRemade) {
    SVX_set_preference(SVX_PREF_SAMPLE_HANDLES, 3);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE a = sample_of_format(driver, SVX_FORMAT_16BIT, true);
    HSAMPLE b = sample_of_format(driver, 0, true);
    HSAMPLE c = sample_of_format(driver, SVX_FORMAT_16BIT | SVX_FORMAT_STEREO, true);
    SVX_start_sample(a);
    SVX_start_sample(b);
    const int32_t slot_a = record(a).ds_slot.load();
    const int32_t slot_b = record(b).ds_slot.load();
    ASSERT_NE(slot_a, slot_b);

    // One empty slot left: c gets a buffer of its own format there.
    SVX_start_sample(c);
    const int32_t slot_c = record(c).ds_slot.load();
    ASSERT_GE(slot_c, 0);
    EXPECT_NE(slot_c, slot_a);
    EXPECT_NE(slot_c, slot_b);

    // No empty slot now. c, re-initialised for stereo 8-bit data, finds
    // no buffer of that format whose owner is done or free: the last such
    // slot (b's or its own old one) is released and made again for it.
    SVX_end_sample(c);
    SVX_init_sample(c);
    SVX_set_sample_address(c, data_.data(), uint32_t(data_.size()));
    SVX_set_sample_type(c, SVX_FORMAT_STEREO, 0);
    SVX_set_sample_loop_count(c, 0);
    SVX_end_sample(b);
    SVX_start_sample(c);
    EXPECT_EQ(SVX_sample_status(c), SVX_PLAYING);
    const int32_t remade = record(c).ds_slot.load();
    EXPECT_EQ(remade, std::max(slot_b, slot_c));
    EXPECT_EQ(record(driver).ds_formats[remade], uint32_t(SVX_FORMAT_STEREO));
    EXPECT_EQ(record(b).ds_slot.load(), remade == slot_b ? -1 : slot_b);
    EXPECT_EQ(record(a).ds_slot.load(), slot_a);

    // b takes what is left: there are as many slots as samples.
    SVX_start_sample(b);
    EXPECT_EQ(SVX_sample_status(b), SVX_PLAYING);
    EXPECT_GE(record(b).ds_slot.load(), 0);
}

TEST_F(DirectSoundBuffers, DirectBufferControlAndInfo) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = sample_of_format(driver, SVX_FORMAT_16BIT, true);
    EXPECT_EQ(SVX_set_direct_buffer_control(s, 1), 0);
    EXPECT_EQ(SVX_set_direct_buffer_control(s, 2), 1);
    EXPECT_EQ(SVX_set_direct_buffer_control(nullptr, 2), 0);

    void* object = nullptr;
    void* buffer = reinterpret_cast<void*>(uintptr_t(0xDEAD0));
    // No buffer yet: the object only, and the first out pointer back.
    EXPECT_EQ(SVX_get_DirectSound_info(s, &object, &buffer), reinterpret_cast<uintptr_t>(&object));
    EXPECT_EQ(object, record(driver).ds_object);
    EXPECT_EQ(buffer, reinterpret_cast<void*>(uintptr_t(0xDEAD0)));
    SVX_start_sample(s);
    const uintptr_t result = SVX_get_DirectSound_info(s, &object, &buffer);
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(result, reinterpret_cast<uintptr_t>(buffer));
    EXPECT_EQ(SVX_get_DirectSound_info(nullptr, &object, &buffer), 0u);

    // waveOut: preference 15's value, nothing written.
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    EXPECT_EQ(SVX_set_direct_buffer_control(s, 5), 0);
    EXPECT_EQ(SVX_get_DirectSound_info(s, &object, &buffer), 1u);
}

TEST_F(DirectSoundBuffers, VolumePanAndMasterVolumeReachTheBuffer) {
    for (uint16_t channels : {uint16_t(2), uint16_t(1)}) {
        HDIGDRIVER driver = open(22050, channels, 16);
        ASSERT_NE(driver, nullptr);
        HSAMPLE s = sample_of_format(driver, SVX_FORMAT_16BIT, true);
        SVX_start_sample(s);
        IDirectSoundBuffer* buffer = buffer_of(s);
        ASSERT_NE(buffer, nullptr);
        SVX_set_sample_volume(s, 64);
        SVX_set_sample_pan(s, 32);
        LONG volume = 1, pan = 1, master_volume = 1;
        DWORD frequency = 0;
        SVX_set_digital_master_volume(driver, 127);
        // Calls into the buffer behind the library's back hold its lock, so
        // that the service never waits on a suspended caller.
        SVX_lock();
        buffer->GetVolume(&volume);
        buffer->GetPan(&pan);
        SVX_unlock();
        SVX_set_digital_master_volume(driver, 64);
        SVX_set_sample_playback_rate(s, 11025);
        SVX_lock();
        buffer->GetVolume(&master_volume);
        buffer->GetFrequency(&frequency);
        SVX_unlock();
        EXPECT_EQ(volume, -595);
        // Mono output leaves the pan alone.
        EXPECT_EQ(pan, channels == 2 ? -588 : 0);
        EXPECT_EQ(master_volume, -1197);
        EXPECT_EQ(frequency, 11025u);
        SVX_waveOutClose(driver);
    }
}

TEST_F(DirectSoundBuffers, SegmentLongerThanASecondStillGetsLooksAtTheCursor) {
    // 64 KiB halves hold 1.5 s of 8-bit mono sound at 44,100 Hz.
    SVX_set_preference(SVX_PREF_DS_BUFFER_SIZE, 131072);
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE s = sample_of_format(driver, 0, true);
    SVX_set_sample_address(s, data_.data(), 50000);  // a loop that does not divide a segment
    SVX_set_sample_playback_rate(s, 44100);
    SVX_start_sample(s);
    ASSERT_EQ(SVX_sample_status(s), SVX_PLAYING);
    EXPECT_EQ(record(s).ds_segment_size.load(), 65536u);
    EXPECT_EQ(record(s).ds_interval.load(), 371);
    // The position moves on as the service refills behind the cursor.
    const uint32_t first = SVX_sample_position(s);
    EXPECT_TRUE(dstesting::wait_for([&] { return SVX_sample_position(s) != first; }, 5000));
}

// ---- release and reacquire ----

TEST_F(DirectSoundBuffers, ReleaseSuspendsAndReacquirePlaysOn) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    HSAMPLE playing = sample_of_format(driver, SVX_FORMAT_16BIT, false);
    HSAMPLE later = sample_of_format(driver, 0, false);
    SVX_start_sample(playing);
    ASSERT_EQ(SVX_sample_status(playing), SVX_PLAYING);
    const uint32_t reached = SVX_sample_position(playing);
    EXPECT_GT(reached, 0u);

    EXPECT_EQ(SVX_digital_handle_release(driver), 1);
    EXPECT_EQ(SVX_digital_handle_release(driver), 1);
    EXPECT_EQ(SVX_sample_status(playing), SVX_SUSPENDED);
    EXPECT_EQ(buffer_of(playing), nullptr);
    EXPECT_EQ(record(driver).ds_object, nullptr);
    char text[128] = "";
    SVX_digital_configuration(driver, nullptr, nullptr, text);
    EXPECT_STREQ(text, "DirectSound - released.");
    SVX_start_sample(later);
    EXPECT_EQ(SVX_sample_status(later), SVX_SUSPENDED);
    SVX_set_sample_volume(later, 10);  // no buffer to reach: nothing breaks

    EXPECT_EQ(SVX_digital_handle_reacquire(driver), 1);
    EXPECT_EQ(SVX_digital_handle_reacquire(driver), 1);
    EXPECT_EQ(SVX_sample_status(playing), SVX_PLAYING);
    EXPECT_EQ(SVX_sample_status(later), SVX_PLAYING);
    EXPECT_NE(buffer_of(playing), nullptr);
    EXPECT_NE(buffer_of(later), nullptr);
    // Not rewound: it goes on from the data it had reached.
    EXPECT_GE(SVX_sample_position(playing), reached);
    EXPECT_EQ(SVX_digital_handle_release(nullptr), 0);
    EXPECT_EQ(SVX_digital_handle_reacquire(nullptr), 0);
}

TEST_F(DirectSoundBuffers, MinimumDoubleBufferSize) {
    HDIGDRIVER driver = open(22050, 2, 16);
    ASSERT_NE(driver, nullptr);
    // 16-bit stereo 44,100 Hz: 176,400 bytes a second, a tenth nearest
    // 16,384; 8-bit mono counts as 44,100 Hz: 4,410 -> 4,096.
    EXPECT_EQ(SVX_minimum_sample_buffer_size(driver, 44100, 3), 32768);
    EXPECT_EQ(SVX_minimum_sample_buffer_size(driver, 11025, 0), 8192);
    SVX_set_preference(SVX_PREF_DS_BUFFER_SIZE, 8192);
    EXPECT_EQ(SVX_minimum_sample_buffer_size(driver, 44100, 3), 8192);
    EXPECT_EQ(SVX_minimum_sample_buffer_size(nullptr, 44100, 3), 0);
}

}  // namespace
