// The timer component on the thread's message loop, and the registry object
// on the stand-in's registry.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "registry.h"
#include "scratch_dir.h"
#include "streaming.h"
#include "timer.h"
#include "win32/kernel.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool g_watchdog_fired = false;
void CALLBACK watchdog(HWND, UINT, UINT_PTR, DWORD) { g_watchdog_fired = true; }

// Runs the message loop as an application would, until `done` or `limit`.
void pump_until(const std::function<bool()>& done, milliseconds limit) {
    g_watchdog_fired = false;
    const UINT_PTR guard = SetTimer(nullptr, 0, static_cast<UINT>(limit.count()), watchdog);
    ASSERT_NE(guard, 0u);
    MSG msg;
    while (!done() && !g_watchdog_fired && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    KillTimer(nullptr, guard);
}

bool timer_pending() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE) != 0;
}

class Timer : public testing::Test {
protected:
    void SetUp() override { drain(); }
    void TearDown() override { drain(); }
    static void drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    }
};

struct Tick {
    DWORD thread;
    Clock::duration since_start;
};

TEST_F(Timer, TicksOnTheLoopThreadAndNotBeforeTheInterval) {
    TComponent owner(nullptr);
    auto* timer = new TTimer(&owner);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 1000);
    timer->SetInterval(60);
    std::vector<Tick> ticks;
    std::vector<TObject*> senders;
    const auto start = Clock::now();
    timer->SetOnTimer([&](TObject* sender) {
        ticks.push_back({GetCurrentThreadId(), Clock::now() - start});
        senders.push_back(sender);
    });
    // Nothing runs while the thread does not take its messages.
    Sleep(150);
    EXPECT_TRUE(ticks.empty());

    pump_until([&] { return ticks.size() >= 3; }, milliseconds(3000));
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_GE(ticks[0].since_start, milliseconds(60));
    for (const Tick& t : ticks) EXPECT_EQ(t.thread, GetCurrentThreadId());
    EXPECT_EQ(senders, (std::vector<TObject*>(3, timer)));
}

