// Sample handles: the exports, the state machine, double buffering, the
// callbacks and the mixing step of one sample for one output buffer.
#include "digital/sample.h"

#include <algorithm>
#include <climits>

#include "core/ops.h"
#include "core/state.h"
#include "digital/driver.h"
#include "digital/dsound_driver.h"

namespace svx::digital {
namespace {

constexpr size_t kUserDataSlots = 8;

int32_t clamp_length(uint32_t length) { return int32_t(std::min<uint32_t>(length, INT32_MAX)); }
int32_t clamp_position(int64_t position) {
    return int32_t(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX));
}

bool is_adpcm(uint32_t format) { return (format & SVX_FORMAT_ADPCM) != 0; }

// The next mixing starts decoding afresh with a block header.
void reset_adpcm(Sample& sample) {
    sample.adpcm_reset_stamp.fetch_add(1, std::memory_order_release);
}

bool released(const Sample& sample) {
    return sample.driver && sample.driver->released.load() != 0;
}

void call(std::atomic<SVXSAMPLECB>& slot, Sample& sample, int times) {
    for (int i = 0; i < times; ++i)
        if (SVXSAMPLECB callback = slot.load(std::memory_order_relaxed)) callback(handle_of(&sample));
}

// Describes the data of a VOC sound block in the sample.
void describe(Sample& sample, const VocData& data) {
    set_address(sample, data.data, data.length);
    set_type(sample, data.format, data.flags);
    sample.rate.store(data.rate, std::memory_order_relaxed);
}

// Moves a VOC file sample on to its next sound block, when there is one,
// without disturbing the cursor otherwise.
bool continue_voc(Sample& sample) {
    VocCursor cursor = sample.voc;
    VocData data;
    if (!voc_next_sound(cursor, data)) return false;
    sample.voc = cursor;
    describe(sample, data);
    return true;
}

}  // namespace

// ---- helpers shared with the driver and the file parsers ----

int32_t granularity(uint32_t format, uint32_t adpcm_block_size) {
    if (is_adpcm(format)) return int32_t(std::min<uint32_t>(adpcm_block_size, INT32_MAX));
    return ((format & SVX_FORMAT_16BIT) ? 2 : 1) * ((format & SVX_FORMAT_STEREO) ? 2 : 1);
}

int32_t double_frame_bytes(uint32_t format) {
    const int32_t channels = (format & SVX_FORMAT_STEREO) ? 2 : 1;
    if (is_adpcm(format)) return channels;  // two 4-bit codes per byte
    return 2 * channels * ((format & SVX_FORMAT_16BIT) ? 2 : 1);
}

int64_t round_to_unit(int64_t value, int32_t unit) {
    if (unit <= 0) return value;
    return (value + unit / 2) / unit * unit;
}

double bytes_per_second(uint32_t format, int32_t rate, uint32_t adpcm_block_size, bool stereo) {
    if (is_adpcm(format)) {
        const int64_t header = stereo ? 8 : 4;
        const int64_t block = adpcm_block_size;
        const int64_t per_block = (block - header) * 8 / header + 1;
        if (per_block <= 0) return 0;
        return double(block) * rate / double(per_block);
    }
    return double(double_frame_bytes(format)) * rate / 2;
}

void set_address(Sample& sample, const void* start, uint32_t length) {
    sample.start[0].store(static_cast<const uint8_t*>(start), std::memory_order_relaxed);
    sample.length[0].store(clamp_length(length), std::memory_order_relaxed);
    sample.start[1].store(nullptr, std::memory_order_relaxed);
    sample.length[1].store(0, std::memory_order_relaxed);
}

void set_type(Sample& sample, uint32_t format, uint32_t flags) {
    if (sample.format.load(std::memory_order_relaxed) == format &&
        sample.flags.load(std::memory_order_relaxed) == flags)
        return;
    sample.format.store(format, std::memory_order_relaxed);
    sample.flags.store(flags, std::memory_order_relaxed);
    if (is_adpcm(format)) reset_adpcm(sample);
    rescale(sample);
}

