// Writes the seeds our own code makes: XMIDI sequences with notes, loops,
// branches, tempo and time signatures; IMA ADPCM images from the library's
// compressor; a DLS collection and its compressed form; and a registry
// file written by the stand-in's registry.
// Usage: fuzz_seeds FOLDER (files go to FOLDER/<target>/).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "sonvex.h"
#include "win32/kernel.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

void save(const fs::path& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void be32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}
void le16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void le32(Bytes& b, uint32_t v) {
    le16(b, v);
    le16(b, v >> 16);
}
Bytes chunk(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    be32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

struct Branch {
    uint16_t marker;
    uint32_t offset;
};

Bytes xmidi_form(const Bytes& events, const std::vector<Branch>& branches = {}, const Bytes& timb = {}) {
    Bytes data = {'X', 'M', 'I', 'D'};
    if (!timb.empty()) append(data, chunk("TIMB", timb));
    if (!branches.empty()) {
        Bytes r;
        le16(r, uint32_t(branches.size()));
        for (const Branch& br : branches) {
            le16(r, br.marker);
            le32(r, br.offset);
        }
        append(data, chunk("RBRN", r));
    }
    append(data, chunk("EVNT", events));
    return chunk("FORM", data);
}

// Event stream pieces.
Bytes note(int ch, int key, int duration) { return {uint8_t(0x90 | ch), uint8_t(key), 100, uint8_t(duration)}; }
Bytes cc(int ch, int controller, int value) { return {uint8_t(0xB0 | ch), uint8_t(controller), uint8_t(value)}; }
Bytes end_of_track() { return {0xFF, 0x2F, 0x00}; }

Bytes xmidi_seeds(const fs::path& folder) {
    Bytes notes;
    append(notes, {0xFF, 0x58, 4, 3, 2, 24, 8});          // 3/4
    append(notes, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20});     // 500,000 us a beat
    append(notes, {0xC0, 5});
    append(notes, cc(0, 7, 100));
    append(notes, note(0, 60, 10));
    notes.push_back(12);
    append(notes, note(1, 64, 20));
    append(notes, {0xE0, 0, 70});
    notes.push_back(30);
    append(notes, {0xF0, 3, 0x7E, 0x7F, 0xF7});
    append(notes, end_of_track());
    save(folder, "notes.xmi", xmidi_form(notes, {}, {2, 0, 5, 0, 9, 1}));

    // FOR 2 ... NEXT, a branch to a marker, locks and the indirect values.
    Bytes loops;
    append(loops, cc(0, 116, 2));
    append(loops, note(0, 50, 3));
    loops.push_back(4);
    append(loops, cc(0, 117, 127));
    append(loops, cc(2, 110, 127));
    append(loops, cc(2, 115, 9));
    append(loops, cc(2, 7, 64));
    append(loops, cc(0, 108, 3));
    append(loops, cc(0, 10, 20));
    append(loops, cc(0, 119, 1));
    append(loops, cc(0, 109, 1));
    const uint32_t target = uint32_t(loops.size());
    append(loops, note(2, 55, 2));
    loops.push_back(5);
    append(loops, cc(2, 110, 0));
    append(loops, cc(0, 118, 0));
    append(loops, end_of_track());
    save(folder, "loops.xmi", xmidi_form(loops, {{1, target}, {2, 0}}));

    // Two sequences in a catalogue after a directory form.
    Bytes dir = chunk("FORM", Bytes{'X', 'D', 'I', 'R'});
    Bytes cat = {'X', 'M', 'I', 'D'};
    append(cat, xmidi_form(notes));
    append(cat, xmidi_form(loops, {{1, target}}));
    append(dir, chunk("CAT ", cat));
    save(folder, "catalogue.xmi", dir);
    return dir;
}

// Standard MIDI files: a format 0 file with running status, a note-on of
// velocity 0 as note-off, a system-exclusive message and a branch point;
// a format 1 file of a tempo track and two note tracks, one with timbre
// requests (controller 114 and a program change).
Bytes var_length(uint32_t v) {
    Bytes out = {uint8_t(v & 0x7F)};
    while (v >>= 7) out.insert(out.begin(), uint8_t(0x80 | (v & 0x7F)));
    return out;
}
Bytes smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
    Bytes header;
    for (uint16_t v : {format, uint16_t(tracks.size()), division}) {
        header.push_back(uint8_t(v >> 8));
        header.push_back(uint8_t(v));
    }
    Bytes file = chunk("MThd", header);
    for (const Bytes& t : tracks) append(file, chunk("MTrk", t));
    return file;
}
// Events: a delta time in ticks, then the event's bytes.
Bytes track(const std::vector<std::pair<uint32_t, Bytes>>& events) {
    Bytes t;
    for (const auto& [delta, bytes] : events) {
        append(t, var_length(delta));
        append(t, bytes);
    }
    append(t, var_length(0));
    append(t, end_of_track());
    return t;
}

