// MCI CD audio, the mixer's CD line and the CD aux device, on virtual
// discs made here: WAV tracks of known samples, or a BIN image with its
// CUE sheet. What a play sends to the output is checked in a wav: capture.
#include <gtest/gtest.h>
#include <linux/cdrom.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../../win32/multimedia/cd_drive.h"
#include "cd_support.h"
#include "multimedia_support.h"
#include "scratch_dir.h"
#include "win32/winmm.h"

namespace {

using namespace std::chrono_literals;
using mmtest::ScopedEnv;
namespace fs = std::filesystem;

MCIERROR open_cd(MCIDEVICEID& id, DWORD_PTR flags = 0, const char* element = nullptr) {
    MCI_OPEN_PARMSA parms{};
    parms.lpstrDeviceType = reinterpret_cast<LPCSTR>(uintptr_t(MCI_DEVTYPE_CD_AUDIO));
    parms.lpstrElementName = element;
    const MCIERROR result = mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID | flags,
                                            reinterpret_cast<DWORD_PTR>(&parms));
    id = parms.wDeviceID;
    return result;
}

MCIERROR close_cd(MCIDEVICEID id) { return mciSendCommandA(id, MCI_CLOSE, 0, 0); }

MCIERROR set_format(MCIDEVICEID id, DWORD format) {
    MCI_SET_PARMS parms{};
    parms.dwTimeFormat = format;
    return mciSendCommandA(id, MCI_SET, MCI_SET_TIME_FORMAT, reinterpret_cast<DWORD_PTR>(&parms));
}

MCIERROR door(MCIDEVICEID id, bool open) {
    MCI_SET_PARMS parms{};
    return mciSendCommandA(id, MCI_SET, open ? MCI_SET_DOOR_OPEN : MCI_SET_DOOR_CLOSED,
                           reinterpret_cast<DWORD_PTR>(&parms));
}

// The item's value; `error` gets the result.
DWORD_PTR status(MCIDEVICEID id, DWORD item, DWORD track = 0, MCIERROR* error = nullptr,
                 DWORD_PTR flags = 0) {
    MCI_STATUS_PARMS parms{};
    parms.dwItem = item;
    parms.dwTrack = track;
    if (track) flags |= MCI_TRACK;
    const MCIERROR result = mciSendCommandA(id, MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT | flags,
                                            reinterpret_cast<DWORD_PTR>(&parms));
    if (error) *error = result;
    return result ? 0 : parms.dwReturn;
}

MCIERROR play(MCIDEVICEID id, DWORD from, DWORD to) {
    MCI_PLAY_PARMS parms{};
    parms.dwFrom = from;
    parms.dwTo = to;
    return mciSendCommandA(id, MCI_PLAY, MCI_FROM | MCI_TO, reinterpret_cast<DWORD_PTR>(&parms));
}

