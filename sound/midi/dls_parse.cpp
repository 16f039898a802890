// The DLS Level 1 parser. Every chunk's length is checked against its
// container before anything in it is read.
#include <algorithm>
#include <cstring>
#include <new>

#include "digital/sample.h"
#include "midi/dls_collection.h"
#include "sonvex.h"

namespace svx::dls {

namespace {
enum : uint16_t {
    SRC_NONE = 0, SRC_LFO = 1, SRC_VELOCITY = 2, SRC_KEY = 3, SRC_EG1 = 4, SRC_EG2 = 5,
    SRC_WHEEL = 6, SRC_CC1 = 0x81, SRC_CC7 = 0x87, SRC_CC10 = 0x8A, SRC_CC11 = 0x8B,
    SRC_RPN0 = 0x100, SRC_RPN1 = 0x101, SRC_RPN2 = 0x102,
    DST_ATTEN = 1, DST_PITCH = 3, DST_PAN = 4, DST_LFO_FREQ = 0x104, DST_LFO_DELAY = 0x105,
    DST_EG1_ATTACK = 0x206, DST_EG1_DECAY = 0x207, DST_EG1_RELEASE = 0x209,
    DST_EG1_SUSTAIN = 0x20A, DST_EG2_ATTACK = 0x30A, DST_EG2_DECAY = 0x30B,
    DST_EG2_RELEASE = 0x30D, DST_EG2_SUSTAIN = 0x30E, TRN_NONE = 0, TRN_CONCAVE = 1,
};
}  // namespace

const std::array<Connector, kConnectionCount> kConnectors = {{
    {SRC_NONE, SRC_NONE, DST_LFO_FREQ, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_LFO_DELAY, TRN_NONE},
    {SRC_LFO, SRC_NONE, DST_ATTEN, TRN_NONE},
    {SRC_LFO, SRC_NONE, DST_PITCH, TRN_NONE},
    {SRC_LFO, SRC_CC1, DST_ATTEN, TRN_NONE},
    {SRC_LFO, SRC_CC1, DST_PITCH, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG1_ATTACK, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG1_DECAY, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG1_SUSTAIN, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG1_RELEASE, TRN_NONE},
    {SRC_VELOCITY, SRC_NONE, DST_EG1_ATTACK, TRN_NONE},
    {SRC_KEY, SRC_NONE, DST_EG1_DECAY, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG2_ATTACK, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG2_DECAY, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG2_SUSTAIN, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_EG2_RELEASE, TRN_NONE},
    {SRC_VELOCITY, SRC_NONE, DST_EG2_ATTACK, TRN_NONE},
    {SRC_KEY, SRC_NONE, DST_EG2_DECAY, TRN_NONE},
    {SRC_NONE, SRC_NONE, DST_PAN, TRN_NONE},
    {SRC_EG1, SRC_NONE, DST_ATTEN, TRN_NONE},
    {SRC_EG2, SRC_NONE, DST_PITCH, TRN_NONE},
    {SRC_VELOCITY, SRC_NONE, DST_ATTEN, TRN_CONCAVE},
    {SRC_WHEEL, SRC_RPN0, DST_PITCH, TRN_NONE},
    {SRC_KEY, SRC_NONE, DST_PITCH, TRN_NONE},
    {SRC_CC7, SRC_NONE, DST_ATTEN, TRN_CONCAVE},
    {SRC_CC10, SRC_NONE, DST_PAN, TRN_NONE},
    {SRC_CC11, SRC_NONE, DST_ATTEN, TRN_CONCAVE},
    {SRC_RPN1, SRC_NONE, DST_PITCH, TRN_NONE},
    {SRC_RPN2, SRC_NONE, DST_PITCH, TRN_NONE},
}};

const std::array<int32_t, kConnectionCount> kDefaultArticulation = {
    int32_t(0xFCACAE9C), kAbsent, kAbsent, kAbsent, kAbsent, kAbsent,       // LFO
    kAbsent, kAbsent, 0x03E80000, kAbsent, kAbsent, kAbsent,               // volume EG
    kAbsent, kAbsent, 0x03E80000, kAbsent, kAbsent, kAbsent,               // pitch EG
    0, int32_t(0xFC400000), kAbsent, int32_t(0xFC400000),                  // pan, EGs, velocity
    -1, 0x00003200, int32_t(0xFC400000), int32_t(0xFC400000), int32_t(0xFC400000),
    -1, -1,
};

namespace {

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; }
bool is(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

struct Refused {};

// A chunk inside a bounded span: id, data and its length.
struct Chunk {
    const uint8_t* id;
    const uint8_t* data;
    uint32_t size;
    bool list(const char* type) const { return is(id, "LIST") && size >= 4 && is(data, type); }
};

// Calls `f` for each chunk in [p, end); a chunk longer than what is left
// refuses the collection.
template <typename F>
void walk(const uint8_t* p, const uint8_t* end, F f) {
    while (end - p >= 8) {
        const uint32_t size = u32(p + 4);
        if (size > size_t(end - p) - 8) throw Refused{};
        f(Chunk{p, p + 8, size});
        const size_t step = 8 + size_t(size) + (size & 1);
        if (step >= size_t(end - p)) return;
        p += step;
    }
}

SampleParams read_wsmp(const Chunk& c) {
    if (c.size < 20) throw Refused{};
    const uint32_t header = u32(c.data);
    if (header < 20 || header > c.size) throw Refused{};
    SampleParams s;
    s.present = true;
    s.unity_note = u16(c.data + 4);
    s.fine_tune = int16_t(u16(c.data + 6));
    s.attenuation = int32_t(u32(c.data + 8));
    s.options = u32(c.data + 12);
    s.loop_count = u32(c.data + 16);
    if (s.loop_count > 0) {
        if (c.size - header < 16) throw Refused{};
        const uint8_t* l = c.data + header;
        if (u32(l) < 16) throw Refused{};
        s.loop = {u32(l + 4), u32(l + 8), u32(l + 12)};
    }
    return s;
}

void read_art1(const Chunk& c, Articulation& art) {
    if (c.size < 8) throw Refused{};
    const uint32_t header = u32(c.data), count = u32(c.data + 4);
    if (header < 8 || header > c.size || count > (c.size - header) / 12) throw Refused{};
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* b = c.data + header + 12 * size_t(i);
        const Connector k{u16(b), u16(b + 2), u16(b + 4), u16(b + 6)};
        for (int n = 0; n < kConnectionCount; ++n) {
            const Connector& d = kConnectors[size_t(n)];
            if (d.source == k.source && d.control == k.control && d.destination == k.destination &&
                d.transform == k.transform)
                art[size_t(n)] = int32_t(u32(b + 8));
        }
    }
}

// "lart" lists hold "art1" chunks; the last one found counts.
bool read_lart(const Chunk& c, Articulation& art) {
    bool found = false;
    walk(c.data + 4, c.data + c.size, [&](const Chunk& a) {
        if (is(a.id, "art1")) {
            read_art1(a, art);
            found = true;
        }
    });
    return found;
}

struct RegionRead {
    Region region;
    bool has_articulation = false;
};

RegionRead read_region(const Chunk& c) {
    RegionRead r;
    bool header = false;
    r.region.articulation = kDefaultArticulation;
    walk(c.data + 4, c.data + c.size, [&](const Chunk& k) {
        if (is(k.id, "rgnh")) {
            if (k.size < 12) throw Refused{};
            r.region.key_low = u16(k.data);
            r.region.key_high = u16(k.data + 2);
            r.region.velocity_low = u16(k.data + 4);
            r.region.velocity_high = u16(k.data + 6);
            r.region.options = u16(k.data + 8);
            r.region.key_group = u16(k.data + 10);
            header = true;
        } else if (is(k.id, "wsmp")) {
            r.region.sample = read_wsmp(k);
        } else if (is(k.id, "wlnk")) {
            if (k.size < 12) throw Refused{};
            r.region.link_options = u16(k.data);
            r.region.phase_group = u16(k.data + 2);
            r.region.channel = u32(k.data + 4);
            r.region.table_index = u32(k.data + 8);
        } else if (k.list("lart")) {
            r.has_articulation = read_lart(k, r.region.articulation) || r.has_articulation;
        }
    });
    if (!header) throw Refused{};
    return r;
}

void read_instrument(const Chunk& c, Collection& out) {
    Instrument ins;
    ins.collection = out.id;
    bool header = false;
    Articulation shared = kDefaultArticulation;
    std::vector<RegionRead> regions;
    walk(c.data + 4, c.data + c.size, [&](const Chunk& k) {
        if (is(k.id, "insh")) {
            if (k.size < 12) throw Refused{};
            // The file keeps the bank select MSB in bits 8-14 and the LSB
            // in bits 0-6; channels select MSB * 128 + LSB.
            const uint32_t bank = u32(k.data + 4);
            ins.bank = (bank & kDrumBank) | ((bank >> 8) & 0x7F) << 7 | (bank & 0x7F);
            ins.patch = u32(k.data + 8) & 0x7F;
            header = true;
        } else if (k.list("lrgn")) {
            walk(k.data + 4, k.data + k.size, [&](const Chunk& r) {
                if (r.list("rgn ")) regions.push_back(read_region(r));
            });
        } else if (k.list("lart")) {
            ins.has_articulation = read_lart(k, shared) || ins.has_articulation;
        }
    });
    if (!header) throw Refused{};
    for (RegionRead& r : regions) {
        if (!r.has_articulation) r.region.articulation = shared;
        ins.regions.push_back(r.region);
    }
    out.instruments.push_back(std::move(ins));
}

void read_wave(const Chunk& c, Wave& w) {
    const uint8_t* fmt = nullptr;
    const uint8_t* pcm = nullptr;
    const Chunk* data = nullptr;
    Chunk data_chunk{};
    walk(c.data + 4, c.data + c.size, [&](const Chunk& k) {
        if (is(k.id, "fmt ") || is(k.id, "pcm ")) {
            if (k.size < 16) throw Refused{};
            (is(k.id, "fmt ") ? fmt : pcm) = k.data;
        } else if (is(k.id, "data")) {
            data_chunk = k;
            data = &data_chunk;
        } else if (is(k.id, "wsmp")) {
            w.sample = read_wsmp(k);
        }
    });
    if (fmt && u16(fmt) != 1 && pcm) fmt = pcm;
    if (!fmt || !data) throw Refused{};
    const uint16_t tag = u16(fmt), channels = u16(fmt + 2), bits = u16(fmt + 14);
    const uint32_t rate = u32(fmt + 4);
    // Data in a form the mixer cannot play stays unloaded: notes on it are
    // ignored.
    if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) || rate == 0)
        return;
    w.format = (bits == 16 ? 1 : 0) | (channels == 2 ? 2 : 0);
    w.rate = rate;
    w.data = data->data;
    w.size = data->size - data->size % w.frame_bytes();
    w.loaded = true;
}

