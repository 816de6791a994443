// FAT links and chain measures on 12-bit and 16-bit FATs: extents, broken
// chains, reserved values, loops and links outside the FAT image.
#include <gtest/gtest.h>

#include <vector>

#include "engine/chains.h"
#include "engine/geometry.h"
#include "support/fatimage.h"

namespace {

// No limit from the file's size.
const DWORD AnyLength = 0xFFFFFFFF;

// Points the engine's geometry at `image` without reading a volume, and
// returns its first FAT copy.
const BYTE *UseFat(const FatImage &image)
{
    const FatLayout &layout = image.layout();
    SectorsPerFat = layout.sectorsPerFat;
    TotalClusters = layout.Clusters();
    FatBits = layout.FatBits();
    return &image.bytes()[layout.reservedSectors * 512u];
}

TEST(NextCluster, TwelveBitEntriesComeFromBothHalvesOfAByte)
{
    // Entries 2, 3, 4, 5 = 0x003, 0x004, 0xABC, 0xFFF packed by hand.
    std::vector<BYTE> fat(512, 0);
    const BYTE packed[] = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xBC, 0xFA, 0xFF};
    std::copy(std::begin(packed), std::end(packed), fat.begin());
    SectorsPerFat = 1;
    FatBits = 12;
    EXPECT_EQ(NextCluster(fat.data(), 2), 0x003u);
    EXPECT_EQ(NextCluster(fat.data(), 3), 0x004u);
    EXPECT_EQ(NextCluster(fat.data(), 4), 0xABCu);
    EXPECT_EQ(NextCluster(fat.data(), 5), 0xFFFu);
    // The last whole entry of a 512-byte image is 340; 341 would need byte 512.
    EXPECT_NE(NextCluster(fat.data(), 340), NO_FAT_ENTRY);
    EXPECT_EQ(NextCluster(fat.data(), 341), NO_FAT_ENTRY);
}

TEST(NextCluster, SixteenBitEntriesAreLittleEndianAndBounded)
{
    std::vector<BYTE> fat(512, 0);
    fat[2 * 7] = 0x34;
    fat[2 * 7 + 1] = 0x12;
    SectorsPerFat = 1;
    FatBits = 16;
    EXPECT_EQ(NextCluster(fat.data(), 7), 0x1234u);
    EXPECT_NE(NextCluster(fat.data(), 255), NO_FAT_ENTRY);
    EXPECT_EQ(NextCluster(fat.data(), 256), NO_FAT_ENTRY);
    EXPECT_EQ(NextCluster(fat.data(), 0xFFFF), NO_FAT_ENTRY);
}

struct ChainCase {
    const char *what;
    std::vector<std::pair<uint16_t, uint16_t>> links;  // cluster -> link; others are free
    uint16_t start;
    bool complete;
    WORD clusters;
    DWORD extents;
};

class FileChain : public ::testing::TestWithParam<unsigned> {
protected:
    // The end-of-chain value of the FAT width under test.
    uint16_t End() const { return GetParam() == 16 ? 0xFFFF : 0xFFF; }
    FatLayout Layout() const { return FatLayout::For(GetParam() == 16 ? 5000 : 200); }
};

