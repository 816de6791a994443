// The directory walker. Every loop over entry slots is bounded by DirEntries
// and by the counts taken first; every cluster is read as directory data at
// most once per walk, so a tree that refers back to itself, or directories
// whose chains run into each other, cannot make the walk repeat; and the
// level stack and path buffers are never exceeded.
#include "engine/walker.h"

#include <cstring>

#include "app/kivifat.h"
#include "engine/chains.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/longpath.h"

LONG Level;
char DirName[MAX_LEVELS][DIR_NAME_SIZE];
HGLOBAL hDir[MAX_LEVELS];
DWORD pDirEntry[MAX_LEVELS];
DWORD DirCount[MAX_LEVELS];

DWORD FileCount;
HGLOBAL hFiles;
DWORD pFileEntry;
DIRREAD DirClusterRead;

namespace {

// Clusters read as directory data during this walk: one bit per cluster
// number a chain can hold: every 16-bit number on FAT12 and FAT16 (whose
// chains may pass through entries past the volume's last cluster), up to the
// volume's last on FAT32.
HGLOBAL hDirClustersRead;
BYTE *DirClustersRead;

// A FAT directory holds at most 65536 entries; chains longer than that are
// read only that far.
const ULONGLONG MaxDirBytes = 0x10000 * SZ_DIRE;

enum SlotKind { SLOT_END, SLOT_IGNORED, SLOT_DIR, SLOT_FILE };

SlotKind Classify(const BYTE *slot)
{
    if (slot[DIR_Name] == DIR_END)
        return SLOT_END;
    if (slot[DIR_Name] == DIR_DELETED || (slot[DIR_Attr] & ATTR_VOLUME_ID) != 0)
        return SLOT_IGNORED;   // deleted, volume label, long-name slot
    if ((slot[DIR_Attr] & ATTR_DIRECTORY) != 0)
        return slot[DIR_Name] == DIR_DOT ? SLOT_IGNORED : SLOT_DIR;
    return SLOT_FILE;
}

// Copies the slots of `kind` from `raw` into `destination`, at most `limit`.
void CopySlots(BYTE *destination, const BYTE *raw, SlotKind kind, DWORD limit)
{
    DWORD copied = 0;
    for (DWORD slot = 0; slot < DirEntries && copied < limit; slot++) {
        const BYTE *entry = raw + slot * SZ_DIRE;
        const SlotKind found = Classify(entry);
        if (found == SLOT_END)
            break;
        if (found == kind)
            memcpy(destination + SZ_DIRE * copied++, entry, SZ_DIRE);
    }
}

size_t PathLength()
{
    size_t length = strlen(cDrive);
    for (LONG level = 0; level <= Level; level++)
        length += strlen(DirName[level]);
    return length;
}

// True when a subdirectory `name` fits the level stack and the path buffers
// (the analyzer's paths have no limit).
bool MayEnter(const char *name)
{
    if (Level + 1 >= MAX_LEVELS) {
        NoteSkipped(SKIPPED_TOO_DEEP);
        return false;
    }
    return KeepLongNames || PathLength() + strlen(name) + 1 <= MAX_DIR_PATH;
}

// Claims the first `count` clusters of the complete chain from `start` for
// this directory; false, claiming none, when one was read as directory data
// already (the directory was entered before, or its chain runs into another's).
bool ClaimChain(const BYTE *fat, DWORD start, DWORD count)
{
    DWORD cluster = start;
    for (DWORD claimed = 0; claimed < count; claimed++, cluster = NextCluster(fat, cluster))
        if (DirClustersRead[cluster / 8] & (1u << (cluster % 8)))
            return false;
    cluster = start;
    for (DWORD claimed = 0; claimed < count; claimed++, cluster = NextCluster(fat, cluster)) {
        DirClustersRead[cluster / 8] |= (BYTE)(1u << (cluster % 8));
        if (DirClusterRead != NULL)
            DirClusterRead(cluster);
    }
    return true;
}

// True when one of the `sectors` sectors of directory slots at `raw` holds
// the end marker.
bool HoldsEndMarker(const BYTE *raw, DWORD sectors)
{
    for (DWORD slot = 0; slot < sectors * (SECTOR_SIZE / SZ_DIRE); slot++)
        if (Classify(raw + slot * SZ_DIRE) == SLOT_END)
            return true;
    return false;
}

// Reads the first `count` clusters of the chain from `start` into `raw`, but
// only as far as the walk looks: up to the sector that holds the directory's
// end marker. Most directories end in their first sector or two, so the reads
// start at two sectors and grow by half of what was read so far (never more
// than a sector, or half as much again, beyond what is needed), one cluster
// at a time. A run that fails is read again a sector at a time, to the end
// of its cluster, so that only a sector the walk needs can fail; that failure
// ends the directory at the start of its cluster. Returns the bytes at `raw`
// that hold the directory's slots; nothing after them is read.
ULONGLONG ReadChain(const BYTE *fat, DWORD start, DWORD count, BYTE *raw)
{
    DWORD cluster = start;
    DWORD sectorsRead = 0;
    for (DWORD read = 0; read < count; read++) {
        BYTE *data = raw + (size_t)read * BytesPerCluster;
        bool bySector = false;
        for (DWORD sector = 0; sector < SectorsPerCluster;) {
            DWORD run = bySector ? 1 : sectorsRead / 2 > 2 ? sectorsRead / 2 : 2;
            if (run > SectorsPerCluster - sector)
                run = SectorsPerCluster - sector;
            if (run > 1 && ReadClusterSectors(cluster, sector, run, data) != 0) {
                bySector = true;
                continue;
            }
            if (run == 1 && !GetCluster(cluster, sector, 1, data)) {
                NoteSkipped(SKIPPED_UNREADABLE_DIR);
                return (ULONGLONG)read * BytesPerCluster;
            }
            sector += run;
            sectorsRead += run;
            if (HoldsEndMarker(data + (size_t)(sector - run) * SECTOR_SIZE, run))
                return (ULONGLONG)read * BytesPerCluster + (ULONGLONG)sector * SECTOR_SIZE;
        }
        cluster = NextCluster(fat, cluster);
    }
    return (ULONGLONG)count * BytesPerCluster;
}

// Enters the subdirectory at pDirEntry of the current level.
bool EnterDir()
{
    const BYTE *dirs = (const BYTE *)GlobalLock(hDir[Level]);
    if (dirs == NULL) {
        ErrorHandling("Error number %ld occured during NextDir - GlobalLock - Dir.");
        return false;
    }
    const BYTE *entry = dirs + pDirEntry[Level] * SZ_DIRE;
    char name[13];
    GetEntryName(name, entry);
    const DWORD start = FirstClusterOf(entry, FatBits);
    GlobalUnlock(hDir[Level]);
    DirCount[Level]--;
    pDirEntry[Level]++;
    if (!MayEnter(name))
        return true;
    Level++;
    strcpy(DirName[Level], name);
    strcat(DirName[Level], "\\");
    if (KeepLongNames)
        EnterLongDir(pDirEntry[Level - 1] - 1);
    return ReadDirectory(start);
}

}  // namespace

