// SPDX-License-Identifier: MIT
// The Windows services the player calls: dialogs and controls, window messages, the wave output
// device, the module's file name and wsprintfA. On Windows this is the system's own headers; on
// other systems it declares the same subset, implemented by this folder's stand-in, so that the
// player's code builds and runs unchanged there.
//
// The stand-in keeps the semantics the player relies on: one thread; posted messages handled one
// at a time in the order posted, inside the modal loop of DialogBoxParamA; messages for a window
// that is gone are dropped; the wave device reports every finished buffer only by posting
// MM_WOM_DONE to the window named at open, also for the buffers waveOutReset hands back, whose
// notifications arrive after the reset has returned.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#else
#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned int UINT;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uintptr_t UINT_PTR, WPARAM, DWORD_PTR;
typedef intptr_t INT_PTR, LONG_PTR, LPARAM, LRESULT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef struct Window* HWND;
typedef struct Module* HINSTANCE;
typedef struct Image* HBITMAP;
typedef struct WaveOut* HWAVEOUT;
typedef HWAVEOUT* LPHWAVEOUT;
typedef UINT MMRESULT;
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xFFFF))
#define HIWORD(l) ((WORD)(((DWORD_PTR)(l) >> 16) & 0xFFFF))
#define MAKEWPARAM(low, high) ((WPARAM)(DWORD)(((WORD)(low)) | ((DWORD)(WORD)(high) << 16)))
#define MAKEINTRESOURCEA(i) ((LPSTR)(UINT_PTR)(WORD)(i))

// Messages
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define BM_GETIMAGE 0x00F6
#define BM_SETIMAGE 0x00F7
#define MM_WOM_OPEN 0x03BB
#define MM_WOM_CLOSE 0x03BC
#define MM_WOM_DONE 0x03BD
#define BN_CLICKED 0

#define IDOK 1
#define IDCANCEL 2

// Styles
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_CENTER 0x0800L
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_TYPEMASK 0xFL
#define BS_BITMAP 0x80L
#define SS_LEFT 0x0L
#define GWL_STYLE (-16)

#define IMAGE_BITMAP 0
#define LR_LOADMAP3DCOLORS 0x1000

#define MB_OK 0x0L
#define MB_ICONINFORMATION 0x40L

#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B

// Wave output
#define WAVE_FORMAT_PCM 1
#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_QUERY 0x0001
#define CALLBACK_WINDOW 0x00010000L
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34
#define WHDR_DONE 0x01
#define WHDR_PREPARED 0x02
#define WHDR_INQUEUE 0x10

typedef struct wavehdr_tag {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  struct wavehdr_tag* lpNext;  // the device's own link while queued
  DWORD_PTR reserved;
} WAVEHDR, *LPWAVEHDR;

typedef struct {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
} WAVEFORMATEX;
typedef const WAVEFORMATEX* LPCWAVEFORMATEX;

// USER32
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
HWND SetFocus(HWND window);
HWND GetFocus(void);
BOOL SetWindowTextA(HWND window, LPCSTR text);
int GetWindowTextA(HWND window, LPSTR text, int size);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int wsprintfA(LPSTR out, LPCSTR format, ...);

// KERNEL32
DWORD GetModuleFileNameA(HINSTANCE module, LPSTR path, DWORD size);

// WINMM
UINT waveOutGetNumDevs(void);
MMRESULT waveOutOpen(LPHWAVEOUT device, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, LPWAVEHDR header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
#endif
