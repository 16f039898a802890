// The menu from the outside: the real CDROM on a disc made by tools/mkdisc,
// driven by input scripts on the headless screen, judged by its
// screenshots, the sound it played, its sound-library trace and the files
// it left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

#include "Ledgadgt.h"
#include "cdrom_run.h"
#include "forms.h"
#include "raster/rl.h"
#include "ui_support.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

namespace {

using namespace e2e;

struct Box {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

// Where the controls sit on each page.
const Box kMainControls[] = {{145, 180, 173, 233}, {333, 180, 173, 233}, {530, 422, 75, 35}, {20, 425, 47, 47}};
const Box kInstallControls[] = {{410, 415, 97, 42}, {520, 415, 97, 42}};
const Box kGalleryButtons[] = {{10, 62, 147, 112},  {165, 62, 147, 112},  {320, 62, 147, 112},  {475, 62, 147, 112},
                               {10, 176, 147, 112}, {165, 176, 147, 112}, {320, 176, 147, 112}, {475, 176, 147, 112},
                               {10, 290, 147, 112}, {165, 290, 147, 112}, {320, 290, 147, 112}, {475, 290, 147, 112},
                               {520, 420, 97, 42}};

std::string centre(const Box& b) { return std::to_string(b.x + b.w / 2) + " " + std::to_string(b.y + b.h / 2); }
std::string click(const char* button, const Box& b) { return std::string("click ") + button + " " + centre(b) + "\n"; }

// This process's own headless screen, where the references are drawn.
class Reference {
public:
    static Reference& get() {
        static Reference r;
        return r;
    }

    // A page picture as the menu shows it: decoded by the raster library
    // into a 16-bit buffer and copied to a 32-bit screen.
    Image page(const fs::path& file) {
        rl_buffer_depth(16);
        const int32_t n = rl_buffer_alloc(640, 480);
        rl_buffer_open(n);
        const std::string name = file.string();
        if (file.extension() == ".pcx") rl_show_pcx(name.c_str(), 0);
        else rl_show_bmp(name.c_str(), 0);
        rl_buffer_paste(0, 639, 0, 479, 0, 479);
        rl_buffer_close();
        rl_buffer_free(n);
        return screen(Box{0, 0, 640, 480});
    }

    // An LED label as the menu places it, showing `caption`.
    Image led(const Box& at, int columns, int segment_size, const std::string& caption) {
        auto* l = new TLEDLabel(form_.get());
        l->SetColumns(columns);
        l->SetUnlitColor(16384);
        l->SetSegmentSize(segment_size);
        l->SetLeft(at.x);
        l->SetTop(at.y);
        l->SetCaption(caption);
        l->SetParent(form_.get());
        form_->Show();
        ui_test::pump();
        Image img = screen(Box{at.x, at.y, l->Width(), l->Height()});
        delete l;
        ui_test::pump();
        return img;
    }

private:
    Reference() {
        setenv("WIN32_VIDEO", "headless", 1);
        win32::reset_screen({640, 480, 32});
        dc_ = GetDC(nullptr);
        rl_set_dc(dc_);
        palette_ = rl_default_palette();
        rl_realize_palette(palette_);
        rl_init();
        form_ = std::make_unique<TForm>(nullptr);
        form_->SetBorderStyle(bsNone);
        form_->SetBounds(0, 0, 640, 480);
        form_->SetColor(clBlack);
        form_->AfterConstruction();
    }

    static Image screen(const Box& b) {
        Image img{b.w, b.h, std::vector<uint32_t>(size_t(b.w) * size_t(b.h))};
        for (int y = 0; y < b.h; ++y)
            for (int x = 0; x < b.w; ++x) img.px[size_t(y) * size_t(b.w) + size_t(x)] = win32::screen_pixel(b.x + x, b.y + y);
        return img;
    }