// Waits, a bounded time, for the drive to leave play.
bool wait_stopped(MCIDEVICEID id, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (status(id, MCI_STATUS_MODE) == MCI_MODE_PLAY) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The CD line's volume through the mixer's control, both channels.
MMRESULT set_mixer_volume(DWORD left, DWORD right) {
    HMIXER mixer = nullptr;
    MMRESULT result = mixerOpen(&mixer, 0, 0, 0, MIXER_OBJECTF_MIXER);
    if (result) return result;
    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
    const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
    result = mixerGetLineInfoA(object, &line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE);
    MIXERCONTROLA control{};
    MIXERLINECONTROLSA controls{};
    if (!result) {
        controls.cbStruct = sizeof controls;
        controls.dwLineID = line.dwLineID;
        controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        controls.cControls = 1;
        controls.cbmxctrl = sizeof control;
        controls.pamxctrl = &control;
        result = mixerGetLineControlsA(object, &controls,
                                       MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE);
    }
    if (!result) {
        MIXERCONTROLDETAILS_UNSIGNED values[2] = {{left}, {right}};
        MIXERCONTROLDETAILS details{};
        details.cbStruct = sizeof details;
        details.dwControlID = control.dwControlID;
        details.cChannels = 2;
        details.cbDetails = sizeof values[0];
        details.paDetails = values;
        result = mixerSetControlDetails(object, &details,
                                        MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
    }
    mixerClose(mixer);
    return result;
}

// Sectors of the three tracks every WAV disc here has.
constexpr uint32_t kTrackSectors[3] = {15, 23, 19};

struct Disc {
    testing_support::ScratchDir dir;
    std::vector<std::vector<int16_t>> tracks;  // the samples of each track
};

void make_wav_disc(Disc& disc, uint32_t rate) {
    for (int t = 0; t < 3; ++t) {
        const size_t frames = size_t(kTrackSectors[t]) * rate / 75;
        disc.tracks.push_back(cdtest::tone(frames, 2, 17u + uint32_t(t)));
        cdtest::write_wav(disc.dir.path() / ("track0" + std::to_string(t + 1) + ".wav"), rate, 2,
                          disc.tracks.back());
    }
}

// The same three tracks in one BIN image, the second with a pregap.
void make_cue_disc(Disc& disc, const std::string& sheet_name = "disc.cue") {
    std::string bin;
    for (int t = 0; t < 3; ++t) {
        disc.tracks.push_back(cdtest::tone(size_t(kTrackSectors[t]) * 588, 2, 17u + uint32_t(t)));
        bin.append(reinterpret_cast<const char*>(disc.tracks.back().data()),
                   disc.tracks.back().size() * 2);
    }
    std::ofstream(disc.dir.path() / "Disc.BIN", std::ios::binary) << bin;
    std::ofstream(disc.dir.path() / sheet_name) << "REM made by the test\r\n"
                                                   "FILE \"disc.bin\" BINARY\r\n"
                                                   "  TRACK 01 AUDIO\r\n"
                                                   "    TITLE \"One\"\r\n"
                                                   "    INDEX 01 00:00:00\r\n"
                                                   "  TRACK 02 AUDIO\r\n"
                                                   "    INDEX 00 00:00:10\r\n"
                                                   "    INDEX 01 00:00:15\r\n"
                                                   "  TRACK 03 AUDIO\r\n"
                                                   "    INDEX 01 00:00:38\r\n";
}

class CdTest : public ::testing::Test {
protected:
    void use(const Disc& disc) { cd_.emplace("WIN32_CD", "virtual:" + disc.dir.str()); }
    // A disc of WAV files at 44.1 kHz in the drive, opened with times in
    // milliseconds.
    void open_wav_disc(Disc& disc, MCIDEVICEID& id) {
        make_wav_disc(disc, 44100);
        use(disc);
        ASSERT_EQ(open_cd(id), 0u);
        ASSERT_EQ(set_format(id, MCI_FORMAT_MILLISECONDS), 0u);
    }
    // The line's volume is the process's: each test starts at full.
    void SetUp() override { win32::mm::set_virtual_volume(0xFFFF, 0xFFFF); }

    ScopedEnv audio_{"WIN32_AUDIO", "null"};
    ScopedEnv volume_{"WIN32_CD_VOLUME", "mixer,aux"};
    std::optional<ScopedEnv> cd_;
};

TEST_F(CdTest, TableOfContentsInEveryTimeFormat) {
    for (bool cue : {false, true}) {
        SCOPED_TRACE(cue ? "CUE sheet" : "WAV files");
        Disc disc;
        cue ? make_cue_disc(disc) : make_wav_disc(disc, 44100);
        use(disc);
        MCIDEVICEID id = 0;
        ASSERT_EQ(open_cd(id), 0u);
        EXPECT_EQ(status(id, MCI_STATUS_TIME_FORMAT), DWORD_PTR(MCI_FORMAT_MSF));  // MCI's default
        EXPECT_EQ(status(id, MCI_STATUS_NUMBER_OF_TRACKS), 3u);
        EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_STOP));
        EXPECT_EQ(status(id, MCI_STATUS_MEDIA_PRESENT), 1u);
        // Track 1 starts 2 s in, as on a pressed disc; the rest follow.
        EXPECT_EQ(status(id, MCI_STATUS_POSITION, 1), DWORD_PTR(MCI_MAKE_MSF(0, 2, 0)));
        EXPECT_EQ(status(id, MCI_STATUS_POSITION, 2), DWORD_PTR(MCI_MAKE_MSF(0, 2, 15)));
        EXPECT_EQ(status(id, MCI_STATUS_LENGTH, 3), DWORD_PTR(MCI_MAKE_MSF(0, 0, 19)));
        ASSERT_EQ(set_format(id, MCI_FORMAT_TMSF), 0u);
        EXPECT_EQ(status(id, MCI_STATUS_POSITION, 3), DWORD_PTR(MCI_MAKE_TMSF(3, 0, 0, 0)));
        ASSERT_EQ(set_format(id, MCI_FORMAT_MILLISECONDS), 0u);
        uint32_t sector = 150;
        for (DWORD t = 1; t <= 3; ++t) {
            EXPECT_EQ(status(id, MCI_STATUS_POSITION, t), DWORD_PTR((sector * 1000 + 37) / 75));
            EXPECT_EQ(status(id, MCI_STATUS_LENGTH, t), DWORD_PTR((kTrackSectors[t - 1] * 1000 + 37) / 75));
            EXPECT_EQ(status(id, MCI_CDA_STATUS_TYPE_TRACK, t), DWORD_PTR(MCI_CDA_TRACK_AUDIO));
            sector += kTrackSectors[t - 1];
        }
        MCIERROR error = 0;
        status(id, MCI_STATUS_POSITION, 4, &error);
        EXPECT_EQ(error, DWORD(MCIERR_OUTOFRANGE));
        EXPECT_EQ(set_format(id, 7), DWORD(MCIERR_BAD_TIME_FORMAT));
        EXPECT_EQ(close_cd(id), 0u);
        EXPECT_EQ(close_cd(id), DWORD(MCIERR_INVALID_DEVICE_ID));
    }
}

