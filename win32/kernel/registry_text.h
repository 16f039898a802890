// The registry file's text form, for the fuzz target: what the store would
// write after reading `text`.
#pragma once

#include <cstddef>
#include <string>

namespace win32::detail {

// True with `written` set when `text` parses; false with the number of the
// first line that does not.
bool rewrite_registry_text(const std::string& text, std::string& written, size_t& bad_line);

}  // namespace win32::detail
