// midiOut of the stand-in: what the smf: backend records (read back with
// our own reader and with python3-mido as an oracle), long messages and
// their headers, reset, callbacks, invalid handles and backend failures.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "multimedia_support.h"
#include "win32/winmm.h"

namespace {

using namespace std::chrono_literals;
using mmtest::CallbackLog;
using mmtest::ScopedEnv;

struct Event {
    uint64_t tick = 0;
    std::vector<uint8_t> bytes;  // status first; sysex as F0 ... F7
    bool meta = false;
};

struct Smf {
    std::string error;
    uint16_t format = 0, tracks = 0, division = 0;
    uint32_t tempo = 0;
    std::vector<Event> events;  // messages only, metas dropped
    bool ended = false;
};

// A format 0 reader: one track, running status, sysex and meta events.
Smf read_smf(const std::vector<uint8_t>& file) {
    Smf smf;
    auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | file[at + i];
        return v;
    };
    if (file.size() < 22 || std::memcmp(file.data(), "MThd", 4) != 0 || be(4, 4) != 6 ||
        std::memcmp(file.data() + 14, "MTrk", 4) != 0) {
        smf.error = "bad header";
        return smf;
    }
    smf.format = uint16_t(be(8, 2));
    smf.tracks = uint16_t(be(10, 2));
    smf.division = uint16_t(be(12, 2));
    size_t at = 22, end = 22 + be(18, 4);
    if (end != file.size()) {
        smf.error = "track length " + std::to_string(end - 22) + " in a file of " +
                    std::to_string(file.size());
        return smf;
    }
    auto vlq = [&](uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4 && at < end; ++i) {
            uint8_t b = file[at++];
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80)) return true;
        }
        return false;
    };
    uint64_t tick = 0;
    uint8_t running = 0;
    while (at < end && !smf.ended) {
        uint32_t delta = 0, length = 0;
        if (!vlq(delta) || at >= end) break;
        tick += delta;
        Event event;
        event.tick = tick;
        uint8_t status = file[at];
        if (status < 0x80) {
            status = running;
        } else {
            ++at;
        }
        if (status == 0xFF) {
            uint8_t type = file[at++];
            if (!vlq(length) || at + length > end) break;
            if (type == 0x51 && length == 3) smf.tempo = be(at, 3);
            if (type == 0x2F) smf.ended = true;
            at += length;
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            if (!vlq(length) || at + length > end) break;
            if (status == 0xF0) event.bytes.push_back(0xF0);
            event.bytes.insert(event.bytes.end(), file.begin() + long(at),
                               file.begin() + long(at + length));
            at += length;
        } else {
            running = status;
            int data = (status >= 0xC0 && status < 0xE0) ? 1 : 2;
            if (at + size_t(data) > end) break;
            event.bytes.push_back(status);
            for (int i = 0; i < data; ++i) event.bytes.push_back(file[at++]);
        }
        smf.events.push_back(event);
    }
    if (!smf.ended) smf.error = "no end of track";
    if (at != end) smf.error = "events do not fill the track";
    return smf;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::ostringstream out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        static const char digits[] = "0123456789ABCDEF";
        if (i) out << ' ';
        out << digits[bytes[i] >> 4] << digits[bytes[i] & 15];
    }
    return out.str();
}

struct Header {
    explicit Header(std::vector<uint8_t> bytes) : data(std::move(bytes)) {
        header.lpData = reinterpret_cast<LPSTR>(data.data());
        header.dwBufferLength = DWORD(data.size());
    }
    std::vector<uint8_t> data;
    MIDIHDR header{};
};

