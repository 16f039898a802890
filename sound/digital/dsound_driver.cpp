// The DirectSound digital driver: the module loaded at run time, open with
// the object, cooperative level and primary buffer, the 100 Hz service,
// close, release, reacquire, the description and the window.
#include "digital/dsound_driver.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/ops.h"
#include "core/records.h"
#include "core/state.h"
#include "services/stream.h"
#include "win32/kernel.h"

namespace svx::digital::ds {

std::atomic<int32_t> service_off{0};

namespace {

// ---- library-wide state ----

std::atomic<bool> busy{false};
thread_local int guard_depth = 0;

std::atomic<DigitalDriver*> driver_list{nullptr};
// Moves whenever a driver goes, so that a walk interrupted by a callback
// knows the list it was walking may be gone.
std::atomic<uint32_t> generation{0};
HSVXTIMER service_timer = -1;

// The module, loaded by the first open and unloaded by the last close.
struct Module {
    HMODULE handle = nullptr;
    int32_t count = 0;
    LPDIRECTSOUNDCREATE create = nullptr;
    LPDIRECTSOUNDENUMERATEA enumerate = nullptr;
};
Module module;

// The window set with SVX_set_DirectSound_HWND, for drivers opened later too.
std::atomic<HWND> chosen_window{nullptr};

constexpr int32_t kServiceHz = 100;
constexpr uint32_t kDescriptionRoom = 128;

template <typename F>
F entry(HMODULE handle, const char* name) {
    using Any = void (*)();
    return reinterpret_cast<F>(reinterpret_cast<Any>(GetProcAddress(handle, name)));
}

bool load_module() {
    if (module.count > 0) {
        ++module.count;
        return true;
    }
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
    HMODULE handle = LoadLibraryA("DSOUND.DLL");
    SetErrorMode(mode);
    if (!handle) return false;
    Sleep(1);
    module.create = entry<LPDIRECTSOUNDCREATE>(handle, "DirectSoundCreate");
    module.enumerate = entry<LPDIRECTSOUNDENUMERATEA>(handle, "DirectSoundEnumerateA");
    if (!module.create || !module.enumerate) {
        FreeLibrary(handle);
        module = Module{};
        return false;
    }
    module.handle = handle;
    module.count = 1;
    return true;
}

void unload_module() {
    if (module.count <= 0 || --module.count > 0) return;
    FreeLibrary(module.handle);
    module = Module{};
}

// ---- device enumeration ----

// Entry `wanted` of the enumeration: 0 is the default device (no GUID),
// n the n-th device that has one.
struct Lookup {
    int32_t wanted = 0;
    int32_t seen = 0;
    bool found = false;
    GUID guid{};
    char description[kDescriptionRoom] = {};
};

BOOL CALLBACK enumerated(LPGUID guid, LPCSTR description, LPCSTR, LPVOID context) {
    auto& look = *static_cast<Lookup*>(context);
    const int32_t index = guid ? ++look.seen : 0;
    if (index != look.wanted) return TRUE;
    look.found = true;
    if (guid) std::memcpy(&look.guid, guid, sizeof look.guid);
    if (description) std::strncpy(look.description, description, sizeof look.description - 1);
    return FALSE;
}

Lookup look_up(int32_t device) {
    Lookup look;
    look.wanted = device;
    if (module.enumerate) module.enumerate(&enumerated, &look);
    return look;
}

// ---- windows ----

// The first top-level window of this process, else the active window. The
// window functions belong to the window system, which the library reaches
// only through its module, when the stand-in offers one.
HWND find_window() {
    if (HWND chosen = chosen_window.load()) return chosen;
    HMODULE user = LoadLibraryA("USER32.DLL");
    if (!user) return nullptr;
    using TopWindow = HWND(WINAPI*)(HWND);
    using NextWindow = HWND(WINAPI*)(HWND, UINT);
    using WindowProcess = DWORD(WINAPI*)(HWND, LPDWORD);
    using ActiveWindow = HWND(WINAPI*)();
    auto top = entry<TopWindow>(user, "GetTopWindow");
    auto next = entry<NextWindow>(user, "GetWindow");
    auto process = entry<WindowProcess>(user, "GetWindowThreadProcessId");
    auto active = entry<ActiveWindow>(user, "GetActiveWindow");
    HWND found = nullptr;
    if (top && next && process) {
        constexpr UINT kNext = 2;  // GW_HWNDNEXT
        const DWORD self = GetCurrentProcessId();
        int guard = 0;
        for (HWND w = top(nullptr); w && !found && guard < 65536; w = next(w, kNext), ++guard) {
            DWORD owner = 0;
            process(w, &owner);
            if (owner == self) found = w;
        }
    }
    if (!found && active) found = active();
    FreeLibrary(user);
    return found;
}

// ---- records ----



WAVEFORMATEX wave_of(const SVXPCMFORMAT& f) {
    WAVEFORMATEX w{};
    w.wFormatTag = f.format_tag;
    w.nChannels = f.channels;
    w.nSamplesPerSec = f.rate;
    w.nAvgBytesPerSec = f.average_bytes_per_second;
    w.nBlockAlign = f.block_align;
    w.wBitsPerSample = f.bits_per_sample;
    return w;
}

// Everything the device side holds: buffers, primary buffer, object.
void release_device(DigitalDriver& driver) {
    for (int32_t i = 0; i < driver.ds_slots; ++i) {
        if (driver.ds_buffers[i]) driver.ds_buffers[i]->Release();
        driver.ds_buffers[i] = nullptr;
        driver.ds_owners[i] = nullptr;
    }
    for (int32_t i = 0; i < driver.sample_count; ++i)
        driver.samples[i].ds_slot.store(-1, std::memory_order_relaxed);
    if (driver.primary) driver.primary->Release();
    driver.primary = nullptr;
    if (driver.ds_object) driver.ds_object->Release();
    driver.ds_object = nullptr;
}

// Object, cooperative level, primary buffer and caps (open and reacquire);
// false with the message, nothing left held.
bool create_device(DigitalDriver& driver) {
    GUID guid{};
    LPGUID device = nullptr;
    if (driver.device_id != 0) {
        const Lookup look = look_up(driver.device_id);
        if (!look.found) {
            ::SVX_set_error("DirectSoundCreate() failed.");
            return false;
        }
        guid = look.guid;
        device = &guid;
    }
    IDirectSound* object = nullptr;
    if (module.create(device, &object, nullptr) != DS_OK || !object) {
        ::SVX_set_error("DirectSoundCreate() failed.");
        return false;
    }
    driver.ds_object = object;
    if (!driver.window) driver.window = find_window();
    const DWORD level = driver.ds_format_in_use ? DSSCL_PRIORITY : DSSCL_NORMAL;
    if (object->SetCooperativeLevel(driver.window, level) != DS_OK) {
        release_device(driver);
        ::SVX_set_error("SetCooperativeLevel() failed.");
        return false;
    }
    if (driver.ds_format_in_use) {
        DSBUFFERDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
        if (object->CreateSoundBuffer(&desc, &driver.primary, nullptr) != DS_OK ||
            !driver.primary) {
            driver.primary = nullptr;
            release_device(driver);
            ::SVX_set_error("CreateSoundBuffer() failed.");
            return false;
        }
        const WAVEFORMATEX wave = wave_of(driver.format);
        if (driver.primary->SetFormat(&wave) != DS_OK) {
            release_device(driver);
            ::SVX_set_error("SetFormat() failed.");
            return false;
        }
        driver.primary->Play(0, 0, DSBPLAY_LOOPING);
    }
    DSCAPS caps{};
    caps.dwSize = sizeof caps;
    driver.emulated = object->GetCaps(&caps) == DS_OK && (caps.dwFlags & DSCAPS_EMULDRIVER) ? 1 : 0;
    return true;
}

void destroy(DigitalDriver* driver) {
    if (!driver) return;
    free_records(driver->samples);
    free_records(driver->ds_buffers);
    free_records(driver->ds_owners);
    free_records(driver->ds_formats);
    free_records(driver);
}

bool unlink(DigitalDriver* driver) {
    LibraryLock lock;
    DigitalDriver* previous = nullptr;
    DigitalDriver* walk = driver_list.load();
    while (walk && walk != driver) {
        previous = walk;
        walk = walk->next;
    }
    if (!walk) return false;
    if (previous)
        previous->next = driver->next;
    else
        driver_list.store(driver->next);
    generation.fetch_add(1);
    return true;
}

bool is_open(const DigitalDriver* driver) {
    for (DigitalDriver* walk = driver_list.load(); walk; walk = walk->next)
        if (walk == driver) return true;
    return false;
}

// Keeps the service out and waits for a run in progress.
class ServiceOff {
public:
    ServiceOff() { service_off.fetch_add(1); }
    ~ServiceOff() { service_off.fetch_sub(1); }
    ServiceOff(const ServiceOff&) = delete;
    ServiceOff& operator=(const ServiceOff&) = delete;
};

}  // namespace

uint32_t drivers_changed() {
    return generation.load();
}

// ---- the guard ----

Guard::Guard(Mode mode) {
    if (guard_depth > 0) {
        ++guard_depth;
        held_ = true;
        return;
    }
    for (;;) {
        bool expected = false;
        if (busy.compare_exchange_strong(expected, true, std::memory_order_acquire)) break;
        if (mode == try_only) return;
        SwitchToThread();
    }
    guard_depth = 1;
    held_ = true;
}

Guard::~Guard() {
    if (held_ && --guard_depth == 0) busy.store(false, std::memory_order_release);
}

// ---- service ----

void SVXCALLBACK service(uintptr_t) {
    if (service_off.load() != 0) return;
    Guard guard(Guard::try_only);
    if (!guard.held()) return;
    BackgroundWork background;
    const uint32_t seen = generation.load();
    for (DigitalDriver* driver = driver_list.load(); driver; driver = driver->next) {
        if (driver->released.load()) continue;
        for (int32_t i = 0; i < driver->sample_count; ++i) {
            Sample& sample = driver->samples[i];
            if (sample.status.load() != SVX_PLAYING) continue;
            service_sample(sample, *driver, 1000 / kServiceHz);
            // A callback closed a driver: what this walk holds may be gone.
            if (generation.load() != seen || service_off.load() != 0) return;
        }
    }
}

void start(Sample& sample, bool rewind) {
    const int32_t cur = sample.current.load(std::memory_order_relaxed) & 1;
    if (rewind) sample.position[cur].store(0, std::memory_order_relaxed);
    DigitalDriver* driver = sample.driver;
    if (driver && driver->released.load()) {
        sample.status.store(SVX_SUSPENDED);
        return;
    }
    if (!is_ds_driver(driver)) return;
    LibraryLock lock;
    Guard guard;
    // No buffer to be had: the sample does not start, and nothing is said.
    if (!acquire_buffer(sample, *driver)) return;
    play_from_position(sample, *driver);
}

void close_all_drivers() {
    while (DigitalDriver* driver = driver_list.load()) {
        HDIGDRIVER handle = reinterpret_cast<HDIGDRIVER>(driver);
        // Closed through the export while it leads here, so the call is traced.
        if (preference(SVX_PREF_USE_WAVEOUT) == 0)
            ::SVX_waveOutClose(handle);
        else
            op::dsound::SVX_waveOutClose(handle);
    }
}

}  // namespace svx::digital::ds

