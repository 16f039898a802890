/* playwav: plays one WAV file through sonvex32 and ends when it has been
 * heard. A minimal program over the library's C interface:
 *
 *   cc playwav.c $(pkg-config --cflags --libs sonvex32) -o playwav
 *   WIN32_AUDIO=wav:heard.wav ./playwav sound.wav
 */
#define _POSIX_C_SOURCE 199309L /* nanosleep in strict C99 */
#include <errno.h>
#include <stdio.h>
#include <time.h>

#include <sonvex.h>

/* The library briefly suspends the thread that started it while it mixes
 * (a signal): a sleep there ends early and must go on for what is left. */
static void sleep_ms(long ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (ms % 1000) * 1000000L;
    while (nanosleep(&t, &t) == -1 && errno == EINTR) {
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: playwav FILE.wav\n");
        return 2;
    }
    if (!SVX_startup()) {
        fprintf(stderr, "playwav: the library did not start\n");
        return 1;
    }
    int status = 1;
    HDIGDRIVER driver = NULL;
    HSAMPLE sample = NULL;
    void* image = SVX_file_read(argv[1], NULL);
    SoundFileInfo info;
    if (!image) {
        fprintf(stderr, "playwav: %s: cannot read it\n", argv[1]);
    } else if (!SVX_WAV_info(image, &info)) {
        fprintf(stderr, "playwav: %s: %s\n", argv[1], SVX_last_error());
    } else {
        /* Mixed in the library and played through waveOut (DirectSound
         * would want the program's window), in the file's own rate and
         * channels, 16 bits. */
        SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
        const uint16_t channels = info.channels == 2 ? 2 : 1;
        SVXPCMFORMAT format = {1, channels, info.rate, info.rate * channels * 2u,
                               (uint16_t)(channels * 2), 16};
        if (SVX_waveOutOpen(&driver, NULL, -1, &format) != 0) {
            fprintf(stderr, "playwav: no audio output: %s\n", SVX_last_error());
            driver = NULL;
        } else if (!(sample = SVX_allocate_file_sample(driver, image, -1))) {
            fprintf(stderr, "playwav: %s: %s\n", argv[1], SVX_last_error());
        } else {
            int32_t total_ms = 0, current_ms = 0;
            SVX_sample_ms_position(sample, &total_ms, &current_ms);
            SVX_start_sample(sample);
            /* Played in real time: the file's length bounds the wait. */
            long waited = 0;
            while (SVX_sample_status(sample) == SVX_PLAYING && waited < total_ms + 5000L) {
                sleep_ms(10);
                waited += 10;
            }
            if (SVX_sample_status(sample) == SVX_PLAYING) {
                fprintf(stderr, "playwav: playback did not finish in time\n");
            } else {
                /* What was mixed last is heard a few output buffers later. */
                sleep_ms(500);
                status = 0;
            }
        }
    }
    /* A file sample gives its handle back when it ends. */
    if (driver) SVX_waveOutClose(driver);
    if (image) SVX_mem_free_lock(image);
    SVX_shutdown();
    return status;
}
