// FAT chains on 12-bit and 16-bit FATs. A chain ends only at the end-of-chain
// value (0xFFFF or 0xFFF); the other reserved values are followed as cluster
// numbers as long as the image holds their entries. Every walk is bounded by
// the image read and by the number of clusters, so corrupt FATs cannot make
// it read outside the image or loop.
#include "engine/chains.h"

#include "engine/fatdisk.h"
#include "engine/geometry.h"

DWORD NumberOfExtents;

namespace {

DWORD EndOfChain()
{
    return FatBits == 16 ? 0xFFFF : 0xFFF;
}

// Cluster numbers are 16 bits, so at most 65536 entries are addressable.
DWORD EntriesInImage()
{
    const DWORD bytes = SectorsPerFat * SECTOR_SIZE;
    const DWORD entries = FatBits == 16 ? bytes / 2 : bytes * 2 / 3;
    return entries < 0x10000 ? entries : 0x10000;
}

// Longest chain a volume can hold; a walk that goes on longer loops.
DWORD MaxLinks()
{
    const DWORD entries = EntriesInImage();
    return TotalClusters < entries ? TotalClusters : entries;
}

// Walks the chain from `start`, counting clusters and, when `extents` is
// given, runs. False when the chain is broken or longer than `longest`.
bool WalkChain(const BYTE *pFat, WORD start, DWORD longest, WORD *count, DWORD *extents)
{
    const DWORD end = EndOfChain();
    const DWORD limit = MaxLinks() < longest ? MaxLinks() : longest;
    DWORD links = 0;
    DWORD cluster = start;
    *count = 0;
    while (cluster != end) {
        if (cluster < 2 || links == limit)
            return false;
        const DWORD next = NextCluster(pFat, (WORD)cluster);
        if (next == NO_FAT_ENTRY)
            return false;
        if (extents != NULL && next != cluster + 1)
            (*extents)++;
        links++;
        *count = (WORD)(*count + 1);
        cluster = next;
    }
    return true;
}

}  // namespace

DWORD NextCluster(const BYTE *pFat, WORD cluster)
{
    const DWORD bytes = SectorsPerFat * SECTOR_SIZE;
    if (FatBits == 16) {
        const DWORD at = (DWORD)cluster * 2;
        return at + 2 <= bytes ? ld_16(&pFat[at]) : NO_FAT_ENTRY;
    }
    const DWORD at = (DWORD)cluster + cluster / 2;
    if (at + 2 > bytes)
        return NO_FAT_ENTRY;
    const WORD pair = ld_16(&pFat[at]);
    return (cluster & 1) ? (DWORD)(pair >> 4) : (DWORD)(pair & 0xFFF);
}

bool MeasureDirChain(const BYTE *pFat, WORD start, WORD *count)
{
    return WalkChain(pFat, start, 0xFFFFFFFF, count, NULL);
}

bool MeasureFileChain(const BYTE *pFat, WORD start, DWORD longest, WORD *count)
{
    NumberOfExtents = 0;
    return WalkChain(pFat, start, longest, count, &NumberOfExtents);
}
