// WAV and VOC images: what the library reads from them, what it refuses,
// and that the files sox and ffmpeg write play their data in order. Every
// image lives in library memory, so the library knows where it ends: the
// sanitizer build proves nothing is read past it.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fake_driver.h"

namespace {

using testing_support::Bytes;
using testing_support::get16;
using testing_support::put16;
using testing_support::put24;
using testing_support::put32;
using testing_support::put_text;
using namespace svx::digital;

// ---- RIFF images built piece by piece ----

struct Chunk {
    std::string id;
    Bytes body;
    int64_t declared = -1;  // length field; -1: the body's size
    bool pad = true;        // add the pad byte after an odd body
};

Bytes fmt_body(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t align) {
    Bytes b;
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * align);
    put16(b, align);
    put16(b, bits);
    return b;
}

Bytes riff(const std::vector<Chunk>& chunks, int64_t riff_size = -1, const char* form = "WAVE") {
    Bytes b;
    put_text(b, "RIFF");
    put32(b, 0);
    put_text(b, form);
    for (const Chunk& c : chunks) {
        put_text(b, c.id.c_str());
        put32(b, uint32_t(c.declared >= 0 ? c.declared : int64_t(c.body.size())));
        b.insert(b.end(), c.body.begin(), c.body.end());
        if (c.pad && (c.body.size() & 1)) b.push_back(0);
    }
    const uint32_t size = uint32_t(riff_size >= 0 ? riff_size : int64_t(b.size() - 8));
    b[4] = uint8_t(size);
    b[5] = uint8_t(size >> 8);
    b[6] = uint8_t(size >> 16);
    b[7] = uint8_t(size >> 24);
    return b;
}

Bytes pcm8(size_t count) {
    Bytes data(count);
    for (size_t i = 0; i < count; ++i) data[i] = uint8_t(1 + i % 250);
    return data;
}

Chunk fmt8() { return {"fmt ", fmt_body(1, 1, 22050, 8, 1)}; }

// ---- VOC images ----

Bytes voc_header() {
    Bytes b;
    put_text(b, "Creative Voice File\x1A");
    put16(b, 26);
    put16(b, 0x010A);
    put16(b, 0x1129);
    return b;
}

