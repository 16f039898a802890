// IMA ADPCM: the decoder against the decoders of sox and libsndfile on
// files that they and ffmpeg encode, the compress and decompress exports,
// and our compressed images decoded by sox.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "digital/adpcm.h"
#include "digital_support.h"

namespace {

using testing_support::Bytes;
using testing_support::get16;
using testing_support::get32;
using testing_support::put16;
using testing_support::put32;
using testing_support::put_text;

using Samples = std::vector<int16_t>;

Bytes wav_header(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits, uint32_t data_bytes) {
    Bytes b;
    const uint32_t align = channels * bits / 8;
    put_text(b, "RIFF");
    put32(b, 36 + data_bytes);
    put_text(b, "WAVEfmt ");
    put32(b, 16);
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * align);
    put16(b, align);
    put16(b, bits);
    put_text(b, "data");
    put32(b, data_bytes);
    return b;
}

Bytes pcm16_wav(const Samples& values, uint32_t channels, uint32_t rate) {
    Bytes b = wav_header(1, channels, rate, 16, uint32_t(values.size() * 2));
    for (int16_t v : values) put16(b, uint16_t(v));
    return b;
}

// A sweep from 50 Hz to 10 kHz at 0.7 of full scale, the channels a
// little apart, with full-scale square bursts that drive the predictor
// into saturation and the step index to both ends.
Samples test_signal(size_t frames, int channels, uint32_t rate) {
    Samples out;
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / double(frames);
        phase += 2 * M_PI * (50 + 10000 * t * t) / rate;
        for (int c = 0; c < channels; ++c) {
            double v = 0.7 * std::sin(phase + c * 0.9);
            if (i % 3000 < 200) v = (i / 40) % 2 ? 1.0 : -1.0;
            if (i % 3000 >= 200 && i % 3000 < 400) v = 0;
            out.push_back(int16_t(std::lround(std::clamp(v * 32767, -32768.0, 32767.0))));
        }
    }
    return out;
}

Samples as_samples(const Bytes& bytes, size_t from = 0) {
    Samples s;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) s.push_back(int16_t(get16(&bytes[i])));
    return s;
}

// Offset of a chunk of a RIFF file, or 0.
size_t find_chunk(const Bytes& file, const char* id) {
    for (size_t at = 12; at + 8 <= file.size();) {
        if (std::memcmp(&file[at], id, 4) == 0) return at;
        const uint32_t length = get32(&file[at + 4]);
        at += 8 + size_t(length) + (length & 1);
    }
    return 0;
}

void set32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

double snr_db(const Samples& reference, const Samples& decoded) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const double r = reference[i], e = r - (i < decoded.size() ? decoded[i] : 0);
        signal += r * r;
        noise += e * e;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

class Adpcm : public testing_support::DigitalLibrary {
protected:
    void SetUp() override {
        DigitalLibrary::SetUp();
        ASSERT_TRUE(testing_support::have_tool("sox"));
        ASSERT_TRUE(testing_support::have_tool("sndfile-convert"));
        ASSERT_TRUE(testing_support::have_tool("ffmpeg"));
    }

    std::string file(const std::string& name) { return "'" + (drive_.path() / name).string() + "'"; }
    Bytes read(const std::string& name) { return testing_support::read_bytes(drive_.path() / name); }
    void write(const std::string& name, const Bytes& bytes) {
        testing_support::write_bytes(drive_.path() / name, bytes);
    }

    SoundFileInfo info_of(const Bytes& wav) {
        SoundFileInfo info{};
        EXPECT_EQ(SVX_WAV_info(image(wav), &info), 1) << SVX_last_error();
        return info;
    }

