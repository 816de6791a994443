// Wine's mount manager, asked through its own device control request (laid
// out as in Wine 8; were the layout ever to change, the callers' check that a
// mapping opens the right file would fail).
#include "support/winemount.h"

#include <winioctl.h>

#include <cstring>
#include <vector>

namespace {

// Wine's request to define or remove a drive from host paths (Wine 8 layout).
const DWORD kDefineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct UnixDriveRequest {
    ULONG size;
    ULONG type;  // a DRIVE_ constant; DRIVE_NO_ROOT_DIR removes the drive
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;  // lower case
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

const char kNoDevice[] = "/dev/null/unmapped";

}  // namespace

bool AskMountManager(char letter, ULONG type, const char *mountPoint, const char *device)
{
    std::vector<char> request(sizeof(UnixDriveRequest));
    auto append = [&request](const char *text) -> USHORT {
        if (!text)
            return 0;
        const size_t offset = request.size();
        request.insert(request.end(), text, text + strlen(text) + 1);
        return static_cast<USHORT>(offset);
    };
    const USHORT mountPointOffset = append(mountPoint);
    const USHORT deviceOffset = append(device);
    UnixDriveRequest *header = reinterpret_cast<UnixDriveRequest *>(request.data());
    header->size = static_cast<ULONG>(request.size());
    header->type = type;
    header->letter = static_cast<WCHAR>(letter - 'A' + 'a');
    header->mountPointOffset = mountPointOffset;
    header->deviceOffset = deviceOffset;

    HANDLE manager = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(manager, kDefineUnixDrive, request.data(), static_cast<DWORD>(request.size()),
                                      nullptr, 0, &returned, nullptr);
    CloseHandle(manager);
    return done != FALSE;
}

void RemoveWineDrive(char letter)
{
    AskMountManager(letter, DRIVE_FIXED, nullptr, kNoDevice);
    AskMountManager(letter, DRIVE_NO_ROOT_DIR, nullptr, nullptr);
}
