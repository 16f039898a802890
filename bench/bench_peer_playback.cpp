// CPU of playing a 30-second 44.1 kHz stereo WAV in real time: svxplay on
// the null audio output against ffplay -nodisp -autoexit on SDL's dummy
// driver. Runs alternate; each child's user + system time and voluntary
// context switches come from wait4. Usage: bench_peer_playback [RUNS]
// (3 each by default); svxplay is taken from beside this program.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "peer.h"

namespace {

constexpr int kRate = 44100, kSeconds = 30;

void put(std::ofstream& f, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.put(char(v >> (8 * i)));
}

void write_wav(const std::string& path) {
    std::ofstream f(path, std::ios::binary);
    const uint32_t data = uint32_t(kRate) * kSeconds * 4;
    f.write("RIFF", 4);
    put(f, 36 + data, 4);
    f.write("WAVEfmt ", 8);
    put(f, 16, 4);
    put(f, 1, 2);
    put(f, 2, 2);
    put(f, kRate, 4);
    put(f, kRate * 4, 4);
    put(f, 4, 2);
    put(f, 16, 2);
    f.write("data", 4);
    put(f, data, 4);
    for (int i = 0; i < kRate * kSeconds; ++i) {
        const double t = double(i) / kRate;
        put(f, uint16_t(int16_t(9000 * std::sin(2 * M_PI * 440 * t))), 2);
        put(f, uint16_t(int16_t(9000 * std::sin(2 * M_PI * 660 * t))), 2);
    }
}

struct Usage {
    double cpu_s = 0, wall_s = 0;
    long switches = 0;
    bool ok = false;
};

Usage run(const std::vector<std::string>& argv, const char* env_name, const char* env_value) {
    const double start = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    }();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(env_name, env_value, 1);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    Usage u;
    int status = 0;
    rusage r{};
    if (pid < 0 || wait4(pid, &status, 0, &r) != pid) return u;
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    u.wall_s = double(t.tv_sec) + double(t.tv_nsec) / 1e9 - start;
    u.cpu_s = double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
              double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    u.switches = r.ru_nvcsw;
    u.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return u;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const std::string wav =
        (std::filesystem::temp_directory_path() / ("bench_peer_playback_" + std::to_string(getpid()) + ".wav"))
            .string();
    write_wav(wav);
    const std::string svxplay = std::string(KD_BIN_DIR) + "/svxplay";
    std::vector<double> ours_cpu, peer_cpu, ours_sw, peer_sw;
    for (int i = 0; i < runs; ++i) {
        for (int which = 0; which < 2; ++which) {
            const bool ours = (which + i) % 2 == 0;
            const Usage u = ours ? run({svxplay, wav}, "WIN32_AUDIO", "null")
                                 : run({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", wav},
                                       "SDL_AUDIODRIVER", "dummy");
            if (!u.ok) {
                std::fprintf(stderr, "%s failed\n", ours ? "svxplay" : "ffplay");
                return 1;
            }
            std::printf("  %-8s %.1f s wall, %.3f s CPU (%.2f %%), %ld voluntary switches\n",
                        ours ? "svxplay" : "ffplay", u.wall_s, u.cpu_s, 100 * u.cpu_s / kSeconds, u.switches);
            std::fflush(stdout);
            (ours ? ours_cpu : peer_cpu).push_back(u.cpu_s);
            (ours ? ours_sw : peer_sw).push_back(double(u.switches));
        }
    }
    std::filesystem::remove(wav);
    const double oc = peer::median(ours_cpu), pc = peer::median(peer_cpu);
    std::printf("30 s 44.1 kHz stereo in real time: svxplay %.2f %% of a core, %.0f switches   "
                "ffplay %.2f %%, %.0f switches   peer/ours %.2fx\n",
                100 * oc / kSeconds, peer::median(ours_sw), 100 * pc / kSeconds, peer::median(peer_sw), pc / oc);
    return 0;
}
