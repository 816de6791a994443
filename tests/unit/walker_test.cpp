// The directory walk: its order, which entries count as files and
// directories, and the directories it must skip or stop at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/kivifat.h"
#include "engine/scan.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"

namespace {

std::vector<std::string> measured;

void Record(const BYTE *, LPCSTR path, WORD)
{
    measured.push_back(path);
}

// Runs the analysis and returns the paths of the measured files in order.
std::vector<std::string> Walk(const FatImage &image)
{
    measured.clear();
    FileMeasured = Record;
    EXPECT_TRUE(RunAnalysis(image));
    FileMeasured = nullptr;
    return measured;
}

// A one-cluster file of 10 bytes in `cluster`.
void PutFile(FatImage &image, size_t slot, const char *name, uint16_t cluster)
{
    image.PutEntry(slot, name, 0x20, cluster, 10);
    image.Chain({cluster});
}

// A one-cluster directory in `cluster` with its dot entries.
void PutDir(FatImage &image, size_t slot, const char *name, uint16_t cluster, uint16_t parent)
{
    image.PutEntry(slot, name, 0x10, cluster, 0);
    image.Chain({cluster});
    image.PutEntry(image.ClusterSlot(cluster, 0), ".", 0x10, cluster, 0);
    image.PutEntry(image.ClusterSlot(cluster, 1), "..", 0x10, parent, 0);
}

TEST(Walk, VisitsFilesBeforeSubdirectoriesDepthFirstInDirectoryOrder)
{
    FatImage image(FatLayout::For(100));
    PutFile(image, image.RootSlot(0), "FILE1   TXT", 20);
    PutDir(image, image.RootSlot(1), "A", 10, 0);
    PutFile(image, image.RootSlot(2), "FILE2", 21);
    PutDir(image, image.RootSlot(3), "B", 11, 0);
    PutFile(image, image.ClusterSlot(10, 2), "A1      DAT", 22);
    PutDir(image, image.ClusterSlot(10, 3), "C", 12, 10);
    PutFile(image, image.ClusterSlot(12, 2), "C1      DAT", 23);
    PutFile(image, image.ClusterSlot(11, 2), "B1      DAT", 24);
    EXPECT_EQ(Walk(image), (std::vector<std::string>{"V:\\FILE1.TXT", "V:\\FILE2", "V:\\A\\A1.DAT",
                                                     "V:\\A\\C\\C1.DAT", "V:\\B\\B1.DAT"}));
    EXPECT_TRUE(WalkCompleted);
    EXPECT_TRUE(CapturedTexts().empty());
}

TEST(Walk, IgnoresDeletedLabelLongNameAndDotEntries)
{
    FatImage image(FatLayout::For(100));
    image.PutEntry(image.RootSlot(0), "VOLUME  LBL", 0x08, 0, 0);
    image.PutEntry(image.RootSlot(1), "\x41" "B\0C\0D\0E", 0x0F, 0, 0);   // long-name part
    PutFile(image, image.RootSlot(2), "\xE5" "ELETED TXT", 20);
    PutDir(image, image.RootSlot(3), ".HIDDEN", 10, 0);
    PutFile(image, image.ClusterSlot(10, 2), "INSIDE", 21);
    PutFile(image, image.RootSlot(4), "READ ME TXT", 22);   // inner spaces are dropped
    PutDir(image, image.RootSlot(5), "D", 11, 0);           // its "." and ".." are not followed
    EXPECT_EQ(Walk(image), (std::vector<std::string>{"V:\\README.TXT"}));
}

TEST(Walk, StopsAtTheEndMarkerOrAfterTheLastRootSlot)
{
    FatImage image(FatLayout::For(100));
    PutFile(image, image.RootSlot(0), "BEFORE", 20);
    PutFile(image, image.RootSlot(2), "AFTER", 21);   // slot 1 is the end marker
    EXPECT_EQ(Walk(image), (std::vector<std::string>{"V:\\BEFORE"}));

    FatImage full(FatLayout::For(100));
    for (unsigned slot = 0; slot < 16; slot++)
        PutFile(full, full.RootSlot(slot), ("F" + std::to_string(slot)).c_str(), (uint16_t)(20 + slot));
    full.PutEntry(full.RootSlot(16), "PASTEND", 0x20, 40, 10);   // first slot after the root
    EXPECT_EQ(Walk(full).size(), 16u);
}

TEST(Walk, SkipsDirectoriesItCannotOrMustNotEnterSilently)
{
    FatImage image(FatLayout::For(100));
    image.PutEntry(image.RootSlot(0), "NOCHAIN", 0x10, 0, 0);
    image.PutEntry(image.RootSlot(1), "BROKEN", 0x10, 30, 0);
    image.SetLink(30, 31);   // 31 is free
    PutDir(image, image.RootSlot(2), "A", 10, 0);
    PutFile(image, image.ClusterSlot(10, 2), "A1", 20);
    image.PutEntry(image.ClusterSlot(10, 3), "SELF", 0x10, 10, 0);   // refers back to A
    image.PutEntry(image.RootSlot(3), "SAME", 0x10, 10, 0);          // A again
    image.PutEntry(image.RootSlot(4), "MERGES", 0x10, 40, 0);        // runs into A's cluster
    image.SetLink(40, 10);
    PutFile(image, image.ClusterSlot(40, 0), "M1", 21);
    EXPECT_EQ(Walk(image), (std::vector<std::string>{"V:\\A\\A1"}));
    EXPECT_TRUE(WalkCompleted);
    EXPECT_TRUE(CapturedTexts().empty());
}

TEST(Walk, EndsOnADirectoryThatStartsAtTheEndOfChain)
{
    FatImage image(FatLayout::For(100));
    image.PutEntry(image.RootSlot(0), "EMPTY", 0x10, 0xFFF, 0);
    PutFile(image, image.RootSlot(1), "ROOT", 20);
    PutDir(image, image.RootSlot(2), "LATER", 10, 0);
    PutFile(image, image.ClusterSlot(10, 2), "NEVER", 21);
    EXPECT_EQ(Walk(image), (std::vector<std::string>{"V:\\ROOT"}));
    EXPECT_FALSE(WalkCompleted);
    EXPECT_EQ(CapturedTexts(),
              std::vector<std::string>{"Error number 157 occured during NextDir - GlobalLock - Tmp."});
}

TEST(Walk, GoesOnAfterAFailedClusterReadWithTheSliceEmpty)
{
    // Cluster 200 has a FAT entry but lies past the volume's last cluster.
    FatImage image(FatLayout::For(100));
    PutDir(image, image.RootSlot(0), "A", 10, 0);
    image.Chain({10, 200});
    PutFile(image, image.ClusterSlot(10, 2), "A1", 20);
    PutFile(image, image.RootSlot(1), "B", 21);
    PutDir(image, image.RootSlot(2), "C", 11, 0);
    PutFile(image, image.ClusterSlot(11, 2), "C1", 22);
    EXPECT_EQ(Walk(image), (std::vector<std::string>{"V:\\B", "V:\\A\\A1", "V:\\C\\C1"}));
    EXPECT_TRUE(WalkCompleted);
    EXPECT_EQ(CapturedTexts(), std::vector<std::string>{"Error number 0xC0000011 occured during GetCluster - NtReadFile"});
}

// A chain of `depth` nested directories, each holding one file.
FatImage NestedTree(unsigned depth, const char *dirName)
{
    FatImage image(FatLayout::For(2 * depth + 10));
    PutFile(image, image.RootSlot(0), "F", 2);
    size_t slot = image.RootSlot(1);
    uint16_t parent = 0;
    for (unsigned level = 1; level <= depth; level++) {
        const uint16_t dir = (uint16_t)(2 * level + 1), file = (uint16_t)(2 * level + 2);
        PutDir(image, slot, dirName, dir, parent);
        PutFile(image, image.ClusterSlot(dir, 2), "F", file);
        slot = image.ClusterSlot(dir, 3);
        parent = dir;
    }
    return image;
}

TEST(Walk, EntersNoDeeperThanTheLevelStackAndThePathBuffersAllow)
{
    // Blank names keep paths short, so only the 128-level stack limits.
    EXPECT_EQ(Walk(NestedTree(140, "        ")).size(), 128u);
    EXPECT_TRUE(WalkCompleted);

    // "DDDDDDDD\" is 9 characters a level: 27 levels fit a 260-byte path.
    const std::vector<std::string> paths = Walk(NestedTree(40, "DDDDDDDD"));
    ASSERT_EQ(paths.size(), 28u);
    EXPECT_EQ(paths.back().size(), 3u + 27 * 9 + 1);
    EXPECT_TRUE(CapturedTexts().empty());
}

}  // namespace
