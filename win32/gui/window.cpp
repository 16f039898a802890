// The window manager: the window tree, z-order, window DCs, painting,
// window messages on the kernel's per-thread queues, input routing,
// capture, focus, activation and the get-message hook.
//
// Top-level windows are composited onto the one screen by clipping: each
// window draws straight onto the screen through a DC limited to its
// visible part (its shape, less the windows above it), and whatever a
// change uncovers is invalidated in the windows below or filled with the
// desktop colour. Window procedures always run without the manager's lock.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "gdi_state.h"
#include "win32/gui_ext.h"
#include "win32/kernel_ext.h"
#include "wm.h"

namespace win32::wm {

using gdi::Region;
using gdi::RegionOp;
using gdi::Rgb;

void post_input_event(int kind, MouseButton button, bool down, int x, int y, int vk);

namespace {

constexpr size_t kMaxPosted = 10000;
constexpr DWORD kErrorNotEnoughQuota = 1816;
constexpr DWORD kErrorAccessDenied = 5;

struct WindowClass {
    std::string name;  // as registered
    UINT style = 0;
    WNDPROC proc = nullptr;
    int wnd_extra = 0;
    HINSTANCE instance = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
};

struct LiveDc {
    HDC dc;
    std::optional<Region> paint;  // the part being painted (screen coordinates)
};

struct Window {
    HWND handle = nullptr;
    DWORD thread = 0;
    std::shared_ptr<WindowClass> cls;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD ex_style = 0;
    RECT rect{};  // in the parent's client coordinates (screen for top-level)
    HWND parent = nullptr;
    HWND owner = nullptr;
    std::vector<HWND> children;  // z-order, top first
    std::string text;
    LONG_PTR user_data = 0;
    LONG_PTR id = 0;
    HINSTANCE instance = nullptr;
    std::vector<uint8_t> extra;
    Region update;  // client coordinates
    bool erase = false;
    bool paint_queued = false;
    int painting = 0;  // BeginPaint without its EndPaint yet: the screen is half drawn
    std::optional<Region> shape;  // window coordinates
    std::vector<LiveDc> dcs;
    bool destroying = false;
    bool created = false;  // WM_NCCREATE went through
};

struct Sent {
    MSG msg{};
    DWORD thread = 0;
    LRESULT result = 0;
    bool done = false;
};

struct Hook {
    HHOOK handle;
    HOOKPROC proc;
    DWORD thread;  // 0: every thread
};

enum class InputKind { Move, Button, Key };

struct InputEvent {
    InputKind kind;
    MouseButton button = MouseButton::Left;
    bool down = false;
    int x = 0, y = 0;
    int vk = 0;
};

struct Manager {
    std::mutex mutex;
    std::condition_variable sent_done;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<HWND> top;  // top-level windows, z-order, top first
    std::map<std::string, std::shared_ptr<WindowClass>> classes;  // lower-case names
    uintptr_t next_handle = 0x00010020;
    uintptr_t next_hook = 0x00020010;
    HWND capture = nullptr, focus = nullptr, active = nullptr;
    POINT cursor{0, 0};
    std::deque<InputEvent> input;
    std::array<uint8_t, 256> keys{};        // as messages were taken
    std::array<uint8_t, 256> async_keys{};  // as the devices are now
    std::unordered_map<DWORD, std::deque<MSG>> posted;
    std::deque<std::shared_ptr<Sent>> sent;
    std::vector<Hook> hooks;  // newest first
};

Manager& manager() {
    static auto* m = new Manager;  // threads may still post during exit
    return *m;
}

void install_seams();

void ensure_init() {
    static std::once_flag once;
    std::call_once(once, install_seams);
}

std::string lower(const char* s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

Window* find(Manager& m, HWND h) {
    auto it = m.windows.find(reinterpret_cast<uintptr_t>(h));
    return it == m.windows.end() ? nullptr : it->second.get();
}

Window* find_live(Manager& m, HWND h) {
    Window* w = find(m, h);
    return w && !w->destroying ? w : nullptr;
}

// Runs body(m, w) under the manager lock on the live window h; without one,
// sets ERROR_INVALID_WINDOW_HANDLE and returns fail.
template <typename R, typename F>
R with_window(HWND h, R fail, F&& body) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    Window* w = find_live(m, h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return fail;
    }
    return body(m, *w);
}

// Window coordinates and sizes stay far from overflow, whatever callers ask.
constexpr int kCoordLimit = 1 << 20;
LONG coord(int64_t v) { return LONG(std::clamp<int64_t>(v, -kCoordLimit, kCoordLimit)); }
LONG extent(int64_t v) { return LONG(std::clamp<int64_t>(v, 0, kCoordLimit)); }
LONG saturate(int64_t v) { return LONG(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
RECT placed(int64_t x, int64_t y, int64_t w, int64_t h) {
    const LONG l = coord(x), t = coord(y);
    return RECT{l, t, l + extent(w), t + extent(h)};
}

bool child(const Window& w) { return (w.style & WS_CHILD) != 0 && w.parent; }

POINT screen_origin(Manager& m, const Window& w) {
    POINT p{w.rect.left, w.rect.top};
    for (Window* p_w = find(m, w.parent); p_w; p_w = find(m, p_w->parent)) {
        p.x += p_w->rect.left;
        p.y += p_w->rect.top;
    }
    return p;
}

RECT screen_rect(Manager& m, const Window& w) {
    POINT o = screen_origin(m, w);
    return RECT{o.x, o.y, o.x + (w.rect.right - w.rect.left), o.y + (w.rect.bottom - w.rect.top)};
}

// Adds the window's screen origin to p, times sign.
// Sets no error on failure, unlike with_window.
BOOL shift_by_origin(HWND h, POINT* p, int sign) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    Window* w = find_live(m, h);
    if (!w || !p) return FALSE;
    const POINT o = screen_origin(m, *w);
    p->x = saturate(int64_t(p->x) + int64_t(sign) * o.x);
    p->y = saturate(int64_t(p->y) + int64_t(sign) * o.y);
    return TRUE;
}

// The window a manager field names, unless it is gone meanwhile.
HWND live_held(HWND Manager::*field) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    const HWND h = m.*field;
    return find_live(m, h) ? h : nullptr;
}

bool shown(Manager& m, const Window& w) {
    for (const Window* p = &w; p; p = find(m, p->parent))
        if (!(p->style & WS_VISIBLE) || p->destroying) return false;
    return true;
}

bool enabled_chain(Manager& m, const Window& w) {
    for (const Window* p = &w; p; p = find(m, p->parent))
        if (p->style & WS_DISABLED) return false;
    return true;
}

// The window's rectangle cut to its shape, in screen coordinates.
Region area(Manager& m, const Window& w) {
    const RECT r = screen_rect(m, w);
    Region a(r);
    if (w.shape) {
        Region s = *w.shape;
        s.offset(r.left, r.top);
        a = a.combine(s, RegionOp::And);
    }
    return a;
}

Window* top_level_of(Manager& m, Window* w) {
    while (w && child(*w)) w = find(m, w->parent);
    return w;
}

// What the window covers on the screen, its children included.
Region occupied(Manager& m, Window& w) {
    if (!shown(m, w)) return Region();
    Region v = area(m, w);
    Window* last = &w;
    for (Window* p = find(m, w.parent); p && child(*last); p = find(m, p->parent)) {
        v = v.combine(area(m, *p), RegionOp::And);
        if (last->style & WS_CLIPSIBLINGS) {
            for (HWND sib : p->children) {
                if (sib == last->handle) break;
                Window* s = find(m, sib);
                if (s && shown(m, *s)) v = v.combine(area(m, *s), RegionOp::Diff);
            }
        }
        last = p;
    }
    Window* t = top_level_of(m, &w);
    for (HWND above : m.top) {
        if (!t || above == t->handle) break;
        Window* a = find(m, above);
        if (a && shown(m, *a)) v = v.combine(area(m, *a), RegionOp::Diff);
    }
    return v;
}

// Where the window's own drawing may go.
Region visible(Manager& m, Window& w) {
    Region v = occupied(m, w);
    if (w.style & WS_CLIPCHILDREN) {
        for (HWND c : w.children) {
            Window* cw = find(m, c);
            if (cw && shown(m, *cw)) v = v.combine(area(m, *cw), RegionOp::Diff);
        }
    }
    return v;
}

// Every window, parents before their children, top of the z-order first.
void walk(Manager& m, const std::vector<HWND>& level, std::vector<Window*>& out) {
    for (HWND h : level) {
        Window* w = find(m, h);
        if (!w) continue;
        out.push_back(w);
        walk(m, w->children, out);
    }
}

std::vector<Window*> all_windows(Manager& m) {
    std::vector<Window*> out;
    walk(m, m.top, out);
    return out;
}

void invalidate_screen_part(Manager& m, Window& w, const Region& part, bool erase,
                            std::unordered_set<DWORD>& wake) {
    if (part.empty()) return;
    Region local = part;
    const POINT o = screen_origin(m, w);
    local.offset(-o.x, -o.y);
    w.update = w.update.combine(local, RegionOp::Or);
    w.erase = w.erase || erase;
    wake.insert(w.thread);
}

Rgb desktop_color() { return gdi::rgb_of(GetSysColor(COLOR_BACKGROUND)); }

// Whatever no window covers any more shows the desktop again, and the
// windows below get to paint what came out from under.
void expose(Manager& m, const Region& uncovered, std::unordered_set<DWORD>& wake) {
    if (uncovered.empty()) return;
    Region desktop = uncovered;
    for (Window* w : all_windows(m)) {
        if (!shown(m, *w)) continue;
        Region part = occupied(m, *w).combine(uncovered, RegionOp::And);
        invalidate_screen_part(m, *w, part, true, wake);
        if (!child(*w)) desktop = desktop.combine(part, RegionOp::Diff);
    }
    if (desktop.empty()) return;
    gdi::State& s = gdi::state();
    std::lock_guard lock(s.mutex);
    auto dc = gdi::make_dc(s, false);
    gdi::fill_region(s, *dc, desktop, desktop_color());
    gdi::release_dc_objects(*dc);
    s.objects.erase(dc->handle);
}

// Window DCs follow every change of what their window may draw on.
void refresh_dcs(Manager& m) {
    for (auto& entry : m.windows) {
        Window& w = *entry.second;
        if (w.dcs.empty()) continue;
        const Region v = visible(m, w);
        const POINT o = screen_origin(m, w);
        for (LiveDc& d : w.dcs)
            gdi::set_window_dc_view(d.dc, o, d.paint ? v.combine(*d.paint, RegionOp::And) : v);
    }
}

void wake_all(const std::unordered_set<DWORD>& threads) {
    for (DWORD t : threads) wake_thread(t);
}

// Runs `change` on the window and repaints what it moved, uncovered or
// revealed. Called with the lock held.
template <typename F>
void reshape(Manager& m, Window& w, F&& change, std::unordered_set<DWORD>& wake) {
    const Region before = occupied(m, w);
    change();
    const Region after = occupied(m, w);
    expose(m, before.combine(after, RegionOp::Diff), wake);
    if (!after.empty() && !(after == before)) {
        // Shown, moved, raised or reshaped: the window paints itself anew.
        const RECT r = screen_rect(m, w);
        invalidate_screen_part(m, w, Region(r), true, wake);
        for (Window* c : [&] {
                 std::vector<Window*> kids;
                 walk(m, w.children, kids);
                 return kids;
             }())
            if (shown(m, *c)) invalidate_screen_part(m, *c, Region(screen_rect(m, *c)), true, wake);
    }
    refresh_dcs(m);
}

bool is_topmost(const Window& w) { return (w.ex_style & WS_EX_TOPMOST) != 0; }

// Places a top-level window at the top of its band (topmost or not).
void raise(Manager& m, Window& w) {
    if (child(w)) {
        Window* p = find(m, w.parent);
        if (!p) return;
        auto& c = p->children;
        c.erase(std::remove(c.begin(), c.end(), w.handle), c.end());
        c.insert(c.begin(), w.handle);
        return;
    }
    m.top.erase(std::remove(m.top.begin(), m.top.end(), w.handle), m.top.end());
    auto at = m.top.begin();
    if (!is_topmost(w)) {
        while (at != m.top.end()) {
            Window* o = find(m, *at);
            if (!o || !is_topmost(*o)) break;
            ++at;
        }
    }
    m.top.insert(at, w.handle);
}

void lower_to_bottom(Manager& m, Window& w) {
    auto& list = child(w) ? find(m, w.parent)->children : m.top;
    list.erase(std::remove(list.begin(), list.end(), w.handle), list.end());
    list.push_back(w.handle);
}

// Calls a window procedure with the lock released.
LRESULT call(WNDPROC proc, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (!proc) return 0;
    try {
        return proc(h, msg, wp, lp);
    } catch (...) {
        return 0;  // no exception crosses into C message loops
    }
}

LRESULT send_local(HWND h, UINT msg, WPARAM wp, LPARAM lp);

// ---- Sent messages between threads ---------------------------------------

// Runs the messages other threads sent to this thread's windows.
void serve_sent() {
    Manager& m = manager();
    const DWORD me = GetCurrentThreadId();
    for (;;) {
        std::shared_ptr<Sent> job;
        {
            std::lock_guard lock(m.mutex);
            auto it = std::find_if(m.sent.begin(), m.sent.end(),
                                   [&](const auto& s) { return s->thread == me; });
            if (it == m.sent.end()) return;
            job = *it;
            m.sent.erase(it);
        }
        LRESULT r = send_local(job->msg.hwnd, job->msg.message, job->msg.wParam, job->msg.lParam);
        {
            std::lock_guard lock(m.mutex);
            job->result = r;
            job->done = true;
        }
        m.sent_done.notify_all();
    }
}

// ---- Activation and focus ------------------------------------------------

void set_focus_to(HWND h);

void activate(HWND h, WPARAM how) {
    Manager& m = manager();
    HWND old;
    WNDPROC old_proc = nullptr, new_proc = nullptr;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (w) w = top_level_of(m, w);
        h = w ? w->handle : nullptr;
        old = m.active;
        if (old == h) return;
        m.active = h;
        if (Window* o = find_live(m, old)) old_proc = o->proc;
        if (w) {
            new_proc = w->proc;
            std::unordered_set<DWORD> wake;
            reshape(m, *w, [&] { raise(m, *w); }, wake);
            wake_all(wake);
        }
    }
    if (old_proc) call(old_proc, old, WM_ACTIVATE, WA_INACTIVE, LPARAM(h));
    if (new_proc) call(new_proc, h, WM_ACTIVATE, how, LPARAM(old));
}

void set_focus_to(HWND h) {
    Manager& m = manager();
    HWND old;
    WNDPROC old_proc = nullptr, new_proc = nullptr;
    {
        std::lock_guard lock(m.mutex);
        old = m.focus;
        if (old == h) return;
        m.focus = h;
        if (Window* o = find_live(m, old)) old_proc = o->proc;
        if (Window* n = find_live(m, h)) new_proc = n->proc;
    }
    if (old_proc) call(old_proc, old, WM_KILLFOCUS, WPARAM(h), 0);
    if (new_proc) call(new_proc, h, WM_SETFOCUS, WPARAM(old), 0);
}

void release_capture_of(Manager& m, HWND gone, std::vector<std::pair<WNDPROC, HWND>>& notify) {
    if (m.capture != gone) return;
    if (Window* w = find(m, gone)) notify.push_back({w->proc, gone});
    m.capture = nullptr;
}

// ---- Input routing -------------------------------------------------------

// The deepest enabled, visible window at a screen point; windows answering
// HTTRANSPARENT to the hit test let the point through (only those of the
// calling thread are asked). Null over the desktop.
HWND hit_test(POINT p) {
    Manager& m = manager();
    const DWORD me = GetCurrentThreadId();
    std::vector<std::tuple<HWND, WNDPROC, DWORD>> candidates;
    {
        std::lock_guard lock(m.mutex);
        for (HWND h : m.top) {
            Window* w = find(m, h);
            if (w && shown(m, *w) && area(m, *w).contains(p.x, p.y))
                candidates.emplace_back(h, w->proc, w->thread);
        }
    }
    HWND found = nullptr;
    for (auto& [h, proc, thread] : candidates) {
        if (thread == me && call(proc, h, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)) == HTTRANSPARENT)
            continue;
        found = h;
        break;
    }
    if (!found) return nullptr;
    std::lock_guard lock(m.mutex);
    for (Window* w = find(m, found); w;) {
        Window* next = nullptr;
        for (HWND c : w->children) {
            Window* cw = find(m, c);
            if (cw && shown(m, *cw) && !(cw->style & WS_DISABLED) && area(m, *cw).contains(p.x, p.y)) {
                next = cw;
                break;
            }
        }
        if (!next) break;
        found = next->handle;
        w = next;
    }
    return found;
}

