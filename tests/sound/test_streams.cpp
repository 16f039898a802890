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
#include "thread_checker.h"
#include "win32/kernel.h"

namespace {

using testing_support::Bytes;
using testing_support::get16;
using testing_support::get32;
using testing_support::put16;
using testing_support::put32;
using testing_support::put_text;

using testing_support::wait_for;

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
        if (GetParam()) {
        EXPECT_TRUE(wait_for([&] { return svx::digital::driver_of(driver_)->playing.load() == 0; }));
    }
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
        for (size_t k = 0; k < 8; ++k)
        for (size_t i = 0; i + 4 < b.size() && at + k + 4 < a.size(); ++i)
            if (std::equal(a.begin() + long(at + k), a.begin() + long(at + k + 4), b.begin() + long(i))) {
                text += " heard " + std::to_string(at + k) + " is expected " + std::to_string(i);
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

// ---- modes, loops, pause, positions ----

class StreamPlay : public Streams {
protected:
    // A 16-bit stereo 44.1 kHz file of `seconds`, streamed.
    Sound stereo16(double seconds, uint32_t seed) {
        return Sound{1, 44100, 2, 16, 0, loud16(size_t(44100 * seconds) * 2, seed)};
    }
};

TEST_P(StreamPlay, AShortFileIsReadOnceAndItsFileClosedByTheFirstService) {
    ASSERT_NE(open_output(22050), nullptr);
    // 3 x 12288 + 12287 bytes at most: one buffer of the whole data.
    const Sound sound{1, 22050, 1, 16, 0, loud16(20000, 5)};
    const std::string path = write("short.wav", wav_file(sound));
    HSTREAM s = open_stream(path);
    ASSERT_NE(s, nullptr);
    int32_t size = 0, memory = 0;
    SVX_stream_info(s, nullptr, nullptr, &size, &memory);
    EXPECT_EQ(size, 40000);
    EXPECT_EQ(memory, 40000);
    EXPECT_FALSE(DeleteFileA(path.c_str())) << "the stream holds its file";
    EXPECT_EQ(SVX_service_stream(s, 0), 40000);
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "and lets it go after reading it";
    EXPECT_EQ(SVX_service_stream(s, 0), -1);
    SVX_start_stream(s);
    EXPECT_EQ(finish(s), heard_as(sound, sound.data));
}

TEST_P(StreamPlay, LoopsPlayEveryPassWithoutAGap) {
    ASSERT_NE(open_output(44100), nullptr);
    const Sound sound = stereo16(0.9, 6);
    HSTREAM s = open_stream(write("loop.wav", wav_file(sound)));
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(streaming(s));
    SVX_set_stream_loop_count(s, 3);
    EXPECT_EQ(SVX_stream_loop_count(s), 3);
    SVX_start_stream(s);
    const std::vector<int32_t> expected = heard_as(sound, concat({sound.data, sound.data, sound.data}));
    const std::vector<int32_t> heard = finish(s);
    EXPECT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected) << "first difference at " << first_difference(heard, expected);
}

TEST_P(StreamPlay, ALoopingAdpcmStreamPlaysEachPassFromWholeBlocks) {
    ASSERT_NE(open_output(22050), nullptr);
    Sound sound = adpcm_sound(80000, 1, 22050);
    ASSERT_NE(sound.data.size() % sound.block, 0u) << "the last block is short";
    HSTREAM s = open_stream(write("adpcm-loop.wav", wav_file(sound)));
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(streaming(s));
    SVX_set_stream_loop_count(s, 2);
    SVX_start_stream(s);
    // The first pass ends in silence up to a whole block; the second pass
    // starts with a block header.
    Bytes padded = sound.data;
    padded.resize((padded.size() + sound.block - 1) / sound.block * sound.block, 0);
    std::vector<int32_t> expected = heard_as(sound, padded);
    const std::vector<int32_t> second = heard_as(sound, sound.data);
    expected.insert(expected.end(), second.begin(), second.end());
    const std::vector<int32_t> heard = finish(s);
    EXPECT_EQ(heard.size(), expected.size());
    EXPECT_TRUE(heard == expected) << "first difference at " << first_difference(heard, expected);
}

TEST_P(StreamPlay, PauseResumesWhereItWas) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    ASSERT_NE(open_output(44100), nullptr);
    const Sound sound = stereo16(1.5, 7);
    HSTREAM s = open_stream(write("pause.wav", wav_file(sound)));
    ASSERT_NE(s, nullptr);
    SVX_start_stream(s);
    Sleep(500);
    EXPECT_EQ(SVX_stream_status(s), SVX_PLAYING);
    SVX_pause_stream(s, 1);
    EXPECT_EQ(SVX_stream_status(s), SVX_STOPPED);
    const int32_t paused_at = SVX_stream_position(s);
    Sleep(400);
    EXPECT_EQ(SVX_stream_position(s), paused_at) << "a paused stream stands still";
    SVX_pause_stream(s, 0);
    const std::vector<int32_t> heard = without_silence(finish(s));
    const std::vector<int32_t> expected = heard_as(sound, sound.data);
    // Heard: the data up to the pause, then on from where it stopped. A
    // DirectSound buffer resumes a little before where it stopped (what it
    // had played ahead is played again), never after it.
    const size_t k = size_t(std::mismatch(heard.begin(), heard.end(), expected.begin(), expected.end()).first -
                            heard.begin());
    ASSERT_GE(expected.size(), heard.size() - k);
    const size_t j = expected.size() - (heard.size() - k);
    EXPECT_TRUE(std::equal(heard.begin() + long(k), heard.end(), expected.begin() + long(j)))
        << "the rest is heard in order: " << first_difference(heard, expected);
    EXPECT_LE(j, k) << "nothing is skipped";
    EXPECT_LE(k - j, GetParam() ? 0u : 2u * 44100 / 20) << "and hardly anything repeated";
}

