// The sample exports on DirectSound (preference 15 = 0): the state machine
// of the common sample code, with the sample's secondary buffer started,
// stopped, silenced and given up along with it.
#include <algorithm>
#include <climits>
#include <initializer_list>

#include "core/ops.h"
#include "core/state.h"
#include "digital/dsound_driver.h"

namespace svx::op::dsound {
using namespace svx::digital;
using namespace svx::digital::ds;

namespace {

bool released(const Sample& sample) {
    return sample.driver && sample.driver->released.load() != 0;
}

bool has_data(const Sample& sample) {
    const int32_t cur = sample.current.load(std::memory_order_relaxed) & 1;
    return sample.length[cur].load(std::memory_order_relaxed) != 0 &&
           sample.start[cur].load(std::memory_order_relaxed) != nullptr;
}

void call(std::atomic<SVXSAMPLECB>& slot, Sample& sample) {
    if (SVXSAMPLECB callback = slot.load(std::memory_order_relaxed)) callback(handle_of(&sample));
}

// Moves the sample from one of `from` to `to` and stops its buffer (with
// `quiet`, its data is replaced by silence). Under the guard, so that the
// service cannot end the sample at the same moment; false when the sample
// was in none of those states.
bool halt(Sample& sample, std::initializer_list<int32_t> from, int32_t to, bool quiet) {
    LibraryLock lock;
    Guard guard;
    const int32_t status = sample.status.load();
    if (std::find(from.begin(), from.end(), status) == from.end()) return false;
    sample.status.store(to);
    if (released(sample)) return true;
    if (IDirectSoundBuffer* buffer = buffer_of(sample)) {
        buffer->Stop();
        if (quiet) silence(sample, buffer);
    }
    return true;
}

}  // namespace

void SVX_release_sample_handle(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    ::SVX_end_sample(handle);
    sample->status.store(SVX_FREE);
}

void SVX_init_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    Sample& s = *sample;
    if (s.driver && s.ds_slot.load(std::memory_order_relaxed) >= 0) {
        LibraryLock lock;
        Guard guard;
        give_up_buffer(s, *s.driver);
    }
    reset_sample_fields(s);
    s.pan.store(64, std::memory_order_relaxed);
    if (s.driver) {
        Guard guard;
        size_segments(s, *s.driver);
        s.ds_segment = 0;
        s.ds_last_cursor = 0;
    }
    s.ds_remaining.store(UINT32_MAX, std::memory_order_relaxed);
    s.ds_control.store(0, std::memory_order_relaxed);
    s.status.store(SVX_DONE);
}

void SVX_set_sample_type(HSAMPLE handle, int32_t format, uint32_t flags) {
    if (Sample* sample = sample_of(handle)) set_type(*sample, uint32_t(format), flags);
}

void SVX_start_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample || sample->status.load() == SVX_FREE || !has_data(*sample)) return;
    sample->buffer_mode.store(1, std::memory_order_relaxed);
    ds::start(*sample, true);
}

void SVX_stop_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    // The data already in the buffer stays, so resume goes on without a gap.
    halt(*sample, {SVX_PLAYING, SVX_SUSPENDED}, SVX_STOPPED, false);
}

void SVX_resume_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    const int32_t status = sample->status.load();
    if (status == SVX_STOPPED) {
        if (released(*sample)) {
            sample->status.store(SVX_SUSPENDED);
            return;
        }
        LibraryLock lock;
        Guard guard;
        IDirectSoundBuffer* buffer = buffer_of(*sample);
        if (!buffer) return;  // gone while stopped: it cannot play on
        sample->status.store(SVX_PLAYING);
        const DWORD flags =
            sample->ds_control.load(std::memory_order_relaxed) == 1 ? 0 : DSBPLAY_LOOPING;
        if (buffer->Play(0, 0, flags) == DSERR_BUFFERLOST && buffer->Restore() == DS_OK)
            buffer->Play(0, 0, flags);
    } else if (status == SVX_DONE && has_data(*sample)) {
        sample->buffer_mode.store(1, std::memory_order_relaxed);
        ds::start(*sample, false);
    }
}

void SVX_end_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    if (!halt(*sample, {SVX_PLAYING, SVX_STOPPED, SVX_SUSPENDED}, SVX_DONE, true)) return;
    sample->starved.store(1, std::memory_order_relaxed);
    call(sample->end_of_buffer, *sample);
    call(sample->end_of_sample, *sample);
}

void SVX_set_sample_playback_rate(HSAMPLE handle, int32_t rate) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    LibraryLock lock;
    sample->rate.store(rate, std::memory_order_relaxed);
    if (released(*sample) || !sample->driver) return;
    Guard guard;
    IDirectSoundBuffer* buffer = buffer_of(*sample);
    if (!buffer) return;
    buffer->SetFrequency(DWORD(std::clamp<int32_t>(rate, DSBFREQUENCY_MIN, DSBFREQUENCY_MAX)));
    size_segments(*sample, *sample->driver);
    // The cursor's segment in the new layout, so refills go on behind it.
    const uint32_t size = sample->ds_segment_size.load(std::memory_order_relaxed);
    if (size != 0) sample->ds_segment = sample->ds_last_cursor / size;
}

void SVX_set_sample_volume(HSAMPLE handle, int32_t volume) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    sample->volume.store(volume, std::memory_order_relaxed);
    if (released(*sample) || !sample->driver) return;
    LibraryLock lock;
    Guard guard;
    apply_volume(*sample, *sample->driver);
}

void SVX_set_sample_pan(HSAMPLE handle, int32_t pan) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    sample->pan.store(pan, std::memory_order_relaxed);
    if (released(*sample) || !sample->driver) return;
    LibraryLock lock;
    Guard guard;
    apply_pan(*sample, *sample->driver);
}

// Both outputs keep the position in the sample record alike.
uint32_t SVX_sample_position(HSAMPLE handle) { return waveout::SVX_sample_position(handle); }

int32_t SVX_minimum_sample_buffer_size(HDIGDRIVER handle, int32_t rate, int32_t format) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return 0;
    const int64_t h = double_frame_bytes(uint32_t(format));
    const int64_t target = h * std::max(rate, preference(SVX_PREF_DS_LOWEST_RATE)) / 20;
    const uint32_t half = uint32_t(std::max(preference(SVX_PREF_DS_BUFFER_SIZE), 0)) / 2;
    return int32_t(nearest_segment(target, half) * 2);
}

void SVX_load_sample_buffer(HSAMPLE handle, int32_t buffer, const void* start, uint32_t length) {
    Sample* sample = sample_of(handle);
    if (!sample || (buffer != 0 && buffer != 1)) return;
    sample->start[buffer].store(static_cast<const uint8_t*>(start), std::memory_order_relaxed);
    sample->length[buffer].store(int32_t(std::min<uint32_t>(length, INT32_MAX)),
                                 std::memory_order_relaxed);
    sample->position[buffer].store(0, std::memory_order_relaxed);
    sample->buffer_done[buffer].store(length == 0 ? 1 : 0, std::memory_order_relaxed);
    sample->starved.store(0, std::memory_order_relaxed);
    if (length == 0) return;
    const int32_t status = sample->status.load();
    if (status == SVX_PLAYING || status == SVX_SUSPENDED) return;
    sample->buffer_mode.store(2, std::memory_order_relaxed);
    ds::start(*sample, false);
}

}  // namespace svx::op::dsound
