// Helpers of the DirectSound output tests: the library started on
// DirectSound with a window for the cooperative level, WAV images built
// here, and the driver and sample records behind the handles.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "digital/dsound_driver.h"
#include "digital_support.h"
#include "win32/kernel.h"

namespace dstesting {

using testing_support::Bytes;
using testing_support::put16;
using testing_support::put32;
using testing_support::put_text;

inline HWND test_window() {
    return reinterpret_cast<HWND>(uintptr_t(0x5A5A0));
}

// A RIFF WAVE image of PCM data.
inline Bytes pcm_wav(uint32_t rate, uint16_t channels, uint16_t bits, const Bytes& data) {
    Bytes b;
    put_text(b, "RIFF");
    put32(b, uint32_t(36 + data.size()));
    put_text(b, "WAVEfmt ");
    put32(b, 16);
    put16(b, 1);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, uint16_t(channels * bits / 8));
    put16(b, bits);
    put_text(b, "data");
    put32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// 8-bit unsigned data that is never silence (0x80).
inline Bytes loud8(size_t count, uint32_t seed) {
    Bytes data(count);
    for (auto& b : data) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
        if (b == 0x80) b = 0x81;
    }
    return data;
}

// 16-bit signed values that are never 0, and their bytes.
inline std::vector<int16_t> loud16(size_t count, uint32_t seed) {
    std::vector<int16_t> values(count);
    for (auto& v : values) {
        seed = seed * 1664525u + 1013904223u;
        v = int16_t(seed >> 16);
        if (v == 0) v = 1;
    }
    return values;
}
inline Bytes bytes_of(const std::vector<int16_t>& values) {
    Bytes b;
    for (int16_t v : values) put16(b, uint16_t(v));
    return b;
}

using testing_support::wait_for;

// The library on DirectSound (preference 15 = 0, its default), audio on
// the device named by `audio` (null unless a test captures).
class DsLibrary : public testing_support::SoundLibrary {
protected:
    void SetUp() override {
        setenv("WIN32_AUDIO", "null", 1);
        setenv("WIN32_DSOUND", "native", 1);
        ASSERT_EQ(SVX_startup(), 1);
        ASSERT_EQ(SVX_get_preference(SVX_PREF_USE_WAVEOUT), 0);
        SVX_set_DirectSound_HWND(nullptr, test_window());
    }
    void TearDown() override {
        SVX_shutdown();
        for (void* image : images_) SVX_mem_free_lock(image);
        unsetenv("WIN32_AUDIO");
        unsetenv("WIN32_DSOUND");
    }

    const void* image(const Bytes& bytes) {
        void* block = SVX_mem_alloc_lock(int32_t(bytes.size()));
        EXPECT_NE(block, nullptr);
        if (!block) return nullptr;
        std::memcpy(block, bytes.data(), bytes.size());
        images_.push_back(block);
        return block;
    }

    HDIGDRIVER open(uint32_t rate, uint16_t channels, uint16_t bits) {
        const SVXPCMFORMAT format = testing_support::pcm_format(rate, channels, bits);
        HDIGDRIVER driver = nullptr;
        EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &format), 0) << SVX_last_error();
        return driver;
    }

    // A sample of the driver set up from a WAV image, as the menu does it.
    HSAMPLE file_sample(HDIGDRIVER driver, const Bytes& wav, int32_t volume = 127,
                        int32_t pan = 64) {
        HSAMPLE s = SVX_allocate_sample_handle(driver);
        EXPECT_NE(s, nullptr);
        SVX_init_sample(s);
        EXPECT_EQ(SVX_set_sample_file(s, image(wav), 0), 1) << SVX_last_error();
        SVX_set_sample_volume(s, volume);
        SVX_set_sample_pan(s, pan);
        return s;
    }

    static svx::digital::Sample& record(HSAMPLE s) { return *svx::digital::sample_of(s); }
    static svx::digital::DigitalDriver& record(HDIGDRIVER d) { return *svx::digital::driver_of(d); }

    static IDirectSoundBuffer* buffer_of(HSAMPLE s) {
        void* object = nullptr;
        void* buffer = nullptr;
        SVX_get_DirectSound_info(s, &object, &buffer);
        return static_cast<IDirectSoundBuffer*>(buffer);
    }

private:
    std::vector<void*> images_;
};

}  // namespace dstesting