void start(Sample& sample, bool rewind) {
    const int32_t cur = sample.current.load(std::memory_order_relaxed) & 1;
    if (rewind) sample.position[cur].store(0, std::memory_order_relaxed);
    sample.buffer_mode.store(1, std::memory_order_relaxed);
    // A VOC continuation restarts the sample on the driver it belongs to.
    if (ds::is_ds_driver(sample.driver)) {
        ds::start(sample, false);
        return;
    }
    if (released(sample)) {
        sample.status.store(SVX_SUSPENDED);
        return;
    }
    sample.status.store(SVX_PLAYING);
    if (sample.driver) start_output(*sample.driver);
}

// ---- the mixing step ----

void mix_sample(Sample& sample, const DigitalDriver& driver, mixer::BuildBuffer build) {
    if (sample.status.load() != SVX_PLAYING) return;
    const mixer::OutputFormat output = driver.output();
    const int32_t tolerance = preference(SVX_PREF_RESAMPLE_TOLERANCE);
    int starts = 0, ends_of_buffer = 0, ends_of_sample = 0;
    bool wrapped = false, progressed_since_wrap = false;

    uint32_t out = 0;
    while (out < build.bytes) {
        const int32_t cur = sample.current.load(std::memory_order_relaxed) & 1;
        const int64_t position = sample.position[cur].load(std::memory_order_relaxed);
        const int64_t remaining = bytes_to_play(sample, cur, position);

        if (remaining > 0) {
            if (sample.start_of_block.load(std::memory_order_relaxed)) ++starts;
            const uint32_t stamp = sample.scale_stamp.load(std::memory_order_acquire);
            const uint32_t format = sample.format.load(std::memory_order_relaxed);
            const uint32_t flags = sample.flags.load(std::memory_order_relaxed);
            const int32_t volume = sample.volume.load(std::memory_order_relaxed);
            const int32_t pan = sample.pan.load(std::memory_order_relaxed);
            const int32_t master = driver.master_volume.load(std::memory_order_relaxed);
            if (stamp != sample.built_stamp) {
                mixer::build_scale(sample.scale, volume, pan, master, format, flags,
                                   output.channels == 2);
                sample.built_stamp = stamp;
            }
            const uint32_t adpcm_stamp = sample.adpcm_reset_stamp.load(std::memory_order_acquire);
            if (adpcm_stamp != sample.adpcm_reset_seen) {
                adpcm::reset(sample.adpcm);
                sample.adpcm_reset_seen = adpcm_stamp;
            }
            mixer::SampleRun run;
            run.start = sample.start[cur].load(std::memory_order_relaxed);
            run.position = int32_t(position);
            run.bytes_left = int32_t(std::min<int64_t>(remaining, INT32_MAX));
            run.format = format;
            run.flags = flags;
            run.playback_rate = sample.rate.load(std::memory_order_relaxed);
            run.volume = volume;
            run.pan = pan;
            run.master_volume = master;
            run.scale = &sample.scale;
            run.adpcm = &sample.adpcm;
            run.adpcm_block_size = sample.adpcm_block_size.load(std::memory_order_relaxed);
            const uint32_t next_out = mixer::merge_run(run, output, tolerance, build, out);
            // Data that cannot be played (no address) is passed over, so the
            // step always moves on.
            if (next_out == out && run.position == position)
                run.position = clamp_position(position + remaining);
            sample.position[cur].store(run.position, std::memory_order_relaxed);
            // Only sound counts as progress: a run that merely passes over
            // less than a frame would otherwise wrap the loop for ever.
            if (next_out != out) progressed_since_wrap = true;
            out = next_out;
            continue;
        }

        if (sample.end_of_buffer.load(std::memory_order_relaxed)) ++ends_of_buffer;
        const BufferEnd end = at_buffer_end(sample, wrapped, progressed_since_wrap);
        if (end == BufferEnd::Again) continue;
        if (end == BufferEnd::Starved) break;
        // A VOC file goes on with its next sound block without a gap.
        if (sample.end_of_sample.load(std::memory_order_relaxed) == &voc_continuation &&
            continue_voc(sample)) {
            sample.current.store(0, std::memory_order_relaxed);
            sample.position[0].store(0, std::memory_order_relaxed);
            continue;
        }
        sample.starved.store(1, std::memory_order_relaxed);
        sample.status.store(SVX_DONE);
        ++ends_of_sample;
        break;
    }

    call(sample.start_of_block, sample, starts);
    call(sample.end_of_buffer, sample, ends_of_buffer);
    call(sample.end_of_sample, sample, ends_of_sample);
}