    HDC dc_ = nullptr;
    HPALETTE palette_ = nullptr;
    std::unique_ptr<TForm> form_;
};

// Pixels of `shot` (a 640x480 page) that differ from `ref` outside `skip`.
template <size_t N>
int differences_outside(const Image& shot, const Image& ref, const Box (&skip)[N]) {
    if (shot.width < 640 || shot.height < 480) return -1;
    int n = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            bool covered = false;
            for (const Box& b : skip) covered |= b.contains(x, y);
            if (!covered && shot.at(x, y) != ref.at(x, y)) ++n;
        }
    return n;
}

// A picture button's raised bevel: white top-left, grey bottom-right.
bool button_drawn(const Image& shot, const Box& b) {
    return shot.at(b.x, b.y) == 0xFFFFFF && shot.at(b.x + b.w - 1, b.y + b.h - 1) == 0x808080;
}

bool region_equals(const Image& shot, int x0, int y0, const Image& ref) {
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x)
            if (shot.at(x0 + x, y0 + y) != ref.at(x, y)) return false;
    return true;
}

// The drawn message box: its caption bar, a long run of dark blue.
bool message_box_shown(const Image& shot) {
    for (int y = 0; y < shot.height; ++y) {
        int run = 0;
        for (int x = 0; x < shot.width; ++x) {
            run = shot.at(x, y) == 0x000080 ? run + 1 : 0;
            if (run >= 150) return true;
        }
    }
    return false;
}

// An effect file's samples, centred on 0.
std::vector<double> effect_samples(const fs::path& wav) {
    return read_wav(wav).samples;
}

// The best normalised correlation of the effect played at `ratio` times its
// rate with the capture, searched around the starts of sounds.
double best_match(const Sound& capture, const std::vector<double>& effect, double ratio, int effect_rate) {
    const double step = ratio * effect_rate / capture.rate;
    std::vector<double> expected;
    for (double pos = 0; pos + 1 < double(effect.size()); pos += step) {
        const size_t i = size_t(pos);
        const double f = pos - double(i);
        expected.push_back(effect[i] * (1 - f) + effect[i + 1] * f);
    }
    // Compare the first 0.25 s: the body of the click.
    expected.resize(std::min(expected.size(), size_t(capture.rate / 4)));
    double ee = 0;
    for (double v : expected) ee += v * v;
    const std::vector<double>& s = capture.samples;
    std::vector<size_t> onsets;
    // A capture may begin with the sound: output that falls silent stops.
    size_t quiet = 1000000;
    for (size_t i = 0; i < s.size(); ++i) {
        if (std::fabs(s[i]) > 0.02 && quiet > 1000) onsets.push_back(i);
        quiet = std::fabs(s[i]) > 0.02 ? 0 : quiet + 1;
    }
    double best = 0;
    for (size_t onset : onsets)
        for (long off = long(onset) - 400; off <= long(onset) + 100; ++off) {
            if (off < 0 || size_t(off) + expected.size() > s.size()) continue;
            double se = 0, ss = 0;
            for (size_t j = 0; j < expected.size(); ++j) {
                se += s[size_t(off) + j] * expected[j];
                ss += s[size_t(off) + j] * s[size_t(off) + j];
            }
            if (ss > 0 && ee > 0) best = std::max(best, se / std::sqrt(ss * ee));
        }
    return best;
}

const Box kButton1 = kMainControls[0], kButton2 = kMainControls[1], kButton3 = kMainControls[2];
const Box kClock = kMainControls[3];
const Box kButton4 = kInstallControls[0], kButton5 = kInstallControls[1];
const Box kButton18 = kGalleryButtons[12];

// --- Main page, navigation, exit ------------------------------------------------

TEST(Cdrom, MainPageIsTheMenuPictureUnderItsSixControls) {
    MenuRun run;
    const Result r = run.start("wait 300\nshot main\nkey 27\n");
    expect_clean_exit(r, run);
    const Image shot = read_png(run.shot("main"));
    ASSERT_EQ(shot.width, 640) << "the display went to 640x480";
    ASSERT_EQ(shot.height, 480);
    const Image menu = Reference::get().page(run.disc() / "system" / "Menu.bmp");
    EXPECT_EQ(differences_outside(shot, menu, kMainControls), 0);
    for (const Box& b : {kButton1, kButton2, kButton3}) EXPECT_TRUE(button_drawn(shot, b)) << centre(b);
    // The clock's face over the picture.
    int clock = 0;
    for (int y = kClock.y; y < kClock.y + kClock.h; ++y)
        for (int x = kClock.x; x < kClock.x + kClock.w; ++x) clock += shot.at(x, y) != menu.at(x, y);
    EXPECT_GT(clock, kClock.w * kClock.h / 2);
}

