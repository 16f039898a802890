// The quick interface, heard through the stand-in's wav: and smf: devices:
// what comes out must be the file's data or the sequence's notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "digital/driver.h"
#include "digital_support.h"
#include "dls_fixture.h"
#include "midi_support.h"
#include "services/quick.h"
#include "sonvex.h"
#include "test_dsound_support.h"
#include "thread_checker.h"
#include "win32/kernel.h"

namespace {

namespace fx = dls_fixture;
using testing_support::Bytes;

// A WAV whose 16-bit values are never 0, so that silence marks a gap.
Bytes loud_wav(uint32_t rate, uint16_t channels, size_t frames, uint32_t seed = 7) {
    Bytes data;
    for (int16_t v : dstesting::loud16(frames * channels, seed)) testing_support::put16(data, uint16_t(v));
    return dstesting::pcm_wav(rate, channels, 16, data);
}

// A format 0 Standard MIDI File: program 0, key 60 for half a second.
Bytes smf_one_note() {
    Bytes track = {0x00, 0xC0, 0x00, 0x00, 0x90, 60, 100, 0x60, 0x80, 60, 64, 0x00, 0xFF, 0x2F, 0x00};
    Bytes b = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
    const Bytes chunk = testing_support::chunk("MTrk", track);
    b.insert(b.end(), chunk.begin(), chunk.end());
    return b;
}

// Key 40 at once and key 60 a second later (120 ticks a second).
Bytes two_notes_xmidi() {
    using testing_support::Events;
    return testing_support::xmidi_file(testing_support::xmidi_form(
        Events().program(0, 0).note(0, 40, 100, 10).wait(120).note(0, 60, 100, 10).wait(20).end()));
}

// One looped wave on bank 0 program 0 that never crosses 0.
Bytes looped_collection() {
    fx::Collection c;
    fx::Wave w;
    w.rate = 44100;
    std::vector<int16_t> values;
    for (int i = 0; i < 100; ++i) values.push_back(int16_t(4000 + (i * 523) % 20000));
    w.data = fx::pcm16(values);
    w.sample = fx::Wsmp{60, 0, 0, fx::Loop{0, 100}};
    c.waves = {w};
    c.instruments.push_back(fx::Instrument(0, 0, {fx::Region(0, 127, 0)}));
    return fx::build(c);
}

using testing_support::wait_for;

class Quick : public testing_support::SoundLibrary {
protected:
    void SetUp() override {
        audio_ = drive_.path() / "capture.wav";
        midi_ = drive_.path() / "capture.mid";
        setenv("WIN32_AUDIO", ("wav:" + audio_.string()).c_str(), 1);
        setenv("WIN32_MIDI", ("smf:" + midi_.string()).c_str(), 1);
    }
    void TearDown() override {
        SVX_quick_shutdown();
        SVX_shutdown();
        for (void* b : blocks_) SVX_mem_free_lock(b);
        unsetenv("WIN32_AUDIO");
        unsetenv("WIN32_MIDI");
        unsetenv("WIN32_DSOUND");
    }
    std::string file(const std::string& name, const Bytes& bytes) {
        const auto path = drive_.path() / name;
        testing_support::write_bytes(path, bytes);
        return path.string();
    }
    const void* block(const Bytes& b) {
        void* p = SVX_mem_alloc_lock(int32_t(b.size()));
        std::memcpy(p, b.data(), b.size());
        blocks_.push_back(p);
        return p;
    }
    HQUICK load(const Bytes& b) { return SVX_quick_load_mem(block(b), uint32_t(b.size())); }
    // The capture's data; the library is shut down first so the file is whole.
    Bytes heard_audio() {
        SVX_quick_shutdown();
        return testing_support::wav_data(testing_support::read_bytes(audio_));
    }
    std::vector<int> heard_keys() {
        SVX_quick_shutdown();
        std::vector<int> keys;
        for (const auto& e : testing_support::read_smf(midi_))
            if ((e.bytes[0] & 0xF0) == 0x90 && e.bytes[2] != 0) keys.push_back(e.bytes[1]);
        return keys;
    }

