// The partition table at the head of a disk image: an MBR's primary
// partitions and the logical ones chained through the extended partition's
// boot records, or a GPT (protective MBR, header at LBA 1, entry array, both
// CRC-checked). Everything is read through a callback and checked against the
// image's size, so a damaged table yields a reason, never a read outside the
// image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads `length` bytes at byte `offset` of the image into `buffer`; false
// unless all of them were read.
using ReadImage = std::function<bool(uint64_t offset, void *buffer, size_t length)>;

struct Partition {
    unsigned number;        // MBR: 1-4 primary, 5 on logical; GPT: entry index + 1
    uint64_t start;         // bytes from the start of the image
    uint64_t size;          // bytes
    std::string type;       // MBR: "0x0e"; GPT: the type GUID
    std::string typeName;   // "FAT16 (LBA)", "EFI system", ... or ""
};

enum class TableKind { None, Mbr, Gpt };

struct PartitionTable {
    TableKind kind = TableKind::None;
    std::vector<Partition> partitions;   // the sound ones, in table order
    std::string error;                   // why the table is unusable, or ""
};

// Reads the partition table of an image of `imageSize` bytes. Kind None when
// the first sector holds no partition table, or is itself a FAT boot sector
// the analysis reads (whatever its partition-entry area holds).
PartitionTable ReadPartitionTable(const ReadImage &read, uint64_t imageSize);

// CRC-32 (IEEE 802.3, reflected), as the GPT uses it.
uint32_t Crc32(const uint8_t *data, size_t length);

// "mbr", "gpt" or "none": the kind's name in JSON.
const char *TableKindName(TableKind kind);
// "MBR", "GPT" or "no": the kind's label in messages and listings.
const char *TableKindLabel(TableKind kind);
