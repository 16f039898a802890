// A driver record that was never opened: sample handles on it work as on
// an open one, and the test runs the mixing step itself, with no device
// and no background thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "digital/driver.h"
#include "digital/sample.h"
#include "digital_support.h"

namespace testing_support {

class FakeDriver : public DigitalLibrary {
protected:
    void SetUp() override {
        DigitalLibrary::SetUp();
        configure(22050, 1, 2);
        samples_.reset(new svx::digital::Sample[kSamples]);
        for (int i = 0; i < kSamples; ++i) {
            std::memcpy(samples_[i].tag, "HSAM", 4);
            samples_[i].driver = &driver_;
        }
        std::memcpy(driver_.tag, "HDIG", 4);
        driver_.samples = samples_.get();
        driver_.sample_count = kSamples;
    }

    void configure(int32_t rate, int32_t channels, int32_t bytes_per_sample) {
        driver_.rate = rate;
        driver_.channels = channels;
        driver_.bytes_per_sample = bytes_per_sample;
        driver_.signed_output = bytes_per_sample == 2;
        driver_.buffer_bytes = 2116;  // 96 ms at 22,050 Hz 8-bit mono
    }

    HDIGDRIVER handle() { return reinterpret_cast<HDIGDRIVER>(&driver_); }
    HSAMPLE allocate() { return SVX_allocate_sample_handle(handle()); }

    // One mixing step of the sample into a fresh build buffer of `count`
    // accumulators.
    std::vector<int32_t> mix(HSAMPLE sample, size_t count) {
        std::vector<int32_t> build(count, 0);
        svx::digital::mix_sample(*svx::digital::sample_of(sample), driver_,
                                 {build.data(), uint32_t(count * 4)});
        return build;
    }

    // Steps until the sample stops playing (or `limit` steps), all output
    // in a row.
    std::vector<int32_t> mix_to_end(HSAMPLE sample, size_t count, int limit = 1000) {
        std::vector<int32_t> all;
        for (int i = 0; i < limit && SVX_sample_status(sample) == SVX_PLAYING; ++i) {
            std::vector<int32_t> part = mix(sample, count);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

    static constexpr int kSamples = 4;
    svx::digital::DigitalDriver driver_;
    std::unique_ptr<svx::digital::Sample[]> samples_;
};

}  // namespace testing_support