WPARAM mouse_flags(const Manager& m) {
    WPARAM f = 0;
    if (m.keys[VK_LBUTTON] & 0x80) f |= MK_LBUTTON;
    if (m.keys[VK_RBUTTON] & 0x80) f |= MK_RBUTTON;
    if (m.keys[VK_MBUTTON] & 0x80) f |= MK_MBUTTON;
    if (m.keys[VK_SHIFT] & 0x80) f |= MK_SHIFT;
    if (m.keys[VK_CONTROL] & 0x80) f |= MK_CONTROL;
    return f;
}

void set_key(std::array<uint8_t, 256>& keys, int vk, bool down) {
    uint8_t& k = keys[size_t(vk & 0xFF)];
    if (down && !(k & 0x80)) k ^= 1;  // toggled on each press
    k = uint8_t(down ? (k | 0x80) : (k & ~0x80));
}

int button_vk(MouseButton b) {
    return b == MouseButton::Left ? VK_LBUTTON : b == MouseButton::Right ? VK_RBUTTON : VK_MBUTTON;
}

UINT button_message(MouseButton b, bool down) {
    switch (b) {
    case MouseButton::Left: return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case MouseButton::Right: return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    case MouseButton::Middle: return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    }
    return WM_NULL;
}

// Turns the oldest input event into a message for this thread, if it is
// addressed to one of its windows.
bool take_input(MSG& out) {
    Manager& m = manager();
    const DWORD me = GetCurrentThreadId();
    InputEvent ev;
    HWND capture;
    {
        std::lock_guard lock(m.mutex);
        if (m.input.empty()) return false;
        ev = m.input.front();
        capture = find_live(m, m.capture) ? m.capture : nullptr;
    }
    HWND target = nullptr;
    if (ev.kind == InputKind::Key) {
        std::lock_guard lock(m.mutex);
        target = find_live(m, m.focus) ? m.focus : (find_live(m, m.active) ? m.active : nullptr);
    } else {
        target = capture ? capture : hit_test(POINT{ev.x, ev.y});
    }
    bool activate_first = false;
    {
        std::lock_guard lock(m.mutex);
        if (m.input.empty()) return false;
        Window* w = find_live(m, target);
        if (w && w->thread != me) {
            wake_thread(w->thread);
            return false;
        }
        m.input.pop_front();
        if (ev.kind == InputKind::Key) set_key(m.keys, ev.vk, ev.down);
        if (ev.kind == InputKind::Button) set_key(m.keys, button_vk(ev.button), ev.down);
        // Disabled windows and the desktop take no input.
        if (!w || (!capture && !enabled_chain(m, *w))) return false;
        out = MSG{};
        out.hwnd = target;
        out.time = GetTickCount();
        out.pt = POINT{m.cursor.x, m.cursor.y};
        if (ev.kind == InputKind::Key) {
            out.message = ev.down ? WM_KEYDOWN : WM_KEYUP;
            out.wParam = WPARAM(ev.vk);
            out.lParam = LPARAM(1u | (ev.down ? 0u : 0xC0000000u));
            return true;
        }
        const POINT o = screen_origin(m, *w);
        out.lParam = MAKELPARAM(ev.x - o.x, ev.y - o.y);
        out.wParam = mouse_flags(m);
        out.message = ev.kind == InputKind::Move ? UINT(WM_MOUSEMOVE) : button_message(ev.button, ev.down);
        Window* t = top_level_of(m, w);
        activate_first = ev.kind == InputKind::Button && ev.down && t && t->handle != m.active &&
                         !(t->ex_style & WS_EX_NOACTIVATE);
    }
    if (ev.kind == InputKind::Move)
        send_local(target, WM_SETCURSOR, WPARAM(target), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    if (activate_first) {
        HWND top;
        {
            std::lock_guard lock(m.mutex);
            top = top_level_of(m, find(m, target)) ? top_level_of(m, find(m, target))->handle : nullptr;
        }
        LRESULT r = send_local(top, WM_MOUSEACTIVATE, WPARAM(top), MAKELPARAM(HTCLIENT, out.message));
        if (r == MA_ACTIVATE || r == 2 /* MA_ACTIVATEANDEAT */) activate(top, WA_CLICKACTIVE);
        if (r == 2 || r == 4 /* MA_NOACTIVATEANDEAT */) return false;
    }
    return true;
}

// A paint message for the first window of this thread that needs one.
bool take_paint(MSG& out) {
    Manager& m = manager();
    const DWORD me = GetCurrentThreadId();
    std::lock_guard lock(m.mutex);
    for (Window* w : all_windows(m)) {
        if (w->thread != me || w->paint_queued || w->update.empty() || !shown(m, *w)) continue;
        w->paint_queued = true;
        out = MSG{w->handle, WM_PAINT, 0, 0, GetTickCount(), {}};
        return true;
    }
    return false;
}

bool idle_source(MSG& out) {
    serve_sent();
    Manager& m = manager();
    {
        std::lock_guard lock(m.mutex);
        auto it = m.posted.find(GetCurrentThreadId());
        if (it != m.posted.end() && !it->second.empty()) {
            out = it->second.front();
            it->second.pop_front();
            return true;
        }
    }
    if (take_input(out)) return true;
    return take_paint(out);
}

// The get-message hooks of this thread see every message taken.
void on_message_taken(MSG& msg) {
    Manager& m = manager();
    HOOKPROC first = nullptr;
    bool dead_timer = false;
    {
        std::lock_guard lock(m.mutex);
        if (msg.message == WM_PAINT)
            if (Window* w = find(m, msg.hwnd)) w->paint_queued = false;
        // A destroyed window's timers die with it, as in Windows; the queue
        // only learns of them when they fire.
        dead_timer = msg.message == WM_TIMER && msg.hwnd && !find_live(m, msg.hwnd);
        const DWORD me = GetCurrentThreadId();
        for (const Hook& h : m.hooks) {
            if (h.thread == 0 || h.thread == me) {
                first = h.proc;
                break;
            }
        }
    }
    if (dead_timer) KillTimer(msg.hwnd, msg.wParam);
    if (first) {
        try {
            first(HC_ACTION, PM_REMOVE, reinterpret_cast<LPARAM>(&msg));
        } catch (...) {
        }
    }
}

LRESULT dispatch(const MSG& msg) {
    WNDPROC proc = nullptr;
    {
        Manager& m = manager();
        std::lock_guard lock(m.mutex);
        if (Window* w = find_live(m, msg.hwnd)) proc = w->proc;
    }
    return call(proc, msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void follow_mode_change() {
    Manager& m = manager();
    std::unordered_set<DWORD> wake;
    std::vector<HWND> tops;
    {
        std::lock_guard lock(m.mutex);
        for (Window* w : all_windows(m))
            if (shown(m, *w)) invalidate_screen_part(m, *w, Region(screen_rect(m, *w)), true, wake);
        refresh_dcs(m);
        tops = m.top;
    }
    wake_all(wake);
    const ScreenMode mode = screen_mode();
    for (HWND t : tops)
        PostMessageA(t, WM_DISPLAYCHANGE, WPARAM(mode.bits_per_pixel), MAKELPARAM(mode.width, mode.height));
}

void install_seams() {
    start_presentation();
    set_window_dispatcher(dispatch);
    set_idle_source(idle_source);
    set_get_message_hook(on_message_taken);
    gdi::State& s = gdi::state();
    std::lock_guard lock(s.mutex);
    s.window_system_listener = follow_mode_change;
}

LRESULT send_local(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    WNDPROC proc = nullptr;
    {
        Manager& m = manager();
        std::lock_guard lock(m.mutex);
        if (Window* w = find(m, h)) proc = w->proc;
    }
    return call(proc, h, msg, wp, lp);
}

HDC make_dc(HWND h, std::optional<Region> paint_local) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    Window* w = find_live(m, h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    const POINT o = screen_origin(m, *w);
    Region v = visible(m, *w);
    std::optional<Region> paint;
    if (paint_local) {
        paint = *paint_local;
        paint->offset(o.x, o.y);
        v = v.combine(*paint, RegionOp::And);
    }
    HDC dc = gdi::create_window_dc(o, v);
    if (dc) w->dcs.push_back(LiveDc{dc, std::move(paint)});
    return dc;
}

}  // namespace

HDC window_dc(HWND hwnd) { return make_dc(hwnd, std::nullopt); }

void forget_dc(HDC hdc) {
    if (!hdc) return;
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    for (auto& entry : m.windows) {
        auto& d = entry.second->dcs;
        d.erase(std::remove_if(d.begin(), d.end(), [&](const LiveDc& l) { return l.dc == hdc; }),
                d.end());
    }
}

Rgb brush_color(HBRUSH brush, bool& ok) {
    ok = false;
    const auto value = reinterpret_cast<uintptr_t>(brush);
    if (value >= 1 && value <= 31) {  // (HBRUSH)(COLOR_xxx + 1)
        ok = true;
        return gdi::rgb_of(GetSysColor(int(value - 1)));
    }
    gdi::State& s = gdi::state();
    std::lock_guard lock(s.mutex);
    auto tool = gdi::find_as<gdi::Tool>(s, brush, gdi::Kind::Brush);
    if (!tool || tool->hollow) return 0;
    ok = true;
    return gdi::rgb_of(tool->color);
}

}  // namespace win32::wm

namespace win32 {

void post_mouse_move(int x, int y) { wm::post_input_event(0, MouseButton::Left, false, x, y, 0); }
void post_mouse_button(MouseButton button, bool down, int x, int y) {
    wm::post_input_event(1, button, down, x, y, 0);
}
void post_key(int vk, bool down) { wm::post_input_event(2, MouseButton::Left, down, 0, 0, vk); }

bool input_pending() {
    auto& m = wm::manager();
    std::lock_guard lock(m.mutex);
    return !m.input.empty();
}

std::vector<HWND> top_level_windows() {
    auto& m = wm::manager();
    std::lock_guard lock(m.mutex);
    return m.top;
}

}  // namespace win32

namespace win32::wm {

void post_input_event(int kind, MouseButton button, bool down, int x, int y, int vk) {
    ensure_init();
    Manager& m = manager();
    std::unordered_set<DWORD> wake;
    {
        std::lock_guard lock(m.mutex);
        InputEvent ev;
        ev.kind = kind == 0 ? InputKind::Move : kind == 1 ? InputKind::Button : InputKind::Key;
        ev.button = button;
        ev.down = down;
        if (ev.kind != InputKind::Key) {
            // The cursor moves at once; the messages follow as they are taken.
            const ScreenMode mode = screen_mode();
            m.cursor.x = std::clamp(x, 0, mode.width - 1);
            m.cursor.y = std::clamp(y, 0, mode.height - 1);
            ev.x = m.cursor.x;
            ev.y = m.cursor.y;
        }
        ev.vk = vk & 0xFF;
        if (ev.kind == InputKind::Key) set_key(m.async_keys, ev.vk, down);
        if (ev.kind == InputKind::Button) set_key(m.async_keys, button_vk(button), down);
        if (m.input.size() < kMaxPosted) m.input.push_back(ev);
        for (auto& entry : m.windows) wake.insert(entry.second->thread);
    }
    wake_all(wake);
}

void ensure_window_system() { ensure_init(); }

bool window_system_idle() {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    if (!m.input.empty() || !m.sent.empty()) return false;
    for (auto& entry : m.posted)
        if (!entry.second.empty()) return false;
    for (auto& entry : m.windows) {
        Window& w = *entry.second;
        if (!w.destroying && (!w.update.empty() || w.painting > 0) && shown(m, w)) return false;
    }
    return true;
}

std::vector<DWORD> window_threads() {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    std::vector<DWORD> out;
    for (auto& entry : m.windows)
        if (std::find(out.begin(), out.end(), entry.second->thread) == out.end())
            out.push_back(entry.second->thread);
    return out;
}

}  // namespace win32::wm

using namespace win32::wm;
namespace gdi = win32::gdi;
using win32::wake_thread;
using win32::gdi::Region;
using win32::gdi::RegionOp;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    ensure_init();
    if (!wc || !wc->lpszClassName || reinterpret_cast<uintptr_t>(wc->lpszClassName) <= 0xFFFF ||
        !wc->lpfnWndProc || wc->cbWndExtra < 0 || wc->cbWndExtra > 40000) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    std::string key = lower(wc->lpszClassName);
    if (m.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc->lpszClassName;
    cls->style = wc->style;
    cls->proc = wc->lpfnWndProc;
    cls->wnd_extra = wc->cbWndExtra;
    cls->instance = wc->hInstance;
    cls->cursor = wc->hCursor;
    cls->background = wc->hbrBackground;
    m.classes.emplace(key, cls);
    // Atoms of the stand-in only need to be non-zero and distinct.
    return ATOM(0xC000 + (m.classes.size() & 0x3FFF));
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE) {
    if (!name || reinterpret_cast<uintptr_t>(name) <= 0xFFFF) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    auto it = m.classes.find(lower(name));
    if (it == m.classes.end()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    for (auto& entry : m.windows) {
        if (entry.second->cls == it->second) {
            SetLastError(1412);  // ERROR_CLASS_HAS_WINDOWS
            return FALSE;
        }
    }
    m.classes.erase(it);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    ensure_init();
    if (!className || reinterpret_cast<uintptr_t>(className) <= 0xFFFF) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    Manager& m = manager();
    auto w = std::make_shared<Window>();
    {
        std::lock_guard lock(m.mutex);
        auto it = m.classes.find(lower(className));
        if (it == m.classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        Window* p = parent ? find_live(m, parent) : nullptr;
        if ((parent && !p) || ((style & WS_CHILD) && !p)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        if (x == CW_USEDEFAULT) x = y = 0;
        if (width == CW_USEDEFAULT) width = height = 0;
        w->cls = it->second;
        w->proc = w->cls->proc;
        w->thread = GetCurrentThreadId();
        w->style = style & ~DWORD(WS_VISIBLE);  // shown once created
        w->ex_style = exStyle;
        w->rect = placed(x, y, width, height);
        w->text = windowName ? windowName : "";
        w->instance = instance;
        w->extra.assign(size_t(w->cls->wnd_extra), 0);
        if (style & WS_CHILD) {
            w->parent = parent;
            w->id = reinterpret_cast<LONG_PTR>(menu);
        } else if (p) {
            // A popup's "parent" is its owner; the owner is always top-level.
            Window* o = top_level_of(m, p);
            w->owner = o ? o->handle : nullptr;
        }
        w->handle = reinterpret_cast<HWND>(m.next_handle);
        m.next_handle += 4;
        m.windows.emplace(reinterpret_cast<uintptr_t>(w->handle), w);
        if (style & WS_CHILD)
            p->children.insert(p->children.begin(), w->handle);
        else
            raise(m, *w);
    }
    HWND h = w->handle;
    CREATESTRUCTA cs{param, instance, menu, parent, height, width, y, x, LONG(style),
                     windowName, className, exStyle};
    if (!send_local(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) ||
        send_local(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsWindow(h)) return nullptr;  // destroyed itself while being created
    send_local(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(std::max(0, width), std::max(0, height)));
    send_local(h, WM_MOVE, 0, MAKELPARAM(x, y));
    if (style & WS_VISIBLE) {
        const bool no_activate = (exStyle & WS_EX_NOACTIVATE) || (style & (WS_CHILD | WS_DISABLED));
        ShowWindow(h, no_activate ? SW_SHOWNA : SW_SHOW);
    }
    return h;
}

BOOL WINAPI DestroyWindow(HWND h) {
    Manager& m = manager();
    std::vector<HWND> order;  // the window, its owned popups and children
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        std::vector<Window*> kids;
        walk(m, w->children, kids);
        order.push_back(h);
        for (Window* k : kids) order.push_back(k->handle);
    }
    // Owned popups go first, as Windows does.
    std::vector<HWND> owned;
    {
        std::lock_guard lock(m.mutex);
        for (HWND t : m.top)
            if (Window* o = find_live(m, t); o && o->owner == h) owned.push_back(t);
    }
    for (HWND o : owned) DestroyWindow(o);

    ShowWindow(h, SW_HIDE);
    std::vector<std::pair<WNDPROC, HWND>> capture_notify;
    bool was_active = false, had_focus = false;
    {
        std::lock_guard lock(m.mutex);
        for (HWND x : order) {
            if (Window* w = find(m, x)) w->destroying = true;
            release_capture_of(m, x, capture_notify);
            if (m.focus == x) {
                m.focus = nullptr;
                had_focus = true;
            }
            if (m.active == x) {
                m.active = nullptr;
                was_active = true;
            }
        }
    }
    (void)had_focus;
    for (auto& [proc, hw] : capture_notify) call(proc, hw, WM_CAPTURECHANGED, 0, 0);
    for (HWND x : order) send_local(x, WM_DESTROY, 0, 0);
    for (auto it = order.rbegin(); it != order.rend(); ++it) send_local(*it, WM_NCDESTROY, 0, 0);
    HWND next_active = nullptr;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find(m, h);
        if (w && child(*w)) {
            if (Window* p = find(m, w->parent)) {
                auto& c = p->children;
                c.erase(std::remove(c.begin(), c.end(), h), c.end());
            }
        } else {
            m.top.erase(std::remove(m.top.begin(), m.top.end(), h), m.top.end());
        }
        // Messages still posted to them go nowhere when dispatched.
        for (HWND x : order) m.windows.erase(reinterpret_cast<uintptr_t>(x));
        if (was_active) {
            for (HWND t : m.top) {
                Window* o = find_live(m, t);
                if (o && shown(m, *o) && !(o->style & WS_DISABLED) && o->thread == GetCurrentThreadId()) {
                    next_active = t;
                    break;
                }
            }
        }
    }
    if (next_active) activate(next_active, WA_ACTIVE);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND h) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    return find_live(m, h) != nullptr;
}

LRESULT WINAPI DefWindowProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Manager& m = manager();
    switch (msg) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lp);
        if (cs && cs->lpszName) {
            std::lock_guard lock(m.mutex);
            if (Window* w = find(m, h)) w->text = cs->lpszName;
        }
        return TRUE;
    }
    case WM_PAINT:
        // A paint message that carries a DC draws on that DC and validates
        // nothing; the usual one paints the update region.
        if (!wp) {
            PAINTSTRUCT ps;
            if (BeginPaint(h, &ps)) EndPaint(h, &ps);
        }
        return 0;
    case WM_ERASEBKGND: {
        HBRUSH brush = nullptr;
        {
            std::lock_guard lock(m.mutex);
            Window* w = find_live(m, h);
            if (!w) return 0;
            brush = w->cls->background;
        }
        bool ok = false;
        const Rgb color = brush_color(brush, ok);
        if (!ok || !wp) return 0;
        gdi::State& s = gdi::state();
        std::lock_guard lock(s.mutex);
        auto dc = gdi::find_dc(s, reinterpret_cast<HDC>(wp));
        if (!dc) return 0;
        const RECT all = gdi::clip_of(s, *dc);
        gdi::fill_region(s, *dc, Region(all), color);
        return 1;
    }
    case WM_SETTEXT: {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) return FALSE;
        w->text = lp ? reinterpret_cast<const char*>(lp) : "";
        return TRUE;
    }
    case WM_GETTEXT: {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        auto* out = reinterpret_cast<char*>(lp);
        if (!w || !out || wp == 0) return 0;
        const size_t n = std::min(w->text.size(), size_t(wp) - 1);
        std::memcpy(out, w->text.data(), n);
        out[n] = '\0';
        return LRESULT(n);
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        return w ? LRESULT(w->text.size()) : 0;
    }
    case WM_CLOSE: DestroyWindow(h); return 0;
    case WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lp);
        if (!pos) return 0;
        if (!(pos->flags & SWP_NOMOVE)) send_local(h, WM_MOVE, 0, MAKELPARAM(pos->x, pos->y));
        if (!(pos->flags & SWP_NOSIZE))
            send_local(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(pos->cx, pos->cy));
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wp) != WA_INACTIVE) {
            bool inside = false;
            {
                std::lock_guard lock(m.mutex);
                Window* f = find_live(m, m.focus);
                inside = f && top_level_of(m, f) && top_level_of(m, f)->handle == h;
            }
            if (!inside) SetFocus(h);
        }
        return 0;
    case WM_MOUSEACTIVATE: return MA_ACTIVATE;
    case WM_SETCURSOR: {
        HCURSOR cursor = nullptr;
        {
            std::lock_guard lock(m.mutex);
            Window* w = find_live(m, h);
            if (w) cursor = w->cls->cursor;
        }
        if (!cursor) return FALSE;
        SetCursor(cursor);
        return TRUE;
    }
    case WM_NCHITTEST: return HTCLIENT;
    default: return 0;
    }
}

