#include "midi/dls_envelope.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "midi/dls_collection.h"

namespace svx::dls {

double ticks_of_timecents(int32_t value, double tick_us) {
    if (value == kAbsent || tick_us <= 0) return 0;
    const double seconds = std::exp2(double(value) / (1200.0 * 65536.0));
    return std::min(seconds * 1e6 / tick_us, 1e9);
}

double decibels_of(int32_t value) { return value == kAbsent ? 0 : double(value) / 655360.0; }
double units_of(int32_t value) { return value == kAbsent ? 0 : double(value) / 65536.0; }

double lfo_hertz(int32_t value) {
    if (value == kAbsent) return 0;
    return 440.0 * std::exp2((double(value) / 65536.0 - 6900.0) / 1200.0);
}

int32_t gain_of(double decibels) {
    if (!(decibels > 0)) return 2047;
    if (decibels > 200) return 0;
    return int32_t(2047.0 / std::pow(10.0, decibels * 0.05));
}

double square_law_decibels(int value) {
    if (value <= 0) return 999;
    return 20.0 * std::log10(16129.0 / (double(value) * value));
}

void Envelope::start(double attack_ticks, double decay_ticks, double sustain, double release_ticks) {
    sustain_level = std::clamp(sustain, 0.0, 1.0);
    attack_step = attack_ticks >= 1 ? 1.0 / attack_ticks : 1.0;
    decay_step = decay_ticks >= 1 ? 1.0 / decay_ticks : 1.0;
    release_step = release_ticks >= 1 ? 1.0 / release_ticks : 1.0;
    state = attack;
    level = 0;
    advance();
}

void Envelope::advance() {
    switch (state) {
        case attack:
            level += attack_step;
            if (level >= 1) {
                level = 1;
                state = decay;
            }
            break;
        case decay:
            level -= decay_step;
            if (level <= sustain_level) {
                level = sustain_level;
                state = sustain;
            }
            break;
        case sustain: break;
        case release:
            level -= release_step;
            if (level <= 0) {
                level = 0;
                state = done;
            }
            break;
        case done: break;
    }
}

void Lfo::start(double hertz, double delay_ticks, double tick_us) {
    phase = 0;
    step = 2 * std::numbers::pi * hertz * tick_us / 1e6;
    delay = delay_ticks;
}

double Lfo::value() const { return delay > 0 ? 0 : std::sin(phase); }

void Lfo::advance() {
    if (delay > 0) {
        delay -= 1;
        return;
    }
    phase = std::fmod(phase + step, 2 * std::numbers::pi);
}

}  // namespace svx::dls
