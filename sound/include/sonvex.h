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
/* The thread that calls SVX_startup is suspended for a moment, by a
 * signal, whenever a device hands a buffer back (and around every
 * background tick while SVX_PREF_SUSPEND_FOREGROUND is set). On Linux a
 * sleep, poll or select on that thread may then return early with EINTR:
 * go on waiting for the time that is left. */
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

/* ---- Digital output drivers ---- */
/* Handles are addresses of library records ("HDIG", "HSAM"); opaque. */
typedef struct SVX_DIGITAL_DRIVER* HDIGDRIVER;
typedef struct SVX_SAMPLE* HSAMPLE;
/* Sample callbacks (start of block, end of buffer, end of sample, end of
 * file) get the sample handle and run on the background thread. */
typedef void(SVXCALLBACK* SVXSAMPLECB)(HSAMPLE sample);

/* The PCM format given to SVX_waveOutOpen: 16 bytes, the layout of the
 * system's PCM wave format record. */
typedef struct {
    uint16_t format_tag; /* 1 = PCM */
    uint16_t channels;
    uint32_t rate;
    uint32_t average_bytes_per_second;
    uint16_t block_align;
    uint16_t bits_per_sample;
} SVXPCMFORMAT;

/* Output formats reported by SVX_digital_configuration. */
#define SVX_OUTPUT_8_MONO 0
#define SVX_OUTPUT_16_MONO 1
#define SVX_OUTPUT_8_STEREO 2
#define SVX_OUTPUT_16_STEREO 3

/* Sample format bits and flag bits. */
#define SVX_FORMAT_16BIT 1
#define SVX_FORMAT_STEREO 2
#define SVX_FORMAT_ADPCM 4
#define SVX_FLAG_SIGNED 1
#define SVX_FLAG_RIGHT_FIRST 2

/* What SVX_WAV_info reports about a RIFF WAVE image. */
typedef struct {
    uint32_t format_tag;
    const void* data;
    uint32_t data_length;
    uint32_t rate;
    uint32_t bits;
    uint32_t channels;
    uint32_t samples;
    uint32_t block_size;
} SoundFileInfo;

/* `format` points to an SVXPCMFORMAT; `waveout_handle` (may be null)
 * receives the address of the device handle inside the driver. */
SVXAPI int32_t SVX_waveOutOpen(HDIGDRIVER* driver, void** waveout_handle, int32_t device,
                               const void* format);
SVXAPI void SVX_waveOutClose(HDIGDRIVER driver);
SVXAPI int32_t SVX_digital_handle_release(HDIGDRIVER driver);
SVXAPI int32_t SVX_digital_handle_reacquire(HDIGDRIVER driver);
/* `text` (may be null) is appended to: at least 128 bytes. */
SVXAPI void SVX_digital_configuration(HDIGDRIVER driver, int32_t* rate, int32_t* format,
                                      char* text);
SVXAPI void SVX_set_digital_master_volume(HDIGDRIVER driver, int32_t volume);
SVXAPI int32_t SVX_digital_master_volume(HDIGDRIVER driver);
SVXAPI int32_t SVX_set_direct_buffer_control(HSAMPLE sample, int32_t mode);
SVXAPI uintptr_t SVX_get_DirectSound_info(HSAMPLE sample, void** direct_sound, void** buffer);
SVXAPI int32_t SVX_set_DirectSound_HWND(HDIGDRIVER driver, void* window);
SVXAPI void SVX_serve(void);

