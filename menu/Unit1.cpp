// Texts here are code page 936: this file is compiled with that execution
// character set, so the literals below reach the ANSI calls as GBK bytes.
#include "Unit1.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Countdown.h"
#include "Effects.h"
#include "raster/rl.h"
#include "win32/kernel.h"
#include "win32/user.h"

TForm1* Form1 = nullptr;

int32_t CurrentPage = 0;
int32_t SelectedWallpaper = 0;
int32_t MascotHintIndex1 = 0;
int32_t MascotHintIndex2 = 0;
uint8_t* ButtonSound = nullptr;
uint8_t* CloseSound = nullptr;

const HINSTANCE HInstance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));

void RegisterFormClasses() {
    RegisterClass(TColorButton::StaticClassInfo());
    RegisterClass(TLEDLabel::StaticClassInfo());
    RegisterClass(TAnalogClock::StaticClassInfo());
    RegisterClass(TBalloonHint::StaticClassInfo());
    RegisterClass(TWallPaperChanger::StaticClassInfo());
    RegisterClass(TLabel::StaticClassInfo());
}

namespace {

const char kTitle[] = "Kelvora1999年4月";

// Paths are built in buffers of this size, as the disc's menu always did.
constexpr size_t kPathBuffer = 40;
// A wallpaper is a 640x480 picture; anything far larger is not one of ours.
constexpr long long kMaxWallpaperBytes = 16 * 1024 * 1024;

const char* const kMascot1Hints[8] = {
    "我是Mirel",
    "Orvanth4真好玩!!",
    "比比看谁的眼睛比较大!",
    "我是大美女",
    "你算算看\n离2000年还有几天?",
    "我是女主角喔!",
    "这期的游戏很精彩喔!",
    "小明,小华不是兄弟\n但父亲却是同一人\n为什麽?",
};

const char* const kMascot2Hints[8] = {
    "我是LUMA",
    "你还在看我吗?\n你可以再近一点",
    "我可爱吗?",
    "我是天下第一超级大美女",
    "谢谢您的购买",
    "用Mouse按一下时钟吧!!",
    "希望您玩的高兴!",
    "一定要继续支持我们喔!",
};

// Where FormCreate puts the buttons, and their cursors.
struct ButtonPlace {
    int left, top;
    TCursor cursor;
};
constexpr ButtonPlace kButtonPlaces[19] = {
    {0, 0, 0},
    {145, 180, 2}, {333, 180, 2}, {530, 422, 2},                  // main page
    {410, 415, 2}, {520, 415, 2},                                 // install page
    {10, 62, 2},   {165, 62, 2},  {320, 62, 2},   {475, 62, 3},   // gallery
    {10, 176, 3},  {165, 176, 3}, {320, 176, 3},  {475, 176, 3},
    {10, 290, 3},  {165, 290, 3}, {320, 290, 3},  {475, 290, 3},
    {520, 420, 3},
};

struct ButtonHint {
    int button;
    const char* text;
};
const ButtonHint kButtonHints[] = {
    {1, "Orvanth4"},
    {2, "1999年4 - 6月桌布集"},
    {3, "结束程序回到\nWindeows中"},
    {4, "安装游戏\nOrvanth4"},
    {5, "返回光盘主画面"},
    {18, "返回光盘主画面"},
};

struct LEDPlace {
    int left, top, segment_size;
};
constexpr LEDPlace kLEDPlaces[5] = {
    {5, 200, 4}, {200, 200, 4}, {345, 200, 4}, {490, 200, 4}, {25, 220, 5},
};

uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads at most `size` bytes of a file into a new zero-filled block; null
// when the file cannot be opened or its sound does not fit the block.
uint8_t* ReadEffect(const char* name, int32_t size) {
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    auto* block = new uint8_t[size_t(size)]();
    DWORD got = 0;
    const BOOL ok = ReadFile(file, block, DWORD(size), &got, nullptr);
    CloseHandle(file);
    // The library takes the image without its length: a header that claims
    // more than was read would make it play past the block.
    if (!ok || !EffectImageFits(block, got)) {
        delete[] block;
        return nullptr;
    }
    return block;
}

}  // namespace

std::string WallpaperFileName(int n) {
    char name[16];
    std::snprintf(name, sizeof name, "9904%02d.bmp", n);
    return name;
}

