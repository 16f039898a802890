// The MIDI listing: a small file listed against a stored text, the Roland
// decoding of MT-32 messages, the map prints and bad input.
#include <fstream>
#include <string>
#include <vector>

#include "midi_support.h"

namespace {

using testing_support::Bytes;
using testing_support::put_be32;

Bytes midi_file(const std::vector<Bytes>& tracks, int division = 96) {
    Bytes f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, uint8_t(tracks.size()), uint8_t(division >> 8),
               uint8_t(division)};
    for (const Bytes& t : tracks) {
        f.insert(f.end(), {'M', 'T', 'r', 'k'});
        put_be32(f, uint32_t(t.size()));
        f.insert(f.end(), t.begin(), t.end());
    }
    return f;
}

class MidiListing : public testing_support::SoundLibrary {
protected:
    void SetUp() override { SVX_startup(); }

    // The listing, without its final zero byte (which is checked).
    std::string list(const Bytes& midi, uint32_t flags = 0) {
        std::vector<uint8_t> exact(midi);
        char* text = nullptr;
        uint32_t size = 0;
        if (SVX_list_MIDI(exact.data(), uint32_t(exact.size()), &text, &size, flags) != 1) return "failed: " + std::string(SVX_last_error());
        EXPECT_GT(size, 0u);
        EXPECT_EQ(text[size - 1], '\0');
        std::string out(text, size - 1);
        SVX_mem_free_lock(text);
        return out;
    }
    // The lines after the one that starts with `marker`.
    static std::string from(const std::string& text, const std::string& marker) {
        const size_t at = text.find(marker);
        return at == std::string::npos ? "" : text.substr(at);
    }
};

// A DT1 message to `address` with `data`, its checksum, and F7 unless cut.
Bytes dt1(std::initializer_list<uint8_t> address, std::initializer_list<uint8_t> data, bool closed = true) {
    Bytes body = {0x41, 0x10, 0x16, 0x12};
    body.insert(body.end(), address);
    body.insert(body.end(), data);
    int sum = 0;
    for (size_t i = 4; i < body.size(); ++i) sum += body[i];
    body.push_back(uint8_t((128 - sum % 128) % 128));
    if (closed) body.push_back(0xF7);
    Bytes event = {0x00, 0xF0};
    testing_support::put_vlq(event, uint32_t(body.size()));
    event.insert(event.end(), body.begin(), body.end());
    return event;
}

// One track: the event, then the end of the track.
Bytes cat_end(const Bytes& event) {
    Bytes e = event;
    e.insert(e.end(), {0x00, 0xFF, 0x2F, 0x00});
    return e;
}

