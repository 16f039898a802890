#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/timers.h"
#include "sound_fixture.h"
#include "win32/kernel.h"

namespace {

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<uintptr_t> last_user{0};
};

void SVXCALLBACK count_call(uintptr_t user) { reinterpret_cast<Counter*>(user)->calls++; }

// Timers driven by explicit ticks: the service thread is parked on a very
// long period so that only the test ticks.
class ManualTicks : public testing_support::SoundLibrary {
protected:
    void SetUp() override { SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 100000000); }
    HSVXTIMER running_timer(Counter& counter) {
        HSVXTIMER t = SVX_register_timer(count_call);
        SVX_set_timer_user(t, reinterpret_cast<uintptr_t>(&counter));
        SVX_start_timer(t);
        return t;
    }
    // Ticks every `step_ms` from `start` for `count` ticks; returns the calls
    // made by each tick.
    std::vector<int> tick(Counter& counter, uint32_t start, uint32_t step_ms, int count) {
        std::vector<int> per_tick;
        for (int i = 0; i < count; ++i) {
            int before = counter.calls;
            svx::service_tick(start + uint32_t(i) * step_ms);
            per_tick.push_back(counter.calls - before);
        }
        return per_tick;
    }
};

struct PeriodCase {
    const char* name;
    void (*set)(HSVXTIMER, uint32_t);
    uint32_t value;
    int calls_in_10_s;
};

class Periods : public ManualTicks, public ::testing::WithParamInterface<PeriodCase> {};

TEST_P(Periods, CallsFollowThePeriodArithmetic) {
    const PeriodCase& c = GetParam();
    Counter counter;
    HSVXTIMER t = running_timer(counter);
    c.set(t, c.value);
    tick(counter, 1000, 100, 101);  // the first tick credits nothing
    EXPECT_EQ(counter.calls, c.calls_in_10_s);
}

INSTANTIATE_TEST_SUITE_P(
    Setters, Periods,
    ::testing::Values(PeriodCase{"Frequency3", SVX_set_timer_frequency, 3, 30},  // 333,333 us
                      PeriodCase{"Frequency200", SVX_set_timer_frequency, 200, 2000},
                      PeriodCase{"Divisor0", SVX_set_timer_divisor, 0, 182},  // 54,925 us
                      PeriodCase{"Divisor11932", SVX_set_timer_divisor, 11932, 1000},
                      PeriodCase{"Period333334", SVX_set_timer_period, 333334, 29}),
    [](const auto& info) { return info.param.name; });

TEST_F(ManualTicks, ATimerFasterThanTheThreadRunsSeveralTimesPerTick) {
    Counter counter;
    SVX_set_timer_frequency(running_timer(counter), 200);
    auto per_tick = tick(counter, 0, 7, 11);
    per_tick.erase(per_tick.begin());
    for (int n : per_tick) EXPECT_TRUE(n == 1 || n == 2) << n;
    EXPECT_EQ(counter.calls, 14);  // 70 ms at 5 ms
}

TEST_F(ManualTicks, ALongStallOrABackwardClockCreditsAtMost100Ms) {
    Counter counter;
    running_timer(counter);  // 100 Hz by default
    svx::service_tick(50000);
    svx::service_tick(60000);
    EXPECT_EQ(counter.calls, 10);
    svx::service_tick(59000);
    EXPECT_EQ(counter.calls, 20);
}

TEST_F(ManualTicks, NoCallbackWhileTheLockIsHeldAndOnly100MsMadeUp) {
    Counter counter;
    running_timer(counter);
    svx::service_tick(1000);
    SVX_lock();
    tick(counter, 1100, 100, 3);  // 300 ms under the lock
    EXPECT_EQ(counter.calls, 0);
    SVX_unlock();
    svx::service_tick(1400);
    EXPECT_EQ(counter.calls, 10);
}

TEST_F(ManualTicks, TableIsFullAfterSixteenRegistrations) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(SVX_register_timer(count_call), i);
    EXPECT_EQ(SVX_register_timer(count_call), -1);
    SVX_release_timer_handle(5);
    EXPECT_EQ(SVX_register_timer(count_call), 5);
}

TEST_F(ManualTicks, TableSizeComesFromThePreferenceAtFirstRegistration) {
    SVX_set_preference(SVX_PREF_TIMER_HANDLES, 2);
    EXPECT_EQ(SVX_register_timer(count_call), 0);
    SVX_set_preference(SVX_PREF_TIMER_HANDLES, 16);
    EXPECT_EQ(SVX_register_timer(count_call), 1);
    EXPECT_EQ(SVX_register_timer(count_call), -1);
}

TEST_F(ManualTicks, StoppedAndReleasedTimersAndBadHandlesAreLeftAlone) {
    Counter a, b;
    HSVXTIMER ta = running_timer(a);
    HSVXTIMER tb = running_timer(b);
    svx::service_tick(0);
    SVX_stop_timer(ta);
    svx::service_tick(100);
    EXPECT_EQ(a.calls, 0);
    EXPECT_EQ(b.calls, 10);
    SVX_start_all_timers();
    SVX_release_timer_handle(tb);
    SVX_start_timer(tb);  // a free entry does not start
    svx::service_tick(200);
    EXPECT_EQ(a.calls, 10);
    EXPECT_EQ(b.calls, 10);
    for (HSVXTIMER bad : {-1, 16, 1000, -7}) {
        EXPECT_EQ(SVX_set_timer_user(bad, 1), 0u);
        SVX_set_timer_period(bad, 1);
        SVX_start_timer(bad);
        SVX_release_timer_handle(bad);
    }
}

