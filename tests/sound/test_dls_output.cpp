// The DLS front end end to end: notes sent to a MIDI driver are rendered by
// the built-in engine on the library's timer and heard on the waveOut
// stand-in's wav: device; what the engine does not take reaches the MIDI
// device (smf: capture). An engine library of the tests' own proves the
// loading by file name and the temporary-file load.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "digital_support.h"
#include "dls_fixture.h"
#include "midi_support.h"
#include "sonvex.h"
#include "win32/kernel.h"

namespace {

namespace fx = dls_fixture;
using testing_support::Bytes;

constexpr int kPatternFrames = 100;
// Long enough for two mix buffers of the minimum sample buffer size and
// the device's own buffers to pass.
constexpr DWORD kPlayMs = 1500;

int16_t pattern(int i) { return int16_t((i * 523) % 30000 - 15000 + (i % 7 == 0 ? 1 : 0) + 3); }

// One looped 16-bit wave at `rate` on bank 0 program 0.
Bytes looped_collection(uint32_t rate) {
    fx::Collection c;
    fx::Wave w;
    w.rate = rate;
    std::vector<int16_t> values;
    for (int i = 0; i < kPatternFrames; ++i) values.push_back(pattern(i));
    w.data = fx::pcm16(values);
    w.sample = fx::Wsmp{60, 0, 0, fx::Loop{0, kPatternFrames}};
    c.waves = {w};
    c.instruments.push_back(fx::Instrument(0, 0, {fx::Region(0, 127, 0)}));
    return fx::build(c);
}

int32_t gain_for(double db) { return db <= 0 ? 2047 : int32_t(2047.0 / std::pow(10.0, db / 20.0)); }

class DlsOutput : public testing_support::SoundLibrary {
protected:
    void SetUp() override {
        audio_ = drive_.path() / "capture.wav";
        midi_ = drive_.path() / "capture.mid";
        setenv("WIN32_AUDIO", ("wav:" + audio_.string()).c_str(), 1);
        setenv("WIN32_MIDI", ("smf:" + midi_.string()).c_str(), 1);
        ASSERT_EQ(SVX_startup(), 1);
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    }
    void TearDown() override {
        SVX_shutdown();
        for (void* b : blocks_) SVX_mem_free_lock(b);
        unsetenv("WIN32_AUDIO");
        unsetenv("WIN32_MIDI");
    }
    void open(uint32_t rate, uint16_t channels) {
        const SVXPCMFORMAT format = testing_support::pcm_format(rate, channels, 16);
        ASSERT_EQ(SVX_waveOutOpen(&digital_, nullptr, -1, &format), 0) << SVX_last_error();
        ASSERT_EQ(SVX_midiOutOpen(&midi_driver_, nullptr, -1), 0) << SVX_last_error();
    }
    const void* block(const Bytes& b) {
        void* p = SVX_mem_alloc_lock(int32_t(b.size()));
        std::memcpy(p, b.data(), b.size());
        blocks_.push_back(p);
        return p;
    }
    void note(int status, int key, int velocity) {
        SVX_send_channel_voice_message(midi_driver_, nullptr, status, key, velocity);
    }
    void sysex(std::initializer_list<uint8_t> data) {
        Bytes m{0xF0, uint8_t(data.size())};
        m.insert(m.end(), data.begin(), data.end());
        SVX_send_sysex_message(midi_driver_, m.data());
    }
    // The capture's frames as (left, right) or mono values; closes both drivers.
    std::vector<int16_t> finish_audio() {
        SVX_waveOutClose(digital_);
        digital_ = nullptr;
        const Bytes data = testing_support::wav_data(testing_support::read_bytes(audio_));
        std::vector<int16_t> values;
        for (size_t i = 0; i + 1 < data.size(); i += 2) values.push_back(int16_t(testing_support::get16(&data[i])));
        return values;
    }
    // The note-ons the MIDI device got.
    std::vector<Bytes> device_notes() {
        SVX_midiOutClose(midi_driver_);
        midi_driver_ = nullptr;
        std::vector<Bytes> out;
        for (const auto& e : testing_support::read_smf(midi_))
            if ((e.bytes[0] & 0xF0) == 0x90) out.push_back(e.bytes);
        return out;
    }

