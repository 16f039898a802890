// The DirectSound side of the digital exports (preference 15 = 0), until
// DirectSound output exists: opening fails the way a machine without the
// DirectSound module does, so callers fall back to waveOut, and every other
// operation does nothing.
#include "core/ops.h"

namespace svx::op::dsound {

int32_t SVX_waveOutOpen(HDIGDRIVER*, void**, int32_t, const void*) {
    ::SVX_set_error("The DirectSound DLL could not be loaded.");
    return 1;
}

void SVX_waveOutClose(HDIGDRIVER) {}
int32_t SVX_digital_handle_release(HDIGDRIVER) { return 0; }
int32_t SVX_digital_handle_reacquire(HDIGDRIVER) { return 0; }
void SVX_digital_configuration(HDIGDRIVER, int32_t*, int32_t*, char*) {}
void SVX_set_digital_master_volume(HDIGDRIVER, int32_t) {}
int32_t SVX_set_direct_buffer_control(HSAMPLE, int32_t) { return 0; }
uintptr_t SVX_get_DirectSound_info(HSAMPLE, void**, void**) { return 0; }
int32_t SVX_set_DirectSound_HWND(HDIGDRIVER, void*) { return 0; }

void SVX_release_sample_handle(HSAMPLE) {}
void SVX_init_sample(HSAMPLE) {}
void SVX_set_sample_type(HSAMPLE, int32_t, uint32_t) {}
void SVX_start_sample(HSAMPLE) {}
void SVX_stop_sample(HSAMPLE) {}
void SVX_resume_sample(HSAMPLE) {}
void SVX_end_sample(HSAMPLE) {}
void SVX_set_sample_playback_rate(HSAMPLE, int32_t) {}
void SVX_set_sample_volume(HSAMPLE, int32_t) {}
void SVX_set_sample_pan(HSAMPLE, int32_t) {}
uint32_t SVX_sample_position(HSAMPLE) { return 0; }
int32_t SVX_minimum_sample_buffer_size(HDIGDRIVER, int32_t, int32_t) { return 0; }
void SVX_load_sample_buffer(HSAMPLE, int32_t, const void*, uint32_t) {}

}  // namespace svx::op::dsound
