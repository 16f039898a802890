// The process has one audio output, as it has one sound card: waveOut
// devices and DirectSound objects open at the same time are mixed into
// it, a device in another format is converted on the way in, and a wav:
// capture holds everything heard in the process, in order, however often
// devices were opened and closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dsound_support.h"
#include "output_device.h"
#include "win32/winmm.h"

namespace {

using namespace std::chrono_literals;
using dstest::Capture;
using mmtest::pcm;
using mmtest::ScopedEnv;

// One waveOut device playing a constant value, closed when it is done.
class Tone {
public:
    Tone(WAVEFORMATEX format, int32_t value, uint32_t frames) : format_(format) {
        const int bytes = format.wBitsPerSample / 8;
        data_.resize(size_t(frames) * format.nBlockAlign);
        for (size_t i = 0; i < data_.size(); i += size_t(bytes)) {
            if (bytes == 1) {
                data_[i] = uint8_t((value >> 8) + 128);
            } else {
                data_[i] = uint8_t(value & 0xFF);
                data_[i + 1] = uint8_t((value >> 8) & 0xFF);
            }
        }
        header_.lpData = reinterpret_cast<LPSTR>(data_.data());
        header_.dwBufferLength = DWORD(data_.size());
    }

    MMRESULT start() {
        MMRESULT r = waveOutOpen(&handle_, 0, &format_, 0, 0, CALLBACK_NULL);
        if (r != MMSYSERR_NOERROR) return r;
        r = waveOutPrepareHeader(handle_, &header_, sizeof header_);
        if (r != MMSYSERR_NOERROR) return r;
        return waveOutWrite(handle_, &header_, sizeof header_);
    }

    bool finish(std::chrono::milliseconds limit = 10s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!(std::atomic_ref<DWORD>(header_.dwFlags).load() & WHDR_DONE)) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(1ms);
        }
        waveOutUnprepareHeader(handle_, &header_, sizeof header_);
        const bool closed = waveOutClose(handle_) == MMSYSERR_NOERROR;
        handle_ = nullptr;
        return closed;
    }

    ~Tone() {
        if (!handle_) return;
        waveOutReset(handle_);
        waveOutUnprepareHeader(handle_, &header_, sizeof header_);
        waveOutClose(handle_);
    }

private:
    WAVEFORMATEX format_;
    std::vector<uint8_t> data_;
    WAVEHDR header_{};
    HWAVEOUT handle_ = nullptr;
};

// How many captured samples hold each value.
std::map<int32_t, size_t> histogram(const Capture& c) {
    std::map<int32_t, size_t> counts;
    for (int32_t s : c.samples) ++counts[s];
    return counts;
}

class Output : public ::testing::Test {
protected:
    void SetUp() override { path_ = mmtest::scratch_path("output.wav"); }
    void TearDown() override { std::filesystem::remove(path_); }

    ScopedEnv capture_here() { return ScopedEnv("WIN32_AUDIO", "wav:" + path_); }
    Capture capture() {
        Capture c = dstest::read_capture(path_);
        EXPECT_EQ(c.error, "");
        return c;
    }

    std::string path_;
};

