// MessageBoxA as a dialog window of the stand-in: caption, icon, text with
// line breaks and the buttons of its kind; modal, with its own message
// loop. Answers queued by a script or a test are taken first.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "win32/gui_ext.h"
#include "win32/kernel_ext.h"
#include "win32/user.h"
#include "wm.h"

namespace {

constexpr UINT kAnswerMessage = WM_USER + 0x7A0;
constexpr int kButtonW = 75, kButtonH = 23, kGap = 6, kMargin = 12, kCaptionH = 18;
constexpr int kIcon = 32;
constexpr const char* kClass = "Win32StandInMessageBox";

struct Answers {
    std::mutex mutex;
    std::deque<int> queued;
    std::vector<HWND> open_boxes;
};

Answers& answers() {
    static auto* a = new Answers;
    return *a;
}

struct Button {
    RECT rect;
    int id;
    const char* label;
};

struct Box {
    std::string text, caption;
    UINT type = 0;
    std::vector<Button> buttons;
    int default_button = 0;
    int answer = 0;
    RECT text_rect{};
    bool icon = false;
    HFONT font = nullptr;
};

const char* label_of(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "";
    }
}

std::vector<int> buttons_of(UINT type) {
    switch (type & 0xF) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
    }
}

// What Esc and the close request answer: Cancel where there is one, OK for
// a box with OK alone, nothing otherwise (as in Windows).
int escape_answer(const Box& b) {
    for (const Button& btn : b.buttons)
        if (btn.id == IDCANCEL) return IDCANCEL;
    return b.buttons.size() == 1 && b.buttons[0].id == IDOK ? IDOK : 0;
}

void fill(HDC dc, RECT r, COLORREF c) {
    HBRUSH brush = CreateSolidBrush(c);
    HGDIOBJ old = SelectObject(dc, brush);
    PatBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, PATCOPY);
    SelectObject(dc, old);
    DeleteObject(brush);
}

// The raised 3-D edge of Windows 9x buttons and dialogs.
void raised(HDC dc, RECT r) {
    fill(dc, {r.left, r.top, r.right - 1, r.top + 1}, GetSysColor(COLOR_BTNHIGHLIGHT));
    fill(dc, {r.left, r.top, r.left + 1, r.bottom - 1}, GetSysColor(COLOR_BTNHIGHLIGHT));
    fill(dc, {r.left, r.bottom - 1, r.right, r.bottom}, GetSysColor(COLOR_3DDKSHADOW));
    fill(dc, {r.right - 1, r.top, r.right, r.bottom}, GetSysColor(COLOR_3DDKSHADOW));
    fill(dc, {r.left + 1, r.bottom - 2, r.right - 1, r.bottom - 1}, GetSysColor(COLOR_BTNSHADOW));
    fill(dc, {r.right - 2, r.top + 1, r.right - 1, r.bottom - 1}, GetSysColor(COLOR_BTNSHADOW));
}

void draw_stop_icon(HDC dc, int x, int y) {
    HRGN disc = CreateRoundRectRgn(x, y, x + kIcon, y + kIcon, kIcon, kIcon);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRgn(dc, disc, red);
    const POINT a[] = {{x + 9, y + 11}, {x + 11, y + 9}, {x + 23, y + 21}, {x + 21, y + 23}};
    const POINT b[] = {{x + 21, y + 9}, {x + 23, y + 11}, {x + 11, y + 23}, {x + 9, y + 21}};
    for (const POINT* p : {a, b}) {
        HRGN stroke = CreatePolygonRgn(p, 4, ALTERNATE);
        FillRgn(dc, stroke, white);
        DeleteObject(stroke);
    }
    DeleteObject(disc);
    DeleteObject(red);
    DeleteObject(white);
}

