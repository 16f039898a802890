// DirectSound, as the stand-in's "DSOUND.DLL" offers it: the object and
// buffer interfaces, their structures, flags and results. The two entry
// points are reached through LoadLibraryA("DSOUND.DLL") and GetProcAddress.
#pragma once

#include "win32/types.h"
#include "win32/winmm.h"

// ---- COM basics ---------------------------------------------------------------

#ifndef WIN32_GUID_DEFINED
#define WIN32_GUID_DEFINED
typedef LONG HRESULT;

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;
typedef GUID IID;
typedef const IID& REFIID;
typedef const GUID& REFGUID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define S_OK ((HRESULT)0L)
#define S_FALSE ((HRESULT)1L)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Objects are released through Release, never deleted by their users.
struct IUnknown {
    virtual HRESULT WINAPI QueryInterface(REFIID riid, LPVOID* ppvObj) = 0;
    virtual ULONG WINAPI AddRef() = 0;
    virtual ULONG WINAPI Release() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;
#endif

// ---- Results ------------------------------------------------------------------

#define MAKE_DSHRESULT(code) ((HRESULT)(0x88780000L | (code)))

#define DS_OK S_OK
#define DSERR_ALLOCATED MAKE_DSHRESULT(10)
#define DSERR_CONTROLUNAVAIL MAKE_DSHRESULT(30)
#define DSERR_INVALIDPARAM E_INVALIDARG
#define DSERR_INVALIDCALL MAKE_DSHRESULT(50)
#define DSERR_GENERIC E_FAIL
#define DSERR_PRIOLEVELNEEDED MAKE_DSHRESULT(70)
#define DSERR_OUTOFMEMORY E_OUTOFMEMORY
#define DSERR_BADFORMAT MAKE_DSHRESULT(100)
#define DSERR_UNSUPPORTED E_NOTIMPL
#define DSERR_NODRIVER MAKE_DSHRESULT(120)
#define DSERR_ALREADYINITIALIZED MAKE_DSHRESULT(130)
#define DSERR_NOAGGREGATION CLASS_E_NOAGGREGATION
#define DSERR_BUFFERLOST MAKE_DSHRESULT(150)
#define DSERR_OTHERAPPHASPRIO MAKE_DSHRESULT(160)
#define DSERR_UNINITIALIZED MAKE_DSHRESULT(170)
#define DSERR_NOINTERFACE E_NOINTERFACE
#define DSERR_ACCESSDENIED E_ACCESSDENIED

// ---- Flags and limits ---------------------------------------------------------

#define DSCAPS_PRIMARYMONO 0x00000001
#define DSCAPS_PRIMARYSTEREO 0x00000002
#define DSCAPS_PRIMARY8BIT 0x00000004
#define DSCAPS_PRIMARY16BIT 0x00000008
#define DSCAPS_CONTINUOUSRATE 0x00000010
#define DSCAPS_EMULDRIVER 0x00000020
#define DSCAPS_CERTIFIED 0x00000040
#define DSCAPS_SECONDARYMONO 0x00000100
#define DSCAPS_SECONDARYSTEREO 0x00000200
#define DSCAPS_SECONDARY8BIT 0x00000400
#define DSCAPS_SECONDARY16BIT 0x00000800

#define DSBCAPS_PRIMARYBUFFER 0x00000001
#define DSBCAPS_STATIC 0x00000002
#define DSBCAPS_LOCHARDWARE 0x00000004
#define DSBCAPS_LOCSOFTWARE 0x00000008
#define DSBCAPS_CTRL3D 0x00000010
#define DSBCAPS_CTRLFREQUENCY 0x00000020
#define DSBCAPS_CTRLPAN 0x00000040
#define DSBCAPS_CTRLVOLUME 0x00000080
#define DSBCAPS_CTRLPOSITIONNOTIFY 0x00000100
#define DSBCAPS_CTRLDEFAULT 0x000000E0
#define DSBCAPS_CTRLALL 0x000001F0
#define DSBCAPS_STICKYFOCUS 0x00004000
#define DSBCAPS_GLOBALFOCUS 0x00008000
#define DSBCAPS_GETCURRENTPOSITION2 0x00010000
#define DSBCAPS_MUTE3DATMAXDISTANCE 0x00020000

#define DSBPLAY_LOOPING 0x00000001

#define DSBSTATUS_PLAYING 0x00000001
#define DSBSTATUS_BUFFERLOST 0x00000002
#define DSBSTATUS_LOOPING 0x00000004

#define DSBLOCK_FROMWRITECURSOR 0x00000001
#define DSBLOCK_ENTIREBUFFER 0x00000002

#define DSSCL_NORMAL 0x00000001
#define DSSCL_PRIORITY 0x00000002
#define DSSCL_EXCLUSIVE 0x00000003
#define DSSCL_WRITEPRIMARY 0x00000004

#define DSSPEAKER_HEADPHONE 0x00000001
#define DSSPEAKER_MONO 0x00000002
#define DSSPEAKER_QUAD 0x00000003
#define DSSPEAKER_STEREO 0x00000004
#define DSSPEAKER_SURROUND 0x00000005
#define DSSPEAKER_CONFIG(a) ((BYTE)(a))

#define DSBFREQUENCY_ORIGINAL 0
#define DSBFREQUENCY_MIN 100
#define DSBFREQUENCY_MAX 100000

#define DSBPAN_LEFT -10000
#define DSBPAN_CENTER 0
#define DSBPAN_RIGHT 10000

#define DSBVOLUME_MIN -10000
#define DSBVOLUME_MAX 0

#define DSBSIZE_MIN 4
#define DSBSIZE_MAX 0x0FFFFFFF

// ---- Structures ---------------------------------------------------------------

typedef LONG* LPLONG;

typedef struct _DSCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMinSecondarySampleRate;
    DWORD dwMaxSecondarySampleRate;
    DWORD dwPrimaryBuffers;
    DWORD dwMaxHwMixingAllBuffers;
    DWORD dwMaxHwMixingStaticBuffers;
    DWORD dwMaxHwMixingStreamingBuffers;
    DWORD dwFreeHwMixingAllBuffers;
    DWORD dwFreeHwMixingStaticBuffers;
    DWORD dwFreeHwMixingStreamingBuffers;
    DWORD dwMaxHw3DAllBuffers;
    DWORD dwMaxHw3DStaticBuffers;
    DWORD dwMaxHw3DStreamingBuffers;
    DWORD dwFreeHw3DAllBuffers;
    DWORD dwFreeHw3DStaticBuffers;
    DWORD dwFreeHw3DStreamingBuffers;
    DWORD dwTotalHwMemBytes;
    DWORD dwFreeHwMemBytes;
    DWORD dwMaxContigFreeHwMemBytes;
    DWORD dwUnlockTransferRateHwBuffers;
    DWORD dwPlayCpuOverheadSwBuffers;
    DWORD dwReserved1;
    DWORD dwReserved2;
} DSCAPS, *LPDSCAPS;

