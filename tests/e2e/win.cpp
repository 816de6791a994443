// Window toolkit of the end-to-end driver (see e2e.h). Every picture goes
// through a 24-bit top-down DIB section, so that captures and reference
// drawings are compared in one pixel format.
#include "e2e.h"

#include <gdiplus.h>
#include <winternl.h>

#include <algorithm>

#include "support/winemount.h"

namespace {

// Runs `paint` on a memory DC holding a w x h 24-bit DIB section; its pixels.
Image Draw(int w, int h, const std::function<bool(HDC)> &paint)
{
    Image image;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = w > 0 && h > 0 ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    HGDIOBJ old = dib ? SelectObject(dc, dib) : nullptr;
    if (dib && paint(dc)) {
        GdiFlush();
        image.width = w, image.height = h;
        for (int y = 0; y < h; ++y)
            for (const BYTE *p = static_cast<BYTE *>(bits) + y * ((w * 3 + 3) & ~3), *end = p + 3 * w; p < end; p += 3)
                image.pixels.push_back(RGB(p[2], p[1], p[0]));
    }
    if (dib)
        DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    return image;
}

HANDLE letterLocks[26];

}  // namespace

Image Capture(HWND window)
{
    RECT r;
    if (!IsWindow(window) || !GetClientRect(window, &r))
        return Image();
    HDC source = GetDC(window);
    Image image = Draw(r.right, r.bottom,
                       [&](HDC dc) { return BitBlt(dc, 0, 0, r.right, r.bottom, source, 0, 0, SRCCOPY); });
    ReleaseDC(window, source);
    return image;
}

Image TextImage(const std::string &text, COLORREF ink, COLORREF ground)
{
    SIZE extent = {};
    Draw(1, 1, [&](HDC dc) {
        SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
        return GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &extent);
    });
    return Draw(extent.cx, extent.cy, [&](HDC dc) {
        SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
        SetTextColor(dc, ink);
        SetBkColor(dc, ground);
        return TextOutA(dc, 0, 0, text.c_str(), int(text.size()));  // opaque: the default
    });
}

Image BitmapFile(const std::string &path)
{
    const UINT how = LR_LOADFROMFILE | LR_CREATEDIBSECTION;
    HBITMAP file = HBITMAP(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, how));
    BITMAP info = {};
    GetObjectA(file, sizeof info, &info);
    HDC source = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(source, file);
    Image image = Draw(info.bmWidth, info.bmHeight,
                       [&](HDC dc) { return BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY); });
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(file);
    return image;
}

long Differences(const Image &whole, int x, int y, const Image &piece)
{
    long differ = piece.pixels.empty();
    for (int row = 0; row < piece.height; ++row)
        for (int col = 0, wx = x, wy = y + row; col < piece.width; ++col, ++wx)
            differ += wx < 0 || wy < 0 || wx >= whole.width || wy >= whole.height ||
                      whole.At(wx, wy) != piece.At(col, row);
    return differ;
}

bool WritePng(const Image &image, const std::string &path)
{
    // Through GDI+ (its PNG encoder has this identifier), in 0x00RRGGBB pixels.
    static ULONG_PTR token;
    const Gdiplus::GdiplusStartupInput input;
    if (!token)
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    std::vector<uint32_t> rgb;
    for (uint32_t p : image.pixels)
        rgb.push_back((p & 0xFF00) | (p >> 16 & 0xFF) | (p & 0xFF) << 16);
    const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    Gdiplus::Bitmap bitmap(image.width, image.height, image.width * 4, PixelFormat32bppRGB, PBYTE(rgb.data()));
    return !rgb.empty() && bitmap.Save(std::wstring(path.begin(), path.end()).c_str(), &png, nullptr) == Gdiplus::Ok;
}

bool WaitUntil(const std::function<bool()> &done, DWORD ms, DWORD poll)
{
    for (const DWORD start = GetTickCount(); !done(); MsgWaitForMultipleObjects(0, nullptr, FALSE, poll, QS_ALLINPUT)) {
        if (GetTickCount() - start >= ms)
            return false;
        for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageA(&msg);
    }
    return true;
}

std::vector<HWND> Windows(DWORD pid, const char *cls, const char *title)
{
    std::vector<HWND> found;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, cls, title)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (IsWindowVisible(w) && (!pid || owner == pid))
            found.push_back(w);
    }
    return found;
}

std::vector<std::string> ListLines(HWND list)
{
    // Read as Unicode: under Wine an ANSI LB_GETTEXT sent to another process
    // comes back as the list box's Unicode text. The lines are ASCII.
    std::vector<std::string> lines;
    DWORD_PTR count = 0, length = 0;
    SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    for (DWORD_PTR i = 0; i < count && count != DWORD_PTR(LB_ERR); ++i) {
        WCHAR line[512] = L"";
        if (SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &length) && length < 512)
            SendMessageTimeoutW(list, LB_GETTEXT, i, LPARAM(line), SMTO_ABORTIFHUNG, 5000, &length);
        lines.emplace_back(line, line + wcslen(line));
    }
    return lines;
}