/* ---- Samples ---- */
SVXAPI HSAMPLE SVX_allocate_sample_handle(HDIGDRIVER driver);
SVXAPI void SVX_release_sample_handle(HSAMPLE sample);
SVXAPI void SVX_init_sample(HSAMPLE sample);
SVXAPI void SVX_set_sample_address(HSAMPLE sample, const void* start, uint32_t length);
SVXAPI void SVX_set_sample_type(HSAMPLE sample, int32_t format, uint32_t flags);
SVXAPI void SVX_set_sample_adpcm_block_size(HSAMPLE sample, uint32_t bytes);
/* `marker`: the VOC marker to play from, -1 for every block. */
SVXAPI int32_t SVX_set_sample_file(HSAMPLE sample, const void* image, int32_t marker);
SVXAPI HSAMPLE SVX_allocate_file_sample(HDIGDRIVER driver, const void* image, int32_t marker);
SVXAPI void SVX_start_sample(HSAMPLE sample);
SVXAPI void SVX_stop_sample(HSAMPLE sample);
SVXAPI void SVX_resume_sample(HSAMPLE sample);
SVXAPI void SVX_end_sample(HSAMPLE sample);
SVXAPI void SVX_set_sample_playback_rate(HSAMPLE sample, int32_t rate);
SVXAPI void SVX_set_sample_volume(HSAMPLE sample, int32_t volume);
SVXAPI void SVX_set_sample_pan(HSAMPLE sample, int32_t pan);
SVXAPI void SVX_set_sample_loop_count(HSAMPLE sample, int32_t count);
SVXAPI void SVX_set_sample_loop_block(HSAMPLE sample, int32_t loop_start, int32_t loop_end);
SVXAPI int32_t SVX_sample_status(HSAMPLE sample);
SVXAPI int32_t SVX_sample_playback_rate(HSAMPLE sample);
SVXAPI int32_t SVX_sample_volume(HSAMPLE sample);
SVXAPI int32_t SVX_sample_pan(HSAMPLE sample);
SVXAPI int32_t SVX_sample_loop_count(HSAMPLE sample);
SVXAPI int32_t SVX_sample_granularity(HSAMPLE sample);
SVXAPI void SVX_set_sample_position(HSAMPLE sample, uint32_t position);
SVXAPI uint32_t SVX_sample_position(HSAMPLE sample);
SVXAPI void SVX_sample_ms_position(HSAMPLE sample, int32_t* total_ms, int32_t* current_ms);
SVXAPI void SVX_set_sample_ms_position(HSAMPLE sample, int32_t milliseconds);
SVXAPI SVXSAMPLECB SVX_register_SOB_callback(HSAMPLE sample, SVXSAMPLECB callback);
SVXAPI SVXSAMPLECB SVX_register_EOB_callback(HSAMPLE sample, SVXSAMPLECB callback);
SVXAPI SVXSAMPLECB SVX_register_EOS_callback(HSAMPLE sample, SVXSAMPLECB callback);
SVXAPI SVXSAMPLECB SVX_register_EOF_callback(HSAMPLE sample, SVXSAMPLECB callback);
SVXAPI void SVX_set_sample_user_data(HSAMPLE sample, uint32_t index, uintptr_t value);
SVXAPI uintptr_t SVX_sample_user_data(HSAMPLE sample, uint32_t index);
SVXAPI int32_t SVX_active_sample_count(HDIGDRIVER driver);
SVXAPI int32_t SVX_minimum_sample_buffer_size(HDIGDRIVER driver, int32_t rate, int32_t format);
SVXAPI int32_t SVX_sample_buffer_ready(HSAMPLE sample);
SVXAPI void SVX_load_sample_buffer(HSAMPLE sample, int32_t buffer, const void* start,
                                   uint32_t length);
SVXAPI int32_t SVX_sample_buffer_info(HSAMPLE sample, uint32_t* position0, uint32_t* length0,
                                      uint32_t* position1, uint32_t* length1);
SVXAPI int32_t SVX_WAV_info(const void* image, SoundFileInfo* info);

/* ---- IMA ADPCM conversion ---- */
/* `info` describes a PCM (compress) or IMA ADPCM (decompress) WAVE image,
 * as SVX_WAV_info fills it. The new WAVE image is a library memory block
 * (free it with SVX_mem_free_lock); either out pointer may be null. */
SVXAPI int32_t SVX_compress_ADPCM(const SoundFileInfo* info, void** image, uint32_t* size);
SVXAPI int32_t SVX_decompress_ADPCM(const SoundFileInfo* info, void** image, uint32_t* size);

