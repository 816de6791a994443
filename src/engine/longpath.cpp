// Names are decoded only when they are needed. The walk keeps a copy of the
// slots of each directory on the current path and the slot of each of its
// subdirectories and files (reused from directory to directory, so that after
// the first directories nothing is allocated per file); a subdirectory's name
// is decoded when the walk enters it, a file's name and paths when they are
// asked for.
#include "engine/longpath.h"

#include <cstring>
#include <vector>

#include "app/kivifat.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/longname.h"
#include "engine/walker.h"

bool KeepLongNames;
std::string LongDirPath, ShortDirPath;
std::string LargestFileLongPath, LargestFileShortPath;
std::string SmallestFileLongPath, SmallestFileShortPath;
std::string MaxExtentsFileLongPath, MaxExtentsFileShortPath;
DIRLOADED DirLoaded;
DWORD Skipped[SKIP_REASONS];
const char *const SkipReasonName[SKIP_REASONS] = {
    "too_deep", "directory_entered_before", "broken_directory_chain", "unreadable_directory", "file_chain_mismatch",
    "bad_entry_set",
};

namespace {

// A directory on the current path: its slots as read, and the slot of each
// of its subdirectories, in the walker's order (as hDir).
struct LevelSlots {
    std::vector<BYTE> raw;
    std::vector<DWORD> dirs;
};

LevelSlots Levels[MAX_LEVELS];
std::vector<DWORD> FileSlots;    // the slot of each file of the current directory, as hFiles
size_t LongDirEnd[MAX_LEVELS];   // the length of LongDirPath at each level
size_t ShortDirEnd[MAX_LEVELS];

// The file being measured, and its paths once built.
DWORD FileIndex;
bool FilePathsBuilt;
std::string LongFilePath, ShortFilePath;

// Appends the name of entry `index` of `slots`, slots of level `level`;
// nothing when there is none.
void AppendName(std::string &out, LONG level, const std::vector<DWORD> &slots, DWORD index)
{
    if (index < slots.size())
        AppendEntryName(out, Levels[level].raw.data(), slots[index]);
}

// Writes `path` into the `size` bytes at `destination`; when it does not fit,
// its drive and root, "...", and as much of its end as fits, from a '\'.
void ShortenInto(char *destination, size_t size, const std::string &path)
{
    if (path.size() < size) {
        memcpy(destination, path.c_str(), path.size() + 1);
        return;
    }
    const char head[] = "\\...";
    const size_t drive = strlen(cDrive) + 1;   // "V:\"
    const size_t tail = size - 1 - (drive - 1) - (sizeof head - 1);
    size_t from = path.find('\\', path.size() - tail);
    if (from == std::string::npos)
        from = path.size() - tail;
    memcpy(destination, path.c_str(), drive - 1);
    memcpy(destination + drive - 1, head, sizeof head - 1);
    memcpy(destination + drive - 1 + sizeof head - 1, path.c_str() + from, path.size() - from + 1);
}

void BuildFilePaths()
{
    if (FilePathsBuilt)
        return;
    LongFilePath.assign(LongDirPath);
    AppendName(LongFilePath, Level, FileSlots, FileIndex);
    char name[13] = "";
    if (FileIndex < FileSlots.size())
        GetEntryName(name, &Levels[Level].raw[(size_t)FileSlots[FileIndex] * SZ_DIRE]);
    ShortFilePath.assign(ShortDirPath).append(name);
    FilePathsBuilt = true;
}

}  // namespace

const std::string &FileLongPath()
{
    BuildFilePaths();
    return LongFilePath;
}

const std::string &FileShortPath()
{
    BuildFilePaths();
    return ShortFilePath;
}

void ResetLongNames()
{
    for (LevelSlots &level : Levels) {
        level.raw.clear();
        level.dirs.clear();
    }
    FileSlots.clear();
    LongDirPath = "/";
    ShortDirPath = std::string(cDrive) + "\\";
    LongDirEnd[0] = LongDirPath.size();
    ShortDirEnd[0] = ShortDirPath.size();
    FilePathsBuilt = false;
    LongFilePath.clear();
    ShortFilePath.clear();
    for (std::string *record : {&LargestFileLongPath, &LargestFileShortPath, &SmallestFileLongPath,
                                &SmallestFileShortPath, &MaxExtentsFileLongPath, &MaxExtentsFileShortPath})
        record->clear();
    for (DWORD &count : Skipped)
        count = 0;
}

void NameEntries(const BYTE *raw)
{
    Levels[Level].raw.assign(raw, raw + (size_t)DirEntries * SZ_DIRE);
    Levels[Level].dirs.clear();
    FileSlots.clear();
    if (DirLoaded != NULL)
        DirLoaded();
}

void NameEntry(DWORD slot, bool directory)
{
    (directory ? Levels[Level].dirs : FileSlots).push_back(slot);
}

void EnterLongDir(DWORD index)
{
    LongDirPath.resize(LongDirEnd[Level - 1]);
    AppendName(LongDirPath, Level - 1, Levels[Level - 1].dirs, index);
    LongDirPath += '/';
    LongDirEnd[Level] = LongDirPath.size();
    ShortDirPath.resize(ShortDirEnd[Level - 1]);
    ShortDirPath += DirName[Level];
    ShortDirEnd[Level] = ShortDirPath.size();
}

void NameFile(DWORD index)
{
    FileIndex = index;
    FilePathsBuilt = false;
    // Below a directory path the window would not enter, cFileName is written
    // again from the whole path (the window's stops at 255 characters).
    if (ShortDirPath.size() > MAX_DIR_PATH)
        ShortenInto(cFileName, sizeof cFileName, FileShortPath());
}

void ShortenPathInto(char *destination, size_t size, const std::string &path)
{
    ShortenInto(destination, size, path);
}

void SetFilePaths(const std::string &longPath, const std::string &shortPath)
{
    LongFilePath = longPath;
    ShortFilePath = shortPath;
    FilePathsBuilt = true;
}

void NoteSkipped(SkipReason reason)
{
    Skipped[reason]++;
}

void KeepRecordPaths(std::string &longPath, std::string &shortPath)
{
    longPath = FileLongPath();
    shortPath = FileShortPath();
}