LRESULT WINAPI CallWindowProcA(WNDPROC prev, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return call(prev, h, msg, wp, lp);
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND h, int index) {
    return with_window(h, LONG_PTR(0), [&](Manager&, Window& w) -> LONG_PTR {
        switch (index) {
        case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(w.proc);
        case GWL_HINSTANCE: return reinterpret_cast<LONG_PTR>(w.instance);
        case GWL_HWNDPARENT: return reinterpret_cast<LONG_PTR>(w.parent ? w.parent : w.owner);
        case GWL_ID: return w.id;
        case GWL_STYLE: return LONG_PTR(LONG(w.style));
        case GWL_EXSTYLE: return LONG_PTR(LONG(w.ex_style));
        case GWL_USERDATA: return w.user_data;
        default: break;
        }
        if (index < 0 || size_t(index) + sizeof(LONG_PTR) > w.extra.size()) {
            SetLastError(1413);  // ERROR_INVALID_INDEX
            return 0;
        }
        LONG_PTR v;
        std::memcpy(&v, w.extra.data() + index, sizeof v);
        return v;
    });
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND h, int index, LONG_PTR value) {
    Manager& m = manager();
    std::unordered_set<DWORD> wake;
    LONG_PTR old = 0;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        switch (index) {
        case GWL_WNDPROC:
            old = reinterpret_cast<LONG_PTR>(w->proc);
            if (!value) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return 0;
            }
            w->proc = reinterpret_cast<WNDPROC>(value);
            return old;
        case GWL_ID: old = w->id; w->id = value; return old;
        case GWL_USERDATA: old = w->user_data; w->user_data = value; return old;
        case GWL_STYLE:
            old = LONG(w->style);
            // Visibility and the child bit change only through their calls.
            reshape(m, *w, [&] {
                w->style = (DWORD(value) & ~DWORD(WS_VISIBLE | WS_CHILD)) |
                           (w->style & (WS_VISIBLE | WS_CHILD));
            }, wake);
            break;
        case GWL_EXSTYLE:
            old = LONG(w->ex_style);
            reshape(m, *w, [&] {
                w->ex_style = DWORD(value);
                if (!child(*w)) raise(m, *w);  // into its band
            }, wake);
            break;
        default:
            if (index < 0 || size_t(index) + sizeof(LONG_PTR) > w->extra.size()) {
                SetLastError(1413);
                return 0;
            }
            std::memcpy(&old, w->extra.data() + index, sizeof old);
            std::memcpy(w->extra.data() + index, &value, sizeof value);
            return old;
        }
    }
    wake_all(wake);
    return old;
}