// ---- the exports ----

namespace svx::op::dsound {
using namespace svx::digital;
using namespace svx::digital::ds;

int32_t SVX_waveOutOpen(HDIGDRIVER* out, void** waveout_handle, int32_t device,
                        const void* format_data) {
    if (out) *out = nullptr;
    ServiceOff off;
    Guard guard;
    if (!load_module()) {
        ::SVX_set_error("The DirectSound DLL could not be loaded.");
        return 1;
    }
    SVXPCMFORMAT format{1, 1, 22050, 22050, 1, 8};
    bool format_in_use = false;
    if (format_data) {
        SVXPCMFORMAT given{};
        std::memcpy(&given, format_data, sizeof given);
        if (given.format_tag != WAVE_FORMAT_PCM) {
            unload_module();
            ::SVX_set_error("Non-PCM wave data type not supported.");
            return 1;
        }
        if ((given.channels != 1 && given.channels != 2) ||
            (given.bits_per_sample != 8 && given.bits_per_sample != 16)) {
            unload_module();
            ::SVX_set_error("Unsupported PCM data format.");
            return 1;
        }
        format_in_use = !(given.channels == 1 && given.bits_per_sample == 8 && given.rate == 22050);
        if (format_in_use) {
            format.channels = given.channels;
            format.rate = given.rate;
            format.bits_per_sample = given.bits_per_sample;
            format.block_align = uint16_t(given.channels * given.bits_per_sample / 8);
            format.average_bytes_per_second = format.block_align * format.rate;
        }
    }
    if (device == -1 || device == 0xFFFF) device = 0;

    DigitalDriver* driver = new_records<DigitalDriver>(1);
    if (!driver) {
        unload_module();
        ::SVX_set_error("Could not allocate memory for driver descriptor.");
        return 7;
    }
    driver->format = format;
    driver->device_id = device;
    driver->ds_format_in_use = format_in_use;
    if (!create_device(*driver)) {
        free_records(driver);
        unload_module();
        return 1;
    }

    driver->timer = -1;
    driver->released = 0;
    driver->rate = int32_t(format.rate);
    driver->channels = format.channels;
    driver->bytes_per_sample = format.bits_per_sample / 8;
    driver->signed_output = format.bits_per_sample == 16 ? 1 : 0;
    driver->output_format = (format.bits_per_sample == 16 ? 1 : 0) | (format.channels == 2 ? 2 : 0);
    // Every slot array has one entry per sample: a sample owns one buffer.
    const int32_t count = preference(SVX_PREF_SAMPLE_HANDLES);
    auto fail = [&](const char* message, int32_t result) {
        if (message) ::SVX_set_error(message);
        release_device(*driver);
        destroy(driver);
        unload_module();
        return result;
    };
    if (count <= 0) return fail("Could not allocate SAMPLE structures.", 7);
    driver->samples = new_records<Sample>(count);
    if (!driver->samples) return fail("Could not allocate SAMPLE structures.", 7);
    driver->sample_count = count;
    for (int32_t i = 0; i < count; ++i) driver->samples[i].driver = driver;
    driver->ds_buffers = new_records<IDirectSoundBuffer*>(count);
    driver->ds_owners = new_records<Sample*>(count);
    driver->ds_formats = new_records<uint32_t>(count);
    if (!driver->ds_buffers || !driver->ds_owners || !driver->ds_formats) return fail(nullptr, 7);
    driver->ds_slots = count;
    driver->master_volume = 127;
    // Whole frames in either half, and within what a buffer may hold.
    driver->buffer_bytes =
        uint32_t(std::clamp<int64_t>(preference(SVX_PREF_DS_BUFFER_SIZE), 8, DSBSIZE_MAX)) / 8 * 8;

    if (!driver_list.load()) {
        service_timer = ::SVX_register_timer(&ds::service);
        if (service_timer < 0) return fail("Out of timer handles.", 7);
        driver->timer = service_timer;
        ::SVX_set_timer_frequency(service_timer, kServiceHz);
        ::SVX_start_timer(service_timer);
    }
    {
        LibraryLock lock;
        driver->next = driver_list.load();
        driver_list.store(driver);
    }
    if (waveout_handle) *waveout_handle = nullptr;
    if (out) *out = reinterpret_cast<HDIGDRIVER>(driver);
    return 0;
}

void SVX_waveOutClose(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return;
    // Streams playing on it lose their sample handles first.
    services::detach_streams_of(handle);
    {
        ServiceOff off;
        Guard guard;
        if (!is_open(driver)) return;
        if (!driver->released.load()) release_device(*driver);
        unlink(driver);
        if (!driver_list.load()) {
            ::SVX_release_timer_handle(service_timer);
            service_timer = -1;
        }
        destroy(driver);
        unload_module();
    }
}

int32_t SVX_digital_handle_release(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver || !driver_list.load()) return 0;
    if (driver->released.load()) return 1;
    ServiceOff off;
    LibraryLock lock;
    Guard guard;
    if (!is_open(driver)) return 0;
    for (int32_t i = 0; i < driver->sample_count; ++i) {
        int32_t playing = SVX_PLAYING;
        driver->samples[i].status.compare_exchange_strong(playing, SVX_SUSPENDED);
    }
    release_device(*driver);
    driver->released.store(1);
    return 1;
}

