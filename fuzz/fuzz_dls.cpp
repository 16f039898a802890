// DLS collections, compressed ones and wave libraries: the parser (what it
// accepts lies inside the image and plays through the engine's renderer
// for a few calls with notes the input's hash picks), compression with
// extraction of its result, expansion, the listing, and the wave
// synthesizer's table lookup and rate arithmetic. The image lives in a
// library memory block, so the library knows where it ends.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "midi/dls_collection.h"
#include "midi/dls_compress.h"
#include "midi/dls_synth.h"
#include "midi/wavesynth.h"
#include "sonvex.h"

namespace {

using namespace svx::dls;

struct Library {
    Library() {
        setenv("WIN32_AUDIO", "null", 1);
        fuzz::scratch_drive();
        if (SVX_startup() != 1) std::abort();
    }
};

int32_t SVXCALLBACK ready(void*) { return 0; }
void* SVXCALLBACK address(void* user, int32_t) { return user; }
void SVXCALLBACK load(void*, int32_t, uint32_t) {}

void check_collection(const Collection& c, const uint8_t* image, size_t size) {
    for (const Wave& w : c.waves) {
        if (!w.loaded) continue;
        FUZZ_CHECK(w.data >= image && w.data + w.size <= image + size);
        if (w.sample.loop_count > 0) FUZZ_CHECK(uint64_t(w.sample.loop.start) + w.sample.loop.length <= w.frames());
    }
}

void play(fuzz::Choices& pick, const uint8_t* image, size_t size) {
    static std::vector<int16_t> memory(2048);
    SVX_set_preference(SVX_PREF_DLS_SMOOTH, int32_t(pick.pick(2)));
    SVX_set_preference(SVX_PREF_DLS_REVERB, int32_t(pick.pick(2)));
    const uint32_t flags = pick.pick(4);
    auto synth = make_synth(nullptr, flags, int32_t(pick.one_of({8000, 22050, 44100})), 1024,
                            Output{memory.data(), &ready, &address, &load});
    if (!synth) return;
    uint32_t id = 0;
    if (load_collection(*synth, image, size, "fuzz", false, id) != kOk) return;
    for (int call = 0; call < 8; ++call) {
        for (int e = 0; e < 3; ++e) {
            const int status = int(pick.one_of({0x90u, 0x80u, 0xB0u, 0xC0u, 0xE0u})) | int(pick.pick(16));
            intercept_event(*synth, nullptr, status, int(pick.pick(128)), int(pick.pick(128)));
        }
        render(*synth, pick.pick(40));
    }
    unload_all(*synth);
}

void compressed(const uint8_t* image, size_t size) {
    void* mls = nullptr;
    uint32_t mls_size = 0;
    void* block = SVX_mem_alloc_lock(int32_t(size ? size : 1));
    if (!block) return;
    if (size) std::memcpy(block, image, size);
    if (SVX_compress_DLS(block, &mls, &mls_size) == 1) {
        void* back = nullptr;
        uint32_t back_size = 0;
        if (SVX_extract_DLS(mls, mls_size, nullptr, nullptr, &back, &back_size) == 1 && back) {
            Collection c;
            if (parse_collection(static_cast<uint8_t*>(back), back_size, c) == kOk)
                check_collection(c, static_cast<uint8_t*>(back), back_size);
            SVX_mem_free_lock(back);
        }
        SVX_mem_free_lock(mls);
    }
    std::vector<uint8_t> expanded;
    if (expand_collection(image, size, expanded)) {
        Collection c;
        if (parse_collection(expanded.data(), expanded.size(), c) == kOk)
            check_collection(c, expanded.data(), expanded.size());
    }
    char* text = nullptr;
    uint32_t text_size = 0;
    if (SVX_list_DLS(block, &text, &text_size, 1) == 1) {
        FUZZ_CHECK(text_size > 0 && text[text_size - 1] == 0);
        SVX_mem_free_lock(text);
    }
    SVX_mem_free_lock(block);
}

void wave_library(fuzz::Choices& pick, const uint8_t* image, size_t size) {
    for (int i = 0; i < 4; ++i) {
        const int32_t bank = int32_t(pick.one_of({0u, 127u, 1u})), patch = int32_t(pick.pick(128));
        if (const auto* e = svx::wavesynth::find_entry(image, size, bank, patch)) {
            FUZZ_CHECK(reinterpret_cast<const uint8_t*>(e) + 32 <= image + size);
            FUZZ_CHECK(size_t(e->offset) + size_t(e->size) <= size);
            svx::wavesynth::voice_rate(int(pick.pick(128)), e->root_key, e->rate, int(pick.pick(16384)),
                                       int(pick.pick(128)), pick.chance(2));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Library library;
    // An exact copy: a read past the image is a read past the allocation.
    std::unique_ptr<uint8_t[]> image(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(image.get(), data, size);
    fuzz::Choices pick(data, size);

    Collection c;
    if (parse_collection(image.get(), size, c) == kOk) {
        check_collection(c, image.get(), size);
        play(pick, image.get(), size);
    }
    compressed(image.get(), size);
    wave_library(pick, image.get(), size);
    return 0;
}
