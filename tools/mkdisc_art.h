// The disc's art, drawn with the window system's GDI and bitmap fonts:
// the three pages, the countdown backgrounds, twelve wallpapers, the
// button pictures of the menu's form, two click sounds, cursors and icon.
#pragma once

#include <string>

#include "mkdisc_files.h"

// Page pictures, 640x480.
Pixels MenuPage();
Pixels InstallPage();
Pixels GalleryPage();
Pixels CountdownPage();
Pixels SecondsPage();
// Wallpaper n, 1..12, 640x480.
Pixels Wallpaper(int n);
// The picture of ColorButton n, 1..18, without its bevel.
Pixels ButtonPicture(int n);
// The main icon, 32x32.
Pixels IconPicture();

// Sample bytes of the two effects, sized so that each file has its
// fixed size: 15482 and 15920 bytes.
std::vector<uint8_t> ClickSamples();
std::vector<uint8_t> CloseSamples();
