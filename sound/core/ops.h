// The operations behind the exports, one per row of the export table.
#pragma once

#include "exports.h"
#include "sonvex.h"

// Exports that dispatch on preference 15 have one operation per output
// interface: op::waveout::name and op::dsound::name.
namespace svx::op {
#define SVX_DECLARE_OP_traced(R, name, params) R name params;
#define SVX_DECLARE_OP_bare SVX_DECLARE_OP_traced
#define SVX_DECLARE_OP_startup SVX_DECLARE_OP_traced
#define SVX_DECLARE_OP_by_output(R, name, params) \
    namespace waveout {                           \
    R name params;                                \
    }                                             \
    namespace dsound {                            \
    R name params;                                \
    }
#define SVX_DECLARE_OP(frame, R, name, params, args, formats, result) \
    SVX_DECLARE_OP_##frame(R, name, params)
SVX_ALL_EXPORTS(SVX_DECLARE_OP)
#undef SVX_DECLARE_OP
}  // namespace svx::op