void ResetWalk()
{
    for (LONG level = 0; level < MAX_LEVELS; level++) {
        if (hDir[level] != NULL)
            GlobalFree(hDir[level]);
        hDir[level] = NULL;
        DirCount[level] = 0;
        pDirEntry[level] = 0;
        DirName[level][0] = 0;
    }
    if (hFiles != NULL)
        GlobalFree(hFiles);
    hFiles = NULL;
    FileCount = 0;
    pFileEntry = 0;
    if (hDirClustersRead != NULL) {
        GlobalUnlock(hDirClustersRead);
        GlobalFree(hDirClustersRead);
    }
    hDirClustersRead = NULL;
    DirClustersRead = NULL;
    strcpy(DirName[0], "\\");
    Level = 0;
    ResetLongNames();
}

bool PrepareWalk()
{
    const SIZE_T numbers = FatBits == 32 ? (SIZE_T)TotalClusters + 2 : 0x10000;
    hDirClustersRead = GlobalAlloc(GHND, (numbers + 7) / 8);
    if (hDirClustersRead == NULL) {
        ErrorHandling("Error number %ld occured during StartDirScanThread - GlobalAlloc.");
        return false;
    }
    DirClustersRead = (BYTE *)GlobalLock(hDirClustersRead);
    if (DirClustersRead == NULL) {
        ErrorHandling("Error number %ld occured during StartDirScanThread - GlobalLock.");
        return false;
    }
    return true;
}

bool ReadDirectory(DWORD start)
{
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    if (fat == NULL) {
        ErrorHandling(FatBits == 12   ? "Error number %ld occured during NextDir - GlobalLock - 12bit."
                      : FatBits == 16 ? "Error number %ld occured during NextDir - GlobalLock - 16bit."
                                      : "Error number %ld occured during NextDir - GlobalLock - 32bit.");
        return false;
    }
    DWORD count;
    if (!MeasureDirChain(fat, start, &count)) {
        NoteSkipped(SKIPPED_BROKEN_DIR_CHAIN);
        GlobalUnlock(hFat);
        return true;
    }
    if ((ULONGLONG)count * BytesPerCluster > MaxDirBytes)
        count = (DWORD)(MaxDirBytes / BytesPerCluster);
    if (!ClaimChain(fat, start, count)) {
        NoteSkipped(SKIPPED_DIR_ENTERED_BEFORE);
        GlobalUnlock(hFat);
        return true;
    }
    // Not zero-filled: only the slots read are ever looked at.
    hTmp = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)count * BytesPerCluster);
    if (hTmp == NULL) {
        ErrorHandling("Error number %ld occured during NextDir - GlobalAlloc.");
        GlobalUnlock(hFat);
        return false;
    }
    BYTE *raw = (BYTE *)GlobalLock(hTmp);
    if (raw == NULL) {
        ErrorHandling("Error number %ld occured during NextDir - GlobalLock - Tmp.");
        GlobalUnlock(hFat);
        return false;
    }
    DirEntries = (DWORD)(ReadChain(fat, start, count, raw) / SZ_DIRE);
    GlobalUnlock(hTmp);
    GlobalUnlock(hFat);
    return true;
}

