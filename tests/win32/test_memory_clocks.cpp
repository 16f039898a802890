#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

class GlobalMemory : public ::testing::TestWithParam<UINT> {};

TEST_P(GlobalMemory, BlocksAreZeroedAndFoundAgainFromTheirAddress) {
    const UINT flags = GetParam();
    HGLOBAL handle = GlobalAlloc(flags, 4096);
    ASSERT_NE(handle, nullptr);
    auto* bytes = static_cast<unsigned char*>(GlobalLock(handle));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], 0) << "at " << i;
    EXPECT_EQ(GlobalHandle(bytes), handle);
    EXPECT_EQ(GlobalSize(handle), 4096u);
    if (flags & GMEM_MOVEABLE) {
        EXPECT_NE(static_cast<void*>(bytes), handle) << "a moveable handle is not an address";
        EXPECT_EQ(GlobalLock(handle), bytes);
        EXPECT_TRUE(GlobalUnlock(handle)) << "still locked once";
        EXPECT_FALSE(GlobalUnlock(handle));
        EXPECT_EQ(GetLastError(), NO_ERROR);
        EXPECT_FALSE(GlobalUnlock(handle));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_LOCKED));
    } else {
        EXPECT_EQ(static_cast<void*>(bytes), handle);
    }
    EXPECT_EQ(GlobalFree(handle), nullptr);
    // A second free is refused rather than corrupting the heap.
    EXPECT_EQ(GlobalFree(handle), handle);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalHandle(bytes), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Flags, GlobalMemory,
                         ::testing::Values(UINT(GMEM_FIXED), UINT(GPTR), UINT(GMEM_MOVEABLE),
                                           UINT(GHND)));

TEST(GlobalMemoryHandles, ForeignAddressesAreNotBlocks) {
    int local = 0;
    EXPECT_EQ(GlobalHandle(&local), nullptr);
    EXPECT_EQ(GlobalLock(&local), nullptr);
    EXPECT_EQ(GlobalFree(&local), &local);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(Clocks, PerformanceCounterRunsAtItsFrequency) {
    LARGE_INTEGER freq{}, a{}, b{};
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_EQ(freq.QuadPart, 10'000'000);
    DWORD t0 = timeGetTime();
    ASSERT_TRUE(QueryPerformanceCounter(&a));
    Sleep(60);
    ASSERT_TRUE(QueryPerformanceCounter(&b));
    DWORD t1 = timeGetTime();
    double ms = double(b.QuadPart - a.QuadPart) * 1000.0 / double(freq.QuadPart);
    EXPECT_GE(ms, 55.0);
    EXPECT_LT(ms, 1000.0);
    EXPECT_GE(t1 - t0, 55u);
    EXPECT_LE(GetTickCount() - timeGetTime() + 1, 2u) << "both count from the same start";
}

struct ClockCase {
    const char* value;
    WORD year, month, day, dow, hour, minute, second;
};

class LocalClock : public ::testing::TestWithParam<ClockCase> {
protected:
    void TearDown() override { unsetenv("WIN32_CLOCK"); }
};

TEST_P(LocalClock, StartsAtTheGivenInstant) {
    const ClockCase& c = GetParam();
    setenv("WIN32_CLOCK", c.value, 1);
    SYSTEMTIME t{};
    GetLocalTime(&t);
    EXPECT_EQ(t.wYear, c.year);
    EXPECT_EQ(t.wMonth, c.month);
    EXPECT_EQ(t.wDay, c.day);
    EXPECT_EQ(t.wDayOfWeek, c.dow);
    EXPECT_EQ(t.wHour, c.hour);
    EXPECT_EQ(t.wMinute, c.minute);
    EXPECT_EQ(t.wSecond, c.second);
}

INSTANTIATE_TEST_SUITE_P(
    Instants, LocalClock,
    ::testing::Values(ClockCase{"1999-04-01T09:30:00", 1999, 4, 1, 4, 9, 30, 0},
                      ClockCase{"1999-12-31T23:59:59", 1999, 12, 31, 5, 23, 59, 59},
                      ClockCase{"2000-02-29T12:00:00", 2000, 2, 29, 2, 12, 0, 0}));

TEST(LocalClockRuns, CrossesMidnightIntoTheNewYear) {
    setenv("WIN32_CLOCK", "1999-12-31T23:59:59", 1);
    SYSTEMTIME t{};
    GetLocalTime(&t);
    Sleep(1100);
    GetLocalTime(&t);
    unsetenv("WIN32_CLOCK");
    EXPECT_EQ(t.wYear, 2000);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wDayOfWeek, 6);
    EXPECT_EQ(t.wHour, 0);
}

TEST(LocalClockRuns, MalformedOverrideFallsBackToTheRealClock) {
    for (const char* bad : {"1999-13-01T00:00:00", "yesterday", "1999-01-01T00:00:00x"}) {
        setenv("WIN32_CLOCK", bad, 1);
        SYSTEMTIME t{};
        GetLocalTime(&t);
        EXPECT_GE(t.wYear, 2020) << bad;
    }
    unsetenv("WIN32_CLOCK");
}

TEST(Platform, VersionTopBitMarksTheNonNtFamily) {
    unsetenv("WIN32_PLATFORM");
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u);
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
    setenv("WIN32_PLATFORM", "9x", 1);
    EXPECT_NE(GetVersion() & 0x80000000u, 0u);
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_WINDOWS));
    unsetenv("WIN32_PLATFORM");
    info.dwOSVersionInfoSize = 4;
    EXPECT_FALSE(GetVersionExA(&info));
}

TEST(MessageBox, WithoutAWindowSystemAnswersWithTheDefaultButton) {
    struct {
        UINT type;
        int answer;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
    };
    for (auto& c : cases) {
        testing::internal::CaptureStderr();
        int answer = MessageBoxA(nullptr, "Text", "Caption", c.type);
        std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.answer) << "type " << c.type;
        EXPECT_EQ(printed, "Caption: Text\n");
    }
}

TEST(MessageBox, AnInstalledHandlerTakesOver) {
    win32::set_message_box_handler([](HWND, const char* text, const char*, UINT) {
        return std::strcmp(text, "Copy?") == 0 ? IDNO : IDOK;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "Copy?", "Q", MB_YESNO), IDNO);
    win32::set_message_box_handler(nullptr);
}

}  // namespace

TEST(MulDiv, RoundsHalfAwayFromZeroAndRefusesWhatCannotBeRepresented) {
    struct Case { int a, b, c, expected; } const cases[] = {
        {1, 255, 2, 128},     // 127.5 rounds up
        {-1, 255, 2, -128},   // and away from zero when negative
        {1, -255, 2, -128},
        {-1, -255, 2, 128},
        {2, 3, 4, 2},         // 1.5
        {1, 1, 3, 0},
        {0x40000000, 4, 2, -1},  // 2^31 does not fit
        {-0x40000000, 4, 2, static_cast<int>(0x80000000u)},
        {5, 7, 0, -1},
        {100000, 100000, 100000, 100000},  // the product needs 64 bits
    };
    for (const Case& k : cases)
        EXPECT_EQ(MulDiv(k.a, k.b, k.c), k.expected) << k.a << " * " << k.b << " / " << k.c;
}
