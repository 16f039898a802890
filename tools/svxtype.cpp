// svxtype: tells what kind of sound data each file holds, as the
// library's type detection (SVX_file_type) sees it.
#include <cstdio>
#include <string>
#include <vector>

#include "svxfile.h"

namespace {

const char* const kTool = "svxtype";
const char* const kUsageText =
    "usage: svxtype FILE...\n"
    "Shows the kind of sound data in each file: WAV, VOC, MIDI, XMIDI, DLS.\n"
    "\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit status: 0 every file was read (whatever its kind), 1 a file could not\n"
    "be read (the reason is on standard error), 2 wrong command line.\n";

// By type code.
constexpr const char* kTypes[] = {
    "unknown",
    "WAV, PCM",
    "WAV, IMA ADPCM",
    "WAV, other format",
    "Creative Voice (VOC)",
    "Standard MIDI file",
    "XMIDI",
    "XMIDI with a DLS collection",
    "XMIDI with a compressed DLS collection",
    "DLS collection",
    "compressed DLS collection",
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_done && (arg == "-h" || arg == "--help")) {
            std::fputs(kUsageText, stdout);
            return 0;
        } else if (!options_done && arg == "--") {
            options_done = true;
        } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
            return svxtool::usage_error(kTool, "unknown option " + arg, kUsageText);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return svxtool::usage_error(kTool, "no file given", kUsageText);

    SVX_startup();
    int status = 0;
    for (const std::string& file : files) {
        std::string why;
        svxtool::Image image = svxtool::read_file(file, why);
        if (!image.block) {
            status = svxtool::fail(kTool, why);
            continue;
        }
        const int32_t type = SVX_file_type(image.data, image.size);
        SVX_mem_free_lock(image.block);
        const bool known = type >= 0 && type < int32_t(sizeof kTypes / sizeof kTypes[0]);
        std::printf("%s: %s\n", file.c_str(), known ? kTypes[type] : "unknown");
    }
    SVX_shutdown();
    return status;
}
