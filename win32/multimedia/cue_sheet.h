// CUE sheets of ripped discs: which tracks lie where in their BIN images.
// A sheet is untrusted text: anything it says that cannot be so (a file
// that is not there, a time past the end of its image, numbers out of
// order or out of range) refuses the whole sheet. Internal to
// win32_multimedia.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace win32::mm {

constexpr uint32_t kRawSectorBytes = 2352;
// Larger than any sheet of 99 tracks with their titles.
constexpr size_t kMaxCueBytes = 1 << 20;

struct CueTrack {
    uint32_t number = 0;
    size_t file = 0;      // index into CueSheet::files
    bool audio = true;
    uint64_t offset = 0;  // bytes into the file where INDEX 01 is
    uint32_t sectors = 0; // to the next track's INDEX 01 in the file, or its end
};

struct CueSheet {
    std::vector<std::string> files;  // as the sheet names them
    std::vector<CueTrack> tracks;
};

// The size of a file the sheet names; false when there is no such file.
using CueFileSize = std::function<bool(const std::string& name, uint64_t& bytes)>;

// True with the sheet in `out`; false with the reason in `why`.
bool parse_cue(const char* text, size_t size, const CueFileSize& file_size, CueSheet& out,
               std::string& why);

}  // namespace win32::mm
