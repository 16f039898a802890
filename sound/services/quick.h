// The quick handle's record, and the quick interface's hook into shutdown.
#pragma once

#include <atomic>
#include <cstdint>

#include "sonvex.h"

// The handle is the record's address.
struct SVX_QUICK {
    const uint8_t* image = nullptr;
    uint32_t size = 0;
    int32_t kind = 0;                      // 1 XMIDI, 2 digital
    std::atomic<void*> playing{nullptr};   // HSEQUENCE or HSAMPLE
    std::atomic<int32_t> status{0};        // 1 done, 2 loaded, 3 playing
    SVX_QUICK* next = nullptr;
    int32_t speed = -1;
    int32_t volume = -1;
    int32_t extra = -1;
    HDLSFILEID dls_file = nullptr;
    void* extracted_dls = nullptr;
    const void* embedded_dls = nullptr;
    int32_t pending_ms = 0;
    bool image_not_owned = false;
    int32_t length_ms = -1;  // the file's length, once worked out
};

namespace svx::services {

// Unloads every quick handle and forgets the quick drivers, which the
// library's shutdown closes itself.
void forget_quick();

}  // namespace svx::services
