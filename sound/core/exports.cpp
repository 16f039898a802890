// Generates every export of the library from the export table.
#include "exports.h"

#include "frame.h"
#include "ops.h"

#define SVX_ARGS_TAIL(...) __VA_OPT__(, ) __VA_ARGS__

#define SVX_FRAME_traced(R, name, params, args, formats, result)                                  \
    extern "C" SVXAPI R name params {                                                             \
        return svx::frame::traced<R>(#name "(" formats ")\r\n", result,                           \
                                     [&]() -> R { return svx::op::name args; } SVX_ARGS_TAIL args); \
    }
#define SVX_FRAME_bare(R, name, params, args, formats, result) \
    extern "C" SVXAPI R name params { return svx::op::name args; }
#define SVX_FRAME_startup SVX_FRAME_bare
#define SVX_FRAME_by_output(R, name, params, args, formats, result)                            \
    extern "C" SVXAPI R name params {                                                          \
        return svx::frame::traced<R>(                                                          \
            #name "(" formats ")\r\n", result,                                                 \
            [&]() -> R {                                                                       \
                return svx::preference(SVX_PREF_USE_WAVEOUT) != 0 ? svx::op::waveout::name args \
                                                                   : svx::op::dsound::name args; \
            } SVX_ARGS_TAIL args);                                                             \
    }

#define SVX_DEFINE_EXPORT(frame, R, name, params, args, formats, result) \
    SVX_FRAME_##frame(R, name, params, args, formats, result)

SVX_ALL_EXPORTS(SVX_DEFINE_EXPORT)