bool WallpaperDestination(const char* name, char* out, size_t size) {
    if (!name || !out || size == 0) return false;
    out[0] = '\0';
    char folder[kPathBuffer];
    const DWORD n = GetEnvironmentVariableA("windir", folder, sizeof folder);
    int written;
    if (n == 0) {
        written = std::snprintf(out, size, "c:\\%s", name);
    } else {
        // A value that did not fit reports the size it needs.
        if (n >= sizeof folder) return false;
        written = std::snprintf(out, size, "%s\\%s", folder, name);
    }
    if (written < 0 || size_t(written) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool EffectImageFits(const uint8_t* image, size_t size) {
    if (!image || size < 12) return false;
    if (std::memcmp(image, "RIFF", 4) != 0 || std::memcmp(image + 8, "WAVE", 4) != 0) return false;
    bool format = false;
    size_t pos = 12;
    while (size - pos >= 8) {
        const uint32_t length = LittleEndian32(image + pos + 4);
        if (length > size - pos - 8) return false;  // the chunk runs past what was read
        if (std::memcmp(image + pos, "fmt ", 4) == 0) format = length >= 16;
        if (std::memcmp(image + pos, "data", 4) == 0) return format;
        pos += 8 + size_t(length) + (length & 1);
        if (pos > size) return false;
    }
    return false;
}

// --- The form -------------------------------------------------------------------

TForm1::TForm1(TComponent* owner) : TForm(owner) {
    ScreenWidth = 640;
    ScreenHeight = 480;
}

const ClassInfo& TForm1::StaticClassInfo() {
    static const MethodInfo methods[] = {
        props::Method<&TForm1::FormCreate>("FormCreate"),
        props::Method<&TForm1::FormActivate>("FormActivate"),
        props::Method<&TForm1::FormPaint>("FormPaint"),
        props::Method<&TForm1::FormDestroy>("FormDestroy"),
        props::Method<&TForm1::FormKeyDown>("FormKeyDown"),
        props::Method<&TForm1::FormMouseUp>("FormMouseUp"),
        props::Method<&TForm1::ColorButton1MouseUp>("ColorButton1MouseUp"),
        props::Method<&TForm1::ColorButton2MouseUp>("ColorButton2MouseUp"),
        props::Method<&TForm1::ColorButton3MouseUp>("ColorButton3MouseUp"),
        props::Method<&TForm1::ColorButton4MouseUp>("ColorButton4MouseUp"),
        props::Method<&TForm1::ColorButton5MouseUp>("ColorButton5MouseUp"),
        props::Method<&TForm1::ColorButton6MouseUp>("ColorButton6MouseUp"),
        props::Method<&TForm1::ColorButton7MouseUp>("ColorButton7MouseUp"),
        props::Method<&TForm1::ColorButton8MouseUp>("ColorButton8MouseUp"),
        props::Method<&TForm1::ColorButton9MouseUp>("ColorButton9MouseUp"),
        props::Method<&TForm1::ColorButton10MouseUp>("ColorButton10MouseUp"),
        props::Method<&TForm1::ColorButton11MouseUp>("ColorButton11MouseUp"),
        props::Method<&TForm1::ColorButton12MouseUp>("ColorButton12MouseUp"),
        props::Method<&TForm1::ColorButton13MouseUp>("ColorButton13MouseUp"),
        props::Method<&TForm1::ColorButton14MouseUp>("ColorButton14MouseUp"),
        props::Method<&TForm1::ColorButton15MouseUp>("ColorButton15MouseUp"),
        props::Method<&TForm1::ColorButton16MouseUp>("ColorButton16MouseUp"),
        props::Method<&TForm1::ColorButton17MouseUp>("ColorButton17MouseUp"),
        props::Method<&TForm1::ColorButton18MouseUp>("ColorButton18MouseUp"),
        props::Method<&TForm1::AnalogClock1MouseUp>("AnalogClock1MouseUp"),
        props::Method<&TForm1::Label1MouseMove>("Label1MouseMove"),
        props::Method<&TForm1::Label2MouseMove>("Label2MouseMove"),
        props::Method<&TForm1::WallPaperChanger1FinishChange>("WallPaperChanger1FinishChange"),
        props::Method<&TForm1::AppIdle>("AppIdle"),
    };
    static const FieldInfo fields[] = {
        props::Field<&TForm1::WallPaperChanger1>("WallPaperChanger1"),
        props::Field<&TForm1::Label1>("Label1"),
        props::Field<&TForm1::LEDLabel1>("LEDLabel1"),
        props::Field<&TForm1::LEDLabel2>("LEDLabel2"),
        props::Field<&TForm1::LEDLabel3>("LEDLabel3"),
        props::Field<&TForm1::LEDLabel4>("LEDLabel4"),
        props::Field<&TForm1::LEDLabel5>("LEDLabel5"),
        props::Field<&TForm1::AnalogClock1>("AnalogClock1"),
        props::Field<&TForm1::ColorButton1>("ColorButton1"),
        props::Field<&TForm1::ColorButton2>("ColorButton2"),
        props::Field<&TForm1::ColorButton3>("ColorButton3"),
        props::Field<&TForm1::ColorButton4>("ColorButton4"),
        props::Field<&TForm1::ColorButton5>("ColorButton5"),
        props::Field<&TForm1::ColorButton6>("ColorButton6"),
        props::Field<&TForm1::ColorButton7>("ColorButton7"),
        props::Field<&TForm1::ColorButton8>("ColorButton8"),
        props::Field<&TForm1::ColorButton9>("ColorButton9"),
        props::Field<&TForm1::ColorButton10>("ColorButton10"),
        props::Field<&TForm1::ColorButton11>("ColorButton11"),
        props::Field<&TForm1::ColorButton12>("ColorButton12"),
        props::Field<&TForm1::ColorButton13>("ColorButton13"),
        props::Field<&TForm1::ColorButton14>("ColorButton14"),
        props::Field<&TForm1::ColorButton15>("ColorButton15"),
        props::Field<&TForm1::ColorButton16>("ColorButton16"),
        props::Field<&TForm1::ColorButton17>("ColorButton17"),
        props::Field<&TForm1::ColorButton18>("ColorButton18"),
        props::Field<&TForm1::BalloonHint1>("BalloonHint1"),
        props::Field<&TForm1::Label2>("Label2"),
    };
    static const ClassInfo info{"TForm1", &TForm::StaticClassInfo(), TForm::StaticClassInfo().props, methods,
                                fields};
    return info;
}

TColorButton* TForm1::Button(int n) const {
    static constexpr TColorButton* TForm1::*kButtons[19] = {
        nullptr,
        &TForm1::ColorButton1,  &TForm1::ColorButton2,  &TForm1::ColorButton3,  &TForm1::ColorButton4,
        &TForm1::ColorButton5,  &TForm1::ColorButton6,  &TForm1::ColorButton7,  &TForm1::ColorButton8,
        &TForm1::ColorButton9,  &TForm1::ColorButton10, &TForm1::ColorButton11, &TForm1::ColorButton12,
        &TForm1::ColorButton13, &TForm1::ColorButton14, &TForm1::ColorButton15, &TForm1::ColorButton16,
        &TForm1::ColorButton17, &TForm1::ColorButton18,
    };
    if (n < 1 || n > 18) return nullptr;
    return this->*kButtons[n];
}

// --- Start-up and shut-down -----------------------------------------------------

void TForm1::ClearToBlack() {
    Canvas()->Brush()->SetColor(clBlack);
    Canvas()->Brush()->SetStyle(bsSolid);
    Canvas()->FillRect(Rect(0, 0, 640, 480));
}

void TForm1::LoadBitmapIntoBuffer(const char* name, int32_t buffer) {
    rl_buffer_open(buffer);
    rl_show_bmp(name, 0);
    rl_buffer_close();
}

void TForm1::FormCreate(TObject*) {
    ScreenDC = GetDC(Handle());
    rl_set_dc(ScreenDC);
    Palette = rl_default_palette();
    rl_realize_palette(Palette);
    Invalidate();

    SoundStartup();

    if (rl_color_depth() < 16) {
        Application->MessageBox("请将 控制面版->显示器->调色板 改成 增强色(16位)", "调色板解析度错误",
                                MB_OK | MB_ICONHAND);
        Application->Terminate();
        return;
    }

    rl_set_display_mode(ScreenWidth, ScreenHeight, rl_color_depth(), 0);

    SetVisible(true);
    SetCaption(kTitle);
    SetLeft(0);
    SetTop(0);
    SetWidth(640);
    SetHeight(480);
    SetWindowState(wsMaximized);

    ClearToBlack();

    rl_init();
    rl_buffer_depth(16);
    WorkBuffer = rl_buffer_alloc(640, 480);
    MenuBuffer = rl_buffer_alloc(640, 480);
    InstallBuffer = rl_buffer_alloc(640, 480);
    GalleryBuffer = rl_buffer_alloc(640, 480);

    LoadBitmapIntoBuffer("system\\Menu.bmp", MenuBuffer);
    LoadBitmapIntoBuffer("system\\item_1.bmp", InstallBuffer);
    LoadBitmapIntoBuffer("system\\item_2.bmp", GalleryBuffer);

    rl_mouse_init();
    rl_mouse_visible(1);

    ButtonSound = ReadEffect("system\\Button.wav", kButtonSoundSize);
    CloseSound = ReadEffect("system\\Close.wav", kCloseSoundSize);

    Screen->SetCursors(1, LoadCursorA(HInstance, "ARROW"));
    Screen->SetCursors(2, LoadCursorA(HInstance, "HAND"));
    Screen->SetCursors(3, LoadCursorA(HInstance, "HAND2"));
    SetCursor(1);

    for (const ButtonHint& h : kButtonHints)
        if (TColorButton* b = Button(h.button)) b->SetHint(h.text);

    for (int n = 1; n <= 18; ++n) {
        if (TColorButton* b = Button(n)) {
            b->SetLeft(kButtonPlaces[n].left);
            b->SetTop(kButtonPlaces[n].top);
        }
    }
    if (Label1) Label1->SetBounds(60, 272, 54, 54);
    if (Label2) Label2->SetBounds(537, 258, 54, 54);
    for (int n = 1; n <= 18; ++n)
        if (TColorButton* b = Button(n)) b->SetCursor(kButtonPlaces[n].cursor);
    if (AnalogClock1) AnalogClock1->SetCursor(3);

    TLEDLabel* leds[5] = {LEDLabel1, LEDLabel2, LEDLabel3, LEDLabel4, LEDLabel5};
    for (int i = 0; i < 5; ++i) {
        if (!leds[i]) continue;
        leds[i]->SetLeft(kLEDPlaces[i].left);
        leds[i]->SetTop(kLEDPlaces[i].top);
        leds[i]->SetSegmentSize(kLEDPlaces[i].segment_size);
    }
    if (AnalogClock1) {
        AnalogClock1->SetLeft(20);
        AnalogClock1->SetTop(425);
    }

    if (WallPaperChanger1) WallPaperChanger1->SetActive(false);

    ShowMainPage();

    Application->OnIdle.Bind(this, &TForm1::AppIdle, "AppIdle");
}

void TForm1::FormActivate(TObject*) {
    rl_realize_palette(Palette);
    Invalidate();
}

void TForm1::FormPaint(TObject*) { PaintPage(); }

void TForm1::FormDestroy(TObject*) {
    // The idle handler would otherwise run on a form that is going.
    if (Application) Application->OnIdle.Clear();
    SoundShutdown();
    delete[] ButtonSound;
    delete[] CloseSound;
    ButtonSound = CloseSound = nullptr;
    rl_buffer_free(WorkBuffer);
    rl_buffer_free(MenuBuffer);
    rl_buffer_free(InstallBuffer);
    rl_buffer_free(GalleryBuffer);
    rl_fini();
    if (Palette) DeleteObject(Palette);
    Palette = nullptr;
    if (ScreenDC && HandleAllocated()) ReleaseDC(Handle(), ScreenDC);
    ScreenDC = nullptr;
    rl_set_display_mode(0, 0, 0, 0);
}

// --- Pages ----------------------------------------------------------------------

void TForm1::HideAllControls() {
    for (int n = 1; n <= 18; ++n)
        if (TColorButton* b = Button(n)) b->SetVisible(false);
    for (TControl* c : {static_cast<TControl*>(Label1), static_cast<TControl*>(Label2),
                        static_cast<TControl*>(AnalogClock1), static_cast<TControl*>(LEDLabel1),
                        static_cast<TControl*>(LEDLabel2), static_cast<TControl*>(LEDLabel3),
                        static_cast<TControl*>(LEDLabel4), static_cast<TControl*>(LEDLabel5)})
        if (c) c->SetVisible(false);
}

namespace {
void ShowControl(TControl* c) {
    if (c) c->SetVisible(true);
}
}  // namespace

void TForm1::ShowMainPage() {
    CurrentPage = MainPage;
    HideAllControls();
    ShowControl(Label1);
    ShowControl(Label2);
    ShowControl(AnalogClock1);
    ShowControl(ColorButton1);
    ShowControl(ColorButton2);
    ShowControl(ColorButton3);
    PaintPage();
}

void TForm1::ShowInstallPage() {
    CurrentPage = InstallPage;
    HideAllControls();
    ShowControl(ColorButton4);
    ShowControl(ColorButton5);
    PaintPage();
}

void TForm1::ShowGalleryPage() {
    CurrentPage = GalleryPage;
    HideAllControls();
    for (int n = 6; n <= 17; ++n) ShowControl(Button(n));
    ShowControl(ColorButton18);
    PaintPage();
}

void TForm1::ShowCountdownPage() {
    CurrentPage = CountdownPage;
    PaintPage();
    HideAllControls();
    ShowControl(LEDLabel1);
    ShowControl(LEDLabel2);
    ShowControl(LEDLabel3);
    ShowControl(LEDLabel4);
}

void TForm1::ShowSecondsPage() {
    CurrentPage = SecondsPage;
    PaintPage();
    HideAllControls();
    ShowControl(LEDLabel5);
}

void TForm1::PaintWindowContent(HDC dc, const TRect& update) {
    PaintArea = update;
    struct Restore {
        TRect& area;
        ~Restore() { area = Rect(0, 0, 640, 480); }
    } restore{PaintArea};
    TForm::PaintWindowContent(dc, update);
}

void TForm1::PastePage(int32_t buffer) {
    const int l = std::max<int>(0, PaintArea.left), t = std::max<int>(0, PaintArea.top);
    const int r = std::min<int>(640, PaintArea.right), b = std::min<int>(480, PaintArea.bottom);
    if (l >= r || t >= b) return;
    rl_buffer_open(buffer);
    // The destination is the lower-left corner of the area.
    rl_buffer_paste(l, r - 1, t, b - 1, l, b - 1);
    rl_buffer_close();
}

void TForm1::PaintPage() {
    switch (CurrentPage) {
        case MainPage: PastePage(MenuBuffer); break;
        case InstallPage: PastePage(InstallBuffer); break;
        case GalleryPage: PastePage(GalleryBuffer); break;
        case PreviewPage:
            if (SelectedWallpaper >= 1 && SelectedWallpaper <= 12) {
                const std::string path = "system\\wall\\" + WallpaperFileName(SelectedWallpaper);
                LoadBitmapIntoBuffer(path.c_str(), WorkBuffer);
            }
            HideAllControls();
            PastePage(WorkBuffer);
            break;
        case CountdownPage:
        case SecondsPage:
            rl_buffer_open(WorkBuffer);
            rl_show_pcx(CurrentPage == CountdownPage ? "system\\count.pcx" : "system\\s_count.pcx", 0);
            rl_buffer_close();
            PastePage(WorkBuffer);
            break;
        default: break;
    }
}

// --- Input ----------------------------------------------------------------------

void TForm1::ButtonMouseUp(int n, TMouseButton button) {
    if (n >= 6 && n <= 17) {
        if (button == mbLeft) {
            ConfirmWallpaper(WallpaperFileName(n - 5));
        } else if (button == mbRight) {
            CurrentPage = PreviewPage;
            SelectedWallpaper = n - 5;
            PaintPage();
        }
        return;
    }
    if (button != mbLeft) return;
    switch (n) {
        case 1:
            PlayEffect(ButtonSound, 127, 64, 64, 1);
            ShowInstallPage();
            break;
        case 2:
            PlayEffect(ButtonSound, 127, 64, 64, 1);
            ShowGalleryPage();
            break;
        case 3: Close(); break;
        case 4: StartInstaller(); break;
        case 5:
        case 18:
            PlayEffect(CloseSound, 127, 64, 64, 1);
            ShowMainPage();
            break;
        default: break;
    }
}

void TForm1::AnalogClock1MouseUp(TObject*, TMouseButton button, TShiftState, int, int) {
    if (button == mbLeft) ShowCountdownPage();
    else if (button == mbRight) ShowSecondsPage();
}

void TForm1::FormKeyDown(TObject*, uint16_t& key, TShiftState) {
    if (key == VK_ESCAPE && CurrentPage == MainPage) Application->Terminate();
    if ((key == VK_ESCAPE || key == VK_SPACE) && (CurrentPage == CountdownPage || CurrentPage == SecondsPage))
        ShowMainPage();
}

void TForm1::FormMouseUp(TObject*, TMouseButton, TShiftState, int, int) {
    if (CurrentPage == PreviewPage) {
        SelectedWallpaper = 0;
        ShowGalleryPage();
    }
    if (CurrentPage == CountdownPage || CurrentPage == SecondsPage) ShowMainPage();
}

void TForm1::StartInstaller() {
    SetEnabled(false);
    PlayEffect(ButtonSound, 127, 64, 64, 1);
    // From the current folder only, under its own name alone; whether it
    // started is not the menu's concern.
    _spawnl(_P_NOWAIT, "Qarmet.exe", "Qarmet.exe", nullptr);
    rl_wait_ticks(40);
    SetEnabled(true);
}

// --- Wallpapers -----------------------------------------------------------------

void TForm1::ConfirmWallpaper(const std::string& name) {
    if (Application->MessageBox("你要立即转换成桌布吗?", "注意", MB_YESNO) == IDYES) InstallWallpaper(name);
}

bool TForm1::InstallWallpaper(const std::string& name) {
    char source[kPathBuffer];
    const int n = std::snprintf(source, sizeof source, "system\\wall\\%s", name.c_str());
    if (n < 0 || size_t(n) >= sizeof source) return false;
    char destination[kPathBuffer];
    if (!WallpaperDestination(name.c_str(), destination, sizeof destination)) return false;

    HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    const DWORD size = GetFileSize(in, &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size == 0 || size > kMaxWallpaperBytes) {
        CloseHandle(in);
        return false;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
    DWORD got = 0;
    const BOOL read = ReadFile(in, buffer.get(), size, &got, nullptr);
    CloseHandle(in);
    if (!read || got != size) return false;

    HANDLE out = CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const BOOL wrote = WriteFile(out, buffer.get(), size, &put, nullptr);
    CloseHandle(out);
    if (!wrote || put != size) {
        // A half-written picture must not become the desktop.
        DeleteFileA(destination);
        return false;
    }
    WallPaperChanger1->SetFilename(destination);
    WallPaperChanger1->SetTiled(false);
    WallPaperChanger1->SetActive(true);
    return true;
}

void TForm1::WallPaperChanger1FinishChange(TObject*) {
    WallPaperChanger1->SetActive(false);
    Application->MessageBox(
        "你选的桌布已经设定完成 !!\n\n请结束程序回到Windows中查看.\n\n如果你看不到设定的桌布,\n"
        "请将Active DeskTop设成Web的项目取消。",
        "完成", MB_OK);
}

// --- Countdown and mascots ------------------------------------------------------

void TForm1::AppIdle(TObject*, bool& done) {
    const CountdownCaptions c = CountdownFrom(DateTimeNow());
    if (LEDLabel1) LEDLabel1->SetCaption(c.days);
    if (LEDLabel2) LEDLabel2->SetCaption(c.hours);
    if (LEDLabel3) LEDLabel3->SetCaption(c.minutes);
    if (LEDLabel4) LEDLabel4->SetCaption(c.seconds);
    if (LEDLabel5) LEDLabel5->SetCaption(c.total);
    done = false;
}

void TForm1::Label1MouseMove(TObject*, TShiftState, int, int) {
    if (++MascotHintIndex1 >= 8) MascotHintIndex1 = 0;
    if (Label1) Label1->SetHint(kMascot1Hints[MascotHintIndex1]);
}

void TForm1::Label2MouseMove(TObject*, TShiftState, int, int) {
    if (++MascotHintIndex2 >= 8) MascotHintIndex2 = 0;
    if (Label2) Label2->SetHint(kMascot2Hints[MascotHintIndex2]);
}
