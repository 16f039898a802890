// The waveOut digital driver: open with the latency probe, the ring of
// output buffers, the completion queue, the service, the fill, the writer,
// close, release and reacquire.
#include "digital/driver.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "core/ops.h"
#include "core/records.h"
#include "core/state.h"
#include "digital/dsound_driver.h"
#include "services/stream.h"
#include "win32/kernel.h"

namespace svx::digital {
namespace {

// ---- library-wide state of the waveOut drivers ----

std::atomic<DigitalDriver*> driver_list{nullptr};
// The service and the writer do nothing while this is non-zero (open,
// close, release and reacquire of a driver).
std::atomic<int32_t> service_off{0};
// Service and writer runs in progress; a driver is torn down only when none is.
std::atomic<int32_t> active_runs{0};
std::atomic<int32_t> writer_entries{0};
std::atomic<uint32_t> service_runs{0};
// The timers of the first opened driver, shared by all.
HSVXTIMER service_timer = -1;
UINT_PTR writer_timer = 0;

thread_local int inside_runs = 0;  // this thread is inside a service or writer run

constexpr DWORD kProbeTimeoutMs = 5000;  // a device that keeps 4 bytes longer is broken
constexpr int kProbeAttempts = 4;
constexpr int64_t kProbeLimitMs = 2000;

// ---- library memory blocks holding records ----

// `count` records in one zero-filled library block, constructed in place.


// ---- buffers of the ring ----

HeaderUser* user_of(WAVEHDR* header) { return reinterpret_cast<HeaderUser*>(header->dwUser); }
WAVEHDR* next_of(WAVEHDR* header) { return user_of(header)->next; }

// The device sets the done flag on its own thread.
DWORD header_flags(WAVEHDR* header) {
    return std::atomic_ref<DWORD>(header->dwFlags).load(std::memory_order_acquire);
}

bool idle(WAVEHDR* header) {
    return (header_flags(header) & WHDR_DONE) != 0 ||
           (user_of(header)->flags.load(std::memory_order_relaxed) & header_pending) != 0;
}

uint8_t silence_byte(const DigitalDriver& driver) { return driver.bytes_per_sample == 2 ? 0 : 0x80; }

void set_tag(char (&tag)[4], const char* text) { std::memcpy(tag, text, 4); }

// Keeps out the service and the writer for its lifetime, waiting for a run
// in progress on another thread to finish.
class ServiceOff {
public:
    ServiceOff() {
        service_off.fetch_add(1);
        if (inside_runs == 0)
            while (active_runs.load() != 0) SwitchToThread();
    }
    ~ServiceOff() { service_off.fetch_sub(1); }
    ServiceOff(const ServiceOff&) = delete;
    ServiceOff& operator=(const ServiceOff&) = delete;
};

// Counts a service or writer run; false when the drivers are being changed.
class ActiveRun {
public:
    ActiveRun() {
        active_runs.fetch_add(1);
        ++inside_runs;
        ok_ = service_off.load() == 0;
    }
    ~ActiveRun() {
        --inside_runs;
        active_runs.fetch_sub(1);
    }
    bool ok() const { return ok_; }
    ActiveRun(const ActiveRun&) = delete;
    ActiveRun& operator=(const ActiveRun&) = delete;

private:
    bool ok_;
};

// The right to mix into one driver's buffers, never waited for.
class MixingRight {
public:
    explicit MixingRight(DigitalDriver& driver) : driver_(driver) {
        held_ = !driver_.mixing.exchange(true, std::memory_order_acquire);
    }
    ~MixingRight() {
        if (held_) driver_.mixing.store(false, std::memory_order_release);
    }
    bool held() const { return held_; }
    MixingRight(const MixingRight&) = delete;
    MixingRight& operator=(const MixingRight&) = delete;

private:
    DigitalDriver& driver_;
    bool held_;
};

// Stops output now: no more buffers are queued until a sample starts.
void stop_output(DigitalDriver& driver) {
    driver.playing.store(0);
    if (driver.device) waveOutReset(driver.device);
}

// ---- the completion callback (a device thread) ----

void CALLBACK completion(HWAVEOUT, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    if (message != WOM_DONE) return;
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    HeaderUser* user = header ? user_of(header) : nullptr;
    if (!user || !user->driver) return;  // the latency probe's header has no user record

    LibraryLock lock;
    HANDLE foreground = library().foreground_thread;
    if (foreground && SuspendThread(foreground) == DWORD(-1)) return;
    DigitalDriver& driver = *user->driver;
    if (driver.playing.load()) {
        const int32_t head = driver.queue_head.load(std::memory_order_relaxed);
        driver.queue[head].store(header, std::memory_order_relaxed);
        driver.queue_head.store((head + 1) % driver.buffer_count, std::memory_order_release);
    }
    if (foreground) ResumeThread(foreground);
}

// ---- open, step by step ----

// Frees whatever part of a driver exists; closes the device unless told not to.
void destroy(DigitalDriver* driver, bool close_device) {
    if (!driver) return;
    if (driver->ring) {
        WAVEHDR* header = driver->ring;
        for (int32_t i = 0; i < driver->buffer_count && header; ++i) {
            HeaderUser* user = user_of(header);
            WAVEHDR* next = user ? user->next : nullptr;
            if (close_device && driver->device && (header_flags(header) & WHDR_PREPARED))
                waveOutUnprepareHeader(driver->device, header, sizeof(WAVEHDR));
            free_records(header->lpData);
            free_records(user);
            free_records(header);
            header = next;
        }
    }
    if (close_device && driver->device) waveOutClose(driver->device);
    free_records(driver->queue);
    free_records(driver->samples);
    free_records(driver->build);
    free_records(driver);
}

// Spins until the device gives the header back.
bool wait_done(WAVEHDR* header) {
    const uint32_t start = ::SVX_ms_count();
    while (!(header_flags(header) & WHDR_DONE)) {
        if (::SVX_ms_count() - start > kProbeTimeoutMs) return false;
        SwitchToThread();
    }
    return true;
}

// Measures how long the device takes to play 4 bytes; -1 when it fails.
int64_t probe_latency(DigitalDriver& driver, MMRESULT& error) {
    struct Probe {
        WAVEHDR header;
        uint8_t data[4];
    };
    auto* probe = static_cast<Probe*>(::SVX_mem_alloc_lock(int32_t(sizeof(Probe))));
    if (!probe) {
        error = MMSYSERR_NOMEM;
        return -2;
    }
    std::memset(probe->data, silence_byte(driver), sizeof probe->data);
    WAVEHDR& header = probe->header;
    header.lpData = reinterpret_cast<LPSTR>(probe->data);
    header.dwBufferLength = sizeof probe->data;

    int64_t latency = -1;
    error = waveOutPrepareHeader(driver.device, &header, sizeof header);
    if (error == MMSYSERR_NOERROR) {
        // The first write wakes the device up; it is not measured.
        error = waveOutWrite(driver.device, &header, sizeof header);
        if (error == MMSYSERR_NOERROR && wait_done(&header)) {
            waveOutReset(driver.device);
            SwitchToThread();
            for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
                const uint32_t start = ::SVX_ms_count();
                error = waveOutWrite(driver.device, &header, sizeof header);
                if (error != MMSYSERR_NOERROR || !wait_done(&header)) break;
                const int64_t elapsed = ::SVX_ms_count() - start;
                latency = latency < 0 ? elapsed : std::min(latency, elapsed);
                if (elapsed <= kProbeLimitMs) break;
            }
            // A device that never comes back within the limit gets the limit.
            if (latency > kProbeLimitMs) latency = kProbeLimitMs;
        }
        waveOutReset(driver.device);
        waveOutUnprepareHeader(driver.device, &header, sizeof header);
    }
    SwitchToThread();
    if (latency < 0 && error == MMSYSERR_NOERROR) error = MMSYSERR_ERROR;
    ::SVX_mem_free_lock(probe);
    return latency;
}

// Makes the ring of output buffers; false (with the message) on failure.
bool make_ring(DigitalDriver& driver) {
    WAVEHDR* previous = nullptr;
    for (int32_t i = 0; i < driver.buffer_count; ++i) {
        auto* header = static_cast<WAVEHDR*>(::SVX_mem_alloc_lock(int32_t(sizeof(WAVEHDR))));
        if (!header) {
            ::SVX_set_error("Could not allocate WAVEHDR structures.");
            return false;
        }
        HeaderUser* user = new_records<HeaderUser>(1);
        if (!user) {
            ::SVX_mem_free_lock(header);
            ::SVX_set_error("Could not allocate HDR_USER structures.");
            return false;
        }
        user->driver = &driver;
        header->dwUser = reinterpret_cast<DWORD_PTR>(user);
        if (previous) user_of(previous)->next = header;
        else driver.ring = header;
        user->next = driver.ring;  // the last one closes the ring
        previous = header;
    }
    WAVEHDR* header = driver.ring;
    for (int32_t i = 0; i < driver.buffer_count; ++i, header = next_of(header)) {
        void* data = ::SVX_mem_alloc_lock(int32_t(driver.buffer_bytes));
        if (!data) {
            ::SVX_set_error("Could not allocate output buffer.");
            return false;
        }
        // Silence, so that a buffer played before its first fill is quiet.
        std::memset(data, silence_byte(driver), driver.buffer_bytes);
        header->lpData = static_cast<LPSTR>(data);
        header->dwBufferLength = driver.buffer_bytes;
        header->dwFlags = 0;
        if (waveOutPrepareHeader(driver.device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            ::SVX_set_error("Could not allocate output buffer.");
            return false;
        }
    }
    return true;
}

// The writer as a window-system timer procedure.
void CALLBACK writer_timer_proc(HWND, UINT, UINT_PTR, DWORD) { run_writer(); }

bool any_open() { return driver_list.load() != nullptr; }

// Makes the ring start from its first buffer and writes every idle buffer.
void write_ring(DigitalDriver& driver) {
    WAVEHDR* first_busy = nullptr;
    WAVEHDR* header = driver.ring;
    for (int32_t i = 0; i < driver.buffer_count; ++i, header = next_of(header)) {
        if (!idle(header)) {
            first_busy = header;
            break;
        }
    }
    WAVEHDR* from = first_busy;
    if (!from) {
        // Stopped or starved: mix the first four buffers afresh.
        MixingRight right(driver);
        if (!right.held()) return;  // the service is mixing; try again next time
        // Mixing is background work wherever it runs: a stop it asks for is
        // carried out by the next writer run, not in the middle of this one.
        BackgroundWork background;
        header = driver.ring;
        for (int i = 0; i < 4; ++i, header = next_of(header)) fill(driver, header);
        from = driver.ring;
    }
    // Past the buffers the device still has, write every idle one in order.
    header = from;
    int32_t steps = 0;
    while (!idle(header) && steps < driver.buffer_count) {
        header = next_of(header);
        ++steps;
    }
    if (steps == driver.buffer_count) return;  // the device has them all
    WAVEHDR* begin = header;
    do {
        if (!idle(header)) break;
        user_of(header)->flags.fetch_and(~header_pending, std::memory_order_relaxed);
        if (waveOutWrite(driver.device, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
            // A failing device keeps the buffer for a later attempt.
            user_of(header)->flags.fetch_or(header_pending, std::memory_order_relaxed);
            break;
        }
        header = next_of(header);
    } while (header != begin);
}

}  // namespace

// ---- sizes ----

BufferSize output_buffer_size(int64_t measured_ms, int32_t rate, int32_t channels,
                              int32_t bytes_per_sample, int32_t min_bytes) {
    BufferSize size;
    if (rate <= 0 || channels <= 0 || bytes_per_sample <= 0) return size;
    int64_t d = std::max<int64_t>(measured_ms, 0);
    do {
        d = d + d / 10 + 1;
        size.latency_ms = d;
        size.frames = (d * rate / 1000 + 3) / 4 * 4;
        size.samples = size.frames * channels;
        size.bytes = size.samples * bytes_per_sample;
    } while (size.bytes < min_bytes);
    return size;
}

int32_t output_buffer_count(int32_t total_bytes, int64_t buffer_bytes) {
    if (buffer_bytes <= 0) return 4;
    return int32_t(std::max<int64_t>(total_bytes / buffer_bytes, 4));
}

bool any_driver_open() { return any_open(); }

// ---- fill, service, writer ----

void fill(DigitalDriver& driver, WAVEHDR* header) {
    const mixer::BuildBuffer build{driver.build, driver.build_bytes};
    mixer::clear(build);
    int32_t count = 0;
    // Streams summed into the build buffer: a stereo sample on mono output
    // adds its two channels, so even alone it can leave the 16-bit range
    // and must be clamped, not wrapped.
    int32_t summed = 0;
    for (int32_t i = 0; i < driver.sample_count; ++i) {
        Sample& sample = driver.samples[i];
        if (sample.status.load() != SVX_PLAYING) continue;
        ++count;
        summed += (driver.channels == 1 && (sample.format.load() & mixer::format_stereo)) ? 2 : 1;
        mix_sample(sample, driver, build);
    }
    driver.mixed_count.store(count, std::memory_order_relaxed);
    mixer::convert(build, driver.output(), summed, header->lpData, header->dwBufferLength);

    if (count != 0) {
        driver.idle_fills.store(0, std::memory_order_relaxed);
        return;
    }
    const int32_t before = driver.idle_fills.fetch_add(1, std::memory_order_relaxed);
    if (before == 3 && driver.reset_when_silent) {
        if (background_count > 0) driver.reset_pending.store(1);
        else stop_output(driver);
    }
}

void SVXCALLBACK service(uintptr_t) {
    {
        ActiveRun run;
        if (!run.ok()) return;
        BackgroundWork background;
        for (DigitalDriver* driver = driver_list.load(); driver; driver = driver->next) {
            if (!driver->playing.load()) continue;
            MixingRight right(*driver);
            if (!right.held()) continue;  // the writer is mixing; the queue waits
            int32_t tail = driver->queue_tail.load(std::memory_order_relaxed);
            while (tail != driver->queue_head.load(std::memory_order_acquire)) {
                WAVEHDR* done = driver->queue[tail].load(std::memory_order_relaxed);
                tail = (tail + 1) % driver->buffer_count;
                driver->queue_tail.store(tail, std::memory_order_relaxed);
                // Mix the buffer four places on: it plays after the three
                // before it, which are mixed already.
                WAVEHDR* target = done;
                for (int i = 0; i < 4; ++i) target = next_of(target);
                fill(*driver, target);
            }
        }
    }
    if (writer_entries.load() == 0 && service_runs.fetch_add(1) % 8 == 0) run_writer();
}

void run_writer() {
    if (writer_entries.fetch_add(1) == 0) {
        ActiveRun run;
        if (run.ok()) {
            LibraryLock lock;
            for (DigitalDriver* driver = driver_list.load(); driver; driver = driver->next) {
                if (driver->reset_pending.exchange(0)) stop_output(*driver);
                if (!driver->playing.load() || driver->released.load()) continue;
                write_ring(*driver);
            }
        }
    }
    writer_entries.fetch_sub(1);
}

void start_output(DigitalDriver& driver) {
    driver.reset_pending.store(0);
    if (driver.playing.load()) return;
    // Completions from before the stop would mix buffers out of turn.
    driver.queue_tail.store(driver.queue_head.load(std::memory_order_acquire),
                            std::memory_order_relaxed);
    WAVEHDR* header = driver.ring;
    for (int32_t i = 0; i < driver.buffer_count; ++i, header = next_of(header))
        user_of(header)->flags.fetch_or(header_pending, std::memory_order_relaxed);
    driver.playing.store(1);
    if (background_count == 0) ::SVX_serve();
}

void close_all_drivers() {
    while (DigitalDriver* driver = driver_list.load()) {
        HDIGDRIVER handle = reinterpret_cast<HDIGDRIVER>(driver);
        // Through the export while it leads here, so the call is traced;
        // the export would take a waveOut driver to DirectSound otherwise.
        if (preference(SVX_PREF_USE_WAVEOUT) != 0) ::SVX_waveOutClose(handle);
        else op::waveout::SVX_waveOutClose(handle);
    }
    ds::close_all_drivers();
}

}  // namespace svx::digital

// ---- the exports ----

namespace svx::op {
using namespace svx::digital;

void SVX_serve() {
    if (preference(SVX_PREF_USE_WAVEOUT) == 1) run_writer();
}

}  // namespace svx::op

namespace svx::op::waveout {
using namespace svx::digital;

int32_t SVX_waveOutOpen(HDIGDRIVER* out, void** waveout_handle, int32_t device,
                        const void* format_data) {
    if (out) *out = nullptr;
    SVXPCMFORMAT format{};
    if (format_data) std::memcpy(&format, format_data, sizeof format);
    if (!format_data || format.format_tag != WAVE_FORMAT_PCM) {
        ::SVX_set_error("Non-PCM wave data type not supported.");
        return 1;
    }
    if ((format.channels != 1 && format.channels != 2) ||
        (format.bits_per_sample != 8 && format.bits_per_sample != 16)) {
        ::SVX_set_error("Unsupported PCM data format.");
        return 1;
    }

    ServiceOff off;
    DigitalDriver* driver = new_records<DigitalDriver>(1);
    if (!driver) {
        ::SVX_set_error("Could not allocate memory for driver descriptor.");
        return 7;
    }
    set_tag(driver->tag, "HDIG");
    driver->format = format;
    driver->device_id = device;
    // A failed open leaves the caller no handle to a freed record.
    auto fail = [&](const char* message, int32_t result, bool close_device) {
        if (message) ::SVX_set_error(message);
        destroy(driver, close_device);
        return result;
    };

    const WAVEFORMATEX wave{format.format_tag, format.channels, format.rate,
                            format.average_bytes_per_second, format.block_align,
                            format.bits_per_sample, 0};
    MMRESULT result = waveOutOpen(&driver->device, UINT(device), &wave,
                                  reinterpret_cast<DWORD_PTR>(&completion),
                                  reinterpret_cast<DWORD_PTR>(driver), CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
        driver->device = nullptr;
        return fail("waveOutOpen() failed.", int32_t(result), false);
    }

    driver->reset_when_silent = 1;
    char reset[128];
    GetProfileStringA("SONVEX", "Reset", "None", reset, sizeof reset);
    if (reset[0] == '1') driver->reset_when_silent = 1;
    else if (reset[0] == '0') driver->reset_when_silent = 0;

    driver->rate = int32_t(format.rate);
    driver->channels = format.channels;
    driver->bytes_per_sample = format.bits_per_sample / 8;
    driver->signed_output = format.bits_per_sample == 16 ? 1 : 0;
    driver->output_format = (format.bits_per_sample == 16 ? 1 : 0) | (format.channels == 2 ? 2 : 0);

    MMRESULT probe_error = MMSYSERR_NOERROR;
    const int64_t latency = probe_latency(*driver, probe_error);
    if (latency == -2) return fail("Could not allocate memory for test WAVEHDR.", 7, true);
    if (latency < 0) return fail("waveOutOpen() failed.", int32_t(probe_error), true);

    const BufferSize size =
        output_buffer_size(latency, driver->rate, driver->channels, driver->bytes_per_sample,
                           preference(SVX_PREF_WAVEOUT_MIN_BUFFER));
    if (size.bytes <= 0 || size.samples > INT32_MAX / 4)
        return fail("Could not allocate build buffer.", 7, true);
    driver->frames_per_buffer = int32_t(size.frames);
    driver->samples_per_buffer = int32_t(size.samples);
    driver->buffer_bytes = uint32_t(size.bytes);
    driver->build_bytes = uint32_t(size.samples * 4);
    driver->build = static_cast<int32_t*>(::SVX_mem_alloc_lock(int32_t(driver->build_bytes)));
    if (!driver->build) return fail("Could not allocate build buffer.", 7, true);

    driver->sample_count = std::max(preference(SVX_PREF_SAMPLE_HANDLES), 0);
    driver->mixed_count = 0;
    driver->master_volume = 127;
    if (driver->sample_count > 0) {
        driver->samples = new_records<Sample>(driver->sample_count);
        if (!driver->samples) return fail("Could not allocate SAMPLE structures.", 7, true);
        for (int32_t i = 0; i < driver->sample_count; ++i) {
            set_tag(driver->samples[i].tag, "HSAM");
            driver->samples[i].driver = driver;
        }
    }

    driver->buffer_count = output_buffer_count(preference(SVX_PREF_WAVEOUT_TOTAL_BUFFER), size.bytes);
    driver->queue = new_records<std::atomic<WAVEHDR*>>(driver->buffer_count);
    if (!driver->queue) return fail(nullptr, 7, true);
    if (!make_ring(*driver)) return fail(nullptr, 7, true);

    if (!any_open()) {
        service_timer = ::SVX_register_timer(&service);
        if (service_timer < 0) return fail("Out of timer handles.", 1, true);
        writer_timer = SetTimer(nullptr, 0, 50, &writer_timer_proc);
        if (writer_timer == 0) {
            ::SVX_release_timer_handle(service_timer);
            service_timer = -1;
            return fail(nullptr, 1, true);
        }
    }
    driver->timer = service_timer;
    driver->timer_id = writer_timer;
    ::SVX_set_timer_frequency(service_timer, 200);
    ::SVX_set_timer_user(service_timer, reinterpret_cast<uintptr_t>(driver));
    ::SVX_start_timer(service_timer);
    {
        LibraryLock lock;
        driver->next = driver_list.load();
        driver_list.store(driver);
    }
    if (waveout_handle) *waveout_handle = &driver->device;
    if (out) *out = reinterpret_cast<HDIGDRIVER>(driver);
    return 0;
}

void SVX_waveOutClose(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver || !any_open()) return;
    // Streams playing on it lose their sample handles first.
    services::detach_streams_of(handle);
    {
        ServiceOff off;
        const bool released = driver->released.load() != 0;
        if (!released) stop_output(*driver);
        {
            LibraryLock lock;
            DigitalDriver* previous = nullptr;
            DigitalDriver* walk = driver_list.load();
            while (walk && walk != driver) {
                previous = walk;
                walk = walk->next;
            }
            if (!walk) return;
            if (previous) previous->next = driver->next;
            else driver_list.store(driver->next);
        }
        if (!any_open()) {
            ::SVX_release_timer_handle(service_timer);
            service_timer = -1;
            KillTimer(nullptr, writer_timer);
            writer_timer = 0;
        }
        if (!released) waveOutReset(driver->device);
        SwitchToThread();
        destroy(driver, !released);
    }
    Sleep(1);
}

int32_t SVX_digital_handle_release(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver || !any_open()) return 0;
    if (driver->released.load()) return 1;
    {
        ServiceOff off;
        stop_output(*driver);
        SwitchToThread();
        for (int32_t i = 0; i < driver->sample_count; ++i) {
            int32_t playing = SVX_PLAYING;
            driver->samples[i].status.compare_exchange_strong(playing, SVX_SUSPENDED);
        }
        WAVEHDR* header = driver->ring;
        for (int32_t i = 0; i < driver->buffer_count; ++i, header = next_of(header))
            waveOutUnprepareHeader(driver->device, header, sizeof(WAVEHDR));
        waveOutClose(driver->device);
        driver->device = nullptr;
        driver->released.store(1);
        driver->playing.store(0);
    }
    Sleep(1);
    return 1;
}

