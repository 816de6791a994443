// The partition-table reader and the first-sector probe on images built byte
// by byte: sound MBR and GPT tables, and the damaged ones that must end in a
// reason (loops, overlaps, entries past the image, bad CRCs), never in a read
// outside the image.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cli/partitions.h"
#include "cli/probe.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes &b, size_t at, uint64_t v) { for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> 8 * i); }
void Put64(Bytes &b, size_t at, uint64_t v) { Put32(b, at, v); Put32(b, at + 4, v >> 32); }

// Entry `slot` of the table in sector `lba`, which gets a boot signature.
void Entry(Bytes &b, uint64_t lba, int slot, uint8_t type, uint32_t first, uint32_t count)
{
    const size_t at = lba * 512 + 446 + slot * 16;
    b[at + 4] = type;
    Put32(b, at + 8, first);
    Put32(b, at + 12, count);
    b[lba * 512 + 510] = 0x55;
    b[lba * 512 + 511] = 0xAA;
}

// A FAT16 boot sector: 32768 sectors, 4 per cluster, one 32-sector FAT, 512 root entries.
void Fat16Boot(Bytes &b, size_t at = 0)
{
    const uint8_t head[] = {0xEB, 0x3C, 0x90};
    memcpy(&b[at], head, 3);
    b[at + 11] = 0x00, b[at + 12] = 0x02, b[at + 13] = 4, b[at + 14] = 1, b[at + 16] = 1;
    b[at + 17] = 0x00, b[at + 18] = 0x02, b[at + 19] = 0x00, b[at + 20] = 0x80, b[at + 22] = 32;
    b[at + 510] = 0x55, b[at + 511] = 0xAA;
}

// A GPT disk of 64 sectors: entries at LBA 2, usable LBAs 6 to 59, and one
// partition per {first, last}; the CRCs are set unless a mutation follows.
Bytes Gpt(std::vector<std::pair<uint64_t, uint64_t>> parts, uint32_t count = 4)
{
    Bytes b(64 * 512);
    Entry(b, 0, 0, 0xEE, 1, 63);
    memcpy(&b[512], "EFI PART", 8);
    Put32(b, 512 + 12, 92);
    Put64(b, 512 + 24, 1);
    Put64(b, 512 + 40, 6);
    Put64(b, 512 + 48, 59);
    Put64(b, 512 + 72, 2);
    Put32(b, 512 + 80, count);
    Put32(b, 512 + 84, 128);
    for (size_t i = 0; i < parts.size(); i++) {
        b[1024 + i * 128] = 0xA2;   // any type GUID that is not all zeros
        Put64(b, 1024 + i * 128 + 32, parts[i].first);
        Put64(b, 1024 + i * 128 + 40, parts[i].second);
    }
    Put32(b, 512 + 88, Crc32(&b[1024], 4 * 128));
    Put32(b, 512 + 16, Crc32(&b[512], 92));
    return b;
}

PartitionTable Read(const Bytes &image)
{
    return ReadPartitionTable(
        [&image](uint64_t offset, void *buffer, size_t length) {
            EXPECT_LE(offset + length, image.size()) << "read outside the image";
            if (offset + length > image.size())
                return false;
            memcpy(buffer, &image[offset], length);
            return true;
        },
        image.size());
}