    std::filesystem::path audio_, midi_;
    HDIGDRIVER digital_ = nullptr;
    HMDIDRIVER midi_driver_ = nullptr;
    std::vector<void*> blocks_;
};

TEST_F(DlsOutput, ANoteOfALoopedWaveAtUnityPitchIsHeardAtItsComputedGain) {
    struct Format {
        uint32_t rate;
        uint16_t channels;
    };
    for (const Format f : {Format{22050, 1}, Format{44100, 2}, Format{48000, 2}}) {
        SCOPED_TRACE(f.rate);
        audio_ = drive_.path() / ("capture" + std::to_string(f.rate) + ".wav");
        setenv("WIN32_AUDIO", ("wav:" + audio_.string()).c_str(), 1);
        SVX_startup();
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
        SVX_set_preference(SVX_PREF_DLS_SMOOTH, 0);
        open(f.rate, f.channels);
        HDLSDEVICE dls = SVX_DLS_open(midi_driver_, digital_, nullptr, 0, int32_t(f.rate), 16, f.channels);
        ASSERT_NE(dls, nullptr) << SVX_last_error();
        ASSERT_NE(SVX_DLS_load_memory(dls, block(looped_collection(f.rate)), 0), nullptr) << SVX_last_error();
        note(0xB0, 7, 127);
        note(0x90, 60, 127);
        Sleep(kPlayMs);
        SVX_DLS_close(dls, 0);
        const std::vector<int16_t> values = finish_audio();
        SVX_midiOutClose(midi_driver_);

        // Without smoothing and at 0 dB (volume 127, velocity 127) each frame
        // is the wave's value times 2047 >> 11; stereo adds the centre pan's
        // constant-power attenuation per side. Gaps of silence, if the output
        // ever starved, are left out: the voice runs on regardless.
        int32_t left = 2047, right = 0;
        if (f.channels == 2) {
            left = gain_for(20 * std::log10(std::sqrt(127.0 / 63.0)));
            right = gain_for(20 * std::log10(std::sqrt(127.0 / 64.0)));
        }
        std::vector<std::pair<int, int>> frames;
        for (size_t i = 0; i + f.channels <= values.size(); i += f.channels) {
            const int l = values[i], r = f.channels == 2 ? values[i + 1] : 0;
            if (l != 0 || r != 0) frames.emplace_back(l, r);
        }
        ASSERT_GT(frames.size(), size_t(3 * kPatternFrames));
        for (int i = 0; i < 3 * kPatternFrames; ++i) {
            const int32_t v = pattern(i % kPatternFrames);
            ASSERT_EQ(frames[size_t(i)].first, (v * left) >> 11) << "frame " << i;
            if (f.channels == 2) {
                ASSERT_EQ(frames[size_t(i)].second, (v * right) >> 11) << "frame " << i;
            }
        }
        SVX_shutdown();
    }
}

TEST_F(DlsOutput, DlsOffAndOnSysexAndPassingNotesWithoutAnInstrumentToTheDevice) {
    open(22050, 1);
    HDLSDEVICE dls = SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 1);
    ASSERT_NE(dls, nullptr) << SVX_last_error();
    ASSERT_NE(SVX_DLS_load_memory(dls, block(looped_collection(22050)), 0), nullptr);
    note(0x90, 60, 100);                     // the engine's
    sysex({0x7E, 0x7F, 0x0A, 0x02, 0xF7});  // DLS off
    note(0x90, 62, 100);                     // the device's
    sysex({0x7E, 0x7F, 0x0A, 0x01, 0xF7});  // DLS on
    note(0x90, 64, 100);                     // the engine's
    note(0xC1, 5, 0);                        // no such instrument
    note(0x91, 66, 100);                     // the device's (preference 28)
    SVX_set_preference(SVX_PREF_DLS_PASS_MIDI, 0);
    note(0x91, 67, 100);                     // nobody's
    SVX_set_preference(SVX_PREF_DLS_PASS_MIDI, 1);
    Sleep(kPlayMs);
    SVX_DLS_close(dls, 0);
    const std::vector<int16_t> values = finish_audio();
    EXPECT_EQ(device_notes(), (std::vector<Bytes>{{0x90, 62, 100}, {0x91, 66, 100}}));
    EXPECT_NE(std::count_if(values.begin(), values.end(), [](int16_t v) { return v != 0; }), 0);
}

