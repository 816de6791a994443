// Windows side of the test platform (MinGW build, run under Wine or Windows):
// captures the message boxes of the code under test instead of showing them,
// maps drive letters to image files so that "\\.\X:" opens the image, and
// gives tests a window to which the scan thread can post its commands.
#include "support/testplatform.h"
#include "support/winemount.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Message boxes
//
// Code compiled against <windows.h> calls MessageBoxA through the import
// pointer __imp_MessageBoxA. Defining that pointer here, in an object file that
// every test program links, satisfies the reference before the linker looks at
// user32's import library, so user32's own member is never pulled in and every
// call from any translation unit or static library lands in the recorder. No
// window is created, so no display is needed and nothing waits for a click.
// The W and Ex variants are covered the same way, in case code under test uses
// them.
// ---------------------------------------------------------------------------
namespace {

std::string Narrow(LPCWSTR text)
{
    if (!text)
        return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size) - 1);
    return result;
}

} // namespace

extern "C" {

int WINAPI TestMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    RecordMessage(caption, text);
    return IDOK;
}

int WINAPI TestMessageBoxExA(HWND, LPCSTR text, LPCSTR caption, UINT, WORD)
{
    RecordMessage(caption, text);
    return IDOK;
}

int WINAPI TestMessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT)
{
    RecordMessage(Narrow(caption).c_str(), Narrow(text).c_str());
    return IDOK;
}

int WINAPI TestMessageBoxExW(HWND, LPCWSTR text, LPCWSTR caption, UINT, WORD)
{
    RecordMessage(Narrow(caption).c_str(), Narrow(text).c_str());
    return IDOK;
}

void *__imp_MessageBoxA = reinterpret_cast<void *>(&TestMessageBoxA);
void *__imp_MessageBoxExA = reinterpret_cast<void *>(&TestMessageBoxExA);
void *__imp_MessageBoxW = reinterpret_cast<void *>(&TestMessageBoxW);
void *__imp_MessageBoxExW = reinterpret_cast<void *>(&TestMessageBoxExW);

} // extern "C"

// ---------------------------------------------------------------------------
// Drive letters
//
// On Windows, DefineDosDeviceA(DDD_RAW_TARGET_PATH, "X:", "\??\C:\...\x.img")
// makes \??\X: a link to the file, and "\\.\X:" then opens the file itself.
// Wine accepts that call but does not follow such a link when opening a drive:
// it resolves "\\.\X:" through the prefix's dosdevices folder, where the link
// "x::" names the device. There, the mount manager (\\.\MountPointManager)
// makes that link for us, as Wine's own drive configuration does: "x:" to the
// image's folder (so that Wine attributes the device to drive X:) and "x::" to
// the image. Either way, the mapping is checked by opening "\\.\X:" and
// comparing the file it reaches with the image. (Under Wine, raw reads follow
// a new mapping at once; GetVolumeInformationA reports the image's label and
// "FAT" up to a second later, as Wine caches drive information that long.)
//
// Mappings are shared by every process of the session (the whole prefix under
// Wine), so a named mutex per letter keeps test programs that run in parallel
// from mapping the same letter at once: MapDrive takes it and UnmapDrive (from
// the same thread) gives it back; so does the end of the process, which also
// undoes the mappings left in place.
// ---------------------------------------------------------------------------
namespace {

// How long MapDrive waits for another test program to give a letter back.
const DWORD kLetterWaitMs = 120000;

enum class How { None, DosDevice, MountManager };

struct Mapping {
    HANDLE letterLock = nullptr; // held named mutex, or null
    How how = How::None;
    std::string target;          // "\??\..." for DefineDosDeviceA
};

std::mutex lockMappings;
Mapping mappings[26];

bool UnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Host path of a Windows path, through Wine's kernel32; empty if unknown.
std::string HostPath(const std::string &windowsPath)
{
    typedef char *(CDECL * ToHostFn)(LPCWSTR);
    const ToHostFn toHost = reinterpret_cast<ToHostFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toHost)
        return std::string();
    const int size = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
    if (size <= 0)
        return std::string();
    std::vector<WCHAR> wide(static_cast<size_t>(size));
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), size);
    char *host = toHost(wide.data());
    if (!host)
        return std::string();
    std::string result(host);
    HeapFree(GetProcessHeap(), 0, host);
    return result;
}


// Wine reports the volume serial of drive C: inconsistently (two handles to
// one file may differ), so under Wine the file is told by its index, size and
// write time alone.
bool SameFile(HANDLE a, HANDLE b, bool compareSerial)
{
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    if (!GetFileInformationByHandle(a, &infoA) || !GetFileInformationByHandle(b, &infoB))
        return false;
    return (!compareSerial || infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber) &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow &&
           infoA.nFileSizeHigh == infoB.nFileSizeHigh &&
           infoA.nFileSizeLow == infoB.nFileSizeLow &&
           CompareFileTime(&infoA.ftLastWriteTime, &infoB.ftLastWriteTime) == 0;
}