// ---- continuations of file samples ----

void SVXCALLBACK wav_continuation(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    call(sample->end_of_file, *sample, 1);
    sample->file_state.store(-1, std::memory_order_relaxed);
    sample->status.store(SVX_FREE);
}

void SVXCALLBACK voc_continuation(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample || sample->file_state.load(std::memory_order_relaxed) < 0) return;
    if (continue_voc(*sample)) {
        start(*sample, true);
        return;
    }
    call(sample->end_of_file, *sample, 1);
    const bool automatic = sample->file_state.load(std::memory_order_relaxed) == 1;
    sample->file_state.store(-1, std::memory_order_relaxed);
    if (automatic) sample->status.store(SVX_FREE);
}

int64_t bytes_to_play(const Sample& sample, int32_t cur, int64_t position) {
    const int64_t length = sample.length[cur].load(std::memory_order_relaxed);
    const int32_t loops = sample.loop_count.load(std::memory_order_relaxed);
    const int64_t loop_end = sample.loop_end.load(std::memory_order_relaxed);
    if (loops != 1 && loop_end >= 0 && loop_end < length) return loop_end - position;
    return length - position;
}

BufferEnd at_buffer_end(Sample& sample, bool& wrapped, bool& progressed) {
    const int32_t cur = sample.current.load(std::memory_order_relaxed) & 1;
    const int32_t loops = sample.loop_count.load(std::memory_order_relaxed);
    if (loops != 1) {
        // A loop whose range holds nothing is left for this buffer rather
        // than wrapped for ever.
        if (wrapped && !progressed) return BufferEnd::Starved;
        wrapped = true;
        progressed = false;
        sample.position[cur].store(sample.loop_start.load(std::memory_order_relaxed),
                                   std::memory_order_relaxed);
        if (is_adpcm(sample.format.load(std::memory_order_relaxed))) reset_adpcm(sample);
        if (loops != 0) sample.loop_count.store(loops - 1, std::memory_order_relaxed);
        return BufferEnd::Again;
    }
    if (sample.buffer_mode.load(std::memory_order_relaxed) == 2) {
        const int32_t other = cur ^ 1;
        if (!sample.buffer_done[other].load(std::memory_order_relaxed)) {
            if (sample.length[other].load(std::memory_order_relaxed) != 0 &&
                sample.position[other].load(std::memory_order_relaxed) == 0) {
                sample.current.store(other, std::memory_order_relaxed);
                reset_adpcm(sample);
                return BufferEnd::Again;
            }
            // Not fed in time: silence until the next load.
            sample.starved.store(1, std::memory_order_relaxed);
            return BufferEnd::Starved;
        }
    }
    return BufferEnd::Finished;
}

void reset_sample_fields(Sample& s) {
    s.status.store(SVX_FREE);
    for (int i = 0; i < 2; ++i) {
        s.start[i].store(nullptr, std::memory_order_relaxed);
        s.length[i].store(0, std::memory_order_relaxed);
        s.position[i].store(0, std::memory_order_relaxed);
    }
    s.buffer_done[0].store(0, std::memory_order_relaxed);
    s.buffer_done[1].store(1, std::memory_order_relaxed);
    s.current.store(0, std::memory_order_relaxed);
    s.last_reported.store(-2, std::memory_order_relaxed);
    s.starved.store(1, std::memory_order_relaxed);
    s.loop_count.store(1, std::memory_order_relaxed);
    s.loop_start.store(0, std::memory_order_relaxed);
    s.loop_end.store(-1, std::memory_order_relaxed);
    s.format.store(0, std::memory_order_relaxed);
    s.flags.store(0, std::memory_order_relaxed);
    s.rate.store(11025, std::memory_order_relaxed);
    s.volume.store(preference(SVX_PREF_DEFAULT_SAMPLE_VOLUME), std::memory_order_relaxed);
    s.buffer_mode.store(1, std::memory_order_relaxed);
    s.adpcm_block_size.store(256, std::memory_order_relaxed);
    reset_adpcm(s);
    s.start_of_block.store(nullptr, std::memory_order_relaxed);
    s.end_of_buffer.store(nullptr, std::memory_order_relaxed);
    s.end_of_sample.store(nullptr, std::memory_order_relaxed);
}

}  // namespace svx::digital

