// Streams from disk. A stream keeps a double-buffered sample supplied from
// three rotating read buffers: servicing reads the file into them (on the
// caller's thread, or on the stream thread when the stream is serviced
// automatically) and feeding hands filled buffers to the sample (from a
// 16 Hz library timer and from the sample's end-of-buffer callback). Short
// files are read once into one buffer that the sample plays itself.
#include "services/stream.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

#include "core/ops.h"
#include "core/records.h"
#include "core/state.h"
#include "digital/driver.h"
#include "digital/sample.h"
#include "services/chunks.h"

namespace svx::services {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagImaAdpcm = 17;
// A header walk looks at no more chunks than this before "data".
constexpr int kMaxChunks = 4096;
// Positions are 32-bit values: longer data is played up to here.
constexpr uint32_t kMaxDataSize = 0x7FFF0000u;
// The busy counter of a stream that no one may feed or service again.
constexpr int32_t kParked = 4;
constexpr int32_t kClosed = 1 << 24;
// Waits for another thread's work on a stream end after this long anyway.
constexpr uint32_t kWaitLimitMs = 2000;

struct Slot {
    int32_t index = 0;
    uint32_t fill = 0;
};

// The stream record; the handle is its address.
struct Stream {
    std::atomic<HSAMPLE> sample{nullptr};  // null once its driver closed
    HANDLE file = nullptr;
    uint8_t* buffers[3] = {};
    uint32_t buffer_size = 0;
    uint32_t read_size = 0;
    Slot ring[3] = {};  // head, middle, tail
    uint32_t bytes_per_second = 0;
    uint32_t rate = 0;
    uint32_t format = 0;
    uint32_t sign = 0;
    uint32_t data_size = 0;
    uint32_t block_size = 0;
    uint32_t block_pad = 0;
    int64_t pad_written = -1;
    std::atomic<int64_t> played_total{0};
    std::atomic<int32_t> sample_running{0};
    int64_t data_start = 0;
    int64_t read_position = 0;
    std::atomic<int32_t> loop_count{1};
    std::atomic<int32_t> read_error{0};
    bool single_buffer = false;
    bool file_not_owned = false;
    std::atomic<int32_t> busy{0};
    std::atomic<int32_t> end_state{0};
    uint32_t preload = 0;
    uint32_t fill_target = 0;
    std::atomic<int32_t> started{0};
    std::atomic<SVXSTREAMCB> callback{nullptr};
    std::atomic<uintptr_t> user_data[8] = {};
    std::atomic<Stream*> next{nullptr};
    std::atomic<int32_t> auto_service{0};
    std::atomic<bool> closed{false};
    std::atomic<bool> parked{false};     // single buffer handed to the sample
    std::atomic<int64_t> pending{-1};    // single buffer: position to start at
    Stream* retired_next = nullptr;
};

Stream* stream_of(HSTREAM handle) { return reinterpret_cast<Stream*>(handle); }
HSTREAM handle_of(Stream* stream) { return reinterpret_cast<HSTREAM>(stream); }

bool is_adpcm(uint32_t format) { return (format & SVX_FORMAT_ADPCM) != 0; }

// The library-wide part: the list of open streams, its timer and thread,
// and the guards of the feeding and servicing passes over the list.
struct Streams {
    std::mutex list_mutex;  // held by open and close only, never by a pass
    std::atomic<Stream*> head{nullptr};
    HSVXTIMER timer = -1;
    HANDLE thread = nullptr;
    HANDLE stop_event = nullptr;
    std::atomic<int32_t> feeding{0};
    std::atomic<int32_t> servicing{0};
    // Closed records a pass may still be looking at; freed once no pass runs.
    Stream* retired = nullptr;
};

Streams& streams() {
    static Streams s;
    return s;
}

// The stream this thread is feeding or servicing, so that a callback that
// closes it does not wait for itself, and whether it runs a feeding pass
// (perhaps inside a driver's mixing, which it must not wait for).
thread_local Stream* working_on = nullptr;
thread_local int feeding_depth = 0;

// Raises a counter; true when this raise made it exactly 1. Every raise is
// undone by `Lower`, whether or not it was the first.
class Raise {
public:
    explicit Raise(std::atomic<int32_t>& counter) : counter_(counter) {
        first_ = counter_.fetch_add(1, std::memory_order_acq_rel) == 0;
    }
    ~Raise() { counter_.fetch_sub(1, std::memory_order_acq_rel); }
    bool first() const { return first_; }
    Raise(const Raise&) = delete;
    Raise& operator=(const Raise&) = delete;

private:
    std::atomic<int32_t>& counter_;
    bool first_;
};

// ---- files ----

bool seek(HANDLE file, int64_t offset) {
    LONG high = LONG(offset >> 32);
    const DWORD low = SetFilePointer(file, LONG(uint32_t(offset)), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS);
}

// Exactly `count` bytes, or false.
bool read_exact(HANDLE file, void* into, DWORD count) {
    DWORD got = 0;
    return ReadFile(file, into, count, &got, nullptr) && got == count;
}

int64_t file_end(HANDLE file) {
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return -1;
    return int64_t(uint64_t(high) << 32 | low);
}

int64_t file_position(HANDLE file) {
    LONG high = 0;
    const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return -1;
    return int64_t(uint64_t(uint32_t(high)) << 32 | low);
}

// ---- the ring ----

void reset_ring(Stream& s) {
    for (int i = 0; i < 3; ++i) s.ring[i] = {i, 0};
}

void rotate(Stream& s) {
    const Slot old_head = s.ring[0];
    s.ring[0] = s.ring[1];
    s.ring[1] = s.ring[2];
    s.ring[2] = {old_head.index, 0};
}

// ---- reading ----

// One read into ring slot `slot`: bytes added (data and ADPCM padding).
// At the end of a pass the stream either ends or goes back to the data's
// start; a short read sets the read error.
uint32_t read_once(Stream& s, Slot& slot, bool& wrapped) {
    wrapped = false;
    uint8_t* buffer = s.buffers[slot.index];
    uint32_t added = 0;
    const int64_t left = int64_t(s.data_size) - s.read_position;
    const uint32_t count = uint32_t(std::min<int64_t>(
        {int64_t(s.read_size), std::max<int64_t>(left, 0), int64_t(s.buffer_size) - slot.fill}));
    if (count > 0) {
        DWORD got = 0;
        if (!ReadFile(s.file, buffer + slot.fill, count, &got, nullptr)) got = 0;
        got = std::min<DWORD>(got, count);
        slot.fill += got;
        s.read_position += got;
        added = got;
        if (got < count) {
            s.read_error.store(1);
            return added;
        }
    }
    if (s.read_position < int64_t(s.data_size)) return added;
    if (s.loop_count.load(std::memory_order_relaxed) == 1) {
        s.end_state.store(1);
        return added;
    }
    // The next pass starts on a block boundary: the last block of this one
    // is completed with silence, in a later buffer when this one is full.
    if (s.block_pad > 0) {
        if (s.pad_written < 0) s.pad_written = 0;
        const uint32_t pad = uint32_t(std::min<int64_t>(int64_t(s.block_pad) - s.pad_written,
                                                        int64_t(s.buffer_size) - slot.fill));
        std::memset(buffer + slot.fill, 0, pad);
        slot.fill += pad;
        s.pad_written += pad;
        added += pad;
        if (s.pad_written < int64_t(s.block_pad)) return added;
    }
    const int32_t loops = s.loop_count.load(std::memory_order_relaxed);
    if (loops > 1) s.loop_count.store(loops - 1, std::memory_order_relaxed);
    s.pad_written = -1;
    s.read_position = 0;
    wrapped = true;
    if (!seek(s.file, s.data_start)) s.read_error.store(1);
    return added;
}

void close_file(Stream& s) {
    if (s.file && !s.file_not_owned) CloseHandle(s.file);
    if (!s.file_not_owned) s.file = nullptr;
    s.file_not_owned = true;
}

// The service of one stream, under its busy counter.
int32_t service(Stream& s) {
    if (s.single_buffer) {
        Slot& slot = s.ring[0];
        int64_t total = 0;
        for (;;) {
            bool wrapped = false;
            const uint32_t n = read_once(s, slot, wrapped);
            total += n;
            if (s.read_error.load()) break;
            if (n == 0 || slot.fill >= s.buffer_size || s.end_state.load() != 0) break;
        }
        s.fill_target = 0;
        close_file(s);
        s.auto_service.store(0);
        if (s.read_error.load()) {
            s.end_state.store(1);
            return -1;
        }
        return int32_t(std::min<int64_t>(total, INT32_MAX));
    }

    uint32_t p0 = 0, l0 = 0, p1 = 0, l1 = 0;
    ::SVX_sample_buffer_info(s.sample, &p0, &l0, &p1, &l1);
    const int used = (p0 >= l0 ? 1 : 0) + (p1 >= l1 ? 1 : 0);
    const int count = used == 2 ? 3 : used == 1 ? 2 : 1;
    if (used > 0) s.fill_target = s.preload;
    int64_t total = 0;
    for (int k = 0; k < count; ++k) {
        for (;;) {
            bool wrapped = false;
            const uint32_t n = read_once(s, s.ring[k], wrapped);
            total += n;
            if (s.read_error.load()) {
                // What was read still plays; then the sample ends.
                s.end_state.store(1);
                return -1;
            }
            // A pass that ended exactly at a read goes on with the next.
            if ((n == 0 && !wrapped) || !(total < s.fill_target || count == 3)) break;
        }
    }
    s.fill_target = 0;
    int32_t armed = 1;
    s.auto_service.compare_exchange_strong(armed, 2);
    return int32_t(std::min<int64_t>(total, INT32_MAX));
}

// ---- feeding ----

// Hands the head buffer to the sample: 0 when it did, -1 when nothing
// could go.
int32_t hand_over(Stream& s) {
    if (s.closed.load() || !s.sample || s.started.load() != 1) return -1;
    const int32_t end = s.end_state.load();
    Slot& head = s.ring[0];
    if (head.fill == 0 && end != 1) return -1;
    if (s.single_buffer) {
        ::SVX_set_sample_address(s.sample, s.buffers[head.index], head.fill);
        ::SVX_start_sample(s.sample);
        if (const int64_t at = s.pending.exchange(-1); at > 0)
            ::SVX_set_sample_position(s.sample, uint32_t(at));
        s.sample_running.store(1);
        // Never fed or serviced again: the sample plays and loops by itself.
        // The pass's own raise is still to be undone.
        s.parked.store(true);
        s.busy.fetch_add(kParked);
        return 0;
    }
    const int32_t buffer = ::SVX_sample_buffer_ready(s.sample);
    if (buffer == -1) return -1;
    ::SVX_load_sample_buffer(s.sample, buffer, s.buffers[head.index], head.fill);
    s.played_total.fetch_add(head.fill);
    s.sample_running.store(1);
    const uint32_t fill = head.fill;
    rotate(s);
    if (end == 1 && fill == 0) {
        s.end_state.store(2);
        if (SVXSTREAMCB callback = s.callback.load()) callback(handle_of(&s));
    }
    return 0;
}

void feed_all() {
    Streams& g = streams();
    Raise pass(g.feeding);
    if (!pass.first()) return;
    BackgroundWork background;
    ++feeding_depth;
    for (Stream* s = g.head.load(std::memory_order_acquire); s;
         s = s->next.load(std::memory_order_acquire)) {
        Raise busy(s->busy);
        if (!busy.first()) continue;
        Stream* outer = working_on;
        working_on = s;
        if (hand_over(*s) == 0) hand_over(*s);
        working_on = outer;
    }
    --feeding_depth;
}

void SVXCALLBACK feed_timer(uintptr_t) { feed_all(); }
void SVXCALLBACK feed_end_of_buffer(HSAMPLE) { feed_all(); }

DWORD WINAPI stream_thread(LPVOID) {
    Streams& g = streams();
    BackgroundWork background;
    for (;;) {
        if (WaitForSingleObject(g.stop_event, 50) != WAIT_TIMEOUT) break;
        Raise pass(g.servicing);
        if (!pass.first()) continue;
        for (Stream* s = g.head.load(std::memory_order_acquire); s;
             s = s->next.load(std::memory_order_acquire)) {
            if (s->auto_service.load() == 2) ::SVX_service_stream(handle_of(s), 0);
        }
    }
    return 0;
}

// Frees the closed records once no feeding or servicing pass runs.
void free_retired(Streams& g) {
    if (g.feeding.load() != 0 || g.servicing.load() != 0) return;
    while (Stream* s = g.retired) {
        g.retired = s->retired_next;
        free_records(s);
    }
}

// Waits for this thread to own the stream's busy counter outright; gives
// up after the limit rather than hang. True when it was taken.
bool take_busy(Stream& s, int32_t& previous) {
    const uint32_t start = ::SVX_ms_count();
    for (;;) {
        int32_t value = s.busy.load();
        if ((value == 0 || (s.parked.load() && value == kParked)) &&
            s.busy.compare_exchange_strong(value, value + kClosed)) {
            previous = value;
            return true;
        }
        if (::SVX_ms_count() - start > kWaitLimitMs) return false;
        Sleep(1);
    }
}

// Runs `work` with the stream's busy counter held; waits for a feeding or
// a service of the stream that is under way, within the limit.
template <typename Work>
void with_busy(Stream& s, Work work) {
    if (working_on == &s) {
        work();
        return;
    }
    const uint32_t start = ::SVX_ms_count();
    for (;;) {
        if (s.busy.fetch_add(1) == 0) break;
        s.busy.fetch_sub(1);
        if (::SVX_ms_count() - start > kWaitLimitMs) return;
        Sleep(1);
    }
    Stream* outer = working_on;
    working_on = &s;
    work();
    working_on = outer;
    s.busy.fetch_sub(1);
}

// Releases the stream's sample handle; waits until no mixing of the
// driver can still be reading the stream's buffers.
void release_sample(Stream& s) {
    if (!s.sample) return;
    ::SVX_register_EOB_callback(s.sample, nullptr);
    digital::DigitalDriver* driver = digital::sample_of(s.sample)->driver;
    ::SVX_release_sample_handle(s.sample);
    s.sample = nullptr;
    if (!driver || working_on == &s || feeding_depth > 0) return;
    const uint32_t start = ::SVX_ms_count();
    while (driver->mixing.load(std::memory_order_acquire) &&
           ::SVX_ms_count() - start < kWaitLimitMs)
        Sleep(1);
}

void free_parts(Stream& s) {
    release_sample(s);
    for (uint8_t*& buffer : s.buffers) {
        free_records(buffer);
        buffer = nullptr;
    }
    // A caller's descriptor stays open: only the handle over it goes.
    if (s.file) CloseHandle(s.file);
    s.file = nullptr;
}

// Starts the library-wide timer and thread for the first stream.
bool start_machinery(Streams& g) {
    g.timer = ::SVX_register_timer(&feed_timer);
    if (g.timer == -1) return false;
    ::SVX_set_timer_frequency(g.timer, 16);
    ::SVX_start_timer(g.timer);
    g.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g.thread = g.stop_event ? CreateThread(nullptr, 0, stream_thread, nullptr, 0, nullptr) : nullptr;
    if (!g.thread) {
        ::SVX_release_timer_handle(g.timer);
        g.timer = -1;
        if (g.stop_event) CloseHandle(g.stop_event);
        g.stop_event = nullptr;
        return false;
    }
    return true;
}

void stop_machinery(Streams& g) {
    if (g.timer != -1) {
        // Not waited for: a feeding pass still running reaches only records
        // kept until it ends, and its stream callback may be waiting for
        // the list this close holds.
        BackgroundWork no_wait;
        ::SVX_release_timer_handle(g.timer);
    }
    g.timer = -1;
    if (g.thread) {
        SetEvent(g.stop_event);
        // A service reads at most three buffers; this is ample.
        WaitForSingleObject(g.thread, 10000);
        CloseHandle(g.thread);
        CloseHandle(g.stop_event);
    }
    g.thread = g.stop_event = nullptr;
}

// The sizes of open: buffer size, preload and the mode.
void size_buffers(Stream& s, HDIGDRIVER driver, int32_t requested) {
    const int64_t minimum =
        std::max<int32_t>(::SVX_minimum_sample_buffer_size(driver, int32_t(s.rate), int32_t(s.format)), 0);
    int64_t size = requested > 0 ? requested / 3 : std::max<int64_t>(s.bytes_per_second / 4, minimum);
    // The minimum counts ADPCM bytes, but DirectSound starts a sample by
    // filling two segments of decoded sound, which the first buffer alone
    // must cover: its block headers leave the minimum just short of that.
    if (requested <= 0 && is_adpcm(s.format)) size = std::max(size, 2 * minimum);
    size = (size + 4095) / 4096 * 4096;
    if (size == 0) size = 4096;
    // A buffer of whole ADPCM blocks, read in whole blocks: a sample
    // starts each buffer it is given with a block header.
    if (is_adpcm(s.format) && s.block_size > 0) {
        const int64_t unit = 2 * int64_t(s.block_size);
        size = (size + unit - 1) / unit * unit;
    }
    if (int64_t(s.data_size) - 3 * size > 0x2FFF) {
        s.single_buffer = false;
        s.buffer_size = uint32_t(std::min<int64_t>(size, INT32_MAX));
        s.preload = uint32_t(std::min<int64_t>(2 * std::max(minimum, size), INT32_MAX));
    } else {
        s.single_buffer = true;
        s.buffer_size = s.preload = s.data_size;
    }
    s.read_size = s.single_buffer ? std::max<uint32_t>(s.buffer_size / 2, 1) : s.buffer_size / 2;
}

// The file named by a stream's open: an owned handle, or the caller's
// descriptor after four backslashes.
HANDLE open_file(const char* name, bool& not_owned) {
    not_owned = false;
    if (std::strncmp(name, "\\\\\\\\", 4) == 0) {
        const char* digits = name + 4;
        int64_t fd = 0;
        if (!*digits) return INVALID_HANDLE_VALUE;
        for (const char* p = digits; *p; ++p) {
            if (*p < '0' || *p > '9') return INVALID_HANDLE_VALUE;
            fd = fd * 10 + (*p - '0');
            if (fd > INT_MAX) return INVALID_HANDLE_VALUE;
        }
        not_owned = true;
        return win32_file_handle(int(fd));
    }
    return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

int32_t stream_position(Stream& s) {
    if (s.read_error.load()) return -1;
    // The sample rounds ADPCM positions to whole blocks, past a short last one.
    if (s.single_buffer) return int32_t(std::min(::SVX_sample_position(s.sample), s.data_size));
    const int64_t size = s.data_size;
    int64_t played = s.played_total.load();
    if (played > size + 2 * int64_t(s.buffer_size) && size > 0) played %= size;
    uint32_t p0 = 0, l0 = 0, p1 = 0, l1 = 0;
    ::SVX_sample_buffer_info(s.sample, &p0, &l0, &p1, &l1);
    int64_t position = played + (int64_t(p0) - l0) + (int64_t(p1) - l1);
    position %= size + 1;
    if (position < 0) position += size + 1;
    return int32_t(position);
}

double stream_bytes_per_second(const Stream& s) {
    const bool stereo = (s.format & SVX_FORMAT_STEREO) != 0;
    if (is_adpcm(s.format)) {
        const int64_t h = stereo ? 8 : 4;
        const int64_t per_block = (int64_t(s.block_size) - h) * 8 / h + 1;
        if (per_block <= 0) return 0;
        return double(s.block_size) * s.rate / double(per_block);
    }
    return double((stereo ? 2 : 1) * ((s.format & SVX_FORMAT_16BIT) ? 2 : 1)) * s.rate;
}

}  // namespace

// ---- the header walk ----

bool read_stream_header(HANDLE file, int64_t base, int64_t end, StreamFormat& out) {
    uint8_t head[12];
    if (end - base < 12 || !seek(file, base) || !read_exact(file, head, 12)) return false;
    if (!same_id(head, "RIFF") || !same_id(head + 8, "WAVE")) return false;

    bool have_format = false;
    uint16_t tag = 0;
    int64_t at = base + 12;
    for (int chunks = 0; chunks < kMaxChunks; ++chunks) {
        uint8_t chunk[8];
        if (end - at < 8 || !seek(file, at) || !read_exact(file, chunk, 8)) return false;
        const int64_t length = le32(chunk + 4);
        const int64_t body = at + 8;
        if (length > end - body) return false;  // the chunk claims more than the file holds
        if (same_id(chunk, "fmt ")) {
            uint8_t fmt[16];
            if (length < 16 || !read_exact(file, fmt, 16)) return false;
            tag = uint16_t(le16(fmt));
            out.channels = le16(fmt + 2);
            out.rate = le32(fmt + 4);
            out.block_size = le16(fmt + 12);
            out.bits = le16(fmt + 14);
            have_format = true;
        } else if (same_id(chunk, "data") && have_format) {
            const bool adpcm = tag == kTagImaAdpcm && out.bits == 4;
            const bool pcm = tag == kTagPcm && (out.bits == 8 || out.bits == 16);
            if ((!adpcm && !pcm) || (out.channels != 1 && out.channels != 2)) return false;
            if (out.rate == 0 || out.rate > INT32_MAX) return false;
            if (adpcm && out.block_size <= 4 * out.channels) return false;
            out.format = adpcm ? SVX_FORMAT_ADPCM | SVX_FORMAT_16BIT : out.bits == 16 ? SVX_FORMAT_16BIT : 0;
            if (out.channels == 2) out.format |= SVX_FORMAT_STEREO;
            const uint32_t unit = adpcm ? 4 * out.channels : out.channels * out.bits / 8;
            const uint32_t size = uint32_t(std::min<int64_t>(length, kMaxDataSize));
            out.data_size = size / unit * unit;
            out.data_start = body;
            return true;
        }
        at = body + length + (length & 1);
    }
    return false;
}

void detach_streams_of(HDIGDRIVER driver) {
    Streams& g = streams();
    std::lock_guard lock(g.list_mutex);
    for (Stream* s = g.head.load(); s; s = s->next.load()) {
        if (!s->sample || digital::sample_of(s->sample)->driver != digital::driver_of(driver)) continue;
        with_busy(*s, [&] { release_sample(*s); });
    }
}

void close_all_streams() {
    Streams& g = streams();
    while (Stream* s = g.head.load()) ::SVX_close_stream(handle_of(s));
    stop_machinery(g);
    free_retired(g);
}

}  // namespace svx::services

