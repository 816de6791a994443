// Exact exFAT images laid out byte by byte for the tests (also as no
// formatter would): sectors of 512 bytes or more, the boot region and its backup with
// their checksums, one FAT, the allocation bitmap in cluster 2, an up-case
// table in cluster 3, the root directory in cluster 4 (its slots 0 to 2 the
// bitmap, up-case and label entries), and entry sets written with their
// checksums.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct ExfatImage {
    // `clusters` clusters of sectors of 1 << sectorShift bytes, 1 << clusterShift sectors each.
    explicit ExfatImage(uint32_t clusters, unsigned clusterShift = 0, unsigned sectorShift = 9);

    static const uint32_t Bitmap = 2, UpCase = 3, RootDir = 4;
    static const uint32_t End = 0xFFFFFFFF;
    uint32_t bytesPerSector, fatOffset = 24, fatLength, heapOffset, clusters, bytesPerCluster;

    size_t Cluster(uint32_t cluster, unsigned slot = 0) const
    {
        return (uint64_t)heapOffset * bytesPerSector + (cluster - 2ull) * bytesPerCluster + slot * 32ull;
    }
    size_t Root(unsigned slot) const { return Cluster(RootDir, slot); }
    void SetLink(uint32_t cluster, uint32_t value);
    // Links each cluster to the next and the last to the end of chain, and
    // marks them all in use in the bitmap.
    void Chain(std::initializer_list<uint32_t> chain);
    void Allocate(uint32_t first, uint32_t count);

    struct Set {
        std::u16string name;
        bool directory = false;
        uint32_t first = 0;
        uint64_t length = 0;
        bool noFatChain = false;
    };
    // Writes the entry set of `set` at `at`; its slot count (3 and up).
    unsigned Write(size_t at, const Set &set);
    // Sets the file entry at `at`'s SetChecksum again after a test changed the set.
    void Reseal(size_t at);

    // Writes the boot region's checksum sector and copies the region to the
    // backup; the test then damages what it tests.
    void SealBoot();
    void Put(size_t at, uint64_t value, int count)   // little-endian
    {
        for (int i = 0; i < count; i++)
            bytes.at(at + i) = (uint8_t)(value >> 8 * i);
    }
    std::string Save(const std::string &name) const;

    std::vector<uint8_t> bytes;
};
