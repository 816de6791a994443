// The analyzer's report, read from the same module variables that the
// results panel draws; the partition list and the JSON object of an error.
#include "cli/report.h"

#include <cstdio>

#include "app/kivifat.h"
#include "cli/json.h"
#include "cli/spacereport.h"
#include "cli/text.h"
#include "cli/volmap.h"
#include "engine/exfatscan.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/longpath.h"
#include "engine/scan.h"
#include "volume/volume.h"

namespace {

// The version of the JSON documents' members (docs/vantrel-scan.schema.json),
// the first member of each.
const unsigned kSchemaVersion = 1;

ULONGLONG AllocatedPercent()
{
    return TotalSpace != 0 ? TotalFilesSize * 100 / TotalSpace : 0;
}

// Average extents per measured file in hundredths, in 64 bits: the report is
// read by programs, so it gives the exact quotient on any volume. The panel
// keeps the window's 32-bit rule (AverageField, display/fields.cpp); the two
// agree until the extents times 100 pass 2^31 (21,474,836 extents).
ULONGLONG AverageHundredths()
{
    return TotalFiles != 0 ? (ULONGLONG)TotalExtents * 100 / TotalFiles : 0;
}

// Free space in bytes: the whole free clusters that FreeSpace counts in
// thousands of bytes.
ULONGLONG FreeBytes()
{
    if (ExfatVolume)
        return ExfatFreeClusters * ClusterSize;
    const ULONGLONG perCluster = ClusterSize / SECTOR_SIZE;
    return perCluster != 0 ? RealFatSa.QueryFreeSectors() / perCluster * ClusterSize : 0;
}

void WritePartition(JsonWriter &json, const FoundPartition &found)
{
    const Partition &p = found.partition;
    json.BeginObject();
    json.Key("number").Number(p.number);
    json.Key("start").Number(p.start);
    json.Key("size").Number(p.size);
    json.Key("type").String(p.type);
    json.Key("type_name").String(p.typeName);
    json.Key("file_system").String(found.fileSystem);
    json.EndObject();
}

void WritePartitionMembers(JsonWriter &json, const Listing &listing)
{
    json.Key("partition_table").String(TableKindName(listing.kind));
    json.Key("partitions").BeginArray(JsonWriter::Block);
    for (const FoundPartition &found : listing.partitions)
        WritePartition(json, found);
    json.EndArray();
}

void WriteMessages(JsonWriter &json, const std::vector<std::string> &messages)
{
    json.Key("messages").BeginArray();
    for (const std::string &message : messages)
        json.Oem(message.c_str());
    json.EndArray();
}

// A file's "path" (its long path in the platform's form) and "short_path"
// (the 8.3 path as the window builds it).
void WritePaths(JsonWriter &json, const std::string &longPath, const std::string &shortPath)
{
    json.Key("path").String(PlatformPath(longPath, cDrive));
    if (ExfatVolume)   // no short names: the long path in the window's form, UTF-8 already
        json.Key("short_path").String(shortPath);
    else
        json.Key("short_path").Oem(shortPath.c_str());
}

// A record of the scan: {"size" or "extents", "path", "short_path"}, or null
// before any file was measured (the record's paths are stale then).
void WriteRecord(JsonWriter &json, const char *key, bool set, const char *what, ULONGLONG value,
                 const std::string &longPath, const std::string &shortPath)
{
    json.Key(key);
    if (!set) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key(what).Number(value);
    WritePaths(json, longPath, shortPath);
    json.EndObject();
}

}  // namespace

const char *FileSystemName()
{
    if (ExfatVolume)
        return "exFAT";
    return FatBits == 12 ? "FAT12" : FatBits == 16 ? "FAT16" : "FAT32";
}

std::string SummaryLine()
{
    const ULONGLONG average = AverageHundredths();
    char line[200];
    snprintf(line, sizeof line, "%s (%s)   %llu KB   %lu files   %lu fragmented   %llu.%02llu extents per file",
             cDrive, FileSystemName(), TotalSpace / 1000, (unsigned long)(TotalFiles + ZeroLengthFileCount),
             (unsigned long)TotalFragFiles, average / 100, average % 100);
    return line;
}