/* ---- MIDI drivers and XMIDI sequences ---- */
/* Handles are addresses of library records ("HMDI", "HSEQ"); opaque. */
typedef struct SVX_MIDI_DRIVER* HMDIDRIVER;
typedef struct SVX_SEQUENCE* HSEQUENCE;
/* Device number of a driver that sends nothing to any device. */
#define SVX_MIDI_NO_DEVICE (-2)
/* Every channel message of a driver; non-zero: the library does not send it. */
typedef int32_t(SVXCALLBACK* SVXEVENTCB)(HMDIDRIVER driver, HSEQUENCE sequence, int32_t status,
                                         int32_t data1, int32_t data2);
/* A timbre a sequence asks for; non-zero: taken care of. */
typedef int32_t(SVXCALLBACK* SVXTIMBRECB)(HMDIDRIVER driver, int32_t bank, int32_t patch);
/* Controller 108: the result becomes the channel's indirect value. */
typedef int32_t(SVXCALLBACK* SVXPREFIXCB)(HSEQUENCE sequence, int32_t channel, int32_t value);
/* Controller 119. */
typedef void(SVXCALLBACK* SVXTRIGGERCB)(HSEQUENCE sequence, int32_t channel, int32_t value);
typedef void(SVXCALLBACK* SVXBEATCB)(HMDIDRIVER driver, HSEQUENCE sequence, int32_t beat,
                                     int32_t measure);
/* End of a sequence. */
typedef void(SVXCALLBACK* SVXSEQUENCECB)(HSEQUENCE sequence);

/* `midiout_handle` (may be null) receives the address of the device
 * handle inside the driver, or null for SVX_MIDI_NO_DEVICE. */
SVXAPI int32_t SVX_midiOutOpen(HMDIDRIVER* driver, void** midiout_handle, int32_t device);
SVXAPI void SVX_midiOutClose(HMDIDRIVER driver);
SVXAPI int32_t SVX_MIDI_handle_release(HMDIDRIVER driver);
SVXAPI int32_t SVX_MIDI_handle_reacquire(HMDIDRIVER driver);
SVXAPI SVXEVENTCB SVX_register_event_callback(HMDIDRIVER driver, SVXEVENTCB callback);
SVXAPI SVXTIMBRECB SVX_register_timbre_callback(HMDIDRIVER driver, SVXTIMBRECB callback);
/* `message`: status 0xF0 or 0xF7, a variable-length count, the data. */
SVXAPI void SVX_send_sysex_message(HMDIDRIVER driver, const void* message);

