// svxplay: plays a WAV or VOC file through sonvex32 and ends once it has
// been heard to the end. Every failure ends with a non-zero status and the
// reason on standard error.
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sonvex.h"
#include "svxfile.h"
#include "win32/kernel.h"
#include "win32/winmm.h"

namespace {

using svxtool::kFailed;
using svxtool::kUsage;
constexpr int kInterrupted = 130;

const char* const kUsageText =
    "usage: svxplay [options] FILE\n"
    "Plays a WAV (PCM 8 or 16 bits, IMA ADPCM) or VOC file and ends when it has been heard.\n"
    "\n"
    "  --volume N      sample volume, 0-127 (127)\n"
    "  --loops N       plays the file N times; 0 loops until Ctrl-C (1)\n"
    "  --waveout       mixes in the library and plays through waveOut (the default)\n"
    "  --directsound   plays through DirectSound\n"
    "  --device SPEC   the audio output for this run, as WIN32_AUDIO takes it:\n"
    "                  auto, alsa[:PCM], null, wav:FILE (what was heard, as a WAV file)\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit status: 0 played to the end, 1 failed (the reason is on standard error),\n"
    "2 wrong command line, 130 stopped by Ctrl-C.\n";

struct Options {
    std::string file;
    int volume = 127;
    int loops = 1;
    bool directsound = false;
    std::string device;
};

std::atomic<bool> finished{false};
std::atomic<bool> interrupted{false};

void SVXCALLBACK on_end_of_file(HSAMPLE) { finished.store(true); }
void on_signal(int) { interrupted.store(true); }

int fail(const std::string& text) { return svxtool::fail("svxplay", text); }
int usage_error(const std::string& text) { return svxtool::usage_error("svxplay", text, kUsageText); }

using svxtool::number;

// 0 to go on, else the exit status.
int parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const bool takes_value = arg == "--volume" || arg == "--loops" || arg == "--device";
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        } else if (takes_value) {
            if (i + 1 >= argc) return usage_error(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return -1;
        } else if (arg == "--volume") {
            if (!number(value, 0, 127, options.volume))
                return usage_error("--volume takes 0 to 127, not \"" + value + "\"");
        } else if (arg == "--loops") {
            if (!number(value, 0, 65535, options.loops))
                return usage_error("--loops takes 0 to 65535, not \"" + value + "\"");
        } else if (arg == "--device") {
            if (value.empty()) return usage_error("--device needs a value");
            options.device = value;
        } else if (arg == "--directsound" || arg == "--waveout") {
            options.directsound = arg == "--directsound";
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (!options.file.empty()) {
            return usage_error("one file at a time");
        } else {
            options.file = arg;
        }
    }
    if (options.file.empty()) return usage_error("no file given");
    return 0;
}

// The file in a library memory block, so the library knows its size.
void* read_image(const std::string& path, size_t& size, std::string& why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        why = path + ": is a folder, not a sound file";
        return nullptr;
    }
    if (st.st_size == 0) {
        why = path + ": the file is empty";
        return nullptr;
    }
    if (st.st_size > 0x7FFFFFFF) {
        why = path + ": too large for the library (2 GB at most)";
        return nullptr;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(size_t(st.st_size));
    if (!in.read(bytes.data(), std::streamsize(bytes.size()))) {
        why = path + ": cannot be read";
        return nullptr;
    }
    void* image = SVX_mem_alloc_lock(int32_t(bytes.size()));
    if (!image) {
        why = path + ": out of memory";
        return nullptr;
    }
    std::memcpy(image, bytes.data(), bytes.size());
    size = bytes.size();
    return image;
}

bool is_voc(const void* image, size_t size) {
    return size >= 20 && std::memcmp(image, "Creative Voice File\x1A", 20) == 0;
}

// Why the output did not open, from what the device answered.
std::string device_reason(int32_t result) {
    const char* setting = std::getenv("WIN32_AUDIO");
    const std::string audio = setting && *setting ? setting : "auto";
    std::string why = std::string(SVX_last_error());
    if (result == MMSYSERR_ALLOCATED) return why + " The audio device is busy.";
    if (result == WAVERR_BADFORMAT) return why + " The audio device does not play this format.";
    if (audio.rfind("wav:", 0) == 0)
        return why + " The capture file " + audio.substr(4) + " cannot be written.";
    if (audio.rfind("alsa", 0) == 0)
        return why + " The ALSA device did not open: is there a sound card? "
                     "WIN32_AUDIO=null plays silently, wav:FILE writes what is heard.";
    if (audio.rfind("null", 0) == 0 || audio == "auto") return why;
    return why + " WIN32_AUDIO=\"" + audio +
           "\" names no device: it takes auto, alsa[:PCM], null[:options] or wav:FILE.";
}

