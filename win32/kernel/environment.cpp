// Environment variables and the temporary folder.
#include <cstring>
#include <string>

#include <unistd.h>

#include "paths.h"
#include "win32/kernel.h"

extern char** environ;

namespace {

using win32::detail::copy_out;
using win32::detail::env_value;
using win32::detail::length_or_no_memory;

// Windows names variables without regard to case ("Path", "PATH"); the
// exact spelling wins when both exist.
std::optional<std::string> lookup(const char* name) {
    if (auto exact = env_value(name)) return exact;
    size_t length = std::strlen(name);
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (!equals || static_cast<size_t>(equals - *entry) != length) continue;
        if (win32::detail::iequals(std::string_view(*entry, length), name))
            return std::string(equals + 1);
    }
    return std::nullopt;
}

std::string temp_folder() {
    std::string folder;
    for (const char* name : {"TMP", "TEMP"}) {
        if (auto value = lookup(name); value && !value->empty()) {
            folder = *value;
            break;
        }
    }
    if (folder.empty()) {
        auto host = env_value("TMPDIR");
        folder = host && !host->empty() ? *host : "/tmp";
    }
    if (folder.back() != '\\' && folder.back() != '/') {
        // A host folder keeps host separators, a Windows one Windows'.
        folder += folder.front() == '/' ? '/' : '\\';
    }
    return folder;
}

}  // namespace

extern "C" {

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    if (!lpName || !*lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return length_or_no_memory([&]() -> DWORD {
        auto value = lookup(lpName);
        if (!value) {
            SetLastError(ERROR_ENVVAR_NOT_FOUND);
            return 0;
        }
        // An empty value returns 0 too; a cleared last error tells it apart.
        SetLastError(ERROR_SUCCESS);
        return copy_out(*value, lpBuffer, nSize);
    });
}

HWND WINAPI GetConsoleWindow(void) {
    // The terminal is not a window of ours: a handle that names it, and no
    // window of the window system.
    static int console;
    return reinterpret_cast<HWND>(&console);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    return length_or_no_memory([&] { return copy_out(temp_folder(), lpBuffer, nBufferLength); });
}

}  // extern "C"
