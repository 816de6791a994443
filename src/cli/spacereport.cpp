// Runs, free space, directories and --check in the analyzer's report.
#include "cli/spacereport.h"

#include <cstdio>

#include "engine/exfatscan.h"
#include "engine/geometry.h"

namespace {

// The clusters a file of `bytes` bytes needs.
ULONGLONG ClustersFor(ULONGLONG bytes)
{
    return BytesPerCluster != 0 ? (bytes + BytesPerCluster - 1) / BytesPerCluster : 0;
}

}  // namespace

std::string RunsText(const std::vector<ClusterRun> &runs)
{
    std::string text;
    for (const ClusterRun &run : runs)
        text += (text.empty() ? "" : " ") + std::to_string(run.cluster) + "+" + std::to_string(run.clusters);
    return text.empty() ? "-" : text;
}

void WriteRuns(JsonWriter &json, const std::vector<ClusterRun> &runs, ULONGLONG volumeStart)
{
    json.Key("runs").BeginArray();
    for (const ClusterRun &run : runs) {
        const RunPlace place = PlaceOf(run, volumeStart);
        json.BeginObject();
        json.Key("cluster").Number(run.cluster);
        json.Key("clusters").Number(run.clusters);
        json.Key("sector").Number(place.sector);
        json.Key("sectors").Number(place.sectors);
        json.Key("offset").Number(place.offset);
        json.EndObject();
    }
    json.EndArray();
}

bool Fits(const Analysis &analysis)
{
    return ClustersFor(analysis.fitsSize) <= analysis.free.largest.clusters;
}

void PrintSpaceText(const Analysis &analysis)
{
    const ClusterRun &largest = analysis.free.largest;
    printf("Free extents       %llu\n", analysis.free.count);
    if (largest.clusters == 0)
        printf("Largest free       none\n");
    else
        printf("Largest free       %llu bytes at cluster %lu, byte %llu\n",
               (ULONGLONG)largest.clusters * BytesPerCluster, (unsigned long)largest.cluster,
               PlaceOf(largest, analysis.volumeStart).offset);
    printf("Fragmented dirs    %lu\n", (unsigned long)analysis.fragmentedDirectories);
    if (analysis.fitsAsked)
        printf("Fits %-13llu %s\n", analysis.fitsSize, Fits(analysis) ? "yes" : "no");
}

void WriteSpaceMembers(JsonWriter &json, const Analysis &analysis)
{
    const ClusterRun &largest = analysis.free.largest;
    json.Key("free_extents").Number(analysis.free.count);
    json.Key("largest_free_extent");
    if (largest.clusters == 0) {
        json.Null();
    } else {
        json.BeginObject();
        json.Key("cluster").Number(largest.cluster);
        json.Key("clusters").Number(largest.clusters);
        json.Key("bytes").Number((ULONGLONG)largest.clusters * BytesPerCluster);
        json.Key("offset").Number(PlaceOf(largest, analysis.volumeStart).offset);
        json.EndObject();
    }
    json.Key("fragmented_directories").Number(analysis.fragmentedDirectories);
    if (analysis.fitsAsked) {
        json.Key("fits").BeginObject();
        json.Key("size").Number(analysis.fitsSize);
        json.Key("fits").Bool(Fits(analysis));
        json.EndObject();
    }
}

void PrintCheckText(const Analysis &analysis)
{
    const CheckReport &check = *analysis.check;
    printf("\nCheck: at most %lu extent%s per file%s\nresult\textents\tsize\truns\tpath\n", check.maxExtents,
           check.maxExtents == 1 ? "" : "s", check.requireFlag && ExfatVolume ? ", NoFatChain set" : "");
    for (const CheckedFile &file : check.files)
        printf("%s\t%lu\t%lu\t%s\t%s\n", Passes(check, file) ? "PASS" : "FAIL",
               (unsigned long)file.extents, (unsigned long)file.size, RunsText(file.runs).c_str(), file.path.c_str());
}

void WriteCheck(JsonWriter &json, const Analysis &analysis)
{
    const CheckReport &check = *analysis.check;
    json.Key("check").BeginObject(JsonWriter::Block);
    json.Key("max_extents").Number(check.maxExtents);
    if (check.requireFlag)
        json.Key("require_flag").Bool(true);
    json.Key("files").BeginArray(JsonWriter::Block);
    for (const CheckedFile &file : check.files) {
        json.BeginObject();
        json.Key("path").String(file.path);
        json.Key("short_path").String(file.shortPath);
        json.Key("size").Number(file.size);
        json.Key("extents").Number(file.extents);
        if (ExfatVolume)
            json.Key("no_fat_chain").Bool(file.noFatChain);
        json.Key("pass").Bool(Passes(check, file));
        WriteRuns(json, file.runs, analysis.volumeStart);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}
