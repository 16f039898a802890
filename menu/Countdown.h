// The countdown to the year 2000: pure arithmetic on date-time values
// (days since 1899-12-30, the fraction being the time of day).
#pragma once

#include <string>

#include "win32/kernel.h"

// 2000-01-01 00:00:00.
constexpr double kTargetDateTime = 36526.0;

// A local time as a date-time value.
double DateTimeOf(const SYSTEMTIME& t);
double DateTimeNow();

struct CountdownCaptions {
    std::string days;     // at least 3 digits
    std::string hours;    // at least 2
    std::string minutes;  // at least 2
    std::string seconds;  // at least 2
    std::string total;    // whole seconds left, at least 8
};

// Everything from one difference, so the fields never disagree; held at
// zero once the target has passed.
CountdownCaptions CountdownFrom(double now);

// The decimal digits of n, zeros prefixed up to `width`.
std::string ZeroPadded(long long n, int width);
