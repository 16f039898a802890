// MCI CD audio, the mixer and the auxiliary devices over the one CD drive
// (cd_drive.h). Every MCI device open on the drive shares it, as programs
// share a physical drive: play, stop and the door act for all of them;
// the time format is each open's own.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "backend_config.h"
#include "cd_drive.h"
#include "handle_table.h"
#include "pcm_sink.h"
#include "win32/winmm.h"

namespace win32::mm {

namespace {

// The drive's letter for MCI_OPEN_ELEMENT ("D:"); C: is the hard disk.
constexpr char kDriveLetter = 'D';

// ---- Time formats -------------------------------------------------------------

uint32_t sector_to_ms(uint32_t sector) { return uint32_t((uint64_t(sector) * 1000 + 37) / 75); }
uint32_t ms_to_sector(DWORD ms) { return uint32_t((uint64_t(ms) * 75 + 500) / 1000); }

DWORD make_msf(uint32_t sector) {
    uint8_t m, s, f;
    sector_to_msf(sector, m, s, f);
    return MCI_MAKE_MSF(m, s, f);
}

bool read_msf(DWORD msf, uint32_t& sector) {
    const uint32_t m = MCI_MSF_MINUTE(msf), s = MCI_MSF_SECOND(msf), f = MCI_MSF_FRAME(msf);
    if (s >= 60 || f >= kSectorsPerSecond || (msf >> 24) != 0) return false;
    sector = msf_to_sector(m, s, f);
    return true;
}

size_t track_at(const CdToc& toc, uint32_t sector) {
    for (size_t i = toc.tracks.size(); i > 0; --i)
        if (sector >= toc.tracks[i - 1].start) return i;
    return toc.tracks.empty() ? 0 : 1;
}

// A position as the format gives it.
DWORD position_in(DWORD format, const CdToc& toc, uint32_t sector) {
    switch (format) {
        case MCI_FORMAT_MSF:
            return make_msf(sector);
        case MCI_FORMAT_TMSF: {
            const size_t track = track_at(toc, sector);
            const uint32_t start = track ? toc.tracks[track - 1].start : 0;
            uint8_t m, s, f;
            sector_to_msf(sector - std::min(sector, start), m, s, f);
            return MCI_MAKE_TMSF(track, m, s, f);
        }
        default:
            return sector_to_ms(sector);
    }
}

// A length: TMSF gives lengths as MSF.
DWORD length_in(DWORD format, uint32_t sectors) {
    return format == MCI_FORMAT_MILLISECONDS ? sector_to_ms(sectors) : make_msf(sectors);
}

MCIERROR sector_of(DWORD format, const CdToc& toc, DWORD value, uint32_t& sector) {
    switch (format) {
        case MCI_FORMAT_MSF:
            return read_msf(value, sector) ? 0 : MCIERR_OUTOFRANGE;
        case MCI_FORMAT_TMSF: {
            const uint32_t track = MCI_TMSF_TRACK(value);
            if (track < 1 || track > toc.tracks.size()) return MCIERR_OUTOFRANGE;
            uint32_t offset;
            if (!read_msf(value >> 8, offset)) return MCIERR_OUTOFRANGE;
            sector = toc.tracks[track - 1].start + offset;
            return 0;
        }
        default:
            sector = ms_to_sector(value);
            return 0;
    }
}

// ---- Open devices ---------------------------------------------------------------

struct OpenCd {
    DWORD time_format = MCI_FORMAT_MSF;  // MCI's default for CD audio
    bool shareable = false;
};

class Mci {
public:
    MCIERROR open(DWORD_PTR flags, MCI_OPEN_PARMSA* parms) {
        if (!(flags & MCI_OPEN_TYPE)) return MCIERR_INVALID_DEVICE_NAME;
        if (flags & MCI_OPEN_TYPE_ID) {
            if ((reinterpret_cast<uintptr_t>(parms->lpstrDeviceType) & 0xFFFF) != MCI_DEVTYPE_CD_AUDIO)
                return MCIERR_INVALID_DEVICE_NAME;
        } else if (!parms->lpstrDeviceType || !same_text(parms->lpstrDeviceType, "cdaudio")) {
            return MCIERR_INVALID_DEVICE_NAME;
        }
        if (flags & MCI_OPEN_ELEMENT_ID) return MCIERR_FLAGS_NOT_COMPATIBLE;
        if (flags & MCI_OPEN_ELEMENT) {
            const char* element = parms->lpstrElementName;
            if (!element || std::toupper(static_cast<unsigned char>(element[0])) != kDriveLetter ||
                element[1] != ':' || (element[2] != '\0' && !(element[2] == '\\' && element[3] == '\0')))
                return MCIERR_INVALID_DEVICE_NAME;
        }
        const bool shareable = (flags & MCI_OPEN_SHAREABLE) != 0;
        std::lock_guard lock(mutex_);
        // One drive: a second program gets it only by sharing it.
        if (!devices_.empty() && !shareable) return MCIERR_MUST_USE_SHAREABLE;
        if (!drive_) {
            MCIERROR error = 0;
            std::unique_ptr<CdDrive> drive = open_cd_drive(error);
            if (!drive) return error;
            drive_ = std::move(drive);
        }
        MCIDEVICEID id = next_id_;
        while (devices_.count(id) || id == 0) id = MCIDEVICEID(id % 0xFFF0 + 1);
        next_id_ = MCIDEVICEID(id % 0xFFF0 + 1);
        devices_[id] = OpenCd{MCI_FORMAT_MSF, shareable};
        parms->wDeviceID = id;
        return 0;
    }

