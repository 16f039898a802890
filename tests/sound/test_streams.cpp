// Streams from disk, heard through the wav: device on waveOut and on
// DirectSound: the capture, from its first sound on, must be the file's
// data exactly (every test sound avoids the value 0, so silence marks the
// gaps). At equal rates and unity gain a 16-bit value passes unchanged and
// an 8-bit byte b becomes (b - 128) x 256; the output is 16-bit stereo.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "digital/adpcm.h"
#include "digital/driver.h"
#include "digital_support.h"
#include "win32/kernel.h"

namespace {

using testing_support::Bytes;
using testing_support::get16;
using testing_support::get32;
using testing_support::put16;
using testing_support::put32;
using testing_support::put_text;

constexpr uint32_t kWaitMs = 20000;

template <typename Done>
bool wait_for(Done done, uint32_t limit = kWaitMs) {
    const uint32_t start = SVX_ms_count();
    while (!done()) {
        if (SVX_ms_count() - start > limit) return false;
        Sleep(5);
    }
    return true;
}

// What a WAV file made here holds.
struct Sound {
    uint16_t tag = 1;  // 1 PCM, 17 IMA ADPCM
    uint32_t rate = 22050;
    uint16_t channels = 1;
    uint16_t bits = 16;
    uint16_t block = 0;  // ADPCM block size
    Bytes data;
};

// A RIFF WAVE file: an odd-length "LIST" chunk before "fmt " and a "fact"
// chunk between it and "data", which the walk must step over.
Bytes wav_file(const Sound& s) {
    Bytes b;
    put_text(b, "RIFF");
    put32(b, 0);
    put_text(b, "WAVE");
    put_text(b, "LIST");
    put32(b, 5);
    put_text(b, "INFOx");
    b.push_back(0);  // pad byte of the odd chunk
    put_text(b, "fmt ");
    const bool adpcm = s.tag == 17;
    put32(b, adpcm ? 20 : 16);
    put16(b, s.tag);
    put16(b, s.channels);
    put32(b, s.rate);
    const uint32_t align = adpcm ? s.block : uint32_t(s.channels * s.bits / 8);
    put32(b, s.rate * align);
    put16(b, uint16_t(align));
    put16(b, s.bits);
    if (adpcm) {
        put16(b, 2);
        put16(b, uint16_t((s.block - 4 * s.channels) * 2 / s.channels + 1));
    }
    put_text(b, "fact");
    put32(b, 4);
    put32(b, 0);
    put_text(b, "data");
    put32(b, uint32_t(s.data.size()));
    b.insert(b.end(), s.data.begin(), s.data.end());
    if (s.data.size() & 1) b.push_back(0);
    const uint32_t riff = uint32_t(b.size() - 8);
    std::memcpy(&b[4], &riff, 4);
    return b;
}

// 16-bit values that are never 0 and seldom repeat; `count` values.
Bytes loud16(size_t count, uint32_t seed) {
    Bytes b;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        int16_t v = int16_t(seed >> 16);
        if (v == 0) v = 1;
        put16(b, uint16_t(v));
    }
    return b;
}

// 8-bit bytes that are never silence (0x80).
Bytes loud8(size_t count, uint32_t seed) {
    Bytes b(count);
    for (auto& x : b) {
        seed = seed * 1664525u + 1013904223u;
        x = uint8_t(seed >> 24);
        if (x == 0x80) x = 0x81;
    }
    return b;
}

// An ADPCM sound made by the library's compressor (its last block is
// short) with the block size: a chirp, never silent.
Sound adpcm_sound(size_t frames, uint16_t channels, uint32_t rate) {
    Bytes pcm;
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            put16(pcm, uint16_t(int16_t(std::lround(
                           12000 + 8000 * std::sin(0.00002 * double(i * i) / (c + 1) + c)))));
    const SoundFileInfo info{1, pcm.data(), uint32_t(pcm.size()), rate, 16, channels,
                             uint32_t(frames), 0};
    void* image = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(SVX_compress_ADPCM(&info, &image, &size), 1);
    Sound s;
    s.tag = 17;
    s.rate = rate;
    s.channels = channels;
    s.bits = 4;
    if (!image) return s;
    const auto* p = static_cast<const uint8_t*>(image);
    s.block = uint16_t(get16(p + 32));
    s.data = testing_support::wav_data(Bytes(p, p + size));
    SVX_mem_free_lock(image);
    return s;
}

