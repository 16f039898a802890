// The mixer against SDL_MixAudioFormat: 32 voices of 16-bit mono, each at
// the same reduced volume, into one 16-bit mono buffer of 2,048 frames
// with clamping. Ours: clear, 32 merge runs, one clamped conversion; SDL:
// 32 mixes into a zeroed buffer, which clamp as they go.
#include <SDL2/SDL.h>

#include <cstring>
#include <vector>

#include "digital/mixer.h"
#include "peer.h"

using namespace svx::mixer;

int main() {
    peer::stay_on_one_core();
    constexpr int kVoices = 32;
    constexpr uint32_t kFrames = 2048;
    constexpr int32_t kVolume = 100;  // of 127; SDL's scale is 0-128

    std::vector<std::vector<int16_t>> voices(kVoices, std::vector<int16_t>(kFrames));
    uint32_t seed = 1;
    for (auto& v : voices)
        for (int16_t& s : v) s = int16_t((seed = seed * 1664525u + 1013904223u) >> 16);

    const OutputFormat out{22050, 1, 2, true};
    std::vector<Scale> scales(kVoices);
    std::vector<SampleRun> runs(kVoices);
    for (int i = 0; i < kVoices; ++i) {
        build_scale(scales[size_t(i)], kVolume, 64, 127, format_16bit, flag_signed, false);
        runs[size_t(i)] = {reinterpret_cast<const uint8_t*>(voices[size_t(i)].data()), 0, 0,
                           format_16bit, flag_signed, 22050, kVolume, 64, 127, &scales[size_t(i)]};
    }
    std::vector<int32_t> build(kFrames);
    const BuildBuffer target{build.data(), uint32_t(build.size() * 4)};
    std::vector<int16_t> ours(kFrames), theirs(kFrames);

    auto mix_ours = [&] {
        clear(target);
        for (SampleRun& r : runs) {
            r.position = 0;
            r.bytes_left = int32_t(kFrames * 2);
            merge_run(r, out, 655, target, 0);
        }
        convert(target, out, kVoices, ours.data(), uint32_t(ours.size() * 2));
    };
    const int sdl_volume = kVolume * SDL_MIX_MAXVOLUME / 127;
    auto mix_sdl = [&] {
        std::memset(theirs.data(), 0, theirs.size() * 2);
        for (const auto& v : voices)
            SDL_MixAudioFormat(reinterpret_cast<Uint8*>(theirs.data()),
                               reinterpret_cast<const Uint8*>(v.data()), AUDIO_S16SYS,
                               kFrames * 2, sdl_volume);
    };
    const peer::Result r = peer::compare(201, 20, mix_ours, mix_sdl);
    peer::print("mix 32 x 16-bit mono, 2048 frames, clamped", "SDL_MixAudioFormat", r);
    return 0;
}
