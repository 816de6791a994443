// The analyzer's side of the walk. With KeepLongNames on, the walk keeps every
// file's and directory's long name and builds full paths with no length limit,
// beside the window's 8.3 names and 260-byte buffers, and enters every
// directory it can reach however long its path. What it still leaves out is
// counted by reason, in either mode (the window's own limit on path length
// aside). Everything here is written on the scan thread under
// MutexForCommonData (the root's names on the starting thread, before the
// scan thread exists); read it in the hooks, or after KIV_END.
#pragma once

#include <string>

#include "platform/win32.h"

// Set before the analysis starts; off for the window, which then walks, names
// and skips exactly as without it.
extern bool KeepLongNames;

// The directory whose files are being measured: its long path in UTF-8, "/"
// at the root and a '/' after every name ("/Very Long Dir/"); and its path as
// the window builds it, whole ("V:\", "V:\VERYLO~1\"), in short names' bytes.
extern std::string LongDirPath;
extern std::string ShortDirPath;

// The file being measured (in FileMeasured): "/Very Long Dir/A long name.txt"
// and "V:\VERYLO~1\ALONGN~1.TXT". Built when first asked for, so that a walk
// that does not ask costs little. When the short path does not fit
// cFileName's 260 bytes, cFileName holds it shortened in the middle, visibly:
// "V:\...\LAST\DIRS\FILE.TXT".
const std::string &FileLongPath();
const std::string &FileShortPath();

// Whole paths of the files that set the records, which LargestFileName,
// SmallestFileName and MaxExtentsFileName hold shortened when too long.
extern std::string LargestFileLongPath, LargestFileShortPath;
extern std::string SmallestFileLongPath, SmallestFileShortPath;
extern std::string MaxExtentsFileLongPath, MaxExtentsFileShortPath;

// Called, when set and KeepLongNames is on, for every directory whose entries
// are loaded, the root first, with LongDirPath and ShortDirPath naming it.
typedef void (*DIRLOADED)();
extern DIRLOADED DirLoaded;

// What the walk leaves out, by reason: directories (with all they hold) not
// walked, files not measured.
enum SkipReason {
    SKIPPED_TOO_DEEP,              // a directory below the level stack's last level
    SKIPPED_DIR_ENTERED_BEFORE,    // its clusters were read as a directory before: a loop, or chains that meet
    SKIPPED_BROKEN_DIR_CHAIN,      // a directory whose chain is broken (or that has no first cluster)
    SKIPPED_UNREADABLE_DIR,        // a directory cut short at a cluster that could not be read
    SKIPPED_FILE_CHAIN_MISMATCH,   // a file whose chain is broken or not as long as its size needs
    SKIPPED_BAD_ENTRY_SET,         // exFAT: an entry set that fails its checks (count, stream, name, checksum)
    SKIP_REASONS
};
extern DWORD Skipped[SKIP_REASONS];
// The reasons' names, lower_snake_case: "too_deep", "directory_entered_before",
// "broken_directory_chain", "unreadable_directory", "file_chain_mismatch",
// "bad_entry_set".
extern const char *const SkipReasonName[SKIP_REASONS];

// The walk's calls. ResetLongNames empties everything (with ResetWalk);
// NameEntries keeps the slots of the directory in hTmp (`raw`) as the walker
// counts its entries, and NameEntry each subdirectory or file slot, in slot
// order; EnterLongDir follows the walker into subdirectory `index` of the
// level above the current one; NameFile names file `index` of the current
// directory.
void ResetLongNames();
void NameEntries(const BYTE *raw);
void NameEntry(DWORD slot, bool directory);
void EnterLongDir(DWORD index);
void NameFile(DWORD index);
void NoteSkipped(SkipReason reason);
// The exFAT walk names each file itself: its whole paths, as FileLongPath
// and FileShortPath then return them.
void SetFilePaths(const std::string &longPath, const std::string &shortPath);
// Writes `path` into the `size` bytes at `destination`; when it does not fit,
// its drive and root, "...", and as much of its end as fits, from a '\'.
void ShortenPathInto(char *destination, size_t size, const std::string &path);
// Keeps the current file's whole paths as a record holder's.
void KeepRecordPaths(std::string &longPath, std::string &shortPath);
