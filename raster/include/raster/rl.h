// The raster library: one process-wide drawing state with a table of 32
// off-screen buffers (DIB sections), a 256-colour palette with a lookup
// table for the active buffer's pixel format, pastes to the bound window DC,
// and the BMP and PCX decoders that draw into the active buffer.
//
// Flat routines with 32-bit arguments and results: 0 for success, small
// positive numbers for file and format errors, negative numbers for buffer
// table errors. Handles (DC, palette) and pointers keep their natural size.
// Everything is called from one thread; nothing here is reentrant.
#pragma once

#include <cstdint>

#include "win32/gdi.h"

extern "C" {

// ---- State, palette, display -------------------------------------------
int32_t rl_set_dc(HDC dc);
// Call after rl_set_dc. Frees any buffers left from an earlier rl_init.
int32_t rl_init(void);
// Frees buffers that are still allocated, then restores the first palette
// and deletes the memory DC.
int32_t rl_fini(void);
// Screen bits per pixel times planes; 15 is reported as 16.
int32_t rl_color_depth(void);
// Fills the logical palette with the default colours and returns a new
// palette made from it; the caller deletes it.
HPALETTE rl_default_palette(void);
int32_t rl_realize_palette(HPALETTE palette);
// bits != 0 switches the display (full_screen != 0: temporary change);
// bits == 0 restores the stored mode. Result of ChangeDisplaySettingsA.
int32_t rl_set_display_mode(int32_t width, int32_t height, int32_t bits, int32_t full_screen);
// Entries first .. first + count - 1 from `triples` (red, green, blue bytes);
// entries past 255 are ignored. Needs an active buffer.
int32_t rl_set_palette(int32_t first, int32_t count, const uint8_t* triples);

// ---- Buffers ------------------------------------------------------------
// Depth of buffers made afterwards: 8, 16, 24 or 32 (anything else: 3).
int32_t rl_buffer_depth(int32_t bits);
// Width is raised to a multiple of 4. Buffer number, -1 when all 32 slots
// are in use, -2 when the size is not positive or the bitmap cannot be had.
int32_t rl_buffer_alloc(int32_t width, int32_t height);
// -1 for a number outside 0..31, -2 for a slot not in use (the active
// buffer stays what it was).
int32_t rl_buffer_open(int32_t number);
int32_t rl_buffer_close(void);
// Ignored for numbers outside 0..31, free slots and the active buffer.
int32_t rl_buffer_free(int32_t number);
// Copies the active buffer's rectangle min_x..max_x, min_y..max_y to the
// bound DC with its lower-left corner at (x, y). The rectangle is clipped
// to the buffer (the destination moves with it).
int32_t rl_buffer_paste(int32_t min_x, int32_t max_x, int32_t min_y, int32_t max_y, int32_t x,
                        int32_t y);

// ---- Mouse and time -----------------------------------------------------
// 1 with a mouse, -1 without.
int32_t rl_mouse_init(void);
int32_t rl_mouse_visible(int32_t state);
// Busy-waits n ticks of 55 ms; n <= 0 returns at once.
int32_t rl_wait_ticks(int32_t n);

// ---- Decoders -----------------------------------------------------------
// Decoder flags.
#define RL_KEEP_PALETTE 0x1  // do not use the image's palette
#define RL_AT_POSITION 0x2   // place at the current position (rl_set_position)
#define RL_FROM_MEMORY 0x4   // read the image given to rl_set_memory_image
#define RL_NO_REDUCE 0x8     // 8-bit buffers: keep the image's colours

// Results of the decoders.
#define RL_OK 0
#define RL_CANNOT_OPEN 1
#define RL_NOT_IMAGE 2
#define RL_UNSUPPORTED 3
#define RL_COMPRESSED 4

// Both return 0 without doing anything when no buffer is active. With
// RL_FROM_MEMORY the name is ignored. A file that ends early draws the rows
// it holds; the rows after keep their previous content.
// A negative height in a long BMP header means rows stored top-down.
int32_t rl_show_bmp(const char* name, int32_t flags);
// PCX header positions are signed 16-bit values. A PCX whose header has max < min, a format other than 1x8, 3x8, 1x1 or
// 4x1 (planes x bits), or fewer bytes per line than its width needs is
// refused with 3 (2 for max < min) before anything is drawn.
int32_t rl_show_pcx(const char* name, int32_t flags);

// 8-bit active buffer only: merges the colours of the image area (the area
// the last decode drew into; the whole buffer after rl_buffer_open) until
// at most `limit` are left, renumbers them from `offset` and rewrites
// `triples` (256 red, green, blue triples) to match. Does nothing for an
// offset outside 0..255; the limit is kept within 1 .. 256 - offset.
int32_t rl_reduce_palette(int32_t offset, int32_t limit, uint8_t* triples);

// Current position used with RL_AT_POSITION; (0, 0) after rl_init. It may
// be negative: what falls outside the buffer is cut.
int32_t rl_set_position(int32_t x, int32_t y);
// The image that decoders read with RL_FROM_MEMORY: `size` bytes at `data`,
// neither copied nor owned, so it must stay valid while decoders use it.
// A null pointer or a negative size removes it (decoding then gives 1).
int32_t rl_set_memory_image(const void* data, int32_t size);

}  // extern "C"