namespace svx::op {
using namespace svx::services;

HSTREAM SVX_open_stream(HDIGDRIVER driver, const char* filename, int32_t buffer_bytes) {
    if (!driver || !filename) return nullptr;
    Stream* s = new_records<Stream>(1);
    if (!s) return nullptr;
    auto fail = [&](const char* text) -> HSTREAM {
        if (text) ::SVX_set_error(text);
        free_parts(*s);
        free_records(s);
        return nullptr;
    };

    bool not_owned = false;
    HANDLE file = open_file(filename, not_owned);
    if (file == INVALID_HANDLE_VALUE) return fail("Unable to open file.");
    s->file = file;
    s->file_not_owned = not_owned;

    s->sample = ::SVX_allocate_sample_handle(driver);
    if (!s->sample) return fail("Unable to obtain a sample handle.");
    ::SVX_init_sample(s->sample);

    // A caller's descriptor is read from where it stands.
    const int64_t base = not_owned ? file_position(file) : 0;
    const int64_t end = file_end(file);
    StreamFormat format;
    if (base < 0 || end < 0 || !read_stream_header(file, base, end, format) ||
        !seek(file, format.data_start))
        return fail("Error getting sound format.");
    s->rate = format.rate;
    s->format = format.format;
    s->sign = (format.bits == 8) ? 0 : 1;
    s->data_size = format.data_size;
    s->block_size = format.block_size;
    s->data_start = format.data_start;
    s->bytes_per_second = uint32_t(std::min<uint64_t>(
        uint64_t(format.channels) * format.rate * format.bits / 8, UINT32_MAX));
    if (is_adpcm(s->format) && s->block_size > 0)
        s->block_pad = (s->block_size - s->data_size % s->block_size) % s->block_size;
    ::SVX_set_sample_playback_rate(s->sample, int32_t(s->rate));
    ::SVX_set_sample_type(s->sample, int32_t(s->format), s->sign);
    ::SVX_set_sample_adpcm_block_size(s->sample, s->block_size);

    size_buffers(*s, driver, buffer_bytes);
    for (int i = 0; i < (s->single_buffer ? 1 : 3); ++i) {
        s->buffers[i] = new_records<uint8_t>(std::max<uint32_t>(s->buffer_size, 1));
        if (!s->buffers[i]) return fail("Out of memory.");
    }

    ::SVX_register_EOB_callback(s->sample, &feed_end_of_buffer);
    reset_ring(*s);
    s->loop_count.store(1);
    s->fill_target = s->preload;
    s->auto_service.store(1);

    Streams& g = streams();
    {
        std::lock_guard lock(g.list_mutex);
        free_retired(g);
        if (!g.head.load() && g.timer == -1 && !start_machinery(g))
            return fail("Out of timer handles.");
        s->next.store(g.head.load());
        g.head.store(s, std::memory_order_release);
    }
    return handle_of(s);
}

void SVX_close_stream(HSTREAM handle) {
    Stream* s = stream_of(handle);
    if (!s || s->closed.exchange(true)) return;
    Streams& g = streams();
    {
        std::lock_guard lock(g.list_mutex);
        Stream* at = g.head.load();
        if (at == s) {
            g.head.store(s->next.load());
        } else {
            while (at && at->next.load() != s) at = at->next.load();
            if (at) at->next.store(s->next.load());
        }
        if (!g.head.load()) stop_machinery(g);
    }
    // A pass that is handing over or reading for this stream finishes first.
    int32_t previous = 0;
    if (working_on != s) take_busy(*s, previous);
    else s->busy.fetch_add(kClosed);
    free_parts(*s);
    std::lock_guard lock(g.list_mutex);
    s->retired_next = g.retired;
    g.retired = s;
    if (working_on == nullptr) free_retired(g);
}

int32_t SVX_service_stream(HSTREAM handle, int32_t) {
    Stream* s = stream_of(handle);
    if (!s || s->closed.load() || s->read_error.load() || s->end_state.load() != 0 || !s->sample)
        return -1;
    Raise busy(s->busy);
    if (!busy.first()) return -1;
    Stream* outer = working_on;
    working_on = s;
    const int32_t result = service(*s);
    working_on = outer;
    return result;
}

void SVX_start_stream(HSTREAM handle) {
    Stream* s = stream_of(handle);
    if (!s || s->closed.load()) return;
    int32_t armed = 1;
    s->auto_service.compare_exchange_strong(armed, 2);
    if (!s->single_buffer) {
        if (s->sample_running.load()) {
            ::SVX_stop_sample(s->sample);
            ::SVX_set_stream_position(handle, 0);
        }
        s->started.store(1);
        feed_all();
    } else {
        if (s->sample_running.load()) ::SVX_start_sample(s->sample);
        s->started.store(1);
        feed_all();
    }
}

void SVX_pause_stream(HSTREAM handle, int32_t on) {
    Stream* s = stream_of(handle);
    if (!s || s->closed.load()) return;
    if (on) {
        if (::SVX_stream_status(handle) == SVX_PLAYING) {
            ::SVX_stop_sample(s->sample);
            s->started.fetch_or(8 | 16);
        } else {
            s->started.fetch_or(8);
        }
        return;
    }
    const int32_t started = s->started.load();
    if (started & 1) {
        if (started & 16) ::SVX_resume_sample(s->sample);
        s->started.fetch_and(~(8 | 16));
        feed_all();
    } else {
        s->started.fetch_and(~(8 | 16));
        ::SVX_start_stream(handle);
    }
}

void SVX_set_stream_volume(HSTREAM handle, int32_t volume) {
    if (Stream* s = stream_of(handle)) ::SVX_set_sample_volume(s->sample, volume);
}
void SVX_set_stream_pan(HSTREAM handle, int32_t pan) {
    if (Stream* s = stream_of(handle)) ::SVX_set_sample_pan(s->sample, pan);
}
void SVX_set_stream_playback_rate(HSTREAM handle, int32_t rate) {
    if (Stream* s = stream_of(handle)) ::SVX_set_sample_playback_rate(s->sample, rate);
}
int32_t SVX_stream_volume(HSTREAM handle) {
    Stream* s = stream_of(handle);
    return s ? ::SVX_sample_volume(s->sample) : -1;
}
int32_t SVX_stream_pan(HSTREAM handle) {
    Stream* s = stream_of(handle);
    return s ? ::SVX_sample_pan(s->sample) : -1;
}
int32_t SVX_stream_playback_rate(HSTREAM handle) {
    Stream* s = stream_of(handle);
    return s ? ::SVX_sample_playback_rate(s->sample) : -1;
}

void SVX_set_stream_loop_count(HSTREAM handle, int32_t count) {
    Stream* s = stream_of(handle);
    if (!s) return;
    if (s->single_buffer) ::SVX_set_sample_loop_count(s->sample, count);
    else s->loop_count.store(count);
}

int32_t SVX_stream_loop_count(HSTREAM handle) {
    Stream* s = stream_of(handle);
    if (!s) return -1;
    return s->single_buffer ? ::SVX_sample_loop_count(s->sample) : s->loop_count.load();
}

int32_t SVX_stream_status(HSTREAM handle) {
    Stream* s = stream_of(handle);
    if (!s || s->read_error.load()) return -1;
    if ((s->started.load() & 1) && !s->sample_running.load()) return SVX_PLAYING;
    return ::SVX_sample_status(s->sample);
}

void SVX_set_stream_position(HSTREAM handle, int32_t offset) {
    Stream* s = stream_of(handle);
    if (!s || s->closed.load()) return;
    int64_t at = std::max<int32_t>(offset, 0);
    if (is_adpcm(s->format) && s->block_size > 0) {
        const int64_t block = s->block_size;
        const int64_t rest = at % block;
        at -= rest;
        if (rest > block / 2) at += block;
    }
    at = std::min<int64_t>(at, s->data_size);
    if (s->single_buffer) {
        // Before the buffer reaches the sample, starting would rewind it.
        if (!s->parked.load()) s->pending.store(at);
        ::SVX_set_sample_position(s->sample, uint32_t(at));
        return;
    }
    with_busy(*s, [&] {
        if (s->sample_running.load()) {
            HSAMPLE h = s->sample;
            const int32_t rate = ::SVX_sample_playback_rate(h);
            const int32_t volume = ::SVX_sample_volume(h);
            const int32_t pan = ::SVX_sample_pan(h);
            ::SVX_register_EOB_callback(h, nullptr);
            ::SVX_end_sample(h);
            ::SVX_init_sample(h);
            ::SVX_set_sample_playback_rate(h, rate);
            ::SVX_set_sample_type(h, int32_t(s->format), s->sign);
            ::SVX_set_sample_adpcm_block_size(h, s->block_size);
            ::SVX_set_sample_volume(h, volume);
            ::SVX_set_sample_pan(h, pan);
            ::SVX_register_EOB_callback(h, &feed_end_of_buffer);
        }
        if (!seek(s->file, s->data_start + at)) s->read_error.store(1);
        s->read_position = at;
        s->played_total.store(at);
        reset_ring(*s);
        s->fill_target = s->preload;
        s->sample_running.store(0);
        s->end_state.store(0);
        s->pad_written = -1;
    });
}

int32_t SVX_stream_position(HSTREAM handle) {
    Stream* s = stream_of(handle);
    return s ? stream_position(*s) : -1;
}

void SVX_stream_ms_position(HSTREAM handle, int32_t* total_ms, int32_t* current_ms) {
    Stream* s = stream_of(handle);
    if (!s) return;
    const double per_second = stream_bytes_per_second(*s);
    auto ms = [&](int64_t bytes) {
        if (per_second <= 0 || bytes < 0) return int32_t(-1);
        return int32_t(std::min(double(bytes) * 1000.0 / per_second, double(INT32_MAX)));
    };
    if (total_ms) *total_ms = ms(s->data_size);
    if (current_ms) *current_ms = ms(stream_position(*s));
}

void SVX_set_stream_ms_position(HSTREAM handle, int32_t milliseconds) {
    Stream* s = stream_of(handle);
    if (!s) return;
    const double bytes = double(std::max(milliseconds, 0)) * stream_bytes_per_second(*s) / 1000.0;
    ::SVX_set_stream_position(handle, int32_t(std::min(bytes, double(INT32_MAX))));
}

void SVX_stream_info(HSTREAM handle, int32_t* rate, int32_t* format, int32_t* data_size,
                     int32_t* memory) {
    Stream* s = stream_of(handle);
    if (!s) return;
    if (rate) *rate = int32_t(s->rate);
    if (format) *format = int32_t(s->format);
    if (data_size) *data_size = int32_t(s->data_size);
    if (memory) *memory = int32_t(std::min<int64_t>(int64_t(s->buffer_size) * (s->single_buffer ? 1 : 3), INT32_MAX));
}

SVXSTREAMCB SVX_register_stream_callback(HSTREAM handle, SVXSTREAMCB callback) {
    Stream* s = stream_of(handle);
    if (!s) return reinterpret_cast<SVXSTREAMCB>(intptr_t(-1));
    return s->callback.exchange(callback);
}

int32_t SVX_auto_service_stream(HSTREAM handle, int32_t on) {
    Stream* s = stream_of(handle);
    if (!s) return 0;
    const int32_t value = on ? 2 : 0;
    s->auto_service.store(value);
    return value;
}

void SVX_set_stream_user_data(HSTREAM handle, uint32_t index, uintptr_t value) {
    Stream* s = stream_of(handle);
    if (s && index < 8) s->user_data[index].store(value, std::memory_order_relaxed);
}

uintptr_t SVX_stream_user_data(HSTREAM handle, uint32_t index) {
    Stream* s = stream_of(handle);
    if (!s || index >= 8) return 0;
    return s->user_data[index].load(std::memory_order_relaxed);
}

}  // namespace svx::op
