// The DLS engine's parts called directly: the parser on collections the
// fixture writes (and on damaged ones), the voice mixer's three modes and
// loops, the output conversion, and the engine's notes, voices and mix
// buffers rendered without a timer or a device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "dls_fixture.h"
#include "midi/dls_collection.h"
#include "midi/dls_envelope.h"
#include "midi/dls_synth.h"
#include "midi/dls_voice.h"
#include "sonvex.h"
#include "sound_fixture.h"

namespace {

namespace fx = dls_fixture;
using fx::Bytes;
using namespace svx::dls;

constexpr uint32_t kDrum = 0x80000000u;

// A heap copy of exactly the image's size: a read past it is caught.
struct Exact {
    explicit Exact(const Bytes& b) : data(new uint8_t[std::max<size_t>(b.size(), 1)]), size(b.size()) {
        std::copy(b.begin(), b.end(), data.get());
    }
    std::unique_ptr<uint8_t[]> data;
    size_t size;
};

int32_t parse(const Exact& e, Collection& c) { return parse_collection(e.data.get(), e.size, c); }

// Two waves, a melodic instrument with two regions and one with its own
// articulation, and a drum kit.
fx::Collection sample_collection() {
    fx::Collection c;
    fx::Wave a;
    a.data = fx::pcm16({100, 200, 300, 400, 500, 600, 700, 800});
    a.sample = fx::Wsmp{62, -5, 0, fx::Loop{2, 4}};
    fx::Wave b;
    b.bits = 8;
    b.rate = 11025;
    b.data = Bytes{0x80, 0x90, 0xA0, 0xB0, 0xC0};
    c.waves = {a, b};
    fx::Instrument piano{0x0102, 5, {{0, 59, 0}, {60, 127, 1}}, {}};
    piano.regions[1].sample = fx::Wsmp{72, 3, 655360 * 6, std::nullopt};
    piano.articulation = {{0, 0, 0x206, 0, 1200 * 65536}, {0x8A, 0, 4, 0, 12345}, {9, 9, 9, 9, 1}};
    fx::Instrument drums{kDrum, 0, {{36, 36, 1}, {38, 38, 0}}, {}};
    drums.regions[0].options = 1;
    drums.regions[1].key_group = 3;
    drums.regions[1].articulation = {{0, 0, 0x209, 0, -600 * 65536}};
    c.instruments = {piano, drums};
    return c;
}

TEST(DlsParser, ReadsWavesInstrumentsRegionsAndArticulationsInAnyChunkOrder) {
    for (const char* order : {"cipw", "wpic", "pwci", "iwpc"}) {
        for (bool reversed : {false, true}) {
            SCOPED_TRACE(std::string(order) + (reversed ? " reversed pool" : ""));
            fx::Collection layout = sample_collection();
            layout.order = order;
            layout.reversed_pool = reversed;
            layout.instruments[0].articulation_first = reversed;
            layout.waves[0].wsmp_first = reversed;
            if (reversed)
                for (auto& i : layout.instruments)
                    for (auto& r : i.regions) r.wave = 1 - r.wave;
            const Exact image(fx::build(layout));
            Collection c;
            ASSERT_EQ(parse(image, c), kOk);
            EXPECT_EQ(c.instrument_count, 2u);
            ASSERT_EQ(c.waves.size(), 2u);
            const Wave& a = c.waves[reversed ? 1 : 0];
            const Wave& b = c.waves[reversed ? 0 : 1];
            EXPECT_TRUE(a.loaded && b.loaded);
            EXPECT_EQ(a.format, 1);
            EXPECT_EQ(a.rate, 22050);
            EXPECT_EQ(a.frames(), 8u);
            EXPECT_EQ(a.sample.unity_note, 62);
            EXPECT_EQ(a.sample.loop.start, 2u);
            EXPECT_EQ(a.sample.loop.length, 4u);
            EXPECT_EQ(b.format, 0);
            EXPECT_EQ(b.frames(), 5u);
            EXPECT_EQ(b.data[1], 0x90);

            ASSERT_EQ(c.instruments.size(), 2u);
            const Instrument& piano = c.instruments[0];
            EXPECT_EQ(piano.bank, 1u * 128 + 2);  // MSB 1, LSB 2 in the file
            EXPECT_EQ(piano.patch, 5u);
            ASSERT_EQ(piano.regions.size(), 2u);
            // A region without sample parameters takes its wave's.
            EXPECT_EQ(piano.regions[0].sample.unity_note, 62);
            EXPECT_EQ(piano.regions[0].sample.loop_count, 1u);
            EXPECT_EQ(piano.regions[1].sample.unity_note, 72);
            EXPECT_EQ(piano.regions[1].sample.fine_tune, 3);
            EXPECT_EQ(piano.regions[1].sample.attenuation, 655360 * 6);
            EXPECT_EQ(piano.regions[1].sample.loop_count, 0u);
            EXPECT_EQ(c.wave_of(piano.regions[0]), &a);
            EXPECT_EQ(c.wave_of(piano.regions[1]), &b);
            // Matched connections replace their defaults; others keep them.
            const Articulation& art = piano.regions[1].articulation;
            EXPECT_EQ(art[kEg1Attack], 1200 * 65536);
            EXPECT_EQ(art[kCc10ToPan], 12345);
            EXPECT_EQ(art[kLfoFrequency], int32_t(0xFCACAE9C));
            EXPECT_EQ(art[kEg1Sustain], 0x03E80000);
            EXPECT_EQ(art[kEg1Decay], kAbsent);
            EXPECT_EQ(art[kKeyToPitch], 0x00003200);
            EXPECT_EQ(art[kWheelToPitch], -1);

            const Instrument& drums = c.instruments[1];
            EXPECT_TRUE(drums.drum());
            EXPECT_EQ(drums.regions[0].options, 1);
            EXPECT_EQ(drums.regions[0].sample.unity_note, 60);  // 8-bit wave: no wsmp, defaults
            EXPECT_EQ(drums.regions[1].key_group, 3);
            EXPECT_EQ(drums.regions[1].articulation[kEg1Release], -600 * 65536);
            EXPECT_EQ(drums.regions[0].articulation, kDefaultArticulation);
        }
    }
}

// Places in the sample collection where a number is an offset or a size.
struct Lie {
    const char* what;
    std::function<void(Bytes&)> change;
};

size_t find(const Bytes& b, const char* id, size_t from = 0) {
    for (size_t i = from; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], id, 4) == 0) return i;
    ADD_FAILURE() << "no " << id;
    return 0;
}
void set32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

