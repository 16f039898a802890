// The application object on a headless screen: the message loop and its idle
// handler, Terminate, exception display, form creation and the hints.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "forms.h"
#include "win32/gui_ext.h"
#include "win32/kernel_ext.h"
#include "ui_support.h"

namespace {

using namespace ui_test;

using Clock = std::chrono::steady_clock;

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Runs the loop's message handling until `done` or the time-out.
template <class F>
bool pump_until(F done, int timeout_ms = 3000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        pump();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

void click(int x, int y) {
    win32::post_mouse_button(win32::MouseButton::Left, true, x, y);
    win32::post_mouse_button(win32::MouseButton::Left, false, x, y);
}

void CALLBACK terminate_proc(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Application->Terminate();
}

// A graphic control to hover and click.
class Spot : public TGraphicControl {
public:
    Spot(TComponent* owner, TColor color) : TGraphicControl(owner) { SetColor(color); }

protected:
    void Paint() override {
        Canvas()->Brush()->SetColor(Color());
        Canvas()->FillRect(ClientRect());
    }
};

// A hint window of another kind: its own colour, and it counts its shows.
class MarkedHint : public THintWindow {
public:
    using THintWindow::THintWindow;
    static inline int activations = 0;
    void ActivateHint(const TRect& rect, const std::string& text) override {
        ++activations;
        THintWindow::ActivateHint(rect, text);
    }

protected:
    void Paint() override {
        Canvas()->Brush()->SetColor(clFuchsia);
        Canvas()->FillRect(ClientRect());
    }
};

class App : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(win32::reset_screen({320, 240, 32}));
        Application->SetTitle("Test Title");
        Application->SetHintPause(100);
        Application->SetHintHidePause(5000);
        Application->OnIdle.Clear();
        Application->OnException.Clear();
    }
    void TearDown() override {
        Application->CancelHint();
        Application->DestroyComponents();
        pump();
    }

    // A borderless form owned by the application with two spots: one with
    // a hint, one without.
    TForm* make_form() {
        Application->CreateForm(form);
        form->SetBorderStyle(bsNone);
        form->SetBounds(0, 0, 240, 180);
        form->SetColor(clWhite);
        form->SetShowHint(true);
        hinted = new Spot(form, clGreen);
        hinted->SetBounds(20, 20, 60, 60);
        hinted->SetHint("Hello");
        hinted->SetParent(form);
        plain = new Spot(form, clBlue);
        plain->SetBounds(120, 20, 60, 60);
        plain->SetShowHint(false);
        plain->SetHint("never shown");
        plain->SetParent(form);
        form->Show();
        pump();
        return form;
    }

    TForm* form = nullptr;
    Spot* hinted = nullptr;
    Spot* plain = nullptr;
};

TEST_F(App, TheIdleHandlerRunsWhileItLeavesDoneFalseAndTheLoopSleepsOtherwise) {
    // CPU time over wall time of a 300 ms run, ended by a timer. The
    // machine may be busy with other work, so the bounds are loose and the
    // two runs are compared with each other.
    struct Run {
        int calls = 0;
        double busy = 0;
    };
    auto run = [](bool leave_done) {
        Run r;
        Application->OnIdle = [&](TObject* sender, bool& done) {
            EXPECT_EQ(sender, Application);
            ++r.calls;
            done = leave_done;
        };
        EXPECT_NE(SetTimer(nullptr, 0, 300, &terminate_proc), 0u);
        const double cpu0 = cpu_seconds();
        const auto wall0 = Clock::now();
        Application->Run();
        const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
        r.busy = (cpu_seconds() - cpu0) / wall;
        EXPECT_TRUE(Application->Terminated());
        EXPECT_GE(wall, 0.25);
        return r;
    };
    const Run spinning = run(false);
    const Run sleeping = run(true);
    EXPECT_GT(spinning.calls, 100) << "called over and over";
    EXPECT_LE(sleeping.calls, 5) << "called again only when a message came";
    EXPECT_GE(spinning.busy, 0.15);
    EXPECT_LE(sleeping.busy, 0.1);
    EXPECT_GT(spinning.busy, 5 * sleeping.busy);
}