void voc_block(Bytes& b, uint8_t type, const Bytes& body) {
    b.push_back(type);
    put24(b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
}

// A type 1 block of 8-bit data at 1,000,000 / (256 - tc) Hz.
void voc_sound(Bytes& b, const Bytes& data, uint8_t tc = 211) {
    Bytes body{tc, 0};
    body.insert(body.end(), data.begin(), data.end());
    voc_block(b, 1, body);
}

void voc_u16(Bytes& b, uint8_t type, uint16_t value) {
    Bytes body;
    put16(body, value);
    voc_block(b, type, body);
}

class SoundFiles : public testing_support::FakeDriver {
protected:
    // The pieces of sound a VOC image yields, in order (at most `limit`).
    std::vector<VocData> pieces(const Bytes& voc, int32_t marker, size_t limit = 20) {
        VocCursor cursor = voc_open(voc.data(), voc.size(), marker);
        std::vector<VocData> found;
        VocData data;
        while (found.size() < limit && voc_next_sound(cursor, data)) found.push_back(data);
        return found;
    }
    // Where each piece starts, as offsets into the image.
    std::vector<size_t> offsets(const Bytes& voc, const std::vector<VocData>& found) {
        std::vector<size_t> at;
        for (const VocData& d : found) at.push_back(size_t(d.data - voc.data()));
        return at;
    }
};

// ---- WAV ----

TEST_F(SoundFiles, SoxWavOfSixteenBitStereoDescribesTheSample) {
    ASSERT_TRUE(testing_support::have_tool("sox")) << "sox is needed (tools/packages/test-sound.txt)";
    const auto path = drive_.path() / "stereo.wav";
    ASSERT_TRUE(testing_support::run("sox -n -r 44100 -b 16 -c 2 '" + path.string() +
                                     "' synth 0.1 sine 440 sine 660"));
    const Bytes file = testing_support::read_bytes(path);
    const void* wav = image(file);

    SoundFileInfo info{};
    ASSERT_EQ(SVX_WAV_info(wav, &info), 1);
    EXPECT_EQ(info.format_tag, 1u);
    EXPECT_EQ(info.channels, 2u);
    EXPECT_EQ(info.rate, 44100u);
    EXPECT_EQ(info.bits, 16u);
    EXPECT_EQ(info.block_size, 4u);
    EXPECT_EQ(info.data_length, 4410u * 4);
    EXPECT_EQ(info.samples, 4410u * 2);
    EXPECT_EQ(static_cast<const uint8_t*>(info.data) + info.data_length,
              static_cast<const uint8_t*>(wav) + file.size());

    HSAMPLE s = allocate();
    ASSERT_EQ(SVX_set_sample_file(s, wav, 0), 1);
    EXPECT_EQ(SVX_sample_playback_rate(s), 44100);
    EXPECT_EQ(SVX_sample_granularity(s), 4);
    EXPECT_EQ(sample_of(s)->format.load(), 3u);
    EXPECT_EQ(sample_of(s)->flags.load(), 1u);
}

TEST_F(SoundFiles, ALoopHoldingLessThanAFrameEndsTheStepInsteadOfSpinning) {
    // 16-bit stereo data whose last frame is cut short, looped for ever
    // from that partial frame: each pass plays nothing.
    struct Case {
        const char* what;
        Bytes file;
        int32_t loop_start;
    } cases[] = {
        {"partial stereo frame", riff({{"fmt ", fmt_body(1, 2, 22050, 16, 4)}, {"data", pcm8(689)}}), 688},
        {"loop past the data", riff({{"fmt ", fmt_body(1, 1, 22050, 8, 1)}, {"data", pcm8(64)}}), 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HSAMPLE s = allocate();
        ASSERT_EQ(SVX_set_sample_file(s, image(c.file), -1), 1);
        SVX_set_sample_loop_count(s, 0);
        SVX_set_sample_loop_block(s, c.loop_start, -1);
        SVX_start_sample(s);
        for (int step = 0; step < 3; ++step) (void)mix(s, 256);  // each returns
        SVX_end_sample(s);
    }
}

TEST_F(SoundFiles, ImaAdpcmSampleCountComesFromFactOrTheBlocks) {
    const Chunk mono_fmt{"fmt ", fmt_body(17, 1, 22050, 4, 256)};
    auto samples = [](const Bytes& file) {
        SoundFileInfo info{};
        EXPECT_TRUE(parse_wav(file.data(), file.size(), info));
        return info.samples;
    };
    // 505 samples in each of 3 blocks; stereo: 505 per 512-byte block.
    EXPECT_EQ(samples(riff({mono_fmt, {"data", Bytes(600)}})), 1515u);
    EXPECT_EQ(samples(riff({{"fmt ", fmt_body(17, 2, 22050, 4, 512)}, {"data", Bytes(1024)}})), 1010u);
    Bytes fact;
    put32(fact, 1234);
    EXPECT_EQ(samples(riff({mono_fmt, {"fact", fact}, {"data", Bytes(600)}})), 1234u);
    // A block size of 0 gives no count rather than a division by zero.
    EXPECT_EQ(samples(riff({{"fmt ", fmt_body(17, 1, 22050, 4, 0)}, {"data", Bytes(600)}})), 0u);
    // Any channel count: 4 header bytes per channel, and no count when the
    // block cannot hold them (124 channels once made a division by zero,
    // 64,512 a shift past 63 bits).
    struct Channels {
        uint16_t channels;
        uint16_t block;
        uint32_t expected;
    };
    for (const Channels c : {Channels{3, 1024, 675}, Channels{0, 256, 0}, Channels{124, 256, 0},
                             Channels{127, 512, 1}, Channels{252, 2048, 9},
                             Channels{64512, 0xFFFF, 0}}) {
        SCOPED_TRACE(c.channels);
        EXPECT_EQ(samples(riff({{"fmt ", fmt_body(17, c.channels, 8000, 4, c.block)},
                                {"data", Bytes(c.block)}})),
                  c.expected);
    }

    HSAMPLE s = allocate();
    ASSERT_EQ(SVX_set_sample_file(s, image(riff({mono_fmt, {"data", Bytes(600)}})), 0), 1);
    EXPECT_EQ(sample_of(s)->format.load(), 5u);
    EXPECT_EQ(SVX_sample_granularity(s), 256);
}

struct BadCase {
    const char* name;
    Bytes file;
    int32_t result;
    const char* error;        // last error after SVX_set_sample_file
    uint32_t data_length = 0;  // on success
};

class BadInput : public SoundFiles, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadInput, TheRightMessageAndNothingReadOutsideTheImage) {
    const BadCase& c = GetParam();
    HSAMPLE s = allocate();
    SVX_set_error("");
    EXPECT_EQ(SVX_set_sample_file(s, image(c.file), -1), c.result);
    EXPECT_STREQ(SVX_last_error(), c.error);
    if (c.result == 1) {
        uint32_t length = 0;
        SVX_sample_buffer_info(s, nullptr, &length, nullptr, nullptr);
        EXPECT_EQ(length, c.data_length);
        SVX_start_sample(s);
        (void)mix_to_end(s, 256);  // plays what it was given, and ends
        EXPECT_EQ(SVX_sample_status(s), SVX_DONE);
    }
    EXPECT_EQ(SVX_allocate_file_sample(handle(), image(c.file), -1) != nullptr, c.result == 1);
}

Bytes cut(Bytes b, size_t size) {
    b.resize(size);
    return b;
}

Bytes voc_with(const std::function<void(Bytes&)>& blocks) {
    Bytes b = voc_header();
    blocks(b);
    return b;
}

const char* kUnknown = "Unknown file type.";
const char* kNoBlock = "Invalid or missing data block.";
const char* kUnsupported = "Unsupported wave file format.";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadCase{"TruncatedRiff", cut(riff({fmt8(), {"data", pcm8(10)}}), 11), 0, kUnknown},
        BadCase{"NotWave", riff({fmt8(), {"data", pcm8(10)}}, -1, "AVI "), 0, kUnknown},
        BadCase{"HeaderOnly", riff({}), 0, kUnknown},
        BadCase{"MissingFmt", riff({{"data", pcm8(10)}}), 0, kUnknown},
        BadCase{"MissingData", riff({fmt8()}), 0, kUnknown},
        BadCase{"FmtCutShort", cut(riff({fmt8()}), 12 + 8 + 10), 0, kUnknown},
        BadCase{"FmtLengthPastTheImage",
                riff({{"fmt ", fmt_body(1, 1, 22050, 8, 1), 0x7FFFFFF0}, {"data", pcm8(10)}}), 0,
                kUnknown},
        BadCase{"DataBeyondTheRiffSize", riff({fmt8(), {"data", pcm8(10)}}, 30), 0, kUnknown},
        BadCase{"DataLengthPastTheImage", riff({fmt8(), {"data", pcm8(40), 1000}}), 1, "", 40},
        BadCase{"DataLengthPastTheRiffSize", riff({fmt8(), {"data", pcm8(40), 1000}}, 0x7FFFFFFF),
                1, "", 40},
        BadCase{"OddChunkWithPad", riff({fmt8(), {"LIST", Bytes{1, 2, 3}}, {"data", pcm8(21)}}), 1,
                "", 21},
        BadCase{"OddFmtLength",
                riff({{"fmt ", [] {
                           Bytes b = fmt_body(1, 1, 22050, 8, 1);
                           b.push_back(0);
                           return b;
                       }()},
                      {"data", pcm8(9)}}),
                1, "", 9},
        BadCase{"UnsupportedTag", riff({{"fmt ", fmt_body(3, 1, 22050, 32, 4)}, {"data", pcm8(8)}}),
                0, kUnsupported},
        BadCase{"ZeroBits", riff({{"fmt ", fmt_body(1, 1, 22050, 0, 1)}, {"data", pcm8(8)}}), 0,
                kUnsupported},
        BadCase{"TwentyFourBits", riff({{"fmt ", fmt_body(1, 2, 44100, 24, 6)}, {"data", pcm8(12)}}),
                0, kUnsupported},
        BadCase{"ThirtyTwoBits", riff({{"fmt ", fmt_body(1, 2, 48000, 32, 8)}, {"data", pcm8(16)}}),
                0, kUnsupported},
        BadCase{"SixChannels", riff({{"fmt ", fmt_body(1, 6, 48000, 16, 12)}, {"data", pcm8(24)}}),
                0, kUnsupported},
        BadCase{"ZeroChannels", riff({{"fmt ", fmt_body(1, 0, 22050, 8, 1)}, {"data", pcm8(8)}}),
                0, kUnsupported},
        BadCase{"EmptyDataChunkLast", riff({fmt8(), {"data", {}}}), 1, "", 0},
        // What a fuzzer found: IMA ADPCM with 124 channels and no "fact".
        BadCase{"AdpcmOf124Channels",
                riff({{"fmt ", [] {
                           Bytes b = fmt_body(17, 124, 8000, 4, 256);
                           put16(b, 2);
                           put16(b, 505);
                           return b;
                       }()},
                      {"data", Bytes(16)}}),
                0, kUnsupported},
        BadCase{"AdpcmOf64512Channels",
                riff({{"fmt ", fmt_body(17, 64512, 8000, 4, 0x7FFF)}, {"data", Bytes(16)}}), 0,
                kUnsupported},
        BadCase{"AdpcmOfEightBits",
                riff({{"fmt ", fmt_body(17, 1, 22050, 8, 256)}, {"data", pcm8(256)}}), 0,
                kUnsupported},
        BadCase{"VocHeaderCut", cut(voc_header(), 19), 0, kNoBlock},
        BadCase{"VocFirstBlockPastTheImage", [] {
                    Bytes b = voc_header();
                    b[20] = 0xFF;
                    return b;
                }(), 0, kNoBlock},
        BadCase{"VocBlockLengthPastTheEnd", cut(voc_with([](Bytes& b) { voc_sound(b, pcm8(1000)); }), 40),
                0, kNoBlock},
        BadCase{"VocTerminatorFirst", voc_with([](Bytes& b) {
                    voc_u16(b, 4, 1);
                    b.push_back(0);
                    voc_sound(b, pcm8(10));
                }), 0, kNoBlock},
        BadCase{"VocWithoutTerminator", voc_with([](Bytes& b) { voc_sound(b, pcm8(30)); }), 1, "",
                30}),
    [](const auto& info) { return info.param.name; });