TEST_P(StreamPlay, UnpausingAStreamNeverStartedStartsIt) {
    ASSERT_NE(open_output(44100), nullptr);
    const Sound sound = stereo16(1.0, 8);
    HSTREAM s = open_stream(write("unpause.wav", wav_file(sound)));
    ASSERT_NE(s, nullptr);
    SVX_pause_stream(s, 0);
    EXPECT_EQ(SVX_stream_status(s), SVX_PLAYING);
    EXPECT_EQ(finish(s), heard_as(sound, sound.data));
}

TEST_P(StreamPlay, SetPositionMidStreamGoesOnFromThere) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    ASSERT_NE(open_output(44100), nullptr);
    const Sound sound = stereo16(2.0, 9);
    HSTREAM s = open_stream(write("seek.wav", wav_file(sound)));
    ASSERT_NE(s, nullptr);
    int32_t total = 0, current = -1;
    SVX_stream_ms_position(s, &total, &current);
    EXPECT_EQ(total, 2000);
    EXPECT_EQ(current, 0);
    SVX_start_stream(s);
    Sleep(400);
    const int32_t early = SVX_stream_position(s);
    EXPECT_GT(early, 0);
    EXPECT_LT(early, int32_t(sound.data.size()) / 2);
    const int32_t target = int32_t(sound.data.size()) * 3 / 4;  // whole frames
    SVX_set_stream_ms_position(s, 1500);
    EXPECT_EQ(SVX_stream_position(s), target);
    const std::vector<int32_t> heard = without_silence(finish(s));
    const std::vector<int32_t> all = heard_as(sound, sound.data);
    const size_t tail = all.size() / 4;
    ASSERT_GT(heard.size(), tail);
    EXPECT_TRUE(std::equal(heard.end() - long(tail), heard.end(), all.end() - long(tail)))
        << "the last quarter follows the jump";
    const size_t head = heard.size() - tail;
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + long(head), all.begin()))
        << "after what was heard from the start";
}

