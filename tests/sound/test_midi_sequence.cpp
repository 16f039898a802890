// The XMIDI sequencer: finding sequences, the tick's timing (intervals,
// durations, tempo), loops, FOR/NEXT, branches, the XMIDI controllers,
// channel locking, ramps, positions, stop and resume, and bad images.
#include <algorithm>
#include <atomic>

#include "midi_support.h"

namespace {

using namespace testing_support;
using svx::midi::sequence_of;

using SequenceTest = MidiTest;

std::vector<Message> programs(const std::vector<Message>& sent) {
    std::vector<Message> out;
    for (const Message& m : sent)
        if ((m.status & 0xF0) == 0xC0) out.push_back(m);
    return out;
}

// ---- finding a sequence ----

struct FindCase {
    const char* name;
    Bytes (*image)();
    int32_t number;
    const char* error;  // null: found
    int key;            // the key the found sequence plays
};
void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }

Bytes two_sequences() {
    Bytes dir = container("FORM", "XDIR", {chunk("INFO", {2, 0})});
    Bytes a = xmidi_form(Events().note(0, 40, 100, 1).wait(1).end());
    Bytes b = xmidi_form(Events().note(0, 41, 100, 1).wait(1).end());
    Bytes cat = container("CAT ", "XMID", {a, b});
    dir.insert(dir.end(), cat.begin(), cat.end());
    return dir;
}

class Finding : public MidiTest, public ::testing::WithParamInterface<FindCase> {};

TEST_P(Finding, LocatesTheNthSequence) {
    const FindCase& c = GetParam();
    HMDIDRIVER d = open();
    image_ = c.image();
    HSEQUENCE s = SVX_allocate_sequence_handle(d);
    SVX_set_error("");
    const int32_t ok = SVX_init_sequence(s, image_.data(), c.number);
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
    if (c.error) {
        EXPECT_EQ(ok, 0);
        EXPECT_STREQ(SVX_last_error(), c.error);
        return;
    }
    ASSERT_EQ(ok, 1);
    start(s);
    tick(d);
    ASSERT_FALSE(sent_.empty());
    EXPECT_EQ(sent_[0].status, 0x90);
    EXPECT_EQ(sent_[0].data1, c.key);
}

INSTANTIATE_TEST_SUITE_P(
    Midi, Finding,
    ::testing::Values(
        FindCase{"OneForm", [] { return xmidi_form(Events().note(0, 50, 1, 1).end()); }, 0, nullptr,
                 50},
        FindCase{"OneFormHasNoSecond", [] { return xmidi_form(Events().end()); }, 1,
                 "No valid XMIDI sequences present in file.", 0},
        FindCase{"CatFirst", two_sequences, 0, nullptr, 40},
        FindCase{"CatSecond", two_sequences, 1, nullptr, 41},
        FindCase{"CatHasNoThird", two_sequences, 2, "No valid XMIDI sequences present in file.", 0},
        FindCase{"NotIff", [] { return chunk("RIFF", Bytes(8, 0)); }, 0,
                 "No valid XMIDI sequences present in file.", 0},
        FindCase{"NoEvents",
                 [] {
                     return container("FORM", "XMID", {chunk("TIMB", {0, 0})});
                 },
                 0, "Invalid XMIDI sequence.", 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(SequenceTest, TimbresWithinTheFirst1024BytesAreOffered) {
    HMDIDRIVER d = open();
    static std::vector<std::pair<int, int>> offered;
    offered.clear();
    SVX_register_timbre_callback(d, [](HMDIDRIVER, int32_t bank, int32_t patch) {
        offered.push_back({bank, patch});
        return 0;
    });
    Bytes timb = {0x10, 0x02};  // 528 entries: 10 + 2 x 507 = 1024 bytes hold 507
    for (int i = 0; i < 528; ++i) timb.insert(timb.end(), {uint8_t(i & 0x7F), uint8_t(i >> 7)});
    play(d, xmidi_form(Events().end(), {}, timb));
    ASSERT_EQ(offered.size(), 507u);
    EXPECT_EQ(offered[0], std::make_pair(0, 0));
    EXPECT_EQ(offered[506], std::make_pair(506 >> 7, 506 & 0x7F));
}

// ---- timing ----

TEST_F(SequenceTest, NotesAndIntervalsFollowTheTick) {
    HMDIDRIVER d = open();
    Events e;
    e.note(0, 60, 100, 0).wait(0);    // duration 0: off on the next tick; interval 0 acts as 1
    e.note(0, 61, 100, 3).wait(200);  // a run of interval bytes: 127 then 73
    e.note(0, 62, 100, 1).wait(1).end();
    HSEQUENCE s = play(d, xmidi_form(e));
    static int ended_at;
    static int* ticks;
    ticks = &ticks_;
    ended_at = -1;
    SVX_register_sequence_callback(s, [](HSEQUENCE) { ended_at = *ticks; });
    start(s);
    tick(d, 210);
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0x90, 60, 100},
                                           {2, 0x80, 60, 0},
                                           {2, 0x90, 61, 100},
                                           {5, 0x80, 61, 0},
                                           {202, 0x90, 62, 100},
                                           {203, 0x80, 62, 0}}));
    EXPECT_EQ(ended_at, 203);
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
}