TEST(DlsParser, RefusesACollectionThatLiesAboutItsSizesOrOffsets) {
    const Bytes good = fx::build(sample_collection());
    const std::vector<Lie> lies = {
        {"RIFF longer than the image", [](Bytes& b) { set32(b, 4, uint32_t(b.size())); }},
        {"data chunk past its list", [](Bytes& b) { set32(b, find(b, "data") + 4, 0x7FFFFFF0); }},
        {"pool count past its chunk", [](Bytes& b) { set32(b, find(b, "ptbl") + 12, 1000); }},
        {"pool header past its chunk", [](Bytes& b) { set32(b, find(b, "ptbl") + 8, 4000); }},
        {"art1 count past its chunk", [](Bytes& b) { set32(b, find(b, "art1") + 12, 50); }},
        {"wsmp header past its chunk", [](Bytes& b) { set32(b, find(b, "wsmp") + 8, 400); }},
        {"loop past its wave", [](Bytes& b) { set32(b, find(b, "wsmp", find(b, "wvpl")) + 8 + 20 + 12, 7); }},
        {"loop start past its wave", [](Bytes& b) { set32(b, find(b, "wsmp", find(b, "wvpl")) + 8 + 20 + 8, 9); }},
        {"short rgnh", [](Bytes& b) { set32(b, find(b, "rgnh") + 4, 2); }},
        {"no pool table", [](Bytes& b) { std::memcpy(&b[find(b, "ptbl")], "xtbl", 4); }},
        {"not DLS", [](Bytes& b) { std::memcpy(&b[8], "MLS ", 4); }},
    };
    for (const Lie& lie : lies) {
        Bytes b = good;
        lie.change(b);
        Collection c;
        EXPECT_EQ(parse(Exact(b), c), kNotDls) << lie.what;
        EXPECT_TRUE(c.instruments.empty() && c.waves.empty()) << lie.what;
    }
}

