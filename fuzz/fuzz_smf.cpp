// Standard MIDI files: the conversion to XMIDI, strict or tolerant, whose
// result must be an XMIDI image that the sequencer takes and plays for a
// few hundred service ticks; and the listing, with the flags the input's
// hash picks, whose text must end in its zero byte. The image lives in a
// library memory block, as a caller's file would.
#include <cstring>

#include "core/state.h"
#include "fuzz_library.h"
#include "midi/mididrv.h"
#include "sonvex.h"

namespace {

void play_converted(void* xmidi) {
    HMDIDRIVER d = fuzz::shared_midi_driver();
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
    static const bool started = fuzz::start_sequencer();
    if (!started) std::abort();
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);

    const fuzz::Block image(data, size);
    if (!image.get()) return 0;

    fuzz::Block xmidi;
    const uint32_t flags = pick.chance(2) ? SVX_MIDI_TOLERANT : 0;
    if (SVX_MIDI_to_XMI(image.get(), uint32_t(size), xmidi.out(), xmidi.out_size(), flags) == 1) {
        FUZZ_CHECK(xmidi.get() && xmidi.given_size() > 0);
        FUZZ_CHECK(SVX_file_type(xmidi.get(), xmidi.given_size()) == 6);
        play_converted(xmidi.get());
    } else {
        FUZZ_CHECK(!xmidi.get());
    }

    fuzz::Block text;
    if (SVX_list_MIDI(image.get(), uint32_t(size), reinterpret_cast<char**>(text.out()), text.out_size(),
                      pick.pick(8)) == 1) {
        const auto* t = reinterpret_cast<const char*>(text.get());
        const uint32_t n = text.given_size();
        FUZZ_CHECK(t && n > 0 && t[n - 1] == 0);
        FUZZ_CHECK(std::strlen(t) == n - 1);
    }
    return 0;
}
