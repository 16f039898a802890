// Shows what a Windows program sees through the stand-in on this machine:
// its folders, its profile settings, the clock and the platform.
#include <cstdio>
#include <cstring>

#include "win32/kernel.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        std::fprintf(help ? stdout : stderr,
                     "usage: w32info\nShows what a Windows program sees here: its folders, "
                     "WIN.INI settings, clock and platform (see the WIN32_* variables).\n");
        return help ? 0 : 2;
    }
    char text[MAX_PATH];
    GetWindowsDirectoryA(text, sizeof text);
    std::printf("Windows folder:   %s\n", text);
    GetSystemDirectoryA(text, sizeof text);
    std::printf("System folder:    %s\n", text);
    GetTempPathA(sizeof text, text);
    std::printf("Temporary folder: %s\n", text);

    static const char* const keys[] = {"SONVEXDebug", "SONVEXSysDebug", "Reset"};
    for (const char* key : keys) {
        GetProfileStringA("SONVEX", key, "(not set)", text, sizeof text);
        std::printf("WIN.INI [SONVEX] %-15s %s\n", key, text);
    }

    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::printf("Local time:       %04u-%02u-%02u %02u:%02u:%02u\n", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    std::printf("Counter:          %lld Hz\n", static_cast<long long>(frequency.QuadPart));
    DWORD version = GetVersion();
    std::printf("Platform:         %s %lu.%lu build %lu\n",
                (version & 0x80000000u) ? "Windows" : "Windows NT",
                static_cast<unsigned long>(version & 0xFF),
                static_cast<unsigned long>((version >> 8) & 0xFF),
                static_cast<unsigned long>((version >> 16) & 0x7FFF));
    return 0;
}
