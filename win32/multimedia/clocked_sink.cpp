#include "clocked_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace win32::mm {

namespace {

uint32_t frames_per_period(uint32_t rate, uint32_t period_ms) {
    return std::max<uint32_t>(1, uint32_t(uint64_t(rate) * period_ms / 1000));
}

}  // namespace

ClockedSink::ClockedSink(const PcmFormat& format, Settings settings)
    : format_(format),
      settings_(std::move(settings)),
      period_frames_(frames_per_period(format.rate, settings_.period_ms)),
      // The clock runs on frames, so that a period's length matches its
      // frames exactly and long streams do not drift.
      period_length_(std::chrono::nanoseconds(uint64_t(period_frames_) * 1'000'000'000 /
                                              std::max<uint32_t>(1, format.rate))),
      opened_(Clock::now()) {}

void ClockedSink::advance(Clock::time_point now) {
    if (settings_.fail_after_ms != 0 &&
        now - opened_ >= std::chrono::milliseconds(settings_.fail_after_ms)) {
        failed_ = true;
    }
    while (!failed_ && !queue_.empty() && now >= front_end_) {
        Period& period = queue_.front();
        played_ = period.end;
        if (!on_played(period.frames.data(), period.count)) failed_ = true;
        if (keeps_frames()) spare_.push_back(std::move(period.frames));
        queue_.pop_front();
        front_end_ += period_length_;
    }
}

bool ClockedSink::stop_reason(SinkStatus& status) {
    if (failed_) {
        status = SinkStatus::failed;
        return true;
    }
    return false;
}

SinkStatus ClockedSink::write(const void* frames, uint32_t count) {
    const auto* bytes = static_cast<const uint8_t*>(frames);
    const uint32_t frame_bytes = format_.frame_bytes();
    std::unique_lock lock(mutex_);
    SinkStatus status = SinkStatus::ok;
    for (uint32_t done = 0; done < count;) {
        for (;;) {
            advance(Clock::now());
            if (stop_reason(status)) return status;
            if (queue_.size() < kDepth) break;
            wake_.wait_until(lock, front_end_);
        }
        Period period;
        period.count = std::min(period_frames_, count - done);
        period.end = written_ + period.count;
        if (keeps_frames()) {
            if (!spare_.empty()) {
                period.frames = std::move(spare_.back());
                spare_.pop_back();
            }
            const uint8_t* from = bytes + size_t(done) * frame_bytes;
            period.frames.assign(from, from + size_t(period.count) * frame_bytes);
        }
        // A device that ran dry starts again now, not where it stopped, and
        // fills its buffer before the first period is heard.
        if (queue_.empty()) front_end_ = Clock::now() + period_length_ * kLatency;
        queue_.push_back(std::move(period));
        written_ += queue_.back().count;
        done += queue_.back().count;
    }
    return status;
}

SinkStatus ClockedSink::wait_room() {
    std::unique_lock lock(mutex_);
    SinkStatus status = SinkStatus::ok;
    for (;;) {
        advance(Clock::now());
        if (stop_reason(status)) return status;
        if (queue_.size() < kDepth) return SinkStatus::ok;
        wake_.wait_until(lock, front_end_);
    }
}

uint64_t ClockedSink::played() {
    std::lock_guard lock(mutex_);
    advance(Clock::now());
    return played_;
}

SinkStatus ClockedSink::wait_played(uint64_t position) {
    std::unique_lock lock(mutex_);
    position = std::min(position, written_);
    SinkStatus status = SinkStatus::ok;
    for (;;) {
        advance(Clock::now());
        if (played_ >= position) return SinkStatus::ok;
        if (stop_reason(status)) return status;
        wake_.wait_until(lock, front_end_);
    }
}

// ---- WAV writer ----------------------------------------------------------

namespace {

constexpr uint32_t kHeaderBytes = 44;
// The RIFF size field is 32 bits; what does not fit is not recorded.
constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - kHeaderBytes;

void put16(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

bool write_all(int fd, const uint8_t* data, size_t size, off_t offset) {
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return true;
}

}  // namespace

// One capture file of the process, shared by the devices that write it in
// turn (one at a time: the process has one output).
class CaptureFile {
public:
    static std::shared_ptr<CaptureFile> open(const std::string& path, const PcmFormat& format) {
        static std::mutex* mutex = new std::mutex;
        static auto* files = new std::vector<std::shared_ptr<CaptureFile>>;
        std::lock_guard lock(*mutex);
        struct stat now {};
        const bool exists = ::stat(path.c_str(), &now) == 0;
        for (auto it = files->begin(); it != files->end(); ++it) {
            if ((*it)->path_ != path) continue;
            // A file removed or replaced meanwhile is started anew.
            if (exists && now.st_dev == (*it)->dev_ && now.st_ino == (*it)->ino_ &&
                (*it)->reopen()) {
                (*it)->continue_in(format);
                return *it;
            }
            files->erase(it);
            break;
        }
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return nullptr;
        auto file = std::shared_ptr<CaptureFile>(new CaptureFile(fd, path, format));
        struct stat made {};
        if (::fstat(fd, &made) != 0 || !file->write_header()) return nullptr;
        file->dev_ = made.st_dev;
        file->ino_ = made.st_ino;
        files->push_back(file);
        return file;
    }

