// Helpers of the digital output tests: the library started with waveOut
// chosen, images in library memory, the oracle tools, and WAV files read
// back by a reader of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sonvex.h"
#include "sound_fixture.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put24(Bytes& b, uint32_t v) {
    put16(b, v);
    b.push_back(uint8_t(v >> 16));
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v);
    put16(b, v >> 16);
}
inline void put_text(Bytes& b, const char* text) { b.insert(b.end(), text, text + std::strlen(text)); }
inline uint32_t get16(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8); }
inline uint32_t get32(const uint8_t* p) { return get16(p) | get16(p + 2) << 16; }

inline SVXPCMFORMAT pcm_format(uint32_t rate, uint16_t channels, uint16_t bits) {
    const uint16_t align = uint16_t(channels * bits / 8);
    return SVXPCMFORMAT{1, channels, rate, rate * align, align, bits};
}

// A tool the tests use as an oracle: a missing one fails the test.
inline bool have_tool(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline Bytes read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

inline void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The sample frames of a PCM WAV file: the bytes of its "data" chunk.
inline Bytes wav_data(const Bytes& file) {
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t length = get32(&file[at + 4]);
        if (std::memcmp(&file[at], "data", 4) == 0) {
            const size_t end = std::min<size_t>(file.size(), at + 8 + size_t(length));
            return Bytes(file.begin() + long(at + 8), file.begin() + long(end));
        }
        at += 8 + size_t(length) + (length & 1);
    }
    return {};
}

// The library started with waveOut as the output interface.
class DigitalLibrary : public SoundLibrary {
protected:
    void SetUp() override {
        setenv("WIN32_AUDIO", "null", 1);
        ASSERT_EQ(SVX_startup(), 1);
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    }
    void TearDown() override {
        SVX_shutdown();
        for (void* image : images_) SVX_mem_free_lock(image);
        unsetenv("WIN32_AUDIO");
    }

    // A copy of `bytes` in library memory, whose size the library knows.
    const void* image(const Bytes& bytes) {
        void* block = SVX_mem_alloc_lock(int32_t(bytes.size()));
        EXPECT_NE(block, nullptr);
        if (!block) return nullptr;
        if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
        images_.push_back(block);
        return block;
    }

    HDIGDRIVER open(uint32_t rate, uint16_t channels, uint16_t bits) {
        const SVXPCMFORMAT format = pcm_format(rate, channels, bits);
        HDIGDRIVER driver = nullptr;
        EXPECT_EQ(SVX_waveOutOpen(&driver, nullptr, -1, &format), 0) << SVX_last_error();
        return driver;
    }

private:
    std::vector<void*> images_;
};

}  // namespace testing_support
