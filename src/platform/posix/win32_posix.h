// The Win32 kernel subset that the engine and the volume services call, for
// hosts that are not Windows. Only what the program uses is declared, with the
// types, constants, error codes and semantics that Windows gives them.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define NTAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef unsigned char BYTE, UCHAR;
typedef uint16_t WORD, USHORT;
typedef uint32_t DWORD, ULONG, *LPDWORD, *PULONG;
typedef int32_t LONG, NTSTATUS;   // 32 bits, as on Windows
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void VOID, *PVOID, *LPVOID;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR, WPARAM;
typedef intptr_t LPARAM, LRESULT;

typedef void *HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef struct HWND__ *HWND;
typedef struct HDC__ *HDC;
typedef struct SECURITY_ATTRIBUTES_ *LPSECURITY_ATTRIBUTES;

typedef union _LARGE_INTEGER {
    struct { DWORD LowPart; LONG HighPart; } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _IO_STATUS_BLOCK {
    union { NTSTATUS Status; PVOID Pointer; };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef VOID (*PIO_APC_ROUTINE)(PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, ULONG Reserved);
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID lpParameter);

typedef struct tagPOINT { LONG x, y; } POINT;
typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INFINITE 0xFFFFFFFFu

#define LOWORD(l) ((WORD)((ULONG_PTR)(l) & 0xFFFF))
#define HIWORD(l) ((WORD)(((ULONG_PTR)(l) >> 16) & 0xFFFF))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)((WORD)(l) | ((DWORD)(WORD)(h) << 16)))

// Error codes (GetLastError).
#define NO_ERROR 0
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_CRC 23
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISCARDED 157
#define ERROR_NOT_LOCKED 158
#define ERROR_ALREADY_EXISTS 183
#define ERROR_NOT_OWNER 288
#define ERROR_INVALID_WINDOW_HANDLE 1400

// Memory blocks.
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LMEM_DISCARDABLE 0x0F00

// Files and devices.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_NO_BUFFERING 0x20000000
#define DDD_RAW_TARGET_PATH 0x00000001
#define DDD_REMOVE_DEFINITION 0x00000002
#define INVALID_FILE_SIZE 0xFFFFFFFFu

#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_END_OF_FILE ((NTSTATUS)0xC0000011)
#define STATUS_DEVICE_DATA_ERROR ((NTSTATUS)0xC000009C)

// Waits.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// Messages and message boxes.
#define WM_QUIT 0x0012
#define WM_COMMAND 0x0111
#define WM_USER 0x0400
#define MB_OK 0x00000000
#define MB_ICONSTOP 0x00000010
#define IDOK 1
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

// Memory blocks: movable blocks with a lock count. A movable block of 0 bytes
// can be allocated but not locked (ERROR_DISCARDED). GlobalUnlock returns FALSE
// with last error 0 when the count reaches 0. GlobalFree frees locked blocks too.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);
SIZE_T GlobalSize(HGLOBAL hMem);
// Local blocks are global blocks under other names, as on Win32: the handles
// are interchangeable and the GlobalAlloc and GlobalLock faults count them
// too. LMEM_DISCARDABLE is accepted and ignored (nothing is ever discarded).
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
LPVOID LocalLock(HLOCAL hMem);
BOOL LocalUnlock(HLOCAL hMem);
HLOCAL LocalFree(HLOCAL hMem);

// Files, raw volumes ("\\.\X:" after DefineDosDeviceA) and any handle.
// Raw volumes are always opened read-only at the operating-system level.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void *lpOverlapped);
// The low 32 bits of a file's size (the high ones into *lpFileSizeHigh when
// given); INVALID_FILE_SIZE with the last error on failure, and with last
// error NO_ERROR when that is really the low part of the size.
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL CloseHandle(HANDLE hObject);
BOOL DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath);
NTSTATUS NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                    PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length,
                    PLARGE_INTEGER ByteOffset, PULONG Key);
// See win32.h: posix_fadvise(POSIX_FADV_WILLNEED) on the file's range, once a
// read of the file has had to wait for the device (before that, the file is
// taken to be all in the page cache).
void PrefetchRange(HANDLE file, ULONGLONG offset, ULONG length);

// Threads, the named recursive mutex and waits (on mutexes and on threads).
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL ReleaseMutex(HANDLE hMutex);
VOID Sleep(DWORD dwMilliseconds);
DWORD GetLastError(void);
VOID SetLastError(DWORD dwErrCode);

// The user-interface subset: message boxes go to standard error (or to a
// test's capture hook); posted messages go to one process-wide queue.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
HDC GetDC(HWND hWnd);
int ReleaseDC(HWND hWnd, HDC hDC);

// Formatting as Windows does it: %ld and %lu take 32-bit values; output is
// limited to 1024 characters.
int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
