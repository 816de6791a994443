// The scan statistics: which files are measured, the records and their ties,
// and the start of every analysis from zero.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "app/kivifat.h"
#include "engine/scan.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"

namespace {

// 1024-byte clusters.
FatImage Volume()
{
    return FatImage(FatLayout::For(200, 2));
}

struct MeasureCase {
    const char *what;
    uint16_t first;       // 0: no chain
    unsigned clusters;    // chain length from `first`
    uint32_t size;
    bool measured;
    bool zeroLength;
};

TEST(Scan, MeasuresOnlyFilesWhoseChainFitsTheirSize)
{
    const MeasureCase cases[] = {
        {"1 byte in one cluster", 10, 1, 1, true, false},
        {"a full cluster", 10, 1, 1024, true, false},
        {"one byte more than its chain", 10, 1, 1025, false, false},
        {"two clusters for 1025 bytes", 10, 2, 1025, true, false},
        {"a chain one cluster too long", 10, 2, 1024, false, false},
        {"no chain, no bytes", 0, 0, 0, false, true},
        {"no chain but a size", 0, 0, 5, false, false},
        {"starts at the end of chain", 0xFFF, 0, 0, false, false},
        {"broken chain", 10, 0, 100, false, false},
    };
    for (const MeasureCase &test : cases) {
        FatImage image = Volume();
        image.PutEntry(image.RootSlot(0), "FILE", 0x20, test.first, test.size);
        for (unsigned i = 0; i < test.clusters; i++)
            image.SetLink(10u + i, i + 1 == test.clusters ? image.EndOfChain() : (uint16_t)(11 + i));
        if (std::string(test.what) == "broken chain")
            image.SetLink(10, 11);   // 11 is free
        ASSERT_TRUE(RunAnalysis(image)) << test.what;
        EXPECT_EQ(TotalFiles, test.measured ? 1u : 0u) << test.what;
        EXPECT_EQ(ZeroLengthFileCount, test.zeroLength ? 1u : 0u) << test.what;
        EXPECT_EQ(TotalFilesSize, test.measured ? 1024ull * test.clusters : 0) << test.what;
        EXPECT_TRUE(WalkCompleted) << test.what;
    }
}

TEST(Scan, KeepsTheFirstFileFoundOnTies)
{
    FatImage image = Volume();
    image.PutEntry(image.RootSlot(0), "BIG1", 0x20, 10, 2000);
    image.Chain({10, 11});
    image.PutEntry(image.RootSlot(1), "BIG2", 0x20, 20, 2000);
    image.Chain({20, 22});
    image.PutEntry(image.RootSlot(2), "SMALL1", 0x20, 30, 7);
    image.Chain({30});
    image.PutEntry(image.RootSlot(3), "SMALL2", 0x20, 31, 7);
    image.Chain({31});
    image.PutEntry(image.RootSlot(4), "FRAG3", 0x20, 40, 3000);
    image.Chain({40, 42, 41});
    image.PutEntry(image.RootSlot(5), "FRAG3B", 0x20, 52, 3000);
    image.Chain({52, 50, 54});
    image.PutEntry(image.RootSlot(6), "EMPTY", 0x20, 0, 0);
    ASSERT_TRUE(RunAnalysis(image));

    EXPECT_EQ(TotalFiles, 6u);
    EXPECT_EQ(ZeroLengthFileCount, 1u);
    EXPECT_EQ(TotalFilesSize, (2 + 2 + 1 + 1 + 3 + 3) * 1024ull);
    EXPECT_EQ(LargestFileSize, 3000u);
    EXPECT_STREQ(LargestFileName, "V:\\FRAG3");
    EXPECT_EQ(SmallestFileSize, 7u);
    EXPECT_STREQ(SmallestFileName, "V:\\SMALL1");
    EXPECT_EQ(MaxExtents, 3u);
    EXPECT_STREQ(MaxExtentsFileName, "V:\\FRAG3");
    EXPECT_EQ(TotalExtents, 1u + 2 + 1 + 1 + 3 + 3);
    EXPECT_EQ(TotalFragFiles, 3u);
    EXPECT_TRUE(TotalExtentsChanged && LargestFileChanged && SmallestFileChanged && MaxExtentsChanged &&
                TotalFragChanged);
}

TEST(Scan, EveryAnalysisStartsFromZero)
{
    FatImage image = Volume();
    image.PutEntry(image.RootSlot(0), "FILE", 0x20, 10, 5);
    image.Chain({10, 12});
    ASSERT_TRUE(RunAnalysis(image));
    ASSERT_EQ(TotalFiles, 0u);   // two clusters for 5 bytes: not measured

    image.Chain({10});
    ASSERT_TRUE(RunAnalysis(image));
    ASSERT_TRUE(RunAnalysis(image));
    EXPECT_EQ(TotalFiles, 1u);
    EXPECT_EQ(TotalExtents, 1u);

    ResetStats();
    EXPECT_EQ(TotalFiles, 0u);
    EXPECT_EQ(SmallestFileSize, 0xFFFFFFFFu);
    EXPECT_FALSE(TotalExtentsChanged || LargestFileChanged || SmallestFileChanged || MaxExtentsChanged ||
                 TotalFragChanged);
    EXPECT_STREQ(LargestFileName, "V:\\FILE");   // the names stay until replaced
}

TEST(Scan, AnEmptyVolumeEndsAtOnceWithOneEndCommand)
{
    ASSERT_TRUE(RunAnalysis(Volume()));
    EXPECT_TRUE(WalkCompleted);
    EXPECT_EQ(TotalFiles, 0u);
    EXPECT_FALSE(WaitForCommand(KIV_END, 200));
}

TEST(Scan, LeavesTheImageUnchanged)
{
    FatImage image = Volume();
    image.PutEntry(image.RootSlot(0), "FILE", 0x20, 10, 5);
    image.Chain({10});
    std::string path;
    ASSERT_TRUE(RunAnalysis(image, &path));
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(after == image.bytes());
}

}  // namespace