TEST_F(Timer, ArmedOnlyWhenEnabledWithAnIntervalAndAHandler) {
    struct Case {
        const char* what;
        std::function<void(TTimer&)> setup;
        bool armed;
    };
    auto handler = [](TObject*) {};
    const Case cases[] = {
        {"enabled with handler", [&](TTimer& t) { t.SetOnTimer(handler); }, true},
        {"disabled", [&](TTimer& t) { t.SetOnTimer(handler); t.SetEnabled(false); }, false},
        {"interval 0", [&](TTimer& t) { t.SetOnTimer(handler); t.SetInterval(0); }, false},
        {"negative interval", [&](TTimer& t) { t.SetOnTimer(handler); t.SetInterval(-5); }, false},
        {"no handler", [&](TTimer&) {}, false},
        {"handler taken away", [&](TTimer& t) { t.SetOnTimer(handler); t.SetOnTimer(nullptr); }, false},
        {"enabled again", [&](TTimer& t) { t.SetEnabled(false); t.SetOnTimer(handler); t.SetEnabled(true); }, true},
        {"interval back", [&](TTimer& t) { t.SetOnTimer(handler); t.SetInterval(0); t.SetInterval(20); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        drain();
        {
            TTimer timer(nullptr);
            timer.SetInterval(20);
            c.setup(timer);
            Sleep(60);
            EXPECT_EQ(timer_pending(), c.armed);
        }
        // Freeing the component stops its timer.
        drain();
        Sleep(60);
        EXPECT_FALSE(timer_pending());
    }
}

TEST_F(Timer, DisablingStopsTheTicksAndEnablingResumesThem) {
    TTimer timer(nullptr);
    timer.SetInterval(30);
    int count = 0;
    timer.SetOnTimer([&](TObject*) {
        ++count;
        timer.SetEnabled(false);
    });
    pump_until([&] { return false; }, milliseconds(300));
    EXPECT_EQ(count, 1);
    timer.SetEnabled(true);
    pump_until([&] { return count == 2; }, milliseconds(2000));
    EXPECT_EQ(count, 2);
}

TEST_F(Timer, ChangingTheIntervalRearmsFromNow) {
    TTimer timer(nullptr);
    int count = 0;
    timer.SetOnTimer([&](TObject*) { ++count; });  // 1000 ms
    pump_until([&] { return false; }, milliseconds(100));
    const auto changed = Clock::now();
    timer.SetInterval(80);
    pump_until([&] { return count > 0; }, milliseconds(700));
    ASSERT_EQ(count, 1);
    EXPECT_GE(Clock::now() - changed, milliseconds(80));
}

TEST_F(Timer, AHandlerMayFreeItsTimer) {
    auto* timer = new TTimer(nullptr);
    timer->SetInterval(20);
    int count = 0;
    timer->SetOnTimer([&](TObject* sender) {
        ++count;
        delete static_cast<TTimer*>(sender);
    });
    pump_until([&] { return false; }, milliseconds(200));
    EXPECT_EQ(count, 1);
}

// The application's loop shows a handler's error and carries on.
TEST_F(Timer, AHandlersErrorReachesTheLoopAndTheTimerGoesOn) {
    TTimer timer(nullptr);
    timer.SetInterval(20);
    int count = 0;
    timer.SetOnTimer([&](TObject*) {
        if (++count == 1) throw ERegistryException("Failed to set data for 'Wallpaper'");
    });
    std::vector<std::string> shown;
    g_watchdog_fired = false;
    const UINT_PTR guard = SetTimer(nullptr, 0, 2000, watchdog);
    MSG msg;
    while (count < 2 && !g_watchdog_fired && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        try {
            DispatchMessageA(&msg);
        } catch (const Exception& e) {
            shown.push_back(e.what());
        }
    }
    KillTimer(nullptr, guard);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(shown, (std::vector<std::string>{"Failed to set data for 'Wallpaper'"}));
}

// A form that owns a timer from its text and handles its ticks.
class TTimerForm : public TComponent {
public:
    using TComponent::TComponent;
    TTimer* Timer1 = nullptr;
    int ticks = 0;
    void Timer1Timer(TObject* sender) {
        if (sender == Timer1) ++ticks;
    }
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const override {
        for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
    }
    FW_CLASS_INFO();
};

const ClassInfo& TTimerForm::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&TTimerForm::Timer1Timer>("Timer1Timer")};
    static const FieldInfo fields[] = {props::Field<&TTimerForm::Timer1>("Timer1")};
    static const ClassInfo info{"TTimerForm", &TComponent::StaticClassInfo(), TComponent::StaticClassInfo().props,
                                methods, fields};
    return info;
}

TEST_F(Timer, ReadFromAFormItTicksIntoTheFormsMethod) {
    RegisterClass(TTimer::StaticClassInfo());
    TTimerForm form(nullptr);
    const std::string text = "object Form1: TTimerForm\n"
                             "  object Timer1: TTimer\n"
                             "    Interval = 30\n"
                             "    OnTimer = Timer1Timer\n"
                             "  end\n"
                             "end\n";
    ReadComponentFromText(text, &form);
    ASSERT_NE(form.Timer1, nullptr);
    pump_until([&] { return form.ticks >= 2; }, milliseconds(2000));
    EXPECT_EQ(form.ticks, 2);
    EXPECT_EQ(WriteComponentToText(&form), text);  // Enabled True is the default
}

// --- Registry -------------------------------------------------------------------

class Registry : public testing::Test {
protected:
    testing_support::ScratchDrive drive_;
};

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "(no error)";
}

