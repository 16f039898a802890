// Red Book CD audio through MCI, and the CD line's volume through a mixer
// or, without one, an auxiliary device. Positions are milliseconds. CD
// calls are meant for the application's thread: the open count and the
// volume device are the library's, unlocked.
#include <cstdio>
#include <cstring>

#include "core/ops.h"
#include "win32/winmm.h"

struct SVX_REDBOOK {
    MCIDEVICEID device;
    int32_t paused;
    int32_t paused_at;  // ms
    int32_t last_end;   // ms, of the last play asked for
};

namespace svx::services {
namespace {

constexpr uint32_t K[4] = {0xB16EADE1, 0x471F295A, 0x38BCA4D5, 0xE41926FC};
// The last track reads a little short of the lead-out on some drives.
constexpr int32_t kLastTrackTrim = 15;

int32_t open_count = 0;
int32_t volume_device = -1;
bool volume_is_mixer = false;
HMIXER mixer = nullptr;
MIXERCONTROLA mixer_control;
MIXERLINECONTROLSA line_controls;
MIXERCONTROLDETAILS control_details;
MIXERCONTROLDETAILS_UNSIGNED channel_values[2];

uint32_t rotl8(uint32_t v) { return v << 8 | v >> 24; }

// Every MCI command gives the waveOut writer a turn before and after: a
// CD command may take a while, and the writer must not starve meanwhile.
MCIERROR send(MCIDEVICEID device, UINT command, DWORD_PTR flags, void* parms) {
    ::SVX_serve();
    const MCIERROR result = mciSendCommandA(device, command, flags, reinterpret_cast<DWORD_PTR>(parms));
    ::SVX_serve();
    return result;
}

// The value of a status item, 0 when the query fails.
DWORD_PTR query(MCIDEVICEID device, DWORD item, DWORD_PTR flags = 0, DWORD track = 0) {
    MCI_STATUS_PARMS parms{};
    parms.dwItem = item;
    parms.dwTrack = track;
    if (send(device, MCI_STATUS, MCI_WAIT | MCI_STATUS_ITEM | flags, &parms) != 0) return 0;
    return parms.dwReturn;
}

bool try_mixer(UINT id) {
    HMIXER handle = nullptr;
    if (mixerOpen(&handle, id, 0, 0, MIXER_OBJECTF_MIXER) != MMSYSERR_NOERROR) return false;
    const auto object = reinterpret_cast<HMIXEROBJ>(handle);
    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
    bool ok = mixerGetLineInfoA(object, &line, MIXER_OBJECTF_HMIXER |
                                                   MIXER_GETLINEINFOF_COMPONENTTYPE) ==
              MMSYSERR_NOERROR;
    if (ok) {
        mixer_control = MIXERCONTROLA{};
        mixer_control.cbStruct = sizeof mixer_control;
        line_controls = MIXERLINECONTROLSA{};
        line_controls.cbStruct = sizeof line_controls;
        line_controls.dwLineID = line.dwLineID;
        line_controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        line_controls.cControls = 1;
        line_controls.cbmxctrl = sizeof mixer_control;
        line_controls.pamxctrl = &mixer_control;
        ok = mixerGetLineControlsA(object, &line_controls,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) ==
             MMSYSERR_NOERROR;
    }
    if (ok) {
        control_details = MIXERCONTROLDETAILS{};
        control_details.cbStruct = sizeof control_details;
        control_details.dwControlID = mixer_control.dwControlID;
        // The value buffer holds two channels: a line with more is read
        // as its first two.
        control_details.cChannels = line.cChannels == 1 ? 1 : 2;
        control_details.cMultipleItems = 0;
        control_details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
        control_details.paDetails = channel_values;
        ok = mixerGetControlDetailsA(object, &control_details,
                                     MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) ==
             MMSYSERR_NOERROR;
    }
    if (!ok) {
        mixerClose(handle);
        return false;
    }
    mixer = handle;
    return true;
}

// Mixers from the highest down, then auxiliary devices likewise.
void choose_volume_device() {
    volume_device = -1;
    for (int32_t id = int32_t(mixerGetNumDevs()) - 1; id >= 0; --id) {
        if (try_mixer(UINT(id))) {
            volume_device = id;
            volume_is_mixer = true;
            return;
        }
    }
    for (int32_t id = int32_t(auxGetNumDevs()) - 1; id >= 0; --id) {
        AUXCAPSA caps{};
        if (auxGetDevCapsA(UINT_PTR(id), &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        if (caps.wTechnology == AUXCAPS_CDAUDIO && (caps.dwSupport & AUXCAPS_VOLUME)) {
            volume_device = id;
            volume_is_mixer = false;
            return;
        }
    }
}

HREDBOOK open_cd(int32_t which, DWORD_PTR extra, const char* element) {
    const DWORD_PTR flags = MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID | extra;
    MCI_OPEN_PARMSA parms{};
    parms.wDeviceID = MCIDEVICEID(which);
    parms.lpstrDeviceType = reinterpret_cast<LPCSTR>(uintptr_t(MCI_DEVTYPE_CD_AUDIO));
    parms.lpstrElementName = element;
    if (send(0, MCI_OPEN, flags, &parms) != 0) {
        // Another program may hold the drive: share it.
        parms.wDeviceID = MCIDEVICEID(which);
        if (send(0, MCI_OPEN, flags | MCI_OPEN_SHAREABLE, &parms) != 0) return nullptr;
    }
    const MCIDEVICEID device = parms.wDeviceID;
    MCI_SET_PARMS set{};
    set.dwTimeFormat = MCI_FORMAT_MILLISECONDS;
    send(device, MCI_SET, MCI_SET_TIME_FORMAT, &set);
    auto* hand = static_cast<HREDBOOK>(::SVX_mem_alloc_lock(sizeof(SVX_REDBOOK)));
    if (!hand) {
        // A device nobody can close would hold the drive for good.
        MCI_GENERIC_PARMS generic{};
        send(device, MCI_CLOSE, 0, &generic);
        return nullptr;
    }
    hand->device = device;
    hand->paused = 0;
    if (++open_count == 1) choose_volume_device();
    return hand;
}

void play_range(HREDBOOK hand, int32_t start, int32_t end) {
    MCI_PLAY_PARMS parms{};
    parms.dwFrom = DWORD(start);
    parms.dwTo = DWORD(end);
    hand->last_end = end;
    // A new play ends any pause: its stop is not a pause.
    if (send(hand->device, MCI_PLAY, MCI_FROM | MCI_TO, &parms) == 0) hand->paused = 0;
}

void set_door(HREDBOOK hand, DWORD_PTR flag) {
    if (!hand) return;
    hand->paused = 0;
    MCI_SET_PARMS parms{};
    send(hand->device, MCI_SET, flag, &parms);
}

}  // namespace
}  // namespace svx::services

namespace svx::op {
using namespace svx::services;

HREDBOOK SVX_redbook_open(int32_t which) { return open_cd(which, 0, nullptr); }

HREDBOOK SVX_redbook_open_drive(int32_t drive) {
    char element[8];
    std::snprintf(element, sizeof element, "%c:", char(drive));
    return open_cd(0, MCI_OPEN_ELEMENT, element);
}

void SVX_redbook_close(HREDBOOK hand) {
    if (!hand) return;
    MCI_GENERIC_PARMS parms{};
    send(hand->device, MCI_CLOSE, 0, &parms);
    if (--open_count <= 0) {
        open_count = 0;
        if (volume_device >= 0 && volume_is_mixer) mixerClose(mixer);
        mixer = nullptr;
        volume_device = -1;
    }
    ::SVX_mem_free_lock(hand);
}

void SVX_redbook_eject(HREDBOOK hand) { set_door(hand, MCI_SET_DOOR_OPEN); }

void SVX_redbook_retract(HREDBOOK hand) { set_door(hand, MCI_SET_DOOR_CLOSED); }

int32_t SVX_redbook_status(HREDBOOK hand) {
    if (!hand) return 0;
    MCI_STATUS_PARMS parms{};
    parms.dwItem = MCI_STATUS_MODE;
    if (send(hand->device, MCI_STATUS, MCI_WAIT | MCI_STATUS_ITEM, &parms) == 0) {
        if (parms.dwReturn == MCI_MODE_STOP) return hand->paused ? 2 : 3;
        if (parms.dwReturn == MCI_MODE_PLAY) return 1;
    }
    hand->paused = 0;
    return 0;
}

int32_t SVX_redbook_tracks(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) == 0) return 0;
    return int32_t(query(hand->device, MCI_STATUS_NUMBER_OF_TRACKS));
}

void SVX_redbook_track_info(HREDBOOK hand, int32_t track, int32_t* start_ms, int32_t* end_ms) {
    int32_t start = 0, end = 0;
    if (::SVX_redbook_status(hand) != 0) {
        start = int32_t(query(hand->device, MCI_STATUS_POSITION, MCI_TRACK, DWORD(track)));
        int32_t length = int32_t(query(hand->device, MCI_STATUS_LENGTH, MCI_TRACK, DWORD(track)));
        if (track == ::SVX_redbook_tracks(hand)) length -= kLastTrackTrim;
        end = start + length;
    }
    if (start_ms) *start_ms = start;
    if (end_ms) *end_ms = end;
}

uint32_t SVX_redbook_id(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) == 0) return 0;
    const int32_t tracks = ::SVX_redbook_tracks(hand);
    uint32_t id = rotl8(K[1] ^ uint32_t(tracks));
    for (int32_t t = 1; t <= tracks; ++t) {
        int32_t start, end;
        ::SVX_redbook_track_info(hand, t, &start, &end);
        const uint32_t a = (t & 1) ? 2 : 0, b = (t & 1) ? 3 : 1;
        const uint32_t x = rotl8(K[a] ^ id ^ uint32_t(start));
        id = rotl8(K[b] ^ x ^ uint32_t(end));
    }
    return id;
}

