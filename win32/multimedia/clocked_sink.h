// Sinks without hardware behind them: a clock plays the written frames in
// whole periods, as a sound card would, so that callers see real timing.
// The null device drops what it plays; the WAV writer appends it to a file.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "pcm_sink.h"

namespace win32::mm {

class ClockedSink : public PcmSink {
public:
    struct Settings {
        std::string name;
        uint32_t period_ms = 10;     // how long one period (and so a tiny write) takes
        uint32_t fail_after_ms = 0;  // non-zero: the device fails that long after opening
    };

    ClockedSink(const PcmFormat& format, Settings settings);

    std::string name() const override { return settings_.name; }
    const PcmFormat& format() const override { return format_; }
    uint32_t period_frames() const override { return period_frames_; }
    SinkStatus write(const void* frames, uint32_t count) override;
    SinkStatus wait_room() override;
    uint64_t played() override;
    SinkStatus wait_played(uint64_t position) override;

protected:
    // A period has finished playing; runs with the sink's lock held. The
    // frames are there only when keeps_frames(). False: the device failed.
    virtual bool on_played(const uint8_t* frames, uint32_t count) {
        (void)frames;
        (void)count;
        return true;
    }
    virtual bool keeps_frames() const { return false; }

private:
    using Clock = std::chrono::steady_clock;
    struct Period {
        uint64_t end = 0;  // position after its last frame
        uint32_t count = 0;
        std::vector<uint8_t> frames;
    };
    // Periods the device holds, the one playing included: how far ahead of
    // what is heard it takes data. As much as the ALSA device is given
    // (40 ms), so that the thread feeding it may wake as late on a busy
    // machine without a gap.
    static constexpr size_t kDepth = 4;
    // Periods a write to an idle device takes to be heard: its latency,
    // which callers measure with a tiny write and plan with. It is more
    // than the device reads ahead, as on a card that primes its buffer.
    static constexpr size_t kLatency = 5;

    void advance(Clock::time_point now);
    // Why a blocking call must return now, if it must.
    bool stop_reason(SinkStatus& status);

    const PcmFormat format_;
    const Settings settings_;
    const uint32_t period_frames_;
    const Clock::duration period_length_;
    const Clock::time_point opened_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Period> queue_;  // written, not yet played
    std::vector<std::vector<uint8_t>> spare_;
    Clock::time_point front_end_{};  // when the front period has played
    uint64_t written_ = 0;
    uint64_t played_ = 0;
    bool failed_ = false;
};

class CaptureFile;

// A null device that also writes every frame it plays to a WAV file, and
// keeps the file's header current so that it is valid at any moment. The
// file is made once per process and path: a device opened again later
// goes on at its end, in the format it started with, so that one file
// holds everything that was heard.
class WavSink : public ClockedSink {
public:
    // MMSYSERR_NOERROR, or MMSYSERR_NODRIVER when the file cannot be made.
    // The sink plays `format`, or the format of the file it continues.
    static MMRESULT open(const std::string& host_path, const PcmFormat& format,
                         std::unique_ptr<PcmSink>& sink);
    ~WavSink() override;

protected:
    bool on_played(const uint8_t* frames, uint32_t count) override;
    bool keeps_frames() const override { return true; }

private:
    WavSink(std::shared_ptr<CaptureFile> file, const PcmFormat& format);

    std::shared_ptr<CaptureFile> file_;
};

}  // namespace win32::mm
