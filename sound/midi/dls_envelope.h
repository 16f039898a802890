// Envelope generators and the LFO, advanced once per render call (a tick),
// and the unit conversions of articulation values.
#pragma once

#include <cstdint>

namespace svx::dls {

// Timecents (x 65536) as ticks of `tick_us` microseconds; absent is 0.
double ticks_of_timecents(int32_t value, double tick_us);
// An articulation value in 1/655360 dB; absent is 0.
double decibels_of(int32_t value);
// In 1/65536 cents (or other plain units); absent is 0.
double units_of(int32_t value);
// LFO frequency in Hz of its articulation value.
double lfo_hertz(int32_t value);
// Gain of an attenuation: 2047 / 10^(dB / 20), 2047 at or below 0 dB.
int32_t gain_of(double decibels);
// 20 log10(16129 / value^2): velocity and controller 7/11 attenuation.
double square_law_decibels(int value);

// Level 0 (silent, or no pitch change) to 1 (full), linear in the units it
// drives: decibels of attenuation for the volume EG, cents for the pitch EG.
struct Envelope {
    enum State { attack, decay, sustain, release, done };
    State state = attack;
    double level = 0;
    double sustain_level = 1;
    double attack_step = 1, decay_step = 1, release_step = 1;  // level per tick

    // `attack_ticks` etc. from the articulation; 0 ticks is immediate.
    void start(double attack_ticks, double decay_ticks, double sustain, double release_ticks);
    void release_now() {
        if (state != done) state = release;
    }
    void advance();
};

struct Lfo {
    double phase = 0, step = 0;  // radians
    double delay = 0;            // ticks left before it moves
    void start(double hertz, double delay_ticks, double tick_us);
    double value() const;  // -1 .. 1
    void advance();
};

}  // namespace svx::dls