// True when "\\.\X:" opens, the way the engine opens it, the file at `path`.
bool DriveOpensFile(char letter, const std::string &path)
{
    const char device[] = {'\\', '\\', '.', '\\', letter, ':', 0};
    HANDLE drive = CreateFileA(device, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_NO_BUFFERING, nullptr);
    if (drive == INVALID_HANDLE_VALUE)
        return false;
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    const bool same = file != INVALID_HANDLE_VALUE && SameFile(drive, file, !UnderWine());
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    CloseHandle(drive);
    return same;
}

// Undoes the mapping of `slot` (lockMappings held); keeps the letter's mutex.
void Unmap(char letter, Mapping &slot)
{
    const char name[] = {letter, ':', 0};
    if (slot.how == How::DosDevice)
        DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH | DDD_EXACT_MATCH_ON_REMOVE,
                         name, slot.target.c_str());
    else if (slot.how == How::MountManager)
        RemoveWineDrive(letter);
    slot.how = How::None;
    slot.target.clear();
}

bool TakeLetter(char letter, Mapping &slot)
{
    if (slot.letterLock)
        return true;
    const std::string name = std::string("VantrelTestDrive_") + letter;
    HANDLE lock = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!lock)
        return false;
    const DWORD waited = WaitForSingleObject(lock, kLetterWaitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(lock);
        return false;
    }
    slot.letterLock = lock;
    return true;
}

void GiveLetter(Mapping &slot)
{
    if (!slot.letterLock)
        return;
    ReleaseMutex(slot.letterLock);
    CloseHandle(slot.letterLock);
    slot.letterLock = nullptr;
}

int SlotOf(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a';
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A';
    return -1;
}

// Mappings outlive the process that made them (in the logon session on
// Windows, in the prefix under Wine): undo those a test left behind, so that
// later programs see only the drives that are really there.
struct UnmapAtExit {
    ~UnmapAtExit()
    {
        std::lock_guard<std::mutex> hold(lockMappings);
        for (int index = 0; index < 26; ++index) {
            Unmap(static_cast<char>('A' + index), mappings[index]);
            GiveLetter(mappings[index]);
        }
    }
} unmapAtExit;

} // namespace

bool MapDrive(char letter, const std::string &path)
{
    const int index = SlotOf(letter);
    if (index < 0)
        return false;
    const char upper = static_cast<char>('A' + index);
    std::lock_guard<std::mutex> hold(lockMappings);
    Mapping &slot = mappings[index];
    if (!TakeLetter(upper, slot))
        return false;
    Unmap(upper, slot);

    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH || GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) {
        GiveLetter(slot);
        return false;
    }
    const std::string fullPath(full);

    if (UnderWine()) {
        const std::string hostFile = HostPath(fullPath);
        const size_t slash = hostFile.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            const std::string hostFolder = hostFile.substr(0, slash);
            if (AskMountManager(upper, DRIVE_FIXED, hostFolder.c_str(), hostFile.c_str()))
                slot.how = How::MountManager;
        }
    } else {
        const char name[] = {upper, ':', 0};
        const std::string target = "\\??\\" + fullPath;
        if (DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, target.c_str())) {
            slot.how = How::DosDevice;
            slot.target = target;
        }
    }

    if (slot.how != How::None && DriveOpensFile(upper, fullPath))
        return true;
    Unmap(upper, slot);
    GiveLetter(slot);
    return false;
}

void UnmapDrive(char letter)
{
    const int index = SlotOf(letter);
    if (index < 0)
        return;
    std::lock_guard<std::mutex> hold(lockMappings);
    Mapping &slot = mappings[index];
    Unmap(static_cast<char>('A' + index), slot);
    GiveLetter(slot);
}

// ---------------------------------------------------------------------------
// The posted-command window
//
// A message-only window: it has a message queue (that of the thread that asks
// for it) but is never shown, so it needs no display, under Wine neither.
// ---------------------------------------------------------------------------
HWND TestWindow()
{
    // Posted messages go to the queue of the thread that made the window, so
    // each thread that asks gets its own.
    thread_local HWND window = nullptr;
    if (window && IsWindow(window))
        return window;
    static const char className[] = "VantrelTestWindow";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass); // fails harmlessly once registered
    window = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    return window;
}

bool WaitForCommand(unsigned command, unsigned milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == command)
                return true;
        const DWORD waited = GetTickCount() - start;
        if (waited >= milliseconds)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - waited, QS_ALLINPUT);
    }
}
