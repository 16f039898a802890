// The stream's WAV header walk on a file, and a stream opened on it: read
// by its service from the start, from positions the input's hash picks
// and round the loop, never starting, so no device is needed. The driver
// is a record that was never opened, as in the WAV target.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_output.h"
#include "services/stream.h"
#include "sonvex.h"
#include "win32/kernel.h"

namespace {

using namespace svx::digital;

// Stereo 16-bit at 22,050 Hz, so that the stream's buffers have a size.
struct Output : fuzz::UnopenedOutput {
    Output() {
        driver.rate = 22050;
        driver.channels = 2;
        driver.bytes_per_sample = 2;
        driver.buffer_bytes = 2048;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Output out;
    if (size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);
    const std::string path = fuzz::scratch_drive() + "/stream.wav";
    fuzz::write_file(path, data, size);

    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    FUZZ_CHECK(file != INVALID_HANDLE_VALUE);
    svx::services::StreamFormat format;
    if (svx::services::read_stream_header(file, 0, int64_t(size), format)) {
        // What the walk found lies inside the file and is playable.
        FUZZ_CHECK(format.data_start >= 20 && format.data_start <= int64_t(size));
        FUZZ_CHECK(format.data_size <= uint64_t(int64_t(size) - format.data_start));
        FUZZ_CHECK(format.channels == 1 || format.channels == 2);
        FUZZ_CHECK(format.rate > 0);
        FUZZ_CHECK(format.data_size % (format.channels * std::max<uint32_t>(format.bits / 8, 1)) == 0 ||
                   (format.format & SVX_FORMAT_ADPCM));
    }
    CloseHandle(file);

    const int32_t buffer_bytes = pick.chance(2) ? 0 : int32_t(pick.pick(300000));
    HSTREAM s = SVX_open_stream(out.handle(), path.c_str(), buffer_bytes);
    if (!s) return 0;
    int32_t rate = 0, type = 0, data_size = 0, memory = 0;
    SVX_stream_info(s, &rate, &type, &data_size, &memory);
    // One buffer of the whole data, or three smaller than it.
    FUZZ_CHECK(data_size >= 0 && (memory == data_size || (memory > 0 && memory < data_size)));
    SVX_set_stream_loop_count(s, int32_t(pick.pick(3)));
    for (int round = 0; round < 6; ++round) {
        SVX_service_stream(s, 0);
        const int32_t position = SVX_stream_position(s);
        FUZZ_CHECK(position >= -1 && position <= data_size);
        int32_t total = 0, current = 0;
        SVX_stream_ms_position(s, &total, &current);
        if (pick.chance(2)) SVX_set_stream_position(s, int32_t(pick.pick(uint32_t(data_size) + 2)));
    }
    SVX_close_stream(s);
    return 0;
}
