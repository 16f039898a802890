// A digital driver record that was never opened, for the targets that mix
// or stream: the mixing step runs on it directly, with no device and no
// background thread.
#pragma once

#include <cstdlib>
#include <cstring>

#include "digital/driver.h"
#include "digital/sample.h"
#include "fuzz_support.h"
#include "sonvex.h"

namespace fuzz {

struct UnopenedOutput {
    static constexpr int kSamples = 4;
    svx::digital::DigitalDriver driver;
    svx::digital::Sample samples[kSamples];

    UnopenedOutput() {
        setenv("WIN32_AUDIO", "null", 1);
        scratch_drive();
        if (SVX_startup() != 1) std::abort();
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
        std::memcpy(driver.tag, "HDIG", 4);
        for (svx::digital::Sample& s : samples) {
            std::memcpy(s.tag, "HSAM", 4);
            s.driver = &driver;
        }
        driver.samples = samples;
        driver.sample_count = kSamples;
    }
    HDIGDRIVER handle() { return reinterpret_cast<HDIGDRIVER>(&driver); }
};

}  // namespace fuzz