    std::filesystem::path audio_, midi_;
    std::vector<void*> blocks_;
};

TEST_F(Quick, StartupWithNeitherUseStartsNothing) {
    EXPECT_EQ(SVX_quick_startup(0, 0, 44100, 16, 2), 0);
    HDIGDRIVER digital = reinterpret_cast<HDIGDRIVER>(1);
    HMDIDRIVER midi = reinterpret_cast<HMDIDRIVER>(1);
    HDLSDEVICE dls = reinterpret_cast<HDLSDEVICE>(1);
    SVX_quick_handles(&digital, &midi, &dls);
    EXPECT_EQ(digital, nullptr);
    EXPECT_EQ(midi, nullptr);
    EXPECT_EQ(dls, nullptr);
    EXPECT_EQ(SVX_startup(), 1) << "the library was started";
}

TEST_F(Quick, DigitalUseTwoNeverTriesDirectSound) {
    struct Case {
        int32_t use;
        const char* dsound;
        bool on_dsound;
        int opens;
    };
    for (const Case c : {Case{1, "native", true, 1}, Case{1, "emulated", false, 2},
                         Case{1, "absent", false, 2}, Case{2, "native", false, 1}}) {
        SCOPED_TRACE(std::to_string(c.use) + " " + c.dsound);
        setenv("WIN32_DSOUND", c.dsound, 1);
        const std::string log_name = std::string("trace") + std::to_string(c.use) + c.dsound + ".log";
        write_win_ini("[SONVEX]\r\nSONVEXDebug=C:\\" + log_name + "\r\nSONVEXSysDebug=1\r\n");
        // Started here, so that the log is open and a window is known.
        ASSERT_EQ(SVX_startup(), 1);
        SVX_set_DirectSound_HWND(nullptr, dstesting::test_window());
        ASSERT_EQ(SVX_quick_startup(c.use, 0, 22050, 16, 2), 1) << SVX_last_error();
        HDIGDRIVER digital = nullptr;
        SVX_quick_handles(&digital, nullptr, nullptr);
        ASSERT_NE(digital, nullptr);
        EXPECT_EQ(svx::digital::driver_of(digital)->ds_object != nullptr, c.on_dsound);
        SVX_quick_shutdown();
        SVX_shutdown();
        const std::string log = read_file(drive_.path() / "drive_c" / log_name);
        int opens = 0;
        for (size_t at = 0; (at = log.find("SVX_waveOutOpen(", at)) != std::string::npos; ++at) ++opens;
        EXPECT_EQ(opens, c.opens) << log;
    }
}

TEST_F(Quick, AWavIsHeardExactlyAsItsData) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    for (const uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        audio_ = drive_.path() / ("capture" + std::to_string(rate) + ".wav");
        setenv("WIN32_AUDIO", ("wav:" + audio_.string()).c_str(), 1);
        const Bytes wav = loud_wav(rate, 2, rate / 2);
        ASSERT_EQ(SVX_quick_startup(2, 0, int32_t(rate), 16, 2), 1) << SVX_last_error();
        HQUICK q = SVX_quick_load_and_play(file("loud.wav", wav).c_str(), 1, 1);
        ASSERT_NE(q, nullptr) << SVX_last_error();
        EXPECT_EQ(SVX_quick_type(q), SVX_QUICK_DIGITAL);
        EXPECT_EQ(SVX_quick_status(q), SVX_QUICK_DONE);
        // The end is mixed some buffers before it is heard.
        Sleep(600);
        Bytes heard = heard_audio();
        const Bytes data = testing_support::wav_data(wav);
        const auto first = std::find_if(heard.begin(), heard.end(), [](uint8_t b) { return b != 0; });
        ASSERT_GE(size_t(heard.end() - first), data.size());
        // Starts on a frame: the first sound may begin with a zero byte.
        const size_t skip = size_t(first - heard.begin()) / 4 * 4;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), heard.begin() + long(skip)));
        EXPECT_TRUE(std::all_of(heard.begin() + long(skip + data.size()), heard.end(),
                                [](uint8_t b) { return b == 0; }));
    }
}

