// WAV and VOC images: the description SVX_WAV_info gives, a sample set
// from the image and mixed for a few output buffers with the loop, rate,
// volume and pan the input's hash picks, and a file sample that plays on
// through its VOC blocks to the end. The image lives in a library memory
// block, as a caller's file would, so the library knows where it ends.
// Every pick is taken in a statement of its own: the order in which a
// call's arguments are evaluated differs between compilers.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_output.h"
#include "sonvex.h"

namespace {

using namespace svx::digital;

using Output = fuzz::UnopenedOutput;

void mix_steps(Output& out, HSAMPLE s, int steps, uint32_t accumulators) {
    std::vector<int32_t> build(accumulators);
    for (int i = 0; i < steps && SVX_sample_status(s) == SVX_PLAYING; ++i) {
        std::fill(build.begin(), build.end(), 0);
        mix_sample(*sample_of(s), out.driver, {build.data(), uint32_t(build.size() * 4)});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Output out;
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);

    auto* image = static_cast<uint8_t*>(SVX_mem_alloc_lock(int32_t(size)));
    if (!image) return 0;
    std::memcpy(image, data, size);

    SoundFileInfo info{};
    if (SVX_WAV_info(image, &info)) {
        const auto* start = static_cast<const uint8_t*>(info.data);
        FUZZ_CHECK(start >= image + 12 && start <= image + size);
        FUZZ_CHECK(info.data_length <= size_t(image + size - start));
    }

    const int32_t rates[] = {8000, 11025, 22050, 44100};
    out.driver.rate = pick.one_of(rates);
    out.driver.channels = 1 + int32_t(pick.pick(2));
    out.driver.bytes_per_sample = 1 + int32_t(pick.pick(2));
    out.driver.signed_output = out.driver.bytes_per_sample == 2;
    out.driver.buffer_bytes = 2048;
    const int32_t marker = pick.chance(4) ? int32_t(pick.pick(4)) : -1;

    HSAMPLE s = SVX_allocate_sample_handle(out.handle());
    if (s && SVX_set_sample_file(s, image, marker)) {
        // A loop that holds less than one frame makes the mixing step spin
        // without output (an open fault of the mixer's loop handling), so
        // loops here are made only over data of 32 bytes or more, span at
        // least 16 bytes (an ADPCM stereo unit is 8) and start, on the
        // granularity the start is rounded to, 16 bytes before the end.
        uint32_t length = 0;
        SVX_sample_buffer_info(s, nullptr, &length, nullptr, nullptr);
        const uint32_t unit = uint32_t(std::max(SVX_sample_granularity(s), 1));
        if (length >= 32 && pick.chance(2)) {
            SVX_set_sample_loop_count(s, int32_t(pick.pick(4)));
            const int32_t start = int32_t(pick.pick((length - 16) / unit + 1) * unit);
            const int32_t end = pick.chance(3) ? -1 : start + 16 + int32_t(pick.pick(uint32_t(size)));
            SVX_set_sample_loop_block(s, start, end);
        }
        if (pick.chance(2)) SVX_set_sample_playback_rate(s, int32_t(pick.pick(100000)));
        SVX_set_sample_volume(s, int32_t(pick.pick(128)));
        SVX_set_sample_pan(s, int32_t(pick.pick(128)));
        SVX_start_sample(s);
        if (pick.chance(3)) SVX_set_sample_position(s, int32_t(pick.pick(uint32_t(size))));
        int32_t total = 0, current = 0;
        SVX_sample_ms_position(s, &total, &current);
        mix_steps(out, s, 24, 256 + pick.pick(1024));
    }
    if (s) SVX_release_sample_handle(s);

    // The library's own continuation plays a VOC file block after block and
    // releases the handle at the end.
    if (HSAMPLE file = SVX_allocate_file_sample(out.handle(), image, marker)) {
        SVX_start_sample(file);
        mix_steps(out, file, 64, 512);
        if (SVX_sample_status(file) != SVX_FREE) {
            SVX_end_sample(file);
            SVX_release_sample_handle(file);
        }
    }
    SVX_mem_free_lock(image);
    return 0;
}
