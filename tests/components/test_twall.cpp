// The wallpaper changer: its timer on the thread's message loop, the file
// name rule, the registry values and the system call of one change, the
// failure path out of a tick, and the component in a form text.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Twall.h"
#include "registry.h"
#include "scratch_dir.h"
#include "streaming.h"
#include "timer.h"
#include "win32/kernel.h"
#include "win32/user.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr UINT kGetDeskWallpaper = 0x0073;
constexpr const char* kWall = "C:\\WINDOWS\\990401.bmp";
constexpr const char* kOtherWall = "C:\\WINDOWS\\990402.bmp";

bool g_watchdog_fired = false;
void CALLBACK watchdog(HWND, UINT, UINT_PTR, DWORD) { g_watchdog_fired = true; }

// Runs the message loop until `done` or `limit`. Errors that leave a
// handler are collected, as the application would show them.
std::vector<std::string> pump_until(const std::function<bool()>& done, milliseconds limit) {
    std::vector<std::string> errors;
    g_watchdog_fired = false;
    const UINT_PTR guard = SetTimer(nullptr, 0, static_cast<UINT>(limit.count()), watchdog);
    EXPECT_NE(guard, 0u);
    MSG msg;
    while (!done() && !g_watchdog_fired && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        try {
            DispatchMessageA(&msg);
        } catch (const std::exception& e) {
            errors.emplace_back(e.what());
        }
    }
    KillTimer(nullptr, guard);
    return errors;
}

bool timer_pending() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE) != 0;
}

void drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
}

std::string system_wallpaper() {
    char buffer[1024] = {};
    SystemParametersInfoA(kGetDeskWallpaper, sizeof buffer, buffer, 0);
    return buffer;
}

void set_system_wallpaper(const char* path) {
    std::string copy = path;
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, copy.data(), 0);
}

std::optional<std::string> desktop_value(const std::string& name) {
    TRegistry reg;
    if (!reg.OpenKey("\\Control Panel\\desktop", false) || !reg.ValueExists(name)) return std::nullopt;
    return reg.ReadString(name);
}

TTimer* owned_timer(TWallPaperChanger& changer) {
    for (int i = 0; i < changer.ComponentCount(); ++i)
        if (auto* t = dynamic_cast<TTimer*>(changer.Components(i))) return t;
    return nullptr;
}

// A drive C: with the desktop key, two wallpaper files and a known
// wallpaper in place.
class WallPaper : public testing::Test {
public:
    void SetUp() override {
        drain();
        for (const char* name : {"990401.bmp", "990402.bmp"}) std::ofstream(drive.windows() / name) << "BM";
        std::filesystem::create_directory(drive.windows() / "wall");
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Control Panel\\desktop", true));
        reg.WriteString("TileWallPaper", "1");
        set_system_wallpaper("C:\\before.bmp");
    }
    void TearDown() override { drain(); }

    // Writes fail from now on while reads still work: the registry's lock
    // file cannot be opened when a folder stands in its place.
    void break_registry_writes() {
        const auto lock = drive.windows() / "REGISTRY.LCK";
        std::filesystem::remove(lock);
        std::filesystem::create_directory(lock);
    }

    testing_support::ScratchDrive drive;
};

// Counts the changer's events and what the registry held at each.
struct Recorder {
    int begins = 0, finishes = 0;
    std::vector<TObject*> senders;
    std::optional<std::string> tile_at_begin, tile_at_finish, wallpaper_at_finish;

    void attach(TWallPaperChanger& c) {
        c.OnBeginChange = [this](TObject* sender) {
            ++begins;
            senders.push_back(sender);
            tile_at_begin = desktop_value("TileWallPaper");
        };
        c.OnFinishChange = [this](TObject* sender) {
            ++finishes;
            senders.push_back(sender);
            tile_at_finish = desktop_value("TileWallPaper");
            wallpaper_at_finish = desktop_value("Wallpaper");
        };
    }
};

// --- Construction and the timer ----------------------------------------------

