// waveOut: queued PCM headers played through a PcmSink in real time.
//
// Each open device has one thread. It copies queued frames into the sink
// a period at a time, marks a header done once the sink has played its
// last frame, and makes every callback (WOM_OPEN, WOM_DONE, WOM_CLOSE).
// Callbacks run with no lock of ours held, so they may call waveOutWrite
// and friends. The device thread never reads a header's data after the
// header is marked done, so a caller may free it from then on.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "callback.h"
#include "device_common.h"
#include "pcm_sink.h"
#include "win32/winmm.h"

namespace win32::mm {

namespace {

constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 192000;

// Reads only the PCMWAVEFORMAT part: callers may pass that shorter
// structure, and cbSize means nothing for PCM.
MMRESULT read_format(LPCWAVEFORMATEX source, PcmFormat& format) {
    PCMWAVEFORMAT pcm;
    std::memcpy(&pcm, source, sizeof pcm);
    if (pcm.wFormatTag != WAVE_FORMAT_PCM) return WAVERR_BADFORMAT;
    if (pcm.nChannels != 1 && pcm.nChannels != 2) return WAVERR_BADFORMAT;
    if (pcm.wBitsPerSample != 8 && pcm.wBitsPerSample != 16) return WAVERR_BADFORMAT;
    if (pcm.nSamplesPerSec < kMinRate || pcm.nSamplesPerSec > kMaxRate) return WAVERR_BADFORMAT;
    format.rate = pcm.nSamplesPerSec;
    format.channels = pcm.nChannels;
    format.bits = pcm.wBitsPerSample;
    if (pcm.nBlockAlign != format.frame_bytes()) return WAVERR_BADFORMAT;
    if (pcm.nAvgBytesPerSec != format.rate * format.frame_bytes()) return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

class WaveDevice : public std::enable_shared_from_this<WaveDevice> {
public:
    WaveDevice(std::unique_ptr<PcmSink> sink, const Callback& callback)
        : sink_(std::move(sink)),
          name_(sink_->name()),
          format_(sink_->format()),
          callback_(callback) {}

    // May throw std::system_error when no thread can be made.
    void start(HWAVEOUT handle) {
        handle_ = handle;
        thread_.start([self = shared_from_this()] { self->run(); });
    }

    std::string product_name() const { return name_; }

    MMRESULT prepare(WAVEHDR* header) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        return prepare_header(header);
    }

    MMRESULT unprepare(WAVEHDR* header) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        return unprepare_header(header);
    }

