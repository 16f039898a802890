// waveOut of the stand-in on the null device: argument and format checks,
// the header life cycle, real-time completion, callbacks, reset, close,
// device failure, caps and the choice of backend.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "multimedia_support.h"
#include "win32/winmm.h"

namespace {

using namespace std::chrono_literals;
using mmtest::CallbackLog;
using mmtest::pcm;
using mmtest::ScopedEnv;
using Clock = std::chrono::steady_clock;

// A device on the null backend, closed (after a reset) at the end.
struct Device {
    explicit Device(const WAVEFORMATEX& format, CallbackLog* log = nullptr,
                    const std::string& backend = "null")
        : env("WIN32_AUDIO", backend) {
        DWORD_PTR callback = log ? reinterpret_cast<DWORD_PTR>(&CallbackLog::wave) : 0;
        DWORD flags = log ? CALLBACK_FUNCTION : CALLBACK_NULL;
        result =
            waveOutOpen(&handle, WAVE_MAPPER, &format, callback, log ? log->instance() : 0, flags);
    }
    ~Device() {
        if (handle) {
            waveOutReset(handle);
            waveOutClose(handle);
        }
    }
    ScopedEnv env;
    HWAVEOUT handle = nullptr;
    MMRESULT result = MMSYSERR_ERROR;
};

// A prepared header over its own buffer.
struct Buffer {
    Buffer(HWAVEOUT device, size_t bytes, uint8_t fill = 0x80) : device(device), data(bytes, fill) {
        header.lpData = reinterpret_cast<LPSTR>(data.data());
        header.dwBufferLength = DWORD(bytes);
        prepared = waveOutPrepareHeader(device, &header, sizeof header);
    }
    ~Buffer() { waveOutUnprepareHeader(device, &header, sizeof header); }
    DWORD flags() { return std::atomic_ref<DWORD>(header.dwFlags).load(); }
    bool done() { return flags() & WHDR_DONE; }
    bool wait_done(std::chrono::milliseconds limit) {
        auto start = Clock::now();
        while (!done()) {
            if (Clock::now() - start > limit) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    HWAVEOUT device;
    std::vector<uint8_t> data;
    WAVEHDR header{};
    MMRESULT prepared;
};

TEST(WaveOutFormat, ChecksAsWindowsDoes) {
    ScopedEnv env("WIN32_AUDIO", "null");
    struct Case {
        const char* what;
        WORD tag, channels, bits;
        DWORD rate;
        int align_delta, avg_delta;
        MMRESULT expected;
    } cases[] = {
        {"8-bit mono", WAVE_FORMAT_PCM, 1, 8, 22050, 0, 0, MMSYSERR_NOERROR},
        {"16-bit stereo", WAVE_FORMAT_PCM, 2, 16, 44100, 0, 0, MMSYSERR_NOERROR},
        {"lowest rate", WAVE_FORMAT_PCM, 1, 16, 1000, 0, 0, MMSYSERR_NOERROR},
        {"highest rate", WAVE_FORMAT_PCM, 2, 16, 192000, 0, 0, MMSYSERR_NOERROR},
        {"not PCM", 2, 1, 8, 22050, 0, 0, WAVERR_BADFORMAT},
        {"no channels", WAVE_FORMAT_PCM, 0, 8, 22050, 0, 0, WAVERR_BADFORMAT},
        {"three channels", WAVE_FORMAT_PCM, 3, 16, 22050, 0, 0, WAVERR_BADFORMAT},
        {"24 bits", WAVE_FORMAT_PCM, 2, 24, 44100, 0, 0, WAVERR_BADFORMAT},
        {"12 bits", WAVE_FORMAT_PCM, 1, 12, 44100, 0, 0, WAVERR_BADFORMAT},
        {"rate too low", WAVE_FORMAT_PCM, 1, 8, 999, 0, 0, WAVERR_BADFORMAT},
        {"rate too high", WAVE_FORMAT_PCM, 1, 8, 192001, 0, 0, WAVERR_BADFORMAT},
        {"block align off", WAVE_FORMAT_PCM, 2, 16, 22050, 1, 0, WAVERR_BADFORMAT},
        {"average rate off", WAVE_FORMAT_PCM, 2, 16, 22050, 0, -4, WAVERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Exactly a PCMWAVEFORMAT, as older callers pass: nothing past it
        // may be read (the sanitizer build catches it).
        auto format = std::make_unique<PCMWAVEFORMAT>();
        WAVEFORMATEX full = pcm(c.channels, c.bits, c.rate);
        std::memcpy(format.get(), &full, sizeof(PCMWAVEFORMAT));
        format->wFormatTag = c.tag;
        format->nBlockAlign = WORD(format->nBlockAlign + c.align_delta);
        format->nAvgBytesPerSec = DWORD(format->nAvgBytesPerSec + c.avg_delta);
        auto* as_ex = reinterpret_cast<LPCWAVEFORMATEX>(format.get());

        EXPECT_EQ(waveOutOpen(nullptr, 0, as_ex, 0, 0, WAVE_FORMAT_QUERY), c.expected);
        HWAVEOUT handle = nullptr;
        EXPECT_EQ(waveOutOpen(&handle, WAVE_MAPPER, as_ex, 0, 0, CALLBACK_NULL), c.expected);
        EXPECT_EQ(handle != nullptr, c.expected == MMSYSERR_NOERROR);
        if (handle) {
            EXPECT_EQ(waveOutClose(handle), MMSYSERR_NOERROR);
        }
    }
}

TEST(WaveOutFormat, NullMaxRateRefusesFasterFormats) {
    ScopedEnv env("WIN32_AUDIO", "null:maxrate=11025");
    WAVEFORMATEX slow = pcm(1, 8, 11025);
    WAVEFORMATEX fast = pcm(1, 8, 22050);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &slow, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &fast, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    HWAVEOUT handle = nullptr;
    EXPECT_EQ(waveOutOpen(&handle, 0, &fast, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(handle, nullptr);

    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_TRUE(caps.dwFormats & WAVE_FORMAT_1M08);
    EXPECT_FALSE(caps.dwFormats & WAVE_FORMAT_2M08);
}

TEST(WaveOutOpen, RefusesBadArguments) {
    ScopedEnv env("WIN32_AUDIO", "null");
    WAVEFORMATEX f = pcm(1, 8, 22050);
    HWAVEOUT h = nullptr;
    auto callback = reinterpret_cast<DWORD_PTR>(&CallbackLog::wave);
    struct Case {
        const char* what;
        LPHWAVEOUT out;
        UINT device;
        LPCWAVEFORMATEX format;
        DWORD_PTR callback;
        DWORD flags;
        MMRESULT expected;
    } cases[] = {
        {"no handle pointer", nullptr, 0, &f, 0, CALLBACK_NULL, MMSYSERR_INVALPARAM},
        {"no format", &h, 0, nullptr, 0, CALLBACK_NULL, MMSYSERR_INVALPARAM},
        {"no such device", &h, 7, &f, 0, CALLBACK_NULL, MMSYSERR_BADDEVICEID},
        {"function without address", &h, 0, &f, 0, CALLBACK_FUNCTION, MMSYSERR_INVALPARAM},
        {"window callback", &h, 0, &f, callback, CALLBACK_WINDOW, MMSYSERR_NOTSUPPORTED},
        {"thread callback", &h, 0, &f, callback, CALLBACK_THREAD, MMSYSERR_NOTSUPPORTED},
        {"event callback", &h, 0, &f, callback, CALLBACK_EVENT, MMSYSERR_NOTSUPPORTED},
        {"unknown callback kind", &h, 0, &f, callback, 0x00040000u, MMSYSERR_INVALFLAG},
        {"query on no device", nullptr, 7, &f, 0, WAVE_FORMAT_QUERY, MMSYSERR_BADDEVICEID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(waveOutOpen(c.out, c.device, c.format, c.callback, 0, c.flags), c.expected);
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
}

TEST(WaveOutHandles, InvalidHandlesAreRefused) {
    HWAVEOUT closed = nullptr;
    {
        ScopedEnv env("WIN32_AUDIO", "null");
        WAVEFORMATEX f = pcm(1, 8, 22050);
        ASSERT_EQ(waveOutOpen(&closed, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutClose(closed), MMSYSERR_NOERROR);
    }
    HWAVEOUT made_up[] = {nullptr, reinterpret_cast<HWAVEOUT>(uintptr_t(0x1234)),
                          reinterpret_cast<HWAVEOUT>(uintptr_t(-1)), closed};
    for (HWAVEOUT h : made_up) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(h));
        WAVEHDR header{};
        char data[4] = {};
        header.lpData = data;
        header.dwBufferLength = sizeof data;
        EXPECT_EQ(waveOutPrepareHeader(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutWrite(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &header, sizeof header), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(header.dwFlags, 0u);
    }
}

TEST(WaveOutHeaders, PrepareWriteUnprepareRules) {
    Device device(pcm(1, 8, 8000));
    ASSERT_EQ(device.result, MMSYSERR_NOERROR);
    HWAVEOUT h = device.handle;

    std::vector<uint8_t> data(800, 0x80);  // 100 ms
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = DWORD(data.size());
    EXPECT_EQ(waveOutWrite(h, &header, sizeof header), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutPrepareHeader(h, nullptr, sizeof header), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(h, &header, sizeof header - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutWrite(h, &header, sizeof header - 1), MMSYSERR_INVALPARAM);

    ASSERT_EQ(waveOutPrepareHeader(h, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED);
    header.dwFlags |= WHDR_DONE;  // left from an earlier round
    ASSERT_EQ(waveOutWrite(h, &header, sizeof header), MMSYSERR_NOERROR);
    DWORD queued = std::atomic_ref<DWORD>(header.dwFlags).load();
    EXPECT_TRUE(queued & WHDR_INQUEUE);
    EXPECT_FALSE(queued & WHDR_DONE);
    EXPECT_EQ(waveOutWrite(h, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(h, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);

    auto start = Clock::now();
    while (!(std::atomic_ref<DWORD>(header.dwFlags).load() & WHDR_DONE) &&
           Clock::now() - start < 5s) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(std::atomic_ref<DWORD>(header.dwFlags).load(), WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &header, sizeof header), MMSYSERR_NOERROR);
}

TEST(WaveOutTiming, HeaderIsDoneAfterItsRealDuration) {
    Device device(pcm(1, 16, 8000));
    ASSERT_EQ(device.result, MMSYSERR_NOERROR);
    Buffer buffer(device.handle, 3200, 0);  // 200 ms
    ASSERT_EQ(buffer.prepared, MMSYSERR_NOERROR);

    auto start = Clock::now();
    ASSERT_EQ(waveOutWrite(device.handle, &buffer.header, sizeof buffer.header), MMSYSERR_NOERROR);
    std::this_thread::sleep_until(start + 100ms);
    EXPECT_FALSE(buffer.done()) << "done before half of it could have played";
    ASSERT_TRUE(buffer.wait_done(1500ms));
    EXPECT_GE(mmtest::elapsed_ms(start), 190);
}

TEST(WaveOutTiming, TinyWriteTakesAboutOnePeriod) {
    // What a caller measures by timing a 4-byte write is the device's latency.
    for (int latency : {10, 30}) {
        SCOPED_TRACE(latency);
        Device device(pcm(1, 8, 22050), nullptr, "null:latency=" + std::to_string(latency));
        ASSERT_EQ(device.result, MMSYSERR_NOERROR);
        Buffer buffer(device.handle, 4);
        auto start = Clock::now();
        ASSERT_EQ(waveOutWrite(device.handle, &buffer.header, sizeof buffer.header),
                  MMSYSERR_NOERROR);
        ASSERT_TRUE(buffer.wait_done(2s));
        long long took = mmtest::elapsed_ms(start);
        EXPECT_GE(took, latency - 2);
        EXPECT_LT(took, latency + 400);
    }
}

TEST(WaveOutCallbacks, InOrderOnADeviceThread) {
    CallbackLog log;
    std::vector<std::unique_ptr<Buffer>> buffers;
    uintptr_t handle_value = 0;
    {
        Device device(pcm(2, 16, 22050), &log);
        ASSERT_EQ(device.result, MMSYSERR_NOERROR);
        handle_value = reinterpret_cast<uintptr_t>(device.handle);
        for (int i = 0; i < 5; ++i) {
            buffers.push_back(std::make_unique<Buffer>(device.handle, 4 * 441 * (i + 1), 0));
            ASSERT_EQ(waveOutWrite(device.handle, &buffers.back()->header, sizeof(WAVEHDR)),
                      MMSYSERR_NOERROR);
        }
        ASSERT_TRUE(log.wait_for(6));  // open and five done
        for (auto& buffer : buffers)
            waveOutUnprepareHeader(device.handle, &buffer->header, sizeof(WAVEHDR));
    }
    auto calls = log.calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls.front().message, UINT(WOM_OPEN));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(calls[1 + i].message, UINT(WOM_DONE));
        EXPECT_EQ(calls[1 + i].param, reinterpret_cast<DWORD_PTR>(&buffers[i]->header)) << i;
    }
    EXPECT_EQ(calls.back().message, UINT(WOM_CLOSE));
    for (const auto& call : calls) {
        EXPECT_NE(call.thread, std::this_thread::get_id());
        EXPECT_EQ(call.handle, handle_value);
        EXPECT_EQ(call.instance, log.instance());
    }
}

TEST(WaveOutReset, MarksQueuedHeadersDoneAndReportsThemFirst) {
    CallbackLog log;
    Device device(pcm(1, 8, 8000), &log);
    ASSERT_EQ(device.result, MMSYSERR_NOERROR);
    ASSERT_TRUE(log.wait_for(1));
    std::vector<std::unique_ptr<Buffer>> buffers;
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(std::make_unique<Buffer>(device.handle, 8000));  // 1 s each
        ASSERT_EQ(waveOutWrite(device.handle, &buffers.back()->header, sizeof(WAVEHDR)),
                  MMSYSERR_NOERROR);
    }
    std::this_thread::sleep_for(50ms);
    auto start = Clock::now();
    ASSERT_EQ(waveOutReset(device.handle), MMSYSERR_NOERROR);
    EXPECT_LT(mmtest::elapsed_ms(start), 500) << "reset must not wait for the data to play";

    // Every header is done and its WOM_DONE came before reset returned.
    auto calls = log.calls();
    ASSERT_EQ(calls.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(buffers[i]->flags(), WHDR_PREPARED | WHDR_DONE);
        EXPECT_EQ(calls[1 + i].message, UINT(WOM_DONE));
        EXPECT_EQ(calls[1 + i].param, reinterpret_cast<DWORD_PTR>(&buffers[i]->header));
    }
    EXPECT_EQ(waveOutClose(device.handle), MMSYSERR_NOERROR);
    device.handle = nullptr;
    EXPECT_EQ(waveOutReset(device.handle), MMSYSERR_INVALHANDLE);
}

// Opens 8-bit mono at 8 kHz with the owner's callback, the owner as its
// instance.
template <typename Owner>
MMRESULT open_with_callback(HWAVEOUT& h, Owner& owner) {
    WAVEFORMATEX f = pcm(1, 8, 8000);
    return waveOutOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(&Owner::callback),
                       reinterpret_cast<DWORD_PTR>(&owner), CALLBACK_FUNCTION);
}

// A callback that keeps two headers going by writing each back when it is
// done, and stops after a number of rounds: writing from the callback must
// work and must not deadlock.
struct Streamer {
    static void CALLBACK callback(HWAVEOUT h, UINT message, DWORD_PTR instance, DWORD_PTR param,
                                  DWORD_PTR) {
        auto* self = reinterpret_cast<Streamer*>(instance);
        if (message != WOM_DONE) return;
        if (self->rounds.fetch_add(1) + 1 < self->wanted) {
            auto* header = reinterpret_cast<WAVEHDR*>(param);
            if (waveOutWrite(h, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) self->errors++;
        }
    }
    std::atomic<int> rounds{0};
    std::atomic<int> errors{0};
    int wanted = 20;
};

TEST(WaveOutCallbacks, CallbackMayWriteAgain) {
    ScopedEnv env("WIN32_AUDIO", "null");
    Streamer streamer;
    HWAVEOUT h = nullptr;
    ASSERT_EQ(open_with_callback(h, streamer), MMSYSERR_NOERROR);
    Buffer a(h, 80), b(h, 80);  // 10 ms each
    ASSERT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    auto start = Clock::now();
    while (streamer.rounds.load() < streamer.wanted && Clock::now() - start < 5s) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(streamer.rounds.load(), streamer.wanted);
    EXPECT_EQ(streamer.errors.load(), 0);
    EXPECT_TRUE(a.wait_done(2s) && b.wait_done(2s));
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// Reset and close made from the device's own callback must neither hang
// nor lose a notice: the reset's WOM_DONE and then WOM_CLOSE still come.
struct SelfCloser {
    static void CALLBACK callback(HWAVEOUT h, UINT message, DWORD_PTR instance, DWORD_PTR param,
                                  DWORD_PTR extra) {
        auto* self = reinterpret_cast<SelfCloser*>(instance);
        CallbackLog::wave(h, message, self->log.instance(), param, extra);
        if (message != WOM_DONE) return;
        if (param == self->first) self->reset_result = waveOutReset(h);
        if (param == self->second) self->close_result = waveOutClose(h);
    }
    CallbackLog log;
    DWORD_PTR first = 0, second = 0;
    std::atomic<MMRESULT> reset_result{MMSYSERR_ERROR}, close_result{MMSYSERR_ERROR};
};

TEST(WaveOutCallbacks, ResetAndCloseFromTheCallback) {
    ScopedEnv env("WIN32_AUDIO", "null");
    SelfCloser closer;
    HWAVEOUT h = nullptr;
    ASSERT_EQ(open_with_callback(h, closer), MMSYSERR_NOERROR);
    Buffer a(h, 80), b(h, 8000);  // 10 ms, then 1 s that the reset cuts short
    closer.first = reinterpret_cast<DWORD_PTR>(&a.header);
    closer.second = reinterpret_cast<DWORD_PTR>(&b.header);
    auto start = Clock::now();
    ASSERT_EQ(waveOutWrite(h, &a.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &b.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(closer.log.wait_for(4));
    EXPECT_LT(mmtest::elapsed_ms(start), 800);

    auto calls = closer.log.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].message, UINT(WOM_OPEN));
    EXPECT_EQ(calls[1].param, closer.first);
    EXPECT_EQ(calls[2].param, closer.second);
    EXPECT_EQ(calls[3].message, UINT(WOM_CLOSE));
    EXPECT_EQ(closer.reset_result.load(), MMSYSERR_NOERROR);
    EXPECT_EQ(closer.close_result.load(), MMSYSERR_NOERROR);
    EXPECT_EQ(b.flags(), WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
}

TEST(WaveOutFailure, DeviceThatFailsReleasesEverything) {
    CallbackLog log;
    Device device(pcm(1, 8, 8000), &log, "null:failafter=100");
    ASSERT_EQ(device.result, MMSYSERR_NOERROR);
    Buffer buffer(device.handle, 16000);  // 2 s
    ASSERT_EQ(waveOutWrite(device.handle, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(buffer.wait_done(1500ms)) << "a failed device must give its headers back";
    ASSERT_TRUE(log.wait_for(2));
    EXPECT_EQ(log.calls()[1].message, UINT(WOM_DONE));

    Buffer more(device.handle, 8);
    EXPECT_EQ(waveOutWrite(device.handle, &more.header, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    MMTIME time{TIME_BYTES, {}};
    EXPECT_EQ(waveOutGetPosition(device.handle, &time, sizeof time), MMSYSERR_NODRIVER)
        << "a player polls the position to learn that its device is gone";
    EXPECT_EQ(waveOutReset(device.handle), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device.handle), MMSYSERR_NOERROR);
    device.handle = nullptr;
}

TEST(WaveOutPosition, CountsWhatWasPlayedInTheUnitAsked) {
    Device device(pcm(2, 16, 8000));
    ASSERT_EQ(device.result, MMSYSERR_NOERROR);
    Buffer buffer(device.handle, 4 * 800, 0);  // 100 ms
    ASSERT_EQ(waveOutWrite(device.handle, &buffer.header, sizeof buffer.header), MMSYSERR_NOERROR);
    ASSERT_TRUE(buffer.wait_done(2s));
    struct Case {
        UINT asked, given;
        DWORD value;
    } cases[] = {
        {TIME_SAMPLES, TIME_SAMPLES, 800},
        {TIME_MS, TIME_MS, 100},
        {TIME_BYTES, TIME_BYTES, 3200},
        {TIME_SMPTE, TIME_BYTES, 3200},
    };
    for (const Case& c : cases) {
        MMTIME time{c.asked, {}};
        ASSERT_EQ(waveOutGetPosition(device.handle, &time, sizeof time), MMSYSERR_NOERROR);
        EXPECT_EQ(time.wType, c.given);
        EXPECT_EQ(time.u.cb, c.value) << c.asked;
    }
    MMTIME time{TIME_BYTES, {}};
    EXPECT_EQ(waveOutGetPosition(device.handle, &time, sizeof time - 1), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveOutReset(device.handle), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutGetPosition(device.handle, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.u.cb, 0u) << "a reset starts the count again";
    EXPECT_EQ(waveOutGetPosition(nullptr, &time, sizeof time), MMSYSERR_INVALHANDLE);
}

TEST(WaveOutCaps, NamesTheDeviceByIdAndByHandle) {
    struct Case {
        const char* backend;
        const char* name;
    } cases[] = {
        {"null", "Null audio device"},
        {"null:latency=20", "Null audio device"},
        {"wav:/dev/null", "WAV file writer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backend);
        ScopedEnv env("WIN32_AUDIO", c.backend);
        WAVEOUTCAPSA caps{};
        ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_STREQ(caps.szPname, c.name);
        EXPECT_EQ(caps.wChannels, 2);
        EXPECT_TRUE(caps.dwFormats & WAVE_FORMAT_4S16);
        WAVEOUTCAPSA mapper{};
        ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &mapper, sizeof mapper), MMSYSERR_NOERROR);
        EXPECT_STREQ(mapper.szPname, c.name);

        WAVEFORMATEX f = pcm(1, 8, 22050);
        HWAVEOUT h = nullptr;
        ASSERT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        WAVEOUTCAPSA by_handle{};
        ASSERT_EQ(waveOutGetDevCapsA(reinterpret_cast<UINT_PTR>(h), &by_handle, sizeof by_handle),
                  MMSYSERR_NOERROR);
        EXPECT_STREQ(by_handle.szPname, c.name);
        EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutGetDevCapsA(reinterpret_cast<UINT_PTR>(h), &by_handle, sizeof by_handle),
                  MMSYSERR_BADDEVICEID);
    }
}

TEST(WaveOutCaps, BadArgumentsAndShortBuffers) {
    ScopedEnv env("WIN32_AUDIO", "null");
    WAVEOUTCAPSA caps{};
    EXPECT_EQ(waveOutGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetDevCapsA(3, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    // Only as many bytes as the caller says are written.
    std::memset(&caps, 0xAB, sizeof caps);
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, offsetof(WAVEOUTCAPSA, szPname) + 4), MMSYSERR_NOERROR);
    EXPECT_EQ(std::memcmp(caps.szPname, "Null", 4), 0);
    EXPECT_EQ(uint8_t(caps.szPname[4]), 0xAB);
}

TEST(WaveOutBackend, ChoiceAndFailures) {
    WAVEFORMATEX f = pcm(2, 16, 44100);
    struct Case {
        const char* backend;
        MMRESULT expected;
    } cases[] = {
        {"alsa:nonexistent", MMSYSERR_NODRIVER},
        {"bogus", MMSYSERR_NODRIVER},
        {"null:maxrate", MMSYSERR_NODRIVER},
        {"null:latency=0", MMSYSERR_NODRIVER},
        {"null:color=blue", MMSYSERR_NODRIVER},
        {"wav:/nonexistent-folder/x.wav", MMSYSERR_NODRIVER},
        {"NULL", MMSYSERR_NOERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backend);
        ScopedEnv env("WIN32_AUDIO", c.backend);
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), c.expected);
        if (h) {
            EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
        }
    }
}

TEST(WaveOutBackend, AutoFallsBackToNullWithoutAlsa) {
    WAVEFORMATEX f = pcm(2, 16, 44100);
    HWAVEOUT h = nullptr;
    MMRESULT alsa;
    {
        ScopedEnv env("WIN32_AUDIO", "alsa");
        alsa = waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL);
        if (h) waveOutClose(h);
    }
    ScopedEnv env("WIN32_AUDIO", "auto");
    ASSERT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(reinterpret_cast<UINT_PTR>(h), &caps, sizeof caps),
              MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname,
                 alsa == MMSYSERR_NOERROR ? "Linux ALSA: default" : "Null audio device");
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

}  // namespace