int Palettes(HANDLE process)
{
    // Wine keeps a process's GDI handle table, to which its PEB points at
    // 0xF8, in that process: 24 bytes an entry, the object type in byte 14
    // (palette: 8), a stock object flag in bit 7 of byte 12.
    typedef NTSTATUS(NTAPI * Query)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const Query query = Query(reinterpret_cast<void *>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    ULONGLONG table = 0;
    std::vector<BYTE> entries(0x10000 * 24);
    if (!GetProcAddress(ntdll, "wine_get_version") ||
        query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) ||
        !ReadProcessMemory(process, PBYTE(basic.PebBaseAddress) + 0xF8, &table, sizeof table, nullptr) || !table ||
        !ReadProcessMemory(process, reinterpret_cast<void *>(table), entries.data(), entries.size(), nullptr))
        return -1;
    int palettes = 0;
    for (size_t at = 0; at < entries.size(); at += 24)
        palettes += (entries[at + 14] & 0x1F) == 8 && !(entries[at + 12] & 0x80);
    return palettes;
}

std::string MenuStates(HWND main, DWORD pid, const std::string &shot)
{
    // Alt+A opens the menu with its first item selected. (Wine gives no
    // access to another process's menu: it is read from the screen.)
    PostMessageA(main, WM_SYSCOMMAND, SC_KEYMENU, 'a');
    Image menu, last;
    HWND popup = nullptr;
    WaitUntil([&] {  // until drawn
        const std::vector<HWND> popups = Windows(pid, "#32768", nullptr);
        last = menu;
        menu = Capture(popup = popups.empty() ? nullptr : popups[0]);
        return menu == last && std::count(menu.pixels.begin(), menu.pixels.end(), GetSysColor(COLOR_MENU)) > 100;
    }, 5000, 100);
    WritePng(menu, shot);
    PostMessageA(main, WM_CANCELMODE, 0, 0);
    WaitUntil([&] { return !IsWindowVisible(popup); }, 3000);
    // Items are runs of 5 rows or more inside the frame that differ from the
    // menu colour (separators are thinner). An enabled item is drawn in the
    // menu text colour, or when selected in the highlight text colour on the highlight.
    std::string states;
    for (int y = 4, top = -1; y < menu.height - 3; ++y) {
        bool ink = false, selected = false, text = false, selectedText = false;
        for (int x = 4; x < menu.width - 4 && y < menu.height - 4; ++x)
            ink = ink || menu.At(x, y) != GetSysColor(COLOR_MENU);
        top = ink && top < 0 ? y : top;
        if (ink || top < 0)
            continue;
        for (int row = top; row < y && y - top >= 5; ++row)
            for (int x = 4; x < menu.width - 4; ++x) {
                selected = selected || menu.At(x, row) == GetSysColor(COLOR_HIGHLIGHT);
                text = text || menu.At(x, row) == GetSysColor(COLOR_MENUTEXT);
                selectedText = selectedText || menu.At(x, row) == GetSysColor(COLOR_HIGHLIGHTTEXT);
            }
        if (y - top >= 5)
            states += (selected ? selectedText : text) ? 'E' : 'g';
        top = -1;
    }
    return states;
}

std::string Dos(const std::string &host)
{
    std::string dos = "Z:" + host;
    std::replace(dos.begin(), dos.end(), '/', '\\');
    return dos;
}

std::string MapDrive(char letter, const std::string &image, bool floppy, const std::string &fs,
                     const std::string &label)
{
    HANDLE &lock = letterLocks[letter - 'A'];
    lock = CreateMutexA(nullptr, FALSE, (std::string("VantrelTestDrive_") + letter).c_str());  // the unit tests' too
    const DWORD got = WaitForSingleObject(lock, 120000);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED)
        return "the letter is held by another test";
    const std::string folder = image.substr(0, image.rfind('/'));
    if (!AskMountManager(letter, floppy ? DRIVE_REMOVABLE : DRIVE_FIXED, folder.c_str(), image.c_str()))
        return "the mount manager refused it";
    // The session reports label and file system a little after the mapping.
    const char root[] = {letter, ':', '\\', 0};
    char seenLabel[64] = "", seenFs[32] = "";
    return WaitUntil([&] {
        return GetDriveTypeA(root) == (floppy ? DRIVE_REMOVABLE : DRIVE_FIXED) &&
               GetVolumeInformationA(root, seenLabel, 64, nullptr, nullptr, nullptr, seenFs, 32) && fs == seenFs &&
               label == seenLabel;
    }, 5000, 50) ? "" : "the session reports " + std::string(seenFs) + " [" + seenLabel + "]";
}

bool PointDrive(char letter, const std::string &image)
{
    return AskMountManager(letter, DRIVE_FIXED, image.substr(0, image.rfind('/')).c_str(), image.c_str());
}

void UnmapDrive(char letter, bool release)
{
    RemoveWineDrive(letter);
    HANDLE &lock = letterLocks[letter - 'A'];
    if (release && lock && ReleaseMutex(lock) && CloseHandle(lock))
        lock = nullptr;
}
