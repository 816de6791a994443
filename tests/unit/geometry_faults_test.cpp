// Volume preparation and cluster reads when the platform fails: unreadable
// FAT copies, read statuses, failed allocations and locks.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/geometry.h"
#include "platform/posix/faults.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"

namespace {

class PreparationFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_.SetLink(7, 0x123, 0);   // the two copies differ in entry 7
        image_.SetLink(7, 0x456, 1);
        UseImage(image_);
        ASSERT_TRUE(ReadSuperArea());
    }
    void TearDown() override { FaultReset(); }

    // Byte range of FAT copy `copy`.
    ULONGLONG FatOffset(int copy) const { return (1 + copy * image_.layout().sectorsPerFat) * 512ull; }
    ULONGLONG FatLength() const { return image_.layout().sectorsPerFat * 512ull; }

    FatImage image_{FatLayout::For(100)};
};

TEST_F(PreparationFaults, FallsBackToTheSecondFatCopyAfterOneMessage)
{
    FaultReadStatus(FatOffset(0), FatLength(), STATUS_DEVICE_DATA_ERROR);
    ASSERT_TRUE(PrepareVolume());
    EXPECT_EQ(CapturedTexts(),
              std::vector<std::string>{"Error number 0xC000009C occured during ReadSectors - NtReadFile."});
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(0, memcmp(fat, &image_.bytes()[FatOffset(1)], FatLength()));
    GlobalUnlock(hFat);
}

TEST_F(PreparationFaults, FailsWithOneMessagePerUnreadableCopy)
{
    FaultReadStatus(FatOffset(0), 2 * FatLength(), STATUS_DEVICE_DATA_ERROR);
    EXPECT_FALSE(PrepareVolume());
    EXPECT_EQ(CapturedTexts(), std::vector<std::string>(2, "Error number 0xC000009C occured during ReadSectors - NtReadFile."));
    EXPECT_EQ(hVolumes, INVALID_HANDLE_VALUE);
    EXPECT_EQ(hFat, nullptr);
}

TEST_F(PreparationFaults, ReportsFailedAllocationsAndLocks)
{
    const struct {
        void (*inject)();
        const char *message;
    } cases[] = {
        {[] { FaultFailAllocation(1); }, "Error number 8 occured during ReadSectors - GlobalAlloc."},
        {[] { FaultFailLock(1); }, "Error number 6 occured during ReadSectors - GlobalLock."},
        {[] { FaultFailLock(2); }, "Error number 6 occured during StartDirScanThread - GlobalLock."},
        {[] { FaultFailAllocation(3); }, "Error number 8 occured during ReadSectors - GlobalAlloc."},
    };
    for (const auto &test : cases) {
        ClearMessages();
        test.inject();
        EXPECT_FALSE(PrepareVolume()) << test.message;
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{test.message});
        EXPECT_EQ(hVolumes, INVALID_HANDLE_VALUE) << test.message;
        EXPECT_EQ(hTmp, nullptr) << test.message;
        FaultReset();
    }
}

TEST_F(PreparationFaults, ShowsClusterReadStatusesInUpperCaseHexadecimal)
{
    ASSERT_TRUE(PrepareVolume());
    const ULONGLONG cluster9 = image_.ClusterOffset(9);
    const struct { NTSTATUS status; const char *message; } cases[] = {
        {(NTSTATUS)0xC000009C, "Error number 0xC000009C occured during GetCluster - NtReadFile"},
        {(NTSTATUS)0x00000ABC, "Error number 0xABC occured during GetCluster - NtReadFile"},
    };
    std::vector<BYTE> data(512);
    for (const auto &test : cases) {
        ClearMessages();
        FaultReset();
        FaultReadStatus(cluster9, 512, test.status);
        EXPECT_TRUE(GetCluster(8, data.data()));
        EXPECT_FALSE(GetCluster(9, data.data()));
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{test.message});
    }
}

}  // namespace
