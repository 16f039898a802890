// IMA ADPCM: SVX_decompress_ADPCM of WAV images and of raw data with any
// channel count, block size and claimed length; and the round trip of PCM
// images through SVX_compress_ADPCM and back, which must keep the frame
// count and start every block on the input's own sample.
#include <cstring>

#include "fuzz_library.h"
#include "sonvex.h"

namespace {

uint32_t get16(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8); }

// Decompresses `info`; the image must be a 16-bit PCM WAV the library
// reads back, of no more frames than were asked for.
void decompress(const SoundFileInfo& info) {
    void* out = nullptr;
    uint32_t size = 0;
    if (!SVX_decompress_ADPCM(&info, &out, &size)) return;
    fuzz::Block image(out);
    FUZZ_CHECK(size >= 44);
    FUZZ_CHECK(uint64_t(size - 44) <= uint64_t(info.samples) * info.channels * 2);
    SoundFileInfo pcm{};
    FUZZ_CHECK(SVX_WAV_info(image.get(), &pcm) == 1);
    FUZZ_CHECK(pcm.format_tag == 1 && pcm.bits == 16 && pcm.channels == info.channels);
    FUZZ_CHECK(pcm.data_length == size - 44);
}

// 16-bit value of input frame `frame`, channel `c`, as the encoder sees it.
int32_t input_value(const SoundFileInfo& info, size_t frame, uint32_t c) {
    const auto* p = static_cast<const uint8_t*>(info.data) +
                    (frame * info.channels + c) * (info.bits / 8);
    if (info.bits == 8) return (int32_t(p[0]) - 128) * 256;
    return int16_t(get16(p));
}

void round_trip(const SoundFileInfo& info) {
    void* out = nullptr;
    uint32_t size = 0;
    if (!SVX_compress_ADPCM(&info, &out, &size)) return;
    fuzz::Block compressed(out);
    const size_t frames = info.data_length / (info.bits / 8 * info.channels);
    SoundFileInfo adpcm{};
    FUZZ_CHECK(SVX_WAV_info(compressed.get(), &adpcm) == 1);
    FUZZ_CHECK(adpcm.format_tag == 17 && adpcm.channels == info.channels && adpcm.bits == 4);
    FUZZ_CHECK(adpcm.samples == frames);
    FUZZ_CHECK(60 + adpcm.data_length == size);
    if (frames == 0) return;

    void* pcm_out = nullptr;
    uint32_t pcm_size = 0;
    FUZZ_CHECK(SVX_decompress_ADPCM(&adpcm, &pcm_out, &pcm_size) == 1);
    fuzz::Block pcm(pcm_out);
    FUZZ_CHECK(pcm_size == 44 + frames * info.channels * 2);
    // Every block header holds its first input sample exactly.
    const uint8_t* values = pcm.get() + 44;
    int64_t block = 256 * int64_t(info.channels);
    if (info.rate > 11025) block *= info.rate / 11025;
    const size_t per_block = size_t((block - 4 * info.channels) * 8 / (4 * info.channels) + 1);
    for (size_t frame = 0; frame < frames; frame += per_block)
        for (uint32_t c = 0; c < info.channels; ++c)
            FUZZ_CHECK(int16_t(get16(values + 2 * (frame * info.channels + c))) ==
                       input_value(info, frame, c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = fuzz::start_library();
    if (!started) std::abort();
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);
    fuzz::Block image(data, size);
    if (!image.get()) return 0;

    SoundFileInfo info{};
    if (SVX_WAV_info(image.get(), &info)) {
        if (info.format_tag == 17) decompress(info);
        if (info.format_tag == 1) round_trip(info);
        return 0;
    }
    // Any other bytes: raw data with a format the hash picks.
    const uint32_t channels[] = {1, 2, 1, 2, 0, 3, 6, 255};
    const uint32_t blocks[] = {256, 512, 1024, 2048, 36, 4, 0, 0xFFFFFFFF};
    info = SoundFileInfo{17, image.get(), uint32_t(size), 22050, 4, pick.one_of(channels),
                         pick.chance(2) ? pick.next() : pick.pick(4096), pick.one_of(blocks)};
    decompress(info);
    info.format_tag = 1;
    info.bits = pick.chance(2) ? 8 : 16;
    info.channels = 1 + pick.pick(2);
    const uint32_t rates[] = {8000, 11025, 22050, 44100, 96000};
    info.rate = pick.one_of(rates);
    round_trip(info);
    return 0;
}
