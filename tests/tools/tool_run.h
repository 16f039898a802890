// Runs one of the command-line tools as a user would, from a shell, and
// collects its exit status and what it printed.
#pragma once

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

struct Outcome {
    int status = -1;
    std::string out, err;
};

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::string quoted(const std::string& text) { return "'" + text + "'"; }

// `tool args` in `dir`, with `env` (VAR=value words) before it and nothing
// on standard input; a hard limit keeps a hung tool from hanging the test.
inline Outcome run_tool(const std::filesystem::path& dir, const std::string& tool,
                        const std::string& args, const std::string& env = "") {
    static std::atomic<int> counter{0};
    const std::string id = std::to_string(counter++);
    const auto out = dir / ("out" + id), err = dir / ("err" + id);
    const std::string command = "cd " + quoted(dir.string()) + " && env " + env +
                                " timeout -s KILL 60 " + quoted(tool) + " " + args +
                                " </dev/null >" + quoted(out.string()) + " 2>" +
                                quoted(err.string());
    const int raw = std::system(command.c_str());
    Outcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    std::error_code ec;
    std::filesystem::remove(out, ec);
    std::filesystem::remove(err, ec);
    return outcome;
}

}  // namespace testing_support