// The RIFF size counts from offset 8: a chunk that ends exactly there,
// even an empty one, is inside it; one that starts there is not.
TEST_F(SoundFiles, ChunksReachExactlyToTheEndOfTheRiff) {
    const Bytes empty_data = riff({fmt8(), {"data", {}}});
    ASSERT_EQ(empty_data.size(), 44u);
    const void* wav = image(empty_data);
    SoundFileInfo info{};
    ASSERT_EQ(SVX_WAV_info(wav, &info), 1) << SVX_last_error();
    EXPECT_EQ(info.data_length, 0u);
    EXPECT_EQ(info.data, static_cast<const uint8_t*>(wav) + 44);
    EXPECT_EQ(SVX_WAV_info(image(riff({fmt8(), {"data", {}}}, 35)), &info), 0);

    // The compressor's own image of no frames is a WAV file too.
    const Bytes none(2);
    const SoundFileInfo pcm{1, none.data(), 0, 22050, 16, 1, 0, 2};
    void* compressed = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_compress_ADPCM(&pcm, &compressed, &size), 1);
    EXPECT_EQ(size, 60u);
    EXPECT_EQ(SVX_WAV_info(compressed, &info), 1) << SVX_last_error();
    EXPECT_EQ(info.format_tag, 17u);
    EXPECT_EQ(info.samples, 0u);
    SVX_mem_free_lock(compressed);
}