TEST_F(SequenceTest, TempoScalesSequenceTicksPerTimerTick) {
    for (int tempo : {100, 50, 250}) {
        sent_.clear();
        ticks_ = 0;
        HMDIDRIVER d = open();
        Events e;
        for (int k = 0; k < 12; ++k) e.program(0, k).wait(1);
        HSEQUENCE s = play(d, xmidi_form(e.end()));
        SVX_set_sequence_tempo(s, tempo, 0);
        EXPECT_EQ(SVX_sequence_tempo(s), tempo);
        start(s);
        tick(d, 30);
        // Program k plays at sequence tick k + 1, run by the first timer
        // tick t with t x tempo / 100 >= k + 1.
        std::vector<Message> expected;
        for (int k = 0; k < 12; ++k) {
            const int t = ((k + 1) * 100 + tempo - 1) / tempo;
            if (t <= 30) expected.push_back({t, 0xC0, k, 0});
        }
        EXPECT_EQ(programs(sent_), expected) << "tempo " << tempo;
        SVX_midiOutClose(d);
    }
}

TEST_F(SequenceTest, LoopCountPlaysTheDataAgainWithBeatCallbacks) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().program(0, 9).wait(2).end()));
    static std::vector<std::array<int, 3>> beats;
    static int* ticks;
    static int ended;
    beats.clear();
    ticks = &ticks_;
    ended = 0;
    SVX_register_beat_callback(s, [](HMDIDRIVER, HSEQUENCE, int32_t beat, int32_t measure) {
        beats.push_back({*ticks, beat, measure});
    });
    SVX_register_sequence_callback(s, [](HSEQUENCE) { ++ended; });
    SVX_set_sequence_loop_count(s, 3);
    EXPECT_EQ(SVX_sequence_loop_count(s), 3);
    start(s);
    tick(d, 20);
    EXPECT_EQ(programs(sent_),
              (std::vector<Message>{{1, 0xC0, 9, 0}, {4, 0xC0, 9, 0}, {7, 0xC0, 9, 0}}));
    EXPECT_EQ(beats, (std::vector<std::array<int, 3>>{{3, 0, 0}, {6, 0, 0}}));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(SVX_sequence_loop_count(s), 1);

    // Loop count 0 never ends.
    sent_.clear();
    SVX_set_sequence_loop_count(s, 0);
    start(s);
    tick(d, 300);
    EXPECT_EQ(programs(sent_).size(), 100u);
    EXPECT_EQ(SVX_sequence_status(s), SVX_PLAYING);
}

TEST_F(SequenceTest, ForNextPlaysTheBodyCountTimesAndFreesItsSlot) {
    struct Case {
        int count;
        std::vector<int> programs;  // in the first 12 ticks
        int status;
    };
    const Case cases[] = {
        {2, {7, 7, 9}, SVX_DONE}, {1, {7, 9}, SVX_DONE}, {0, std::vector<int>(12, 7), SVX_PLAYING}};
    for (const Case& c : cases) {
        sent_.clear();
        ticks_ = 0;
        HMDIDRIVER d = open();
        Events e;
        e.cc(0, 116, c.count).program(0, 7).wait(1).cc(0, 117, 127).program(0, 9).wait(1).end();
        HSEQUENCE s = play(d, xmidi_form(e));
        start(s);
        tick(d, 12);
        std::vector<int> got;
        for (const Message& m : programs(sent_)) got.push_back(m.data1);
        EXPECT_EQ(got, c.programs) << "count " << c.count;
        EXPECT_EQ(SVX_sequence_status(s), c.status);
        if (c.status == SVX_DONE) {
            for (int32_t counter : sequence_of(s)->loop_counter) EXPECT_EQ(counter, -1);
        }
        // Loop controllers are never passed on.
        EXPECT_TRUE(of_kind(0xB0).empty());
        SVX_midiOutClose(d);
    }
}

