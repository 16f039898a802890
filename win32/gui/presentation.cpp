// The two presentations of the virtual screen (WIN32_VIDEO): an SDL2
// window that shows it and feeds its mouse and keyboard, or none at all
// (headless), with input from a script (WIN32_SCRIPT) or a test.
#include <SDL2/SDL.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "win32/gui_ext.h"
#include "win32/kernel_ext.h"
#include "win32/user.h"
#include "wm.h"

namespace win32::wm {
void set_script_running(bool running);
}

namespace {

std::atomic<bool> use_sdl{false};
std::atomic<bool> chosen{false};

// ---- Scripts ---------------------------------------------------------------

struct Command {
    std::string verb;
    std::vector<std::string> args;
};

bool number(const std::string& s, int& out) {
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < -100000 || v > 100000) return false;
    out = int(v);
    return true;
}

bool parse(const std::string& text, std::vector<Command>& out) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        Command c;
        if (!(words >> c.verb)) continue;
        for (std::string w; words >> w;) c.args.push_back(w);
        const size_t n = c.args.size();
        int v;
        bool ok = false;
        if (c.verb == "move") ok = n == 2 && number(c.args[0], v) && number(c.args[1], v);
        else if (c.verb == "down" || c.verb == "up" || c.verb == "click")
            ok = n == 3 && (c.args[0] == "left" || c.args[0] == "right" || c.args[0] == "middle") &&
                 number(c.args[1], v) && number(c.args[2], v);
        else if (c.verb == "key") ok = n == 1 && number(c.args[0], v) && v > 0 && v < 256;
        else if (c.verb == "wait") ok = n == 1 && number(c.args[0], v) && v >= 0;
        else if (c.verb == "answer") ok = n == 1;
        else if (c.verb == "shot") ok = n == 1;
        else if (c.verb == "quit") ok = n == 0;
        if (!ok) return false;
        out.push_back(std::move(c));
    }
    return true;
}

int answer_id(const std::string& word) {
    static const std::pair<const char*, int> names[] = {
        {"ok", IDOK}, {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
        {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO}};
    for (auto [name, id] : names)
        if (word == name) return id;
    int v = 0;
    return number(word, v) ? v : IDOK;
}

win32::MouseButton button_of(const std::string& s) {
    return s == "right" ? win32::MouseButton::Right
           : s == "middle" ? win32::MouseButton::Middle
                           : win32::MouseButton::Left;
}

void run(const std::vector<Command>& commands) {
    using namespace std::chrono_literals;
    for (const Command& c : commands) {
        int x = 0, y = 0;
        if (c.verb == "move") {
            number(c.args[0], x);
            number(c.args[1], y);
            win32::post_mouse_move(x, y);
        } else if (c.verb == "down" || c.verb == "up" || c.verb == "click") {
            number(c.args[1], x);
            number(c.args[2], y);
            const auto b = button_of(c.args[0]);
            win32::post_mouse_move(x, y);
            if (c.verb != "up") win32::post_mouse_button(b, true, x, y);
            if (c.verb == "click") win32::wait_until_idle(2000);
            if (c.verb != "down") win32::post_mouse_button(b, false, x, y);
        } else if (c.verb == "key") {
            number(c.args[0], x);
            win32::post_key(x, true);
            win32::post_key(x, false);
        } else if (c.verb == "wait") {
            number(c.args[0], x);
            std::this_thread::sleep_for(std::chrono::milliseconds(x));
        } else if (c.verb == "answer") {
            win32::queue_message_box_answer(answer_id(c.args[0]));
        } else if (c.verb == "shot") {
            win32::wait_until_idle(2000);
            win32::save_screenshot(c.args[0].c_str());
        } else if (c.verb == "quit") {
            win32::wait_until_idle(2000);
            for (DWORD t : win32::wm::window_threads()) PostThreadMessageA(t, WM_QUIT, 0, 0);
        }
        win32::wait_until_idle(2000);
    }
}

// A program may end while its script still runs (a key ended it, or the
// script waits on): the thread is then let go, not left to abort the exit.
struct ScriptThread {
    std::thread thread;
    std::atomic<bool> done{true};
    ~ScriptThread() {
        if (!thread.joinable()) return;
        if (done) thread.join();
        else thread.detach();
    }
};

std::mutex script_mutex;
ScriptThread script;

// ---- SDL -------------------------------------------------------------------

int vk_of(SDL_Keycode k) {
    if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
    if (k >= SDLK_F1 && k <= SDLK_F12) return 0x70 + (k - SDLK_F1);
    switch (k) {
    case SDLK_RETURN: case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL: case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT: case SDLK_RALT: return VK_MENU;
    default: return 0;
    }
}

// A Windows cursor as SDL's: AND 0 XOR 0 black, 0 1 white, 1 0 clear,
// 1 1 inverted.
SDL_Cursor* sdl_cursor(HCURSOR h) {
    win32::CursorImage img;
    if (!h || !win32::cursor_image(h, img) || img.width % 8) return nullptr;
    std::vector<Uint8> data(size_t(img.width / 8 * img.height), 0), mask(data.size(), 0);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const size_t i = size_t(y * img.width + x), byte = i / 8;
            const Uint8 bit = Uint8(0x80 >> (x % 8));
            if (!(img.and_mask[i] ^ img.xor_mask[i])) data[byte] |= bit;
            if (!img.and_mask[i]) mask[byte] |= bit;
        }
    return SDL_CreateCursor(data.data(), mask.data(), img.width, img.height, img.hot_x, img.hot_y);
}

