// The wave synthesizer: notes of a MIDI driver played as samples of a
// wave library; what it does not play reaches the MIDI device (smf:).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "digital/driver.h"
#include "digital_support.h"
#include "midi/mididrv.h"
#include "midi/wavesynth.h"
#include "midi_support.h"
#include "sonvex.h"
#include "win32/kernel.h"

namespace {

using testing_support::Bytes;
using testing_support::wait_for;
using svx::wavesynth::kFrequency;
using svx::wavesynth::voice_rate;

struct Entry {
    int32_t bank, patch, root, bytes, rate;
};

// A library of 8-bit unsigned entries, each `bytes` long.
Bytes library(const std::vector<Entry>& entries) {
    Bytes b;
    const size_t table = (entries.size() + 1) * 32;
    size_t data = table;
    for (const Entry& e : entries) {
        for (int32_t v : {e.bank, e.patch, e.root, int32_t(data), e.bytes, 0, 0, e.rate}) {
            testing_support::put32(b, uint32_t(v));
        }
        data += size_t(e.bytes);
    }
    testing_support::put32(b, uint32_t(-1));
    b.resize(table, 0);
    for (const Entry& e : entries) {
        for (int32_t i = 0; i < e.bytes; ++i) b.push_back(uint8_t(i % 2 ? 0x20 : 0xE0));
    }
    return b;
}

TEST(WaveSynthPitch, FrequencyTableAndRateArithmetic) {
    EXPECT_EQ(kFrequency[0], 8);
    EXPECT_EQ(kFrequency[1], 17);
    EXPECT_EQ(kFrequency[57], 440);
    EXPECT_EQ(kFrequency[127], 25088);
    struct Case {
        int key, root;
        int32_t rate;
        int bend, range;
        bool drum;
        int32_t want;
    };
    const Case cases[] = {
        {69, 57, 22050, 8192, 2, false, 44100},       // an octave up from the root
        {69, 57, 22050, 16383, 2, false, 49512},      // and two semitones of bend
        {60, 60, 22050, 0, 12, true, 11046},          // full bend down an octave
        {60, 60, 22050, 12288, 12, false, 33096},     // half-way up: frequencies, not cents
        {60, 30, 22050, 8192, 2, true, 22050},        // drums ignore the root key
        {127, 0, 44100, 8192, 2, false, 138297600},   // past 32 bits on the way
        {5, 60, 22050, 0, 12, false, 337},            // the bend target is clamped at key 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(voice_rate(c.key, c.root, c.rate, c.bend, c.range, c.drum), c.want)
            << c.key << " " << c.root << " " << c.bend;
    }
}

class WaveSynth : public testing_support::SoundLibrary {
protected:
    void SetUp() override {
        midi_capture_ = drive_.path() / "capture.mid";
        setenv("WIN32_AUDIO", "null", 1);
        setenv("WIN32_MIDI", ("smf:" + midi_capture_.string()).c_str(), 1);
        ASSERT_EQ(SVX_startup(), 1);
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    }
    void TearDown() override {
        SVX_shutdown();
        if (image_) SVX_mem_free_lock(image_);
        unsetenv("WIN32_AUDIO");
        unsetenv("WIN32_MIDI");
    }
    void open() {
        const SVXPCMFORMAT format = testing_support::pcm_format(22050, 1, 16);
        ASSERT_EQ(SVX_waveOutOpen(&digital_, nullptr, -1, &format), 0);
        ASSERT_EQ(SVX_midiOutOpen(&midi_, nullptr, -1), 0);
    }
    const void* image(const Bytes& b) {
        image_ = SVX_mem_alloc_lock(int32_t(b.size()));
        std::memcpy(image_, b.data(), b.size());
        return image_;
    }
    int free_handles() {
        std::vector<HSAMPLE> taken;
        while (HSAMPLE s = SVX_allocate_sample_handle(digital_)) taken.push_back(s);
        for (HSAMPLE s : taken) SVX_release_sample_handle(s);
        return int(taken.size());
    }
    void send(int status, int key, int velocity) {
        SVX_send_channel_voice_message(midi_, nullptr, status, key, velocity);
    }
    std::vector<Bytes> device_notes() {
        SVX_midiOutClose(midi_);
        midi_ = nullptr;
        std::vector<Bytes> out;
        for (const auto& e : testing_support::read_smf(midi_capture_))
            if ((e.bytes[0] & 0xE0) == 0x80) out.push_back(e.bytes);  // note-ons and -offs
        // The device's own reset at close sends no notes.
        return out;
    }