// ---- exports common to both output interfaces ----

namespace svx::op {
using namespace svx::digital;

HSAMPLE SVX_allocate_sample_handle(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return nullptr;
    LibraryLock lock;
    for (int32_t i = 0; i < driver->sample_count; ++i) {
        Sample& sample = driver->samples[i];
        int32_t free = SVX_FREE;
        if (!sample.status.compare_exchange_strong(free, SVX_DONE)) continue;
        ::SVX_init_sample(handle_of(&sample));
        return handle_of(&sample);
    }
    ::SVX_set_error("Out of sample handles.");
    return nullptr;
}

void SVX_set_sample_address(HSAMPLE handle, const void* start, uint32_t length) {
    if (Sample* sample = sample_of(handle)) set_address(*sample, start, length);
}

void SVX_set_sample_adpcm_block_size(HSAMPLE handle, uint32_t bytes) {
    if (Sample* sample = sample_of(handle))
        sample->adpcm_block_size.store(bytes, std::memory_order_relaxed);
}

void SVX_set_sample_loop_count(HSAMPLE handle, int32_t count) {
    if (Sample* sample = sample_of(handle))
        sample->loop_count.store(count, std::memory_order_relaxed);
}

void SVX_set_sample_loop_block(HSAMPLE handle, int32_t loop_start, int32_t loop_end) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    const int32_t unit = granularity(sample->format.load(std::memory_order_relaxed),
                                     sample->adpcm_block_size.load(std::memory_order_relaxed));
    sample->loop_start.store(clamp_position(round_to_unit(loop_start, unit)),
                             std::memory_order_relaxed);
    sample->loop_end.store(loop_end, std::memory_order_relaxed);
}

int32_t SVX_sample_status(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    return sample ? sample->status.load() : 0;
}

int32_t SVX_sample_playback_rate(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    return sample ? sample->rate.load(std::memory_order_relaxed) : 0;
}

int32_t SVX_sample_volume(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    return sample ? sample->volume.load(std::memory_order_relaxed) : 0;
}

int32_t SVX_sample_pan(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    return sample ? sample->pan.load(std::memory_order_relaxed) : 0;
}

int32_t SVX_sample_loop_count(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    return sample ? sample->loop_count.load(std::memory_order_relaxed) : -1;
}

int32_t SVX_sample_granularity(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return 0;
    return granularity(sample->format.load(std::memory_order_relaxed),
                       sample->adpcm_block_size.load(std::memory_order_relaxed));
}

void SVX_set_sample_position(HSAMPLE handle, uint32_t position) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    const uint32_t format = sample->format.load(std::memory_order_relaxed);
    const int32_t unit = granularity(format, sample->adpcm_block_size.load(std::memory_order_relaxed));
    const int32_t cur = sample->current.load(std::memory_order_relaxed) & 1;
    sample->position[cur].store(clamp_position(round_to_unit(position, unit)),
                                std::memory_order_relaxed);
    if (is_adpcm(format)) reset_adpcm(*sample);
}

void SVX_sample_ms_position(HSAMPLE handle, int32_t* total_ms, int32_t* current_ms) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    const uint32_t format = sample->format.load(std::memory_order_relaxed);
    const double per_second = bytes_per_second(
        format, sample->rate.load(std::memory_order_relaxed),
        sample->adpcm_block_size.load(std::memory_order_relaxed), (format & SVX_FORMAT_STEREO) != 0);
    const int32_t cur = sample->current.load(std::memory_order_relaxed) & 1;
    auto ms = [&](int32_t bytes) {
        if (per_second <= 0) return 0;
        return int32_t(std::clamp(double(bytes) * 1000.0 / per_second, double(INT32_MIN),
                                  double(INT32_MAX)));
    };
    if (total_ms) *total_ms = ms(sample->length[cur].load(std::memory_order_relaxed));
    if (current_ms) *current_ms = ms(sample->position[cur].load(std::memory_order_relaxed));
}