void paint(HWND h, Box& b) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT c;
    GetClientRect(h, &c);
    fill(dc, c, GetSysColor(COLOR_BTNFACE));
    raised(dc, c);
    fill(dc, {3, 3, c.right - 3, 3 + kCaptionH}, GetSysColor(COLOR_ACTIVECAPTION));
    HGDIOBJ old_font = SelectObject(dc, b.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    RECT cap{8, 3, c.right - 6, 3 + kCaptionH};
    DrawTextA(dc, b.caption.c_str(), -1, &cap, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (b.icon) draw_stop_icon(dc, kMargin + 3, 3 + kCaptionH + kMargin);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    RECT t = b.text_rect;
    DrawTextA(dc, b.text.c_str(), -1, &t, DT_WORDBREAK | DT_NOPREFIX);
    for (size_t i = 0; i < b.buttons.size(); ++i) {
        const Button& btn = b.buttons[i];
        RECT r = btn.rect;
        if (int(i) == b.default_button) {
            // The default button wears a black frame.
            fill(dc, {r.left, r.top, r.right, r.top + 1}, 0);
            fill(dc, {r.left, r.bottom - 1, r.right, r.bottom}, 0);
            fill(dc, {r.left, r.top, r.left + 1, r.bottom}, 0);
            fill(dc, {r.right - 1, r.top, r.right, r.bottom}, 0);
            r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
        }
        raised(dc, r);
        DrawTextA(dc, btn.label, -1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    }
    SelectObject(dc, old_font);
    EndPaint(h, &ps);
}

LRESULT CALLBACK box_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* b = reinterpret_cast<Box*>(GetWindowLongPtrA(h, GWL_USERDATA));
    if (!b) return DefWindowProcA(h, msg, wp, lp);
    switch (msg) {
    case WM_PAINT: paint(h, *b); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONUP: {
        const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        for (const Button& btn : b->buttons)
            if (p.x >= btn.rect.left && p.x < btn.rect.right && p.y >= btn.rect.top && p.y < btn.rect.bottom)
                b->answer = btn.id;
        return 0;
    }
    case WM_KEYDOWN:
        if (wp == VK_RETURN || wp == VK_SPACE) b->answer = b->buttons[size_t(b->default_button)].id;
        if (wp == VK_ESCAPE && escape_answer(*b)) b->answer = escape_answer(*b);
        return 0;
    case WM_CLOSE:
        if (escape_answer(*b)) b->answer = escape_answer(*b);
        return 0;
    case kAnswerMessage:
        b->answer = int(wp);
        return 0;
    default: return DefWindowProcA(h, msg, wp, lp);
    }
}

void register_class() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = box_proc;
        wc.lpszClassName = kClass;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        RegisterClassA(&wc);
    });
}

bool take_queued(int& answer) {
    Answers& a = answers();
    std::lock_guard lock(a.mutex);
    if (a.queued.empty()) return false;
    answer = a.queued.front();
    a.queued.pop_front();
    return true;
}

std::atomic<bool>& script_running_flag();

