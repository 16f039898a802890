// A long run of everything playing at once, on the null device paced in
// real time: 14 looping samples of every format (two of them IMA ADPCM),
// two looping streams from disk, two looping sequences that are sent
// through their branches, and the digital output released and reacquired
// once a cycle (a minute). Each cycle it reports the gaps the device heard,
// the drift of the frames played against the wall clock, and the memory in
// use; it fails on any gap, on a drift of 0.1 % or more, on memory that
// grows after the first cycle (beyond allocator noise), or on anything
// that stops playing.
//
// Usage: soak_sound MINUTES
//        soak_sound --smoke   (three 4-second cycles; timing not judged)
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "digital_support.h"
#include "midi_support.h"
#include "output_device.h"
#include "win32/kernel.h"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr uint32_t kRate = 44100;
constexpr double kDriftLimitPercent = 0.1;
constexpr int64_t kHeapSlack = 16 * 1024;   // bytes in use
constexpr long kResidentSlackKb = 1024;

// A PCM WAV image of a tone; frequencies differ so that every voice is heard.
Bytes wav_image(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t frames, double hz) {
    Bytes data;
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < channels; ++c) {
            const double v = 0.2 * std::sin(2 * M_PI * hz * (c + 1) * i / rate);
            if (bits == 8)
                data.push_back(uint8_t(128 + std::lround(v * 127)));
            else
                put16(data, uint32_t(uint16_t(int16_t(std::lround(v * 32767)))));
        }
    const uint32_t align = channels * bits / 8u;
    Bytes w;
    put_text(w, "RIFF");
    put32(w, uint32_t(36 + data.size()));
    put_text(w, "WAVEfmt ");
    put32(w, 16);
    put16(w, 1);
    put16(w, channels);
    put32(w, rate);
    put32(w, rate * align);
    put16(w, align);
    put16(w, bits);
    put_text(w, "data");
    put32(w, uint32_t(data.size()));
    w.insert(w.end(), data.begin(), data.end());
    return w;
}

// The same tone as an IMA ADPCM WAV image, compressed by the library.
Bytes adpcm_image(uint32_t rate, uint16_t channels, uint32_t frames, double hz) {
    const Bytes pcm = wav_image(rate, channels, 16, frames, hz);
    SoundFileInfo info{};
    void* block = SVX_mem_alloc_lock(int32_t(pcm.size()));
    std::memcpy(block, pcm.data(), pcm.size());
    Bytes out;
    void* image = nullptr;
    uint32_t size = 0;
    if (SVX_WAV_info(block, &info) == 1 && SVX_compress_ADPCM(&info, &image, &size) == 1) {
        const auto* p = static_cast<const uint8_t*>(image);
        out.assign(p, p + size);
        SVX_mem_free_lock(image);
    }
    SVX_mem_free_lock(block);
    return out;
}

void* library_copy(const Bytes& bytes) {
    void* block = SVX_mem_alloc_lock(int32_t(bytes.size()));
    if (block) std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

long resident_kb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    std::fclose(f);
    return kb;
}

size_t heap_in_use() { return mallinfo2().uordblks; }

struct Everything {
    HDIGDRIVER driver = nullptr;
    HMDIDRIVER midi = nullptr;
    std::vector<void*> images;
    std::vector<HSAMPLE> samples;
    std::vector<HSTREAM> streams;
    std::vector<HSEQUENCE> sequences;

    ~Everything() {
        for (HSEQUENCE q : sequences) SVX_release_sequence_handle(q);
        for (HSTREAM s : streams) SVX_close_stream(s);
        for (HSAMPLE s : samples) SVX_release_sample_handle(s);
        if (midi) SVX_midiOutClose(midi);
        if (driver) SVX_waveOutClose(driver);
        for (void* i : images) SVX_mem_free_lock(i);
    }

    // What has stopped that should still be playing.
    std::string stopped() const {
        std::string out;
        for (size_t i = 0; i < samples.size(); ++i)
            if (SVX_sample_status(samples[i]) != SVX_PLAYING) out += " sample " + std::to_string(i);
        for (size_t i = 0; i < streams.size(); ++i)
            if (SVX_stream_status(streams[i]) != SVX_PLAYING) out += " stream " + std::to_string(i);
        for (size_t i = 0; i < sequences.size(); ++i)
            if (SVX_sequence_status(sequences[i]) != SVX_PLAYING) out += " sequence " + std::to_string(i);
        return out;
    }
};