SVXAPI HSEQUENCE SVX_allocate_sequence_handle(HMDIDRIVER driver);
SVXAPI void SVX_release_sequence_handle(HSEQUENCE sequence);
/* The image is not copied and must stay valid while the sequence is used. */
SVXAPI int32_t SVX_init_sequence(HSEQUENCE sequence, const void* image, int32_t number);
SVXAPI void SVX_start_sequence(HSEQUENCE sequence);
SVXAPI void SVX_stop_sequence(HSEQUENCE sequence);
SVXAPI void SVX_resume_sequence(HSEQUENCE sequence);
SVXAPI void SVX_end_sequence(HSEQUENCE sequence);
SVXAPI void SVX_set_sequence_tempo(HSEQUENCE sequence, int32_t tempo, int32_t milliseconds);
SVXAPI void SVX_set_sequence_volume(HSEQUENCE sequence, int32_t volume, int32_t milliseconds);
SVXAPI int32_t SVX_sequence_tempo(HSEQUENCE sequence);
SVXAPI int32_t SVX_sequence_volume(HSEQUENCE sequence);
SVXAPI int32_t SVX_sequence_status(HSEQUENCE sequence);
SVXAPI void SVX_set_sequence_loop_count(HSEQUENCE sequence, int32_t count);
SVXAPI int32_t SVX_sequence_loop_count(HSEQUENCE sequence);
SVXAPI void SVX_set_XMIDI_master_volume(HMDIDRIVER driver, int32_t volume);
SVXAPI int32_t SVX_XMIDI_master_volume(HMDIDRIVER driver);
SVXAPI int32_t SVX_active_sequence_count(HMDIDRIVER driver);
/* Channels are 1-16. */
SVXAPI int32_t SVX_controller_value(HSEQUENCE sequence, int32_t channel, int32_t controller);
SVXAPI int32_t SVX_channel_notes(HSEQUENCE sequence, int32_t channel);
SVXAPI void SVX_sequence_position(HSEQUENCE sequence, int32_t* beat, int32_t* measure);
SVXAPI void SVX_branch_index(HSEQUENCE sequence, uint32_t marker);
SVXAPI SVXPREFIXCB SVX_register_prefix_callback(HSEQUENCE sequence, SVXPREFIXCB callback);
SVXAPI SVXTRIGGERCB SVX_register_trigger_callback(HSEQUENCE sequence, SVXTRIGGERCB callback);
SVXAPI SVXSEQUENCECB SVX_register_sequence_callback(HSEQUENCE sequence, SVXSEQUENCECB callback);
SVXAPI SVXBEATCB SVX_register_beat_callback(HSEQUENCE sequence, SVXBEATCB callback);
/* `array`: 128 bytes, indexed by the value of controller 115. */
SVXAPI void SVX_register_ICA_array(HSEQUENCE sequence, const uint8_t* array);
SVXAPI void SVX_set_sequence_user_data(HSEQUENCE sequence, uint32_t index, uintptr_t value);
SVXAPI uintptr_t SVX_sequence_user_data(HSEQUENCE sequence, uint32_t index);
SVXAPI int32_t SVX_lock_channel(HMDIDRIVER driver);
SVXAPI void SVX_release_channel(HMDIDRIVER driver, int32_t channel);
SVXAPI void SVX_map_sequence_channel(HSEQUENCE sequence, int32_t sequence_channel,
                                     int32_t physical_channel);
SVXAPI int32_t SVX_true_sequence_channel(HSEQUENCE sequence, int32_t sequence_channel);
SVXAPI void SVX_send_channel_voice_message(HMDIDRIVER driver, HSEQUENCE sequence, int32_t status,
                                           int32_t data1, int32_t data2);
SVXAPI void SVX_sequence_ms_position(HSEQUENCE sequence, int32_t* total_ms, int32_t* current_ms);
SVXAPI void SVX_set_sequence_ms_position(HSEQUENCE sequence, int32_t milliseconds);

/* ---- File services, type detection, XMIDI with DLS ---- */
/* Blocks handed out are library memory: free them with SVX_mem_free_lock. */
/* The last file error: 0 none, 2 no memory, 3 cannot open, 4 cannot
 * create, 5 cannot read, 6 cannot write. */
SVXAPI int32_t SVX_file_error(void);
/* -1 when the file cannot be opened. */
SVXAPI int32_t SVX_file_size(const char* filename);
/* Into `destination`; null: a new block; SVX_FILE_READ_SIZE_FIRST: a new
 * block whose first 32 bits (little-endian) hold the file size. */
#define SVX_FILE_READ_SIZE_FIRST ((void*)~(uintptr_t)0)
SVXAPI void* SVX_file_read(const char* filename, void* destination);
SVXAPI int32_t SVX_file_write(const char* filename, const void* data, uint32_t bytes);

#define SVX_FILETYPE_UNKNOWN 0
#define SVX_FILETYPE_WAV_PCM 1
#define SVX_FILETYPE_WAV_ADPCM 2
#define SVX_FILETYPE_WAV_OTHER 3
#define SVX_FILETYPE_VOC 4
#define SVX_FILETYPE_MIDI 5
#define SVX_FILETYPE_XMIDI 6
#define SVX_FILETYPE_XMIDI_DLS 7
#define SVX_FILETYPE_XMIDI_MLS 8
#define SVX_FILETYPE_DLS 9
#define SVX_FILETYPE_MLS 10
SVXAPI int32_t SVX_file_type(const void* image, uint32_t size);

