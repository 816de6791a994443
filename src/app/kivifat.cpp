// The shared module state and the error boxes.
#include "app/kivifat.h"

const char szAppName[] = "KivIFat";

char cDrive[3];
char cFileName[260];
char cString[260];
std::atomic<LONG> Running(ANALYSIS_STOPPED);
HANDLE hMutex;
HWND hWndMain;
BOOL IntroScreen = TRUE;

// A box without an owner window comes to the front, and stays above the
// program's windows, only when asked to: system-modal boxes are topmost.
#ifndef MB_SETFOREGROUND
#define MB_SYSTEMMODAL 0x00001000
#define MB_SETFOREGROUND 0x00010000
#endif

void ErrorHandling(LPCSTR format)
{
    const DWORD error = GetLastError();
    char cMessage[256];
    wsprintfA(cMessage, format, error);
    ErrorBox(cMessage);
}

void ErrorBox(LPCSTR text)
{
    // ReleaseMutex succeeds only for the thread that holds the mutex (once:
    // no thread takes it twice); the last error is the caller's again after.
    const DWORD error = GetLastError();
    const bool gaveUp = hMutex != NULL && ReleaseMutex(hMutex);
    MessageBoxA(NULL, text, szAppName, MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND);
    if (gaveUp)
        WaitForSingleObject(hMutex, INFINITE);
    SetLastError(error);
}