TEST(Cdrom, InstallPageWithTheClickAndBackWithTheCloseSound) {
    MenuRun run;
    const Result r = run.start("wait 300\n" + click("left", kButton1) + "wait 900\nshot install\n" +
                               click("left", kButton5) + "wait 900\nshot main\nkey 27\n");
    expect_clean_exit(r, run);
    const Image install = read_png(run.shot("install"));
    ASSERT_FALSE(install.empty());
    EXPECT_EQ(differences_outside(install, Reference::get().page(run.disc() / "system" / "item_1.bmp"),
                                  kInstallControls),
              0);
    EXPECT_TRUE(button_drawn(install, kButton4));
    EXPECT_TRUE(button_drawn(install, kButton5));
    const Image main = read_png(run.shot("main"));
    ASSERT_FALSE(main.empty());
    EXPECT_EQ(differences_outside(main, Reference::get().page(run.disc() / "system" / "Menu.bmp"), kMainControls), 0);

    const Sound capture = run.sound();
    ASSERT_GT(capture.rate, 0);
    for (const char* effect : {"Button.wav", "Close.wav"}) {
        const std::vector<double> e = effect_samples(run.disc() / "system" / effect);
        const double pitched = best_match(capture, e, 65.0 / 64.0, 22050);
        const double native = best_match(capture, e, 1.0, 22050);
        EXPECT_GT(pitched, 0.9) << effect << " at 65/64 of its rate";
        EXPECT_GT(pitched, native + 0.1) << effect << " plays faster than its own rate";
    }
    EXPECT_EQ(run.calls("SVX_start_sample("), 2);
}

TEST(Cdrom, TheExitButtonEndsTheProgramAndShutsSoundDown) {
    MenuRun run;
    const Result r = run.start("wait 300\n" + click("left", kButton3) + "wait 3000\nshot late\n");
    expect_clean_exit(r, run);
    EXPECT_FALSE(fs::exists(run.shot("late"))) << "the program was still there";
    EXPECT_EQ(run.calls("SVX_start_sample("), 0) << "the exit button is silent";
    EXPECT_EQ(run.calls("SVX_shutdown("), 1);
}

TEST(Cdrom, EscapeOnlyEndsTheProgramFromTheMainPage) {
    MenuRun run;
    const Result r = run.start("wait 300\n" + click("left", kButton1) + "key 27\nwait 300\nshot install\n" +
                               click("left", kButton5) + "key 27\n");
    expect_clean_exit(r, run);
    EXPECT_TRUE(fs::exists(run.shot("install"))) << "Esc on the install page ended the program";
}

// --- Mascots ----------------------------------------------------------------------

// Height of what differs from the page outside its controls: the balloon
// with its shadow.
int balloon_height(const Image& shot, const Image& page) {
    int top = -1, bottom = -1;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            bool covered = false;
            for (const Box& b : kMainControls) covered |= b.contains(x, y);
            if (covered || shot.at(x, y) == page.at(x, y)) continue;
            if (top < 0) top = y;
            bottom = y;
        }
    return top < 0 ? 0 : bottom - top + 1;
}

// The mascot's hint steps once a move; a balloon grows by one line of its
// 12-pixel font per line of text, as on the system the menu was made for.
TEST(Cdrom, MascotHintsStepWithTheMouseInBalloonsSizedToTheirLines) {
    MenuRun run;
    const std::string away = "move 300 60\nwait 300\n";
    const Result r = run.start("wait 300\nmove 80 290\nwait 900\nshot one\n" + away +
                               "move 81 291\nmove 82 292\nmove 83 293\nwait 900\nshot two\n" + away +
                               "move 81 291\nmove 82 292\nmove 83 293\nwait 900\nshot three\n" + away + "key 27\n");
    expect_clean_exit(r, run);
    const Image page = Reference::get().page(run.disc() / "system" / "Menu.bmp");
    const int one = balloon_height(read_png(run.shot("one")), page);    // index 1: one line
    const int two = balloon_height(read_png(run.shot("two")), page);    // index 4: two lines
    const int three = balloon_height(read_png(run.shot("three")), page);  // index 7: three lines
    EXPECT_GT(one, 12 + 38);
    EXPECT_EQ(two - one, 12);
    EXPECT_EQ(three - two, 12);
}