TEST(DlsParser, EveryCutAndDamagedByteStaysInsideTheImage) {
    const Bytes good = fx::build(sample_collection());
    for (size_t n = 0; n < good.size(); ++n) {
        Collection c;
        parse(Exact(Bytes(good.begin(), good.begin() + long(n))), c);
    }
    for (size_t i = 0; i < good.size(); ++i)
        for (uint8_t v : {uint8_t(0), uint8_t(0xFF), uint8_t(good[i] + 1)}) {
            Bytes b = good;
            b[i] = v;
            Collection c;
            if (parse(Exact(b), c) != kOk) continue;
            // What it accepts, it can play: every loaded wave lies inside.
            for (const Wave& w : c.waves) {
                if (w.loaded) {
                    ASSERT_GE(c.image + c.size, w.data + w.size);
                }
            }
        }
}

// ---- the voice mixer ----

// A 16-bit mono wave of the given values.
struct TestWave {
    explicit TestWave(std::vector<int16_t> values) : bytes(fx::pcm16(values)) {
        wave.loaded = true;
        wave.format = 1;
        wave.rate = 22050;
        wave.data = bytes.data();
        wave.size = uint32_t(bytes.size());
    }
    Bytes bytes;
    Wave wave;
};

std::vector<int16_t> ramp(int n) {
    std::vector<int16_t> v;
    for (int i = 0; i < n; ++i) v.push_back(int16_t(1000 * (i + 1)));
    return v;
}

// Mixes `frames` at unity gain (2048 so that v * gain >> 11 == v) and
// gives the values back.
std::vector<int32_t> mixed(const Wave& w, MixParams m, Cursor& c, uint32_t frames, bool* alive = nullptr) {
    m.left_gain = 2048;
    std::vector<int32_t> out(frames, 0);
    const bool a = mix_voice(c, w, m, out.data(), frames, false);
    if (alive) *alive = a;
    for (int32_t& v : out) v >>= 11;
    return out;
}

TEST(DlsMixer, UnityStepReproducesTheWaveAtItsGainAndStereoGainsApplyPerSide) {
    TestWave w({100, -200, 300, -32768, 32767});
    MixParams m;
    m.smoothing = Smoothing::plain;
    m.left_gain = 1000;
    m.right_gain = 7;
    std::vector<int32_t> out(10, 0);
    Cursor c;
    EXPECT_FALSE(mix_voice(c, w.wave, m, out.data(), 5, true));
    const std::vector<int32_t> want = {100 * 1000, 100 * 7, -200 * 1000, -200 * 7, 300 * 1000, 300 * 7,
                                       -32768 * 1000, -32768 * 7, 32767 * 1000, 32767 * 7};
    EXPECT_EQ(out, want);
}

TEST(DlsMixer, EightBitSourceFramesAreCentredAndScaled) {
    const Bytes data{0x00, 0x80, 0xFF};
    Wave w;
    w.loaded = true;
    w.format = 0;
    w.rate = 22050;
    w.data = data.data();
    w.size = 3;
    MixParams m;
    m.smoothing = Smoothing::plain;
    Cursor c;
    EXPECT_EQ(mixed(w, m, c, 3), (std::vector<int32_t>{-32768, 0, 127 * 256}));
}

TEST(DlsMixer, StepOfTwoAveragesPairsWhenSmoothedAndTakesEverySecondFrameWhenPlain) {
    TestWave w(ramp(12));
    MixParams m;
    m.step = 0x20000;
    Cursor smooth;
    EXPECT_EQ(mixed(w.wave, m, smooth, 5), (std::vector<int32_t>{1000, 2500, 4500, 6500, 8500}));
    m.smoothing = Smoothing::plain;
    Cursor plain;
    EXPECT_EQ(mixed(w.wave, m, plain, 5), (std::vector<int32_t>{1000, 3000, 5000, 7000, 9000}));
}