// Playing track 2 to its end sends exactly its samples, at the CD line's
// volume, to the output; at 44.1 and 48 kHz, from WAV files and a BIN.
TEST_F(CdTest, PlayingATrackSendsExactlyItsSamplesAtTheLineVolume) {
    struct Case {
        const char* name;
        uint32_t rate;
        bool cue;
        DWORD left, right;
    };
    for (const Case& c : {Case{"44.1 kHz WAV", 44100, false, 0x8000, 0x4000},
                          Case{"48 kHz WAV", 48000, false, 0xFFFF, 0x1234},
                          Case{"BIN image", 44100, true, 127 * 516, 127 * 516}}) {
        SCOPED_TRACE(c.name);
        Disc disc;
        c.cue ? make_cue_disc(disc) : make_wav_disc(disc, c.rate);
        use(disc);
        const fs::path heard = disc.dir.path() / "heard.wav";
        ScopedEnv audio("WIN32_AUDIO", "wav:" + heard.string());
        ASSERT_EQ(set_mixer_volume(c.left, c.right), 0u);
        MCIDEVICEID id = 0;
        ASSERT_EQ(open_cd(id), 0u);
        ASSERT_EQ(set_format(id, MCI_FORMAT_MILLISECONDS), 0u);
        const DWORD start = DWORD(status(id, MCI_STATUS_POSITION, 2));
        const DWORD end = DWORD(status(id, MCI_STATUS_POSITION, 3));
        ASSERT_EQ(play(id, start, end), 0u);
        EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_PLAY));
        EXPECT_EQ(status(id, MCI_STATUS_CURRENT_TRACK), 2u);
        ASSERT_TRUE(wait_stopped(id));
        // Where play stopped: the end asked for.
        EXPECT_EQ(status(id, MCI_STATUS_POSITION), DWORD_PTR(end));
        ASSERT_EQ(close_cd(id), 0u);

        const cdtest::Capture capture = cdtest::read_capture(heard);
        ASSERT_EQ(capture.rate, c.rate);
        ASSERT_EQ(capture.channels, 2);
        std::vector<int16_t> left_right(disc.tracks[1].size());
        const auto scaled_left = cdtest::at_volume(disc.tracks[1], c.left);
        const auto scaled_right = cdtest::at_volume(disc.tracks[1], c.right);
        for (size_t i = 0; i < left_right.size(); ++i)
            left_right[i] = i % 2 ? scaled_right[i] : scaled_left[i];
        const auto got = cdtest::trimmed(capture.samples, 2);
        ASSERT_EQ(got.size(), left_right.size());
        EXPECT_TRUE(got == left_right);
    }
}

