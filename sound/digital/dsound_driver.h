// The digital driver on DirectSound: every playing sample owns a secondary
// buffer that the library streams its data into, segment by segment, and
// DirectSound mixes. The sizes and formulas, the fill of one segment and
// the 100 Hz service are plain functions a test can call directly.
#pragma once

#include <atomic>
#include <cstdint>

#include "digital/driver.h"
#include "digital/sample.h"
#include "win32/dsound.h"

namespace svx::digital::ds {

// ---- sizes and formulas ----

// Bytes per second a secondary buffer plays for a sample: channels x bytes
// per sample x the larger of its rate and preference 17.
int64_t stream_bytes_per_second(uint32_t format, int32_t rate, int32_t lowest_rate);

// The power of two among 1024 ... 16384 nearest to `target` (the smaller
// one on a tie), at most `limit`.
uint32_t nearest_segment(int64_t target, uint32_t limit);

// Segment size for a sample: half the buffer for a single buffer; for a
// double-buffered one the nearest segment to a tenth of a second, or half
// the buffer when such segments would not tile it.
uint32_t segment_size(uint32_t buffer_bytes, int64_t bytes_per_second, bool double_buffered);

// A quarter of a segment's playing time in ms, never below 1 (a segment of
// more than a second would make the plain formula divide by zero).
int32_t service_interval(int64_t bytes_per_second, uint32_t segment_bytes);

// Buffer volume in hundredths of a decibel: -10000 for silence.
LONG buffer_volume(int32_t master_volume, int32_t volume);
// Buffer pan in hundredths of a decibel: -10000 (left) ... 10000 (right).
LONG buffer_pan(int32_t pan);

// ---- the guard ----

// Exclusive right to touch secondary buffers and the streaming state.
// Calls on the library's behalf wait for it (the service holds it for a
// moment only); the service only tries, and skips its turn when taken. It
// may be taken again on the thread holding it (callbacks run inside it).
class Guard {
public:
    enum Mode { wait, try_only };
    explicit Guard(Mode mode = wait);
    ~Guard();
    bool held() const { return held_; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    bool held_ = false;
};

// Raised while drivers are opened, closed, released or reacquired: the
// service does nothing then.
extern std::atomic<int32_t> service_off;

// Moves whenever a DirectSound driver is closed: work that ran callbacks
// compares it to know whether the records it holds still exist.
uint32_t drivers_changed();

// True for a driver record that DirectSound opened.
inline bool is_ds_driver(const DigitalDriver* driver) {
    return driver && driver->ds_slots > 0 && driver->ds_buffers != nullptr;
}

// ---- streaming (dsound_stream.cpp); callers hold the guard ----

// Sizes the segments and the service interval for the sample's rate and
// buffer mode.
void size_segments(Sample& sample, const DigitalDriver& driver);

// A secondary buffer for the sample, kept when it owns one of its format,
// else found or made in a slot; false when none can be had.
bool acquire_buffer(Sample& sample, DigitalDriver& driver);

// Gives up the sample's buffer: silenced and stopped, left in its slot for
// another sample.
void give_up_buffer(Sample& sample, DigitalDriver& driver);

// The buffer a sample owns, or null.
IDirectSoundBuffer* buffer_of(const Sample& sample);

// Silences the whole buffer, sets play position 0, fills segments 0 and 1
// from the sample's current position, sets rate, volume and pan and plays
// it. The sample becomes `playing`. False when the buffer would not play.
bool play_from_position(Sample& sample, DigitalDriver& driver);

// Fills segment `index` from the sample's data; `cursor` is the play
// cursor now. Calls the callbacks it counted.
void fill_segment(Sample& sample, DigitalDriver& driver, uint32_t index, uint32_t cursor);

// Fills the whole buffer with silence.
void silence(Sample& sample, IDirectSoundBuffer* buffer);

// Sets the buffer's volume or pan from the sample (pan on stereo output only).
void apply_volume(Sample& sample, const DigitalDriver& driver);
void apply_pan(Sample& sample, const DigitalDriver& driver);

// One look at a playing sample by the service, `elapsed_ms` after the
// last: refills behind the play cursor, or ends the sample once the
// cursor has passed its data.
void service_sample(Sample& sample, DigitalDriver& driver, int32_t elapsed_ms);

// The DirectSound service (the 100 Hz timer callback): every playing
// sample of every DirectSound driver.
void SVXCALLBACK service(uintptr_t user);

// Starts a sample as SVX_start_sample does (the current position is kept
// unless `rewind`).
void start(Sample& sample, bool rewind);

// Closes every open DirectSound driver (shutdown).
void close_all_drivers();

}  // namespace svx::digital::ds