typedef struct _DSBCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwUnlockTransferRate;
    DWORD dwPlayCpuOverhead;
} DSBCAPS, *LPDSBCAPS;

// The description of earlier releases, still accepted by its size.
typedef struct _DSBUFFERDESC1 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
} DSBUFFERDESC1, *LPDSBUFFERDESC1;

typedef struct _DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
    GUID guid3DAlgorithm;
} DSBUFFERDESC, *LPDSBUFFERDESC;
typedef const DSBUFFERDESC* LPCDSBUFFERDESC;

// ---- Interfaces ---------------------------------------------------------------

inline constexpr IID IID_IDirectSound = {
    0x279AFA83, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr IID IID_IDirectSoundBuffer = {
    0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};

struct IDirectSound;
struct IDirectSoundBuffer;
typedef IDirectSound* LPDIRECTSOUND;
typedef IDirectSoundBuffer* LPDIRECTSOUNDBUFFER;

struct IDirectSoundBuffer : IUnknown {
    virtual HRESULT WINAPI GetCaps(LPDSBCAPS pDSBufferCaps) = 0;
    virtual HRESULT WINAPI GetCurrentPosition(LPDWORD pdwCurrentPlayCursor,
                                              LPDWORD pdwCurrentWriteCursor) = 0;
    virtual HRESULT WINAPI GetFormat(LPWAVEFORMATEX pwfxFormat, DWORD dwSizeAllocated,
                                     LPDWORD pdwSizeWritten) = 0;
    virtual HRESULT WINAPI GetVolume(LPLONG plVolume) = 0;
    virtual HRESULT WINAPI GetPan(LPLONG plPan) = 0;
    virtual HRESULT WINAPI GetFrequency(LPDWORD pdwFrequency) = 0;
    virtual HRESULT WINAPI GetStatus(LPDWORD pdwStatus) = 0;
    virtual HRESULT WINAPI Initialize(LPDIRECTSOUND pDirectSound,
                                      LPCDSBUFFERDESC pcDSBufferDesc) = 0;
    virtual HRESULT WINAPI Lock(DWORD dwOffset, DWORD dwBytes, LPVOID* ppvAudioPtr1,
                                LPDWORD pdwAudioBytes1, LPVOID* ppvAudioPtr2,
                                LPDWORD pdwAudioBytes2, DWORD dwFlags) = 0;
    virtual HRESULT WINAPI Play(DWORD dwReserved1, DWORD dwPriority, DWORD dwFlags) = 0;
    virtual HRESULT WINAPI SetCurrentPosition(DWORD dwNewPosition) = 0;
    virtual HRESULT WINAPI SetFormat(LPCWAVEFORMATEX pcfxFormat) = 0;
    virtual HRESULT WINAPI SetVolume(LONG lVolume) = 0;
    virtual HRESULT WINAPI SetPan(LONG lPan) = 0;
    virtual HRESULT WINAPI SetFrequency(DWORD dwFrequency) = 0;
    virtual HRESULT WINAPI Stop() = 0;
    virtual HRESULT WINAPI Unlock(LPVOID pvAudioPtr1, DWORD dwAudioBytes1, LPVOID pvAudioPtr2,
                                  DWORD dwAudioBytes2) = 0;
    virtual HRESULT WINAPI Restore() = 0;

protected:
    ~IDirectSoundBuffer() = default;
};

struct IDirectSound : IUnknown {
    virtual HRESULT WINAPI CreateSoundBuffer(LPCDSBUFFERDESC pcDSBufferDesc,
                                             LPDIRECTSOUNDBUFFER* ppDSBuffer,
                                             LPUNKNOWN pUnkOuter) = 0;
    virtual HRESULT WINAPI GetCaps(LPDSCAPS pDSCaps) = 0;
    virtual HRESULT WINAPI DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER pDSBufferOriginal,
                                                LPDIRECTSOUNDBUFFER* ppDSBufferDuplicate) = 0;
    virtual HRESULT WINAPI SetCooperativeLevel(HWND hwnd, DWORD dwLevel) = 0;
    virtual HRESULT WINAPI Compact() = 0;
    virtual HRESULT WINAPI GetSpeakerConfig(LPDWORD pdwSpeakerConfig) = 0;
    virtual HRESULT WINAPI SetSpeakerConfig(DWORD dwSpeakerConfig) = 0;
    virtual HRESULT WINAPI Initialize(LPCGUID pcGuidDevice) = 0;

protected:
    ~IDirectSound() = default;
};

// ---- Entry points, found with GetProcAddress -----------------------------------

typedef BOOL(CALLBACK* LPDSENUMCALLBACKA)(LPGUID lpGuid, LPCSTR lpcstrDescription,
                                          LPCSTR lpcstrModule, LPVOID lpContext);

typedef HRESULT(WINAPI* LPDIRECTSOUNDCREATE)(LPGUID lpGuid, LPDIRECTSOUND* ppDS,
                                             LPUNKNOWN pUnkOuter);
typedef HRESULT(WINAPI* LPDIRECTSOUNDENUMERATEA)(LPDSENUMCALLBACKA lpDSEnumCallback,
                                                 LPVOID lpContext);
