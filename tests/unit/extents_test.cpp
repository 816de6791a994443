// vantrel-scan's runs on crafted images: a file's runs, the free runs of the
// FAT and the directories in more than one run, from one analysis; and the
// matching of --check's NAMEs.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "cli/extents.h"
#include "cli/match.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "support/testplatform.h"

namespace {

std::map<std::string, std::vector<ClusterRun>> runsByPath;

void KeepRuns(const BYTE *entry, LPCSTR path, DWORD clusters)
{
    runsByPath[path] = FileRuns(entry, clusters);
}

std::vector<std::pair<DWORD, DWORD>> Pairs(const std::vector<ClusterRun> &runs)
{
    std::vector<std::pair<DWORD, DWORD>> pairs;
    for (const ClusterRun &run : runs)
        pairs.emplace_back(run.cluster, run.clusters);
    return pairs;
}

}  // namespace

TEST(Extents, FileRunsFreeRunsAndFragmentedDirectories)
{
    // On both, in 60 clusters: FRAG in 20, 22, 23; D in 11, 13 (fragmented); D1 in 30 and D2 in 31,
    // 32 (each in one run, though adjacent); D3 in 40, 41, 50 (fragmented) and D4 in 51 right after it.
    auto common = [](FatImage &i, size_t root) {
        i.Entry(i.Root(root), "FRAG", 0x20, 20, 1500); i.Chain({20, 22, 23});
        i.Dir(i.Root(root + 1), "D", 11, 0); i.Chain({11, 13});
        i.Dir(i.Root(root + 2), "D1", 30, 0); i.Chain({30});
        i.Dir(i.Root(root + 3), "D2", 31, 0); i.Chain({31, 32});
        i.Dir(i.Root(root + 4), "D3", 40, 0); i.Chain({40, 41, 50});
        i.Dir(i.Root(root + 5), "D4", 51, 0); i.Chain({51});
    };
    const struct { const char *what; FatLayout layout; std::function<void(FatImage &)> lay;
                   ULONGLONG freeRuns; ClusterRun largest; DWORD fragmentedDirs; } cases[] = {
        // Free: 2-10, 12, 14-19, 21, 24-29, 33-39, 42-49, 52-61.
        {"FAT12", FatLayout::For(60), [&](FatImage &i) { common(i, 0); }, 8, {52, 10}, 2},
        // The root in 2 and 5, fragmented too; free: 3-4, 6-10, then as on FAT12.
        {"FAT32", FatLayout::For32(60), [&](FatImage &i) {
             i.Dir(i.Root(0), ".", 2, 0); i.Chain({2, 5});
             common(i, 2);
         }, 9, {52, 10}, 3},
        // Nothing free: the last run is a file's.
        {"FAT12, full", FatLayout::For(22), [&](FatImage &i) {
             i.Entry(i.Root(0), "FRAG", 0x20, 20, 1500); i.Chain({20, 22, 23});
             for (uint16_t c = 2; c < 20; c++)
                 i.SetLink(c, i.End());
             i.SetLink(21, i.End());
         }, 0, {0, 0}, 0},
    };
    FileMeasured = KeepRuns;
    for (const auto &test : cases) {
        FatImage image(test.layout);
        test.lay(image);
        runsByPath.clear();
        BeginDirectoryRuns();
        DirClusterRead = NoteDirectoryCluster;
        ASSERT_TRUE(RunAnalysis(image)) << test.what;
        DirClusterRead = NULL;
        EXPECT_EQ(Pairs(runsByPath["V:\\FRAG"]), (std::vector<std::pair<DWORD, DWORD>>{{20, 1}, {22, 2}})) << test.what;
        const FreeExtents free = CountFreeExtents();
        EXPECT_EQ(free.count, test.freeRuns) << test.what;
        EXPECT_EQ(free.largest.cluster, test.largest.cluster) << test.what;
        EXPECT_EQ(free.largest.clusters, test.largest.clusters) << test.what;
        EXPECT_EQ(FragmentedDirectories(), test.fragmentedDirs) << test.what;
    }
    FileMeasured = NULL;
}

TEST(Match, NamesAsWindowsMatchesThem)
{
    // NAME, long path, short path (both from the root, as RootRelative gives them), matches.
    const struct { const char *name, *longPath, *shortPath; bool matches; } cases[] = {
        {"game.hda", "Games/Game.HDA", "GAMES/GAME.HDA", true},        // a name alone: in any directory
        {"GAME~1.HDA", "Games/Game one.hda", "GAMES/GAME~1.HDA", true},    // by its short name
        {"/games/game one.hda", "Games/Game one.hda", "GAMES/GAME~1.HDA", true},
        {"\\GAMES\\GAME~1.HDA", "Games/Game one.hda", "GAMES/GAME~1.HDA", true},
        {"E:\\Games\\GAME~1.HDA", "Games/Game one.hda", "GAMES/GAME~1.HDA", true},   // drive, long and short mixed
        {"games/game one.hda", "Games/Game one.hda", "GAMES/GAME~1.HDA", true},      // from the root without '/'
        {"/game one.hda", "Games/Game one.hda", "GAMES/GAME~1.HDA", false},          // a separator: the whole path
        {"Game", "Games/Game one.hda", "GAMES/GAME~1.HDA", false},
        {"*.hda", "Games/Old/Disk.hda", "GAMES/OLD/DISK.HDA", true},
        {"/GAMES/*.hda", "Games/Old/Disk.hda", "GAMES/OLD/DISK.HDA", false},          // '*' does not cross a '/'
        {"/GAMES/*/*.hda", "Games/Old/Disk.hda", "GAMES/OLD/DISK.HDA", true},
        {"d?sk.h?a", "Disk.hda", "DISK.HDA", true},
        {"d?sk.hda?", "Disk.hda", "DISK.HDA", false},                                  // '?' is one character
        {"*", "a", "A", true},
        {"**a*", "bab", "BAB", true},
        {"*b*c", "abxbc", "ABXBC", true},
        {"*b*c", "abxbcx", "ABXBCX", false},
        {"ÉTÉ.TXT", "Été.txt", "ETE.TXT", true},                                      // Latin-1 folded
        {"ПАПКА", "папка", "8C8F~1", true},                                            // Cyrillic folded
        {"ŁÓDŹ?", "łódź1", "LODZ1", true},                                             // Latin Extended-A
        {"Dir/", "Dir/File", "DIR/FILE", false},                                       // names a directory
        {"/", "File", "FILE", false},
    };
    for (const auto &test : cases)
        EXPECT_EQ(MatchesName(test.name, test.longPath, test.shortPath), test.matches) << test.name;
    EXPECT_EQ(RootRelative("/Dir/File name.txt"), "Dir/File name.txt");
    EXPECT_EQ(RootRelative("V:\\DIR\\FILENA~1.TXT"), "DIR/FILENA~1.TXT");
    EXPECT_EQ(RootRelative("V:\\"), "");
    EXPECT_TRUE(IsPattern("*.iso"));
    EXPECT_FALSE(IsPattern("game.iso"));
}
