// svxplay: plays any file sonvex32 plays (WAV, VOC, Standard MIDI, XMIDI
// with or without its DLS collection) through the library's quick
// interface and ends once it has been heard to the end. Every failure ends
// with a non-zero status and the reason on standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sonvex.h"
#include "svxfile.h"
#include "win32/kernel.h"
#include "win32/winmm.h"

namespace {

using svxtool::kFailed;
using svxtool::kUsage;
constexpr int kInterrupted = 130;
constexpr uint32_t kProgressMs = 250;

const char* const kUsageText =
    "usage: svxplay [options] FILE\n"
    "Plays a WAV (PCM 8 or 16 bits, IMA ADPCM), VOC, Standard MIDI or XMIDI file\n"
    "(with or without its DLS collection) and ends when it has been heard.\n"
    "\n"
    "  --volume N      volume, 0-127 (127)\n"
    "  --loops N       plays the file N times; 0 loops until Ctrl-C (1)\n"
    "  --start MS      starts MS milliseconds into the file (0)\n"
    "  --progress      shows the position and length on standard error even\n"
    "                  when it is not a terminal (it is shown on a terminal)\n"
    "  --no-progress   never shows it\n"
    "  --waveout       mixes in the library and plays through waveOut (the default)\n"
    "  --directsound   plays through DirectSound unless it is only emulated\n"
    "  --midi MODE     where MIDI goes: device (the MIDI device), dls (the device,\n"
    "                  and files that carry a DLS collection to the built-in\n"
    "                  synthesizer; the default), synth (the built-in synthesizer only)\n"
    "  --device SPEC   the audio output for this run, as WIN32_AUDIO takes it:\n"
    "                  auto, alsa[:PCM], null, wav:FILE (what was heard, as a WAV file)\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit status: 0 played to the end, 1 failed (the reason is on standard error),\n"
    "2 wrong command line, 130 stopped by Ctrl-C (the device is closed first).\n";

struct Options {
    std::string file;
    int volume = 127;
    int loops = 1;
    int start_ms = 0;
    int progress = -1;  // -1: when standard error is a terminal
    bool directsound = false;
    int midi = 2;       // quick start-up's MIDI use
    std::string device;
};

std::atomic<bool> interrupted{false};
void on_signal(int) { interrupted.store(true); }

int fail(const std::string& text) { return svxtool::fail("svxplay", text); }
int usage_error(const std::string& text) { return svxtool::usage_error("svxplay", text, kUsageText); }

using svxtool::number;

// 0 to go on, -1 after --help, else the exit status.
int parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const bool takes_value = arg == "--volume" || arg == "--loops" || arg == "--device" ||
                                 arg == "--start" || arg == "--midi";
        if (!svxtool::split_option(arg, value) && takes_value) {
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
        } else if (arg == "--start") {
            if (!number(value, 0, 999999999, options.start_ms))
                return usage_error("--start takes milliseconds, not \"" + value + "\"");
        } else if (arg == "--midi") {
            if (value == "device") options.midi = 1;
            else if (value == "dls") options.midi = 2;
            else if (value == "synth") options.midi = 3;
            else return usage_error("--midi takes device, dls or synth, not \"" + value + "\"");
        } else if (arg == "--device") {
            if (value.empty()) return usage_error("--device needs a value");
            options.device = value;
        } else if (arg == "--progress" || arg == "--no-progress") {
            options.progress = arg == "--progress";
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

// The file in a library block of its exact size, or null with the reason.
void* read_image(const std::string& path, uint32_t& size, std::string& why) {
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
    void* image = SVX_file_read(path.c_str(), nullptr);
    if (!image) {
        why = path + ": " + SVX_last_error();
        return nullptr;
    }
    size = uint32_t(st.st_size);
    return image;
}

// Why the output did not open, from the setting of the device.
std::string device_reason() {
    const char* setting = std::getenv("WIN32_AUDIO");
    const std::string audio = setting && *setting ? setting : "auto";
    std::string why = std::string(SVX_last_error());
    if (audio.rfind("wav:", 0) == 0)
        return why + " The capture file " + audio.substr(4) + " cannot be written.";
    if (audio.rfind("alsa", 0) == 0)
        return why + " The ALSA device did not open: is there a sound card? "
                     "WIN32_AUDIO=null plays silently, wav:FILE writes what is heard.";
    if (audio.rfind("null", 0) == 0 || audio == "auto") return why;
    return why + " WIN32_AUDIO=\"" + audio +
           "\" names no device: it takes auto, alsa[:PCM], null[:options] or wav:FILE.";
}

// Starts the quick interface with the output in the file's own rate and
// channels when it is a WAV file, else in common formats.
bool start_output(const void* image, const Options& options) {
    struct Try {
        int32_t rate, channels;
    };
    Try tries[3] = {{44100, 2}, {44100, 2}, {22050, 2}};
    SoundFileInfo info{};
    if (SVX_WAV_info(image, &info) && info.rate >= 8000 && info.rate <= 48000)
        tries[0] = {int32_t(info.rate), info.channels == 2 ? 2 : 1};
    for (const Try& t : tries)
        if (SVX_quick_startup(options.directsound ? 1 : 2, options.midi, t.rate, 16, t.channels))
            return true;
    return false;
}

// What kind of file it is, for the first line.
std::string describe(const void* image, uint32_t size, HQUICK quick) {
    SoundFileInfo info{};
    switch (SVX_file_type(image, size)) {
        case SVX_FILETYPE_WAV_PCM:
        case SVX_FILETYPE_WAV_ADPCM:
            SVX_WAV_info(image, &info);
            return std::to_string(info.rate) + " Hz " +
                   (info.format_tag == 17 ? "IMA ADPCM" : info.bits == 8 ? "8-bit" : "16-bit") +
                   (info.channels == 2 ? " stereo" : " mono");
        case SVX_FILETYPE_VOC:
            return "Creative Voice";
        case SVX_FILETYPE_MIDI:
            return "Standard MIDI";
        default:
            return SVX_quick_type(quick) == SVX_QUICK_XMIDI_DLS ? "XMIDI with its DLS collection"
                                                                : "XMIDI";
    }
}

std::string clock_text(int32_t ms) {
    ms = ms < 0 ? 0 : ms;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d.%d", ms / 60000, ms / 1000 % 60, ms / 100 % 10);
    return text;
}

// Takes messages for `ms` (the waveOut writer is a timer of this thread,
// every 50 ms); false when the player must stop. It looks as often as
// that timer fires and no more: each wake-up of a player costs CPU.
constexpr uint32_t kPumpStepMs = 50;
bool pump(uint32_t ms) {
    for (uint32_t waited = 0;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        if (interrupted.load()) return false;
        if (waited >= ms) return true;
        const uint32_t step = std::min(kPumpStepMs, ms - waited);
        Sleep(step);
        waited += step;
    }
}

// How long after the last mixing the end is heard: the device's buffers.
uint32_t drain_ms(bool digital_file) {
    HDIGDRIVER driver = nullptr;
    SVX_quick_handles(&driver, nullptr, nullptr);
    int32_t rate = 0, format = 0;
    SVX_digital_configuration(driver, &rate, &format, nullptr);
    // A margin for a busy machine, where the device thread runs late.
    uint32_t ms = 500;
    if (rate > 0 && SVX_get_preference(SVX_PREF_USE_WAVEOUT) != 0) {
        const int32_t frame_bytes = ((format & 1) ? 2 : 1) * ((format & 2) ? 2 : 1);
        ms += uint32_t(int64_t(SVX_minimum_sample_buffer_size(driver, rate, format)) * 1000 /
                       (int64_t(rate) * frame_bytes));
    }
    // A synthesizer's notes ring on after the sequence's end.
    return digital_file ? ms : ms + 300;
}

int play(const Options& options, void* image, uint32_t size) {
    SoundFileInfo info{};
    const int32_t type = SVX_file_type(image, size);
    if ((type == SVX_FILETYPE_WAV_PCM || type == SVX_FILETYPE_WAV_ADPCM) &&
        SVX_WAV_info(image, &info) && info.data_length == 0)
        return fail(options.file + ": holds no sound data");
    if (type == SVX_FILETYPE_WAV_OTHER)
        return fail(options.file +
                    ": Unsupported wave file format. PCM of 8 or 16 bits and IMA ADPCM play.");
    if (!start_output(image, options)) return fail("cannot open the output: " + device_reason());

    HQUICK quick = SVX_quick_load_mem(image, size);
    if (!quick) {
        const std::string why = SVX_last_error();
        SVX_quick_shutdown();
        if (why == "Unknown file type.")
            return fail(options.file + ": not a sound file svxplay plays (" + why + ")");
        return fail(options.file + ": " + why);
    }
    const bool digital_file = SVX_quick_type(quick) == SVX_QUICK_DIGITAL;
    const int32_t length = SVX_quick_ms_length(quick);
    HDIGDRIVER driver = nullptr;
    SVX_quick_handles(&driver, nullptr, nullptr);
    char where[160] = "";
    if (driver) SVX_digital_configuration(driver, nullptr, nullptr, where);
    const std::string output = digital_file ? std::string(where)
                               : SVX_quick_type(quick) == SVX_QUICK_XMIDI_DLS
                                   ? "the built-in synthesizer, " + std::string(where)
                                   : std::string("the MIDI device");
    std::printf("playing %s: %s, %s, on %s\n", options.file.c_str(),
                describe(image, size, quick).c_str(), clock_text(length).c_str(), output.c_str());
    std::fflush(stdout);

    SVX_quick_set_volume(quick, options.volume, -1);
    if (options.start_ms > 0) SVX_quick_set_ms_position(quick, options.start_ms);
    if (!SVX_quick_play(quick, options.loops)) {
        const std::string why = SVX_last_error();
        SVX_quick_unload(quick);
        SVX_quick_shutdown();
        return fail(options.file + ": " + why);
    }

    const bool progress = options.progress == 1 || (options.progress == -1 && isatty(2));
    // Paced by the device in real time: the sound's own length bounds it.
    const int64_t limit_ms = options.loops == 0 ? -1 : int64_t(length) * options.loops + 5000;
    const uint32_t start = SVX_ms_count();
    uint32_t last_shown = 0;
    int32_t last_position = -1;
    int status = 0;
    while (SVX_quick_status(quick) == SVX_QUICK_PLAYING) {
        if (!pump(kPumpStepMs)) {
            status = kInterrupted;
            break;
        }
        const uint32_t now = SVX_ms_count();
        const int32_t position = SVX_quick_ms_position(quick);
        last_position = position;
        if (progress && now - last_shown >= kProgressMs &&
            SVX_quick_status(quick) == SVX_QUICK_PLAYING) {
            last_shown = now;
            std::fprintf(stderr, "\r%s / %s ", clock_text(position).c_str(), clock_text(length).c_str());
        }
        if (limit_ms >= 0 && int64_t(now - start) > limit_ms) {
            status = fail("playback did not finish in time");
            break;
        }
    }
    // A device that fails hands its buffers straight back: the sound is
    // then mixed faster than it can be heard. Mixing runs ahead of hearing
    // by the output's buffers; the margin allows for this thread
    // starting its clock late on a busy machine.
    const int64_t heard_ms = int64_t(length) * std::max(options.loops, 1) -
                             std::min<int64_t>(options.start_ms, length);
    const int64_t took_ms = int64_t(SVX_ms_count() - start);
    if (status == 0 && digital_file && heard_ms - took_ms > int64_t(drain_ms(true)) + 700)
        status = fail("the audio device failed while playing: " + clock_text(int32_t(heard_ms)) +
                      " of sound went in " + clock_text(int32_t(took_ms)));
    if (status == 0 && !pump(drain_ms(digital_file))) status = kInterrupted;
    if (progress) std::fprintf(stderr, "\r%s / %s\n", clock_text(status == 0 ? length : last_position).c_str(),
                               clock_text(length).c_str());
    SVX_quick_halt(quick);
    SVX_quick_unload(quick);
    SVX_quick_shutdown();
    if (status == kInterrupted) std::fprintf(stderr, "svxplay: stopped\n");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parse(argc, argv, options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    if (!options.device.empty()) setenv("WIN32_AUDIO", options.device.c_str(), 1);
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    SVX_startup();
    // This thread only waits and asks how far it got: background work need
    // not stop it, and must not find it stopped inside a device call.
    SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, 0);
    // DirectSound wants a window; a console program gives its console's.
    if (options.directsound) SVX_set_DirectSound_HWND(nullptr, GetConsoleWindow());
    std::string why;
    uint32_t size = 0;
    void* image = read_image(options.file, size, why);
    const int status = image ? play(options, image, size) : fail(why);
    SVX_shutdown();
    if (image) SVX_mem_free_lock(image);
    return status;
}
