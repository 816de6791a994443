// The scan thread and its statistics. The thread holds MutexForCommonData for
// its whole life except for one release and re-take before each file, which is
// when the UI thread can take it to refresh the panel.
#include "engine/scan.h"

#include <cstring>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/exfatscan.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/longpath.h"
#include "engine/walker.h"

DWORD TotalFiles;
DWORD ZeroLengthFileCount;
DWORD TotalFragFiles;
ULONGLONG TotalFilesSize;
DWORD LargestFileSize;
DWORD SmallestFileSize = 0xFFFFFFFF;
DWORD TotalExtents;
DWORD MaxExtents;
char LargestFileName[260];
char SmallestFileName[260];
char MaxExtentsFileName[260];

std::atomic<bool> TotalExtentsChanged;
std::atomic<bool> LargestFileChanged;
std::atomic<bool> SmallestFileChanged;
std::atomic<bool> MaxExtentsChanged;
std::atomic<bool> TotalFragChanged;

bool GiveAway = true;
std::atomic<bool> WalkCompleted;
FILEMEASURED FileMeasured;

namespace {

// How the files of one directory ended.
enum FilesResult { FILES_DONE, FILES_FAILED, FILES_ENDED };

// Appends `text` to the `length` characters at `buffer` of `size` bytes and
// terminates them, cutting the text short rather than overflowing; returns
// the new length.
size_t AppendText(char *buffer, size_t size, size_t length, const char *text)
{
    while (*text != 0 && length + 1 < size)
        buffer[length++] = *text++;
    buffer[length] = 0;
    return length;
}

// Reads a FAT32 root directory, a chain like any other directory's, into
// hTmp; false after showing why.
bool ReadRoot()
{
    if (!ReadDirectory(RootCluster))
        return false;
    if (hTmp == NULL)
        ErrorBox("ERROR - StartDirScanThread - Broken root directory chain");
    return hTmp != NULL;
}

// Ends the thread after it has lost the mutex in the file loop: the volume is
// closed and the main window told, with nothing else released.
FilesResult EndWithoutMutex()
{
    CloseVolume();
    Terminate();
    return FILES_ENDED;
}

// True when a chain of `clusters` clusters is exactly long enough for `size`.
bool ChainFitsSize(DWORD clusters, DWORD size)
{
    const ULONGLONG bytes = (ULONGLONG)clusters * BytesPerCluster;
    return clusters != 0 && bytes - BytesPerCluster < size && bytes >= size;
}

// Measures one file entry; cFileName already names it.
void MeasureFile(const BYTE *fat, const BYTE *entry)
{
    const DWORD first = FirstClusterOf(entry, FatBits);
    const DWORD size = ld_32(&entry[DIR_FileSize]);
    NumberOfExtents = 0;
    if (first != 0) {
        const DWORD longest = (DWORD)(((ULONGLONG)size + BytesPerCluster - 1) / BytesPerCluster);
        DWORD clusters;
        if (MeasureFileChain(fat, first, longest, &clusters) && ChainFitsSize(clusters, size))
            CalculateStats(entry, cFileName, clusters);
        else
            NoteSkipped(SKIPPED_FILE_CHAIN_MISMATCH);
    } else if (size == 0) {
        ZeroLengthFileCount++;
    } else {
        NoteSkipped(SKIPPED_FILE_CHAIN_MISMATCH);
    }
}

// Measures the remaining files of the current directory.
FilesResult MeasureFiles()
{
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    if (fat == NULL) {
        ErrorHandling("Error number %ld occured during DirScanThread - GlobalLock - Fat.");
        return FILES_FAILED;
    }
    const BYTE *files = (const BYTE *)GlobalLock(hFiles);
    if (files == NULL) {
        ErrorHandling("Error number %ld occured during DirScanThread - GlobalLock - Files.");
        GlobalUnlock(hFat);
        return FILES_FAILED;
    }
    char cDirPath[256];
    strcpy(cDirPath, cDrive);
    size_t dirLength = strlen(cDirPath);
    for (LONG level = 0; level <= Level; level++)
        dirLength = AppendText(cDirPath, sizeof cDirPath, dirLength, DirName[level]);

    for (; FileCount != 0; pFileEntry++, FileCount--) {
        if (GiveAway)
            Sleep(50);
        while (Running == ANALYSIS_PAUSED)
            Sleep(100);
        if (!ReleaseMutex(hMutex)) {
            ErrorHandling("Error number %ld occured during DirScanThread - ReleaseMutex - Looped.");
            return EndWithoutMutex();
        }
        const DWORD wait = WaitForSingleObject(hMutex, MUTEX_WAIT);
        if (wait != WAIT_OBJECT_0) {
            ErrorHandling("Error number %ld occured during DirScanThread - WaitForSingleObject - Looped.");
            if (wait == WAIT_ABANDONED)   // taken over from an ended owner: ours to give back
                ReleaseMutex(hMutex);
            return EndWithoutMutex();
        }
        const BYTE *entry = files + pFileEntry * SZ_DIRE;
        char name[13];
        GetEntryName(name, entry);
        memcpy(cFileName, cDirPath, dirLength);
        AppendText(cFileName, sizeof cFileName, dirLength, name);
        if (KeepLongNames)
            NameFile(pFileEntry);
        MeasureFile(fat, entry);
    }
    GlobalUnlock(hFiles);
    GlobalUnlock(hFat);
    return FILES_DONE;
}

// Walks the directories; true when every directory was walked. Sets `ended`
// when the thread has already signalled its end.
bool Walk(bool *ended)
{
    for (;;) {
        if (FileCount != 0) {
            const FilesResult result = MeasureFiles();
            if (result != FILES_DONE) {
                *ended = result == FILES_ENDED;
                return false;
            }
        }
        if (hFiles != NULL)
            GlobalFree(hFiles);
        hFiles = NULL;
        if (!NextDir())
            return Level < 0;
        if (hTmp != NULL) {
            if (!CountEntries() || !LoadDirs() || !LoadFiles())
                return false;
            GlobalFree(hTmp);
            hTmp = NULL;
        }
    }
}

}  // namespace

