// IMA ADPCM: whole-image decoding and the compress/decompress exports.
#include "digital/adpcm.h"

#include <climits>
#include <cstring>

#include "core/ops.h"

namespace svx::adpcm {
namespace {

constexpr uint32_t kTagPcm = 1;
constexpr uint32_t kTagImaAdpcm = 17;

class Writer {
public:
    explicit Writer(uint8_t* p) : p_(p) {}
    void text(const char* t) {
        std::memcpy(p_, t, 4);
        p_ += 4;
    }
    void u16(uint32_t v) {
        *p_++ = uint8_t(v);
        *p_++ = uint8_t(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v);
        u16(v >> 16);
    }

private:
    uint8_t* p_;
};

// The transitions in one flat array with the next step index premultiplied
// to its row's start, which takes a shift off every code's dependency chain.
constexpr auto flat_transitions = [] {
    std::array<Transition, (max_index + 1) * 16> table{};
    for (size_t i = 0; i <= max_index; ++i)
        for (size_t code = 0; code < 16; ++code)
            table[i * 16 + code] = {transitions[i][code].difference, transitions[i][code].next * 16};
    return table;
}();

struct Chain {
    int32_t value;
    uint32_t row;  // step index * 16
};

inline int16_t decode(Chain& ch, uint32_t code) {
    const Transition& t = flat_transitions[ch.row + code];
    ch.value = std::clamp(ch.value + t.difference, -32768, 32767);
    ch.row = uint32_t(t.next);
    return int16_t(ch.value);
}

// Whole blocks side by side. Each block starts from its own header, so
// the predictors of different blocks do not depend on each other and the
// processor overlaps their dependency chains; the output is the same as
// decoding the blocks one after the other.
template <int Channels, int Blocks>
void decode_blocks(const uint8_t* data, size_t block_size, int16_t* out, size_t per_block) {
    constexpr size_t unit = 4 * Channels;
    constexpr int chains = Channels * Blocks;
    Chain ch[chains];
    const uint8_t* in[Blocks];
    int16_t* o[Blocks];
    for (int b = 0; b < Blocks; ++b) {
        in[b] = data + size_t(b) * block_size;
        o[b] = out + size_t(b) * per_block * Channels;
        Channel header[Channels];
        read_header<Channels>(header, in[b], o[b]);
        for (int c = 0; c < Channels; ++c)
            ch[b * Channels + c] = {header[c].value, uint32_t(header[c].index) * 16};
        o[b] += Channels;
    }
    for (size_t off = unit; off < block_size; off += unit) {
        uint32_t w[chains];
        for (int b = 0; b < Blocks; ++b)
            for (int c = 0; c < Channels; ++c) w[b * Channels + c] = read32(in[b] + off + 4 * c);
        for (int k = 0; k < 8; ++k)
            for (int b = 0; b < Blocks; ++b)
                for (int c = 0; c < Channels; ++c)
                    o[b][k * Channels + c] =
                        decode(ch[b * Channels + c], (w[b * Channels + c] >> (4 * k)) & 15);
        for (int b = 0; b < Blocks; ++b) o[b] += 8 * Channels;
    }
}

template <int Channels>
size_t decode_all(const uint8_t* data, size_t bytes, int64_t block_size, int16_t* out, size_t frames) {
    constexpr size_t unit = 4 * Channels;
    State s;
    size_t pos = 0, done = 0;
    // Whole blocks that are wanted whole go straight into the output.
    const int64_t per_block = frames_per_block(block_size, Channels);
    const bool plain = per_block > 0 && (block_size - int64_t(unit)) % int64_t(unit) == 0;
    // Eight dependency chains: as many as the registers hold.
    constexpr int group = 8 / Channels;
    while (plain && bytes - pos >= group * size_t(block_size) &&
           frames - done >= group * size_t(per_block)) {
        decode_blocks<Channels, group>(data + pos, size_t(block_size), out + done * Channels,
                                       size_t(per_block));
        pos += group * size_t(block_size);
        done += group * size_t(per_block);
    }
    while (plain && bytes - pos >= size_t(block_size) && frames - done >= size_t(per_block)) {
        const uint8_t* p = data + pos;
        int16_t* o = out + done * Channels;
        read_header<Channels>(s.channel, p, o);
        o += Channels;
        for (const uint8_t* w = p + unit; w < p + block_size; w += unit, o += 8 * Channels)
            decode_words<Channels>(s.channel, w, o);
        pos += size_t(block_size);
        done += size_t(per_block);
    }
    while (done < frames && fill<Channels>(s, data, pos, bytes, block_size)) {
        const size_t n = std::min<size_t>(size_t(s.codes_left), frames - done);
        std::memcpy(out + done * Channels, s.cache, n * Channels * sizeof(int16_t));
        done += n;
        pos += s.unit;
    }
    return done;
}

// One PCM input value in the 16-bit range.
int32_t input(const uint8_t* p, uint32_t bits) {
    if (bits == 8) return (int32_t(p[0]) - 128) * 256;
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

// Encodes `frames` frames (1 to F) from `in` into one block at `out`;
// frames past the input are zero samples. Returns the bytes written: the
// header and the words the frames need.
size_t encode_block(const uint8_t* in, uint32_t bits, int channels, size_t frames, Channel* state,
                    uint8_t* out) {
    const size_t frame_bytes = bits / 8 * size_t(channels);
    auto sample = [&](size_t frame, int c) {
        return frame < frames ? input(in + frame * frame_bytes + size_t(c) * (bits / 8), bits) : 0;
    };
    for (int c = 0; c < channels; ++c) {
        Channel& ch = state[c];
        ch.value = sample(0, c);
        out[4 * c] = uint8_t(ch.value);
        out[4 * c + 1] = uint8_t(ch.value >> 8);
        out[4 * c + 2] = uint8_t(ch.index);
        out[4 * c + 3] = 0;
    }
    uint8_t* p = out + 4 * channels;
    const size_t words = (frames - 1 + 7) / 8;
    for (size_t w = 0; w < words; ++w) {
        for (int c = 0; c < channels; ++c) {
            uint32_t word = 0;
            for (int k = 0; k < 8; ++k)
                word |= encode(state[c], sample(1 + w * 8 + size_t(k), c)) << (4 * k);
            Writer(p).u32(word);
            p += 4;
        }
    }
    return size_t(p - out);
}

}  // namespace

size_t decode_data(const uint8_t* data, size_t bytes, int64_t block_size, int channels, int16_t* out,
                   size_t frames) {
    if (data == nullptr || out == nullptr) return 0;
    if (channels == 1) return decode_all<1>(data, bytes, block_size, out, frames);
    if (channels == 2) return decode_all<2>(data, bytes, block_size, out, frames);
    return 0;
}

}  // namespace svx::adpcm

namespace svx::op {
using namespace svx::adpcm;

namespace {

// A library memory block of `bytes`, or null ("Out of memory." recorded)
// when it cannot be had or does not fit the allocator's argument.
uint8_t* allocate(int64_t bytes) {
    if (bytes > INT32_MAX) {
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    return static_cast<uint8_t*>(::SVX_mem_alloc_lock(int32_t(bytes)));
}

// Hands the image out, or frees it when nobody wants it.
void deliver(uint8_t* image, uint32_t size, void** out_image, uint32_t* out_size) {
    if (out_size) *out_size = size;
    if (out_image)
        *out_image = image;
    else
        ::SVX_mem_free_lock(image);
}

// The most frames the data of `info` decodes to: every block counted
// whole; a block too small for its headers is read as headers alone, one
// frame each.
int64_t frames_in_data(const SoundFileInfo& info) {
    const int64_t unit = 4 * int64_t(info.channels);
    if (unit == 0) return 0;
    const int64_t block = int32_t(info.block_size);
    const int64_t length = info.data_length;
    if (block <= unit) return (length + unit - 1) / unit;
    return (length + block - 1) / block * frames_per_block(block, int(info.channels));
}

}  // namespace

int32_t SVX_compress_ADPCM(const SoundFileInfo* info, void** out_image, uint32_t* out_size) {
    if (!info || !info->data) return 0;
    if (info->format_tag != 1) {
        ::SVX_set_error("Data is already compressed.");
        return 0;
    }
    if ((info->bits != 8 && info->bits != 16) || (info->channels != 1 && info->channels != 2)) {
        ::SVX_set_error("Unsupported PCM data format.");
        return 0;
    }
    const int channels = int(info->channels);
    int64_t block = 256 * (channels == 2 ? 2 : 1);
    if (info->rate > 11025) block *= info->rate / 11025;
    const int64_t per_block = frames_per_block(block, channels);
    // The header keeps both in 16 bits: a rate that makes them larger
    // (above 1.4 MHz) would give an image that lies about its blocks.
    if (block > 0xFFFF || per_block > 0xFFFF) {
        ::SVX_set_error("Unsupported PCM data format.");
        return 0;
    }
    const size_t frame_bytes = info->bits / 8 * size_t(channels);
    const size_t frames = info->data_length / frame_bytes;

    const int64_t capacity = block * ((per_block + int64_t(info->data_length)) / per_block) + 1024 +
                             per_block * channels * 2 + 316;
    uint8_t* image = allocate(capacity);
    if (!image) return 0;

    const auto* in = static_cast<const uint8_t*>(info->data);
    uint8_t* data = image + 60;
    size_t written = 0;
    Channel state[2] = {};  // the step index runs on from block to block
    for (size_t first = 0; first < frames; first += size_t(per_block)) {
        const size_t n = std::min<size_t>(size_t(per_block), frames - first);
        written +=
            encode_block(in + first * frame_bytes, info->bits, channels, n, state, data + written);
    }

    Writer w(image);
    w.text("RIFF");
    w.u32(uint32_t(52 + written));
    w.text("WAVE");
    w.text("fmt ");
    w.u32(20);
    w.u16(kTagImaAdpcm);
    w.u16(uint32_t(channels));
    w.u32(info->rate);
    w.u32(uint32_t(block * info->rate / per_block));
    w.u16(uint32_t(block));
    w.u16(4);
    w.u16(2);
    w.u16(uint32_t(per_block));
    w.text("fact");
    w.u32(4);
    w.u32(uint32_t(frames));
    w.text("data");
    w.u32(uint32_t(written));
    deliver(image, uint32_t(60 + written), out_image, out_size);
    return 1;
}

int32_t SVX_decompress_ADPCM(const SoundFileInfo* info, void** out_image, uint32_t* out_size) {
    if (!info || !info->data || info->samples == 0) return 0;
    if (info->format_tag != kTagImaAdpcm) {
        ::SVX_set_error("Data is not compressed.");
        return 0;
    }
    // "fact" may claim any count: no more frames are made than the data
    // could decode to, so a lying count cannot ask for gigabytes.
    const int64_t frames = std::min<int64_t>(info->samples, frames_in_data(*info));
    const int64_t output_bytes = frames * info->channels * 2;
    uint8_t* image = allocate(output_bytes + 44);
    if (!image) return 0;

    Writer w(image);
    w.text("RIFF");
    w.u32(uint32_t(output_bytes + 36));
    w.text("WAVE");
    w.text("fmt ");
    w.u32(16);
    w.u16(kTagPcm);
    w.u16(info->channels);
    w.u32(info->rate);
    w.u32(info->channels * info->rate * 2);
    w.u16(info->channels * 2);
    w.u16(16);
    w.text("data");
    w.u32(uint32_t(output_bytes));
    // Other channel counts have no decoder: their output stays silent.
    if (info->channels == 1 || info->channels == 2)
        decode_data(static_cast<const uint8_t*>(info->data), info->data_length,
                    int32_t(info->block_size), int(info->channels),
                    reinterpret_cast<int16_t*>(image + 44), size_t(frames));
    deliver(image, uint32_t(output_bytes + 44), out_image, out_size);
    return 1;
}

}  // namespace svx::op
