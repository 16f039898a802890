// A MIDI output device behind midiOut, chosen by WIN32_MIDI when it opens:
//   null (default)       takes every message and drops it
//   smf:PATH             writes every message with its time to a Standard
//                        MIDI File (format 0, one tick per millisecond)
//   alsa[:client:port]   an ALSA sequencer client with an output port,
//                        connected to the given destination
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "win32/winmm.h"

namespace win32::mm {

// Called by one thread at a time (the device's lock).
class MidiPort {
public:
    virtual ~MidiPort() = default;
    virtual std::string name() const = 0;
    // One complete channel or system message, status byte first.
    virtual bool send_short(const uint8_t* bytes, size_t count) = 0;
    // The bytes of a long message: usually one system-exclusive message
    // (0xF0 ... 0xF7), but any stream of MIDI bytes is allowed.
    virtual bool send_long(const uint8_t* bytes, size_t count) = 0;
};

// MMSYSERR_NOERROR; MMSYSERR_NODRIVER when the backend cannot be used
// (no sequencer, file not writable, bad variable); MIDIERR_NODEVICE when
// the destination port does not exist.
MMRESULT open_midi_port(std::unique_ptr<MidiPort>& port);

// Product name of the configured device.
std::string midi_port_name();

// The SMF writer and the ALSA sequencer client.
MMRESULT open_smf_port(const std::string& host_path, std::unique_ptr<MidiPort>& port);
MMRESULT open_alsa_seq_port(const std::string& destination, std::unique_ptr<MidiPort>& port);

}  // namespace win32::mm
