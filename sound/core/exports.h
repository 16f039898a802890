// The export table: every export of the library, once. The call frame
// (call depth, trace line, dispatch, result line) of each export is
// generated from its row in exports.cpp; nothing is written per export.
//
// X(frame, result type, name, (parameters), (arguments), "argument formats", result format)
//   frame:  traced  - the full frame
//           bare    - no frame at all (the lock and the background test)
//           startup - writes its own trace line once the log is open
//   argument formats: the printf conversions of the call line, between the
//           parentheses; the line is the name, "(", these, ")" and CR LF.
#pragma once

#define SVX_NO_RESULT nullptr
#define SVX_RESULT_D "Result = %d\r\n"
#define SVX_RESULT_X "Result = 0x%X\r\n"
#define SVX_RESULT_LU "Result = %lu\r\n"
#define SVX_RESULT_LD "Result = %ld\r\n"

#define SVX_CORE_EXPORTS(X)                                                                   \
    X(startup, int32_t, SVX_startup, (void), (), "", SVX_NO_RESULT)                          \
    X(traced, void, SVX_shutdown, (void), (), "", SVX_NO_RESULT)                             \
    X(traced, void*, SVX_mem_alloc_lock, (int32_t bytes), (bytes), "%li", SVX_RESULT_X)      \
    X(traced, void, SVX_mem_free_lock, (void* block), (block), "0x%lX", SVX_NO_RESULT)       \
    X(traced, int32_t, SVX_set_preference, (int32_t number, int32_t value), (number, value), \
      "%ld,%ld", SVX_RESULT_D)                                                               \
    X(traced, int32_t, SVX_get_preference, (int32_t number), (number), "%ld", SVX_RESULT_D)  \
    X(traced, char*, SVX_last_error, (void), (), "", SVX_RESULT_D)                           \
    X(traced, int32_t, SVX_set_error, (const char* text), (text), "%s", SVX_NO_RESULT)       \
    X(bare, void, SVX_lock, (void), (), "", SVX_NO_RESULT)                                   \
    X(bare, void, SVX_unlock, (void), (), "", SVX_NO_RESULT)                                 \
    X(traced, void, SVX_delay, (int32_t ticks), (ticks), "%ld", SVX_NO_RESULT)               \
    X(bare, int32_t, SVX_background, (void), (), "", SVX_NO_RESULT)                          \
    X(traced, uint32_t, SVX_ms_count, (void), (), "", SVX_NO_RESULT)                         \
    X(traced, uint32_t, SVX_us_count, (void), (), "", SVX_NO_RESULT)

#define SVX_TIMER_EXPORTS(X)                                                                  \
    X(traced, HSVXTIMER, SVX_register_timer, (SVXTIMERCB callback), (callback), "0x%lX",     \
      SVX_RESULT_D)                                                                          \
    X(traced, uintptr_t, SVX_set_timer_user, (HSVXTIMER timer, uintptr_t user),              \
      (timer, user), "%ld,%lu", SVX_RESULT_D)                                                \
    X(traced, void, SVX_set_timer_period, (HSVXTIMER timer, uint32_t microseconds),          \
      (timer, microseconds), "%ld,%lu", SVX_NO_RESULT)                                       \
    X(traced, void, SVX_set_timer_frequency, (HSVXTIMER timer, uint32_t hertz),              \
      (timer, hertz), "%ld,%lu", SVX_NO_RESULT)                                              \
    X(traced, void, SVX_set_timer_divisor, (HSVXTIMER timer, uint32_t divisor),              \
      (timer, divisor), "%ld,%lu", SVX_NO_RESULT)                                            \
    X(traced, void, SVX_start_timer, (HSVXTIMER timer), (timer), "%lu", SVX_NO_RESULT)       \
    X(traced, void, SVX_start_all_timers, (void), (), "", SVX_NO_RESULT)                     \
    X(traced, void, SVX_stop_timer, (HSVXTIMER timer), (timer), "%lu", SVX_NO_RESULT)        \
    X(traced, void, SVX_stop_all_timers, (void), (), "", SVX_NO_RESULT)                      \
    X(traced, void, SVX_release_timer_handle, (HSVXTIMER timer), (timer), "%lu",             \
      SVX_NO_RESULT)                                                                         \
    X(traced, void, SVX_release_all_timers, (void), (), "", SVX_NO_RESULT)

#define SVX_ALL_EXPORTS(X) \
    SVX_CORE_EXPORTS(X)    \
    SVX_TIMER_EXPORTS(X)
