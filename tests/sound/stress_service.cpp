// Churns sample, sequence and driver calls on the application thread while
// the service thread mixes and sequences, on waveOut and on DirectSound.
// Under ThreadSanitizer it runs 20 seconds per output and any race report
// fails it; elsewhere a short run catches memory faults.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "digital_support.h"
#include "midi_support.h"
#include "thread_checker.h"
#include "win32/kernel.h"

namespace {

using namespace testing_support;

constexpr int kSamples = 8;
constexpr int kSequences = 2;

// Seconds per output: KD_STRESS_SECONDS, else 20 under the thread checker
// and 2 elsewhere.
int stress_seconds() {
    if (const char* s = std::getenv("KD_STRESS_SECONDS"); s && std::atoi(s) > 0) return std::atoi(s);
    return kThreadChecker ? 20 : 2;
}

// Sound data of every format the mixer has: 8/16-bit, mono/stereo.
struct Sound {
    Bytes data;
    int32_t format;
};

std::vector<Sound> make_sounds() {
    std::vector<Sound> sounds;
    for (int32_t format : {0, SVX_FORMAT_16BIT, SVX_FORMAT_STEREO, SVX_FORMAT_16BIT | SVX_FORMAT_STEREO}) {
        const int bytes = (format & SVX_FORMAT_16BIT ? 2 : 1) * (format & SVX_FORMAT_STEREO ? 2 : 1);
        Sound s{Bytes(size_t(2000 + 700 * format) * size_t(bytes)), format};
        for (size_t i = 0; i < s.data.size(); ++i) s.data[i] = uint8_t(i * 37 + format);
        sounds.push_back(std::move(s));
    }
    return sounds;
}

class Stress : public DigitalLibrary, public ::testing::WithParamInterface<int> {};

TEST_P(Stress, CallsFromTheApplicationRaceTheServiceWithoutHarm) {
    const bool waveout = GetParam() == 1;
    setenv("WIN32_MIDI", "null", 1);
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, waveout ? 1 : 0);
    SVX_set_DirectSound_HWND(nullptr, GetConsoleWindow());
    HDIGDRIVER driver = open(44100, 2, 16);
    ASSERT_NE(driver, nullptr);
    HMDIDRIVER midi = nullptr;
    ASSERT_EQ(SVX_midiOutOpen(&midi, nullptr, -1), 0) << SVX_last_error();

    const std::vector<Sound> sounds = make_sounds();
    const Bytes tune_bytes = branching_tune();
    const void* tune_image = image(tune_bytes);
    std::vector<HSAMPLE> samples;
    for (int i = 0; i < kSamples; ++i) {
        HSAMPLE s = SVX_allocate_sample_handle(driver);
        ASSERT_NE(s, nullptr);
        samples.push_back(s);
    }
    std::vector<HSEQUENCE> sequences;
    for (int i = 0; i < kSequences; ++i) {
        HSEQUENCE q = SVX_allocate_sequence_handle(midi);
        ASSERT_NE(q, nullptr);
        ASSERT_EQ(SVX_init_sequence(q, tune_image, 0), 1) << SVX_last_error();
        SVX_set_sequence_loop_count(q, 0);
        SVX_start_sequence(q);
        sequences.push_back(q);
    }

    std::mt19937 random(GetParam() * 7919 + 1);
    auto pick = [&](int n) { return int(random() % uint32_t(n)); };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(stress_seconds());
    int finished = 0, calls = 0;
    bool released = false;
    while (std::chrono::steady_clock::now() < end) {
        ++calls;
        HSAMPLE s = samples[size_t(pick(kSamples))];
        HSEQUENCE q = sequences[size_t(pick(kSequences))];
        switch (pick(16)) {
            case 0: {
                const Sound& sound = sounds[size_t(pick(int(sounds.size())))];
                SVX_init_sample(s);
                SVX_set_sample_address(s, sound.data.data(), uint32_t(sound.data.size()));
                SVX_set_sample_type(s, sound.format, 0);
                SVX_set_sample_playback_rate(s, 8000 + pick(40000));
                SVX_set_sample_loop_count(s, pick(3));
                SVX_start_sample(s);
                break;
            }
            case 1: SVX_stop_sample(s); break;
            case 2: SVX_resume_sample(s); break;
            case 3: SVX_end_sample(s); break;
            case 4:
                SVX_set_sample_volume(s, pick(128));
                SVX_set_sample_pan(s, pick(128));
                break;
            case 5: SVX_set_sample_position(s, uint32_t(pick(4000))); break;
            case 6: {
                int32_t total = 0, current = 0;
                SVX_sample_ms_position(s, &total, &current);
                // A position set past the end reads past the end, so only
                // the signs can be checked.
                EXPECT_GE(total, 0);
                EXPECT_GE(current, 0);
                break;
            }
            case 7: {
                const int32_t status = SVX_sample_status(s);
                EXPECT_TRUE(status == SVX_DONE || status == SVX_PLAYING || status == SVX_STOPPED ||
                            status == SVX_SUSPENDED)
                    << status;
                finished += status == SVX_DONE;
                break;
            }
            case 8: SVX_set_sequence_tempo(q, 50 + pick(150), pick(200)); break;
            case 9: SVX_set_sequence_volume(q, pick(128), pick(200)); break;
            case 10: SVX_branch_index(q, 0); break;
            case 11:
                if (pick(4) == 0) {
                    SVX_end_sequence(q);
                    EXPECT_EQ(SVX_init_sequence(q, tune_image, 0), 1);
                    SVX_start_sequence(q);
                } else {
                    SVX_stop_sequence(q);
                    SVX_resume_sequence(q);
                }
                break;
            case 12: {
                int32_t beat = 0, measure = 0;
                SVX_sequence_position(q, &beat, &measure);
                EXPECT_GE(measure, 0);
                break;
            }
            case 13: SVX_set_digital_master_volume(driver, pick(128)); break;
            case 14:
                // Now and then the output is given up and taken back.
                if (pick(200) == 0) {
                    if (released) {
                        EXPECT_EQ(SVX_digital_handle_reacquire(driver), 1);
                    } else {
                        EXPECT_EQ(SVX_digital_handle_release(driver), 1);
                    }
                    released = !released;
                }
                break;
            default:
                EXPECT_GE(SVX_active_sample_count(driver), 0);
                if (pick(50) == 0) Sleep(1);  // let the service in now and then
                break;
        }
        if (::testing::Test::HasFailure()) break;
    }
    if (released) {
        EXPECT_EQ(SVX_digital_handle_reacquire(driver), 1);
    }
    EXPECT_GT(calls, 1000);
    EXPECT_GT(finished, 0) << "no sample ever played to its end: the service did not run";

    for (HSEQUENCE q : sequences) SVX_release_sequence_handle(q);
    for (HSAMPLE s : samples) SVX_release_sample_handle(s);
    SVX_midiOutClose(midi);
    SVX_waveOutClose(driver);
    unsetenv("WIN32_MIDI");
}

INSTANTIATE_TEST_SUITE_P(Outputs, Stress, ::testing::Values(1, 0),
                         [](const auto& info) { return info.param ? "WaveOut" : "DirectSound"; });

}  // namespace
