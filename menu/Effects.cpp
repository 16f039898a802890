#include "Effects.h"

#include <cstring>

HDIGDRIVER DigitalDriver = nullptr;
HSAMPLE SampleHandles[kSampleHandles] = {};
int32_t SampleCount = 0;
int32_t SampleBaseRates[kSampleHandles] = {};
int32_t OutputRate = 22050;
int32_t OutputBits = 8;
int32_t OutputChannels = 1;

int32_t PitchedRate(int32_t base_rate, int32_t pitch) {
    // A 32-bit product, as the effect tables were worked out with.
    const uint32_t product = uint32_t(base_rate) * uint32_t(pitch + 1);
    return int32_t(product) >> 6;
}

void DeviceDescription(HDIGDRIVER driver, char* text, size_t size) {
    static constexpr char kPrefix[] = "Device: ";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    if (!text || size == 0) return;
    text[0] = '\0';
    if (size <= kPrefixLength) return;
    // The library may write a description of any length: it goes into a
    // scratch area of its own first, and only what fits is kept.
    static char scratch[4096];
    std::memset(scratch, 0, sizeof scratch);
    SVX_digital_configuration(driver, nullptr, nullptr, scratch);
    scratch[sizeof scratch - 1] = '\0';
    std::memcpy(text, kPrefix, kPrefixLength);
    const size_t room = size - kPrefixLength - 1;
    const size_t n = strnlen(scratch, room);
    std::memcpy(text + kPrefixLength, scratch, n);
    text[kPrefixLength + n] = '\0';
}

HDIGDRIVER OpenDigitalOutput() {
    HDIGDRIVER driver = nullptr;
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 0);  // DirectSound first
    while (OutputRate >= 11025) {
        SVXPCMFORMAT format{};
        const int32_t bytes = OutputBits / 8;
        format.format_tag = 1;
        format.channels = uint16_t(OutputChannels);
        format.rate = uint32_t(OutputRate);
        format.average_bytes_per_second = uint32_t(bytes * OutputRate * OutputChannels);
        format.block_align = uint16_t(bytes * OutputChannels);
        format.bits_per_sample = uint16_t(OutputBits);
        const int32_t r = SVX_waveOutOpen(&driver, nullptr, -1, &format);
        if (r == 0) {
            char text[kDeviceTextSize];
            DeviceDescription(driver, text, sizeof text);
            if (SVX_get_preference(SVX_PREF_USE_WAVEOUT) == 0 && std::strstr(text, "Emulated")) {
                // Emulated DirectSound mixes in software behind waveOut anyway.
                SVX_waveOutClose(driver);
                driver = nullptr;
                SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
                continue;
            }
            return driver;
        }
        driver = nullptr;
        if (SVX_get_preference(SVX_PREF_USE_WAVEOUT) == 0) {
            SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
            continue;
        }
        OutputRate /= 2;
        if (OutputRate < 11025 && OutputBits != 8) {
            OutputRate = 22050;
            OutputBits = 8;
        }
    }
    return nullptr;
}

void SoundStartup() {
    SVX_startup();
    DigitalDriver = OpenDigitalOutput();
    SampleCount = 0;
    for (int i = 0; i < kSampleHandles; ++i) {
        HSAMPLE h = SVX_allocate_sample_handle(DigitalDriver);
        SampleHandles[i] = h;
        if (!h) break;
        ++SampleCount;
    }
}

void PlayEffect(const void* image, int32_t volume, int32_t pan, int32_t pitch, int32_t loops) {
    // An effect that could not be read stays silent.
    if (!image) return;
    int i = 0;
    while (i < SampleCount && SVX_sample_status(SampleHandles[i]) != SVX_DONE) ++i;
    if (i >= SampleCount) return;  // every handle busy: dropped, not queued
    HSAMPLE h = SampleHandles[i];
    SVX_init_sample(h);
    SVX_set_sample_file(h, image, 0);
    SVX_set_sample_volume(h, volume);
    SVX_set_sample_pan(h, pan);
    SVX_set_sample_loop_count(h, loops);
    SampleBaseRates[i] = SVX_sample_playback_rate(h);
    SVX_set_sample_playback_rate(h, PitchedRate(SampleBaseRates[i], pitch));
    SVX_start_sample(h);
}

void SoundShutdown() {
    if (DigitalDriver) {
        for (int i = 0; i < SampleCount; ++i) SVX_end_sample(SampleHandles[i]);
    }
    SVX_shutdown();
    // Shutting the library down freed the driver and its handles.
    DigitalDriver = nullptr;
    SampleCount = 0;
}