// A VOC file of two 8-bit sound blocks at 22,222 Hz, `frames` bytes each,
// never silent (0x80).
Bytes two_block_voc(size_t frames) {
    Bytes b;
    testing_support::put_text(b, "Creative Voice File\x1A");
    testing_support::put16(b, 26);
    testing_support::put16(b, 0x010A);
    testing_support::put16(b, 0x1129);
    for (uint32_t seed : {1u, 2u}) {
        b.push_back(1);
        testing_support::put24(b, uint32_t(frames + 2));
        b.push_back(256 - 45);
        b.push_back(0);
        const Bytes data = dstesting::loud8(frames, seed);
        b.insert(b.end(), data.begin(), data.end());
    }
    b.push_back(0);
    return b;
}

TEST_F(Quick, EveryBlockOfAVocFileIsHeard) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    ASSERT_EQ(SVX_quick_startup(2, 0, 22050, 16, 1), 1);
    constexpr size_t kFrames = 11111;
    HQUICK q = load(two_block_voc(kFrames));
    ASSERT_NE(q, nullptr) << SVX_last_error();
    ASSERT_EQ(SVX_quick_play(q, 1), 1);
    EXPECT_TRUE(wait_for([&] { return SVX_quick_status(q) == SVX_QUICK_DONE; }, 5000));
    Sleep(600);
    const Bytes heard = heard_audio();
    size_t sounding = 0;
    for (size_t i = 0; i + 1 < heard.size(); i += 2) sounding += testing_support::get16(&heard[i]) != 0;
    const double expected = 2.0 * kFrames * 22050 / 22222;
    EXPECT_NEAR(double(sounding), expected, 0.03 * expected) << "both blocks, once";
}

TEST_F(Quick, AStandardMidiFilePlaysAsXmidiFromALibraryBlock) {
    ASSERT_EQ(SVX_quick_startup(0, 1, 0, 0, 0), 1) << SVX_last_error();
    Bytes smf = smf_one_note();
    HQUICK q = SVX_quick_load_mem(smf.data(), uint32_t(smf.size()));
    ASSERT_NE(q, nullptr) << SVX_last_error();
    // The caller's image is not needed once converted.
    std::fill(smf.begin(), smf.end(), 0xEE);
    EXPECT_NE(GlobalHandle(q->image), nullptr);
    EXPECT_EQ(SVX_quick_type(q), SVX_QUICK_XMIDI);
    EXPECT_NEAR(SVX_quick_ms_length(q), 500, 20);
    ASSERT_EQ(SVX_quick_play(q, 1), 1);
    EXPECT_TRUE(wait_for([&] { return SVX_quick_status(q) == SVX_QUICK_DONE; }));
    EXPECT_EQ(heard_keys(), std::vector<int>{60});
}

TEST_F(Quick, CopiesShareOneImageFreedWithTheLastUnload) {
    ASSERT_EQ(SVX_quick_startup(2, 0, 22050, 16, 2), 1);
    HQUICK first = SVX_quick_load(file("a.wav", loud_wav(22050, 1, 2205)).c_str());
    ASSERT_NE(first, nullptr) << SVX_last_error();
    HQUICK second = SVX_quick_copy(first);
    ASSERT_NE(second, nullptr);
    const void* image = first->image;
    EXPECT_EQ(second->image, image);
    SVX_quick_unload(first);
    EXPECT_NE(GlobalHandle(image), nullptr);
    EXPECT_EQ(SVX_quick_play(second, 1), 1);
    SVX_quick_unload(second);
    EXPECT_EQ(GlobalHandle(image), nullptr);
}

