#include "backend_config.h"

#include "win32/kernel_ext.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace win32::mm {

BackendChoice read_backend_choice(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string text = (value && *value) ? value : fallback;
    BackendChoice choice;
    size_t colon = text.find(':');
    choice.kind = text.substr(0, colon);
    if (colon != std::string::npos) {
        choice.arg = text.substr(colon + 1);
        choice.has_arg = true;
    }
    std::transform(choice.kind.begin(), choice.kind.end(), choice.kind.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return choice;
}

void warn_unreadable(const char* variable, const char* accepted) {
    const char* value = std::getenv(variable);
    win32::warn_bad_setting(variable, value ? value : "", accepted);
}

bool parse_options(const std::string& text, Options& out) {
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        if (!item.empty()) {
            size_t eq = item.find('=');
            if (eq == std::string::npos || eq == 0) return false;
            out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        }
        start = end + 1;
    }
    return true;
}

bool parse_number(const std::string& text, uint32_t low, uint32_t high, uint32_t& out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value < low || value > high) return false;
    out = uint32_t(value);
    return true;
}

void copy_product_name(CHAR (&field)[MAXPNAMELEN], const std::string& name) {
    size_t n = std::min(name.size(), size_t(MAXPNAMELEN - 1));
    std::memcpy(field, name.data(), n);
    field[n] = '\0';
}

}  // namespace win32::mm