bool loop_fits(const SampleParams& s, const Wave& w) {
    if (s.loop_count == 0) return true;
    return s.loop.length > 0 && s.loop.start < w.frames() && s.loop.length <= w.frames() - s.loop.start;
}

void parse(const uint8_t* image, size_t size, Collection& out) {
    if (size < 12 || !is(image, "RIFF") || !is(image + 8, "DLS ")) throw Refused{};
    const uint64_t riff = uint64_t(u32(image + 4)) + 8;
    if (riff > size) throw Refused{};
    const uint8_t* end = image + riff;

    // The pool table first: the waves are found through it.
    bool have_pool = false;
    walk(image + 12, end, [&](const Chunk& c) {
        if (!is(c.id, "ptbl")) return;
        if (c.size < 8) throw Refused{};
        const uint32_t header = u32(c.data), count = u32(c.data + 4);
        if (header < 8 || header > c.size || count > (c.size - header) / 4) throw Refused{};
        out.pool_header = header;
        out.pool.resize(count);
        for (uint32_t i = 0; i < count; ++i) out.pool[i] = u32(c.data + header + 4 * size_t(i));
        have_pool = true;
    });
    if (!have_pool) throw Refused{};
    out.waves.assign(out.pool.size(), Wave{});

    walk(image + 12, end, [&](const Chunk& c) {
        if (c.list("wvpl")) {
            const uint8_t* base = c.data + 4;
            // Pool entries by offset, so that each wave is found at once.
            std::vector<std::pair<uint32_t, uint32_t>> by_offset(out.pool.size());
            for (uint32_t i = 0; i < out.pool.size(); ++i) by_offset[i] = {out.pool[i], i};
            std::sort(by_offset.begin(), by_offset.end());
            walk(base, c.data + c.size, [&](const Chunk& w) {
                if (!w.list("wave")) return;
                const uint32_t offset = uint32_t(w.id - base);
                auto at = std::lower_bound(by_offset.begin(), by_offset.end(),
                                           std::pair<uint32_t, uint32_t>{offset, 0});
                for (; at != by_offset.end() && at->first == offset; ++at)
                    if (!out.waves[at->second].loaded) read_wave(w, out.waves[at->second]);
            });
        } else if (c.list("lins")) {
            walk(c.data + 4, c.data + c.size, [&](const Chunk& i) {
                if (i.list("ins ")) read_instrument(i, out);
            });
        } else if (is(c.id, "colh")) {
            if (c.size < 4) throw Refused{};
            out.instrument_count = u32(c.data);
        }
    });

    // Loops are offsets into the waves: one that leaves its wave is a lie.
    for (Wave& w : out.waves)
        if (w.loaded && !loop_fits(w.sample, w)) throw Refused{};
    for (Instrument& ins : out.instruments)
        for (Region& r : ins.regions) {
            const Wave* w = out.wave_of(r);
            if (!r.sample.present && w) r.sample = w->sample;
            if (w && !loop_fits(r.sample, *w)) throw Refused{};
        }
}

}  // namespace

size_t riff_extent(const void* image) {
    const auto* p = static_cast<const uint8_t*>(image);
    const size_t known = p ? digital::image_size(image) : 0;
    if (known < 12 || std::memcmp(p, "RIFF", 4) != 0) {
        SVX_set_error("Not a DLS file.");
        return 0;
    }
    const uint64_t riff = uint64_t(p[4] | p[5] << 8 | p[6] << 16 | uint32_t(p[7]) << 24) + 8;
    return size_t(std::min<uint64_t>(riff, known));
}

int32_t parse_collection(const uint8_t* image, size_t size, Collection& out) {
    out.pool.clear();
    out.waves.clear();
    out.instruments.clear();
    out.instrument_count = 0;
    try {
        if (!image) return kNotDls;
        parse(image, size, out);
        out.image = image;
        out.size = size;
        return kOk;
    } catch (const Refused&) {
    } catch (const std::bad_alloc&) {
        out.pool.clear();
        out.waves.clear();
        out.instruments.clear();
        return kOutOfMemory;
    }
    out.pool.clear();
    out.waves.clear();
    out.instruments.clear();
    return kNotDls;
}

}  // namespace svx::dls
