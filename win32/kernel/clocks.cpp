// Clocks and the platform version.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <strings.h>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// 10 MHz, as current Windows reports: coarse enough that counter deltas
// scaled by a million stay inside 64 bits for days.
constexpr int64_t kCounterHz = 10'000'000;

// Parses "YYYY-MM-DDTHH:MM:SS" into seconds since 1970 counted as if UTC
// (the value is local time; only arithmetic is done on it).
bool parse_clock(const char* text, time_t& out) {
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        return false;
    if (y < 1601 || y > 30827 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 59 || h < 0 || mi < 0 || s < 0)
        return false;
    tm fields{};
    fields.tm_year = y - 1900;
    fields.tm_mon = mo - 1;
    fields.tm_mday = d;
    fields.tm_hour = h;
    fields.tm_min = mi;
    fields.tm_sec = s;
    out = timegm(&fields);
    // A day the month does not have (1999-02-30) is not another day.
    tm back{};
    return gmtime_r(&out, &back) && back.tm_mday == d && back.tm_mon == mo - 1;
}

// The override starts at its instant the first time it is read and runs on
// from there; a changed value starts again.
struct ClockOverride {
    std::mutex mutex;
    std::string value;
    time_t start = 0;
    int64_t started_at_ns = 0;
    bool valid = false;
};

void fill(SYSTEMTIME* out, const tm& fields, int64_t ms) {
    out->wYear = WORD(fields.tm_year + 1900);
    out->wMonth = WORD(fields.tm_mon + 1);
    out->wDayOfWeek = WORD(fields.tm_wday);
    out->wDay = WORD(fields.tm_mday);
    out->wHour = WORD(fields.tm_hour);
    out->wMinute = WORD(fields.tm_min);
    out->wSecond = WORD(fields.tm_sec);
    out->wMilliseconds = WORD(ms);
}

struct Platform {
    DWORD major, minor, build, id;
};

// Windows NT 4.0 unless WIN32_PLATFORM names the other family ("9x").
Platform platform() {
    const char* name = std::getenv("WIN32_PLATFORM");
    if (name && std::strcmp(name, "9x") == 0) return {4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS};
    if (name && *name && strcasecmp(name, "nt") != 0)
        win32::warn_bad_setting("WIN32_PLATFORM", name, "9x or NT");
    return {4, 0, 1381, VER_PLATFORM_WIN32_NT};
}

}  // namespace

extern "C" {

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (!lpPerformanceCount) return FALSE;
    lpPerformanceCount->QuadPart = monotonic_ns() / (1'000'000'000 / kCounterHz);
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    if (!lpFrequency) return FALSE;
    lpFrequency->QuadPart = kCounterHz;
    return TRUE;
}

DWORD WINAPI timeGetTime(void) { return DWORD(monotonic_ns() / 1'000'000); }

DWORD WINAPI GetTickCount(void) { return DWORD(monotonic_ns() / 1'000'000); }

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (!lpSystemTime) return;
    static ClockOverride clock;
    const char* forced = std::getenv("WIN32_CLOCK");
    if (forced && *forced) {
        std::lock_guard lock(clock.mutex);
        if (clock.value != forced) {
            clock.value = forced;
            clock.valid = parse_clock(forced, clock.start);
            clock.started_at_ns = monotonic_ns();
            if (!clock.valid)
                win32::warn_bad_setting("WIN32_CLOCK", forced,
                                        "a date and time YYYY-MM-DDTHH:MM:SS (1601-30827)");
        }
        if (clock.valid) {
            int64_t elapsed_ms = (monotonic_ns() - clock.started_at_ns) / 1'000'000;
            time_t now = clock.start + time_t(elapsed_ms / 1000);
            tm fields{};
            gmtime_r(&now, &fields);
            fill(lpSystemTime, fields, elapsed_ms % 1000);
            return;
        }
    }
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm fields{};
    localtime_r(&ts.tv_sec, &fields);
    fill(lpSystemTime, fields, ts.tv_nsec / 1'000'000);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const Platform p = platform();
    info->dwMajorVersion = p.major;
    info->dwMinorVersion = p.minor;
    info->dwBuildNumber = p.build;
    info->dwPlatformId = p.id;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

DWORD WINAPI GetVersion(void) {
    const Platform p = platform();
    DWORD version = p.major | (p.minor << 8) | (p.build << 16);
    if (p.id != VER_PLATFORM_WIN32_NT) version |= 0x80000000u;
    return version;
}

}  // extern "C"
