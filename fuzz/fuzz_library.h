// Pieces the sound library's fuzz targets share: an input copied into a
// library memory block (whose size the library learns), a block the
// library made and the target frees, and the sequencer started with its
// service parked so that only the target ticks it.
#pragma once

#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "sonvex.h"

namespace fuzz {

class Block {
public:
    // A copy of `size` bytes of `from`.
    Block(const void* from, size_t size)
        : data_(static_cast<uint8_t*>(SVX_mem_alloc_lock(int32_t(size ? size : 1)))), size_(size) {
        if (data_ && size) std::memcpy(data_, from, size);
    }
    // A block the library made (or none yet); freed with this object. One
    // argument only, so that a copy is never taken for this by mistake.
    explicit Block(void* owned) : data_(static_cast<uint8_t*>(owned)), size_(0) {}
    Block() : Block(nullptr) {}
    ~Block() {
        if (data_) SVX_mem_free_lock(data_);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* get() const { return data_; }
    size_t size() const { return size_; }
    // For the library's out-parameters; what was held is freed first.
    void** out() {
        reset();
        return reinterpret_cast<void**>(&data_);
    }
    uint32_t* out_size() { return &out_size_; }
    void reset() {
        if (data_) SVX_mem_free_lock(data_);
        data_ = nullptr;
    }
    // The size the library gave through out_size().
    uint32_t given_size() const { return out_size_; }

private:
    uint8_t* data_;
    size_t size_;
    uint32_t out_size_ = 0;
};

// The library on the null audio device, on a scratch drive.
inline bool start_library() {
    setenv("WIN32_AUDIO", "null", 1);
    scratch_drive();
    return SVX_startup() == 1;
}

// The library on the null MIDI device, its service thread parked.
inline bool start_sequencer() {
    setenv("WIN32_MIDI", "null", 1);
    scratch_drive();
    if (SVX_startup() != 1) return false;
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000);
    return true;
}

// One driver for every input: opening one pauses to let a device take
// its channel set-up. What an input may have changed is put back.
inline HMDIDRIVER shared_midi_driver() {
    static HMDIDRIVER d = [] {
        HMDIDRIVER opened = nullptr;
        if (SVX_midiOutOpen(&opened, nullptr, -1) != 0 || !opened) std::abort();
        return opened;
    }();
    SVX_set_XMIDI_master_volume(d, 127);
    for (int32_t channel = 1; channel <= 16; ++channel) SVX_release_channel(d, channel);
    return d;
}

}  // namespace fuzz
