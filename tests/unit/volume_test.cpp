// The volume services: opening the selected drive, reading its super-area,
// and the disk statistics derived from it.
#include <gtest/gtest.h>

#include <cstring>

#include "app/kivifat.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"
#include "volume/volume.h"

namespace {

TEST(OpenVolume, OpensOnlyAMappedDriveLetter)
{
    FatImage image(FatLayout::For(100));
    UseImage(image);
    EXPECT_TRUE(OpenVolume());
    ASSERT_NE(Drive, nullptr);

    // Not a drive name at all: no drive object is made.
    for (const char *name : {"", "V", "1:", "VV"}) {
        strcpy(cDrive, name);
        EXPECT_FALSE(OpenVolume()) << name;
        EXPECT_EQ(Drive, nullptr) << name;
    }
    // A letter without a volume: the object stays until the next open.
    UnmapDrive('V');
    strcpy(cDrive, "V:");
    EXPECT_FALSE(OpenVolume());
    EXPECT_NE(Drive, nullptr);
    EXPECT_TRUE(CapturedTexts().empty());
}

TEST(KivNTInitialize, RefusesWhatIsNotAFatVolume)
{
    FatImage fat32(FatLayout::For(100));
    fat32.Put16(22, 0);   // FAT32 keeps its FAT size elsewhere
    FatImage zeros(FatLayout::For(100));
    std::fill(zeros.bytes().begin(), zeros.bytes().begin() + 512, 0);
    FatImage tooManyClusters(FatLayout::For(100));
    tooManyClusters.Put16(19, 0);
    tooManyClusters.Put32(32, 70000);
    for (const FatImage *image : {&fat32, &zeros, &tooManyClusters}) {
        UseImage(*image);
        ASSERT_TRUE(OpenVolume());
        EXPECT_FALSE(KivNTInitialize());
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{"ERROR - KivNTInitialize"});
    }
    // Without a drive object.
    strcpy(cDrive, "1:");
    EXPECT_FALSE(OpenVolume());
    ClearMessages();
    EXPECT_FALSE(KivNTInitialize());
    EXPECT_EQ(CapturedTexts(), std::vector<std::string>{"ERROR - KivNTInitialize"});
}

struct DiskStatsCase {
    const char *what;
    FatLayout layout;
    unsigned usedClusters;   // clusters 2 .. 2 + used - 1 are allocated
    ULONGLONG clusterSize;
    ULONGLONG totalSpace;
    ULONGLONG freeSpace;
};

TEST(GetDiskStats, DerivesSizesFromTheSuperArea)
{
    const DiskStatsCase cases[] = {
        // Cluster counts exclude the two reserved FAT entries.
        {"empty FAT12", FatLayout::For(100), 0, 512, 100 * 512, 100 * 512 / 1000},
        {"some clusters used", FatLayout::For(100, 4), 10, 2048, 100 * 2048, 90 * 2048 / 1000},
        // 3 free clusters of 512 bytes are 1536 bytes: 1 thousand, truncated.
        {"free space in whole thousands", FatLayout::For(100), 97, 512, 51200, 1},
        {"FAT16", FatLayout::For(5000, 2), 4000, 1024, 5000 * 1024, 1000 * 1024 / 1000},
        {"0 sectors per cluster means 256", FatLayout::For(3, 0), 1, 131072, 3 * 131072, 2 * 131072 / 1000},
    };
    for (const DiskStatsCase &test : cases) {
        FatImage image(test.layout);
        for (unsigned used = 0; used < test.usedClusters; used++)
            image.SetLink(2 + used, image.EndOfChain());
        UseImage(image);
        ASSERT_TRUE(ReadSuperArea()) << test.what;
        EXPECT_EQ(ClusterSize, test.clusterSize) << test.what;
        EXPECT_EQ(TotalSpace, test.totalSpace) << test.what;
        EXPECT_EQ(FreeSpace, test.freeSpace) << test.what;
        EXPECT_EQ(RealFatSa.QueryStartDataLbn(), test.layout.DataStart()) << test.what;
    }
}

TEST(GetDiskStats, CountsFreeClustersInTheFirstFatCopy)
{
    // Entries of the first copy marked used, those of the second free: the
    // free count shows which copy was read.
    FatImage image(FatLayout::For(100));
    for (unsigned cluster = 2; cluster < 52; cluster++)
        image.SetLink(cluster, image.EndOfChain(), 0);
    UseImage(image);
    ASSERT_TRUE(ReadSuperArea());
    EXPECT_EQ(FreeSpace, 50u * 512 / 1000);
}

}  // namespace