TEST_P(FileChain, CountsClustersAndExtents)
{
    const uint16_t end = End();
    const ChainCase cases[] = {
        {"contiguous", {{5, 6}, {6, 7}, {7, end}}, 5, true, 3, 1},
        {"two runs", {{5, 6}, {6, 9}, {9, 10}, {10, end}}, 5, true, 4, 2},
        {"backward step", {{9, 8}, {8, end}}, 9, true, 2, 2},
        {"one cluster", {{20, end}}, 20, true, 1, 1},
        {"starts at the end mark", {}, end, true, 0, 0},
        {"reaches a free cluster", {{5, 6}, {6, 9}}, 5, false, 2, 2},
        {"reaches cluster 1", {{5, 1}}, 5, false, 1, 1},
        {"starts at cluster 1", {}, 1, false, 0, 0},
        {"loops back", {{5, 6}, {6, 7}, {7, 5}}, 5, false, 0, 0},
        {"loops on itself", {{5, 5}}, 5, false, 0, 0},
        {"starts outside the image", {}, 0xFFFE, false, 0, 0},
    };
    for (const ChainCase &test : cases) {
        FatImage image(Layout());
        for (const auto &link : test.links)
            image.SetLink(link.first, link.second);
        const BYTE *fat = UseFat(image);
        WORD clusters = 0xDEAD;
        EXPECT_EQ(MeasureFileChain(fat, test.start, AnyLength, &clusters), test.complete) << test.what;
        if (test.complete) {
            EXPECT_EQ(clusters, test.clusters) << test.what;
            EXPECT_EQ(NumberOfExtents, test.extents) << test.what;
        }
        // A directory's chain is complete or broken exactly when a file's is.
        WORD dirClusters = 0xDEAD;
        EXPECT_EQ(MeasureDirChain(fat, test.start, &dirClusters), test.complete) << test.what;
        if (test.complete) {
            EXPECT_EQ(dirClusters, test.clusters) << test.what;
        }
    }
}

TEST_P(FileChain, BrokenChainKeepsTheExtentsCountedBeforeTheBreak)
{
    FatImage image(Layout());
    image.SetLink(5, 6);
    image.SetLink(6, 9);   // 9 is free
    WORD clusters;
    EXPECT_FALSE(MeasureFileChain(UseFat(image), 5, AnyLength, &clusters));
    EXPECT_EQ(NumberOfExtents, 2u);
}

TEST_P(FileChain, AChainAsLongAsTheVolumeIsComplete)
{
    // Every data cluster in one chain: the longest legitimate chain.
    FatLayout layout = Layout();
    FatImage image(layout);
    const uint32_t last = layout.Clusters() + 1;
    for (uint32_t cluster = 2; cluster < last; cluster++)
        image.SetLink(cluster, (uint16_t)(cluster + 1));
    image.SetLink(last, End());
    WORD clusters;
    ASSERT_TRUE(MeasureFileChain(UseFat(image), 2, AnyLength, &clusters));
    EXPECT_EQ(clusters, (WORD)layout.Clusters());
    EXPECT_EQ(NumberOfExtents, 1u);
}

TEST_P(FileChain, StopsAtTheLengthItsFileCanNeed)
{
    FatImage image(Layout());
    image.Chain({5, 6, 7, 8});
    WORD clusters;
    EXPECT_TRUE(MeasureFileChain(UseFat(image), 5, 4, &clusters));
    EXPECT_EQ(clusters, 4);
    EXPECT_FALSE(MeasureFileChain(UseFat(image), 5, 3, &clusters));
    EXPECT_FALSE(MeasureFileChain(UseFat(image), 5, 0, &clusters));
}

INSTANTIATE_TEST_SUITE_P(Widths, FileChain, ::testing::Values(12u, 16u),
                         [](const ::testing::TestParamInfo<unsigned> &info) {
                             return "Fat" + std::to_string(info.param);
                         });

TEST(ReservedValues, AreFollowedAsClusterNumbersWhenTheImageHoldsThem)
{
    // A 16-bit FAT of 256 sectors holds entries up to 0xFFFF, so 0xFFF8 is a
    // cluster like any other to the walk.
    FatLayout layout = FatLayout::For(5000);
    layout.sectorsPerFat = 256;
    layout.totalSectors = layout.DataStart() + 5000;
    FatImage image(layout);
    image.SetLink(5, 0xFFF8);
    image.SetLink(0xFFF8, 0xFFFF);
    WORD clusters;
    ASSERT_TRUE(MeasureFileChain(UseFat(image), 5, AnyLength, &clusters));
    EXPECT_EQ(clusters, 2);
    EXPECT_EQ(NumberOfExtents, 2u);

    // 0xFF7 on a 12-bit FAT whose image ends before that entry breaks the chain.
    FatImage small(FatLayout::For(200));
    small.SetLink(5, 0xFF7);
    EXPECT_FALSE(MeasureFileChain(UseFat(small), 5, AnyLength, &clusters));
}

}  // namespace