TEST_F(WallPaper, StartsInactiveWithADisabledTimerOfItsOwn) {
    TWallPaperChanger changer(nullptr);
    EXPECT_FALSE(changer.Active());
    EXPECT_FALSE(changer.Tiled());
    EXPECT_EQ(changer.Interval(), 1000);
    EXPECT_EQ(changer.Filename(), "");
    EXPECT_FALSE(changer.OnBeginChange.Assigned());
    EXPECT_FALSE(changer.OnFinishChange.Assigned());
    TTimer* timer = owned_timer(changer);
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->Enabled());
    EXPECT_FALSE(timer->OnTimer().Assigned());
    EXPECT_EQ(timer->Interval(), 1000);

    changer.SetInterval(250);
    EXPECT_EQ(timer->Interval(), 250);
    changer.SetActive(true);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_TRUE(timer->OnTimer().Assigned());
    changer.SetActive(false);
    EXPECT_FALSE(timer->Enabled());
    EXPECT_FALSE(timer->OnTimer().Assigned());
}

TEST_F(WallPaper, FirstChangeComesOneIntervalAfterActivationThenRepeats) {
    TWallPaperChanger changer(nullptr);
    ASSERT_NO_THROW(changer.SetFilename(kWall));
    changer.SetInterval(300);
    Recorder rec;
    rec.attach(changer);
    std::vector<Clock::time_point> at;
    changer.OnBeginChange = [&](TObject*) { at.push_back(Clock::now()); };

    const auto start = Clock::now();
    changer.SetActive(true);
    // Not at once, and not before the interval is up.
    EXPECT_TRUE(at.empty());
    EXPECT_FALSE(timer_pending());

    auto errors = pump_until([&] { return at.size() >= 2; }, milliseconds(5000));
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[0] - start, milliseconds(300));
    EXPECT_LT(at[0] - start, milliseconds(3000));
    EXPECT_GE(at[1] - at[0], milliseconds(300));
    EXPECT_EQ(rec.finishes, 2);
    EXPECT_EQ(system_wallpaper(), kWall);
}

TEST_F(WallPaper, ActivatingTwiceKeepsTheRunningTimer) {
    TWallPaperChanger changer(nullptr);
    changer.SetInterval(100);
    changer.SetActive(true);
    Sleep(160);
    ASSERT_TRUE(timer_pending());
    // A restart would put the next tick another interval away.
    changer.SetActive(true);
    EXPECT_TRUE(timer_pending());
    EXPECT_TRUE(changer.Active());

    changer.SetActive(false);
    changer.SetActive(true);
    EXPECT_FALSE(timer_pending());
}

TEST_F(WallPaper, DeactivatingStopsFurtherChanges) {
    TWallPaperChanger changer(nullptr);
    changer.SetFilename(kWall);
    changer.SetInterval(40);
    int changes = 0;
    // As the menu does it: one change, then off.
    changer.OnFinishChange = [&](TObject* sender) {
        ++changes;
        static_cast<TWallPaperChanger*>(sender)->SetActive(false);
    };
    changer.SetActive(true);
    pump_until([] { return false; }, milliseconds(400));
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(changer.Active());
    EXPECT_FALSE(timer_pending());

    changer.SetActive(true);
    pump_until([&] { return changes == 2; }, milliseconds(3000));
    EXPECT_EQ(changes, 2);
}

TEST_F(WallPaper, WhileDesigningActiveOnlyRecordsAndAnyNameIsKept) {
    TWallPaperChanger changer(nullptr);
    changer.SetDesigning(true);
    changer.SetInterval(20);
    int changes = 0;
    changer.OnBeginChange = [&](TObject*) { ++changes; };
    changer.SetActive(true);
    EXPECT_TRUE(changer.Active());
    EXPECT_FALSE(owned_timer(changer)->Enabled());
    pump_until([] { return false; }, milliseconds(150));
    EXPECT_EQ(changes, 0);

    changer.SetFilename("C:\\nowhere\\missing.bmp");
    EXPECT_EQ(changer.Filename(), "C:\\nowhere\\missing.bmp");
    changer.SetFilename("");
    EXPECT_EQ(changer.Filename(), "");
}

