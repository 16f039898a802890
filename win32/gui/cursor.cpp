// Cursors and icons: the program's .CUR and .ICO resources, the standard
// ones, and the current cursor. The presentations read the images to show them.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "win32/gui_ext.h"
#include "win32/user.h"

namespace {

struct Cursors {
    std::mutex mutex;
    std::map<std::string, std::vector<uint8_t>> resources;  // lower-case names, "#n" for numbers
    std::map<std::string, std::vector<uint8_t>> icon_resources;
    std::unordered_map<uintptr_t, win32::CursorImage> images;
    std::map<std::string, HCURSOR> loaded;
    uintptr_t next = 0x00030010;
    HCURSOR current = nullptr;
    bool started = false;
};

Cursors& cursors() {
    static auto* c = new Cursors;
    return *c;
}

std::string key_of(LPCSTR name) {
    const auto v = reinterpret_cast<uintptr_t>(name);
    if (v <= 0xFFFF) return "#" + std::to_string(v);
    std::string k = name;
    for (char& c : k) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return k;
}

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; }

// Whether a .ICO file's first image lies inside it and is a bitmap.
bool valid_ico(const std::vector<uint8_t>& f) {
    if (f.size() < 6 + 16 || u16(f.data()) != 0 || u16(f.data() + 2) != 1 || u16(f.data() + 4) == 0)
        return false;
    const uint8_t* e = f.data() + 6;
    const uint32_t size = u32(e + 8), offset = u32(e + 12);
    if (offset > f.size() || size > f.size() - offset || size < 40) return false;
    const uint8_t* h = f.data() + offset;
    return u32(h) >= 40 && u32(h) <= size && int32_t(u32(h + 4)) > 0 && int32_t(u32(h + 8)) > 0;
}

