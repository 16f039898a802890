// midiOut: short and long messages handed to a MidiPort as they come.
//
// Messages go out on the caller's thread, under the device's lock, so
// their order is the order of the calls. A long message is sent before
// midiOutLongMsg returns; its MOM_DONE, like MOM_OPEN and MOM_CLOSE, is
// made on the device's callback thread with no lock of ours held.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "callback.h"
#include "device_common.h"
#include "midi_port.h"
#include "win32/winmm.h"

namespace win32::mm {

namespace {

// Data bytes that follow a status byte.
int data_bytes(uint8_t status) {
    if (status < 0xC0) return 2;  // note off/on, key pressure, controller
    if (status < 0xE0) return 1;  // program change, channel pressure
    if (status < 0xF0) return 2;  // pitch bend
    switch (status) {
        case 0xF1:  // time code quarter frame
        case 0xF3:  // song select
            return 1;
        case 0xF2:  // song position
            return 2;
        default:
            return 0;
    }
}

class MidiDevice : public std::enable_shared_from_this<MidiDevice> {
public:
    MidiDevice(std::unique_ptr<MidiPort> port, const Callback& callback)
        : port_(std::move(port)), name_(port_->name()), callback_(callback) {}

    // May throw std::system_error when no thread can be made.
    void start(HMIDIOUT handle) {
        handle_ = handle;
        if (!callback_.any()) return;
        notices_.push_back({MOM_OPEN, 0});
        thread_.start([self = shared_from_this()] { self->run(); });
    }

    std::string product_name() const { return name_; }

    MMRESULT short_message(DWORD message) {
        uint8_t bytes[3] = {uint8_t(message), uint8_t(message >> 8), uint8_t(message >> 16)};
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        uint8_t status = bytes[0];
        const uint8_t* data = bytes + 1;
        if (status < 0x80) {
            // Running status: the message starts with its first data byte.
            if (running_status_ == 0) return MMSYSERR_INVALPARAM;
            status = running_status_;
            data = bytes;
        }
        // System exclusive comes only as a long message.
        if (status == 0xF0 || status == 0xF7) return MMSYSERR_INVALPARAM;
        int count = data_bytes(status);
        uint8_t out[3] = {status, uint8_t(data[0] & 0x7F), uint8_t(data[1] & 0x7F)};
        if (status < 0xF0) {
            running_status_ = status;
        } else if (status < 0xF8) {
            running_status_ = 0;  // system common ends running status, real time does not
        }
        return port_->send_short(out, size_t(1 + count)) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

    MMRESULT prepare(MIDIHDR* header) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        return prepare_header(header);
    }

    MMRESULT unprepare(MIDIHDR* header) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        return unprepare_header(header);
    }

    MMRESULT long_message(MIDIHDR* header) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        DWORD flags = load_flags(header);
        MMRESULT result = check_queueable<MIDIHDR>(flags);
        if (result != MMSYSERR_NOERROR) return result;
        if (!header->lpData || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
        if (callback_.any()) notices_.push_back({MOM_DONE, reinterpret_cast<DWORD_PTR>(header)});
        mark_queued(header, flags);
        bool sent = port_->send_long(reinterpret_cast<const uint8_t*>(header->lpData),
                                     header->dwBufferLength);
        running_status_ = 0;
        mark_done(header);
        wake_.notify_all();
        return sent ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

    // Every sounding note stops: sustain off and all notes off on each
    // channel.
    MMRESULT reset() {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        bool sent = true;
        for (uint8_t channel = 0; channel < 16; ++channel) {
            const uint8_t sustain_off[3] = {uint8_t(0xB0 | channel), 64, 0};
            const uint8_t all_notes_off[3] = {uint8_t(0xB0 | channel), 123, 0};
            sent = port_->send_short(sustain_off, 3) && sent;
            sent = port_->send_short(all_notes_off, 3) && sent;
        }
        running_status_ = 0;
        return sent ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

    MMRESULT close() {
        std::unique_lock lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        closing_ = true;
        // The device is finished (a MIDI file complete) before close returns.
        port_.reset();
        if (!callback_.any()) return MMSYSERR_NOERROR;
        notices_.push_back({MOM_CLOSE, 0});
        wake_.notify_all();
        thread_.join_unless_current(lock);
        return MMSYSERR_NOERROR;
    }

private:
    struct Notice {
        UINT message;
        DWORD_PTR param;
    };

    void run() {
        std::unique_lock lock(mutex_);
        thread_.enter();
        for (;;) {
            wake_.wait(lock, [&] { return !notices_.empty() || closing_; });
            if (notices_.empty()) break;
            Notice notice = notices_.front();
            notices_.pop_front();
            lock.unlock();
            callback_.deliver(handle_, notice.message, notice.param);
            lock.lock();
        }
    }

    std::unique_ptr<MidiPort> port_;  // under mutex_; gone once closing
    const std::string name_;
    const Callback callback_;
    HMIDIOUT handle_ = nullptr;
    DeviceThread thread_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Notice> notices_;
    uint8_t running_status_ = 0;
    bool closing_ = false;
};

using Devices = OpenDevices<MidiDevice, HMIDIOUT>;

}  // namespace

}  // namespace win32::mm

using namespace win32::mm;

extern "C" {

UINT WINAPI midiOutGetNumDevs(void) { return kDeviceCount; }

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    return Devices::caps(uDeviceID, pmoc, cbmoc, midi_port_name, [](MIDIOUTCAPSA& caps) {
        caps.wTechnology = MOD_MIDIPORT;
        caps.wChannelMask = 0xFFFF;
    });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen) {
    if (!phmo) return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    if (!names_the_device(uDeviceID)) return MMSYSERR_BADDEVICEID;
    Callback callback;
    MMRESULT result = read_callback(fdwOpen, dwCallback, dwInstance, callback);
    if (result != MMSYSERR_NOERROR) return result;
    try {
        std::unique_ptr<MidiPort> port;
        result = open_midi_port(port);
        if (result != MMSYSERR_NOERROR) return result;
        return Devices::add(std::make_shared<MidiDevice>(std::move(port), callback), phmo);
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) { return Devices::close(hmo); }

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT hmo, DWORD dwMsg) {
    auto device = Devices::find(hmo);
    return device ? device->short_message(dwMsg) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return Devices::with_header(hmo, pmh, cbmh, &MidiDevice::long_message);
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return Devices::with_header(hmo, pmh, cbmh, &MidiDevice::prepare);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return Devices::with_header(hmo, pmh, cbmh, &MidiDevice::unprepare);
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    auto device = Devices::find(hmo);
    return device ? device->reset() : MMSYSERR_INVALHANDLE;
}

}  // extern "C"