    std::filesystem::path midi_capture_;
    HDIGDRIVER digital_ = nullptr;
    HMDIDRIVER midi_ = nullptr;
    void* image_ = nullptr;
};

TEST_F(WaveSynth, TwentyVoicesAskForSixteenAndTooFewHandlesTakeNone) {
    SVX_set_preference(SVX_PREF_SAMPLE_HANDLES, 40);
    open();
    const void* lib = image(library({{0, 0, 60, 100, 22050}}));
    ASSERT_EQ(free_handles(), 40);
    HWAVESYNTH w = SVX_create_wave_synthesizer(digital_, midi_, lib, 20);
    ASSERT_NE(w, nullptr) << SVX_last_error();
    EXPECT_EQ(free_handles(), 24);
    EXPECT_EQ(svx::midi::driver_of(midi_)->wave_synthesizer, static_cast<void*>(w));
    SVX_destroy_wave_synthesizer(w);
    EXPECT_EQ(free_handles(), 40);
    EXPECT_EQ(svx::midi::driver_of(midi_)->event_callback.load(), nullptr);

    std::vector<HSAMPLE> hold;
    for (int i = 0; i < 30; ++i) hold.push_back(SVX_allocate_sample_handle(digital_));
    EXPECT_EQ(SVX_create_wave_synthesizer(digital_, midi_, lib, 12), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Could not allocate enough SAMPLE handles.");
    for (HSAMPLE s : hold) SVX_release_sample_handle(s);
    EXPECT_EQ(free_handles(), 40);
    EXPECT_EQ(svx::midi::driver_of(midi_)->wave_synthesizer, nullptr);
}

TEST_F(WaveSynth, ADrumNotePlaysToItsEndAfterItsNoteOffAndAMelodicNoteStops) {
    open();
    // Drum 36 lasts half a second (the output mixes ahead of time, so a
    // shorter one could be over by the time its note-off comes); the
    // melodic sound two seconds.
    HWAVESYNTH w = SVX_create_wave_synthesizer(
        digital_, midi_, image(library({{127, 36, 60, 11025, 22050}, {0, 0, 60, 44100, 22050}})), 4);
    ASSERT_NE(w, nullptr);
    send(0x99, 36, 100);
    send(0x89, 36, 0);
    EXPECT_EQ(SVX_active_sample_count(digital_), 1);
    EXPECT_TRUE(wait_for([&] { return SVX_active_sample_count(digital_) == 0; }));
    send(0xC0, 0, 0);
    send(0x90, 60, 100);
    EXPECT_EQ(SVX_active_sample_count(digital_), 1);
    send(0x90, 60, 0);  // velocity 0: a note-off
    EXPECT_EQ(SVX_active_sample_count(digital_), 0);
    SVX_destroy_wave_synthesizer(w);
    EXPECT_TRUE(device_notes().empty());
}

TEST_F(WaveSynth, WithAllVoicesBusyTheNextNoteEndsTheOneStartedFirst) {
    open();
    HWAVESYNTH w = SVX_create_wave_synthesizer(digital_, midi_, image(library({{0, 0, 60, 88200, 22050}})), 2);
    ASSERT_NE(w, nullptr);
    send(0xC0, 0, 0);
    send(0x90, 60, 100);
    send(0x90, 62, 100);
    send(0x90, 64, 100);  // takes the voice of 60
    EXPECT_EQ(SVX_active_sample_count(digital_), 2);
    send(0x80, 60, 0);  // no voice plays it: the device gets it
    send(0x80, 62, 0);
    send(0x80, 64, 0);
    EXPECT_EQ(SVX_active_sample_count(digital_), 0);
    SVX_destroy_wave_synthesizer(w);
    EXPECT_EQ(device_notes(), (std::vector<Bytes>{{0x80, 60, 0}}));
}

TEST_F(WaveSynth, ANoteWhoseProgramHasNoEntryReachesTheDevice) {
    open();
    HWAVESYNTH w = SVX_create_wave_synthesizer(digital_, midi_, image(library({{0, 0, 60, 44100, 22050}})), 4);
    ASSERT_NE(w, nullptr);
    SVXTIMBRECB timbre = svx::midi::driver_of(midi_)->timbre_callback.load();
    ASSERT_NE(timbre, nullptr);
    EXPECT_EQ(timbre(midi_, 0, 0), 1);
    EXPECT_EQ(timbre(midi_, 0, 7), 0);
    send(0xC1, 7, 0);
    send(0x91, 60, 100);
    send(0x99, 40, 100);  // no drum 40 either
    EXPECT_EQ(SVX_active_sample_count(digital_), 0);
    send(0xB1, 114, 0);
    send(0xC1, 0, 0);
    send(0x91, 61, 100);
    EXPECT_EQ(SVX_active_sample_count(digital_), 1);
    SVX_destroy_wave_synthesizer(w);
    EXPECT_EQ(device_notes(), (std::vector<Bytes>{{0x91, 60, 100}, {0x99, 40, 100}}));
}

TEST_F(WaveSynth, VolumePanAndPitchFollowTheChannel) {
    open();
    HWAVESYNTH w = SVX_create_wave_synthesizer(digital_, midi_, image(library({{0, 0, 60, 88200, 22050}})), 4);
    ASSERT_NE(w, nullptr);
    send(0xC0, 0, 0);
    send(0xB0, 7, 100);
    send(0xB0, 11, 90);
    send(0xB0, 10, 30);
    send(0x90, 72, 80);
    HSAMPLE playing = nullptr;
    svx::digital::DigitalDriver* d = svx::digital::driver_of(digital_);
    for (int i = 0; i < d->sample_count; ++i)
        if (d->samples[i].status.load() == SVX_PLAYING) playing = reinterpret_cast<HSAMPLE>(&d->samples[i]);
    ASSERT_NE(playing, nullptr);
    EXPECT_EQ(SVX_sample_volume(playing), 90 * 100 / 127 * 80 / 127);
    EXPECT_EQ(SVX_sample_pan(playing), 30);
    EXPECT_EQ(SVX_sample_playback_rate(playing), 22050 * 1047 / 523);  // an octave above the root
    send(0xE0, 0x7F, 0x7F);  // full bend up: two semitones
    EXPECT_EQ(SVX_sample_playback_rate(playing), 22050 * 1047 / 523 * 1175 / 1047);
    send(0xB0, 7, 127);
    EXPECT_EQ(SVX_sample_volume(playing), 90 * 127 / 127 * 80 / 127);
    send(0xB0, 123, 0);
    EXPECT_EQ(SVX_active_sample_count(digital_), 0);
    SVX_destroy_wave_synthesizer(w);
}

}  // namespace
