// Discs for the CD tests, made in the test: WAV tracks of known samples,
// or a BIN image with its CUE sheet; and reading back a wav: capture.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace cdtest {

// 16-bit frames, interleaved, that never fall silent: every sample is at
// least 1000 away from zero, so a scaled copy can be told from silence.
inline std::vector<int16_t> tone(size_t frames, uint16_t channels, uint32_t seed) {
    std::vector<int16_t> out(frames * channels);
    for (auto& s : out) {
        seed = seed * 1664525u + 1013904223u;
        int32_t v = int32_t(seed >> 17) - 16384;  // -16384..16383
        s = int16_t(v >= 0 ? v + 1000 : v - 1000);
    }
    return out;
}

inline void put16(std::string& out, uint32_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8 & 0xFF));
}
inline void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline void write_wav(const std::filesystem::path& path, uint32_t rate, uint16_t channels,
                      const std::vector<int16_t>& samples) {
    const uint32_t bytes = uint32_t(samples.size() * 2);
    std::string out = "RIFF";
    put32(out, 36 + bytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);
    put16(out, channels);
    put32(out, rate);
    put32(out, rate * channels * 2);
    put16(out, uint16_t(channels * 2));
    put16(out, 16);
    out += "data";
    put32(out, bytes);
    out.append(reinterpret_cast<const char*>(samples.data()), bytes);
    std::ofstream(path, std::ios::binary) << out;
}

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Capture {
    uint32_t rate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples;
};

// The format and the samples of a 16-bit capture; empty when unreadable.
inline Capture read_capture(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    Capture capture;
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t size = le32(&file[at + 4]);
        if (size > file.size() - at - 8) break;
        if (std::memcmp(&file[at], "fmt ", 4) == 0 && size >= 16) {
            capture.channels = uint16_t(file[at + 10] | file[at + 11] << 8);
            capture.rate = le32(&file[at + 12]);
        } else if (std::memcmp(&file[at], "data", 4) == 0) {
            capture.samples.resize(size / 2);
            std::memcpy(capture.samples.data(), &file[at + 8], capture.samples.size() * 2);
        }
        at += 8 + size + (size & 1);
    }
    return capture;
}

// The samples without the silent frames before and after the sound.
inline std::vector<int16_t> trimmed(const std::vector<int16_t>& samples, uint16_t channels) {
    size_t first = 0, last = samples.size() / channels;
    auto silent = [&](size_t frame) {
        for (uint16_t c = 0; c < channels; ++c)
            if (samples[frame * channels + c] != 0) return false;
        return true;
    };
    while (first < last && silent(first)) ++first;
    while (last > first && silent(last - 1)) --last;
    return std::vector<int16_t>(samples.begin() + ptrdiff_t(first * channels),
                                samples.begin() + ptrdiff_t(last * channels));
}

// What the CD line makes of a sample at volume `value` (0-0xFFFF).
inline std::vector<int16_t> at_volume(const std::vector<int16_t>& samples, uint32_t value) {
    std::vector<int16_t> out(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        out[i] = int16_t(int64_t(samples[i]) * value / 0xFFFF);
    return out;
}

}  // namespace cdtest
