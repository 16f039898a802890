// A real drive through the kernel's CD-ROM ioctls. The drive plays its
// audio itself (to its own output or through the sound card's CD line);
// we read its table of contents and subchannel, and send it commands.
// The device is opened non-blocking, so that an empty drive or an open
// tray still opens.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "cd_drive.h"

namespace win32::mm {

uint32_t msf_to_sector(uint32_t minute, uint32_t second, uint32_t frame) {
    return (minute * 60 + second) * kSectorsPerSecond + frame;
}

void sector_to_msf(uint32_t sector, uint8_t& minute, uint8_t& second, uint8_t& frame) {
    sector = std::min(sector, kMaxSector);
    frame = uint8_t(sector % kSectorsPerSecond);
    second = uint8_t(sector / kSectorsPerSecond % 60);
    minute = uint8_t(sector / kSectorsPerSecond / 60);
}

CdMode linux_mode(int drive_status, int audio_status) {
    switch (drive_status) {
        case CDS_TRAY_OPEN:
            return CdMode::open;
        case CDS_DISC_OK:
        case CDS_NO_INFO:  // drives that cannot tell: the subchannel decides
            break;
        default:  // no disc, not ready, or the query failed
            return CdMode::not_ready;
    }
    switch (audio_status) {
        case CDROM_AUDIO_PLAY:
            return CdMode::playing;
        case CDROM_AUDIO_PAUSED:
            return CdMode::paused;
        case CDROM_AUDIO_COMPLETED:
        case CDROM_AUDIO_NO_STATUS:
        case CDROM_AUDIO_INVALID:
        case CDROM_AUDIO_ERROR:  // play ended on an error: the drive stands
            return CdMode::stopped;
        default:
            return CdMode::not_ready;
    }
}

namespace {

MCIERROR from_errno(int error) {
    switch (error) {
        case ENOMEDIUM:
        case EIO:
        case EBUSY:
            return MCIERR_DEVICE_NOT_READY;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return MCIERR_DEVICE_NOT_INSTALLED;
        case EINVAL:
            return MCIERR_OUTOFRANGE;
        default:
            return MCIERR_HARDWARE;
    }
}

class LinuxDrive : public CdDrive {
public:
    explicit LinuxDrive(int fd) : fd_(fd) {}
    ~LinuxDrive() override { ::close(fd_); }

    MCIERROR toc(CdToc& out) override {
        std::lock_guard lock(mutex_);
        out.tracks.clear();
        const int drive = ::ioctl(fd_, CDROM_DRIVE_STATUS, CDSL_CURRENT);
        if (drive != CDS_DISC_OK && drive != CDS_NO_INFO) return MCIERR_DEVICE_NOT_READY;
        cdrom_tochdr header{};
        if (::ioctl(fd_, CDROMREADTOCHDR, &header) != 0) return from_errno(errno);
        if (header.cdth_trk0 < 1 || header.cdth_trk1 < header.cdth_trk0 ||
            header.cdth_trk1 > kMaxTracks)
            return MCIERR_HARDWARE;
        std::vector<uint32_t> starts;
        std::vector<bool> audio;
        for (int track = header.cdth_trk0; track <= header.cdth_trk1 + 1; ++track) {
            cdrom_tocentry entry{};
            entry.cdte_track = uint8_t(track > header.cdth_trk1 ? CDROM_LEADOUT : track);
            entry.cdte_format = CDROM_LBA;
            if (::ioctl(fd_, CDROMREADTOCENTRY, &entry) != 0) return from_errno(errno);
            const int32_t lba = entry.cdte_addr.lba;
            if (lba < 0 || lba > int32_t(kMaxSector - kLeadInSectors)) return MCIERR_HARDWARE;
            starts.push_back(lba_to_sector(lba));
            audio.push_back((entry.cdte_ctrl & CDROM_DATA_TRACK) == 0);
        }
        for (size_t i = 0; i + 1 < starts.size(); ++i) {
            if (starts[i + 1] < starts[i]) return MCIERR_HARDWARE;  // a table we cannot trust
            out.tracks.push_back(CdTrack{starts[i], starts[i + 1] - starts[i], audio[i]});
        }
        return 0;
    }

