// Side-by-side timing of our code and a peer library in one process: both
// run on the same data on one core, in interleaved repetitions, timed by
// this thread's CPU clock; the medians and their ratio are printed.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

namespace peer {

inline double thread_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Keeps this thread on the core it is on, so that a repetition never
// migrates half-way through.
inline void stay_on_one_core() {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Result {
    double ours;  // nanoseconds per call, median
    double peer;
};

// `reps` rounds; each round times `inner` calls of `ours` then of `peer`
// (the order alternates from round to round so neither always runs on a
// warm cache). One warm-up round is not counted.
template <typename Ours, typename Peer>
Result compare(int reps, int inner, Ours&& ours, Peer&& peer) {
    std::vector<double> a, b;
    for (int r = -1; r < reps; ++r) {
        double ta = 0, tb = 0;
        auto time_ours = [&] {
            const double t0 = thread_ns();
            for (int i = 0; i < inner; ++i) ours();
            ta = (thread_ns() - t0) / inner;
        };
        auto time_peer = [&] {
            const double t0 = thread_ns();
            for (int i = 0; i < inner; ++i) peer();
            tb = (thread_ns() - t0) / inner;
        };
        if (r % 2) {
            time_ours();
            time_peer();
        } else {
            time_peer();
            time_ours();
        }
        if (r < 0) continue;
        a.push_back(ta);
        b.push_back(tb);
    }
    return {median(a), median(b)};
}

// One line per comparison: both medians in a chosen unit and how many
// times faster ours is (below 1: slower).
inline void print(const char* what, const char* peer_name, Result r, double scale = 1e-3,
                  const char* unit = "us") {
    std::printf("%-44s ours %10.3f %s   %-34s %10.3f %s   peer/ours %5.2fx\n", what,
                r.ours * scale, unit, peer_name, r.peer * scale, unit, r.peer / r.ours);
    std::fflush(stdout);
}

}  // namespace peer
