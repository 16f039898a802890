// Helpers of the waveOut and midiOut tests: PCM formats, the backend
// variables, a log of device callbacks, scratch files and running a tool.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "win32/winmm.h"

namespace mmtest {

// A PCM format with its block size and byte rate worked out.
inline WAVEFORMATEX pcm(WORD channels, WORD bits, DWORD rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.wBitsPerSample = bits;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = WORD(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

// Sets a variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Every callback a device makes, with the thread it came on.
class CallbackLog {
public:
    struct Call {
        UINT message;
        uintptr_t handle;
        DWORD_PTR instance;
        DWORD_PTR param;
        std::thread::id thread;
    };

    static void CALLBACK wave(HWAVEOUT handle, UINT message, DWORD_PTR instance, DWORD_PTR param,
                              DWORD_PTR) {
        reinterpret_cast<CallbackLog*>(instance)->add({message, reinterpret_cast<uintptr_t>(handle),
                                                       instance, param,
                                                       std::this_thread::get_id()});
    }
    static void CALLBACK midi(HMIDIOUT handle, UINT message, DWORD_PTR instance, DWORD_PTR param,
                              DWORD_PTR) {
        reinterpret_cast<CallbackLog*>(instance)->add({message, reinterpret_cast<uintptr_t>(handle),
                                                       instance, param,
                                                       std::this_thread::get_id()});
    }

    DWORD_PTR instance() { return reinterpret_cast<DWORD_PTR>(this); }

    std::vector<Call> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    // Waits until `count` calls have come, at most `limit`.
    bool wait_for(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return calls_.size() >= count; });
    }

private:
    void add(const Call& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
};

// A file name in the test's scratch folder, unique per process.
inline std::string scratch_path(const std::string& name) {
    return testing::TempDir() + "mm_" + std::to_string(getpid()) + "_" + name;
}

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command; its standard output and exit status.
inline std::string run_tool(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    status = pclose(pipe);
    return output;
}

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Milliseconds on a steady clock since `start`.
inline long long elapsed_ms(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace mmtest