TEST_F(SequenceTest, BranchesJumpToMarkersAndDropLoopsUnlessAllowed) {
    for (int keep : {0, 1}) {
        sent_.clear();
        ticks_ = 0;
        SVX_set_preference(SVX_PREF_BRANCHES_KEEP_LOOPS, keep);
        HMDIDRIVER d = open();
        Events e;
        e.cc(0, 116, 2).program(0, 1).wait(1).cc(0, 109, 5);
        const uint32_t target = uint32_t(e.size());
        e.program(0, 2).wait(1).cc(0, 117, 127).end();
        HSEQUENCE s = play(d, xmidi_form(e, {{4, 0}, {5, target}}));
        start(s);
        tick(d, 10);
        std::vector<Message> expected = {{1, 0xC0, 1, 0}, {2, 0xC0, 2, 0}};
        if (keep) expected.insert(expected.end(), {{3, 0xC0, 1, 0}, {4, 0xC0, 2, 0}});
        EXPECT_EQ(programs(sent_), expected) << "preference 7 = " << keep;
        EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
        SVX_midiOutClose(d);
    }
}

TEST_F(SequenceTest, BranchIndexFromTheApplication) {
    HMDIDRIVER d = open();
    Events e;
    e.program(0, 1).wait(50);
    const uint32_t target = uint32_t(e.size());
    e.program(0, 2).wait(50).end();
    HSEQUENCE s = play(d, xmidi_form(e, {{3, target}}));
    start(s);
    tick(d, 2);
    SVX_branch_index(s, 4);  // no such marker: nothing
    SVX_branch_index(s, 3);
    tick(d);
    EXPECT_EQ(programs(sent_), (std::vector<Message>{{1, 0xC0, 1, 0}, {3, 0xC0, 2, 0}}));
}

// ---- controllers ----

TEST_F(SequenceTest, Controller110LocksAChannelAndReleasesIt) {
    HMDIDRIVER d = open();
    Events e;
    e.cc(0, 110, 127).note(0, 60, 100, 10).wait(2).cc(0, 110, 0).note(0, 61, 100, 1).wait(5).end();
    HSEQUENCE s = play(d, xmidi_form(e));
    start(s);
    tick(d);
    EXPECT_EQ(SVX_true_sequence_channel(s, 1), 9);
    tick(d, 2);
    EXPECT_EQ(SVX_true_sequence_channel(s, 1), 1);
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0x98, 60, 100},
                                           {3, 0x88, 60, 0},  // the release turns it off
                                           {3, 0x90, 61, 100}}));
    // The device also got sustain off on the channel when it was locked.
    const auto got = device_messages(d);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().bytes, (Bytes{0xB8, 64, 0}));
}

TEST_F(SequenceTest, Controller110LeavesTheMappingWhenNoChannelCanBeLocked) {
    HMDIDRIVER d = open();
    std::vector<int32_t> locked;
    for (int i = 0; i < 9; ++i) locked.push_back(SVX_lock_channel(d));
    EXPECT_EQ(locked, (std::vector<int32_t>{9, 8, 7, 6, 5, 4, 3, 2, 0}));
    HSEQUENCE s = play(d, xmidi_form(Events().cc(0, 110, 127).note(0, 60, 100, 1).wait(3).end()));
    start(s);
    tick(d);
    EXPECT_EQ(SVX_true_sequence_channel(s, 1), 1);
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0x90, 60, 100}}));
}

TEST_F(SequenceTest, Controller111ProtectsAChannelFromLocking) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().cc(8, 111, 127).wait(3).end()));
    start(s);
    tick(d);
    EXPECT_EQ(SVX_controller_value(s, 9, 111), 127);
    std::vector<int32_t> locked;
    for (int i = 0; i < 9; ++i) locked.push_back(SVX_lock_channel(d));
    // The protected channel 9 goes last, before nothing.
    EXPECT_EQ(locked, (std::vector<int32_t>{8, 7, 6, 5, 4, 3, 2, 9, 0}));
    EXPECT_TRUE(sent_.empty());
}

TEST_F(SequenceTest, Controller107MutesNoteOnsButNotTheirNoteOffs) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().cc(0, 107, 127).note(0, 60, 100, 1).wait(3).end()));
    start(s);
    tick(d, 2);
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0xB0, 107, 127}, {2, 0x80, 60, 0}}));
    EXPECT_EQ(SVX_channel_notes(s, 1), 0);
}