int32_t SVX_digital_handle_reacquire(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver || !any_open()) return 0;
    if (!driver->released.load()) return 1;
    ServiceOff off;
    const SVXPCMFORMAT& format = driver->format;
    const WAVEFORMATEX wave{format.format_tag, format.channels, format.rate,
                            format.average_bytes_per_second, format.block_align,
                            format.bits_per_sample, 0};
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, UINT(driver->device_id), &wave,
                    reinterpret_cast<DWORD_PTR>(&completion), reinterpret_cast<DWORD_PTR>(driver),
                    CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        ::SVX_set_error("waveOutOpen() failed.");
        return 0;
    }
    driver->device = device;
    bool resumed = false;
    for (int32_t i = 0; i < driver->sample_count; ++i) {
        int32_t suspended = SVX_SUSPENDED;
        if (driver->samples[i].status.compare_exchange_strong(suspended, SVX_PLAYING))
            resumed = true;
    }
    WAVEHDR* header = driver->ring;
    for (int32_t i = 0; i < driver->buffer_count; ++i, header = next_of(header)) {
        header->dwFlags = 0;
        user_of(header)->flags.store(0, std::memory_order_relaxed);
        waveOutPrepareHeader(device, header, sizeof(WAVEHDR));
    }
    driver->released.store(0);
    if (resumed) start_output(*driver);
    return 1;
}

