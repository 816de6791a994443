// What the first sector of a volume or disk image holds, told from its bytes
// alone, so that the analyzer can say why a path is not a volume the analysis
// reads before the engine refuses it in its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The master boot record's layout (an extended boot record's too).
const size_t MBR_Entries = 446;
const size_t MBR_EntrySize = 16;
const size_t PE_Status = 0;           // 0x00, or 0x80 for the active one
const size_t PE_Type = 4;
const size_t PE_FirstSector = 8;      // 32 bits
const size_t PE_Sectors = 12;         // 32 bits
const size_t BS_Signature = 510;      // 0x55, 0xAA

// True when `sector` (512 bytes) ends with the boot signature 0x55AA.
bool HasSignature(const uint8_t *sector);

enum class Content {
    Fat,             // a FAT12, FAT16 or FAT32 boot sector the analysis reads
    FatBadField,     // a FAT boot sector with a field the analysis refuses
    ExFat,
    Ntfs,
    PartitionTable,  // an MBR, or the protective MBR of a GPT disk
    Empty,           // all zeros
    NoSignature,     // no 0x55AA at 510 and nothing recognised
    Unknown,         // a boot signature, but no file system recognised
    TooSmall,        // less than one sector
};

struct Probe {
    Content content;
    std::string what;   // "FAT16", "exFAT", "too small: 300 bytes", ...
};

// Why the analysis would refuse the FAT boot sector `boot` (512 bytes), or
// "" when it reads it: the field that breaks the first of the probe's rules
// (engine/fatboot.cpp), those of the volume services and of the engine that
// need no more than the boot sector.
std::string FatBootFault(const uint8_t *boot);

// "FAT12", "FAT16" or "FAT32": the FAT width of the volume whose boot sector
// `boot` passed FatBootFault.
const char *FatKind(const uint8_t *boot);

// True when `sector` (512 bytes) is a master boot record: a boot signature,
// status bytes 0x00 or 0x80 and an entry in use, and no FAT boot sector the
// analysis reads (mkfs.fat --mbr writes both in one sector: that is a volume).
bool HoldsPartitionTable(const uint8_t *sector);

// Tells what `bytes` bytes read from the start of a volume hold; `sector`
// holds them (at least 512 are read when there are that many).
Probe ProbeSector(const uint8_t *sector, size_t bytes);
