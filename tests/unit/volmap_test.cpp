// The volume map of vantrel-scan on crafted images: each data cluster counted
// once, in the most severe state it holds, from one analysis.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/kivifat.h"
#include "cli/volmap.h"
#include "engine/exfatscan.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "support/exfatimage.h"
#include "support/testplatform.h"

namespace {

void MapFile(const BYTE *entry, LPCSTR, DWORD clusters)
{
    MapMeasuredFile(entry, clusters);
}

}  // namespace

TEST(VolumeMap, CountsEachClusterOnceInItsWorstState)
{
    // On both: a file in one cluster (10), a file of 3 clusters in 2 extents (20, 22, 23) and one
    // sharing its cluster 23, a directory (11), a lost chain (40, 41), a file whose chain is too
    // short for its size (60, lost), a bad cluster (50).
    auto common = [](FatImage &i, uint32_t bad) {
        const size_t root = i.layout.fat32 ? 2 : 0;   // after a FAT32 root's "." and ".."
        i.File(i.Root(root), "ONE", 10);
        i.Entry(i.Root(root + 1), "FRAG", 0x20, 20, 1500); i.Chain({20, 22, 23});
        i.File(i.Root(root + 2), "SHARES", 23);
        i.Dir(i.Root(root + 3), "D", 11, 0);
        i.Chain({40, 41});
        i.Entry(i.Root(root + 4), "SHORT", 0x20, 60, 5000); i.Chain({60});
        i.SetLink(50, bad);
    };
    const struct { const char *what; FatLayout layout; std::function<void(FatImage &)> lay;
                   ULONGLONG free, contiguous, directory, fragmented, lost, bad; } cases[] = {
        {"FAT12", FatLayout::For(300), [&](FatImage &i) { common(i, 0xFF7); }, 291, 1, 1, 3, 3, 1},
        {"FAT16, a file running into the bad cluster is lost", FatLayout::For(5000), [&](FatImage &i) {
             common(i, 0xFFF7);
             i.Entry(i.Root(5), "BADEND", 0x20, 70, 1024); i.SetLink(70, 50);
         }, 4990, 1, 1, 3, 4, 1},
        {"FAT32: the root is a directory", FatLayout::For32(100), [&](FatImage &i) {
             i.Dir(i.Root(0), ".", 2, 0); i.Chain({2});
             common(i, 0x0FFFFFF7);
         }, 90, 1, 2, 3, 3, 1},
    };
    FileMeasured = MapFile;
    for (const auto &test : cases) {
        FatImage image(test.layout);
        test.lay(image);
        BeginVolumeMap();
        ASSERT_TRUE(RunAnalysis(image)) << test.what;
        const VolumeMap &map = FinishVolumeMap();
        EXPECT_EQ(DirClusterRead, nullptr);
        const ULONGLONG *n = map.counts;
        EXPECT_EQ(n[MAP_UNSEEN], 0u) << test.what;
        EXPECT_EQ(n[MAP_FREE], test.free) << test.what;
        EXPECT_EQ(n[MAP_CONTIGUOUS], test.contiguous) << test.what;
        EXPECT_EQ(n[MAP_DIRECTORY], test.directory) << test.what;
        EXPECT_EQ(n[MAP_FRAGMENTED], test.fragmented) << test.what;
        EXPECT_EQ(n[MAP_LOST], test.lost) << test.what;
        EXPECT_EQ(n[MAP_BAD], test.bad) << test.what;
        EXPECT_EQ(map.states.size(), (size_t)test.layout.Clusters()) << test.what;
    }
    FileMeasured = NULL;
}

TEST(VolumeMap, OnExfatTakesFreeAndLostFromTheAllocationBitmap)
{
    // The bitmap, up-case table and root (2 to 4) and a directory (12) as directory data, a flagged
    // file (5 to 7), a fragmented one (8, 10, 11), a cluster in use that nothing reaches (20), and a
    // file whose FAT chain loops (13, 14: lost, as the walk measured nothing there).
    ExfatImage image(64);
    image.Allocate(5, 3);
    unsigned slot = 3;
    slot += image.Write(image.Root(slot), {u"flagged", false, 5, 1500, true});
    image.Chain({8, 10, 11});
    slot += image.Write(image.Root(slot), {u"fragmented", false, 8, 1500});
    image.Chain({12});
    slot += image.Write(image.Root(slot), {u"dir", true, 12, 512});
    image.Chain({13, 14});
    image.SetLink(14, 13);
    image.Write(image.Root(slot), {u"loop", false, 13, 1000});
    image.Allocate(20, 1);
    FileMeasured = MapFile;
    BeginVolumeMap();
    hWndMain = TestWindow();
    GiveAway = false;
    ASSERT_TRUE(MapDrive('V', image.Save("M.img")));
    strcpy(cDrive, "V:");
    ResetStats();
    ASSERT_TRUE(StartExfatScan() && WaitForCommand(KIV_END, 20000));
    const VolumeMap &map = FinishVolumeMap();
    FileMeasured = NULL;
    const ULONGLONG *n = map.counts;
    EXPECT_EQ(n[MAP_UNSEEN], 0u);
    EXPECT_EQ(n[MAP_FREE], 64u - 13);
    EXPECT_EQ(n[MAP_CONTIGUOUS], 3u);
    EXPECT_EQ(n[MAP_DIRECTORY], 4u);
    EXPECT_EQ(n[MAP_FRAGMENTED], 3u);
    EXPECT_EQ(n[MAP_LOST], 3u);
    EXPECT_EQ(n[MAP_BAD], 0u);
}

TEST(VolumeMap, SharesCellsOnlyAboveAMillionClusters)
{
    EXPECT_EQ(ClustersPerCell(0, MAP_MAX_CELLS), 1u);
    EXPECT_EQ(ClustersPerCell(MAP_MAX_CELLS, MAP_MAX_CELLS), 1u);
    EXPECT_EQ(ClustersPerCell(MAP_MAX_CELLS + 1, MAP_MAX_CELLS), 2u);
    EXPECT_EQ(ClustersPerCell(0x0FFFFFF5, MAP_MAX_CELLS), 256u);
}
