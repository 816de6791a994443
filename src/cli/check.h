// --check: the files the NAMEs of the command line name, each with its runs
// and its verdict against --max-extents, collected from the engine's hooks
// as the walk measures files and loads directories.
#pragma once

#include <string>
#include <vector>

#include "cli/extents.h"
#include "platform/win32.h"

struct CheckedFile {
    std::string path;        // PlatformPath of the long path
    std::string shortPath;   // the 8.3 path as the window builds it ("V:\GAMES\DOOM~1.HDA"), UTF-8
    DWORD size;
    DWORD extents;
    std::vector<ClusterRun> runs;
    bool noFatChain;         // exFAT: the NoFatChain flag; false on FAT
};

struct CheckReport {
    unsigned long maxExtents;
    bool requireFlag;                 // --require-flag, on an exFAT volume
    std::vector<CheckedFile> files;   // in the order they were measured, each once
};

// True when `file` has at most the extents allowed and, with --require-flag
// on exFAT, its NoFatChain flag set.
bool Passes(const CheckReport &check, const CheckedFile &file);

// Before the walk: the NAMEs to match and the limit.
void BeginCheck(const std::vector<std::string> &names, unsigned long maxExtents, bool requireFlag);
// The hooks: a measured file (FileMeasured's arguments) and a loaded
// directory (DirLoaded).
void CheckMeasuredFile(const BYTE *entry, DWORD clusters);
void CheckLoadedDirectory();
const CheckReport &CheckedFiles();

// After the walk: says on standard error what each NAME that names no
// measured file names (nothing, or only directories), and notes a name
// without wildcards that names several files (names that differ in case).
// True when every NAME named a file.
bool EveryNameMatched(const char *path);
// True when every checked file has at most the extents allowed.
bool EveryFilePasses();
