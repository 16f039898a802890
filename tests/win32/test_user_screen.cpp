// Cursors, the drawn message box and the headless input script driving a
// small program end to end.
#include <png.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "scratch_dir.h"
#include "test_user_support.h"

namespace {

using namespace user_test;

// A 32x32 monochrome .CUR file: an 8x8 black square at (4, 4), a white
// pixel at (20, 20), transparent elsewhere; hot spot (5, 6).
std::vector<uint8_t> cursor_file() {
    std::vector<uint8_t> f;
    auto u16 = [&](unsigned v) { f.insert(f.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    u16(0); u16(2); u16(1);                   // reserved, type, count
    f.insert(f.end(), {32, 32, 2, 0});        // width, height, colours, reserved
    u16(5); u16(6);                           // hot spot
    u32(40 + 8 + 128 + 128); u32(22);         // size, offset
    u32(40); u32(32); u32(64); u16(1); u16(1);  // header: 32 x (2 * 32), 1 bit
    for (int i = 0; i < 6; ++i) u32(0);
    u32(0); u32(0x00FFFFFF);                  // black, white
    std::vector<uint8_t> xor_mask(128, 0), and_mask(128, 0xFF);
    auto row = [](int y) { return size_t(31 - y) * 4; };  // bottom-up
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x) and_mask[row(y) + size_t(x / 8)] &= uint8_t(~(0x80 >> (x % 8)));
    and_mask[row(20) + 2] &= uint8_t(~(0x80 >> 4));
    xor_mask[row(20) + 2] |= uint8_t(0x80 >> 4);
    f.insert(f.end(), xor_mask.begin(), xor_mask.end());
    f.insert(f.end(), and_mask.begin(), and_mask.end());
    return f;
}

const HINSTANCE kProgram = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));

// A .ICO file: one 16x16 image of 4 bits.
std::vector<uint8_t> icon_file() {
    std::vector<uint8_t> f = {0, 0, 1, 0, 1, 0, 16, 16, 16, 0, 1, 0, 4, 0};
    const uint32_t size = 40 + 16 * 4 + 16 * 8 + 16 * 4;
    for (uint32_t v : {size, 22u})
        for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
    std::vector<uint8_t> image(size, 0);
    image[0] = 40;
    image[4] = 16;
    image[8] = 32;
    image[12] = 1;
    image[14] = 4;
    f.insert(f.end(), image.begin(), image.end());
    return f;
}

