// Partition tables read from bytes: the MBR with its chain of extended boot
// records, and the GPT with its header and entry array checked by CRC-32.
// Every sector number is checked against the image's size before it is
// turned into a byte offset, and every chain is bounded, so that a damaged
// table ends in a reason rather than a loop or a read outside the image.
#include "cli/partitions.h"

#include <cstdio>
#include <cstring>

#include "cli/probe.h"
#include "engine/fatdisk.h"

namespace {

const uint64_t kSector = SECTOR_SIZE;

const uint8_t kProtectiveType = 0xEE;
// Logical partitions followed along one extended partition's chain.
const unsigned kMaxLogical = 256;

// GPT header (LBA 1) and entries.
const size_t GPT_Signature = 0;        // "EFI PART"
const size_t GPT_HeaderSize = 12;      // 32 bits
const size_t GPT_HeaderCrc = 16;       // 32 bits, computed with this field zeroed
const size_t GPT_MyLba = 24;           // 64 bits
const size_t GPT_FirstUsable = 40;     // 64 bits
const size_t GPT_LastUsable = 48;      // 64 bits
const size_t GPT_EntriesLba = 72;      // 64 bits
const size_t GPT_EntryCount = 80;      // 32 bits
const size_t GPT_EntrySize = 84;       // 32 bits
const size_t GPT_EntriesCrc = 88;      // 32 bits
const size_t GPT_MinHeaderSize = 92;
const size_t GE_TypeGuid = 0;          // 16 bytes; all zeros when unused
const size_t GE_FirstLba = 32;         // 64 bits
const size_t GE_LastLba = 40;          // 64 bits, inclusive
// The entry array read at most: 4 MiB (32,768 entries of 128 bytes).
const uint64_t kMaxEntryArray = 4u << 20;

uint64_t ld_64(const uint8_t *ptr)
{
    return (uint64_t)ld_32(ptr) | (uint64_t)ld_32(ptr + 4) << 32;
}

// A run of sectors [first, end) and what occupies it, for the overlap checks.
struct Span {
    uint64_t first, end;
    std::string what;
};

// What in `spans` overlaps [first, end), or nullptr.
const Span *Overlapping(const std::vector<Span> &spans, uint64_t first, uint64_t end)
{
    for (const Span &span : spans)
        if (first < span.end && span.first < end)
            return &span;
    return nullptr;
}

std::string Format(const char *format, unsigned long long a, unsigned long long b = 0,
                   unsigned long long c = 0, unsigned long long d = 0)
{
    char text[160];
    snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

bool IsExtended(uint8_t type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

const char *MbrTypeName(uint8_t type)
{
    switch (type) {
    case 0x01: return "FAT12";
    case 0x04: return "FAT16 (under 32 MiB)";
    case 0x06: return "FAT16";
    case 0x07: return "NTFS or exFAT";
    case 0x0B: return "FAT32";
    case 0x0C: return "FAT32 (LBA)";
    case 0x0E: return "FAT16 (LBA)";
    case 0x11: case 0x14: case 0x16: case 0x1B: case 0x1C: case 0x1E: return "hidden FAT";
    case 0x82: return "Linux swap";
    case 0x83: return "Linux";
    case 0xEF: return "EFI system";
    default: return "";
    }
}

// A GUID in its text form: the first three fields are little-endian.
std::string GuidText(const uint8_t *guid)
{
    char text[37];
    snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", (unsigned)ld_32(guid), ld_16(guid + 4),
             ld_16(guid + 6), guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
    return text;
}

const char *GptTypeName(const std::string &guid)
{
    static const struct {
        const char *guid, *name;
    } names[] = {
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
        {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "basic data"},
        {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
        {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux"},
        {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
        {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    };
    for (const auto &known : names)
        if (guid == known.guid)
            return known.name;
    return "";
}

class Reader {
public:
    Reader(const ReadImage &read, uint64_t imageSize) : read_(read), sectors_(imageSize / kSector) {}

    // Reads sector `lba` when the image holds it whole.
    bool Sector(uint64_t lba, uint8_t *buffer) const
    {
        return lba < sectors_ && read_(lba * kSector, buffer, kSector);
    }

    void Mbr(const uint8_t *mbr, PartitionTable *table) const;
    void Gpt(PartitionTable *table) const;

private:
    void Logical(const Span &extended, PartitionTable *table) const;

    const ReadImage &read_;
    const uint64_t sectors_;   // whole sectors in the image
};

void Reader::Mbr(const uint8_t *mbr, PartitionTable *table) const
{
    table->kind = TableKind::Mbr;
    std::vector<Span> used;
    Span extended{0, 0, ""};
    for (unsigned slot = 0; slot < 4; slot++) {
        const uint8_t *entry = &mbr[MBR_Entries + slot * MBR_EntrySize];
        const uint8_t type = entry[PE_Type];
        const uint64_t first = ld_32(&entry[PE_FirstSector]), count = ld_32(&entry[PE_Sectors]);
        const unsigned number = slot + 1;
        if (type == 0 || count == 0)
            continue;
        if (first == 0) {
            table->error = Format("partition %llu starts at sector 0, over the partition table", number);
            return;
        }
        if (first + count > sectors_) {
            table->error = Format("partition %llu (sectors %llu to %llu) ends past the end of the image (%llu sectors)",
                                  number, first, first + count - 1, sectors_);
            return;
        }
        if (const Span *other = Overlapping(used, first, first + count)) {
            table->error = Format("partition %llu overlaps ", number) + other->what;
            return;
        }
        used.push_back({first, first + count, Format("partition %llu", number)});
        if (IsExtended(type)) {
            if (extended.end != 0) {
                table->error = "two extended partitions";
                return;
            }
            extended = used.back();
            continue;
        }
        table->partitions.push_back({number, first * kSector, count * kSector, Format("0x%02llx", type),
                                     MbrTypeName(type)});
    }
    if (extended.end != 0)
        Logical(extended, table);
}

// The logical partitions: each extended boot record holds one logical
// partition, placed relative to that record, and a link to the next record,
// placed relative to the extended partition's start.
void Reader::Logical(const Span &extended, PartitionTable *table) const
{
    std::vector<Span> inside;   // boot records and logical partitions so far
    uint64_t record = extended.first;
    for (unsigned number = 5;; number++) {
        if (number - 5 == kMaxLogical) {
            table->error = Format("the extended partition holds more than %llu logical partitions", kMaxLogical);
            return;
        }
        if (const Span *other = Overlapping(inside, record, record + 1)) {
            table->error = Format("the extended partition's chain leads to sector %llu, which lies inside ", record) +
                           other->what;
            return;
        }
        uint8_t ebr[kSector];
        if (record >= extended.end || !Sector(record, ebr)) {
            table->error = Format("extended boot record at sector %llu lies outside the extended partition", record);
            return;
        }
        if (!HasSignature(ebr)) {
            table->error = Format("extended boot record at sector %llu has no boot signature", record);
            return;
        }
        inside.push_back({record, record + 1, Format("the extended boot record at sector %llu", record)});

        const uint8_t *logical = &ebr[MBR_Entries];
        const uint64_t offset = ld_32(&logical[PE_FirstSector]), count = ld_32(&logical[PE_Sectors]);
        if (logical[PE_Type] != 0 && count != 0) {
            const uint64_t first = record + offset;
            if (offset == 0 || first + count > extended.end) {
                table->error = Format("logical partition %llu (sectors %llu to %llu) lies outside the extended "
                                      "partition",
                                      number, first, first + count - 1) +
                               Format(" (sectors %llu to %llu)", extended.first, extended.end - 1);
                return;
            }
            if (const Span *other = Overlapping(inside, first, first + count)) {
                table->error = Format("logical partition %llu overlaps ", number) + other->what;
                return;
            }
            inside.push_back({first, first + count, Format("logical partition %llu", number)});
            table->partitions.push_back({number, first * kSector, count * kSector,
                                         Format("0x%02llx", logical[PE_Type]), MbrTypeName(logical[PE_Type])});
        }

        const uint8_t *link = &ebr[MBR_Entries + MBR_EntrySize];
        if (!IsExtended(link[PE_Type]) || ld_32(&link[PE_Sectors]) == 0)
            return;
        record = extended.first + ld_32(&link[PE_FirstSector]);
    }
}

void Reader::Gpt(PartitionTable *table) const
{
    table->kind = TableKind::Gpt;
    uint8_t header[kSector];
    if (!Sector(1, header)) {
        table->error = "the image ends before the GPT header (LBA 1)";
        return;
    }
    if (memcmp(&header[GPT_Signature], "EFI PART", 8) != 0) {
        table->error = "the protective MBR announces a GPT, but LBA 1 holds no GPT header";
        return;
    }
    const uint32_t headerSize = ld_32(&header[GPT_HeaderSize]);
    if (headerSize < GPT_MinHeaderSize || headerSize > kSector) {
        table->error = Format("GPT header size %llu is out of range", headerSize);
        return;
    }
    const uint32_t headerCrc = ld_32(&header[GPT_HeaderCrc]);
    memset(&header[GPT_HeaderCrc], 0, 4);
    if (Crc32(header, headerSize) != headerCrc) {
        table->error = Format("the GPT header's CRC32 is wrong (stored 0x%08llx, computed 0x%08llx)", headerCrc,
                              Crc32(header, headerSize));
        return;
    }
    if (ld_64(&header[GPT_MyLba]) != 1) {
        table->error = Format("the GPT header at LBA 1 gives its own place as LBA %llu", ld_64(&header[GPT_MyLba]));
        return;
    }
    const uint64_t firstUsable = ld_64(&header[GPT_FirstUsable]), lastUsable = ld_64(&header[GPT_LastUsable]);
    const uint64_t entriesLba = ld_64(&header[GPT_EntriesLba]);
    const uint32_t count = ld_32(&header[GPT_EntryCount]), entrySize = ld_32(&header[GPT_EntrySize]);
    if (entrySize < 128 || entrySize % 8 != 0 || (uint64_t)count * entrySize > kMaxEntryArray) {
        table->error = Format("GPT entry array of %llu entries of %llu bytes is out of range", count, entrySize);
        return;
    }
    const uint64_t arrayBytes = (uint64_t)count * entrySize;
    const uint64_t arraySectors = (arrayBytes + kSector - 1) / kSector;
    if (entriesLba < 2 || entriesLba >= sectors_ || arraySectors > sectors_ - entriesLba) {
        table->error = Format("GPT entry array at LBA %llu (%llu sectors) lies outside the image (%llu sectors)",
                              entriesLba, arraySectors, sectors_);
        return;
    }
    std::vector<uint8_t> entries(arrayBytes);
    if (arrayBytes != 0 && !read_(entriesLba * kSector, entries.data(), arrayBytes)) {
        table->error = "the GPT entry array cannot be read";
        return;
    }
    if (Crc32(entries.data(), arrayBytes) != ld_32(&header[GPT_EntriesCrc])) {
        table->error = "the GPT entry array's CRC32 is wrong";
        return;
    }
    std::vector<Span> used;
    for (uint32_t index = 0; index < count; index++) {
        const uint8_t *entry = &entries[(size_t)index * entrySize];
        static const uint8_t unused[16] = {};
        if (memcmp(&entry[GE_TypeGuid], unused, sizeof unused) == 0)
            continue;
        const unsigned number = index + 1;
        const uint64_t first = ld_64(&entry[GE_FirstLba]), last = ld_64(&entry[GE_LastLba]);
        if (last < first || first < firstUsable || last > lastUsable || last >= sectors_) {
            table->error = Format("GPT partition %llu (LBA %llu to %llu) lies outside the usable LBAs %llu to ",
                                  number, first, last, firstUsable) +
                           Format("%llu of the image (%llu sectors)", lastUsable, sectors_);
            return;
        }
        if (const Span *other = Overlapping(used, first, last + 1)) {
            table->error = Format("GPT partition %llu overlaps ", number) + other->what;
            return;
        }
        used.push_back({first, last + 1, Format("GPT partition %llu", number)});
        const std::string type = GuidText(&entry[GE_TypeGuid]);
        table->partitions.push_back({number, first * kSector, (last - first + 1) * kSector, type, GptTypeName(type)});
    }
}

}  // namespace

uint32_t Crc32(const uint8_t *data, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

namespace {

// Each kind of table, in the order of TableKind: its name in JSON, and its
// label in messages and listings.
const struct {
    TableKind kind;
    const char *name;
    const char *label;
} kTableKinds[] = {
    {TableKind::None, "none", "no"},
    {TableKind::Mbr, "mbr", "MBR"},
    {TableKind::Gpt, "gpt", "GPT"},
};

}  // namespace

const char *TableKindName(TableKind kind)
{
    return kTableKinds[(int)kind].name;
}

const char *TableKindLabel(TableKind kind)
{
    return kTableKinds[(int)kind].label;
}

PartitionTable ReadPartitionTable(const ReadImage &read, uint64_t imageSize)
{
    PartitionTable table;
    const Reader reader(read, imageSize);
    uint8_t mbr[kSector];
    if (!reader.Sector(0, mbr) || !HoldsPartitionTable(mbr))
        return table;
    for (unsigned slot = 0; slot < 4; slot++)
        if (mbr[MBR_Entries + slot * MBR_EntrySize + PE_Type] == kProtectiveType) {
            reader.Gpt(&table);
            return table;
        }
    reader.Mbr(mbr, &table);
    return table;
}