TEST(DlsMixer, SmoothingBelowUnityBlendsFromThePreviousFrame) {
    TestWave w({0, 4096, 8192, 8192});
    MixParams m;
    m.step = 0x8000;  // half speed
    Cursor c;
    // While the position stays on a frame the output is (nearly) that frame;
    // after it moves, the blend weighs the new frame by the fraction.
    const auto out = mixed(w.wave, m, c, 5);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);                          // position 0, fraction 1/2
    EXPECT_EQ(out[2], ((0 * 65535) >> 16) + 0);    // moved to frame 1, fraction 0
    EXPECT_EQ(out[3], ((4096 * 32767) >> 16) + ((4096 * 32768) >> 16));
    EXPECT_EQ(out[4], (4096 * 65535) >> 16);
}

TEST(DlsMixer, ALoopPassedByAFractionContinuesExactlyAtTheLoopStart) {
    TestWave w(ramp(10));
    MixParams m;
    m.step = 0x18000;  // 1.5 frames
    m.smoothing = Smoothing::plain;
    m.looping = true;
    m.loop = {0, 2, 5};  // frames 2-6
    Cursor c;
    bool alive = false;
    const auto out = mixed(w.wave, m, c, 13, &alive);
    // 0, 1.5, 3, 4.5, 6, then 7.5 is past the end: frame 2 with the half
    // carried, 3.5 -> frame 4 (fraction 0), 5.5, 7 -> 2, 3.5, 5, 6.5, 8 -> 2.
    const std::vector<int> frames = {0, 1, 3, 4, 6, 2, 4, 5, 2, 3, 5, 6, 2};
    std::vector<int32_t> want;
    for (int f : frames) want.push_back(1000 * (f + 1));
    EXPECT_EQ(out, want);
    EXPECT_TRUE(alive);
}

TEST(DlsMixer, AWaveWithoutALoopEndsTheVoiceAtItsEnd) {
    TestWave w(ramp(4));
    MixParams m;
    m.smoothing = Smoothing::plain;
    Cursor c;
    bool alive = true;
    EXPECT_EQ(mixed(w.wave, m, c, 6, &alive), (std::vector<int32_t>{1000, 2000, 3000, 4000, 0, 0}));
    EXPECT_FALSE(alive);
}

TEST(DlsMixer, SmoothingAtUnityStepGivesEachFrameOneOutputFrameLate) {
    TestWave w({1000, -1000, 2000, -2000});
    Cursor c;
    // The blend weighs the previous frame by 65535/65536 at fraction 0.
    EXPECT_EQ(mixed(w.wave, MixParams{}, c, 4), (std::vector<int32_t>{0, 999, -1000, 1999}));
}

TEST(DlsMixer, AveragingStepsOf256OrMoreAreBoundedByTheReciprocalTable) {
    TestWave w(std::vector<int16_t>(5000, 3000));
    MixParams m;
    for (uint32_t step : {0xFF0000u, 0x1000000u, 0x7FFFFFFFu}) {
        m.step = step;
        Cursor c;
        bool alive = true;
        const auto out = mixed(w.wave, m, c, 30, &alive);
        // Each average of equal frames is that value, whatever the count.
        for (int32_t v : out) {
            if (v != 0) {
                EXPECT_NEAR(v, 3000, 15);
            }
        }
        EXPECT_FALSE(alive);  // 5000 frames at 255 a step: gone in 20
        EXPECT_NE(out[19], 0) << std::hex << step;
        EXPECT_EQ(out[20], 0) << std::hex << step;
    }
}

// ---- envelopes and units ----

