// Modules: built-in modules of the stand-in first, then shared objects
// loaded from the mapped path.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <climits>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "win32/kernel.h"
#include "win32/kernel_ext.h"

namespace {

struct Module {
    std::string path;  // host path ("" for built-ins)
    void* dl = nullptr;
    const win32::BuiltinModule* builtin = nullptr;
    int refs = 0;
    bool owned = true;  // false for modules found by address: never unloaded
};

struct Registry {
    std::mutex mutex;
    std::list<win32::BuiltinModule> builtins;
    std::list<std::unique_ptr<Module>> modules;

    Module* find(HMODULE handle) {
        for (auto& m : modules)
            if (reinterpret_cast<HMODULE>(m.get()) == handle) return m.get();
        return nullptr;
    }
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

std::atomic<UINT> error_mode{0};

std::string upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The file-name part of a module name, upper-cased, with ".DLL" added when
// it has no extension (as LoadLibrary does).
std::string module_file_name(const char* name) {
    std::string text(name);
    size_t cut = text.find_last_of("\\/:");
    if (cut != std::string::npos) text.erase(0, cut + 1);
    if (text.find('.') == std::string::npos) text += ".DLL";
    return upper(text);
}

HMODULE as_handle(Module* m) { return reinterpret_cast<HMODULE>(m); }

DWORD copy_path(const std::string& text, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() >= size) {
        std::memcpy(buffer, text.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return DWORD(text.size());
}

}  // namespace

void win32::register_builtin_module(BuiltinModule module) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    module.name = upper(module.name);
    // Replaced in place: loaded modules point at their entry.
    for (auto& b : r.builtins)
        if (b.name == module.name) {
            b = std::move(module);
            return;
        }
    r.builtins.push_back(std::move(module));
}

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        auto& r = registry();
        const std::string file = module_file_name(lpLibFileName);
        std::unique_lock lock(r.mutex);
        for (auto& b : r.builtins) {
            if (b.name != file) continue;
            auto load = b.load;
            lock.unlock();  // the module's own start-up may call back in
            bool ok = !load || load();
            lock.lock();
            if (!ok) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return nullptr;
            }
            for (auto& m : r.modules)
                if (m->builtin == &b) {
                    ++m->refs;
                    return as_handle(m.get());
                }
            auto m = std::make_unique<Module>();
            m->builtin = &b;
            m->refs = 1;
            r.modules.push_back(std::move(m));
            return as_handle(r.modules.back().get());
        }
        lock.unlock();

        std::string host = win32::host_path(lpLibFileName);
        // Windows looks beside the program and in the current folder first;
        // dlopen would search only the library path for a bare name.
        if (host.find('/') == std::string::npos && access(host.c_str(), F_OK) == 0)
            host = "./" + host;
        void* dl = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!dl) {
            SetLastError(access(host.c_str(), F_OK) == 0 ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        lock.lock();
        for (auto& m : r.modules)
            if (m->dl == dl) {
                ++m->refs;
                dlclose(dl);  // our record already holds one reference
                return as_handle(m.get());
            }
        auto m = std::make_unique<Module>();
        char resolved[PATH_MAX];
        m->path = realpath(host.c_str(), resolved) ? resolved : host;
        m->dl = dl;
        m->refs = 1;
        r.modules.push_back(std::move(m));
        return as_handle(r.modules.back().get());
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    // Names below 0x10000 are ordinals, which no module here exports.
    if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    Module* m = r.find(hModule);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    FARPROC proc = nullptr;
    if (m->builtin) {
        auto lookup = m->builtin->lookup;
        lock.unlock();
        if (lookup) proc = lookup(lpProcName);
    } else if (m->dl) {
        proc = reinterpret_cast<FARPROC>(dlsym(m->dl, lpProcName));
    }
    if (!proc) SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    Module* m = r.find(hLibModule);
    if (!m) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!m->owned || --m->refs > 0) return TRUE;
    if (m->dl) dlclose(m->dl);
    r.modules.remove_if([&](const std::unique_ptr<Module>& p) { return p.get() == m; });
    return TRUE;
}

UINT WINAPI SetErrorMode(UINT uMode) { return error_mode.exchange(uMode); }

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    if (!phModule) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    if (!lpModuleName) return TRUE;  // the program itself: the null module
    if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
        const std::string file = module_file_name(lpModuleName);
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        for (auto& m : r.modules) {
            std::string name = m->builtin ? m->builtin->name : module_file_name(m->path.c_str());
            if (name == file) {
                *phModule = as_handle(m.get());
                return TRUE;
            }
        }
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    Dl_info info{};
    if (!dladdr(lpModuleName, &info) || !info.dli_fname) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    char resolved[PATH_MAX];
    std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& m : r.modules)
        if (!m->builtin && m->path == path) {
            *phModule = as_handle(m.get());
            return TRUE;
        }
    auto m = std::make_unique<Module>();
    m->path = path;
    m->owned = false;
    r.modules.push_back(std::move(m));
    *phModule = as_handle(r.modules.back().get());
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!hModule) {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n < 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        path.assign(exe, size_t(n));
    } else {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        Module* m = r.find(hModule);
        if (!m) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        path = m->builtin ? win32::windows_folder() + "\\SYSTEM\\" + m->builtin->name : m->path;
        if (m->builtin) return copy_path(path, lpFilename, nSize);
    }
    return copy_path(win32::windows_path_of(path), lpFilename, nSize);
}

}  // extern "C"
