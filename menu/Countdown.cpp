#include "Countdown.h"

#include <cmath>

namespace {

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
long long DaysFromEpoch(int year, int month, int day) {
    // Days from 1970-01-01, by the usual era arithmetic.
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yoe = year - era * 400;
    const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long unix_days = era * 146097 + doe - 719468;
    return unix_days + 25569;  // 1899-12-30 lies 25569 days before 1970-01-01
}

}  // namespace

double DateTimeOf(const SYSTEMTIME& t) {
    const double days = double(DaysFromEpoch(t.wYear, t.wMonth, t.wDay));
    const double ms = ((t.wHour * 60.0 + t.wMinute) * 60.0 + t.wSecond) * 1000.0 + t.wMilliseconds;
    return days + ms / 86400000.0;
}

double DateTimeNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return DateTimeOf(now);
}

std::string ZeroPadded(long long n, int width) {
    std::string s = std::to_string(n);
    if (int(s.size()) < width) s.insert(0, size_t(width) - s.size(), '0');
    return s;
}

CountdownCaptions CountdownFrom(double now) {
    double d = kTargetDateTime - now;
    if (!(d >= 0)) d = 0;  // also a clock that gives no number
    const double days = std::trunc(d);
    const double total = std::trunc(d * 24 * 60 * 60);
    const double h = (d - days) * 24;
    const double hours = std::trunc(h);
    const double m = (h - hours) * 60;
    const double minutes = std::trunc(m);
    const double s = (m - minutes) * 60;
    const double seconds = std::trunc(s);
    return {ZeroPadded((long long)days, 3), ZeroPadded((long long)hours, 2), ZeroPadded((long long)minutes, 2),
            ZeroPadded((long long)seconds, 2), ZeroPadded((long long)total, 8)};
}