TEST(DlsEnvelope, UnitConversions) {
    const double tick = 1e6 / 120;
    EXPECT_DOUBLE_EQ(ticks_of_timecents(0, tick), 120);                  // 1 s
    EXPECT_DOUBLE_EQ(ticks_of_timecents(-1200 * 65536, tick), 60);       // half of it
    EXPECT_DOUBLE_EQ(ticks_of_timecents(kAbsent, tick), 0);              // absolute zero
    EXPECT_NEAR(lfo_hertz(kDefaultArticulation[kLfoFrequency]), 5.0, 0.01);
    EXPECT_DOUBLE_EQ(lfo_hertz(6900 * 65536), 440);
    EXPECT_DOUBLE_EQ(decibels_of(int32_t(0xFC400000)), -96);
    EXPECT_EQ(gain_of(0), 2047);
    EXPECT_EQ(gain_of(-3), 2047);
    EXPECT_EQ(gain_of(20 * std::log10(2.0)), 1023);
    EXPECT_EQ(gain_of(999), 0);
    EXPECT_DOUBLE_EQ(square_law_decibels(127), 0);
    EXPECT_EQ(square_law_decibels(0), 999);
}

TEST(DlsEnvelope, AttackDecaySustainRelease) {
    Envelope e;
    e.start(4, 2, 0.5, 4);  // start() takes the first step
    std::vector<double> levels{e.level};
    for (int i = 0; i < 6; ++i) {
        e.advance();
        levels.push_back(e.level);
    }
    EXPECT_EQ(levels, (std::vector<double>{0.25, 0.5, 0.75, 1, 0.5, 0.5, 0.5}));
    EXPECT_EQ(e.state, Envelope::sustain);
    e.release_now();
    e.advance();
    EXPECT_EQ(e.level, 0.25);
    e.advance();
    EXPECT_EQ(e.state, Envelope::done);
    Envelope instant;
    instant.start(0, 0, 1, 0);
    EXPECT_EQ(instant.level, 1);
}

// ---- output conversion ----

TEST(DlsConversion, ClampsAndShiftsAndTheFourSlotPathMatches) {
    const std::vector<int32_t> edges = {0, 2047, 2048, -1, -2048, -2049, 32767 << 11, INT32_MAX, INT32_MIN,
                                        -(32768 << 11), 1 << 26, -(1 << 27), 12345678};
    std::vector<int16_t> s16(edges.size());
    std::vector<uint8_t> s8(edges.size());
    convert_slots(edges.data(), edges.size(), s16.data(), true);
    convert_slots(edges.data(), edges.size(), s8.data(), false);
    EXPECT_EQ(s16[0], 0);
    EXPECT_EQ(s16[2], 1);
    EXPECT_EQ(s16[3], -1);
    EXPECT_EQ(s16[7], 32767);
    EXPECT_EQ(s16[8], -32768);
    EXPECT_EQ(s8[0], 0x80);
    EXPECT_EQ(s8[7], 255);
    EXPECT_EQ(s8[8], 0);
    EXPECT_EQ(s8[9], 0);

    std::mt19937 random(7);
    std::vector<int32_t> mix(edges);
    for (int i = 0; i < 1000; ++i) mix.push_back(int32_t(random()));
    for (size_t n : {size_t(0), size_t(1), size_t(3), size_t(4), size_t(7), mix.size()}) {
        for (bool sixteen : {true, false}) {
            Bytes slow(n * 2 + 8, 0xAA), fast(n * 2 + 8, 0xAA);
            convert_slots(mix.data(), n, slow.data(), sixteen);
            convert_slots_fast(mix.data(), n, fast.data(), sixteen);
            EXPECT_EQ(slow, fast) << n << (sixteen ? " 16-bit" : " 8-bit");
        }
    }
}

// ---- the engine, rendered by the test ----

struct Captured {
    std::vector<std::vector<int16_t>> buffers;
    std::vector<int16_t> memory[2];
    int32_t next = 0;
    bool refuse = false;
};
int32_t SVXCALLBACK ready(void* user) {
    auto* c = static_cast<Captured*>(user);
    return c->refuse ? -1 : c->next;
}
void* SVXCALLBACK address(void* user, int32_t n) { return static_cast<Captured*>(user)->memory[n].data(); }
void SVXCALLBACK load(void* user, int32_t n, uint32_t bytes) {
    auto* c = static_cast<Captured*>(user);
    c->buffers.emplace_back(c->memory[n].begin(), c->memory[n].begin() + bytes / 2);
    c->next ^= 1;
}

