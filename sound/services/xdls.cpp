// XMIDI files with a DLS collection inside: find, extract and merge; and
// the filter that strips a collection down to what XMIDI files play.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/ops.h"
#include "digital/sample.h"
#include "midi/dls_compress.h"
#include "services/chunks.h"
#include "services/outbuf.h"

namespace svx::services {
namespace {

// A caller's image: its size when the library knows it (a library block),
// else as far as its own lengths say.
Image image_of(const void* data) {
    return {static_cast<const uint8_t*>(data), data ? digital::image_size(data) : 0};
}

template <typename T>
void put(T* out, T value) {
    if (out) *out = value;
}

// Bytes of the XMIDI chunks from the start up to and including the first
// "CAT "; 0 when there is none.
size_t xmidi_chunks_size(Image image) {
    size_t at = 0;
    while (image.has(at, 8)) {
        const uint8_t* p = image.data + at;
        if (!same_tag(p, "FORM") && !same_tag(p, "CAT ")) return 0;
        const uint64_t next = uint64_t(at) + 8 + be32(p + 4);
        if (next > image.size) return 0;
        if (same_tag(p, "CAT ")) return size_t(next);
        at = size_t(next);
    }
    return 0;
}

uint8_t* copy_block(const uint8_t* from, size_t bytes) {
    if (bytes > INT32_MAX) {
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(::SVX_mem_alloc_lock(int32_t(std::max<size_t>(bytes, 1))));
    if (block) std::memcpy(block, from, bytes);
    return block;
}

// ---- the filter ----

// One RIFF chunk: where its header is, where its data is, how long.
struct Chunk {
    size_t at = 0;
    size_t data = 0;
    size_t length = 0;
    size_t end = 0;  // after the padding
    const uint8_t* id = nullptr;
};

// The chunks between `begin` and `end` of `v`, each whole inside.
std::vector<Chunk> riff_chunks(const std::vector<uint8_t>& v, size_t begin, size_t end) {
    std::vector<Chunk> out;
    size_t at = begin;
    while (at < end && end - at >= 8) {
        const size_t length = le32(&v[at + 4]);
        if (length > end - at - 8) break;
        Chunk c{at, at + 8, length, std::min(at + 8 + length + (length & 1), end), &v[at]};
        out.push_back(c);
        at = c.end;
    }
    return out;
}
bool is_list(const std::vector<uint8_t>& v, const Chunk& c, const char* type) {
    return same_id(c.id, "LIST") && c.length >= 4 && same_id(&v[c.data], type);
}
const Chunk* first(const std::vector<Chunk>& chunks, const char* id) {
    for (const Chunk& c : chunks)
        if (same_id(c.id, id)) return &c;
    return nullptr;
}
const Chunk* first_list(const std::vector<uint8_t>& v, const std::vector<Chunk>& chunks,
                        const char* type) {
    for (const Chunk& c : chunks)
        if (is_list(v, c, type)) return &c;
    return nullptr;
}

// Cuts [at, at + bytes) out of `v` and shortens the length fields of the
// chunks that held it (their header offsets, outermost first).
void cut(std::vector<uint8_t>& v, size_t at, size_t bytes, std::initializer_list<size_t> holders) {
    v.erase(v.begin() + long(at), v.begin() + long(at + bytes));
    for (size_t h : holders) put_le32(&v[h + 4], le32(&v[h + 4]) - uint32_t(bytes));
}

// What the scanned sequences play.
struct Usage {
    std::vector<uint8_t> keys = std::vector<uint8_t>(128 * 128);  // program * 128 + key
    std::vector<uint8_t> drum_keys = std::vector<uint8_t>(128);
    std::vector<uint8_t> programs = std::vector<uint8_t>(128);
    std::vector<uint8_t> banks = std::vector<uint8_t>(128 * 128);  // MSB * 128 + LSB
};

// Reads a variable-length quantity of at most 4 bytes; false past `end`.
bool read_vlq(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) return false;
        const uint8_t b = *p++;
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return true;
}

void scan_events(const uint8_t* p, const uint8_t* end, Usage& usage) {
    int program[16] = {}, msb[16] = {}, lsb[16] = {}, rpn_lsb[16], rpn_msb[16], transpose[16] = {};
    std::fill(std::begin(rpn_lsb), std::end(rpn_lsb), 127);
    std::fill(std::begin(rpn_msb), std::end(rpn_msb), 127);
    while (p < end) {
        const uint8_t status = *p;
        if (status < 0x80) {
            ++p;
            continue;
        }
        const int ch = status & 15;
        const int kind = status & 0xF0;
        if (kind != 0xF0) {
            const int length = kind == 0xC0 || kind == 0xD0 ? 2 : 3;
            if (end - p < length) return;
            const int d1 = p[1] & 0x7F, d2 = length == 3 ? p[2] & 0x7F : 0;
            p += length;
            if (kind == 0x90) {
                uint32_t duration;
                if (!read_vlq(p, end, duration)) return;
                if (ch == 9)
                    usage.drum_keys[size_t(d1)] = 1;
                else
                    usage.keys[size_t(program[ch] * 128 + std::clamp(d1 + transpose[ch], 0, 127))] = 1;
                usage.programs[size_t(program[ch])] = 1;
                usage.banks[size_t(msb[ch] * 128 + lsb[ch])] = 1;
            } else if (kind == 0xC0) {
                program[ch] = d1;
            } else if (kind == 0xB0) {
                switch (d1) {
                case 0: msb[ch] = d2; break;
                case 32: lsb[ch] = d2; break;
                case 114: lsb[ch] = d2; msb[ch] = 0; break;
                case 100: rpn_lsb[ch] = d2; break;
                case 101: rpn_msb[ch] = d2; break;
                case 6:
                    if (rpn_lsb[ch] == 2 && rpn_msb[ch] == 0) transpose[ch] = d2 - 64;
                    break;
                default: break;
                }
            }
            continue;
        }
        ++p;
        if (status == 0xF0 || status == 0xF7) {
            uint32_t length;
            if (!read_vlq(p, end, length) || length > uint64_t(end - p)) return;
            p += length;
        } else if (status == 0xFF) {
            if (p >= end) return;
            const uint8_t type = *p++;
            uint32_t length;
            if (!read_vlq(p, end, length) || length > uint64_t(end - p)) return;
            p += length;
            if (type == 0x2F) return;
        } else {
            return;
        }
    }
}

// Every sequence of an XMIDI image, scanned into `usage`.
void scan_xmidi(Image image, Usage& usage) {
    const size_t container = find_top_chunk(image, "XMID");
    if (container == SIZE_MAX) return;
    const uint8_t* c = image.data + container;
    const size_t container_end =
        size_t(std::min<uint64_t>(uint64_t(container) + 8 + be32(c + 4), image.size));
    auto scan_form = [&](size_t form, size_t form_end) {
        for (size_t at = form + 12; at < form_end && form_end - at >= 8;) {
            const uint64_t next = uint64_t(at) + 8 + be32(image.data + at + 4);
            const size_t end = size_t(std::min<uint64_t>(next, form_end));
            if (same_tag(image.data + at, "EVNT")) scan_events(image.data + at + 8, image.data + end, usage);
            at = end;
        }
    };
    if (same_tag(c, "FORM")) {
        scan_form(container, container_end);
        return;
    }
    for (size_t at = container + 12; at < container_end && container_end - at >= 12;) {
        const uint64_t next = uint64_t(at) + 8 + be32(image.data + at + 4);
        const size_t end = size_t(std::min<uint64_t>(next, container_end));
        if (same_tag(image.data + at + 8, "XMID")) scan_form(at, end);
        at = end;
    }
}

// Keeps what `usage` plays of the collection in `v`.
void filter_collection(std::vector<uint8_t>& v, const Usage& usage) {
    auto top = riff_chunks(v, 12, v.size());
    const Chunk* lins = first_list(v, top, "lins");
    const Chunk* colh_chunk = first(top, "colh");
    size_t colh = colh_chunk && colh_chunk->length >= 4 ? colh_chunk->data : 0;
    std::vector<uint8_t> waves_used;
    std::vector<std::pair<size_t, size_t>> drop;  // instrument lists to cut
    std::vector<uint32_t> used_indices;

    if (lins) {
        for (const Chunk& ins : riff_chunks(v, lins->data + 4, lins->data + lins->length)) {
            if (!is_list(v, ins, "ins ")) continue;
            const auto parts = riff_chunks(v, ins.data + 4, ins.data + ins.length);
            const Chunk* insh = first(parts, "insh");
            if (!insh || insh->length < 12) continue;
            const uint32_t bank_field = le32(&v[insh->data + 4]);
            const uint32_t patch = le32(&v[insh->data + 8]) & 0x7F;
            const bool drums = bank_field & 0x80000000u;
            const size_t bank = ((bank_field >> 8) & 0x7F) * 128 + (bank_field & 0x7F);
            if (!usage.programs[patch] || !usage.banks[bank]) {
                drop.emplace_back(ins.at, ins.end - ins.at);
                continue;
            }
            const Chunk* lrgn = first_list(v, parts, "lrgn");
            if (!lrgn) continue;
            for (const Chunk& rgn : riff_chunks(v, lrgn->data + 4, lrgn->data + lrgn->length)) {
                if (!is_list(v, rgn, "rgn ")) continue;
                const auto rparts = riff_chunks(v, rgn.data + 4, rgn.data + rgn.length);
                const Chunk* rgnh = first(rparts, "rgnh");
                const Chunk* wlnk = first(rparts, "wlnk");
                if (!rgnh || rgnh->length < 4 || !wlnk || wlnk->length < 12) continue;
                const uint32_t low = std::min<uint32_t>(le16(&v[rgnh->data]), 127);
                const uint32_t high = std::min<uint32_t>(le16(&v[rgnh->data + 2]), 127);
                bool used = false;
                for (uint32_t key = low; key <= high && !used; ++key)
                    used = drums ? usage.drum_keys[key] : usage.keys[patch * 128 + key];
                if (used) used_indices.push_back(le32(&v[wlnk->data + 8]));
            }
        }
        for (auto it = drop.rbegin(); it != drop.rend(); ++it) {
            cut(v, it->first, it->second, {0, lins->at});
            if (colh > it->first) colh -= it->second;
            if (colh) put_le32(&v[colh], le32(&v[colh]) - 1);
        }
    }

    // The lists moved: find the pool table and the wave pool again.
    top = riff_chunks(v, 12, v.size());
    const Chunk* ptbl = first(top, "ptbl");
    const Chunk* wvpl = first_list(v, top, "wvpl");
    if (!ptbl || ptbl->length < 8) return;
    const size_t header = le32(&v[ptbl->data]);
    const size_t count = le32(&v[ptbl->data + 4]);
    if (header > ptbl->length) return;
    const size_t entries = std::min(count, (ptbl->length - header) / 4);
    size_t table = ptbl->data + header;
    std::vector<uint8_t> keep(entries);
    for (uint32_t index : used_indices)
        if (index < entries) keep[index] = 1;
    for (size_t i = 0; i < entries; ++i)
        if (!keep[i]) put_le32(&v[table + 4 * i], 0);
    if (!wvpl) return;
    const size_t pool = wvpl->data + 4;
    const size_t wvpl_at = wvpl->at;
    const auto waves = riff_chunks(v, pool, wvpl->data + wvpl->length);
    for (auto w = waves.rbegin(); w != waves.rend(); ++w) {
        const uint32_t offset = uint32_t(w->at - pool);
        bool listed = false;
        for (size_t i = 0; i < entries && !listed; ++i) listed = le32(&v[table + 4 * i]) == offset;
        if (listed) continue;
        const uint32_t bytes = uint32_t(w->end - w->at);
        for (size_t i = 0; i < entries; ++i) {
            const uint32_t e = le32(&v[table + 4 * i]);
            if (keep[i] && e > offset) put_le32(&v[table + 4 * i], e - bytes);
        }
        cut(v, w->at, bytes, {0, wvpl_at});
        if (table > w->at) table -= bytes;
    }
}

}  // namespace
}  // namespace svx::services