TEST_P(StreamPlay, ReadsFromACallersDescriptorFromWhereItStandsAndLeavesItOpen) {
    ASSERT_NE(open_output(44100), nullptr);
    const Sound sound = stereo16(1.0, 10);
    // The WAV file inside a bigger one, after 1000 bytes of something else.
    const Bytes file = concat({Bytes(1000, 0x5A), wav_file(sound), Bytes(300, 0x33)});
    const std::string path = write("pack.bin", file);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 1000, SEEK_SET), 1000);
    HSTREAM s = open_stream("\\\\\\\\" + std::to_string(fd));
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(streaming(s));
    SVX_set_stream_loop_count(s, 2);  // back to the data's start, inside the pack
    SVX_start_stream(s);
    const std::vector<int32_t> expected = heard_as(sound, concat({sound.data, sound.data}));
    const std::vector<int32_t> heard = finish(s);
    EXPECT_TRUE(heard == expected) << "first difference at " << first_difference(heard, expected);
    // Closed stream, open descriptor.
    char first = 0;
    EXPECT_EQ(pread(fd, &first, 1, 0), 1);
    EXPECT_EQ(first, 0x5A);
    ::close(fd);
}

std::atomic<int> ends{0};
void SVXCALLBACK count_end(HSTREAM) { ++ends; }

TEST_P(StreamPlay, AFileCutUnderTheStreamStopsItCleanlyAfterWhatWasRead) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    ASSERT_NE(open_output(44100), nullptr);
    const Sound sound = stereo16(3.0, 11);
    const Bytes file = wav_file(sound);
    const std::string path = write("cut.wav", file);
    HSTREAM s = open_stream(path);
    ASSERT_NE(s, nullptr);
    ends = 0;
    SVX_register_stream_callback(s, &count_end);
    SVX_start_stream(s);
    // Cut inside what the stream has not read yet.
    const size_t data_start = file.size() - sound.data.size();
    const size_t kept = sound.data.size() / 2;
    std::filesystem::resize_file(path, data_start + kept);
    ASSERT_TRUE(wait_for([&] { return SVX_stream_status(s) == -1; }));
    EXPECT_EQ(SVX_service_stream(s, 0), -1);
    EXPECT_EQ(SVX_stream_position(s), -1);
    ASSERT_TRUE(wait_for([&] { return ends.load() == 1; }));
    Sleep(1000);  // the last buffers play out
    SVX_close_stream(s);
    if (GetParam()) {
        EXPECT_TRUE(wait_for([&] { return svx::digital::driver_of(driver_)->playing.load() == 0; }));
    }
    SVX_waveOutClose(driver_);
    const Bytes data = testing_support::wav_data(testing_support::read_bytes(capture_));
    std::vector<int32_t> values;
    for (size_t i = 0; i + 1 < data.size(); i += 2) values.push_back(int16_t(get16(&data[i])));
    const std::vector<int32_t> heard = without_silence(values);
    const std::vector<int32_t> expected = heard_as(sound, Bytes(sound.data.begin(), sound.data.begin() + long(kept)));
    EXPECT_TRUE(heard == expected) << "first difference at " << first_difference(heard, expected);
}

INSTANTIATE_TEST_SUITE_P(Outputs, StreamPlay, ::testing::Values(true, false), output_name);

// ---- refusals ----

class StreamOpen : public testing_support::DigitalLibrary {
protected:
    void SetUp() override {
        DigitalLibrary::SetUp();
        driver_ = open(22050, 2, 16);
        ASSERT_NE(driver_, nullptr);
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        const auto path = drive_.path() / name;
        testing_support::write_bytes(path, bytes);
        return path.string();
    }
    void expect_refused(const std::string& name, const char* text) {
        EXPECT_EQ(SVX_open_stream(driver_, name.c_str(), 0), nullptr);
        EXPECT_STREQ(SVX_last_error(), text);
    }
    HDIGDRIVER driver_ = nullptr;
};

// Patches bytes of a good file.
Bytes patched(Bytes b, size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
    return b;
}

