// The DirectSound stand-in's shared state: one Core per DirectSound object,
// holding its buffers' play state and mixing them for the process's output.
// Internal to win32_multimedia.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "output_device.h"
#include "pcm_sink.h"
#include "win32/dsound.h"

namespace win32::mm::ds {

// Buffer positions are frames in 32.32 fixed point, so that rate
// conversion keeps its fraction from one period to the next.
constexpr int kFracBits = 32;
constexpr uint64_t kOne = uint64_t(1) << kFracBits;

// The bytes of a buffer, shared with its duplicates.
struct Storage {
    std::vector<uint8_t> data;    // what the mixer reads
    std::vector<uint8_t> mirror;  // what Lock hands out; Unlock copies it back
    uint8_t silence = 0;
};

// Which buffer position was mixed into which sink frames, so that the
// play cursor can follow what has actually been heard.
struct Mark {
    uint64_t sink = 0;  // first sink frame of the stretch
    uint32_t count = 0;
    uint64_t pos = 0;   // buffer position at its start
    uint64_t step = 0;  // buffer frames per sink frame
};

// Play state of one buffer. Guarded by Core::mutex.
struct Voice {
    IDirectSoundBuffer* owner = nullptr;  // the buffer object holding this voice
    bool primary = false;
    DWORD flags = 0;  // DSBCAPS_*
    PcmFormat format;
    uint32_t frames = 0;  // whole frames in the buffer
    std::shared_ptr<Storage> storage;
    DWORD frequency = 0;
    LONG volume = 0;
    LONG pan = 0;

    bool playing = false;
    bool looping = false;
    bool draining = false;  // a once-buffer wholly mixed, not yet wholly heard
    bool lost = false;
    uint64_t pos = 0;     // next position to mix, or where a stopped buffer stands
    uint64_t end_at = 0;  // sink frame after a draining buffer's last one

    static constexpr size_t kMarks = 16;
    std::array<Mark, kMarks> marks{};
    size_t first_mark = 0;
    size_t mark_count = 0;

    uint32_t bytes() const { return frames * format.frame_bytes(); }
    uint64_t limit() const { return uint64_t(frames) << kFracBits; }
    const Mark& mark(size_t i) const { return marks[(first_mark + i) % kMarks]; }
    void add_mark(const Mark& m);
    void clear_marks() { first_mark = mark_count = 0; }
};

// Linear gain in 16.16 for an attenuation in hundredths of a decibel;
// DSBVOLUME_MIN and below are silence.
int32_t attenuation_gain(LONG hundredths);

// One DirectSound object: a source of the process's output, mixing its
// buffers in the output's format.
class Core : public AudioSource {
public:
    explicit Core(bool emulated);
    ~Core() override;
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Output control; callers hold `control`, never `mutex`.
    std::mutex control;
    // MMSYSERR_NOERROR or why the output did not open.
    MMRESULT start_output(const PcmFormat& format);
    void stop_output();
    // Asks the output for a new format; the old one stays on failure.
    HRESULT change_format(const PcmFormat& format);
    // Brings a failed output back; false when it cannot.
    bool revive_output();

    // What the output asks of a source.
    uint32_t render(int32_t* mix, uint32_t count, const PcmFormat& output,
                    uint64_t position) override;
    bool has_data() override { return true; }  // it plays on, silence or not
    void heard(uint64_t position) override;
    void failed() override;

    // Everything below is guarded by `mutex`.
    std::mutex mutex;
    std::vector<Voice*> voices;
    PcmFormat format;      // the primary buffer's format
    uint64_t written = 0;  // output frames mixed so far
    bool output_failed = false;
    bool alive = true;  // false once the DirectSound object is released
    const bool emulated;
    DWORD level = 0;  // cooperative level, 0 before it is set
    HWND window = nullptr;
    DWORD speakers = DSSPEAKER_STEREO;
    IDirectSoundBuffer* primary = nullptr;  // the primary buffer object, if one exists

    // Output frames heard so far, as the output last told.
    std::atomic<uint64_t> heard_frames{0};

    // Where a buffer is heard now; settle() first.
    uint64_t play_position(const Voice& voice) const;
    // Ends a once-buffer whose last frame has been heard, drops old marks.
    void settle(Voice& voice) const;
    // Every buffer becomes lost: stopped, silenced.
    void lose_all();
    uint32_t primary_frames() const { return std::max<uint32_t>(1, format.rate / 10); }

private:
    void mix(uint32_t count, const PcmFormat& output);

    std::vector<int32_t> acc_;  // the mix of this object's buffers
};

// Every live Core, for the loss seam.
void for_each_core(void (*fn)(Core&));

}  // namespace win32::mm::ds
