// Handles of open devices. A handle is a number from a table, never the
// address of an object, so that a stale or made-up handle is recognised
// as invalid instead of being followed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace win32::mm {

// Handle values are unique across every table of the process and far from
// small device numbers, so that a handle passed where a device id is
// expected is told apart.
uintptr_t next_handle_value();

template <typename Device>
class HandleTable {
public:
    uintptr_t add(std::shared_ptr<Device> device) {
        std::lock_guard lock(mutex_);
        uintptr_t value = next_handle_value();
        devices_.emplace(value, std::move(device));
        return value;
    }

    std::shared_ptr<Device> find(uintptr_t value) {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(value);
        return it == devices_.end() ? nullptr : it->second;
    }

    void remove(uintptr_t value) {
        std::shared_ptr<Device> last;  // released after the lock
        std::lock_guard lock(mutex_);
        auto it = devices_.find(value);
        if (it == devices_.end()) return;
        last = std::move(it->second);
        devices_.erase(it);
    }

    // Never destroyed: device threads may still run while the process
    // exits, and must not find their table gone.
    static HandleTable& instance() {
        static HandleTable* table = new HandleTable;
        return *table;
    }

private:
    std::mutex mutex_;
    std::unordered_map<uintptr_t, std::shared_ptr<Device>> devices_;
};

}  // namespace win32::mm
