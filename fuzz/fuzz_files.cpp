// The file services: type detection; find and extract on the image; the
// XMIDI and DLS parts it holds (or the whole image as either) merged back
// together, which must give an image whose parts are found again, byte for
// byte; the filter of the collection by the XMIDI part, alone and as a
// list; and a write and read back through the drive. Each image lives in
// a library memory block, whose size the services learn.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "sonvex.h"

namespace {

struct Block {
    explicit Block(const void* from, size_t size)
        : data(static_cast<uint8_t*>(SVX_mem_alloc_lock(int32_t(size ? size : 1)))), size(size) {
        if (data && size) std::memcpy(data, from, size);
    }
    ~Block() {
        if (data) SVX_mem_free_lock(data);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* data;
    size_t size;
};

// A block the library made for us.
struct Owned {
    ~Owned() {
        if (p) SVX_mem_free_lock(p);
    }
    void* p = nullptr;
    uint32_t size = 0;
};

bool inside(const void* p, size_t bytes, const Block& b) {
    const auto* q = static_cast<const uint8_t*>(p);
    return q >= b.data && q <= b.data + b.size && bytes <= size_t(b.data + b.size - q);
}

void merge_and_find_again(const Block& xmidi, const Block& dls) {
    Owned merged;
    if (SVX_merge_DLS_with_XMI(xmidi.data, dls.data, &merged.p, &merged.size) != 1) return;
    FUZZ_CHECK(merged.p && merged.size > 12);
    const int32_t type = SVX_file_type(merged.p, merged.size);
    FUZZ_CHECK(type == 7 || type == 8);
    // An XMIDI part that holds a collection of its own keeps it first,
    // and a find gives that one.
    if (SVX_file_type(xmidi.data, uint32_t(xmidi.size)) != 6) return;
    void *x = nullptr, *d = nullptr;
    uint32_t xs = 0, ds = 0;
    FUZZ_CHECK(SVX_find_DLS(merged.p, merged.size, &x, &xs, &d, &ds) == 1);
    FUZZ_CHECK(d != nullptr);
    const auto* m = static_cast<const uint8_t*>(merged.p);
    // The collection follows the XMIDI chunks and its 12-byte chunk header.
    FUZZ_CHECK(static_cast<const uint8_t*>(d) == m + xs + 12);
    FUZZ_CHECK(xs + 12 + ds + 8 == merged.size);
    FUZZ_CHECK(std::memcmp(m, xmidi.data, xs) == 0);
    FUZZ_CHECK(std::memcmp(d, dls.data, ds + 8) == 0);
}

void filter(const Block& xmidi, const Block& dls, fuzz::Choices& pick) {
    Owned one;
    if (SVX_filter_DLS_with_XMI(xmidi.data, dls.data, &one.p, &one.size, 0) == 1)
        FUZZ_CHECK(one.p && one.size <= dls.size + 8);
    if (pick.chance(4)) {
        // The list form: a count in a pointer-sized slot, then addresses.
        const uintptr_t list[3] = {2, reinterpret_cast<uintptr_t>(xmidi.data),
                                   reinterpret_cast<uintptr_t>(xmidi.data)};
        Owned two;
        if (SVX_filter_DLS_with_XMI(list, dls.data, &two.p, &two.size, 1) == 1)
            FUZZ_CHECK(two.size == one.size && std::memcmp(one.p, two.p, one.size) == 0);
    }
}

void write_and_read_back(const uint8_t* data, size_t size) {
    FUZZ_CHECK(SVX_file_write("C:\\image.bin", data, uint32_t(size)) == 1);
    FUZZ_CHECK(SVX_file_size("C:\\image.bin") == int32_t(size));
    Owned back;
    back.p = SVX_file_read("C:\\image.bin", nullptr);
    FUZZ_CHECK(back.p && std::memcmp(back.p, data, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        setenv("WIN32_AUDIO", "null", 1);
        fuzz::scratch_drive();
        return SVX_startup() == 1;
    }();
    if (!started) std::abort();
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);
    const Block image(data, size);
    if (!image.data) return 0;

    const int32_t type = SVX_file_type(image.data, uint32_t(size));
    FUZZ_CHECK(type >= 0 && type <= 10);

    void *x = nullptr, *d = nullptr;
    uint32_t xs = 0, ds = 0;
    bool parts = false;
    if (SVX_find_DLS(image.data, uint32_t(size), &x, &xs, &d, &ds) == 1) {
        FUZZ_CHECK(x == image.data && xs <= size);
        FUZZ_CHECK(!d || inside(d, size_t(ds) + 8, image));
        parts = d != nullptr && xs > 0;
    }
    {
        Owned ex, ed;
        if (SVX_extract_DLS(image.data, uint32_t(size), &ex.p, &ex.size, &ed.p, &ed.size) == 1) {
            FUZZ_CHECK(ex.p || ed.p);
            // A compressed collection comes out expanded.
            if (ed.p) FUZZ_CHECK(SVX_file_type(ed.p, ed.size) == 9);
        }
    }

    // The two parts, each in a block of its own; else the image as both.
    const Block xmidi(parts ? x : image.data, parts ? xs : size);
    const Block dls(parts ? d : image.data, parts ? size_t(ds) + 8 : size);
    if (xmidi.data && dls.data) {
        merge_and_find_again(xmidi, dls);
        filter(xmidi, dls, pick);
    }
    if (pick.chance(8)) write_and_read_back(data, size);
    return 0;
}
