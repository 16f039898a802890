// The built-in module "USER32.DLL", so that code which may not link the
// window system (the sound library looks for the program's window) can
// still reach the few window calls it asks for by name.
#include <cstring>

#include "win32/kernel_ext.h"
#include "win32/user.h"

namespace {

struct Export {
    const char* name;
    void (*entry)();
};

template <typename F>
void (*any(F f))() {
    return reinterpret_cast<void (*)()>(f);
}

const Export exports[] = {
    {"GetActiveWindow", any(&GetActiveWindow)},
    {"GetTopWindow", any(&GetTopWindow)},
    {"GetWindow", any(&GetWindow)},
    {"GetWindowThreadProcessId", any(&GetWindowThreadProcessId)},
    {"IsWindow", any(&IsWindow)},
};

struct Registrar {
    Registrar() {
        win32::register_builtin_module(win32::BuiltinModule{
            "USER32.DLL",
            [] { return true; },
            [](const char* name) -> FARPROC {
                for (const Export& e : exports)
                    if (name && std::strcmp(name, e.name) == 0) return reinterpret_cast<FARPROC>(e.entry);
                return nullptr;
            },
        });
    }
} registrar;

}  // namespace