namespace svx::op {
using namespace svx::services;

int32_t SVX_find_DLS(const void* data, uint32_t size, void** xmidi, uint32_t* xmidi_size,
                     void** dls, uint32_t* dls_size) {
    const Image image{static_cast<const uint8_t*>(data), data ? size : 0};
    if (!is_xmidi_directory(image)) {
        ::SVX_set_error("Not an XMI file.");
        return 0;
    }
    put(dls, static_cast<void*>(nullptr));
    put(dls_size, 0u);
    const size_t xdls = find_top_chunk(image, "XDLS");
    if (xdls != SIZE_MAX && image.has(xdls + 12, 8)) {
        const Image riff{image.data + xdls + 12, image.size - xdls - 12};
        put(dls, const_cast<void*>(static_cast<const void*>(riff.data)));
        // The RIFF's own length field, as callers of find have always had
        // it: the image is that plus its 8-byte header.
        put(dls_size, uint32_t(riff_size(riff) - 8));
    }
    put(xmidi, const_cast<void*>(data));
    put(xmidi_size, uint32_t(xmidi_chunks_size(image)));
    return 1;
}

int32_t SVX_extract_DLS(const void* data, uint32_t size, void** xmidi, uint32_t* xmidi_size,
                        void** dls, uint32_t* dls_size) {
    put(xmidi, static_cast<void*>(nullptr));
    put(xmidi_size, 0u);
    put(dls, static_cast<void*>(nullptr));
    put(dls_size, 0u);
    const Image image{static_cast<const uint8_t*>(data), data ? size : 0};
    Image collection{};
    size_t xmidi_start = SIZE_MAX, xmidi_end = image.size;
    if (image.has(0, 4) && (same_tag(image.data, "FORM") || same_tag(image.data, "CAT "))) {
        xmidi_start = find_top_chunk(image, "XDIR");
        if (xmidi_start == SIZE_MAX) xmidi_start = find_top_chunk(image, "XMID");
        const size_t xdls = find_top_chunk(image, "XDLS");
        if (xdls != SIZE_MAX) {
            const uint64_t length = be32(image.data + xdls + 4);
            const size_t start = xdls + 12;
            collection = {image.data + start, size_t(std::min<uint64_t>(length, image.size - start))};
            if (xmidi_start != SIZE_MAX && xdls > xmidi_start) xmidi_end = xdls;
        }
    } else {
        collection = image;
    }
    const uint8_t* type = riff_type(collection);
    const bool is_dls = type && same_id(type, "DLS ");
    const bool is_mls = type && same_id(type, "MLS ");
    // Nothing to hand out is no success: a bare image that is no
    // collection fails as an XMIDI file without one does.
    if (!collection.data || (xmidi_start == SIZE_MAX && !is_dls && !is_mls)) {
        ::SVX_set_error("Unknown file type.");
        return 0;
    }
    uint8_t* dls_block = nullptr;
    size_t dls_bytes = collection.size;
    if (is_dls) {
        dls_block = copy_block(collection.data, collection.size);
        if (!dls_block) return 0;
    } else if (is_mls) {
        std::vector<uint8_t> expanded;
        if (!dls::expand_collection(collection.data, riff_size(collection), expanded)) return 0;
        dls_block = copy_block(expanded.data(), expanded.size());
        if (!dls_block) return 0;
        dls_bytes = expanded.size();
    }
    if (xmidi_start != SIZE_MAX) {
        uint8_t* x = copy_block(image.data + xmidi_start, xmidi_end - xmidi_start);
        if (!x) {
            if (dls_block) ::SVX_mem_free_lock(dls_block);
            return 0;
        }
        if (xmidi) *xmidi = x; else ::SVX_mem_free_lock(x);
        put(xmidi_size, uint32_t(xmidi_end - xmidi_start));
    }
    if (dls_block) {
        if (dls) *dls = dls_block; else ::SVX_mem_free_lock(dls_block);
        put(dls_size, uint32_t(dls_bytes));
    }
    return 1;
}

int32_t SVX_merge_DLS_with_XMI(const void* xmidi_data, const void* dls_data, void** result,
                               uint32_t* result_size) {
    put(result, static_cast<void*>(nullptr));
    put(result_size, 0u);
    if (!xmidi_data || !dls_data) return 0;
    const Image xmidi = image_of(xmidi_data);
    const Image dls = image_of(dls_data);
    const size_t xmidi_bytes = is_xmidi_directory(xmidi) ? xmidi_chunks_size(xmidi) : 0;
    if (xmidi_bytes == 0) {
        ::SVX_set_error("Not an XMI file.");
        return 0;
    }
    const uint8_t* type = riff_type(dls);
    if (!type || (!same_id(type, "DLS ") && !same_id(type, "MLS "))) {
        ::SVX_set_error("Not a DLS file.");
        return 0;
    }
    const size_t dls_bytes = riff_size(dls);
    OutputBuffer out;
    out.write(xmidi.data, xmidi_bytes);
    out.write("FORM", 4);
    out.write_be32(uint32_t(dls_bytes));
    out.write("XDLS", 4);
    out.write(dls.data, dls_bytes);
    void* block = out.finish(result_size);
    if (!block) {
        ::SVX_set_error("Out of memory.");
        return 0;
    }
    if (result) *result = block; else ::SVX_mem_free_lock(block);
    return 1;
}

int32_t SVX_filter_DLS_with_XMI(const void* source, const void* dls_data, void** result,
                                uint32_t* result_size, uint32_t flags) {
    put(result, static_cast<void*>(nullptr));
    put(result_size, 0u);
    const Image dls = image_of(dls_data);
    const uint8_t* type = riff_type(dls);
    if (!type || (!same_id(type, "DLS ") && !same_id(type, "MLS "))) {
        ::SVX_set_error("Not a DLS file.");
        return 0;
    }
    std::vector<const void*> sources;
    if (flags & 1) {
        const auto* list = static_cast<const uint8_t*>(source);
        if (!list) {
            ::SVX_set_error("Not an XMI file.");
            return 0;
        }
        // The count sits in a pointer-sized slot ahead of the addresses.
        const auto* slots = reinterpret_cast<const uintptr_t*>(list);
        const uint32_t count = uint32_t(slots[0]);
        for (uint32_t i = count; i > 0; --i) sources.push_back(reinterpret_cast<const void*>(slots[i]));
    } else {
        sources.push_back(source);
    }
    Usage usage;
    for (const void* s : sources) {
        const Image xmidi = image_of(s);
        if (!is_xmidi_directory(xmidi)) {
            ::SVX_set_error("Not an XMI file.");
            return 0;
        }
        scan_xmidi(xmidi, usage);
    }
    const size_t bytes = riff_size(dls);
    std::vector<uint8_t> v(dls.data, dls.data + bytes);
    if (v.size() >= 12) filter_collection(v, usage);
    uint8_t* block = copy_block(v.data(), v.size());
    if (!block) return 0;
    if (result) *result = block; else ::SVX_mem_free_lock(block);
    put(result_size, uint32_t(v.size()));
    return 1;
}

}  // namespace svx::op
