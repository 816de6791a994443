// Host side of the test platform: the host layer's message-box hook and its
// DefineDosDeviceA mapping.
#include "support/testplatform.h"

#include "platform/win32.h"
#include "platform/posix/host.h"

namespace {
// Installed before main, so that no test ever writes a box to standard error.
const bool hookInstalled = (SetMessageBoxHook(RecordMessage), true);
}

bool MapDrive(char letter, const std::string &path)
{
    const char device[3] = {letter, ':', 0};
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, device, nullptr);
    return DefineDosDeviceA(DDD_RAW_TARGET_PATH, device, path.c_str()) != FALSE;
}

void UnmapDrive(char letter)
{
    const char device[3] = {letter, ':', 0};
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, device, nullptr);
}

HWND TestWindow()
{
    // The host queue takes any window handle but NULL.
    return (HWND)1;
}

bool WaitForCommand(unsigned command, unsigned milliseconds)
{
    for (unsigned waited = 0; waited <= milliseconds; waited += 10) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == command)
                return true;
        Sleep(10);
    }
    return false;
}
