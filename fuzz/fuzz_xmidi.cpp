// XMIDI images: SVX_init_sequence on a sequence of the image, then a few
// hundred service ticks with the loop count, callbacks, branches, tempo,
// volume, positions, seeks, stops and channel locks the input's hash picks
// between them. The ticks are called directly (the service thread is
// parked), and the image lives in a library memory block, whose size the
// sequencer learns.
#include <cstring>

#include "core/state.h"
#include "fuzz_library.h"
#include "midi/mididrv.h"
#include "midi/sequence.h"
#include "sonvex.h"

namespace {

uint8_t ica[128];

int32_t SVXCALLBACK prefix(HSEQUENCE, int32_t channel, int32_t value) { return (value + channel) & 0xFF; }
void SVXCALLBACK trigger(HSEQUENCE, int32_t, int32_t) {}
void SVXCALLBACK beat(HMDIDRIVER, HSEQUENCE s, int32_t, int32_t) { SVX_sequence_status(s); }
void SVXCALLBACK ended(HSEQUENCE) {}

void act(fuzz::Choices& pick, HMDIDRIVER d, HSEQUENCE s, size_t size) {
    // As on the service thread: stops and seeks skip the pauses that give a
    // device time for its note-offs, which would make an input take seconds.
    svx::BackgroundWork background;
    // Two picks the arguments may need, taken first: compilers evaluate a
    // call's arguments in different orders.
    const uint32_t first = pick.next(), second = pick.next();
    int32_t a = 0, b = 0;
    switch (pick.pick(14)) {
        case 0: SVX_branch_index(s, first % 8); break;
        case 1: SVX_sequence_position(s, &a, &b); break;
        case 2: SVX_sequence_ms_position(s, &a, &b); break;
        case 3: SVX_set_sequence_ms_position(s, int32_t(first % (uint32_t(size) * 20 + 1))); break;
        case 4: SVX_set_sequence_tempo(s, int32_t(first % 400), int32_t(second % 3 * 100)); break;
        case 5: SVX_set_sequence_volume(s, int32_t(first % 128), int32_t(second % 3 * 100)); break;
        case 6: SVX_stop_sequence(s); break;
        case 7: SVX_resume_sequence(s); break;
        case 8: SVX_start_sequence(s); break;
        case 9: SVX_map_sequence_channel(s, 1 + int32_t(first % 16), 1 + int32_t(second % 16)); break;
        case 10: SVX_release_channel(d, SVX_lock_channel(d)); break;
        case 11: SVX_set_XMIDI_master_volume(d, int32_t(first % 128)); break;
        // (Not the driver's release and reacquire: their channel reset
        // pauses for the device, 67 ms a time.)
        case 12: SVX_set_sequence_loop_count(s, int32_t(first % 3)); break;
        default:
            SVX_controller_value(s, 1 + int32_t(first % 16), int32_t(second % 128));
            SVX_channel_notes(s, 1 + int32_t(second % 16));
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        for (int i = 0; i < 128; ++i) ica[i] = uint8_t(127 - i);
        return fuzz::start_sequencer();
    }();
    if (!started) std::abort();
    if (size == 0 || size > (1u << 20)) return 0;
    fuzz::Choices pick(data, size);

    const fuzz::Block image(data, size);
    if (!image.get()) return 0;
    SVX_set_preference(SVX_PREF_BRANCHES_KEEP_LOOPS, int32_t(pick.pick(2)));
    HMDIDRIVER d = fuzz::shared_midi_driver();
    HSEQUENCE s = SVX_allocate_sequence_handle(d);
    const int32_t number = pick.chance(4) ? int32_t(pick.pick(3)) : 0;
    if (s && SVX_init_sequence(s, image.get(), number)) {
        const int32_t loops[] = {1, 1, 2, 0};
        SVX_set_sequence_loop_count(s, pick.one_of(loops));
        SVX_register_ICA_array(s, ica);
        SVX_register_prefix_callback(s, prefix);
        SVX_register_trigger_callback(s, trigger);
        SVX_register_beat_callback(s, beat);
        SVX_register_sequence_callback(s, ended);
        SVX_start_sequence(s);
        const uint32_t often = 4 + pick.pick(60);
        for (int tick = 0; tick < 400; ++tick) {
            svx::midi::service_tick(svx::midi::driver_of(d));
            if (pick.chance(often)) act(pick, d, s, size);
        }
    }
    if (s) {
        svx::BackgroundWork background;  // no pause for the note-offs
        SVX_release_sequence_handle(s);
    }
    return 0;
}
