// Load and unload of the library: preferences, the installation check and
// the clock base at load; shutdown at unload.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "ops.h"
#include "state.h"
#include "win32/kernel.h"

namespace svx {
namespace {

// The folder of a path: everything before its last separator.
void folder_of(char* path) {
    char* cut = nullptr;
    for (char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') cut = p;
    if (cut) *cut = '\0';
    else path[0] = '\0';
}

bool same_folder(const char* a, const char* b) { return strncasecmp(a, b, 127) == 0; }

// The library refuses to run from the Windows folder or its system folder.
bool installation_check() {
    HMODULE self = nullptr;
    char path[MAX_PATH] = {};
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&installation_check), &self) ||
        !GetModuleFileNameA(self, path, sizeof path))
        return true;
    folder_of(path);

    char windows[MAX_PATH] = {}, system[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    GetSystemDirectoryA(system, sizeof system);
    const char* text = nullptr;
    if (same_folder(path, windows))
        text = "The SONVEX DLL is incorrectly installed in the Windows directory.";
    else if (same_folder(path, system))
        text = "The SONVEX DLL is incorrectly installed in the Windows system directory.";
    if (!text) return true;
    MessageBoxA(nullptr, text, "Klarfilm Error", MB_OK | MB_ICONERROR);
    return false;
}

void detect_platform() {
    Library& lib = library();
    LARGE_INTEGER frequency{}, now{};
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 &&
        QueryPerformanceCounter(&now)) {
        lib.high_resolution = true;
        lib.counter_frequency = frequency.QuadPart;
        lib.counter_base = now.QuadPart;
    }
}

__attribute__((constructor)) void process_attach() {
    reset_preferences();
    // A refused load cannot be reported to a program linked to us: it must
    // not start at all.
    if (!installation_check()) std::_Exit(1);
    detect_platform();
}

__attribute__((destructor)) void process_detach() { ::SVX_shutdown(); }

}  // namespace
}  // namespace svx
