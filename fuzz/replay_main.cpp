// Replays files through a fuzz target without libFuzzer: every file named,
// and every file in every folder named (a missing folder is skipped, as a
// corpus may not have been made). A finding aborts, as it would under the
// fuzzer; otherwise the count of inputs is printed, and none at all fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static void replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::fprintf(stderr, "%s\n", file.c_str());
    // A copy of exactly the file's size, so reading past it is seen.
    std::vector<uint8_t> exact(bytes);
    exact.shrink_to_fit();
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

int main(int argc, char** argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::recursive_directory_iterator(path, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& f : files) replay(f), ++count;
        } else if (fs::is_regular_file(path, ec)) {
            replay(path);
            ++count;
        }
    }
    std::printf("%zu inputs replayed\n", count);
    // Nothing to replay means the corpus or its seeds went missing.
    return count > 0 ? 0 : 1;
}
