// Files and raw volumes on the host: the handle table, CreateFileA over
// open(2) with drive letters mapped by DefineDosDeviceA or, to a byte range of
// a file the program has open already (a partition of a disk image), by
// MapDriveToFile; sequential ReadFile,
// GetFileSize, positioned NtReadFile over pread(2), read-ahead hints, and the
// injected read statuses.
#include "handles.h"
#include "faults.h"
#include "platform/driveletter.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

using vantrel_host::Kind;

namespace {

// ---- Handle table ----------------------------------------------------------

std::mutex lockTable;
std::unordered_map<HANDLE, std::shared_ptr<vantrel_host::Object>> &Table()
{
    // Never destroyed: threads may still close handles while the process exits.
    static auto *table = new std::unordered_map<HANDLE, std::shared_ptr<vantrel_host::Object>>;
    return *table;
}

// Each thread remembers the last handles it looked up, valid until any handle
// is closed: the scan gives back and takes its mutex before every file, and a
// lookup in the table, under its lock, cost more than the rest of the hand-over.
std::atomic<unsigned long> handlesClosed{0};
struct RecentLookup {
    HANDLE handle = nullptr;
    vantrel_host::Object *object = nullptr;
    unsigned long closed = 0;
};
const unsigned kRecentLookups = 4;
thread_local RecentLookup recentLookups[kRecentLookups];
thread_local unsigned nextRecentLookup = 0;

// ---- Files -----------------------------------------------------------------

// What a drive letter opens: the file at `path` (DefineDosDeviceA), or
// `length` bytes from byte `offset` of a file the program has open
// (MapDriveToFile); a drive seen through it begins at that byte and ends
// after the last one, whatever the file holds beyond. A drive mapped to an
// open file holds its own duplicate of the descriptor (`fd`), and every open
// of the drive duplicates that one, so the file is opened only once however
// often the drive is.
struct DriveTarget {
    std::string path;
    ULONGLONG offset;
    ULONGLONG length;
    int fd = -1;
};
const ULONGLONG kWholeFile = ~0ull;

// Positions and sizes of a file are those of its range; a plain file's range
// is the whole file.
struct File : vantrel_host::Object {
    File(int descriptor, ULONGLONG start, ULONGLONG span)
        : Object(Kind::File), fd(descriptor), offset(start), length(span) {}
    ~File() override { ::close(fd); }
    const int fd;
    const ULONGLONG offset;
    const ULONGLONG length;
    std::mutex lockPosition;
    off_t position = 0;
    // True while every positioned read found its data in the page cache: a
    // volume already in memory gains nothing from read-ahead hints.
    std::atomic<bool> inMemory{true};

    // How many of `wanted` bytes from range position `at` lie in the range.
    size_t InRange(off_t at, size_t wanted) const
    {
        const ULONGLONG from = static_cast<ULONGLONG>(at);
        if (from >= length)
            return 0;
        return length - from < wanted ? static_cast<size_t>(length - from) : wanted;
    }
};

std::mutex lockDrives;
std::map<char, DriveTarget> &Drives()
{
    static auto *drives = new std::map<char, DriveTarget>;
    return *drives;
}

// Sets (or, with an empty path and no descriptor, removes) the mapping of
// `drive`, closing the descriptor of the mapping it replaces. Under lockDrives.
void SetDrive(char drive, DriveTarget target)
{
    auto found = Drives().find(drive);
    if (found != Drives().end()) {
        if (found->second.fd >= 0)
            ::close(found->second.fd);
        Drives().erase(found);
    }
    if (!target.path.empty() || target.fd >= 0)
        Drives()[drive] = std::move(target);
}

struct FaultRange {
    ULONGLONG offset, length;
    NTSTATUS status;
};
std::mutex lockFaults;
std::atomic<bool> faultsPlanted{false};   // FaultRanges() is not empty
std::vector<FaultRange> &FaultRanges()
{
    static auto *ranges = new std::vector<FaultRange>;
    return *ranges;
}

DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: case EISDIR: return ERROR_ACCESS_DENIED;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EIO: return ERROR_CRC;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_INVALID_PARAMETER;
    }
}