TEST_F(Output, TwoDevicesAtOnceAreMixedIntoOneCapture) {
    {
        ScopedEnv env = capture_here();
        Tone first(pcm(1, 16, 22050), 1000, 22050);  // 1 s
        Tone second(pcm(2, 8, 22050), 16 * 256, 5512);
        ASSERT_EQ(first.start(), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(second.start(), MMSYSERR_NOERROR) << "a second device must open beside the first";
        ASSERT_TRUE(second.finish());
        ASSERT_TRUE(first.finish());
    }
    Capture c = capture();
    // The output plays the format of the device that opened it.
    EXPECT_EQ(c.channels, 1);
    EXPECT_EQ(c.bits, 16);
    EXPECT_EQ(c.rate, 22050u);
    std::map<int32_t, size_t> counts = histogram(c);
    EXPECT_EQ(counts[1000 + 16 * 256], 5512u) << "every frame of the second device, on the first";
    EXPECT_EQ(counts[1000] + counts[1000 + 16 * 256], 22050u) << "every frame of the first device";
    EXPECT_EQ(counts[1000] + counts[1000 + 16 * 256] + counts[0], c.samples.size());
}

TEST_F(Output, ADeviceAtAnotherRateIsConverted) {
    {
        ScopedEnv env = capture_here();
        Tone first(pcm(1, 16, 22050), 1000, 22050);
        Tone slower(pcm(1, 16, 11025), 2000, 2756);  // 0.25 s
        ASSERT_EQ(first.start(), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(slower.start(), MMSYSERR_NOERROR);
        ASSERT_TRUE(slower.finish());
        ASSERT_TRUE(first.finish());
    }
    Capture c = capture();
    EXPECT_EQ(c.rate, 22050u);
    std::map<int32_t, size_t> counts = histogram(c);
    // Twice the frames at twice the rate; the last source frame has no
    // neighbour to interpolate with.
    EXPECT_NEAR(double(counts[3000]), 2 * 2756.0, 3.0);
    EXPECT_EQ(counts[1000] + counts[3000], 22050u);
}

TEST_F(Output, CaptureHoldsEveryDeviceOpenedAfterAnother) {
    {
        ScopedEnv env = capture_here();
        Tone a(pcm(2, 16, 44100), 1000, 4410);
        ASSERT_EQ(a.start(), MMSYSERR_NOERROR);
        ASSERT_TRUE(a.finish());
        // Another format later: the file keeps its own and the sound is converted.
        Tone b(pcm(2, 8, 44100), -64 * 256, 4410);
        ASSERT_EQ(b.start(), MMSYSERR_NOERROR);
        ASSERT_TRUE(b.finish());
        Tone again(pcm(2, 16, 44100), 3000, 441);
        ASSERT_EQ(again.start(), MMSYSERR_NOERROR);
        ASSERT_TRUE(again.finish());
    }
    Capture c = capture();
    EXPECT_EQ(c.bits, 16);
    EXPECT_EQ(c.channels, 2);
    // In order, nothing lost, nothing else.
    std::vector<int32_t> expected(2 * 4410, 1000);
    expected.insert(expected.end(), 2 * 4410, -64 * 256);
    expected.insert(expected.end(), 2 * 441, 3000);
    EXPECT_TRUE(c.samples == expected) << "captured " << c.samples.size() << " samples";
}

TEST_F(Output, WaveOutAndDirectSoundShareTheOutput) {
    {
        ScopedEnv env = capture_here();
        Tone tone(pcm(2, 16, 22050), 1000, 22050);
        ASSERT_EQ(tone.start(), MMSYSERR_NOERROR);

        dstest::Module m;
        ASSERT_NE(m.create, nullptr);
        dstest::Ref<IDirectSound> ds;
        ASSERT_EQ(m.create(nullptr, ds.out(), nullptr), DS_OK);
        ASSERT_EQ(ds->SetCooperativeLevel(dstest::some_window(), DSSCL_PRIORITY), DS_OK);
        WAVEFORMATEX f = pcm(1, 16, 22050);
        std::vector<uint8_t> data(2 * 2205);
        for (size_t i = 0; i < data.size(); i += 2) data[i] = 2000 & 0xFF, data[i + 1] = 2000 >> 8;
        dstest::Ref<IDirectSoundBuffer> b;
        DSBUFFERDESC d = dstest::buffer_desc(dstest::kControls, DWORD(data.size()), &f);
        ASSERT_EQ(ds->CreateSoundBuffer(&d, b.out(), nullptr), DS_OK);
        ASSERT_EQ(dstest::write_buffer(b.get(), 0, data), DS_OK);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        ASSERT_TRUE(dstest::wait_stopped(b.get()));
        ASSERT_TRUE(tone.finish());
    }
    Capture c = capture();
    std::map<int32_t, size_t> counts = histogram(c);
    EXPECT_EQ(counts[3000], 2u * 2205) << "the buffer's frames, heard over the tone";
    EXPECT_EQ(counts[1000] + counts[3000], 2u * 22050);
}

// The counters a soak run reads: every frame played, and one gap for a
// device whose next buffer came after the last had been heard (the first
// buffer of an idle device is no gap).
TEST_F(Output, CountsFramesPlayedAndTheGapWhenADeviceRanDry) {
    ScopedEnv env = capture_here();
    const win32::mm::OutputCounters before = win32::mm::output_counters();
    WAVEFORMATEX format = pcm(1, 16, 22050);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<uint8_t> data(2 * 2205, 1);
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = DWORD(data.size());
    auto play = [&] {
        ASSERT_EQ(waveOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &header, sizeof header), MMSYSERR_NOERROR);
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!(std::atomic_ref<DWORD>(header.dwFlags).load() & WHDR_DONE)) {
            ASSERT_LT(std::chrono::steady_clock::now(), until);
            std::this_thread::sleep_for(1ms);
        }
        waveOutUnprepareHeader(out, &header, sizeof header);
    };
    play();
    std::this_thread::sleep_for(100ms);
    play();
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    const win32::mm::OutputCounters after = win32::mm::output_counters();
    EXPECT_EQ(after.frames_played - before.frames_played, 2u * 2205);
    EXPECT_EQ(after.underruns - before.underruns, 1u);
}

TEST_F(Output, ACaptureThatCannotBeMadeRefusesTheOpen) {
    ScopedEnv env("WIN32_AUDIO", "wav:/nonexistent-folder/x.wav");
    Tone tone(pcm(1, 8, 8000), 0, 8);
    EXPECT_EQ(tone.start(), MMSYSERR_NODRIVER);
}

}  // namespace
