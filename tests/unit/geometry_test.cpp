// Volume preparation and the raw reads: the geometry decoded from the boot
// sector, the FAT and root directory read, boot sectors that must be refused,
// and cluster reads.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "app/kivifat.h"
#include "engine/geometry.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"

namespace {

// Prepares `image` as drive V: the way an analysis start does.
bool Prepare(const FatImage &image)
{
    UseImage(image);
    return ReadSuperArea() && PrepareVolume();
}

struct GeometryCase {
    const char *what;
    FatLayout layout;
    DWORD fatBits;
    DWORD rootBytes;   // size of the root directory read into hTmp
};

FatLayout In32Bits(FatLayout layout)
{
    layout.totalIn32Bits = true;
    return layout;
}

TEST(PrepareVolume, DecodesTheGeometry)
{
    const GeometryCase cases[] = {
        {"small FAT12", FatLayout::For(100), 12, 512},
        {"4087 clusters stay 12-bit", FatLayout::For(4087), 12, 512},
        {"4088 clusters are 16-bit", FatLayout::For(4088), 16, 512},
        {"total sectors in the 32-bit field", In32Bits(FatLayout::For(5000, 2)), 16, 512},
        {"512 root entries read 32 sectors", FatLayout::For(300, 4, 512), 12, 32 * 512},
        {"root entries not filling their last sector", FatLayout::For(300, 1, 40), 12, 1024},
    };
    for (const GeometryCase &test : cases) {
        FatImage image(test.layout);
        ASSERT_TRUE(Prepare(image)) << test.what;
        EXPECT_EQ(BytesPerSector, 512u) << test.what;
        EXPECT_EQ(SectorsPerCluster, test.layout.sectorsPerCluster) << test.what;
        EXPECT_EQ(BootSectors, test.layout.reservedSectors) << test.what;
        EXPECT_EQ(Fats, test.layout.fats) << test.what;
        EXPECT_EQ(RootDirs, test.layout.rootEntries) << test.what;
        EXPECT_EQ(TotalSectors, test.layout.totalSectors) << test.what;
        EXPECT_EQ(SectorsPerFat, test.layout.sectorsPerFat) << test.what;
        EXPECT_EQ(Cluster2, test.layout.DataStart()) << test.what;
        EXPECT_EQ(TotalClusters, test.layout.Clusters()) << test.what;
        EXPECT_EQ(BytesPerCluster, 512u * test.layout.sectorsPerCluster) << test.what;
        EXPECT_EQ(FatBits, test.fatBits) << test.what;
        EXPECT_EQ(GlobalSize(hFat), SIZE_T(test.layout.sectorsPerFat) * 512) << test.what;
        EXPECT_EQ(GlobalSize(hTmp), SIZE_T(test.rootBytes)) << test.what;
        EXPECT_EQ(DirEntries, test.rootBytes / 32) << test.what;
        EXPECT_TRUE(CapturedTexts().empty()) << test.what;
    }
}

TEST(PrepareVolume, ReadsTheFatAndTheRootDirectoryFromTheirSectors)
{
    FatImage image(FatLayout::For(100));
    image.Chain({2, 3, 9});
    image.PutEntry(image.RootSlot(0), "README  TXT", 0x20, 2, 1234);
    ASSERT_TRUE(Prepare(image));

    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(0, memcmp(fat, &image.bytes()[512], 512));
    GlobalUnlock(hFat);
    const BYTE *root = (const BYTE *)GlobalLock(hTmp);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(0, memcmp(root, "README  TXT", 11));
    GlobalUnlock(hTmp);
}

// Rewrites one boot-sector field after the super-area was read, so that the
// engine's own decoding meets it.
struct BadBootCase {
    const char *what;
    size_t offset;
    unsigned width;
    uint32_t value;
    const char *message;
};

TEST(PrepareVolume, RefusesGeometryItCannotReadSafely)
{
    const BadBootCase cases[] = {
        {"1024-byte sectors", 11, 16, 1024, "ERROR - StartDirScanThread - Sector size is not 512 bytes"},
        {"0 sectors per cluster", 13, 8, 0, "ERROR - StartDirScanThread - Invalid sectors per cluster"},
        {"3 sectors per cluster", 13, 8, 3, "ERROR - StartDirScanThread - Invalid sectors per cluster"},
        {"no FAT copy", 16, 8, 0, "ERROR - StartDirScanThread - No FAT or no root directory"},
        {"no root directory", 17, 16, 0, "ERROR - StartDirScanThread - No FAT or no root directory"},
        {"FAT larger than the volume", 22, 16, 60000,
         "ERROR - StartDirScanThread - FAT or root directory beyond the end of the volume"},
        {"volume ends before the data area", 19, 16, 3,
         "ERROR - StartDirScanThread - FAT or root directory beyond the end of the volume"},
    };
    for (const BadBootCase &test : cases) {
        FatImage image(FatLayout::For(100));
        const std::string path = UseImage(image);
        ASSERT_TRUE(ReadSuperArea()) << test.what;
        FatImage changed = image;
        if (test.width == 8)
            changed.Put8(test.offset, (uint8_t)test.value);
        else
            changed.Put16(test.offset, (uint16_t)test.value);
        changed.Save("V.img");

        EXPECT_FALSE(PrepareVolume()) << test.what;
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{test.message}) << test.what;
        EXPECT_EQ(hVolumes, INVALID_HANDLE_VALUE) << test.what;
        EXPECT_EQ(hFat, nullptr) << test.what;
        EXPECT_EQ(hTmp, nullptr) << test.what;
    }
}

