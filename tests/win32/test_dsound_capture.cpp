// What DirectSound buffers sound like: played through the wav: backend and
// found in the capture with their data, rate, volume and pan; and the play
// cursor following real time on the null device.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dsound_support.h"

namespace {

using namespace std::chrono_literals;
using dstest::buffer_desc;
using dstest::Capture;
using dstest::kControls;
using dstest::Module;
using dstest::Ref;
using mmtest::pcm;
using mmtest::ScopedEnv;

// Plays `data` once in a buffer of format `in` on a primary buffer of
// format `out` at volume `master`, and returns the capture. `setup` may
// change the buffer before it plays; `played_ms` gets how long it played.
Capture play_once(WAVEFORMATEX out, WAVEFORMATEX in, const std::vector<uint8_t>& data,
                  const std::function<void(IDirectSoundBuffer*)>& setup = {},
                  long long* played_ms = nullptr, LONG master = 0) {
    std::string path = mmtest::scratch_path("dsound.wav");
    {
        ScopedEnv env("WIN32_AUDIO", "wav:" + path);
        Module m;
        EXPECT_NE(m.create, nullptr);
        if (!m.create) return {};
        Ref<IDirectSound> ds;
        EXPECT_EQ(m.create(nullptr, ds.out(), nullptr), DS_OK);
        EXPECT_EQ(ds->SetCooperativeLevel(dstest::some_window(), DSSCL_PRIORITY), DS_OK);
        Ref<IDirectSoundBuffer> primary;
        DSBUFFERDESC pd = buffer_desc(DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRLVOLUME, 0, nullptr);
        EXPECT_EQ(ds->CreateSoundBuffer(&pd, primary.out(), nullptr), DS_OK);
        EXPECT_EQ(primary->SetFormat(&out), DS_OK);
        EXPECT_EQ(primary->SetVolume(master), DS_OK);
        EXPECT_EQ(primary->Play(0, 0, DSBPLAY_LOOPING), DS_OK);

        Ref<IDirectSoundBuffer> b;
        DSBUFFERDESC d = buffer_desc(kControls, DWORD(data.size()), &in);
        EXPECT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
        if (!b) return {};
        EXPECT_EQ(dstest::write_buffer(b.get(), 0, data), DS_OK);
        if (setup) setup(b.get());
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(b->Play(0, 0, 0), DS_OK);
        EXPECT_TRUE(dstest::wait_stopped(b.get()));
        if (played_ms) *played_ms = mmtest::elapsed_ms(start);
    }
    Capture c = dstest::read_capture(path);
    std::filesystem::remove(path);
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.rate, out.nSamplesPerSec);
    EXPECT_EQ(c.channels, out.nChannels);
    EXPECT_EQ(c.bits, out.wBitsPerSample);
    return c;
}

// Bytes of a format whose every sample is audible (never the silence value),
// so that the sounding part of a capture is exactly the sound.
std::vector<uint8_t> loud_noise(size_t bytes, int bits, uint32_t seed) {
    std::vector<uint8_t> out(bytes);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
        if (bits == 8 && b == 0x80) b = 0x81;
    }
    if (bits == 16)
        for (size_t i = 0; i + 1 < bytes; i += 2)
            if (out[i] == 0 && out[i + 1] == 0) out[i] = 1;
    return out;
}

int32_t widened(const std::vector<uint8_t>& data, int bits, size_t index) {
    if (bits == 8) return (int32_t(data[index]) - 128) * 256;
    return int16_t(uint16_t(data[2 * index] | data[2 * index + 1] << 8));
}