/* Points into the image: its XMIDI chunks and its DLS collection (null, 0
 * when it has none). */
SVXAPI int32_t SVX_find_DLS(const void* image, uint32_t size, void** xmidi, uint32_t* xmidi_size,
                            void** dls, uint32_t* dls_size);
/* Copies of both parts, as new blocks; a bare collection is taken whole. */
SVXAPI int32_t SVX_extract_DLS(const void* image, uint32_t size, void** xmidi,
                               uint32_t* xmidi_size, void** dls, uint32_t* dls_size);
SVXAPI int32_t SVX_merge_DLS_with_XMI(const void* xmidi, const void* dls, void** result,
                                      uint32_t* result_size);
/* Keeps the instruments, regions and waves the XMIDI sequences play. With
 * SVX_FILTER_XMIDI_LIST, `xmidi` is an array of pointers: the first slot
 * holds the count, the images follow. */
#define SVX_FILTER_XMIDI_LIST 1
SVXAPI int32_t SVX_filter_DLS_with_XMI(const void* xmidi, const void* dls, void** result,
                                       uint32_t* result_size, uint32_t flags);

/* ---- Streams from disk ---- */
/* A stream plays a WAV file (PCM 8/16 bit or IMA ADPCM, mono or stereo)
 * from disk through a sample handle of a digital driver. A file name of
 * four backslashes and a decimal number ("\\\\\\\\7") streams from that
 * open host file descriptor, from where it stands; the stream never
 * closes it. */
typedef struct SVX_STREAM* HSTREAM;
/* Called once at the end of the data, on the background thread. */
typedef void(SVXCALLBACK* SVXSTREAMCB)(HSTREAM stream);

/* `buffer_bytes`: the memory for all three read buffers; 0 = automatic. */
SVXAPI HSTREAM SVX_open_stream(HDIGDRIVER driver, const char* filename, int32_t buffer_bytes);
SVXAPI void SVX_close_stream(HSTREAM stream);
/* Bytes read, or -1 (nothing to do, or a read error). */
SVXAPI int32_t SVX_service_stream(HSTREAM stream, int32_t fill_up);
SVXAPI void SVX_start_stream(HSTREAM stream);
SVXAPI void SVX_pause_stream(HSTREAM stream, int32_t on_off);
SVXAPI void SVX_set_stream_volume(HSTREAM stream, int32_t volume);
SVXAPI void SVX_set_stream_pan(HSTREAM stream, int32_t pan);
SVXAPI void SVX_set_stream_playback_rate(HSTREAM stream, int32_t rate);
SVXAPI int32_t SVX_stream_volume(HSTREAM stream);
SVXAPI int32_t SVX_stream_pan(HSTREAM stream);
SVXAPI int32_t SVX_stream_playback_rate(HSTREAM stream);
/* 1 = once, 0 = for ever, N = N passes. */
SVXAPI void SVX_set_stream_loop_count(HSTREAM stream, int32_t count);
SVXAPI int32_t SVX_stream_loop_count(HSTREAM stream);
/* -1 for a null stream or after a read error. */
SVXAPI int32_t SVX_stream_status(HSTREAM stream);
/* Byte offsets in the file's data. */
SVXAPI void SVX_set_stream_position(HSTREAM stream, int32_t offset);
SVXAPI int32_t SVX_stream_position(HSTREAM stream);
SVXAPI void SVX_stream_ms_position(HSTREAM stream, int32_t* total_ms, int32_t* current_ms);
SVXAPI void SVX_set_stream_ms_position(HSTREAM stream, int32_t milliseconds);
/* Null outputs are skipped; `memory`: the bytes of the read buffers. */
SVXAPI void SVX_stream_info(HSTREAM stream, int32_t* rate, int32_t* format, int32_t* data_size,
                            int32_t* memory);
