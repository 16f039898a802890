// File services: whole-file read, write and size with their error codes,
// type detection, XMIDI with DLS (find, extract, merge) and the filter of
// a collection by the sequences that use it.
#include <cstring>
#include <string>
#include <vector>

#include "midi_support.h"
#include "services/outbuf.h"

namespace {

using testing_support::Bytes;
using testing_support::chunk;
using testing_support::container;
using testing_support::Events;
using testing_support::xmidi_file;
using testing_support::xmidi_form;

class FileServices : public testing_support::SoundLibrary {
protected:
    void SetUp() override { SVX_startup(); }
    std::string path(const char* name) { return (drive_.path() / name).string(); }
};

// ---- images ----

void put_le(Bytes& b, uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
Bytes text(const char* t) { return Bytes(t, t + std::strlen(t)); }
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// RIFF chunks: little-endian lengths, odd data padded.
Bytes rchunk(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    put_le(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
Bytes rlist(const char* id, const char* type, std::initializer_list<Bytes> parts) {
    return rchunk(id, cat({text(type), cat(parts)}));
}

Bytes wav(uint16_t tag) {
    Bytes fmt;
    put_le(fmt, tag, 2);
    put_le(fmt, 1, 2);
    put_le(fmt, 22050);
    put_le(fmt, 22050);
    put_le(fmt, 1, 2);
    put_le(fmt, tag == 17 ? 4 : 8, 2);
    return rlist("RIFF", "WAVE", {rchunk("fmt ", fmt), rchunk("data", Bytes(16, 0x80))});
}

Bytes small_xmidi() { return xmidi_file(xmidi_form(Events().program(0, 3).note(0, 60, 100, 10).wait(10).end())); }
Bytes with_xdls(const Bytes& xmidi, const Bytes& riff) {
    Bytes out = xmidi;
    Bytes head = text("FORM");
    testing_support::put_be32(head, uint32_t(riff.size()));
    head.insert(head.end(), {'X', 'D', 'L', 'S'});
    return cat({out, head, riff});
}

// ---- a small DLS collection ----

struct Region {
    int low, high, wave;
};
struct Instrument {
    uint32_t bank;  // DLS layout: MSB << 8 | LSB, bit 31 drum kit
    uint32_t patch;
    std::vector<Region> regions;
};

Bytes instrument(const Instrument& in) {
    Bytes insh;
    put_le(insh, uint32_t(in.regions.size()));
    put_le(insh, in.bank);
    put_le(insh, in.patch);
    Bytes regions = text("lrgn");
    for (const Region& r : in.regions) {
        Bytes rgnh, wlnk;
        put_le(rgnh, uint32_t(r.low), 2);
        put_le(rgnh, uint32_t(r.high), 2);
        put_le(rgnh, 0, 2);
        put_le(rgnh, 127, 2);
        put_le(rgnh, 0, 2);
        put_le(rgnh, 0, 2);
        put_le(wlnk, 0, 2);
        put_le(wlnk, 0, 2);
        put_le(wlnk, 1);
        put_le(wlnk, uint32_t(r.wave));
        Bytes rgn = rlist("LIST", "rgn ", {rchunk("rgnh", rgnh), rchunk("wlnk", wlnk)});
        regions.insert(regions.end(), rgn.begin(), rgn.end());
    }
    return rlist("LIST", "ins ", {rchunk("insh", insh), rchunk("LIST", regions)});
}

// Wave n holds n + 1 bytes of the value n, so that waves differ in size.
Bytes wave(int n) { return rlist("LIST", "wave", {rchunk("data", Bytes(size_t(n + 1), uint8_t(n)))}); }

Bytes collection(const std::vector<Instrument>& instruments, int waves) {
    Bytes colh, lins = text("lins"), pool = text("wvpl"), ptbl;
    put_le(colh, uint32_t(instruments.size()));
    for (const Instrument& in : instruments) {
        Bytes i = instrument(in);
        lins.insert(lins.end(), i.begin(), i.end());
    }
    put_le(ptbl, 8);
    put_le(ptbl, uint32_t(waves));
    for (int n = 0; n < waves; ++n) {
        put_le(ptbl, uint32_t(pool.size() - 4));
        Bytes w = wave(n);
        pool.insert(pool.end(), w.begin(), w.end());
    }
    return rlist("RIFF", "DLS ", {rchunk("colh", colh), rchunk("LIST", lins), rchunk("ptbl", ptbl),
                                  rchunk("LIST", pool)});
}

// What a filtered collection holds, read back independently.
struct Contents {
    uint32_t colh = 0;
    std::vector<std::pair<uint32_t, uint32_t>> instruments;  // bank, patch
    std::vector<uint32_t> table;
    std::vector<int> waves;  // the marker byte of each wave, in pool order
    std::vector<int> table_waves;  // the wave each table entry points at
};

uint32_t le(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

Contents read_collection(const Bytes& b) {
    Contents c;
    EXPECT_EQ(le(b, 4) + 8, b.size()) << "RIFF length";
    size_t pool_data = 0;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t length = le(b, at + 4);
        const std::string id(b.begin() + long(at), b.begin() + long(at + 4));
        const std::string type = length >= 4 ? std::string(b.begin() + long(at + 8), b.begin() + long(at + 12)) : "";
        if (id == "colh") c.colh = le(b, at + 8);
        if (id == "ptbl")
            for (uint32_t i = 0; i < le(b, at + 12); ++i) c.table.push_back(le(b, at + 16 + 4 * i));
        if (id == "LIST" && type == "lins") {
            for (size_t i = at + 12; i < at + 8 + length;) {
                const uint32_t n = le(b, i + 4);
                c.instruments.emplace_back(le(b, i + 12 + 12), le(b, i + 12 + 16));
                i += 8 + n + (n & 1);
            }
        }
        if (id == "LIST" && type == "wvpl") {
            pool_data = at + 12;
            for (size_t i = at + 12; i < at + 8 + length;) {
                const uint32_t n = le(b, i + 4);
                c.waves.push_back(b[i + 20]);
                i += 8 + n + (n & 1);
            }
        }
        at += 8 + length + (length & 1);
    }
    for (uint32_t offset : c.table) c.table_waves.push_back(b[pool_data + offset + 20]);
    return c;
}

// A copy of `b` in a library block: the library then knows its size.
void* library_copy(const Bytes& b) {
    void* block = SVX_mem_alloc_lock(int32_t(b.size()));
    std::memcpy(block, b.data(), b.size());
    return block;
}
Bytes take(void* block, uint32_t size) {
    Bytes b(static_cast<uint8_t*>(block), static_cast<uint8_t*>(block) + size);
    SVX_mem_free_lock(block);
    return b;
}

// ---- type detection ----

struct TypeCase {
    const char* name;
    Bytes image;
    int expected;
    size_t size = SIZE_MAX;  // the size passed, when not the whole image
};

TEST_F(FileServices, DetectsEachTypeByTheFirstRuleThatMatches) {
    const Bytes dls = collection({}, 0);
    Bytes mls = dls;
    std::memcpy(&mls[8], "MLS ", 4);
    Bytes other_riff = dls;
    std::memcpy(&other_riff[8], "ABCD", 4);
    const Bytes rmid = rlist("RIFF", "RMID", {rchunk("data", cat({text("MThd"), Bytes{0, 0, 0, 6, 0, 0, 0, 1, 0, 96}}))});
    const std::vector<TypeCase> cases = {
        {"seven bytes", text("Creativ"), 0},
        {"a form cut before its type", text("FORMxxxxXD"), 0},
        {"eight zero bytes", Bytes(8, 0), 0},
        {"creative in lower case", text("creative"), 4},
        {"VOC", cat({text("Creative Voice File\x1a"), Bytes(8, 0)}), 4},
        {"PCM WAV", wav(1), 1},
        {"IMA ADPCM WAV", wav(17), 2},
        {"other WAV", wav(3), 3},
        {"standard MIDI", cat({text("MThd"), Bytes{0, 0, 0, 6, 0, 0, 0, 1, 0, 96}}), 5},
        {"RIFF MIDI", rmid, 5},
        {"MThd in any case, deep inside", cat({Bytes(100, 1), text("mthd")}), 5},
        {"MThd past the size given", cat({Bytes(100, 1), text("MThd")}), 0, 102},
        {"XMIDI", small_xmidi(), 6},
        {"XMIDI in lower case", [] { Bytes b = small_xmidi(); std::memcpy(b.data(), "form", 4); return b; }(), 6},
        {"one sequence without directory", xmidi_form(Events().end()), 6},
        {"XMIDI with DLS", with_xdls(small_xmidi(), dls), 7},
        {"XMIDI with compressed DLS", with_xdls(small_xmidi(), mls), 8},
        {"XMIDI with another RIFF", with_xdls(small_xmidi(), other_riff), 6},
        {"XMIDI whose XDLS is cut off", with_xdls(small_xmidi(), dls), 6, small_xmidi().size() + 16},
        {"DLS", dls, 9},
        {"compressed DLS", mls, 10},
        {"other RIFF", other_riff, 0},
    };
    for (const TypeCase& c : cases) {
        const size_t size = c.size == SIZE_MAX ? c.image.size() : c.size;
        // The image alone in a block of its own, so that a read past it shows.
        std::vector<uint8_t> exact(c.image.begin(), c.image.begin() + long(size));
        EXPECT_EQ(SVX_file_type(exact.data(), uint32_t(size)), c.expected) << c.name;
    }
    EXPECT_EQ(SVX_file_type(nullptr, 100), 0);
}

TEST_F(FileServices, ChunkWalkStopsAtTheImageEndWhateverTheLengthsSay) {
    Bytes lying = small_xmidi();
    lying[4] = 0x7F;  // the directory claims 2 GB
    std::vector<uint8_t> exact(lying);
    EXPECT_EQ(SVX_file_type(exact.data(), uint32_t(exact.size())), 6);
    void* x = nullptr;
    uint32_t xs = 99;
    EXPECT_EQ(SVX_find_DLS(exact.data(), uint32_t(exact.size()), &x, &xs, nullptr, nullptr), 1);
    EXPECT_EQ(xs, 0u);
}

TEST_F(FileServices, CallsAreTracedWithTheirArgumentsAndResults) {
    SVX_shutdown();
    write_win_ini("[SONVEX]\nSONVEXDebug=C:\\trace.log\nSONVEXSysDebug=1\n");
    ASSERT_EQ(SVX_startup(), 1);
    const Bytes voc = text("creative");
    EXPECT_EQ(SVX_file_type(voc.data(), 8), 4);
    EXPECT_EQ(SVX_file_read("C:\\missing.mid", nullptr), nullptr);
    SVX_shutdown();
    const std::string log = read_file(drive_.path() / "drive_c" / "trace.log");
    char address[32];
    std::snprintf(address, sizeof address, "0x%lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(voc.data())));
    EXPECT_NE(log.find("] SVX_file_type(" + std::string(address) + ",8)\r\n" + std::string(15, ' ') + "Result = 4\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] SVX_file_read(C:\\missing.mid,0x0)\r\n" + std::string(15, ' ') + "\xFA" +
                       "SVX_set_error(Unable to open file.)\r\n" + std::string(15, ' ') + "Result = 0x0\r\n"),
              std::string::npos)
        << log;
}

// ---- files ----

TEST_F(FileServices, WritesReadsAndSizesAFile) {
    const Bytes data = wav(1);
    const std::string name = path("x.wav");
    ASSERT_EQ(SVX_file_write(name.c_str(), data.data(), uint32_t(data.size())), 1);
    EXPECT_EQ(SVX_file_error(), 0);
    EXPECT_EQ(SVX_file_size(name.c_str()), int32_t(data.size()));

    void* block = SVX_file_read(name.c_str(), nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(take(block, uint32_t(data.size())), data);

    void* sized = SVX_file_read(name.c_str(), SVX_FILE_READ_SIZE_FIRST);
    ASSERT_NE(sized, nullptr);
    const Bytes got = take(sized, uint32_t(data.size() + 4));
    EXPECT_EQ(int32_t(le(got, 0)), SVX_file_size(name.c_str()));
    EXPECT_EQ(Bytes(got.begin() + 4, got.end()), data);

    Bytes into(data.size() + 1, 0xEE);
    EXPECT_EQ(SVX_file_read(name.c_str(), into.data()), into.data());
    EXPECT_EQ(Bytes(into.begin(), into.end() - 1), data);
    EXPECT_EQ(into.back(), 0xEE) << "nothing written past the file's bytes";
}

TEST_F(FileServices, WritingAgainTruncatesAndAnEmptyFileReads) {
    const std::string name = path("x.bin");
    const Bytes long_data(1000, 7);
    ASSERT_EQ(SVX_file_write(name.c_str(), long_data.data(), 1000), 1);
    ASSERT_EQ(SVX_file_write(name.c_str(), long_data.data(), 0), 1);
    EXPECT_EQ(SVX_file_size(name.c_str()), 0);
    void* block = SVX_file_read(name.c_str(), SVX_FILE_READ_SIZE_FIRST);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(le(take(block, 4), 0), 0u);
}

TEST_F(FileServices, FailuresGiveTheirCodeAndTextAndSuccessClearsTheCode) {
    const std::string missing = path("missing.wav");
    EXPECT_EQ(SVX_file_read(missing.c_str(), nullptr), nullptr);
    EXPECT_EQ(SVX_file_error(), 3);
    EXPECT_STREQ(SVX_last_error(), "Unable to open file.");
    EXPECT_EQ(SVX_file_size(missing.c_str()), -1);
    EXPECT_EQ(SVX_file_error(), 3);

    const std::string nowhere = path("no/such/folder/x.bin");
    EXPECT_EQ(SVX_file_write(nowhere.c_str(), "x", 1), 0);
    EXPECT_EQ(SVX_file_error(), 4);
    EXPECT_STREQ(SVX_last_error(), "Unable to create file.");

    ASSERT_EQ(SVX_file_write(path("ok").c_str(), "x", 1), 1);
    EXPECT_EQ(SVX_file_error(), 0);
    EXPECT_STREQ(SVX_last_error(), "Unable to create file.") << "success leaves the text";
}

// ---- XMIDI with DLS ----

TEST_F(FileServices, MergeThenFindGivesBackBothImages) {
    const Bytes xmidi = small_xmidi();
    const Bytes dls = collection({{0, 3, {{0, 127, 0}}}}, 1);
    for (bool blocks : {false, true}) {
        void* x = blocks ? library_copy(xmidi) : const_cast<uint8_t*>(xmidi.data());
        void* d = blocks ? library_copy(dls) : const_cast<uint8_t*>(dls.data());
        void* merged = nullptr;
        uint32_t merged_size = 0;
        ASSERT_EQ(SVX_merge_DLS_with_XMI(x, d, &merged, &merged_size), 1) << SVX_last_error();
        EXPECT_EQ(merged_size, xmidi.size() + 12 + dls.size());
        EXPECT_EQ(SVX_file_type(merged, merged_size), 7);

        void* fx = nullptr;
        void* fd = nullptr;
        uint32_t fxs = 0, fds = 0;
        ASSERT_EQ(SVX_find_DLS(merged, merged_size, &fx, &fxs, &fd, &fds), 1);
        EXPECT_EQ(fx, merged);
        EXPECT_EQ(Bytes(static_cast<uint8_t*>(fx), static_cast<uint8_t*>(fx) + fxs), xmidi);
        // The size is the RIFF's length field: its 8-byte header comes on top.
        EXPECT_EQ(Bytes(static_cast<uint8_t*>(fd), static_cast<uint8_t*>(fd) + fds + 8), dls);

        // The merged image plays as the XMIDI it holds.
        void* ex = nullptr;
        void* ed = nullptr;
        uint32_t exs = 0, eds = 0;
        ASSERT_EQ(SVX_extract_DLS(merged, merged_size, &ex, &exs, &ed, &eds), 1);
        EXPECT_EQ(take(ex, exs), xmidi);
        EXPECT_EQ(take(ed, eds), dls);
        SVX_mem_free_lock(merged);
        if (blocks) {
            SVX_mem_free_lock(x);
            SVX_mem_free_lock(d);
        }
    }
}

TEST_F(FileServices, FindInXmidiWithoutCollection) {
    const Bytes xmidi = small_xmidi();
    void* fx = nullptr;
    void* fd = &fx;
    uint32_t fxs = 0, fds = 7;
    ASSERT_EQ(SVX_find_DLS(xmidi.data(), uint32_t(xmidi.size()), &fx, &fxs, &fd, &fds), 1);
    EXPECT_EQ(fxs, xmidi.size());
    EXPECT_EQ(fd, nullptr);
    EXPECT_EQ(fds, 0u);
}

TEST_F(FileServices, ContainerOperationsRefuseWhatTheyCannotUse) {
    const Bytes xmidi = small_xmidi();
    const Bytes dls = collection({}, 0);
    void* out = &out;
    uint32_t size = 5;
    EXPECT_EQ(SVX_merge_DLS_with_XMI(dls.data(), dls.data(), &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "Not an XMI file.");
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SVX_merge_DLS_with_XMI(xmidi.data(), xmidi.data(), &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a DLS file.");
    EXPECT_EQ(SVX_merge_DLS_with_XMI(nullptr, dls.data(), &out, &size), 0);
    EXPECT_EQ(SVX_find_DLS(dls.data(), uint32_t(dls.size()), &out, &size, nullptr, nullptr), 0);
    EXPECT_STREQ(SVX_last_error(), "Not an XMI file.");
    EXPECT_EQ(SVX_filter_DLS_with_XMI(xmidi.data(), xmidi.data(), &out, &size, 0), 0);
    EXPECT_STREQ(SVX_last_error(), "Not a DLS file.");
    EXPECT_EQ(SVX_filter_DLS_with_XMI(dls.data(), dls.data(), &out, &size, 0), 0);
    EXPECT_STREQ(SVX_last_error(), "Not an XMI file.");

    const Bytes junk = text("nothing to see here");
    EXPECT_EQ(SVX_extract_DLS(junk.data(), uint32_t(junk.size()), &out, &size, &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "Unknown file type.");
    SVX_set_error("");
    EXPECT_EQ(SVX_extract_DLS(xmidi.data(), uint32_t(xmidi.size()), &out, &size, &out, &size), 0);
    EXPECT_STREQ(SVX_last_error(), "Unknown file type.") << "an XMIDI file without a collection";
    EXPECT_EQ(out, nullptr);
}

TEST_F(FileServices, ExtractTakesABareCollectionWhole) {
    const Bytes dls = collection({{0, 3, {{0, 127, 0}}}}, 1);
    void* x = &x;
    void* d = nullptr;
    uint32_t xs = 9, ds = 0;
    ASSERT_EQ(SVX_extract_DLS(dls.data(), uint32_t(dls.size()), &x, &xs, &d, &ds), 1);
    EXPECT_EQ(x, nullptr);
    EXPECT_EQ(xs, 0u);
    EXPECT_EQ(take(d, ds), dls);
}

TEST_F(FileServices, ExtractOfACompressedCollectionWithoutWavesGivesItBackAsDls) {
    const Bytes dls = collection({{0, 3, {{0, 127, 0}}}}, 0);
    Bytes mls = dls;
    std::memcpy(&mls[8], "MLS ", 4);
    const Bytes merged = with_xdls(small_xmidi(), mls);
    void* x = nullptr;
    void* d = nullptr;
    uint32_t xs = 0, ds = 0;
    ASSERT_EQ(SVX_extract_DLS(merged.data(), uint32_t(merged.size()), &x, &xs, &d, &ds), 1)
        << SVX_last_error();
    EXPECT_EQ(take(x, xs), small_xmidi());
    EXPECT_EQ(take(d, ds), dls);
}

TEST_F(FileServices, ExtractReadsNoFurtherThanTheImage) {
    const Bytes dls = collection({}, 0);
    Bytes merged = with_xdls(small_xmidi(), dls);
    const size_t xdls = small_xmidi().size();
    merged[xdls + 4] = 0x7F;  // the XDLS length claims 2 GB
    void* x = nullptr;
    void* d = nullptr;
    uint32_t xs = 0, ds = 0;
    ASSERT_EQ(SVX_extract_DLS(merged.data(), uint32_t(merged.size()), &x, &xs, &d, &ds), 1);
    EXPECT_EQ(take(d, ds), dls);
    EXPECT_EQ(take(x, xs), small_xmidi());
}

// ---- the growable output buffer ----

TEST_F(FileServices, OutputBufferJoinsItsBlocksInOrderAndFailsPastTheLast) {
    using svx::services::OutputBuffer;
    // Writes that straddle block boundaries come back in order.
    {
        OutputBuffer out;
        std::vector<uint8_t> piece(1000);
        for (int i = 0; i < 200; ++i) {
            for (size_t k = 0; k < piece.size(); ++k) piece[k] = uint8_t(i * 7 + k);
            out.write(piece.data(), piece.size());
        }
        uint32_t size = 0;
        void* block = out.finish(&size);
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(size, 200000u);
        const Bytes all = take(block, size);
        for (size_t at = 0; at < all.size(); at += 997)
            ASSERT_EQ(all[at], uint8_t((at / 1000) * 7 + at % 1000)) << at;
    }
    // 256 blocks fill; the byte that needs a 257th fails the buffer for good.
    OutputBuffer out;
    const std::vector<uint8_t> block_bytes(OutputBuffer::kBlockSize, 1);
    for (size_t i = 0; i < OutputBuffer::kMaxBlocks; ++i) out.write(block_bytes.data(), block_bytes.size());
    EXPECT_FALSE(out.failed());
    out.write_byte(2);
    EXPECT_TRUE(out.failed());
    uint32_t size = 99;
    EXPECT_EQ(out.finish(&size), nullptr);
    EXPECT_EQ(size, 0u);
}

// ---- the filter ----

constexpr uint32_t kDrums = 0x80000000u;

TEST_F(FileServices, FilterKeepsThePlayedInstrumentsRegionsAndWaves) {
    // Program 3 plays key 60 on channel 1; the drums play key 36.
    const Bytes xmidi = xmidi_file(xmidi_form(
        Events().program(0, 3).note(0, 60, 100, 10).note(9, 36, 100, 10).wait(10).end()));
    const Bytes dls = collection(
        {
            {0, 3, {{0, 59, 0}, {60, 60, 1}}},  // only the second region is played
            {0, 4, {{0, 127, 2}}},              // never played
            {kDrums, 0, {{36, 36, 3}, {38, 38, 4}}},
        },
        5);
    void* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_filter_DLS_with_XMI(xmidi.data(), dls.data(), &out, &size, 0), 1);
    const Contents c = read_collection(take(out, size));
    EXPECT_EQ(c.colh, 2u);
    EXPECT_EQ(c.instruments, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 3}, {kDrums, 0}}));
    // Waves 0, 2 and 4 go, except that the first wave stays while any table
    // entry is zero: the entries of unused waves are all zero.
    EXPECT_EQ(c.waves, (std::vector<int>{0, 1, 3}));
    ASSERT_EQ(c.table.size(), 5u);
    EXPECT_EQ(c.table_waves[1], 1);
    EXPECT_EQ(c.table_waves[3], 3);
    for (int unused : {0, 2, 4}) EXPECT_EQ(c.table[size_t(unused)], 0u) << unused;
}

TEST_F(FileServices, FilterWantsPatchAndBankUsedButNotTogether) {
    // Program 7 is played in bank 0 and bank 1 (MSB 0, LSB 1) is used by
    // another program: an instrument of program 7 in bank 1 is kept.
    const Bytes xmidi = xmidi_file(xmidi_form(Events()
                                                  .program(0, 7)
                                                  .note(0, 60, 100, 1)
                                                  .cc(1, 32, 1)
                                                  .program(1, 9)
                                                  .note(1, 60, 100, 1)
                                                  .wait(2)
                                                  .end()));
    const Bytes dls = collection({{1, 7, {{0, 127, 0}}}, {2, 7, {{0, 127, 1}}}}, 2);
    void* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_filter_DLS_with_XMI(xmidi.data(), dls.data(), &out, &size, 0), 1);
    const Contents c = read_collection(take(out, size));
    EXPECT_EQ(c.instruments, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 7}}));
}

TEST_F(FileServices, FilterTakesAListOfImagesAndTransposesByTheRegisteredParameter) {
    // The second image plays key 62 with a transpose of +2: key 64 is used.
    const Bytes first = xmidi_file(xmidi_form(Events().program(0, 1).note(0, 40, 100, 1).wait(2).end()));
    const Bytes second = xmidi_file(xmidi_form(
        Events().program(2, 1).cc(2, 101, 0).cc(2, 100, 2).cc(2, 6, 66).note(2, 62, 100, 1).wait(2).end()));
    const Bytes dls = collection({{0, 1, {{40, 40, 0}, {62, 62, 1}, {64, 64, 2}}}}, 3);
    const void* list[] = {reinterpret_cast<const void*>(uintptr_t(2)), first.data(), second.data()};
    void* out = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SVX_filter_DLS_with_XMI(list, dls.data(), &out, &size, SVX_FILTER_XMIDI_LIST), 1);
    const Contents c = read_collection(take(out, size));
    EXPECT_EQ(c.waves, (std::vector<int>{0, 2}));
    EXPECT_EQ(c.table_waves[0], 0);
    EXPECT_EQ(c.table_waves[2], 2);
}

