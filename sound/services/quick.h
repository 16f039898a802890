// The quick interface's hook into shutdown.
#pragma once

namespace svx::services {

// Unloads every quick handle and forgets the quick drivers, which the
// library's shutdown closes itself.
void forget_quick();

}  // namespace svx::services
