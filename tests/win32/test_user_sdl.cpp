// The SDL presentation under Xvfb shows the virtual screen's own pixels.
#include <gtest/gtest.h>
#include <unistd.h>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

uint32_t be32(const std::vector<uint8_t>& d, size_t at) {
    return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
}

struct Picture {
    int w = 0, h = 0;
    std::vector<uint32_t> px;  // 0x00RRGGBB
    uint32_t at(int x, int y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
};

// A ZPixmap XWD of a 24-bit screen, 3 or 4 bytes a pixel.
bool read_xwd(const std::string& path, Picture& out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (d.size() < 100) return false;
    const uint32_t header = be32(d, 0), format = be32(d, 8), width = be32(d, 16), height = be32(d, 20);
    const uint32_t byte_order = be32(d, 28), bpp = be32(d, 44), line = be32(d, 48);
    const uint32_t red = be32(d, 56), ncolors = be32(d, 76);
    const size_t start = size_t(header) + size_t(ncolors) * 12;
    if (format != 2 || (bpp != 24 && bpp != 32) || width == 0 || width > 8192 || height > 8192 ||
        start + size_t(line) * height > d.size())
        return false;
    const size_t step = bpp / 8;
    if (line < width * step) return false;
    out.w = int(width);
    out.h = int(height);
    out.px.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &d[start + size_t(y) * line + size_t(x) * step];
            const uint8_t* low = byte_order == 0 ? p : p + step - 3;
            uint32_t v = byte_order == 0 ? uint32_t(low[0]) | uint32_t(low[1]) << 8 | uint32_t(low[2]) << 16
                                         : uint32_t(low[2]) | uint32_t(low[1]) << 8 | uint32_t(low[0]) << 16;
            if (red != 0xFF0000) v = (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
            out.px[size_t(y) * width + x] = v & 0xFFFFFF;
        }
    return true;
}

bool read_png(const std::string& path, Picture& out) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_BGRA;
    out.w = int(img.width);
    out.h = int(img.height);
    out.px.assign(size_t(img.width) * img.height, 0);
    if (!png_image_finish_read(&img, nullptr, out.px.data(), 0, nullptr)) return false;
    for (uint32_t& v : out.px) v &= 0xFFFFFF;
    return true;
}

bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(UserSdl, XvfbShowsTheVirtualScreen) {
    if (!have("xvfb-run") || !have("xwd") || !have("Xvfb")) GTEST_SKIP() << "no Xvfb or xwd";
    testing_support::ScratchDir dir;
    // No desktop session under Xvfb: SDL is kept from looking for its bus.
    // Each run starts its display search elsewhere: two runs at once (CI and
    // a developer, or two suites) would race for the first free number.
    const std::string cmd = std::string("DBUS_SESSION_BUS_ADDRESS=disabled: xvfb-run -a -n ") +
                            std::to_string(100 + ::getpid() % 5000) +
                            " -s '-screen 0 640x480x24' " +
                            SDL_PROBE + " '" + dir.str() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Picture screen, root;
    ASSERT_TRUE(read_png(dir.str() + "/screen.png", screen));
    ASSERT_TRUE(read_xwd(dir.str() + "/root.xwd", root));
    ASSERT_EQ(screen.w, 320);
    // Find the window: the place where the whole picture matches.
    int found = 0;
    for (int oy = 0; oy + screen.h <= root.h; ++oy)
        for (int ox = 0; ox + screen.w <= root.w; ++ox) {
            if (root.at(ox, oy) != screen.at(0, 0)) continue;
            bool all = true;
            for (int y = 0; y < screen.h && all; ++y)
                for (int x = 0; x < screen.w && all; ++x) all = root.at(ox + x, oy + y) == screen.at(x, y);
            found += all;
        }
    EXPECT_EQ(found, 1);
}

}  // namespace
