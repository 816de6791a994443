// Module state shared by every subsystem (the selected drive, the file being
// examined, the UI thread's formatting buffer, the analysis state, the mutex
// and the main window) and the error boxes that every subsystem shows.
// Includes nothing but win32.h, so that the engine may use it.
#pragma once

#include <atomic>

#include "platform/win32.h"

// Analysis states held in Running.
#define ANALYSIS_RUNNING 10
#define ANALYSIS_PAUSED 20
#define ANALYSIS_STOPPED 30

extern const char szAppName[];   // "KivIFat": menu name and message-box caption

extern char cDrive[3];           // selected drive: letter, colon, terminator
extern char cFileName[260];      // file being examined, or the completion line
extern char cString[260];        // the UI thread's formatting buffer
// Written by the UI thread, polled by the scan thread without the mutex.
extern std::atomic<LONG> Running;
extern HANDLE hMutex;            // MutexForCommonData
extern HWND hWndMain;
extern BOOL IntroScreen;

// How long a thread waits for MutexForCommonData before it gives up (ms).
#define MUTEX_WAIT 30000

// Shows `format` with the last system error code in place of its one %ld, in a
// box captioned KivIFat with no owner; returns when the user has closed it.
// Safe on any thread: it formats into a buffer of its own call.
void ErrorHandling(LPCSTR format);

// Shows a message without an error code in the same kind of box. The box
// comes to the foreground above every window. A thread that holds
// MutexForCommonData (the scan thread) gives it up while its box is open and
// takes it back after, so that the window never waits on a box the user has
// not answered yet.
void ErrorBox(LPCSTR text);

// Posted by the scan thread to the main window when an analysis has ended.
#define KIV_END 1309
