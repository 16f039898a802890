// The MIDI output driver: open and its failures, the channel reset, short
// and system-exclusive messages, release and reacquire, close.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/timers.h"
#include "midi_support.h"

namespace {

using namespace testing_support;

// The channel reset an open sends, written out from the reset table.
std::vector<Bytes> expected_reset(int volume = 127, int bend_range = 2) {
    std::vector<Bytes> out;
    for (uint8_t ch = 0; ch < 16; ++ch) {
        const uint8_t cc = uint8_t(0xB0 | ch);
        const int controllers[][2] = {{114, 0}, {32, 0}, {0, 0}};
        for (auto& c : controllers) out.push_back({cc, uint8_t(c[0]), uint8_t(c[1])});
        out.push_back({uint8_t(0xC0 | ch), 0});
        out.push_back({uint8_t(0xE0 | ch), 0, 64});
        const int rest[][2] = {{112, 0},  {1, 0},   {7, volume}, {10, 64},
                               {11, 127}, {64, 0},  {91, 40},    {93, 0},
                               {100, 0},  {101, 0}, {38, 0},     {6, bend_range}};
        for (auto& c : rest) out.push_back({cc, uint8_t(c[0]), uint8_t(c[1])});
    }
    return out;
}

std::vector<Bytes> bytes_of(const std::vector<SmfEvent>& events) {
    std::vector<Bytes> out;
    for (const SmfEvent& e : events) out.push_back(e.bytes);
    return out;
}

using MidiDriverTest = MidiTest;

TEST_F(MidiDriverTest, OpenResetsEveryChannelWithThePreferences) {
    SVX_set_preference(SVX_PREF_DEFAULT_SEQUENCE_VOLUME, 100);
    SVX_set_preference(SVX_PREF_PITCH_BEND_RANGE, 12);
    HMDIDRIVER d = nullptr;
    void* device = nullptr;
    ASSERT_EQ(SVX_midiOutOpen(&d, &device, -1), 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::memcmp(d, "HMDI", 4), 0);
    EXPECT_EQ(device, &svx::midi::driver_of(d)->device);
    EXPECT_NE(*static_cast<HMIDIOUT*>(device), nullptr);
    SVX_midiOutClose(d);
    EXPECT_EQ(bytes_of(strip_device_reset(read_smf(capture_), 0)), expected_reset(100, 12));
}

TEST_F(MidiDriverTest, NoDevicePlaysAndCallsBackButSendsNothing) {
    HMDIDRIVER d = nullptr;
    void* device = &d;
    ASSERT_EQ(SVX_midiOutOpen(&d, &device, SVX_MIDI_NO_DEVICE), 0);
    EXPECT_EQ(device, nullptr);
    SVX_register_event_callback(d, &record_event);
    HSEQUENCE s = play(d, xmidi_form(Events().note(0, 60, 100, 2).wait(3).end()));
    static int ended;
    ended = 0;
    SVX_register_sequence_callback(s, [](HSEQUENCE) { ++ended; });
    start(s);
    tick(d, 5);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0x90, 60, 100}, {3, 0x80, 60, 0}}));
    SVX_midiOutClose(d);
    EXPECT_FALSE(std::filesystem::exists(capture_));
}

struct OpenFailure {
    const char* name;
    void (*arrange)(const std::filesystem::path& root);
    int32_t result;
    const char* error;
};
void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.name; }

class OpenFailures : public MidiTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailures, FreeEverythingAndReport) {
    const OpenFailure& c = GetParam();
    c.arrange(drive_.path());
    HMDIDRIVER d = reinterpret_cast<HMDIDRIVER>(&d);
    EXPECT_EQ(SVX_midiOutOpen(&d, nullptr, -1), c.result);
    EXPECT_EQ(d, nullptr);
    EXPECT_STREQ(SVX_last_error(), c.error);
    // The device was closed again: its file is finished.
    EXPECT_EQ(read_smf(capture_).size(), 32u);
}

