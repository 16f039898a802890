// The frame every traced export runs: call depth, call line, the
// operation, result line.
#pragma once

#include <array>
#include <type_traits>

#include "state.h"
#include "trace.h"

namespace svx::frame {

template <typename R, typename Op, typename... A>
R traced(const char* call_format, const char* result_format, Op&& op, A... args) {
    Library& lib = library();
    const int depth = ++call_depth;
    if (lib.log_enabled.load(std::memory_order_relaxed)) [[unlikely]] {
        if ((depth == 1 || lib.log_nested) && background_count == 0) {
            const std::array<trace::Arg, sizeof...(A)> values{trace::arg(args)...};
            trace::call_line(depth, call_format, values.data(), values.size());
        }
    }
    // A bridge to a 16-bit companion would take the call here; this port
    // has none, so every call goes to its operation.
    if constexpr (std::is_void_v<R>) {
        op();
        --call_depth;
    } else {
        R result = op();
        if (result_format && lib.log_enabled.load(std::memory_order_relaxed)) [[unlikely]] {
            if ((depth == 1 || lib.log_nested) && background_count == 0)
                trace::result_line(depth, result_format, trace::arg(result));
        }
        --call_depth;
        return result;
    }
}

}  // namespace svx::frame
