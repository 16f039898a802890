// A DLS engine library of the tests' own, loaded by file name: it has the
// plain DLSOpen and no memory loader, reads the files it is given through
// the Windows stand-in and logs every call for the test to read.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "sonvex.h"
#include "win32/kernel.h"

#define ENGINE extern "C" __attribute__((visibility("default")))

namespace {
std::string g_log;
int g_fail_open = 0;
uint32_t g_next_id = 40;

void log(const std::string& line) { g_log += line + "\n"; }
}  // namespace

ENGINE const char* TestEngineLog() { return g_log.c_str(); }
ENGINE void TestEngineReset(int fail_open) {
    g_log.clear();
    g_fail_open = fail_open;
}

ENGINE int32_t DLSOpen(uintptr_t* handle, HMDIDRIVER) {
    log("open");
    if (g_fail_open) return 17;
    *handle = 0x1234;
    return 0;
}
ENGINE int32_t DLSClose(uintptr_t handle, uint32_t flags) {
    log("close " + std::to_string(handle) + " " + std::to_string(flags));
    return 0;
}
// Logs the file's size, its RIFF tag and its form type.
ENGINE int32_t DLSLoadFile(uintptr_t, uint32_t, uint32_t* id, const char* filename) {
    HANDLE f = CreateFileA(filename, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        log("load cannot open");
        return 10;
    }
    char head[13] = {};
    DWORD got = 0;
    ReadFile(f, head, 12, &got, nullptr);
    const DWORD size = GetFileSize(f, nullptr);
    CloseHandle(f);
    log(std::string("load ") + filename + " " + std::to_string(size) + " " + std::string(head, 4) + " " +
        std::string(head + 8, 4));
    *id = g_next_id++;
    return 0;
}
ENGINE int32_t DLSUnloadFile(uintptr_t, uint32_t id) {
    log("unload " + std::to_string(id));
    return 0;
}
ENGINE int32_t DLSUnloadAll(uintptr_t, uint32_t flags) {
    log("unload all " + std::to_string(flags));
    return 0;
}
ENGINE int32_t DLSGetInfo(SVXDLSENGINEINFO* info) {
    *info = SVXDLSENGINEINFO{3, 0, 0, 1000};
    return 0;
}
