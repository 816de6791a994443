// The analyzer's system services on Windows (a console program): the engine's
// message boxes captured instead of shown, image files read as volumes, images
// read by the analyzer itself, FormatMessage texts, and a message-only window
// for the scan thread's end. The analyzer works in UTF-8: its arguments come
// from the wide-character command line, image paths are opened with
// CreateFileW, and the console shows UTF-8 output.
//
// The engine opens its volume as "\\.\X:" and reads it only by offset with
// NtReadFile, which reads a file the way it reads a raw volume. So a drive
// letter mapped with Image::MapDrive is opened, in the one CreateFileA call
// that names it, as a duplicate of the analyzer's own handle on the image file
// (read-only, buffered: an image's reads need no sector alignment), so the
// image is opened once, and NtReadFile shifts the reads of such a handle by
// the range's offset and ends them at its end. A letter that was not mapped
// is the system's own drive (PATH E:), opened and read untouched: the volume
// services open it themselves, exactly as the window opens it, so that the
// analyzer's run of a drive is the window's.
//
// Calls through <windows.h> reach CreateFileA and MessageBoxA through the
// import pointers __imp_CreateFileA and __imp_MessageBoxA; defining those
// pointers here satisfies them before the linker reads the import libraries.
// NtReadFile is called directly (win32.h declares it), and is defined here.
// The system's own functions are reached through GetProcAddress.
#include "cli/console.h"
#include "platform/driveletter.h"

#include <shellapi.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::mutex lockConsole;
MESSAGEBOXHOOK messageBoxHook;

struct Range {
    HANDLE image = NULL;   // the analyzer's handle on the image; NULL: not mapped
    ULONGLONG offset = 0;
    ULONGLONG length = 0;
};
Range mapped[26];                      // by letter
std::map<HANDLE, Range> openRanges;    // handles opened on a mapped letter

typedef HANDLE(WINAPI *CreateFileAFn)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
typedef NTSTATUS(NTAPI *NtReadFileFn)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                      PLARGE_INTEGER, PULONG);

CreateFileAFn SystemCreateFileA()
{
    static const CreateFileAFn function = reinterpret_cast<CreateFileAFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateFileA")));
    return function;
}

NtReadFileFn SystemNtReadFile()
{
    static const NtReadFileFn function = reinterpret_cast<NtReadFileFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtReadFile")));
    return function;
}

HANDLE WINAPI ConsoleCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile)
{
    const char letter = DeviceDriveLetter(name);
    Range range;
    {
        std::lock_guard<std::mutex> hold(lockConsole);
        if (letter)
            range = mapped[letter - 'A'];
    }
    if (range.image == NULL)
        return SystemCreateFileA()(name, access, share, security, disposition, flags, templateFile);
    HANDLE file;
    if (!DuplicateHandle(GetCurrentProcess(), range.image, GetCurrentProcess(), &file, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return INVALID_HANDLE_VALUE;
    std::lock_guard<std::mutex> hold(lockConsole);
    openRanges[file] = range;
    return file;
}

void Show(const char *caption, const char *text)
{
    MESSAGEBOXHOOK hook;
    {
        std::lock_guard<std::mutex> hold(lockConsole);
        hook = messageBoxHook;
    }
    if (hook) {
        hook(caption ? caption : "Error", text ? text : "");
    } else {
        fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
        fflush(stderr);
    }
}

int WINAPI ConsoleMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    Show(caption, text);
    return IDOK;
}

}  // namespace

extern "C" {
void *__imp_CreateFileA = reinterpret_cast<void *>(&ConsoleCreateFileA);
void *__imp_MessageBoxA = reinterpret_cast<void *>(&ConsoleMessageBoxA);

NTSTATUS NTAPI NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                          PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset,
                          PULONG Key)
{
    Range range;
    {
        std::lock_guard<std::mutex> hold(lockConsole);
        const auto found = openRanges.find(FileHandle);
        if (found != openRanges.end())
            range = found->second;
    }
    if (range.image == NULL || ByteOffset == NULL || ByteOffset->QuadPart < 0)
        return SystemNtReadFile()(FileHandle, Event, ApcRoutine, ApcContext, IoStatusBlock, Buffer, Length,
                                  ByteOffset, Key);
    const ULONGLONG at = (ULONGLONG)ByteOffset->QuadPart;
    if (at >= range.length) {
        IoStatusBlock->Status = STATUS_END_OF_FILE;
        IoStatusBlock->Information = 0;
        return STATUS_END_OF_FILE;
    }
    const ULONG wanted = range.length - at < Length ? (ULONG)(range.length - at) : Length;
    LARGE_INTEGER shifted;
    shifted.QuadPart = (LONGLONG)(range.offset + at);
    return SystemNtReadFile()(FileHandle, Event, ApcRoutine, ApcContext, IoStatusBlock, Buffer, wanted, &shifted,
                              Key);
}
}  // extern "C"