TEST_F(App, TerminateEndsRunAlsoWhenItCameBefore) {
    int calls = 0;
    Application->OnIdle = [&](TObject*, bool& done) {
        if (++calls == 3) Application->Terminate();
        done = false;
    };
    Application->Run();
    EXPECT_GE(calls, 3);
    EXPECT_LE(calls, 5);
    // A quit posted before the loop starts (a failed start) ends it at once,
    // without showing the main form.
    TForm* form = nullptr;
    Application->CreateForm(form);
    calls = 0;
    Application->Terminate();
    Application->Run();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->HandleAllocated() && IsWindowVisible(form->Handle()));
}

struct ShownBox {
    std::string text, caption;
    UINT type;
};

// Message boxes recorded instead of shown. Once installed it stays for the
// rest of the process, so the test of the real dialog checks for it.
std::vector<ShownBox> boxes;
bool box_recorder_installed = false;

void record_message_boxes() {
    boxes.clear();
    box_recorder_installed = true;
    win32::set_message_box_handler([](HWND, const char* text, const char* caption, UINT type) {
        boxes.push_back({text, caption, type});
        return IDOK;
    });
}

TEST_F(App, TheExceptionBoxIsTheWindowSystemsDialogAnsweredFromTheQueue) {
    if (box_recorder_installed) GTEST_SKIP() << "message boxes are recorded in this process";
    make_form();
    hinted->OnClick = [](TObject*) { throw Exception("Disk is full"); };
    // The box takes the activation from the form while it is up.
    std::string active_caption;
    form->OnDeactivate = [&](TObject*) {
        char text[64] = {};
        GetWindowTextA(GetActiveWindow(), text, sizeof text);
        active_caption = text;
    };
    win32::queue_message_box_answer(IDOK);
    click(30, 30);
    pump();
    EXPECT_EQ(active_caption, "Test Title");
    EXPECT_TRUE(IsWindowEnabled(form->Handle()));
    EXPECT_EQ(win32::top_level_windows().front(), form->Handle()) << "the box is gone again";
}

TEST_F(App, AnExceptionInAHandlerIsShownInAMessageBoxAndTheLoopGoesOn) {
    record_message_boxes();
    make_form();
    int clicks = 0;
    hinted->OnClick = [&](TObject*) {
        ++clicks;
        throw Exception("Disk is full");
    };
    plain->OnClick = [&](TObject*) { ++clicks; };
    int idle_throws = 1;
    Application->OnIdle = [&](TObject*, bool& done) {
        done = false;
        if (idle_throws > 0) {
            --idle_throws;
            throw std::runtime_error("Idle went wrong");
        }
        if (!win32::input_pending() && clicks == 2) Application->Terminate();
    };
    click(30, 30);
    click(130, 30);
    Application->Run();
    EXPECT_EQ(clicks, 2) << "the second click came after the first one failed";
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Disk is full");
    EXPECT_EQ(boxes[1].text, "Idle went wrong");
    for (const ShownBox& b : boxes) {
        EXPECT_EQ(b.caption, "Test Title");
        EXPECT_EQ(b.type & 0xF0u, MB_ICONHAND);
    }

    // With a handler of its own the application shows nothing.
    boxes.clear();
    std::string seen;
    Application->OnException = [&](TObject* sender, const std::exception& e) {
        EXPECT_EQ(sender, form) << "the window the message came to";
        seen = e.what();
    };
    click(30, 30);
    pump();
    EXPECT_EQ(seen, "Disk is full");
    EXPECT_TRUE(boxes.empty());
}

class CreatedForm : public TForm {
public:
    explicit CreatedForm(TComponent* owner) : TForm(owner) {
        width_set_by_constructor = 640;
        OnCreate = [this](TObject*) {
            seen_width = width_set_by_constructor;
            seen_self = self_ref;
            if (fail) throw Exception("Create failed");
        };
    }
    int width_set_by_constructor = 0;
    int seen_width = 0;
    CreatedForm* seen_self = nullptr;
    static inline CreatedForm* self_ref = nullptr;
    static inline bool fail = false;
};

