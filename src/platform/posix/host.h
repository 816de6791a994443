// Host-only additions to the Win32 subset for programs that run without a
// window: where message boxes go.
#pragma once

#include "win32_posix.h"

// Routes MessageBoxA to the hook instead of standard error; NULL restores it.
typedef void (*MESSAGEBOXHOOK)(const char *caption, const char *text);
void SetMessageBoxHook(MESSAGEBOXHOOK hook);
