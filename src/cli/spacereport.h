// The report's parts about where things lie: runs, free extents,
// fragmented directories, --fits and --check, as text and as JSON members.
#pragma once

#include <string>
#include <vector>

#include "cli/json.h"
#include "cli/report.h"

// Runs as text, "first+clusters" each, separated by spaces.
std::string RunsText(const std::vector<ClusterRun> &runs);
// A "runs" array: {"cluster", "clusters", "sector", "sectors", "offset"} each.
void WriteRuns(JsonWriter &json, const std::vector<ClusterRun> &runs, ULONGLONG volumeStart);

// True when a file of --fits SIZE can be written in one free extent.
bool Fits(const Analysis &analysis);

// The lines and members of free space and directories: free extents, the
// largest, fragmented directories, and with --fits whether SIZE fits.
void PrintSpaceText(const Analysis &analysis);
void WriteSpaceMembers(JsonWriter &json, const Analysis &analysis);

// --check: a line per file, PASS or FAIL, extents, size, runs, path; and
// the "check" member.
void PrintCheckText(const Analysis &analysis);
void WriteCheck(JsonWriter &json, const Analysis &analysis);