// Runs the SDL window on a thread of its own: SDL wants one thread for its
// window and events, and the program's threads never wait for it.
void sdl_loop(SDL_Window* window) {
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    SDL_Texture* texture = nullptr;
    win32::ScreenMode shown{0, 0, 0};
    bool fullscreen = false;
    std::vector<uint32_t> pixels;
    HCURSOR cursor_shown = nullptr;
    SDL_Cursor* cursor = nullptr;
    for (;;) {
        SDL_Event e;
        while (SDL_WaitEventTimeout(&e, 15)) {
            int w = 0, h = 0;
            SDL_GetWindowSize(window, &w, &h);
            auto to_screen = [&](int x, int y, int& sx, int& sy) {
                // The picture is scaled to fit and centred.
                if (shown.width <= 0 || w <= 0 || h <= 0) {
                    sx = x;
                    sy = y;
                    return;
                }
                const double scale = std::min(double(w) / shown.width, double(h) / shown.height);
                const double ox = (w - shown.width * scale) / 2, oy = (h - shown.height * scale) / 2;
                sx = int((x - ox) / scale);
                sy = int((y - oy) / scale);
            };
            int sx, sy;
            switch (e.type) {
            case SDL_MOUSEMOTION:
                to_screen(e.motion.x, e.motion.y, sx, sy);
                win32::post_mouse_move(sx, sy);
                break;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP:
                to_screen(e.button.x, e.button.y, sx, sy);
                win32::post_mouse_button(e.button.button == SDL_BUTTON_RIGHT    ? win32::MouseButton::Right
                                         : e.button.button == SDL_BUTTON_MIDDLE ? win32::MouseButton::Middle
                                                                                : win32::MouseButton::Left,
                                         e.type == SDL_MOUSEBUTTONDOWN, sx, sy);
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP:
                if (int vk = vk_of(e.key.keysym.sym)) win32::post_key(vk, e.type == SDL_KEYDOWN);
                break;
            case SDL_QUIT:
                for (HWND t : win32::top_level_windows()) PostMessageA(t, WM_CLOSE, 0, 0);
                break;
            default: break;
            }
        }
        const win32::ScreenMode mode = win32::read_screen(pixels);
        if (!(mode == shown)) {
            if (texture) SDL_DestroyTexture(texture);
            texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                        mode.width, mode.height);
            // A temporary mode (the program's own) is shown full screen,
            // scaled, without touching the monitor's real mode.
            const bool want_full = !(mode == win32::stored_screen_mode());
            if (want_full != fullscreen) {
                SDL_SetWindowFullscreen(window, want_full ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
                fullscreen = want_full;
            }
            if (!fullscreen) SDL_SetWindowSize(window, mode.width, mode.height);
            shown = mode;
        }
        if (texture) {
            SDL_UpdateTexture(texture, nullptr, pixels.data(), mode.width * 4);
            SDL_RenderClear(renderer);
            int w = 0, h = 0;
            SDL_GetWindowSize(window, &w, &h);
            const double scale = std::min(double(w) / mode.width, double(h) / mode.height);
            SDL_Rect dst{int((w - mode.width * scale) / 2), int((h - mode.height * scale) / 2),
                         int(mode.width * scale), int(mode.height * scale)};
            SDL_RenderCopy(renderer, texture, nullptr, &dst);
            SDL_RenderPresent(renderer);
        }
        const HCURSOR wanted = GetCursor();
        if (wanted != cursor_shown) {
            cursor_shown = wanted;
            if (SDL_Cursor* next = sdl_cursor(wanted)) {
                SDL_SetCursor(next);
                if (cursor) SDL_FreeCursor(cursor);
                cursor = next;
            }
        }
        SDL_ShowCursor(win32::cursor_display_count() >= 0 && wanted ? SDL_ENABLE : SDL_DISABLE);
    }
}