void SVX_set_sample_ms_position(HSAMPLE handle, int32_t milliseconds) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    const uint32_t format = sample->format.load(std::memory_order_relaxed);
    const double per_second = bytes_per_second(
        format, sample->rate.load(std::memory_order_relaxed),
        sample->adpcm_block_size.load(std::memory_order_relaxed), (format & SVX_FORMAT_STEREO) != 0);
    const double bytes = std::clamp(double(milliseconds) * per_second / 1000.0, 0.0, double(UINT32_MAX));
    ::SVX_set_sample_position(handle, uint32_t(bytes));
}

SVXSAMPLECB SVX_register_SOB_callback(HSAMPLE handle, SVXSAMPLECB callback) {
    return exchange_callback(sample_of(handle), &Sample::start_of_block, callback);
}

SVXSAMPLECB SVX_register_EOB_callback(HSAMPLE handle, SVXSAMPLECB callback) {
    return exchange_callback(sample_of(handle), &Sample::end_of_buffer, callback);
}

SVXSAMPLECB SVX_register_EOS_callback(HSAMPLE handle, SVXSAMPLECB callback) {
    return exchange_callback(sample_of(handle), &Sample::end_of_sample, callback);
}

SVXSAMPLECB SVX_register_EOF_callback(HSAMPLE handle, SVXSAMPLECB callback) {
    return exchange_callback(sample_of(handle), &Sample::end_of_file, callback);
}

// Indices past the eight slots are refused rather than written past them.
void SVX_set_sample_user_data(HSAMPLE handle, uint32_t index, uintptr_t value) {
    Sample* sample = sample_of(handle);
    if (sample && index < kUserDataSlots)
        sample->user_data[index].store(value, std::memory_order_relaxed);
}

uintptr_t SVX_sample_user_data(HSAMPLE handle, uint32_t index) {
    Sample* sample = sample_of(handle);
    if (!sample || index >= kUserDataSlots) return 0;
    return sample->user_data[index].load(std::memory_order_relaxed);
}

int32_t SVX_active_sample_count(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < driver->sample_count; ++i) {
        const int32_t status = driver->samples[i].status.load();
        if (status == SVX_PLAYING || status == SVX_SUSPENDED) ++count;
    }
    return count;
}

int32_t SVX_sample_buffer_ready(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return 0;
    const int32_t reported = sample->last_reported.load(std::memory_order_relaxed);
    const int32_t cur = sample->current.load(std::memory_order_relaxed) & 1;
    if (reported == -2) {
        sample->buffer_done[1].store(0, std::memory_order_relaxed);
        sample->last_reported.store(-1, std::memory_order_relaxed);
        return 0;
    }
    if (reported == -1) {
        sample->last_reported.store(cur, std::memory_order_relaxed);
        return 1;
    }
    if (reported == cur) return -1;
    sample->last_reported.store(cur, std::memory_order_relaxed);
    return cur ^ 1;
}

int32_t SVX_sample_buffer_info(HSAMPLE handle, uint32_t* position0, uint32_t* length0,
                               uint32_t* position1, uint32_t* length1) {
    Sample* sample = sample_of(handle);
    if (!sample) return 0;
    if (position0) *position0 = uint32_t(sample->position[0].load(std::memory_order_relaxed));
    if (length0) *length0 = uint32_t(sample->length[0].load(std::memory_order_relaxed));
    if (position1) *position1 = uint32_t(sample->position[1].load(std::memory_order_relaxed));
    if (length1) *length1 = uint32_t(sample->length[1].load(std::memory_order_relaxed));
    return sample->starved.load(std::memory_order_relaxed);
}

}  // namespace svx::op

// ---- the waveOut forms ----

namespace svx::op::waveout {
using namespace svx::digital;

void SVX_release_sample_handle(HSAMPLE handle) {
    if (Sample* sample = sample_of(handle)) sample->status.store(SVX_FREE);
}

void SVX_init_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    Sample& s = *sample;
    reset_sample_fields(s);
    s.pan.store(s.driver && s.driver->channels == 2 ? 64 : 0, std::memory_order_relaxed);
    rescale(s);
    s.status.store(SVX_DONE);
}