TEST_F(StreamOpen, RefusesFilesItCannotPlayOrWhoseSizesLie) {
    const Sound good{1, 22050, 1, 16, 0, loud16(30000, 3)};
    const Bytes file = wav_file(good);
    // Offsets in wav_file's layout: LIST at 12, fmt at 26, fact at 50, data at 62.
    const size_t fmt = 34, data_length = 66;
    Bytes no_format;
    put_text(no_format, "RIFF");
    put32(no_format, 4 + 8 + 4);
    put_text(no_format, "WAVEdata");
    put32(no_format, 4);
    put32(no_format, 0x01020304);
    Bytes many_chunks;
    put_text(many_chunks, "RIFF");
    put32(many_chunks, 0);
    put_text(many_chunks, "WAVE");
    for (int i = 0; i < 5000; ++i) {
        put_text(many_chunks, "junk");
        put32(many_chunks, 0);
    }
    many_chunks.insert(many_chunks.end(), file.begin() + 26, file.end());
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"Empty", {}},
        {"CutInTheHeader", Bytes(file.begin(), file.begin() + 40)},
        {"NotRiff", patched(file, 0, {'R', 'I', 'F', 'X'})},
        {"NotWave", patched(file, 8, {'A', 'V', 'I', ' '})},
        {"NoFormat", no_format},
        {"ListLongerThanTheFile", patched(file, 16, {0xF0, 0xFF, 0xFF, 0xFF})},
        {"FormatLongerThanTheFile", patched(file, 30, {0x00, 0x00, 0x10, 0x00})},
        {"FormatTooShort", patched(file, 30, {14, 0, 0, 0})},
        {"DataLongerThanTheFile", patched(file, data_length, {0x00, 0x00, 0x01, 0x00})},
        {"DataOfFourGigabytes", patched(file, data_length, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"FloatData", patched(file, fmt, {3, 0})},
        {"TwelveBits", patched(file, fmt + 14, {12, 0})},
        {"FourBitsOfPcm", patched(file, fmt + 14, {4, 0})},
        {"NoChannels", patched(file, fmt + 2, {0, 0})},
        {"ThreeChannels", patched(file, fmt + 2, {3, 0})},
        {"RateZero", patched(file, fmt + 4, {0, 0, 0, 0})},
        {"AdpcmBlockOfOnlyAHeader", patched(patched(file, fmt, {17, 0}), fmt + 12, {4, 0, 4, 0})},
        {"FiveThousandEmptyChunks", many_chunks},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_refused(write(std::string(c.name) + ".wav", c.bytes), "Error getting sound format.");
    }
    // Nothing was kept: every sample handle can still be had.
    std::vector<HSAMPLE> samples;
    for (int i = 0; i < SVX_get_preference(SVX_PREF_SAMPLE_HANDLES); ++i) {
        samples.push_back(SVX_allocate_sample_handle(driver_));
        EXPECT_NE(samples.back(), nullptr) << i;
    }
    for (HSAMPLE sample : samples) SVX_release_sample_handle(sample);
    // And the good file opens.
    HSTREAM s = SVX_open_stream(driver_, write("good.wav", file).c_str(), 0);
    EXPECT_NE(s, nullptr) << SVX_last_error();
    SVX_close_stream(s);
}