    // Our decoder, through SVX_decompress_ADPCM: the PCM values.
    Samples decompress(const Bytes& wav) {
        const SoundFileInfo info = info_of(wav);
        void* out = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(SVX_decompress_ADPCM(&info, &out, &size), 1) << SVX_last_error();
        if (!out) return {};
        const Bytes bytes(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
        SVX_mem_free_lock(out);
        EXPECT_EQ(size, 44 + info.samples * info.channels * 2);
        return as_samples(bytes, 44);
    }

    Samples sox_decode(const std::string& name) {
        EXPECT_TRUE(testing_support::run("sox " + file(name) + " -t s16 " + file(name + ".s16")));
        return as_samples(read(name + ".s16"));
    }

    Samples sndfile_decode(const std::string& name) {
        EXPECT_TRUE(testing_support::run("sndfile-convert -pcm16 " + file(name) + " " +
                                         file(name + ".pcm.wav")));
        return as_samples(testing_support::wav_data(read(name + ".pcm.wav")));
    }

    // Our values equal the oracle's over the values both have; past the
    // oracle's end (the data is over) ours are 0.
    static void expect_prefix(const Samples& ours, const Samples& oracle, const char* who) {
        ASSERT_FALSE(ours.empty());
        ASSERT_FALSE(oracle.empty()) << who;
        for (size_t i = 0; i < ours.size(); ++i)
            ASSERT_EQ(ours[i], i < oracle.size() ? oracle[i] : 0) << who << " differs at value " << i;
    }
};

// ---- decoding against the oracles ------------------------------------------

struct OracleCase {
    const char* name;
    const char* encoder;  // command with IN and OUT
    int channels;
    uint32_t rate;
    uint32_t block_align;
};

class AdpcmOracle : public Adpcm, public ::testing::WithParamInterface<OracleCase> {
protected:
    // Encodes the test signal with the case's encoder; returns the file.
    Bytes encoded() {
        const OracleCase& c = GetParam();
        write("in.wav", pcm16_wav(test_signal(7000, c.channels, c.rate), uint32_t(c.channels), c.rate));
        std::string command = c.encoder;
        command.replace(command.find("IN"), 2, file("in.wav"));
        command.replace(command.find("OUT"), 3, file("ima.wav"));
        EXPECT_TRUE(testing_support::run(command)) << command;
        Bytes wav = read("ima.wav");
        const SoundFileInfo info = info_of(wav);
        EXPECT_EQ(info.format_tag, 17u);
        EXPECT_EQ(info.block_size, c.block_align);
        EXPECT_EQ(info.channels, uint32_t(c.channels));
        return wav;
    }
};

// Our image has the frames "fact" declares (libsndfile and ffmpeg count
// whole blocks there, libsndfile half of them for stereo).
TEST_P(AdpcmOracle, DecodesLikeSoxAndLibsndfile) {
    const Bytes wav = encoded();
    ASSERT_NE(find_chunk(wav, "fact"), 0u);
    const Samples ours = decompress(wav);
    const Samples sox = sox_decode("ima.wav");
    ASSERT_GE(sox.size(), ours.size());
    expect_prefix(ours, sox, "sox");
    expect_prefix(ours, sndfile_decode("ima.wav"), "libsndfile");
}

TEST_P(AdpcmOracle, WithoutFactDecodesEveryBlock) {
    Bytes wav = encoded();
    const size_t fact = find_chunk(wav, "fact");
    ASSERT_NE(fact, 0u);
    wav.erase(wav.begin() + long(fact), wav.begin() + long(fact + 12));
    set32(wav, 4, uint32_t(wav.size() - 8));
    write("nofact.wav", wav);
    const SoundFileInfo info = info_of(wav);
    const uint32_t header = 4 * uint32_t(GetParam().channels);
    const uint32_t blocks = (info.data_length + info.block_size - 1) / info.block_size;
    EXPECT_EQ(info.samples, ((info.block_size - header) * 8 / header + 1) * blocks);
    // The oracles stop at the data the last block really has; past it our
    // image stays zero.
    const Samples ours = decompress(wav);
    const Samples sox = sox_decode("nofact.wav");
    ASSERT_LE(sox.size(), ours.size());
    expect_prefix(ours, sox, "sox");
    const Samples sndfile = sndfile_decode("nofact.wav");
    expect_prefix(Samples(ours.begin(), ours.begin() + long(std::min(ours.size(), sndfile.size()))),
                  sndfile, "libsndfile");
}

// The last block cut short, inside a code word and on a word boundary:
// decoding stops cleanly after the last whole word, the rest stays zero.
TEST_P(AdpcmOracle, TruncatedLastBlockStopsAfterItsLastWholeWord) {
    const Bytes full = encoded();
    const size_t data = find_chunk(full, "data");
    const uint32_t length = get32(&full[data + 4]);
    const uint32_t block = GetParam().block_align;
    const uint32_t channels = uint32_t(GetParam().channels);
    const uint32_t last_start = (length - 1) / block * block;
    for (uint32_t cut : {4 * channels * 3, 4 * channels * 3 + 3}) {
        SCOPED_TRACE(cut);
        Bytes wav(full.begin(), full.begin() + long(data + 8 + last_start + 4 * channels + cut));
        set32(wav, data + 4, last_start + 4 * channels + cut);
        set32(wav, 4, uint32_t(wav.size() - 8));
        write("cut.wav", wav);
        const Samples ours = decompress(wav);
        const Samples sox = sox_decode("cut.wav");
        // Full blocks, the header and 8 frames per whole word.
        const size_t frames =
            last_start / block * size_t(svx::adpcm::frames_per_block(block, int(channels))) + 1 +
            (cut / (4 * channels)) * 8;
        ASSERT_EQ(sox.size(), frames * channels);
        expect_prefix(ours, sox, "sox");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, AdpcmOracle,
    ::testing::Values(
        OracleCase{"SoxMono256", "sox IN -e ima-adpcm OUT", 1, 22050, 256},
        OracleCase{"SoxStereo512", "sox IN -e ima-adpcm OUT", 2, 22050, 512},
        OracleCase{"SndfileMono512", "sndfile-convert -ima-adpcm IN OUT", 1, 22050, 512},
        OracleCase{"SndfileStereo2048", "sndfile-convert -ima-adpcm IN OUT", 2, 44100, 2048},
        OracleCase{"SndfileMono2048", "sndfile-convert -ima-adpcm IN OUT", 1, 44100, 2048},
        OracleCase{"FfmpegMono1024",
                   "ffmpeg -loglevel error -y -i IN -c:a adpcm_ima_wav -block_size 1024 OUT", 1, 22050,
                   1024},
        OracleCase{"FfmpegStereo1024",
                   "ffmpeg -loglevel error -y -i IN -c:a adpcm_ima_wav -block_size 1024 OUT", 2, 22050,
                   1024},
        OracleCase{"FfmpegStereo256",
                   "ffmpeg -loglevel error -y -i IN -c:a adpcm_ima_wav -block_size 256 OUT", 2, 11025,
                   256}),
    [](const auto& info) { return info.param.name; });

// ---- the decoder's edge cases -------------------------------------------------

// One mono block: a header of (first, index), then words of codes.
Bytes mono_block(int16_t first, uint8_t index, const std::vector<uint32_t>& words) {
    Bytes b;
    put16(b, uint16_t(first));
    b.push_back(index);
    b.push_back(0xEE);  // reserved: ignored
    for (uint32_t w : words) put32(b, w);
    return b;
}

Samples decode(const Bytes& data, int64_t block, int channels, size_t frames) {
    Samples out(frames * size_t(channels), 0x5A5A);
    out.resize(svx::adpcm::decode_data(data.data(), data.size(), block, channels, out.data(), frames) *
               size_t(channels));
    return out;
}

TEST(AdpcmDecoder, StepEightyEightAtFullScaleSaturates) {
    // Positive codes at the top can only hold 32767; negative ones fall.
    const Samples up = decode(mono_block(32767, 88, {0x77777777u}), 256, 1, 9);
    EXPECT_EQ(up, Samples(9, 32767));
    const Samples down = decode(mono_block(-32768, 88, {0xFFFFFFFFu}), 256, 1, 9);
    EXPECT_EQ(down, Samples(9, -32768));
    const Samples fall = decode(mono_block(32767, 88, {0x0000000Fu}), 256, 1, 2);
    EXPECT_EQ(fall[1], 32767 - (32767 >> 3) - 32767 - (32767 >> 1) - (32767 >> 2));
}

TEST(AdpcmDecoder, StepIndexAboveEightyEightIsClampedTo88) {
    for (uint8_t index : {89, 120, 255}) {
        SCOPED_TRACE(int(index));
        EXPECT_EQ(decode(mono_block(0, index, {0x12345678u, 0x9ABCDEF0u}), 256, 1, 17),
                  decode(mono_block(0, 88, {0x12345678u, 0x9ABCDEF0u}), 256, 1, 17));
    }
}

// Hand-worked values: code 7 at index 0 adds 7/8 + 7 + 3 + 1 = 11 and moves
// the index to 8 (step 16); code 0xC there subtracts 2 + 16 and moves it to
// 10 (step 19), where code 0 adds 19/8 = 2.
TEST(AdpcmDecoder, CodesAreTakenLowestNibbleFirst) {
    EXPECT_EQ(decode(mono_block(100, 0, {0x0000000C7u}), 256, 1, 4), (Samples{100, 111, 93, 95}));
}

// A stereo block: the left header, the right header, then a left word and
// a right word for every 8 frames; the output is interleaved.
TEST(AdpcmDecoder, StereoAlternatesLeftAndRightWords) {
    Bytes b;
    for (int16_t first : {1000, -1000}) {
        put16(b, uint16_t(first));
        put16(b, 0);
    }
    put32(b, 0x77777777u);  // left rises
    put32(b, 0xFFFFFFFFu);  // right falls
    const Samples s = decode(b, 512, 2, 9);
    ASSERT_EQ(s.size(), 18u);
    EXPECT_EQ(s[0], 1000);
    EXPECT_EQ(s[1], -1000);
    for (size_t f = 1; f < 9; ++f) {
        EXPECT_GT(s[2 * f], s[2 * f - 2]);
        EXPECT_LT(s[2 * f + 1], s[2 * f - 1]);
    }
}

// Data that ends inside a header or a word, blocks too small for their
// headers, odd block sizes: decoding ends without reading past the data
// (exact-size copies for the address checker) and never runs forever.
TEST(AdpcmDecoder, DataEndingAnywhereStopsCleanly) {
    Bytes pattern;
    for (int i = 0; i < 300; ++i) pattern.push_back(uint8_t(i * 37 + 11));
    for (int channels : {1, 2})
        for (int64_t block : {-4, 0, 3, 8, 9, 36, 37, 256})
            for (size_t length = 0; length <= 80; ++length) {
                SCOPED_TRACE(::testing::Message() << channels << " " << block << " " << length);
                auto data = std::make_unique<uint8_t[]>(length);
                std::memcpy(data.get(), pattern.data(), length);
                Samples out(4000 * size_t(channels));
                const size_t frames =
                    svx::adpcm::decode_data(data.get(), length, block, channels, out.data(), 2000);
                // At most 8 frames per 4 bytes per channel, at least one per unit.
                EXPECT_LE(frames, length * 2 / size_t(channels) + 1);
            }
}

// Runs of whole blocks are decoded several at a time; each block must come
// out as if decoded alone, wherever the run ends and however many frames
// are wanted.
TEST(AdpcmDecoder, BlocksDecodedTogetherMatchBlocksDecodedAlone) {
    uint32_t seed = 12345;
    auto next = [&] { return uint8_t((seed = seed * 1664525u + 1013904223u) >> 24); };
    for (int channels : {1, 2})
        for (int64_t block : {int64_t{40}, int64_t{256}, int64_t{1024}})
            for (size_t blocks : {size_t{1}, size_t{3}, size_t{4}, size_t{7}, size_t{8}, size_t{9}, size_t{17}}) {
                SCOPED_TRACE(::testing::Message() << channels << " ch, block " << block << ", " << blocks);
                // Plus a part block behind the whole ones.
                Bytes data(size_t(block) * blocks + 4 * size_t(channels) + 4 * size_t(channels), 0);
                for (uint8_t& b : data) b = next();
                const size_t per_block = size_t(svx::adpcm::frames_per_block(block, channels));
                Samples alone;
                for (size_t b = 0; b < blocks; ++b) {
                    const Bytes one(data.begin() + long(b * size_t(block)),
                                    data.begin() + long((b + 1) * size_t(block)));
                    const Samples s = decode(one, block, channels, per_block);
                    ASSERT_EQ(s.size(), per_block * size_t(channels));
                    alone.insert(alone.end(), s.begin(), s.end());
                }
                const Samples together = decode(data, block, channels, blocks * per_block + 9);
                ASSERT_EQ(together.size(), (blocks * per_block + 9) * size_t(channels));
                EXPECT_EQ(Samples(together.begin(), together.begin() + long(alone.size())), alone);
                // A count that stops inside a block takes the run no further.
                const size_t short_count = blocks * per_block - 5;
                EXPECT_EQ(decode(data, block, channels, short_count),
                          Samples(alone.begin(), alone.begin() + long(short_count * size_t(channels))));
            }
}

// ---- SVX_compress_ADPCM --------------------------------------------------------

Bytes pcm_wav(const Bytes& data, uint32_t channels, uint32_t rate, uint32_t bits) {
    Bytes b = wav_header(1, channels, rate, bits, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct CompressCase {
    const char* name;
    uint32_t rate, channels, bits, frames;
    uint32_t block, per_block, average, data_bytes;
};

class AdpcmCompress : public Adpcm, public ::testing::WithParamInterface<CompressCase> {};

TEST_P(AdpcmCompress, HeaderAndBlockSizes) {
    const CompressCase& c = GetParam();
    const size_t frame_bytes = c.channels * c.bits / 8;
    const Bytes data(c.frames * frame_bytes + (frame_bytes > 1 ? 1 : 0), 0x40);  // + a part frame
    const SoundFileInfo info{1, data.data(), uint32_t(data.size()), c.rate, c.bits, c.channels, c.frames,
                             0};
    void* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_compress_ADPCM(&info, &out, &size), 1) << SVX_last_error();
    ASSERT_NE(out, nullptr);
    const auto* p = static_cast<const uint8_t*>(out);
    EXPECT_EQ(size, 60 + c.data_bytes);
    EXPECT_EQ(std::memcmp(p, "RIFF", 4), 0);
    EXPECT_EQ(get32(p + 4), 52 + c.data_bytes);
    EXPECT_EQ(std::memcmp(p + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(get32(p + 16), 20u);
    EXPECT_EQ(get16(p + 20), 17u);
    EXPECT_EQ(get16(p + 22), c.channels);
    EXPECT_EQ(get32(p + 24), c.rate);
    EXPECT_EQ(get32(p + 28), c.average);
    EXPECT_EQ(get16(p + 32), c.block);
    EXPECT_EQ(get16(p + 34), 4u);
    EXPECT_EQ(get16(p + 36), 2u);
    EXPECT_EQ(get16(p + 38), c.per_block);
    EXPECT_EQ(std::memcmp(p + 40, "fact", 4), 0);
    EXPECT_EQ(get32(p + 44), 4u);
    EXPECT_EQ(get32(p + 48), c.frames);
    EXPECT_EQ(std::memcmp(p + 52, "data", 4), 0);
    EXPECT_EQ(get32(p + 56), c.data_bytes);
    SVX_mem_free_lock(out);

    // Without an image pointer only the size comes back.
    uint32_t size_only = 0;
    EXPECT_EQ(SVX_compress_ADPCM(&info, nullptr, &size_only), 1);
    EXPECT_EQ(size_only, size);
    EXPECT_EQ(SVX_compress_ADPCM(&info, nullptr, nullptr), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AdpcmCompress,
    ::testing::Values(
        // 2 blocks of 1017: the second holds 983 frames, 123 words.
        CompressCase{"Mono16At22050", 22050, 1, 16, 2000, 512, 1017, 11100, 512 + 4 + 123 * 4},
        // One frame short of two blocks: 2040 frames, 255 words a channel.
        CompressCase{"Stereo8At44100", 44100, 2, 8, 4081, 2048, 2041, 44100 * 2048 / 2041,
                     2048 + 8 + 255 * 8},
        CompressCase{"Mono1000At11025", 11025, 1, 16, 1000, 256, 505, 11025 * 256 / 505, 256 + 252},
        CompressCase{"StereoAt8000", 8000, 2, 16, 505, 512, 505, 8000 * 512 / 505, 512},
        CompressCase{"OneFrame", 11025, 1, 8, 1, 256, 505, 11025 * 256 / 505, 4},
        CompressCase{"Empty", 48000, 1, 16, 0, 1024, 2041, 48000 * 1024 / 2041, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(Adpcm, CompressRefusesWhatItCannotConvert) {
    struct Case {
        uint32_t tag, channels, bits;
        const char* message;
    };
    const Case cases[] = {{17, 1, 4, "Data is already compressed."},
                          {3, 1, 32, "Data is already compressed."},
                          {1, 1, 24, "Unsupported PCM data format."},
                          {1, 3, 16, "Unsupported PCM data format."},
                          {1, 0, 16, "Unsupported PCM data format."}};
    const Bytes data(64, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SoundFileInfo info{c.tag, data.data(), 64, 22050, c.bits, c.channels, 32, 256};
        void* out = reinterpret_cast<void*>(1);
        SVX_set_error("");
        EXPECT_EQ(SVX_compress_ADPCM(&info, &out, nullptr), 0);
        EXPECT_STREQ(SVX_last_error(), c.message);
        EXPECT_EQ(out, reinterpret_cast<void*>(1));
    }
    // The block size and the frames a block holds must fit the header's
    // 16-bit fields: at most 128 x 11025 Hz mono, 127 x 11025 Hz stereo.
    struct Rate {
        uint32_t channels, rate;
        int32_t result;
    };
    for (const Rate r : {Rate{1, 128 * 11025, 1}, Rate{1, 129 * 11025, 0}, Rate{2, 127 * 11025 + 11024, 1},
                         Rate{2, 128 * 11025, 0}, Rate{2, 0x66002B11, 0}}) {
        SCOPED_TRACE(testing::Message() << r.channels << " channels at " << r.rate << " Hz");
        SoundFileInfo info{1, data.data(), 64, r.rate, 16, r.channels, 32, 2 * r.channels};
        SVX_set_error("");
        EXPECT_EQ(SVX_compress_ADPCM(&info, nullptr, nullptr), r.result);
        EXPECT_STREQ(SVX_last_error(), r.result ? "" : "Unsupported PCM data format.");
    }
    SoundFileInfo no_data{1, nullptr, 64, 22050, 16, 1, 32, 2};
    EXPECT_EQ(SVX_compress_ADPCM(&no_data, nullptr, nullptr), 0);
    EXPECT_EQ(SVX_compress_ADPCM(nullptr, nullptr, nullptr), 0);
}

// A logarithmic sweep from 20 Hz to 8 kHz at half of full scale.
Samples sweep(size_t frames, int channels, uint32_t rate) {
    Samples out;
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
        phase += 2 * M_PI * 20 * std::pow(400.0, double(i) / double(frames)) / rate;
        for (int c = 0; c < channels; ++c)
            out.push_back(int16_t(std::lround(16384 * std::sin(phase + c))));
    }
    return out;
}

// Blocks carry their first input sample and the step index the previous
// block ended with; sox decodes our image to exactly what we decode, and
// the error against the source is that of IMA ADPCM: our signal-to-noise
// ratio is within 1 dB of sox's own encoder's on the same sound.
TEST_F(Adpcm, CompressedImagesDecodeWithSoxAndKeepTheSound) {
    struct Case {
        const char* name;
        Samples source;
        uint32_t channels, rate;
    };
    std::vector<Case> cases = {{"sweep mono", sweep(66150, 1, 22050), 1, 22050},
                               {"sweep stereo", sweep(88200, 2, 44100), 2, 44100},
                               {"harsh", test_signal(30000, 2, 22050), 2, 22050}};
    // A recording when the machine has one; a voice-like synthesis besides.
    const char* recording = "/usr/share/sounds/alsa/Front_Center.wav";
    if (std::filesystem::exists(recording)) {
        const Bytes wav = testing_support::read_bytes(recording);
        SoundFileInfo info{};
        ASSERT_EQ(SVX_WAV_info(image(wav), &info), 1);
        ASSERT_EQ(info.bits, 16u);
        const auto* p = static_cast<const uint8_t*>(info.data);
        cases.push_back(
            {"recording", as_samples(Bytes(p, p + info.data_length)), info.channels, info.rate});
    }
    Samples voice;
    for (int i = 0; i < 44100; ++i) {
        const double t = i / 22050.0, f0 = 120 + 30 * std::sin(2 * M_PI * 3 * t);
        double v = 0;
        // Harmonics falling 12 dB an octave, a formant near 700 Hz.
        for (int h = 1; h < 30; ++h)
            v += std::sin(2 * M_PI * f0 * h * t) / (h * h) * (std::abs(f0 * h - 700) < 150 ? 8 : 1);
        v *= 0.5 + 0.5 * std::sin(2 * M_PI * 2 * t);
        voice.push_back(int16_t(std::lround(std::clamp(v * 8000, -32768.0, 32767.0))));
    }
    cases.push_back({"voice", voice, 1, 22050});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SoundFileInfo info = info_of(pcm16_wav(c.source, c.channels, c.rate));
        void* out = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(SVX_compress_ADPCM(&info, &out, &size), 1);
        const Bytes compressed(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
        SVX_mem_free_lock(out);
        write("ours.wav", compressed);

        // Each block header holds the block's first input sample, the step
        // index the channel ended the previous block with (0 at first),
        // and a reserved 0.
        const uint32_t block = get16(&compressed[32]), per_block = get16(&compressed[38]);
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            svx::adpcm::Channel predictor;
            for (size_t b = 0; 60 + b * block < compressed.size(); ++b) {
                const uint8_t* header = &compressed[60 + b * block + 4 * ch];
                ASSERT_EQ(int16_t(get16(header)), c.source[b * per_block * c.channels + ch]);
                ASSERT_EQ(header[2], predictor.index) << "block " << b;
                ASSERT_EQ(header[3], 0);
                predictor.value = int16_t(get16(header));
                const size_t words =
                    std::min<size_t>(block, compressed.size() - 60 - b * block) / 4 / c.channels - 1;
                for (size_t w = 0; w < words; ++w) {
                    const uint32_t word = get32(header + 4 * c.channels * (w + 1));
                    for (int k = 0; k < 8; ++k) svx::adpcm::decode(predictor, (word >> (4 * k)) & 15);
                }
            }
        }

        const Samples ours = decompress(compressed);
        ASSERT_EQ(ours.size(), c.source.size());
        // sox plays the padding of the last block too.
        Samples all(c.source.size() + 8 * c.channels);
        all.resize(svx::adpcm::decode_data(&compressed[60], compressed.size() - 60, block,
                                           int(c.channels), all.data(), all.size() / c.channels) *
                   c.channels);
        ASSERT_TRUE(std::equal(ours.begin(), ours.end(), all.begin()));
        EXPECT_EQ(sox_decode("ours.wav"), all);
        write("source.wav", pcm16_wav(c.source, c.channels, c.rate));
        ASSERT_TRUE(
            testing_support::run("sox " + file("source.wav") + " -e ima-adpcm " + file("sox.wav")));
        const double snr = snr_db(c.source, ours), sox_snr = snr_db(c.source, sox_decode("sox.wav"));
        std::printf("[ SNR      ] %s: ours %.1f dB, sox's encoder %.1f dB\n", c.name, snr, sox_snr);
        EXPECT_GT(snr, sox_snr - 1);
    }
}

TEST_F(Adpcm, EightBitInputIsCentredAndScaled) {
    // Unsigned bytes b become (b - 128) * 256: a slow ramp survives to
    // within the quantisation of IMA ADPCM.
    Bytes data;
    for (int i = 0; i < 3000; ++i) data.push_back(uint8_t(128 + std::lround(100 * std::sin(i / 40.0))));
    const SoundFileInfo info = info_of(pcm_wav(data, 1, 11025, 8));
    void* out = nullptr;
    ASSERT_EQ(SVX_compress_ADPCM(&info, &out, nullptr), 1);
    const auto* p = static_cast<const uint8_t*>(out);
    const Bytes compressed(p, p + 60 + get32(p + 56));
    SVX_mem_free_lock(out);
    Samples reference;
    for (uint8_t b : data) reference.push_back(int16_t((b - 128) * 256));
    EXPECT_EQ(int16_t(get16(&compressed[60])), reference[0]);
    EXPECT_GT(snr_db(reference, decompress(compressed)), 25);
}

// ---- SVX_decompress_ADPCM ------------------------------------------------------

TEST_F(Adpcm, DecompressWritesAPcmHeaderAndZeroesWhatTheDataLacks) {
    Bytes data = mono_block(1234, 10, {0x12345678u});
    SoundFileInfo info{17, data.data(), uint32_t(data.size()), 11025, 4, 1, 20, 256};
    void* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_decompress_ADPCM(&info, &out, &size), 1);
    ASSERT_EQ(size, 44u + 40u);
    const Bytes image_bytes(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
    SVX_mem_free_lock(out);
    Bytes expected = wav_header(1, 1, 11025, 16, 40);
    EXPECT_EQ(Bytes(image_bytes.begin(), image_bytes.begin() + 44), expected);
    const Samples values = as_samples(image_bytes, 44);
    EXPECT_EQ(Samples(values.begin(), values.begin() + 9), decode(data, 256, 1, 9));
    EXPECT_EQ(Samples(values.begin() + 9, values.end()), Samples(11, 0));

    uint32_t size_only = 0;
    EXPECT_EQ(SVX_decompress_ADPCM(&info, nullptr, &size_only), 1);
    EXPECT_EQ(size_only, size);
}

// A "fact" count far beyond the data (a fuzzer's 316-byte file asked for
// 2 GB) makes no more frames than the blocks there can hold.
TEST_F(Adpcm, DecompressMakesNoMoreFramesThanTheDataHolds) {
    struct Case {
        uint32_t channels, block, data_bytes, samples, frames;
    };
    for (const Case c : {Case{1, 256, 256, 0x7FFFFFFF, 505}, Case{2, 512, 600, 0xFFFFFFFF, 1010},
                         Case{1, 256, 10, 3, 3}, Case{1, 2, 10, 1000, 3},
                         Case{6, 256, 48, 0x40000000, 78}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, block " << c.block);
        const Bytes data(c.data_bytes, 0x21);
        const SoundFileInfo info{17, data.data(), c.data_bytes, 22050, 4, c.channels, c.samples, c.block};
        void* out = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(SVX_decompress_ADPCM(&info, &out, &size), 1);
        EXPECT_EQ(size, 44 + c.frames * c.channels * 2);
        EXPECT_EQ(get32(static_cast<const uint8_t*>(out) + 40), c.frames * c.channels * 2);
        SVX_mem_free_lock(out);
    }
}

TEST_F(Adpcm, DecompressRefusesWhatItCannotConvert) {
    const Bytes data(64, 0);
    SoundFileInfo pcm{1, data.data(), 64, 22050, 16, 1, 32, 2};
    SVX_set_error("");
    EXPECT_EQ(SVX_decompress_ADPCM(&pcm, nullptr, nullptr), 0);
    EXPECT_STREQ(SVX_last_error(), "Data is not compressed.");
    SoundFileInfo empty{17, data.data(), 64, 22050, 4, 1, 0, 256};
    SVX_set_error("");
    EXPECT_EQ(SVX_decompress_ADPCM(&empty, nullptr, nullptr), 0);
    EXPECT_STREQ(SVX_last_error(), "");
    SoundFileInfo no_data{17, nullptr, 64, 22050, 4, 1, 100, 256};
    EXPECT_EQ(SVX_decompress_ADPCM(&no_data, nullptr, nullptr), 0);
    EXPECT_EQ(SVX_decompress_ADPCM(nullptr, nullptr, nullptr), 0);
}

// ---- the call frame -------------------------------------------------------------

class AdpcmTrace : public testing_support::SoundLibrary {};

TEST_F(AdpcmTrace, BothExportsLogTheirCallAndResult) {
    write_win_ini("[sonvex]\r\nSONVEXDebug=C:\\trace.log\r\n");
    ASSERT_EQ(SVX_startup(), 1);
    const Bytes data(40, 0x11);
    const SoundFileInfo pcm{1, data.data(), 40, 11025, 16, 1, 20, 2};
    uint32_t size = 0;
    EXPECT_EQ(SVX_compress_ADPCM(&pcm, nullptr, &size), 1);
    EXPECT_EQ(SVX_decompress_ADPCM(&pcm, nullptr, nullptr), 0);
    SVX_shutdown();

    auto hex = [](const void* p) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%lX",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
        return std::string(text);
    };
    const std::string log = read_file(drive_.path() / "drive_c" / "trace.log");
    const std::string result = "\r\n" + std::string(15, ' ') + "Result = ";
    EXPECT_NE(
        log.find("] SVX_compress_ADPCM(" + hex(&pcm) + ",0x0," + hex(&size) + ")" + result + "1\r\n"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("] SVX_decompress_ADPCM(" + hex(&pcm) + ",0x0,0x0)" + result + "0\r\n"),
              std::string::npos)
        << log;
}

}  // namespace
