// What the sonvex32 file tools share: reading a file into a library block
// through the library's own file services, and reporting failures.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "sonvex.h"

namespace svxtool {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

inline int fail(const char* tool, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", tool, text.c_str());
    return kFailed;
}

inline int usage_error(const char* tool, const std::string& text, const char* usage) {
    std::fprintf(stderr, "%s: %s\n%s", tool, text.c_str(), usage);
    return kUsage;
}

// A whole decimal number from `low` to `high`, nothing else.
inline bool number(const std::string& text, int low, int high, int& out) {
    if (text.empty() || text.size() > 9) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return false;
    out = value;
    return true;
}

// Splits "--name=value" into the name (left in `arg`) and `value`; false,
// with both untouched, for anything else.
inline bool split_option(std::string& arg, std::string& value) {
    const size_t equals = arg.find('=');
    if (arg.rfind("--", 0) != 0 || equals == std::string::npos) return false;
    value = arg.substr(equals + 1);
    arg.resize(equals);
    return true;
}

// A whole file in a library block (free it with SVX_mem_free_lock), or
// null with the reason.
struct Image {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    void* block = nullptr;
};

inline Image read_file(const std::string& path, std::string& why) {
    struct stat st {};
    // The library opens folders as it opens files; say what it is instead.
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        why = path + ": is a folder, not a file";
        return {};
    }
    void* block = SVX_file_read(path.c_str(), SVX_FILE_READ_SIZE_FIRST);
    if (!block) {
        why = path + ": " + SVX_last_error();
        return {};
    }
    Image image;
    image.block = block;
    std::memcpy(&image.size, block, 4);
    image.data = static_cast<uint8_t*>(block) + 4;
    return image;
}

}  // namespace svxtool
