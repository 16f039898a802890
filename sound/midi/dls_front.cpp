// The DLS front end: binds an engine (a library loaded by name, or the
// built-in one), feeds its output into a double-buffered sample, and keeps
// the list of loaded collections.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/ops.h"
#include "core/records.h"
#include "core/state.h"
#include "digital/sample.h"
#include "midi/dls_collection.h"
#include "midi/dls_compress.h"
#include "win32/kernel.h"

namespace svx::dls {
namespace {

struct FileHandle {
    uint32_t id;
    FileHandle* next;
};

using SonvexOpenFn = int32_t(SVXCALLBACK*)(uintptr_t*, uint32_t, HMDIDRIVER, uint32_t, int32_t,
                                           uint32_t, void*, SVXDLSBUFFERREADY,
                                           SVXDLSBUFFERADDRESS, SVXDLSBUFFERLOAD);
using OpenFn = int32_t(SVXCALLBACK*)(uintptr_t*, HMDIDRIVER);
using CloseFn = int32_t(SVXCALLBACK*)(uintptr_t, uint32_t);
using LoadFileFn = int32_t(SVXCALLBACK*)(uintptr_t, uint32_t, uint32_t*, const char*);
using LoadMemFn = int32_t(SVXCALLBACK*)(uintptr_t, uint32_t, uint32_t*, const void*);
using UnloadFn = int32_t(SVXCALLBACK*)(uintptr_t, uint32_t);
using UnloadAllFn = int32_t(SVXCALLBACK*)(uintptr_t, uint32_t);
using GetInfoFn = int32_t(SVXCALLBACK*)(SVXDLSENGINEINFO*);
using CompactFn = int32_t(SVXCALLBACK*)(uintptr_t);
using SetAttributeFn = int32_t(SVXCALLBACK*)(uintptr_t, int32_t, int32_t);
using GetCpuFn = int32_t(SVXCALLBACK*)(uintptr_t);

struct Device {
    char tag[4];
    SonvexOpenFn sonvex_open;
    OpenFn open;
    CloseFn close;
    LoadFileFn load_file;
    LoadMemFn load_memory;
    UnloadFn unload;
    UnloadAllFn unload_all;
    GetInfoFn get_info;
    CompactFn compact;
    SetAttributeFn set_attribute;
    GetCpuFn get_cpu;
    uintptr_t engine;
    uint32_t format_flags;
    uint32_t buffer_size;
    void* buffers[2];
    HSAMPLE sample;
    HMDIDRIVER midi;
    HDIGDRIVER digital;
    FileHandle* files;
    HMODULE module;
};

Device* device_of(HDLSDEVICE h) { return reinterpret_cast<Device*>(h); }

int32_t SVXCALLBACK buffer_ready(void* user) {
    return ::SVX_sample_buffer_ready(static_cast<Device*>(user)->sample);
}
void* SVXCALLBACK buffer_address(void* user, int32_t n) {
    return n == 0 || n == 1 ? static_cast<Device*>(user)->buffers[n] : nullptr;
}
void SVXCALLBACK buffer_load(void* user, int32_t n, uint32_t bytes) {
    Device* d = static_cast<Device*>(user);
    if (n != 0 && n != 1) return;
    ::SVX_load_sample_buffer(d->sample, n, d->buffers[n], std::min(bytes, d->buffer_size));
}

template <typename F>
F lookup(HMODULE module, const char* name) {
    // Through a pointer of no particular type: the entry point's real one
    // is what the engine library declared.
    using Any = void (*)();
    return reinterpret_cast<F>(reinterpret_cast<Any>(GetProcAddress(module, name)));
}

void free_files(Device* d) {
    while (FileHandle* f = d->files) {
        d->files = f->next;
        delete f;
    }
}

// Everything a device holds, and the device.
void destroy(Device* d) {
    if (d->module) FreeLibrary(d->module);
    if (d->sample) ::SVX_release_sample_handle(d->sample);
    for (void* b : d->buffers)
        if (b) op::SVX_mem_free_lock(b);
    free_files(d);
    free_records(d);
}

HDLSFILEID link_file(Device* d, uint32_t id) {
    auto* f = new (std::nothrow) FileHandle{id, d->files};
    if (!f) {
        op::SVX_set_error("Out of memory.");
        d->unload(d->engine, id);
        return nullptr;
    }
    d->files = f;
    return reinterpret_cast<HDLSFILEID>(f);
}

}  // namespace
}  // namespace svx::dls

