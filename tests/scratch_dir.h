// A fresh temporary folder for one test, removed afterwards, and the
// environment pointing the stand-in's drive C: and Windows folder into it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace testing_support {

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kdtest-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path_ = made ? made : "";
    }
    // KD_KEEP_SCRATCH=1 keeps the folder, to look at what a failed test left.
    ~ScratchDir() {
        if (const char* keep = std::getenv("KD_KEEP_SCRATCH"); keep && *keep == '1') return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Drive C: inside a scratch folder, with no windir override.
class ScratchDrive : public ScratchDir {
public:
    ScratchDrive() {
        std::filesystem::create_directories(path() / "drive_c" / "WINDOWS" / "SYSTEM");
        setenv("WIN32_ROOT", (path() / "drive_c").c_str(), 1);
        unsetenv("windir");
    }
    ~ScratchDrive() { unsetenv("WIN32_ROOT"); }
    std::filesystem::path windows() const { return path() / "drive_c" / "WINDOWS"; }
};

}  // namespace testing_support
