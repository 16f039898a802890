// What waveOut and midiOut share: the rules of their headers, the thread
// a device makes its callbacks on, device ids, handles, and the steps of
// their entry points. Internal to win32_multimedia.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "backend_config.h"
#include "handle_table.h"
#include "win32/winmm.h"

namespace win32::mm {

// ---- Headers -----------------------------------------------------------------

// Flag bits and errors of each header type.
template <typename Header>
struct HeaderRules;

template <>
struct HeaderRules<WAVEHDR> {
    static constexpr DWORD done = WHDR_DONE;
    static constexpr DWORD prepared = WHDR_PREPARED;
    static constexpr DWORD in_queue = WHDR_INQUEUE;
    static constexpr MMRESULT unprepared = WAVERR_UNPREPARED;
    static constexpr MMRESULT still_playing = WAVERR_STILLPLAYING;
};

template <>
struct HeaderRules<MIDIHDR> {
    static constexpr DWORD done = MHDR_DONE;
    static constexpr DWORD prepared = MHDR_PREPARED;
    static constexpr DWORD in_queue = MHDR_INQUEUE;
    static constexpr MMRESULT unprepared = MIDIERR_UNPREPARED;
    static constexpr MMRESULT still_playing = MIDIERR_STILLPLAYING;
};

// Header flags are polled by callers on other threads (the done flag).
template <typename Header>
DWORD load_flags(Header* header) {
    return std::atomic_ref<DWORD>(header->dwFlags).load(std::memory_order_acquire);
}

template <typename Header>
void store_flags(Header* header, DWORD flags) {
    std::atomic_ref<DWORD>(header->dwFlags).store(flags, std::memory_order_release);
}

template <typename Header>
MMRESULT check_header(Header* header, UINT size) {
    if (!header || size < sizeof(Header)) return MMSYSERR_INVALPARAM;
    if (reinterpret_cast<uintptr_t>(header) % alignof(Header) != 0) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

// The steps below run under the device's lock, on a device not closing.

template <typename Header>
MMRESULT prepare_header(Header* header) {
    using Rules = HeaderRules<Header>;
    DWORD flags = load_flags(header);
    if (flags & Rules::in_queue) return Rules::still_playing;
    if (!header->lpData && header->dwBufferLength != 0) return MMSYSERR_INVALPARAM;
    store_flags(header, flags | Rules::prepared);
    return MMSYSERR_NOERROR;
}

template <typename Header>
MMRESULT unprepare_header(Header* header) {
    using Rules = HeaderRules<Header>;
    DWORD flags = load_flags(header);
    if (flags & Rules::in_queue) return Rules::still_playing;
    store_flags(header, flags & ~Rules::prepared);
    return MMSYSERR_NOERROR;
}

// Only a prepared header that is not queued yet may be queued.
template <typename Header>
MMRESULT check_queueable(DWORD flags) {
    using Rules = HeaderRules<Header>;
    if (!(flags & Rules::prepared)) return Rules::unprepared;
    if (flags & Rules::in_queue) return Rules::still_playing;
    return MMSYSERR_NOERROR;
}

// `flags` as check_queueable saw them.
template <typename Header>
void mark_queued(Header* header, DWORD flags) {
    using Rules = HeaderRules<Header>;
    store_flags(header, (flags & ~Rules::done) | Rules::in_queue);
}

template <typename Header>
void mark_done(Header* header) {
    using Rules = HeaderRules<Header>;
    store_flags(header, (load_flags(header) & ~Rules::in_queue) | Rules::done);
}

// ---- The device's thread -----------------------------------------------------

// The thread an open device makes its callbacks on. Its id is set and read
// under the device's lock.
class DeviceThread {
public:
    DeviceThread() = default;
    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;

    ~DeviceThread() {
        // Only a device closed from its own callback ends on its thread.
        if (thread_.joinable()) thread_.detach();
    }

    // May throw std::system_error when no thread can be made.
    template <typename Body>
    void start(Body body) {
        thread_ = std::thread(std::move(body));
    }

    // Called by the thread itself before anything else.
    void enter() { id_ = std::this_thread::get_id(); }

    // Whether the caller is the thread, that is, one of its callbacks.
    bool is_current() const { return std::this_thread::get_id() == id_; }

    // The last step of a close, once the thread has been told: waits for it
    // to end, unlocking `lock` first. From one of its own callbacks it does
    // not wait: the thread ends once the callback returns.
    void join_unless_current(std::unique_lock<std::mutex>& lock) {
        if (is_current()) return;
        lock.unlock();
        thread_.join();
    }

private:
    std::thread thread_;
    std::thread::id id_;
};

// ---- Device ids and handles --------------------------------------------------

// One device of each kind.
constexpr UINT kDeviceCount = 1;

static_assert(WAVE_MAPPER == MIDI_MAPPER);

// The device's number, the mapper, or the mapper widened to a UINT_PTR.
inline bool names_the_device(UINT_PTR id) {
    return id < kDeviceCount || id == WAVE_MAPPER || id == UINT_PTR(-1);
}

// The open devices of one kind behind their handles, and the steps their
// entry points share. A Device has start(Handle), close() and
// product_name().
template <typename Device, typename Handle>
class OpenDevices {
public:
    static std::shared_ptr<Device> find(Handle handle) {
        return table().find(reinterpret_cast<uintptr_t>(handle));
    }

    // Gives a newly opened device its handle and starts it. May throw
    // std::bad_alloc.
    static MMRESULT add(const std::shared_ptr<Device>& device, Handle* out) {
        uintptr_t value = table().add(device);
        Handle handle = reinterpret_cast<Handle>(value);
        try {
            device->start(handle);
        } catch (...) {
            table().remove(value);
            return MMSYSERR_NOMEM;
        }
        *out = handle;
        return MMSYSERR_NOERROR;
    }

    static MMRESULT close(Handle handle) {
        auto device = find(handle);
        if (!device) return MMSYSERR_INVALHANDLE;
        MMRESULT result = device->close();
        if (result == MMSYSERR_NOERROR) table().remove(reinterpret_cast<uintptr_t>(handle));
        return result;
    }

    // An entry point that takes a header: `step` runs once the handle and
    // the header are found sound.
    template <typename Header>
    static MMRESULT with_header(Handle handle, Header* header, UINT size,
                                MMRESULT (Device::*step)(Header*)) {
        auto device = find(handle);
        if (!device) return MMSYSERR_INVALHANDLE;
        MMRESULT result = check_header(header, size);
        if (result != MMSYSERR_NOERROR) return result;
        try {
            return ((*device).*step)(header);
        } catch (const std::bad_alloc&) {
            return MMSYSERR_NOMEM;
        }
    }

    // Caps of the device named by `id`, or of the open device whose handle
    // it is. `fill` sets the fields of the kind; the product name is the
    // configured device's, or the open device's.
    template <typename Caps, typename Fill>
    static MMRESULT caps(UINT_PTR id, Caps* out, UINT size, std::string (*configured_name)(),
                         Fill fill) {
        if (!out) return MMSYSERR_INVALPARAM;
        try {
            Caps caps{};
            caps.wMid = 0xFFFF;  // no registered maker
            caps.wPid = 0xFFFF;
            caps.vDriverVersion = 0x0100;
            fill(caps);
            if (names_the_device(id)) {
                copy_product_name(caps.szPname, configured_name());
            } else if (auto device = find(reinterpret_cast<Handle>(id))) {
                copy_product_name(caps.szPname, device->product_name());
            } else {
                return MMSYSERR_BADDEVICEID;
            }
            std::memcpy(out, &caps, std::min<size_t>(size, sizeof caps));
            return MMSYSERR_NOERROR;
        } catch (const std::bad_alloc&) {
            return MMSYSERR_NOMEM;
        }
    }

private:
    static HandleTable<Device>& table() { return HandleTable<Device>::instance(); }
};

}  // namespace win32::mm