class DlsEngine : public testing_support::SoundLibrary {
protected:
    void SetUp() override { SVX_startup(); }
    void TearDown() override {
        if (synth_) unload_all(*synth_);
        synth_.reset();
        SoundLibrary::TearDown();
    }
    // A mono 16-bit engine at 22050 Hz with buffers of `frames`.
    Synth& make(uint32_t frames = 64) {
        for (auto& m : captured_.memory) m.assign(frames, 0);
        synth_ = make_synth(nullptr, 1, 22050, frames * 2, Output{&captured_, &ready, &address, &load});
        return *synth_;
    }
    void add(const fx::Collection& c) {
        images_.push_back(fx::build(c));
        uint32_t id = 0;
        ASSERT_EQ(load_collection(*synth_, images_.back().data(), images_.back().size(), "t", false, id), kOk);
    }
    void send(int status, int d1, int d2) { intercept_event(*synth_, nullptr, status, d1, d2); }
    std::vector<int> voice_channels() const {
        std::vector<int> out;
        for (const Voice& v : synth_->voices)
            if (v.active) out.push_back(v.channel);
        return out;
    }

    std::unique_ptr<Synth> synth_;
    Captured captured_;
    std::vector<Bytes> images_;
};

// A looped wave on every program of bank 0 and a drum kit: any note plays.
fx::Collection everything() {
    fx::Collection c;
    fx::Wave w;
    w.data = fx::pcm16(std::vector<int16_t>(64, 1000));
    w.sample = fx::Wsmp{60, 0, 0, fx::Loop{0, 64}};
    c.waves = {w};
    for (uint32_t p = 0; p < 4; ++p) c.instruments.push_back({0, p, {{0, 127, 0}}, {}});
    c.instruments.push_back({kDrum, 0, {{0, 127, 0}}, {}});
    return c;
}

TEST_F(DlsEngine, InstrumentLookupFallsBackToBankZerosDrumKit) {
    make();
    fx::Collection c = everything();
    c.instruments.push_back({kDrum | 0x0203, 7, {{0, 127, 0}}, {}});
    add(c);
    const Instrument* kit = find_instrument(*synth_, kDrum, 0);
    ASSERT_NE(kit, nullptr);
    EXPECT_EQ(find_instrument(*synth_, kDrum | 0x0005, 0), kit);
    // The file's MSB 2, LSB 3 is selected as bank 2 * 128 + 3.
    EXPECT_EQ(find_instrument(*synth_, kDrum | (2 * 128 + 3), 7)->bank, kDrum | (2 * 128 + 3));
    EXPECT_EQ(find_instrument(*synth_, kDrum | 0x0203, 7), nullptr);
    EXPECT_EQ(find_instrument(*synth_, 0x0005, 0), nullptr);  // melodic: no fall-back
    EXPECT_EQ(find_instrument(*synth_, 0, 9), nullptr);
}

TEST_F(DlsEngine, TheTwentyFifthNoteStealsFromTheHighestChannelAboveIt) {
    make();
    add(everything());
    // 24 voices: channels 1, 2, 3 and 10, the oldest on channel 3 first.
    for (int n = 0; n < 6; ++n)
        for (int ch : {2, 1, 0, 9}) send(0x90 | ch, 40 + n, 100);
    render(*synth_, 0);
    ASSERT_EQ(voice_channels().size(), 24u);
    send(0x90, 90, 100);
    render(*synth_, 0);
    auto channels = voice_channels();
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 2), 5);
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 0), 7);
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 9), 6);
    // The stolen one was the oldest of channel 3's.
    for (const Voice& v : synth_->voices) {
        if (v.active && v.channel == 2) {
            EXPECT_NE(v.note, 40);
        }
    }
    // A note on channel 2 may take from channel 3 but not from channel 1.
    send(0x91, 91, 100);
    render(*synth_, 0);
    channels = voice_channels();
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 2), 4);
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 0), 7);
}

