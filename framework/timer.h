// A component that fires OnTimer every Interval milliseconds on the thread
// that made it, from that thread's message loop.
#pragma once

#include "classes.h"

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    // Milliseconds; 0 or less means no ticks.
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    const TNotifyEvent& OnTimer() const { return on_timer_; }
    void SetOnTimer(const TNotifyEvent& handler);
    void SetOnTimer(TNotifyEvent::Function handler) { SetOnTimer(TNotifyEvent(std::move(handler))); }

    void Loaded() override;
    FW_CLASS_INFO();

protected:
    virtual void Timer();

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    // Arms the system timer when enabled, with an interval and a handler.
    void UpdateTimer();
    void Stop();

    bool enabled_ = true;
    int interval_ = 1000;
    TNotifyEvent on_timer_;
    UINT_PTR id_ = 0;
};
