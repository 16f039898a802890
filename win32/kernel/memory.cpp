// Global memory. Every block is zero-filled (callers rely on fixed blocks
// being clean) and registered, so that a stale or foreign handle is
// refused instead of freed. The registry's lock is never held by a
// suspended thread, so background work may free blocks while the thread
// it suspended was allocating.
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

#include "threads_internal.h"
#include "win32/kernel.h"

namespace {

struct Block {
    void* data = nullptr;
    SIZE_T size = 0;
    bool moveable = false;
    UINT locks = 0;
};

struct Heap {
    std::mutex mutex;
    std::unordered_map<uintptr_t, Block> by_handle;
    std::unordered_map<uintptr_t, uintptr_t> handle_of_data;
    // Moveable handles are never valid addresses: odd tokens counted up.
    uintptr_t next_token = 0x10001;
};

Heap& heap() {
    static Heap* h = new Heap;  // blocks may be freed during static teardown
    return *h;
}

}  // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    // A zero-byte block still gets a unique address.
    void* data = std::calloc(dwBytes ? dwBytes : 1, 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto& h = heap();
    win32::detail::ShieldedLock lock(h.mutex);
    Block block{data, dwBytes, (uFlags & GMEM_MOVEABLE) != 0, 0};
    uintptr_t handle = reinterpret_cast<uintptr_t>(data);
    if (block.moveable) {
        handle = h.next_token;
        h.next_token += 2;
    }
    try {
        h.by_handle.emplace(handle, block);
        h.handle_of_data.emplace(reinterpret_cast<uintptr_t>(data), handle);
    } catch (const std::bad_alloc&) {
        h.by_handle.erase(handle);
        std::free(data);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(handle);
}

LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
    auto& h = heap();
    win32::detail::ShieldedLock lock(h.mutex);
    auto it = h.by_handle.find(reinterpret_cast<uintptr_t>(hMem));
    if (it == h.by_handle.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (it->second.moveable) ++it->second.locks;
    return it->second.data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL hMem) {
    auto& h = heap();
    win32::detail::ShieldedLock lock(h.mutex);
    auto it = h.by_handle.find(reinterpret_cast<uintptr_t>(hMem));
    if (it == h.by_handle.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Block& block = it->second;
    if (!block.moveable || block.locks == 0) {
        SetLastError(block.moveable ? ERROR_NOT_LOCKED : NO_ERROR);
        return FALSE;
    }
    --block.locks;
    if (block.locks == 0) SetLastError(NO_ERROR);
    return block.locks != 0;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    if (!hMem) return nullptr;
    void* data = nullptr;
    {
        auto& h = heap();
        win32::detail::ShieldedLock lock(h.mutex);
        auto it = h.by_handle.find(reinterpret_cast<uintptr_t>(hMem));
        if (it == h.by_handle.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
        data = it->second.data;
        h.handle_of_data.erase(reinterpret_cast<uintptr_t>(data));
        h.by_handle.erase(it);
    }
    std::free(data);
    return nullptr;
}

HGLOBAL WINAPI GlobalHandle(LPCVOID pMem) {
    auto& h = heap();
    win32::detail::ShieldedLock lock(h.mutex);
    auto it = h.handle_of_data.find(reinterpret_cast<uintptr_t>(pMem));
    if (it == h.handle_of_data.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(it->second);
}

SIZE_T WINAPI GlobalSize(HGLOBAL hMem) {
    auto& h = heap();
    win32::detail::ShieldedLock lock(h.mutex);
    auto it = h.by_handle.find(reinterpret_cast<uintptr_t>(hMem));
    if (it == h.by_handle.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return it->second.size;
}

}  // extern "C"
