// Qarmet.exe on the demo disc: a stand-in for the game's installer. It
// tells that it was started, and how, on standard output and in
// Qarmet.log in the current folder (when that folder can be written).
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    const char* name = argc > 0 && argv[0] ? argv[0] : "";
    std::printf("Qarmet.exe: the Orvanth 4 installer stand-in was started as \"%s\" with %d argument(s).\n",
                name, argc - 1);
    if (FILE* log = std::fopen("Qarmet.log", "a")) {
        std::fprintf(log, "started as \"%s\" with %d argument(s) at %lld\n", name, argc - 1,
                     static_cast<long long>(std::time(nullptr)));
        std::fclose(log);
    }
    return 0;
}
