// IMA ADPCM decoding on one core, in the same process and on the same
// minute of stereo: our whole-image decoder against libsndfile reading
// from memory (sf_open_virtual, sf_read_short) and against libsox's
// decoder (sox_open_mem_read, sox_read), which is what the sox program
// spends on decoding once its start-up is left out. Each peer's output is
// checked to be ours before anything is timed. The mixer's ADPCM routine
// at unity is timed too, alone.
#include <sndfile.h>
#include <sox.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "digital/adpcm.h"
#include "digital/mixer.h"
#include "peer.h"
#include "sonvex.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr int kChannels = 2;
constexpr uint32_t kFrames = kRate * 60;
constexpr size_t kSamples = size_t(kFrames) * kChannels;

struct Image {
    std::vector<uint8_t> file;
    const uint8_t* data = nullptr;
    uint32_t data_bytes = 0;
    uint32_t block = 0;
};

// A minute of music-like stereo compressed by SVX_compress_ADPCM.
Image make_image() {
    Image i;
    std::vector<int16_t> pcm;
    pcm.reserve(kSamples);
    for (uint32_t f = 0; f < kFrames; ++f) {
        const double t = double(f) / kRate;
        for (int c = 0; c < kChannels; ++c)
            pcm.push_back(int16_t(8000 * std::sin(2 * M_PI * (220 + 110 * c) * t) +
                                  4000 * std::sin(2 * M_PI * 1760 * t * (1 + 0.1 * std::sin(t)))));
    }
    const SoundFileInfo info{1, pcm.data(), uint32_t(pcm.size() * 2), kRate, 16, kChannels, kFrames, 0};
    void* out = nullptr;
    uint32_t size = 0;
    if (!SVX_compress_ADPCM(&info, &out, &size)) std::abort();
    const auto* p = static_cast<const uint8_t*>(out);
    i.file.assign(p, p + size);
    SVX_mem_free_lock(out);
    i.data = i.file.data() + 60;
    i.data_bytes = uint32_t(size - 60);
    i.block = uint32_t(i.file[32] | i.file[33] << 8);
    return i;
}

// libsndfile's virtual I/O over a memory image.
struct Memory {
    const std::vector<uint8_t>* bytes;
    sf_count_t pos = 0;
};
sf_count_t vio_length(void* m) { return sf_count_t(static_cast<Memory*>(m)->bytes->size()); }
sf_count_t vio_seek(sf_count_t offset, int whence, void* p) {
    auto* m = static_cast<Memory*>(p);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : vio_length(p);
    m->pos = std::clamp<sf_count_t>(base + offset, 0, vio_length(p));
    return m->pos;
}
sf_count_t vio_read(void* dst, sf_count_t count, void* p) {
    auto* m = static_cast<Memory*>(p);
    const sf_count_t n = std::min(count, vio_length(p) - m->pos);
    std::memcpy(dst, m->bytes->data() + m->pos, size_t(n));
    m->pos += n;
    return n;
}
sf_count_t vio_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t vio_tell(void* p) { return static_cast<Memory*>(p)->pos; }

size_t sndfile_decode(const Image& img, int16_t* out) {
    SF_VIRTUAL_IO io{vio_length, vio_seek, vio_read, vio_write, vio_tell};
    Memory m{&img.file};
    SF_INFO info{};
    SNDFILE* f = sf_open_virtual(&io, SFM_READ, &info, &m);
    if (!f) return 0;
    const sf_count_t n = sf_read_short(f, out, sf_count_t(kSamples));
    sf_close(f);
    return size_t(n);
}

size_t sox_decode(const Image& img, sox_sample_t* out) {
    sox_format_t* f = sox_open_mem_read(const_cast<uint8_t*>(img.file.data()), img.file.size(),
                                        nullptr, nullptr, "wav");
    if (!f) return 0;
    size_t n = 0, got;
    while (n < kSamples && (got = sox_read(f, out + n, kSamples - n)) > 0) n += got;
    sox_close(f);
    return n;
}

}  // namespace

int main() {
    peer::stay_on_one_core();
    if (sox_init() != SOX_SUCCESS) return 1;
    const Image img = make_image();
    std::vector<int16_t> ours(kSamples), sf(kSamples);
    std::vector<sox_sample_t> sx(kSamples);

    auto decode_ours = [&] {
        if (svx::adpcm::decode_data(img.data, img.data_bytes, img.block, kChannels, ours.data(),
                                    kFrames) != kFrames)
            std::abort();
    };
    decode_ours();
    if (sndfile_decode(img, sf.data()) != kSamples || sox_decode(img, sx.data()) != kSamples) {
        std::fprintf(stderr, "a peer did not decode the whole image\n");
        return 1;
    }
    for (size_t i = 0; i < kSamples; ++i)
        if (sf[i] != ours[i] || sx[i] != sox_sample_t(ours[i]) * 65536) {
            std::fprintf(stderr, "peers decode sample %zu differently\n", i);
            return 1;
        }

    const double msamples = double(kSamples) / 1e6;
    std::printf("IMA ADPCM decode, 60 s 44.1 kHz stereo (%.2f M samples), from memory\n", msamples);
    auto rate_line = [&](const char* peer_name, peer::Result r) {
        std::printf("  ours %6.1f M samples/s   %-28s %6.1f M samples/s   ours/peer %5.2fx\n",
                    msamples / (r.ours * 1e-9), peer_name, msamples / (r.peer * 1e-9), r.peer / r.ours);
        std::fflush(stdout);
    };
    rate_line("libsndfile sf_read_short", peer::compare(21, 1, decode_ours, [&] { sndfile_decode(img, sf.data()); }));
    rate_line("libsox sox_read", peer::compare(21, 1, decode_ours, [&] { sox_decode(img, sx.data()); }));

    // The mixer's stereo ADPCM routine at unity into a stereo build
    // buffer, 2048 frames at a time.
    using namespace svx::mixer;
    Scale scale;
    build_scale(scale, 127, 64, 127, 7, 1, true);
    const OutputFormat out{int32_t(kRate), 2, 2, true};
    std::vector<int32_t> build(2048 * 2);
    const BuildBuffer target{build.data(), uint32_t(build.size() * 4)};
    auto mix = [&] {
        svx::adpcm::State decoder;
        SampleRun run{img.data, 0, 0, 7, 1, int32_t(kRate), 127, 64, 127, &scale, &decoder, img.block};
        while (run.position < int32_t(img.data_bytes)) {
            clear(target);
            run.bytes_left = int32_t(img.data_bytes) - run.position;
            merge_run(run, out, 655, target, 0);
        }
    };
    const peer::Result m = peer::compare(11, 1, mix, decode_ours);
    std::printf("  mixer ADPCM routine at unity %6.1f M samples/s (whole-image decoder %6.1f)\n",
                msamples / (m.ours * 1e-9), msamples / (m.peer * 1e-9));
    sox_quit();
    return 0;
}