LONG WINAPI GetWindowLongA(HWND h, int index) { return LONG(GetWindowLongPtrA(h, index)); }
LONG WINAPI SetWindowLongA(HWND h, int index, LONG value) {
    // Procedures and user data are pointer-sized; the 32-bit call cannot
    // carry them on this platform.
    if (index == GWL_WNDPROC) {
        SetLastError(kErrorAccessDenied);
        return 0;
    }
    return LONG(SetWindowLongPtrA(h, index, value));
}

HWND WINAPI GetParent(HWND h) {
    return with_window(h, HWND(nullptr),
                       [](Manager&, Window& w) { return child(w) ? w.parent : w.owner; });
}

// Z-order walks. Every window belongs to this process.
HWND WINAPI GetTopWindow(HWND h) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    const std::vector<HWND>* level = &m.top;
    if (h) {
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        level = &w->children;
    }
    return level->empty() ? nullptr : level->front();
}

HWND WINAPI GetWindow(HWND h, UINT cmd) {
    if (cmd == GW_CHILD) return IsWindow(h) ? GetTopWindow(h) : nullptr;
    return with_window(h, HWND(nullptr), [&](Manager& m, Window& w) -> HWND {
        if (cmd == GW_OWNER) return child(w) ? nullptr : w.owner;
        Window* parent = child(w) ? find_live(m, w.parent) : nullptr;
        const std::vector<HWND>& level = parent ? parent->children : m.top;
        auto at = std::find(level.begin(), level.end(), h);
        if (level.empty() || at == level.end()) return nullptr;
        switch (cmd) {
        case GW_HWNDFIRST: return level.front();
        case GW_HWNDLAST: return level.back();
        case GW_HWNDNEXT: return at + 1 == level.end() ? nullptr : *(at + 1);
        case GW_HWNDPREV: return at == level.begin() ? nullptr : *(at - 1);
        default: return nullptr;
        }
    });
}

