// The exFAT walk: directories in directory order, pre-order depth-first, each
// directory's files measured before its subdirectories are entered, as on
// FAT. Every read is bounded by the volume's geometry checked first, every
// chain by ClusterCount, every directory by 65,536 entries, and every
// cluster is read as directory data at most once per walk.
#include "engine/exfatscan.h"

#include <cstring>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/exfatboot.h"
#include "engine/geometry.h"
#include "engine/longpath.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "volume/volume.h"

bool ExfatVolume;
ULONGLONG ExfatFreeClusters;
bool ExfatBackupBoot;
ExfatEntry ExfatFile;
std::vector<ExfatRun> ExfatFileRuns;
std::vector<ExfatRun> ExfatSystemRuns;
DWORD ExfatFragmentedDirectories;

namespace {

ExfatBoot Boot;
ULONGLONG FatStart;                     // byte offset of the current FAT
std::vector<BYTE> FatSector;            // the FAT sector read last
ULONGLONG FatSectorRead = ~0ull;        // its number within the FAT
std::vector<BYTE> DirClustersRead;      // a bit per cluster number read as directory data
std::vector<BYTE> Bitmap;               // the allocation bitmap, ClusterCount bits at least

// A directory is read up to 65,536 entries, as on FAT.
const ULONGLONG MaxDirBytes = 0x10000 * SZ_DIRE;
// Directory data is read in pieces of at most this, up to the end marker.
const ULONGLONG DirPiece = 16384;

void ShowStatus(const char *where, NTSTATUS status)
{
    char message[96];
    wsprintfA(message, "Error number 0x%0X occured during %s - NtReadFile", status, where);
    ErrorBox(message);
}

bool Fail(const char *message)
{
    if (message != NULL)
        ErrorBox(message);
    CloseVolume();
    return false;
}

ULONGLONG ClusterOffset(DWORD cluster)
{
    return ((ULONGLONG)Boot.heapOffset << Boot.sectorShift) + (ULONGLONG)(cluster - 2) * Boot.bytesPerCluster;
}

bool InHeap(DWORD cluster)
{
    return cluster >= 2 && cluster - 2 < Boot.clusterCount;
}

// Reads the FAT link of `cluster` (in the heap) into *next; false, after
// showing why, when its sector cannot be read. Only the sectors the chains
// pass through are read.
bool FatNext(DWORD cluster, DWORD *next)
{
    const ULONGLONG byte = (ULONGLONG)cluster * EX_FAT_ENTRY;
    const ULONGLONG sector = byte >> Boot.sectorShift;
    if (sector != FatSectorRead) {
        const NTSTATUS status = ReadVolume(FatStart + (sector << Boot.sectorShift), (ULONG)Boot.bytesPerSector,
                                          FatSector.data());
        if (status != 0) {
            FatSectorRead = ~0ull;
            ShowStatus("exFAT FAT", status);
            return false;
        }
        FatSectorRead = sector;
    }
    *next = ld_32(&FatSector[byte & (Boot.bytesPerSector - 1)]);
    return true;
}

void AddCluster(std::vector<ExfatRun> *runs, DWORD cluster)
{
    if (!runs->empty() && runs->back().first + runs->back().length == cluster)
        runs->back().length++;
    else
        runs->push_back({cluster, 1});
}

enum RegionResult { REGION_SOUND, REGION_DAMAGED, REGION_REFUSED };

// Reads the boot region of (1 << shift)-byte sectors at sector `at` of that
// size and decodes it into Boot: damaged when it does not read or its
// checksum does not match, refused (with the rule's message) when it is
// sound but breaks a rule.
RegionResult ReadBootRegion(DWORD shift, ULONGLONG at)
{
    std::vector<BYTE> region((size_t)EX_BOOT_REGION << shift);
    if (ReadVolume(at << shift, (ULONG)region.size(), region.data()) != 0 || !BootRegionSound(region.data(), shift))
        return REGION_DAMAGED;
    Boot = DecodeExfatBoot(region.data());
    const ExfatRule broken = BrokenExfatRule(region.data(), Boot);
    if (broken == EXBOOT_SOUND)
        return REGION_SOUND;
    char message[160];
    wsprintfA(message, "ERROR - exFAT boot sector - %s", ExfatRuleText(broken));
    ErrorBox(message);
    return REGION_REFUSED;
}

// The main boot region or, when it is damaged, the backup one: of the main
// one's sector size, or of any when that size is damaged too.
bool ReadBoot()
{
    // The largest sector: a device of 4,096-byte sectors reads no less.
    BYTE first[1u << EX_MAX_SECTOR_SHIFT];
    if (const NTSTATUS status = ReadVolume(0, sizeof first, first)) {
        ShowStatus("exFAT boot sector", status);
        return false;
    }
    const DWORD shift = first[EX_BytesPerSectorShift];
    if (shift >= EX_MIN_SECTOR_SHIFT && shift <= EX_MAX_SECTOR_SHIFT) {
        const RegionResult main = ReadBootRegion(shift, 0);
        if (main != REGION_DAMAGED)
            return main == REGION_SOUND;
    }
    for (DWORD s = EX_MIN_SECTOR_SHIFT; s <= EX_MAX_SECTOR_SHIFT; s++) {
        const RegionResult backup = ReadBootRegion(s, EX_BACKUP_REGION);
        if (backup == REGION_DAMAGED)
            continue;
        if (backup == REGION_SOUND) {
            ExfatBackupBoot = true;
            ErrorBox("WARNING - exFAT main boot region damaged: its checksum does not match; the backup region is read");
        }
        return backup == REGION_SOUND;
    }
    ErrorBox("ERROR - exFAT boot region damaged: its checksum does not match, nor the backup region's");
    return false;
}

// Claims `runs` (at most `clusters` clusters of them) as directory data;
// false, claiming none, when one of them was read as directory data before.
bool ClaimRuns(const std::vector<ExfatRun> &runs, ULONGLONG clusters)
{
    ULONGLONG seen = 0;
    for (const ExfatRun &run : runs)
        for (DWORD c = run.first; c - run.first < run.length && seen < clusters; c++, seen++)
            if (DirClustersRead[c / 8] & (1u << (c % 8)))
                return false;
    seen = 0;
    if (runs.size() > 1 && runs[0].length < clusters)
        ExfatFragmentedDirectories++;
    for (const ExfatRun &run : runs)
        for (DWORD c = run.first; c - run.first < run.length && seen < clusters; c++, seen++) {
            DirClustersRead[c / 8] |= (BYTE)(1u << (c % 8));
            if (DirClusterRead != NULL)
                DirClusterRead(c);
        }
    return true;
}

bool HoldsEnd(const BYTE *data, ULONGLONG bytes)
{
    for (ULONGLONG slot = 0; slot < bytes / SZ_DIRE; slot++)
        if (data[slot * SZ_DIRE + EX_EntryType] == EX_TYPE_END)
            return true;
    return false;
}

// Reads the directory whose data is `runs` into `slots`, in pieces, up to the
// piece that holds its end marker and at most 65,536 entries. A piece that
// cannot be read ends the directory at its cluster's start. False when the
// directory is skipped (already counted).
bool ReadDirectoryData(std::vector<ExfatRun> &runs, std::vector<BYTE> *slots)
{
    const ULONGLONG clusters = (MaxDirBytes + Boot.bytesPerCluster - 1) / Boot.bytesPerCluster;
    if (!ClaimRuns(runs, clusters)) {
        NoteSkipped(SKIPPED_DIR_ENTERED_BEFORE);
        return false;
    }
    slots->clear();
    const ULONGLONG piece = Boot.bytesPerCluster < DirPiece ? Boot.bytesPerCluster : DirPiece;
    for (const ExfatRun &run : runs)
        for (DWORD c = run.first; c - run.first < run.length; c++) {
            const size_t clusterStart = slots->size();
            for (ULONGLONG at = 0; at < Boot.bytesPerCluster; at += piece) {
                if (slots->size() >= MaxDirBytes)
                    return true;
                const size_t from = slots->size();
                slots->resize(from + (size_t)piece);
                if (const NTSTATUS status = ReadVolume(ClusterOffset(c) + at, (ULONG)piece, slots->data() + from)) {
                    ShowStatus("exFAT directory", status);
                    NoteSkipped(SKIPPED_UNREADABLE_DIR);
                    slots->resize(clusterStart);
                    return true;
                }
                if (HoldsEnd(slots->data() + from, piece))
                    return true;
            }
        }
    return true;
}

// Counts the clear bits of the allocation bitmap over ClusterCount, reading
// it once (its clusters consecutive from its first, as it is written).
bool CountFree(const BYTE *root, DWORD rootSlots)
{
    DWORD first;
    ULONGLONG length;
    if (!FindBitmapEntry(root, rootSlots, Boot.fats, Boot.activeFat, &first, &length))
        return Fail("ERROR - exFAT - No allocation bitmap in the root directory");
    const ULONGLONG needed = ((ULONGLONG)Boot.clusterCount + 7) / 8;
    if (length < needed)
        return Fail("ERROR - exFAT - Allocation bitmap shorter than ClusterCount needs");
    const ULONGLONG clusters = (needed + Boot.bytesPerCluster - 1) / Boot.bytesPerCluster;
    if (!InHeap(first) || first - 2 + clusters > Boot.clusterCount)
        return Fail("ERROR - exFAT - Allocation bitmap outside the cluster heap");
    const ULONGLONG bytes = (needed + Boot.bytesPerSector - 1) & ~(Boot.bytesPerSector - 1);
    Bitmap.assign((size_t)bytes, 0);
    if (const NTSTATUS status = ReadVolume(ClusterOffset(first), (ULONG)bytes, Bitmap.data())) {
        ShowStatus("exFAT allocation bitmap", status);
        return Fail(NULL);
    }
    ULONGLONG used = 0;
    for (DWORD c = 0; c < Boot.clusterCount; c++)
        used += (Bitmap[c / 8] >> (c % 8)) & 1;
    ExfatFreeClusters = Boot.clusterCount - used;
    ExfatSystemRuns.push_back({first, (DWORD)clusters});
    return true;
}

// Notes the up-case table's clusters, when the root names one in the heap.
void NoteUpCase(const BYTE *root, DWORD rootSlots)
{
    for (DWORD index = 0; index < rootSlots && root[index * SZ_DIRE] != EX_TYPE_END; index++) {
        const BYTE *slot = root + (size_t)index * SZ_DIRE;
        if (slot[EX_EntryType] != EX_TYPE_UPCASE)
            continue;
        const DWORD first = ld_32(&slot[EXU_FirstCluster]);
        const ULONGLONG clusters = (ld_64(&slot[EXU_DataLength]) + Boot.bytesPerCluster - 1) / Boot.bytesPerCluster;
        if (InHeap(first) && clusters != 0 && first - 2 + clusters <= Boot.clusterCount)
            ExfatSystemRuns.push_back({first, (DWORD)clusters});
        return;
    }
}

// The whole paths of `name` in the current directory: "/dir/name" and the
// window's form, "V:\dir\name" (exFAT has no short names).
void NameIn(const std::string &longDir, const std::string &shortDir, const std::string &name)
{
    SetFilePaths(longDir + name, shortDir + name);
    ShortenPathInto(cFileName, sizeof cFileName, shortDir + name);
}

// Records one file; the mutex is held.
void MeasureExfatFile(const ExfatEntry &file)
{
    ExfatFile = file;
    ExfatFileRuns.clear();
    NumberOfExtents = 0;
    if (file.firstCluster == 0 && file.dataLength == 0) {
        ZeroLengthFileCount++;
        return;
    }
    const ULONGLONG needed = (file.dataLength + Boot.bytesPerCluster - 1) / Boot.bytesPerCluster;
    if (needed == 0 || !ExfatChain(file.firstCluster, file.noFatChain, needed, &ExfatFileRuns)) {
        NoteSkipped(SKIPPED_FILE_CHAIN_MISMATCH);
        return;
    }
    NumberOfExtents = (DWORD)ExfatFileRuns.size();
    BYTE entry[SZ_DIRE] = {};
    entry[DIR_Attr] = ATTR_ARCHIVE;
    const DWORD size = file.dataLength < EX_STATS_MAX_SIZE ? (DWORD)file.dataLength : EX_STATS_MAX_SIZE;
    for (int i = 0; i < 4; i++)
        entry[DIR_FileSize + i] = (BYTE)(size >> (8 * i));
    CalculateStats(entry, cFileName, (DWORD)needed);
}

// Gives the UI thread its chance at the statistics before the next file;
// false when the mutex is lost (the thread then ends without it).
bool PassMutex()
{
    if (GiveAway)
        Sleep(50);
    while (Running == ANALYSIS_PAUSED)
        Sleep(100);
    if (!ReleaseMutex(hMutex)) {
        ErrorHandling("Error number %ld occured during DirScanThread - ReleaseMutex - Looped.");
        return false;
    }
    const DWORD wait = WaitForSingleObject(hMutex, MUTEX_WAIT);
    if (wait == WAIT_OBJECT_0)
        return true;
    ErrorHandling("Error number %ld occured during DirScanThread - WaitForSingleObject - Looped.");
    if (wait == WAIT_ABANDONED)
        ReleaseMutex(hMutex);
    return false;
}

enum WalkResult { WALK_DONE, WALK_LOST_MUTEX };

// Walks the directory whose data is `runs` at `level`, named `longDir` and
// `shortDir` (each ending in its separator).
WalkResult WalkDirectory(std::vector<ExfatRun> runs, LONG level, const std::string &longDir,
                         const std::string &shortDir)
{
    std::vector<BYTE> raw;
    if (!ReadDirectoryData(runs, &raw))
        return WALK_DONE;
    std::vector<ExfatEntry> files, dirs;
    const DWORD count = (DWORD)(raw.size() / SZ_DIRE);
    ExfatEntry entry;
    for (DWORD index = 0;;) {
        const ExfatSlot slot = DecodeSlot(raw.data(), count, &index, &entry);
        if (slot == EXSLOT_END)
            break;
        if (slot == EXSLOT_BAD)
            NoteSkipped(SKIPPED_BAD_ENTRY_SET);
        else if (slot == EXSLOT_ENTRY)
            (entry.directory ? dirs : files).push_back(entry);
    }
    raw = std::vector<BYTE>();
    Level = level;
    if (KeepLongNames) {
        LongDirPath = longDir;
        ShortDirPath = shortDir;
        if (DirLoaded != NULL)
            DirLoaded();
    }
    for (const ExfatEntry &file : files) {
        if (!PassMutex())
            return WALK_LOST_MUTEX;
        NameIn(longDir, shortDir, file.name);
        MeasureExfatFile(file);
    }
    for (const ExfatEntry &dir : dirs) {
        if (level + 1 >= MAX_LEVELS) {
            NoteSkipped(SKIPPED_TOO_DEEP);
            continue;
        }
        const ULONGLONG needed = (dir.dataLength + Boot.bytesPerCluster - 1) / Boot.bytesPerCluster;
        std::vector<ExfatRun> dirRuns;
        if (needed == 0 || !ExfatChain(dir.firstCluster, dir.noFatChain, needed, &dirRuns)) {
            NoteSkipped(SKIPPED_BROKEN_DIR_CHAIN);
            continue;
        }
        if (WalkDirectory(dirRuns, level + 1, longDir + dir.name + "/", shortDir + dir.name + "\\") != WALK_DONE)
            return WALK_LOST_MUTEX;
    }
    return WALK_DONE;
}

std::vector<ExfatRun> RootRuns;

DWORD WINAPI ExfatScanThread(LPVOID)
{
    if (!EnterScanThread())
        return 0;
    const std::string shortRoot = std::string(cDrive) + "\\";
    if (WalkDirectory(RootRuns, 0, "/", shortRoot) != WALK_DONE) {
        CloseVolume();
        Terminate();
        return 0;
    }
    Level = -1;
    WalkCompleted = true;
    if (!ReleaseMutex(hMutex))
        ErrorHandling("Error number %ld occured during DirScanThread - ReleaseMutex - Exit.");
    CloseVolume();
    Terminate();
    return 0;
}

}  // namespace

