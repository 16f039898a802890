// The file services: type detection; find and extract on the image; the
// XMIDI and DLS parts it holds (or the whole image as either) merged back
// together, which must give an image whose parts are found again, byte for
// byte; the filter of the collection by the XMIDI part, alone and as a
// list; and a write and read back through the drive. Each image lives in
// a library memory block, whose size the services learn.
#include <cstring>
#include <string>

#include "fuzz_library.h"
#include "sonvex.h"

namespace {

using fuzz::Block;

bool inside(const void* p, size_t bytes, const Block& b) {
    const auto* q = static_cast<const uint8_t*>(p);
    return q >= b.get() && q <= b.get() + b.size() && bytes <= size_t(b.get() + b.size() - q);
}

void merge_and_find_again(const Block& xmidi, const Block& dls) {
    Block merged;
    if (SVX_merge_DLS_with_XMI(xmidi.get(), dls.get(), merged.out(), merged.out_size()) != 1) return;
    const uint32_t size = merged.given_size();
    FUZZ_CHECK(merged.get() && size > 12);
    const int32_t type = SVX_file_type(merged.get(), size);
    FUZZ_CHECK(type == 7 || type == 8);
    // An XMIDI part that holds a collection of its own keeps it first,
    // and a find gives that one.
    if (SVX_file_type(xmidi.get(), uint32_t(xmidi.size())) != 6) return;
    void *x = nullptr, *d = nullptr;
    uint32_t xs = 0, ds = 0;
    FUZZ_CHECK(SVX_find_DLS(merged.get(), size, &x, &xs, &d, &ds) == 1);
    FUZZ_CHECK(d != nullptr);
    const uint8_t* m = merged.get();
    // The collection follows the XMIDI chunks and its 12-byte chunk header.
    FUZZ_CHECK(static_cast<const uint8_t*>(d) == m + xs + 12);
    FUZZ_CHECK(xs + 12 + ds + 8 == size);
    FUZZ_CHECK(std::memcmp(m, xmidi.get(), xs) == 0);
    FUZZ_CHECK(std::memcmp(d, dls.get(), ds + 8) == 0);
}

void filter(const Block& xmidi, const Block& dls, fuzz::Choices& pick) {
    Block one;
    if (SVX_filter_DLS_with_XMI(xmidi.get(), dls.get(), one.out(), one.out_size(), 0) == 1)
        FUZZ_CHECK(one.get() && one.given_size() <= dls.size() + 8);
    if (pick.chance(4)) {
        // The list form: a count in a pointer-sized slot, then addresses.
        const uintptr_t list[3] = {2, reinterpret_cast<uintptr_t>(xmidi.get()),
                                   reinterpret_cast<uintptr_t>(xmidi.get())};
        Block two;
        if (SVX_filter_DLS_with_XMI(list, dls.get(), two.out(), two.out_size(), 1) == 1)
            FUZZ_CHECK(two.given_size() == one.given_size() &&
                       std::memcmp(one.get(), two.get(), one.given_size()) == 0);
    }
}

void write_and_read_back(const uint8_t* data, size_t size) {
    FUZZ_CHECK(SVX_file_write("C:\\image.bin", data, uint32_t(size)) == 1);
    FUZZ_CHECK(SVX_file_size("C:\\image.bin") == int32_t(size));
    const Block back(SVX_file_read("C:\\image.bin", nullptr));
    FUZZ_CHECK(back.get() && std::memcmp(back.get(), data, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = fuzz::start_library();
    if (!started) std::abort();
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);
    const Block image(data, size);
    if (!image.get()) return 0;

    const int32_t type = SVX_file_type(image.get(), uint32_t(size));
    FUZZ_CHECK(type >= 0 && type <= 10);

    void *x = nullptr, *d = nullptr;
    uint32_t xs = 0, ds = 0;
    bool parts = false;
    if (SVX_find_DLS(image.get(), uint32_t(size), &x, &xs, &d, &ds) == 1) {
        FUZZ_CHECK(x == image.get() && xs <= size);
        FUZZ_CHECK(!d || inside(d, size_t(ds) + 8, image));
        parts = d != nullptr && xs > 0;
    }
    {
        Block ex, ed;
        if (SVX_extract_DLS(image.get(), uint32_t(size), ex.out(), ex.out_size(), ed.out(), ed.out_size()) == 1) {
            FUZZ_CHECK(ex.get() || ed.get());
            // A compressed collection comes out expanded.
            if (ed.get()) FUZZ_CHECK(SVX_file_type(ed.get(), ed.given_size()) == 9);
        }
    }

    // The two parts, each in a block of its own; else the image as both.
    const Block xmidi(parts ? x : image.get(), parts ? xs : size);
    const Block dls(parts ? d : image.get(), parts ? size_t(ds) + 8 : size);
    if (xmidi.get() && dls.get()) {
        merge_and_find_again(xmidi, dls);
        filter(xmidi, dls, pick);
    }
    if (pick.chance(8)) write_and_read_back(data, size);
    return 0;
}
