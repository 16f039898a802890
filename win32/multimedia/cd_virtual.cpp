// The virtual drive: a folder of WAV files, or a CUE sheet with its BIN
// image, played as a disc. Its sound is a source of the process's one
// output at the CD line's volume; its position is what the output has
// played, so the clock runs with what is heard.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <vector>

#include "cd_drive.h"
#include "cue_sheet.h"
#include "output_device.h"
#include "pcm_sink.h"

namespace win32::mm {

namespace {

std::atomic<uint32_t> g_volume{0xFFFFFFFFu};  // left in the low half

constexpr uint32_t kMaxChunks = 4096;  // a WAV walk ends here whatever the file says

void tell(const std::string& text) { std::fprintf(stderr, "win32: WIN32_CD: %s\n", text.c_str()); }

struct File {
    int fd = -1;
    uint64_t size = 0;
    ~File() {
        if (fd >= 0) ::close(fd);
    }
};

struct Track {
    CdTrack toc;
    size_t file = 0;
    uint64_t data_offset = 0;
    uint64_t data_frames = 0;  // frames really in the file; the rest of the track is silence
    PcmFormat format;
};

bool read_at(const File& file, uint64_t offset, void* to, size_t bytes) {
    if (offset > file.size || bytes > file.size - offset) return false;
    return ::pread(file.fd, to, bytes, off_t(offset)) == ssize_t(bytes);
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The PCM data of a RIFF WAVE file, read only as far as the file goes.
bool read_wav(const File& file, Track& track, std::string& why) {
    uint8_t header[12];
    if (!read_at(file, 0, header, 12) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0) {
        why = "not a RIFF WAVE file";
        return false;
    }
    bool have_format = false;
    uint64_t at = 12;
    for (uint32_t chunks = 0; chunks < kMaxChunks && at + 8 <= file.size; ++chunks) {
        uint8_t chunk[8];
        if (!read_at(file, at, chunk, 8)) break;
        const uint64_t size = le32(chunk + 4);
        const uint64_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (size < 16 || !read_at(file, body, fmt, 16)) {
                why = "its format chunk is cut short";
                return false;
            }
            const uint16_t tag = le16(fmt), channels = le16(fmt + 2), bits = le16(fmt + 14);
            const uint32_t rate = le32(fmt + 4);
            if (tag != WAVE_FORMAT_PCM || (channels != 1 && channels != 2) ||
                (bits != 8 && bits != 16) || rate < 1000 || rate > 192000) {
                why = "not PCM of 8 or 16 bits, mono or stereo, at 1-192 kHz";
                return false;
            }
            track.format = PcmFormat{rate, channels, bits};
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format) {
                why = "its data comes before its format";
                return false;
            }
            const uint64_t there = std::min(size, file.size - body);
            track.data_offset = body;
            track.data_frames = there / track.format.frame_bytes();
            return true;
        }
        at = body + size + (size & 1);
    }
    why = have_format ? "it has no data chunk" : "it has no format chunk";
    return false;
}

bool ends_with_nocase(const std::string& name, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (name.size() <= n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != suffix[i]) return false;
    return true;
}

bool open_file(const std::filesystem::path& path, File& file) {
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) return false;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    file.size = uint64_t(st.st_size);
    return true;
}

