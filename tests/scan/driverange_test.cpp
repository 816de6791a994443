// A drive letter mapped to a byte range of a file: reads see the range's
// first byte as byte 0 and its end as the end of the file, so that a
// partition's analysis never reads the data that follows it.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "platform/posix/host.h"

TEST(DriveRange, ReadsSeeOnlyTheRange)
{
    char path[] = "/tmp/vantrel-range-XXXXXX";
    const int fd = mkstemp(path);
    std::string bytes(4096, 0);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (char)(i / 7);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), 4096);
    close(fd);
    const struct {
        ULONGLONG offset, length;
        LONGLONG at;
        NTSTATUS status;
        ULONG_PTR got;
        DWORD size;   // what GetFileSize reports
    } cases[] = {
        {1024, 1000, 768, STATUS_SUCCESS, 232, 1000},     // cut at the range's end
        {1024, 1000, 1000, STATUS_END_OF_FILE, 0, 1000},
        {3584, 1000, 256, STATUS_SUCCESS, 256, 512},      // the file ends first
        {0, ~0ull, 4000, STATUS_SUCCESS, 96, 4096},       // the whole file
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(testing::Message() << test.offset << "+" << test.length << " at " << test.at);
        ASSERT_TRUE(MapDriveRange('W', path, test.offset, test.length));
        HANDLE drive = CreateFileA("\\\\.\\W:", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(GetFileSize(drive, NULL), test.size);
        char buffer[512] = {};
        IO_STATUS_BLOCK status;
        LARGE_INTEGER at;
        at.QuadPart = test.at;
        EXPECT_EQ(NtReadFile(drive, NULL, NULL, NULL, &status, buffer, 512, &at, NULL), test.status);
        ASSERT_EQ(status.Information, test.got);
        EXPECT_EQ(std::string(buffer, test.got), bytes.substr(test.offset + test.at, test.got));
        CloseHandle(drive);
    }
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, "W:", NULL);
    unlink(path);
}
