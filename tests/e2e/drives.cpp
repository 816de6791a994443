// Drive mapping through Wine's mount manager, from inside the running
// session: unlike new dosdevices links, which a session only notices after a
// restart, a drive defined here is seen at once by every process of the
// session (its label and file-system name within about a second), so the
// end-to-end tests can run inside the same Wine session as the other tests.
// The mount manager makes the same two links a user would make by hand:
// "x:" to the image's folder and "x::" to the image; for a removable drive it
// also records the drive as a floppy in HKLM\Software\Wine\Drives.
#include "drives.h"

#include "support/winemount.h"

#include <cstring>
#include <vector>

namespace {

// The letter locks shared with the unit tests' mappings (same names).
HANDLE letterLocks[26];

std::string LockName(char letter)
{
    return std::string("VantrelTestDrive_") + letter;
}

bool TakeLetter(char letter)
{
    HANDLE &lock = letterLocks[letter - 'A'];
    if (lock)
        return true;
    lock = CreateMutexA(nullptr, FALSE, LockName(letter).c_str());
    if (!lock)
        return false;
    const DWORD waited = WaitForSingleObject(lock, 120000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(lock);
        lock = nullptr;
        return false;
    }
    return true;
}

void GiveLetter(char letter)
{
    HANDLE &lock = letterLocks[letter - 'A'];
    if (!lock)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
    lock = nullptr;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string MapDrive(char letter, const std::string &hostImage, bool floppy)
{
    if (letter < 'C' || letter > 'Z')
        return "bad drive letter";
    if (!TakeLetter(letter))
        return "drive letter held by another test for too long";
    if (!PointDrive(letter, hostImage, floppy)) {
        GiveLetter(letter);
        return "the mount manager refused the drive";
    }
    return std::string();
}

bool PointDrive(char letter, const std::string &hostImage, bool floppy)
{
    const std::string folder = FolderOf(hostImage);
    return !folder.empty() &&
           AskMountManager(letter, floppy ? DRIVE_REMOVABLE : DRIVE_FIXED, folder.c_str(), hostImage.c_str());
}

std::string WaitDrive(char letter, bool floppy, const std::string &fileSystem, const std::string &label)
{
    const char root[] = {letter, ':', '\\', 0};
    const UINT wantedType = floppy ? DRIVE_REMOVABLE : DRIVE_FIXED;
    std::string seen;
    for (int tries = 0; tries < 100; ++tries) {
        char seenLabel[64] = "", name[32] = "";
        const UINT type = GetDriveTypeA(root);
        const bool known = GetVolumeInformationA(root, seenLabel, sizeof seenLabel, nullptr, nullptr, nullptr, name,
                                                 sizeof name) != FALSE;
        if (type == wantedType && known && fileSystem == name && label == seenLabel)
            return std::string();
        seen = "type " + std::to_string(type) + ", file system '" + name + "', label '" + seenLabel + "'";
        Sleep(50);
    }
    return seen;
}

void DropDrive(char letter)
{
    RemoveWineDrive(letter);
}

void UnmapDrive(char letter)
{
    if (letter < 'C' || letter > 'Z' || !letterLocks[letter - 'A'])
        return;
    RemoveWineDrive(letter);
    GiveLetter(letter);
}

bool LetterHeldElsewhere(char letter)
{
    if (letterLocks[letter - 'A'])
        return false;
    HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, LockName(letter).c_str());
    if (!lock)
        return false;
    const DWORD waited = WaitForSingleObject(lock, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(lock);
    CloseHandle(lock);
    return waited == WAIT_TIMEOUT;
}

std::string DosPath(const std::string &hostPath)
{
    // Through Z: (the host's root) when there is one, so that a file inside a
    // mapped drive's folder is not reached through that drive.
    if (!hostPath.empty() && hostPath[0] == '/' && GetDriveTypeA("Z:\\") != DRIVE_NO_ROOT_DIR) {
        std::string dos = "Z:" + hostPath;
        for (char &c : dos)
            if (c == '/')
                c = '\\';
        return dos;
    }
    typedef WCHAR *(CDECL * ToDosFn)(LPCSTR);
    const ToDosFn toDos = reinterpret_cast<ToDosFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (!toDos || hostPath.empty() || hostPath[0] != '/')
        return hostPath;
    WCHAR *dos = toDos(hostPath.c_str());
    if (!dos)
        return hostPath;
    char narrow[MAX_PATH * 2];
    const int size = WideCharToMultiByte(CP_ACP, 0, dos, -1, narrow, sizeof narrow, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, dos);
    return size > 0 ? std::string(narrow) : hostPath;
}

HWND MakeTopLevelWindow(const char *className, const char *title)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);  // a class registered before is fine
    return CreateWindowExA(0, className, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}
