#include "midi/mt32map.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace svx::midi::mt32 {
namespace {

constexpr const char* kPatch[] = {
    "TIMBRE GROUP", "TIMBRE NUMBER", "KEY SHIFT", "FINE TUNE", "BENDER RANGE", "ASSIGN MODE",
    "REVERB SWITCH", "(Dummy)", "OUTPUT LEVEL", "PANPOT", "(Dummy)", "(Dummy)", "(Dummy)",
    "(Dummy)", "(Dummy)", "(Dummy)"};

constexpr const char* kRhythm[] = {"TIMBRE", "OUTPUT LEVEL", "PANPOT", "REVERB SWITCH"};

constexpr const char* kPatchMemory[] = {
    "TIMBRE GROUP", "TIMBRE NUMBER", "KEY SHIFT", "FINE TUNE", "BENDER RANGE", "ASSIGN MODE",
    "REVERB SWITCH", "(Dummy)"};

// The common part of a timbre, then four partials of 58 parameters, then
// the spare offsets of a timbre memory slot.
constexpr const char* kTimbreCommon[] = {
    "TIMBRE NAME 1", "TIMBRE NAME 2", "TIMBRE NAME 3", "TIMBRE NAME 4", "TIMBRE NAME 5",
    "TIMBRE NAME 6", "TIMBRE NAME 7", "TIMBRE NAME 8", "TIMBRE NAME 9", "TIMBRE NAME 10",
    "STRUCTURE No. 1 & 2", "STRUCTURE No. 3 & 4", "PARTIAL MUTE", "ENV MODE"};

constexpr const char* kPartial[] = {
    "WG PITCH COARSE", "WG PITCH FINE", "WG PITCH KEYFOLLOW", "WG PITCH BENDER SW",
    "WG WAVEFORM/PCM BANK", "WG PCM WAVE No.", "WG PULSE WIDTH", "WG PW VELO SENS",
    "P-ENV DEPTH", "P-ENV VELO SENS", "P-ENV TIME KEYF", "P-ENV TIME 1", "P-ENV TIME 2",
    "P-ENV TIME 3", "P-ENV TIME 4", "P-ENV LEVEL 0", "P-ENV LEVEL 1", "P-ENV LEVEL 2",
    "P-ENV SUSTAIN LEVEL", "END LEVEL", "P-LFO RATE", "P-LFO DEPTH", "P-LFO MOD SENS",
    "TVF CUTOFF FREQ", "TVF RESONANCE", "TVF KEYFOLLOW", "TVF BIAS POINT/DIR", "TVF BIAS LEVEL",
    "TVF ENV DEPTH", "TVF ENV VELO SENS", "TVF ENV DEPTH KEYF", "TVF ENV TIME KEYF",
    "TVF ENV TIME 1", "TVF ENV TIME 2", "TVF ENV TIME 3", "TVF ENV TIME 4", "TVF ENV TIME 5",
    "TVF ENV LEVEL 1", "TVF ENV LEVEL 2", "TVF ENV LEVEL 3", "TVF ENV SUSTAIN LEVEL",
    "TVA LEVEL", "TVA VELO SENS", "TVA BIAS POINT 1", "TVA BIAS LEVEL 1", "TVA BIAS POINT 2",
    "TVA BIAS LEVEL 2", "TVA ENV TIME KEYF", "TVA ENV TIME V FOLLOW", "TVA ENV TIME 1",
    "TVA ENV TIME 2", "TVA ENV TIME 3", "TVA ENV TIME 4", "TVA ENV TIME 5", "TVA ENV LEVEL 1",
    "TVA ENV LEVEL 2", "TVA ENV LEVEL 3", "TVA ENV SUSTAIN LEVEL"};

constexpr const char* kTimbreSpare[] = {
    "(Unused -- timbre offset $F6)", "(Unused -- timbre offset $F7)",
    "(Unused -- timbre offset $F8)", "(Unused -- timbre offset $F9)",
    "(Unused -- timbre offset $FA)", "(Unused -- timbre offset $FB)",
    "(Unused -- timbre offset $FC)", "(Unused -- timbre offset $FD)",
    "(Unused -- timbre offset $FE)", "(Unused -- timbre offset $FF)"};

constexpr const char* kSystem[] = {
    "MASTER TUNE", "REVERB MODE", "REVERB TIME", "REVERB LEVEL",
    "PARTIAL RESERVE (Part 1)", "PARTIAL RESERVE (Part 2)", "PARTIAL RESERVE (Part 3)",
    "PARTIAL RESERVE (Part 4)", "PARTIAL RESERVE (Part 5)", "PARTIAL RESERVE (Part 6)",
    "PARTIAL RESERVE (Part 7)", "PARTIAL RESERVE (Part 8)", "PARTIAL RESERVE (Rhythm)",
    "MIDI CHANNEL (Part 1)", "MIDI CHANNEL (Part 2)", "MIDI CHANNEL (Part 3)",
    "MIDI CHANNEL (Part 4)", "MIDI CHANNEL (Part 5)", "MIDI CHANNEL (Part 6)",
    "MIDI CHANNEL (Part 7)", "MIDI CHANNEL (Part 8)", "MIDI CHANNEL (Rhythm)", "MASTER VOLUME"};

constexpr const char* kDisplay[] = {"MT-32 LCD Display (character %u)"};

constexpr const char* kWrite[] = {"Write request"};

constexpr const char* kReset[] = {"All parameters reset"};

constexpr int kTimbreSize = 14 + 4 * 58;  // 246
constexpr int kTimbreSlot = 256;

// Timbre parameters are named by `timbre_name`; their table is left empty.
constexpr Area kAreas[] = {
    {"Patch Temporary Area (part %u)", {0x03, 0x00, 0x00}, 8, 16, 1, kPatch, int(std::size(kPatch))},
    {"Rhythm Setup Temporary Area (key %u)", {0x03, 0x01, 0x10}, 64, 4, 24, kRhythm, int(std::size(kRhythm))},
    {"Timbre Temporary Area (part %u)", {0x04, 0x00, 0x00}, 8, kTimbreSize, 1, nullptr, kTimbreSize},
    {"Patch Memory (#%u)", {0x05, 0x00, 0x00}, 128, 8, 1, kPatchMemory, int(std::size(kPatchMemory))},
    {"Timbre Memory (#%u)", {0x08, 0x00, 0x00}, 64, kTimbreSlot, 1, nullptr, kTimbreSlot},
    {"System Area", {0x10, 0x00, 0x00}, 1, int(std::size(kSystem)), 1, kSystem, int(std::size(kSystem))},
    {"Display", {0x20, 0x00, 0x00}, 20, 1, 1, kDisplay, 1},
    {"Write Request", {0x40, 0x00, 0x00}, 1, 1, 1, kWrite, 1},
    {"All Parameters Reset", {0x7F, 0x00, 0x00}, 1, 1, 1, kReset, 1},
};

std::string timbre_name(int offset) {
    if (offset < 14) return kTimbreCommon[offset];
    if (offset >= kTimbreSize) return kTimbreSpare[offset - kTimbreSize];
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "(Partial #%d) ", (offset - 14) / 58 + 1);
    return std::string(prefix) + kPartial[(offset - 14) % 58];
}

}  // namespace

const Area* areas() { return kAreas; }
int area_count() { return int(std::size(kAreas)); }

bool find(const uint8_t address[3], Found& found) {
    const int32_t at = linear(address);
    for (const Area& area : kAreas) {
        const int32_t offset = at - linear(area.base);
        if (offset < 0 || offset >= area.repeat * area.stride) continue;
        const int index = offset / area.stride;
        const int within = offset % area.stride;
        found.area = &area;
        found.number = index + area.first_number;
        if (!area.params) {
            found.name = timbre_name(within);
        } else {
            if (within >= area.param_count) return false;
            char name[96];
            std::snprintf(name, sizeof name, area.params[within], unsigned(found.number));
            found.name = name;
        }
        found.characters = found.name.find("NAME") != std::string::npos ||
                           found.name.find("Display") != std::string::npos;
        found.reset = area.params == kReset;
        return true;
    }
    return false;
}

}  // namespace svx::midi::mt32