    MCIERROR close(MCIDEVICEID id) {
        std::shared_ptr<CdDrive> last;  // let go outside the lock: it detaches its sound
        std::lock_guard lock(mutex_);
        if (!devices_.erase(id)) return MCIERR_INVALID_DEVICE_ID;
        if (devices_.empty()) last = std::move(drive_);
        return 0;
    }

    // The drive and the device's time format.
    std::shared_ptr<CdDrive> find(MCIDEVICEID id, DWORD& format) {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(id);
        if (it == devices_.end()) return nullptr;
        format = it->second.time_format;
        return drive_;
    }

    bool set_format(MCIDEVICEID id, DWORD format) {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(id);
        if (it == devices_.end()) return false;
        it->second.time_format = format;
        return true;
    }

private:
    static bool same_text(const char* a, const char* b) {
        for (; *a && *b; ++a, ++b)
            if (std::tolower(static_cast<unsigned char>(*a)) != *b) return false;
        return *a == *b;
    }

    std::mutex mutex_;
    std::map<MCIDEVICEID, OpenCd> devices_;
    std::shared_ptr<CdDrive> drive_;
    MCIDEVICEID next_id_ = 1;
};

Mci& mci() {
    static Mci* instance = new Mci;  // never destroyed: devices may close during exit
    return *instance;
}

DWORD mode_value(CdMode mode) {
    switch (mode) {
        case CdMode::open:
            return MCI_MODE_OPEN;
        case CdMode::stopped:
            return MCI_MODE_STOP;
        case CdMode::playing:
            return MCI_MODE_PLAY;
        case CdMode::paused:
            return MCI_MODE_PAUSE;
        case CdMode::not_ready:
            break;
    }
    return MCI_MODE_NOT_READY;
}

MCIERROR status(CdDrive& drive, DWORD format, DWORD_PTR flags, MCI_STATUS_PARMS& parms) {
    if (!(flags & MCI_STATUS_ITEM)) return MCIERR_MISSING_PARAMETER;
    switch (parms.dwItem) {
        case MCI_STATUS_MODE:
            parms.dwReturn = mode_value(drive.mode());
            return 0;
        case MCI_STATUS_READY: {
            const CdMode mode = drive.mode();
            parms.dwReturn = mode != CdMode::open && mode != CdMode::not_ready;
            return 0;
        }
        case MCI_STATUS_TIME_FORMAT:
            parms.dwReturn = format;
            return 0;
        case MCI_STATUS_MEDIA_PRESENT: {
            CdToc toc;
            parms.dwReturn = drive.toc(toc) == 0;
            return 0;
        }
        default:
            break;
    }
    CdToc toc;
    if (MCIERROR error = drive.toc(toc)) return error;
    const bool by_track = (flags & MCI_TRACK) != 0;
    if (by_track && (parms.dwTrack < 1 || parms.dwTrack > toc.tracks.size())) return MCIERR_OUTOFRANGE;
    const CdTrack* track = by_track ? &toc.tracks[parms.dwTrack - 1] : nullptr;
    switch (parms.dwItem) {
        case MCI_STATUS_NUMBER_OF_TRACKS:
            parms.dwReturn = toc.tracks.size();
            return 0;
        case MCI_STATUS_LENGTH: {
            const uint32_t first = toc.tracks.empty() ? toc.end() : toc.tracks.front().start;
            parms.dwReturn = length_in(format, track ? track->length : toc.end() - first);
            return 0;
        }
        case MCI_STATUS_POSITION: {
            uint32_t sector;
            if (track) {
                sector = track->start;
            } else if (flags & MCI_STATUS_START) {
                sector = toc.tracks.empty() ? toc.end() : toc.tracks.front().start;
            } else {
                sector = drive.position();
            }
            parms.dwReturn = position_in(format, toc, sector);
            return 0;
        }
        case MCI_STATUS_CURRENT_TRACK:
            parms.dwReturn = track_at(toc, drive.position());
            return 0;
        case MCI_CDA_STATUS_TYPE_TRACK:
            if (!track) return MCIERR_MISSING_PARAMETER;
            parms.dwReturn = track->audio ? MCI_CDA_TRACK_AUDIO : MCI_CDA_TRACK_OTHER;
            return 0;
        default:
            return MCIERR_UNSUPPORTED_FUNCTION;
    }
}

MCIERROR play(CdDrive& drive, DWORD format, DWORD_PTR flags, const MCI_PLAY_PARMS* parms) {
    if ((flags & (MCI_FROM | MCI_TO)) && !parms) return MCIERR_NULL_PARAMETER_BLOCK;
    // Play with no range after a pause goes on from there.
    if (!(flags & (MCI_FROM | MCI_TO)) && drive.mode() == CdMode::paused) return drive.resume();
    CdToc toc;
    if (MCIERROR error = drive.toc(toc)) return error;
    uint32_t from = drive.position(), to = toc.end();
    if (flags & MCI_FROM)
        if (MCIERROR error = sector_of(format, toc, parms->dwFrom, from)) return error;
    if (flags & MCI_TO)
        if (MCIERROR error = sector_of(format, toc, parms->dwTo, to)) return error;
    if (MCIERROR error = drive.play(from, to)) return error;
    if (flags & MCI_WAIT) {
        // Until the range has been played, and a little longer at most.
        const auto limit = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(sector_to_ms(to - from) + 10000);
        while (drive.mode() == CdMode::playing && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

MCIERROR set(MCIDEVICEID id, CdDrive& drive, DWORD_PTR flags, const MCI_SET_PARMS* parms) {
    const DWORD_PTR doors = flags & (MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED);
    if (doors == (MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED)) return MCIERR_FLAGS_NOT_COMPATIBLE;
    if (flags & MCI_SET_TIME_FORMAT) {
        if (!parms) return MCIERR_NULL_PARAMETER_BLOCK;
        const DWORD format = parms->dwTimeFormat;
        if (format != MCI_FORMAT_MILLISECONDS && format != MCI_FORMAT_MSF && format != MCI_FORMAT_TMSF)
            return MCIERR_BAD_TIME_FORMAT;
        mci().set_format(id, format);
    }
    if (doors) return drive.set_door((flags & MCI_SET_DOOR_OPEN) != 0);
    if (!(flags & MCI_SET_TIME_FORMAT)) return MCIERR_MISSING_PARAMETER;
    return 0;
}

// ---- The mixer: the sound card's, with the CD line when a drive is there.

constexpr DWORD kSpeakersLine = 0xFFFF0000;
constexpr DWORD kCdLine = 0x00000000;
constexpr DWORD kCdVolumeControl = 1;

struct MixerHandle {};
using Mixers = HandleTable<MixerHandle>;

// Resolves the object of a mixer call to mixer 0.
MMRESULT resolve_mixer(HMIXEROBJ object, DWORD flags) {
    switch (flags & MIXER_OBJECTF_TYPEMASK) {
        case MIXER_OBJECTF_HMIXER:
            return Mixers::instance().find(reinterpret_cast<uintptr_t>(object)) ? MMSYSERR_NOERROR
                                                                                 : MMSYSERR_INVALHANDLE;
        case MIXER_OBJECTF_MIXER:
            return reinterpret_cast<uintptr_t>(object) == 0 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
}

void copy_name(CHAR* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

void fill_line(MIXERLINEA& line, bool cd) {
    const DWORD size = line.cbStruct;
    std::memset(&line, 0, sizeof line);
    line.cbStruct = size;
    line.cChannels = 2;
    if (cd) {
        line.dwDestination = 0;
        line.dwSource = 0;
        line.dwLineID = kCdLine;
        line.fdwLine = MIXERLINE_LINEF_SOURCE | MIXERLINE_LINEF_ACTIVE;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
        line.cControls = 1;
        copy_name(line.szShortName, sizeof line.szShortName, "CD Audio");
        copy_name(line.szName, sizeof line.szName, "CD Audio");
        line.Target.dwType = MIXERLINE_TARGETTYPE_AUX;
        copy_name(line.Target.szPname, sizeof line.Target.szPname, "CD Audio");
    } else {
        line.dwLineID = kSpeakersLine;
        line.fdwLine = MIXERLINE_LINEF_ACTIVE;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        line.cConnections = cd_has_mixer_line() ? 1 : 0;
        copy_name(line.szShortName, sizeof line.szShortName, "Speakers");
        copy_name(line.szName, sizeof line.szName, "Speakers");
    }
}

void fill_volume_control(MIXERCONTROLA& control) {
    std::memset(&control, 0, sizeof control);
    control.cbStruct = sizeof control;
    control.dwControlID = kCdVolumeControl;
    control.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    control.Bounds.dwMinimum = 0;
    control.Bounds.dwMaximum = 0xFFFF;
    control.Metrics.cSteps = 0x10000;
    copy_name(control.szShortName, sizeof control.szShortName, "CD Volume");
    copy_name(control.szName, sizeof control.szName, "CD Audio Volume");
}

MMRESULT check_details(HMIXEROBJ object, LPMIXERCONTROLDETAILS details, DWORD flags, DWORD query) {
    MMRESULT result = resolve_mixer(object, flags);
    if (result != MMSYSERR_NOERROR) return result;
    if (!details || details->cbStruct < sizeof(MIXERCONTROLDETAILS)) return MMSYSERR_INVALPARAM;
    if ((flags & 0xF) != query) return MMSYSERR_NOTSUPPORTED;
    if (!cd_has_mixer_line() || details->dwControlID != kCdVolumeControl) return MIXERR_INVALCONTROL;
    if (details->cChannels != 1 && details->cChannels != 2) return MMSYSERR_INVALPARAM;
    if (details->cMultipleItems != 0) return MMSYSERR_INVALPARAM;
    if (details->cbDetails < sizeof(MIXERCONTROLDETAILS_UNSIGNED) || !details->paDetails)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MIXERCONTROLDETAILS_UNSIGNED* detail(LPMIXERCONTROLDETAILS details, DWORD channel) {
    return reinterpret_cast<MIXERCONTROLDETAILS_UNSIGNED*>(static_cast<uint8_t*>(details->paDetails) +
                                                            size_t(channel) * details->cbDetails);
}

}  // namespace

}  // namespace win32::mm

using namespace win32::mm;

extern "C" {

MCIERROR WINAPI mciSendCommandA(MCIDEVICEID IDDevice, UINT uMsg, DWORD_PTR fdwCommand,
                                DWORD_PTR dwParam) {
    try {
        if (uMsg == MCI_OPEN) {
            if (!dwParam) return MCIERR_NULL_PARAMETER_BLOCK;
            return mci().open(fdwCommand, reinterpret_cast<MCI_OPEN_PARMSA*>(dwParam));
        }
        if (uMsg == MCI_CLOSE) return mci().close(IDDevice);
        DWORD format = MCI_FORMAT_MILLISECONDS;
        std::shared_ptr<CdDrive> drive = mci().find(IDDevice, format);
        if (!drive) return MCIERR_INVALID_DEVICE_ID;
        switch (uMsg) {
            case MCI_STATUS:
                if (!dwParam) return MCIERR_NULL_PARAMETER_BLOCK;
                return status(*drive, format, fdwCommand, *reinterpret_cast<MCI_STATUS_PARMS*>(dwParam));
            case MCI_PLAY:
                return play(*drive, format, fdwCommand, reinterpret_cast<const MCI_PLAY_PARMS*>(dwParam));
            case MCI_STOP:
                return drive->stop();
            case MCI_PAUSE:
                return drive->pause();
            case MCI_RESUME:
                return drive->resume();
            case MCI_SET:
                return set(IDDevice, *drive, fdwCommand, reinterpret_cast<const MCI_SET_PARMS*>(dwParam));
            default:
                return MCIERR_UNRECOGNIZED_COMMAND;
        }
    } catch (const std::bad_alloc&) {
        return MCIERR_OUT_OF_MEMORY;
    }
}

UINT WINAPI mixerGetNumDevs(void) { return 1; }

MMRESULT WINAPI mixerGetDevCapsA(UINT_PTR uMxId, LPMIXERCAPSA pmxcaps, UINT cbmxcaps) {
    if (uMxId != 0) return MMSYSERR_BADDEVICEID;
    if (!pmxcaps || cbmxcaps < sizeof(MIXERCAPSA)) return MMSYSERR_INVALPARAM;
    std::memset(pmxcaps, 0, sizeof *pmxcaps);
    pmxcaps->vDriverVersion = 0x0100;
    try {
        copy_product_name(pmxcaps->szPname, "Mixer: " + pcm_sink_name());
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
    pmxcaps->cDestinations = 1;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR,
                          DWORD fdwOpen) {
    if (!phmx) return MMSYSERR_INVALPARAM;
    *phmx = nullptr;
    if ((fdwOpen & MIXER_OBJECTF_TYPEMASK) != MIXER_OBJECTF_MIXER) return MMSYSERR_NOTSUPPORTED;
    if (uMxId != 0) return MMSYSERR_BADDEVICEID;
    // Line change notices are not sent: nothing changes a line but its user.
    if ((fdwOpen & CALLBACK_TYPEMASK) != CALLBACK_NULL || dwCallback) return MMSYSERR_NOTSUPPORTED;
    try {
        *phmx = reinterpret_cast<HMIXER>(Mixers::instance().add(std::make_shared<MixerHandle>()));
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mixerClose(HMIXER hmx) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(hmx);
    if (!Mixers::instance().find(value)) return MMSYSERR_INVALHANDLE;
    Mixers::instance().remove(value);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mixerGetLineInfoA(HMIXEROBJ hmxobj, LPMIXERLINEA pmxl, DWORD fdwInfo) {
    MMRESULT result = resolve_mixer(hmxobj, fdwInfo);
    if (result != MMSYSERR_NOERROR) return result;
    if (!pmxl || pmxl->cbStruct < sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
    const bool cd_line = cd_has_mixer_line();
    bool cd;
    switch (fdwInfo & MIXER_GETLINEINFOF_QUERYMASK) {
        case MIXER_GETLINEINFOF_DESTINATION:
            if (pmxl->dwDestination != 0) return MMSYSERR_INVALPARAM;
            cd = false;
            break;
        case MIXER_GETLINEINFOF_SOURCE:
            if (pmxl->dwDestination != 0 || pmxl->dwSource != 0 || !cd_line) return MMSYSERR_INVALPARAM;
            cd = true;
            break;
        case MIXER_GETLINEINFOF_LINEID:
            if (pmxl->dwLineID == kSpeakersLine) {
                cd = false;
            } else if (pmxl->dwLineID == kCdLine && cd_line) {
                cd = true;
            } else {
                return MIXERR_INVALLINE;
            }
            break;
        case MIXER_GETLINEINFOF_COMPONENTTYPE:
            if (pmxl->dwComponentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) {
                cd = false;
            } else if (pmxl->dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC && cd_line) {
                cd = true;
            } else {
                return MIXERR_INVALLINE;
            }
            break;
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
    fill_line(*pmxl, cd);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mixerGetLineControlsA(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSA pmxlc,
                                      DWORD fdwControls) {
    MMRESULT result = resolve_mixer(hmxobj, fdwControls);
    if (result != MMSYSERR_NOERROR) return result;
    if (!pmxlc || pmxlc->cbStruct < sizeof(MIXERLINECONTROLSA)) return MMSYSERR_INVALPARAM;
    if (pmxlc->cbmxctrl < sizeof(MIXERCONTROLA) || !pmxlc->pamxctrl || pmxlc->cControls < 1)
        return MMSYSERR_INVALPARAM;
    const bool cd_line = cd_has_mixer_line();
    switch (fdwControls & MIXER_GETLINECONTROLSF_QUERYMASK) {
        case MIXER_GETLINECONTROLSF_ALL:
            if (pmxlc->dwLineID == kSpeakersLine) return MMSYSERR_INVALPARAM;  // it has none
            if (pmxlc->dwLineID != kCdLine || !cd_line) return MIXERR_INVALLINE;
            if (pmxlc->cControls != 1) return MMSYSERR_INVALPARAM;
            break;
        case MIXER_GETLINECONTROLSF_ONEBYID:
            if (pmxlc->dwControlID != kCdVolumeControl || !cd_line) return MIXERR_INVALCONTROL;
            pmxlc->dwLineID = kCdLine;
            break;
        case MIXER_GETLINECONTROLSF_ONEBYTYPE:
            if (pmxlc->dwLineID != kCdLine || !cd_line) return MIXERR_INVALLINE;
            if (pmxlc->dwControlType != MIXERCONTROL_CONTROLTYPE_VOLUME) return MIXERR_INVALCONTROL;
            break;
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
    fill_volume_control(*pmxlc->pamxctrl);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mixerGetControlDetailsA(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                        DWORD fdwDetails) {
    MMRESULT result = check_details(hmxobj, pmxcd, fdwDetails, MIXER_GETCONTROLDETAILSF_VALUE);
    if (result != MMSYSERR_NOERROR) return result;
    uint16_t left, right;
    if (!cd_volume(left, right)) return MMSYSERR_ERROR;
    if (pmxcd->cChannels == 1) {
        detail(pmxcd, 0)->dwValue = std::max(left, right);
    } else {
        detail(pmxcd, 0)->dwValue = left;
        detail(pmxcd, 1)->dwValue = right;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd,
                                       DWORD fdwDetails) {
    MMRESULT result = check_details(hmxobj, pmxcd, fdwDetails, MIXER_SETCONTROLDETAILSF_VALUE);
    if (result != MMSYSERR_NOERROR) return result;
    const DWORD left = detail(pmxcd, 0)->dwValue;
    const DWORD right = pmxcd->cChannels == 2 ? detail(pmxcd, 1)->dwValue : left;
    if (left > 0xFFFF || right > 0xFFFF) return MIXERR_INVALVALUE;
    return set_cd_volume(uint16_t(left), uint16_t(right)) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

UINT WINAPI auxGetNumDevs(void) { return cd_has_aux_device() ? 1 : 0; }

MMRESULT WINAPI auxGetDevCapsA(UINT_PTR uDeviceID, LPAUXCAPSA pac, UINT cbac) {
    if (uDeviceID != 0 || !cd_has_aux_device()) return MMSYSERR_BADDEVICEID;
    if (!pac || cbac < sizeof(AUXCAPSA)) return MMSYSERR_INVALPARAM;
    std::memset(pac, 0, sizeof *pac);
    pac->vDriverVersion = 0x0100;
    copy_name(pac->szPname, sizeof pac->szPname, "CD Audio");
    pac->wTechnology = AUXCAPS_CDAUDIO;
    pac->dwSupport = AUXCAPS_VOLUME | AUXCAPS_LRVOLUME;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI auxGetVolume(UINT uDeviceID, LPDWORD pdwVolume) {
    if (uDeviceID != 0 || !cd_has_aux_device()) return MMSYSERR_BADDEVICEID;
    if (!pdwVolume) return MMSYSERR_INVALPARAM;
    uint16_t left, right;
    if (!cd_volume(left, right)) return MMSYSERR_ERROR;
    *pdwVolume = DWORD(left) | DWORD(right) << 16;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI auxSetVolume(UINT uDeviceID, DWORD dwVolume) {
    if (uDeviceID != 0 || !cd_has_aux_device()) return MMSYSERR_BADDEVICEID;
    return set_cd_volume(uint16_t(dwVolume & 0xFFFF), uint16_t(dwVolume >> 16)) ? MMSYSERR_NOERROR
                                                                               : MMSYSERR_ERROR;
}

}  // extern "C"