void ResetStats()
{
    TotalFiles = 0;
    ZeroLengthFileCount = 0;
    TotalFragFiles = 0;
    TotalFilesSize = 0;
    LargestFileSize = 0;
    SmallestFileSize = 0xFFFFFFFF;
    TotalExtents = 0;
    MaxExtents = 0;
    TotalExtentsChanged = false;
    LargestFileChanged = false;
    SmallestFileChanged = false;
    MaxExtentsChanged = false;
    TotalFragChanged = false;
}

bool StartDirScanThread()
{
    ExfatVolume = false;
    ResetWalk();
    if (!PrepareVolume())
        return false;
    bool loaded = PrepareWalk() && (FatBits != 32 || ReadRoot());
    loaded = loaded && CountEntries() && LoadDirs() && LoadFiles();
    if (hTmp != NULL)
        GlobalFree(hTmp);
    hTmp = NULL;
    if (!loaded) {
        CloseVolume();
        return false;
    }
    HANDLE hThread = CreateThread(NULL, 0, DirScanThread, NULL, 0, NULL);
    if (hThread == NULL) {
        ErrorBox("ERROR - StartDirScanThread - CreateThread");
        CloseVolume();
        return false;
    }
    // Nobody waits for the thread.
    CloseHandle(hThread);
    return true;
}

bool EnterScanThread()
{
    WalkCompleted = false;
    const DWORD wait = WaitForSingleObject(hMutex, MUTEX_WAIT);
    if (wait == WAIT_OBJECT_0)
        return true;
    // The window must still hear of the end, or it would stay running.
    ErrorHandling("Error number %ld occured during DirScanThread - WaitForSingleObject - Entry.");
    if (wait == WAIT_ABANDONED)
        ReleaseMutex(hMutex);
    CloseVolume();
    Terminate();
    return false;
}

DWORD WINAPI DirScanThread(LPVOID)
{
    if (!EnterScanThread())
        return 0;
    bool ended = false;
    WalkCompleted = Walk(&ended);
    if (ended)
        return 0;

    if (hTmp != NULL)
        GlobalFree(hTmp);
    hTmp = NULL;
    if (!ReleaseMutex(hMutex))
        ErrorHandling("Error number %ld occured during DirScanThread - ReleaseMutex - Exit.");
    CloseVolume();
    Terminate();
    return 0;
}

void CalculateStats(const BYTE *entry, LPCSTR path, DWORD clusters)
{
    const DWORD size = ld_32(&entry[DIR_FileSize]);
    TotalFiles++;
    TotalFilesSize += (ULONGLONG)clusters * BytesPerCluster;
    if (size > LargestFileSize) {
        LargestFileSize = size;
        strcpy(LargestFileName, path);
        LargestFileChanged = true;
        if (KeepLongNames)
            KeepRecordPaths(LargestFileLongPath, LargestFileShortPath);
    }
    if (size != 0 && size < SmallestFileSize) {
        SmallestFileSize = size;
        strcpy(SmallestFileName, path);
        SmallestFileChanged = true;
        if (KeepLongNames)
            KeepRecordPaths(SmallestFileLongPath, SmallestFileShortPath);
    }
    if (NumberOfExtents != 0) {
        TotalExtentsChanged = true;
        TotalExtents += NumberOfExtents;
    }
    if (NumberOfExtents > 1) {
        TotalFragChanged = true;
        TotalFragFiles++;
    }
    if (NumberOfExtents > MaxExtents) {
        MaxExtents = NumberOfExtents;
        strcpy(MaxExtentsFileName, path);
        MaxExtentsChanged = true;
        if (KeepLongNames)
            KeepRecordPaths(MaxExtentsFileLongPath, MaxExtentsFileShortPath);
    }
    if (FileMeasured != NULL)
        FileMeasured(entry, path, clusters);
}

void Terminate()
{
    if (!PostMessageA(hWndMain, WM_COMMAND, KIV_END, 0))
        ErrorHandling("Error number %ld occured during Terminate - PostMessage.");
}
