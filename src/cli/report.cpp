// The analyzer's report, read from the same module variables that the
// results panel draws; the partition list and the JSON object of an error.
#include "cli/report.h"

#include <cstdio>

#include "app/kivifat.h"
#include "cli/text.h"
#include "cli/volmap.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "volume/volume.h"

namespace {

ULONGLONG AllocatedPercent()
{
    return TotalSpace != 0 ? TotalFilesSize * 100 / TotalSpace : 0;
}

// Average extents per measured file in hundredths, as the panel shows it.
ULONGLONG AverageHundredths()
{
    return TotalFiles != 0 ? (ULONGLONG)TotalExtents * 100 / TotalFiles : 0;
}

std::string PartitionJson(const FoundPartition &found)
{
    const Partition &p = found.partition;
    char numbers[96];
    snprintf(numbers, sizeof numbers, "{\"number\": %u, \"start\": %llu, \"size\": %llu, ", p.number,
             (unsigned long long)p.start, (unsigned long long)p.size);
    return numbers + std::string("\"type\": ") + JsonUtf8String(p.type) +
           ", \"type_name\": " + JsonUtf8String(p.typeName) + ", \"file_system\": " +
           JsonUtf8String(found.fileSystem) + "}";
}

void PrintPartitionMembers(const Listing &listing)
{
    printf("  \"partition_table\": \"%s\",\n  \"partitions\": [", TableKindName(listing.kind));
    for (size_t i = 0; i < listing.partitions.size(); i++)
        printf("%s\n    %s", i ? "," : "", PartitionJson(listing.partitions[i]).c_str());
    printf("%s]", listing.partitions.empty() ? "" : "\n  ");
}

void PrintMessages(const std::vector<std::string> &messages)
{
    printf("  \"messages\": [");
    for (size_t i = 0; i < messages.size(); i++)
        printf("%s%s", i ? ", " : "", JsonString(messages[i].c_str()).c_str());
    printf("]");
}

}  // namespace

std::string SummaryLine()
{
    const ULONGLONG average = AverageHundredths();
    char line[200];
    snprintf(line, sizeof line, "%s (FAT%lu)   %llu KB   %lu files   %lu fragmented   %llu.%02llu extents per file",
             cDrive, (unsigned long)FatBits, TotalSpace / 1000, (unsigned long)(TotalFiles + ZeroLengthFileCount),
             (unsigned long)TotalFragFiles, average / 100, average % 100);
    return line;
}

void PrintText(const Analysis &analysis)
{
    const ULONGLONG average = AverageHundredths();
    printf("Drive              %s (FAT%lu)\n", cDrive, (unsigned long)FatBits);
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
               Cp437ToUtf8(LargestFileName).c_str());
        printf("Smallest file      %lu bytes  %s\n", (unsigned long)SmallestFileSize,
               Cp437ToUtf8(SmallestFileName).c_str());
        printf("Most extents       %lu  %s\n", (unsigned long)MaxExtents, Cp437ToUtf8(MaxExtentsFileName).c_str());
    }
    printf("%s\n", analysis.completed ? "Fragmentation analysis completed" : "Fragmentation analysis ended on an error");
    if (analysis.listFiles) {
        printf("\nextents\tclusters\tsize\tpath\n");
        for (const MeasuredFile &file : analysis.files)
            printf("%lu\t%u\t%lu\t%s\n", (unsigned long)file.extents, (unsigned)file.clusters, (unsigned long)file.size,
                   Cp437ToUtf8(file.path.c_str()).c_str());
    }
}

