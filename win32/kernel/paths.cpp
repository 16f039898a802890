// Windows paths on the host: drive C: under WIN32_ROOT, '\' as '/', and a
// case-insensitive fallback per component, since Windows code spells
// names as it likes ("system\Menu.bmp" for a file called "MENU.BMP").
#include "paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace win32::detail {

std::optional<std::string> env_value(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

DWORD copy_out(const std::string& text, char* buffer, DWORD size) {
    if (buffer && size > text.size()) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    return static_cast<DWORD>(text.size() + 1);
}

void make_folders(const std::string& host_folder) {
    std::error_code ignored;
    std::filesystem::create_directories(host_folder, ignored);
}

namespace {

std::string parent_of(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

}  // namespace

DWORD error_from_errno(int error, const std::string& host_path) {
    switch (error) {
    case ENOENT: {
        if (host_path.empty()) return ERROR_FILE_NOT_FOUND;
        struct stat st;
        std::string parent = parent_of(host_path);
        if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
        return kErrorFilenameTooLong;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:  // EACCES, EPERM, EISDIR, EROFS, ETXTBSY and the rest
        return ERROR_ACCESS_DENIED;
    }
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

}  // namespace win32::detail

namespace win32 {
namespace {

using detail::iequals;

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case; the
// byte-wise smallest when several do, so the choice does not depend on
// the order of the directory.
std::optional<std::string> find_entry(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> best;
    while (dirent* entry = readdir(dir)) {
        std::string_view candidate = entry->d_name;
        if (iequals(candidate, name) && (!best || candidate < *best)) best = std::string(candidate);
    }
    closedir(dir);
    return best;
}

std::string match_case(const std::string& path) {
    if (path.empty() || exists(path)) return path;

    bool absolute = path.front() == '/';
    bool trailing_slash = path.size() > 1 && path.back() == '/';
    std::string result = absolute ? "/" : "";
    // Once a folder is missing nothing below it can match.
    bool parent_missing = false;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty()) continue;

        std::string folder = result.empty() ? "." : result;
        std::string joined = result.empty() ? part : (result.back() == '/' ? result + part : result + "/" + part);
        if (!parent_missing && !exists(joined) && part != "." && part != "..") {
            if (auto found = find_entry(folder, part)) {
                joined = result.empty() ? *found
                                        : (result.back() == '/' ? result + *found : result + "/" + *found);
            } else {
                parent_missing = true;
            }
        }
        result = std::move(joined);
    }
    if (trailing_slash && !result.empty() && result.back() != '/') result += '/';
    return result;
}

std::string home_folder() {
    if (auto home = detail::env_value("HOME"); home && !home->empty()) return *home;
    std::vector<char> scratch(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, scratch.data(), scratch.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return "/";
}

std::string join_under(const std::string& root, std::string_view rest) {
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    if (rest.empty()) return root;
    if (!root.empty() && root.back() == '/') return root + std::string(rest);
    return root + "/" + std::string(rest);
}

}  // namespace

std::string drive_root() {
    std::string root;
    if (auto value = detail::env_value("WIN32_ROOT"); value && !value->empty())
        root = *value;
    else
        root = home_folder() + "/.local/share/win32/drive_c";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

std::string host_path(const char* windows_path) {
    if (!windows_path) return {};
    std::string path = windows_path;
    // "\WINDOWS" is the root of the current drive, which is always C:;
    // "\\server\share" is not a drive path.
    bool drive_rooted = path.size() >= 1 && path[0] == '\\' && !(path.size() >= 2 && path[1] == '\\');
    std::replace(path.begin(), path.end(), '\\', '/');

    std::string mapped;
    if (path.size() >= 2 && path[1] == ':' && (path[0] == 'C' || path[0] == 'c'))
        mapped = join_under(drive_root(), std::string_view(path).substr(2));
    else if (drive_rooted)
        mapped = join_under(drive_root(), path);
    else
        mapped = std::move(path);
    return match_case(mapped);
}

std::string windows_folder() {
    std::string folder = "C:\\WINDOWS";
    if (auto value = detail::env_value("windir"); value && !value->empty()) folder = *value;
    // "C:\WINDOWS\" and "C:\WINDOWS" name the same folder; keep the root's.
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

std::string windows_path_of(const std::string& host) {
    std::string root = drive_root();
    std::string prefix = root == "/" ? "/" : root + "/";
    std::string rest;
    if (host == root)
        rest = "";
    else if (host.compare(0, prefix.size(), prefix) == 0)
        rest = host.substr(prefix.size());
    else
        return host;
    std::replace(rest.begin(), rest.end(), '/', '\\');
    return "C:\\" + rest;
}

}  // namespace win32

namespace {

std::string system_folder() {
    std::string folder = win32::windows_folder();
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder + "SYSTEM";
}

// On Windows these folders always exist; here they appear when first
// asked for, so that code writing into them does not fail.
UINT folder_result(const std::string& folder, LPSTR buffer, UINT size) {
    win32::detail::make_folders(win32::host_path(folder.c_str()));
    return win32::detail::copy_out(folder, buffer, size);
}

}  // namespace

extern "C" {

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return win32::detail::length_or_no_memory(
        [&] { return folder_result(win32::windows_folder(), lpBuffer, uSize); });
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return win32::detail::length_or_no_memory(
        [&] { return folder_result(system_folder(), lpBuffer, uSize); });
}

}  // extern "C"