TEST_F(App, CreateFormRunsOnCreateAfterTheConstructorWithTheReferenceSet) {
    record_message_boxes();
    CreatedForm::fail = false;
    Application->CreateForm(CreatedForm::self_ref);
    CreatedForm* first = CreatedForm::self_ref;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->seen_width, 640);
    EXPECT_EQ(first->seen_self, first);
    EXPECT_EQ(Application->MainForm(), first);
    // A failing OnCreate is shown, and the form stays.
    CreatedForm::fail = true;
    Application->CreateForm(CreatedForm::self_ref);
    EXPECT_NE(CreatedForm::self_ref, first);
    EXPECT_EQ(Application->MainForm(), first) << "the first form stays the main one";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Create failed");
    // Run shows the main form; closing it ends the loop.
    bool shown_in_loop = false;
    Application->OnIdle = [&](TObject*, bool& done) {
        shown_in_loop = IsWindowVisible(first->Handle());
        first->Close();
        done = true;
    };
    Application->Run();
    EXPECT_TRUE(shown_in_loop);
    EXPECT_TRUE(Application->Terminated());
}

// A derived form's OnDestroy handler runs while the derived part still
// exists, whether the application or another owner frees the form.
class TornDownForm : public TForm {
public:
    explicit TornDownForm(TComponent* owner) : TForm(owner) {
        OnDestroy.Bind(this, &TornDownForm::FormDestroy);
    }
    ~TornDownForm() override { whole = false; }
    void FormDestroy(TObject*) { seen_whole.push_back(whole); }
    bool whole = true;
    static inline std::vector<bool> seen_whole;
};

TEST_F(App, OnDestroyOfADerivedFormSeesTheWholeForm) {
    TornDownForm::seen_whole.clear();
    TornDownForm* by_application = nullptr;
    Application->CreateForm(by_application);
    Application->DestroyComponents();
    auto owner = std::make_unique<TComponent>(nullptr);
    (new TornDownForm(owner.get()))->AfterConstruction();
    owner.reset();
    EXPECT_EQ(TornDownForm::seen_whole, (std::vector<bool>{true, true}));
}

// --- Hints --------------------------------------------------------------------

bool hint_showing() { return Application->HintShowing(); }

TEST_F(App, AHintAppearsAfterThePauseAndGoesOnClickOrWhenTheMouseLeaves) {
    make_form();
    win32::post_mouse_move(40, 40);
    const auto start = Clock::now();
    pump();
    EXPECT_FALSE(hint_showing()) << "not before the pause";
    ASSERT_TRUE(pump_until(hint_showing));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
    THintWindow* hint = Application->HintWindow();
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->Caption(), "Hello");
    RECT r;
    ASSERT_TRUE(GetWindowRect(hint->Handle(), &r));
    EXPECT_GT(r.top, 40) << "below the cursor";
    EXPECT_EQ(win32::top_level_windows().front(), hint->Handle()) << "on top";
    EXPECT_EQ(win32::screen_pixel(r.left + 1, r.bottom - 2), rgb_of(clInfoBk));

    // A click hides it.
    click(40, 40);
    pump();
    EXPECT_FALSE(hint_showing());
    EXPECT_FALSE(IsWindowVisible(hint->Handle()) && hint->HandleAllocated());

    // Resting again shows it again; moving to a control without hints hides it.
    win32::post_mouse_move(41, 41);
    ASSERT_TRUE(pump_until(hint_showing));
    win32::post_mouse_move(130, 30);
    pump();
    EXPECT_FALSE(hint_showing());
    pump_until([] { return false; }, 250);
    EXPECT_FALSE(hint_showing()) << "that control shows no hint";

    // Off the form onto the desktop no control hears of the move; the
    // loop's idle time notices.
    win32::post_mouse_move(40, 40);
    ASSERT_TRUE(pump_until(hint_showing));
    win32::post_mouse_move(300, 200);
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    Application->OnIdle = [&](TObject*, bool& done) {
        done = false;
        if (!hint_showing() || Clock::now() > deadline) Application->Terminate();
    };
    Application->Run();
    EXPECT_FALSE(hint_showing());
}

TEST_F(App, AChangedHintTextShowsAtTheNextMouseMove) {
    make_form();
    win32::post_mouse_move(40, 40);
    ASSERT_TRUE(pump_until(hint_showing));
    hinted->SetHint("World");
    pump();
    EXPECT_EQ(Application->HintWindow()->Caption(), "Hello");
    win32::post_mouse_move(41, 40);
    pump();
    ASSERT_TRUE(hint_showing());
    EXPECT_EQ(Application->HintWindow()->Caption(), "World");
    // Cleared text: nothing to show.
    hinted->SetHint("");
    win32::post_mouse_move(42, 40);
    pump();
    EXPECT_FALSE(hint_showing());
}

