// The wav: backend records exactly what the device plays: the bytes of the
// written headers, in order, in a file that is a valid WAV at every step.
// Checked with our own parser and with sox's soxi.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "multimedia_support.h"
#include "win32/winmm.h"

namespace {

using namespace std::chrono_literals;
using mmtest::le16;
using mmtest::le32;
using mmtest::pcm;
using mmtest::ScopedEnv;

struct Wav {
    std::string error;  // empty when the file is sound
    uint16_t tag = 0, channels = 0, block_align = 0, bits = 0;
    uint32_t rate = 0, avg_bytes = 0;
    std::vector<uint8_t> data;
};

// Walks the RIFF chunks; sizes must agree with the file.
Wav parse_wav(const std::vector<uint8_t>& file) {
    Wav wav;
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        wav.error = "no RIFF/WAVE header";
        return wav;
    }
    if (le32(file.data() + 4) != file.size() - 8) {
        wav.error = "RIFF size " + std::to_string(le32(file.data() + 4)) + " for a file of " +
                    std::to_string(file.size());
        return wav;
    }
    bool have_format = false, have_data = false;
    for (size_t at = 12; at + 8 <= file.size();) {
        uint32_t size = le32(file.data() + at + 4);
        const uint8_t* body = file.data() + at + 8;
        if (size > file.size() - at - 8) {
            wav.error = "chunk runs past the end";
            return wav;
        }
        if (std::memcmp(file.data() + at, "fmt ", 4) == 0 && size >= 16) {
            wav.tag = le16(body);
            wav.channels = le16(body + 2);
            wav.rate = le32(body + 4);
            wav.avg_bytes = le32(body + 8);
            wav.block_align = le16(body + 12);
            wav.bits = le16(body + 14);
            have_format = true;
        } else if (std::memcmp(file.data() + at, "data", 4) == 0) {
            wav.data.assign(body, body + size);
            have_data = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!have_format || !have_data) wav.error = "fmt or data chunk missing";
    return wav;
}

std::vector<uint8_t> noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> out(bytes);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return out;
}

