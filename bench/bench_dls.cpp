// The DLS renderer: 24 looping voices (pitches from an octave down to an
// octave up, so every mixing mode runs) rendered for 10 s of 22,050 Hz
// stereo output in 10 ms calls, as the library timer would. The counter
// `real_time` is the render time as a fraction of the 10 s it makes;
// `per_voice` divides it by the voices.
//
// BM_AgainstFluidSynth renders the same notes (24 keys from 48 up, channels
// 1-4, velocity 100, held 10 s) with the fluidsynth program and the
// TimGM6mb SoundFont (tools/packages/build-midi.txt) at 22,050 Hz, polyphony
// 24, interpolation, reverb and chorus off, then ours without smoothing,
// in the same iteration. So that its rendering outweighs its start-up, it
// plays the 10 s of notes ten times over (100 s, then the release) and its
// time is divided by ten. Its program starts and loads the SoundFont in
// every run, so a run of an empty MIDI file is timed too and taken off:
// `fluidsynth_real_time` is the rest as a fraction of the 10 s,
// `fluidsynth_run_real_time` the whole run, `ours_real_time` ours, and
// `ratio` fluidsynth's over ours (above 1: ours is faster).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "midi/dls_synth.h"
#include "sonvex.h"

namespace {

using namespace svx::dls;
using Bytes = std::vector<uint8_t>;

void le(Bytes& b, uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
Bytes chunk(const char* id, const Bytes& data) {
    Bytes b(id, id + 4);
    le(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1) b.push_back(0);
    return b;
}
Bytes list(const char* type, const std::vector<Bytes>& parts) {
    Bytes data(type, type + 4);
    for (const Bytes& p : parts) data.insert(data.end(), p.begin(), p.end());
    return chunk("LIST", data);
}

// One instrument whose region plays a looped 16-bit wave of 2000 frames.
Bytes collection() {
    Bytes fmt, data, wsmp, insh, rgnh, wlnk, colh, ptbl;
    le(fmt, 1, 2);
    le(fmt, 1, 2);
    le(fmt, 22050);
    le(fmt, 44100);
    le(fmt, 2, 2);
    le(fmt, 16, 2);
    for (int i = 0; i < 2000; ++i) le(data, uint16_t(int16_t(8000 * std::sin(i * 0.0627))), 2);
    for (uint32_t v : {20u, 60u, 0u, 0u, 1u, 16u, 0u, 100u, 1800u}) le(wsmp, v);
    for (uint32_t v : {1u, 0u, 0u}) le(insh, v);
    for (uint32_t v : {0u, 127u, 0u, 127u, 0u, 0u}) le(rgnh, v, 2);
    le(wlnk, 0, 2);
    le(wlnk, 0, 2);
    le(wlnk, 1);
    le(wlnk, 0);
    le(colh, 1);
    for (uint32_t v : {8u, 1u, 0u}) le(ptbl, v);
    Bytes wave = list("wave", {chunk("fmt ", fmt), chunk("data", data), chunk("wsmp", wsmp)});
    Bytes ins = list("ins ", {chunk("insh", insh),
                              list("lrgn", {list("rgn ", {chunk("rgnh", rgnh), chunk("wlnk", wlnk)})})});
    Bytes body = {'D', 'L', 'S', ' '};
    for (const Bytes& part : {chunk("colh", colh), list("lins", {ins}), chunk("ptbl", ptbl), list("wvpl", {wave})})
        body.insert(body.end(), part.begin(), part.end());
    return chunk("RIFF", body);
}

std::vector<int16_t> output(8192);
int32_t SVXCALLBACK ready(void*) { return 0; }
void* SVXCALLBACK address(void*, int32_t) { return output.data(); }
void SVXCALLBACK load(void*, int32_t, uint32_t) {}

constexpr int kVoices = 24;

// Seconds our engine takes to render the 10 s (timing paused around the
// set-up when `state` is given).
double render_ours(const Bytes& image, benchmark::State* state) {
    if (state) state->PauseTiming();
    auto synth = make_synth(nullptr, 3, 22050, 8192, Output{nullptr, &ready, &address, &load});
    uint32_t id = 0;
    load_collection(*synth, image.data(), image.size(), "bench", false, id);
    for (int v = 0; v < kVoices; ++v) intercept_event(*synth, nullptr, 0x90 | (v % 4), 48 + v, 100);
    render(*synth, 0);
    if (state) state->ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    for (int call = 0; call < 1000; ++call) render(*synth, 10);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (state) state->PauseTiming();
    unload_all(*synth);
    synth.reset();
    if (state) state->ResumeTiming();
    return seconds;
}

void BM_Render24Voices10Seconds(benchmark::State& state) {
    SVX_startup();
    SVX_set_preference(SVX_PREF_DLS_SMOOTH, int32_t(state.range(0)));
    const Bytes image = collection();
    double seconds = 0;
    for (auto _ : state) seconds += render_ours(image, &state);
    const double fraction = seconds / double(state.iterations()) / 10.0;
    state.counters["real_time"] = fraction;
    state.counters["per_voice"] = fraction / kVoices;
    SVX_shutdown();
}
BENCHMARK(BM_Render24Voices10Seconds)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A format 0 MIDI file: a sustained program (organ, looped in the SoundFont
// as our wave is) on channels 1-4, then `repeats` times the notes held for
// 10 s. Program 19 takes two voices a note there, so the 24 voices play
// the first 12 notes. With no repeats only the end of the track.
constexpr int kRepeats = 10;
Bytes midi_file(int repeats) {
    Bytes track = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};  // 500,000 us a quarter
    if (repeats) {
        for (uint8_t ch = 0; ch < 4; ++ch) track.insert(track.end(), {0x00, uint8_t(0xC0 | ch), 19});
    }
    for (int r = 0; r < repeats; ++r) {
        for (int v = 0; v < kVoices; ++v)
            track.insert(track.end(), {0x00, uint8_t(0x90 | (v % 4)), uint8_t(48 + v), 100});
        // 9,600 ticks of 480 a quarter at 120 bpm: 10 s. Its player ends
        // only once every note is off, so the notes end there.
        for (int v = 0; v < kVoices; ++v) {
            if (v == 0)
                track.insert(track.end(), {0xCB, 0x00});
            else
                track.push_back(0x00);
            track.insert(track.end(), {uint8_t(0x80 | (v % 4)), uint8_t(48 + v), 0});
        }
    }
    track.push_back(0x00);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});
    Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    for (int i = 3; i >= 0; --i) file.push_back(uint8_t(track.size() >> (8 * i)));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

// Runs fluidsynth on `midi` rendering to `wav`; its seconds, or -1 when it
// fails or outlasts two minutes.
double run_fluidsynth(const std::string& dir, const std::string& midi, const std::string& wav) {
    const std::string commands = dir + "/commands.txt";
    std::ofstream(commands) << "interp 0\n";
    std::vector<std::string> args = {"fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-r", "22050",
                                     "-o", "synth.polyphony=24", "-f", commands, "-F", wav,
                                     "/usr/share/sounds/sf2/TimGM6mb.sf2", midi};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "fluidsynth", &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) return -1;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
        if (done < 0) return -1;
        if (seconds > 120) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void BM_AgainstFluidSynth(benchmark::State& state) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/bench_dls_XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string dir = pattern;
    for (bool notes : {true, false}) {
        const Bytes m = midi_file(notes ? kRepeats : 0);
        std::ofstream(dir + (notes ? "/notes.mid" : "/empty.mid"), std::ios::binary)
            .write(reinterpret_cast<const char*>(m.data()), std::streamsize(m.size()));
    }
    SVX_startup();
    SVX_set_preference(SVX_PREF_DLS_SMOOTH, 0);
    const Bytes image = collection();
    double ours = 0, run = 0, empty = 0;
    for (auto _ : state) {
        const double with_notes = run_fluidsynth(dir, dir + "/notes.mid", dir + "/notes.wav");
        const double without = run_fluidsynth(dir, dir + "/empty.mid", dir + "/empty.wav");
        if (with_notes < 0 || without < 0) {
            state.SkipWithError("fluidsynth failed (is it installed, with the TimGM6mb SoundFont?)");
            break;
        }
        run += with_notes;
        empty += without;
        ours += render_ours(image, nullptr);
    }
    SVX_shutdown();
    const double n = double(state.iterations()) * 10.0;
    if (state.iterations() > 0 && ours > 0) {
        state.counters["ours_real_time"] = ours / n;
        state.counters["fluidsynth_real_time"] = (run - empty) / (n * kRepeats);
        state.counters["fluidsynth_run_real_time"] = run / (n * kRepeats);
        state.counters["ratio"] = (run - empty) / kRepeats / ours;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}
BENCHMARK(BM_AgainstFluidSynth)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