bool fail(const char* what) {
    std::fprintf(stderr, "soak: %s: %s\n", what, SVX_last_error());
    return false;
}

bool start_everything(Everything& e, const fs::path& drive) {
    const SVXPCMFORMAT format = pcm_format(kRate, 2, 16);
    if (SVX_waveOutOpen(&e.driver, nullptr, -1, &format) != 0 || !e.driver) return fail("digital output");
    if (SVX_midiOutOpen(&e.midi, nullptr, -1) != 0 || !e.midi) return fail("MIDI output");

    struct Voice {
        uint32_t rate;
        uint16_t channels, bits;
        int32_t playback_rate;  // 0: the file's
    };
    const Voice voices[] = {
        {11025, 1, 8, 0},     {11025, 2, 8, 0},      {22050, 1, 8, 0},      {22050, 1, 16, 0},
        {22050, 2, 16, 0},    {44100, 1, 16, 0},     {44100, 2, 16, 0},     {48000, 2, 16, 0},
        {8000, 1, 8, 0},      {32000, 2, 16, 0},     {22050, 1, 16, 30000}, {44100, 2, 8, 37000},
    };
    std::vector<Bytes> files;
    double hz = 220;
    for (const Voice& v : voices) files.push_back(wav_image(v.rate, v.channels, v.bits, v.rate / 3 + 17, hz += 37));
    files.push_back(adpcm_image(22050, 1, 9000, hz += 37));
    files.push_back(adpcm_image(44100, 2, 20000, hz += 37));
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].empty()) return fail("ADPCM image");
        void* image = library_copy(files[i]);
        e.images.push_back(image);
        HSAMPLE s = SVX_allocate_sample_handle(e.driver);
        if (!s) return fail("sample handle");
        e.samples.push_back(s);
        SVX_init_sample(s);
        if (SVX_set_sample_file(s, image, -1) != 1) return fail("sample file");
        if (i < std::size(voices) && voices[i].playback_rate) SVX_set_sample_playback_rate(s, voices[i].playback_rate);
        SVX_set_sample_volume(s, 40);
        SVX_set_sample_pan(s, int32_t(i * 9 % 128));
        SVX_set_sample_loop_count(s, 0);
        SVX_start_sample(s);
    }

    // Streams: 16-bit stereo at the output's rate, long enough to stream in
    // pieces, and IMA ADPCM stereo at half the rate.
    const Bytes stream_files[] = {wav_image(kRate, 2, 16, kRate * 5, 330), adpcm_image(22050, 2, 22050 * 7, 440)};
    for (size_t i = 0; i < std::size(stream_files); ++i) {
        const std::string name = "stream" + std::to_string(i) + ".wav";
        write_bytes(drive / name, stream_files[i]);
        HSTREAM s = SVX_open_stream(e.driver, ("C:\\" + name).c_str(), 0);
        if (!s) return fail("stream");
        e.streams.push_back(s);
        SVX_set_stream_loop_count(s, 0);
        SVX_set_stream_volume(s, 40);
        SVX_start_stream(s);
    }

    e.images.push_back(library_copy(branching_tune()));
    for (int i = 0; i < 2; ++i) {
        HSEQUENCE q = SVX_allocate_sequence_handle(e.midi);
        if (!q) return fail("sequence handle");
        e.sequences.push_back(q);
        if (SVX_init_sequence(q, e.images.back(), 0) != 1) return fail("sequence");
        SVX_set_sequence_loop_count(q, 0);
        SVX_start_sequence(q);
    }
    return true;
}