/* Returns the previous callback, or (SVXSTREAMCB)-1 for a null stream. */
SVXAPI SVXSTREAMCB SVX_register_stream_callback(HSTREAM stream, SVXSTREAMCB callback);
/* Serviced by the library's stream thread (2) or by the caller (0). */
SVXAPI int32_t SVX_auto_service_stream(HSTREAM stream, int32_t on_off);
SVXAPI void SVX_set_stream_user_data(HSTREAM stream, uint32_t index, uintptr_t value);
SVXAPI uintptr_t SVX_stream_user_data(HSTREAM stream, uint32_t index);

/* ---- MIDI to XMIDI ---- */
/* Tolerant: unpaired notes, too many notes at once and bad branch points
 * are reported in SVX_last_error and the conversion goes on. */
#define SVX_MIDI_TOLERANT 2
SVXAPI int32_t SVX_MIDI_to_XMI(const void* image, uint32_t size, void** xmidi,
                               uint32_t* xmidi_size, uint32_t flags);

/* ---- Listings ---- */
/* Text with CR LF line ends and a final zero byte, counted in the size. */
#define SVX_LIST_ROLAND_SYSEX 1 /* decode MT-32 system-exclusive messages */
#define SVX_LIST_MT32_MAP 2     /* print the MT-32 parameter map first */
#define SVX_LIST_MT32_AREAS 4   /* print only its areas first */
SVXAPI int32_t SVX_list_MIDI(const void* image, uint32_t size, char** text, uint32_t* text_size,
                             uint32_t flags);

/* ---- Downloadable sounds ---- */
/* Handles are addresses of library records; opaque. */
typedef struct SVX_DLS_DEVICE* HDLSDEVICE;
typedef struct SVX_DLS_FILE* HDLSFILEID;
/* What an engine's DLSGetInfo reports. */
typedef struct {
    int32_t max_collections;
    int32_t reserved;
    int32_t general_midi;
    int32_t max_memory;
} SVXDLSENGINEINFO;
typedef struct {
    char name[128]; /* the engine's module file name, or the built-in one's name */
    SVXDLSENGINEINFO engine;
} SVXDLSINFO;
/* `library`: an engine library's file name, null for the built-in one. */
SVXAPI HDLSDEVICE SVX_DLS_open(HMDIDRIVER midi, HDIGDRIVER digital, const char* library,
                               uint32_t flags, int32_t rate, int32_t bits, int32_t channels);
SVXAPI void SVX_DLS_close(HDLSDEVICE dls, uint32_t flags);
SVXAPI HDLSFILEID SVX_DLS_load_file(HDLSDEVICE dls, const char* filename, uint32_t flags);
SVXAPI HDLSFILEID SVX_DLS_load_memory(HDLSDEVICE dls, const void* image, uint32_t flags);
/* Null: unload all; SVX_DLS_UNLOAD_ALL_QUIET: unload all, the engine told with flag 0. */
#define SVX_DLS_UNLOAD_ALL_QUIET ((HDLSFILEID)(intptr_t)-1)
SVXAPI void SVX_DLS_unload(HDLSDEVICE dls, HDLSFILEID file);
SVXAPI int32_t SVX_DLS_compact(HDLSDEVICE dls);
SVXAPI void SVX_DLS_get_info(HDLSDEVICE dls, SVXDLSINFO* info, int32_t* cpu_percent);
/* A DLS collection compressed into an "MLS " one, as a new block. */
SVXAPI int32_t SVX_compress_DLS(const void* image, void** result, uint32_t* result_size);
/* A listing of a collection; flags bit 0: each region's articulation too. */
#define SVX_LIST_DLS_ARTICULATION 1
SVXAPI int32_t SVX_list_DLS(const void* image, char** text, uint32_t* text_size, uint32_t flags);

/* DLS engine entry points, as an engine library exports them; the
 * library exports its own engine under these names. The engine hands
 * finished output through the three functions it is opened with: a free
 * output buffer (-1 none), that buffer's memory, and the buffer filled. */