TEST_F(DlsOutput, DlsOffSilencesNoteIntake) {
    open(22050, 1);
    HDLSDEVICE dls = SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 1);
    ASSERT_NE(dls, nullptr) << SVX_last_error();
    ASSERT_NE(SVX_DLS_load_memory(dls, block(looped_collection(22050)), 0), nullptr);
    sysex({0x7E, 0x7F, 0x0A, 0x02, 0xF7});
    note(0x90, 60, 100);
    Sleep(kPlayMs);
    SVX_DLS_close(dls, 0);
    const std::vector<int16_t> values = finish_audio();
    EXPECT_EQ(std::count_if(values.begin(), values.end(), [](int16_t v) { return v != 0; }), 0);
    SVX_midiOutClose(midi_driver_);
}

TEST_F(DlsOutput, FrontEndFailuresSayWhy) {
    open(22050, 2);
    EXPECT_EQ(SVX_DLS_open(midi_driver_, nullptr, nullptr, 0, 22050, 16, 2), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Trying to use the SONVEX DLS library with a null driver.");
    EXPECT_EQ(SVX_DLS_open(midi_driver_, digital_, "no such engine.dll", 0, 22050, 16, 2), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Error loading DLS library.");
    EXPECT_EQ(SVX_DLS_open(midi_driver_, digital_, KERNEL_LIBRARY, 0, 22050, 16, 2), nullptr);
    EXPECT_STREQ(SVX_last_error(), "DLS library functions not found - probably not a DLS DLL.");

    std::vector<HSAMPLE> all;
    while (HSAMPLE s = SVX_allocate_sample_handle(digital_)) all.push_back(s);
    EXPECT_EQ(SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 2), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Unable to allocate a sample handle.");
    for (HSAMPLE s : all) SVX_release_sample_handle(s);

    HDLSDEVICE dls = SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 2);
    ASSERT_NE(dls, nullptr) << SVX_last_error();
    EXPECT_EQ(SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 2), nullptr);
    EXPECT_STREQ(SVX_last_error(), "DLSSONVEXOpen call failed.");
    Bytes junk = looped_collection(22050);
    junk[30] ^= 0xFF;  // the instrument list's length
    EXPECT_EQ(SVX_DLS_load_memory(dls, block(junk), 0), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Unable to load DLS memory file.");
    EXPECT_EQ(SVX_DLS_load_file(dls, "C:\\nothing.dls", 0), nullptr);

    SVXDLSINFO info{};
    int32_t cpu = -1;
    SVX_DLS_get_info(dls, &info, &cpu);
    EXPECT_STREQ(info.name, "Sonvex DLS Software Synthesizer");
    EXPECT_EQ(info.engine.max_collections, 256);
    EXPECT_EQ(info.engine.general_midi, 1);
    EXPECT_EQ(info.engine.max_memory, INT32_MAX);
    EXPECT_GE(cpu, 0);
    EXPECT_LE(cpu, 100);
    SVX_DLS_close(dls, 0);
    // Closed, the engine can be opened again.
    dls = SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 2);
    EXPECT_NE(dls, nullptr) << SVX_last_error();
    SVX_DLS_close(dls, 0);
}

