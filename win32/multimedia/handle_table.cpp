#include "handle_table.h"

#include <atomic>

namespace win32::mm {

uintptr_t next_handle_value() {
    static std::atomic<uintptr_t> next{0x10000};
    return next.fetch_add(4, std::memory_order_relaxed);
}

}  // namespace win32::mm
