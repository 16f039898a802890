// The library's records live in its own zero-filled memory, as callers
// that look inside handles expect; these make and free arrays of them.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "sonvex.h"

namespace svx {

// `count` records constructed in place; null (and "Out of memory.") when
// the count is not positive, too large, or memory runs out.
template <typename T>
T* new_records(int64_t count) {
    static_assert(std::is_trivially_destructible_v<T>);
    if (count <= 0 || count > INT32_MAX / int64_t(sizeof(T))) {
        ::SVX_set_error("Out of memory.");
        return nullptr;
    }
    void* block = ::SVX_mem_alloc_lock(int32_t(count * int64_t(sizeof(T))));
    if (!block) return nullptr;
    T* records = static_cast<T*>(block);
    for (int64_t i = 0; i < count; ++i) new (records + i) T();
    return records;
}

inline void free_records(void* block) {
    if (block) ::SVX_mem_free_lock(block);
}

}  // namespace svx