namespace svx::op {
using namespace svx::dls;

HDLSDEVICE SVX_DLS_open(HMDIDRIVER midi, HDIGDRIVER digital, const char* library, uint32_t,
                        int32_t rate, int32_t bits, int32_t channels) {
    Device* d = new_records<Device>(1);
    if (!d) return nullptr;
    std::memcpy(d->tag, "HDLS", 4);
    d->midi = midi;
    d->digital = digital;
    if (library) {
        d->module = LoadLibraryA(library);
        if (!d->module) {
            SVX_set_error("Error loading DLS library.");
            destroy(d);
            return nullptr;
        }
        d->sonvex_open = lookup<SonvexOpenFn>(d->module, "DLSSONVEXOpen");
        d->open = lookup<OpenFn>(d->module, "DLSOpen");
        d->close = lookup<CloseFn>(d->module, "DLSClose");
        d->load_file = lookup<LoadFileFn>(d->module, "DLSLoadFile");
        d->load_memory = lookup<LoadMemFn>(d->module, "DLSLoadMemFile");
        d->unload = lookup<UnloadFn>(d->module, "DLSUnloadFile");
        d->unload_all = lookup<UnloadAllFn>(d->module, "DLSUnloadAll");
        d->get_info = lookup<GetInfoFn>(d->module, "DLSGetInfo");
        d->compact = lookup<CompactFn>(d->module, "DLSCompactMemory");
        d->set_attribute = lookup<SetAttributeFn>(d->module, "DLSSetAttribute");
        d->get_cpu = lookup<GetCpuFn>(d->module, "DLSSONVEXGetCPU");
    } else {
        d->sonvex_open = &::DLSSONVEXOpen;
        d->open = &::DLSOpen;
        d->close = &::DLSClose;
        d->load_file = &::DLSLoadFile;
        d->load_memory = &::DLSLoadMemFile;
        d->unload = &::DLSUnloadFile;
        d->unload_all = &::DLSUnloadAll;
        d->get_info = &::DLSGetInfo;
        d->compact = &::DLSCompactMemory;
        d->set_attribute = &::DLSSetAttribute;
        d->get_cpu = &::DLSSONVEXGetCPU;
    }
    // An engine without these cannot be driven at all; calling through a
    // missing one would crash.
    if ((!d->sonvex_open && !d->open) || !d->close || !d->load_file || !d->unload ||
        !d->unload_all) {
        SVX_set_error("DLS library functions not found - probably not a DLS DLL.");
        destroy(d);
        return nullptr;
    }
    if (!d->sonvex_open) {
        if (d->open(&d->engine, midi) != 0) {
            SVX_set_error("DLSOpen call failed.");
            destroy(d);
            return nullptr;
        }
        return reinterpret_cast<HDLSDEVICE>(d);
    }
    if (!midi || !digital) {
        SVX_set_error("Trying to use the SONVEX DLS library with a null driver.");
        destroy(d);
        return nullptr;
    }
    d->format_flags = (channels == 2 ? 2u : 0u) | (bits == 16 ? 1u : 0u);
    const int32_t size = ::SVX_minimum_sample_buffer_size(digital, rate, int32_t(d->format_flags));
    d->buffer_size = size > 0 ? uint32_t(size) : 0;
    d->buffers[0] = d->buffer_size ? SVX_mem_alloc_lock(int32_t(d->buffer_size)) : nullptr;
    d->buffers[1] = d->buffer_size ? SVX_mem_alloc_lock(int32_t(d->buffer_size)) : nullptr;
    if (!d->buffers[0] || !d->buffers[1]) {
        SVX_set_error("Out of memory.");
        destroy(d);
        return nullptr;
    }
    d->sample = ::SVX_allocate_sample_handle(digital);
    if (!d->sample) {
        SVX_set_error("Unable to allocate a sample handle.");
        destroy(d);
        return nullptr;
    }
    ::SVX_init_sample(d->sample);
    ::SVX_set_sample_type(d->sample, int32_t(d->format_flags), bits == 16 ? SVX_FLAG_SIGNED : 0);
    ::SVX_set_sample_playback_rate(d->sample, rate);
    if (d->sonvex_open(&d->engine, 1, midi, d->format_flags, rate, d->buffer_size, d,
                       &buffer_ready, &buffer_address, &buffer_load) != 0) {
        SVX_set_error("DLSSONVEXOpen call failed.");
        destroy(d);
        return nullptr;
    }
    return reinterpret_cast<HDLSDEVICE>(d);
}

void SVX_DLS_close(HDLSDEVICE handle, uint32_t flags) {
    Device* d = device_of(handle);
    if (!d) return;
    d->close(d->engine, flags);
    destroy(d);
}

HDLSFILEID SVX_DLS_load_file(HDLSDEVICE handle, const char* filename, uint32_t flags) {
    Device* d = device_of(handle);
    if (!d) return nullptr;
    uint32_t id = 0;
    if (d->load_file(d->engine, flags, &id, filename) != 0) {
        SVX_set_error("Unable to load DLS file.");
        return nullptr;
    }
    return link_file(d, id);
}

HDLSFILEID SVX_DLS_load_memory(HDLSDEVICE handle, const void* image, uint32_t flags) {
    Device* d = device_of(handle);
    if (!d) return nullptr;
    uint32_t id = 0;
    if (d->load_memory) {
        if (d->load_memory(d->engine, flags, &id, image) != 0) {
            SVX_set_error("Unable to load DLS memory file.");
            return nullptr;
        }
        return link_file(d, id);
    }
    // An engine that reads only files gets the image through a file.
    const size_t known = image ? digital::image_size(image) : 0;
    const auto* p = static_cast<const uint8_t*>(image);
    if (known < 8 || std::memcmp(p, "RIFF", 4) != 0) {
        SVX_set_error("Unable to load DLS memory file.");
        return nullptr;
    }
    const uint64_t riff = uint64_t(p[4] | p[5] << 8 | p[6] << 16 | uint32_t(p[7]) << 24) + 8;
    const uint32_t bytes = uint32_t(std::min<uint64_t>(riff, known));
    char path[MAX_PATH + 16] = {};
    const DWORD n = GetTempPathA(MAX_PATH, path);
    if (n == 0 || n >= MAX_PATH) {
        SVX_set_error("Could not write temporary DLS file.");
        return nullptr;
    }
    std::strcat(path, "temp.dls");
    if (!SVX_file_write(path, image, bytes)) {
        SVX_set_error("Could not write temporary DLS file.");
        return nullptr;
    }
    const int32_t result = d->load_file(d->engine, flags, &id, path);
    DeleteFileA(path);
    if (result != 0) {
        SVX_set_error("Unable to load DLS memory file.");
        return nullptr;
    }
    return link_file(d, id);
}

void SVX_DLS_unload(HDLSDEVICE handle, HDLSFILEID file) {
    Device* d = device_of(handle);
    if (!d) return;
    if (!file || file == SVX_DLS_UNLOAD_ALL_QUIET) {
        d->unload_all(d->engine, file ? 0 : 1);
        free_files(d);
        return;
    }
    for (FileHandle** at = &d->files; *at; at = &(*at)->next) {
        if (reinterpret_cast<HDLSFILEID>(*at) != file) continue;
        FileHandle* f = *at;
        d->unload(d->engine, f->id);
        *at = f->next;
        delete f;
        return;
    }
}

int32_t SVX_DLS_compact(HDLSDEVICE handle) {
    Device* d = device_of(handle);
    return d && d->compact ? d->compact(d->engine) : 0;
}

void SVX_DLS_get_info(HDLSDEVICE handle, SVXDLSINFO* info, int32_t* cpu) {
    Device* d = device_of(handle);
    if (!d) return;
    if (info) {
        *info = SVXDLSINFO{};
        if (d->module) GetModuleFileNameA(d->module, info->name, sizeof info->name);
        else std::strcpy(info->name, "Sonvex DLS Software Synthesizer");
        info->name[sizeof info->name - 1] = 0;
        if (d->get_info) d->get_info(&info->engine);
    }
    if (cpu) *cpu = !d->module && d->get_cpu ? d->get_cpu(d->engine) : 0;
}

int32_t SVX_compress_DLS(const void* image, void** result, uint32_t* result_size) {
    if (result) *result = nullptr;
    if (result_size) *result_size = 0;
    const auto* p = static_cast<const uint8_t*>(image);
    const size_t extent = dls::riff_extent(image);
    if (extent == 0) return 0;
    std::vector<uint8_t> out;
    if (!compress_collection(p, extent, out)) return 0;
    if (out.size() > INT32_MAX) {
        SVX_set_error("Out of memory.");
        return 0;
    }
    void* block = SVX_mem_alloc_lock(int32_t(out.size()));
    if (!block) return 0;
    std::memcpy(block, out.data(), out.size());
    if (result) *result = block;
    else SVX_mem_free_lock(block);
    if (result_size) *result_size = uint32_t(out.size());
    return 1;
}

}  // namespace svx::op
