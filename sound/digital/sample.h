// Sample handles: the sample record, its state machine and the mixing
// step that the waveOut driver runs for each playing sample.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "digital/adpcm.h"
#include "digital/mixer.h"
#include "sonvex.h"

namespace svx::digital {

struct DigitalDriver;

// Where a VOC file's blocks are being read; offsets from the image start.
struct VocCursor {
    const uint8_t* image = nullptr;
    size_t size = SIZE_MAX;  // bytes of the image; SIZE_MAX when unknown
    size_t next = 0;         // next block to examine
    size_t repeat = 0;       // block after the repeat start; 0: none
    int32_t repeat_count = 0;
    int32_t wanted_marker = -1;  // -1: every block
    bool selected = true;
    // A type 8 block sets format and rate for the type 1 block after it.
    bool extended = false;
    uint32_t extended_format = 0;
    int32_t extended_rate = 0;
    // Type 2 blocks continue in the format of the block before them.
    uint32_t last_format = 0;
    uint32_t last_flags = 0;
    int32_t last_rate = 0;
};

// The sample record ("HSAM"); the handle is its address. Fields the
// background mixing reads while the application may write them are atomic.
// The status is sequentially consistent: whatever is stored before a sample
// is made `playing` is seen by the mixing that finds it playing, and what
// the mixing stored before making it `done` is seen by whoever sees `done`.
struct Sample {
    char tag[4] = {};
    DigitalDriver* driver = nullptr;
    std::atomic<int32_t> status{SVX_FREE};
    std::atomic<const uint8_t*> start[2] = {};
    std::atomic<int32_t> length[2] = {};
    std::atomic<int32_t> position[2] = {};
    std::atomic<int32_t> buffer_done[2] = {};
    std::atomic<int32_t> current{0};
    std::atomic<int32_t> last_reported{-2};
    std::atomic<int32_t> starved{1};
    std::atomic<int32_t> loop_count{1};
    std::atomic<int32_t> loop_start{0};
    std::atomic<int32_t> loop_end{-1};
    std::atomic<uint32_t> format{0};
    std::atomic<uint32_t> flags{0};
    std::atomic<int32_t> rate{11025};
    std::atomic<int32_t> volume{127};
    std::atomic<int32_t> pan{64};
    // Scale tables: rebuilt by the mixing when `scale_stamp` has moved, so
    // that only the mixing thread ever writes them.
    std::atomic<uint32_t> scale_stamp{1};
    uint32_t built_stamp = 0;
    mixer::Scale scale = {};
    std::atomic<int32_t> buffer_mode{1};
    std::atomic<SVXSAMPLECB> start_of_block{nullptr};
    std::atomic<SVXSAMPLECB> end_of_buffer{nullptr};
    std::atomic<SVXSAMPLECB> end_of_sample{nullptr};
    std::atomic<uintptr_t> user_data[8] = {};
    std::atomic<SVXSAMPLECB> end_of_file{nullptr};
    VocCursor voc;
    std::atomic<int32_t> file_state{-1};  // -1 none/finished, 0 set from a file, 1 allocated
    std::atomic<uint32_t> adpcm_block_size{256};
    // ADPCM decoder state: written by the mixing only; others ask for a
    // reset by moving `adpcm_reset_stamp`.
    std::atomic<uint32_t> adpcm_reset_stamp{0};
    uint32_t adpcm_reset_seen = 0;
    adpcm::State adpcm;