TEST(Partitions, ReadsSoundTablesAndRefusesDamagedOnes)
{
    const struct {
        const char *name;
        Bytes image;
        TableKind kind;
        std::vector<unsigned> numbers;   // the partitions read, in order
        std::vector<uint64_t> starts;    // their starts, in sectors
        const char *error;               // words of the reason, or "" for none
    } cases[] = {
        {"primaries", [] { Bytes b(64 * 512); Entry(b, 0, 0, 0x06, 2, 10); Entry(b, 0, 2, 0x0C, 20, 40);
                           return b; }(), TableKind::Mbr, {1, 3}, {2, 20}, ""},
        {"logical chain", [] { Bytes b(64 * 512); Entry(b, 0, 0, 0x01, 1, 9); Entry(b, 0, 1, 0x05, 10, 50);
                               Entry(b, 10, 0, 0x06, 2, 10); Entry(b, 10, 1, 0x05, 20, 20);
                               Entry(b, 30, 0, 0x0E, 1, 29); return b; }(),
         TableKind::Mbr, {1, 5, 6}, {1, 12, 31}, ""},
        {"chain loop", [] { Bytes b(64 * 512); Entry(b, 0, 1, 0x0F, 10, 50); Entry(b, 10, 0, 0x06, 2, 4);
                            Entry(b, 10, 1, 0x05, 10, 4); Entry(b, 20, 1, 0x05, 0, 4); return b; }(),
         TableKind::Mbr, {5}, {12}, "leads to sector 10"},
        {"chain into a logical partition", [] { Bytes b(64 * 512); Entry(b, 0, 1, 0x05, 10, 50);
                                                Entry(b, 10, 0, 0x06, 2, 20); Entry(b, 10, 1, 0x05, 5, 10);
                                                return b; }(),
         TableKind::Mbr, {5}, {12}, "inside logical partition 5"},
        {"overlapping primaries", [] { Bytes b(64 * 512); Entry(b, 0, 0, 0x06, 2, 10); Entry(b, 0, 1, 0x06, 11, 4);
                                       return b; }(), TableKind::Mbr, {1}, {2}, "partition 2 overlaps partition 1"},
        {"past the image", [] { Bytes b(64 * 512); Entry(b, 0, 0, 0x06, 60, 8); return b; }(),
         TableKind::Mbr, {}, {}, "ends past the end of the image"},
        {"FAT boot sector with entries", [] { Bytes b(64 * 512); Fat16Boot(b); Entry(b, 0, 0, 0x0E, 0, 64);
                                              return b; }(), TableKind::None, {}, {}, ""},
        {"GPT", Gpt({{6, 19}, {20, 59}}), TableKind::Gpt, {1, 2}, {6, 20}, ""},
        {"GPT header CRC", [] { Bytes b = Gpt({{6, 19}}); b[512 + 40]++; return b; }(),
         TableKind::Gpt, {}, {}, "header's CRC32 is wrong"},
        {"GPT entry CRC", [] { Bytes b = Gpt({{6, 19}}); b[1024 + 33]++; return b; }(),
         TableKind::Gpt, {}, {}, "entry array's CRC32 is wrong"},
        {"GPT entries past the image", Gpt({}, 1000), TableKind::Gpt, {}, {}, "lies outside the image"},
        {"GPT cut after its MBR", [] { Bytes b = Gpt({{6, 19}}); b.resize(700); return b; }(),
         TableKind::Gpt, {}, {}, "ends before the GPT header"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.name);
        const PartitionTable table = Read(test.image);
        EXPECT_EQ(table.kind, test.kind);
        ASSERT_EQ(table.partitions.size(), test.numbers.size());
        for (size_t i = 0; i < test.numbers.size(); i++) {
            EXPECT_EQ(table.partitions[i].number, test.numbers[i]);
            EXPECT_EQ(table.partitions[i].start, test.starts[i] * 512);
        }
        if (*test.error == 0)
            EXPECT_EQ(table.error, "");
        else
            EXPECT_NE(table.error.find(test.error), std::string::npos) << table.error;
    }
}

TEST(Probe, TellsWhatTheFirstSectorHolds)
{
    const struct {
        const char *name;
        Bytes sector;
        Content content;
        const char *what;   // words of the description
    } cases[] = {
        {"FAT16", [] { Bytes b(512); Fat16Boot(b); return b; }(), Content::Fat, "FAT16"},
        {"4096-byte sectors", [] { Bytes b(512); Fat16Boot(b); b[12] = 0x10; return b; }(), Content::FatBadField,
         "bad field: 4096 bytes per sector"},
        {"FAT too small", [] { Bytes b(512); Fat16Boot(b); b[22] = 1; return b; }(), Content::FatBadField,
         "a FAT of 1 sectors, too small"},
        {"NTFS", [] { Bytes b(512); memcpy(&b[3], "NTFS    ", 8); b[510] = 0x55; b[511] = 0xAA; return b; }(),
         Content::Ntfs, "NTFS"},
        {"MBR", [] { Bytes b(512); Entry(b, 0, 0, 0x83, 2048, 100); return b; }(), Content::PartitionTable,
         "partition table"},
        {"zeros", Bytes(512), Content::Empty, "all zeros"},
        {"no signature", Bytes(512, 0x41), Content::NoSignature, "no boot signature (0x55AA at 510)"},
        {"short", Bytes(300), Content::TooSmall, "too small: 300 bytes"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.name);
        const Probe probe = ProbeSector(test.sector.data(), test.sector.size());
        EXPECT_EQ(probe.content, test.content);
        EXPECT_NE(probe.what.find(test.what), std::string::npos) << probe.what;
    }
}

}  // namespace
