#include "exfatimage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include "engine/exfatdisk.h"

ExfatImage::ExfatImage(uint32_t count, unsigned clusterShift, unsigned sectorShift)
    : bytesPerSector(1u << sectorShift), fatLength(((count + 2) * 4 + bytesPerSector - 1) / bytesPerSector),
      clusters(count), bytesPerCluster(bytesPerSector << clusterShift)
{
    heapOffset = fatOffset + fatLength;
    const uint64_t sectors = heapOffset + (uint64_t)count * (bytesPerCluster / bytesPerSector);
    bytes.assign(sectors * bytesPerSector, 0);
    static const char jump[] = "\xEB\x76\x90" "EXFAT   ";
    for (int i = 0; i < 11; i++)
        bytes.at(i) = (uint8_t)jump[i];
    Put(EX_VolumeLength, sectors, 8);
    Put(EX_FatOffset, fatOffset, 4);
    Put(EX_FatLength, fatLength, 4);
    Put(EX_ClusterHeapOffset, heapOffset, 4);
    Put(EX_ClusterCount, count, 4);
    Put(EX_FirstClusterOfRootDirectory, RootDir, 4);
    bytes[EX_BytesPerSectorShift] = (uint8_t)sectorShift;
    bytes[EX_SectorsPerClusterShift] = (uint8_t)clusterShift;
    bytes[EX_NumberOfFats] = 1;
    bytes[EX_BootSignature] = 0x55;
    bytes[EX_BootSignature + 1] = 0xAA;
    Put((uint64_t)fatOffset * bytesPerSector, 0xFFFFFFF8, 4);
    Put((uint64_t)fatOffset * bytesPerSector + 4, 0xFFFFFFFF, 4);
    Chain({Bitmap});
    Chain({UpCase});
    Chain({RootDir});
    const size_t bitmap = Root(0), upcase = Root(1);
    bytes[bitmap] = EX_TYPE_BITMAP;
    Put(bitmap + EXB_FirstCluster, Bitmap, 4);
    Put(bitmap + EXB_DataLength, (count + 7) / 8, 8);
    bytes[upcase] = EX_TYPE_UPCASE;
    Put(upcase + 20, UpCase, 4);
    Put(upcase + 24, 2, 8);
    bytes[Root(2)] = EX_TYPE_LABEL;
    SealBoot();
}

void ExfatImage::SetLink(uint32_t cluster, uint32_t value)
{
    Put((uint64_t)fatOffset * bytesPerSector + cluster * 4ull, value, 4);
}

void ExfatImage::Allocate(uint32_t first, uint32_t count)
{
    for (uint32_t c = first; c < first + count; c++)
        bytes.at(Cluster(Bitmap) + (c - 2) / 8) |= (uint8_t)(1u << ((c - 2) % 8));
}

void ExfatImage::Chain(std::initializer_list<uint32_t> chain)
{
    for (const uint32_t *c = chain.begin(); c != chain.end(); c++) {
        SetLink(*c, c + 1 != chain.end() ? c[1] : End);
        Allocate(*c, 1);
    }
}

unsigned ExfatImage::Write(size_t at, const Set &set)
{
    const unsigned names = (unsigned)(set.name.size() + 14) / 15;
    bytes.at(at) = EX_TYPE_FILE;
    bytes.at(at + EXF_SecondaryCount) = (uint8_t)(1 + names);
    Put(at + EXF_FileAttributes, set.directory ? 0x10 : 0x20, 2);
    const size_t stream = at + 32;
    bytes.at(stream) = EX_TYPE_STREAM;
    bytes.at(stream + EXS_GeneralSecondaryFlags) = EXS_FLAG_ALLOCATION_POSSIBLE | (set.noFatChain ? EXS_FLAG_NO_FAT_CHAIN : 0);
    bytes.at(stream + EXS_NameLength) = (uint8_t)set.name.size();
    Put(stream + EXS_ValidDataLength, set.length, 8);
    Put(stream + EXS_FirstCluster, set.first, 4);
    Put(stream + EXS_DataLength, set.length, 8);
    for (unsigned n = 0; n < names; n++) {
        const size_t entry = at + 64 + n * 32;
        bytes.at(entry) = EX_TYPE_NAME;
        for (unsigned c = 0; c < 15 && n * 15 + c < set.name.size(); c++)
            Put(entry + EXN_FileName + c * 2, set.name[n * 15 + c], 2);
    }
    Reseal(at);
    return 2 + names;
}

void ExfatImage::Reseal(size_t at)
{
    const unsigned entries = 1 + bytes.at(at + EXF_SecondaryCount);
    Put(at + EXF_SetChecksum, ExfatSetChecksum(&bytes.at(at), entries), 2);
}

void ExfatImage::SealBoot()
{
    const uint32_t sum = ExfatBootChecksum(bytes.data(), 11 * bytesPerSector);
    for (uint32_t word = 0; word < bytesPerSector / 4; word++)
        Put(11 * bytesPerSector + word * 4, sum, 4);
    std::copy(bytes.begin(), bytes.begin() + 12 * bytesPerSector, bytes.begin() + 12 * bytesPerSector);
}

std::string ExfatImage::Save(const std::string &name) const
{
    const std::string file = "vantrel-" + std::to_string(getpid()) + "-" + name;
    const std::string path = (std::filesystem::temp_directory_path() / file).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write((const char *)bytes.data(), bytes.size());
    return path;
}