TEST_F(DlsOutput, LoadsFromAFileAndUnloadsByHandleAndAll) {
    open(22050, 2);
    const Bytes image = looped_collection(22050);
    testing_support::write_bytes(drive_.path() / "drive_c" / "a.dls", image);
    HDLSDEVICE dls = SVX_DLS_open(midi_driver_, digital_, nullptr, 0, 22050, 16, 2);
    ASSERT_NE(dls, nullptr);
    HDLSFILEID a = SVX_DLS_load_file(dls, "C:\\a.dls", 0);
    ASSERT_NE(a, nullptr) << SVX_last_error();
    HDLSFILEID b = SVX_DLS_load_memory(dls, block(image), 0);
    ASSERT_NE(b, nullptr);
    note(0x90, 60, 100);
    Sleep(50);
    SVX_DLS_unload(dls, a);
    SVX_DLS_unload(dls, nullptr);
    // Nothing is left to play a note: it goes to the device.
    note(0x90, 61, 100);
    SVX_DLS_close(dls, 0);
    EXPECT_EQ(device_notes(), (std::vector<Bytes>{{0x90, 61, 100}}));
}

using EngineLog = const char* (*)();
using EngineReset = void (*)(int);

TEST_F(DlsOutput, AnEngineLibraryIsLoadedByNameAndGetsMemoryImagesThroughATemporaryFile) {
    open(22050, 2);
    HMODULE own = LoadLibraryA(TEST_DLS_ENGINE);
    ASSERT_NE(own, nullptr);
    using Any = void (*)();
    auto log = reinterpret_cast<EngineLog>(reinterpret_cast<Any>(GetProcAddress(own, "TestEngineLog")));
    auto reset = reinterpret_cast<EngineReset>(reinterpret_cast<Any>(GetProcAddress(own, "TestEngineReset")));
    ASSERT_TRUE(log && reset);

    reset(1);
    EXPECT_EQ(SVX_DLS_open(midi_driver_, digital_, TEST_DLS_ENGINE, 0, 22050, 16, 2), nullptr);
    EXPECT_STREQ(SVX_last_error(), "DLSOpen call failed.");

    reset(0);
    HDLSDEVICE dls = SVX_DLS_open(midi_driver_, digital_, TEST_DLS_ENGINE, 0, 22050, 16, 2);
    ASSERT_NE(dls, nullptr) << SVX_last_error();
    const Bytes image = looped_collection(22050);
    setenv("TMP", "C:\\no such folder", 1);
    EXPECT_EQ(SVX_DLS_load_memory(dls, block(image), 0), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Could not write temporary DLS file.");
    unsetenv("TMP");
    HDLSFILEID file = SVX_DLS_load_memory(dls, block(image), 0);
    ASSERT_NE(file, nullptr) << SVX_last_error();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string temp_file = std::string(temp) + "temp.dls";
    // The file held the image and is gone again.
    EXPECT_EQ(CreateFileA(temp_file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    SVXDLSINFO info{};
    int32_t cpu = -1;
    SVX_DLS_get_info(dls, &info, &cpu);
    EXPECT_NE(std::string(info.name).find("dls_engine"), std::string::npos) << info.name;
    EXPECT_EQ(info.engine.max_collections, 3);
    EXPECT_EQ(cpu, 0);
    EXPECT_EQ(SVX_DLS_compact(dls), 0);
    SVX_DLS_unload(dls, file);
    SVX_DLS_unload(dls, SVX_DLS_UNLOAD_ALL_QUIET);
    SVX_DLS_close(dls, 7);
    EXPECT_EQ(std::string(log()), "open\nload " + temp_file + " " + std::to_string(image.size()) +
                                      " RIFF DLS \nunload 40\nunload all 0\nclose 4660 7\n");
    FreeLibrary(own);
}

}  // namespace