// When another source opened the output at 48 kHz first, the 44.1 kHz disc
// is converted into it: as long as it should be, and as loud.
TEST_F(CdTest, ADiscJoinsAnOutputOfAnotherRate) {
    Disc disc;
    make_wav_disc(disc, 44100);
    use(disc);
    const fs::path heard = disc.dir.path() / "heard.wav";
    ScopedEnv audio("WIN32_AUDIO", "wav:" + heard.string());
    const WAVEFORMATEX format = mmtest::pcm(2, 16, 48000);
    HWAVEOUT wave = nullptr;
    ASSERT_EQ(waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), 0u);
    MCIDEVICEID id = 0;
    ASSERT_EQ(open_cd(id), 0u);
    ASSERT_EQ(play(id, MCI_MAKE_MSF(0, 2, 15), MCI_MAKE_MSF(0, 2, 38)), 0u);  // track 2
    ASSERT_TRUE(wait_stopped(id));
    close_cd(id);
    ASSERT_EQ(waveOutClose(wave), 0u);

    const cdtest::Capture capture = cdtest::read_capture(heard);
    ASSERT_EQ(capture.rate, 48000u);
    const auto got = cdtest::trimmed(capture.samples, 2);
    const auto& track = disc.tracks[1];
    const double want_frames = double(track.size() / 2) * 48000 / 44100;
    EXPECT_NEAR(double(got.size() / 2), want_frames, 3.0);
    auto energy = [](const std::vector<int16_t>& s) {
        double sum = 0;
        for (int16_t v : s) sum += double(v) * v;
        return sum / double(s.size());
    };
    // Linear interpolation keeps two thirds of white noise's energy; a
    // stretch lost, doubled or left silent would show.
    EXPECT_NEAR(energy(got) / energy(track), 2.0 / 3, 0.05);
}

TEST_F(CdTest, PositionRunsWithWhatIsHeardAndHoldsWhilePaused) {
    Disc disc;
    MCIDEVICEID id = 0;
    ASSERT_NO_FATAL_FAILURE(open_wav_disc(disc, id));
    const DWORD start = DWORD(status(id, MCI_STATUS_POSITION, 1));
    const DWORD end = DWORD(status(id, MCI_STATUS_LENGTH)) + start;
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(play(id, start, end), 0u);
    // The position runs as the output plays: a loaded machine may be slow.
    while (status(id, MCI_STATUS_POSITION) < start + 60 && mmtest::elapsed_ms(began) < 2000)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(mciSendCommandA(id, MCI_PAUSE, 0, 0), 0u);
    const long long elapsed = mmtest::elapsed_ms(began);
    EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_PAUSE));
    const DWORD paused_at = DWORD(status(id, MCI_STATUS_POSITION));
    // Heard time, not pulled time: never ahead of the wall clock by more
    // than what the output holds.
    EXPECT_GT(paused_at, start + 60);
    EXPECT_LE(paused_at, start + DWORD(elapsed) + 60);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(status(id, MCI_STATUS_POSITION), DWORD_PTR(paused_at));
    ASSERT_EQ(mciSendCommandA(id, MCI_RESUME, 0, 0), 0u);
    EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_PLAY));
    ASSERT_TRUE(wait_stopped(id));
    EXPECT_EQ(status(id, MCI_STATUS_POSITION), DWORD_PTR(end));
    // Stop in the middle keeps where it stopped.
    ASSERT_EQ(play(id, start, end), 0u);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(mciSendCommandA(id, MCI_STOP, 0, 0), 0u);
    const DWORD stopped_at = DWORD(status(id, MCI_STATUS_POSITION));
    EXPECT_GT(stopped_at, start);
    EXPECT_LT(stopped_at, end);
    EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_STOP));
    close_cd(id);
}