TEST(DirectSoundCapture, BufferAtThePrimaryRateIsHeardUnchanged) {
    struct Case {
        const char* what;
        WAVEFORMATEX in, out;
    } cases[] = {
        {"16-bit mono on 16-bit stereo", pcm(1, 16, 22050), pcm(2, 16, 22050)},
        {"8-bit mono on 8-bit mono", pcm(1, 8, 22050), pcm(1, 8, 22050)},
        {"16-bit stereo on 16-bit stereo", pcm(2, 16, 22050), pcm(2, 16, 22050)},
        {"8-bit stereo on 16-bit stereo", pcm(2, 8, 11025), pcm(2, 16, 11025)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t frames = c.in.nSamplesPerSec / 5;  // 200 ms
        std::vector<uint8_t> data = loud_noise(frames * c.in.nBlockAlign, c.in.wBitsPerSample, 5);
        Capture cap = play_once(c.out, c.in, data);
        dstest::Span s = dstest::sounding(cap);
        ASSERT_EQ(s.length(), frames);
        for (size_t f = 0; f < frames; ++f) {
            for (int ch = 0; ch < cap.channels; ++ch) {
                size_t index = c.in.nChannels == 1 ? f : f * 2 + ch;
                ASSERT_EQ(cap.at(s.begin + f, ch), widened(data, c.in.wBitsPerSample, index))
                    << "frame " << f << " channel " << ch;
            }
        }
    }
}

// A tone with a phase that makes its first sample audible.
std::vector<uint8_t> tone(const WAVEFORMATEX& f, double hz, double seconds, double amplitude) {
    const size_t frames = size_t(f.nSamplesPerSec * seconds);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < frames; ++i) {
        double v = amplitude * std::sin(2 * M_PI * hz * double(i) / f.nSamplesPerSec + M_PI / 4);
        for (int ch = 0; ch < f.nChannels; ++ch) {
            if (f.wBitsPerSample == 8) {
                out.push_back(uint8_t(std::lround(128 + v / 256)));
            } else {
                auto s = uint16_t(int16_t(std::lround(v)));
                out.push_back(uint8_t(s));
                out.push_back(uint8_t(s >> 8));
            }
        }
    }
    return out;
}

// Frequency from the sign changes of the first channel.
double measured_hz(const Capture& c, dstest::Span s) {
    int changes = 0;
    for (size_t f = s.begin + 1; f < s.end; ++f)
        if ((c.at(f - 1, 0) < 0) != (c.at(f, 0) < 0)) ++changes;
    return changes / 2.0 / (double(s.length()) / c.rate);
}

