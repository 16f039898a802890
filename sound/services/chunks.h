// Reading the chunked images the file services look into: IFF chunks
// (XMIDI: big-endian lengths, tags compared without regard to case) and
// RIFF chunks (little-endian lengths, tags compared exactly). Every look
// is bounded by the image size.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace svx::services {

inline uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }
inline void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// An IFF tag of `n` bytes, without regard to letter case. Every byte is
// compared: a zero byte in the image matches only a zero byte.
inline bool same_tag(const uint8_t* p, const char* tag, size_t n = 4) {
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(p[i]) != std::tolower(static_cast<unsigned char>(tag[i]))) return false;
    return true;
}
// A RIFF identifier, exactly.
inline bool same_id(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// A bounded image.
struct Image {
    const uint8_t* data = nullptr;
    size_t size = 0;

    bool has(size_t at, size_t n) const { return at <= size && size - at >= n; }
};

// The top-level "FORM"/"CAT " chunk whose type is `type`: its offset, or
// SIZE_MAX. The walk stops at anything else, and at the image's end.
inline size_t find_top_chunk(Image image, const char* type) {
    size_t at = 0;
    while (image.has(at, 12)) {
        const uint8_t* p = image.data + at;
        if (!same_tag(p, "FORM") && !same_tag(p, "CAT ")) return SIZE_MAX;
        if (same_tag(p + 8, type)) return at;
        const uint64_t next = uint64_t(at) + 8 + be32(p + 4);
        if (next > image.size) return SIZE_MAX;
        at = size_t(next);
    }
    return SIZE_MAX;
}

// True when the image starts with a "FORM" of type "XDIR".
inline bool is_xmidi_directory(Image image) {
    return image.has(0, 12) && same_tag(image.data, "FORM") && same_tag(image.data + 8, "XDIR");
}

// The form type of a RIFF image ("DLS ", "MLS ", ...), or null.
inline const uint8_t* riff_type(Image image) {
    if (!image.has(0, 12) || !same_id(image.data, "RIFF")) return nullptr;
    return image.data + 8;
}

// Size of a RIFF image as its header gives it (length + 8), cut at the image.
inline size_t riff_size(Image image) {
    if (!image.has(0, 8)) return 0;
    const uint64_t whole = uint64_t(le32(image.data + 4)) + 8;
    return whole < image.size ? size_t(whole) : image.size;
}

}  // namespace svx::services