TEST_F(Quick, LoadAndPlayForEverWithWaitReturnsAtOnce) {
    ASSERT_EQ(SVX_quick_startup(2, 0, 22050, 16, 2), 1);
    const std::string name = file("long.wav", loud_wav(22050, 1, 22050 * 10));
    const uint32_t start = SVX_ms_count();
    HQUICK q = SVX_quick_load_and_play(name.c_str(), 0, 1);
    ASSERT_NE(q, nullptr);
    EXPECT_LT(SVX_ms_count() - start, 2000u);
    EXPECT_EQ(SVX_quick_status(q), SVX_QUICK_PLAYING);
}

TEST_F(Quick, AnXmidiWithItsOwnCollectionIsHeardThroughTheSynthesizer) {
    SKIP_REAL_TIME_UNDER_THREAD_CHECKER();
    const Bytes collection = looped_collection();
    void* compressed = nullptr;
    uint32_t compressed_size = 0;
    ASSERT_EQ(SVX_compress_DLS(block(collection), &compressed, &compressed_size), 1);
    blocks_.push_back(compressed);
    const void* xmidi = block(two_notes_xmidi());
    for (const void* dls : {block(collection), static_cast<const void*>(compressed)}) {
        SCOPED_TRACE(dls == compressed ? "compressed" : "plain");
        audio_ = drive_.path() / (dls == compressed ? "mls.wav" : "dls.wav");
        setenv("WIN32_AUDIO", ("wav:" + audio_.string()).c_str(), 1);
        void* merged = nullptr;
        uint32_t merged_size = 0;
        ASSERT_EQ(SVX_merge_DLS_with_XMI(xmidi, dls, &merged, &merged_size), 1) << SVX_last_error();
        blocks_.push_back(merged);
        ASSERT_EQ(SVX_quick_startup(2, 3, 44100, 16, 2), 1) << SVX_last_error();
        HQUICK q = SVX_quick_load(file("song.xmi", Bytes(static_cast<uint8_t*>(merged),
                                                           static_cast<uint8_t*>(merged) + merged_size))
                                      .c_str());
        ASSERT_NE(q, nullptr) << SVX_last_error();
        EXPECT_EQ(SVX_quick_type(q), SVX_QUICK_XMIDI_DLS);
        ASSERT_EQ(SVX_quick_play(q, 1), 1);
        Sleep(600);
        const Bytes heard = heard_audio();
        size_t loud = 0;
        for (size_t i = 0; i + 1 < heard.size(); i += 2)
            loud += std::abs(int16_t(testing_support::get16(&heard[i]))) > 500;
        // The first note lasts 10 ticks (83 ms): most of it, on both channels.
        EXPECT_GT(loud, size_t(2 * 44100 / 20)) << "50 ms of the wave at least";
    }
}

TEST_F(Quick, AnXmidiStartsAtItsPendingPosition) {
    ASSERT_EQ(SVX_quick_startup(0, 1, 0, 0, 0), 1);
    HQUICK q = load(two_notes_xmidi());
    ASSERT_NE(q, nullptr) << SVX_last_error();
    SVX_quick_set_ms_position(q, 500);
    EXPECT_EQ(SVX_quick_ms_position(q), 500);
    EXPECT_NEAR(SVX_quick_ms_length(q), 1167, 20) << "the file's length, not the position";
    ASSERT_EQ(SVX_quick_play(q, 1), 1);
    EXPECT_EQ(SVX_sequence_status(static_cast<HSEQUENCE>(q->playing.load())), SVX_PLAYING);
    EXPECT_TRUE(wait_for([&] { return SVX_quick_status(q) == SVX_QUICK_DONE; }, 3000));
    EXPECT_EQ(heard_keys(), std::vector<int>{60});
}

