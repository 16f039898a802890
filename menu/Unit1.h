// The menu's one form: start-up, the six pages and their navigation, the
// installer start, the wallpaper gallery, the countdown and the mascots.
#pragma once

#include <cstdint>
#include <string>

#include "Anaclock.h"
#include "Balloon.h"
#include "Colorbutton.h"
#include "Ledgadgt.h"
#include "Twall.h"
#include "forms.h"
#include "stdctrls.h"

// Pages.
enum : int32_t { MainPage, InstallPage, GalleryPage, PreviewPage, CountdownPage, SecondsPage };

extern int32_t CurrentPage;
extern int32_t SelectedWallpaper;  // 1..12 on the preview page, else 0
extern int32_t MascotHintIndex1, MascotHintIndex2;

// The effects as read from the disc; null when a file was missing or not a
// sound that fits its buffer (the effect is then silent).
constexpr int32_t kButtonSoundSize = 15482;
constexpr int32_t kCloseSoundSize = 15920;
extern uint8_t* ButtonSound;
extern uint8_t* CloseSound;

// The program's image base, under which its own resources are found.
extern const HINSTANCE HInstance;

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);

    // Published fields, in the order of the form description.
    TWallPaperChanger* WallPaperChanger1 = nullptr;
    TLabel* Label1 = nullptr;
    TLEDLabel *LEDLabel1 = nullptr, *LEDLabel2 = nullptr, *LEDLabel3 = nullptr, *LEDLabel4 = nullptr,
              *LEDLabel5 = nullptr;
    TAnalogClock* AnalogClock1 = nullptr;
    TColorButton *ColorButton1 = nullptr, *ColorButton2 = nullptr, *ColorButton3 = nullptr,
                 *ColorButton4 = nullptr, *ColorButton5 = nullptr, *ColorButton6 = nullptr,
                 *ColorButton7 = nullptr, *ColorButton8 = nullptr, *ColorButton9 = nullptr,
                 *ColorButton10 = nullptr, *ColorButton11 = nullptr, *ColorButton12 = nullptr,
                 *ColorButton13 = nullptr, *ColorButton14 = nullptr, *ColorButton15 = nullptr,
                 *ColorButton16 = nullptr, *ColorButton17 = nullptr, *ColorButton18 = nullptr;
    TBalloonHint* BalloonHint1 = nullptr;
    TLabel* Label2 = nullptr;

    // Published methods.
    void FormCreate(TObject* sender);
    void FormActivate(TObject* sender);
    void FormPaint(TObject* sender);
    void FormDestroy(TObject* sender);
    void FormKeyDown(TObject* sender, uint16_t& key, TShiftState shift);
    void FormMouseUp(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
#define FORM1_BUTTON_HANDLER(n) \
    void ColorButton##n##MouseUp(TObject*, TMouseButton b, TShiftState, int, int) { ButtonMouseUp(n, b); }
    FORM1_BUTTON_HANDLER(1) FORM1_BUTTON_HANDLER(2) FORM1_BUTTON_HANDLER(3)
    FORM1_BUTTON_HANDLER(4) FORM1_BUTTON_HANDLER(5) FORM1_BUTTON_HANDLER(6)
    FORM1_BUTTON_HANDLER(7) FORM1_BUTTON_HANDLER(8) FORM1_BUTTON_HANDLER(9)
    FORM1_BUTTON_HANDLER(10) FORM1_BUTTON_HANDLER(11) FORM1_BUTTON_HANDLER(12)
    FORM1_BUTTON_HANDLER(13) FORM1_BUTTON_HANDLER(14) FORM1_BUTTON_HANDLER(15)
    FORM1_BUTTON_HANDLER(16) FORM1_BUTTON_HANDLER(17) FORM1_BUTTON_HANDLER(18)
#undef FORM1_BUTTON_HANDLER
    void AnalogClock1MouseUp(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void Label1MouseMove(TObject* sender, TShiftState shift, int x, int y);
    void Label2MouseMove(TObject* sender, TShiftState shift, int x, int y);
    void WallPaperChanger1FinishChange(TObject* sender);
    void AppIdle(TObject* sender, bool& done);

    // ColorButton1 .. ColorButton18 by number; null outside.
    TColorButton* Button(int n) const;
    // What a mouse-up on button n does.
    void ButtonMouseUp(int n, TMouseButton button);

    // Page helpers.
    void HideAllControls();
    void ShowMainPage();
    void ShowInstallPage();
    void ShowGalleryPage();
    void ShowCountdownPage();
    void ShowSecondsPage();
    void PaintPage();

    void ClearToBlack();
    void LoadBitmapIntoBuffer(const char* name, int32_t buffer);
    void StartInstaller();
    void ConfirmWallpaper(const std::string& name);
    // False, and nothing changed, when the file cannot be read or a path
    // does not fit its 40-character buffer.
    bool InstallWallpaper(const std::string& name);

    int32_t ScreenWidthValue() const { return ScreenWidth; }
    int32_t ScreenHeightValue() const { return ScreenHeight; }

    FW_CLASS_INFO();

protected:
    // A repaint copies only the damaged part of the page: a full copy
    // would wipe controls outside it that are not repainted.
    void PaintWindowContent(HDC dc, const TRect& update) override;

private:
    void PastePage(int32_t buffer);

    TRect PaintArea{0, 0, 640, 480};
    HDC ScreenDC = nullptr;
    HPALETTE Palette = nullptr;
    int32_t WorkBuffer = 0;
    int32_t MenuBuffer = 0;
    int32_t InstallBuffer = 0;
    int32_t GalleryBuffer = 0;
    int32_t ScreenWidth = 0;
    int32_t ScreenHeight = 0;
};

extern TForm1* Form1;

// Makes the form's component classes known to the form reader.
void RegisterFormClasses();

// Wallpaper n (1..12): "9904nn.bmp".
std::string WallpaperFileName(int n);
// "<windir>\<name>", or "c:\<name>" without windir, into `out` of `size`
// bytes; false when it does not fit.
bool WallpaperDestination(const char* name, char* out, size_t size);
// A RIFF WAVE image whose format and data chunks lie inside `size` bytes.
bool EffectImageFits(const uint8_t* image, size_t size);