void PrintText(const Analysis &analysis)
{
    const ULONGLONG average = AverageHundredths();
    printf("Drive              %s (%s)\n", cDrive, FileSystemName());
    printf("Total space        %llu KB\n", TotalSpace / 1000);
    printf("Free space         %llu KB\n", FreeSpace);
    printf("Cluster size       %llu bytes\n", ClusterSize);
    printf("Files              %lu\n", (unsigned long)(TotalFiles + ZeroLengthFileCount));
    printf("Allocated space    %llu KB\n", TotalFilesSize / 1000);
    printf("Allocated          %llu %%\n", AllocatedPercent());
    printf("Fragmented files   %lu\n", (unsigned long)TotalFragFiles);
    printf("Total extents      %lu\n", (unsigned long)TotalExtents);
    printf("Average extents    %llu.%02llu\n", average / 100, average % 100);
    if (TotalFiles != 0) {
        printf("Largest file       %lu KB  %s\n", (unsigned long)(LargestFileSize / 1000),
               PlatformPath(LargestFileLongPath, cDrive).c_str());
        printf("Smallest file      %lu bytes  %s\n", (unsigned long)SmallestFileSize,
               PlatformPath(SmallestFileLongPath, cDrive).c_str());
        printf("Most extents       %lu  %s\n", (unsigned long)MaxExtents,
               PlatformPath(MaxExtentsFileLongPath, cDrive).c_str());
    }
    PrintSpaceText(analysis);
    printf("%s\n", analysis.completed ? "Fragmentation analysis completed" : "Fragmentation analysis ended on an error");
    if (analysis.listFiles) {
        printf("\nextents\tclusters\tsize\t%spath\n", analysis.listRuns ? "runs\t" : "");
        for (const MeasuredFile &file : analysis.files)
            printf("%lu\t%u\t%llu\t%s%s\n", (unsigned long)file.extents, (unsigned)file.clusters,
                   (unsigned long long)file.size, analysis.listRuns ? (RunsText(file.runs) + "\t").c_str() : "",
                   PlatformPath(file.longPath, cDrive).c_str());
    }
    if (analysis.check != nullptr)
        PrintCheckText(analysis);
}

void PrintJson(const Analysis &analysis)
{
    JsonWriter json(stdout);
    json.BeginObject(JsonWriter::Block);
    json.Key("schema_version").Number(kSchemaVersion);
    json.Key("drive").String(cDrive);
    json.Key("file_system").String(FileSystemName());
    json.Key("fat_bits").Number(FatBits);
    json.Key("cluster_size").Number(ClusterSize);
    json.Key("total_space").Number(TotalSpace);
    json.Key("free_space_kb").Number(FreeSpace);
    json.Key("free_bytes").Number(FreeBytes());
    json.Key("files").Number(TotalFiles + ZeroLengthFileCount);
    json.Key("measured_files").Number(TotalFiles);
    json.Key("zero_length_files").Number(ZeroLengthFileCount);
    json.Key("allocated_bytes").Number(TotalFilesSize);
    json.Key("allocated_percent").Number(AllocatedPercent());
    json.Key("fragmented_files").Number(TotalFragFiles);
    json.Key("total_extents").Number(TotalExtents);
    json.Key("average_extents").Hundredths(AverageHundredths());
    // Every measured file has a size and an extent, so the records are set
    // exactly when a file was measured.
    WriteRecord(json, "largest_file", LargestFileSize != 0, "size", LargestFileSize, LargestFileLongPath,
                LargestFileShortPath);
    WriteRecord(json, "smallest_file", SmallestFileSize != 0xFFFFFFFF, "size", SmallestFileSize,
                SmallestFileLongPath, SmallestFileShortPath);
    WriteRecord(json, "most_fragmented_file", MaxExtents != 0, "extents", MaxExtents, MaxExtentsFileLongPath,
                MaxExtentsFileShortPath);
    WriteSpaceMembers(json, analysis);
    if (analysis.partition != nullptr) {
        json.Key("partition");
        WritePartition(json, *analysis.partition);
    }
    if (analysis.mapCounts != nullptr) {
        const ULONGLONG *n = analysis.mapCounts;
        json.Key("map").BeginObject();
        json.Key("path").String(analysis.mapPath);
        json.Key("clusters_per_cell").Number(analysis.mapPerCell);
        json.Key("clusters").BeginObject();
        json.Key("free").Number(n[MAP_FREE]);
        json.Key("contiguous").Number(n[MAP_CONTIGUOUS]);
        json.Key("fragmented").Number(n[MAP_FRAGMENTED]);
        json.Key("directory").Number(n[MAP_DIRECTORY]);
        json.Key("bad").Number(n[MAP_BAD]);
        json.Key("lost").Number(n[MAP_LOST]);
        json.EndObject();
        json.EndObject();
    }
    json.Key("completed").Bool(analysis.completed);
    json.Key("skipped").BeginObject();
    for (int reason = 0; reason < SKIP_REASONS; reason++)
        json.Key(SkipReasonName[reason]).Number(Skipped[reason]);
    json.EndObject();
    WriteMessages(json, analysis.messages);
    if (analysis.listFiles) {
        json.Key("file_list").BeginArray(JsonWriter::Block);
        for (const MeasuredFile &file : analysis.files) {
            json.BeginObject();
            json.Key("extents").Number(file.extents);
            json.Key("clusters").Number(file.clusters);
            json.Key("size").Number(file.size);
            json.Key("no_fat_chain").Bool(file.noFatChain);
            WritePaths(json, file.longPath, file.shortPath);
            if (analysis.listRuns)
                WriteRuns(json, file.runs, analysis.volumeStart);
            json.EndObject();
        }
        json.EndArray();
    }
    if (analysis.check != nullptr)
        WriteCheck(json, analysis);
    json.EndObject();
}

