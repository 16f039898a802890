// User part of the Windows stand-in: the display, device contexts of the
// screen and of windows, the cursor and system metrics. Windows and their
// messages join this header with the window system.
#pragma once

#include "win32/gdi.h"
#include "win32/kernel.h"

// Display-mode record (the 124-byte form of the Windows 95/NT 4 era).
typedef struct _devicemodeA {
    BYTE dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    short dmOrientation;
    short dmPaperSize;
    short dmPaperLength;
    short dmPaperWidth;
    short dmScale;
    short dmCopies;
    short dmDefaultSource;
    short dmPrintQuality;
    short dmColor;
    short dmDuplex;
    short dmYResolution;
    short dmTTOption;
    short dmCollate;
    BYTE dmFormName[32];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmDisplayFlags;
    DWORD dmDisplayFrequency;
} DEVMODEA, *LPDEVMODEA;

#define DM_BITSPERPEL 0x00040000u
#define DM_PELSWIDTH 0x00080000u
#define DM_PELSHEIGHT 0x00100000u
#define DM_DISPLAYFREQUENCY 0x00400000u

#define CDS_UPDATEREGISTRY 0x00000001u
#define CDS_TEST 0x00000002u
#define CDS_FULLSCREEN 0x00000004u

#define DISP_CHANGE_SUCCESSFUL 0
#define DISP_CHANGE_RESTART 1
#define DISP_CHANGE_FAILED (-1)
#define DISP_CHANGE_BADMODE (-2)

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXCURSOR 13
#define SM_CYCURSOR 14
#define SM_MOUSEPRESENT 19

extern "C" {

// The screen's DC for a null window.
HDC WINAPI GetDC(HWND hWnd);
int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
LONG WINAPI ChangeDisplaySettingsA(LPDEVMODEA lpDevMode, DWORD dwFlags);
int WINAPI ShowCursor(BOOL bShow);
int WINAPI GetSystemMetrics(int nIndex);

}  // extern "C"