void smf_seeds(const fs::path& folder) {
    save(folder, "format0.mid",
         smf(0, 96,
             {track({{0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}},
                     {0, {0xB0, 120, 1}},
                     {0, {0x90, 60, 100}},
                     {48, {64, 90}},
                     {48, {60, 0}},
                     {0, {0xF0, 4, 0x41, 0x10, 0x16, 0xF7}},
                     {200, {0x80, 64, 0}},
                     {10, {0xE0, 0, 80}}})}));
    save(folder, "format1.mid",
         smf(1, 120,
             {track({{0, {0xFF, 0x58, 4, 3, 2, 24, 8}}, {0, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40}}}),
              track({{0, {0xB1, 114, 2}}, {0, {0xC1, 17}}, {5, {0x91, 40, 70}}, {1000, {0x81, 40, 0}}}),
              track({{0, {0xFF, 0x03, 4, 'l', 'e', 'a', 'd'}},
                     {30, {0x99, 36, 127}},
                     {30, {0x89, 36, 64}},
                     {0, {0xB9, 7, 100}}})}));
}

void adpcm_seeds(const fs::path& wav, const fs::path& adpcm) {
    struct Kind {
        const char* name;
        uint32_t rate, bits, channels, frames;
    };
    for (const Kind& k : {Kind{"mono8.ima.wav", 11025, 8, 1, 700}, Kind{"stereo16.ima.wav", 22050, 16, 2, 1100},
                          Kind{"tiny.ima.wav", 8000, 16, 1, 3}, Kind{"empty.ima.wav", 8000, 16, 1, 0}}) {
        Bytes pcm;
        for (uint32_t i = 0; i < k.frames * k.channels; ++i) {
            const double v = std::sin(double(i) * 0.05) * (i % 300 < 30 ? 1.0 : 0.6);
            if (k.bits == 8)
                pcm.push_back(uint8_t(128 + std::lround(v * 127)));
            else
                le16(pcm, uint32_t(uint16_t(int16_t(std::lround(v * 32767)))));
        }
        pcm.resize(std::max<size_t>(pcm.size(), 1));
        const SoundFileInfo info{1, pcm.data(), uint32_t(k.frames * k.channels * k.bits / 8), k.rate,
                                 k.bits, k.channels, k.frames, k.channels * k.bits / 8};
        void* image = nullptr;
        uint32_t size = 0;
        if (SVX_compress_ADPCM(&info, &image, &size) != 1) {
            std::fprintf(stderr, "compress failed: %s\n", SVX_last_error());
            std::exit(1);
        }
        const Bytes bytes(static_cast<uint8_t*>(image), static_cast<uint8_t*>(image) + size);
        SVX_mem_free_lock(image);
        save(wav, k.name, bytes);
        save(adpcm, k.name, bytes);
    }
}

void registry_seed(const fs::path& folder, const fs::path& drive) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        std::exit(1);
    const char wallpaper[] = "C:\\WINDOWS\\990401.bmp";
    RegSetValueExA(key, "Wallpaper", 0, REG_SZ, reinterpret_cast<const BYTE*>(wallpaper), sizeof wallpaper);
    const BYTE tile[] = {'0', 0};
    RegSetValueExA(key, "TileWallPaper", 0, REG_SZ, tile, sizeof tile);
    const DWORD count = 42;
    RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    const BYTE odd[] = {'q', '"', '\\', '\n', 0x7F, 0xC4, 0xEA};
    RegSetValueExA(key, "Odd\tname", 0, REG_BINARY, odd, sizeof odd);
    RegSetValueExA(key, "Raw", 0, 7, odd, 3);
    RegCloseKey(key);
    fs::create_directories(folder);
    fs::copy_file(drive / "WINDOWS" / "REGISTRY.TXT", folder / "written.txt",
                  fs::copy_options::overwrite_existing);
}


