#include "output_device.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace win32::mm {

namespace {

using namespace std::chrono_literals;

// How long the output waits for a source with nothing to give before it
// looks again (a wake ends the wait at once).
constexpr auto kIdleWait = 50ms;
// While frames are still being played out, sources hear of it this often.
constexpr auto kPlayOutStep = 2ms;

class Output {
public:
    MMRESULT attach(AudioSource* source, const PcmFormat& format, PcmFormat* output) {
        std::lock_guard control(control_);
        {
            std::lock_guard lock(sources_mutex_);
            if (sink_ && !dead_.load()) {
                if (std::find(sources_.begin(), sources_.end(), source) == sources_.end())
                    sources_.push_back(source);
                if (output) *output = format_;
                return MMSYSERR_NOERROR;
            }
        }
        stop_thread();  // a device that failed is closed first
        MMRESULT result = open(format);
        if (result != MMSYSERR_NOERROR) return result;
        {
            std::lock_guard lock(sources_mutex_);
            sources_.push_back(source);
            if (output) *output = format_;
        }
        return start_thread();
    }

    void detach(AudioSource* source) {
        std::lock_guard control(control_);
        bool last = false;
        {
            std::lock_guard lock(sources_mutex_);
            auto at = std::find(sources_.begin(), sources_.end(), source);
            if (at != sources_.end()) sources_.erase(at);
            else if (!dead_.load()) return;
            // A failed device let its sources go already: its thread has
            // ended, and is joined once the last of them leaves.
            last = sources_.empty();
        }
        if (last) stop_thread();
    }

    MMRESULT reformat(AudioSource* source, const PcmFormat& format, PcmFormat* output) {
        std::lock_guard control(control_);
        {
            std::lock_guard lock(sources_mutex_);
            const bool alone = sources_.size() == 1 && sources_.front() == source;
            const bool same = format.rate == format_.rate && format.channels == format_.channels &&
                              format.bits == format_.bits;
            const bool open = sink_ && !dead_.load();
            if (!alone || same || !open) {
                if (output) *output = format_;
                return open ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
            }
        }
        // The device plays one format at a time: the old one goes first.
        const PcmFormat old = format_;
        stop_thread();
        MMRESULT result = open(format);
        if (result != MMSYSERR_NOERROR && open(old) != MMSYSERR_NOERROR) {
            std::lock_guard lock(sources_mutex_);
            sources_.clear();
            return result;
        }
        MMRESULT started = start_thread();
        if (output) *output = format_;
        return result != MMSYSERR_NOERROR ? result : started;
    }

    OutputCounters counters() const {
        return {played_.load(std::memory_order_relaxed), underruns_.load(std::memory_order_relaxed)};
    }

    void wake() {
        {
            std::lock_guard lock(wake_mutex_);
            woken_ = true;
        }
        wake_cv_.notify_all();
    }

private:
    // Under control_, with no thread running.
    MMRESULT open(const PcmFormat& format) {
        std::unique_ptr<PcmSink> sink;
        MMRESULT result = open_pcm_sink(format, sink);
        if (result != MMSYSERR_NOERROR) return result;
        std::lock_guard lock(sources_mutex_);
        sink_ = std::move(sink);
        format_ = sink_->format();
        played_before_ = played_.load(std::memory_order_relaxed);
        written_ = 0;
        dead_.store(false);
        return MMSYSERR_NOERROR;
    }

    MMRESULT start_thread() {
        stopping_.store(false);
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            std::lock_guard lock(sources_mutex_);
            sources_.clear();
            sink_.reset();
            return MMSYSERR_NOMEM;
        }
        return MMSYSERR_NOERROR;
    }

    // Under control_: ends the thread, which plays out what it took.
    void stop_thread() {
        if (thread_.joinable()) {
            stopping_.store(true);
            wake();
            thread_.join();
        }
        std::lock_guard lock(sources_mutex_);
        sink_.reset();
    }

    void run() {
        // A sound card's interrupt is served ahead of ordinary work: best
        // effort, as a user may not raise a thread's priority.
        setpriority(PRIO_PROCESS, id_t(gettid()), -10);
        PcmSink& sink = *sink_;
        const PcmFormat format = format_;
        const uint32_t period = sink.period_frames();
        std::vector<int32_t> mix(size_t(period) * format.channels);
        std::vector<uint8_t> out(size_t(period) * format.frame_bytes());
        bool failed = false;
        while (!stopping_.load()) {
            // Room first, then the sources: data is taken as late as it can be.
            if (sink.wait_room() == SinkStatus::failed) {
                failed = true;
                break;
            }
            uint32_t frames = 0;
            bool pending = false;
            {
                std::lock_guard lock(sources_mutex_);
                std::fill(mix.begin(), mix.end(), 0);
                for (AudioSource* source : sources_) {
                    if (!source->has_data()) continue;
                    frames = std::max(frames, source->render(mix.data(), period, format, written_));
                }
                pending = sink.played() < written_;
            }
            if (frames == 0) {
                wait_for_data(pending);
                report_heard(sink);
                continue;
            }
            // Everything given before has played: the device ran dry, and
            // the listener heard a gap before these frames.
            if (written_ > 0 && !pending) underruns_.fetch_add(1, std::memory_order_relaxed);
            convert(mix.data(), frames, format, out.data());
            {
                std::lock_guard lock(sources_mutex_);
                written_ += frames;
            }
            if (sink.write(out.data(), frames) == SinkStatus::failed) {
                failed = true;
                break;
            }
            report_heard(sink);
        }
        if (failed) {
            dead_.store(true);
            std::lock_guard lock(sources_mutex_);
            for (AudioSource* source : sources_) source->failed();
            sources_.clear();
            return;
        }
        // What the sources gave is heard before the device closes; the sink
        // holds a couple of periods at most.
        sink.wait_played(written_);
        report_heard(sink);
    }