    ~CaptureFile() {
        if (fd_ >= 0) ::close(fd_);
    }

    const PcmFormat& format() const { return format_; }

    bool append(const uint8_t* frames, uint32_t bytes) {
        std::lock_guard lock(mutex_);
        if (!healthy_ || fd_ < 0) return false;
        if (bytes > kMaxDataBytes - data_bytes_) return true;
        // Data first, sizes after: a reader never sees sizes beyond the data.
        healthy_ = write_all(fd_, frames, bytes, off_t(kHeaderBytes) + data_bytes_);
        if (healthy_) {
            data_bytes_ += bytes;
            healthy_ = write_sizes(false);
        }
        if (!audible_) {
            const uint8_t silence = format_.bits == 8 ? 0x80 : 0;
            audible_ = std::any_of(frames, frames + bytes, [&](uint8_t b) { return b != silence; });
        }
        return healthy_;
    }

    // A RIFF chunk of odd size is followed by a pad byte; the next device
    // writes over it.
    void finish() {
        std::lock_guard lock(mutex_);
        if (!healthy_ || fd_ < 0) return;
        bool padded = false;
        if (data_bytes_ & 1u) {
            const uint8_t zero = 0;
            padded = write_all(fd_, &zero, 1, off_t(kHeaderBytes) + data_bytes_);
        }
        write_sizes(padded);
        // Closed between devices: a process may capture to many files.
        ::close(fd_);
        fd_ = -1;
    }

private:
    CaptureFile(int fd, std::string path, const PcmFormat& format)
        : fd_(fd), path_(std::move(path)), format_(format) {}

    bool reopen() {
        std::lock_guard lock(mutex_);
        if (!healthy_) return false;
        if (fd_ < 0) fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        return fd_ >= 0;
    }

    // The file keeps its format once something was heard in it; before
    // that, the silence so far is kept as silence of the new format.
    void continue_in(const PcmFormat& format) {
        std::lock_guard lock(mutex_);
        if (audible_ || !healthy_ || (format.rate == format_.rate &&
                                      format.channels == format_.channels &&
                                      format.bits == format_.bits))
            return;
        const uint64_t frames = data_bytes_ / format_.frame_bytes() * format.rate / format_.rate;
        format_ = format;
        const uint64_t bytes = std::min<uint64_t>(frames * format.frame_bytes(), kMaxDataBytes);
        std::vector<uint8_t> silence(size_t(bytes), format.bits == 8 ? 0x80 : 0);
        healthy_ = ::ftruncate(fd_, kHeaderBytes) == 0 && write_header() &&
                   write_all(fd_, silence.data(), silence.size(), kHeaderBytes);
        data_bytes_ = uint32_t(bytes);
        if (healthy_) healthy_ = write_sizes(false);
    }

    bool write_header() {
        uint8_t header[kHeaderBytes];
        std::memcpy(header, "RIFF", 4);
        put32(header + 4, kHeaderBytes - 8);
        std::memcpy(header + 8, "WAVEfmt ", 8);
        put32(header + 16, 16);
        put16(header + 20, WAVE_FORMAT_PCM);
        put16(header + 22, format_.channels);
        put32(header + 24, format_.rate);
        put32(header + 28, format_.rate * format_.frame_bytes());
        put16(header + 32, format_.frame_bytes());
        put16(header + 34, format_.bits);
        std::memcpy(header + 36, "data", 4);
        put32(header + 40, 0);
        return write_all(fd_, header, sizeof header, 0);
    }

    bool write_sizes(bool padded) {
        uint8_t riff[4];
        uint8_t data[4];
        put32(riff, kHeaderBytes - 8 + data_bytes_ + (padded ? 1 : 0));
        put32(data, data_bytes_);
        return write_all(fd_, riff, 4, 4) && write_all(fd_, data, 4, 40);
    }

    std::mutex mutex_;
    int fd_;
    const std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    PcmFormat format_;
    uint32_t data_bytes_ = 0;
    bool audible_ = false;
    bool healthy_ = true;
};

MMRESULT WavSink::open(const std::string& host_path, const PcmFormat& format,
                       std::unique_ptr<PcmSink>& sink) {
    std::shared_ptr<CaptureFile> file = CaptureFile::open(host_path, format);
    if (!file) return MMSYSERR_NODRIVER;
    const PcmFormat plays = file->format();
    sink.reset(new WavSink(std::move(file), plays));
    return MMSYSERR_NOERROR;
}

WavSink::WavSink(std::shared_ptr<CaptureFile> file, const PcmFormat& format)
    : ClockedSink(format, Settings{"WAV file writer", 10, 0}), file_(std::move(file)) {}

WavSink::~WavSink() { file_->finish(); }

bool WavSink::on_played(const uint8_t* frames, uint32_t count) {
    return file_->append(frames, count * format().frame_bytes());
}

}  // namespace win32::mm