// The 16-bit stereo output values a sound's data becomes.
std::vector<int32_t> heard_as(const Sound& s, const Bytes& data) {
    std::vector<int32_t> mono_or_pairs;
    if (s.tag == 17) {
        std::vector<int16_t> out(data.size() * 2 + 16);
        out.resize(svx::adpcm::decode_data(data.data(), data.size(), s.block, s.channels,
                                           out.data(), out.size() / s.channels) *
                   s.channels);
        mono_or_pairs.assign(out.begin(), out.end());
    } else if (s.bits == 16) {
        for (size_t i = 0; i + 1 < data.size(); i += 2) mono_or_pairs.push_back(int16_t(get16(&data[i])));
    } else {
        for (uint8_t b : data) mono_or_pairs.push_back((int32_t(b) - 128) * 256);
    }
    if (s.channels == 2) return mono_or_pairs;
    std::vector<int32_t> stereo;
    for (int32_t v : mono_or_pairs) stereo.insert(stereo.end(), {v, v});
    return stereo;
}

// Values without their trailing silent frames, as the capture is cut.
std::vector<int32_t> trimmed(std::vector<int32_t> v) {
    while (v.size() >= 2 && v[v.size() - 1] == 0 && v[v.size() - 2] == 0) v.resize(v.size() - 2);
    return v;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The library on waveOut (true) or DirectSound (false), output captured.
class Streams : public testing_support::DigitalLibrary, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        setenv("WIN32_DSOUND", "native", 1);
        DigitalLibrary::SetUp();
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, GetParam() ? 1 : 0);
        if (!GetParam()) SVX_set_DirectSound_HWND(nullptr, GetConsoleWindow());
        capture_ = drive_.path() / "capture.wav";
        setenv("WIN32_AUDIO", ("wav:" + capture_.string()).c_str(), 1);
    }
    void TearDown() override {
        DigitalLibrary::TearDown();
        unsetenv("WIN32_DSOUND");
    }

    // Each output its own capture file.
    HDIGDRIVER open_output(uint32_t rate) {
        capture_ = drive_.path() / ("capture" + std::to_string(++captures_) + ".wav");
        setenv("WIN32_AUDIO", ("wav:" + capture_.string()).c_str(), 1);
        driver_ = open(rate, 2, 16);
        return driver_;
    }

    std::string write(const std::string& name, const Bytes& bytes) {
        const auto path = drive_.path() / name;
        testing_support::write_bytes(path, bytes);
        return path.string();
    }

    HSTREAM open_stream(const std::string& path, int32_t buffer_bytes = 0) {
        HSTREAM s = SVX_open_stream(driver_, path.c_str(), buffer_bytes);
        EXPECT_NE(s, nullptr) << SVX_last_error();
        if (s) {
            SVX_set_stream_volume(s, 127);
            SVX_set_stream_pan(s, 64);
        }
        return s;
    }

    static bool streaming(HSTREAM s) {
        int32_t size = 0, memory = 0;
        SVX_stream_info(s, nullptr, nullptr, &size, &memory);
        return memory < size;
    }

    // Waits for the stream to end, closes it and the driver, and returns
    // the captured values from the first sound on, trailing silence cut.
    std::vector<int32_t> finish(HSTREAM s) {
        EXPECT_TRUE(wait_for([&] { return SVX_stream_status(s) == SVX_DONE; }));
        // What was mixed is heard before the device closes.
        if (GetParam()) EXPECT_TRUE(wait_for([&] { return svx::digital::driver_of(driver_)->playing.load() == 0; }));
        Sleep(300);
        SVX_close_stream(s);
        SVX_waveOutClose(driver_);
        const Bytes data = testing_support::wav_data(testing_support::read_bytes(capture_));
        std::vector<int32_t> values;
        for (size_t i = 0; i + 1 < data.size(); i += 2) values.push_back(int16_t(get16(&data[i])));
        auto first = std::find_if(values.begin(), values.end(), [](int32_t v) { return v != 0; });
        auto last = std::find_if(values.rbegin(), values.rend(), [](int32_t v) { return v != 0; });
        if (first == values.end()) return {};
        // Whole frames: a left value of 0 would shift the channels.
        const size_t begin = size_t(first - values.begin()) & ~size_t(1);
        const size_t end = (size_t(last.base() - values.begin()) + 1) & ~size_t(1);
        return std::vector<int32_t>(values.begin() + long(begin), values.begin() + long(end));
    }

    // The captured frames with the silent ones dropped.
    static std::vector<int32_t> without_silence(const std::vector<int32_t>& v) {
        std::vector<int32_t> out;
        for (size_t i = 0; i + 1 < v.size(); i += 2)
            if (v[i] != 0 || v[i + 1] != 0) out.insert(out.end(), {v[i], v[i + 1]});
        return out;
    }

    // Where the first difference lies, for the failure message.
    static std::string first_difference(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
        const auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        const size_t at = size_t(m.first - a.begin());
        std::string text = std::to_string(at) + ":";
        for (size_t i = at; i < at + 8 && i < a.size(); ++i) text += " " + std::to_string(a[i]);
        text += " /";
        for (size_t i = at; i < at + 8 && i < b.size(); ++i) text += " " + std::to_string(b[i]);
        // Where the heard values continue in the expected ones.
        for (size_t i = at; i < at + 400000 && i + 4 < b.size() && at + 4 < a.size(); ++i)
            if (std::equal(a.begin() + long(at), a.begin() + long(at + 4), b.begin() + long(i))) {
                text += " continues at " + std::to_string(i);
                break;
            }
        return text;
    }

    std::filesystem::path capture_;
    int captures_ = 0;
    HDIGDRIVER driver_ = nullptr;
};