DWORD WINAPI GetWindowThreadProcessId(HWND h, LPDWORD process) {
    return with_window(h, DWORD(0), [&](Manager&, Window& w) {
        if (process) *process = GetCurrentProcessId();
        return w.thread;
    });
}

BOOL WINAPI SetWindowTextA(HWND h, LPCSTR text) {
    if (!IsWindow(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return BOOL(SendMessageA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")));
}

int WINAPI GetWindowTextA(HWND h, LPSTR out, int max) {
    if (!out || max <= 0) return 0;
    out[0] = '\0';
    return int(SendMessageA(h, WM_GETTEXT, WPARAM(max), reinterpret_cast<LPARAM>(out)));
}

BOOL WINAPI GetWindowRect(HWND h, RECT* r) {
    return with_window(h, BOOL(FALSE), [&](Manager& m, Window& w) -> BOOL {
        if (!r) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *r = screen_rect(m, w);
        return TRUE;
    });
}

// Windows of the stand-in have no frame: the client area is the window.
BOOL WINAPI GetClientRect(HWND h, RECT* r) {
    return with_window(h, BOOL(FALSE), [&](Manager&, Window& w) -> BOOL {
        if (!r) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *r = RECT{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top};
        return TRUE;
    });
}

BOOL WINAPI ClientToScreen(HWND h, POINT* p) { return shift_by_origin(h, p, 1); }

BOOL WINAPI ScreenToClient(HWND h, POINT* p) { return shift_by_origin(h, p, -1); }

HWND WINAPI WindowFromPoint(POINT p) { return hit_test(p); }

BOOL WINAPI SetWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags) {
    Manager& m = manager();
    std::unordered_set<DWORD> wake;
    WINDOWPOS pos{};
    bool activate_it = false;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        Window* anchor = nullptr;
        const bool special = after == HWND_TOP || after == HWND_BOTTOM || after == HWND_TOPMOST ||
                             after == HWND_NOTOPMOST;
        if (!(flags & SWP_NOZORDER) && !special) {
            anchor = find_live(m, after);
            if (!anchor) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
        }
        reshape(m, *w, [&] {
            if (!(flags & SWP_NOMOVE))
                w->rect = placed(x, y, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top);
            if (!(flags & SWP_NOSIZE)) w->rect = placed(w->rect.left, w->rect.top, cx, cy);
            if (!(flags & SWP_NOZORDER)) {
                if (after == HWND_TOPMOST && !child(*w)) w->ex_style |= WS_EX_TOPMOST;
                if (after == HWND_NOTOPMOST && !child(*w)) w->ex_style &= ~DWORD(WS_EX_TOPMOST);
                if (after == HWND_BOTTOM) {
                    lower_to_bottom(m, *w);
                } else if (anchor && anchor != w && child(*anchor) == child(*w) &&
                           anchor->parent == w->parent) {
                    auto& list = child(*w) ? find(m, w->parent)->children : m.top;
                    list.erase(std::remove(list.begin(), list.end(), h), list.end());
                    auto at = std::find(list.begin(), list.end(), anchor->handle);
                    list.insert(at == list.end() ? at : at + 1, h);
                    // A plain window under a topmost one stays below the band.
                    if (!child(*w) && is_topmost(*anchor) && !is_topmost(*w)) raise(m, *w);
                } else {
                    raise(m, *w);
                }
            }
            if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
            if (flags & SWP_HIDEWINDOW) w->style &= ~DWORD(WS_VISIBLE);
        }, wake);
        if ((flags & SWP_NOREDRAW)) {
            w->update = Region();
            w->erase = false;
        }
        activate_it = !(flags & SWP_NOACTIVATE) && !child(*w) && shown(m, *w) &&
                      !(w->ex_style & WS_EX_NOACTIVATE) && m.active != h;
        if ((flags & SWP_HIDEWINDOW) && m.focus && !find_live(m, m.focus)) m.focus = nullptr;
        pos = WINDOWPOS{h, after, w->rect.left, w->rect.top, w->rect.right - w->rect.left,
                        w->rect.bottom - w->rect.top, flags};
    }
    wake_all(wake);
    if (activate_it) activate(h, WA_ACTIVE);
    if ((flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE) ||
        (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)))
        send_local(h, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND h, int x, int y, int w, int ht, BOOL repaint) {
    return SetWindowPos(h, nullptr, x, y, w, ht,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
    Manager& m = manager();
    bool was_visible, is_child, show = cmd != SW_HIDE && cmd != SW_MINIMIZE;
    HWND next_active = nullptr;
    std::vector<std::pair<WNDPROC, HWND>> capture_notify;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        was_visible = (w->style & WS_VISIBLE) != 0;
        is_child = child(*w);
        if (was_visible == show) {
            // Nothing to show or hide; SW_SHOW still activates below.
        } else {
            std::unordered_set<DWORD> wake;
            reshape(m, *w, [&] {
                if (show)
                    w->style |= WS_VISIBLE;
                else
                    w->style &= ~DWORD(WS_VISIBLE);
            }, wake);
            wake_all(wake);
        }
        if (!show) {
            // Hidden windows lose capture, focus and activation.
            std::vector<Window*> kids{w};
            walk(m, w->children, kids);
            for (Window* k : kids) {
                release_capture_of(m, k->handle, capture_notify);
                if (m.focus == k->handle) m.focus = nullptr;
            }
            if (m.active == h) {
                m.active = nullptr;
                for (HWND t : m.top) {
                    Window* o = find_live(m, t);
                    if (o && t != h && shown(m, *o) && !(o->style & WS_DISABLED)) {
                        next_active = t;
                        break;
                    }
                }
            }
        }
    }
    for (auto& [proc, hw] : capture_notify) call(proc, hw, WM_CAPTURECHANGED, 0, 0);
    if (was_visible != show) send_local(h, WM_SHOWWINDOW, show, 0);
    const bool activates = show && !is_child && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE &&
                           cmd != SW_SHOWMINNOACTIVE;
    if (activates) activate(h, WA_ACTIVE);
    if (next_active) activate(next_active, WA_ACTIVE);
    return was_visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND h) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    Window* w = find_live(m, h);
    return w && shown(m, *w);
}

