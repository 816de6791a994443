// One run of the analyzer on PATH, as a sequence of steps: open the image,
// read its partition table, choose the volume, map it to a drive letter,
// analyse it, report. Each step returns what went wrong as a Fault; the run
// reports a fault in one place (standard error and, with --json, the JSON
// error object) and ends with exit status 2.
#pragma once

#include <cstdio>
#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/probe.h"
#include "cli/report.h"
#include "cli/volmap.h"

// What ended a step: the error kind of the JSON error object ("open",
// "partition_table", "partition", "map", "volume", "system") and the message;
// no kind when the step succeeded.
struct Fault {
    const char *kind = nullptr;
    std::string message;
    bool shown = false;   // the message is on standard error already
    explicit operator bool() const { return kind != nullptr; }
};

class Run {
public:
    explicit Run(const Options &options) : options_(options), path_(options.path) {}
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    // The whole run; its exit status.
    int Execute();

private:
    Fault OpenMap();
    Fault OpenImage();
    Fault ReadTable();
    // --list-partitions: the partitions, or what a whole image holds.
    Fault ListVolumes();
    Fault ChooseVolume();
    Fault MapVolume();
    Fault Analyse();
    // The report: exit status 0 or 1.
    int Report();
    // The map's picture: `status`, or 2 when it cannot be drawn or written.
    int DrawMap(int status);
    void DropMap();
    // Standard error and the JSON error object; exit status 2.
    int Stop(const Fault &fault);

    // What the first sector at `offset` holds, reading no further than
    // `limit` bytes; a fault when it cannot be read.
    Fault ProbeAt(uint64_t offset, uint64_t limit, Probe *probe);
    FoundPartition Examine(const Partition &partition);

    const Options &options_;
    const std::string path_;
    Image image_;
    bool systemDrive_ = false;    // PATH is a drive of the system (E:)
    bool haveTable_ = false;
    Listing listing_;
    bool haveChosen_ = false;
    FoundPartition chosen_;
    std::string diagnosis_;       // what a volume the analysis refuses holds
    bool exfat_ = false;          // the volume is exFAT: the engine's exFAT reading analyses it
    FILE *mapFile_ = nullptr;     // --map FILE, open from the start until drawn or dropped
    const VolumeMap *map_ = nullptr;   // the finished map
};