typedef int32_t(SVXCALLBACK* SVXDLSBUFFERREADY)(void* user);
typedef void*(SVXCALLBACK* SVXDLSBUFFERADDRESS)(void* user, int32_t buffer);
typedef void(SVXCALLBACK* SVXDLSBUFFERLOAD)(void* user, int32_t buffer, uint32_t bytes);
/* Format flags: bit 0 16-bit, bit 1 stereo. Results: 0 or an error code
 * (3 already open, 5 bad handle, 8 out of memory, 9 read error, 10 file
 * cannot be opened, 11 not a DLS collection, 15 not supported, 17 not open). */
SVXAPI int32_t DLSSONVEXOpen(uintptr_t* handle, uint32_t version, HMDIDRIVER midi,
                             uint32_t format_flags, int32_t rate, uint32_t buffer_size,
                             void* user, SVXDLSBUFFERREADY ready, SVXDLSBUFFERADDRESS address,
                             SVXDLSBUFFERLOAD load);
SVXAPI int32_t DLSOpen(uintptr_t* handle, HMDIDRIVER midi);
SVXAPI int32_t DLSClose(uintptr_t handle, uint32_t flags);
SVXAPI int32_t DLSLoadFile(uintptr_t handle, uint32_t flags, uint32_t* id, const char* filename);
SVXAPI int32_t DLSLoadMemFile(uintptr_t handle, uint32_t flags, uint32_t* id, const void* image);
SVXAPI int32_t DLSUnloadFile(uintptr_t handle, uint32_t id);
SVXAPI int32_t DLSUnloadAll(uintptr_t handle, uint32_t flags);
SVXAPI int32_t DLSGetInfo(SVXDLSENGINEINFO* info);
SVXAPI int32_t DLSCompactMemory(uintptr_t handle);
SVXAPI int32_t DLSSetAttribute(uintptr_t handle, int32_t attribute, int32_t value);
SVXAPI int32_t DLSSONVEXGetCPU(uintptr_t handle);

/* ---- Wave synthesizer ---- */
typedef struct SVX_WAVE_SYNTHESIZER* HWAVESYNTH;
/* A wave library: 32-byte entries (bank, patch, root key, data offset from
 * the image start, data bytes, sample format, signed flag, rate), ended by
 * bank -1, at most 512. Drums: bank 127, patch = key. */
SVXAPI HWAVESYNTH SVX_create_wave_synthesizer(HDIGDRIVER digital, HMDIDRIVER midi,
                                              const void* library, int32_t voices);
SVXAPI void SVX_destroy_wave_synthesizer(HWAVESYNTH synth);
/* ---- Quick interface ---- */
/* One start-up opens the drivers; any file the library plays (WAV, VOC,
 * Standard MIDI, XMIDI with or without its DLS collection) is loaded,
 * played and adjusted through one handle, the address of a library
 * record; opaque. */
typedef struct SVX_QUICK* HQUICK;
/* Status of a quick handle. */
#define SVX_QUICK_DONE 1
#define SVX_QUICK_LOADED 2
#define SVX_QUICK_PLAYING 3
/* Type of a quick handle. */
#define SVX_QUICK_XMIDI 1
#define SVX_QUICK_DIGITAL 2
#define SVX_QUICK_XMIDI_DLS 3
/* use_digital: 0 none, 1 DirectSound when it is not emulated, else
 * waveOut, 2 waveOut. use_midi: 0 none, 1 the MIDI mapper, 2 the mapper
 * and the DLS synthesizer, 3 the DLS synthesizer alone. Zero rate, bits
 * or channels: 22050, 8, 1. 1 when started, 0 otherwise. */
SVXAPI int32_t SVX_quick_startup(int32_t use_digital, int32_t use_midi, int32_t rate,
                                 int32_t bits, int32_t channels);