// --- The file name -------------------------------------------------------------

TEST_F(WallPaper, OnlyTheNameOfAnExistingFileIsTaken) {
    struct Case {
        std::string name;
        bool taken;
        const char* what;
    } const cases[] = {
        {kWall, true, "an existing file"},
        {"C:\\windows\\990402.BMP", true, "found in another case, kept as written"},
        {"C:\\WINDOWS\\990499.bmp", false, "no such file"},
        {"C:\\WINDOWS\\wall", false, "a folder"},
        {"", false, "empty"},
        {std::string(kWall) + std::string(1, '\0') + "x", false, "a zero byte inside"},
        {std::string(5000, 'a'), false, "far too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TWallPaperChanger changer(nullptr);
        changer.SetFilename(kOtherWall);
        ASSERT_EQ(changer.Filename(), kOtherWall);
        changer.SetFilename(c.name);
        EXPECT_EQ(changer.Filename(), c.taken ? c.name : std::string(kOtherWall));
    }
}

// --- One change ----------------------------------------------------------------

TEST_F(WallPaper, AChangeWritesTheTileFlagFirstAndTheNameLast) {
    for (bool tiled : {false, true}) {
        SCOPED_TRACE(tiled ? "tiled" : "centred");
        {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey("\\Control Panel\\desktop", false));
            reg.WriteString("TileWallPaper", tiled ? "0" : "1");
            reg.WriteString("Wallpaper", "old.bmp");
        }
        TWallPaperChanger changer(nullptr);
        changer.SetFilename(kWall);
        changer.SetTiled(tiled);
        Recorder rec;
        rec.attach(changer);
        changer.SetInterval(20);
        changer.SetActive(true);
        pump_until([&] { return rec.finishes > 0; }, milliseconds(3000));
        changer.SetActive(false);

        ASSERT_EQ(rec.begins, 1);
        ASSERT_EQ(rec.finishes, 1);
        EXPECT_EQ(rec.senders, (std::vector<TObject*>{&changer, &changer}));
        EXPECT_EQ(rec.tile_at_begin, tiled ? "0" : "1");  // nothing written before the event
        EXPECT_EQ(rec.tile_at_finish, tiled ? "1" : "0");
        EXPECT_EQ(rec.wallpaper_at_finish, kWall);
        EXPECT_EQ(system_wallpaper(), kWall);
    }
}

TEST_F(WallPaper, TheBeginHandlerMayChooseTheFile) {
    TWallPaperChanger changer(nullptr);
    changer.SetFilename(kWall);
    changer.OnBeginChange = [&](TObject*) {
        changer.SetFilename(kOtherWall);
        changer.SetTiled(true);
    };
    changer.SetInterval(20);
    changer.SetActive(true);
    pump_until([] { return system_wallpaper() == kOtherWall; }, milliseconds(3000));
    changer.SetActive(false);
    EXPECT_EQ(system_wallpaper(), kOtherWall);
    EXPECT_EQ(desktop_value("Wallpaper"), kOtherWall);
    EXPECT_EQ(desktop_value("TileWallPaper"), "1");
}

TEST_F(WallPaper, AnEmptyNameIsPassedOnAsItIs) {
    TWallPaperChanger changer(nullptr);
    changer.SetInterval(20);
    int finishes = 0;
    changer.OnFinishChange = [&](TObject*) { ++finishes; };
    changer.SetActive(true);
    pump_until([&] { return finishes > 0; }, milliseconds(3000));
    changer.SetActive(false);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(system_wallpaper(), "");
    EXPECT_EQ(desktop_value("Wallpaper"), "");
    EXPECT_EQ(desktop_value("TileWallPaper"), "0");
}

TEST_F(WallPaper, TheSystemGetsAtMost255CharactersTheRegistryTheWholeName) {
    const std::string name = "C:\\" + std::string(300, 'w') + ".bmp";
    ApplyWallpaper(name, false);
    EXPECT_EQ(system_wallpaper(), name.substr(0, 255));
    EXPECT_EQ(desktop_value("Wallpaper"), name);

    ApplyWallpaper(kWall, true);
    EXPECT_EQ(system_wallpaper(), kWall);
    EXPECT_EQ(desktop_value("Wallpaper"), kWall);
}