TEST_F(SequenceTest, IndirectValuesFromTheIcaArrayAndThePrefixCallback) {
    static uint8_t ica[128];
    ica[5] = 99;
    static std::vector<std::array<int, 2>> prefix_calls;
    prefix_calls.clear();
    struct Case {
        const char* name;
        int controller, value;
        bool with_ica, with_prefix;
        int pan;
    };
    const Case cases[] = {{"Ica", 115, 5, true, false, 99},
                          {"NoIca", 115, 5, false, false, 3},
                          {"Prefix", 108, 20, false, true, 30},
                          {"NoPrefix", 108, 20, false, false, 3}};
    for (const Case& c : cases) {
        sent_.clear();
        ticks_ = 0;
        HMDIDRIVER d = open();
        HSEQUENCE s = play(
            d, xmidi_form(
                   Events().cc(2, c.controller, c.value).cc(2, 10, 3).cc(2, 10, 4).wait(2).end()));
        if (c.with_ica) SVX_register_ICA_array(s, ica);
        if (c.with_prefix)
            SVX_register_prefix_callback(s, [](HSEQUENCE, int32_t ch, int32_t value) {
                prefix_calls.push_back({ch, value});
                return value + 10;
            });
        start(s);
        tick(d);
        // The indirect value replaces one controller value only.
        EXPECT_EQ(sent_,
                  (std::vector<Message>{
                      {1, 0xB2, c.controller, c.value}, {1, 0xB2, 10, c.pan}, {1, 0xB2, 10, 4}}))
            << c.name;
        SVX_midiOutClose(d);
    }
    EXPECT_EQ(prefix_calls, (std::vector<std::array<int, 2>>{{2, 20}}));
}

TEST_F(SequenceTest, Controller119CallsTheTriggerAndIsNotSent) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().cc(4, 119, 33).wait(2).end()));
    static std::vector<std::array<uintptr_t, 3>> triggers;
    triggers.clear();
    SVX_register_trigger_callback(s, [](HSEQUENCE seq, int32_t ch, int32_t value) {
        triggers.push_back({reinterpret_cast<uintptr_t>(seq), uintptr_t(ch), uintptr_t(value)});
    });
    start(s);
    tick(d);
    EXPECT_EQ(triggers,
              (std::vector<std::array<uintptr_t, 3>>{{reinterpret_cast<uintptr_t>(s), 4, 33}}));
    EXPECT_TRUE(sent_.empty());
    EXPECT_EQ(SVX_controller_value(s, 5, 119), 33);
}

TEST_F(SequenceTest, ThirtyThirdNoteOverflowsTheQueueAndEndsTheTick) {
    HMDIDRIVER d = open();
    Events e;
    for (int k = 0; k < 33; ++k) e.note(0, 30 + k, 100, 100);
    HSEQUENCE s = play(d, xmidi_form(e.wait(1).end()));
    Bytes other = xmidi_form(Events().program(1, 3).wait(5).end());
    HSEQUENCE s2 = SVX_allocate_sequence_handle(d);
    ASSERT_EQ(SVX_init_sequence(s2, other.data(), 0), 1);
    start(s);
    start(s2);
    tick(d);
    EXPECT_STREQ(SVX_last_error(), "Internal note queue overflow.");
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
    EXPECT_EQ(of_kind(0x90).size(), 33u);
    // The 32 queued notes are turned off; the 33rd was never queued.
    EXPECT_EQ(of_kind(0x80).size(), 32u);
    EXPECT_TRUE(programs(sent_).empty());  // the other sequence waits
    tick(d);
    EXPECT_EQ(programs(sent_), (std::vector<Message>{{2, 0xC1, 3, 0}}));
}

// ---- volume ----

TEST_F(SequenceTest, VolumeRampResendsControllerSevenEveryEighthTick) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().cc(0, 7, 100).wait(127).wait(127).end()));
    start(s);
    tick(d);
    sent_.clear();
    SVX_set_sequence_volume(s, 0, 1000);  // 127 steps of 7874 us
    tick(d, 150);
    const int period = 1000 * 1000 / 127;
    const int tick_us = 1000000 / 120;
    std::vector<Message> expected;
    for (int t = 2; t <= 151; ++t) {
        const int volume = std::max(0, 127 - (t - 1) * tick_us / period);
        const int previous = std::max(0, 127 - (t - 2) * tick_us / period);
        if (previous == 0) break;
        if (t % 8 == 0 || volume == 0) expected.push_back({t, 0xB0, 7, volume * 127 * 100 / 16129});
    }
    EXPECT_EQ(sent_, expected);
    EXPECT_EQ(SVX_sequence_volume(s), 0);
    EXPECT_EQ(expected.back().data2, 0);
}

