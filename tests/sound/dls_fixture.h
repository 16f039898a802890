// A writer of small DLS Level 1 collections for the tests: waves with
// their format, data and sample parameters, instruments with regions and
// articulations, and the top-level chunks in any order.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dls_fixture {

using Bytes = std::vector<uint8_t>;

inline void le(Bytes& b, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline Bytes chunk(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    le(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
inline Bytes list(const char* type, const std::vector<Bytes>& parts) {
    Bytes data(type, type + 4);
    for (const Bytes& p : parts) data.insert(data.end(), p.begin(), p.end());
    return chunk("LIST", data);
}

struct Loop {
    uint32_t start, length;
};
struct Wsmp {
    uint16_t unity = 60;
    int16_t fine = 0;
    int32_t attenuation = 0;
    std::optional<Loop> loop;
};
inline Bytes wsmp(const Wsmp& w) {
    Bytes b;
    le(b, 20);
    le(b, w.unity, 2);
    le(b, uint32_t(uint16_t(w.fine)), 2);
    le(b, uint32_t(w.attenuation));
    le(b, 0);
    le(b, w.loop ? 1 : 0);
    if (w.loop) {
        le(b, 16);
        le(b, 0);
        le(b, w.loop->start);
        le(b, w.loop->length);
    }
    return chunk("wsmp", b);
}

struct Wave {
    int bits = 16, channels = 1;
    uint32_t rate = 22050;
    Bytes data;
    std::optional<Wsmp> sample;
    bool wsmp_first = false;  // chunk order inside the wave list
};
// 16-bit mono data from values.
inline Bytes pcm16(const std::vector<int16_t>& values) {
    Bytes b;
    for (int16_t v : values) le(b, uint16_t(v), 2);
    return b;
}

struct Connection {
    uint16_t source, control, destination, transform;
    int32_t scale;
};
inline Bytes lart(const std::vector<Connection>& cs) {
    Bytes b;
    le(b, 8);
    le(b, uint32_t(cs.size()));
    for (const Connection& c : cs) {
        le(b, c.source, 2);
        le(b, c.control, 2);
        le(b, c.destination, 2);
        le(b, c.transform, 2);
        le(b, uint32_t(c.scale));
    }
    return list("lart", {chunk("art1", b)});
}

struct Region {
    Region(uint16_t l, uint16_t h, uint32_t w, uint16_t o = 0, uint16_t g = 0)
        : low(l), high(h), wave(w), options(o), key_group(g) {}
    uint16_t low = 0, high = 127;
    uint32_t wave = 0;
    uint16_t options = 0, key_group = 0;
    std::optional<Wsmp> sample;
    std::vector<Connection> articulation;
};
struct Instrument {
    Instrument(uint32_t b, uint32_t p, std::vector<Region> r, std::vector<Connection> a = {})
        : bank(b), patch(p), regions(std::move(r)), articulation(std::move(a)) {}
    uint32_t bank = 0;  // bit 31 drum kit
    uint32_t patch = 0;
    std::vector<Region> regions;
    std::vector<Connection> articulation;
    bool articulation_first = false;
};

inline Bytes wave_list(const Wave& w) {
    Bytes fmt;
    le(fmt, 1, 2);
    le(fmt, uint32_t(w.channels), 2);
    le(fmt, w.rate);
    const uint32_t align = uint32_t(w.channels * w.bits / 8);
    le(fmt, w.rate * align);
    le(fmt, align, 2);
    le(fmt, uint32_t(w.bits), 2);
    std::vector<Bytes> parts;
    if (w.sample && w.wsmp_first) parts.push_back(wsmp(*w.sample));
    parts.push_back(chunk("fmt ", fmt));
    parts.push_back(chunk("data", w.data));
    if (w.sample && !w.wsmp_first) parts.push_back(wsmp(*w.sample));
    return list("wave", parts);
}

inline Bytes instrument_list(const Instrument& in) {
    Bytes insh;
    le(insh, uint32_t(in.regions.size()));
    le(insh, in.bank);
    le(insh, in.patch);
    std::vector<Bytes> regions;
    for (const Region& r : in.regions) {
        Bytes rgnh, wlnk;
        le(rgnh, r.low, 2);
        le(rgnh, r.high, 2);
        le(rgnh, 0, 2);
        le(rgnh, 127, 2);
        le(rgnh, r.options, 2);
        le(rgnh, r.key_group, 2);
        le(wlnk, 0, 2);
        le(wlnk, 0, 2);
        le(wlnk, 1);
        le(wlnk, r.wave);
        std::vector<Bytes> parts{chunk("rgnh", rgnh)};
        if (r.sample) parts.push_back(wsmp(*r.sample));
        parts.push_back(chunk("wlnk", wlnk));
        if (!r.articulation.empty()) parts.push_back(lart(r.articulation));
        regions.push_back(list("rgn ", parts));
    }
    std::vector<Bytes> parts;
    if (!in.articulation.empty() && in.articulation_first) parts.push_back(lart(in.articulation));
    parts.push_back(chunk("insh", insh));
    parts.push_back(list("lrgn", regions));
    if (!in.articulation.empty() && !in.articulation_first) parts.push_back(lart(in.articulation));
    return list("ins ", parts);
}

struct Collection {
    std::vector<Wave> waves;
    std::vector<Instrument> instruments;
    // Top-level order, by the letters c (colh), i (lins), p (ptbl), w (wvpl).
    std::string order = "cipw";
    // Pool table entries in reverse wave order.
    bool reversed_pool = false;
    const char* type = "DLS ";
};

inline Bytes build(const Collection& c) {
    Bytes colh;
    le(colh, uint32_t(c.instruments.size()));
    std::vector<Bytes> ins;
    for (const Instrument& i : c.instruments) ins.push_back(instrument_list(i));
    std::vector<Bytes> waves;
    std::vector<uint32_t> offsets;
    uint32_t at = 0;
    for (const Wave& w : c.waves) {
        waves.push_back(wave_list(w));
        offsets.push_back(at);
        at += uint32_t(waves.back().size());
    }
    Bytes ptbl;
    le(ptbl, 8);
    le(ptbl, uint32_t(offsets.size()));
    std::vector<size_t> index(offsets.size());
    for (size_t i = 0; i < index.size(); ++i) index[i] = i;
    // A reversed pool table lists the waves back to front, and so do the
    // regions' wave numbers, which index the table.
    if (c.reversed_pool)
        for (size_t i = 0; i < index.size(); ++i) index[i] = index.size() - 1 - i;
    for (size_t i : index) le(ptbl, offsets[i]);
    Bytes body(c.type, c.type + 4);
    for (char part : c.order) {
        Bytes b;
        if (part == 'c') b = chunk("colh", colh);
        if (part == 'i') b = list("lins", ins);
        if (part == 'p') b = chunk("ptbl", ptbl);
        if (part == 'w') b = list("wvpl", waves);
        body.insert(body.end(), b.begin(), b.end());
    }
    return chunk("RIFF", body);
}

}  // namespace dls_fixture
