// Picture loading when the platform fails: the block cannot be allocated or
// locked, in LoadFile and in GetBitmap; each failure shows its one message
// and leaves no picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "display/bmpfile.h"
#include "platform/posix/faults.h"
#include "support/testplatform.h"

namespace {

TEST(BitmapFaults, EachFailureShowsItsMessageAndLeavesNoPicture)
{
    const std::string path = "/tmp/vantrel-" + std::to_string(getpid()) + "-faults.bmp";
    {
        // A 1-bit 1x1 picture: 14 + 40 bytes of headers, 2 colours, one row.
        std::string bytes(70, '\0');
        bytes[0] = 'B', bytes[1] = 'M', bytes[14] = 40, bytes[18] = 1, bytes[22] = 1, bytes[28] = 1;
        std::ofstream(path, std::ios::binary) << bytes;
    }
    const struct {
        void (*inject)();
        const char *message;
    } cases[] = {
        {[] { FaultFailAllocation(1); }, "Error number 8 occured during LocalAlloc - LoadFile."},
        {[] { FaultFailLock(1, ERROR_NOT_ENOUGH_MEMORY); }, "Error number 8 occured during LocalLock - LoadFile."},
        {[] { FaultFailLock(2); }, "Error number 6 occured during GetBitMap - GlobalLock."},
    };
    for (const auto &test : cases) {
        ClearMessages();
        test.inject();
        hDIB = NULL;
        DWORD width = 5, height = 7;
        EXPECT_FALSE(GetBitmap(path.c_str(), &width, &height)) << test.message;
        EXPECT_EQ(CapturedTexts(), std::vector<std::string>{test.message});
        EXPECT_EQ(hDIB, nullptr) << test.message;
        EXPECT_EQ(width, 5u) << test.message;
        EXPECT_EQ(height, 7u) << test.message;
        FaultReset();
    }
    // And with the faults gone, the same file loads.
    DWORD width = 0, height = 0;
    EXPECT_TRUE(GetBitmap(path.c_str(), &width, &height));
    EXPECT_EQ(width, 1u);
    GlobalFree(hDIB);
    hDIB = NULL;
    std::remove(path.c_str());
}

}  // namespace
