// A PCM output device: it takes interleaved frames and consumes them in
// real time. waveOut feeds one per open device with the queued headers;
// the DirectSound stand-in feeds one with its software mix. Which device
// is used comes from WIN32_AUDIO when the sink opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "win32/winmm.h"

namespace win32::mm {

struct PcmFormat {
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint16_t bits = 0;  // 8 (unsigned) or 16 (signed, little-endian)

    uint32_t frame_bytes() const { return uint32_t(channels) * bits / 8; }
};

enum class SinkStatus {
    ok,
    failed,  // the device is gone; the sink is of no further use
};

// One thread feeds a sink. Positions count frames since the sink opened.
class PcmSink {
public:
    virtual ~PcmSink() = default;

    // Product name, as device caps report it.
    virtual std::string name() const = 0;
    virtual const PcmFormat& format() const = 0;
    // The device's unit of playback. A period holding fewer frames plays
    // for a whole period on devices that work in periods.
    virtual uint32_t period_frames() const = 0;

    // Hands frames to the device, blocking while its buffer is full (about
    // a period at a time).
    virtual SinkStatus write(const void* frames, uint32_t count) = 0;
    // Blocks until a period can be written without blocking, so that a
    // caller takes its data as late as it can.
    virtual SinkStatus wait_room() = 0;
    // Frames played so far; never more than have been written.
    virtual uint64_t played() = 0;
    // Blocks until played() reaches `position` (capped at what has been
    // written).
    virtual SinkStatus wait_played(uint64_t position) = 0;
};

// Checks a format against the configured device without keeping it open.
// Returns MMSYSERR_NOERROR, WAVERR_BADFORMAT, or why the device cannot be
// used (MMSYSERR_NODRIVER, MMSYSERR_ALLOCATED).
MMRESULT query_pcm_sink(const PcmFormat& format);

// Opens the configured device for `format`; same results as the query.
// The sink may play another format (a capture file keeps its first one):
// its format() tells.
MMRESULT open_pcm_sink(const PcmFormat& format, std::unique_ptr<PcmSink>& sink);

// Product name of the configured device, as it would open now.
std::string pcm_sink_name();

// Formats the configured device plays (WAVE_FORMAT_* bits of the caps).
DWORD pcm_sink_formats();

}  // namespace win32::mm