    void wait_for_data(bool pending) {
        std::unique_lock lock(wake_mutex_);
        wake_cv_.wait_for(lock, pending ? std::chrono::milliseconds(kPlayOutStep) : kIdleWait,
                          [&] { return woken_ || stopping_.load(); });
        woken_ = false;
    }

    void report_heard(PcmSink& sink) {
        const uint64_t played = sink.played();
        played_.store(played_before_ + played, std::memory_order_relaxed);
        std::lock_guard lock(sources_mutex_);
        for (AudioSource* source : sources_) source->heard(played);
    }

    static void convert(const int32_t* mix, uint32_t frames, const PcmFormat& format,
                        uint8_t* out) {
        const size_t n = size_t(frames) * format.channels;
        for (size_t i = 0; i < n; ++i) {
            const int32_t s = std::clamp<int32_t>(mix[i], -32768, 32767);
            if (format.bits == 8) {
                out[i] = uint8_t((s >> 8) + 128);
            } else {
                out[2 * i] = uint8_t(s & 0xFF);
                out[2 * i + 1] = uint8_t((s >> 8) & 0xFF);
            }
        }
    }

    std::mutex control_;  // attach, detach and reformat, one at a time
    std::mutex sources_mutex_;
    std::vector<AudioSource*> sources_;
    std::unique_ptr<PcmSink> sink_;
    PcmFormat format_;
    uint64_t written_ = 0;  // output frames handed to the sink
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> dead_{false};  // the sink failed; the next attach opens a new one
    std::atomic<uint64_t> played_{0};     // frames every sink so far has played
    uint64_t played_before_ = 0;          // by the sinks before this one
    std::atomic<uint64_t> underruns_{0};

    std::mutex wake_mutex_;  // a leaf: sources wake the output under their own locks
    std::condition_variable wake_cv_;
    bool woken_ = false;
};

Output& output() {
    // Never destroyed: sources may go after static destruction began.
    static Output* instance = new Output;
    return *instance;
}

int32_t sample_at(const uint8_t* frames, size_t index, uint16_t bits) {
    if (bits == 8) return (int32_t(frames[index]) - 128) * 256;
    return int16_t(uint16_t(frames[2 * index] | frames[2 * index + 1] << 8));
}

}  // namespace

MMRESULT attach_source(AudioSource* source, const PcmFormat& format, PcmFormat* output_format) {
    return output().attach(source, format, output_format);
}

void detach_source(AudioSource* source) { output().detach(source); }

void wake_output() { output().wake(); }

OutputCounters output_counters() { return output().counters(); }

MMRESULT reformat_output(AudioSource* source, const PcmFormat& format, PcmFormat* output_format) {
    return output().reformat(source, format, output_format);
}

void add_frames(int32_t* mix, const uint8_t* frames, uint32_t count, const PcmFormat& from,
                uint16_t output_channels) {
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t left = sample_at(frames, size_t(i) * from.channels, from.bits);
        const int32_t right =
            from.channels == 2 ? sample_at(frames, size_t(i) * 2 + 1, from.bits) : left;
        if (output_channels == 2) {
            mix[2 * i] += left;
            mix[2 * i + 1] += right;
        } else {
            mix[i] += from.channels == 2 ? (left + right) / 2 : left;
        }
    }
}

uint32_t RateConverter::render(int32_t* mix, uint32_t count, const PcmFormat& from,
                               const PcmFormat& output, Pull pull, void* context) {
    const uint32_t frame_bytes = from.frame_bytes();
    const uint16_t channels = output.channels;
    if (from.rate == output.rate) {
        bytes_.resize(size_t(count) * frame_bytes);
        const uint32_t got = pull(context, bytes_.data(), count);
        add_frames(mix, bytes_.data(), got, from, channels);
        return got;
    }
    constexpr int kFrac = 32;
    const uint64_t step = (uint64_t(from.rate) << kFrac) / output.rate;
    size_t held = held_.size() / channels;
    // Every output frame needs the source frame at its position and the next.
    const uint64_t last = (position_ + uint64_t(count - 1) * step) >> kFrac;
    if (last + 2 > held) {
        const uint32_t wanted = uint32_t(last + 2 - held);
        bytes_.resize(size_t(wanted) * frame_bytes);
        const uint32_t got = pull(context, bytes_.data(), wanted);
        held_.resize((held + got) * channels, 0);
        add_frames(held_.data() + held * channels, bytes_.data(), got, from, channels);
        held += got;
    }
    uint32_t made = 0;
    for (; made < count; ++made) {
        const size_t at = size_t(position_ >> kFrac);
        if (at + 1 >= held) break;
        const int64_t frac = int64_t((position_ >> 16) & 0xFFFF);
        for (uint16_t c = 0; c < channels; ++c) {
            const int32_t a = held_[at * channels + c];
            const int32_t b = held_[(at + 1) * channels + c];
            mix[size_t(made) * channels + c] += a + int32_t(((b - a) * frac) >> 16);
        }
        position_ += step;
    }
    const size_t used = std::min(size_t(position_ >> kFrac), held);
    held_.erase(held_.begin(), held_.begin() + ptrdiff_t(used * channels));
    position_ -= uint64_t(used) << kFrac;
    return made;
}

void RateConverter::clear() {
    held_.clear();
    position_ = 0;
}

}  // namespace win32::mm