// --- Gallery ----------------------------------------------------------------------

TEST(Cdrom, ARightClickPreviewsAWallpaperAndAnyClickReturnsToTheGallery) {
    MenuRun run;
    const Result r = run.start("wait 300\n" + click("left", kButton2) + "wait 300\nshot gallery\n" +
                               click("right", kGalleryButtons[4]) + "wait 300\nshot preview\n" +
                               "key 27\nkey 32\nwait 200\nshot still\n" + click("middle", Box{300, 40, 1, 1}) +
                               "wait 300\nshot back\n" + click("left", kButton18) + "key 27\n");
    expect_clean_exit(r, run);
    const Image preview = read_png(run.shot("preview"));
    ASSERT_FALSE(preview.empty());
    const Box none[] = {{0, 0, 0, 0}};
    EXPECT_EQ(differences_outside(preview, Reference::get().page(run.disc() / "system" / "wall" / "990405.bmp"), none), 0)
        << "the whole screen is the wallpaper, no control over it";
    EXPECT_EQ(differences_outside(read_png(run.shot("still")), preview, none), 0) << "Esc and Space do nothing there";
    for (const char* name : {"gallery", "back"}) {
        const Image shot = read_png(run.shot(name));
        ASSERT_FALSE(shot.empty()) << name;
        for (const Box& b : kGalleryButtons) EXPECT_TRUE(button_drawn(shot, b)) << name << " " << centre(b);
        EXPECT_EQ(differences_outside(shot, Reference::get().page(run.disc() / "system" / "item_2.bmp"), kGalleryButtons), 0)
            << name;
    }
}

// "yes" copies the file, sets the registry and, a second later, says so.
TEST(Cdrom, YesCopiesTheWallpaperIntoTheWindowsFolderAndReportsItASecondLater) {
    MenuRun run;
    run.set_env("windir", "C:\\WINDOWS");
    const Result r = run.start("wait 300\n" + click("left", kButton2) + "answer yes\n" + click("left", kGalleryButtons[2]) +
                               "wait 400\nshot early\nwait 1100\nshot late\nanswer ok\nwait 300\n" +
                               click("left", kButton18) + "key 27\n");
    expect_clean_exit(r, run);
    const fs::path copy = run.windows() / "990403.bmp";
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(read_text(copy), read_text(run.disc() / "system" / "wall" / "990403.bmp"));
    const std::string registry = read_text(run.windows() / "REGISTRY.TXT");
    EXPECT_NE(registry.find("\"Wallpaper\" = sz \"C:\\\\WINDOWS\\\\990403.bmp\""), std::string::npos) << registry;
    EXPECT_NE(registry.find("\"TileWallPaper\" = sz \"0\""), std::string::npos) << registry;
    EXPECT_FALSE(message_box_shown(read_png(run.shot("early")))) << "the completion message came too soon";
    EXPECT_TRUE(message_box_shown(read_png(run.shot("late"))));
    EXPECT_EQ(run.calls("SVX_start_sample("), 2) << "the gallery's own buttons are silent";
}

TEST(Cdrom, NoChangesNothing) {
    MenuRun run;
    run.set_env("windir", "C:\\WINDOWS");
    const std::string before = read_text(run.windows() / "REGISTRY.TXT");
    const Result r = run.start("wait 300\n" + click("left", kButton2) + "answer no\n" + click("left", kGalleryButtons[0]) +
                               "wait 1600\nshot late\n" + click("left", kButton18) + "key 27\n");
    expect_clean_exit(r, run);
    EXPECT_FALSE(fs::exists(run.windows() / "990401.bmp"));
    EXPECT_EQ(read_text(run.windows() / "REGISTRY.TXT"), before);
    EXPECT_FALSE(message_box_shown(read_png(run.shot("late"))));
}

