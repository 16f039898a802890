// Whether the tests run under ThreadSanitizer, which slows every thread
// many times over: a test that compares what a device played in real time
// with what the library mixed just in time cannot keep pace there.
#pragma once

namespace testing_support {
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadChecker = true;
#else
inline constexpr bool kThreadChecker = false;
#endif
}  // namespace testing_support

// Skips a test whose real-time audio comparison the checker's slowness
// defeats; its threads are still run by the other tests.
#define SKIP_REAL_TIME_UNDER_THREAD_CHECKER()                                                  \
    do {                                                                                       \
        if (testing_support::kThreadChecker)                                                   \
            GTEST_SKIP() << "real-time capture comparison: too slow under ThreadSanitizer";   \
    } while (0)