// A name a sheet gives, in its folder: exactly, else without regard to case.
std::filesystem::path find_in(const std::filesystem::path& dir, const std::string& name) {
    std::string plain = name;
    std::replace(plain.begin(), plain.end(), '\\', '/');
    if (plain.find('/') != std::string::npos) plain = plain.substr(plain.rfind('/') + 1);
    std::error_code ec;
    if (std::filesystem::is_regular_file(dir / plain, ec)) return dir / plain;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string found = entry.path().filename().string();
        if (found.size() == plain.size() &&
            std::equal(found.begin(), found.end(), plain.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return entry.path();
    }
    return {};
}

class VirtualDrive : public CdDrive, public AudioSource {
public:
    ~VirtualDrive() override { detach_source(this); }

    // False when the folder cannot be read at all; a disc that cannot be
    // read leaves the drive not ready.
    bool load(const std::filesystem::path& dir, std::string& why) {
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec)) {
            why = dir.string() + " is not a folder";
            return false;
        }
        std::vector<std::filesystem::path> wavs, cues;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file(ec)) continue;
            if (ends_with_nocase(name, ".cue")) cues.push_back(entry.path());
            if (ends_with_nocase(name, ".wav")) wavs.push_back(entry.path());
        }
        if (ec) {
            why = dir.string() + ": " + ec.message();
            return false;
        }
        std::sort(wavs.begin(), wavs.end());
        std::sort(cues.begin(), cues.end());
        std::string problem;
        readable_ = cues.empty() ? load_wavs(wavs, problem) : load_cue(dir, cues.front(), problem);
        if (!readable_) {
            tell(problem + "; the disc cannot be read");
            tracks_.clear();
            files_.clear();
        }
        return true;
    }

    MCIERROR toc(CdToc& out) override {
        std::lock_guard lock(mutex_);
        if (door_open_ || !readable_) return MCIERR_DEVICE_NOT_READY;
        out.tracks.clear();
        for (const Track& t : tracks_) out.tracks.push_back(t.toc);
        return 0;
    }

    CdMode mode() override {
        std::lock_guard lock(mutex_);
        if (door_open_) return CdMode::open;
        if (!readable_) return CdMode::not_ready;
        if (playing_) return paused_ ? CdMode::paused : CdMode::playing;
        return CdMode::stopped;
    }

    MCIERROR play(uint32_t from, uint32_t to) override {
        std::lock_guard control(control_);
        PcmFormat format;
        {
            std::lock_guard lock(mutex_);
            if (door_open_ || !readable_) return MCIERR_DEVICE_NOT_READY;
            if (tracks_.empty() || from >= to || from < tracks_.front().toc.start ||
                to > disc_end())
                return MCIERR_OUTOFRANGE;
            size_t t = 0;
            while (from >= tracks_[t].toc.start + tracks_[t].toc.length) ++t;
            current_ = t;
            frame_ = source_frame(tracks_[t], from - tracks_[t].toc.start);
            to_ = to;
            stopped_at_ = from;
            heard_sector_ = from;
            marks_.clear();
            converter_.clear();
            exhausted_ = false;
            pulled_all_ = false;
            paused_ = false;
            playing_ = true;
            format = tracks_[t].format;
        }
        if (!attached_.load()) {
            if (attach_source(this, format, nullptr) != MMSYSERR_NOERROR) {
                std::lock_guard lock(mutex_);
                playing_ = false;
                return MCIERR_HARDWARE;
            }
            attached_.store(true);
        }
        wake_output();
        return 0;
    }

    MCIERROR stop() override {
        std::lock_guard lock(mutex_);
        if (door_open_ || !readable_) return MCIERR_DEVICE_NOT_READY;
        if (playing_) stopped_at_ = heard_sector_;
        playing_ = paused_ = false;
        return 0;
    }

    MCIERROR pause() override {
        std::lock_guard lock(mutex_);
        if (door_open_ || !readable_) return MCIERR_DEVICE_NOT_READY;
        if (playing_ && !paused_) {
            // The drive holds where play will go on from; what the output
            // already has plays out meanwhile.
            paused_ = true;
            heard_sector_ = cursor_sector();
            marks_.clear();
        }
        return 0;
    }

    MCIERROR resume() override {
        {
            std::lock_guard lock(mutex_);
            if (door_open_ || !readable_) return MCIERR_DEVICE_NOT_READY;
            if (!playing_ || !paused_) return 0;
            paused_ = false;
        }
        wake_output();
        return 0;
    }

    MCIERROR set_door(bool open) override {
        std::lock_guard lock(mutex_);
        if (open && playing_) stopped_at_ = heard_sector_;
        playing_ = paused_ = false;
        door_open_ = open;
        return 0;
    }

    uint32_t position() override {
        std::lock_guard lock(mutex_);
        return playing_ ? heard_sector_ : stopped_at_;
    }

    // ---- What the output asks of its sources.
    uint32_t render(int32_t* mix, uint32_t count, const PcmFormat& output,
                    uint64_t position) override {
        std::lock_guard lock(mutex_);
        if (!playing_ || paused_ || pulled_all_) return 0;
        const size_t channels = output.channels;
        scratch_.assign(size_t(count) * channels, 0);
        uint32_t made = 0;
        // Each pass ends a track or fills the period: bounded by the tracks.
        while (made < count && !pulled_all_) {
            exhausted_ = false;
            const Track& track = tracks_[current_];
            made += converter_.render(scratch_.data() + made * channels, count - made, track.format,
                                      output, &VirtualDrive::pull, this);
            if (!exhausted_) break;
            if (to_ <= track.toc.start + track.toc.length || current_ + 1 >= tracks_.size()) {
                pulled_all_ = true;
            } else {
                ++current_;
                frame_ = 0;
                converter_.clear();
            }
        }
        uint16_t left, right;
        virtual_volume(left, right);
        for (uint32_t i = 0; i < made; ++i) {
            if (channels == 2) {
                mix[2 * i] += int32_t(int64_t(scratch_[2 * i]) * left / 0xFFFF);
                mix[2 * i + 1] += int32_t(int64_t(scratch_[2 * i + 1]) * right / 0xFFFF);
            } else {
                mix[i] += int32_t(int64_t(scratch_[i]) * ((left + right) / 2) / 0xFFFF);
            }
        }
        marks_.push_back({position + made, cursor_sector()});
        return made;
    }

    bool has_data() override {
        std::lock_guard lock(mutex_);
        return playing_ && !paused_ && !pulled_all_;
    }

    void heard(uint64_t position) override {
        std::lock_guard lock(mutex_);
        while (!marks_.empty() && marks_.front().output_end <= position) {
            heard_sector_ = marks_.front().sector;
            marks_.pop_front();
        }
        if (playing_ && !paused_ && pulled_all_ && marks_.empty()) {
            // The last frame asked for has been heard: the drive stops there.
            playing_ = paused_ = false;
            stopped_at_ = to_;
        }
    }

    void failed() override {
        std::lock_guard lock(mutex_);
        attached_.store(false);
        playing_ = paused_ = false;
        marks_.clear();
    }

