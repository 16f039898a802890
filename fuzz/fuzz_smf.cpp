// Standard MIDI files: the conversion to XMIDI, strict or tolerant, whose
// result must be an XMIDI image that the sequencer takes and plays for a
// few hundred service ticks; and the listing, with the flags the input's
// hash picks, whose text must end in its zero byte. The image lives in a
// library memory block, as a caller's file would.
#include <cstring>

#include "core/state.h"
#include "fuzz_support.h"
#include "midi/mididrv.h"
#include "sonvex.h"

namespace {

void play_converted(void* xmidi) {
    // One driver for every input: opening one pauses for the device.
    static HMDIDRIVER d = [] {
        HMDIDRIVER opened = nullptr;
        if (SVX_midiOutOpen(&opened, nullptr, -1) != 0 || !opened) std::abort();
        return opened;
    }();
    for (int32_t channel = 1; channel <= 16; ++channel) SVX_release_channel(d, channel);
    HSEQUENCE s = SVX_allocate_sequence_handle(d);
    if (!s) return;
    FUZZ_CHECK(SVX_init_sequence(s, xmidi, 0) == 1);
    SVX_start_sequence(s);
    for (int tick = 0; tick < 300 && SVX_sequence_status(s) == SVX_PLAYING; ++tick)
        svx::midi::service_tick(svx::midi::driver_of(d));
    svx::BackgroundWork background;  // no pause for the note-offs
    SVX_release_sequence_handle(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        setenv("WIN32_MIDI", "null", 1);
        fuzz::scratch_drive();
        if (SVX_startup() != 1) return false;
        // Only this program ticks.
        SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000);
        return true;
    }();
    if (!started) std::abort();
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);

    auto* image = static_cast<uint8_t*>(SVX_mem_alloc_lock(int32_t(size)));
    if (!image) return 0;
    std::memcpy(image, data, size);

    void* xmidi = nullptr;
    uint32_t xmidi_size = 0;
    const uint32_t flags = pick.chance(2) ? SVX_MIDI_TOLERANT : 0;
    if (SVX_MIDI_to_XMI(image, uint32_t(size), &xmidi, &xmidi_size, flags) == 1) {
        FUZZ_CHECK(xmidi && xmidi_size > 0);
        FUZZ_CHECK(SVX_file_type(xmidi, xmidi_size) == 6);
        play_converted(xmidi);
        SVX_mem_free_lock(xmidi);
    } else {
        FUZZ_CHECK(!xmidi);
    }

    char* text = nullptr;
    uint32_t text_size = 0;
    if (SVX_list_MIDI(image, uint32_t(size), &text, &text_size, pick.pick(8)) == 1) {
        FUZZ_CHECK(text && text_size > 0 && text[text_size - 1] == 0);
        FUZZ_CHECK(std::strlen(text) == text_size - 1);
        SVX_mem_free_lock(text);
    }
    SVX_mem_free_lock(image);
    return 0;
}
