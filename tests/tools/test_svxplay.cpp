// svxplay as a user runs it: what it plays is what the file holds, frame
// for frame, at every common rate and on both drivers, with the machine
// loaded; and every bad file or setting ends it quickly with a reason and
// a non-zero status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::quoted;
using testing_support::slurp;

struct Outcome : testing_support::Outcome {
    double seconds = 0;
};

// Runs svxplay with `args` and the environment `env` ("A=b C=d").
Outcome svxplay(const fs::path& dir, const std::string& env, const std::string& args) {
    Outcome run;
    const auto start = Clock::now();
    static_cast<testing_support::Outcome&>(run) = testing_support::run_tool(dir, SVXPLAY, args, env);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return run;
}

bool sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// A sound file's samples as signed 16-bit values, decoded by sox.
std::vector<int16_t> samples(const fs::path& file) {
    static std::atomic<int> counter{0};
    const fs::path raw = file.string() + "." + std::to_string(counter++) + ".raw";
    if (!sh("sox " + quoted(file) + " -t raw -e signed -b 16 " + quoted(raw) + " 2>/dev/null"))
        return {};
    const std::string bytes = slurp(raw);
    fs::remove(raw);
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    return out;
}

class Svxplay : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("svxplay-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // sox makes the file: its format, then what to synthesise.
    fs::path make(const std::string& name, const std::string& format, const std::string& effects) {
        const fs::path path = dir_ / name;
        EXPECT_TRUE(sh("sox -n " + format + " " + quoted(path) + " " + effects + " 2>/dev/null"))
            << "sox comes from the test package list";
        return path;
    }

    fs::path dir_;
};

