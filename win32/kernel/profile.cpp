// GetProfileStringA over WIN.INI in the Windows folder. The file is read
// on every call, so an edit shows at once, and is never written.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

#include "paths.h"
#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

using win32::detail::iequals;

struct Entry {
    std::string key;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

std::string_view trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Lines before the first section and lines without '=' carry nothing
// GetProfileStringA can return, so they are dropped.
std::vector<Section> parse(const std::string& text) {
    std::vector<Section> sections;
    size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line = trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            line.remove_prefix(1);
            line = line.substr(0, line.find(']'));
            sections.push_back({std::string(trim(line)), {}});
            continue;
        }
        size_t equals = line.find('=');
        if (sections.empty() || equals == std::string_view::npos) continue;
        std::string_view key = trim(line.substr(0, equals));
        std::string_view value = unquote(trim(line.substr(equals + 1)));
        sections.back().entries.push_back({std::string(key), std::string(value)});
    }
    return sections;
}

std::vector<Section> load_profile() {
    std::string path = win32::host_path((win32::windows_folder() + "\\WIN.INI").c_str());
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parse(text);
}

// One string, cut to the buffer: at most size-1 characters and a NUL.
DWORD copy_string(std::string_view text, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    size_t length = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

// Names, each with its NUL, and one more NUL after the last. A list that
// does not fit has its last name cut and still ends in two NULs; the
// result is then size-2.
DWORD copy_list(const std::vector<std::string>& names, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    size_t free = size - 1;  // room left before the final NUL
    char* out = buffer;
    for (const std::string& name : names) {
        size_t needed = name.size() + 1;
        if (needed > free) {
            if (free > 0) {  // otherwise the previous name's NUL is already there
                std::memcpy(out, name.data(), free - 1);
                out += free - 1;
                *out++ = '\0';
            }
            *out = '\0';
            return size - 2;
        }
        std::memcpy(out, name.c_str(), needed);
        out += needed;
        free -= needed;
    }
    *out = '\0';
    return static_cast<DWORD>(out - buffer);
}

// Each name once, in file order, in the spelling first seen; the names
// seen are kept in lower case, so that a long list is made in linear time.
struct UniqueNames {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;

    void add(const std::string& name) {
        if (seen.insert(win32::detail::ascii_lower(name)).second) names.push_back(name);
    }
};

// A null default is empty; its trailing blanks are not part of it.
std::string_view default_of(LPCSTR fallback) {
    std::string_view def = fallback ? fallback : "";
    while (!def.empty() && (def.back() == ' ' || def.back() == '\t')) def.remove_suffix(1);
    return def;
}

DWORD profile_string(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    std::string_view def = default_of(fallback);

    std::vector<Section> sections = load_profile();
    UniqueNames list;
    if (!section) {
        for (const Section& s : sections) list.add(s.name);
        return copy_list(list.names, buffer, size);
    }
    for (const Section& s : sections) {
        if (!iequals(s.name, trim(section))) continue;
        for (const Entry& entry : s.entries) {
            if (!key)
                list.add(entry.key);
            else if (iequals(entry.key, trim(key)))
                return copy_string(entry.value, buffer, size);
        }
    }
    if (!key && !list.names.empty()) return copy_list(list.names, buffer, size);
    return copy_string(def, buffer, size);
}

}  // namespace

extern "C" {

DWORD WINAPI GetProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize) {
    try {
        return profile_string(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize);
    } catch (...) {
        // Out of memory reading a huge file: the caller gets its default.
        return copy_string(default_of(lpDefault), lpReturnedString, nSize);
    }
}

}  // extern "C"