int32_t SVX_digital_handle_reacquire(HDIGDRIVER handle) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver || !driver_list.load()) return 0;
    if (!driver->released.load()) return 1;
    ServiceOff off;
    LibraryLock lock;
    Guard guard;
    if (!is_open(driver)) return 0;
    if (!create_device(*driver)) return 0;
    driver->released.store(0);
    const uint32_t seen = generation.load();
    for (int32_t i = 0; i < driver->sample_count; ++i) {
        Sample& sample = driver->samples[i];
        if (sample.status.load() != SVX_SUSPENDED) continue;
        // Not rewound: it goes on from the data it had reached.
        const bool playing = acquire_buffer(sample, *driver) && play_from_position(sample, *driver);
        if (generation.load() != seen) break;  // a callback closed a driver
        if (!playing) sample.status.store(SVX_STOPPED);
    }
    return 1;
}

void SVX_digital_configuration(HDIGDRIVER handle, int32_t* rate, int32_t* format, char* text) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return;
    if (rate) *rate = driver->rate;
    if (format) *format = driver->output_format;
    if (!text) return;
    Lookup look;
    const bool released = driver->released.load() != 0;
    if (!released) {
        Guard guard;
        look = look_up(driver->device_id);
    }
    const char* parts[2] = {"DirectSound - released.", ""};
    if (!released) {
        parts[0] = driver->emulated ? "Emulated DirectSound - " : "DirectSound - ";
        parts[1] = look.found ? look.description : "Unknown.";
    }
    // Never past the caller's 128 bytes.
    size_t used = 0;
    for (const char* part : parts)
        for (const char* p = part; *p && used < kDescriptionRoom - 1; ++p) text[used++] = *p;
    text[used] = '\0';
}

