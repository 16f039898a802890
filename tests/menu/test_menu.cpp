// The menu's own arithmetic and checks, without a screen: the countdown,
// the effect pitch, what an effect image must hold, and wallpaper paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Countdown.h"
#include "Effects.h"
#include "Unit1.h"

namespace {

SYSTEMTIME At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = WORD(y);
    t.wMonth = WORD(mo);
    t.wDay = WORD(d);
    t.wHour = WORD(h);
    t.wMinute = WORD(mi);
    t.wSecond = WORD(s);
    t.wMilliseconds = WORD(ms);
    return t;
}

TEST(Countdown, DateTimesCountDaysFromTheEndOf1899) {
    EXPECT_DOUBLE_EQ(DateTimeOf(At(1899, 12, 30, 0, 0, 0)), 0.0);
    EXPECT_DOUBLE_EQ(DateTimeOf(At(2000, 1, 1, 0, 0, 0)), kTargetDateTime);
    EXPECT_DOUBLE_EQ(DateTimeOf(At(1999, 12, 21, 12, 0, 0)), 36515.5);
    EXPECT_DOUBLE_EQ(DateTimeOf(At(2000, 3, 1, 6, 0, 0)), 36586.25);  // after a leap day
}

TEST(Countdown, CaptionsAtKnownInstants) {
    struct Case {
        SYSTEMTIME now;
        const char *days, *hours, *minutes, *seconds, *total;
    } cases[] = {
        {At(1999, 12, 21, 12, 0, 0), "010", "12", "00", "00", "00907200"},
        {At(1999, 12, 31, 23, 59, 59), "000", "00", "00", "01", "00000001"},
        {At(1999, 12, 31, 23, 58, 20), "000", "00", "01", "40", "00000100"},
        {At(1999, 4, 1, 0, 0, 0), "275", "00", "00", "00", "23760000"},
        {At(2000, 1, 1, 0, 0, 0), "000", "00", "00", "00", "00000000"},
        {At(2026, 12, 10, 15, 0, 0), "000", "00", "00", "00", "00000000"},  // held at zero
        // Far before: the days keep all their digits.
        {At(1990, 1, 1, 0, 0, 0), "3652", "00", "00", "00", "315532800"},
    };
    for (const Case& c : cases) {
        const CountdownCaptions got = CountdownFrom(DateTimeOf(c.now));
        EXPECT_EQ(got.days, c.days) << c.total;
        EXPECT_EQ(got.hours, c.hours) << c.total;
        EXPECT_EQ(got.minutes, c.minutes) << c.total;
        EXPECT_EQ(got.seconds, c.seconds) << c.total;
        EXPECT_EQ(got.total, c.total);
    }
}

// Within one pass every field comes from one difference: at any instant the
// fields add up to the total.
TEST(Countdown, FieldsAgreeWithTheTotal) {
    for (int ms = 0; ms < 86400000; ms += 7777777) {
        const double now = 36500.0 + ms / 86400000.0;
        const CountdownCaptions c = CountdownFrom(now);
        const long long sum = std::stoll(c.days) * 86400 + std::stoll(c.hours) * 3600 +
                              std::stoll(c.minutes) * 60 + std::stoll(c.seconds);
        EXPECT_LE(std::llabs(sum - std::stoll(c.total)), 1) << now;
    }
}

TEST(Countdown, ANonNumberIsHeldAtZero) {
    EXPECT_EQ(CountdownFrom(std::nan("")).total, "00000000");
}

TEST(Effects, PitchSteps) {
    EXPECT_EQ(PitchedRate(22050, 63), 22050);  // native
    EXPECT_EQ(PitchedRate(22050, 64), 22394);  // the menu's 65/64
    EXPECT_EQ(PitchedRate(11025, 64), 11197);
    EXPECT_EQ(PitchedRate(44100, 31), 22050);
}

// A WAV image: RIFF header, then chunks given as id and declared length
// with `body` bytes actually present.
std::vector<uint8_t> Image(std::vector<std::tuple<std::string, uint32_t, size_t>> chunks) {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const auto& [id, length, body] : chunks) {
        b.insert(b.end(), id.begin(), id.end());
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(length >> (8 * i)));
        b.insert(b.end(), body, 0x80);
    }
    return b;
}

