// Test-only controls of the host layer: fault injection. Nothing in the
// program includes this header; only tests do.
#pragma once

#include "host.h"

// Clears every pending fault. The message-box hook stays as it is.
void FaultReset(void);

// The n-th GlobalAlloc from now (1 = the next one) returns NULL with the given last error.
void FaultFailAllocation(unsigned n, DWORD error = ERROR_NOT_ENOUGH_MEMORY);

// The n-th GlobalLock from now (1 = the next one) returns NULL with the given last error.
void FaultFailLock(unsigned n, DWORD error = ERROR_INVALID_HANDLE);

// Every NtReadFile whose range meets the bytes [offset, offset + length) of any
// raw volume returns the given status and reads nothing.
void FaultReadStatus(ULONGLONG offset, ULONGLONG length, NTSTATUS status);

// The n-th mutex wait from now (1 = the next one) returns WAIT_TIMEOUT at once,
// with last error 0, without taking the mutex.
void FaultMutexTimeout(unsigned n);

// The n-th PostMessageA from now fails with ERROR_INVALID_WINDOW_HANDLE.
void FaultFailPost(unsigned n);
