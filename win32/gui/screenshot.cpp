// Screenshots of the virtual screen as RGB PNG files.
#include <png.h>

#include <vector>

#include "win32/gui_ext.h"
#include "win32/kernel_ext.h"

bool win32::save_screenshot(const char* png_path) {
    if (!png_path || !*png_path) return false;
    std::vector<uint32_t> pixels;
    const ScreenMode mode = read_screen(pixels);
    std::vector<png_byte> rgb(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        rgb[i * 3] = png_byte(pixels[i] >> 16);
        rgb[i * 3 + 1] = png_byte(pixels[i] >> 8);
        rgb[i * 3 + 2] = png_byte(pixels[i]);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(mode.width);
    image.height = png_uint_32(mode.height);
    image.format = PNG_FORMAT_RGB;
    const std::string path = host_path(png_path);
    const bool ok = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(),
                                            png_int_32(mode.width * 3), nullptr) != 0;
    png_image_free(&image);
    return ok;
}
