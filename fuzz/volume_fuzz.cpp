// Fuzz target: one input is a whole volume image. The bytes are kept in a
// memory file mapped to drive V:, and the analysis runs the way the window
// starts it (volume services, volume preparation, scan thread) until the
// scan's KIV_END arrives. What every analysis must leave behind is checked
// afterwards; an analysis that does not end in time aborts, so that the fuzzer
// reports it as a hang. Callable any number of times in one process.
#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "fuzzcheck.h"
#include "platform/posix/host.h"
#include "volume/volume.h"

namespace {

// Larger inputs are skipped: they only slow the fuzzer down.
const size_t kMaxInput = 4u << 20;
const char kDrive[] = "V:";
// How long one analysis may take; VANTREL_FUZZ_TIMEOUT_MS overrides it.
const long long kDefaultTimeoutMs = 10000;

// Message boxes would only flood the fuzzer's output; the last one is kept
// to tell why an analysis ended on an error.
std::mutex lockMessage;
char lastMessage[512];

void KeepMessage(const char *, const char *text)
{
    std::lock_guard<std::mutex> hold(lockMessage);
    snprintf(lastMessage, sizeof lastMessage, "%s", text);
}

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- Watchdog ---------------------------------------------------------------

long long timeoutMs = kDefaultTimeoutMs;
// VANTREL_FUZZ_LENIENT=1: an analysis that ends on an error is not reported
// (for fuzzing past such a fault while it is unfixed).
bool lenient = false;
std::atomic<long long> deadline{0};   // steady-clock ms; 0 when no analysis runs

// Aborts the process when an armed deadline passes.
void Watch()
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const long long due = deadline.load();
        if (due != 0 && NowMs() > due) {
            fprintf(stderr, "volume_fuzz: the analysis did not end within %lld ms\n", timeoutMs);
            Fail("hang");
        }
    }
}

// ---- Files reported by the scan --------------------------------------------

// Filled on the scan thread, read on this one after KIV_END (the message
// queue's lock orders the two).
struct Measured {
    DWORD files;
    DWORD smallest;
    DWORD largest;
} measured;

// Every file the scan records must be one whose chain fits its size.
void CheckFile(const BYTE *entry, LPCSTR path, WORD clusters)
{
    const DWORD size = ld_32(&entry[DIR_FileSize]);
    Check(clusters >= 1 && clusters <= TotalClusters, "a measured chain is longer than the volume");
    Check((ULONGLONG)(clusters - 1) * BytesPerCluster < size && size <= (ULONGLONG)clusters * BytesPerCluster,
          "a measured file's chain does not fit its size");
    Check(NumberOfExtents >= 1 && NumberOfExtents <= clusters, "a file has more extents than clusters");
    Check(memchr(path, 0, 260) != nullptr, "a file path is not terminated within 260 bytes");
    Check(strncmp(path, "V:\\", 3) == 0, "a file path does not start at the drive's root");
    measured.files++;
    if (size < measured.smallest)
        measured.smallest = size;
    if (size > measured.largest)
        measured.largest = size;
}

// ---- The analysis -------------------------------------------------------------

void Setup()
{
    if (const char *value = getenv("VANTREL_FUZZ_TIMEOUT_MS"))
        timeoutMs = atoll(value) > 0 ? atoll(value) : kDefaultTimeoutMs;
    if (const char *value = getenv("VANTREL_FUZZ_LENIENT"))
        lenient = strcmp(value, "1") == 0;
    SetMessageBoxHook(KeepMessage);
    hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    Check(hMutex != NULL, "CreateMutexA failed");
    // The host queue delivers to any window handle.
    static char window;
    hWndMain = (HWND)&window;
    GiveAway = false;
    FileMeasured = CheckFile;
    std::thread(Watch).detach();
}