TEST(DirectSoundCapture, OtherRatesAreConvertedToThePrimaryRate) {
    struct Case {
        const char* what;
        WAVEFORMATEX in, out;
        double hz, seconds;
    } cases[] = {
        {"8-bit 11025 up to 44100", pcm(1, 8, 11025), pcm(2, 16, 44100), 500, 0.5},
        {"16-bit 44100 down to 22050 mono", pcm(1, 16, 44100), pcm(1, 16, 22050), 1000, 0.25},
        {"16-bit stereo 8000 up to 22050 8-bit", pcm(2, 16, 8000), pcm(2, 8, 22050), 300, 0.4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Capture cap = play_once(c.out, c.in, tone(c.in, c.hz, c.seconds, 20000));
        dstest::Span s = dstest::sounding(cap);
        const double expected_frames = c.seconds * c.out.nSamplesPerSec;
        EXPECT_NEAR(double(s.length()), expected_frames, 4.0);
        EXPECT_NEAR(measured_hz(cap, s), c.hz, c.hz * 0.02);
    }
}

// Gains of DirectSound's attenuation: 10^(hundredths / 2000).
double db_gain(LONG hundredths) { return hundredths <= -10000 ? 0 : std::pow(10.0, hundredths / 2000.0); }

TEST(DirectSoundCapture, VolumeAndPanAttenuateAsDirectSoundDoes) {
    struct Case {
        LONG volume, pan;
        WORD out_channels;
        double left, right;  // expected gains
        LONG master = 0;     // the primary buffer's volume
    } cases[] = {
        {0, 0, 2, 1, 1},
        {-600, 0, 2, db_gain(-600), db_gain(-600)},
        {-2000, 0, 2, 0.1, 0.1},
        {0, -10000, 2, 1, 0},
        {0, 10000, 2, 0, 1},
        {0, -600, 2, 1, db_gain(-600)},
        {-600, 1200, 2, db_gain(-1800), db_gain(-600)},
        {-300, -9000, 2, db_gain(-300), db_gain(-9300)},
        {-1000, -10000, 1, db_gain(-1000), db_gain(-1000)},  // mono output ignores pan
        {-10000, 0, 2, 0, 0},
        {-600, 0, 2, db_gain(-1200), db_gain(-1200), -600},  // the primary attenuates the mix
    };
    constexpr int32_t kLevel = 16000;
    std::vector<uint8_t> dc;
    for (int i = 0; i < 2205; ++i) {
        dc.push_back(uint8_t(kLevel & 0xFF));
        dc.push_back(uint8_t(kLevel >> 8));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE("volume " + std::to_string(c.volume) + " pan " + std::to_string(c.pan) +
                     " channels " + std::to_string(c.out_channels) + " master " +
                     std::to_string(c.master));
        Capture cap = play_once(pcm(c.out_channels, 16, 22050), pcm(1, 16, 22050), dc,
                                [&](IDirectSoundBuffer* b) {
                                    EXPECT_EQ(b->SetVolume(c.volume), DS_OK);
                                    EXPECT_EQ(b->SetPan(c.pan), DS_OK);
                                    LONG v = 1, p = 1;
                                    EXPECT_EQ(b->GetVolume(&v), DS_OK);
                                    EXPECT_EQ(b->GetPan(&p), DS_OK);
                                    EXPECT_EQ(v, c.volume);
                                    EXPECT_EQ(p, c.pan);
                                },
                                nullptr, c.master);
        dstest::Span s = dstest::sounding(cap);
        if (c.left == 0 && c.right == 0) {
            EXPECT_EQ(s.length(), 0u);
            continue;
        }
        ASSERT_EQ(s.length(), 2205u);
        for (size_t f = s.begin; f < s.end; f += 100) {
            EXPECT_NEAR(cap.at(f, 0), kLevel * c.left, 2.0);
            if (cap.channels == 2) {
                EXPECT_NEAR(cap.at(f, 1), kLevel * c.right, 2.0);
            }
        }
    }
}

TEST(DirectSoundCapture, HalvingTheFrequencyDoublesTheDuration) {
    const WAVEFORMATEX f = pcm(1, 16, 22050);
    std::vector<uint8_t> data = loud_noise(4410 * 2, 16, 9);  // 200 ms
    long long original_ms = 0, halved_ms = 0;
    Capture original = play_once(f, f, data, {}, &original_ms);
    Capture halved = play_once(
        f, f, data,
        [](IDirectSoundBuffer* b) {
            ASSERT_EQ(b->SetFrequency(11025), DS_OK);
            DWORD hz = 0;
            EXPECT_EQ(b->GetFrequency(&hz), DS_OK);
            EXPECT_EQ(hz, 11025u);
        },
        &halved_ms);
    EXPECT_EQ(dstest::sounding(original).length(), 4410u);
    EXPECT_NEAR(double(dstest::sounding(halved).length()), 8820.0, 2.0);
    // Heard in real time: the slowed buffer plays for about 400 ms.
    EXPECT_GE(original_ms, 150);
    EXPECT_GE(halved_ms, 350);
    EXPECT_LT(halved_ms, 3000);
}

TEST(DirectSoundCursor, PlayCursorFollowsRealTimeAndStopsAtTheEnd) {
    ScopedEnv audio("WIN32_AUDIO", "null");
    Module m;
    ASSERT_NE(m.create, nullptr);
    Ref<IDirectSound> ds;
    ASSERT_EQ(m.create(nullptr, ds.out(), nullptr), DS_OK);
    ASSERT_EQ(ds->SetCooperativeLevel(dstest::some_window(), DSSCL_NORMAL), DS_OK);
    WAVEFORMATEX f = pcm(1, 16, 22050);
    const DWORD bytes = 22050;  // 500 ms
    DSBUFFERDESC d = buffer_desc(kControls, bytes, &f);
    Ref<IDirectSoundBuffer> b, legacy;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
    d.dwFlags &= ~DWORD(DSBCAPS_GETCURRENTPOSITION2);
    ASSERT_EQ(ds->CreateSoundBuffer(&d, legacy.out(), nullptr), DS_OK);

    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    ASSERT_EQ(legacy->Play(0, 0, 0), DS_OK);
    DWORD last = 0;
    long long ended_ms = -1;
    bool lagged = false;
    while (mmtest::elapsed_ms(start) < 3000) {
        DWORD play = 0, write = 0, status = 0;
        ASSERT_EQ(b->GetStatus(&status), DS_OK);
        ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
        long long now = mmtest::elapsed_ms(start);
        if (!(status & DSBSTATUS_PLAYING)) {
            ended_ms = now;
            EXPECT_EQ(play, 0u);
            break;
        }
        EXPECT_GE(play, last);
        // The write cursor leads by what is mixed but not heard yet; at the
        // end of a once-buffer it has wrapped to the start.
        const DWORD lead = (write + bytes - play) % bytes;
        EXPECT_LT(lead, bytes / 2);
        lagged = lagged || lead > 0;
        last = play;
        // Never ahead of real time; behind by little more than the mix ahead.
        double heard_ms = play / 44.1;
        EXPECT_LE(heard_ms, double(now) + 5);
        EXPECT_GE(heard_ms, double(now) - 250);
        // The old rule reports the cursor where mixing stands.
        DWORD old_play = 0, old_write = 0;
        ASSERT_EQ(legacy->GetCurrentPosition(&old_play, &old_write), DS_OK);
        if (dstest::status_of(legacy.get()) & DSBSTATUS_PLAYING) {
            EXPECT_EQ(old_play, old_write);
        }
        std::this_thread::sleep_for(15ms);
    }
    EXPECT_TRUE(lagged) << "the write cursor should lead what is heard";
    EXPECT_GE(ended_ms, 450);
    EXPECT_LT(ended_ms, 1500);
    // Once it has ended it stays where it is.
    std::this_thread::sleep_for(50ms);
    DWORD play = 1, write = 1;
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 0u);
    EXPECT_EQ(write, 0u);
}

