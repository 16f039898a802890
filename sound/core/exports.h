// The export table: every export of the library, once. The call frame
// (call depth, trace line, dispatch, result line) of each export is
// generated from its row in exports.cpp; nothing is written per export.
//
// X(frame, result type, name, (parameters), (arguments), "argument formats", result format)
//   frame:  traced  - the full frame
//           bare    - no frame at all (the lock and the background test)
//           startup - writes its own trace line once the log is open
//           by_output - the full frame, dispatching at every call on
//                     preference 15: svx::op::waveout::name when it is
//                     non-zero, svx::op::dsound::name when it is 0
//   argument formats: the printf conversions of the call line, between the
//           parentheses; the line is the name, "(", these, ")" and CR LF.
#pragma once

#define SVX_NO_RESULT nullptr
#define SVX_RESULT_D "Result = %d\r\n"
#define SVX_RESULT_X "Result = 0x%X\r\n"
#define SVX_RESULT_LU "Result = %lu\r\n"
#define SVX_RESULT_LD "Result = %ld\r\n"

#define SVX_CORE_EXPORTS(X)                                                                   \
    X(startup, int32_t, SVX_startup, (void), (), "", SVX_NO_RESULT)                          \
    X(traced, void, SVX_shutdown, (void), (), "", SVX_NO_RESULT)                             \
    X(traced, void*, SVX_mem_alloc_lock, (int32_t bytes), (bytes), "%li", SVX_RESULT_X)      \
    X(traced, void, SVX_mem_free_lock, (void* block), (block), "0x%lX", SVX_NO_RESULT)       \
    X(traced, int32_t, SVX_set_preference, (int32_t number, int32_t value), (number, value), \
      "%ld,%ld", SVX_RESULT_D)                                                               \
    X(traced, int32_t, SVX_get_preference, (int32_t number), (number), "%ld", SVX_RESULT_D)  \
    X(traced, char*, SVX_last_error, (void), (), "", SVX_RESULT_D)                           \
    X(traced, int32_t, SVX_set_error, (const char* text), (text), "%s", SVX_NO_RESULT)       \
    X(bare, void, SVX_lock, (void), (), "", SVX_NO_RESULT)                                   \
    X(bare, void, SVX_unlock, (void), (), "", SVX_NO_RESULT)                                 \
    X(traced, void, SVX_delay, (int32_t ticks), (ticks), "%ld", SVX_NO_RESULT)               \
    X(bare, int32_t, SVX_background, (void), (), "", SVX_NO_RESULT)                          \
    X(traced, uint32_t, SVX_ms_count, (void), (), "", SVX_NO_RESULT)                         \
    X(traced, uint32_t, SVX_us_count, (void), (), "", SVX_NO_RESULT)

#define SVX_TIMER_EXPORTS(X)                                                                  \
    X(traced, HSVXTIMER, SVX_register_timer, (SVXTIMERCB callback), (callback), "0x%lX",     \
      SVX_RESULT_D)                                                                          \
    X(traced, uintptr_t, SVX_set_timer_user, (HSVXTIMER timer, uintptr_t user),              \
      (timer, user), "%ld,%lu", SVX_RESULT_D)                                                \
    X(traced, void, SVX_set_timer_period, (HSVXTIMER timer, uint32_t microseconds),          \
      (timer, microseconds), "%ld,%lu", SVX_NO_RESULT)                                       \
    X(traced, void, SVX_set_timer_frequency, (HSVXTIMER timer, uint32_t hertz),              \
      (timer, hertz), "%ld,%lu", SVX_NO_RESULT)                                              \
    X(traced, void, SVX_set_timer_divisor, (HSVXTIMER timer, uint32_t divisor),              \
      (timer, divisor), "%ld,%lu", SVX_NO_RESULT)                                            \
    X(traced, void, SVX_start_timer, (HSVXTIMER timer), (timer), "%lu", SVX_NO_RESULT)       \
    X(traced, void, SVX_start_all_timers, (void), (), "", SVX_NO_RESULT)                     \
    X(traced, void, SVX_stop_timer, (HSVXTIMER timer), (timer), "%lu", SVX_NO_RESULT)        \
    X(traced, void, SVX_stop_all_timers, (void), (), "", SVX_NO_RESULT)                      \
    X(traced, void, SVX_release_timer_handle, (HSVXTIMER timer), (timer), "%lu",             \
      SVX_NO_RESULT)                                                                         \
    X(traced, void, SVX_release_all_timers, (void), (), "", SVX_NO_RESULT)

