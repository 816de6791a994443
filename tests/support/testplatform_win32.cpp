// Windows side of the test platform (MinGW build, run under Wine): message
// boxes captured, a drive letter mapped to an image file, message-only windows.
#include "support/testplatform.h"
#include "support/winemount.h"

// Code built against <windows.h> calls MessageBoxA through the import pointer
// __imp_MessageBoxA. Defined here, in an object every test program links, it
// is found before user32's import library: every call lands in the recorder.
extern "C" {
int WINAPI TestMessageBoxA(HWND, LPCSTR text, LPCSTR, UINT)
{
    RecordMessage(text);
    return IDOK;
}
void *__imp_MessageBoxA = reinterpret_cast<void *>(&TestMessageBoxA);
}

// Under Wine, "\\.\X:" opens what the prefix's link "x::" names; the mount
// manager makes it ("x:" to the image's folder, "x::" to the image). Mappings
// are seen by every process of the session, so a named mutex per letter (the
// end-to-end driver takes the same ones) keeps test programs from mapping one
// letter at once: a test program holds one letter from its first MapDrive to
// UnmapDrive or its end, which also removes the mapping left in place.
namespace {

char held;       // the letter held, or 0
HANDLE letter;   // its mutex

struct UnmapAtExit {
    ~UnmapAtExit() { UnmapDrive(held); }
} unmapAtExit;

}  // namespace

bool MapDrive(char drive, const std::string &path)
{
    typedef char *(CDECL * ToHost)(LPCWSTR);
    const auto toHost = reinterpret_cast<ToHost>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    char *host = toHost && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) ? toHost(wide) : nullptr;
    const std::string file = host ? host : "";
    HeapFree(GetProcessHeap(), 0, host);
    drive = (char)(drive & ~0x20);
    if (held != drive) {
        UnmapDrive(held);
        letter = CreateMutexA(nullptr, FALSE, (std::string("VantrelTestDrive_") + drive).c_str());
        const DWORD wait = WaitForSingleObject(letter, 120000);   // another program may hold it a while
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
            return CloseHandle(letter), false;
        held = drive;
    }
    RemoveWineDrive(drive);
    return !file.empty() && AskMountManager(drive, DRIVE_FIXED, file.substr(0, file.rfind('/')).c_str(), file.c_str());
}

void UnmapDrive(char drive)
{
    if (held && held == (char)(drive & ~0x20)) {
        RemoveWineDrive(held);
        ReleaseMutex(letter);
        CloseHandle(letter);
        held = 0;
    }
}

HWND TestWindow()
{
    // Posts go to the queue of the thread that made the window: each thread gets its own.
    thread_local HWND window = nullptr;
    WNDCLASSA windowClass = {0, DefWindowProcA, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, "VantrelTestWindow"};
    if (!window && (RegisterClassA(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS))
        window = CreateWindowExA(0, "VantrelTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return window;
}
