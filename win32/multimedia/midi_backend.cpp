#include <memory>

#include "backend_config.h"
#include "midi_port.h"
#include "win32/kernel_ext.h"

namespace win32::mm {

namespace {

class NullPort : public MidiPort {
public:
    std::string name() const override { return "Null MIDI device"; }
    bool send_short(const uint8_t*, size_t) override { return true; }
    bool send_long(const uint8_t*, size_t) override { return true; }
};

}  // namespace

MMRESULT open_midi_port(std::unique_ptr<MidiPort>& port) {
    BackendChoice choice = read_backend_choice("WIN32_MIDI", "null");
    if (choice.kind == "null" && choice.arg.empty()) {
        port = std::make_unique<NullPort>();
        return MMSYSERR_NOERROR;
    }
    if (choice.kind == "smf" && !choice.arg.empty()) {
        return open_smf_port(win32::host_path(choice.arg.c_str()), port);
    }
    if (choice.kind == "alsa") return open_alsa_seq_port(choice.arg, port);
    warn_unreadable("WIN32_MIDI", "null, smf:PATH or alsa[:CLIENT:PORT]");
    return MMSYSERR_NODRIVER;
}

std::string midi_port_name() {
    BackendChoice choice = read_backend_choice("WIN32_MIDI", "null");
    if (choice.kind == "null") return "Null MIDI device";
    if (choice.kind == "smf") return "MIDI file writer";
    if (choice.kind == "alsa") {
        return choice.arg.empty() ? "ALSA sequencer" : "ALSA sequencer: " + choice.arg;
    }
    return "No MIDI device";
}

}  // namespace win32::mm
