// "MLS " compression, its expansion through SVX_extract_DLS, and the DLS
// listing, on collections the fixture writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dls_fixture.h"
#include "midi/dls_collection.h"
#include "midi/dls_synth.h"
#include "sonvex.h"
#include "sound_fixture.h"

namespace {

namespace fx = dls_fixture;
using fx::Bytes;
using namespace svx::dls;

uint32_t le32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24; }

fx::Collection sine_collection() {
    fx::Collection c;
    std::vector<int16_t> sine;
    for (int i = 0; i < 3000; ++i) sine.push_back(int16_t(12000 * std::sin(i * 0.05)));
    fx::Wave a;
    a.data = fx::pcm16(sine);
    a.sample = fx::Wsmp{60, 0, 0, fx::Loop{1000, 1500}};
    fx::Wave b;
    b.bits = 8;
    b.rate = 11025;
    for (int i = 0; i < 801; ++i) b.data.push_back(uint8_t(128 + 100 * std::sin(i * 0.1)));  // odd length
    c.waves = {a, b};
    c.instruments.push_back(fx::Instrument(0, 0, {fx::Region(0, 63, 0), fx::Region(64, 127, 1)}));
    c.instruments.push_back(fx::Instrument(0x80000000u, 0, {fx::Region(0, 127, 1)}));
    c.order = "cwpi";
    return c;
}

class DlsCompression : public testing_support::SoundLibrary {
protected:
    void SetUp() override { SVX_startup(); }
    void TearDown() override {
        for (void* b : blocks_) SVX_mem_free_lock(b);
        SoundLibrary::TearDown();
    }
    // A library block holding `b`: the library then knows its size.
    const void* block(const Bytes& b) {
        void* p = SVX_mem_alloc_lock(int32_t(std::max<size_t>(b.size(), 1)));
        if (!b.empty()) std::memcpy(p, b.data(), b.size());
        blocks_.push_back(p);
        return p;
    }
    Bytes take(void* p, uint32_t size) {
        Bytes out(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + size);
        SVX_mem_free_lock(p);
        return out;
    }
    Bytes compress(const Bytes& dls) {
        void* out = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(SVX_compress_DLS(block(dls), &out, &size), 1) << SVX_last_error();
        return out ? take(out, size) : Bytes{};
    }
    Bytes extract(const Bytes& mls) {
        void* out = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(SVX_extract_DLS(mls.data(), uint32_t(mls.size()), nullptr, nullptr, &out, &size), 1)
            << SVX_last_error();
        return out ? take(out, size) : Bytes{};
    }
    std::vector<void*> blocks_;
};

// The ids of a wave list's chunks, in order.
std::vector<std::string> wave_chunks(const Bytes& b, size_t list) {
    std::vector<std::string> ids;
    const size_t end = list + 8 + le32(&b[list + 4]);
    for (size_t at = list + 12; at + 8 <= end;) {
        ids.emplace_back(reinterpret_cast<const char*>(&b[at]), 4);
        const uint32_t n = le32(&b[at + 4]);
        at += 8 + n + (n & 1);
    }
    return ids;
}

