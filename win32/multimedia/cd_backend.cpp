// WIN32_CD and WIN32_CD_VOLUME: which drive MCI opens, and which volume
// devices reach its line.
#include <string>

#include "backend_config.h"
#include "cd_drive.h"
#include "win32/kernel_ext.h"

namespace win32::mm {

namespace {

struct CdConfig {
    enum Kind { none, virtual_disc, linux_drive } kind = none;
    std::string arg;  // host path of the folder or the device
};

CdConfig read_config() {
    BackendChoice choice = read_backend_choice("WIN32_CD", "none");
    CdConfig config;
    if (choice.kind == "none" && !choice.has_arg) return config;
    if (choice.kind == "virtual" && !choice.arg.empty()) {
        config.kind = CdConfig::virtual_disc;
        config.arg = win32::host_path(choice.arg.c_str());
    } else if (choice.kind == "linux" && !choice.arg.empty()) {
        config.kind = CdConfig::linux_drive;
        config.arg = choice.arg;
    } else {
        warn_unreadable("WIN32_CD", "none, virtual:DIR or linux:/dev/srN");
    }
    return config;
}

struct VolumeConfig {
    bool mixer = true;
    bool aux = true;
};

VolumeConfig read_volume_config() {
    BackendChoice choice = read_backend_choice("WIN32_CD_VOLUME", "mixer,aux");
    std::string text = choice.kind;
    VolumeConfig config{false, false};
    if (text == "none" && !choice.has_arg) return config;
    if (!choice.has_arg) {
        bool ok = true;
        size_t start = 0;
        while (ok && start <= text.size()) {
            size_t end = text.find(',', start);
            if (end == std::string::npos) end = text.size();
            const std::string item = text.substr(start, end - start);
            if (item == "mixer") {
                config.mixer = true;
            } else if (item == "aux") {
                config.aux = true;
            } else {
                ok = false;
            }
            start = end + 1;
        }
        if (ok) return config;
    }
    warn_unreadable("WIN32_CD_VOLUME", "mixer, aux, mixer,aux or none");
    return VolumeConfig{};
}

}  // namespace

std::unique_ptr<CdDrive> open_cd_drive(MCIERROR& error) {
    const CdConfig config = read_config();
    switch (config.kind) {
        case CdConfig::virtual_disc:
            return open_virtual_drive(config.arg, error);
        case CdConfig::linux_drive:
            return open_linux_drive(config.arg, error);
        case CdConfig::none:
            break;
    }
    error = MCIERR_DEVICE_NOT_INSTALLED;
    return nullptr;
}

bool cd_has_mixer_line() { return read_config().kind != CdConfig::none && read_volume_config().mixer; }
bool cd_has_aux_device() { return read_config().kind != CdConfig::none && read_volume_config().aux; }

bool cd_volume(uint16_t& left, uint16_t& right) {
    const CdConfig config = read_config();
    switch (config.kind) {
        case CdConfig::virtual_disc:
            virtual_volume(left, right);
            return true;
        case CdConfig::linux_drive:
            return linux_volume(config.arg, left, right);
        case CdConfig::none:
            break;
    }
    return false;
}

bool set_cd_volume(uint16_t left, uint16_t right) {
    const CdConfig config = read_config();
    switch (config.kind) {
        case CdConfig::virtual_disc:
            set_virtual_volume(left, right);
            return true;
        case CdConfig::linux_drive:
            return set_linux_volume(config.arg, left, right);
        case CdConfig::none:
            break;
    }
    return false;
}

}  // namespace win32::mm