bool wait_done(WAVEHDR& header, std::chrono::milliseconds limit = 5s) {
    auto start = std::chrono::steady_clock::now();
    while (!(std::atomic_ref<DWORD>(header.dwFlags).load() & WHDR_DONE)) {
        if (std::chrono::steady_clock::now() - start > limit) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string soxi(const std::string& option, const std::string& path) {
    int status = 0;
    std::string out = mmtest::run_tool("soxi -V0 " + option + " '" + path + "' 2>&1", status);
    EXPECT_EQ(status, 0) << "soxi " << option << ": " << out
                         << " (sox comes from the test package list)";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

TEST(WaveOutCapture, FileHoldsExactlyTheWrittenBytes) {
    struct Case {
        const char* what;
        WORD channels, bits;
        DWORD rate;
        std::vector<size_t> sizes;  // bytes of each header
        size_t played;              // whole frames of them
    } cases[] = {
        {"8-bit mono, odd length", 1, 8, 8000, {801, 7, 1600}, 2408},
        {"16-bit stereo", 2, 16, 22050, {4 * 2205, 4 * 1000, 4}, 4 * 3206},
        {"16-bit mono, partial last frame", 1, 16, 44100, {4411, 2}, 4412},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = mmtest::scratch_path("capture.wav");
        std::vector<uint8_t> expected;
        {
            ScopedEnv env("WIN32_AUDIO", "wav:" + path);
            WAVEFORMATEX f = pcm(c.channels, c.bits, c.rate);
            HWAVEOUT h = nullptr;
            ASSERT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
            std::vector<std::vector<uint8_t>> buffers;
            std::vector<WAVEHDR> headers(c.sizes.size());
            for (size_t i = 0; i < c.sizes.size(); ++i) {
                buffers.push_back(noise(c.sizes[i], uint32_t(i + 1)));
                size_t whole = c.sizes[i] / f.nBlockAlign * f.nBlockAlign;
                expected.insert(expected.end(), buffers[i].begin(), buffers[i].begin() + whole);
                headers[i].lpData = reinterpret_cast<LPSTR>(buffers[i].data());
                headers[i].dwBufferLength = DWORD(c.sizes[i]);
                ASSERT_EQ(waveOutPrepareHeader(h, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
                ASSERT_EQ(waveOutWrite(h, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            }
            for (auto& header : headers) {
                ASSERT_TRUE(wait_done(header));
                EXPECT_EQ(waveOutUnprepareHeader(h, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            }
            ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(expected.size(), c.played);

        Wav wav = parse_wav(mmtest::read_file(path));
        ASSERT_EQ(wav.error, "");
        EXPECT_EQ(wav.tag, WAVE_FORMAT_PCM);
        EXPECT_EQ(wav.channels, c.channels);
        EXPECT_EQ(wav.bits, c.bits);
        EXPECT_EQ(wav.rate, c.rate);
        EXPECT_EQ(wav.block_align, c.channels * c.bits / 8);
        EXPECT_EQ(wav.avg_bytes, c.rate * wav.block_align);
        EXPECT_TRUE(wav.data == expected)
            << "captured " << wav.data.size() << " bytes, wrote " << expected.size();

        EXPECT_EQ(soxi("-r", path), std::to_string(c.rate));
        EXPECT_EQ(soxi("-c", path), std::to_string(c.channels));
        EXPECT_EQ(soxi("-b", path), std::to_string(c.bits));
        EXPECT_EQ(soxi("-s", path), std::to_string(c.played / wav.block_align));
        std::filesystem::remove(path);
    }
}

TEST(WaveOutCapture, ValidWhilePlayingAndAfterReset) {
    std::string path = mmtest::scratch_path("reset.wav");
    ScopedEnv env("WIN32_AUDIO", "wav:" + path);
    WAVEFORMATEX f = pcm(2, 16, 22050);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<uint8_t> second = noise(88200, 7);  // 1 s
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(second.data());
    header.dwBufferLength = DWORD(second.size());
    ASSERT_EQ(waveOutPrepareHeader(h, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &header, sizeof header), MMSYSERR_NOERROR);

    std::this_thread::sleep_for(200ms);
    // Mid-stream the header may trail the data by a moment, never lead it.
    std::vector<uint8_t> partial = mmtest::read_file(path);
    ASSERT_GE(partial.size(), 44u);
    EXPECT_LE(le32(partial.data() + 40), partial.size() - 44);
    EXPECT_GT(le32(partial.data() + 40), 0u);

    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(header.dwFlags & WHDR_DONE);
    ASSERT_EQ(waveOutUnprepareHeader(h, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);

    Wav wav = parse_wav(mmtest::read_file(path));
    ASSERT_EQ(wav.error, "");
    // What played before the reset: a whole-frame prefix, roughly 200 ms.
    ASSERT_EQ(wav.data.size() % 4, 0u);
    EXPECT_GE(wav.data.size(), 4u * 22050 / 10);
    EXPECT_LT(wav.data.size(), second.size());
    EXPECT_TRUE(std::equal(wav.data.begin(), wav.data.end(), second.begin()));
    EXPECT_EQ(soxi("-s", path), std::to_string(wav.data.size() / 4));
    std::filesystem::remove(path);
}

TEST(WaveOutCapture, PathIsAWindowsPath) {
    std::string root = mmtest::scratch_path("drive_c");
    std::filesystem::create_directories(root + "/Sound");
    ScopedEnv drive("WIN32_ROOT", root);
    ScopedEnv env("WIN32_AUDIO", "wav:C:\\SOUND\\out.wav");
    WAVEFORMATEX f = pcm(1, 8, 11025);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    Wav wav = parse_wav(mmtest::read_file(root + "/Sound/out.wav"));
    EXPECT_EQ(wav.error, "");
    EXPECT_TRUE(wav.data.empty());
    std::filesystem::remove_all(root);
}

}  // namespace
