// svxmidilist: lists every chunk and event of a Standard MIDI File,
// through SVX_list_MIDI.
#include <cstdio>
#include <string>

#include "svxfile.h"

namespace {

const char* const kTool = "svxmidilist";
const char* const kUsageText =
    "usage: svxmidilist [options] FILE\n"
    "Lists the chunks and events of a Standard MIDI File on standard output.\n"
    "\n"
    "  --roland        decodes MT-32 system-exclusive messages\n"
    "  --map           prints the MT-32 parameter map first\n"
    "  --areas         prints only the areas of the map first\n"
    "  --crlf          keeps the listing's CR LF line ends\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit status: 0 listed, 1 failed (the reason is on standard error),\n"
    "2 wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
    using svxtool::usage_error;
    uint32_t flags = 0;
    bool crlf = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return 0;
        } else if (arg == "--roland") {
            flags |= SVX_LIST_ROLAND_SYSEX;
        } else if (arg == "--map") {
            flags |= SVX_LIST_MT32_MAP;
        } else if (arg == "--areas") {
            flags |= SVX_LIST_MT32_AREAS;
        } else if (arg == "--crlf") {
            crlf = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error(kTool, "unknown option " + arg, kUsageText);
        } else if (!file.empty()) {
            return usage_error(kTool, "one file at a time", kUsageText);
        } else {
            file = arg;
        }
    }
    if (file.empty()) return usage_error(kTool, "no file given", kUsageText);

    SVX_startup();
    std::string why;
    svxtool::Image midi = svxtool::read_file(file, why);
    if (!midi.block) {
        SVX_shutdown();
        return svxtool::fail(kTool, why);
    }
    char* text = nullptr;
    uint32_t size = 0;
    const int32_t ok = SVX_list_MIDI(midi.data, midi.size, &text, &size, flags);
    SVX_mem_free_lock(midi.block);
    if (!ok) {
        const std::string reason = SVX_last_error();
        SVX_shutdown();
        return svxtool::fail(kTool, file + ": " + reason);
    }
    for (uint32_t i = 0; i + 1 < size; ++i)
        if (crlf || text[i] != '\r') std::fputc(text[i], stdout);
    SVX_mem_free_lock(text);
    SVX_shutdown();
    if (std::fflush(stdout) != 0) return svxtool::fail(kTool, "cannot write the listing");
    return 0;
}
