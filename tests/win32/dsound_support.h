// Helpers of the DirectSound tests: the module's entry points, owning
// references, buffers filled from a vector, and reading a wav: capture.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "multimedia_support.h"
#include "win32/dsound.h"
#include "win32/kernel.h"

namespace dstest {

using namespace std::chrono_literals;

// A reference released when it goes out of scope.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** out() {
        reset();
        return &p_;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// DSOUND.DLL loaded through the kernel, as the library loads it.
struct Module {
    HMODULE handle = nullptr;
    LPDIRECTSOUNDCREATE create = nullptr;
    LPDIRECTSOUNDENUMERATEA enumerate = nullptr;

    Module() {
        handle = LoadLibraryA("DSOUND.DLL");
        if (!handle) return;
        using Any = void (*)();
        create = reinterpret_cast<LPDIRECTSOUNDCREATE>(
            reinterpret_cast<Any>(GetProcAddress(handle, "DirectSoundCreate")));
        enumerate = reinterpret_cast<LPDIRECTSOUNDENUMERATEA>(
            reinterpret_cast<Any>(GetProcAddress(handle, "DirectSoundEnumerateA")));
    }
    ~Module() {
        if (handle) FreeLibrary(handle);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
};

inline HWND some_window() { return reinterpret_cast<HWND>(uintptr_t(0x12340)); }

inline DSBUFFERDESC buffer_desc(DWORD flags, DWORD bytes, WAVEFORMATEX* format) {
    DSBUFFERDESC d{};
    d.dwSize = sizeof d;
    d.dwFlags = flags;
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = format;
    return d;
}

constexpr DWORD kControls = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME |
                            DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;

// Copies `bytes` into the buffer from `offset`, through Lock and Unlock.
inline HRESULT write_buffer(IDirectSoundBuffer* b, DWORD offset, const std::vector<uint8_t>& bytes) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    HRESULT hr = b->Lock(offset, DWORD(bytes.size()), &p1, &n1, &p2, &n2, 0);
    if (hr != DS_OK) return hr;
    std::memcpy(p1, bytes.data(), n1);
    if (p2) std::memcpy(p2, bytes.data() + n1, n2);
    return b->Unlock(p1, n1, p2, n2);
}

inline DWORD status_of(IDirectSoundBuffer* b) {
    DWORD s = 0;
    EXPECT_EQ(b->GetStatus(&s), DS_OK);
    return s;
}

// Waits until the buffer stops playing; false after `limit`.
inline bool wait_stopped(IDirectSoundBuffer* b, std::chrono::milliseconds limit = 10s) {
    auto start = std::chrono::steady_clock::now();
    while (status_of(b) & DSBSTATUS_PLAYING) {
        if (std::chrono::steady_clock::now() - start > limit) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The frames of a captured WAV file as signed 16-bit values (8-bit data
// widened), with its format.
struct Capture {
    std::string error;
    uint16_t channels = 0, bits = 0;
    uint32_t rate = 0;
    std::vector<int32_t> samples;  // interleaved
    size_t frames() const { return channels ? samples.size() / channels : 0; }
    int32_t at(size_t frame, int channel) const { return samples[frame * channels + channel]; }
};

inline Capture read_capture(const std::string& path) {
    using mmtest::le16;
    using mmtest::le32;
    Capture c;
    std::vector<uint8_t> file = mmtest::read_file(path);
    if (file.size() < 44 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 36, "data", 4) != 0) {
        c.error = "not the writer's WAV layout";
        return c;
    }
    c.channels = le16(file.data() + 22);
    c.rate = le32(file.data() + 24);
    c.bits = le16(file.data() + 34);
    uint32_t size = le32(file.data() + 40);
    if (size > file.size() - 44) {
        c.error = "data size past the end";
        return c;
    }
    const uint8_t* d = file.data() + 44;
    if (c.bits == 8) {
        for (uint32_t i = 0; i < size; ++i) c.samples.push_back((int32_t(d[i]) - 128) * 256);
    } else {
        for (uint32_t i = 0; i + 1 < size; i += 2) c.samples.push_back(int16_t(le16(d + i)));
    }
    return c;
}

// First and one past the last frame where any channel is not silent.
struct Span {
    size_t begin = 0, end = 0;
    size_t length() const { return end - begin; }
};

inline Span sounding(const Capture& c) {
    Span s;
    size_t n = c.frames();
    auto loud = [&](size_t f) {
        for (int ch = 0; ch < c.channels; ++ch)
            if (c.at(f, ch) != 0) return true;
        return false;
    };
    while (s.begin < n && !loud(s.begin)) ++s.begin;
    s.end = n;
    while (s.end > s.begin && !loud(s.end - 1)) --s.end;
    return s;
}

}  // namespace dstest
