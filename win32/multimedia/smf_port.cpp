// The MIDI file writer: every message the device takes becomes an event of
// a format 0 Standard MIDI File, timed in milliseconds since the device
// opened (500 ticks per quarter note at 500000 us per quarter note). The
// track's length is patched in when the device closes.
#include <chrono>
#include <cstdio>
#include <vector>

#include "midi_port.h"

namespace win32::mm {

namespace {

constexpr uint32_t kMaxDelta = 0x0FFFFFFF;  // largest variable-length quantity
constexpr long kTrackLengthAt = 18;

void put_vlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value != 0 && n < 4);
    while (n > 1) out.push_back(uint8_t(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

class SmfPort : public MidiPort {
public:
    explicit SmfPort(std::FILE* file) : file_(file), opened_(Clock::now()) {}

    ~SmfPort() override {
        std::vector<uint8_t> end_of_track;
        timestamp(end_of_track);
        end_of_track.insert(end_of_track.end(), {0xFF, 0x2F, 0x00});
        if (put(end_of_track)) {
            uint8_t length[4] = {uint8_t(track_bytes_ >> 24), uint8_t(track_bytes_ >> 16),
                                 uint8_t(track_bytes_ >> 8), uint8_t(track_bytes_)};
            if (std::fseek(file_, kTrackLengthAt, SEEK_SET) == 0) {
                std::fwrite(length, 1, sizeof length, file_);
            }
        }
        std::fclose(file_);
    }

    bool start() {
        static const uint8_t header[] = {
            'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xF4,  // format 0, 1 track, 500
            'M', 'T', 'r', 'k', 0, 0, 0, 0,
        };
        if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) return false;
        std::vector<uint8_t> tempo = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
        return put(tempo);
    }

    std::string name() const override { return "MIDI file writer"; }

    bool send_short(const uint8_t* bytes, size_t count) override {
        event_.clear();
        timestamp(event_);
        // System messages are not events of a file: they go escaped.
        if (bytes[0] >= 0xF0) {
            event_.push_back(0xF7);
            put_vlq(event_, uint32_t(count));
        }
        event_.insert(event_.end(), bytes, bytes + count);
        return put(event_);
    }

    bool send_long(const uint8_t* bytes, size_t count) override {
        event_.clear();
        timestamp(event_);
        if (bytes[0] == 0xF0) {
            event_.push_back(0xF0);
            put_vlq(event_, uint32_t(count - 1));
            event_.insert(event_.end(), bytes + 1, bytes + count);
        } else {
            event_.push_back(0xF7);
            put_vlq(event_, uint32_t(count));
            event_.insert(event_.end(), bytes, bytes + count);
        }
        return put(event_);
    }

private:
    using Clock = std::chrono::steady_clock;

    // The delta time of an event made now; a gap too long for one delta is
    // bridged with empty text events.
    void timestamp(std::vector<uint8_t>& out) {
        uint64_t now = uint64_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opened_).count());
        uint64_t delta = now > last_ms_ ? now - last_ms_ : 0;
        last_ms_ += delta;
        while (delta > kMaxDelta) {
            put_vlq(out, kMaxDelta);
            out.insert(out.end(), {0xFF, 0x01, 0x00});
            delta -= kMaxDelta;
        }
        put_vlq(out, uint32_t(delta));
    }

    bool put(const std::vector<uint8_t>& bytes) {
        if (!healthy_) return false;
        healthy_ = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
        track_bytes_ += uint32_t(bytes.size());
        return healthy_;
    }

    std::FILE* file_;
    const Clock::time_point opened_;
    uint64_t last_ms_ = 0;
    uint32_t track_bytes_ = 0;
    bool healthy_ = true;
    std::vector<uint8_t> event_;
};

}  // namespace

MMRESULT open_smf_port(const std::string& host_path, std::unique_ptr<MidiPort>& port) {
    std::FILE* file = std::fopen(host_path.c_str(), "wbe");
    if (!file) return MMSYSERR_NODRIVER;
    auto smf = std::make_unique<SmfPort>(file);
    if (!smf->start()) return MMSYSERR_NODRIVER;
    port = std::move(smf);
    return MMSYSERR_NOERROR;
}

}  // namespace win32::mm
