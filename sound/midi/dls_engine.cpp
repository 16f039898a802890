// The built-in engine behind its entry points: one instance, driven by a
// library timer and by the MIDI driver's event and timbre callbacks.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "core/ops.h"
#include "core/state.h"
#include "digital/sample.h"
#include "midi/dls_synth.h"

namespace svx::dls {
namespace {

std::mutex g_open;  // open and close
std::unique_ptr<Synth> g_engine;
std::atomic<Synth*> g_current{nullptr};
// Callbacks of the MIDI driver inside the engine right now: close waits for
// them, as the driver may be calling from its own service tick.
std::atomic<int> g_in_callback{0};

struct InCallback {
    InCallback() { g_in_callback.fetch_add(1); }
    ~InCallback() { g_in_callback.fetch_sub(1); }
};

Synth* engine_of(uintptr_t handle) {
    Synth* s = g_current.load();
    return s && reinterpret_cast<uintptr_t>(s) == handle ? s : nullptr;
}

int32_t SVXCALLBACK engine_event(HMDIDRIVER driver, HSEQUENCE sequence, int32_t status,
                                 int32_t data1, int32_t data2) {
    InCallback in;
    Synth* s = g_current.load();
    if (!s || s->midi != driver) return 0;
    return intercept_event(*s, sequence, status, data1, data2);
}

int32_t SVXCALLBACK engine_timbre(HMDIDRIVER driver, int32_t bank, int32_t patch) {
    InCallback in;
    Synth* s = g_current.load();
    if (!s || s->midi != driver) return 0;
    return has_timbre(*s, bank, patch);
}

void SVXCALLBACK render_timer(uintptr_t user) {
    Synth* s = reinterpret_cast<Synth*>(user);
    const uint32_t now = op::SVX_ms_count();
    const uint32_t elapsed = now - s->last_ms;
    s->last_ms = now;
    const uint32_t start = op::SVX_us_count();
    render(*s, elapsed);
    s->render_us += op::SVX_us_count() - start;
}

bool fast_conversion_available() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

}  // namespace
}  // namespace svx::dls

namespace svx::op {
using namespace svx::dls;

int32_t DLSSONVEXOpen(uintptr_t* handle, uint32_t, HMDIDRIVER midi, uint32_t format_flags,
                      int32_t rate, uint32_t buffer_size, void* user, SVXDLSBUFFERREADY ready,
                      SVXDLSBUFFERADDRESS address, SVXDLSBUFFERLOAD load) {
    if (!handle) return kBadHandle;
    std::lock_guard lock(g_open);
    if (g_engine) return kAlreadyOpen;
    auto s = make_synth(midi, format_flags, rate, buffer_size, Output{user, ready, address, load});
    if (!s) return kOutOfMemory;
    s->use_fast_convert = preference(SVX_PREF_DLS_USE_MMX) != 0 && fast_conversion_available();
    s->timer = SVX_register_timer(&render_timer);
    if (s->timer < 0) return kOutOfMemory;
    SVX_set_timer_user(s->timer, reinterpret_cast<uintptr_t>(s.get()));
    SVX_set_timer_period(s->timer, uint32_t(s->tick_us));
    s->last_ms = s->meter_ms = SVX_ms_count();
    g_engine = std::move(s);
    Synth& e = *g_engine;
    g_current = &e;
    if (midi) {
        e.previous_event = op::SVX_register_event_callback(midi, &engine_event);
        e.previous_timbre = op::SVX_register_timbre_callback(midi, &engine_timbre);
    }
    SVX_start_timer(e.timer);
    *handle = reinterpret_cast<uintptr_t>(&e);
    return kOk;
}

// The built-in engine needs its output: it opens only through
// DLSSONVEXOpen.
int32_t DLSOpen(uintptr_t*, HMDIDRIVER) { return kNotSupported; }

int32_t DLSClose(uintptr_t handle, uint32_t) {
    std::lock_guard lock(g_open);
    Synth* s = engine_of(handle);
    if (!s) return kNotOpen;
    if (s->midi) {
        op::SVX_register_event_callback(s->midi, s->previous_event.load());
        op::SVX_register_timbre_callback(s->midi, s->previous_timbre.load());
    }
    SVX_release_timer_handle(s->timer);
    g_current = nullptr;
    // A callback on the driver's service thread ends within its tick; the
    // service thread itself never waits here for its own.
    if (background_count == 0)
        for (int i = 0; i < 10000 && g_in_callback.load() != 0; ++i) Sleep(1);
    SVX_delay(1);
    unload_all(*s);
    g_engine.reset();
    return kOk;
}

int32_t DLSLoadFile(uintptr_t handle, uint32_t, uint32_t* id, const char* filename) {
    Synth* s = engine_of(handle);
    if (!s || !id) return kBadHandle;
    if (!filename) return kCannotOpen;
    const int32_t size = SVX_file_size(filename);
    if (size < 0) return kCannotOpen;
    void* image = SVX_file_read(filename, nullptr);
    if (!image) return kReadError;
    return load_collection(*s, static_cast<const uint8_t*>(image), size_t(size), filename, true, *id);
}

int32_t DLSLoadMemFile(uintptr_t handle, uint32_t, uint32_t* id, const void* image) {
    Synth* s = engine_of(handle);
    if (!s || !id) return kBadHandle;
    if (!image) return kNotDls;
    const auto* p = static_cast<const uint8_t*>(image);
    // A caller's image is as long as its library block, when it is one,
    // and never longer than its RIFF header says.
    const size_t known = digital::image_size(image);
    if (known < 12 || std::memcmp(p, "RIFF", 4) != 0) return kNotDls;
    const uint64_t riff = uint64_t(p[4] | p[5] << 8 | p[6] << 16 | uint32_t(p[7]) << 24) + 8;
    const size_t size = size_t(std::min<uint64_t>(riff, known));
    return load_collection(*s, p, size, "(Memory file)", false, *id);
}

int32_t DLSUnloadFile(uintptr_t handle, uint32_t id) {
    Synth* s = engine_of(handle);
    return s ? unload_collection(*s, id) : kBadHandle;
}

int32_t DLSUnloadAll(uintptr_t handle, uint32_t) {
    Synth* s = engine_of(handle);
    if (!s) return kBadHandle;
    unload_all(*s);
    return kOk;
}

int32_t DLSGetInfo(SVXDLSENGINEINFO* info) {
    if (!info) return kBadHandle;
    *info = SVXDLSENGINEINFO{256, 0, 1, INT32_MAX};
    return kOk;
}

int32_t DLSCompactMemory(uintptr_t handle) { return engine_of(handle) ? kOk : kBadHandle; }

int32_t DLSSetAttribute(uintptr_t, int32_t, int32_t) { return kNotSupported; }

int32_t DLSSONVEXGetCPU(uintptr_t handle) {
    Synth* s = engine_of(handle);
    if (!s) return 0;
    std::lock_guard lock(s->meter_mutex);
    const uint32_t now = SVX_ms_count();
    const uint32_t elapsed = now - s->meter_ms;
    if (elapsed >= 150) {
        const uint64_t spent = s->render_us.exchange(0);
        s->cpu = int32_t(std::min<uint64_t>(100, spent * 100 / (uint64_t(elapsed) * 1000)));
        s->meter_ms = now;
    }
    return s->cpu;
}

}  // namespace svx::op
