// Fuzz target: one input is a volume image, a memory file mapped to V:. The analysis runs as the
// window starts it (or, for an input named exFAT, as vantrel-scan starts an exFAT one) until its
// KIV_END; then what every analysis must leave behind is checked.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/exfatboot.h"
#include "engine/exfatscan.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/longpath.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "fuzzcheck.h"
#include "platform/posix/host.h"
#include "volume/volume.h"

namespace {

std::mutex lockMessage;
std::string lastMessage;   // why an analysis ended on an error
DWORD files, smallest, largest;

// Every file the scan records must be one whose chain fits its size.
void CheckFile(const BYTE *entry, LPCSTR path, DWORD clusters)
{
    const DWORD size = ld_32(&entry[DIR_FileSize]);
    const ULONGLONG whole = ExfatVolume ? ExfatFile.dataLength : size;   // exFAT sizes have 64 bits
    Check(!ExfatVolume || size == (whole < EX_STATS_MAX_SIZE ? whole : EX_STATS_MAX_SIZE),
          "an exFAT file's size is not its statistics' size");
    Check(clusters >= 1 && clusters <= TotalClusters && (ULONGLONG)(clusters - 1) * BytesPerCluster < whole &&
              whole <= (ULONGLONG)clusters * BytesPerCluster, "a measured file's chain does not fit its size");
    Check(NumberOfExtents >= 1 && NumberOfExtents <= clusters, "a file has more extents than clusters");
    Check(memchr(path, 0, 260) && strncmp(path, "V:\\", 3) == 0, "a path is not V:\\... within 260 bytes");
    Check(!KeepLongNames || (FileLongPath()[0] == '/' && FileShortPath().compare(0, 3, "V:\\") == 0 &&
                             (FileShortPath().size() < 260 ? FileShortPath() == path
                                                           : strncmp(path, "V:\\...\\", 7) == 0)),
          "a long path does not start at the root, or the window's path is not the short one");
    files++;
    smallest = size < smallest ? size : smallest;
    largest = size > largest ? size : largest;
}

// The threads this process runs now.
size_t Threads()
{
    size_t count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task"); it != std::filesystem::directory_iterator();
         ++it)
        count++;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    static const bool ready = [] {
        SetMessageBoxHook([](const char *, const char *text) {
            std::lock_guard<std::mutex> hold(lockMessage);
            lastMessage = text;
        });
        static char window;   // the host queue delivers to any window handle
        hWndMain = (HWND)&window;
        FileMeasured = CheckFile;
        GiveAway = false;
        strcpy(cDrive, "V:");
        // A sanitizer's runtime may start a thread of its own with the process's first thread
        // (ThreadSanitizer does): started now, it is not taken for a scan thread still running.
        std::thread([] {}).join();
        return (hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData")) != NULL;
    }();
    if (size > (4u << 20))
        return -1;   // larger inputs only slow the fuzzer down
    char path[64];
    const struct File { int fd; ~File() { close(fd); } } file{MemoryFile(data, size, path)};
    Check(ready && DefineDosDeviceA(DDD_RAW_TARGET_PATH, "V:", path) && OpenVolume(), "V: does not open");
    files = 0, smallest = 0xFFFFFFFF, largest = 0;
    // Half of the inputs walked as the analyzer walks, with long names and paths of any length.
    KeepLongNames = std::hash<std::string_view>{}(std::string_view((const char *)data, size)) % 2 == 0;
    lastMessage.clear();
    ResetStats();
    const size_t threads = Threads();
    const bool exfat = size >= SECTOR_SIZE && NamesExfat(data);
    if (exfat ? !StartExfatScan() : !KivNTInitialize() || !GetDiskStats() || !StartDirScanThread()) {
        Check(hVolumes == INVALID_HANDLE_VALUE && hTmp == NULL, "a refused volume was left open");
        return 0;
    }
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) && !(msg.message == WM_COMMAND && LOWORD(msg.wParam) == KIV_END))
        ;
    // The scan thread posts KIV_END before it has ended, and nobody holds its handle: its end shows
    // as one thread fewer. Until then its own memory is in use, which the leak checker, run after
    // each input, would report as lost.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Threads() > threads) {
        Check(std::chrono::steady_clock::now() < deadline, "the scan thread has not ended 10 s after its KIV_END");
        usleep(50);
    }
    Check(hVolumes == INVALID_HANDLE_VALUE && hTmp == NULL, "the volume or a directory is left after KIV_END");
    Check(TotalFiles == files && SmallestFileSize == smallest && LargestFileSize == largest,
          "the statistics differ from the files reported");
    Check(TotalFragFiles <= TotalFiles && MaxExtents <= TotalExtents && TotalExtents >= TotalFiles,
          "extent counts are inconsistent");
    // Faults are shown and skipped, but a subdirectory starting at the end of chain (whose
    // empty block cannot be locked): no input this small exhausts memory.
    std::lock_guard<std::mutex> hold(lockMessage);
    Check(WalkCompleted || lastMessage == "Error number 157 occured during NextDir - GlobalLock - Tmp.",
          "the walk ended on an error");
    for (LONG level = 0; WalkCompleted && level < MAX_LEVELS; level++)
        Check(Level < 0 && !hFiles && !FileCount && !hDir[level] && !DirCount[level], "a completed walk left work");
    return 0;
}
