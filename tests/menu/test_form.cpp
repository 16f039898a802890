// The menu's form on the headless screen, read from its resources over the
// demo disc: where every control sits after start-up, what it shows, and
// the display mode it takes and gives back.
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <string>

#include "Unit1.h"
#include "scratch_dir.h"
#include "ui_support.h"
#include "win32/gui_ext.h"

namespace {

// The UTF-8 text in code page 936, converted here independently of how the
// program's literals are compiled.
std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t in_left = utf8.size(), out_left = out.size();
    char* dst = out.data();
    iconv(cd, &in, &in_left, &dst, &out_left);
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

class MenuForm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterFormClasses(); }
    void SetUp() override {
        setenv("WIN32_AUDIO", "null", 1);
        ASSERT_TRUE(win32::reset_screen({1024, 768, 32}));
        ASSERT_EQ(chdir(KD_DISC_DIR), 0);
        Application->CreateForm(Form1);
        ui_test::pump();
    }
    void TearDown() override {
        Application->DestroyComponents();
        Form1 = nullptr;
    }
    testing_support::ScratchDrive drive_;
};

TEST_F(MenuForm, ControlsSitWhereTheMainPageWantsThem) {
    struct Place {
        const char* name;
        int left, top, width, height;
        TCursor cursor;
        bool visible;
    };
    const Place places[] = {
        {"ColorButton1", 145, 180, 173, 233, 2, true},   {"ColorButton2", 333, 180, 173, 233, 2, true},
        {"ColorButton3", 530, 422, 75, 35, 2, true},     {"ColorButton4", 410, 415, 97, 42, 2, false},
        {"ColorButton5", 520, 415, 97, 42, 2, false},    {"ColorButton6", 10, 62, 147, 112, 2, false},
        {"ColorButton7", 165, 62, 147, 112, 2, false},   {"ColorButton8", 320, 62, 147, 112, 2, false},
        {"ColorButton9", 475, 62, 147, 112, 3, false},   {"ColorButton10", 10, 176, 147, 112, 3, false},
        {"ColorButton13", 475, 176, 147, 112, 3, false}, {"ColorButton14", 10, 290, 147, 112, 3, false},
        {"ColorButton17", 475, 290, 147, 112, 3, false}, {"ColorButton18", 520, 420, 97, 42, 3, false},
        {"Label1", 60, 272, 54, 54, 0, true},            {"Label2", 537, 258, 54, 54, 0, true},
        {"AnalogClock1", 20, 425, 47, 47, 3, true},      {"LEDLabel1", 5, 200, 153, 90, 0, false},
        {"LEDLabel2", 200, 200, 102, 90, 0, false},      {"LEDLabel3", 345, 200, 102, 90, 0, false},
        {"LEDLabel4", 490, 200, 102, 90, 0, false},      {"LEDLabel5", 25, 220, 544, 120, 0, false},
    };
    for (const Place& p : places) {
        auto* c = dynamic_cast<TControl*>(Form1->FindComponent(p.name));
        ASSERT_NE(c, nullptr) << p.name;
        EXPECT_EQ(c->Left(), p.left) << p.name;
        EXPECT_EQ(c->Top(), p.top) << p.name;
        EXPECT_EQ(c->Width(), p.width) << p.name;
        EXPECT_EQ(c->Height(), p.height) << p.name;
        EXPECT_EQ(c->Cursor(), p.cursor) << p.name;
        EXPECT_EQ(c->Visible(), p.visible) << p.name;
    }
    EXPECT_EQ(Form1->Cursor(), 1);
    EXPECT_EQ(CurrentPage, MainPage);
}

TEST_F(MenuForm, TheProgramHoldsItsCursorsAndMainIcon) {
    for (const char* name : {"ARROW", "HAND", "HAND2"}) EXPECT_NE(LoadCursorA(HInstance, name), nullptr) << name;
    EXPECT_NE(LoadIconA(HInstance, "MAINICON"), nullptr);
}

