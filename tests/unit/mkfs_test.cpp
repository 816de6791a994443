// Images made by mkfs.fat and filled by mtools, read by the volume services
// and the volume preparation, held against what fsck.fat reports of them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "engine/geometry.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"
#include "app/kivifat.h"
#include "volume/volume.h"

namespace {

// A path of the build folder as this test program sees it: under Wine the
// host's root is drive Z:.
std::string Fixture(const std::string &name)
{
    std::string path = std::string(VANTREL_FIXTURES) + "/" + name;
#ifdef _WIN32
    for (char &c : path)
        if (c == '/')
            c = '\\';
    path = "Z:" + path;
#endif
    return path;
}

std::map<std::string, unsigned long> ReadExpectations(const std::string &path)
{
    std::map<std::string, unsigned long> values;
    std::ifstream in(path);
    std::string key;
    unsigned long value;
    while (in >> key >> value)
        values[key] = value;
    return values;
}

class MkfsImage : public ::testing::TestWithParam<const char *> {};

TEST_P(MkfsImage, MatchesWhatDosfstoolsReports)
{
    const std::string name = GetParam();
    std::map<std::string, unsigned long> fsck = ReadExpectations(Fixture(name + ".expect"));
    ASSERT_EQ(fsck.size(), 11u) << "fixture report incomplete";

    ASSERT_TRUE(MapDrive('M', Fixture(name + ".img")));
    strcpy(cDrive, "M:");
    ClearMessages();
    ASSERT_TRUE(ReadSuperArea());
    ASSERT_TRUE(PrepareVolume());
    EXPECT_TRUE(CapturedTexts().empty());

    EXPECT_EQ(BytesPerSector, fsck["bytes_per_sector"]);
    EXPECT_EQ(BytesPerCluster, fsck["cluster_bytes"]);
    EXPECT_EQ(BootSectors, fsck["reserved_sectors"]);
    EXPECT_EQ(Fats, fsck["fats"]);
    EXPECT_EQ(FatBits, fsck["fat_bits"]);
    EXPECT_EQ(SectorsPerFat, fsck["sectors_per_fat"]);
    EXPECT_EQ(RootDirs, fsck["root_entries"]);
    EXPECT_EQ(Cluster2, fsck["data_start"]);
    EXPECT_EQ(TotalClusters, fsck["clusters"]);
    EXPECT_EQ(TotalSectors, fsck["total_sectors"]);

    EXPECT_EQ(ClusterSize, fsck["cluster_bytes"]);
    EXPECT_EQ(TotalSpace, fsck["clusters"] * fsck["cluster_bytes"]);
    EXPECT_EQ(FreeSpace, (fsck["clusters"] - fsck["used_clusters"]) * fsck["cluster_bytes"] / 1000);
    UnmapDrive('M');
}

INSTANTIATE_TEST_SUITE_P(Formats, MkfsImage, ::testing::Values("fat12", "fat16"));

}  // namespace
