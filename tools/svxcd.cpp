// svxcd: an audio CD player over sonvex32's CD functions. Lists the tracks
// and the disc identifier, plays a track or a range with a progress line
// (pause and resume from standard input), reads and sets the CD volume,
// opens and closes the door. Every failure ends with a non-zero status and
// the reason on standard error.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "sonvex.h"
#include "svxfile.h"

namespace {

using svxtool::kFailed;
using svxtool::kUsage;
constexpr int kInterrupted = 130;

const char* const kUsageText =
    "usage: svxcd [options] COMMAND\n"
    "Plays an audio CD through sonvex32.\n"
    "\n"
    "Commands:\n"
    "  list            the tracks with their start and length, and the disc identifier\n"
    "  play [N[-M]]    plays track N, or tracks N to M (every track when none is given),\n"
    "                  and ends when it has been heard; while it plays, a line \"p\" on\n"
    "                  standard input pauses or resumes, \"q\" stops\n"
    "  volume [V]      shows the CD volume (0-127), or sets it to V (a virtual disc's\n"
    "                  volume lasts for the run: give --volume to play)\n"
    "  eject, close    opens or closes the drive's door\n"
    "\n"
    "Options:\n"
    "  --disc DIR      plays the WAV files of DIR, in name order, or its CUE sheet with\n"
    "                  its BIN image, as a disc (the same as WIN32_CD=virtual:DIR)\n"
    "  --drive L       opens the CD device of drive letter L instead of the first one\n"
    "  --volume V      sets the CD volume, 0-127, before playing\n"
    "  --device SPEC   the audio output for this run, as WIN32_AUDIO takes it:\n"
    "                  auto, alsa[:PCM], null, wav:FILE (what was heard, as a WAV file)\n"
    "  -h, --help      this text\n"
    "\n"
    "The drive is the one WIN32_CD names: virtual:DIR, linux:/dev/srN or none.\n"
    "Exit status: 0 done, 1 failed (the reason is on standard error), 2 wrong command\n"
    "line, 130 stopped by Ctrl-C.\n";

struct Options {
    std::string command;
    std::string argument;
    std::string disc;
    std::string device;
    char drive = 0;
    int volume = -1;
};

std::atomic<bool> interrupted{false};
void on_signal(int) { interrupted.store(true); }

int fail(const std::string& text) { return svxtool::fail("svxcd", text); }
int usage_error(const std::string& text) { return svxtool::usage_error("svxcd", text, kUsageText); }

using svxtool::number;

// 0 to go on, -1 after --help, else the exit status.
int parse(int argc, char** argv, Options& options) {
    bool have_argument = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        const bool takes_value =
            arg == "--disc" || arg == "--drive" || arg == "--volume" || arg == "--device";
        if (!svxtool::split_option(arg, value) && takes_value) {
            if (i + 1 >= argc) return usage_error(arg + " needs a value");
            value = argv[++i];
        }
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return -1;
        } else if (arg == "--disc") {
            if (value.empty()) return usage_error("--disc needs a folder");
            options.disc = value;
        } else if (arg == "--device") {
            if (value.empty()) return usage_error("--device needs a value");
            options.device = value;
        } else if (arg == "--drive") {
            if (value.size() != 1 || !std::isalpha(static_cast<unsigned char>(value[0])))
                return usage_error("--drive takes one letter, not \"" + value + "\"");
            options.drive = char(std::toupper(static_cast<unsigned char>(value[0])));
        } else if (arg == "--volume") {
            if (!number(value, 0, 127, options.volume))
                return usage_error("--volume takes 0 to 127, not \"" + value + "\"");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (options.command.empty()) {
            options.command = arg;
        } else if (!have_argument) {
            options.argument = arg;
            have_argument = true;
        } else {
            return usage_error("too many arguments");
        }
    }
    const std::string& c = options.command;
    if (c.empty()) return usage_error("no command given");
    if (c != "list" && c != "play" && c != "volume" && c != "eject" && c != "close")
        return usage_error("unknown command " + c);
    if (have_argument && c != "play" && c != "volume")
        return usage_error(c + " takes no argument");
    return 0;
}

