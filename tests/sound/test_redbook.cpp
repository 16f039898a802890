// Red Book CD audio through the stand-in's virtual drive: a disc of three
// WAV tracks made here, played into a wav: capture.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../win32/cd_support.h"
#include "sound_fixture.h"
#include "win32/winmm.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uint32_t kTrackSectors[3] = {15, 23, 19};
constexpr uint32_t K[4] = {0xB16EADE1, 0x471F295A, 0x38BCA4D5, 0xE41926FC};

uint32_t rotl8(uint32_t v) { return v << 8 | v >> 24; }
int32_t ms(uint32_t sector) { return int32_t((sector * 1000 + 37) / 75); }

// Sets a variable while it lives and puts the old value back.
class Env {
public:
    Env(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~Env() { old_ ? (void)setenv(name_, old_->c_str(), 1) : (void)unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class Redbook : public testing_support::SoundLibrary {
protected:
    void SetUp() override {
        fs::create_directories(disc_dir());
        fs::create_directories(drive_.path() / "empty");
        auxSetVolume(0, 0xFFFFFFFF);  // the line starts each test at full volume
    }
    void TearDown() override {
        for (HREDBOOK hand : open_) SVX_redbook_close(hand);
        SoundLibrary::TearDown();
    }

    fs::path disc_dir() const { return drive_.path() / "disc"; }

    void make_disc(uint32_t rate) {
        for (int t = 0; t < 3; ++t) {
            tracks_.push_back(cdtest::tone(size_t(kTrackSectors[t]) * rate / 75, 2, 5u + uint32_t(t)));
            cdtest::write_wav(disc_dir() / ("t" + std::to_string(t + 1) + ".wav"), rate, 2, tracks_.back());
        }
    }

    HREDBOOK open(int32_t which = 0) {
        HREDBOOK hand = SVX_redbook_open(which);
        if (hand) open_.push_back(hand);
        return hand;
    }
    void close(HREDBOOK hand) {
        SVX_redbook_close(hand);
        open_.erase(std::find(open_.begin(), open_.end(), hand));
    }

    // Waits, a bounded time, for play to end.
    bool wait_stopped(HREDBOOK hand) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (SVX_redbook_status(hand) == 1) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    Env audio_{"WIN32_AUDIO", "null"};
    Env cd_{"WIN32_CD", "virtual:" + (drive_.path() / "disc").string()};
    Env volume_{"WIN32_CD_VOLUME", "mixer,aux"};
    std::vector<std::vector<int16_t>> tracks_;
    std::vector<HREDBOOK> open_;
};

TEST_F(Redbook, TracksAndTrackInfo) {
    make_disc(44100);
    HREDBOOK hand = open();
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(SVX_redbook_status(hand), 3);
    ASSERT_EQ(SVX_redbook_tracks(hand), 3);
    uint32_t sector = 150;
    for (int32_t t = 1; t <= 3; ++t) {
        int32_t start = -1, end = -1;
        SVX_redbook_track_info(hand, t, &start, &end);
        EXPECT_EQ(start, ms(sector)) << t;
        // The last track reads 15 ms short.
        EXPECT_EQ(end, start + ms(kTrackSectors[t - 1]) - (t == 3 ? 15 : 0)) << t;
        sector += kTrackSectors[t - 1];
    }
    int32_t start = -1, end = -1;
    SVX_redbook_track_info(hand, 4, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 0);
    SVX_redbook_track_info(hand, 1, nullptr, nullptr);  // either output may be left out
}

TEST_F(Redbook, PlayingTrackTwoToItsEndPlaysExactlyItAtTheSetVolume) {
    for (uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        fs::remove_all(disc_dir());
        fs::create_directories(disc_dir());
        tracks_.clear();
        make_disc(rate);
        const fs::path heard = drive_.path() / ("heard" + std::to_string(rate) + ".wav");
        Env audio("WIN32_AUDIO", "wav:" + heard.string());
        HREDBOOK hand = open();
        ASSERT_NE(hand, nullptr);
        EXPECT_EQ(SVX_redbook_set_volume(hand, 64), 64);
        int32_t start, end;
        SVX_redbook_track_info(hand, 2, &start, &end);
        EXPECT_EQ(SVX_redbook_play(hand, start, end), 1);
        EXPECT_EQ(SVX_redbook_track(hand), 2);
        EXPECT_GE(SVX_redbook_position(hand), start);
        ASSERT_TRUE(wait_stopped(hand));
        EXPECT_EQ(SVX_redbook_status(hand), 3);
        EXPECT_EQ(SVX_redbook_position(hand), 0);  // 0 unless playing
        EXPECT_EQ(SVX_redbook_track(hand), 0);
        close(hand);

        const cdtest::Capture capture = cdtest::read_capture(heard);
        ASSERT_EQ(capture.rate, rate);
        const auto got = cdtest::trimmed(capture.samples, 2);
        const auto want = cdtest::at_volume(tracks_[1], 64 * 516);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
    }
}

TEST_F(Redbook, ResumePlaysFromThePauseToTheEndOfTheLastPlay) {
    make_disc(44100);
    const fs::path heard = drive_.path() / "heard.wav";
    Env audio("WIN32_AUDIO", "wav:" + heard.string());
    HREDBOOK hand = open();
    ASSERT_NE(hand, nullptr);
    int32_t start, end;
    SVX_redbook_track_info(hand, 1, &start, nullptr);
    SVX_redbook_track_info(hand, 2, nullptr, &end);
    ASSERT_EQ(SVX_redbook_play(hand, start, end), 1);
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(SVX_redbook_pause(hand), 2);
    EXPECT_EQ(SVX_redbook_status(hand), 2);
    EXPECT_EQ(SVX_redbook_pause(hand), 2);  // only while playing
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(SVX_redbook_resume(hand), 1);
    EXPECT_EQ(SVX_redbook_resume(hand), 1);  // only while paused
    ASSERT_TRUE(wait_stopped(hand));
    EXPECT_EQ(SVX_redbook_status(hand), 3);
    close(hand);

    // The sound begins with track 1 and ends with the end of track 2: the
    // play after the pause went on to the end asked for first, no further.
    const auto got = cdtest::trimmed(cdtest::read_capture(heard).samples, 2);
    const auto& one = tracks_[0];
    const auto& two = tracks_[1];
    ASSERT_GE(got.size(), one.size() + two.size());
    EXPECT_TRUE(std::equal(one.begin(), one.begin() + 200, got.begin()));
    EXPECT_TRUE(std::equal(two.end() - 200, two.end(), got.end() - 200));
}

TEST_F(Redbook, StopPauseAndTheDoor) {
    make_disc(44100);
    HREDBOOK hand = open();
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(SVX_redbook_pause(hand), 3);  // a stopped disc: nothing to pause
    EXPECT_EQ(SVX_redbook_resume(hand), 3);
    int32_t start, end;
    SVX_redbook_track_info(hand, 3, &start, &end);
    ASSERT_EQ(SVX_redbook_play(hand, start, end), 1);
    EXPECT_EQ(SVX_redbook_pause(hand), 2);
    SVX_redbook_eject(hand);
    EXPECT_EQ(SVX_redbook_status(hand), 0);
    EXPECT_EQ(SVX_redbook_tracks(hand), 0);
    EXPECT_EQ(SVX_redbook_id(hand), 0u);
    EXPECT_EQ(SVX_redbook_play(hand, start, end), 0);  // no disc to play
    SVX_redbook_retract(hand);
    EXPECT_EQ(SVX_redbook_status(hand), 3);  // the door cleared the pause
    ASSERT_EQ(SVX_redbook_play(hand, start, end), 1);
    EXPECT_EQ(SVX_redbook_stop(hand), 3);
    // A new play after a pause is not paused when it ends.
    ASSERT_EQ(SVX_redbook_play(hand, start, end), 1);
    EXPECT_EQ(SVX_redbook_pause(hand), 2);
    ASSERT_EQ(SVX_redbook_play(hand, start, start + 100), 1);
    ASSERT_TRUE(wait_stopped(hand));
    EXPECT_EQ(SVX_redbook_status(hand), 3);
}

TEST_F(Redbook, DiscIdentifier) {
    make_disc(44100);
    HREDBOOK hand = open();
    ASSERT_NE(hand, nullptr);
    uint32_t id = rotl8(K[1] ^ 3u);
    uint32_t sector = 150;
    for (uint32_t t = 1; t <= 3; ++t) {
        const uint32_t start = uint32_t(ms(sector));
        const uint32_t end = start + uint32_t(ms(kTrackSectors[t - 1])) - (t == 3 ? 15 : 0);
        const uint32_t a = t % 2 ? K[2] : K[0], b = t % 2 ? K[3] : K[1];
        id = rotl8(b ^ rotl8(a ^ id ^ start) ^ end);
        sector += kTrackSectors[t - 1];
    }
    EXPECT_EQ(SVX_redbook_id(hand), id);

    Env empty("WIN32_CD", "virtual:" + (drive_.path() / "empty").string());
    close(hand);
    hand = open();
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(SVX_redbook_tracks(hand), 0);
    EXPECT_EQ(SVX_redbook_id(hand), rotl8(K[1]));
}

TEST_F(Redbook, VolumeThroughMixerOrAuxOrNeither) {
    struct Case {
        const char* devices;
        int32_t set_to, read_back;
        DWORD aux_value;  // what the aux device then holds (0: not checked)
    };
    for (const Case& c : {Case{"mixer,aux", 64, 64, 64 * 516 * 0x10001u},
                          Case{"mixer", 127, 127, 0}, Case{"aux", 100, 100, 100 * 516 * 0x10001u},
                          Case{"none", 50, -1, 0}}) {
        SCOPED_TRACE(c.devices);
        Env devices("WIN32_CD_VOLUME", c.devices);
        HREDBOOK hand = open();
        ASSERT_NE(hand, nullptr);
        EXPECT_EQ(SVX_redbook_set_volume(hand, c.set_to), c.read_back);
        EXPECT_EQ(SVX_redbook_volume(hand), c.read_back);
        // Out of range changes nothing and reads back the volume.
        EXPECT_EQ(SVX_redbook_set_volume(hand, 128), c.read_back);
        EXPECT_EQ(SVX_redbook_set_volume(hand, -1), c.read_back);
        if (c.aux_value) {
            DWORD value = 0;
            ASSERT_EQ(auxGetVolume(0, &value), 0u);
            EXPECT_EQ(value, c.aux_value);
        }
        close(hand);
    }
}

TEST_F(Redbook, HandlesShareOneVolumeDeviceChosenAtTheFirstOpen) {
    Env devices("WIN32_CD_VOLUME", "none");
    HREDBOOK first = open();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SVX_redbook_volume(first), -1);
    {
        // A line that appears later is not looked for while a handle is open.
        Env later("WIN32_CD_VOLUME", "mixer,aux");
        HREDBOOK second = open();  // the drive is held: opened shareable
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(SVX_redbook_volume(second), -1);
        close(first);
        EXPECT_EQ(SVX_redbook_volume(second), -1);
        EXPECT_EQ(SVX_redbook_status(second), 3);
        close(second);
        // Both closed: the next open chooses again.
        HREDBOOK third = open();
        ASSERT_NE(third, nullptr);
        EXPECT_EQ(SVX_redbook_set_volume(third, 90), 90);
        HREDBOOK fourth = open();
        close(third);
        EXPECT_EQ(SVX_redbook_volume(fourth), 90);  // the mixer stays open for the second
    }
}

TEST_F(Redbook, OpeningAndNullHandles) {
    HREDBOOK by_drive = SVX_redbook_open_drive('D');
    ASSERT_NE(by_drive, nullptr);
    open_.push_back(by_drive);
    EXPECT_EQ(SVX_redbook_open_drive('E'), nullptr);
    {
        Env none("WIN32_CD", "none");
        close(by_drive);
        EXPECT_EQ(SVX_redbook_open(0), nullptr);
    }
    EXPECT_EQ(SVX_redbook_status(nullptr), 0);
    EXPECT_EQ(SVX_redbook_tracks(nullptr), 0);
    EXPECT_EQ(SVX_redbook_id(nullptr), 0u);
    EXPECT_EQ(SVX_redbook_play(nullptr, 0, 1000), 0);
    EXPECT_EQ(SVX_redbook_stop(nullptr), 0);
    EXPECT_EQ(SVX_redbook_pause(nullptr), 0);
    EXPECT_EQ(SVX_redbook_resume(nullptr), 0);
    EXPECT_EQ(SVX_redbook_position(nullptr), 0);
    EXPECT_EQ(SVX_redbook_volume(nullptr), 0);
    EXPECT_EQ(SVX_redbook_set_volume(nullptr, 10), 0);
    int32_t start = -1, end = -1;
    SVX_redbook_track_info(nullptr, 1, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 0);
    SVX_redbook_eject(nullptr);
    SVX_redbook_close(nullptr);
}

// Every MCI command is bracketed by the waveOut writer's turn: with nested
// tracing on, SVX_serve shows twice for each.
TEST_F(Redbook, EveryCommandIsBracketedByServe) {
    write_win_ini("[SONVEX]\r\nSONVEXDebug=C:\\cd.log\r\nSONVEXSysDebug=1\r\n");
    ASSERT_EQ(SVX_startup(), 1);
    HREDBOOK hand = open();  // MCI_OPEN, MCI_SET
    ASSERT_NE(hand, nullptr);
    SVX_redbook_status(hand);  // MCI_STATUS
    SVX_shutdown();
    const std::string log = read_file(drive_.path() / "drive_c" / "cd.log");
    EXPECT_NE(log.find("SVX_redbook_open(0)\r\n"), std::string::npos);
    EXPECT_NE(log.find("SVX_redbook_status(0x"), std::string::npos);
    size_t serves = 0;
    for (size_t at = log.find("SVX_serve()"); at != std::string::npos; at = log.find("SVX_serve()", at + 1))
        ++serves;
    EXPECT_EQ(serves, 6u);
}

}  // namespace