// A RIFF chunk (little-endian length, padded to an even size).
Bytes riff(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    le32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
Bytes riff_list(const char* type, std::initializer_list<Bytes> parts) {
    Bytes data(type, type + 4);
    for (const Bytes& p : parts) data.insert(data.end(), p.begin(), p.end());
    return riff("LIST", data);
}

// A collection of a looped 16-bit wave and an 8-bit one, and the same
// compressed by the library.
Bytes dls_seeds(const fs::path& folder) {
    auto wave = [](int bits, uint32_t rate, const Bytes& data) {
        Bytes fmt;
        le16(fmt, 1);
        le16(fmt, 1);
        le32(fmt, rate);
        le32(fmt, rate * uint32_t(bits / 8));
        le16(fmt, uint32_t(bits / 8));
        le16(fmt, uint32_t(bits));
        Bytes wsmp;
        for (uint32_t v : {20u, 60u | 0u << 16, 0u, 0u, 1u, 16u, 0u, 10u, 100u}) le32(wsmp, v);
        return riff_list("wave", {riff("fmt ", fmt), riff("data", data), riff("wsmp", wsmp)});
    };
    Bytes sine, bytes8;
    for (int i = 0; i < 300; ++i) le16(sine, uint32_t(uint16_t(int16_t(12000 * std::sin(i * 0.07)))));
    for (int i = 0; i < 151; ++i) bytes8.push_back(uint8_t(128 + 100 * std::sin(i * 0.2)));
    const Bytes w0 = wave(16, 22050, sine), w1 = wave(8, 11025, bytes8);
    Bytes ptbl;
    for (uint32_t v : {8u, 2u, 0u, uint32_t(w0.size())}) le32(ptbl, v);
    Bytes pool = w0;
    pool.insert(pool.end(), w1.begin(), w1.end());
    Bytes insh, rgnh, wlnk, colh;
    for (uint32_t v : {1u, 0u, 0u}) le32(insh, v);
    for (uint32_t v : {0u, 127u, 0u, 127u, 0u, 0u}) le16(rgnh, v);
    for (uint32_t v : {0u, 0u}) le16(wlnk, v);
    for (uint32_t v : {1u, 1u}) le32(wlnk, v);
    le32(colh, 1);
    Bytes body = {'D', 'L', 'S', ' '};
    for (const Bytes& part :
         {riff("colh", colh),
          riff_list("lins", {riff_list("ins ", {riff("insh", insh),
                                                riff_list("lrgn", {riff_list("rgn ", {riff("rgnh", rgnh),
                                                                                      riff("wlnk", wlnk)})})})}),
          riff("ptbl", ptbl), riff_list("wvpl", {pool})})
        body.insert(body.end(), part.begin(), part.end());
    const Bytes dls = riff("RIFF", body);
    save(folder, "plain.dls", dls);
    void* block = SVX_mem_alloc_lock(int32_t(dls.size()));
    std::memcpy(block, dls.data(), dls.size());
    void* mls = nullptr;
    uint32_t size = 0;
    if (SVX_compress_DLS(block, &mls, &size) == 1) {
        const auto* p = static_cast<const uint8_t*>(mls);
        save(folder, "compressed.mls", Bytes(p, p + size));
        SVX_mem_free_lock(mls);
    }
    SVX_mem_free_lock(block);
    return dls;
}

// XMIDI files with the collection inside, plain and compressed, merged by
// the library.
void files_seeds(const fs::path& folder, const Bytes& xmidi, const Bytes& dls) {
    auto block = [](const Bytes& b) {
        void* p = SVX_mem_alloc_lock(int32_t(b.size()));
        std::memcpy(p, b.data(), b.size());
        return p;
    };
    void* x = block(xmidi);
    void* d = block(dls);
    void* mls = nullptr;
    uint32_t mls_size = 0;
    for (int compressed = 0; compressed < 2; ++compressed) {
        if (compressed && SVX_compress_DLS(d, &mls, &mls_size) != 1) break;
        void* merged = nullptr;
        uint32_t size = 0;
        if (SVX_merge_DLS_with_XMI(x, compressed ? mls : d, &merged, &size) == 1) {
            const auto* p = static_cast<const uint8_t*>(merged);
            save(folder, compressed ? "with-mls.xmi" : "with-dls.xmi", Bytes(p, p + size));
            SVX_mem_free_lock(merged);
        }
    }
    if (mls) SVX_mem_free_lock(mls);
    SVX_mem_free_lock(d);
    SVX_mem_free_lock(x);
    save(folder, "plain.dls", dls);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const fs::path out = fs::absolute(argv[1]);
    const fs::path drive = out / "drive";
    fs::remove_all(drive);
    fs::create_directories(drive / "WINDOWS");
    setenv("WIN32_ROOT", drive.c_str(), 1);
    setenv("WIN32_AUDIO", "null", 1);
    if (SVX_startup() != 1) return 1;
    const Bytes xmidi = xmidi_seeds(out / "xmidi");
    adpcm_seeds(out / "wav", out / "adpcm");
    const Bytes dls = dls_seeds(out / "dls");
    smf_seeds(out / "smf");
    files_seeds(out / "files", xmidi, dls);
    SVX_shutdown();
    registry_seed(out / "registry", drive);
    fs::remove_all(drive);
    return 0;
}