BOOL WINAPI EnableWindow(HWND h, BOOL enable) {
    Manager& m = manager();
    bool was_disabled;
    std::vector<std::pair<WNDPROC, HWND>> capture_notify;
    bool lose_focus = false;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        was_disabled = (w->style & WS_DISABLED) != 0;
        if (was_disabled == !enable) return was_disabled;
        if (enable) {
            w->style &= ~DWORD(WS_DISABLED);
        } else {
            w->style |= WS_DISABLED;
            release_capture_of(m, h, capture_notify);
            lose_focus = m.focus == h;
        }
    }
    for (auto& [proc, hw] : capture_notify) call(proc, hw, WM_CAPTURECHANGED, 0, 0);
    if (lose_focus) set_focus_to(nullptr);
    send_local(h, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return was_disabled;
}

BOOL WINAPI IsWindowEnabled(HWND h) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    Window* w = find_live(m, h);
    return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI PostMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (!h) return PostThreadMessageA(GetCurrentThreadId(), msg, wp, lp);
    DWORD thread = 0;
    const bool posted = with_window(h, false, [&](Manager& m, Window& w) {
        thread = w.thread;
        auto& q = m.posted[thread];
        if (q.size() >= kMaxPosted) {
            SetLastError(kErrorNotEnoughQuota);
            return false;
        }
        q.push_back(MSG{h, msg, wp, lp, GetTickCount(), m.cursor});
        return true;
    });
    if (!posted) return FALSE;
    wake_thread(thread);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Manager& m = manager();
    const DWORD me = GetCurrentThreadId();
    auto job = std::make_shared<Sent>();
    const bool found = with_window(h, false, [&](Manager&, Window& w) {
        if (w.thread != me) {
            job->msg = MSG{h, msg, wp, lp, GetTickCount(), m.cursor};
            job->thread = w.thread;
            m.sent.push_back(job);
        }
        return true;
    });
    if (!found) return 0;
    if (!job->thread) return send_local(h, msg, wp, lp);
    // The other thread runs it when it next looks at its queue; meanwhile
    // this thread answers what is sent to it, so two threads sending to
    // each other do not lock up.
    wake_thread(job->thread);
    for (;;) {
        serve_sent();
        std::unique_lock lock(m.mutex);
        if (m.sent_done.wait_for(lock, std::chrono::milliseconds(5), [&] { return job->done; }))
            return job->result;
        if (!find_live(m, h)) {
            m.sent.erase(std::remove(m.sent.begin(), m.sent.end(), job), m.sent.end());
            return 0;
        }
    }
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg || msg->message != WM_KEYDOWN) return FALSE;
    const int vk = int(msg->wParam & 0xFF);
    char c = 0;
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (vk >= 'A' && vk <= 'Z') c = char(shift ? vk : vk - 'A' + 'a');
    else if (vk >= '0' && vk <= '9') c = char(vk);
    else if (vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK || vk == VK_TAB || vk == VK_SPACE)
        c = char(vk);
    if (!c || !msg->hwnd) return FALSE;
    return PostMessageA(msg->hwnd, WM_CHAR, WPARAM(uint8_t(c)), msg->lParam);
}

