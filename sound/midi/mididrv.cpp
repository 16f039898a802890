// The MIDI output driver: open and close on midiOut, the channel reset,
// short and system-exclusive messages, release and reacquire of the
// device, and the library's list of open drivers.
#include "midi/mididrv.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/ops.h"
#include "core/records.h"
#include "core/state.h"

namespace svx::midi {
namespace {

std::atomic<MidiDriver*> driver_list{nullptr};


bool in_list(MidiDriver* driver) {
    for (MidiDriver* d = driver_list.load(); d; d = d->next)
        if (d == driver) return true;
    return false;
}

void unlink(MidiDriver* driver) {
    LibraryLock lock;
    MidiDriver* head = driver_list.load();
    if (head == driver) {
        driver_list.store(driver->next);
        return;
    }
    for (MidiDriver* d = head; d; d = d->next)
        if (d->next == driver) {
            d->next = driver->next;
            return;
        }
}

void close_device(MidiDriver& driver) {
    if (!driver.device) return;
    if (driver.header && (driver.header->dwFlags & MHDR_PREPARED))
        midiOutUnprepareHeader(driver.device, driver.header, sizeof(MIDIHDR));
    midiOutReset(driver.device);
    midiOutClose(driver.device);
    driver.device = nullptr;
}

// Frees what an open made, in the reverse order.
void destroy(MidiDriver* driver) {
    if (driver->timer >= 0) ::SVX_release_timer_handle(driver->timer);
    close_device(*driver);
    ::SVX_mem_free_lock(driver->sysex_buffer);
    ::SVX_mem_free_lock(driver->header);
    ::SVX_mem_free_lock(driver->sequences);
    ::SVX_mem_free_lock(driver);
}

void SVXCALLBACK timer_callback(uintptr_t user) {
    service_tick(reinterpret_cast<MidiDriver*>(user));
}

}  // namespace

bool read_vlq(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (end && p >= end) return false;
        uint8_t byte = *p++;
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    return false;
}

void send_short(MidiDriver& driver, int status, int data1, int data2) {
    if (driver.released.load(std::memory_order_acquire)) return;
    const DWORD message =
        DWORD(status & 0xFF) | DWORD(data1 & 0x7F) << 8 | DWORD(data2 & 0x7F) << 16;
    const bool device = driver.device_number != kNoDevice && driver.device;
    if (device) midiOutShortMsg(driver.device, message);
    const int kind = status & 0xF0;
    if (preference(SVX_PREF_DOUBLE_NOTE_OFF) != 0 &&
        (kind == 0x80 || (kind == 0x90 && (data2 & 0x7F) == 0)) && device)
        midiOutShortMsg(driver.device, message);
}

void send_sysex(MidiDriver& driver, const uint8_t* event, uint32_t size) {
    if (!driver.sysex_buffer || driver.sysex_size <= 0 || size == 0) return;
    const uint8_t* p = event + 1;
    const uint8_t* end = event + size;
    uint32_t declared = 0;
    if (!read_vlq(p, end, declared)) return;
    uint32_t data = std::min<uint32_t>(declared, uint32_t(end - p));
    uint32_t length = std::min<uint32_t>(1 + data, uint32_t(driver.sysex_size));
    driver.sysex_buffer[0] = event[0];
    if (length > 1) std::memcpy(driver.sysex_buffer + 1, p, length - 1);
    if (SVXEVENTCB callback = driver.event_callback.load()) {
        for (uint32_t i = 0; i < length; ++i) {
            uint8_t byte = driver.sysex_buffer[i];
            if (byte > 0x80)
                callback(handle_of(&driver), nullptr, 0xB1, 105, byte & 0x7F);
            else
                callback(handle_of(&driver), nullptr, 0xB0, 105, byte);
        }
    }
    driver.header->dwBufferLength = length;
    driver.header->dwBytesRecorded = length;
    if (!driver.released.load() && driver.device_number != kNoDevice && driver.device)
        midiOutLongMsg(driver.device, driver.header, sizeof(MIDIHDR));
}

void reset_channels(MidiDriver& driver) {
    const int volume = preference(SVX_PREF_DEFAULT_SEQUENCE_VOLUME);
    const int bend_range = preference(SVX_PREF_PITCH_BEND_RANGE);
    for (int ch = 0; ch < kChannels; ++ch) {
        const int cc = 0xB0 | ch;
        send_short(driver, cc, 114, 0);
        send_short(driver, cc, 32, 0);
        send_short(driver, cc, 0, 0);
        send_short(driver, 0xC0 | ch, 0, 0);
        send_short(driver, 0xE0 | ch, 0, 64);
        send_short(driver, cc, 112, 0);
        send_short(driver, cc, 1, 0);
        send_short(driver, cc, 7, volume);
        send_short(driver, cc, 10, 64);
        send_short(driver, cc, 11, 127);
        send_short(driver, cc, 64, 0);
        send_short(driver, cc, 91, 40);
        send_short(driver, cc, 93, 0);
        send_short(driver, cc, 100, 0);
        send_short(driver, cc, 101, 0);
        send_short(driver, cc, 38, 0);
        send_short(driver, cc, 6, bend_range);
        if (ch % 4 == 0) ::SVX_delay(1);
    }
}

void close_all_drivers() {
    while (MidiDriver* driver = driver_list.load()) {
        ::SVX_midiOutClose(handle_of(driver));
        // A driver that would not unlink must not stall shutdown.
        if (driver_list.load() == driver) driver_list.store(driver->next);
    }
}

}  // namespace svx::midi

