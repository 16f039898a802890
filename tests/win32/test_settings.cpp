// A WIN32_* setting that cannot be read is not used, and the user is told
// once, on standard error, with the forms it takes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "multimedia_support.h"
#include "win32/kernel.h"
#include "win32/winmm.h"

namespace {

using mmtest::ScopedEnv;

struct Case {
    const char* variable;
    const char* value;
    std::function<void()> read;  // what makes the stand-in read it
    const char* form;            // part of the accepted forms it names
};

void read_clock() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
}

void read_audio() {
    WAVEFORMATEX f = mmtest::pcm(1, 8, 8000);
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
}

TEST(Settings, AnUnreadableValueIsReportedOnceWithItsForms) {
    const Case cases[] = {
        {"WIN32_CLOCK", "garbage", read_clock, "YYYY-MM-DDTHH:MM:SS"},
        {"WIN32_PLATFORM", "95", [] { GetVersion(); }, "9x or NT"},
        {"WIN32_AUDIO", "wave:out.wav", read_audio, "wav:PATH"},
        {"WIN32_MIDI", "sfm:x.mid",
         [] {
             HMIDIOUT h = nullptr;
             EXPECT_NE(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
         },
         "smf:PATH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        ScopedEnv env(c.variable, c.value);
        testing::internal::CaptureStderr();
        c.read();
        c.read();
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string head = std::string(c.variable) + "=\"" + c.value + "\"";
        EXPECT_NE(said.find(head), std::string::npos) << said;
        EXPECT_NE(said.find(c.form), std::string::npos) << said;
        EXPECT_EQ(said.find(head), said.rfind(head)) << "told more than once: " << said;
    }
}

TEST(Settings, AClockOnADayTheMonthLacksIsNotUsed) {
    // 1999-02-30 must not pass for 1999-03-02: the real clock is used.
    ScopedEnv env("WIN32_CLOCK", "1999-02-30T12:00:00");
    SYSTEMTIME t{};
    GetLocalTime(&t);
    EXPECT_NE(t.wYear, 1999);
    ScopedEnv good("WIN32_CLOCK", "2000-02-29T12:00:00");
    GetLocalTime(&t);
    EXPECT_EQ(t.wYear, 2000);
    EXPECT_EQ(t.wMonth, 2);
    EXPECT_EQ(t.wDay, 29);
}

}  // namespace
