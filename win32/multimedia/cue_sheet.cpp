#include "cue_sheet.h"

#include <algorithm>
#include <cctype>

#include "cd_drive.h"

namespace win32::mm {

namespace {

constexpr size_t kMaxFiles = 99;

// The words of one line; a quoted word may hold spaces.
bool split_words(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size()) break;
        std::string word;
        if (line[at] == '"') {
            size_t close = line.find('"', at + 1);
            if (close == std::string::npos) return false;
            word = line.substr(at + 1, close - at - 1);
            at = close + 1;
        } else {
            size_t end = at;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
            word = line.substr(at, end - at);
            at = end;
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

bool small_number(const std::string& text, uint32_t high, uint32_t& out) {
    if (text.empty() || text.size() > 4) return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint32_t(c - '0');
    }
    if (value > high) return false;
    out = value;
    return true;
}

// "mm:ss:ff" as a sector count.
bool read_msf(const std::string& text, uint32_t& sector) {
    size_t first = text.find(':');
    size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) return false;
    uint32_t m, s, f;
    if (!small_number(text.substr(0, first), 99, m) ||
        !small_number(text.substr(first + 1, second - first - 1), 59, s) ||
        !small_number(text.substr(second + 1), 74, f))
        return false;
    sector = msf_to_sector(m, s, f);
    return true;
}

}  // namespace

bool parse_cue(const char* text, size_t size, const CueFileSize& file_size, CueSheet& out,
               std::string& why) {
    out = CueSheet{};
    if (size > kMaxCueBytes) {
        why = "the sheet is larger than any CUE sheet";
        return false;
    }
    std::vector<uint64_t> file_bytes;
    std::vector<bool> has_index1;
    std::vector<std::string> words;
    size_t at = 0;
    int line_number = 0;
    auto fail = [&](const std::string& reason) {
        why = "line " + std::to_string(line_number) + ": " + reason;
        out = CueSheet{};
        return false;
    };
    while (at < size) {
        size_t end = at;
        while (end < size && text[end] != '\n') ++end;
        std::string line(text + at, end - at);
        at = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line_number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        if (line.find('\0') != std::string::npos) return fail("holds a zero byte");
        if (!split_words(line, words)) return fail("a quote is not closed");
        if (words.empty()) continue;
        const std::string command = upper(words[0]);
        if (command == "FILE") {
            if (words.size() != 3) return fail("FILE takes a name and a type");
            if (upper(words[2]) != "BINARY")
                return fail("only BINARY images are read, not " + words[2]);
            if (out.files.size() >= kMaxFiles) return fail("too many files");
            uint64_t bytes = 0;
            if (words[1].empty() || !file_size(words[1], bytes))
                return fail("the file \"" + words[1] + "\" is not there");
            out.files.push_back(words[1]);
            file_bytes.push_back(bytes);
        } else if (command == "TRACK") {
            if (out.files.empty()) return fail("TRACK before any FILE");
            if (words.size() != 3) return fail("TRACK takes a number and a type");
            uint32_t number;
            if (!small_number(words[1], kMaxTracks, number) || number == 0)
                return fail("track numbers run from 1 to 99");
            if (!out.tracks.empty() && number != out.tracks.back().number + 1)
                return fail("track " + words[1] + " is out of order");
            if (!out.tracks.empty() && !has_index1.back())
                return fail("track " + std::to_string(out.tracks.back().number) +
                            " has no INDEX 01");
            const std::string type = upper(words[2]);
            CueTrack track;
            track.number = number;
            track.file = out.files.size() - 1;
            if (type == "AUDIO") {
                track.audio = true;
            } else if (type == "MODE1/2352" || type == "MODE2/2352") {
                track.audio = false;
            } else {
                return fail("tracks of type " + words[2] + " are not read");
            }
            out.tracks.push_back(track);
            has_index1.push_back(false);
        } else if (command == "INDEX") {
            if (out.tracks.empty()) return fail("INDEX outside a track");
            if (words.size() != 3) return fail("INDEX takes a number and a time");
            uint32_t number, sector;
            if (!small_number(words[1], 99, number)) return fail("index numbers run to 99");
            if (!read_msf(words[2], sector)) return fail("\"" + words[2] + "\" is not mm:ss:ff");
            if (number != 1) continue;  // the pregap stays with the track before
            CueTrack& track = out.tracks.back();
            if (has_index1.back()) return fail("a second INDEX 01");
            const uint64_t offset = uint64_t(sector) * kRawSectorBytes;
            if (offset + kRawSectorBytes > file_bytes[track.file])
                return fail("INDEX 01 " + words[2] + " lies past the end of \"" +
                            out.files[track.file] + "\"");
            if (out.tracks.size() > 1) {
                const CueTrack& before = out.tracks[out.tracks.size() - 2];
                if (before.file == track.file && before.offset >= offset)
                    return fail("INDEX 01 " + words[2] + " is not after the previous track's");
            }
            track.offset = offset;
            has_index1.back() = true;
        }
        // Titles, performers, flags, gaps and remarks do not change where
        // the audio lies.
    }
    ++line_number;
    if (out.tracks.empty()) return fail("the sheet names no track");
    if (!has_index1.back()) return fail("the last track has no INDEX 01");
    uint64_t total = kLeadInSectors;
    for (size_t i = 0; i < out.tracks.size(); ++i) {
        CueTrack& track = out.tracks[i];
        const bool next_in_file = i + 1 < out.tracks.size() && out.tracks[i + 1].file == track.file;
        const uint64_t end =
            next_in_file ? out.tracks[i + 1].offset : file_bytes[track.file] / kRawSectorBytes * kRawSectorBytes;
        const uint64_t sectors = (end - track.offset) / kRawSectorBytes;
        total += sectors;
        if (total > kMaxSector) return fail("the tracks run past the longest disc");
        track.sectors = uint32_t(sectors);
    }
    return true;
}

}  // namespace win32::mm