    CdMode mode() override {
        std::lock_guard lock(mutex_);
        const int drive = ::ioctl(fd_, CDROM_DRIVE_STATUS, CDSL_CURRENT);
        cdrom_subchnl sub{};
        sub.cdsc_format = CDROM_MSF;
        const int audio = ::ioctl(fd_, CDROMSUBCHNL, &sub) == 0 ? sub.cdsc_audiostatus : -1;
        return linux_mode(drive, audio);
    }

    MCIERROR play(uint32_t from, uint32_t to) override {
        std::lock_guard lock(mutex_);
        if (from >= to || to > kMaxSector) return MCIERR_OUTOFRANGE;
        cdrom_msf msf{};
        sector_to_msf(from, msf.cdmsf_min0, msf.cdmsf_sec0, msf.cdmsf_frame0);
        sector_to_msf(to, msf.cdmsf_min1, msf.cdmsf_sec1, msf.cdmsf_frame1);
        return ::ioctl(fd_, CDROMPLAYMSF, &msf) == 0 ? 0 : from_errno(errno);
    }

    MCIERROR stop() override { return command(CDROMSTOP); }
    MCIERROR pause() override { return command(CDROMPAUSE); }
    MCIERROR resume() override { return command(CDROMRESUME); }
    MCIERROR set_door(bool open) override { return command(open ? CDROMEJECT : CDROMCLOSETRAY); }

    uint32_t position() override {
        std::lock_guard lock(mutex_);
        cdrom_subchnl sub{};
        sub.cdsc_format = CDROM_MSF;
        if (::ioctl(fd_, CDROMSUBCHNL, &sub) != 0) return kLeadInSectors;
        return msf_to_sector(sub.cdsc_absaddr.msf.minute, sub.cdsc_absaddr.msf.second,
                             sub.cdsc_absaddr.msf.frame);
    }

private:
    MCIERROR command(unsigned long request) {
        std::lock_guard lock(mutex_);
        return ::ioctl(fd_, request, 0) == 0 ? 0 : from_errno(errno);
    }

    const int fd_;
    std::mutex mutex_;
};

int open_device(const std::string& device, int& error) {
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    if (fd >= 0 && ::ioctl(fd, CDROM_GET_CAPABILITY, 0) < 0) {
        error = ENOTTY;  // a file or device that is no CD-ROM drive
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<CdDrive> open_linux_drive(const std::string& device, MCIERROR& error) {
    int why = 0;
    const int fd = open_device(device, why);
    if (fd < 0) {
        std::fprintf(stderr, "win32: WIN32_CD: %s: %s\n", device.c_str(),
                     why == ENOTTY ? "not a CD-ROM drive" : std::strerror(why));
        error = why == EACCES ? MCIERR_HARDWARE : MCIERR_DEVICE_NOT_INSTALLED;
        return nullptr;
    }
    error = 0;
    return std::make_unique<LinuxDrive>(fd);
}

bool linux_volume(const std::string& device, uint16_t& left, uint16_t& right) {
    int why = 0;
    const int fd = open_device(device, why);
    if (fd < 0) return false;
    cdrom_volctrl volume{};
    const bool ok = ::ioctl(fd, CDROMVOLREAD, &volume) == 0;
    ::close(fd);
    if (!ok) return false;
    left = linux_to_line_volume(volume.channel0);
    right = linux_to_line_volume(volume.channel1);
    return true;
}

bool set_linux_volume(const std::string& device, uint16_t left, uint16_t right) {
    int why = 0;
    const int fd = open_device(device, why);
    if (fd < 0) return false;
    cdrom_volctrl volume{};
    volume.channel0 = line_to_linux_volume(left);
    volume.channel1 = line_to_linux_volume(right);
    volume.channel2 = volume.channel0;
    volume.channel3 = volume.channel1;
    const bool ok = ::ioctl(fd, CDROMVOLCTRL, &volume) == 0;
    ::close(fd);
    return ok;
}

}  // namespace win32::mm