TEST_F(CdTest, AnOpenDoorStopsPlayAndHidesTheDisc) {
    Disc disc;
    MCIDEVICEID id = 0;
    ASSERT_NO_FATAL_FAILURE(open_wav_disc(disc, id));
    ASSERT_EQ(play(id, 2000, 2500), 0u);
    ASSERT_EQ(door(id, true), 0u);
    EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_OPEN));
    EXPECT_EQ(status(id, MCI_STATUS_READY), 0u);
    EXPECT_EQ(status(id, MCI_STATUS_MEDIA_PRESENT), 0u);
    MCIERROR error = 0;
    status(id, MCI_STATUS_NUMBER_OF_TRACKS, 0, &error);
    EXPECT_EQ(error, DWORD(MCIERR_DEVICE_NOT_READY));
    EXPECT_EQ(play(id, 2000, 2500), DWORD(MCIERR_DEVICE_NOT_READY));
    ASSERT_EQ(door(id, false), 0u);
    EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_STOP));
    EXPECT_EQ(status(id, MCI_STATUS_NUMBER_OF_TRACKS), 3u);
    MCI_SET_PARMS parms{};
    EXPECT_EQ(mciSendCommandA(id, MCI_SET, MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED,
                              reinterpret_cast<DWORD_PTR>(&parms)),
              DWORD(MCIERR_FLAGS_NOT_COMPATIBLE));
    close_cd(id);
}

TEST_F(CdTest, PlayOutsideTheDiscIsRefused) {
    Disc disc;
    MCIDEVICEID id = 0;
    ASSERT_NO_FATAL_FAILURE(open_wav_disc(disc, id));
    const DWORD end = DWORD(status(id, MCI_STATUS_LENGTH)) + 2000;
    EXPECT_EQ(play(id, 0, 2500), DWORD(MCIERR_OUTOFRANGE));          // in the lead-in
    EXPECT_EQ(play(id, 2000, end + 100), DWORD(MCIERR_OUTOFRANGE));  // past the end
    EXPECT_EQ(play(id, 2500, 2500), DWORD(MCIERR_OUTOFRANGE));
    EXPECT_EQ(play(id, 0xFFFFFFFF, 0xFFFFFFFF), DWORD(MCIERR_OUTOFRANGE));
    EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_STOP));
    close_cd(id);
}

TEST_F(CdTest, OneDriveIsSharedOrRefused) {
    Disc disc;
    make_wav_disc(disc, 44100);
    use(disc);
    MCIDEVICEID first = 0, second = 0, third = 0;
    ASSERT_EQ(open_cd(first, MCI_OPEN_ELEMENT, "d:"), 0u);
    EXPECT_EQ(open_cd(second), DWORD(MCIERR_MUST_USE_SHAREABLE));
    ASSERT_EQ(open_cd(second, MCI_OPEN_SHAREABLE), 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(open_cd(third, MCI_OPEN_SHAREABLE | MCI_OPEN_ELEMENT, "E:"),
              DWORD(MCIERR_INVALID_DEVICE_NAME));
    // The drive is one: a door opened through one device is open for both.
    ASSERT_EQ(door(first, true), 0u);
    EXPECT_EQ(status(second, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_OPEN));
    ASSERT_EQ(door(second, false), 0u);
    EXPECT_EQ(close_cd(first), 0u);
    EXPECT_EQ(status(second, MCI_STATUS_NUMBER_OF_TRACKS), 3u);
    EXPECT_EQ(close_cd(second), 0u);
}

TEST_F(CdTest, DiscsWithoutTracksOrThatCannotBeRead) {
    {
        Disc empty;
        use(empty);
        MCIDEVICEID id = 0;
        ASSERT_EQ(open_cd(id), 0u);
        EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_STOP));
        MCIERROR error = 1;
        EXPECT_EQ(status(id, MCI_STATUS_NUMBER_OF_TRACKS, 0, &error), 0u);
        EXPECT_EQ(error, 0u);
        EXPECT_EQ(play(id, MCI_MAKE_MSF(0, 2, 0), MCI_MAKE_MSF(0, 3, 0)), DWORD(MCIERR_OUTOFRANGE));
        close_cd(id);
    }
    for (const char* bad : {"RIFX", "cue"}) {
        SCOPED_TRACE(bad);
        Disc disc;
        if (std::string(bad) == "cue") {
            make_cue_disc(disc);
            std::ofstream(disc.dir.path() / "a.cue") << "FILE \"gone.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
        } else {
            make_wav_disc(disc, 44100);
            std::ofstream(disc.dir.path() / "track02.wav", std::ios::binary) << "RIFX and nothing";
        }
        use(disc);
        MCIDEVICEID id = 0;
        ASSERT_EQ(open_cd(id), 0u);
        EXPECT_EQ(status(id, MCI_STATUS_MODE), DWORD_PTR(MCI_MODE_NOT_READY));
        MCIERROR error = 0;
        status(id, MCI_STATUS_NUMBER_OF_TRACKS, 0, &error);
        EXPECT_EQ(error, DWORD(MCIERR_DEVICE_NOT_READY));
        close_cd(id);
    }
}