// Reads up to `length` bytes at `offset`, retrying short reads until the end
// of the file. While `*inMemory` is true, asks only for what the page cache
// holds (RWF_NOWAIT); the first read that would wait for the device, or a
// file that cannot be asked, sets it false for good. Returns the bytes read,
// or -1 with errno set.
ssize_t ReadAt(int fd, void *buffer, size_t length, off_t offset, std::atomic<bool> *inMemory = nullptr)
{
    size_t got = 0;
    while (got < length) {
        char *to = static_cast<char *>(buffer) + got;
        const off_t at = offset + static_cast<off_t>(got);
        ssize_t n;
        if (inMemory && inMemory->load(std::memory_order_relaxed)) {
            iovec part{to, length - got};
            n = ::preadv2(fd, &part, 1, at, RWF_NOWAIT);
            if (n < 0 && errno != EINTR) {
                inMemory->store(false, std::memory_order_relaxed);
                continue;
            }
        } else {
            n = ::pread(fd, to, length - got, at);
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// The injected status for a read of [offset, offset + length), if any.
bool FaultFor(ULONGLONG offset, ULONGLONG length, NTSTATUS *status)
{
    if (!faultsPlanted.load(std::memory_order_acquire))
        return false;
    std::lock_guard<std::mutex> hold(lockFaults);
    for (const FaultRange &range : FaultRanges()) {
        if (length > 0 && offset < range.offset + range.length && range.offset < offset + length) {
            *status = range.status;
            return true;
        }
    }
    return false;
}

}  // namespace

HANDLE vantrel_host::RegisterHandle(std::shared_ptr<Object> object)
{
    HANDLE handle = object.get();
    std::lock_guard<std::mutex> hold(lockTable);
    Table()[handle] = std::move(object);
    return handle;
}

vantrel_host::Object *vantrel_host::LookupHandle(HANDLE handle)
{
    const unsigned long closed = handlesClosed.load(std::memory_order_acquire);
    for (const RecentLookup &recent : recentLookups)
        if (recent.handle == handle && recent.closed == closed && handle != nullptr)
            return recent.object;
    std::lock_guard<std::mutex> hold(lockTable);
    auto found = Table().find(handle);
    if (found == Table().end())
        return nullptr;
    recentLookups[nextRecentLookup++ % kRecentLookups] = {handle, found->second.get(),
                                                        handlesClosed.load(std::memory_order_relaxed)};
    return found->second.get();
}

bool vantrel_host::UnregisterHandle(HANDLE handle)
{
    std::shared_ptr<Object> object;  // destroyed after the table is unlocked
    std::lock_guard<std::mutex> hold(lockTable);
    auto found = Table().find(handle);
    if (found == Table().end())
        return false;
    object = std::move(found->second);
    Table().erase(found);
    handlesClosed.fetch_add(1, std::memory_order_release);
    return true;
}

void vantrel_host::ResetFileFaults()
{
    std::lock_guard<std::mutex> hold(lockFaults);
    FaultRanges().clear();
    faultsPlanted.store(false, std::memory_order_release);
}

void FaultReadStatus(ULONGLONG offset, ULONGLONG length, NTSTATUS status)
{
    std::lock_guard<std::mutex> hold(lockFaults);
    FaultRanges().push_back({offset, length, status});
    faultsPlanted.store(true, std::memory_order_release);
}

BOOL CloseHandle(HANDLE hObject)
{
    // Files close their descriptor, mutex and thread handles drop their
    // reference to the shared object, all in the objects' destructors.
    if (!vantrel_host::UnregisterHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL MapDriveToFile(char letter, int fd, ULONGLONG offset, ULONGLONG length)
{
    const char drive = DriveLetterOf(letter);
    if (!drive || fd < 0 || offset > kWholeFile - length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    std::lock_guard<std::mutex> hold(lockDrives);
    SetDrive(drive, DriveTarget{std::string(), offset, length, own});
    return TRUE;
}

BOOL DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath)
{
    const char drive = DriveLetter(lpDeviceName);
    if (!drive) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> hold(lockDrives);
    if (dwFlags & DDD_REMOVE_DEFINITION) {
        if (!Drives().count(drive)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        SetDrive(drive, DriveTarget{std::string(), 0, 0});
        return TRUE;
    }
    if (!lpTargetPath || !*lpTargetPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SetDrive(drive, DriveTarget{lpTargetPath, 0, kWholeFile});
    return TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    // Share modes, security and flags have no meaning for read-only opens on
    // the host; unbuffered reads simply go through the page cache.
    (void)dwDesiredAccess, (void)dwShareMode, (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes, (void)hTemplateFile;
    if (!lpFileName || dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path = lpFileName;
    ULONGLONG offset = 0, length = kWholeFile;
    int fd = -1;
    if (path.compare(0, 4, "\\\\.\\") == 0) {
        const char drive = DeviceDriveLetter(lpFileName);
        std::lock_guard<std::mutex> hold(lockDrives);
        auto found = drive ? Drives().find(drive) : Drives().end();
        if (found == Drives().end()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        path = found->second.path;
        offset = found->second.offset;
        length = found->second.length;
        // A drive mapped to an open file: a descriptor of its own on that file.
        if (found->second.fd >= 0 && (fd = ::fcntl(found->second.fd, F_DUPFD_CLOEXEC, 0)) < 0) {
            SetLastError(ErrorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
    }
    // The program only ever reads, and its users may only have read
    // permission on the device, so every open is read-only.
    if (fd < 0) {
        do
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    try {
        return vantrel_host::RegisterHandle(std::make_shared<File>(fd, offset, length));
    } catch (const std::bad_alloc &) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void *lpOverlapped)
{
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    auto file = vantrel_host::LookupHandleAs<File>(hFile, Kind::File);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> hold(file->lockPosition);
    const size_t wanted = file->InRange(file->position, nNumberOfBytesToRead);
    ssize_t got = ReadAt(file->fd, lpBuffer, wanted, static_cast<off_t>(file->offset) + file->position);
    if (got < 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    // At the end of the file ReadFile succeeds with 0 bytes.
    file->position += got;
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = static_cast<DWORD>(got);
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    auto file = vantrel_host::LookupHandleAs<File>(hFile, Kind::File);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    struct stat info;
    if (::fstat(file->fd, &info) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    // A block device's size is where it ends, not what stat says.
    const off_t end = S_ISBLK(info.st_mode) ? ::lseek(file->fd, 0, SEEK_END) : info.st_size;
    const ULONGLONG whole = end > 0 ? static_cast<ULONGLONG>(end) : 0;
    const ULONGLONG beyond = whole > file->offset ? whole - file->offset : 0;
    const ULONGLONG size = beyond < file->length ? beyond : file->length;
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    const DWORD low = static_cast<DWORD>(size);
    // Tells a real low part of all ones from a failure.
    if (low == INVALID_FILE_SIZE)
        SetLastError(NO_ERROR);
    return low;
}

NTSTATUS NtReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                    PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer, ULONG Length,
                    PLARGE_INTEGER ByteOffset, PULONG Key)
{
    (void)ApcContext, (void)Key;
    NTSTATUS status = STATUS_SUCCESS;
    ssize_t got = 0;
    auto file = vantrel_host::LookupHandleAs<File>(FileHandle, Kind::File);
    if (!file) {
        status = STATUS_INVALID_HANDLE;
    } else if (Event || ApcRoutine || !IoStatusBlock || (!Buffer && Length) ||
               (ByteOffset && ByteOffset->QuadPart < 0)) {
        // Only the synchronous form is supported.
        status = STATUS_INVALID_PARAMETER;
    } else {
        std::lock_guard<std::mutex> hold(file->lockPosition);
        const off_t offset = ByteOffset ? static_cast<off_t>(ByteOffset->QuadPart) : file->position;
        if (FaultFor(static_cast<ULONGLONG>(offset), Length, &status)) {
            // The injected status stands; nothing is read.
        } else if (Length > 0) {
            const size_t wanted = file->InRange(offset, Length);
            got = wanted ? ReadAt(file->fd, Buffer, wanted, static_cast<off_t>(file->offset) + offset, &file->inMemory)
                         : 0;
            if (got < 0) {
                got = 0;
                status = STATUS_DEVICE_DATA_ERROR;
            } else if (got == 0) {
                // Nothing at all past the end; a read straddling the end
                // succeeds with the bytes that exist.
                status = STATUS_END_OF_FILE;
            } else {
                file->position = offset + got;
            }
        }
    }
    if (IoStatusBlock) {
        IoStatusBlock->Status = status;
        IoStatusBlock->Information = static_cast<ULONG_PTR>(got);
    }
    return status;
}

void PrefetchRange(HANDLE file, ULONGLONG offset, ULONG length)
{
    // Within the file's range, as its reads are; not while it is all in memory.
    auto object = vantrel_host::LookupHandleAs<File>(file, Kind::File);
    if (object && !object->inMemory.load(std::memory_order_relaxed))
        if (const size_t inRange = object->InRange(static_cast<off_t>(offset), length))
            ::posix_fadvise(object->fd, static_cast<off_t>(object->offset + offset), inRange, POSIX_FADV_WILLNEED);
}
