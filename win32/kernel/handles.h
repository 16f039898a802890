// The kernel's handle table: every HANDLE the stand-in gives out names a
// shared object, so a handle closed or never issued is an error, not a
// wild pointer.
#pragma once

#include <memory>

#include "win32/types.h"

namespace win32::detail {

struct KernelObject {
    virtual ~KernelObject() = default;
    // Waits for the object to be signalled: WAIT_OBJECT_0, WAIT_TIMEOUT or
    // WAIT_FAILED (objects that cannot be waited on).
    virtual DWORD wait(DWORD milliseconds) {
        (void)milliseconds;
        return 0xFFFFFFFFu;
    }
};

HANDLE add_handle(std::shared_ptr<KernelObject> object);
// The object behind a handle, resolving the current-thread pseudo-handle;
// null (with ERROR_INVALID_HANDLE set) when there is none.
std::shared_ptr<KernelObject> find_handle(HANDLE handle);
bool remove_handle(HANDLE handle);

template <typename T>
std::shared_ptr<T> find_as(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(find_handle(handle));
    if (!object) SetLastError(6 /* ERROR_INVALID_HANDLE */);
    return object;
}

// Defined by the thread module: the object of the calling thread.
std::shared_ptr<KernelObject> current_thread_object();

inline const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
inline const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

}  // namespace win32::detail