Bytes fixture() {
    const Bytes conductor = {0x00, 0xFF, 0x03, 0x04, 'S', 'o', 'n', 'g', 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
                             0x00, 0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes track = {0x00, 0xC1, 0x13,                   // program change
                         0x00, 0xB1, 0x07, 0x64,             // main volume
                         0x00, 0x40, 0x7F,                   // running status: sustain on
                         0x00, 0xB1, 0x72, 0x02,             // patch bank select
                         0x60, 0x91, 0x3C, 0x50,             // note on
                         0x83, 0x00, 0x3C, 0x00,             // running status, velocity 0
                         0x00, 0x81, 0x3E, 0x40,             // note off
                         0x00, 0xE1, 0x00, 0x40,             // pitch wheel
                         0x00, 0xB1, 0x03, 0x05,             // undefined controller
                         0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7, // sysex, hex dump
                         0x00, 0xFF, 0x2F, 0x00};
    return midi_file({conductor, track});
}

TEST_F(MidiListing, ListsASmallFileAsTheStoredText) {
    std::ifstream in(std::string(TEST_DATA_DIR) + "/midi_listing.txt", std::ios::binary);
    const std::string expected{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(list(fixture()), expected);
}

TEST_F(MidiListing, DecodesAnMt32DataSetByItsParameterMap) {
    // Part 2's output level, then the first partial's pitch coarse of the
    // timbre in part 1, then two display characters.
    const Bytes events = [] {
        Bytes e;
        for (const Bytes& m : {dt1({0x03, 0x00, 0x18}, {100}), dt1({0x04, 0x00, 0x0E}, {36}),
                               dt1({0x20, 0x00, 0x00}, {'H', 'i'})})
            e.insert(e.end(), m.begin(), m.end());
        e.insert(e.end(), {0x00, 0xFF, 0x2F, 0x00});
        return e;
    }();
    const std::string text = list(midi_file({events}), SVX_LIST_ROLAND_SYSEX);
    EXPECT_NE(text.find("           Manufacturer ID = $41\r\n           Device ID = $10\r\n           Model ID = $16\r\n"
                        "           Command = $12 DT1\r\n"
                        "           Address $03 $00 $18: Patch Temporary Area (part 2), OUTPUT LEVEL = 100\r\n"
                        "           Checksum = $01\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Address $04 $00 $0E: Timbre Temporary Area (part 1), (Partial #1) WG PITCH COARSE = 36"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Address $20 $00 $00: Display, MT-32 LCD Display (character 1) 'H'\r\n"
                        "           Address $20 $00 $01: Display, MT-32 LCD Display (character 2) 'i'"),
              std::string::npos)
        << text;
}

TEST_F(MidiListing, AddressesCarryInSevenBitsAcrossAreas) {
    // Timbre part 1 ends at $04 $01 $75: the next byte is part 2's name.
    const std::string text = list(midi_file({cat_end(dt1({0x04, 0x01, 0x75}, {1, 'A'}))}), SVX_LIST_ROLAND_SYSEX);
    EXPECT_NE(text.find("Address $04 $01 $75: Timbre Temporary Area (part 1), (Partial #4) TVA ENV SUSTAIN LEVEL = 1"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Address $04 $01 $76: Timbre Temporary Area (part 2), TIMBRE NAME 1 'A'"), std::string::npos)
        << text;
}

TEST_F(MidiListing, MessagesItCannotDecodeSaySo) {
    struct Case {
        const char* name;
        Bytes event;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"missing F7", dt1({0x10, 0x00, 0x01}, {3}, false), "\r\nWARNING: Missing $F7 EOX terminator\r\n"},
        {"undocumented address", dt1({0x03, 0x01, 0x00}, {3}), "Address $03 $01 $00: (Undocumented address -- cannot parse message)"},
        {"reset", dt1({0x7F, 0x00, 0x00}, {0}), "Address $7F $00 $00: All parameters reset"},
        {"other maker", {0x00, 0xF0, 0x03, 0x43, 0x10, 0xF7}, "type $F0\r\n\r\n           (Hex dump not displayed.)"},
        {"other device", {0x00, 0xF0, 0x05, 0x41, 0x10, 0x42, 0x12, 0xF7}, "           Unrecognized manufacturer/device code"},
        {"data set without data", {0x00, 0xF0, 0x06, 0x41, 0x10, 0x16, 0x12, 0x00, 0xF7}, "Command = $12 DT1\r\n           Unrecognized message format"},
        {"unknown command", {0x00, 0xF0, 0x05, 0x41, 0x10, 0x16, 0x33, 0xF7}, "Command = $33 (Unknown or invalid command ID)"},
    };
    for (const Case& c : cases) {
        const std::string text = list(midi_file({cat_end(c.event)}), SVX_LIST_ROLAND_SYSEX);
        EXPECT_NE(text.find(c.text), std::string::npos) << c.name << "\n" << text;
    }
}

TEST_F(MidiListing, ALongTextEventIsPrintedWhole) {
    const std::string lyric(1000, 'x');
    Bytes event = {0x00, 0xFF, 0x05};
    testing_support::put_vlq(event, uint32_t(lyric.size()));
    event.insert(event.end(), lyric.begin(), lyric.end());
    EXPECT_NE(list(midi_file({cat_end(event)})).find("meta-event: lyric \"" + lyric + "\"\r\n"), std::string::npos);
}

TEST_F(MidiListing, PrintsTheMapFullOrByAreas) {
    const Bytes midi = midi_file({{0x00, 0xFF, 0x2F, 0x00}});
    const std::string full = list(midi, SVX_LIST_MT32_MAP);
    const std::string compact = list(midi, SVX_LIST_MT32_AREAS);
    for (const std::string* text : {&full, &compact}) {
        EXPECT_NE(text->find("Roland MT-32 / LAPC-1 Programmer's Reference Guide\r\n"), std::string::npos);
        EXPECT_NE(text->find("Patch Temporary Area (part 8) ........................ 03 00 70 (003 000 112)\r\n"),
                  std::string::npos);
        EXPECT_NE(text->find("Timbre Memory (#64) .................................. 08 7E 00 (008 126 000)\r\n"),
                  std::string::npos);
    }
    EXPECT_NE(full.find("    PARTIAL RESERVE (Part 1) ......................... 10 00 04 (016 000 004)\r\n"),
              std::string::npos);
    EXPECT_NE(full.find("    (Unused -- timbre offset $F6) .................... 08 01 76 (008 001 118)\r\n"),
              std::string::npos);
    EXPECT_EQ(compact.find("PARTIAL RESERVE"), std::string::npos);
}

TEST_F(MidiListing, RefusesAFileWithoutHeaderAndStaysInsideCutFiles) {
    char* text = reinterpret_cast<char*>(1);
    uint32_t size = 1;
    const Bytes none = {'R', 'I', 'F', 'F'};
    EXPECT_EQ(SVX_list_MIDI(none.data(), uint32_t(none.size()), &text, &size, 0), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a standard MIDI file!");
    EXPECT_EQ(text, nullptr);

    // Every prefix of the fixture lists without reading past it.
    const Bytes whole = fixture();
    for (size_t n = 4; n <= whole.size(); ++n) {
        const std::string t = list(Bytes(whole.begin(), whole.begin() + long(n)), SVX_LIST_ROLAND_SYSEX);
        EXPECT_EQ(t.rfind("MIDI Listing - Version 4.0g", 0), 0u) << n;
    }
    // An event longer than its track, and a header in lower case.
    Bytes lying = midi_file({{0x00, 0xF0, 0x7F, 0x01}});
    lying[0] = 'm';
    lying[1] = 't';
    lying[2] = 'h';
    lying[3] = 'd';
    EXPECT_NE(list(lying).find("(event cut off by the end of the track)"), std::string::npos);
}

}  // namespace