TEST_F(SoundFiles, WavInfoSaysNotAWavFile) {
    SoundFileInfo info{};
    info.rate = 77;
    EXPECT_EQ(SVX_WAV_info(image(riff({fmt8()})), &info), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a WAV file.");
    EXPECT_EQ(info.rate, 77u);
    EXPECT_EQ(SVX_WAV_info(image(riff({fmt8(), {"data", pcm8(4)}})), nullptr), 1);
}

// ---- VOC block walk ----

TEST_F(SoundFiles, MarkersSelectTheBlocksThatFollowThem) {
    const Bytes a = pcm8(10), b = pcm8(11), c = pcm8(12);
    const Bytes voc = voc_with([&](Bytes& v) {
        voc_u16(v, 4, 1);
        voc_sound(v, a);
        voc_u16(v, 4, 2);
        voc_sound(v, b);
        voc_u16(v, 4, 1);
        voc_sound(v, c);
        v.push_back(0);
    });
    auto lengths = [&](int32_t marker) {
        std::vector<uint32_t> out;
        for (const VocData& d : pieces(voc, marker)) out.push_back(d.length);
        return out;
    };
    EXPECT_EQ(lengths(-1), (std::vector<uint32_t>{10, 11, 12}));
    EXPECT_EQ(lengths(1), (std::vector<uint32_t>{10, 12}));
    EXPECT_EQ(lengths(2), (std::vector<uint32_t>{11}));
    EXPECT_TRUE(lengths(3).empty());

    HSAMPLE s = allocate();
    EXPECT_EQ(SVX_set_sample_file(s, image(voc), 3), 0);
    EXPECT_STREQ(SVX_last_error(), kNoBlock);
    EXPECT_EQ(SVX_set_sample_file(s, image(voc), 2), 1);
    uint32_t length = 0;
    SVX_sample_buffer_info(s, nullptr, &length, nullptr, nullptr);
    EXPECT_EQ(length, 11u);
}

TEST_F(SoundFiles, RepeatBlocksPlayTheirBodyCountPlusOneTimes) {
    const Bytes a = pcm8(10), b = pcm8(20);
    const Bytes voc = voc_with([&](Bytes& v) {
        voc_u16(v, 6, 2);
        voc_sound(v, a);
        voc_block(v, 7, {});
        voc_sound(v, b);
        voc_block(v, 7, {});  // a stray repeat end: ignored
        v.push_back(0);
    });
    const auto found = pieces(voc, -1);
    const size_t at_a = 26 + 6 + 4 + 2;
    const size_t at_b = at_a + 10 + 4 + 4 + 2;
    EXPECT_EQ(offsets(voc, found), (std::vector<size_t>{at_a, at_a, at_a, at_b}));
}

TEST_F(SoundFiles, RepeatForeverLoopsSoundButNotNothing) {
    const Bytes voc = voc_with([](Bytes& v) {
        voc_u16(v, 6, 0xFFFF);
        voc_sound(v, pcm8(10));
        voc_block(v, 7, {});
        v.push_back(0);
    });
    EXPECT_EQ(pieces(voc, -1, 50).size(), 50u);

    const Bytes empty_loop = voc_with([](Bytes& v) {
        voc_u16(v, 6, 0xFFFF);
        voc_u16(v, 4, 9);
        voc_block(v, 7, {});
        voc_sound(v, pcm8(10));
        v.push_back(0);
    });
    EXPECT_TRUE(pieces(empty_loop, -1).empty());
}

TEST_F(SoundFiles, FormatBlocksSetRateAndFormat) {
    Bytes ext;
    put16(ext, 65536 - 2902);  // 128,000,000 / 2902 = 44107 Hz stereo
    ext.push_back(0);
    ext.push_back(1);
    auto new_format = [](uint32_t rate, uint8_t bits, uint8_t channels, uint16_t codec,
                         const Bytes& data) {
        Bytes b;
        put32(b, rate);
        b.push_back(bits);
        b.push_back(channels);
        put16(b, codec);
        put32(b, 0);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    const Bytes voc = voc_with([&](Bytes& v) {
        voc_block(v, 8, ext);
        voc_sound(v, pcm8(8), 0);      // no rate of its own after a type 8
        voc_sound(v, pcm8(8), 156);    // 1,000,000 / 100
        voc_block(v, 2, pcm8(6));      // goes on in the format before it
        voc_block(v, 9, new_format(32000, 16, 1, 4, pcm8(4)));
        voc_block(v, 9, new_format(16000, 8, 2, 0, pcm8(4)));
        voc_block(v, 9, new_format(8000, 8, 1, 6, pcm8(4)));  // a-law: not played
        voc_block(v, 5, Bytes{'h', 'i', 0});
        voc_block(v, 9, new_format(11025, 16, 2, 4, pcm8(8)));
        v.push_back(0);
    });
    struct Expected {
        uint32_t length;
        int32_t rate;
        uint32_t format, flags;
    };
    const std::vector<Expected> expected = {{8, 44107, 2, 0}, {8, 10000, 0, 0},    {6, 10000, 0, 0},
                                            {4, 32000, 1, 1}, {4, 16000, 2, 0}, {8, 11025, 3, 1}};
    const auto found = pieces(voc, -1);
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].length, expected[i].length) << i;
        EXPECT_EQ(found[i].rate, expected[i].rate) << i;
        EXPECT_EQ(found[i].format, expected[i].format) << i;
        EXPECT_EQ(found[i].flags, expected[i].flags) << i;
    }
}