bool ExfatClusterInUse(DWORD cluster)
{
    return InHeap(cluster) && (size_t)(cluster - 2) / 8 < Bitmap.size() &&
           ((Bitmap[(cluster - 2) / 8] >> ((cluster - 2) % 8)) & 1) != 0;
}

bool ExfatChain(DWORD first, bool noFatChain, ULONGLONG needed, std::vector<ExfatRun> *runs)
{
    runs->clear();
    if (!InHeap(first) || needed > Boot.clusterCount)
        return false;
    if (noFatChain) {
        if (needed == 0 || first - 2 + needed > Boot.clusterCount)
            return false;
        runs->push_back({first, (DWORD)needed});
        return true;
    }
    const ULONGLONG limit = needed != 0 ? needed : Boot.clusterCount;
    DWORD cluster = first;
    for (ULONGLONG seen = 1;; seen++) {
        AddCluster(runs, cluster);
        DWORD next;
        if (!FatNext(cluster, &next))
            return false;
        if (next == EX_FAT_END)
            return needed == 0 || seen == needed;
        if (seen == limit || !InHeap(next))
            return false;   // longer than its size needs (or a loop), or broken
        cluster = next;
    }
}

bool StartExfatScan()
{
    ResetWalk();
    ExfatVolume = true;
    ExfatBackupBoot = false;
    ExfatFreeClusters = 0;
    ExfatSystemRuns.clear();
    ExfatFragmentedDirectories = 0;
    Bitmap.clear();
    FatSectorRead = ~0ull;
    CloseVolume();
    char path[8] = "\\\\.\\";
    strcat(path, cDrive);
    hVolumes = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (hVolumes == INVALID_HANDLE_VALUE) {
        ErrorHandling("Error number %ld occured during StartDirScanThread - CreateFile.");
        return false;
    }
    if (!ReadBoot())
        return Fail(NULL);
    // The heap's last sector must be there to be read: a boot sector cannot
    // claim more clusters (and bitmap) than the image holds.
    BYTE probe[4096];
    if (ReadVolume((Boot.heapEnd - 1) << Boot.sectorShift, (ULONG)Boot.bytesPerSector, probe) != 0)
        return Fail("ERROR - exFAT - Cluster heap beyond the end of the volume");
    FatStart = ((ULONGLONG)Boot.fatOffset + (ULONGLONG)Boot.activeFat * Boot.fatLength) << Boot.sectorShift;
    FatSector.assign((size_t)Boot.bytesPerSector, 0);
    DirClustersRead.assign(((size_t)Boot.clusterCount + 2 + 7) / 8, 0);
    BytesPerSector = (DWORD)Boot.bytesPerSector;
    SectorsPerCluster = 1u << Boot.clusterShift;
    BytesPerCluster = (DWORD)Boot.bytesPerCluster;
    TotalClusters = Boot.clusterCount;
    FatBits = 32;
    RootCluster = Boot.rootCluster;
    Cluster2 = Boot.heapOffset;
    TotalSectors = Boot.volumeLength < 0xFFFFFFFFull ? (DWORD)Boot.volumeLength : 0xFFFFFFFFu;

    if (!ExfatChain(Boot.rootCluster, false, 0, &RootRuns))
        return Fail("ERROR - StartDirScanThread - Broken root directory chain");
    // The root is read here for its bitmap entry, and again by the walk,
    // which claims its clusters.
    std::vector<BYTE> root((size_t)(Boot.bytesPerCluster < MaxDirBytes ? Boot.bytesPerCluster : MaxDirBytes));
    if (const NTSTATUS status = ReadVolume(ClusterOffset(Boot.rootCluster), (ULONG)root.size(), root.data())) {
        ShowStatus("exFAT root directory", status);
        return Fail(NULL);
    }
    if (!CountFree(root.data(), (DWORD)(root.size() / SZ_DIRE)))
        return false;
    NoteUpCase(root.data(), (DWORD)(root.size() / SZ_DIRE));
    ClusterSize = Boot.bytesPerCluster;
    TotalSpace = (ULONGLONG)Boot.clusterCount * Boot.bytesPerCluster;
    FreeSpace = ExfatFreeClusters * Boot.bytesPerCluster / 1000;

    HANDLE hThread = CreateThread(NULL, 0, ExfatScanThread, NULL, 0, NULL);
    if (hThread == NULL)
        return Fail("ERROR - StartDirScanThread - CreateThread");
    CloseHandle(hThread);
    return true;
}
