// A library started inside a scratch drive C:, with WIN.INI written first
// and the library shut down afterwards.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "scratch_dir.h"
#include "sonvex.h"
#include "win32/kernel.h"

namespace testing_support {

// Polls `done` until it holds, for at most `limit_ms` of the library's clock.
template <typename Done>
bool wait_for(Done done, uint32_t limit_ms = 20000) {
    const uint32_t start = SVX_ms_count();
    while (!done()) {
        if (SVX_ms_count() - start > limit_ms) return false;
        Sleep(2);
    }
    return true;
}

class SoundLibrary : public ::testing::Test {
protected:
    void TearDown() override { SVX_shutdown(); }

    void write_win_ini(const std::string& text) {
        std::ofstream(drive_.windows() / "WIN.INI") << text;
    }
    std::string read_file(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    ScratchDrive drive_;
};

}  // namespace testing_support
