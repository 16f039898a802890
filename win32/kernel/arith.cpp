#include <cstdint>
#include <cstdlib>

#include "win32/kernel.h"

// a * b / c in 64 bits, rounded half away from zero; -1 when c is 0 or the
// result does not fit, as callers of the original expect.
int WINAPI MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    int64_t num = static_cast<int64_t>(a) * b;
    int64_t den = c;
    bool negative = (num < 0) != (den < 0);
    uint64_t n = static_cast<uint64_t>(num < 0 ? -num : num);
    uint64_t d = static_cast<uint64_t>(den < 0 ? -den : den);
    uint64_t q = (n + d / 2) / d;
    if (q > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return -1;
    return negative ? static_cast<int>(-static_cast<int64_t>(q)) : static_cast<int>(q);
}