private:
    struct Mark {
        uint64_t output_end;  // output frame after a render
        uint32_t sector;      // where the disc had got to by then
    };

    static uint64_t source_frame(const Track& track, uint64_t sectors) {
        return sectors * track.format.rate / kSectorsPerSecond;
    }

    // Where the next frame to pull lies.
    uint32_t cursor_sector() const {
        if (pulled_all_) return to_;
        const Track& track = tracks_[current_];
        return track.toc.start + uint32_t(frame_ * kSectorsPerSecond / track.format.rate);
    }

    uint32_t disc_end() const {
        return tracks_.empty() ? kLeadInSectors : tracks_.back().toc.start + tracks_.back().toc.length;
    }

    // Up to `count` frames of the current track, stopping at the end of
    // the play or of the track; past the file's data, silence.
    static uint32_t pull(void* context, uint8_t* to, uint32_t count) {
        auto& self = *static_cast<VirtualDrive*>(context);
        const Track& track = self.tracks_[self.current_];
        const uint32_t track_end = track.toc.start + track.toc.length;
        const uint64_t limit = source_frame(track, std::min(self.to_, track_end) - track.toc.start);
        const uint32_t frame_bytes = track.format.frame_bytes();
        const uint64_t wanted = std::min<uint64_t>(count, limit > self.frame_ ? limit - self.frame_ : 0);
        uint64_t real = 0;
        if (track.toc.audio && self.frame_ < track.data_frames)
            real = std::min(wanted, track.data_frames - self.frame_);
        if (real > 0) {
            const File& file = *self.files_[track.file];
            const ssize_t got = ::pread(file.fd, to, size_t(real * frame_bytes),
                                        off_t(track.data_offset + self.frame_ * frame_bytes));
            real = got > 0 ? uint64_t(got) / frame_bytes : 0;
        }
        std::memset(to + real * frame_bytes, track.format.bits == 8 ? 0x80 : 0,
                    size_t((wanted - real) * frame_bytes));
        self.frame_ += wanted;
        if (self.frame_ >= limit) self.exhausted_ = true;
        return uint32_t(wanted);
    }

    bool load_wavs(const std::vector<std::filesystem::path>& wavs, std::string& why) {
        uint32_t start = kLeadInSectors;
        for (const auto& path : wavs) {
            if (tracks_.size() >= kMaxTracks) {
                why = "more than 99 WAV files";
                return false;
            }
            auto file = std::make_unique<File>();
            Track track;
            std::string problem;
            if (!open_file(path, *file)) {
                why = path.string() + ": " + std::strerror(errno);
                return false;
            }
            if (!read_wav(*file, track, problem)) {
                why = path.string() + ": " + problem;
                return false;
            }
            const uint64_t sectors = std::max<uint64_t>(
                1, (track.data_frames * kSectorsPerSecond + track.format.rate - 1) / track.format.rate);
            if (start + sectors > kMaxSector) {
                why = "the WAV files are longer than a disc holds";
                return false;
            }
            track.toc = CdTrack{start, uint32_t(sectors), true};
            track.file = files_.size();
            start += uint32_t(sectors);
            files_.push_back(std::move(file));
            tracks_.push_back(track);
        }
        return true;
    }

    bool load_cue(const std::filesystem::path& dir, const std::filesystem::path& sheet_path,
                  std::string& why) {
        File sheet;
        if (!open_file(sheet_path, sheet)) {
            why = sheet_path.string() + ": " + std::strerror(errno);
            return false;
        }
        if (sheet.size > kMaxCueBytes) {
            why = sheet_path.string() + ": larger than any CUE sheet";
            return false;
        }
        std::string text(size_t(sheet.size), '\0');
        if (!read_at(sheet, 0, text.data(), text.size())) {
            why = sheet_path.string() + ": cannot be read";
            return false;
        }
        std::vector<std::filesystem::path> found;
        CueSheet cue;
        std::string problem;
        const bool ok = parse_cue(
            text.data(), text.size(),
            [&](const std::string& name, uint64_t& bytes) {
                std::filesystem::path path = find_in(dir, name);
                std::error_code ec;
                if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
                bytes = std::filesystem::file_size(path, ec);
                found.push_back(path);
                return !ec;
            },
            cue, problem);
        if (!ok) {
            why = sheet_path.string() + ": " + problem;
            return false;
        }
        for (const auto& path : found) {
            auto file = std::make_unique<File>();
            if (!open_file(path, *file)) {
                why = path.string() + ": " + std::strerror(errno);
                return false;
            }
            files_.push_back(std::move(file));
        }
        uint32_t start = kLeadInSectors;
        for (const CueTrack& t : cue.tracks) {
            Track track;
            track.toc = CdTrack{start, t.sectors, t.audio};
            track.file = t.file;
            track.format = PcmFormat{44100, 2, 16};
            track.data_offset = t.offset;
            // The image may have shrunk since the sheet was read: what is not
            // there plays as silence.
            const uint64_t available =
                files_[t.file]->size > t.offset ? files_[t.file]->size - t.offset : 0;
            track.data_frames = std::min<uint64_t>(uint64_t(t.sectors) * 588, available / 4);
            start += t.sectors;
            tracks_.push_back(track);
        }
        return true;
    }

    std::vector<std::unique_ptr<File>> files_;
    std::vector<Track> tracks_;
    bool readable_ = false;

    std::mutex control_;  // play, one at a time: attaching is done outside mutex_
    std::atomic<bool> attached_{false};

    std::mutex mutex_;  // the state below; taken inside the output's lock
    bool door_open_ = false;
    bool playing_ = false;
    bool paused_ = false;
    size_t current_ = 0;      // track being pulled
    uint64_t frame_ = 0;      // next source frame of that track
    uint32_t to_ = 0;         // end of the play, sector
    bool exhausted_ = false;  // the current track gave its last frame of this play
    bool pulled_all_ = false; // every frame of the play is in the output
    uint32_t heard_sector_ = 0;
    uint32_t stopped_at_ = kLeadInSectors;
    std::deque<Mark> marks_;
    RateConverter converter_;
    std::vector<int32_t> scratch_;
};

}  // namespace

std::unique_ptr<CdDrive> open_virtual_drive(const std::string& host_dir, MCIERROR& error) {
    auto drive = std::make_unique<VirtualDrive>();
    std::string why;
    if (!drive->load(host_dir, why)) {
        tell(why);
        error = MCIERR_DEVICE_NOT_INSTALLED;
        return nullptr;
    }
    error = 0;
    return drive;
}

void virtual_volume(uint16_t& left, uint16_t& right) {
    const uint32_t v = g_volume.load(std::memory_order_relaxed);
    left = uint16_t(v & 0xFFFF);
    right = uint16_t(v >> 16);
}

void set_virtual_volume(uint16_t left, uint16_t right) {
    g_volume.store(uint32_t(left) | uint32_t(right) << 16, std::memory_order_relaxed);
}

}  // namespace win32::mm