TEST_F(DlsEngine, WithAllVoicesOnChannelTenANoteIsDropped) {
    make();
    add(everything());
    for (int n = 0; n < 24; ++n) send(0x99, 30 + n, 100);
    render(*synth_, 0);
    send(0x90, 60, 100);
    send(0x99, 100, 100);
    render(*synth_, 0);
    const auto channels = voice_channels();
    EXPECT_EQ(channels, std::vector<int>(24, 9));
    for (const Voice& v : synth_->voices) EXPECT_LT(v.note, 54);
}

TEST_F(DlsEngine, ChannelTenStealsFromOtherChannels) {
    make();
    add(everything());
    for (int n = 0; n < 24; ++n) send(0x90 | (n % 3), 30 + n, 100);
    render(*synth_, 0);
    send(0x99, 60, 100);
    render(*synth_, 0);
    const auto channels = voice_channels();
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 9), 1);
    EXPECT_EQ(std::count(channels.begin(), channels.end(), 2), 7);
}

TEST_F(DlsEngine, ARepeatedKeyReleasesTheFirstUnlessTheRegionIsNotSelfExclusiveAndKeyGroupsCut) {
    make();
    fx::Collection c = everything();
    c.instruments[1].regions[0].options = 1;  // program 1: not self-exclusive
    c.instruments[2].regions = {{0, 59, 0, 0, 5}, {60, 127, 0, 0, 5}};  // program 2: one key group
    add(c);
    auto released = [&] {
        int n = 0;
        for (const Voice& v : synth_->voices) n += v.active && v.released;
        return n;
    };
    send(0x90, 60, 100);
    send(0x90, 60, 100);
    render(*synth_, 0);
    EXPECT_EQ(released(), 1);

    // (A voice released without a release time is gone at the next call.)
    send(0xC1, 1, 0);
    send(0x91, 60, 100);
    send(0x91, 60, 100);
    render(*synth_, 0);
    EXPECT_EQ(released(), 0);

    send(0xC2, 2, 0);
    send(0x92, 40, 100);
    send(0x92, 70, 100);  // another key, the same group
    render(*synth_, 0);
    EXPECT_EQ(released(), 1);
}

TEST_F(DlsEngine, TheSustainPedalHoldsReleasedNotesUntilItDrops) {
    make();
    add(everything());
    send(0xB0, 64, 127);
    send(0x90, 60, 100);
    send(0x80, 60, 0);
    render(*synth_, 0);
    ASSERT_EQ(voice_channels().size(), 1u);
    EXPECT_FALSE(synth_->voices[0].released);
    send(0xB0, 64, 0);
    render(*synth_, 0);
    EXPECT_TRUE(synth_->voices[0].released);
}

TEST_F(DlsEngine, ChannelResetAndRegisteredParameters) {
    SVX_set_preference(SVX_PREF_PITCH_BEND_RANGE, 3);
    make();
    add(everything());
    const ChannelState& c = synth_->channels[4];
    EXPECT_EQ(c.bend_range, 300);
    EXPECT_EQ(c.controllers[7], 100);
    EXPECT_EQ(c.controllers[10], 64);
    EXPECT_EQ(c.controllers[11], 127);
    EXPECT_EQ(c.controllers[91], 40);
    EXPECT_EQ(c.instrument, nullptr);
    send(0xB4, 101, 0);
    EXPECT_NE(c.instrument, nullptr);  // looked up again once a collection is there
    send(0xB4, 100, 0);
    send(0xB4, 6, 12);
    send(0xB4, 38, 0);
    EXPECT_DOUBLE_EQ(c.bend_range, 12 * 128 * 0.78125);
    send(0xE4, 0, 0x60);
    EXPECT_DOUBLE_EQ(c.bend, (0x60 * 128 - 8192) / 8192.0 * c.bend_range);
    send(0xB4, 100, 2);
    send(0xB4, 6, 66);
    EXPECT_EQ(c.coarse_tune, 2);
    send(0xB4, 100, 1);
    send(0xB4, 6, 32);
    send(0xB4, 38, 0);
    EXPECT_DOUBLE_EQ(c.fine_tune, (32 * 128 - 8192) * 0.01220703125);
    send(0xB4, 7, 20);
    send(0xB4, 121, 0);
    EXPECT_EQ(c.controllers[7], 100);
    EXPECT_EQ(c.bend, 0);
}

