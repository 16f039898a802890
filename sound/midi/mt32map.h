// The parameter map of the MT-32 (and LAPC-1) as its programmer's
// reference publishes it: ten address areas with their base addresses,
// repeat counts and parameter names. Addresses are three 7-bit bytes.
#pragma once

#include <cstdint>
#include <string>

namespace svx::midi::mt32 {

struct Area {
    const char* title;  // may hold one %u: the repeat number, from 1
    uint8_t base[3];
    int repeat;
    int stride;  // address units from one repeat to the next
    int first_number;  // the number the first repeat is called by
    const char* const* params;  // one name per address unit; %u: the repeat number
    int param_count;
};

// The areas in address order.
const Area* areas();
int area_count();

// A 7-bit address as one number and back.
inline int32_t linear(const uint8_t a[3]) { return int32_t(a[0]) << 14 | int32_t(a[1]) << 7 | a[2]; }
inline void split(int32_t v, uint8_t out[3]) {
    out[0] = uint8_t((v >> 14) & 0x7F);
    out[1] = uint8_t((v >> 7) & 0x7F);
    out[2] = uint8_t(v & 0x7F);
}

// What lies at an address: the area, the repeat number and the
// parameter's name; false for an address outside the map.
struct Found {
    const Area* area = nullptr;
    int number = 0;
    std::string name;
    bool characters = false;  // its value is a character
    bool reset = false;       // the all-parameters-reset address
};
bool find(const uint8_t address[3], Found& found);

}  // namespace svx::midi::mt32