TEST_F(App, ASwappedHintWindowClassTakesEffectOnTheNextHint) {
    make_form();
    MarkedHint::activations = 0;
    win32::post_mouse_move(40, 40);
    ASSERT_TRUE(pump_until(hint_showing));
    THintWindow* standard = Application->HintWindow();
    Application->SetHintWindowClass([](TComponent* owner) { return new MarkedHint(owner); });
    EXPECT_EQ(Application->HintWindow(), standard) << "the showing hint stays as it is";
    EXPECT_EQ(dynamic_cast<MarkedHint*>(Application->HintWindow()), nullptr);
    win32::post_mouse_move(130, 30);
    pump();
    win32::post_mouse_move(40, 40);
    ASSERT_TRUE(pump_until(hint_showing));
    auto* marked = dynamic_cast<MarkedHint*>(Application->HintWindow());
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(MarkedHint::activations, 1);
    RECT r;
    ASSERT_TRUE(GetWindowRect(marked->Handle(), &r));
    EXPECT_EQ(win32::screen_pixel(r.left + 2, r.top + 2), rgb_of(clFuchsia));
    // And back to the standard one.
    Application->SetHintWindowClass(nullptr);
    click(40, 40);
    win32::post_mouse_move(41, 41);
    ASSERT_TRUE(pump_until(hint_showing));
    EXPECT_EQ(dynamic_cast<MarkedHint*>(Application->HintWindow()), nullptr);
    EXPECT_EQ(MarkedHint::activations, 1);
}

TEST_F(App, TheShowHintSwitchFreesAndRemakesTheHintWindow) {
    make_form();
    win32::post_mouse_move(40, 40);
    ASSERT_TRUE(pump_until(hint_showing));
    Application->SetShowHint(false);
    EXPECT_EQ(Application->HintWindow(), nullptr);
    EXPECT_FALSE(hint_showing());
    win32::post_mouse_move(41, 41);
    pump_until([] { return false; }, 250);
    EXPECT_FALSE(hint_showing()) << "no hints while switched off";
    // Switching on makes a window of the class set meanwhile, in the hint colour.
    Application->SetHintWindowClass([](TComponent* owner) { return new MarkedHint(owner); });
    Application->SetHintColor(clLime);
    Application->SetShowHint(true);
    ASSERT_NE(dynamic_cast<MarkedHint*>(Application->HintWindow()), nullptr);
    EXPECT_EQ(Application->HintWindow()->Color(), clLime);
    Application->SetHintWindowClass(nullptr);
    Application->SetHintColor(clInfoBk);
}

}  // namespace

namespace {

// The same run driven the way a headless session is: an input script, and
// the application's own loop, which the script's "quit" ends.
TEST_F(App, AScriptedRunReachesTheRightControlsInOrder) {
    make_form();
    plain->SetEnabled(false);
    std::vector<std::string> seen;
    auto watch = [&](Spot* spot, const std::string& name) {
        spot->OnMouseDown = [&seen, name](TObject*, TMouseButton, TShiftState, int x, int y) {
            seen.push_back(name + " down " + std::to_string(x) + "," + std::to_string(y));
        };
        spot->OnMouseUp = [&seen, name](TObject*, TMouseButton, TShiftState, int, int) { seen.push_back(name + " up"); };
        spot->OnClick = [&seen, name](TObject*) { seen.push_back(name + " click"); };
    };
    watch(hinted, "hinted");
    watch(plain, "plain");
    form->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int x, int y) {
        seen.push_back("form down " + std::to_string(x) + "," + std::to_string(y));
    };
    ASSERT_TRUE(win32::start_script("move 25 27\nclick left 25 27\nclick left 130 30\nwait 20\nquit"));
    Application->Run();
    win32::wait_script();
    // The disabled spot passes its press to the form beneath it.
    EXPECT_EQ(seen, (std::vector<std::string>{"hinted down 5,7", "hinted up", "hinted click", "form down 130,30"}));
}

}  // namespace