TEST_F(FileServices, CutOrDamagedImagesAreReadNoFurtherThanTheirBlock) {
    const Bytes xmidi = xmidi_file(xmidi_form(Events().program(0, 3).note(0, 60, 100, 10).wait(10).end()));
    const Bytes dls = collection({{0, 3, {{0, 59, 0}, {60, 60, 1}}}, {kDrums, 0, {{36, 36, 2}}}}, 3);
    const Bytes merged = with_xdls(xmidi, dls);
    auto exercise = [&](const Bytes& image) {
        // A library block: the library knows where it ends.
        void* block = library_copy(image);
        const uint32_t size = uint32_t(image.size());
        void* a = nullptr;
        void* b = nullptr;
        uint32_t as = 0, bs = 0;
        SVX_file_type(block, size);
        SVX_find_DLS(block, size, &a, &as, &b, &bs);
        if (SVX_extract_DLS(block, size, &a, &as, &b, &bs)) {
            SVX_mem_free_lock(a);
            SVX_mem_free_lock(b);
        }
        if (SVX_filter_DLS_with_XMI(xmidi.data(), block, &a, &as, 0)) SVX_mem_free_lock(a);
        if (SVX_filter_DLS_with_XMI(block, dls.data(), &a, &as, 0)) SVX_mem_free_lock(a);
        if (SVX_merge_DLS_with_XMI(block, block, &a, &as)) SVX_mem_free_lock(a);
        SVX_mem_free_lock(block);
    };
    for (const Bytes* whole : {&dls, &merged}) {
        for (size_t n = 1; n < whole->size(); ++n) exercise(Bytes(whole->begin(), whole->begin() + long(n)));
        for (size_t at = 0; at < whole->size(); ++at)
            for (uint8_t value : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0xFF)}) {
                Bytes damaged = *whole;
                damaged[at] = value;
                exercise(damaged);
            }
    }
}

}  // namespace