TEST(PrepareVolume, RefusesAVolumeThatEndsBeforeItsDataArea)
{
    // 40 root entries fill two and a half sectors: the FAT and the two whole
    // root sectors fit, but the data area starts after the third.
    FatImage image(FatLayout::For(100, 1, 40));
    UseImage(image);
    ASSERT_TRUE(ReadSuperArea());
    FatImage changed = image;
    changed.Put16(19, (uint16_t)(image.layout().DataStart() - 1));
    changed.Save("V.img");
    EXPECT_FALSE(PrepareVolume());
    EXPECT_EQ(CapturedTexts(),
              std::vector<std::string>{"ERROR - StartDirScanThread - Data area beyond the end of the volume"});
}

TEST(PrepareVolume, ReportsAShortRootDirectoryAsTheEndOfTheFile)
{
    // The image file stops inside the root directory: Windows returns the
    // bytes that exist, which must not pass for a whole read.
    FatImage image(FatLayout::For(300, 4, 512));
    const std::string path = UseImage(image);
    ASSERT_TRUE(ReadSuperArea());
    const size_t cut = image.RootSlot(100);
    image.bytes().resize(cut);
    image.Save("V.img");
    EXPECT_FALSE(PrepareVolume());
    EXPECT_EQ(CapturedTexts(),
              std::vector<std::string>{"Error number 0xC0000011 occured during ReadSectors - NtReadFile."});
}

TEST(PrepareVolume, ReportsADriveThatCannotBeOpened)
{
    FatImage image(FatLayout::For(100));
    UseImage(image);
    ASSERT_TRUE(ReadSuperArea());
    UnmapDrive('V');
    EXPECT_FALSE(PrepareVolume());
    const std::vector<std::string> texts = CapturedTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Error number ", 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find(" occured during StartDirScanThread - CreateFile."), std::string::npos) << texts[0];
}

TEST(GetCluster, ReadsClustersAndRefusesThoseOffTheVolume)
{
    FatLayout layout = FatLayout::For(100, 2);
    FatImage image(layout);
    for (uint32_t cluster : {2u, 57u, 101u})
        memset(&image.bytes()[image.ClusterOffset(cluster)], (int)cluster, 1024);
    ASSERT_TRUE(Prepare(image));

    std::vector<BYTE> data(1024);
    for (WORD cluster : {2, 57, 101}) {
        ASSERT_TRUE(GetCluster(cluster, data.data()));
        EXPECT_EQ(data, std::vector<BYTE>(1024, (BYTE)cluster)) << cluster;
    }
    EXPECT_TRUE(CapturedTexts().empty());

    // Beyond the last cluster, and the two numbers that are not data clusters.
    const struct { WORD cluster; const char *message; } refused[] = {
        {102, "Error number 0xC0000011 occured during GetCluster - NtReadFile"},
        {0xFFF0, "Error number 0xC0000011 occured during GetCluster - NtReadFile"},
        {0, "Error number 0xC000000D occured during GetCluster - NtReadFile"},
        {1, "Error number 0xC000000D occured during GetCluster - NtReadFile"},
    };
    for (const auto &test : refused) {
        ClearMessages();
        std::fill(data.begin(), data.end(), 0x55);
        EXPECT_FALSE(GetCluster(test.cluster, data.data())) << test.cluster;
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{test.message}) << test.cluster;
        EXPECT_EQ(data, std::vector<BYTE>(1024, 0)) << "left zero-filled " << test.cluster;
    }
}

}  // namespace
