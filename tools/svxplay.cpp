// svxplay FILE: plays a WAV or VOC file through sonvex32 on the default
// waveOut device and exits when it has been heard to the end.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "sonvex.h"
#include "win32/kernel.h"

namespace {

std::atomic<bool> finished{false};
void SVXCALLBACK on_end_of_file(HSAMPLE) { finished.store(true); }

// The file in a library memory block, so the library knows its size.
void* read_image(const char* path, uint32_t& size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return nullptr;
    void* image = SVX_mem_alloc_lock(int32_t(bytes.size()));
    if (image) std::memcpy(image, bytes.data(), bytes.size());
    size = uint32_t(bytes.size());
    return image;
}

// Opens the default device: the file's own format first, then common ones.
HDIGDRIVER open_output(const void* image) {
    struct Try {
        uint32_t rate;
        uint16_t channels, bits;
    };
    std::vector<Try> tries;
    SoundFileInfo info{};
    if (SVX_WAV_info(image, &info) && info.rate >= 8000 && info.rate <= 48000)
        tries.push_back({info.rate, uint16_t(info.channels == 2 ? 2 : 1), 16});
    for (uint32_t rate : {44100u, 22050u, 11025u}) tries.push_back({rate, 2, 16});
    tries.push_back({22050, 1, 8});
    tries.push_back({11025, 1, 8});
    for (const Try& t : tries) {
        const uint16_t align = uint16_t(t.channels * t.bits / 8);
        const SVXPCMFORMAT format{1, t.channels, t.rate, t.rate * align, align, t.bits};
        HDIGDRIVER driver = nullptr;
        if (SVX_waveOutOpen(&driver, nullptr, -1, &format) == 0) return driver;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: svxplay FILE.wav|FILE.voc\n");
        return 2;
    }
    SVX_startup();
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    uint32_t size = 0;
    void* image = read_image(argv[1], size);
    if (!image) {
        std::fprintf(stderr, "svxplay: cannot read %s\n", argv[1]);
        SVX_shutdown();
        return 1;
    }
    HDIGDRIVER driver = open_output(image);
    if (!driver) {
        std::fprintf(stderr, "svxplay: no output device: %s\n", SVX_last_error());
        SVX_mem_free_lock(image);
        SVX_shutdown();
        return 1;
    }
    int32_t rate = 0, format = 0;
    char description[128] = "";
    SVX_digital_configuration(driver, &rate, &format, description);
    HSAMPLE sample = SVX_allocate_file_sample(driver, image, -1);
    if (!sample) {
        std::fprintf(stderr, "svxplay: %s: %s\n", argv[1], SVX_last_error());
        SVX_shutdown();
        SVX_mem_free_lock(image);
        return 1;
    }
    std::printf("playing %s on %s, %d Hz%s%s\n", argv[1], description, rate,
                (format & 1) ? " 16-bit" : " 8-bit", (format & 2) ? " stereo" : " mono");
    SVX_register_EOF_callback(sample, on_end_of_file);
    SVX_start_sample(sample);

    // The writer is a timer of this thread: take messages while playing.
    while (!finished.load()) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(10);
    }
    // Let the device play out what is queued: the ring holds at most
    // preference 11 bytes.
    const int32_t bytes_per_second = rate * ((format & 1) ? 2 : 1) * ((format & 2) ? 2 : 1);
    const uint32_t drain_ms =
        uint32_t(int64_t(SVX_get_preference(SVX_PREF_WAVEOUT_TOTAL_BUFFER)) * 1000 / bytes_per_second) + 200;
    for (uint32_t waited = 0; waited < drain_ms; waited += 10) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(10);
    }
    SVX_waveOutClose(driver);
    SVX_shutdown();
    SVX_mem_free_lock(image);
    return 0;
}