TEST_F(SequenceTest, MasterVolumeScalesAndResendsAtOnce) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().cc(0, 7, 100).cc(1, 7, 127).wait(100).end()));
    SVX_set_XMIDI_master_volume(d, 64);  // nothing playing: only stored
    EXPECT_TRUE(sent_.empty());
    start(s);
    tick(d);
    SVX_set_XMIDI_master_volume(d, 127);
    SVX_set_sequence_volume(s, 64, 0);
    EXPECT_EQ(SVX_XMIDI_master_volume(d), 127);
    // From the application, through the sequence (its driver when none is given).
    SVX_send_channel_voice_message(nullptr, s, 0xB0, 7, 127);
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0xB0, 7, 127 * 64 * 100 / 16129},
                                           {1, 0xB1, 7, 127 * 64 * 127 / 16129},
                                           {1, 0xB0, 7, 100},
                                           {1, 0xB1, 7, 127},
                                           {1, 0xB0, 7, 64 * 127 * 100 / 16129},
                                           {1, 0xB1, 7, 64 * 127 * 127 / 16129},
                                           {1, 0xB0, 7, 64 * 127 * 127 / 16129}}));
    EXPECT_EQ(SVX_controller_value(s, 1, 7), 127);
}

// ---- positions ----

TEST_F(SequenceTest, MillisecondPositionsAndSeekingSendOnlyTheChangedState) {
    HMDIDRIVER d = open();
    Events e;
    e.program(0, 1).cc(0, 7, 100).cc(1, 10, 50).wait(120);
    e.program(0, 2).cc(0, 10, 20).cc(1, 10, 50).wait(120);
    e.program(0, 3).wait(10).end();
    HSEQUENCE s = play(d, xmidi_form(e));
    start(s);
    tick(d);
    int32_t total = -1, current = -1;
    SVX_sequence_ms_position(s, &total, &current);
    EXPECT_EQ(total, 250 * 1000 / 120);
    EXPECT_EQ(current, 0);  // the first tick plays the events at time 0
    sent_.clear();
    SVX_set_sequence_ms_position(s, 1500);  // tick 180, between 120 and 240
    EXPECT_EQ(sent_, (std::vector<Message>{{1, 0xC0, 2, 0}, {1, 0xB0, 10, 20}}));
    SVX_sequence_ms_position(s, &total, &current);
    EXPECT_EQ(current, 1500);
    tick(d, 60);
    EXPECT_EQ(programs(sent_).back(), (Message{61, 0xC0, 3, 0}));
    EXPECT_EQ(programs(sent_).size(), 2u);
}

TEST_F(SequenceTest, BeatsFollowTheTimeSignatureAndTempo) {
    // 3/4; a beat every half second (the default tempo, 60 ticks) or, with
    // 250,000 us per quarter note, every 30 ticks; eighths as beats halve it.
    struct Case {
        uint32_t us_per_quarter;  // 0: no tempo event
        int power;
        int spacing;
    };
    for (const Case& c : {Case{0, 2, 60}, Case{250000, 2, 30}, Case{0, 3, 30}}) {
        ticks_ = 0;
        HMDIDRIVER d = open();
        Events e;
        if (c.us_per_quarter)
            e.meta(0x51, {uint8_t(c.us_per_quarter >> 16), uint8_t(c.us_per_quarter >> 8),
                          uint8_t(c.us_per_quarter)});
        e.time_signature(3, c.power).wait(127).wait(127).wait(127).end();
        HSEQUENCE s = play(d, xmidi_form(e));
        static std::vector<std::array<int, 3>> beats;
        static int* ticks;
        beats.clear();
        ticks = &ticks_;
        SVX_register_beat_callback(s, [](HMDIDRIVER, HSEQUENCE, int32_t beat, int32_t measure) {
            beats.push_back({*ticks, beat, measure});
        });
        start(s);
        tick(d, 4 * c.spacing + c.spacing / 2);
        ASSERT_EQ(beats.size(), 5u) << c.spacing;
        const int expected[][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}};
        for (size_t i = 0; i < beats.size(); ++i) {
            EXPECT_EQ(beats[i][1], expected[i][0]) << i;
            EXPECT_EQ(beats[i][2], expected[i][1]) << i;
            if (i > 1) {
                EXPECT_NEAR(beats[i][0] - beats[i - 1][0], c.spacing, 1) << i;
            }
        }
        int32_t beat = -1, measure = -1;
        SVX_sequence_position(s, &beat, &measure);
        EXPECT_EQ(beat, 1);
        EXPECT_EQ(measure, 1);
        SVX_midiOutClose(d);
    }
}