struct Mark {
    Clock::time_point when;
    win32::mm::OutputCounters counters;
};
Mark mark() { return {Clock::now(), win32::mm::output_counters()}; }

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = argc == 2 && std::strcmp(argv[1], "--smoke") == 0;
    const int minutes = argc == 2 && !smoke ? std::atoi(argv[1]) : 0;
    if (!smoke && minutes <= 0) {
        std::fprintf(stderr, "usage: soak_sound MINUTES | --smoke\n");
        return 2;
    }
    const int cycles = smoke ? 3 : minutes;
    const auto cycle = smoke ? std::chrono::seconds(4) : std::chrono::seconds(60);

    char pattern[] = "/tmp/kd-soak-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path drive = pattern;
    fs::create_directories(drive / "WINDOWS");
    setenv("WIN32_ROOT", drive.c_str(), 1);
    if (!std::getenv("WIN32_AUDIO")) setenv("WIN32_AUDIO", "null", 1);
    setenv("WIN32_MIDI", "null", 1);
    if (SVX_startup() != 1) return 1;
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);

    // Printed first: stdout's buffer is allocated before memory is counted.
    std::printf("soak: %d cycles of %lld s, everything looping on %s\n", cycles,
                static_cast<long long>(cycle.count()), std::getenv("WIN32_AUDIO"));
    std::fflush(stdout);
    bool ok = true;
    {
        Everything e;
        ok = start_everything(e, drive);
        size_t heap_base = 0;
        long rss_base = 0;
        int64_t heap_growth = 0;
        long rss_growth = 0;
        double worst_drift = 0;
        uint64_t gaps = 0;
        for (int c = 1; ok && c <= cycles; ++c) {
            // The device's clock is read once it runs steadily again.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const Mark start = mark();
            const auto end = start.when + cycle - std::chrono::milliseconds(700);
            int tick = 0;
            while (ok && Clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                if (++tick % 8 == 0) SVX_branch_index(e.sequences[size_t(tick / 8 % 2)], 0);
                if (const std::string s = e.stopped(); !s.empty()) {
                    std::fprintf(stderr, "soak: stopped playing:%s\n", s.c_str());
                    ok = false;
                }
            }
            const Mark stop = mark();
            const double wall = std::chrono::duration<double>(stop.when - start.when).count();
            const double heard = double(stop.counters.frames_played - start.counters.frames_played) / kRate;
            const double drift = 100.0 * (heard - wall) / wall;
            const uint64_t cycle_gaps = stop.counters.underruns - start.counters.underruns;
            gaps += cycle_gaps;
            worst_drift = std::max(worst_drift, std::fabs(drift));

            if (SVX_digital_handle_release(e.driver) != 1) ok = fail("release");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (SVX_digital_handle_reacquire(e.driver) != 1) ok = fail("reacquire");

            const size_t heap = heap_in_use();
            const long rss = resident_kb();
            if (c == 1) {
                heap_base = heap;
                rss_base = rss;
            }
            std::printf("cycle %d: %.1f s, gaps %llu, drift %+.4f %%, heap %zu KB (%+lld), resident %ld KB (%+ld)\n",
                        c, wall, static_cast<unsigned long long>(cycle_gaps), drift, heap / 1024,
                        (static_cast<long long>(heap) - static_cast<long long>(heap_base)) / 1024, rss,
                        rss - rss_base);
            std::fflush(stdout);
            heap_growth = int64_t(heap) - int64_t(heap_base);
            rss_growth = rss - rss_base;
        }
        // Blocks come and go with the output's reopening and the streams'
        // reads, so a few hundred bytes either way are no trend; a leak of
        // a kilobyte a minute is seen within a quarter of an hour.
        if (!smoke && (heap_growth > kHeapSlack || rss_growth > kResidentSlackKb)) {
            std::fprintf(stderr, "soak: memory grew after the first cycle: heap %+lld bytes, resident %+ld KB\n",
                         static_cast<long long>(heap_growth), rss_growth);
            ok = false;
        }
        if (!smoke && gaps > 0) {
            std::fprintf(stderr, "soak: %llu gaps heard\n", static_cast<unsigned long long>(gaps));
            ok = false;
        }
        if (!smoke && worst_drift >= kDriftLimitPercent) {
            std::fprintf(stderr, "soak: the sample clock drifted %.4f %% from the wall clock\n", worst_drift);
            ok = false;
        }
        std::printf("%s: %d cycles, %llu gaps, worst drift %.4f %%\n", ok ? "passed" : "FAILED", cycles,
                    static_cast<unsigned long long>(gaps), worst_drift);
    }
    SVX_shutdown();
    fs::remove_all(drive);
    return ok ? 0 : 1;
}
