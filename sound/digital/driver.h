// The digital output driver on waveOut: the driver record, its ring of
// device buffers, the service that mixes them and the writer that queues
// them. The fill, the service and the writer are plain functions that a
// test can call without the background thread. The record also carries
// the DirectSound driver's fields (dsound_driver.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "digital/mixer.h"
#include "digital/sample.h"
#include "sonvex.h"
#include "win32/dsound.h"
#include "win32/winmm.h"

namespace svx::digital {

// Flags of a buffer's user record.
inline constexpr uint32_t header_pending = 1;  // not handed to the device since output started

// The user record of one device buffer (its WAVEHDR's user word).
struct HeaderUser {
    struct DigitalDriver* driver = nullptr;
    WAVEHDR* next = nullptr;  // next buffer of the ring
    std::atomic<uint32_t> flags{0};
};

// The driver record ("HDIG"); the handle is its address.
struct DigitalDriver {
    char tag[4] = {};
    HSVXTIMER timer = -1;  // service timer
    std::atomic<int32_t> idle_fills{0};
    std::atomic<int32_t> mixed_count{0};
    std::atomic<int32_t> master_volume{127};
    int32_t rate = 0;
    int32_t output_format = 0;  // SVX_OUTPUT_*
    int32_t signed_output = 0;
    int32_t channels = 1;
    int32_t bytes_per_sample = 1;
    int32_t samples_per_buffer = 0;
    int32_t frames_per_buffer = 0;
    std::atomic<int32_t> playing{0};
    Sample* samples = nullptr;
    int32_t sample_count = 0;
    uint32_t build_bytes = 0;
    int32_t* build = nullptr;
    uint32_t buffer_bytes = 0;
    HWAVEOUT device = nullptr;
    int32_t reset_when_silent = 1;
    std::atomic<int32_t> reset_pending{0};
    WAVEHDR* ring = nullptr;
    int32_t buffer_count = 0;
    std::atomic<WAVEHDR*>* queue = nullptr;  // completion queue, buffer_count slots
    std::atomic<int32_t> queue_head{0};      // written by the completion callback
    std::atomic<int32_t> queue_tail{0};      // read by the service
    int32_t device_id = -1;
    SVXPCMFORMAT format = {};
    std::atomic<int32_t> released{0};
    UINT_PTR timer_id = 0;  // the writer's window-system timer
    DigitalDriver* next = nullptr;

    // Held by whoever mixes into this driver's buffers (the service, or the
    // writer starting output), so that two threads never mix at once.
    std::atomic<bool> mixing{false};

    // DirectSound: all zero in a waveOut driver. The slot arrays have
    // `ds_slots` entries; only the DirectSound guard's holder touches them.
    IDirectSound* ds_object = nullptr;
    int32_t emulated = 0;
    IDirectSoundBuffer* primary = nullptr;  // only when a format was set
    HWND window = nullptr;
    IDirectSoundBuffer** ds_buffers = nullptr;
    Sample** ds_owners = nullptr;
    uint32_t* ds_formats = nullptr;  // sample format each buffer was made for
    int32_t ds_slots = 0;
    bool ds_format_in_use = false;  // a format other than 8-bit mono 22,050 Hz

    mixer::OutputFormat output() const {
        return {rate, channels, bytes_per_sample, signed_output != 0};
    }
};

inline DigitalDriver* driver_of(HDIGDRIVER handle) {
    return reinterpret_cast<DigitalDriver*>(handle);
}

// One output buffer's size for a measured device latency: the latency grows
// by a tenth and 1 ms per round until a buffer of that length (whole groups
// of 4 frames) holds at least `min_bytes`.
struct BufferSize {
    int64_t latency_ms = 0;
    int64_t frames = 0;
    int64_t samples = 0;  // frames x channels
    int64_t bytes = 0;    // 0 when the format holds no data
};
BufferSize output_buffer_size(int64_t measured_ms, int32_t rate, int32_t channels,
                              int32_t bytes_per_sample, int32_t min_bytes);

// Number of output buffers: the total bytes over one buffer's, at least 4.
int32_t output_buffer_count(int32_t total_bytes, int64_t buffer_bytes);

// Mixes every playing sample of the driver into `header`'s data; counts
// silent buffers and stops output after the fourth when asked to.
void fill(DigitalDriver& driver, WAVEHDR* header);

// The service of all waveOut drivers (the 200 Hz timer callback).
void SVXCALLBACK service(uintptr_t user);

// The writer: queues every idle buffer of every playing driver.
void run_writer();

// Starts output of a driver when a sample starts.
void start_output(DigitalDriver& driver);

// Closes every open digital driver (shutdown).
void close_all_drivers();

// True when some digital driver is open.
bool any_driver_open();

}  // namespace svx::digital
