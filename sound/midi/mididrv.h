// The MIDI output driver on midiOut: the "HMDI" record with its pool of
// sequences, its service timer, channel lock tables and sysex buffer.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/sequence.h"
#include "sonvex.h"
#include "win32/winmm.h"

namespace svx::midi {

inline constexpr int32_t kNoDevice = -2;

struct MidiDriver {
    char tag[4] = {};
    HSVXTIMER timer = -1;
    int32_t tick_period = 0;  // microseconds per service tick
    std::atomic<int32_t> busy_count{0};
    Sequence* sequences = nullptr;
    int32_t sequence_count = 0;
    int32_t lock_state[kChannels] = {};  // 0 free, 1 locked, 2 protected
    Sequence* locker[kChannels] = {};
    Sequence* saved_last_user[kChannels] = {};
    Sequence* last_user[kChannels] = {};
    int32_t saved_lock_state[kChannels] = {};
    int32_t note_count[kChannels] = {};
    std::atomic<SVXEVENTCB> event_callback{nullptr};
    std::atomic<SVXTIMBRECB> timbre_callback{nullptr};
    std::atomic<int32_t> master_volume{127};
    void* wave_synthesizer = nullptr;
    MIDIHDR* header = nullptr;
    uint8_t* sysex_buffer = nullptr;
    int32_t sysex_size = 0;
    MidiDriver* next = nullptr;
    HMIDIOUT device = nullptr;
    int32_t device_number = 0;
    std::atomic<int32_t> released{0};
};

inline MidiDriver* driver_of(HMDIDRIVER handle) { return reinterpret_cast<MidiDriver*>(handle); }
inline HMDIDRIVER handle_of(MidiDriver* d) { return reinterpret_cast<HMDIDRIVER>(d); }

void send_short(MidiDriver& driver, int status, int data1, int data2);
// Sends the sysex event at `event` (status, variable-length count, data) of
// `size` bytes in all.
void send_sysex(MidiDriver& driver, const uint8_t* event, uint32_t size);
void reset_channels(MidiDriver& driver);

// Channel locking (channels 1-16 at this interface, 0 = none).
int32_t lock_channel(MidiDriver& driver);
void release_channel(MidiDriver& driver, int32_t channel);

// Closes every open driver (library shutdown).
void close_all_drivers();

// Reads a variable-length quantity of at most 4 bytes between `p` and `end`
// (null `end`: unbounded). False for a longer or cut-off one.
bool read_vlq(const uint8_t*& p, const uint8_t* end, uint32_t& value);

}  // namespace svx::midi