// ---- files written by sox and ffmpeg, played through the mixing step ----

class VocFromTools : public SoundFiles {
protected:
    // Raw data through `command` (with IN and OUT in it) into a VOC image.
    const void* convert(const Bytes& raw, const std::string& command) {
        const auto in = drive_.path() / "in.raw";
        const auto out = drive_.path() / "out.voc";
        testing_support::write_bytes(in, raw);
        std::string line = command;
        line.replace(line.find("IN"), 2, "'" + in.string() + "'");
        line.replace(line.find("OUT"), 3, "'" + out.string() + "'");
        EXPECT_TRUE(testing_support::run(line)) << line;
        file_ = testing_support::read_bytes(out);
        return image(file_);
    }
    // The block types of the last file made, read by the test itself.
    std::vector<int> block_types() {
        std::vector<int> types;
        size_t at = file_.size() >= 22 ? get16(&file_[20]) : file_.size();
        while (at < file_.size() && file_[at] != 0 && at + 4 <= file_.size()) {
            types.push_back(file_[at]);
            at += 4 + (file_[at + 1] | file_[at + 2] << 8 | file_[at + 3] << 16);
        }
        return types;
    }
    // Plays an allocated file sample on an output of its own rate.
    std::vector<int32_t> play(const void* voc, int32_t channels) {
        configure(22050, channels, 2);
        HSAMPLE s = SVX_allocate_file_sample(handle(), voc, -1);
        EXPECT_NE(s, nullptr) << SVX_last_error();
        if (!s) return {};
        driver_.rate = SVX_sample_playback_rate(s);
        SVX_start_sample(s);
        std::vector<int32_t> out = mix_to_end(s, 512);
        EXPECT_EQ(SVX_sample_status(s), SVX_FREE);  // released at its end
        return out;
    }
    Bytes file_;
};

