// CUE sheets: the input is the sheet, naming two images of fixed sizes
// ("a.bin" and "b.bin"; any other name is missing). A sheet that is read
// must place every track inside its image, in order; one that is refused
// says why and leaves nothing behind.
#include <string>

#include "../win32/multimedia/cd_drive.h"
#include "../win32/multimedia/cue_sheet.h"
#include "fuzz_support.h"

namespace {

using win32::mm::kRawSectorBytes;

constexpr uint64_t kSizes[2] = {1000 * kRawSectorBytes, 7 * kRawSectorBytes + 1000};

bool size_of(const std::string& name, uint64_t& bytes) {
    if (name == "a.bin" || name == "b.bin") {
        bytes = kSizes[name[0] - 'a'];
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    win32::mm::CueSheet sheet;
    std::string why;
    const bool ok =
        win32::mm::parse_cue(reinterpret_cast<const char*>(data), size, size_of, sheet, why);
    if (!ok) {
        FUZZ_CHECK(!why.empty());
        FUZZ_CHECK(sheet.tracks.empty() && sheet.files.empty());
        return 0;
    }
    FUZZ_CHECK(!sheet.tracks.empty() && sheet.tracks.size() <= win32::mm::kMaxTracks);
    uint64_t total = win32::mm::kLeadInSectors;
    for (size_t i = 0; i < sheet.tracks.size(); ++i) {
        const auto& track = sheet.tracks[i];
        FUZZ_CHECK(track.file < sheet.files.size());
        uint64_t bytes = 0;
        FUZZ_CHECK(size_of(sheet.files[track.file], bytes));
        FUZZ_CHECK(track.offset % kRawSectorBytes == 0);
        FUZZ_CHECK(track.offset + uint64_t(track.sectors) * kRawSectorBytes <= bytes);
        FUZZ_CHECK(track.sectors > 0 || i + 1 == sheet.tracks.size() ||
                   sheet.tracks[i + 1].file != track.file);
        if (i > 0) FUZZ_CHECK(track.number == sheet.tracks[i - 1].number + 1);
        total += track.sectors;
    }
    FUZZ_CHECK(total <= win32::mm::kMaxSector);
    return 0;
}
