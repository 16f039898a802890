// "MLS " compression and expansion. The collection is rebuilt chunk by
// chunk rather than edited in place; the pool table's offsets follow the
// waves to their new places.
#include "midi/dls_compress.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "core/ops.h"
#include "sonvex.h"

namespace svx::dls {

namespace {

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; }
bool is(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

struct Chunk {
    const uint8_t* id;
    const uint8_t* data;
    uint32_t size;
    bool list(const char* type) const { return is(id, "LIST") && size >= 4 && is(data, type); }
};

// The chunks of [p, end); false when one is longer than what is left.
bool chunks_of(const uint8_t* p, const uint8_t* end, std::vector<Chunk>& out) {
    while (end - p >= 8) {
        const uint32_t size = u32(p + 4);
        if (size > size_t(end - p) - 8) return false;
        out.push_back({p, p + 8, size});
        const size_t step = 8 + size_t(size) + (size & 1);
        if (step >= size_t(end - p)) break;
        p += step;
    }
    return true;
}

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void put_chunk(Bytes& b, const char* id, const uint8_t* data, size_t size) {
    b.insert(b.end(), id, id + 4);
    put32(b, uint32_t(size));
    b.insert(b.end(), data, data + size);
    if (size & 1) b.push_back(0);
}
void put_chunk(Bytes& b, const Chunk& c) { put_chunk(b, reinterpret_cast<const char*>(c.id), c.data, c.size); }
// A "LIST" of `type` around `body`.
void put_list(Bytes& b, const char* type, const Bytes& body) {
    Bytes data(type, type + 4);
    data.insert(data.end(), body.begin(), body.end());
    put_chunk(b, "LIST", data.data(), data.size());
}

// A WAVE image's chunk, by id, or null.
const uint8_t* wave_chunk(const uint8_t* image, uint32_t size, const char* id, uint32_t& length) {
    std::vector<Chunk> parts;
    if (size < 12 || !chunks_of(image + 12, image + size, parts)) return nullptr;
    for (const Chunk& c : parts)
        if (is(c.id, id)) {
            length = c.size;
            return c.data;
        }
    return nullptr;
}

// Frees a library block when it goes out of scope.
struct Block {
    void* p = nullptr;
    uint32_t size = 0;
    ~Block() {
        if (p) op::SVX_mem_free_lock(p);
    }
    const uint8_t* bytes() const { return static_cast<const uint8_t*>(p); }
};

// The wave list `parts` compressed; false leaves it as it is.
bool compress_wave(const std::vector<Chunk>& parts, Bytes& body) {
    const Chunk* fmt = nullptr;
    const Chunk* data = nullptr;
    for (const Chunk& c : parts) {
        if (is(c.id, "fmt ")) fmt = &c;
        if (is(c.id, "data")) data = &c;
    }
    if (!fmt || !data || fmt->size < 16 || u16(fmt->data) != 1) return false;
    SoundFileInfo info{};
    info.format_tag = 1;
    info.channels = u16(fmt->data + 2);
    info.rate = u32(fmt->data + 4);
    info.bits = u16(fmt->data + 14);
    info.data = data->data;
    info.data_length = data->size;
    const uint32_t frame = info.bits / 8 * info.channels;
    if (frame == 0 || data->size < frame) return false;
    info.samples = data->size / frame;
    Block wav;
    if (!op::SVX_compress_ADPCM(&info, &wav.p, &wav.size) || !wav.p) return false;
    uint32_t fmt_size = 0, fact_size = 0, data_size = 0;
    const uint8_t* new_fmt = wave_chunk(wav.bytes(), wav.size, "fmt ", fmt_size);
    const uint8_t* new_fact = wave_chunk(wav.bytes(), wav.size, "fact", fact_size);
    const uint8_t* new_data = wave_chunk(wav.bytes(), wav.size, "data", data_size);
    if (!new_fmt || !new_fact || !new_data) return false;
    put_chunk(body, "pcm ", fmt->data, fmt->size);
    put_chunk(body, "fmt ", new_fmt, fmt_size);
    put_chunk(body, "fact", new_fact, fact_size);
    for (const Chunk& c : parts) {
        if (is(c.id, "fmt ")) continue;
        if (is(c.id, "data")) put_chunk(body, "data", new_data, data_size);
        else put_chunk(body, c);
    }
    return true;
}

// The wave list `parts` expanded back to PCM in the format of its "pcm ".
bool expand_wave(const std::vector<Chunk>& parts, Bytes& body) {
    const Chunk *pcm = nullptr, *fmt = nullptr, *fact = nullptr, *data = nullptr;
    for (const Chunk& c : parts) {
        if (is(c.id, "pcm ")) pcm = &c;
        if (is(c.id, "fmt ")) fmt = &c;
        if (is(c.id, "fact")) fact = &c;
        if (is(c.id, "data")) data = &c;
    }
    if (!pcm || !fmt || !fact || !data || pcm->size < 16 || fmt->size < 16 || fact->size < 4)
        return false;
    SoundFileInfo info{};
    info.format_tag = u16(fmt->data);
    info.channels = u16(fmt->data + 2);
    info.rate = u32(fmt->data + 4);
    info.block_size = u16(fmt->data + 12);
    info.bits = 4;
    info.samples = u32(fact->data);
    info.data = data->data;
    info.data_length = data->size;
    const uint32_t bits = u16(pcm->data + 14);
    if (info.channels != u16(pcm->data + 2) || (bits != 8 && bits != 16)) return false;
    Block wav;
    if (info.samples == 0) {
        wav.size = 0;
    } else if (!op::SVX_decompress_ADPCM(&info, &wav.p, &wav.size) || !wav.p) {
        return false;
    }
    uint32_t pcm_size = 0;
    const uint8_t* samples = wav.p ? wave_chunk(wav.bytes(), wav.size, "data", pcm_size) : nullptr;
    Bytes out;
    if (bits == 16) {
        if (samples) out.assign(samples, samples + pcm_size);
    } else {
        out.reserve(pcm_size / 2);
        for (uint32_t i = 0; samples && i + 1 < pcm_size; i += 2)
            out.push_back(uint8_t((int16_t(u16(samples + i)) >> 8) + 128));
    }
    put_chunk(body, "fmt ", pcm->data, pcm->size);
    for (const Chunk& c : parts) {
        if (is(c.id, "pcm ") || is(c.id, "fmt ") || is(c.id, "fact")) continue;
        if (is(c.id, "data")) put_chunk(body, "data", out.data(), out.size());
        else put_chunk(body, c);
    }
    return true;
}

// Rebuilds the collection with each wave list passed through `convert`
// (false: copied as it was) and the pool table following the waves.
template <typename Convert>
bool rebuild(const uint8_t* image, size_t size, const char* type, Bytes& out, Convert convert) {
    const uint8_t* end = image + std::min<uint64_t>(size, uint64_t(u32(image + 4)) + 8);
    std::vector<Chunk> top;
    if (!chunks_of(image + 12, end, top)) return false;
    std::map<uint32_t, uint32_t> moved;  // old offset in "wvpl" -> new one
    Bytes body;
    size_t ptbl_at = SIZE_MAX;
    const Chunk* ptbl = nullptr;
    for (const Chunk& c : top) {
        if (c.list("wvpl")) {
            std::vector<Chunk> waves;
            if (!chunks_of(c.data + 4, c.data + c.size, waves)) return false;
            Bytes pool;
            for (const Chunk& w : waves) {
                moved[uint32_t(w.id - (c.data + 4))] = uint32_t(pool.size());
                Bytes wave;
                std::vector<Chunk> parts;
                if (w.list("wave")) {
                    if (!chunks_of(w.data + 4, w.data + w.size, parts)) return false;
                    if (convert(parts, wave)) {
                        put_list(pool, "wave", wave);
                        continue;
                    }
                }
                put_chunk(pool, w);
            }
            put_list(body, "wvpl", pool);
        } else {
            if (is(c.id, "ptbl")) {
                ptbl_at = body.size();
                ptbl = &c;
            }
            put_chunk(body, c);
        }
    }
    if (ptbl && ptbl->size >= 8) {
        const uint32_t header = u32(ptbl->data), count = u32(ptbl->data + 4);
        if (header < 8 || header > ptbl->size || count > (ptbl->size - header) / 4) return false;
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t* cue = body.data() + ptbl_at + 8 + header + 4 * size_t(i);
            auto found = moved.find(u32(cue));
            if (found == moved.end()) continue;
            for (int b = 0; b < 4; ++b) cue[b] = uint8_t(found->second >> (8 * b));
        }
    }
    out.clear();
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, uint32_t(body.size() + 4));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    return true;
}

