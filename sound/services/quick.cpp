// The quick interface: one start-up opens the drivers, and any file the
// library plays is loaded, played, stopped and adjusted through one kind
// of handle. Records are touched by the application's calls; the end
// callbacks (background thread) only take the playing handle away, with
// one atomic exchange, so a halt and a natural end never both release it.
#include "services/quick.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "core/ops.h"
#include "core/state.h"
#include "digital/driver.h"
#include "digital/sample.h"
#include "win32/kernel.h"

namespace svx::services {
namespace {

constexpr int32_t kXmidi = 1;
constexpr int32_t kDigital = 2;
constexpr int32_t kDone = 1;
constexpr int32_t kLoaded = 2;
constexpr int32_t kPlaying = 3;
// How long load-and-play waits past the sound's own length.
constexpr uint32_t kWaitMarginMs = 3000;
// Polls of a waiting load-and-play: one service period, so the wait costs
// no processor (a yield alone spins a core when another is free).
constexpr DWORD kPollMs = 5;

struct Quick {
    std::mutex mutex;  // the list; taken by application calls only
    HDIGDRIVER digital = nullptr;
    HMDIDRIVER midi = nullptr;
    HDLSDEVICE dls = nullptr;
    SVXPCMFORMAT format{};
    int32_t state = 0;  // 0 not started, 1 on a running library, 2 started it
    SVX_QUICK* head = nullptr;
    // Unloaded records: a late end callback may still look at one, so
    // they are freed only once the drivers are closed.
    SVX_QUICK* retired = nullptr;
};

Quick& quick() {
    static Quick q;
    return q;
}

// Takes the playing handle away from the record when it is still `handle`.
bool take_playing(SVX_QUICK& q, void* handle) {
    return q.playing.compare_exchange_strong(handle, nullptr);
}

void SVXCALLBACK on_sequence_end(HSEQUENCE sequence) {
    auto* q = reinterpret_cast<SVX_QUICK*>(::SVX_sequence_user_data(sequence, 0));
    if (!q || !take_playing(*q, sequence)) return;
    q->status.store(kDone);
    ::SVX_release_sequence_handle(sequence);
}

void SVXCALLBACK on_sample_end(HSAMPLE sample) {
    auto* q = reinterpret_cast<SVX_QUICK*>(::SVX_sample_user_data(sample, 0));
    if (!q || !take_playing(*q, sample)) return;
    q->status.store(kDone);
    ::SVX_release_sample_handle(sample);
}

bool image_shared(const SVX_QUICK& q) {
    for (const SVX_QUICK* o = quick().head; o; o = o->next)
        if (o != &q && o->image == q.image) return true;
    return false;
}

void unlink(SVX_QUICK& q) {
    for (SVX_QUICK** p = &quick().head; *p; p = &(*p)->next)
        if (*p == &q) {
            *p = q.next;
            break;
        }
    q.next = nullptr;
}

// Ends what plays; the status becomes done.
void halt(SVX_QUICK& q) {
    LibraryLock lock;
    void* handle = q.playing.exchange(nullptr);
    if (!handle) return;
    if (q.kind == kXmidi) {
        auto* sequence = static_cast<HSEQUENCE>(handle);
        ::SVX_end_sequence(sequence);
        ::SVX_release_sequence_handle(sequence);
    } else {
        auto* sample = static_cast<HSAMPLE>(handle);
        // Ended, a VOC file's continuation would start its next block.
        ::SVX_register_EOS_callback(sample, nullptr);
        ::SVX_end_sample(sample);
        ::SVX_release_sample_handle(sample);
    }
    q.status.store(kDone);
}

// Frees what only this record holds and retires it; the list is held.
void unload_locked(SVX_QUICK* q) {
    halt(*q);
    unlink(*q);
    if (!image_shared(*q)) {
        if (!q->image_not_owned && q->image) ::SVX_mem_free_lock(const_cast<uint8_t*>(q->image));
        if (q->dls_file && quick().dls) ::SVX_DLS_unload(quick().dls, q->dls_file);
        if (q->extracted_dls) ::SVX_mem_free_lock(q->extracted_dls);
    }
    q->image = nullptr;
    q->dls_file = nullptr;
    q->extracted_dls = nullptr;
    q->next = quick().retired;
    quick().retired = q;
}

// Replaces the record's image by a library block it owns.
void replace_image(SVX_QUICK& q, void* block, uint32_t size) {
    if (!q.image_not_owned && q.image && !image_shared(q))
        ::SVX_mem_free_lock(const_cast<uint8_t*>(q.image));
    q.image = static_cast<const uint8_t*>(block);
    q.size = size;
    q.image_not_owned = false;
}

// Loads the collection that comes with an XMIDI file into the synthesizer.
bool load_collection(SVX_QUICK& q, int32_t type) {
    Quick& g = quick();
    if (!g.dls || q.dls_file || q.extracted_dls || q.embedded_dls) return true;
    bool handled = false;
    if (type == SVX_FILETYPE_XMIDI_MLS) {
        void* dls = nullptr;
        uint32_t dls_size = 0;
        if (!::SVX_extract_DLS(q.image, q.size, nullptr, nullptr, &dls, &dls_size) || !dls)
            return false;
        q.extracted_dls = dls;
        if (!q.image_not_owned) {
            void* xmidi = nullptr;
            uint32_t xmidi_size = 0;
            if (!::SVX_extract_DLS(q.image, q.size, &xmidi, &xmidi_size, nullptr, nullptr) ||
                !xmidi)
                return false;
            replace_image(q, xmidi, xmidi_size);
        }
        q.dls_file = ::SVX_DLS_load_memory(g.dls, q.extracted_dls, 0);
        handled = true;
    } else if (type == SVX_FILETYPE_XMIDI_DLS) {
        void* dls = nullptr;
        uint32_t dls_size = 0;
        if (!::SVX_find_DLS(q.image, q.size, nullptr, nullptr, &dls, &dls_size) || !dls)
            return false;
        q.embedded_dls = dls;
        q.dls_file = ::SVX_DLS_load_memory(g.dls, dls, 0);
        handled = true;
    }
    if (handled && !q.dls_file) return false;
    ::SVX_set_preference(SVX_PREF_DLS_PASS_MIDI, handled ? 0 : 1);
    return true;
}

// Types the record's image, converts or splits it as needed and links it
// in; null (and the record unloaded) on failure.
SVX_QUICK* finish(SVX_QUICK* q) {
    Quick& g = quick();
    std::lock_guard<std::mutex> guard(g.mutex);
    auto fail = [&]() -> SVX_QUICK* {
        unload_locked(q);
        return nullptr;
    };
    if (!q->image) return fail();
    int32_t type = ::SVX_file_type(q->image, q->size);
    switch (type) {
        case SVX_FILETYPE_WAV_PCM:
        case SVX_FILETYPE_WAV_ADPCM:
        case SVX_FILETYPE_VOC:
            q->kind = kDigital;
            break;
        case SVX_FILETYPE_MIDI: {
            void* xmidi = nullptr;
            uint32_t xmidi_size = 0;
            if (!::SVX_MIDI_to_XMI(q->image, q->size, &xmidi, &xmidi_size, SVX_MIDI_TOLERANT) ||
                !xmidi)
                return fail();
            replace_image(*q, xmidi, xmidi_size);
            q->kind = kXmidi;
            break;
        }
        case SVX_FILETYPE_XMIDI:
        case SVX_FILETYPE_XMIDI_DLS:
        case SVX_FILETYPE_XMIDI_MLS:
            q->kind = kXmidi;
            break;
        default:
            ::SVX_set_error("Unknown file type.");
            return fail();
    }
    if (q->kind == kXmidi) {
        if (!g.midi) {
            ::SVX_set_error("XMIDI support not enabled.");
            return fail();
        }
        if (!load_collection(*q, type)) return fail();
    } else if (!g.digital) {
        ::SVX_set_error("Digital support not enabled.");
        return fail();
    }
    q->status.store(kLoaded);
    q->speed = q->volume = q->extra = -1;
    q->next = g.head;
    g.head = q;
    return q;
}

bool is_loaded(const SVX_QUICK* q) {
    for (const SVX_QUICK* o = quick().head; o; o = o->next)
        if (o == q) return true;
    return false;
}

// The file's length in milliseconds, from a sequence or sample made for
// the question and let go at once.
int32_t file_length(SVX_QUICK& q) {
    if (q.length_ms >= 0) return q.length_ms;
    Quick& g = quick();
    int32_t total = 0;
    if (q.kind == kXmidi && g.midi) {
        HSEQUENCE s = ::SVX_allocate_sequence_handle(g.midi);
        if (!s) return 0;
        if (::SVX_init_sequence(s, q.image, 0)) ::SVX_sequence_ms_position(s, &total, nullptr);
        ::SVX_release_sequence_handle(s);
    } else if (q.kind == kDigital && g.digital) {
        HSAMPLE s = ::SVX_allocate_sample_handle(g.digital);
        if (!s) return 0;
        ::SVX_init_sample(s);
        if (::SVX_set_sample_file(s, q.image, -1)) ::SVX_sample_ms_position(s, &total, nullptr);
        ::SVX_release_sample_handle(s);
    } else {
        return 0;
    }
    q.length_ms = total;
    return total;
}

bool start_sequence(SVX_QUICK& q, int32_t loops) {
    HSEQUENCE s = ::SVX_allocate_sequence_handle(quick().midi);
    if (!s) return false;
    if (!::SVX_init_sequence(s, q.image, 0)) {
        ::SVX_release_sequence_handle(s);
        return false;
    }
    ::SVX_set_sequence_user_data(s, 0, reinterpret_cast<uintptr_t>(&q));
    ::SVX_register_sequence_callback(s, on_sequence_end);
    if (q.speed != -1) ::SVX_set_sequence_tempo(s, q.speed, 0);
    if (q.volume != -1) ::SVX_set_sequence_volume(s, q.volume, q.extra == -1 ? 0 : q.extra);
    ::SVX_set_sequence_loop_count(s, loops);
    q.status.store(kPlaying);
    q.playing.store(s);
    if (q.pending_ms == 0) {
        ::SVX_start_sequence(s);
        return true;
    }
    // A sequence seeks only once it has been started; started and stopped
    // under the lock, it plays nothing from the beginning.
    {
        LibraryLock lock;
        ::SVX_start_sequence(s);
        ::SVX_stop_sequence(s);
    }
    ::SVX_set_sequence_ms_position(s, q.pending_ms);
    q.pending_ms = 0;
    ::SVX_resume_sequence(s);
    return true;
}

bool start_sample(SVX_QUICK& q, int32_t loops) {
    HSAMPLE s = ::SVX_allocate_sample_handle(quick().digital);
    if (!s) return false;
    ::SVX_init_sample(s);
    if (!::SVX_set_sample_file(s, q.image, -1)) {
        ::SVX_release_sample_handle(s);
        return false;
    }
    ::SVX_set_sample_user_data(s, 0, reinterpret_cast<uintptr_t>(&q));
    if (digital::is_voc(q.image, q.size)) {
        // The library's continuation plays every sound block of a VOC
        // file; the end of the file is the end.
        ::SVX_register_EOS_callback(s, digital::voc_continuation);
        ::SVX_register_EOF_callback(s, on_sample_end);
    } else {
        ::SVX_register_EOS_callback(s, on_sample_end);
    }
    if (q.speed != -1) ::SVX_set_sample_playback_rate(s, q.speed);
    if (q.volume != -1) ::SVX_set_sample_volume(s, q.volume);
    if (q.extra != -1) ::SVX_set_sample_pan(s, q.extra);
    ::SVX_set_sample_loop_count(s, loops);
    q.status.store(kPlaying);
    q.playing.store(s);
    if (q.pending_ms != 0) {
        ::SVX_set_sample_ms_position(s, q.pending_ms);
        q.pending_ms = 0;
        ::SVX_resume_sample(s);
    } else {
        ::SVX_start_sample(s);
    }
    return true;
}

SVX_QUICK* new_record() { return new (std::nothrow) SVX_QUICK; }

void free_retired() {
    Quick& g = quick();
    while (SVX_QUICK* q = g.retired) {
        g.retired = q->next;
        delete q;
    }
}

// Unloads everything and closes the synthesizer; the drivers stay.
void unload_all() {
    Quick& g = quick();
    {
        std::lock_guard<std::mutex> guard(g.mutex);
        while (g.head) unload_locked(g.head);
    }
    if (g.dls) ::SVX_DLS_close(g.dls, 0);
    g.dls = nullptr;
}

}  // namespace

void forget_quick() {
    Quick& g = quick();
    if (g.state == 0) return;
    unload_all();
    g.midi = nullptr;
    g.digital = nullptr;
    g.state = 0;
    free_retired();
}

}  // namespace svx::services

