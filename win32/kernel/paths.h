// Helpers shared by the files, folders, environment, profile and registry
// parts of the kernel. Internal to win32_kernel.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "win32/types.h"

namespace win32::detail {

// Codes the shared types header does not name.
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorFilenameTooLong = 206;

// The environment variable, if set (exact case).
std::optional<std::string> env_value(const char* name);

// Windows' rule for returning a string: copies it with its NUL and returns
// its length when it fits; otherwise leaves the buffer alone and returns
// the size needed, NUL included.
DWORD copy_out(const std::string& text, char* buffer, DWORD size);

// Runs the body of an entry point that returns a length, as copy_out does:
// running out of memory sets ERROR_NOT_ENOUGH_MEMORY and returns 0.
template <typename Body>
DWORD length_or_no_memory(Body body) {
    try {
        return body();
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

// Creates a folder and its parents; failures are ignored (the caller's
// next step reports them).
void make_folders(const std::string& host_folder);

// Windows error for a failed host call on `host_path` (ENOENT becomes
// ERROR_PATH_NOT_FOUND when the parent folder is missing).
DWORD error_from_errno(int error, const std::string& host_path = {});

char ascii_lower(char c);
std::string ascii_lower(std::string_view text);
bool iequals(std::string_view a, std::string_view b);

}  // namespace win32::detail