TEST(Cdrom, WithoutWindirTheWallpaperGoesToTheRootOfDriveC) {
    MenuRun run;
    const Result r = run.start("wait 300\n" + click("left", kButton2) + "answer yes\n" + click("left", kGalleryButtons[11]) +
                               "wait 1500\nanswer ok\nwait 300\n" + click("left", kButton18) + "key 27\n");
    expect_clean_exit(r, run);
    EXPECT_TRUE(fs::exists(run.root() / "990412.bmp"));
    EXPECT_FALSE(fs::exists(run.windows() / "990412.bmp"));
}

// A Windows folder whose path does not fit the 40-character buffer.
TEST(Cdrom, AWindowsFolderTooLongForThePathLeavesTheWallpaperAlone) {
    MenuRun run;
    run.set_env("windir", "C:\\A_WINDOWS_FOLDER_FAR_TOO_LONG_TO_FIT");
    const std::string before = read_text(run.windows() / "REGISTRY.TXT");
    const Result r = run.start("wait 300\n" + click("left", kButton2) + "answer yes\n" + click("left", kGalleryButtons[0]) +
                               "wait 1500\nshot late\n" + click("left", kButton18) + "key 27\n");
    expect_clean_exit(r, run);
    EXPECT_FALSE(message_box_shown(read_png(run.shot("late"))));
    EXPECT_EQ(read_text(run.windows() / "REGISTRY.TXT"), before);
}

// --- Colour depth -----------------------------------------------------------------

TEST(Cdrom, AnEightBitScreenGetsTheColourDepthMessageAndNothingElse) {
    MenuRun run;
    run.set_env("WIN32_SCREEN", "800x600x8");
    const Result r = run.start("wait 500\nshot box\nanswer ok\nwait 5000\nshot after\n", 30);
    expect_clean_exit(r, run);
    const Image box = read_png(run.shot("box"));
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.width, 800) << "the display mode was left as it was";
    EXPECT_EQ(box.height, 600);
    EXPECT_TRUE(message_box_shown(box));
    EXPECT_FALSE(fs::exists(run.shot("after"))) << "the program went on after the message";
    EXPECT_EQ(run.calls("SVX_startup("), 1);
    EXPECT_EQ(run.calls("SVX_shutdown("), 1);
}

// --- Countdown --------------------------------------------------------------------

struct LedPlace {
    Box at;
    int columns, segment_size;
};
const LedPlace kDays{{5, 200, 0, 0}, 3, 4}, kHours{{200, 200, 0, 0}, 2, 4}, kMinutes{{345, 200, 0, 0}, 2, 4},
    kSeconds{{490, 200, 0, 0}, 2, 4}, kTotal{{25, 220, 0, 0}, 8, 5};

bool led_shows(const Image& shot, const LedPlace& p, const std::string& caption) {
    const Image ref = Reference::get().led(p.at, p.columns, p.segment_size, caption);
    return region_equals(shot, p.at.x, p.at.y, ref);
}

TEST(Cdrom, TheCountdownPagesTenAndAHalfDaysBeforeTheYear2000) {
    MenuRun run;
    run.set_env("WIN32_CLOCK", "1999-12-21T12:00:00");
    // Slow builds take a while to draw a page.
    const Result r = run.start("wait 200\n" + click("left", kClock) + "wait 1500\nshot days\nkey 32\n" +
                               click("right", kClock) + "wait 1500\nshot seconds\n" + click("left", Box{300, 50, 1, 1}) +
                               "key 27\n");
    expect_clean_exit(r, run);
    const Image days = read_png(run.shot("days")), seconds = read_png(run.shot("seconds"));
    ASSERT_FALSE(days.empty());
    ASSERT_FALSE(seconds.empty());
    // The stand-in's clock started at 12:00:00 and ran on until the shots.
    EXPECT_TRUE(led_shows(days, kDays, "010"));
    EXPECT_TRUE(led_shows(days, kHours, "11"));
    EXPECT_TRUE(led_shows(days, kMinutes, "59"));
    bool second = false, total = false;
    for (int k = 0; k < 40; ++k) {
        char s[8], t[16];
        std::snprintf(s, sizeof s, "%02d", 59 - k);
        std::snprintf(t, sizeof t, "%08d", 907199 - k);
        second |= led_shows(days, kSeconds, s);
        total |= led_shows(seconds, kTotal, t);
    }
    EXPECT_TRUE(second) << "seconds of 11:59:20 .. 11:59:59 left";
    EXPECT_TRUE(total) << "00907160 .. 00907199 seconds left";
}

