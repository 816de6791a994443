// Names are kept per directory in one string each, their ends in a vector,
// both reused from directory to directory: after the first directories the
// walk allocates nothing per file.
#include "engine/longpath.h"

#include <cstring>
#include <vector>

#include "app/kivifat.h"
#include "engine/longname.h"
#include "engine/walker.h"

bool KeepLongNames;
std::string LongDirPath, ShortDirPath, LongFilePath, ShortFilePath;
std::string LargestFileLongPath, LargestFileShortPath;
std::string SmallestFileLongPath, SmallestFileShortPath;
std::string MaxExtentsFileLongPath, MaxExtentsFileShortPath;
DIRLOADED DirLoaded;
DWORD Skipped[SKIP_REASONS];
const char *const SkipReasonName[SKIP_REASONS] = {
    "too_deep", "directory_entered_before", "broken_directory_chain", "unreadable_directory", "file_chain_mismatch",
};

namespace {

// The names of one directory's files or subdirectories, in the walker's order.
struct NameList {
    std::string text;
    std::vector<size_t> ends;
};

NameList DirNames[MAX_LEVELS];   // the subdirectories of each level, as hDir
NameList FileNames;              // the files of the current directory, as hFiles
size_t LongDirEnd[MAX_LEVELS];   // the length of LongDirPath at each level
size_t ShortDirEnd[MAX_LEVELS];

void Clear(NameList &names)
{
    names.text.clear();
    names.ends.clear();
}

// Appends name `index` of `names`; nothing when there is none.
void AppendName(std::string &out, const NameList &names, DWORD index)
{
    if (index >= names.ends.size())
        return;
    const size_t start = index == 0 ? 0 : names.ends[index - 1];
    out.append(names.text, start, names.ends[index] - start);
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

}  // namespace

void ResetLongNames()
{
    for (NameList &names : DirNames)
        Clear(names);
    Clear(FileNames);
    LongDirPath = "/";
    ShortDirPath = std::string(cDrive) + "\\";
    LongDirEnd[0] = LongDirPath.size();
    ShortDirEnd[0] = ShortDirPath.size();
    LongFilePath.clear();
    ShortFilePath.clear();
    for (std::string *record : {&LargestFileLongPath, &LargestFileShortPath, &SmallestFileLongPath,
                                &SmallestFileShortPath, &MaxExtentsFileLongPath, &MaxExtentsFileShortPath})
        record->clear();
    for (DWORD &count : Skipped)
        count = 0;
}

void NameEntries()
{
    Clear(DirNames[Level]);
    Clear(FileNames);
    if (DirLoaded != NULL)
        DirLoaded();
}

void NameEntry(const BYTE *raw, DWORD slot, bool directory)
{
    NameList &names = directory ? DirNames[Level] : FileNames;
    AppendEntryName(names.text, raw, slot);
    names.ends.push_back(names.text.size());
}

void EnterLongDir(DWORD index)
{
    LongDirPath.resize(LongDirEnd[Level - 1]);
    AppendName(LongDirPath, DirNames[Level - 1], index);
    LongDirPath += '/';
    LongDirEnd[Level] = LongDirPath.size();
    ShortDirPath.resize(ShortDirEnd[Level - 1]);
    ShortDirPath += DirName[Level];
    ShortDirEnd[Level] = ShortDirPath.size();
}

void NameFile(DWORD index, const char *name)
{
    LongFilePath.assign(LongDirPath);
    AppendName(LongFilePath, FileNames, index);
    ShortFilePath.assign(ShortDirPath).append(name);
    // The window's directory path stops at 255 characters: cFileName is
    // written again from the whole path.
    ShortenInto(cFileName, sizeof cFileName, ShortFilePath);
}

void NoteSkipped(SkipReason reason)
{
    Skipped[reason]++;
}

void KeepRecordPaths(std::string &longPath, std::string &shortPath)
{
    longPath = LongFilePath;
    shortPath = ShortFilePath;
}