// Threads of this process, or -1 when they cannot be counted.
int ThreadCount()
{
    DIR *tasks = opendir("/proc/self/task");
    if (tasks == NULL)
        return -1;
    int count = 0;
    while (const dirent *task = readdir(tasks))
        if (task->d_name[0] != '.')
            count++;
    closedir(tasks);
    return count;
}

// The scan thread goes on for a moment after posting KIV_END; the next input
// must not start (nor a leak check run) before it has ended. Nobody holds its
// handle, so its end is seen in the count of threads.
void WaitForScanThreadExit(int before)
{
    if (before < 0)
        return;
    while (ThreadCount() > before)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void WaitForEnd()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == KIV_END)
            return;
    Fail("the message queue ended before KIV_END");
}

// Runs one whole analysis of the volume now mapped to V:.
void Analyse()
{
    // Nothing from an earlier analysis may be mistaken for this one's end.
    MSG stale;
    while (PeekMessageA(&stale, NULL, 0, 0, PM_REMOVE))
        ;
    strcpy(cDrive, kDrive);
    measured = Measured{0, 0xFFFFFFFF, 0};
    ResetStats();
    Running = ANALYSIS_RUNNING;
    if (!OpenVolume())
        Fail("OpenVolume cannot open the memory file behind V:");
    if (!KivNTInitialize() || !GetDiskStats())
        return;
    const int threads = ThreadCount();
    {
        std::lock_guard<std::mutex> hold(lockMessage);
        lastMessage[0] = 0;
    }
    if (!StartDirScanThread()) {
        Check(hVolumes == INVALID_HANDLE_VALUE, "a refused volume was left open");
        Check(hTmp == NULL, "a refused volume left its root directory allocated");
        return;
    }
    WaitForEnd();
    WaitForScanThreadExit(threads);

    Check(hVolumes == INVALID_HANDLE_VALUE, "the volume is still open after KIV_END");
    Check(hTmp == NULL, "a directory block is still allocated after KIV_END");
    Check(TotalFiles == measured.files, "TotalFiles differs from the files reported");
    Check(TotalFragFiles <= TotalFiles && MaxExtents <= TotalExtents, "extent counts are inconsistent");
    Check(TotalFiles == 0 || TotalExtents >= TotalFiles, "a measured file has no extent");
    Check(SmallestFileSize == measured.smallest && LargestFileSize == measured.largest,
          "smallest or largest file differs from the files reported");
    // Faults in the volume are shown and skipped; the one fault that ends a
    // walk is a subdirectory starting at the end of chain, whose empty block
    // cannot be locked. Nothing else may (no input this small exhausts memory).
    if (!WalkCompleted && !lenient) {
        std::lock_guard<std::mutex> hold(lockMessage);
        if (strcmp(lastMessage, "Error number 157 occured during NextDir - GlobalLock - Tmp.") != 0) {
            fprintf(stderr, "volume_fuzz: last message: %s\n", lastMessage);
            Fail("the walk ended on an error");
        }
    }
    if (WalkCompleted) {
        Check(Level < 0, "the walk completed above the root");
        Check(hFiles == NULL && FileCount == 0, "files were left unmeasured by a completed walk");
        for (LONG level = 0; level < MAX_LEVELS; level++)
            Check(hDir[level] == NULL && DirCount[level] == 0, "a completed walk left a directory level");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::once_flag once;
    std::call_once(once, Setup);
    if (size > kMaxInput)
        return -1;   // not added to the corpus

    const int fd = MemoryFile("vantrel-volume", data, size);
    Check(fd >= 0, "memfd_create or write failed");
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    Check(DefineDosDeviceA(DDD_RAW_TARGET_PATH, kDrive, path), "DefineDosDeviceA failed");

    deadline = NowMs() + timeoutMs;
    Analyse();
    deadline = 0;

    DefineDosDeviceA(DDD_REMOVE_DEFINITION, kDrive, NULL);
    // The drive the volume services keep open (until the next OpenVolume)
    // holds a descriptor of its own, so the memory file lives on until then.
    close(fd);
    return 0;
}