TEST_F(ManualTicks, PeriodsThatWouldNeverEndATickAreMadeSane) {
    Counter counter;
    HSVXTIMER t = running_timer(counter);
    SVX_set_timer_frequency(t, 0);  // ignored: keeps 10 ms
    svx::service_tick(0);
    svx::service_tick(100);
    EXPECT_EQ(counter.calls, 10);
    SVX_set_timer_period(t, 0);  // becomes 1 us
    svx::service_tick(101);
    EXPECT_EQ(counter.calls, 10 + 1000);
}

void SVXCALLBACK stop_myself(uintptr_t user) {
    auto* counter = reinterpret_cast<Counter*>(user);
    if (++counter->calls == 3) SVX_stop_timer(0);
}

TEST_F(ManualTicks, ACallbackThatStopsItsTimerEndsTheCatchUp) {
    Counter counter;
    HSVXTIMER t = SVX_register_timer(stop_myself);
    ASSERT_EQ(t, 0);
    SVX_set_timer_user(t, reinterpret_cast<uintptr_t>(&counter));
    SVX_start_timer(t);
    svx::service_tick(0);
    svx::service_tick(100);
    EXPECT_EQ(counter.calls, 3);
}

// With the real service thread.
struct Observation {
    std::atomic<long> foreground_steps{0};
    std::atomic<int> callbacks{0};
    std::atomic<int> moved_during_callback{0};
    std::atomic<int> background_seen{0};
};

// Waits up to 300 ms for the foreground thread to take a step: a thread
// that is suspended never does, one that runs beside the callback does
// even on a loaded machine.
void SVXCALLBACK watch_foreground(uintptr_t user) {
    auto* o = reinterpret_cast<Observation*>(user);
    if (SVX_background() != 0) o->background_seen++;
    long before = o->foreground_steps.load();
    uint32_t until = SVX_ms_count() + 300;
    while (o->foreground_steps.load() == before && int32_t(SVX_ms_count() - until) < 0) Sleep(1);
    if (o->foreground_steps.load() != before) o->moved_during_callback++;
    o->callbacks++;
}

class ServiceThread : public testing_support::SoundLibrary,
                      public ::testing::WithParamInterface<int> {};

TEST_P(ServiceThread, ForegroundRunsDuringCallbacksOnlyWhenNotSuspended) {
    const int suspend = GetParam();
    ASSERT_EQ(SVX_startup(), 1);
    SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, suspend);
    Observation o;
    HSVXTIMER t = SVX_register_timer(watch_foreground);
    SVX_set_timer_user(t, reinterpret_cast<uintptr_t>(&o));
    SVX_set_timer_frequency(t, 10);
    SVX_start_timer(t);
    int background_outside = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (o.callbacks < 4 && std::chrono::steady_clock::now() < end) {
        o.foreground_steps++;
        if (SVX_background() != 0) background_outside++;
    }
    SVX_stop_timer(t);
    ASSERT_GE(o.callbacks, 4);
    EXPECT_EQ(o.background_seen, o.callbacks.load()) << "SVX_background inside a callback";
    EXPECT_EQ(background_outside, 0) << "SVX_background outside callbacks";
    if (suspend)
        EXPECT_EQ(o.moved_during_callback, 0);
    else
        EXPECT_EQ(o.moved_during_callback, o.callbacks.load());
}

INSTANTIATE_TEST_SUITE_P(SuspendPreference, ServiceThread, ::testing::Values(1, 0));

}  // namespace

namespace {

class ServiceThreadRelease : public testing_support::SoundLibrary {};

struct SlowCallback {
    std::atomic<int> inside{0};
    std::atomic<int> entered{0};
};

void SVXCALLBACK slow_callback(uintptr_t user) {
    auto* s = reinterpret_cast<SlowCallback*>(user);
    s->inside = 1;
    s->entered++;
    Sleep(40);
    s->inside = 0;
}

TEST_F(ServiceThreadRelease, ReturnsOnlyOnceTheCallbackHasFinished) {
    ASSERT_EQ(SVX_startup(), 1);
    SVX_set_preference(SVX_PREF_SUSPEND_FOREGROUND, 0);
    SlowCallback s;
    HSVXTIMER t = SVX_register_timer(slow_callback);
    SVX_set_timer_user(t, reinterpret_cast<uintptr_t>(&s));
    SVX_set_timer_frequency(t, 100);
    SVX_start_timer(t);
    for (int round = 0; round < 3; ++round) {
        while (s.inside.load() == 0) Sleep(1);
        SVX_release_timer_handle(t);
        // The owner may now free what the callback uses.
        EXPECT_EQ(s.inside.load(), 0) << "round " << round;
        const int entered = s.entered.load();
        Sleep(60);
        EXPECT_EQ(s.entered.load(), entered) << "ran after its release";
        t = SVX_register_timer(slow_callback);
        SVX_start_timer(t);
    }
}

}  // namespace