TEST_F(Svxplay, WhatIsHeardIsTheFileFrameForFrame) {
    struct Case {
        std::string name, sox;
    };
    std::vector<Case> cases;
    for (int rate : {8000, 11025, 22050, 44100, 48000})
        for (int channels : {1, 2})
            for (int bits : {8, 16})
                cases.push_back({"pcm_" + std::to_string(rate) + "_" + std::to_string(channels) + "_" +
                                     std::to_string(bits) + ".wav",
                                 "-r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                                     " -b " + std::to_string(bits)});
    for (int rate : {22050, 44100})
        cases.push_back({"ima_" + std::to_string(rate) + ".wav",
                         "-r " + std::to_string(rate) + " -c 2 -e ima-adpcm"});

    struct Job {
        fs::path file;
        std::string driver;
    };
    std::vector<Job> jobs;
    for (const Case& c : cases) {
        // Five seconds of a sweep under a tone: every frame differs from the last.
        const fs::path file = make(c.name, c.sox, "synth 5 sine 200-4000 sine 440 gain -3");
        for (const char* driver : {"--waveout", "--directsound"}) jobs.push_back({file, driver});
    }

    // Two busy loops load both cores while the players run side by side:
    // the capture is paced in real time, the CPU is not.
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i)
        load.emplace_back([&] {
            volatile uint64_t n = 0;
            while (!stop.load(std::memory_order_relaxed)) n = n + 1;
        });
    std::atomic<size_t> next{0};
    std::mutex report;
    std::vector<std::string> failures;
    std::vector<std::thread> players;
    for (int p = 0; p < 4; ++p)
        players.emplace_back([&] {
            for (size_t i; (i = next++) < jobs.size();) {
                const Job& job = jobs[i];
                const fs::path capture = job.file.string() + job.driver + ".capture.wav";
                Outcome run = svxplay(dir_, "WIN32_AUDIO=wav:" + capture.string(),
                                  job.driver + " " + quoted(job.file));
                std::vector<int16_t> want = samples(job.file), got = samples(capture);
                std::string problem;
                if (run.status != 0) problem = "status " + std::to_string(run.status) + ": " + run.err;
                // The capture starts with the device's silence, then holds the
                // file from its first sounding frame on.
                size_t first_want = 0, first_got = 0;
                while (first_want < want.size() && want[first_want] == 0) ++first_want;
                while (first_got < got.size() && got[first_got] == 0) ++first_got;
                size_t wrong = 0;
                if (problem.empty() && (want.empty() || first_got < first_want)) problem = "nothing heard";
                const size_t start = first_got - std::min(first_got, first_want);
                for (size_t k = 0; problem.empty() && k < want.size(); ++k)
                    if (start + k >= got.size() || got[start + k] != want[k]) ++wrong;
                if (problem.empty() && wrong) problem = std::to_string(wrong) + " of " +
                                                        std::to_string(want.size()) + " samples differ";
                std::lock_guard lock(report);
                if (!problem.empty())
                    failures.push_back(job.file.filename().string() + " " + job.driver + ": " + problem);
            }
        });
    for (auto& t : players) t.join();
    stop.store(true);
    for (auto& t : load) t.join();
    for (const std::string& f : failures) ADD_FAILURE() << f;
}

TEST_F(Svxplay, BadFilesAndSettingsGiveAReasonAndAStatus) {
    const fs::path good = make("good.wav", "-r 22050 -c 1 -b 16", "synth 2 sine 440");
    const fs::path deep = make("deep.wav", "-r 44100 -c 2 -b 24", "synth 0.1 sine 440");
    const fs::path folder = dir_ / "folder";
    fs::create_directories(folder);
    const fs::path empty = dir_ / "empty.wav";
    std::ofstream(empty).close();
    const fs::path text = dir_ / "notes.txt";
    std::ofstream(text) << "not a sound\n";
    // A header that declares a second of data and holds none.
    const fs::path header_only = dir_ / "header.wav";
    {
        const unsigned char h[44] = {'R', 'I', 'F', 'F', 36, 0xAC, 0, 0, 'W', 'A', 'V', 'E',
                                     'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                     0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0,
                                     'd', 'a', 't', 'a', 0x44, 0xAC, 0, 0};
        std::ofstream(header_only, std::ios::binary).write(reinterpret_cast<const char*>(h), 44);
    }
    const std::string null = "WIN32_AUDIO=null";
    struct Case {
        const char* what;
        std::string env, args;
        int status;
        std::string said;  // in standard error
    } cases[] = {
        {"missing file", null, quoted((dir_ / "none.wav").string()), 1, "No such file"},
        {"folder", null, quoted(folder.string()), 1, "is a folder"},
        {"empty file", null, quoted(empty.string()), 1, "is empty"},
        {"header without data", null, quoted(header_only.string()), 1, "holds no sound data"},
        {"24-bit data", null, quoted(deep.string()), 1, "Unsupported wave file format."},
        {"not a sound file", null, quoted(text.string()), 1, "Unknown file type."},
        {"no file", null, "", 2, "no file given"},
        {"two files", null, quoted(good.string()) + " " + quoted(good.string()), 2, "one file"},
        {"unknown option", null, "--loud " + quoted(good.string()), 2, "unknown option --loud"},
        {"volume out of range", null, "--volume 200 " + quoted(good.string()), 2, "--volume takes"},
        {"device failing while playing", "WIN32_AUDIO=null:failafter=300", quoted(good.string()), 1,
         "device failed"},
        {"misspelt device", "WIN32_AUDIO=bogus", quoted(good.string()), 1, "names no device"},
        {"capture that cannot be written", "WIN32_AUDIO=wav:/nonexistent-folder/x.wav",
         quoted(good.string()), 1, "cannot be written"},
        {"no such ALSA device", "WIN32_AUDIO=alsa:no-such-pcm", quoted(good.string()), 1, "ALSA"},
        {"device named on the command line", null, "--device bogus " + quoted(good.string()), 1,
         "names no device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome run = svxplay(dir_, c.env, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        EXPECT_LT(run.seconds, 10.0);
    }
}

TEST_F(Svxplay, ShortFilesEndQuicklyAndHelpIsThere) {
    // One 8-bit frame at 11025 Hz, and the RIFF pad byte after it.
    const fs::path one = dir_ / "one.wav";
    {
        const unsigned char h[46] = {'R', 'I', 'F', 'F', 38, 0, 0, 0, 'W', 'A', 'V', 'E',
                                     'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                     0x11, 0x2B, 0, 0, 0x11, 0x2B, 0, 0, 1, 0, 8, 0,
                                     'd', 'a', 't', 'a', 1, 0, 0, 0, 0xC0, 0};
        std::ofstream(one, std::ios::binary).write(reinterpret_cast<const char*>(h), 46);
    }
    Outcome run = svxplay(dir_, "WIN32_AUDIO=null", quoted(one.string()));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.seconds, 1.5) << "one frame is heard at once";

    Outcome help = svxplay(dir_, "", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: svxplay"), std::string::npos);
    EXPECT_NE(help.out.find("--device"), std::string::npos);
}

TEST_F(Svxplay, VolumeAndLoopsAreHeard) {
    const fs::path tone = make("tone.wav", "-r 22050 -c 1 -b 16", "synth 0.2 sine 440");
    const fs::path capture = dir_ / "loops.wav";
    Outcome run = svxplay(dir_, "WIN32_AUDIO=wav:" + capture.string(),
                      "--loops 3 --volume 64 " + quoted(tone.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<int16_t> want = samples(tone), got = samples(capture);
    size_t sounding = 0;
    int peak_want = 0, peak_got = 0;
    for (int16_t s : want) peak_want = std::max(peak_want, std::abs(int(s)));
    for (int16_t s : got) {
        peak_got = std::max(peak_got, std::abs(int(s)));
        sounding += s != 0;
    }
    EXPECT_NEAR(double(sounding), 3.0 * double(want.size()), 0.02 * double(want.size()));
    EXPECT_NEAR(double(peak_got) / peak_want, 64.0 / 127.0, 0.02);
}

// A format 0 Standard MIDI File: key 60 for half a second.
void write_one_note_midi(const fs::path& path) {
    const unsigned char bytes[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                   'M', 'T', 'r', 'k', 0, 0, 0, 15,
                                   0x00, 0xC0, 0x00, 0x00, 0x90, 60, 100, 0x60, 0x80, 60, 64,
                                   0x00, 0xFF, 0x2F, 0x00};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST_F(Svxplay, AMidiFileIsPlayedOnTheMidiDevice) {
    const fs::path song = dir_ / "song.mid", capture = dir_ / "heard.mid";
    write_one_note_midi(song);
    Outcome run = svxplay(dir_, "WIN32_AUDIO=null WIN32_MIDI=smf:" + capture.string(),
                          "--no-progress " + quoted(song.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Standard MIDI"), std::string::npos) << run.out;
    const std::string heard = slurp(capture);
    const std::string note_on = {char(0x90), char(60)};
    EXPECT_NE(heard.find(note_on), std::string::npos) << "the note reached the device";
    EXPECT_LT(run.seconds, 5.0);
}

TEST_F(Svxplay, ItStartsAtTheStartPositionAndShowsProgress) {
    const fs::path tone = make("tone.wav", "-r 44100 -c 2 -b 16", "synth 2 sine 440");
    const fs::path capture = dir_ / "start.wav";
    Outcome run = svxplay(dir_, "WIN32_AUDIO=wav:" + capture.string(),
                          "--start 1500 --progress " + quoted(tone.string()));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<int16_t> want = samples(tone), got = samples(capture);
    size_t sounding = 0;
    for (int16_t s : got) sounding += s != 0;
    // The last half second, and exactly the file's frames from there.
    EXPECT_NEAR(double(sounding), double(want.size()) / 4, 0.02 * double(want.size()));
    size_t first = 0;
    while (first < got.size() && got[first] == 0) ++first;
    const size_t from = want.size() * 3 / 4;
    ASSERT_LT(first, got.size());
    // The first sounding value may be one past a zero crossing.
    size_t offset = 0;
    while (offset < 8 && got[first] != want[from + offset]) ++offset;
    EXPECT_TRUE(std::equal(want.begin() + long(from + offset), want.end(), got.begin() + long(first)));
    EXPECT_NE(run.err.find("0:02.0 / 0:02.0"), std::string::npos) << run.err;
}

TEST_F(Svxplay, CtrlCStopsItWithTheDeviceClosed) {
    const fs::path tone = make("tone.wav", "-r 22050 -c 1 -b 16", "synth 1 sine 440");
    const fs::path capture = dir_ / "stopped.wav";
    // Looping for ever; the interrupt comes a second later.
    const std::string script = "WIN32_AUDIO=wav:" + capture.string() + " " + SVXPLAY +
                               " --loops 0 " + tone.string() + " & p=$!; sleep 1; kill -INT $p; wait $p";
    const testing_support::Outcome run = testing_support::run_tool(dir_, "sh", "-c " + quoted(script));
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("stopped"), std::string::npos) << run.err;
    // A finished capture: its RIFF and data sizes agree with the file.
    const std::string wav = slurp(capture);
    ASSERT_GT(wav.size(), 44u);
    auto at = [&](size_t i) {
        return uint32_t(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8 | uint8_t(wav[i + 2]) << 16 |
                        uint8_t(wav[i + 3]) << 24);
    };
    EXPECT_EQ(at(4), wav.size() - 8);
    EXPECT_GT(samples(capture).size(), 22050u / 2) << "about a second was heard";
}

}  // namespace