    // DirectSound streaming; the slot and the segment state change only
    // under the DirectSound guard.
    std::atomic<int32_t> ds_slot{-1};        // secondary buffer slot, -1 none
    std::atomic<int32_t> ds_interval{10};    // ms between looks at the play cursor
    int32_t ds_countdown = 0;                // ms until the next look
    std::atomic<uint32_t> ds_segment_size{0};
    uint32_t ds_segment = 0;                 // segment the play cursor was last seen in
    uint32_t ds_last_cursor = 0;
    std::atomic<uint32_t> ds_remaining{UINT32_MAX};  // bytes still to be heard; max: unset
    std::atomic<int32_t> ds_control{0};      // direct buffer control mode
};

inline Sample* sample_of(HSAMPLE handle) { return reinterpret_cast<Sample*>(handle); }
inline HSAMPLE handle_of(Sample* sample) { return reinterpret_cast<HSAMPLE>(sample); }

// Bytes per unit of position: 1, 2 or 4 for PCM, the block size for ADPCM.
int32_t granularity(uint32_t format, uint32_t adpcm_block_size);

// Twice the bytes of one frame of a sample format (ADPCM: of its nibbles).
int32_t double_frame_bytes(uint32_t format);

// `value` rounded to the nearest multiple of `unit` (unit <= 0: unchanged).
int64_t round_to_unit(int64_t value, int32_t unit);

// Bytes of data per second of a sample's format and rate; 0 when unknown.
double bytes_per_second(uint32_t format, int32_t rate, uint32_t adpcm_block_size,
                        bool stereo);

// The mixing step of one sample for one output buffer: mixes it into
// `build` from its start until the buffer is full or its data ends, then
// calls the callbacks it counted.
void mix_sample(Sample& sample, const DigitalDriver& driver, mixer::BuildBuffer build);

// Asks the next mixing of the sample to rebuild its scale tables.
inline void rescale(Sample& sample) {
    sample.scale_stamp.fetch_add(1, std::memory_order_release);
}

// Bytes of the sample's current buffer `cur` left to play from `position`:
// to its end, or to the loop end while it loops.
int64_t bytes_to_play(const Sample& sample, int32_t cur, int64_t position);

// What playing does at the end of the current buffer, on either output:
// wraps a loop or switches to the other buffer of a double-buffered sample
// (Again). Starved: the other buffer is not there yet, or a loop holds
// nothing since it last wrapped (`wrapped`, `progressed` track that).
// Finished: neither applies, and the data is at its end here.
enum class BufferEnd { Again, Starved, Finished };
BufferEnd at_buffer_end(Sample& sample, bool& wrapped, bool& progressed);

// What initialising a sample resets on either output: status free, no data,
// no callbacks' markers, the default type, rate, volume and loop.
void reset_sample_fields(Sample& sample);

// Internal forms of the setters (no frame, no dispatch).
void set_address(Sample& sample, const void* start, uint32_t length);
void set_type(Sample& sample, uint32_t format, uint32_t flags);
// Starts a sample whose buffer is described (waveOut).
void start(Sample& sample, bool rewind);

// The library's end-of-sample continuations of file samples.
void SVXCALLBACK wav_continuation(HSAMPLE sample);
void SVXCALLBACK voc_continuation(HSAMPLE sample);

// ---- WAV and VOC images (wavfile.cpp, vocfile.cpp) ----

// Bytes of an image when the library knows them (a library memory block
// given by its start), else SIZE_MAX.
size_t image_size(const void* image);

bool is_voc(const uint8_t* image, size_t size);

// RIFF WAVE: fills `info`; false when "fmt " or "data" is missing before
// the limit, or the image is no WAVE. Never reads outside `size` bytes (nor
// outside the RIFF size when the image size is unknown).
bool parse_wav(const uint8_t* image, size_t size, SoundFileInfo& info);

// One piece of sound found in a VOC file.
struct VocData {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    int32_t rate = 0;
    uint32_t format = 0;
    uint32_t flags = 0;
};

// A cursor at the first block of a VOC image.
VocCursor voc_open(const uint8_t* image, size_t size, int32_t marker);

// Examines blocks from the cursor on: true with the next sound block (the
// cursor then stands after it), false at the terminator or where the file
// stops making sense (a block running past the image, an endless repeat of
// nothing).
bool voc_next_sound(VocCursor& cursor, VocData& out);

}  // namespace svx::digital