    MMRESULT write(WAVEHDR* header) {
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        DWORD flags = load_flags(header);
        MMRESULT result = check_queueable<WAVEHDR>(flags);
        if (result != MMSYSERR_NOERROR) return result;
        if (!header->lpData && header->dwBufferLength != 0) return MMSYSERR_INVALPARAM;
        if (failed_) return MMSYSERR_NODRIVER;
        // Data and length are taken now: changing them while queued cannot
        // make us read elsewhere. A partial last frame is not played.
        Entry entry;
        entry.header = header;
        entry.data = reinterpret_cast<const uint8_t*>(header->lpData);
        entry.frames = header->dwBufferLength / format_.frame_bytes();
        entries_.push_back(entry);
        mark_queued(header, flags);
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT reset() {
        std::unique_lock lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        uint64_t ticket = ++resets_asked_;
        if (thread_.is_current()) {
            // From our own callback: the notices go out when it returns.
            reset_locked();
            return MMSYSERR_NOERROR;
        }
        sink_->interrupt();
        wake_.notify_all();
        settled_.wait(lock, [&] { return resets_delivered_ >= ticket; });
        return MMSYSERR_NOERROR;
    }

    MMRESULT close() {
        std::unique_lock lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        if (!entries_.empty()) return WAVERR_STILLPLAYING;
        closing_ = true;
        wake_.notify_all();
        thread_.join_unless_current(lock);
        return MMSYSERR_NOERROR;
    }

private:
    struct Entry {
        WAVEHDR* header = nullptr;
        const uint8_t* data = nullptr;
        uint32_t frames = 0;
        uint32_t sent = 0;  // frames handed to the sink
        uint64_t end = 0;   // sink position after its last frame, once all are sent
    };

    void run() {
        {
            std::lock_guard lock(mutex_);
            thread_.enter();
        }
        notify(WOM_OPEN, 0);
        std::unique_lock lock(mutex_);
        for (;;) {
            if (resets_asked_ != resets_done_) reset_locked();
            if (!done_.empty() || resets_delivered_ != resets_done_) {
                deliver_done(lock);
                continue;
            }
            if (closing_) break;
            if (failed_ || entries_.empty()) {
                wake_.wait(lock);
                continue;
            }
            SinkStatus status;
            if (next_to_send_ < entries_.size()) {
                uint32_t frames = fill_chunk_locked();
                lock.unlock();
                status = frames ? sink_->write(chunk_.data(), frames) : SinkStatus::ok;
            } else {
                // Everything queued is in the sink. Wait a period at most,
                // so that headers written meanwhile follow without a gap.
                uint64_t target = entries_.front().end;
                lock.unlock();
                uint64_t soon = sink_->played() + sink_->period_frames();
                status = sink_->wait_played(std::min(target, soon));
            }
            uint64_t played = status == SinkStatus::failed ? 0 : sink_->played();
            lock.lock();
            if (status == SinkStatus::failed) {
                fail_locked();
            } else {
                complete_locked(played);
            }
        }
        lock.unlock();
        // Finishes the device (a WAV file is complete) before close returns.
        sink_.reset();
        notify(WOM_CLOSE, 0);
    }

    void notify(UINT message, DWORD_PTR param) { callback_.deliver(handle_, message, param); }

    void deliver_done(std::unique_lock<std::mutex>& lock) {
        std::vector<WAVEHDR*> batch;
        batch.swap(done_);
        uint64_t settled = resets_done_;
        lock.unlock();
        for (WAVEHDR* header : batch) notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
        lock.lock();
        resets_delivered_ = settled;
        settled_.notify_all();
        if (done_.empty()) {
            batch.clear();
            done_.swap(batch);  // keeps the storage
        }
    }

    // Copies up to a period of queued frames into chunk_.
    uint32_t fill_chunk_locked() {
        const uint32_t frame_bytes = format_.frame_bytes();
        const uint32_t period = sink_->period_frames();
        chunk_.resize(size_t(period) * frame_bytes);
        uint32_t frames = 0;
        while (next_to_send_ < entries_.size() && frames < period) {
            Entry& entry = entries_[next_to_send_];
            uint32_t count = std::min(entry.frames - entry.sent, period - frames);
            std::memcpy(chunk_.data() + size_t(frames) * frame_bytes,
                        entry.data + size_t(entry.sent) * frame_bytes, size_t(count) * frame_bytes);
            entry.sent += count;
            frames += count;
            if (entry.sent == entry.frames) {
                entry.end = sent_frames_ + frames;
                ++next_to_send_;
            }
        }
        sent_frames_ += frames;
        return frames;
    }

    void mark_done_locked(WAVEHDR* header) {
        mark_done(header);
        done_.push_back(header);
    }

    void complete_locked(uint64_t played) {
        while (next_to_send_ > 0 && entries_.front().end <= played) {
            mark_done_locked(entries_.front().header);
            entries_.pop_front();
            --next_to_send_;
        }
    }

    void reset_locked() {
        if (!failed_) sink_->discard();
        for (const Entry& entry : entries_) mark_done_locked(entry.header);
        entries_.clear();
        next_to_send_ = 0;
        if (!failed_) sent_frames_ = sink_->played();
        resets_done_ = resets_asked_;
    }

    // The device is gone: nothing more plays, and nobody waits for it.
    void fail_locked() {
        failed_ = true;
        for (const Entry& entry : entries_) mark_done_locked(entry.header);
        entries_.clear();
        next_to_send_ = 0;
    }

    std::unique_ptr<PcmSink> sink_;  // used by the device thread, and under mutex_
    const std::string name_;
    const PcmFormat format_;
    const Callback callback_;
    HWAVEOUT handle_ = nullptr;
    DeviceThread thread_;

    std::mutex mutex_;
    std::condition_variable wake_;     // tells the device thread
    std::condition_variable settled_;  // tells callers waiting for a reset
    std::deque<Entry> entries_;  // queued headers in play order
    size_t next_to_send_ = 0;    // entries before it are wholly in the sink
    uint64_t sent_frames_ = 0;   // sink position after the last frame sent
    std::vector<uint8_t> chunk_;
    std::vector<WAVEHDR*> done_;  // marked done, WOM_DONE not yet made
    uint64_t resets_asked_ = 0;
    uint64_t resets_done_ = 0;
    uint64_t resets_delivered_ = 0;
    bool closing_ = false;
    bool failed_ = false;
};

using Devices = OpenDevices<WaveDevice, HWAVEOUT>;

}  // namespace

}  // namespace win32::mm

using namespace win32::mm;

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) { return kDeviceCount; }

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc) {
    return Devices::caps(uDeviceID, pwoc, cbwoc, pcm_sink_name, [](WAVEOUTCAPSA& caps) {
        caps.wChannels = 2;
        caps.dwFormats = pcm_sink_formats();
    });
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx,
                            DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    const bool query = (fdwOpen & WAVE_FORMAT_QUERY) != 0;
    if (!pwfx || (!query && !phwo)) return MMSYSERR_INVALPARAM;
    if (!query) *phwo = nullptr;
    if (!names_the_device(uDeviceID)) return MMSYSERR_BADDEVICEID;
    Callback callback;
    MMRESULT result = read_callback(fdwOpen, dwCallback, dwInstance, callback);
    if (result != MMSYSERR_NOERROR) return result;
    PcmFormat format;
    result = read_format(pwfx, format);
    if (result != MMSYSERR_NOERROR) return result;
    try {
        if (query) return query_pcm_sink(format);
        std::unique_ptr<PcmSink> sink;
        result = open_pcm_sink(format, sink);
        if (result != MMSYSERR_NOERROR) return result;
        return Devices::add(std::make_shared<WaveDevice>(std::move(sink), callback), phwo);
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) { return Devices::close(hwo); }

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return Devices::with_header(hwo, pwh, cbwh, &WaveDevice::prepare);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return Devices::with_header(hwo, pwh, cbwh, &WaveDevice::unprepare);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    return Devices::with_header(hwo, pwh, cbwh, &WaveDevice::write);
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo) {
    auto device = Devices::find(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    try {
        return device->reset();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
}

}  // extern "C"
