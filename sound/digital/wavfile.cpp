// RIFF WAVE images, and samples described by a WAV or VOC file image.
#include <algorithm>
#include <cstring>
#include <strings.h>

#include "core/ops.h"
#include "core/state.h"
#include "digital/driver.h"
#include "digital/sample.h"
#include "win32/kernel.h"

namespace svx::digital {
namespace {

constexpr uint32_t kTagPcm = 1;
constexpr uint32_t kTagImaAdpcm = 17;

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool same_id(const uint8_t* p, const char* id) {
    return strncasecmp(reinterpret_cast<const char*>(p), id, 4) == 0;
}

// The chunks of a RIFF image, walked from offset 12. A chunk header is
// looked at only when it lies wholly inside the RIFF (`limit`, the end the
// RIFF size gives, so that an empty last chunk is found) and the image.
struct ChunkWalk {
    const uint8_t* image;
    size_t limit;

    // Offset of the first chunk with this identifier, or 0.
    size_t find(const char* id) const {
        size_t at = 12;
        while (limit >= 8 && at <= limit - 8) {
            if (same_id(image + at, id)) return at;
            const uint32_t length = u32(image + at + 4);
            at += 8 + size_t(length) + (length & 1);
        }
        return 0;
    }
};

// Reads the description of a WAV or VOC image into the sample.
bool describe_file(Sample& sample, const void* image, int32_t marker, bool dry_run) {
    if (!image) {
        ::SVX_set_error("Unknown file type.");
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(image);
    const size_t size = image_size(image);
    if (is_voc(bytes, size)) {
        VocCursor cursor = voc_open(bytes, size, marker);
        VocData data;
        if (!voc_next_sound(cursor, data)) {
            ::SVX_set_error("Invalid or missing data block.");
            if (!dry_run) sample.file_state.store(-1, std::memory_order_relaxed);
            return false;
        }
        if (dry_run) return true;
        sample.voc = cursor;
        ::SVX_set_sample_address(handle_of(&sample), data.data, data.length);
        ::SVX_set_sample_type(handle_of(&sample), int32_t(data.format), data.flags);
        ::SVX_set_sample_playback_rate(handle_of(&sample), data.rate);
        return true;
    }

    SoundFileInfo info{};
    if (!::SVX_WAV_info(image, &info)) {
        ::SVX_set_error("Unknown file type.");
        return false;
    }
    // Only what the mixer can play is taken: another depth or channel
    // count played as 8-bit data would be loud noise.
    const bool pcm = info.format_tag == kTagPcm && (info.bits == 8 || info.bits == 16);
    const bool adpcm = info.format_tag == kTagImaAdpcm && info.bits == 4;
    if ((!pcm && !adpcm) || (info.channels != 1 && info.channels != 2)) {
        ::SVX_set_error("Unsupported wave file format.");
        return false;
    }
    if (dry_run) return true;
    const uint32_t format = (info.channels == 2 ? SVX_FORMAT_STEREO : 0) |
                            (info.bits == 4 ? SVX_FORMAT_ADPCM | SVX_FORMAT_16BIT
                             : info.bits == 16 ? SVX_FORMAT_16BIT
                                               : 0);
    HSAMPLE handle = handle_of(&sample);
    ::SVX_set_sample_type(handle, int32_t(format), format & 1);
    ::SVX_set_sample_playback_rate(handle, int32_t(info.rate));
    if (info.bits == 4) ::SVX_set_sample_adpcm_block_size(handle, info.block_size);
    ::SVX_set_sample_address(handle, info.data, info.data_length);
    return true;
}

}  // namespace

size_t image_size(const void* image) {
    // The heap is not asked from background work: its lock may belong to
    // the suspended foreground thread.
    if (!image || background_count > 0) return SIZE_MAX;
    HGLOBAL block = GlobalHandle(image);
    return block ? GlobalSize(block) : SIZE_MAX;
}

bool parse_wav(const uint8_t* image, size_t size, SoundFileInfo& info) {
    if (!image || size < 12 || !same_id(image + 8, "WAVE")) return false;
    const uint32_t riff_size = u32(image + 4);
    // Without a known image size, the RIFF size is all there is to trust.
    const size_t end = size != SIZE_MAX ? size : 8 + size_t(riff_size);
    const ChunkWalk walk{image, std::min<size_t>(8 + size_t(riff_size), end)};

    const size_t fmt = walk.find("fmt ");
    if (fmt == 0 || end - fmt < 24) return false;
    const size_t data = walk.find("data");
    if (data == 0) return false;

    info.format_tag = u16(image + fmt + 8);
    info.channels = u16(image + fmt + 10);
    info.rate = u32(image + fmt + 12);
    info.block_size = uint32_t(int32_t(int16_t(u16(image + fmt + 20))));
    info.bits = u16(image + fmt + 22);
    info.data = image + data + 8;
    // Only the data that is there is played.
    info.data_length = uint32_t(std::min<size_t>(u32(image + data + 4), end - data - 8));

    if (info.format_tag != kTagImaAdpcm) {
        info.samples = info.bits ? uint32_t(uint64_t(info.data_length) * 8 / info.bits) : 0;
        return true;
    }
    const size_t fact = walk.find("fact");
    if (fact != 0 && end - fact >= 12) {
        info.samples = u32(image + fact + 8);
        return true;
    }
    // Without "fact", every block counts as full. A block of c channels
    // starts with c 4-byte headers; the count is taken from the channel
    // number itself, not a shift of it, which vanishes or overflows for
    // channel counts no file of sound has.
    const int64_t header = 4 * int64_t(info.channels);
    const int64_t block = int32_t(info.block_size);
    if (header == 0 || block < header) {
        info.samples = 0;
        return true;
    }
    const int64_t per_block = (block - header) * 8 / header + 1;
    const int64_t blocks = (int64_t(info.data_length) + block - 1) / block;
    info.samples = uint32_t(std::min<int64_t>(per_block * blocks, UINT32_MAX));
    return true;
}

}  // namespace svx::digital

namespace svx::op {
using namespace svx::digital;

int32_t SVX_WAV_info(const void* image, SoundFileInfo* info) {
    SoundFileInfo found{};
    if (!parse_wav(static_cast<const uint8_t*>(image), image_size(image), found)) {
        ::SVX_set_error("Not a WAV file.");
        return 0;
    }
    if (info) *info = found;
    return 1;
}

int32_t SVX_set_sample_file(HSAMPLE handle, const void* image, int32_t marker) {
    Sample* sample = sample_of(handle);
    if (!sample) return 0;
    if (!describe_file(*sample, image, marker, false)) return 0;
    sample->file_state.store(0, std::memory_order_relaxed);
    return 1;
}

HSAMPLE SVX_allocate_file_sample(HDIGDRIVER driver, const void* image, int32_t marker) {
    if (!driver) return nullptr;
    Sample probe;
    if (!describe_file(probe, image, marker, true)) return nullptr;
    HSAMPLE handle = ::SVX_allocate_sample_handle(driver);
    Sample* sample = sample_of(handle);
    if (!sample) return nullptr;
    sample->end_of_file.store(nullptr, std::memory_order_relaxed);
    sample->file_state.store(1, std::memory_order_relaxed);
    sample->end_of_sample.store(is_voc(static_cast<const uint8_t*>(image), image_size(image))
                                    ? &voc_continuation
                                    : &wav_continuation,
                                std::memory_order_relaxed);
    describe_file(*sample, image, marker, false);
    return handle;
}

}  // namespace svx::op
