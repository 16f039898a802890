// The background service tick, callable directly by tests.
#pragma once

#include <cstdint>

namespace svx {
// One tick of the service thread at `now_ms` (SVX_ms_count): runs every due
// timer callback.
void service_tick(uint32_t now_ms);
}  // namespace svx