// Opens the output in the file's own rate and channels, then common formats.
HDIGDRIVER open_output(const void* image, bool directsound, void**& waveout, int32_t& result) {
    struct Try {
        uint32_t rate;
        uint16_t channels;
    };
    std::vector<Try> tries;
    SoundFileInfo info{};
    if (SVX_WAV_info(image, &info) && info.rate >= 8000 && info.rate <= 48000)
        tries.push_back({info.rate, uint16_t(info.channels == 2 ? 2 : 1)});
    for (uint32_t rate : {44100u, 22050u}) tries.push_back({rate, 2});
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, directsound ? 0 : 1);
    // DirectSound wants a window; a console program gives its console's.
    if (directsound) SVX_set_DirectSound_HWND(nullptr, GetConsoleWindow());
    for (const Try& t : tries) {
        const uint16_t align = uint16_t(t.channels * 2);
        const SVXPCMFORMAT format{1, t.channels, t.rate, t.rate * align, align, 16};
        HDIGDRIVER driver = nullptr;
        waveout = nullptr;
        result = SVX_waveOutOpen(&driver, reinterpret_cast<void**>(&waveout), -1, &format);
        if (result == 0) return driver;
        // Only a refused format is worth another try.
        if (result != WAVERR_BADFORMAT) break;
    }
    return nullptr;
}

// Whether the waveOut device behind the driver has failed.
bool device_failed(void** waveout) {
    if (!waveout || !*waveout) return false;
    MMTIME time{TIME_BYTES, {}};
    return waveOutGetPosition(static_cast<HWAVEOUT>(*waveout), &time, sizeof time) ==
           MMSYSERR_NODRIVER;
}

// Takes messages for `ms` (the waveOut writer is a timer of this thread);
// false when the player must stop.
bool pump(uint32_t ms) {
    for (uint32_t waited = 0; waited < ms; waited += 10) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (interrupted.load()) return false;
        Sleep(10);
    }
    return true;
}

int play(const Options& options, void* image, size_t size) {
    SoundFileInfo info{};
    const bool wav = SVX_WAV_info(image, &info) != 0;
    if (!wav && !is_voc(image, size)) return fail(options.file + ": not a WAV or VOC file");
    if (wav && info.data_length == 0) return fail(options.file + ": holds no sound data");

    void** waveout = nullptr;
    int32_t result = 0;
    HDIGDRIVER driver = open_output(image, options.directsound, waveout, result);
    if (!driver) return fail("cannot open the audio output: " + device_reason(result));

    HSAMPLE sample = SVX_allocate_file_sample(driver, image, -1);
    if (!sample) {
        SVX_waveOutClose(driver);
        return fail(options.file + ": " + SVX_last_error());
    }
    int32_t rate = 0, format = 0;
    char description[128] = "";
    SVX_digital_configuration(driver, &rate, &format, description);
    if (wav) {
        const char* kind = info.format_tag == 17 ? "IMA ADPCM" : info.bits == 8 ? "8-bit" : "16-bit";
        std::printf("playing %s: %u Hz %s %s, on %s\n", options.file.c_str(), info.rate, kind,
                    info.channels == 2 ? "stereo" : "mono", description);
    } else {
        std::printf("playing %s: VOC at %d Hz, on %s\n", options.file.c_str(),
                    SVX_sample_playback_rate(sample), description);
    }
    std::fflush(stdout);

    int32_t total_ms = 0, current_ms = 0;
    SVX_sample_ms_position(sample, &total_ms, &current_ms);
    SVX_set_sample_volume(sample, options.volume);
    SVX_set_sample_loop_count(sample, options.loops);
    SVX_register_EOF_callback(sample, on_end_of_file);
    SVX_start_sample(sample);

    // Bounded by the sound's own length: the device is paced in real time.
    const int64_t limit_ms =
        options.loops == 0 ? -1 : int64_t(total_ms) * options.loops + 5000;
    const uint32_t start = SVX_ms_count();
    int status = 0;
    while (!finished.load()) {
        if (!pump(50)) {
            status = kInterrupted;
            break;
        }
        if (device_failed(waveout)) {
            status = fail("the audio device failed while playing");
            break;
        }
        if (limit_ms >= 0 && int64_t(SVX_ms_count() - start) > limit_ms) {
            status = fail("playback did not finish in time");
            break;
        }
    }
    if (status == 0) {
        // What was mixed last is heard about four output buffers later.
        uint32_t drain_ms = 200;
        if (!options.directsound && rate > 0) {
            const int32_t frame_bytes = ((format & 1) ? 2 : 1) * ((format & 2) ? 2 : 1);
            drain_ms += uint32_t(int64_t(SVX_minimum_sample_buffer_size(driver, rate, format)) *
                                 1000 / (int64_t(rate) * frame_bytes));
        }
        if (!pump(drain_ms)) status = kInterrupted;
        else if (device_failed(waveout)) status = fail("the audio device failed while playing");
    }
    SVX_end_sample(sample);
    SVX_waveOutClose(driver);
    if (status == kInterrupted) std::fprintf(stderr, "svxplay: stopped\n");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parse(argc, argv, options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    if (!options.device.empty()) setenv("WIN32_AUDIO", options.device.c_str(), 1);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    SVX_startup();
    // This thread only waits and asks the device how it is: background work
    // need not stop it, and must not find it stopped inside a device call.
    SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, 0);
    std::string why;
    size_t size = 0;
    void* image = read_image(options.file, size, why);
    const int status = image ? play(options, image, size) : fail(why);
    SVX_shutdown();
    if (image) SVX_mem_free_lock(image);
    return status;
}
