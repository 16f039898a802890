// Seams of the kernel part for the other parts of the stand-in (multimedia,
// gui) and for tests. Not Windows API: code above win32/ does not use it.
#pragma once

#include <functional>
#include <string>

#include "win32/kernel.h"

namespace win32 {

// ---- Paths ---------------------------------------------------------------
// Host path for a Windows path: '\' becomes '/', "C:\" maps under
// WIN32_ROOT, a leading '/' is a host path, and a component that does not
// exist with its exact case is matched case-insensitively.
std::string host_path(const char* windows_path);
// Root of drive C: on the host (WIN32_ROOT or its default).
std::string drive_root();
// The Windows folder as Windows code sees it ("C:\WINDOWS" unless windir).
std::string windows_folder();
// Windows form of a host path: under the drive root it becomes "C:\..."
// with backslashes; anything else is returned unchanged.
std::string windows_path_of(const std::string& host);

// ---- Modules -------------------------------------------------------------
// A module the stand-in provides itself ("DSOUND.DLL"). `load` is asked on
// every LoadLibraryA and may refuse (returns false); `lookup` resolves
// exported names.
struct BuiltinModule {
    std::string name;  // file name, matched case-insensitively
    std::function<bool()> load;
    std::function<FARPROC(const char*)> lookup;
};
void register_builtin_module(BuiltinModule module);

// ---- Message queue -------------------------------------------------------
// The window system puts windows on the kernel's queue through these.
// Dispatch of a message addressed to a window.
using WindowDispatcher = std::function<LRESULT(const MSG&)>;
void set_window_dispatcher(WindowDispatcher dispatcher);
// Called with every message GetMessageA/PeekMessageA(PM_REMOVE) returns,
// before the caller sees it (the get-message hook lives here).
using GetMessageHook = std::function<void(MSG&)>;
void set_get_message_hook(GetMessageHook hook);
// Called when a thread's queue has nothing to deliver; may produce a
// message (input, paint) for the calling thread. Returns true if it did.
using IdleSource = std::function<bool(MSG&)>;
void set_idle_source(IdleSource source);
// Wakes a thread blocked in GetMessageA so that it polls its sources again.
void wake_thread(DWORD thread_id);

// ---- Settings ------------------------------------------------------------
// Tells on standard error, once per process and variable, that a WIN32_*
// variable's value cannot be read (and so is not used), and the forms it
// takes.
void warn_bad_setting(const char* variable, const char* value, const char* accepted);

// ---- Message box ---------------------------------------------------------
using MessageBoxHandler = std::function<int(HWND, const char*, const char*, UINT)>;
void set_message_box_handler(MessageBoxHandler handler);
// The answer a box gives when nobody presses a button: its default button.
int default_message_box_answer(UINT type);

}  // namespace win32