TEST(Cdrom, AfterTheYear2000EveryCounterShowsZeros) {
    MenuRun run;
    run.set_env("WIN32_CLOCK", "2000-03-01T08:30:00");
    const Result r = run.start("wait 200\n" + click("left", kClock) + "wait 1500\nshot days\nkey 27\n" +
                               click("right", kClock) + "wait 1500\nshot seconds\nkey 32\nkey 27\n");
    expect_clean_exit(r, run);
    const Image days = read_png(run.shot("days")), seconds = read_png(run.shot("seconds"));
    ASSERT_FALSE(days.empty());
    ASSERT_FALSE(seconds.empty());
    EXPECT_TRUE(led_shows(days, kDays, "000"));
    for (const LedPlace& p : {kHours, kMinutes, kSeconds}) EXPECT_TRUE(led_shows(days, p, "00"));
    EXPECT_TRUE(led_shows(seconds, kTotal, "00000000"));
    // A click on the page's background goes back to the main page too.
    EXPECT_EQ(differences_outside(days, Reference::get().page(run.disc() / "system" / "count.pcx"),
                                  {Box{5, 200, 590, 90}}),
              0);
}

// --- Sound output search and the handle pool -------------------------------------

TEST(Cdrom, EmulatedDirectSoundEndsOnWaveOut) {
    MenuRun run;
    run.set_env("WIN32_DSOUND", "emulated");
    const Result r = run.start("wait 300\n" + click("left", kButton1) + "wait 900\n" + click("left", kButton5) +
                               "wait 300\nkey 27\n");
    expect_clean_exit(r, run);
    EXPECT_EQ(run.calls("SVX_waveOutOpen("), 2);
    EXPECT_EQ(run.calls("SVX_waveOutClose("), 1) << "the emulated device was given back";
    EXPECT_NE(run.trace().find("SVX_set_preference(15,1)"), std::string::npos);
    const std::vector<double> e = effect_samples(run.disc() / "system" / "Button.wav");
    EXPECT_GT(best_match(run.sound(), e, 65.0 / 64.0, 22050), 0.9) << "the click is heard through waveOut";
}

TEST(Cdrom, WithNoWorkingAudioEveryClickIsSilentAndTheMenuStillWorks) {
    MenuRun run;
    run.set_env("WIN32_DSOUND", "absent");
    run.set_env("WIN32_AUDIO", "null:maxrate=8000");
    const Result r = run.start("wait 300\n" + click("left", kButton1) + "wait 300\nshot install\n" +
                               click("left", kButton5) + "wait 300\nkey 27\n");
    expect_clean_exit(r, run);
    // DirectSound, then waveOut at 22050 and 11025 Hz.
    EXPECT_EQ(run.calls("SVX_waveOutOpen("), 3);
    EXPECT_EQ(run.calls("SVX_start_sample("), 0);
    EXPECT_EQ(run.calls("SVX_shutdown("), 1);
    EXPECT_EQ(differences_outside(read_png(run.shot("install")),
                                  Reference::get().page(run.disc() / "system" / "item_1.bmp"), kInstallControls),
              0);
}

// Rewrites an effect's rate so that its 15 kB last seconds.
void slow_down(const fs::path& wav, uint32_t rate) {
    std::string b = read_text(wav);
    ASSERT_GE(b.size(), 44u);
    for (int i = 0; i < 4; ++i) {
        b[size_t(24 + i)] = char(rate >> (8 * i));
        b[size_t(28 + i)] = char(rate >> (8 * i));
    }
    write_text(wav, b);
}