std::string clock_text(int32_t ms) {
    char text[32];
    if (ms < 0) ms = 0;
    std::snprintf(text, sizeof text, "%d:%02d.%03d", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

std::string why_no_drive() {
    const char* setting = std::getenv("WIN32_CD");
    const std::string cd = setting && *setting ? setting : "none";
    if (cd == "none")
        return "no CD drive: WIN32_CD is none; give --disc DIR, or set WIN32_CD to "
               "virtual:DIR or linux:/dev/srN";
    return "the CD drive of WIN32_CD=\"" + cd + "\" did not open";
}

int list(HREDBOOK hand) {
    const int32_t tracks = SVX_redbook_tracks(hand);
    std::printf("track  start      length\n");
    for (int32_t t = 1; t <= tracks; ++t) {
        int32_t start = 0, end = 0;
        SVX_redbook_track_info(hand, t, &start, &end);
        std::printf("%5d  %-9s  %s\n", t, clock_text(start).c_str(), clock_text(end - start).c_str());
    }
    std::printf("%d track%s, disc id %08X\n", tracks, tracks == 1 ? "" : "s",
                unsigned(SVX_redbook_id(hand)));
    return 0;
}

// "N" or "N-M", within the disc's tracks.
bool read_range(const std::string& text, int32_t tracks, int& first, int& last, std::string& why) {
    if (text.empty()) {
        first = 1;
        last = tracks;
        if (tracks == 0) why = "the disc has no tracks";
        return tracks > 0;
    }
    const size_t dash = text.find('-');
    const std::string a = text.substr(0, dash);
    const std::string b = dash == std::string::npos ? a : text.substr(dash + 1);
    if (!number(a, 1, 99, first) || !number(b, 1, 99, last) || last < first) {
        why = "\"" + text + "\" is not a track or a range N-M";
        return false;
    }
    if (last > tracks) {
        why = "track " + std::to_string(last) + ": the disc has " + std::to_string(tracks) +
              " track" + (tracks == 1 ? "" : "s");
        return false;
    }
    return true;
}

// A line of standard input, without waiting: 'p' or 'q', else 0.
char command_from_input(bool& open) {
    if (!open) return 0;
    pollfd in{0, POLLIN, 0};
    if (::poll(&in, 1, 0) <= 0 || !(in.revents & (POLLIN | POLLHUP))) return 0;
    char buffer[64];
    const ssize_t got = ::read(0, buffer, sizeof buffer);
    if (got <= 0) {
        open = false;  // end of input: nothing more to wait for from it
        return 0;
    }
    for (ssize_t i = 0; i < got; ++i)
        if (buffer[i] == 'p' || buffer[i] == 'q') return buffer[i];
    return 0;
}

int play(HREDBOOK hand, const std::string& range) {
    int first = 0, last = 0;
    std::string why;
    if (!read_range(range, SVX_redbook_tracks(hand), first, last, why)) return fail(why);
    int32_t start = 0, end = 0, ignored = 0;
    SVX_redbook_track_info(hand, first, &start, &ignored);
    SVX_redbook_track_info(hand, last, &ignored, &end);
    if (SVX_redbook_play(hand, start, end) != 1) return fail("the drive did not play");
    std::printf("playing track%s %s, %s\n", first == last ? "" : "s", range.empty() ? "all" : range.c_str(),
                clock_text(end - start).c_str());
    std::fflush(stdout);

    const bool progress = ::isatty(1);
    bool input_open = true;
    // Bounded by the range's own length, paused time aside.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(end - start + 5000);
    int status = 0;
    for (;;) {
        const int32_t state = SVX_redbook_status(hand);
        if (state != 1 && state != 2) break;
        if (interrupted.load()) {
            status = kInterrupted;
            break;
        }
        const char command = command_from_input(input_open);
        if (command == 'q') break;
        if (command == 'p') {
            const int32_t now = state == 1 ? SVX_redbook_pause(hand) : SVX_redbook_resume(hand);
            std::printf("%s%s\n", progress ? "\r" : "", now == 2 ? "paused" : "playing");
            std::fflush(stdout);
        }
        if (state == 2) deadline += std::chrono::milliseconds(100);
        if (std::chrono::steady_clock::now() > deadline) {
            status = fail("play did not end in time");
            break;
        }
        if (progress && state == 1) {
            const int32_t position = SVX_redbook_position(hand);
            std::printf("\rtrack %2d  %s / %s ", SVX_redbook_track(hand),
                        clock_text(position - start).c_str(), clock_text(end - start).c_str());
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    SVX_redbook_stop(hand);
    if (progress) std::printf("\n");
    if (status == kInterrupted) std::fprintf(stderr, "svxcd: stopped\n");
    return status;
}

int run(const Options& options) {
    HREDBOOK hand = options.drive ? SVX_redbook_open_drive(options.drive) : SVX_redbook_open(0);
    if (!hand) {
        if (options.drive)
            return fail(std::string("no CD device opens on drive ") + options.drive + ":");
        return fail(why_no_drive());
    }
    int status = 0;
    if (options.command == "eject") {
        SVX_redbook_eject(hand);
    } else if (options.command == "close") {
        SVX_redbook_retract(hand);
        if (SVX_redbook_status(hand) == 0) status = fail("the drive has no disc it can read");
    } else if (options.command == "volume" && !options.argument.empty()) {
        int volume = 0;
        if (!number(options.argument, 0, 127, volume)) {
            status = usage_error("volume takes 0 to 127, not \"" + options.argument + "\"");
        } else if (SVX_redbook_set_volume(hand, volume) < 0) {
            status = fail("the CD line has no volume control");
        } else {
            std::printf("volume %d\n", SVX_redbook_volume(hand));
        }
    } else if (options.command == "volume") {
        const int32_t volume = SVX_redbook_volume(hand);
        if (volume < 0) status = fail("the CD line has no volume control");
        else std::printf("volume %d\n", volume);
    } else if (SVX_redbook_status(hand) == 0) {
        status = fail("the drive has no disc it can read (is the door open?)");
    } else {
        if (options.volume >= 0 && SVX_redbook_set_volume(hand, options.volume) < 0)
            std::fprintf(stderr, "svxcd: the CD line has no volume control; playing as it is\n");
        status = options.command == "list" ? list(hand) : play(hand, options.argument);
    }
    SVX_redbook_close(hand);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parse(argc, argv, options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    if (!options.disc.empty()) setenv("WIN32_CD", ("virtual:" + options.disc).c_str(), 1);
    if (!options.device.empty()) setenv("WIN32_AUDIO", options.device.c_str(), 1);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    SVX_startup();
    const int status = run(options);
    SVX_shutdown();
    return status;
}
