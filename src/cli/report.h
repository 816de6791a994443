// The analyzer's report of one analysis: the values of the results panel as
// labelled lines or as one JSON object, and the optional list of files; the
// list of an image's partitions; the JSON object of a run that ended early.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/check.h"
#include "cli/extents.h"
#include "cli/partitions.h"
#include "platform/win32.h"

// A partition with what its first sector holds.
struct FoundPartition {
    Partition partition;
    std::string fileSystem;   // "FAT16", "NTFS", "empty", ...
    bool fat;                 // a FAT volume the analysis reads
};

struct Listing {
    TableKind kind = TableKind::None;
    std::vector<FoundPartition> partitions;
};

struct MeasuredFile {
    DWORD extents;
    DWORD clusters;
    ULONGLONG size;
    bool noFatChain;         // exFAT: the stream entry's NoFatChain flag; false on FAT
    std::string longPath;    // "/Long Dir/File name.txt", UTF-8 (FileLongPath)
    std::string shortPath;   // "V:\LONGDI~1\FILENA~1.TXT", short names' bytes (FileShortPath)
    std::vector<ClusterRun> runs;   // with --runs
};

struct Analysis {
    bool completed;                       // the walk ended normally
    std::vector<std::string> messages;    // every message shown, in order
    bool listFiles;                       // --files or --fragmented
    bool onlyFragmented;                  // --fragmented: files in more than one extent
    std::vector<MeasuredFile> files;      // in the order they were measured
    const FoundPartition *partition;      // the partition analysed, or NULL for a whole image
    const char *mapPath;                  // --map FILE, or NULL
    unsigned long long mapPerCell;        // clusters per cell of the map
    const ULONGLONG *mapCounts;           // clusters in each MapState, once the map is made
    bool listRuns;                        // --runs: the runs of each file listed
    ULONGLONG volumeStart;                // the volume's byte offset in the image or device
    FreeExtents free;                     // the FAT's free runs
    DWORD fragmentedDirectories;          // directories in more than one run
    bool fitsAsked;                       // --fits SIZE
    ULONGLONG fitsSize;
    const CheckReport *check;             // --check: the files named, or NULL
};

// "FAT12", "FAT16", "FAT32" or "exFAT": the file system analysed.
const char *FileSystemName();

// The map's summary line: drive, size, files, fragmented files, average extents.
std::string SummaryLine();

// Writes the report from the statistics of the finished analysis. Paths are
// long paths in the platform's form (PlatformPath); the JSON adds each one's
// short path.
void PrintText(const Analysis &analysis);
void PrintJson(const Analysis &analysis);
// What the walk left out, by reason ("2 too_deep, 1 file_chain_mismatch"), or
// "" when it left out nothing.
std::string SkippedSummary();

// The partitions as a table with a heading, one line each.
void PrintPartitions(FILE *out, const Listing &listing);
// --list-partitions --json: {"partition_table", "partitions"[, "file_system"]};
// `fileSystem` is what a whole image without a table holds.
void PrintPartitionsJson(const Listing &listing, const std::string &fileSystem);
// The JSON object of a run that ends without a report: the error, the
// partitions when a table was read, the partition chosen, and the messages
// the engine showed.
void PrintJsonError(const char *kind, const std::string &message, const Listing *listing,
                    const FoundPartition *partition, const std::vector<std::string> &messages);