TEST_F(MenuForm, HintsAreTheTextsInCodePage936) {
    const std::pair<TControl*, const char*> hints[] = {
        {Form1->ColorButton1, "Orvanth4"},
        {Form1->ColorButton2, "1999年4 - 6月桌布集"},
        {Form1->ColorButton3, "结束程序回到\nWindeows中"},
        {Form1->ColorButton4, "安装游戏\nOrvanth4"},
        {Form1->ColorButton5, "返回光盘主画面"},
        {Form1->ColorButton18, "返回光盘主画面"},
        {Form1->ColorButton6, ""},
    };
    for (const auto& [control, text] : hints) EXPECT_EQ(control->Hint(), Gbk(text)) << text;
    EXPECT_EQ(Form1->Caption(), Gbk("Kelvora1999年4月"));
    // Eight moves bring the mascot back to the same text.
    Form1->Label1MouseMove(nullptr, 0, 0, 0);
    const std::string first = Form1->Label1->Hint();
    EXPECT_EQ(first, Gbk("Orvanth4真好玩!!"));
    for (int i = 0; i < 8; ++i) Form1->Label1MouseMove(nullptr, 0, 0, 0);
    EXPECT_EQ(Form1->Label1->Hint(), first);
    for (int i = 0; i < 7; ++i) Form1->Label2MouseMove(nullptr, 0, 0, 0);
    EXPECT_EQ(Form1->Label2->Hint(), Gbk("一定要继续支持我们喔!"));
    Form1->Label2MouseMove(nullptr, 0, 0, 0);
    EXPECT_EQ(Form1->Label2->Hint(), Gbk("我是LUMA"));
}

TEST_F(MenuForm, TheDisplayIs640x480WhileTheMenuRunsAndComesBackAfter) {
    EXPECT_EQ(win32::screen_mode(), (win32::ScreenMode{640, 480, 32}));
    EXPECT_EQ(Form1->Width(), 640);
    EXPECT_EQ(Form1->Height(), 480);
    Application->DestroyComponents();
    Form1 = nullptr;
    EXPECT_EQ(win32::screen_mode(), (win32::ScreenMode{1024, 768, 32}));
}

// Pages 4 and 5 show their labels only; a click on the background or
// Esc or Space goes back; Esc and Space do nothing on the preview page.
TEST_F(MenuForm, KeysAndBackgroundClicksByPage) {
    uint16_t esc = VK_ESCAPE, space = VK_SPACE;
    Form1->ShowCountdownPage();
    EXPECT_TRUE(Form1->LEDLabel4->Visible());
    EXPECT_FALSE(Form1->ColorButton1->Visible());
    Form1->FormKeyDown(nullptr, space, 0);
    EXPECT_EQ(CurrentPage, MainPage);
    Form1->ShowSecondsPage();
    Form1->FormMouseUp(nullptr, mbMiddle, 0, 1, 1);
    EXPECT_EQ(CurrentPage, MainPage);
    Form1->ButtonMouseUp(9, mbRight);
    EXPECT_EQ(CurrentPage, PreviewPage);
    EXPECT_EQ(SelectedWallpaper, 4);
    Form1->FormKeyDown(nullptr, esc, 0);
    Form1->FormKeyDown(nullptr, space, 0);
    EXPECT_EQ(CurrentPage, PreviewPage);
    Form1->FormMouseUp(nullptr, mbRight, 0, 1, 1);
    EXPECT_EQ(CurrentPage, GalleryPage);
    EXPECT_EQ(SelectedWallpaper, 0);
    Form1->FormKeyDown(nullptr, esc, 0);  // nothing on the gallery
    Form1->ButtonMouseUp(18, mbRight);     // right button: nothing
    EXPECT_EQ(CurrentPage, GalleryPage);
    Form1->ButtonMouseUp(18, mbLeft);
    EXPECT_EQ(CurrentPage, MainPage);
}

}  // namespace
