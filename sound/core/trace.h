// The trace log: call and result lines of exported calls, time-stamped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace svx::trace {

// One value of a call or result line. The C type decides how it prints:
// 32-bit values print as the 32-bit program printed them, addresses whole.
struct Arg {
    enum Kind { Signed32, Unsigned, Address, Text } kind;
    int64_t value;
    const char* text;
};

inline Arg arg(int32_t v) { return {Arg::Signed32, v, nullptr}; }
inline Arg arg(uint32_t v) { return {Arg::Unsigned, int64_t(v), nullptr}; }
inline Arg arg(unsigned long v) { return {Arg::Unsigned, int64_t(v), nullptr}; }
inline Arg arg(const char* v) {
    return {Arg::Text, int64_t(reinterpret_cast<uintptr_t>(v)), v};
}
template <typename T>
Arg arg(T* v) {
    return {Arg::Address, int64_t(reinterpret_cast<uintptr_t>(v)), nullptr};
}

// printf-style formatting of `format` with the values, bounded by `size`.
// Returns the length written (without the NUL).
size_t format(char* out, size_t size, const char* format, const Arg* args, size_t count);

// Writes "<prefix><call line>" for a call at `depth` (1 = outermost).
void call_line(int depth, const char* format, const Arg* args, size_t count);
// Writes "<indentation><result line>" under a call at `depth`.
void result_line(int depth, const char* format, Arg value);

// Opens the log named by the profile and writes its header; false when it
// cannot be created.
bool open_log(const char* path);
void close_log();
void write_startup_line();

}  // namespace svx::trace
