// The entry: one instance only, the window class, the main window sized to
// the intro picture, and the message loop.
#include "app/kivifat.h"
#include "app/mainwnd.h"
#include "display/dib.h"

HINSTANCE hInst;

namespace {

const char szClassName[] = "KivIFat";
const char szIconName[] = "KivNt";
const char szTitle[] = "Vantrel";

}  // namespace

BOOL InitApplication(HINSTANCE hInstance)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = hInstance;
    windowClass.hIcon = LoadIconA(hInstance, szIconName);
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.lpszMenuName = szAppName;
    windowClass.lpszClassName = szClassName;
    return RegisterClassA(&windowClass) != 0;
}

BOOL InitInstance(HINSTANCE hInstance, int nCmdShow)
{
    hInst = hInstance;
    hWndMain = CreateWindowA(szClassName, szTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, hInstance,
                             NULL);
    if (hWndMain == NULL)
        return FALSE;
    if (!ShowMainPicture("IntroFat.BMP"))
        return FALSE;
    ShowWindow(hWndMain, nCmdShow);
    UpdateWindow(hWndMain);
    return TRUE;
}

bool ShowMainPicture(LPCSTR file)
{
    DWORD width, height;
    if (!GetBitmap(file, &width, &height))
        return false;
    if (!SetWindowPos(hWndMain, NULL, 0, 0, (int)width + 2, (int)height + 40, SWP_NOMOVE | SWP_NOZORDER))
        return false;
    UpdateSystemPalette(hWndMain);
    return true;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR, int nCmdShow)
{
    // A second copy does not start: it brings the running window forward
    // (its open dialog, if it shows one), restored if it was minimised.
    if (HWND running = FindWindowA(szClassName, szTitle)) {
        if (IsIconic(running))
            ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(GetLastActivePopup(running));
        return 0;
    }
    if (hPrevInstance == NULL && !InitApplication(hInstance))
        return 0;
    if (!InitInstance(hInstance, nCmdShow))
        return 0;
    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