TEST_F(Registry, WritesAndReadsBackStrings) {
    const std::vector<std::string> values = {"C:\\WINDOWS\\990401.bmp", "", "it's \"quoted\"",
                                             "\xC4\xE3\xBA\xC3 = [x]\r\nline"};
    {
        TRegistry reg;
        EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
        ASSERT_TRUE(reg.OpenKey("\\Control Panel\\desktop", true));
        EXPECT_EQ(reg.CurrentPath(), "Control Panel\\desktop");
        for (size_t i = 0; i < values.size(); ++i) reg.WriteString("V" + std::to_string(i), values[i]);
        reg.WriteString("V0", values[0]);  // rewriting is fine
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Control Panel\\desktop", false));
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_TRUE(reg.ValueExists("V" + std::to_string(i)));
        EXPECT_EQ(reg.ReadString("V" + std::to_string(i)), values[i]);
    }
    EXPECT_FALSE(reg.ValueExists("Missing"));
}

TEST_F(Registry, RelativeAndAbsolutePaths) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software", true));
    ASSERT_TRUE(reg.OpenKey("Maker\\Menu", true));  // under Software
    EXPECT_EQ(reg.CurrentPath(), "Software\\Maker\\Menu");
    reg.WriteString("Disc", "D:");
    EXPECT_TRUE(reg.KeyExists("\\Software\\Maker"));
    EXPECT_FALSE(reg.KeyExists("\\Maker"));
    ASSERT_TRUE(reg.OpenKey("\\Software", false));  // from the root again
    EXPECT_EQ(reg.CurrentPath(), "Software");
    EXPECT_FALSE(reg.OpenKey("Menu", false));       // Software\Menu does not exist
    EXPECT_EQ(reg.CurrentPath(), "Software");       // and the open key stays
    ASSERT_TRUE(reg.OpenKey("Maker\\Menu", false));
    EXPECT_EQ(reg.ReadString("Disc"), "D:");
    reg.CloseKey();
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    EXPECT_EQ(reg.CurrentPath(), "");
}

TEST_F(Registry, FailuresRaiseTheRegistryError) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey("\\No\\Such\\Key", false));
    EXPECT_FALSE(reg.KeyExists("\\No"));
    EXPECT_EQ(error_of([&] { reg.ReadString("Wallpaper"); }), "Failed to get data for 'Wallpaper'");
    EXPECT_EQ(error_of([&] { reg.WriteString("Wallpaper", "x"); }), "Failed to set data for 'Wallpaper'");
    EXPECT_FALSE(reg.ValueExists("Wallpaper"));

    ASSERT_TRUE(reg.OpenKey("\\Control Panel\\desktop", true));
    EXPECT_EQ(error_of([&] { reg.ReadString("Wallpaper"); }), "Failed to get data for 'Wallpaper'");
    const DWORD number = 1;
    ASSERT_EQ(RegSetValueExA(reg.CurrentKey(), "Tile", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number),
              ERROR_SUCCESS);
    EXPECT_EQ(error_of([&] { reg.ReadString("Tile"); }), "Invalid data type for 'Tile'");

    // Another root is another tree.
    TRegistry other;
    other.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(other.RootKey(), HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(other.KeyExists("\\Control Panel\\desktop"));
}

TEST_F(Registry, StoredStringsNeedNotEndInAZero) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Test", true));
    const char raw[] = {'a', 'b', 'c'};
    ASSERT_EQ(RegSetValueExA(reg.CurrentKey(), "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), 3),
              ERROR_SUCCESS);
    EXPECT_EQ(reg.ReadString("Raw"), "abc");
    const char cut[] = {'a', 0, 'b', 0};
    ASSERT_EQ(RegSetValueExA(reg.CurrentKey(), "Cut", 0, REG_SZ, reinterpret_cast<const BYTE*>(cut), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(reg.ReadString("Cut"), "a");
    ASSERT_EQ(RegSetValueExA(reg.CurrentKey(), "Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(reg.ReadString("Empty"), "");
}

}  // namespace
