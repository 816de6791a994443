// The analyzer's system services on the host: images read with pread(2), the
// drive letter served by the image's one descriptor (MapDriveToFile), errno
// texts, and the host queue, which delivers to any window handle.
#include "cli/console.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Image::~Image()
{
    if (handle_ >= 0)
        ::close((int)handle_);
}

bool Image::Open(const char *path, std::string *reason)
{
    int fd;
    do
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        *reason = fd < 0 ? strerror(errno) : strerror(EISDIR);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // A block device's size is where it ends.
    const off_t end = S_ISBLK(info.st_mode) ? ::lseek(fd, 0, SEEK_END) : info.st_size;
    handle_ = fd;
    size_ = end > 0 ? (uint64_t)end : 0;
    return true;
}

long long Image::Read(uint64_t offset, void *buffer, size_t length, std::string *reason) const
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread((int)handle_, (char *)buffer + got, length - got, (off_t)(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *reason = strerror(errno);
            return -1;
        }
        if (n == 0)
            break;
        got += (size_t)n;
    }
    return (long long)got;
}

bool Image::MapDrive(char letter, uint64_t offset, uint64_t length) const
{
    return MapDriveToFile(letter, (int)handle_, offset, length) != FALSE;
}

std::vector<std::string> Utf8Arguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

bool IsSystemDrive(const char *)
{
    return false;
}

std::string LastErrorReason()
{
    // The host layer sets Win32 error codes, not errno; name the common ones.
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND: return strerror(ENOENT);
    case ERROR_ACCESS_DENIED: return strerror(EACCES);
    case ERROR_NOT_ENOUGH_MEMORY: return strerror(ENOMEM);
    case ERROR_CRC: return strerror(EIO);
    default: return "error " + std::to_string(GetLastError());
    }
}

HWND MessageWindow(std::string *)
{
    static char window;
    return (HWND)&window;
}