int message_box(HWND owner, const char* text, const char* caption, UINT type) {
    win32::wm::ensure_window_system();
    register_class();
    Box b;
    b.text = text ? text : "";
    b.caption = caption ? caption : "Error";
    b.type = type;
    b.icon = (type & 0xF0) != 0;
    LOGFONTA lf{};
    lf.lfHeight = -12;
    std::strcpy(lf.lfFaceName, "MS Sans Serif");
    b.font = CreateFontIndirectA(&lf);

    // Layout: measure the text in a scratch DC.
    HDC measure = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(measure, b.font);
    RECT t{0, 0, 400, 0};
    DrawTextA(measure, b.text.c_str(), -1, &t, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    RECT cap{0, 0, 0, 0};
    DrawTextA(measure, b.caption.c_str(), -1, &cap, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(measure, old);
    DeleteDC(measure);
    const std::vector<int> ids = buttons_of(type);
    const int buttons_w = int(ids.size()) * kButtonW + int(ids.size() - 1) * kGap;
    const int icon_w = b.icon ? kIcon + kMargin : 0;
    const int body_h = std::max<int>(t.bottom, b.icon ? kIcon : 0);
    const int w = std::max({int(t.right) + icon_w + 2 * kMargin, buttons_w + 2 * kMargin,
                            int(cap.right) + 40}) + 6;
    const int h = 3 + kCaptionH + kMargin + body_h + kMargin + kButtonH + kMargin + 3;
    const int text_top = 3 + kCaptionH + kMargin + (body_h - int(t.bottom)) / 2;
    b.text_rect = RECT{3 + kMargin + icon_w, text_top, 3 + kMargin + icon_w + t.right, text_top + t.bottom};
    int x = (w - buttons_w) / 2;
    const int y = h - 3 - kMargin - kButtonH;
    for (int id : ids) {
        b.buttons.push_back({RECT{x, y, x + kButtonW, y + kButtonH}, id, label_of(id)});
        x += kButtonW + kGap;
    }
    const int def = int((type >> 8) & 0xF);
    const int want = win32::default_message_box_answer(type);
    b.default_button = 0;
    for (size_t i = 0; i < b.buttons.size(); ++i)
        if (b.buttons[i].id == want) b.default_button = int(i);
    (void)def;

    const win32::ScreenMode mode = win32::screen_mode();
    HWND box = CreateWindowExA(WS_EX_TOPMOST, kClass, b.caption.c_str(), WS_POPUP,
                               (mode.width - w) / 2, (mode.height - h) / 2, w, h, nullptr, nullptr,
                               nullptr, nullptr);
    if (!box) {
        DeleteObject(b.font);
        return win32::default_message_box_answer(type);
    }
    SetWindowLongPtrA(box, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&b));
    const bool owner_enabled = owner && IsWindow(owner) && IsWindowEnabled(owner);
    if (owner_enabled) EnableWindow(owner, FALSE);
    ShowWindow(box, SW_SHOW);
    UpdateWindow(box);
    {
        Answers& a = answers();
        std::lock_guard lock(a.mutex);
        a.open_boxes.push_back(box);
    }

    int answer = 0;
    if (take_queued(answer)) b.answer = answer;
    // Headless without a script or a queued answer: nobody can press a
    // button, so the box gives its default answer once drawn.
    if (!b.answer && win32::wm::headless() && !script_running_flag().load())
        b.answer = win32::default_message_box_answer(type);
    MSG m;
    while (!b.answer) {
        const BOOL got = GetMessageA(&m, nullptr, 0, 0);
        if (got <= 0) {
            // A quit request ends the box and goes on to the caller's loop.
            if (got == 0) PostQuitMessage(int(m.wParam));
            b.answer = escape_answer(b) ? escape_answer(b) : win32::default_message_box_answer(type);
            break;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    {
        Answers& a = answers();
        std::lock_guard lock(a.mutex);
        a.open_boxes.erase(std::remove(a.open_boxes.begin(), a.open_boxes.end(), box), a.open_boxes.end());
    }
    if (owner_enabled) EnableWindow(owner, TRUE);
    SetWindowLongPtrA(box, GWL_USERDATA, 0);
    DestroyWindow(box);
    DeleteObject(b.font);
    if (owner_enabled) SetActiveWindow(owner);
    return b.answer;
}

std::atomic<bool>& script_running_flag() {
    static std::atomic<bool> running{false};
    return running;
}

// Installed when the library loads, so that every program with the window
// system gets the drawn box.
const bool installed = [] {
    win32::set_message_box_handler(message_box);
    return true;
}();

}  // namespace

namespace win32 {

void queue_message_box_answer(int answer) {
    Answers& a = answers();
    std::unique_lock lock(a.mutex);
    if (!a.open_boxes.empty()) {
        HWND box = a.open_boxes.back();
        lock.unlock();
        PostMessageA(box, kAnswerMessage, WPARAM(answer), 0);
        return;
    }
    a.queued.push_back(answer);
}

namespace wm {
void set_script_running(bool running) { script_running_flag() = running; }
}  // namespace wm

}  // namespace win32
