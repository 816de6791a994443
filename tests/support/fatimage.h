// Lays out exact FAT12/FAT16 volume images in memory for tests: the boot
// sector's fields, FAT entries (in every copy), directory entries and cluster
// contents, including layouts that no formatter would make.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

struct FatLayout {
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 1;
    uint16_t reservedSectors = 1;
    uint8_t fats = 2;
    uint16_t rootEntries = 16;
    uint16_t sectorsPerFat = 1;
    uint32_t totalSectors = 0;
    bool totalIn32Bits = false;   // store totalSectors at offset 32, 0 at offset 19

    // A layout with exactly `clusters` data clusters and a FAT just big enough.
    static FatLayout For(uint32_t clusters, uint8_t sectorsPerCluster = 1, uint16_t rootEntries = 16);
    uint32_t RootSectors() const { return (rootEntries * 32u + 511) / 512; }
    uint32_t DataStart() const { return reservedSectors + fats * sectorsPerFat + RootSectors(); }
    uint32_t Clusters() const { return (totalSectors - DataStart()) / (sectorsPerCluster ? sectorsPerCluster : 256); }
    unsigned FatBits() const { return Clusters() > 4087 ? 16 : 12; }
};

class FatImage {
public:
    explicit FatImage(const FatLayout &layout);

    const FatLayout &layout() const { return layout_; }
    std::vector<uint8_t> &bytes() { return bytes_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

    uint16_t EndOfChain() const { return layout_.FatBits() == 16 ? 0xFFFF : 0xFFF; }
    // Sets the FAT entry of `cluster` in every copy (or only in copy `copy`).
    void SetLink(uint32_t cluster, uint16_t value, int copy = -1);
    // Links each cluster to the next and the last to the end of the chain.
    void Chain(std::initializer_list<uint16_t> clusters);

    size_t ClusterOffset(uint32_t cluster) const;
    size_t RootSlot(unsigned slot) const;
    size_t ClusterSlot(uint32_t cluster, unsigned slot) const;
    // Writes a directory entry: `name` is the 11 bytes of name and extension
    // ("README  TXT"), shorter names are padded with spaces.
    void PutEntry(size_t at, const char *name, uint8_t attributes, uint16_t firstCluster, uint32_t size);

    void Put8(size_t at, uint8_t value) { bytes_.at(at) = value; }
    void Put16(size_t at, uint16_t value);
    void Put32(size_t at, uint32_t value);

    // Writes the image to a file of this process in the temporary folder;
    // returns its path.
    std::string Save(const std::string &name) const;

private:
    FatLayout layout_;
    std::vector<uint8_t> bytes_;
};