namespace svx::op {
using namespace svx::midi;

int32_t SVX_midiOutOpen(HMDIDRIVER* out, void** midiout_handle, int32_t device) {
    if (out) *out = nullptr;
    if (midiout_handle) *midiout_handle = nullptr;
    MidiDriver* driver = new_records<MidiDriver>(1);
    if (!driver) {
        ::SVX_set_error("Could not allocate memory for driver descriptor.");
        return 1;
    }
    std::memcpy(driver->tag, "HMDI", 4);
    driver->device_number = device;
    auto fail = [&](const char* message, int32_t result) {
        if (message) ::SVX_set_error(message);
        destroy(driver);
        return result & 0xFFFF;
    };

    if (device != kNoDevice) {
        MMRESULT result = midiOutOpen(&driver->device, UINT(device), 0, 0, 0);
        if (result != MMSYSERR_NOERROR) {
            driver->device = nullptr;
            return fail("midiOutOpen() failed.", int32_t(result));
        }
    }

    // A driver without sequences still sends the application's messages.
    driver->sequence_count = std::max(preference(SVX_PREF_SEQUENCE_HANDLES), 0);
    if (driver->sequence_count > 0) {
        driver->sequences = new_records<Sequence>(driver->sequence_count);
        if (!driver->sequences) return fail("Could not allocate SEQUENCE structures.", 1);
    }
    for (int32_t i = 0; i < driver->sequence_count; ++i) {
        Sequence& s = driver->sequences[i];
        std::memcpy(s.tag, "HSEQ", 4);
        s.status = SVX_FREE;
        s.driver = driver;
    }

    const int32_t rate = std::max(preference(SVX_PREF_MIDI_SERVICE_RATE), 1);
    driver->tick_period = 1000000 / rate;
    driver->master_volume = 127;

    driver->timer = ::SVX_register_timer(&timer_callback);
    if (driver->timer < 0) return fail("Out of timer handles.", 1);
    ::SVX_set_timer_user(driver->timer, reinterpret_cast<uintptr_t>(driver));

    driver->header = new_records<MIDIHDR>(1);
    if (!driver->header) return fail("Could not allocate MIDIHDR structure.", 1);
    driver->sysex_size = preference(SVX_PREF_SYSEX_BUFFER_SIZE);
    driver->sysex_buffer = new_records<uint8_t>(driver->sysex_size);
    if (!driver->sysex_buffer) return fail("Could not allocate system exclusive buffer.", 1);
    driver->header->lpData = reinterpret_cast<LPSTR>(driver->sysex_buffer);
    driver->header->dwBufferLength = DWORD(driver->sysex_size);

    if (device != kNoDevice) {
        MMRESULT result = midiOutPrepareHeader(driver->device, driver->header, sizeof(MIDIHDR));
        if (result != MMSYSERR_NOERROR) {
            char text[64];
            std::snprintf(text, sizeof text, "midiOutPrepareHeader() failed, code $%X\n",
                          unsigned(result));
            return fail(text, int32_t(result));
        }
    }

    reset_channels(*driver);
    ::SVX_set_timer_frequency(driver->timer, uint32_t(rate));
    ::SVX_start_timer(driver->timer);
    {
        LibraryLock lock;
        driver->next = driver_list.load();
        driver_list.store(driver);
    }
    if (out) *out = handle_of(driver);
    if (midiout_handle && device != kNoDevice) *midiout_handle = &driver->device;
    return 0;
}

void SVX_midiOutClose(HMDIDRIVER handle) {
    MidiDriver* driver = driver_of(handle);
    if (!driver) return;
    for (int32_t i = 0; i < driver->sequence_count; ++i)
        ::SVX_end_sequence(handle_of(&driver->sequences[i]));
    if (!in_list(driver)) return;
    // Keep the tick away from the record while it goes.
    LibraryLock lock;
    ServiceGuard guard;
    unlink(driver);
    if (driver->released.load()) driver->device = nullptr;
    destroy(driver);
}

int32_t SVX_MIDI_handle_release(HMDIDRIVER handle) {
    MidiDriver* driver = driver_of(handle);
    if (!driver || !driver_list.load()) return 0;
    if (driver->released.load()) return 1;
    ServiceGuard guard;
    for (int32_t i = 0; i < driver->sequence_count; ++i) {
        Sequence& s = driver->sequences[i];
        if (s.status.load() == SVX_PLAYING) {
            stop_sequence(s);
            s.status = SVX_SUSPENDED;
        }
    }
    if (driver->device_number != kNoDevice) close_device(*driver);
    driver->device = nullptr;
    driver->released = 1;
    return 1;
}

int32_t SVX_MIDI_handle_reacquire(HMDIDRIVER handle) {
    MidiDriver* driver = driver_of(handle);
    if (!driver || !driver_list.load()) return 0;
    if (!driver->released.load()) return 1;
    {
        ServiceGuard guard;
        if (driver->device_number != kNoDevice) {
            if (midiOutOpen(&driver->device, UINT(driver->device_number), 0, 0, 0) !=
                MMSYSERR_NOERROR) {
                driver->device = nullptr;
                return 0;
            }
            driver->header->dwFlags = 0;
            midiOutPrepareHeader(driver->device, driver->header, sizeof(MIDIHDR));
        }
        driver->released = 0;
    }
    // The tick stays out until the recorded state is back on the device.
    Busy busy(driver);
    reset_channels(*driver);
    for (int32_t i = 0; i < driver->sequence_count; ++i) {
        Sequence& s = driver->sequences[i];
        if (s.status.load() == SVX_SUSPENDED) {
            s.status = SVX_STOPPED;
            resume_sequence(s);
            s.status = SVX_PLAYING;
        }
    }
    return 1;
}

SVXEVENTCB SVX_register_event_callback(HMDIDRIVER handle, SVXEVENTCB callback) {
    return exchange_callback(driver_of(handle), &MidiDriver::event_callback, callback);
}

SVXTIMBRECB SVX_register_timbre_callback(HMDIDRIVER handle, SVXTIMBRECB callback) {
    return exchange_callback(driver_of(handle), &MidiDriver::timbre_callback, callback);
}

void SVX_send_sysex_message(HMDIDRIVER handle, const void* message) {
    MidiDriver* driver = driver_of(handle);
    if (!driver || !message) return;
    Busy busy(driver);
    const uint8_t* event = static_cast<const uint8_t*>(message);
    const uint8_t* p = event + 1;
    uint32_t length = 0;
    if (!read_vlq(p, nullptr, length)) return;
    send_sysex(*driver, event, uint32_t(p - event) + length);
}

}  // namespace svx::op
