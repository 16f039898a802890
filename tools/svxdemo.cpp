// The smallest program on the sound library: starts it, runs a 100 Hz
// timer on its background thread for a second, and shuts it down.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "sonvex.h"
#include "win32/kernel.h"

namespace {
std::atomic<int> ticks{0};
void SVXCALLBACK on_timer(uintptr_t) { ticks.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fprintf(help ? stdout : stderr,
                     "usage: svxdemo\nStarts sonvex32 and runs a 100 Hz timer on its background "
                     "thread for a second.\n");
        return help ? 0 : 2;
    }
    if (SVX_startup() != 1) {
        std::fprintf(stderr, "sonvex32 did not start: %s\n", SVX_last_error());
        return 1;
    }
    std::printf("sonvex32 started; background service every %d ms\n",
                SVX_get_preference(SVX_PREF_SERVICE_PERIOD_MS));
    HSVXTIMER timer = SVX_register_timer(on_timer);
    if (timer < 0) {
        std::fprintf(stderr, "Out of timer handles.\n");
        SVX_shutdown();
        return 1;
    }
    SVX_set_timer_frequency(timer, 100);
    SVX_start_timer(timer);
    uint32_t start = SVX_ms_count();
    Sleep(1000);
    uint32_t elapsed = SVX_ms_count() - start;
    SVX_release_timer_handle(timer);
    std::printf("a 100 Hz timer ran %d times in %u ms\n", ticks.load(), elapsed);
    SVX_shutdown();
    return 0;
}
