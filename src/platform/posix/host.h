// Host-only additions to the Win32 subset for programs that run without a
// window: where message boxes go, and drive letters that open a byte range of
// a file the program has open (a partition inside a disk image).
#pragma once

#include "win32_posix.h"

// Routes MessageBoxA to the hook instead of standard error; NULL restores it.
typedef void (*MESSAGEBOXHOOK)(const char *caption, const char *text);
void SetMessageBoxHook(MESSAGEBOXHOOK hook);

// Maps drive `letter` ("\\.\X:") to `length` bytes from byte `offset` of the
// file or device the program has open as descriptor `fd`, replacing any
// mapping of the letter. The drive keeps a duplicate of the descriptor, and
// each open of the drive gets another duplicate instead of opening the file
// again, so one open(2) serves the program and every handle on the drive; the
// caller may close `fd` at once. Through a handle opened on the drive,
// NtReadFile and ReadFile see byte 0 of the range as byte 0 and its end as the
// end of the file; GetFileSize reports the bytes of the range that the file
// holds. A length of ~0 reaches to the file's end, as
// DefineDosDeviceA(DDD_RAW_TARGET_PATH) does. False with
// ERROR_INVALID_PARAMETER for a letter that is not A-Z, a negative `fd` or a
// range past 2^64, or with the system's error when `fd` cannot be duplicated.
BOOL MapDriveToFile(char letter, int fd, ULONGLONG offset, ULONGLONG length);
