// Streams from disk: the WAV header walk, open for tests and the fuzz
// target, and the shutdown hook.
#pragma once

#include <cstdint>

#include "sonvex.h"
#include "win32/kernel.h"

namespace svx::services {

// What the header walk finds in a WAV file.
struct StreamFormat {
    uint32_t rate = 0;
    uint32_t format = 0;      // sample format bits
    uint32_t channels = 0;
    uint32_t bits = 0;
    uint32_t block_size = 0;  // block alignment
    uint32_t data_size = 0;   // cut to whole frames (PCM) or 4 x channels (ADPCM)
    int64_t data_start = 0;   // file offset of the first data byte
};

// Reads the RIFF WAVE header of `file` from `base` on, where the file's
// bytes end at `end`. False for anything the stream cannot play or whose
// sizes run past the file; reads nothing past `end` and walks a bounded
// number of chunks.
bool read_stream_header(HANDLE file, int64_t base, int64_t end, StreamFormat& out);

// Takes the sample handles of a driver that closes from its streams, which
// then stay open but play nothing more.
void detach_streams_of(HDIGDRIVER driver);

// Closes every open stream (shutdown).
void close_all_streams();

}  // namespace svx::services