TEST_F(Quick, AdjustmentsApplyWhilePlaying) {
    ASSERT_EQ(SVX_quick_startup(2, 1, 22050, 16, 2), 1);
    HQUICK wav = SVX_quick_load(file("w.wav", loud_wav(22050, 2, 22050 * 4)).c_str());
    HQUICK song = load(two_notes_xmidi());
    ASSERT_TRUE(wav && song) << SVX_last_error();
    EXPECT_EQ(SVX_quick_ms_length(wav), 4000);
    ASSERT_EQ(SVX_quick_play(wav, 0), 1);
    ASSERT_EQ(SVX_quick_play(song, 0), 1);
    auto sample = static_cast<HSAMPLE>(wav->playing.load());
    auto sequence = static_cast<HSEQUENCE>(song->playing.load());

    SVX_quick_set_volume(wav, 40, 100);
    SVX_quick_set_speed(wav, 11025);
    SVX_quick_set_ms_position(wav, 3000);
    EXPECT_EQ(SVX_sample_volume(sample), 40);
    EXPECT_EQ(SVX_sample_pan(sample), 100);
    EXPECT_EQ(SVX_sample_playback_rate(sample), 11025);
    EXPECT_GE(SVX_quick_ms_position(wav), 3000);
    EXPECT_LT(SVX_quick_ms_position(wav), 3500);

    SVX_quick_set_volume(song, 30, -1);
    SVX_quick_set_speed(song, 50);
    EXPECT_EQ(SVX_sequence_volume(sequence), 30);
    EXPECT_EQ(SVX_sequence_tempo(sequence), 50);
    // -1 is kept but leaves the playing tempo alone.
    SVX_quick_set_speed(song, -1);
    EXPECT_EQ(SVX_sequence_tempo(sequence), 50);

    SVX_quick_halt(wav);
    EXPECT_EQ(SVX_quick_status(wav), SVX_QUICK_DONE);
    EXPECT_EQ(SVX_sample_status(sample), SVX_FREE);
}

TEST_F(Quick, ALibraryShutdownUnderneathLeavesNothingStale) {
    ASSERT_EQ(SVX_startup(), 1);
    ASSERT_EQ(SVX_quick_startup(2, 1, 0, 0, 0), 1) << "on a running library";
    HQUICK q = SVX_quick_load(file("w.wav", loud_wav(22050, 1, 22050)).c_str());
    ASSERT_NE(q, nullptr);
    ASSERT_EQ(SVX_quick_play(q, 0), 1);
    SVX_shutdown();
    HDIGDRIVER digital = reinterpret_cast<HDIGDRIVER>(1);
    SVX_quick_handles(&digital, nullptr, nullptr);
    EXPECT_EQ(digital, nullptr);
    ASSERT_EQ(SVX_quick_startup(2, 0, 0, 0, 0), 1) << "started afresh";
    HQUICK again = SVX_quick_load(file("w.wav", loud_wav(22050, 1, 2205)).c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(SVX_quick_play(again, 1), 1);
}

TEST_F(Quick, FilesItCannotPlayAreRefusedWithTheirReason) {
    const Bytes wav = loud_wav(22050, 1, 100);
    const Bytes xmidi = two_notes_xmidi();
    const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'};
    struct Case {
        int32_t digital, midi;
        const Bytes* image;
        const char* error;
    };
    for (const Case c : {Case{2, 1, &text, "Unknown file type."},
                         Case{2, 0, &xmidi, "XMIDI support not enabled."},
                         Case{0, 1, &wav, "Digital support not enabled."}}) {
        SCOPED_TRACE(c.error);
        ASSERT_EQ(SVX_quick_startup(c.digital, c.midi, 0, 0, 0), 1);
        EXPECT_EQ(load(*c.image), nullptr);
        EXPECT_STREQ(SVX_last_error(), c.error);
        SVX_quick_shutdown();
    }
    ASSERT_EQ(SVX_quick_startup(2, 0, 0, 0, 0), 1);
    EXPECT_EQ(SVX_quick_load((drive_.path() / "missing.wav").c_str()), nullptr);
    EXPECT_EQ(SVX_quick_load_and_play((drive_.path() / "missing.wav").c_str(), 1, 1), nullptr);
}

}  // namespace
