// What the tests stand on, in both builds: exact FAT12/16/32 images laid out byte by byte (also
// as no formatter would), message boxes captured, drive letters mapped to image files, a window
// for the scan thread's commands, and analyses started as the window starts them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32.h"

struct FatLayout {
    uint8_t sectorsPerCluster = 1, fats = 2;   // 0 sectors per cluster stand for 256
    uint16_t reservedSectors = 1, rootEntries = 16;
    uint32_t sectorsPerFat = 1;
    uint32_t totalSectors = 0;   // in the 32-bit field from 65536 on
    bool fat32 = false;          // the FAT's size at offset 36, no root entries, the root a chain
    uint32_t rootCluster = 2;

    // Exactly `clusters` data clusters, and a FAT just big enough for them.
    static FatLayout For(uint32_t clusters, uint8_t sectorsPerCluster = 1, uint16_t rootEntries = 16);
    // The same for FAT32, with the FSInfo sector (sector 1, holding nonsense) reserved too.
    static FatLayout For32(uint32_t clusters, uint8_t sectorsPerCluster = 1);
    uint32_t DataStart() const { return reservedSectors + fats * sectorsPerFat + (rootEntries * 32u + 511) / 512; }
    uint32_t Clusters() const { return (totalSectors - DataStart()) / (sectorsPerCluster ? sectorsPerCluster : 256); }
    unsigned FatBits() const { return fat32 ? 32 : Clusters() > 4087 ? 16 : 12; }
};

struct FatImage {
    explicit FatImage(const FatLayout &layout);
    uint32_t End() const { return layout.fat32 ? 0x0FFFFFFF : layout.FatBits() == 16 ? 0xFFFF : 0xFFF; }
    // Sets the FAT entry of `cluster` in every copy, or in copy `copy` only.
    void SetLink(uint32_t cluster, uint32_t value, int copy = -1);
    // Links each cluster to the next, and the last one to the end of chain.
    void Chain(std::initializer_list<uint16_t> clusters)
    {
        for (const uint16_t *cluster = clusters.begin(); cluster != clusters.end(); cluster++)
            SetLink(*cluster, cluster + 1 != clusters.end() ? cluster[1] : End());
    }
    // Byte offsets of 32-byte directory slots (a FAT32 root's in its first cluster).
    size_t Root(unsigned slot) const
    {
        return layout.fat32 ? Cluster(layout.rootCluster, slot)
                            : (layout.reservedSectors + layout.fats * layout.sectorsPerFat) * 512 + slot * 32u;
    }
    size_t Cluster(uint32_t cluster, unsigned slot = 0) const
    {
        const size_t perCluster = layout.sectorsPerCluster ? layout.sectorsPerCluster : 256;
        return ((cluster - 2) * perCluster + layout.DataStart()) * 512 + slot * 32;
    }
    // A directory entry; `name` is the 8 + 3 characters ("README  TXT"), padded with spaces.
    // The first cluster's high 16 bits go to offset 20.
    void Entry(size_t at, const char *name, uint8_t attributes, uint32_t first, uint32_t size);
    // A file of `size` bytes in one cluster; a directory of one cluster with its "." and "..".
    void File(size_t at, const char *name, uint16_t cluster, uint32_t size = 10);
    void Dir(size_t at, const char *name, uint16_t cluster, uint16_t parent);
    // Long-name slots for the short entry at `at`, ordinal k at `slots[k - 1]` (by default right
    // before the entry): 13 characters each, a 0x0000 after the name and 0xFFFF up to the slot's end.
    void LongName(size_t at, const std::u16string &name, std::vector<size_t> slots = {});
    void Put(size_t at, uint32_t value, int count)   // little-endian
    {
        for (int i = 0; i < count; i++)
            bytes.at(at + i) = (uint8_t)(value >> 8 * i);
    }
    // Writes the image to a file of this process in the temporary folder; its path.
    std::string Save(const std::string &name) const;

    FatLayout layout;
    std::vector<uint8_t> bytes;
};


// Boxes are captured from any thread and return IDOK at once.
void RecordMessage(const char *text);
void ClearMessages();
// Success when as many boxes as `ends` were shown, each text ending with its counterpart.
::testing::AssertionResult Shown(const std::vector<std::string> &ends);

bool MapDrive(char letter, const std::string &path);
void UnmapDrive(char letter);
HWND TestWindow();   // a window that the scan thread's posts reach
// Waits for WM_COMMAND `command` posted to TestWindow(), dropping other messages.
bool WaitForCommand(unsigned command, unsigned milliseconds);

// Saves `image`, maps it as V:, selects V: in cDrive and forgets the boxes shown.
std::string UseImage(const FatImage &image);
// Starts an analysis of `image` as the window does, without the pause per file (false when
// refused); RunAnalysis also waits for its KIV_END.
bool StartAnalysis(const FatImage &image);
bool RunAnalysis(const FatImage &image);
