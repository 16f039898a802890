// CUE sheets are untrusted: what they say must fit the images they name.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "../../win32/multimedia/cue_sheet.h"

namespace {

using win32::mm::CueSheet;
using win32::mm::kRawSectorBytes;
using win32::mm::parse_cue;

// Two images: 100 sectors and 10 sectors and a half.
bool sizes(const std::string& name, uint64_t& bytes) {
    static const std::map<std::string, uint64_t> files = {
        {"a.bin", 100 * kRawSectorBytes}, {"b b.bin", 10 * kRawSectorBytes + kRawSectorBytes / 2}};
    auto it = files.find(name);
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
}

bool parse(const std::string& text, CueSheet& sheet, std::string& why) {
    return parse_cue(text.data(), text.size(), sizes, sheet, why);
}

TEST(CueSheet, TracksLieWhereTheSheetSays) {
    CueSheet sheet;
    std::string why;
    ASSERT_TRUE(parse("\xEF\xBB\xBF" "CATALOG 0000000000000\n"
                      "FILE a.bin BINARY\n"
                      " TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n"
                      " TRACK 02 AUDIO\n  PREGAP 00:02:00\n  INDEX 00 00:00:30\n  INDEX 01 00:00:40\n"
                      "FILE \"b b.bin\" BINARY\n"
                      " track 03 audio\n  index 01 00:00:02\n",
                      sheet, why))
        << why;
    ASSERT_EQ(sheet.tracks.size(), 3u);
    EXPECT_FALSE(sheet.tracks[0].audio);
    EXPECT_EQ(sheet.tracks[0].sectors, 40u);  // up to track 2's INDEX 01: the pregap is its tail
    EXPECT_EQ(sheet.tracks[1].offset, 40u * kRawSectorBytes);
    EXPECT_EQ(sheet.tracks[1].sectors, 60u);
    EXPECT_EQ(sheet.tracks[2].file, 1u);
    EXPECT_EQ(sheet.tracks[2].offset, 2u * kRawSectorBytes);
    EXPECT_EQ(sheet.tracks[2].sectors, 8u);  // the half sector at the end is not a sector
    EXPECT_EQ(sheet.files[1], "b b.bin");
}

TEST(CueSheet, WhatCannotBeSoIsRefused) {
    const std::string head = "FILE a.bin BINARY\nTRACK 01 AUDIO\n";
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"no track", "FILE a.bin BINARY\n"},
        {"a missing file", "FILE gone.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"},
        {"a time past the image", head + "INDEX 01 00:01:25\n"},
        {"the last sector only half there", "FILE \"b b.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:10\n"},
        {"a huge index time", head + "INDEX 01 99999999:00:00\n"},
        {"seconds past 59", head + "INDEX 01 00:60:00\n"},
        {"frames past 74", head + "INDEX 01 00:00:75\n"},
        {"a huge index number", head + "INDEX 4294967297 00:00:00\n"},
        {"a signed time", head + "INDEX 01 -1:00:00\n"},
        {"no INDEX 01", head + "INDEX 00 00:00:00\n"},
        {"a second INDEX 01", head + "INDEX 01 00:00:00\nINDEX 01 00:00:01\n"},
        {"a track with no INDEX 01 before the next",
         head + "INDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:10\n"},
        {"tracks out of order", head + "INDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:00:10\n"},
        {"track 0", "FILE a.bin BINARY\nTRACK 00 AUDIO\nINDEX 01 00:00:00\n"},
        {"track 100", "FILE a.bin BINARY\nTRACK 100 AUDIO\nINDEX 01 00:00:00\n"},
        {"times going back", head + "INDEX 01 00:00:20\nTRACK 02 AUDIO\nINDEX 01 00:00:20\n"},
        {"TRACK before FILE", "TRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE a.bin BINARY\n"},
        {"INDEX before TRACK", "FILE a.bin BINARY\nINDEX 01 00:00:00\n"},
        {"an image of another kind", "FILE a.bin WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"},
        {"a track kind we cannot play", "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"},
        {"an open quote", "FILE \"a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"},
        {"a zero byte", head + std::string("INDEX 01 00:00:00\0\n", 19)},
        {"larger than a sheet", head + "INDEX 01 00:00:00\n" + std::string(2 << 20, ' ')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CueSheet sheet;
        std::string why;
        EXPECT_FALSE(parse(c.text, sheet, why));
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(sheet.tracks.empty());
    }
}

}  // namespace