TEST(Effects, AnImageMustHoldItsSoundWithinWhatWasRead) {
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        bool fits;
    } cases[] = {
        {"format then data", Image({{"fmt ", 16, 16}, {"data", 100, 100}}), true},
        {"another chunk first", Image({{"LIST", 3, 4}, {"fmt ", 16, 16}, {"data", 10, 10}}), true},
        {"data longer than read", Image({{"fmt ", 16, 16}, {"data", 100000, 100}}), false},
        {"huge length", Image({{"fmt ", 16, 16}, {"data", 0xFFFFFFF0u, 10}}), false},
        {"no format", Image({{"data", 10, 10}}), false},
        {"short format", Image({{"fmt ", 8, 8}, {"data", 10, 10}}), false},
        {"no data", Image({{"fmt ", 16, 16}}), false},
        {"not RIFF", {'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, false},
        {"truncated header", {'R', 'I', 'F', 'F'}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(EffectImageFits(c.image.data(), c.image.size()), c.fits) << c.what;
    EXPECT_FALSE(EffectImageFits(nullptr, 100));
}

TEST(Effects, PlayingANullImageOrWithoutHandlesDoesNothing) {
    SampleCount = 0;
    PlayEffect(nullptr, 127, 64, 64, 1);
    const std::vector<uint8_t> image = Image({{"fmt ", 16, 16}, {"data", 10, 10}});
    PlayEffect(image.data(), 127, 64, 64, 1);  // no handle: dropped, no library call on garbage
    SUCCEED();
}

// However long the driver's description, the text keeps its size.
TEST(Effects, TheDeviceDescriptionIsCutToItsBuffer) {
    setenv("WIN32_AUDIO", "null", 1);
    setenv("WIN32_DSOUND", "emulated", 1);
    SoundStartup();
    ASSERT_NE(DigitalDriver, nullptr);
    EXPECT_EQ(SampleCount, kSampleHandles);
    EXPECT_EQ(SVX_get_preference(SVX_PREF_USE_WAVEOUT), 1) << "emulated DirectSound was left for waveOut";
    char whole[kDeviceTextSize];
    DeviceDescription(DigitalDriver, whole, sizeof whole);
    EXPECT_EQ(std::string(whole).rfind("Device: ", 0), 0u);
    EXPECT_GT(std::strlen(whole), 8u);
    char small[12];
    std::memset(small, 'x', sizeof small);
    DeviceDescription(DigitalDriver, small, sizeof small);
    EXPECT_EQ(std::string(small), std::string(whole, 11));
    char tiny[8];
    DeviceDescription(DigitalDriver, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "");
    SoundShutdown();
    EXPECT_EQ(DigitalDriver, nullptr);
    unsetenv("WIN32_DSOUND");
}

TEST(Wallpaper, FileNames) {
    EXPECT_EQ(WallpaperFileName(1), "990401.bmp");
    EXPECT_EQ(WallpaperFileName(12), "990412.bmp");
}

TEST(Wallpaper, DestinationsFitTheirFortyCharacters) {
    struct Case {
        const char* windir;  // null: unset
        const char* expected;  // null: does not fit
    } cases[] = {
        {nullptr, "c:\\990401.bmp"},
        {"C:\\WINDOWS", "C:\\WINDOWS\\990401.bmp"},
        {"C:\\0123456789012345678901234", "C:\\0123456789012345678901234\\990401.bmp"},  // 28: 39 in all
        {"C:\\01234567890123456789012345", nullptr},                                  // 29 does not fit
        {"C:\\A_FOLDER_NAME_OF_WELL_OVER_FORTY_CHARACTERS_IN_ALL", nullptr},
    };
    for (const Case& c : cases) {
        if (c.windir) setenv("windir", c.windir, 1);
        else unsetenv("windir");
        char out[40];
        std::memset(out, 'x', sizeof out);
        const bool fits = WallpaperDestination("990401.bmp", out, sizeof out);
        EXPECT_EQ(fits, c.expected != nullptr) << (c.windir ? c.windir : "unset");
        if (c.expected) EXPECT_STREQ(out, c.expected);
        else EXPECT_STREQ(out, "");
    }
    unsetenv("windir");
}

}  // namespace
