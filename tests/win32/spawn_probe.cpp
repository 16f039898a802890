// Started by the process tests: writes its arguments, one per line, to the
// file named by SPAWN_PROBE_OUT, after an optional pause.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (const char* pause = std::getenv("SPAWN_PROBE_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(pause)));
    const char* out = std::getenv("SPAWN_PROBE_OUT");
    if (!out) return 2;
    std::string temp = std::string(out) + ".part";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return 1;
    std::fprintf(f, "%d\n", argc);
    for (int i = 0; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    // Appears whole, so the test never reads half a file.
    return std::rename(temp.c_str(), out) == 0 ? 0 : 1;
}