std::string output_name(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "WaveOut" : "DirectSound";
}

// ---- the formats, heard frame for frame ----

struct FormatCase {
    const char* name;
    uint32_t rate;
    uint16_t channels, bits;
    size_t bytes;           // of data
    int32_t buffer_bytes;   // 0: automatic
    size_t expected_bytes;  // data the stream plays: whole frames
};

class StreamFormats : public Streams {};

TEST_P(StreamFormats, PlayTheFileDataGapFree) {
    static const FormatCase cases[] = {
        // Larger than three automatic buffers and the 12287 bytes: streamed.
        {"Stereo16At44100", 44100, 2, 16, 44100 * 4 + 3, 0, 44100 * 4},
        {"Stereo16At48000", 48000, 2, 16, 48000 * 4 * 6 / 5, 0, 48000 * 4 * 6 / 5},
        {"Mono16At22050", 22050, 1, 16, 22050 * 2 * 2, 0, 22050 * 2 * 2},
        {"Mono8At22050OddLength", 22050, 1, 8, 40001, 0, 40001},
        {"Stereo8At22050", 22050, 2, 8, 66002, 0, 66002},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(open_output(c.rate), nullptr);
        Sound sound{1, c.rate, c.channels, c.bits, 0,
                    c.bits == 16 ? loud16(c.bytes / 2, c.rate) : loud8(c.bytes, c.rate)};
        if (sound.data.size() < c.bytes) sound.data.push_back(0x11);
        HSTREAM s = open_stream(write(std::string(c.name) + ".wav", wav_file(sound)), c.buffer_bytes);
        ASSERT_NE(s, nullptr);
        int32_t rate = 0, format = 0, size = 0;
        SVX_stream_info(s, &rate, &format, &size, nullptr);
        EXPECT_EQ(rate, int32_t(c.rate));
        EXPECT_EQ(format, (c.bits == 16 ? 1 : 0) | (c.channels == 2 ? 2 : 0));
        EXPECT_EQ(size, int32_t(c.expected_bytes));
        EXPECT_TRUE(streaming(s));
        SVX_start_stream(s);
        const std::vector<int32_t> expected =
            heard_as(sound, Bytes(sound.data.begin(), sound.data.begin() + long(c.expected_bytes)));
        const std::vector<int32_t> heard = finish(s);
        EXPECT_EQ(heard.size(), expected.size());
        EXPECT_TRUE(heard == expected) << "first difference at " << first_difference(heard, expected);
    }
}

TEST_P(StreamFormats, PlayAnAdpcmFileMadeBySox) {
    ASSERT_TRUE(testing_support::have_tool("sox"));
    for (uint16_t channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const auto path = drive_.path() / ("sox" + std::to_string(channels) + ".wav");
        ASSERT_TRUE(testing_support::run("sox -n -r 44100 -c " + std::to_string(channels) +
                                         " -e ima-adpcm '" + path.string() +
                                         "' synth 2.2 sine 300-3000 vol 0.3 dcshift 0.5"));
        const Bytes file = testing_support::read_bytes(path);
        Sound sound{17, 44100, channels, 4, 0, testing_support::wav_data(file)};
        sound.block = uint16_t(get16(&file[32]));
        ASSERT_NE(open_output(44100), nullptr);
        HSTREAM s = open_stream(path.string());
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(streaming(s));
        int32_t format = 0, size = 0;
        SVX_stream_info(s, nullptr, &format, &size, nullptr);
        EXPECT_EQ(format, channels == 2 ? 7 : 5);
        SVX_start_stream(s);
        // The encoder's padding of the last block may decode to silence.
        const std::vector<int32_t> expected =
            trimmed(heard_as(sound, Bytes(sound.data.begin(), sound.data.begin() + size)));
        const std::vector<int32_t> heard = finish(s);
        ASSERT_EQ(heard.size(), expected.size());
        EXPECT_TRUE(heard == expected) << "first difference at " << first_difference(heard, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, StreamFormats, ::testing::Values(true, false), output_name);

}  // namespace
