// svxdls as a user runs it: a collection listed, compressed and expanded
// back, and a reason with a non-zero status for every bad command line or
// file.
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
#include "sound/dls_fixture.h"

namespace {

namespace fs = std::filesystem;
namespace fx = dls_fixture;

using testing_support::Outcome;
using testing_support::quoted;
using testing_support::slurp;

class Svxdls : public ::testing::Test {
protected:
    Outcome run(const std::string& args) {
        return testing_support::run_tool(dir_.path(), SVXDLS, args);
    }
    void write(const char* name, const fx::Bytes& bytes) {
        std::ofstream(dir_.path() / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    testing_support::ScratchDir dir_;
};

fx::Bytes collection() {
    fx::Collection c;
    fx::Wave w;
    for (int i = 0; i < 500; ++i) w.data.push_back(uint8_t(128 + (i * 37) % 90));
    w.bits = 8;
    c.waves = {w};
    c.instruments.push_back(fx::Instrument(0, 3, {fx::Region(0, 127, 0)}, {{0, 0, 0x206, 0, 0}}));
    return fx::build(c);
}

TEST_F(Svxdls, ListsCompressesAndExpands) {
    write("a.dls", collection());
    const Outcome list = run("list a.dls");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\nBank 0 (0:0), patch 3: Melodic instrument, 1 region(s)\n"), std::string::npos)
        << list.out;
    EXPECT_EQ(list.out.find('\r'), std::string::npos);
    EXPECT_EQ(list.out.find("CONN_DST"), std::string::npos);
    EXPECT_NE(run("list --articulation --crlf a.dls").out.find("CONN_DST_EG1_ATTACKTIME TRN_NONE = 1000.00 ms\r\n"),
              std::string::npos);

    ASSERT_EQ(run("compress a.dls a.mls").status, 0);
    const std::string mls = slurp(dir_.path() / "a.mls");
    ASSERT_GE(mls.size(), 12u);
    EXPECT_EQ(mls.substr(8, 4), "MLS ");
    ASSERT_EQ(run("expand a.mls b.dls").status, 0);
    const std::string dls = slurp(dir_.path() / "b.dls");
    ASSERT_GE(dls.size(), 12u);
    EXPECT_EQ(dls.substr(8, 4), "DLS ");
    EXPECT_EQ(run("list b.dls").out, list.out);
}

TEST_F(Svxdls, EveryFailureHasAReasonAndAStatus) {
    write("a.dls", collection());
    write("junk.bin", fx::Bytes(40, 'j'));
    fx::Bytes cut = collection();
    cut.resize(cut.size() / 2);  // its RIFF header promises more than the file holds
    write("cut.dls", cut);
    struct Case {
        std::string args;
        int status;
        std::string err_start;
    };
    const std::vector<Case> cases = {
        {"", 2, "svxdls: no command given\nusage: svxdls"},
        {"play a.dls", 2, "svxdls: unknown command play\n"},
        {"list", 2, "svxdls: list takes one file\n"},
        {"compress a.dls", 2, "svxdls: compress takes two files\n"},
        {"--fast list a.dls", 2, "svxdls: unknown option --fast\n"},
        {"compress --crlf a.dls b", 2, "svxdls: --articulation and --crlf are for list\n"},
        {"list missing.dls", 1, "svxdls: missing.dls: Unable to open file.\n"},
        {"list junk.bin", 1, "svxdls: junk.bin: Not a DLS file.\n"},
        {"list cut.dls", 1, "svxdls: cut.dls: Not a DLS file.\n"},
        {"compress junk.bin x", 1, "svxdls: junk.bin: Not a DLS file.\n"},
        {"expand a.dls x", 1, "svxdls: a.dls: Not a compressed DLS file.\n"},
        {"compress a.dls no/such/dir/x", 1, "svxdls: no/such/dir/x: Unable to create file.\n"},
        {"list .", 1, "svxdls: .: is a folder, not a file\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, c.status) << c.args;
        EXPECT_EQ(o.err.substr(0, c.err_start.size()), c.err_start) << c.args;
    }
    const Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: ", 0), 0u);
    EXPECT_EQ(help.err, "");
}

}  // namespace
