// The ALSA PCM device behind WIN32_AUDIO=alsa[:pcm] and auto.
#pragma once

#include <memory>
#include <string>

#include "pcm_sink.h"

namespace win32::mm {

// MMSYSERR_NOERROR; WAVERR_BADFORMAT when the device cannot play the
// format; MMSYSERR_ALLOCATED when it is busy; MMSYSERR_NODRIVER otherwise.
MMRESULT open_alsa_sink(const std::string& pcm, const PcmFormat& format,
                        std::unique_ptr<PcmSink>& sink);

// Whether the PCM opens at all (for caps, without a format).
bool alsa_pcm_opens(const std::string& pcm);

// Keeps alsa-lib from printing its errors on stderr: every failure is
// reported through a result code instead.
void quiet_alsa();

}  // namespace win32::mm
