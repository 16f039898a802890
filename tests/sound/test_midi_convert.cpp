// MIDI to XMIDI: the stream, its timing, durations and the chunks written,
// the errors with and without the tolerant flag, and real files played by
// the sequencer against an independent reading of the same files.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "midi_support.h"

namespace {

using testing_support::Bytes;
using testing_support::put_be32;
using testing_support::put_vlq;

// ---- Standard MIDI Files ----

struct Track {
    Bytes b;
    Track& at(uint32_t delta, const Bytes& event) {
        put_vlq(b, delta);
        b.insert(b.end(), event.begin(), event.end());
        return *this;
    }
    Track& end(uint32_t delta = 0) { return at(delta, {0xFF, 0x2F, 0x00}); }
};

Bytes smf(int format, int division, const std::vector<Track>& tracks, int announced = -1) {
    Bytes f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, uint8_t(format)};
    const int count = announced < 0 ? int(tracks.size()) : announced;
    f.insert(f.end(), {uint8_t(count >> 8), uint8_t(count), uint8_t(division >> 8), uint8_t(division)});
    for (const Track& t : tracks) {
        f.insert(f.end(), {'M', 'T', 'r', 'k'});
        put_be32(f, uint32_t(t.b.size()));
        f.insert(f.end(), t.b.begin(), t.b.end());
    }
    return f;
}

Bytes on(int ch, int key, int velocity = 100) { return {uint8_t(0x90 | ch), uint8_t(key), uint8_t(velocity)}; }
Bytes off(int ch, int key) { return {uint8_t(0x80 | ch), uint8_t(key), 64}; }
Bytes cc(int ch, int number, int value) { return {uint8_t(0xB0 | ch), uint8_t(number), uint8_t(value)}; }
Bytes program(int ch, int patch) { return {uint8_t(0xC0 | ch), uint8_t(patch)}; }
Bytes tempo(uint32_t us) { return {0xFF, 0x51, 0x03, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)}; }
Bytes sysex(size_t length) {
    Bytes b = {0xF0};
    put_vlq(b, uint32_t(length));
    b.insert(b.end(), length, 0x11);
    return b;
}

// ---- the XMIDI written ----

struct Converted {
    int32_t result = 0;
    std::string error;
    Bytes image;
    Bytes timb, rbrn, evnt;  // chunk data
};

