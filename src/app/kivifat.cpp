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

void ErrorHandling(LPCSTR format)
{
    const DWORD error = GetLastError();
    char cMessage[256];
    wsprintfA(cMessage, format, error);
    MessageBoxA(NULL, cMessage, szAppName, MB_OK);
}

void ErrorBox(LPCSTR text)
{
    MessageBoxA(NULL, text, szAppName, MB_OK);
}