TEST(Cdrom, AFifteenthEffectWhileFourteenPlayIsDroppedNotQueued) {
    MenuRun run;
    // Effects of almost eight seconds: the clicks come well within them,
    // also on a slow, loaded build.
    slow_down(run.disc() / "system" / "Button.wav", 2000);
    slow_down(run.disc() / "system" / "Close.wav", 2000);
    std::string script = "wait 300\n";
    for (int i = 0; i < 15; ++i) script += click("left", i % 2 ? kButton5 : kButton1);
    script += click("left", kButton5);  // a sixteenth, still while all play
    script += "wait 9000\n";           // every effect has ended: nothing was waiting
    script += "key 27\n";
    const Result r = run.start(script);
    expect_clean_exit(r, run);
    EXPECT_EQ(run.calls("SVX_init_sample("), 14);
    EXPECT_EQ(run.calls("SVX_start_sample("), 14);
}

// --- Installer and damaged discs ---------------------------------------------------

TEST(Cdrom, TheInstallerStartsFromTheDiscWithItsNameAsItsOnlyArgument) {
    MenuRun run;
    const Result r = run.start("wait 300\n" + click("left", kButton1) + click("left", kButton4) +
                               click("left", kButton5) + "wait 200\nkey 27\n");
    expect_clean_exit(r, run);
    EXPECT_NE(read_text(run.disc() / "Qarmet.log").find("started as \"Qarmet.exe\" with 0 argument(s)"),
              std::string::npos);
}

// Seconds from the first to the last start of an effect in the trace.
double seconds_between_effects(const std::string& trace) {
    std::vector<double> at;
    for (size_t pos = 0; (pos = trace.find("] SVX_start_sample(", pos)) != std::string::npos; ++pos) {
        const size_t open = trace.rfind('[', pos);
        int h = 0, m = 0;
        double s = 0;
        if (std::sscanf(trace.c_str() + open, "[%d:%d:%lf]", &h, &m, &s) == 3) at.push_back(h * 3600 + m * 60 + s);
    }
    return at.size() < 2 ? 0 : at.back() - at.front();
}

TEST(Cdrom, AMissingInstallerGivesOnlyTheSoundAndThePause) {
    MenuRun run;
    fs::remove(run.disc() / "Qarmet.exe");
    const Result r = run.start("wait 300\n" + click("left", kButton1) + click("left", kButton4) +
                               click("left", kButton5) + "wait 300\nkey 27\n");
    expect_clean_exit(r, run);
    EXPECT_EQ(run.calls("SVX_start_sample("), 3);
    // The back button's click waited for the pause after the install click.
    const double pause = seconds_between_effects(run.trace());
    EXPECT_GE(pause, 2.2);
    EXPECT_LT(pause, 6.0);
}

TEST(Cdrom, MissingAndDamagedPicturesLeaveBlackPagesAndNoCrash) {
    MenuRun run;
    const fs::path system = run.disc() / "system";
    fs::remove(system / "item_1.bmp");
    fs::remove(system / "wall" / "990402.bmp");
    fs::resize_file(system / "Menu.bmp", 2000);
    {
        std::string pcx = read_text(system / "count.pcx");
        pcx[8] = 0;  // max x below min x
        pcx[9] = char(0x80);
        write_text(system / "count.pcx", pcx);
    }
    fs::remove(system / "Button.wav");
    fs::resize_file(system / "Close.wav", 100);
    const Result r = run.start("wait 300\nshot main\n" + click("left", kButton1) + "wait 200\nshot install\n" +
                               click("left", kButton5) + click("left", kButton2) + click("right", kGalleryButtons[1]) +
                               "wait 200\nshot preview\n" + click("left", Box{300, 300, 1, 1}) +
                               click("left", kButton18) + click("left", kClock) + "wait 200\nshot days\nkey 27\nkey 27\n");
    expect_clean_exit(r, run);
    const Image install = read_png(run.shot("install"));
    ASSERT_FALSE(install.empty());
    const Image black{640, 480, std::vector<uint32_t>(640 * 480, 0)};
    EXPECT_EQ(differences_outside(install, black, kInstallControls), 0) << "a missing picture leaves its page black";
    EXPECT_TRUE(fs::exists(run.shot("preview")));
    EXPECT_TRUE(fs::exists(run.shot("days")));
    EXPECT_EQ(run.calls("SVX_start_sample("), 0) << "effects that could not be read stay silent";
}

}  // namespace