TEST_F(SequenceTest, WithoutATimeSignatureBeatsNeverAdvance) {
    HMDIDRIVER d = open();
    HSEQUENCE s = play(d, xmidi_form(Events().wait(127).wait(127).end()));
    start(s);
    tick(d, 200);
    int32_t beat = -1, measure = -1;
    SVX_sequence_position(s, &beat, &measure);
    EXPECT_EQ(beat, 0);
    EXPECT_EQ(measure, 0);
    EXPECT_EQ(sequence_of(s)->measure, -1);
}

// ---- stop and resume ----

TEST_F(SequenceTest, StopTurnsNotesOffAndResumeRestoresTheChannels) {
    HMDIDRIVER d = open();
    Events e;
    e.program(0, 4).cc(0, 64, 127).cc(0, 10, 30).bend(0, 1, 70);
    e.note(0, 60, 100, 50).note(1, 64, 100, 50).wait(100).end();
    HSEQUENCE s = play(d, xmidi_form(e));
    start(s);
    tick(d);
    EXPECT_EQ(SVX_channel_notes(s, 1), 1);
    SVX_stop_sequence(s);
    EXPECT_EQ(SVX_sequence_status(s), SVX_STOPPED);
    EXPECT_EQ(SVX_channel_notes(s, 1), 0);
    tick(d, 3);  // stopped: nothing
    SVX_resume_sequence(s);
    EXPECT_EQ(SVX_sequence_status(s), SVX_PLAYING);
    EXPECT_EQ(SVX_controller_value(s, 1, 10), 30);
    EXPECT_EQ(SVX_controller_value(s, 1, 2), -1);
    const auto got = device_messages(d);
    std::vector<Bytes> bytes;
    for (const SmfEvent& m : got) bytes.push_back(m.bytes);
    EXPECT_EQ(bytes, (std::vector<Bytes>{{0xC0, 4},
                                         {0xB0, 64, 127},
                                         {0xB0, 10, 30},
                                         {0xE0, 1, 70},
                                         {0x90, 60, 100},
                                         {0x91, 64, 100},
                                         // stop
                                         {0x80, 60, 0},
                                         {0x81, 64, 0},
                                         {0xB0, 64, 0},
                                         // resume: program, bend, pan, sustain
                                         {0xC0, 4},
                                         {0xE0, 1, 70},
                                         {0xB0, 10, 30},
                                         {0xB0, 64, 127},
                                         // close ends it: sustain off again
                                         {0xB0, 64, 0}}));
}

TEST_F(SequenceTest, HandlesAndNullArguments) {
    SVX_set_preference(SVX_PREF_SEQUENCE_HANDLES, 2);
    HMDIDRIVER d = open();
    HSEQUENCE a = SVX_allocate_sequence_handle(d);
    HSEQUENCE b = SVX_allocate_sequence_handle(d);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::memcmp(a, "HSEQ", 4), 0);
    EXPECT_EQ(SVX_allocate_sequence_handle(d), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Out of sequence handles.");
    SVX_release_sequence_handle(a);
    EXPECT_EQ(SVX_sequence_status(a), SVX_FREE);
    EXPECT_EQ(SVX_allocate_sequence_handle(d), a);

    SVX_set_sequence_user_data(b, 19, 77);
    EXPECT_EQ(SVX_sequence_user_data(b, 19), 77u);
    SVX_set_sequence_user_data(b, 20, 5);  // outside the slots: refused
    EXPECT_EQ(SVX_sequence_user_data(b, 20), 0u);

    EXPECT_EQ(SVX_sequence_status(nullptr), 0);
    EXPECT_EQ(SVX_sequence_loop_count(nullptr), -1);
    EXPECT_EQ(SVX_controller_value(nullptr, 1, 7), -1);
    EXPECT_EQ(SVX_init_sequence(nullptr, nullptr, 0), 0);
    EXPECT_EQ(SVX_true_sequence_channel(nullptr, 1), 0);
    SVX_map_sequence_channel(b, 3, 12);
    EXPECT_EQ(SVX_true_sequence_channel(b, 3), 12);
}

// ---- bad images ----

