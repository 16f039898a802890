// The ALSA sequencer behind WIN32_MIDI=alsa[:client:port]: a client with
// one output port, connected to the destination when one is given (else
// others may subscribe to it). Events go out directly, not scheduled.
#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "alsa_pcm.h"
#include "midi_port.h"

namespace win32::mm {

namespace {

// How long a full output pool may hold a message before it counts as lost.
constexpr auto kSendLimit = std::chrono::seconds(1);

class SeqPort : public MidiPort {
public:
    SeqPort(snd_seq_t* seq, int port, snd_midi_event_t* encoder, std::string name)
        : seq_(seq), port_(port), encoder_(encoder), name_(std::move(name)) {}

    ~SeqPort() override {
        snd_midi_event_free(encoder_);
        snd_seq_close(seq_);
    }

    std::string name() const override { return name_; }

    bool send_short(const uint8_t* bytes, size_t count) override { return encode(bytes, count); }

    bool send_long(const uint8_t* bytes, size_t count) override {
        if (bytes[0] != 0xF0) return encode(bytes, count);
        sysex_.assign(bytes, bytes + count);
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_sysex(&event, sysex_.size(), sysex_.data());
        return output(event);
    }

private:
    bool encode(const uint8_t* bytes, size_t count) {
        snd_midi_event_reset_encode(encoder_);
        for (size_t i = 0; i < count; ++i) {
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            int complete = snd_midi_event_encode_byte(encoder_, bytes[i], &event);
            if (complete < 0) return false;
            if (complete == 1 && !output(event)) return false;
        }
        return true;
    }

    bool output(snd_seq_event_t& event) {
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        auto begun = std::chrono::steady_clock::now();
        for (;;) {
            int rc = snd_seq_event_output_direct(seq_, &event);
            if (rc >= 0) return true;
            if (rc != -EAGAIN || std::chrono::steady_clock::now() - begun > kSendLimit) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    snd_seq_t* seq_;
    int port_;
    snd_midi_event_t* encoder_;
    std::string name_;
    std::vector<uint8_t> sysex_;
};

}  // namespace

MMRESULT open_alsa_seq_port(const std::string& destination, std::unique_ptr<MidiPort>& port) {
    quiet_alsa();
    snd_seq_t* seq = nullptr;
    // Non-blocking: a stalled destination must not hold the caller.
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) {
        return MMSYSERR_NODRIVER;
    }
    snd_seq_set_client_name(seq, "win32 midiOut");
    int out = snd_seq_create_simple_port(
        seq, "midiOut", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (out < 0) {
        snd_seq_close(seq);
        return MMSYSERR_NODRIVER;
    }
    if (!destination.empty()) {
        snd_seq_addr_t address;
        if (snd_seq_parse_address(seq, &address, destination.c_str()) < 0 ||
            snd_seq_connect_to(seq, out, address.client, address.port) < 0) {
            snd_seq_close(seq);
            return MIDIERR_NODEVICE;
        }
    }
    snd_midi_event_t* encoder = nullptr;
    if (snd_midi_event_new(256, &encoder) < 0) {
        snd_seq_close(seq);
        return MMSYSERR_NOMEM;
    }
    std::string name = destination.empty() ? "ALSA sequencer" : "ALSA sequencer: " + destination;
    port = std::make_unique<SeqPort>(seq, out, encoder, std::move(name));
    return MMSYSERR_NOERROR;
}

}  // namespace win32::mm
