// The collections dls_oracle_writer writes with libgig, shared with the
// test that reads them back: what dlsdump does not print (the drum flag,
// bit depths, loop points, unity notes, key groups, articulation) is
// checked against these tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dls_oracle {

struct WaveSpec {
    uint16_t bits, channels;
    uint32_t rate, frames;
};
struct RegionSpec {
    uint16_t key_low, key_high, vel_low, vel_high;
    int wave;
    uint8_t unity;
    int16_t fine;
    uint32_t loop_start, loop_length;  // length 0: no loop
    uint16_t key_group;
    bool non_exclusive;
};
struct InstrumentSpec {
    bool drum;
    uint8_t bank_coarse, bank_fine;
    uint32_t program;
    std::vector<RegionSpec> regions;
};
struct CollectionSpec {
    std::string file;
    std::vector<WaveSpec> waves;
    std::vector<InstrumentSpec> instruments;
    // Top level reordered: wave pool first, the header last.
    bool reorder;
};

// Articulation the writer adds through the RIFF layer: every instrument
// gets an EG1 attack of this value plus its index and a CC10-to-pan
// scale; the regions of drum kits get their own EG1 release.
inline constexpr int32_t kAttack = -1200 * 65536;
inline constexpr int32_t kPanScale = 12345;
inline constexpr int32_t kRegionRelease = -600 * 65536;
// Instruments with an odd index have their "lart" first in the list.

inline std::vector<CollectionSpec> collections() {
    return {
        // Melodic: a bank with both selects, split keyboard, velocity
        // layers, a looped 16-bit wave and an unlooped 8-bit one.
        {"melodic.dls",
         {{16, 1, 22050, 400}, {8, 1, 11025, 301}, {16, 1, 44100, 64}},
         {{false, 1, 2, 5,
           {{0, 59, 0, 127, 0, 60, 0, 100, 250, 0, false},
            {60, 127, 0, 63, 1, 72, -7, 0, 0, 0, false},
            {60, 127, 64, 127, 2, 72, 12, 8, 56, 0, false}}},
          {false, 0, 0, 0, {{0, 127, 0, 127, 0, 60, 0, 0, 400, 0, false}}}},
         false},
        // Drums: a kit on bank 0 and one on another bank, key groups and a
        // region that is not self-exclusive.
        {"drums.dls",
         {{16, 1, 22050, 200}, {8, 1, 22050, 99}},
         {{true, 0, 0, 0,
           {{36, 36, 0, 127, 0, 36, 0, 0, 0, 1, false},
            {38, 38, 0, 127, 1, 38, 0, 0, 0, 1, true},
            {42, 46, 0, 127, 0, 44, 3, 10, 90, 2, false}}},
          {true, 0, 3, 25, {{35, 81, 0, 127, 1, 60, 0, 0, 0, 0, false}}}},
         false},
        // Both kinds in an unusual top-level order.
        {"mixed.dls",
         {{16, 1, 32000, 128}, {8, 1, 8000, 77}, {16, 1, 22050, 500}},
         {{false, 0, 0, 40, {{0, 127, 0, 127, 2, 67, 0, 100, 400, 0, false}}},
          {true, 0, 0, 8,
           {{0, 63, 0, 127, 1, 60, 0, 0, 0, 0, false}, {64, 127, 0, 127, 0, 64, 0, 4, 60, 5, false}}},
          {false, 127, 0, 121, {{20, 100, 10, 90, 0, 60, 50, 0, 128, 0, false}}}},
         true},
    };
}

}  // namespace dls_oracle