void SVX_digital_configuration(HDIGDRIVER handle, int32_t* rate, int32_t* format, char* text) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return;
    if (rate) *rate = driver->rate;
    if (format) *format = driver->output_format;
    if (!text) return;
    WAVEOUTCAPSA caps{};
    const UINT_PTR id = driver->device ? reinterpret_cast<UINT_PTR>(driver->device)
                                       : UINT_PTR(UINT(driver->device_id));
    {
        // The service's writer stays out while this thread is in the device.
        ServiceOff off;
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR) caps.szPname[0] = '\0';
    }
    caps.szPname[MAXPNAMELEN - 1] = '\0';
    // Appended to what the caller's 128 bytes hold, never past them.
    constexpr size_t kRoom = 128;
    size_t used = strnlen(text, kRoom - 1);
    for (const char* part : {"WaveOut - ", static_cast<const char*>(caps.szPname)}) {
        for (const char* p = part; *p && used < kRoom - 1; ++p) text[used++] = *p;
    }
    text[used] = '\0';
}

void SVX_set_digital_master_volume(HDIGDRIVER handle, int32_t volume) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return;
    driver->master_volume.store(volume, std::memory_order_relaxed);
    for (int32_t i = 0; i < driver->sample_count; ++i)
        if (driver->samples[i].status.load() != SVX_FREE) rescale(driver->samples[i]);
}

int32_t SVX_set_direct_buffer_control(HSAMPLE, int32_t) { return 0; }

uintptr_t SVX_get_DirectSound_info(HSAMPLE sample, void**, void**) {
    return sample ? uintptr_t(uint32_t(preference(SVX_PREF_USE_WAVEOUT))) : 0;
}

int32_t SVX_set_DirectSound_HWND(HDIGDRIVER, void*) { return 0; }

}  // namespace svx::op::waveout

namespace svx::op {
using namespace svx::digital;

int32_t SVX_digital_master_volume(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    return driver ? driver->master_volume.load(std::memory_order_relaxed) : 0;
}

}  // namespace svx::op
