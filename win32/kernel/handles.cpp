#include "handles.h"

#include <mutex>
#include <unordered_map>

#include "threads_internal.h"
#include "win32/kernel.h"

namespace win32::detail {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Handles are multiples of 4 like Windows', starting well away from
    // null and from the pseudo-handles.
    uintptr_t next = 0x1000;
};
// The table's lock is taken with the suspend signal blocked: a thread is
// never suspended while holding it, so the thread that suspended it can
// still use handles.

Table& table() {
    static Table* t = new Table;  // outlives threads still closing handles at exit
    return *t;
}

thread_local DWORD last_error = 0;

}  // namespace

HANDLE add_handle(std::shared_ptr<KernelObject> object) {
    auto& t = table();
    ShieldedLock lock(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> find_handle(HANDLE handle) {
    if (handle == kCurrentThread) return current_thread_object();
    auto& t = table();
    ShieldedLock lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return nullptr;
    return it->second;
}

bool remove_handle(HANDLE handle) {
    std::shared_ptr<KernelObject> doomed;  // destroyed outside the lock
    auto& t = table();
    ShieldedLock lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    doomed = std::move(it->second);
    t.objects.erase(it);
    return true;
}

}  // namespace win32::detail

using namespace win32::detail;

extern "C" {

DWORD WINAPI GetLastError(void) { return last_error; }
void WINAPI SetLastError(DWORD code) { last_error = code; }

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (hObject == kCurrentThread || hObject == kCurrentProcess) return TRUE;
    if (!remove_handle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto object = find_as<KernelObject>(hHandle);
    if (!object) return WAIT_FAILED;
    DWORD result = object->wait(dwMilliseconds);
    if (result == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return result;
}

}  // extern "C"
