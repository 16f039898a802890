// The DLS parser on collections another implementation wrote: libgig writes
// them (dls_oracle_writer) and its dlsdump says what they hold. Our parser
// must find the same instruments, regions and waves; what dlsdump does not
// print is checked against the writer's tables.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "midi/dls_collection.h"
#include "dls_oracle_specs.h"

namespace {

using namespace svx::dls;
namespace fs = std::filesystem;
using dls_oracle::CollectionSpec;

struct DumpRegion {
    std::string sample;
    unsigned rate, key_low, key_high, vel_low, vel_high, loops;
};
struct DumpInstrument {
    unsigned bank, program;
    std::vector<DumpRegion> regions;
};
struct DumpSample {
    std::string name;
    unsigned rate, channels;
};
struct Dump {
    std::vector<DumpSample> samples;
    std::vector<DumpInstrument> instruments;
};

std::string run(const std::string& command, int& status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    status = pclose(p);
    return out;
}

// dlsdump's listing: samples, then instruments with their regions and
// each region's loop count.
Dump parse_dump(const std::string& text) {
    static const std::regex sample(R"re(^\s+Sample \d+\) "([^"]*)", (\d+)Hz, (\d+) Channels$)re");
    static const std::regex instrument(R"re(^\s+Instrument \d+\) "[^"]*",\s+MIDIBank=(\d+), MIDIProgram=(\d+)$)re");
    static const std::regex region(
        R"re(^\s+Region \d+\) Sample: "([^"]*)", (\d+)Hz, KeyRange=(\d+)-(\d+), VelocityRange=(\d+)-(\d+), Layer=\d+$)re");
    static const std::regex loops(R"re(^\s+Loops=(\d+)$)re");
    Dump d;
    std::istringstream in(text);
    bool in_instruments = false;
    auto u = [](const std::ssub_match& m) { return unsigned(std::stoul(m.str())); };
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (line.rfind("Available Instruments", 0) == 0) in_instruments = true;
        if (!in_instruments && std::regex_match(line, m, sample)) {
            d.samples.push_back({m[1].str(), u(m[2]), u(m[3])});
        } else if (std::regex_match(line, m, instrument)) {
            d.instruments.push_back({u(m[1]), u(m[2]), {}});
        } else if (std::regex_match(line, m, region) && !d.instruments.empty()) {
            d.instruments.back().regions.push_back({m[1].str(), u(m[2]), u(m[3]), u(m[4]), u(m[5]), u(m[6]), 0});
        } else if (std::regex_match(line, m, loops) && !d.instruments.empty() &&
                   !d.instruments.back().regions.empty()) {
            d.instruments.back().regions.back().loops = u(m[1]);
        }
    }
    return d;
}

class DlsOracle : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dls_oracle_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        int status = 0;
        // libgig is not built with the sanitizers; its own leaks are not ours.
        const std::string out = run("ASAN_OPTIONS=detect_leaks=0 '" DLS_ORACLE_WRITER "' '" + dir_ + "' 2>&1", status);
        ASSERT_EQ(status, 0) << out;
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }
    std::string dir_;
};

TEST_F(DlsOracle, ParserAgreesWithDlsdumpOnEveryCollection) {
    for (const CollectionSpec& spec : dls_oracle::collections()) {
        SCOPED_TRACE(spec.file);
        const std::string path = dir_ + "/" + spec.file;
        int status = 0;
        const std::string text = run("dlsdump '" + path + "' 2>&1", status);
        ASSERT_EQ(status, 0) << text;
        const Dump dump = parse_dump(text);
        ASSERT_EQ(dump.samples.size(), spec.waves.size()) << text;
        ASSERT_EQ(dump.instruments.size(), spec.instruments.size()) << text;

        std::ifstream file(path, std::ios::binary);
        const std::vector<uint8_t> image{std::istreambuf_iterator<char>(file), {}};
        Collection c;
        ASSERT_EQ(parse_collection(image.data(), image.size(), c), kOk);

        // Waves, in pool order: dlsdump lists them in the same order.
        ASSERT_EQ(c.waves.size(), dump.samples.size());
        std::map<std::string, uint32_t> index_of;
        for (size_t w = 0; w < c.waves.size(); ++w) {
            SCOPED_TRACE("wave " + std::to_string(w));
            const Wave& ours = c.waves[w];
            const dls_oracle::WaveSpec& written = spec.waves[w];
            index_of[dump.samples[w].name] = uint32_t(w);
            ASSERT_TRUE(ours.loaded);
            EXPECT_EQ(ours.rate, double(dump.samples[w].rate));
            EXPECT_EQ((ours.format & 2) ? 2u : 1u, dump.samples[w].channels);
            EXPECT_EQ((ours.format & 1) ? 16 : 8, written.bits);
            EXPECT_EQ(ours.frames(), written.frames);
        }

        EXPECT_EQ(c.instrument_count, dump.instruments.size());
        ASSERT_EQ(c.instruments.size(), dump.instruments.size());
        for (size_t i = 0; i < c.instruments.size(); ++i) {
            SCOPED_TRACE("instrument " + std::to_string(i));
            const Instrument& ours = c.instruments[i];
            const DumpInstrument& theirs = dump.instruments[i];
            const dls_oracle::InstrumentSpec& written = spec.instruments[i];
            EXPECT_EQ(ours.bank_number(), theirs.bank);
            EXPECT_EQ(ours.bank_number(), written.bank_coarse * 128u + written.bank_fine);
            EXPECT_EQ(ours.patch, theirs.program);
            EXPECT_EQ(ours.drum(), written.drum);
            ASSERT_EQ(ours.regions.size(), theirs.regions.size());
            for (size_t r = 0; r < ours.regions.size(); ++r) {
                SCOPED_TRACE("region " + std::to_string(r));
                const Region& g = ours.regions[r];
                const DumpRegion& d = theirs.regions[r];
                const dls_oracle::RegionSpec& w = written.regions[r];
                EXPECT_EQ(g.key_low, d.key_low);
                EXPECT_EQ(g.key_high, d.key_high);
                EXPECT_EQ(g.velocity_low, d.vel_low);
                EXPECT_EQ(g.velocity_high, d.vel_high);
                ASSERT_EQ(index_of.count(d.sample), 1u) << d.sample;
                EXPECT_EQ(g.table_index, index_of[d.sample]);
                const Wave* wave = c.wave_of(g);
                ASSERT_NE(wave, nullptr);
                EXPECT_EQ(wave->rate, double(d.rate));
                EXPECT_EQ(g.sample.loop_count, d.loops);
                EXPECT_EQ(g.sample.unity_note, w.unity);
                EXPECT_EQ(g.sample.fine_tune, w.fine);
                if (w.loop_length) {
                    EXPECT_EQ(g.sample.loop.start, w.loop_start);
                    EXPECT_EQ(g.sample.loop.length, w.loop_length);
                }
                EXPECT_EQ(g.key_group, w.key_group);
                EXPECT_EQ(g.options & 1, w.non_exclusive ? 1 : 0);
                // Drum kits' regions carry their own articulation, which
                // replaces the instrument's.
                if (written.drum) {
                    EXPECT_EQ(g.articulation[kEg1Release], dls_oracle::kRegionRelease);
                    EXPECT_EQ(g.articulation[kEg1Attack], kDefaultArticulation[kEg1Attack]);
                } else {
                    EXPECT_EQ(g.articulation[kEg1Attack], dls_oracle::kAttack + int32_t(i));
                    EXPECT_EQ(g.articulation[kCc10ToPan], dls_oracle::kPanScale);
                    EXPECT_EQ(g.articulation[kEg1Release], kDefaultArticulation[kEg1Release]);
                }
            }
        }
    }
}

}  // namespace