bool CountEntries()
{
    FileCount = 0;
    DirCount[Level] = 0;
    const BYTE *raw = (const BYTE *)GlobalLock(hTmp);
    if (raw == NULL) {
        ErrorHandling("Error number %ld occured during CountEntries - GlobalLock.");
        return false;
    }
    if (KeepLongNames)
        NameEntries(raw);
    for (DWORD slot = 0; slot < DirEntries; slot++) {
        const SlotKind kind = Classify(raw + slot * SZ_DIRE);
        if (kind == SLOT_END)
            break;
        if (kind == SLOT_FILE)
            FileCount++;
        else if (kind == SLOT_DIR)
            DirCount[Level]++;
        if (KeepLongNames && (kind == SLOT_FILE || kind == SLOT_DIR))
            NameEntry(slot, kind == SLOT_DIR);
    }
    GlobalUnlock(hTmp);
    return true;
}

bool LoadDirs()
{
    if (DirCount[Level] == 0)
        return true;
    hDir[Level] = GlobalAlloc(GHND, (SIZE_T)DirCount[Level] * SZ_DIRE);
    if (hDir[Level] == NULL) {
        ErrorHandling("Error number %ld occured during LoadDirs - GlobalAlloc.");
        return false;
    }
    BYTE *dirs = (BYTE *)GlobalLock(hDir[Level]);
    if (dirs == NULL) {
        ErrorHandling("Error number %ld occured during LoadDirs - GlobalLock - Dir.");
        return false;
    }
    const BYTE *raw = (const BYTE *)GlobalLock(hTmp);
    if (raw == NULL) {
        ErrorHandling("Error number %ld occured during LoadDirs - GlobalLock - Tmp.");
        GlobalUnlock(hDir[Level]);
        return false;
    }
    CopySlots(dirs, raw, SLOT_DIR, DirCount[Level]);
    pDirEntry[Level] = 0;
    // The device can work on all of them at once while the walk goes on.
    for (DWORD dir = 0; dir < DirCount[Level]; dir++)
        PrefetchCluster(FirstClusterOf(dirs + dir * SZ_DIRE, FatBits));
    GlobalUnlock(hTmp);
    GlobalUnlock(hDir[Level]);
    return true;
}

bool LoadFiles()
{
    if (FileCount == 0)
        return true;
    hFiles = GlobalAlloc(GHND, (SIZE_T)FileCount * SZ_DIRE);
    if (hFiles == NULL) {
        ErrorHandling("Error number %ld occured during LoadFiles - GlobalAlloc.");
        return false;
    }
    BYTE *files = (BYTE *)GlobalLock(hFiles);
    const BYTE *raw = files != NULL ? (const BYTE *)GlobalLock(hTmp) : NULL;
    if (raw == NULL) {
        ErrorHandling("Error number %ld occured during LoadFiles - GlobalLock.");
        if (files != NULL)
            GlobalUnlock(hFiles);
        return false;
    }
    CopySlots(files, raw, SLOT_FILE, FileCount);
    pFileEntry = 0;
    GlobalUnlock(hTmp);
    GlobalUnlock(hFiles);
    return true;
}

bool NextDir()
{
    if (DirCount[Level] != 0)
        return EnterDir();
    if (hDir[Level] != NULL)
        GlobalFree(hDir[Level]);
    hDir[Level] = NULL;
    Level--;
    return Level >= 0;
}

void GetEntryName(char *destination, const BYTE *entry)
{
    char *out = destination;
    for (int i = 0; i < 8; i++)
        if (entry[DIR_Name + i] != ' ')
            *out++ = (char)entry[DIR_Name + i];
    if (entry[DIR_Name + 8] != ' ') {
        *out++ = '.';
        for (int i = 8; i < 11; i++)
            if (entry[DIR_Name + i] != ' ')
                *out++ = (char)entry[DIR_Name + i];
    }
    *out = 0;
}
