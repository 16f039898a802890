// WIN.INI: the input is the file; GetProfileStringA lists its sections,
// the keys of each and their values, into buffers large and small. A cut
// result must stay inside its buffer, end in a NUL and be the start of the
// whole one.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "win32/kernel.h"

namespace {

constexpr DWORD kLarge = 1 << 16;

// The NUL-separated names of a list result.
std::vector<std::string> names_of(const std::vector<char>& buffer, DWORD length) {
    std::vector<std::string> names;
    for (DWORD at = 0; at < length;) {
        std::string name(&buffer[at]);
        at += DWORD(name.size()) + 1;
        names.push_back(std::move(name));
    }
    return names;
}

// The call into a buffer of `size` bytes, with bytes past it watched.
std::pair<DWORD, std::vector<char>> get(LPCSTR section, LPCSTR key, DWORD size) {
    std::vector<char> buffer(size + 8, '#');
    const DWORD result = GetProfileStringA(section, key, "fallback  ", buffer.data(), size);
    FUZZ_CHECK(size == 0 || result < size);
    for (DWORD i = size; i < size + 8; ++i) FUZZ_CHECK(buffer[i] == '#');
    return {result, std::move(buffer)};
}

void check_cuts(fuzz::Choices& pick, LPCSTR section, LPCSTR key, DWORD whole_length,
                const std::vector<char>& whole) {
    const DWORD size = pick.pick(std::min<DWORD>(whole_length + 3, 40));
    auto [result, buffer] = get(section, key, size);
    if (size == 0) return;
    // A value, or a list of names each ending in NUL: what fits is the
    // start of the whole, and a NUL ends it.
    FUZZ_CHECK(buffer[result] == '\0');
    FUZZ_CHECK(std::equal(buffer.begin(), buffer.begin() + result, whole.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = fuzz::scratch_drive() + "/WINDOWS/WIN.INI";
    if (size > (1u << 20)) return 0;
    fuzz::write_file(file, data, size);
    fuzz::Choices pick(data, size);

    auto [length, sections] = get(nullptr, nullptr, kLarge);
    check_cuts(pick, nullptr, nullptr, length, sections);
    int budget = 200;
    for (const std::string& section : names_of(sections, length)) {
        auto [keys_length, keys] = get(section.c_str(), nullptr, kLarge);
        check_cuts(pick, section.c_str(), nullptr, keys_length, keys);
        for (const std::string& key : names_of(keys, keys_length)) {
            if (--budget < 0) return 0;
            auto [value_length, value] = get(section.c_str(), key.c_str(), kLarge);
            check_cuts(pick, section.c_str(), key.c_str(), value_length, value);
        }
    }
    // A key that is not there gives the default without its trailing blanks.
    auto [fallback_length, fallback] = get("no]such section", "key", kLarge);
    FUZZ_CHECK(std::string(fallback.data(), fallback_length) == "fallback");
    return 0;
}
