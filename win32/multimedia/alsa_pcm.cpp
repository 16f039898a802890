#include "alsa_pcm.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

namespace win32::mm {

namespace {

using Clock = std::chrono::steady_clock;

// A device that takes or plays nothing for this long has failed.
constexpr auto kStallLimit = std::chrono::seconds(2);
constexpr unsigned kPeriodMicros = 10'000;
constexpr unsigned kBufferMicros = 40'000;

void silent_error(const char*, int, const char*, int, const char*, ...) {}

MMRESULT open_result(int err) { return err == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER; }

class AlsaSink : public PcmSink {
public:
    AlsaSink(snd_pcm_t* pcm, std::string pcm_name, const PcmFormat& format, uint32_t period,
             uint32_t buffer)
        : pcm_(pcm),
          name_("Linux ALSA: " + pcm_name),
          format_(format),
          period_(period),
          // The device is given a period when it holds at most one: it
          // then reads no further ahead than a write to it takes to be
          // heard, which is what callers measure and plan with.
          room_(std::max(period, buffer > period ? buffer - period : period)) {}
    ~AlsaSink() override { snd_pcm_close(pcm_); }

    std::string name() const override { return name_; }
    const PcmFormat& format() const override { return format_; }
    uint32_t period_frames() const override { return period_; }

    SinkStatus write(const void* frames, uint32_t count) override {
        const auto* bytes = static_cast<const uint8_t*>(frames);
        auto last_progress = Clock::now();
        while (count > 0) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm_, bytes, count);
            if (n > 0) {
                bytes += size_t(n) * format_.frame_bytes();
                count -= uint32_t(n);
                written_ += uint64_t(n);
                last_progress = Clock::now();
                continue;
            }
            if (n == -EAGAIN || n == 0) {
                if (Clock::now() - last_progress > kStallLimit) return SinkStatus::failed;
                snd_pcm_wait(pcm_, 10);
                continue;
            }
            // An underrun means everything written has played.
            if (n == -EPIPE) played_ = written_;
            if (snd_pcm_recover(pcm_, int(n), 1) < 0) return SinkStatus::failed;
        }
        return SinkStatus::ok;
    }

    SinkStatus wait_room() override {
        const auto start = Clock::now();
        for (;;) {
            if (Clock::now() - start > kStallLimit) return SinkStatus::failed;
            snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
            if (avail >= snd_pcm_sframes_t(room_)) return SinkStatus::ok;
            if (avail >= 0) {
                snd_pcm_wait(pcm_, 10);
                continue;
            }
            if (avail == -EPIPE) played_ = written_;
            if (snd_pcm_recover(pcm_, int(avail), 1) < 0) return SinkStatus::failed;
        }
    }

    uint64_t played() override {
        update_played();
        return played_;
    }

    SinkStatus wait_played(uint64_t position) override {
        position = std::min(position, written_);
        uint64_t seen = played();
        auto last_progress = Clock::now();
        while (seen < position) {
            if (snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED) return SinkStatus::failed;
            // Frames below the start threshold wait for a start.
            if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
            uint64_t ahead_us = (position - seen) * 1'000'000 / format_.rate;
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::clamp<uint64_t>(ahead_us, 500, 5'000)));
            uint64_t now_played = played();
            if (now_played != seen) {
                seen = now_played;
                last_progress = Clock::now();
            } else if (Clock::now() - last_progress > kStallLimit) {
                return SinkStatus::failed;
            }
        }
        return SinkStatus::ok;
    }


private:
    void update_played() {
        switch (snd_pcm_state(pcm_)) {
            case SND_PCM_STATE_RUNNING:
            case SND_PCM_STATE_DRAINING: {
                snd_pcm_sframes_t delay = 0;
                if (snd_pcm_delay(pcm_, &delay) == 0) {
                    uint64_t pending = uint64_t(std::max<snd_pcm_sframes_t>(delay, 0));
                    uint64_t now = written_ > pending ? written_ - pending : 0;
                    played_ = std::max(played_, now);
                }
                break;
            }
            case SND_PCM_STATE_XRUN:
            case SND_PCM_STATE_SETUP:
                played_ = written_;
                break;
            default:
                break;
        }
    }

    snd_pcm_t* pcm_;
    const std::string name_;
    const PcmFormat format_;
    const uint32_t period_;
    const uint32_t room_;  // free frames that make room for a period
    uint64_t written_ = 0;
    uint64_t played_ = 0;
};

// Sets the format and about 10 ms periods; the result of open_alsa_sink.
MMRESULT configure(snd_pcm_t* pcm, const PcmFormat& format, uint32_t& period, uint32_t& buffer) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0) return MMSYSERR_NODRIVER;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(
            pcm, hw, format.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, format.channels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, format.rate, 0) < 0) {
        return WAVERR_BADFORMAT;
    }
    unsigned period_us = kPeriodMicros;
    unsigned buffer_us = kBufferMicros;
    int dir = 0;
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_us, &dir);
    dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_us, &dir);
    if (snd_pcm_hw_params(pcm, hw) < 0) return MMSYSERR_NODRIVER;

    snd_pcm_uframes_t period_size = 0;
    dir = 0;
    if (snd_pcm_hw_params_get_period_size(hw, &period_size, &dir) < 0 || period_size == 0) {
        return MMSYSERR_NODRIVER;
    }
    period = uint32_t(std::min<snd_pcm_uframes_t>(period_size, format.rate));
    snd_pcm_uframes_t buffer_size = 0;
    if (snd_pcm_hw_params_get_buffer_size(hw, &buffer_size) < 0) return MMSYSERR_NODRIVER;
    buffer = uint32_t(std::min<snd_pcm_uframes_t>(buffer_size, 4 * format.rate));

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    // Start on the first frame: a tiny write must play, not wait for more.
    if (snd_pcm_sw_params_current(pcm, sw) < 0 ||
        snd_pcm_sw_params_set_start_threshold(pcm, sw, 1) < 0 ||
        snd_pcm_sw_params_set_avail_min(pcm, sw, period_size) < 0 ||
        snd_pcm_sw_params(pcm, sw) < 0) {
        return MMSYSERR_NODRIVER;
    }
    if (snd_pcm_prepare(pcm) < 0) return MMSYSERR_NODRIVER;
    return MMSYSERR_NOERROR;
}

}  // namespace

void quiet_alsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(silent_error); });
}

MMRESULT open_alsa_sink(const std::string& pcm_name, const PcmFormat& format,
                        std::unique_ptr<PcmSink>& sink) {
    quiet_alsa();
    snd_pcm_t* pcm = nullptr;
    // Non-blocking, so that a stuck device cannot hold the caller.
    int err = snd_pcm_open(&pcm, pcm_name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) return open_result(err);
    uint32_t period = 0, buffer = 0;
    MMRESULT result = configure(pcm, format, period, buffer);
    if (result != MMSYSERR_NOERROR) {
        snd_pcm_close(pcm);
        return result;
    }
    sink.reset(new AlsaSink(pcm, pcm_name, format, period, buffer));
    return MMSYSERR_NOERROR;
}

bool alsa_pcm_opens(const std::string& pcm_name) {
    quiet_alsa();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, pcm_name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return false;
    }
    snd_pcm_close(pcm);
    return true;
}

}  // namespace win32::mm
