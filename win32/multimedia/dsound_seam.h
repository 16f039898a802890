// Test seam of the DirectSound stand-in. Not Windows API.
#pragma once

namespace win32::mm {

// Every buffer of every DirectSound object becomes lost, as when another
// application takes the device: stopped, silenced, DSERR_BUFFERLOST until
// restored.
void dsound_lose_buffers();

}  // namespace win32::mm