SVXAPI void SVX_quick_shutdown(void);
/* Null outputs are skipped. */
SVXAPI void SVX_quick_handles(HDIGDRIVER* digital, HMDIDRIVER* midi, HDLSDEVICE* dls);
SVXAPI HQUICK SVX_quick_load(const char* filename);
/* The image stays the caller's and must outlive the handle. */
SVXAPI HQUICK SVX_quick_load_mem(const void* image, uint32_t size);
/* A second handle on the same image, freed with the last of them. */
SVXAPI HQUICK SVX_quick_copy(HQUICK handle);
SVXAPI void SVX_quick_unload(HQUICK handle);
/* Loop count: 1 once, 0 for ever, N passes. */
SVXAPI int32_t SVX_quick_play(HQUICK handle, int32_t loop_count);
SVXAPI void SVX_quick_halt(HQUICK handle);
SVXAPI int32_t SVX_quick_status(HQUICK handle);
/* With `wait`, returns once the file has been heard (never for loop count
 * 0), or at the latest a few seconds after its length. */
SVXAPI HQUICK SVX_quick_load_and_play(const char* filename, int32_t loop_count, int32_t wait);
/* Tempo percent (XMIDI) or playback rate in Hz (digital); -1 leaves it. */
SVXAPI void SVX_quick_set_speed(HQUICK handle, int32_t speed);
/* `extra`: the volume ramp in ms (XMIDI) or the pan (digital); -1 leaves it. */
SVXAPI void SVX_quick_set_volume(HQUICK handle, int32_t volume, int32_t extra);
/* While playing: moves there; otherwise the next play starts there. */
SVXAPI void SVX_quick_set_ms_position(HQUICK handle, int32_t milliseconds);
SVXAPI int32_t SVX_quick_ms_position(HQUICK handle);
/* The file's length, playing or not. */
SVXAPI int32_t SVX_quick_ms_length(HQUICK handle);
SVXAPI int32_t SVX_quick_type(HQUICK handle);

/* ---- Red Book CD audio ---- */
/* Positions and lengths in milliseconds. The handle is the address of a
 * library record; opaque. */
typedef struct SVX_REDBOOK* HREDBOOK;
#define SVX_REDBOOK_NOT_READY 0
#define SVX_REDBOOK_PLAYING 1
#define SVX_REDBOOK_PAUSED 2
#define SVX_REDBOOK_STOPPED 3
/* `which` is passed to the device as its number; null when no CD device
 * opens. */
SVXAPI HREDBOOK SVX_redbook_open(int32_t which);
/* The CD device of drive letter `drive` ('D'). */
SVXAPI HREDBOOK SVX_redbook_open_drive(int32_t drive);
SVXAPI void SVX_redbook_close(HREDBOOK hand);
SVXAPI void SVX_redbook_eject(HREDBOOK hand);
SVXAPI void SVX_redbook_retract(HREDBOOK hand);
SVXAPI int32_t SVX_redbook_status(HREDBOOK hand);
SVXAPI int32_t SVX_redbook_tracks(HREDBOOK hand);
/* Tracks are 1-based; either out pointer may be null. */
SVXAPI void SVX_redbook_track_info(HREDBOOK hand, int32_t track, int32_t* start_ms,
                                   int32_t* end_ms);
SVXAPI uint32_t SVX_redbook_id(HREDBOOK hand);
SVXAPI int32_t SVX_redbook_position(HREDBOOK hand);
SVXAPI int32_t SVX_redbook_track(HREDBOOK hand);
/* Play, stop, pause and resume return the status afterwards. */
SVXAPI int32_t SVX_redbook_play(HREDBOOK hand, int32_t start_ms, int32_t end_ms);
SVXAPI int32_t SVX_redbook_stop(HREDBOOK hand);
SVXAPI int32_t SVX_redbook_pause(HREDBOOK hand);
SVXAPI int32_t SVX_redbook_resume(HREDBOOK hand);
/* 0-127, -1 without a volume device. */
SVXAPI int32_t SVX_redbook_volume(HREDBOOK hand);
/* 0-127; another value changes nothing. Returns the volume read back. */
SVXAPI int32_t SVX_redbook_set_volume(HREDBOOK hand, int32_t volume);

#ifdef __cplusplus
}
#endif

#endif /* SONVEX_H */