TEST(MidiOutCapture, FileHoldsTheMessagesWithTheirTimes) {
    std::string path = mmtest::scratch_path("capture.mid");
    Header sysex({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    {
        ScopedEnv env("WIN32_MIDI", "smf:" + path);
        HMIDIOUT h = nullptr;
        ASSERT_EQ(midiOutOpen(&h, MIDI_MAPPER, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(h, 0x00643C90), MMSYSERR_NOERROR);  // note on
        EXPECT_EQ(midiOutShortMsg(h, 0x00007F40), MMSYSERR_NOERROR);  // running status
        EXPECT_EQ(midiOutShortMsg(h, 0x000005C1), MMSYSERR_NOERROR);  // program: one data byte
        EXPECT_EQ(midiOutShortMsg(h, 0x00C807B3), MMSYSERR_NOERROR);  // data bytes are 7-bit
        std::this_thread::sleep_for(150ms);
        ASSERT_EQ(midiOutPrepareHeader(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutLongMsg(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(sysex.header.dwFlags, MHDR_PREPARED | MHDR_DONE);
        EXPECT_EQ(midiOutUnprepareHeader(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(midiOutShortMsg(h, 0x004000E2), MMSYSERR_NOERROR);  // pitch bend
        EXPECT_EQ(midiOutShortMsg(h, 0x00003C80), MMSYSERR_NOERROR);  // note off
        ASSERT_EQ(midiOutClose(h), MMSYSERR_NOERROR);
    }

    struct Expected {
        const char* bytes;
        int after_ms;  // earliest time the message can have
    } expected[] = {
        {"90 3C 64", 0},
        {"90 40 7F", 0},
        {"C1 05", 0},
        {"B3 07 48", 0},
        {"F0 7E 7F 09 01 F7", 150},
        {"E2 00 40", 300},
        {"80 3C 00", 300},
    };
    constexpr int kSlack = 400;  // a loaded machine may run late, never early

    Smf smf = read_smf(mmtest::read_file(path));
    ASSERT_EQ(smf.error, "");
    EXPECT_EQ(smf.format, 0);
    EXPECT_EQ(smf.tracks, 1);
    EXPECT_EQ(smf.division, 500);
    EXPECT_EQ(smf.tempo, 500000u);  // so a tick is a millisecond
    ASSERT_EQ(smf.events.size(), std::size(expected));
    for (size_t i = 0; i < smf.events.size(); ++i) {
        SCOPED_TRACE(expected[i].bytes);
        EXPECT_EQ(hex(smf.events[i].bytes), expected[i].bytes);
        EXPECT_GE(int(smf.events[i].tick), expected[i].after_ms - 2);
        EXPECT_LT(int(smf.events[i].tick), expected[i].after_ms + kSlack);
    }

    // The oracle reads the same messages at the same times.
    int status = 0;
    std::string script =
        "import sys, mido\n"
        "f = mido.MidiFile(sys.argv[1])\n"
        "print(f.type, len(f.tracks), f.ticks_per_beat)\n"
        "t = 0.0\n"
        "for m in f:\n"
        "    t += m.time\n"
        "    if not m.is_meta: print(round(t * 1000), m.hex())\n";
    std::string out =
        mmtest::run_tool("/usr/bin/python3 -c '" + script + "' '" + path + "' 2>&1", status);
    ASSERT_EQ(status, 0) << out << "(python3-mido comes from the test package list)";
    std::ostringstream want;
    want << "0 1 500\n";
    for (const Event& e : smf.events) want << e.tick << ' ' << hex(e.bytes) << '\n';
    EXPECT_EQ(out, want.str());
    std::filesystem::remove(path);
}

TEST(MidiOutCapture, ResetSilencesEveryChannel) {
    std::string path = mmtest::scratch_path("reset.mid");
    {
        ScopedEnv env("WIN32_MIDI", "smf:" + path);
        HMIDIOUT h = nullptr;
        ASSERT_EQ(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(h, 0x00643C95), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutReset(h), MMSYSERR_NOERROR);
        // Reset forgets the running status.
        EXPECT_EQ(midiOutShortMsg(h, 0x00007F40), MMSYSERR_INVALPARAM);
        ASSERT_EQ(midiOutClose(h), MMSYSERR_NOERROR);
    }
    Smf smf = read_smf(mmtest::read_file(path));
    ASSERT_EQ(smf.error, "");
    ASSERT_EQ(smf.events.size(), 1u + 32u);
    for (int channel = 0; channel < 16; ++channel) {
        SCOPED_TRACE(channel);
        EXPECT_EQ(smf.events[1 + 2 * channel].bytes,
                  (std::vector<uint8_t>{uint8_t(0xB0 | channel), 64, 0}));
        EXPECT_EQ(smf.events[2 + 2 * channel].bytes,
                  (std::vector<uint8_t>{uint8_t(0xB0 | channel), 123, 0}));
    }
    std::filesystem::remove(path);
}

TEST(MidiOutMessages, ShortMessageRules) {
    std::string path = mmtest::scratch_path("short.mid");
    {
        ScopedEnv env("WIN32_MIDI", "smf:" + path);
        HMIDIOUT h = nullptr;
        ASSERT_EQ(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        struct Case {
            DWORD message;
            MMRESULT expected;
        } cases[] = {
            {0x00003C40, MMSYSERR_INVALPARAM},  // running status with none before
            {0x000000F0, MMSYSERR_INVALPARAM},  // sysex only as a long message
            {0x000000F7, MMSYSERR_INVALPARAM}, {0x00007F90, MMSYSERR_NOERROR},  // 90 7F 00
            {0x000000F8, MMSYSERR_NOERROR},  // clock: keeps running status
            {0x00002A3C, MMSYSERR_NOERROR},  // 90 3C 2A
            {0x000001F3, MMSYSERR_NOERROR},  // song select: ends running status
            {0x00002A3C, MMSYSERR_INVALPARAM},
        };
        for (const Case& c : cases) {
            EXPECT_EQ(midiOutShortMsg(h, c.message), c.expected) << std::hex << c.message;
        }
        ASSERT_EQ(midiOutClose(h), MMSYSERR_NOERROR);
    }
    Smf smf = read_smf(mmtest::read_file(path));
    ASSERT_EQ(smf.error, "");
    std::vector<std::string> got;
    for (const Event& e : smf.events) got.push_back(hex(e.bytes));
    // System messages go into the file escaped (F7 events).
    EXPECT_EQ(got, (std::vector<std::string>{"90 7F 00", "F8", "90 3C 2A", "F3 01"}));
    std::filesystem::remove(path);
}

TEST(MidiOutMessages, LongMessageHeaderRules) {
    ScopedEnv env("WIN32_MIDI", "null");
    CallbackLog log;
    HMIDIOUT h = nullptr;
    ASSERT_EQ(midiOutOpen(&h, 0, reinterpret_cast<DWORD_PTR>(&CallbackLog::midi), log.instance(),
                          CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Header sysex({0xF0, 0x41, 0x10, 0x16, 0x12, 0x7F, 0x00, 0x00, 0x00, 0x01, 0xF7});
    Header empty({});
    EXPECT_EQ(midiOutLongMsg(h, &sysex.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
    EXPECT_EQ(midiOutLongMsg(h, nullptr, sizeof(MIDIHDR)), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutLongMsg(h, &sysex.header, sizeof(MIDIHDR) - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutPrepareHeader(h, nullptr, sizeof(MIDIHDR)), MMSYSERR_INVALPARAM);
    ASSERT_EQ(midiOutPrepareHeader(h, &empty.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutLongMsg(h, &empty.header, sizeof(MIDIHDR)), MMSYSERR_INVALPARAM);

    ASSERT_EQ(midiOutPrepareHeader(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(sysex.header.dwFlags, MHDR_PREPARED);
    ASSERT_EQ(midiOutLongMsg(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(sysex.header.dwFlags, MHDR_PREPARED | MHDR_DONE);
    // The one header is sent again at once, as a sound library does.
    ASSERT_EQ(midiOutLongMsg(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutUnprepareHeader(h, &sysex.header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(sysex.header.dwFlags, MHDR_DONE);
    EXPECT_EQ(midiOutLongMsg(h, &sysex.header, sizeof(MIDIHDR)), MIDIERR_UNPREPARED);
    ASSERT_EQ(midiOutClose(h), MMSYSERR_NOERROR);

    auto calls = log.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].message, UINT(MOM_OPEN));
    EXPECT_EQ(calls[1].message, UINT(MOM_DONE));
    EXPECT_EQ(calls[1].param, reinterpret_cast<DWORD_PTR>(&sysex.header));
    EXPECT_EQ(calls[2].message, UINT(MOM_DONE));
    EXPECT_EQ(calls[3].message, UINT(MOM_CLOSE));
    for (const auto& call : calls) {
        EXPECT_NE(call.thread, std::this_thread::get_id());
        EXPECT_EQ(call.handle, reinterpret_cast<uintptr_t>(h));
    }
}

TEST(MidiOutHandles, InvalidHandlesAreRefused) {
    ScopedEnv env("WIN32_MIDI", "null");
    ScopedEnv audio("WIN32_AUDIO", "null");
    HMIDIOUT closed = nullptr;
    ASSERT_EQ(midiOutOpen(&closed, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutClose(closed), MMSYSERR_NOERROR);
    // A waveOut handle is no midiOut handle.
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    HWAVEOUT wave = nullptr;
    ASSERT_EQ(waveOutOpen(&wave, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);

    HMIDIOUT made_up[] = {nullptr, reinterpret_cast<HMIDIOUT>(uintptr_t(0x99)), closed,
                          reinterpret_cast<HMIDIOUT>(wave)};
    for (HMIDIOUT h : made_up) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(h));
        Header header({0xF0, 0xF7});
        EXPECT_EQ(midiOutShortMsg(h, 0x00403C90), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutPrepareHeader(h, &header.header, sizeof(MIDIHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutLongMsg(h, &header.header, sizeof(MIDIHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutUnprepareHeader(h, &header.header, sizeof(MIDIHDR)), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutReset(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutClose(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(header.header.dwFlags, 0u);
    }
    EXPECT_EQ(waveOutClose(wave), MMSYSERR_NOERROR);
}

TEST(MidiOutOpen, ArgumentsAndBackendFailures) {
    ScopedEnv env("WIN32_MIDI", "null");
    HMIDIOUT h = nullptr;
    auto callback = reinterpret_cast<DWORD_PTR>(&CallbackLog::midi);
    EXPECT_EQ(midiOutOpen(nullptr, 0, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutOpen(&h, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutOpen(&h, 0, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutOpen(&h, 0, callback, 0, CALLBACK_WINDOW), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(midiOutGetNumDevs(), 1u);

    const bool have_sequencer = std::filesystem::exists("/dev/snd/seq");
    struct Case {
        std::string backend;
        MMRESULT expected;
    } cases[] = {
        {"bogus", MMSYSERR_NODRIVER},
        {"smf:/nonexistent-folder/x.mid", MMSYSERR_NODRIVER},
        {"alsa", have_sequencer ? MMRESULT(MMSYSERR_NOERROR) : MMRESULT(MMSYSERR_NODRIVER)},
        {"alsa:nonexistent-client:0",
         have_sequencer ? MMRESULT(MIDIERR_NODEVICE) : MMRESULT(MMSYSERR_NODRIVER)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backend);
        ScopedEnv backend("WIN32_MIDI", c.backend);
        h = nullptr;
        EXPECT_EQ(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), c.expected);
        if (h) midiOutClose(h);
    }
}

TEST(MidiOutCaps, NamesTheDeviceByIdAndByHandle) {
    std::string path = mmtest::scratch_path("caps.mid");
    struct Case {
        std::string backend;
        const char* name;
    } cases[] = {
        {"null", "Null MIDI device"},
        {"smf:" + path, "MIDI file writer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backend);
        ScopedEnv env("WIN32_MIDI", c.backend);
        MIDIOUTCAPSA caps{};
        ASSERT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_STREQ(caps.szPname, c.name);
        EXPECT_EQ(caps.wTechnology, MOD_MIDIPORT);
        EXPECT_EQ(caps.wChannelMask, 0xFFFF);
        ASSERT_EQ(midiOutGetDevCapsA(MIDI_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_STREQ(caps.szPname, c.name);
        HMIDIOUT h = nullptr;
        ASSERT_EQ(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        MIDIOUTCAPSA by_handle{};
        ASSERT_EQ(midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(h), &by_handle, sizeof by_handle),
                  MMSYSERR_NOERROR);
        EXPECT_STREQ(by_handle.szPname, c.name);
        EXPECT_EQ(midiOutClose(h), MMSYSERR_NOERROR);
    }
    MIDIOUTCAPSA caps{};
    EXPECT_EQ(midiOutGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutGetDevCapsA(5, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    std::filesystem::remove(path);
}

}  // namespace