TEST_F(UserTest, IconsFromResourcesAndStandardOnes) {
    win32::register_icon_resource("MAINICON", icon_file());
    HICON icon = LoadIconA(kProgram, "mainicon");
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(kProgram, "MAINICON"), icon) << "loaded once";
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), icon);

    auto cut = icon_file();
    cut.resize(60);
    win32::register_icon_resource("CUT", cut);
    auto cursor = icon_file();
    cursor[2] = 2;  // a cursor file is no icon
    win32::register_icon_resource("CURSOR", cursor);
    for (const char* name : {"CUT", "CURSOR", "NOSUCH"}) {
        EXPECT_EQ(LoadIconA(kProgram, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    }
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(LoadIconA(kProgram, nullptr), nullptr);
}

TEST_F(UserTest, CursorsFromResourcesAndStandardOnes) {
    win32::register_cursor_resource("HAND2", cursor_file());
    HCURSOR hand = LoadCursorA(kProgram, "hand2");
    ASSERT_NE(hand, nullptr);
    EXPECT_EQ(LoadCursorA(kProgram, "HAND2"), hand) << "loaded once";
    win32::CursorImage img;
    ASSERT_TRUE(win32::cursor_image(hand, img));
    EXPECT_EQ(img.width, 32);
    EXPECT_EQ(img.height, 32);
    EXPECT_EQ(img.hot_x, 5);
    EXPECT_EQ(img.hot_y, 6);
    auto at = [&](int x, int y) { return std::pair{img.and_mask[size_t(y * 32 + x)], img.xor_mask[size_t(y * 32 + x)]}; };
    EXPECT_EQ(at(4, 4), (std::pair<uint8_t, uint8_t>{0, 0})) << "black";
    EXPECT_EQ(at(11, 11), (std::pair<uint8_t, uint8_t>{0, 0}));
    EXPECT_EQ(at(12, 11), (std::pair<uint8_t, uint8_t>{1, 0})) << "transparent";
    EXPECT_EQ(at(20, 20), (std::pair<uint8_t, uint8_t>{0, 1})) << "white";

    // Damaged files and unknown names load nothing.
    auto broken = cursor_file();
    broken.resize(100);
    win32::register_cursor_resource("BROKEN", broken);
    auto lying = cursor_file();
    lying[14] = 0xFF;  // image size far past the end
    lying[15] = 0xFF;
    win32::register_cursor_resource("LYING", lying);
    for (const char* name : {"BROKEN", "LYING", "NOSUCH"}) {
        EXPECT_EQ(LoadCursorA(kProgram, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    }
    EXPECT_EQ(LoadCursorA(nullptr, nullptr), nullptr);

    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    ASSERT_TRUE(win32::cursor_image(arrow, img));
    EXPECT_EQ(img.hot_x, 0);
    EXPECT_EQ(img.and_mask[0], 0) << "the tip is drawn";
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_FALSE(win32::cursor_image(reinterpret_cast<HCURSOR>(uintptr_t(0x77)), img));

    SetCursor(arrow);
    EXPECT_EQ(SetCursor(hand), arrow);
    EXPECT_EQ(GetCursor(), hand);
}

TEST_F(UserTest, ClassCursorIsSetAsTheMouseMoves) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "KdCursorClass";
    wc.hCursor = LoadCursorA(nullptr, IDC_CROSS);
    RegisterClassA(&wc);
    CreateWindowExA(0, "KdCursorClass", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                    nullptr, nullptr);
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    win32::post_mouse_move(10, 10);
    pump();
    EXPECT_EQ(GetCursor(), wc.hCursor);
}

// Waits in another thread for a message box to be up and drawn, then
// hands its top-level window to `act`.
template <typename F>
std::thread when_box_is_up(F act) {
    return std::thread([act] {
        for (int i = 0; i < 2000; ++i) {
            for (HWND h : win32::top_level_windows()) {
                char title[32] = {};
                GetWindowTextA(h, title, sizeof title);
                if (std::string(title) == "Question" && win32::wait_until_idle(1000)) {
                    act(h);
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

TEST_F(UserTest, MessageBoxIsDrawnModalAndAnswersItsButtons) {
    HWND owner = make_window({0, 0, 320, 240}, kBlue);
    pump();
    std::atomic<bool> owner_disabled{false};
    RECT box{};
    uint32_t caption = 0, face = 0;
    // While a script runs, the box waits for its answer.
    ASSERT_TRUE(win32::start_script("wait 500"));
    std::thread helper = when_box_is_up([&](HWND h) {
        owner_disabled = !IsWindowEnabled(owner);
        GetWindowRect(h, &box);
        caption = win32::screen_pixel(box.left + 5, box.top + 10);
        face = win32::screen_pixel(box.left + 5, box.bottom - 5);
        // Esc means nothing to a Yes/No box; the "No" button does.
        win32::post_key(VK_ESCAPE, true);
        win32::post_key(VK_ESCAPE, false);
        win32::wait_until_idle(1000);
        const int w = box.right - box.left;
        const int no_x = box.left + (w - (2 * 75 + 6)) / 2 + 75 + 6 + 30;
        win32::post_mouse_button(win32::MouseButton::Left, true, no_x, box.bottom - 3 - 12 - 10);
        win32::post_mouse_button(win32::MouseButton::Left, false, no_x, box.bottom - 3 - 12 - 10);
    });
    const int answer = MessageBoxA(owner, "Line one\nLine two", "Question", MB_YESNO | MB_ICONHAND);
    helper.join();
    pump();
    win32::wait_script();
    EXPECT_EQ(answer, IDNO);
    EXPECT_TRUE(owner_disabled);
    EXPECT_TRUE(IsWindowEnabled(owner)) << "enabled again";
    EXPECT_EQ(caption, 0x000080u) << "active caption colour";
    EXPECT_EQ(face, 0xC0C0C0u) << "button face";
    EXPECT_GT(box.right - box.left, 2 * 75);
    pump();
    EXPECT_EQ(win32::screen_pixel(box.left + 5, box.top + 10), rgb(kBlue)) << "gone, owner repainted";
    EXPECT_EQ(GetActiveWindow(), owner);
}

TEST_F(UserTest, MessageBoxEnterGivesTheDefaultButton) {
    ASSERT_TRUE(win32::start_script("wait 500"));
    std::thread helper = when_box_is_up([](HWND) {
        win32::post_key(VK_RETURN, true);
        win32::post_key(VK_RETURN, false);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "?", "Question", MB_YESNO | MB_DEFBUTTON2), IDNO);
    helper.join();
    pump();
    win32::wait_script();
}

TEST_F(UserTest, MessageBoxTakesQueuedAnswersOrItsDefaultWhenHeadless) {
    EXPECT_STREQ(win32::video_backend(), "headless");
    win32::queue_message_box_answer(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "cap", MB_OKCANCEL), IDCANCEL);
    // Nobody to ask: the default button.
    EXPECT_EQ(MessageBoxA(nullptr, "text", "cap", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
    EXPECT_TRUE(win32::top_level_windows().empty());
}

bool read_png(const std::string& path, std::vector<uint32_t>& pixels, int& w, int& h) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_BGRA;
    pixels.assign(size_t(img.width) * img.height, 0);
    w = int(img.width);
    h = int(img.height);
    return png_image_finish_read(&img, nullptr, pixels.data(), 0, nullptr) != 0;
}

// The demo: a click asks a question, Esc is remembered, quit ends the loop.
int demo_answer = 0;
bool demo_escape = false;
LRESULT CALLBACK demo_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_LBUTTONUP) demo_answer = MessageBoxA(h, "Quit?", "Demo", MB_YESNO | MB_ICONHAND);
    if (msg == WM_KEYDOWN && wp == VK_ESCAPE) demo_escape = true;
    return recording_proc(h, msg, wp, lp);
}

TEST_F(UserTest, ScriptDrivesADemoEndToEnd) {
    testing_support::ScratchDir dir;
    WNDCLASSA wc{};
    wc.lpfnWndProc = demo_proc;
    wc.lpszClassName = "KdDemo";
    RegisterClassA(&wc);
    HWND demo = CreateWindowExA(0, "KdDemo", "", WS_POPUP, 0, 0, 320, 240, nullptr, nullptr,
                                nullptr, nullptr);
    SetWindowLongPtrA(demo, GWL_USERDATA, LONG_PTR(kGreen));
    ShowWindow(demo, SW_SHOW);
    demo_answer = 0;
    demo_escape = false;
    const std::string shot = (dir.path() / "box.png").string();
    ASSERT_FALSE(win32::start_script("click left 10 10\nfly away")) << "a bad line runs nothing";
    ASSERT_TRUE(win32::start_script("move 5 5\n"
                                    "click left 20 20   # opens the box\n"
                                    "wait 20\n"
                                    "shot " + shot + "\n"
                                    "answer yes\n"
                                    "key 27\n"
                                    "quit\n"));
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    win32::wait_script();
    EXPECT_EQ(demo_answer, IDYES);
    EXPECT_TRUE(demo_escape);
    std::vector<uint32_t> png;
    int w = 0, h = 0;
    ASSERT_TRUE(read_png(shot, png, w, h));
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 240);
    EXPECT_EQ(png[0] & 0xFFFFFF, rgb(kGreen)) << "the demo behind the box";
    EXPECT_EQ(png[size_t(120 * 320 + 160)] & 0xFFFFFF, 0xC0C0C0u) << "the box in the middle";
}

}  // namespace