TEST(DirectSoundCursor, LoopingWrapsUntilStopped) {
    ScopedEnv audio("WIN32_AUDIO", "null");
    Module m;
    ASSERT_NE(m.create, nullptr);
    Ref<IDirectSound> ds;
    ASSERT_EQ(m.create(nullptr, ds.out(), nullptr), DS_OK);
    ASSERT_EQ(ds->SetCooperativeLevel(dstest::some_window(), DSSCL_NORMAL), DS_OK);
    WAVEFORMATEX f = pcm(2, 8, 11025);
    DSBUFFERDESC d = buffer_desc(kControls, 2205, &f);  // 100 ms, not whole frames
    Ref<IDirectSoundBuffer> b;
    ASSERT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    int wraps = 0;
    DWORD last = 0;
    auto start = std::chrono::steady_clock::now();
    while (mmtest::elapsed_ms(start) < 450) {
        DWORD play = 0;
        ASSERT_EQ(b->GetCurrentPosition(&play, nullptr), DS_OK);
        EXPECT_LT(play, 2204u);
        EXPECT_EQ(play % 2, 0u);
        if (play < last) ++wraps;
        last = play;
        std::this_thread::sleep_for(7ms);
    }
    EXPECT_GE(wraps, 2);
    EXPECT_EQ(dstest::status_of(b.get()), DWORD(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));

    ASSERT_EQ(b->Stop(), DS_OK);
    EXPECT_EQ(dstest::status_of(b.get()), 0u);
    DWORD first = 0, later = 0;
    ASSERT_EQ(b->GetCurrentPosition(&first, nullptr), DS_OK);
    std::this_thread::sleep_for(60ms);
    ASSERT_EQ(b->GetCurrentPosition(&later, nullptr), DS_OK);
    EXPECT_EQ(first, later);
}

}  // namespace