TEST_F(DlsEngine, OutputWaitsForTwoMixBuffersAndThenComesInOrder) {
    SVX_set_preference(SVX_PREF_DLS_SMOOTH, 0);
    make(64);
    add(everything());
    send(0x90, 60, 127);
    send(0xB0, 7, 127);
    render(*synth_, 0);
    render(*synth_, 3);  // 66 frames: one buffer and a bit
    EXPECT_TRUE(captured_.buffers.empty());
    render(*synth_, 3);
    ASSERT_EQ(captured_.buffers.size(), 2u);
    // A looped constant at 0 dB: every frame is the wave's value.
    for (const auto& b : captured_.buffers)
        for (int16_t v : b) ASSERT_EQ(v, 999);  // 1000 * 2047 >> 11
}

TEST_F(DlsEngine, ReverbOffStartsEachMixBufferSilentAndOnFeedsTheLastOneBack) {
    struct Case {
        int reverb, level;
        bool echo;
    };
    for (const Case& k : {Case{0, 20, false}, Case{1, 0, false}, Case{1, 20, true}, Case{1, 128, true}}) {
        SCOPED_TRACE(k.reverb * 1000 + k.level);
        SVX_set_preference(SVX_PREF_DLS_REVERB, k.reverb);
        SVX_set_preference(SVX_PREF_DLS_REVERB_LEVEL, k.level);
        SVX_set_preference(SVX_PREF_DLS_DOUBLE_BUFFER, 0);
        SVX_set_preference(SVX_PREF_DLS_SMOOTH, 0);
        captured_ = Captured{};
        make(64);
        fx::Collection c = everything();
        c.waves[0].sample->loop.reset();
        c.waves[0].data = fx::pcm16(std::vector<int16_t>(40, 8000));  // ends inside the first buffer
        add(c);
        send(0xB0, 7, 127);
        send(0x90, 60, 127);
        render(*synth_, 0);
        for (int i = 0; i < 9; ++i) render(*synth_, 1);  // 9 * 22 frames: three buffers
        ASSERT_GE(captured_.buffers.size(), 2u);
        const auto& first = captured_.buffers[0];
        const auto& second = captured_.buffers[1];
        EXPECT_EQ(first[0], 7996);
        EXPECT_EQ(first[50], 0);
        const int32_t slot = 8000 * 2047;
        EXPECT_EQ(second[0], k.echo ? int16_t(((int64_t(slot) * k.level) >> 7) >> 11) : 0);
        EXPECT_EQ(second[50], 0);
        unload_all(*synth_);
        synth_.reset();
    }
}

TEST_F(DlsEngine, UnloadSilencesTheVoicesAndDropsQueuedNotesOfTheCollection) {
    make();
    add(everything());
    send(0x90, 60, 100);
    render(*synth_, 0);
    send(0x90, 61, 100);  // queued, not yet rendered
    ASSERT_EQ(voice_channels().size(), 1u);
    unload_all(*synth_);
    EXPECT_TRUE(voice_channels().empty());
    render(*synth_, 5);
    EXPECT_TRUE(voice_channels().empty());
    EXPECT_EQ(synth_->channels[0].instrument, nullptr);
}

TEST_F(DlsEngine, AFullQueueLosesItsOldestEvents) {
    make();
    add(everything());
    for (uint32_t i = 0; i < kQueueSize + 10; ++i) send(0x90, int(i % 100), 100);
    send(0x80, 99, 0);
    render(*synth_, 0);
    // The last note-off arrived: the voice of the last key 99 is released.
    bool found = false;
    for (const Voice& v : synth_->voices)
        if (v.active && v.note == 99) found = found || v.released;
    EXPECT_TRUE(found);
}

}  // namespace