TEST_F(StreamOpen, NamesThatOpenNoFile) {
    const int fd = ::open(write("w.bin", Bytes(10)).c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    for (const std::string& name :
         {(drive_.path() / "missing.wav").string(), std::string("\\\\\\\\"), std::string("\\\\\\\\12x"),
          std::string("\\\\\\\\99999"), std::string("\\\\\\\\99999999999999999999"),
          "\\\\\\\\" + std::to_string(fd)}) {
        SCOPED_TRACE(name);
        expect_refused(name, "Unable to open file.");
    }
    ::close(fd);
    EXPECT_EQ(SVX_open_stream(nullptr, "x.wav", 0), nullptr);
    EXPECT_EQ(SVX_open_stream(driver_, nullptr, 0), nullptr);
}

TEST_F(StreamOpen, NoSampleHandleOrNoTimerIsRefusedAndFreesEverything) {
    const std::string path = write("ok.wav", wav_file(Sound{1, 22050, 1, 16, 0, loud16(60000, 4)}));
    std::vector<HSAMPLE> samples;
    while (HSAMPLE sample = SVX_allocate_sample_handle(driver_)) samples.push_back(sample);
    expect_refused(path, "Unable to obtain a sample handle.");
    for (HSAMPLE sample : samples) SVX_release_sample_handle(sample);

    std::vector<HSVXTIMER> timers;
    for (HSVXTIMER t; (t = SVX_register_timer(nullptr)) != -1;) timers.push_back(t);
    expect_refused(path, "Out of timer handles.");
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "the file was closed";
    write("ok.wav", wav_file(Sound{1, 22050, 1, 16, 0, loud16(60000, 4)}));
    SVX_release_timer_handle(timers.back());
    HSTREAM s = SVX_open_stream(driver_, path.c_str(), 0);
    EXPECT_NE(s, nullptr) << SVX_last_error();
    SVX_close_stream(s);
    for (HSVXTIMER t : timers) SVX_release_timer_handle(t);
}

TEST_F(StreamOpen, SmallCallsOnNullAndOpenStreams) {
    EXPECT_EQ(SVX_stream_status(nullptr), -1);
    EXPECT_EQ(SVX_stream_position(nullptr), -1);
    EXPECT_EQ(SVX_stream_volume(nullptr), -1);
    EXPECT_EQ(SVX_stream_loop_count(nullptr), -1);
    EXPECT_EQ(SVX_register_stream_callback(nullptr, &count_end), reinterpret_cast<SVXSTREAMCB>(intptr_t(-1)));
    SVX_close_stream(nullptr);

    HSTREAM s = SVX_open_stream(driver_, write("a.wav", wav_file(Sound{1, 22050, 1, 16, 0, loud16(60000, 4)})).c_str(), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SVX_register_stream_callback(s, &count_end), nullptr);
    EXPECT_EQ(SVX_register_stream_callback(s, nullptr), &count_end);
    SVX_set_stream_user_data(s, 7, uintptr_t(&ends));
    EXPECT_EQ(SVX_stream_user_data(s, 7), uintptr_t(&ends));
    EXPECT_EQ(SVX_stream_user_data(s, 8), 0u);
    EXPECT_EQ(SVX_auto_service_stream(s, 0), 0);
    EXPECT_EQ(SVX_stream_status(s), SVX_DONE);
    SVX_set_stream_playback_rate(s, 11025);
    EXPECT_EQ(SVX_stream_playback_rate(s), 11025);
    int32_t memory = 0;
    SVX_stream_info(s, nullptr, nullptr, nullptr, &memory);
    EXPECT_EQ(memory % (3 * 4096), 0);
    // Positions before the start: a whole-frame offset, capped at the end.
    SVX_set_stream_position(s, 1000);
    EXPECT_EQ(SVX_stream_position(s), 1000);
    SVX_set_stream_position(s, 999999999);
    EXPECT_EQ(SVX_stream_position(s), 120000);
    SVX_close_stream(s);
}

}  // namespace

namespace {

std::atomic<int> closed_in_callback{0};
void SVXCALLBACK close_itself(HSTREAM s) {
    SVX_close_stream(s);
    ++closed_in_callback;
}

TEST_F(StreamOpen, AStreamMayCloseItselfInItsCallback) {
    const std::string path = write("self.wav", wav_file(Sound{1, 22050, 2, 16, 0, loud16(22050, 12)}));
    HSTREAM s = SVX_open_stream(driver_, path.c_str(), 12288);
    ASSERT_NE(s, nullptr);
    closed_in_callback = 0;
    SVX_register_stream_callback(s, &close_itself);
    SVX_start_stream(s);
    ASSERT_TRUE(wait_for([] { return closed_in_callback.load() == 1; }));
    // The machinery went with the last stream and comes back with the next.
    HSTREAM again = SVX_open_stream(driver_, path.c_str(), 0);
    EXPECT_NE(again, nullptr) << SVX_last_error();
    SVX_close_stream(again);
}

TEST_F(StreamOpen, ClosingTheDriverUnderAStreamLeavesTheStreamSilentButUsable) {
    const std::string path = write("orphan.wav", wav_file(Sound{1, 22050, 2, 16, 0, loud16(88200, 13)}));
    HSTREAM s = SVX_open_stream(driver_, path.c_str(), 0);
    ASSERT_NE(s, nullptr);
    SVX_start_stream(s);
    Sleep(300);
    SVX_waveOutClose(driver_);
    Sleep(200);
    EXPECT_EQ(SVX_service_stream(s, 0), -1);
    SVX_set_stream_position(s, 100);
    SVX_start_stream(s);
    Sleep(100);
    SVX_close_stream(s);
}

}  // namespace