INSTANTIATE_TEST_SUITE_P(
    Midi, OpenFailures,
    ::testing::Values(OpenFailure{"NoTimerLeft",
                                  [](const std::filesystem::path&) {
                                      SVX_set_preference(SVX_PREF_TIMER_HANDLES, 1);
                                      SVX_register_timer([](uintptr_t) {});
                                  },
                                  1, "Out of timer handles."},
                      OpenFailure{"NoSysexBuffer",
                                  [](const std::filesystem::path&) {
                                      SVX_set_preference(SVX_PREF_SYSEX_BUFFER_SIZE, -1);
                                  },
                                  1, "Could not allocate system exclusive buffer."}),
    [](const auto& info) { return info.param.name; });

TEST_F(MidiDriverTest, DeviceOpenFailureReturnsTheDeviceError) {
    setenv("WIN32_MIDI", ("smf:" + (drive_.path() / "no" / "x.mid").string()).c_str(), 1);
    HMDIDRIVER d = nullptr;
    const int32_t result = SVX_midiOutOpen(&d, nullptr, -1);
    EXPECT_NE(result, 0);
    EXPECT_LE(result, 0xFFFF);
    EXPECT_STREQ(SVX_last_error(), "midiOutOpen() failed.");
}

TEST_F(MidiDriverTest, DoubleNoteOffSendsNoteOffsTwice) {
    struct Case {
        int32_t preference;
        int status, data2;
        int copies;
    };
    const Case cases[] = {
        {0, 0x80, 0, 1}, {1, 0x80, 0, 2}, {1, 0x90, 0, 2}, {1, 0x90, 64, 1}, {1, 0xB0, 0, 1}};
    for (const Case& c : cases) {
        SVX_set_preference(SVX_PREF_DOUBLE_NOTE_OFF, c.preference);
        HMDIDRIVER d = open();
        SVX_send_channel_voice_message(d, nullptr, c.status | 3, 60, c.data2);
        const Bytes message{uint8_t(c.status | 3), 60, uint8_t(c.data2)};
        EXPECT_EQ(bytes_of(device_messages(d)), std::vector<Bytes>(size_t(c.copies), message))
            << c.status << " pref " << c.preference;
        std::filesystem::remove(capture_);
    }
}

TEST_F(MidiDriverTest, VoiceMessagesWithoutASequenceScaleVolumeAndCanBeIntercepted) {
    HMDIDRIVER d = open();
    SVX_set_XMIDI_master_volume(d, 64);
    SVX_send_channel_voice_message(d, nullptr, 0xB2, 7, 100);  // 100 * 64 / 127 = 50
    SVX_send_channel_voice_message(d, nullptr, 0xB2, 10, 100);
    SVX_register_event_callback(d,
                                [](HMDIDRIVER, HSEQUENCE, int32_t, int32_t, int32_t) { return 1; });
    SVX_send_channel_voice_message(d, nullptr, 0x92, 60, 100);
    EXPECT_EQ(bytes_of(device_messages(d)), (std::vector<Bytes>{{0xB2, 7, 50}, {0xB2, 10, 100}}));
}

TEST_F(MidiDriverTest, SysexIsCutToTheBufferAndReportedAsController105) {
    SVX_set_preference(SVX_PREF_SYSEX_BUFFER_SIZE, 8);
    HMDIDRIVER d = open();
    Bytes message{0xF0};
    Bytes data;
    for (int i = 0; i < 20; ++i) data.push_back(uint8_t(0x10 + i));
    data[1] = 0x81;
    data[2] = 0x80;
    put_vlq(message, uint32_t(data.size()));
    message.insert(message.end(), data.begin(), data.end());
    SVX_send_sysex_message(d, message.data());

    Bytes expected{0xF0};
    expected.insert(expected.end(), data.begin(), data.begin() + 7);
    std::vector<Message> reports;
    for (uint8_t b : expected)
        reports.push_back(b > 0x80 ? Message{0, 0xB1, 105, b & 0x7F} : Message{0, 0xB0, 105, b});
    EXPECT_EQ(sent_, reports);
    EXPECT_EQ(bytes_of(device_messages(d)), std::vector<Bytes>{expected});
}

