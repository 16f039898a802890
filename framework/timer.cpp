#include "timer.h"

#include <map>

#include "win32/kernel.h"

namespace {

// Thread timers carry only their id; ticks come on the thread that set them,
// so each thread keeps its own map back to the components.
std::map<UINT_PTR, TTimer*>& live_timers() {
    thread_local std::map<UINT_PTR, TTimer*> timers;
    return timers;
}

}  // namespace

const ClassInfo& TTimer::StaticClassInfo() {
    static const PropInfo enabled =
        props::Ord<&TTimer::Enabled, &TTimer::SetEnabled>("Enabled", PropKind::Boolean, 1);
    static const PropInfo interval =
        props::Ord<&TTimer::Interval, &TTimer::SetInterval>("Interval", PropKind::Integer, 1000);
    static const PropInfo on_timer = props::Evt<&TTimer::on_timer_>("OnTimer");
    static const PropInfo* const list[] = {TComponent::StaticClassInfo().props[0], &enabled, &interval,
                                           &on_timer};
    static const ClassInfo info{"TTimer", &TComponent::StaticClassInfo(), list, {}, {},
                                props::Create<TTimer>};
    return info;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) {}

TTimer::~TTimer() { Stop(); }

void TTimer::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    UpdateTimer();
}

void TTimer::SetInterval(int ms) {
    if (ms == interval_) return;
    interval_ = ms;
    UpdateTimer();
}

void TTimer::SetOnTimer(const TNotifyEvent& handler) {
    on_timer_ = handler;
    UpdateTimer();
}

void TTimer::Loaded() {
    TComponent::Loaded();
    // The reader binds OnTimer straight into the event.
    UpdateTimer();
}

void TTimer::Timer() { on_timer_(this); }

void TTimer::Stop() {
    if (!id_) return;
    KillTimer(nullptr, id_);
    live_timers().erase(id_);
    id_ = 0;
}

void TTimer::UpdateTimer() {
    Stop();
    if (!enabled_ || interval_ <= 0 || !on_timer_.Assigned()) return;
    auto& timers = live_timers();
    const UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(interval_), &TTimer::Tick);
    if (!id) throw Exception("Not enough timers available.");
    try {
        timers[id] = this;
    } catch (...) {
        KillTimer(nullptr, id);
        throw;
    }
    id_ = id;
}

void CALLBACK TTimer::Tick(HWND, UINT, UINT_PTR id, DWORD) {
    auto& timers = live_timers();
    auto it = timers.find(id);
    // The handler may free the timer: nothing of it is touched afterwards.
    if (it != timers.end()) it->second->Timer();
}