bool has_ptbl(const uint8_t* image, size_t size) {
    const uint8_t* end = image + std::min<uint64_t>(size, uint64_t(u32(image + 4)) + 8);
    std::vector<Chunk> top;
    chunks_of(image + 12, end, top);
    return std::any_of(top.begin(), top.end(), [](const Chunk& c) { return is(c.id, "ptbl"); });
}

bool of_type(const uint8_t* image, size_t size, const char* type) {
    return image && size >= 12 && is(image, "RIFF") && is(image + 8, type);
}

}  // namespace

bool compress_collection(const uint8_t* image, size_t size, std::vector<uint8_t>& out) {
    try {
        if (!of_type(image, size, "DLS ")) {
            op::SVX_set_error("Not a DLS file.");
            return false;
        }
        if (!has_ptbl(image, size)) {
            op::SVX_set_error("No PTBL chunk found.");
            return false;
        }
        auto convert = [](const std::vector<Chunk>& parts, Bytes& wave) {
            for (const Chunk& c : parts)
                if (is(c.id, "pcm ")) return false;
            return compress_wave(parts, wave);
        };
        if (!rebuild(image, size, "MLS ", out, convert)) {
            op::SVX_set_error("Not a DLS file.");
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        op::SVX_set_error("Out of memory.");
        return false;
    }
}

bool expand_collection(const uint8_t* image, size_t size, std::vector<uint8_t>& out) {
    try {
        if (!of_type(image, size, "MLS ")) {
            op::SVX_set_error("Not a DLS file.");
            return false;
        }
        bool damaged = false;
        auto convert = [&](const std::vector<Chunk>& parts, Bytes& wave) {
            for (const Chunk& c : parts)
                if (is(c.id, "pcm ")) {
                    if (expand_wave(parts, wave)) return true;
                    damaged = true;
                    return false;
                }
            return false;
        };
        if (!rebuild(image, size, "DLS ", out, convert) || damaged) {
            op::SVX_set_error("Not a DLS file.");
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        op::SVX_set_error("Out of memory.");
        return false;
    }
}

}  // namespace svx::dls