uint32_t be(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

Converted convert(const Bytes& midi, uint32_t flags = 0) {
    Converted c;
    SVX_set_error("");
    // Exactly the file's bytes: a read past them shows under the sanitizer.
    std::vector<uint8_t> exact(midi);
    void* out = nullptr;
    uint32_t size = 0;
    c.result = SVX_MIDI_to_XMI(exact.empty() ? nullptr : exact.data(), uint32_t(exact.size()), &out, &size, flags);
    c.error = SVX_last_error();
    if (!out) return c;
    c.image.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
    SVX_mem_free_lock(out);
    // FORM XDIR (22 bytes), CAT (12), FORM XMID (12), then the chunks.
    for (size_t at = 46; at + 8 <= c.image.size();) {
        const uint32_t length = be(c.image, at + 4);
        const std::string id(c.image.begin() + long(at), c.image.begin() + long(at + 4));
        Bytes data(c.image.begin() + long(at + 8), c.image.begin() + long(std::min<size_t>(at + 8 + length, c.image.size())));
        if (id == "TIMB") c.timb = data;
        if (id == "RBRN") c.rbrn = data;
        if (id == "EVNT") c.evnt = data;
        at += 8 + length + (length & 1);
    }
    return c;
}

class MidiConvert : public testing_support::MidiTest {};

TEST_F(MidiConvert, WritesTheDirectoryAndOneSequence) {
    const Bytes midi = smf(0, 96, {Track().at(0, program(0, 5)).at(0, on(0, 60)).at(96, off(0, 60)).at(0, cc(0, 120, 3)).end()});
    const Converted c = convert(midi);
    ASSERT_EQ(c.result, 1) << c.error;
    const Bytes evnt = {0xC0, 5, 0x90, 60, 100, 60, 60, 0xB0, 120, 3, 0xFF, 0x2F, 0x00};
    Bytes expected = {'F', 'O', 'R', 'M', 0, 0, 0, 14, 'X', 'D', 'I', 'R', 'I', 'N', 'F', 'O', 0, 0, 0, 2, 1, 0};
    const uint32_t form = 4 + (8 + 4) + (8 + 8) + (8 + 14);
    expected.insert(expected.end(), {'C', 'A', 'T', ' '});
    put_be32(expected, 4 + 8 + form);
    expected.insert(expected.end(), {'X', 'M', 'I', 'D', 'F', 'O', 'R', 'M'});
    put_be32(expected, form);
    expected.insert(expected.end(), {'X', 'M', 'I', 'D', 'T', 'I', 'M', 'B', 0, 0, 0, 4, 1, 0, 5, 0});
    expected.insert(expected.end(), {'R', 'B', 'R', 'N', 0, 0, 0, 8, 1, 0, 3, 0, 10, 0, 0, 0});
    expected.insert(expected.end(), {'E', 'V', 'N', 'T', 0, 0, 0, 13});
    expected.insert(expected.end(), evnt.begin(), evnt.end());
    expected.push_back(0);  // odd data is padded
    EXPECT_EQ(c.image, expected);
    EXPECT_EQ(SVX_file_type(c.image.data(), uint32_t(c.image.size())), SVX_FILETYPE_XMIDI);
}

TEST_F(MidiConvert, NinetySixTicksAtDivisionNinetySixAreSixtyServiceTicks) {
    const Converted c = convert(smf(0, 96, {Track().at(0, on(0, 60)).at(96, off(0, 60)).end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0x90, 60, 100, 60, 60, 0xFF, 0x2F, 0}));
}

TEST_F(MidiConvert, TheServiceRateAndTempoSetTheTicks) {
    // 240 Hz, and a tempo of 250,000 us from the start: 96 ticks are 60.
    SVX_set_preference(SVX_PREF_MIDI_SERVICE_RATE, 240);
    const Converted c = convert(smf(0, 96, {Track().at(0, tempo(250000)).at(96, on(0, 60)).at(0, off(0, 60)).end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0xFF, 0x51, 3, 0x03, 0xD0, 0x90, 60, 0x90, 60, 100, 0, 0xFF, 0x2F, 0}));
}

TEST_F(MidiConvert, TheWaitBeforeATempoChangeRunsAtTheOldTempo) {
    // 96 ticks at 500,000 us, then the tempo halves: 60 + 30 service ticks.
    const Converted c = convert(
        smf(0, 96, {Track().at(0, on(0, 60)).at(96, tempo(250000)).at(96, off(0, 60)).end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0x90, 60, 100, 90, 60, 0xFF, 0x51, 3, 0x03, 0xD0, 0x90, 30, 0xFF, 0x2F, 0}));
}

TEST_F(MidiConvert, ANoteClosedOnAnotherTrackGetsItsDuration) {
    const Converted c = convert(smf(1, 96, {Track().at(0, on(3, 64)).end(200), Track().at(48, off(3, 64)).end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0x90 | 3, 64, 100, 30, 125, 0xFF, 0x2F, 0}));
}

TEST_F(MidiConvert, ALongDurationShiftsLaterDataAndTheBranchPointsBehindIt) {
    const Converted c = convert(smf(0, 96, {Track()
                                                 .at(0, on(0, 60))
                                                 .at(48, cc(0, 120, 5))
                                                 .at(0, on(0, 62))
                                                 .at(432, off(0, 60))
                                                 .at(120, off(0, 62))
                                                 .end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    // Durations 300 and 345 take two bytes each.
    EXPECT_EQ(c.evnt, (Bytes{0x90, 60, 100, 0x82, 0x2C, 30, 0xB0, 120, 5, 0x90, 62, 100, 0x82, 0x59,
                             127, 127, 91, 0xFF, 0x2F, 0}));
    EXPECT_EQ(c.rbrn, (Bytes{1, 0, 5, 0, 9, 0, 0, 0}));
}

TEST_F(MidiConvert, OneNoteOffClosesEveryOpenNoteOfItsKey) {
    const Converted c = convert(
        smf(0, 96, {Track().at(0, on(0, 60)).at(48, on(0, 60)).at(48, on(0, 60)).at(96, off(0, 60)).at(0, off(0, 60)).end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0x90, 60, 100, 120, 30, 0x90, 60, 100, 90, 30, 0x90, 60, 100, 60, 60, 0xFF, 0x2F, 0}));
}

TEST_F(MidiConvert, EachTimbreIsRequestedOnce) {
    const Converted c = convert(smf(0, 96, {Track()
                                                 .at(0, program(0, 3))
                                                 .at(0, program(1, 3))
                                                 .at(0, on(9, 36))
                                                 .at(10, off(9, 36))
                                                 .at(0, on(9, 36))
                                                 .at(10, off(9, 36))
                                                 .at(0, cc(0, 114, 2))
                                                 .at(0, program(0, 3))
                                                 .end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    // (patch, bank): program 3 in bank 0, drum key 36 of the rhythm
    // channel, program 3 in bank 2.
    EXPECT_EQ(c.timb, (Bytes{3, 0, 3, 0, 36, 127, 3, 2}));
}

TEST_F(MidiConvert, MetaEventsAndMessagesPassOrAreDropped) {
    const Converted c = convert(smf(0, 96, {Track()
                                                 .at(0, {0xFF, 0x03, 2, 'h', 'i'})
                                                 .at(0, {0xFF, 0x04, 1, 'x'})
                                                 .at(0, {0xFF, 0x58, 4, 3, 2, 24, 8})
                                                 .at(0, {0xE2, 0x00, 0x40})
                                                 .at(0, {0xD2, 0x10})
                                                 .at(0, {0xA2, 60, 0x10})
                                                 .at(0, off(2, 70))
                                                 .at(0, {0xF0, 2, 0x7E, 0xF7})
                                                 .end()}));
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0xFF, 0x58, 4, 3, 2, 24, 8, 0xE2, 0, 0x40, 0xD2, 0x10, 0xA2, 60, 0x10, 0xF0,
                             2, 0x7E, 0xF7, 0xFF, 0x2F, 0}));
}

TEST_F(MidiConvert, RunningStatusAndAFileInsideAnotherContainer) {
    Track t;
    t.b = {0x00, 0x90, 60, 100, 0x00, 62, 100, 0x60, 60, 0, 0x00, 62, 0};
    t.end();
    Bytes wrapped = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a', 0, 0, 0, 0};
    const Bytes midi = smf(0, 96, {t});
    wrapped.insert(wrapped.end(), midi.begin(), midi.end());
    const Converted c = convert(wrapped);
    ASSERT_EQ(c.result, 1) << c.error;
    EXPECT_EQ(c.evnt, (Bytes{0x90, 60, 100, 60, 0x90, 62, 100, 60, 60, 0xFF, 0x2F, 0}));
}

// ---- errors ----

struct ErrorCase {
    const char* name;
    Bytes midi;
    const char* text;
    int32_t tolerant_result;  // with the tolerant flag
};

std::vector<ErrorCase> error_cases() {
    std::vector<ErrorCase> cases;
    const Bytes good = smf(0, 96, {Track().at(0, on(0, 60)).at(96, off(0, 60)).end()});
    cases.push_back({"no header", Bytes(good.begin() + 4, good.end()), "File not a standard MIDI file.", 0});
    cases.push_back({"header cut short", Bytes(good.begin(), good.begin() + 12), "File not a standard MIDI file.", 0});
    cases.push_back({"track length past the file", Bytes(good.begin(), good.end() - 1), "File not a standard MIDI file.", 0});
    cases.push_back({"fewer tracks than announced", smf(1, 96, {Track().end()}, 2), "File not a standard MIDI file.", 0});
    cases.push_back({"division 0", smf(0, 0, {Track().end()}), "File not a standard MIDI file.", 0});
    cases.push_back({"event longer than 1536 bytes", smf(0, 96, {Track().at(0, sysex(1537)).end()}), "MIDI event too long in file.", 0});
    cases.push_back({"system common status", smf(0, 96, {Track().at(0, {0xF2, 0, 0}).end()}), "Illegal MIDI status byte in file.", 0});
    cases.push_back({"data with no status before it", smf(0, 96, {Track().at(0, {60, 100}).end()}), "Illegal MIDI event in file.", 0});
    cases.push_back({"event cut off by the track's end", smf(0, 96, {Track().at(0, {0x90, 60})}), "Illegal MIDI event in file.", 0});
    cases.push_back({"meta length past the track", smf(0, 96, {Track().at(0, {0xFF, 0x01, 0x7F, 'a'})}), "Illegal MIDI event in file.", 0});
    cases.push_back({"65 tracks", smf(1, 96, std::vector<Track>(65, Track().end())), "Too many tracks in MIDI file.", 0});
    Track big;
    for (int i = 0; i < 200; ++i) big.at(0, sysex(1500));
    cases.push_back({"more than the event buffer holds", smf(0, 96, {big.end()}), "Insufficient memory to convert.", 0});
    Track endless_wait;
    endless_wait.at(0x0FFFFFFF, on(0, 1)).at(0x0FFFFFFF, off(0, 1)).end();
    cases.push_back({"intervals longer than the event buffer", smf(0, 1, {endless_wait}), "Insufficient memory to convert.", 0});
    cases.push_back({"unpaired note-on", smf(0, 96, {Track().at(0, on(0, 60)).end(10)}), "Unpaired MIDI note-on event in file.", 1});
    Track crowd;
    for (int k = 0; k < 33; ++k) crowd.at(0, on(0, k));
    for (int k = 0; k < 33; ++k) crowd.at(1, off(0, k));
    cases.push_back({"33 notes at once", smf(0, 96, {crowd.end()}), "Too many simultaneous notes in file.", 1});
    Track branches;
    for (int m = 0; m < 129; ++m) branches.at(0, cc(0, 120, m));
    cases.push_back({"129 branch points", smf(0, 96, {branches.end()}), "Too many branch point controllers in file.", 1});
    Track timbres;
    for (int bank = 0; bank < 128; ++bank) {
        timbres.at(0, cc(0, 114, bank));
        for (int patch = 0; patch <= 128; ++patch) timbres.at(0, {0xC0, uint8_t(patch)});
    }
    cases.push_back({"16385 timbres", smf(0, 96, {timbres.end()}), "Too many timbre request controller pairs in file.", 0});
    cases.push_back({"duplicate branch point", smf(0, 96, {Track().at(0, cc(0, 120, 4)).at(0, cc(1, 120, 4)).end()}),
                     "Duplicate branch point controller in file.", 1});
    return cases;
}

TEST_F(MidiConvert, EachErrorAbandonsOrIsToleratedAsItsCodeSays) {
    for (const ErrorCase& e : error_cases()) {
        const Converted strict = convert(e.midi);
        EXPECT_EQ(strict.result, 0) << e.name;
        EXPECT_EQ(strict.error, e.text) << e.name;
        EXPECT_TRUE(strict.image.empty()) << e.name;
        const Converted tolerant = convert(e.midi, SVX_MIDI_TOLERANT);
        EXPECT_EQ(tolerant.result, e.tolerant_result) << e.name;
        EXPECT_EQ(tolerant.error, e.text) << e.name;
        EXPECT_EQ(tolerant.image.empty(), e.tolerant_result == 0) << e.name;
    }
}

TEST_F(MidiConvert, ToleratedErrorsLeaveOutOnlyWhatTheyName) {
    Track crowd;
    for (int k = 0; k < 33; ++k) crowd.at(0, on(0, k));
    for (int k = 0; k < 33; ++k) crowd.at(0, off(0, k));
    const Converted notes = convert(smf(0, 96, {crowd.end()}), SVX_MIDI_TOLERANT);
    ASSERT_EQ(notes.result, 1);
    EXPECT_EQ(notes.evnt.size(), 32 * 4 + 3u) << "the 33rd note is not written";

    const Converted dup = convert(smf(0, 96, {Track().at(0, cc(0, 120, 4)).at(0, cc(1, 120, 4)).end()}), SVX_MIDI_TOLERANT);
    ASSERT_EQ(dup.result, 1);
    EXPECT_EQ(dup.evnt, (Bytes{0xB0, 120, 4, 0xB1, 120, 4, 0xFF, 0x2F, 0}));
    EXPECT_EQ(dup.rbrn, (Bytes{1, 0, 4, 0, 3, 0, 0, 0}));
}

TEST_F(MidiConvert, NullAndEmptyImagesAreNoMidiFiles) {
    EXPECT_EQ(convert({}).error, "File not a standard MIDI file.");
    void* out = &out;
    uint32_t size = 3;
    EXPECT_EQ(SVX_MIDI_to_XMI(nullptr, 100, &out, &size, 0), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(MidiConvert, EveryCutOfAFileIsReadNoFurtherThanItsEnd) {
    const Bytes whole = smf(1, 96, {Track().at(0, tempo(400000)).at(0, {0xFF, 0x01, 3, 'a', 'b', 'c'}).end(),
                                    Track().at(0, program(1, 4)).at(0, on(1, 50)).at(20, {50, 0}).at(0, sysex(20))
                                        .at(300, cc(1, 120, 1)).end()});
    for (size_t n = 0; n < whole.size(); ++n) {
        const Converted c = convert(Bytes(whole.begin(), whole.begin() + long(n)), SVX_MIDI_TOLERANT);
        EXPECT_EQ(c.result, 0) << n;
        EXPECT_FALSE(c.error.empty()) << n;
    }
    EXPECT_EQ(convert(whole).result, 1);
    // A track cut inside an event whose chunk length agrees with the cut.
    Track full = Track().at(0, program(1, 4)).at(0, on(1, 50)).at(200, {50, 0}).at(0, sysex(20))
                     .at(0, {0xFF, 0x7F, 2, 1, 2}).end();
    for (size_t n = 0; n < full.b.size(); ++n) {
        Track cut;
        cut.b.assign(full.b.begin(), full.b.begin() + long(n));
        const Converted c = convert(smf(0, 96, {cut}), SVX_MIDI_TOLERANT);
        if (c.result == 0) {
            EXPECT_FALSE(c.error.empty()) << n;
        }
    }
}

TEST_F(MidiConvert, EveryDamagedByteIsReadNoFurtherThanTheFile) {
    const Bytes whole = smf(1, 96, {Track().at(0, tempo(400000)).end(),
                                    Track().at(0, program(1, 4)).at(0, on(1, 50)).at(20, {50, 0}).at(0, sysex(5))
                                        .at(300, cc(1, 120, 1)).at(0, {0xFF, 0x06, 1, 'm'}).end()});
    for (size_t at = 0; at < whole.size(); ++at)
        for (uint8_t value : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0x80), uint8_t(0xFF)}) {
            Bytes damaged = whole;
            damaged[at] = value;
            const Converted c = convert(damaged, SVX_MIDI_TOLERANT);
            if (c.result == 0) {
                EXPECT_FALSE(c.error.empty()) << at;
            }
            // The listing reads the same damaged file.
            char* text = nullptr;
            uint32_t size = 0;
            if (SVX_list_MIDI(damaged.data(), uint32_t(damaged.size()), &text, &size, SVX_LIST_ROLAND_SYSEX)) {
                EXPECT_EQ(text[size - 1], '\0');
                SVX_mem_free_lock(text);
            }
        }
}

// ---- real files ----

struct NoteTimes {
    std::map<std::pair<int, int>, std::vector<double>> on, off;  // (channel, key) -> ticks
};

// Note-on and note-off times of a file in 120 Hz ticks, read by mido.
bool read_with_mido(const std::string& file, NoteTimes& times) {
    const std::string script =
        "import mido,sys\n"
        "t=0.0\n"
        "for m in mido.MidiFile(sys.argv[1]):\n"
        "  t+=m.time\n"
        "  if m.type=='note_on' and m.velocity>0: print('on',m.channel,m.note,repr(t*120))\n"
        "  elif m.type in ('note_on','note_off'): print('off',m.channel,m.note,repr(t*120))\n";
    const std::string command = "/usr/bin/python3 -c \"" + script + "\" '" + file + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char kind[8];
    int channel, key;
    double tick;
    std::map<std::pair<int, int>, int> open;
    while (std::fscanf(pipe, "%7s %d %d %lf", kind, &channel, &key, &tick) == 4) {
        const auto at = std::make_pair(channel, key);
        if (std::string(kind) == "on") {
            times.on[at].push_back(tick);
            ++open[at];
        } else {
            // One note-off ends every open note of its key.
            for (; open[at] > 0; --open[at]) times.off[at].push_back(tick);
        }
    }
    return pclose(pipe) == 0 && !times.on.empty();
}

Bytes file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RealFiles : public testing_support::MidiTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealFiles, PlayEveryNoteWithinOneTickOfTheOriginal) {
    const std::string file = GetParam();
    if (!std::filesystem::exists(file)) GTEST_SKIP() << file << " is not installed";
    NoteTimes expected;
    if (!read_with_mido(file, expected)) GTEST_SKIP() << "python3-mido is not installed";

    const Bytes midi = file_bytes(file);
    void* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_MIDI_to_XMI(midi.data(), uint32_t(midi.size()), &out, &size, 0), 1) << SVX_last_error();
    const Bytes xmidi(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
    SVX_mem_free_lock(out);

    HMDIDRIVER d = open(SVX_MIDI_NO_DEVICE);
    HSEQUENCE s = play(d, xmidi);
    start(s);
    double last = 0;
    for (const auto& [at, ticks] : expected.off) last = std::max(last, ticks.back());
    while (SVX_sequence_status(s) == SVX_PLAYING && ticks_ < int(last) + 1000) tick(d);
    EXPECT_EQ(SVX_sequence_status(s), SVX_DONE);

    // An event at service tick T is sent on the test's tick T + 1.
    NoteTimes played;
    for (const testing_support::Message& m : sent_) {
        const auto at = std::make_pair(m.status & 15, m.data1);
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0) played.on[at].push_back(m.tick - 1);
        if ((m.status & 0xF0) == 0x80 || ((m.status & 0xF0) == 0x90 && m.data2 == 0))
            played.off[at].push_back(m.tick - 1);
    }
    size_t notes = 0;
    for (auto kind : {&NoteTimes::on, &NoteTimes::off}) {
        const auto& want = expected.*kind;
        const auto& got = played.*kind;
        ASSERT_EQ(want.size(), got.size());
        for (const auto& [at, ticks] : want) {
            ASSERT_TRUE(got.count(at)) << at.first << "/" << at.second;
            std::vector<double> w = ticks;
            std::vector<double> g = got.at(at);
            std::sort(w.begin(), w.end());
            std::sort(g.begin(), g.end());
            ASSERT_EQ(w.size(), g.size()) << "channel " << at.first << " key " << at.second;
            for (size_t i = 0; i < w.size(); ++i) {
                // A note ends at the earliest one tick after it starts.
                EXPECT_LE(std::abs(g[i] - w[i]), 1.0 + 1e-6)
                    << "channel " << at.first << " key " << at.second << " #" << i;
            }
            notes += w.size();
        }
    }
    EXPECT_GT(notes, 100u);
}

INSTANTIATE_TEST_SUITE_P(
    Debian, RealFiles,
    ::testing::Values("/usr/share/games/openttd/baseset/openmsx/midnight_snow_run.mid",
                      "/usr/share/games/openttd/baseset/openmsx/be_sharp_bw_redfarn.mid",
                      "/usr/share/doc/mma/examples/midi-inc/rec1.mid",
                      "/usr/share/doc/mma/examples/aria/barb.mid",
                      "/usr/share/planetblupi/music/music003.mid"),
    [](const ::testing::TestParamInfo<const char*>& info) {
        std::string name = std::filesystem::path(info.param).stem().string();
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

}  // namespace
