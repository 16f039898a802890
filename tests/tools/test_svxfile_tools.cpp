// svxmidi2xmi, svxmidilist and svxtype as a user runs them: what they
// write, and a reason with a non-zero status for every bad command line
// or file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;

using testing_support::Outcome;
using testing_support::quoted;
using testing_support::slurp;

class FileTools : public ::testing::Test {
protected:
    Outcome run(const char* tool, const std::string& args) {
        return testing_support::run_tool(dir_.path(), tool, args);
    }
    void write(const char* name, const std::string& bytes) {
        std::ofstream(dir_.path() / name, std::ios::binary) << bytes;
    }
    testing_support::ScratchDir dir_;
};

// Note 60 for a quarter note at division 96 and 500,000 us: 60 ticks.
const std::string kMidi = std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0c", 22) +
                          std::string("\0\x90\x3c\x64\x60\x80\x3c\x40\0\xff\x2f\0", 12);

TEST_F(FileTools, ConvertsListsAndTellsTheType) {
    write("song.mid", kMidi);
    const Outcome convert = run(SVXMIDI2XMI, "song.mid song.xmi");
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(convert.err, "");
    const std::string xmi = slurp(dir_.path() / "song.xmi");
    ASSERT_GE(xmi.size(), 4u);
    EXPECT_EQ(xmi.substr(0, 4), "FORM");
    EXPECT_NE(xmi.find(std::string("EVNT\0\0\0\x08\x90\x3c\x64\x3c\x3c\xff\x2f\0", 16)), std::string::npos);

    const Outcome type = run(SVXTYPE, "song.mid song.xmi");
    EXPECT_EQ(type.status, 0) << type.err;
    EXPECT_EQ(type.out, "song.mid: Standard MIDI file\nsong.xmi: XMIDI\n");

    const Outcome list = run(SVXMIDILIST, "song.mid");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("    DTime 0096: Ch 01 note 060 off, release velocity 064\n"), std::string::npos)
        << list.out;
    EXPECT_EQ(list.out.find('\r'), std::string::npos);
    EXPECT_NE(run(SVXMIDILIST, "--crlf song.mid").out.find("quarter-note\r\n"), std::string::npos);
}

TEST_F(FileTools, SlowerServiceRateAndTolerance) {
    write("song.mid", kMidi);
    ASSERT_EQ(run(SVXMIDI2XMI, "--rate 60 song.mid slow.xmi").status, 0);
    EXPECT_NE(slurp(dir_.path() / "slow.xmi").find(std::string("\x90\x3c\x64\x1e\x1e\xff\x2f", 7)), std::string::npos);

    // A note left open: refused, or converted with a warning.
    write("open.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x08\0\x90\x3c\x64\0\xff\x2f\0", 30));
    const Outcome strict = run(SVXMIDI2XMI, "open.mid open.xmi");
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.err, "svxmidi2xmi: open.mid: Unpaired MIDI note-on event in file.\n");
    EXPECT_FALSE(fs::exists(dir_.path() / "open.xmi"));
    const Outcome tolerant = run(SVXMIDI2XMI, "--tolerant open.mid open.xmi");
    EXPECT_EQ(tolerant.status, 0);
    EXPECT_EQ(tolerant.err, "svxmidi2xmi: open.mid: warning: Unpaired MIDI note-on event in file.\n");
    EXPECT_TRUE(fs::exists(dir_.path() / "open.xmi"));
}

TEST_F(FileTools, EveryFailureHasAReasonAndAStatus) {
    write("song.mid", kMidi);
    write("junk.bin", "nothing of sound here");
    struct Case {
        const char* tool;
        std::string args;
        int status;
        std::string err_start;
    };
    const std::vector<Case> cases = {
        {SVXMIDI2XMI, "", 2, "svxmidi2xmi: no input file given\nusage: svxmidi2xmi"},
        {SVXMIDI2XMI, "song.mid", 2, "svxmidi2xmi: no output file given\nusage:"},
        {SVXMIDI2XMI, "a b c", 2, "svxmidi2xmi: one input and one output file\n"},
        {SVXMIDI2XMI, "--rate 0 song.mid x", 2, "svxmidi2xmi: --rate takes 1 to 1000, not \"0\"\n"},
        {SVXMIDI2XMI, "--rate", 2, "svxmidi2xmi: --rate needs a value\n"},
        {SVXMIDI2XMI, "--fast song.mid x", 2, "svxmidi2xmi: unknown option --fast\n"},
        {SVXMIDI2XMI, "missing.mid x", 1, "svxmidi2xmi: missing.mid: Unable to open file.\n"},
        {SVXMIDI2XMI, "junk.bin x", 1, "svxmidi2xmi: junk.bin: File not a standard MIDI file.\n"},
        {SVXMIDI2XMI, "song.mid no/such/dir/x.xmi", 1, "svxmidi2xmi: no/such/dir/x.xmi: Unable to create file.\n"},
        {SVXMIDI2XMI, ". x", 1, "svxmidi2xmi: .: is a folder, not a file\n"},
        {SVXMIDILIST, "", 2, "svxmidilist: no file given\nusage: svxmidilist"},
        {SVXMIDILIST, "a b", 2, "svxmidilist: one file at a time\n"},
        {SVXMIDILIST, "--x a", 2, "svxmidilist: unknown option --x\n"},
        {SVXMIDILIST, "junk.bin", 1, "svxmidilist: junk.bin: Not a standard MIDI file!\n"},
        {SVXMIDILIST, "missing.mid", 1, "svxmidilist: missing.mid: Unable to open file.\n"},
        {SVXTYPE, "", 2, "svxtype: no file given\nusage: svxtype"},
        {SVXTYPE, "-q song.mid", 2, "svxtype: unknown option -q\n"},
        {SVXTYPE, "song.mid missing.mid", 1, "svxtype: missing.mid: Unable to open file.\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = run(c.tool, c.args);
        EXPECT_EQ(o.status, c.status) << c.tool << " " << c.args;
        EXPECT_EQ(o.err.substr(0, c.err_start.size()), c.err_start) << c.tool << " " << c.args;
    }
    // The files that could be read are still told.
    EXPECT_EQ(run(SVXTYPE, "song.mid missing.mid junk.bin").out, "song.mid: Standard MIDI file\njunk.bin: unknown\n");
}

TEST_F(FileTools, HelpGoesToStandardOutput) {
    for (const char* tool : {SVXMIDI2XMI, SVXMIDILIST, SVXTYPE}) {
        const Outcome o = run(tool, "--help");
        EXPECT_EQ(o.status, 0) << tool;
        EXPECT_EQ(o.out.rfind("usage: ", 0), 0u) << tool;
        EXPECT_NE(o.out.find("Exit status"), std::string::npos) << tool;
        EXPECT_EQ(o.err, "") << tool;
    }
}

}  // namespace
