// The directory walker: a stack of directory levels visited depth-first in
// directory order. The current directory's raw entries (hTmp) are split into
// subdirectories, kept on their level to be entered later, and files, kept
// for the scan thread to measure.
#pragma once

#include "platform/win32.h"

#define MAX_LEVELS 128
#define DIR_NAME_SIZE 256
// Longest directory path (drive included) that the window enters: a file name
// of 12 characters and the terminator must still fit in the 260-byte file
// path. The analyzer's paths (KeepLongNames, engine/longpath.h) have no limit.
#define MAX_DIR_PATH 247

extern LONG Level;                                   // current level; -1 when done
extern char DirName[MAX_LEVELS][DIR_NAME_SIZE];      // "\" at 0, "NAME\" below
extern HGLOBAL hDir[MAX_LEVELS];                     // subdirectory entries per level
extern DWORD pDirEntry[MAX_LEVELS];                  // next subdirectory to enter
extern DWORD DirCount[MAX_LEVELS];                   // subdirectories not yet entered

extern DWORD FileCount;                              // files not yet measured
extern HGLOBAL hFiles;                               // file entries of the current directory
extern DWORD pFileEntry;                             // next file to measure

// Called, when set, for every cluster a directory's chain claims as it is
// read (the FAT32 root's too), on the scan thread with hFat locked. NULL
// unless a caller wants to see where the directories lie.
typedef void (*DIRREAD)(DWORD cluster);
extern DIRREAD DirClusterRead;

// Empties every level (freeing what an earlier walk left) and puts the walk
// at the root: Level 0, DirName[0] "\".
void ResetWalk();
// Makes room to note the clusters read as directory data, for every cluster
// number a chain of the prepared volume can hold; false after showing why.
bool PrepareWalk();
// Reads the directory whose chain starts at `start` into hTmp (DirEntries
// slots), as far as its end marker. A chain that is broken or meets a cluster
// read as directory data before leaves hTmp NULL and returns true. False
// after an error was shown (a chain that ends at once has an empty block,
// which cannot be locked).
bool ReadDirectory(DWORD start);

// Counts the files (FileCount) and subdirectories (DirCount[Level]) in hTmp.
bool CountEntries();
// Copies the subdirectory entries of hTmp into hDir[Level].
bool LoadDirs();
// Copies the file entries of hTmp into hFiles.
bool LoadFiles();
// Enters the next subdirectory (reading its entries into hTmp) or climbs one
// level when the current one is exhausted. A directory that cannot be walked
// (a broken chain, a cluster already read as directory data, too deep, a path
// too long for the window) is skipped without hTmp, and counted in Skipped
// (engine/longpath.h) but for the path. False when the walk is complete or after
// an error was shown (a subdirectory that starts at the end of chain has an
// empty block, which cannot be locked).
bool NextDir();
// Writes the display name of a directory entry ("README.TXT", "DATA") into
// `destination`, at most 12 characters and a terminator.
void GetEntryName(char *destination, const BYTE *entry);