std::vector<int32_t> as_unsigned8(const Bytes& raw) {
    std::vector<int32_t> v;
    for (uint8_t b : raw) v.push_back((int32_t(b) - 128) * 256);
    return v;
}

std::vector<int32_t> as_signed16(const Bytes& raw) {
    std::vector<int32_t> v;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) v.push_back(int16_t(get16(&raw[i])));
    return v;
}

// `out` is `expected` followed by silence only.
void expect_played(const std::vector<int32_t>& out, const std::vector<int32_t>& expected) {
    ASSERT_GE(out.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + long(expected.size()), out.end(), [](int32_t v) { return v == 0; }));
}

TEST_F(VocFromTools, SoxEightBitMonoIsOneBlock1) {
    ASSERT_TRUE(testing_support::have_tool("sox"));
    const Bytes raw = pcm8(3000);
    const void* voc = convert(raw, "sox -t raw -r 22050 -e unsigned -b 8 -c 1 IN -t voc OUT");
    EXPECT_EQ(block_types(), std::vector<int>{1});
    expect_played(play(voc, 1), as_unsigned8(raw));
}

TEST_F(VocFromTools, SoxEightBitStereoIsBlock8ThenBlock1) {
    ASSERT_TRUE(testing_support::have_tool("sox"));
    const Bytes raw = pcm8(3000);
    const void* voc = convert(raw, "sox -t raw -r 22050 -e unsigned -b 8 -c 2 IN -t voc OUT");
    EXPECT_EQ(block_types(), (std::vector<int>{8, 1}));
    expect_played(play(voc, 2), as_unsigned8(raw));  // stereo to stereo, left then right
}

