// VOC images: the block walk that finds one sound block after another.
#include <strings.h>

#include "digital/sample.h"

namespace svx::digital {
namespace {

enum BlockType : uint8_t {
    kTerminator = 0,
    kSoundData = 1,
    kSoundContinue = 2,
    kMarker = 4,
    kRepeatStart = 6,
    kRepeatEnd = 7,
    kExtended = 8,
    kNewFormat = 9,
};

constexpr int32_t kRepeatForever = 0xFFFF;
constexpr size_t kHeaderBytes = 22;  // up to the offset of the first block

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
uint32_t u32(const uint8_t* p) { return u24(p) | uint32_t(p[3]) << 24; }

// Are `count` bytes at `offset` inside the image?
bool inside(const VocCursor& c, size_t offset, size_t count) {
    return offset <= c.size && count <= c.size - offset;
}

}  // namespace

bool is_voc(const uint8_t* image, size_t size) {
    return image && size >= 8 && strncasecmp(reinterpret_cast<const char*>(image), "Creative", 8) == 0;
}

VocCursor voc_open(const uint8_t* image, size_t size, int32_t marker) {
    VocCursor cursor;
    cursor.image = image;
    cursor.size = size;
    cursor.wanted_marker = marker;
    cursor.selected = marker == -1;
    // A header cut short leaves nothing to examine.
    cursor.next = size >= kHeaderBytes ? u16(image + 20) : size;
    return cursor;
}

bool voc_next_sound(VocCursor& c, VocData& out) {
    // An endless repeat around blocks without sound would never yield one.
    bool jumped_back = false;
    for (;;) {
        const size_t at = c.next;
        if (!c.image || !inside(c, at, 1)) return false;
        const uint8_t type = c.image[at];
        if (type == kTerminator) return false;
        if (!inside(c, at, 4)) return false;
        const uint32_t length = u24(c.image + at + 1);
        const size_t body = at + 4;
        // A block running past the image ends the file here.
        if (!inside(c, body, length)) return false;
        const uint8_t* b = c.image + body;
        c.next = body + length;

        switch (type) {
        case kSoundData:
            if (!c.selected || length < 2) break;
            if (c.extended) {
                c.extended = false;
                c.last_format = c.extended_format;
                c.last_rate = c.extended_rate;
            } else {
                c.last_format = 0;
                c.last_rate = int32_t(1000000 / (256 - b[0]));
            }
            c.last_flags = 0;
            if (length == 2) break;
            out = {b + 2, length - 2, c.last_rate, c.last_format, c.last_flags};
            return true;
        case kSoundContinue:
            if (!c.selected || length == 0) break;
            out = {b, length, c.last_rate, c.last_format, c.last_flags};
            return true;
        case kMarker:
            if (length >= 2 && c.wanted_marker != -1) c.selected = u16(b) == uint32_t(c.wanted_marker);
            break;
        case kRepeatStart:
            if (length < 2) break;
            c.repeat = c.next;
            c.repeat_count = u16(b);
            break;
        case kRepeatEnd:
            if (c.repeat == 0) break;
            if (c.repeat_count == kRepeatForever) {
                if (jumped_back) return false;
                jumped_back = true;
                c.next = c.repeat;
            } else if (c.repeat_count-- == 0) {
                c.repeat = 0;  // done: later repeat ends are stray
            } else {
                c.next = c.repeat;
            }
            break;
        case kExtended: {
            if (!c.selected || length < 4) break;
            const bool stereo = b[3] != 0;
            c.extended = true;
            c.extended_format = stereo ? SVX_FORMAT_STEREO : 0;
            c.extended_rate = int32_t((stereo ? 128000000u : 256000000u) / (65536u - u16(b)));
            break;
        }
        case kNewFormat: {
            if (!c.selected || length < 12) break;
            const uint8_t channels = b[5];
            const uint16_t codec = u16(b + 6);
            uint32_t format, flags;
            if (codec == 0 && (channels == 1 || channels == 2)) {
                format = channels == 2 ? SVX_FORMAT_STEREO : 0;
                flags = 0;
            } else if (codec == 4 && (channels == 1 || channels == 2)) {
                format = SVX_FORMAT_16BIT | (channels == 2 ? SVX_FORMAT_STEREO : 0);
                flags = SVX_FLAG_SIGNED;
            } else {
                break;  // a coding we cannot play
            }
            c.last_format = format;
            c.last_flags = flags;
            c.last_rate = int32_t(u32(b));
            c.extended = false;
            if (length == 12) break;
            out = {b + 12, length - 12, c.last_rate, format, flags};
            return true;
        }
        default:
            break;  // text, silence and other blocks carry nothing to play
        }
    }
}

}  // namespace svx::digital
