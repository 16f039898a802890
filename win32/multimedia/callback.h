// How an open waveOut or midiOut device tells its owner about open, done
// and close: a function, called on the device's thread.
#pragma once

#include "win32/winmm.h"

namespace win32::mm {

struct Callback {
    DWORD kind = CALLBACK_NULL;
    DWORD_PTR target = 0;
    DWORD_PTR instance = 0;

    bool any() const { return kind != CALLBACK_NULL; }

    template <typename Handle>
    void deliver(Handle handle, UINT message, DWORD_PTR param) const {
        using Function = void(CALLBACK*)(Handle, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
        if (kind == CALLBACK_FUNCTION) {
            reinterpret_cast<Function>(target)(handle, message, instance, param, 0);
        }
    }
};

// The callback kind of open flags. Windows, threads and events are not
// used by anything above us.
inline MMRESULT read_callback(DWORD open_flags, DWORD_PTR target, DWORD_PTR instance,
                              Callback& callback) {
    callback.kind = open_flags & CALLBACK_TYPEMASK;
    callback.target = target;
    callback.instance = instance;
    switch (callback.kind) {
        case CALLBACK_NULL:
            return MMSYSERR_NOERROR;
        case CALLBACK_FUNCTION:
            return target ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
        case CALLBACK_WINDOW:
        case CALLBACK_THREAD:
        case CALLBACK_EVENT:
            return MMSYSERR_NOTSUPPORTED;
        default:
            return MMSYSERR_INVALFLAG;
    }
}

}  // namespace win32::mm