TEST_F(VocFromTools, SoxSixteenBitBlockIsShortAndItsStrayBytesStopTheFile) {
    ASSERT_TRUE(testing_support::have_tool("sox"));
    Bytes raw;
    for (int i = 0; i < 1000; ++i) put16(raw, uint16_t(i * 37 - 9000));
    // The last 8 bytes, left outside the block, look like a sound block
    // running far past the end of the file.
    const Bytes tail = {1, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    std::copy(tail.begin(), tail.end(), raw.end() - 8);
    const void* voc = convert(raw, "sox -t raw -r 22050 -e signed -b 16 -c 1 IN -t voc OUT");
    EXPECT_EQ(block_types().front(), 9);
    const std::vector<int32_t> out = play(voc, 1);
    std::vector<int32_t> expected = as_signed16(raw);
    // sox declares the block 8 bytes short; what it declares is played.
    expected.resize(expected.size() - 4);
    expect_played(out, expected);
}

TEST_F(VocFromTools, FfmpegContinuesWithBlock2) {
    ASSERT_TRUE(testing_support::have_tool("ffmpeg"));
    const Bytes raw8 = pcm8(9000);
    const void* voc8 = convert(raw8, "ffmpeg -nostdin -y -f u8 -ar 22050 -ac 1 -i IN -c:a pcm_u8 -f voc OUT");
    std::vector<int> types = block_types();
    EXPECT_EQ(types.front(), 1);
    EXPECT_GE(std::count(types.begin(), types.end(), 2), 2);
    expect_played(play(voc8, 1), as_unsigned8(raw8));

    Bytes raw16;
    for (int i = 0; i < 6000; ++i) put16(raw16, uint16_t(i * 11 + 1));
    const void* voc16 = convert(raw16, "ffmpeg -nostdin -y -f s16le -ar 22050 -ac 1 -i IN -f voc OUT");
    types = block_types();
    EXPECT_EQ(types.front(), 9);
    EXPECT_GE(std::count(types.begin(), types.end(), 2), 2);
    expect_played(play(voc16, 1), as_signed16(raw16));
}

}  // namespace
