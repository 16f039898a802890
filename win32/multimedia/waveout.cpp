// waveOut: queued PCM headers, a source of the process's one output.
//
// The output takes queued frames a period at a time, as late as it can,
// converting them when the output plays another format; a header is done
// once the output has played its last frame. Each open device has one
// thread that makes every callback (WOM_OPEN, WOM_DONE, WOM_CLOSE) with no
// lock of ours held, so callbacks may call waveOutWrite and friends. No
// header's data is read after the header is marked done, so a caller may
// free it from then on.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "callback.h"
#include "device_common.h"
#include "output_device.h"
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

// Queued headers in play order. The storage is kept and only grows, so
// that queuing allocates nothing in steady play: the library queues from
// background work while the thread it has suspended may hold the heap.
template <typename T>
class Ring {
public:
    explicit Ring(size_t capacity) : items_(capacity) {}
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    T& operator[](size_t i) { return items_[(head_ + i) % items_.size()]; }
    T& front() { return (*this)[0]; }
    void push_back(const T& item) {
        if (count_ == items_.size()) grow();
        items_[(head_ + count_) % items_.size()] = item;
        ++count_;
    }
    void pop_front() {
        head_ = (head_ + 1) % items_.size();
        --count_;
    }
    void clear() { head_ = count_ = 0; }

private:
    void grow() {
        std::vector<T> bigger(items_.size() * 2);
        for (size_t i = 0; i < count_; ++i) bigger[i] = (*this)[i];
        items_.swap(bigger);
        head_ = 0;
    }

    std::vector<T> items_;
    size_t head_ = 0;
    size_t count_ = 0;
};

class WaveDevice : public AudioSource, public std::enable_shared_from_this<WaveDevice> {
public:
    WaveDevice(const PcmFormat& format, std::string name, const Callback& callback)
        : name_(std::move(name)), format_(format), callback_(callback) {
        done_.reserve(kQueueRoom);
    }

    ~WaveDevice() override { detach_source(this); }

