// BMP and PCX decoding into 16 bits against SDL: a 640x480 8-bit picture
// into our 16-bit buffer, and SDL_LoadBMP_RW / SDL_image's IMG_Load_RW
// followed by SDL_ConvertSurfaceFormat to RGB565. Both read the same
// bytes, from memory and then from the same file.
#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "peer.h"
#include "raster/rl.h"
#include "raster_images.h"
#include "win32/gui_ext.h"
#include "win32/user.h"

using namespace bench_images;

namespace {

// SDL's load of one image plus its conversion to 5-6-5.
void sdl_load(SDL_RWops* rw, bool pcx) {
    SDL_Surface* s = pcx ? IMG_LoadPCX_RW(rw) : SDL_LoadBMP_RW(rw, 0);
    SDL_RWclose(rw);
    if (!s) std::abort();
    SDL_Surface* c = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB565, 0);
    if (!c) std::abort();
    SDL_FreeSurface(c);
    SDL_FreeSurface(s);
}

void write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main() {
    peer::stay_on_one_core();
    setenv("WIN32_VIDEO", "headless", 1);
    const Bytes bmp = make_bmp(), pcx = make_pcx();
    const auto dir = std::filesystem::temp_directory_path() / ("bench_peer_raster_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string bmp_path = (dir / "picture.bmp").string(), pcx_path = (dir / "picture.pcx").string();
    write(bmp_path, bmp);
    write(pcx_path, pcx);

    win32::reset_screen(win32::ScreenMode{kWidth, kHeight, 16});
    rl_set_dc(GetDC(nullptr));
    rl_realize_palette(rl_default_palette());
    rl_init();
    rl_buffer_depth(16);
    rl_buffer_open(rl_buffer_alloc(kWidth, kHeight));

    struct Case {
        const char* what;
        const Bytes& bytes;
        const std::string& path;
        bool pcx;
    };
    for (const Case& c : {Case{"BMP", bmp, bmp_path, false}, Case{"PCX", pcx, pcx_path, true}}) {
        auto show = c.pcx ? rl_show_pcx : rl_show_bmp;
        const std::string peer_name = c.pcx ? "IMG_LoadPCX_RW + RGB565" : "SDL_LoadBMP_RW + RGB565";
        const peer::Result mem = peer::compare(
            41, 5,
            [&] {
                rl_set_memory_image(c.bytes.data(), int32_t(c.bytes.size()));
                if (show(nullptr, RL_FROM_MEMORY) != RL_OK) std::abort();
            },
            [&] { sdl_load(SDL_RWFromConstMem(c.bytes.data(), int(c.bytes.size())), c.pcx); });
        peer::print((std::string(c.what) + " 640x480 8-bit into 16 bits, memory").c_str(),
                    peer_name.c_str(), mem, 1e-6, "ms");
        const peer::Result file = peer::compare(
            41, 5, [&] { if (show(c.path.c_str(), 0) != RL_OK) std::abort(); },
            [&] { sdl_load(SDL_RWFromFile(c.path.c_str(), "rb"), c.pcx); });
        peer::print((std::string(c.what) + " 640x480 8-bit into 16 bits, file").c_str(),
                    peer_name.c_str(), file, 1e-6, "ms");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
