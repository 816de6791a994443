// The files --check names, matched on the walk's long and short paths.
#include "cli/check.h"

#include <cstdio>

#include "app/kivifat.h"
#include "cli/match.h"
#include "cli/text.h"
#include "engine/chains.h"
#include "engine/exfatscan.h"
#include "engine/fatdisk.h"
#include "engine/longpath.h"

namespace {

struct Name {
    std::string text;
    DWORD files;       // measured files it names
    bool directory;    // it names a directory
};

std::vector<Name> names;
CheckReport report;

}  // namespace

void BeginCheck(const std::vector<std::string> &texts, unsigned long maxExtents, bool requireFlag)
{
    report.requireFlag = requireFlag;
    names.clear();
    for (const std::string &text : texts)
        names.push_back({text, 0, false});
    report.maxExtents = maxExtents;
    report.files.clear();
}

void CheckMeasuredFile(const BYTE *entry, DWORD clusters)
{
    // exFAT has no short names: its short path is the long one in the window's form, UTF-8 already.
    const std::string shortPath = ExfatVolume ? FileShortPath() : OemToUtf8(FileShortPath().c_str());
    const std::string longRelative = RootRelative(FileLongPath()), shortRelative = RootRelative(shortPath);
    bool named = false;
    for (Name &name : names)
        if (MatchesName(name.text, longRelative, shortRelative)) {
            name.files++;
            named = true;
        }
    if (named)
        report.files.push_back({PlatformPath(FileLongPath(), cDrive), shortPath, ld_32(&entry[DIR_FileSize]), NumberOfExtents,
                                FileRuns(entry, clusters), ExfatVolume && ExfatFile.noFatChain});
}

void CheckLoadedDirectory()
{
    const std::string longRelative = RootRelative(LongDirPath);
    const std::string shortRelative = RootRelative(ExfatVolume ? ShortDirPath : OemToUtf8(ShortDirPath.c_str()));
    if (longRelative.empty())   // the root
        return;
    // Without the '/' that ends a directory's path.
    const std::string longPath = longRelative.substr(0, longRelative.size() - 1);
    const std::string shortPath = shortRelative.substr(0, shortRelative.size() - 1);
    for (Name &name : names)
        if (!name.directory && MatchesName(name.text, longPath, shortPath))
            name.directory = true;
}

const CheckReport &CheckedFiles()
{
    return report;
}

bool EveryNameMatched(const char *path)
{
    bool every = true;
    for (const Name &name : names) {
        if (name.files == 0) {
            every = false;
            fprintf(stderr, "vantrel-scan: %s: '%s' %s\n", path, name.text.c_str(),
                    name.directory ? "names only directories, no file"
                                   : "names no measured file (files of length 0 and files whose chain is "
                                     "broken are not measured)");
        } else if (name.files > 1 && !IsPattern(name.text)) {
            fprintf(stderr, "vantrel-scan: %s: '%s' names %lu files whose names differ only in case; each is checked\n",
                    path, name.text.c_str(), (unsigned long)name.files);
        }
    }
    return every;
}

bool EveryFilePasses()
{
    for (const CheckedFile &file : report.files)
        if (!Passes(report, file))
            return false;
    return true;
}

bool Passes(const CheckReport &check, const CheckedFile &file)
{
    // FAT has no such flag: --require-flag asks nothing more of its files.
    return file.extents <= check.maxExtents && (!check.requireFlag || !ExfatVolume || file.noFatChain);
}
