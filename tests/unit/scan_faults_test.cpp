// The scan thread when waits, posts, locks and allocations fail, and while
// the analysis is paused: every ending posts KIV_END exactly once.
#include <gtest/gtest.h>


#include "app/kivifat.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "platform/posix/faults.h"
#include "support/fatimage.h"
#include "support/testplatform.h"
#include "support/volumefixture.h"

namespace {

FatImage TwoFiles()
{
    FatImage image(FatLayout::For(100));
    image.PutEntry(image.RootSlot(0), "ONE", 0x20, 10, 5);
    image.Chain({10});
    image.PutEntry(image.RootSlot(1), "TWO", 0x20, 11, 5);
    image.Chain({11});
    return image;
}

class ScanFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (hMutex == NULL)
            hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    }
    void TearDown() override
    {
        FaultReset();
        Running = ANALYSIS_STOPPED;
    }
};

TEST_F(ScanFaults, EveryFailureEndsTheScanWithOneEndCommand)
{
    // Waits fail from the scan thread's first wait on; locks are counted from
    // the moment the thread runs (preparation locks blocks too).
    const struct {
        void (*inject)();
        bool beforeStart;
        const char *message;
        DWORD measured;
    } cases[] = {
        {[] { FaultMutexTimeout(1); }, true, "Error number 0 occured during DirScanThread - WaitForSingleObject - Entry.", 0},
        {[] { FaultMutexTimeout(3); }, true, "Error number 0 occured during DirScanThread - WaitForSingleObject - Looped.", 1},
        {[] { FaultFailLock(1); }, false, "Error number 6 occured during DirScanThread - GlobalLock - Fat.", 0},
        {[] { FaultFailLock(2); }, false, "Error number 6 occured during DirScanThread - GlobalLock - Files.", 0},
    };
    for (const auto &test : cases) {
        // The test holds the mutex until the fault is in place.
        ASSERT_EQ(WaitForSingleObject(hMutex, 0), WAIT_OBJECT_0);
        if (test.beforeStart)
            test.inject();
        ASSERT_TRUE(StartAnalysis(TwoFiles())) << test.message;
        if (!test.beforeStart)
            test.inject();
        ReleaseMutex(hMutex);
        ASSERT_TRUE(WaitForCommand(KIV_END, 5000)) << test.message;
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{test.message});
        EXPECT_EQ(TotalFiles, test.measured) << test.message;
        EXPECT_FALSE(WalkCompleted) << test.message;
        EXPECT_EQ(hVolumes, INVALID_HANDLE_VALUE) << test.message;
        EXPECT_FALSE(WaitForCommand(KIV_END, 100)) << "a second KIV_END: " << test.message;
        // The mutex is free again for the window.
        EXPECT_EQ(WaitForSingleObject(hMutex, 0), WAIT_OBJECT_0) << test.message;
        ReleaseMutex(hMutex);
        FaultReset();
    }
}

TEST_F(ScanFaults, AFailedPostIsReported)
{
    FaultFailPost(1);
    ASSERT_TRUE(StartAnalysis(TwoFiles()));
    for (int waited = 0; waited < 500 && CapturedTexts().empty(); waited++)
        Sleep(10);
    EXPECT_EQ(CapturedTexts(), std::vector<std::string>{"Error number 1400 occured during Terminate - PostMessage."});
    EXPECT_FALSE(WaitForCommand(KIV_END, 100));
}

TEST_F(ScanFaults, PauseHoldsTheScanWithTheMutexHeld)
{
    Running = ANALYSIS_PAUSED;
    ASSERT_TRUE(StartAnalysis(TwoFiles()));
    Sleep(300);
    EXPECT_EQ(WaitForSingleObject(hMutex, 200), WAIT_TIMEOUT);
    EXPECT_EQ(TotalFiles, 0u);
    Running = ANALYSIS_RUNNING;
    ASSERT_TRUE(WaitForCommand(KIV_END, 5000));
    EXPECT_EQ(TotalFiles, 2u);
    EXPECT_TRUE(WalkCompleted);
}
TEST_F(ScanFaults, ARootThatCannotBeLoadedStartsNothing)
{
    FatImage image = TwoFiles();
    UseImage(image);
    ASSERT_TRUE(ReadSuperArea());
    FaultFailAllocation(4);   // boot sector, FAT, root, then the file array
    EXPECT_FALSE(StartDirScanThread());
    EXPECT_EQ(CapturedTexts(), std::vector<std::string>{"Error number 8 occured during LoadFiles - GlobalAlloc."});
    EXPECT_EQ(hVolumes, INVALID_HANDLE_VALUE);
    EXPECT_EQ(hTmp, nullptr);
}

}  // namespace