BOOL WINAPI InvalidateRect(HWND h, const RECT* r, BOOL erase) {
    Manager& m = manager();
    std::unordered_set<DWORD> wake;
    {
        std::lock_guard lock(m.mutex);
        std::vector<Window*> targets;
        if (!h) {
            for (Window* w : all_windows(m)) targets.push_back(w);
        } else {
            Window* w = find_live(m, h);
            if (!w) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
            targets.push_back(w);
        }
        for (Window* w : targets) {
            const RECT client{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
            Region part(client);
            if (r && h) part = part.combine(Region(*r), RegionOp::And);
            w->update = w->update.combine(part, RegionOp::Or);
            w->erase = w->erase || erase;
            wake.insert(w->thread);
            // Children drawn over by a parent without WS_CLIPCHILDREN paint again.
            if (h && !(w->style & WS_CLIPCHILDREN)) {
                Region screen_part = part;
                const POINT o = screen_origin(m, *w);
                screen_part.offset(o.x, o.y);
                std::vector<Window*> kids;
                walk(m, w->children, kids);
                for (Window* k : kids)
                    if (shown(m, *k))
                        invalidate_screen_part(m, *k, occupied(m, *k).combine(screen_part, RegionOp::And),
                                               erase, wake);
            }
        }
    }
    wake_all(wake);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND h, const RECT* r) {
    return with_window(h, BOOL(FALSE), [&](Manager&, Window& w) -> BOOL {
        if (!r) {
            w.update = Region();
            w.erase = false;
        } else {
            w.update = w.update.combine(Region(*r), RegionOp::Diff);
        }
        return TRUE;
    });
}

BOOL WINAPI UpdateWindow(HWND h) {
    bool needs = false;
    const bool found = with_window(h, false, [&](Manager& m, Window& w) {
        needs = !w.update.empty() && shown(m, w);
        return true;
    });
    if (!found) return FALSE;
    if (needs) send_local(h, WM_PAINT, 0, 0);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND h, LPPAINTSTRUCT ps) {
    if (!ps) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::memset(ps, 0, sizeof *ps);
    Region update;
    bool erase;
    {
        Manager& m = manager();
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        update = std::move(w->update);
        w->update = Region();
        erase = w->erase;
        w->erase = false;
        ++w->painting;
    }
    HDC dc = make_dc(h, update);
    if (!dc) {
        with_window(h, false, [](Manager&, Window& w) {
            --w.painting;
            return true;
        });
        return nullptr;
    }
    ps->hdc = dc;
    ps->rcPaint = update.bounds();
    ps->fErase = TRUE;
    if (erase) ps->fErase = send_local(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
    return dc;
}

BOOL WINAPI EndPaint(HWND h, const PAINTSTRUCT* ps) {
    if (!ps) return FALSE;
    with_window(h, false, [](Manager&, Window& w) {
        if (w.painting > 0) --w.painting;
        return true;
    });
    return ReleaseDC(h, ps->hdc) ? TRUE : FALSE;
}

BOOL WINAPI GetUpdateRect(HWND h, RECT* r, BOOL erase) {
    bool pending_erase = false;
    bool any = false;
    const bool found = with_window(h, false, [&](Manager&, Window& w) {
        if (r) *r = w.update.bounds();
        any = !w.update.empty();
        pending_erase = erase && any && w.erase;
        if (pending_erase) w.erase = false;
        return true;
    });
    if (!found) return FALSE;
    if (pending_erase) {
        HDC dc = GetDC(h);
        send_local(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        ReleaseDC(h, dc);
    }
    return any ? TRUE : FALSE;
}

HWND WINAPI SetCapture(HWND h) {
    Manager& m = manager();
    HWND old;
    WNDPROC old_proc = nullptr;
    {
        std::lock_guard lock(m.mutex);
        if (!find_live(m, h)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        old = find_live(m, m.capture) ? m.capture : nullptr;
        m.capture = h;
        if (old && old != h) old_proc = find(m, old)->proc;
    }
    if (old_proc) call(old_proc, old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(h));
    return old;
}

BOOL WINAPI ReleaseCapture(void) {
    Manager& m = manager();
    std::vector<std::pair<WNDPROC, HWND>> notify;
    {
        std::lock_guard lock(m.mutex);
        if (m.capture) release_capture_of(m, m.capture, notify);
    }
    for (auto& [proc, hw] : notify) call(proc, hw, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND WINAPI GetCapture(void) { return live_held(&Manager::capture); }

HWND WINAPI SetFocus(HWND h) {
    Manager& m = manager();
    HWND old;
    HWND top = nullptr;
    {
        std::lock_guard lock(m.mutex);
        old = find_live(m, m.focus) ? m.focus : nullptr;
        if (h) {
            Window* w = find_live(m, h);
            if (!w) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            if (!enabled_chain(m, *w)) return nullptr;
            Window* t = top_level_of(m, w);
            if (t && t->handle != m.active) top = t->handle;
        }
    }
    if (top) activate(top, WA_ACTIVE);
    set_focus_to(h);
    return old;
}

HWND WINAPI GetFocus(void) { return live_held(&Manager::focus); }

HWND WINAPI SetActiveWindow(HWND h) {
    HWND old = GetActiveWindow();
    {
        Manager& m = manager();
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (h && (!w || child(*w))) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
    }
    activate(h, WA_ACTIVE);
    return old;
}

HWND WINAPI GetActiveWindow(void) { return live_held(&Manager::active); }

BOOL WINAPI SetForegroundWindow(HWND h) {
    if (!IsWindow(h)) return FALSE;
    SetActiveWindow(h);
    return TRUE;
}

SHORT WINAPI GetKeyState(int vk) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    const uint8_t k = m.keys[size_t(vk & 0xFF)];
    return SHORT(((k & 0x80) ? 0x8000 : 0) | (k & 1));
}

SHORT WINAPI GetAsyncKeyState(int vk) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    return SHORT((m.async_keys[size_t(vk & 0xFF)] & 0x80) ? 0x8000 : 0);
}

BOOL WINAPI GetCursorPos(POINT* p) {
    if (!p) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    *p = m.cursor;
    return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
    win32::post_mouse_move(x, y);
    return TRUE;
}

HHOOK WINAPI SetWindowsHookExA(int id, HOOKPROC proc, HINSTANCE, DWORD thread) {
    ensure_init();
    if (id != WH_GETMESSAGE) {
        SetLastError(ERROR_INVALID_HOOK_FILTER);
        return nullptr;
    }
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    HHOOK h = reinterpret_cast<HHOOK>(m.next_hook);
    m.next_hook += 4;
    m.hooks.insert(m.hooks.begin(), Hook{h, proc, thread});
    return h;
}

LRESULT WINAPI CallNextHookEx(HHOOK hhk, int code, WPARAM wp, LPARAM lp) {
    HOOKPROC next = nullptr;
    {
        Manager& m = manager();
        std::lock_guard lock(m.mutex);
        const DWORD me = GetCurrentThreadId();
        auto it = std::find_if(m.hooks.begin(), m.hooks.end(), [&](const Hook& h) { return h.handle == hhk; });
        if (it == m.hooks.end()) return 0;
        for (++it; it != m.hooks.end(); ++it) {
            if (it->thread == 0 || it->thread == me) {
                next = it->proc;
                break;
            }
        }
    }
    if (!next) return 0;
    try {
        return next(code, wp, lp);
    } catch (...) {
        return 0;
    }
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk) {
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    auto it = std::find_if(m.hooks.begin(), m.hooks.end(), [&](const Hook& h) { return h.handle == hhk; });
    if (it == m.hooks.end()) {
        SetLastError(ERROR_INVALID_HOOK_HANDLE);
        return FALSE;
    }
    m.hooks.erase(it);
    return TRUE;
}

}  // extern "C"

extern "C" int WINAPI SetWindowRgn(HWND h, HRGN rgn, BOOL redraw) {
    std::optional<Region> shape;
    if (rgn) {
        gdi::State& s = gdi::state();
        std::lock_guard lock(s.mutex);
        auto r = gdi::find_as<gdi::RegionObject>(s, rgn, gdi::Kind::Region);
        if (!r) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        shape = r->region;
    }
    Manager& m = manager();
    std::unordered_set<DWORD> wake;
    {
        std::lock_guard lock(m.mutex);
        Window* w = find_live(m, h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        reshape(m, *w, [&] { w->shape = std::move(shape); }, wake);
        if (!redraw) {
            w->update = Region();
            w->erase = false;
        }
    }
    // The window owns the region from now on, as in Windows.
    if (rgn) DeleteObject(rgn);
    wake_all(wake);
    return 1;
}