namespace svx::op {
using namespace svx::services;

int32_t SVX_quick_startup(int32_t use_digital, int32_t use_midi, int32_t rate, int32_t bits,
                          int32_t channels) {
    Quick& g = quick();
    if (g.state != 0 || (use_digital == 0 && use_midi == 0)) return 0;
    g.state = ::SVX_startup() ? 2 : 1;
    rate = rate ? rate : 22050;
    bits = bits ? bits : 8;
    channels = channels ? channels : 1;
    const uint16_t align = uint16_t(bits / 8 * channels);
    g.format = SVXPCMFORMAT{1, uint16_t(channels), uint32_t(rate), uint32_t(rate) * align, align,
                            uint16_t(bits)};
    auto undo = [&]() {
        if (g.dls) ::SVX_DLS_close(g.dls, 0);
        if (g.midi) ::SVX_midiOutClose(g.midi);
        if (g.digital) ::SVX_waveOutClose(g.digital);
        g.dls = nullptr;
        g.midi = nullptr;
        g.digital = nullptr;
        if (g.state == 2) ::SVX_shutdown();
        g.state = 0;
        return 0;
    };

    if (use_digital != 0) {
        HDIGDRIVER driver = nullptr;
        if (preference(SVX_PREF_USE_WAVEOUT) == 0 && use_digital != 2) {
            if (::SVX_waveOutOpen(&driver, nullptr, -1, &g.format) == 0) {
                const digital::DigitalDriver* d = digital::driver_of(driver);
                if (!d->ds_object || d->emulated) {
                    ::SVX_waveOutClose(driver);
                    driver = nullptr;
                }
            } else {
                driver = nullptr;
            }
        }
        if (!driver) {
            ::SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
            if (::SVX_waveOutOpen(&driver, nullptr, -1, &g.format) != 0) return undo();
        }
        g.digital = driver;
    }
    if (use_midi != 0) {
        if (::SVX_midiOutOpen(&g.midi, nullptr, use_midi == 3 ? SVX_MIDI_NO_DEVICE : -1) != 0) {
            g.midi = nullptr;
            return undo();
        }
        if (use_midi == 2 || use_midi == 3) {
            g.dls = ::SVX_DLS_open(g.midi, g.digital, nullptr, 0, rate, bits, channels);
            if (!g.dls) return undo();
        }
    }
    return 1;
}

void SVX_quick_shutdown() {
    Quick& g = quick();
    if (g.state == 0 || (!g.digital && !g.midi)) return;
    const int32_t state = g.state;
    unload_all();
    if (g.midi) ::SVX_midiOutClose(g.midi);
    if (g.digital) ::SVX_waveOutClose(g.digital);
    g.midi = nullptr;
    g.digital = nullptr;
    g.state = 0;
    free_retired();
    if (state == 2) ::SVX_shutdown();
}

void SVX_quick_handles(HDIGDRIVER* digital, HMDIDRIVER* midi, HDLSDEVICE* dls) {
    Quick& g = quick();
    if (digital) *digital = g.digital;
    if (midi) *midi = g.midi;
    if (dls) *dls = g.dls;
}

HQUICK SVX_quick_load(const char* filename) {
    SVX_QUICK* q = new_record();
    if (!q) {
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    q->image = static_cast<const uint8_t*>(::SVX_file_read(filename, nullptr));
    if (q->image) {
        const int32_t size = ::SVX_file_size(filename);
        // The block's own size bounds what is read, whatever the file does meanwhile.
        HGLOBAL block = GlobalHandle(q->image);
        const SIZE_T have = block ? GlobalSize(block) : 0;
        q->size = uint32_t(std::clamp<int64_t>(size, 0, int64_t(std::min<SIZE_T>(have, UINT32_MAX))));
    }
    return finish(q);
}

HQUICK SVX_quick_load_mem(const void* image, uint32_t size) {
    SVX_QUICK* q = new_record();
    if (!q) {
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    q->image = static_cast<const uint8_t*>(image);
    q->size = size;
    q->image_not_owned = true;
    return finish(q);
}

HQUICK SVX_quick_copy(HQUICK handle) {
    if (!handle) return nullptr;
    SVX_QUICK* q = new_record();
    if (!q) {
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(quick().mutex);
        if (!is_loaded(handle)) {
            delete q;
            return nullptr;
        }
        q->image = handle->image;
        q->size = handle->size;
        q->image_not_owned = handle->image_not_owned;
        q->dls_file = handle->dls_file;
        q->extracted_dls = handle->extracted_dls;
        q->embedded_dls = handle->embedded_dls;
        q->length_ms = handle->length_ms;
    }
    // A failing finish frees nothing the original still uses: it shares it.
    return finish(q);
}

void SVX_quick_unload(HQUICK handle) {
    if (!handle) return;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (is_loaded(handle)) unload_locked(handle);
}

int32_t SVX_quick_play(HQUICK handle, int32_t loop_count) {
    if (!handle) return 0;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return 0;
    halt(*handle);
    const bool ok = handle->kind == kXmidi ? quick().midi && start_sequence(*handle, loop_count)
                                           : quick().digital && start_sample(*handle, loop_count);
    if (!ok) handle->status.store(kLoaded);
    return ok ? 1 : 0;
}

void SVX_quick_halt(HQUICK handle) {
    if (!handle) return;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (is_loaded(handle)) halt(*handle);
}

int32_t SVX_quick_status(HQUICK handle) {
    if (!handle) return kDone;
    return handle->status.load();
}

HQUICK SVX_quick_load_and_play(const char* filename, int32_t loop_count, int32_t wait) {
    HQUICK q = ::SVX_quick_load(filename);
    if (!q) return nullptr;
    if (!::SVX_quick_play(q, loop_count)) {
        ::SVX_quick_unload(q);
        return nullptr;
    }
    if (wait == 0 || loop_count == 0) return q;
    // Paced by the device in real time: the sound's length, every pass,
    // and a margin for the device's buffers bound the wait.
    int32_t length = ::SVX_quick_ms_length(q);
    const uint64_t limit =
        uint64_t(std::max(length, 0)) * uint64_t(std::max(loop_count, 1)) + kWaitMarginMs;
    const uint32_t start = ::SVX_ms_count();
    while (q->status.load() == kPlaying && uint64_t(::SVX_ms_count() - start) < limit)
        Sleep(kPollMs);
    return q;
}

void SVX_quick_set_speed(HQUICK handle, int32_t speed) {
    if (!handle) return;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return;
    handle->speed = speed;
    LibraryLock lock;
    void* playing = handle->playing.load();
    if (handle->status.load() != kPlaying || !playing || speed == -1) return;
    if (handle->kind == kXmidi)
        ::SVX_set_sequence_tempo(static_cast<HSEQUENCE>(playing), speed, 0);
    else
        ::SVX_set_sample_playback_rate(static_cast<HSAMPLE>(playing), speed);
}

void SVX_quick_set_volume(HQUICK handle, int32_t volume, int32_t extra) {
    if (!handle) return;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return;
    handle->volume = volume;
    handle->extra = extra;
    LibraryLock lock;
    void* playing = handle->playing.load();
    if (handle->status.load() != kPlaying || !playing) return;
    if (handle->kind == kXmidi) {
        if (volume != -1)
            ::SVX_set_sequence_volume(static_cast<HSEQUENCE>(playing), volume,
                                      extra == -1 ? 0 : extra);
    } else {
        if (volume != -1) ::SVX_set_sample_volume(static_cast<HSAMPLE>(playing), volume);
        if (extra != -1) ::SVX_set_sample_pan(static_cast<HSAMPLE>(playing), extra);
    }
}

void SVX_quick_set_ms_position(HQUICK handle, int32_t milliseconds) {
    if (!handle) return;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return;
    handle->pending_ms = std::max(milliseconds, 0);
    void* playing = handle->playing.load();
    if (handle->status.load() != kPlaying || !playing) return;
    if (handle->kind == kXmidi)
        ::SVX_set_sequence_ms_position(static_cast<HSEQUENCE>(playing), handle->pending_ms);
    else
        ::SVX_set_sample_ms_position(static_cast<HSAMPLE>(playing), handle->pending_ms);
}

int32_t SVX_quick_ms_position(HQUICK handle) {
    if (!handle) return 0;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return 0;
    void* playing = handle->playing.load();
    if (handle->status.load() != kPlaying || !playing) return handle->pending_ms;
    int32_t current = 0;
    if (handle->kind == kXmidi)
        ::SVX_sequence_ms_position(static_cast<HSEQUENCE>(playing), nullptr, &current);
    else
        ::SVX_sample_ms_position(static_cast<HSAMPLE>(playing), nullptr, &current);
    return current;
}

int32_t SVX_quick_ms_length(HQUICK handle) {
    if (!handle) return 0;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return 0;
    void* playing = handle->playing.load();
    if (handle->status.load() != kPlaying || !playing) return file_length(*handle);
    int32_t total = 0;
    if (handle->kind == kXmidi)
        ::SVX_sequence_ms_position(static_cast<HSEQUENCE>(playing), &total, nullptr);
    else
        ::SVX_sample_ms_position(static_cast<HSAMPLE>(playing), &total, nullptr);
    return total;
}

int32_t SVX_quick_type(HQUICK handle) {
    if (!handle) return 0;
    std::lock_guard<std::mutex> guard(quick().mutex);
    if (!is_loaded(handle)) return 0;
    if (handle->kind == kXmidi) return handle->dls_file ? 3 : 1;
    return handle->kind == kDigital ? 2 : 0;
}

}  // namespace svx::op
