// Pieces the fuzz targets share: choices drawn from the input's hash, so a
// seed stays a plain file of its format; copies of the input placed where
// the code under test learns their size; and a scratch drive C:.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

// A check that must hold whatever the input: a failure is a finding.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

namespace fuzz {

// Choices made from the input's bytes: the same input, the same choices.
class Choices {
public:
    Choices(const uint8_t* data, size_t size) {
        state_ = 1469598103934665603ull;
        for (size_t i = 0; i < size; ++i) state_ = (state_ ^ data[i]) * 1099511628211ull;
    }
    uint32_t next() {
        state_ ^= state_ >> 33;
        state_ *= 0xff51afd7ed558ccdull;
        state_ ^= state_ >> 29;
        return uint32_t(state_ >> 16);
    }
    // One of `count` (count > 0).
    uint32_t pick(uint32_t count) { return next() % count; }
    bool chance(uint32_t one_in) { return pick(one_in) == 0; }
    template <typename T, size_t N>
    T one_of(const T (&values)[N]) {
        return values[pick(uint32_t(N))];
    }

private:
    uint64_t state_;
};

// A drive C: of its own for the process, removed at exit; WIN32_ROOT
// points to it, so nothing of the user's is read or written.
inline const std::string& scratch_drive() {
    static const std::string root = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kd-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        setenv("WIN32_ROOT", pattern.c_str(), 1);
        std::string windows = pattern + "/WINDOWS";
        mkdir(windows.c_str(), 0755);
        static std::string doomed = pattern;
        std::atexit([] { std::system(("rm -rf '" + doomed + "'").c_str()); });
        return pattern;
    }();
    return root;
}

inline void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

}  // namespace fuzz
