// Whole-file helpers (size, read, write, the last file error) and the
// rules that tell what kind of sound data an image holds.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/ops.h"
#include "digital/sample.h"
#include "services/chunks.h"
#include "win32/kernel.h"

namespace svx::services {
namespace {

std::atomic<int32_t> file_error{0};

enum FileError : int32_t {
    no_error = 0,
    out_of_memory = 2,
    cannot_open = 3,
    cannot_create = 4,
    cannot_read = 5,
    cannot_write = 6,
};

void fail(FileError code) {
    static constexpr const char* texts[] = {
        "", "", "Out of memory.", "Unable to open file.", "Unable to create file.",
        "Unable to read file.", "Unable to write to file (disk full?)."};
    file_error = code;
    ::SVX_set_error(texts[code]);
}

// Opens a file to read; null (error 3 recorded) when it cannot be.
HANDLE open_to_read(const char* name, DWORD hints) {
    HANDLE file = name ? CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | hints, nullptr)
                       : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        fail(cannot_open);
        return nullptr;
    }
    return file;
}

// The file's size when a block of it (and `extra` bytes) can be asked for.
bool readable_size(HANDLE file, size_t extra, DWORD& size) {
    DWORD high = 0;
    size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE) {
        fail(cannot_read);
        return false;
    }
    if (high != 0 || uint64_t(size) + extra > INT32_MAX) {
        fail(out_of_memory);
        return false;
    }
    return true;
}

}  // namespace

// The type codes of SVX_file_type.
enum FileType : int32_t {
    type_unknown = 0,
    type_wav_pcm = 1,
    type_wav_adpcm = 2,
    type_wav_other = 3,
    type_voc = 4,
    type_midi = 5,
    type_xmidi = 6,
    type_xmidi_dls = 7,
    type_xmidi_mls = 8,
    type_dls = 9,
    type_mls = 10,
};

int32_t detect_type(const uint8_t* bytes, size_t size) {
    if (!bytes || size <= 7) return type_unknown;
    const Image image{bytes, size};
    SoundFileInfo info{};
    if (digital::parse_wav(bytes, size, info))
        return info.format_tag == 1 ? type_wav_pcm : info.format_tag == 17 ? type_wav_adpcm : type_wav_other;
    if (same_tag(bytes, "Creative", 8)) return type_voc;
    // A form's type is in bytes 8 to 11.
    const bool form = image.has(0, 12) && same_tag(bytes, "FORM");
    if (form && same_tag(bytes + 8, "XDIR")) {
        const size_t xdls = find_top_chunk(image, "XDLS");
        if (xdls == SIZE_MAX || !image.has(xdls + 20, 4)) return type_xmidi;
        const uint8_t* type = bytes + xdls + 20;
        return same_id(type, "DLS ") ? type_xmidi_dls : same_id(type, "MLS ") ? type_xmidi_mls : type_xmidi;
    }
    // A single sequence without a directory is XMIDI as well.
    if (form && same_tag(bytes + 8, "XMID")) return type_xmidi;
    if (const uint8_t* type = riff_type(image)) {
        if (same_id(type, "DLS ")) return type_dls;
        if (same_id(type, "MLS ")) return type_mls;
    }
    for (size_t at = 0; at + 4 <= size; ++at)
        if (same_tag(bytes + at, "MThd")) return type_midi;
    return type_unknown;
}

}  // namespace svx::services

namespace svx::op {
using namespace svx::services;

int32_t SVX_file_error() { return file_error; }

int32_t SVX_file_size(const char* name) {
    file_error = no_error;
    HANDLE file = open_to_read(name, 0);
    if (!file) return -1;
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    CloseHandle(file);
    if (size == INVALID_FILE_SIZE || high != 0 || size > INT32_MAX) {
        fail(cannot_read);
        return -1;
    }
    return int32_t(size);
}

void* SVX_file_read(const char* name, void* destination) {
    file_error = no_error;
    HANDLE file = open_to_read(name, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file) return nullptr;
    const bool size_first = destination == reinterpret_cast<void*>(~uintptr_t(0));
    DWORD size = 0;
    if (!readable_size(file, size_first ? 4 : 0, size)) {
        CloseHandle(file);
        return nullptr;
    }
    uint8_t* block = nullptr;
    uint8_t* into = static_cast<uint8_t*>(destination);
    if (!destination || size_first) {
        block = static_cast<uint8_t*>(::SVX_mem_alloc_lock(int32_t(size + (size_first ? 4 : 0))));
        if (!block) {
            CloseHandle(file);
            fail(out_of_memory);
            return nullptr;
        }
        into = block;
        if (size_first) {
            put_le32(block, size);
            into += 4;
        }
    }
    DWORD got = 0;
    const BOOL ok = size == 0 || ReadFile(file, into, size, &got, nullptr);
    CloseHandle(file);
    if (size != 0 && (!ok || got != size)) {
        if (block) ::SVX_mem_free_lock(block);
        fail(cannot_read);
        return nullptr;
    }
    return block ? block : destination;
}

int32_t SVX_file_write(const char* name, const void* data, uint32_t bytes) {
    file_error = no_error;
    HANDLE file = name ? CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        fail(cannot_create);
        return 0;
    }
    DWORD written = 0;
    const BOOL ok = bytes == 0 || (data && WriteFile(file, data, bytes, &written, nullptr));
    CloseHandle(file);
    if (bytes != 0 && (!ok || written != bytes)) {
        fail(cannot_write);
        return 0;
    }
    return 1;
}

int32_t SVX_file_type(const void* image, uint32_t size) {
    return detect_type(static_cast<const uint8_t*>(image), size);
}

}  // namespace svx::op