// The first image of a .CUR file: a monochrome bitmap of XOR and AND masks.
bool parse_cur(const std::vector<uint8_t>& f, win32::CursorImage& out) {
    if (f.size() < 6 + 16 || u16(f.data()) != 0 || u16(f.data() + 2) != 2 || u16(f.data() + 4) == 0)
        return false;
    const uint8_t* e = f.data() + 6;
    const uint32_t size = u32(e + 8), offset = u32(e + 12);
    if (offset > f.size() || size > f.size() - offset || size < 40) return false;
    const uint8_t* h = f.data() + offset;
    const uint32_t header = u32(h);
    const int32_t w = int32_t(u32(h + 4)), h2 = int32_t(u32(h + 8));
    const uint16_t bpp = u16(h + 14);
    if (header < 40 || header > size || bpp != 1 || w <= 0 || w > 256 || h2 <= 0 || h2 > 512 || h2 % 2)
        return false;
    const int height = h2 / 2;
    const size_t stride = size_t((w + 31) / 32 * 4);
    const size_t xor_at = header + 2 * 4;  // after the two-colour table
    if (xor_at + 2 * stride * size_t(height) > size) return false;
    const uint8_t* xor_bits = h + xor_at;
    const uint8_t* and_bits = xor_bits + stride * size_t(height);
    out.width = w;
    out.height = height;
    out.hot_x = std::min<int>(u16(e + 4), w - 1);
    out.hot_y = std::min<int>(u16(e + 6), height - 1);
    out.and_mask.assign(size_t(w * height), 0);
    out.xor_mask.assign(size_t(w * height), 0);
    for (int y = 0; y < height; ++y) {
        const size_t row = size_t(height - 1 - y) * stride;  // bottom-up
        for (int x = 0; x < w; ++x) {
            out.xor_mask[size_t(y * w + x)] = (xor_bits[row + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
            out.and_mask[size_t(y * w + x)] = (and_bits[row + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
        }
    }
    return true;
}

// A standard cursor from a picture: '#' black, 'o' white, anything else
// transparent.
win32::CursorImage from_art(const char* const* rows, int count, int hot_x, int hot_y) {
    win32::CursorImage c;
    c.width = c.height = 32;
    c.hot_x = hot_x;
    c.hot_y = hot_y;
    c.and_mask.assign(32 * 32, 1);
    c.xor_mask.assign(32 * 32, 0);
    for (int y = 0; y < count && y < 32; ++y)
        for (int x = 0; rows[y][x] && x < 32; ++x) {
            if (rows[y][x] == '#') c.and_mask[size_t(y * 32 + x)] = 0;
            if (rows[y][x] == 'o') {
                c.and_mask[size_t(y * 32 + x)] = 0;
                c.xor_mask[size_t(y * 32 + x)] = 1;
            }
        }
    return c;
}

win32::CursorImage standard(uintptr_t id) {
    static const char* const arrow[] = {
        "#",           "##",          "#o#",         "#oo#",        "#ooo#",
        "#oooo#",      "#ooooo#",     "#oooooo#",    "#ooooooo#",   "#oooooooo#",
        "#ooooo#####", "#oo#oo#",     "#o# #oo#",    "##  #oo#",    "#    #oo#",
        "     #oo#",   "      #oo#",  "      #oo#",  "       ##",
    };
    static const char* const ibeam[] = {
        "###.###", "...#...", "...#...", "...#...", "...#...", "...#...", "...#...", "...#...",
        "...#...", "...#...", "...#...", "...#...", "...#...", "...#...", "...#...", "###.###",
    };
    static const char* const cross[] = {
        "..........#..........", "..........#..........", "..........#..........",
        "..........#..........", "..........#..........", "..........#..........",
        "..........#..........", "..........#..........", "..........#..........",
        "..........#..........", "##########.##########", "..........#..........",
        "..........#..........", "..........#..........", "..........#..........",
        "..........#..........", "..........#..........", "..........#..........",
        "..........#..........", "..........#..........", "..........#..........",
    };
    static const char* const hand[] = {
        "     ##",         "    #oo#",        "    #oo#",        "    #oo#",
        "    #oo#",        "    #oo###",      "    #oo#oo###",   "    #oo#oo#oo##",
        " ## #oo#oo#oo#o#", "#oo##oooooooo#o#", "#ooo#ooooooooooo#", " #oo#oooooooooo#",
        "  #oooooooooooo#", "  #ooooooooooo#", "   #oooooooooo#", "   #ooooooooo#",
        "    #oooooooo#",  "    #oooooooo#",  "    ##########",
    };
    switch (id) {
    case 32513: return from_art(ibeam, 16, 3, 8);
    case 32515: return from_art(cross, 21, 10, 10);
    case 32649: return from_art(hand, 19, 5, 0);
    default: return from_art(arrow, 19, 0, 0);  // the others look like the arrow here
    }
}

HCURSOR add(Cursors& c, win32::CursorImage image) {
    const uintptr_t h = c.next;
    c.next += 4;
    c.images.emplace(h, std::move(image));
    return reinterpret_cast<HCURSOR>(h);
}

// The cursor starts as the arrow, as on a fresh desktop.
void ensure_arrow(Cursors& c) {
    if (c.started) return;
    c.started = true;
    c.current = add(c, standard(32512));
    c.loaded.emplace("s:#32512", c.current);
}

using Resources = std::map<std::string, std::vector<uint8_t>>;
using Maker = HANDLE (*)(Cursors&, uintptr_t id, const std::vector<uint8_t>* file);

// What loading a cursor and an icon share: a standard one by number (no
// instance) or a resource by name, made once and shared after, as in
// Windows. `make` gets the standard number, or the resource's bytes.
HANDLE load_shared(HINSTANCE instance, LPCSTR name, const char* kind, uintptr_t last_standard,
                   Resources Cursors::*resources, Maker make) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Cursors& c = cursors();
    std::lock_guard lock(c.mutex);
    ensure_arrow(c);
    const std::string key = kind + std::string(instance ? "p:" : "s:") + key_of(name);
    if (auto it = c.loaded.find(key); it != c.loaded.end()) return it->second;
    HANDLE h = nullptr;
    if (!instance) {
        const auto id = reinterpret_cast<uintptr_t>(name);
        if (id >= 32512 && id <= last_standard) h = make(c, id, nullptr);
    } else if (auto it = (c.*resources).find(key_of(name)); it != (c.*resources).end()) {
        h = make(c, 0, &it->second);
    }
    if (!h) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    c.loaded.emplace(key, h);
    return h;
}

}  // namespace

namespace win32 {

void register_cursor_resource(const char* name, std::vector<uint8_t> cur_file) {
    if (!name) return;
    Cursors& c = cursors();
    std::lock_guard lock(c.mutex);
    c.resources[key_of(name)] = std::move(cur_file);
}

void register_icon_resource(const char* name, std::vector<uint8_t> ico_file) {
    if (!name) return;
    Cursors& c = cursors();
    std::lock_guard lock(c.mutex);
    c.icon_resources[key_of(name)] = std::move(ico_file);
}

bool cursor_image(HCURSOR cursor, CursorImage& out) {
    Cursors& c = cursors();
    std::lock_guard lock(c.mutex);
    auto it = c.images.find(reinterpret_cast<uintptr_t>(cursor));
    if (it == c.images.end()) return false;
    out = it->second;
    return true;
}

}  // namespace win32

extern "C" {

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    return load_shared(instance, name, "", 32651, &Cursors::resources,
                       [](Cursors& c, uintptr_t id, const std::vector<uint8_t>* file) -> HANDLE {
                           win32::CursorImage image;
                           if (file && !parse_cur(*file, image)) return nullptr;
                           if (!file) image = standard(id);
                           return add(c, std::move(image));
                       });
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    return load_shared(instance, name, "icon ", 32517, &Cursors::icon_resources,
                       [](Cursors& c, uintptr_t, const std::vector<uint8_t>* file) -> HANDLE {
                           if (file && !valid_ico(*file)) return nullptr;
                           // Icons share the cursors' handle numbers, but are no
                           // cursor images.
                           const auto h = reinterpret_cast<HANDLE>(c.next);
                           c.next += 4;
                           return h;
                       });
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    Cursors& c = cursors();
    std::lock_guard lock(c.mutex);
    ensure_arrow(c);
    HCURSOR old = c.current;
    // A handle that is not a cursor hides it, as a null one does.
    c.current = c.images.count(reinterpret_cast<uintptr_t>(cursor)) ? cursor : nullptr;
    return old;
}

HCURSOR WINAPI GetCursor(void) {
    Cursors& c = cursors();
    std::lock_guard lock(c.mutex);
    ensure_arrow(c);
    return c.current;
}

}  // extern "C"
