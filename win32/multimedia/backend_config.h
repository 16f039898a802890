// Reading the backend variables (WIN32_AUDIO, WIN32_MIDI): "kind[:arg]",
// and "key=value,key=value" option lists. Internal to win32_multimedia.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "win32/winmm.h"

namespace win32::mm {

struct BackendChoice {
    std::string kind;  // lower case, before the first ':'
    std::string arg;   // everything after it, untouched (paths hold ':')
    bool has_arg = false;
};

// The variable's value split at its first ':'; `fallback` when unset or
// empty.
BackendChoice read_backend_choice(const char* variable, const char* fallback);
// Warns once that the variable's value is not one of `accepted`.
void warn_unreadable(const char* variable, const char* accepted);

using Options = std::vector<std::pair<std::string, std::string>>;
// Splits "a=1,b=2"; false when an item has no '=' or an empty key.
bool parse_options(const std::string& text, Options& out);
// A decimal number within [low, high]; false otherwise.
bool parse_number(const std::string& text, uint32_t low, uint32_t high, uint32_t& out);

// Copies a product name into a caps field, cut to fit with its NUL.
void copy_product_name(CHAR (&field)[MAXPNAMELEN], const std::string& name);

}  // namespace win32::mm