#define SVX_DIGITAL_EXPORTS(X)                                                                \
    X(by_output, int32_t, SVX_waveOutOpen,                                                   \
      (HDIGDRIVER * driver, void** waveout_handle, int32_t device, const void* format),      \
      (driver, waveout_handle, device, format), "0x%lX, 0x%lX, %d, 0x%lX", SVX_RESULT_X)     \
    X(by_output, void, SVX_waveOutClose, (HDIGDRIVER driver), (driver), "0x%lX",             \
      SVX_NO_RESULT)                                                                         \
    X(by_output, int32_t, SVX_digital_handle_release, (HDIGDRIVER driver), (driver),         \
      "0x%lX", SVX_RESULT_D)                                                                 \
    X(by_output, int32_t, SVX_digital_handle_reacquire, (HDIGDRIVER driver), (driver),       \
      "0x%lX", SVX_RESULT_D)                                                                 \
    X(by_output, void, SVX_digital_configuration,                                            \
      (HDIGDRIVER driver, int32_t * rate, int32_t * format, char* text),                     \
      (driver, rate, format, text), "0x%lX,0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                \
    X(by_output, void, SVX_set_digital_master_volume, (HDIGDRIVER driver, int32_t volume),   \
      (driver, volume), "0x%X,%d", SVX_NO_RESULT)                                            \
    X(traced, int32_t, SVX_digital_master_volume, (HDIGDRIVER driver), (driver), "0x%X",     \
      SVX_RESULT_D)                                                                          \
    X(by_output, int32_t, SVX_set_direct_buffer_control, (HSAMPLE sample, int32_t mode),     \
      (sample, mode), "0x%lX,%ld", SVX_RESULT_D)                                             \
    X(by_output, uintptr_t, SVX_get_DirectSound_info,                                        \
      (HSAMPLE sample, void** direct_sound, void** buffer), (sample, direct_sound, buffer),  \
      "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                                                    \
    X(by_output, int32_t, SVX_set_DirectSound_HWND, (HDIGDRIVER driver, void* window),       \
      (driver, window), "0x%lX, 0x%lX", SVX_RESULT_X)                                        \
    X(traced, void, SVX_serve, (void), (), "", SVX_NO_RESULT)

#define SVX_SAMPLE_EXPORTS(X)                                                                 \
    X(traced, HSAMPLE, SVX_allocate_sample_handle, (HDIGDRIVER driver), (driver), "0x%lX",   \
      SVX_RESULT_X)                                                                          \
    X(by_output, void, SVX_release_sample_handle, (HSAMPLE sample), (sample), "0x%lX",       \
      SVX_NO_RESULT)                                                                         \
    X(by_output, void, SVX_init_sample, (HSAMPLE sample), (sample), "0x%lX", SVX_NO_RESULT)  \
    X(traced, void, SVX_set_sample_address,                                                  \
      (HSAMPLE sample, const void* start, uint32_t length), (sample, start, length),         \
      "0x%lX,0x%lX,%lu", SVX_NO_RESULT)                                                      \
    X(by_output, void, SVX_set_sample_type, (HSAMPLE sample, int32_t format, uint32_t flags), \
      (sample, format, flags), "0x%lX,%ld,%lu", SVX_NO_RESULT)                               \
    X(traced, void, SVX_set_sample_adpcm_block_size, (HSAMPLE sample, uint32_t bytes),       \
      (sample, bytes), "0x%lX,%lu", SVX_NO_RESULT)                                           \
    X(traced, int32_t, SVX_set_sample_file,                                                  \
      (HSAMPLE sample, const void* image, int32_t marker), (sample, image, marker),          \
      "0x%lX,0x%lX,%ld", SVX_RESULT_D)                                                       \
    X(traced, HSAMPLE, SVX_allocate_file_sample,                                             \
      (HDIGDRIVER driver, const void* image, int32_t marker), (driver, image, marker),       \
      "0x%lX,0x%lX,%ld", SVX_RESULT_X)                                                       \
    X(by_output, void, SVX_start_sample, (HSAMPLE sample), (sample), "0x%lX", SVX_NO_RESULT) \
    X(by_output, void, SVX_stop_sample, (HSAMPLE sample), (sample), "0x%lX", SVX_NO_RESULT)  \
    X(by_output, void, SVX_resume_sample, (HSAMPLE sample), (sample), "0x%lX",               \
      SVX_NO_RESULT)                                                                         \
    X(by_output, void, SVX_end_sample, (HSAMPLE sample), (sample), "0x%lX", SVX_NO_RESULT)   \
    X(by_output, void, SVX_set_sample_playback_rate, (HSAMPLE sample, int32_t rate),         \
      (sample, rate), "0x%lX,%ld", SVX_NO_RESULT)                                            \
    X(by_output, void, SVX_set_sample_volume, (HSAMPLE sample, int32_t volume),              \
      (sample, volume), "0x%lX,%ld", SVX_NO_RESULT)                                          \
    X(by_output, void, SVX_set_sample_pan, (HSAMPLE sample, int32_t pan), (sample, pan),     \
      "0x%lX,%ld", SVX_NO_RESULT)                                                            \
    X(traced, void, SVX_set_sample_loop_count, (HSAMPLE sample, int32_t count),              \
      (sample, count), "0x%lX,%ld", SVX_NO_RESULT)                                           \
    X(traced, void, SVX_set_sample_loop_block,                                               \
      (HSAMPLE sample, int32_t loop_start, int32_t loop_end), (sample, loop_start, loop_end), \
      "0x%lX,%ld,%ld", SVX_NO_RESULT)                                                        \
    X(traced, int32_t, SVX_sample_status, (HSAMPLE sample), (sample), "0x%lX", SVX_RESULT_D) \
    X(traced, int32_t, SVX_sample_playback_rate, (HSAMPLE sample), (sample), "0x%lX",        \
      SVX_RESULT_D)                                                                          \
    X(traced, int32_t, SVX_sample_volume, (HSAMPLE sample), (sample), "0x%lX", SVX_RESULT_D) \
    X(traced, int32_t, SVX_sample_pan, (HSAMPLE sample), (sample), "0x%lX", SVX_RESULT_D)    \
    X(traced, int32_t, SVX_sample_loop_count, (HSAMPLE sample), (sample), "0x%lX",           \
      SVX_RESULT_D)                                                                          \
    X(traced, int32_t, SVX_sample_granularity, (HSAMPLE sample), (sample), "0x%lX",          \
      SVX_RESULT_D)                                                                          \
    X(traced, void, SVX_set_sample_position, (HSAMPLE sample, uint32_t position),            \
      (sample, position), "0x%lX,%lu", SVX_NO_RESULT)                                        \
    X(by_output, uint32_t, SVX_sample_position, (HSAMPLE sample), (sample), "0x%lX",         \
      SVX_RESULT_D)                                                                          \
    X(traced, void, SVX_sample_ms_position,                                                  \
      (HSAMPLE sample, int32_t * total_ms, int32_t * current_ms),                            \
      (sample, total_ms, current_ms), "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                    \
    X(traced, void, SVX_set_sample_ms_position, (HSAMPLE sample, int32_t milliseconds),      \
      (sample, milliseconds), "0x%lX,0x%lu", SVX_NO_RESULT)                                  \
    X(traced, SVXSAMPLECB, SVX_register_SOB_callback, (HSAMPLE sample, SVXSAMPLECB callback), \
      (sample, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                       \
    X(traced, SVXSAMPLECB, SVX_register_EOB_callback, (HSAMPLE sample, SVXSAMPLECB callback), \
      (sample, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                       \
    X(traced, SVXSAMPLECB, SVX_register_EOS_callback, (HSAMPLE sample, SVXSAMPLECB callback), \
      (sample, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                       \
    X(traced, SVXSAMPLECB, SVX_register_EOF_callback, (HSAMPLE sample, SVXSAMPLECB callback), \
      (sample, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                       \
    X(traced, void, SVX_set_sample_user_data,                                                \
      (HSAMPLE sample, uint32_t index, uintptr_t value), (sample, index, value),             \
      "0x%lX,%ld,%ld", SVX_NO_RESULT)                                                        \
    X(traced, uintptr_t, SVX_sample_user_data, (HSAMPLE sample, uint32_t index),             \
      (sample, index), "0x%lX,%lu", SVX_RESULT_D)                                            \
    X(traced, int32_t, SVX_active_sample_count, (HDIGDRIVER driver), (driver), "0x%lX",      \
      SVX_RESULT_D)                                                                          \
    X(by_output, int32_t, SVX_minimum_sample_buffer_size,                                    \
      (HDIGDRIVER driver, int32_t rate, int32_t format), (driver, rate, format),             \
      "0x%lX,%ld,%ld", SVX_RESULT_D)                                                         \
    X(traced, int32_t, SVX_sample_buffer_ready, (HSAMPLE sample), (sample), "0x%lX",         \
      SVX_RESULT_D)                                                                          \
    X(by_output, void, SVX_load_sample_buffer,                                               \
      (HSAMPLE sample, int32_t buffer, const void* start, uint32_t length),                  \
      (sample, buffer, start, length), "0x%lX,%ld,0x%lX,%lu", SVX_NO_RESULT)                 \
    X(traced, int32_t, SVX_sample_buffer_info,                                               \
      (HSAMPLE sample, uint32_t * position0, uint32_t * length0, uint32_t * position1,       \
       uint32_t * length1),                                                                  \
      (sample, position0, length0, position1, length1), "0x%lX,0x%lX,0x%lX,0x%lX,0x%lX",     \
      SVX_RESULT_D)                                                                          \
    X(traced, int32_t, SVX_WAV_info, (const void* image, SoundFileInfo* info), (image, info), \
      "0x%lX,0x%lX", SVX_RESULT_D)

#define SVX_ADPCM_EXPORTS(X)                                                                  \
    X(traced, int32_t, SVX_compress_ADPCM,                                                   \
      (const SoundFileInfo* info, void** image, uint32_t* size), (info, image, size),        \
      "0x%lX,0x%lX,0x%lX", SVX_RESULT_D)                                                     \
    X(traced, int32_t, SVX_decompress_ADPCM,                                                 \
      (const SoundFileInfo* info, void** image, uint32_t* size), (info, image, size),        \
      "0x%lX,0x%lX,0x%lX", SVX_RESULT_D)

#define SVX_MIDI_EXPORTS(X)                                                                   \
    X(traced, int32_t, SVX_midiOutOpen,                                                      \
      (HMDIDRIVER * driver, void** midiout_handle, int32_t device),                          \
      (driver, midiout_handle, device), "0x%lX,0x%lX,%ld", SVX_RESULT_X)                     \
    X(traced, void, SVX_midiOutClose, (HMDIDRIVER driver),                                   \
      (driver), "0x%lX", SVX_NO_RESULT)                                                      \
    X(traced, int32_t, SVX_MIDI_handle_release, (HMDIDRIVER driver),                         \
      (driver), "0x%lX", SVX_RESULT_D)                                                       \
    X(traced, int32_t, SVX_MIDI_handle_reacquire, (HMDIDRIVER driver),                       \
      (driver), "0x%lX", SVX_RESULT_D)                                                       \
    X(traced, SVXEVENTCB, SVX_register_event_callback,                                       \
      (HMDIDRIVER driver, SVXEVENTCB callback),                                              \
      (driver, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                       \
    X(traced, SVXTIMBRECB, SVX_register_timbre_callback,                                     \
      (HMDIDRIVER driver, SVXTIMBRECB callback),                                             \
      (driver, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                       \
    X(traced, void, SVX_send_sysex_message, (HMDIDRIVER driver, const void* message),        \
      (driver, message), "0x%lX,0x%lX", SVX_NO_RESULT)                                       \
    X(traced, void, SVX_set_XMIDI_master_volume, (HMDIDRIVER driver, int32_t volume),        \
      (driver, volume), "0x%lX,%ld", SVX_NO_RESULT)                                          \
    X(traced, int32_t, SVX_XMIDI_master_volume, (HMDIDRIVER driver),                         \
      (driver), "0x%lX", SVX_RESULT_D)                                                       \
    X(traced, int32_t, SVX_lock_channel, (HMDIDRIVER driver),                                \
      (driver), "0x%lX", SVX_RESULT_LU)                                                      \
    X(traced, void, SVX_release_channel, (HMDIDRIVER driver, int32_t channel),               \
      (driver, channel), "0x%lX,%ld", SVX_NO_RESULT)                                         \
    X(traced, void, SVX_send_channel_voice_message,                                          \
      (HMDIDRIVER driver, HSEQUENCE sequence, int32_t status, int32_t data1, int32_t data2), \
      (driver, sequence, status, data1, data2), "0x%lX,0x%lX,%ld,%ld,%ld", SVX_NO_RESULT)

#define SVX_SEQUENCE_EXPORTS(X)                                                               \
    X(traced, HSEQUENCE, SVX_allocate_sequence_handle, (HMDIDRIVER driver),                  \
      (driver), "0x%lX", SVX_RESULT_X)                                                       \
    X(traced, void, SVX_release_sequence_handle, (HSEQUENCE sequence),                       \
      (sequence), "0x%lX", SVX_NO_RESULT)                                                    \
    X(traced, int32_t, SVX_init_sequence,                                                    \
      (HSEQUENCE sequence, const void* image, int32_t number),                               \
      (sequence, image, number), "0x%lX,0x%lX,%ld", SVX_RESULT_D)                            \
    X(traced, void, SVX_start_sequence, (HSEQUENCE sequence),                                \
      (sequence), "0x%lX", SVX_NO_RESULT)                                                    \
    X(traced, void, SVX_stop_sequence, (HSEQUENCE sequence),                                 \
      (sequence), "0x%lX", SVX_NO_RESULT)                                                    \
    X(traced, void, SVX_resume_sequence, (HSEQUENCE sequence),                               \
      (sequence), "0x%lX", SVX_NO_RESULT)                                                    \
    X(traced, void, SVX_end_sequence, (HSEQUENCE sequence),                                  \
      (sequence), "0x%lX", SVX_NO_RESULT)                                                    \
    X(traced, void, SVX_set_sequence_tempo,                                                  \
      (HSEQUENCE sequence, int32_t tempo, int32_t milliseconds),                             \
      (sequence, tempo, milliseconds), "0x%lX,%ld,%ld", SVX_NO_RESULT)                       \
    X(traced, void, SVX_set_sequence_volume,                                                 \
      (HSEQUENCE sequence, int32_t volume, int32_t milliseconds),                            \
      (sequence, volume, milliseconds), "0x%lX,%ld,%ld", SVX_NO_RESULT)                      \
    X(traced, int32_t, SVX_sequence_tempo, (HSEQUENCE sequence),                             \
      (sequence), "0x%lX", SVX_RESULT_D)                                                     \
    X(traced, int32_t, SVX_sequence_volume, (HSEQUENCE sequence),                            \
      (sequence), "0x%lX", SVX_RESULT_D)                                                     \
    X(traced, int32_t, SVX_sequence_status, (HSEQUENCE sequence),                            \
      (sequence), "0x%lX", SVX_RESULT_D)                                                     \
    X(traced, void, SVX_set_sequence_loop_count, (HSEQUENCE sequence, int32_t count),        \
      (sequence, count), "0x%lX,%ld", SVX_NO_RESULT)                                         \
    X(traced, int32_t, SVX_sequence_loop_count, (HSEQUENCE sequence),                        \
      (sequence), "0x%lX", SVX_RESULT_D)                                                     \
    X(traced, int32_t, SVX_active_sequence_count, (HMDIDRIVER driver),                       \
      (driver), "0x%lX", SVX_RESULT_D)                                                       \
    X(traced, int32_t, SVX_controller_value,                                                 \
      (HSEQUENCE sequence, int32_t channel, int32_t controller),                             \
      (sequence, channel, controller), "0x%lX,%ld,%ld", SVX_RESULT_D)                        \
    X(traced, int32_t, SVX_channel_notes, (HSEQUENCE sequence, int32_t channel),             \
      (sequence, channel), "0x%lX,%ld", SVX_RESULT_D)                                        \
    X(traced, void, SVX_sequence_position,                                                   \
      (HSEQUENCE sequence, int32_t * beat, int32_t * measure),                               \
      (sequence, beat, measure), "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                         \
    X(traced, void, SVX_branch_index, (HSEQUENCE sequence, uint32_t marker),                 \
      (sequence, marker), "0x%lX,%lu", SVX_NO_RESULT)                                        \
    X(traced, SVXPREFIXCB, SVX_register_prefix_callback,                                     \
      (HSEQUENCE sequence, SVXPREFIXCB callback),                                            \
      (sequence, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                     \
    X(traced, SVXTRIGGERCB, SVX_register_trigger_callback,                                   \
      (HSEQUENCE sequence, SVXTRIGGERCB callback),                                           \
      (sequence, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                     \
    X(traced, SVXSEQUENCECB, SVX_register_sequence_callback,                                 \
      (HSEQUENCE sequence, SVXSEQUENCECB callback),                                          \
      (sequence, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                     \
    X(traced, SVXBEATCB, SVX_register_beat_callback,                                         \
      (HSEQUENCE sequence, SVXBEATCB callback),                                              \
      (sequence, callback), "0x%lX,0x%lX", SVX_RESULT_X)                                     \
    X(traced, void, SVX_register_ICA_array, (HSEQUENCE sequence, const uint8_t* array),      \
      (sequence, array), "0x%lX,0x%lX", SVX_NO_RESULT)                                       \
    X(traced, void, SVX_set_sequence_user_data,                                              \
      (HSEQUENCE sequence, uint32_t index, uintptr_t value),                                 \
      (sequence, index, value), "0x%lX,%lu,%lu", SVX_NO_RESULT)                              \
    X(traced, uintptr_t, SVX_sequence_user_data, (HSEQUENCE sequence, uint32_t index),       \
      (sequence, index), "0x%lX,%lu", SVX_RESULT_LU)                                         \
    X(traced, void, SVX_map_sequence_channel,                                                \
      (HSEQUENCE sequence, int32_t sequence_channel, int32_t physical_channel),              \
      (sequence, sequence_channel, physical_channel), "0x%lX,%ld,%ld", SVX_NO_RESULT)        \
    X(traced, int32_t, SVX_true_sequence_channel,                                            \
      (HSEQUENCE sequence, int32_t sequence_channel),                                        \
      (sequence, sequence_channel), "0x%lX,%ld", SVX_RESULT_LU)                              \
    X(traced, void, SVX_sequence_ms_position,                                                \
      (HSEQUENCE sequence, int32_t * total_ms, int32_t * current_ms),                        \
      (sequence, total_ms, current_ms), "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                  \
    X(traced, void, SVX_set_sequence_ms_position, (HSEQUENCE sequence, int32_t milliseconds), \
      (sequence, milliseconds), "0x%lX,%ld", SVX_NO_RESULT)

#define SVX_FILE_EXPORTS(X)                                                                   \
    X(traced, int32_t, SVX_file_error, (void), (), "", SVX_RESULT_D)                         \
    X(traced, int32_t, SVX_file_size, (const char* filename), (filename), "%s",              \
      SVX_RESULT_D)                                                                          \
    X(traced, void*, SVX_file_read, (const char* filename, void* destination),               \
      (filename, destination), "%s,0x%lX", SVX_RESULT_X)                                     \
    X(traced, int32_t, SVX_file_write,                                                       \
      (const char* filename, const void* data, uint32_t bytes), (filename, data, bytes),     \
      "%s,0x%lX,%lu", SVX_RESULT_D)                                                          \
    X(traced, int32_t, SVX_file_type, (const void* image, uint32_t size), (image, size),     \
      "0x%lX,%lu", SVX_RESULT_D)                                                             \
    X(traced, int32_t, SVX_find_DLS,                                                         \
      (const void* image, uint32_t size, void** xmidi, uint32_t* xmidi_size, void** dls,     \
       uint32_t* dls_size),                                                                  \
      (image, size, xmidi, xmidi_size, dls, dls_size),                                       \
      "0x%lX,%lu,0x%lX,0x%lX,0x%lX,0x%lX", SVX_RESULT_D)                                     \
    X(traced, int32_t, SVX_extract_DLS,                                                      \
      (const void* image, uint32_t size, void** xmidi, uint32_t* xmidi_size, void** dls,     \
       uint32_t* dls_size),                                                                  \
      (image, size, xmidi, xmidi_size, dls, dls_size),                                       \
      "0x%lX,%lu,0x%lX,0x%lX,0x%lX,0x%lX", SVX_RESULT_D)                                     \
    X(traced, int32_t, SVX_merge_DLS_with_XMI,                                               \
      (const void* xmidi, const void* dls, void** result, uint32_t* result_size),            \
      (xmidi, dls, result, result_size), "0x%lX,0x%lX,0x%lX,0x%lX", SVX_RESULT_D)            \
    X(traced, int32_t, SVX_filter_DLS_with_XMI,                                              \
      (const void* xmidi, const void* dls, void** result, uint32_t* result_size,             \
       uint32_t flags),                                                                      \
      (xmidi, dls, result, result_size, flags), "0x%lX,0x%lX,0x%lX,0x%lX,%lu", SVX_RESULT_D)

#define SVX_CONVERSION_EXPORTS(X)                                                             \
    X(traced, int32_t, SVX_MIDI_to_XMI,                                                      \
      (const void* image, uint32_t size, void** xmidi, uint32_t* xmidi_size, uint32_t flags), \
      (image, size, xmidi, xmidi_size, flags), "0x%lX,%lu,0x%lX,0x%lX,%lu", SVX_RESULT_D)    \
    X(traced, int32_t, SVX_list_MIDI,                                                        \
      (const void* image, uint32_t size, char** text, uint32_t* text_size, uint32_t flags),  \
      (image, size, text, text_size, flags), "0x%lX,%lu,0x%lX,0x%lX,%lu", SVX_RESULT_D)

#define SVX_DLS_EXPORTS(X)                                                                    \
    X(traced, HDLSDEVICE, SVX_DLS_open,                                                      \
      (HMDIDRIVER midi, HDIGDRIVER digital, const char* library, uint32_t flags, int32_t rate, \
       int32_t bits, int32_t channels),                                                      \
      (midi, digital, library, flags, rate, bits, channels),                                 \
      "0x%lX,0x%lX,%s,%lu,%ld,%ld,%ld", SVX_RESULT_X)                                        \
    X(traced, void, SVX_DLS_close, (HDLSDEVICE dls, uint32_t flags), (dls, flags),           \
      "0x%lX,%lu", SVX_NO_RESULT)                                                            \
    X(traced, HDLSFILEID, SVX_DLS_load_file,                                                 \
      (HDLSDEVICE dls, const char* filename, uint32_t flags), (dls, filename, flags),        \
      "0x%lX,%s,%lu", SVX_RESULT_X)                                                          \
    X(traced, HDLSFILEID, SVX_DLS_load_memory,                                               \
      (HDLSDEVICE dls, const void* image, uint32_t flags), (dls, image, flags),              \
      "0x%lX,0x%lX,%lu", SVX_RESULT_X)                                                       \
    X(traced, void, SVX_DLS_unload, (HDLSDEVICE dls, HDLSFILEID file), (dls, file),          \
      "0x%lX,0x%lX", SVX_NO_RESULT)                                                          \
    X(traced, int32_t, SVX_DLS_compact, (HDLSDEVICE dls), (dls), "0x%lX", SVX_RESULT_D)      \
    X(traced, void, SVX_DLS_get_info, (HDLSDEVICE dls, SVXDLSINFO* info, int32_t* cpu),      \
      (dls, info, cpu), "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                                  \
    X(traced, int32_t, SVX_compress_DLS,                                                     \
      (const void* image, void** result, uint32_t* result_size), (image, result, result_size), \
      "0x%lX,0x%lX,0x%lX", SVX_RESULT_D)                                                     \
    X(traced, int32_t, SVX_list_DLS,                                                         \
      (const void* image, char** text, uint32_t* text_size, uint32_t flags),                 \
      (image, text, text_size, flags), "0x%lX,0x%lX,0x%lX,%lu", SVX_RESULT_D)                \
    X(traced, HWAVESYNTH, SVX_create_wave_synthesizer,                                       \
      (HDIGDRIVER digital, HMDIDRIVER midi, const void* library, int32_t voices),            \
      (digital, midi, library, voices), "0x%lX,0x%lX,0x%lX,%ld", SVX_RESULT_X)               \
    X(traced, void, SVX_destroy_wave_synthesizer, (HWAVESYNTH synth), (synth), "0x%lX",      \
      SVX_NO_RESULT)

// The built-in DLS engine's entry points: no frame, as an engine library's
// would have none.
#define SVX_DLS_ENGINE_EXPORTS(X)                                                             \
    X(bare, int32_t, DLSSONVEXOpen,                                                          \
      (uintptr_t * handle, uint32_t version, HMDIDRIVER midi, uint32_t format_flags,         \
       int32_t rate, uint32_t buffer_size, void* user, SVXDLSBUFFERREADY ready,              \
       SVXDLSBUFFERADDRESS address, SVXDLSBUFFERLOAD load),                                  \
      (handle, version, midi, format_flags, rate, buffer_size, user, ready, address, load),   \
      "", SVX_NO_RESULT)                                                                     \
    X(bare, int32_t, DLSOpen, (uintptr_t * handle, HMDIDRIVER midi), (handle, midi), "",     \
      SVX_NO_RESULT)                                                                         \
    X(bare, int32_t, DLSClose, (uintptr_t handle, uint32_t flags), (handle, flags), "",      \
      SVX_NO_RESULT)                                                                         \
    X(bare, int32_t, DLSLoadFile,                                                            \
      (uintptr_t handle, uint32_t flags, uint32_t * id, const char* filename),               \
      (handle, flags, id, filename), "", SVX_NO_RESULT)                                      \
    X(bare, int32_t, DLSLoadMemFile,                                                         \
      (uintptr_t handle, uint32_t flags, uint32_t * id, const void* image),                  \
      (handle, flags, id, image), "", SVX_NO_RESULT)                                         \
    X(bare, int32_t, DLSUnloadFile, (uintptr_t handle, uint32_t id), (handle, id), "",       \
      SVX_NO_RESULT)                                                                         \
    X(bare, int32_t, DLSUnloadAll, (uintptr_t handle, uint32_t flags), (handle, flags), "",  \
      SVX_NO_RESULT)                                                                         \
    X(bare, int32_t, DLSGetInfo, (SVXDLSENGINEINFO * info), (info), "", SVX_NO_RESULT)       \
    X(bare, int32_t, DLSCompactMemory, (uintptr_t handle), (handle), "", SVX_NO_RESULT)      \
    X(bare, int32_t, DLSSetAttribute, (uintptr_t handle, int32_t attribute, int32_t value),  \
      (handle, attribute, value), "", SVX_NO_RESULT)                                         \
    X(bare, int32_t, DLSSONVEXGetCPU, (uintptr_t handle), (handle), "", SVX_NO_RESULT)

#define SVX_REDBOOK_EXPORTS(X)                                                                \
    X(traced, HREDBOOK, SVX_redbook_open, (int32_t which), (which), "%ld", SVX_RESULT_X)    \
    X(traced, HREDBOOK, SVX_redbook_open_drive, (int32_t drive), (drive), "%ld",            \
      SVX_RESULT_X)                                                                          \
    X(traced, void, SVX_redbook_close, (HREDBOOK hand), (hand), "0x%lX", SVX_NO_RESULT)      \
    X(traced, void, SVX_redbook_eject, (HREDBOOK hand), (hand), "0x%lX", SVX_NO_RESULT)      \
    X(traced, void, SVX_redbook_retract, (HREDBOOK hand), (hand), "0x%lX", SVX_NO_RESULT)    \
    X(traced, int32_t, SVX_redbook_status, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)  \
    X(traced, int32_t, SVX_redbook_tracks, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)  \
    X(traced, void, SVX_redbook_track_info,                                                  \
      (HREDBOOK hand, int32_t track, int32_t* start_ms, int32_t* end_ms),                    \
      (hand, track, start_ms, end_ms), "0x%lX,%ld,0x%lX,0x%lX", SVX_NO_RESULT)               \
    X(traced, uint32_t, SVX_redbook_id, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LU)     \
    X(traced, int32_t, SVX_redbook_position, (HREDBOOK hand), (hand), "0x%lX",              \
      SVX_RESULT_LD)                                                                         \
    X(traced, int32_t, SVX_redbook_track, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)   \
    X(traced, int32_t, SVX_redbook_play, (HREDBOOK hand, int32_t start_ms, int32_t end_ms),  \
      (hand, start_ms, end_ms), "0x%lX,%ld,%ld", SVX_RESULT_LD)                              \
    X(traced, int32_t, SVX_redbook_stop, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)    \
    X(traced, int32_t, SVX_redbook_pause, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)   \
    X(traced, int32_t, SVX_redbook_resume, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)  \
    X(traced, int32_t, SVX_redbook_volume, (HREDBOOK hand), (hand), "0x%lX", SVX_RESULT_LD)  \
    X(traced, int32_t, SVX_redbook_set_volume, (HREDBOOK hand, int32_t volume),              \
      (hand, volume), "0x%lX,%ld", SVX_RESULT_LD)
#define SVX_STREAM_EXPORTS(X)                                                                 \
    X(traced, HSTREAM, SVX_open_stream,                                                      \
      (HDIGDRIVER driver, const char* filename, int32_t buffer_bytes),                       \
      (driver, filename, buffer_bytes), "0x%lX,%s,%ld", SVX_RESULT_X)                        \
    X(traced, void, SVX_close_stream, (HSTREAM stream), (stream), "0x%lX", SVX_NO_RESULT)    \
    X(traced, int32_t, SVX_service_stream, (HSTREAM stream, int32_t fill_up),                \
      (stream, fill_up), "0x%lX,%ld", SVX_RESULT_D)                                          \
    X(traced, void, SVX_start_stream, (HSTREAM stream), (stream), "0x%lX", SVX_NO_RESULT)    \
    X(traced, void, SVX_pause_stream, (HSTREAM stream, int32_t on_off), (stream, on_off),    \
      "0x%lX,%ld", SVX_NO_RESULT)                                                            \
    X(traced, void, SVX_set_stream_volume, (HSTREAM stream, int32_t volume),                 \
      (stream, volume), "0x%lX,%ld", SVX_NO_RESULT)                                          \
    X(traced, void, SVX_set_stream_pan, (HSTREAM stream, int32_t pan), (stream, pan),        \
      "0x%lX,%ld", SVX_NO_RESULT)                                                            \
    X(traced, void, SVX_set_stream_playback_rate, (HSTREAM stream, int32_t rate),            \
      (stream, rate), "0x%lX,%ld", SVX_NO_RESULT)                                            \
    X(traced, int32_t, SVX_stream_volume, (HSTREAM stream), (stream), "0x%lX", SVX_RESULT_D) \
    X(traced, int32_t, SVX_stream_pan, (HSTREAM stream), (stream), "0x%lX", SVX_RESULT_D)    \
    X(traced, int32_t, SVX_stream_playback_rate, (HSTREAM stream), (stream), "0x%lX",        \
      SVX_RESULT_D)                                                                          \
    X(traced, void, SVX_set_stream_loop_count, (HSTREAM stream, int32_t count),              \
      (stream, count), "0x%lX,%ld", SVX_NO_RESULT)                                           \
    X(traced, int32_t, SVX_stream_loop_count, (HSTREAM stream), (stream), "0x%lX",           \
      SVX_RESULT_D)                                                                          \
    X(traced, int32_t, SVX_stream_status, (HSTREAM stream), (stream), "0x%lX", SVX_RESULT_D) \
    X(traced, void, SVX_set_stream_position, (HSTREAM stream, int32_t offset),               \
      (stream, offset), "0x%lX,%ld", SVX_NO_RESULT)                                          \
    X(traced, int32_t, SVX_stream_position, (HSTREAM stream), (stream), "0x%lX",             \
      SVX_RESULT_D)                                                                          \
    X(traced, void, SVX_stream_ms_position,                                                  \
      (HSTREAM stream, int32_t * total_ms, int32_t * current_ms),                            \
      (stream, total_ms, current_ms), "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                    \
    X(traced, void, SVX_set_stream_ms_position, (HSTREAM stream, int32_t milliseconds),      \
      (stream, milliseconds), "0x%lX,%ld", SVX_NO_RESULT)                                    \
    X(traced, void, SVX_stream_info,                                                         \
      (HSTREAM stream, int32_t * rate, int32_t * format, int32_t * data_size,                \
       int32_t * memory),                                                                    \
      (stream, rate, format, data_size, memory), "0x%lX,0x%lX,0x%lX,0x%lX,0x%lX",            \
      SVX_NO_RESULT)                                                                         \
    X(traced, SVXSTREAMCB, SVX_register_stream_callback,                                     \
      (HSTREAM stream, SVXSTREAMCB callback), (stream, callback), "0x%lX,0x%lX",             \
      SVX_RESULT_X)                                                                          \
    X(traced, int32_t, SVX_auto_service_stream, (HSTREAM stream, int32_t on_off),            \
      (stream, on_off), "0x%lX,%ld", SVX_RESULT_D)                                           \
    X(traced, void, SVX_set_stream_user_data,                                                \
      (HSTREAM stream, uint32_t index, uintptr_t value), (stream, index, value),             \
      "0x%lX,%lu,%lu", SVX_NO_RESULT)                                                        \
    X(traced, uintptr_t, SVX_stream_user_data, (HSTREAM stream, uint32_t index),             \
      (stream, index), "0x%lX,%lu", SVX_RESULT_LU)

#define SVX_QUICK_EXPORTS(X)                                                                  \
    X(traced, int32_t, SVX_quick_startup,                                                    \
      (int32_t use_digital, int32_t use_midi, int32_t rate, int32_t bits, int32_t channels),  \
      (use_digital, use_midi, rate, bits, channels), "%ld,%ld,%ld,%ld,%ld", SVX_RESULT_D)    \
    X(traced, void, SVX_quick_shutdown, (void), (), "", SVX_NO_RESULT)                       \
    X(traced, void, SVX_quick_handles,                                                       \
      (HDIGDRIVER * digital, HMDIDRIVER * midi, HDLSDEVICE * dls), (digital, midi, dls),     \
      "0x%lX,0x%lX,0x%lX", SVX_NO_RESULT)                                                    \
    X(traced, HQUICK, SVX_quick_load, (const char* filename), (filename), "%s", SVX_RESULT_X) \
    X(traced, HQUICK, SVX_quick_load_mem, (const void* image, uint32_t size), (image, size), \
      "0x%lX,%lu", SVX_RESULT_X)                                                             \
    X(traced, HQUICK, SVX_quick_copy, (HQUICK handle), (handle), "0x%lX", SVX_RESULT_X)      \
    X(traced, void, SVX_quick_unload, (HQUICK handle), (handle), "0x%lX", SVX_NO_RESULT)     \
    X(traced, int32_t, SVX_quick_play, (HQUICK handle, int32_t loop_count),                  \
      (handle, loop_count), "0x%lX,%ld", SVX_RESULT_D)                                       \
    X(traced, void, SVX_quick_halt, (HQUICK handle), (handle), "0x%lX", SVX_NO_RESULT)       \
    X(traced, int32_t, SVX_quick_status, (HQUICK handle), (handle), "0x%lX", SVX_RESULT_D)   \
    X(traced, HQUICK, SVX_quick_load_and_play,                                               \
      (const char* filename, int32_t loop_count, int32_t wait), (filename, loop_count, wait), \
      "%s,%ld,%ld", SVX_RESULT_X)                                                            \
    X(traced, void, SVX_quick_set_speed, (HQUICK handle, int32_t speed), (handle, speed),    \
      "0x%lX,%ld", SVX_NO_RESULT)                                                            \
    X(traced, void, SVX_quick_set_volume, (HQUICK handle, int32_t volume, int32_t extra),    \
      (handle, volume, extra), "0x%lX,%ld,%ld", SVX_NO_RESULT)                               \
    X(traced, void, SVX_quick_set_ms_position, (HQUICK handle, int32_t milliseconds),        \
      (handle, milliseconds), "0x%lX,%ld", SVX_NO_RESULT)                                    \
    X(traced, int32_t, SVX_quick_ms_position, (HQUICK handle), (handle), "0x%lX",            \
      SVX_RESULT_D)                                                                          \
    X(traced, int32_t, SVX_quick_ms_length, (HQUICK handle), (handle), "0x%lX",              \
      SVX_RESULT_D)                                                                          \
    X(traced, int32_t, SVX_quick_type, (HQUICK handle), (handle), "0x%lX", SVX_RESULT_D)

#define SVX_ALL_EXPORTS(X)  \
    SVX_CORE_EXPORTS(X)     \
    SVX_TIMER_EXPORTS(X)    \
    SVX_DIGITAL_EXPORTS(X)  \
    SVX_SAMPLE_EXPORTS(X)   \
    SVX_MIDI_EXPORTS(X)     \
    SVX_SEQUENCE_EXPORTS(X) \
    SVX_ADPCM_EXPORTS(X)    \
    SVX_FILE_EXPORTS(X)     \
    SVX_CONVERSION_EXPORTS(X) \
    SVX_DLS_EXPORTS(X)        \
    SVX_DLS_ENGINE_EXPORTS(X) \
    SVX_REDBOOK_EXPORTS(X)    \
    SVX_STREAM_EXPORTS(X)     \
    SVX_QUICK_EXPORTS(X)
