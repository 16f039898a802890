// WIN32_AUDIO: which device a PCM sink opens.
//   auto (default)  the ALSA default device if it opens, else null
//   alsa[:pcm]      ALSA PCM `pcm` (default "default")
//   null[:options]  consumes in real time; maxrate=HZ refuses faster
//                   formats, latency=MS sets the period, failafter=MS
//                   makes the device fail that long after opening
//   wav:PATH        like null, and writes what it plays to a WAV file
#include <memory>
#include <string>

#include "alsa_pcm.h"
#include "backend_config.h"
#include "clocked_sink.h"
#include "pcm_sink.h"
#include "win32/kernel_ext.h"

namespace win32::mm {

namespace {

constexpr const char* kNullName = "Null audio device";
constexpr uint32_t kMaxRate = 192000;

struct AudioConfig {
    enum Kind { automatic, alsa, null, wav, invalid } kind = invalid;
    std::string pcm = "default";
    std::string path;
    uint32_t max_rate = kMaxRate;
    uint32_t latency_ms = 10;
    uint32_t fail_after_ms = 0;
};

AudioConfig read_config() {
    BackendChoice choice = read_backend_choice("WIN32_AUDIO", "auto");
    AudioConfig config;
    if (choice.kind == "auto" && !choice.has_arg) {
        config.kind = AudioConfig::automatic;
    } else if (choice.kind == "alsa") {
        config.kind = AudioConfig::alsa;
        if (!choice.arg.empty()) config.pcm = choice.arg;
    } else if (choice.kind == "wav" && !choice.arg.empty()) {
        config.kind = AudioConfig::wav;
        config.path = choice.arg;
    } else if (choice.kind == "null") {
        Options options;
        bool ok = parse_options(choice.arg, options);
        for (const auto& [key, value] : options) {
            ok = ok &&
                 ((key == "maxrate" && parse_number(value, 1, kMaxRate, config.max_rate)) ||
                  (key == "latency" && parse_number(value, 1, 1000, config.latency_ms)) ||
                  (key == "failafter" && parse_number(value, 1, 86'400'000, config.fail_after_ms)));
        }
        if (ok) config.kind = AudioConfig::null;
    }
    if (config.kind == AudioConfig::invalid)
        warn_unreadable("WIN32_AUDIO",
                        "auto, alsa[:PCM], null[:maxrate=HZ,latency=MS,failafter=MS] or wav:PATH");
    return config;
}

std::unique_ptr<PcmSink> make_null(const AudioConfig& config, const PcmFormat& format) {
    return std::make_unique<ClockedSink>(
        format, ClockedSink::Settings{kNullName, config.latency_ms, config.fail_after_ms});
}

// The sink the configuration opens; `query` only checks.
MMRESULT open_configured(const PcmFormat& format, std::unique_ptr<PcmSink>* sink) {
    AudioConfig config = read_config();
    std::unique_ptr<PcmSink> made;
    MMRESULT result = MMSYSERR_NOERROR;
    switch (config.kind) {
        case AudioConfig::automatic:
            if (open_alsa_sink(config.pcm, format, made) != MMSYSERR_NOERROR) {
                made = make_null(AudioConfig{}, format);
            }
            break;
        case AudioConfig::alsa:
            result = open_alsa_sink(config.pcm, format, made);
            break;
        case AudioConfig::null:
            if (format.rate > config.max_rate) return WAVERR_BADFORMAT;
            if (sink) made = make_null(config, format);
            break;
        case AudioConfig::wav:
            if (sink) result = WavSink::open(win32::host_path(config.path.c_str()), format, made);
            break;
        case AudioConfig::invalid:
            return MMSYSERR_NODRIVER;
    }
    if (result == MMSYSERR_NOERROR && sink) *sink = std::move(made);
    return result;
}

}  // namespace

MMRESULT query_pcm_sink(const PcmFormat& format) {
    AudioConfig config = read_config();
    // A real device is asked by opening it; the others by their rules.
    if (config.kind == AudioConfig::alsa || config.kind == AudioConfig::automatic) {
        std::unique_ptr<PcmSink> probe;
        return open_configured(format, &probe);
    }
    return open_configured(format, nullptr);
}

MMRESULT open_pcm_sink(const PcmFormat& format, std::unique_ptr<PcmSink>& sink) {
    return open_configured(format, &sink);
}

std::string pcm_sink_name() {
    AudioConfig config = read_config();
    switch (config.kind) {
        case AudioConfig::automatic:
            return alsa_pcm_opens(config.pcm) ? "Linux ALSA: " + config.pcm : kNullName;
        case AudioConfig::alsa:
            return "Linux ALSA: " + config.pcm;
        case AudioConfig::null:
            return kNullName;
        case AudioConfig::wav:
            return "WAV file writer";
        case AudioConfig::invalid:
            break;
    }
    return "No audio device";
}

DWORD pcm_sink_formats() {
    AudioConfig config = read_config();
    uint32_t max_rate = config.kind == AudioConfig::null ? config.max_rate : kMaxRate;
    // Bits per rate: 8-bit mono, 8-bit stereo, 16-bit mono, 16-bit stereo.
    DWORD formats = 0;
    if (max_rate >= 11025)
        formats |= WAVE_FORMAT_1M08 | WAVE_FORMAT_1S08 | WAVE_FORMAT_1M16 | WAVE_FORMAT_1S16;
    if (max_rate >= 22050)
        formats |= WAVE_FORMAT_2M08 | WAVE_FORMAT_2S08 | WAVE_FORMAT_2M16 | WAVE_FORMAT_2S16;
    if (max_rate >= 44100)
        formats |= WAVE_FORMAT_4M08 | WAVE_FORMAT_4S08 | WAVE_FORMAT_4M16 | WAVE_FORMAT_4S16;
    return config.kind == AudioConfig::invalid ? 0 : formats;
}

}  // namespace win32::mm