void SetMessageBoxHook(MESSAGEBOXHOOK hook)
{
    std::lock_guard<std::mutex> hold(lockConsole);
    messageBoxHook = hook;
}


// ---- UTF-8 in and out ------------------------------------------------------

namespace {

std::wstring Wide(const std::string &utf8)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring wide((size_t)length, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], length);
    return wide;
}

std::string Utf8(const wchar_t *wide, int count)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, count, NULL, 0, NULL, NULL);
    std::string utf8((size_t)(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, count, &utf8[0], length, NULL, NULL);
    return utf8;
}

UINT consoleCodePage;

void RestoreConsole()
{
    SetConsoleOutputCP(consoleCodePage);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char **argv)
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == NULL)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; i++)
        arguments.push_back(Utf8(wide[i], (int)wcslen(wide[i])));
    LocalFree(wide);
    return arguments;
}

void PrepareConsole()
{
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != 0 && consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        atexit(RestoreConsole);
}


// ---- The analyzer's own reads -------------------------------------------------

namespace {

// Raw volumes are read in whole, aligned sectors, through this bounce size.
const size_t kAlign = 4096;

}  // namespace

Image::~Image()
{
    if (handle_ != -1)
        CloseHandle((HANDLE)handle_);
}

bool Image::Open(const char *path, std::string *reason)
{
    const bool drive = IsSystemDrive(path);
    const std::string name = drive ? std::string("\\\\.\\") + path : std::string(path);
    const HANDLE file = CreateFileW(Wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                    OPEN_EXISTING, drive ? FILE_FLAG_NO_BUFFERING : FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = LastErrorReason();
        return false;
    }
    LARGE_INTEGER size;
    GET_LENGTH_INFORMATION length;
    DWORD returned = 0;
    if (!drive && GetFileSizeEx(file, &size))
        size_ = (uint64_t)size.QuadPart;
    else if (drive && DeviceIoControl(file, IOCTL_DISK_GET_LENGTH_INFO, NULL, 0, &length, sizeof length, &returned,
                                      NULL))
        size_ = (uint64_t)length.Length.QuadPart;
    else
        size_ = ~0ull;   // unknown: reads end where the drive ends
    handle_ = (intptr_t)file;
    return true;
}

long long Image::Read(uint64_t offset, void *buffer, size_t length, std::string *reason) const
{
    // Whole aligned blocks around the bytes wanted, so that a raw drive
    // accepts the read; an image file takes it as well.
    const uint64_t first = offset / kAlign * kAlign;
    const size_t span = (size_t)((offset + length + kAlign - 1) / kAlign * kAlign - first);
    BYTE *bounce = (BYTE *)VirtualAlloc(NULL, span, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (bounce == NULL) {
        *reason = LastErrorReason();
        return -1;
    }
    OVERLAPPED at = {};
    at.Offset = (DWORD)first;
    at.OffsetHigh = (DWORD)(first >> 32);
    DWORD got = 0;
    long long result;
    if (!ReadFile((HANDLE)handle_, bounce, (DWORD)span, &got, &at) && GetLastError() != ERROR_HANDLE_EOF) {
        *reason = LastErrorReason();
        result = -1;
    } else {
        const size_t skip = (size_t)(offset - first);
        result = got > skip ? (long long)(got - skip < length ? got - skip : length) : 0;
        memcpy(buffer, bounce + skip, (size_t)result);
    }
    VirtualFree(bounce, 0, MEM_RELEASE);
    return result;
}

bool Image::MapDrive(char letter, uint64_t offset, uint64_t length) const
{
    letter = DriveLetterOf(letter);
    if (letter == 0 || handle_ == -1 || offset > ~0ull - length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> hold(lockConsole);
    mapped[letter - 'A'] = Range{(HANDLE)handle_, offset, length};
    return true;
}

bool IsSystemDrive(const char *path)
{
    return DriveLetter(path) != 0;
}

std::string LastErrorReason()
{
    const DWORD error = GetLastError();
    wchar_t text[256];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, text,
                                  sizeof text / sizeof text[0], NULL);
    // The system's sentences end in a period and a line break.
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L'.' ||
                          text[length - 1] == L' '))
        length--;
    return length ? Utf8(text, (int)length) : "error " + std::to_string(error);
}

HWND MessageWindow(std::string *reason)
{
    static const char className[] = "VantrelScanWindow";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    const HWND window =
        CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, windowClass.hInstance, NULL);
    if (window == NULL)
        *reason = LastErrorReason();
    return window;
}