TEST_F(WallPaper, ARegistryFailureRaisesBeforeTheSystemIsAsked) {
    struct Case {
        const char* what;
        std::function<void(WallPaper&)> breakage;
        bool key_left;
    } const cases[] = {
        {"no desktop key",
         // A registry that lacks the key (a new one has it).
         [](WallPaper& t) { std::ofstream(t.drive.windows() / "REGISTRY.TXT", std::ios::trunc).close(); },
         false},
        {"registry cannot be written", [](WallPaper& t) { t.break_registry_writes(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        c.breakage(*this);
        try {
            ApplyWallpaper(kWall, false);
            ADD_FAILURE() << "no error";
        } catch (const ERegistryException& e) {
            EXPECT_STREQ(e.what(), "Failed to set data for 'TileWallPaper'");
        }
        EXPECT_EQ(system_wallpaper(), "C:\\before.bmp");
        EXPECT_NE(desktop_value("Wallpaper"), kWall);
        // The key is opened, never made.
        EXPECT_EQ(TRegistry().KeyExists("\\Control Panel\\desktop"), c.key_left);
        std::filesystem::remove(drive.windows() / "REGISTRY.LCK");
    }
}

TEST_F(WallPaper, AFailedTickRaisesSkipsTheFinishEventAndStops) {
    TWallPaperChanger changer(nullptr);
    changer.SetFilename(kWall);
    changer.SetInterval(30);
    Recorder rec;
    rec.attach(changer);
    break_registry_writes();
    changer.SetActive(true);

    auto errors = pump_until([] { return false; }, milliseconds(400));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Failed to set data for 'TileWallPaper'");
    EXPECT_EQ(rec.begins, 1);
    EXPECT_EQ(rec.finishes, 0);
    // The error would be shown in a modal box whose loop ticks on: a failed
    // change must not come back every interval.
    EXPECT_FALSE(changer.Active());
    EXPECT_FALSE(timer_pending());
    EXPECT_EQ(system_wallpaper(), "C:\\before.bmp");

    // Once the registry is writable again, the changer works again.
    std::filesystem::remove(drive.windows() / "REGISTRY.LCK");
    changer.SetActive(true);
    errors = pump_until([&] { return rec.finishes > 0; }, milliseconds(3000));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(rec.finishes, 1);
    EXPECT_EQ(system_wallpaper(), kWall);
}

TEST_F(WallPaper, TheFinishHandlerMayFreeTheChanger) {
    auto* changer = new TWallPaperChanger(nullptr);
    changer->SetFilename(kWall);
    changer->SetInterval(20);
    int finishes = 0;
    changer->OnFinishChange = [&](TObject* sender) {
        ++finishes;
        delete static_cast<TWallPaperChanger*>(sender);
    };
    changer->SetActive(true);
    pump_until([] { return false; }, milliseconds(200));
    EXPECT_EQ(finishes, 1);
}

TEST_F(WallPaper, FreeingTheOwnerStopsTheTimer) {
    int changes = 0;
    {
        TComponent owner(nullptr);
        auto* changer = new TWallPaperChanger(&owner);
        changer->SetInterval(20);
        changer->OnBeginChange = [&](TObject*) { ++changes; };
        changer->SetActive(true);
    }
    Sleep(60);
    EXPECT_FALSE(timer_pending());
    pump_until([] { return false; }, milliseconds(100));
    EXPECT_EQ(changes, 0);
}

// --- Form text -------------------------------------------------------------------

class TWallForm : public TComponent {
public:
    explicit TWallForm(TComponent* owner = nullptr) : TComponent(owner) {}
    std::vector<std::string> calls;
    void WallFinished(TObject*) { calls.push_back("WallFinished"); }
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) const override {
        for (int i = 0; i < ComponentCount(); ++i) proc(Components(i));
    }
    FW_CLASS_INFO();
};

const ClassInfo& TWallForm::StaticClassInfo() {
    static const MethodInfo methods[] = {props::Method<&TWallForm::WallFinished>("WallFinished")};
    static const ClassInfo info{"TWallForm", &TComponent::StaticClassInfo(), TComponent::StaticClassInfo().props,
                                methods, {}};
    return info;
}

TEST_F(WallPaper, FormTextWritesEveryPropertyInOrderAndReadsBack) {
    TWallForm form;
    form.SetName("Form1");
    auto* changer = new TWallPaperChanger(&form);
    changer->SetName("WallPaperChanger1");
    // Values equal to the constructed ones are written all the same.
    EXPECT_EQ(WriteComponentToText(&form),
              "object Form1: TWallForm\n"
              "  object WallPaperChanger1: TWallPaperChanger\n"
              "    Active = False\n"
              "    Tiled = False\n"
              "    Interval = 1000\n"
              "  end\n"
              "end\n");

    changer->SetTiled(true);
    changer->SetInterval(2500);
    changer->SetFilename(kWall);
    changer->OnFinishChange.Bind(&form, &TWallForm::WallFinished, "WallFinished");
    changer->SetActive(true);
    const std::string text = WriteComponentToText(&form);
    EXPECT_EQ(text,
              "object Form1: TWallForm\n"
              "  object WallPaperChanger1: TWallPaperChanger\n"
              "    Active = True\n"
              "    Tiled = True\n"
              "    Interval = 2500\n"
              "    Filename = 'C:\\WINDOWS\\990401.bmp'\n"
              "    OnFinishChange = WallFinished\n"
              "  end\n"
              "end\n");
    delete changer;

    TWallForm copy;
    ReadComponentFromText(text, &copy);
    auto* read = dynamic_cast<TWallPaperChanger*>(copy.FindComponent("WallPaperChanger1"));
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(read->Active());
    EXPECT_TRUE(read->Tiled());
    EXPECT_EQ(read->Interval(), 2500);
    EXPECT_EQ(read->Filename(), kWall);
    EXPECT_FALSE(read->OnBeginChange.Assigned());
    ASSERT_TRUE(read->OnFinishChange.Assigned());
    // Read active, it runs with the interval read after it.
    TTimer* timer = owned_timer(*read);
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 2500);
    read->OnFinishChange(read);
    EXPECT_EQ(copy.calls, std::vector<std::string>{"WallFinished"});
    EXPECT_EQ(WriteComponentToText(&copy), text);
}

TEST_F(WallPaper, FormTextNamingAMissingFileKeepsTheNameEmpty) {
    TWallForm form;
    ReadComponentFromText("object Form1: TWallForm\n"
                          "  object WallPaperChanger1: TWallPaperChanger\n"
                          "    Interval = -5\n"
                          "    Filename = 'C:\\WINDOWS\\gone.bmp'\n"
                          "  end\n"
                          "end\n",
                          &form);
    auto* read = dynamic_cast<TWallPaperChanger*>(form.FindComponent("WallPaperChanger1"));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Filename(), "");
    EXPECT_EQ(read->Interval(), -5);
    EXPECT_FALSE(read->Active());
    EXPECT_FALSE(read->Tiled());
}

TEST_F(WallPaper, BadFormTextRaisesAReadError) {
    const char* const texts[] = {
        "object Form1: TWallForm\n  object W: TWallPaperChanger\n    Active = 3\n  end\nend\n",
        "object Form1: TWallForm\n  object W: TWallPaperChanger\n    Interval = 'x'\n  end\nend\n",
        "object Form1: TWallForm\n  object W: TWallPaperChanger\n    OnBeginChange = NoSuchMethod\n  end\nend\n",
        "object Form1: TWallForm\n  object W: TWallPaperChanger\n    Interval = 99999999999\n  end\nend\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        TWallForm form;
        EXPECT_THROW(ReadComponentFromText(text, &form), EReadError);
        EXPECT_EQ(form.ComponentCount(), 0);
    }
}

}  // namespace
