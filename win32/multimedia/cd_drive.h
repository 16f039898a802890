// The CD drive behind MCI CD audio, the mixer's CD line and the CD
// auxiliary device. WIN32_CD chooses its driver when MCI first opens it:
//   none (default)   no drive
//   virtual:DIR      a disc made of the WAV files of DIR in name order, or
//                    of the first CUE sheet in DIR with its BIN image;
//                    played into the process's one audio output
//   linux:/dev/srN   a real drive through the kernel's CD-ROM ioctls
// WIN32_CD_VOLUME says which volume devices reach the CD line: "mixer",
// "aux", "mixer,aux" (default) or "none".
//
// Positions are sectors (1/75 s) from the start of the disc, as MSF
// addresses count them: track 1 of a pressed disc starts at 150 (0:02:00).
// Internal to win32_multimedia.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "win32/winmm.h"

namespace win32::mm {

constexpr uint32_t kSectorsPerSecond = 75;
constexpr uint32_t kLeadInSectors = 150;
constexpr uint32_t kMaxTracks = 99;
// The last address MSF can hold (99:59:74).
constexpr uint32_t kMaxSector = (99 * 60 + 59) * kSectorsPerSecond + 74;

struct CdTrack {
    uint32_t start = 0;   // sector
    uint32_t length = 0;  // sectors
    bool audio = true;
};

struct CdToc {
    std::vector<CdTrack> tracks;  // track n is tracks[n - 1]
    uint32_t end() const { return tracks.empty() ? kLeadInSectors : tracks.back().start + tracks.back().length; }
};

enum class CdMode { not_ready, open, stopped, playing, paused };

// One drive per process, shared by every MCI device open on it. Calls come
// from any thread; a driver takes its own lock.
class CdDrive {
public:
    virtual ~CdDrive() = default;
    // The disc's table of contents; MCIERR_DEVICE_NOT_READY without a disc
    // or with the door open.
    virtual MCIERROR toc(CdToc& out) = 0;
    virtual CdMode mode() = 0;
    // Plays sectors [from, to) and returns at once.
    virtual MCIERROR play(uint32_t from, uint32_t to) = 0;
    virtual MCIERROR stop() = 0;
    virtual MCIERROR pause() = 0;
    virtual MCIERROR resume() = 0;
    virtual MCIERROR set_door(bool open) = 0;
    // The sector being heard while playing or paused, else where play
    // stopped (the disc's start after a stop).
    virtual uint32_t position() = 0;
};

// The drive WIN32_CD names, or null with the reason (MCIERR_DEVICE_NOT_INSTALLED
// for `none`, a missing device or folder).
std::unique_ptr<CdDrive> open_cd_drive(MCIERROR& error);

// The CD line's volume, 0-0xFFFF a channel, as the mixer and the aux
// device both see it; false when WIN32_CD has no drive to carry it.
bool cd_volume(uint16_t& left, uint16_t& right);
bool set_cd_volume(uint16_t left, uint16_t right);
bool cd_has_mixer_line();
bool cd_has_aux_device();

// ---- Drivers ----------------------------------------------------------------
std::unique_ptr<CdDrive> open_virtual_drive(const std::string& host_dir, MCIERROR& error);
std::unique_ptr<CdDrive> open_linux_drive(const std::string& device, MCIERROR& error);
// The volume a virtual disc plays at (the CD line's, process-wide).
void virtual_volume(uint16_t& left, uint16_t& right);
void set_virtual_volume(uint16_t left, uint16_t right);
bool linux_volume(const std::string& device, uint16_t& left, uint16_t& right);
bool set_linux_volume(const std::string& device, uint16_t left, uint16_t right);

// ---- The kernel's view, kept apart so that it can be checked without a drive.
// MSF address <-> sector (the sector of 0:00:00 is 0; LBA 0 is sector 150).
uint32_t msf_to_sector(uint32_t minute, uint32_t second, uint32_t frame);
void sector_to_msf(uint32_t sector, uint8_t& minute, uint8_t& second, uint8_t& frame);
inline int32_t sector_to_lba(uint32_t sector) { return int32_t(sector) - int32_t(kLeadInSectors); }
inline uint32_t lba_to_sector(int32_t lba) { return uint32_t(lba + int32_t(kLeadInSectors)); }
// The mode from CDROM_DRIVE_STATUS (a CDS_* value, or -1 when it failed)
// and the subchannel's audio status (a CDROM_AUDIO_* value, or -1).
CdMode linux_mode(int drive_status, int audio_status);
// The drive's 0-255 volume and the CD line's 0-0xFFFF.
inline uint16_t linux_to_line_volume(uint8_t v) { return uint16_t(v * 257); }
inline uint8_t line_to_linux_volume(uint16_t v) { return uint8_t(v / 257); }

}  // namespace win32::mm
