// Start-up and shutdown, preferences, the error text, the lock, memory
// blocks and the clocks.
#include <cstring>
#include <strings.h>

#include "digital/driver.h"
#include "midi/mididrv.h"
#include "services/quick.h"
#include "services/stream.h"
#include "ops.h"
#include "state.h"
#include "trace.h"
#include "win32/kernel.h"

namespace svx {
namespace {

constexpr int32_t kPreferenceDefaults[SVX_PREFERENCE_COUNT] = {
    655,   16, 127,   120, 8,   127, 1,  0, 2, 0, 1536, 49152, 5, 16, 2048, 0,
    32768, 44100, 1, 4096, 120, 24, 0, 1, 0, 1, 0, 1, 1, 20, 1,
};

bool valid_preference(int32_t index) { return index >= 0 && index < SVX_PREFERENCE_COUNT; }

}  // namespace

constinit Library library_state;

thread_local constinit int call_depth __attribute__((tls_model("initial-exec"))) = 0;
thread_local constinit int background_count __attribute__((tls_model("initial-exec"))) = 0;

void reset_preferences() {
    for (int i = 0; i < SVX_PREFERENCE_COUNT; ++i)
        library().preferences[i].store(kPreferenceDefaults[i], std::memory_order_relaxed);
}

namespace op {

int32_t SVX_startup() {
    Library& lib = library();
    if (lib.started.exchange(true)) return 0;

    HANDLE real = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &real, 0,
                        FALSE, DUPLICATE_SAME_ACCESS))
        lib.foreground_thread = real;

    lib.log_enabled.store(false, std::memory_order_relaxed);
    lib.log_nested = false;
    char path[256];
    GetProfileStringA("SONVEX", "SONVEXDebug", "None", path, sizeof path);
    bool log_open = false;
    if (strncasecmp(path, "None", 4) != 0) {
        char nested[8];
        GetProfileStringA("SONVEX", "SONVEXSysDebug", "0", nested, sizeof nested);
        lib.log_nested = nested[0] != '0';
        log_open = trace::open_log(path);
    }

    reset_preferences();
    lib.error_text[0] = '\0';

    if (log_open) {
        lib.log_start_ms = SVX_ms_count();
        lib.log_enabled.store(true, std::memory_order_relaxed);
        trace::write_startup_line();
    }
    return 1;
}

void SVX_shutdown() {
    Library& lib = library();
    lib.started.store(false);
    {
        LibraryLock lock;
        // Quick handles and streams hold sample handles: they go before
        // the drivers.
        services::forget_quick();
        services::close_all_streams();
        // Drivers of later families close here, before the timers go.
        digital::close_all_drivers();
        midi::close_all_drivers();
        stop_timer_service();
    }
    if (lib.log_enabled.load(std::memory_order_relaxed) || lib.log_file) trace::close_log();
    if (lib.foreground_thread) {
        CloseHandle(lib.foreground_thread);
        lib.foreground_thread = nullptr;
    }
}

void* SVX_mem_alloc_lock(int32_t bytes) {
    HGLOBAL block = bytes >= 0 ? GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, SIZE_T(bytes)) : nullptr;
    void* data = block ? GlobalLock(block) : nullptr;
    if (!data) {
        if (block) GlobalFree(block);
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    return data;
}

void SVX_mem_free_lock(void* block) {
    if (!block) return;
    HGLOBAL handle = GlobalHandle(block);
    if (!handle) return;  // not one of ours: leave it alone
    GlobalUnlock(handle);
    GlobalFree(handle);
}

// Indices outside the table are refused rather than written past it.
int32_t SVX_set_preference(int32_t number, int32_t value) {
    if (!valid_preference(number)) return 0;
    return library().preferences[number].exchange(value, std::memory_order_relaxed);
}

int32_t SVX_get_preference(int32_t number) {
    return valid_preference(number) ? preference(number) : 0;
}

char* SVX_last_error() { return library().error_text; }

int32_t SVX_set_error(const char* text) {
    if (!text) return 0;
    char* buffer = library().error_text;
    size_t length = strnlen(text, sizeof library().error_text - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return int32_t(length + 1);
}

void SVX_lock() { library().lock_count.fetch_add(1, std::memory_order_acq_rel); }
void SVX_unlock() { library().lock_count.fetch_sub(1, std::memory_order_acq_rel); }

void SVX_delay(int32_t ticks) {
    if (ticks > 0) Sleep(DWORD(int64_t(ticks) * 100 / 6));
}

int32_t SVX_background() { return background_count; }

static uint32_t elapsed_since_load(int64_t units_per_second) {
    Library& lib = library();
    if (!lib.high_resolution) {
        DWORD ms = timeGetTime();
        return units_per_second == 1000 ? ms : ms * 1000u;
    }
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    int64_t ticks = now.QuadPart - lib.counter_base;
    return uint32_t(uint64_t(ticks) * uint64_t(units_per_second) / uint64_t(lib.counter_frequency));
}

uint32_t SVX_ms_count() { return elapsed_since_load(1000); }
uint32_t SVX_us_count() { return elapsed_since_load(1000000); }

}  // namespace op
}  // namespace svx
