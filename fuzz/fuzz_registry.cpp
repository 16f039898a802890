// The registry file: text that parses is written as the store writes it,
// and that text must parse and write again to itself
// (parse -> write -> parse -> write gives the first write).
#include <string>

#include "fuzz_support.h"
#include "registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string first, second;
    size_t bad_line = 0;
    if (!win32::detail::rewrite_registry_text(text, first, bad_line)) {
        FUZZ_CHECK(bad_line >= 1);
        return 0;
    }
    if (!win32::detail::rewrite_registry_text(first, second, bad_line)) {
        std::fprintf(stderr, "Written text does not parse at line %zu:\n%s\n", bad_line, first.c_str());
        std::abort();
    }
    if (second != first) {
        std::fprintf(stderr, "Written:\n%s\nParsed and written again:\n%s\n", first.c_str(), second.c_str());
        std::abort();
    }
    return 0;
}