TEST_F(CdTest, NoDriveOrAMissingDeviceIsAClearError) {
    testing_support::ScratchDir dir;
    std::ofstream(dir.path() / "plain") << "not a drive";
    for (const std::string& value :
         {std::string("none"), std::string("linux:/dev/no-such-cd-drive"),
          "linux:" + (dir.path() / "plain").string(), "virtual:" + (dir.path() / "gone").string()}) {
        SCOPED_TRACE(value);
        ScopedEnv cd("WIN32_CD", value);
        MCIDEVICEID id = 0;
        EXPECT_EQ(open_cd(id), DWORD(MCIERR_DEVICE_NOT_INSTALLED));
        EXPECT_EQ(mciSendCommandA(id, MCI_STOP, 0, 0), DWORD(MCIERR_INVALID_DEVICE_ID));
    }
    ScopedEnv none("WIN32_CD", "none");
    EXPECT_EQ(auxGetNumDevs(), 0u);
    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
    EXPECT_EQ(mixerGetLineInfoA(nullptr, &line, MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_COMPONENTTYPE),
              MMRESULT(MIXERR_INVALLINE));
}

TEST_F(CdTest, MixerAndAuxDeviceShareTheLineVolume) {
    Disc disc;
    use(disc);
    struct Case {
        const char* volume;
        bool mixer, aux;
    };
    for (const Case& c : {Case{"mixer,aux", true, true}, Case{"mixer", true, false},
                          Case{"aux", false, true}, Case{"none", false, false}}) {
        SCOPED_TRACE(c.volume);
        ScopedEnv volume("WIN32_CD_VOLUME", c.volume);
        EXPECT_EQ(mixerGetNumDevs(), 1u);  // the sound card's, with or without the line
        EXPECT_EQ(set_mixer_volume(0x1111, 0x2222), c.mixer ? 0u : MMRESULT(MIXERR_INVALLINE));
        EXPECT_EQ(auxGetNumDevs(), c.aux ? 1u : 0u);
        if (!c.aux) continue;
        AUXCAPSA caps{};
        ASSERT_EQ(auxGetDevCapsA(0, &caps, sizeof caps), 0u);
        EXPECT_EQ(caps.wTechnology, AUXCAPS_CDAUDIO);
        EXPECT_TRUE(caps.dwSupport & AUXCAPS_VOLUME);
        ASSERT_EQ(auxSetVolume(0, 0x30004000), 0u);
        DWORD value = 0;
        ASSERT_EQ(auxGetVolume(0, &value), 0u);
        EXPECT_EQ(value, 0x30004000u);
        if (c.mixer) {
            ASSERT_EQ(set_mixer_volume(0x1111, 0x2222), 0u);
            ASSERT_EQ(auxGetVolume(0, &value), 0u);
            EXPECT_EQ(value, 0x22221111u);
        }
    }
}

