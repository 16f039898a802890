// XMIDI sequences: the SEQUENCE record, the sequencer tick and the channel
// bookkeeping shared with the MIDI driver. The tick is a plain function a
// test can call without the background thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "sonvex.h"

namespace svx::midi {

struct MidiDriver;

inline constexpr int kChannels = 16;
inline constexpr int kQueueSlots = 32;
inline constexpr int kLoopSlots = 4;
inline constexpr int kUserSlots = 20;

// Rows of the controller shadow.
enum ShadowRow : int {
    row_program,
    row_bend_lsb,
    row_bend_msb,
    row_110,
    row_111,
    row_107,
    row_112,
    row_114,
    row_32,
    row_0,
    row_115,
    row_119,
    row_1,
    row_7,
    row_10,
    row_11,
    row_64,
    row_91,
    row_93,
    row_bend_range,
    row_100,
    row_101,
    shadow_rows
};
// The 115 row doubles as the channel's indirect value.
inline constexpr int row_indirect = row_115;

// Shadow row of a recorded controller, -1 for one that is not recorded.
int shadow_row_of(int controller);

// The "HSEQ" record; the handle is its address. State the tick reads is
// changed by API calls only under the driver's busy count or the service
// guard, which keep the tick out.
struct Sequence {
    char tag[4] = {};
    MidiDriver* driver = nullptr;
    std::atomic<int32_t> status{SVX_FREE};

    // The caller's image, bounded: `image_end` is the end of a library
    // memory block, or null when the size is unknown.
    const uint8_t* image_end = nullptr;
    const uint8_t* timb = nullptr;
    const uint8_t* rbrn = nullptr;
    const uint8_t* evnt = nullptr;
    const uint8_t* events_begin = nullptr;  // EVNT data
    const uint8_t* events_end = nullptr;
    const uint8_t* event = nullptr;  // next byte to interpret
    const uint8_t* ica = nullptr;

    std::atomic<SVXPREFIXCB> prefix_callback{nullptr};
    std::atomic<SVXTRIGGERCB> trigger_callback{nullptr};
    std::atomic<SVXBEATCB> beat_callback{nullptr};
    std::atomic<SVXSEQUENCECB> sequence_callback{nullptr};

    int32_t loop_count = 1;
    int32_t interval = 0;
    int32_t tick_counter = 0;
    int32_t volume = 127, volume_target = 127, volume_accumulator = 0, volume_period = 0;
    int32_t tempo = 100, tempo_target = 100, tempo_accumulator = 0, tempo_period = 0;
    int32_t tempo_phase = 0;
    int32_t beat = 0, measure = -1, beats_per_measure = 4;
    // 64-bit so that odd time signatures and tempos cannot overflow.
    int64_t beat_increment = 0, beat_phase = 0, beat_length = 8000000;
    const uint8_t* loop_start[kLoopSlots] = {};
    int32_t loop_counter[kLoopSlots] = {};
    int32_t channel_map[kChannels] = {};
    int32_t shadow[shadow_rows][kChannels] = {};
    int32_t note_count = 0;
    int32_t note_channel[kQueueSlots] = {};
    int32_t note_key[kQueueSlots] = {};
    int32_t note_ticks[kQueueSlots] = {};
    uintptr_t user_data[kUserSlots] = {};
    bool stop_flag = false;
    // Set by the reader around a message: where the next event starts
    // (a FOR loop's start), and whether the message moved the pointer.
    const uint8_t* message_end = nullptr;
    bool jumped = false;
};

inline Sequence* sequence_of(HSEQUENCE handle) { return reinterpret_cast<Sequence*>(handle); }
inline HSEQUENCE handle_of(Sequence* s) { return reinterpret_cast<HSEQUENCE>(s); }

// One timer tick of every playing sequence of `driver`.
void service_tick(MidiDriver* driver);

// The library-wide guard that lets one tick, release or reacquire run.
extern std::atomic<int32_t> service_guard;

// Holds the service guard for its lifetime. From an application thread it
// waits for a tick in progress to finish.
class ServiceGuard {
public:
    ServiceGuard();
    ~ServiceGuard();
    ServiceGuard(const ServiceGuard&) = delete;
    ServiceGuard& operator=(const ServiceGuard&) = delete;
};

// Raises the driver's busy count for its lifetime, so the tick skips its
// turn; from an application thread it also waits for a tick in progress.
class Busy {
public:
    explicit Busy(MidiDriver* driver);
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    MidiDriver* driver_;
};

// Operations the driver needs of the sequencer.
void reset_sequence(Sequence& s);
void stop_sequence(Sequence& s);    // status stopped, notes off, channel clean-up
void resume_sequence(Sequence& s);  // re-lock, restore channels (status left to the caller)
void end_sequence(Sequence& s);
void resend_volumes(Sequence& s);
void xmidi_message(Sequence& s, int status, int data1, int data2, bool from_stream);

}  // namespace svx::midi