TEST_F(DlsCompression, WavesBecomeAdpcmWithTheirPcmFormatFirstAndThePoolTableFollows) {
    const Bytes dls = fx::build(sine_collection());
    const Bytes mls = compress(dls);
    ASSERT_GE(mls.size(), 12u);
    EXPECT_EQ(std::string(mls.begin() + 8, mls.begin() + 12), "MLS ");
    EXPECT_EQ(le32(&mls[4]) + 8, mls.size());
    EXPECT_LT(mls.size(), dls.size() / 2);
    // Every pool-table offset lands on a wave list that starts pcm, fmt, fact.
    size_t ptbl = 0, wvpl = 0;
    for (size_t at = 12; at + 8 <= mls.size();) {
        if (std::memcmp(&mls[at], "ptbl", 4) == 0) ptbl = at;
        if (std::memcmp(&mls[at], "LIST", 4) == 0 && std::memcmp(&mls[at + 8], "wvpl", 4) == 0) wvpl = at + 12;
        const uint32_t n = le32(&mls[at + 4]);
        at += 8 + n + (n & 1);
    }
    ASSERT_TRUE(ptbl && wvpl);
    ASSERT_EQ(le32(&mls[ptbl + 12]), 2u);
    for (int i = 0; i < 2; ++i) {
        const size_t list = wvpl + le32(&mls[ptbl + 16 + 4 * size_t(i)]);
        ASSERT_EQ(std::string(mls.begin() + long(list), mls.begin() + long(list) + 4), "LIST");
        const auto ids = wave_chunks(mls, list);
        ASSERT_GE(ids.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(ids.begin(), ids.begin() + 4),
                  (std::vector<std::string>{"pcm ", "fmt ", "fact", "data"}));
    }
    // The engine plays only DLS: a compressed collection is no collection to it.
    Collection c;
    EXPECT_EQ(parse_collection(mls.data(), mls.size(), c), kNotDls);
}

// Renders a note of `program` on channel 1 through an engine on its own
// and returns its first output buffers.
std::vector<int16_t> render_note(const Bytes& dls, int key) {
    std::vector<int16_t> out, memory(512);
    struct Sink {
        std::vector<int16_t>* out;
        std::vector<int16_t>* memory;
    } sink{&out, &memory};
    auto ready = [](void*) -> int32_t { return 0; };
    auto address = [](void* u, int32_t) -> void* { return static_cast<Sink*>(u)->memory->data(); };
    auto load = [](void* u, int32_t, uint32_t bytes) {
        auto* s = static_cast<Sink*>(u);
        s->out->insert(s->out->end(), s->memory->begin(), s->memory->begin() + bytes / 2);
    };
    auto synth = make_synth(nullptr, 1, 22050, 1024, Output{&sink, ready, address, load});
    uint32_t id = 0;
    EXPECT_EQ(load_collection(*synth, dls.data(), dls.size(), "t", false, id), kOk);
    intercept_event(*synth, nullptr, 0xB0, 7, 127);
    intercept_event(*synth, nullptr, 0x90, key, 127);
    for (int i = 0; i < 20; ++i) render(*synth, 10);
    unload_all(*synth);
    return out;
}

TEST_F(DlsCompression, ExtractionExpandsBackToACollectionThatPlaysWithinAdpcmError) {
    const Bytes dls = fx::build(sine_collection());
    const Bytes back = extract(compress(dls));
    ASSERT_GE(back.size(), 12u);
    EXPECT_EQ(std::string(back.begin() + 8, back.begin() + 12), "DLS ");
    Collection a, b;
    ASSERT_EQ(parse_collection(dls.data(), dls.size(), a), kOk);
    ASSERT_EQ(parse_collection(back.data(), back.size(), b), kOk);
    ASSERT_EQ(b.instruments.size(), 2u);
    ASSERT_EQ(b.waves.size(), 2u);
    for (size_t w = 0; w < 2; ++w) {
        SCOPED_TRACE(w);
        EXPECT_EQ(b.waves[w].format, a.waves[w].format);
        EXPECT_EQ(b.waves[w].rate, a.waves[w].rate);
        ASSERT_EQ(b.waves[w].frames(), a.waves[w].frames());
        EXPECT_EQ(b.waves[w].sample.loop.start, a.waves[w].sample.loop.start);
        EXPECT_EQ(b.waves[w].sample.loop.length, a.waves[w].sample.loop.length);
    }
    for (int key : {60, 70}) {
        SCOPED_TRACE(key);
        const auto original = render_note(dls, key);
        const auto expanded = render_note(back, key);
        ASSERT_EQ(original.size(), expanded.size());
        ASSERT_GT(original.size(), 1000u);
        // IMA ADPCM starts at its smallest step and needs a few dozen frames
        // to catch up with a loud wave; after that it follows closely.
        int worst = 0;
        double signal = 0;
        for (size_t i = 128; i < original.size(); ++i) {
            worst = std::max(worst, std::abs(original[i] - expanded[i]));
            signal = std::max(signal, double(std::abs(original[i])));
        }
        EXPECT_GT(signal, 5000);
        EXPECT_LT(worst, signal / 20) << "ADPCM of a slow sine stays within 5%";
    }
}