std::string SkippedSummary()
{
    std::string summary;
    for (int reason = 0; reason < SKIP_REASONS; reason++)
        if (Skipped[reason] != 0)
            summary += (summary.empty() ? "" : ", ") + std::to_string(Skipped[reason]) + " " + SkipReasonName[reason];
    return summary;
}

void PrintPartitions(FILE *out, const Listing &listing)
{
    fprintf(out, "%s partition table\n", TableKindLabel(listing.kind));
    fprintf(out, "number  start (bytes)   size (bytes)  type                  file system\n");
    for (const FoundPartition &found : listing.partitions) {
        const Partition &p = found.partition;
        // An MBR type is shown with its name; a GPT type by its name when known.
        std::string type = p.type;
        if (listing.kind == TableKind::Gpt && !p.typeName.empty())
            type = p.typeName;
        else if (!p.typeName.empty())
            type += " " + p.typeName;
        fprintf(out, "%6u  %13llu  %13llu  %-20s  %s\n", p.number, (unsigned long long)p.start,
                (unsigned long long)p.size, type.c_str(), found.fileSystem.c_str());
    }
    if (listing.partitions.empty())
        fprintf(out, "(no partition)\n");
}

void PrintPartitionsJson(const Listing &listing, const std::string &fileSystem)
{
    JsonWriter json(stdout);
    json.BeginObject(JsonWriter::Block);
    json.Key("schema_version").Number(kSchemaVersion);
    WritePartitionMembers(json, listing);
    if (listing.kind == TableKind::None)
        json.Key("file_system").String(fileSystem);
    json.EndObject();
}

void PrintJsonError(const char *kind, const std::string &message, const Listing *listing,
                    const FoundPartition *partition, const std::vector<std::string> &messages)
{
    JsonWriter json(stdout);
    json.BeginObject(JsonWriter::Block);
    json.Key("schema_version").Number(kSchemaVersion);
    json.Key("error").BeginObject();
    json.Key("kind").String(kind);
    json.Key("message").String(message);
    json.EndObject();
    if (listing != nullptr)
        WritePartitionMembers(json, *listing);
    if (partition != nullptr) {
        json.Key("partition");
        WritePartition(json, *partition);
    }
    WriteMessages(json, messages);
    json.EndObject();
}
