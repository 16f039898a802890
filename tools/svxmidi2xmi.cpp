// svxmidi2xmi: converts a Standard MIDI File to the XMIDI the library's
// sequencer plays, through SVX_MIDI_to_XMI.
#include <cstdlib>
#include <string>

#include "svxfile.h"

namespace {

const char* const kTool = "svxmidi2xmi";
const char* const kUsageText =
    "usage: svxmidi2xmi [options] INPUT.mid OUTPUT.xmi\n"
    "Converts a Standard MIDI File (format 0 or 1) to XMIDI.\n"
    "\n"
    "  --tolerant      notes left open, more than 32 notes at once and bad branch\n"
    "                  points are reported and the conversion goes on\n"
    "  --rate HZ       the service rate the XMIDI is timed for, 1-1000 (120)\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit status: 0 converted, 1 failed (the reason is on standard error),\n"
    "2 wrong command line.\n";

using svxtool::number;

}  // namespace

int main(int argc, char** argv) {
    using svxtool::usage_error;
    bool tolerant = false;
    int rate = 120;
    std::string files[2];
    int file_count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return 0;
        } else if (arg == "--tolerant") {
            tolerant = true;
        } else if (arg == "--rate" || arg.rfind("--rate=", 0) == 0) {
            std::string value;
            if (arg == "--rate") {
                if (i + 1 >= argc) return usage_error(kTool, "--rate needs a value", kUsageText);
                value = argv[++i];
            } else {
                value = arg.substr(7);
            }
            if (!number(value, 1, 1000, rate))
                return usage_error(kTool, "--rate takes 1 to 1000, not \"" + value + "\"", kUsageText);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error(kTool, "unknown option " + arg, kUsageText);
        } else if (file_count == 2) {
            return usage_error(kTool, "one input and one output file", kUsageText);
        } else {
            files[file_count++] = arg;
        }
    }
    if (file_count < 2) return usage_error(kTool, file_count ? "no output file given" : "no input file given", kUsageText);

    SVX_startup();
    SVX_set_preference(SVX_PREF_MIDI_SERVICE_RATE, rate);
    std::string why;
    svxtool::Image midi = svxtool::read_file(files[0], why);
    if (!midi.block) {
        SVX_shutdown();
        return svxtool::fail(kTool, why);
    }
    void* xmidi = nullptr;
    uint32_t size = 0;
    SVX_set_error("");
    const int32_t ok = SVX_MIDI_to_XMI(midi.data, midi.size, &xmidi, &size, tolerant ? SVX_MIDI_TOLERANT : 0);
    SVX_mem_free_lock(midi.block);
    int status = 0;
    if (!ok) {
        status = svxtool::fail(kTool, files[0] + ": " + SVX_last_error());
    } else {
        // A tolerated fault is worth knowing about.
        if (*SVX_last_error()) std::fprintf(stderr, "%s: %s: warning: %s\n", kTool, files[0].c_str(), SVX_last_error());
        if (!SVX_file_write(files[1].c_str(), xmidi, size))
            status = svxtool::fail(kTool, files[1] + ": " + SVX_last_error());
    }
    SVX_mem_free_lock(xmidi);
    SVX_shutdown();
    return status;
}
