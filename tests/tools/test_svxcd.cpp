// svxcd as a user runs it, on a folder of WAV tracks made here: the list,
// a played track heard frame for frame, the volume, and every wrong
// command line or missing drive ending with a reason and a non-zero status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../win32/cd_support.h"
#include "scratch_dir.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;

using testing_support::Outcome;
using testing_support::quoted;
using testing_support::slurp;

class Svxcd : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(disc());
        for (int t = 0; t < 3; ++t) {
            tracks_.push_back(cdtest::tone(size_t(15 + 4 * t) * 588, 2, 40u + uint32_t(t)));
            cdtest::write_wav(disc() / ("0" + std::to_string(t + 1) + " track.wav"), 44100, 2,
                              tracks_.back());
        }
    }
    fs::path disc() const { return dir_.path() / "my disc"; }

    // svxcd with `args`, the environment `env`; a hard limit keeps a hung
    // player from hanging the test.
    Outcome svxcd(const std::string& env, const std::string& args) {
        return testing_support::run_tool(dir_.path(), SVXCD, args, "WIN32_AUDIO=null " + env);
    }

    testing_support::ScratchDir dir_;
    std::vector<std::vector<int16_t>> tracks_;
};

TEST_F(Svxcd, ListsTracksAndTheDiscIdentifier) {
    const Outcome run = svxcd("", "--disc " + quoted(disc()) + " list");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("    1  0:02.000   0:00.200\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("    2  0:02.200   0:00.253\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("    3  0:02.453   0:00.292\n"), std::string::npos) << run.out;  // 15 ms short
    EXPECT_NE(run.out.find("3 tracks, disc id "), std::string::npos) << run.out;
    // WIN32_CD names the same disc.
    const Outcome again = svxcd("WIN32_CD=virtual:" + quoted(disc()), "list");
    EXPECT_EQ(again.out, run.out);
}

TEST_F(Svxcd, PlaysATrackAsItIsOnTheDiscAtTheGivenVolume) {
    const fs::path heard = dir_.path() / "heard.wav";
    const Outcome run = svxcd("", "--disc " + quoted(disc()) + " --device wav:" + quoted(heard) +
                                      " --volume 100 play 2");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto got = cdtest::trimmed(cdtest::read_capture(heard).samples, 2);
    const auto want = cdtest::at_volume(tracks_[1], 100 * 516);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

TEST_F(Svxcd, PlaysARangeToItsEnd) {
    const fs::path heard = dir_.path() / "range.wav";
    const Outcome run = svxcd("", "--disc " + quoted(disc()) + " --device wav:" + quoted(heard) + " play 1-2");
    ASSERT_EQ(run.status, 0) << run.err;
    auto want = tracks_[0];
    want.insert(want.end(), tracks_[1].begin(), tracks_[1].end());
    EXPECT_TRUE(cdtest::trimmed(cdtest::read_capture(heard).samples, 2) == want);
}

TEST_F(Svxcd, ReadsAndSetsTheVolume) {
    Outcome run = svxcd("", "--disc " + quoted(disc()) + " volume 77");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "volume 77\n");
    run = svxcd("WIN32_CD_VOLUME=none", "--disc " + quoted(disc()) + " volume");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no volume control"), std::string::npos) << run.err;
}

TEST_F(Svxcd, WrongCommandLinesAndMissingDrivesEndWithAReason) {
    struct Case {
        std::string env, args;
        int status;
        const char* reason;
    };
    const std::string disc_option = "--disc " + quoted(disc());
    for (const Case& c : {Case{"", "", 2, "no command given"},
                          Case{"", "spin", 2, "unknown command spin"},
                          Case{"", "--volume 128 play", 2, "--volume takes 0 to 127"},
                          Case{"", "--drive DD list", 2, "--drive takes one letter"},
                          Case{"", "list extra", 2, "list takes no argument"},
                          Case{"", "--bogus list", 2, "unknown option --bogus"},
                          Case{"WIN32_CD=none", "list", 1, "WIN32_CD is none"},
                          Case{"WIN32_CD=linux:/dev/no-such-cd", "list", 1, "did not open"},
                          Case{"", disc_option + " --drive E list", 1, "no CD device opens on drive E:"},
                          Case{"", disc_option + " play 4", 1, "the disc has 3 tracks"},
                          Case{"", disc_option + " play 2-1", 1, "not a track or a range"},
                          Case{"", disc_option + " volume 200", 2, "volume takes 0 to 127"}}) {
        SCOPED_TRACE(c.args);
        const Outcome run = svxcd(c.env, c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("usage:") != std::string::npos, c.status == 2) << run.err;
    }
    const Outcome help = svxcd("", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: svxcd"), std::string::npos);
}

}  // namespace
