// FAT chains on 12-, 16- and 32-bit FATs. On FAT12 and FAT16 a chain ends
// only at the end-of-chain value (0xFFFF or 0xFFF) and the other reserved
// values are followed as cluster numbers as long as the image holds their
// entries; on FAT32 every link from 0x0FFFFFF8 ends a chain and a link past
// the volume's last cluster (the bad-cluster mark 0x0FFFFFF7 among them)
// breaks it. Every walk is bounded by the image read and by the number of
// clusters, so corrupt FATs cannot make it read outside the image or loop.
#include "engine/chains.h"

#include "engine/fatdisk.h"
#include "engine/geometry.h"

DWORD NumberOfExtents;

namespace {

// Entries held in the image. FAT12 and FAT16 cluster numbers are 16 bits, so
// at most 65536 of their entries are addressable.
DWORD EntriesInImage()
{
    const ULONGLONG entries = FatEntriesIn((ULONGLONG)FatSectors * SECTOR_SIZE, FatBits);
    if (FatBits == 32)
        return (DWORD)entries;
    return entries < 0x10000 ? (DWORD)entries : 0x10000;
}

// Longest chain a volume can hold; a walk that goes on longer loops.
DWORD MaxLinks()
{
    const DWORD entries = EntriesInImage();
    return TotalClusters < entries ? TotalClusters : entries;
}

// Walks the chain from `start`, counting clusters and, when `extents` is
// given, runs. False when the chain is broken or longer than `longest`.
bool WalkChain(const BYTE *pFat, DWORD start, DWORD longest, DWORD *count, DWORD *extents)
{
    const DWORD limit = MaxLinks() < longest ? MaxLinks() : longest;
    DWORD cluster = start;
    *count = 0;
    while (!EndsChain(cluster)) {
        if (cluster < 2 || *count == limit || (FatBits == 32 && cluster - 2 >= TotalClusters))
            return false;
        const DWORD next = NextCluster(pFat, cluster);
        if (next == NO_FAT_ENTRY)
            return false;
        if (extents != NULL && next != cluster + 1)
            (*extents)++;
        (*count)++;
        cluster = next;
    }
    return true;
}

}  // namespace

DWORD NextCluster(const BYTE *pFat, DWORD cluster)
{
    return FatLink(pFat, (ULONGLONG)FatSectors * SECTOR_SIZE, FatBits, cluster);
}

bool EndsChain(DWORD link)
{
    if (FatBits == 32)   // a first cluster above 28 bits is no end mark but out of range
        return link >= FAT32_END && link <= FAT32_MASK;
    return link == (FatBits == 16 ? 0xFFFFu : 0xFFFu);
}

bool MeasureDirChain(const BYTE *pFat, DWORD start, DWORD *count)
{
    return WalkChain(pFat, start, 0xFFFFFFFF, count, NULL);
}

bool MeasureFileChain(const BYTE *pFat, DWORD start, DWORD longest, DWORD *count)
{
    NumberOfExtents = 0;
    return WalkChain(pFat, start, longest, count, &NumberOfExtents);
}
