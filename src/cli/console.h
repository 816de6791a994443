// What the analyzer needs from the system beside the engine's Win32 subset,
// the same on both builds: where message boxes go, the image it opens once
// (its own reads for the partition table and the diagnosis, and the drive
// letter through which the engine reads the image or a byte range of it, a
// partition), the reason of a system error, and the window to which the scan
// thread posts its end. console_posix.cpp provides
// them over the host layer, console_win32.cpp over Windows itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

#ifdef _WIN32
typedef void (*MESSAGEBOXHOOK)(const char *caption, const char *text);
// Routes the engine's message boxes to the hook; no box is ever shown.
void SetMessageBoxHook(MESSAGEBOXHOOK hook);
#else
#include "platform/posix/host.h"
#endif

// An image file or device read by the analyzer itself, before the engine.
class Image {
public:
    Image() = default;
    ~Image();
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    // Opens `path` (UTF-8) for reading; false with the system's reason.
    bool Open(const char *path, std::string *reason);
    // Bytes in the image (for a Windows drive, as far as it tells).
    uint64_t Size() const { return size_; }
    // Reads up to `length` bytes at `offset`; the count read, or -1 with the
    // system's reason.
    long long Read(uint64_t offset, void *buffer, size_t length, std::string *reason) const;
    // Makes the drive `letter` ("\\.\X:") open `length` bytes of this image
    // from byte `offset` (~0: to its end), served by this open image: the
    // volume services and the engine open the drive without opening the
    // image again. False with the system's error (GetLastError).
    bool MapDrive(char letter, uint64_t offset, uint64_t length) const;

private:
    intptr_t handle_ = -1;
    uint64_t size_ = 0;
};

// The command line's arguments in UTF-8: argv itself on the host; on Windows
// read from the wide-character command line, so that a path with characters
// outside the ANSI code page arrives whole.
std::vector<std::string> Utf8Arguments(int argc, char **argv);

// Output is UTF-8: on Windows the console's output code page is set to UTF-8
// for the run (and set back at exit), so that a console shows it correctly.
void PrepareConsole();

// True when `path` names a drive of the system ("E:"): on Windows only.
bool IsSystemDrive(const char *path);

// The text of the system's last error (errno, or GetLastError on Windows).
std::string LastErrorReason();

// A window handle to which the scan thread can post KIV_END, read back with
// GetMessageA on this thread; NULL with the reason when there is none.
HWND MessageWindow(std::string *reason);