TEST_F(DlsCompression, RefusesWhatIsNoDlsCollection) {
    const Bytes dls = fx::build(sine_collection());
    const Bytes mls = compress(dls);
    void* out = &out;
    uint32_t size = 9;
    EXPECT_EQ(SVX_compress_DLS(block(mls), &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a DLS file.");
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
    fx::Collection no_pool = sine_collection();
    no_pool.order = "ciw";
    EXPECT_EQ(SVX_compress_DLS(block(fx::build(no_pool)), &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "No PTBL chunk found.");
    EXPECT_EQ(SVX_compress_DLS(block(Bytes{'R', 'I', 'F'}), &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a DLS file.");
    EXPECT_EQ(SVX_compress_DLS(nullptr, &out, &size), 0);
}

TEST_F(DlsCompression, EveryCutAndDamagedByteOfACompressedCollectionExpandsInsideIt) {
    fx::Collection small = sine_collection();
    small.waves[0].data.resize(200);
    small.waves[0].sample->loop = fx::Loop{10, 50};
    small.waves[1].data.resize(31);
    const Bytes mls = compress(fx::build(small));
    ASSERT_FALSE(mls.empty());
    for (size_t n = 0; n < mls.size(); n += 1) {
        Bytes cut(mls.begin(), mls.begin() + long(n));
        void* out = nullptr;
        uint32_t size = 0;
        if (SVX_extract_DLS(block(cut), uint32_t(n), nullptr, nullptr, &out, &size) && out) SVX_mem_free_lock(out);
    }
    for (size_t i = 0; i < mls.size(); ++i) {
        Bytes b = mls;
        b[i] ^= 0xA5;
        void* out = nullptr;
        uint32_t size = 0;
        if (SVX_extract_DLS(block(b), uint32_t(b.size()), nullptr, nullptr, &out, &size) && out) {
            Collection c;
            parse_collection(static_cast<uint8_t*>(out), size, c);
            SVX_mem_free_lock(out);
        }
    }
}

TEST_F(DlsCompression, TheListingNamesInstrumentsRegionsWavesAndLoops) {
    fx::Collection c = sine_collection();
    c.instruments[0].bank = 0x0102;
    c.instruments[0].patch = 5;
    c.instruments[0].regions[1].options = 1;
    c.instruments[0].articulation = {{0, 0, 0x206, 0, 0}};
    char* text = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_list_DLS(block(fx::build(c)), &text, &size, SVX_LIST_DLS_ARTICULATION), 1) << SVX_last_error();
    const std::string listing(text, size);
    SVX_mem_free_lock(text);
    EXPECT_EQ(listing.find("DLS Listing - Version 4.0g"), 0u);
    EXPECT_EQ(listing.back(), '\0');
    for (const char* line : {"Contents of DLS 1.0 file (2 instruments):\r\n",
                             "\r\nBank 0 (0:0), patch 0: Drum kit, 1 region(s)\r\n",
                             "\r\nBank 130 (1:2), patch 5: Melodic instrument, 2 region(s)\r\n",
                             "(Not self-exclusive)", "WAVE: 6000 bytes, 22050 Hz 16-bit mono",
                             "WAVE: 801 bytes, 11025 Hz 8-bit mono", "WLOOP: Type 0 (Forward)",
                             "CONN_SRC_NONE CONN_SRC_NONE CONN_DST_EG1_ATTACKTIME TRN_NONE = 1000.00 ms",
                             "\r\n(End of list)\r\n"}) {
        EXPECT_NE(listing.find(line), std::string::npos) << line << "\n" << listing;
    }
    // Drum kits (bank 0) come before bank 130.
    EXPECT_LT(listing.find("Drum kit"), listing.find("Bank 130"));
    EXPECT_EQ(SVX_list_DLS(block(Bytes(20, 'x')), &text, &size, 0), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a DLS file.");
}

}  // namespace
