// The test image builder.
#include "support/fatimage.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

FatLayout FatLayout::For(uint32_t clusters, uint8_t sectorsPerCluster, uint16_t rootEntries)
{
    FatLayout layout;
    layout.sectorsPerCluster = sectorsPerCluster;
    layout.rootEntries = rootEntries;
    const uint32_t entries = clusters + 2;
    const uint32_t fatBytes = clusters > 4087 ? entries * 2 : (entries * 3 + 1) / 2;
    layout.sectorsPerFat = (uint16_t)((fatBytes + 511) / 512);
    layout.totalSectors = layout.DataStart() + clusters * (sectorsPerCluster ? sectorsPerCluster : 256u);
    return layout;
}

FatImage::FatImage(const FatLayout &layout) : layout_(layout), bytes_((size_t)layout.totalSectors * 512)
{
    if (bytes_.size() < 512)
        throw std::invalid_argument("an image needs at least its boot sector");
    bytes_[0] = 0xEB;
    bytes_[1] = 0x3C;
    bytes_[2] = 0x90;
    memcpy(&bytes_[3], "VANTREL ", 8);
    Put16(11, layout.bytesPerSector);
    Put8(13, layout.sectorsPerCluster);
    Put16(14, layout.reservedSectors);
    Put8(16, layout.fats);
    Put16(17, layout.rootEntries);
    const bool small = !layout.totalIn32Bits && layout.totalSectors < 0x10000;
    Put16(19, small ? (uint16_t)layout.totalSectors : 0);
    Put8(21, 0xF8);
    Put16(22, layout.sectorsPerFat);
    Put32(32, small ? 0 : layout.totalSectors);
    Put16(510, 0xAA55);
    // Entries 0 and 1 hold the media byte and an end mark, as formatters write them.
    if (layout.fats > 0 && layout.sectorsPerFat > 0) {
        SetLink(0, layout.FatBits() == 16 ? 0xFFF8 : 0xFF8);
        SetLink(1, EndOfChain());
    }
}

void FatImage::SetLink(uint32_t cluster, uint16_t value, int copy)
{
    for (int fat = 0; fat < layout_.fats; fat++) {
        if (copy >= 0 && fat != copy)
            continue;
        const size_t base = (size_t)(layout_.reservedSectors + fat * layout_.sectorsPerFat) * 512;
        if (layout_.FatBits() == 16) {
            Put16(base + cluster * 2, value);
            continue;
        }
        const size_t at = base + cluster + cluster / 2;
        const uint16_t pair = (uint16_t)(bytes_.at(at) | bytes_.at(at + 1) << 8);
        Put16(at, (cluster & 1) ? (uint16_t)((pair & 0x000F) | (value << 4))
                                : (uint16_t)((pair & 0xF000) | (value & 0xFFF)));
    }
}

void FatImage::Chain(std::initializer_list<uint16_t> clusters)
{
    const uint16_t *cluster = clusters.begin();
    for (; cluster + 1 < clusters.end(); cluster++)
        SetLink(cluster[0], cluster[1]);
    if (cluster < clusters.end())
        SetLink(*cluster, EndOfChain());
}

size_t FatImage::ClusterOffset(uint32_t cluster) const
{
    const uint32_t perCluster = layout_.sectorsPerCluster ? layout_.sectorsPerCluster : 256;
    return ((size_t)(cluster - 2) * perCluster + layout_.DataStart()) * 512;
}

size_t FatImage::RootSlot(unsigned slot) const
{
    return (size_t)(layout_.reservedSectors + layout_.fats * layout_.sectorsPerFat) * 512 + slot * 32;
}

size_t FatImage::ClusterSlot(uint32_t cluster, unsigned slot) const
{
    return ClusterOffset(cluster) + slot * 32;
}

void FatImage::PutEntry(size_t at, const char *name, uint8_t attributes, uint16_t firstCluster, uint32_t size)
{
    char padded[11];
    memset(padded, ' ', sizeof padded);
    memcpy(padded, name, strnlen(name, sizeof padded));
    for (size_t i = 0; i < sizeof padded; i++)
        Put8(at + i, (uint8_t)padded[i]);
    Put8(at + 11, attributes);
    Put16(at + 26, firstCluster);
    Put32(at + 28, size);
}

void FatImage::Put16(size_t at, uint16_t value)
{
    bytes_.at(at) = (uint8_t)value;
    bytes_.at(at + 1) = (uint8_t)(value >> 8);
}

void FatImage::Put32(size_t at, uint32_t value)
{
    Put16(at, (uint16_t)value);
    Put16(at + 2, (uint16_t)(value >> 16));
}

std::string FatImage::Save(const std::string &name) const
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vantrel-tests";
    std::filesystem::create_directories(folder);
    // The process id keeps test programs that run side by side apart.
    const std::filesystem::path path = folder / (std::to_string(getpid()) + "-" + name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char *)bytes_.data(), (std::streamsize)bytes_.size());
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    return path.string();
}