bool start_sdl() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) return false;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    const win32::ScreenMode mode = win32::screen_mode();
    SDL_Window* window = SDL_CreateWindow("win32", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          mode.width, mode.height, SDL_WINDOW_SHOWN);
    if (!window) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    std::thread(sdl_loop, window).detach();
    return true;
}

}  // namespace

namespace win32 {

const char* video_backend() {
    wm::ensure_window_system();
    return use_sdl ? "sdl" : "headless";
}

namespace {

// Starts the script's thread; the window system is already being set up.
bool launch_script(const std::string& text) {
    std::vector<Command> commands;
    if (!parse(text, commands)) return false;
    std::lock_guard lock(script_mutex);
    if (script.thread.joinable()) script.thread.join();
    wm::set_script_running(true);
    script.done = false;
    script.thread = std::thread([commands = std::move(commands)] {
        run(commands);
        wm::set_script_running(false);
        script.done = true;
    });
    return true;
}

}  // namespace

bool start_script(const std::string& text) {
    std::vector<Command> commands;
    if (!parse(text, commands)) return false;
    wm::ensure_window_system();
    return launch_script(text);
}

void wait_script() {
    std::lock_guard lock(script_mutex);
    if (script.thread.joinable()) script.thread.join();
}

bool wait_until_idle(int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    // Idle twice in a row, a little apart: a message being handled right
    // now leaves no trace in the queues.
    int quiet = 0;
    while (std::chrono::steady_clock::now() < end) {
        quiet = wm::window_system_idle() ? quiet + 1 : 0;
        if (quiet >= 3) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

namespace wm {

bool headless() { return !use_sdl; }

void start_presentation() {
    if (chosen.exchange(true)) return;
    const char* video = std::getenv("WIN32_VIDEO");
    const std::string v = video ? video : "";
    if (!v.empty() && v != "headless" && v != "sdl")
        warn_bad_setting("WIN32_VIDEO", video, "sdl or headless");
    if (v != "headless") use_sdl = start_sdl();
    if (const char* script = std::getenv("WIN32_SCRIPT"); script && *script) {
        std::ifstream in(win32::host_path(script));
        std::stringstream text;
        text << in.rdbuf();
        // A script that cannot be read is reported, not guessed at.
        // Not start_script: that would wait for the set-up this runs in.
        if (!in || !launch_script(text.str()))
            std::fprintf(stderr, "WIN32_SCRIPT: cannot use %s\n", script);
    }
}

}  // namespace wm
}  // namespace win32