void SVX_set_digital_master_volume(HDIGDRIVER handle, int32_t volume) {
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return;
    driver->master_volume.store(volume, std::memory_order_relaxed);
    if (driver->released.load()) return;
    LibraryLock lock;
    Guard guard;
    for (int32_t i = 0; i < driver->sample_count; ++i)
        if (driver->samples[i].status.load() != SVX_FREE) apply_volume(driver->samples[i], *driver);
}

int32_t SVX_set_direct_buffer_control(HSAMPLE handle, int32_t mode) {
    Sample* sample = sample_of(handle);
    return sample ? sample->ds_control.exchange(mode, std::memory_order_relaxed) : 0;
}

uintptr_t SVX_get_DirectSound_info(HSAMPLE handle, void** direct_sound, void** buffer) {
    Sample* sample = sample_of(handle);
    if (!sample) return 0;
    Guard guard;
    if (direct_sound) *direct_sound = sample->driver ? sample->driver->ds_object : nullptr;
    if (IDirectSoundBuffer* own = buffer_of(*sample)) {
        if (buffer) {
            *buffer = own;
            return reinterpret_cast<uintptr_t>(own);
        }
    }
    return reinterpret_cast<uintptr_t>(direct_sound);
}

int32_t SVX_set_DirectSound_HWND(HDIGDRIVER handle, void* window_pointer) {
    HWND window = static_cast<HWND>(window_pointer);
    // Kept for drivers opened later, too: open looks for it first.
    chosen_window.store(window);
    DigitalDriver* driver = driver_of(handle);
    if (!driver) return 0;
    LibraryLock lock;
    Guard guard;
    driver->window = window;
    if (!window || !driver->ds_object) return 0;
    const DWORD level = driver->ds_format_in_use ? DSSCL_PRIORITY : DSSCL_NORMAL;
    if (driver->ds_object->SetCooperativeLevel(window, level) != DS_OK) {
        // Samples keep no buffer of an object that is gone.
        for (int32_t i = 0; i < driver->sample_count; ++i) {
            int32_t playing = SVX_PLAYING;
            driver->samples[i].status.compare_exchange_strong(playing, SVX_STOPPED);
        }
        release_device(*driver);
        ::SVX_set_error("SetCooperativeLevel() failed.");
        return 0;
    }
    if (driver->primary && driver->ds_format_in_use) {
        const WAVEFORMATEX wave = wave_of(driver->format);
        if (driver->primary->SetFormat(&wave) != DS_OK) {
            ::SVX_set_error("SetFormat() failed.");
            return 0;
        }
        driver->primary->Play(0, 0, DSBPLAY_LOOPING);
    }
    return 1;
}

}  // namespace svx::op::dsound
