#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string output;
};

// Runs the demo from `folder` (with the libraries beside it) and collects
// its exit status and everything it printed.
Outcome run_from(const fs::path& folder) {
    fs::create_directories(folder);
    for (const char* file : {SVX_DEMO, SVX_LIBRARY, KERNEL_LIBRARY, MULTIMEDIA_LIBRARY})
        fs::copy_file(file, folder / fs::path(file).filename(),
                      fs::copy_options::overwrite_existing);
    std::string command = "'" + (folder / fs::path(SVX_DEMO).filename()).string() + "' 2>&1";
    Outcome outcome{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    std::array<char, 256> chunk;
    while (size_t n = fread(chunk.data(), 1, chunk.size(), pipe)) outcome.output.append(chunk.data(), n);
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

struct Place {
    const char* folder;  // under drive C:
    const char* message;  // null: the program starts
};

class Installation : public ::testing::TestWithParam<Place> {};

TEST_P(Installation, TheLibraryRefusesTheWindowsFolders) {
    testing_support::ScratchDrive drive;
    Outcome outcome = run_from(drive.path() / "drive_c" / GetParam().folder);
    if (GetParam().message) {
        EXPECT_NE(outcome.status, 0);
        EXPECT_EQ(outcome.output, std::string("Klarfilm Error: ") + GetParam().message + "\n");
    } else {
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        EXPECT_NE(outcome.output.find("sonvex32 started"), std::string::npos) << outcome.output;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Installation,
    ::testing::Values(
        Place{"WINDOWS", "The SONVEX DLL is incorrectly installed in the Windows directory."},
        Place{"windows/system",
              "The SONVEX DLL is incorrectly installed in the Windows system directory."},
        Place{"Games/Orvanth", nullptr}, Place{"WINDOWS/Other", nullptr}));

}  // namespace