struct BadCase {
    const char* name;
    Bytes (*image)();
    int cut;            // bytes cut off the end (negative: bytes kept)
    const char* error;  // init's error, or null when init succeeds
    int notes;          // note-ons sent before the clean stop
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

Bytes simple() {
    return xmidi_form(Events().note(0, 60, 100, 1).wait(1).note(0, 61, 100, 1).wait(1).end());
}
Bytes runaway_duration() {
    Events e;
    e.note(0, 60, 100, 1).wait(1);
    e.b.insert(e.b.end(), {0x90, 61, 100, 0x81, 0x81, 0x81, 0x81, 0x01});
    return xmidi_form(e.wait(1).end());
}
Bytes runaway_sysex() {
    Events e;
    e.b.insert(e.b.end(), {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    return xmidi_form(e.end());
}
Bytes sysex_past_end() {
    Events e;
    e.note(0, 60, 100, 1);
    e.b.insert(e.b.end(), {0xF0, 0x7F, 1, 2});
    return xmidi_form(e);
}
Bytes no_end_of_track() { return xmidi_form(Events().note(0, 60, 100, 1).wait(1)); }
Bytes cut_note() {
    Events e;
    e.b.insert(e.b.end(), {0x90, 60});
    return xmidi_form(e);
}
Bytes huge_form_length() {
    Bytes image = simple();
    image[4] = image[5] = image[6] = image[7] = 0xFF;
    return image;
}
Bytes huge_chunk_in_cat() {
    Bytes a = xmidi_form(Events().end());
    a[4] = 0x7F;
    return container("CAT ", "XMID", {a});
}
Bytes unknown_status() {
    Events e;
    e.note(0, 60, 100, 1).b.push_back(0xF4);
    return xmidi_form(e.end());
}

Bytes from_hex(const char* hex) {
    Bytes b;
    for (const char* p = hex; p[0] && p[1]; p += 2) b.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
    return b;
}
// What a fuzzer found: loops that pass no time held the service tick for
// ever. FOR with count 0 straight before its NEXT; a branch to itself.
Bytes endless_for_next() { return from_hex("464f524d00000012584d494445564e5400000006b07400b07540"); }
Bytes branch_to_itself() {
    return from_hex("464f524d0000001f584d49445242524e00000008010000000000000045564e5400000003b06d00");
}

class BadImages : public MidiTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadImages, ReportOrStopCleanly) {
    const BadCase& c = GetParam();
    HMDIDRIVER d = open();
    const Bytes whole = c.image();
    const size_t size = c.cut >= 0 ? whole.size() - size_t(c.cut) : size_t(-c.cut);
    const Bytes kept(whole.begin(), whole.begin() + long(size));
    // In a library block the library knows the image's size.
    auto* block = static_cast<uint8_t*>(SVX_mem_alloc_lock(int32_t(kept.size())));
    std::memcpy(block, kept.data(), kept.size());
    HSEQUENCE s = SVX_allocate_sequence_handle(d);
    static int ended;
    ended = 0;
    const int32_t ok = SVX_init_sequence(s, block, 0);
    if (c.error) {
        EXPECT_EQ(ok, 0);
        EXPECT_STREQ(SVX_last_error(), c.error);
    } else {
        ASSERT_EQ(ok, 1);
        SVX_register_sequence_callback(s, [](HSEQUENCE) { ++ended; });
        start(s);
        tick(d, 10);
        EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
        EXPECT_EQ(ended, 1);
        EXPECT_EQ(int(of_kind(0x90).size()), c.notes);
        EXPECT_EQ(of_kind(0x80).size(), of_kind(0x90).size());  // nothing left sounding
        int32_t total = -1, current = -1;
        SVX_sequence_ms_position(s, &total, &current);
        SVX_set_sequence_ms_position(s, 100000);
    }
    SVX_midiOutClose(d);
    SVX_mem_free_lock(block);
}

INSTANTIATE_TEST_SUITE_P(
    Midi, BadImages,
    ::testing::Values(BadCase{"Whole", simple, 0, nullptr, 2},
                      BadCase{"EventsCutInTheBlock", simple, 5, nullptr, 1},
                      BadCase{"HeaderCut", simple, -6, "No valid XMIDI sequences present in file.",
                              0},
                      BadCase{"FormLengthPastTheBlock", huge_form_length, 0, nullptr, 2},
                      BadCase{"FormLengthPastTheCat", huge_chunk_in_cat, 0, nullptr, 0},
                      BadCase{"RunawayDuration", runaway_duration, 0, nullptr, 1},
                      BadCase{"RunawaySysexLength", runaway_sysex, 0, nullptr, 0},
                      BadCase{"SysexPastTheEvents", sysex_past_end, 0, nullptr, 1},
                      BadCase{"NoEndOfTrack", no_end_of_track, 0, nullptr, 1},
                      BadCase{"NoteCutAtTheEnd", cut_note, 0, nullptr, 0},
                      BadCase{"UnknownStatus", unknown_status, 0, nullptr, 1},
                      BadCase{"EndlessForNextWithoutTime", endless_for_next, 0, nullptr, 0},
                      BadCase{"BranchToItselfWithoutTime", branch_to_itself, 0, nullptr, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(SequenceTest, AnImageOutsideLibraryMemoryIsBoundedByItsEventChunk) {
    HMDIDRIVER d = open();
    // The image ends exactly where the cut note-on does.
    Events e;
    e.note(0, 60, 100, 1).wait(1);
    e.b.insert(e.b.end(), {0x90, 61, 100, 0x81});
    const Bytes bytes = xmidi_form(e);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::memcpy(exact.get(), bytes.data(), bytes.size());
    HSEQUENCE s = SVX_allocate_sequence_handle(d);
    ASSERT_EQ(SVX_init_sequence(s, exact.get(), 0), 1);
    start(s);
    tick(d, 5);
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
    EXPECT_EQ(of_kind(0x90).size(), 1u);
}

// A loop that passes no time but ends plays all its rounds at once; one
// that never ends ends the sequence on its first tick, with its notes off.
TEST_F(SequenceTest, LoopsWithoutTimeEndOrEndTheSequence) {
    struct Case {
        int count;
        size_t programs;
        int status;
    };
    for (const Case c : {Case{3, 3, SVX_PLAYING}, Case{127, 127, SVX_PLAYING}, Case{0, 0, SVX_DONE}}) {
        SCOPED_TRACE(c.count);
        sent_.clear();
        HMDIDRIVER d = open();
        Events e;
        e.note(1, 50, 90, 100).cc(0, 116, c.count).program(0, 5).cc(0, 117, 127).wait(50).end();
        HSEQUENCE s = play(d, xmidi_form(e));
        start(s);
        tick(d);
        EXPECT_EQ(SVX_sequence_status(s), c.status);
        if (c.status == SVX_DONE) {
            EXPECT_EQ(of_kind(0x80).size(), 1u);
        } else {
            EXPECT_EQ(programs(sent_).size(), c.programs);
        }
        SVX_midiOutClose(d);
    }
}

// With the real service thread, which may suspend the application thread
// while it ticks: stopping such a sequence returns.
TEST_F(SequenceTest, StopReturnsWhateverTheServiceThreadPlays) {
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 1);
    SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, 1);
    HMDIDRIVER d = nullptr;
    ASSERT_EQ(SVX_midiOutOpen(&d, nullptr, -1), 0);
    for (Bytes (*image)() : {endless_for_next, branch_to_itself}) {
        HSEQUENCE s = play(d, image());
        SVX_set_sequence_loop_count(s, 0);
        start(s);
        const DWORD until = GetTickCount() + 2000;
        while (SVX_sequence_status(s) == SVX_PLAYING && GetTickCount() < until) Sleep(5);
        SVX_stop_sequence(s);
        EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);
        SVX_release_sequence_handle(s);
    }
    SVX_midiOutClose(d);
}

// API calls racing the service thread: the busy count and the service
// guard keep them apart (the sanitizer run checks the memory side).
TEST_F(SequenceTest, ApiCallsWhileTheServiceThreadPlays) {
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 1);
    SVX_set_preference(SVX_PREF_MIDI_SERVICE_RATE, 1000);
    HMDIDRIVER d = nullptr;
    ASSERT_EQ(SVX_midiOutOpen(&d, nullptr, -1), 0);
    Events e;
    for (int k = 0; k < 40; ++k)
        e.cc(k % 4, 110, k % 2 ? 0 : 127).note(k % 4, 40 + k, 90, 3).wait(1);
    HSEQUENCE s = play(d, xmidi_form(e.end()));
    SVX_set_sequence_loop_count(s, 0);
    start(s);
    const DWORD until = GetTickCount() + 400;
    for (int i = 0; GetTickCount() < until; ++i) {
        SVX_set_sequence_volume(s, i % 128, i % 3 ? 0 : 30);
        SVX_set_XMIDI_master_volume(d, 127 - i % 128);
        int32_t total, current;
        SVX_sequence_ms_position(s, &total, &current);
        if (i % 50 == 0) {
            SVX_stop_sequence(s);
            SVX_resume_sequence(s);
        }
        if (i % 97 == 0) SVX_set_sequence_ms_position(s, i % 40);
        if (i % 131 == 0) {
            SVX_MIDI_handle_release(d);
            SVX_MIDI_handle_reacquire(d);
        }
    }
    EXPECT_EQ(SVX_sequence_status(s), SVX_PLAYING);
    static std::atomic<int> ended;
    ended = 0;
    SVX_register_sequence_callback(s, [](HSEQUENCE) { ++ended; });
    SVX_midiOutClose(d);
    EXPECT_EQ(ended, 1);
}

}  // namespace