TEST_F(CdTest, MixerRefusesWhatItDoesNotHave) {
    Disc disc;
    use(disc);
    HMIXER mixer = nullptr;
    EXPECT_EQ(mixerOpen(&mixer, 1, 0, 0, 0), MMRESULT(MMSYSERR_BADDEVICEID));
    ASSERT_EQ(mixerOpen(&mixer, 0, 0, 0, 0), 0u);
    const auto object = reinterpret_cast<HMIXEROBJ>(mixer);
    MIXERCONTROLA control{};
    MIXERLINECONTROLSA controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = 0;  // the CD line
    controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME + 1;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof control;
    controls.pamxctrl = &control;
    EXPECT_EQ(mixerGetLineControlsA(object, &controls, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMRESULT(MIXERR_INVALCONTROL));
    controls.cbmxctrl = sizeof control - 1;
    controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    EXPECT_EQ(mixerGetLineControlsA(object, &controls, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMRESULT(MMSYSERR_INVALPARAM));
    MIXERCONTROLDETAILS_UNSIGNED value{70000};
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = 1;
    details.cChannels = 1;
    details.cbDetails = sizeof value;
    details.paDetails = &value;
    EXPECT_EQ(mixerSetControlDetails(object, &details, MIXER_OBJECTF_HMIXER), MMRESULT(MIXERR_INVALVALUE));
    details.cChannels = 3;  // more than the line has
    EXPECT_EQ(mixerGetControlDetailsA(object, &details, MIXER_OBJECTF_HMIXER), MMRESULT(MMSYSERR_INVALPARAM));
    EXPECT_EQ(mixerClose(mixer), 0u);
    EXPECT_EQ(mixerClose(mixer), MMRESULT(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(mixerGetControlDetailsA(object, &details, MIXER_OBJECTF_HMIXER), MMRESULT(MMSYSERR_INVALHANDLE));
}

// The kernel's addresses and states, without a drive.
TEST(CdLinux, AddressArithmetic) {
    using namespace win32::mm;
    struct Case {
        uint32_t m, s, f, sector;
        int32_t lba;
    };
    for (const Case& c : {Case{0, 2, 0, 150, 0}, Case{0, 0, 0, 0, -150}, Case{1, 0, 0, 4500, 4350},
                          Case{74, 59, 74, 337499, 337349}, Case{99, 59, 74, kMaxSector, int32_t(kMaxSector) - 150}}) {
        EXPECT_EQ(msf_to_sector(c.m, c.s, c.f), c.sector);
        uint8_t m, s, f;
        sector_to_msf(c.sector, m, s, f);
        EXPECT_EQ(m, c.m);
        EXPECT_EQ(s, c.s);
        EXPECT_EQ(f, c.f);
        EXPECT_EQ(sector_to_lba(c.sector), c.lba);
        EXPECT_EQ(lba_to_sector(c.lba), c.sector);
    }
    uint8_t m, s, f;
    sector_to_msf(kMaxSector + 1000, m, s, f);  // MSF cannot hold more
    EXPECT_EQ(msf_to_sector(m, s, f), kMaxSector);
    EXPECT_EQ(linux_to_line_volume(255), 0xFFFF);
    EXPECT_EQ(line_to_linux_volume(0xFFFF), 255);
    EXPECT_EQ(line_to_linux_volume(linux_to_line_volume(128)), 128);
}

TEST(CdLinux, DriveStateMapping) {
    using namespace win32::mm;
    struct Case {
        int drive, audio;
        CdMode mode;
    };
    for (const Case& c : {Case{CDS_TRAY_OPEN, CDROM_AUDIO_PLAY, CdMode::open},
                          Case{CDS_NO_DISC, -1, CdMode::not_ready},
                          Case{CDS_DRIVE_NOT_READY, CDROM_AUDIO_NO_STATUS, CdMode::not_ready},
                          Case{-1, CDROM_AUDIO_PLAY, CdMode::not_ready},
                          Case{CDS_DISC_OK, CDROM_AUDIO_PLAY, CdMode::playing},
                          Case{CDS_DISC_OK, CDROM_AUDIO_PAUSED, CdMode::paused},
                          Case{CDS_DISC_OK, CDROM_AUDIO_COMPLETED, CdMode::stopped},
                          Case{CDS_DISC_OK, CDROM_AUDIO_NO_STATUS, CdMode::stopped},
                          Case{CDS_DISC_OK, CDROM_AUDIO_ERROR, CdMode::stopped},
                          Case{CDS_NO_INFO, CDROM_AUDIO_PLAY, CdMode::playing},
                          Case{CDS_DISC_OK, -1, CdMode::not_ready}}) {
        EXPECT_EQ(linux_mode(c.drive, c.audio), c.mode) << c.drive << " " << c.audio;
    }
}

}  // namespace
