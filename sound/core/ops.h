// The operations behind the exports, one per row of the export table.
#pragma once

#include "exports.h"
#include "sonvex.h"

namespace svx::op {
#define SVX_DECLARE_OP(frame, R, name, params, args, formats, result) R name params;
SVX_ALL_EXPORTS(SVX_DECLARE_OP)
#undef SVX_DECLARE_OP
}  // namespace svx::op