int32_t SVX_redbook_position(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) != 1) return 0;
    return int32_t(query(hand->device, MCI_STATUS_POSITION));
}

int32_t SVX_redbook_track(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) != 1) return 0;
    return int32_t(query(hand->device, MCI_STATUS_CURRENT_TRACK));
}

int32_t SVX_redbook_play(HREDBOOK hand, int32_t start_ms, int32_t end_ms) {
    if (::SVX_redbook_status(hand) != 0) play_range(hand, start_ms, end_ms);
    return ::SVX_redbook_status(hand);
}

int32_t SVX_redbook_stop(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) != 0) {
        hand->paused = 0;
        MCI_GENERIC_PARMS parms{};
        send(hand->device, MCI_STOP, 0, &parms);
    }
    return ::SVX_redbook_status(hand);
}

int32_t SVX_redbook_pause(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) == 1) {
        hand->paused_at = int32_t(query(hand->device, MCI_STATUS_POSITION));
        hand->paused = 1;
        MCI_GENERIC_PARMS parms{};
        send(hand->device, MCI_STOP, 0, &parms);
    }
    return ::SVX_redbook_status(hand);
}

int32_t SVX_redbook_resume(HREDBOOK hand) {
    if (::SVX_redbook_status(hand) == 2) {
        hand->paused = 0;
        play_range(hand, hand->paused_at, hand->last_end);
    }
    return ::SVX_redbook_status(hand);
}

int32_t SVX_redbook_volume(HREDBOOK hand) {
    if (!hand) return 0;
    if (volume_device < 0) return -1;
    DWORD value = 0;
    if (volume_is_mixer) {
        if (mixerGetControlDetailsA(reinterpret_cast<HMIXEROBJ>(mixer), &control_details,
                                    MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
            MMSYSERR_NOERROR)
            return -1;
        value = channel_values[0].dwValue;
    } else {
        if (auxGetVolume(UINT(volume_device), &value) != MMSYSERR_NOERROR) return -1;
        value &= 0xFFFF;
    }
    return int32_t((value >> 9) & 0x7F);
}

int32_t SVX_redbook_set_volume(HREDBOOK hand, int32_t volume) {
    if (hand && volume >= 0 && volume < 128 && volume_device >= 0) {
        const DWORD value = DWORD(volume) * 516;
        if (volume_is_mixer) {
            channel_values[0].dwValue = channel_values[1].dwValue = value;
            mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(mixer), &control_details,
                                   MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
        } else {
            auxSetVolume(UINT(volume_device), value | value << 16);
        }
    }
    return ::SVX_redbook_volume(hand);
}

}  // namespace svx::op