    // Joins the process's output; same results as opening a device.
    MMRESULT attach() { return attach_source(this, format_, nullptr); }

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
        wake_output();
        return MMSYSERR_NOERROR;
    }

    MMRESULT reset() {
        std::unique_lock lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        const uint64_t ticket = ++resets_asked_;
        reset_locked();
        // From our own callback: the notices go out when it returns.
        if (thread_.is_current()) return MMSYSERR_NOERROR;
        wake_.notify_all();
        settled_.wait(lock, [&] { return resets_delivered_ >= ticket; });
        return MMSYSERR_NOERROR;
    }

    // Takes no lock: a caller may be suspended by one that needs the device.
    MMRESULT position(MMTIME& time) {
        if (gone_.load(std::memory_order_acquire)) return MMSYSERR_NODRIVER;
        const uint64_t frames = played_frames_.load(std::memory_order_relaxed);
        switch (time.wType) {
            case TIME_SAMPLES:
                time.u.sample = DWORD(frames);
                break;
            case TIME_MS:
                time.u.ms = DWORD(frames * 1000 / format_.rate);
                break;
            default:  // what the device cannot give, it gives in bytes
                time.wType = TIME_BYTES;
                time.u.cb = DWORD(frames * format_.frame_bytes());
                break;
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT close() {
        {
            std::lock_guard lock(mutex_);
            if (closing_) return MMSYSERR_INVALHANDLE;
            if (!entries_.empty()) return WAVERR_STILLPLAYING;
            closing_ = true;
        }
        detach_source(this);
        std::unique_lock lock(mutex_);
        wake_.notify_all();
        thread_.join_unless_current(lock);
        return MMSYSERR_NOERROR;
    }

    // What the process's output asks of a source.
    uint32_t render(int32_t* mix, uint32_t count, const PcmFormat& output,
                    uint64_t position) override {
        std::lock_guard lock(mutex_);
        if (failed_) return 0;
        render_start_ = position;
        render_pulled_ = 0;
        render_output_ = &output;
        const size_t first = next_to_send_;
        const uint32_t made = converter_.render(mix, count, format_, output, &WaveDevice::pull, this);
        // Converted frames come out a little behind the source's: a header
        // taken whole is done once what was made of it has been played.
        for (size_t i = first; i < next_to_send_; ++i)
            entries_[i].end = std::min(entries_[i].end, position + made);
        return made;
    }

    bool has_data() override {
        std::lock_guard lock(mutex_);
        return !failed_ && next_to_send_ < entries_.size();
    }

    void heard(uint64_t position) override {
        std::lock_guard lock(mutex_);
        // A header is done once its last frame has been played.
        bool any = false;
        while (next_to_send_ > 0 && entries_.front().end <= position) {
            played_frames_.fetch_add(entries_.front().frames, std::memory_order_relaxed);
            mark_done_locked(entries_.front().header);
            entries_.pop_front();
            --next_to_send_;
            any = true;
        }
        if (any) wake_.notify_all();
    }

    void failed() override {
        std::lock_guard lock(mutex_);
        // The device is gone: nothing more plays, and nobody waits for it.
        failed_ = true;
        gone_.store(true, std::memory_order_release);
        for (size_t i = 0; i < entries_.size(); ++i) mark_done_locked(entries_[i].header);
        entries_.clear();
        next_to_send_ = 0;
        wake_.notify_all();
    }

private:
    struct Entry {
        WAVEHDR* header = nullptr;
        const uint8_t* data = nullptr;
        uint32_t frames = 0;
        uint32_t sent = 0;  // frames handed to the output
        uint64_t end = 0;   // output position after its last frame, once all are sent
    };

    // The device's thread makes every callback, with no lock of ours held.
    void run() {
        {
            std::lock_guard lock(mutex_);
            thread_.enter();
        }
        // Completion notices drive the caller's refills: the system thread
        // that makes them runs ahead of ordinary work (best effort).
        setpriority(PRIO_PROCESS, id_t(gettid()), -10);
        notify(WOM_OPEN, 0);
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!done_.empty() || resets_delivered_ != resets_asked_) {
                deliver_done(lock);
                continue;
            }
            if (closing_) break;
            wake_.wait(lock);
        }
        lock.unlock();
        notify(WOM_CLOSE, 0);
    }

    void notify(UINT message, DWORD_PTR param) { callback_.deliver(handle_, message, param); }

    void deliver_done(std::unique_lock<std::mutex>& lock) {
        std::vector<WAVEHDR*> batch;
        batch.swap(done_);
        const uint64_t settled = resets_asked_;
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

    // Copies up to `count` queued frames, in the device's format.
    static uint32_t pull(void* context, uint8_t* to, uint32_t count) {
        auto& self = *static_cast<WaveDevice*>(context);
        const uint32_t frame_bytes = self.format_.frame_bytes();
        uint32_t frames = 0;
        while (self.next_to_send_ < self.entries_.size() && frames < count) {
            Entry& entry = self.entries_[self.next_to_send_];
            const uint32_t n = std::min(entry.frames - entry.sent, count - frames);
            std::memcpy(to + size_t(frames) * frame_bytes,
                        entry.data + size_t(entry.sent) * frame_bytes, size_t(n) * frame_bytes);
            entry.sent += n;
            frames += n;
            if (entry.sent == entry.frames) {
                const uint64_t pulled = self.render_pulled_ + frames;
                entry.end = self.render_start_ +
                            (pulled * self.render_output_->rate + self.format_.rate - 1) /
                                self.format_.rate;
                ++self.next_to_send_;
            }
        }
        self.render_pulled_ += frames;
        return frames;
    }

    void mark_done_locked(WAVEHDR* header) {
        mark_done(header);
        done_.push_back(header);
    }

    void reset_locked() {
        for (size_t i = 0; i < entries_.size(); ++i) mark_done_locked(entries_[i].header);
        entries_.clear();
        next_to_send_ = 0;
        converter_.clear();
        played_frames_.store(0, std::memory_order_relaxed);
    }

    const std::string name_;
    const PcmFormat format_;
    const Callback callback_;
    HWAVEOUT handle_ = nullptr;
    DeviceThread thread_;

    std::mutex mutex_;
    std::condition_variable wake_;     // tells the device thread
    std::condition_variable settled_;  // tells callers waiting for a reset
    static constexpr size_t kQueueRoom = 64;
    Ring<Entry> entries_{kQueueRoom};
    size_t next_to_send_ = 0;    // entries before it are wholly in the output
    RateConverter converter_;
    uint64_t render_start_ = 0;  // during render: the output position it starts at
    uint64_t render_pulled_ = 0;
    const PcmFormat* render_output_ = nullptr;
    std::atomic<uint64_t> played_frames_{0};  // of headers done since open or reset
    std::atomic<bool> gone_{false};           // failed_, for readers without the lock
    std::vector<WAVEHDR*> done_;  // marked done, WOM_DONE not yet made
    uint64_t resets_asked_ = 0;
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
        auto device = std::make_shared<WaveDevice>(format, pcm_sink_name(), callback);
        result = device->attach();
        if (result != MMSYSERR_NOERROR) return result;
        return Devices::add(device, phwo);
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

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt) {
    auto device = Devices::find(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!pmmt || cbmmt < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
    return device->position(*pmmt);
}

}  // extern "C"
