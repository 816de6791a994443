// The one header through which the engine and the volume services reach the
// operating system: <windows.h> on Windows, our own Win32 kernel subset on
// other hosts (src/platform/posix/).
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winternl.h>

// MinGW's winternl.h leaves out the positioned read that the engine uses.
extern "C" NTSTATUS NTAPI NtReadFile(HANDLE FileHandle, HANDLE Event,
                                     PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                     PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                                     ULONG Length, PLARGE_INTEGER ByteOffset, PULONG Key);
#else
#include "posix/win32_posix.h"
#endif

// Our one addition to the Win32 names: starts reading `length` bytes at
// `offset` of the open file or volume `file` in the background, so that a
// later read of them need not wait. A hint; it reports nothing. Windows reads
// raw volumes unbuffered, so there it does nothing.
#ifdef _WIN32
inline void PrefetchRange(HANDLE, ULONGLONG, ULONG) {}
#endif

#ifndef STATUS_END_OF_FILE
#define STATUS_END_OF_FILE ((NTSTATUS)0xC0000011L)
#endif
#ifndef STATUS_INVALID_PARAMETER
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#endif
