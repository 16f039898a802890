/* sonvex32: the public interface of the sound library.
 *
 * Every export is a plain C function. On a 32-bit Windows build SVXAPI
 * gives the callee-pops convention and the decorated export names
 * (_SVX_startup@0); elsewhere it only makes the function visible.
 * 32-bit values are int32_t/uint32_t; values that may carry an address
 * (timer user values, user data, callback arguments) are pointer-sized.
 */
#ifndef SONVEX_H
#define SONVEX_H

#include <stdint.h>

#if defined(_WIN32)
#define SVXAPI __declspec(dllexport) __stdcall
#define SVXCALLBACK __stdcall
#else
#define SVXAPI __attribute__((visibility("default")))
#define SVXCALLBACK
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sample and sequence status values. */
#define SVX_FREE 1
#define SVX_DONE 2
#define SVX_PLAYING 4
#define SVX_STOPPED 8
#define SVX_SUSPENDED 16

/* Preference indices. */
#define SVX_PREF_RESAMPLE_TOLERANCE 0
#define SVX_PREF_SAMPLE_HANDLES 1
#define SVX_PREF_DEFAULT_SAMPLE_VOLUME 2
#define SVX_PREF_MIDI_SERVICE_RATE 3
#define SVX_PREF_SEQUENCE_HANDLES 4
#define SVX_PREF_DEFAULT_SEQUENCE_VOLUME 5
#define SVX_PREF_BEAT_LOOKAHEAD 6
#define SVX_PREF_BRANCHES_KEEP_LOOPS 7
#define SVX_PREF_PITCH_BEND_RANGE 8
#define SVX_PREF_DOUBLE_NOTE_OFF 9
#define SVX_PREF_SYSEX_BUFFER_SIZE 10
#define SVX_PREF_WAVEOUT_TOTAL_BUFFER 11
#define SVX_PREF_SERVICE_PERIOD_MS 12
#define SVX_PREF_TIMER_HANDLES 13
#define SVX_PREF_WAVEOUT_MIN_BUFFER 14
#define SVX_PREF_USE_WAVEOUT 15
#define SVX_PREF_DS_BUFFER_SIZE 16
#define SVX_PREF_DS_LOWEST_RATE 17
#define SVX_PREF_SUSPEND_FOREGROUND 18
#define SVX_PREF_UNUSED_19 19
#define SVX_PREF_DLS_SERVICE_RATE 20
#define SVX_PREF_DLS_VOICES 21
#define SVX_PREF_DLS_BANK_SELECT_114 22
#define SVX_PREF_DLS_DOUBLE_BUFFER 23
#define SVX_PREF_DLS_ATTENUATION 24
#define SVX_PREF_DLS_SMOOTH 25
#define SVX_PREF_DLS_REVERB 26
#define SVX_PREF_DLS_USE_MMX 27
#define SVX_PREF_DLS_PASS_MIDI 28
#define SVX_PREF_DLS_REVERB_LEVEL 29
#define SVX_PREF_DLS_REVERB_BUFFERS 30
#define SVX_PREFERENCE_COUNT 31

/* Timer handles are small integers; -1 means none. */
typedef int32_t HSVXTIMER;
typedef void(SVXCALLBACK* SVXTIMERCB)(uintptr_t user);

/* ---- Core: start-up, preferences, errors, lock, memory, clocks ---- */
SVXAPI int32_t SVX_startup(void);
SVXAPI void SVX_shutdown(void);
SVXAPI void* SVX_mem_alloc_lock(int32_t bytes);
SVXAPI void SVX_mem_free_lock(void* block);
SVXAPI int32_t SVX_set_preference(int32_t number, int32_t value);
SVXAPI int32_t SVX_get_preference(int32_t number);
SVXAPI char* SVX_last_error(void);
SVXAPI int32_t SVX_set_error(const char* text);
SVXAPI void SVX_lock(void);
SVXAPI void SVX_unlock(void);
SVXAPI void SVX_delay(int32_t ticks);
SVXAPI int32_t SVX_background(void);
SVXAPI uint32_t SVX_ms_count(void);
SVXAPI uint32_t SVX_us_count(void);

/* ---- Timers and the background service ---- */
SVXAPI HSVXTIMER SVX_register_timer(SVXTIMERCB callback);
SVXAPI uintptr_t SVX_set_timer_user(HSVXTIMER timer, uintptr_t user);
SVXAPI void SVX_set_timer_period(HSVXTIMER timer, uint32_t microseconds);
SVXAPI void SVX_set_timer_frequency(HSVXTIMER timer, uint32_t hertz);
SVXAPI void SVX_set_timer_divisor(HSVXTIMER timer, uint32_t divisor);
SVXAPI void SVX_start_timer(HSVXTIMER timer);
SVXAPI void SVX_start_all_timers(void);
SVXAPI void SVX_stop_timer(HSVXTIMER timer);
SVXAPI void SVX_stop_all_timers(void);
SVXAPI void SVX_release_timer_handle(HSVXTIMER timer);
SVXAPI void SVX_release_all_timers(void);

#ifdef __cplusplus
}
#endif

#endif /* SONVEX_H */