TEST_F(MidiDriverTest, ReleaseSuspendsAndReacquireRestoresTheRecordedState) {
    HMDIDRIVER d = open();
    Events e;
    e.program(0, 5).cc(0, 7, 100).cc(0, 64, 127).note(0, 60, 90, 50).wait(4);
    e.note(0, 62, 90, 1).wait(10).end();
    HSEQUENCE s = play(d, xmidi_form(e));
    start(s);
    tick(d, 2);
    EXPECT_EQ(SVX_MIDI_handle_release(d), 1);
    EXPECT_EQ(SVX_MIDI_handle_release(d), 1);
    EXPECT_EQ(SVX_sequence_status(s), SVX_SUSPENDED);
    EXPECT_EQ(SVX_active_sequence_count(d), 1);
    tick(d, 5);  // not serviced while suspended
    // The device was closed: what it got so far is a finished file.
    const auto before = bytes_of(strip_device_reset(read_smf(capture_), 16 * 17));
    EXPECT_EQ(before, (std::vector<Bytes>{{0xC0, 5},
                                          {0xB0, 7, 100},
                                          {0xB0, 64, 127},
                                          {0x90, 60, 90},
                                          // the release: queued notes off, sustain reset
                                          {0x80, 60, 0},
                                          {0xB0, 64, 0}}));

    EXPECT_EQ(SVX_MIDI_handle_reacquire(d), 1);
    EXPECT_EQ(SVX_sequence_status(s), SVX_PLAYING);
    tick(d, 3);  // the countdown goes on where it stopped: 62 on the third tick
    const auto after = device_messages(d, 0);
    std::vector<Bytes> expected = expected_reset();
    // the recorded state in restore order: program, volume, sustain
    // then play goes on; the close ends the sequence: its note and sustain off
    const std::vector<Bytes> restore = {{0xC0, 5},      {0xB0, 7, 100}, {0xB0, 64, 127},
                                        {0x90, 62, 90}, {0x80, 62, 0},  {0xB0, 64, 0}};
    expected.insert(expected.end(), restore.begin(), restore.end());
    const auto got = bytes_of(after);
    EXPECT_EQ(got, expected);
}

TEST_F(MidiDriverTest, ReacquireOfADriverNeverReleasedChangesNothing) {
    HMDIDRIVER d = open();
    EXPECT_EQ(SVX_MIDI_handle_reacquire(d), 1);
    EXPECT_EQ(SVX_MIDI_handle_release(nullptr), 0);
    EXPECT_EQ(SVX_MIDI_handle_reacquire(nullptr), 0);
    EXPECT_TRUE(device_messages(d).empty());
}

TEST_F(MidiDriverTest, ShutdownClosesDriversAndEndsTheirSequences) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().note(1, 70, 80, 100).wait(100).end()));
    static int ended;
    ended = 0;
    SVX_register_sequence_callback(s, [](HSEQUENCE) { ++ended; });
    start(s);
    tick(d);
    SVX_shutdown();
    EXPECT_EQ(ended, 1);
    const auto all = strip_device_reset(read_smf(capture_), 0);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().bytes, (Bytes{0x81, 70, 0}));
}

TEST_F(MidiDriverTest, TheServiceThreadPlaysInRealTime) {
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 5);
    HMDIDRIVER d = open();
    // Two notes 60 ticks (half a second at 120 Hz) apart.
    HSEQUENCE s = play(
        d, xmidi_form(Events().note(0, 60, 100, 12).wait(60).note(0, 62, 100, 12).wait(20).end()));
    start(s);
    for (int i = 0; i < 400 && SVX_sequence_status(s) == SVX_PLAYING; ++i) Sleep(10);
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
    const auto got = device_messages(d);
    ASSERT_EQ(got.size(), 4u) << got.size();
    auto at = [&](int i) { return double(got[size_t(i)].ms); };
    EXPECT_NEAR(at(2) - at(0), 500, 150);
    EXPECT_NEAR(at(1) - at(0), 100, 100);
}

