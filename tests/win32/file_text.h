// Whole files as strings, for the kernel tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

// Makes the file's folder first, so a test can place a file anywhere.
inline void write_file(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace testing_support
