// DLS Level 1 collections as the synthesizer plays them: the pool of waves,
// the instruments with their regions and articulation values. The parser
// checks every size and offset against the image; a collection that lies
// about either is refused whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace svx::dls {

// Engine result codes.
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kAlreadyOpen = 3;
inline constexpr int32_t kBadHandle = 5;
inline constexpr int32_t kOutOfMemory = 8;
inline constexpr int32_t kReadError = 9;
inline constexpr int32_t kCannotOpen = 10;
inline constexpr int32_t kNotDls = 11;
inline constexpr int32_t kNotSupported = 15;
inline constexpr int32_t kNotOpen = 17;

// "Absent" for articulation values: absolute zero.
inline constexpr int32_t kAbsent = INT32_MIN;

// The 29 connections of Level 1, in the standard's order.
enum Connection : int {
    kLfoFrequency, kLfoDelay, kLfoToAttenuation, kLfoToPitch, kModToLfoAttenuation,
    kModToLfoPitch, kEg1Attack, kEg1Decay, kEg1Sustain, kEg1Release, kEg1VelocityToAttack,
    kEg1KeyToDecay, kEg2Attack, kEg2Decay, kEg2Sustain, kEg2Release, kEg2VelocityToAttack,
    kEg2KeyToDecay, kDefaultPan, kEg1ToAttenuation, kEg2ToPitch, kVelocityToAttenuation,
    kWheelToPitch, kKeyToPitch, kCc7ToAttenuation, kCc10ToPan, kCc11ToAttenuation,
    kRpn1ToPitch, kRpn2ToPitch, kConnectionCount
};

struct Connector {
    uint16_t source, control, destination, transform;
};
extern const std::array<Connector, kConnectionCount> kConnectors;
extern const std::array<int32_t, kConnectionCount> kDefaultArticulation;

using Articulation = std::array<int32_t, kConnectionCount>;

struct Loop {
    uint32_t type = 0;
    uint32_t start = 0;   // frames
    uint32_t length = 0;  // frames
};

// A "wsmp" block: unity note, fine tune, attenuation (1/655360 dB),
// options, loop count and the first loop.
struct SampleParams {
    bool present = false;
    uint16_t unity_note = 60;
    int16_t fine_tune = 0;
    int32_t attenuation = 0;
    uint32_t options = 0;
    uint32_t loop_count = 0;
    Loop loop;
};

struct Wave {
    bool loaded = false;
    int format = 0;  // 0 8-bit mono, 1 16-bit mono, 2 8-bit stereo, 3 16-bit stereo
    double rate = 0;
    const uint8_t* data = nullptr;
    uint32_t size = 0;  // bytes
    SampleParams sample;

    uint32_t frame_bytes() const { return uint32_t((format & 1) ? 2 : 1) * ((format & 2) ? 2 : 1); }
    uint32_t frames() const { return size / frame_bytes(); }
};

struct Region {
    uint16_t key_low = 0, key_high = 127;
    uint16_t velocity_low = 0, velocity_high = 127;
    uint16_t options = 0;  // bit 0: not self-exclusive
    uint16_t key_group = 0;
    SampleParams sample;  // the region's own, else the wave's, else defaults
    uint16_t link_options = 0;
    uint16_t phase_group = 0;
    uint32_t channel = 0;
    uint32_t table_index = 0;
    Articulation articulation{};
};

inline constexpr uint32_t kDrumBank = 0x80000000u;

struct Instrument {
    uint32_t collection = 0;
    uint32_t bank = 0;  // bit 31 drum kit, low 14 bits MSB * 128 + LSB
    uint32_t patch = 0;
    std::vector<Region> regions;
    bool has_articulation = false;

    bool drum() const { return (bank & kDrumBank) != 0; }
    uint32_t bank_number() const { return bank & 0x3FFF; }
};

struct Collection {
    uint32_t id = 0;
    std::string name;
    const uint8_t* image = nullptr;
    size_t size = 0;
    bool owned = false;  // freed at unload
    uint32_t instrument_count = 0;  // "colh"
    uint32_t pool_header = 0;
    std::vector<uint32_t> pool;  // offsets into the "wvpl" data
    std::vector<Wave> waves;
    std::vector<Instrument> instruments;

    // The wave a region plays, or null when it is missing or not loaded.
    const Wave* wave_of(const Region& r) const {
        return r.table_index < waves.size() && waves[r.table_index].loaded
                   ? &waves[r.table_index]
                   : nullptr;
    }
};

// Parses `size` bytes at `image` into `out` (whose id and name are kept).
// kOk, kNotDls for anything that is no collection or lies about its sizes,
// kOutOfMemory. Waves point into the image, which must outlive `out`.
int32_t parse_collection(const uint8_t* image, size_t size, Collection& out);

// The bytes of a caller's RIFF image that may be read: its RIFF length,
// never past the library block it lies in. 0 (with "Not a DLS file." set)
// when it is no RIFF at all.
size_t riff_extent(const void* image);

}  // namespace svx::dls