void PrintJson(const Analysis &analysis)
{
    const ULONGLONG average = AverageHundredths();
    printf("{\n");
    printf("  \"drive\": %s,\n", JsonString(cDrive).c_str());
    printf("  \"fat_bits\": %lu,\n", (unsigned long)FatBits);
    printf("  \"cluster_size\": %llu,\n", ClusterSize);
    printf("  \"total_space\": %llu,\n", TotalSpace);
    printf("  \"free_space_kb\": %llu,\n", FreeSpace);
    printf("  \"files\": %lu,\n", (unsigned long)(TotalFiles + ZeroLengthFileCount));
    printf("  \"measured_files\": %lu,\n", (unsigned long)TotalFiles);
    printf("  \"zero_length_files\": %lu,\n", (unsigned long)ZeroLengthFileCount);
    printf("  \"allocated_bytes\": %llu,\n", TotalFilesSize);
    printf("  \"allocated_percent\": %llu,\n", AllocatedPercent());
    printf("  \"fragmented_files\": %lu,\n", (unsigned long)TotalFragFiles);
    printf("  \"total_extents\": %lu,\n", (unsigned long)TotalExtents);
    printf("  \"average_extents\": %llu.%02llu,\n", average / 100, average % 100);
    // Every measured file has a size and an extent, so the records are set
    // exactly when a file was measured; until then their names are stale.
    if (LargestFileSize != 0)
        printf("  \"largest_file\": {\"size\": %lu, \"path\": %s},\n", (unsigned long)LargestFileSize,
               JsonString(LargestFileName).c_str());
    else
        printf("  \"largest_file\": null,\n");
    if (SmallestFileSize != 0xFFFFFFFF)
        printf("  \"smallest_file\": {\"size\": %lu, \"path\": %s},\n", (unsigned long)SmallestFileSize,
               JsonString(SmallestFileName).c_str());
    else
        printf("  \"smallest_file\": null,\n");
    if (MaxExtents != 0)
        printf("  \"most_fragmented_file\": {\"extents\": %lu, \"path\": %s},\n", (unsigned long)MaxExtents,
               JsonString(MaxExtentsFileName).c_str());
    else
        printf("  \"most_fragmented_file\": null,\n");
    if (analysis.partition != nullptr)
        printf("  \"partition\": %s,\n", PartitionJson(*analysis.partition).c_str());
    if (analysis.mapCounts != nullptr) {
        const ULONGLONG *n = analysis.mapCounts;
        printf("  \"map\": {\"path\": %s, \"clusters_per_cell\": %llu, \"clusters\": {\"free\": %llu, "
               "\"contiguous\": %llu, \"fragmented\": %llu, \"directory\": %llu, \"bad\": %llu, \"lost\": %llu}},\n",
               JsonUtf8String(analysis.mapPath).c_str(), analysis.mapPerCell, n[MAP_FREE], n[MAP_CONTIGUOUS],
               n[MAP_FRAGMENTED], n[MAP_DIRECTORY], n[MAP_BAD], n[MAP_LOST]);
    }
    printf("  \"completed\": %s,\n", analysis.completed ? "true" : "false");
    PrintMessages(analysis.messages);
    if (analysis.listFiles) {
        printf(",\n  \"file_list\": [");
        for (size_t i = 0; i < analysis.files.size(); i++) {
            const MeasuredFile &file = analysis.files[i];
            printf("%s\n    {\"extents\": %lu, \"clusters\": %u, \"size\": %lu, \"path\": %s}", i ? "," : "",
                   (unsigned long)file.extents, (unsigned)file.clusters, (unsigned long)file.size,
                   JsonString(file.path.c_str()).c_str());
        }
        printf("%s]", analysis.files.empty() ? "" : "\n  ");
    }
    printf("\n}\n");
}

void PrintPartitions(FILE *out, const Listing &listing)
{
    fprintf(out, "%s partition table\n", listing.kind == TableKind::Gpt ? "GPT" : "MBR");
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
    printf("{\n");
    PrintPartitionMembers(listing);
    if (listing.kind == TableKind::None)
        printf(",\n  \"file_system\": %s", JsonUtf8String(fileSystem).c_str());
    printf("\n}\n");
}

void PrintJsonError(const char *kind, const std::string &message, const Listing *listing,
                    const FoundPartition *partition, const std::vector<std::string> &messages)
{
    printf("{\n  \"error\": {\"kind\": \"%s\", \"message\": %s},\n", kind, JsonUtf8String(message).c_str());
    if (listing != nullptr) {
        PrintPartitionMembers(*listing);
        printf(",\n");
    }
    if (partition != nullptr)
        printf("  \"partition\": %s,\n", PartitionJson(*partition).c_str());
    PrintMessages(messages);
    printf("\n}\n");
}