void SVX_set_sample_type(HSAMPLE handle, int32_t format, uint32_t flags) {
    if (Sample* sample = sample_of(handle)) set_type(*sample, uint32_t(format), flags);
}

void SVX_start_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample || sample->status.load() == SVX_FREE) return;
    const int32_t cur = sample->current.load(std::memory_order_relaxed) & 1;
    if (sample->length[cur].load(std::memory_order_relaxed) == 0 ||
        !sample->start[cur].load(std::memory_order_relaxed))
        return;
    start(*sample, true);
}

void SVX_stop_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    int32_t playing = SVX_PLAYING;
    sample->status.compare_exchange_strong(playing, SVX_STOPPED);
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
        sample->status.store(SVX_PLAYING);
        if (sample->driver) start_output(*sample->driver);
    } else if (status == SVX_DONE) {
        const int32_t cur = sample->current.load(std::memory_order_relaxed) & 1;
        if (sample->length[cur].load(std::memory_order_relaxed) != 0 &&
            sample->start[cur].load(std::memory_order_relaxed))
            start(*sample, false);
    }
}

void SVX_end_sample(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    const int32_t status = sample->status.load();
    if (status == SVX_FREE || status == SVX_DONE) return;
    sample->status.store(SVX_DONE);
    sample->starved.store(1, std::memory_order_relaxed);
    call(sample->end_of_buffer, *sample, 1);
    call(sample->end_of_sample, *sample, 1);
}

void SVX_set_sample_playback_rate(HSAMPLE handle, int32_t rate) {
    if (Sample* sample = sample_of(handle)) sample->rate.store(rate, std::memory_order_relaxed);
}

void SVX_set_sample_volume(HSAMPLE handle, int32_t volume) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    sample->volume.store(volume, std::memory_order_relaxed);
    rescale(*sample);
}

void SVX_set_sample_pan(HSAMPLE handle, int32_t pan) {
    Sample* sample = sample_of(handle);
    if (!sample) return;
    sample->pan.store(pan, std::memory_order_relaxed);
    rescale(*sample);
}

uint32_t SVX_sample_position(HSAMPLE handle) {
    Sample* sample = sample_of(handle);
    if (!sample) return 0;
    const int32_t cur = sample->current.load(std::memory_order_relaxed) & 1;
    return uint32_t(sample->position[cur].load(std::memory_order_relaxed));
}

int32_t SVX_minimum_sample_buffer_size(HDIGDRIVER handle, int32_t rate, int32_t format) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver || driver->rate <= 0) return 0;
    const int64_t h = double_frame_bytes(uint32_t(format));
    const int64_t out_rate = driver->rate;
    int64_t e = int64_t(rate) *
                (h * driver->buffer_bytes / (int64_t(driver->bytes_per_sample) * driver->channels * 2)) /
                out_rate;
    e += e * preference(SVX_PREF_RESAMPLE_TOLERANCE) / 32768;
    if (rate != out_rate && rate != out_rate / 2 && rate != out_rate / 4) e += 4;
    const int64_t result = (e + 255) / 256 * 256 * 4;
    return int32_t(std::clamp<int64_t>(result, INT32_MIN, INT32_MAX));
}

void SVX_load_sample_buffer(HSAMPLE handle, int32_t buffer, const void* start,
                            uint32_t length) {
    Sample* sample = sample_of(handle);
    if (!sample || (buffer != 0 && buffer != 1)) return;
    sample->start[buffer].store(static_cast<const uint8_t*>(start), std::memory_order_relaxed);
    sample->length[buffer].store(clamp_length(length), std::memory_order_relaxed);
    sample->position[buffer].store(0, std::memory_order_relaxed);
    sample->buffer_done[buffer].store(length == 0 ? 1 : 0, std::memory_order_relaxed);
    sample->starved.store(0, std::memory_order_relaxed);
    if (length == 0) return;
    if (sample->status.load() == SVX_PLAYING) return;
    sample->buffer_mode.store(2, std::memory_order_relaxed);
    if (released(*sample)) {
        sample->status.store(SVX_SUSPENDED);
        return;
    }
    sample->status.store(SVX_PLAYING);
    if (sample->driver) start_output(*sample->driver);
}

}  // namespace svx::op::waveout
