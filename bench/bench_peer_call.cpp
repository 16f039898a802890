// One exported call with tracing off against a comparable SDL getter: both
// cross a shared library's boundary and read one value of a started
// library. Ours: SVX_get_preference; SDL's: SDL_GetAudioDeviceStatus on
// a device opened on the dummy driver.
#include <SDL2/SDL.h>

#include <cstdlib>

#include "peer.h"
#include "sonvex.h"

int main() {
    peer::stay_on_one_core();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (SDL_Init(SDL_INIT_AUDIO) != 0) return 1;
    SDL_AudioSpec want{}, have{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) return 1;
    SVX_startup();

    volatile int32_t sink = 0;
    constexpr int kCalls = 100000;
    const peer::Result r = peer::compare(
        101, kCalls, [&] { sink = sink + SVX_get_preference(SVX_PREF_SERVICE_PERIOD_MS); },
        [&] { sink = sink + int32_t(SDL_GetAudioDeviceStatus(dev)); });
    peer::print("one exported call, tracing off", "SDL_GetAudioDeviceStatus", r, 1, "ns");

    SVX_shutdown();
    SDL_CloseAudioDevice(dev);
    SDL_Quit();
    return 0;
}
