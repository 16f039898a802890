// svxdls: lists, compresses and expands DLS collections through
// SVX_list_DLS, SVX_compress_DLS and SVX_extract_DLS.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "svxfile.h"

namespace {

const char* const kTool = "svxdls";
const char* const kUsageText =
    "usage: svxdls list [--articulation] [--crlf] FILE\n"
    "       svxdls compress DLS_FILE MLS_FILE\n"
    "       svxdls expand MLS_FILE DLS_FILE\n"
    "Lists a DLS collection on standard output, compresses one into the\n"
    "ADPCM form (\"MLS \"), or expands a compressed one back to DLS.\n"
    "\n"
    "  --articulation  lists each region's articulation connections too\n"
    "  --crlf          keeps the listing's CR LF line ends\n"
    "  -h, --help      this text\n"
    "\n"
    "Exit status: 0 done, 1 failed (the reason is on standard error),\n"
    "2 wrong command line.\n";

// The file in a library block of exactly its size: the library then reads
// no further than the file, whatever its RIFF header claims.
void* read_exact(const std::string& path, uint32_t& size, std::string& why) {
    svxtool::Image image = svxtool::read_file(path, why);
    if (!image.block) return nullptr;
    void* exact = SVX_mem_alloc_lock(int32_t(image.size ? image.size : 1));
    if (!exact) {
        why = path + ": " + SVX_last_error();
    } else if (image.size) {
        std::memcpy(exact, image.data, image.size);
    }
    size = image.size;
    SVX_mem_free_lock(image.block);
    return exact;
}

}  // namespace

int main(int argc, char** argv) {
    using svxtool::usage_error;
    bool articulation = false, crlf = false;
    std::string command;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return 0;
        } else if (arg == "--articulation") {
            articulation = true;
        } else if (arg == "--crlf") {
            crlf = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error(kTool, "unknown option " + arg, kUsageText);
        } else if (command.empty()) {
            command = arg;
        } else {
            files.push_back(arg);
        }
    }
    if (command.empty()) return usage_error(kTool, "no command given", kUsageText);
    const size_t wanted = command == "list" ? 1 : (command == "compress" || command == "expand") ? 2 : 0;
    if (wanted == 0) return usage_error(kTool, "unknown command " + command, kUsageText);
    if (files.size() != wanted)
        return usage_error(kTool, command + " takes " + (wanted == 1 ? "one file" : "two files"), kUsageText);
    if ((articulation || crlf) && command != "list")
        return usage_error(kTool, "--articulation and --crlf are for list", kUsageText);

    SVX_startup();
    std::string why;
    uint32_t size = 0;
    void* image = read_exact(files[0], size, why);
    if (!image) {
        SVX_shutdown();
        return svxtool::fail(kTool, why);
    }
    int status = 0;
    if (command == "list") {
        char* text = nullptr;
        uint32_t length = 0;
        if (!SVX_list_DLS(image, &text, &length, articulation ? SVX_LIST_DLS_ARTICULATION : 0)) {
            status = svxtool::fail(kTool, files[0] + ": " + SVX_last_error());
        } else {
            for (uint32_t i = 0; i + 1 < length; ++i)
                if (crlf || text[i] != '\r') std::fputc(text[i], stdout);
            SVX_mem_free_lock(text);
            if (std::fflush(stdout) != 0) status = svxtool::fail(kTool, "cannot write the listing");
        }
    } else {
        void* out = nullptr;
        uint32_t out_size = 0;
        int32_t ok = 0;
        if (command == "compress") {
            ok = SVX_compress_DLS(image, &out, &out_size);
        } else if (size < 12 || std::memcmp(static_cast<char*>(image) + 8, "MLS ", 4) != 0) {
            SVX_set_error("Not a compressed DLS file.");
        } else {
            ok = SVX_extract_DLS(image, size, nullptr, nullptr, &out, &out_size) && out;
        }
        if (!ok) {
            status = svxtool::fail(kTool, files[0] + ": " + SVX_last_error());
        } else if (!SVX_file_write(files[1].c_str(), out, out_size)) {
            status = svxtool::fail(kTool, files[1] + ": " + SVX_last_error());
        }
        if (out) SVX_mem_free_lock(out);
    }
    SVX_mem_free_lock(image);
    SVX_shutdown();
    return status;
}