TEST_F(MidiDriverTest, CallsAreTracedWithTheirFormats) {
    SVX_shutdown();
    write_win_ini("[SONVEX]\r\nSONVEXDebug=C:\\trace.log\r\n");
    SVX_startup();
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000);
    HMDIDRIVER d = nullptr;
    SVX_midiOutOpen(&d, nullptr, SVX_MIDI_NO_DEVICE);
    HSEQUENCE s = SVX_allocate_sequence_handle(d);
    SVX_set_sequence_volume(s, 90, 250);
    SVX_controller_value(s, 3, 7);
    SVX_lock_channel(d);
    SVX_shutdown();
    const std::string log = read_file(drive_.path() / "drive_c" / "trace.log");
    char line[160];
    const std::pair<const char*, uintptr_t> expected[] = {
        {"SVX_midiOutOpen(0x%lX,0x0,-2)\r\n", reinterpret_cast<uintptr_t>(&d)},
        {"SVX_allocate_sequence_handle(0x%lX)\r\n", reinterpret_cast<uintptr_t>(d)},
        {"Result = 0x%lX\r\n", reinterpret_cast<uintptr_t>(s)},
        {"SVX_set_sequence_volume(0x%lX,90,250)\r\n", reinterpret_cast<uintptr_t>(s)},
        {"SVX_controller_value(0x%lX,3,7)\r\n", reinterpret_cast<uintptr_t>(s)},
        {"SVX_lock_channel(0x%lX)\r\n", reinterpret_cast<uintptr_t>(d)},
        {"Result = %lu\r\n", 9},
    };
    size_t from = 0;
    for (const auto& [format, value] : expected) {
        std::snprintf(line, sizeof line, format, static_cast<unsigned long>(value));
        const size_t at = log.find(line, from);
        EXPECT_NE(at, std::string::npos) << line;
        if (at != std::string::npos) from = at;
    }
    EXPECT_NE(log.find("Result = -1\r\n"), std::string::npos);  // the controller value
}

TEST_F(MidiDriverTest, SysexEventsOfAStreamReachTheDeviceWhole) {
    HMDIDRIVER d = open();
    HSEQUENCE s =
        play(d, xmidi_form(Events().sysex({0x41, 0x10, 0x42, 0xF7}).program(2, 1).wait(1).end()));
    start(s);
    tick(d, 2);
    EXPECT_EQ(bytes_of(device_messages(d)),
              (std::vector<Bytes>{{0xF0, 0x41, 0x10, 0x42, 0xF7}, {0xC2, 1}}));
}

// The captured file read by an independent MIDI library: the notes of a
// sequence played by the service thread in real time, on the 120 Hz grid.
TEST_F(MidiDriverTest, AnIndependentReaderSeesTheNotesOnTheTickGrid) {
    if (std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-mido is not installed";
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 5);
    HMDIDRIVER d = open();
    // Note starts at ticks 0, 24, 36 and 96 of the sequence.
    Events e;
    e.note(0, 60, 100, 12).wait(24).note(0, 62, 100, 6).wait(12).note(0, 64, 100, 30).wait(60);
    e.note(0, 65, 100, 12).wait(14).end();
    HSEQUENCE s = play(d, xmidi_form(e));
    start(s);
    for (int i = 0; i < 400 && SVX_sequence_status(s) == SVX_PLAYING; ++i) Sleep(10);
    SVX_midiOutClose(d);
    const std::string script =
        "import mido,sys\n"
        "t=0\n"
        "for m in mido.MidiFile(sys.argv[1]):\n"
        "  t+=m.time\n"
        "  if m.type=='note_on': print(m.note, round(t*1000))\n";
    const auto script_path = drive_.path() / "notes.py";
    std::ofstream(script_path) << script;
    const auto out_path = drive_.path() / "notes.txt";
    const std::string command = "/usr/bin/python3 " + script_path.string() + " " +
                                capture_.string() + " > " + out_path.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(out_path);
    std::vector<std::pair<int, double>> notes;
    int key;
    double ms;
    while (in >> key >> ms) notes.push_back({key, ms});
    ASSERT_EQ(notes.size(), 4u);
    const int keys[] = {60, 62, 64, 65};
    const int ticks[] = {0, 24, 36, 96};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(notes[i].first, keys[i]);
        // Generous: the machine is shared with builds.
        EXPECT_NEAR(notes[i].second - notes[0].second, ticks[i] * 1000.0 / 120, 60) << i;
    }
}

}  // namespace
